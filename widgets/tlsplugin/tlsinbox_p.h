// Internal to the TLS communication plug-in: what it has decrypted and not yet handed out, cut
// into lines and blocks, and the pinned fingerprint's text form. Plain C++ without OpenSSL, so
// that the fuzz target and the tests reach it alone.
#ifndef OTCLIENT_TLSINBOX_P_H
#define OTCLIENT_TLSINBOX_P_H

#include <stddef.h>
#include <string.h>

#include <string>
#include <vector>

#include "otnumber.h"

// Bytes in arrival order: appended at the end (room, then commit), taken from the front. One
// TLS record holds many lines; they wait here until the connection layer asks for them.
class otTlsInbox {
 public:
  // Room for at least n more bytes at the end (valid until the next call of a non-const method).
  char* room(size_t n) {
    if (pos_ > 0 && (pos_ >= buf_.size() / 2 || buf_.size() - end_ < n)) {
      // What was taken is dropped before the buffer grows: it never holds more than twice what
      // is waiting plus one read.
      memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
      end_ -= pos_;
      pos_ = 0;
    }
    if (buf_.size() - end_ < n) buf_.resize(end_ + n);
    return buf_.data() + end_;
  }
  // n bytes written into room() arrived; n beyond the room given is refused (false).
  bool commit(size_t n) {
    if (n > buf_.size() - end_) return false;
    end_ += n;
    return true;
  }
  size_t size() const { return end_ - pos_; }
  const char* data() const { return buf_.data() + pos_; }
  // The length of the next piece that a read of a line into max bytes takes: up to and
  // including the first line feed within the first max bytes, or max bytes of a longer line.
  // 0 while neither has arrived (or max is 0).
  size_t lineLength(size_t max) const {
    size_t look = size() < max ? size() : max;
    const void* nl = look > 0 ? memchr(data(), '\n', look) : nullptr;
    if (nl != nullptr) return (size_t)(static_cast<const char*>(nl) - data()) + 1;
    return size() >= max ? max : 0;
  }
  // Copies the first n bytes (at most size()) to out and drops them. Returns the count.
  size_t take(char* out, size_t n) {
    if (n > size()) n = size();
    if (n > 0) memcpy(out, data(), n);
    pos_ += n;
    if (pos_ == end_) pos_ = end_ = 0;
    return n;
  }
  void clear() {
    pos_ = end_ = 0;
    buf_.clear();
    buf_.shrink_to_fit();
  }

 private:
  std::vector<char> buf_;
  size_t pos_ = 0;
  size_t end_ = 0;
};

// A SHA-256 fingerprint as given: 64 hex digits, colons anywhere, either case. True with the
// 32 bytes in out; false for anything else (other characters, too few or too many digits).
inline bool otTlsParseFingerprint(const char* text, unsigned char out[32]) {
  if (text == nullptr) return false;
  int digits = 0;
  for (const char* p = text; *p != '\0'; p++) {
    char c = *p;
    if (c == ':') continue;
    int v;
    if (c >= '0' && c <= '9')
      v = c - '0';
    else if (c >= 'a' && c <= 'f')
      v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      v = c - 'A' + 10;
    else
      return false;
    if (digits >= 64) return false;
    if (digits % 2 == 0)
      out[digits / 2] = (unsigned char)(v << 4);
    else
      out[digits / 2] = (unsigned char)(out[digits / 2] | v);
    digits++;
  }
  return digits == 64;
}

// The form servers print and operators compare: "AB:CD:...", upper case.
inline std::string otTlsFormatFingerprint(const unsigned char* bytes, size_t n) {
  return otHexBytes(bytes, n, true);
}

#endif
