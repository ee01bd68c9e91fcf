// The otclient program as a process of its own for the client tests: its home and its
// configuration folder in home, so that nothing of the user's (an ini file, a plug-in) is read.
#ifndef OTCLIENT_CLIENTPROCESS_H
#define OTCLIENT_CLIENTPROCESS_H

#include <spawn.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "testutil.h"

extern char** environ;

// Starts OTCLIENT_PROGRAM with args in the working directory work ("": the test's own), on the
// Qt platform platform ("": the one the environment names). The pid, or -1.
inline pid_t spawnOtclient(const std::string& home, const std::string& work,
                           std::vector<std::string> args, const std::string& platform) {
  std::string config = "XDG_CONFIG_HOME=" + home + "/config";
  std::string homeVar = "HOME=" + home;
  std::string platformVar = "QT_QPA_PLATFORM=" + platform;
  std::vector<char*> env;
  for (char** e = environ; *e != nullptr; e++)
    if (strncmp(*e, "XDG_CONFIG_HOME=", 16) != 0 && strncmp(*e, "HOME=", 5) != 0 &&
        (platform.empty() || strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0))
      env.push_back(*e);
  env.push_back(&config[0]);
  env.push_back(&homeVar[0]);
  if (!platform.empty()) env.push_back(&platformVar[0]);
  env.push_back(nullptr);
  std::vector<char*> argv = {(char*)OTCLIENT_PROGRAM};
  for (std::string& a : args)
    argv.push_back(&a[0]);
  argv.push_back(nullptr);
  pid_t pid = -1;
  std::unique_ptr<ottest::ScopedChdir> here;
  if (!work.empty()) here.reset(new ottest::ScopedChdir(work));
  if (posix_spawn(&pid, OTCLIENT_PROGRAM, nullptr, nullptr, argv.data(), env.data()) != 0)
    return -1;
  return pid;
}

#endif
