// The login line on arbitrary bytes: a line that is read must be written back to a line that
// reads the same, and every user and password that can be written must read back as written.
// The input is a client's answer; it is also cut at its first byte 0x01 into a user name and a
// password (as C texts) for the writer.
#include <stdint.h>
#include <string.h>

#include <string>

#include "otloginline.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 16384) return 0;
  const char* text = reinterpret_cast<const char*>(data);
  std::string user, password;
  const char* why = nullptr;
  if (otParseLoginLine(text, (int)size, &user, &password, &why) == 0) {
    check(otLoginUserValid(user.c_str()));
    check(!password.empty() && password.size() <= OT_LOGIN_MAX_PASSWORD);
    check(password.find('\0') == std::string::npos && password.find('\r') == std::string::npos);
    const std::string line = otFormatLoginLine(user.c_str(), password.c_str());
    check(!line.empty());
    std::string u, p;
    check(otParseLoginLine(line.data(), (int)line.size(), &u, &p, &why) == 0);
    check(u == user && p == password);
  } else {
    check(why != nullptr && why[0] != '\0');
  }

  const std::string all(text, size);
  const size_t cut = all.find('\x01');
  const std::string u = all.substr(0, cut).c_str();
  const std::string p = cut == std::string::npos ? "" : all.substr(cut + 1).c_str();
  const std::string line = otFormatLoginLine(u.c_str(), p.c_str());
  const bool writable = otLoginUserValid(u.c_str()) && !p.empty() &&
                        p.size() <= OT_LOGIN_MAX_PASSWORD && p.find('\r') == std::string::npos;
  check(line.empty() != writable);
  if (writable) {
    check(line.find('\n') == line.size() - 1);
    std::string ru, rp;
    check(otParseLoginLine(line.data(), (int)line.size(), &ru, &rp, &why) == 0);
    check(ru == u && rp == p);
  }
  return 0;
}
