// The engine cache: what searches learn of the open set's files (each file's parsed tables,
// its decoded number and entry blocks, name indexes, area code unions), kept from Qor_Open to
// Qor_Close under one memory budget and dropped whenever the set's files change.
#ifndef QOR3_ENGINE_ENGINE_CACHE_H
#define QOR3_ENGINE_ENGINE_CACHE_H

#include <cstdint>

// The cache's memory budget (the same on every target): parsed files, blocks and indexes
// together, their bookkeeping included.
constexpr uint64_t kEngineCacheBudget = 64ull << 20;

// Counters of the cache since the process started (they survive Qor_Close and Qor_Open).
struct EngineCacheStats {
  uint64_t lookups;    // files, blocks and indexes asked for
  uint64_t hits;       // of those, found in the cache
  uint64_t evictions;  // items dropped to stay within the budget
  uint64_t clears;     // the whole cache dropped (close, open, a change of the files)
  uint64_t bytes;      // held now
  uint64_t peakBytes;  // most held at once
  uint64_t budget;
};
void EngineCache_Stats(EngineCacheStats* out);

#endif  // QOR3_ENGINE_ENGINE_CACHE_H
