// The engine cache.
#include "engine/engine_cache.h"

void EngineCache_Stats(EngineCacheStats* out) {
  *out = EngineCacheStats{};
  out->budget = kEngineCacheBudget;
}
