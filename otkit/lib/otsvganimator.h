// otSvgAnimator: sends an SVG drawing to a display client's drawing widget and animates it
// with small text commands that change attributes, style options, texts, visibility and
// transformation matrices of the elements named by their id. It keeps the zoom and pan state
// of a main object and can collect all element attributes into an otIniFile.
//
// Every command is a head line followed by argument lines, each ending in a line feed, sent
// to the caller's socket descriptor in one piece; the descriptor value 1 means standard
// output. A failed send marks the caller's descriptor -1.
//
// The drawing is prepared by the program otsvgcat, found as follows: the environment
// variable OTKIT_SVGCAT names the program if set; otherwise standard-output mode runs
// "/usr/bin/otsvgcat" and the socket mode "otsvgcat" from PATH, and when that program does
// not exist, the otsvgcat installed next to this library is used.
#ifndef OTSVGANIMATOR_H
#define OTSVGANIMATOR_H

#include <stdarg.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "otcutil.h"
#include "otinifile.h"
#include "otstring.h"

// The transformation of one element: a rotation by alpha (radians) about (cx, cy), scaled by
// sx, then moved by (x0, y0).
class otSvgPosition {
 public:
  otSvgPosition();
  otSvgPosition(float sx, float alpha, float x0, float y0, float cx, float cy);
  virtual ~otSvgPosition();

  void setInit(float x, float y, float w, float h);
  void move(float x, float y);  // absolute translation
  void moveRelative(float dx, float dy);
  void scale(float s);
  void scaleRelative(float factor);  // multiplies sx
  void rotate(float alpha, float cx, float cy);

  float sx, alpha, x0, y0, cx, cy;
  struct {
    float x, y, w, h;
  } init;
};

class otSvgAnimator {
 public:
  otSvgAnimator();
  virtual ~otSvgAnimator();
  otSvgAnimator(const otSvgAnimator&) = delete;
  otSvgAnimator& operator=(const otSvgAnimator&) = delete;

  // The caller's descriptor (kept by pointer: a failed send sets it to -1) and the drawing
  // widget's id in the client.
  int setSocket(int* s);
  int setId(int id);

  // Sends the drawing in infile ("gsvgRead(id)", the otsvgcat text, "\n<svgend></svgend>\n")
  // and with inifile also collects its attributes by element id. 0; -1 without id or socket,
  // when otsvgcat cannot be run or rejects the file (its message goes to standard error;
  // nothing is sent), or when the send fails.
  int read(const char* infile, otIniFile* inifile = nullptr);
  // Asks the client to redraw ("gupdateSVG(id)"); clears isModified. 0; -1 without socket
  // ("otSvgAnimator: ERROR please use setSocket first" on standard output), with id 0 or when
  // the send fails.
  int writeSocket();

  // The attribute tag includes its equals sign ("transform="). svgPrintf and svgTextPrintf
  // return -1 with id 0 (nothing sent); the printf family returns the length of the value
  // line (line feed included), -1 when the send fails; the others 0 or -1.
  int svgPrintf(const char* object, const char* tag, const char* format, ...)
      OT_PRINTF_FORMAT(4, 5);
  int svgRecursivePrintf(const char* object, const char* tag, const char* format, ...)
      OT_PRINTF_FORMAT(4, 5);
  int svgSearchAndReplace(const char* object, const char* tag, const char* before,
                          const char* after);
  int svgRecursiveSearchAndReplace(const char* object, const char* tag, const char* before,
                                   const char* after);
  int svgTextPrintf(const char* object, const char* format, ...) OT_PRINTF_FORMAT(3, 4);
  int svgRemoveStyleOption(const char* object, const char* option);
  int svgRecursiveRemoveStyleOption(const char* object, const char* option);
  int svgChangeStyleOption(const char* object, const char* option, const char* value);
  int svgRecursiveChangeStyleOption(const char* object, const char* option, const char* value);
  int svgSetStyleOption(const char* object, const char* value);
  int svgRecursiveSetStyleOption(const char* object, const char* value);
  // Shows (state 1) or hides (0) the object; -1 with id 0.
  int show(const char* object, int state);
  // Ask the client for the element's bounding box or transformation matrix; the answer comes
  // back as an event "text(id,\"svgBoundsOnElement:x,y,w,h=object\")" or
  // "text(id,\"svgMatrixForElement:m11,m12,m21,m22,det,dx,dy=object\")". 0; -1 with id 0
  // (nothing sent) or when the send fails.
  int svgBoundsOnElement(const char* object);
  int svgMatrixForElement(const char* object);
  int setMatrix(const char* object, float sx, float alpha, float x0, float y0, float cx, float cy);
  int setMatrix(const char* object, otSvgPosition& pos);

  // Feeds one line of otsvgcat output: attributes of elements with an id are stored in
  // inifile as setText(id, name, value) when the element's ">" or "/>" line arrives.
  int fillIniFile(otIniFile* inifile, const char* line);
  // The same for every line of a file; -1 if it cannot be opened.
  int fileFillIniFile(const char* path, otIniFile* inifile);

  // Zoom and pan of the main object (its name defaults to "main").
  int setMainObject(const char* name);  // -1 for null
  const char* mainObject();
  int setXY0(float x, float y);
  float x0();
  float y0();
  int setMouseXY0(float x, float y);
  float mouseX0();
  float mouseY0();
  int setMouseXY1(float x, float y);
  float mouseX1();
  float mouseY1();
  int setScale(float s);
  float scale();
  int setWindowSize(float w, float h);
  float windowWidth();
  float windowHeight();
  // Zooms to scale n (at most 1000) keeping the point at the window centre in place.
  int zoomCenter(float n);
  // Zooms to the rectangle from mouse point 0 to mouse point 1.
  int zoomRect();
  // Sends the main object's matrix for the current scale and offset.
  int setMainObjectMatrix();
  // Drags the main object: offset += (x, y) - mouse point 0, then setMainObjectMatrix().
  int moveMainObject(float x, float y);

  int isModified;

 private:
  int* s;
  int id;
  float x0_, y0_, svgWindowWidth, svgWindowHeight, scale_;
  float mouseX0_, mouseY0_, mouseX1_, mouseY1_;
  otString main_object_name;
  // fillIniFile's state: the id of the element being read and its name/value pairs.
  std::string currentId;
  bool haveId;
  std::vector<std::pair<std::string, std::string>> pairs;

  // Sends text whole; -1 (and the caller's descriptor -1) on failure.
  int send(const std::string& text);
  // head(id) then each argument line.
  int command(const char* head, std::initializer_list<const char*> args);
  int printfCommand(const char* head, const char* object, const char* tag, const char* format,
                    va_list ap);
  int readToStdout(const char* infile, otIniFile* inifile);
};

#endif
