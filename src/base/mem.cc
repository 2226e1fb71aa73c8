// Heap allocation for the whole library, with a test hook that fails the Nth allocation.
#include "base/mem.h"

#include <cstdlib>
#include <cstring>

#if defined(QOR3_FAULT_INJECTION)
#include <atomic>

namespace {
// Atomic, so that test builds stay free of data races when host threads search at once.
std::atomic<unsigned long> g_failAt{0};
std::atomic<unsigned long> g_count{0};
std::atomic<long> g_live{0};
}  // namespace

void Mem_FailFrom(unsigned long failAt) {
  g_failAt = failAt == 0 ? 0 : g_count + failAt;
}
void Mem_ResetFaults() {
  g_failAt = 0;
  g_count = 0;
}
unsigned long Mem_AllocationCount() { return g_count; }
long Mem_LiveBlocks() { return g_live; }
#endif

void* Mem_Alloc(size_t n) {
#if defined(QOR3_FAULT_INJECTION)
  const unsigned long count = ++g_count;
  const unsigned long failAt = g_failAt;
  if (failAt != 0 && count >= failAt) return nullptr;
#endif
  void* p = std::malloc(n == 0 ? 1 : n);
#if defined(QOR3_FAULT_INJECTION)
  if (p) ++g_live;
#endif
  return p;
}

void* Mem_AllocZeroed(size_t count, size_t size) {
  if (size != 0 && count > static_cast<size_t>(-1) / size) return nullptr;
  void* p = Mem_Alloc(count * size);
  if (p) std::memset(p, 0, count * size == 0 ? 1 : count * size);
  return p;
}

void Mem_Free(void* p) {
  if (!p) return;
#if defined(QOR3_FAULT_INJECTION)
  --g_live;
#endif
  std::free(p);
}
