// QDrawWidget: the display client's canvas for the drawing command stream. A display server
// sends one command per line (otdrawstream.h parses them); the widget draws them onto an
// off-screen pixmap and shows that pixmap when the stream ends. It keeps a small plotting
// model (an axis box with x and y scales, grids, tick labels, symbols), a zoom that follows
// the widget's size, records and replays metafiles, saves and prints its picture, and reports
// mouse activity to the server as event lines:
//
//   QPlotMouseMoved(id,x,y)      mouse moved while exactly one of left, right, middle is held
//   QPlotMousePressed(id,x,y)    any button pressed
//   QPlotMouseReleased(id,x,y)   a button released over the widget
//   mouseEnterLeave(id,1|0)      pointer entered / left
//   resizeGL(id,w,h)             every resize
//   @clipboard(id,n)             then n bytes of JPEG (sendJpeg2clipboard)
//
// Coordinates in events are widget pixels. Everything runs in the GUI thread; the stream comes
// line by line from the connection and never waits for it.
#ifndef QDRAWWIDGET_H
#define QDRAWWIDGET_H

#include <stdio.h>

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <QTimer>
#include <QWidget>
#include <unordered_map>
#include <vector>

#include "otdrawstream.h"

class hxSvgAnimator;
class QWebElement;
class QWebFrame;
class QWebPage;
class otServerFilesNetwork;

class QDrawWidget : public QWidget {
  Q_OBJECT

 public:
  // sock: the connection handle (may be null: the widget then replays files only); wid: the
  // widget's id, the first number of every event line.
  QDrawWidget(QWidget* parent, const char* name, int wflags, int* sock, int wid);
  ~QDrawWidget() override;
  QDrawWidget(const QDrawWidget&) = delete;
  QDrawWidget& operator=(const QDrawWidget&) = delete;

  // Stream input, a line at a time, so that nothing waits for the server: the connection's
  // drawing stream (otstreams.h) calls beginStream() at "gbeginDraw" (beginDraw(1)), then
  // streamLine for each line that follows (recorded into the metafile when one is open): -1
  // once the drawing has ended ("gendDraw": endDraw has run), else 0. A point list or an SVG
  // text is taken line by line as well; streamLineSize() is the buffer the next line is read
  // into (line feed and NUL included; a point line is short), longer lines come cut to it.
  // streamLost() ends a drawing whose input ended: the points of a list so far are drawn, an
  // SVG text cut short is not, a metafile recording is dropped, endDraw runs.
  void beginStream();
  int streamLine(const char* line);
  int streamLineSize() const;
  void streamLost();
  // The same for a metafile: the whole drawing sequence at once. -1 when the file cannot be
  // opened, else 0.
  int showFromFile(const char* filename);
  // Executes one line of the stream (as streamLine, without recording): -1 for "gendDraw",
  // 0 for every other line, recognised or not, and for the lines of a point list or an SVG
  // text that a line began.
  int interpret(const char* line);
  // One line of the metafile being replayed into line (size bytes, at least 2). A line longer
  // than the buffer keeps its first size - 1 bytes; the rest of it is read and dropped.
  // Returns 0, or -1 at the end of the file (or when none is replayed).
  int gets(char* line, int size);
  // The text between the first double quote of line and the next (or the end of the line),
  // at most size - 1 bytes, into text. Returns its length, -1 when line has no quoted text.
  static int getText(const char* line, char* text, int size = DS_LINE_SIZE);

  // Drawing sequence: beginDraw clears the buffer to the background and starts the painter
  // afresh (pen, brush, font and transformations last for one sequence); endDraw ends it and
  // repaints.
  void beginDraw(int flag);
  void endDraw();

  // Primitives, in logical pixels (zoomed here) or value coordinates (tx, ty). They draw only
  // between beginDraw and endDraw.
  void moveTo(int x, int y);
  void lineTo(int x, int y);
  void line(const float* x, const float* y, int n);
  void rect(int x, int y, int w, int h);
  void box(int x, int y, int w, int h);
  void text(int x, int y, int alignment, const char* utf8);
  void textInAxis(float x, float y, int alignment, const char* utf8);
  void xAxis(float start, float delta, float end, int draw);
  void yAxis(float start, float delta, float end, int draw);
  void rightYAxis(float start, float delta, float end, int draw);
  void xGrid();
  void yGrid();
  void drawSymbol(int x, int y, int type);
  void setColor(int red, int green, int blue);
  void setBackgroundColor(int red, int green, int blue);
  void setFont(const char* family, int size, int weight, int italic);
  void setLinestyle(int style);
  // A negative factor fixes the zoom at -f for good; 0 or more applies only while the zoom
  // still follows the widget's size. A factor that is not finite is ignored.
  void setZoomX(float f);
  void setZoomY(float f);
  // Value and zoom mappings (int results, clamped to +-1000000).
  int tx(float x);
  int ty(float y);
  int zx(int x);
  int zy(int y);

  // Geometry: the size given here is the design size that the zoom follows.
  virtual void resizeBuffer(int w, int h);
  using QWidget::resize;
  virtual void resize(int w, int h);
  virtual void setGeometry(int x, int y, int w, int h);
  virtual void setGeometry(const QRect& r);

  // Output and files.
  // Saves the picture (format by extension). 1, or -1 for a refused name (one holding '/',
  // '\\' or ".."; a message is printed), an empty picture or a failed write.
  int save(const char* filename);
  // Records the lines received from now up to and including the next "gendDraw" into a
  // metafile that begins with "hxMetafile(w,h)". 0, or -1 when a recording runs already or the
  // file cannot be created.
  int logToFile(const char* filename);
  // The same for a drawing stream that asks for it ("gwriteFile(\"name\")"): the metafile is
  // collected in memory (at most DS_MAX_RECORD_BYTES; a larger one is dropped with a message)
  // and stored as name in the downloads folder (otServerFileWriter) at the next "gendDraw" or
  // "gcloseFile" (which is not recorded; "gendDraw" ends the file then). 0, or -1 when a
  // recording runs already or name is refused (otServerFileNameRefusal). A stream that ends
  // without either line stores nothing.
  int recordToServerFile(const char* name);
  // Ends that recording and stores the file: 0, or -1 when none runs or it cannot be stored.
  int finishServerRecording();
  bool recordingToServerFile() const { return !recordName.isEmpty(); }
  // The size in a metafile's header; 0x0 for a missing or foreign file. 0, or -1 then.
  static int getDimensions(const char* filename, int* width, int* height);
  // Saves the picture as an image (format by extension). 0, or -1.
  int logBmpToFile(const char* filename);
  void copyToClipboard();
  // Sends "@clipboard(id,n)" and n bytes of JPEG. The result of the last send, -1 on failure.
  int sendJpeg2clipboard();
  // Prints the picture: to the PDF file opt.print_pdf when it is set, else through the print
  // dialog. 0, or -1 when the dialog was cancelled or the output failed.
  int print();

  // SVG. playSVG renders a file, the stream the lines after "gplaySVGsocket" up to
  // "<svgend></svgend>", svgUpdate the given text, all onto the active painter (nothing
  // without one); printSVG prints the text (opt.print_pdf or the print dialog: 0, or -1).
  // The root element gets the widget's size as its width and height. What the SVG names
  // outside itself (images, style sheets) is taken from the downloads folder or not at all
  // (otServerSvg); the web engine runs no script and fetches nothing from the network.
  void playSVG(const char* filename);
  void svgUpdate(QByteArray& svg);
  int printSVG(QByteArray& svg);
  // How many redraws of the animated SVG drew only the part that changed.
  long partialRedraws() const { return partRedraws; }
  // The size that SVG playback (animated 0) or the animated drawing gives the root element.
  void svgSize(int* w, int* h, int animated) const;
  // A drawing sequence of the animated SVG alone: beginDraw(1), the animator's update, endDraw.
  void renderScene();
  // Answers the server: "text(id,\"svgBoundsOnElement:...=name\")" and
  // "text(id,\"svgMatrixForElement:...=name\")".
  void requestSvgBoundsOnElement(QString& id);
  void requestSvgMatrixForElement(QString& id);
  // With the web engine: the frame's HTML, or what the render tree gives; 0, or -1.
  int htmlOrSvgDump(const char* filename);
  int renderTreeDump(const char* filename);

  // The animated SVG of this widget, made on first use; the widget owns it.
  hxSvgAnimator* animator();
  hxSvgAnimator* existingAnimator() const { return svgAnimator; }
  // What renders SVG: the plain renderer, or the web page's main frame when
  // opt.use_webkit_for_svg was 1 at construction (null otherwise).
  QSvgRenderer* svgRenderer() { return &renderer; }
  QWebFrame* webFrame() const;
  // The cursor shape recorded when the pointer entered the widget.
  int enteredCursorShape() const { return savedCursorShape; }
  // 1 while the widget lives in a layout (the SVG mouse mapping then divides by the zoom).
  int inLayout = 0;

  // The picture as drawn so far.
  const QPixmap& pixmap() const { return buffer; }
  float zoomFactorX() const { return zoomX; }
  float zoomFactorY() const { return zoomY; }

  // Sets the application's override cursor for as long as the pointer stays over the widget
  // (the SVG animator shows its hot elements this way); the pointer leaving or the widget
  // going away takes back exactly what was set here.
  void setCursorShape(int shape);
  // Takes back the override cursor set with setCursorShape, if any.
  void restoreCursor();

  // Set by the client: the scale of the axis box in percent, the background's alpha, and
  // the selection mode (1: a dragged rectangle is shown).
  int percent = 100;
  int backgroundAlpha = 255;
  int selectionMode = 0;
  // 1 while a drawing sequence runs or has just finished: the web engine's repaint requests
  // are not redraws then.
  int svg_draw_request_by_hxc = 0;

 public slots:
  void slotWebkitSvgChanged(const QRect& r);
  void slotTimeout();
  void slotLoadFinished(bool ok);

 protected:
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void enterEvent(QEvent* e) override;
  void leaveEvent(QEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

 private:
  void fillBackground();
  // Loads svg into the renderer (or the web page) and renders it on p when p is active.
  void renderSvg(const QByteArray& svg, QPainter* p);
  // The SVG text of a file, sized to the widget and rendered on the active painter.
  void playSvgText(QByteArray svg);
  // Redraws only where the changed elements (opening records) were and are, when the picture
  // holds the animated SVG alone as last drawn at this scale; false when a whole redraw is
  // needed instead.
  bool redrawPart(const std::vector<int>& changed, double sx, double sy);
  // With the web engine: the element with this id (or "hxc:" and it); null when missing.
  QWebElement webElement(const QString& element) const;
  // A line of the stream, in whatever list or text a line before began.
  int step(const char* line);
  // The input ended (file or connection): what a list began is finished, then endDraw.
  void endInput();
  // Draws the point list or polygon gathered so far.
  void finishPoints();
  void finishSvgText();
  void axisTicks(float start, float delta, float end, int which);
  int valueMappingUsable() const;
  void applyTransform(const QTransform& t);
  void applyPenStyle(int style);

  int* s;
  int id;
  QPixmap buffer;
  QPainter painter;
  FILE* fp = nullptr;
  FILE* logFile = nullptr;
  QByteArray recordName;  // the metafile that recordToServerFile collects, "" when none
  QByteArray record;
  // What the lines that follow a command belong to: a point list (gline), the corners of a
  // polygon, an SVG text (gplaySVGsocket); gathered here until their end.
  enum Pending { kNoList, kValuePoints, kPolygon, kSvgText };
  Pending pending = kNoList;
  int pointLimit = 0;
  double pointX = 0, pointY = 0;
  int cornerX = 0, cornerY = 0;
  std::vector<float> xs, ys;
  QPolygon corners;
  QByteArray svgText;
  bool svgTooLong = false;
  int xold = 0, yold = 0;
  float zoomX, zoomY;
  int autoZoomX = 1, autoZoomY = 1;
  int designWidth = 0, designHeight = 0;
  int boxx = 0, boxy = 0, boxw = 0, boxh = 0;
  float xmin = 0, dx = 1, xmax = 100;
  float ymin = 0, dy = 1, ymax = 100;
  int bgRed = 255, bgGreen = 255, bgBlue = 255;
  int fontSize = 0;
  int symbolSize = 3;
  int linestyle = 0;
  char floatFormat[DS_FORMAT_SIZE];
  int pressX = -1, pressY = -1, mouseX = -1, mouseY = -1;
  int savedCursorShape = 0;
  int pushedCursor = 0;  // 1 while an override cursor that this widget set is on the stack
  int loadFinished = 0;
  QTimer timer;
  DsArgs args;  // the parse fields, kept from line to line
  QSvgRenderer renderer;
  QWebPage* webPage = nullptr;
  otServerFilesNetwork* webNetwork = nullptr;  // the page's, refuses what is not local
  hxSvgAnimator* svgAnimator = nullptr;
  // The picture holds the animated SVG alone, drawn by renderScene at scale (sceneSx, sceneSy);
  // the boxes of its texts by opening record, as far as known; the renderer of redrawn parts.
  bool sceneShown = false;
  double sceneSx = 1, sceneSy = 1;
  std::unordered_map<int, QRectF> textBoxes;
  QSvgRenderer partRenderer;
  long partRedraws = 0;
};

#endif
