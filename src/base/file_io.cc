// Checked reads from standard C streams.
#include "base/file_io.h"

namespace {
bool SeekTo(FILE* f, uint64_t offset) {
  if (offset > 0x7FFFFFFFu) return false;  // dictionaries and catalogs are far below 2 GiB
  return std::fseek(f, static_cast<long>(offset), SEEK_SET) == 0;
}
}  // namespace

bool File_ReadAt(FILE* f, uint64_t offset, void* buf, size_t n) {
  if (!SeekTo(f, offset)) return false;
  return n == 0 || std::fread(buf, 1, n, f) == n;
}

int64_t File_Size(FILE* f) {
  if (std::fseek(f, 0, SEEK_END) != 0) return -1;
  long end = std::ftell(f);
  if (end < 0) return -1;
  std::fseek(f, 0, SEEK_SET);
  return end;
}

#if defined(QOR3_FAULT_INJECTION)
#include <atomic>

namespace {
std::atomic<unsigned long> g_writesLeft{0};  // writes that still succeed, plus one; 0: no failing
}  // namespace

void File_FailWritesFrom(unsigned long failAt) { g_writesLeft = failAt; }
#endif

bool File_WriteAll(FILE* f, const void* buf, size_t n) {
#if defined(QOR3_FAULT_INJECTION)
  if (g_writesLeft == 1) return false;
  if (g_writesLeft > 1) --g_writesLeft;
#endif
  return n == 0 || std::fwrite(buf, 1, n, f) == n;
}
