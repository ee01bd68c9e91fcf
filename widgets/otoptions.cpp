#include "otoptions.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "otinifile.h"
#include "otlog.h"

OPT opt;

namespace {

typedef char Text[1024];

// One setting: where it lives in the ini file, its command-line name and its bounds. A text
// setting bounds its length instead of its value.
struct Setting {
  const char* section;
  const char* key;
  const char* option;     // command-line name without the leading '-'
  const char* valueName;  // null: a flag, "-name" alone means 1
  int OPT::*number;
  Text OPT::*text;
  int min;
  int max;
  const char* help;
};

const Setting kSettings[] = {
    {"server", "host", "host", "NAME", nullptr, &OPT::host, 1, 1023,
     "display server to connect to"},
    {"server", "port", "port", "PORT", &OPT::port, nullptr, 1, 65535, "its port"},
    {"server", "connect_timeout", "timeout", "SEC", &OPT::connect_timeout, nullptr, 0, 3600,
     "connect time-out, 0: as long as the system waits"},
    {"server", "reconnect_max_ms", "reconnect", "MS", &OPT::reconnect_max_ms, nullptr, 100, 3600000,
     "longest wait between reconnect attempts"},
    {"server", "stream_timeout", "streamtimeout", "SEC", &OPT::stream_timeout, nullptr, 1, 3600,
     "a block or stream that brings no byte so long breaks the connection"},
    {"server", "stream_max_mb", "streammax", "MB", &OPT::stream_max_mb, nullptr, 1, 4096,
     "largest block or stream one command may bring, in MiB"},
    {"server", "mask", "mask", "NAME", nullptr, &OPT::initial_mask, 0, 1023,
     "the mask to ask the server for, empty: its first"},
    {"plugin", "file", "plugin", "FILE", nullptr, &OPT::hxc_com_plugin, 0, 1023,
     "communication plug-in (tls: TLS), empty: plain TCP"},
    {"plugin", "dir", "plugindir", "DIR", nullptr, &OPT::plugin_dir, 0, 1023,
     "directory of plug-in names without '/'"},
    {"tls", "ca", "tlsca", "FILE", nullptr, &OPT::tls_ca, 0, 1023,
     "TLS: verify the server's chain and host against this CA file"},
    {"tls", "fingerprint", "tlsfingerprint", "HEX", nullptr, &OPT::tls_fingerprint, 0, 200,
     "TLS: the SHA-256 fingerprint of the server's certificate"},
    {"tls", "allow_tls12", "tls12", nullptr, &OPT::tls_allow12, nullptr, 0, 1,
     "TLS: allow TLS 1.2 as well as 1.3"},
    {"login", "user", "user", "NAME", nullptr, &OPT::login_user, 0, 63,
     "the user a login request is answered for"},
    // No command-line option: every user of the machine can read a command line.
    {"login", "password", nullptr, "TEXT", nullptr, &OPT::login_password, 0, 1023,
     "that user's password (ini file only)"},
    {"display", "zoom", "zoom", "PERCENT", &OPT::zoom, nullptr, 1, 1000,
     "initial zoom of drawings, 0 or less: 100"},
    {"display", "use_webkit_for_svg", "webkit", nullptr, &OPT::use_webkit_for_svg, nullptr, 0, 1,
     "SVG through the web engine"},
    {"display", "print_pdf", "printpdf", "FILE", nullptr, &OPT::print_pdf, 0, 1023,
     "print to this PDF file, empty: the print dialog"},
    {"display", "screenshot_dir", "shots", "DIR", nullptr, &OPT::screenshot_dir, 0, 1023,
     "save the window as otclient-NNNN.png there, empty: never"},
    {"display", "screenshot_seconds", "shotevery", "SEC", &OPT::screenshot_seconds, nullptr, 1,
     86400, "seconds between two screenshots"},
    {"files", "download_dir", "downloads", "DIR", nullptr, &OPT::download_dir, 1, 1023,
     "folder of the files the server sends"},
    {"files", "download_max_mb", "downloadmax", "MB", &OPT::download_max_mb, nullptr, 1, 65536,
     "total size of the downloads folder"},
    {"commands", "allow", "allowcommands", "LIST", nullptr, &OPT::client_commands, 0, 1023,
     "command lines a server may start here, ';' between them, empty: none"},
    {"trace", "debug", "debug", nullptr, &OPT::debug, nullptr, 0, 9, "debug level"},
    {"trace", "nettrace", "nettrace", nullptr, &OPT::nettrace, nullptr, 0, 1,
     "print every line sent and received"},
};

const Setting* findOption(const char* name, size_t len) {
  for (const Setting& s : kSettings)
    if (s.option != nullptr && strlen(s.option) == len && strncmp(s.option, name, len) == 0)
      return &s;
  return nullptr;
}

const Setting* findKey(const char* section, const char* key) {
  for (const Setting& s : kSettings)
    if (strcmp(s.section, section) == 0 && strcmp(s.key, key) == 0) return &s;
  return nullptr;
}

// Copies text when it fits; false leaves dest alone.
bool copyText(char* dest, size_t size, const char* text) {
  size_t len = strlen(text);
  if (len >= size) return false;
  memcpy(dest, text, len + 1);
  return true;
}

// "<base>/otclient/<name>" under $XDG_CONFIG_HOME, else under $HOME/.config; "" without
// either or when it does not fit.
void configPath(char* dest, size_t size, const char* name) {
  const char* xdg = getenv("XDG_CONFIG_HOME");
  const char* home = getenv("HOME");
  int n = -1;
  if (xdg != nullptr && xdg[0] != '\0')
    n = snprintf(dest, size, "%s/otclient/%s", xdg, name);
  else if (home != nullptr && home[0] != '\0')
    n = snprintf(dest, size, "%s/.config/otclient/%s", home, name);
  if (n < 0 || (size_t)n >= size) dest[0] = '\0';
}

// "<base>/otclient/<name>" under $XDG_DATA_HOME, else under $HOME/.local/share.
void dataPath(char* dest, size_t size, const char* name) {
  const char* xdg = getenv("XDG_DATA_HOME");
  const char* home = getenv("HOME");
  int n = -1;
  if (xdg != nullptr && xdg[0] != '\0')
    n = snprintf(dest, size, "%s/otclient/%s", xdg, name);
  else if (home != nullptr && home[0] != '\0')
    n = snprintf(dest, size, "%s/.local/share/otclient/%s", home, name);
  if (n < 0 || (size_t)n >= size) dest[0] = '\0';
}

// A whole decimal number within [min, max], trailing blanks allowed.
bool parseNumber(const char* text, long* value) {
  char* end = nullptr;
  errno = 0;
  long v = strtol(text, &end, 10);
  if (end == text || errno != 0) return false;
  while (*end == ' ' || *end == '\t')
    end++;
  if (*end != '\0') return false;
  *value = v;
  return true;
}

// Stores value in the setting; a refusal is printed with where the value came from.
int apply(OPT* o, const Setting& s, const char* value, const char* origin) {
  if (s.text != nullptr) {
    size_t len = strlen(value);
    if (len < (size_t)s.min || len > (size_t)s.max) {
      otLog(OT_LOG_WARNING, "otclient: %s: %s refused: %s\n", origin, value,
            s.min > 0 ? "empty or too long" : "too long");
      return -1;
    }
    memcpy(o->*s.text, value, len + 1);
    return 0;
  }
  long v = 0;
  bool ok = parseNumber(value, &v);
  // A zoom of 0 would later divide mouse positions by zero; 0 or less means "no zoom".
  if (ok && s.number == &OPT::zoom && v <= 0) v = 100;
  if (!ok || v < s.min || v > s.max) {
    otLog(OT_LOG_WARNING, "otclient: %s: %s refused: a number from %d to %d is wanted\n", origin,
          value, s.min, s.max);
    return -1;
  }
  o->*s.number = (int)v;
  return 0;
}

bool isComment(const char* name) {
  return (unsigned char)name[0] <= ' ' || name[0] == '#' || name[0] == ';';
}

// "host", "host:port", "[v6]" or "[v6]:port"; a bare IPv6 address has several ':'.
int applyHostPort(OPT* o, const char* arg) {
  char host[1024];
  const char* port = nullptr;
  size_t hostLen;
  if (arg[0] == '[') {
    const char* close = strchr(arg, ']');
    if (close == nullptr || (close[1] != '\0' && close[1] != ':')) {
      otLog(OT_LOG_WARNING, "otclient: %s refused: host[:port] is wanted\n", arg);
      return -1;
    }
    hostLen = (size_t)(close - arg - 1);
    arg++;
    if (close[1] == ':') port = close + 2;
  } else {
    const char* colon = strchr(arg, ':');
    if (colon != nullptr && strchr(colon + 1, ':') == nullptr) {
      hostLen = (size_t)(colon - arg);
      port = colon + 1;
    } else {
      hostLen = strlen(arg);
    }
  }
  if (hostLen == 0 || hostLen >= sizeof(host)) {
    otLog(OT_LOG_WARNING, "otclient: %s refused: empty or too long host\n", arg);
    return -1;
  }
  memcpy(host, arg, hostLen);
  host[hostLen] = '\0';
  OPT trial = *o;  // host and port are taken together or not at all
  if (apply(&trial, *findOption("host", 4), host, "host") != 0) return -1;
  if (port != nullptr && apply(&trial, *findOption("port", 4), port, "port") != 0) return -1;
  memcpy(o->host, trial.host, sizeof(o->host));
  o->port = trial.port;
  return 0;
}

void printHelp() {
  OPT d;
  otOptionsDefaults(&d);
  printf("usage: otclient [options] [host[:port]]\n");
  printf("Shows what a display server sends. Options override the ini file:\n");
  printf("  -ini=FILE            ini file (%s)\n", otOptionsDefaultFile());
  for (const Setting& s : kSettings) {
    char name[64];
    if (s.option == nullptr)
      snprintf(name, sizeof(name), "(ini only)");
    else if (s.valueName != nullptr)
      snprintf(name, sizeof(name), "-%s=%s", s.option, s.valueName);
    else
      snprintf(name, sizeof(name), "-%s[=N]", s.option);
    char def[1040];
    if (s.text == &OPT::login_password)
      snprintf(def, sizeof(def), "none");
    else if (s.text != nullptr)
      snprintf(def, sizeof(def), "\"%s\"", d.*s.text);
    else
      snprintf(def, sizeof(def), "%d", d.*s.number);
    printf("  %-20s %s; [%s] %s, default %s\n", name, s.help, s.section, s.key, def);
  }
  printf("  -h                   this list\n");
}

}  // namespace

void otOptionsDefaults(OPT* o) {
  memset(o, 0, sizeof(*o));
  o->zoom = 100;
  o->use_webkit_for_svg = 0;
  o->debug = 0;
  o->nettrace = 0;
  o->connect_timeout = 3;
  configPath(o->plugin_dir, sizeof(o->plugin_dir), "plugins");
  copyText(o->host, sizeof(o->host), "localhost");
  o->port = 5050;
  o->reconnect_max_ms = 8000;
  o->stream_timeout = 8;
  o->stream_max_mb = 512;
  o->screenshot_seconds = 5;
  dataPath(o->download_dir, sizeof(o->download_dir), "downloads");
  o->download_max_mb = 256;
}

const char* otOptionsDefaultFile() {
  static char path[1024];
  configPath(path, sizeof(path), "otclient.ini");
  return path;
}

int otOptionsLoad(OPT* o, const char* path) {
  otIniFile ini;
  if (path == nullptr || ini.read(path) != 0) {
    otLog(OT_LOG_WARNING, "otclient: cannot read the ini file %s\n",
          path != nullptr ? path : "(null)");
    return -1;
  }
  for (const char* section = ini.firstSection(); section != nullptr; section = ini.nextSection()) {
    for (const char* name = ini.firstName(section); name != nullptr; name = ini.nextName(section)) {
      if (isComment(name)) continue;
      char origin[1200];
      snprintf(origin, sizeof(origin), "%s: [%s] %s", path, section, name);
      const Setting* s = findKey(section, name);
      if (s == nullptr) {
        otLog(OT_LOG_WARNING, "otclient: %s: unknown key, skipped\n", origin);
        continue;
      }
      apply(o, *s, ini.text(section, name), origin);
    }
  }
  if (!copyText(o->ini_file, sizeof(o->ini_file), path)) o->ini_file[0] = '\0';
  // Said, not refused: a kiosk should still start, and its operator learn to mend it.
  struct stat st;
  const char* password = ini.text("login", "password");
  if (password != nullptr && password[0] != '\0' && stat(path, &st) == 0 &&
      (st.st_mode & (S_IRWXG | S_IRWXO)) != 0)
    otLog(OT_LOG_WARNING,
          "otclient: %s holds a password and other users may read it (chmod 600 it)\n", path);
  return 0;
}

int otOptionsParseArgs(OPT* o, int argc, char** argv) {
  const char* ini = nullptr;
  for (int i = 1; i < argc; i++) {
    const char* a = argv[i];
    if (strcmp(a, "-h") == 0 || strcmp(a, "-help") == 0 || strcmp(a, "--help") == 0) {
      printHelp();
      return 1;
    }
    if (strncmp(a, "-ini=", 5) == 0) {
      ini = a + 5;
    } else if (strcmp(a, "-ini") == 0) {
      if (i + 1 >= argc) {
        otLog(OT_LOG_ERROR, "otclient: -ini needs a file\n");
        return -1;
      }
      ini = argv[++i];
    }
  }
  if (ini != nullptr) {
    if (otOptionsLoad(o, ini) != 0) return -1;
  } else {
    const char* def = otOptionsDefaultFile();
    if (def[0] != '\0' && access(def, F_OK) == 0) otOptionsLoad(o, def);
  }

  bool hostGiven = false;
  for (int i = 1; i < argc; i++) {
    const char* a = argv[i];
    if (a[0] != '-' || a[1] == '\0') {
      if (hostGiven) {
        otLog(OT_LOG_ERROR, "otclient: %s: only one host[:port] may be given\n", a);
        return -1;
      }
      hostGiven = true;
      if (applyHostPort(o, a) != 0) return -1;
      continue;
    }
    const char* name = a + (a[1] == '-' ? 2 : 1);
    const char* eq = strchr(name, '=');
    size_t nameLen = eq != nullptr ? (size_t)(eq - name) : strlen(name);
    if (nameLen == 3 && strncmp(name, "ini", 3) == 0) {
      if (eq == nullptr) i++;  // its file was read above
      continue;
    }
    const Setting* s = findOption(name, nameLen);
    if (s == nullptr) {
      otLog(OT_LOG_ERROR, "otclient: unknown option %s (otclient -h lists them)\n", a);
      return -1;
    }
    const char* value;
    if (eq != nullptr) {
      value = eq + 1;
    } else if (s->valueName == nullptr) {
      value = "1";
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      otLog(OT_LOG_ERROR, "otclient: %s needs a value (%s)\n", a, s->valueName);
      return -1;
    }
    if (apply(o, *s, value, a) != 0) return -1;
  }
  return 0;
}
