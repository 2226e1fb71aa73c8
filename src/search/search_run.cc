// The skeleton both searches share.
#include "search/search_run.h"

#include <cstdio>
#include <cstring>

#include "base/mem.h"
#include "base/num_text.h"
#include "platform/platform.h"
#include "search/result_builder.h"

namespace {

constexpr uint16_t kDictionaryBatch = 200;

FILE* OpenDictionary(const char* directory, uint32_t number) {
  char name[kDictFileNameLength + 1];
  Dict_FileName(number, name);
  char path[300];
  int n = std::snprintf(path, sizeof path, "%s%s", directory, name);
  if (n < 0 || static_cast<size_t>(n) >= sizeof path) return nullptr;
  return Platform_OpenRegularFile(path);
}

FILE* OpenEngineDictionary(const EngineState* engine, uint32_t number) {
  if (number >= kDictNumberLimit) return nullptr;
  switch (engine->dictDirectory[number]) {
    case 1:
      return OpenDictionary(engine->directory1, number);
    case 2:
      return OpenDictionary(engine->directory2, number);
    default:
      return nullptr;
  }
}

// Whether a correction entry applies: its region is installed and the region's edition stamp
// is not above the correction version.
bool CorrectionApplies(const EngineState* engine, const DictEntry* entry) {
  const uint32_t code = DecimalValue(entry->regionCodeText);
  if (code >= kRegionCodeLimit || !engine->regionCovered[code]) return false;
  return engine->regionEdition[code] <= DecimalValue(entry->correctionVersionText);
}

int KeepCorrection(const DictEntry* entry, void* user) {
  auto* s = static_cast<SearchState*>(user);
  if (!s->mode->wants(s, entry, true) || !CorrectionApplies(s->engine, entry)) return 0;
  if (CorrectionMerge_Keep(&s->merge, entry) == 0) return 0;
  s->outOfMemory = true;
  return -1;
}

bool AlreadyAdded(const DictEntry* entry, RowList* emitted) {
  if (emitted->rowCount == 0 || RowList_Rewind(emitted) != 0) return false;
  DictEntry addition;
  while (Correction_NextRow(emitted, &addition)) {
    if (DictEntry_Compare(entry, &addition) == 0) return true;
  }
  return false;
}

int MergeMatch(const DictEntry* entry, void* user) {
  auto* s = static_cast<SearchState*>(user);
  if (!s->mode->wants(s, entry, false)) return 0;
  const bool across = s->mode->acrossDictionaries;
  for (;;) {
    const int step = Correction_MergeStep(entry, &s->merge);
    if (step == -1) return 0;
    if (step == 1 && across && AlreadyAdded(entry, &s->emitted)) return 0;
    const DictEntry* emit = step == 0 ? &s->merge.output : entry;
    if (ResultRow_Append(&s->results, emit) != 0 ||
        (step == 0 && across && ResultRow_Append(&s->emitted, emit) != 0)) {
      s->outOfMemory = true;
      return -1;
    }
    if (step == 1) return 0;
  }
}

// Reads one file: its blocks as the mode selects them, each entry handed to handler.
// Returns whether blocks were selected; false too when the file does not open.
bool ReadFile(SearchState* s, FILE* file, bool correctionFile, DictEntryHandler handler) {
  if (file == nullptr) return false;
  DictFile_Init(&s->dict, file);
  const bool selected = s->mode->selectBlocks(s, correctionFile);
  if (selected) {
    if (!correctionFile && s->mode->acrossDictionaries) Correction_StartDeletions(&s->merge);
    Dict_ReadEntryBlocks(&s->dict, &s->selection, &s->buffer, &s->decoder,
                         correctionFile ? kDecodeCorrection : kDecodeDictionary, handler, s);
  }
  if (s->dict.outOfMemory || s->buffer.outOfMemory) s->outOfMemory = true;
  std::fclose(file);
  DictFile_Free(&s->dict);
  return selected;
}

}  // namespace

SearchState* SearchState_New(const EngineState* engine, const SearchMode* mode) {
  // Not zeroed as a whole: the block buffers and the matcher (about 270 KiB) are written
  // before they are read, and clearing them cost more than many a search.
  auto* s = static_cast<SearchState*>(Mem_Alloc(sizeof(SearchState)));
  if (s == nullptr) return nullptr;
  s->engine = engine;
  s->mode = mode;
  s->criteria = SearchCriteria{};
  s->matcher.compiled = -1;
  s->matcher.patternLength = 0;
  s->selection.selectedCount = 0;
  s->selection.groupCount = 0;
  s->buffer.length = 0;
  s->buffer.outOfMemory = 0;
  s->outOfMemory = false;
  AreaCodeSets_Clear(&s->areaCodes);
  DictFile_Init(&s->dict, nullptr);
  DictDecoder_Init(&s->decoder);
  CorrectionMerge_Init(&s->merge);
  RowList_Init(&s->results);
  RowList_Init(&s->emitted);
  return s;
}

void SearchState_Free(SearchState* s) {
  if (s == nullptr) return;
  DictFile_Free(&s->dict);
  CorrectionMerge_Free(&s->merge);
  RowList_Free(&s->results);
  RowList_Free(&s->emitted);
  Mem_Free(s);
}

void Search_Run(SearchState* s, SearchRequest* request) {
  const EngineState* engine = s->engine;
  if (engine->correctionFilePresent) {
    ReadFile(s, OpenDictionary(engine->correctionDirectory, kCorrectionDictNumber), true,
             KeepCorrection);
  }
  Correction_Start(&s->merge);

  bool finish = s->mode->acrossDictionaries;
  uint16_t numbers[kDictionaryBatch];
  // A listing longer than the batch is visited a batch at a time.
  for (uint32_t first = 0; !s->outOfMemory;) {
    uint16_t count = 0;
    const uint32_t listed = s->mode->listDictionaries(s, first, numbers, kDictionaryBatch, &count);
    for (uint16_t i = 0; i < count && !s->outOfMemory; ++i) {
      if (ReadFile(s, OpenEngineDictionary(engine, numbers[i]), false, MergeMatch)) finish = true;
    }
    first += count;
    if (count == 0 || first >= listed) break;
  }
  if (!s->outOfMemory && finish && Correction_Finish(&s->merge, &s->results) != 0) {
    s->outOfMemory = true;
  }
  if (!s->outOfMemory) Result_Build(&s->results, &s->areaCodes, request);
}
