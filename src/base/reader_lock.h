// ReaderLock: a readers-writer lock whose readers write only a counter of their own thread's
// slot, so that threads reading at once share no cache line they write. A writer announces
// itself, then waits until every slot's count is zero; a reader that finds a writer announced
// steps back and waits for it. Writers are rare (an open, a rebuild, a cache insertion) and
// short-lived readers never wait for one another.
#ifndef QOR3_BASE_READER_LOCK_H
#define QOR3_BASE_READER_LOCK_H

#include <atomic>
#include <cstdint>
#include <mutex>

constexpr uint32_t kReaderSlots = 32;
constexpr size_t kCacheLine = 64;

struct alignas(kCacheLine) ReaderSlot {
  std::atomic<uint32_t> count{0};
};

struct ReaderLock {
  ReaderSlot slots[kReaderSlots];
  alignas(kCacheLine) std::atomic<bool> writing{false};
  std::mutex writer;  // held by the writer from its announcement to its end
};

// The calling thread's slot, 0..kReaderSlots - 1: each thread gets the next one on its first
// call (threads beyond kReaderSlots share slots, which is correct, only slower).
uint32_t ReaderLock_ThreadSlot();

void ReaderLock_LockShared(ReaderLock* lock, uint32_t slot);
void ReaderLock_UnlockShared(ReaderLock* lock, uint32_t slot);
void ReaderLock_Lock(ReaderLock* lock);
void ReaderLock_Unlock(ReaderLock* lock);

// The lock held shared, or alone, while the guard lives.
class ReaderShared {
 public:
  explicit ReaderShared(ReaderLock* lock) : lock_(lock), slot_(ReaderLock_ThreadSlot()) {
    ReaderLock_LockShared(lock_, slot_);
  }
  ~ReaderShared() {
    if (held_) ReaderLock_UnlockShared(lock_, slot_);
  }
  void Unlock() {
    ReaderLock_UnlockShared(lock_, slot_);
    held_ = false;
  }
  void Lock() {
    ReaderLock_LockShared(lock_, slot_);
    held_ = true;
  }
  ReaderShared(const ReaderShared&) = delete;
  ReaderShared& operator=(const ReaderShared&) = delete;

 private:
  ReaderLock* lock_;
  uint32_t slot_;
  bool held_ = true;
};

class ReaderAlone {
 public:
  explicit ReaderAlone(ReaderLock* lock) : lock_(lock) { ReaderLock_Lock(lock_); }
  ~ReaderAlone() {
    if (held_) ReaderLock_Unlock(lock_);
  }
  void Unlock() {
    ReaderLock_Unlock(lock_);
    held_ = false;
  }
  ReaderAlone(const ReaderAlone&) = delete;
  ReaderAlone& operator=(const ReaderAlone&) = delete;

 private:
  ReaderLock* lock_;
  bool held_ = true;
};

#endif  // QOR3_BASE_READER_LOCK_H
