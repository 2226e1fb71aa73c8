// Block pool: block changes, the exact-fill rule, limits and record alignment.
#include "base/block_pool.h"
#include "qor3.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(BlockPool, ExactlyFillingABlockTakesANewOneAndOldItemsKeepTheirBytes) {
  BlockPool pool;
  ASSERT_EQ(BlockPool_Init(&pool), 0);
  EXPECT_EQ(pool.blockCount, 1u);
  char* first = BlockPool_PutString(&pool, "kept");
  ASSERT_NE(first, nullptr);
  uint8_t* a = static_cast<uint8_t*>(BlockPool_Alloc(&pool, kPoolMaxRequest - 5 - 1));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(pool.blockCount, 1u) << "ends one byte before the block's end";
  std::memset(a, 0xAB, kPoolMaxRequest - 6);
  uint8_t* b = static_cast<uint8_t*>(BlockPool_Alloc(&pool, 1));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(pool.blockCount, 2u) << "a request ending at the last byte takes a new block";
  EXPECT_EQ(pool.blockNumber, 1u);
  EXPECT_EQ(b, pool.currentBlock + kPoolHeaderSize);
  EXPECT_STREQ(first, "kept");
  EXPECT_EQ(a[kPoolMaxRequest - 7], 0xAB);
  BlockPool_Free(&pool);
}

TEST(BlockPool, RefusesOversizedRequestsAndAcceptsTheLargest) {
  BlockPool pool;
  ASSERT_EQ(BlockPool_Init(&pool), 0);
  EXPECT_EQ(BlockPool_Alloc(&pool, kPoolMaxRequest + 1), nullptr);
  EXPECT_NE(BlockPool_Alloc(&pool, kPoolMaxRequest), nullptr);
  BlockPool_Free(&pool);
  EXPECT_EQ(BlockPool_Alloc(&pool, 1), nullptr) << "a freed pool serves nothing";
}

TEST(BlockPool, RecordsAreAlignedAndSurviveBlockChanges) {
  BlockPool pool;
  ASSERT_EQ(BlockPool_Init(&pool), 0);
  SearchResult rec{};
  for (int i = 0; i < 1000; ++i) {
    char* s = BlockPool_PutString(&pool, i % 2 ? "odd" : "ev");
    rec.entryKind = i;
    rec.name = s;
    auto* copy = static_cast<SearchResult*>(BlockPool_PutBytes(&pool, &rec, sizeof rec));
    ASSERT_NE(copy, nullptr);
    ASSERT_EQ(reinterpret_cast<uintptr_t>(copy) % sizeof(void*), 0u);
    ASSERT_EQ(copy->entryKind, i);
    ASSERT_STREQ(copy->name, i % 2 ? "odd" : "ev");
  }
  EXPECT_GT(pool.blockCount, 4u);
  BlockPool_Free(&pool);
}

// A record that would fit at the end of a block only without its padding goes to a new block,
// aligned: filling each block to every odd offset near its end reaches that case.
TEST(BlockPool, ARecordThatFitsOnlyUnalignedTakesANewBlock) {
  for (uint32_t room = 1; room < 2 * sizeof(SearchResult); ++room) {
    BlockPool pool;
    ASSERT_EQ(BlockPool_Init(&pool), 0);
    ASSERT_NE(BlockPool_Alloc(&pool, kPoolMaxRequest - sizeof(SearchResult) - room), nullptr);
    SearchResult rec{};
    void* copy = BlockPool_PutBytes(&pool, &rec, sizeof rec);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(copy) % sizeof(void*), 0u) << "room " << room;
    BlockPool_Free(&pool);
  }
}

}  // namespace
