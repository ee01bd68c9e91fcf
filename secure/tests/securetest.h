// What the otsecure tests share: running one of the commands with a given standard input.
#ifndef OTSECURE_SECURETEST_H
#define OTSECURE_SECURETEST_H

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "testutil.h"

extern char** environ;

namespace sectest {

struct Run {
  int status = -1;  // the exit status; -1 when the program did not exit by itself
  std::string out, err;
};

// Runs args[0] with args, input as its standard input (a file, so not a terminal).
inline Run run(const ottest::TempDir& dir, const std::vector<std::string>& args,
               const std::string& input = "") {
  Run r;
  const std::string in = dir.file(".stdin"), out = dir.file(".stdout"), err = dir.file(".stderr");
  ottest::writeFile(in, input);
  std::vector<char*> argv;
  for (const std::string& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return r;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = ottest::readFile(out);
  r.err = ottest::readFile(err);
  unlink(in.c_str());
  unlink(out.c_str());
  unlink(err.c_str());
  return r;
}

}  // namespace sectest

#endif
