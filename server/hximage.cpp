// The image calls: picture sizes read from the file headers themselves (the library has no
// image decoder), and the lines that make the client's image widget show a downloaded file or
// a JPEG block.
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <vector>

#include "hxserver.h"
#include "otcutil.h"

namespace {

// Reads through the header; every read past the end yields 0 and marks the reader bad, so a
// parser checks ok() once after its reads instead of before each.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, long size) : d(data), n(size), bad(false) {}
  bool has(long pos, long len) const { return pos >= 0 && len >= 0 && pos <= n && len <= n - pos; }
  uint8_t u8(long pos) { return has(pos, 1) ? d[pos] : fail(); }
  uint32_t be16(long pos) { return (uint32_t)u8(pos) << 8 | u8(pos + 1); }
  uint32_t be32(long pos) { return be16(pos) << 16 | be16(pos + 2); }
  uint32_t le16(long pos) { return (uint32_t)u8(pos + 1) << 8 | u8(pos); }
  uint32_t le32(long pos) { return le16(pos + 2) << 16 | le16(pos); }
  bool matches(long pos, const char* bytes, long len) const {
    return has(pos, len) && memcmp(d + pos, bytes, (size_t)len) == 0;
  }
  const uint8_t* at(long pos) const { return d + pos; }
  long size() const { return n; }
  bool ok() const { return !bad; }

 private:
  uint8_t fail() {
    bad = true;
    return 0;
  }
  const uint8_t* d;
  long n;
  bool bad;
};

struct Header {
  long w = 0, h = 0, depth = 0;
};

// BITMAPFILEHEADER (14 bytes: "BM", file size, reserved, pixel offset), then the DIB header,
// whose first field is its own size: 12 for the OS/2 core header (16-bit width and height),
// 40 and more for the Windows headers (signed 32-bit width and height, negative height for
// top-down rows).
bool bmp(ByteReader& r, Header* out) {
  uint32_t dib = r.le32(14);
  uint32_t planes, bits;
  if (dib == 12) {
    out->w = r.le16(18);
    out->h = r.le16(20);
    planes = r.le16(22);
    bits = r.le16(24);
  } else if (dib >= 40 && dib <= 124) {
    int32_t h = (int32_t)r.le32(22);
    out->w = (int32_t)r.le32(18);
    out->h = h == INT32_MIN ? 0 : (h < 0 ? -(long)h : h);
    planes = r.le16(26);
    bits = r.le16(28);
  } else {
    return false;
  }
  out->depth = bits;
  bool knownDepth =
      bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
  return r.ok() && planes == 1 && knownDepth;
}

uint32_t crc32(const uint8_t* p, long n) {
  uint32_t c = 0xffffffffu;
  for (long i = 0; i < n; i++) {
    c ^= p[i];
    for (int k = 0; k < 8; k++)
      c = (c >> 1) ^ (0xedb88320u & (0u - (c & 1)));
  }
  return ~c;
}

// Signature (8 bytes), then the IHDR chunk: length 13, "IHDR", width, height (big-endian,
// 1..2^31-1), bit depth, colour type, compression, filter, interlace, and the CRC over type
// and data.
bool png(ByteReader& r, Header* out) {
  if (r.be32(8) != 13 || !r.matches(12, "IHDR", 4)) return false;
  uint32_t w = r.be32(16), h = r.be32(20), bitDepth = r.u8(24), colour = r.u8(25);
  uint32_t crc = r.be32(29);
  if (!r.ok() || crc != crc32(r.at(12), 17)) return false;
  if (w == 0 || h == 0 || w > INT_MAX || h > INT_MAX) return false;
  // Channels of each colour type and the bit depths it allows (bit d set: depth d).
  static const struct {
    uint32_t colour;
    int channels;
    uint32_t depths;
  } types[] = {{0, 1, 1u << 1 | 1u << 2 | 1u << 4 | 1u << 8 | 1u << 16},  // grey
               {2, 3, 1u << 8 | 1u << 16},                                // RGB
               {3, 1, 1u << 1 | 1u << 2 | 1u << 4 | 1u << 8},             // palette
               {4, 2, 1u << 8 | 1u << 16},                                // grey and alpha
               {6, 4, 1u << 8 | 1u << 16}};                               // RGBA
  int channels = 0;
  uint32_t depths = 0;
  for (const auto& t : types)
    if (t.colour == colour) {
      channels = t.channels;
      depths = t.depths;
    }
  if (bitDepth > 16 || (depths & (1u << bitDepth)) == 0) return false;
  out->w = w;
  out->h = h;
  out->depth = (long)bitDepth * channels;
  return true;
}

// SOI, then marker segments: 0xFF (fill bytes 0xFF may repeat), the marker code, and for all
// but the standalone markers a big-endian length that counts itself. The frame header SOFn
// (C0..CF without C4 DHT, C8 JPG, CC DAC) holds precision, height, width and the component
// count. Scan data (SOS) or the end (EOI) before a frame header means there is none.
bool jpeg(ByteReader& r, Header* out) {
  long pos = 2;
  for (;;) {
    if (r.u8(pos) != 0xff) return false;
    while (r.ok() && r.u8(pos + 1) == 0xff)
      pos++;
    uint8_t marker = r.u8(pos + 1);
    if (!r.ok()) return false;
    pos += 2;
    if (marker == 0x01 || (marker >= 0xd0 && marker <= 0xd7)) continue;  // TEM, RSTn
    if (marker == 0xd8 || marker == 0xd9 || marker == 0xda || marker == 0x00) return false;
    uint32_t len = r.be16(pos);
    if (!r.ok() || len < 2) return false;
    bool sof =
        marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc;
    if (sof) {
      uint32_t precision = r.u8(pos + 2), h = r.be16(pos + 3), w = r.be16(pos + 5);
      uint32_t components = r.u8(pos + 7);
      // A height of 0 is left to a later DNL segment, which the client's decoder may lack.
      if (!r.ok() || !r.has(pos, len) || len < 8 + 3 * components || w == 0 || h == 0 ||
          components == 0 || components > 4 ||
          (precision != 8 && precision != 12 && precision != 16))
        return false;
      out->w = w;
      out->h = h;
      out->depth = (long)precision * components;
      return true;
    }
    pos += len;
  }
}

// "GIF87a" or "GIF89a", the logical screen's width and height (little-endian), and a packed
// byte whose top bit says a global colour table of 2^(bits+1) entries follows.
bool gif(ByteReader& r, Header* out) {
  out->w = r.le16(6);
  out->h = r.le16(8);
  uint8_t packed = r.u8(10);
  out->depth = (packed & 0x80) ? (packed & 7) + 1 : 8;
  return r.ok() && out->w > 0 && out->h > 0;
}

void report(const Header& hd, int* w, int* h, int* depth) {
  if (w) *w = (int)hd.w;
  if (h) *h = (int)hd.h;
  if (depth) *depth = (int)hd.depth;
}

// The local file, whole, within HX_MAX_DOWNLOAD bytes (what hxDownloadFile would send).
bool readFile(const char* filename, std::vector<uint8_t>* data) {
  int fd = open(filename, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= HX_MAX_DOWNLOAD;
  if (ok) data->resize((size_t)st.st_size);
  size_t got = 0;
  while (ok && got < data->size()) {
    ssize_t n = read(fd, data->data() + got, data->size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;  // the file shrank: what was read is the file
      data->resize(got);
      break;
    }
    got += (size_t)n;
  }
  close(fd);
  return ok;
}

// The name the client will know the downloaded file by, or null when it would refuse it.
const char* clientName(const char* file) {
  if (file == nullptr) return nullptr;
  const char* slash = strrchr(file, '/');
  const char* name = slash ? slash + 1 : file;
  if (*name == '\0' || !otIsLocalFileName(name)) return nullptr;
  return name;
}

bool validId(const PARAM_* p, int id) {
  return id >= 0 && (p->idCount <= 0 || id < p->idCount);
}

// @download of file, then the line that names it (send(basename)), under one lock so that no
// other thread's line comes between the bytes and the line that uses them.
template <class Send>
int downloadAndName(PARAM_* p, const char* file, Send send) {
  const char* name = clientName(file);
  if (name == nullptr) return -1;
  hxlock(p);
  int r = hxDownloadFile(p, file);
  if (r == 0) r = send(name);
  hxunlock(p);
  return r < 0 ? -1 : 0;
}

}  // namespace

int hxImageHeader(const void* data, long size, int* w, int* h, int* depth) {
  Header hd;
  report(hd, w, h, depth);
  if (data == nullptr || size < 0) return -1;
  ByteReader r(static_cast<const uint8_t*>(data), size);
  bool ok = false;
  if (r.matches(0, "BM", 2))
    ok = bmp(r, &hd);
  else if (r.matches(0, "\x89PNG\r\n\x1a\n", 8))
    ok = png(r, &hd);
  else if (r.matches(0, "\xff\xd8", 2))
    ok = jpeg(r, &hd);
  else if (r.matches(0, "GIF87a", 6) || r.matches(0, "GIF89a", 6))
    ok = gif(r, &hd);
  if (!ok || hd.w <= 0 || hd.h <= 0 || hd.w > INT_MAX || hd.h > INT_MAX) return -1;
  report(hd, w, h, depth);
  return 0;
}

int hxImageFileHeader(const char* filename, int* w, int* h, int* depth) {
  report(Header(), w, h, depth);
  std::vector<uint8_t> data;
  if (filename == nullptr || !readFile(filename, &data)) return -1;
  return hxImageHeader(data.data(), (long)data.size(), w, h, depth);
}

int hxQImage(PARAM_* p, int id, int parent, const char* file, int* w, int* h, int* depth) {
  report(Header(), w, h, depth);
  if (p == nullptr || !validId(p, id) || !validId(p, parent) || clientName(file) == nullptr)
    return -1;
  int iw = 0, ih = 0, idepth = 0;
  if (hxImageFileHeader(file, &iw, &ih, &idepth) < 0) return -1;
  auto line = [&](const char* name) { return hxSendCommand(p, "QImage", "iis", id, parent, name); };
  if (downloadAndName(p, file, line) < 0) return -1;
  if (w) *w = iw;
  if (h) *h = ih;
  if (depth) *depth = idepth;
  return 0;
}

int hxSetImage(PARAM_* p, int id, const char* file) {
  if (p == nullptr || !validId(p, id)) return -1;
  auto line = [&](const char* name) { return hxSendCommand(p, "setImage", "is", id, name); };
  return downloadAndName(p, file, line);
}

int hxSetJpegImage(PARAM_* p, int id, const void* data, int n) {
  if (p == nullptr || !validId(p, id) || data == nullptr || n < 1 || n > HX_MAX_JPEG_IMAGE)
    return -1;
  hxlock(p);
  int r = hxSendCommand(p, "setJpegImage", "ii", id, n);
  if (r == 0 && hxtcpsend_binary(p, data, n) < 0) r = -1;
  hxunlock(p);
  return r;
}
