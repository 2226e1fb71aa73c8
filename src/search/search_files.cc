// Helpers the two searches share: opening dictionary files of the engine's directories and
// collecting correction entries that apply to the installed data.
#include "search/search_files.h"

#include "base/num_text.h"
#include "platform/platform.h"
#include "search/result_builder.h"

FILE* SearchFiles_OpenDictionary(const char* directory, uint32_t number) {
  char path[300];
  int n = std::snprintf(path, sizeof path, "%sqor%s.dct", directory, NumText(number, 4));
  if (n < 0 || static_cast<size_t>(n) >= sizeof path) return nullptr;
  return Platform_OpenRegularFile(path);
}

FILE* SearchFiles_OpenEngineDictionary(const EngineState* engine, uint32_t number) {
  if (number >= kDictNumberLimit) return nullptr;
  switch (engine->dictDirectory[number]) {
    case 1:
      return SearchFiles_OpenDictionary(engine->directory1, number);
    case 2:
      return SearchFiles_OpenDictionary(engine->directory2, number);
    default:
      return nullptr;
  }
}

bool SearchFiles_CorrectionApplies(const EngineState* engine, const DictEntry* entry) {
  const uint32_t code = DecimalValue(entry->regionCodeText);
  if (code >= kRegionCodeLimit || !engine->regionCovered[code]) return false;
  return engine->regionEdition[code] <= DecimalValue(entry->correctionVersionText);
}

int SearchFiles_KeepCorrection(SearchContext* correction) {
  RowList* list = correction->current.correctionKind == 1 ? &correction->resultRows
                                                          : &correction->secondRows;
  return ResultRow_Append(list, &correction->current);
}
