// Dictionary copy (Qor_CopyDic): installs numbered dictionary files from a source directory
// into a destination directory and rebuilds the destination's catalog, taking the rows of
// the copied dictionaries from the source's catalog and keeping those of all others.
//
// The copy's rows are held in a CatalogRows record, in layouts of their own:
//   dictionary row: number (4), file date (8), file time (8), edition 1 (8), edition 2 (8)
//   region row:     region code (5), region name 1, region name 2, dictionary number (4)
//   prefix row:     prefix number (4), dictionary number (4)
#ifndef QOR3_COPY_COPY_DIC_H
#define QOR3_COPY_COPY_DIC_H

#include <cstdint>

#include "base/row_index.h"
#include "base/row_list.h"
#include "catalog/catalog_file.h"
#include "catalog/dir_scan.h"

// Copied-dictionary marks, by dictionary number; numbers from 5000 up are never marked.
constexpr uint32_t kCopyMarkCount = 5000;

// Which rows of an image a collect step takes.
enum CopySelection {
  kCopyUnmarked = 0,  // rows of dictionaries not copied (the destination's own)
  kCopyMarked = 1,    // rows of copied dictionaries (the source's)
};

// Append, in the image's stored order, every row of one table whose dictionary number has
// the wanted mark. A record the checked image access refuses ends the walk. 0, or -1 when
// an append failed.
int CopyDic_CollectDictRows(RowList* rows, const DirCatalog* image, CopySelection selection,
                            const uint8_t* marked);
int CopyDic_CollectRegionRows(RowList* rows, const DirCatalog* image, CopySelection selection,
                              const uint8_t* marked);
int CopyDic_CollectPrefixRows(RowList* rows, const DirCatalog* image, CopySelection selection,
                              const uint8_t* marked);

// Pack the copy's region rows and prefix rows (walking the index in order) into the catalog
// format exactly as the refresh's packers do. Sorted by prefix number, the prefix rows give
// one group per prefix number (a group is closed after 255 dictionary numbers and the
// prefix continues in another). Rows of dictionaries numbered dictLimit and up are left
// out. Answers as Catalog_PackRegionTable and Catalog_PackPrefixTable.
int CopyDic_PackRegionTable(RowIndex* index, PackedRegionTable* table, uint32_t dictLimit);
int CopyDic_PackPrefixTable(RowIndex* index, PackedTable* table, uint32_t dictLimit);

// Refreshes both directories (prepared paths), merges their catalogs with the copied
// dictionaries marked and writes the destination's catalog (Catalog_WriteRows: past a limit
// of the format it holds the lowest-numbered dictionaries that fit). Answers as
// Catalog_WriteRows; kOutOfMemory also when the directories could not be loaded for want of
// memory (the refreshed catalogs are then kept).
Result CopyDic_RebuildCatalog(const char* source, const char* destination, const uint8_t* copied);

// Copies qorNNNN.dct for each of the count numbers, in order, from directory from to directory
// to (prepared paths) and rebuilds the destination's catalog; returns the number of files
// copied. A number outside 0..9998 is skipped; numbers from 5000 up are copied as files but
// never catalogued from the source.
int32_t CopyDic_Install(const char* from, const char* to, const int32_t* numbers, int32_t count);

#endif  // QOR3_COPY_COPY_DIC_H
