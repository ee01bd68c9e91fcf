// The Sparkplug B payload reader and the topic parser on arbitrary bytes, as a broker delivers
// them: the bounds hold, and what is read, written again, reads back the same.
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "otspcodec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  otSpTopic topic;
  if (topic.parse(std::string((const char*)data, size)) && topic.type != "STATE") {
    otSpTopic again;
    if (!again.parse(topic.text())) __builtin_trap();
  }
  otSpPayload p;
  std::string why;
  if (!otSpDecode(data, size, &p, &why)) {
    if (why.empty()) __builtin_trap();
    return 0;
  }
  std::string bytes;
  otSpEncode(p, &bytes);
  otSpPayload back;
  if (!otSpDecode(bytes.data(), bytes.size(), &back, &why)) __builtin_trap();
  if (back.metrics.size() != p.metrics.size() || back.seq != p.seq) __builtin_trap();
  for (size_t i = 0; i < p.metrics.size(); i++) {
    const otSpMetric &a = p.metrics[i], &b = back.metrics[i];
    if (a.name != b.name || a.alias != b.alias || a.datatype != b.datatype) __builtin_trap();
    double x = 0, y = 0;
    bool ax = a.number(a.datatype, &x), bx = b.number(b.datatype, &y);
    if (ax != bx || (ax && x != y && x == x)) __builtin_trap();
  }
  return 0;
}
