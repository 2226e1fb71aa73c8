// The catalog file qor9999.dct: its in-memory image, the checked reader, and the writer with
// its packing steps (shared with the dictionary copy).
//
// Layout (integers unsigned big-endian): "ABCD" "3.00", u32 total size, u32 size1, size2,
// size3 at 12, 16, 20, zeros to 256; then the dictionary table (u16 count, 18-byte rows),
// the region table (u16 count, 8-byte records, name area) and the prefix table (u16 group
// count, groups of u16 prefix, u8 n, n x u16 dictionary number). Each size includes its count.
#ifndef QOR3_CATALOG_CATALOG_FILE_H
#define QOR3_CATALOG_CATALOG_FILE_H

#include <cstdint>

#include "base/byte_reader.h"
#include "base/row_index.h"
#include "catalog/dir_scan.h"

constexpr uint32_t kCatalogHeaderSize = 256;
constexpr uint32_t kCatalogDictRowSize = 18;
constexpr uint32_t kCatalogRegionRecordSize = 8;
// Image capacities, and so the largest loadable tables (bytes after each count).
constexpr uint32_t kCatalogDictCapacity = 10000;
constexpr uint32_t kCatalogRegionCapacity = 100000;
constexpr uint32_t kCatalogPrefixCapacity = 20000;
// Write buffers.
constexpr uint32_t kPackedTableCapacity = 65000;
constexpr uint32_t kPackedRegionRecordCapacity = 32500;
constexpr uint32_t kPackedRegionNameCapacity = 65000;
constexpr uint32_t kPrefixGroupMax = 255;
// Numbers the writer can store from 4-digit row texts; anything larger marks a damaged file.
constexpr uint32_t kCatalogNumberLimit = 10000;

// A directory's catalog as read from qor9999.dct.
struct DirCatalog {
  char path[kPathCapacity];  // directory path, ending with the separator (or empty)
  uint8_t header[kCatalogHeaderSize];
  uint16_t dictCount;
  uint8_t dictRows[kCatalogDictCapacity];
  uint16_t dictLength;
  uint16_t regionCount;
  uint8_t regionBody[kCatalogRegionCapacity];  // records, then the name area
  uint32_t regionLength;
  uint16_t prefixCount;
  uint8_t prefixBody[kCatalogPrefixCapacity];
  uint16_t prefixLength;
  uint8_t loaded;  // 1 once a catalog was read into the image
  // The catalog file's own last write, as a dictionary row's date and time (0 when unknown).
  uint32_t fileDate, fileTime;
};

// Copies the path (at most kPathCapacity - 1 bytes) and empties the tables and the header.
void DirCatalog_Clear(DirCatalog* image, const char* path);
// Reads path + "qor9999.dct" into the image. Returns 0 (read, loaded 1), 1 (no catalog
// file), 2 (empty path) or -1 (damaged: a size that does not fit the image or the file, a
// failed read, or tables that do not parse; the image is left empty).
int DirCatalog_Read(const char* path, DirCatalog* image);

// Checked access to the tables of a loaded image.
struct CatalogDictRow {
  uint32_t number, date, time, edition1, edition2;
};
struct CatalogRegionRecord {
  uint32_t code;
  const char* name1;  // NUL-terminated, inside the image
  const char* name2;
  uint32_t dictNumber;
};
int DirCatalog_DictRow(const DirCatalog* image, uint32_t i, CatalogDictRow* out);
int DirCatalog_RegionRecord(const DirCatalog* image, uint32_t i, CatalogRegionRecord* out);
// Walks the prefix groups in stored order.
struct PrefixCursor {
  ByteReader reader;
  uint32_t groupsLeft;
};
void PrefixCursor_Start(PrefixCursor* cursor, const DirCatalog* image);
// Next group: its prefix number and n dictionary numbers as u16 big-endian at dicts[2k].
// -1 after the last group (or at a group cut off by the end of the table).
int PrefixCursor_Next(PrefixCursor* cursor, uint32_t* prefix, const uint8_t** dicts,
                      uint32_t* n);

// Fills the image's tables from rows as a catalog written from them would hold them, for a
// directory whose catalog cannot be written; the path stays. 0 (loaded 1, or 0 when the rows
// hold no dictionary), 1 when the rows do not fit a catalog (the image is unchanged), -1
// when an allocation failed (unchanged).
int DirCatalog_FromRows(DirCatalog* image, CatalogRows* rows);

// Write buffers.
struct PackedTable {
  uint8_t data[kPackedTableCapacity];
  uint16_t used;
  uint16_t count;
};
struct PackedRegionTable {
  uint8_t records[kPackedRegionRecordCapacity];
  uint16_t recordBytes;
  uint16_t count;
  uint8_t names[kPackedRegionNameCapacity];
  uint16_t nameBytes;
};

void PackedTable_Clear(PackedTable* table);
void PackedRegionTable_Clear(PackedRegionTable* table);

// Record-by-record packing, under the row packers below. A record whose names break the
// limits, or that does not fit the buffers, is refused with -1 (the table is then unusable
// for writing).
struct RegionPackState {
  bool started;
  uint32_t name1Offset;
  char name1[kCatalogName1Max + 1];
};
void RegionPack_Start(RegionPackState* state);
// Stores one record; name 1 is shared with the previous record when equal to its name 1.
int Catalog_PackRegionRecord(PackedRegionTable* table, RegionPackState* state, uint32_t code,
                             const char* name1, const char* name2, uint32_t dictNumber);
struct PrefixPackState {
  uint32_t prefix;     // prefix number of the open group; 0xFFFF before the first
  uint32_t countPos;   // position of the open group's count byte
  uint32_t groupSize;  // dictionary numbers in the open group; 0 before the first
};
void PrefixPack_Start(PrefixPackState* state);
// Adds a dictionary number under a prefix number: to the open group when the prefix number
// is the open group's, else to a new group. A group that already holds 255 numbers is
// followed by a new group of the same prefix number.
int Catalog_PackPrefixEntry(PackedTable* table, PrefixPackState* state, uint32_t prefix,
                            uint32_t dictNumber);

// The writer's steps. The packers walk their index in order (rewinding it first); rows are
// [number, date, time, edition 1, edition 2], [dictionary number, region code, name 1,
// name 2] and [dictionary number, prefix number]. 0, or -1 when a row is malformed or does
// not fit (the table is then unusable for writing).
int Catalog_PackDictTable(RowIndex* index, PackedTable* table);
int Catalog_PackRegionTable(RowIndex* index, PackedRegionTable* table);
int Catalog_PackPrefixTable(RowIndex* index, PackedTable* table);
// The region and prefix packers for rows of any column order: the field numbers (from 0) at
// which the rows hold each value. Same answers.
struct RegionRowColumns {
  uint16_t code, name1, name2, dictNumber;
};
struct PrefixRowColumns {
  uint16_t prefix, dictNumber;
};
int Catalog_PackRegionRows(RowIndex* index, PackedRegionTable* table, RegionRowColumns columns);
int Catalog_PackPrefixRows(RowIndex* index, PackedTable* table, PrefixRowColumns columns);
void Catalog_MakeHeader(uint8_t* header, const PackedTable* dict, const PackedRegionTable* region,
                        const PackedTable* prefix);
// Writes dir + "qor9999.dct" through a temporary file in the same directory renamed over
// it, so the old catalog stays whole until the new one is; deletes the catalog when the
// dictionary table is empty. Tables beyond the image capacities are refused (a reader could
// not load them). 0 when written or deleted, -1 when nothing changed on disk.
int Catalog_WriteFile(const char* dir, const uint8_t* header, const PackedTable* dict,
                      const PackedRegionTable* region, const PackedTable* prefix);
// Packs the three indexed tables of rows and writes (or deletes) the catalog of the image's
// directory. 0 when written or deleted; 1 when nothing changed on disk (rows beyond the
// writer's limits, or a file error: the old catalog is kept); -1 when the write buffers
// cannot be allocated (old catalog kept).
int Catalog_Write(const DirCatalog* image, CatalogRows* rows);
// Catalog_Write for rows whose region and prefix tables have other column orders: the
// dictionary table is packed with Catalog_PackDictTable, the other two with the packers
// given. Same answers.
using CatalogRegionPacker = int (*)(RowIndex* index, PackedRegionTable* table);
using CatalogPrefixPacker = int (*)(RowIndex* index, PackedTable* table);
int Catalog_WriteRows(const char* dir, CatalogRows* rows, CatalogRegionPacker packRegions,
                      CatalogPrefixPacker packPrefixes);

#endif  // QOR3_CATALOG_CATALOG_FILE_H
