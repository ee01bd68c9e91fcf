// The GL widget's decoder on arbitrary stream bytes, as a server would send them after
// "hxGlBegin(id)": lines, blocks, block ends, over-long lines, cut input, taken by the
// connection's GL stream as they arrive. The widget is never shown (no GL context), so what
// runs is everything but GL itself: the line parser, the dispatch on the command names, the
// calls that await their blocks, the block sizes and the replies.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <memory>
#include <thread>

#include "hxglwidget.h"
#include "otoptions.h"
#include "otstreams.h"
#include "qtfuzzapp.h"
#include "tcputil.h"

namespace {

int listener = -1;
int port = 0;

void ensureApplication() {
  if (!fuzzApplication("fuzz_gldecoder")) return;
  tcp_init();
  listener = fuzzListener(&port);
}

// Every line outside a GL block starts one, as if "hxGlBegin(id)" had come before it.
class BlockStarter : public otStreamConsumer {
 public:
  explicit BlockStarter(HxGLWidget* w) : w_(w) {}
  int lineSize() const override { return HxGLWidget::LINE_SIZE; }
  void line(otClientConnection& c, const char* text, int len, bool cut) override {
    auto* gl = new otGlStream(w_, 1, c.handle());
    c.push(std::unique_ptr<otStreamConsumer>(gl));
    gl->line(c, text, len, cut);
  }

 private:
  HxGLWidget* w_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ensureApplication();
  if (port == 0) return 0;
  otClientConnection conn;
  if (conn.open("127.0.0.1", port) != 0) return 0;
  int server = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (server < 0) return 0;
  // The server's side: the input, then its end; the client's replies are read and dropped so
  // that the client never waits on a full socket.
  std::thread peer([server, data, size] {
    size_t off = 0;
    while (off < size) {
      ssize_t n = send(server, data + off, size - off, MSG_NOSIGNAL);
      if (n <= 0) break;
      off += (size_t)n;
    }
    shutdown(server, SHUT_WR);
    char buf[65536];
    while (recv(server, buf, sizeof buf, 0) > 0) {
    }
  });
  {
    HxGLWidget w(nullptr, 1, conn.handle(), "fuzz");
    BlockStarter starter(&w);
    conn.setBase(&starter);
    // The connection takes the input as it arrives, until the server's end closes it.
    QElapsedTimer t;
    t.start();
    while (conn.isOpen() && t.elapsed() < 10000)
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    conn.close();
    conn.setBase(nullptr);
  }
  shutdown(server, SHUT_RDWR);
  peer.join();
  close(server);
  return 0;
}
