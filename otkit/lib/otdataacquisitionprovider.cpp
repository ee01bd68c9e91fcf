#include "otdataacquisitionprovider.h"
#include "otlog.h"

#include <stdio.h>

#include <string>

namespace {

// The whole file, so that both passes over the item list see the same text even if the file
// changes meanwhile. False if it cannot be opened or read.
bool loadFile(const char* filename, std::string* text) {
  FILE* fp = filename != nullptr ? fopen(filename, "rb") : nullptr;
  if (fp == nullptr) return false;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), fp)) > 0)
    text->append(buf, n);
  const bool ok = ferror(fp) == 0;
  fclose(fp);
  return ok;
}

}  // namespace

otDataAcquisitionProvider::otDataAcquisitionProvider(int maxValueLength, const char* shmname,
                                                     long shmsize)
    : shm(shmname, shmsize > 0 ? (unsigned long)shmsize : 0, 0600),
      image(shm.getUserAdr(), shmsize > 0 ? (unsigned long)shmsize : 0),
      index(0),
      allowAddValues(0) {
  image.init(maxValueLength);
}

otDataAcquisitionProvider::~otDataAcquisitionProvider() = default;

int otDataAcquisitionProvider::readItemList(const char* filename) {
  std::string text;
  if (!loadFile(filename, &text)) {
    otLog(OT_LOG_ERROR, "could not open itemlist %s\n", filename != nullptr ? filename : "(null)");
    return DAQ_ERROR_INT;
  }
  return image.readItemList(text.data(), text.size());
}

const char* otDataAcquisitionProvider::firstItem() {
  index = 0;
  return image.itemName(index);
}

const char* otDataAcquisitionProvider::nextItem() {
  const int n = image.numItems();
  if (index < 0 || index >= n) return nullptr;
  index++;
  return image.itemName(index);
}

const char* otDataAcquisitionProvider::stringValue(const char* name) {
  int why;
  const char* value = image.lookup(name, &why);
  return value != nullptr ? value : "DAQ_ERROR";
}

int otDataAcquisitionProvider::intValue(const char* name) {
  return otDataAcquisitionImage::parseInt(stringValue(name));
}

float otDataAcquisitionProvider::floatValue(const char* name) {
  return otDataAcquisitionImage::parseFloat(stringValue(name));
}

int otDataAcquisitionProvider::setStringValue(const char* name, const char* value) {
  return image.setStringValue(name, value, allowAddValues != 0);
}

int otDataAcquisitionProvider::setIntValue(const char* name, int value) {
  char text[otDataAcquisitionImage::MAX_NUMBER + 1];
  snprintf(text, sizeof(text), "%d", value);
  return setStringValue(name, text);
}

int otDataAcquisitionProvider::setFloatValue(const char* name, float value) {
  char text[otDataAcquisitionImage::MAX_NUMBER + 1];
  snprintf(text, sizeof(text), "%f", (double)value);
  return setStringValue(name, text);
}

int otDataAcquisitionProvider::readErrorCount() {
  return image.readErrorCount();
}
int otDataAcquisitionProvider::writeErrorCount() {
  return image.writeErrorCount();
}
int otDataAcquisitionProvider::lifeCounter() {
  return image.lifeCounter();
}
int otDataAcquisitionProvider::setReadErrorCount(int value) {
  return image.setReadErrorCount(value);
}
int otDataAcquisitionProvider::setWriteErrorCount(int value) {
  return image.setWriteErrorCount(value);
}
int otDataAcquisitionProvider::setLifeCounter(int value) {
  return image.setLifeCounter(value);
}

int otDataAcquisitionProvider::shmStatus() {
  return shm.status == otSharedMemory::SHM_OK && image.hasHeader() ? 0 : DAQ_ERROR_INT;
}

int otDataAcquisitionProvider::setAllowAddValues(int allow, int maxNameLength) {
  allowAddValues = allow != 0 ? 1 : 0;
  if (maxNameLength > 0) return image.setMaxNameLength(maxNameLength);
  return 0;
}
