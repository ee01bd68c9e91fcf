// Inside HxGLWidget: the decoder of the GL command stream, kept apart from the Qt OpenGL
// headers (it includes GL/gl.h and GL/glext.h itself).
#ifndef HXGLWIDGET_P_H
#define HXGLWIDGET_P_H

#include <memory>
#include <vector>

#include "glsizes.h"

class HxGLWidget;

using HxGLProc = void (*)();
using HxGLResolver = HxGLProc (*)(const char* name);

class HxGLDecoder {
 public:
  // Outcome of a handler: carry on, the block ended ("hxGlEnd()" came, acknowledged), the
  // connection was lost.
  enum Result { kGo = 0, kEnd = -1, kLost = -2 };
  // What awaiting a block gave.
  enum Block { kData, kEmpty, kBlockEnd, kBlockLost };

  explicit HxGLDecoder(HxGLWidget* w) : w_(w) {}
  ~HxGLDecoder();
  HxGLDecoder(const HxGLDecoder&) = delete;
  HxGLDecoder& operator=(const HxGLDecoder&) = delete;

  // Sets how GL entry points are found (once, with a context current).
  static void setResolver(HxGLResolver r);
  static HxGLProc proc(const char* name);

  // live: a context is current, GL calls are carried out; otherwise lines and blocks are read
  // and replies given, nothing more.
  void setLive(bool live) { live_ = live; }
  bool live() const { return live_; }

  // As HxGLWidget::interpret.
  int interpret(const char* line);
  // Awaits the next block: keeps at most keep bytes of it in out (keep < 0: the whole block,
  // up to glsize::kMaxBlock), drains the rest. kData also for a block of which nothing could
  // be kept (out then shorter than announced).
  Block getbytes(std::vector<unsigned char>& out, long long keep);
  // Drains n bytes of the connection; false when it was lost.
  bool skip(long long n);
  // Sends "hxGlEnd();\n"; false when the connection was lost.
  bool acknowledge();
  // Forgets the client state (a new context starts from GL's defaults).
  void reset();
  // The count of command names the decoder knows.
  static int vocabularySize();
  void noteLists(long first, long count);
  // Readies the current context for the stream (before every block).
  void prepare();
  // Finishes a block on the context (flush), restores the cursor of an unfinished list.
  void endBlock();
  // Deletes the lists firstList..lastList of the widget (context current).
  void deleteLists(int first, int last);

  HxGLWidget* widget() const { return w_; }
  glsize::Unpack& unpack() { return unpack_; }

  // Client-side arrays: the blocks GL reads at the draws.
  enum ArrayKind { kVertex, kNormal, kColor, kIndex, kEdgeFlag, kTexCoord };
  static constexpr int kUnits = 8;
  struct Array {
    bool enabled = false;
    int size = 0;
    unsigned type = 0;
    int stride = 0;
    std::shared_ptr<std::vector<unsigned char>> data;
  };
  struct Arrays {
    Array fixed[kTexCoord];
    Array tex[kUnits];
    int unit = 0;
  };
  Arrays& arrays() { return arrays_; }
  Array& arrayOf(ArrayKind kind) {
    return kind == kTexCoord ? arrays_.tex[arrays_.unit] : arrays_.fixed[kind];
  }
  // True when every enabled array holds elements 0..maxIndex (nothing for maxIndex < 0).
  bool arraysCover(long long maxIndex) const;
  static long long elementBytes(ArrayKind kind, const Array& a);

  struct Saved {
    unsigned mask;
    Arrays arrays;
    glsize::Unpack unpack;
  };
  std::vector<Saved>& savedClient() { return saved_; }
  std::vector<unsigned char>& feedback() { return feedback_; }
  bool& listCursor() { return listCursor_; }

 private:
  HxGLWidget* w_;
  bool live_ = false;
  bool listCursor_ = false;
  glsize::Unpack unpack_;
  Arrays arrays_;
  std::vector<Saved> saved_;
  std::vector<unsigned char> feedback_;  // GL writes feedback here after glFeedbackBuffer
};

#endif
