// A libmodbus slave for tests: libmodbus, an independent implementation of the protocol,
// answers from its own tables in a thread of the test process, over Modbus/TCP on loopback or
// RTU on a pseudo-terminal.
#ifndef OTKIT_LIBMODBUSSLAVE_H
#define OTKIT_LIBMODBUSSLAVE_H

#include <arpa/inet.h>
#include <errno.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ottest {

inline long long libmodbusNowMs() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (long long)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

// A libmodbus slave serving its tables from a thread until stop(). The tables are shared with
// the test: both sides touch them only under `lock`, which the thread holds while it answers.
template <int kBits, int kInputBits, int kRegisters, int kInputRegisters>
class LibmodbusSlave {
 public:
  LibmodbusSlave() : map(modbus_mapping_new(kBits, kInputBits, kRegisters, kInputRegisters)) {}
  ~LibmodbusSlave() {
    stop();
    if (ctx != nullptr) modbus_free(ctx);
    if (listenFd >= 0) close(listenFd);
    modbus_mapping_free(map);
  }
  LibmodbusSlave(const LibmodbusSlave&) = delete;
  LibmodbusSlave& operator=(const LibmodbusSlave&) = delete;

  // Modbus/TCP on 127.0.0.1 at port, 0: one the kernel picks; returns the port, or -1.
  int startTcp(int port = 0) {
    ctx = modbus_new_tcp("127.0.0.1", port);
    if (ctx == nullptr) return -1;
    listenFd = modbus_tcp_listen(ctx, 1);
    sockaddr_in sin{};
    socklen_t len = sizeof(sin);
    if (listenFd < 0 || getsockname(listenFd, reinterpret_cast<sockaddr*>(&sin), &len) != 0)
      return -1;
    quick();
    thread = std::thread([this] { serveTcp(); });
    return ntohs(sin.sin_port);
  }

  // RTU slave `slave` on the terminal at path; false if libmodbus cannot open it.
  bool startRtu(const std::string& path, int slave) {
    ctx = modbus_new_rtu(path.c_str(), 9600, 'N', 8, 1);
    if (ctx == nullptr || modbus_set_slave(ctx, slave) != 0 || modbus_connect(ctx) != 0)
      return false;
    quick();
    thread = std::thread([this] { serve(false); });
    return true;
  }

  void stop() {
    stopping = true;
    if (listenFd >= 0) shutdown(listenFd, SHUT_RDWR);  // ends a wait in accept
    if (thread.joinable()) thread.join();
    if (ctx != nullptr) modbus_close(ctx);
  }

  // Runs f on the tables under the lock and returns its result.
  template <class F>
  auto withMap(F f) {
    std::lock_guard<std::mutex> hold(lock);
    return f(map);
  }
  int reg(int i) {
    return withMap([i](modbus_mapping_t* m) { return (int)m->tab_registers[i]; });
  }
  int coil(int i) {
    return withMap([i](modbus_mapping_t* m) { return (int)m->tab_bits[i]; });
  }
  // Every request the slave answered, as received (TCP: from the MBAP header on; RTU: with CRC).
  std::vector<std::string> requests() {
    std::lock_guard<std::mutex> hold(lock);
    return answered;
  }
  std::string lastRequest() {
    std::lock_guard<std::mutex> hold(lock);
    return answered.empty() ? std::string() : answered.back();
  }
  // Holds the slave back: it answers no request while the returned lock is held.
  std::unique_lock<std::mutex> pause() { return std::unique_lock<std::mutex>(lock); }
  // Waits until the slave has answered n requests in all.
  bool waitAnswered(size_t n) {
    for (long long end = libmodbusNowMs() + 3000; libmodbusNowMs() < end; usleep(1000))
      if (requests().size() >= n) return true;
    return false;
  }
  // Makes the slave close the connection right after answering the next request.
  void dropAfterNextAnswer() {
    std::lock_guard<std::mutex> hold(lock);
    dropAt = answered.size() + 1;
  }
  int connections() const { return accepted; }

 private:
  // Short waits for a request, so that the thread sees stop() soon; and a short pause before
  // an exception reply (libmodbus waits its response time limit there to let the line settle).
  void quick() {
    modbus_set_indication_timeout(ctx, 0, 50000);
    modbus_set_response_timeout(ctx, 0, 50000);
  }

  void serveTcp() {
    while (!stopping) {
      int fd = listenFd;
      if (modbus_tcp_accept(ctx, &fd) < 0) return;
      accepted++;
      serve(true);
      modbus_close(ctx);
    }
  }

  // Answers requests until stop(), or over TCP until the peer leaves or a drop is asked for.
  void serve(bool tcp) {
    uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
    while (!stopping) {
      int rc = modbus_receive(ctx, query);
      if (rc > 0) {
        std::lock_guard<std::mutex> hold(lock);
        answered.emplace_back(reinterpret_cast<const char*>(query), (size_t)rc);
        modbus_reply(ctx, query, rc, map);
        if (tcp && answered.size() == dropAt) return;
      } else if (rc < 0 && tcp && errno != ETIMEDOUT) {
        return;  // the peer closed
      }
      // RTU: a request for another slave (0) or a broken one (-1) is skipped, as on a bus.
    }
  }

  modbus_mapping_t* map;
  modbus_t* ctx = nullptr;
  int listenFd = -1;
  std::thread thread;
  std::mutex lock;
  std::vector<std::string> answered;
  std::atomic<bool> stopping{false};
  size_t dropAt = (size_t)-1;
  std::atomic<int> accepted{0};
};

}  // namespace ottest

#endif
