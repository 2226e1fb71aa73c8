// Heap allocation for the whole library, with a test hook that fails the Nth allocation.
#ifndef QOR3_BASE_MEM_H
#define QOR3_BASE_MEM_H

#include <cstddef>

// Returns n bytes of uninitialised heap storage, or null when the heap (or the fault
// injection hook) refuses. n = 0 is treated as 1.
void* Mem_Alloc(size_t n);
// Returns count * size zeroed bytes, or null (also when the product overflows).
void* Mem_AllocZeroed(size_t count, size_t size);
// Releases storage from Mem_Alloc / Mem_AllocZeroed; null is ignored.
void Mem_Free(void* p);

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
