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
// A plug-in's handle is the socket it carries (closed here when hxc_com_close does not say 1).
// A read or send that fails (-1) ends the handle: the plug-in closes what it holds.
//
// Optional extras; a plug-in without them works as above:
//   int hxc_com_set(const char* name, const char* value)
//       settings, handed over before every hxc_com_con: "ca" and "fingerprint" (opt.tls_ca,
//       opt.tls_fingerprint), "allow_tls12" ("0" or "1"), "connect_timeout" and
//       "stall_timeout" (seconds: opt.connect_timeout, opt.stream_timeout). 0, or -1 for a
//       name or value the plug-in does not take (not an error here)
//   const char* hxc_com_refusal(void)
//       asked right after every hxc_com_con: a text that is not empty means the plug-in
//       refused the connection (a server that failed verification, say). Whatever hxc_com_con
//       returned, there is then no plain TCP: a handle > 0 goes back to hxc_com_close (slot
//       33), tcp_con returns -1 and the text is the reason (tcp_broken_reason). A plug-in
//       that must never leave a connection to plain TCP also returns a handle > 0 that carries
//       nothing, for a loader without this extra
//   int hxc_com_fd(int slot, int sock)
//       the descriptor an event loop waits on until the slot has something (without it: the
//       handle, when it is an open descriptor)
//   int hxc_com_ready(int slot, int sock, const char** data)
//       takes without waiting what the connection brings now and shows what the plug-in holds
//       taken and not yet handed out: *data (valid until the next call for the slot) and the
//       count; -1 when the connection has ended (the next read says so). A TLS record holds
//       many lines: with this extra they are handed out one by one without the descriptor
//       being readable again, and a block is taken as it arrives.
//
// The plug-in (opt.hxc_com_plugin) is a plain file name, looked for in the user's plug-in
// folder (opt.plugin_dir), then among the plug-ins installed with this library: the folder
// otkit/plugins beside libotwidgets (PREFIX/lib/otkit/plugins; in the build tree beside the
// built library, where the built plug-ins are put). A name without a dot stands for NAME.so
// as well: -plugin=tls loads the TLS plug-in, tls.so. File and folder pass the same checks in
// both places (no link, owned by the user or root, writable by no one else, neither the
// working directory nor the downloads folder); a refusal in the user's folder is final. A
// plug-in that is configured but cannot be loaded refuses every connection (tcp_con -1, with
// the reason): the operator asked for that transport, not for plain TCP.
#ifndef TCPUTIL_H
#define TCPUTIL_H

// Clears the slot table and loads the communication plug-in named in opt. Returns 0.
int tcp_init();
// Unloads the plug-in. Returns 0.
int tcp_free();
// Connects to host:port. Returns the slot (1 to 32), 33 when every slot is taken (the
// connection is then closed again), -1 when the host cannot be resolved, the plug-in refused
// the connection or the configured plug-in could not be loaded (the last two say why in
// tcp_broken_reason). A slot whose connection could not be made holds -1 and reports the
// connection closed at its first use.
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

// The socket descriptor behind a plain connection; -1 for a closed connection or one that the
// plug-in carries.
int tcp_fd(int* s);
// The descriptor an event loop waits on until the connection has something: the plain
// socket, or the plug-in's (hxc_com_fd, else its handle). -1 for a closed connection or a
// plug-in without one. Readable or not, ask tcp_line_ready and tcp_bytes_ready what to take.
int tcp_wait_fd(int* s);

// How many calls of tcp_rec(s, line, size) will not block: the number of whole lines waiting
// (1 for size - 1 bytes without a line feed and for a closed or ended connection); 0 while
// only part of a line has arrived. Lets an event loop leave a slow or stalled sender's
// partial line for later. For a connection the plug-in carries: the lines it holds
// (hxc_com_ready); a plug-in that cannot tell gives 1 while its descriptor is readable (or
// when it has none), else 0.
int tcp_line_ready(int* s, int size);

// How many bytes tcp_rec_binary(s, buf, n) takes now without waiting: those taken ahead with
// the last lines and those the socket holds (or those the plug-in holds, hxc_com_ready). 1 for
// a closed connection and for a peer that has hung up (the read then reports it), 0 while
// nothing has arrived. A plug-in that cannot tell: INT_MAX while its descriptor is readable or
// when it has none (its own read waits as it must), else 0. Lets an event loop take a block as
// it arrives.
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
