// The catalog file qor9999.dct: its in-memory image, the checked reader, and the writer with
// its packing steps.
#include "catalog/catalog_file.h"

#include <cstring>

#include "base/byte_order.h"
#include "base/damage.h"
#include "base/file_io.h"
#include "base/mem.h"
#include "base/num_text.h"
#include "platform/platform.h"
#include "dict/dict_format.h"
#include "files/file_names.h"

namespace {

constexpr uint32_t kSize1Offset = 12;
constexpr uint32_t kSize2Offset = 16;
constexpr uint32_t kSize3Offset = 20;
constexpr uint32_t kTotalSizeOffset = 8;

void CatalogFileName(char* out) { Dict_FileName(kCatalogDictNumber, out); }

// Region records and the name area of the image.
ByteReader RegionRecords(const DirCatalog* image) {
  return ByteReader_Make(image->regionBody,
                         size_t{image->regionCount} * kCatalogRegionRecordSize);
}

bool NameAt(const DirCatalog* image, uint32_t offset, size_t maxLen, const char** out) {
  const size_t areaStart = size_t{image->regionCount} * kCatalogRegionRecordSize;
  if (areaStart > image->regionLength || offset >= image->regionLength - areaStart) return false;
  ByteReader r = ByteReader_Make(image->regionBody + areaStart + offset,
                                 image->regionLength - areaStart - offset);
  size_t len;
  return ByteReader_CString(&r, maxLen, out, &len);
}

// Every table parses and holds only what the writer can produce, so every reader of the
// image sees the same rows, whether it walks a table by its length or by its count.
Result DirCatalog_Check(const DirCatalog* image) {
  QOR_CHECK(uint32_t{image->dictCount} * kCatalogDictRowSize == image->dictLength);
  for (uint32_t i = 0; i < image->dictCount; ++i) {
    CatalogDictRow row;
    QOR_CHECK(DirCatalog_DictRow(image, i, &row) == 0);
    QOR_CHECK(row.number < kCatalogNumberLimit);
  }
  QOR_CHECK(size_t{image->regionCount} * kCatalogRegionRecordSize <= image->regionLength);
  for (uint32_t i = 0; i < image->regionCount; ++i) {
    CatalogRegionRecord rec;
    QOR_CHECK(DirCatalog_RegionRecord(image, i, &rec) == 0);
    QOR_CHECK(rec.dictNumber < kCatalogNumberLimit);
  }
  PrefixCursor cursor;
  PrefixCursor_Start(&cursor, image);
  uint32_t prefix, n, groups = 0;
  const uint8_t* dicts;
  while (PrefixCursor_Next(&cursor, &prefix, &dicts, &n) == 0) {
    QOR_CHECK(prefix < kCatalogNumberLimit);
    for (uint32_t k = 0; k < n; ++k) {
      uint16_t d;
      GetU16BE(dicts + 2 * k, &d);
      QOR_CHECK(d < kCatalogNumberLimit);
    }
    ++groups;
  }
  QOR_CHECK(groups == image->prefixCount && ByteReader_AtEnd(&cursor.reader));
  return Result::kOk;
}

void ClearTables(DirCatalog* image) {
  std::memset(image->header, 0, sizeof image->header);
  Mem_Free(image->tables);
  image->tables = nullptr;
  image->dictCount = 0;
  image->dictRows = nullptr;
  image->dictLength = 0;
  image->regionCount = 0;
  image->regionBody = nullptr;
  image->regionLength = 0;
  image->prefixCount = 0;
  image->prefixBody = nullptr;
  image->prefixLength = 0;
  image->loaded = 0;
  image->fileDate = 0;
  image->fileTime = 0;
}

// Reads the u16 count at offset and the size - 2 bytes after it into body.
bool ReadTable(FILE* file, uint64_t offset, uint32_t size, uint16_t* count, uint8_t* body) {
  uint8_t word[2];
  if (!File_ReadAt(file, offset, word, 2)) return false;
  GetU16BE(word, count);
  return File_ReadAt(file, offset + 2, body, size - 2);
}

// kOk, kDamaged, or kOutOfMemory when the tables cannot be allocated.
Result ReadOpenCatalog(FILE* file, DirCatalog* image) {
  const int64_t fileSize = File_Size(file);
  QOR_CHECK(fileSize >= kCatalogHeaderSize);
  QOR_CHECK(File_ReadAt(file, 0, image->header, kCatalogHeaderSize));
  uint32_t size1, size2, size3;
  GetU32BE(image->header + kSize1Offset, &size1);
  GetU32BE(image->header + kSize2Offset, &size2);
  GetU32BE(image->header + kSize3Offset, &size3);
  QOR_CHECK(size1 >= 2 && size1 - 2 <= kCatalogDictTableMax);
  QOR_CHECK(size2 >= 2 && size2 - 2 <= kCatalogRegionTableMax);
  QOR_CHECK(size3 >= 2 && size3 - 2 <= kCatalogPrefixTableMax);
  QOR_CHECK(uint64_t{kCatalogHeaderSize} + size1 + size2 + size3 <=
            static_cast<uint64_t>(fileSize));
  uint8_t* tables = static_cast<uint8_t*>(Mem_Alloc(size_t{size1} + size2 + size3 - 6));
  if (!tables) {
    // No damage of the file: the tables are not read for want of memory.
    return Result::kOutOfMemory;
  }
  image->tables = tables;
  image->dictRows = tables;
  image->regionBody = tables + (size1 - 2);
  image->prefixBody = image->regionBody + (size2 - 2);
  QOR_CHECK(ReadTable(file, kCatalogHeaderSize, size1, &image->dictCount, tables));
  image->dictLength = size1 - 2;
  QOR_CHECK(ReadTable(file, uint64_t{kCatalogHeaderSize} + size1, size2, &image->regionCount,
                      tables + (size1 - 2)));
  image->regionLength = size2 - 2;
  QOR_CHECK(ReadTable(file, uint64_t{kCatalogHeaderSize} + size1 + size2, size3,
                      &image->prefixCount, tables + (size1 - 2) + (size2 - 2)));
  image->prefixLength = size3 - 2;
  return DirCatalog_Check(image);
}

bool Fits(uint32_t used, uint32_t n, uint32_t capacity) { return n <= capacity - used; }

}  // namespace

void DirCatalog_Init(DirCatalog* image) {
  image->path[0] = '\0';
  image->tables = nullptr;
  ClearTables(image);
}

void DirCatalog_Free(DirCatalog* image) {
  ClearTables(image);
  image->path[0] = '\0';
}

void DirCatalog_Clear(DirCatalog* image, const char* path) {
  const size_t len = strnlen(path, kPathCapacity - 1);
  std::memmove(image->path, path, len);
  image->path[len] = '\0';
  ClearTables(image);
}

Result DirCatalog_Read(const char* path, DirCatalog* image) {
  DirCatalog_Clear(image, path);
  if (image->path[0] == '\0') return Result::kNotFound;
  char name[kDictFileNameLength + 1];
  char full[kPathCapacity];
  CatalogFileName(name);
  if (Path_Join(full, sizeof full, image->path, name) != 0) return Result::kNotFound;
  FILE* file = Platform_OpenRegularFile(full);
  if (!file) return Result::kNotFound;
  const Result read = ReadOpenCatalog(file, image);
  LocalTime written{};
  const bool timeKnown = Platform_FileTime(file, &written) == 0;
  std::fclose(file);
  if (read != Result::kOk) {
    ClearTables(image);
    return read;
  }
  image->loaded = 1;
  if (timeKnown) {
    image->fileDate =
        static_cast<uint32_t>(written.year * 10000 + written.month * 100 + written.day);
    image->fileTime = static_cast<uint32_t>(written.hour * 100 + written.minute);
  }
  return Result::kOk;
}

int DirCatalog_DictRow(const DirCatalog* image, uint32_t i, CatalogDictRow* out) {
  ByteReader r = ByteReader_Make(image->dictRows, image->dictLength);
  uint32_t number;
  if (!ByteReader_Skip(&r, size_t{i} * kCatalogDictRowSize) || !ByteReader_U16(&r, &number) ||
      !ByteReader_U32(&r, &out->date) || !ByteReader_U32(&r, &out->time) ||
      !ByteReader_U32(&r, &out->edition1) || !ByteReader_U32(&r, &out->edition2)) {
    return -1;
  }
  out->number = number;
  return 0;
}

int DirCatalog_RegionRecord(const DirCatalog* image, uint32_t i, CatalogRegionRecord* out) {
  if (i >= image->regionCount) return -1;
  ByteReader r = RegionRecords(image);
  uint32_t offset1, offset2;
  if (!ByteReader_Skip(&r, size_t{i} * kCatalogRegionRecordSize) ||
      !ByteReader_U16(&r, &out->code) || !ByteReader_U16(&r, &offset1) ||
      !ByteReader_U16(&r, &offset2) || !ByteReader_U16(&r, &out->dictNumber)) {
    return -1;
  }
  if (!NameAt(image, offset1, kCatalogName1Max, &out->name1) ||
      !NameAt(image, offset2, kCatalogName2Max, &out->name2)) {
    return -1;
  }
  return 0;
}

void PrefixCursor_Start(PrefixCursor* cursor, const DirCatalog* image) {
  cursor->reader = ByteReader_Make(image->prefixBody, image->prefixLength);
  cursor->groupsLeft = image->prefixCount;
}

int PrefixCursor_Next(PrefixCursor* cursor, uint32_t* prefix, const uint8_t** dicts,
                      uint32_t* n) {
  if (cursor->groupsLeft == 0) return -1;
  ByteReader r = cursor->reader;
  uint8_t count;
  if (!ByteReader_U16(&r, prefix) || !ByteReader_U8(&r, &count) ||
      !ByteReader_Bytes(&r, size_t{count} * 2, dicts)) {
    return -1;
  }
  *n = count;
  cursor->reader = r;
  --cursor->groupsLeft;
  return 0;
}

void PackedTable_Init(PackedTable* table) {
  table->data = nullptr;
  table->capacity = table->used = 0;
  table->count = 0;
}

void PackedTable_Free(PackedTable* table) {
  Mem_Free(table->data);
  PackedTable_Init(table);
}

void PackedRegionTable_Init(PackedRegionTable* table) {
  table->records = table->names = nullptr;
  table->recordCapacity = table->recordBytes = 0;
  table->nameCapacity = table->nameBytes = 0;
  table->count = 0;
}

void PackedRegionTable_Free(PackedRegionTable* table) {
  Mem_Free(table->records);
  Mem_Free(table->names);
  PackedRegionTable_Init(table);
}

int PackedTable_Reserve(PackedTable* table, uint32_t bytes) {
  if (bytes > table->capacity) {
    PackedTable_Free(table);
    table->data = static_cast<uint8_t*>(Mem_Alloc(bytes));
    if (!table->data) return -1;
    table->capacity = bytes;
  }
  table->used = 0;
  table->count = 0;
  return 0;
}

int PackedRegionTable_Reserve(PackedRegionTable* table, uint32_t records, uint32_t nameBytes) {
  if (records > table->recordCapacity || nameBytes > table->nameCapacity) {
    PackedRegionTable_Free(table);
    table->records = static_cast<uint8_t*>(Mem_Alloc(records));
    table->names = static_cast<uint8_t*>(Mem_Alloc(nameBytes));
    if (!table->records || !table->names) {
      PackedRegionTable_Free(table);
      return -1;
    }
    table->recordCapacity = records;
    table->nameCapacity = nameBytes;
  }
  table->recordBytes = table->nameBytes = 0;
  table->count = 0;
  return 0;
}

void RegionPack_Start(RegionPackState* state) {
  state->started = false;
  state->name1Offset = 0;
  state->name1[0] = '\0';
}

int Catalog_PackRegionRecord(PackedRegionTable* table, RegionPackState* state, uint32_t code,
                             const char* name1, const char* name2, uint32_t dictNumber) {
  const size_t len1 = strnlen(name1, kCatalogName1Max + 1);
  const size_t len2 = strnlen(name2, kCatalogName2Max + 1);
  if (len1 > kCatalogName1Max || len2 > kCatalogName2Max) return -1;
  if (code > 0xFFFF || dictNumber > 0xFFFF || table->count == kCatalogCountMax) return -1;
  const bool shared = state->started && std::strcmp(name1, state->name1) == 0;
  const uint32_t nameBytes = (shared ? 0 : len1 + 1) + len2 + 1;
  const uint32_t offset2 = table->nameBytes + (shared ? 0 : len1 + 1);
  if (offset2 > kCatalogNameOffsetMax ||
      !Fits(table->recordBytes, kCatalogRegionRecordSize, table->recordCapacity) ||
      !Fits(table->nameBytes, nameBytes, table->nameCapacity)) {
    return -1;
  }
  if (!shared) {
    state->name1Offset = table->nameBytes;
    std::memcpy(state->name1, name1, len1 + 1);
    state->started = true;
    std::memcpy(table->names + table->nameBytes, name1, len1 + 1);
    table->nameBytes += static_cast<uint32_t>(len1 + 1);
  }
  std::memcpy(table->names + table->nameBytes, name2, len2 + 1);
  table->nameBytes += static_cast<uint32_t>(len2 + 1);
  uint8_t* rec = table->records + table->recordBytes;
  PutU16BE(rec, code);
  PutU16BE(rec + 2, state->name1Offset);
  PutU16BE(rec + 4, offset2);
  PutU16BE(rec + 6, dictNumber);
  table->recordBytes += kCatalogRegionRecordSize;
  ++table->count;
  return 0;
}

void PrefixPack_Start(PrefixPackState* state) {
  state->prefix = 0xFFFF;
  state->countPos = 0;
  state->groupSize = 0;
}

int Catalog_PackPrefixEntry(PackedTable* table, PrefixPackState* state, uint32_t prefix,
                            uint32_t dictNumber) {
  if (prefix > 0xFFFF || dictNumber > 0xFFFF) return -1;
  const bool newGroup =
      state->groupSize == 0 || prefix != state->prefix || state->groupSize >= kPrefixGroupMax;
  if (!Fits(table->used, newGroup ? 5 : 2, table->capacity)) return -1;
  if (newGroup) {
    if (table->count == kCatalogCountMax) return -1;
    PutU16BE(table->data + table->used, prefix);
    state->countPos = table->used + 2u;
    table->data[state->countPos] = 0;
    table->used += 3;
    ++table->count;
    state->prefix = prefix;
    state->groupSize = 0;
  }
  PutU16BE(table->data + table->used, dictNumber);
  table->used += 2;
  table->data[state->countPos] = static_cast<uint8_t>(++state->groupSize);
  return 0;
}

namespace {

// Room for the index's rows at perRow bytes each, but no more than a table of the format
// can use (the packers refuse what lies beyond); at least 1 byte.
uint32_t RoomFor(const RowIndex* index, uint32_t perRow, uint32_t most) {
  const uint64_t bytes = uint64_t{index->rowCount} * perRow;
  if (bytes == 0) return 1;
  return bytes < most ? static_cast<uint32_t>(bytes) : most;
}

}  // namespace

int Catalog_PackDictTable(RowIndex* index, PackedTable* table, uint32_t dictLimit) {
  if (PackedTable_Reserve(table, RoomFor(index, kCatalogDictRowSize, kCatalogDictTableMax)) != 0) {
    return -1;
  }
  RowIndex_Rewind(index);
  char* f[5];
  uint16_t n;
  while (RowIndex_Next(index, f, &n, 5) == 0) {
    if (n < 5) return 1;
    const uint32_t number = DecimalValue(f[0]);
    if (number >= dictLimit) continue;
    if (number > 0xFFFF || table->count == kCatalogCountMax ||
        !Fits(table->used, kCatalogDictRowSize, table->capacity)) {
      return 1;
    }
    uint8_t* p = table->data + table->used;
    PutU16BE(p, number);
    PutU32BE(p + 2, DecimalValue(f[1]));
    PutU32BE(p + 6, DecimalValue(f[2]));
    PutU32BE(p + 10, DecimalValue(f[3]));
    PutU32BE(p + 14, DecimalValue(f[4]));
    table->used += kCatalogDictRowSize;
    ++table->count;
  }
  return 0;
}

int Catalog_PackRegionTable(RowIndex* index, PackedRegionTable* table, uint32_t dictLimit) {
  return Catalog_PackRegionRows(index, table, RegionRowColumns{1, 2, 3, 0}, dictLimit);
}

int Catalog_PackPrefixTable(RowIndex* index, PackedTable* table, uint32_t dictLimit) {
  return Catalog_PackPrefixRows(index, table, PrefixRowColumns{1, 0}, dictLimit);
}

int Catalog_PackRegionRows(RowIndex* index, PackedRegionTable* table, RegionRowColumns columns,
                           uint32_t dictLimit) {
  // Two names per record at most; no name starts beyond the highest offset.
  constexpr uint32_t kNamesPerRecord = kCatalogName1Max + kCatalogName2Max + 2;
  constexpr uint32_t kRecordsMax = kCatalogCountMax * kCatalogRegionRecordSize;
  if (PackedRegionTable_Reserve(
          table, RoomFor(index, kCatalogRegionRecordSize, kRecordsMax),
          RoomFor(index, kNamesPerRecord, kCatalogNameOffsetMax + kCatalogName2Max + 1)) != 0) {
    return -1;
  }
  RegionPackState state;
  RegionPack_Start(&state);
  RowIndex_Rewind(index);
  constexpr uint16_t kFields = 4;
  if (columns.code >= kFields || columns.name1 >= kFields || columns.name2 >= kFields ||
      columns.dictNumber >= kFields) {
    return 1;
  }
  char* f[kFields];
  uint16_t n;
  while (RowIndex_Next(index, f, &n, kFields) == 0) {
    if (n < kFields) return 1;
    const uint32_t dictNumber = DecimalValue(f[columns.dictNumber]);
    if (dictNumber >= dictLimit) continue;
    if (Catalog_PackRegionRecord(table, &state, DecimalValue(f[columns.code]), f[columns.name1],
                                 f[columns.name2], dictNumber) != 0) {
      return 1;
    }
  }
  return 0;
}

int Catalog_PackPrefixRows(RowIndex* index, PackedTable* table, PrefixRowColumns columns,
                           uint32_t dictLimit) {
  // A row adds at most a group head (3 bytes) and a number (2).
  if (PackedTable_Reserve(table, RoomFor(index, 5, kCatalogPrefixTableMax)) != 0) return -1;
  PrefixPackState state;
  PrefixPack_Start(&state);
  RowIndex_Rewind(index);
  constexpr uint16_t kFields = 2;
  if (columns.prefix >= kFields || columns.dictNumber >= kFields) return 1;
  char* f[kFields];
  uint16_t n;
  while (RowIndex_Next(index, f, &n, kFields) == 0) {
    if (n < kFields) return 1;
    const uint32_t dictNumber = DecimalValue(f[columns.dictNumber]);
    if (dictNumber >= dictLimit) continue;
    if (Catalog_PackPrefixEntry(table, &state, DecimalValue(f[columns.prefix]), dictNumber) !=
        0) {
      return 1;
    }
  }
  return 0;
}

void Catalog_MakeHeader(uint8_t* header, const PackedTable* dict, const PackedRegionTable* region,
                        const PackedTable* prefix) {
  std::memset(header, 0, kCatalogHeaderSize);
  std::memcpy(header, "ABCD", 4);
  std::memcpy(header + 4, "3.00", 4);
  const uint32_t size1 = dict->used + 2u;
  const uint32_t size2 = region->recordBytes + region->nameBytes + 2u;
  const uint32_t size3 = prefix->used + 2u;
  PutU32BE(header + kSize1Offset, size1);
  PutU32BE(header + kSize2Offset, size2);
  PutU32BE(header + kSize3Offset, size3);
  PutU32BE(header + kTotalSizeOffset, kCatalogHeaderSize + size1 + size2 + size3);
}

namespace {

// The pieces of a catalog file in order: header, then each table's count and bytes.
struct CatalogPieces {
  const uint8_t* data[8];
  uint32_t size[8];
  uint8_t counts[6];
};

void MakePieces(const uint8_t* header, const PackedTable* dict, const PackedRegionTable* region,
                const PackedTable* prefix, CatalogPieces* p) {
  PutU16BE(p->counts, dict->count);
  PutU16BE(p->counts + 2, region->count);
  PutU16BE(p->counts + 4, prefix->count);
  const uint8_t* data[8] = {header,          p->counts,       dict->data,   p->counts + 2,
                            region->records, region->names,   p->counts + 4, prefix->data};
  const uint32_t size[8] = {kCatalogHeaderSize, 2, dict->used,       2, region->recordBytes,
                            region->nameBytes,  2, prefix->used};
  std::memcpy(p->data, data, sizeof data);
  std::memcpy(p->size, size, sizeof size);
}

// Whether the file at path holds exactly these pieces.
bool FileHolds(const char* path, const CatalogPieces& p) {
  FILE* file = Platform_OpenRegularFile(path);
  if (!file) return false;
  size_t total = 0;
  for (uint32_t size : p.size) total += size;
  bool same = File_Size(file) == static_cast<int64_t>(total);
  uint8_t* buffer = same ? static_cast<uint8_t*>(Mem_Alloc(total)) : nullptr;
  same = buffer && File_ReadAt(file, 0, buffer, total);
  for (size_t i = 0, at = 0; same && i < 8; at += p.size[i], ++i) {
    same = p.size[i] == 0 || std::memcmp(buffer + at, p.data[i], p.size[i]) == 0;
  }
  Mem_Free(buffer);
  std::fclose(file);
  return same;
}

}  // namespace

int Catalog_WriteFile(const char* dir, const uint8_t* header, const PackedTable* dict,
                      const PackedRegionTable* region, const PackedTable* prefix) {
  char name[kDictFileNameLength + 1];
  char path[kDirPathMax + kDictFileNameLength + 1];
  CatalogFileName(name);
  if (Path_Join(path, sizeof path, dir, name) != 0) return -1;
  if (dict->count == 0) return Platform_DeleteFile(path);
  CatalogPieces pieces;
  MakePieces(header, dict, region, prefix, &pieces);
  FilePiece file[8];
  for (int i = 0; i < 8; ++i) file[i] = FilePiece{pieces.data[i], pieces.size[i]};
  return File_WriteReplace(path, file, 8);
}

namespace {

struct PackTarget {
  CatalogRows* rows;
  CatalogRegionPacker packRegions;
  CatalogPrefixPacker packPrefixes;
  PackedTable* dict;
  PackedRegionTable* region;
  PackedTable* prefix;
};

// Packs the rows of the dictionaries below dictLimit: kCatalogFits, the table that broke a
// limit, or -1 when storage cannot be allocated.
int PackBelow(const PackTarget& t, uint32_t dictLimit) {
  const int dict = Catalog_PackDictTable(&t.rows->dictIndex, t.dict, dictLimit);
  if (dict != 0) return dict < 0 ? -1 : kCatalogDictTable;
  const int region = t.packRegions(&t.rows->regionIndex, t.region, dictLimit);
  if (region != 0) return region < 0 ? -1 : kCatalogRegionTable;
  const int prefix = t.packPrefixes(&t.rows->prefixIndex, t.prefix, dictLimit);
  if (prefix != 0) return prefix < 0 ? -1 : kCatalogPrefixTable;
  return kCatalogFits;
}

}  // namespace

Result Catalog_PackRows(CatalogRows* rows, CatalogRegionPacker packRegions,
                        CatalogPrefixPacker packPrefixes, PackedTable* dict,
                        PackedRegionTable* region, PackedTable* prefix, CatalogFit* fit) {
  const PackTarget t{rows, packRegions, packPrefixes, dict, region, prefix};
  fit->broken = kCatalogFits;
  fit->dictionaries = rows->dictIndex.rowCount;
  fit->kept = fit->dictionaries;
  fit->dictLimit = kNoDictLimit;
  const int all = PackBelow(t, kNoDictLimit);
  if (all < 0) return Result::kOutOfMemory;
  if (all == kCatalogFits) return Result::kOk;
  fit->broken = static_cast<CatalogTable>(all);
  // Leaving dictionaries out only shrinks the tables, so the most that fit are found by
  // halving: kept dictionaries lo fit, hi do not (the dictionary rows are in number order).
  uint32_t* numbers =
      static_cast<uint32_t*>(Mem_Alloc(size_t{fit->dictionaries} * sizeof(uint32_t) + 1));
  if (!numbers) return Result::kOutOfMemory;
  char* f[1];
  uint16_t n;
  uint32_t count = 0;
  RowIndex_Rewind(&rows->dictIndex);
  while (RowIndex_Next(&rows->dictIndex, f, &n, 1) == 0 && count < fit->dictionaries) {
    numbers[count++] = n > 0 ? DecimalValue(f[0]) : 0;
  }
  uint32_t lo = 0, hi = count;
  Result result = Result::kOk;
  while (result == Result::kOk && hi - lo > 1) {
    const uint32_t mid = lo + (hi - lo) / 2;
    const int packed = PackBelow(t, numbers[mid]);
    if (packed < 0) result = Result::kOutOfMemory;
    if (packed == kCatalogFits) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  fit->kept = lo;
  fit->dictLimit = lo < count ? numbers[lo] : kNoDictLimit;
  Mem_Free(numbers);
  if (result != Result::kOk) return result;
  if (lo == 0) return Result::kDamaged;
  const int last = PackBelow(t, fit->dictLimit);
  return last == kCatalogFits ? Result::kOk : last < 0 ? Result::kOutOfMemory : Result::kDamaged;
}

Result Catalog_WriteRows(const char* dir, CatalogRows* rows, CatalogRegionPacker packRegions,
                         CatalogPrefixPacker packPrefixes) {
  uint8_t header[kCatalogHeaderSize];
  PackedTable dict, prefix;
  PackedRegionTable region;
  PackedTable_Init(&dict);
  PackedTable_Init(&prefix);
  PackedRegionTable_Init(&region);
  CatalogFit fit;
  Result result =
      Catalog_PackRows(rows, packRegions, packPrefixes, &dict, &region, &prefix, &fit);
  if (result == Result::kOk) {
    Catalog_MakeHeader(header, &dict, &region, &prefix);
    char name[kDictFileNameLength + 1];
    char path[kPathCapacity];
    CatalogFileName(name);
    CatalogPieces pieces;
    MakePieces(header, &dict, &region, &prefix, &pieces);
    const bool onDisk = fit.kept < fit.dictionaries &&
                        Path_Join(path, sizeof path, dir, name) == 0 && FileHolds(path, pieces);
    if (!onDisk && Catalog_WriteFile(dir, header, &dict, &region, &prefix) != 0) {
      result = Result::kIoFailure;
    }
  }
  PackedTable_Free(&prefix);
  PackedRegionTable_Free(&region);
  PackedTable_Free(&dict);
  return result;
}

Result Catalog_Write(const DirCatalog* image, CatalogRows* rows) {
  return Catalog_WriteRows(image->path, rows, Catalog_PackRegionTable, Catalog_PackPrefixTable);
}

Result DirCatalog_FromRows(DirCatalog* image, CatalogRows* rows) {
  PackedTable dict, prefix;
  PackedRegionTable region;
  PackedTable_Init(&dict);
  PackedTable_Init(&prefix);
  PackedRegionTable_Init(&region);
  CatalogFit fit;
  Result result = Catalog_PackRows(rows, Catalog_PackRegionTable, Catalog_PackPrefixTable,
                                   &dict, &region, &prefix, &fit);
  uint8_t* tables = nullptr;
  if (result == Result::kOk && dict.count != 0) {
    tables = static_cast<uint8_t*>(Mem_Alloc(size_t{dict.used} + region.recordBytes +
                                             region.nameBytes + prefix.used + 1));
    if (tables == nullptr) result = Result::kOutOfMemory;
  }
  if (result == Result::kOk) {
    ClearTables(image);
    if (tables != nullptr) {
      Catalog_MakeHeader(image->header, &dict, &region, &prefix);
      image->tables = tables;
      image->dictCount = dict.count;
      image->dictRows = tables;
      image->dictLength = dict.used;
      std::memcpy(tables, dict.data, dict.used);
      uint8_t* regionBody = tables + dict.used;
      image->regionCount = region.count;
      image->regionBody = regionBody;
      image->regionLength = region.recordBytes + region.nameBytes;
      std::memcpy(regionBody, region.records, region.recordBytes);
      std::memcpy(regionBody + region.recordBytes, region.names, region.nameBytes);
      uint8_t* prefixBody = regionBody + image->regionLength;
      image->prefixCount = prefix.count;
      image->prefixBody = prefixBody;
      image->prefixLength = prefix.used;
      std::memcpy(prefixBody, prefix.data, prefix.used);
      image->loaded = DirCatalog_Check(image) == Result::kOk ? 1 : 0;
    }
  }
  PackedTable_Free(&dict);
  PackedTable_Free(&prefix);
  PackedRegionTable_Free(&region);
  return result;
}
