// Dictionary copy (Qor_CopyDic): copies the files, refreshes both directories and rebuilds
// the destination's catalog from the two catalog images.
#include "copy/copy_dic.h"

#include <cstring>

#include "base/byte_order.h"
#include "base/mem.h"
#include "base/num_text.h"
#include "catalog/catalog_refresh.h"
#include "files/file_names.h"
#include "platform/platform.h"

namespace {

constexpr KeySpec kDictKeys[] = {TextKey(1)};
constexpr KeySpec kRegionKeys[] = {TextKey(1)};
constexpr KeySpec kPrefixKeys[] = {TextKey(1), TextKey(2)};

// The highest number a request may copy: qor9999.dct is the catalog, which the copy
// rebuilds rather than takes over.
constexpr int32_t kCopyNumberMax = 9998;

bool Selected(const uint8_t* marked, uint32_t number, CopySelection selection) {
  const bool isMarked = number < kCopyMarkCount && marked[number] != 0;
  return isMarked == (selection == kCopyMarked);
}

// Copies source + "qorNNNN.dct" over destination + "qorNNNN.dct". 0 or -1.
int CopyOneFile(const char* source, const char* destination, int32_t number) {
  if (number < 0 || number > kCopyNumberMax) return -1;
  char name[kDictFileNameLength + 1];
  char from[kPathCapacity], to[kPathCapacity];
  Dict_FileName(static_cast<uint32_t>(number), name);
  if (Path_Join(from, sizeof from, source, name) != 0 ||
      Path_Join(to, sizeof to, destination, name) != 0) {
    return -1;
  }
  return File_CopyReplace(from, to);
}

// A copied dictionary is taken from the source only when the source's catalog describes it;
// otherwise (a source whose catalog could not be written, a number outside the scanned
// range) it keeps the destination's rows, which the refresh has just read from the copy.
void MarkListed(const DirCatalog* source, const uint8_t* copied, uint8_t* marked) {
  std::memset(marked, 0, kCopyMarkCount);
  for (uint32_t i = 0; i < source->dictCount; ++i) {
    CatalogDictRow row;
    if (DirCatalog_DictRow(source, i, &row) != 0) break;
    if (row.number < kCopyMarkCount && copied[row.number]) marked[row.number] = 1;
  }
}

int CollectAll(const DirSet* set, const uint8_t* marked, CatalogRows* rows) {
  const DirCatalog* destination = &set->catalog1;
  const DirCatalog* source = &set->catalog2;
  if (CopyDic_CollectDictRows(&rows->dictRows, destination, kCopyUnmarked, marked) != 0 ||
      CopyDic_CollectDictRows(&rows->dictRows, source, kCopyMarked, marked) != 0 ||
      CopyDic_CollectRegionRows(&rows->regionRows, destination, kCopyUnmarked, marked) != 0 ||
      CopyDic_CollectRegionRows(&rows->regionRows, source, kCopyMarked, marked) != 0 ||
      CopyDic_CollectPrefixRows(&rows->prefixRows, destination, kCopyUnmarked, marked) != 0 ||
      CopyDic_CollectPrefixRows(&rows->prefixRows, source, kCopyMarked, marked) != 0) {
    return -1;
  }
  // Equal keys keep their list order: kept destination rows before source rows.
  if (RowIndex_BuildSorted(&rows->dictRows, &rows->dictIndex, kDictKeys, 1) != 0 ||
      RowIndex_BuildSorted(&rows->regionRows, &rows->regionIndex, kRegionKeys, 1) != 0 ||
      RowIndex_BuildSorted(&rows->prefixRows, &rows->prefixIndex, kPrefixKeys, 2) != 0) {
    return -1;
  }
  return 0;
}

}  // namespace

int CopyDic_CollectDictRows(RowList* rows, const DirCatalog* image, CopySelection selection,
                            const uint8_t* marked) {
  for (uint32_t i = 0; i < image->dictCount; ++i) {
    CatalogDictRow row;
    if (DirCatalog_DictRow(image, i, &row) != 0) break;
    if (!Selected(marked, row.number, selection)) continue;
    char number[5], date[9], time[9], edition1[9], edition2[9];
    std::memcpy(number, NumText(row.number, 4), 5);
    std::memcpy(date, NumText(row.date, 8), 9);
    std::memcpy(time, NumText(row.time, 8), 9);
    std::memcpy(edition1, NumText(row.edition1, 8), 9);
    std::memcpy(edition2, NumText(row.edition2, 8), 9);
    const char* f[] = {number, date, time, edition1, edition2};
    if (RowList_Append(rows, f, 5) != 0) return -1;
  }
  return 0;
}

int CopyDic_CollectRegionRows(RowList* rows, const DirCatalog* image, CopySelection selection,
                              const uint8_t* marked) {
  for (uint32_t i = 0; i < image->regionCount; ++i) {
    CatalogRegionRecord rec;
    if (DirCatalog_RegionRecord(image, i, &rec) != 0) break;
    if (!Selected(marked, rec.dictNumber, selection)) continue;
    char code[6], number[5];
    std::memcpy(code, NumText(rec.code, 5), 6);
    std::memcpy(number, NumText(rec.dictNumber, 4), 5);
    const char* f[] = {code, rec.name1, rec.name2, number};
    if (RowList_Append(rows, f, 4) != 0) return -1;
  }
  return 0;
}

int CopyDic_CollectPrefixRows(RowList* rows, const DirCatalog* image, CopySelection selection,
                              const uint8_t* marked) {
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
      if (!Selected(marked, d, selection)) continue;
      char number[5];
      std::memcpy(number, NumText(d, 4), 5);
      const char* f[] = {prefixText, number};
      if (RowList_Append(rows, f, 2) != 0) return -1;
    }
  }
  return 0;
}

int CopyDic_PackRegionTable(RowIndex* index, PackedRegionTable* table, uint32_t dictLimit) {
  return Catalog_PackRegionRows(index, table, RegionRowColumns{0, 1, 2, 3}, dictLimit);
}

int CopyDic_PackPrefixTable(RowIndex* index, PackedTable* table, uint32_t dictLimit) {
  return Catalog_PackPrefixRows(index, table, PrefixRowColumns{0, 1}, dictLimit);
}

Result CopyDic_RebuildCatalog(const char* source, const char* destination,
                              const uint8_t* copied) {
  DirSet* set = static_cast<DirSet*>(Mem_Alloc(sizeof(DirSet)));
  uint8_t* marked = static_cast<uint8_t*>(Mem_Alloc(kCopyMarkCount));
  Result result = Result::kOutOfMemory;
  if (set) DirSet_Init(set);
  if (set && marked && DirSet_Load(set, destination, source, "") == Result::kOk) {
    MarkListed(&set->catalog2, copied, marked);
    CatalogRows rows;
    CatalogRows_Init(&rows);
    if (CollectAll(set, marked, &rows) == 0) {
      result = Catalog_WriteRows(set->catalog1.path, &rows, CopyDic_PackRegionTable,
                                 CopyDic_PackPrefixTable);
    }
    CatalogRows_Free(&rows);
  }
  if (set) DirSet_Free(set);
  Mem_Free(marked);
  Mem_Free(set);
  return result;
}

int32_t CopyDic_Install(const char* from, const char* to, const int32_t* numbers, int32_t count) {
  // Room first: what killed installs left behind goes before anything is copied.
  Temp_RemoveStale(to);
  uint8_t copied[kCopyMarkCount] = {};
  int32_t total = 0;
  for (int32_t i = 0; i < count; ++i) {
    if (CopyOneFile(from, to, numbers[i]) != 0) continue;
    ++total;
    if (static_cast<uint32_t>(numbers[i]) < kCopyMarkCount) copied[numbers[i]] = 1;
  }
  // The catalog work reports nothing: the copied files are in place whatever it achieves,
  // and the next open brings a catalog that it had to leave stale up to date.
  CopyDic_RebuildCatalog(from, to, copied);
  return total;
}
