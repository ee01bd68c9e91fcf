// otDF1: a DF1 full-duplex master on a serial line (otSerial, registered by the caller and not
// owned). It sends one command telegram, handles the DLE ACK / DLE NAK / DLE ENQ link exchange,
// receives the answer and checks its CRC and transaction number (TNS).
//
// Telegram on the line: DLE STX, body with every DLE doubled, DLE ETX, CRC low, CRC high.
// Body: DST, SRC, CMD, STS, TNS low, TNS high, command data. The CRC is CRC-16/ARC over the
// body as it is (no doubling) followed by the single byte ETX.
//
// The framing (doubling, CRC, telegram assembly and the answer parser) works on plain buffers
// (df1Buffer, otDF1::crc, otDF1::buildTelegram, otDF1Parser); the line handling sits on top.
//
// Results: 0 or a count for success; -1 time limit, no serial line or a bad argument; -2 the
// partner sent DLE ENQ instead of an answer; -3 three DLE NAK to a command; -5 the answer's
// STS is not 0; -6 the answer's TNS is not that of the last command; -7 the answer carries
// more data than the caller's buffer holds. One object is used by one thread.
#ifndef OTDF1_H
#define OTDF1_H

#include "otserial.h"

// A byte array of fixed size that silently drops what does not fit.
class df1Buffer {
 public:
  // Holds at most size - 1 bytes.
  explicit df1Buffer(unsigned size);
  virtual ~df1Buffer();
  df1Buffer(const df1Buffer&) = delete;
  df1Buffer& operator=(const df1Buffer&) = delete;

  // Appends c if length + 1 < size, else drops it.
  void write(unsigned char c);
  // As write, but a DLE goes in twice. A doubled DLE is appended whole or not at all, so that
  // a full buffer never ends in half a pair.
  void writeDLE(unsigned char c);
  // The address of byte pos. Prints "*** otBuffer read error! ..." when pos >= length; a
  // position beyond the array gives the address of a spare byte, never one outside it.
  unsigned char* operator[](unsigned pos);
  // "Buffer [length]:" and the bytes in hex on standard output.
  void print();

  unsigned length() const { return len; }
  unsigned capacity() const { return size; }
  const unsigned char* data() const { return buf; }
  void clear() { len = 0; }

 private:
  unsigned char* buf;
  unsigned size;
  unsigned len;
  unsigned char spare;
};

// Parses the bytes a DF1 master receives, one at a time, into link events: complete answer
// telegrams (CRC checked), broken telegrams that need a DLE NAK, and control symbols and stray
// bytes outside a telegram. Knows nothing of the line.
class otDF1Parser {
 public:
  enum Event {
    NONE = 0,     // nothing complete yet
    FRAME = 1,    // a telegram with a matching CRC: body() and bodyLength()
    BROKEN = 2,   // a telegram with a wrong CRC, no DLE ETX, too short or too long
    CONTROL = 3,  // DLE and a control character outside a telegram: control()
    STRAY = 4     // a data byte outside a telegram
  };
  enum { BODY_SIZE = 256, MIN_BODY = 6, MAX_BODY = 255 };

  otDF1Parser();
  // Forgets everything received; the next byte is read outside a telegram.
  void reset();
  // Takes one received byte; returns the Event it completes.
  int feed(unsigned char c);
  // The line fell silent: BROKEN when a telegram was under way (it is dropped), else NONE.
  int silence();
  // True while a telegram (or a DLE pair) is under way.
  bool busy() const { return state != IDLE || dle; }

  const unsigned char* body() const { return bodyBuf; }
  int bodyLength() const { return bodyLen; }
  unsigned char control() const { return ctrl; }

 private:
  enum State { IDLE, BODY, CRC_LOW, CRC_HIGH };
  State state;
  bool dle;       // a DLE was read, its partner is next
  bool overflow;  // the body had more than MAX_BODY bytes
  unsigned char crcLow;
  unsigned char ctrl;
  int bodyLen;
  unsigned char bodyBuf[BODY_SIZE];
};

class otDF1 {
 public:
  enum { STX = 0x02, ETX = 0x03, ENQ = 0x05, ACK = 0x06, DLE = 0x10, NAK = 0x15 };
  enum {
    DF1_TIMEOUT = -1,
    DF1_ENQ = -2,
    DF1_NAK = -3,
    DF1_STS = -5,
    DF1_TNS = -6,
    DF1_TOO_LONG = -7
  };
  // Largest command or answer data: a body holds 255 bytes, 6 of them the header.
  enum { MAX_DATA = otDF1Parser::MAX_BODY - otDF1Parser::MIN_BODY };
  // Room for a telegram of the largest body with every byte doubled.
  enum { FRAME_SIZE = 2 + 2 * otDF1Parser::MAX_BODY + 4 + 1 };

  // src: own station address; timeout: the wait for each received byte, in milliseconds.
  otDF1(unsigned char src, int timeout);
  virtual ~otDF1();
  otDF1(const otDF1&) = delete;
  otDF1& operator=(const otDF1&) = delete;

  // The line to use (not owned). Returns 0.
  int registerSerial(otSerial* serial);

  // Write raw bytes. Return the serial line's result; -1 without a serial line.
  int writeBuffer(unsigned char* buf, int len);
  int writeBuffer(df1Buffer& buf);
  // One symbol: 0 for a data byte (DLE DLE gives DLE), 1 for DLE and a control character
  // (stored in *c); -1 when a byte does not come in time.
  int getSymbol(unsigned char* c);
  // One raw byte: 0, or -1 when it does not come in time.
  int get(unsigned char* c);
  // DLE ENQ, DLE ACK, DLE NAK. Return the serial line's result; -1 without a serial line.
  int sendENQ();
  int sendACK();
  int sendNAC();

  // Sends one command telegram (TNS incremented before) and waits for the link answer:
  // 0 on DLE ACK; -3 after the third DLE NAK (the telegram is sent again after each NAK);
  // -1 after the third time limit (DLE ENQ is sent after the first two), without a serial
  // line, or when len exceeds MAX_DATA (nothing is sent then).
  int sendCommand(unsigned char dst, unsigned char cmd, unsigned char sts, unsigned char* data,
                  unsigned char len);
  // Waits for the answer to the last command. data must hold MAX_DATA bytes. 0 with the
  // answer's DST, CMD, STS, data and data length stored (DLE ACK sent); -1 when the line falls
  // silent outside a telegram, or after 4096 bytes without an answer; -2 when the partner sent
  // DLE ENQ (the last link answer is repeated); -6 when the answer's TNS is not the last
  // command's (acknowledged all the same). A damaged telegram gets DLE NAK and the wait goes on.
  int receiveAnswer(unsigned char& dst, unsigned char& cmd, unsigned char& sts, unsigned char* data,
                    unsigned char& len);

  // CMD 0x0F, FNC 0x3A. Returns sendCommand's error or receiveAnswer's result; a non-zero STS
  // is printed, not returned.
  int cmdSetCPUMode(unsigned char dst, unsigned char mode);
  // CMD 0x06, FNC 0x03. buf must hold MAX_DATA bytes. Returns the number of answer data bytes
  // copied to buf, or the error of sendCommand or receiveAnswer.
  int cmdDiagnosticStatus(unsigned char dst, unsigned char* buf);
  // CMD 0x0F, FNC 0xA2 (read) or 0xAA (write, followed by size bytes from buf). buf holds size
  // bytes; the answer data are copied to it. Return the number of answer data bytes, the error
  // of sendCommand or receiveAnswer, -5 if the answer's STS is not 0, -7 if the answer carries
  // more than size bytes (buf is left alone then).
  int cmdLogicalRead(unsigned char dst, unsigned char size, unsigned char file_type,
                     unsigned char file_number, unsigned char element, unsigned char subelement,
                     unsigned char* buf);
  int cmdLogicalWrite(unsigned char dst, unsigned char size, unsigned char file_type,
                      unsigned char file_number, unsigned char element, unsigned char subelement,
                      unsigned char* buf);

  // CRC-16/ARC (reflected polynomial 0xA001, initial 0) over len body bytes and ETX.
  static unsigned short crc(const unsigned char* body, int len);
  // Clears out and fills it with the telegram for len body bytes: DLE STX, the body with DLE
  // doubled, DLE ETX, CRC low, CRC high. Returns the telegram's length, or -1 when it does not
  // fit into out (out is left empty then) or len is negative.
  static int buildTelegram(const unsigned char* body, int len, df1Buffer& out);

 private:
  int respond(unsigned char response);
  int transaction(unsigned char dst, unsigned char* request, unsigned char reqLen,
                  unsigned char* answer, unsigned char& answerLen, unsigned char& sts);

  otSerial* serial;
  unsigned short tns;
  int commands;
  int answers;
  unsigned char src;
  int timeout;
  unsigned char lastResponse;  // the link answer DLE ENQ asks to repeat: ACK or NAK
  otDF1Parser parser;
};

#endif
