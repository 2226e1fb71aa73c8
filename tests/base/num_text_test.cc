// Number text and big-endian codecs.
#include "base/byte_order.h"
#include "base/num_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(NumText, WidthsModuloAndBlanks) {
  EXPECT_STREQ(NumText(7, 4), "0007");
  EXPECT_STREQ(NumText(10000, 4), "0000");
  EXPECT_STREQ(NumText(12345, 4), "2345");
  EXPECT_STREQ(NumText(0xFFFFFFFFu, 4), "    ");
  EXPECT_STREQ(NumText(4294967294u, 10), "4294967294");
  EXPECT_STREQ(NumText(5, 0), "");
  EXPECT_STREQ(NumText(5, 30), "00000000000000000000005") << "width clamped to 23";
  EXPECT_STREQ(Blanks(3), "   ");
}

TEST(NumText, SharesOneBuffer) {
  const char* a = NumText(1, 3);
  const char* b = NumText(2, 3);
  EXPECT_EQ(a, b);
  EXPECT_STREQ(a, "002");
}

TEST(ByteOrder, LoadsAreUnsignedAndStoresRoundTrip) {
  const uint8_t be16[] = {0x12, 0x34};
  uint16_t v16;
  GetU16BE(be16, &v16);
  EXPECT_EQ(v16, 0x1234);
  const uint8_t be32[] = {0xFF, 0xFF, 0xFF, 0xFE};
  uint32_t v32;
  GetU32BE(be32, &v32);
  EXPECT_EQ(v32, 4294967294u);
  uint8_t buf[4];
  PutU32BE(buf, 0x80A1B2C3u);
  GetU32BE(buf, &v32);
  EXPECT_EQ(v32, 0x80A1B2C3u);
  PutU24BE(buf, 0xFEDCBA);
  v32 = LoadU24BE(buf);
  EXPECT_EQ(v32, 0xFEDCBAu);
  EXPECT_EQ(DecimalValue("00312"), 312u);
  EXPECT_EQ(DecimalValue("12a4"), 12u);
}

}  // namespace
