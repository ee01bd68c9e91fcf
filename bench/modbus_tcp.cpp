// "Read 10 holding registers" transactions on one connection each to the same libmodbus server
// on loopback: otModbus as master against libmodbus as master, in the same run, and a plain
// socket that sends the same request bytes and reads the reply with one blocking recv, the
// floor of a master that sleeps while it waits. otModbus looks again for a while before it
// sleeps while the answers come that fast (otSpinWait), so it is not bound by that floor.
// Usage: bench_modbus_tcp [transactions]. The last line is the ratio ours/libmodbus.
#include <arpa/inet.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "benchrounds.h"
#include "otmodbus.h"

namespace {

std::atomic<bool> stopServer{false};

// One server thread serves every connection through poll(), so both masters meet the same
// thread and the same scheduling.
void serve(int listenFd) {
  modbus_t* ctx = modbus_new_tcp("127.0.0.1", 0);
  modbus_mapping_t* map = modbus_mapping_new(0, 0, 100, 0);
  for (int i = 0; i < 100; i++)
    map->tab_registers[i] = (uint16_t)(i * 3);
  std::vector<struct pollfd> fds = {{listenFd, POLLIN, 0}};
  uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
  while (!stopServer) {
    if (poll(fds.data(), fds.size(), 100) <= 0) continue;
    for (size_t i = 0; i < fds.size(); i++) {
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      if (fds[i].fd == listenFd) {
        int fd = accept(listenFd, nullptr, nullptr);
        if (fd >= 0) fds.push_back({fd, POLLIN, 0});
        continue;
      }
      modbus_set_socket(ctx, fds[i].fd);
      int rc = modbus_receive(ctx, query);
      if (rc > 0) {
        modbus_reply(ctx, query, rc, map);
      } else if (rc == -1) {
        close(fds[i].fd);
        fds.erase(fds.begin() + (long)i);
        i--;
      }
    }
  }
  for (size_t i = 1; i < fds.size(); i++)
    close(fds[i].fd);
  modbus_mapping_free(map);
  modbus_free(ctx);
}

double ourBatch(otModbus& m, int n) {
  int values[10];
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < n; i++)
    if (m.readHoldingRegisters(1, 0, 10, values, 1000) != 20 || values[9] != 27) std::exit(2);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double libmodbusBatch(modbus_t* ctx, int n) {
  uint16_t values[10];
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < n; i++)
    if (modbus_read_registers(ctx, 0, 10, values) != 10 || values[9] != 27) std::exit(3);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The request ourBatch sends, its reply read whole; the same bytes as both masters'.
double plainBatch(int fd, int n) {
  const unsigned char request[12] = {0, 0, 0, 0, 0, 6, 1, 3, 0, 0, 0, 10};
  unsigned char reply[64];
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < n; i++) {
    if (send(fd, request, sizeof request, MSG_NOSIGNAL) != (ssize_t)sizeof request) std::exit(4);
    int got = 0;
    while (got < 29) {
      ssize_t r = recv(fd, reply + got, sizeof reply - (size_t)got, 0);
      if (r <= 0) std::exit(4);
      got += (int)r;
    }
    if (got != 29 || reply[28] != 27) std::exit(4);
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  int total = argc > 1 ? std::atoi(argv[1]) : 100000;
  int lfd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(sin);
  if (bind(lfd, reinterpret_cast<sockaddr*>(&sin), sizeof(sin)) != 0 || listen(lfd, 8) != 0)
    return 1;
  getsockname(lfd, reinterpret_cast<sockaddr*>(&sin), &len);
  int port = ntohs(sin.sin_port);
  std::thread server(serve, lfd);

  otSocket sock("127.0.0.1", port, 1);
  otModbus ours(256 + 1, otModbus::MODBUS_RTU);
  ours.registerSocket(&sock);
  modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
  if (ctx == nullptr || modbus_connect(ctx) != 0) return 1;
  modbus_set_slave(ctx, 1);
  int plainFd = socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  setsockopt(plainFd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (connect(plainFd, reinterpret_cast<sockaddr*>(&sin), sizeof(sin)) != 0) return 1;

  ourBatch(ours, 2000);  // warm-up, and the connection
  libmodbusBatch(ctx, 2000);
  plainBatch(plainFd, 2000);
  // The count is for a whole run; each round gets its share.
  const int perRound = total / otBenchRounds;
  if (perRound < 1) return 2;
  otBenchSide oursSide("otModbus (read 10 holding registers)", "transactions/s");
  otBenchSide refSide("libmodbus", "transactions/s");
  otBenchSide plainSide("plain socket, same bytes", "transactions/s");
  otBenchInterleave(
      oursSide, [&] { return perRound / ourBatch(ours, perRound); }, refSide,
      [&] { return perRound / libmodbusBatch(ctx, perRound); }, plainSide,
      [&] { return perRound / plainBatch(plainFd, perRound); });
  close(plainFd);
  modbus_close(ctx);
  modbus_free(ctx);
  sock.disconnect();
  stopServer = true;
  server.join();
  close(lfd);
  oursSide.print();
  refSide.print();
  plainSide.print();
  otBenchShares("ours", oursSide, "libmodbus", refSide, "plain socket", plainSide);
  otBenchRatio("ratio ours/libmodbus", oursSide, refSide, {&oursSide, &refSide, &plainSide});
  return 0;
}
