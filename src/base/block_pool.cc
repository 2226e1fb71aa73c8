// BlockPool: a chain of 16 KiB heap blocks from which every result handed to the host is
// carved, released as a whole.
#include "base/block_pool.h"

#include <cstring>

#include "base/mem.h"

namespace {
void SetNext(uint8_t* block, uint8_t* next) { std::memcpy(block, &next, sizeof next); }
uint8_t* GetNext(const uint8_t* block) {
  uint8_t* next;
  std::memcpy(&next, block, sizeof next);
  return next;
}
void SetUsed(uint8_t* block, uint32_t used) { std::memcpy(block + sizeof(void*), &used, 4); }
}  // namespace

int BlockPool_Init(BlockPool* pool) {
  std::memset(pool, 0, sizeof *pool);
  uint8_t* block = static_cast<uint8_t*>(Mem_Alloc(kPoolBlockSize));
  if (!block) return -1;
  SetNext(block, nullptr);
  SetUsed(block, kPoolHeaderSize);
  pool->blockCount = 1;
  pool->firstBlock = block;
  pool->currentBlock = block;
  pool->offset = kPoolHeaderSize;
  pool->readLimit = kPoolHeaderSize;
  return 0;
}

namespace {

// Chains a new block after the current one and makes it current. 0, or -1 when it cannot be
// allocated.
int NewBlock(BlockPool* pool) {
  uint8_t* block = static_cast<uint8_t*>(Mem_Alloc(kPoolBlockSize));
  if (!block) return -1;
  SetNext(block, nullptr);
  SetNext(pool->currentBlock, block);
  pool->currentBlock = block;
  ++pool->blockCount;
  ++pool->blockNumber;
  pool->offset = kPoolHeaderSize;
  return 0;
}

}  // namespace

void* BlockPool_Alloc(BlockPool* pool, size_t n) {
  if (!pool->currentBlock || n > kPoolMaxRequest) return nullptr;
  if (pool->offset + n >= kPoolBlockSize && NewBlock(pool) != 0) return nullptr;
  void* result = pool->currentBlock + pool->offset;
  pool->offset += static_cast<uint32_t>(n);
  SetUsed(pool->currentBlock, pool->offset);
  return result;
}

char* BlockPool_PutString(BlockPool* pool, const char* text) {
  size_t n = std::strlen(text) + 1;
  char* copy = static_cast<char*>(BlockPool_Alloc(pool, n));
  if (copy) std::memcpy(copy, text, n);
  return copy;
}

void* BlockPool_PutBytes(BlockPool* pool, const void* src, size_t n) {
  constexpr uint32_t kAlign = sizeof(void*);
  static_assert(kPoolHeaderSize % kAlign == 0, "a new block starts aligned");
  if (!pool->currentBlock || n > kPoolMaxRequest) return nullptr;
  const uint32_t pad = (kAlign - pool->offset % kAlign) % kAlign;
  if (pool->offset + pad + n < kPoolBlockSize) {
    pool->offset += pad;  // the record fits aligned in this block
  } else if (NewBlock(pool) != 0) {
    // Where it fits only unaligned, a new block takes it: hosts read records in place.
    return nullptr;
  }
  void* copy = BlockPool_Alloc(pool, n);
  if (copy) std::memcpy(copy, src, n);
  return copy;
}

int BlockPool_Free(BlockPool* pool) {
  uint8_t* block = pool->firstBlock;
  for (uint32_t i = 0; block && i < pool->blockCount; ++i) {
    uint8_t* next = i + 1 < pool->blockCount ? GetNext(block) : nullptr;
    Mem_Free(block);
    block = next;
  }
  pool->firstBlock = nullptr;
  pool->currentBlock = nullptr;
  pool->blockCount = 0;
  return 0;
}
