// The display client's connection layer. A connection is known by a slot number (1 to 32)
// held in an int; every call takes a pointer to that int, so that a connection found broken
// is marked closed (-1) for the caller at once and fails fast for every later call.
// An optional communication plug-in (a shared library named in the options record) can carry
// a connection's traffic instead of plain TCP. All functions belong to the GUI thread.
//
// The plug-in exports any of these C functions (table: the 34 plug-in flags, one per slot):
//   int hxc_com_con(const char* host, int port, int* use_plugin)
//       a handle > 0 when it made the connection (*use_plugin = 1: it carries the traffic
//       too); 0 or less leaves the connection to plain TCP
//   int hxc_com_rec(int slot, int sock, char* line, int size, int* table)
//       the bytes of one line (at most size - 1, NUL-terminated); below 0: closed
//   int hxc_com_rec_binary(int slot, int sock, char* buf, int len, int* table)
//       len, or -1: closed
//   int hxc_com_send(int slot, int sock, const char* data, int len, int* table)
//       bytes sent, or -1: closed
//   int hxc_com_close(int slot, int sock, int* table)
//       1 when it closed the connection itself; slot 33 for a connection that found the
//       slot table full
//   int hxc_com_plugin_on(int slot, const char* line)
//       the server sent line, beginning with "@plugin(", on a plain connection: the plug-in
//       carries the slot from the next byte on (the result is not used)
#ifndef TCPUTIL_H
#define TCPUTIL_H

// Clears the slot table and loads the communication plug-in named in opt. Returns 0.
int tcp_init();
// Unloads the plug-in. Returns 0.
int tcp_free();
// Connects to host:port. Returns the slot (1 to 32), 33 when every slot is taken (the
// connection is then closed again), -1 when the host cannot be resolved. A slot whose
// connection could not be made holds -1 and reports the connection closed at its first use.
int tcp_con(const char* host, int port);
// Reads one line into line (size bytes): at most size - 1 bytes, up to and including the
// line feed, NUL-terminated; the rest of a longer line comes with the next call. Returns the
// bytes stored, 0 (empty text) for size below 2, or -1 when the connection is closed (line is
// then "\n" and *s becomes -1). A plain connection gives up only the bytes of the line, so
// that a plug-in taking over after an "@plugin(" line finds every byte that follows.
int tcp_rec(int* s, char* line, int size);
// The same for whole lines: a line longer than size - 1 bytes keeps its first size - 1 bytes
// and the rest of it is read and dropped (*cut, when given, is then 1, else 0), so that its
// rest is never taken for a line of its own. Returns the bytes stored, or -1 (closed).
int tcp_rec_line(int* s, char* line, int size, int* cut);
// Reads exactly len bytes. Returns len, or -1 when the connection closes first.
int tcp_rec_binary(int* s, char* buf, int len);
// Sends len bytes. Returns the count sent, or -1 (connection marked closed).
int tcp_send(int* s, const char* data, int len);
// Sends "shutup\n" and closes the connection. 0, or -1 when already closed. *s keeps its slot.
int tcp_close(int* s);
// Waits msec milliseconds. Returns 0.
int tcp_sleep(int msec);

// The socket descriptor behind a plain connection, for an event loop that waits until it is
// readable; -1 for a closed connection or one that the plug-in carries.
int tcp_fd(int* s);

// How many calls of tcp_rec(s, line, size) will not block: the number of whole lines waiting
// (1 for size - 1 bytes without a line feed, for a closed
// connection and for one that is not a plain connection); 0 while only part of a line has
// arrived. Lets an event loop leave a slow or stalled sender's partial line for later.
int tcp_line_ready(int* s, int size);

// How many bytes tcp_rec_binary(s, buf, n) takes now without waiting: those taken ahead with
// the last lines and those the socket holds. 1 for a closed connection and for a peer that
// has hung up (the read then reports it), INT_MAX for a connection the plug-in carries (its
// own read waits as it must), 0 while nothing has arrived. Lets an event loop take a block
// as it arrives.
int tcp_bytes_ready(int* s);

// Blocking reads (a command's block or stream: lines of a drawing, bytes of a download) wait
// in short slices. Between slices, and every 100 ms while bytes keep coming, hook(context)
// runs, so that a program can paint and take input meanwhile; it is not run again from
// within itself. A hook that returns non-zero gives the stream up: the read fails and the
// connection is dropped as broken. A read also fails, dropping the connection, when the
// server sends no byte for opt.stream_timeout seconds. Null removes the hook.
typedef int (*TcpWaitHook)(void* context);
void tcp_set_wait_hook(TcpWaitHook hook, void* context);

// Bounds what the connection may still bring, in bytes, until the next call (below 0: no
// bound). A read that would go past it fails and drops the connection; so does a binary read
// whose length alone is past it, before it waits for a byte. 0, or -1 when closed.
int tcp_stream_limit(int* s, long long bytes);

// What the connection may still bring under the bound above: bytes, or -1 without a bound or
// for a closed connection.
long long tcp_stream_left(int* s);

// The server promised ("@alive(ms)") to send something at least every ms milliseconds.
// 0, or -1 when closed or ms is below 1.
int tcp_alive(int* s, int ms);
// 1 when the server promised and has sent nothing for 4 promised intervals (at least 3 s),
// and no byte is waiting on the socket either: it is gone without closing. 0 otherwise.
int tcp_peer_silent(int* s);

// Closes a connection found broken (no farewell is sent): why is printed and kept as the
// reason. 0, or -1 when already closed.
int tcp_abort(int* s, const char* why);
// Why this layer last dropped a connection itself ("" when it has not, or after the clear).
const char* tcp_broken_reason();
void tcp_clear_broken_reason();

#endif
