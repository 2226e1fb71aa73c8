// Name search (mode 1): the listings of one region whose name matches a wildcard pattern,
// narrowed by leading address texts and entry kind, with corrections applied, in entry order.
#include "search/name_search.h"

#include <algorithm>
#include <cstring>

#include "base/mem.h"
#include "base/num_text.h"
#include "search/search_run.h"

namespace {

// length was checked against the request field, which the criteria field exceeds.
void CopyCriterion(char* dst, const char* src, uint32_t length) {
  std::memcpy(dst, src, length);
  dst[length] = '\0';
}

// The first n bytes of text compared with key (n = strlen(key)); a shorter text compares
// below at its NUL, as a padded memcmp would.
int CompareHead(const char* text, const char* key) {
  return std::strncmp(text, key, std::strlen(key));
}

}  // namespace

void NameSearch_SelectBlocks(const DictFile* dict, const SearchCriteria* criteria,
                             BlockSelection* selection) {
  const SearchCriteria& c = *criteria;
  for (uint32_t k = 0; k < dict->entryIndexCount; ++k) {
    const EntryIndexRecord& record = dict->entryIndex[k];
    if (record.regionCode > c.regionCode) break;
    if (record.regionCode == c.regionCode && CompareHead(record.firstText, c.address1Key) <= 0 &&
        CompareHead(record.lastText, c.address1Key) >= 0) {
      Dict_AppendGroup(selection, k);
    }
  }
}

void NameSearch_SelectCorrectionBlocks(const DictFile* dict, const SearchCriteria* criteria,
                                       BlockSelection* selection) {
  const SearchCriteria& c = *criteria;
  bool noneChosen = true;
  uint32_t k = 0;
  for (; k < dict->entryIndexCount; ++k) {
    const EntryIndexRecord& record = dict->entryIndex[k];
    const int head = CompareHead(record.firstText, c.address1Key);
    if (record.regionCode > c.regionCode || (record.regionCode == c.regionCode && head > 0)) {
      if (noneChosen && k > 0) Dict_AppendGroup(selection, k - 1);
      return;
    }
    if (record.regionCode == c.regionCode && head == 0) {
      if (noneChosen && k > 0) {
        Dict_AppendGroup(selection, k - 1);
        noneChosen = false;
      }
      Dict_AppendGroup(selection, k);
    }
  }
  if (noneChosen && k > 0) Dict_AppendGroup(selection, k - 1);
}

uint64_t NameSearch_IndexKey(const char* text, uint32_t length) {
  uint64_t key = 0;
  bool ended = false;
  for (uint32_t i = 0; i < 8; ++i) {
    ended = ended || i >= length || text[i] == '\0';
    key = (key << 8) | (ended ? 0 : static_cast<uint8_t>(text[i]));
  }
  return key;
}

bool NameSearch_SortIndex(NameIndexRecord* records, uint32_t count) {
  auto* spare = static_cast<NameIndexRecord*>(Mem_Alloc(size_t{count} * sizeof *records));
  if (spare == nullptr) return false;
  // A byte at a time from the lowest (a stable counting sort each), passing over a byte that
  // every key shares.
  NameIndexRecord* from = records;
  NameIndexRecord* to = spare;
  for (int shift = 0; shift < 64; shift += 8) {
    auto digit = [shift](const NameIndexRecord& r) {
      return (NameIndexRecord_Key(r) >> shift) & 0xFF;
    };
    uint32_t counts[257] = {};
    for (uint32_t i = 0; i < count; ++i) ++counts[digit(from[i]) + 1];
    if (counts[digit(from[0]) + 1] == count) continue;
    for (int b = 0; b < 256; ++b) counts[b + 1] += counts[b];
    for (uint32_t i = 0; i < count; ++i) to[counts[digit(from[i])]++] = from[i];
    std::swap(from, to);
  }
  if (from != records) std::memcpy(records, from, size_t{count} * sizeof *records);
  Mem_Free(spare);
  return true;
}

namespace {

// Builds the name index of the region from the file's entry blocks of that region. Its records
// (on the heap, to be freed) go to *index; false when a block could not be had or memory ran
// out.
bool BuildNameIndex(SearchState* s, uint16_t region, NameIndex* index) {
  const DictFile* dict = s->file;
  uint32_t count = 0;
  NameIndexRecord* records = nullptr;
  uint32_t capacity = 0;
  bool kept = true;
  for (uint32_t k = 0; k < dict->entryIndexCount; ++k) {
    if (dict->entryIndex[k].regionCode != region) continue;
    const DecodedEntryBlock* block = Search_EntryBlock(s, Search_EntryBlockOf(dict, k));
    if (block == nullptr) break;
    kept = Mem_Reserve(&records, &capacity, uint64_t{count} + block->count);
    for (uint32_t i = 0; kept && i < block->count; ++i) {
      const uint64_t key = NameSearch_IndexKey(block->texts + block->entries[i].name, 8);
      records[count++] = NameIndexRecord{static_cast<uint32_t>(key >> 32),
                                         static_cast<uint32_t>(key), static_cast<uint16_t>(k),
                                         static_cast<uint16_t>(i)};
    }
    Search_ReleaseBlock(s, block);
    if (!kept) break;
  }
  if (!kept || count == 0 || s->stopped != Result::kOk) {
    // Out of memory here is no failure of the search: it scans instead.
    if (s->stopped == Result::kOutOfMemory) s->stopped = Result::kOk;
    Mem_Free(records);
    return false;
  }
  // The records were made in entry order, which the sort keeps among equal keys.
  if (!NameSearch_SortIndex(records, count)) {
    Mem_Free(records);
    return false;
  }
  *index = NameIndex{records, count};
  return true;
}

// For a pattern that starts with literal units: the entries of the selected blocks whose
// names start with them, from the region's name index, as candidates in entry order. False
// (scan every entry) when the pattern starts with a wildcard or no index can be had.
bool FindCandidates(SearchState* s) {
  const uint32_t literal = PatternMatcher_LiteralLength(&s->matcher);
  if (literal == 0 || s->cached == nullptr || s->selection.selectedCount == 0) return false;
  const uint16_t region = s->criteria.regionCode;
  const NameIndex* index =
      Search_Counted(s, EngineCache_FindNameIndex(s->cache, s->cached, region));
  NameIndex built{nullptr, 0};
  if (index == nullptr) {
    if (!BuildNameIndex(s, region, &built)) return false;
    index = EngineCache_AddNameIndex(s->cache, s->cached, region, &built);
    if (index == nullptr) index = &built;
  }
  uint8_t selected[kEntryBlockMax] = {};
  for (uint32_t b = 0; b < s->selection.selectedCount; ++b) {
    selected[s->selection.selected[b].index] = 1;
  }
  const uint64_t low = NameSearch_IndexKey(s->matcher.pattern, literal);
  const uint64_t high = literal >= 8 ? low : low | (~uint64_t{0} >> (8 * literal));
  const NameIndexRecord* first = std::partition_point(
      index->records, index->records + index->count,
      [&](const NameIndexRecord& r) { return NameIndexRecord_Key(r) < low; });
  s->candidateCount = 0;
  bool kept = true;
  for (const NameIndexRecord* r = first;
       r < index->records + index->count && NameIndexRecord_Key(*r) <= high; ++r) {
    if (!selected[r->block]) continue;
    if (!Mem_Reserve(&s->candidates, &s->candidateCapacity, uint64_t{s->candidateCount} + 1)) {
      kept = false;
      break;
    }
    s->candidates[s->candidateCount++] = (uint32_t{r->block} << 16) | r->ordinal;
  }
  if (index != &built) EngineCache_Release(s->cache, index);
  Mem_Free(const_cast<NameIndexRecord*>(built.records));
  if (!kept) return false;
  std::sort(s->candidates, s->candidates + s->candidateCount);
  return true;
}

// With the file's region table, area code sets and entry index read, selects the blocks that
// can hold the region's matches.
bool SelectNameBlocks(SearchState* s, bool correctionFile) {
  const DictFile* dict = s->file;
  if (dict->headerResult != Result::kOk || dict->regionTableResult != Result::kOk) return false;
  if (!correctionFile) Search_AddAreaCodes(s);
  if (dict->areaCodesResult != Result::kOk) return false;
  s->selection.groupCount = 0;
  if (dict->entryIndexResult != Result::kOk) return false;
  if (correctionFile) {
    NameSearch_SelectCorrectionBlocks(dict, &s->criteria, &s->selection);
  } else {
    NameSearch_SelectBlocks(dict, &s->criteria, &s->selection);
  }
  if (Dict_SelectEntryBlocks(dict, &s->selection) != 0) return false;
  if (!correctionFile) s->useCandidates = FindCandidates(s);
  return true;
}

bool Matches(SearchState* s, const EntryView* e, bool correctionFile) {
  const SearchCriteria& c = s->criteria;
  if (correctionFile && e->regionCode != c.regionCode) return false;
  if (c.address1Key[0] && CompareHead(e->address1, c.address1Key) != 0) return false;
  if (c.address2Key[0] && CompareHead(e->address2, c.address2Key) != 0) return false;
  switch (c.kindFilter) {
    case kKindPersons:
    case kKindBusinesses:
      if (e->kind != c.kindFilter) return false;
      break;
    case kKindAll:
      break;
    default:
      return false;
  }
  return PatternMatcher_Match(&s->matcher, e->name) == 0;
}

// The region's dictionary: the one of its first row in the engine's region list.
uint32_t ListRegionDictionary(const SearchState* s, uint32_t first, uint16_t* numbers,
                              uint16_t capacity, uint16_t* count) {
  *count = 0;
  const uint16_t code = s->criteria.regionCode;
  if (code >= kRegionCodeLimit || s->engine->regionDictionary[code] == kNoDictionary) return 0;
  if (first == 0 && capacity > 0) {
    numbers[0] = s->engine->regionDictionary[code];
    *count = 1;
  }
  return 1;
}

constexpr SearchMode kNameMode = {SelectNameBlocks, Matches, ListRegionDictionary, false, false};

}  // namespace

void NameSearch_Run(const EngineState* engine, EngineCache* cache, SearchRequest* request) {
  // A length beyond its field would read past the request record.
  if (request->address1Length > sizeof request->address1 ||
      request->address2Length > sizeof request->address2 ||
      request->namePatternLength > sizeof request->namePattern) {
    return;
  }
  char pattern[sizeof request->namePattern + 1];
  std::memcpy(pattern, request->namePattern, request->namePatternLength);
  pattern[request->namePatternLength] = '\0';
  if (Pattern_IsBlank(pattern)) return;

  SearchState* s = SearchState_New(engine, cache, &kNameMode);
  if (s == nullptr) return;
  SearchCriteria& c = s->criteria;
  c.regionCode = static_cast<uint16_t>(request->regionCode);
  CopyCriterion(c.address1Key, request->address1, request->address1Length);
  CopyCriterion(c.address2Key, request->address2, request->address2Length);
  c.kindFilter = static_cast<uint16_t>(request->kindFilter);
  char widened[kPatternWidenedMax + 1];
  if (Pattern_Widen(pattern, widened, sizeof widened) >= 0 &&
      PatternMatcher_Init(&s->matcher, widened) == 0) {
    Search_Run(s, request);
  }
  SearchState_Free(s);
}
