// Number search (mode 2): every listing that carries a number, across all dictionaries of
// the number's prefix, with the correction file's additions and removals applied.
#ifndef QOR3_SEARCH_NUMBER_SEARCH_H
#define QOR3_SEARCH_NUMBER_SEARCH_H

#include "qor3.h"
#include "api/engine_state.h"
#include "search/dict_reader.h"

// Always returns 0; the outcome is the request's resultCount.
int NumberSearch_Run(EngineState* engine, SearchRequest* request);
// Copies text to digits (capacity bytes) without its "-" separators. -1 on any other
// character than digits and "-", or when the digits do not fit.
int NumberSearch_NormalizeKey(const char* text, char* digits, size_t capacity);
// Fills the dictionary number list with the dictionaries listed for the key's prefix, from
// position first of that listing on, as many as the list holds; returns how many the
// listing has in all.
uint32_t NumberSearch_ListDictionaries(SearchContext* main, EngineState* engine, uint32_t first);
int NumberSearch_CollectCorrections(SearchContext* correction, EngineState* engine);
int NumberSearch_CollectMatches(SearchContext* main, SearchContext* correction);

#endif  // QOR3_SEARCH_NUMBER_SEARCH_H
