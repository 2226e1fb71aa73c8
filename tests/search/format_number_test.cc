// Hyphenation of result numbers from the area code sets.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "search/result_builder.h"

namespace {

struct Sets {
  std::unique_ptr<AreaCodeSets> context = std::make_unique<AreaCodeSets>();
  Sets& Area(uint32_t q) {
    context->areaCodes[q / 8] |= 0x80 >> (q % 8);
    return *this;
  }
  Sets& Extended(uint32_t q) {
    context->extended[q / 8] |= 0x80 >> (q % 8);
    return *this;
  }
  std::string Format(const char* number) {
    char out[24];
    std::memset(out, 'X', sizeof out);
    FormatNumber(context.get(), number, out, sizeof out);
    return out;
  }
};

TEST(FormatNumber, ProbesLongerPrefixesFirstAndTheExtendedSetFirst) {
  EXPECT_EQ(Sets().Area(123).Format("012345678"), "0123-4-5678");
  EXPECT_EQ(Sets().Area(3).Format("0312345678"), "03-1234-5678");
  EXPECT_EQ(Sets().Extended(31).Format("0312345678"), "03-1234-5678");
  EXPECT_EQ(Sets().Area(31234).Format("0312345678"), "031234-5678") << "empty middle group";
  // At one length the extended set wins over the area code set.
  EXPECT_EQ(Sets().Area(3123).Format("0312345678"), "03123-4-5678");
  EXPECT_EQ(Sets().Area(3123).Extended(3123).Format("0312345678"), "0312-34-5678");
  // A longer q is tried before a shorter one, whichever set holds it.
  EXPECT_EQ(Sets().Area(3).Area(312).Format("0312345678"), "0312-34-5678");
}

TEST(FormatNumber, WritesThePlainNumberWhenNoSplitApplies) {
  EXPECT_EQ(Sets().Format("0312345678"), "0312345678") << "no stale buffer contents";
  EXPECT_EQ(Sets().Area(3).Format("12345"), "12345") << "neither 9 nor 10 digits";
  EXPECT_EQ(Sets().Format(""), "");
  char tiny[4];
  FormatNumber(Sets().context.get(), "0312345678", tiny, sizeof tiny);
  EXPECT_STREQ(tiny, "031") << "never past the output's capacity";
}

}  // namespace
