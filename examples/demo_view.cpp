// The demo's terminal view of the process image of the daemon generated from demo.mkmodbus:
// a display server in miniature. It reads the image through otModbusClient by the names of
// the generated header (demo.h) and, once a second, posts a write request through the
// mailbox (holding register 3 counts the refreshes, coil 7 blinks), which the daemon carries
// out on the device and reads back into the image.
//   demo_view [--seconds N]      N = 0 (default): until Ctrl-C
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "demo.h"
#include "otmodbusclient.h"

static volatile sig_atomic_t stopRequested = 0;
static void onSignal(int) {
  stopRequested = 1;
}

static int counter(otModbusClient& image, int base) {
  unsigned short v = 0;  // the daemon's counters are in host byte order
  return image.otSharedMemory::read(base, &v, 2) == 2 ? v : -1;
}

int main(int argc, char** argv) {
  int seconds = 0;
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
      seconds = atoi(argv[++i]);
    } else {
      fprintf(stderr, "usage: demo_view [--seconds N]\n");
      return 2;
    }
  }
  signal(SIGINT, onSignal);
  signal(SIGTERM, onSignal);
  otModbusClient image(demo_MAILBOX, demo_SHARED_MEMORY, demo_SHARED_MEMORY_SIZE);
  if (image.otMailbox::status != otMailbox::MAILBOX_OK ||
      image.otSharedMemory::status != otSharedMemory::SHM_OK) {
    fprintf(stderr, "demo_view: cannot open the process image or the mailbox\n");
    return 1;
  }
  bool tty = isatty(STDOUT_FILENO);
  time_t start = time(nullptr);
  for (int refresh = 1; !stopRequested; refresh++) {
    if (tty) printf("\033[H\033[2J");
    time_t now = time(nullptr);
    char stamp[32];
    strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", localtime(&now));
    printf("otkit demo  %s  process image %s (%d bytes)\n", stamp, demo_SHARED_MEMORY,
           demo_SHARED_MEMORY_SIZE);
    printf(
        "  demo_CYCLE1  input registers 0..3 at %d: seconds %5d  sine60 %4d  sine10 %4d"
        "  sawtooth %2d\n",
        demo_CYCLE1_BASE, image.readShort(demo_CYCLE1_BASE, 0),
        image.readShort(demo_CYCLE1_BASE, 1), image.readShort(demo_CYCLE1_BASE, 2),
        image.readShort(demo_CYCLE1_BASE, 3));
    printf("  demo_CYCLE2  discrete inputs 0..1 at %d: blinker %d  sine60>500 %d\n",
           demo_CYCLE2_BASE, image.readBit(demo_CYCLE2_BASE, 0),
           image.readBit(demo_CYCLE2_BASE, 1));
    printf("  demo_CYCLE3  holding registers 0..3 at %d:", demo_CYCLE3_BASE);
    for (int i = 0; i < demo_CYCLE3_NUM; i++)
      printf(" %5d", image.readShort(demo_CYCLE3_BASE, i));
    printf("\n  demo_CYCLE4  coils 0..7 at %d:", demo_CYCLE4_BASE);
    for (int i = 0; i < demo_CYCLE4_NUM; i++)
      printf(" %d", image.readBit(demo_CYCLE4_BASE, i));
    printf("\n  demo_LIFE_COUNTER %d   demo_READ_ERROR_COUNT %d   demo_WRITE_ERROR_COUNT %d\n",
           counter(image, demo_LIFE_COUNTER_BASE), counter(image, demo_READ_ERROR_COUNT_BASE),
           counter(image, demo_WRITE_ERROR_COUNT_BASE));
    printf("  posted: holding register 3 = %d, coil 7 = %d%s\n", refresh, refresh & 1,
           tty ? "   (Ctrl-C ends the demo)" : "");
    fflush(stdout);
    image.writePresetSingleRegister(1, 3, refresh);
    image.writeSingleCoil(1, 7, refresh & 1);
    if (seconds > 0 && time(nullptr) - start >= seconds) break;
    sleep(1);
  }
  return 0;
}
