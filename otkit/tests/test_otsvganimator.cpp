// otSvgAnimator: the exact command bytes on a socket pair, zoom and pan of the main object,
// reading a real drawing through otsvgcat (socket and standard-output mode), collecting
// attributes; and otsvgcat itself as a process on tricky input.
#include "otsvganimator.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testutil.h"

namespace {

const std::string kSvgcat = std::string(OTKIT_TOOLS_DIR) + "/otsvgcat";

// Everything that arrives on fd within a short wait.
std::string drain(int fd, int ms = 200) {
  std::string got;
  struct pollfd p = {fd, POLLIN, 0};
  char buf[65536];
  while (poll(&p, 1, ms) == 1) {
    ssize_t n = ::read(fd, buf, sizeof(buf));
    if (n <= 0) break;
    got.append(buf, (size_t)n);
  }
  return got;
}

class Animator : public ::testing::Test {
 protected:
  int fds[2] = {-1, -1};
  int s = -1;
  otSvgAnimator svg;
  void SetUp() override {
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    s = fds[0];
    svg.setSocket(&s);
    svg.setId(5);
    setenv("OTKIT_SVGCAT", kSvgcat.c_str(), 1);
  }
  void TearDown() override {
    close(fds[0]);
    close(fds[1]);
  }
  std::string sent() { return drain(fds[1]); }
};

TEST_F(Animator, CommandsAreSentByteForByte) {
  EXPECT_EQ(svg.setMatrix("obj", 1, 0, 10, 20, 0, 0), 65);
  EXPECT_EQ(sent(),
            "gsvgPrintf(5)\nobj\ntransform=\n"
            "matrix(1.000000,0.000000,-0.000000,1.000000,10.000000,20.000000)\n");
  EXPECT_EQ(svg.svgRecursivePrintf("g", "fill=", "#%02x", 255), 4);
  EXPECT_EQ(svg.svgTextPrintf("t1", "%d bar", 3), 6);
  EXPECT_EQ(svg.svgSearchAndReplace("o", "d=", "M 0", "M 1"), 0);
  EXPECT_EQ(svg.svgRecursiveSearchAndReplace("o", "d=", "a", "b"), 0);
  EXPECT_EQ(svg.svgRemoveStyleOption("o", "fill:"), 0);
  EXPECT_EQ(svg.svgRecursiveRemoveStyleOption("o", "fill:"), 0);
  EXPECT_EQ(svg.svgChangeStyleOption("o", "fill:", "red"), 0);
  EXPECT_EQ(svg.svgRecursiveChangeStyleOption("o", "fill:", "red"), 0);
  EXPECT_EQ(svg.svgSetStyleOption("o", "fill:red"), 0);
  EXPECT_EQ(svg.svgRecursiveSetStyleOption("o", "fill:red"), 0);
  EXPECT_EQ(svg.show("o", 0), 0);
  EXPECT_EQ(svg.writeSocket(), 0);
  EXPECT_EQ(svg.isModified, 0);
  EXPECT_EQ(sent(),
            "gsvgRecursivePrintf(5)\ng\nfill=\n#ff\n"
            "gsvgTextPrintf(5)\nt1\n3 bar\n"
            "gsvgSearchAndReplace(5)\no\nd=\nM 0\nM 1\n"
            "gsvgRecursiveSearchAndReplace(5)\no\nd=\na\nb\n"
            "gsvgRemoveStyleOption(5)\no\nstyle=\nfill:\n"
            "gsvgRecursiveRemoveStyleOption(5)\no\nstyle=\nfill:\n"
            "gsvgChangeStyleOption(5)\no\nstyle=\nfill:\nred\n"
            "gsvgRecursiveChangeStyleOption(5)\no\nstyle=\nfill:\nred\n"
            "gsvgSetStyleOption(5)\no\nstyle=\nfill:red\n"
            "gsvgRecursiveSetStyleOption(5)\no\nstyle=\nfill:red\n"
            "gsvgShow(5,0)\no\n"
            "gupdateSVG(5)\n");
  // A rotation by 90 degrees about (10, 0): a point at the centre stays.
  svg.setMatrix("r", 2, 1.57079633f, 0, 0, 10, 0);
  EXPECT_EQ(sent(),
            "gsvgPrintf(5)\nr\ntransform=\n"
            "matrix(-0.000000,2.000000,-2.000000,-0.000000,10.000000,-10.000000)\n");
}

TEST_F(Animator, IdZeroAndBrokenConnections) {
  svg.setId(0);
  EXPECT_EQ(svg.svgPrintf("o", "x=", "1"), -1);
  EXPECT_EQ(svg.show("o", 1), -1);
  EXPECT_EQ(svg.writeSocket(), -1);
  EXPECT_EQ(svg.svgTextPrintf("o", "x"), -1);
  EXPECT_EQ(svg.read("whatever.svg"), -1);
  EXPECT_EQ(sent(), "");
  EXPECT_EQ(svg.svgSetStyleOption("o", "fill:red"), 0);
  EXPECT_EQ(sent(), "gsvgSetStyleOption(0)\no\nstyle=\nfill:red\n");

  otSvgAnimator unset;
  std::string out;
  {
    ottest::CaptureStdout capture;
    EXPECT_EQ(unset.writeSocket(), -1);
    out = capture.text();
  }
  EXPECT_EQ(out, "otSvgAnimator: ERROR please use setSocket first\n");
  EXPECT_EQ(unset.svgSetStyleOption("o", "v"), -1);

  svg.setId(5);
  close(fds[1]);
  fds[1] = -1;
  EXPECT_EQ(svg.svgSetStyleOption("o", "fill:red"), -1);
  EXPECT_EQ(s, -1) << "a failed send marks the caller's descriptor";
  EXPECT_EQ(svg.show("o", 1), -1);
}

TEST_F(Animator, ZoomAndPanOfTheMainObject) {
  EXPECT_STREQ(svg.mainObject(), "main");
  svg.zoomCenter(2000);
  EXPECT_EQ(svg.scale(), 1000);

  otSvgAnimator z;
  z.setSocket(&s);
  z.setId(5);
  z.setWindowSize(640, 480);
  z.setXY0(40, -20);
  z.setScale(1.5f);
  // The drawing point at the window centre stays there: (W/2 - x0) / s before and after.
  float cx = (320 - z.x0()) / z.scale(), cy = (240 - z.y0()) / z.scale();
  z.zoomCenter(4);
  EXPECT_FLOAT_EQ(z.scale(), 4);
  EXPECT_NEAR(cx * z.scale() + z.x0(), 320, 1e-3);
  EXPECT_NEAR(cy * z.scale() + z.y0(), 240, 1e-3);

  z.setScale(1);
  z.setXY0(0, 0);
  z.setMouseXY0(100, 100);
  z.setMouseXY1(420, 340);  // centre (260, 220), fits twice into the window
  EXPECT_EQ(z.zoomRect(), 0);
  EXPECT_FLOAT_EQ(z.scale(), 2);
  EXPECT_FLOAT_EQ(z.x0(), -200);  // (320 - 260) * 2 - 320
  EXPECT_FLOAT_EQ(z.y0(), -200);  // (240 - 220) * 2 - 240

  z.setMainObject("plant");
  z.setScale(1);
  z.setXY0(10, 10);
  z.setMouseXY0(100, 100);
  sent();
  z.moveMainObject(130, 90);
  EXPECT_EQ(sent(),
            "gsvgPrintf(5)\nplant\ntransform=\n"
            "matrix(1.000000,0.000000,-0.000000,1.000000,40.000000,0.000000)\n");
}

const char kDrawing[] =
    "<?xml version=\"1.0\"?>\n"
    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"200\" height=\"100\">\n"
    "  <!-- plant -->\n"
    "  <g id=\"main\" transform=\"translate(0,0)\">\n"
    "    <rect id=\"r1\" x=\"1\" width=\"10\" style=\"fill:red\"/>\n"
    "    <path d=\"M 0 0 L 5 5\"/>\n"
    "    <text id=\"t1\" x=\"3\">Pump &amp; valve</text>\n"
    "  </g>\n"
    "</svg>\n";

const char kDrawingLines[] =
    "<svg\nxmlns=\"http://www.w3.org/2000/svg\"\nwidth=\"200\"\nheight=\"100\"\n>\n"
    "<g\nid=\"main\"\ntransform=\"translate(0,0)\"\n>\n"
    "<rect\nid=\"r1\"\nx=\"1\"\nwidth=\"10\"\nstyle=\"fill:red\"\n/>\n"
    "<path\nd=\"M 0 0 L 5 5\"\n/>\n"
    "<text\nid=\"t1\"\nx=\"3\"\n>\nPump &amp; valve\n</text>\n"
    "</g>\n</svg>\n";

void expectAttributes(otIniFile& ini) {
  EXPECT_STREQ(ini.text("r1", "width"), "10");
  EXPECT_STREQ(ini.text("r1", "style"), "fill:red");
  EXPECT_STREQ(ini.text("t1", "x"), "3");
  EXPECT_STREQ(ini.text("main", "transform"), "translate(0,0)");
  EXPECT_STREQ(ini.text("", "d"), "") << "elements without id add nothing";
}

TEST_F(Animator, ReadSendsTheDrawingThroughOtsvgcat) {
  ottest::TempDir dir;
  ottest::writeFile(dir.file("plant drawing.svg"), kDrawing);
  otIniFile ini;
  ASSERT_EQ(svg.read(dir.file("plant drawing.svg").c_str(), &ini), 0);
  EXPECT_EQ(sent(), std::string("gsvgRead(5)\n") + kDrawingLines + "\n<svgend></svgend>\n");
  expectAttributes(ini);

  ottest::writeFile(dir.file("bad.svg"), "<svg><g></svg>");
  std::string err;
  EXPECT_EQ(svg.read(dir.file("bad.svg").c_str()), -1);
  EXPECT_EQ(svg.read(dir.file("missing.svg").c_str()), -1);
  EXPECT_EQ(sent(), "") << "nothing is sent for a drawing otsvgcat rejects";
}

TEST_F(Animator, ReadInStandardOutputMode) {
  ottest::TempDir dir;
  ottest::ScopedChdir in(dir.path());
  ottest::writeFile("plant.svg", kDrawing);
  int out = 1;
  svg.setSocket(&out);
  otIniFile ini;
  std::string text;
  {
    ottest::CaptureStdout capture;
    EXPECT_EQ(svg.read("plant.svg", &ini), 0);
    text = capture.text();
  }
  EXPECT_EQ(text, std::string("gsvgRead(5)\n") + kDrawingLines + "\n<svgend></svgend>\n");
  expectAttributes(ini);
  // The temporary file is gone.
  DIR* d = opendir(".");
  ASSERT_NE(d, nullptr);
  while (struct dirent* e = readdir(d))
    EXPECT_NE(std::string(e->d_name).rfind("HXTMP", 0), 0u) << e->d_name;
  closedir(d);
}

TEST(SvgFillIniFile, CollectsAttributesByElementId) {
  otSvgAnimator svg;
  otIniFile ini;
  for (const char* line : {"<rect\n", "id=\"r1\"\n", "width=\"10\"\n", "/>\n"})
    svg.fillIniFile(&ini, line);
  EXPECT_STREQ(ini.text("r1", "width"), "10");
  // A value with quotes inside runs to the last quote; an element without id adds nothing.
  for (const char* line :
       {"<g\n", "title=\"a\"b\"\n", ">\n", "<g\n", "id=\"g\"\n", "title=\"a\"b\"\n", ">\n"})
    svg.fillIniFile(&ini, line);
  EXPECT_STREQ(ini.text("g", "title"), "a\"b");
}

// otsvgcat as a process: exit status, standard output and standard error.
int runSvgcat(const std::string& args, std::string* out, std::string* err) {
  ottest::TempDir dir;
  std::string command = kSvgcat + " " + args + " > " + dir.file("out") + " 2> " + dir.file("err");
  int status = system(command.c_str());
  *out = ottest::readFile(dir.file("out"));
  *err = ottest::readFile(dir.file("err"));
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Otsvgcat, TrickyInputComesOutAsValidSvgText) {
  ottest::TempDir dir;
  ottest::writeFile(dir.file("t.svg"),
                    "<!DOCTYPE svg [<!ENTITY c \"#00ff00\">]>\n"
                    "<svg xmlns:xlink=\"http://www.w3.org/1999/xlink\"><!-- x -->"
                    "<text title='say \"hi\" &amp; &lt;bye&gt; &#65;&#x42;' fill=\"&c;\">"
                    "a<![CDATA[ <b> & ]]>z</text><use xlink:href=\"#a\"/><g></g></svg>");
  std::string out, err;
  ASSERT_EQ(runSvgcat(dir.file("t.svg"), &out, &err), 0) << err;
  EXPECT_EQ(out,
            "<svg\nxmlns:xlink=\"http://www.w3.org/1999/xlink\"\n>\n"
            "<text\ntitle=\"say &quot;hi&quot; &amp; &lt;bye&gt; AB\"\nfill=\"#00ff00\"\n>\n"
            "a &lt;b&gt; &amp; z\n</text>\n"
            "<use\nxlink:href=\"#a\"\n/>\n<g\n/>\n</svg>\n");
  // The output is SVG text again: converting it once more changes nothing.
  ottest::writeFile(dir.file("again.svg"), out);
  std::string again;
  ASSERT_EQ(runSvgcat(dir.file("again.svg") + " " + dir.file("copy.txt"), &again, &err), 0);
  EXPECT_EQ(again, "") << "with a second argument the text goes to that file";
  EXPECT_EQ(ottest::readFile(dir.file("copy.txt")), out);

  ottest::writeFile(dir.file("bad.svg"), "<svg><rect></svg>");
  EXPECT_EQ(runSvgcat(dir.file("bad.svg"), &out, &err), 1);
  EXPECT_EQ(out, "");
  EXPECT_NE(err.find("otsvgcat: "), std::string::npos);
  EXPECT_NE(err.find("mismatched tag"), std::string::npos) << err;
  EXPECT_EQ(runSvgcat(dir.file("none.svg"), &out, &err), 1);
  EXPECT_EQ(runSvgcat("", &out, &err), 2);
}

TEST(Otsvgcat, FiveMegabytes) {
  ottest::TempDir dir;
  std::string big = "<svg>\n";
  int n = 0;
  while (big.size() < 5 * 1024 * 1024)
    big += "<rect id=\"r" + std::to_string(n++) + "\" x=\"1\" width=\"2\" height=\"3\"/>\n";
  big += "</svg>\n";
  ottest::writeFile(dir.file("big.svg"), big);
  std::string out, err;
  ASSERT_EQ(runSvgcat(dir.file("big.svg"), &out, &err), 0) << err;
  size_t opened = 0;
  for (size_t p = 0; (p = out.find("<rect\n", p)) != std::string::npos; p++)
    opened++;
  EXPECT_EQ(opened, (size_t)n);
  EXPECT_NE(out.find("id=\"r" + std::to_string(n - 1) + "\"\n"), std::string::npos);
}

// Runs otsvgcat with standard output and error into files; its exit status, and its peak
// resident size in kilobytes through *maxrssKb.
int runSvgcatMeasured(const std::vector<std::string>& args, const std::string& out,
                      const std::string& err, long* maxrssKb) {
  pid_t pid = fork();
  if (pid == 0) {
    int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (o < 0 || e < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0) _exit(127);
    std::vector<char*> argv = {const_cast<char*>(kSvgcat.c_str())};
    for (const std::string& a : args)
      argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (pid < 0) return -1;
  int status;
  struct rusage usage;
  if (wait4(pid, &status, 0, &usage) != pid) return -1;
  *maxrssKb = usage.ru_maxrss;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Forty megabytes of drawing pass through a few megabytes of memory, whether they convert or
// fail at their very end; a late failure leaves nothing behind on standard output or in the
// output file.
TEST(Otsvgcat, LargeDrawingsStreamThroughBoundedMemory) {
  ottest::TempDir dir;
  const size_t kSize = 40u << 20;
  std::string body;
  body.reserve(kSize + 1024);
  body = "<svg>\n";
  int n = 0;
  while (body.size() < kSize)
    body += "<rect id=\"r" + std::to_string(n++) + "\" x=\"1\" width=\"2\" height=\"3\"/>\n";
  ottest::writeFile(dir.file("big.svg"), body + "</svg>\n");
  ottest::writeFile(dir.file("late.svg"), body + "<rect></svg>\n");
  body.clear();
  body.shrink_to_fit();

  // The peak size of a child counts what it shared with this process before its exec, so
  // the bound is set against a tiny drawing converted the same way.
  ottest::writeFile(dir.file("tiny.svg"), "<svg><rect/></svg>\n");
  long baseKb = 0, kb = 0;
  ASSERT_EQ(runSvgcatMeasured({dir.file("tiny.svg")}, dir.file("out"), dir.file("err"), &baseKb),
            0);
  const long kBoundKb = baseKb + 8 * 1024;
  ASSERT_EQ(runSvgcatMeasured({dir.file("big.svg")}, dir.file("out"), dir.file("err"), &kb), 0)
      << ottest::readFile(dir.file("err"));
  EXPECT_LT(kb, kBoundKb) << "peak resident size in kB";
  {
    FILE* f = fopen(dir.file("out").c_str(), "r");
    ASSERT_NE(f, nullptr);
    long opened = 0;
    char* line = nullptr;
    size_t cap = 0;
    std::string last;
    while (getline(&line, &cap, f) >= 0) {
      if (strcmp(line, "<rect\n") == 0) opened++;
      if (strncmp(line, "id=", 3) == 0) last = line;
    }
    free(line);
    fclose(f);
    EXPECT_EQ(opened, n);
    EXPECT_EQ(last, "id=\"r" + std::to_string(n - 1) + "\"\n");
  }
  unlink(dir.file("out").c_str());

  ASSERT_EQ(runSvgcatMeasured({dir.file("late.svg"), dir.file("copy.txt")}, dir.file("out"),
                              dir.file("err"), &kb),
            1);
  EXPECT_LT(kb, kBoundKb);
  EXPECT_EQ(ottest::readFile(dir.file("out")), "");
  EXPECT_NE(ottest::readFile(dir.file("err")).find("mismatched tag"), std::string::npos);
  EXPECT_NE(access(dir.file("copy.txt").c_str(), F_OK), 0) << "output file written";
  ASSERT_EQ(runSvgcatMeasured({dir.file("late.svg")}, dir.file("out"), dir.file("err"), &kb), 1);
  EXPECT_EQ(ottest::readFile(dir.file("out")), "");
}

}  // namespace
