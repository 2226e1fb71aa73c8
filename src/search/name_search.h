// Name search (mode 1): the listings of one region whose name matches a wildcard pattern,
// narrowed by leading address texts and entry kind, with corrections applied, in entry order.
#ifndef QOR3_SEARCH_NAME_SEARCH_H
#define QOR3_SEARCH_NAME_SEARCH_H

#include "qor3.h"
#include "api/engine_state.h"
#include "search/dict_reader.h"

// Always returns 0; the outcome is the request's resultCount.
int NameSearch_Run(EngineState* engine, SearchRequest* request);
void NameSearch_FindDictionary(SearchContext* main, EngineState* engine);
// Fill the group list from the entry index of a region dictionary / of the correction file.
int NameSearch_SelectBlocks(SearchContext* context);
int NameSearch_SelectCorrectionBlocks(SearchContext* context);
int NameSearch_CollectCorrections(SearchContext* correction, EngineState* engine);
int NameSearch_CollectMatches(SearchContext* main, SearchContext* correction);

#endif  // QOR3_SEARCH_NAME_SEARCH_H
