// Sparkplug B payloads and topics: what we write, read back and as the Eclipse project's own
// codec reads it; what it writes, as we read it; and the messages we refuse.
#include "otspcodec.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "brokertest.h"

namespace {

using brokertest::hex;
using brokertest::peer;
using brokertest::unhex;

otSpMetric number(const char* name, uint64_t alias, int type, double v) {
  otSpMetric m;
  m.name = name;
  m.hasAlias = alias > 0;
  m.alias = alias;
  m.setNumber(type, v);
  return m;
}

// A birth with every type an image's tags travel as, at the edges of their ranges.
otSpPayload birth() {
  otSpPayload p;
  p.hasTimestamp = true;
  p.timestamp = 1765280000123ull;
  p.hasSeq = true;
  p.seq = 0;
  p.metrics = {number("Node Control/Rebirth", 0, OT_SP_BOOLEAN, 0),
               number("bdSeq", 0, OT_SP_UINT64, 7),
               number("demo/level", 1, OT_SP_INT16, -32768),
               number("demo/flow", 2, OT_SP_UINT16, 65535),
               number("demo/count", 3, OT_SP_INT32, -2147483647.0 - 1),
               number("demo/byte", 4, OT_SP_UINT8, 200),
               number("demo/small", 5, OT_SP_INT8, -5),
               number("demo/total", 6, OT_SP_INT64, -1234567890123.0),
               number("demo/hours", 7, OT_SP_UINT32, 4000000000.0),
               number("demo/temp", 8, OT_SP_FLOAT, 21.5),
               number("demo/ratio", 9, OT_SP_DOUBLE, 0.1),
               number("demo/pump", 10, OT_SP_BOOLEAN, 1)};
  p.metrics[9].quality = OT_SP_QUALITY_STALE;
  otSpMetric text;
  text.name = "demo/note";
  text.datatype = OT_SP_STRING;
  text.field = otSpMetric::TEXT;
  text.text = "tank \"A\" ü";
  p.metrics.push_back(text);
  otSpMetric gone;
  gone.name = "demo/lost";
  gone.datatype = OT_SP_FLOAT;
  gone.isNull = true;
  p.metrics.push_back(gone);
  return p;
}

TEST(otSpCodec, WhatWeWriteReadsBackAndThePeerCodecReadsTheSame) {
  otSpPayload p = birth();
  std::string bytes;
  otSpEncode(p, &bytes);
  otSpPayload back;
  std::string why;
  ASSERT_TRUE(otSpDecode(bytes.data(), bytes.size(), &back, &why)) << why;
  ASSERT_EQ(p.metrics.size(), back.metrics.size());
  EXPECT_EQ(p.timestamp, back.timestamp);
  EXPECT_TRUE(back.hasSeq);
  for (size_t i = 0; i < p.metrics.size(); i++) {
    const otSpMetric &a = p.metrics[i], &b = back.metrics[i];
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.alias, b.alias);
    EXPECT_EQ(a.datatype, b.datatype);
    EXPECT_EQ(a.quality, b.quality);
    EXPECT_EQ(a.isNull, b.isNull);
    EXPECT_EQ(a.text, b.text);
    double x = 0, y = 0;
    if (a.number(a.datatype, &x)) {
      ASSERT_TRUE(b.number(b.datatype, &y)) << a.name;
      EXPECT_EQ(x, y) << a.name;
    }
  }
  EXPECT_EQ(
      "seq 0\n"
      "timestamp 1765280000123\n"
      "metric name=\"Node Control/Rebirth\" type=Boolean value=false\n"
      "metric name=\"bdSeq\" type=UInt64 value=7\n"
      "metric name=\"demo/level\" alias=1 type=Int16 value=-32768\n"
      "metric name=\"demo/flow\" alias=2 type=UInt16 value=65535\n"
      "metric name=\"demo/count\" alias=3 type=Int32 value=-2147483648\n"
      "metric name=\"demo/byte\" alias=4 type=UInt8 value=200\n"
      "metric name=\"demo/small\" alias=5 type=Int8 value=-5\n"
      "metric name=\"demo/total\" alias=6 type=Int64 value=-1234567890123\n"
      "metric name=\"demo/hours\" alias=7 type=UInt32 value=4000000000\n"
      "metric name=\"demo/temp\" alias=8 type=Float value=21.5 quality=500\n"
      "metric name=\"demo/ratio\" alias=9 type=Double value=0.1\n"
      "metric name=\"demo/pump\" alias=10 type=Boolean value=true\n"
      "metric name=\"demo/note\" type=String value=\"tank \\\"A\\\" ü\"\n"
      "metric name=\"demo/lost\" type=Float value=null\n",
      peer("decode", hex(bytes)));
}

TEST(otSpCodec, WhatThePeerWritesWeRead) {
  // A host's command: a rebirth, and a write of -7 to a tag named in the birth by alias only.
  std::string out = peer("encode",
                         "{\"timestamp\":1765280000999,\"seq\":12,\"metrics\":["
                         "{\"name\":\"Node Control/Rebirth\",\"type\":\"Boolean\",\"value\":true},"
                         "{\"alias\":3,\"type\":\"Int16\",\"value\":-7},"
                         "{\"name\":\"demo/set\",\"type\":\"Double\",\"value\":2.25},"
                         "{\"name\":\"demo/big\",\"type\":\"UInt64\",\"value\":4294967296}]}");
  std::string bytes = unhex(out.substr(0, out.find('\n')));
  otSpPayload p;
  std::string why;
  ASSERT_TRUE(otSpDecode(bytes.data(), bytes.size(), &p, &why)) << why << " " << out;
  EXPECT_EQ(12u, p.seq);
  EXPECT_EQ(1765280000999ull, p.timestamp);
  ASSERT_EQ(4u, p.metrics.size());
  double v = 0;
  EXPECT_EQ("Node Control/Rebirth", p.metrics[0].name);
  ASSERT_TRUE(p.metrics[0].number(OT_SP_BOOLEAN, &v));
  EXPECT_EQ(1, v);
  EXPECT_EQ("", p.metrics[1].name);
  EXPECT_EQ(3u, p.metrics[1].alias);
  ASSERT_TRUE(p.metrics[1].number(OT_SP_INT16, &v));
  EXPECT_EQ(-7, v);
  ASSERT_TRUE(p.metrics[2].number(OT_SP_DOUBLE, &v));
  EXPECT_EQ(2.25, v);
  ASSERT_TRUE(p.metrics[3].number(OT_SP_UINT64, &v));
  EXPECT_EQ(4294967296.0, v);
  // Data by alias alone is read with the type its birth gave: an Int16's bits are no UInt32.
  otSpMetric bare = p.metrics[1];
  bare.datatype = OT_SP_UNKNOWN;
  ASSERT_TRUE(bare.number(OT_SP_UINT16, &v));
  EXPECT_EQ(65529, v);
  EXPECT_FALSE(bare.number(OT_SP_FLOAT, &v));  // the wrong field for a Float
}

TEST(otSpCodec, NumbersAreHeldToTheirType) {
  otSpMetric m;
  double v = 0;
  ASSERT_TRUE(m.setNumber(OT_SP_INT16, 40000));
  ASSERT_TRUE(m.number(OT_SP_INT16, &v));
  EXPECT_EQ(32767, v);
  ASSERT_TRUE(m.setNumber(OT_SP_UINT8, -3));
  ASSERT_TRUE(m.number(OT_SP_UINT8, &v));
  EXPECT_EQ(0, v);
  ASSERT_TRUE(m.setNumber(OT_SP_INT32, 2.6));
  ASSERT_TRUE(m.number(OT_SP_INT32, &v));
  EXPECT_EQ(3, v);
  m.field = otSpMetric::INT;  // a UInt32 as some writers send it
  m.bits = 4000000000u;
  ASSERT_TRUE(m.number(OT_SP_UINT32, &v));
  EXPECT_EQ(4000000000.0, v);
  EXPECT_FALSE(m.setNumber(OT_SP_STRING, 1));
  m.isNull = true;
  EXPECT_FALSE(m.number(OT_SP_INT32, &v));
  EXPECT_STREQ("PropertySetList", otSpTypeName(OT_SP_PROPERTY_SET_LIST));
  EXPECT_EQ(nullptr, otSpTypeName(22));
  EXPECT_EQ(0u, otSpNext(255));
  EXPECT_EQ(1u, otSpNext(0));
}

TEST(otSpCodec, BadMessagesAreRefusedWithTheirReason) {
  auto refused = [](const std::string& bytes) {
    otSpPayload p;
    p.seq = 99;
    std::string why;
    bool ok = otSpDecode(bytes.data(), bytes.size(), &p, &why);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(p.metrics.empty() && p.seq == 0);
    return why;
  };
  EXPECT_EQ("not a Sparkplug B payload", refused("\x12\x7f\x0a"));  // a length past the end
  EXPECT_EQ("not a Sparkplug B payload", refused(std::string("\x0f\x01", 2)));  // field 1, group
  EXPECT_NE(std::string::npos,
            refused(std::string((size_t)OT_SP_MAX_PAYLOAD + 1, '\0')).find("above"));
  // A metric whose type is outside the table (datatype 99) and one of type 0.
  EXPECT_EQ("metric 1: unknown data type 99", refused(unhex("12050a01612063")));
  EXPECT_EQ("metric 1: unknown data type 0", refused(unhex("12050a01612000")));
  // An Int16 in the float field.
  EXPECT_EQ("metric 1: a Int16 value in the wrong field",
            refused(unhex("120a0a01612002650000803f")));
  std::string longName(OT_SP_MAX_NAME + 1, 'n');
  otSpPayload big;
  big.metrics.resize(1);
  big.metrics[0].name = longName;
  std::string bytes;
  otSpEncode(big, &bytes);
  EXPECT_EQ("metric 1: name above 1024 bytes", refused(bytes));
  big.metrics.assign(OT_SP_MAX_METRICS + 1, otSpMetric());
  otSpEncode(big, &bytes);
  EXPECT_EQ("100001 metrics in one payload, above 100000", refused(bytes));
}

TEST(otSpCodec, Topics) {
  otSpTopic t;
  ASSERT_TRUE(t.parse("spBv1.0/plant/NDATA/edge1"));
  EXPECT_EQ("plant", t.group);
  EXPECT_EQ("NDATA", t.type);
  EXPECT_EQ("edge1", t.node);
  EXPECT_EQ("", t.device);
  EXPECT_EQ("spBv1.0/plant/NDATA/edge1", t.text());
  ASSERT_TRUE(t.parse("spBv1.0/plant/DBIRTH/edge1/demo"));
  EXPECT_EQ("demo", t.device);
  EXPECT_EQ("spBv1.0/plant/DBIRTH/edge1/demo", t.text());
  ASSERT_TRUE(t.parse("spBv1.0/STATE/scada"));
  EXPECT_EQ("STATE", t.type);
  EXPECT_EQ("spBv1.0/STATE/scada", t.text());
  for (const char* bad :
       {"spBv1.0/plant/NDATA", "spBv1.0/plant/DDATA/edge1", "spBv1.0/plant/NDATA/edge1/dev",
        "spAv1.0/plant/NDATA/edge1", "spBv1.0/plant/XDATA/edge1", "spBv1.0//NDATA/edge1",
        "spBv1.0/plant/NDATA/+", "spBv1.0/plant/NDATA/e#", "spBv1.0/plant/DDATA/e/d/x",
        "spBv1.0/STATE/", ""})
    EXPECT_FALSE(t.parse(bad)) << bad;
  EXPECT_FALSE(otSpTopic::validId("a/b"));
  EXPECT_TRUE(otSpTopic::validId("edge-1"));
}

}  // namespace
