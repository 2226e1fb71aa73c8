// Directory scan: which numbered dictionary files a directory holds, how each compares with
// its catalog rows, the summary rows of new and changed files, and the correction probe.
#include "catalog/dir_scan.h"

#include <cstring>

#include "base/byte_order.h"
#include "base/byte_reader.h"
#include "base/damage.h"
#include "base/file_io.h"
#include "base/mem.h"
#include "base/num_text.h"
#include "platform/platform.h"
#include "dict/dict_file.h"

namespace {

// A file's date and time as the catalog's 8- and 4-digit texts. A time the system cannot
// tell becomes zeros, which never matches a catalogued time, so such a file is
// judged by its edition values.
void TimeTexts(const LocalTime& t, char* date, char* time) {
  std::memcpy(date, NumText(static_cast<uint32_t>(t.year * 10000 + t.month * 100 + t.day), 8), 9);
  std::memcpy(time, NumText(static_cast<uint32_t>(t.hour * 100 + t.minute), 4), 5);
}

void FileTimeTexts(FILE* file, char* date, char* time) {
  LocalTime t{};
  if (Platform_FileTime(file, &t) != 0) t = LocalTime{};
  TimeTexts(t, date, time);
}

void EditionTexts(const uint8_t* header, char* edition1, char* edition2) {
  uint32_t v;
  GetU32BE(header + kDictEdition1Offset, &v);
  std::memcpy(edition1, NumText(v, 8), 9);
  GetU32BE(header + kDictEdition2Offset, &v);
  std::memcpy(edition2, NumText(v, 4), 5);
}

// Checks every record's names against the catalog's name limits, so that AppendSummary can
// take them all.
int CheckRegionNames(const RegionTable* table) {
  for (uint32_t i = 0; i < table->count; ++i) {
    const RegionRecord record = RegionTable_Record(table, i);
    const char* name;
    size_t length;
    QOR_CHECK(RegionTable_Name(table, record.name1Offset, kCatalogName1Max, &name, &length));
    QOR_CHECK(RegionTable_Name(table, record.name2Offset, kCatalogName2Max, &name, &length));
  }
  return 0;
}

int AppendSummary(const char* number, const char* date, const char* time, const char* edition1,
                  const char* edition2, const uint8_t* filter, uint32_t filterSize,
                  const RegionTable* table, CatalogRows* fresh) {
  const char* dictRow[] = {number, date, time, edition1, edition2};
  if (RowList_Append(&fresh->dictRows, dictRow, 5) != 0) return -1;
  for (uint32_t i = 0; i < table->count; ++i) {
    const RegionRecord record = RegionTable_Record(table, i);
    const char* name1 = "";
    const char* name2 = "";
    size_t length;
    RegionTable_Name(table, record.name1Offset, kCatalogName1Max, &name1, &length);
    RegionTable_Name(table, record.name2Offset, kCatalogName2Max, &name2, &length);
    char code[6];
    std::memcpy(code, NumText(record.code, 5), 6);
    const char* regionRow[] = {number, code, name1, name2};
    if (RowList_Append(&fresh->regionRows, regionRow, 4) != 0) return -1;
  }
  for (uint32_t p = 0; p < filterSize * 8; ++p) {
    if ((filter[p / 8] & (0x80u >> (p % 8))) == 0) continue;
    char prefix[5];
    std::memcpy(prefix, NumText(p, 4), 5);
    const char* prefixRow[] = {number, prefix};
    if (RowList_Append(&fresh->prefixRows, prefixRow, 2) != 0) return -1;
  }
  return 0;
}

// Judges a catalogued dictionary whose file time differs from its row's (or lies too close to
// the catalog's) by its header's edition values: unchanged, or changed with its summary read
// into fresh. kOk, or kOutOfMemory.
Result CompareEditions(DictDirectory* dir, const char* name, uint32_t n, char** row,
                       CatalogRows* fresh, uint8_t* status) {
  FILE* file = Platform_OpenDictFile(dir, name);
  if (!file) {
    status[n] = kScanMissing;
    return Result::kOk;
  }
  Result result = Result::kOk;
  uint8_t header[kDictHeaderSize];
  char edition1[9], edition2[5];
  if (!File_ReadAt(file, 0, header, sizeof header)) {
    QOR_DAMAGED();
    status[n] = kScanMissing;
  } else {
    EditionTexts(header, edition1, edition2);
    if (std::strcmp(edition1, row[3]) == 0 && std::strcmp(edition2, row[4]) == 0) {
      status[n] = kScanUnchanged;
    } else {
      const Result r = Dict_ReadSummary(file, NumText(n, 4), fresh);
      if (r == Result::kOutOfMemory) result = r;
      status[n] = r == Result::kOk ? kScanChanged : kScanMissing;
    }
  }
  std::fclose(file);
  return result;
}

}  // namespace

void CatalogRows_Init(CatalogRows* rows) {
  RowList_Init(&rows->dictRows);
  RowIndex_Clear(&rows->dictIndex);
  RowList_Init(&rows->regionRows);
  RowIndex_Clear(&rows->regionIndex);
  RowList_Init(&rows->prefixRows);
  RowIndex_Clear(&rows->prefixIndex);
}

void CatalogRows_Free(CatalogRows* rows) {
  RowIndex_Free(&rows->dictIndex);
  RowList_Free(&rows->dictRows);
  RowIndex_Free(&rows->regionIndex);
  RowList_Free(&rows->regionRows);
  RowIndex_Free(&rows->prefixIndex);
  RowList_Free(&rows->prefixRows);
}

Result Dict_ReadSummary(FILE* file, const char* numberText, CatalogRows* fresh) {
  char number[5];  // copied first: the caller may pass NumText's shared buffer
  std::memcpy(number, numberText, 4);
  number[4] = '\0';
  const int64_t fileSize = File_Size(file);
  uint8_t header[kDictHeaderSize];
  if (fileSize < kDictHeaderSize || !File_ReadAt(file, 0, header, sizeof header)) {
    QOR_DAMAGED();
    return Result::kDamaged;
  }
  uint32_t s0, s1, s2;
  GetU32BE(header + kDictSectionSizesOffset, &s0);
  GetU32BE(header + kDictSectionSizesOffset + 4, &s1);
  GetU32BE(header + kDictSectionSizesOffset + 8, &s2);
  if (s0 > kSummaryPrefixFilterMax || s2 > kSummaryRegionTableMax ||
      uint64_t{kDictHeaderSize} + s0 + s1 + s2 > static_cast<uint64_t>(fileSize)) {
    QOR_DAMAGED();
    return Result::kDamaged;
  }
  uint8_t filter[kSummaryPrefixFilterMax];
  if (!File_ReadAt(file, kDictHeaderSize, filter, s0)) {
    QOR_DAMAGED();
    return Result::kDamaged;
  }
  uint8_t* table = static_cast<uint8_t*>(Mem_Alloc(s2));
  if (!table) return Result::kOutOfMemory;
  Result result = Result::kDamaged;
  RegionTable regions;
  if (!File_ReadAt(file, uint64_t{kDictHeaderSize} + s0 + s1, table, s2)) {
    QOR_DAMAGED();
  } else if (RegionTable_Init(&regions, table, s2) == 0 && CheckRegionNames(&regions) == 0) {
    char date[9], time[5], edition1[9], edition2[5];
    FileTimeTexts(file, date, time);
    EditionTexts(header, edition1, edition2);
    result = AppendSummary(number, date, time, edition1, edition2, filter, s0, &regions, fresh) == 0
                 ? Result::kOk
                 : Result::kOutOfMemory;
  }
  Mem_Free(table);
  return result;
}

uint64_t FileTime_Minutes(uint32_t date, uint32_t time) {
  // Days from the civil date (proleptic Gregorian calendar, years from March).
  const int64_t year = date / 10000 - (date / 100 % 100 <= 2 ? 1 : 0);
  const int64_t month = date / 100 % 100, day = date % 100;
  const int64_t era = year / 400, yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const int64_t days =
      era * 146097 + yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear - 719468;
  if (days < 0 || time / 100 > 23 || time % 100 > 59) return 0;
  return static_cast<uint64_t>(days) * 1440 + time / 100 * 60 + time % 100;
}

Result Dir_Scan(const char* path, CatalogRows* catalogued, uint64_t catalogMinute,
                CatalogRows* fresh, uint8_t* status, bool sweepTemporaries) {
  uint8_t* present = static_cast<uint8_t*>(Mem_AllocZeroed(kScanStatusSize, 1));
  if (!present) return Result::kOutOfMemory;
  std::memset(status, kScanAbsent, kScanStatusSize);
  // One listing stands for the existence test of every probed number; when no file matches
  // "qor????.dct" it marks nothing, so nothing is probed.
  DictDirectory* dir = Platform_ListDictDirectory(path, present,
                                                  sweepTemporaries ? Temp_RemoveIfStale : nullptr,
                                                  const_cast<char*>(path));
  if (dir == nullptr) {
    Mem_Free(present);
    return Result::kOutOfMemory;
  }

  char name[kDictFileNameLength + 1];
  Result result = Result::kOk;
  char* f[5];
  uint16_t count = 0;
  RowIndex_Rewind(&catalogued->dictIndex);
  while (result == Result::kOk && RowIndex_Next(&catalogued->dictIndex, f, &count, 5) == 0) {
    if (count < 5) continue;
    const uint32_t n = DecimalValue(f[0]);
    if (n >= kScanStatusSize || status[n] != kScanAbsent) continue;  // a repeated row
    present[n] = 0;  // a catalogued file is never new
    Dict_FileName(n, name);
    // The listing and one examination by name tell whether the file is a readable regular
    // file and its time; only a file whose time does not settle it is opened.
    LocalTime written{};
    bool timeKnown = false;
    if (!Platform_ExamineDictFile(dir, name, &written, &timeKnown)) {
      status[n] = kScanMissing;
      continue;
    }
    char date[9], time[5];
    TimeTexts(timeKnown ? written : LocalTime{}, date, time);
    const bool safelyPast =
        FileTime_Minutes(DecimalValue(f[1]), DecimalValue(f[2])) + 1 < catalogMinute;
    if (std::strcmp(date, f[1]) == 0 && std::strcmp(time, f[2]) == 0 && safelyPast) {
      status[n] = kScanUnchanged;
    } else {
      result = CompareEditions(dir, name, n, f, fresh, status);
    }
  }

  for (uint32_t i = kProbeHighFirst; result == Result::kOk && i <= kProbeHighLast; ++i) {
    for (uint32_t j = kProbeLowFirst; result == Result::kOk && j <= kProbeLowLast; ++j) {
      const uint32_t n = 100 * i + j;
      if (!present[n]) continue;
      Dict_FileName(n, name);
      FILE* file = Platform_OpenDictFile(dir, name);
      if (!file) continue;
      const Result r = Dict_ReadSummary(file, NumText(n, 4), fresh);
      if (r == Result::kOutOfMemory) result = r;
      if (r == Result::kOk) status[n] = kScanChanged;
      std::fclose(file);
    }
  }
  Platform_CloseDictDirectory(dir);
  Mem_Free(present);
  return result;
}

void CorrectionDir_Probe(CorrectionProbe* probe, const char* path) {
  const size_t len = strnlen(path, kPathCapacity - 1);
  std::memcpy(probe->path, path, len);
  probe->path[len] = '\0';
  probe->present = 0;
  if (len == 0) return;
  char name[kDictFileNameLength + 1];
  char full[kPathCapacity];
  Dict_FileName(kCorrectionDictNumber, name);
  if (Path_Join(full, sizeof full, probe->path, name) != 0) return;
  if (FILE* file = Platform_OpenRegularFile(full)) {
    std::fclose(file);
    probe->present = 1;
  }
}
