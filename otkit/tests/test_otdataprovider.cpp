#include "otdataprovider.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "testutil.h"

namespace {

using ottest::freePort;

// A provider served on a free loopback port.
struct Server {
  Server(int ints, int floats, int strings)
      : provider(ints, floats, strings), port(freePort()), threads(port, &provider) {
    started = threads.start();
  }
  // A client socket connected to the server; the accept thread may still be setting up.
  std::unique_ptr<otSocket> connect() {
    std::unique_ptr<otSocket> s(new otSocket("127.0.0.1", port, 1));
    for (int i = 0; i < 250 && s->connect() < 0; i++)
      otsleep(20);
    return s;
  }
  otDataProvider provider;
  int port;
  otDataProviderThreads threads;  // stopped before the provider goes
  int started;
};

// Sends raw text and reads one reply line (empty when none comes within a second).
std::string rawExchange(otSocket* s, const std::string& text) {
  s->write(text.data(), (int)text.size());
  char line[8192];
  int n = s->readStr(line, sizeof(line), 1000);
  return n > 0 ? std::string(line, (size_t)n) : std::string();
}

std::string escaped(const char* text) {
  char out[256];
  return otInterpreter::escapeString(text, out, sizeof(out)) >= 0 ? out : "<too long>";
}

std::string quoted(const std::string& line, int index) {
  otInterpreter in(4096);
  strcpy(in.line, line.c_str());
  char buf[4096];
  in.copyStringParam(buf, index);
  return buf;
}

TEST(otInterpreter, CommandsAndQuotedStrings) {
  otInterpreter in(64);
  strcpy(in.line, "getInt(3)");
  EXPECT_EQ(in.isCommand(""), 1);
  EXPECT_EQ(in.isCommand("getInt("), 1);
  EXPECT_EQ(in.isCommand("getIntAndReset("), 0);
  EXPECT_EQ(in.maxchar(), 63);

  EXPECT_EQ(quoted("x(\"a\",\"bc\")", 1), "bc");
  EXPECT_EQ(quoted("x(\"a\",\"bc\")", 2), "");
  EXPECT_EQ(quoted("string(1,\"unterminated\n", 0), "unterminated");  // line feed ends it

  // The buffer bounds the copy.
  char buf[5];
  EXPECT_EQ(otInterpreter::quotedString("\"abcdefgh\"", 0, buf, sizeof(buf)), 4);
  EXPECT_STREQ(buf, "abcd");
}

TEST(otInterpreter, EscapeRule) {
  // Texts without quote, backslash and line feed go unchanged.
  EXPECT_EQ(escaped("plain text, 1,2,3 ()"), "plain text, 1,2,3 ()");
  EXPECT_EQ(escaped("a\"b\\c\nd"), "a\\\"b\\\\c\\nd");
  // A backslash before any other character stays as it is, also on the receiving side.
  EXPECT_EQ(quoted("s(\"C:\\temp\\x\")", 0), "C:\\temp\\x");
  EXPECT_EQ(quoted("s(\"q\\\"\",\"two\")", 1), "two");  // an escaped quote does not count
  const char* samples[] = {"", "\"", "\\", "\\\"", "end\\", "\n\n", "x\\y\"z\nw", "\"\"\""};
  for (const char* sample : samples)
    EXPECT_EQ(quoted("string(0,\"" + escaped(sample) + "\")", 0), sample);
  char tiny[4];
  EXPECT_EQ(otInterpreter::escapeString("ab\"", tiny, sizeof(tiny)), -1);
  EXPECT_STREQ(tiny, "");
}

TEST(otInterpreter, ArrayParser) {
  int v[8];
  EXPECT_EQ(otInterpreter::parseIntArray("1,2,3,", v, 8), 3);
  EXPECT_EQ(v[2], 3);
  EXPECT_EQ(otInterpreter::parseIntArray("\"-4,,5\"", v, 8), 2);
  EXPECT_EQ(v[0], -4);
  EXPECT_EQ(v[1], 5);
  EXPECT_EQ(otInterpreter::parseIntArray("", v, 8), 0);
  EXPECT_EQ(otInterpreter::parseIntArray("7,x,8,", v, 8), 1);  // stops at a field without number
  float f[4];
  EXPECT_EQ(otInterpreter::parseFloatArray("1.500000,-2.250000,", f, 4), 2);
  EXPECT_FLOAT_EQ(f[1], -2.25f);
}

TEST(otDataProvider, LocalStoreAndBadIndexes) {
  otDataProvider none(-1, 2, 0);
  EXPECT_EQ(none.getInt(0), -1);
  EXPECT_EQ(none.setString(0, "x"), -1);
  EXPECT_EQ(none.getString(0), nullptr);

  otDataProvider p(3, 3, 5);
  EXPECT_EQ(p.setInt(3, 1), -1);
  EXPECT_EQ(p.setFloat(-1, 1), -1);
  EXPECT_EQ(p.getFloat(3), 0.0f);
  EXPECT_EQ(p.getIntAndReset(-1), -1);
  EXPECT_EQ(p.setIntAndWaitForReset(3, 1), -1);
  EXPECT_EQ(p.setString(1, nullptr), -1);
  EXPECT_STREQ(p.getString(4), "");

  EXPECT_EQ(p.setInt(2, 17), 0);
  EXPECT_EQ(p.getIntAndReset(2), 17);
  EXPECT_EQ(p.getIntAndReset(2), -1);

  int three[] = {1, 2, 3};
  EXPECT_EQ(p.setIntArray(0, three, 3), 0);
  EXPECT_STREQ(p.getString(0), "1,2,3,");
  int v[3] = {};
  EXPECT_EQ(p.getIntArray(0, v, 2), 2);
  EXPECT_EQ(v[1], 2);
  EXPECT_EQ(p.getIntArray(5, v, 2), -1);
  EXPECT_EQ(p.setIntArray(0, three, 0), -1);
  std::vector<int> many(1000, -1000000);  // 9 characters each: more than a line
  EXPECT_EQ(p.setIntArray(0, many.data(), (int)many.size()), -1);
  EXPECT_STREQ(p.getString(0), "1,2,3,");
  float big[] = {3.0e38f, -3.0e38f};
  EXPECT_EQ(p.setFloatArray(1, big, 2), 0);
  float fv[2];
  EXPECT_EQ(p.getFloatArray(1, fv, 2), 2);
  EXPECT_FLOAT_EQ(fv[1], -3.0e38f);
}

TEST(otDataProvider, HandshakesBetweenLocalThreads) {
  otDataProvider p(2, 0, 0);
  p.setInt(1, 5);
  std::atomic<int> stored{-1};
  std::thread waiter([&] { stored = p.setIntAndWaitForReset(1, 9); });
  EXPECT_EQ(p.getIntAndReset(1), 5);
  int seen = -1;
  for (int i = 0; i < 500 && (seen = p.getInt(1)) != 9; i++)
    otsleep(10);
  waiter.join();
  EXPECT_EQ(stored, 0);
  EXPECT_EQ(seen, 9);

  std::atomic<int> got{0};
  std::thread taker([&] { got = p.getInt0Semaphore(); });
  EXPECT_EQ(p.setInt0Semaphore(33), 0);
  taker.join();
  EXPECT_EQ(got, 33);
}

TEST(otDataProviderServer, FiftyClientsKeepTheirValues) {
  Server server(100, 100, 60);
  ASSERT_EQ(server.started, 0);
  const int clients = 50, rounds = 40;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; c++) {
    threads.emplace_back([&, c] {
      std::unique_ptr<otSocket> s = server.connect();
      otDataProviderClient client;
      int status = -9;
      for (int r = 0; r < rounds; r++) {
        int value = c * 1000 + r;
        std::string text = "client " + std::to_string(c) + " \"round\" " + std::to_string(r);
        client.setInt(s.get(), c, value);
        client.setFloat(s.get(), c, (float)value + 0.5f);
        client.setString(s.get(), c, text.c_str());
        if (client.getInt(s.get(), c, &status) != value || status != 0) failures++;
        if (client.getFloat(s.get(), c, &status) != (float)value + 0.5f || status != 0) failures++;
        const char* back = client.getString(s.get(), c, &status);
        if (status != 0 || back == nullptr || text != back) failures++;
        // Shared variables: every value read is one that some client wrote whole.
        client.setInt(s.get(), 99, value);
        client.setString(s.get(), 59, text.c_str());
        int shared = client.getInt(s.get(), 99, &status);
        if (status != 0 || shared % 1000 >= rounds || shared / 1000 >= clients) failures++;
        back = client.getString(s.get(), 59, &status);
        if (status != 0 || back == nullptr || strncmp(back, "client ", 7) != 0) failures++;
      }
    });
  }
  for (auto& t : threads)
    t.join();
  EXPECT_EQ(failures, 0);
  for (int c = 0; c < clients; c++)
    EXPECT_EQ(server.provider.getInt(c), c * 1000 + rounds - 1);
}

TEST(otDataProviderServer, ResetHandshakeAcrossConnections) {
  Server server(10, 0, 0);
  server.provider.setInt(4, 1);
  std::unique_ptr<otSocket> producer = server.connect(), consumer = server.connect();
  otDataProviderClient pc, cc;
  int status = -9;
  // The producer's server thread blocks until the consumer took the 1. (A get on the producer
  // would time out and reconnect, which gives the handshake up: see ClientGoneDropsItsWait.)
  EXPECT_GT(pc.setIntAndWaitForReset(producer.get(), 4, 42), 0);
  otsleep(50);
  EXPECT_EQ(server.provider.getInt(4), 1);
  EXPECT_EQ(cc.getIntAndReset(consumer.get(), 4, &status), 1);
  EXPECT_EQ(status, 0);
  int value = -1;
  for (int i = 0; i < 200 && value != 42; i++) {
    value = cc.getIntAndReset(consumer.get(), 4, &status);
    if (value == -1) otsleep(10);
  }
  EXPECT_EQ(value, 42);
  EXPECT_EQ(cc.getIntAndReset(consumer.get(), 4, &status), -1);
}

TEST(otDataProviderServer, Int0SemaphoreWakesRemoteWaiters) {
  Server server(1, 0, 0);
  std::atomic<int> results[2] = {{0}, {0}}, statuses[2] = {{-9}, {-9}};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 2; i++) {
    waiters.emplace_back([&, i] {
      std::unique_ptr<otSocket> s = server.connect();
      otDataProviderClient client;
      int status = -9;
      results[i] = client.getInt0Semaphore(s.get(), &status);
      statuses[i] = status;
    });
  }
  otsleep(100);  // let both requests arrive; the result does not depend on it
  server.provider.setInt0Semaphore(7);
  // The second post waits until the first value was taken, so each waiter has a distinct one.
  for (int i = 0; i < 500 && results[0] == 0 && results[1] == 0; i++)
    otsleep(10);
  server.provider.setInt0Semaphore(8);
  for (auto& t : waiters)
    t.join();
  EXPECT_EQ(statuses[0], 0);
  EXPECT_EQ(statuses[1], 0);
  EXPECT_EQ(results[0] + results[1], 15);
}

TEST(otDataProviderServer, BadIndexesArraysAndUnknownLines) {
  Server server(5, 5, 5);
  std::unique_ptr<otSocket> s = server.connect();
  otDataProviderClient client;
  int status = -9;
  EXPECT_EQ(client.getInt(s.get(), 5, &status), -1);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(client.getFloat(s.get(), -3, &status), 0.0f);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(rawExchange(s.get(), "getString(7)\n"), "stringResult(\"\")\n");
  EXPECT_STREQ(client.getString(s.get(), 7, &status), "");
  EXPECT_EQ(status, 0);

  int three[] = {1, 2, 3};
  EXPECT_GT(client.setIntArray(s.get(), 2, three, 3), 0);
  EXPECT_EQ(rawExchange(s.get(), "getString(2)\n"), "stringResult(\"1,2,3,\")\n");
  int v[3] = {};
  EXPECT_EQ(client.getIntArray(s.get(), 2, v, 2), 2);
  EXPECT_EQ(v[1], 2);
  float fv[] = {0.5f, -1.25f};
  EXPECT_GT(client.setFloatArray(s.get(), 3, fv, 2), 0);
  float fb[2];
  EXPECT_EQ(client.getFloatArray(s.get(), 3, fb, 2), 2);
  EXPECT_EQ(fb[1], -1.25f);
  EXPECT_EQ(client.setIntArray(s.get(), 3, three, 0), -1);

  // Unknown and malformed lines get no answer and change nothing; a line longer than the
  // server reads is dropped whole, including a command that would start inside it.
  std::string junk = "hello\nint(1)\nstring(4,no quotes)\ngetInt(x)\n" + std::string(5000, 'z') +
                     "int(1,66)\nint(1,5)\ngetInt(1)\n";
  EXPECT_EQ(rawExchange(s.get(), junk), "intResult(5)\n");
  EXPECT_STREQ(server.provider.getString(4), "");
}

TEST(otDataProviderServer, StringsRoundTripIntact) {
  Server server(1, 1, 4);
  std::unique_ptr<otSocket> s = server.connect();
  otDataProviderClient client;
  int status = -9;
  const char* samples[] = {"say \"hi\"", "C:\\dir\\", "two\nlines\n", "\\\"\\n", "plain"};
  for (const char* sample : samples) {
    EXPECT_GT(client.setString(s.get(), 1, sample), 0);
    const char* back = client.getString(s.get(), 1, &status);
    ASSERT_EQ(status, 0);
    EXPECT_STREQ(back, sample);
    EXPECT_STREQ(server.provider.getString(1), sample);
  }
  // Locally stored texts travel escaped too.
  server.provider.setString(2, "a\"b\\c\nd");
  EXPECT_EQ(rawExchange(s.get(), "getString(2)\n"), "stringResult(\"a\\\"b\\\\c\\nd\")\n");
  // A string whose answer would not fit a line is refused on sending; one stored locally is
  // reported as no matching answer, and the next request is answered normally.
  std::string longText(otDataProviderClient::MAX_STRING + 1, 'x');
  EXPECT_EQ(client.setString(s.get(), 1, longText.c_str()), -1);
  longText.pop_back();
  EXPECT_GT(client.setString(s.get(), 1, longText.c_str()), 0);
  EXPECT_STREQ(client.getString(s.get(), 1, &status), longText.c_str());
  server.provider.setString(3, std::string(6000, 'y').c_str());
  EXPECT_EQ(client.getString(s.get(), 3, &status), nullptr);
  EXPECT_EQ(status, -1);
  EXPECT_EQ(client.getInt(s.get(), 0, &status), 0);
  EXPECT_EQ(status, 0);
}

TEST(otDataProviderClient, TimeOutReconnectsAndUnconnectedSendsNothing) {
  // A peer that accepts (through the backlog) but never answers.
  int lfd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(sin);
  ASSERT_EQ(bind(lfd, reinterpret_cast<sockaddr*>(&sin), sizeof(sin)), 0);
  ASSERT_EQ(listen(lfd, 4), 0);
  getsockname(lfd, reinterpret_cast<sockaddr*>(&sin), &len);
  otSocket s("127.0.0.1", ntohs(sin.sin_port), 1);
  ASSERT_GE(s.connect(), 0);
  otDataProviderClient client;
  int status = -9;
  EXPECT_EQ(client.getInt(&s, 0, &status), 0);
  EXPECT_EQ(status, -2);
  EXPECT_EQ(s.isConnected(), 1);
  // The first connection got the request and was closed; the second is the new one.
  int first = accept(lfd, nullptr, nullptr), second = accept(lfd, nullptr, nullptr);
  char buf[64] = {};
  EXPECT_EQ(recv(first, buf, sizeof(buf) - 1, MSG_WAITALL), (ssize_t)strlen("getInt(0)\n"));
  EXPECT_STREQ(buf, "getInt(0)\n");
  EXPECT_GE(second, 0);
  close(first);
  close(second);
  close(lfd);

  otSocket never("127.0.0.1", 1, 1);
  EXPECT_EQ(client.getFloat(&never, 0, &status), 0.0f);
  EXPECT_EQ(status, -1);
  EXPECT_EQ(client.getString(&never, 0, &status), nullptr);
  EXPECT_EQ(client.getIntArray(&never, 0, nullptr, 0), -1);
  EXPECT_EQ(client.setInt(&never, 0, 1), -1);
  EXPECT_EQ(client.setString(&never, 0, "x"), -1);
  EXPECT_EQ(never.isConnected(), 0);
}

TEST(otDataProviderServer, StopReleasesBlockedClients) {
  std::unique_ptr<otDataProvider> provider(new otDataProvider(4, 0, 0));
  provider->setInt(2, 1);
  int port = freePort();
  std::unique_ptr<otDataProviderThreads> threads(new otDataProviderThreads(port, provider.get()));
  ASSERT_EQ(threads->start(), 0);
  auto connect = [port] {
    std::unique_ptr<otSocket> s(new otSocket("127.0.0.1", port, 1));
    for (int i = 0; i < 250 && s->connect() < 0; i++)
      otsleep(20);
    return s;
  };
  std::unique_ptr<otSocket> waiting = connect(), idle = connect(), sem = connect();
  otDataProviderClient client;
  int status = -9;
  EXPECT_GT(client.setIntAndWaitForReset(waiting.get(), 2, 5), 0);
  EXPECT_EQ(client.getInt(idle.get(), 2, &status), 1);  // the server is up and serving
  std::atomic<int> semStatus{-9};
  std::thread semWaiter([&] {
    otDataProviderClient c;
    int st = -9;
    c.getInt0Semaphore(sem.get(), &st);
    semStatus = st;
  });
  otsleep(100);  // the semaphore request reaches its server thread
  EXPECT_EQ(threads->stop(), 0);
  semWaiter.join();
  EXPECT_EQ(semStatus, -1);           // the connection was shut down under it
  EXPECT_EQ(provider->getInt(2), 1);  // the abandoned reset handshake stored nothing
  EXPECT_EQ(client.getInt(idle.get(), 2, &status), 0);
  EXPECT_EQ(status, -1);
  threads.reset();
  provider.reset();  // nothing may touch it any more
  EXPECT_EQ(otDataProviderThreads(port, nullptr).start(), -1);
}

// Waits up to two seconds for the thread count to fall to want; the count last seen.
int waitThreads(int want) {
  int n = ottest::threadCount();
  for (int i = 0; i < 200 && n > want; i++) {
    otsleep(10);
    n = ottest::threadCount();
  }
  return n;
}

TEST(otDataProvider, RequestsAreReadStrictly) {
  otDataProvider p(2, 2, 2);
  std::string reply;
  // Each of these must leave int 1 at 7, float 1 at 0.5 and string 1 at "keep".
  const char* refused[] = {"int(1,2147483648)",
                           "int(1,-2147483649)",
                           "int(1,99999999999999999999)",
                           "int(1 2 3,5)",
                           "int(1,2 3)",
                           "int(1,0x10)",
                           "int(0x1,5)",
                           "int(1,5)x",
                           "int(1,5",
                           "int( 1,5)",
                           "int(1,)",
                           "int(1,-)",
                           "int(1,5)\r\r",
                           "float(1,nan)",
                           "float(1,NaN)",
                           "float(1,inf)",
                           "float(1,1e400)",
                           "float(1,1e39)",
                           "float(1,0x1p3)",
                           "float(1,1.5 2)",
                           "float(1,1e)",
                           "float(1,.)",
                           "float(1,1,5)",
                           "string(1,\"unterminated",
                           "string(1,\"escaped end\\\")",
                           "string(1,\"a\")junk",
                           "string(1,\"a\"))",
                           "string(1 ,\"a\")",
                           "intAndReset(0,99999999999)",
                           "int (1,5)"};
  for (const char* line : refused) {
    p.setInt(1, 7);
    p.setFloat(1, 0.5f);
    p.setString(1, "keep");
    p.setInt(0, -1);
    EXPECT_EQ(p.handleLine(line, &reply, nullptr), 0) << line;
    EXPECT_EQ(p.getInt(1), 7) << line;
    EXPECT_EQ(p.getInt(0), -1) << line;
    EXPECT_EQ(p.getFloat(1), 0.5f) << line;
    EXPECT_STREQ(p.getString(1), "keep") << line;
  }
  // Gets with anything around their argument get no answer.
  for (const char* line : {"getInt(1)x", "getInt(0x1)", "getFloat(1 )", "getString(+)",
                           "getInt0Semaphore(0)", "getIntAndReset(1,2)"})
    EXPECT_EQ(p.handleLine(line, &reply, nullptr), 0) << line;

  // The edges that are valid.
  p.handleLine("int(1,-2147483648)\n", &reply, nullptr);
  EXPECT_EQ(p.getInt(1), INT_MIN);
  p.handleLine("int(1,+2147483647)\r\n", &reply, nullptr);  // a CR LF client
  EXPECT_EQ(p.getInt(1), INT_MAX);
  p.handleLine("float(1,-340282346638528859811704183484516925440.000000)", &reply, nullptr);
  EXPECT_EQ(p.getFloat(1), -3.40282347e38f);
  p.handleLine("float(0,1e-50)", &reply, nullptr);  // too small for a float: rounds to 0
  EXPECT_EQ(p.getFloat(0), 0.0f);
  p.handleLine("float(0,2.5E+1)", &reply, nullptr);
  EXPECT_EQ(p.getFloat(0), 25.0f);
  p.handleLine("string(1,\"1,2,3,\"", &reply, nullptr);  // the array setters' form, no ")"
  EXPECT_STREQ(p.getString(1), "1,2,3,");
  p.handleLine("string(0,\"q\\\"(\\\\)\")", &reply, nullptr);
  EXPECT_STREQ(p.getString(0), "q\"(\\)");
  EXPECT_EQ(p.handleLine("getInt(-0)", &reply, nullptr), 14);
  EXPECT_EQ(reply, "intResult(-1)\n");  // int 0 was left at -1 above
}

TEST(otDataProviderServer, PipelinedRequestsAnsweredInOrder) {
  Server server(4, 1, 1);
  std::unique_ptr<otSocket> s = server.connect();
  server.provider.setInt(2, 20);
  std::string text = "getInt(2)\nint(3,30)\ngetInt(3)\ngetString(0)\ngetFloat(0)\n";
  s->write(text.data(), (int)text.size());
  const char* expected[] = {"intResult(20)\n", "intResult(30)\n", "stringResult(\"\")\n",
                            "floatResult(0.000000)\n"};
  char line[256];
  for (const char* e : expected) {
    ASSERT_GT(s->readStr(line, sizeof(line), 1000), 0);
    EXPECT_STREQ(line, e);
  }
  // An answer in front of a request that blocks is not held back by it.
  EXPECT_EQ(rawExchange(s.get(), "getInt(2)\ngetInt0Semaphore()\n"), "intResult(20)\n");
  server.provider.setInt0Semaphore(5);
  ASSERT_GT(s->readStr(line, sizeof(line), 1000), 0);
  EXPECT_STREQ(line, "intResult(5)\n");
}

TEST(otDataProviderServer, ClientGoneDropsItsWait) {
  int baseline = ottest::baselineThreadCount();
  Server server(5, 0, 0);
  int serving = ottest::threadCount();
  server.provider.setInt(1, 1);
  {
    std::unique_ptr<otSocket> gone = server.connect();
    otDataProviderClient client;
    EXPECT_GT(client.setIntAndWaitForReset(gone.get(), 1, 42), 0);
    otsleep(50);  // the request reaches its server thread
  }               // disconnected while its handshake waits
  EXPECT_EQ(waitThreads(serving), serving);
  // The reset is not answered by the departed client's value.
  EXPECT_EQ(server.provider.getIntAndReset(1), 1);
  otsleep(50);
  EXPECT_EQ(server.provider.getInt(1), -1);

  // A semaphore waiter that left neither keeps its thread nor takes the post.
  {
    std::unique_ptr<otSocket> gone = server.connect();
    gone->write("getInt0Semaphore()\n", 19);
    otsleep(50);
  }
  EXPECT_EQ(waitThreads(serving), serving);
  server.provider.setInt0Semaphore(3);
  std::unique_ptr<otSocket> live = server.connect();
  otDataProviderClient client;
  int status = -9;
  EXPECT_EQ(client.getInt0Semaphore(live.get(), &status), 3);
  EXPECT_EQ(status, 0);
  live.reset();
  server.threads.stop();
  EXPECT_EQ(waitThreads(baseline), baseline);
}

TEST(otDataProviderServer, SharedSecretGuardsChanges) {
  otDataProvider provider(4, 1, 2);
  provider.setInt(1, 11);
  int port = freePort();
  otDataProviderThreads threads(port, &provider);
  const char* secret = "s3cr\"et \\ x";  // quote and backslash travel escaped
  EXPECT_EQ(threads.setSecret(std::string(otDataProvider::MAX_SECRET + 1, 'a').c_str()), -1);
  EXPECT_EQ(threads.setSecret("line\nfeed"), -1);
  ASSERT_EQ(threads.setSecret(secret), 0);
  ASSERT_EQ(threads.start(), 0);
  EXPECT_EQ(threads.setSecret(nullptr), -1);  // not while running
  auto connect = [port] {
    std::unique_ptr<otSocket> s(new otSocket("127.0.0.1", port, 1));
    for (int i = 0; i < 250 && s->connect() < 0; i++)
      otsleep(20);
    return s;
  };
  char line[256];

  // Reads stay open; a change without the secret is refused and the connection closed.
  std::unique_ptr<otSocket> anon = connect();
  otDataProviderClient plain;
  int status = -9;
  EXPECT_EQ(plain.getInt(anon.get(), 1, &status), 11);
  EXPECT_EQ(rawExchange(anon.get(), "int(1,5)\n"), "error(\"secret required\")\n");
  EXPECT_EQ(anon->readStr(line, sizeof(line), 1000), -1);
  std::unique_ptr<otSocket> anon2 = connect();
  EXPECT_EQ(rawExchange(anon2.get(), "getIntAndReset(1)\n"), "error(\"secret required\")\n");
  for (const char* waiting : {"intAndReset(1,2)\n", "getInt0Semaphore()\n"}) {
    std::unique_ptr<otSocket> w = connect();
    EXPECT_EQ(rawExchange(w.get(), waiting), "error(\"secret required\")\n") << waiting;
    EXPECT_EQ(w->readStr(line, sizeof(line), 1000), -1);
  }
  EXPECT_EQ(provider.getInt(1), 11);

  // A wrong secret is refused, even when it is the right one's prefix.
  for (const char* wrong : {"s3cr\\\"et", "nope", ""}) {
    std::unique_ptr<otSocket> s = connect();
    EXPECT_EQ(rawExchange(s.get(), std::string("auth(\"") + wrong + "\")\nint(1,6)\n"),
              "error(\"wrong secret\")\n");
    EXPECT_EQ(s->readStr(line, sizeof(line), 1000), -1);
  }
  std::unique_ptr<otSocket> bad = connect();
  otDataProviderClient wrongClient;
  EXPECT_EQ(wrongClient.setSecret("guess"), 0);
  EXPECT_GT(wrongClient.setInt(bad.get(), 1, 7), 0);  // a setter cannot see the refusal...
  EXPECT_EQ(wrongClient.getInt(bad.get(), 1, &status), 0);
  EXPECT_EQ(status, -1);  // ...the next get does
  EXPECT_EQ(provider.getInt(1), 11);

  // The right secret: every change goes through, also after a reconnection.
  std::unique_ptr<otSocket> s = connect();
  otDataProviderClient client;
  EXPECT_EQ(client.setSecret(std::string(otDataProvider::MAX_SECRET + 1, 'a').c_str()), -1);
  ASSERT_EQ(client.setSecret(secret), 0);
  EXPECT_EQ(client.setInt(s.get(), 1, 8), (int)strlen("int(1,8)\n"));
  EXPECT_EQ(client.getIntAndReset(s.get(), 1, &status), 8);
  EXPECT_EQ(status, 0);
  s->disconnect();
  ASSERT_GE(s->connect(), 0);
  int three[] = {1, 2, 3};
  EXPECT_GT(client.setIntArray(s.get(), 0, three, 3), 0);
  EXPECT_GT(client.setFloat(s.get(), 0, 2.5f), 0);
  EXPECT_STREQ(client.getString(s.get(), 0, &status), "1,2,3,");
  EXPECT_EQ(client.getFloat(s.get(), 0, &status), 2.5f);
  std::thread poster([&] {
    otsleep(50);
    provider.setInt0Semaphore(4);
  });
  EXPECT_EQ(client.getInt0Semaphore(s.get(), &status), 4);
  EXPECT_EQ(status, 0);
  poster.join();
  threads.stop();

  // Without a secret on the server a client's auth is ignored.
  Server open(2, 0, 0);
  std::unique_ptr<otSocket> o = open.connect();
  EXPECT_GT(client.setInt(o.get(), 1, 9), 0);
  EXPECT_EQ(client.getInt(o.get(), 1, &status), 9);
}

TEST(otDataProviderServer, BindAddress) {
  otDataProvider provider(2, 0, 0);
  provider.setInt(0, 4);
  int port = freePort();
  otDataProviderThreads threads(port, &provider);
  ASSERT_EQ(threads.setBindAddress("127.0.0.2"), 0);
  ASSERT_EQ(threads.start(), 0);
  EXPECT_EQ(threads.setBindAddress(nullptr), -1);  // not while running
  otSocket other("127.0.0.1", port, 1);
  EXPECT_LT(other.connect(), 0);  // only the bound address listens
  otSocket s("127.0.0.2", port, 1);
  ASSERT_GE(s.connect(), 0);
  otDataProviderClient client;
  int status = -9;
  EXPECT_EQ(client.getInt(&s, 0, &status), 4);
  threads.stop();

  otDataProviderThreads unbindable(freePort(), &provider);
  ASSERT_EQ(unbindable.setBindAddress("192.0.2.1"), 0);  // not an address of this machine
  EXPECT_EQ(unbindable.start(), -1);

  // Without an address: loopback only while anyone could change the store, every address
  // once a secret guards it.
  for (const char* secret : {"", "guard"}) {
    SCOPED_TRACE(secret);
    int p = freePort();
    otDataProviderThreads byDefault(p, &provider);
    ASSERT_EQ(byDefault.setSecret(secret), 0);
    ASSERT_EQ(byDefault.start(), 0);
    otSocket loopback("127.0.0.1", p, 1), elsewhere("127.0.0.2", p, 1);
    EXPECT_GE(loopback.connect(), 0);
    EXPECT_EQ(elsewhere.connect() >= 0, secret[0] != '\0');
    byDefault.stop();
  }
}

}  // namespace