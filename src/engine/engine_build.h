// Engine index build: the engine's region list, prefix list and lookup tables from the two
// refreshed catalog images, the newer copy of every dictionary winning.
#ifndef QOR3_ENGINE_ENGINE_BUILD_H
#define QOR3_ENGINE_ENGINE_BUILD_H

#include "engine/engine_state.h"
#include "catalog/catalog_refresh.h"

// A prefixList row holds its prefix number and at most this many dictionary numbers (the row
// list's field limit); a prefix number of more dictionaries goes on in further rows.
constexpr uint32_t kEnginePrefixRowDictMax = kRowMaxFields - 1;

// Fills every field of engine (whose lists hold nothing) from the set. Returns 0 when built;
// -1 when neither image is loaded and no correction file was found (only the paths and flags
// are written) or when an allocation failed (the engine's lists are then empty). Catalog
// entries outside the engine's limits (dictionary numbers of 5000 and more, region codes of
// 50000 and more, prefix numbers of 1024 and more) are ignored.
int Engine_Build(const DirSet* set, EngineState* engine);

#endif  // QOR3_ENGINE_ENGINE_BUILD_H
