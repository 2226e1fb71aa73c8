// EngineState: the one open dictionary set of the process; the handle is its address.
#ifndef QOR3_ENGINE_ENGINE_STATE_H
#define QOR3_ENGINE_ENGINE_STATE_H

#include <cstdint>

#include "base/row_list.h"
#include "files/file_names.h"

constexpr uint32_t kDictNumberLimit = 5000;
constexpr uint32_t kRegionCodeLimit = 50000;
constexpr uint32_t kPrefixNumberLimit = 1024;
constexpr uint16_t kNoDictionary = 0xFFFF;

struct EngineState {
  char directory1[kPathCapacity];  // closed with the path separator unless empty
  char directory2[kPathCapacity];
  char correctionDirectory[kPathCapacity];
  uint8_t catalog1Loaded;
  uint8_t catalog2Loaded;
  uint8_t correctionFilePresent;
  // [region code (5), region name 1, region name 2, dictionary number (4)], ascending code.
  RowList regionList;
  // [prefix number (4), dictionary number (4), ...], ascending prefix number; a prefix number
  // of more dictionaries than a row holds goes on in the next row.
  RowList prefixList;
  // The link of each prefix number's first row in prefixList (null: none), so that a number
  // search goes straight to its rows.
  uint8_t* prefixRows[kPrefixNumberLimit];
  uint8_t dictDirectory[kDictNumberLimit];  // 0 none, 1 directory 1, 2 directory 2
  uint8_t regionCovered[kRegionCodeLimit];
  // The dictionary of each region code's first row in regionList (kNoDictionary: none), so
  // that a name search goes straight to it.
  uint16_t regionDictionary[kRegionCodeLimit];
  uint16_t regionEdition[kRegionCodeLimit];  // (edition value 1 / 100) mod 10000
};

#endif  // QOR3_ENGINE_ENGINE_STATE_H
