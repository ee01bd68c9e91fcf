// What the parts of the data provider share (the store and its request handler, the server's
// poll threads, the client): the requests' table, the secret's form, the text of arrays, and
// one client connection as the request handler sees it. Internal.
#ifndef OTDATAPROVIDER_P_H
#define OTDATAPROVIDER_P_H

#include <stdio.h>
#include <string.h>

#include <atomic>
#include <string>

#include "otdataprovider.h"

namespace otdataprovider {

// Formats values as "%d," (or "%f,") one after the other; the length, or -1 if the text would
// exceed size - 1 characters.
template <typename T>
inline int arrayText(const T* values, int num, const char* format, char* out, int size) {
  int len = 0;
  for (int i = 0; i < num; i++) {
    int n = snprintf(out + len, (size_t)(size - len), format, values[i]);
    if (n < 0 || n >= size - len) return -1;
    len += n;
  }
  return len;
}

// A secret may travel as one quoted text in one line: printable, at most MAX_SECRET bytes.
inline bool validSecret(const char* secret) {
  size_t len = strlen(secret);
  if (len > (size_t)otDataProvider::MAX_SECRET) return false;
  for (size_t i = 0; i < len; i++)
    if ((unsigned char)secret[i] < 0x20 || secret[i] == 0x7f) return false;
  return true;
}

// The requests; a table so that the protocol comment and the dispatcher can be checked against
// each other. `changes` marks those a shared secret guards.
enum Kind {
  SET_INT,
  SET_INT_WAIT,
  SET_FLOAT,
  SET_STRING,
  GET_INT,
  GET_INT_RESET,
  GET_INT0_SEM,
  GET_FLOAT,
  GET_STRING,
  AUTH
};
struct Command {
  const char* name;
  int nameLen;
  Kind kind;
  bool changes;
};
#define OT_COMMAND(name, kind, changes) \
  { name, (int)sizeof(name) - 1, kind, changes }
inline const Command kCommands[] = {
    OT_COMMAND("getInt", GET_INT, false),
    OT_COMMAND("int", SET_INT, true),
    OT_COMMAND("getFloat", GET_FLOAT, false),
    OT_COMMAND("getString", GET_STRING, false),
    OT_COMMAND("float", SET_FLOAT, true),
    OT_COMMAND("string", SET_STRING, true),
    OT_COMMAND("intAndReset", SET_INT_WAIT, true),
    OT_COMMAND("getIntAndReset", GET_INT_RESET, true),
    OT_COMMAND("getInt0Semaphore", GET_INT0_SEM, true),
    OT_COMMAND("auth", AUTH, false),
};
#undef OT_COMMAND

// The command named before the '(' at the start of line, or null.
inline const Command* findCommand(const char* line, int len) {
  const char* paren = static_cast<const char*>(memchr(line, '(', len < 24 ? (size_t)len : 24));
  if (paren == nullptr) return nullptr;
  int nameLen = (int)(paren - line);
  for (const Command& c : kCommands)
    if (c.nameLen == nameLen && memcmp(c.name, line, (size_t)nameLen) == 0) return &c;
  return nullptr;
}

}  // namespace otdataprovider

// One client connection as the request handler sees it.
struct otDataProvider::Session {
  int fd = -1;  // the client, watched while a request waits; -1: none
  const std::atomic<int>* stop = nullptr;
  const char* secret = nullptr;  // null: none
  size_t secretLen = 0;
  bool authorised = false;
  bool closing = false;        // the connection is to be closed after the pending output
  std::string* out = nullptr;  // replies not sent yet
};

#endif
