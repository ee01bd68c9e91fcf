// A user's program, built against the installed library only.
#include <cstdio>
#include "otstring.h"
#include "otcutil.h"

int main() {
  otString s("otkit says");
  s += " hello";
  char buf[16];
  otsnprintf(buf, sizeof(buf), " %d", otIntOption("-x=42", "-x", 0));
  s += buf;
  std::printf("%s\n", s.text());
  return 0;
}
