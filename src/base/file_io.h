// Checked reads from standard C streams: every read of a file states where and how much,
// and says whether all of it was there.
#ifndef QOR3_BASE_FILE_IO_H
#define QOR3_BASE_FILE_IO_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Reads exactly n bytes at offset into buf; false on a failed seek or a short read.
bool File_ReadAt(FILE* f, uint64_t offset, void* buf, size_t n);
// Length of the file in bytes, or -1 when it cannot be told.
int64_t File_Size(FILE* f);
// Writes all n bytes; false on a short write.
bool File_WriteAll(FILE* f, const void* buf, size_t n);

#if defined(QOR3_FAULT_INJECTION)
// Test hook for a full disk: the File_WriteAll call numbered failAt (1 = the next one) and
// every one after it write nothing and fail. failAt 0 turns failing off.
void File_FailWritesFrom(unsigned long failAt);
#endif

#endif  // QOR3_BASE_FILE_IO_H
