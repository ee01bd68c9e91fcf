// The display client's connection object on arbitrary bytes from a server: what it cuts into
// lines and announced blocks for a stack of consumers. The consumers follow a small script of
// their own in the lines ("B<n>": a block of n bytes follows; "P<size>": a consumer with that
// line buffer goes on the stack; "E": the top one leaves it), so that lines, over-long lines,
// blocks, pushes and pops mix in any order and the stream ends anywhere. Checked on every
// line and block: no line longer than its consumer's buffer, no line while a block is due, a
// block whole and in order, every consumer told of the loss once, nothing after it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <memory>
#include <thread>

#include "otconnection.h"
#include "qtfuzzapp.h"
#include "tcputil.h"

namespace {

int listener = -1;
int port = 0;

void ensureApplication() {
  if (!fuzzApplication("fuzz_clientconnection")) return;
  tcp_init();
  listener = fuzzListener(&port);
}

void check(bool ok) {
  if (!ok) __builtin_trap();
}

struct Tally {
  long long due = 0;  // bytes of the announced block still to come
  int consumers = 0;  // alive
  bool lost = false;
};

class Scripted : public otStreamConsumer {
 public:
  Scripted(Tally& t, int size, int depth) : t_(t), size_(size), depth_(depth) { t_.consumers++; }
  ~Scripted() override { t_.consumers--; }
  int lineSize() const override { return size_; }
  void line(otClientConnection& c, const char* text, int len, bool cut) override {
    check(!t_.lost && t_.due == 0 && len >= 1 && len <= size_ - 1 && text[len] == '\0');
    check(!cut || len == size_ - 1);
    if (cut || text[len - 1] != '\n') return;
    if (text[0] == 'B') {
      long long n = atoll(text + 1) % 200000;
      if (n > 0 && c.expectBlock(n)) t_.due = n;
    } else if (text[0] == 'P' && depth_ < 8) {
      int size = 2 + (int)(atol(text + 1) % 600);
      c.push(std::unique_ptr<otStreamConsumer>(new Scripted(t_, size, depth_ + 1)));
    } else if (text[0] == 'E' && depth_ > 0) {
      c.pop(this);
    }
  }
  void block(otClientConnection&, const char*, int len, bool last) override {
    check(!t_.lost && len > 0 && len <= t_.due);
    t_.due -= len;
    check(last == (t_.due == 0));
  }
  void lost() override {
    check(!lost_);
    lost_ = true;
    t_.lost = true;
  }

 private:
  Tally& t_;
  int size_;
  int depth_;
  bool lost_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ensureApplication();
  if (port == 0 || size > 1 << 20) return 0;
  Tally tally;
  {
    otClientConnection conn;
    Scripted base(tally, 64, 0);
    conn.setBase(&base);
    if (conn.open("127.0.0.1", port) != 0) return 0;
    int server = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (server < 0) return 0;
    // The server's side: the input in pieces of varying size, then its end.
    std::thread peer([server, data, size] {
      size_t off = 0, step = 1;
      while (off < size) {
        size_t n = std::min(size - off, step);
        ssize_t sent = send(server, data + off, n, MSG_NOSIGNAL);
        if (sent <= 0) break;
        off += (size_t)sent;
        step = step * 3 % 1024 + 1;
        if (off % 7 == 0) usleep(100);
      }
      shutdown(server, SHUT_WR);
      char buf[4096];
      while (recv(server, buf, sizeof buf, 0) > 0) {
      }
    });
    QElapsedTimer t;
    t.start();
    while (conn.isOpen() && t.elapsed() < 10000)
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    // The server's end is a loss: every consumer on the stack was told.
    check(!conn.isOpen() && tally.lost && conn.depth() == 0);
    conn.close();
    conn.setBase(nullptr);
    shutdown(server, SHUT_RDWR);
    peer.join();
    close(server);
  }
  // Popped consumers are deleted with the connection at the latest.
  check(tally.consumers == 0);
  return 0;
}
