// The accounts file on arbitrary bytes (parsing only: nothing is hashed). A file that is read
// must be written to a text that reads back to the same accounts and writes the same text;
// a refused file leaves no account and says which line and why.
#include <stdint.h>
#include <string.h>

#include <string>

#include "otaccounts.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  otAccounts a;
  std::string error;
  if (a.parse(reinterpret_cast<const char*>(data), size, &error) != 0) {
    check(a.accounts().empty());
    check(error.compare(0, 5, "line ") == 0 || error.compare(0, 6, "file: ") == 0);
    return 0;
  }
  for (const otAccounts::Account& x : a.accounts()) {
    check(a.find(x.user.c_str()) == &x);
    check(otRoleName(x.role) != nullptr && x.role != OT_ROLE_NONE);
    check(x.hash.compare(0, 10, "$argon2id$") == 0);
  }
  const std::string text = a.format();
  otAccounts b;
  check(b.parse(text.data(), text.size(), &error) == 0);
  check(b.accounts().size() == a.accounts().size());
  for (size_t i = 0; i < a.accounts().size(); i++) {
    check(b.accounts()[i].user == a.accounts()[i].user);
    check(b.accounts()[i].role == a.accounts()[i].role);
    check(b.accounts()[i].hash == a.accounts()[i].hash);
  }
  check(b.format() == text);
  return 0;
}
