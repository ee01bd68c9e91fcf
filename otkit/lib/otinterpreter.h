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

// otCallLine: one line of the display protocol, "name(arg,arg,...)" with an optional tail
// after the closing parenthesis (" -xy=3,4"). An argument is a decimal integer, a decimal
// number with a fraction or exponent, or a double-quoted text with the escape rule above.
// The parser knows nothing of widgets or sockets; it refuses instead of guessing: a line that
// is not of that form, an argument it cannot read, more than maxArgs arguments or a name
// longer than maxName characters make parse() return -1.
class otCallLine {
 public:
  enum { maxArgs = 16, maxName = 63 };
  enum Kind { None = 0, Int = 'i', Float = 'f', Text = 's' };

  otCallLine();
  // Parses len bytes of line (a trailing line feed, carriage return or NUL ends it). Returns
  // the number of arguments, or -1 (name is then "" and count 0).
  int parse(const char* line, int len);
  // The i-th argument: 0 and *value set, or -1 when it is missing or of another kind. An
  // integer also reads as a float; integers outside the range of int are refused.
  int intArg(int i, int* value) const;
  int floatArg(int i, double* value) const;
  // The decoded text of the i-th argument, null when it is missing or not a text.
  const char* textArg(int i) const;
  // Checks the arguments against a signature such as "iis" (i integer, f number, s text):
  // 1 when count and kinds match exactly, else 0.
  int matches(const char* signature) const;

  char name[maxName + 1];
  int count;
  const char* tail;  // text after ')', inside the parsed line (valid while it lives)
  int tailLength;

 private:
  struct Arg {
    Kind kind;
    long long i;
    double f;
    int text;  // offset of the decoded text in texts
  };
  Arg args[maxArgs];
  char* texts;  // decoded texts, NUL-terminated one after another
  int textsSize;

 public:
  ~otCallLine();
  otCallLine(const otCallLine&) = delete;
  otCallLine& operator=(const otCallLine&) = delete;
};

#endif
