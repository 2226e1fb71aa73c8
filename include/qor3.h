/* qor3.h - the public interface of the qor3 listings search engine (QOR3.DLL, version "3.00").
 *
 * A host opens one dictionary set with Qor_Open, runs any number of searches with Qor_Search
 * (each followed by Qor_MemRelease once its results have been read), and closes the set with
 * Qor_Close. Qor_CopyDic installs dictionary files into a dictionary directory.
 *
 * Texts are code page 932 bytes. Request texts are a length plus that many bytes, not
 * NUL-terminated; result texts are NUL-terminated and come with their length. The host owns
 * every record passed in; what the library allocates for a record stays allocated until
 * Qor_Close (for an OpenResult) or Qor_MemRelease (for a SearchRequest) is called with it.
 * The library keeps one engine state per process. Threads may call the functions at once:
 * searches (each with its own SearchRequest) run in parallel and answer as they would one at
 * a time; Qor_Open, Qor_Close and Qor_CopyDic each run alone.
 *
 * On 32-bit targets the records have the exact sizes and offsets stated below, and on 32-bit
 * Windows the functions use the cdecl convention; on 64-bit targets (the 64-bit QOR3.DLL,
 * Linux x86-64) the records hold the same fields in the same order with natural alignment
 * (sizes 780, 64, 40, 120 and 408 bytes). The end of this file checks both layouts. */
#ifndef QOR3_H
#define QOR3_H

#include <stdint.h>

#if defined(_WIN32)
#define QOR3_CALL __cdecl
#if defined(QOR3_BUILDING)
#define QOR3_EXPORT
#else
#define QOR3_EXPORT __declspec(dllimport)
#endif
#else
#define QOR3_CALL
#define QOR3_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The pool from which the library carves the records and texts it hands out; opaque. */
typedef struct BlockPool BlockPool;

/* Open request (780 bytes on 32-bit). A length of 0 skips that directory. */
typedef struct OpenRequest {
  uint32_t directory1Length;
  char directory1[256];
  uint32_t directory2Length;
  char directory2[256];
  uint32_t correctionDirectoryLength;
  char correctionDirectory[256];
} OpenRequest;

/* One region of the opened set (24 bytes on 32-bit), stored in the OpenResult's pool. */
typedef struct RegionInfo {
  int32_t regionCode;
  uint32_t name1Length;
  char* name1;
  uint32_t name2Length;
  char* name2;
  int32_t dictNumber;
} RegionInfo;

/* Open result (48 bytes on 32-bit). Written only by a successful Qor_Open. */
typedef struct OpenResult {
  uint8_t hostArea[24]; /* never read or written by the library */
  uint32_t catalog1Loaded;
  uint32_t catalog2Loaded;
  uint32_t correctionFilePresent;
  RegionInfo** regions; /* regionCount pointers, ascending region code */
  uint32_t regionCount;
  BlockPool* regionPool;
} OpenResult;

/* One hit (64 bytes on 32-bit), stored in the request's result pool. Every text pointer is
 * valid and NUL-terminated, empty fields included. */
typedef struct SearchResult {
  int32_t entryKind; /* 1 = person, 2 = business */
  int32_t regionCode;
  uint32_t numberLength;
  char* number; /* hyphenated, e.g. "03-1234-5678" */
  uint32_t postalCodeLength;
  char* postalCode; /* "123-4567" */
  uint32_t nameLength;
  char* name;
  uint32_t regionName1Length;
  char* regionName1;
  uint32_t regionName2Length;
  char* regionName2;
  uint32_t address1Length;
  char* address1;
  uint32_t address2Length;
  char* address2;
} SearchResult;

/* Search request (400 bytes on 32-bit). The host fills the inputs; the library writes
 * resultCount, results and resultPool. Mode 1: name search; mode 2: number search. */
typedef struct SearchRequest {
  uint32_t mode;
  uint32_t kindFilter; /* mode 1: 1 = kind 1, 2 = kind 2, 3 = both */
  uint32_t regionCode; /* mode 1: the region to search */
  uint32_t address1Length;
  char address1[80]; /* mode 1: leading text of address text 1 */
  uint32_t address2Length;
  char address2[80]; /* mode 1: leading text of address text 2 */
  uint32_t namePatternLength;
  char namePattern[160]; /* mode 1: "*" / "?" wildcards, ASCII or full-width */
  uint32_t keyLength;
  char key[40]; /* mode 2: 9 or 10 digits with optional "-" */
  uint32_t resultCount;
  SearchResult** results;
  BlockPool* resultPool;
} SearchRequest;

/* Refreshes the catalogs of the two dictionary directories, builds the engine state and
 * lists the regions. Returns the handle, or 0 when nothing usable was found (the result
 * record is then left untouched). */
QOR3_EXPORT void* QOR3_CALL Qor_Open(const OpenRequest* request, OpenResult* result);

/* Releases what Qor_Open allocated for the result and the engine lists. Returns 0. */
QOR3_EXPORT int QOR3_CALL Qor_Close(void* handle, OpenResult* result);

/* Runs the search the request's mode names. Always returns 0; the outcome is resultCount.
 * With resultCount 0 nothing was allocated and results/resultPool are left as they were. */
QOR3_EXPORT int QOR3_CALL Qor_Search(void* handle, SearchRequest* request);

/* Releases the results of a search with resultCount > 0; does nothing otherwise. Returns 0. */
QOR3_EXPORT int QOR3_CALL Qor_MemRelease(SearchRequest* request);

/* Copies dictionaries qorNNNN.dct named by numbers from source to destination and rebuilds
 * the destination's catalog. Returns the number of files copied. */
QOR3_EXPORT int32_t QOR3_CALL Qor_CopyDic(const char* source, int32_t sourceLength,
                                          const char* destination, int32_t destinationLength,
                                          const int32_t* numbers, int32_t count);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* The record layouts, checked at compile time for both pointer sizes: the first number holds
 * on 32-bit targets (QOR3.DLL for 32-bit hosts), the second on 64-bit ones (the 64-bit
 * QOR3.DLL, Linux x86-64): the same fields in the same order, naturally aligned. */
#if defined(__cplusplus)
#include <cstddef>
#if UINTPTR_MAX == 0xFFFFFFFFu
#define QOR3_LAYOUT(at32, at64) (at32)
#else
#define QOR3_LAYOUT(at32, at64) (at64)
#endif
static_assert(sizeof(OpenRequest) == QOR3_LAYOUT(780, 780), "OpenRequest layout");
static_assert(offsetof(OpenRequest, directory2Length) == QOR3_LAYOUT(260, 260), "OpenRequest");
static_assert(offsetof(OpenRequest, correctionDirectory) == QOR3_LAYOUT(524, 524), "OpenRequest");
static_assert(sizeof(OpenResult) == QOR3_LAYOUT(48, 64), "OpenResult layout");
static_assert(offsetof(OpenResult, catalog1Loaded) == QOR3_LAYOUT(24, 24), "OpenResult layout");
static_assert(offsetof(OpenResult, regions) == QOR3_LAYOUT(36, 40), "OpenResult layout");
static_assert(offsetof(OpenResult, regionCount) == QOR3_LAYOUT(40, 48), "OpenResult layout");
static_assert(offsetof(OpenResult, regionPool) == QOR3_LAYOUT(44, 56), "OpenResult layout");
static_assert(sizeof(RegionInfo) == QOR3_LAYOUT(24, 40), "RegionInfo layout");
static_assert(offsetof(RegionInfo, name1) == QOR3_LAYOUT(8, 8), "RegionInfo layout");
static_assert(offsetof(RegionInfo, name2) == QOR3_LAYOUT(16, 24), "RegionInfo layout");
static_assert(offsetof(RegionInfo, dictNumber) == QOR3_LAYOUT(20, 32), "RegionInfo layout");
static_assert(sizeof(SearchResult) == QOR3_LAYOUT(64, 120), "SearchResult layout");
static_assert(offsetof(SearchResult, number) == QOR3_LAYOUT(12, 16), "SearchResult layout");
static_assert(offsetof(SearchResult, name) == QOR3_LAYOUT(28, 48), "SearchResult layout");
static_assert(offsetof(SearchResult, address2) == QOR3_LAYOUT(60, 112), "SearchResult layout");
static_assert(sizeof(SearchRequest) == QOR3_LAYOUT(400, 408), "SearchRequest layout");
static_assert(offsetof(SearchRequest, address1) == QOR3_LAYOUT(16, 16), "SearchRequest layout");
static_assert(offsetof(SearchRequest, address2Length) == QOR3_LAYOUT(96, 96), "SearchRequest");
static_assert(offsetof(SearchRequest, namePatternLength) == QOR3_LAYOUT(180, 180), "SearchRequest");
static_assert(offsetof(SearchRequest, keyLength) == QOR3_LAYOUT(344, 344), "SearchRequest");
static_assert(offsetof(SearchRequest, key) == QOR3_LAYOUT(348, 348), "SearchRequest layout");
static_assert(offsetof(SearchRequest, resultCount) == QOR3_LAYOUT(388, 388), "SearchRequest");
static_assert(offsetof(SearchRequest, results) == QOR3_LAYOUT(392, 392), "SearchRequest layout");
static_assert(offsetof(SearchRequest, resultPool) == QOR3_LAYOUT(396, 400), "SearchRequest");
#undef QOR3_LAYOUT
#endif

#endif /* QOR3_H */
