// The builder's UTF-8 to CP932 conversion: full-width normalisation, Unicode look-alikes,
// IBM extension codes and refusals (the same expectations hold under wine).
#include "common/cp932.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Convert(const std::string& utf8, bool fullWidth) {
  std::string out, error;
  EXPECT_TRUE(Cp932_FromUtf8(utf8, fullWidth, &out, &error)) << error;
  return out;
}

std::string Refusal(const std::string& utf8, bool fullWidth = true) {
  std::string out, error;
  EXPECT_FALSE(Cp932_FromUtf8(utf8, fullWidth, &out, &error)) << "converted to " << out.size()
                                                               << " bytes";
  return error;
}

TEST(Cp932Test, AsciiBecomesFullWidthInDoubleByteFields) {
  // "ＡＢＣ　１２３" and full-width forms of symbols.
  EXPECT_EQ(Convert("ABC 123", true), "\x82\x60\x82\x61\x82\x62\x81\x40\x82\x50\x82\x51\x82\x52");
  EXPECT_EQ(Convert("a-(z)", true), "\x82\x81\x81\x7c\x81\x69\x82\x9a\x81\x6a");
  EXPECT_TRUE(Cp932_IsDoubleByte(Convert("Tokyo Tower 2F ~!", true)));
  // Outside double-byte fields ASCII stays as it is.
  EXPECT_EQ(Convert("1-2-3 Bldg", false), "1-2-3 Bldg");
}

TEST(Cp932Test, HalfWidthKatakanaBecomesFullWidthAndVoicedMarksJoin) {
  // ｶﾞｷﾞﾊﾟｳﾞｱ -> ガギパヴア
  EXPECT_EQ(Convert("\uFF76\uFF9E\uFF77\uFF9E\uFF8A\uFF9F\uFF73\uFF9E\uFF71", true),
            "\x83\x4b\x83\x4d\x83\x70\x83\x94\x83\x41");
  // ｱﾞ: a takes no voiced mark, so the mark stays a character of its own: ア゛
  EXPECT_EQ(Convert("\uFF71\uFF9E", true), "\x83\x41\x81\x4a");
  // ｶﾟ: ka takes no semi-voiced mark: カ゜
  EXPECT_EQ(Convert("\uFF76\uFF9F", true), "\x83\x4a\x81\x4b");
  // ｰ｡｢｣､･ -> ー。「」、・
  EXPECT_EQ(Convert("\uFF70\uFF61\uFF62\uFF63\uFF64\uFF65", true),
            "\x81\x5b\x81\x42\x81\x75\x81\x76\x81\x41\x81\x45");
  // Outside double-byte fields half-width katakana stay single bytes.
  EXPECT_EQ(Convert("\uFF76\uFF9E", false), "\xb6\xde");
}

TEST(Cp932Test, CombiningVoicedMarksJoinInEveryField) {
  // か + U+3099 -> が, ハ + U+309A -> パ, ウ + U+3099 -> ヴ
  EXPECT_EQ(Convert("\u304B\u3099\u30CF\u309A\u30A6\u3099", false), "\x82\xaa\x83\x70\x83\x94");
  // A combining mark after a letter becomes the spacing mark.
  EXPECT_EQ(Convert("A\u3099", true), "\x82\x60\x81\x4a");
}

TEST(Cp932Test, UnicodeLookAlikesMapToTheCodePageForms) {
  EXPECT_EQ(Convert("\u301C", false), "\x81\x60");  // wave dash as full-width tilde
  EXPECT_EQ(Convert("\uFF5E", false), "\x81\x60");
  EXPECT_EQ(Convert("\u2212", false), "\x81\x7c");  // minus sign
  EXPECT_EQ(Convert("\u2014", false), "\x81\x5c");  // em dash
  EXPECT_EQ(Convert("\u2016", false), "\x81\x61");  // double vertical line
  EXPECT_EQ(Convert("\u00A2\u00A3\u00AC", false), "\x81\x91\x81\x92\x81\xca");
  EXPECT_EQ(Convert("\u00A5", false), "\x81\x8f");  // yen sign as full-width yen, not 0x5C
  EXPECT_EQ(Convert("\u00A0", false), " ");
}

TEST(Cp932Test, IbmExtensionCharactersUseCodesInTheTwoByteLeadRanges) {
  EXPECT_EQ(Convert("\u9AD9", true), "\xee\xe0");  // 髙, 0xFB 0xFC in the IBM rows
  EXPECT_EQ(Convert("\uFA11", true), "\xed\x95");  // 﨑
  EXPECT_EQ(Convert("\u2170", true), "\xee\xef");  // small roman numeral one
  std::string back;
  ASSERT_TRUE(Cp932_ToUtf8("\xee\xe0\xed\x95", &back));
  EXPECT_EQ(back, "\u9AD9\uFA11");
}

TEST(Cp932Test, RefusesWhatTheCodePageCannotWrite) {
  EXPECT_NE(Refusal("a\u20ACb").find("U+20AC"), std::string::npos);       // euro sign
  EXPECT_NE(Refusal("\U0001F600").find("U+1F600"), std::string::npos);    // emoji
  EXPECT_NE(Refusal("\u00E9", false).find("U+00E9"), std::string::npos);  // é
  EXPECT_NE(Refusal("a\x01", false).find("control character"), std::string::npos);
  EXPECT_NE(Refusal("\uE000").find("private-use"), std::string::npos);
  EXPECT_NE(Refusal("ab\xff").find("malformed UTF-8 at byte 3"), std::string::npos);
  EXPECT_NE(Refusal("\xed\xa0\x80").find("malformed"), std::string::npos);  // a surrogate
  EXPECT_NE(Refusal("\xc0\xaf").find("malformed"), std::string::npos);      // overlong '/'
}

TEST(Cp932Test, ConvertsBackToUtf8) {
  const std::string text = "\u4F50\u85E4\u3000\u592A\u90CE 1-2 \uFF76";  // 佐藤　太郎 1-2 ｶ
  std::string back;
  ASSERT_TRUE(Cp932_ToUtf8(Convert(text, false), &back));
  EXPECT_EQ(back, text);
  EXPECT_FALSE(Cp932_ToUtf8("\x88", &back)) << "a lead byte without its second byte";
}

TEST(Cp932Test, DoubleByteTest) {
  EXPECT_TRUE(Cp932_IsDoubleByte(""));
  EXPECT_TRUE(Cp932_IsDoubleByte("\x8d\xb2\x93\xa1"));
  EXPECT_FALSE(Cp932_IsDoubleByte("\x8d\xb2\x41"));  // trailing ASCII
  EXPECT_FALSE(Cp932_IsDoubleByte("\xb1\xb1"));      // two half-width katakana
  EXPECT_FALSE(Cp932_IsDoubleByte("\x8d"));          // a lone lead byte
}

TEST(Cp932Test, ExcerptsAreBoundedWholeCharactersWithControlAndStrayBytesEscaped) {
  std::string mountains;
  for (int i = 0; i < 100; ++i) mountains += "\u5C71";
  std::string first80;
  for (int i = 0; i < 80; ++i) first80 += "\u5C71";
  EXPECT_EQ(Text_Excerpt(mountains), "\"" + first80 + "\"... (300 bytes)");
  EXPECT_EQ(Text_Excerpt(std::string("a\0\t\xFF\x7F\"\\\u00E9", 9)),
            "\"a\\x00\\x09\\xFF\\x7F\\\"\\\\\u00E9\"");
  EXPECT_EQ(Text_Excerpt("\xE5\xB1", 5), "\"\\xE5\\xB1\"");  // a cut character
}

}  // namespace
