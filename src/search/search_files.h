// Helpers the two searches share: opening dictionary files of the engine's directories and
// collecting correction entries that apply to the installed data.
#ifndef QOR3_SEARCH_SEARCH_FILES_H
#define QOR3_SEARCH_SEARCH_FILES_H

#include <cstdio>

#include "api/engine_state.h"
#include "search/dict_reader.h"

// Opens directory + "qor" + 4 digits + ".dct" for reading; null when it does not open.
FILE* SearchFiles_OpenDictionary(const char* directory, uint32_t number);
// Opens dictionary n from the directory the engine chose for it; null when it has none.
FILE* SearchFiles_OpenEngineDictionary(const EngineState* engine, uint32_t number);
// Whether a correction entry applies: its region is installed and the region's edition
// stamp is not above the correction version.
bool SearchFiles_CorrectionApplies(const EngineState* engine, const DictEntry* entry);
// Appends the current correction entry to the additions (kind 1) or deletions list.
int SearchFiles_KeepCorrection(SearchContext* correction);

#endif  // QOR3_SEARCH_SEARCH_FILES_H
