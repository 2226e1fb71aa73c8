// Name search (mode 1): the listings of one region whose name matches a wildcard pattern,
// narrowed by leading address texts and entry kind, with corrections applied, in entry order.
#include "search/name_search.h"

#include <cstring>

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

namespace {

// Reads the header, region table, area code sets and entry index of the file and selects the
// blocks that can hold the region's matches.
bool SelectNameBlocks(SearchState* s, bool correctionFile) {
  DictFile* dict = &s->dict;
  uint8_t header[kDictHeaderSize];
  if (Dict_ReadHeader(dict, header) != 0 || Dict_ReadRegionTable(dict) != 0) return false;
  const int areaCodes = Dict_ReadAreaCodeSets(dict);
  if (!correctionFile) AreaCodeSets_Add(&s->areaCodes, &dict->areaCodes);
  if (areaCodes != 0) return false;
  s->selection.groupCount = 0;
  if (Dict_ReadEntryIndex(dict) != 0) return false;
  if (correctionFile) {
    NameSearch_SelectCorrectionBlocks(dict, &s->criteria, &s->selection);
  } else {
    NameSearch_SelectBlocks(dict, &s->criteria, &s->selection);
  }
  return Dict_SelectEntryBlocks(dict, &s->selection) == 0;
}

bool Matches(SearchState* s, const DictEntry* e, bool correctionFile) {
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

// The region's dictionary, from the engine's region list (walked through its links, which
// leaves the list untouched).
uint32_t ListRegionDictionary(const SearchState* s, uint32_t first, uint16_t* numbers,
                              uint16_t capacity, uint16_t* count) {
  *count = 0;
  for (uint8_t* link = s->engine->regionList.firstRow; link != nullptr; link = RowLink_Next(link)) {
    uint8_t* block = RowLink_Block(link);
    if (RowBlock_FieldCount(block) < 4) continue;
    if (static_cast<uint16_t>(DecimalValue(RowBlock_Field(block, 0))) != s->criteria.regionCode) {
      continue;
    }
    if (first == 0 && capacity > 0) {
      numbers[0] = static_cast<uint16_t>(DecimalValue(RowBlock_Field(block, 3)));
      *count = 1;
    }
    return 1;
  }
  return 0;
}

constexpr SearchMode kNameMode = {SelectNameBlocks, Matches, ListRegionDictionary, false};

}  // namespace

int NameSearch_Run(const EngineState* engine, SearchRequest* request) {
  // A length beyond its field would read past the request record.
  if (request->address1Length > sizeof request->address1 ||
      request->address2Length > sizeof request->address2 ||
      request->namePatternLength > sizeof request->namePattern) {
    return 0;
  }
  char pattern[sizeof request->namePattern + 1];
  std::memcpy(pattern, request->namePattern, request->namePatternLength);
  pattern[request->namePatternLength] = '\0';
  if (Pattern_IsBlank(pattern)) return 0;

  SearchState* s = SearchState_New(engine, &kNameMode);
  if (s == nullptr) return 0;
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
  return 0;
}
