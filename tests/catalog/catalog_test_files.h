// Test helpers for the catalog and open tests: a scratch directory, dictionary files holding
// just what the open path reads (header, prefix filter, region table), and file times.
#ifndef QOR3_TESTS_CATALOG_CATALOG_TEST_FILES_H
#define QOR3_TESTS_CATALOG_CATALOG_TEST_FILES_H

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/dict_bytes.h"
#include "support/temp_dir.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#include <utime.h>
#endif

#include "files/file_names.h"
#include "platform/platform.h"

namespace catalog_test {

// A TempDir that also gives its path without the closing separator.
struct ScratchDir : TempDir {
  // Without the closing separator.
  std::string Str() const { return path().substr(0, path().size() - 1); }
  // With the closing separator, as the library's internal functions take it.
  std::string Dir() const { return path(); }
};

struct TestRegion {
  uint16_t code;
  std::string name1;
  std::string name2;
};

struct TestDict {
  uint32_t edition1 = 20020801;
  uint32_t edition2 = 1;
  std::vector<uint32_t> prefixes;  // set bits of the prefix filter
  std::vector<TestRegion> regions;
  uint32_t filterSize = 125;
};

// Header, section 0 (prefix filter), an empty section 1, section 2 (region table); the other
// sections are empty.
inline std::vector<uint8_t> DictBytes(const TestDict& d) {
  dict_bytes::RawDict raw;
  raw.edition1 = d.edition1;
  raw.edition2 = d.edition2;
  raw.sections[0].assign(d.filterSize, 0);
  for (uint32_t p : d.prefixes) dict_bytes::SetBit(&raw.sections[0], p);
  std::vector<dict_bytes::Region> regions;
  for (const TestRegion& r : d.regions) regions.push_back({r.code, r.name1, r.name2});
  raw.sections[2] = dict_bytes::RegionTableBytes(regions);
  return raw.Image();
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline bool Exists(const std::string& path) { return std::filesystem::exists(path); }

// "qorNNNN.dct"
inline std::string DictName(uint32_t number) {
  char name[kDictFileNameLength + 1];
  Dict_FileName(number, name);
  return name;
}

// Sets a file's modification time (seconds since the epoch).
inline bool SetMTime(const std::string& path, std::time_t t) {
#if defined(_WIN32)
  HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  ULARGE_INTEGER v;
  v.QuadPart = (static_cast<uint64_t>(t) + 11644473600ull) * 10000000ull;
  FILETIME ft{v.LowPart, v.HighPart};
  const bool ok = SetFileTime(h, nullptr, nullptr, &ft) != 0;
  CloseHandle(h);
  return ok;
#else
  struct utimbuf times {t, t};
  return utime(path.c_str(), &times) == 0;
#endif
}

// A file's modification time (seconds since the epoch), or -1.
inline std::time_t MTime(const std::string& path) {
#if defined(_WIN32)
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  ULARGE_INTEGER v;
  v.LowPart = data.ftLastWriteTime.dwLowDateTime;
  v.HighPart = data.ftLastWriteTime.dwHighDateTime;
  return static_cast<std::time_t>(v.QuadPart / 10000000ull - 11644473600ull);
#else
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return -1;
  return st.st_mtime;
#endif
}

// A local time in January (no daylight saving question) as seconds since the epoch.
inline std::time_t LocalTimeOf(int year, int month, int day, int hour, int minute) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_isdst = 0;
  return std::mktime(&tm);
}

// Writes a dictionary file and gives it a modification time.
inline void WriteDict(const ScratchDir& dir, uint32_t number, const TestDict& d, std::time_t t) {
  const std::string path = dir.File(DictName(number));
  WriteBytes(path, DictBytes(d));
  SetMTime(path, t);
}

}  // namespace catalog_test

#endif  // QOR3_TESTS_CATALOG_CATALOG_TEST_FILES_H
