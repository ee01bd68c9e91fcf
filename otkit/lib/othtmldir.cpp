#include "othtmldir.h"
#include "otlog.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

namespace {

const char kNotFound[] = "otHtmlDir: otfind not found";

// The shell takes everything inside single quotes literally; a quote itself is closed,
// escaped and reopened. No directory name or pattern can thus run a command.
std::string shellQuote(const char* text) {
  std::string out = "'";
  for (const char* p = text; *p != '\0'; p++) {
    if (*p == '\'')
      out += "'\\''";
    else
      out += *p;
  }
  out += '\'';
  return out;
}

int isProgram(const std::string& path) {
  return !path.empty() && access(path.c_str(), X_OK) == 0 ? 1 : 0;
}

// The directory of the object that holds this function: libotkit.so, or the program when
// the library's objects are linked into it.
std::string libraryDirectory() {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&libraryDirectory), &info) == 0 || info.dli_fname == nullptr)
    return "";
  char resolved[PATH_MAX];
  if (realpath(info.dli_fname, resolved) == nullptr) return "";
  char* slash = strrchr(resolved, '/');
  if (slash == nullptr) return "";
  *slash = '\0';
  return resolved;
}

std::string findOtfind() {
  const char* env = getenv("OTKIT_OTFIND");
  if (env != nullptr && *env != '\0') return isProgram(env) ? env : "";
  std::string dir = libraryDirectory();
  if (!dir.empty()) {
    if (isProgram(dir + "/../bin/otfind")) return dir + "/../bin/otfind";
    if (isProgram(dir + "/../tools/otfind")) return dir + "/../tools/otfind";
  }
  const char* path = getenv("PATH");
  if (path == nullptr) return "";
  std::string dirs = path;
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = (end > start ? dirs.substr(start, end - start) : ".") + "/otfind";
    if (isProgram(candidate)) return candidate;
    start = end + 1;
  }
  return "";
}

// Reads the lines of a shell command; closes the pipe on every return path.
class CommandLines {
 public:
  explicit CommandLines(const std::string& command) : fp(popen(command.c_str(), "r")) {}
  ~CommandLines() {
    free(buf);
    if (fp != nullptr) pclose(fp);
  }
  CommandLines(const CommandLines&) = delete;
  CommandLines& operator=(const CommandLines&) = delete;

  int started() const { return fp != nullptr; }
  // The next line without its line feed; null at the end.
  const char* next() {
    if (fp == nullptr) return nullptr;
    ssize_t n = getline(&buf, &size, fp);
    if (n < 0) return nullptr;
    if (n > 0 && buf[n - 1] == '\n') buf[n - 1] = '\0';
    return buf;
  }

 private:
  FILE* fp;
  char* buf = nullptr;
  size_t size = 0;
};

int endsWith(const char* text, size_t len, const char* suffix) {
  size_t n = strlen(suffix);
  return len >= n && memcmp(text + len - n, suffix, n) == 0 ? 1 : 0;
}

const char* baseName(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

}  // namespace

otHtmlDir::otHtmlDir()
    : home(""),
      current(""),
      pattern("*"),
      homeLabel("Home:"),
      pathLabel("Path:"),
      css("othtml.css"),
      header(""),
      trailer(""),
      html(""),
      recursive(0),
      show(1),
      hidden(0) {}

otHtmlDir::~otHtmlDir() {}

int otHtmlDir::cd(const char* text, int flag) {
  if (text == nullptr) return -1;
  if (strncmp(text, "..", 2) == 0) {
    if (strlen(home.text()) >= strlen(current.text())) return -1;
    char* slash = current.strrchr('/');
    if (slash == nullptr || slash == current.text()) return -1;
    // Cut a copy: current owns the buffer the slash points into.
    std::string up(current.text(), (size_t)(slash - current.text()));
    current = up.c_str();
    return 0;
  }
  if (text[0] == '.') return -1;
  if (text[0] == '/') {
    current = text;
    if (flag) home = text;
    return 0;
  }
  if (strcmp(text, "~") == 0) {
    current = home;
    return 0;
  }
  std::string path = current.text();
  path += '/';
  path += text;
  current = path.c_str();
  return 0;
}

std::string otHtmlDir::findCommand() {
  std::string otfind = findOtfind();
  if (otfind.empty()) return "";
  return shellQuote(otfind.c_str()) + " " + shellQuote(current.text()) +
         (recursive ? " -name " : " -only ") + shellQuote(pattern.text()) + " | sort";
}

int otHtmlDir::fileShown(const char* name) const {
  if (hidden == 0) return 1;
  if (hidden == 1) return name[0] != '.' ? 1 : 0;
  return 0;
}

const char* otHtmlDir::getHtml(int full) {
  std::string out;
  if (full) out += htmlHeader();
  out += header.text();
  out += "<pre class=\"othtmldirpre\">\n";
  out += homeLabel.text();
  out += " <a  class=\"othtmldirhome\" href=\"ftp://othtmldirhome";
  appendEscaped(out, home.text(), -1, 1);
  out += "\">";
  appendEscaped(out, home.text());
  out += "</a>\n";
  out += pathLabel.text();
  out += ' ';
  appendEscaped(out, current.text());
  out += '\n';
  if (current != home) out += "<a class=\"othtmldirup\" href=\"ftp://othtmldirup/dir/up\">..</a>\n";

  std::string command = findCommand();
  if (command.empty()) {
    otLog(OT_LOG_ERROR, "%s (set OTKIT_OTFIND to the otfind program)\n", kNotFound);
    out += "otfind not found: the directory cannot be listed\n";
  } else {
    CommandLines lines(command);
    if (!lines.started()) {
      otLog(OT_LOG_ERROR, "otHtmlDir: cannot run otfind\n");
      out += "otfind cannot be run: the directory cannot be listed\n";
    }
    for (const char* line = lines.next(); line != nullptr; line = lines.next()) {
      if (strncmp(line, "#EOF#", 5) == 0) break;
      if (strstr(line, " [") == nullptr) continue;
      size_t len = strlen(line);
      int isDir = endsWith(line, len, " [d]");
      int isFile = endsWith(line, len, " [f]");
      if (!isDir && !isFile) continue;
      std::string path(line, len - 4);
      const char* label = recursive ? path.c_str() : baseName(path.c_str());
      if (isDir) {
        if (show == 3 || path == home.text() || path == current.text()) continue;
        out += "+<a  class=\"othtmldir\" href=\"ftp://othtmldir";
      } else {
        if (show == 2 || !fileShown(baseName(path.c_str()))) continue;
        out += " <a class=\"othtmlfile\" href=\"ftp://othtmlfile";
      }
      appendEscaped(out, path.c_str(), -1, 1);
      out += "\">";
      appendEscaped(out, label);
      out += "</a>\n";
    }
  }
  out += "</pre>\n";
  out += trailer.text();
  if (full) out += htmlTrailer();
  html = out.c_str();
  return html.text();
}

int otHtmlDir::getFilenames(otSpreadsheetRow* row) {
  if (row == nullptr) return 0;
  row->clear();
  std::string command = findCommand();
  if (command.empty()) {
    otLog(OT_LOG_ERROR, "%s (set OTKIT_OTFIND to the otfind program)\n", kNotFound);
    return -1;
  }
  CommandLines lines(command);
  if (!lines.started()) {
    otLog(OT_LOG_ERROR, "otHtmlDir: cannot run otfind\n");
    return -1;
  }
  int count = 0;
  for (const char* line = lines.next(); line != nullptr; line = lines.next()) {
    size_t len = strlen(line);
    // The hidden rule concerns file names, as in the listing; directories stay.
    if (endsWith(line, len, " [f]")) {
      std::string path(line, len - 4);
      if (!fileShown(baseName(path.c_str()))) continue;
    }
    row->setText(++count, line);
  }
  return count;
}
