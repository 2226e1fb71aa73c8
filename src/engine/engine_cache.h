// The engine cache: what searches learn of an engine's files (each file's parsed tables, its
// decoded number and entry blocks, name indexes, area code unions), kept from the engine's
// open to its close under the engine's memory budget and dropped whenever its files change.
//
// Everything handed out is pinned: it stays valid and unchanged until released, and eviction
// passes it by. Items are never changed once added, so searches read them without a lock; the
// cache's lists and slots are guarded by one lock (a ReaderLock: finders write only their own
// thread's slot), taken shared to find and alone to add or evict.
// EngineCache_Clear must only run when no search holds anything (with the engine held alone).
#ifndef QOR3_ENGINE_ENGINE_CACHE_H
#define QOR3_ENGINE_ENGINE_CACHE_H

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "base/reader_lock.h"
#include "dict/decoded_block.h"
#include "dict/dict_file.h"
#include "engine/engine_state.h"
#include "platform/platform.h"

// The default memory budget (the same on every target): parsed files, blocks and indexes
// together, their bookkeeping included.
constexpr uint64_t kEngineCacheBudget = 64ull << 20;

struct EngineCacheItem;
constexpr uint32_t kEngineCacheFileSlots = kDictNumberLimit + 1;  // the last: correction file

// Lookups and hits, counted apart by each thread's reader slot.
struct alignas(kCacheLine) EngineCacheCounts {
  std::atomic<uint64_t> lookups{0};
  std::atomic<uint64_t> hits{0};
};

// One engine's cache. Its counters run from EngineCache_Init on (a clear keeps them).
struct EngineCache {
  // Shared: finding (and reading slots); alone: anything that changes the lists or slots.
  ReaderLock lock;
  // Two lists, each from the most recently added or spared item to the oldest: [0] entry
  // blocks and name indexes, [1] what finds them (files, number blocks, area code unions).
  EngineCacheItem* newest[2] = {};
  EngineCacheItem* oldest[2] = {};
  uint64_t itemCount = 0;
  EngineCacheItem* files[kEngineCacheFileSlots] = {};
  EngineCacheItem* unions[kPrefixNumberLimit] = {};
  std::atomic<uint64_t> budget{kEngineCacheBudget};  // 0: the cache is off
  std::atomic<uint64_t> bytes{0};
  EngineCacheCounts counts[kReaderSlots];
  uint64_t peakBytes = 0;
  uint64_t evictions = 0;
  uint64_t clears = 0;
  std::atomic<uint64_t> refusals{0};  // entry blocks not admitted (EngineCache_AdmitsEntryBlock)
  uint32_t keptFiles = 0;      // files of cached items kept open
  uint32_t keptFileLimit = 0;  // set by the engine at an open (with it alone)
  std::atomic<bool> stale{false};
  std::atomic<unsigned long> allocations{0};  // test builds: EngineCache_FailAllocation
  std::atomic<unsigned long> failAt{0};
};

// Empties the cache and sets its budget in bytes (0 turns it off).
void EngineCache_SetBudget(EngineCache* cache, uint64_t bytes);

// The cache's counters.
struct EngineCacheStats {
  uint64_t lookups;    // files, blocks, indexes and unions asked for
  uint64_t hits;       // of those, found in the cache
  uint64_t evictions;  // items dropped to stay within the budget
  uint64_t clears;     // the whole cache dropped (close, open, a change of the files)
  uint64_t bytes;      // held now
  uint64_t peakBytes;  // most held at once
  uint64_t budget;
  uint64_t refusals;   // entry blocks a number search decoded without adding them
};
void EngineCache_Stats(EngineCache* cache, EngineCacheStats* out);
// Adds a search's lookups and hits to the counters (searches count their own, so that finding
// writes nothing that all of them share).
void EngineCache_Count(EngineCache* cache, uint32_t lookups, uint32_t hits);

// A dictionary or correction file as read once: its tables (Dict_ReadAll) and the identity of
// the file they were read from; and, while the system lets the cache keep files open
// (Platform_KeptFileLimit), that file itself, which searches read blocks from (at an offset:
// threads share it) instead of opening it again.
struct CachedFile {
  DictFile dict;
  FileIdentity identity;
  FILE* stream;  // null: opened by path for each search that reads blocks
};

// The file of dictionary number (0..4999, or the correction file's number), pinned; null
// when it is not cached.
const CachedFile* EngineCache_FindFile(EngineCache* cache, uint32_t number);
// Reads the open file (of that identity) whole into the cache and returns it pinned. Null
// when the cache is off, out of memory or over its budget with everything pinned; the caller
// then reads the file itself. *kept tells whether the cache took the file to keep open (as
// CachedFile::stream, closed when the item goes); otherwise the caller still closes it.
const CachedFile* EngineCache_AddFile(EngineCache* cache, uint32_t number, FILE* file,
                                     const FileIdentity& identity, bool* kept);

// Sets absent[i] for each of the count dictionaries numbers[i] whose file is cached and whose
// filters tell that key occurs in it nowhere (Dict_KeyMayOccur); clears it for the others.
// Returns how many it set. Nothing is pinned: a number search passes such files over without
// finding each of them.
uint32_t EngineCache_KeyAbsent(EngineCache* cache, const uint16_t* numbers, uint32_t count,
                               uint32_t key, bool* absent);

// Number block k (of section 5's index) of a pinned file, pinned; null when not cached.
const DecodedNumberBlock* EngineCache_FindNumberBlock(EngineCache* cache, const CachedFile* file,
                                                      uint32_t k);
// Adds a copy of decoded as number block k and returns the copy pinned (or the block another
// search added meanwhile); null when it cannot be kept.
const DecodedNumberBlock* EngineCache_AddNumberBlock(EngineCache* cache, const CachedFile* file,
                                                     uint32_t k,
                                                     const DecodedNumberBlock* decoded);
// The same for entry block k (of section 6's index, below kEntryBlockMax).
const DecodedEntryBlock* EngineCache_FindEntryBlock(EngineCache* cache, const CachedFile* file,
                                                    uint32_t k);
const DecodedEntryBlock* EngineCache_AddEntryBlock(EngineCache* cache, const CachedFile* file,
                                                   uint32_t k,
                                                   const DecodedEntryBlock* decoded);

// Whether a search that missed entry block k (length bytes inflated) of a pinned file should
// add it: yes while it fits without evicting anything; otherwise only when the block was
// missed before, not long ago. A set far larger than the budget then keeps the blocks searched
// again instead of churning through the budget (and searches on other threads do not wait on
// the cache lock for blocks nobody reads twice); a block it does not keep costs a number
// search only the entries it wants.
bool EngineCache_AdmitsEntryBlock(EngineCache* cache, const CachedFile* file, uint32_t k,
                                  uint32_t length);

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
const NameIndex* EngineCache_FindNameIndex(EngineCache* cache, const CachedFile* file,
                                           uint16_t region);
// Adds a copy of index (its records) for region, pinned; null when it cannot be kept.
const NameIndex* EngineCache_AddNameIndex(EngineCache* cache, const CachedFile* file,
                                          uint16_t region,
                                          const NameIndex* index);

// The union of the area code sets of prefix number's dictionaries (a number search's
// hyphenation), pinned; null when not cached.
const AreaCodeSets* EngineCache_FindAreaUnion(EngineCache* cache, uint32_t prefix);
const AreaCodeSets* EngineCache_AddAreaUnion(EngineCache* cache, uint32_t prefix,
                                            const AreaCodeSets* sets);

// Releases anything the functions above handed out (null is ignored).
void EngineCache_Release(EngineCache* cache, const void* pinned);
// Pins again what the functions above handed out: one more release is then due.
void EngineCache_Retain(const void* pinned);

// Drops everything: the set was opened, closed or changed.
void EngineCache_Clear(EngineCache* cache);
// A search found a file other than the one cached under its name: the cache is to be dropped
// before the next search (EngineCache_TakeStale tells, once).
void EngineCache_MarkStale(EngineCache* cache);
bool EngineCache_TakeStale(EngineCache* cache);
// Whether it is so marked, without taking the mark.
bool EngineCache_Stale(const EngineCache* cache);

#if defined(QOR3_FAULT_INJECTION)
// Test builds: the heap blocks (Mem_Alloc) the cache holds now.
long EngineCache_LiveBlocks(EngineCache* cache);
// Test builds: the cache's k-th allocation from now on fails (0: none), as when the heap is
// exhausted; and how many it made (or reading a file whole, as one) since.
void EngineCache_FailAllocation(EngineCache* cache, unsigned long k);
unsigned long EngineCache_AllocationCount(EngineCache* cache);
#endif

#endif  // QOR3_ENGINE_ENGINE_CACHE_H
