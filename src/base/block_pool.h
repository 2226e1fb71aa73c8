// BlockPool: a chain of 16 KiB heap blocks from which every result handed to the host is
// carved, released as a whole.
#ifndef QOR3_BASE_BLOCK_POOL_H
#define QOR3_BASE_BLOCK_POOL_H

#include <cstddef>
#include <cstdint>

constexpr uint32_t kPoolBlockSize = 16384;
// Block header: the next block's address, then the u32 of bytes used (8 bytes on 32-bit).
constexpr uint32_t kPoolHeaderSize = sizeof(void*) == 4 ? 8 : 16;
constexpr uint32_t kPoolMaxRequest = kPoolBlockSize - kPoolHeaderSize;

struct BlockPool {
  uint32_t blockCount;
  uint8_t* firstBlock;
  uint8_t* currentBlock;
  uint32_t blockNumber;
  uint32_t offset;
  uint32_t readLimit;
};

// Takes the first block. Returns 0, or -1 when it cannot be allocated (the pool then owns
// nothing and BlockPool_Free on it does nothing).
int BlockPool_Init(BlockPool* pool);
// n fresh bytes placed right after the previous item; null when n exceeds kPoolMaxRequest
// or a new block cannot be allocated. A request that would end at the block's last byte
// takes a new block.
void* BlockPool_Alloc(BlockPool* pool, size_t n);
char* BlockPool_PutString(BlockPool* pool, const char* text);
// Copies a fixed-size record; the copy starts at a pointer-aligned offset so hosts can read
// the record in place.
void* BlockPool_PutBytes(BlockPool* pool, const void* src, size_t n);
int BlockPool_Free(BlockPool* pool);

#endif  // QOR3_BASE_BLOCK_POOL_H
