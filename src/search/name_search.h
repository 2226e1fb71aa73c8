// Name search (mode 1): the listings of one region whose name matches a wildcard pattern,
// narrowed by leading address texts and entry kind, with corrections applied, in entry order.
#ifndef QOR3_SEARCH_NAME_SEARCH_H
#define QOR3_SEARCH_NAME_SEARCH_H

#include "engine/engine_cache.h"
#include "engine/engine_state.h"
#include "qor3.h"
#include "search/search_run.h"

// The outcome is the request's resultCount.
void NameSearch_Run(const EngineState* engine, EngineCache* cache, SearchRequest* request);

// The group lists of the two selection rules, from the entry index the file has read:
// a region's dictionary: the blocks of the region whose address-1 range holds the key;
// the correction file: the blocks whose first entry starts with the key, and the block before
// the first of them (it may hold entries with the key too); with none, the block before
// where the key would stand.
void NameSearch_SelectBlocks(const DictFile* dict, const SearchCriteria* criteria,
                             BlockSelection* selection);
void NameSearch_SelectCorrectionBlocks(const DictFile* dict, const SearchCriteria* criteria,
                                       BlockSelection* selection);

// The name index's key of a text: its first eight bytes (up to its NUL, or length bytes),
// zero-padded, as a number, so that keys are in the order of the texts' bytes.
uint64_t NameSearch_IndexKey(const char* text, uint32_t length);
// Sorts index records by key, those of equal keys keeping their order. False when out of
// memory.
bool NameSearch_SortIndex(NameIndexRecord* records, uint32_t count);

#endif  // QOR3_SEARCH_NAME_SEARCH_H
