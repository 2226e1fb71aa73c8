// The engine cache: what searches learn of the open set's files (each file's parsed tables,
// its decoded number and entry blocks, name indexes, area code unions), kept from Qor_Open to
// Qor_Close under one memory budget and dropped whenever the set's files change.
//
// Everything handed out is pinned: it stays valid and unchanged until released, and eviction
// passes it by. Items are never changed once added, so searches read them without a lock; the
// cache's lists and slots are guarded by one lock, taken shared to find and alone to add or
// evict.
// EngineCache_Clear must only run when no search holds anything (under the engine's exclusive
// lock).
#ifndef QOR3_ENGINE_ENGINE_CACHE_H
#define QOR3_ENGINE_ENGINE_CACHE_H

#include <cstdint>
#include <cstdio>

#include "dict/decoded_block.h"
#include "dict/dict_file.h"
#include "platform/platform.h"

// The cache's memory budget (the same on every target): parsed files, blocks and indexes
// together, their bookkeeping included.
constexpr uint64_t kEngineCacheBudget = 64ull << 20;

// Counters of the cache since the process started (they survive Qor_Close and Qor_Open).
struct EngineCacheStats {
  uint64_t lookups;    // files, blocks, indexes and unions asked for
  uint64_t hits;       // of those, found in the cache
  uint64_t evictions;  // items dropped to stay within the budget
  uint64_t clears;     // the whole cache dropped (close, open, a change of the files)
  uint64_t bytes;      // held now
  uint64_t peakBytes;  // most held at once
  uint64_t budget;
};
void EngineCache_Stats(EngineCacheStats* out);
// Adds a search's lookups and hits to the counters (searches count their own, so that finding
// writes nothing that all of them share).
void EngineCache_Count(uint32_t lookups, uint32_t hits);

// A dictionary or correction file as read once: its tables (Dict_ReadAll; the file is not
// kept open) and the identity of the file they were read from.
struct CachedFile {
  DictFile dict;
  FileIdentity identity;
};

// The file of dictionary number (0..4999, or the correction file's number), pinned; null
// when it is not cached.
const CachedFile* EngineCache_FindFile(uint32_t number);
// Reads the open file (of that identity) whole into the cache and returns it pinned. Null
// when the cache is off, out of memory or over its budget with everything pinned; the caller
// then reads the file itself.
const CachedFile* EngineCache_AddFile(uint32_t number, FILE* file, const FileIdentity& identity);

// Number block k (of section 5's index) of a pinned file, pinned; null when not cached.
const DecodedNumberBlock* EngineCache_FindNumberBlock(const CachedFile* file, uint32_t k);
// Adds a copy of decoded as number block k and returns the copy pinned (or the block another
// search added meanwhile); null when it cannot be kept.
const DecodedNumberBlock* EngineCache_AddNumberBlock(const CachedFile* file, uint32_t k,
                                                     const DecodedNumberBlock* decoded);
// The same for entry block k (of section 6's index, below kEntryBlockMax).
const DecodedEntryBlock* EngineCache_FindEntryBlock(const CachedFile* file, uint32_t k);
const DecodedEntryBlock* EngineCache_AddEntryBlock(const CachedFile* file, uint32_t k,
                                                   const DecodedEntryBlock* decoded);

// A region's name index: every entry of the file's entry blocks indexed under the region
// code, by the first eight bytes of its name (big-endian, zero-padded: the order of the name
// bytes), then block and position.
struct NameIndexRecord {
  uint32_t keyHigh;
  uint32_t keyLow;
  uint16_t block;
  uint16_t ordinal;
};
inline uint64_t NameIndexRecord_Key(const NameIndexRecord& r) {
  return (uint64_t{r.keyHigh} << 32) | r.keyLow;
}
struct NameIndex {
  const NameIndexRecord* records;
  uint32_t count;
};
const NameIndex* EngineCache_FindNameIndex(const CachedFile* file, uint16_t region);
// Adds a copy of index (its records) for region, pinned; null when it cannot be kept.
const NameIndex* EngineCache_AddNameIndex(const CachedFile* file, uint16_t region,
                                          const NameIndex* index);

// The union of the area code sets of prefix number's dictionaries (a number search's
// hyphenation), pinned; null when not cached.
const AreaCodeSets* EngineCache_FindAreaUnion(uint32_t prefix);
const AreaCodeSets* EngineCache_AddAreaUnion(uint32_t prefix, const AreaCodeSets* sets);

// Releases anything the functions above handed out (null is ignored).
void EngineCache_Release(const void* pinned);
// Pins again what the functions above handed out: one more release is then due.
void EngineCache_Retain(const void* pinned);

// Drops everything: the set was opened, closed or changed.
void EngineCache_Clear();
// A search found a file other than the one cached under its name: the cache is to be dropped
// before the next search (EngineCache_TakeStale tells, once).
void EngineCache_MarkStale();
bool EngineCache_TakeStale();

#if defined(QOR3_FAULT_INJECTION)
// Test builds: the budget in bytes (0 turns the cache off); clears the cache.
void EngineCache_SetBudget(uint64_t bytes);
// Test builds: the heap blocks (Mem_Alloc) the cache holds now.
long EngineCache_LiveBlocks();
// Test builds: the cache's k-th allocation from now on fails (0: none), as when the heap is
// exhausted; and how many it made (or reading a file whole, as one) since.
void EngineCache_FailAllocation(unsigned long k);
unsigned long EngineCache_AllocationCount();
#endif

#endif  // QOR3_ENGINE_ENGINE_CACHE_H
