// The display-server library against a plain socket as the client: command lines byte for
// byte, event lines into kinds, the connection's bounds, and the server's threads.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <math.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "hxserver.h"
#include "otlog.h"
#include "otlinereader.h"
#include "ottime.h"
#include "testutil.h"
#include "hxtestutil.h"

namespace {

using hxtest::Client;
using hxtest::eventually;
using hxtest::HxServerTest;

// Polls until the connection closes; the event lines other than idle.
std::vector<std::string> pollAll(PARAM_* p) {
  std::vector<std::string> got;
  std::vector<char> buf(HX_EVENT_BUFSIZE);
  while (hxPollEvent(p, buf.data()) == 0)
    if (strcmp(buf.data(), "idle") != 0) got.push_back(buf.data());
  return got;
}

TEST_F(HxServerTest, CommandsGoOutByteForByte) {
  std::vector<int> results;
  start([&](PARAM_* p) {
    results = {hxStartDefinition(p, 20),
               hxQPushButton(p, 1, 0),
               hxQComboBox(p, 2, 0, 1, 6),
               hxQLCDNumber(p, 3, 0, 5, 1, 2),
               hxQSlider(p, 4, 0, 0, 100, 5, 50, 2),
               hxQButtonGroup(p, 5, 0, 1, 2, "RBut:"),
               hxQFrame(p, 6, 0, 1, 48, 2, 3),
               hxQwtPlot(p, 7, 0, 2, 0),
               hxSetGeometry(p, 1, 0, 30, 100, 30),
               hxSetText(p, 1, "say \"hi\"\\ now\nnext"),
               hxPrintf(p, 8, "Cnt: %d %s", 42, "x"),
               hxSetFont(p, 8, "Times New Roman", 24, 7, 0),
               hxSetBackgroundColor(p, 8, 255, 0, 0),
               hxSetFloat(p, 3, 0.1),
               hxSetRange(p, 4, 1, 10, 0.5),
               hxSetTableText(p, 9, -1, 3, "head"),
               hxAddTab(p, 10, 11, "Tab 1"),
               hxStatusMessage(p, 0, 128, 0, "ok"),
               hxVtkTclPrintf(p, 12, "$cam1 Zoom %.1f", 1.5),
               hxPlotCurve(p, 7, 1, "sin(phi)"),
               hxReplot(p, 7),
               hxPlaySound(p, "k3b_success1.wav"),
               hxEndDefinition(p)};
    return 0;
  });
  Client c(port());
  std::string expected =
      "startDefinition(20)\nQPushButton(1,0)\nQComboBox(2,0,1,6)\nQLCDNumber(3,0,5,1,2)\n"
      "QSlider(4,0,0,100,5,50,2)\nQButtonGroup(5,0,1,2,\"RBut:\")\nQFrame(6,0,1,48,2,3)\n"
      "QwtPlot(7,0,2,0)\nsetGeometry(1,0,30,100,30)\n"
      "setText(1,\"say \\\"hi\\\"\\\\ now\\nnext\")\nsetText(8,\"Cnt: 42 x\")\n"
      "setFont(8,\"Times New Roman\",24,1,0)\nsetBackgroundColor(8,255,0,0)\n"
      "setFloat(3,0.1)\nsetRange(4,1,10,0.5)\nsetTableText(9,-1,3,\"head\")\n"
      "addTab(10,11,\"Tab 1\")\nstatusMessage(0,128,0,\"ok\")\n"
      "vtkTclPrintf(12,\"$cam1 Zoom 1.5\")\nplotCurve(7,1,\"sin(phi)\")\nreplot(7)\n"
      "playSound(\"k3b_success1.wav\")\nendDefinition()\n";
  EXPECT_EQ(expected, c.bytes((int)expected.size()));
  ASSERT_TRUE(eventually([&] { return finished == 1; }));
  for (size_t i = 0; i < results.size(); i++)
    EXPECT_EQ(0, results[i]) << "call " << i;
}

TEST_F(HxServerTest, RefusedCommandsSendNothing) {
  std::vector<int> results;
  start([&](PARAM_* p) {
    std::string fits(16384 - strlen("setText(1,\"\")\n"), 'a');
    std::string tooLong = fits + "b";
    std::string quotes(9000, '"');  // twice as long once escaped
    results = {hxStartDefinition(p, 0),
               hxStartDefinition(p, 100001),
               hxStartDefinition(p, 5),
               hxSetText(p, 1, tooLong.c_str()),
               hxSetText(p, 1, quotes.c_str()),
               hxSetText(p, 1, nullptr),
               hxPrintf(p, 1, "%s", tooLong.c_str()),
               hxSetText(p, 5, "id outside the mask"),
               hxQLabel(p, 1, -1),
               hxSetForegroundColor(p, 1, 0, 256, 0),
               hxSetFloat(p, 1, NAN),
               hxSetRange(p, 1, 0, INFINITY, 1),
               hxSetNumRows(p, 1, 100001),
               hxSendCommand(p, "setText(1,\"x\")\nhide", "i", 1),
               hxSendCommand(p, "show", "q", 1),
               hxSetText(p, 1, fits.c_str())};
    return 0;
  });
  Client c(port());
  EXPECT_EQ("startDefinition(5)\n", c.line());
  std::string longest = c.line();
  EXPECT_EQ(16384u, longest.size());
  EXPECT_EQ(0u, longest.find("setText(1,\"aaa"));
  ASSERT_TRUE(eventually([&] { return finished == 1; }));
  std::vector<int> expected = {-1, -1, 0, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0};
  EXPECT_EQ(expected, results);
}

TEST_F(HxServerTest, BlocksGoOutWholeAfterTheirCount) {
  ottest::TempDir dir;
  std::string content("line\n\0bin\"ary\n", 14);
  std::ofstream(dir.file("homer.bmp"), std::ios::binary) << content;
  std::ofstream(dir.file("empty.txt")).close();
  std::vector<int> results;
  start([&](PARAM_* p) {
    double x[] = {0, 0.5, 1e-3}, y[] = {-1, 2.25, 1e20}, bad[] = {0, NAN, 1};
    results = {hxDownloadFile(p, dir.file("homer.bmp").c_str()),
               hxDownloadFile(p, dir.file("missing.bmp").c_str()),
               hxDownloadFile(p, dir.path().c_str()),
               hxDownloadFile(p, dir.file("empty.txt").c_str()),
               hxPlotData(p, 7, 0, x, y, 3),
               hxPlotData(p, 7, 1, x, bad, 3),
               hxPlotData(p, 7, 0, nullptr, y, 3),
               hxPlotData(p, 7, 1, x, y, 0)};
    return 0;
  });
  Client c(port());
  std::string expected = "@download(\"homer.bmp\",14)\n" + content +
                         "@download(\"empty.txt\",0)\n"
                         "plotData(7,0,3)\n0,-1\n0.5,2.25\n0.001,1e+20\nplotData(7,1,0)\n";
  EXPECT_EQ(expected, c.bytes((int)expected.size()));
  ASSERT_TRUE(eventually([&] { return finished == 1; }));
  EXPECT_EQ((std::vector<int>{0, -1, -1, 0, 0, -1, -1, 0}), results);
}

TEST_F(HxServerTest, RawIoAndTransfersThatOtherSendersCannotSplit) {
  std::string reply, bytes;
  int sendResult = -2, longLine = -2;
  start([&](PARAM_* p) {
    sendResult = hxtcpsend(p, "glGenLists(1);\n", -1);
    char buf[80];
    longLine = hxtcpreceive(p, buf, sizeof buf);  // a line of 100 bytes does not fit
    if (hxtcpreceive(p, buf, sizeof buf) > 0) reply = buf;
    char raw[4];
    if (hxtcpreceive_binary(p, raw, 4) == 4) bytes.assign(raw, 4);
    // Another thread's lines may come before or after the points, never between them.
    std::thread other([p] {
      for (int i = 0; i < 200; i++)
        hxShow(p, 1);
    });
    std::vector<double> x(2000, 1.0);
    hxPlotData(p, 7, 0, x.data(), x.data(), 2000);
    other.join();
    return 0;
  });
  Client c(port());
  EXPECT_EQ("glGenLists(1);\n", c.line());
  c.send(std::string(99, 'x') + "\ngllongresponse(5)\n" + std::string("\0\1\2\3", 4));
  int points = -1, shows = 0;
  for (int lines = 0; lines < 2201; lines++) {
    std::string l = c.line();
    if (l == "show(1)\n") {
      shows++;
      EXPECT_TRUE(points < 0 || points == 2000) << "inside the block";
    } else if (l == "plotData(7,0,2000)\n") {
      points = 0;
    } else if (l == "1,1\n" && points >= 0) {
      points++;
    } else {
      ADD_FAILURE() << "unexpected line " << l;
      break;
    }
  }
  EXPECT_EQ(2000, points);
  EXPECT_EQ(200, shows);
  ASSERT_TRUE(eventually([&] { return finished == 1; }));
  EXPECT_EQ(15, sendResult);
  EXPECT_EQ(-2, longLine);
  EXPECT_EQ("gllongresponse(5)\n", reply);
  EXPECT_EQ(std::string("\0\1\2\3", 4), bytes);
}

struct EventRow {
  const char* line;
  int kind;
  int id;
  const char* rest;
};

TEST(HxParseEvent, EveryLineOfTheProtocolTable) {
  const EventRow rows[] = {
      {"idle", QUIET_EVENT, 0, ""},
      {"QPushButton(3)", BUTTON_EVENT, 3, ""},
      {"QPushButton(5) -xy=10,20", BUTTON_EVENT, 5, " -xy=10,20"},
      {"text(4,\"a \\\"b\\\" \\\\ c\\nd\")", TEXT_EVENT, 4, "a \"b\" \\ c\nd"},
      {"slider(10,42)", SLIDER_EVENT, 10, "(42)"},
      {"check(8,\"1\")", CHECKBOX_EVENT, 8, "1"},
      {"radio(6,\"0\")", RADIOBUTTON_EVENT, 6, "0"},
      {"glIdle(4)", GL_TICK_EVENT, 4, ""},
      {"glPaint(4)", GL_DRAW_EVENT, 4, ""},
      {"paintGL(4)", GL_DRAW_EVENT, 4, ""},
      {"glInitialize(4)", GL_SETUP_EVENT, 4, ""},
      {"resizeGL(4,640,480)", GL_SIZE_EVENT, 4, "(640,480)"},
      {"tab(2,1)", TAB_EVENT, 2, "(1)"},
      {"tableClicked(9,2,-1,1)", TABLE_CLICKED_EVENT, 9, "(2,-1,1)"},
      {"tableText(9,1,2,\"x,\\\"y\\\"\")", TABLE_TEXT_EVENT, 9, "(1,2,\"x,\\\"y\\\"\")"},
      {"selection(3,0,\"item\")", SELECTION_EVENT, 3, "(0,\"item\")"},
      {"@clipboard(1,12)", CLIPBOARD_EVENT, 1, ""},
      {"QPushButtonPressed(7)", BUTTON_PRESSED_EVENT, 7, ""},
      {"QPlotMousePressed(11,3,4)", BUTTON_PRESSED_EVENT, 11, "(3,4)"},
      {"QPushButtonReleased(7)", BUTTON_RELEASED_EVENT, 7, ""},
      {"QPushButtonReleased(7) -xy=1,2", BUTTON_RELEASED_EVENT, 7, " -xy=1,2"},
      {"QPlotMouseReleased(11,5,6)", BUTTON_RELEASED_EVENT, 11, "(5,6)"},
      {"QMouseRight(2)", RIGHT_MOUSE_EVENT, 2, ""},
      {"key(2,65)", KEYBOARD_EVENT, 2, "(65)"},
      {"mouseEnterLeave(5,1)", UNKNOWN_EVENT, 5, "(1)"},
      {"QPlotMouseMoved(11,7,8)", UNKNOWN_EVENT, 11, "(7,8)"},
      {"synced(3)", UNKNOWN_EVENT, 3, ""},
      {"shutup()", SHUTUP_EVENT, 0, ""},
      {"shutup", SHUTUP_EVENT, 0, ""},
      {"shutup\r\n", SHUTUP_EVENT, 0, ""},
      // Known names with arguments of the wrong kind, and lines that are no calls at all.
      {"slider(10,\"x\")", UNKNOWN_EVENT, 10, "(\"x\")"},
      {"@clipboard(1,-5)", UNKNOWN_EVENT, 1, "(-5)"},
      {"text(\"4\",\"a\")", UNKNOWN_EVENT, 0, ""},
      {"QPushButton(3", UNKNOWN_EVENT, 0, ""},
      {"", UNKNOWN_EVENT, 0, ""},
      {"garbage", UNKNOWN_EVENT, 0, ""},
  };
  for (const EventRow& r : rows) {
    int id = -99;
    char rest[HX_TEXT_SIZE];
    EXPECT_EQ(r.kind, hxParseEvent(r.line, &id, rest)) << r.line;
    EXPECT_EQ(r.id, id) << r.line;
    EXPECT_STREQ(r.rest, rest) << r.line;
  }
}

TEST(HxParseEvent, RestAndTextStayWithinTheirBuffers) {
  int id = 0;
  char rest[HX_TEXT_SIZE];
  char small[8];
  EXPECT_EQ(UNKNOWN_EVENT, hxParseEventN("text(1,\"12345678\")", &id, small, sizeof small));
  EXPECT_STREQ("", small);
  EXPECT_EQ(TEXT_EVENT, hxParseEventN("text(1,\"1234567\")", &id, small, sizeof small));
  EXPECT_STREQ("1234567", small);
  // The traditional layout: rest behind the first 1024 bytes of the event buffer.
  std::vector<char> buf(HX_EVENT_BUFSIZE);
  strcpy(buf.data(), "tableText(9,1,2,\"cell\")");
  EXPECT_EQ(TABLE_TEXT_EVENT, hxParseEvent(buf.data(), &id, buf.data() + 1024));
  EXPECT_STREQ("(1,2,\"cell\")", buf.data() + 1024);
  // A line longer than the protocol allows is no event.
  std::string huge = "text(1,\"" + std::string(HX_MAX_LINE, 'a') + "\")";
  EXPECT_EQ(UNKNOWN_EVENT, hxParseEvent(huge.c_str(), &id, rest));

  char out[HX_TEXT_SIZE];
  EXPECT_EQ(5, hxGetText("(1,2,\"a\\\"b\\\\c\")", out));
  EXPECT_STREQ("a\"b\\c", out);
  EXPECT_EQ(-1, hxGetText("(1,2)", out));
  EXPECT_STREQ("", out);
  EXPECT_EQ(-1, hxGetTextN("(0,\"12345678\")", small, sizeof small));
  EXPECT_EQ(7, hxGetTextN("(0,\"1234567\")", small, sizeof small));
}

TEST_F(HxServerTest, PollEventGivesIdleEventsClipboardAndDropsLongLines) {
  std::atomic<int> firstPolled{0};
  std::vector<std::string> got;
  std::string firstEvent, clipboard;
  int finalClipboardLength = -1;
  start([&](PARAM_* p) {
    p->maxClipboard = 16;
    std::vector<char> buf(HX_EVENT_BUFSIZE);
    EXPECT_EQ(0, hxPollEvent(p, buf.data()));
    firstEvent = buf.data();
    firstPolled = 1;
    while (hxPollEvent(p, buf.data()) == 0) {
      if (strcmp(buf.data(), "idle") == 0) continue;
      got.push_back(buf.data());
      if (got.size() == 2) clipboard.assign(p->clipboard, (size_t)p->clipboardLength);
    }
    finalClipboardLength = p->clipboardLength;
    return 0;
  });
  Client c(port());
  ASSERT_TRUE(eventually([&] { return firstPolled == 1; }));
  std::string block("ab\ncd\0ef\n!!", 11);
  c.send("QPushButton(1)\r\n@clipboard(2,11)\n" + block);
  c.send("text(3,\"" + std::string(20000, 'z') + "\")\nslider(4,7)\n");
  // Above the bound: read and dropped, the stream goes on behind it.
  c.send("@clipboard(5,17)\n" + std::string(17, 'q') + "tab(6,1)\nshutup");
  close(c.fd);
  c.fd = -1;
  ASSERT_TRUE(eventually([&] { return finished == 1; }));
  EXPECT_EQ("idle", firstEvent);
  std::vector<std::string> expected = {"QPushButton(1)",   "@clipboard(2,11)", "slider(4,7)",
                                       "@clipboard(5,17)", "tab(6,1)",         "shutup"};
  EXPECT_EQ(expected, got);
  EXPECT_EQ(block, clipboard);
  EXPECT_EQ(0, finalClipboardLength);
}

TEST_F(HxServerTest, WaitQueuesEventsForThePoll) {
  int syncResult = -2;
  std::atomic<int> waitResult{-2};
  std::vector<std::string> after;
  std::string clipboard;
  start([&](PARAM_* p) {
    syncResult = hxSync(p);
    clipboard.assign(p->clipboard ? p->clipboard : "", (size_t)p->clipboardLength);
    p->ioTimeoutMs = 100;
    waitResult = hxWait(p, "never");
    after = pollAll(p);
    return 0;
  });
  Client c(port());
  EXPECT_EQ("sync(1)\n", c.line());
  c.send("QPushButton(3)\n@clipboard(1,3)\nabcsynced(10)\nsynced(1)\n");
  ASSERT_TRUE(eventually([&] { return waitResult != -2; }));
  c.send("check(8,\"1\")\n");
  close(c.fd);
  c.fd = -1;
  ASSERT_TRUE(eventually([&] { return finished == 1; }));
  EXPECT_EQ(0, syncResult);
  EXPECT_EQ(-1, waitResult);
  EXPECT_EQ("abc", clipboard);
  EXPECT_EQ((std::vector<std::string>{"QPushButton(3)", "@clipboard(1,3)", "synced(10)",
                                      "check(8,\"1\")"}),
            after);
}

// A client that floods the queue while the server waits and then says goodbye is let go at once,
// not when the answer it will never send runs out.
TEST_F(HxServerTest, AFarewellBehindAFullQueueIsNotDropped) {
  std::vector<std::string> after;
  long dropped = -1;
  int waited = -2;
  start([&](PARAM_* p) {
    p->ioTimeoutMs = 20000;
    waited = hxSync(p);
    std::vector<char> buf(HX_EVENT_BUFSIZE);
    while (hxPollEvent(p, buf.data()) == 0) {
      after.push_back(buf.data());
      if (after.back() == "shutup") break;
    }
    dropped = p->droppedEvents;
    return 0;
  });
  Client c(port());
  std::string flood;
  for (int i = 0; i < HX_EVENT_QUEUE_LINES + 100; i++)
    flood += "nonsense(" + std::to_string(i) + ")\n";
  c.send(flood + "shutup\n");
  ASSERT_TRUE(eventually([&] { return finished == 1; }, 5000));
  EXPECT_EQ(-1, waited);
  EXPECT_EQ(100, dropped);
  ASSERT_EQ((size_t)HX_EVENT_QUEUE_LINES + 1, after.size());
  EXPECT_EQ("shutup", after.back());
}

// While the server waits for an answer, a slider's values replace each other, so that however
// many come the mask gets the last; values outside the slider's range never reach it, and a
// modal dialog's ranges do not outlive it.
TEST_F(HxServerTest, SliderValuesCoalesceWhileWaitingAndStayInRange) {
  std::vector<std::string> after;
  long coalesced = -1, refused = -1;
  start([&](PARAM_* p) {
    hxStartDefinition(p, 5);
    hxQSlider(p, 1, 0, 0, 1000, 1, 0, 1);
    hxSetRange(p, 2, -1.5, 1.5, 0.5);
    hxRunModalDialog(
        p, 10, 10,
        [](PARAM_* d) {
          hxStartDefinition(d, 2);
          hxQSlider(d, 1, 0, 0, 5, 1, 0, 1);
          return 0;
        },
        nullptr);
    hxSync(p);
    after = pollAll(p);
    coalesced = p->coalescedEvents;
    refused = p->refusedValues;
    return 0;
  });
  Client c(port());
  std::string flood;
  for (int i = 0; i < 1000; i++)
    flood += "slider(1," + std::to_string(i) + ")\nslider(2,1)\n";
  c.send(flood + "QPushButton(3)\nslider(1,1001)\nslider(2,-3)\nslider(1,999)\n");
  std::string line;
  while ((line = c.line()).compare(0, 5, "sync(") != 0)
    ASSERT_FALSE(line.empty());
  c.send("synced(1)\nslider(2,-3)\nslider(1,700)\nshutup\n");
  close(c.fd);
  c.fd = -1;
  ASSERT_TRUE(eventually([&] { return finished == 1; }));
  // The last value of each slider, in its place among the other events; -3 and 1001 refused
  // before they could replace a value in range.
  EXPECT_EQ((std::vector<std::string>{"slider(2,1)", "QPushButton(3)", "slider(1,999)",
                                      "slider(1,700)", "shutup"}),
            after);
  EXPECT_EQ(1000 + 999, coalesced);
  EXPECT_EQ(3, refused);
}

// A client that says nothing is dropped soon when the server waits for its first answer; one
// that answered and then stops reading is dropped once a send cannot go on.
TEST_F(HxServerTest, SilentAndNonReadingClientsAreDropped) {
  std::atomic<int> step{0};
  std::atomic<long long> tookMs{-1};
  start([&](PARAM_* p) {
    p->firstAnswerMs = 300;
    p->sendTimeoutMs = 500;
    long long t0 = otMonotonicMs();
    int r = hxSync(p);
    if (r < 0) {
      tookMs = otMonotonicMs() - t0;
      return 0;
    }
    step = 1;
    std::string big(65536, 'x');
    t0 = otMonotonicMs();
    while (hxSetText(p, 0, big.c_str()) >= 0) {
    }
    tookMs = otMonotonicMs() - t0;
    return 0;
  });
  {
    Client silent(port());
    ASSERT_TRUE(eventually([&] { return finished == 1; }, 5000));
    EXPECT_GE(tookMs, 250);
    EXPECT_LT(tookMs, 3000);
  }
  tookMs = -1;
  Client stuck(port());
  int small = 4096;
  setsockopt(stuck.fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  ASSERT_EQ("sync(1)\n", stuck.line());
  stuck.send("synced(1)\n");
  ASSERT_TRUE(eventually([&] { return finished == 2; }, 10000));
  EXPECT_EQ(1, step);
  EXPECT_LT(tookMs, 5000);
}

// A server with nothing to say tells the client that it is there.
TEST_F(HxServerTest, AnIdleServerSaysItIsAlive) {
  start(
      [&](PARAM_* p) {
        p->aliveMs = 100;
        pollAll(p);
        return 0;
      },
      100, 30);
  Client c(port());
  EXPECT_EQ("@alive(100)\n", c.line());
  EXPECT_EQ("@alive(100)\n", c.line());
  close(c.fd);
  c.fd = -1;
  ASSERT_TRUE(eventually([&] { return finished == 1; }));
}

TEST_F(HxServerTest, VanishingClientFreesItsThread) {
  start([](PARAM_* p) {
    pollAll(p);
    return 0;
  });
  // Threads of earlier tests (and a sanitizer's helper) may still come and go: start from a
  // count that holds still.
  int before = ottest::threadCount();
  for (int i = 0; i < 100; i++) {
    usleep(20 * 1000);
    int now = ottest::threadCount();
    if (now == before) break;
    before = now;
  }
  {
    Client c(port());
    c.send("QPushButton(1)\n");
    ASSERT_TRUE(eventually([&] { return hxServerClients(server) == 1; }));
    EXPECT_TRUE(eventually([&] { return ottest::threadCount() > before; }));
  }
  ASSERT_TRUE(eventually([&] { return finished == 1 && hxServerClients(server) == 0; }));
  EXPECT_TRUE(eventually([&] { return ottest::threadCount() == before; }));
}

TEST_F(HxServerTest, ClientsAboveTheLimitAreRefused) {
  start(
      [](PARAM_* p) {
        hxStartDefinition(p, 1);
        pollAll(p);
        return 0;
      },
      2);
  Client a(port()), b(port());
  EXPECT_EQ("startDefinition(1)\n", a.line());
  EXPECT_EQ("startDefinition(1)\n", b.line());
  Client refused(port());
  EXPECT_EQ("otserver: too many clients\n", refused.line());
  EXPECT_TRUE(refused.closedByPeer());
}

TEST_F(HxServerTest, FiftyClientsAtOnce) {
  start([](PARAM_* p) {
    std::vector<char> buf(HX_EVENT_BUFSIZE);
    char rest[HX_TEXT_SIZE];
    int id = 0;
    while (hxPollEvent(p, buf.data()) == 0) {
      if (hxParseEvent(buf.data(), &id, rest) == BUTTON_EVENT) hxPrintf(p, 0, "got %d", id);
    }
    return 0;
  });
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < 50; i++)
    clients.emplace_back(new Client(port()));
  for (int i = 0; i < 50; i++)
    clients[i]->send("QPushButton(" + std::to_string(i) + ")\n");
  for (int i = 0; i < 50; i++)
    EXPECT_EQ("setText(0,\"got " + std::to_string(i) + "\")\n", clients[i]->line());
  EXPECT_EQ(50, hxServerClients(server));
}

std::vector<int> visited;

int maskWith(PARAM_* p, int number) {
  visited.push_back(number);
  hxStartDefinition(p, 10);
  std::vector<char> buf(HX_EVENT_BUFSIZE);
  char rest[HX_TEXT_SIZE];
  int id = 0;
  while (hxPollEvent(p, buf.data()) == 0)
    if (hxParseEvent(buf.data(), &id, rest) == BUTTON_EVENT) return id;
  return 0;
}
int mask0(PARAM_* p) {
  return maskWith(p, 0);
}
int mask1(PARAM_* p) {
  return maskWith(p, 1);
}

TEST_F(HxServerTest, RunMasksFollowsTheReturnedNumbers) {
  std::vector<int> ends;
  start([&](PARAM_* p) {
    int (*const masks[])(PARAM_*) = {mask0, mask1, nullptr};
    visited.clear();
    ends.push_back(hxRunMasks(p, masks, 3, 0));  // 0 -> 1 -> 0 -> 7: outside
    ends.push_back(hxRunMasks(p, masks, 3, 2));  // a null entry
    ends.push_back(hxRunMasks(p, masks, 3, 1));  // the client goes away
    return 0;
  });
  Client c(port());
  c.send("QPushButton(1)\nQPushButton(0)\nQPushButton(7)\n");
  for (int i = 0; i < 4; i++)
    EXPECT_EQ("startDefinition(10)\n", c.line());
  close(c.fd);
  c.fd = -1;
  ASSERT_TRUE(eventually([&] { return finished == 1; }));
  EXPECT_EQ((std::vector<int>{0, 1, 0, 1}), visited);
  EXPECT_EQ((std::vector<int>{7, 2, -1}), ends);
}

int modalBody(PARAM_* p) {
  hxStartDefinition(p, 3);
  hxQPushButton(p, 1, 0);
  hxEndDefinition(p);
  std::vector<char> buf(HX_EVENT_BUFSIZE);
  char rest[HX_TEXT_SIZE];
  int id = 0;
  while (hxPollEvent(p, buf.data()) == 0) {
    int kind = hxParseEvent(buf.data(), &id, rest);
    if (kind == QUIET_EVENT) hxUpdateBaseWindow(p);
    if (kind == BUTTON_EVENT && id == 1) hxTerminateModalDialog(p);
  }
  return 42;
}
int updateBase(PARAM_* p) {
  return hxSetText(p, 4, "base");
}

TEST_F(HxServerTest, ModalDialogRunsInTheConnectionThread) {
  int result = -2, modalResult = -2;
  std::string next;
  start(
      [&](PARAM_* p) {
        hxStartDefinition(p, 5);
        result = hxRunModalDialog(p, 300, 200, modalBody, updateBase);
        modalResult = p->modalResult;
        std::vector<char> buf(HX_EVENT_BUFSIZE);
        while (hxPollEvent(p, buf.data()) == 0 && strcmp(buf.data(), "idle") == 0) {
        }
        next = buf.data();
        hxSetText(p, 4, "back");
        pollAll(p);
        return 0;
      },
      100, 20);
  Client c(port());
  for (const char* l : {"startDefinition(5)\n", "modalDialog(300,200)\n", "startDefinition(3)\n",
                        "QPushButton(1,0)\n", "endDefinition()\n", "updateBaseWindow(1)\n",
                        "setText(4,\"base\")\n", "updateBaseWindow(0)\n"})
    EXPECT_EQ(l, c.line());
  c.send("QPushButton(1)\n");
  // Each base update goes to the base mask on the client, between its two switches.
  std::string l;
  while ((l = c.line()) == "updateBaseWindow(1)\n") {
    EXPECT_EQ("setText(4,\"base\")\n", c.line());
    EXPECT_EQ("updateBaseWindow(0)\n", c.line());
  }
  EXPECT_EQ("terminateModalDialog()\n", l);
  c.send("QPushButton(2)\n");
  EXPECT_EQ("setText(4,\"back\")\n", c.line());
  close(c.fd);
  c.fd = -1;
  ASSERT_TRUE(eventually([&] { return finished == 1; }));
  EXPECT_EQ(0, result);
  EXPECT_EQ(42, modalResult);
  EXPECT_EQ("QPushButton(2)", next);
}

TEST_F(HxServerTest, StopEndsConnectedClients) {
  start([](PARAM_* p) {
    hxStartDefinition(p, 1);
    pollAll(p);
    return 0;
  });
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < 3; i++) {
    clients.emplace_back(new Client(port()));
    EXPECT_EQ("startDefinition(1)\n", clients.back()->line());
  }
  hxServerStop(server);
  server = nullptr;
  EXPECT_EQ(3, finished.load());
  for (auto& c : clients)
    EXPECT_TRUE(c->closedByPeer());
}

int idleRun(PARAM_* p) {
  pollAll(p);
  return 0;
}

TEST(HxRunServer, StopsFromAnotherThreadAndFromASignal) {
  for (int viaSignal = 0; viaSignal < 2; viaSignal++) {
    hxServerOptions o;
    o.bindAddress = "127.0.0.1";
    o.port = ottest::freePort();
    o.catchSignals = 1;
    std::atomic<int> result{-2};
    std::thread runner([&] { result = hxRunServer(&o, idleRun, nullptr); });
    std::unique_ptr<Client> c;
    ASSERT_TRUE(eventually([&] {
      c.reset(new Client(o.port));
      return c->fd >= 0;
    }));
    if (viaSignal)
      kill(getpid(), SIGTERM);
    else
      hxStopServer();
    runner.join();
    EXPECT_EQ(0, result.load());
    EXPECT_TRUE(c->closedByPeer());
  }
}

// A program says it is serving from the listening callback: by then a client gets in at once.
std::atomic<int> listeningPort{-1};
std::atomic<int> connectedWhenListening{0};

TEST(HxRunServer, SaysListeningOnlyOnceClientsCanConnect) {
  hxServerOptions o;
  o.bindAddress = "127.0.0.1";
  o.port = 0;
  o.listening = [](int port) {
    Client c(port);
    connectedWhenListening = c.fd >= 0;
    listeningPort = port;
  };
  std::thread runner([&] { hxRunServer(&o, idleRun, nullptr); });
  ASSERT_TRUE(eventually([] { return listeningPort.load() > 0; }));
  EXPECT_EQ(1, connectedWhenListening.load());
  hxStopServer();
  runner.join();
}

TEST(HxParseServerArgs, ReadsTheOptionsAndRefusesBadValues) {
  hxServerOptions o;
  const char* good[] = {"srv", "-port=6000", "-bind=::1", "-maxclients=3", "-poll=250", "other"};
  EXPECT_EQ(0, hxParseServerArgs(6, const_cast<char**>(good), &o));
  EXPECT_EQ(6000, o.port);
  EXPECT_STREQ("::1", o.bindAddress);
  EXPECT_EQ(3, o.maxClients);
  EXPECT_EQ(250, o.pollMs);
  const char* loud[] = {"srv", "-log=debug"};
  const int before = otLogLevel();
  EXPECT_EQ(0, hxParseServerArgs(2, const_cast<char**>(loud), &o));
  EXPECT_EQ(OT_LOG_DEBUG, otLogLevel());
  otSetLogLevel(before);
  for (const char* bad : {"-port=70000", "-port=", "-poll=5x", "-maxclients=-1", "-log=loud"}) {
    const char* argv[] = {"srv", bad};
    EXPECT_EQ(-1, hxParseServerArgs(2, const_cast<char**>(argv), &o)) << bad;
  }
  const char* help[] = {"srv", "-h"};
  o.moreUsage = "  -mine=X        the program's own\n";
  ottest::CaptureStdout out;
  EXPECT_EQ(1, hxParseServerArgs(2, const_cast<char**>(help), &o));
  const std::string text = out.text();
  EXPECT_NE(std::string::npos, text.find("-log=LEVEL")) << text;
  EXPECT_NE(std::string::npos, text.find("  -mine=X        the program's own\n")) << text;
}

}  // namespace
