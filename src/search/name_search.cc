// Name search (mode 1): the listings of one region whose name matches a wildcard pattern,
// narrowed by leading address texts and entry kind, with corrections applied, in entry order.
#include "search/name_search.h"

#include <cstring>

#include "base/num_text.h"
#include "search/correction_merge.h"
#include "search/pattern.h"
#include "search/result_builder.h"
#include "search/search_files.h"

namespace {

// Compressed-block buffers of the correction file and of the region's dictionary.
uint8_t g_correctionBlocks[kCompressedBlockMax];
uint8_t g_dictionaryBlocks[kCompressedBlockMax];

static_assert(sizeof(SearchContext::address1Key) > sizeof(SearchRequest::address1) &&
                  sizeof(SearchContext::address2Key) > sizeof(SearchRequest::address2) &&
                  sizeof(SearchContext::namePattern) > sizeof(SearchRequest::namePattern),
              "the criteria fields hold any request text and its NUL");

// length was checked against the request field, which the criteria field exceeds.
void CopyCriterion(char* dst, const char* src, uint32_t length) {
  std::memcpy(dst, src, length);
  dst[length] = '\0';
}

void SetCriteria(SearchContext* c, const SearchRequest* request) {
  c->regionCode = static_cast<uint16_t>(request->regionCode);
  CopyCriterion(c->address1Key, request->address1, request->address1Length);
  CopyCriterion(c->address2Key, request->address2, request->address2Length);
  c->kindFilter = static_cast<uint16_t>(request->kindFilter);
  CopyCriterion(c->namePattern, request->namePattern, request->namePatternLength);
}

// The first n bytes of text compared with key (n = strlen(key)); a shorter text compares
// below at its NUL, as a padded memcmp would.
int CompareHead(const char* text, const char* key) {
  return std::strncmp(text, key, std::strlen(key));
}

bool AppendGroup(SearchContext* c, uint32_t k) {
  if (k >= kEntryBlockMax || c->groupCount >= kEntryBlockMax) return false;
  c->groups[c->groupCount++] = static_cast<uint16_t>(k);
  return true;
}

bool EntryPasses(const SearchContext* c, const DictEntry* e, const char* widened) {
  if (c->address1Key[0] && CompareHead(e->address1, c->address1Key) != 0) return false;
  if (c->address2Key[0] && CompareHead(e->address2, c->address2Key) != 0) return false;
  switch (c->kindFilter) {
    case 1:
    case 2:
      if (e->kind != c->kindFilter) return false;
      break;
    case 3:
      break;
    default:
      return false;
  }
  return Pattern_Match(e->name, widened) == 0;
}

struct CorrectionState {
  EngineState* engine;
  char widened[kPatternWidenedMax + 1];
  bool outOfMemory;
};

int KeepCorrectionIfWanted(SearchContext* c, void* user) {
  auto* state = static_cast<CorrectionState*>(user);
  if (c->current.regionCode != c->regionCode) return 0;
  if (!EntryPasses(c, &c->current, state->widened)) return 0;
  if (!SearchFiles_CorrectionApplies(state->engine, &c->current)) return 0;
  if (SearchFiles_KeepCorrection(c) == 0) return 0;
  state->outOfMemory = true;
  return -1;
}

struct MatchState {
  SearchContext* correction;
  char widened[kPatternWidenedMax + 1];
  bool outOfMemory;
};

int MergeMatch(SearchContext* main, void* user) {
  auto* state = static_cast<MatchState*>(user);
  if (!EntryPasses(main, &main->current, state->widened)) return 0;
  for (;;) {
    int step = Correction_MergeStep(&main->current, state->correction);
    if (step == -1) return 0;
    const DictEntry* emit = step == 0 ? &state->correction->output : &main->current;
    if (ResultRow_Append(&main->resultRows, emit) != 0) {
      state->outOfMemory = true;
      return -1;
    }
    if (step == 1) return 0;
  }
}

// Reads the header, region table and area code sets of the open file. 0 or -1.
int ReadFileHead(SearchContext* c) {
  uint8_t header[kDictHeaderSize];
  if (Dict_ReadHeader(c, header) != 0 || Dict_ReadRegionTable(c) != 0) return -1;
  Dict_ClearAreaCodeSets(c);
  return Dict_ReadAreaCodeSets(c);
}

}  // namespace

void NameSearch_FindDictionary(SearchContext* main, EngineState* engine) {
  main->dictCount = 0;
  if (RowList_Rewind(&engine->regionList) != 0) return;
  char* f[4];
  uint16_t n;
  while (RowList_Next(&engine->regionList, f, &n, 4) == 0) {
    if (n < 4) continue;
    if (static_cast<uint16_t>(DecimalValue(f[0])) == main->regionCode) {
      main->dictNumbers[0] = static_cast<uint16_t>(DecimalValue(f[3]));
      main->dictCount = 1;
      return;
    }
  }
}

int NameSearch_SelectBlocks(SearchContext* c) {
  c->groupCount = 0;
  if (Dict_ReadEntryIndex(c) != 0) return -1;
  ByteReader index = ByteReader_Make(c->scratch, c->entryIndexLength);
  EntryIndexRecord record;
  for (uint32_t k = 0; Dict_NextEntryIndexRecord(&index, &record) == 1; ++k) {
    if (record.regionCode > c->regionCode) break;
    if (record.regionCode == c->regionCode && CompareHead(record.firstText, c->address1Key) <= 0 &&
        CompareHead(record.lastText, c->address1Key) >= 0) {
      AppendGroup(c, k);
    }
  }
  return 0;
}

int NameSearch_SelectCorrectionBlocks(SearchContext* c) {
  c->groupCount = 0;
  if (Dict_ReadEntryIndex(c) != 0) return -1;
  ByteReader index = ByteReader_Make(c->scratch, c->entryIndexLength);
  EntryIndexRecord record;
  bool noneChosen = true;
  uint32_t k = 0;
  for (; Dict_NextEntryIndexRecord(&index, &record) == 1; ++k) {
    const int head = CompareHead(record.firstText, c->address1Key);
    if (record.regionCode > c->regionCode || (record.regionCode == c->regionCode && head > 0)) {
      // The block before holds where the key would start.
      if (noneChosen && k > 0) AppendGroup(c, k - 1);
      return 0;
    }
    if (record.regionCode == c->regionCode && head == 0) {
      if (noneChosen && k > 0) {
        AppendGroup(c, k - 1);
        noneChosen = false;
      }
      AppendGroup(c, k);
    }
  }
  if (noneChosen && k > 0) AppendGroup(c, k - 1);
  return 0;
}

int NameSearch_CollectCorrections(SearchContext* correction, EngineState* engine) {
  CorrectionState state;
  state.engine = engine;
  state.outOfMemory = false;
  if (Pattern_Widen(correction->namePattern, state.widened, sizeof state.widened) < 0) return 0;
  Dict_ReadEntryBlocks(correction, g_correctionBlocks, 2, KeepCorrectionIfWanted, &state);
  return state.outOfMemory ? -1 : 0;
}

int NameSearch_CollectMatches(SearchContext* main, SearchContext* correction) {
  Correction_Start(correction);
  MatchState state;
  state.correction = correction;
  state.outOfMemory = false;
  if (Pattern_Widen(main->namePattern, state.widened, sizeof state.widened) < 0) return 0;
  Dict_ReadEntryBlocks(main, g_dictionaryBlocks, 1, MergeMatch, &state);
  return state.outOfMemory ? -1 : 0;
}

int NameSearch_Run(EngineState* engine, SearchRequest* request) {
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

  SearchContext* correction = SearchContext_New();
  SearchContext* main = correction ? SearchContext_New() : nullptr;
  if (!main) {
    SearchContext_Free(correction);
    return 0;
  }
  SetCriteria(main, request);
  SetCriteria(correction, request);
  bool ok = true;

  if (engine->correctionFilePresent) {
    correction->file = SearchFiles_OpenDictionary(engine->correctionDirectory,
                                                  kCorrectionDictNumber);
    if (correction->file) {
      if (ReadFileHead(correction) == 0 && NameSearch_SelectCorrectionBlocks(correction) == 0 &&
          Dict_SelectEntryBlocks(correction) == 0 &&
          NameSearch_CollectCorrections(correction, engine) != 0) {
        ok = false;
      }
      std::fclose(correction->file);
      correction->file = nullptr;
      if (correction->outOfMemory) ok = false;
    }
  }

  NameSearch_FindDictionary(main, engine);
  if (ok && main->dictCount != 0) {
    main->file = SearchFiles_OpenEngineDictionary(engine, main->dictNumbers[0]);
    if (main->file) {
      if (ReadFileHead(main) == 0 && NameSearch_SelectBlocks(main) == 0 &&
          Dict_SelectEntryBlocks(main) == 0) {
        if (NameSearch_CollectMatches(main, correction) != 0 ||
            Correction_Finish(correction, &main->resultRows) != 0) {
          ok = false;
        }
      }
      std::fclose(main->file);
      main->file = nullptr;
      if (main->outOfMemory) ok = false;
    }
  }
  if (ok) Result_Build(main, request);

  SearchContext_Free(main);
  SearchContext_Free(correction);
  return 0;
}
