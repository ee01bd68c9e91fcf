// HxGLWidget: the display client's OpenGL widget. A display server linked with the GL command
// stream encoder draws on it remotely: the client's interpreter, on "hxGlBegin(id)", starts
// the GL stream, which takes GL lines (and their binary blocks "glbytes(n)\n" + n bytes) from
// the connection and carries them out on the widget's own context until "hxGlEnd()", which it
// acknowledges with "hxGlEnd();\n". The lines and blocks come as they arrive, never waited for. The
// widget reports to the server:
//
//   QPlotMouseMoved(id,x,y)            a mouse move event (a button held)
//   QPushButtonPressed(id) -xy=x,y     a button pressed
//   QPushButtonReleased(id) -xy=x,y    a button released over the widget
//   mouseEnterLeave(id,1|0)            pointer entered / left
//   resizeGL(id,w,h)                   every change of size
//   paintGL(id)                        every other paint request (the server answers with a
//                                      new GL block, whose end repaints once more)
//
// The widget is a QOpenGLWidget with a compatibility-profile context (the stream is OpenGL
// 1.x): it draws into the widget's frame buffer object, which Qt shows and which
// grabFramebuffer reads back. A widget that has not been shown yet has no context: its GL
// blocks are read and acknowledged (replies included) but not carried out.
//
// What the decoder guarantees against what arrives: a block is kept only up to what GL reads
// for the call (computed from the arguments and the unpack state, as the encoder does); a
// shorter block skips the call, a longer one is drained; vertex-array blocks live with the
// widget until their array gets a new one, and a draw that would read past an array's block
// is skipped; over-long lines are dropped whole. Nothing that arrives ends the client.
#ifndef HXGLWIDGET_H
#define HXGLWIDGET_H

#include <QOpenGLWidget>
#include <memory>

class HxGLDecoder;

class HxGLWidget : public QOpenGLWidget {
  Q_OBJECT

 public:
  // The longest line the decoder reads, line feed included (a line of six doubles written
  // with %f can take about 2000 characters); longer lines are dropped whole.
  enum { LINE_SIZE = 4096 };

  // s: the connection handle (may be null: nothing is read or sent); id: the widget's id,
  // the first number of every event line. shareWidget is accepted for the constructor's
  // shape only: QOpenGLWidget contexts share when the application sets
  // Qt::AA_ShareOpenGLContexts.
  HxGLWidget(QWidget* parent, int id, int* s, const char* name = nullptr,
             const QOpenGLWidget* shareWidget = nullptr);
  ~HxGLWidget() override;
  HxGLWidget(const HxGLWidget&) = delete;
  HxGLWidget& operator=(const HxGLWidget&) = delete;

  // Stream input, a line at a time, so that nothing waits for the server (the connection's
  // GL stream, otstreams.h, feeds it): beginStream() at "hxGlBegin(id)"; streamLine() carries
  // out a line (cut: it did not fit LINE_SIZE and is dropped whole): -1 once the block has
  // ended ("hxGlEnd()", acknowledged, the picture shown) or the connection was dropped, 1 when
  // the line announced a binary block that follows, else 0. streamBlockWanted() then tells
  // (once) its size: its bytes go to streamBlock() in parts, last for the final one, which
  // answers as streamLine. pauseStream() stops carrying out GL while the connection waits for
  // more (release: the context is let go too, as at the end of the block); streamLost() ends a
  // block whose connection was lost.
  void beginStream();
  int streamLine(const char* line, bool cut);
  long long streamBlockWanted();
  int streamBlock(const char* bytes, int len, bool last);
  void pauseStream(bool release = false);
  void streamLost();
  bool streaming() const { return streaming_; }
  // Carries out one line of a block: -1 at the end of the block (or when the connection was
  // lost), 0 after a GL line (recognised or not; also a call that now awaits its block), 1
  // for a line that is neither.
  int interpret(const char* line);

  // Replies to the server: "glputbytes(n);\n" and n bytes; "gllongresponse(v);\n". What
  // tcp_send returns.
  int glputbytes(const void* bytes, int n);
  int gllongresponse(long value);

  // Repaints and reports the paint request to the server ("paintGL(id)"), which answers it
  // with a new block.
  void requestPaint();

  // The smallest and the largest display-list name made on this widget (-1: none).
  int firstList() const { return firstList_; }
  int lastList() const { return lastList_; }
  int id() const { return id_; }

 protected:
  void initializeGL() override;
  void resizeGL(int w, int h) override;
  void paintGL() override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void enterEvent(QEvent* e) override;
  void leaveEvent(QEvent* e) override;

 private:
  friend class HxGLDecoder;
  void noteLists(long first, long count);
  // Makes the context current for the stream (once per batch).
  void takeContext();
  // What a line or block part gave: at the end of the block the context goes, the picture
  // is shown.
  int finish(int r);

  int* s_;
  int id_;
  int paintToggle_ = 0;
  int firstList_ = -1;
  int lastList_ = -1;
  bool streaming_ = false;
  bool current_ = false;  // the stream carries out GL on the context now
  bool held_ = false;     // the stream made the context current and has not let it go
  std::unique_ptr<HxGLDecoder> dec_;
};

#endif
