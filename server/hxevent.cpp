// Event lines of the client: kind, widget id and rest, as the shared event table gives them.
// Pure functions over a line and a buffer size; the connection code is elsewhere.
#include <string.h>

#include <vector>

#include "hxserver.h"
#include "otwritegate.h"
#include "oteventtable.h"
#include "otinterpreter.h"

namespace {

// Length of the line up to its line feed, carriage return or NUL, -1 above one protocol line.
int lineLength(const char* buf) {
  int n = 0;
  while (buf[n] != '\0' && buf[n] != '\n' && buf[n] != '\r') {
    if (++n >= HX_MAX_LINE) return -1;
  }
  return n;
}

// Copies len bytes to rest (which may overlap the line) behind an optional prefix and suffix
// character. 0, or -1 when it does not fit (rest is then "").
int putRest(char* rest, int restSize, const char* src, int len, char before, char after) {
  int total = len + (before ? 1 : 0) + (after ? 1 : 0);
  if (total + 1 > restSize) {
    rest[0] = '\0';
    return -1;
  }
  int at = before ? 1 : 0;
  memmove(rest + at, src, (size_t)len);
  if (before) rest[0] = before;
  if (after) rest[at + len] = after;
  rest[total] = '\0';
  return 0;
}

// "(arg,...)" of the arguments after the first one: the raw text between the first comma and
// the closing parenthesis. "" when there is only one argument. The line is well-formed here
// (otCallLine parsed it) and its first argument is an integer, so the first comma ends it.
int argsAfterId(const char* line, const otCallLine& call, char* rest, int restSize) {
  if (call.count < 2) return putRest(rest, restSize, "", 0, 0, 0);
  const char* open = strchr(line, '(');
  const char* comma = strchr(open, ',');
  const char* close = call.tail - 1;  // the ')' of the argument list
  return putRest(rest, restSize, comma + 1, (int)(close - comma), '(', 0);
}

}  // namespace

int hxParseEventN(const char* buf, int* id, char* rest, int restSize) {
  int dummyId = 0;
  if (id == nullptr) id = &dummyId;
  *id = 0;
  if (rest == nullptr || restSize < 1) return UNKNOWN_EVENT;
  if (buf == nullptr) {
    rest[0] = '\0';
    return UNKNOWN_EVENT;
  }
  int len = lineLength(buf);
  if (len < 0) {
    rest[0] = '\0';
    return UNKNOWN_EVENT;
  }
  if (len == 4 && memcmp(buf, "idle", 4) == 0) {
    rest[0] = '\0';
    return QUIET_EVENT;
  }
  // The connection layer's own farewell carries no parentheses.
  if (len == 6 && memcmp(buf, "shutup", 6) == 0) {
    rest[0] = '\0';
    return SHUTUP_EVENT;
  }
  otCallLine call;
  if (call.parse(buf, len) < 0) {
    rest[0] = '\0';
    return UNKNOWN_EVENT;
  }
  const otEventInfo* entry = otEventNamed(call.name);
  if (entry != nullptr && entry->kind == SHUTUP_EVENT && call.count == 0) {
    rest[0] = '\0';
    return SHUTUP_EVENT;
  }
  int first = 0;
  if (call.intArg(0, &first) < 0) {
    rest[0] = '\0';
    return UNKNOWN_EVENT;
  }
  int count = 0;
  bool known = entry != nullptr && entry->kind > 0 && call.matches(entry->signature) == 1;
  // A block count below zero announces nothing that could be read.
  if (known && entry->kind == CLIPBOARD_EVENT && (call.intArg(1, &count) < 0 || count < 0))
    known = false;
  if (!known) {
    *id = first;
    argsAfterId(buf, call, rest, restSize);
    return UNKNOWN_EVENT;
  }
  int ok = 0;
  switch (entry->rest) {
    case otRestNone:
      rest[0] = '\0';
      break;
    case otRestTail:
      ok = putRest(rest, restSize, call.tail, call.tailLength, 0, 0);
      break;
    case otRestText: {
      const char* text = call.textArg(1);
      ok = putRest(rest, restSize, text, (int)strlen(text), 0, 0);
      break;
    }
    case otRestArgs:
      ok = argsAfterId(buf, call, rest, restSize);
      break;
  }
  *id = first;
  // A write that the mask makes for this event is the widget's (the audit trail names it).
  if (ok >= 0) otSetWriteWidget(first);
  return ok < 0 ? UNKNOWN_EVENT : entry->kind;
}

int hxParseEvent(const char* buf, int* id, char* rest) {
  return hxParseEventN(buf, id, rest, HX_TEXT_SIZE);
}

int hxGetTextN(const char* rest, char* out, int outSize) {
  if (out == nullptr || outSize < 1) return -1;
  out[0] = '\0';
  if (rest == nullptr) return -1;
  size_t len = strlen(rest);
  // quotedString cuts at its buffer's end; a text can only be cut when rest is at least as
  // long as out, so only then is it taken out into room that always suffices.
  if (len < (size_t)outSize) return otInterpreter::quotedString(rest, 0, out, outSize);
  std::vector<char> room(len + 1);
  int n = otInterpreter::quotedString(rest, 0, room.data(), (int)room.size());
  if (n < 0) return -1;
  if (n + 1 > outSize) return -1;
  memcpy(out, room.data(), (size_t)n + 1);
  return n;
}

int hxGetText(const char* rest, char* out) {
  return hxGetTextN(rest, out, HX_TEXT_SIZE);
}
