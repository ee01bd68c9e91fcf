#include "otbuffer.h"
#include "otlog.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

otBuffer::otBuffer() : bufferSize(0) {
  setViews(nullptr);
}

otBuffer::~otBuffer() {
  free(c);
}

void otBuffer::setViews(void* buffer) {
  // malloc's alignment suits every view.
  c = static_cast<char*>(buffer);
  uc = static_cast<unsigned char*>(buffer);
  s = static_cast<short*>(buffer);
  us = static_cast<unsigned short*>(buffer);
  i = static_cast<int*>(buffer);
  ui = static_cast<unsigned int*>(buffer);
  l = static_cast<long*>(buffer);
  f = static_cast<float*>(buffer);
  d = static_cast<double*>(buffer);
}

int otBuffer::resize(int n) {
  if (n <= 0) return -1;
  free(c);
  setViews(nullptr);
  bufferSize = 0;
  void* buffer = calloc((size_t)n, 1);
  if (buffer == nullptr) return -1;
  setViews(buffer);
  bufferSize = n;
  return n;
}

int otBuffer::setText(const char* text) {
  if (text == nullptr) return -1;
  size_t len = strlen(text);
  if (len >= (size_t)bufferSize) {
    otLog(OT_LOG_WARNING, "otBuffer::setText() text  is too long\n");
    return -1;
  }
  memcpy(c, text, len + 1);
  return (int)len;
}

char* otBuffer::line(int n) {
  if (c == nullptr || n < 0) return nullptr;
  int pos = 0;
  for (int k = 0; k < n; k++) {
    // The search stays inside the buffer: its text need not be terminated.
    const void* lf = memchr(c + pos, '\n', (size_t)(bufferSize - pos));
    if (lf == nullptr) return nullptr;
    pos = (int)(static_cast<const char*>(lf) - c) + 1;
    if (pos >= bufferSize) return nullptr;
  }
  return c + pos;
}
