// ReaderLock from more threads than it has slots: a writer's two updates are never seen apart
// by a reader, and a reader holding the lock keeps every writer out.
#include "base/reader_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

TEST(ReaderLockTest, ReadersNeverSeeAWriteHalfDone) {
  static ReaderLock lock;
  uint64_t first = 0, second = 0;  // equal whenever the lock is free
  std::atomic<int> torn{0};
  std::vector<std::thread> threads;
  // Beyond kReaderSlots threads, some share a slot.
  for (uint32_t t = 0; t < kReaderSlots + 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 3000; ++i) {
        ReaderShared shared(&lock);
        if (first != second) ++torn;
        if (i % 50 == 0) {
          // Let go and take it again, as a search does around a rebuild.
          shared.Unlock();
          shared.Lock();
          if (first != second) ++torn;
        }
      }
    });
  }
  for (int i = 0; i < 300; ++i) {
    ReaderAlone alone(&lock);
    ++first;
    std::this_thread::yield();
    ++second;
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_EQ(first, 300u);
  EXPECT_EQ(second, 300u);
}

}  // namespace
