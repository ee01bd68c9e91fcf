// The streams a display server's command starts on the connection (otconnection.h), each a
// consumer fed line by line (and block by block) that pops itself at its end:
//   otDrawStream    the lines of a drawing, "gbeginDraw(id)" up to "gendDraw", on a QDrawWidget
//   otSvgStream     an SVG document, "gsvgRead(id)" up to "<svgend></svgend>", for the widget's
//                   animator
//   otGlStream      a GL block, "hxGlBegin(id)" up to "hxGlEnd()", with its binary blocks
//   otLinesStream    a fixed count of argument lines of a command (plot points, SVG arguments)
//   otBlockStream   the binary block a command announces (downloads, pictures, curve data)
// A stream for a widget that is missing (or goes away meanwhile) still takes its lines and
// blocks, so that none is taken for a command; a GL block is then answered as by a widget
// without a context, so that the server does not wait for replies forever.
#ifndef OTSTREAMS_H
#define OTSTREAMS_H

#include <QPointer>
#include <functional>
#include <memory>

#include "otconnection.h"

class QDrawWidget;
class HxGLWidget;

class otDrawStream : public otStreamConsumer {
 public:
  // w may be null: the drawing is then taken and dropped.
  explicit otDrawStream(QDrawWidget* w);
  int lineSize() const override;
  void started(otClientConnection& c) override;
  void line(otClientConnection& c, const char* text, int len, bool cut) override;
  void lost() override;

 private:
  QPointer<QDrawWidget> w_;
  bool hadWidget_;
};

class otSvgStream : public otStreamConsumer {
 public:
  // w may be null: the document is then taken and dropped.
  explicit otSvgStream(QDrawWidget* w);
  int lineSize() const override;
  void started(otClientConnection& c) override;
  void line(otClientConnection& c, const char* text, int len, bool cut) override;
  void lost() override;

 private:
  QPointer<QDrawWidget> w_;
  bool hadWidget_;
};

class otGlStream : public otStreamConsumer {
 public:
  // w may be null: a widget without a context (made here) takes the block, answers its
  // requests with empty replies and acknowledges its end. id and s are its id and handle.
  // done, when given, is called once at the end with 0 (the block ended) or -1 (lost).
  otGlStream(HxGLWidget* w, int id, int* s, std::function<void(int)> done = nullptr);
  ~otGlStream() override;
  int lineSize() const override;
  void started(otClientConnection& c) override;
  void line(otClientConnection& c, const char* text, int len, bool cut) override;
  void block(otClientConnection& c, const char* data, int len, bool last) override;
  void pause() override;
  void lost() override;

 private:
  HxGLWidget* target();
  void after(otClientConnection& c, int r);

  QPointer<HxGLWidget> w_;
  std::unique_ptr<HxGLWidget> none_;
  int id_;
  int* s_;
  std::function<void(int)> done_;
};

class otLinesStream : public otStreamConsumer {
 public:
  // count lines (none: done at once) of at most size - 1 bytes each (longer ones come cut);
  // each(text, len, cut) for every line, done(true) after the last, done(false) when the
  // connection is lost first.
  otLinesStream(long count, int size, std::function<void(const char*, int, bool)> each,
                std::function<void(bool)> done);
  int lineSize() const override { return size_; }
  void started(otClientConnection& c) override;
  void line(otClientConnection& c, const char* text, int len, bool cut) override;
  void lost() override;

 private:
  long left_;
  int size_;
  std::function<void(const char*, int, bool)> each_;
  std::function<void(bool)> done_;
};

class otBlockStream : public otStreamConsumer {
 public:
  // A block of n bytes (0: done at once); part(data, len) for each part as it arrives,
  // done(true) after the last, done(false) when the connection is lost first or the block
  // is refused (above what the stream may bring: the connection is dropped).
  otBlockStream(long long n, std::function<void(const char*, int)> part,
                std::function<void(bool)> done);
  int lineSize() const override { return 2; }
  void started(otClientConnection& c) override;
  void line(otClientConnection& c, const char* text, int len, bool cut) override;
  void block(otClientConnection& c, const char* data, int len, bool last) override;
  void lost() override;

 private:
  void finish(bool complete);
  long long n_;
  std::function<void(const char*, int)> part_;
  std::function<void(bool)> done_;
};

#endif
