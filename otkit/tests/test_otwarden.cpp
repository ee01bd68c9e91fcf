#include "otwarden.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "testutil.h"

namespace {

bool waitFor(const std::function<bool()>& pred) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// True once pid has ended but is not reaped yet.
bool isZombie(long pid) {
  std::string stat = ottest::readFile("/proc/" + std::to_string(pid) + "/stat");
  size_t paren = stat.rfind(')');
  return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] == 'Z';
}

// Kills and reaps every child a test started, whatever its expectations did.
class WardenTest : public ::testing::Test {
 protected:
  long track(long pid) {
    if (pid > 0) children.push_back(pid);
    return pid;
  }
  void TearDown() override {
    for (long pid : children) {
      kill((pid_t)pid, SIGKILL);
      waitpid((pid_t)pid, nullptr, 0);
    }
  }
  // Reaps pid and returns its wait status.
  int reap(long pid) {
    int status = -1;
    EXPECT_EQ(waitpid((pid_t)pid, &status, 0), (pid_t)pid);
    return status;
  }

  std::vector<long> children;
};

}  // namespace

TEST_F(WardenTest, StartWatchTerminateAndRestart) {
  otWarden w;
  EXPECT_EQ(w.start(), -1);  // no command yet
  w.setStartupCommand("sleep 30", "sleeper");
  EXPECT_STREQ(w.startupCommand(), "sleep 30");
  EXPECT_STREQ(w.processName(), "sleeper");
  EXPECT_EQ(w.pid(), 0);

  ASSERT_EQ(w.start(), 0);
  long first = track(w.pid());
  ASSERT_GT(first, 0);
  EXPECT_GT(w.processTime()->year, 2000);
  EXPECT_EQ(w.isAlive(), 1);
  EXPECT_EQ(w.start(), -1);  // still running
  EXPECT_EQ(w.pid(), first);

  EXPECT_EQ(w.sigterm(), 0);
  EXPECT_EQ(w.pid(), 0);
  EXPECT_EQ(w.isAlive(), 0);
  EXPECT_EQ(w.sigterm(), -1);
  EXPECT_EQ(w.sigkill(), -1);
  int status = reap(first);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);

  ASSERT_EQ(w.start(), 0);
  long second = track(w.pid());
  EXPECT_NE(second, first);
  EXPECT_EQ(w.isAlive(), 1);
  EXPECT_EQ(w.sigkill(), 0);
  status = reap(second);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

TEST_F(WardenTest, EndedChildrenAreReapedAndForgotten) {
  otWarden w;
  w.setStartupCommand("sleep 0", "short");
  ASSERT_EQ(w.start(), 0);
  long pid = track(w.pid());
  ASSERT_TRUE(waitFor([&] { return w.isAlive() == 0; }));
  EXPECT_EQ(w.pid(), 0);  // no signal can reach a process that reuses the id
  errno = 0;
  EXPECT_EQ(waitpid((pid_t)pid, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);

  // A signalled child is reaped by a later call once it has ended: no zombie is left.
  w.setStartupCommand("sleep 30", "sleeper");
  ASSERT_EQ(w.start(), 0);
  pid = track(w.pid());
  ASSERT_EQ(w.sigterm(), 0);
  ASSERT_TRUE(waitFor([&] { return isZombie(pid); }));
  EXPECT_EQ(w.isAlive(), 0);
  errno = 0;
  EXPECT_EQ(waitpid((pid_t)pid, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST_F(WardenTest, CommandThatCannotBeExecutedIsAFailure) {
  otWarden w;
  w.setStartupCommand("/nonexistent/otkit-no-such-program -x", "missing");
  EXPECT_EQ(w.start(), -1);
  EXPECT_EQ(w.pid(), 0);
  errno = 0;
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);  // the failed child was reaped
  EXPECT_EQ(errno, ECHILD);
  w.setStartupCommand("", nullptr);
  EXPECT_EQ(w.start(), -1);
  EXPECT_EQ(w.processName(), nullptr);
}

TEST_F(WardenTest, ListBuiltWithAddNew) {
  otWarden head;
  otWarden* second = head.addNew();
  otWarden* third = head.addNew();
  EXPECT_EQ(head.getNext(), second);
  EXPECT_EQ(second->getNext(), third);
  EXPECT_EQ(third->getNext(), nullptr);
  otWarden* fourth = second->addNew();
  EXPECT_EQ(third->getNext(), fourth);  // always appended at the end

  const char* names[] = {"one", "two", "three"};
  int i = 0;
  for (otWarden* w = &head; w != nullptr && i < 3; w = w->getNext(), i++) {
    w->setStartupCommand("sleep 30", names[i]);
    w->setPriority(i * 10);
  }
  i = 0;
  for (otWarden* w = &head; i < 3; w = w->getNext(), i++) {
    EXPECT_STREQ(w->processName(), names[i]);
    EXPECT_EQ(w->priority(), i * 10);
    EXPECT_EQ(w->pid(), 0);
  }
  EXPECT_EQ(fourth->priority(), 0);
  EXPECT_EQ(fourth->startupCommand(), nullptr);

  second->setPID(1234);
  EXPECT_EQ(second->pid(), 1234);
  second->setPID(0);
  EXPECT_EQ(second->pid(), 0);
  second->setPID(-7);
  EXPECT_EQ(second->pid(), 0);
  EXPECT_EQ(second->sigterm(), -1);

  ASSERT_EQ(third->start(), 0);
  long pid = track(third->pid());
  EXPECT_EQ(third->isAlive(), 1);
  EXPECT_EQ(head.isAlive(), 0);
  EXPECT_EQ(third->sigkill(), 0);
  reap(pid);
}
