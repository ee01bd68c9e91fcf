// otPlcState and otPlcMem: current values and the values of the previous cycle, for the edge
// detection of cyclic control programs.
//
// A cycle reads its inputs into the current values, evaluates changes and edges against the old
// values and ends with rememberState(), which copies current into old. Neither class locks:
// threads or processes that share one state keep their cycles consistent themselves.
#ifndef OTPLC_H
#define OTPLC_H

#include <memory>

class otSharedMemory;

class otPlcState {
 public:
  // Counts of 0 or less become 1. Without a name (null) the six arrays belong to the object and
  // start at 0. With a name, one shared memory of (numInt + numFloat) * 8 + numDouble * 16 bytes
  // is opened (mode 0600) and the arrays lie back to back in it: ints, old ints, floats, old
  // floats, doubles, old doubles, in host byte order; an existing memory keeps its values. If
  // the memory cannot be set up, a message is printed and the object has no arrays: every
  // count is 0, the pointers are null, getters return 0 and setters do nothing.
  otPlcState(int numInt = 1, int numFloat = 1, int numDouble = 1,
             const char* shared_memory = nullptr);
  // Releases the private arrays, or the shared memory object (the segment stays in the system).
  virtual ~otPlcState();
  otPlcState(const otPlcState&) = delete;
  otPlcState& operator=(const otPlcState&) = delete;

  // Sets all six arrays to 0.
  void clear();
  // Old arrays := current arrays, for all three types.
  void rememberState();

  // The indexed methods check 0 <= index < count of their type; outside, they return 0 (0.0)
  // or do nothing.
  // 1 if current != old, else 0.
  int intChanged(int index);
  int floatChanged(int index);
  int doubleChanged(int index);
  // 1 if current > old, else 0.
  int intHasIncreased(int index);
  int floatHasIncreased(int index);
  int doubleHasIncreased(int index);
  // 1 if current < old, else 0.
  int intHasDecreased(int index);
  int floatHasDecreased(int index);
  int doubleHasDecreased(int index);
  // current - old.
  int deltaInt(int index);
  float deltaFloat(int index);
  double deltaDouble(int index);

  // Bit operations on the current int: set ORs the mask in, clear removes its bits.
  void set(int index, int bitmask);
  void clear(int index, int bitmask);
  // 1 if any bit of the mask is set in the current int.
  int isSet(int index, int bitmask);
  // 1 if no bit of the mask is set in the current int.
  int isClear(int index, int bitmask);
  // Rising edge: 1 if the mask has a bit in the current int and none in the old int.
  int hasBeenSet(int index, int bitmask);
  // Falling edge: 1 if the mask has no bit in the current int and a bit in the old int.
  int hasBeenCleared(int index, int bitmask);

  // The highest valid index of the type (count - 1; -1 for an object without arrays).
  int maxInt();
  int maxFloat();
  int maxDouble();

  // Current and old values.
  int getInt(int index);
  float getFloat(int index);
  double getDouble(int index);
  int getOldInt(int index);
  float getOldFloat(int index);
  double getOldDouble(int index);

  int* ints;
  int* oldInts;
  float* floats;
  float* oldFloats;
  double* doubles;
  double* oldDoubles;

 private:
  std::unique_ptr<otSharedMemory> sharedMemory;
  int numInt;
  int numFloat;
  int numDouble;
  // Owners of the private arrays (empty when the arrays lie in shared memory).
  std::unique_ptr<int[]> intStore;
  std::unique_ptr<float[]> floatStore;
  std::unique_ptr<double[]> doubleStore;

  bool validInt(int index) const { return ints != nullptr && index >= 0 && index < numInt; }
  bool validFloat(int index) const { return floats != nullptr && index >= 0 && index < numFloat; }
  bool validDouble(int index) const {
    return doubles != nullptr && index >= 0 && index < numDouble;
  }
  void dropArrays();
};

class otPlcMem {
 public:
  // All six values 0.
  otPlcMem();
  virtual ~otPlcMem();

  // Old values := current values.
  void rememberState();
  // 1 if current != old (>, <), else 0.
  int intChanged();
  int floatChanged();
  int doubleChanged();
  int intHasIncreased();
  int floatHasIncreased();
  int doubleHasIncreased();
  int intHasDecreased();
  int floatHasDecreased();
  int doubleHasDecreased();
  // current - old.
  int deltaInt();
  float deltaFloat();
  double deltaDouble();
  // Bit operations on the current int, with the same results as otPlcState's.
  void set(int bitmask);
  void clear(int bitmask);
  int isSet(int bitmask);
  int isClear(int bitmask);
  int hasBeenSet(int bitmask);
  int hasBeenCleared(int bitmask);

  int intValue;
  int oldInt;
  float floatValue;
  float oldFloat;
  double doubleValue;
  double oldDouble;
};

#endif
