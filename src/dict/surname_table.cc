// Access to the built-in surname table and the prefix lookup the dictionary builder uses.
#include "dict/surname_table.h"

#include <cstring>

const char* SurnameTable_Get(uint32_t index) {
  if (index >= kSurnameCount) return nullptr;
  return kSurnameTableText + kSurnameTableOffsets[index];
}

uint32_t SurnameTable_Length(uint32_t index) {
  if (index >= kSurnameCount) return 0;
  return kSurnameTableOffsets[index + 1] - kSurnameTableOffsets[index] - 1;
}

// Unsigned byte order of entry `index` against the first `length` bytes of `name`; a text
// that is a prefix of the other sorts first.
static int CompareEntry(uint32_t index, const char* name, size_t length) {
  size_t entryLength = SurnameTable_Length(index);
  size_t common = entryLength < length ? entryLength : length;
  int c = std::memcmp(SurnameTable_Get(index), name, common);
  if (c != 0) return c;
  if (entryLength == length) return 0;
  return entryLength < length ? -1 : 1;
}

// Every entry ends with the ideographic space and holds none before it, so no entry is a
// prefix of another and at most one can start `name`. If one does, it is the greatest entry
// not above `name`: any entry between them would itself start with that entry.
int SurnameTable_FindPrefix(const char* name, size_t length) {
  if (name == nullptr) return -1;
  // Find the first entry above `name`; the candidate is the one before it.
  uint32_t lo = 0, hi = kSurnameCount;
  while (lo < hi) {
    uint32_t mid = lo + (hi - lo) / 2;
    if (CompareEntry(mid, name, length) <= 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  if (lo == 0) return -1;
  uint32_t candidate = lo - 1;
  uint32_t entryLength = SurnameTable_Length(candidate);
  if (entryLength > length) return -1;
  if (std::memcmp(SurnameTable_Get(candidate), name, entryLength) != 0) return -1;
  return static_cast<int>(candidate);
}
