#include "otplc.h"
#include "otlog.h"

#include <stdio.h>
#include <string.h>

#include <new>

#include "otsharedmemory.h"

otPlcState::otPlcState(int numInt_, int numFloat_, int numDouble_, const char* shared_memory)
    : ints(nullptr),
      oldInts(nullptr),
      floats(nullptr),
      oldFloats(nullptr),
      doubles(nullptr),
      oldDoubles(nullptr),
      numInt(numInt_ > 0 ? numInt_ : 1),
      numFloat(numFloat_ > 0 ? numFloat_ : 1),
      numDouble(numDouble_ > 0 ? numDouble_ : 1) {
  const unsigned long nI = (unsigned long)numInt;
  const unsigned long nF = (unsigned long)numFloat;
  const unsigned long nD = (unsigned long)numDouble;
  if (shared_memory == nullptr) {
    // A count too large for memory leaves the object without arrays, like a failed segment.
    intStore.reset(new (std::nothrow) int[2 * nI]());
    floatStore.reset(new (std::nothrow) float[2 * nF]());
    doubleStore.reset(new (std::nothrow) double[2 * nD]());
    if (!intStore || !floatStore || !doubleStore) {
      dropArrays();
      return;
    }
    ints = intStore.get();
    oldInts = ints + nI;
    floats = floatStore.get();
    oldFloats = floats + nF;
    doubles = doubleStore.get();
    oldDoubles = doubles + nD;
    return;
  }

  sharedMemory.reset(new otSharedMemory(shared_memory, (nI + nF) * 8 + nD * 16, 0600));
  char* base = static_cast<char*>(sharedMemory->getUserAdr());
  if (sharedMemory->status != otSharedMemory::SHM_OK || base == nullptr) {
    otLog(OT_LOG_ERROR, "ERROR: otPlcState sharedMemoryStatus(%s) is not OK\n", shared_memory);
    dropArrays();
    return;
  }
  // The user data starts 40 bytes into a page-aligned segment, and every array before the
  // doubles has an even number of 4-byte elements, so the doubles are 8-byte aligned.
  ints = reinterpret_cast<int*>(base);
  oldInts = reinterpret_cast<int*>(base + 4 * nI);
  floats = reinterpret_cast<float*>(base + 8 * nI);
  oldFloats = reinterpret_cast<float*>(base + 8 * nI + 4 * nF);
  doubles = reinterpret_cast<double*>(base + 8 * nI + 8 * nF);
  oldDoubles = reinterpret_cast<double*>(base + 8 * nI + 8 * nF + 8 * nD);
}

otPlcState::~otPlcState() = default;

void otPlcState::dropArrays() {
  ints = oldInts = nullptr;
  floats = oldFloats = nullptr;
  doubles = oldDoubles = nullptr;
  numInt = numFloat = numDouble = 0;
  intStore.reset();
  floatStore.reset();
  doubleStore.reset();
  sharedMemory.reset();
}

void otPlcState::clear() {
  if (ints == nullptr) return;
  memset(ints, 0, 2 * sizeof(int) * (size_t)numInt);
  memset(floats, 0, 2 * sizeof(float) * (size_t)numFloat);
  memset(doubles, 0, 2 * sizeof(double) * (size_t)numDouble);
}

void otPlcState::rememberState() {
  if (ints == nullptr) return;
  memcpy(oldInts, ints, sizeof(int) * (size_t)numInt);
  memcpy(oldFloats, floats, sizeof(float) * (size_t)numFloat);
  memcpy(oldDoubles, doubles, sizeof(double) * (size_t)numDouble);
}

int otPlcState::intChanged(int index) {
  return validInt(index) && ints[index] != oldInts[index] ? 1 : 0;
}

int otPlcState::floatChanged(int index) {
  return validFloat(index) && floats[index] != oldFloats[index] ? 1 : 0;
}

int otPlcState::doubleChanged(int index) {
  return validDouble(index) && doubles[index] != oldDoubles[index] ? 1 : 0;
}

int otPlcState::intHasIncreased(int index) {
  return validInt(index) && ints[index] > oldInts[index] ? 1 : 0;
}

int otPlcState::floatHasIncreased(int index) {
  return validFloat(index) && floats[index] > oldFloats[index] ? 1 : 0;
}

int otPlcState::doubleHasIncreased(int index) {
  return validDouble(index) && doubles[index] > oldDoubles[index] ? 1 : 0;
}

int otPlcState::intHasDecreased(int index) {
  return validInt(index) && ints[index] < oldInts[index] ? 1 : 0;
}

int otPlcState::floatHasDecreased(int index) {
  return validFloat(index) && floats[index] < oldFloats[index] ? 1 : 0;
}

int otPlcState::doubleHasDecreased(int index) {
  return validDouble(index) && doubles[index] < oldDoubles[index] ? 1 : 0;
}

int otPlcState::deltaInt(int index) {
  // Wrapping difference: values from outside must not make the subtraction undefined.
  return validInt(index) ? (int)((unsigned)ints[index] - (unsigned)oldInts[index]) : 0;
}

float otPlcState::deltaFloat(int index) {
  return validFloat(index) ? floats[index] - oldFloats[index] : 0.0f;
}

double otPlcState::deltaDouble(int index) {
  return validDouble(index) ? doubles[index] - oldDoubles[index] : 0.0;
}

void otPlcState::set(int index, int bitmask) {
  if (validInt(index)) ints[index] |= bitmask;
}

void otPlcState::clear(int index, int bitmask) {
  if (validInt(index)) ints[index] &= ~bitmask;
}

int otPlcState::isSet(int index, int bitmask) {
  return validInt(index) && (ints[index] & bitmask) != 0 ? 1 : 0;
}

int otPlcState::isClear(int index, int bitmask) {
  return validInt(index) && (ints[index] & bitmask) == 0 ? 1 : 0;
}

int otPlcState::hasBeenSet(int index, int bitmask) {
  return validInt(index) && (ints[index] & bitmask) != 0 && (oldInts[index] & bitmask) == 0 ? 1 : 0;
}

int otPlcState::hasBeenCleared(int index, int bitmask) {
  return validInt(index) && (ints[index] & bitmask) == 0 && (oldInts[index] & bitmask) != 0 ? 1 : 0;
}

int otPlcState::maxInt() {
  return numInt - 1;
}

int otPlcState::maxFloat() {
  return numFloat - 1;
}

int otPlcState::maxDouble() {
  return numDouble - 1;
}

int otPlcState::getInt(int index) {
  return validInt(index) ? ints[index] : 0;
}

float otPlcState::getFloat(int index) {
  return validFloat(index) ? floats[index] : 0.0f;
}

double otPlcState::getDouble(int index) {
  return validDouble(index) ? doubles[index] : 0.0;
}

int otPlcState::getOldInt(int index) {
  return validInt(index) ? oldInts[index] : 0;
}

float otPlcState::getOldFloat(int index) {
  return validFloat(index) ? oldFloats[index] : 0.0f;
}

double otPlcState::getOldDouble(int index) {
  return validDouble(index) ? oldDoubles[index] : 0.0;
}

otPlcMem::otPlcMem()
    : intValue(0), oldInt(0), floatValue(0), oldFloat(0), doubleValue(0), oldDouble(0) {}

otPlcMem::~otPlcMem() = default;

void otPlcMem::rememberState() {
  oldInt = intValue;
  oldFloat = floatValue;
  oldDouble = doubleValue;
}

int otPlcMem::intChanged() {
  return intValue != oldInt ? 1 : 0;
}

int otPlcMem::floatChanged() {
  return floatValue != oldFloat ? 1 : 0;
}

int otPlcMem::doubleChanged() {
  return doubleValue != oldDouble ? 1 : 0;
}

int otPlcMem::intHasIncreased() {
  return intValue > oldInt ? 1 : 0;
}

int otPlcMem::floatHasIncreased() {
  return floatValue > oldFloat ? 1 : 0;
}

int otPlcMem::doubleHasIncreased() {
  return doubleValue > oldDouble ? 1 : 0;
}

int otPlcMem::intHasDecreased() {
  return intValue < oldInt ? 1 : 0;
}

int otPlcMem::floatHasDecreased() {
  return floatValue < oldFloat ? 1 : 0;
}

int otPlcMem::doubleHasDecreased() {
  return doubleValue < oldDouble ? 1 : 0;
}

int otPlcMem::deltaInt() {
  return (int)((unsigned)intValue - (unsigned)oldInt);
}

float otPlcMem::deltaFloat() {
  return floatValue - oldFloat;
}

double otPlcMem::deltaDouble() {
  return doubleValue - oldDouble;
}

void otPlcMem::set(int bitmask) {
  intValue |= bitmask;
}

void otPlcMem::clear(int bitmask) {
  intValue &= ~bitmask;
}

int otPlcMem::isSet(int bitmask) {
  return (intValue & bitmask) != 0 ? 1 : 0;
}

int otPlcMem::isClear(int bitmask) {
  return (intValue & bitmask) == 0 ? 1 : 0;
}

int otPlcMem::hasBeenSet(int bitmask) {
  return (intValue & bitmask) != 0 && (oldInt & bitmask) == 0 ? 1 : 0;
}

int otPlcMem::hasBeenCleared(int bitmask) {
  return (intValue & bitmask) == 0 && (oldInt & bitmask) != 0 ? 1 : 0;
}
