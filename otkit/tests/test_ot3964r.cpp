#include "ot3964r.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "socatpair.h"
#include "testutil.h"

namespace {

using Bytes = std::string;

Bytes bytes(std::initializer_list<int> list) {
  Bytes b;
  for (int v : list)
    b += (char)v;
  return b;
}

Bytes encoded(const Bytes& data) {
  unsigned char out[ot3964RParser::MAX_FRAME];
  int n = ot3964R::encode((const unsigned char*)data.data(), (int)data.size(), out, sizeof(out));
  return n < 0 ? Bytes() : Bytes((char*)out, (size_t)n);
}

// What a read callback received; the callback has no user pointer, so one per station.
struct Received {
  std::mutex mutex;
  std::vector<Bytes> telegrams;
  void add(const unsigned char* buf, int len) {
    std::lock_guard<std::mutex> lk(mutex);
    telegrams.emplace_back((const char*)buf, (size_t)len);
  }
  std::vector<Bytes> take() {
    std::lock_guard<std::mutex> lk(mutex);
    std::vector<Bytes> t;
    t.swap(telegrams);
    return t;
  }
};
Received rxA, rxB;
void callbackA(const unsigned char* buf, int len) {
  rxA.add(buf, len);
}
void callbackB(const unsigned char* buf, int len) {
  rxB.add(buf, len);
}

int feedAll(ot3964RParser& p, const Bytes& in) {
  p.reset();
  int r = ot3964RParser::MORE;
  for (char c : in) {
    r = p.feed((unsigned char)c);
    if (r != ot3964RParser::MORE) break;
  }
  return r;
}

TEST(R3964Framing, EncodeAndParse) {
  EXPECT_EQ(encoded(bytes({0x41})), bytes({0x41, 0x10, 0x03, 0x52}));
  // 0x00 is data; a DLE goes out twice and cancels itself in the BCC.
  Bytes data = bytes({0x00, 0x10, 0x02, 0x00});
  EXPECT_EQ(encoded(data), bytes({0x00, 0x10, 0x10, 0x02, 0x00, 0x10, 0x03, 0x02 ^ 0x13}));

  ot3964RParser p;
  EXPECT_EQ(feedAll(p, encoded(data)), ot3964RParser::GOOD);
  EXPECT_EQ(Bytes((const char*)p.data(), (size_t)p.length()), data);
  Bytes bad = encoded(data);
  bad.back() ^= 1;
  EXPECT_EQ(feedAll(p, bad), ot3964RParser::BAD);
  EXPECT_EQ(feedAll(p, bytes({0x41, 0x10, 0x42, 0x10, 0x03, 0x41 ^ 0x42 ^ 0x13})),
            ot3964RParser::BAD);

  // The longest telegram fits; one byte more is read to its end and refused.
  Bytes longest(511, '\x10');
  EXPECT_EQ(feedAll(p, encoded(longest)), ot3964RParser::GOOD);
  EXPECT_EQ(p.length(), 511);
  Bytes tooLong(512, 'x');
  Bytes frame = tooLong + bytes({0x10, 0x03, 0x13});  // 512 'x' cancel out
  EXPECT_EQ(feedAll(p, frame), ot3964RParser::BAD);
  EXPECT_EQ(encoded(tooLong), Bytes());
  // A partner that never ends its telegram is cut off.
  EXPECT_EQ(feedAll(p, Bytes(3000, 'x')), ot3964RParser::BAD);
}

// An ot3964R on one end of a pty pair, the test's scripted partner on the other.
class R3964Line : public ::testing::Test {
 protected:
  void SetUp() override {
    rxA.take();
    std::string err = pair.start(dir.path());
    ASSERT_EQ(err, "");
    peer = ::open(pair.b().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(peer, 0);
    struct termios t;
    ASSERT_EQ(tcgetattr(peer, &t), 0);
    cfmakeraw(&t);
    ASSERT_EQ(tcsetattr(peer, TCSANOW, &t), 0);
  }
  void TearDown() override {
    if (peer >= 0) ::close(peer);
    pair.stop();
  }
  void start(ot3964R& station) {
    station.setReadCallback(callbackA);
    ASSERT_EQ(station.open(pair.a().c_str(), B38400), 0);
  }
  void send(const Bytes& b) { ASSERT_EQ(::write(peer, b.data(), b.size()), (ssize_t)b.size()); }
  Bytes read(size_t n, int ms = 1000) { return ottest::readWithin(peer, n, ms); }
  std::future<int> writeAsync(ot3964R& station, const Bytes& data) {
    return std::async(std::launch::async, [&station, data] {
      return station.write((const unsigned char*)data.data(), (int)data.size());
    });
  }

  ottest::TempDir dir;
  ottest::SocatPair pair;
  int peer = -1;
};

TEST_F(R3964Line, SendAfterHandshake) {
  ot3964R station(ot3964R::HIGH_PRIORITY, 150);
  start(station);
  unsigned char big[512] = {};
  EXPECT_EQ(station.write(big, 512), -1);

  auto result = writeAsync(station, "A");
  EXPECT_EQ(read(1), bytes({0x02}));
  send(bytes({0x10}));
  EXPECT_EQ(read(4), bytes({0x41, 0x10, 0x03, 0x52}));
  send(bytes({0x10}));
  EXPECT_EQ(result.get(), 1);

  // Rejected after the data: -1, no repetition.
  result = writeAsync(station, "A");
  EXPECT_EQ(read(1), bytes({0x02}));
  send(bytes({0x10}));
  EXPECT_EQ(read(4), bytes({0x41, 0x10, 0x03, 0x52}));
  send(bytes({0x15}));
  EXPECT_EQ(result.get(), -1);
  EXPECT_EQ(read(1, 300), Bytes());

  // Connection request never answered: the time limit ends the wait.
  result = writeAsync(station, "A");
  EXPECT_EQ(read(1), bytes({0x02}));
  EXPECT_EQ(result.get(), ot3964R::WRITE_TIMEOUT);
  EXPECT_EQ(station.close(), 0);
  EXPECT_EQ(station.close(), -1);
}

TEST_F(R3964Line, ReceiveAcceptsGoodAndRejectsBadTelegrams) {
  ot3964R station(ot3964R::HIGH_PRIORITY, 150);
  start(station);
  Bytes data = bytes({0x00, 0x10, 0x00, 0x03, 0x02});
  send(bytes({0x02}));
  EXPECT_EQ(read(1), bytes({0x10}));
  send(encoded(data));
  EXPECT_EQ(read(1), bytes({0x10}));

  Bytes bad = encoded(bytes({0x01, 0x02}));
  bad.back() ^= 0x40;
  send(bytes({0x02}));
  EXPECT_EQ(read(1), bytes({0x10}));
  send(bad);
  EXPECT_EQ(read(1), bytes({0x15}));

  send(bytes({0x02}));
  EXPECT_EQ(read(1), bytes({0x10}));
  send(Bytes(600, 'y') + bytes({0x10, 0x03, 0x13}));
  EXPECT_EQ(read(1), bytes({0x15}));

  station.close();
  std::vector<Bytes> got = rxA.take();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], data);
}

TEST_F(R3964Line, HighPriorityKeepsItsTelegramInAConflict) {
  ot3964R station(ot3964R::HIGH_PRIORITY, 150);
  start(station);
  auto result = writeAsync(station, "A");
  EXPECT_EQ(read(1), bytes({0x02}));
  send(bytes({0x02}));
  EXPECT_EQ(read(2), bytes({0x15, 0x02}));
  send(bytes({0x10}));
  EXPECT_EQ(read(4), bytes({0x41, 0x10, 0x03, 0x52}));
  send(bytes({0x10}));
  EXPECT_EQ(result.get(), 1);
}

TEST_F(R3964Line, LowPriorityYieldsThenRequestsAgain) {
  ot3964R station(ot3964R::LOW_PRIORITY, 600);
  start(station);
  auto result = writeAsync(station, "A");
  EXPECT_EQ(read(1), bytes({0x02}));
  // The partner's crossing request, then its rejection of ours and its repetition.
  send(bytes({0x02}));
  send(bytes({0x15, 0x02}));
  EXPECT_EQ(read(2, 200), bytes({0x10}));  // one DLE only, for the repeated request
  send(encoded("B"));
  EXPECT_EQ(read(1), bytes({0x10}));
  EXPECT_EQ(read(1), bytes({0x02}));
  send(bytes({0x10}));
  EXPECT_EQ(read(4), bytes({0x41, 0x10, 0x03, 0x52}));
  send(bytes({0x10}));
  EXPECT_EQ(result.get(), 1);
  station.close();
  std::vector<Bytes> got = rxA.take();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], "B");
}

TEST_F(R3964Line, CloseEndsAPendingWrite) {
  ot3964R station(ot3964R::HIGH_PRIORITY, 1000);
  start(station);
  auto result = writeAsync(station, "A");
  EXPECT_EQ(read(1), bytes({0x02}));
  EXPECT_EQ(station.close(), 0);
  EXPECT_EQ(result.get(), -1);
  EXPECT_EQ(station.write((const unsigned char*)"A", 1), -1);
}

// Two stations on the two ends of one line.
TEST_F(R3964Line, TwoStationsExchangeAndSettleConflicts) {
  ::close(peer);
  peer = -1;
  rxB.take();
  ot3964R high(ot3964R::HIGH_PRIORITY, 300), low(ot3964R::LOW_PRIORITY, 300);
  high.setReadCallback(callbackA);
  low.setReadCallback(callbackB);
  ASSERT_EQ(high.open(pair.a().c_str(), B38400), 0);
  ASSERT_EQ(low.open(pair.b().c_str(), B38400), 0);

  Bytes fromHigh = Bytes("H\x10\x00", 3) + Bytes(300, 'h');
  Bytes fromLow = Bytes("L\x00\x10", 3) + Bytes(200, 'l');
  EXPECT_EQ(high.write((const unsigned char*)fromHigh.data(), (int)fromHigh.size()),
            (int)fromHigh.size());
  EXPECT_EQ(low.write((const unsigned char*)fromLow.data(), (int)fromLow.size()),
            (int)fromLow.size());

  // Both request the line at once.
  for (int round = 0; round < 3; round++) {
    auto h = writeAsync(high, fromHigh);
    auto l = writeAsync(low, fromLow);
    EXPECT_EQ(h.get(), (int)fromHigh.size()) << "round " << round;
    EXPECT_EQ(l.get(), (int)fromLow.size()) << "round " << round;
  }
  EXPECT_EQ(low.close(), 0);
  EXPECT_EQ(high.close(), 0);
  EXPECT_EQ(rxB.take(), std::vector<Bytes>(4, fromHigh));
  EXPECT_EQ(rxA.take(), std::vector<Bytes>(4, fromLow));
}

}  // namespace
