// Number search (mode 2): every listing that carries a number, across all dictionaries of
// the number's prefix, with the correction file's additions and removals applied.
#ifndef QOR3_SEARCH_NUMBER_SEARCH_H
#define QOR3_SEARCH_NUMBER_SEARCH_H

#include <cstddef>

#include "engine/engine_cache.h"
#include "engine/engine_state.h"
#include "qor3.h"

// The outcome is the request's resultCount.
void NumberSearch_Run(const EngineState* engine, EngineCache* cache, SearchRequest* request);
// Copies text to digits (capacity bytes) without its "-" separators. -1 on any other
// character than digits and "-", or when the digits do not fit.
int NumberSearch_NormalizeKey(const char* text, char* digits, size_t capacity);

#endif  // QOR3_SEARCH_NUMBER_SEARCH_H
