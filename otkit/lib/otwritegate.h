// otWriteGate: who may write to the plant, and the record of who did. A display server posts
// write requests through the device clients on behalf of the operator of a connection; the
// display-server library tells each connection's thread whose it is (otWriteOrigin), and a
// gate that the program installs sees every request before it is posted: it may refuse it
// (a viewer never writes; a tag may need a higher role) and it records the outcome (the
// audit trail).
//
// Requests made outside any connection's thread (a daemon's own work, a broker link) carry no
// origin; the gate decides about them too.
#ifndef OTWRITEGATE_H
#define OTWRITEGATE_H

#include <functional>
#include <string>

// Roles, each allowed what the one below it is: a viewer sees, an operator also writes, an
// engineer also opens engineering masks, an admin also manages accounts.
enum otRole {
  OT_ROLE_NONE = 0,
  OT_ROLE_VIEWER = 1,
  OT_ROLE_OPERATOR,
  OT_ROLE_ENGINEER,
  OT_ROLE_ADMIN
};
// "viewer", ...; "none" for OT_ROLE_NONE, null outside the enum.
const char* otRoleName(int role);
// OT_ROLE_VIEWER.. for a role's name, -1 for any other text (also "none" and null).
int otRoleOf(const char* name);

// On whose behalf the current thread writes.
struct otWriteOrigin {
  std::string user = "-";     // "-": a connection without a login
  int role = OT_ROLE_ADMIN;   // a connection without a login may do what it always could
  std::string address = "-";  // the client's address and port
  std::string mask = "-";     // the mask shown when the request was made
  int widget = -1;            // the widget whose event made it; -1: none
};

// The origin of the calling thread, null when none was set.
const otWriteOrigin* otCurrentWriteOrigin();
// Sets (a copy of) origin for the calling thread; null clears it.
void otSetWriteOrigin(const otWriteOrigin* origin);
// The mask and the widget of the calling thread's origin (nothing when it has none).
void otSetWriteMask(const char* mask);
void otSetWriteWidget(int widget);

// A write request as the gate sees it.
struct otWriteRequest {
  const otWriteOrigin* origin = nullptr;  // null: no connection's
  std::string target;                     // the tag's name, or the device write and its address
  std::string oldValue = "-";             // "-": not known
  std::string newValue;
  int minRole = OT_ROLE_OPERATOR;  // the least role that may write it
};

class otWriteGate {
 public:
  virtual ~otWriteGate();
  // Before the request is posted: true lets it go on; false refuses it (*why says why; the
  // write then returns -1 and nothing is posted). Called in the writing thread.
  virtual bool allow(const otWriteRequest& r, std::string* why) = 0;
  // After a request was allowed or refused: accepted true when it was posted (or waits for a
  // full mailbox), false with why when it was refused by allow() or by the device client.
  virtual void done(const otWriteRequest& r, bool accepted, const std::string& why) = 0;
};

// The gate of the process (null: none, every request goes on). The gate must outlive every
// write; set it before threads write.
void otSetWriteGate(otWriteGate* gate);
otWriteGate* otCurrentWriteGate();

// The rule without a gate's own policy: a request may go on when it has no origin or its
// origin's role is at least the request's least role (and never for a viewer). *why is set
// for a refusal ("role viewer may not write").
bool otWriteAllowedByRole(const otWriteRequest& r, std::string* why);

// For the device clients and the tag image: asks the process's gate whether r may go on, runs
// post when it may, and tells the gate the outcome. post returns the writer's own result;
// accepted tells which results mean the request was taken. Without a gate, and inside another
// gated write of the same thread (a tag's write reaching its device client), post runs alone.
// Returns post's result, or -1 when the gate refused the request.
int otGatedWrite(otWriteRequest& r, const std::function<int()>& post, bool (*accepted)(int));
// While one lives in a thread, that thread's writes are taken as gated already (a write that
// the tag image recorded, posted later from its queue).
class otWriteGatedScope {
 public:
  otWriteGatedScope();
  ~otWriteGatedScope();
  otWriteGatedScope(const otWriteGatedScope&) = delete;
  otWriteGatedScope& operator=(const otWriteGatedScope&) = delete;
};
// True inside an otWriteGatedScope (or a gated write) of the calling thread.
bool otWriteGated();

#endif
