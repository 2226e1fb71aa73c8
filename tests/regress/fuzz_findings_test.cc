// Inputs the fuzz targets found faults with, kept so that the faults stay fixed.
#include <gtest/gtest.h>

#include "search/name_search.h"
#include "search/number_search.h"

namespace {

// request_fuzzer: a key buffer of capacity 0 had its NUL written past its end.
TEST(FuzzFindings, KeyNormalisationIntoNoRoomWritesNothing) {
  char guard[2] = {'x', 'x'};
  EXPECT_EQ(NumberSearch_NormalizeKey("", guard, 0), -1);
  EXPECT_EQ(NumberSearch_NormalizeKey("03", guard, 0), -1);
  EXPECT_EQ(guard[0], 'x');
  EXPECT_EQ(NumberSearch_NormalizeKey("", guard, 1), 0);
  EXPECT_EQ(guard[0], '\0');
}

// dictionary_fuzzer: the name index key of an empty name shifted a 64-bit value by 64.
TEST(FuzzFindings, TheIndexKeyOfAnEmptyNameIsZero) {
  EXPECT_EQ(NameSearch_IndexKey("", 8), 0u);
  EXPECT_EQ(NameSearch_IndexKey("AB", 0), 0u);
  EXPECT_EQ(NameSearch_IndexKey("AB", 8), 0x4142000000000000u);
  EXPECT_EQ(NameSearch_IndexKey("ABCDEFGHIJ", 8), 0x4142434445464748u);
}

}  // namespace
