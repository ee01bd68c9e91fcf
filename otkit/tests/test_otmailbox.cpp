#include "otmailbox.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ipctest.h"
#include "testutil.h"

namespace {

int systemMaxMessage() {
  std::string text = ottest::readFile("/proc/sys/kernel/msgmax");
  return text.empty() ? 8192 : std::atoi(text.c_str());
}

// Every test works on files in its own temporary directory. TearDown removes each queue whose
// key belongs to a file there and fails the test if one could not be removed, so that no run
// leaves queues behind in the system.
class MailboxTest : public ::testing::Test {
 protected:
  void SetUp() override { path = dir.file("requests.mbx"); }
  void TearDown() override {
    for (const std::string& file : ottest::filesIn(dir))
      keys.push_back(ftok(file.c_str(), 'b'));
    ottest::removeAndExpectGone(
        keys, "queue", [](key_t key) { return msgget(key, 0); },
        [](int id) { msgctl(id, IPC_RMID, nullptr); });
  }
  int queueId() { return msgget(ftok(path.c_str(), 'b'), 0); }

  ottest::TempDir dir;
  std::string path;
  std::vector<key_t> keys;
};

TEST_F(MailboxTest, TwoProcessesMeetByPath) {
  otMailbox mbx(path.c_str());
  ASSERT_EQ(mbx.status, otMailbox::MAILBOX_OK);
  ASSERT_EQ(mbx.write("ping"), 0);
  int wstatus = ottest::runChild([&] {
    otMailbox child(path.c_str());
    char buf[16];
    if (child.status != otMailbox::MAILBOX_OK) return 1;
    if (child.read(buf, sizeof(buf)) != 5 || std::strcmp(buf, "ping") != 0) return 2;
    const unsigned char request[] = {1, 6, 0, 0x10, 0, 0};
    if (child.write(request, sizeof(request)) != 0) return 3;
    return child.printf("pump,%d\n", 1) == 0 ? 0 : 4;
  });
  ASSERT_TRUE(WIFEXITED(wstatus));
  ASSERT_EQ(WEXITSTATUS(wstatus), 0);

  unsigned char buf[16];
  ASSERT_EQ(mbx.read(buf, sizeof(buf), 0), 6);
  const unsigned char request[] = {1, 6, 0, 0x10, 0, 0};
  EXPECT_EQ(std::memcmp(buf, request, 6), 0);
  EXPECT_EQ(buf[6], 0);
  EXPECT_EQ(mbx.read(buf, sizeof(buf), 0), 7);  // printf sends no NUL
  EXPECT_STREQ(reinterpret_cast<char*>(buf), "pump,1\n");
  EXPECT_EQ(mbx.read(buf, sizeof(buf), 0), -1);
}

TEST_F(MailboxTest, MessagesHaveTypeOneAndReadersTakeAnyType) {
  otMailbox mbx(path.c_str());
  const char binary[] = {'a', 0, 'b', 0, 0};
  ASSERT_EQ(mbx.write(binary, 5), 0);
  struct {
    long type;
    char text[32];
  } raw;
  // Only a message of type 1 matches; its length is exactly what the writer passed.
  ASSERT_EQ(msgrcv(queueId(), &raw, sizeof(raw.text), 1, IPC_NOWAIT), 5);
  EXPECT_EQ(raw.type, 1);
  EXPECT_EQ(std::memcmp(raw.text, binary, 5), 0);

  raw.type = 7;
  std::memcpy(raw.text, "seven", 5);
  ASSERT_EQ(msgsnd(queueId(), &raw, 5, 0), 0);
  ASSERT_EQ(mbx.write("one"), 0);
  char buf[16];
  EXPECT_EQ(mbx.read(buf, sizeof(buf), 0), 5);
  EXPECT_STREQ(buf, "seven");
  EXPECT_EQ(mbx.read(buf, sizeof(buf), 0), 4);
  EXPECT_STREQ(buf, "one");
}

TEST_F(MailboxTest, ReadBufferSizeDecidesWhatIsDelivered) {
  otMailbox mbx(path.c_str());
  char buf[16];
  std::memset(buf, 'x', sizeof(buf));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(mbx.read(buf, 10, 0), -1);  // empty queue
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(buf[0], '\0');

  ASSERT_EQ(mbx.write("hello", 5), 0);
  std::memset(buf, 'x', sizeof(buf));
  EXPECT_EQ(mbx.read(buf, 10, 0), 5);
  EXPECT_STREQ(buf, "hello");

  // Exactly the buffer size: delivered whole, nothing written behind it.
  const char exact[] = {9, 0, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
  ASSERT_EQ(mbx.write(exact, 10), 0);
  std::memset(buf, 'x', sizeof(buf));
  EXPECT_EQ(mbx.read(buf, 10, 0), 10);
  EXPECT_EQ(std::memcmp(buf, exact, 10), 0);
  EXPECT_EQ(buf[10], 'x');

  // Longer than the buffer: refused, left in the queue for a larger one.
  ASSERT_EQ(mbx.write("0123456789A", 11), 0);
  std::memset(buf, 'x', sizeof(buf));
  EXPECT_EQ(mbx.read(buf, 10, 1), -1);
  EXPECT_EQ(buf[0], '\0');
  EXPECT_EQ(buf[1], 'x');
  EXPECT_EQ(mbx.read(buf, 12, 0), 11);
  EXPECT_STREQ(buf, "0123456789A");

  // An empty message is a message.
  ASSERT_EQ(mbx.write(nullptr, 0), 0);
  buf[0] = 'x';
  EXPECT_EQ(mbx.read(buf, 10, 0), 0);
  EXPECT_EQ(buf[0], '\0');
}

TEST_F(MailboxTest, ArgumentsOutsideTheContractAreRefused) {
  otMailbox mbx(path.c_str());
  const int max = systemMaxMessage();
  std::vector<char> big(max + 1, 'm');
  EXPECT_EQ(mbx.write(nullptr, 5), -1);
  EXPECT_EQ(mbx.write("abc", -1), -1);
  EXPECT_EQ(mbx.write(static_cast<const char*>(nullptr)), -1);
  EXPECT_EQ(mbx.write(big.data(), max + 1), -1);
  EXPECT_EQ(mbx.write(big.data(), INT_MAX), -1);            // refused before anything is allocated
  EXPECT_EQ(mbx.read(big.data(), (int)big.size(), 0), -1);  // nothing was queued

  ASSERT_EQ(mbx.write(big.data(), max), 0);
  char small[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(mbx.read(nullptr, 10, 0), -1);
  EXPECT_EQ(mbx.read(small, 0, 0), -1);
  EXPECT_EQ(mbx.read(small, -5, 0), -1);
  EXPECT_EQ(small[0], 'x');
  // A huge size costs no huge buffer: no message can exceed the system's limit.
  std::vector<char> out(max + 1);
  EXPECT_EQ(mbx.read(out.data(), INT_MAX, 0), max);
  EXPECT_EQ(out[max], '\0');
  EXPECT_EQ(out[max - 1], 'm');
}

TEST_F(MailboxTest, OwnBufferAlwaysHoldsATerminatedText) {
  otMailbox mbx(path.c_str());
  EXPECT_STREQ(mbx.read(0), "");
  std::string full(otMailbox::MAILBOX_DEFAULT_BUFFER_SIZE, 'f');
  ASSERT_EQ(mbx.write(full.data(), (int)full.size()), 0);
  EXPECT_EQ(std::string(mbx.read(0)), full);
  ASSERT_EQ(mbx.write(full.data(), (int)full.size()), 0);
  ASSERT_EQ(mbx.printf("%s", "short"), 0);
  EXPECT_EQ(std::string(mbx.read()), full);
  EXPECT_STREQ(mbx.read(), "short");

  EXPECT_EQ(mbx.setReadBufferSize(8), 8);
  EXPECT_EQ(mbx.setReadBufferSize(0), -1);
  EXPECT_EQ(mbx.setReadBufferSize(-3), -1);
  ASSERT_EQ(mbx.write("12345678", 8), 0);
  EXPECT_STREQ(mbx.read(0), "12345678");
  ASSERT_EQ(mbx.write("123456789", 9), 0);
  EXPECT_STREQ(mbx.read(0), "");  // stays queued
  EXPECT_EQ(mbx.setReadBufferSize(9), 9);
  EXPECT_STREQ(mbx.read(0), "123456789");
}

TEST_F(MailboxTest, PrintfSendsAtMost4095Characters) {
  otMailbox mbx(path.c_str());
  std::string longText(5000, 'p');
  ASSERT_EQ(mbx.printf("%s", longText.c_str()), 0);
  std::vector<char> buf(8192);
  EXPECT_EQ(mbx.read(buf.data(), (int)buf.size(), 0), 4095);
}

TEST_F(MailboxTest, ClearRemovesEveryMessage) {
  otMailbox mbx(path.c_str());
  EXPECT_EQ(mbx.clear(), 0);
  const int max = systemMaxMessage();
  std::vector<char> big(max, 'b');
  ASSERT_EQ(mbx.write("first"), 0);
  ASSERT_EQ(mbx.write(nullptr, 0), 0);
  ASSERT_EQ(mbx.write(big.data(), max), 0);
  ASSERT_EQ(mbx.write("last"), 0);
  EXPECT_EQ(mbx.clear(), 4);
  char buf[16];
  EXPECT_EQ(mbx.read(buf, sizeof(buf), 0), -1);
  struct msqid_ds ds;
  ASSERT_EQ(msgctl(queueId(), IPC_STAT, &ds), 0);
  EXPECT_EQ(ds.msg_qnum, 0u);
}

// A mailbox that does not wait says "full" at once and posts again once there is room; the
// default one waits until a reader makes room.
TEST_F(MailboxTest, AFullQueueRefusesAtOnceOnlyWhenToldNotToWait) {
  otMailbox mbx(path.c_str());
  mbx.setWriteWait(0);
  char block[1024] = {0};
  int posted = 0;
  for (; posted < 100000; posted++) {
    int r = mbx.write(block, sizeof block);
    if (r == -2) break;
    ASSERT_EQ(r, 0);
  }
  ASSERT_LT(posted, 100000);
  char buf[2048];
  ASSERT_EQ(mbx.read(buf, sizeof buf, 0), (int)sizeof block);
  EXPECT_EQ(mbx.write(block, sizeof block), 0);
  EXPECT_EQ(mbx.write(block, sizeof block), -2);

  mbx.setWriteWait(1);
  std::thread reader([&] {
    usleep(100 * 1000);
    char b[2048];
    otMailbox(path.c_str()).read(b, sizeof b, 1);
  });
  EXPECT_EQ(mbx.write(block, sizeof block), 0);  // after the reader took one
  reader.join();
  EXPECT_GT(mbx.clear(), 0);
}

void onSignal(int) {}

TEST_F(MailboxTest, BlockingReadWaitsAndOutlastsSignals) {
  otMailbox mbx(path.c_str());
  struct sigaction sa = {};
  sa.sa_handler = onSignal;  // without SA_RESTART; msgrcv is never restarted anyway
  sigaction(SIGUSR1, &sa, nullptr);
  std::atomic<int> result{-100};
  char buf[16] = {};
  std::thread reader([&] { result = mbx.read(buf, sizeof(buf), 1); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  pthread_kill(reader.native_handle(), SIGUSR1);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(result.load(), -100) << "read returned before a message came";
  ASSERT_EQ(mbx.write("go"), 0);
  reader.join();
  EXPECT_EQ(result.load(), 3);
  EXPECT_STREQ(buf, "go");
  signal(SIGUSR1, SIG_DFL);
}

TEST_F(MailboxTest, EachMessageReachesExactlyOneReader) {
  otMailbox writer(path.c_str());
  const int count = 300;
  std::vector<int> got[2];
  auto drain = [&](std::vector<int>* out) {
    otMailbox own(path.c_str());
    char buf[8];
    int value;
    while (own.read(buf, sizeof(buf), 1) == (int)sizeof(value)) {
      std::memcpy(&value, buf, sizeof(value));
      if (value < 0) break;
      out->push_back(value);
    }
  };
  std::thread a(drain, &got[0]), b(drain, &got[1]);
  for (int i = 0; i < count; i++)
    ASSERT_EQ(writer.write(&i, sizeof(i)), 0);
  const int stop = -1;
  writer.write(&stop, sizeof(stop));
  writer.write(&stop, sizeof(stop));
  a.join();
  b.join();
  std::vector<int> all(got[0]);
  all.insert(all.end(), got[1].begin(), got[1].end());
  std::sort(all.begin(), all.end());
  ASSERT_EQ((int)all.size(), count);
  for (int i = 0; i < count; i++)
    EXPECT_EQ(all[i], i);
}

TEST_F(MailboxTest, NewFileIsReadableAndWritableByAllAndNothingMore) {
  mode_t old = umask(077);
  { otMailbox mbx(path.c_str()); }
  umask(old);
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0666u);

  // An existing file keeps its mode; the queue itself is private to the owner.
  std::string mine = dir.file("mine.mbx");
  ottest::writeFile(mine, "");
  chmod(mine.c_str(), 0640);
  otMailbox mbx(mine.c_str());
  ASSERT_EQ(stat(mine.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  struct msqid_ds ds;
  ASSERT_EQ(msgctl(msgget(ftok(mine.c_str(), 'b'), 0), IPC_STAT, &ds), 0);
  EXPECT_EQ(ds.msg_perm.mode & 0777, 0600u);
}

TEST_F(MailboxTest, UncreatableFileEndsTheProcessWithMinusOne) {
  std::string missing = dir.file("missing/requests.mbx");
  std::string output;
  int wstatus = ottest::runChild(
      [&] {
        otMailbox mbx(missing.c_str());
        return 0;  // not reached
      },
      &output);
  ASSERT_TRUE(WIFEXITED(wstatus));
  EXPECT_EQ(WEXITSTATUS(wstatus), 255);
  EXPECT_EQ(output,
            "could not write mailbox=" + missing + "\nyou have to run this program as root !!!\n");
}

}  // namespace
