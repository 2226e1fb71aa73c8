// Number search (mode 2): every listing that carries a number, across all dictionaries of
// the number's prefix, with the correction file's additions and removals applied.
#include "search/number_search.h"

#include <cstdlib>
#include <cstring>

#include "base/num_text.h"
#include "search/correction_merge.h"
#include "search/result_builder.h"
#include "search/search_files.h"

namespace {

// Compressed-block buffers of the correction file and of the dictionaries.
uint8_t g_correctionBlocks[kCompressedBlockMax];
uint8_t g_dictionaryBlocks[kCompressedBlockMax];

constexpr uint32_t kKeyFieldWidth = sizeof(SearchRequest::key);

struct CorrectionState {
  EngineState* engine;
  bool outOfMemory;
};

struct MatchState {
  SearchContext* correction;
  // Additions emitted so far. Each dictionary's hits are one ascending run, but the additions
  // are merged once across all of them, so an addition emitted during an earlier
  // dictionary's run may equal a later dictionary's entry; that entry is then dropped, as
  // an entry equal to an addition is within one run, and the listing comes once.
  RowList* emitted;
  bool outOfMemory;
};

bool AlreadyAdded(const DictEntry* entry, RowList* emitted) {
  if (emitted->rowCount == 0 || RowList_Rewind(emitted) != 0) return false;
  DictEntry addition;
  while (Correction_NextRow(emitted, &addition)) {
    if (DictEntry_Compare(entry, &addition) == 0) return true;
  }
  return false;
}

int KeepCorrectionIfWanted(SearchContext* c, void* user) {
  auto* state = static_cast<CorrectionState*>(user);
  if (c->current.number != c->keyNumber) return 0;
  if (!SearchFiles_CorrectionApplies(state->engine, &c->current)) return 0;
  if (SearchFiles_KeepCorrection(c) == 0) return 0;
  state->outOfMemory = true;
  return -1;
}

int MergeMatch(SearchContext* main, void* user) {
  auto* state = static_cast<MatchState*>(user);
  if (main->current.number != main->keyNumber) return 0;
  for (;;) {
    int step = Correction_MergeStep(&main->current, state->correction);
    if (step == -1) return 0;
    if (step == 1 && AlreadyAdded(&main->current, state->emitted)) return 0;
    const DictEntry* emit = step == 0 ? &state->correction->output : &main->current;
    if (ResultRow_Append(&main->resultRows, emit) != 0 ||
        (step == 0 && ResultRow_Append(state->emitted, emit) != 0)) {
      state->outOfMemory = true;
      return -1;
    }
    if (step == 1) return 0;
  }
}

// Reads the filters, region table and area code sets of the open file; then, when the key
// may occur, selects the entry blocks that hold it. 1 when blocks were selected.
int SelectKeyBlocks(SearchContext* c, bool clearAreaCodes) {
  uint8_t header[kDictHeaderSize];
  if (Dict_ReadHeader(c, header) != 0 || Dict_ReadFilters(c) != 0 ||
      Dict_ReadRegionTable(c) != 0) {
    return 0;
  }
  if (clearAreaCodes) Dict_ClearAreaCodeSets(c);
  if (Dict_ReadAreaCodeSets(c) != 0) return 0;
  if (!Dict_KeyMayOccur(c)) return 0;
  if (Dict_SelectNumberBlocks(c) != 0 || Dict_CollectGroups(c) != 0 ||
      Dict_SelectEntryBlocks(c) != 0) {
    return 0;
  }
  return 1;
}

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

uint32_t NumberSearch_ListDictionaries(SearchContext* main, EngineState* engine, uint32_t first) {
  main->dictCount = 0;
  const uint16_t prefix = static_cast<uint16_t>(NumberPrefix(main->keyNumber));
  const uint32_t capacity = sizeof main->dictNumbers / sizeof main->dictNumbers[0];
  uint32_t listed = 0;
  // The rows are walked through their links: a row can hold far more fields than an array
  // of field pointers on the stack would.
  for (uint8_t* link = engine->prefixList.firstRow; link != nullptr; link = RowLink_Next(link)) {
    uint8_t* block = RowLink_Block(link);
    const uint16_t n = RowBlock_FieldCount(block);
    if (n == 0 || static_cast<uint16_t>(DecimalValue(RowBlock_Field(block, 0))) != prefix) {
      continue;
    }
    for (uint16_t i = 1; i < n; ++i, ++listed) {
      if (listed < first || main->dictCount >= capacity) continue;
      main->dictNumbers[main->dictCount++] =
          static_cast<uint16_t>(DecimalValue(RowBlock_Field(block, i)));
    }
  }
  return listed;
}

int NumberSearch_CollectCorrections(SearchContext* correction, EngineState* engine) {
  CorrectionState state{engine, false};
  Dict_ReadEntryBlocks(correction, g_correctionBlocks, 2, KeepCorrectionIfWanted, &state);
  return state.outOfMemory ? -1 : 0;
}

int NumberSearch_CollectMatches(SearchContext* main, SearchContext* correction) {
  Correction_StartDeletions(correction);
  // The correction context's deletions list is rewound per dictionary; its emitted additions
  // are kept in the second list of the main context, which the number search does not use
  // otherwise.
  MatchState state{correction, &main->secondRows, false};
  Dict_ReadEntryBlocks(main, g_dictionaryBlocks, 1, MergeMatch, &state);
  return state.outOfMemory ? -1 : 0;
}

int NumberSearch_Run(EngineState* engine, SearchRequest* request) {
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

  SearchContext* correction = SearchContext_New();
  SearchContext* main = correction ? SearchContext_New() : nullptr;
  if (!main) {
    SearchContext_Free(correction);
    return 0;
  }
  bool ok = true;
  correction->keyNumber = static_cast<uint32_t>(value);
  if (engine->correctionFilePresent) {
    correction->file = SearchFiles_OpenDictionary(engine->correctionDirectory,
                                                  kCorrectionDictNumber);
    if (correction->file) {
      if (SelectKeyBlocks(correction, true) &&
          NumberSearch_CollectCorrections(correction, engine) != 0) {
        ok = false;
      }
      std::fclose(correction->file);
      correction->file = nullptr;
      if (correction->outOfMemory) ok = false;
    }
  }
  Correction_Start(correction);

  main->keyNumber = static_cast<uint32_t>(value);
  Dict_ClearAreaCodeSets(main);
  // The list holds 200 numbers; a prefix with more dictionaries is visited 200 at a time.
  for (uint32_t first = 0; ok;) {
    const uint32_t listed = NumberSearch_ListDictionaries(main, engine, first);
    for (uint16_t i = 0; ok && i < main->dictCount; ++i) {
      main->file = SearchFiles_OpenEngineDictionary(engine, main->dictNumbers[i]);
      if (!main->file) continue;
      if (SelectKeyBlocks(main, false) && NumberSearch_CollectMatches(main, correction) != 0) {
        ok = false;
      }
      std::fclose(main->file);
      main->file = nullptr;
      if (main->outOfMemory) ok = false;
    }
    first += main->dictCount;
    if (main->dictCount == 0 || first >= listed) break;
  }
  if (ok && Correction_Finish(correction, &main->resultRows) != 0) ok = false;
  if (ok) Result_Build(main, request);

  SearchContext_Free(main);
  SearchContext_Free(correction);
  return 0;
}
