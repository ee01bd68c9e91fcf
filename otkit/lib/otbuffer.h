// otBuffer: a resizable byte buffer with typed views of the same bytes and access to its
// text by lines.
#ifndef OTBUFFER_H
#define OTBUFFER_H

class otBuffer {
 public:
  otBuffer();
  virtual ~otBuffer();
  otBuffer(const otBuffer&) = delete;
  otBuffer& operator=(const otBuffer&) = delete;

  // Replaces the buffer by n zeroed bytes (the old content is dropped) and points every view
  // at it. Returns n; -1 for n <= 0 or when n bytes cannot be allocated (the buffer is then
  // gone and the size 0).
  int resize(int n);
  // The size of the buffer in bytes, 0 without one.
  int size() const { return bufferSize; }
  // Copies text with its NUL when its length is below the size; returns the length. Else
  // prints "otBuffer::setText() text  is too long" and returns -1; -1 also for a null text.
  int setText(const char* text);
  // The position just behind the n-th line feed of the buffer (n = 0: its start); null
  // without a buffer, for n < 0, when fewer line feeds exist or the position is at or beyond
  // the end. The text is not cut at the next line feed.
  char* line(int n);

  // Views of the same buffer, all null without one.
  char* c;
  unsigned char* uc;
  short* s;
  unsigned short* us;
  int* i;
  unsigned int* ui;
  long* l;
  float* f;
  double* d;

 private:
  void setViews(void* buffer);
  int bufferSize;
};

#endif
