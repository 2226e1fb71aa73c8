// Number search (mode 2): every listing that carries a number, across all dictionaries of
// the number's prefix, with the correction file's additions and removals applied.
#include "search/number_search.h"

#include <cstdlib>
#include <cstring>

#include "base/num_text.h"
#include "search/search_run.h"

namespace {

constexpr uint32_t kKeyFieldWidth = sizeof(SearchRequest::key);

// With the file's filters, region table and area code sets read (a dictionary's sets join the
// search's union), selects the entry blocks that hold the key when it may occur.
bool SelectKeyBlocks(SearchState* s, bool correctionFile) {
  const DictFile* dict = s->file;
  if (dict->headerResult != Result::kOk || dict->filtersResult != Result::kOk ||
      dict->regionTableResult != Result::kOk) {
    return false;
  }
  if (!correctionFile) Search_AddAreaCodes(s);
  if (dict->areaCodesResult != Result::kOk) return false;
  const uint32_t key = s->criteria.keyNumber;
  if (!Dict_KeyMayOccur(dict, key)) return false;
  BlockSelection& selection = s->selection;
  if (Dict_SelectNumberBlocks(dict, key, &selection) != 0) return false;
  selection.groupCount = 0;
  bool sound = true;
  for (uint32_t i = 0; i < selection.selectedCount; ++i) {
    const DecodedNumberBlock* block = Search_NumberBlock(s, selection.selected[i]);
    if (block == nullptr) return false;
    if (Dict_CollectBlockGroups(block, key, &selection) != Result::kOk) sound = false;
    Search_ReleaseBlock(s, block);
  }
  return sound && Dict_SelectEntryBlocks(dict, &selection) == 0;
}

bool HasKey(SearchState* s, const EntryView* entry, bool) {
  return entry->number == s->criteria.keyNumber;
}

// The dictionaries listed for the key's prefix: its rows, which follow one another in the
// ascending list. They are walked through their links, which leaves the engine's lists
// untouched.
uint32_t ListPrefixDictionaries(const SearchState* s, uint32_t first, uint16_t* numbers,
                                uint16_t capacity, uint16_t* count) {
  *count = 0;
  const uint32_t prefix = NumberPrefix(s->criteria.keyNumber);
  if (prefix >= kPrefixNumberLimit) return 0;
  uint32_t listed = 0;
  for (uint8_t* link = s->engine->prefixRows[prefix]; link != nullptr; link = RowLink_Next(link)) {
    uint8_t* block = RowLink_Block(link);
    const uint16_t n = RowBlock_FieldCount(block);
    if (n == 0 || DecimalValue(RowBlock_Field(block, 0)) != prefix) break;
    for (uint16_t i = 1; i < n; ++i, ++listed) {
      if (listed < first || *count >= capacity) continue;
      numbers[(*count)++] = static_cast<uint16_t>(DecimalValue(RowBlock_Field(block, i)));
    }
  }
  return listed;
}

constexpr SearchMode kNumberMode = {SelectKeyBlocks, HasKey, ListPrefixDictionaries, true, true};

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

void NumberSearch_Run(const EngineState* engine, EngineCache* cache, SearchRequest* request) {
  if (request->keyLength > kKeyFieldWidth) return;
  char key[kKeyFieldWidth + 1];
  std::memcpy(key, request->key, request->keyLength);
  key[request->keyLength] = '\0';
  char digits[kKeyFieldWidth + 1];
  if (NumberSearch_NormalizeKey(key, digits, sizeof digits) != 0) return;
  const size_t length = std::strlen(digits);
  if (length != 9 && length != 10) return;
  // Entry numbers stay below 2^30: a larger key can match nothing.
  const uint64_t value = std::strtoull(digits, nullptr, 10);
  if (value > kNumberMax) return;

  SearchState* s = SearchState_New(engine, cache, &kNumberMode);
  if (s == nullptr) return;
  s->criteria.keyNumber = static_cast<uint32_t>(value);
  s->areaUnionKey = static_cast<int32_t>(NumberPrefix(s->criteria.keyNumber));
  Search_Run(s, request);
  SearchState_Free(s);
}
