// The dictionary builder: listings in code page 932 in memory -> the bytes of one dictionary
// file (qorNNNN.dct, or the correction file qor5001.dct), and writing that file safely.
#ifndef QOR3_TOOLS_MKDICT_DICT_BUILDER_H
#define QOR3_TOOLS_MKDICT_DICT_BUILDER_H

#include <cstdint>
#include <string>
#include <vector>

// One listing, texts in code page 932.
struct Listing {
  int kind = 1;             // 1 or 2
  uint32_t regionCode = 0;  // 0..49999
  uint32_t number = 0;      // value of the 9- or 10-digit number (leading zero dropped)
  uint32_t postal = 0;      // the seven postal digits as a number
  std::string name;         // double-byte characters; kind 1: not empty
  std::string regionName1;
  std::string regionName2;
  std::string address1;     // double-byte characters
  std::string address2;     // bytes 0x20 and above
  bool correctionAdd = true;       // correction file: add (true) or remove
  uint32_t correctionVersion = 0;  // correction file: 0..9999, a YYMM by convention
  int line = 0;  // source line for messages (0: none)
};

struct DictBuildOptions {
  uint32_t edition1 = 0;  // eight decimal digits (YYYYMMDD), header offset 4
  uint32_t edition2 = 0;  // four decimal digits, header offset 8
  bool correction = false;  // write correction words (the correction file)
  // Area code set and extended area code set: the digits after the leading zero.
  std::vector<uint32_t> areaCodes;
  std::vector<uint32_t> extendedAreaCodes;
  // Target decompressed size of an entry block: what a first lookup inflates and decodes
  // (BENCHMARKS.md measures the sizes).
  uint32_t blockBytes = 1024;
  uint32_t numberBlockBytes = 8192;  // target decompressed size of a number block
  uint32_t maxEntriesPerBlock = 0;   // 0: no limit; else a hard limit (tests force small blocks)
  uint32_t maxItemsPerNumberBlock = 0;  // the same for number blocks
};

struct DictBuildStats {
  uint32_t entries = 0;
  uint32_t regions = 0;
  uint32_t entryBlocks = 0;
  uint32_t numberBlocks = 0;
  uint32_t entryBlockBytes = 0;  // the block target actually used (raised when blocks overflow)
  uint32_t blocksStartingWithKind2 = 0;
};

// Limits of the builder's input (bytes of code page 932 text, without a terminator).
constexpr uint32_t kMaxRegionCode = 49999;
constexpr uint32_t kMaxCorrectionVersion = 9999;  // four digits, as the edition stamp
constexpr uint32_t kMaxEdition1 = 99999999;
constexpr uint32_t kMaxEdition2 = 9999;
constexpr uint32_t kMaxOccurrencesPerNumber = 256;  // group numbers a number search collects
constexpr uint32_t kMinBlockBytes = 1024;

// Checks one listing on its own (field ranges, text lengths and forms); false with a message
// "field NAME: ..." naming the field.
bool Listing_Check(const Listing& listing, bool correction, std::string* error);

// The entry order of the engine: region code text, address text 1, address text 2, name,
// number text, entry kind text, each compared bytewise unsigned; -1, 0 or 1.
int Listing_Compare(const Listing& a, const Listing& b);

// The number text of a number value: ten digits from 100000000 up, else nine.
std::string Listing_NumberText(uint32_t number);

// The address text 1 of an entry as the entry index records it: the longest head of at most
// 83 bytes (kIndexTextMax) that ends on a character boundary.
std::string DictBuilder_IndexText(const std::string& text);

// Builds the file image. false with a message when a listing is invalid ("line N, field ...")
// or the data cannot fit in one dictionary; the image is then unspecified.
bool DictBuilder_Build(std::vector<Listing> listings, const DictBuildOptions& options,
                       std::vector<uint8_t>* image, DictBuildStats* stats, std::string* error);

// Writes the image to path through a temporary file in the same directory ("path.PID.tmp",
// removed by the next open or copy when a killed build leaves it) that is renamed at the end,
// so the file appears only when complete. false with a message.
bool DictBuilder_WriteFile(const std::string& path, const std::vector<uint8_t>& image,
                           std::string* error);

#endif  // QOR3_TOOLS_MKDICT_DICT_BUILDER_H
