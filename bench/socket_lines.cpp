// Request/response round trips of 40-byte lines over loopback: otSocket (printf + readStr)
// against a plain POSIX client with its own line buffer (send + recv), both talking to the
// same plain echo server in this process. Usage: bench_socket_lines [round trips].
// The last line is the ratio ours/reference.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "benchrounds.h"
#include "otsocket.h"

namespace {

const char kLine[] = "01234567890123456789012345678901234567 \n";  // 40 bytes with the LF
static_assert(sizeof(kLine) == 41, "a 40-byte line");

// Echoes every line it receives on one connection until the peer closes.
void echoConnection(int fd) {
  char buf[4096];
  std::string pending;
  for (;;) {
    ssize_t n = recv(fd, buf, sizeof(buf), 0);
    if (n <= 0) break;
    pending.append(buf, (size_t)n);
    size_t nl;
    while ((nl = pending.find('\n')) != std::string::npos) {
      send(fd, pending.data(), nl + 1, MSG_NOSIGNAL);
      pending.erase(0, nl + 1);
    }
  }
  close(fd);
}

class PlainClient {
 public:
  explicit PlainClient(int fd) : fd_(fd) {}
  void sendLine(const char* text) { send(fd_, text, strlen(text), MSG_NOSIGNAL); }
  // Returns the next line from the connection, buffering whatever came behind it.
  int readLine(char* out, int size) {
    for (;;) {
      char* nl = static_cast<char*>(memchr(buf_ + start_, '\n', (size_t)(end_ - start_)));
      if (nl != nullptr) {
        int len = (int)(nl - (buf_ + start_)) + 1;
        if (len > size - 1) len = size - 1;
        memcpy(out, buf_ + start_, (size_t)len);
        out[len] = '\0';
        start_ += len;
        return len;
      }
      if (start_ > 0) {
        memmove(buf_, buf_ + start_, (size_t)(end_ - start_));
        end_ -= start_;
        start_ = 0;
      }
      ssize_t n = recv(fd_, buf_ + end_, sizeof(buf_) - (size_t)end_, 0);
      if (n <= 0) return -1;
      end_ += (int)n;
    }
  }

 private:
  int fd_;
  char buf_[4096];
  int start_ = 0, end_ = 0;
};

// One batch of round trips on an open connection; returns the seconds it took.
double otBatch(otSocket& sock, int trips) {
  char line[128];
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < trips; i++) {
    sock.printf("%s", kLine);
    if (sock.readStr(line, sizeof(line)) != 40) std::exit(2);
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double plainBatch(PlainClient& c, int trips) {
  char line[128];
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < trips; i++) {
    c.sendLine(kLine);
    if (c.readLine(line, sizeof(line)) != 40) std::exit(2);
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  int trips = argc > 1 ? std::atoi(argv[1]) : 50000;
  int lfd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(sin);
  if (bind(lfd, reinterpret_cast<sockaddr*>(&sin), sizeof(sin)) != 0 || listen(lfd, 16) != 0)
    return 1;
  getsockname(lfd, reinterpret_cast<sockaddr*>(&sin), &len);
  int port = ntohs(sin.sin_port);
  std::thread server([lfd] {
    int fd;
    while ((fd = accept(lfd, nullptr, nullptr)) >= 0)
      std::thread(echoConnection, fd).detach();
  });
  server.detach();

  // Both clients take turns on the same connection, so that they meet the same echo thread
  // and the same scheduling; only one line is ever in flight, so no bytes change hands.
  otSocket sock("127.0.0.1", port, 1);
  if (sock.connect() < 0) return 1;
  PlainClient plain(sock.s);
  otBatch(sock, 2000);  // warm-up
  plainBatch(plain, 2000);
  // The count is for a whole run; each round gets its share.
  const int perRound = trips / otBenchRounds;
  if (perRound < 1) return 2;
  otBenchSide ours("otSocket printf+readStr (40-byte lines)", "round trips/s");
  otBenchSide ref("plain send+recv client", "round trips/s");
  otBenchInterleave(
      ours, [&] { return perRound / otBatch(sock, perRound); }, ref,
      [&] { return perRound / plainBatch(plain, perRound); });
  ours.print();
  ref.print();
  otBenchRatio("ratio ours/reference", ours, ref, {&ours, &ref});
  return 0;
}
