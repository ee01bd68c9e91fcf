// Built as a generated PPI daemon is built, with the same includes and calls. Takes the device
// from argv[1] so that the test can point it at a line of its own.
#define LINUX
extern "C" {
#include "setport.h"
#include "nodave.h"
}
#include <stdio.h>

#define SERIAL_DEVICE "/dev/ttyS0"
#define BAUDRATE "9600"
static daveConnection* dc[32 + 1];
static daveInterface* di;
static _daveOSserialType fds;

int main(int argc, char** argv) {
  fds.rfd = setPort(argc > 1 ? argv[1] : SERIAL_DEVICE, BAUDRATE, 'E');
  fds.wfd = fds.rfd;
  if (fds.rfd > 0) {
    di = daveNewInterface(fds, "IF1", 0, daveProtoPPI, daveSpeed187k);
    for (int adr = 1; adr < 32; adr++)
      dc[adr] = daveNewConnection(di, adr, 0, 0);
    unsigned char data[1025];
    int ret = daveReadBytes(dc[2], daveDB, 1, 0, 64, data);
    printf("read %d\n", ret);
    ret = daveWriteBytes(dc[2], daveFlags, 0, 0, 1, data);
    printf("write %d %s\n", ret, daveStrerror(ret));
    return 0;
  }
  return 1;
}
