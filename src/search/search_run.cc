// The skeleton both searches share.
#include "search/search_run.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/mem.h"
#include "base/num_text.h"
#include "files/file_names.h"
#include "platform/platform.h"
#include "search/result_builder.h"

namespace {

constexpr uint16_t kDictionaryBatch = 200;

const AreaCodeSets kNoAreaCodes{};

FILE* OpenDictionary(const char* directory, uint32_t number, FileIdentity* identity) {
  char name[kDictFileNameLength + 1];
  Dict_FileName(number, name);
  char path[300];
  int n = std::snprintf(path, sizeof path, "%s%s", directory, name);
  if (n < 0 || static_cast<size_t>(n) >= sizeof path) return nullptr;
  return Platform_OpenRegularFile(path, identity);
}

// The engine's dictionary or correction file of that number, opened, with its identity; null
// when it has none or it does not open.
FILE* OpenEngineFile(const EngineState* engine, uint32_t number, FileIdentity* identity) {
  if (number == kCorrectionDictNumber) {
    return engine->correctionFilePresent
               ? OpenDictionary(engine->correctionDirectory, number, identity)
               : nullptr;
  }
  if (number >= kDictNumberLimit) return nullptr;
  switch (engine->dictDirectory[number]) {
    case 1:
      return OpenDictionary(engine->directory1, number, identity);
    case 2:
      return OpenDictionary(engine->directory2, number, identity);
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

typedef int (*EntryHandler)(SearchState* s, const DictEntry* entry);

int KeepCorrection(SearchState* s, const DictEntry* entry) {
  if (!CorrectionApplies(s->engine, entry)) return 0;
  if (CorrectionMerge_Keep(&s->merge, entry) == 0) return 0;
  s->stopped = Result::kOutOfMemory;
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

int MergeMatch(SearchState* s, const DictEntry* entry) {
  const bool across = s->mode->acrossDictionaries;
  for (;;) {
    const int step = Correction_MergeStep(entry, &s->merge);
    if (step == -1) return 0;
    if (step == 1 && across && AlreadyAdded(entry, &s->emitted)) return 0;
    const DictEntry* emit = step == 0 ? &s->merge.output : entry;
    if (ResultRow_Append(&s->results, emit) != 0 ||
        (step == 0 && across && ResultRow_Append(&s->emitted, emit) != 0)) {
      s->stopped = Result::kOutOfMemory;
      return -1;
    }
    if (step == 1) return 0;
  }
}

bool Stopped(const SearchState* s) { return s->stopped != Result::kOk; }

// The cached file opened by its name, which must still name the file the cache read:
// otherwise the search is to start again without the cache.
bool OpenByName(SearchState* s) {
  FileIdentity now{};
  s->stream = OpenEngineFile(s->engine, s->fileNumber, &now);
  if (s->stream == nullptr || !(now == s->cached->identity)) {
    s->stopped = Result::kIoFailure;
    return false;
  }
  return true;
}

// Opens the current file for reading blocks, once: the cache's own where it keeps it open.
bool OpenStream(SearchState* s) {
  if (s->stream != nullptr) return true;
  if (s->cached->stream != nullptr) {
    s->stream = s->cached->stream;
    s->streamKept = true;
    return true;
  }
  return OpenByName(s);
}

// Inflates the selected block of section (5 or 6) into the buffer: kOk; kDamaged when it
// cannot be read (it gives nothing); kIoFailure (the file is not the one the search began
// with, or is gone) or kOutOfMemory when the search must stop.
Result LoadBlock(SearchState* s, int section, const SelectedBlock& selected) {
  if (!OpenStream(s)) return Result::kIoFailure;
  Result loaded = Dict_LoadBlockFrom(s->file, s->stream, section, selected.offset,
                                     selected.size, &s->buffer);
  if (loaded == Result::kDamaged && s->streamKept) {
    // A kept file that does not give a block the tables name may have been replaced where no
    // change is told (a network file system reports another machine's changes to nobody): it
    // is opened by its name, which tells, and read again.
    s->stream = nullptr;
    s->streamKept = false;
    if (!OpenByName(s)) return Result::kIoFailure;
    loaded = Dict_LoadBlockFrom(s->file, s->stream, section, selected.offset, selected.size,
                                &s->buffer);
  }
  if (loaded == Result::kOutOfMemory) s->stopped = loaded;
  return loaded;
}

// Whether a block load leaves the search to go on (a damaged block gives nothing).
bool GoesOn(Result loaded) { return loaded == Result::kOk || loaded == Result::kDamaged; }

// Offers entry i of block to the handler when the mode wants it: false to stop.
bool Offer(SearchState* s, const DecodedEntryBlock* block, uint32_t i, EntryHandler handler,
           const RegionTable* regions) {
  const EntryView view = DecodedEntry_View(block, i);
  if (!s->mode->wants(s, &view, s->correctionFile)) return true;
  DecodedEntry_Materialize(block, i, regions, s->entryNamesKnown, &s->entry);
  s->entryNamesKnown = true;
  return handler(s, &s->entry) == 0;
}

// Offers the entries of the selected blocks (or the candidates only), in entry order.
void ReadEntries(SearchState* s, EntryHandler handler) {
  const RegionTable regions = Dict_RegionTable(s->file);
  if (s->useCandidates) {
    const DecodedEntryBlock* block = nullptr;
    uint32_t blockNumber = 0;
    for (uint32_t c = 0; c < s->candidateCount && !Stopped(s); ++c) {
      const uint32_t k = s->candidates[c] >> 16, i = s->candidates[c] & 0xFFFF;
      if (block == nullptr || k != blockNumber) {
        Search_ReleaseBlock(s, block);
        block = Search_EntryBlock(s, Search_EntryBlockOf(s->file, k));
        blockNumber = k;
        if (block == nullptr) return;
      }
      if (i < block->count && !Offer(s, block, i, handler, &regions)) break;
    }
    Search_ReleaseBlock(s, block);
    return;
  }
  for (uint32_t b = 0; b < s->selection.selectedCount && !Stopped(s); ++b) {
    const DecodedEntryBlock* block = Search_EntryBlock(s, s->selection.selected[b]);
    if (block == nullptr) return;
    bool go = true;
    const uint32_t key = s->criteria.keyNumber;
    for (uint32_t i = 0; i < block->count && go; ++i) {
      if (s->mode->byKeyNumber && block->entries[i].number != key) continue;
      go = Offer(s, block, i, handler, &regions);
    }
    Search_ReleaseBlock(s, block);
    if (!go) return;
  }
}

// Reads one file: its blocks as the mode selects them, each wanted entry handed to handler.
// Returns whether blocks were selected; false too when the file does not open.
bool ReadFile(SearchState* s, uint32_t number, bool correctionFile, EntryHandler handler) {
  s->fileNumber = number;
  s->correctionFile = correctionFile;
  s->entryNamesKnown = false;
  s->useCandidates = false;
  s->stream = nullptr;
  s->streamKept = false;
  s->cached =
      s->useCache ? Search_Counted(s, EngineCache_FindFile(s->cache, number)) : nullptr;
  if (s->cached == nullptr) {
    FileIdentity identity{};
    FILE* file = OpenEngineFile(s->engine, number, &identity);
    if (file == nullptr) return false;
    s->stream = file;
    // A file whose identity could not be told is read directly: the cache could not tell
    // it from its replacement.
    const bool known = !(identity == FileIdentity{});
    if (s->useCache && known) {
      s->cached = EngineCache_AddFile(s->cache, number, file, identity, &s->streamKept);
    }
    if (s->cached == nullptr) {
      DictFile_Init(&s->dict, file);
      if (known) s->dict.knownSize = static_cast<int64_t>(identity.size);
      Dict_ReadAll(&s->dict);
    }
  }
  s->file = s->cached != nullptr ? &s->cached->dict : &s->dict;
  const bool selected = !Dict_OutOfMemory(&s->dict) && s->mode->selectBlocks(s, correctionFile);
  if (selected && !Stopped(s)) {
    if (!correctionFile && s->mode->acrossDictionaries) Correction_StartDeletions(&s->merge);
    ReadEntries(s, handler);
  }
  if (Dict_OutOfMemory(&s->dict)) s->stopped = Result::kOutOfMemory;
  if (s->stream != nullptr && !s->streamKept) std::fclose(s->stream);
  s->stream = nullptr;
  DictFile_Free(&s->dict);
  EngineCache_Release(s->cache, s->cached);
  s->cached = nullptr;
  s->file = nullptr;
  return selected;
}

// Empties what a run fills, so that the search can run (again).
void ResetRun(SearchState* s) {
  CorrectionMerge_Free(&s->merge);
  CorrectionMerge_Init(&s->merge);
  RowList_Free(&s->results);
  RowList_Free(&s->emitted);
  RowList_Init(&s->results);
  RowList_Init(&s->emitted);
  EngineCache_Release(s->cache, s->areaPin);
  s->areaPin = nullptr;
  s->areaCodes = nullptr;
  s->areaCodesKnown = false;
  s->areaContributors = 0;
  s->stopped = Result::kOk;
}

// A number search passes over the cached files whose filters rule its key out, all told at
// once (reading such a file selects no block): sets absent[i] for those of the count files,
// counted as cache hits; clears every absent[i] when the search is another or may not.
void PassOverAbsent(SearchState* s, const uint16_t* numbers, uint16_t count, bool may,
                    bool* absent) {
  if (!s->mode->byKeyNumber || !s->useCache || !may) {
    std::fill_n(absent, count, false);
    return;
  }
  const uint32_t passed =
      EngineCache_KeyAbsent(s->cache, numbers, count, s->criteria.keyNumber, absent);
  s->cacheLookups += passed;
  s->cacheHits += passed;
}

void RunOnce(SearchState* s, SearchRequest* request) {
  const EngineState* engine = s->engine;
  if (s->useCache && s->areaUnionKey >= 0) {
    s->areaCodes =
        Search_Counted(s, EngineCache_FindAreaUnion(s->cache,
                                                    static_cast<uint32_t>(s->areaUnionKey)));
    s->areaPin = s->areaCodes;
    s->areaCodesKnown = s->areaCodes != nullptr;
  }
  if (engine->correctionFilePresent) {
    const uint16_t correction = kCorrectionDictNumber;
    bool absent = false;
    PassOverAbsent(s, &correction, 1, true, &absent);
    if (!absent) ReadFile(s, kCorrectionDictNumber, true, KeepCorrection);
  }
  Correction_Start(&s->merge);

  bool finish = s->mode->acrossDictionaries;
  uint16_t numbers[kDictionaryBatch];
  bool absent[kDictionaryBatch];
  // A listing longer than the batch is visited a batch at a time.
  for (uint32_t first = 0; !Stopped(s);) {
    uint16_t count = 0;
    const uint32_t listed = s->mode->listDictionaries(s, first, numbers, kDictionaryBatch, &count);
    // Dictionaries only once nothing else (their area code sets) is wanted of them.
    PassOverAbsent(s, numbers, count, s->areaCodesKnown, absent);
    for (uint16_t i = 0; i < count && !Stopped(s); ++i) {
      if (absent[i]) continue;
      if (ReadFile(s, numbers[i], false, MergeMatch)) finish = true;
    }
    first += count;
    if (count == 0 || first >= listed) break;
  }
  if (Stopped(s)) return;
  if (finish && Correction_Finish(&s->merge, &s->results) != 0) {
    s->stopped = Result::kOutOfMemory;
    return;
  }
  // A union of several files is kept for the next search of the same prefix.
  if (s->useCache && s->areaUnionKey >= 0 && !s->areaCodesKnown && s->areaContributors > 1) {
    EngineCache_Release(s->cache,
                        EngineCache_AddAreaUnion(s->cache, static_cast<uint32_t>(s->areaUnionKey),
                                                 &s->ownAreaCodes));
  }
  Result_Build(&s->results, s->areaCodes != nullptr ? s->areaCodes : &kNoAreaCodes, request);
}

}  // namespace

SearchState* SearchState_New(const EngineState* engine, EngineCache* cache,
                             const SearchMode* mode) {
  // Not zeroed as a whole: the block buffers, the matcher and the area code sets (about
  // 300 KiB) are written before they are read, and clearing them cost more than many a search.
  auto* s = static_cast<SearchState*>(Mem_Alloc(sizeof(SearchState)));
  if (s == nullptr) return nullptr;
  s->engine = engine;
  s->cache = cache;
  s->mode = mode;
  s->criteria = SearchCriteria{};
  s->matcher.compiled = -1;
  s->matcher.patternLength = 0;
  s->useCache = true;
  s->file = nullptr;
  s->cached = nullptr;
  s->stream = nullptr;
  s->streamKept = false;
  s->fileNumber = 0;
  s->correctionFile = false;
  DictFile_Init(&s->dict, nullptr);
  s->selection.selectedCount = 0;
  s->selection.groupCount = 0;
  s->candidates = nullptr;
  s->candidateCount = 0;
  s->candidateCapacity = 0;
  s->useCandidates = false;
  s->buffer.length = 0;
  DictDecoder_Init(&s->decoder);
  DecodedEntryBuilder_Init(&s->builder);
  s->numberStorage = nullptr;
  s->numberStorageSize = 0;
  s->entryNamesKnown = false;
  CorrectionMerge_Init(&s->merge);
  RowList_Init(&s->results);
  RowList_Init(&s->emitted);
  s->areaCodes = nullptr;
  s->areaPin = nullptr;
  s->areaUnionKey = -1;
  s->areaCodesKnown = false;
  s->areaContributors = 0;
  s->stopped = Result::kOk;
  s->cacheLookups = 0;
  s->cacheHits = 0;
  return s;
}

void SearchState_Free(SearchState* s) {
  if (s == nullptr) return;
  EngineCache_Count(s->cache, s->cacheLookups, s->cacheHits);
  DictFile_Free(&s->dict);
  DecodedEntryBuilder_Free(&s->builder);
  Mem_Free(s->numberStorage);
  Mem_Free(s->candidates);
  EngineCache_Release(s->cache, s->areaPin);
  CorrectionMerge_Free(&s->merge);
  RowList_Free(&s->results);
  RowList_Free(&s->emitted);
  Mem_Free(s);
}

void Search_Run(SearchState* s, SearchRequest* request) {
  RunOnce(s, request);
  if (s->stopped != Result::kIoFailure) return;
  // The files changed under the search: it answers from the files as they are now.
  EngineCache_MarkStale(s->cache);
  ResetRun(s);
  s->useCache = false;
  RunOnce(s, request);
}

void Search_AddAreaCodes(SearchState* s) {
  if (s->areaCodesKnown) return;
  const AreaCodeSets* sets = &s->file->areaCodes;
  ++s->areaContributors;
  if (s->areaCodes == nullptr && s->cached != nullptr) {
    // The first file's sets are used where the cache keeps them, pinned until the end.
    EngineCache_Retain(s->cached);
    s->areaPin = s->cached;
    s->areaCodes = sets;
    return;
  }
  if (s->areaCodes != &s->ownAreaCodes) {
    if (s->areaCodes != nullptr) {
      std::memcpy(&s->ownAreaCodes, s->areaCodes, sizeof s->ownAreaCodes);
    } else {
      AreaCodeSets_Clear(&s->ownAreaCodes);
    }
    s->areaCodes = &s->ownAreaCodes;
  }
  AreaCodeSets_Add(&s->ownAreaCodes, sets);
}

const DecodedNumberBlock* Search_NumberBlock(SearchState* s, const SelectedBlock& selected) {
  if (s->cached != nullptr) {
    const DecodedNumberBlock* kept =
        Search_Counted(s, EngineCache_FindNumberBlock(s->cache, s->cached, selected.index));
    if (kept != nullptr) return kept;
  }
  s->numberBlock = DecodedNumberBlock{nullptr, nullptr, 0, 1, 0};
  const Result loaded = LoadBlock(s, 5, selected);
  if (!GoesOn(loaded)) return nullptr;
  if (loaded == Result::kOk) {
    const size_t bytes = DecodedNumberBlock_Bytes(s->buffer.length);
    if (bytes > s->numberStorageSize) {
      Mem_Free(s->numberStorage);
      s->numberStorageSize = 0;
      s->numberStorage = static_cast<uint8_t*>(Mem_Alloc(bytes));
      if (s->numberStorage == nullptr) {
        s->stopped = Result::kOutOfMemory;
        return nullptr;
      }
      s->numberStorageSize = bytes;
    }
    DecodedNumberBlock_Build(s->buffer.data, s->buffer.length, s->numberStorage,
                             &s->numberBlock);
  }
  if (s->cached != nullptr) {
    const DecodedNumberBlock* kept =
        EngineCache_AddNumberBlock(s->cache, s->cached, selected.index, &s->numberBlock);
    if (kept != nullptr) return kept;
  }
  return &s->numberBlock;
}

const DecodedEntryBlock* Search_EntryBlock(SearchState* s, const SelectedBlock& selected) {
  if (s->cached != nullptr) {
    const DecodedEntryBlock* kept =
        Search_Counted(s, EngineCache_FindEntryBlock(s->cache, s->cached, selected.index));
    if (kept != nullptr) return kept;
  }
  const int variant = s->correctionFile ? kDecodeCorrection : kDecodeDictionary;
  s->entryBlock = DecodedEntryBlock{nullptr, nullptr, 0, 0, 1, 0, static_cast<uint8_t>(variant)};
  const Result loaded = LoadBlock(s, 6, selected);
  if (!GoesOn(loaded)) return nullptr;
  // A block the cache will not keep is decoded for this search alone: by a number search only
  // as far as the entries of its key go.
  const bool keep = s->cached != nullptr &&
                    EngineCache_AdmitsEntryBlock(s->cache, s->cached, selected.index,
                                                 s->buffer.length);
  if (loaded == Result::kOk) {
    const RegionTable regions = Dict_RegionTable(s->file);
    const bool whole = keep || !s->mode->byKeyNumber;
    const int decoded =
        whole ? DecodedEntryBuilder_Decode(&s->builder, &s->decoder, &regions, s->buffer.data,
                                           s->buffer.length, variant, &s->entryBlock)
              : DecodedEntryBuilder_DecodeNumber(&s->builder, &s->decoder, &regions,
                                                 s->buffer.data, s->buffer.length, variant,
                                                 s->criteria.keyNumber, &s->entryBlock);
    if (decoded != 0) {
      s->stopped = Result::kOutOfMemory;
      return nullptr;
    }
  }
  if (keep) {
    const DecodedEntryBlock* kept =
        EngineCache_AddEntryBlock(s->cache, s->cached, selected.index, &s->entryBlock);
    if (kept != nullptr) return kept;
  }
  return &s->entryBlock;
}

void Search_ReleaseBlock(SearchState* s, const void* block) {
  if (block != nullptr && block != &s->numberBlock && block != &s->entryBlock) {
    EngineCache_Release(s->cache, block);
  }
}

SelectedBlock Search_EntryBlockOf(const DictFile* dict, uint32_t k) {
  const EntryIndexRecord& record = dict->entryIndex[k];
  return SelectedBlock{record.offset, record.compressedSize, k};
}
