#include "otdataacquisition.h"
#include "otdataacquisitionprovider.h"

#include <gtest/gtest.h>

#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/shm.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ipctest.h"
#include "testutil.h"

namespace {

const char* const kNotFound = "DAQ_ERROR: variable not found in shared memory";
const char* const kIdentFalse = "DAQ_ERROR: shmheader->ident is false";

// Segment, mailbox and item lists live in a temporary directory; TearDown removes every
// segment and queue whose key belongs to a file there and fails if one stays behind.
class DataAcquisitionTest : public ::testing::Test {
 protected:
  void TearDown() override {
    std::vector<key_t> keys;
    for (const std::string& file : ottest::filesIn(dir))
      keys.push_back(ftok(file.c_str(), 'b'));
    ottest::removeAndExpectGone(
        keys, "segment", [](key_t key) { return shmget(key, 0, 0); },
        [](int id) { shmctl(id, IPC_RMID, nullptr); });
    ottest::removeAndExpectGone(
        keys, "queue", [](key_t key) { return msgget(key, 0); },
        [](int id) { msgctl(id, IPC_RMID, nullptr); });
  }
  // The image as raw bytes, through a mapping of its own.
  char* raw(long size) {
    rawShm.reset(new otSharedMemory(shm.c_str(), (unsigned long)size));
    return static_cast<char*>(rawShm->getUserAdr());
  }
  static int field(const char* image, int offset) {
    int v;
    memcpy(&v, image + offset, sizeof(v));
    return v;
  }
  static void setField(char* image, int offset, int v) { memcpy(image + offset, &v, sizeof(v)); }
  // Runs body in a child process and returns what it printed.
  static std::string inChild(const std::function<void()>& body) {
    std::string out;
    int status = ottest::runChild(
        [&] {
          body();
          return 0;
        },
        &out);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    return out;
  }

  ottest::TempDir dir;
  std::string shm = dir.file("daq.shm");
  std::string mbx = dir.file("daq.mbx");
  std::unique_ptr<otSharedMemory> rawShm;
};

TEST_F(DataAcquisitionTest, FreshImageIsEmptyButValidForAReaderInAnotherProcess) {
  otDataAcquisitionProvider provider(16, shm.c_str(), 1024);
  EXPECT_EQ(provider.shmStatus(), 0);
  EXPECT_EQ(provider.firstItem(), nullptr);
  const char* image = raw(1024);
  EXPECT_EQ(memcmp(image, "daq", 4), 0);
  EXPECT_EQ(field(image, 0), 7430500);
  EXPECT_EQ(field(image, 4), 0);
  EXPECT_EQ(field(image, 8), 16);
  EXPECT_EQ(field(image, 12), 0);

  std::string out = inChild([&] {
    otDataAcquisition reader(mbx.c_str(), shm.c_str(), 1024);
    printf("%s|%d|%s|%d\n", reader.stringValue("x"), reader.shmStatus(),
           reader.firstVariable() ? "name" : "null", reader.intValue("x"));
  });
  EXPECT_EQ(out, std::string(kNotFound) + "|0|null|8388608\n");
}

TEST_F(DataAcquisitionTest, AddedValuesReachAReaderInAnotherProcess) {
  otDataAcquisitionProvider provider(16, shm.c_str(), 1024);
  ASSERT_EQ(provider.setAllowAddValues(1, 10), 0);
  EXPECT_EQ(provider.setIntValue("temp", 42), 0);
  EXPECT_EQ(provider.setFloatValue("level", -5.0f), 0);
  EXPECT_EQ(provider.setStringValue("state", "running"), 0);
  EXPECT_EQ(provider.setLifeCounter(7), 0);
  EXPECT_EQ(provider.setReadErrorCount(2), 0);
  EXPECT_EQ(provider.setWriteErrorCount(3), 0);
  EXPECT_EQ(provider.intValue("temp"), 42);

  // Record 1 starts at 88 + R, R = 10 + 16 + 2; its value at record offset 11.
  const char* image = raw(1024);
  EXPECT_EQ(field(image, 12), 3);
  EXPECT_STREQ(image + 88 + 28, "level");
  EXPECT_STREQ(image + 88 + 28 + 11, "-5.000000");

  std::string out = inChild([&] {
    otDataAcquisition reader(mbx.c_str(), shm.c_str(), 1024);
    printf("%d %s %d %.1f %d %d %d", reader.intValue("temp"), reader.stringValue("level"),
           reader.intValue("level"), (double)reader.floatValue("level"), reader.lifeCounter(),
           reader.readErrorCount(), reader.writeErrorCount());
    for (const char* n = reader.firstVariable(); n; n = reader.nextVariable())
      printf(" %s=%s", n, reader.stringValue(n));
    printf(" %s\n", reader.nextVariable() ? "more" : "end");
  });
  EXPECT_EQ(out, "42 -5.000000 8388608 -5.0 7 2 3 temp=42 level=-5.000000 state=running end\n");
}

TEST_F(DataAcquisitionTest, ReaderPostsOneRequestLinePerWrite) {
  std::string value(6000, 'v');
  inChild([&] {
    otDataAcquisition reader(mbx.c_str(), shm.c_str(), 1024);
    int r = reader.writeIntValue("valve", 1) | reader.writeStringValue("mode", "auto") |
            reader.writeFloatValue("sp", 1.5f) | reader.writeStringValue("long", value.c_str());
    printf("%d %d\n", r, reader.writeStringValue(nullptr, "x"));
  });
  otMailbox mailbox(mbx.c_str());
  std::vector<char> buf(8192);
  std::vector<std::string> lines;
  int n;
  while ((n = mailbox.read(buf.data(), (int)buf.size(), 0)) > 0)
    lines.emplace_back(buf.data(), (size_t)n);
  // A line too long for the mailbox's formatter still arrives whole, with its line end.
  EXPECT_EQ(lines, (std::vector<std::string>{"valve,1\n", "mode,auto\n", "sp,1.500000\n",
                                             "long," + value + "\n"}));
}

TEST_F(DataAcquisitionTest, ItemListNamesTheRecords) {
  std::string list = dir.file("items.txt");
  ottest::writeFile(list,
                    "# comment\n indented\nvalve 1 extra\npump\tx\n\nlevel\r\n\x80"
                    "bad\nverylongname_is_cut\n");
  // Four names; the longest line (20 with its line end) sets maxNameLength: R = 20 + 8 + 2,
  // 88 + 4 * 30 = 208 bytes needed.
  otDataAcquisitionProvider provider(8, shm.c_str(), 208);
  ASSERT_EQ(provider.readItemList(list.c_str()), 0);
  std::vector<std::string> names;
  for (const char* n = provider.firstItem(); n; n = provider.nextItem())
    names.push_back(n);
  EXPECT_EQ(names, (std::vector<std::string>{"valve", "pump", "level", "verylong"}));
  const char* image = raw(208);
  EXPECT_EQ(field(image, 4), 20);
  EXPECT_EQ(field(image, 12), 4);
  EXPECT_STREQ(image + 88 + 30 * 3, "verylong");

  otDataAcquisition reader(mbx.c_str(), shm.c_str(), 208);
  EXPECT_STREQ(reader.stringValue("pump"), "");
  // Values are cut to maxValueLength; adding is off, so an unknown name fails.
  EXPECT_EQ(provider.setStringValue("pump", "123456789"), 0);
  EXPECT_STREQ(reader.stringValue("pump"), "12345678");
  EXPECT_EQ(reader.intValue("pump"), 12345678);
  EXPECT_EQ(provider.setStringValue("other", "1"), DAQ_ERROR_INT);
}

TEST_F(DataAcquisitionTest, ItemListThatDoesNotFitChangesNothing) {
  std::string list = dir.file("items.txt");
  ottest::writeFile(list, "valve 1 extra\npump\tx\nlevel\r\nverylongname_is_cut\n");
  otDataAcquisitionProvider provider(8, shm.c_str(), 207);
  ASSERT_EQ(provider.setAllowAddValues(1, 10), 0);
  ASSERT_EQ(provider.setStringValue("a", "1"), 0);
  ottest::CaptureStdout capture;
  EXPECT_EQ(provider.readItemList(list.c_str()), DAQ_ERROR_INT);
  std::string missing = dir.file("missing.txt");
  EXPECT_EQ(provider.readItemList(missing.c_str()), DAQ_ERROR_INT);
  EXPECT_EQ(capture.text(),
            "otDataAcquisitionProvider::shared memmory is too small sharedMemorySize=207 "
            "sizeNeeded=208\ncould not open itemlist " +
                missing + "\n");
  EXPECT_EQ(field(raw(207), 4), 10);
  EXPECT_STREQ(provider.firstItem(), "a");
  EXPECT_STREQ(provider.stringValue("a"), "1");
}

TEST_F(DataAcquisitionTest, AddingValuesOnlyWhenAllowedAndRoomIsLeft) {
  // R = 4 + 8 + 2 = 14: a second record needs 88 + 28 = 116 bytes, below 117.
  otDataAcquisitionProvider provider(8, shm.c_str(), 117);
  ottest::CaptureStdout capture;
  EXPECT_EQ(provider.setAllowAddValues(0, 4), 0);
  EXPECT_EQ(provider.setStringValue("ab", "1"), DAQ_ERROR_INT);
  EXPECT_EQ(provider.setAllowAddValues(1, 0), 0);
  EXPECT_EQ(provider.setStringValue("ab", "1"), 0);
  EXPECT_EQ(provider.setStringValue("cd", "2"), 0);
  EXPECT_EQ(provider.setStringValue("ef", "3"), DAQ_ERROR_INT);
  EXPECT_EQ(provider.setStringValue("abcde", "4"), DAQ_ERROR_INT);  // longer than 4
  EXPECT_EQ(provider.setStringValue(nullptr, "4"), DAQ_ERROR_INT);
  EXPECT_EQ(provider.setStringValue("ab", "123456789012"), 0);
  EXPECT_EQ(capture.text(),
            "otDataAcquisitionProvider: ERROR shared memory too small to add variable=ef val=3 "
            "please increase shared memory size");
  EXPECT_STREQ(provider.stringValue("ab"), "12345678");
  EXPECT_STREQ(provider.stringValue("cd"), "2");
  EXPECT_STREQ(provider.stringValue("ef"), "DAQ_ERROR");
  // Another name length would move the records that exist: refused, the records stay.
  EXPECT_EQ(provider.setAllowAddValues(1, 6), DAQ_ERROR_INT);
  EXPECT_EQ(provider.setAllowAddValues(1, 4), 0);
  EXPECT_STREQ(provider.stringValue("cd"), "2");
}

TEST_F(DataAcquisitionTest, ValueTextsParseOnlyFromALeadingDigit) {
  otDataAcquisitionProvider provider(16, shm.c_str(), 1024);
  provider.setAllowAddValues(1, 8);
  const struct {
    const char* value;
    int asInt;
    float asFloat;
  } cases[] = {
      {"-5", DAQ_ERROR_INT, -5.0f},
      {"12.5", 12, 12.5f},
      {"abc", DAQ_ERROR_INT, 8388608.0f},
      {"", DAQ_ERROR_INT, 8388608.0f},
      {"-", DAQ_ERROR_INT, 8388608.0f},
      {"99999999999", DAQ_ERROR_INT, 99999999999.0f},
      {"7", 7, 7.0f},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(provider.setStringValue("v", c.value), 0);
    EXPECT_EQ(provider.intValue("v"), c.asInt) << c.value;
    EXPECT_EQ(provider.floatValue("v"), c.asFloat) << c.value;
  }
  EXPECT_EQ(provider.intValue("missing"), DAQ_ERROR_INT);
  EXPECT_EQ(provider.floatValue("missing"), 8388608.0f);
}

TEST_F(DataAcquisitionTest, ReaderReportsMissingInvalidAndDamagedImages) {
  {  // The segment exists but is smaller than asked for: no header at all.
    otSharedMemory small(shm.c_str(), 100);
    otDataAcquisition reader(mbx.c_str(), shm.c_str(), 1000);
    EXPECT_STREQ(reader.stringValue("x"), "DAQ_ERROR: shmheader==NULL");
    EXPECT_EQ(reader.intValue("x"), DAQ_ERROR_INT);
    EXPECT_EQ(reader.floatValue("x"), 8388608.0f);
    EXPECT_EQ(reader.shmStatus(), DAQ_ERROR_INT);
    EXPECT_EQ(reader.lifeCounter(), DAQ_ERROR_INT);
    EXPECT_STREQ(reader.firstVariable(), "DAQ_ERROR");
    EXPECT_EQ(reader.shmKey(), -1);
    otDataAcquisitionProvider provider(8, shm.c_str(), 1000);
    EXPECT_EQ(provider.shmStatus(), DAQ_ERROR_INT);
    EXPECT_EQ(provider.setLifeCounter(1), DAQ_ERROR_INT);
    EXPECT_EQ(provider.firstItem(), nullptr);
    ASSERT_EQ(small.deleteSharedMemory(), 0);
  }
  // Never initialised: ident is not "daq".
  otDataAcquisition reader(mbx.c_str(), shm.c_str(), 200);
  EXPECT_EQ(reader.shmStatus(), 0);
  EXPECT_EQ(reader.shmKey(), (int)ftok(shm.c_str(), 'b'));
  EXPECT_STREQ(reader.stringValue("x"), kIdentFalse);
  EXPECT_STREQ(reader.firstVariable(), "DAQ_ERROR");
  EXPECT_EQ(reader.nextVariable(), nullptr);

  // A foreign header whose records would reach past the segment, or with a negative length.
  char* image = raw(200);
  setField(image, 0, 7430500);
  setField(image, 4, 10);
  setField(image, 8, 10);
  setField(image, 12, 6);  // 88 + 6 * 22 > 200
  EXPECT_STREQ(reader.stringValue("x"), kIdentFalse);
  setField(image, 12, 1);
  setField(image, 4, -1);
  EXPECT_STREQ(reader.stringValue("x"), kIdentFalse);
  // Slots without terminator are not handed out.
  setField(image, 4, 10);
  memset(image + 88, 'x', 22);
  EXPECT_STREQ(reader.firstVariable(), "DAQ_ERROR");
  EXPECT_STREQ(reader.stringValue("xxxxxxxxxx"), kNotFound);
  image[88 + 1] = '\0';
  EXPECT_STREQ(reader.firstVariable(), "x");
  EXPECT_STREQ(reader.stringValue("x"), kIdentFalse);
  image[88 + 21] = '\0';
  EXPECT_STREQ(reader.stringValue("x"), "xxxxxxxxxx");
}

}  // namespace
