// othtml2pdf: the tag filter in-process, the program itself as a child process. PDFs are read
// back with poppler's tools; printing goes to a stand-in lp first on PATH.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "othtml2pdf_filter.h"
#include "testutil.h"

using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

struct Result {
  int status = -1;
  std::string out;
};

std::string quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s)
    q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// The standard output of a shell command.
std::string shell(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* fp = popen(command.c_str(), "r");
  if (fp == nullptr) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), fp)) > 0)
    out.append(buf, n);
  int st = pclose(fp);
  if (status) *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return out;
}

// Runs othtml2pdf in cwd with stdin from stdinFile. No display is named, so every run needs
// the tool's own offscreen fallback; path replaces PATH unless empty.
Result othtml2pdf(const std::vector<std::string>& args, const std::string& cwd,
                  const std::string& path = "", const std::string& stdinFile = "/dev/null") {
  std::string cmd = "cd " + quoted(cwd) + " && exec env -u DISPLAY -u WAYLAND_DISPLAY " +
                    "-u QT_QPA_PLATFORM " + (path.empty() ? "" : "PATH=" + quoted(path) + " ") +
                    OTHTML2PDF;
  for (const std::string& a : args)
    cmd += " " + quoted(a);
  Result run;
  run.out = shell(cmd + " <" + quoted(stdinFile), &run.status);
  return run;
}

struct PdfInfo {
  int pages = 0;
  double width = 0, height = 0;  // points
};

PdfInfo pdfinfo(const std::string& pdf) {
  PdfInfo info;
  std::string out = shell(std::string(PDFINFO) + " '" + pdf + "' 2>/dev/null");
  size_t p = out.find("Pages:");
  if (p != std::string::npos) sscanf(out.c_str() + p, "Pages: %d", &info.pages);
  p = out.find("Page size:");
  if (p != std::string::npos)
    sscanf(out.c_str() + p, "Page size: %lf x %lf", &info.width, &info.height);
  return info;
}

// The text of pages first to last (0: to the end).
std::string pdftext(const std::string& pdf, int first = 1, int last = 0) {
  std::string range = " -f " + std::to_string(first) + (last ? " -l " + std::to_string(last) : "");
  return shell(std::string(PDFTOTEXT) + range + " '" + pdf + "' - 2>/dev/null");
}

// Pixels of page 1 with any ink, rendered in grey at 100 dpi.
long inkedPixels(const std::string& pdf) {
  std::string pgm = shell(std::string(PDFTOPPM) + " -gray -r 100 -f 1 -l 1 '" + pdf + "'");
  int w = 0, h = 0, max = 0, used = 0;
  if (sscanf(pgm.c_str(), "P5 %d %d %d%n", &w, &h, &max, &used) != 3) return -1;
  long inked = 0;
  for (size_t i = (size_t)used + 1; i < pgm.size(); i++)
    inked += (unsigned char)pgm[i] < 250;
  return inked;
}

const char kReport[] =
    "<html><body><h1>Shift report</h1>\n<table align=center><tr><td>Tank</td><td>Level</td>"
    "</tr><tr><td>T1</td><td>42</td></tr></table>\n<p>Approved</p></body></html>\n";

class Othtml2pdf : public ::testing::Test {
 protected:
  void SetUp() override { ottest::writeFile(dir.file("report.html"), kReport); }
  ottest::TempDir dir;
};

TEST(Othtml2pdfFilter, InsertsOptionTextsBeforeTheTagsEnd) {
  struct Row {
    std::string in;
    const char *tableopt, *imgopt;
    std::string out;
  } rows[] = {
      {"<table align=center><tr>", "border=1", nullptr, "<table align=center border=1 ><tr>"},
      {"<TABLE>x<IMG src=a.png>", "b", "w=2", "<TABLE b >x<IMG src=a.png w=2 >"},
      // An image tag ends at a backslash as well; an unclosed tag at the end of the text.
      {"<img src=\\\"a\\\">", nullptr, "w", "<img src= w \\\"a\\\">"},
      {"x<table", "b", nullptr, "x<table b "},
      // A tag over several lines, and an option given only for the other kind of tag.
      {"<table\nalign=left>\n<img a>", "b", nullptr, "<table\nalign=left b >\n<img a>"},
  };
  for (const Row& r : rows)
    EXPECT_EQ(othtml2pdfFilter(r.in, r.tableopt, r.imgopt), r.out) << r.in;
}

TEST(Othtml2pdfFilter, LongLinesAndLongOptionsAreFilteredWhole) {
  // Tags far beyond a read buffer's length, and option texts longer than the line.
  std::string pad(10000, 'x');
  std::string opt(5000, 'o');
  std::string out = othtml2pdfFilter(pad + "<table>" + pad + "<img>", opt.c_str(), "i");
  EXPECT_EQ(out, pad + "<table " + opt + " >" + pad + "<img i >");
}

TEST_F(Othtml2pdf, PageSizesAndOrientation) {
  // -ax: A0..A9, B0..B9 in millimetres; any other value is A4.
  struct Row {
    std::vector<std::string> args;
    double wmm, hmm;
  } rows[] = {
      {{}, 210, 297},       {{"-ax=0"}, 841, 1189},   {{"-ax=3"}, 297, 420},
      {{"-ax=9"}, 37, 52},  {{"-ax=10"}, 1000, 1414}, {{"-ax=13", "-landscape"}, 500, 353},
      {{"-ax=19"}, 44, 62}, {{"-ax=20"}, 210, 297},   {{"-ax=-1", "-landscape"}, 297, 210},
  };
  for (const Row& r : rows) {
    std::vector<std::string> args = r.args;
    args.push_back("report.html");
    Result run = othtml2pdf(args, dir.path());
    PdfInfo info = pdfinfo(dir.file("othtml2pdf_output.pdf"));
    std::string what = ::testing::PrintToString(r.args);
    EXPECT_EQ(run.status, 0) << what;
    EXPECT_NEAR(info.width, r.wmm * 72 / 25.4, 1.5) << what;
    EXPECT_NEAR(info.height, r.hmm * 72 / 25.4, 1.5) << what;
    unlink(dir.file("othtml2pdf_output.pdf").c_str());
  }
}

TEST_F(Othtml2pdf, HelpListAndPageMargins) {
  Result help = othtml2pdf({"-debug"}, dir.path());
  EXPECT_EQ(help.status, 0);
  EXPECT_THAT(help.out, StartsWith("usage: othtml2pdf <-options> inputfilename "
                                   "<outputfilename|printername|defaultprinter>\n"));
  for (const char* section : {"### global options ###", "### QPrinter options ###",
                              "### QTextDocument options ###", "-lm=%f", "-ax=%d", "rawMode"})
    EXPECT_THAT(help.out, HasSubstr(section));
  // -list ends at once, before anything is converted.
  Result list = othtml2pdf({"report.html", "-list", "out.pdf"}, dir.path());
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(list.out, "");
  EXPECT_NE(access(dir.file("out.pdf").c_str(), F_OK), 0);
  // The top margin is in millimetres: 100 mm more moves the first line down by 283 pt.
  auto firstY = [&](const std::string& pdf) {
    std::string box = shell(std::string(PDFTOTEXT) + " -bbox '" + pdf + "' -");
    size_t p = box.find("yMin=\"");
    return p == std::string::npos ? -1.0 : atof(box.c_str() + p + 6);
  };
  ASSERT_EQ(othtml2pdf({"-tm=10", "report.html", "a.pdf"}, dir.path()).status, 0);
  ASSERT_EQ(othtml2pdf({"-tm=110", "report.html", "b.pdf"}, dir.path()).status, 0);
  EXPECT_NEAR(firstY(dir.file("b.pdf")) - firstY(dir.file("a.pdf")), 100 * 72 / 25.4, 1.5);
}

TEST_F(Othtml2pdf, TableOptionIsRenderedAndReported) {
  ASSERT_EQ(othtml2pdf({"report.html", "plain.pdf"}, dir.path()).status, 0);
  Result run =
      othtml2pdf({"-debug", "-tableopt=border=1", "report.html", "border.pdf"}, dir.path());
  EXPECT_EQ(run.status, 0);
  EXPECT_THAT(run.out, HasSubstr("applyFilter1: line=<table align=center tableopt=border=1\n"));
  EXPECT_THAT(pdftext(dir.file("border.pdf")), HasSubstr("Tank"));
  // The border lines are drawn.
  EXPECT_GT(inkedPixels(dir.file("border.pdf")), inkedPixels(dir.file("plain.pdf")) + 100);
}

TEST_F(Othtml2pdf, MultiPageReportWithTablesAndImagesBesideIt) {
  // 40 sections, each an image and a table; the images are found beside the report although
  // the tool runs in another directory.
  mkdir(dir.file("reports").c_str(), 0700);
  ottest::writeFile(dir.file("reports/dot.ppm"),
                    "P6\n16 16\n255\n" + std::string(16 * 16 * 3, '\x40'));
  std::string html = "<html><body>";
  for (int k = 1; k <= 40; k++) {
    html += "<h2>Section " + std::to_string(k) + "</h2><img src=\"dot.ppm\"><table border=1>";
    for (int r = 0; r < 8; r++)
      html +=
          "<tr><td>row " + std::to_string(r) + "</td><td>" + std::to_string(k * r) + "</td></tr>";
    html += "</table>\n";
  }
  ottest::writeFile(dir.file("reports/shift.html"), html + "<p>End of report</p></body></html>");
  Result run = othtml2pdf({"reports/shift.html", "shift.pdf"}, dir.path());
  ASSERT_EQ(run.status, 0) << run.out;
  PdfInfo info = pdfinfo(dir.file("shift.pdf"));
  EXPECT_GE(info.pages, 8);
  std::string all = pdftext(dir.file("shift.pdf"));
  size_t pos = 0;
  for (int k = 1; k <= 40 && pos != std::string::npos; k++)
    pos = all.find("Section " + std::to_string(k) + "\n", pos);
  EXPECT_NE(pos, std::string::npos) << "a section is missing or out of order";
  EXPECT_THAT(pdftext(dir.file("shift.pdf"), info.pages, info.pages), HasSubstr("End of report"));
  std::string images =
      shell(std::string(PDFIMAGES) + " -list '" + dir.file("shift.pdf") + "' | grep -c ' image '");
  EXPECT_EQ(atoi(images.c_str()), 40);
}

TEST_F(Othtml2pdf, FontAndStyleSheetReachTheDocument) {
  std::string html;
  for (int k = 0; k < 60; k++)
    html += "<p>Measuring point " + std::to_string(k) + "</p>\n";
  ottest::writeFile(dir.file("points.html"), html);
  ottest::writeFile(dir.file("big.css"), "p { font-size: 40pt }");
  ASSERT_EQ(othtml2pdf({"points.html", "plain.pdf"}, dir.path()).status, 0);
  Result font = othtml2pdf(
      {"-debug", "-font=DejaVu Sans,40,-1,5,50,0,0,0,0,0", "points.html", "font.pdf"}, dir.path());
  EXPECT_THAT(font.out, HasSubstr("\nfont = DejaVu Sans,40,"));
  ASSERT_EQ(othtml2pdf({"-css=big.css", "points.html", "css.pdf"}, dir.path()).status, 0);
  int plain = pdfinfo(dir.file("plain.pdf")).pages;
  EXPECT_GT(pdfinfo(dir.file("font.pdf")).pages, 2 * plain);
  EXPECT_GT(pdfinfo(dir.file("css.pdf")).pages, 2 * plain);
}

TEST_F(Othtml2pdf, StandardInputUnreadableInputAndUnwritableOutput) {
  Result in = othtml2pdf({"-", "stdin.pdf"}, dir.path(), "", dir.file("report.html"));
  EXPECT_EQ(in.status, 0);
  EXPECT_THAT(pdftext(dir.file("stdin.pdf")), HasSubstr("Approved"));
  // A missing input is reported and gives an empty document.
  Result missing = othtml2pdf({"nothere.html", "empty.pdf"}, dir.path());
  EXPECT_EQ(missing.status, 0);
  EXPECT_EQ(missing.out, "could not read file nothere.html\n");
  EXPECT_EQ(pdfinfo(dir.file("empty.pdf")).pages, 1);
  // A PDF that cannot be written is a failure, not a success.
  Result unwritable = othtml2pdf({"report.html", "no/such/dir/x.pdf"}, dir.path());
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_EQ(unwritable.out, "could not write file no/such/dir/x.pdf\n");
}

// A stand-in lp first on PATH: writes its arguments, NUL-separated, to lp.args, copies the
// file it gets to printed.pdf and exits with the status given.
class Othtml2pdfPrint : public Othtml2pdf {
 protected:
  void fakeLp(int status) {
    mkdir(dir.file("bin").c_str(), 0700);
    std::string d = dir.path();
    ottest::writeFile(
        dir.file("bin/lp"),
        "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\0' \"$a\"; done > '" + d +
            "/lp.args'\nfor a in \"$@\"; do f=$a; done\n[ -f \"$f\" ] && cp \"$f\" '" + d +
            "/printed.pdf'\nexit " + std::to_string(status) + "\n");
    chmod(dir.file("bin/lp").c_str(), 0700);
  }
  Result print(const std::vector<std::string>& args) {
    return othtml2pdf(args, dir.path(), dir.file("bin") + ":" + getenv("PATH"));
  }
  std::vector<std::string> lpArgs() {
    std::string raw = ottest::readFile(dir.file("lp.args"));
    std::vector<std::string> args;
    for (size_t p = 0, e; (e = raw.find('\0', p)) != std::string::npos; p = e + 1)
      args.push_back(raw.substr(p, e - p));
    return args;
  }
};

TEST_F(Othtml2pdfPrint, PdfGoesToLpAsSingleArguments) {
  fakeLp(0);
  const std::string file = "a \"b\" ;touch hacked; 'c'.pdf";
  ottest::writeFile(dir.file(file), "%PDF-1.4\n");
  const std::string printer = "hall 2; touch hacked `touch hacked` $(touch hacked)";
  EXPECT_EQ(print({file, printer}).status, 0);
  EXPECT_EQ(lpArgs(), (std::vector<std::string>{"-d", printer, file}));
  EXPECT_NE(access(dir.file("hacked").c_str(), F_OK), 0);
  // Without a printer, or with defaultprinter, the default printer.
  print({file});
  EXPECT_EQ(lpArgs(), (std::vector<std::string>{file}));
  std::remove(dir.file("lp.args").c_str());
  print({file, "defaultprinter"});
  EXPECT_EQ(lpArgs(), (std::vector<std::string>{file}));
}

TEST_F(Othtml2pdfPrint, LpStatusIsTheExitStatus) {
  // Status 1 is the one that a raw wait status (256) would lose as an exit status.
  for (int status : {1, 3}) {
    fakeLp(status);
    EXPECT_EQ(print({"-debug", "report.pdf", "office"}).status, status);
  }
  Result none = othtml2pdf({"report.pdf"}, dir.path(), "/nonexistent");
  EXPECT_EQ(none.status, 127);
  EXPECT_THAT(none.out, StartsWith("could not run lp"));
}

TEST_F(Othtml2pdfPrint, HtmlToAPrinterIsPrintedThroughLp) {
  fakeLp(0);
  Result run = print({"-debug", "report.html", "hall 2"});
  EXPECT_EQ(run.status, 0);
  std::vector<std::string> args = lpArgs();
  ASSERT_EQ(args.size(), 3u);
  EXPECT_EQ(args[1], "hall 2");
  EXPECT_THAT(run.out, HasSubstr("cmd = lp -d hall 2 " + args[2] + "\n"));
  EXPECT_THAT(pdftext(dir.file("printed.pdf")), HasSubstr("Shift report"));
  EXPECT_NE(access(args[2].c_str(), F_OK), 0) << "the temporary PDF is left behind";
  // With an output file as well, that file is written and printed.
  EXPECT_EQ(print({"report.html", "keep.pdf", "hall 2"}).status, 0);
  EXPECT_EQ(lpArgs(), (std::vector<std::string>{"-d", "hall 2", "keep.pdf"}));
  EXPECT_THAT(pdftext(dir.file("keep.pdf")), HasSubstr("Approved"));
}

}  // namespace
