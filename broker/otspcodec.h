// Sparkplug B payloads and topics, as an edge node and a host application exchange them
// through an MQTT broker. The payload is protobuf; this is its only reader and writer, with
// bounds on what a message from the network may make us hold.
#ifndef OTSPCODEC_H
#define OTSPCODEC_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

enum otSpDataType {
  OT_SP_UNKNOWN = 0,
  OT_SP_INT8 = 1,
  OT_SP_INT16 = 2,
  OT_SP_INT32 = 3,
  OT_SP_INT64 = 4,
  OT_SP_UINT8 = 5,
  OT_SP_UINT16 = 6,
  OT_SP_UINT32 = 7,
  OT_SP_UINT64 = 8,
  OT_SP_FLOAT = 9,
  OT_SP_DOUBLE = 10,
  OT_SP_BOOLEAN = 11,
  OT_SP_STRING = 12,
  OT_SP_DATETIME = 13,
  OT_SP_TEXT = 14,
  OT_SP_UUID = 15,
  OT_SP_DATASET = 16,
  OT_SP_BYTES = 17,
  OT_SP_FILE = 18,
  OT_SP_TEMPLATE = 19,
  OT_SP_PROPERTY_SET = 20,
  OT_SP_PROPERTY_SET_LIST = 21
};

// The qualities that host applications read from a metric's "Quality" property.
enum { OT_SP_QUALITY_BAD = 0, OT_SP_QUALITY_GOOD = 192, OT_SP_QUALITY_STALE = 500 };

// Limits on what one decoded message may hold.
enum {
  OT_SP_MAX_PAYLOAD = 4 * 1024 * 1024,  // bytes of one message
  OT_SP_MAX_METRICS = 100000,           // metrics of one message
  OT_SP_MAX_NAME = 1024                 // bytes of a metric's name
};

// The name of a data type ("Int16"), null outside the table.
const char* otSpTypeName(int datatype);
// Whether a value of this type is a number (Boolean and DateTime included): the types an
// image's tags travel as.
bool otSpNumeric(int datatype);

// One metric. A value travels in one of the payload's fields; which one the field kind says:
// Int8 to Int32, UInt8 and UInt16 in INT (negative ones as their 32-bit two's complement),
// UInt32, the 64-bit integers and DateTime in LONG, both in `bits`; floats in `real`; texts
// and bytes in `text`.
struct otSpMetric {
  enum Field { NONE = 0, INT, LONG, FLOAT, DOUBLE, BOOLEAN, TEXT, BYTES, OTHER };

  std::string name;  // "" when the metric is given by its alias alone
  bool hasAlias = false;
  uint64_t alias = 0;
  bool hasTimestamp = false;
  uint64_t timestamp = 0;
  int datatype = OT_SP_UNKNOWN;  // 0 when the message leaves it to the birth
  bool isNull = false;
  int quality = -1;  // the "Quality" property; -1 when the metric has none
  int field = NONE;
  uint64_t bits = 0;
  double real = 0;
  std::string text;

  // Sets a numeric value of datatype (see otSpNumeric): the field and its bits as the type
  // travels. false for a type that is no number.
  bool setNumber(int type, double v);
  // The value as a number, read as datatype says (the birth's type when the message has
  // none): false when the field does not fit that type or the value is null.
  bool number(int type, double* v) const;
};

struct otSpPayload {
  bool hasTimestamp = false;
  uint64_t timestamp = 0;
  bool hasSeq = false;
  uint64_t seq = 0;
  std::vector<otSpMetric> metrics;
};

// The protobuf bytes of p, appended to out (cleared first).
void otSpEncode(const otSpPayload& p, std::string* out);
// Reads a message: false (*why the reason, p cleared) for a message above OT_SP_MAX_PAYLOAD,
// bytes that are no payload, more than OT_SP_MAX_METRICS metrics, a name above OT_SP_MAX_NAME,
// a data type outside the table, or a value in a field its data type does not travel in.
bool otSpDecode(const void* data, size_t len, otSpPayload* p, std::string* why);

// A topic "spBv1.0/<group>/<type>/<node>[/<device>]", or "spBv1.0/STATE/<host>".
struct otSpTopic {
  std::string group, type, node, device;  // for STATE: type "STATE", node the host's id
  std::string text() const;
  // false for a topic of another namespace, a missing part, an empty id, or one holding
  // '/', '+' or '#'.
  bool parse(const std::string& topic);
  // Whether id may stand in a topic (not empty, no '/', '+', '#').
  static bool validId(const std::string& id);
};

// The next seq or bdSeq: 0 to 255, wrapping.
inline uint64_t otSpNext(uint64_t n) {
  return (n + 1) & 0xff;
}

#endif
