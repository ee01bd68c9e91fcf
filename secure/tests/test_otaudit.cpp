// The audit trail: its lines, the chain across reopening, the verifier's naming of changed,
// removed and inserted lines, and the otaudit command.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "otaudit.h"
#include "otfd.h"
#include "securetest.h"

namespace {

const std::string kZeros(64, '0');

otAuditRecord record(int i) {
  otAuditRecord r;
  r.timeMs = 1796846400000LL + i * 1001LL;
  r.user = "user" + std::to_string(i % 3);
  r.address = "127.0.0.1:" + std::to_string(40000 + i);
  r.mask = "boiler";
  r.widget = std::to_string(i);
  r.target = "setpoint" + std::to_string(i);
  r.oldValue = std::to_string(i * 10);
  r.newValue = std::to_string(i * 10 + 5);
  r.accepted = i % 4 != 3;
  r.why = r.accepted ? "" : "role viewer may not write";
  return r;
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    lines.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return lines;
}

std::string joinLines(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines)
    out += l + "\n";
  return out;
}

class Audit : public ::testing::Test {
 protected:
  // A log of n lines written through otAuditLog; its text.
  std::string makeLog(int n) {
    otAuditLog log;
    std::string error;
    EXPECT_EQ(log.open(path.c_str(), &error), 0) << error;
    for (int i = 1; i <= n; i++)
      EXPECT_EQ(log.append(record(i)), 0);
    log.close();
    return ottest::readFile(path);
  }
  // What the verifier says of text: the line it names (0: intact) and why.
  long long verify(const std::string& text, std::string* why = nullptr) {
    ottest::writeFile(other, text);
    std::string w;
    long long lines = -1;
    long long r = otAuditVerify(other.c_str(), &w, &lines);
    if (why != nullptr) *why = w;
    return r;
  }
  ottest::TempDir dir;
  const std::string path = dir.file("audit.log"), other = dir.file("changed.log");
};

// ---- lines --------------------------------------------------------------------------------

TEST(AuditLine, FieldsAndEscapes) {
  otAuditRecord r;
  r.timeMs = 951782400123LL;  // a leap day
  r.user = "an\tna";
  r.address = "127.0.0.1:40022";
  r.mask = "-";
  r.widget = "7";
  r.target = "modbus 1,40 register";
  r.oldValue = "a\\b";
  r.newValue = "line\nfeed\r\x01\x7f\xc3\xa4";
  r.why = "role viewer may not write";
  EXPECT_EQ(otAuditLine(12, r, kZeros),
            "12\t2000-02-29T00:00:00.123Z\tan\\tna\t127.0.0.1:40022\t-\t7\tmodbus 1,40 register\t"
            "a\\\\b\tline\\nfeed\\r\\x01\\x7f\xc3\xa4\trefused: role viewer may not write\t" +
                kZeros + "\n");
  r.why.clear();
  EXPECT_NE(otAuditLine(1, r, kZeros).find("\trefused: -\t"), std::string::npos);
  r.accepted = true;
  EXPECT_NE(otAuditLine(1, r, kZeros).find("\taccepted\t"), std::string::npos);
  EXPECT_EQ(otSha256Hex("abc", 3),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

// ---- the log ------------------------------------------------------------------------------

TEST_F(Audit, ChainsLinesAndGoesOnAfterReopen) {
  otAuditLog log;
  std::string error;
  EXPECT_EQ(log.append(record(0)), -1) << "not open";
  ASSERT_EQ(log.open(path.c_str(), &error), 0) << error;
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(log.lines(), 0);
  for (int i = 1; i <= 3; i++)
    ASSERT_EQ(log.append(record(i)), 0);
  EXPECT_EQ(log.lines(), 3);

  otAuditLog second;
  EXPECT_EQ(second.open(path.c_str(), &error), -1);
  EXPECT_EQ(error, path + ": in use by another audit log");
  log.close();
  EXPECT_FALSE(log.isOpen());
  EXPECT_EQ(log.append(record(9)), -1);

  std::vector<std::string> lines = splitLines(ottest::readFile(path));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], otAuditLine(1, record(1), kZeros).substr(0, lines[0].size()));
  EXPECT_EQ(lines[1],
            otAuditLine(2, record(2), otSha256Hex((lines[0] + "\n").data(), lines[0].size() + 1))
                .substr(0, lines[1].size()));

  ASSERT_EQ(second.open(path.c_str(), &error), 0) << error;
  EXPECT_EQ(second.lines(), 3);
  for (int i = 4; i <= 5; i++)
    ASSERT_EQ(second.append(record(i)), 0);
  EXPECT_EQ(second.lines(), 5);
  second.close();
  long long count = 0;
  EXPECT_EQ(otAuditVerify(path.c_str(), &error, &count), 0) << error;
  EXPECT_EQ(count, 5);
  lines = splitLines(ottest::readFile(path));
  ASSERT_EQ(lines.size(), 5u);
  for (int i = 0; i < 5; i++)
    EXPECT_EQ(lines[i].substr(0, lines[i].find('\t')), std::to_string(i + 1));
}

TEST_F(Audit, OpenRefusesAnEndItCannotGoOnFrom) {
  const std::string good = makeLog(3);
  std::vector<std::string> l = splitLines(good);
  const std::vector<std::string> bad = {
      good.substr(0, good.size() - 1),        // the last line without its feed
      good + "garbage\n",                     // not an audit line
      joinLines({l[0], l[2], l[1]}),          // the last line follows another
      joinLines({l[1]}),                      // a first line that is not line 1
      good + std::string(70000, 'x') + "\n",  // over-long
  };
  for (const std::string& text : bad) {
    ottest::writeFile(path, text);
    otAuditLog log;
    std::string error;
    EXPECT_EQ(log.open(path.c_str(), &error), -1) << text.substr(0, 200);
    EXPECT_FALSE(log.isOpen());
    EXPECT_EQ(ottest::readFile(path), text);
  }
  otAuditLog log;
  std::string error;
  EXPECT_EQ(log.open(dir.path().c_str(), &error), -1);
}

// A write that the file takes only in part (here: the file size limit) is cut off again, and
// the chain goes on from the last whole line.
TEST_F(Audit, PartOfALineIsCutOff) {
  makeLog(2);
  otAuditLog log;
  std::string error;
  ASSERT_EQ(log.open(path.c_str(), &error), 0) << error;
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  struct rlimit small = old;
  small.rlim_cur = (rlim_t)st.st_size + 40;
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const int partial = log.append(record(3));
  const int none = log.append(record(3));
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(partial, -1);
  EXPECT_EQ(none, -1);
  struct stat after;
  ASSERT_EQ(stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_size, st.st_size);
  EXPECT_EQ(log.lines(), 2);
  ASSERT_EQ(log.append(record(3)), 0);
  log.close();
  long long count = 0;
  EXPECT_EQ(otAuditVerify(path.c_str(), &error, &count), 0) << error;
  EXPECT_EQ(count, 3);
}

TEST_F(Audit, TailReadsTheLastLinesOnly) {
  std::mt19937 rng(7);
  const size_t sizes[] = {0, 1, 100, 65535, 65536, 65534, 3, 131071};
  for (int round = 0; round < 30; round++) {
    std::vector<std::string> lines;
    const int count = 1 + (int)(rng() % 6);
    for (int i = 0; i < count; i++)
      lines.push_back(std::string(sizes[rng() % 6], (char)('a' + i)));  // none over the limit
    if (round % 3 == 0) lines.insert(lines.begin(), std::string(70000, 'L'));  // before the tail
    // (An unfinished empty last line is no line at all.)
    const bool whole = round % 2 == 0 || lines.back().empty();
    std::string text = joinLines(lines);
    if (!whole) text.pop_back();
    ottest::writeFile(path, text);
    for (int n = 1; n <= count; n++) {
      otFd fd(open(path.c_str(), O_RDONLY));
      std::vector<std::string> got;
      bool gotWhole = !whole;
      std::string error;
      ASSERT_EQ(otAuditTail(fd.get(), n, &got, &gotWhole, &error), 0) << error;
      EXPECT_EQ(gotWhole, whole);
      EXPECT_EQ(got, std::vector<std::string>(lines.end() - n, lines.end())) << round << " " << n;
    }
    // The over-long line itself is refused once asked for.
    if (round % 3 == 0) {
      otFd fd(open(path.c_str(), O_RDONLY));
      std::vector<std::string> got;
      bool gotWhole;
      std::string error;
      EXPECT_EQ(otAuditTail(fd.get(), count + 1, &got, &gotWhole, &error), -1);
      EXPECT_EQ(error, "a line longer than 64 KiB");
    }
  }
  ottest::writeFile(path, std::string(sizes[7], 'x') + "\n");
  otFd fd(open(path.c_str(), O_RDONLY));
  std::vector<std::string> got;
  bool whole;
  std::string error;
  EXPECT_EQ(otAuditTail(fd.get(), 1, &got, &whole, &error), -1);
}

// ---- the verifier -------------------------------------------------------------------------

TEST_F(Audit, EveryOneByteChangeNamesItsLine) {
  const int n = 12;
  const std::string text = makeLog(n);
  ASSERT_EQ(verify(text), 0);
  // The line of every byte, and where the last line's seq and prev fields are.
  std::vector<int> lineOf;
  for (size_t i = 0, line = 1; i < text.size(); i++) {
    lineOf.push_back((int)line);
    if (text[i] == '\n') line++;
  }
  const size_t lastStart = text.rfind('\n', text.size() - 2) + 1;
  const size_t lastSeqEnd = text.find('\t', lastStart);
  const size_t lastPrevStart = text.size() - 65;
  for (size_t i = 0; i < text.size(); i++) {
    const bool provable = lineOf[i] < n || i < lastSeqEnd || i >= lastPrevStart;
    if (!provable) continue;  // a text of the last line: no later line holds its hash
    for (char to : {(char)(text[i] ^ 1), 'x', '\0', '\n'}) {
      if (to == text[i]) continue;
      std::string changed = text;
      changed[i] = to;
      std::string why;
      EXPECT_EQ(verify(changed, &why), lineOf[i])
          << "byte " << i << " to " << (int)to << ": " << why;
      EXPECT_EQ(why, "line " + std::to_string(lineOf[i]) + " was changed") << "byte " << i;
    }
  }
}

TEST_F(Audit, RemovedLinesAreNamed) {
  const int n = 8;
  const std::vector<std::string> lines = splitLines(makeLog(n));
  for (int i = 0; i + 1 < n; i++) {
    std::vector<std::string> cut = lines;
    cut.erase(cut.begin() + i);
    std::string why;
    EXPECT_EQ(verify(joinLines(cut), &why), i + 1);
    EXPECT_EQ(why, "line " + std::to_string(i + 1) + ": 1 line removed before it");
  }
  std::vector<std::string> cut = lines;
  cut.erase(cut.begin() + 2, cut.begin() + 5);
  std::string why;
  EXPECT_EQ(verify(joinLines(cut), &why), 3);
  EXPECT_EQ(why, "line 3: 3 lines removed before it");
  // The end of a file is not proven by the file: the last line removed leaves a whole chain.
  cut = lines;
  cut.pop_back();
  EXPECT_EQ(verify(joinLines(cut)), 0);
}

TEST_F(Audit, InsertedLinesAreNamed) {
  const int n = 8;
  const std::vector<std::string> lines = splitLines(makeLog(n));
  auto hashOf = [&](int line) {  // 1-based; 0: the zeros of line 1
    return line == 0 ? kZeros
                     : otSha256Hex((lines[line - 1] + "\n").data(), lines[line - 1].size() + 1);
  };
  auto insertAt = [&](int at, const std::string& l) {  // at: the new line's number
    std::vector<std::string> v = lines;
    v.insert(v.begin() + (at - 1), l);
    return joinLines(v);
  };
  // A copy of any line, anywhere; a copy put just before its original may be named in its
  // place, as the two are the same.
  for (int j = 1; j <= n; j++)
    for (int at = 1; at <= n + 1; at++) {
      std::string why;
      long long named = verify(insertAt(at, lines[j - 1]), &why);
      if (j == at)
        EXPECT_TRUE(named == at || named == at + 1) << j << " at " << at << ": " << why;
      else
        EXPECT_EQ(named, at) << j << " at " << at << ": " << why;
      EXPECT_NE(why.find(" was inserted"), std::string::npos) << why;
    }
  otAuditRecord madeUp = record(99);
  madeUp.target = "valve";
  // Made up with the next seq and the right prev: the line after it shows it.
  // (Put before the last line, it cannot be told from that line: neither has a line after it.)
  auto bare = [](std::string l) {
    l.pop_back();
    return l;
  };
  for (int at = 1; at < n; at++) {
    std::string why;
    EXPECT_EQ(verify(insertAt(at, bare(otAuditLine(at, madeUp, hashOf(at - 1)))), &why), at) << why;
    EXPECT_EQ(why, "line " + std::to_string(at) + " was inserted");
  }
  // Made up with a prev that names nothing. (Appended after the last line, it would look like
  // a changed last line: no line after it tells.)
  const std::string noPrev(64, 'e');
  for (int at = 1; at <= n; at++) {
    std::string why;
    EXPECT_EQ(verify(insertAt(at, bare(otAuditLine(at, madeUp, noPrev))), &why), at) << why;
    EXPECT_EQ(why, "line " + std::to_string(at) + " was inserted");
  }
}

// ---- the command --------------------------------------------------------------------------

TEST_F(Audit, CommandVerifies) {
  const std::string text = makeLog(10);
  sectest::Run r = sectest::run(dir, {OTAUDIT, "verify", path});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, path + ": 10 lines, chain intact\n");

  std::vector<std::string> lines = splitLines(text);
  struct Case {
    std::string text, says;
  };
  std::string oneByte = text;
  oneByte[text.find("setpoint4")] = 'S';
  std::vector<std::string> removed = lines, inserted = lines;
  removed.erase(removed.begin() + 5);
  inserted.insert(inserted.begin() + 3, lines[7]);
  const std::vector<Case> cases = {
      {oneByte, "line 4 was changed"},
      {joinLines(removed), "line 6: 1 line removed before it"},
      {joinLines(inserted), "line 4 was inserted"},
  };
  for (const Case& c : cases) {
    ottest::writeFile(other, c.text);
    r = sectest::run(dir, {OTAUDIT, "verify", other});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, other + ": " + c.says + "\n");
  }
  r = sectest::run(dir, {OTAUDIT, "verify", dir.file("missing")});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "otaudit: " + dir.file("missing") + ": No such file or directory\n");
  EXPECT_EQ(sectest::run(dir, {OTAUDIT, "verify"}).status, 2);
  EXPECT_EQ(sectest::run(dir, {OTAUDIT, "frobnicate", path}).status, 2);
}

TEST_F(Audit, CommandShowsTheLastLines) {
  makeLog(5);
  sectest::Run r = sectest::run(dir, {OTAUDIT, "show", path, "2"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> rows = splitLines(r.out);
  ASSERT_EQ(rows.size(), 3u) << r.out;
  EXPECT_EQ(rows[0].rfind("seq  time", 0), 0u) << rows[0];
  EXPECT_EQ(rows[1].rfind("4    2026-12-09T20:00:04.004Z  user1", 0), 0u) << rows[1];
  EXPECT_NE(rows[2].find("setpoint5"), std::string::npos);
  EXPECT_EQ(splitLines(sectest::run(dir, {OTAUDIT, "show", path}).out).size(), 6u);
  EXPECT_EQ(sectest::run(dir, {OTAUDIT, "show", path, "0"}).status, 2);
  EXPECT_EQ(sectest::run(dir, {OTAUDIT, "show", path, "2x"}).status, 2);
}

// Many threads at once: every line is whole, numbered and chained, and each thread's writes
// are in the order it made them.
TEST_F(Audit, HundredThousandWritesFromFourThreads) {
  otAuditLog log;
  std::string error;
  ASSERT_EQ(log.open(path.c_str(), &error), 0) << error;
  const int threads = 4, each = 25000;
  std::vector<std::thread> writers;
  for (int t = 0; t < threads; t++)
    writers.emplace_back([&log, t] {
      otAuditRecord r;
      r.user = "thread" + std::to_string(t);
      r.address = "127.0.0.1:1";
      r.target = "tag";
      r.accepted = true;
      for (int i = 0; i < each; i++) {
        r.newValue = std::to_string(i);
        if (log.append(r) != 0) ADD_FAILURE() << "append";
      }
    });
  for (std::thread& w : writers)
    w.join();
  EXPECT_EQ(log.lines(), threads * each);
  log.close();
  sectest::Run r = sectest::run(dir, {OTAUDIT, "verify", path});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, path + ": 100000 lines, chain intact\n");
  std::vector<int> next(threads, 0);
  for (const std::string& l : splitLines(ottest::readFile(path))) {
    size_t user = l.find("\tthread") + 7;
    int t = l[user] - '0';
    size_t value = l.find('\t', l.find("\ttag\t") + 5) + 1;
    ASSERT_EQ(std::stoi(l.substr(value)), next[t]) << l;
    next[t]++;
  }
  EXPECT_EQ(next, std::vector<int>(threads, each));
}

}  // namespace
