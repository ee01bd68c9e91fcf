#include "otspcodec.h"

#include <math.h>
#include <string.h>

#include "otsparkplug.pb.h"

namespace {

const char* const kTypeNames[] = {
    "Unknown", "Int8",  "Int16",  "Int32",    "Int64",       "UInt8",          "UInt16", "UInt32",
    "UInt64",  "Float", "Double", "Boolean",  "String",      "DateTime",       "Text",   "UUID",
    "DataSet", "Bytes", "File",   "Template", "PropertySet", "PropertySetList"};
const int kTypeCount = (int)(sizeof(kTypeNames) / sizeof(kTypeNames[0]));

const char kQuality[] = "Quality";

// The field each data type travels in.
int fieldOf(int type) {
  switch (type) {
    case OT_SP_INT8:
    case OT_SP_INT16:
    case OT_SP_INT32:
    case OT_SP_UINT8:
    case OT_SP_UINT16:
      return otSpMetric::INT;
    // The Eclipse project's codecs write a UInt32 as a long and read it only from there; one
    // written as an int is read as well (fits()).
    case OT_SP_UINT32:
    case OT_SP_INT64:
    case OT_SP_UINT64:
    case OT_SP_DATETIME:
      return otSpMetric::LONG;
    case OT_SP_FLOAT:
      return otSpMetric::FLOAT;
    case OT_SP_DOUBLE:
      return otSpMetric::DOUBLE;
    case OT_SP_BOOLEAN:
      return otSpMetric::BOOLEAN;
    case OT_SP_STRING:
    case OT_SP_TEXT:
    case OT_SP_UUID:
      return otSpMetric::TEXT;
    case OT_SP_BYTES:
    case OT_SP_FILE:
      return otSpMetric::BYTES;
    case OT_SP_DATASET:
    case OT_SP_TEMPLATE:
    case OT_SP_PROPERTY_SET:
    case OT_SP_PROPERTY_SET_LIST:
      return otSpMetric::OTHER;
    default:
      return otSpMetric::NONE;
  }
}

// The range of an integer type, as doubles.
bool rangeOf(int type, double* lo, double* hi) {
  switch (type) {
    case OT_SP_INT8:
      *lo = -128, *hi = 127;
      return true;
    case OT_SP_INT16:
      *lo = -32768, *hi = 32767;
      return true;
    case OT_SP_INT32:
      *lo = -2147483648.0, *hi = 2147483647.0;
      return true;
    case OT_SP_UINT8:
      *lo = 0, *hi = 255;
      return true;
    case OT_SP_UINT16:
      *lo = 0, *hi = 65535;
      return true;
    case OT_SP_UINT32:
      *lo = 0, *hi = 4294967295.0;
      return true;
    case OT_SP_INT64:
      *lo = -9223372036854775808.0, *hi = 9223372036854774784.0;
      return true;
    case OT_SP_UINT64:
      *lo = 0, *hi = 18446744073709549568.0;
      return true;
    case OT_SP_DATETIME:
      *lo = 0, *hi = 9223372036854774784.0;
      return true;
    default:
      return false;
  }
}

// Whether a value in field may be read as type.
bool fits(int type, int field) {
  return field == fieldOf(type) || (type == OT_SP_UINT32 && field == otSpMetric::INT);
}

bool fail(std::string* why, const std::string& text, otSpPayload* p) {
  if (why != nullptr) *why = text;
  *p = otSpPayload();
  return false;
}

}  // namespace

const char* otSpTypeName(int datatype) {
  return datatype >= 0 && datatype < kTypeCount ? kTypeNames[datatype] : nullptr;
}

bool otSpNumeric(int datatype) {
  int f = fieldOf(datatype);
  return f == otSpMetric::INT || f == otSpMetric::LONG || f == otSpMetric::FLOAT ||
         f == otSpMetric::DOUBLE || f == otSpMetric::BOOLEAN;
}

bool otSpMetric::setNumber(int type, double v) {
  if (!otSpNumeric(type)) return false;
  datatype = type;
  isNull = false;
  field = fieldOf(type);
  text.clear();
  bits = 0;
  real = 0;
  double lo = 0, hi = 0;
  switch (field) {
    case FLOAT:
    case DOUBLE:
      real = v;
      return true;
    case BOOLEAN:
      bits = v != 0 ? 1 : 0;
      return true;
    default:
      break;
  }
  rangeOf(type, &lo, &hi);
  // A value outside the type is held at its bound; NaN is 0.
  double r = isnan(v) ? 0 : nearbyint(v < lo ? lo : v > hi ? hi : v);
  if (type == OT_SP_UINT64 || type == OT_SP_UINT32 || type == OT_SP_UINT16 || type == OT_SP_UINT8)
    bits = (uint64_t)r;
  else
    bits = (uint64_t)(int64_t)r;
  if (field == INT) bits &= 0xffffffffu;
  return true;
}

bool otSpMetric::number(int type, double* v) const {
  if (isNull || !otSpNumeric(type) || !fits(type, field)) return false;
  switch (type) {
    case OT_SP_INT8:
      *v = (double)(int8_t)(uint8_t)bits;
      return true;
    case OT_SP_INT16:
      *v = (double)(int16_t)(uint16_t)bits;
      return true;
    case OT_SP_INT32:
      *v = (double)(int32_t)(uint32_t)bits;
      return true;
    case OT_SP_UINT8:
      *v = (double)(uint8_t)bits;
      return true;
    case OT_SP_UINT16:
      *v = (double)(uint16_t)bits;
      return true;
    case OT_SP_UINT32:
      *v = (double)(uint32_t)bits;
      return true;
    case OT_SP_INT64:
    case OT_SP_DATETIME:
      *v = (double)(int64_t)bits;
      return true;
    case OT_SP_UINT64:
      *v = (double)bits;
      return true;
    case OT_SP_BOOLEAN:
      *v = bits != 0 ? 1 : 0;
      return true;
    default:
      *v = real;
      return true;
  }
}

void otSpEncode(const otSpPayload& p, std::string* out) {
  otsp::Payload pb;
  if (p.hasTimestamp) pb.set_timestamp(p.timestamp);
  if (p.hasSeq) pb.set_seq(p.seq);
  for (const otSpMetric& m : p.metrics) {
    otsp::Metric* x = pb.add_metrics();
    if (!m.name.empty()) x->set_name(m.name);
    if (m.hasAlias) x->set_alias(m.alias);
    if (m.hasTimestamp) x->set_timestamp(m.timestamp);
    if (m.datatype != OT_SP_UNKNOWN) x->set_datatype((uint32_t)m.datatype);
    if (m.quality >= 0) {
      otsp::PropertySet* ps = x->mutable_properties();
      ps->add_keys(kQuality);
      otsp::PropertyValue* q = ps->add_values();
      q->set_type(OT_SP_INT32);
      q->set_int_value((uint32_t)m.quality);
    }
    if (m.isNull) {
      x->set_is_null(true);
      continue;
    }
    switch (m.field) {
      case otSpMetric::INT:
        x->set_int_value((uint32_t)m.bits);
        break;
      case otSpMetric::LONG:
        x->set_long_value(m.bits);
        break;
      case otSpMetric::FLOAT:
        x->set_float_value((float)m.real);
        break;
      case otSpMetric::DOUBLE:
        x->set_double_value(m.real);
        break;
      case otSpMetric::BOOLEAN:
        x->set_boolean_value(m.bits != 0);
        break;
      case otSpMetric::TEXT:
        x->set_string_value(m.text);
        break;
      case otSpMetric::BYTES:
        x->set_bytes_value(m.text);
        break;
      default:
        break;
    }
  }
  out->clear();
  pb.SerializeToString(out);
}

bool otSpDecode(const void* data, size_t len, otSpPayload* p, std::string* why) {
  *p = otSpPayload();
  if (len > OT_SP_MAX_PAYLOAD)
    return fail(why,
                "a payload of " + std::to_string(len) + " bytes, above " +
                    std::to_string((int)OT_SP_MAX_PAYLOAD),
                p);
  otsp::Payload pb;
  if (!pb.ParseFromArray(data, (int)len)) return fail(why, "not a Sparkplug B payload", p);
  if (pb.metrics_size() > OT_SP_MAX_METRICS)
    return fail(why,
                std::to_string(pb.metrics_size()) + " metrics in one payload, above " +
                    std::to_string((int)OT_SP_MAX_METRICS),
                p);
  p->hasTimestamp = pb.has_timestamp();
  p->timestamp = pb.timestamp();
  p->hasSeq = pb.has_seq();
  p->seq = pb.seq();
  p->metrics.resize((size_t)pb.metrics_size());
  for (int i = 0; i < pb.metrics_size(); i++) {
    const otsp::Metric& x = pb.metrics(i);
    otSpMetric& m = p->metrics[(size_t)i];
    const std::string where = "metric " + std::to_string(i + 1);
    if (x.name().size() > OT_SP_MAX_NAME)
      return fail(why, where + ": name above " + std::to_string((int)OT_SP_MAX_NAME) + " bytes", p);
    m.name = x.name();
    m.hasAlias = x.has_alias();
    m.alias = x.alias();
    m.hasTimestamp = x.has_timestamp();
    m.timestamp = x.timestamp();
    if (x.has_datatype() && (x.datatype() == 0 || x.datatype() >= (uint32_t)kTypeCount))
      return fail(why, where + ": unknown data type " + std::to_string(x.datatype()), p);
    m.datatype = (int)x.datatype();
    m.isNull = x.is_null();
    if (x.has_properties()) {
      const otsp::PropertySet& ps = x.properties();
      for (int k = 0; k < ps.keys_size() && k < ps.values_size(); k++) {
        const otsp::PropertyValue& v = ps.values(k);
        if (ps.keys(k) == kQuality && v.has_int_value()) m.quality = (int)(int32_t)v.int_value();
      }
    }
    switch (x.value_case()) {
      case otsp::Metric::kIntValue:
        m.field = otSpMetric::INT, m.bits = x.int_value();
        break;
      case otsp::Metric::kLongValue:
        m.field = otSpMetric::LONG, m.bits = x.long_value();
        break;
      case otsp::Metric::kFloatValue:
        m.field = otSpMetric::FLOAT, m.real = x.float_value();
        break;
      case otsp::Metric::kDoubleValue:
        m.field = otSpMetric::DOUBLE, m.real = x.double_value();
        break;
      case otsp::Metric::kBooleanValue:
        m.field = otSpMetric::BOOLEAN, m.bits = x.boolean_value() ? 1 : 0;
        break;
      case otsp::Metric::kStringValue:
        m.field = otSpMetric::TEXT, m.text = x.string_value();
        break;
      case otsp::Metric::kBytesValue:
        m.field = otSpMetric::BYTES, m.text = x.bytes_value();
        break;
      case otsp::Metric::VALUE_NOT_SET:
        m.field = otSpMetric::NONE;
        break;
      default:
        m.field = otSpMetric::OTHER;
        break;
    }
    // A value in a field its type does not travel in cannot be read as that type.
    if (m.datatype != OT_SP_UNKNOWN && m.field != otSpMetric::NONE && !fits(m.datatype, m.field))
      return fail(why, where + ": a " + otSpTypeName(m.datatype) + " value in the wrong field", p);
  }
  return true;
}

bool otSpTopic::validId(const std::string& id) {
  return !id.empty() && id.find_first_of("/+#") == std::string::npos;
}

std::string otSpTopic::text() const {
  if (type == "STATE") return "spBv1.0/STATE/" + node;
  std::string t = "spBv1.0/" + group + "/" + type + "/" + node;
  if (!device.empty()) t += "/" + device;
  return t;
}

bool otSpTopic::parse(const std::string& topic) {
  *this = otSpTopic();
  std::vector<std::string> parts;
  size_t at = 0;
  for (;;) {
    size_t slash = topic.find('/', at);
    parts.push_back(topic.substr(at, slash == std::string::npos ? std::string::npos : slash - at));
    if (slash == std::string::npos) break;
    at = slash + 1;
    if (parts.size() > 5) return false;
  }
  if (parts.empty() || parts[0] != "spBv1.0") return false;
  for (size_t i = 1; i < parts.size(); i++)
    if (!validId(parts[i])) return false;
  if (parts.size() == 3 && parts[1] == "STATE") {
    type = "STATE";
    node = parts[2];
    return true;
  }
  static const char* const kTypes[] = {"NBIRTH", "NDEATH", "NDATA", "NCMD",
                                       "DBIRTH", "DDEATH", "DDATA", "DCMD"};
  if (parts.size() != 4 && parts.size() != 5) return false;
  bool known = false;
  for (const char* k : kTypes)
    known = known || parts[2] == k;
  bool ofDevice = parts[2][0] == 'D';
  if (!known || ofDevice != (parts.size() == 5)) return false;
  group = parts[1];
  type = parts[2];
  node = parts[3];
  if (ofDevice) device = parts[4];
  return true;
}
