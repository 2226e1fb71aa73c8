// The skeleton both searches share: collect the correction file's entries that apply, walk
// the dictionaries the mode lists reading the blocks it selects, merge the corrections into
// the entries it wants, and build the results. A mode differs only in how it lists
// dictionaries, selects blocks and filters entries.
#ifndef QOR3_SEARCH_SEARCH_RUN_H
#define QOR3_SEARCH_SEARCH_RUN_H

#include <cstdint>

#include "base/row_list.h"
#include "dict/dict_entry.h"
#include "dict/dict_file.h"
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

// Everything one search works with (about 420 KiB: on the heap, one per call, so searches
// share nothing but the engine).
struct SearchState {
  const EngineState* engine;
  const SearchMode* mode;
  SearchCriteria criteria;
  PatternMatcher matcher;  // name search: the widened pattern
  DictFile dict;           // the file being read
  BlockSelection selection;
  DictBlockBuffer buffer;
  DictDecoder decoder;
  CorrectionMerge merge;
  RowList results;
  // Additions emitted so far, in a search across several dictionaries (see Search_Run).
  RowList emitted;
  // The union of the area code sets of the dictionaries read: the results' hyphenation.
  AreaCodeSets areaCodes;
  bool outOfMemory;
};

struct SearchMode {
  // Reads what the mode needs of state->dict and selects its blocks: true when there are
  // blocks to read. correctionFile: the file is the correction file.
  bool (*selectBlocks)(SearchState* state, bool correctionFile);
  // Whether the request wants a decoded entry (before correction rules and merge).
  bool (*wants)(SearchState* state, const DictEntry* entry, bool correctionFile);
  // Lists the dictionaries to visit from position first on into numbers (at most capacity)
  // and *count; returns how many the listing holds in all.
  uint32_t (*listDictionaries)(const SearchState* state, uint32_t first, uint16_t* numbers,
                               uint16_t capacity, uint16_t* count);
  // A search across several dictionaries (the number search): each dictionary's hits are one
  // ascending run, so the deletions restart for each, an addition already emitted drops a
  // later dictionary's equal entry, and the additions are finished even when no dictionary
  // was read. Otherwise the additions are merged only into a dictionary that was read.
  bool acrossDictionaries;
};

// A zeroed state with its lists empty; null when out of memory.
SearchState* SearchState_New(const EngineState* engine, const SearchMode* mode);
void SearchState_Free(SearchState* state);

// Runs the search and fills the request's results. With any allocation failure the request
// gets resultCount 0 and nothing stays allocated.
void Search_Run(SearchState* state, SearchRequest* request);

#endif  // QOR3_SEARCH_SEARCH_RUN_H
