// Catalog refresh: brings a dictionary directory's qor9999.dct up to date with the files it
// holds and loads it, and the pair of directories plus correction probe of one open or copy.
#ifndef QOR3_CATALOG_CATALOG_REFRESH_H
#define QOR3_CATALOG_CATALOG_REFRESH_H

#include <cstdint>

#include "catalog/catalog_file.h"
#include "catalog/dir_scan.h"

struct DirSet {
  DirCatalog catalog1;
  DirCatalog catalog2;
  CorrectionProbe correction;
};

// Whether a refresh may rewrite a catalog that is not current, or must leave the files alone
// and make its image from the rows in memory (an engine brought up to date during a search).
enum CatalogWrite { kCatalogMayWrite, kCatalogReadOnly };

// DirSet_Init before DirSet_Load, DirSet_Free after (the images' tables are on the heap).
void DirSet_Init(DirSet* set);
void DirSet_Free(DirSet* set);
// Refreshes and loads directory 1 and directory 2 and probes the correction directory
// (each path empty or ending with the separator). kOk, or kOutOfMemory.
Result DirSet_Load(DirSet* set, const char* directory1, const char* directory2,
                   const char* correctionDirectory, CatalogWrite write = kCatalogMayWrite);
// Refreshes the directory's catalog file and leaves the image (initialised with
// DirCatalog_Init) loaded from it (loaded 0 when no sound catalog is there). kOk, or
// kOutOfMemory (no catalog is written then; the image must not be used).
Result DirCatalog_Load(DirCatalog* image, const char* path,
                       CatalogWrite write = kCatalogMayWrite);
// Whether the scan's status table (kScanStatusSize entries) tells of a dictionary the
// catalog does not list as it is now: the catalog must then be rewritten.
bool Catalog_MustRewrite(const uint8_t* status);
// Merges the catalogued rows of unchanged dictionaries with the fresh rows of changed ones
// when the catalog must be rewritten (merged rows built and indexed; else merged is left
// empty): kOk, or kOutOfMemory.
Result Catalog_Merge(CatalogRows* catalogued, CatalogRows* fresh, CatalogRows* merged,
                     const uint8_t* status);

#endif  // QOR3_CATALOG_CATALOG_REFRESH_H
