// A user's program that takes one call of every installed library through its CMake target:
// the automation library with its shared layer, the display-server library, the GL encoder and
// the PPI library. It prints what they say.
#include <cstdio>

#include "glsizes.h"
#include "hxglencode.h"
#include "hxserver.h"
extern "C" {
#include "nodave.h"
}
#include "otbyteorder.h"
#include "otstring.h"

int main() {
  otString s("every library");
  unsigned char word[2];
  otbyteorder::put16(word, 0x1234);
  std::printf("%s: %02x%02x %d %s %d %d\n", s.text(), word[0], word[1],
              glsize::formatComponents(GL_RGBA), daveStrerror(0),
              hxParseServerArgs(0, nullptr, nullptr), glencode_set_param(nullptr));
  return 0;
}
