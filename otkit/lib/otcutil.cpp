#include "otcutil.h"
#include "otlog.h"
#include "otnumber.h"

#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <unistd.h>

#include <mutex>
#include <string>

const char otCRLF[] = "\r\n";
int otDebugPrintfState = 0;

int otSetDebugPrintf(int on) {
  otDebugPrintfState = on ? 1 : 0;
  return 0;
}

int otvsnprintf(char* buf, int size, const char* format, va_list ap) {
  if (format == nullptr || format[0] == '\0') {
    if (buf && size > 0) buf[0] = '\0';
    return 1;
  }
  if (size < 0) size = 0;
  return vsnprintf(buf, (size_t)size, format, ap);
}

void otFormatText(otFormattedText* out, const char* format, va_list ap) {
  out->result = otvsnprintf(out->text, OT_PRINTF_BUFFER, format, ap);
  if (out->result < 0) out->text[0] = '\0';
  out->length = (int)strlen(out->text);
}

int otsnprintf(char* buf, int size, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  int ret = otvsnprintf(buf, size, format, ap);
  va_end(ap);
  return ret;
}

int otDebugPrintf(const char* format, ...) {
  if (otDebugPrintfState == 0) return 0;
  otFormattedText t;
  va_list ap;
  va_start(ap, format);
  otFormatText(&t, format, ap);
  va_end(ap);
  if (t.result < 0) return t.result;
  return printf("%s", t.text);
}

int otLastLinePrintf(const char* format, ...) {
  otFormattedText t;
  va_list ap;
  va_start(ap, format);
  otFormatText(&t, format, ap);
  va_end(ap);
  if (t.result < 0) return t.result;
  t.text[79] = '\0';
  int len = (int)strlen(t.text);
  printf("%c[80D%s", 27, t.text);
  for (int i = len; i < 80; i++)
    putchar(' ');
  return 80;
}

char* otstrncpy(char* dest, const char* src, int n) {
  if (dest == nullptr) return dest;
  int i = 0;
  if (src != nullptr)
    for (; i < n && src[i] != '\0'; i++)
      dest[i] = src[i];
  dest[i] = '\0';
  return dest;
}

char* otstrlinecpy(char* dest, const char* src, int n) {
  if (dest == nullptr) return dest;
  int i = 0;
  if (src != nullptr)
    for (; i < n && src[i] != '\0' && src[i] != '\n'; i++)
      dest[i] = src[i];
  dest[i] = '\0';
  return dest;
}

int otInputAvailable() {
  fd_set rset;
  FD_ZERO(&rset);
  FD_SET(0, &rset);
  struct timeval tv = {0, 0};
  return select(1, &rset, nullptr, nullptr, &tv) > 0 && FD_ISSET(0, &rset) ? 1 : 0;
}

int otexec(const char* command) {
  enum { MAX_ARGS = 511 };
  if (command == nullptr) return -1;
  std::string copy(command);
  char* argv[MAX_ARGS + 1];
  int argc = 0;
  char* p = &copy[0];
  while (*p != '\0') {
    while (*p == ' ')
      p++;
    if (*p == '\0') break;
    // A full argument vector is refused rather than overrun.
    if (argc == MAX_ARGS) return -1;
    char end = ' ';
    if (*p == '"') {
      end = '"';
      p++;
    }
    argv[argc++] = p;
    while (*p != '\0' && *p != end)
      p++;
    if (*p != '\0') *p++ = '\0';
  }
  argv[argc] = nullptr;
  if (argc == 0) return -1;
  return execvp(argv[0], argv);
}

int otsystem(const char* command) {
  return system(command);
}

int otBrowser(const char* url) {
  char cmd[OT_PRINTF_BUFFER];
  otsnprintf(cmd, sizeof(cmd), "konqueror %s &", url ? url : "");
  return system(cmd);
}

static int busCommand(const char* format, int value) {
  char cmd[80];
  snprintf(cmd, sizeof(cmd), format, value);
  return system(cmd);
}

int otEib1(int value) {
  return busCommand("buscommand -eib1 %d", value);
}
int otEib2(int value) {
  return busCommand("buscommand -eib2 %d", value);
}
int otLon1(int value) {
  return busCommand("buscommand -lon1 %d", value);
}
int otLon2(int value) {
  return busCommand("buscommand -lon2 %d", value);
}
int otProfibus1(int value) {
  return busCommand("buscommand -profibus1 %d", value);
}
int otProfibus2(int value) {
  return busCommand("buscommand -profibus2 %d", value);
}
int otCan1(int value) {
  return busCommand("buscommand -can1 %d", value);
}
int otCan2(int value) {
  return busCommand("buscommand -can2 %d", value);
}

namespace {

void (*sigtermUserHandler)(void*) = nullptr;
void* sigtermUserArg = nullptr;
int sigtermPipe[2] = {-1, -1};

// All a signal handler may safely do: hand the signal to the watcher thread.
void onSigterm(int sig) {
  const int saved = errno;
  const unsigned char b = (unsigned char)sig;
  ssize_t n = write(sigtermPipe[1], &b, 1);
  (void)n;
  errno = saved;
}

// Prints, calls the user's handler and ends the process outside the signal handler, where
// stdio, locks and exit() are allowed.
void* sigtermWatcher(void*) {
  unsigned char sig = 0;
  for (;;) {
    ssize_t n = read(sigtermPipe[0], &sig, 1);
    if (n == 1) break;
    if (n < 0 && errno == EINTR) continue;
    return nullptr;
  }
  otLog(OT_LOG_INFO, "entering otSigtermHandler sig=%d\n", sig);
  if (sig == SIGTERM && sigtermUserHandler != nullptr) sigtermUserHandler(sigtermUserArg);
  fflush(stdout);
  fsync(fileno(stdout));
  exit(0);
}

}  // namespace

int otSetSigtermHandler(void (*handler)(void*), void* arg) {
  sigtermUserHandler = handler;
  sigtermUserArg = arg;
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] {
    if (pipe2(sigtermPipe, O_CLOEXEC) != 0) return;
    pthread_attr_t a;
    pthread_attr_init(&a);
    pthread_attr_setdetachstate(&a, PTHREAD_CREATE_DETACHED);
    // The watcher itself never takes the signal: it only reads what the handler hands over.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &old);
    pthread_t t;
    ready = pthread_create(&t, &a, sigtermWatcher, nullptr) == 0;
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    pthread_attr_destroy(&a);
  });
  if (!ready) return -1;
  signal(SIGTERM, onSigterm);
  return 0;
}

char* otGetInifile(const char* name) {
  static char buf[1024];
  const char* home = getenv("HOME");
  if (home == nullptr) {
    // Services started without a login environment still have a home in the user database.
    struct passwd* pw = getpwuid(getuid());
    home = (pw != nullptr && pw->pw_dir != nullptr) ? pw->pw_dir : ".";
  }
  snprintf(buf, sizeof(buf), "%s/.%s", home, name ? name : "");
  return buf;
}

int otSwapShort(int v) {
  return (v & 0xFF) * 256 + v / 256;
}

int otOption(const char* string, const char* option) {
  if (string == nullptr || option == nullptr) return 0;
  return strstr(string, option) != nullptr ? 1 : 0;
}

// Position just behind the "=" that follows option in string, or null.
static const char* optionValue(const char* string, const char* option) {
  if (string == nullptr || option == nullptr) return nullptr;
  const char* p = strstr(string, option);
  if (p == nullptr) return nullptr;
  return strchr(p, '=');
}

int otIntOption(const char* string, const char* option, int def) {
  int value = def;
  const char* eq = optionValue(string, option);
  if (eq == nullptr || sscanf(eq, "=%d", &value) != 1) return def;
  return value;
}

float otFloatOption(const char* string, const char* option, float def) {
  float value = def;
  const char* eq = optionValue(string, option);
  if (eq == nullptr) return def;
  char* end = nullptr;
  value = otStrtof(eq + 1, &end);
  return end == eq + 1 ? def : value;
}

const char* otTextOption(const char* string, const char* option, const char* def) {
  static char buf[OT_PRINTF_BUFFER];
  const char* eq = optionValue(string, option);
  if (eq == nullptr) return def;
  char delimiter = eq[1];
  buf[0] = '\0';
  if (delimiter == '\0') return buf;
  const char* p = eq + 2;
  int i = 0;
  while (i < (int)sizeof(buf) - 1 && p[i] != '\0' && p[i] != delimiter) {
    buf[i] = p[i];
    i++;
  }
  buf[i] = '\0';
  return buf;
}

int otCopyTextfile(const char* source, const char* dest) {
  if (source == nullptr || dest == nullptr) return -1;
  FILE* in = fopen(source, "r");
  if (in == nullptr) {
    otLog(OT_LOG_ERROR, "otCopyTextfile: could not read %s\n", source);
    return -1;
  }
  FILE* out = fopen(dest, "w");
  if (out == nullptr) {
    fclose(in);
    otLog(OT_LOG_ERROR, "otCopyTextfile: could not write %s\n", dest);
    return -1;
  }
  std::string buf(64 * 1024, '\0');
  while (fgets(&buf[0], (int)buf.size(), in) != nullptr)
    fputs(buf.c_str(), out);
  fclose(in);
  fclose(out);
  return 0;
}

int otupper(char* text) {
  if (text == nullptr) return -1;
  for (; *text; text++)
    *text = (char)toupper((unsigned char)*text);
  return 0;
}

int otlower(char* text) {
  if (text == nullptr) return -1;
  for (; *text; text++)
    *text = (char)tolower((unsigned char)*text);
  return 0;
}

int otStartsWith(const char* s, const char* prefix) {
  if (s == nullptr || prefix == nullptr) return 0;
  return strncmp(s, prefix, strlen(prefix)) == 0 ? 1 : 0;
}

int otEndsWith(const char* s, const char* suffix) {
  if (s == nullptr || suffix == nullptr) return 0;
  size_t ls = strlen(s), lx = strlen(suffix);
  if (lx > ls) return 0;
  return strcmp(s + ls - lx, suffix) == 0 ? 1 : 0;
}

// Only "*" is special and there is no backtracking: after a "*" the next pattern character is
// searched for, then compared in step; a mismatch makes the mismatching pattern character the
// next one searched for. A later "*" is then an ordinary character.
int otStrMatch(const char* s, const char* pattern) {
  if (s == nullptr || pattern == nullptr) return 0;
  if (strstr(s, pattern) != nullptr) return 1;
  if (*s == '\0') return 1;
  const char* p = pattern;
  while (*p != '*') {
    if (*s == '\0') return 1;
    if (*s != *p) return 0;
    s++;
    p++;
  }
  while (*p == '*')
    p++;
  if (*p == '\0') return 1;
  for (;;) {
    while (*s != '\0' && *s != *p)
      s++;
    if (*s == '\0') return 0;
    while (*s != '\0' && *p != '\0' && *s == *p) {
      s++;
      p++;
    }
    if (*s == '\0') return *p == '\0' ? 1 : 0;
    if (*p == '\0') return 0;
  }
}

const char* otFindFile(const char* pattern, int* context) {
  static char name[512];
  static DIR* dir = nullptr;
  if (context == nullptr || pattern == nullptr) return nullptr;
  if (*context == 0) {
    if (dir != nullptr) closedir(dir);
    dir = opendir(".");
    *context = 1;
  }
  if (dir == nullptr) return nullptr;
  while (struct dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    if (strstr(entry->d_name, pattern) != nullptr || otStrMatch(entry->d_name, pattern)) {
      otstrncpy(name, entry->d_name, (int)sizeof(name) - 1);
      return name;
    }
  }
  closedir(dir);
  dir = nullptr;
  return nullptr;
}

int otStat(const char* path, struct stat* buf) {
  return stat(path, buf);
}

int otFRead(FILE* fp, void* buffer, int length) {
  if (fp == nullptr) return -1;
  if (length <= 0) return 0;
  return (int)fread(buffer, 1, (size_t)length, fp);
}

int otFWrite(FILE* fp, const void* buffer, int length) {
  if (fp == nullptr) return -1;
  if (length <= 0) return 0;
  return (int)fwrite(buffer, 1, (size_t)length, fp);
}

int otWriteFile(const char* path, const void* data, int length) {
  FILE* fp = path ? fopen(path, "w") : nullptr;
  if (fp == nullptr) {
    otLog(OT_LOG_ERROR, "ERROR: otWriteFile() could not write to %s\n", path ? path : "(null)");
    return -1;
  }
  int ret = length > 0 ? (int)fwrite(data, 1, (size_t)length, fp) : 0;
  if (fclose(fp) != 0) {
    otLog(OT_LOG_ERROR, "ERROR: otWriteFile() could not write to %s\n", path);
    return -1;
  }
  return ret;
}

int otMkdir(const char* path, int mode) {
  return mkdir(path, (mode_t)mode);
}

int otMakeFolders(const char* path, int mode) {
  char buf[PATH_MAX];
  const size_t len = path != nullptr ? strlen(path) : 0;
  if (len == 0 || len >= sizeof(buf)) {
    errno = len == 0 ? ENOENT : ENAMETOOLONG;
    return -1;
  }
  memcpy(buf, path, len + 1);
  for (size_t i = 1; i <= len; i++) {
    if (buf[i] != '/' && buf[i] != '\0') continue;
    const char keep = buf[i];
    buf[i] = '\0';
    if (mkdir(buf, (mode_t)mode) != 0 && errno != EEXIST) return -1;
    buf[i] = keep;
  }
  return 0;
}

int otBitSet(int bit, int* value) {
  *value = (int)((unsigned)*value | (1u << (bit & 31)));
  return *value;
}

int otBitClear(int bit, int* value) {
  *value = (int)((unsigned)*value & ~(1u << (bit & 31)));
  return *value;
}

int otBitChange(int bit, int* value) {
  *value = (int)((unsigned)*value ^ (1u << (bit & 31)));
  return *value;
}

int otBitTest(int bit, int* value) {
  return ((unsigned)*value >> (bit & 31)) & 1u;
}

double otPushToDoubleBuffer(double value, double* buffer, int count) {
  if (count <= 0 || buffer == nullptr) return value;
  memmove(buffer + 1, buffer, sizeof(double) * (size_t)(count - 1));
  buffer[0] = value;
  return value;
}

float otPushToFloatBuffer(float value, float* buffer, int count) {
  if (count <= 0 || buffer == nullptr) return value;
  memmove(buffer + 1, buffer, sizeof(float) * (size_t)(count - 1));
  buffer[0] = value;
  return value;
}

const char* otpass(const char* text) {
  static char buf[72];
  buf[0] = '\0';
  if (text == nullptr) return buf;
  // Bytes are taken unsigned: every code times 16 then fits four hex digits.
  for (int i = 0; i < 17 && text[i] != '\0'; i++)
    snprintf(buf + 4 * i, sizeof(buf) - 4 * (size_t)i, "%04X", (unsigned char)text[i] * 16);
  return buf;
}

int otSubmitHxhost(const char* env, const char* dir, const char* exe, const char* options) {
  if (env == nullptr || dir == nullptr || exe == nullptr) return -1;
  const char* value = getenv(env);
  if (value == nullptr) {
    otLog(OT_LOG_ERROR, "otSubmitHxhost:ERROR env=%s is not set\n", env);
    return -2;
  }
  std::string base = std::string(value) + dir;
  std::string cmd = "\"" + base + "/" + exe + "\" ";
  if (options != nullptr) cmd += options;
  cmd += " \"-cd=" + base + "\" &";
  return otsystem(cmd.c_str());
}

int otIsLocalFileName(const char* name) {
  if (name == nullptr) return 0;
  bool climbs = strchr(name, '/') || strchr(name, '\\') || strstr(name, "..");
  return climbs ? 0 : 1;
}
