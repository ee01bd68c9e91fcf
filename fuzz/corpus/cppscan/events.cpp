// The code of mask1 (yours: hxstudio created this file once and never changes it).
#include "mask1_generated.h"

namespace mask1 {

int onEvent(StudioMask& m, int kind, int id, const char* text) {
  PARAM_* p = m.p;
  if(id == level)
  {
    hxPrintf(p,level,"%d",val); /* a comment
    over two lines */ return 1; // call mask 1
  }
  char c = '\'';
  return 0x10 + 1e+3 + 'x';
}

}  // namespace mask1
