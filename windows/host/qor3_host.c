/* qor3_host.c - a host of QOR3.DLL written as a Windows host application would be: it loads the
 * library at run time, relies on the record layouts of qor3.h, runs one whole session on the
 * dictionary set in the current directory and writes every answer as text.
 *
 * Usage: qor3_host LIBRARY ANSWERS
 *   LIBRARY  QOR3.DLL (LoadLibraryA) or, in the native build, libqor3.so (dlopen); not used
 *            when built with QOR3_HOST_LINKED, linked with the import library instead
 *   ANSWERS  file that receives the answers (CP932 bytes as the library returned them)
 * The current directory holds dict1/, dict2/ and corrections/; the program makes the copy
 * destinations itself. The same source builds for 32-bit Windows and natively, so the answers
 * of QOR3.DLL under wine and of the native library can be compared byte for byte. Checks that
 * the program can make on its own (counts, untouched records, return values) are reported on
 * stderr and make the exit status 1. */
#if !defined(_WIN32)
#define _POSIX_C_SOURCE 200809L
#endif

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <errno.h>
#include <sys/stat.h>
#endif

#include "qor3.h"

/* The layouts a 32-bit host relies on, checked when this program is compiled. */
#define LAYOUT_JOIN2(a, b) a##b
#define LAYOUT_JOIN(a, b) LAYOUT_JOIN2(a, b)
#define LAYOUT(cond) typedef char LAYOUT_JOIN(layout_check_, __LINE__)[(cond) ? 1 : -1]
#if UINTPTR_MAX == 0xFFFFFFFFu
LAYOUT(sizeof(OpenRequest) == 780);
LAYOUT(offsetof(OpenRequest, directory2Length) == 260);
LAYOUT(offsetof(OpenRequest, correctionDirectoryLength) == 520);
LAYOUT(offsetof(OpenRequest, correctionDirectory) == 524);
LAYOUT(sizeof(OpenResult) == 48);
LAYOUT(offsetof(OpenResult, catalog1Loaded) == 24);
LAYOUT(offsetof(OpenResult, correctionFilePresent) == 32);
LAYOUT(offsetof(OpenResult, regions) == 36);
LAYOUT(offsetof(OpenResult, regionCount) == 40);
LAYOUT(offsetof(OpenResult, regionPool) == 44);
LAYOUT(sizeof(RegionInfo) == 24);
LAYOUT(offsetof(RegionInfo, name1) == 8);
LAYOUT(offsetof(RegionInfo, name2) == 16);
LAYOUT(offsetof(RegionInfo, dictNumber) == 20);
LAYOUT(sizeof(SearchRequest) == 400);
LAYOUT(offsetof(SearchRequest, kindFilter) == 4);
LAYOUT(offsetof(SearchRequest, regionCode) == 8);
LAYOUT(offsetof(SearchRequest, address1Length) == 12);
LAYOUT(offsetof(SearchRequest, address1) == 16);
LAYOUT(offsetof(SearchRequest, address2Length) == 96);
LAYOUT(offsetof(SearchRequest, address2) == 100);
LAYOUT(offsetof(SearchRequest, namePatternLength) == 180);
LAYOUT(offsetof(SearchRequest, namePattern) == 184);
LAYOUT(offsetof(SearchRequest, keyLength) == 344);
LAYOUT(offsetof(SearchRequest, key) == 348);
LAYOUT(offsetof(SearchRequest, resultCount) == 388);
LAYOUT(offsetof(SearchRequest, results) == 392);
LAYOUT(offsetof(SearchRequest, resultPool) == 396);
LAYOUT(sizeof(SearchResult) == 64);
LAYOUT(offsetof(SearchResult, regionCode) == 4);
LAYOUT(offsetof(SearchResult, numberLength) == 8);
LAYOUT(offsetof(SearchResult, number) == 12);
LAYOUT(offsetof(SearchResult, postalCode) == 20);
LAYOUT(offsetof(SearchResult, name) == 28);
LAYOUT(offsetof(SearchResult, regionName1) == 36);
LAYOUT(offsetof(SearchResult, regionName2) == 44);
LAYOUT(offsetof(SearchResult, address1) == 52);
LAYOUT(offsetof(SearchResult, address2Length) == 56);
LAYOUT(offsetof(SearchResult, address2) == 60);
#endif

/* The five entry points, cdecl on 32-bit Windows (the caller removes the arguments). */
typedef void*(QOR3_CALL* OpenFn)(const OpenRequest*, OpenResult*);
typedef int(QOR3_CALL* CloseFn)(void*, OpenResult*);
typedef int(QOR3_CALL* SearchFn)(void*, SearchRequest*);
typedef int(QOR3_CALL* MemReleaseFn)(SearchRequest*);
typedef int32_t(QOR3_CALL* CopyDicFn)(const char*, int32_t, const char*, int32_t, const int32_t*,
                                       int32_t);

static OpenFn qorOpen;
static CloseFn qorClose;
static SearchFn qorSearch;
static MemReleaseFn qorMemRelease;
static CopyDicFn qorCopyDic;

static FILE* answers;
static int failures;

/* CP932 texts of the scenario. */
#define YAMADA "\x8E\x52\x93\x63"      /* 山田 */
#define SATO "\x8D\xB2\x93\xA1"        /* 佐藤 */
#define TANAKA "\x93\x63\x92\x86"      /* 田中 */
#define HYO "\x95\x5C"                 /* 表: second byte 0x5C */
#define SO "\x83\x5C"                  /* ソ: second byte 0x5C */
#define FW_SPACE "\x81\x40"            /* full-width space */
#define FW_STAR "\x81\x96"             /* full-width asterisk */
#define FW_QUESTION "\x81\x48"         /* full-width question mark */
#define MARUNOUCHI "\x8A\xDB\x82\xCC\x93\xE0" /* 丸の内 */
#define UCHIKANDA "\x93\xE0\x90\x5F\x93\x63"  /* 内神田 */

#if defined(_WIN32)
#define SEP "\\"
#else
#define SEP "/"
#endif

static void Out(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vfprintf(answers, format, args);
  va_end(args);
}

static void Check(int ok, const char* format, ...) {
  va_list args;
  if (ok) return;
  ++failures;
  fputs("qor3_host: FAIL: ", stderr);
  va_start(args, format);
  vfprintf(stderr, format, args);
  va_end(args);
  fputc('\n', stderr);
}

/* A result text: never null, NUL-terminated at its length. */
static void OutText(const char* what, uint32_t length, const char* text) {
  Check(text != NULL, "%s: null text", what);
  if (!text) return;
  Check(strlen(text) == length, "%s: length %u, text of %u bytes", what, (unsigned)length,
        (unsigned)strlen(text));
  Out("\t%s", text);
}

static int MakeDirectory(const char* path) {
#if defined(_WIN32)
  return CreateDirectoryA(path, NULL) || GetLastError() == ERROR_ALREADY_EXISTS;
#else
  return mkdir(path, 0755) == 0 || errno == EEXIST;
#endif
}

static int FileExists(const char* path) {
  FILE* f = fopen(path, "rb");
  if (f) fclose(f);
  return f != NULL;
}

#if defined(QOR3_HOST_LINKED)
/* Linked with the import library: the loader has resolved the five names already. */
static int LoadLibraryFunctions(const char* path) {
  (void)path;
  qorOpen = Qor_Open;
  qorClose = Qor_Close;
  qorSearch = Qor_Search;
  qorMemRelease = Qor_MemRelease;
  qorCopyDic = Qor_CopyDic;
  return 1;
}
#else
static int LoadLibraryFunctions(const char* path) {
  static const char* const names[5] = {"Qor_Open", "Qor_Close", "Qor_Search", "Qor_MemRelease",
                                       "Qor_CopyDic"};
  void* p[5] = {0};
  int i;
#if defined(_WIN32)
  HMODULE library = LoadLibraryA(path);
  if (!library) {
    fprintf(stderr, "qor3_host: cannot load %s (error %lu)\n", path,
            (unsigned long)GetLastError());
    return 0;
  }
#else
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    fprintf(stderr, "qor3_host: cannot load %s: %s\n", path, dlerror());
    return 0;
  }
#endif
  for (i = 0; i < 5; ++i) {
    /* Through a data pointer of the same size: ISO C has no direct conversion. */
#if defined(_WIN32)
    FARPROC f = GetProcAddress(library, names[i]);
    memcpy(&p[i], &f, sizeof p[i]);
#else
    p[i] = dlsym(library, names[i]);
#endif
    if (!p[i]) {
      fprintf(stderr, "qor3_host: %s does not export %s\n", path, names[i]);
      return 0;
    }
  }
  memcpy(&qorOpen, &p[0], sizeof qorOpen);
  memcpy(&qorClose, &p[1], sizeof qorClose);
  memcpy(&qorSearch, &p[2], sizeof qorSearch);
  memcpy(&qorMemRelease, &p[3], sizeof qorMemRelease);
  memcpy(&qorCopyDic, &p[4], sizeof qorCopyDic);
  return 1;
}
#endif

/* ---- open and close */

static void SetPath(uint32_t* length, char* field, const char* path) {
  *length = (uint32_t)strlen(path);
  memcpy(field, path, *length);
}

static void MakeOpenRequest(OpenRequest* request, const char* d1, const char* d2,
                            const char* correction) {
  memset(request, 0, sizeof *request);
  SetPath(&request->directory1Length, request->directory1, d1);
  SetPath(&request->directory2Length, request->directory2, d2);
  SetPath(&request->correctionDirectoryLength, request->correctionDirectory, correction);
}

/* Opens and writes the flags and regions; the host area must come back as it was. */
static void* Open(const char* label, const char* d1, const char* d2, const char* correction,
                  OpenResult* result) {
  OpenRequest request;
  uint8_t host[24];
  void* handle;
  uint32_t i;
  MakeOpenRequest(&request, d1, d2, correction);
  memset(result, 0, sizeof *result);
  memset(result->hostArea, 0x5A, sizeof result->hostArea);
  memcpy(host, result->hostArea, sizeof host);
  handle = qorOpen(&request, result);
  Out("open %s: %s\n", label, handle ? "handle" : "0");
  Check(handle != NULL, "open %s failed", label);
  if (!handle) return NULL;
  Check(memcmp(host, result->hostArea, sizeof host) == 0, "open %s wrote the host area", label);
  Out("  flags %u %u %u, %u regions\n", (unsigned)result->catalog1Loaded,
      (unsigned)result->catalog2Loaded, (unsigned)result->correctionFilePresent,
      (unsigned)result->regionCount);
  for (i = 0; i < result->regionCount; ++i) {
    const RegionInfo* r = result->regions[i];
    Out("  region %05d dict %04d", (int)r->regionCode, (int)r->dictNumber);
    OutText("region name 1", r->name1Length, r->name1);
    OutText("region name 2", r->name2Length, r->name2);
    Out("\n");
    if (i > 0) {
      Check(result->regions[i - 1]->regionCode <= r->regionCode, "open %s: regions out of order",
            label);
    }
  }
  return handle;
}

static void Close(void* handle, OpenResult* result) {
  Check(qorClose(handle, result) == 0, "Qor_Close did not return 0");
}

/* ---- searches */

static void SetText(uint32_t* length, char* field, size_t width, const char* text) {
  size_t n = strlen(text);
  if (n > width) n = width;
  *length = (uint32_t)n;
  memcpy(field, text, n);
}

static SearchRequest* NumberRequest(SearchRequest* request, const char* key) {
  memset(request, 0, sizeof *request);
  request->mode = 2;
  SetText(&request->keyLength, request->key, sizeof request->key, key);
  return request;
}

static SearchRequest* NameRequest(SearchRequest* request, uint32_t region, uint32_t kind,
                                  const char* address1, const char* address2,
                                  const char* pattern) {
  memset(request, 0, sizeof *request);
  request->mode = 1;
  request->regionCode = region;
  request->kindFilter = kind;
  SetText(&request->address1Length, request->address1, sizeof request->address1, address1);
  SetText(&request->address2Length, request->address2, sizeof request->address2, address2);
  SetText(&request->namePatternLength, request->namePattern, sizeof request->namePattern,
          pattern);
  return request;
}

/* Runs the search, writes every result, releases them; returns the result count. The
 * results and pool fields must be left alone when nothing was found. */
static uint32_t Search(void* handle, const char* label, SearchRequest* request) {
  static char sentinel[2];
  SearchResult** const untouchedResults = (SearchResult**)(void*)&sentinel[0];
  BlockPool* const untouchedPool = (BlockPool*)(void*)&sentinel[1];
  uint32_t count, i;
  request->resultCount = 12345;
  request->results = untouchedResults;
  request->resultPool = untouchedPool;
  Check(qorSearch(handle, request) == 0, "%s: Qor_Search did not return 0", label);
  count = request->resultCount;
  Out("search %s: %u\n", label, (unsigned)count);
  if (count == 0) {
    Check(request->results == untouchedResults && request->resultPool == untouchedPool,
          "%s: a search without results changed results or resultPool", label);
    Check(qorMemRelease(request) == 0, "%s: Qor_MemRelease did not return 0", label);
    return 0;
  }
  for (i = 0; i < count; ++i) {
    const SearchResult* r = request->results[i];
    Out("  %d %05d", (int)r->entryKind, (int)r->regionCode);
    OutText("number", r->numberLength, r->number);
    OutText("postal code", r->postalCodeLength, r->postalCode);
    OutText("name", r->nameLength, r->name);
    OutText("region name 1", r->regionName1Length, r->regionName1);
    OutText("region name 2", r->regionName2Length, r->regionName2);
    OutText("address 1", r->address1Length, r->address1);
    OutText("address 2", r->address2Length, r->address2);
    Out("\n");
  }
  Check(qorMemRelease(request) == 0, "%s: Qor_MemRelease did not return 0", label);
  return count;
}

static void Expect(uint32_t got, uint32_t want, const char* label) {
  Check(got == want, "%s: %u results, expected %u", label, (unsigned)got, (unsigned)want);
}

static void NumberSearch(void* handle, const char* key, uint32_t want) {
  SearchRequest request;
  char label[64];
  sprintf(label, "number \"%.40s\"", key);
  Expect(Search(handle, label, NumberRequest(&request, key)), want, label);
}

static void NameSearch(void* handle, const char* label, uint32_t region, uint32_t kind,
                       const char* address1, const char* address2, const char* pattern,
                       uint32_t want) {
  SearchRequest request;
  Expect(Search(handle, label, NameRequest(&request, region, kind, address1, address2, pattern)),
         want, label);
}

/* ---- the session */

static void SearchTheFirstSet(void* h) {
  SearchRequest request;

  /* Dictionary 0101 of dict1 wins over the older copy in dict2: its address, not "旧". */
  NumberSearch(h, "03-3211-0001", 1);
  NumberSearch(h, "0332110001", 1);
  NumberSearch(h, "03-3211-0005", 2);
  NumberSearch(h, "045-501-0001", 1);
  NumberSearch(h, "0455010003", 1);
  NumberSearch(h, "0422510001", 1);
  /* Only the losing copy lists it. */
  NumberSearch(h, "03-3211-0099", 0);
  /* Corrections: removed, added, and two whose versions are below the edition stamp. */
  NumberSearch(h, "0332110002", 0);
  NumberSearch(h, "03-3211-0009", 1);
  NumberSearch(h, "03-3211-0008", 0);
  NumberSearch(h, "045-501-0009", 0);

  NameSearch(h, "name 13101 3 \"" YAMADA "*\"", 13101, 3, "", "", YAMADA "*", 3);
  NameSearch(h, "name 13101 1 " MARUNOUCHI " \"" YAMADA FW_SPACE FW_QUESTION FW_QUESTION "\"",
             13101, 1, MARUNOUCHI, "", YAMADA FW_SPACE FW_QUESTION FW_QUESTION, 2);
  NameSearch(h, "name 13101 2 " UCHIKANDA " 6-7 \"" SATO FW_STAR "\"", 13101, 2, UCHIKANDA, "6-7",
             SATO FW_STAR, 1);
  NameSearch(h, "name 13101 1 \"" SATO "*\"", 13101, 1, "", "", SATO "*", 2);
  NameSearch(h, "name 13102 3 \"*" HYO "*\"", 13102, 3, "", "", "*" HYO "*", 1);
  NameSearch(h, "name 14101 3 \"*" SO "*\"", 14101, 3, "", "", "*" SO "*", 2);
  NameSearch(h, "name 13229 3 \"" TANAKA "*\"", 13229, 3, "", "", TANAKA "*", 1);
  NameSearch(h, "name 13103 3 \"*a\"", 13103, 3, "", "", "*a", 0);
  NameSearch(h, "name 13101 0 \"" YAMADA "*\"", 13101, 0, "", "", YAMADA "*", 0);
  NameSearch(h, "name 13101 4 \"" YAMADA "*\"", 13101, 4, "", "", YAMADA "*", 0);

  /* Blank patterns: nothing is searched. */
  NameSearch(h, "blank \"\"", 13101, 3, "", "", "", 0);
  NameSearch(h, "blank \"*\"", 13101, 3, "", "", "*", 0);
  NameSearch(h, "blank \"? *\"", 13101, 3, "", "", "? *", 0);
  NameSearch(h, "blank \"?" FW_QUESTION "*\"", 13101, 3, "", "", "?" FW_QUESTION "*", 0);
  NameSearch(h, "blank \"" FW_SPACE FW_STAR FW_QUESTION "\"", 13101, 3, "", "",
             FW_SPACE FW_STAR FW_QUESTION, 0);

  /* Keys that are no number. */
  NumberSearch(h, "", 0);
  NumberSearch(h, "03-1234", 0);
  NumberSearch(h, "abcdefghij", 0);
  NumberSearch(h, "033211000111", 0);
  NumberSearch(h, "\x82\x4F\x82\x52\x82\x52\x82\x51\x82\x50\x82\x50\x82\x4F\x82\x4F\x82\x4F\x82\x50",
               0); /* full-width digits */
  NumberRequest(&request, "03-3211-0001");
  request.keyLength = 41; /* beyond the key field */
  Expect(Search(h, "number with key length 41", &request), 0, "key length 41");
  NumberRequest(&request, "03-3211-0001");
  request.keyLength = 0xFFFFFFFFu;
  Expect(Search(h, "number with key length 0xFFFFFFFF", &request), 0, "key length 0xFFFFFFFF");
  NameRequest(&request, 13101, 3, "", "", YAMADA "*");
  request.namePatternLength = 161; /* beyond the pattern field */
  Expect(Search(h, "name with pattern length 161", &request), 0, "pattern length 161");

  /* Other modes search nothing. */
  NumberRequest(&request, "03-3211-0001");
  request.mode = 0;
  Expect(Search(h, "mode 0", &request), 0, "mode 0");
  request.mode = 3;
  Expect(Search(h, "mode 3", &request), 0, "mode 3");
}

static void Copy(const char* label, const char* from, const char* to, const int32_t* numbers,
                 int32_t count, int32_t want) {
  int32_t copied = qorCopyDic(from, (int32_t)strlen(from), to, (int32_t)strlen(to), numbers, count);
  Out("copy %s: %d\n", label, (int)copied);
  Check(copied == want, "copy %s: %d files, expected %d", label, (int)copied, (int)want);
}

static void CopyDictionaries(void) {
  static const int32_t first[] = {101, 103};
  static const int32_t second[] = {102};
  Check(MakeDirectory("copy"), "cannot make the directory copy");
  Check(MakeDirectory(SO), "cannot make the directory 0x83 0x5C");
  Copy("dict1 -> copy (101 103)", "dict1", "copy", first, 2, 1);
  Copy("dict2(closed) -> copy(closed) (102)", "dict2" SEP, "copy" SEP, second, 1, 1);
  /* A directory name ending in a two-byte character whose second byte is 0x5C. */
  Copy("dict1 -> " SO " (101 103)", "dict1", SO, first, 2, 1);
  Copy("dict2 -> " SO " (102)", "dict2", SO, second, 1, 1);
  /* The copies and their catalogs lie inside the destinations. */
  Check(FileExists("copy" SEP "qor0101.dct") && FileExists("copy" SEP "qor0102.dct") &&
            FileExists("copy" SEP "qor9999.dct"),
        "the files copied to copy are not inside it");
  Check(FileExists(SO SEP "qor0101.dct") && FileExists(SO SEP "qor0102.dct") &&
            FileExists(SO SEP "qor9999.dct"),
        "the files copied to the directory 0x83 0x5C are not inside it");
  Copy("empty source", "", "copy", first, 2, 0);
  Copy("empty destination", "dict1", "", first, 2, 0);
  Copy("count 0", "dict1", "copy", first, 0, 0);
}

static void FailedOpens(void) {
  OpenRequest request;
  OpenResult result, before;
  void* handle;
  memset(&result, 0xA5, sizeof result);
  memcpy(&before, &result, sizeof before);
  MakeOpenRequest(&request, "", "", "");
  handle = qorOpen(&request, &result);
  Out("open three empty paths: %s\n", handle ? "handle" : "0");
  Check(handle == NULL, "an open of three empty paths succeeded");
  Check(memcmp(&result, &before, sizeof result) == 0, "a failed open wrote the result record");
  MakeOpenRequest(&request, "missing1", "missing2", "missing3");
  handle = qorOpen(&request, &result);
  Out("open missing directories: %s\n", handle ? "handle" : "0");
  Check(handle == NULL, "an open of missing directories succeeded");
  Check(memcmp(&result, &before, sizeof result) == 0, "a failed open wrote the result record");
}

int main(int argc, char** argv) {
  OpenResult first, again, copied, odd;
  void *h1, *h2, *h3, *h4;
  if (argc != 3) {
    fprintf(stderr, "usage: qor3_host LIBRARY ANSWERS\n");
    return 2;
  }
#if defined(_WIN32)
  fprintf(stderr, "qor3_host: ANSI code page %u\n", (unsigned)GetACP());
#endif
  if (!LoadLibraryFunctions(argv[1])) return 1;
  answers = fopen(argv[2], "wb");
  if (!answers) {
    fprintf(stderr, "qor3_host: cannot write %s\n", argv[2]);
    return 1;
  }

  FailedOpens();

  /* Open -> searches (each followed by MemRelease) -> Close. */
  h1 = Open("dict1 dict2(closed) corrections", "dict1", "dict2" SEP, "corrections", &first);
  if (h1) {
    Check(first.regionCount == 4, "the first set lists %u regions, expected 4",
          (unsigned)first.regionCount);
    SearchTheFirstSet(h1);
    Close(h1, &first);
  }

  CopyDictionaries();

  /* Fresh opens of the copies: the same answers; without the corrections, the removed
   * listing is back and the added one is gone. */
  h2 = Open("copy  corrections", "copy", "", "corrections", &copied);
  if (h2) {
    Check(h2 == h1, "a second open returned another handle");
    Check(copied.regionCount == 4, "the copy lists %u regions, expected 4",
          (unsigned)copied.regionCount);
    NumberSearch(h2, "03-3211-0001", 1);
    NumberSearch(h2, "0332110002", 0);
    NumberSearch(h2, "045-501-0002", 1);
    NameSearch(h2, "name 13101 3 \"" YAMADA "*\"", 13101, 3, "", "", YAMADA "*", 3);
    Close(h2, &copied);
  }
  h3 = Open(SO "  ", SO, "", "", &odd);
  if (h3) {
    Check(odd.regionCount == 4, "the copy in the directory 0x83 0x5C lists %u regions, expected 4",
          (unsigned)odd.regionCount);
    Check(odd.correctionFilePresent == 0, "a correction file without a correction directory");
    NumberSearch(h3, "0332110002", 1);
    NumberSearch(h3, "03-3211-0009", 0);
    NameSearch(h3, "name 13101 3 \"" YAMADA "*\"", 13101, 3, "", "", YAMADA "*", 3);
    Close(h3, &odd);
  }

  /* A second cycle on the first set: the same handle and the same answers. */
  h4 = Open("dict1 dict2(closed) corrections (again)", "dict1", "dict2" SEP, "corrections", &again);
  if (h4) {
    Check(h4 == h1, "the second cycle returned another handle");
    NumberSearch(h4, "03-3211-0005", 2);
    NameSearch(h4, "name 14101 3 \"*" SO "*\"", 14101, 3, "", "", "*" SO "*", 2);
    Close(h4, &again);
  }

  Out("end\n");
  if (fclose(answers) != 0) {
    fprintf(stderr, "qor3_host: cannot write %s\n", argv[2]);
    return 1;
  }
  if (failures) fprintf(stderr, "qor3_host: %d checks failed\n", failures);
  return failures ? 1 : 0;
}
