/* open
 still */ int x = "a // b" '\''; // c
#include "x.h"
val = modbus.readBit(offset,number);
hxSetText(p,id,"t\"x");
1.5e-3f 0x1F
"open
