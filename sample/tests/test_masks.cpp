// The sample masks against a fake display client on loopback: what each sends, what it prints,
// when it returns and with which number; and the sample data that otsample_mkdata made.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hxglencode.h"
#include "hxtestutil.h"
#include "sample.h"
#include "testutil.h"

namespace {

using hxtest::eventually;

bool startsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

// A server whose connection runs body and keeps its result.
class Served {
 public:
  explicit Served(std::function<int(PARAM_*)> body, int pollMs = 60000) : body_(std::move(body)) {
    hxServerOptions o;
    o.bindAddress = "127.0.0.1";
    o.port = 0;
    o.pollMs = pollMs;
    server_ = hxServerStart(&o, run, this);
  }
  ~Served() {
    if (server_ != nullptr) hxServerStop(server_);
  }
  Served(const Served&) = delete;
  Served& operator=(const Served&) = delete;

  int port() const { return hxServerPort(server_); }
  bool done() const { return finished_.load() != 0; }
  int result() const { return result_.load(); }

 private:
  static int run(PARAM_* p) {
    Served* s = static_cast<Served*>(p->user);
    p->ioTimeoutMs = 10000;
    s->result_ = s->body_(p);
    s->finished_ = 1;
    return 0;
  }
  std::function<int(PARAM_*)> body_;
  hxServer* server_ = nullptr;
  std::atomic<int> result_{-100}, finished_{0};
};

// The display client: reads the server's lines, takes in downloads and GL blocks, and answers
// what a GL widget answers (list names from 100 up, the acknowledgement of each GL block).
struct Peer {
  explicit Peer(int port) : c(port) {}

  std::string next() {
    std::string l = c.line();
    if (l.empty()) return l;
    lines.push_back(l);
    char name[256];
    int n = 0;
    if (sscanf(l.c_str(), "@download(\"%255[^\"]\",%d)", name, &n) == 2) {
      downloads[name] = c.bytes(n);
    } else if (sscanf(l.c_str(), "glbytes(%d)", &n) == 1) {
      c.bytes(n);
    } else if (sscanf(l.c_str(), "glGenLists(%d)", &n) == 1) {
      c.send("gllongresponse(" + std::to_string(nextList) + ");\n");
      nextList += n;
    } else if (l == "hxGlEnd()\n") {
      c.send("hxGlEnd();\n");
    }
    return l;
  }
  // Reads up to and including the next line that begins with prefix; false on time-out or
  // close. The lines read are in the returned block when one is asked for.
  bool until(const std::string& prefix, std::vector<std::string>* block = nullptr) {
    for (;;) {
      std::string l = next();
      if (l.empty()) return false;
      if (block != nullptr) block->push_back(l);
      if (startsWith(l, prefix)) return true;
    }
  }
  // Reads until the server closes the connection.
  void drain() {
    while (!next().empty()) {
    }
  }
  void send(const std::string& s) { c.send(s); }

  hxtest::Client c;
  std::vector<std::string> lines;
  std::map<std::string, std::string> downloads;
  int nextList = 100;
};

int count(const std::vector<std::string>& lines, const std::string& prefix) {
  int n = 0;
  for (const auto& l : lines)
    n += startsWith(l, prefix) ? 1 : 0;
  return n;
}

class MaskTest : public ::testing::Test {
 protected:
  void SetUp() override { sampleSettings.dataDir = OTSAMPLE_DATA_DIR; }
  void TearDown() override { sampleSettings.dataDir = OTSAMPLE_DATA_DIR; }
  static std::string data(const char* name) {
    return ottest::readFile(std::string(OTSAMPLE_DATA_DIR) + "/" + name);
  }
};

// ---- Navigation -----------------------------------------------------------------------------

struct NavRow {
  const char* mask;
  int (*show)(PARAM_*);
  const char* others;   // events that must keep the mask in its loop
  const char* printed;  // what they print, in order
  int button;
  int returns;
};

void PrintTo(const NavRow& row, std::ostream* os) {
  *os << row.mask;
}

class Navigation : public MaskTest, public ::testing::WithParamInterface<NavRow> {};

TEST_P(Navigation, OtherEventsKeepTheMaskAndItsButtonReturnsItsNumber) {
  const NavRow& row = GetParam();
  ottest::CaptureStdout out;
  Served s(row.show);
  Peer peer(s.port());
  ASSERT_TRUE(peer.until("endDefinition()"));
  peer.send(std::string(row.others) + "QPushButton(" + std::to_string(row.button) + ")\n");
  peer.drain();
  ASSERT_TRUE(eventually([&] { return s.done(); }));
  EXPECT_EQ(row.returns, s.result());
  std::string printed = out.text();
  EXPECT_NE(std::string::npos, printed.find(row.printed)) << printed;
  EXPECT_NE(std::string::npos, printed.find("BUTTON_EVENT id=" + std::to_string(row.button)));
}

const NavRow kNavRows[] = {
    {"mask2_1", show_mask2, "QPushButton(7)\ntext(4,\"x\")\n",
     "BUTTON_EVENT id=7\nTEXT_EVENT id=4 x\n", 1, 1},
    {"mask2_2", show_mask2, "QPushButton(5)\n", "BUTTON_EVENT id=5\n", 2, 2},
    {"mask2_3", show_mask2, "slider(3,4)\n", "SLIDER_EVENT val=4\n", 3, 3},
    {"mask3_1", show_mask3, "QPushButton(3)\nQPushButton(13)\n",
     "BUTTON_EVENT id=3\nBUTTON_EVENT id=13\nBUTTON_EVENT done\n", 1, 1},
    {"mask3_2", show_mask3, "text(14,\"two\")\n", "TEXT_EVENT id=14 two\n", 2, 2},
    {"mask4_1", show_mask4, "radio(6,\"1\")\ncheck(8,\"0\")\nQPushButton(4)\n",
     "RADIOBUTTON_EVENT id=6 1\nCHECKBOX_EVENT id=8 0\nBUTTON_EVENT id=4\n", 1, 1},
    {"mask4_2", show_mask4, "slider(10,5)\n", "SLIDER_EVENT val=5\ndval=0.100000\n", 2, 2},
    {"mask4_3", show_mask4, "check(9,\"1\")\n", "CHECKBOX_EVENT id=9 1\n", 3, 3},
    {"vtk_back", show_maskvtk, "QPushButton(2)\ntab(2,1)\nslider(10,70)\n",
     "BUTTON_EVENT id=2\nTAB_EVENT(2,page=1)\nSLIDER_EVENT val=70\n", 1, 1},
};
INSTANTIATE_TEST_SUITE_P(Masks, Navigation, ::testing::ValuesIn(kNavRows),
                         [](const ::testing::TestParamInfo<NavRow>& i) { return i.param.mask; });

// ---- Mask 2 -----------------------------------------------------------------------------------

TEST_F(MaskTest, Mask2PrintsEveryEventKindInItsFormat) {
  const struct {
    const char* sent;
    const char* printed;
  } rows[] = {
      {"QPushButton(7)\n", "BUTTON_EVENT id=7\n"},
      {"text(4,\"a \\\"b\\\"\")\n", "TEXT_EVENT id=4 a \"b\"\n"},
      {"slider(3,42)\n", "SLIDER_EVENT val=42\n"},
      {"check(3,\"1\")\n", "CHECKBOX_EVENT id=3 1\n"},
      {"radio(3,\"0\")\n", "RADIOBUTTON_EVENT id=3 0\n"},
      {"glPaint(5)\n", "you have to call paintGL()\n"},
      {"glInitialize(5)\n", "you have to call initializeGL()\n"},
      {"resizeGL(5,10,20)\n", "you have to call resizeGL(w,h)\n"},
      {"tab(2,3)\n", "TAB_EVENT(2,page=3)\n"},
      {"tableClicked(2,4,5,1)\n", "TABLE_CLICKED_EVENT(4,5,button=1)\n"},
      {"tableText(2,1,2,\"cell\")\n", "TABLE_TEXT_EVENT(1,2,\"cell\")\n"},
      {"selection(2,3,\"item\")\n", "SELECTION_EVENT(column=3,\"item\")\n"},
      {"@clipboard(2,5)\nhello", "CLIPBOARD_EVENT(id=2)\nclipboard = \nhello\n"},
      {"QPushButtonPressed(7)\n", "BUTTON_PRESSED_EVENT id=7\n"},
      {"QPushButtonReleased(7)\n", "BUTTON_RELEASED_EVENT id=7\n"},
      {"QMouseRight(5)\n", "RIGHT_MOUSE_EVENT id=5\n"},
      {"key(2,65)\n", "KEYBOARD_EVENT modifier=2 key=65\n"},
      {"mouseEnterLeave(5,1)\n", "UNKNOWN_EVENT id=5 (1)\n"},
  };
  std::string expected;
  ottest::CaptureStdout out;
  {
    Served s(show_mask2);
    Peer peer(s.port());
    ASSERT_TRUE(peer.until("endDefinition()"));
    for (const auto& r : rows) {
      peer.send(r.sent);
      expected += r.printed;
    }
    peer.send("QPushButton(1)\n");
    expected += "BUTTON_EVENT id=1\n";
    peer.drain();
    ASSERT_TRUE(eventually([&] { return s.done(); }));
    EXPECT_EQ(1, s.result());
  }
  EXPECT_EQ(expected, out.text());
}

TEST_F(MaskTest, Mask2ShowsTheCasterWithTheCounterClimbingIt) {
  Served s(show_mask2);
  Peer peer(s.port());
  std::vector<std::string> def;
  ASSERT_TRUE(peer.until("endDefinition()", &def));
  int w = 0, h = 0, channels = 0;
  std::string caster = std::string(OTSAMPLE_DATA_DIR) + "/caster.bmp";
  unsigned char* px = hxcImageRead(caster.c_str(), &w, &h, &channels);
  ASSERT_NE(nullptr, px);
  hxcImageFree(px);
  // The picture at its own size, the red label right of it, label and button inside it.
  for (const std::string& l :
       {std::string("QImage(5,0,\"caster.bmp\")\n"),
        "setGeometry(5,100,0," + std::to_string(w) + "," + std::to_string(h) + ")\n",
        "setGeometry(8," + std::to_string(100 + w) + ",0,100,20)\n",
        std::string("setBackgroundColor(8,255,0,0)\n"), std::string("QLabel(6,5)\n"),
        std::string("QPushButton(7,5)\n"), std::string("setGeometry(7,350,430,60,30)\n")})
    EXPECT_EQ(1, count(def, l)) << l;
  EXPECT_EQ(data("caster.bmp"), peer.downloads["caster.bmp"]);
  ASSERT_TRUE(peer.until("playSound(\"k3b_success1.wav\")"));
  EXPECT_EQ(data("k3b_success1.wav"), peer.downloads["k3b_success1.wav"]);

  // Every pass moves the counter one pixel up; after 99 it starts at the bottom again.
  std::vector<std::string> pass;
  ASSERT_TRUE(peer.until("setText(8,", &pass));
  EXPECT_EQ((std::vector<std::string>{"move(6,350,399)\n", "setText(6,\"Cnt: 1\")\n",
                                      "setText(8,\" T = 1121 degC\")\n"}),
            pass);
  std::string events;
  for (int k = 0; k < 99; k++)
    events += "QMouseRight(5)\n";
  peer.send(events);
  for (int k = 2; k <= 100; k++) {
    pass.clear();
    ASSERT_TRUE(peer.until("setText(8,", &pass));
  }
  EXPECT_EQ((std::vector<std::string>{"move(6,350,400)\n", "setText(6,\"Cnt: 0\")\n",
                                      "setText(8,\" T = 1120 degC\")\n"}),
            pass);
  EXPECT_EQ(1, count(peer.lines, "setText(6,\"Cnt: 99\")"));
}

// ---- The modal dialog -------------------------------------------------------------------------

TEST_F(MaskTest, ModalDialogKeepsTheBaseMaskGoingAndEndsOnItsButton) {
  ottest::CaptureStdout out;
  Served s(show_mask2, 20);
  Peer peer(s.port());
  ASSERT_TRUE(peer.until("endDefinition()"));
  peer.send("QPushButton(9)\n");
  std::vector<std::string> dialog;
  ASSERT_TRUE(peer.until("modalDialog(", &dialog));
  dialog.clear();
  ASSERT_TRUE(peer.until("endDefinition()", &dialog));
  EXPECT_EQ("startDefinition(3)\n", dialog.front());
  EXPECT_EQ(1, count(dialog, "setText(1,\"PushButton1\")"));
  EXPECT_EQ(1, count(dialog, "setText(2,\"This is a modal<br>Dialog Box\")"));
  EXPECT_EQ(1, count(dialog, "setFont(2,\"Times New Roman\",24,0,0)"));
  // Idle events refresh the base mask's labels behind the dialog.
  ASSERT_TRUE(peer.until("setText(8,"));
  ASSERT_TRUE(peer.until("setText(8,"));
  // Events that are not its button, a key without modifier among them, leave it open.
  peer.send("QPushButton(2)\nkey(0,65)\nQPushButton(1)\n");
  std::vector<std::string> rest;
  ASSERT_TRUE(peer.until("terminateModalDialog()", &rest));
  // The base mask is back: its own button 2 now returns from it.
  peer.send("QPushButton(2)\n");
  peer.drain();
  ASSERT_TRUE(eventually([&] { return s.done(); }));
  EXPECT_EQ(2, s.result());
  EXPECT_EQ(1, count(peer.lines, "terminateModalDialog()"));
  EXPECT_NE(std::string::npos,
            out.text().find("BUTTON_EVENT id=9\nBUTTON_EVENT id=2\nKEYBOARD_EVENT modifier=0 "
                            "key=65\nBUTTON_EVENT id=1\nBUTTON_EVENT id=2\n"));
}

TEST_F(MaskTest, ModalDialogReturnsMinusOneOnItsOwnId) {
  std::atomic<int> modal{-100};
  Served s([&](PARAM_* p) {
    hxStartDefinition(p, 4);
    hxEndDefinition(p);
    int r = hxRunModalDialog(p, 320, 200, show_modal1, nullptr);
    modal = p->modalResult;
    return r;
  });
  Peer peer(s.port());
  ASSERT_TRUE(peer.until("modalDialog(320,200)"));
  ASSERT_TRUE(peer.until("endDefinition()"));
  peer.send("QPushButton(0)\n");
  ASSERT_TRUE(peer.until("terminateModalDialog()"));  // the library closes it for the dialog
  peer.drain();
  ASSERT_TRUE(eventually([&] { return s.done(); }));
  EXPECT_EQ(-1, modal.load());
  EXPECT_EQ(0, s.result());
}

// ---- Mask 3 -----------------------------------------------------------------------------------

TEST_F(MaskTest, Mask3AnimatesAndChangesItsNumbersAndPictureEveryEighthPass) {
  Served s(show_mask3, 1);
  Peer peer(s.port());
  std::vector<std::string> def;
  ASSERT_TRUE(peer.until("endDefinition()", &def));
  for (const char* l :
       {"QImage(5,0,\"homer.bmp\")\n", "setGeometry(5,110,0,200,160)\n", "QLCDNumber(6,0,5,0,0)\n",
        "QLCDNumber(7,0,5,1,1)\n", "QLCDNumber(8,0,5,1,2)\n", "QDraw(11,9)\n",
        "QPushButton(13,11)\n", "setBackgroundColor(12,128,128,128)\n", "addItem(14,\"fife\")\n",
        "addItem(15,\"fife test\")\n", "resize(0,1280,1024)\n"})
    EXPECT_EQ(1, count(def, l)) << l;
  for (const char* f : {"homer.bmp.orig", "homer.bmp.transp", "homer2.bmp", "homer.bmp"})
    EXPECT_EQ(data(f), peer.downloads[f]) << f;

  std::vector<std::string> run;
  for (int k = 0; k < 3; k++)
    ASSERT_TRUE(peer.until("setImage(5,", &run));
  std::vector<std::string> images;
  std::vector<int> passesBetween;
  int passes = 0;
  for (const auto& l : run) {
    passes += startsWith(l, "gbeginDraw(12)") ? 1 : 0;
    if (!startsWith(l, "setImage(5,")) continue;
    images.push_back(l);
    passesBetween.push_back(passes);
    passes = 0;
  }
  EXPECT_EQ(
      (std::vector<std::string>{"setImage(5,\"homer.bmp.orig\")\n", "setImage(5,\"homer2.bmp\")\n",
                                "setImage(5,\"homer.bmp.transp\")\n"}),
      images);
  EXPECT_EQ((std::vector<int>{1, 8, 8}), passesBetween);
  for (const char* l :
       {"displayNum(6,1)\n", "displayNum(6,2)\n", "displayFloat(7,0.2)\n", "displayStr(8,\"A3\")\n",
        "#This is a comment in the metafile\n", "gtext(50,290,0,\"Date: 19-NOV-2000\")\n"})
    EXPECT_LE(1, count(run, l)) << l;

  // Button 3 sends the first picture again; button 13 prints the small drawing.
  peer.send("QPushButton(3)\nQPushButton(13)\nQPushButton(1)\n");
  peer.drain();
  ASSERT_TRUE(eventually([&] { return s.done(); }));
  EXPECT_EQ(1, s.result());
  EXPECT_EQ(2, count(peer.lines, "@download(\"homer.bmp.orig\""));
  EXPECT_EQ(1, count(peer.lines, "print(11)"));
}

TEST_F(MaskTest, Mask3KeepsQuietAboutTheSizeOfItsDrawings) {
  ottest::CaptureStdout out;
  {
    Served s(show_mask3, 1);
    Peer peer(s.port());
    ASSERT_TRUE(peer.until("endDefinition()"));
    for (int k = 0; k < 50; k++)
      peer.send("resizeGL(11,200,150)\nresizeGL(12,400,300)\n");
    peer.send("resizeGL(5,1,1)\nQPushButton(1)\n");  // 5 is no drawing
    peer.drain();
    ASSERT_TRUE(eventually([&] { return s.done(); }));
  }
  EXPECT_EQ(out.text(), "you have to call resizeGL(w,h)\nBUTTON_EVENT id=1\n");
}

TEST_F(MaskTest, Mask3PlacesThePictureOnlyWithAPositiveSize) {
  ottest::TempDir dir;
  sampleSettings.dataDir = dir.path().c_str();
  const struct {
    const char* what;
    std::string homer;  // "" : no file
  } rows[] = {
      {"no file", ""},
      {"zero width", std::string("BM") + std::string(8, '\0') +
                         std::string("\x36\0\0\0(\0\0\0", 8) + std::string(4, '\0') +
                         std::string("\x10\0\0\0\1\0\x18\0", 8) + std::string(24, '\0')},
  };
  for (const auto& r : rows) {
    remove(dir.file("homer.bmp").c_str());
    if (!r.homer.empty()) ottest::writeFile(dir.file("homer.bmp"), r.homer);
    Served s(show_mask3, 1);
    Peer peer(s.port());
    std::vector<std::string> shown;
    ASSERT_TRUE(peer.until("endDefinition()", &shown)) << r.what;
    for (int k = 0; k < 20; k++)
      ASSERT_TRUE(peer.until("gendDraw", &shown)) << r.what;
    EXPECT_EQ(0, count(shown, "QImage(5,")) << r.what;
    EXPECT_EQ(0, count(shown, "setGeometry(5,")) << r.what;
    EXPECT_EQ(0, count(shown, "setImage(5,")) << r.what;
    EXPECT_LE(1, count(shown, "displayNum(6,2)")) << r.what;  // the rest goes on
  }
}

// ---- Mask 4 -----------------------------------------------------------------------------------

// Reads the next GL block; its lines.
std::vector<std::string> glBlock(Peer& peer) {
  std::vector<std::string> block;
  if (!peer.until("hxGlBegin(4)") || !peer.until("hxGlEnd()", &block)) block.clear();
  return block;
}

TEST_F(MaskTest, Mask4SendsItsListsOnceTheWidgetIsThereAndTurnsOnIdle) {
  std::string recorded = data("out.txt");
  int lists = 0;
  for (size_t at = 0; (at = recorded.find("glNewList(", at)) != std::string::npos; at++)
    lists++;
  ASSERT_LT(0, lists);

  ottest::CaptureStdout out;
  Served s(show_mask4);
  Peer peer(s.port());
  std::vector<std::string> def;
  ASSERT_TRUE(peer.until("endDefinition()", &def));
  EXPECT_EQ(0, count(def, "hxGlBegin("));  // no context on the client yet
  EXPECT_EQ(1, count(def, "setChecked(9,1)"));
  EXPECT_EQ(1, count(def, "QSlider(12,0,10,500,1,250,2)"));

  peer.send("resizeGL(4,320,240)\n");
  std::vector<std::string> init = glBlock(peer);
  for (const char* l : {"glEnable(2896);\n", "glEnable(2929);\n", "glShadeModel(7425);\n",
                        "glViewport(0,0,320,240);\n"})
    EXPECT_LE(1, count(init, l)) << l;
  EXPECT_EQ(lists, count(init, "glGenLists(1);"));
  EXPECT_EQ(lists, count(init, "glEndList();"));
  EXPECT_LT(0, count(init, "glVertex3f("));  // the cell's label, drawn with the stroke font

  std::vector<std::string> frame = glBlock(peer);
  EXPECT_EQ(1, count(frame, "glFrustum(-0.133333,0.133333,-0.100000,0.100000,0.100000,5.000000);"));
  for (int k = 0; k < lists; k++)
    EXPECT_EQ(1, count(frame, "glCallList(" + std::to_string(100 + k) + ");")) << k;

  // One degree about each axis per idle event, back to 0 after 359.
  peer.send("glIdle(4)\n");
  EXPECT_EQ(1, count(glBlock(peer), "glRotatef(1.000000,1.000000,0.000000,0.000000);"));
  // (in batches: events that come while a block waits for its acknowledgement are queued,
  // and the queue is bounded)
  for (int sent = 0; sent < 357; sent += 51) {
    std::string idles;
    for (int k = 0; k < 51; k++)
      idles += "glIdle(4)\n";
    peer.send(idles);
    for (int k = 0; k < 51; k++)
      ASSERT_FALSE(glBlock(peer).empty());
  }
  peer.send("glIdle(4)\n");
  EXPECT_EQ(1, count(glBlock(peer), "glRotatef(359.000000,0.000000,1.000000,0.000000);"));
  peer.send("glIdle(4)\n");
  EXPECT_EQ(1, count(glBlock(peer), "glRotatef(0.000000,0.000000,0.000000,1.000000);"));

  // Sliders: the far plane, the near plane; a far plane not beyond the near one is moved just
  // beyond it, and a value below the sliders' ranges changes nothing (it is refused).
  peer.send("slider(12,100)\n");
  EXPECT_EQ(1, count(glBlock(peer),
                     "glFrustum(-0.133333,0.133333,-0.100000,0.100000,0.100000,"
                     "2.000000);"));
  peer.send("slider(11,10)\nslider(12,10)\n");
  glBlock(peer);
  EXPECT_EQ(1, count(glBlock(peer),
                     "glFrustum(-0.133333,0.133333,-0.100000,0.100000,0.200000,"
                     "0.202000);"));
  peer.send("slider(10,0)\nslider(10,10)\n");
  EXPECT_EQ(1, count(glBlock(peer),
                     "glFrustum(-0.266667,0.266667,-0.200000,0.200000,0.200000,"
                     "0.202000);"));

  // A new context gets the lists anew, the old names deleted first.
  peer.send("glInitialize(4)\n");
  std::vector<std::string> again = glBlock(peer);
  EXPECT_EQ(1, count(again, "glDeleteLists(100,1);"));
  EXPECT_EQ(lists, count(again, "glGenLists(1);"));
  EXPECT_EQ(1, count(glBlock(peer), "glCallList(" + std::to_string(100 + lists) + ");"));

  peer.send("QPushButton(3)\n");
  peer.drain();
  ASSERT_TRUE(eventually([&] { return s.done(); }));
  EXPECT_EQ(3, s.result());
  std::string printed = out.text();
  std::string n = "num_listarray=" + std::to_string(lists) + "\n";
  size_t first = printed.find(n);
  ASSERT_NE(std::string::npos, first);  // once per context
  EXPECT_NE(first, printed.rfind(n));
  EXPECT_NE(std::string::npos, printed.find("SLIDER_EVENT val=100\ndval=2.000000\n"));
  // A value outside the slider's range never reaches the mask.
  EXPECT_EQ(std::string::npos, printed.find("SLIDER_EVENT val=0\n"));
  EXPECT_NE(std::string::npos, printed.find("slider(10,0) refused: widget 10 takes 1 to 10"));
}

// ---- The VTK mask -------------------------------------------------------------------------------

TEST_F(MaskTest, VtkMaskSendsItsScriptsAndTurnsByTheChange) {
  Served s(show_maskvtk);
  Peer peer(s.port());
  std::vector<std::string> def;
  ASSERT_TRUE(peer.until("vtkTclPrintf(9,\"pl3d Update\")", &def));
  for (const char* f :
       {"data1.vtk", "combq.bin", "combxyz.bin", "surface.tcl", "xyplot.tcl", "update_surface.tcl"})
    EXPECT_EQ(data(f), peer.downloads[f]) << f;
  for (const char* l :
       {"addTab(2,3,\"Tab 1\")\n", "addTab(2,8,\"Tab 2\")\n", "QVtkTclWidget(4,3)\n",
        "QVtkTclWidget(9,8)\n", "QSlider(12,8,0,99,10,60,2)\n", "setText(1,\"Back\")\n"})
    EXPECT_EQ(1, count(def, l)) << l;
  std::vector<std::string> vtk;
  for (const auto& l : def)
    if (startsWith(l, "vtkTcl")) vtk.push_back(l);
  EXPECT_EQ((std::vector<std::string>{
                "vtkTclScript(4,\"surface.tcl\")\n", "vtkTclScript(9,\"xyplot.tcl\")\n",
                "vtkTclPrintf(4,\"dataActor RotateX 30\")\n",
                "vtkTclPrintf(4,\"dataActor RotateY 30\")\n", "vtkTclPrintf(4,\"renWin Render\")\n",
                "vtkTclPrintf(4,\"reader Modified\")\n", "vtkTclPrintf(4,\"reader Update\")\n",
                "vtkTclPrintf(9,\"pl3d Modified\")\n", "vtkTclPrintf(9,\"pl3d Update\")\n"}),
            vtk);

  // Each slider's commands, in order; a turning slider that did not move sends nothing, and a
  // slider id outside the mask is only printed.
  peer.send(
      "slider(7,70)\nslider(7,50)\nslider(5,60)\nslider(5000,1)\nslider(-3,1)\nslider(6,49)\n"
      "slider(10,80)\nslider(10,20)\nslider(11,90)\nslider(12,50)\nQPushButton(1)\n");
  peer.drain();
  ASSERT_TRUE(eventually([&] { return s.done(); }));
  EXPECT_EQ(1, s.result());
  std::vector<std::string> after(peer.lines.begin() + (long)def.size(), peer.lines.end());
  EXPECT_EQ(
      (std::vector<std::string>{
          "vtkTclScript(4,\"update_surface.tcl\")\n", "vtkTclPrintf(4,\"dataActor RotateX 30\")\n",
          "vtkTclPrintf(4,\"renWin Render\")\n", "vtkTclScript(4,\"update_surface.tcl\")\n",
          "vtkTclPrintf(4,\"dataActor RotateX -60\")\n", "vtkTclPrintf(4,\"renWin Render\")\n",
          "vtkTclPrintf(4,\"$cam1 Zoom 1.000000\")\n", "vtkTclPrintf(4,\"renWin Render\")\n",
          "vtkTclPrintf(9,\"$cam1 Elevation 3.000000\")\n", "vtkTclPrintf(9,\"renWin Render\")\n",
          "vtkTclPrintf(9,\"$cam1 Elevation -3.000000\")\n", "vtkTclPrintf(9,\"renWin Render\")\n",
          "vtkTclPrintf(9,\"$cam1 Roll 9.000000\")\n", "vtkTclPrintf(9,\"renWin Render\")\n",
          "vtkTclPrintf(9,\"$cam1 Zoom 1.000000\")\n", "vtkTclPrintf(9,\"renWin Render\")\n"}),
      after);
}

// ---- The sample data --------------------------------------------------------------------------

uint32_t le32(const std::string& s, size_t at) {
  return (uint32_t)(uint8_t)s[at] | (uint32_t)(uint8_t)s[at + 1] << 8 |
         (uint32_t)(uint8_t)s[at + 2] << 16 | (uint32_t)(uint8_t)s[at + 3] << 24;
}
uint32_t be32(const std::string& s, size_t at) {
  return (uint32_t)(uint8_t)s[at] << 24 | (uint32_t)(uint8_t)s[at + 1] << 16 |
         (uint32_t)(uint8_t)s[at + 2] << 8 | (uint32_t)(uint8_t)s[at + 3];
}

TEST_F(MaskTest, SampleDataIsWhatItsNamesPromise) {
  // Pictures: readable bitmaps of the sizes the masks lay out, the house in four versions.
  const struct {
    const char* name;
    int w, h, channels;
  } pictures[] = {{"caster.bmp", 480, 480, 3},
                  {"homer.bmp", 200, 160, 3},
                  {"homer.bmp.orig", 200, 160, 3},
                  {"homer2.bmp", 200, 160, 3},
                  {"homer.bmp.transp", 200, 160, 4}};
  std::vector<std::vector<unsigned char>> seen;
  for (const auto& pic : pictures) {
    std::string path = std::string(OTSAMPLE_DATA_DIR) + "/" + pic.name;
    int w = 0, h = 0, ch = 0;
    unsigned char* px = hxcImageRead(path.c_str(), &w, &h, &ch);
    ASSERT_NE(nullptr, px) << pic.name;
    EXPECT_EQ(pic.w, w) << pic.name;
    EXPECT_EQ(pic.h, h) << pic.name;
    EXPECT_EQ(pic.channels, ch) << pic.name;
    std::vector<unsigned char> rgb;
    int transparent = 0;
    for (int k = 0; k < w * h; k++) {
      for (int c = 0; c < 3; c++)
        rgb.push_back(px[k * ch + c]);
      transparent += ch == 4 && px[k * ch + 3] == 0 ? 1 : 0;
    }
    if (ch == 4) {
      EXPECT_LT(w * h / 4, transparent) << pic.name;
    }
    hxcImageFree(px);
    for (const auto& other : seen)
      EXPECT_NE(other, rgb) << pic.name << " looks like another picture";
    seen.push_back(rgb);
  }

  // The chime: PCM mono 16 bit, data as long as announced, not silent.
  std::string wav = data("k3b_success1.wav");
  ASSERT_LT(44u, wav.size());
  EXPECT_EQ("RIFF", wav.substr(0, 4));
  EXPECT_EQ("WAVEfmt ", wav.substr(8, 8));
  EXPECT_EQ(wav.size() - 8, le32(wav, 4));
  EXPECT_EQ(0x00010001u, le32(wav, 20));  // PCM, one channel
  EXPECT_EQ("data", wav.substr(36, 4));
  EXPECT_EQ(wav.size() - 44, le32(wav, 40));
  EXPECT_NE(std::string::npos, wav.find_first_not_of('\0', 44));

  glFont font;
  ASSERT_EQ(0, font.read((std::string(OTSAMPLE_DATA_DIR) + "/strokefont.txt").c_str()));
  for (int c : {'A', 'z', '0', '9', '-', ' '})
    EXPECT_LT(0, font.charWidth(c)) << (char)c;

  // VTK: the field has every point, the PLOT3D pair agrees on its grid.
  std::string field = data("data1.vtk");
  EXPECT_TRUE(startsWith(field, "# vtk DataFile Version 3.0\n"));
  size_t values = field.find("LOOKUP_TABLE default\n");
  ASSERT_NE(std::string::npos, values);
  int numbers = 0;
  float v;
  int used = 0;
  for (const char* q = field.c_str() + values + 21; sscanf(q, "%f%n", &v, &used) == 1; q += used)
    numbers++;
  EXPECT_EQ(12 * 12 * 12, numbers);
  std::string xyz = data("combxyz.bin"), q = data("combq.bin");
  ASSERT_LE(12u, xyz.size());
  uint32_t points = be32(xyz, 0) * be32(xyz, 4) * be32(xyz, 8);
  EXPECT_EQ(12 + 3 * 4 * points, xyz.size());
  EXPECT_EQ(xyz.substr(0, 12), q.substr(0, 12));
  EXPECT_EQ(12 + 16 + 5 * 4 * points, q.size());
  for (const char* script : {"surface.tcl", "xyplot.tcl", "update_surface.tcl"})
    EXPECT_NE(std::string::npos, data(script).find("renWin")) << script;
}

}  // namespace
