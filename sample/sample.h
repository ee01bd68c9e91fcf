// The sample display server: its masks, each "int show_<name>(PARAM_* p)" that defines its
// widgets, runs its event loop and returns the number of the mask to show next, and the small
// functions of its main module for script bindings.
#ifndef OTSAMPLE_SAMPLE_H
#define OTSAMPLE_SAMPLE_H

#include "hxserver.h"

// Mask numbers: what a mask returns to have another one shown.
enum {
  MASK_PLANT = 1,  // the demo plant, live from the process image
  MASK_2 = 2,
  MASK_3 = 3,
  MASK_4 = 4,  // the GL scene
  MASK_VTK = 5,
  MASK_DB = 6,    // a query result in a table
  MASK_COUNT = 7  // masks are numbered 1 .. MASK_COUNT - 1
};

int show_plant(PARAM_* p);
int show_mask2(PARAM_* p);
int show_mask3(PARAM_* p);
int show_mask4(PARAM_* p);
int show_maskvtk(PARAM_* p);
int show_maskdb(PARAM_* p);
int show_modal1(PARAM_* p);

// The main module's functions for script bindings.
PARAM_* getParam(unsigned long p);
int hxQImageScript(PARAM_* p, int id, int parent, const char* file);
int* new_int(int v);
int get_int(int* cell);
void delete_int(int* cell);

// Settings of the whole server, set from the command line before the first client comes.
struct SampleSettings {
  const char* dataDir = ".";           // the sample data files (images, sound, GL lists, VTK files)
  const char* sharedMemory = nullptr;  // the demo daemon's process image; null: the header's
  const char* mailbox = nullptr;       // its mailbox; null: the header's
  const char* dbType = "QSQLITE";      // the database of the database mask
  const char* dbName = nullptr;        // null: "otsample.sqlite" in the working directory
  const char* dbHost = "";
  const char* dbUser = "";
  const char* dbPassword = "";
  int refreshMs = 1000;  // the plant mask's refresh
};
extern SampleSettings sampleSettings;

// The path of a sample data file in sampleSettings.dataDir (a buffer of the caller's).
const char* sampleDataPath(const char* name, char* buf, int size);

// The buttons "Show Mask1", "Show Mask2", "Show Mask3" of the sample masks: ids first .. first+2
// in parent, down its left edge from the top, 100 x 30 each.
void defineNavigation(PARAM_* p, int first, int parent);

// The common step of a mask's loop: the next event (an idle one when none comes in time),
// parsed into its kind, id and text (HX_TEXT_SIZE bytes) and printed. SHUTUP_EVENT also when
// the connection is closed.
int nextEvent(PARAM_* p, char* event, char* text, int* id);

// Prints the event of a mask's loop in the sample's formats (and "UNKNOWN_EVENT id=%d %s"
// for what it does not know); used by every mask for the events it does not handle itself.
void printEvent(PARAM_* p, int kind, int id, const char* text);

#endif
