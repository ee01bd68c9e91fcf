// otmodbussim: a Modbus slave simulator. It keeps coils, discrete inputs, holding and input
// registers in memory and serves them over Modbus/TCP or a serial line (RTU or ASCII) through
// the slave side of otModbus (readRequest + write). With -simulate a few input registers and
// discrete inputs follow a simulated process, so that a demo or an integration test polls live
// values.
#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "otacceptloop.h"
#include "otmodbus.h"
#include "otserial.h"
#include "toolargs_p.h"
#include "otsocket.h"
#include "ottime.h"

namespace {

const char kUsage[] =
    "usage: otmodbussim [options]\n"
    "A Modbus slave simulator: serves coils, discrete inputs, holding and input registers\n"
    "from memory over Modbus/TCP or a serial line (RTU or ASCII).\n"
    "\n"
    "Transport (one of them; default -port=5020):\n"
    "  -port=N             Modbus/TCP on port N of the loopback address 127.0.0.1, or of\n"
    "                      the -bind address\n"
    "  -bind=ADDR          with -port (or its default): listen on ADDR only, an IPv4 or\n"
    "                      IPv6 address (brackets optional) or a host name, e.g.\n"
    "                      -bind=127.0.0.1, -bind=::1, -bind=:: (IPv6 and IPv4);\n"
    "                      default 127.0.0.1: Modbus has no login, so the simulator\n"
    "                      listens elsewhere only when told (-bind=0.0.0.0: every\n"
    "                      IPv4 interface)\n"
    "  -tcp=[HOST:]PORT    Modbus/TCP on one address (without HOST 127.0.0.1):\n"
    "                      0.0.0.0 (every IPv4 interface), an IPv4 or IPv6 address or\n"
    "                      a host name; IPv6 in brackets,\n"
    "                      e.g. -tcp=127.0.0.1:5020, -tcp=[::]:5020 (IPv6 and IPv4),\n"
    "                      -tcp=[::1]:5020\n"
    "  -serial=DEVICE      serial line, e.g. -serial=/dev/ttyUSB0\n"
    "Modbus/TCP:\n"
    "  -idle=SECONDS       close a connection that sends no request for this long, so\n"
    "                      that silent clients cannot hold the simulator; 0: never\n"
    "                      (default 60)\n"
    "  -maxclients=N       clients served at once, 1 to 10000 (default 64); a client\n"
    "                      above the limit is disconnected at once, and a line on the\n"
    "                      output counts the refused connections\n"
    "Serial line (with -serial only):\n"
    "  -mode=rtu|ascii     framing (default rtu)\n"
    "  -baud=N             speed, 300 to 4000000 (default 9600)\n"
    "  -parity=none|odd|even   (default none)\n"
    "  -bits=7|8           character size (default 8)\n"
    "  -stopbits=1|2       (default 1)\n"
    "Slave:\n"
    "  -slave=N            answer unit id N only, 0 to 255; 0 answers every unit id\n"
    "                      (default 0). On a serial line address 0 is a broadcast: its\n"
    "                      writes are carried out and never answered.\n"
    "  -coils=N            number of coils and of discrete inputs, 1 to 65536 (default 10000)\n"
    "  -registers=N        number of holding and of input registers, 1 to 65536\n"
    "                      (default 10000)\n"
    "  -init=FILE          initial values, one table per line:\n"
    "                        coil|discrete|holding|input ADDRESS VALUE [VALUE ...]\n"
    "                      values in decimal or 0x hex; '#' starts a comment\n"
    "  -simulate           run a simulated process, changing each second:\n"
    "                        input register 0   seconds since start (wraps at 65536)\n"
    "                        input register 1   sine wave 0..1000, period 60 s\n"
    "                        input register 2   sine wave 0..1000, period 10 s\n"
    "                        input register 3   sawtooth 0..99, one step per second\n"
    "                        discrete input 0   toggles every second\n"
    "                        discrete input 1   1 while input register 1 is above 500\n"
    "  -v                  print one line per request\n"
    "  -h                  this text\n"
    "\n"
    "Function codes served: 1, 2, 3, 4 (read), 5, 6, 15, 16 (write), 22 (mask write\n"
    "register) and 23 (read/write multiple registers). Any other function is answered with\n"
    "exception 1 (illegal function), an address outside a table with exception 2 (illegal\n"
    "data address), a count or value outside the protocol limits with exception 3 (illegal\n"
    "data value). Over TCP several clients are served at once.\n"
    "SIGTERM or SIGINT stops the simulator with exit status 0; bad options give status 2,\n"
    "a transport or file that cannot be used status 1.\n";

// Protocol limits of the Modbus application protocol.
enum {
  MAX_READ_BITS = 2000,
  MAX_WRITE_BITS = 1968,
  MAX_READ_REGISTERS = 125,
  MAX_WRITE_REGISTERS = 123,
  MAX_RW_WRITE_REGISTERS = 121,
  TABLE_LIMIT = 65536,  // 16-bit addresses
};

enum {
  ILLEGAL_FUNCTION = 1,
  ILLEGAL_DATA_ADDRESS = 2,
  ILLEGAL_DATA_VALUE = 3,
};

int u16(const unsigned char* p) {
  return p[0] * 256 + p[1];
}

void putU16(unsigned char* p, int v) {
  p[0] = (unsigned char)((v >> 8) & 0xFF);
  p[1] = (unsigned char)(v & 0xFF);
}

// The four data tables. Every access names a table, a start address and a count and is
// refused as a whole (false) when any part of it lies outside the table, so no request can
// read or write past the memory. Each call is atomic towards the other client threads.
class SimulatorMemory {
 public:
  enum Table { COILS, DISCRETE_INPUTS, HOLDING_REGISTERS, INPUT_REGISTERS };

  SimulatorMemory(int bits, int registers)
      : coils_(bits), discrete_(bits), holding_(registers), input_(registers) {}

  bool readBits(Table t, int start, int count, unsigned char* packed) {
    std::lock_guard<std::mutex> hold(mutex_);
    const std::vector<unsigned char>* bits = bitTable(t);
    if (!bits || !fits(bits->size(), start, count)) return false;
    memset(packed, 0, (size_t)(count + 7) / 8);
    for (int i = 0; i < count; i++)
      if ((*bits)[(size_t)(start + i)]) packed[i / 8] |= (unsigned char)(1 << (i % 8));
    return true;
  }

  bool writeBits(Table t, int start, int count, const unsigned char* packed) {
    std::lock_guard<std::mutex> hold(mutex_);
    std::vector<unsigned char>* bits = bitTable(t);
    if (!bits || !fits(bits->size(), start, count)) return false;
    for (int i = 0; i < count; i++)
      (*bits)[(size_t)(start + i)] = (packed[i / 8] >> (i % 8)) & 1;
    return true;
  }

  // Register values travel high byte first.
  bool readRegisters(Table t, int start, int count, unsigned char* bytes) {
    std::lock_guard<std::mutex> hold(mutex_);
    return readRegistersLocked(t, start, count, bytes);
  }

  bool writeRegisters(Table t, int start, int count, const unsigned char* bytes) {
    std::lock_guard<std::mutex> hold(mutex_);
    return writeRegistersLocked(t, start, count, bytes);
  }

  // Holding register adr becomes (value AND and_mask) OR (or_mask AND NOT and_mask).
  bool maskWrite(int adr, int and_mask, int or_mask) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!fits(holding_.size(), adr, 1)) return false;
    int v = holding_[(size_t)adr];
    holding_[(size_t)adr] = (uint16_t)((v & and_mask) | (or_mask & ~and_mask));
    return true;
  }

  // Function 23: both ranges are checked before anything is written, and the write comes
  // before the read, in one step.
  bool writeThenRead(int wstart, int wcount, const unsigned char* wbytes, int rstart, int rcount,
                     unsigned char* rbytes) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!fits(holding_.size(), wstart, wcount) || !fits(holding_.size(), rstart, rcount))
      return false;
    writeRegistersLocked(HOLDING_REGISTERS, wstart, wcount, wbytes);
    return readRegistersLocked(HOLDING_REGISTERS, rstart, rcount, rbytes);
  }

  // One value for -init; false when the address is outside the table.
  bool set(Table t, int adr, int value) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (std::vector<unsigned char>* bits = bitTable(t)) {
      if (!fits(bits->size(), adr, 1)) return false;
      (*bits)[(size_t)adr] = value ? 1 : 0;
      return true;
    }
    std::vector<uint16_t>* regs = registerTable(t);
    if (!regs || !fits(regs->size(), adr, 1)) return false;
    (*regs)[(size_t)adr] = (uint16_t)value;
    return true;
  }

  // Brings the simulated cells to the state of the given whole second since start; the
  // values step once per second, and cells outside small tables are left out.
  void simulate(long long second) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (second == simulated_) return;
    simulated_ = second;
    const double pi = 3.14159265358979323846;
    const int slow = (int)std::lround(500.0 + 500.0 * std::sin(2.0 * pi * (double)second / 60.0));
    const int fast = (int)std::lround(500.0 + 500.0 * std::sin(2.0 * pi * (double)second / 10.0));
    const int values[] = {(int)(second & 0xFFFF), slow, fast, (int)(second % 100)};
    for (size_t i = 0; i < sizeof(values) / sizeof(values[0]) && i < input_.size(); i++)
      input_[i] = (uint16_t)values[i];
    if (discrete_.size() > 0) discrete_[0] = (unsigned char)(second & 1);
    if (discrete_.size() > 1) discrete_[1] = slow > 500 ? 1 : 0;
  }

 private:
  // start and count come from 16-bit fields, so the sum cannot overflow.
  static bool fits(size_t size, int start, int count) {
    return start >= 0 && count >= 1 && (size_t)start + (size_t)count <= size;
  }

  std::vector<unsigned char>* bitTable(Table t) {
    if (t == COILS) return &coils_;
    if (t == DISCRETE_INPUTS) return &discrete_;
    return nullptr;
  }

  std::vector<uint16_t>* registerTable(Table t) {
    if (t == HOLDING_REGISTERS) return &holding_;
    if (t == INPUT_REGISTERS) return &input_;
    return nullptr;
  }

  bool readRegistersLocked(Table t, int start, int count, unsigned char* bytes) {
    std::vector<uint16_t>* regs = registerTable(t);
    if (!regs || !fits(regs->size(), start, count)) return false;
    for (int i = 0; i < count; i++)
      putU16(bytes + 2 * i, (*regs)[(size_t)(start + i)]);
    return true;
  }

  bool writeRegistersLocked(Table t, int start, int count, const unsigned char* bytes) {
    std::vector<uint16_t>* regs = registerTable(t);
    if (!regs || !fits(regs->size(), start, count)) return false;
    for (int i = 0; i < count; i++)
      (*regs)[(size_t)(start + i)] = (uint16_t)u16(bytes + 2 * i);
    return true;
  }

  std::mutex mutex_;
  std::vector<unsigned char> coils_;
  std::vector<unsigned char> discrete_;
  std::vector<uint16_t> holding_;
  std::vector<uint16_t> input_;
  long long simulated_ = -1;
};

// Room for the largest request that readRequest can deliver (8 fixed bytes and up to 255
// counted bytes, with some to spare) and for the largest reply (a count byte and 250 bytes).
enum { REQUEST_BYTES = 512, REPLY_BYTES = 260 };

struct Reply {
  int function = 0;
  unsigned char data[REPLY_BYTES];
  int len = 0;
};

// The application layer: turns one decoded request into its reply. Knows nothing of framing.
class SlaveLogic {
 public:
  SlaveLogic(SimulatorMemory* memory, int unit, bool verbose, bool simulate)
      : memory_(memory),
        unit_(unit),
        verbose_(verbose),
        simulate_(simulate),
        start_(otMonotonicMs()) {}

  // Whether a request to slave is ours: every unit id with -slave=0, else the configured one.
  // The serial broadcast address 0 is handled by the caller.
  bool addressed(int slave) const { return unit_ == 0 || slave == unit_; }

  // Carries out the request (fc, data and result n as readRequest delivered them) and fills
  // reply; returns false when nothing is to be sent (a broadcast).
  bool handle(int slave, int fc, const unsigned char* d, int n, bool broadcast, Reply* reply) {
    if (simulate_) memory_->simulate((otMonotonicMs() - start_) / 1000);
    std::string what;
    int exception = execute(fc, d, n, broadcast, reply, &what);
    if (broadcast) {
      log(slave, fc, what, "broadcast, no reply");
      return false;
    }
    if (exception != 0) {
      reply->function = fc | 0x80;
      reply->data[0] = (unsigned char)exception;
      reply->len = 1;
      log(slave, fc, what, "exception " + std::to_string(exception));
    } else {
      reply->function = fc;
      log(slave, fc, what, "ok");
    }
    return true;
  }

  // The exception answer for a function that otModbus does not frame at all.
  void unknownFunction(int slave, int fc, Reply* reply) {
    reply->function = (fc | 0x80) & 0xFF;
    reply->data[0] = ILLEGAL_FUNCTION;
    reply->len = 1;
    log(slave, fc, "", "exception 1");
  }

  // The answer to a request whose length disagrees with its function code and counts:
  // exception 3, or 1 for a function not served here (the function is checked first). Every
  // function's length check comes before its data are looked at, so execute() with n = -1
  // reaches no data.
  void malformed(int slave, int fc, Reply* reply) {
    std::string what;
    int exception = execute(fc, nullptr, -1, false, reply, &what);
    if (exception == 0) exception = ILLEGAL_DATA_VALUE;
    reply->function = (fc | 0x80) & 0xFF;
    reply->data[0] = (unsigned char)exception;
    reply->len = 1;
    log(slave, fc, " of a wrong length", "exception " + std::to_string(exception));
  }

  void log(int slave, int fc, const std::string& what, const std::string& result) {
    if (!verbose_) return;
    std::string line = "otmodbussim: slave " + std::to_string(slave) + " function " +
                       std::to_string(fc) + what + ": " + result + "\n";
    // One write per line keeps the lines of several client threads apart.
    fputs(line.c_str(), stdout);
    fflush(stdout);
  }

  // A line for a telegram that was not served at all.
  void note(const std::string& text) {
    if (!verbose_) return;
    std::string line = "otmodbussim: " + text + "\n";
    fputs(line.c_str(), stdout);
    fflush(stdout);
  }

 private:
  static std::string range(int adr, int count) {
    return " address " + std::to_string(adr) + " count " + std::to_string(count);
  }

  // Returns 0 with the reply data filled, or an exception code. Checks follow the order of the
  // protocol: function, then quantities and byte counts, then addresses.
  int execute(int fc, const unsigned char* d, int n, bool broadcast, Reply* r, std::string* what) {
    switch (fc) {
      case 1:
      case 2:
      case 3:
      case 4: {
        if (n != 4) return ILLEGAL_DATA_VALUE;
        int start = u16(d), count = u16(d + 2);
        *what = range(start, count);
        if (broadcast) return 0;  // a read cannot be broadcast; it is dropped
        bool bits = fc <= 2;
        if (count < 1 || count > (bits ? MAX_READ_BITS : MAX_READ_REGISTERS))
          return ILLEGAL_DATA_VALUE;
        bool ok;
        if (bits) {
          r->data[0] = (unsigned char)((count + 7) / 8);
          ok =
              memory_->readBits(fc == 1 ? SimulatorMemory::COILS : SimulatorMemory::DISCRETE_INPUTS,
                                start, count, r->data + 1);
        } else {
          r->data[0] = (unsigned char)(2 * count);
          ok = memory_->readRegisters(
              fc == 3 ? SimulatorMemory::HOLDING_REGISTERS : SimulatorMemory::INPUT_REGISTERS,
              start, count, r->data + 1);
        }
        if (!ok) return ILLEGAL_DATA_ADDRESS;
        r->len = 1 + r->data[0];
        return 0;
      }
      case 5: {
        if (n != 4) return ILLEGAL_DATA_VALUE;
        int adr = u16(d), value = u16(d + 2);
        *what = range(adr, 1) + " value " + std::to_string(value);
        if (value != 0xFF00 && value != 0x0000) return ILLEGAL_DATA_VALUE;
        unsigned char bit = value ? 1 : 0;
        if (!memory_->writeBits(SimulatorMemory::COILS, adr, 1, &bit)) return ILLEGAL_DATA_ADDRESS;
        return echo(d, 4, r);
      }
      case 6: {
        if (n != 4) return ILLEGAL_DATA_VALUE;
        int adr = u16(d);
        *what = range(adr, 1) + " value " + std::to_string(u16(d + 2));
        if (!memory_->writeRegisters(SimulatorMemory::HOLDING_REGISTERS, adr, 1, d + 2))
          return ILLEGAL_DATA_ADDRESS;
        return echo(d, 4, r);
      }
      case 15:
      case 16: {
        if (n < 4) return ILLEGAL_DATA_VALUE;
        int start = u16(d), count = u16(d + 2), bytes = n - 4;
        *what = range(start, count);
        bool ok;
        if (fc == 15) {
          if (count < 1 || count > MAX_WRITE_BITS || bytes != (count + 7) / 8)
            return ILLEGAL_DATA_VALUE;
          ok = memory_->writeBits(SimulatorMemory::COILS, start, count, d + 4);
        } else {
          if (count < 1 || count > MAX_WRITE_REGISTERS || bytes != 2 * count)
            return ILLEGAL_DATA_VALUE;
          ok = memory_->writeRegisters(SimulatorMemory::HOLDING_REGISTERS, start, count, d + 4);
        }
        if (!ok) return ILLEGAL_DATA_ADDRESS;
        return echo(d, 4, r);
      }
      case 22: {
        if (n != 6) return ILLEGAL_DATA_VALUE;
        int adr = u16(d);
        *what = range(adr, 1);
        if (!memory_->maskWrite(adr, u16(d + 2), u16(d + 4))) return ILLEGAL_DATA_ADDRESS;
        return echo(d, 6, r);
      }
      case 23: {
        if (n < 8) return ILLEGAL_DATA_VALUE;
        int rstart = u16(d), rcount = u16(d + 2), wstart = u16(d + 4), wcount = u16(d + 6);
        *what = range(rstart, rcount) + " write" + range(wstart, wcount);
        if (broadcast) return 0;  // it reads, so it cannot be broadcast
        if (rcount < 1 || rcount > MAX_READ_REGISTERS || wcount < 1 ||
            wcount > MAX_RW_WRITE_REGISTERS || n - 8 != 2 * wcount)
          return ILLEGAL_DATA_VALUE;
        if (!memory_->writeThenRead(wstart, wcount, d + 8, rstart, rcount, r->data + 1))
          return ILLEGAL_DATA_ADDRESS;
        r->data[0] = (unsigned char)(2 * rcount);
        r->len = 1 + r->data[0];
        return 0;
      }
      default:
        return ILLEGAL_FUNCTION;
    }
  }

  static int echo(const unsigned char* d, int n, Reply* r) {
    memcpy(r->data, d, (size_t)n);
    r->len = n;
    return 0;
  }

  SimulatorMemory* memory_;
  int unit_;
  bool verbose_;
  bool simulate_;
  long long start_;
};

// Function codes that otModbus frames on the slave side; any other one makes readRequest fail
// after the address and function code, and is answered with exception 1 here.
bool framedByEngine(int fc) {
  return (fc >= 1 && fc <= 7) || fc == 11 || fc == 12 || (fc >= 15 && fc <= 17) ||
         (fc >= 20 && fc <= 24);
}

// ---------------------------------------------------------------------------------------------
// Stopping: SIGTERM and SIGINT set the flag and wake the main thread through a pipe; the main
// thread then stops the TCP server, the serial loop looks at the flag at least every POLL_MS.

std::atomic<int> stopRequested{0};
int stopPipe[2] = {-1, -1};

extern "C" void onStopSignal(int) {
  int saved = errno;
  stopRequested = 1;
  if (stopPipe[1] >= 0) {
    ssize_t n = write(stopPipe[1], "x", 1);
    (void)n;  // a full pipe has woken the main thread already
  }
  errno = saved;
}

void installSignals() {
  if (pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) stopPipe[0] = stopPipe[1] = -1;
  struct sigaction sa;
  memset(&sa, 0, sizeof(sa));
  sa.sa_handler = onStopSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

// The serial loop looks at the stop flag at least this often (milliseconds); a telegram in
// progress may pause for TELEGRAM_MS between bytes on a serial line. A TCP client's wait for
// a request is cut into TCP_WAIT_MS steps.
enum { POLL_MS = 200, TCP_WAIT_MS = 500, TELEGRAM_MS = 1000 };

// ---------------------------------------------------------------------------------------------
// Modbus/TCP

struct TcpServer {
  SlaveLogic* logic;
  otAcceptLoop loop;
};

// Serves one client connection (a thread of the accept loop) until it closes, breaks the
// stream, sends no request for the idle time or the simulator stops. The engine buffers what
// arrives on the socket, so everything is read through readRequest.
void serveTcpClient(int fd, void* user) {
  TcpServer* server = static_cast<TcpServer*>(user);
  SlaveLogic* logic = server->logic;
  // The engine closes its socket when the peer goes; the loop's descriptor stays open until
  // this returns, so that the loop never shuts down a number that is in use elsewhere.
  int own = fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (own < 0) return;
  otSocket sock(own);
  otModbus modbus(1024 + 1, otModbus::MODBUS_RTU);
  modbus.registerSocket(&sock);
  modbus.autoreconnect_socket = 0;
  const int idle = server->loop.idleTimeoutMs();
  long long lastRequest = otMonotonicMs();
  unsigned char data[REQUEST_BYTES];
  while (!stopRequested) {
    int wait = TCP_WAIT_MS;
    if (idle > 0) {
      long long left = lastRequest + idle - otMonotonicMs();
      if (left <= 0) {
        logic->note("no request for " + std::to_string(idle / 1000) + " s, connection closed");
        break;
      }
      if (left < wait) wait = (int)left;
    }
    int slave = -1, function = -1, transaction = 0;
    int n = modbus.readRequest(&slave, &function, data, wait, &transaction);
    if (!sock.isConnected()) break;
    Reply reply;
    if (n == otModbus::MODBUS_LENGTH_MISMATCH) {
      // Read whole, so the stream is in step: answered like any other malformed request.
      lastRequest = otMonotonicMs();
      if (!logic->addressed(slave)) {
        logic->log(slave, function, "", "not for this slave, no reply");
        continue;
      }
      logic->malformed(slave, function, &reply);
    } else if (n < 0) {
      // Nothing came, a header is still incomplete (the engine keeps what it has), or a
      // frame without a Modbus request was skipped.
      if (function < 0) continue;
      lastRequest = otMonotonicMs();
      if (framedByEngine(function)) {
        // A request cut short or announcing more than a telegram holds: the stream is out
        // of step for good.
        logic->note("incomplete request, connection closed");
        break;
      }
      if (!logic->addressed(slave)) {
        // Only the reply's write drops the rest of such a telegram from the stream.
        logic->note("unknown function " + std::to_string(function) + " for slave " +
                    std::to_string(slave) + ", connection closed");
        break;
      }
      logic->unknownFunction(slave, function, &reply);
    } else if (!logic->addressed(slave)) {
      lastRequest = otMonotonicMs();
      logic->log(slave, function, "", "not for this slave, no reply");
      continue;
    } else {
      lastRequest = otMonotonicMs();
      logic->handle(slave, function, data, n, false, &reply);
    }
    if (modbus.write(slave, reply.function, reply.data, reply.len, &transaction) < 0) break;
  }
}

// Serves until SIGTERM or SIGINT. 0, or 1 when the address cannot be bound.
int serveTcp(const std::string& host, int port, int idleSeconds, int maxClients,
             SlaveLogic* logic) {
  TcpServer server;
  server.logic = logic;
  otAcceptConfig config;
  config.bindAddress = host.c_str();
  config.port = port;
  config.maxClients = maxClients;
  // A Modbus master could not read a text: a refused client sees its connection end at once
  // instead of waiting for a reply.
  config.refusal = nullptr;
  config.idleTimeoutMs = idleSeconds * 1000;
  if (server.loop.start(config, serveTcpClient, &server) != 0) {
    printf("otmodbussim: cannot listen on %s port %d\n",
           host.empty() ? "every interface" : host.c_str(), port);
    return 1;
  }
  printf("otmodbussim: listening on %s port %d\n", host.empty() ? "every interface" : host.c_str(),
         port);
  fflush(stdout);
  long long reported = 0;
  while (!stopRequested) {
    struct pollfd p = {stopPipe[0], POLLIN, 0};
    if (poll(&p, stopPipe[0] >= 0 ? 1 : 0, 1000) < 0 && errno != EINTR) usleep(100000);
    long long refused = server.loop.refused();
    if (refused != reported) {
      // One line a second at most, however many clients knock.
      printf(
          "otmodbussim: %lld connection%s refused: the limit of %d clients was reached "
          "(-maxclients)\n",
          refused - reported, refused - reported == 1 ? "" : "s", maxClients);
      fflush(stdout);
      reported = refused;
    }
  }
  server.loop.stop();
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Serial line

int serveSerial(otSerial* serial, int mode, SlaveLogic* logic) {
  otModbus modbus(1024 + 1, mode);
  modbus.registerSerial(serial);
  unsigned char data[REQUEST_BYTES];
  while (!stopRequested) {
    int ready = serial->select(POLL_MS);
    if (ready < 0) {
      printf("otmodbussim: serial line failed\n");
      return 1;
    }
    if (ready == 0) continue;
    int slave = -1, function = -1;
    int n = modbus.readRequest(&slave, &function, data, TELEGRAM_MS);
    if (n == otModbus::MODBUS_CHECKSUM_MISMATCH) {
      // A damaged telegram is never answered; the master repeats it. The engine has dropped
      // what was left of it on the line.
      logic->note(mode == otModbus::MODBUS_RTU ? "CRC error" : "LRC error");
      continue;
    }
    if (n < 0) {
      if (function < 0) {
        // Readable but nothing came: the line was hung up. Do not spin on it.
        usleep(100000);
        continue;
      }
      if (framedByEngine(function)) {
        logic->note("incomplete request dropped");
        continue;
      }
      // A sound telegram of a function the engine does not frame (its CRC or LRC was right,
      // else the result would have been a checksum mismatch): answered with an exception.
      if (slave == 0 || !logic->addressed(slave)) continue;
      Reply reply;
      logic->unknownFunction(slave, function, &reply);
      modbus.write(slave, reply.function, reply.data, reply.len);
      continue;
    }
    bool broadcast = slave == 0;
    if (!broadcast && !logic->addressed(slave)) {
      logic->log(slave, function, "", "not for this slave, no reply");
      continue;
    }
    Reply reply;
    if (logic->handle(slave, function, data, n, broadcast, &reply))
      modbus.write(slave, reply.function, reply.data, reply.len);
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Command line

struct Options {
  enum { TCP_ANY, TCP_HOST, SERIAL } transport = TCP_ANY;
  int port = 5020;
  std::string host;
  bool bind = false;         // host came from -bind
  bool explicitAny = false;  // -bind or -tcp named every interface
  std::string device;
  int mode = otModbus::MODBUS_RTU;
  int baud = 9600;
  int parity = otSerial::NONE;
  int bits = 8;
  int stopbits = 1;
  int slave = 0;
  int coils = 10000;
  int registers = 10000;
  std::string init;
  int idleSeconds = 60;
  int maxClients = 64;
  bool simulate = false;
  bool verbose = false;
  bool help = false;
};

// Splits [HOST:]PORT; an IPv6 host stands in brackets.
bool parseHostPort(const std::string& text, std::string* host, int* port) {
  std::string p = text;
  host->clear();
  if (!text.empty() && text[0] == '[') {
    size_t close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':')
      return false;
    *host = text.substr(1, close - 1);
    p = text.substr(close + 2);
    if (host->empty()) return false;
  } else if (text.find(':') != std::string::npos) {
    size_t colon = text.rfind(':');
    *host = text.substr(0, colon);
    p = text.substr(colon + 1);
    if (host->find(':') != std::string::npos) return false;  // IPv6 needs brackets
  }
  return parseInt(p, 1, 65535, port);
}

// Returns an empty string, or the reason why the command line is not usable.
std::string parseOptions(int argc, char** argv, Options* o) {
  bool tcp = false, serial = false, serialOptions = false, tcpOptions = false;
  bool tcpAddress = false;
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i];
    if (arg.compare(0, 2, "--") == 0) arg.erase(0, 1);
    size_t eq = arg.find('=');
    std::string name = arg.substr(0, eq);
    bool hasValue = eq != std::string::npos;
    std::string value = hasValue ? arg.substr(eq + 1) : "";
    auto bad = [&] { return "bad value in " + std::string(argv[i]); };
    if (name == "-h" || name == "-help") {
      o->help = true;
    } else if (name == "-v" && !hasValue) {
      o->verbose = true;
    } else if (name == "-simulate" && !hasValue) {
      o->simulate = true;
    } else if (!hasValue) {
      static const char* const valued[] = {
          "-port",     "-bind",  "-tcp",   "-serial",    "-mode", "-baud", "-parity",    "-bits",
          "-stopbits", "-slave", "-coils", "-registers", "-init", "-idle", "-maxclients"};
      for (const char* v : valued)
        if (name == v) return name + " needs a value (" + name + "=...)";
      return "unknown option " + std::string(argv[i]);
    } else if (name == "-port") {
      if (tcp) return "give only one of -port and -tcp";
      tcp = true;
      o->transport = Options::TCP_ANY;
      if (!parseInt(value, 1, 65535, &o->port)) return bad();
    } else if (name == "-bind") {
      if (o->bind) return "give -bind only once";
      tcpOptions = true;
      o->bind = true;
      // An IPv6 address may stand in brackets as in -tcp; without a port they are not needed.
      o->host = value.size() > 2 && value.front() == '[' && value.back() == ']'
                    ? value.substr(1, value.size() - 2)
                    : value;
      if (o->host.empty() || o->host.find_first_of("[] \t") != std::string::npos) return bad();
    } else if (name == "-tcp") {
      if (tcp) return "give only one of -port and -tcp";
      tcp = true;
      tcpAddress = true;
      if (!parseHostPort(value, &o->host, &o->port)) return bad();
      bool any = o->host.empty() || o->host == "0.0.0.0" || o->host == "*";
      o->transport = any ? Options::TCP_ANY : Options::TCP_HOST;
      o->explicitAny = any && !o->host.empty();
    } else if (name == "-serial") {
      if (value.empty()) return bad();
      serial = true;
      o->device = value;
    } else if (name == "-mode") {
      serialOptions = true;
      if (value == "rtu")
        o->mode = otModbus::MODBUS_RTU;
      else if (value == "ascii")
        o->mode = otModbus::MODBUS_ASCII;
      else
        return bad();
    } else if (name == "-baud") {
      serialOptions = true;
      if (!parseInt(value, 1, 4000000, &o->baud) || otBaudConstant((unsigned long)o->baud) == B0)
        return bad();
    } else if (name == "-parity") {
      serialOptions = true;
      if (value == "none")
        o->parity = otSerial::NONE;
      else if (value == "odd")
        o->parity = otSerial::ODD;
      else if (value == "even")
        o->parity = otSerial::EVEN;
      else
        return bad();
    } else if (name == "-bits") {
      serialOptions = true;
      if (!parseInt(value, 7, 8, &o->bits)) return bad();
    } else if (name == "-stopbits") {
      serialOptions = true;
      if (!parseInt(value, 1, 2, &o->stopbits)) return bad();
    } else if (name == "-slave") {
      if (!parseInt(value, 0, 255, &o->slave)) return bad();
    } else if (name == "-coils") {
      if (!parseInt(value, 1, TABLE_LIMIT, &o->coils)) return bad();
    } else if (name == "-registers") {
      if (!parseInt(value, 1, TABLE_LIMIT, &o->registers)) return bad();
    } else if (name == "-idle") {
      tcpOptions = true;
      if (!parseInt(value, 0, 86400, &o->idleSeconds)) return bad();
    } else if (name == "-maxclients") {
      tcpOptions = true;
      if (!parseInt(value, 1, 10000, &o->maxClients)) return bad();
    } else if (name == "-init") {
      if (value.empty()) return bad();
      o->init = value;
    } else {
      return "unknown option " + std::string(argv[i]);
    }
  }
  if (tcp && serial) return "give either TCP or -serial, not both";
  if (o->bind && tcpAddress) return "give only one of -bind and -tcp";
  if (o->bind && !serial) {
    bool any = o->host == "0.0.0.0" || o->host == "*";
    o->transport = any ? Options::TCP_ANY : Options::TCP_HOST;
    o->explicitAny = any;
  }
  if (serial) o->transport = Options::SERIAL;
  if (serialOptions && !serial) return "-mode, -baud, -parity, -bits and -stopbits need -serial";
  if (tcpOptions && serial) return "-bind, -idle and -maxclients are for Modbus/TCP, not -serial";
  return "";
}

// Loads -init lines "TABLE ADDRESS VALUE ...". Returns an empty string or the reason.
std::string loadInit(const std::string& path, SimulatorMemory* memory) {
  FILE* f = fopen(path.c_str(), "r");
  if (!f) return "cannot read " + path + ": " + strerror(errno);
  std::unique_ptr<FILE, int (*)(FILE*)> hold(f, fclose);
  char line[4096];
  int number = 0;
  while (fgets(line, sizeof(line), f)) {
    number++;
    std::string where = path + ":" + std::to_string(number) + ": ";
    if (!strchr(line, '\n') && !feof(f)) return where + "line too long";
    if (char* hash = strchr(line, '#')) *hash = '\0';
    std::vector<std::string> words;
    for (char* w = strtok(line, " \t\r\n"); w; w = strtok(nullptr, " \t\r\n"))
      words.push_back(w);
    if (words.empty()) continue;
    SimulatorMemory::Table table;
    int limit = 0xFFFF;
    if (words[0] == "coil") {
      table = SimulatorMemory::COILS;
      limit = 1;
    } else if (words[0] == "discrete") {
      table = SimulatorMemory::DISCRETE_INPUTS;
      limit = 1;
    } else if (words[0] == "holding") {
      table = SimulatorMemory::HOLDING_REGISTERS;
    } else if (words[0] == "input") {
      table = SimulatorMemory::INPUT_REGISTERS;
    } else {
      return where + "unknown table " + words[0] + " (coil, discrete, holding or input)";
    }
    int adr;
    if (words.size() < 3 || !parseInt(words[1], 0, TABLE_LIMIT - 1, &adr))
      return where + "expected " + words[0] + " ADDRESS VALUE ...";
    for (size_t i = 2; i < words.size(); i++) {
      int value;
      if (!parseInt(words[i], 0, limit, &value)) return where + "bad value " + words[i];
      if (!memory->set(table, adr + (int)(i - 2), value))
        return where + "address " + std::to_string(adr + (int)(i - 2)) + " outside the table";
    }
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  std::string error = parseOptions(argc, argv, &o);
  if (!error.empty()) {
    fprintf(stderr, "otmodbussim: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  if (o.help) {
    fputs(kUsage, stdout);
    return 0;
  }
  SimulatorMemory memory(o.coils, o.registers);
  if (!o.init.empty()) {
    error = loadInit(o.init, &memory);
    if (!error.empty()) {
      printf("otmodbussim: %s\n", error.c_str());
      return 1;
    }
  }
  SlaveLogic logic(&memory, o.slave, o.verbose, o.simulate);
  installSignals();

  int status;
  if (o.transport == Options::SERIAL) {
    otSerial serial;
    if (serial.openDevice(o.device.c_str(), (int)otBaudConstant((unsigned long)o.baud), 1, 0,
                          o.bits, o.stopbits, o.parity) != 0) {
      printf("otmodbussim: cannot open %s\n", o.device.c_str());
      return 1;
    }
    printf("otmodbussim: serving %s (%s, %d baud)\n", o.device.c_str(),
           o.mode == otModbus::MODBUS_RTU ? "RTU" : "ASCII", o.baud);
    fflush(stdout);
    status = serveSerial(&serial, o.mode, &logic);
  } else {
    std::string host = o.transport == Options::TCP_HOST ? o.host : "";
    if (o.transport == Options::TCP_ANY && !o.explicitAny) {
      host = "127.0.0.1";
      printf(
          "otmodbussim: no address given: listening on 127.0.0.1 only (-bind=0.0.0.0 for "
          "every interface)\n");
    }
    status = serveTcp(host, o.port, o.idleSeconds, o.maxClients, &logic);
    if (status != 0) return status;
  }
  printf("otmodbussim: stopped\n");
  fflush(stdout);
  return status;
}
