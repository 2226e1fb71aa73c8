// Catalog refresh: brings a dictionary directory's qor9999.dct up to date with the files it
// holds and loads it, and the pair of directories plus correction probe of one open or copy.
#include "catalog/catalog_refresh.h"

#include <cstring>

#include "base/byte_order.h"
#include "base/mem.h"
#include "base/num_text.h"
#include "files/file_names.h"
#include "platform/platform.h"

namespace {

constexpr KeySpec kCataloguedDictKeys[] = {TextKey(1), TextKey(2), TextKey(3), TextKey(4),
                                           TextKey(5)};
constexpr KeySpec kByFirstTwo[] = {TextKey(1), TextKey(2)};
constexpr KeySpec kByFirst[] = {TextKey(1)};

uint8_t StatusOf(const uint8_t* status, const char* number) {
  const uint32_t n = DecimalValue(number);
  return n < kScanStatusSize ? status[n] : kScanAbsent;
}

// Appends every row of the index (in order) whose dictionary number (field 1) has the
// wanted status. 0, or -1 when an append failed.
int CopyRowsByIndex(RowIndex* index, const uint8_t* status, uint8_t wanted, RowList* out) {
  char* f[5];
  uint16_t n;
  RowIndex_Rewind(index);
  while (RowIndex_Next(index, f, &n, 5) == 0) {
    if (n == 0 || StatusOf(status, f[0]) != wanted) continue;
    if (RowList_Append(out, f, n) != 0) return -1;
  }
  return 0;
}

// The same for the rows of a list in list order.
int CopyRowsByList(RowList* list, const uint8_t* status, uint8_t wanted, RowList* out) {
  char* f[5];
  uint16_t n;
  if (RowList_Rewind(list) != 0) return 0;
  while (RowList_Next(list, f, &n, 5) == 0) {
    if (n == 0 || StatusOf(status, f[0]) != wanted) continue;
    if (RowList_Append(out, f, n) != 0) return -1;
  }
  return 0;
}

int MergeTable(RowIndex* catalogued, RowList* fresh, const uint8_t* status, RowList* merged,
               RowIndex* mergedIndex, const KeySpec* keys, uint16_t keyCount) {
  if (CopyRowsByIndex(catalogued, status, kScanUnchanged, merged) != 0) return -1;
  if (CopyRowsByList(fresh, status, kScanChanged, merged) != 0) return -1;
  return RowIndex_BuildSorted(merged, mergedIndex, keys, keyCount);
}

}  // namespace

namespace {

// The image's dictionary rows, indexed: kOk, or kOutOfMemory.
Result DictRowsOf(const DirCatalog* image, CatalogRows* rows) {
  for (uint32_t i = 0; i < image->dictCount; ++i) {
    CatalogDictRow row;
    if (DirCatalog_DictRow(image, i, &row) != 0) break;
    char number[5], date[9], time[5], edition1[9], edition2[5];
    std::memcpy(number, NumText(row.number, 4), 5);
    std::memcpy(date, NumText(row.date, 8), 9);
    std::memcpy(time, NumText(row.time, 4), 5);
    std::memcpy(edition1, NumText(row.edition1, 8), 9);
    std::memcpy(edition2, NumText(row.edition2, 4), 5);
    const char* f[] = {number, date, time, edition1, edition2};
    if (RowList_Append(&rows->dictRows, f, 5) != 0) return Result::kOutOfMemory;
  }
  return RowIndex_BuildSorted(&rows->dictRows, &rows->dictIndex, kCataloguedDictKeys, 5) == 0
             ? Result::kOk
             : Result::kOutOfMemory;
}

// The image's region and prefix rows, indexed: kOk, or kOutOfMemory.
Result RegionAndPrefixRowsOf(const DirCatalog* image, CatalogRows* rows) {
  for (uint32_t i = 0; i < image->regionCount; ++i) {
    CatalogRegionRecord rec;
    if (DirCatalog_RegionRecord(image, i, &rec) != 0) break;
    char number[5], code[6];
    std::memcpy(number, NumText(rec.dictNumber, 4), 5);
    std::memcpy(code, NumText(rec.code, 5), 6);
    const char* f[] = {number, code, rec.name1, rec.name2};
    if (RowList_Append(&rows->regionRows, f, 4) != 0) return Result::kOutOfMemory;
  }
  if (RowIndex_BuildSorted(&rows->regionRows, &rows->regionIndex, kByFirstTwo, 2) != 0) {
    return Result::kOutOfMemory;
  }

  PrefixCursor cursor;
  PrefixCursor_Start(&cursor, image);
  uint32_t prefix, n;
  const uint8_t* dicts;
  while (PrefixCursor_Next(&cursor, &prefix, &dicts, &n) == 0) {
    char prefixText[5];
    std::memcpy(prefixText, NumText(prefix, 4), 5);
    for (uint32_t k = 0; k < n; ++k) {
      uint16_t d;
      GetU16BE(dicts + 2 * k, &d);
      char number[5];
      std::memcpy(number, NumText(d, 4), 5);
      const char* f[] = {number, prefixText};
      if (RowList_Append(&rows->prefixRows, f, 2) != 0) return Result::kOutOfMemory;
    }
  }
  return RowIndex_BuildSorted(&rows->prefixRows, &rows->prefixIndex, kByFirstTwo, 2) == 0
             ? Result::kOk
             : Result::kOutOfMemory;
}

}  // namespace

// Whether a dictionary of the probe range is changed, new or missing.
bool Catalog_MustRewrite(const uint8_t* status) {
  for (uint32_t n = 0; n < kScanStatusSize; ++n) {
    if (InProbeRange(n) && (status[n] == kScanChanged || status[n] == kScanMissing)) return true;
  }
  return false;
}

Result Catalog_Merge(CatalogRows* catalogued, CatalogRows* fresh, CatalogRows* merged,
                     const uint8_t* status) {
  if (!Catalog_MustRewrite(status)) return Result::kOk;
  if (MergeTable(&catalogued->dictIndex, &fresh->dictRows, status, &merged->dictRows,
                 &merged->dictIndex, kByFirst, 1) != 0 ||
      MergeTable(&catalogued->regionIndex, &fresh->regionRows, status, &merged->regionRows,
                 &merged->regionIndex, kByFirstTwo, 2) != 0 ||
      MergeTable(&catalogued->prefixIndex, &fresh->prefixRows, status, &merged->prefixRows,
                 &merged->prefixIndex, kByFirstTwo, 2) != 0) {
    return Result::kOutOfMemory;
  }
  return Result::kOk;
}

Result DirCatalog_Load(DirCatalog* image, const char* path, CatalogWrite write) {
  if (path[0] == '\0') {  // no directory given
    DirCatalog_Clear(image, path);
    return Result::kOk;
  }
  const Result answer = DirCatalog_Read(path, image);
  if (answer == Result::kOutOfMemory) return answer;
  uint8_t* status = static_cast<uint8_t*>(Mem_Alloc(kScanStatusSize));
  if (!status) return Result::kOutOfMemory;
  CatalogRows catalogued, fresh, merged;
  CatalogRows_Init(&catalogued);
  CatalogRows_Init(&fresh);
  CatalogRows_Init(&merged);
  // Every step below fails only for want of memory.
  Result result = Result::kOk;
  bool written = false;
  // The scan needs only the dictionary rows; the region and prefix rows are made when the
  // catalog is rewritten (a current catalog, the common case, needs none of them).
  if (answer == Result::kOk) result = DictRowsOf(image, &catalogued);
  const uint64_t catalogMinute = FileTime_Minutes(image->fileDate, image->fileTime);
  if (result == Result::kOk) {
    result = Dir_Scan(image->path, &catalogued, catalogMinute, &fresh, status,
                      write == kCatalogMayWrite);
  }
  if (result == Result::kOk && answer == Result::kOk && Catalog_MustRewrite(status)) {
    result = RegionAndPrefixRowsOf(image, &catalogued);
  }
  if (result == Result::kOk) {
    result = Catalog_Merge(&catalogued, &fresh, &merged, status);
    if (result == Result::kOk && Catalog_MustRewrite(status)) {
      // A search keeps the files as they are; a directory that cannot take the catalog
      // (read-only, full) is still used as its files are now. Either way the image is made
      // from the merged rows instead of the file.
      const Result wrote =
          write == kCatalogMayWrite ? Catalog_Write(image, &merged) : Result::kIoFailure;
      if (wrote == Result::kOutOfMemory) result = wrote;
      written = wrote == Result::kOk;
      const bool kept = wrote == Result::kDamaged || wrote == Result::kIoFailure;
      if (kept && DirCatalog_FromRows(image, &merged) == Result::kOutOfMemory) {
        result = Result::kOutOfMemory;
      }
    }
  }
  CatalogRows_Free(&merged);
  CatalogRows_Free(&fresh);
  CatalogRows_Free(&catalogued);
  Mem_Free(status);
  if (result != Result::kOk) return result;
  // Load the image from the file now on disk; when nothing was written the image already
  // holds it (or the same answer, no file or damaged, would come again).
  if (written) {
    char dir[kPathCapacity];
    std::memcpy(dir, image->path, sizeof dir);
    if (DirCatalog_Read(dir, image) == Result::kOutOfMemory) return Result::kOutOfMemory;
  }
  return Result::kOk;
}

void DirSet_Init(DirSet* set) {
  DirCatalog_Init(&set->catalog1);
  DirCatalog_Init(&set->catalog2);
  CorrectionDir_Probe(&set->correction, "");
}

void DirSet_Free(DirSet* set) {
  DirCatalog_Free(&set->catalog1);
  DirCatalog_Free(&set->catalog2);
}

Result DirSet_Load(DirSet* set, const char* directory1, const char* directory2,
                   const char* correctionDirectory, CatalogWrite write) {
  Result result = DirCatalog_Load(&set->catalog1, directory1, write);
  if (result == Result::kOk) result = DirCatalog_Load(&set->catalog2, directory2, write);
  if (result == Result::kOk) CorrectionDir_Probe(&set->correction, correctionDirectory);
  return result;
}
