// The engine cache: items, each a header and its payload in one allocation, in one list from
// the most recently added or spared to the oldest. A file item owns its blocks and name
// indexes: they are found through its slots, and they go when it goes.
//
// Finding takes the lock shared, so searches find at once; adding and evicting take it alone.
// A search marks what it finds as used instead of moving it in the list (which would need the
// lock alone); eviction goes from the oldest item on, spares a used one once (clearing the mark
// and moving it to the front) and passes over pinned ones.
#include "engine/engine_cache.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "base/mem.h"
#include "engine/engine_state.h"

namespace {

enum ItemKind : uint8_t { kFileItem, kNumberBlockItem, kEntryBlockItem, kNameIndexItem, kUnionItem };

}  // namespace

struct alignas(8) EngineCacheItem {
  EngineCacheItem* newer;  // the list
  EngineCacheItem* older;
  EngineCacheItem* owner;      // a block's or index's file
  EngineCacheItem* nextIndex;  // the next name index of the same file
  size_t bytes;          // the allocation and the tables it owns (see Charged)
  std::atomic<uint32_t> pins;
  std::atomic<bool> used;  // found since eviction last passed it
  uint32_t slot;  // block number, region code or prefix number
  uint8_t kind;
};

namespace {

using CacheItem = EngineCacheItem;

struct FileNode {
  CachedFile file;  // first: a CachedFile* is the node's address
  CacheItem** numberBlocks;  // numberIndexCount slots
  CacheItem* entryBlocks[kEntryBlockMax];
  CacheItem* indexes;
  // The entry blocks searches missed once in admission period missedPeriod (see
  // EngineCache_AdmitsEntryBlock); searches change them through std::atomic_ref.
  uint64_t missed[kEntryBlockMax / 64];
  uint32_t missedPeriod;
};

struct NumberBlockNode {
  DecodedNumberBlock block;  // its arrays follow
};
struct EntryBlockNode {
  DecodedEntryBlock block;
};
struct NameIndexNode {
  NameIndex index;
};

#if defined(QOR3_FAULT_INJECTION)
// Test builds: whether the cache's next allocation is the one to fail.
bool Refuses(EngineCache* c) { return ++c->allocations == c->failAt; }
#else
constexpr bool Refuses(EngineCache*) { return false; }
#endif

template <typename T>
T* Payload(CacheItem* item) {
  return reinterpret_cast<T*>(item + 1);
}
CacheItem* ItemOf(const void* payload) {
  return reinterpret_cast<CacheItem*>(const_cast<char*>(static_cast<const char*>(payload))) - 1;
}

// A new unlinked, unpinned item with payload bytes after its header; null when out of memory.
CacheItem* NewItem(EngineCache* c, ItemKind kind, size_t payload, uint32_t slot) {
  if (Refuses(c)) return nullptr;
  void* storage = Mem_Alloc(sizeof(CacheItem) + payload);
  if (storage == nullptr) return nullptr;
  auto* item = new (storage) CacheItem();
  item->bytes = sizeof(CacheItem) + payload;
  item->kind = kind;
  item->slot = slot;
  return item;
}

int FileSlot(uint32_t number) {
  if (number < kDictNumberLimit) return static_cast<int>(number);
  return number == kCorrectionDictNumber ? static_cast<int>(kDictNumberLimit) : -1;
}

// Whether an item is what searches find others by: a file's tables, a number block, an area
// code union. Every number search of a prefix passes through its files' tables and number
// blocks, while an entry block serves only the numbers it holds.
bool Finds(const CacheItem* item) {
  return item->kind == kFileItem || item->kind == kNumberBlockItem || item->kind == kUnionItem;
}

void Unlink(EngineCache* c, CacheItem* item) {
  const int list = Finds(item);
  (item->newer ? item->newer->older : c->newest[list]) = item->older;
  (item->older ? item->older->newer : c->oldest[list]) = item->newer;
  item->newer = item->older = nullptr;
}

void LinkNewest(EngineCache* c, CacheItem* item) {
  const int list = Finds(item);
  item->older = c->newest[list];
  item->newer = nullptr;
  (c->newest[list] ? c->newest[list]->newer : c->oldest[list]) = item;
  c->newest[list] = item;
}


// The slot that holds item.
CacheItem** SlotOf(EngineCache* c, CacheItem* item) {
  switch (item->kind) {
    case kFileItem:
      return &c->files[item->slot];
    case kNumberBlockItem:
      return &Payload<FileNode>(item->owner)->numberBlocks[item->slot];
    case kEntryBlockItem:
      return &Payload<FileNode>(item->owner)->entryBlocks[item->slot];
    case kUnionItem:
      return &c->unions[item->slot];
    default: {
      CacheItem** link = &Payload<FileNode>(item->owner)->indexes;
      while (*link != item) link = &(*link)->nextIndex;
      return link;
    }
  }
}

// Takes item out of its slot and the list and frees it; a file takes its blocks and indexes.
void Drop(EngineCache* c, CacheItem* item) {
  if (item->kind == kFileItem) {
    FileNode* node = Payload<FileNode>(item);
    for (uint32_t k = 0; k < node->file.dict.numberIndexCount; ++k) {
      if (node->numberBlocks[k]) Drop(c, node->numberBlocks[k]);
    }
    for (CacheItem* block : node->entryBlocks) {
      if (block) Drop(c, block);
    }
    while (node->indexes) Drop(c, node->indexes);
    if (node->file.stream != nullptr) {
      std::fclose(node->file.stream);
      --c->keptFiles;
    }
    DictFile_Free(&node->file.dict);
    Mem_Free(node->numberBlocks);
  }
  CacheItem** slot = SlotOf(c, item);
  *slot = item->kind == kNameIndexItem ? item->nextIndex : nullptr;
  Unlink(c, item);
  --c->itemCount;
  c->bytes -= item->bytes;
  Mem_Free(item);
}

bool Pinned(const CacheItem* item) { return item->pins.load(std::memory_order_acquire) != 0; }

// Whether nobody holds the item (nor, for a file, any of its blocks and indexes).
bool Evictable(CacheItem* item) {
  if (Pinned(item)) return false;
  if (item->kind != kFileItem) return true;
  const FileNode* node = Payload<FileNode>(item);
  for (uint32_t k = 0; k < node->file.dict.numberIndexCount; ++k) {
    if (node->numberBlocks[k] && Pinned(node->numberBlocks[k])) return false;
  }
  for (CacheItem* block : node->entryBlocks) {
    if (block && Pinned(block)) return false;
  }
  for (CacheItem* index = node->indexes; index; index = index->nextIndex) {
    if (Pinned(index)) return false;
  }
  return true;
}

// One sweep of Shrink over a list: from its oldest item on, each used one spared once.
void ShrinkSweep(EngineCache* c, int list) {
  uint64_t steps = 2 * c->itemCount + 1;
  CacheItem* item = c->oldest[list];
  while (c->bytes > c->budget && item != nullptr && steps-- > 0) {
    CacheItem* newer = item->newer;
    if (!Evictable(item)) {
      item = newer;
    } else if (item->used.exchange(false, std::memory_order_relaxed)) {
      Unlink(c, item);
      LinkNewest(c, item);
      item = newer != nullptr ? newer : c->oldest[list];
    } else {
      // A file dropped with its blocks may take the next item along: start again.
      const bool file = item->kind == kFileItem;
      Drop(c, item);
      ++c->evictions;
      item = file ? c->oldest[list] : newer;
    }
  }
}

// Evicts items nobody holds until the cache is within budget: entry blocks and name indexes
// first, then, when they are not enough, what finds them. A set larger than the budget thus
// keeps what finds a number, and a miss costs one entry block rather than a file's tables and
// number blocks as well. Under the lock alone.
void Shrink(EngineCache* c) {
  ShrinkSweep(c, 0);
  ShrinkSweep(c, 1);
}

// Pins the item (under the lock, shared) and returns its payload; null for none.
void* FindIn(CacheItem* item) {
  if (item == nullptr) return nullptr;
  item->pins.fetch_add(1, std::memory_order_relaxed);
  // Written only when it changes: a line that threads only read stays shared among them.
  if (!item->used.load(std::memory_order_relaxed)) {
    item->used.store(true, std::memory_order_relaxed);
  }
  return item + 1;
}

// What an item's bytes count against the budget: with an allowance for what the allocator
// keeps beside them (headers, and the holes that evicting and adding blocks of many sizes
// leaves), so that the budget bounds the memory the cache makes resident.
size_t Charged(size_t bytes) { return bytes + bytes / 32 + 32; }

// Puts a filled item into the empty *slot (under the lock, alone) and returns its payload
// pinned.
void* Insert(EngineCache* c, CacheItem** slot, CacheItem* item, CacheItem* owner) {
  item->owner = owner;
  item->bytes = Charged(item->bytes);
  item->pins.store(1, std::memory_order_relaxed);
  *slot = item;
  LinkNewest(c, item);
  ++c->itemCount;
  c->bytes += item->bytes;
  if (c->bytes > c->peakBytes) c->peakBytes = c->bytes;
  Shrink(c);
  return item + 1;
}

// Adds item in *slot unless another search filled it meanwhile: the payload kept, pinned.
void* Add(EngineCache* c, CacheItem* item, CacheItem* owner, CacheItem** slot) {
  ReaderAlone guard(&c->lock);
  if (*slot != nullptr) {
    void* existing = FindIn(*slot);
    guard.Unlock();
    Mem_Free(item);
    return existing;
  }
  return Insert(c, slot, item, owner);
}

bool Fits(const EngineCache* c, size_t bytes) { return Charged(bytes) <= c->budget; }

}  // namespace

void EngineCache_Stats(EngineCache* c, EngineCacheStats* out) {
  ReaderShared guard(&c->lock);
  uint64_t lookups = 0, hits = 0;
  for (const EngineCacheCounts& counts : c->counts) {
    lookups += counts.lookups.load(std::memory_order_relaxed);
    hits += counts.hits.load(std::memory_order_relaxed);
  }
  *out = EngineCacheStats{lookups,      hits,      c->evictions, c->clears,
                         c->bytes,     c->peakBytes, c->budget,    c->refusals};
}

void EngineCache_Count(EngineCache* c, uint32_t lookups, uint32_t hits) {
  EngineCacheCounts& counts = c->counts[ReaderLock_ThreadSlot()];
  if (lookups != 0) counts.lookups.fetch_add(lookups, std::memory_order_relaxed);
  if (hits != 0) counts.hits.fetch_add(hits, std::memory_order_relaxed);
}

const CachedFile* EngineCache_FindFile(EngineCache* c, uint32_t number) {
  const int slot = FileSlot(number);
  if (slot < 0 || c->budget == 0) return nullptr;
  ReaderShared guard(&c->lock);
  return static_cast<const CachedFile*>(FindIn(c->files[slot]));
}

const CachedFile* EngineCache_AddFile(EngineCache* c, uint32_t number, FILE* file,
                                     const FileIdentity& identity, bool* kept) {
  *kept = false;
  const int slot = FileSlot(number);
  if (slot < 0 || c->budget == 0 || file == nullptr) return nullptr;
  CacheItem* item = NewItem(c, kFileItem, sizeof(FileNode), static_cast<uint32_t>(slot));
  if (item == nullptr) return nullptr;
  FileNode* node = Payload<FileNode>(item);
  node->numberBlocks = nullptr;
  std::memset(node->entryBlocks, 0, sizeof node->entryBlocks);
  node->indexes = nullptr;
  std::memset(node->missed, 0, sizeof node->missed);
  node->missedPeriod = 0;
  DictFile* dict = &node->file.dict;
  DictFile_Init(dict, file);
  dict->knownSize = static_cast<int64_t>(identity.size);
  node->file.identity = identity;
  node->file.stream = nullptr;
  Dict_ReadAll(dict);
  const bool refused = Refuses(c);  // as when a table could not be allocated
  dict->file = nullptr;
  if (dict->numberIndexCount != 0 && !Refuses(c)) {
    node->numberBlocks =
        static_cast<CacheItem**>(Mem_AllocZeroed(dict->numberIndexCount, sizeof(CacheItem*)));
  }
  const bool sound =
      !refused && !Dict_OutOfMemory(dict) &&
      (dict->numberIndexCount == 0 || node->numberBlocks != nullptr);
  item->bytes += dict->regionTableLength + dict->entryIndexLength +
                 (dict->numberIndex ? sizeof(NumberIndexRecord) * (dict->numberIndexLength / 10 + 1)
                                    : 0) +
                 (dict->entryIndex ? sizeof(EntryIndexRecord) * kEntryBlockMax : 0) +
                 sizeof(CacheItem*) * dict->numberIndexCount;
  if (!sound || !Fits(c, item->bytes)) {
    DictFile_Free(dict);
    Mem_Free(node->numberBlocks);
    Mem_Free(item);
    return nullptr;
  }
  ReaderAlone guard(&c->lock);
  if (c->files[slot] == nullptr) {
    if (c->keptFiles < c->keptFileLimit) {
      node->file.stream = file;
      ++c->keptFiles;
      *kept = true;
    }
    return static_cast<const CachedFile*>(Insert(c, &c->files[slot], item, nullptr));
  }
  // Another search read it meanwhile.
  CacheItem* existing = c->files[slot];
  FindIn(existing);
  guard.Unlock();
  DictFile_Free(dict);
  Mem_Free(node->numberBlocks);
  Mem_Free(item);
  return Payload<CachedFile>(existing);
}

uint32_t EngineCache_KeyAbsent(EngineCache* c, const uint16_t* numbers, uint32_t count,
                               uint32_t key, bool* absent) {
  uint32_t found = 0;
  if (c->budget == 0) {
    std::fill(absent, absent + count, false);
    return 0;
  }
  // Under the lock shared nothing is evicted, so the files are read without pins.
  ReaderShared guard(&c->lock);
  for (uint32_t i = 0; i < count; ++i) {
    const int slot = FileSlot(numbers[i]);
    CacheItem* item = slot >= 0 ? c->files[slot] : nullptr;
    absent[i] = item != nullptr && !Dict_KeyMayOccur(&Payload<CachedFile>(item)->dict, key);
    if (!absent[i]) continue;
    ++found;
    if (!item->used.load(std::memory_order_relaxed)) {
      item->used.store(true, std::memory_order_relaxed);
    }
  }
  return found;
}

const DecodedNumberBlock* EngineCache_FindNumberBlock(EngineCache* c, const CachedFile* file,
                                                      uint32_t k) {
  if (k >= file->dict.numberIndexCount) return nullptr;
  ReaderShared guard(&c->lock);
  const auto* node = reinterpret_cast<const FileNode*>(file);
  return static_cast<const DecodedNumberBlock*>(FindIn(node->numberBlocks[k]));
}

const DecodedNumberBlock* EngineCache_AddNumberBlock(EngineCache* c, const CachedFile* file,
                                                     uint32_t k,
                                                     const DecodedNumberBlock* decoded) {
  if (k >= file->dict.numberIndexCount) return nullptr;
  const size_t data = size_t{decoded->count} * (sizeof(uint32_t) + 1);
  CacheItem* item = NewItem(c, kNumberBlockItem, sizeof(NumberBlockNode) + data, k);
  if (item == nullptr || !Fits(c, item->bytes)) {
    Mem_Free(item);
    return nullptr;
  }
  DecodedNumberBlock* copy = &Payload<NumberBlockNode>(item)->block;
  auto* numbers = reinterpret_cast<uint32_t*>(copy + 1);
  auto* groups = reinterpret_cast<uint8_t*>(numbers + decoded->count);
  if (decoded->count != 0) {
    std::memcpy(numbers, decoded->numbers, decoded->count * sizeof(uint32_t));
    std::memcpy(groups, decoded->groups, decoded->count);
  }
  *copy = *decoded;
  copy->numbers = numbers;
  copy->groups = groups;
  CacheItem* owner = ItemOf(file);
  auto* node = reinterpret_cast<FileNode*>(const_cast<CachedFile*>(file));
  return static_cast<const DecodedNumberBlock*>(
      Add(c, item, owner, &node->numberBlocks[k]));
}

const DecodedEntryBlock* EngineCache_FindEntryBlock(EngineCache* c, const CachedFile* file,
                                                    uint32_t k) {
  if (k >= kEntryBlockMax) return nullptr;
  ReaderShared guard(&c->lock);
  const auto* node = reinterpret_cast<const FileNode*>(file);
  return static_cast<const DecodedEntryBlock*>(FindIn(node->entryBlocks[k]));
}

const DecodedEntryBlock* EngineCache_AddEntryBlock(EngineCache* c, const CachedFile* file,
                                                   uint32_t k,
                                                   const DecodedEntryBlock* decoded) {
  if (k >= kEntryBlockMax) return nullptr;
  CacheItem* item =
      NewItem(c, kEntryBlockItem, sizeof(EntryBlockNode) + DecodedEntryBlock_Bytes(decoded), k);
  if (item == nullptr || !Fits(c, item->bytes)) {
    Mem_Free(item);
    return nullptr;
  }
  DecodedEntryBlock* copy = &Payload<EntryBlockNode>(item)->block;
  DecodedEntryBlock_CopyTo(decoded, copy + 1, copy);
  CacheItem* owner = ItemOf(file);
  auto* node = reinterpret_cast<FileNode*>(const_cast<CachedFile*>(file));
  return static_cast<const DecodedEntryBlock*>(
      Add(c, item, owner, &node->entryBlocks[k]));
}

bool EngineCache_AdmitsEntryBlock(EngineCache* c, const CachedFile* file, uint32_t k,
                                  uint32_t length) {
  if (k >= kEntryBlockMax || c->budget == 0) return false;
  // A decoded block takes about twice its inflated bytes.
  if (c->bytes.load(std::memory_order_relaxed) + Charged(2 * size_t{length}) <= c->budget) {
    return true;
  }
  auto* node = reinterpret_cast<FileNode*>(const_cast<CachedFile*>(file));
  // A period lasts as many refusals as blocks of 32 KiB fit the budget: a block missed again
  // within it is searched more often than the blocks the cache would give up for it.
  const uint64_t window = std::max<uint64_t>(c->budget / 32768, 64);
  const auto period = static_cast<uint32_t>(c->refusals.load(std::memory_order_relaxed) / window);
  std::atomic_ref<uint32_t> stamp(node->missedPeriod);
  if (stamp.load(std::memory_order_relaxed) != period) {
    for (uint64_t& word : node->missed) {
      std::atomic_ref<uint64_t>(word).store(0, std::memory_order_relaxed);
    }
    stamp.store(period, std::memory_order_relaxed);
  }
  const uint64_t bit = uint64_t{1} << (k % 64);
  std::atomic_ref<uint64_t> word(node->missed[k / 64]);
  if ((word.fetch_and(~bit, std::memory_order_relaxed) & bit) != 0) return true;
  word.fetch_or(bit, std::memory_order_relaxed);
  c->refusals.fetch_add(1, std::memory_order_relaxed);
  return false;
}

const NameIndex* EngineCache_FindNameIndex(EngineCache* c, const CachedFile* file,
                                           uint16_t region) {
  ReaderShared guard(&c->lock);
  const auto* node = reinterpret_cast<const FileNode*>(file);
  CacheItem* index = node->indexes;
  while (index != nullptr && index->slot != region) index = index->nextIndex;
  return static_cast<const NameIndex*>(FindIn(index));
}

const NameIndex* EngineCache_AddNameIndex(EngineCache* c, const CachedFile* file,
                                          uint16_t region,
                                          const NameIndex* index) {
  const size_t data = size_t{index->count} * sizeof(NameIndexRecord);
  CacheItem* item = NewItem(c, kNameIndexItem, sizeof(NameIndexNode) + data, region);
  if (item == nullptr || !Fits(c, item->bytes)) {
    Mem_Free(item);
    return nullptr;
  }
  NameIndex* copy = &Payload<NameIndexNode>(item)->index;
  auto* records = reinterpret_cast<NameIndexRecord*>(copy + 1);
  if (data != 0) std::memcpy(records, index->records, data);
  *copy = NameIndex{records, index->count};
  CacheItem* owner = ItemOf(file);
  auto* node = reinterpret_cast<FileNode*>(const_cast<CachedFile*>(file));
  ReaderAlone guard(&c->lock);
  for (CacheItem* existing = node->indexes; existing; existing = existing->nextIndex) {
    if (existing->slot == region) {
      FindIn(existing);
      guard.Unlock();
      Mem_Free(item);
      return Payload<NameIndex>(existing);
    }
  }
  // New indexes go first in the file's list; Insert fills the head slot.
  item->nextIndex = node->indexes;
  node->indexes = nullptr;
  return static_cast<const NameIndex*>(Insert(c, &node->indexes, item, owner));
}

const AreaCodeSets* EngineCache_FindAreaUnion(EngineCache* c, uint32_t prefix) {
  if (prefix >= kPrefixNumberLimit || c->budget == 0) return nullptr;
  ReaderShared guard(&c->lock);
  return static_cast<const AreaCodeSets*>(FindIn(c->unions[prefix]));
}

const AreaCodeSets* EngineCache_AddAreaUnion(EngineCache* c, uint32_t prefix,
                                            const AreaCodeSets* sets) {
  if (prefix >= kPrefixNumberLimit || c->budget == 0) return nullptr;
  CacheItem* item = NewItem(c, kUnionItem, sizeof(AreaCodeSets), prefix);
  if (item == nullptr || !Fits(c, item->bytes)) {
    Mem_Free(item);
    return nullptr;
  }
  std::memcpy(Payload<AreaCodeSets>(item), sets, sizeof(AreaCodeSets));
  return static_cast<const AreaCodeSets*>(Add(c, item, nullptr, &c->unions[prefix]));
}

void EngineCache_Release(EngineCache* c, const void* pinned) {
  if (pinned == nullptr) return;
  // What a search held past the budget goes once nobody holds it.
  if (ItemOf(pinned)->pins.fetch_sub(1, std::memory_order_release) == 1 && c->bytes > c->budget) {
    ReaderAlone guard(&c->lock);
    Shrink(c);
  }
}

void EngineCache_Retain(const void* pinned) {
  ItemOf(pinned)->pins.fetch_add(1, std::memory_order_relaxed);
}

void EngineCache_Clear(EngineCache* c) {
  ReaderAlone guard(&c->lock);
  for (CacheItem*& file : c->files) {
    if (file) Drop(c, file);
  }
  for (CacheItem*& sets : c->unions) {
    if (sets) Drop(c, sets);
  }
  ++c->clears;
  c->stale = false;
}

void EngineCache_MarkStale(EngineCache* c) { c->stale = true; }

bool EngineCache_TakeStale(EngineCache* c) {
  return c->stale.load() && c->stale.exchange(false);
}

bool EngineCache_Stale(const EngineCache* c) { return c->stale.load(); }

void EngineCache_SetBudget(EngineCache* c, uint64_t bytes) {
  EngineCache_Clear(c);
  ReaderAlone guard(&c->lock);
  c->budget = bytes;
}

#if defined(QOR3_FAULT_INJECTION)
void EngineCache_FailAllocation(EngineCache* c, unsigned long k) {
  c->allocations = 0;
  c->failAt = k;
}

unsigned long EngineCache_AllocationCount(EngineCache* c) { return c->allocations; }

long EngineCache_LiveBlocks(EngineCache* c) {
  ReaderShared guard(&c->lock);
  long blocks = 0;
  for (CacheItem* newest : c->newest) {
    for (CacheItem* item = newest; item != nullptr; item = item->older) {
      ++blocks;
      if (item->kind != kFileItem) continue;
      const FileNode* node = Payload<FileNode>(item);
      const DictFile& dict = node->file.dict;
      for (const void* table : {static_cast<const void*>(dict.regionTable),
                                static_cast<const void*>(dict.numberIndex),
                                static_cast<const void*>(dict.entryIndexBytes),
                                static_cast<const void*>(dict.entryIndex),
                                static_cast<const void*>(node->numberBlocks)}) {
        blocks += table != nullptr;
      }
    }
  }
  return blocks;
}
#endif
