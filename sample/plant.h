// The plant mask: the demo daemon's process image, live. Values by the generated header's
// names (read through otModbusClient), each greyed with its age when its cycle's status says
// it is stale; a trend of sine60 with axes and grid; an SVG picture of the plant whose
// elements follow the values; a slider and a button that post write requests, which come
// back through the device into the image.
#ifndef OTSAMPLE_PLANT_H
#define OTSAMPLE_PLANT_H

#include <memory>
#include <vector>

#include "hxserver.h"
#include "otmodbusclient.h"
#include "otrepeatlog.h"
#include "otsvganimator.h"
#include "otwritecoalescer.h"

class PlantMask {
 public:
  enum {
    idTitle = 1,
    idNames = 2,   // 2..5: the input registers' names
    idValues = 6,  // 6..9: their values
    idBlinker = 10,
    idHigh = 11,
    idTrend = 12,
    idPicture = 13,
    idSetpoint = 14,
    idSetpointValue = 15,
    idToggle = 16,
    idCoil = 17,
    idStatus = 18,
    idNav = 19,  // 19..24: Mask 2, Mask 3, GL scene, VTK, Database, Dialog
    idCount = 25
  };
  // How many points of sine60 the trend keeps (one a refresh).
  enum { kTrendPoints = 120 };

  explicit PlantMask(PARAM_* p);
  ~PlantMask();
  PlantMask(const PlantMask&) = delete;
  PlantMask& operator=(const PlantMask&) = delete;

  // Defines the mask and sends the picture. 0, or -1 when the connection failed.
  int define();
  // One pass: reads the image and sends what changed (everything with full), the trend and
  // the picture's changes, and waits until the client has carried them out. 0, or -1 when
  // the connection failed.
  int refresh(bool full);
  // Reacts to one event: a write request for the slider, the button and the pump in the
  // picture. The number of the mask to show next, or 0 to stay.
  int handle(int kind, int id, const char* rest);
  // Whether the process image and the mailbox are open (they are retried each pass).
  bool imageOpen() const { return image_ != nullptr; }
  // Posts the write requests that waited for room in the mailbox. How many still wait.
  int flushWrites();

 private:
  bool openImage();
  // The write request of a widget (the setpoint slider, the valve), posted to the mailbox.
  int post(int id, long value);
  void showValue(int index, int value, bool fresh, long age, bool full);
  void drawTrend();
  void updatePicture();

  PARAM_* p_;
  std::unique_ptr<otModbusClient> image_;
  otSvgAnimator svg_;
  int svgSocket_ = -1;
  bool pictureSent_ = false;
  std::vector<float> trend_;  // the last kTrendPoints values of sine60
  // What the client shows now, so that a pass sends only changes; -1: unknown.
  int shown_[16];
  int shownFresh_[8];
  long shownAge_[8];
  int coil_ = 0;
  // A slider dragged fast sends far more values than the daemon writes: the latest wins.
  otWriteCoalescer writes_;
  otRepeatLog superseded_;
};

#endif
