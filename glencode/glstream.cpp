// The connection, the line and block senders, the replies, and the client state that decides
// what the blocks of pixel and vertex-array calls hold.
// glext.h's own prototypes check the extension entry points declared in hxglencode.h.
#define GL_GLEXT_PROTOTYPES
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "glencode_p.h"
#include "otnumber.h"

namespace glenc {

namespace {

std::atomic<PARAM_*> current{nullptr};
// Where the calls go while no connection is current (glencode_record), and the names the
// recording hands out in place of the client's replies.
std::atomic<FILE*> recording{nullptr};
GLuint recordedLists = 0, recordedTextures = 0;

bool active(PARAM_* p) {
  return p != nullptr || recording.load() != nullptr;
}

void sendText(PARAM_* p, const char* text, size_t len) {
  if (p != nullptr)
    hxtcpsend(p, text, (int)len);
  else if (FILE* f = recording.load())
    fwrite(text, 1, len, f);
}

struct Array {
  bool enabled = false;
  int size = 0;
  GLenum type = 0;
  int stride = 0;
  const void* pointer = nullptr;
};

constexpr int kTextureUnits = 8;

struct ClientState {
  Array arrays[kTexCoord];  // vertex .. edge flag
  Array texCoords[kTextureUnits];
  int activeUnit = 0;
  glsize::Unpack unpack;
};

ClientState state;
struct Saved {
  GLbitfield mask;
  ClientState state;
};
std::vector<Saved> saved;  // glPushClientAttrib; GL's own stack holds at least 16

Array& arrayOf(ArrayKind kind) {
  return kind == kTexCoord ? state.texCoords[state.activeUnit] : state.arrays[kind];
}

bool validPointer(ArrayKind kind, int size, GLenum type, int stride) {
  if (stride < 0) return false;
  switch (kind) {
    case kVertex:
      return size >= 2 && size <= 4 &&
             (type == GL_SHORT || type == GL_INT || type == GL_FLOAT || type == GL_DOUBLE);
    case kTexCoord:
      return size >= 1 && size <= 4 &&
             (type == GL_SHORT || type == GL_INT || type == GL_FLOAT || type == GL_DOUBLE);
    case kNormal:
      return type == GL_BYTE || type == GL_SHORT || type == GL_INT || type == GL_FLOAT ||
             type == GL_DOUBLE;
    case kColor:
      return (size == 3 || size == 4) && glsize::typeBytes(type) > 0 && type != GL_2_BYTES &&
             type != GL_3_BYTES && type != GL_4_BYTES;
    case kIndex:
      return type == GL_UNSIGNED_BYTE || type == GL_SHORT || type == GL_INT || type == GL_FLOAT ||
             type == GL_DOUBLE;
    case kEdgeFlag:
      return true;
  }
  return false;
}

// The immediate-mode name suffix of a type ("ub" for GL_UNSIGNED_BYTE).
const char* suffix(GLenum type) {
  switch (type) {
    case GL_BYTE:
      return "b";
    case GL_UNSIGNED_BYTE:
      return "ub";
    case GL_SHORT:
      return "s";
    case GL_UNSIGNED_SHORT:
      return "us";
    case GL_INT:
      return "i";
    case GL_UNSIGNED_INT:
      return "ui";
    case GL_FLOAT:
      return "f";
    default:
      return "d";
  }
}

// ",v0,v1..." for n values of type at p, formatted as their typed calls write them.
void appendValues(std::string& out, GLenum type, const unsigned char* p, int n) {
  char buf[400];
  for (int k = 0; k < n; k++) {
    const unsigned char* q = p + (size_t)k * (size_t)glsize::typeBytes(type);
    switch (type) {
      case GL_BYTE: {
        signed char v;
        memcpy(&v, q, 1);
        snprintf(buf, sizeof buf, ",%d", (int)v);
        break;
      }
      case GL_UNSIGNED_BYTE:
        snprintf(buf, sizeof buf, ",%d", (int)*q);
        break;
      case GL_SHORT: {
        GLshort v;
        memcpy(&v, q, sizeof v);
        snprintf(buf, sizeof buf, ",%d", (int)v);
        break;
      }
      case GL_UNSIGNED_SHORT: {
        GLushort v;
        memcpy(&v, q, sizeof v);
        snprintf(buf, sizeof buf, ",%d", (int)v);
        break;
      }
      case GL_INT:
      case GL_UNSIGNED_INT: {
        GLint v;
        memcpy(&v, q, sizeof v);
        snprintf(buf, sizeof buf, ",%d", (int)v);
        break;
      }
      case GL_FLOAT: {
        GLfloat v;
        memcpy(&v, q, sizeof v);
        buf[0] = ',';
        otFormatFixed(buf + 1, (int)sizeof buf - 1, (double)v);
        break;
      }
      default: {
        GLdouble v;
        memcpy(&v, q, sizeof v);
        buf[0] = ',';
        otFormatFixed(buf + 1, (int)sizeof buf - 1, v);
        break;
      }
    }
    out += buf;
  }
}

int elementBytes(ArrayKind kind, const Array& arr) {
  switch (kind) {
    case kNormal:
      return 3 * glsize::typeBytes(arr.type);
    case kIndex:
      return glsize::typeBytes(arr.type);
    case kEdgeFlag:
      return (int)sizeof(GLboolean);
    default:
      return arr.size * glsize::typeBytes(arr.type);
  }
}

void sendPointer(ArrayKind kind, const Array& arr, long long maxIndex) {
  long long elem = elementBytes(kind, arr);
  long long stride = arr.stride > 0 ? arr.stride : elem;
  long long n = maxIndex * stride + elem;
  if (maxIndex > glsize::kMaxBlock || n > glsize::kMaxBlock) n = 0;
  switch (kind) {
    case kVertex:
      line("glVertexPointer(%d,%d,%d);\n", arr.size, a(arr.type), arr.stride);
      break;
    case kNormal:
      line("glNormalPointer(%d,%d);\n", a(arr.type), arr.stride);
      break;
    case kColor:
      line("glColorPointer(%d,%d,%d);\n", arr.size, a(arr.type), arr.stride);
      break;
    case kIndex:
      line("glIndexPointer(%d,%d);\n", a(arr.type), arr.stride);
      break;
    case kEdgeFlag:
      line("glEdgeFlagPointer(%d);\n", arr.stride);
      break;
    case kTexCoord:
      line("glTexCoordPointer(%d,%d,%d);\n", arr.size, a(arr.type), arr.stride);
      break;
  }
  block(arr.pointer, n);
}

const unsigned char* elementAt(ArrayKind kind, const Array& arr, long long i) {
  long long elem = elementBytes(kind, arr);
  long long stride = arr.stride > 0 ? arr.stride : elem;
  return static_cast<const unsigned char*>(arr.pointer) + i * stride;
}

bool live(const Array& arr) {
  return arr.enabled && arr.pointer != nullptr;
}

// Reads lines until one begins with prefix (into buf, NUL-terminated). The client's events
// that come meanwhile are queued for hxPollEvent, as hxWait does, not lost.
bool awaitReply(PARAM_* p, const char* prefix, std::vector<char>& buf) {
  size_t plen = strlen(prefix);
  for (;;) {
    int n = hxtcpreceive(p, buf.data(), (int)buf.size());
    if (n == -2) continue;  // too long for any reply: dropped whole
    if (n < 0) return false;
    if (strncmp(buf.data(), prefix, plen) == 0) return true;
    while (n > 0 && (buf[(size_t)n - 1] == '\n' || buf[(size_t)n - 1] == '\r'))
      n--;
    if (n == 0) continue;
    std::lock_guard<std::mutex> hold(p->readLock);
    if ((int)p->queued.size() < HX_EVENT_QUEUE_LINES &&
        p->queuedBytes + n <= HX_EVENT_QUEUE_BYTES) {
      p->queued.emplace_back(buf.data(), (size_t)n);
      p->queuedBytes += n;
    }
  }
}

void genTextures(const char* name, GLsizei n, GLuint* names) {
  PARAM_* p = current.load();
  // GL generates nothing for n <= 0; the decoder would be asked to allocate a negative count.
  if (!active(p) || names == nullptr || n <= 0 || n > glsize::kMaxBlock / 4) return;
  memset(names, 0, (size_t)n * sizeof(GLuint));
  Hold hold;
  line("%s(%d);\n", name, (int)n);
  if (p == nullptr) {
    for (GLsizei k = 0; k < n; k++)
      names[k] = ++recordedTextures;
    return;
  }
  std::vector<char> buf(HX_MAX_LINE + 2);
  if (!awaitReply(p, "glputbytes(", buf)) return;
  int m = 0;
  if (sscanf(buf.data(), "glputbytes(%d", &m) != 1 || m < 1) return;
  // The names take at most what the caller's array holds; the rest is read and dropped so
  // that the stream stays in step.
  long long want = (long long)n * (long long)sizeof(GLuint);
  int take = (int)(m < want ? m : want);
  if (hxtcpreceive_binary(p, names, take) != take) return;
  char drain[4096];
  for (int rest = m - take; rest > 0;) {
    int k = rest < (int)sizeof drain ? rest : (int)sizeof drain;
    if (hxtcpreceive_binary(p, drain, k) != k) return;
    rest -= k;
  }
}

}  // namespace

Hold::Hold() : p_(current.load()) {
  if (p_ != nullptr) hxlock(p_);
}
Hold::~Hold() {
  if (p_ != nullptr) hxunlock(p_);
}

namespace {

// Where a line is formatted: room(k) gives space for k bytes (null when there is none),
// wrote(k) takes the k of them used.
struct StackLine {  // the usual place
  char buf[1024];
  size_t n = 0;
  char* room(size_t k) { return k <= sizeof buf - n ? buf + n : nullptr; }
  void wrote(size_t k) { n += k; }
};
struct HeapLine {  // for a line above it (huge doubles, long strings)
  std::string s;
  size_t at = 0;
  char* room(size_t k) {
    at = s.size();
    s.resize(at + k);
    return &s[at];
  }
  void wrote(size_t k) { s.resize(at + k); }
};

// The most a %f gives: the digits of the largest double, its sign, point and fraction.
constexpr size_t kMaxFixed = 400;

enum class Formatted { kDone, kFull, kBad };

// The lines use %d, %f and %s only. They are formatted here rather than by vsnprintf: a frame
// is tens of thousands of coordinates, and %f must write '.' whatever the locale the server
// runs in (the client reads the C form).
template <typename Line>
Formatted format(Line& out, const char* fmt, va_list args) {
  for (const char* f = fmt; *f != '\0'; f++) {
    const char* run = f;
    while (*f != '\0' && *f != '%')
      f++;
    if (size_t k = (size_t)(f - run)) {
      char* d = out.room(k);
      if (d == nullptr) return Formatted::kFull;
      memcpy(d, run, k);
      out.wrote(k);
    }
    if (*f == '\0') break;
    switch (*++f) {
      case 'd': {
        char* d = out.room(12);
        if (d == nullptr) return Formatted::kFull;
        int v = va_arg(args, int);
        char digits[12];
        char* end = digits + sizeof digits;
        char* q = end;
        unsigned long long m = v < 0 ? 0ull - (unsigned long long)v : (unsigned long long)v;
        do {
          *--q = (char)('0' + m % 10);
          m /= 10;
        } while (m != 0);
        if (v < 0) *--q = '-';
        memcpy(d, q, (size_t)(end - q));
        out.wrote((size_t)(end - q));
        break;
      }
      case 'f': {
        char* d = out.room(kMaxFixed);
        if (d == nullptr) return Formatted::kFull;
        int n = otFormatFixed(d, (int)kMaxFixed, va_arg(args, double));
        out.wrote(n > 0 ? std::min((size_t)n, kMaxFixed - 1) : 0);
        break;
      }
      case 's': {
        const char* v = va_arg(args, const char*);
        size_t k = v != nullptr ? strlen(v) : 0;
        char* d = out.room(k);
        if (d == nullptr) return Formatted::kFull;
        if (k > 0) memcpy(d, v, k);
        out.wrote(k);
        break;
      }
      case '%': {
        char* d = out.room(1);
        if (d == nullptr) return Formatted::kFull;
        *d = '%';
        out.wrote(1);
        break;
      }
      default:  // not a conversion of the lines: nothing sensible can follow
        return Formatted::kBad;
    }
  }
  return Formatted::kDone;
}

}  // namespace

void line(const char* fmt, ...) {
  PARAM_* p = current.load();
  if (!active(p)) return;
  va_list args, again;
  va_start(args, fmt);
  va_copy(again, args);
  StackLine small;
  Formatted r = format(small, fmt, args);
  va_end(args);
  if (r == Formatted::kDone) {
    sendText(p, small.buf, small.n);
  } else if (r == Formatted::kFull) {
    HeapLine big;
    if (format(big, fmt, again) == Formatted::kDone) sendText(p, big.s.data(), big.s.size());
  }
  va_end(again);
}

void block(const void* data, long long n) {
  PARAM_* p = current.load();
  if (!active(p)) return;
  if (data == nullptr || n < 0 || n > glsize::kMaxBlock) n = 0;
  Hold hold;
  char head[40];
  int len = snprintf(head, sizeof head, "glbytes(%d)\n", (int)n);
  sendText(p, head, (size_t)len);
  if (n > 0) sendText(p, static_cast<const char*>(data), (size_t)n);
}

glsize::Unpack& unpack() {
  return state.unpack;
}

void imageBlock(int dims, long long w, long long h, long long d, GLenum format, GLenum type,
                const void* pixels) {
  block(pixels, glsize::imageBytes(state.unpack, dims, w, h, d, format, type));
}

void setPointer(ArrayKind kind, int size, GLenum type, int stride, const void* pointer) {
  if (!validPointer(kind, size, type, stride)) return;  // GL keeps the old array too
  Array& arr = arrayOf(kind);
  arr.size = size;
  arr.type = type;
  arr.stride = stride;
  arr.pointer = pointer;
}

void setClientState(GLenum array, bool enabled) {
  switch (array) {
    case GL_VERTEX_ARRAY:
      state.arrays[kVertex].enabled = enabled;
      break;
    case GL_NORMAL_ARRAY:
      state.arrays[kNormal].enabled = enabled;
      break;
    case GL_COLOR_ARRAY:
      state.arrays[kColor].enabled = enabled;
      break;
    case GL_INDEX_ARRAY:
      state.arrays[kIndex].enabled = enabled;
      break;
    case GL_EDGE_FLAG_ARRAY:
      state.arrays[kEdgeFlag].enabled = enabled;
      break;
    case GL_TEXTURE_COORD_ARRAY:
      state.texCoords[state.activeUnit].enabled = enabled;
      break;
    default:
      break;
  }
}

void setClientActiveTexture(GLenum unit) {
  if (unit >= GL_TEXTURE0 && unit < GL_TEXTURE0 + kTextureUnits)
    state.activeUnit = (int)(unit - GL_TEXTURE0);
}

void pushClientAttrib(GLbitfield mask) {
  if (saved.size() < 16) saved.push_back({mask, state});
}

void popClientAttrib() {
  if (saved.empty()) return;
  Saved s = saved.back();
  saved.pop_back();
  if (s.mask & GL_CLIENT_PIXEL_STORE_BIT) state.unpack = s.state.unpack;
  if (s.mask & GL_CLIENT_VERTEX_ARRAY_BIT) {
    glsize::Unpack keep = state.unpack;
    state = s.state;
    state.unpack = keep;
  }
}

void sendArrays(long long maxIndex) {
  if (maxIndex < 0) return;
  for (int k = 0; k < kTexCoord; k++)
    if (live(state.arrays[k])) sendPointer((ArrayKind)k, state.arrays[k], maxIndex);
  for (int u = 0; u < kTextureUnits; u++) {
    if (!live(state.texCoords[u])) continue;
    if (u != state.activeUnit) line("glClientActiveTextureARB(%d);\n", GL_TEXTURE0 + u);
    sendPointer(kTexCoord, state.texCoords[u], maxIndex);
    if (u != state.activeUnit)
      line("glClientActiveTextureARB(%d);\n", GL_TEXTURE0 + state.activeUnit);
  }
}

void arrayElement(long long i) {
  PARAM_* p = current.load();
  if (!active(p) || i < 0 || i > glsize::kMaxBlock) return;
  Hold hold;
  std::string out;
  // The order of GL's own definition of glArrayElement: the vertex comes last.
  const Array& edge = state.arrays[kEdgeFlag];
  if (live(edge))
    out += "glEdgeFlag(" + std::to_string((int)*elementAt(kEdgeFlag, edge, i)) + ");\n";
  for (int u = 0; u < kTextureUnits; u++) {
    const Array& t = state.texCoords[u];
    if (!live(t)) continue;
    std::string name = std::to_string(t.size) + suffix(t.type);
    if (u == 0) {
      out += "glTexCoord" + name + "v(";
      std::string values;
      appendValues(values, t.type, elementAt(kTexCoord, t, i), t.size);
      out += values.substr(1) + ");\n";
    } else {
      out += "glMultiTexCoord" + name + "vARB(" + std::to_string(GL_TEXTURE0 + u);
      appendValues(out, t.type, elementAt(kTexCoord, t, i), t.size);
      out += ");\n";
    }
  }
  struct {
    ArrayKind kind;
    const char* name;
  } const rest[] = {
      {kColor, "glColor"}, {kIndex, "glIndex"}, {kNormal, "glNormal"}, {kVertex, "glVertex"}};
  for (const auto& r : rest) {
    const Array& arr = state.arrays[r.kind];
    if (!live(arr)) continue;
    int n = r.kind == kNormal ? 3 : r.kind == kIndex ? 1 : arr.size;
    std::string values;
    appendValues(values, arr.type, elementAt(r.kind, arr, i), n);
    out += r.name;
    if (r.kind != kIndex) out += std::to_string(n);
    out += std::string(suffix(arr.type)) + "v(" + values.substr(1) + ");\n";
  }
  if (!out.empty()) sendText(p, out.data(), out.size());
}

long long maxIndex(long long count, GLenum type, const void* indices) {
  if (count <= 0 || indices == nullptr || count > glsize::kMaxBlock) return -1;
  const unsigned char* q = static_cast<const unsigned char*>(indices);
  long long top = -1;
  for (long long k = 0; k < count; k++) {
    long long v;
    if (type == GL_UNSIGNED_BYTE) {
      v = q[k];
    } else if (type == GL_UNSIGNED_SHORT) {
      GLushort s;
      memcpy(&s, q + 2 * k, 2);
      v = s;
    } else if (type == GL_UNSIGNED_INT) {
      GLuint s;
      memcpy(&s, q + 4 * k, 4);
      v = s;
    } else {
      return -1;
    }
    if (v > top) top = v;
  }
  return top;
}

}  // namespace glenc

using glenc::line;

int glencode_set_param(PARAM_* p) {
  glenc::current.store(p);
  return 0;
}

PARAM_* glencode_param() {
  return glenc::current.load();
}

int glencode_record(FILE* f) {
  glenc::recordedLists = glenc::recordedTextures = 0;
  glenc::recording.store(f);
  return 0;
}

void glenc::sendRaw(const char* bytes, size_t n) {
  glenc::sendText(glenc::current.load(), bytes, n);
}

int hxGlBegin(PARAM_* p, int id) {
  if (p == nullptr) return -1;
  // The lock is kept even when the line cannot be sent: hxGlEnd releases it in every case.
  // A frame is thousands of short lines: they are held and sent in large blocks (and before
  // every wait for a reply), not one segment each.
  hxHoldOutput(p);
  glenc::current.store(p);
  char buf[40];
  int n = snprintf(buf, sizeof buf, "hxGlBegin(%d)\n", id);
  if (hxtcpsend(p, buf, n) != n) return -1;
  // The whole frame goes out at hxGlEnd, in as few segments as it takes; a connection the
  // client has closed shows here all the same, without sending.
  pollfd pfd{p->s, POLLRDHUP, 0};
  if (p->stop.load() || (poll(&pfd, 1, 0) == 1 && (pfd.revents & (POLLRDHUP | POLLHUP | POLLERR))))
    return -1;
  return 0;
}

int hxGlEnd(PARAM_* p) {
  if (p == nullptr) return -1;
  int r = hxtcpsend(p, "hxGlEnd()\n", -1) < 0 ? -1 : hxWait(p, "hxGlEnd");
  if (hxReleaseOutput(p) < 0) r = -1;
  return r < 0 ? -1 : 0;
}

extern "C" {

GLuint glGenLists(GLsizei range) {
  PARAM_* p = glenc::current.load();
  if (!glenc::active(p)) return 0;
  glenc::Hold hold;
  line("glGenLists(%d);\n", (int)range);
  if (p == nullptr) {  // recording: names of its own, one after the other
    if (range <= 0) return 0;
    GLuint first = glenc::recordedLists + 1;
    glenc::recordedLists += (GLuint)range;
    return first;
  }
  std::vector<char> buf(HX_MAX_LINE + 2);
  if (!glenc::awaitReply(p, "gllongresponse(", buf)) return 0;
  long v = 0;
  // 0 is GL's own answer for "no lists".
  if (sscanf(buf.data(), "gllongresponse(%ld", &v) != 1 || v < 0 || v > 0xffffffffL) return 0;
  return (GLuint)v;
}

void glGenTextures(GLsizei n, GLuint* textures) {
  glenc::genTextures("glGenTextures", n, textures);
}
void glGenTexturesEXT(GLsizei n, GLuint* textures) {
  glenc::genTextures("glGenTexturesEXT", n, textures);
}

}  // extern "C"
