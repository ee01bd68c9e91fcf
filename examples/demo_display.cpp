// The demo's display server: shows the process image of the daemon generated from
// demo.mkmodbus on display clients (otclient) and turns the operator's actions into write
// requests. Every client gets a mask of its own, refreshed ten times a second from the image
// through otModbusClient by the names of the generated header (demo.h).
//   demo_display [-port=5050] [-bind=ADDR] [-maxclients=N] [-poll=MS]
#include <stdio.h>

#include "demo.h"
#include "hxserver.h"
#include "otmodbusclient.h"

namespace {

enum {
  idTitle = 1,
  idNames,          // 2..5: names of the input registers
  idValues = 6,     // 6..9: their values
  idThermo = 10,    // sine60 as a thermometer
  idBlinker = 11,   // discrete input 0
  idSetpoint = 12,  // slider for holding register 0
  idSetpointValue,  // holding register 0 as read back
  idToggle,         // button: toggles coil 0
  idCoil,           // coil 0 as read back
  idLife,           // the daemon's life and error counters
  idCount
};

const char* const names[4] = {"seconds", "sine60", "sine10", "sawtooth"};

int counter(otModbusClient& image, int base) {
  unsigned short v = 0;  // the daemon's counters are in host byte order
  return image.otSharedMemory::read(base, &v, 2) == 2 ? v : -1;
}

int define(PARAM_* p) {
  hxStartDefinition(p, idCount);
  hxSetText(p, 0, "otkit demo: a Modbus/TCP process image");
  hxQLabel(p, idTitle, 0);
  hxSetGeometry(p, idTitle, 10, 10, 500, 30);
  hxSetFont(p, idTitle, "DejaVu Sans", 14, 1, 0);
  hxSetText(p, idTitle, "Process image of the demo daemon");
  for (int i = 0; i < 4; i++) {
    hxQLabel(p, idNames + i, 0);
    hxSetGeometry(p, idNames + i, 10, 50 + 30 * i, 120, 25);
    hxSetText(p, idNames + i, names[i]);
    hxQLabel(p, idValues + i, 0);
    hxSetGeometry(p, idValues + i, 140, 50 + 30 * i, 100, 25);
    hxSetBackgroundColor(p, idValues + i, 230, 230, 230);
  }
  hxQwtThermo(p, idThermo, 0);
  hxSetGeometry(p, idThermo, 250, 50, 80, 200);
  hxSetRange(p, idThermo, 0, 1000, 250);
  hxQLabel(p, idBlinker, 0);
  hxSetGeometry(p, idBlinker, 340, 50, 120, 25);
  hxSetText(p, idBlinker, "blinker");
  hxQSlider(p, idSetpoint, 0, 0, 1000, 10, 0, 1);
  hxSetGeometry(p, idSetpoint, 10, 180, 230, 25);
  hxSetToolTip(p, idSetpoint, "holding register 0");
  hxQLabel(p, idSetpointValue, 0);
  hxSetGeometry(p, idSetpointValue, 10, 210, 230, 25);
  hxQPushButton(p, idToggle, 0);
  hxSetGeometry(p, idToggle, 10, 250, 150, 30);
  hxSetText(p, idToggle, "Toggle coil 0");
  hxQLabel(p, idCoil, 0);
  hxSetGeometry(p, idCoil, 170, 250, 100, 30);
  hxQLabel(p, idLife, 0);
  hxSetGeometry(p, idLife, 10, 300, 500, 25);
  return hxEndDefinition(p);
}

int showImage(PARAM_* p) {
  otModbusClient image(demo_MAILBOX, demo_SHARED_MEMORY, demo_SHARED_MEMORY_SIZE);
  if (image.otMailbox::status != otMailbox::MAILBOX_OK ||
      image.otSharedMemory::status != otSharedMemory::SHM_OK) {
    hxStatusMessage(p, 255, 0, 0, "cannot open the process image or the mailbox");
    printf("demo_display: cannot open the process image or the mailbox\n");
    return -1;
  }
  if (define(p) < 0) return -1;
  char buf[HX_EVENT_BUFSIZE], rest[HX_TEXT_SIZE];
  int shown[16] = {0};
  bool first = true;
  for (;;) {
    int kind = hxPollEvent(p, buf) < 0 ? -1 : 0;
    if (kind < 0) return -1;
    int id = 0, value = 0;
    kind = hxParseEvent(buf, &id, rest);
    if (kind == SHUTUP_EVENT) return -1;
    if (kind == SLIDER_EVENT && id == idSetpoint && sscanf(rest, "(%d)", &value) == 1) {
      image.writePresetSingleRegister(1, 0, value);
    } else if (kind == BUTTON_EVENT && id == idToggle) {
      image.writeSingleCoil(1, 0, !image.readBit(demo_CYCLE4_BASE, 0));
    } else if (kind != QUIET_EVENT) {
      continue;
    }
    // Only what changed goes over the wire.
    for (int i = 0; i < 4; i++) {
      int v = image.readShort(demo_CYCLE1_BASE, i);
      if (first || v != shown[i]) hxPrintf(p, idValues + i, "%d", v);
      if (i == 1 && (first || v != shown[i])) hxSetFloat(p, idThermo, v);
      shown[i] = v;
    }
    int blink = image.readBit(demo_CYCLE2_BASE, 0);
    if (first || blink != shown[4]) {
      if (blink)
        hxSetBackgroundColor(p, idBlinker, 0, 200, 0);
      else
        hxSetBackgroundColor(p, idBlinker, 200, 200, 200);
    }
    shown[4] = blink;
    int setpoint = image.readShort(demo_CYCLE3_BASE, 0);
    if (first || setpoint != shown[5])
      hxPrintf(p, idSetpointValue, "holding register 0 = %d", setpoint);
    shown[5] = setpoint;
    int coil = image.readBit(demo_CYCLE4_BASE, 0);
    if (first || coil != shown[6]) hxPrintf(p, idCoil, "coil 0 = %d", coil);
    shown[6] = coil;
    int life = counter(image, demo_LIFE_COUNTER_BASE);
    int errors = counter(image, demo_READ_ERROR_COUNT_BASE);
    if (first || life != shown[7] || errors != shown[8])
      hxPrintf(p, idLife, "life counter %d, read errors %d", life, errors);
    shown[7] = life;
    shown[8] = errors;
    first = false;
  }
}

}  // namespace

int main(int argc, char** argv) {
  hxServerOptions o;
  o.catchSignals = 1;
  int r = hxParseServerArgs(argc, argv, &o);
  if (r != 0) return r > 0 ? 0 : 2;
  printf("demo_display: serving display clients on port %d\n", o.port);
  fflush(stdout);
  return hxRunServer(&o, showImage, nullptr) == 0 ? 0 : 1;
}
