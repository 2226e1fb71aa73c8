// Directory scan: which numbered dictionary files a directory holds, how each compares with
// its catalog rows, the summary rows of new and changed files, and the correction probe.
#ifndef QOR3_CATALOG_DIR_SCAN_H
#define QOR3_CATALOG_DIR_SCAN_H

#include <cstdint>
#include <cstdio>

#include "base/result.h"
#include "base/row_index.h"
#include "base/row_list.h"
#include "dict/dict_format.h"
#include "files/file_names.h"

// Scan status table, by dictionary number.
constexpr uint32_t kScanStatusSize = 10000;
constexpr uint8_t kScanAbsent = 0;
constexpr uint8_t kScanUnchanged = 1;
constexpr uint8_t kScanChanged = 2;
constexpr uint8_t kScanMissing = 3;

// What the summary accepts from a dictionary file.
constexpr uint32_t kSummaryPrefixFilterMax = 128;   // S0: prefix numbers 0..1023
constexpr uint32_t kSummaryRegionTableMax = 64000;  // S2

// Region name limits of a catalog (the writer's name buffers hold 12 and 44 bytes).
constexpr uint32_t kCatalogName1Max = 11;
constexpr uint32_t kCatalogName2Max = 43;

// Rows of one directory's three tables, each list with its sorted index.
//   dictionary row: number (4), file date YYYYMMDD (8), file time HHMM (4),
//                   edition value 1 (8), edition value 2 (4)
//   region row:     dictionary number (4), region code (5), region name 1, region name 2
//   prefix row:     dictionary number (4), prefix number (4)
struct CatalogRows {
  RowList dictRows;
  RowIndex dictIndex;
  RowList regionRows;
  RowIndex regionIndex;
  RowList prefixRows;
  RowIndex prefixIndex;
};

void CatalogRows_Init(CatalogRows* rows);
// Releases the three lists and indexes and leaves the record as after CatalogRows_Init.
void CatalogRows_Free(CatalogRows* rows);

// The correction directory probe.
struct CorrectionProbe {
  char path[kPathCapacity];
  uint8_t present;  // 1 when qor5001.dct opens for reading there
};

// Minutes since 1 January 1970 of a local file date YYYYMMDD and time HHMM, by the calendar
// alone (0 for a date before 1970 or a time that is not one).
uint64_t FileTime_Minutes(uint32_t date, uint32_t time);

// Fills status (kScanStatusSize entries) for the directory (ending with the separator)
// against the catalogued rows (their dictIndex built; may be empty) and appends the
// summaries of changed and new files to fresh, in ascending number, changed ones first.
// A file whose summary is damaged contributes no rows: a new one stays absent, a
// catalogued one counts as missing. kOk, or kOutOfMemory (fresh is then incomplete and must
// not be used).
// catalogMinute is FileTime_Minutes of the catalog file's own last write (0 when unknown).
// A file whose time equals its row's is taken as unchanged only when that minute lies a
// whole minute before the catalog's: a file replaced within the minute in which it was
// catalogued (or while the catalog was being made) keeps its time to the minute, so such a
// row is checked against the file's header like a file whose time changed.
// With sweepTemporaries the scan's listing also removes the temporary files that dead
// processes left (Temp_RemoveIfStale), for a scan that may write the catalog.
Result Dir_Scan(const char* path, CatalogRows* catalogued, uint64_t catalogMinute,
                CatalogRows* fresh, uint8_t* status, bool sweepTemporaries = false);

// Appends the dictionary row, the region rows and the prefix rows of an open dictionary
// file. All or nothing: the file is checked completely before the first row is appended.
// kOk (rows appended), kDamaged (nothing appended) or kOutOfMemory.
Result Dict_ReadSummary(FILE* file, const char* numberText, CatalogRows* fresh);

// Records the path and whether qor5001.dct opens for reading in it.
void CorrectionDir_Probe(CorrectionProbe* probe, const char* path);

#endif  // QOR3_CATALOG_DIR_SCAN_H
