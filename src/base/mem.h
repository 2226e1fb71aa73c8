// Heap allocation for the whole library, with a test hook that fails the Nth allocation.
#ifndef QOR3_BASE_MEM_H
#define QOR3_BASE_MEM_H

#include <cstddef>
#include <cstdint>
#include <cstring>

// Returns n bytes of uninitialised heap storage, or null when the heap (or the fault
// injection hook) refuses. n = 0 is treated as 1.
void* Mem_Alloc(size_t n);
// Returns count * size zeroed bytes, or null (also when the product overflows).
void* Mem_AllocZeroed(size_t count, size_t size);
// Releases storage from Mem_Alloc / Mem_AllocZeroed; null is ignored.
void Mem_Free(void* p);

// Grows a heap array of *capacity elements (null when 0) to hold at least need of them, at
// least doubling it: false, with the array as it was, when memory ran out or the array would
// pass 2 GiB.
template <typename T>
bool Mem_Reserve(T** array, uint32_t* capacity, uint64_t need) {
  if (need <= *capacity) return true;
  uint64_t grown = need > uint64_t{*capacity} * 2 ? need : uint64_t{*capacity} * 2;
  if (grown < 256) grown = 256;
  if (grown > 0x7FFFFFFF / sizeof(T)) return false;
  auto* bigger = static_cast<T*>(Mem_Alloc(static_cast<size_t>(grown) * sizeof(T)));
  if (bigger == nullptr) return false;
  if (*array != nullptr) std::memcpy(bigger, *array, size_t{*capacity} * sizeof(T));
  Mem_Free(*array);
  *array = bigger;
  *capacity = static_cast<uint32_t>(grown);
  return true;
}

#if defined(QOR3_FAULT_INJECTION)
// Test hook: the allocation numbered failAt (1 = the next one) and every one after it
// fail until Mem_ResetFaults. failAt 0 turns failing off.
void Mem_FailFrom(unsigned long failAt);
void Mem_ResetFaults();
// Allocations made since the last reset (successful or failed), and blocks still live.
unsigned long Mem_AllocationCount();
long Mem_LiveBlocks();
#endif

#endif  // QOR3_BASE_MEM_H
