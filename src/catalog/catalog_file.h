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
#include "base/result.h"
#include "base/row_index.h"
#include "catalog/dir_scan.h"

constexpr uint32_t kCatalogHeaderSize = 256;
constexpr uint32_t kCatalogDictRowSize = 18;
constexpr uint32_t kCatalogRegionRecordSize = 8;
constexpr uint32_t kPrefixGroupMax = 255;
// The format's own limits: u16 counts (rows, records, groups) and u16 name offsets, so every
// name starts in the first 65,536 bytes of the name area.
constexpr uint32_t kCatalogCountMax = 0xFFFF;
constexpr uint32_t kCatalogNameOffsetMax = 0xFFFF;
// The largest tables those limits can address (bytes after each count); a catalog claiming
// more is damaged. The image is sized from the file within these.
constexpr uint32_t kCatalogDictTableMax = kCatalogCountMax * kCatalogDictRowSize;
constexpr uint32_t kCatalogRegionTableMax =
    kCatalogCountMax * kCatalogRegionRecordSize + kCatalogNameOffsetMax + kCatalogName2Max + 1;
constexpr uint32_t kCatalogPrefixTableMax = kCatalogCountMax * (3 + 2 * kPrefixGroupMax);
// Numbers the writer can store from 4-digit row texts; anything larger marks a damaged file.
constexpr uint32_t kCatalogNumberLimit = 10000;

// A directory's catalog as read from qor9999.dct. The three tables (after their counts) are
// one heap block sized from the file: DirCatalog_Init before first use, DirCatalog_Free after.
struct DirCatalog {
  char path[kPathCapacity];  // directory path, ending with the separator (or empty)
  uint8_t header[kCatalogHeaderSize];
  uint8_t* tables;  // owns dictRows, regionBody and prefixBody; null while empty
  uint16_t dictCount;
  const uint8_t* dictRows;
  uint32_t dictLength;
  uint16_t regionCount;
  const uint8_t* regionBody;  // records, then the name area
  uint32_t regionLength;
  uint16_t prefixCount;
  const uint8_t* prefixBody;
  uint32_t prefixLength;
  uint8_t loaded;  // 1 once a catalog was read into the image
  // The catalog file's own last write, as a dictionary row's date and time (0 when unknown).
  uint32_t fileDate, fileTime;
};

// An empty image with an empty path.
void DirCatalog_Init(DirCatalog* image);
// Releases the tables; the image is then as after DirCatalog_Init.
void DirCatalog_Free(DirCatalog* image);
// Copies the path (at most kPathCapacity - 1 bytes) and empties the tables and the header.
void DirCatalog_Clear(DirCatalog* image, const char* path);
// Reads path + "qor9999.dct" into the image: kOk (loaded 1), kNotFound (an empty path, or
// no catalog file), kDamaged (a size beyond the format's tables or the file, a failed read,
// or tables that do not parse) or kOutOfMemory (the tables could not be allocated); the image
// is left empty unless kOk.
Result DirCatalog_Read(const char* path, DirCatalog* image);

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
// Dictionary number k (< n) of a group PrefixCursor_Next handed out.
inline uint32_t PrefixGroup_Dict(const uint8_t* dicts, uint32_t k) { return LoadU16BE(dicts + 2 * k); }

// Fills the image's tables from rows as a catalog written from them would hold them, for a
// directory whose catalog cannot (or must not) be written; the path stays. kOk (loaded 1, or 0
// when the rows hold no dictionary), kDamaged when not even the first dictionary's rows fit a
// catalog (the image is unchanged), kOutOfMemory when an allocation failed (unchanged).
Result DirCatalog_FromRows(DirCatalog* image, CatalogRows* rows);

// Write buffers, sized by the packers from the rows they pack: _Init before first use,
// _Free after.
struct PackedTable {
  uint8_t* data;
  uint32_t capacity;
  uint32_t used;
  uint16_t count;
};
struct PackedRegionTable {
  uint8_t* records;
  uint32_t recordCapacity;
  uint32_t recordBytes;
  uint16_t count;
  uint8_t* names;
  uint32_t nameCapacity;
  uint32_t nameBytes;
};

void PackedTable_Init(PackedTable* table);
void PackedTable_Free(PackedTable* table);
void PackedRegionTable_Init(PackedRegionTable* table);
void PackedRegionTable_Free(PackedRegionTable* table);
// Empties the table and gives it room for bytes (records and name bytes). 0, or -1 when the
// storage cannot be allocated (the table is then empty, without room).
int PackedTable_Reserve(PackedTable* table, uint32_t bytes);
int PackedRegionTable_Reserve(PackedRegionTable* table, uint32_t records, uint32_t nameBytes);

// Record-by-record packing, under the row packers below. A record whose names break the
// limits, that the format cannot count or address, or that does not fit the table's room,
// is refused with -1 (the table is then unusable for writing).
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

// The writer's steps. The packers size the table from the index, walk it in order (rewinding
// it first) and leave out the rows of dictionaries numbered dictLimit and up (kNoDictLimit:
// none); rows are [number, date, time, edition 1, edition 2], [dictionary number, region
// code, name 1, name 2] and [dictionary number, prefix number]. 0; 1 when a row is malformed
// or breaks a limit of the format (the table is then unusable for writing); -1 when the
// table's storage cannot be allocated.
constexpr uint32_t kNoDictLimit = 0xFFFFFFFF;
int Catalog_PackDictTable(RowIndex* index, PackedTable* table, uint32_t dictLimit);
int Catalog_PackRegionTable(RowIndex* index, PackedRegionTable* table, uint32_t dictLimit);
int Catalog_PackPrefixTable(RowIndex* index, PackedTable* table, uint32_t dictLimit);
// The region and prefix packers for rows of any column order: the field numbers (from 0) at
// which the rows hold each value. Same answers.
struct RegionRowColumns {
  uint16_t code, name1, name2, dictNumber;
};
struct PrefixRowColumns {
  uint16_t prefix, dictNumber;
};
int Catalog_PackRegionRows(RowIndex* index, PackedRegionTable* table, RegionRowColumns columns,
                           uint32_t dictLimit);
int Catalog_PackPrefixRows(RowIndex* index, PackedTable* table, PrefixRowColumns columns,
                           uint32_t dictLimit);
void Catalog_MakeHeader(uint8_t* header, const PackedTable* dict, const PackedRegionTable* region,
                        const PackedTable* prefix);
// Writes dir + "qor9999.dct" through a temporary file in the same directory renamed over
// it, so the old catalog stays whole until the new one is; deletes the catalog when the
// dictionary table is empty. 0 when written or deleted, -1 when nothing changed on disk.
int Catalog_WriteFile(const char* dir, const uint8_t* header, const PackedTable* dict,
                      const PackedRegionTable* region, const PackedTable* prefix);

// Packers for rows whose region and prefix tables have other column orders (the dictionary
// copy's); the dictionary table is always packed with Catalog_PackDictTable.
using CatalogRegionPacker = int (*)(RowIndex* index, PackedRegionTable* table,
                                    uint32_t dictLimit);
using CatalogPrefixPacker = int (*)(RowIndex* index, PackedTable* table, uint32_t dictLimit);

// Which table broke a limit of the format with every row, and what the catalog then holds.
enum CatalogTable : uint8_t {
  kCatalogFits = 0,
  kCatalogDictTable = 1,    // more than 65,535 dictionary rows
  kCatalogRegionTable = 2,  // more than 65,535 records, or names beyond offset 65,535
  kCatalogPrefixTable = 3,  // more than 65,535 prefix groups
};
struct CatalogFit {
  CatalogTable broken;    // kCatalogFits when every row is stored
  uint32_t dictionaries;  // dictionary rows
  uint32_t kept;          // of them in the catalog: the lowest numbers, up to dictLimit
  uint32_t dictLimit;     // number of the first dictionary left out; kNoDictLimit if none
};
// Packs the three indexed tables. When the rows break a limit of the format the tables hold
// the most dictionaries, in ascending number, whose rows all fit, and the rest are left out
// whole. kOk when packed (fit says what was left out); kDamaged when not even the first
// dictionary fits; kOutOfMemory when storage cannot be allocated.
Result Catalog_PackRows(CatalogRows* rows, CatalogRegionPacker packRegions,
                        CatalogPrefixPacker packPrefixes, PackedTable* dict,
                        PackedRegionTable* region, PackedTable* prefix, CatalogFit* fit);
// Packs (Catalog_PackRows) and writes (or deletes) the catalog of the directory. A catalog
// that had to leave dictionaries out is not written again when the file already holds
// exactly it (those dictionaries look new to every refresh). kOk when written, deleted or
// already on disk. Otherwise nothing changed on disk and the old catalog is kept: kDamaged
// when not even the first dictionary's rows fit a catalog, kIoFailure when the file could not
// be written, kOutOfMemory when storage cannot be allocated.
Result Catalog_WriteRows(const char* dir, CatalogRows* rows, CatalogRegionPacker packRegions,
                         CatalogPrefixPacker packPrefixes);
// Catalog_WriteRows of the refresh's rows into the image's directory (only its path is used).
Result Catalog_Write(const DirCatalog* image, CatalogRows* rows);

#endif  // QOR3_CATALOG_CATALOG_FILE_H
