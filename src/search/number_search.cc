// Number search (mode 2): every listing that carries a number, across all dictionaries of
// the number's prefix, with the correction file's additions and removals applied.
#include "search/number_search.h"

#include <cstdlib>
#include <cstring>

#include "base/num_text.h"
#include "search/search_run.h"

namespace {

constexpr uint32_t kKeyFieldWidth = sizeof(SearchRequest::key);

// Reads the filters, region table and area code sets of the file (a dictionary's sets join
// the search's union); then, when the key may occur, selects the entry blocks that hold it.
bool SelectKeyBlocks(SearchState* s, bool correctionFile) {
  DictFile* dict = &s->dict;
  uint8_t header[kDictHeaderSize];
  if (Dict_ReadHeader(dict, header) != 0 || Dict_ReadFilters(dict) != 0 ||
      Dict_ReadRegionTable(dict) != 0) {
    return false;
  }
  const int areaCodes = Dict_ReadAreaCodeSets(dict);
  if (!correctionFile) AreaCodeSets_Add(&s->areaCodes, &dict->areaCodes);
  if (areaCodes != 0) return false;
  const uint32_t key = s->criteria.keyNumber;
  if (!Dict_KeyMayOccur(dict, key)) return false;
  return Dict_SelectNumberBlocks(dict, key, &s->selection) == 0 &&
         Dict_CollectGroups(dict, key, &s->buffer, &s->selection) == 0 &&
         Dict_SelectEntryBlocks(dict, &s->selection) == 0;
}

bool HasKey(SearchState* s, const DictEntry* entry, bool) {
  return entry->number == s->criteria.keyNumber;
}

// The dictionaries listed for the key's prefix. The rows are walked through their links, which
// leaves the engine's lists untouched.
uint32_t ListPrefixDictionaries(const SearchState* s, uint32_t first, uint16_t* numbers,
                                uint16_t capacity, uint16_t* count) {
  *count = 0;
  const uint16_t prefix = static_cast<uint16_t>(NumberPrefix(s->criteria.keyNumber));
  uint32_t listed = 0;
  for (uint8_t* link = s->engine->prefixList.firstRow; link != nullptr; link = RowLink_Next(link)) {
    uint8_t* block = RowLink_Block(link);
    const uint16_t n = RowBlock_FieldCount(block);
    if (n == 0 || static_cast<uint16_t>(DecimalValue(RowBlock_Field(block, 0))) != prefix) {
      continue;
    }
    for (uint16_t i = 1; i < n; ++i, ++listed) {
      if (listed < first || *count >= capacity) continue;
      numbers[(*count)++] = static_cast<uint16_t>(DecimalValue(RowBlock_Field(block, i)));
    }
  }
  return listed;
}

constexpr SearchMode kNumberMode = {SelectKeyBlocks, HasKey, ListPrefixDictionaries, true};

}  // namespace

int NumberSearch_NormalizeKey(const char* text, char* digits, size_t capacity) {
  if (capacity == 0) return -1;  // not even the NUL fits
  size_t n = 0;
  for (; *text; ++text) {
    if (*text == '-') continue;
    if (*text < '0' || *text > '9' || n + 1 >= capacity) return -1;
    digits[n++] = *text;
  }
  digits[n] = '\0';
  return 0;
}

int NumberSearch_Run(const EngineState* engine, SearchRequest* request) {
  if (request->keyLength > kKeyFieldWidth) return 0;
  char key[kKeyFieldWidth + 1];
  std::memcpy(key, request->key, request->keyLength);
  key[request->keyLength] = '\0';
  char digits[kKeyFieldWidth + 1];
  if (NumberSearch_NormalizeKey(key, digits, sizeof digits) != 0) return 0;
  const size_t length = std::strlen(digits);
  if (length != 9 && length != 10) return 0;
  // Entry numbers stay below 2^30: a larger key can match nothing.
  const uint64_t value = std::strtoull(digits, nullptr, 10);
  if (value > kNumberMax) return 0;

  SearchState* s = SearchState_New(engine, &kNumberMode);
  if (s == nullptr) return 0;
  s->criteria.keyNumber = static_cast<uint32_t>(value);
  Search_Run(s, request);
  SearchState_Free(s);
  return 0;
}
