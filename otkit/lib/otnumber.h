// Decimal numbers as text streams carry them: written and read with '.' as the decimal point
// whatever the locale of the program, and fast for the long point lists of drawings.
#ifndef OTNUMBER_H
#define OTNUMBER_H

#include <locale.h>
#include <stddef.h>

#include <string>

// The C locale, made once; (locale_t)0 when it cannot be made.
locale_t otCLocale();

// v as printf("%f") writes it in the C locale, byte for byte (rounding included), into buf of
// size bytes, NUL-terminated. Returns the length of the full text like snprintf; -1 for size
// below 1 or when the locale is not available.
int otFormatFixed(char* buf, int size, double v);

// strtod in the C locale: the same value and the same end for every input.
double otStrtod(const char* s, char** end);
// strtof in the C locale.
float otStrtof(const char* s, char** end);

// v with one printf conversion of a double (format checked by the caller: the only
// conversion, bounded width and precision) in the C locale; snprintf's result, -1 when the
// locale is not available.
int otFormatWith(char* buf, int size, const char* format, double v);
// The shortest text of 15 to 17 significant digits ("%.*g") that reads back as v exactly, in
// the C locale; snprintf's result, -1 when the locale is not available or size is below 1.
int otFormatShortest(char* buf, int size, double v);

// len bytes as hex digits, two a byte: lower case ("0a1b"), or with colons upper case
// ("0A:1B"), the form in which certificate fingerprints are printed and compared.
std::string otHexBytes(const void* data, size_t len, bool colons = false);

// While one lives, this thread's printf and scanf use the C locale (other threads keep
// theirs), for code that formats many numbers in a row.
class otCNumberScope {
 public:
  otCNumberScope();
  ~otCNumberScope();
  otCNumberScope(const otCNumberScope&) = delete;
  otCNumberScope& operator=(const otCNumberScope&) = delete;
  // False when the C locale is not available (numbers then follow the process's locale).
  bool ok() const { return old_ != (locale_t)0; }

 private:
  locale_t old_;
};

#endif
