// qtDatabase and the database mask against SQLite (a file in a temporary directory) and a real
// PostgreSQL server: a throwaway cluster that this program makes, starts on a free loopback
// port and removes again. The same tests run against both. What the client would see is read
// from the other end of a socket pair (qtDatabase) or by a test client (the mask).
#include <fcntl.h>
#include <glob.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "hxtestutil.h"
#include "qtdatabase.h"
#include "sample.h"
#include "testutil.h"

// Qt adopts the thread that makes its first QObject (here the SQL driver, in the main thread)
// and keeps that thread's data, allocated inside QtCore, until the process ends; LeakSanitizer
// is told so by the library's name. A driver, query or record that we leaked would still be
// reported: such objects are allocated in our code.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libQt5Core.so\n";
}

using ::testing::Contains;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

// ---- The PostgreSQL server --------------------------------------------------------------------

// The directory of initdb and postgres: $OTKIT_PG_BINDIR, else Debian's newest
// /usr/lib/postgresql/<version>/bin.
std::string pgBinDir() {
  const char* env = getenv("OTKIT_PG_BINDIR");
  if (env != nullptr && *env != '\0') return env;
  std::string best;
  int bestVersion = -1;
  glob_t g;
  if (glob("/usr/lib/postgresql/*/bin/initdb", 0, nullptr, &g) == 0) {
    for (size_t i = 0; i < g.gl_pathc; i++) {
      std::string path = g.gl_pathv[i];
      int version = atoi(path.c_str() + strlen("/usr/lib/postgresql/"));
      if (version > bestVersion) {
        bestVersion = version;
        best = path.substr(0, path.size() - strlen("/initdb"));
      }
    }
  }
  globfree(&g);
  return best;
}

// Waits up to ms for child pid: its wait status, or -1 when it still runs.
int waitChild(pid_t pid, int ms) {
  for (int waited = 0;; waited += 10) {
    int st;
    if (waitpid(pid, &st, WNOHANG) == pid) return st;
    if (waited >= ms) return -1;
    usleep(10000);
  }
}

// A cluster of its own. The server refuses to run as root: as root, everything runs as
// "nobody" in a directory handed to that user. The server gets SIGQUIT (its immediate
// shutdown) when this process ends without stopping it.
class PgServer {
 public:
  PgServer() {
    error_ = start();
    if (!error_.empty()) stop();
  }
  ~PgServer() { stop(); }
  PgServer(const PgServer&) = delete;
  PgServer& operator=(const PgServer&) = delete;

  const std::string& error() const { return error_; }
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  std::string start() {
    std::string bin = pgBinDir();
    if (bin.empty() || access((bin + "/initdb").c_str(), X_OK) != 0)
      return "PostgreSQL's initdb was not found in " +
             (bin.empty() ? std::string("/usr/lib/postgresql/<version>/bin") : bin) +
             ": install the postgresql package or set OTKIT_PG_BINDIR";
    if (tmp_.path().empty()) return "no temporary directory";
    if (geteuid() == 0) {
      struct passwd* pw = getpwnam("nobody");
      if (pw == nullptr) return "running as root, but there is no user nobody to run PostgreSQL";
      uid_ = pw->pw_uid;
      gid_ = pw->pw_gid;
      if (chown(tmp_.path().c_str(), uid_, gid_) != 0) return "cannot hand the directory over";
    }
    std::string log = tmp_.file("log");
    if (run({bin + "/initdb", "-D", tmp_.file("data"), "-A", "trust", "-U", "postgres", "-E",
             "UTF8", "--locale=C", "--no-sync"},
            log, 120000) != 0)
      return "initdb failed:\n" + ottest::readFile(log);
    // A port that was free may be taken by the time the server binds it: try a few.
    for (int attempt = 0; attempt < 3; attempt++) {
      port_ = ottest::freePort();
      pid_ = spawn({bin + "/postgres", "-D", tmp_.file("data"), "-p", std::to_string(port_), "-k",
                    tmp_.path(), "-c", "listen_addresses=127.0.0.1", "-F"},
                   log, SIGQUIT);
      if (pid_ <= 0) return "cannot start postgres";
      for (int waited = 0; waited < 60000; waited += 100) {
        if (waitChild(pid_, 0) != -1) break;
        if (run({bin + "/pg_isready", "-q", "-h", "127.0.0.1", "-p", std::to_string(port_), "-U",
                 "postgres", "-d", "postgres"},
                tmp_.file("ready"), 10000) == 0)
          return "";
        usleep(100000);
      }
      if (waitChild(pid_, 0) == -1) return "postgres did not get ready:\n" + ottest::readFile(log);
      pid_ = -1;
    }
    return "postgres did not start:\n" + ottest::readFile(log);
  }

  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGQUIT);
    if (waitChild(pid_, 20000) == -1) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }

  // Runs argv to its end (killed after ms): its exit status, or -1.
  int run(const std::vector<std::string>& argv, const std::string& log, int ms) {
    pid_t pid = spawn(argv, log, SIGKILL);
    if (pid <= 0) return -1;
    int st = waitChild(pid, ms);
    if (st == -1) kill(pid, SIGKILL), waitpid(pid, &st, 0);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }

  // Starts argv as the server's user with its output appended to log.
  pid_t spawn(const std::vector<std::string>& argv, const std::string& log, int deathSignal) {
    std::vector<char*> args;
    for (const std::string& a : argv)
      args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    static const char* const env[] = {"LC_ALL=C", "TZ=UTC", "PATH=/usr/bin:/bin", nullptr};
    int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (out < 0) return -1;
    bool root = geteuid() == 0;
    if (root && fchown(out, uid_, gid_) != 0) {
      ::close(out);
      return -1;
    }
    const char* dir = tmp_.path().c_str();
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
      // Only async-signal-safe calls between fork and exec.
      if (root && (setgroups(0, nullptr) != 0 || setgid(gid_) != 0 || setuid(uid_) != 0))
        _exit(126);
      // After setuid, which clears it.
      prctl(PR_SET_PDEATHSIG, deathSignal);
      if (getppid() != parent) _exit(126);
      int in = ::open("/dev/null", O_RDONLY);
      if (in < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0 || chdir(dir) != 0)
        _exit(126);
      execve(args[0], args.data(), const_cast<char* const*>(env));
      _exit(127);
    }
    ::close(out);
    return pid;
  }

  ottest::TempDir tmp_;
  std::string error_;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
  pid_t pid_ = -1;
  int port_ = -1;
};

// Started by the first test that needs it, stopped after the last test.
std::unique_ptr<PgServer> pgServer;

PgServer& pg() {
  if (pgServer == nullptr) pgServer.reset(new PgServer);
  return *pgServer;
}

class PgEnvironment : public ::testing::Environment {
 public:
  void TearDown() override { pgServer.reset(); }
};
::testing::Environment* const pgEnvironment =
    ::testing::AddGlobalTestEnvironment(new PgEnvironment);

// ---- One database of the test's own on either server ------------------------------------------

struct DbConfig {
  std::string type, host, name, user;

  // A fresh database: a file in dir, or a new database of the PostgreSQL cluster. "" or why
  // not.
  std::string make(const std::string& driver, const ottest::TempDir& dir) {
    type = driver;
    if (driver == "QSQLITE") {
      name = dir.file("test.sqlite");
      return "";
    }
    if (!pg().error().empty()) return pg().error();
    static std::atomic<int> counter{0};
    host = pg().host();
    user = "postgres";
    name = "otkit_test" + std::to_string(++counter);
    qtDatabase admin;
    if (admin.open("QPSQL", host.c_str(), "postgres", "postgres", "") != 0)
      return "cannot connect to the PostgreSQL server of the test";
    std::string r = admin.dbQuery(("CREATE DATABASE " + name).c_str());
    return r == "0" ? "" : "CREATE DATABASE: " + r;
  }
  int open(qtDatabase& db, const char* dbname = nullptr) const {
    return db.open(type.c_str(), host.c_str(), dbname ? dbname : name.c_str(), user.c_str(), "");
  }
};

std::string backendName(const ::testing::TestParamInfo<const char*>& info) {
  return std::string(info.param) == "QSQLITE" ? "SQLite" : "PostgreSQL";
}

// A table of three rows: an integer, a NULL, a double and a text beyond ASCII.
const char* const kCreatePoints =
    "CREATE TABLE points (name VARCHAR(16), unit VARCHAR(16), value DOUBLE PRECISION, "
    "n INTEGER)";
const char* const kFillPoints =
    "INSERT INTO points VALUES ('TI101', 'degC', 61.5, 1), ('PI201', NULL, 4.25, 2), "
    "('Überhitzer', '°C', -0.5, 3)";

// ---- qtDatabase ------------------------------------------------------------------------------

class DbTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    std::string why = cfg.make(GetParam(), dir);
    ASSERT_EQ("", why);
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds));
    p.reset(new PARAM_(fds[0], 0));
  }
  void TearDown() override {
    p.reset();
    for (int fd : fds)
      if (fd >= 0) close(fd);
  }
  void fill(qtDatabase& db) {
    ASSERT_EQ(0, cfg.open(db));
    ASSERT_STREQ("0", db.dbQuery(kCreatePoints));
    ASSERT_STREQ("3", db.dbQuery(kFillPoints));
  }
  // The lines sent to the client so far, without their line feeds.
  std::vector<std::string> sent() {
    std::string all;
    char buf[65536];
    ssize_t n;
    while ((n = recv(fds[1], buf, sizeof buf, MSG_DONTWAIT)) > 0)
      all.append(buf, (size_t)n);
    std::vector<std::string> lines;
    size_t start = 0, end;
    while ((end = all.find('\n', start)) != std::string::npos) {
      lines.push_back(all.substr(start, end - start));
      start = end + 1;
    }
    return lines;
  }

  ottest::TempDir dir;
  DbConfig cfg;
  int fds[2] = {-1, -1};
  std::unique_ptr<PARAM_> p;
};

TEST_P(DbTest, OpensClosesReopensAndFails) {
  std::string name;
  {
    qtDatabase db;
    name = db.connectionName();
    EXPECT_EQ(-1, db.close());
    ASSERT_EQ(0, cfg.open(db));
    EXPECT_TRUE(QSqlDatabase::contains(QString::fromLatin1(name.c_str())));
    EXPECT_STREQ("0", db.dbQuery("CREATE TABLE t (a INTEGER)"));
    // Open again: a new connection to the same database, which keeps what was written.
    ASSERT_EQ(0, cfg.open(db));
    EXPECT_STREQ("0", db.dbQuery("SELECT a FROM t"));
    EXPECT_EQ(0, db.close());
    EXPECT_FALSE(QSqlDatabase::contains(QString::fromLatin1(name.c_str())));
    EXPECT_EQ(-1, db.close());
    EXPECT_STREQ("ERROR: database is NULL", db.dbQuery("SELECT a FROM t"));
    ASSERT_EQ(0, cfg.open(db));
  }
  // The object went while open: its connection went with it.
  EXPECT_FALSE(QSqlDatabase::contains(QString::fromLatin1(name.c_str())));

  // A failed open leaves nothing open, not even what was open before.
  qtDatabase db;
  ASSERT_EQ(0, cfg.open(db));
  std::string missing = cfg.type == "QSQLITE" ? dir.file("no/such/dir/x.sqlite") : "no_such_db";
  ottest::CaptureStdout out;
  EXPECT_EQ(-1, cfg.open(db, missing.c_str()));
  EXPECT_EQ(-1, db.close());
  EXPECT_EQ(-1, db.open("QNOSUCHDRIVER", "", "x", "", ""));
  EXPECT_STREQ("ERROR: database is NULL", db.dbQuery("SELECT 1"));
  EXPECT_EQ(-1, db.query(p.get(), "SELECT 1"));
  EXPECT_THAT(out.text(), HasSubstr("qtDatabase::open ERROR: "));
  EXPECT_THAT(sent(), ElementsAreArray(std::vector<std::string>{}));
}

TEST_P(DbTest, QueryErrorsAreShownInRed) {
  qtDatabase db;
  EXPECT_EQ(-1, db.query(p.get(), "SELECT 1"));  // nothing open: nothing to show
  ASSERT_EQ(0, cfg.open(db));
  ottest::CaptureStdout out;
  EXPECT_EQ(-1, db.query(p.get(), "SELECT missing FROM nowhere"));
  EXPECT_STREQ("ERROR: qtDatabase::query()", db.dbQuery("SELECT missing FROM nowhere"));
  std::string printed = out.text();
  std::vector<std::string> lines = sent();
  ASSERT_EQ(1u, lines.size());
  const std::string shown =
      "statusMessage(255,0,0,\"ERROR: qtDatabase::query(SELECT missing FROM nowhere) ";
  ASSERT_THAT(lines[0], StartsWith(shown));
  // The database's own words, both in the status bar and on standard output, twice.
  EXPECT_THAT(lines[0].substr(shown.size()), HasSubstr("nowhere"));
  size_t first = printed.find("qtDatabase::query ERROR: ");
  ASSERT_NE(std::string::npos, first);
  EXPECT_NE(std::string::npos, printed.find("qtDatabase::query ERROR: ", first + 1));
  EXPECT_NE(std::string::npos, printed.find("nowhere", first));
  // A failed query leaves no result behind.
  EXPECT_EQ(-1, db.nextRecord());
  EXPECT_EQ(0, db.query(p.get(), "SELECT 1"));
}

TEST_P(DbTest, PopulateTableWritesHeadersAndEveryCell) {
  qtDatabase db;
  ASSERT_NO_FATAL_FAILURE(fill(db));
  ASSERT_EQ(0, db.query(p.get(), "SELECT name, unit, value, n FROM points ORDER BY n"));
  ASSERT_EQ(0, db.populateTable(p.get(), 7));
  EXPECT_THAT(sent(), ElementsAreArray(std::vector<std::string>{
                          "setNumRows(7,3)",
                          "setNumCols(7,4)",
                          "setTableText(7,0,-1,\"name\")",
                          "setTableText(7,1,-1,\"unit\")",
                          "setTableText(7,2,-1,\"value\")",
                          "setTableText(7,3,-1,\"n\")",
                          "setTableText(7,0,0,\"TI101\")",
                          "setTableText(7,1,0,\"degC\")",
                          "setTableText(7,2,0,\"61.5\")",
                          "setTableText(7,3,0,\"1\")",
                          "setTableText(7,0,1,\"PI201\")",
                          "setTableText(7,1,1,\"\")",
                          "setTableText(7,2,1,\"4.25\")",
                          "setTableText(7,3,1,\"2\")",
                          "setTableText(7,0,2,\"Überhitzer\")",
                          "setTableText(7,1,2,\"°C\")",
                          "setTableText(7,2,2,\"-0.5\")",
                          "setTableText(7,3,2,\"3\")",
                      }));
  // The result is still there to be stepped through from its start, and can be shown again
  // from the middle of it without losing the place.
  ASSERT_EQ(0, db.nextRecord());
  EXPECT_STREQ("TI101", db.dbRecordFieldValue(0));
  ASSERT_EQ(0, db.nextRecord());
  ASSERT_EQ(0, db.populateTable(p.get(), 7));
  EXPECT_THAT(sent(), Contains("setNumRows(7,3)"));
  EXPECT_STREQ("PI201", db.dbRecordFieldValue(0));
}

TEST_P(DbTest, PopulateTableOfNothing) {
  qtDatabase db;
  EXPECT_EQ(-1, db.populateTable(p.get(), 7));
  EXPECT_THAT(sent(),
              ElementsAreArray({"statusMessage(255,0,0,\"ERROR: qtDatabase::populateTable() "
                                "db==NULL\")"}));
  ASSERT_NO_FATAL_FAILURE(fill(db));
  // No query yet, and a statement that gives no rows: no fields to show.
  const std::vector<std::string> empty = {
      "setNumRows(7,0)", "setNumCols(7,0)",
      "statusMessage(255,0,0,\"ERROR: qtDatabase::populateTable() record is empty\")"};
  EXPECT_EQ(-1, db.populateTable(p.get(), 7));
  EXPECT_THAT(sent(), ElementsAreArray(empty));
  ASSERT_EQ(0, db.query(p.get(), "UPDATE points SET n = n + 1"));
  EXPECT_EQ(-1, db.populateTable(p.get(), 7));
  EXPECT_THAT(sent(), ElementsAreArray(empty));
  // An empty result still has its columns.
  ASSERT_EQ(0, db.query(p.get(), "SELECT name, n FROM points WHERE n > 100"));
  EXPECT_EQ(0, db.populateTable(p.get(), 7));
  EXPECT_THAT(sent(),
              ElementsAreArray({"setNumRows(7,0)", "setNumCols(7,2)",
                                "setTableText(7,0,-1,\"name\")", "setTableText(7,1,-1,\"n\")"}));
  EXPECT_EQ(-1, db.nextRecord());
}

TEST_P(DbTest, StepsThroughRecords) {
  qtDatabase db;
  ASSERT_NO_FATAL_FAILURE(fill(db));
  ASSERT_EQ(0, db.query(p.get(), "SELECT name, value FROM points ORDER BY n"));
  // Before the first record there is none to read.
  EXPECT_STREQ("ERROR:", db.recordFieldValue(p.get(), 0));
  const char* expected[][2] = {{"TI101", "61.5"}, {"PI201", "4.25"}, {"Überhitzer", "-0.5"}};
  for (auto& row : expected) {
    ASSERT_EQ(0, db.nextRecord());
    EXPECT_STREQ(row[0], db.recordFieldValue(p.get(), 0));
    EXPECT_STREQ(row[1], db.recordFieldValue(p.get(), 1));
  }
  EXPECT_STREQ("ERROR:", db.recordFieldValue(p.get(), 2));
  EXPECT_STREQ("ERROR:", db.recordFieldValue(p.get(), -1));
  EXPECT_EQ(-1, db.nextRecord());
  EXPECT_EQ(-1, db.nextRecord());
  EXPECT_STREQ("ERROR:", db.recordFieldValue(p.get(), 0));
  const char* red = "statusMessage(255,0,0,\"ERROR: qtDatabase::recordFieldValue(";
  EXPECT_THAT(sent(), ElementsAreArray({std::string(red) + "0) record is empty\")",
                                        std::string(red) + "2) field is invalid\")",
                                        std::string(red) + "-1) field is invalid\")",
                                        std::string(red) + "0) record is empty\")"}));
}

TEST_P(DbTest, TextsWithoutConnectionRecord) {
  qtDatabase db;
  EXPECT_STREQ("ERROR: database is NULL", db.dbQuery("SELECT 1"));
  EXPECT_STREQ("ERROR: qtDatabase::recordFieldValue record is empty", db.dbRecordFieldValue(0));
  ASSERT_NO_FATAL_FAILURE(fill(db));
  // Rows of a result, rows changed by anything else.
  EXPECT_STREQ("3", db.dbQuery("SELECT name FROM points"));
  EXPECT_STREQ("0", db.dbQuery("SELECT name FROM points WHERE n > 100"));
  EXPECT_EQ(-1, db.nextRecord());
  EXPECT_STREQ("ERROR: qtDatabase::recordFieldValue record is empty", db.dbRecordFieldValue(0));
  EXPECT_STREQ("2", db.dbQuery("UPDATE points SET unit = 'K' WHERE n >= 2"));
  EXPECT_STREQ("ERROR: qtDatabase::query()", db.dbQuery("SELEKT"));
  // Counting the rows keeps the result at its start.
  EXPECT_STREQ("3", db.dbQuery("SELECT unit, n FROM points ORDER BY n DESC"));
  ASSERT_EQ(0, db.nextRecord());
  EXPECT_STREQ("K", db.dbRecordFieldValue(0));
  EXPECT_STREQ("3", db.dbRecordFieldValue(1));
  EXPECT_STREQ("ERROR: qtDatabase::recordFieldValue field is invalid", db.dbRecordFieldValue(2));
  EXPECT_THAT(sent(), ElementsAreArray(std::vector<std::string>{}));
}

TEST_P(DbTest, OneConnectionPerThread) {
  qtDatabase mine;
  ASSERT_NO_FATAL_FAILURE(fill(mine));
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++)
    threads.emplace_back([&] {
      qtDatabase db;
      if (cfg.open(db) != 0) return;
      if (std::string(db.dbQuery("SELECT name FROM points")) == "3") good++;
    });
  for (std::thread& t : threads)
    t.join();
  EXPECT_EQ(4, good.load());
  // A connection is not used from another thread than its own.
  ottest::CaptureStdout out;
  std::string r;
  std::thread([&] { r = mine.dbQuery("SELECT name FROM points"); }).join();
  EXPECT_EQ("ERROR: qtDatabase::query()", r);
  EXPECT_THAT(out.text(), HasSubstr("the database belongs to another thread"));
  EXPECT_STREQ("3", mine.dbQuery("SELECT name FROM points"));
}

INSTANTIATE_TEST_SUITE_P(Databases, DbTest, ::testing::Values("QSQLITE", "QPSQL"), backendName);

// ---- The database mask -----------------------------------------------------------------------

class DbMaskTest : public hxtest::HxServerTest, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    saved = sampleSettings;
    std::string why = cfg.make(GetParam(), dir);
    ASSERT_EQ("", why);
    sampleSettings.dbType = cfg.type.c_str();
    sampleSettings.dbName = cfg.name.c_str();
    sampleSettings.dbHost = cfg.host.c_str();
    sampleSettings.dbUser = cfg.user.c_str();
  }
  void TearDown() override {
    HxServerTest::TearDown();
    sampleSettings = saved;
  }
  void startMask() {
    start([this](PARAM_* p) {
      result = show_maskdb(p);
      return result.load();
    });
  }
  // The lines up to and including the first one that begins with prefix, without their line
  // feeds; the last is "" when none came.
  static std::vector<std::string> until(hxtest::Client& c, const std::string& prefix) {
    std::vector<std::string> lines;
    for (;;) {
      std::string l = c.line();
      if (!l.empty()) l.pop_back();
      lines.push_back(l);
      if (l.empty() || l.compare(0, prefix.size(), prefix) == 0) return lines;
    }
  }

  ottest::TempDir dir;
  DbConfig cfg;
  SampleSettings saved;
  std::atomic<int> result{-100};
};

const char* const kLoaded = "statusMessage(0,0,0,\"6 measuring points from ";

TEST_P(DbMaskTest, FillsTheDatabaseOnceAndGoesBack) {
  startMask();
  for (int client = 0; client < 2; client++) {
    // The first client makes the table, the second finds it.
    hxtest::Client c(port());
    std::vector<std::string> lines = until(c, kLoaded);
    ASSERT_THAT(lines.back(), StartsWith(kLoaded));
    EXPECT_THAT(lines, Contains("setNumRows(4,6)"));
    EXPECT_THAT(lines, Contains("setTableText(4,4,-1,\"high_limit\")"));
    EXPECT_THAT(lines, Contains("setTableText(4,0,0,\"FI301\")"));
    c.send("QPushButton(1)\n");
    ASSERT_TRUE(hxtest::eventually([&] { return finished == client + 1; }));
    EXPECT_EQ(MASK_PLANT, result.load());
  }
}

TEST_P(DbMaskTest, ShowsTheClickedRowAndSortsByColumn) {
  ottest::CaptureStdout out;
  startMask();
  hxtest::Client c(port());
  ASSERT_THAT(until(c, kLoaded).back(), StartsWith(kLoaded));
  c.send("tableClicked(4,0,5,1)\n");
  std::vector<std::string> lines = until(c, "setBackgroundColor(5,");
  EXPECT_THAT(lines,
              Contains("setText(5,\"TI102 (Reactor temperature): 182.5 degC, limit 175 degC\")"));
  EXPECT_EQ("setBackgroundColor(5,255,160,160)", lines.back());  // above its limit
  c.send("tableClicked(4,1,2,1)\n");
  lines = until(c, "setBackgroundColor(5,");
  EXPECT_THAT(lines, Contains("setText(5,\"PI201 (Reactor pressure): 4.25 bar, limit 6 bar\")"));
  EXPECT_EQ("setBackgroundColor(5,200,255,200)", lines.back());
  c.send("tableClicked(4,0,99,1)\n");
  EXPECT_EQ("setText(5,\"row 99: no such measuring point\")", until(c, "setText(5,").back());

  // The value column's header sorts up, a right click into the same column down.
  c.send("tableClicked(4,3,-1,1)\n");
  lines = until(c, kLoaded);
  EXPECT_THAT(lines, Contains("setTableText(4,0,0,\"PI201\")"));
  EXPECT_THAT(lines, Contains("setTableText(4,0,5,\"TI102\")"));
  c.send("tableClicked(4,3,2,3)\n");
  lines = until(c, kLoaded);
  EXPECT_THAT(lines, Contains("setTableText(4,0,0,\"TI102\")"));
  EXPECT_THAT(lines, Contains("setTableText(4,0,5,\"PI201\")"));
  // The row shown is the row of the table as sorted now.
  c.send("tableClicked(4,0,1,1)\n");
  EXPECT_THAT(until(c, "setText(5,").back(), StartsWith("setText(5,\"SI501 "));

  c.send("QPushButton(1)\n");
  ASSERT_TRUE(hxtest::eventually([&] { return finished == 1; }));
  EXPECT_EQ(MASK_PLANT, result.load());
  std::string printed = out.text();
  EXPECT_THAT(printed, HasSubstr("TABLE_CLICKED_EVENT(0,5,button=1)\n"));
  EXPECT_THAT(printed, HasSubstr("TABLE_CLICKED_EVENT(3,2,button=3)\n"));
  EXPECT_THAT(printed, HasSubstr("BUTTON_EVENT id=1\n"));
}

TEST_P(DbMaskTest, OtherEventsKeepItInItsLoop) {
  ottest::CaptureStdout out;
  startMask();
  {
    hxtest::Client c(port());
    ASSERT_THAT(until(c, kLoaded).back(), StartsWith(kLoaded));
    c.send("slider(9,3)\ntext(9,\"abc\")\ntab(2,1)\ntableClicked(8,0,0,1)\nQPushButton(2)\n");
    // The reload comes last: everything before it has been handled.
    std::vector<std::string> lines = until(c, kLoaded);
    ASSERT_THAT(lines.back(), StartsWith(kLoaded));
    EXPECT_THAT(lines, Contains("setNumRows(4,6)"));
    EXPECT_EQ(0, finished.load());
  }
  // The client went: the mask ends.
  ASSERT_TRUE(hxtest::eventually([&] { return finished == 1; }));
  EXPECT_EQ(-1, result.load());
  std::string printed = out.text();
  for (const char* line : {"SLIDER_EVENT val=3\n", "TEXT_EVENT id=9 abc\n", "TAB_EVENT(2,page=1)\n",
                           "TABLE_CLICKED_EVENT(0,0,button=1)\n", "BUTTON_EVENT id=2\n"})
    EXPECT_THAT(printed, HasSubstr(line));
}

INSTANTIATE_TEST_SUITE_P(Databases, DbMaskTest, ::testing::Values("QSQLITE", "QPSQL"), backendName);

// The first status message a client gets, with its line feed; "" when none comes.
std::string firstStatus(hxtest::Client& c) {
  std::string l;
  while (!(l = c.line()).empty() && l.compare(0, 14, "statusMessage(") != 0) {
  }
  return l;
}

class DbMaskDefaults : public hxtest::HxServerTest {
 protected:
  void SetUp() override { saved = sampleSettings; }
  void TearDown() override {
    HxServerTest::TearDown();
    sampleSettings = saved;
  }
  SampleSettings saved;
  std::atomic<int> result{-100};
};

// Without a name, SQLite's database is "otsample.sqlite" in the working directory; a database
// that cannot be opened leaves the mask usable.
TEST_F(DbMaskDefaults, MakesItsFileAndSurvivesAMissingDatabase) {
  ottest::TempDir dir;
  ottest::ScopedChdir cd(dir.path());
  sampleSettings.dbType = "QSQLITE";
  sampleSettings.dbName = nullptr;
  start([this](PARAM_* p) {
    result = show_maskdb(p);
    return result.load();
  });
  {
    hxtest::Client c(port());
    EXPECT_EQ("statusMessage(0,0,0,\"6 measuring points from otsample.sqlite\")\n", firstStatus(c));
    c.send("QPushButton(1)\n");
    ASSERT_TRUE(hxtest::eventually([&] { return finished == 1; }));
    EXPECT_EQ(MASK_PLANT, result.load());
  }
  EXPECT_EQ(0, access(dir.file("otsample.sqlite").c_str(), F_OK));

  ottest::CaptureStdout out;
  sampleSettings.dbName = "no/such/dir/x.sqlite";
  {
    hxtest::Client c(port());
    EXPECT_EQ("statusMessage(255,0,0,\"ERROR: cannot open the database no/such/dir/x.sqlite\")\n",
              firstStatus(c));
    c.send("QPushButton(2)\nQPushButton(1)\n");  // a reload tries again, and fails again
    ASSERT_TRUE(hxtest::eventually([&] { return finished == 2; }));
    EXPECT_EQ(MASK_PLANT, result.load());
  }
  std::string printed = out.text();
  size_t first = printed.find("qtDatabase::open ERROR: ");
  ASSERT_NE(std::string::npos, first);
  EXPECT_NE(std::string::npos, printed.find("qtDatabase::open ERROR: ", first + 1));
}

}  // namespace
