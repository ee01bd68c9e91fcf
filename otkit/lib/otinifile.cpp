// otIniFile and the process-wide translator.
#include "otinifile.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

// Longest line text that read() keeps; 4094 characters, a line feed and a NUL fill the 4096
// bytes of a line buffer.
constexpr int kMaxLine = 4094;
// Texts this long or longer get the fixed "too long" fallback from tr().
constexpr size_t kMaxTrText = 984;

bool looksLikeComment(const char* name) {
  const unsigned char c = static_cast<unsigned char>(name[0]);
  return c == 0 || c == '#' || c == ' ' || c < 0x20 || c == 0x7f;
}

}  // namespace

// Entries and sections are held through unique_ptr so that the texts the lookups and walks
// hand out do not move when a container grows. Names are unique within a section (a repeated
// name replaces) and section names are unique, so each gets a hash index beside the list that
// keeps the file order; comment entries are in the list only.
struct otIniFile::Store {
  struct Entry {
    std::string name;
    std::string value;
  };
  struct Section {
    std::string name;
    std::vector<std::unique_ptr<Entry>> entries;
    std::unordered_map<std::string, Entry*> index;

    Entry* find(const char* entryName) {
      if (!entryName || looksLikeComment(entryName)) return nullptr;
      auto it = index.find(entryName);
      return it == index.end() ? nullptr : it->second;
    }
    void append(std::string entryName, std::string value) {
      entries.push_back(std::make_unique<Entry>(Entry{std::move(entryName), std::move(value)}));
      Entry* e = entries.back().get();
      if (!looksLikeComment(e->name.c_str())) index.emplace(e->name, e);
    }
    void set(const char* entryName, const char* value) {
      if (Entry* e = find(entryName))
        e->value = value;
      else
        append(entryName, value);
    }
  };

  std::vector<std::unique_ptr<Section>> sections;
  std::unordered_map<std::string, Section*> index;
  const Section* nameWalk = nullptr;          // the section whose entries the name walk visits
  std::unordered_set<std::string> fallbacks;  // tr() results, kept for the object's life

  Store() { clear(); }

  void clear() {
    sections.clear();
    index.clear();
    nameWalk = nullptr;
    add("");
  }
  Section* add(const std::string& name) {
    sections.push_back(std::make_unique<Section>());
    Section* s = sections.back().get();
    s->name = name;
    index.emplace(name, s);
    return s;
  }
  Section* find(const char* name) const {
    if (!name) return nullptr;
    auto it = index.find(name);
    return it == index.end() ? nullptr : it->second;
  }
  const char* value(const char* section, const char* name) const {
    Section* s = find(section);
    Entry* e = s ? s->find(name) : nullptr;
    return e ? e->value.c_str() : "";
  }
  void parseLine(const char* line, Section*& current);
};

void otIniFile::Store::parseLine(const char* line, Section*& current) {
  if (line[0] == '[') {
    const char* end = strchr(line + 1, ']');
    std::string name = end ? std::string(line + 1, end) : std::string(line + 1);
    if (Section* s = find(name.c_str())) {
      current = s;
      current->append("", "");
    } else {
      current = add(name);
    }
    return;
  }
  if (looksLikeComment(line)) {
    current->append(line, "");
    return;
  }
  const char* eq = line;
  while (*eq && !(*eq == '=' && (eq == line || eq[-1] != '\\')))
    eq++;
  const char* nameEnd = eq;
  while (nameEnd > line && (nameEnd[-1] == ' ' || nameEnd[-1] == '\t'))
    nameEnd--;
  std::string name(line, nameEnd);
  const char* value = *eq ? eq + 1 : eq;
  while (*value == ' ' || *value == '\t')
    value++;
  if (Entry* e = current->find(name.c_str()))
    e->value = value;
  else
    current->append(std::move(name), value);
}

otIniFile::otIniFile()
    : store_(std::make_unique<Store>()),
      sectionPos_(-1),
      namePos_(-1),
      filename_(""),
      defaultSection_("") {}

otIniFile::~otIniFile() = default;

int otIniFile::read(const char* path) {
  store_->clear();
  sectionPos_ = namePos_ = -1;
  filename_.setText(path ? path : "");
  if (!path) return -1;
  FILE* fp = fopen(path, "r");
  if (!fp) return -1;
  Store::Section* current = store_->sections.front().get();
  char line[kMaxLine + 1];
  for (;;) {
    int len = 0, c;
    bool any = false;
    while ((c = getc_unlocked(fp)) != EOF) {
      any = true;
      if (c == '\n') break;
      if (c == '\r') continue;
      // Past the limit the rest of the line is dropped, not parsed as a line of its own.
      if (len < kMaxLine) line[len++] = static_cast<char>(c);
    }
    if (!any) break;
    line[len] = '\0';
    store_->parseLine(line, current);
  }
  const bool failed = ferror(fp) != 0;  // e.g. a directory opens but cannot be read
  fclose(fp);
  if (failed) {
    store_->clear();
    return -1;
  }
  return 0;
}

namespace {

// Appends text to out with every line break turned into a blank: a name or value must stay on
// its own line, or the next read would find extra entries or sections in it.
void appendOneLine(std::string& out, const std::string& text) {
  for (char c : text)
    out += (c == '\n' || c == '\r') ? ' ' : c;
}

}  // namespace

int otIniFile::write(const char* path) const {
  if (!path) return -1;
  FILE* fp = fopen(path, "w");
  if (!fp) return -1;
  std::string out;
  for (const auto& s : store_->sections) {
    if (s->name[0] == '#') {
      appendOneLine(out, s->name);
      out += '\n';
    } else if (!s->name.empty()) {
      out += '[';
      appendOneLine(out, s->name);
      out += "]\n";
    }
    for (const auto& e : s->entries) {
      if (looksLikeComment(e->name.c_str())) {
        appendOneLine(out, e->name);
      } else if (!e->value.empty()) {
        appendOneLine(out, e->name);
        // "a\" followed by "=" would read back as the name "a\=...": keep the "=" free.
        if (e->name.back() == '\\') out += ' ';
        out += '=';
        appendOneLine(out, e->value);
      }
      out += '\n';
    }
    if (out.size() >= 65536) {
      fwrite(out.data(), 1, out.size(), fp);
      out.clear();
    }
  }
  fwrite(out.data(), 1, out.size(), fp);
  const bool failed = ferror(fp) != 0;
  if (fclose(fp) != 0 || failed) return -1;
  return 0;
}

const char* otIniFile::filename() const {
  return filename_.text();
}

const char* otIniFile::text(const char* section, const char* name) const {
  return store_->value(section, name);
}

int otIniFile::setText(const char* section, const char* name, const char* value) {
  if (!section || !name) return -1;
  Store::Section* s = store_->find(section);
  if (!s) s = store_->add(section);
  s->set(name, value ? value : "");
  return 0;
}

int otIniFile::printf(const char* section, const char* name, const char* format, ...) {
  otFormattedText t;
  va_list ap;
  va_start(ap, format);
  otFormatText(&t, format, ap);
  va_end(ap);
  if (t.result < 1) return t.result;
  if (setText(section, name, t.text) < 0) return -1;
  // The length stored: a text cut at 4095 characters is not as long as the formatter said.
  return t.length;
}

int otIniFile::remove(const char* section) {
  Store::Section* s = store_->find(section);
  if (!s) return -1;
  if (s == store_->sections.front().get()) {
    // The unnamed first section always exists; it only loses its lines.
    s->entries.clear();
    s->index.clear();
    if (store_->nameWalk == s) namePos_ = -1;
    return 0;
  }
  auto& list = store_->sections;
  int pos = 0;
  while (list[pos].get() != s)
    pos++;
  if (pos < sectionPos_) sectionPos_--;
  if (store_->nameWalk == s) {
    store_->nameWalk = nullptr;
    namePos_ = -1;
  }
  store_->index.erase(s->name);
  list.erase(list.begin() + pos);
  return 0;
}

int otIniFile::remove(const char* section, const char* name) {
  Store::Section* s = store_->find(section);
  Store::Entry* e = s ? s->find(name) : nullptr;
  if (!e) return -1;
  int pos = 0;
  while (s->entries[pos].get() != e)
    pos++;
  if (store_->nameWalk == s && pos < namePos_) namePos_--;
  s->index.erase(e->name);
  s->entries.erase(s->entries.begin() + pos);
  return 0;
}

const char* otIniFile::firstSection() {
  sectionPos_ = 1;
  return store_->sections.front()->name.c_str();
}

const char* otIniFile::nextSection() {
  if (sectionPos_ < 0) return nullptr;
  if (sectionPos_ >= static_cast<int>(store_->sections.size())) {
    sectionPos_ = -1;
    return nullptr;
  }
  return store_->sections[sectionPos_++]->name.c_str();
}

const char* otIniFile::firstName(const char* section) {
  Store::Section* s = store_->find(section);
  if (!s || s->entries.empty()) {
    store_->nameWalk = nullptr;
    namePos_ = -1;
    return nullptr;
  }
  store_->nameWalk = s;
  namePos_ = 1;
  return s->entries.front()->name.c_str();
}

const char* otIniFile::nextName(const char* section) {
  if (namePos_ < 0) return nullptr;
  Store::Section* s = store_->find(section);
  if (!s || namePos_ >= static_cast<int>(s->entries.size())) {
    store_->nameWalk = nullptr;
    namePos_ = -1;
    return nullptr;
  }
  return s->entries[namePos_++]->name.c_str();
}

int otIniFile::setDefaultSection(const char* section) {
  return defaultSection_.setText(section ? section : "");
}

const char* otIniFile::defaultSection() const {
  return defaultSection_.text();
}

const char* otIniFile::i18n(const char* text, const char* fallback) const {
  const char* value = store_->value(defaultSection_.text(), text);
  return *value ? value : fallback;
}

const char* otIniFile::tr(const char* text) const {
  if (!text) return "ERROR:txt=NULL";
  const char* value = store_->value(defaultSection_.text(), text);
  if (*value) return value;
  if (strlen(text) >= kMaxTrText) return "tr_error:text too long";
  return store_->fallbacks.insert(std::string("tr_error:") + text).first->c_str();
}

namespace {

std::unique_ptr<otIniFile> translator;

const char* applyEscapes(const char* text, char** buffer) {
  if (!strchr(text, '\\') || !buffer) return text;
  // The result is never longer than text. Allocate it before freeing *buffer: text may be
  // the previous result itself.
  char* out = static_cast<char*>(malloc(strlen(text) + 1));
  if (!out) return text;
  char* o = out;
  for (const char* p = text; *p; p++) {
    if (*p != '\\' || !p[1]) {
      *o++ = *p;
      continue;
    }
    switch (p[1]) {
      case '=':
        *o++ = '=';
        break;
      case 'n':
        *o++ = '\n';
        break;
      case 't':
        *o++ = '\t';
        break;
      case '\\':
        *o++ = '\\';
        break;
      default:
        *o++ = p[0];
        *o++ = p[1];
        break;
    }
    p++;
  }
  *o = '\0';
  free(*buffer);
  *buffer = out;
  return out;
}

}  // namespace

int otSetTranslator(const char* language, const char* path) {
  int ret = 0;
  if (path) {
    if (!translator) translator = std::make_unique<otIniFile>();
    if (translator->read(path) < 0) ret = -1;
  } else if (!translator) {
    // Without a translation file there is nothing a language could select.
    return -1;
  }
  translator->setDefaultSection(language);
  return ret;
}

const char* ottranslate(const char* text, char** buffer) {
  if (!text) return "";
  if (translator) text = translator->i18n(text, text);
  return applyEscapes(text, buffer);
}

const char* ottranslate2(const char* section, const char* text, char** buffer) {
  if (!text) return "";
  if (!translator) return applyEscapes(text, buffer);
  if (!section || !*section) return ottranslate(text, buffer);
  const char* value = translator->text(section, text);
  return applyEscapes(*value ? value : text, buffer);
}
