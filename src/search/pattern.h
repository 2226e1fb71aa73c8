// Wildcard matching of names against name patterns, in two-byte units.
//
// A unit is two bytes. The multi-unit wildcard (full-width asterisk 0x81 0x96) stands for any
// run of units, none included; the single-unit wildcard (full-width question mark 0x81 0x48)
// for exactly one unit. Texts and patterns are walked two bytes at a time from their first
// byte; no lead-byte test is made. The name search first widens its request pattern with
// Pattern_Widen so that every single-byte character becomes a unit.
//
// A text or pattern of odd length ends in a unit made of its last byte and its terminating
// NUL. No unit of a well-formed two-byte name has a NUL second byte, so a pattern ending in a
// lone lead byte can only match a text that ends in the same lone byte.
//
// A search compiles its pattern once into a PatternMatcher of its own and matches every name
// with it, so searches running at the same time share nothing.
#ifndef QOR3_SEARCH_PATTERN_H
#define QOR3_SEARCH_PATTERN_H

#include <cstddef>
#include <cstdint>

// Longest request name pattern (the SearchRequest field is 160 bytes wide).
constexpr uint32_t kPatternNameMax = 160;
// Longest widened pattern: every byte of a name pattern becomes at most two. A buffer for
// Pattern_Widen of kPatternWidenedMax + 1 bytes holds any request pattern widened.
constexpr uint32_t kPatternWidenedMax = 2 * kPatternNameMax;
// Longest text matched: a decoded entry's name.
constexpr uint32_t kPatternTextMax = 400;
// A segment is at most the whole widened pattern. Segments are separated by multi-unit
// wildcards, so kPatternWidenedMax / 2 units carry at most this many of them.
constexpr uint32_t kPatternSegmentMax = kPatternWidenedMax;
constexpr uint32_t kPatternSegmentsMax = (kPatternWidenedMax / 2 + 1) / 2;

// Byte positions in the subject at which a middle segment may start.
struct PatternWindow {
  int32_t earliest;
  int32_t latest;
};

struct CompiledPattern {
  uint32_t hasWildcard;  // 1 when the pattern holds a multi-unit or single-unit wildcard
  uint32_t totalLength;  // sum of the segments' byte lengths
  char segments[kPatternSegmentsMax][kPatternSegmentMax + 1];  // units, NUL-terminated
  uint32_t segmentLengths[kPatternSegmentsMax];  // whole units; an odd pattern's last counts 2
  uint32_t segmentCount;
  uint32_t anchoredStart;  // 1 when the first unit is not the multi-unit wildcard
  uint32_t anchoredEnd;    // 1 when the last unit is not the multi-unit wildcard
  char subject[kPatternTextMax + 1];  // the text being matched, NUL-terminated
  uint32_t subjectLength;             // its length rounded up to whole units
  int32_t firstMiddle;                // first segment not anchored
  int32_t lastMiddle;                 // last segment not anchored
  PatternWindow windows[kPatternSegmentsMax];
};

// A pattern compiled once, with the working state of its matches (about 52 KiB: on the heap).
struct PatternMatcher {
  CompiledPattern record;
  char pattern[kPatternWidenedMax + 1];
  size_t patternLength;
  int compiled;  // 0 when the pattern compiled
};
// Compiles pattern into the matcher: 0, or -1 when it is null or longer than
// kPatternWidenedMax (the matcher then matches nothing).
int PatternMatcher_Init(PatternMatcher* matcher, const char* pattern);
// Bytes of whole literal units the matcher's pattern starts with (up to its first wildcard
// or a unit ended by the NUL): every text it matches starts with them.
uint32_t PatternMatcher_LiteralLength(const PatternMatcher* matcher);
// Pattern_Match's result for text against the matcher's pattern.
int PatternMatcher_Match(PatternMatcher* matcher, const char* text);

// 0 when the NUL-terminated text matches the NUL-terminated pattern; otherwise
// -1 the pattern has no wildcard and differs from the text (also: a text longer than
//    kPatternTextMax or a pattern longer than kPatternWidenedMax, refused before compiling),
// -2 the text is shorter than the segments together,
// -3 a single segment anchored at both ends whose length differs from the text's,
// -4 the first segment does not match the start, -5 the last does not match the end,
// -6 the middle segments cannot be placed in order.
// Compiles the pattern for this one match (-1 too when no memory is left for that).
int Pattern_Match(const char* text, const char* pattern);
// Splits pattern at its multi-unit wildcards into record's segments and sets the wildcard
// flag, total length, segment count and anchors. Returns 0; -1 (record left as for an empty
// pattern: no wildcard, no segment) when pattern is null or longer than kPatternWidenedMax.
int Pattern_Compile(const char* pattern, CompiledPattern* record);
// 0 when the length bytes at position equal segment, a single-unit wildcard in segment
// accepting any unit; else -1. The caller keeps position + length inside the text.
int Pattern_CompareUnits(const char* position, const char* segment, uint32_t length);
// Places the middle segments in record's subject between the anchored ones: 0 or -1.
int Pattern_MatchMiddle(CompiledPattern* record);
// Places segment *index at its leftmost position in its window and, recursively, the middle
// segments after it, advancing *index. 0 when all are placed, else -1.
int Pattern_PlaceSegment(CompiledPattern* record, int32_t* index);

// 1 when the NUL-terminated pattern holds nothing but wildcards ("*", "?", full-width
// asterisk and question mark) and spaces (0x20, full-width space); 1 for an empty pattern.
int Pattern_IsBlank(const char* pattern);
// Writes pattern widened to units into out (outCapacity bytes): a two-byte character stays
// as it is, "*" and "?" become the full-width asterisk and question mark, every other byte b
// becomes b b; a lead byte at the end is copied with the NUL as its second byte. Returns the
// bytes written before the NUL, or -1 with out empty when the result and its NUL do not fit
// (2 * strlen(pattern) + 1 bytes always fit).
int Pattern_Widen(const char* pattern, char* out, size_t outCapacity);

#endif  // QOR3_SEARCH_PATTERN_H
