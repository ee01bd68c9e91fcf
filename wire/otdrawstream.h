// The drawing command stream, one line at a time, without painting: the keyword table, the
// argument scanner and the texts a line carries. QDrawWidget executes what this returns; the
// functions here are pure so that they can be tested and fuzzed alone.
//
// Numbers are read as the server writes them (C's %d and %f, always a '.'), whatever locale
// the client runs in.
#ifndef OTDRAWSTREAM_H
#define OTDRAWSTREAM_H

enum DsCommand {
  DS_NONE = 0,  // no keyword matches: the line is ignored
  DS_BEGIN,
  DS_END,
  DS_BOX,
  DS_RECT,
  DS_MOVETO,
  DS_LINETO,
  DS_LINE,
  DS_ARC,
  DS_PIE,
  DS_POLYGON,
  DS_TEXT,
  DS_TEXTINAXIS,
  DS_XAXIS,
  DS_YAXIS,
  DS_RIGHTYAXIS,
  DS_XGRID,
  DS_YGRID,
  DS_SETCOLOR,
  DS_SETBACKGROUND,
  DS_SETWIDTH,
  DS_SETSTYLE,
  DS_SETFONT,
  DS_SETLINESTYLE,
  DS_SETFLOATFORMAT,
  DS_SCALE,
  DS_ROTATE,
  DS_TRANSLATE,
  DS_PLAYSVG,
  DS_PLAYSVGSOCKET,
  DS_UPDATESVG,
  DS_WRITEFILE,  // records the following lines into a metafile of the downloads folder
  DS_CLOSEFILE   // ends that recording
};

enum {
  DS_LINE_SIZE = 4096,            // the line buffer of the stream reader
  DS_POINT_LINE_SIZE = 80,        // a point line: 78 characters, its line feed, the terminator
  DS_FORMAT_SIZE = 80,            // a tick label format, terminator included
  DS_MAX_POINTS = 1000000,        // the most points or corners one command may announce
  DS_DEFAULT_LINE_POINTS = 4096,  // "gline(" without a usable -n=
  DS_MAX_TICKS = 10000,           // an axis or grid with more steps is not drawn
  DS_MAX_RECORD_BYTES = 64 * 1024 * 1024  // a metafile that a stream records ("gwriteFile")
};

// The parse fields of one line. A field that a line does not carry keeps what the previous
// line left in it (the server always sends every argument), so the same record is handed to
// dsParseLine for every line of a stream.
struct DsArgs {
  int i[6];                 // %d arguments in order
  double f[3];              // %f arguments in order
  char text[DS_LINE_SIZE];  // the quoted text, "" when the command takes none or it is missing
  int hasText;              // gsetFont: 1 when the family's closing quote is followed by a comma
};

// Clears every field to 0.
void dsClearArgs(DsArgs* a);

// The command of line (prefix comparison against the keyword table) with its arguments scanned
// into a. Returns the DsCommand; DS_NONE for a line no keyword matches (a is then unchanged).
int dsParseLine(const char* line, DsArgs* a);

// Copies the characters between the first double quote of line and the next double quote (or
// the end of the line) into text of size bytes: at most size - 1, terminated. text is "" when
// a control character comes before any double quote. Returns the characters stored, or -1
// when there is no opening quote.
int dsGetText(const char* line, char* text, int size);

// The point limit of a "gline(" line: the number after "-n=" anywhere in the line, clamped to
// DS_MAX_POINTS; DS_DEFAULT_LINE_POINTS when absent or below 1.
int dsPointLimit(const char* line);

// A point line "%d,%d" or "%f,%f": fields it does not carry keep their values. Returns the
// number of fields read (0 to 2).
int dsScanIntPoint(const char* line, int* x, int* y);
int dsScanFloatPoint(const char* line, double* x, double* y);

// 1 when line ends a point list (begins with '}').
inline int dsIsPointListEnd(const char* line) {
  return line[0] == '}';
}

// 1 when fmt is a safe tick label format: under DS_FORMAT_SIZE characters, exactly one
// conversion of a double (flags "-+ #0", a width of at most 60, a precision of at most 20, an
// optional 'l', then one of f F e E g G a A) and any number of "%%". 0 otherwise.
int dsIsFloatFormat(const char* fmt);

// The tick label of v: formatted with fmt (which dsIsFloatFormat accepted) in the C locale,
// then trailing '0' characters after the first '.' removed, and the '.' when nothing follows
// it. Returns the length stored in out (size bytes), -1 when fmt is refused.
int dsTickLabel(const char* fmt, double v, char* out, int size);

// The number of ticks of the scale start, start+delta, ... <= end (0 when end < start): -1
// when the scale cannot be walked (a bound or the step not finite, a step of 0 or below) or
// would need more than DS_MAX_TICKS steps.
int dsTickCount(double start, double delta, double end);

#endif
