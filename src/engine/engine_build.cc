// Engine index build: the engine's region list, prefix list and lookup tables from the two
// refreshed catalog images, the newer copy of every dictionary winning.
//
// The catalog tables are read straight into plain arrays of numbers and sorted as numbers:
// the order is the one the row lists would take sorted by their fixed-width texts (a
// 4-digit number, a 5-digit region code), equal keys in the order the catalogs store them.
#include "engine/engine_build.h"

#include <algorithm>
#include <cstring>

#include "base/mem.h"
#include "base/num_text.h"

namespace {

constexpr uint16_t kPrefixRowFields = kEnginePrefixRowDictMax + 1;

// One region record of a selected copy, in the order the catalogs list them.
struct RegionItem {
  uint32_t code;
  uint32_t order;
  uint32_t dictNumber;
  const char* name1;
  const char* name2;
};

// Work of one build: the edition value 1 of every selected copy and the collected records.
struct BuildWork {
  uint32_t selectedEdition[kDictNumberLimit];
  uint32_t edition2Key[kDictNumberLimit];
  RegionItem* regions;
  uint32_t regionCount;
  uint32_t* prefixes;  // prefix number << 16 | dictionary number
  uint32_t prefixCount;
  const char* rowFields[kPrefixRowFields];
  char rowText[kPrefixRowFields * 5];
};

void CopyPath(char* out, const char* path) {
  const size_t len = strnlen(path, kPathCapacity - 1);
  std::memcpy(out, path, len);
  out[len] = '\0';
}

// Where a catalogued value stands among values written as width-digit text: the text keeps
// the value's last width digits, and 0xFFFFFFFF is written as blanks, which come first.
uint32_t TextRank(uint32_t value, uint32_t modulus) {
  return value == 0xFFFFFFFFu ? 0 : 1 + value % modulus;
}

// Every number goes to its copy with the larger edition value 1, then the
// larger edition value 2, and on a full tie to directory 1 (whose rows come first).
void SelectCopies(const DirCatalog* image, uint8_t tag, EngineState* engine, BuildWork* work) {
  if (!image->loaded) return;
  for (uint32_t i = 0; i < image->dictCount; ++i) {
    CatalogDictRow row;
    if (DirCatalog_DictRow(image, i, &row) != 0) break;
    if (row.number >= kDictNumberLimit) continue;
    const uint32_t edition1 = TextRank(row.edition1, 100000000);
    const uint32_t edition2 = TextRank(row.edition2, 10000);
    uint32_t* best1 = &work->selectedEdition[row.number];
    uint32_t* best2 = &work->edition2Key[row.number];
    if (engine->dictDirectory[row.number] != 0 &&
        (edition1 < *best1 || (edition1 == *best1 && edition2 <= *best2))) {
      continue;
    }
    engine->dictDirectory[row.number] = tag;
    *best1 = edition1;
    *best2 = edition2;
  }
}

void CollectRegions(const DirCatalog* image, uint8_t tag, const EngineState* engine,
                    BuildWork* work) {
  if (!image->loaded) return;
  for (uint32_t i = 0; i < image->regionCount; ++i) {
    CatalogRegionRecord rec;
    if (DirCatalog_RegionRecord(image, i, &rec) != 0) break;
    if (rec.dictNumber >= kDictNumberLimit || rec.code >= kRegionCodeLimit ||
        engine->dictDirectory[rec.dictNumber] != tag) {
      continue;
    }
    work->regions[work->regionCount] = {rec.code, work->regionCount, rec.dictNumber, rec.name1,
                                        rec.name2};
    ++work->regionCount;
  }
}

void CollectPrefixes(const DirCatalog* image, uint8_t tag, const EngineState* engine,
                     BuildWork* work) {
  if (!image->loaded) return;
  PrefixCursor cursor;
  PrefixCursor_Start(&cursor, image);
  uint32_t prefix, n;
  const uint8_t* dicts;
  while (PrefixCursor_Next(&cursor, &prefix, &dicts, &n) == 0) {
    if (prefix >= kPrefixNumberLimit) continue;
    for (uint32_t k = 0; k < n; ++k) {
      uint16_t d;
      GetU16BE(dicts + 2 * k, &d);
      if (d >= kDictNumberLimit || engine->dictDirectory[d] != tag) continue;
      work->prefixes[work->prefixCount++] = prefix << 16 | d;
    }
  }
}

// Region records and prefix entries both catalogs hold at most.
uint32_t RegionRoom(const DirSet* set) {
  return uint32_t{set->catalog1.regionCount} + set->catalog2.regionCount;
}
uint32_t PrefixRoom(const DirSet* set) {
  return (set->catalog1.prefixLength + set->catalog2.prefixLength) / 2;
}

// The region list, which codes are covered and their edition stamps, by region code and then in
// catalog order.
int BuildRegions(const DirSet* set, EngineState* engine, BuildWork* work) {
  CollectRegions(&set->catalog1, 1, engine, work);
  CollectRegions(&set->catalog2, 2, engine, work);
  std::sort(work->regions, work->regions + work->regionCount,
            [](const RegionItem& a, const RegionItem& b) {
              return a.code != b.code ? a.code < b.code : a.order < b.order;
            });
  std::memset(engine->regionCovered, 0, sizeof engine->regionCovered);
  std::fill_n(engine->regionDictionary, kRegionCodeLimit, kNoDictionary);
  std::memset(engine->regionEdition, 0, sizeof engine->regionEdition);
  for (uint32_t i = 0; i < work->regionCount; ++i) {
    const RegionItem& r = work->regions[i];
    char code[6], number[5];
    std::memcpy(code, NumText(r.code, 5), 6);
    std::memcpy(number, NumText(r.dictNumber, 4), 5);
    const char* f[] = {code, r.name1, r.name2, number};
    if (RowList_Append(&engine->regionList, f, 4) != 0) return -1;
    engine->regionCovered[r.code] = 1;
    if (engine->regionDictionary[r.code] == kNoDictionary) {
      engine->regionDictionary[r.code] = static_cast<uint16_t>(r.dictNumber);
    }
    // Several dictionaries on one code: the last in region order decides. The edition value
    // is the one its 8-digit text gives back.
    const uint32_t rank = work->selectedEdition[r.dictNumber];
    const uint32_t edition1 = rank == 0 ? 0 : rank - 1;
    engine->regionEdition[r.code] = static_cast<uint16_t>(edition1 / 100 % 10000);
  }
  return 0;
}

// One prefix list row per prefix number, its dictionaries ascending, each once;
// a full row is appended and the prefix number's dictionaries go on in another row.
int BuildPrefixes(const DirSet* set, EngineState* engine, BuildWork* work) {
  CollectPrefixes(&set->catalog1, 1, engine, work);
  CollectPrefixes(&set->catalog2, 2, engine, work);
  std::sort(work->prefixes, work->prefixes + work->prefixCount);
  uint16_t fields = 0, used = 0;
  for (uint32_t i = 0; i < work->prefixCount; ++i) {
    const uint32_t prefix = work->prefixes[i] >> 16;
    const bool newPrefix = i == 0 || prefix != work->prefixes[i - 1] >> 16;
    if (!newPrefix && work->prefixes[i] == work->prefixes[i - 1]) continue;
    if (newPrefix || fields == kPrefixRowFields) {
      if (fields != 0 && RowList_Append(&engine->prefixList, work->rowFields, fields) != 0) {
        return -1;
      }
      fields = used = 0;
      RowList_AddField(NumText(prefix, 4), work->rowFields, &fields, kPrefixRowFields,
                       work->rowText, &used, sizeof work->rowText);
    }
    RowList_AddField(NumText(work->prefixes[i] & 0xFFFF, 4), work->rowFields, &fields,
                     kPrefixRowFields, work->rowText, &used, sizeof work->rowText);
  }
  if (fields != 0 && RowList_Append(&engine->prefixList, work->rowFields, fields) != 0) return -1;
  return 0;
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
  work->regions =
      static_cast<RegionItem*>(Mem_Alloc((size_t{RegionRoom(set)} + 1) * sizeof(RegionItem)));
  work->prefixes =
      static_cast<uint32_t*>(Mem_Alloc((size_t{PrefixRoom(set)} + 1) * sizeof(uint32_t)));
  int result = -1;
  if (work->regions && work->prefixes) {
    std::memset(engine->dictDirectory, 0, sizeof engine->dictDirectory);
    SelectCopies(&set->catalog1, 1, engine, work);
    SelectCopies(&set->catalog2, 2, engine, work);
    result =
        BuildRegions(set, engine, work) == 0 && BuildPrefixes(set, engine, work) == 0 ? 0 : -1;
  }
  Mem_Free(work->prefixes);
  Mem_Free(work->regions);
  Mem_Free(work);
  std::memset(engine->prefixRows, 0, sizeof engine->prefixRows);
  if (result != 0) {
    RowList_Free(&engine->regionList);
    RowList_Free(&engine->prefixList);
    return result;
  }
  for (uint8_t* link = engine->prefixList.firstRow; link; link = RowLink_Next(link)) {
    uint8_t* block = RowLink_Block(link);
    if (RowBlock_FieldCount(block) == 0) continue;
    const uint32_t prefix = DecimalValue(RowBlock_Field(block, 0));
    if (prefix < kPrefixNumberLimit && engine->prefixRows[prefix] == nullptr) {
      engine->prefixRows[prefix] = link;
    }
  }
  return result;
}
