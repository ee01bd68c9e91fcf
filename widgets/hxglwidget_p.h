// Inside HxGLWidget: the decoder of the GL command stream, kept apart from the Qt OpenGL
// headers (it includes GL/gl.h and GL/glext.h itself).
#ifndef HXGLWIDGET_P_H
#define HXGLWIDGET_P_H

#include <memory>
#include <string>
#include <vector>

#include "glsizes.h"

class HxGLWidget;

using HxGLProc = void (*)();
using HxGLResolver = HxGLProc (*)(const char* name);

class HxGLDecoder {
 public:
  // Outcome of a handler: carry on, the block ended ("hxGlEnd()" came, acknowledged), the
  // connection was lost, the call awaits a block that has not come yet (it is run again, from
  // its start, once it has).
  enum Result { kGo = 0, kEnd = -1, kLost = -2, kWait = -3 };
  // What awaiting a block gave.
  enum Block { kData, kEmpty, kBlockEnd, kBlockLost, kBlockWait };

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

  // As HxGLWidget::interpret. Nothing waits for the server: a call that reads a block keeps
  // its line until the block has come ("glbytes(n)" and n bytes, given to blockPart), and is
  // then run again from its start with the blocks that came (lines in between are dropped,
  // as no call can be carried out before the one that awaits its data).
  int interpret(const char* line);
  // The next block for the call being run: kData with at most keep bytes of it in out
  // (keep < 0: the whole block, up to glsize::kMaxBlock; the rest is dropped as it arrives),
  // kEmpty, kBlockEnd; kBlockWait when it has not come yet (the call returns kWait).
  Block getbytes(std::vector<unsigned char>& out, long long keep);
  // Drops the n bytes that follow on the connection (a block of no call). Always true.
  bool skip(long long n);
  // interpret for the stream: 2 when the line announced a block that is now to be taken.
  int streamLine(const char* line);
  // A block the stream must now take from the connection (bytes; 0: none), once.
  long long takeAnnounced();
  bool announcedBlock() const { return announced_ > 0; }
  // A part of that block; last for its final one. As interpret: -1 when the call it completed
  // ended the GL block (or lost the connection), else 0.
  int blockPart(const char* data, int len, bool last);
  // Forgets a call that awaits its block (the connection was lost).
  void abandon();
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
  struct Got {
    Block kind;
    std::vector<unsigned char> bytes;
  };
  // The parsed line's handler: a Result (kWait included) or 0 / -1 as interpret.
  int dispatch(const char* text);
  int awaitingLine(const char* text);
  int rerun();
  void startBlock(long long len, long long keep, bool forCall);

  HxGLWidget* w_;
  std::string waiting_;   // the line of the call that awaits a block ("" when none)
  std::vector<Got> got_;  // the blocks that came for it so far
  size_t serve_ = 0;      // the next of them that getbytes gives
  long long want_ = 0;    // what the call keeps of the block it awaits
  long long announced_ = 0;
  long long inLeft_ = 0;  // bytes of the block now arriving still to come
  long long inKeep_ = 0;
  bool inForCall_ = false;
  bool inFailed_ = false;
  std::vector<unsigned char> in_;
  bool live_ = false;
  bool listCursor_ = false;
  glsize::Unpack unpack_;
  Arrays arrays_;
  std::vector<Saved> saved_;
  std::vector<unsigned char> feedback_;  // GL writes feedback here after glFeedbackBuffer
};

#endif
