// Files of a dictionary directory: names, directory paths and temporary files.
#include "files/file_names.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/cp932.h"
#include "base/file_io.h"
#include "base/num_text.h"
#include "platform/platform.h"

void Dict_FileName(uint32_t number, char* out) {
  std::memcpy(out, "qor", 3);
  std::memcpy(out + 3, NumText(number, 4), 4);
  std::memcpy(out + 7, ".dct", 5);
}

namespace {

// Whether the first kDictFileNameLength bytes of name are "qor" + 4 digits + ".dct".
bool StartsWithDictName(const char* name, uint32_t* number) {
  if (strnlen(name, kDictFileNameLength) < kDictFileNameLength) return false;
  if (std::memcmp(name, "qor", 3) != 0 || std::memcmp(name + 7, ".dct", 4) != 0) return false;
  uint32_t n = 0;
  for (int i = 3; i < 7; ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
    n = n * 10 + static_cast<uint32_t>(name[i] - '0');
  }
  *number = n;
  return true;
}

// Whether the last character of the path is the separator, the path walked by code page 932
// characters from its first byte: 表 (0x95 0x5C) or ソ (0x83 0x5C) is one character and does
// not close a path, as the Windows file API reads it. ('/' is never a second byte.)
bool EndsWithSeparator(const char* bytes, uint32_t length) {
  bool closed = false;
  for (uint32_t i = 0; i < length; ++i) {
    const uint8_t b = static_cast<uint8_t>(bytes[i]);
    if (IsLeadByte(b) && i + 1 < length && IsTrailByte(static_cast<uint8_t>(bytes[i + 1]))) {
      ++i;
      closed = false;
    } else {
      closed = bytes[i] == kPathSeparator;
    }
  }
  return closed;
}

}  // namespace

bool Dict_ParseFileName(const char* name, uint32_t* number) {
  return StartsWithDictName(name, number) && name[kDictFileNameLength] == '\0';
}

int Path_Prepare(const char* bytes, uint32_t length, char* out) {
  if (length > kDirPathMax) return -1;
  if (length != 0 && std::memchr(bytes, '\0', length)) return -1;
  const bool closed = length == 0 || EndsWithSeparator(bytes, length);
  const uint32_t total = closed ? length : length + 1;
  if (total > kDirPathMax) return -1;
  std::memcpy(out, bytes, length);
  if (!closed) out[length] = kPathSeparator;
  out[total] = '\0';
  return 0;
}

int Path_Join(char* out, uint32_t capacity, const char* dir, const char* name) {
  const size_t a = std::strlen(dir), b = std::strlen(name);
  if (a + b + 1 > capacity) return -1;
  std::memcpy(out, dir, a);
  std::memcpy(out + a, name, b + 1);
  return 0;
}

int Temp_FileName(const char* path, char* out, size_t capacity) {
  const int n = std::snprintf(out, capacity, "%s.%lu.tmp", path, Platform_ProcessId());
  return (n < 0 || static_cast<size_t>(n) >= capacity) ? -1 : 0;
}

bool Temp_ParseFileName(const char* name, unsigned long* pid) {
  uint32_t number;
  if (!StartsWithDictName(name, &number) || name[kDictFileNameLength] != '.') return false;
  const char* digits = name + kDictFileNameLength + 1;
  unsigned long long value = 0;
  const char* p = digits;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + static_cast<unsigned>(*p - '0');
    if (value > 0xFFFFFFFFu) return false;
  }
  if (p == digits || std::strcmp(p, ".tmp") != 0) return false;
  *pid = static_cast<unsigned long>(value);
  return true;
}

namespace {

// Temporary file names: the paths the tools are given have no limit of their own beyond the
// system's.
constexpr size_t kTempPathCapacity = 4096 + 32;

}  // namespace

int File_WriteReplace(const char* path, const FilePiece* pieces, size_t count) {
  char tmp[kTempPathCapacity];
  if (Temp_FileName(path, tmp, sizeof tmp) != 0) return -1;
  FILE* file = std::fopen(tmp, "wb");
  if (!file) return -1;
  bool ok = true;
  for (size_t i = 0; ok && i < count; ++i) {
    ok = pieces[i].size == 0 || File_WriteAll(file, pieces[i].data, pieces[i].size);
  }
  ok = std::fflush(file) == 0 && ok;
  ok = std::fclose(file) == 0 && ok;
  if (ok && Platform_ReplaceFile(tmp, path) == 0) return 0;
  const int saved = errno;
  Platform_DeleteFile(tmp);
  errno = saved;
  return -1;
}

int File_CopyReplace(const char* src, const char* dst) {
  char tmp[kTempPathCapacity];
  if (Temp_FileName(dst, tmp, sizeof tmp) != 0) return -1;
  if (Platform_CopyFile(src, tmp) == 0 && Platform_ReplaceFile(tmp, dst) == 0) return 0;
  Platform_DeleteFile(tmp);
  return -1;
}

void Temp_RemoveIfStale(void* dir, const char* name) {
  unsigned long pid;
  if (!Temp_ParseFileName(name, &pid) || Platform_ProcessRuns(pid)) return;
  char path[kPathCapacity + 64];
  int64_t unwritten;
  if (Path_Join(path, sizeof path, static_cast<const char*>(dir), name) == 0 &&
      Platform_FileUnwrittenFor(path, &unwritten) == 0 && unwritten >= kStaleTempAge) {
    Platform_DeleteFile(path);
  }
}

void Temp_RemoveStale(const char* dir) {
  Platform_ListFiles(dir, Temp_RemoveIfStale, const_cast<char*>(dir));
}
