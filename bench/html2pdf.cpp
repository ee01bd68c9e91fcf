// HTML report to PDF: othtml2pdf against wkhtmltopdf on the same 20-page shift report with
// tables, each run as the program a display server would start. Rounds alternate between the
// two after one warm-up run each; each side's median documents per second and spread, both
// page counts, and the ratio ours/reference last.
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "benchrounds.h"
#include "testutil.h"

extern char** environ;

namespace {

// One document a round; more rounds than the usual, as one document is quickly made.
const int kRounds = std::max(8, otBenchRounds);

// A shift report: per hour a heading, a short text and a table of 24 measuring points.
std::string report() {
  std::string html =
      "<html><head><meta charset=\"utf-8\"><title>Shift report</title></head><body>\n"
      "<h1>Shift report, line 3</h1>\n";
  for (int hour = 0; hour < 24; hour++) {
    html += "<h2>Hour " + std::to_string(hour) + "</h2>\n<p>Values of the hour, averaged over " +
            "one-minute samples; alarms in the last column.</p>\n" +
            "<table border=1 cellpadding=2 width=\"100%\">\n<tr><th>Point</th><th>Unit</th>"
            "<th>Minimum</th><th>Mean</th><th>Maximum</th><th>Alarms</th></tr>\n";
    for (int p = 0; p < 24; p++) {
      char row[256];
      snprintf(row, sizeof(row),
               "<tr><td>TI-%03d</td><td>&deg;C</td><td>%.1f</td><td>%.1f</td><td>%.1f</td>"
               "<td>%d</td></tr>\n",
               100 + p, 20.0 + p + hour * 0.1, 25.0 + p, 30.0 + p - hour * 0.1, (p * hour) % 3);
      html += row;
    }
    html += "</table>\n";
  }
  return html + "<p>End of report</p></body></html>\n";
}

// Runs argv with its output discarded; the exit status, -1 when it cannot be started.
int run(const std::vector<std::string>& args) {
  std::vector<std::string> copy = args;
  std::vector<char*> argv;
  for (std::string& a : copy)
    argv.push_back(&a[0]);
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  int err = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Seconds for one run, negative when it failed.
double timed(const std::vector<std::string>& args) {
  auto t0 = std::chrono::steady_clock::now();
  int status = run(args);
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  return status == 0 ? s : -1;
}

int pages(const std::string& pdf) {
  std::string out;
  FILE* fp = popen(("pdfinfo '" + pdf + "' 2>/dev/null").c_str(), "r");
  if (fp == nullptr) return -1;
  char buf[512];
  int n = -1;
  while (fgets(buf, sizeof(buf), fp) != nullptr)
    sscanf(buf, "Pages: %d", &n);
  pclose(fp);
  return n;
}

}  // namespace

int main() {
  // Both are Qt programs; without a display they render offscreen.
  const char* display = getenv("DISPLAY");
  if (display == nullptr || *display == '\0') setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ottest::TempDir dir;
  if (getenv("XDG_RUNTIME_DIR") == nullptr) setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
  if (run({"wkhtmltopdf", "--version"}) != 0) {
    fprintf(stderr, "html2pdf: wkhtmltopdf is not installed (Debian package wkhtmltopdf)\n");
    return 1;
  }
  const std::string html = dir.file("report.html");
  ottest::writeFile(html, report());
  const std::string ours = OTKIT_TOOLS_DIR "/othtml2pdf";
  const std::vector<std::string> oursArgs{ours, html, dir.file("ours.pdf")};
  const std::vector<std::string> theirArgs{"wkhtmltopdf", "-q", html, dir.file("theirs.pdf")};

  otBenchSide oursSide("othtml2pdf", "documents/s"), theirSide("wkhtmltopdf", "documents/s");
  for (int round = -1; round < kRounds; round++) {
    double a = timed(oursArgs);
    double b = timed(theirArgs);
    if (a < 0 || b < 0) {
      fprintf(stderr, "html2pdf: %s failed\n", a < 0 ? "othtml2pdf" : "wkhtmltopdf");
      return 1;
    }
    if (round < 0) continue;  // warm-up: both programs and their libraries in the page cache
    oursSide.add(1 / a);
    theirSide.add(1 / b);
  }
  printf("report: %zu bytes of HTML\n", report().size());
  oursSide.print();
  theirSide.print();
  printf("pages: othtml2pdf %d, wkhtmltopdf %d\n", pages(dir.file("ours.pdf")),
         pages(dir.file("theirs.pdf")));
  otBenchRatio("ratio ours/reference", oursSide, theirSide, {&oursSide, &theirSide});
  return 0;
}
