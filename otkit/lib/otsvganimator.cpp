#include "otsvganimator.h"
#include "otlog.h"

#include <dlfcn.h>
#include <errno.h>
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "otspawn.h"

namespace {

const char kTerminator[] = "\n<svgend></svgend>\n";

bool isExecutable(const std::string& path) {
  return access(path.c_str(), X_OK) == 0;
}

// The directory of the library (or program) that holds this code.
std::string ownDirectory() {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&ownDirectory), &info) == 0 || info.dli_fname == nullptr)
    return "";
  std::string path = info.dli_fname;
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

// otsvgcat installed next to this library (prefix/lib → prefix/bin), or in this build tree's
// tools directory; "" if there is none.
std::string svgcatNextToLibrary() {
  std::string dir = ownDirectory();
  if (dir.empty()) return "";
  for (const char* rel : {"/../bin/otsvgcat", "/../tools/otsvgcat"})
    if (isExecutable(dir + rel)) return dir + rel;
  return "";
}

bool onPath(const char* name) {
  const char* path = getenv("PATH");
  if (path == nullptr) return false;
  std::string dirs = path;
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    if (isExecutable((dir.empty() ? "." : dir) + "/" + name)) return true;
    start = end + 1;
  }
  return false;
}

// The program to run: the environment's choice, else the designed name, else the one next to
// the library.
std::string svgcatProgram(bool standardOutput) {
  const char* env = getenv("OTKIT_SVGCAT");
  if (env != nullptr && *env != '\0') return env;
  if (standardOutput) {
    if (isExecutable("/usr/bin/otsvgcat")) return "/usr/bin/otsvgcat";
  } else if (onPath("otsvgcat")) {
    return "otsvgcat";
  }
  std::string local = svgcatNextToLibrary();
  if (!local.empty()) return local;
  return standardOutput ? "/usr/bin/otsvgcat" : "otsvgcat";
}

// A word for the shell: single quotes, a quote inside as '\''.
std::string shellQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

std::string vformat(const char* format, va_list ap) {
  // The value line carries at most 1023 characters.
  char buf[1024];
  if (format == nullptr) return "";
  int n = vsnprintf(buf, sizeof(buf), format, ap);
  if (n < 0) return "";
  return buf;
}

}  // namespace

// ---------------------------------------------------------------------------------------
otSvgPosition::otSvgPosition() : otSvgPosition(1, 0, 0, 0, 0, 0) {}

otSvgPosition::otSvgPosition(float sx_, float alpha_, float x0_, float y0_, float cx_, float cy_)
    : sx(sx_), alpha(alpha_), x0(x0_), y0(y0_), cx(cx_), cy(cy_) {
  init.x = init.y = init.w = init.h = -1;
}

otSvgPosition::~otSvgPosition() {}

void otSvgPosition::setInit(float x, float y, float w, float h) {
  init.x = x;
  init.y = y;
  init.w = w;
  init.h = h;
}

void otSvgPosition::move(float x, float y) {
  x0 = x;
  y0 = y;
}

void otSvgPosition::moveRelative(float dx, float dy) {
  x0 += dx;
  y0 += dy;
}

void otSvgPosition::scale(float s) {
  sx = s;
}

void otSvgPosition::scaleRelative(float factor) {
  sx *= factor;
}

void otSvgPosition::rotate(float alpha_, float cx_, float cy_) {
  alpha = alpha_;
  cx = cx_;
  cy = cy_;
}

// ---------------------------------------------------------------------------------------
otSvgAnimator::otSvgAnimator()
    : isModified(0),
      s(nullptr),
      id(0),
      x0_(0),
      y0_(0),
      svgWindowWidth(640),
      svgWindowHeight(480),
      scale_(1),
      mouseX0_(0),
      mouseY0_(0),
      mouseX1_(0),
      mouseY1_(0),
      main_object_name("main"),
      haveId(false) {}

otSvgAnimator::~otSvgAnimator() {}

int otSvgAnimator::setSocket(int* s_) {
  s = s_;
  return 0;
}

int otSvgAnimator::setId(int id_) {
  id = id_;
  return 0;
}

int otSvgAnimator::send(const std::string& text) {
  if (s == nullptr || *s < 0) return -1;
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t n = *s == 1 ? ::write(1, p, left) : ::send(*s, p, left, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *s = -1;
      return -1;
    }
    p += n;
    left -= (size_t)n;
  }
  return 0;
}

int otSvgAnimator::command(const char* head, std::initializer_list<const char*> args) {
  isModified = 1;
  char line[64];
  snprintf(line, sizeof(line), head, id);
  std::string text = line;
  for (const char* a : args) {
    text += a ? a : "";
    text += '\n';
  }
  return send(text) < 0 ? -1 : 0;
}

int otSvgAnimator::printfCommand(const char* head, const char* object, const char* tag,
                                 const char* format, va_list ap) {
  std::string value = vformat(format, ap);
  int ret =
      tag ? command(head, {object, tag, value.c_str()}) : command(head, {object, value.c_str()});
  return ret < 0 ? -1 : (int)value.size() + 1;
}

int otSvgAnimator::svgPrintf(const char* object, const char* tag, const char* format, ...) {
  isModified = 1;
  if (id == 0) return -1;
  va_list ap;
  va_start(ap, format);
  int ret = printfCommand("gsvgPrintf(%d)\n", object, tag ? tag : "", format, ap);
  va_end(ap);
  return ret;
}

int otSvgAnimator::svgRecursivePrintf(const char* object, const char* tag, const char* format,
                                      ...) {
  va_list ap;
  va_start(ap, format);
  int ret = printfCommand("gsvgRecursivePrintf(%d)\n", object, tag ? tag : "", format, ap);
  va_end(ap);
  return ret;
}

int otSvgAnimator::svgTextPrintf(const char* object, const char* format, ...) {
  isModified = 1;
  if (id == 0) return -1;
  va_list ap;
  va_start(ap, format);
  int ret = printfCommand("gsvgTextPrintf(%d)\n", object, nullptr, format, ap);
  va_end(ap);
  return ret;
}

int otSvgAnimator::svgSearchAndReplace(const char* object, const char* tag, const char* before,
                                       const char* after) {
  return command("gsvgSearchAndReplace(%d)\n", {object, tag, before, after});
}

int otSvgAnimator::svgRecursiveSearchAndReplace(const char* object, const char* tag,
                                                const char* before, const char* after) {
  return command("gsvgRecursiveSearchAndReplace(%d)\n", {object, tag, before, after});
}

int otSvgAnimator::svgRemoveStyleOption(const char* object, const char* option) {
  return command("gsvgRemoveStyleOption(%d)\n", {object, "style=", option});
}

int otSvgAnimator::svgRecursiveRemoveStyleOption(const char* object, const char* option) {
  return command("gsvgRecursiveRemoveStyleOption(%d)\n", {object, "style=", option});
}

int otSvgAnimator::svgChangeStyleOption(const char* object, const char* option, const char* value) {
  return command("gsvgChangeStyleOption(%d)\n", {object, "style=", option, value});
}

int otSvgAnimator::svgRecursiveChangeStyleOption(const char* object, const char* option,
                                                 const char* value) {
  return command("gsvgRecursiveChangeStyleOption(%d)\n", {object, "style=", option, value});
}

int otSvgAnimator::svgSetStyleOption(const char* object, const char* value) {
  return command("gsvgSetStyleOption(%d)\n", {object, "style=", value});
}

int otSvgAnimator::svgRecursiveSetStyleOption(const char* object, const char* value) {
  return command("gsvgRecursiveSetStyleOption(%d)\n", {object, "style=", value});
}

int otSvgAnimator::show(const char* object, int state) {
  isModified = 1;
  otDebugPrintf("otSvgAnimator.show state=%d objectname=%s\n", state, object ? object : "");
  if (id == 0) return -1;
  char head[64];
  snprintf(head, sizeof(head), "gsvgShow(%d,%d)\n", id, state);
  std::string text = head;
  text += object ? object : "";
  text += '\n';
  return send(text) < 0 ? -1 : 0;
}

int otSvgAnimator::svgBoundsOnElement(const char* object) {
  if (id == 0) return -1;
  return command("gsvgBoundsOnElement(%d)\n", {object});
}

int otSvgAnimator::svgMatrixForElement(const char* object) {
  if (id == 0) return -1;
  return command("gsvgMatrixForElement(%d)\n", {object});
}

int otSvgAnimator::setMatrix(const char* object, float sx, float alpha, float x0, float y0,
                             float cx, float cy) {
  float c = cosf(alpha), sn = sinf(alpha);
  float a = sx * c, b = sx * sn, c2 = -sx * sn, d = sx * c;
  float e = x0 + cx - cx * c + cy * sn;
  float f = y0 + cy - cx * sn - cy * c;
  return svgPrintf(object, "transform=", "matrix(%f,%f,%f,%f,%f,%f)", a, b, c2, d, e, f);
}

int otSvgAnimator::setMatrix(const char* object, otSvgPosition& pos) {
  return setMatrix(object, pos.sx, pos.alpha, pos.x0, pos.y0, pos.cx, pos.cy);
}

int otSvgAnimator::writeSocket() {
  isModified = 0;
  if (s == nullptr) {
    otLog(OT_LOG_ERROR, "otSvgAnimator: ERROR please use setSocket first\n");
    return -1;
  }
  if (id == 0) return -1;
  char head[64];
  snprintf(head, sizeof(head), "gupdateSVG(%d)\n", id);
  return send(head) < 0 ? -1 : 0;
}

int otSvgAnimator::fillIniFile(otIniFile* inifile, const char* line_) {
  if (line_ == nullptr) return -1;
  std::string line = line_;
  size_t nl = line.find('\n');
  if (nl != std::string::npos) line.resize(nl);
  if (line.empty() || line[0] == '<') return 0;
  if (line.compare(0, 1, ">") == 0 || line.compare(0, 2, "/>") == 0) {
    if (haveId && inifile != nullptr)
      for (const auto& p : pairs)
        inifile->setText(currentId.c_str(), p.first.c_str(), p.second.c_str());
    currentId.clear();
    haveId = false;
    pairs.clear();
    return 0;
  }
  size_t eq = line.find('=');
  if (eq == std::string::npos) return 0;
  if (line.compare(0, 3, "id=") == 0) {
    // The text between the opening quote and the next one.
    size_t open = line.find('"', 3);
    size_t start = open == std::string::npos ? 3 : open + 1;
    size_t close = line.find('"', start);
    currentId = line.substr(start, close == std::string::npos ? std::string::npos : close - start);
    haveId = true;
    return 0;
  }
  // The value runs from behind the opening quote to before the last quote of the line.
  std::string name = line.substr(0, eq);
  size_t start = eq + 2;
  size_t last = line.rfind('"');
  std::string value;
  if (start <= line.size() && last != std::string::npos && last >= start)
    value = line.substr(start, last - start);
  else if (start <= line.size())
    value = line.substr(start);
  pairs.emplace_back(name, value);
  return 0;
}

int otSvgAnimator::fileFillIniFile(const char* path, otIniFile* inifile) {
  FILE* f = path ? fopen(path, "r") : nullptr;
  if (f == nullptr) return -1;
  // Lines of any length: an attribute such as a path's d= may be long.
  char* line = nullptr;
  size_t cap = 0;
  while (getline(&line, &cap, f) >= 0)
    fillIniFile(inifile, line);
  free(line);
  fclose(f);
  return 0;
}

int otSvgAnimator::readToStdout(const char* infile, otIniFile* inifile) {
  std::string program = svgcatProgram(true);
  char head[64];
  snprintf(head, sizeof(head), "gsvgRead(%d)\n", id);
  fflush(stdout);  // what the caller printed before comes first
  if (send(head) < 0) return -1;
  std::string cmd = program + " " + shellQuote(infile);
  int status = system(cmd.c_str());
  int ret = status == 0 ? 0 : -1;
  if (inifile != nullptr && ret == 0) {
    // A name of its own per call: two processes in one working directory must not share
    // (and delete) one temporary file.
    char tmp[64];
    snprintf(tmp, sizeof(tmp), "HXTMP%d-XXXXXX.svg", *s);
    int fd = mkstemps(tmp, 4);
    if (fd < 0) {
      ret = -1;
    } else {
      close(fd);
      cmd = program + " " + shellQuote(infile) + " " + shellQuote(tmp);
      if (system(cmd.c_str()) != 0 || fileFillIniFile(tmp, inifile) != 0) ret = -1;
      unlink(tmp);
    }
  }
  if (send(kTerminator) < 0) return -1;
  return ret;
}

int otSvgAnimator::read(const char* infile, otIniFile* inifile) {
  isModified = 1;
  // Checked first: a missing socket or id must not leave a child behind.
  if (infile == nullptr || s == nullptr || *s < 0 || id == 0) return -1;
  otDebugPrintf("otSvgAnimator step=1 infile=%s\n", infile);
  if (*s == 1) return readToStdout(infile, inifile);
  // otSpawn splits the command at blanks and takes a double-quoted word whole; a name with
  // a double quote cannot be carried.
  if (strchr(infile, '"') != nullptr) return -1;
  std::string cmd = svgcatProgram(false) + " \"" + infile + "\"";
  otSpawn child;
  if (child.spawn(cmd.c_str()) < 0) return -1;
  otDebugPrintf("otSvgAnimator step=2\n");
  // The whole text is taken first: otsvgcat reports a failure on the same pipe, and then
  // nothing is to be sent.
  std::string text, line;
  const char* piece;
  while ((piece = child.readLine()) != nullptr) {
    line += piece;
    if (line.empty() || line.back() != '\n') continue;  // a long line arrives in pieces
    text += line;
    line.clear();
  }
  text += line;
  if (text.empty() || text.compare(0, 9, "otsvgcat:") == 0 || text[0] != '<') {
    fprintf(stderr, "otSvgAnimator: otsvgcat could not read %s%s%s", infile,
            text.empty() ? "\n" : ": ", text.c_str());
    return -1;
  }
  if (inifile != nullptr) {
    size_t pos = 0;
    while (pos < text.size()) {
      size_t nl = text.find('\n', pos);
      size_t end = nl == std::string::npos ? text.size() : nl + 1;
      fillIniFile(inifile, text.substr(pos, end - pos).c_str());
      pos = end;
    }
  }
  char head[64];
  snprintf(head, sizeof(head), "gsvgRead(%d)\n", id);
  return send(head + text + kTerminator) < 0 ? -1 : 0;
}

// ---------------------------------------------------------------------------------------
int otSvgAnimator::setMainObject(const char* name) {
  if (name == nullptr) return -1;
  main_object_name = name;
  return 0;
}

const char* otSvgAnimator::mainObject() {
  return main_object_name.text();
}

int otSvgAnimator::setXY0(float x, float y) {
  x0_ = x;
  y0_ = y;
  return 0;
}
float otSvgAnimator::x0() {
  return x0_;
}
float otSvgAnimator::y0() {
  return y0_;
}

int otSvgAnimator::setMouseXY0(float x, float y) {
  mouseX0_ = x;
  mouseY0_ = y;
  return 0;
}
float otSvgAnimator::mouseX0() {
  return mouseX0_;
}
float otSvgAnimator::mouseY0() {
  return mouseY0_;
}

int otSvgAnimator::setMouseXY1(float x, float y) {
  mouseX1_ = x;
  mouseY1_ = y;
  return 0;
}
float otSvgAnimator::mouseX1() {
  return mouseX1_;
}
float otSvgAnimator::mouseY1() {
  return mouseY1_;
}

int otSvgAnimator::setScale(float s_) {
  scale_ = s_;
  return 0;
}
float otSvgAnimator::scale() {
  return scale_;
}

int otSvgAnimator::setWindowSize(float w, float h) {
  svgWindowWidth = w;
  svgWindowHeight = h;
  return 0;
}
float otSvgAnimator::windowWidth() {
  return svgWindowWidth;
}
float otSvgAnimator::windowHeight() {
  return svgWindowHeight;
}

int otSvgAnimator::zoomCenter(float n) {
  if (n > 1000) n = 1000;
  // A scale of 0 would divide by zero and lose the view for good.
  if (!(n > 0) || scale_ == 0) return -1;
  float w = svgWindowWidth, h = svgWindowHeight, sc = scale_;
  x0_ = (x0_ - w * (1 - sc) / 2) / sc * n + w * (1 - n) / 2;
  y0_ = (y0_ - h * (1 - sc) / 2) / sc * n + h * (1 - n) / 2;
  scale_ = n;
  return 0;
}

int otSvgAnimator::zoomRect() {
  float w = svgWindowWidth, h = svgWindowHeight;
  float dx = mouseX1_ - mouseX0_, dy = mouseY1_ - mouseY0_;
  // An empty rectangle (a click without a drag) has no zoom factor.
  if (dx == 0 || dy == 0 || scale_ == 0) return -1;
  x0_ = w / 2 + x0_ - (mouseX0_ + dx / 2);
  y0_ = h / 2 + y0_ - (mouseY0_ + dy / 2);
  float zx = w / (dx / scale_), zy = h / (dy / scale_);
  return zoomCenter(fabsf(zx) < fabsf(zy) ? fabsf(zx) : fabsf(zy));
}

int otSvgAnimator::setMainObjectMatrix() {
  return setMatrix(main_object_name.text(), scale_, 0, x0_, y0_, 0, 0);
}

int otSvgAnimator::moveMainObject(float x, float y) {
  x0_ = x0_ + x - mouseX0_;
  y0_ = y0_ + y - mouseY0_;
  return setMainObjectMatrix();
}
