// The accounts file, the login line and the otaccounts command.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "otaccounts.h"
#include "otloginline.h"
#include "securetest.h"

namespace {

const otHashCost kCheap{1024, 1, 1};
// A hash of the right form (its salt and result are made up): parsing never hashes.
const std::string kHash =
    "$argon2id$v=19$m=1024,t=1,p=1$c2FsdHNhbHRzYWx0c2FsdA$"
    "aGFzaGhhc2hoYXNoaGFzaGhhc2hoYXNoaGFzaGhhc2g";

std::string lineWith(const std::string& hash) {
  return "anna operator " + hash + "\n";
}

// ---- the file -----------------------------------------------------------------------------

TEST(AccountsParse, RefusesBadLinesNamingThem) {
  struct Case {
    std::string text, error;
  };
  const std::string ok = lineWith(kHash);
  const std::vector<Case> cases = {
      {ok + "bob boss " + kHash + "\n", "line 2: unknown role \"boss\""},
      {ok + "bob none " + kHash + "\n", "line 2: unknown role \"none\""},
      {"# c\n\nb!b viewer " + kHash + "\n", "line 3: bad user name \"b!b\""},
      {"anna viewer\n", "line 1: expected user, role and password hash"},
      {ok + "\nanna viewer " + kHash + "\n", "line 3: user \"anna\" is already in the file"},
      {"anna viewer " + kHash + " more\n", "line 1: text after the password hash: \"more\""},
      {"anna viewer $2b$10$abcdefghijklmnopqrstuv\n",
       "line 1: not an Argon2id hash (\"$argon2id$...\") for user \"anna\""},
      {"anna viewer $argon2i$v=19$m=1024,t=1,p=1$c2FsdHNhbHRzYWx0c2FsdA$aGFzaA\n",
       "line 1: not an Argon2id hash (\"$argon2id$...\") for user \"anna\""},
      {ok + std::string(1100, '#') + "\n", "line 2: longer than 1024 bytes"},
  };
  for (const Case& c : cases) {
    otAccounts a;
    ASSERT_EQ(a.parse(ok.data(), ok.size(), nullptr), 0);
    std::string error;
    EXPECT_EQ(a.parse(c.text.data(), c.text.size(), &error), -1) << c.text;
    EXPECT_EQ(error, c.error);
    EXPECT_TRUE(a.accounts().empty()) << "a refused file leaves no accounts";
  }
  // A literal would end at the NUL: the line is put together.
  std::string nul = ok + "bob viewer x";
  nul += '\0';
  nul += "\n";
  otAccounts a;
  std::string error;
  EXPECT_EQ(a.parse(nul.data(), nul.size(), &error), -1);
  EXPECT_EQ(error, "line 2: NUL byte");
}

TEST(AccountsParse, RefusesHashesThatLibargon2WouldNotRead) {
  const std::string salt = "c2FsdHNhbHRzYWx0c2FsdA",
                    hash = "aGFzaGhhc2hoYXNoaGFzaGhhc2hoYXNoaGFzaGhhc2g";
  const std::string head = "$argon2id$v=19$";
  const std::vector<std::string> bad = {
      "$argon2id$v=16$m=1024,t=1,p=1$" + salt + "$" + hash,    // another version
      "$argon2id$m=1024,t=1,p=1$" + salt + "$" + hash,         // no version
      head + "m=1024,t=0,p=1$" + salt + "$" + hash,            // no pass
      head + "m=1024,t=01,p=1$" + salt + "$" + hash,           // leading zero
      head + "m=7,t=1,p=1$" + salt + "$" + hash,               // less memory than 8 per lane
      head + "m=99999999,t=1,p=1$" + salt + "$" + hash,        // beyond 4 GiB
      head + "m=1024,t=101,p=1$" + salt + "$" + hash,          // beyond 100 passes
      head + "t=1,m=1024,p=1$" + salt + "$" + hash,            // order
      head + "m=1024,t=1,p=1$" + salt + "$",                   // no result
      head + "m=1024,t=1,p=1$" + salt,                         // no result field
      head + "m=1024,t=1,p=1$c2FsdA$" + hash,                  // salt of 4 bytes
      head + "m=1024,t=1,p=1$" + salt + "=$" + hash,           // padding
      head + "m=1024,t=1,p=1$c2FsdHNhbHRzYWx0c2FsdB$" + hash,  // bits after the last byte
      head + "m=1024,t=1,p=1$" + salt + "$" + hash + "$x",
  };
  for (const std::string& h : bad) {
    otAccounts a;
    std::string error, text = lineWith(h);
    EXPECT_EQ(a.parse(text.data(), text.size(), &error), -1) << h;
    EXPECT_EQ(error, "line 1: bad Argon2id hash for user \"anna\"") << h;
  }
}

TEST(AccountsParse, ReadsCommentsBlanksAndCrlf) {
  const std::string text = "# user role hash\r\n\r\n   \n\t# indented comment\n  anna \t admin\t" +
                           kHash + "\r\nbob viewer " + kHash;  // the last line without its feed
  otAccounts a;
  std::string error;
  ASSERT_EQ(a.parse(text.data(), text.size(), &error), 0) << error;
  ASSERT_EQ(a.accounts().size(), 2u);
  EXPECT_EQ(a.accounts()[0].user, "anna");
  EXPECT_EQ(a.accounts()[0].role, OT_ROLE_ADMIN);
  EXPECT_EQ(a.accounts()[0].hash, kHash);
  EXPECT_EQ(a.accounts()[1].user, "bob");
  EXPECT_EQ(a.accounts()[1].role, OT_ROLE_VIEWER);
}

TEST(AccountsParse, HoldsAtMostTenThousandAccounts) {
  std::string text;
  for (int i = 0; i < 10000; i++)
    text += "u" + std::to_string(i) + " viewer " + kHash + "\n";
  otAccounts a;
  std::string error;
  ASSERT_EQ(a.parse(text.data(), text.size(), &error), 0) << error;
  EXPECT_EQ(a.accounts().size(), 10000u);
  EXPECT_EQ(a.set("one-more", OT_ROLE_VIEWER, "pw", &error, kCheap), -1);
  text += "u10000 viewer " + kHash + "\n";
  EXPECT_EQ(a.parse(text.data(), text.size(), &error), -1);
  EXPECT_EQ(error, "line 10001: more than 10000 accounts");
}

TEST(AccountsFile, FormatParseRoundTripAndWriteMode) {
  ottest::TempDir dir;
  otAccounts a;
  std::string error;
  ASSERT_EQ(a.set("anna", OT_ROLE_OPERATOR, "s3cret, \"quoted\"", &error, kCheap), 0) << error;
  ASSERT_EQ(a.set("e.ng-1@plant", OT_ROLE_ENGINEER, "tune", &error, kCheap), 0) << error;
  ASSERT_EQ(a.set("root", OT_ROLE_ADMIN, "x", &error, kCheap), 0) << error;
  const std::string path = dir.file("accounts");
  ottest::writeFile(path, "old text\n");
  chmod(path.c_str(), 0644);
  const mode_t old = umask(0);
  const int rc = a.write(path.c_str(), &error);
  umask(old);
  ASSERT_EQ(rc, 0) << error;
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(ottest::entryCount(dir.path().c_str()), 1) << "no new file left beside it";
  EXPECT_EQ(ottest::readFile(path), a.format());

  otAccounts b;
  ASSERT_EQ(b.read(path.c_str(), &error), 0) << error;
  ASSERT_EQ(b.accounts().size(), 3u);
  for (size_t i = 0; i < 3; i++) {
    EXPECT_EQ(b.accounts()[i].user, a.accounts()[i].user);
    EXPECT_EQ(b.accounts()[i].role, a.accounts()[i].role);
    EXPECT_EQ(b.accounts()[i].hash, a.accounts()[i].hash);
  }
  EXPECT_EQ(b.format(), a.format());
  int role = OT_ROLE_NONE;
  EXPECT_EQ(b.check("anna", "s3cret, \"quoted\"", &role), 1);
  EXPECT_EQ(role, OT_ROLE_OPERATOR);
}

TEST(AccountsFile, ReadAndWriteFailuresAreReported) {
  ottest::TempDir dir;
  otAccounts a;
  std::string error;
  const std::string missing = dir.file("none");
  EXPECT_EQ(a.read(missing.c_str(), &error), -1);
  EXPECT_EQ(error, missing + ": No such file or directory");
  EXPECT_EQ(a.read(dir.path().c_str(), &error), -1);
  EXPECT_EQ(error, dir.path() + ": not a regular file");
  const std::string big = dir.file("big");
  ottest::writeFile(big, std::string((4u << 20) + 1, '\n'));
  EXPECT_EQ(a.read(big.c_str(), &error), -1);
  EXPECT_EQ(error, big + ": larger than 4 MiB");
  ottest::writeFile(big, std::string(4u << 20, '\n'));
  EXPECT_EQ(a.read(big.c_str(), &error), 0) << "exactly 4 MiB is allowed";

  ASSERT_EQ(a.set("anna", OT_ROLE_OPERATOR, "pw", &error, kCheap), 0);
  const std::string inMissingFolder = dir.file("no/such/folder");
  EXPECT_EQ(a.write(inMissingFolder.c_str(), &error), -1);
  EXPECT_NE(error.find("cannot make a new file beside it"), std::string::npos) << error;
  // A failed rename (the name is a folder) keeps the old file and leaves no new one.
  const std::string folder = dir.file("folder");
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  ottest::writeFile(folder + "/keep", "x");
  EXPECT_EQ(a.write(folder.c_str(), &error), -1);
  EXPECT_EQ(ottest::entryCount(dir.path().c_str()), 2) << "big and folder only";
}

// ---- checks and changes -------------------------------------------------------------------

TEST(AccountsCheck, GoodWrongAndUnknown) {
  otAccounts a;
  std::string error;
  int role = 99;
  EXPECT_EQ(a.check("anna", "pw", &role), 0) << "no accounts at all";
  EXPECT_EQ(role, OT_ROLE_NONE);
  ASSERT_EQ(a.set("anna", OT_ROLE_ENGINEER, "pass word", &error, kCheap), 0);
  ASSERT_EQ(a.set("bob", OT_ROLE_VIEWER, "other", &error, kCheap), 0);
  EXPECT_EQ(a.check("anna", "pass word", &role), 1);
  EXPECT_EQ(role, OT_ROLE_ENGINEER);
  for (const char* wrong : {"pass wor", "pass word ", "Pass word", "other", ""}) {
    role = 99;
    EXPECT_EQ(a.check("anna", wrong, &role), 0) << wrong;
    EXPECT_EQ(role, OT_ROLE_NONE);
  }
  role = 99;
  EXPECT_EQ(a.check("nobody", "pass word", &role), 0);
  EXPECT_EQ(role, OT_ROLE_NONE);
  EXPECT_EQ(a.check("Anna", "pass word", &role), 0) << "names are case sensitive";
  EXPECT_EQ(a.check(nullptr, "x", &role), 0);
  EXPECT_EQ(a.check("anna", nullptr, &role), 0);
}

// The median time of check() in microseconds.
long long checkTime(const otAccounts& a, const char* user) {
  std::vector<long long> t;
  for (int i = 0; i < 7; i++) {
    int role;
    auto start = std::chrono::steady_clock::now();
    a.check(user, "wrong", &role);
    t.push_back(std::chrono::duration_cast<std::chrono::microseconds>(
                    std::chrono::steady_clock::now() - start)
                    .count());
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

TEST(AccountsCheck, UnknownUserCostsAsMuchAsAKnownOne) {
  // The dummy takes the cost of the accounts, not the default: at a cost well above the
  // default the two still match.
  otAccounts a;
  std::string error;
  ASSERT_EQ(a.set("anna", OT_ROLE_OPERATOR, "pw", &error, otHashCost{65536, 1, 1}), 0);
  const long long known = checkTime(a, "anna"), unknown = checkTime(a, "nobody");
  EXPECT_GT(known, 5000) << "a hash of 64 MiB takes milliseconds";
  EXPECT_GT(unknown, known / 2) << known << " us known, " << unknown << " us unknown";
  EXPECT_LT(unknown, known * 2) << known << " us known, " << unknown << " us unknown";
}

TEST(AccountsCheck, DefaultCost) {
  otAccounts a;
  std::string error;
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(a.set("anna", OT_ROLE_OPERATOR, "correct horse", &error), 0) << error;
  const long long hashMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - start)
                               .count();
  EXPECT_EQ(a.find("anna")->hash.rfind("$argon2id$v=19$m=19456,t=2,p=1$", 0), 0u)
      << a.find("anna")->hash;
  int role;
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(a.check("anna", "correct horse", &role), 1);
  const long long checkMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - start)
                                .count();
  printf("argon2id at the default cost: hash %lld ms, check %lld ms\n", hashMs, checkMs);
  RecordProperty("hash_ms", (int)hashMs);
  RecordProperty("check_ms", (int)checkMs);
}

TEST(AccountsSet, RefusesAndChanges) {
  otAccounts a;
  std::string error;
  struct Case {
    const char* user;
    int role;
    const char* password;
    const char* error;
  };
  const std::string long1025(1025, 'p');
  const Case refused[] = {
      {"", OT_ROLE_VIEWER, "pw", "bad user name (1 to 63 letters, digits, '_', '.', '-', '@')"},
      {"a b", OT_ROLE_VIEWER, "pw", "bad user name (1 to 63 letters, digits, '_', '.', '-', '@')"},
      {"anna", OT_ROLE_NONE, "pw", "unknown role"},
      {"anna", OT_ROLE_ADMIN + 1, "pw", "unknown role"},
      {"anna", OT_ROLE_VIEWER, nullptr, "a new account needs a password"},
      {"anna", OT_ROLE_VIEWER, "", "empty password"},
      {"anna", OT_ROLE_VIEWER, long1025.c_str(), "password longer than 1024 bytes"},
      {"anna", OT_ROLE_VIEWER, "p\rw", "password holds a carriage return"},
  };
  for (const Case& c : refused) {
    EXPECT_EQ(a.set(c.user, c.role, c.password, &error, kCheap), -1) << c.error;
    EXPECT_EQ(error, c.error);
  }
  EXPECT_EQ(a.set("anna", OT_ROLE_VIEWER, "pw", &error, otHashCost{4, 1, 1}), -1);
  EXPECT_EQ(error, "hash cost out of range");
  EXPECT_TRUE(a.accounts().empty());

  ASSERT_EQ(a.set("anna", OT_ROLE_VIEWER, "one", &error, kCheap), 0);
  ASSERT_EQ(a.set("bob", OT_ROLE_VIEWER, "one", &error, kCheap), 0);
  EXPECT_NE(a.find("anna")->hash, a.find("bob")->hash) << "each hash has its own salt";
  const std::string first = a.find("anna")->hash;
  ASSERT_EQ(a.set("anna", OT_ROLE_ADMIN, nullptr, &error, kCheap), 0);
  EXPECT_EQ(a.find("anna")->hash, first) << "a role change keeps the password";
  int role;
  EXPECT_EQ(a.check("anna", "one", &role), 1);
  EXPECT_EQ(role, OT_ROLE_ADMIN);
  ASSERT_EQ(a.set("anna", OT_ROLE_ADMIN, "two", &error, kCheap), 0);
  EXPECT_EQ(a.check("anna", "one", &role), 0);
  EXPECT_EQ(a.check("anna", "two", &role), 1);
  EXPECT_EQ(a.accounts().size(), 2u);

  EXPECT_EQ(a.remove("nobody"), -1);
  EXPECT_EQ(a.remove("anna"), 0);
  EXPECT_EQ(a.remove("anna"), -1);
  EXPECT_EQ(a.find("anna"), nullptr);
  EXPECT_EQ(a.check("anna", "two", &role), 0);
  ASSERT_EQ(a.accounts().size(), 1u);
  EXPECT_EQ(a.accounts()[0].user, "bob");
}

// ---- the login line -----------------------------------------------------------------------

TEST(LoginLine, RoundTrip) {
  const std::string longest(OT_LOGIN_MAX_PASSWORD, '\\');
  const std::string longUser(OT_LOGIN_MAX_USER, 'u');
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"anna", "s3cret"},
      {"anna", "s3cret, \"quoted\""},
      {"a.b-c_d@e", "back\\slash\\"},
      {"x", "commas,(paren)\"),(\"x\""},
      {"x", "line\nfeed and\ttab"},
      {"x", "\\n is not a line feed \\\" nor a quote"},
      {"x", "Grüße €"},
      {"x", "\""},
      {longUser, longest},
  };
  for (const auto& c : cases) {
    std::string line = otFormatLoginLine(c.first.c_str(), c.second.c_str());
    ASSERT_FALSE(line.empty()) << c.second;
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1) << "one line";
    std::string user, password;
    const char* why = nullptr;
    ASSERT_EQ(otParseLoginLine(line.data(), (int)line.size(), &user, &password, &why), 0)
        << line << ": " << why;
    EXPECT_EQ(user, c.first);
    EXPECT_EQ(password, c.second);
    // Without its line feed, and with "\r\n", the line reads the same.
    std::string crlf = line.substr(0, line.size() - 1) + "\r\n";
    ASSERT_EQ(otParseLoginLine(line.data(), (int)line.size() - 1, &user, &password, &why), 0);
    ASSERT_EQ(otParseLoginLine(crlf.data(), (int)crlf.size(), &user, &password, &why), 0);
    EXPECT_EQ(password, c.second);
  }
  EXPECT_EQ(otFormatLoginLine("anna", "a\"b\\c"), "login(\"anna\",\"a\\\"b\\\\c\")\n");
}

TEST(LoginLine, FormatRefuses) {
  const std::string tooLong(OT_LOGIN_MAX_PASSWORD + 1, 'p');
  const std::string longUser(OT_LOGIN_MAX_USER + 1, 'u');
  EXPECT_EQ(otFormatLoginLine("", "pw"), "");
  EXPECT_EQ(otFormatLoginLine(longUser.c_str(), "pw"), "");
  EXPECT_EQ(otFormatLoginLine("an\"na", "pw"), "");
  EXPECT_EQ(otFormatLoginLine("an na", "pw"), "");
  EXPECT_EQ(otFormatLoginLine(nullptr, "pw"), "");
  EXPECT_EQ(otFormatLoginLine("anna", ""), "");
  EXPECT_EQ(otFormatLoginLine("anna", nullptr), "");
  EXPECT_EQ(otFormatLoginLine("anna", tooLong.c_str()), "");
  EXPECT_EQ(otFormatLoginLine("anna", "p\rw"), "");
  EXPECT_TRUE(otLoginUserValid("Z9_.-@"));
  EXPECT_FALSE(otLoginUserValid("ä"));
}

TEST(LoginLine, ParseRefuses) {
  const std::string tooLong =
      "login(\"anna\",\"" + std::string(OT_LOGIN_MAX_PASSWORD + 1, 'p') + "\")";
  const std::string escapedLongest =
      "login(\"anna\",\"" + std::string(2 * OT_LOGIN_MAX_PASSWORD, '\\') + "\")";
  const std::string escapedTooLong =
      "login(\"anna\",\"" + std::string(2 * OT_LOGIN_MAX_PASSWORD + 2, '\\') + "\")";
  const std::string longUser = "login(\"" + std::string(OT_LOGIN_MAX_USER + 1, 'u') + "\",\"p\")";
  struct Case {
    std::string line;
    const char* why;
  };
  const std::vector<Case> cases = {
      {"", "not a login line"},
      {"login", "not a login line"},
      {"logon(\"anna\",\"pw\")", "not a login line"},
      {" login(\"anna\",\"pw\")", "not a login line"},
      {"login( \"anna\",\"pw\")", "not a login line"},
      {"login(\"anna\", \"pw\")", "not a login line"},
      {"login(\"anna\"\"pw\")", "not a login line"},
      {"login(\"anna\",\"pw\"", "not a login line"},
      {"login(\"anna\",\"pw\")x", "text after the closing parenthesis"},
      {"login(\"anna\",\"pw\") ", "text after the closing parenthesis"},
      {"login(\"anna\",\"pw\")\n\n", "text after the closing parenthesis"},
      {"login(\"anna\",\"pw\")\r", "text after the closing parenthesis"},
      {"login(\"anna\",\"p\rw\")", "line feed or carriage return inside the line"},
      {"login(\"anna\",\"pw)", "unterminated text"},
      {"login(\"anna\",\"pw\\\")", "unterminated text"},
      {"login(\"an na\",\"pw\")", "bad user name"},
      {"login(\"\",\"pw\")", "bad user name"},
      {"login(\"an\\\"na\",\"pw\")", "bad user name"},
      {longUser, "bad user name"},
      {"login(\"anna\",\"\")", "empty password"},
      {tooLong, "password too long"},
      {escapedTooLong, "password too long"},
      {std::string("login(\"anna\",\"p\0w\")", 18), "NUL byte in the line"},
  };
  for (const Case& c : cases) {
    std::string user = "kept", password = "kept";
    const char* why = nullptr;
    EXPECT_EQ(otParseLoginLine(c.line.data(), (int)c.line.size(), &user, &password, &why), -1)
        << c.line;
    EXPECT_STREQ(why, c.why) << c.line;
    EXPECT_EQ(user + password, "keptkept") << "nothing is set for a refused line";
  }
  std::string user, password;
  const char* why = nullptr;
  EXPECT_EQ(
      otParseLoginLine(escapedLongest.data(), (int)escapedLongest.size(), &user, &password, &why),
      0);
  EXPECT_EQ(password, std::string(OT_LOGIN_MAX_PASSWORD, '\\'));
  // A backslash before another character stays, as the protocol reads it everywhere.
  const std::string other = "login(\"anna\",\"a\\tb\")";
  ASSERT_EQ(otParseLoginLine(other.data(), (int)other.size(), &user, &password, &why), 0);
  EXPECT_EQ(password, "a\\tb");
  EXPECT_EQ(otParseLoginLine("x", -1, &user, &password, &why), -1);
  EXPECT_EQ(otParseLoginLine(nullptr, 0, &user, &password, &why), -1);
  // Every cut of a good line is refused.
  const std::string good = otFormatLoginLine("anna", "a\"b");
  for (size_t n = 0; n + 1 < good.size(); n++)
    EXPECT_EQ(otParseLoginLine(good.data(), (int)n, &user, &password, &why), -1) << n;
}

// ---- the command --------------------------------------------------------------------------

class AccountsCommand : public ::testing::Test {
 protected:
  sectest::Run run(const std::vector<std::string>& args, const std::string& input = "") {
    std::vector<std::string> all = {OTACCOUNTS};
    if (!args.empty() && args[0] != "-h") all.push_back(path);
    all.insert(all.end(), args.begin(), args.end());
    return sectest::run(dir, all, input);
  }
  otAccounts file() {
    otAccounts a;
    std::string error;
    EXPECT_EQ(a.read(path.c_str(), &error), 0) << error;
    return a;
  }
  ottest::TempDir dir;
  std::string path = dir.file("accounts");
};

TEST_F(AccountsCommand, AddPasswdRoleRemoveList) {
  sectest::Run r = run({"add", "anna", "operator"}, "first pw\n");
  ASSERT_EQ(r.status, 0) << r.err;
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(run({"add", "bob", "viewer"}, "crlf pw\r\n").status, 0);
  int role;
  EXPECT_EQ(file().check("anna", "first pw", &role), 1);
  EXPECT_EQ(role, OT_ROLE_OPERATOR);
  EXPECT_EQ(file().check("bob", "crlf pw", &role), 1);

  r = run({"add", "anna", "admin"}, "other\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "otaccounts: " + path + ": user \"anna\" exists (passwd changes a password)\n");
  EXPECT_EQ(file().find("anna")->role, OT_ROLE_OPERATOR);

  ASSERT_EQ(run({"passwd", "anna"}, "second pw").status, 0) << "a last line without its feed";
  EXPECT_EQ(file().check("anna", "first pw", &role), 0);
  EXPECT_EQ(file().check("anna", "second pw", &role), 1);
  EXPECT_EQ(role, OT_ROLE_OPERATOR);

  ASSERT_EQ(run({"role", "anna", "engineer"}).status, 0);
  EXPECT_EQ(file().check("anna", "second pw", &role), 1);
  EXPECT_EQ(role, OT_ROLE_ENGINEER);

  r = run({"list"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "anna  engineer\nbob   viewer\n");
  EXPECT_EQ(r.out.find('$'), std::string::npos) << "never a hash";

  ASSERT_EQ(run({"remove", "bob"}).status, 0);
  EXPECT_EQ(file().find("bob"), nullptr);
  EXPECT_EQ(run({"list"}).out, "anna  engineer\n");
}

// Runs at once do not lose each other's change: each hashes for milliseconds between reading
// the file and writing it.
TEST_F(AccountsCommand, RunsAtOnceKeepEveryChange) {
  std::string script;
  for (int i = 0; i < 6; i++)
    script += std::string("(echo pw | ") + OTACCOUNTS + " " + path + " add u" + std::to_string(i) +
              " viewer) & ";
  script += "wait";
  ASSERT_EQ(system(script.c_str()), 0);
  otAccounts a = file();
  EXPECT_EQ(a.accounts().size(), 6u) << a.format();
}

TEST_F(AccountsCommand, RefusalsAndUsage) {
  ASSERT_EQ(run({"add", "anna", "operator"}, "pw\n").status, 0);
  const std::string before = ottest::readFile(path);
  struct Case {
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string err;  // the end of the message
  };
  const std::vector<Case> cases = {
      {{"add", "bob", "boss"},
       "pw\n",
       1,
       "unknown role \"boss\" (viewer, operator, engineer or admin)\n"},
      {{"add", "b b", "viewer"},
       "pw\n",
       1,
       "bad user name \"b b\" (1 to 63 letters, digits, '_', '.', '-', '@')\n"},
      {{"add", "bob", "viewer"}, "", 1, "no password given\n"},
      {{"add", "bob", "viewer"}, "\n", 1, "empty password\n"},
      {{"add", "bob", "viewer"},
       std::string(1025, 'p') + "\n",
       1,
       "password longer than 1024 bytes\n"},
      {{"passwd", "nobody"}, "pw\n", 1, "no user \"nobody\"\n"},
      {{"role", "nobody", "admin"}, "", 1, "no user \"nobody\"\n"},
      {{"role", "anna", "none"},
       "",
       1,
       "unknown role \"none\" (viewer, operator, engineer or admin)\n"},
      {{"remove", "nobody"}, "", 1, "no user \"nobody\"\n"},
      {{"frobnicate"}, "", 2, "otaccounts: unknown command\n"},
      {{"add", "bob"}, "", 2, "otaccounts: wrong number of arguments\n"},
      {{"list", "extra"}, "", 2, "otaccounts: wrong number of arguments\n"},
  };
  for (const Case& c : cases) {
    sectest::Run r = run(c.args, c.input);
    EXPECT_EQ(r.status, c.status) << c.args[0] << " " << r.err;
    const std::string head = r.err.substr(0, r.err.find('\n') + 1);
    EXPECT_TRUE(head.size() >= c.err.size() &&
                head.compare(head.size() - c.err.size(), c.err.size(), c.err) == 0)
        << head;
  }
  EXPECT_EQ(ottest::readFile(path), before) << "a refusal changes nothing";
  sectest::Run r = run({"-h"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("usage: otaccounts FILE COMMAND", 0), 0u);
  EXPECT_EQ(sectest::run(dir, {OTACCOUNTS}).status, 2);
  // A damaged file is named with its line and left as it is.
  ottest::writeFile(path, "anna operator nohash\n");
  r = run({"role", "anna", "admin"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "otaccounts: " + path +
                       ": line 1: not an Argon2id hash (\"$argon2id$...\") for user \"anna\"\n");
  EXPECT_EQ(ottest::readFile(path), "anna operator nohash\n");
}

}  // namespace
