// Wildcard matching of names against name patterns, in two-byte units.
#include "search/pattern.h"

#include <cstring>

#include "base/cp932.h"
#include "base/mem.h"

namespace {

constexpr uint8_t kWideLead = 0x81;
constexpr uint8_t kAsteriskTrail = 0x96;
constexpr uint8_t kQuestionTrail = 0x48;
constexpr uint8_t kSpaceTrail = 0x40;

void ClearCompiled(CompiledPattern* record) {
  record->hasWildcard = 0;
  record->totalLength = 0;
  record->segmentCount = 0;
  record->anchoredStart = 0;
  record->anchoredEnd = 0;
}

void CloseSegment(CompiledPattern* record, uint32_t used) {
  uint32_t k = record->segmentCount;
  record->segments[k][used] = '\0';
  record->segmentLengths[k] = used;
  record->totalLength += used;
  record->segmentCount = k + 1;
}

}  // namespace

int Pattern_Compile(const char* pattern, CompiledPattern* record) {
  ClearCompiled(record);
  if (pattern == nullptr) return -1;
  const size_t length = strnlen(pattern, kPatternWidenedMax + 1);
  if (length > kPatternWidenedMax) return -1;

  uint32_t used = 0;  // bytes of the segment being assembled in slot segmentCount
  for (size_t pos = 0; pos < length; pos += 2) {
    const uint8_t b0 = static_cast<uint8_t>(pattern[pos]);
    const uint8_t b1 = pos + 1 < length ? static_cast<uint8_t>(pattern[pos + 1]) : 0;
    const bool asterisk = b0 == kWideLead && b1 == kAsteriskTrail;
    if (pos == 0) record->anchoredStart = asterisk ? 0 : 1;
    record->anchoredEnd = asterisk ? 0 : 1;
    if (asterisk) {
      if (used > 0) CloseSegment(record, used);
      used = 0;
      record->hasWildcard = 1;
      continue;
    }
    // The length limit keeps both within their capacities; the test guards the invariant.
    if (record->segmentCount >= kPatternSegmentsMax || used + 2 > kPatternSegmentMax) {
      ClearCompiled(record);
      return -1;
    }
    record->segments[record->segmentCount][used] = static_cast<char>(b0);
    record->segments[record->segmentCount][used + 1] = static_cast<char>(b1);
    used += 2;
    if (b0 == kWideLead && b1 == kQuestionTrail) record->hasWildcard = 1;
  }
  if (used > 0) CloseSegment(record, used);
  return 0;
}

int Pattern_CompareUnits(const char* position, const char* segment, uint32_t length) {
  uint32_t i = 0;
  for (; i + 1 < length; i += 2) {
    if (static_cast<uint8_t>(segment[i]) == kWideLead &&
        static_cast<uint8_t>(segment[i + 1]) == kQuestionTrail)
      continue;
    if (position[i] != segment[i] || position[i + 1] != segment[i + 1]) return -1;
  }
  if (i < length && position[i] != segment[i]) return -1;
  return 0;
}

int Pattern_PlaceSegment(CompiledPattern* record, int32_t* index) {
  const int32_t k = *index;
  const uint32_t n = record->segmentLengths[k];
  const int32_t latest = record->windows[k].latest;
  for (int32_t p = record->windows[k].earliest; p <= latest; p += 2) {
    if (Pattern_CompareUnits(record->subject + p, record->segments[k], n) != 0) continue;
    if (k >= record->lastMiddle) return 0;
    // Leftmost placement is final: it leaves the most room for the segments after it.
    *index = k + 1;
    record->windows[k + 1].earliest = p + static_cast<int32_t>(n);
    return Pattern_PlaceSegment(record, index);
  }
  return -1;
}

int Pattern_MatchMiddle(CompiledPattern* record) {
  const int32_t subjectLength = static_cast<int32_t>(record->subjectLength);
  const int32_t count = static_cast<int32_t>(record->segmentCount);
  // Pattern_Match calls this only with segments to place and a subject they fit in.
  if (count == 0) return 0;
  if (record->totalLength > record->subjectLength) return -1;
  int32_t startBound = 0;
  int32_t endBound = subjectLength;
  record->firstMiddle = 0;
  record->lastMiddle = count - 1;
  if (record->anchoredStart) {
    record->firstMiddle = 1;
    startBound = static_cast<int32_t>(record->segmentLengths[0]);
  }
  if (record->anchoredEnd) {
    record->lastMiddle = count - 2;
    endBound = subjectLength - static_cast<int32_t>(record->segmentLengths[count - 1]);
  }
  if (record->firstMiddle > record->lastMiddle) return 0;

  int32_t p = startBound;
  for (int32_t k = record->firstMiddle; k <= record->lastMiddle; ++k) {
    record->windows[k].earliest = p;
    p += static_cast<int32_t>(record->segmentLengths[k]);
  }
  p = endBound;
  for (int32_t k = record->lastMiddle; k >= record->firstMiddle; --k) {
    p -= static_cast<int32_t>(record->segmentLengths[k]);
    record->windows[k].latest = p;
  }
  int32_t index = record->firstMiddle;
  return Pattern_PlaceSegment(record, &index) == 0 ? 0 : -1;
}

int PatternMatcher_Init(PatternMatcher* matcher, const char* pattern) {
  matcher->patternLength = 0;
  matcher->pattern[0] = '\0';
  matcher->compiled = -1;
  ClearCompiled(&matcher->record);
  if (pattern == nullptr) return -1;
  const size_t patternLength = strnlen(pattern, kPatternWidenedMax + 1);
  if (patternLength > kPatternWidenedMax) return -1;
  std::memcpy(matcher->pattern, pattern, patternLength);
  matcher->pattern[patternLength] = '\0';
  matcher->patternLength = patternLength;
  matcher->compiled = Pattern_Compile(pattern, &matcher->record);
  return matcher->compiled;
}

int PatternMatcher_Match(PatternMatcher* matcher, const char* text) {
  if (text == nullptr || matcher->compiled != 0) return -1;
  const size_t textLength = strnlen(text, kPatternTextMax + 1);
  if (textLength > kPatternTextMax) return -1;
  if (textLength == matcher->patternLength && std::memcmp(text, matcher->pattern, textLength) == 0) {
    return 0;
  }
  CompiledPattern* record = &matcher->record;
  const size_t units = (textLength + 1) & ~static_cast<size_t>(1);
  record->subjectLength = static_cast<uint32_t>(units);
  const uint32_t length = record->subjectLength;

  if (!record->hasWildcard) return -1;
  if (length < record->totalLength) return -2;
  const uint32_t count = record->segmentCount;
  if (count == 1 && record->anchoredStart && record->anchoredEnd &&
      record->segmentLengths[0] != length)
    return -3;
  // Where no middle segment is to be placed the text itself is the subject (an odd text's
  // last byte pairs with its NUL); otherwise it is copied, a pad byte keeping it terminated.
  const bool middle = record->anchoredStart + record->anchoredEnd < count;
  const char* subject = text;
  if (middle) {
    std::memcpy(record->subject, text, textLength);
    std::memset(record->subject + textLength, 0, units - textLength + 1);
    subject = record->subject;
  }
  if (record->anchoredStart &&
      Pattern_CompareUnits(subject, record->segments[0], record->segmentLengths[0]) != 0)
    return -4;
  if (record->anchoredEnd) {
    const uint32_t m = record->segmentLengths[count - 1];
    if (Pattern_CompareUnits(subject + length - m, record->segments[count - 1], m) != 0)
      return -5;
  }
  if (middle && Pattern_MatchMiddle(record) != 0) return -6;
  return 0;
}

uint32_t PatternMatcher_LiteralLength(const PatternMatcher* matcher) {
  const auto* p = reinterpret_cast<const uint8_t*>(matcher->pattern);
  uint32_t n = 0;
  while (n + 1 < matcher->patternLength && p[n + 1] != 0 &&
         !(p[n] == kWideLead && (p[n + 1] == kAsteriskTrail || p[n + 1] == kQuestionTrail))) {
    n += 2;
  }
  return n;
}

int Pattern_IsBlank(const char* pattern) {
  if (pattern == nullptr) return 1;
  size_t i = 0;
  while (pattern[i] != '\0') {
    const uint8_t b = static_cast<uint8_t>(pattern[i]);
    if (IsLeadByte(b)) {
      // The pair ends at the NUL when the lead byte is the last byte; it is a literal then.
      const uint8_t t = static_cast<uint8_t>(pattern[i + 1]);
      const bool blank =
          b == kWideLead && (t == kAsteriskTrail || t == kQuestionTrail || t == kSpaceTrail);
      if (!blank) return 0;
      i += 2;
    } else {
      if (b != '*' && b != '?' && b != ' ') return 0;
      i += 1;
    }
  }
  return 1;
}

int Pattern_Widen(const char* pattern, char* out, size_t outCapacity) {
  if (out == nullptr || outCapacity == 0) return -1;
  out[0] = '\0';
  if (pattern == nullptr) return -1;
  size_t n = 0;
  size_t i = 0;
  while (pattern[i] != '\0') {
    const uint8_t b = static_cast<uint8_t>(pattern[i]);
    uint8_t unit0 = b;
    uint8_t unit1 = b;
    size_t step = 1;
    if (IsLeadByte(b)) {
      unit1 = static_cast<uint8_t>(pattern[i + 1]);
      step = 2;
    } else if (b == '*') {
      unit0 = kWideLead;
      unit1 = kAsteriskTrail;
    } else if (b == '?') {
      unit0 = kWideLead;
      unit1 = kQuestionTrail;
    }
    if (unit1 == 0) {
      // A lone lead byte at the end: its unit's second byte is the terminating NUL.
      if (n + 2 > outCapacity) break;
      out[n] = static_cast<char>(unit0);
      out[n + 1] = '\0';
      return static_cast<int>(n + 1);
    }
    if (n + 3 > outCapacity) break;
    out[n] = static_cast<char>(unit0);
    out[n + 1] = static_cast<char>(unit1);
    n += 2;
    out[n] = '\0';
    i += step;
  }
  if (pattern[i] != '\0') {
    out[0] = '\0';
    return -1;
  }
  return static_cast<int>(n);
}

int Pattern_Match(const char* text, const char* pattern) {
  if (text == nullptr || pattern == nullptr) return -1;
  auto* matcher = static_cast<PatternMatcher*>(Mem_Alloc(sizeof(PatternMatcher)));
  if (matcher == nullptr) return -1;
  const int result =
      PatternMatcher_Init(matcher, pattern) == 0 ? PatternMatcher_Match(matcher, text) : -1;
  Mem_Free(matcher);
  return result;
}
