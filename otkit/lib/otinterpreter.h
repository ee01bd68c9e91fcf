// otInterpreter: the line parser of the data-provider protocol, used by the server and the
// client alike. It holds one text line and picks commands and double-quoted strings out of it.
//
// Quoted strings carry an escape rule that both sides apply: the sender writes a double quote
// as \" , a backslash as \\ and a line feed as \n ; the receiver turns exactly these three pairs
// back into the character and leaves a backslash before any other character as it is. A string
// without double quotes, backslashes and line feeds therefore goes on the wire byte for byte as
// it stands, and every string arrives intact (the plain form could not carry a double quote,
// and cut the text after a backslash).
#ifndef OTINTERPRETER_H
#define OTINTERPRETER_H

class otInterpreter {
 public:
  // Allocates the line buffer with size bytes when size > 0 (line is then ""), else line is null.
  explicit otInterpreter(int size);
  virtual ~otInterpreter();
  otInterpreter(const otInterpreter&) = delete;
  otInterpreter& operator=(const otInterpreter&) = delete;

  // 1 if line starts with command (an empty command always matches), else 0.
  int isCommand(const char* command);
  // Copies the text of the index-th (0-based) double-quoted string of line into buf, which
  // must hold size bytes: escapes undone, at most size - 1 characters, terminated. buf is ""
  // when there is no such string. Returns the characters stored, or -1 if the index-th string
  // does not exist (its opening quote is missing) or index is negative.
  int copyStringParam(char* buf, int index);
  // size - 1: the longest text the line holds.
  int maxchar();

  // copyStringParam on any text: the string stops at its closing quote, a line feed or the
  // end of text. Returns the characters stored in buf (at most size - 1), -1 if not found.
  static int quotedString(const char* text, int index, char* buf, int size);
  // The length of text once escaped.
  static int escapedLength(const char* text);
  // Writes text escaped and terminated into out of size bytes. Returns the length, or -1 (out
  // is then "") if it does not fit or an argument is null.
  static int escapeString(const char* text, char* out, int size);
  // The list parser of integer and float arrays (text such as 1,2,3, with a trailing comma):
  // skips double quotes and commas; at any other character reads one value ("%d" or "%f") and
  // goes on after the next comma. Stops after max values, at the end of text, or at a field
  // that holds no number. Returns the number of values stored (0 for null arguments).
  static int parseIntArray(const char* text, int* values, int max);
  static int parseFloatArray(const char* text, float* values, int max);

  char* line;  // the current line, owned
  int size;    // bytes of line
};

#endif
