// Dialogs and global calls against a plain socket as the client: the request lines byte for
// byte, the answers read back (and refused when they do not fit the request), events that come
// meanwhile, uploads that stay out of the event stream, the connection's threads and cleanup,
// the point buffer and the modal dialog's base updates.
#include <math.h>
#include <string.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "hxserver.h"
#include "hxtestutil.h"
#include "testutil.h"

namespace {

using hxtest::Client;
using hxtest::eventually;
using hxtest::HxServerTest;

// One dialog call: the request it must send, what the client answers, what the call returns
// and leaves in its output text.
struct DialogRow {
  const char* what;
  std::function<int(PARAM_*, std::string*)> call;
  std::string request;
  std::string answer;
  int result;
  std::string out;
};

int input(PARAM_* p, std::string* out, int size) {
  std::vector<char> buf((size_t)size + 1, 'x');
  int r = hxInputDialog(p, "Setpoint", "Value \"C\":", "20", buf.data(), size);
  *out = buf.data();
  return r;
}

TEST_F(HxServerTest, DialogsAskAndReturnTheAnswer) {
  std::vector<DialogRow> rows = {
      {"button chosen",
       [](PARAM_* p, std::string*) {
         return hxMessageBox(p, HX_MB_QUESTION, "Quit", "Really \"quit\"?", HX_MB_YES | HX_MB_NO);
       },
       "messageBox(1,3,\"Quit\",\"Really \\\"quit\\\"?\",12)\n", "dialogAnswer(1,4,\"\")\n",
       HX_MB_YES, ""},
      {"no buttons means OK",
       [](PARAM_* p, std::string*) { return hxMessageBox(p, HX_MB_WARNING, "t", "x", 0); },
       "messageBox(2,1,\"t\",\"x\",1)\n", "dialogAnswer(2,-2,\"\")\n", HX_DIALOG_CANCELLED, ""},
      {"a button not offered is refused",
       [](PARAM_* p, std::string*) { return hxMessageBox(p, HX_MB_INFORMATION, "t", "x", 3); },
       "messageBox(3,0,\"t\",\"x\",3)\n", "dialogAnswer(3,4,\"\")\n", -1, ""},
      {"two buttons at once are refused",
       [](PARAM_* p, std::string*) { return hxMessageBox(p, HX_MB_INFORMATION, "t", "x", 3); },
       "messageBox(4,0,\"t\",\"x\",3)\n", "dialogAnswer(4,3,\"\")\n", -1, ""},
      {"input", [](PARAM_* p, std::string* out) { return input(p, out, 16); },
       "inputDialog(5,\"Setpoint\",\"Value \\\"C\\\":\",\"20\",15)\n",
       "dialogAnswer(5,1,\"42,5 \\\"x\\\"\")\n", 8, "42,5 \"x\""},
      {"input that fills the buffer", [](PARAM_* p, std::string* out) { return input(p, out, 5); },
       "inputDialog(6,\"Setpoint\",\"Value \\\"C\\\":\",\"20\",4)\n",
       "dialogAnswer(6,1,\"abcd\")\n", 4, "abcd"},
      {"input that does not fit", [](PARAM_* p, std::string* out) { return input(p, out, 5); },
       "inputDialog(7,\"Setpoint\",\"Value \\\"C\\\":\",\"20\",4)\n",
       "dialogAnswer(7,1,\"abcde\")\n", -1, ""},
      {"input cancelled", [](PARAM_* p, std::string* out) { return input(p, out, 16); },
       "inputDialog(8,\"Setpoint\",\"Value \\\"C\\\":\",\"20\",15)\n", "dialogAnswer(8,-2,\"\")\n",
       HX_DIALOG_CANCELLED, ""},
      {"input of a large buffer is bounded",
       [](PARAM_* p, std::string* out) { return input(p, out, 100000); },
       "inputDialog(9,\"Setpoint\",\"Value \\\"C\\\":\",\"20\",2000)\n", "dialogAnswer(9,1,\"\")\n",
       0, ""},
      {"popup counts entries without separators",
       [](PARAM_* p, std::string*) { return hxPopupMenu(p, "Open,Save,,Quit"); },
       "popupMenu(10,\"Open,Save,,Quit\")\n", "dialogAnswer(10,2,\"Quit\")\n", 2, ""},
      {"popup entry out of range",
       [](PARAM_* p, std::string*) { return hxPopupMenu(p, "Open,Save,,Quit"); },
       "popupMenu(11,\"Open,Save,,Quit\")\n", "dialogAnswer(11,3,\"\")\n", -1, ""},
      {"popup closed", [](PARAM_* p, std::string*) { return hxPopupMenu(p, "One"); },
       "popupMenu(12,\"One\")\n", "dialogAnswer(12,-2,\"\")\n", HX_DIALOG_CANCELLED, ""},
      {"initial mask",
       [](PARAM_* p, std::string* out) {
         char name[16] = "x";
         int r = hxGetInitialMask(p, name, sizeof name);
         *out = name;
         return r;
       },
       "getInitialMask(13)\n", "dialogAnswer(13,0,\"mask3\")\n", 5, "mask3"},
      {"malformed answer",
       [](PARAM_* p, std::string*) { return hxMessageBox(p, HX_MB_CRITICAL, "t", "x", 1); },
       "messageBox(14,2,\"t\",\"x\",1)\n", "dialogAnswer(14,\"1\",\"\")\n", -1, ""},
  };
  std::vector<int> results(rows.size(), 99);
  std::vector<std::string> outs(rows.size());
  std::vector<std::string> events;
  start([&](PARAM_* p) {
    // An operator takes longer than a client's first answer may: the dialog makes the client
    // speak first, and then waits as long as any answer may take.
    p->firstAnswerMs = 100;
    for (size_t i = 0; i < rows.size(); i++)
      results[i] = rows[i].call(p, &outs[i]);
    // Events that came while a dialog waited are the loop's, in their order.
    std::vector<char> buf(HX_EVENT_BUFSIZE);
    while (events.size() < 3 && hxPollEvent(p, buf.data()) == 0)
      if (strcmp(buf.data(), "idle") != 0) events.push_back(buf.data());
    return 0;
  });
  Client c(port());
  EXPECT_EQ("sync(1)\n", c.line());
  c.send("synced(1)\n");
  for (size_t i = 0; i < rows.size(); i++) {
    EXPECT_EQ(rows[i].request, c.line()) << rows[i].what;
    if (i == 0) std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // An event and an answer to another dialog come before the answer.
    if (i == 0) c.send("QPushButton(3)\ndialogAnswer(99,1,\"\")\n");
    if (i == 4) c.send("slider(2,7)\n");
    c.send(rows[i].answer);
  }
  ASSERT_TRUE(eventually([&] { return finished == 1; }));
  for (size_t i = 0; i < rows.size(); i++) {
    EXPECT_EQ(rows[i].result, results[i]) << rows[i].what;
    EXPECT_EQ(rows[i].out, outs[i]) << rows[i].what;
  }
  EXPECT_EQ((std::vector<std::string>{"QPushButton(3)", "dialogAnswer(99,1,\"\")", "slider(2,7)"}),
            events);
}

TEST_F(HxServerTest, DialogArgumentsOutOfRangeSendNothing) {
  std::vector<int> results;
  start([&](PARAM_* p) {
    char text[8], name[8];
    char* data = reinterpret_cast<char*>(1);
    std::string many;
    for (int i = 0; i < HX_MAX_POPUP_ITEMS + 1; i++)
      many += "e,";
    many.pop_back();
    results = {hxMessageBox(p, 4, "t", "x", 1),
               hxMessageBox(p, -1, "t", "x", 1),
               hxMessageBox(p, 0, "t", "x", 128),
               hxMessageBox(p, 0, nullptr, "x", 1),
               hxInputDialog(p, "t", "l", "i", text, 1),
               hxInputDialog(p, "t", "l", nullptr, text, 8),
               hxPopupMenu(p, ",,"),
               hxPopupMenu(p, ""),
               hxPopupMenu(p, many.c_str()),
               hxFileDialog(p, "t", "", name, sizeof name, &data, 0),
               hxFileDialog(p, "t", "", name, sizeof name, &data, HX_MAX_UPLOAD + 1),
               hxFileDialog(p, "t", "", name, 0, &data, 10),
               hxGetInitialMask(p, name, 0),
               hxScreenHint(p, 0, 10),
               hxScreenHint(p, 10, 32768),
               hxClientCommand(p, ""),
               hxHyperlink(p, "file:///etc/passwd"),
               hxHyperlink(p, "javascript:alert(1)"),
               hxHyperlink(p, "https://plant/\nbeep()"),
               hxHyperlink(p, "httpx://plant"),
               hxSendCommand(p, "sync", "i", 7)};
    EXPECT_EQ(nullptr, data);
    return 0;
  });
  Client c(port());
  EXPECT_EQ("sync(7)\n", c.line());
  ASSERT_TRUE(eventually([&] { return finished == 1; }));
  std::vector<int> expected(results.size(), -1);
  expected.back() = 0;
  EXPECT_EQ(expected, results);
}

// A client that does not answer in time: the call gives up, tells the client to close the
// dialog, and the connection goes on; the late answer is an event of kind 0.
TEST_F(HxServerTest, AnUnansweredDialogIsClosedAndTheConnectionGoesOn) {
  int result = 99, kind = 99;
  start([&](PARAM_* p) {
    std::vector<char> buf(HX_EVENT_BUFSIZE);
    while (hxPollEvent(p, buf.data()) == 0 && strcmp(buf.data(), "idle") == 0) {
    }
    p->ioTimeoutMs = 300;
    result = hxMessageBox(p, HX_MB_INFORMATION, "t", "x", HX_MB_OK);
    hxSendCommand(p, "sync", "i", 1);
    while (hxPollEvent(p, buf.data()) == 0 && strcmp(buf.data(), "idle") == 0) {
    }
    int id = 0;
    std::vector<char> rest(HX_TEXT_SIZE);
    kind = hxParseEvent(buf.data(), &id, rest.data());
    return 0;
  });
  Client c(port());
  c.send("QPushButton(1)\n");
  EXPECT_EQ("messageBox(1,0,\"t\",\"x\",1)\n", c.line());
  EXPECT_EQ("closeDialog(1)\n", c.line());
  EXPECT_EQ("sync(1)\n", c.line());
  c.send("dialogAnswer(1,1,\"\")\n");
  ASSERT_TRUE(eventually([&] { return finished == 1; }));
  EXPECT_EQ(-1, result);
  EXPECT_EQ(UNKNOWN_EVENT, kind);
}

// The file the operator picked comes as a block after the server asked for it; its bytes
// never reach the event loop, whatever they hold.
TEST_F(HxServerTest, FileDialogsUploadOnlyWhatWasAskedFor) {
  const std::string file("QPushButton(1)\nshutup\n\0end", 26);
  struct Got {
    int result;
    std::string name, data;
    bool null;
  };
  std::vector<Got> got;
  std::atomic<int> answered{0};
  std::vector<std::string> events;
  start([&](PARAM_* p) {
    for (int i = 0; i < 7; i++) {
      char name[16] = "x";
      char* data = nullptr;
      int r = hxFileDialog(p, "Open table", "Tables (*.csv)", name, sizeof name, &data, 100);
      got.push_back(Got{r, name, data && r > 0 ? std::string(data, (size_t)r) : "", !data});
      answered++;
      free(data);
    }
    std::vector<char> buf(HX_EVENT_BUFSIZE);
    while (hxPollEvent(p, buf.data()) == 0 && strcmp(buf.data(), "shutup") != 0)
      if (strcmp(buf.data(), "idle") != 0) events.push_back(buf.data());
    return 0;
  });
  Client c(port());
  EXPECT_EQ("sync(1)\n", c.line());
  c.send("synced(1)\n");
  // 1: chosen and uploaded.
  EXPECT_EQ("fileDialog(1,\"Open table\",\"Tables (*.csv)\",100)\n", c.line());
  c.send("dialogAnswer(1,26,\"plan.csv\")\n");
  EXPECT_EQ("uploadFile(1)\n", c.line());
  c.send("@upload(1,26)\n" + file);
  // 2: cancelled.
  EXPECT_EQ("fileDialog(2,\"Open table\",\"Tables (*.csv)\",100)\n", c.line());
  c.send("dialogAnswer(2,-2,\"\")\n");
  // 3: larger than the server takes: not asked for.
  EXPECT_EQ("fileDialog(3,\"Open table\",\"Tables (*.csv)\",100)\n", c.line());
  c.send("dialogAnswer(3,101,\"big.csv\")\n");
  EXPECT_EQ("closeDialog(3)\n", c.line());
  // 4: a path instead of a bare name.
  EXPECT_EQ("fileDialog(4,\"Open table\",\"Tables (*.csv)\",100)\n", c.line());
  c.send("dialogAnswer(4,3,\"../etc/x\")\n");
  EXPECT_EQ("closeDialog(4)\n", c.line());
  // 5: the client announces more than allowed: read and dropped, the stream stays in step.
  EXPECT_EQ("fileDialog(5,\"Open table\",\"Tables (*.csv)\",100)\n", c.line());
  c.send("dialogAnswer(5,3,\"a.csv\")\n");
  EXPECT_EQ("uploadFile(5)\n", c.line());
  c.send("@upload(5,200)\n" + std::string(200, '\n'));
  // 6: the file could not be read.
  EXPECT_EQ("fileDialog(6,\"Open table\",\"Tables (*.csv)\",100)\n", c.line());
  c.send("dialogAnswer(6,3,\"gone.csv\")\n");
  EXPECT_EQ("uploadFile(6)\n", c.line());
  c.send("@upload(6,-1)\ncheck(4,\"1\")\n");
  // 7: a name that is no file's.
  EXPECT_EQ("fileDialog(7,\"Open table\",\"Tables (*.csv)\",100)\n", c.line());
  c.send("dialogAnswer(7,3,\"..\")\n");
  EXPECT_EQ("closeDialog(7)\n", c.line());
  ASSERT_TRUE(eventually([&] { return answered == 7; }));
  c.send("shutup\n");
  ASSERT_TRUE(eventually([&] { return finished == 1; }));
  EXPECT_EQ(26, got[0].result);
  EXPECT_EQ("plan.csv", got[0].name);
  EXPECT_EQ(file, got[0].data);
  EXPECT_EQ(HX_DIALOG_CANCELLED, got[1].result);
  for (size_t i = 1; i < 7; i++) {
    if (i > 1) {
      EXPECT_EQ(-1, got[i].result) << i;
    }
    EXPECT_EQ("", got[i].name) << i;
    EXPECT_TRUE(got[i].null) << i;
  }
  EXPECT_EQ((std::vector<std::string>{"check(4,\"1\")"}), events);
}

// An upload that is announced and then does not come leaves the stream position unknown: the
// connection is dropped rather than reading file bytes as events.
TEST_F(HxServerTest, AnUploadThatStopsEndsTheConnection) {
  int result = 99, after = 99;
  start([&](PARAM_* p) {
    p->ioTimeoutMs = 300;
    char name[16];
    char* data = nullptr;
    result = hxFileDialog(p, "t", "", name, sizeof name, &data, 100);
    after = hxShow(p, 1);
    return 0;
  });
  Client c(port());
  EXPECT_EQ("sync(1)\n", c.line());
  c.send("synced(1)\n");
  EXPECT_EQ("fileDialog(1,\"t\",\"\",100)\n", c.line());
  c.send("dialogAnswer(1,50,\"a.bin\")\n");
  EXPECT_EQ("uploadFile(1)\n", c.line());
  c.send("@upload(1,50)\nQPushButton(1)\n");
  ASSERT_TRUE(eventually([&] { return finished == 1; }));
  EXPECT_EQ(-1, result);
  EXPECT_EQ(-1, after);
}

TEST_F(HxServerTest, GlobalRequestsGoOutByteForByte) {
  ottest::TempDir dir;
  std::ofstream(dir.file("report-2024.txt"), std::ios::binary) << "a\nb";
  std::vector<int> results;
  start([&](PARAM_* p) {
    const char* cells[] = {"Tag",   "Value", "Note",      "T1", "20.5", "say \"hi\", twice",
                           nullptr, "1",     "two\nlines"};
    std::string path = dir.file("report-2024.txt");
    results = {hxScreenHint(p, 1280, 1024),
               hxBeep(p),
               hxClientCommand(p, "xterm -e \"top\""),
               hxHyperlink(p, "HTTPS://plant.example/help?page=2"),
               hxDownloadFileAs(p, path.c_str(), "report.txt"),
               hxDownloadFileAs(p, path.c_str(), "../report.txt"),
               hxDownloadFileAs(p, path.c_str(), ".profile"),
               hxDownloadFileAs(p, path.c_str(), "a\\b"),
               hxDownloadFileAs(p, dir.file("missing").c_str(), "m.txt"),
               hxCSVcreate(p, "table.csv", cells, 3, 3),
               hxCSVcreate(p, "empty.csv", nullptr, 0, 5),
               hxCSVcreate(p, "x/table.csv", cells, 1, 1),
               hxCSVcreate(p, "table.csv", nullptr, 1, 1),
               hxUpdateBaseWindowOnOff(p, 1),  // no modal dialog: nothing to switch
               hxSendCommand(p, "sync", "i", 1)};
    return 0;
  });
  Client c(port());
  std::string csv = "Tag,Value,Note\r\nT1,20.5,\"say \"\"hi\"\", twice\"\r\n,1,\"two\nlines\"\r\n";
  std::string expected =
      "screenHint(1280,1024)\nbeep()\nclientCommand(\"xterm -e \\\"top\\\"\")\n"
      "hyperlink(\"HTTPS://plant.example/help?page=2\")\n@download(\"report.txt\",3)\na\nb"
      "@download(\"table.csv\"," +
      std::to_string(csv.size()) + ")\n" + csv + "@download(\"empty.csv\",0)\nsync(1)\n";
  EXPECT_EQ(expected, c.bytes((int)expected.size()));
  ASSERT_TRUE(eventually([&] { return finished == 1; }));
  EXPECT_EQ((std::vector<int>{0, 0, 0, 0, 0, -1, -1, -1, -1, 0, 0, -1, -1, 0, 0}), results);
}

TEST_F(HxServerTest, ThePointBufferFeedsThePlot) {
  std::vector<int> results;
  int count = -1;
  const double* xs = nullptr;
  start([&](PARAM_* p) {
    const double* y = nullptr;
    results = {hxSetXY(p, 0, 1, 1),  // nothing allocated yet
               hxXYAllocate(p, -1),        hxXYAllocate(p, HX_MAX_PLOT_POINTS + 1),
               hxXYAllocate(p, 3),         hxSetXY(p, 0, 0.5, -1),
               hxSetXY(p, 2, 2, 1e20),     hxSetXY(p, 3, 1, 1),
               hxSetXY(p, -1, 1, 1),       hxSetXY(p, 1, NAN, 1),
               hxSetXY(p, 1, 1, INFINITY), hxPlotXY(p, 7, 1),
               hxXYAllocate(p, 0),         hxPlotXY(p, 7, 0)};
    count = hxGetXY(p, &xs, &y);
    return 0;
  });
  Client c(port());
  std::string expected = "plotData(7,1,3)\n0.5,-1\n0,0\n2,1e+20\nplotData(7,0,0)\n";
  EXPECT_EQ(expected, c.bytes((int)expected.size()));
  ASSERT_TRUE(eventually([&] { return finished == 1; }));
  EXPECT_EQ((std::vector<int>{-1, -1, -1, 0, 0, 0, -1, -1, -1, -1, 0, 0, 0}), results);
  EXPECT_EQ(0, count);
  EXPECT_EQ(nullptr, xs);
}

// The base mask's update inside a modal dialog goes to the base mask on the client and is
// checked against the base mask's ids; the dialog gets its commands back after it.
TEST_F(HxServerTest, BaseUpdatesInsideAModalDialogNameTheBaseMask) {
  struct Ids {
    int inside, outside, dialog;
  };
  static Ids ids;
  ids = {99, 99, 99};
  std::vector<int> results;
  start([&](PARAM_* p) {
    hxStartDefinition(p, 10);
    hxEndDefinition(p);
    auto modal = [](PARAM_* q) -> int {
      hxStartDefinition(q, 3);
      hxEndDefinition(q);
      hxUpdateBaseWindow(q);
      ids.outside = hxSetText(q, 7, "dialog has no id 7");
      ids.dialog = hxSetText(q, 2, "dialog");
      hxUpdateBaseWindowOnOff(q, 1);
      hxUpdateBaseWindowOnOff(q, 1);  // already on: nothing more
      hxSetText(q, 8, "by hand");
      hxUpdateBaseWindowOnOff(q, 0);
      return 5;
    };
    auto update = [](PARAM_* q) -> int {
      ids.inside = hxSetText(q, 7, "base");
      return 0;
    };
    results.push_back(hxRunModalDialog(p, 300, 200, modal, update));
    results.push_back(p->modalResult);
    results.push_back(hxUpdateBaseWindow(p));  // no dialog: nothing
    results.push_back(hxSendCommand(p, "sync", "i", 1));
    return 0;
  });
  Client c(port());
  std::string expected =
      "startDefinition(10)\nendDefinition()\nmodalDialog(300,200)\nstartDefinition(3)\n"
      "endDefinition()\nupdateBaseWindow(1)\nsetText(7,\"base\")\nupdateBaseWindow(0)\n"
      "setText(2,\"dialog\")\nupdateBaseWindow(1)\nsetText(8,\"by hand\")\n"
      "updateBaseWindow(0)\nterminateModalDialog()\nsync(1)\n";
  EXPECT_EQ(expected, c.bytes((int)expected.size()));
  ASSERT_TRUE(eventually([&] { return finished == 1; }));
  EXPECT_EQ(0, ids.inside);
  EXPECT_EQ(-1, ids.outside);
  EXPECT_EQ(0, ids.dialog);
  EXPECT_EQ((std::vector<int>{0, 5, 0, 0}), results);
}

// Script dialogs get their data, nested ones their own.
TEST_F(HxServerTest, ScriptDialogsGetTheirData) {
  static std::vector<std::string> seen;
  seen.clear();
  start([&](PARAM_* p) {
    hxStartDefinition(p, 4);
    std::string outer = "outer", inner = "inner";
    auto update = [](PARAM_*, void* d) -> int {
      seen.push_back("update " + *static_cast<std::string*>(d));
      return 0;
    };
    auto innerModal = [](PARAM_* q, void* d) -> int {
      seen.push_back("modal " + *static_cast<std::string*>(d));
      hxUpdateBaseWindow(q);
      return 2;
    };
    struct Outer {
      std::string* name;
      std::string* inner;
      int (*innerModal)(PARAM_*, void*);
      int (*update)(PARAM_*, void*);
    } o{&outer, &inner, innerModal, update};
    auto outerModal = [](PARAM_* q, void* d) -> int {
      Outer* self = static_cast<Outer*>(d);
      seen.push_back("modal " + *self->name);
      hxRunModalDialogScript(q, 10, 10, self->innerModal, self->update, self->inner);
      seen.push_back("result " + std::to_string(q->modalResult));
      return 1;
    };
    hxRunModalDialogScript(p, 20, 20, outerModal, nullptr, &o);
    seen.push_back("result " + std::to_string(p->modalResult));
    EXPECT_EQ(-1, hxRunModalDialogScript(p, 20, 20, nullptr, nullptr, nullptr));
    return 0;
  });
  Client c(port());
  ASSERT_TRUE(eventually([&] { return finished == 1; }));
  EXPECT_EQ((std::vector<std::string>{"modal outer", "modal inner", "update inner", "result 2",
                                      "result 1"}),
            seen);
}

// The connection's threads send while its own thread reads; when the connection ends they see
// their calls fail, and the cleanup runs after the last of them has returned.
TEST_F(HxServerTest, ThreadsEndBeforeTheCleanupRuns) {
  static std::mutex m;
  static std::vector<std::string> order;
  static std::atomic<int> sent;
  order.clear();
  sent = 0;
  int limit = 0;
  start([&](PARAM_* p) {
    auto helper = [](PARAM_* q, void*) -> int {
      while (hxShow(q, 1) == 0) {
        sent++;
        hxSleep(2);
      }
      std::lock_guard<std::mutex> hold(m);
      order.push_back("thread");
      return 0;
    };
    auto cleanup = [](PARAM_*, void* d) -> int {
      std::lock_guard<std::mutex> hold(m);
      order.push_back(static_cast<const char*>(d));
      return 0;
    };
    // Threads that have ended give their places back.
    static std::atomic<int> quickRuns;
    quickRuns = 0;
    auto quick = [](PARAM_*, void*) -> int {
      quickRuns++;
      return 0;
    };
    for (int i = 0; i < 3 * HX_MAX_THREADS; i++) {
      if (hxCreateThread(p, quick, nullptr) == 0) limit++;
      while (quickRuns < limit)
        hxSleep(1);
    }
    EXPECT_EQ(0, hxCreateThread(p, helper, nullptr));
    EXPECT_EQ(0, hxCreateThread(p, helper, nullptr));
    EXPECT_EQ(-1, hxCreateThread(p, nullptr, nullptr));
    EXPECT_EQ(0, hxSetCleanup(p, cleanup, (void*)"replaced"));
    EXPECT_EQ(0, hxSetCleanup(p, cleanup, (void*)"cleanup"));
    char buf[HX_EVENT_BUFSIZE];
    EXPECT_EQ(-1, hxGetEvent(p, buf));  // waits through idle events until the client leaves
    return 0;
  });
  {
    Client c(port());
    ASSERT_TRUE(eventually([&] { return sent > 20; }));
    EXPECT_EQ("show(1)\n", c.line());
  }
  ASSERT_TRUE(eventually([&] { return finished == 1; }));
  ASSERT_TRUE(eventually([&] {
    std::lock_guard<std::mutex> hold(m);
    return order.size() == 3;
  }));
  EXPECT_EQ((std::vector<std::string>{"thread", "thread", "cleanup"}), order);
  EXPECT_EQ(3 * HX_MAX_THREADS, limit);
}

TEST_F(HxServerTest, AThreadLimitHolds) {
  int made = 0;
  start([&](PARAM_* p) {
    auto wait = [](PARAM_* q, void*) -> int {
      while (!q->stop.load())
        hxSleep(5);
      return 0;
    };
    for (int i = 0; i < HX_MAX_THREADS + 3; i++)
      if (hxCreateThread(p, wait, nullptr) == 0) made++;
    return 0;
  });
  Client c(port());
  ASSERT_TRUE(eventually([&] { return finished == 1; }));
  EXPECT_EQ(HX_MAX_THREADS, made);
}

TEST_F(HxServerTest, ThreadFatalEndsOnlyItsConnection) {
  std::vector<int> results;
  start([&](PARAM_* p) {
    if (results.empty()) {
      results.push_back(hxWarning(p, "low on paper"));
      results.push_back(hxThreadFatal(p, "database gone"));
      results.push_back(hxShow(p, 1));
      return 0;
    }
    results.push_back(hxShow(p, 2));
    return 0;
  });
  {
    Client c(port());
    ASSERT_TRUE(eventually([&] { return finished == 1; }));
  }
  Client second(port());
  EXPECT_EQ("show(2)\n", second.line());
  ASSERT_TRUE(eventually([&] { return finished == 2; }));
  EXPECT_EQ((std::vector<int>{0, -1, -1, 0}), results);
}

TEST(HxGlobal, InitAndMain) {
  hxServerOptions o;
  o.port = 1;
  o.pollMs = 7;
  EXPECT_EQ(0, hxInitInternal(&o));
  EXPECT_EQ(5050, o.port);
  EXPECT_EQ(100, o.pollMs);
  EXPECT_EQ(-1, hxInitInternal(nullptr));
  const char* args[] = {"server", "-port=6000", "-poll=20"};
  o.maxClients = 3;
  EXPECT_EQ(0, hxInit(3, const_cast<char**>(args), &o));
  EXPECT_EQ(6000, o.port);
  EXPECT_EQ(20, o.pollMs);
  EXPECT_EQ(100, o.maxClients);  // the defaults first
  const char* bad[] = {"server", "-port=70000"};
  EXPECT_EQ(-1, hxInit(2, const_cast<char**>(bad), &o));
  auto run = [](PARAM_*) { return 0; };
  EXPECT_EQ(-1, hxMain(2, const_cast<char**>(bad), run, nullptr));
  const char* help[] = {"server", "-h"};
  EXPECT_EQ(0, hxMain(2, const_cast<char**>(help), run, nullptr));

  // hxAccept is the library's accept loop.
  hxServerOptions local;
  local.bindAddress = "127.0.0.1";
  local.port = 0;
  hxServer* s = hxAccept(
      &local, [](PARAM_* p) { return hxBeep(p); }, nullptr);
  ASSERT_NE(nullptr, s);
  {
    Client c(hxServerPort(s));
    EXPECT_EQ("beep()\n", c.line());
  }
  hxServerStop(s);
  EXPECT_EQ(0, hxSleep(-5));
}

TEST(HxGlobalDeathTest, MainFatalEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(hxMainFatal(nullptr, "no configuration"), ::testing::ExitedWithCode(1), "");
}

}  // namespace
