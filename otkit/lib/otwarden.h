// otWarden: one record of a singly linked list of processes to start, watch and stop, such as
// the acquisition daemons, which end on a watchdog time-out so that the list starts them again.
//
// The processes are children of this process. One list is used by one thread at a time.
#ifndef OTWARDEN_H
#define OTWARDEN_H

#include <vector>

#include "ottime.h"

class otWarden {
 public:
  otWarden();
  // Releases both strings and the rest of the list. Running processes are left running.
  virtual ~otWarden();
  otWarden(const otWarden&) = delete;
  otWarden& operator=(const otWarden&) = delete;

  // Replaces the command (split into arguments as by otexec: double quotes group words, no
  // shell) and the name with copies; either may be null.
  void setStartupCommand(const char* command, const char* processname);
  const char* startupCommand();
  const char* processName();
  // The local time of the last start.
  otTime* processTime();
  // Stores pid, or none for pid <= 0.
  void setPID(long pid);
  // The stored process id, 0 for none.
  long pid();
  // Stored for the caller only.
  void setPriority(int priority);
  int priority();
  // The next record, null at the end of the list.
  otWarden* getNext();
  // Appends a new empty record at the end of the list and returns it.
  otWarden* addNew();

  // Stores the current local time as the start time and starts the command in a child process.
  // Returns 0 with the child's id stored; -1 without a startup command, while isAlive(), if
  // the process cannot be created, or if the command cannot be executed (that child is reaped
  // and no id is stored).
  int start();
  // 1 if a process id is stored and that child has not ended yet, else 0. A child that has
  // ended is reaped here and its id forgotten, so that no signal can reach a process that
  // later gets the same id.
  int isAlive();
  // Send SIGTERM (SIGKILL) to the stored process and forget its id. Returns 0; -1 if no id is
  // stored. The signalled child is reaped by later calls of this record once it has ended.
  int sigterm();
  int sigkill();

 private:
  otTime startTime;
  long processId;
  char* name;
  char* command;
  otWarden* next;
  int prio;
  // Children that were signalled and forgotten but not yet reaped.
  std::vector<long> signalled;

  int sendSignal(int signal);
  // Reaps those of the signalled children that have ended, without waiting.
  void reapSignalled();
};

#endif
