// The skeleton both searches share: collect the correction file's entries that apply, walk
// the dictionaries the mode lists reading the blocks it selects, merge the corrections into
// the entries it wants, and build the results. A mode differs only in how it lists
// dictionaries, selects blocks and filters entries.
//
// Files and blocks come from the engine cache when it holds them; what it does not hold is
// read from the file, decoded, and offered to it. A block missing from the cache is read from
// the file opened again, which must be the very file the cache read (same identity): if it is
// not, the files changed under the search, which then starts again without the cache and
// marks the cache stale.
#ifndef QOR3_SEARCH_SEARCH_RUN_H
#define QOR3_SEARCH_SEARCH_RUN_H

#include <cstdint>
#include <cstdio>

#include "base/result.h"
#include "base/row_list.h"
#include "dict/decoded_block.h"
#include "dict/dict_entry.h"
#include "dict/dict_file.h"
#include "engine/engine_cache.h"
#include "engine/engine_state.h"
#include "qor3.h"
#include "search/correction_merge.h"
#include "search/dict_reader.h"
#include "search/pattern.h"

// What a request asks for, as the searches use it.
struct SearchCriteria {
  uint32_t keyNumber;  // number search
  // Name search.
  uint16_t regionCode;
  char address1Key[sizeof SearchRequest::address1 + 1];
  char address2Key[sizeof SearchRequest::address2 + 1];
  uint16_t kindFilter;
};

// Kind filters of a name search.
constexpr uint16_t kKindPersons = 1;
constexpr uint16_t kKindBusinesses = 2;
constexpr uint16_t kKindAll = 3;

struct SearchMode;

// Everything one search works with (about 310 KiB: on the heap, one per call, so searches
// share nothing but the engine and its cache).
struct SearchState {
  const EngineState* engine;
  EngineCache* cache;
  const SearchMode* mode;
  SearchCriteria criteria;
  PatternMatcher matcher;  // name search: the widened pattern
  bool useCache;

  // The file being read: its tables (the cache's, or dict when read directly) and, once a
  // block had to be read, the open file (the cache's own when it keeps the file open: then
  // streamKept, and the search does not close it).
  const DictFile* file;
  const CachedFile* cached;
  DictFile dict;
  FILE* stream;
  bool streamKept;
  uint32_t fileNumber;
  bool correctionFile;

  BlockSelection selection;
  // Name search: the entries to offer instead of every entry of the selected blocks, as
  // (block << 16 | position), ascending (see NameSearch).
  uint32_t* candidates;
  uint32_t candidateCount;
  uint32_t candidateCapacity;
  bool useCandidates;

  // Blocks decoded for this search alone (when the cache does not keep them).
  DictBlockBuffer buffer;
  DictDecoder decoder;
  DecodedEntryBuilder builder;
  DecodedEntryBlock entryBlock;
  uint8_t* numberStorage;
  size_t numberStorageSize;
  DecodedNumberBlock numberBlock;

  DictEntry entry;         // the entry offered, rebuilt from its decoded block
  bool entryNamesKnown;    // entry holds the region names of its region code in this file
  CorrectionMerge merge;
  RowList results;
  // Additions emitted so far, in a search across several dictionaries (see Search_Run).
  RowList emitted;

  // The union of the area code sets of the dictionaries read (the results' hyphenation): null
  // while none, a cached file's or union's sets (pinned by areaPin), or ownAreaCodes.
  const AreaCodeSets* areaCodes;
  const void* areaPin;
  AreaCodeSets ownAreaCodes;
  int32_t areaUnionKey;    // the prefix number whose union the cache keeps, or -1
  bool areaCodesKnown;     // the union came from the cache: the files add nothing
  uint32_t areaContributors;

  // kOk while the search goes on; kOutOfMemory; kIoFailure when a block's file is gone or is
  // not the one the cache read (the files changed under the search: it starts again).
  Result stopped;
  uint32_t cacheLookups;  // counted here, added to the cache's counters at the end
  uint32_t cacheHits;
};

struct SearchMode {
  // Reads what the mode needs of state->file and selects its blocks: true when there are
  // blocks to read. correctionFile: the file is the correction file.
  bool (*selectBlocks)(SearchState* state, bool correctionFile);
  // Whether the request wants a decoded entry (before correction rules and merge).
  bool (*wants)(SearchState* state, const EntryView* entry, bool correctionFile);
  // Lists the dictionaries to visit from position first on into numbers (at most capacity)
  // and *count; returns how many the listing holds in all.
  uint32_t (*listDictionaries)(const SearchState* state, uint32_t first, uint16_t* numbers,
                               uint16_t capacity, uint16_t* count);
  // A search across several dictionaries (the number search): each dictionary's hits are one
  // ascending run, so the deletions restart for each, an addition already emitted drops a
  // later dictionary's equal entry, and the additions are finished even when no dictionary
  // was read. Otherwise the additions are merged only into a dictionary that was read.
  bool acrossDictionaries;
  // The mode wants only entries of the key number (criteria.keyNumber): the others are passed
  // over without a call of wants.
  bool byKeyNumber;
};

// A state with its lists empty; null when out of memory.
SearchState* SearchState_New(const EngineState* engine, EngineCache* cache,
                             const SearchMode* mode);
void SearchState_Free(SearchState* state);

// Runs the search and fills the request's results. With any allocation failure the request
// gets resultCount 0 and nothing stays allocated.
void Search_Run(SearchState* state, SearchRequest* request);

// For the modes, on the file being read:
// The current file's area code sets join the union.
void Search_AddAreaCodes(SearchState* state);
// Number block or entry block `selected` of the current file, decoded: from the cache
// (pinned) or decoded for this search. Null when memory ran out or the file changed (the
// search then stops). Give each back with Search_ReleaseBlock.
const DecodedNumberBlock* Search_NumberBlock(SearchState* state, const SelectedBlock& selected);
const DecodedEntryBlock* Search_EntryBlock(SearchState* state, const SelectedBlock& selected);
void Search_ReleaseBlock(SearchState* state, const void* block);
// Counts a lookup in the engine cache and passes on what it found.
template <typename T>
const T* Search_Counted(SearchState* state, const T* found) {
  ++state->cacheLookups;
  state->cacheHits += found != nullptr;
  return found;
}
// The selected block of section 6's record k.
SelectedBlock Search_EntryBlockOf(const DictFile* dict, uint32_t k);

#endif  // QOR3_SEARCH_SEARCH_RUN_H
