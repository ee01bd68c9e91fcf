// hxSvgAnimator: the client's half of animated SVG. A display server sends an SVG drawing once
// (in otsvgcat's line form: an element's "<tag" on a line of its own, one attribute per line,
// then ">" or "/>"; text and closing tags on lines of their own), then changes single elements
// by their id: shows or hides them, sets attributes, style options and texts, and asks for a
// redraw. The animator holds the drawing as one record per line with a shown/hidden mark per
// record, applies the changes, builds the SVG text of the shown records for the drawing
// widget's renderer, and finds the marked elements under the mouse.
//
// Element ids that the server wants reported start with "hxx", "HXx", "hx.", "HX." or "@";
// "HXx", "HX." and "@@" also get the pointing-hand cursor. An element is also found by the id
// "hxc:" followed by its name (the group that carries a transformation added here).
//
// Every operation returns 0, or -1 when there is no document or the element is not found (the
// document is then unchanged). GUI thread only.
#ifndef HXSVGANIMATOR_H
#define HXSVGANIMATOR_H

#include <stdio.h>

#include <functional>
#include <string>
#include <vector>

#include <QByteArray>

class QDrawWidget;

// An SVG matrix(a,b,c,d,e,f): x' = a*x + c*y + e, y' = b*x + d*y + f.
struct TRMatrix {
  double a, b, c, d, e, f;
};

// One record (line) of the document.
typedef struct _SVG_LINE_ {
  char* line;
  struct _SVG_LINE_* next;
} SVG_LINE;

// What a peer can make the client hold. A document beyond them is refused whole, with a
// message on standard output, and the animator is left without a document.
#define HX_SVG_MAX_LINES 500000               // records of one document
#define HX_SVG_MAX_LINE 4096                  // bytes of one line, line feed included
#define HX_SVG_MAX_DEPTH 256                  // elements nested in one another
#define HX_SVG_MAX_BYTES (64L * 1024 * 1024)  // all records together

class hxSvgAnimator {
 public:
  // s: the connection handle of the widget (may be null: no events then); draw_widget: the
  // widget that renders (may be null for a document held only, as in tests).
  hxSvgAnimator(int* s, QDrawWidget* draw_widget);
  virtual ~hxSvgAnimator();
  hxSvgAnimator(const hxSvgAnimator&) = delete;
  hxSvgAnimator& operator=(const hxSvgAnimator&) = delete;

  // Takes a document from the connection line by line, so that nothing waits for the server
  // (the connection's SVG stream, otstreams.h, feeds it): beginRead() starts one that will
  // replace the one held; readLine() takes a line as it came (len bytes; cut: it was longer
  // than HX_SVG_MAX_LINE bytes and comes cut, which refuses the document): 1 for the line
  // holding "<svgend></svgend>", which ends the document, else 0; endRead() makes the
  // document of the lines so far (at the end, or when the connection is lost): 0, or -1 when
  // it was refused (limits).
  void beginRead();
  int readLine(const char* line, int len, bool cut);
  int endRead();
  // The same from text in memory (the lines that readLine would be given, with or without the
  // end marker). For tests and replays.
  int readText(const char* text, long length);

  int show(const char* objectname, int state);
  // Sets the attribute tag (with its '=', as "fill=") of the element to "text" followed by
  // after: an existing record of that attribute is replaced, else one is added to the element.
  int svgPrintf(const char* objectname, const char* tag, const char* text, const char* after = "");
  // The same for the element and every element inside it.
  int svgRecursivePrintf(const char* objectname, const char* tag, const char* text,
                         const char* after = "");
  // Replaces every occurrence of before by after in the value of the attribute tag (of the
  // element, or of it and every element inside it).
  int svgSearchAndReplace(const char* objectname, const char* tag, const char* before,
                          const char* after);
  int svgRecursiveSearchAndReplace(const char* objectname, const char* tag, const char* before,
                                   const char* after);
  // Sets the text content of a text element (the first text inside it, tspans included),
  // escaped for XML here.
  int svgTextPrintf(const char* objectname, const char* text);
  // Style options in the attribute tag ("style="): "name:value" pairs separated by ';'.
  int svgRemoveStyleOption(const char* objectname, const char* tag, const char* option);
  int svgRecursiveRemoveStyleOption(const char* objectname, const char* tag, const char* option);
  int svgChangeStyleOption(const char* objectname, const char* tag, const char* option,
                           const char* value);
  int svgRecursiveChangeStyleOption(const char* objectname, const char* tag, const char* option,
                                    const char* value);
  int svgSetStyleOption(const char* objectname, const char* tag, const char* value);
  int svgRecursiveSetStyleOption(const char* objectname, const char* tag, const char* value);

  // Renders the shown records with the widget (on the printer when on_printer is not 0).
  int update(int on_printer);
  // The SVG text update() renders, with the root element's width and height set to w and h
  // ("%dpx").
  QByteArray svgText(int w, int h) const;

  // The same, for a redraw of part of the picture: text elements without an id get one
  // ("_hxt" and the record index, so that the renderer can give their boxes), and the text
  // elements whose opening record is marked in dropText are left out.
  QByteArray svgText(int w, int h, bool textIds, const std::vector<char>* dropText) const;
  // The elements changed (shown, hidden, given attributes or text) since the last call, by
  // their opening record, into *elements. False when records were added or a new drawing came
  // since: record numbers moved, and only a whole redraw is sound.
  bool takeChanges(std::vector<int>* elements);
  // The id of the element opened at record open ("" without one), the record that closes it,
  // and the opening records of the (shown) text elements.
  QByteArray elementId(int open) const;
  int elementEnd(int open) const;
  std::vector<int> textElements(bool shownOnly = true) const;

  // Mouse: sends "text(id,\"event=elementid\")" for the marked elements at the widget position
  // (x, y), and sets or takes back the pointing-hand cursor.
  int perhapsSendSvgEvent(const char* event, int* s, int id, int x, int y);
  int perhapsSetOverrideCursor(int x, int y, int buttons);

  // The number of the element whose id record equals idattribute (id="name") in document
  // order (groups, and after the first group every element, counting), 0 when not found.
  int calcObjectWanted(const char* idattribute);
  // The product of the transform= attributes of the element and its enclosing elements.
  int calcCTM(const char* id, TRMatrix* m);

  // Frees the document: 0, or -1 when there was none.
  int closefile();
  // Prints every record with its mark (testoutput) or writes the shown records, one per line.
  int testoutput();
  int dumpLocalSvg(FILE* fp);

  int numLines() const { return num_lines; }
  // The record at index (0 first) and whether it is shown; null beyond the document.
  const char* record(int index) const;
  int isShown(int index) const;

 private:
  // Taking a document line by line (readText, and readLine from the connection):
  // beginDocument() frees the document held and starts an empty one (always 0).
  // addLine() takes one line of len bytes (a trailing "\n" or "\r\n" is cut; a line beginning
  // with "viewBox=" is dropped); 0, or -1 when the document is refused: then the message has
  // been printed, everything is freed, and further lines are ignored with -1 until the next
  // beginDocument(). It does not look for the end marker: isEndLine() tells the caller.
  // endDocument() makes the lines the document held (every record shown); 0, or -1 when the
  // document was refused or none was begun (the animator then has no document).
  int beginDocument();
  int addLine(const char* line, int len);
  int endDocument();
  // Whether the line holds "<svgend></svgend>", which ends a document and is not part of it.
  static bool isEndLine(const char* line, long len);

  // Style values ("name:value" pairs separated by ';', entities already decoded): the value
  // with option set to value (added at the end when missing), or without option.
  static std::string changeStyleOption(const std::string& style, const std::string& option,
                                       const std::string& value);
  static std::string removeStyleOption(const std::string& style, const std::string& option);

  struct Edit;
  // Builds the new record of attribute name from the record held (null when the element has
  // none): 1 with *out to write it, 0 to leave the element as it is, -1 to fail the operation.
  typedef std::function<int(const std::string& name, const char* old, std::string* out)>
      AttributeEditor;
  int editAttributes(const char* objectname, const char* tag, bool recursive,
                     const AttributeEditor& editor);
  // svgPrintf and svgRecursivePrintf.
  int printfAttribute(const char* objectname, const char* tag, const char* text, const char* after,
                      bool recursive);
  int applyEdits(std::vector<Edit>* edits);
  // Changes (value not null) or removes (value null) a style option.
  int editStyle(const char* objectname, const char* tag, const char* option, const char* value,
                bool recursive);
  int findElement(const char* name, int* open, int* close) const;
  int extentEnd(int open) const;
  int attributeOf(int open, const std::string& name) const;
  int refuse(const char* reason);
  void freeDocument();

  int* s;
  QDrawWidget* draw_widget;
  SVG_LINE* first = nullptr;
  int num_lines = 0;
  char* line_state = nullptr;
  // The records by index (first..last), so that a record is reached without walking the list.
  std::vector<SVG_LINE*> by_index;
  long total_bytes = 0;  // record bytes plus one line feed each, as the limits count them
  // While a document is being taken: whether lines are accepted, whether the last record
  // is inside an opening tag, and how deep the elements are nested there.
  // What changed since the last takeChanges().
  std::vector<int> changes;
  bool restructured = true;
  bool reading = false;
  bool reading_in_tag = false;
  int reading_depth = 0;
};

#endif
