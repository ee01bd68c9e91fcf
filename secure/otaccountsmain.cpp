// otaccounts: keeps the accounts file of a display server (users, roles, Argon2id hashes).
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "otaccounts.h"
#include "otfd.h"
#include "otlinereader.h"
#include "otloginline.h"

namespace {

const char kUsage[] =
    "usage: otaccounts FILE COMMAND [ARGUMENTS]\n"
    "  otaccounts FILE list              the users and their roles\n"
    "  otaccounts FILE add USER ROLE     a new user; asks for the password\n"
    "  otaccounts FILE passwd USER       a new password for USER\n"
    "  otaccounts FILE role USER ROLE    gives USER another role\n"
    "  otaccounts FILE remove USER\n"
    "ROLE: viewer, operator, engineer or admin. On a terminal the password is asked twice and\n"
    "not shown; otherwise one line of standard input is the password. FILE is made (mode 0600)\n"
    "when missing. Exit status: 0 done, 1 refused, 2 bad usage.\n";

enum { kDone = 0, kRefused = 1, kUsageError = 2 };

const char* gFile = "";

int refuse(const std::string& why) {
  fprintf(stderr, "otaccounts: %s: %s\n", gFile, why.c_str());
  return kRefused;
}

// The terminal as it was, put back when a signal ends the program while echo is off.
struct termios gSavedTerminal;
volatile sig_atomic_t gEchoOff = 0;

void restoreTerminal(int sig) {
  if (gEchoOff) tcsetattr(STDIN_FILENO, TCSAFLUSH, &gSavedTerminal);
  signal(sig, SIG_DFL);
  raise(sig);
}

// One line of the reader without its line end, at most OT_LOGIN_MAX_PASSWORD bytes.
// 0, or -1 with *why.
int readLine(otLineReader* reader, std::string* line, std::string* why) {
  char buf[OT_LOGIN_MAX_PASSWORD + 3];
  int n = reader->readLine(buf, (int)sizeof buf, 0);
  if (n == -2) {
    *why = "password longer than 1024 bytes";
    return -1;
  }
  if (n <= 0) {
    *why = "no password given";
    return -1;
  }
  if (memchr(buf, '\0', (size_t)n) != nullptr) {
    *why = "password holds a NUL byte";
    return -1;
  }
  if (n > 0 && buf[n - 1] == '\n') n--;
  if (n > 0 && buf[n - 1] == '\r') n--;
  line->assign(buf, (size_t)n);
  return 0;
}

// From the terminal (twice, not echoed) or one line of standard input.
int readPassword(const char* user, std::string* password, std::string* why) {
  otLineReader reader(STDIN_FILENO, OT_LOGIN_MAX_PASSWORD + 2);
  if (!isatty(STDIN_FILENO)) return readLine(&reader, password, why);
  if (tcgetattr(STDIN_FILENO, &gSavedTerminal) != 0) {
    *why = std::string("terminal: ") + strerror(errno);
    return -1;
  }
  struct termios quiet = gSavedTerminal;
  quiet.c_lflag &= ~(tcflag_t)(ECHO | ECHONL);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP})
    signal(sig, restoreTerminal);
  gEchoOff = 1;
  if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) != 0) {
    gEchoOff = 0;
    *why = std::string("terminal: ") + strerror(errno);
    return -1;
  }
  std::string again;
  fprintf(stderr, "password for %s: ", user);
  int rc = readLine(&reader, password, why);
  fprintf(stderr, "\n");
  if (rc == 0) {
    fprintf(stderr, "again: ");
    rc = readLine(&reader, &again, why);
    fprintf(stderr, "\n");
  }
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &gSavedTerminal);
  gEchoOff = 0;
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP})
    signal(sig, SIG_DFL);
  if (rc == 0 && again != *password) {
    *why = "the passwords differ";
    rc = -1;
  }
  return rc;
}

int roleOrRefuse(const char* name, int* role) {
  *role = otRoleOf(name);
  if (*role < 0)
    return refuse(std::string("unknown role \"") + name +
                  "\" (viewer, operator, engineer or admin)");
  return kDone;
}

int save(const otAccounts& a) {
  std::string error;
  if (a.write(gFile, &error) != 0) {
    fprintf(stderr, "otaccounts: %s\n", error.c_str());
    return kRefused;
  }
  return kDone;
}

int needUser(const otAccounts& a, const char* user) {
  if (a.find(user) == nullptr) return refuse(std::string("no user \"") + user + "\"");
  return kDone;
}

int cmdList(otAccounts& a, char**) {
  size_t width = 4;
  for (const otAccounts::Account& x : a.accounts())
    width = x.user.size() > width ? x.user.size() : width;
  for (const otAccounts::Account& x : a.accounts())
    printf("%-*s  %s\n", (int)width, x.user.c_str(), otRoleName(x.role));
  return kDone;
}

int setPassword(otAccounts& a, const char* user, int role) {
  std::string password, why;
  if (readPassword(user, &password, &why) != 0) return refuse(why);
  if (a.set(user, role, password.c_str(), &why) != 0) return refuse(why);
  return save(a);
}

int cmdAdd(otAccounts& a, char** args) {
  int role, rc;
  if (!otLoginUserValid(args[0]))
    return refuse(std::string("bad user name \"") + args[0] +
                  "\" (1 to 63 letters, digits, '_', '.', '-', '@')");
  if ((rc = roleOrRefuse(args[1], &role)) != kDone) return rc;
  if (a.find(args[0]) != nullptr)
    return refuse(std::string("user \"") + args[0] + "\" exists (passwd changes a password)");
  return setPassword(a, args[0], role);
}

int cmdPasswd(otAccounts& a, char** args) {
  int rc = needUser(a, args[0]);
  return rc != kDone ? rc : setPassword(a, args[0], a.find(args[0])->role);
}

int cmdRole(otAccounts& a, char** args) {
  int role, rc;
  if ((rc = needUser(a, args[0])) != kDone || (rc = roleOrRefuse(args[1], &role)) != kDone)
    return rc;
  std::string why;
  if (a.set(args[0], role, nullptr, &why) != 0) return refuse(why);
  return save(a);
}

int cmdRemove(otAccounts& a, char** args) {
  if (a.remove(args[0]) != 0) return refuse(std::string("no user \"") + args[0] + "\"");
  return save(a);
}

struct Command {
  const char* name;
  int arguments;
  int (*run)(otAccounts& a, char** args);
};

const Command kCommands[] = {
    {"list", 0, cmdList}, {"add", 2, cmdAdd},       {"passwd", 1, cmdPasswd},
    {"role", 2, cmdRole}, {"remove", 1, cmdRemove},
};

// Opens (or makes) the file and locks it, so that two runs at once do not lose each other's
// change. A change replaces the file by a new one: a run that waited for the lock of the file
// it opened finds the name on another file then, and takes that one's lock instead.
int lockFile(otFd* fd) {
  for (int tries = 0; tries < 100; tries++) {
    fd->reset(open(gFile, O_RDONLY | O_CREAT | O_CLOEXEC, 0600));  // a lock needs no write right
    if (fd->get() < 0) return refuse(strerror(errno));
    int rc;
    while ((rc = flock(fd->get(), LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (rc != 0) return refuse(std::string("cannot be locked: ") + strerror(errno));
    struct stat held, named;
    if (fstat(fd->get(), &held) != 0) return refuse(strerror(errno));
    if (stat(gFile, &named) == 0 && named.st_ino == held.st_ino && named.st_dev == held.st_dev)
      return kDone;
  }
  return refuse("keeps being replaced");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && (strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "--help") == 0)) {
    fputs(kUsage, stdout);
    return kDone;
  }
  if (argc < 3) {
    fputs(kUsage, stderr);
    return kUsageError;
  }
  gFile = argv[1];
  const Command* command = nullptr;
  for (const Command& c : kCommands)
    if (strcmp(c.name, argv[2]) == 0) command = &c;
  if (command == nullptr || argc - 3 != command->arguments) {
    fprintf(stderr, "otaccounts: %s\n%s",
            command == nullptr ? "unknown command" : "wrong number of arguments", kUsage);
    return kUsageError;
  }
  otFd lock;
  int rc = lockFile(&lock);
  if (rc != kDone) return rc;
  otAccounts accounts;
  std::string error;
  if (accounts.read(gFile, &error) != 0) {
    // A file's error names the file already, a line's does not.
    if (error.compare(0, 5, "line ") == 0) return refuse(error);
    fprintf(stderr, "otaccounts: %s\n", error.c_str());
    return kRefused;
  }
  return command->run(accounts, argv + 3);
}
