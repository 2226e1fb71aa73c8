// Engine index build: the engine's region list, prefix list and lookup tables from the two
// refreshed catalog images, the newer copy of every dictionary winning.
#include "catalog/engine_build.h"

#include <cstring>

#include "base/byte_order.h"
#include "base/mem.h"
#include "base/num_text.h"
#include "base/row_index.h"

namespace {

// Newest copy first: number ascending, edition 1 and edition 2 descending, directory 1 first.
constexpr KeySpec kCopyKeys[] = {TextKey(1), TextKey(2, kKeyDescending), TextKey(3, kKeyDescending),
                                 TextKey(4)};
constexpr KeySpec kRegionKeys[] = {TextKey(1)};
constexpr KeySpec kPrefixKeys[] = {TextKey(1), TextKey(2)};
constexpr uint16_t kPrefixRowFields = kEnginePrefixRowDictMax + 1;

// Transient lists of one build, with the edition value 1 of every selected copy.
struct BuildWork {
  RowList copies;
  RowIndex copyIndex;
  RowList regions;
  RowIndex regionIndex;
  RowList prefixes;
  RowIndex prefixIndex;
  uint32_t selectedEdition[kDictNumberLimit];
  const char* rowFields[kPrefixRowFields];
  char rowText[kPrefixRowFields * 5];
};

void CopyPath(char* out, const char* path) {
  const size_t len = strnlen(path, kPathCapacity - 1);
  std::memcpy(out, path, len);
  out[len] = '\0';
}

int CollectCopies(const DirCatalog* image, const char* tag, RowList* copies) {
  if (!image->loaded) return 0;
  for (uint32_t i = 0; i < image->dictCount; ++i) {
    CatalogDictRow row;
    if (DirCatalog_DictRow(image, i, &row) != 0) break;
    if (row.number >= kDictNumberLimit) continue;
    char number[5], edition1[9], edition2[5];
    std::memcpy(number, NumText(row.number, 4), 5);
    std::memcpy(edition1, NumText(row.edition1, 8), 9);
    std::memcpy(edition2, NumText(row.edition2, 4), 5);
    const char* f[] = {number, edition1, edition2, tag};
    if (RowList_Append(copies, f, 4) != 0) return -1;
  }
  return 0;
}

int CollectRegions(const DirCatalog* image, uint8_t tag, const EngineState* engine,
                   RowList* regions) {
  if (!image->loaded) return 0;
  for (uint32_t i = 0; i < image->regionCount; ++i) {
    CatalogRegionRecord rec;
    if (DirCatalog_RegionRecord(image, i, &rec) != 0) break;
    if (rec.dictNumber >= kDictNumberLimit || rec.code >= kRegionCodeLimit ||
        engine->dictDirectory[rec.dictNumber] != tag) {
      continue;
    }
    char code[6], number[5];
    std::memcpy(code, NumText(rec.code, 5), 6);
    std::memcpy(number, NumText(rec.dictNumber, 4), 5);
    const char* f[] = {code, rec.name1, rec.name2, number};
    if (RowList_Append(regions, f, 4) != 0) return -1;
  }
  return 0;
}

int CollectPrefixes(const DirCatalog* image, uint8_t tag, const EngineState* engine,
                    RowList* prefixes) {
  if (!image->loaded) return 0;
  PrefixCursor cursor;
  PrefixCursor_Start(&cursor, image);
  uint32_t prefix, n;
  const uint8_t* dicts;
  while (PrefixCursor_Next(&cursor, &prefix, &dicts, &n) == 0) {
    if (prefix >= kPrefixNumberLimit) continue;
    char prefixText[5];
    std::memcpy(prefixText, NumText(prefix, 4), 5);
    for (uint32_t k = 0; k < n; ++k) {
      uint16_t d;
      GetU16BE(dicts + 2 * k, &d);
      if (d >= kDictNumberLimit || engine->dictDirectory[d] != tag) continue;
      char number[5];
      std::memcpy(number, NumText(d, 4), 5);
      const char* f[] = {prefixText, number};
      if (RowList_Append(prefixes, f, 2) != 0) return -1;
    }
  }
  return 0;
}

// Every copy of each dictionary number in either directory, sorted newest first, and the
// directory of each number's newest copy (with its edition).
int SelectCopies(const DirSet* set, EngineState* engine, BuildWork* work) {
  if (CollectCopies(&set->catalog1, "1", &work->copies) != 0 ||
      CollectCopies(&set->catalog2, "2", &work->copies) != 0 ||
      RowIndex_BuildSorted(&work->copies, &work->copyIndex, kCopyKeys, 4) != 0) {
    return -1;
  }
  std::memset(engine->dictDirectory, 0, sizeof engine->dictDirectory);
  char* f[4];
  uint16_t n;
  uint32_t last = kDictNumberLimit;
  RowIndex_Rewind(&work->copyIndex);
  while (RowIndex_Next(&work->copyIndex, f, &n, 4) == 0) {
    if (n < 4) continue;
    const uint32_t number = DecimalValue(f[0]);
    if (number == last) continue;
    engine->dictDirectory[number] = static_cast<uint8_t>(f[3][0] - '0');
    work->selectedEdition[number] = DecimalValue(f[1]);
    last = number;
  }
  return 0;
}

// The region list in region code order, which codes are covered, and each code's edition
// stamp (the YYMM of its dictionary's edition value 1).
int BuildRegions(const DirSet* set, EngineState* engine, BuildWork* work) {
  if (CollectRegions(&set->catalog1, 1, engine, &work->regions) != 0 ||
      CollectRegions(&set->catalog2, 2, engine, &work->regions) != 0 ||
      RowIndex_BuildSorted(&work->regions, &work->regionIndex, kRegionKeys, 1) != 0) {
    return -1;
  }
  std::memset(engine->regionCovered, 0, sizeof engine->regionCovered);
  std::memset(engine->regionEdition, 0, sizeof engine->regionEdition);
  char* f[4];
  uint16_t n;
  RowIndex_Rewind(&work->regionIndex);
  while (RowIndex_Next(&work->regionIndex, f, &n, 4) == 0) {
    if (n < 4) continue;
    if (RowList_Append(&engine->regionList, f, 4) != 0) return -1;
    const uint32_t code = DecimalValue(f[0]);
    engine->regionCovered[code] = 1;
    // Several dictionaries on one code: the last in region order decides.
    engine->regionEdition[code] =
        static_cast<uint16_t>(work->selectedEdition[DecimalValue(f[3])] / 100 % 10000);
  }
  return 0;
}

// One prefix list row per prefix number: the number, then its dictionaries, each once.
int BuildPrefixes(const DirSet* set, EngineState* engine, BuildWork* work) {
  if (CollectPrefixes(&set->catalog1, 1, engine, &work->prefixes) != 0 ||
      CollectPrefixes(&set->catalog2, 2, engine, &work->prefixes) != 0 ||
      RowIndex_BuildSorted(&work->prefixes, &work->prefixIndex, kPrefixKeys, 2) != 0) {
    return -1;
  }
  char* f[2];
  uint16_t n;
  uint16_t fields = 0, used = 0;
  char lastPrefix[5] = "", lastDict[5] = "";
  RowIndex_Rewind(&work->prefixIndex);
  while (RowIndex_Next(&work->prefixIndex, f, &n, 2) == 0) {
    if (n < 2) continue;
    if (std::strcmp(f[0], lastPrefix) != 0) {
      if (fields != 0 && RowList_Append(&engine->prefixList, work->rowFields, fields) != 0) {
        return -1;
      }
      fields = used = 0;
      RowList_AddField(f[0], work->rowFields, &fields, kPrefixRowFields, work->rowText, &used,
                       sizeof work->rowText);
      std::memcpy(lastPrefix, f[0], 5);
      lastDict[0] = '\0';
    }
    // A dictionary listed twice under one prefix is kept once; numbers beyond the row's
    // room are dropped.
    if (std::strcmp(f[1], lastDict) == 0) continue;
    RowList_AddField(f[1], work->rowFields, &fields, kPrefixRowFields, work->rowText, &used,
                     sizeof work->rowText);
    std::memcpy(lastDict, f[1], 5);
  }
  if (fields != 0 && RowList_Append(&engine->prefixList, work->rowFields, fields) != 0) return -1;
  return 0;
}

void FreeWork(BuildWork* work) {
  RowIndex_Free(&work->copyIndex);
  RowList_Free(&work->copies);
  RowIndex_Free(&work->regionIndex);
  RowList_Free(&work->regions);
  RowIndex_Free(&work->prefixIndex);
  RowList_Free(&work->prefixes);
  Mem_Free(work);
}

}  // namespace

int Engine_Build(const DirSet* set, EngineState* engine) {
  CopyPath(engine->directory1, set->catalog1.path);
  CopyPath(engine->directory2, set->catalog2.path);
  CopyPath(engine->correctionDirectory, set->correction.path);
  engine->catalog1Loaded = set->catalog1.loaded ? 1 : 0;
  engine->catalog2Loaded = set->catalog2.loaded ? 1 : 0;
  engine->correctionFilePresent = set->correction.present ? 1 : 0;
  if (!engine->catalog1Loaded && !engine->catalog2Loaded && !engine->correctionFilePresent) {
    return -1;
  }
  RowList_Init(&engine->regionList);
  RowList_Init(&engine->prefixList);
  BuildWork* work = static_cast<BuildWork*>(Mem_AllocZeroed(1, sizeof(BuildWork)));
  if (!work) return -1;
  RowList_Init(&work->copies);
  RowIndex_Clear(&work->copyIndex);
  RowList_Init(&work->regions);
  RowIndex_Clear(&work->regionIndex);
  RowList_Init(&work->prefixes);
  RowIndex_Clear(&work->prefixIndex);
  const int result = SelectCopies(set, engine, work) == 0 &&
                             BuildRegions(set, engine, work) == 0 &&
                             BuildPrefixes(set, engine, work) == 0
                         ? 0
                         : -1;
  FreeWork(work);
  if (result != 0) {
    RowList_Free(&engine->regionList);
    RowList_Free(&engine->prefixList);
  }
  return result;
}
