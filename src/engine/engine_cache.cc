// The engine cache: items, each a header and its payload in one allocation, in one list from
// the most recently added or spared to the oldest. A file item owns its blocks and name
// indexes: they are found through its slots, and they go when it goes.
//
// Finding takes the lock shared, so searches find at once; adding and evicting take it alone.
// A search marks what it finds as used instead of moving it in the list (which would need the
// lock alone); eviction goes from the oldest item on, spares a used one once (clearing the mark
// and moving it to the front) and passes over pinned ones.
#include "engine/engine_cache.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <shared_mutex>

#include "base/mem.h"
#include "engine/engine_state.h"

namespace {

enum ItemKind : uint8_t { kFileItem, kNumberBlockItem, kEntryBlockItem, kNameIndexItem, kUnionItem };

struct alignas(8) CacheItem {
  CacheItem* newer;  // the list
  CacheItem* older;
  CacheItem* owner;      // a block's or index's file
  CacheItem* nextIndex;  // the next name index of the same file
  size_t bytes;          // the allocation and the tables it owns (see Charged)
  std::atomic<uint32_t> pins;
  std::atomic<bool> used;  // found since eviction last passed it
  uint32_t slot;  // block number, region code or prefix number
  uint8_t kind;
};

struct FileNode {
  CachedFile file;  // first: a CachedFile* is the node's address
  CacheItem** numberBlocks;  // numberIndexCount slots
  CacheItem* entryBlocks[kEntryBlockMax];
  CacheItem* indexes;
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

constexpr uint32_t kFileSlots = kDictNumberLimit + 1;  // the last: the correction file

// Shared: finding (and reading slots); alone: anything that changes the lists or slots.
std::shared_mutex g_lock;
CacheItem* g_newest = nullptr;
CacheItem* g_oldest = nullptr;
uint64_t g_itemCount = 0;
CacheItem* g_files[kFileSlots];
CacheItem* g_unions[kPrefixNumberLimit];
std::atomic<uint64_t> g_budget{kEngineCacheBudget};
std::atomic<uint64_t> g_bytes{0};
std::atomic<uint64_t> g_lookups{0};
std::atomic<uint64_t> g_hits{0};
uint64_t g_peakBytes = 0;
uint64_t g_evictions = 0;
uint64_t g_clears = 0;
std::atomic<bool> g_stale{false};

#if defined(QOR3_FAULT_INJECTION)
std::atomic<unsigned long> g_allocations{0};
std::atomic<unsigned long> g_failAt{0};
// Test builds: whether the cache's next allocation is the one to fail.
bool Refuses() { return ++g_allocations == g_failAt; }
#else
constexpr bool Refuses() { return false; }
#endif

template <typename T>
T* Payload(CacheItem* item) {
  return reinterpret_cast<T*>(item + 1);
}
CacheItem* ItemOf(const void* payload) {
  return reinterpret_cast<CacheItem*>(const_cast<char*>(static_cast<const char*>(payload))) - 1;
}

// A new unlinked, unpinned item with payload bytes after its header; null when out of memory.
CacheItem* NewItem(ItemKind kind, size_t payload, uint32_t slot) {
  if (Refuses()) return nullptr;
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

void Unlink(CacheItem* item) {
  (item->newer ? item->newer->older : g_newest) = item->older;
  (item->older ? item->older->newer : g_oldest) = item->newer;
  item->newer = item->older = nullptr;
}

void LinkNewest(CacheItem* item) {
  item->older = g_newest;
  item->newer = nullptr;
  (g_newest ? g_newest->newer : g_oldest) = item;
  g_newest = item;
}


// The slot that holds item.
CacheItem** SlotOf(CacheItem* item) {
  switch (item->kind) {
    case kFileItem:
      return &g_files[item->slot];
    case kNumberBlockItem:
      return &Payload<FileNode>(item->owner)->numberBlocks[item->slot];
    case kEntryBlockItem:
      return &Payload<FileNode>(item->owner)->entryBlocks[item->slot];
    case kUnionItem:
      return &g_unions[item->slot];
    default: {
      CacheItem** link = &Payload<FileNode>(item->owner)->indexes;
      while (*link != item) link = &(*link)->nextIndex;
      return link;
    }
  }
}

// Takes item out of its slot and the list and frees it; a file takes its blocks and indexes.
void Drop(CacheItem* item) {
  if (item->kind == kFileItem) {
    FileNode* node = Payload<FileNode>(item);
    for (uint32_t k = 0; k < node->file.dict.numberIndexCount; ++k) {
      if (node->numberBlocks[k]) Drop(node->numberBlocks[k]);
    }
    for (CacheItem* block : node->entryBlocks) {
      if (block) Drop(block);
    }
    while (node->indexes) Drop(node->indexes);
    DictFile_Free(&node->file.dict);
    Mem_Free(node->numberBlocks);
  }
  CacheItem** slot = SlotOf(item);
  *slot = item->kind == kNameIndexItem ? item->nextIndex : nullptr;
  Unlink(item);
  --g_itemCount;
  g_bytes -= item->bytes;
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

// Evicts items nobody holds, oldest first and each used one spared once, until the cache is
// within budget (or every item was looked at twice). Under the lock alone.
void Shrink() {
  uint64_t steps = 2 * g_itemCount + 1;
  CacheItem* item = g_oldest;
  while (g_bytes > g_budget && item != nullptr && steps-- > 0) {
    CacheItem* newer = item->newer;
    if (!Evictable(item)) {
      item = newer;
    } else if (item->used.exchange(false, std::memory_order_relaxed)) {
      Unlink(item);
      LinkNewest(item);
      item = newer != nullptr ? newer : g_oldest;
    } else {
      // A file dropped with its blocks may take the next item along: start again.
      const bool file = item->kind == kFileItem;
      Drop(item);
      ++g_evictions;
      item = file ? g_oldest : newer;
    }
  }
}

// Pins the item (under the lock, shared) and returns its payload; null for none.
void* FindIn(CacheItem* item) {
  if (item == nullptr) return nullptr;
  item->pins.fetch_add(1, std::memory_order_relaxed);
  item->used.store(true, std::memory_order_relaxed);
  return item + 1;
}

// What an item's bytes count against the budget: with an allowance for what the allocator
// keeps beside them (headers, and the holes that evicting and adding blocks of many sizes
// leaves), so that the budget bounds the memory the cache makes resident.
size_t Charged(size_t bytes) { return bytes + bytes / 32 + 32; }

// Puts a filled item into the empty *slot (under the lock, alone) and returns its payload
// pinned.
void* Insert(CacheItem** slot, CacheItem* item, CacheItem* owner) {
  item->owner = owner;
  item->bytes = Charged(item->bytes);
  item->pins.store(1, std::memory_order_relaxed);
  *slot = item;
  LinkNewest(item);
  ++g_itemCount;
  g_bytes += item->bytes;
  if (g_bytes > g_peakBytes) g_peakBytes = g_bytes;
  Shrink();
  return item + 1;
}

// Adds item in *slot unless another search filled it meanwhile: the payload kept, pinned.
void* Add(CacheItem* item, CacheItem* owner, CacheItem** slot) {
  std::unique_lock<std::shared_mutex> guard(g_lock);
  if (*slot != nullptr) {
    void* existing = FindIn(*slot);
    guard.unlock();
    Mem_Free(item);
    return existing;
  }
  return Insert(slot, item, owner);
}

bool Fits(size_t bytes) { return Charged(bytes) <= g_budget; }

}  // namespace

void EngineCache_Stats(EngineCacheStats* out) {
  std::shared_lock<std::shared_mutex> guard(g_lock);
  *out = EngineCacheStats{g_lookups, g_hits, g_evictions, g_clears, g_bytes, g_peakBytes,
                         g_budget};
}

void EngineCache_Count(uint32_t lookups, uint32_t hits) {
  if (lookups != 0) g_lookups.fetch_add(lookups, std::memory_order_relaxed);
  if (hits != 0) g_hits.fetch_add(hits, std::memory_order_relaxed);
}

const CachedFile* EngineCache_FindFile(uint32_t number) {
  const int slot = FileSlot(number);
  if (slot < 0 || g_budget == 0) return nullptr;
  std::shared_lock<std::shared_mutex> guard(g_lock);
  return static_cast<const CachedFile*>(FindIn(g_files[slot]));
}

const CachedFile* EngineCache_AddFile(uint32_t number, FILE* file,
                                     const FileIdentity& identity) {
  const int slot = FileSlot(number);
  if (slot < 0 || g_budget == 0 || file == nullptr) return nullptr;
  CacheItem* item = NewItem(kFileItem, sizeof(FileNode), static_cast<uint32_t>(slot));
  if (item == nullptr) return nullptr;
  FileNode* node = Payload<FileNode>(item);
  node->numberBlocks = nullptr;
  std::memset(node->entryBlocks, 0, sizeof node->entryBlocks);
  node->indexes = nullptr;
  DictFile* dict = &node->file.dict;
  DictFile_Init(dict, file);
  dict->knownSize = static_cast<int64_t>(identity.size);
  node->file.identity = identity;
  Dict_ReadAll(dict);
  if (Refuses()) dict->outOfMemory = 1;  // as when a table could not be allocated
  dict->file = nullptr;
  if (dict->numberIndexCount != 0 && !Refuses()) {
    node->numberBlocks =
        static_cast<CacheItem**>(Mem_AllocZeroed(dict->numberIndexCount, sizeof(CacheItem*)));
  }
  const bool sound =
      !dict->outOfMemory && (dict->numberIndexCount == 0 || node->numberBlocks != nullptr);
  item->bytes += dict->regionTableLength + dict->entryIndexLength +
                 (dict->numberIndex ? sizeof(NumberIndexRecord) * (dict->numberIndexLength / 10 + 1)
                                    : 0) +
                 (dict->entryIndex ? sizeof(EntryIndexRecord) * kEntryBlockMax : 0) +
                 sizeof(CacheItem*) * dict->numberIndexCount;
  if (!sound || !Fits(item->bytes)) {
    DictFile_Free(dict);
    Mem_Free(node->numberBlocks);
    Mem_Free(item);
    return nullptr;
  }
  std::unique_lock<std::shared_mutex> guard(g_lock);
  if (g_files[slot] == nullptr) {
    return static_cast<const CachedFile*>(Insert(&g_files[slot], item, nullptr));
  }
  // Another search read it meanwhile.
  CacheItem* existing = g_files[slot];
  FindIn(existing);
  guard.unlock();
  DictFile_Free(dict);
  Mem_Free(node->numberBlocks);
  Mem_Free(item);
  return Payload<CachedFile>(existing);
}

const DecodedNumberBlock* EngineCache_FindNumberBlock(const CachedFile* file, uint32_t k) {
  if (k >= file->dict.numberIndexCount) return nullptr;
  std::shared_lock<std::shared_mutex> guard(g_lock);
  const auto* node = reinterpret_cast<const FileNode*>(file);
  return static_cast<const DecodedNumberBlock*>(FindIn(node->numberBlocks[k]));
}

const DecodedNumberBlock* EngineCache_AddNumberBlock(const CachedFile* file, uint32_t k,
                                                     const DecodedNumberBlock* decoded) {
  if (k >= file->dict.numberIndexCount) return nullptr;
  const size_t data = size_t{decoded->count} * (sizeof(uint32_t) + 1);
  CacheItem* item = NewItem(kNumberBlockItem, sizeof(NumberBlockNode) + data, k);
  if (item == nullptr || !Fits(item->bytes)) {
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
      Add(item, owner, &node->numberBlocks[k]));
}

const DecodedEntryBlock* EngineCache_FindEntryBlock(const CachedFile* file, uint32_t k) {
  if (k >= kEntryBlockMax) return nullptr;
  std::shared_lock<std::shared_mutex> guard(g_lock);
  const auto* node = reinterpret_cast<const FileNode*>(file);
  return static_cast<const DecodedEntryBlock*>(FindIn(node->entryBlocks[k]));
}

const DecodedEntryBlock* EngineCache_AddEntryBlock(const CachedFile* file, uint32_t k,
                                                   const DecodedEntryBlock* decoded) {
  if (k >= kEntryBlockMax) return nullptr;
  CacheItem* item =
      NewItem(kEntryBlockItem, sizeof(EntryBlockNode) + DecodedEntryBlock_Bytes(decoded), k);
  if (item == nullptr || !Fits(item->bytes)) {
    Mem_Free(item);
    return nullptr;
  }
  DecodedEntryBlock* copy = &Payload<EntryBlockNode>(item)->block;
  DecodedEntryBlock_CopyTo(decoded, copy + 1, copy);
  CacheItem* owner = ItemOf(file);
  auto* node = reinterpret_cast<FileNode*>(const_cast<CachedFile*>(file));
  return static_cast<const DecodedEntryBlock*>(
      Add(item, owner, &node->entryBlocks[k]));
}

const NameIndex* EngineCache_FindNameIndex(const CachedFile* file, uint16_t region) {
  std::shared_lock<std::shared_mutex> guard(g_lock);
  const auto* node = reinterpret_cast<const FileNode*>(file);
  CacheItem* index = node->indexes;
  while (index != nullptr && index->slot != region) index = index->nextIndex;
  return static_cast<const NameIndex*>(FindIn(index));
}

const NameIndex* EngineCache_AddNameIndex(const CachedFile* file, uint16_t region,
                                          const NameIndex* index) {
  const size_t data = size_t{index->count} * sizeof(NameIndexRecord);
  CacheItem* item = NewItem(kNameIndexItem, sizeof(NameIndexNode) + data, region);
  if (item == nullptr || !Fits(item->bytes)) {
    Mem_Free(item);
    return nullptr;
  }
  NameIndex* copy = &Payload<NameIndexNode>(item)->index;
  auto* records = reinterpret_cast<NameIndexRecord*>(copy + 1);
  if (data != 0) std::memcpy(records, index->records, data);
  *copy = NameIndex{records, index->count};
  CacheItem* owner = ItemOf(file);
  auto* node = reinterpret_cast<FileNode*>(const_cast<CachedFile*>(file));
  std::unique_lock<std::shared_mutex> guard(g_lock);
  for (CacheItem* existing = node->indexes; existing; existing = existing->nextIndex) {
    if (existing->slot == region) {
      FindIn(existing);
      guard.unlock();
      Mem_Free(item);
      return Payload<NameIndex>(existing);
    }
  }
  // New indexes go first in the file's list; Insert fills the head slot.
  item->nextIndex = node->indexes;
  node->indexes = nullptr;
  return static_cast<const NameIndex*>(Insert(&node->indexes, item, owner));
}

const AreaCodeSets* EngineCache_FindAreaUnion(uint32_t prefix) {
  if (prefix >= kPrefixNumberLimit || g_budget == 0) return nullptr;
  std::shared_lock<std::shared_mutex> guard(g_lock);
  return static_cast<const AreaCodeSets*>(FindIn(g_unions[prefix]));
}

const AreaCodeSets* EngineCache_AddAreaUnion(uint32_t prefix, const AreaCodeSets* sets) {
  if (prefix >= kPrefixNumberLimit || g_budget == 0) return nullptr;
  CacheItem* item = NewItem(kUnionItem, sizeof(AreaCodeSets), prefix);
  if (item == nullptr || !Fits(item->bytes)) {
    Mem_Free(item);
    return nullptr;
  }
  std::memcpy(Payload<AreaCodeSets>(item), sets, sizeof(AreaCodeSets));
  return static_cast<const AreaCodeSets*>(Add(item, nullptr, &g_unions[prefix]));
}

void EngineCache_Release(const void* pinned) {
  if (pinned == nullptr) return;
  // What a search held past the budget goes once nobody holds it.
  if (ItemOf(pinned)->pins.fetch_sub(1, std::memory_order_release) == 1 && g_bytes > g_budget) {
    std::unique_lock<std::shared_mutex> guard(g_lock);
    Shrink();
  }
}

void EngineCache_Retain(const void* pinned) {
  ItemOf(pinned)->pins.fetch_add(1, std::memory_order_relaxed);
}

void EngineCache_Clear() {
  std::unique_lock<std::shared_mutex> guard(g_lock);
  for (CacheItem*& file : g_files) {
    if (file) Drop(file);
  }
  for (CacheItem*& sets : g_unions) {
    if (sets) Drop(sets);
  }
  ++g_clears;
  g_stale = false;
}

void EngineCache_MarkStale() { g_stale = true; }

bool EngineCache_TakeStale() { return g_stale.exchange(false); }

#if defined(QOR3_FAULT_INJECTION)
void EngineCache_FailAllocation(unsigned long k) {
  g_allocations = 0;
  g_failAt = k;
}

unsigned long EngineCache_AllocationCount() { return g_allocations; }

void EngineCache_SetBudget(uint64_t bytes) {
  EngineCache_Clear();
  std::unique_lock<std::shared_mutex> guard(g_lock);
  g_budget = bytes;
}

long EngineCache_LiveBlocks() {
  std::shared_lock<std::shared_mutex> guard(g_lock);
  long blocks = 0;
  for (CacheItem* item = g_newest; item != nullptr; item = item->older) {
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
  return blocks;
}
#endif
