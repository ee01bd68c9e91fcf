#include "otdf1.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

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

// The telegram as the partner expects it, stuffed by hand here.
Bytes telegram(const Bytes& body) {
  Bytes t = bytes({0x10, 0x02});
  for (char c : body) {
    t += c;
    if ((unsigned char)c == 0x10) t += c;
  }
  unsigned short crc = otDF1::crc((const unsigned char*)body.data(), (int)body.size());
  t += bytes({0x10, 0x03, crc & 0xFF, crc >> 8});
  return t;
}

Bytes fromBuffer(const df1Buffer& b) {
  return Bytes((const char*)b.data(), b.length());
}

TEST(DF1Framing, CrcCheckValueAndDleDoubling) {
  const unsigned char body[] = {0x07, 0x11, 0x41, 0x00, 0x53, 0xB9, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(otDF1::crc(body, sizeof(body)), 0xDA4F);

  // The CRC covers the single 0x10; only the line carries it twice.
  const unsigned char withDle[] = {0x07, 0x10, 0x0F};
  df1Buffer out(otDF1::FRAME_SIZE);
  ASSERT_EQ(otDF1::buildTelegram(withDle, 3, out), 10);
  unsigned short crc = otDF1::crc(withDle, 3);
  EXPECT_EQ(fromBuffer(out),
            bytes({0x10, 0x02, 0x07, 0x10, 0x10, 0x0F, 0x10, 0x03, crc & 0xFF, crc >> 8}));

  // A telegram that does not fit is not cut before its CRC: it is refused whole.
  df1Buffer small(10);
  EXPECT_EQ(otDF1::buildTelegram(withDle, 3, small), -1);
  EXPECT_EQ(small.length(), 0u);
}

TEST(DF1Framing, BufferDropsWhatDoesNotFit) {
  df1Buffer b(4);
  b.writeDLE(0x10);
  b.writeDLE(0x10);  // a pair that no longer fits goes whole
  b.write(0x01);
  b.write(0x02);  // length + 1 would reach the size
  EXPECT_EQ(fromBuffer(b), bytes({0x10, 0x10, 0x01}));
  ottest::CaptureStdout out;
  EXPECT_EQ(*b[1], 0x10);
  (void)b[1000];  // reported, and answered with a byte inside the object
  EXPECT_NE(out.text().find("*** otBuffer read error! Pos:1000 Len:3"), std::string::npos);
}

int feedAll(otDF1Parser& p, const Bytes& in) {
  int last = otDF1Parser::NONE;
  for (char c : in) {
    int ev = p.feed((unsigned char)c);
    if (ev != otDF1Parser::NONE) last = ev;
  }
  return last;
}

TEST(DF1Framing, ParserAcceptsOnlyWholeTelegrams) {
  Bytes body = bytes({0x11, 0x07, 0x4F, 0x00, 0x10, 0x10, 0x10, 0x00});
  otDF1Parser p;
  EXPECT_EQ(feedAll(p, telegram(body)), otDF1Parser::FRAME);
  EXPECT_EQ(Bytes((const char*)p.body(), (size_t)p.bodyLength()), body);

  Bytes bad = telegram(body);
  bad[bad.size() - 1] ^= 1;
  EXPECT_EQ(feedAll(p, bad), otDF1Parser::BROKEN);

  // Too short for the header, too long for the buffer: refused even with a matching CRC.
  EXPECT_EQ(feedAll(p, telegram(bytes({1, 2, 3, 4, 5}))), otDF1Parser::BROKEN);
  EXPECT_EQ(feedAll(p, telegram(Bytes(256, 'x'))), otDF1Parser::BROKEN);
  EXPECT_EQ(feedAll(p, telegram(Bytes(255, 'x'))), otDF1Parser::FRAME);

  // A control symbol inside a body, and a telegram cut short by silence.
  EXPECT_EQ(feedAll(p, bytes({0x10, 0x02, 1, 2, 0x10, 0x02})), otDF1Parser::BROKEN);
  feedAll(p, bytes({0x10, 0x02, 1, 2, 3}));
  EXPECT_EQ(p.silence(), otDF1Parser::BROKEN);
  EXPECT_EQ(p.silence(), otDF1Parser::NONE);

  EXPECT_EQ(feedAll(p, bytes({0x10, 0x05})), otDF1Parser::CONTROL);
  EXPECT_EQ(p.control(), 0x05);
  EXPECT_EQ(feedAll(p, bytes({0x41})), otDF1Parser::STRAY);
}

// A DF1 master on one end of a pty pair, the test's scripted partner on the other.
class DF1Line : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string err = pair.start(dir.path());
    ASSERT_EQ(err, "");
    ASSERT_EQ(serial.openDevice(pair.a().c_str(), B38400, 1, 0, 8, 1, otSerial::NONE), 0);
    peer = ::open(pair.b().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(peer, 0);
    struct termios t;
    ASSERT_EQ(tcgetattr(peer, &t), 0);
    cfmakeraw(&t);
    ASSERT_EQ(tcsetattr(peer, TCSANOW, &t), 0);
    df1.registerSerial(&serial);
  }
  void TearDown() override {
    if (partner.joinable()) partner.join();
    if (peer >= 0) ::close(peer);
    serial.closeDevice();
    pair.stop();
  }

  void send(const Bytes& b) { ASSERT_EQ(::write(peer, b.data(), b.size()), (ssize_t)b.size()); }
  Bytes read(size_t n, int ms = 1000) { return ottest::readWithin(peer, n, ms); }
  // One command telegram, read up to its CRC.
  Bytes readTelegram() {
    Bytes t;
    bool dle = false;
    for (;;) {
      Bytes c = read(1);
      if (c.empty()) return t;
      t += c;
      unsigned char u = (unsigned char)c[0];
      if (dle && u == 0x03) return t + read(2);
      dle = !dle && u == 0x10;
    }
  }
  // The body of a telegram read by readTelegram.
  static Bytes bodyOf(const Bytes& t) {
    Bytes b;
    for (size_t i = 2; i + 4 < t.size(); i++) {
      b += t[i];
      if ((unsigned char)t[i] == 0x10) i++;
    }
    return b;
  }
  // An answer to the command body cmd: DST and SRC swapped, CMD | 0x40, the same TNS.
  static Bytes answerTo(const Bytes& cmd, int sts, const Bytes& data) {
    Bytes b = bytes({(unsigned char)cmd[1], (unsigned char)cmd[0], (unsigned char)cmd[2] | 0x40,
                     sts, (unsigned char)cmd[4], (unsigned char)cmd[5]});
    return b + data;
  }

  ottest::TempDir dir;
  ottest::SocatPair pair;
  otSerial serial;
  int peer = -1;
  otDF1 df1{0x11, 150};
  std::thread partner;
};

TEST_F(DF1Line, CommandGoesOutStuffedAndAckEndsIt) {
  Bytes got;
  partner = std::thread([&] {
    got = readTelegram();
    send(bytes({0x10, 0x06}));
  });
  unsigned char data[] = {0x10, 0x20};
  EXPECT_EQ(df1.sendCommand(0x07, 0x0F, 0x00, data, 2), 0);
  partner.join();
  Bytes body = bodyOf(got);
  ASSERT_EQ(body.size(), 8u);
  EXPECT_EQ(body.substr(0, 4), bytes({0x07, 0x11, 0x0F, 0x00}));
  EXPECT_EQ(body.substr(6), bytes({0x10, 0x20}));
  EXPECT_EQ(got, telegram(body));

  // The next command carries the next TNS.
  Bytes second;
  partner = std::thread([&] {
    second = readTelegram();
    send(bytes({0x10, 0x06}));
  });
  EXPECT_EQ(df1.sendCommand(0x07, 0x0F, 0x00, data, 2), 0);
  partner.join();
  Bytes body2 = bodyOf(second);
  ASSERT_EQ(body2.size(), 8u);
  unsigned tns1 = (unsigned char)body[4] | (unsigned char)body[5] << 8;
  unsigned tns2 = (unsigned char)body2[4] | (unsigned char)body2[5] << 8;
  EXPECT_EQ(tns2, (tns1 + 1) & 0xFFFF);

  unsigned char big[otDF1::MAX_DATA + 1] = {};
  EXPECT_EQ(df1.sendCommand(0x07, 0x0F, 0, big, otDF1::MAX_DATA + 1), -1);
}

TEST_F(DF1Line, ThreeNaksRepeatTheTelegramAndGiveMinus3) {
  std::vector<Bytes> seen;
  partner = std::thread([&] {
    for (int i = 0; i < 3; i++) {
      seen.push_back(readTelegram());
      send(bytes({0x10, 0x15}));
    }
  });
  unsigned char data[] = {0x03};
  EXPECT_EQ(df1.sendCommand(0x01, 0x06, 0x00, data, 1), -3);
  partner.join();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_FALSE(seen[0].empty());
  EXPECT_EQ(seen[1], seen[0]);
  EXPECT_EQ(seen[2], seen[0]);
}

TEST_F(DF1Line, SilenceIsAskedWithEnqTwiceThenMinus1) {
  Bytes tel, enqs;
  partner = std::thread([&] {
    tel = readTelegram();
    enqs = read(6, 800);
  });
  EXPECT_EQ(df1.sendCommand(0x01, 0x06, 0x00, nullptr, 0), -1);
  partner.join();
  EXPECT_EQ(bodyOf(tel).size(), 6u);
  EXPECT_EQ(enqs, bytes({0x10, 0x05, 0x10, 0x05}));

  // A partner that answers the ENQ with ACK: the command counts as acknowledged.
  partner = std::thread([&] {
    readTelegram();
    if (read(2) == bytes({0x10, 0x05})) send(bytes({0x10, 0x06}));
  });
  EXPECT_EQ(df1.sendCommand(0x01, 0x06, 0x00, nullptr, 0), 0);
}

TEST_F(DF1Line, LogicalReadNaksBadCrcAndTakesTheRepetition) {
  Bytes cmd, responses;
  Bytes values = bytes({0x10, 0x00, 0x2A, 0x10});
  partner = std::thread([&] {
    cmd = bodyOf(readTelegram());
    send(bytes({0x10, 0x06}));
    Bytes answer = telegram(answerTo(cmd, 0, values));
    Bytes broken = answer;
    broken[broken.size() - 2] ^= 0x55;
    send(broken);
    responses = read(2);
    send(answer);
    responses += read(2);
  });
  unsigned char buf[4] = {};
  EXPECT_EQ(df1.cmdLogicalRead(0x07, 4, 0x89, 7, 3, 0, buf), 4);
  partner.join();
  EXPECT_EQ(Bytes((char*)buf, 4), values);
  EXPECT_EQ(responses, bytes({0x10, 0x15, 0x10, 0x06}));
  // FNC, size, file number, file type, element, subelement.
  EXPECT_EQ(cmd.substr(2, 2), bytes({0x0F, 0x00}));
  EXPECT_EQ(cmd.substr(6), bytes({0xA2, 4, 7, 0x89, 3, 0}));
}

TEST_F(DF1Line, AnswerOutcomes) {
  unsigned char buf[2] = {0x55, 0x66};
  // Old TNS: acknowledged, reported -6.
  Bytes ack;
  partner = std::thread([&] {
    Bytes cmd = bodyOf(readTelegram());
    send(bytes({0x10, 0x06}));
    Bytes answer = answerTo(cmd, 0, bytes({1, 2}));
    answer[4] = (char)(answer[4] - 1);
    send(telegram(answer));
    ack = read(2);
  });
  EXPECT_EQ(df1.cmdLogicalRead(0x07, 2, 0x89, 7, 0, 0, buf), -6);
  partner.join();
  EXPECT_EQ(ack, bytes({0x10, 0x06}));

  // STS not 0.
  partner = std::thread([&] {
    Bytes cmd = bodyOf(readTelegram());
    send(bytes({0x10, 0x06}));
    send(telegram(answerTo(cmd, 0x10, Bytes())));
    read(2);
  });
  EXPECT_EQ(df1.cmdLogicalWrite(0x07, 2, 0x89, 7, 0, 0, buf), -5);
  partner.join();

  // More data than the caller asked for: the buffer is left alone.
  partner = std::thread([&] {
    Bytes cmd = bodyOf(readTelegram());
    send(bytes({0x10, 0x06}));
    send(telegram(answerTo(cmd, 0, bytes({9, 9, 9}))));
    read(2);
  });
  EXPECT_EQ(df1.cmdLogicalRead(0x07, 2, 0x89, 7, 0, 0, buf), -7);
  partner.join();
  EXPECT_EQ(buf[0], 0x55);
  EXPECT_EQ(buf[1], 0x66);

  // ENQ instead of the answer: the last link answer (ACK) is repeated, -2.
  Bytes repeated;
  partner = std::thread([&] {
    readTelegram();
    send(bytes({0x10, 0x06}));
    send(bytes({0x10, 0x05}));
    repeated = read(2);
  });
  unsigned char diag[otDF1::MAX_DATA];
  EXPECT_EQ(df1.cmdDiagnosticStatus(0x07, diag), -2);
  partner.join();
  EXPECT_EQ(repeated, bytes({0x10, 0x06}));

  // A telegram cut short: NAK, then the line stays silent: -1.
  Bytes nak;
  partner = std::thread([&] {
    readTelegram();
    send(bytes({0x10, 0x06, 0x10, 0x02, 0x11, 0x07}));
    nak = read(2);
  });
  EXPECT_EQ(df1.cmdSetCPUMode(0x07, 1), -1);
  partner.join();
  EXPECT_EQ(nak, bytes({0x10, 0x15}));
}

}  // namespace
