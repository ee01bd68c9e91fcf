#include "otwritegate.h"

#include <string.h>

#include <atomic>
#include <memory>

namespace {

const char* const kRoleNames[] = {"none", "viewer", "operator", "engineer", "admin"};

thread_local std::unique_ptr<otWriteOrigin> threadOrigin;
std::atomic<otWriteGate*> processGate(nullptr);
thread_local int gatedDepth = 0;

}  // namespace

const char* otRoleName(int role) {
  if (role < OT_ROLE_NONE || role > OT_ROLE_ADMIN) return nullptr;
  return kRoleNames[role];
}

int otRoleOf(const char* name) {
  if (name == nullptr) return -1;
  for (int r = OT_ROLE_VIEWER; r <= OT_ROLE_ADMIN; r++)
    if (strcmp(name, kRoleNames[r]) == 0) return r;
  return -1;
}

const otWriteOrigin* otCurrentWriteOrigin() {
  return threadOrigin.get();
}

void otSetWriteOrigin(const otWriteOrigin* origin) {
  if (origin == nullptr)
    threadOrigin.reset();
  else
    threadOrigin.reset(new otWriteOrigin(*origin));
}

void otSetWriteMask(const char* mask) {
  if (threadOrigin) threadOrigin->mask = mask != nullptr && mask[0] != '\0' ? mask : "-";
}

void otSetWriteWidget(int widget) {
  if (threadOrigin) threadOrigin->widget = widget;
}

otWriteGate::~otWriteGate() {}

void otSetWriteGate(otWriteGate* gate) {
  processGate.store(gate);
}

otWriteGate* otCurrentWriteGate() {
  return processGate.load();
}

bool otWriteAllowedByRole(const otWriteRequest& r, std::string* why) {
  if (r.origin == nullptr) return true;
  const int need = r.minRole > OT_ROLE_OPERATOR ? r.minRole : OT_ROLE_OPERATOR;
  if (r.origin->role >= need) return true;
  if (why != nullptr) {
    const char* have = otRoleName(r.origin->role);
    *why = std::string("role ") + (have ? have : "none") + " may not write " + r.target;
    if (need > OT_ROLE_OPERATOR) *why += std::string(" (needs ") + otRoleName(need) + ")";
  }
  return false;
}

otWriteGatedScope::otWriteGatedScope() {
  gatedDepth++;
}

otWriteGatedScope::~otWriteGatedScope() {
  gatedDepth--;
}

bool otWriteGated() {
  return gatedDepth > 0;
}

int otGatedWrite(otWriteRequest& r, const std::function<int()>& post, bool (*accepted)(int)) {
  otWriteGate* gate = otCurrentWriteGate();
  if (gate == nullptr || gatedDepth > 0) return post();
  r.origin = otCurrentWriteOrigin();
  std::string why;
  if (!gate->allow(r, &why)) {
    gate->done(r, false, why);
    return -1;
  }
  int result;
  {
    otWriteGatedScope inner;
    result = post();
  }
  const bool ok = accepted(result);
  gate->done(r, ok, ok ? std::string() : std::string("the device client refused it"));
  return result;
}
