// Inputs the fuzz targets found faults with, kept so that the faults stay fixed.
#include <gtest/gtest.h>

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

}  // namespace
