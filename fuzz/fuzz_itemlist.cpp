// Feeds arbitrary bytes to the item-list reader of the name/value process image, on a plain
// memory block with the shared-memory layout, then looks every name up and stores values.
// The same bytes are also taken as a foreign image and looked up, which must never read past
// the block however its header lies.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "otdataacquisition.h"

namespace {

// Every lookup on an image: the results must be C strings within the block.
void walk(otDataAcquisitionImage& image, const std::string& probe) {
  int why;
  const int n = image.numItems();
  for (int i = 0; i < n + 2; i++) {
    const char* name = image.itemName(i, &why);
    if (name == nullptr) continue;
    const char* value = image.lookup(name, &why);
    if (value != nullptr) {
      otDataAcquisitionImage::parseInt(value);
      otDataAcquisitionImage::parseFloat(value);
    } else if (why == otDataAcquisitionImage::NOT_FOUND) {
      abort();  // a name handed out must be found again
    }
  }
  image.lookup(probe.c_str(), &why);
  image.readErrorCount();
  image.lifeCounter();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Byte 0 picks the value length, byte 1 the block size; the rest is the item list.
  const int maxValueLength = size > 0 ? data[0] % 64 : 8;
  const size_t blockSize = 88 + (size > 1 ? data[1] : 64) * 8;
  const size_t skip = size < 2 ? size : 2;
  const char* text = reinterpret_cast<const char*>(data) + skip;
  const size_t length = size - skip;
  std::string probe(text, length < 16 ? length : 16);
  probe = probe.c_str();

  std::vector<char> block(blockSize);
  otDataAcquisitionImage image(block.data(), block.size());
  image.init(maxValueLength);
  if (image.readItemList(text, length) == 0) {
    walk(image, probe);
    const int n = image.numItems();
    for (int i = 0; i < n; i++) {
      std::string name = image.itemName(i);
      if (image.setStringValue(name.c_str(), probe.c_str(), false) != 0) abort();
      int why;
      const char* value = image.lookup(name.c_str(), &why);
      if (value == nullptr || probe.compare(0, (size_t)maxValueLength, value) != 0) abort();
    }
  }
  // Adding values until the block is full, with names taken from the input.
  for (size_t i = 0; i + 4 <= probe.size(); i += 4)
    image.setStringValue(probe.substr(i, 4).c_str(), probe.c_str(), true);
  image.setMaxNameLength(4);
  walk(image, probe);

  // The input itself as image, in a block of exactly its size.
  std::vector<char> foreign(data, data + size);
  otDataAcquisitionImage raw(foreign.data(), foreign.size());
  walk(raw, probe);
  raw.setStringValue(probe.c_str(), probe.c_str(), true);
  walk(raw, probe);
  return 0;
}
