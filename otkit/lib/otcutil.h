// Low-level utilities of the otkit automation library: the debug-print switch and bounded
// formatters, safe copies into fixed buffers, option parsing, wildcard matching, small file
// helpers, the SIGTERM hook, bit operations and the display-server launcher.
//
// Not reentrant: otTextOption, otGetInifile, otFindFile and otpass return static buffers that
// the next call overwrites; otFindFile keeps one directory walk per process.
#ifndef OTCUTIL_H
#define OTCUTIL_H

#include <stdarg.h>
#include <stdio.h>
#include <sys/stat.h>

#define OT_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))

// Size of every formatting buffer of the library; at most OT_PRINTF_BUFFER - 1 characters.
enum { OT_PRINTF_BUFFER = 4096 };

extern const char otCRLF[];     // "\r\n"
extern int otDebugPrintfState;  // library-wide debug switch, 0 at start

int otSetDebugPrintf(int on);
// Prints only while the debug switch is on; returns printf's result or a negative format result.
int otDebugPrintf(const char* format, ...) OT_PRINTF_FORMAT(1, 2);
// Overwrites the current terminal line: at most 79 characters padded to column 80; returns 80.
int otLastLinePrintf(const char* format, ...) OT_PRINTF_FORMAT(1, 2);
// A null or empty format stores "" and returns 1; else vsnprintf's result.
int otvsnprintf(char* buf, int size, const char* format, va_list ap);
int otsnprintf(char* buf, int size, const char* format, ...) OT_PRINTF_FORMAT(3, 4);
// The text of a printf member of the library's classes: formatted with otvsnprintf into
// OT_PRINTF_BUFFER bytes. result is the formatter's (negative on failure, 1 for an empty
// format, else the length the full text would have); length is what was kept (at most 4095).
struct otFormattedText {
  char text[OT_PRINTF_BUFFER];
  int result;
  int length;
};
void otFormatText(otFormattedText* out, const char* format, va_list ap);
// Copy at most n characters and always terminate: dest must hold n+1 bytes. Returns dest.
char* otstrncpy(char* dest, const char* src, int n);
// As otstrncpy, but also stops before the first line feed.
char* otstrlinecpy(char* dest, const char* src, int n);
int otInputAvailable();
// Replaces the process with the split command; returns only on failure (-1).
int otexec(const char* command);
int otsystem(const char* command);
int otBrowser(const char* url);
int otEib1(int value);
int otEib2(int value);
int otLon1(int value);
int otLon2(int value);
int otProfibus1(int value);
int otProfibus2(int value);
int otCan1(int value);
int otCan2(int value);
// On SIGTERM: prints "entering otSigtermHandler sig=15", calls handler(arg), flushes standard
// output and exits with status 0, all on a thread of the library's (the signal handler itself
// only hands the signal over), so the handler may use stdio and locks. 0, or -1 when that
// thread cannot be started (the signal is then left as it was).
int otSetSigtermHandler(void (*handler)(void*), void* arg);
// $HOME/.name in a static buffer (falls back to the password database, then ".").
char* otGetInifile(const char* name);
int otSwapShort(int v);
int otOption(const char* string, const char* option);
int otIntOption(const char* string, const char* option, int def);
float otFloatOption(const char* string, const char* option, float def);
// Value after "option=" up to the delimiter that follows "=" (-name='a b' yields a b), in a
// static buffer; def itself when the option or its "=" is missing.
const char* otTextOption(const char* string, const char* option, const char* def);
int otCopyTextfile(const char* source, const char* dest);
int otupper(char* text);
int otlower(char* text);
int otStartsWith(const char* s, const char* prefix);
// 1 when name names a file of the current directory that a peer may write or read: it holds no
// '/', no '\\' and no "..", so it cannot climb out. 0 otherwise (also for null).
int otIsLocalFileName(const char* name);
int otEndsWith(const char* s, const char* suffix);
// Wildcard match where only "*" is special, without backtracking; 1 or 0.
int otStrMatch(const char* s, const char* pattern);
// Next name in "." that contains or matches pattern; null at the end. Start with *context = 0.
const char* otFindFile(const char* pattern, int* context);
int otStat(const char* path, struct stat* buf);
int otFRead(FILE* fp, void* buffer, int length);
int otFWrite(FILE* fp, const void* buffer, int length);
int otWriteFile(const char* path, const void* data, int length);
int otMkdir(const char* path, int mode);
// Makes path and its missing parents with mode (folders there already are left as they are).
// 0, or -1 with errno (also for an empty path or one of PATH_MAX bytes or more).
int otMakeFolders(const char* path, int mode);
int otBitSet(int bit, int* value);
int otBitClear(int bit, int* value);
int otBitChange(int bit, int* value);
int otBitTest(int bit, int* value);
double otPushToDoubleBuffer(double value, double* buffer, int count);
float otPushToFloatBuffer(float value, float* buffer, int count);
const char* otpass(const char* text);
int otSubmitHxhost(const char* env, const char* dir, const char* exe, const char* options);

#endif
