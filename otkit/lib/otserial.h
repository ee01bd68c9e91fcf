// otSerial: a serial line in raw mode (speed, character size, stop bits, parity and RTS/CTS
// flow control chosen at open), read and written as single bytes, blocks and lines with
// millisecond time limits. Modbus RTU/ASCII, DF1 and 3964R run on top of it.
//
// Every call returns -1 on a closed object. One object is used by one thread at a time; the
// reading calls are cancellation points, so a receiver thread blocked in them can be cancelled.
#ifndef OTSERIAL_H
#define OTSERIAL_H

#include <termios.h>  // the speed constants B9600 ... that openDevice takes

// The terminal speed constant of a baud rate (B9600 for 9600), B0 for a rate this system has
// no constant for; and the baud rate of a constant, 0 for an unknown one.
speed_t otBaudConstant(unsigned long baud);
unsigned long otBaudRate(speed_t code);

class otSerial {
 public:
  enum { NONE = 0, ODD = 1, EVEN = 2 };

  otSerial();
  // Closes the line and restores the settings it had before openDevice.
  virtual ~otSerial();
  otSerial(const otSerial&) = delete;
  otSerial& operator=(const otSerial&) = delete;

  // Trace is on exactly when on is 1: every written byte is then printed on standard output.
  // Returns the new state, 1 or 0.
  int setTrace(int on);

  // Opens device in raw mode. speed is a terminal speed constant (B9600 ...); block 1 makes
  // reads wait for data, block 0 leaves the line non-blocking; rtscts 1 turns on hardware flow
  // control; bits 7 gives 7-bit characters, anything else 8; stopbits 2 gives two stop bits,
  // anything else one; parity NONE, ODD or EVEN. Pending input and output are discarded.
  // Returns 0, or -1 if the object is already open (the device is not touched then), the speed
  // is not a valid constant, or the device cannot be opened and set up.
  int openDevice(const char* device, int speed, int block, int rtscts, int bits, int stopbits,
                 int parity);
  // Takes over fd, a serial line that another layer has opened and set up already (a PPI
  // daemon's setPort()); its settings are kept, saved and restored at close as after
  // openDevice, and closeDevice closes fd. Returns 0; -1 if the object is already open or fd
  // is not a terminal (fd is then not taken over).
  int adoptDevice(int fd);
  // One byte as 0..255; -1 if not open or the read failed; -2 if no byte came: end of data
  // (the line was hung up) or, on a non-blocking line, nothing waiting. Never waits on a
  // non-blocking line.
  int readChar();
  // Returns 1, or -1 if not open or the byte could not be written.
  int writeChar(unsigned char c);
  // Writes all length bytes, waiting for room in the output queue on a non-blocking line too.
  // Returns length, or -1 if not open, for a negative length or null data, or when the line
  // fails: a telegram that went out only in part is a failure, never a short count.
  int writeBlock(const unsigned char* data, int length);
  // 1 at once for timeout < 1; else 1 if a byte (or a hang-up, which the next read reports)
  // can be read within timeout milliseconds, 0 if not; -1 if not open or on error.
  int select(int timeout);
  // Reads count bytes one by one. timeout > 0: the wait for each byte, in milliseconds;
  // 0: no time limit; negative: no waiting, take only what is already there.
  // Returns count; when a wait expires, the number of bytes read so far, or -1 if none.
  // With a negative timeout on a non-blocking line, what was there (or -2 if nothing was).
  // -1 for count <= 0 or a null buffer; a failed read returns readChar's code (-1, -2).
  int readBlock(unsigned char* buf, int count, int timeout);
  // Reads one line into buf (maxlen bytes). A control character (below 32, tab excepted) ends
  // the line: it is stored, followed by NUL, and the number of bytes before it is returned.
  // With no line end after maxlen-2 bytes, returns maxlen-2 with NUL right behind those bytes,
  // and the rest of the line stays for the next call; so buf[result] is NUL exactly when the
  // line did not end. buf[maxlen-1] is always NUL. timeout > 0: the wait for each byte (-1 when
  // it expires, with the partial text terminated by NUL); 0: no limit; negative: no waiting.
  // A failed read terminates the text and returns readChar's code (-1, -2).
  // -1 for maxlen <= 1 or a null buffer; 0 at once for maxlen 2.
  int readLine(unsigned char* buf, int maxlen, int timeout);
  // Restores the settings saved by openDevice and closes. Returns 0; -1 if not open, or if the
  // settings could not be restored (the line is closed all the same).
  int closeDevice();

 private:
  enum { AGAIN = -3 };  // internal: a non-blocking read found nothing yet
  int readByte();
  int waitInput(int timeout);
  int waitOutput();

  struct termios saved;
  int fd;
  int trace;
};

#endif
