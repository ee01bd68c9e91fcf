// Data provider: a small store of numbered integer, float and string variables that one process
// holds (otDataProvider) and serves over TCP (otDataProviderThreads: an otAcceptLoop, one
// thread per client, poll threads that answer the requests), and the client side of its line
// protocol (otDataProviderClient).
//
// Requests, one line each (only the get requests are answered, with one line):
//   int(%d,%d)            setInt                      float(%d,%f)    setFloat
//   intAndReset(%d,%d)    setIntAndWaitForReset       string(%d,"text")  setString
//   getInt(%d)            -> intResult(%d)            getFloat(%d)    -> floatResult(%f)
//   getIntAndReset(%d)    -> intResult(%d)            getString(%d)   -> stringResult("text")
//   getInt0Semaphore()    -> intResult(%d)
//   auth("secret")        the shared secret (see otDataProviderThreads::setSecret)
// Quoted texts use the escape rule of otInterpreter (\" \\ \n). A request line holds at most
// MAX_LINE characters before its line feed; a longer one is dropped whole.
//
// Requests are read strictly: the whole line must be the request, a carriage return before the
// line feed aside. An integer is decimal digits with an optional sign and must fit an int; a
// float is a decimal number (digits, optional point and fraction, optional exponent) that fits
// a float (a value too small for one becomes 0 or the nearest subnormal, as any rounding); hex,
// blanks, inf and nan are refused. A string needs its closing quote; the ")" after it may be
// missing (the array setters have always left it out). A line that is no request is
// ignored, as before, without an answer.
//
// With a shared secret set on the server, a request that changes the store (int, float,
// string, intAndReset, getIntAndReset, getInt0Semaphore) is carried out only on a connection
// that sent auth("secret") before; auth is not answered when it matches. A wrong secret, or a
// changing request without one, is answered with error("text") and the connection is closed.
// getInt, getFloat and getString stay open: the secret travels in clear text, so it keeps
// unknown programs from changing the plant's values but cannot keep them from reading, and
// displays that only read go on working unchanged. Without a secret, auth is ignored.
#ifndef OTDATAPROVIDER_H
#define OTDATAPROVIDER_H

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "otacceptloop.h"
#include "otinterpreter.h"
#include "otsocket.h"
#include "otthread.h"

class otDataProvider {
 public:
  enum {
    MAX_LINE = 4095,   // characters of a request or reply line, line feed not counted
    MAX_SECRET = 256,  // characters of a shared secret
  };

  // A negative count becomes 0. Integers start at 0, floats at 0.0, strings at "".
  otDataProvider(int ints, int floats, int strings);
  virtual ~otDataProvider();
  otDataProvider(const otDataProvider&) = delete;
  otDataProvider& operator=(const otDataProvider&) = delete;

  // Every index is checked against its count; a bad one gives the error value and leaves the
  // store alone. Each call holds the lock only while it touches its element.
  // The value, or -1 for a bad index.
  int getInt(int index);
  // The value, or 0.0 for a bad index.
  float getFloat(int index);
  // The stored string itself (valid until the next set of this index), or null.
  const char* getString(int index);
  // Parse string index as a list (otInterpreter::parseIntArray) into at most max values.
  // The number stored, -1 for a bad index.
  int getIntArray(int index, int* values, int max);
  int getFloatArray(int index, float* values, int max);
  // 0, or -1 for a bad index (setString also for a null text).
  int setInt(int index, int value);
  int setFloat(int index, float value);
  int setString(int index, const char* text);
  // Store the values as text ("%d," or "%f," each, so 1,2,3 becomes "1,2,3,") in string index.
  // 0, or -1 if num < 1, values is null, the text would exceed MAX_LINE characters or the
  // index is bad.
  int setIntArray(int index, int* values, int num);
  int setFloatArray(int index, float* values, int num);
  // The value, which becomes -1 in the same locked step; -1 for a bad index.
  int getIntAndReset(int index);
  // Waits until integer index is -1 (looking every 10 ms), then stores value under the same
  // lock. 0, or -1 for a bad index.
  int setIntAndWaitForReset(int index, int value);
  // setInt(0, value), then one post of the integer-0 semaphore; returns the setInt result.
  int setInt0Semaphore(int value);
  // Waits for a post of the integer-0 semaphore, then returns getInt(0).
  int getInt0Semaphore();
  // Serves one connected client until it disconnects or a read fails; the socket stays open
  // (it is the caller's). Returns 0.
  int run(otSocket* socket);

  // Serves like run; in addition ends when *stop becomes non-zero (after wakeWaiters). The
  // blocking requests give up then: no reply, nothing stored; they give up too when the client
  // disconnects while they wait. stop may be null.
  int serve(otSocket* socket, const std::atomic<int>* stop);
  // serve on a descriptor that the caller keeps (it is not closed here). With a secret (not
  // null, not empty) the changing requests need auth first (see the top of this file); a
  // refused connection gets its error line and this returns, for the caller to close it.
  int serveDescriptor(int fd, const std::atomic<int>* stop, const char* secret = nullptr);
  // Carries out one request line (its line feed may be present) and puts the reply line,
  // line feed included, into *reply. Returns the reply's length, 0 when there is none. A
  // request that blocks gives up, without a reply, once *stop is non-zero (stop may be null).
  // No secret applies here (auth is ignored).
  int handleLine(const char* line, std::string* reply, const std::atomic<int>* stop);
  // Makes every thread blocked in the semaphore wait of serve or handleLine look at its stop
  // flag again. Returns 0.
  int wakeWaiters();

 private:
  friend class otDataProviderThreads;  // serves connections through handleRequest
  struct Session;
  bool intIndex(int index) const { return index >= 0 && index < nints; }
  // One request line of len characters without its line feed; appends a reply to the
  // session's output. Returns the reply's length, 0 when there is none.
  int handleRequest(const char* line, int len, Session* session);
  void appendString(int index, std::string* out);
  // Sends the session's pending answers before a request that may block; false when the send
  // failed (the session is then closing).
  bool flushPending(Session* session);
  // setIntAndWaitForReset and the semaphore wait with a stop flag and the client's descriptor
  // (-1: none): 0 done, -1 bad index, -2 given up because of *stop or because the client went
  // away (nothing stored, no post taken).
  int waitForReset(int index, int value, const std::atomic<int>* stop, int fd);
  int waitInt0(const std::atomic<int>* stop, int fd);

  int nints;
  int nfloats;
  int nstrings;
  std::unique_ptr<int[]> ints;
  std::unique_ptr<float[]> floats;
  std::unique_ptr<char*[]> strings;
  otMutex mutex;
  // The integer-0 semaphore: a count without an upper limit (otSemaphore's maximum is only
  // recorded, too), whose wait a stopping server can interrupt.
  std::mutex semMutex;
  std::condition_variable semCond;
  int semCount;
};

class otDataProviderThreads {
 public:
  // provider is not owned; it must outlive this object (or the last stop()).
  otDataProviderThreads(int port, otDataProvider* provider);
  // Calls stop().
  virtual ~otDataProviderThreads();
  otDataProviderThreads(const otDataProviderThreads&) = delete;
  otDataProviderThreads& operator=(const otDataProviderThreads&) = delete;

  // Address to listen on from the next start(): null or "" (the default) every IPv4 address
  // when a secret is set, else only the loopback address 127.0.0.1 (said at start: anyone who
  // reaches the port could change the store); else a numeric address ("0.0.0.0",
  // "127.0.0.1", "::") or a host name (copied). Returns 0; -1 while
  // running (nothing changed).
  int setBindAddress(const char* address);
  // Shared secret from the next start(): null or "" (the default) none, every request is
  // served as before. With one, the requests that change the store need auth("secret") first
  // on their connection (see the top of this file). Returns 0; -1 while running, or for a
  // secret longer than MAX_SECRET or holding a control character; nothing is changed then.
  int setSecret(const char* secret);

  // When 1 <= port <= 65535 and the provider is not null: listens on port (on the bind
  // address, a deep backlog) before it returns and starts the accept thread, which gives each
  // client a thread of its own, and one poll thread per core (at most 4) that reads and
  // answers the clients' requests; a client's own thread carries out its requests that wait
  // (intAndReset, getInt0Semaphore) and its answers that the socket does not take at once. While
  // the port is taken the accept thread retries every second. Returns 0 when it started, -1
  // otherwise (also when already started or stopped, or when the port cannot be bound for another
  // reason than being taken).
  int start();
  // Ends the accept thread and every client thread: the listening socket is closed, the
  // client sockets are shut down and the blocked handshakes given up. Returns when all of them
  // have ended; afterwards no thread of this object touches the provider or the object. Safe to
  // call more than once. Returns 0.
  int stop();

  otDataProvider* provider;
  int port;

 private:
  struct Conn;
  struct Poller;
  static void serveConnection(int fd, void* self);
  // The poll thread: reads every connection that has input and answers what it can at once.
  void pollLoop(int epfd);
  // Reads and answers a connection the poll thread was woken for (its lock held).
  void service(Conn* c, int epfd);
  // Carries out the complete lines buffered for c; without mayBlock it stops in front of a
  // request that may wait. 0 all done, 1 a waiting request is next, -1 close the connection.
  int process(Conn* c, bool mayBlock);

  std::mutex lock;  // start and stop, one at a time
  otAcceptLoop loop;
  std::atomic<int> stopping;
  bool started;
  std::string bindAddress;
  std::string secret;
  std::unique_ptr<Poller> poller;
};

class otDataProviderClient {
 public:
  enum {
    REPLY_TIMEOUT = 1000,         // ms for every answer but the semaphore's
    SEMAPHORE_TIMEOUT = 3600000,  // ms for getInt0Semaphore
    MAX_STRING = 4078,            // escaped characters of a string whose reply fits a line
  };

  otDataProviderClient();
  virtual ~otDataProviderClient();
  otDataProviderClient(const otDataProviderClient&) = delete;
  otDataProviderClient& operator=(const otDataProviderClient&) = delete;

  // The server's shared secret: null or "" (the default) none. With one, every request that
  // changes the store goes out with auth("secret") in front of it, in the same send, so that a
  // connection made again (by this client or the socket's owner) is never without it. A wrong
  // secret makes the server close the connection: the setters cannot see it, the next get
  // reports -1. Returns 0; -1 for a secret longer than otDataProvider::MAX_SECRET or holding a
  // control character (the secret is then unchanged).
  int setSecret(const char* secret);

  // The socket is the caller's and must be connected. status (may be null): 0 answered,
  // -1 not connected, send failed, connection lost or no matching answer (also an answer
  // longer than a line), -2 no answer in time: the socket is then disconnected and connected
  // again (not for getInt0Semaphore, which waits an hour and only reports -2). Nothing is sent
  // on a socket that is not connected. The result is 0 (null) unless status is 0.
  int getInt(otSocket* s, int index, int* status);
  float getFloat(otSocket* s, int index, int* status);
  // The client's own text buffer, valid until the next getString of this object, or null.
  const char* getString(otSocket* s, int index, int* status);
  int getIntAndReset(otSocket* s, int index, int* status);
  int getInt0Semaphore(otSocket* s, int* status);
  // getString, then otInterpreter::parseIntArray / parseFloatArray: the number of values
  // (0 for an empty text), -1 if the status was not 0.
  int getIntArray(otSocket* s, int index, int* values, int max);
  int getFloatArray(otSocket* s, int index, float* values, int max);

  // Send one request line and wait for no answer (the socket is set to TCP_NODELAY, so that a
  // request that follows is not held back). Return the socket's send result (the line's
  // length), -1 if the socket is not connected or the send failed. setString: -1 also for a
  // null text or one longer than MAX_STRING escaped characters; array setters: -1 also if
  // num < 1, values is null, the line would exceed 4091 characters or the text MAX_STRING.
  // Any of them: -1 also when the line would exceed MAX_LINE characters.
  int setInt(otSocket* s, int index, int value);
  int setFloat(otSocket* s, int index, float value);
  int setString(otSocket* s, int index, const char* text);
  int setIntArray(otSocket* s, int index, int* values, int num);
  int setFloatArray(otSocket* s, int index, float* values, int num);
  int setIntAndWaitForReset(otSocket* s, int index, int value);

 private:
  // Sends request and reads the answer line into interpreter.line (line feed removed).
  // Returns 0 and leaves status for the caller to set, or sets *status to -1 / -2 and
  // returns that code.
  int transact(otSocket* s, const char* request, int len, int timeout, bool reconnect, int* status);
  int intRequest(otSocket* s, const char* request, int len, int timeout, bool reconnect,
                 int* status);
  // 1 line read, 0 time out, -1 connection lost or line too long.
  int readReply(otSocket* s, int timeout);
  int sendLine(otSocket* s, const char* line, int len);
  // The request with the auth line in front of it when a secret is set; points into scratch.
  const char* withAuth(const char* request, int* len);
  template <typename T>
  int setArray(otSocket* s, int index, const T* values, int num, const char* format);

  otInterpreter interpreter;
  char text[4096];
  std::string authLine;  // auth("secret") with its line feed, or empty
  std::string scratch;
};

#endif
