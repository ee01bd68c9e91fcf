// otHistoryLogger and otHistoryReader: the file ring, rotation, the memory list, time windows.
#include <fcntl.h>
#include <sys/stat.h>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "othistorylogger.h"
#include "othistoryreader.h"
#include "testutil.h"

namespace {

// A logger whose clock the test sets, so that periods pass without waiting.
class ClockLogger : public otHistoryLogger {
 public:
  using otHistoryLogger::otHistoryLogger;
  otTime now{2014, 3, 7, 8, 0, 0, 0};

 protected:
  otTime currentLocalTime() override { return now; }
};

void setModificationTime(const std::string& path, time_t seconds) {
  struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), times, 0)) << path;
}

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::vector<std::string> walk(otHistoryReader& reader) {
  std::vector<std::string> out;
  for (const char* line = reader.firstLine(); *line; line = reader.nextLine())
    out.push_back(line);
  return out;
}

struct PeriodCase {
  int hours;
  otTime start, lastInPeriod, firstAfter;
};

TEST(HistoryLogger, PeriodCountsHoursDaysMonthsOf31DaysAndYears) {
  const PeriodCase cases[] = {
      {0, {2014, 3, 7, 8}, {2014, 3, 7, 9}, {2014, 3, 7, 9, 0, 0, 1}},
      {24, {2014, 3, 7, 8}, {2014, 3, 8, 8}, {2014, 3, 8, 8, 0, 0, 1}},
      // A calendar month from February 1st, not 31 days (which would end on March 4th).
      {744, {2014, 2, 1}, {2014, 3, 1}, {2014, 3, 1, 0, 0, 0, 1}},
      {8928, {2014, 3, 1}, {2015, 3, 1}, {2015, 3, 1, 0, 0, 0, 1}},
  };
  for (const PeriodCase& c : cases) {
    SCOPED_TRACE(c.hours);
    ottest::TempDir dir;
    const std::string base = dir.file("h");
    ClockLogger logger(base.c_str(), c.hours);
    logger.now = c.start;
    ASSERT_EQ(0, logger.pushLine("a"));
    logger.now = c.lastInPeriod;
    ASSERT_EQ(0, logger.pushLine("b"));
    EXPECT_FALSE(exists(base + "1.csv"));
    logger.now = c.firstAfter;
    ASSERT_EQ(0, logger.pushLine("c"));

    otTime start = c.start, last = c.lastInPeriod, after = c.firstAfter;
    EXPECT_EQ(std::string(start.getTimeString()) + "\ta\n" + last.getTimeString() + "\tb\n",
              ottest::readFile(base + "0.csv"));
    EXPECT_EQ(std::string(after.getTimeString()) + "\tc\n", ottest::readFile(base + "1.csv"));
  }
}

TEST(HistoryLogger, MemoryKeepsNewestLinesFirst) {
  ottest::TempDir dir;
  ClockLogger logger(dir.file("h").c_str(), 1, 3);
  for (const char* text : {"1", "2", "3", "4", "5"})
    logger.pushLine(text);
  EXPECT_STREQ("2014-03-07 08:00:00 0000\t5", logger.firstLine());
  EXPECT_STREQ("2014-03-07 08:00:00 0000\t4", logger.nextLine());
  EXPECT_STREQ("2014-03-07 08:00:00 0000\t3", logger.nextLine());
  EXPECT_STREQ("", logger.nextLine());
  EXPECT_STREQ("", logger.nextLine());

  ClockLogger one(dir.file("g").c_str(), 1, 0);  // at least one line
  one.pushLine("x");
  one.pushLine("y");
  EXPECT_STREQ("2014-03-07 08:00:00 0000\ty", one.firstLine());
  EXPECT_STREQ("", one.nextLine());
}

TEST(HistoryLogger, RestartOverwritesOldestFileThenContinuesWithNext) {
  ottest::TempDir dir;
  const std::string base = dir.file("h");
  for (int i = 0; i < 10; i++) {
    const std::string path = base + std::to_string(i) + ".csv";
    ottest::writeFile(path, "old " + std::to_string(i) + "\n");
    setModificationTime(path, 1400000000 + i * 3600);
  }
  // The earliest time, and a tie further on that must not win.
  setModificationTime(base + "3.csv", 1300000000);
  setModificationTime(base + "8.csv", 1300000000);

  ClockLogger logger(base.c_str(), 24);
  ASSERT_EQ(0, logger.pushLine("new"));
  EXPECT_EQ("2014-03-07 08:00:00 0000\tnew\n", ottest::readFile(base + "3.csv"));
  logger.now = otTime(2014, 3, 8, 9);
  ASSERT_EQ(0, logger.pushLine("next"));
  EXPECT_EQ("2014-03-08 09:00:00 0000\tnext\n", ottest::readFile(base + "4.csv"));
  EXPECT_EQ("2014-03-07 08:00:00 0000\tnew\n", ottest::readFile(base + "3.csv"));
  for (int i : {0, 2, 5, 8, 9})
    EXPECT_EQ("old " + std::to_string(i) + "\n",
              ottest::readFile(base + std::to_string(i) + ".csv"));
}

TEST(HistoryLogger, FileThatCannotBeOpenedKeepsRecordInMemoryAndIsRetried) {
  ottest::TempDir dir;
  const std::string base = dir.file("later/h");
  ClockLogger logger(base.c_str(), 1);
  ottest::CaptureStdout out;
  EXPECT_EQ(-1, logger.pushLine("lost"));
  EXPECT_EQ(-1, logger.pushLine("lost too"));
  EXPECT_EQ("otHistoryLogger: cannot open " + base + "0.csv\n", out.text());
  EXPECT_STREQ("2014-03-07 08:00:00 0000\tlost too", logger.firstLine());

  ASSERT_EQ(0, mkdir(dir.file("later").c_str(), 0700));
  EXPECT_EQ(0, logger.pushLine("kept"));
  EXPECT_EQ("2014-03-07 08:00:00 0000\tkept\n", ottest::readFile(base + "0.csv"));
}

TEST(HistoryLogger, ThreadsPushIntoOneLogger) {
  ottest::TempDir dir;
  const std::string base = dir.file("h");
  otHistoryLogger logger(base.c_str(), 1, 50);  // the real clock
  const int threads = 4, perThread = 250;
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; t++)
    pool.emplace_back([&logger, t] {
      for (int i = 0; i < perThread; i++)
        logger.pushLine(("thread " + std::to_string(t) + " line " + std::to_string(i)).c_str());
    });
  for (std::thread& t : pool)
    t.join();

  // Every record whole, on a line of its own, in one of the files.
  int records = 0;
  for (int i = 0; i < 10; i++) {
    const std::string text = ottest::readFile(base + std::to_string(i) + ".csv");
    size_t begin = 0, end;
    while ((end = text.find('\n', begin)) != std::string::npos) {
      const std::string line = text.substr(begin, end - begin);
      otTime stamp;
      EXPECT_EQ(7, stamp.setTimeFromString(line.c_str())) << line;
      EXPECT_NE(std::string::npos, line.find("\tthread ")) << line;
      records++;
      begin = end + 1;
    }
    EXPECT_EQ(begin, text.size());
  }
  EXPECT_EQ(threads * perThread, records);
  int inMemory = 0;
  for (const char* line = logger.firstLine(); *line; line = logger.nextLine())
    inMemory++;
  EXPECT_EQ(50, inMemory);
}

TEST(HistoryReader, WindowSkipsOlderLinesAndEndsEachFileOnNewerOnes) {
  ottest::TempDir dir;
  const std::string base = dir.file("h");
  const std::string longText(100000, 'x');
  ottest::writeFile(base + "0.csv",
                    "2014-01-01 10:00:00 0000\told\n"
                    "no time stamp\n"
                    "2014-01-01 10:01:00 0000\t" +
                        longText + "\n");
  // The clock was set back: a file ending the window early must not end the reading.
  ottest::writeFile(base + "1.csv",
                    "2014-01-01 12:00:00 0000\tlate\n2014-01-01 10:20:00 0000\tbehind late\n");
  ottest::writeFile(base + "2.csv",
                    "2014-01-01 10:30:00 0000\tin\n2014-01-01 11:30:00 0000\tout\n"
                    "2014-01-01 10:40:00 0000\tbehind out");
  setModificationTime(base + "0.csv", 1000);
  setModificationTime(base + "1.csv", 2000);
  setModificationTime(base + "2.csv", 3000);

  otHistoryReader reader;
  reader.debug = 1;
  otTime start(2014, 1, 1, 10, 1), end(2014, 1, 1, 11);
  ottest::CaptureStdout out;
  EXPECT_EQ(0, reader.read(base.c_str(), &start, &end));
  const std::string debugText = out.text();
  const std::vector<std::string> expected = {"2014-01-01 10:30:00 0000\tin\n",
                                             "2014-01-01 10:01:00 0000\t" + longText + "\n"};
  EXPECT_EQ(expected, walk(reader));
  const std::vector<std::string> debugTexts = {"oldestFile=" + base + "0.csv\n",
                                               "success openFile=" + base + "2.csv\n",
                                               "reading=" + base + "2.csv\n",
                                               "too old=2014-01-01 10:00:00 0000\told\n",
                                               "too new=2014-01-01 12:00:00 0000\tlate\n",
                                               "pushLineToMemory=2014-01-01 10:30:00"};
  for (const std::string& text : debugTexts)
    EXPECT_NE(std::string::npos, debugText.find(text)) << text;

  // Without a window the same ring reads whole (a line feed added to the cut-off last line).
  reader.debug = 0;
  EXPECT_EQ(0, reader.read(base.c_str(), nullptr, nullptr));
  EXPECT_EQ(7u, walk(reader).size());
  EXPECT_EQ("2014-01-01 10:40:00 0000\tbehind out\n", walk(reader).front());
  reader.clean();
  EXPECT_STREQ("", reader.firstLine());
}

// After a restart the logger went on in the oldest file h0 while h4..h9 were never written.
TEST(HistoryReader, ReadAndCatGoOldestFirstPastUnwrittenIndexes) {
  ottest::TempDir dir;
  const std::string base = dir.file("h");
  const int order[] = {1, 2, 3, 0};
  std::string all;
  for (int k = 0; k < 4; k++) {
    const std::string path = base + std::to_string(order[k]) + ".csv";
    const std::string line =
        "2014-01-01 0" + std::to_string(k) + ":00:00 0000\tfile " + std::to_string(order[k]) + "\n";
    ottest::writeFile(path, line);
    setModificationTime(path, 1000 + k);
    all += line;
  }

  otHistoryReader reader;
  EXPECT_EQ(0, reader.read(base.c_str(), nullptr, nullptr));
  const std::vector<std::string> lines = walk(reader);
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ("2014-01-01 03:00:00 0000\tfile 0\n", lines[0]);
  EXPECT_EQ("2014-01-01 00:00:00 0000\tfile 1\n", lines[3]);

  const std::string catPath = dir.file("cat.txt");
  FILE* out = fopen(catPath.c_str(), "w");
  ASSERT_NE(nullptr, out);
  EXPECT_EQ(0, reader.cat(base.c_str(), out));
  fclose(out);
  EXPECT_EQ(all, ottest::readFile(catPath));
}

}  // namespace
