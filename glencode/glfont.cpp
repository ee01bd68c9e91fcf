// The stroke font: glyphs as line segments, drawn with GL_LINES through the encoder.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hxglencode.h"
#include "otnumber.h"

glFont::glFont() = default;
glFont::~glFont() = default;

int glFont::read(const char* filename) {
  FILE* fp = filename ? fopen(filename, "r") : nullptr;
  if (fp == nullptr) {
    readText("");
    return -1;
  }
  std::string text;
  char buf[4096];
  size_t n;
  // A font is a few kilobytes; a larger file is not one.
  while ((n = fread(buf, 1, sizeof buf, fp)) > 0 && text.size() < (1u << 22))
    text.append(buf, n);
  fclose(fp);
  return readText(text.c_str());
}

int glFont::readText(const char* text) {
  otCNumberScope numbers;  // a font's sizes are written with '.', whatever the locale
  for (Glyph& g : glyphs_)
    g = Glyph();
  strokes_.clear();
  height_ = 1;
  if (text == nullptr) return -1;
  int glyph = -1;
  bool ok = true;
  for (const char* p = text; *p && ok;) {
    const char* end = strchr(p, '\n');
    std::string ln = end ? std::string(p, (size_t)(end - p)) : std::string(p);
    p = end ? end + 1 : p + ln.size();
    size_t hash = ln.find('#');
    if (hash != std::string::npos) ln.resize(hash);
    char word[16], c[8];
    float v[4];
    int used = 0;
    if (sscanf(ln.c_str(), " %15s%n", word, &used) != 1) continue;  // blank line
    const char* rest = ln.c_str() + used;
    if (strcmp(word, "height") == 0) {
      ok = sscanf(rest, "%f", &v[0]) == 1 && v[0] >= 1 && v[0] < 1e6f;
      if (ok) height_ = v[0];
    } else if (strcmp(word, "char") == 0) {
      ok = sscanf(rest, " %7s %f", c, &v[0]) == 2 && v[0] >= 0 && v[0] < 1e6f;
      if (!ok) break;
      char* num;
      long code = strtol(c, &num, 10);
      if (strlen(c) == 1)
        code = (unsigned char)c[0];  // a single character, digits included
      else if (*num != '\0')
        ok = false;
      ok = ok && code >= 32 && code <= 255;
      if (!ok) break;
      glyph = (int)code;
      glyphs_[glyph].advance = v[0];
      glyphs_[glyph].first = (int)strokes_.size();
      glyphs_[glyph].count = 0;
    } else if (strcmp(word, "line") == 0) {
      ok = glyph >= 0 && sscanf(rest, "%f %f %f %f", &v[0], &v[1], &v[2], &v[3]) == 4 &&
           strokes_.size() < 100000;
      if (!ok) break;
      // A glyph's strokes follow its "char" line without a break, so they stay contiguous.
      if (glyphs_[glyph].first + glyphs_[glyph].count != (int)strokes_.size()) {
        ok = false;
        break;
      }
      strokes_.push_back({v[0], v[1], v[2], v[3]});
      glyphs_[glyph].count++;
    } else {
      ok = false;
    }
  }
  if (!ok) {
    for (Glyph& g : glyphs_)
      g = Glyph();
    strokes_.clear();
    height_ = 1;
    return -1;
  }
  return 0;
}

float glFont::scale() const {
  return size_ * zoom_ / height_;
}
float glFont::lineHeight() const {
  return size_ * zoom_;
}

float glFont::charWidth(int c) const {
  if (c < 0 || c > 255) return 0;
  return glyphs_[c].advance * scale();
}

float glFont::stringWidth(const char* s) const {
  float w = 0;
  for (; s && *s; s++)
    w += charWidth((unsigned char)*s);
  return w;
}

void glFont::drawString(float x, float y, const char* s) const {
  if (s == nullptr || *s == '\0') return;
  glPushMatrix();
  glTranslatef(x, y, 0);
  if (rotation_ != 0) glRotatef(rotation_, 0, 0, 1);
  float k = scale();
  glScalef(k, k, 1);
  float pen = 0;
  glBegin(GL_LINES);
  for (; *s; s++) {
    const Glyph& g = glyphs_[(unsigned char)*s];
    for (int i = g.first; i < g.first + g.count; i++) {
      const Stroke& st = strokes_[(size_t)i];
      glVertex2f(pen + st.x1, st.y1);
      glVertex2f(pen + st.x2, st.y2);
    }
    pen += g.advance;
  }
  glEnd();
  glPopMatrix();
}
