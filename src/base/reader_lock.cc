// ReaderLock. A reader raises its slot's count, then looks for a writer; a writer announces
// itself, then looks at the counts. Both steps are sequentially consistent, so of a reader
// and a writer arriving together at least one sees the other: the reader steps back, or
// the writer waits for its count to fall.
#include "base/reader_lock.h"

#include <chrono>
#include <thread>

namespace {

std::atomic<uint32_t> g_threadsSeen{0};  // slots handed out, counting past kReaderSlots
thread_local uint32_t t_slot = UINT32_MAX;

}  // namespace

uint32_t ReaderLock_ThreadSlot() {
  if (t_slot == UINT32_MAX) t_slot = g_threadsSeen.fetch_add(1) % kReaderSlots;
  return t_slot;
}

void ReaderLock_LockShared(ReaderLock* lock, uint32_t slot) {
  std::atomic<uint32_t>& count = lock->slots[slot].count;
  for (;;) {
    count.fetch_add(1, std::memory_order_seq_cst);
    if (!lock->writing.load(std::memory_order_seq_cst)) return;
    count.fetch_sub(1, std::memory_order_release);
    // Waits for the writer to finish, then tries again.
    std::lock_guard<std::mutex> wait(lock->writer);
  }
}

void ReaderLock_UnlockShared(ReaderLock* lock, uint32_t slot) {
  lock->slots[slot].count.fetch_sub(1, std::memory_order_release);
}

void ReaderLock_Lock(ReaderLock* lock) {
  lock->writer.lock();
  lock->writing.store(true, std::memory_order_seq_cst);
  // Only the slots handed out so far can be held; a thread taking its first slot after this
  // load sees the announcement and steps back.
  const uint32_t seen = g_threadsSeen.load(std::memory_order_seq_cst);
  const uint32_t slots = seen < kReaderSlots ? seen : kReaderSlots;
  // Readers of a cache hold it for a lookup, of an engine for a search (a long one may read
  // files for a while): a writer yields at first, then sleeps between looks.
  for (uint32_t i = 0, looks = 0; i < slots; ++i) {
    while (lock->slots[i].count.load(std::memory_order_acquire) != 0) {
      if (++looks < 64) {
        std::this_thread::yield();
      } else {
        std::this_thread::sleep_for(std::chrono::microseconds(50));
      }
    }
  }
}

void ReaderLock_Unlock(ReaderLock* lock) {
  lock->writing.store(false, std::memory_order_release);
  lock->writer.unlock();
}
