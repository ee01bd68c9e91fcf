// Decimal numbers as text streams carry them: written and read with '.' as the decimal point
// whatever the locale of the program, and fast for the long point lists of drawings.
#ifndef OTNUMBER_H
#define OTNUMBER_H

#include <locale.h>

// The C locale, made once; (locale_t)0 when it cannot be made.
locale_t otCLocale();

// v as printf("%f") writes it in the C locale, byte for byte (rounding included), into buf of
// size bytes, NUL-terminated. Returns the length of the full text like snprintf; -1 for size
// below 1 or when the locale is not available.
int otFormatFixed(char* buf, int size, double v);

// strtod in the C locale: the same value and the same end for every input.
double otStrtod(const char* s, char** end);

#endif
