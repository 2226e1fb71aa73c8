// The catalog file qor9999.dct: its in-memory image, the checked reader, and the writer with
// its packing steps.
#include "catalog/catalog_file.h"

#include <cstring>

#include "base/damage.h"
#include "base/file_io.h"
#include "base/mem.h"
#include "base/num_text.h"
#include "platform/platform.h"
#include "search/dict_format.h"

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

// Every table parses and holds only what the writer can produce, so the readers of the image
// (Catalog_ToRows walks by length, Engine_Build by count) see the same rows.
int DirCatalog_Check(const DirCatalog* image) {
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
  return 0;
}

void ClearTables(DirCatalog* image) {
  std::memset(image->header, 0, sizeof image->header);
  image->dictCount = 0;
  std::memset(image->dictRows, 0, sizeof image->dictRows);
  image->dictLength = 0;
  image->regionCount = 0;
  std::memset(image->regionBody, 0, sizeof image->regionBody);
  image->regionLength = 0;
  image->prefixCount = 0;
  std::memset(image->prefixBody, 0, sizeof image->prefixBody);
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

int ReadOpenCatalog(FILE* file, DirCatalog* image) {
  const int64_t fileSize = File_Size(file);
  QOR_CHECK(fileSize >= kCatalogHeaderSize);
  QOR_CHECK(File_ReadAt(file, 0, image->header, kCatalogHeaderSize));
  uint32_t size1, size2, size3;
  GetU32BE(image->header + kSize1Offset, &size1);
  GetU32BE(image->header + kSize2Offset, &size2);
  GetU32BE(image->header + kSize3Offset, &size3);
  QOR_CHECK(size1 >= 2 && size1 - 2 <= kCatalogDictCapacity);
  QOR_CHECK(size2 >= 2 && size2 - 2 <= kCatalogRegionCapacity);
  QOR_CHECK(size3 >= 2 && size3 - 2 <= kCatalogPrefixCapacity);
  QOR_CHECK(uint64_t{kCatalogHeaderSize} + size1 + size2 + size3 <=
            static_cast<uint64_t>(fileSize));
  QOR_CHECK(ReadTable(file, kCatalogHeaderSize, size1, &image->dictCount, image->dictRows));
  image->dictLength = static_cast<uint16_t>(size1 - 2);
  QOR_CHECK(ReadTable(file, uint64_t{kCatalogHeaderSize} + size1, size2, &image->regionCount,
                      image->regionBody));
  image->regionLength = size2 - 2;
  QOR_CHECK(ReadTable(file, uint64_t{kCatalogHeaderSize} + size1 + size2, size3,
                      &image->prefixCount, image->prefixBody));
  image->prefixLength = static_cast<uint16_t>(size3 - 2);
  return DirCatalog_Check(image);
}

bool Fits(uint32_t used, uint32_t n, uint32_t capacity) { return n <= capacity - used; }

// Whether packed tables fit the image, so that a reader can load what is written of them.
bool FitsImage(const PackedTable* dict, const PackedRegionTable* region,
               const PackedTable* prefix) {
  return dict->used <= kCatalogDictCapacity &&
         uint32_t{region->recordBytes} + region->nameBytes <= kCatalogRegionCapacity &&
         prefix->used <= kCatalogPrefixCapacity;
}

// The write buffers of one catalog, on the heap.
struct PackedCatalog {
  uint8_t* header;
  PackedTable* dict;
  PackedRegionTable* region;
  PackedTable* prefix;
};

void PackedCatalog_Free(PackedCatalog* packed) {
  Mem_Free(packed->prefix);
  Mem_Free(packed->region);
  Mem_Free(packed->dict);
  Mem_Free(packed->header);
}

// Packs the rows and makes the header. 0; 1 when a row is malformed or does not fit; -1
// when the buffers cannot be allocated. packed is to be freed in every case.
int PackedCatalog_Pack(PackedCatalog* packed, CatalogRows* rows, CatalogRegionPacker packRegions,
                       CatalogPrefixPacker packPrefixes) {
  packed->header = static_cast<uint8_t*>(Mem_Alloc(kCatalogHeaderSize));
  packed->dict = static_cast<PackedTable*>(Mem_Alloc(sizeof(PackedTable)));
  packed->region = static_cast<PackedRegionTable*>(Mem_Alloc(sizeof(PackedRegionTable)));
  packed->prefix = static_cast<PackedTable*>(Mem_Alloc(sizeof(PackedTable)));
  if (!packed->header || !packed->dict || !packed->region || !packed->prefix) return -1;
  if (Catalog_PackDictTable(&rows->dictIndex, packed->dict) != 0 ||
      packRegions(&rows->regionIndex, packed->region) != 0 ||
      packPrefixes(&rows->prefixIndex, packed->prefix) != 0) {
    return 1;
  }
  Catalog_MakeHeader(packed->header, packed->dict, packed->region, packed->prefix);
  return 0;
}

}  // namespace

void DirCatalog_Clear(DirCatalog* image, const char* path) {
  const size_t len = strnlen(path, kPathCapacity - 1);
  std::memcpy(image->path, path, len);
  image->path[len] = '\0';
  ClearTables(image);
}

int DirCatalog_Read(const char* path, DirCatalog* image) {
  DirCatalog_Clear(image, path);
  if (image->path[0] == '\0') return 2;
  char name[kFileNameLength + 1];
  char full[kPathCapacity];
  CatalogFileName(name);
  if (Path_Join(full, sizeof full, image->path, name) != 0) return 1;
  FILE* file = Platform_OpenRegularFile(full);
  if (!file) return 1;
  const int result = ReadOpenCatalog(file, image);
  LocalTime written{};
  const bool timeKnown = Platform_FileTime(file, &written) == 0;
  std::fclose(file);
  if (result != 0) {
    ClearTables(image);
    return -1;
  }
  image->loaded = 1;
  if (timeKnown) {
    image->fileDate =
        static_cast<uint32_t>(written.year * 10000 + written.month * 100 + written.day);
    image->fileTime = static_cast<uint32_t>(written.hour * 100 + written.minute);
  }
  return 0;
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

void PackedTable_Clear(PackedTable* table) {
  table->used = 0;
  table->count = 0;
}

void PackedRegionTable_Clear(PackedRegionTable* table) {
  table->recordBytes = 0;
  table->count = 0;
  table->nameBytes = 0;
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
  if (code > 0xFFFF || dictNumber > 0xFFFF || table->count == 0xFFFF) return -1;
  const bool shared = state->started && std::strcmp(name1, state->name1) == 0;
  const uint32_t nameBytes = (shared ? 0 : len1 + 1) + len2 + 1;
  if (!Fits(table->recordBytes, kCatalogRegionRecordSize, kPackedRegionRecordCapacity) ||
      !Fits(table->nameBytes, nameBytes, kPackedRegionNameCapacity)) {
    return -1;
  }
  if (!shared) {
    state->name1Offset = table->nameBytes;
    std::memcpy(state->name1, name1, len1 + 1);
    state->started = true;
    std::memcpy(table->names + table->nameBytes, name1, len1 + 1);
    table->nameBytes = static_cast<uint16_t>(table->nameBytes + len1 + 1);
  }
  const uint32_t offset2 = table->nameBytes;
  std::memcpy(table->names + table->nameBytes, name2, len2 + 1);
  table->nameBytes = static_cast<uint16_t>(table->nameBytes + len2 + 1);
  uint8_t* rec = table->records + table->recordBytes;
  PutU16BE(rec, code);
  PutU16BE(rec + 2, state->name1Offset);
  PutU16BE(rec + 4, offset2);
  PutU16BE(rec + 6, dictNumber);
  table->recordBytes = static_cast<uint16_t>(table->recordBytes + kCatalogRegionRecordSize);
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
  if (!Fits(table->used, newGroup ? 5 : 2, kPackedTableCapacity)) return -1;
  if (newGroup) {
    if (table->count == 0xFFFF) return -1;
    PutU16BE(table->data + table->used, prefix);
    state->countPos = table->used + 2u;
    table->data[state->countPos] = 0;
    table->used = static_cast<uint16_t>(table->used + 3);
    ++table->count;
    state->prefix = prefix;
    state->groupSize = 0;
  }
  PutU16BE(table->data + table->used, dictNumber);
  table->used = static_cast<uint16_t>(table->used + 2);
  table->data[state->countPos] = static_cast<uint8_t>(++state->groupSize);
  return 0;
}

int Catalog_PackDictTable(RowIndex* index, PackedTable* table) {
  PackedTable_Clear(table);
  RowIndex_Rewind(index);
  char* f[5];
  uint16_t n;
  while (RowIndex_Next(index, f, &n, 5) == 0) {
    if (n < 5 || table->count == 0xFFFF ||
        !Fits(table->used, kCatalogDictRowSize, kPackedTableCapacity)) {
      return -1;
    }
    const uint32_t number = DecimalValue(f[0]);
    if (number > 0xFFFF) return -1;
    uint8_t* p = table->data + table->used;
    PutU16BE(p, number);
    PutU32BE(p + 2, DecimalValue(f[1]));
    PutU32BE(p + 6, DecimalValue(f[2]));
    PutU32BE(p + 10, DecimalValue(f[3]));
    PutU32BE(p + 14, DecimalValue(f[4]));
    table->used = static_cast<uint16_t>(table->used + kCatalogDictRowSize);
    ++table->count;
  }
  return 0;
}

int Catalog_PackRegionTable(RowIndex* index, PackedRegionTable* table) {
  return Catalog_PackRegionRows(index, table, RegionRowColumns{1, 2, 3, 0});
}

int Catalog_PackPrefixTable(RowIndex* index, PackedTable* table) {
  return Catalog_PackPrefixRows(index, table, PrefixRowColumns{1, 0});
}

int Catalog_PackRegionRows(RowIndex* index, PackedRegionTable* table, RegionRowColumns columns) {
  PackedRegionTable_Clear(table);
  RegionPackState state;
  RegionPack_Start(&state);
  RowIndex_Rewind(index);
  constexpr uint16_t kFields = 4;
  if (columns.code >= kFields || columns.name1 >= kFields || columns.name2 >= kFields ||
      columns.dictNumber >= kFields) {
    return -1;
  }
  char* f[kFields];
  uint16_t n;
  while (RowIndex_Next(index, f, &n, kFields) == 0) {
    if (n < kFields ||
        Catalog_PackRegionRecord(table, &state, DecimalValue(f[columns.code]), f[columns.name1],
                                 f[columns.name2], DecimalValue(f[columns.dictNumber])) != 0) {
      return -1;
    }
  }
  return 0;
}

int Catalog_PackPrefixRows(RowIndex* index, PackedTable* table, PrefixRowColumns columns) {
  PackedTable_Clear(table);
  PrefixPackState state;
  PrefixPack_Start(&state);
  RowIndex_Rewind(index);
  constexpr uint16_t kFields = 2;
  if (columns.prefix >= kFields || columns.dictNumber >= kFields) return -1;
  char* f[kFields];
  uint16_t n;
  while (RowIndex_Next(index, f, &n, kFields) == 0) {
    if (n < kFields || Catalog_PackPrefixEntry(table, &state, DecimalValue(f[columns.prefix]),
                                               DecimalValue(f[columns.dictNumber])) != 0) {
      return -1;
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

int Catalog_WriteFile(const char* dir, const uint8_t* header, const PackedTable* dict,
                      const PackedRegionTable* region, const PackedTable* prefix) {
  char name[kFileNameLength + 1];
  char path[kDirPathMax + kFileNameLength + 1];
  CatalogFileName(name);
  if (Path_Join(path, sizeof path, dir, name) != 0) return -1;
  if (dict->count == 0) return Platform_DeleteFile(path);
  if (!FitsImage(dict, region, prefix)) return -1;
  char tmp[kPathCapacity + 32];
  if (Platform_TempPathFor(path, tmp, sizeof tmp) != 0) return -1;
  FILE* file = std::fopen(tmp, "wb");
  if (!file) return -1;
  uint8_t word[2];
  bool ok = File_WriteAll(file, header, kCatalogHeaderSize);
  PutU16BE(word, dict->count);
  ok = ok && File_WriteAll(file, word, 2) && File_WriteAll(file, dict->data, dict->used);
  PutU16BE(word, region->count);
  ok = ok && File_WriteAll(file, word, 2) &&
       File_WriteAll(file, region->records, region->recordBytes) &&
       File_WriteAll(file, region->names, region->nameBytes);
  PutU16BE(word, prefix->count);
  ok = ok && File_WriteAll(file, word, 2) && File_WriteAll(file, prefix->data, prefix->used);
  ok = std::fflush(file) == 0 && ok;
  ok = std::fclose(file) == 0 && ok;
  if (ok && Platform_ReplaceFile(tmp, path) == 0) return 0;
  Platform_DeleteFile(tmp);
  return -1;
}

int Catalog_Write(const DirCatalog* image, CatalogRows* rows) {
  return Catalog_WriteRows(image->path, rows, Catalog_PackRegionTable, Catalog_PackPrefixTable);
}

int Catalog_WriteRows(const char* dir, CatalogRows* rows, CatalogRegionPacker packRegions,
                      CatalogPrefixPacker packPrefixes) {
  PackedCatalog packed{};
  int result = PackedCatalog_Pack(&packed, rows, packRegions, packPrefixes);
  if (result == 0 && Catalog_WriteFile(dir, packed.header, packed.dict, packed.region,
                                       packed.prefix) != 0) {
    result = 1;
  }
  PackedCatalog_Free(&packed);
  return result;
}

int DirCatalog_FromRows(DirCatalog* image, CatalogRows* rows) {
  PackedCatalog packed{};
  int result = PackedCatalog_Pack(&packed, rows, Catalog_PackRegionTable, Catalog_PackPrefixTable);
  if (result == 0 && !FitsImage(packed.dict, packed.region, packed.prefix)) result = 1;
  if (result == 0) {
    ClearTables(image);
    if (packed.dict->count != 0) {
      std::memcpy(image->header, packed.header, kCatalogHeaderSize);
      image->dictCount = packed.dict->count;
      std::memcpy(image->dictRows, packed.dict->data, packed.dict->used);
      image->dictLength = packed.dict->used;
      image->regionCount = packed.region->count;
      std::memcpy(image->regionBody, packed.region->records, packed.region->recordBytes);
      std::memcpy(image->regionBody + packed.region->recordBytes, packed.region->names,
                  packed.region->nameBytes);
      image->regionLength = uint32_t{packed.region->recordBytes} + packed.region->nameBytes;
      image->prefixCount = packed.prefix->count;
      std::memcpy(image->prefixBody, packed.prefix->data, packed.prefix->used);
      image->prefixLength = packed.prefix->used;
      image->loaded = DirCatalog_Check(image) == 0 ? 1 : 0;
    }
  }
  PackedCatalog_Free(&packed);
  return result;
}
