// Tests of the unit-wise wildcard matcher and of the name-pattern helpers.
#include "search/pattern.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

// CP932 two-byte characters used as the units A, B, C, D of the examples.
#define A "\x88\x9f"   // 亜
#define B "\x88\xc9"   // 伊
#define C "\x89\x46"   // 宇
#define D "\x8d\x5d"   // 江
#define STAR "\x81\x96"   // ＊ full-width asterisk
#define QMARK "\x81\x48"  // ？ full-width question mark
#define WSPACE "\x81\x40" // 　 full-width space

// A heap copy exactly as long as the text and its NUL, so the sanitizer sees any read past it.
std::unique_ptr<char[]> Exact(const std::string& s) {
  std::unique_ptr<char[]> p(new char[s.size() + 1]);
  std::memcpy(p.get(), s.c_str(), s.size() + 1);
  return p;
}

int Match(const std::string& text, const std::string& pattern) {
  auto t = Exact(text);
  auto p = Exact(pattern);
  return Pattern_Match(t.get(), p.get());
}

std::string Repeat(const std::string& unit, int times) {
  std::string s;
  for (int i = 0; i < times; ++i) s += unit;
  return s;
}

std::string Widen(const std::string& pattern) {
  auto p = Exact(pattern);
  std::string out(2 * pattern.size() + 1, 'x');
  int n = Pattern_Widen(p.get(), out.data(), out.size());
  EXPECT_GE(n, 0);
  EXPECT_EQ(std::strlen(out.c_str()), static_cast<size_t>(n));
  return std::string(out.c_str(), n);
}

TEST(PatternMatch, AnchoredAtOneEnd) {
  EXPECT_EQ(Match(A, A STAR), 0);
  EXPECT_EQ(Match(A B, A STAR), 0);
  EXPECT_EQ(Match(A C B, A STAR), 0);
  EXPECT_EQ(Match(B A, A STAR), -4);

  EXPECT_EQ(Match(A, STAR A), 0);
  EXPECT_EQ(Match(B A, STAR A), 0);
  EXPECT_EQ(Match(A B, STAR A), -5);
}

TEST(PatternMatch, MiddleSegments) {
  EXPECT_EQ(Match(A, STAR A STAR), 0);
  EXPECT_EQ(Match(B C A, STAR A STAR), 0);
  EXPECT_EQ(Match(B A C, STAR A STAR), 0);
  EXPECT_EQ(Match(B C, STAR A STAR), -6);

  EXPECT_EQ(Match(A B C, A STAR B STAR C), 0);
  EXPECT_EQ(Match(A C B B C, A STAR B STAR C), 0);
  EXPECT_EQ(Match(A C, A STAR B STAR C), -2);
  EXPECT_EQ(Match(A C C, A STAR B STAR C), -6);

  // Two middle segments in order, neither end anchored.
  EXPECT_EQ(Match(C A D B C, STAR A STAR B STAR), 0);
  EXPECT_EQ(Match(C B D A C, STAR A STAR B STAR), -6);
}

TEST(PatternMatch, RepeatedSegmentNeedsTwoPlaces) {
  EXPECT_EQ(Match(A A, STAR A STAR A STAR), 0);
  EXPECT_EQ(Match(B A C A, STAR A STAR A STAR), 0);
  EXPECT_EQ(Match(A, STAR A STAR A STAR), -2);
  EXPECT_EQ(Match(B A B, STAR A STAR A STAR), -6);
}

TEST(PatternMatch, SingleUnitWildcard) {
  EXPECT_EQ(Match(A B C, A QMARK C), 0);
  EXPECT_EQ(Match(A A C, A QMARK C), 0);
  EXPECT_EQ(Match(A B B C, A QMARK C), -3);
  EXPECT_EQ(Match(A B D, A QMARK C), -4);
  // Inside a middle segment, and as a whole segment.
  EXPECT_EQ(Match(D A B C, STAR A QMARK C STAR), 0);
  EXPECT_EQ(Match(D A B D, STAR A QMARK C STAR), -6);
  EXPECT_EQ(Match(A, QMARK), 0);
  EXPECT_EQ(Match(A B, QMARK), -3);
}

TEST(PatternMatch, OnlyMultiUnitWildcards) {
  for (const char* pattern : {STAR, STAR STAR}) {
    EXPECT_EQ(Match("", pattern), 0);
    EXPECT_EQ(Match(A, pattern), 0);
    EXPECT_EQ(Match(A B C D, pattern), 0);
  }
}

TEST(PatternMatch, RunsOfAsterisksMakeNoEmptySegments) {
  for (const char* text : {"", A, B, B A C, B C, A A}) {
    EXPECT_EQ(Match(text, STAR STAR A STAR STAR), Match(text, STAR A STAR)) << text;
  }
  EXPECT_EQ(Match(B C, STAR STAR A STAR STAR), -6);
  auto record = std::make_unique<CompiledPattern>();
  ASSERT_EQ(Pattern_Compile(STAR STAR A STAR STAR, record.get()), 0);
  EXPECT_EQ(record->segmentCount, 1u);
  EXPECT_EQ(record->anchoredStart, 0u);
  EXPECT_EQ(record->anchoredEnd, 0u);
}

TEST(PatternMatch, WithoutWildcardsOnlyTheSameText) {
  EXPECT_EQ(Match(A B, A B), 0);
  EXPECT_EQ(Match(A B C, A B), -1);
  EXPECT_EQ(Match(A, A B), -1);
  EXPECT_EQ(Match(B A, A B), -1);
}

TEST(PatternMatch, UnitsAreAlignedFromTheFirstByte) {
  // 亜伊 is 88 9F 88 C9; 汕 (9F 88) occurs in it only across the two characters.
  EXPECT_EQ(Match(A B, STAR "\x9f\x88" STAR), -6);
  EXPECT_EQ(Match(A B, "\x9f\x88" STAR), -4);
  EXPECT_EQ(Match(C "\x9f\x88", STAR "\x9f\x88"), 0);
}

TEST(PatternMatcher, OneCompiledPatternMatchesManyTexts) {
  auto matcher = std::make_unique<PatternMatcher>();
  ASSERT_EQ(PatternMatcher_Init(matcher.get(), STAR B), 0);
  EXPECT_EQ(PatternMatcher_Match(matcher.get(), A B), 0);
  EXPECT_EQ(PatternMatcher_Match(matcher.get(), A C), -5);
  EXPECT_EQ(PatternMatcher_Match(matcher.get(), STAR B), 0) << "the pattern's own text";
  EXPECT_EQ(PatternMatcher_Match(matcher.get(), B), 0);
  // A pattern over the limit is refused and its matcher matches nothing.
  ASSERT_EQ(PatternMatcher_Init(matcher.get(), (STAR + Repeat(A STAR, 80)).c_str()), -1);
  EXPECT_EQ(PatternMatcher_Match(matcher.get(), A), -1);
}

TEST(PatternCompile, Segments) {
  auto record = std::make_unique<CompiledPattern>();
  ASSERT_EQ(Pattern_Compile(A STAR STAR B QMARK STAR C, record.get()), 0);
  EXPECT_EQ(record->hasWildcard, 1u);
  EXPECT_EQ(record->segmentCount, 3u);
  EXPECT_STREQ(record->segments[1], B QMARK);
  EXPECT_EQ(record->segmentLengths[1], 4u);
  EXPECT_EQ(record->totalLength, 8u);
  EXPECT_EQ(record->anchoredStart, 1u);
  EXPECT_EQ(record->anchoredEnd, 1u);

  ASSERT_EQ(Pattern_Compile(A B, record.get()), 0);
  EXPECT_EQ(record->hasWildcard, 0u);
  EXPECT_EQ(record->segmentCount, 1u);
}

TEST(PatternLimits, LongestInputsWork) {
  // 80 segments, the most a widened request pattern can hold: 亜＊ 80 times, 320 bytes.
  const std::string many = Repeat(A STAR, 80);
  ASSERT_EQ(many.size(), kPatternWidenedMax);
  EXPECT_EQ(Match(Repeat(A, 80), many), 0);
  auto compiled = std::make_unique<CompiledPattern>();
  ASSERT_EQ(Pattern_Compile(many.c_str(), compiled.get()), 0);
  EXPECT_EQ(compiled->segmentCount, 80u);
  EXPECT_EQ(Match(Repeat(A B, 80), many), 0);
  EXPECT_EQ(Match(Repeat(A, 79) + B, many), -6);
  EXPECT_EQ(Match(Repeat(A, 79), many), -2);

  // One 320-byte segment, and a 400-byte text.
  EXPECT_EQ(Match(Repeat(B, 160), Repeat(QMARK, 160)), 0);
  EXPECT_EQ(Match(Repeat(B, 200), STAR B), 0);
  EXPECT_EQ(Match(Repeat(B, 200), STAR A STAR), -6);
}

TEST(PatternLimits, OverLongInputNeverMatches) {
  EXPECT_EQ(Match(Repeat(A, 201), STAR), -1);
  EXPECT_EQ(Match(Repeat(A, 200) + "x", STAR), -1);
  const std::string longPattern = STAR + Repeat(A STAR, 80);  // 322 bytes
  EXPECT_EQ(Match(A, longPattern), -1);
  EXPECT_EQ(Match(longPattern, longPattern), -1);
  EXPECT_EQ(Match(A, Repeat(A, 160) + "\x88"), -1);  // 321 bytes

  auto record = std::make_unique<CompiledPattern>();
  auto p = Exact(longPattern);
  EXPECT_EQ(Pattern_Compile(p.get(), record.get()), -1);
  EXPECT_EQ(record->segmentCount, 0u);
  EXPECT_EQ(record->hasWildcard, 0u);
}

TEST(PatternLimits, OddLengthEndsInLeadByteAndNul) {
  // A pattern ending in a lone 0x88 (the lead byte of 亜) matches no two-byte name...
  EXPECT_EQ(Match(A, "\x88"), -1);
  EXPECT_EQ(Match(B A, STAR "\x88"), -5);
  EXPECT_EQ(Match(A A, A "\x88"), -1);
  // ...only a text that ends in the same lone byte.
  EXPECT_EQ(Match(B "\x88", STAR "\x88"), 0);
  EXPECT_EQ(Match(B "\x89", STAR "\x88"), -5);
  EXPECT_EQ(Match(B "\x88", B QMARK "\x88"), -2);
  // An odd text's last byte and its NUL form one unit.
  EXPECT_EQ(Match(A "\x88", A STAR), 0);
  EXPECT_EQ(Match(A "\x88", A QMARK), 0);
  EXPECT_EQ(Match(A "\x88", STAR A), -5);
  EXPECT_EQ(Match(A "\x88", STAR A STAR), 0);
  EXPECT_EQ(Match(Repeat(A, 199) + "\x88", STAR "\x88"), 0);  // 399 bytes
  EXPECT_EQ(Match("x", QMARK), 0);
  EXPECT_EQ(Match("x", QMARK QMARK), -2);
}

TEST(PatternIsBlank, WildcardsAndSpacesOnly) {
  for (const char* p : {"", "*", "?", " ", STAR, QMARK, WSPACE, "* ?" STAR WSPACE QMARK}) {
    EXPECT_EQ(Pattern_IsBlank(Exact(p).get()), 1) << p;
  }
  for (const char* p : {"a", "*a*", STAR A STAR, " " WSPACE "1", "\xb1" /* ｱ */}) {
    EXPECT_EQ(Pattern_IsBlank(Exact(p).get()), 0) << p;
  }
}

TEST(PatternIsBlank, LeadByteTakesTheNextByte) {
  // 0x96 is a lead byte: "\x96*" is one two-byte literal, not a lead then "*".
  EXPECT_EQ(Pattern_IsBlank(Exact("\x96*").get()), 0);
  EXPECT_EQ(Pattern_IsBlank(Exact("\x81 ").get()), 0);
  // A lone lead byte at the end pairs with the NUL and counts as a literal.
  EXPECT_EQ(Pattern_IsBlank(Exact("\x81").get()), 0);
  EXPECT_EQ(Pattern_IsBlank(Exact("* \x81").get()), 0);
}

TEST(PatternWiden, Units) {
  EXPECT_EQ(Widen(""), "");
  EXPECT_EQ(Widen("*"), STAR);
  EXPECT_EQ(Widen("?"), QMARK);
  EXPECT_EQ(Widen("a1 "), "aa11  ");
  EXPECT_EQ(Widen("\xb1"), "\xb1\xb1");  // ｱ half-width katakana is a single byte
  EXPECT_EQ(Widen("*" A "?" STAR QMARK), STAR A QMARK STAR QMARK);
  EXPECT_EQ(Widen("\xe0\x40" "*"), "\xe0\x40" STAR);  // 漾, a lead byte of the upper range
  EXPECT_EQ(Widen("\x96*"), "\x96*");  // the "*" is the second byte of a character
  EXPECT_EQ(Widen("a" A "\x88"), "aa" A "\x88");  // lone lead byte keeps its NUL as the pair
}

TEST(PatternWiden, CapacityIsRespected) {
  char out[8];
  std::memset(out, 'x', sizeof out);
  EXPECT_EQ(Pattern_Widen("abc", out, 7), 6);
  EXPECT_STREQ(out, "aabbcc");
  std::memset(out, 'x', sizeof out);
  EXPECT_EQ(Pattern_Widen("abc", out, 6), -1);
  EXPECT_EQ(out[0], '\0');
  EXPECT_EQ(out[6], 'x');
  EXPECT_EQ(Pattern_Widen(A "\x88", out, 4), 3);
  EXPECT_EQ(std::memcmp(out, A "\x88", 4), 0);
  EXPECT_EQ(Pattern_Widen(A "\x88", out, 3), -1);
  EXPECT_EQ(Pattern_Widen("", out, 1), 0);
  EXPECT_EQ(Pattern_Widen("a", out, 0), -1);

  // The longest request pattern fits the documented buffer.
  const std::string longest(kPatternNameMax, '?');
  char widened[kPatternWidenedMax + 1];
  EXPECT_EQ(Pattern_Widen(Exact(longest).get(), widened, sizeof widened),
            static_cast<int>(kPatternWidenedMax));
  EXPECT_EQ(Pattern_Match(Repeat(A, 160).c_str(), widened), 0);
}

TEST(PatternWiden, SingleByteLettersNeverMatchTwoByteNames) {
  // "1" widens to the unit 1 1, which the full-width １ (82 50) is not.
  const std::string digit = Widen("*1*");
  EXPECT_EQ(Match(A "\x82\x50" B, digit), -6);
  EXPECT_EQ(Match(A "11" B, digit), 0);
  // Single-byte and full-width wildcards widen to the same units.
  EXPECT_EQ(Widen("*" A "?"), Widen(STAR A QMARK));
  EXPECT_EQ(Match(B A C, Widen("*" A "?")), 0);
}

}  // namespace

#undef A
#undef B
#undef C
#undef D
#undef STAR
#undef QMARK
#undef WSPACE
