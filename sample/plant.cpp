// The plant mask (mask 1): the demo daemon's process image, live.
#include "plant.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "demo.h"
#include "ottime.h"
#include "sample.h"

namespace {

const char* const kNames[4] = {"seconds", "sine60", "sine10", "sawtooth"};
const char* const kNav[6] = {"Mask 2", "Mask 3", "GL scene", "VTK", "Database", "Dialog"};
const int kNavMask[6] = {MASK_2, MASK_3, MASK_4, MASK_VTK, MASK_DB, 0};

// The mask whose base window the modal dialog refreshes (one per connection thread).
thread_local PlantMask* dialogBase = nullptr;

int refreshBase(PARAM_*) {
  return dialogBase != nullptr ? dialogBase->refresh(false) : 0;
}

int counter(otModbusClient& image, int base) {
  unsigned short v = 0;  // the daemon's counters are in host byte order
  return image.otSharedMemory::read(base, &v, 2) == 2 ? v : -1;
}

}  // namespace

PlantMask::PlantMask(PARAM_* p)
    : p_(p),
      writes_([this](int id, long value) { return post(id, value); }),
      superseded_("plant: setpoints superseded before the daemon took them") {
  std::fill(shown_, shown_ + 16, -1);
  std::fill(shownFresh_, shownFresh_ + 8, -1);
  std::fill(shownAge_, shownAge_ + 8, -2);
}

PlantMask::~PlantMask() {
  if (writes_.pending() > 0)
    printf("plant: %d write requests were still waiting for the daemon's mailbox\n",
           writes_.pending());
  if (writes_.failed() > 0) printf("plant: %ld write requests refused\n", writes_.failed());
  fflush(stdout);
}

bool PlantMask::openImage() {
  if (image_ != nullptr) return true;
  const char* shm = sampleSettings.sharedMemory ? sampleSettings.sharedMemory : demo_SHARED_MEMORY;
  const char* mbx = sampleSettings.mailbox ? sampleSettings.mailbox : demo_MAILBOX;
  std::unique_ptr<otModbusClient> c(new otModbusClient(mbx, shm, demo_SHARED_MEMORY_SIZE));
  if (c->otMailbox::status != otMailbox::MAILBOX_OK ||
      c->otSharedMemory::status != otSharedMemory::SHM_OK)
    return false;
  // A daemon that stopped taking requests must not hold this connection in a write.
  c->setWriteWait(0);
  image_ = std::move(c);
  return true;
}

int PlantMask::post(int id, long value) {
  if (image_ == nullptr) return -1;
  if (id == idSetpoint) return image_->writePresetSingleRegister(1, 0, (int)value);
  if (id == idToggle) return image_->writeSingleCoil(1, 0, (int)value);
  return -1;
}

int PlantMask::flushWrites() {
  return writes_.flush();
}

int PlantMask::define() {
  PARAM_* p = p_;
  hxStartDefinition(p, idCount);
  hxSetText(p, 0, "otkit sample: the plant");
  hxQLabel(p, idTitle, 0);
  hxSetGeometry(p, idTitle, 10, 10, 600, 30);
  hxSetFont(p, idTitle, "DejaVu Sans", 14, 1, 0);
  hxSetText(p, idTitle, "Demo plant: the process image of the demo daemon");
  for (int i = 0; i < 4; i++) {
    hxQLabel(p, idNames + i, 0);
    hxSetGeometry(p, idNames + i, 10, 50 + 28 * i, 110, 24);
    hxSetText(p, idNames + i, kNames[i]);
    hxQLabel(p, idValues + i, 0);
    hxSetGeometry(p, idValues + i, 125, 50 + 28 * i, 175, 24);
    hxSetBackgroundColor(p, idValues + i, 255, 255, 255);
  }
  hxQLabel(p, idBlinker, 0);
  hxSetGeometry(p, idBlinker, 10, 170, 140, 24);
  hxQLabel(p, idHigh, 0);
  hxSetGeometry(p, idHigh, 160, 170, 140, 24);
  hxQSlider(p, idSetpoint, 0, 0, 1000, 10, 0, 1);
  hxSetGeometry(p, idSetpoint, 10, 210, 290, 24);
  hxSetToolTip(p, idSetpoint, "holding register 0 (the setpoint)");
  hxQLabel(p, idSetpointValue, 0);
  hxSetGeometry(p, idSetpointValue, 10, 240, 290, 24);
  hxQPushButton(p, idToggle, 0);
  hxSetGeometry(p, idToggle, 10, 275, 140, 30);
  hxSetText(p, idToggle, "Toggle valve");
  hxSetToolTip(p, idToggle, "coil 0; a click on the pump does the same");
  hxQLabel(p, idCoil, 0);
  hxSetGeometry(p, idCoil, 160, 275, 140, 30);
  hxQLabel(p, idStatus, 0);
  hxSetGeometry(p, idStatus, 10, 315, 290, 60);
  hxQDraw(p, idTrend, 0);
  hxSetGeometry(p, idTrend, 310, 50, 580, 250);
  hxQDraw(p, idPicture, 0);
  hxSetGeometry(p, idPicture, 310, 310, 400, 280);
  for (int k = 0; k < 6; k++) {
    hxQPushButton(p, idNav + k, 0);
    hxSetGeometry(p, idNav + k, 10 + 147 * k, 600, 140, 30);
    hxSetText(p, idNav + k, kNav[k]);
  }
  hxResize(p, 0, 900, 640);
  if (hxEndDefinition(p) < 0) return -1;
  // The animator marks a descriptor it failed to send on -1: a copy of its own, so that the
  // connection's stays the server's.
  svgSocket_ = p->s;
  svg_.setSocket(&svgSocket_);
  svg_.setId(idPicture);
  char path[4096];
  pictureSent_ = svg_.read(sampleDataPath("plant.svg", path, sizeof path)) == 0;
  if (!pictureSent_) hxStatusMessage(p, 255, 0, 0, "the plant picture plant.svg cannot be read");
  return p->stop.load() ? -1 : 0;
}

void PlantMask::showValue(int index, int value, bool fresh, long age, bool full) {
  int id = idValues + index;
  bool changed = full || value != shown_[index] || (int)fresh != shownFresh_[index] ||
                 (!fresh && age != shownAge_[index]);
  if (!changed) return;
  if (fresh) {
    hxPrintf(p_, id, "%d", value);
  } else if (age >= 0) {
    hxPrintf(p_, id, "%d  (stale, %ld s)", value, age);
  } else {
    hxPrintf(p_, id, "%d  (never read)", value);
  }
  if (full || (int)fresh != shownFresh_[index]) hxSetEnabled(p_, id, fresh ? 1 : 0);
  shown_[index] = value;
  shownFresh_[index] = fresh;
  shownAge_[index] = age;
}

void PlantMask::drawTrend() {
  PARAM_* p = p_;
  const double step = sampleSettings.refreshMs / 1000.0, span = kTrendPoints * step;
  std::vector<float> x(trend_.size());
  for (size_t k = 0; k < trend_.size(); k++)
    x[k] = (float)(-(double)(trend_.size() - 1 - k) * step);
  gBeginDraw(p, idTrend);
  gSetBackgroundColor(p, 250, 250, 250);
  gSetFont(p, "DejaVu Sans", 10, 0, 0);
  gSetColor(p, 0, 0, 0);
  gBoxWithText(p, 60, 20, 490, 190, 11, "t / s", "sine60", "");
  gXAxis(p, -span, span / 6, 0, 1);
  gYAxis(p, 0, 200, 1000, 1);
  gSetColor(p, 180, 180, 180);
  gSetStyle(p, 3);
  gXGrid(p);
  gYGrid(p);
  gSetStyle(p, 1);
  gSetColor(p, 0, 60, 200);
  gSetWidth(p, 2);
  gLine(p, x.data(), trend_.data(), (int)trend_.size());
  gEndDraw(p);
}

void PlantMask::updatePicture() {
  if (!pictureSent_) return;
  int level = shown_[1] < 0 ? 0 : std::min(shown_[1], 1000);
  int blink = shown_[4], coil = shown_[6], setpoint = shown_[5];
  bool fresh = shownFresh_[0] == 1;
  // The shown_ values have been updated by now; the picture follows the same numbers.
  int h = 196 * level / 1000;
  svg_.svgPrintf("level", "y=", "%d", 238 - h);
  svg_.svgPrintf("level", "height=", "%d", h);
  svg_.svgTextPrintf("t_level", "level %d", level);
  svg_.svgChangeStyleOption("pump", "fill", blink == 1 ? "#30c030" : "#a0a0a0");
  const char* valve = coil == 1 ? "#30a030" : "#c03030";
  svg_.svgChangeStyleOption("valve", "fill", valve);
  svg_.svgChangeStyleOption("valve2", "fill", valve);
  svg_.svgTextPrintf("t_valve", "%s", coil == 1 ? "valve open" : "valve closed");
  svg_.svgTextPrintf("t_setpoint", "setpoint %d", setpoint < 0 ? 0 : setpoint);
  long age = shownAge_[0];
  if (fresh)
    svg_.svgTextPrintf("t_state", "values fresh");
  else if (age >= 0)
    svg_.svgTextPrintf("t_state", "stale: no good read for %ld s", age);
  else
    svg_.svgTextPrintf("t_state", "no values yet");
  svg_.svgChangeStyleOption("t_state", "fill", fresh ? "#008000" : "#c00000");
  svg_.writeSocket();
}

int PlantMask::refresh(bool full) {
  PARAM_* p = p_;
  if (!openImage()) {
    if (full || shown_[15] != 0)
      hxStatusMessage(p, 255, 0, 0, "the process image of the demo daemon is not there (yet)");
    shown_[15] = 0;
    return hxSync(p) < 0 ? -1 : 0;
  }
  shown_[15] = 1;
  otModbusClient& img = *image_;
  int ok = 0;
  long age = -1;
  img.cycleStatus(1, &ok, &age);
  for (int i = 0; i < 4; i++)
    showValue(i, img.readShort(demo_CYCLE1_BASE, i), ok == 1, age, full);
  trend_.push_back((float)shown_[1]);
  if (trend_.size() > kTrendPoints) trend_.erase(trend_.begin());

  int ok2 = 0;
  long age2 = -1;
  img.cycleStatus(2, &ok2, &age2);
  int blink = img.readBit(demo_CYCLE2_BASE, 0), high = img.readBit(demo_CYCLE2_BASE, 1);
  if (full || blink != shown_[4] || ok2 != shownFresh_[4]) {
    hxPrintf(p, idBlinker, "pump %s", blink ? "running" : "stopped");
    if (blink && ok2)
      hxSetBackgroundColor(p, idBlinker, 0, 200, 0);
    else
      hxSetBackgroundColor(p, idBlinker, 200, 200, 200);
    hxSetEnabled(p, idBlinker, ok2);
  }
  if (full || high != shown_[7] || ok2 != shownFresh_[4]) {
    hxPrintf(p, idHigh, "sine60 %s 500", high ? ">" : "<=");
    hxSetEnabled(p, idHigh, ok2);
  }
  shown_[4] = blink;
  shown_[7] = high;
  shownFresh_[4] = ok2;

  int ok3 = 0, ok4 = 0;
  long age3 = -1, age4 = -1;
  img.cycleStatus(3, &ok3, &age3);
  img.cycleStatus(4, &ok4, &age4);
  int setpoint = img.readShort(demo_CYCLE3_BASE, 0);
  if (full || setpoint != shown_[5] || ok3 != shownFresh_[5]) {
    hxPrintf(p, idSetpointValue, "setpoint (holding register 0) = %d%s", setpoint,
             ok3 ? "" : "  (stale)");
    hxSetEnabled(p, idSetpointValue, ok3);
  }
  // The slider follows the setpoint when it changes elsewhere (another client, the device).
  if (full || setpoint != shown_[5]) hxSetValue(p, idSetpoint, setpoint);
  shown_[5] = setpoint;
  shownFresh_[5] = ok3;
  coil_ = img.readBit(demo_CYCLE4_BASE, 0);
  if (full || coil_ != shown_[6] || ok4 != shownFresh_[6]) {
    hxPrintf(p, idCoil, "valve (coil 0) %s", coil_ ? "open" : "closed");
    hxSetEnabled(p, idCoil, ok4);
  }
  shown_[6] = coil_;
  shownFresh_[6] = ok4;

  int life = counter(img, demo_LIFE_COUNTER_BASE);
  int rerr = counter(img, demo_READ_ERROR_COUNT_BASE);
  int werr = counter(img, demo_WRITE_ERROR_COUNT_BASE);
  long pass = -1;
  img.passAge(&pass);
  if (full || life != shown_[8] || rerr != shown_[9] || werr != shown_[10] || pass != shown_[11])
    hxPrintf(p, idStatus,
             "life counter %d\nread errors %d, write errors %d\nlast good pass %ld s ago", life,
             rerr, werr, pass);
  shown_[8] = life;
  shown_[9] = rerr;
  shown_[10] = werr;
  shown_[11] = (int)pass;
  shownFresh_[0] = ok;
  shownAge_[0] = age;

  drawTrend();
  updatePicture();
  return hxSync(p) < 0 ? -1 : 0;
}

int PlantMask::handle(int kind, int id, const char* rest) {
  int value = 0;
  if (kind == SLIDER_EVENT && id == idSetpoint && sscanf(rest, "(%d)", &value) == 1) {
    long before = writes_.superseded();
    if (image_ != nullptr) writes_.put(idSetpoint, value);
    if (writes_.superseded() != before)
      superseded_.say("plant: a setpoint was superseded before the daemon took it (%ld so far)\n",
                      writes_.superseded());
    return 0;
  }
  bool pump = kind == TEXT_EVENT && id == idPicture &&
              strncmp(rest, "svgPressedLeftButton=HX.pump", 28) == 0;
  if ((kind == BUTTON_EVENT && id == idToggle) || pump) {
    if (image_ != nullptr) writes_.put(idToggle, !coil_);
    return 0;
  }
  if (kind == BUTTON_EVENT && id >= idNav && id < idNav + 6) {
    int k = id - idNav;
    if (kNavMask[k] != 0) return kNavMask[k];
    dialogBase = this;
    hxRunModalDialog(p_, 400, 200, show_modal1, refreshBase);
    dialogBase = nullptr;
    return p_->stop.load() ? -1 : 0;
  }
  return 0;
}

int show_plant(PARAM_* p) {
  PlantMask mask(p);
  if (mask.define() < 0) return -1;
  const int savedPoll = p->pollMs;
  p->pollMs = std::max(20, std::min(250, sampleSettings.refreshMs / 4));
  char buf[HX_EVENT_BUFSIZE];
  std::vector<char> rest(HX_TEXT_SIZE);
  long long due = 0;
  bool first = true;
  int next = -1;
  for (;;) {
    mask.flushWrites();
    if (otMonotonicMs() >= due) {
      if (mask.refresh(first) < 0) break;
      first = false;
      due = otMonotonicMs() + sampleSettings.refreshMs;
    }
    if (hxPollEvent(p, buf) < 0) break;
    int id = 0;
    int kind = hxParseEvent(buf, &id, rest.data());
    if (kind == SHUTUP_EVENT) break;
    if (kind == QUIET_EVENT) continue;
    int r = mask.handle(kind, id, rest.data());
    if (r < 0) break;
    if (r > 0) {
      next = r;
      break;
    }
    if (kind != SLIDER_EVENT && kind != BUTTON_EVENT && kind != TEXT_EVENT)
      printEvent(p, kind, id, rest.data());
  }
  p->pollMs = savedPoll;
  return next;
}
