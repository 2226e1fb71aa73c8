// The dictionary builder: sorts the listings into entry order, cuts them into entry blocks of
// one region code each, codes the entries and the number items, and lays out the file.
#include "mkdict/dict_builder.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>

#include "base/byte_order.h"
#include "base/num_text.h"
#include "common/cp932.h"
#include "dict/dict_format.h"
#include "dict/surname_table.h"
#include "files/file_names.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kMaxSharedCount = 0x7F;  // counts of fields 6 and 7 stay below 0x80
constexpr uint32_t kMaxNumberBlocks = 0xFFFF / kNumberIndexRecordSize;  // L5 is a u16
constexpr uint32_t kAreaCodeValuesMax = (kAreaCodeSectionMax - 2) / 3;

void PutU8(Bytes* out, uint32_t v) { out->push_back(static_cast<uint8_t>(v)); }
void PutU16(Bytes* out, uint32_t v) {
  uint8_t b[2];
  PutU16BE(b, v);
  out->insert(out->end(), b, b + 2);
}
void PutU24(Bytes* out, uint32_t v) {
  uint8_t b[3];
  PutU24BE(b, v);
  out->insert(out->end(), b, b + 3);
}
void PutU32(Bytes* out, uint32_t v) {
  uint8_t b[4];
  PutU32BE(b, v);
  out->insert(out->end(), b, b + 4);
}
void PutText(Bytes* out, const std::string& text) { out->insert(out->end(), text.begin(), text.end()); }

std::string LinePrefix(const Listing& listing) {
  return listing.line > 0 ? "line " + std::to_string(listing.line) + ", " : "";
}

// Number text into a caller buffer of at least 11 bytes; returns its length. Written here
// rather than with NumText, whose buffer is shared: dictionaries are built in parallel.
int NumberText(uint32_t number, char* out) {
  const int width = number >= 100000000 ? 10 : 9;
  for (int i = width - 1; i >= 0; --i, number /= 10) out[i] = static_cast<char>('0' + number % 10);
  out[width] = '\0';
  return width;
}

int CompareBytes(const std::string& a, const std::string& b) {
  int c = a.compare(b);  // char_traits<char>::compare compares as unsigned char
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// Shared leading two-byte characters of two double-byte texts, at most kMaxSharedCount.
uint32_t SharedCharacters(const std::string& previous, const std::string& text) {
  uint32_t k = 0;
  while (k < kMaxSharedCount && 2 * k + 2 <= previous.size() && 2 * k + 2 <= text.size() &&
         previous[2 * k] == text[2 * k] && previous[2 * k + 1] == text[2 * k + 1]) {
    ++k;
  }
  return k;
}

uint32_t SharedBytes(const std::string& previous, const std::string& text) {
  uint32_t k = 0;
  while (k < kMaxSharedCount && k < previous.size() && k < text.size() && previous[k] == text[k]) ++k;
  return k;
}

// The state of coding the entries of one block, each against the one before it.
struct EntryCoder {
  const Listing* previous = nullptr;  // null at the start of a block
  bool haveLongNumber = false;
  uint32_t longNumberHigh = 0;  // number div 10000 of the latest long-form number
};

void CodeEntry(const Listing& e, bool correction, EntryCoder* coder, Bytes* out) {
  const Listing* p = coder->previous;
  uint8_t flags = 0;
  if (p != nullptr) {
    if (e.postal == p->postal) flags |= kFlagSamePostal;
    if (e.regionCode == p->regionCode) flags |= kFlagSameRegion;
    if (e.address1 == p->address1) flags |= kFlagSameAddress1;
    if (e.address2 == p->address2) flags |= kFlagSameAddress2;
  }
  // The kind is carried only by the name coding, so a kind-2 entry sets this bit even at the
  // start of a block (with a shared count of 0 against the empty previous name).
  if (e.kind == 2) flags |= kFlagSharedName;
  PutU8(out, flags);
  if (!(flags & kFlagSamePostal)) PutU24(out, e.postal);
  if (!(flags & kFlagSameRegion)) PutU16(out, e.regionCode);
  if (!(flags & kFlagSameAddress1)) PutText(out, e.address1);

  if (coder->haveLongNumber && e.number / 10000 == coder->longNumberHigh) {
    PutU16(out, kShortNumberBit << 8 | e.number % 10000);
  } else {
    PutU32(out, e.number);
    coder->haveLongNumber = true;
    coder->longNumberHigh = e.number / 10000;
  }

  static const std::string kEmpty;
  const std::string& previousName = p != nullptr ? p->name : kEmpty;
  if (e.kind == 2) {
    uint32_t k = SharedCharacters(previousName, e.name);
    PutU8(out, k);
    out->insert(out->end(), e.name.begin() + 2 * k, e.name.end());
  } else {
    int surname = SurnameTable_FindPrefix(e.name.data(), e.name.size());
    size_t skip = 0;
    if (surname >= 0) {
      PutU16(out, static_cast<uint32_t>(surname));
      skip = SurnameTable_Length(static_cast<uint32_t>(surname));
    }
    out->insert(out->end(), e.name.begin() + static_cast<std::ptrdiff_t>(skip), e.name.end());
  }

  if (!(flags & kFlagSameAddress2)) {
    const std::string& previousAddress = p != nullptr ? p->address2 : kEmpty;
    uint32_t k = SharedBytes(previousAddress, e.address2);
    PutU8(out, k);
    out->insert(out->end(), e.address2.begin() + k, e.address2.end());
  }
  if (correction) {
    PutU16(out, CorrectionWord_Make(e.correctionAdd, e.correctionVersion));
  }
  coder->previous = &e;
}

// A zlib stream of raw at the level given (0 stores it).
bool Deflate(const Bytes& raw, int level, Bytes* out) {
  uLongf length = compressBound(static_cast<uLong>(raw.size()));
  out->resize(length);
  if (compress2(out->data(), &length, raw.data(), static_cast<uLong>(raw.size()), level) !=
      Z_OK) {
    return false;
  }
  out->resize(length);
  return true;
}

// A block as a zlib stream: compressed, or stored when compressing saves less than a quarter
// of it. Small blocks of coded entries compress little (about a sixth at 1 KiB), and
// inflating a compressed block costs a lookup that misses the cache several times what
// copying a stored one does; every zlib reader reads both.
bool Compress(const Bytes& raw, Bytes* out) {
  if (!Deflate(raw, 9, out)) return false;
  if (out->size() * 4 <= raw.size() * 3) return true;
  return Deflate(raw, 0, out);
}

struct Range {
  size_t begin;
  size_t end;
};

struct CodedBlock {
  Range range;
  Bytes compressed;
};

// Codes and compresses a range; a block whose compressed form is too large is split in two.
bool CompressRanges(const Range& range, const std::function<void(const Range&, Bytes*)>& code,
                    std::vector<CodedBlock>* out, std::string* error) {
  Bytes raw;
  code(range, &raw);
  CodedBlock block{range, {}};
  if (!Compress(raw, &block.compressed)) {
    *error = "zlib compression failed";
    return false;
  }
  if (block.compressed.size() > kCompressedBlockMax && range.end - range.begin > 1) {
    size_t middle = range.begin + (range.end - range.begin) / 2;
    return CompressRanges({range.begin, middle}, code, out, error) &&
           CompressRanges({middle, range.end}, code, out, error);
  }
  if (block.compressed.size() > kCompressedBlockMax) {
    *error = "one block does not compress below " + std::to_string(kCompressedBlockMax) + " bytes";
    return false;
  }
  out->push_back(std::move(block));
  return true;
}

// Entry blocks: one region code each; a block ends before the entry that would break a hard
// limit, and once it has reached the target size, before the next kind-1 entry.
std::vector<Range> PlanEntryBlocks(const std::vector<Listing>& entries, bool correction,
                                   uint32_t target, uint32_t maxEntries) {
  std::vector<Range> ranges;
  EntryCoder coder;
  size_t size = 0;
  Bytes coded;
  for (size_t i = 0; i < entries.size(); ++i) {
    bool start = ranges.empty() || entries[i].regionCode != entries[i - 1].regionCode;
    if (!start) {
      EntryCoder next = coder;
      coded.clear();
      CodeEntry(entries[i], correction, &next, &coded);
      size_t count = i - ranges.back().begin;
      if ((maxEntries != 0 && count >= maxEntries) ||
          size + coded.size() > kDecompressedBlockMax ||
          (size >= target && entries[i].kind == 1)) {
        start = true;
      } else {
        coder = next;
        size += coded.size();
        ranges.back().end = i + 1;
      }
    }
    if (start) {
      coder = EntryCoder{};
      coded.clear();
      CodeEntry(entries[i], correction, &coder, &coded);
      size = coded.size();
      ranges.push_back({i, i + 1});
    }
  }
  return ranges;
}

struct NumberItem {
  uint32_t number;
  uint32_t group;
};

uint32_t DeltaLength(uint32_t delta) {
  return delta < (1u << 6) ? 1 : delta < (1u << 14) ? 2 : delta < (1u << 22) ? 3 : 4;
}

void CodeNumberItems(const std::vector<NumberItem>& items, const Range& range, Bytes* out) {
  uint32_t sum = 0;
  for (size_t i = range.begin; i < range.end; ++i) {
    uint32_t delta = items[i].number - sum;
    sum = items[i].number;
    uint32_t length = DeltaLength(delta);
    uint32_t value = delta | (length - 1) << (8 * length - 2);
    for (uint32_t b = length; b-- > 0;) PutU8(out, value >> (8 * b));
    PutU8(out, items[i].group);
  }
}

std::vector<Range> PlanNumberBlocks(const std::vector<NumberItem>& items, uint32_t target,
                                    uint32_t maxItems) {
  std::vector<Range> ranges;
  size_t size = 0;
  uint32_t previous = 0;
  for (size_t i = 0; i < items.size(); ++i) {
    bool start = ranges.empty();
    if (!start) {
      size_t length = DeltaLength(items[i].number - previous) + 1;
      size_t count = i - ranges.back().begin;
      if ((maxItems != 0 && count >= maxItems) || size + length > kDecompressedBlockMax ||
          size >= target) {
        start = true;
      } else {
        size += length;
        ranges.back().end = i + 1;
      }
    }
    if (start) {
      size = DeltaLength(items[i].number) + 1;
      ranges.push_back({i, i + 1});
    }
    previous = items[i].number;
  }
  return ranges;
}

// One region code must always come with the same names; checked in input order so that the
// message names the first line that disagrees.
bool CheckRegionNames(const std::vector<Listing>& entries, std::string* error) {
  std::map<uint32_t, const Listing*> regions;
  for (const Listing& e : entries) {
    auto [it, added] = regions.emplace(e.regionCode, &e);
    const Listing& first = *it->second;
    if (!added && (first.regionName1 != e.regionName1 || first.regionName2 != e.regionName2)) {
      std::string names1, names2;
      Cp932_ToUtf8(first.regionName1 + " / " + first.regionName2, &names1);
      Cp932_ToUtf8(e.regionName1 + " / " + e.regionName2, &names2);
      char code[12];  // not NumText (see NumberText)
      std::snprintf(code, sizeof code, "%05u", static_cast<unsigned>(e.regionCode));
      *error = LinePrefix(e) + "field region_name1: region code " + code +
               " is named " + Text_Excerpt(names2) + " here but " + Text_Excerpt(names1) +
               (first.line > 0 ? " on line " + std::to_string(first.line) : "");
      return false;
    }
  }
  return true;
}

// Section 2: one record per region code in ascending order; equal names share one string.
bool BuildRegionTable(const std::vector<Listing>& entries, Bytes* out, uint32_t* regionCount,
                      std::string* error) {
  std::map<uint32_t, const Listing*> regions;
  for (const Listing& e : entries) regions.emplace(e.regionCode, &e);
  Bytes strings;
  std::map<std::string, uint32_t> offsets;
  auto offsetOf = [&](const std::string& name) {
    auto [it, added] = offsets.emplace(name, static_cast<uint32_t>(strings.size()));
    if (added) {
      PutText(&strings, name);
      PutU8(&strings, 0);
    }
    return it->second;
  };
  out->clear();
  PutU16(out, static_cast<uint32_t>(regions.size()));
  for (const auto& [code, listing] : regions) {
    uint32_t name1 = offsetOf(listing->regionName1);
    uint32_t name2 = offsetOf(listing->regionName2);
    PutU16(out, code);
    PutU16(out, 0);  // not read by the engine
    PutU16(out, name1);  // offsets stay below 64000: the table's size is checked below
    PutU16(out, name2);
  }
  out->insert(out->end(), strings.begin(), strings.end());
  *regionCount = static_cast<uint32_t>(regions.size());
  if (out->size() > kRegionTableFileMax) {
    *error = "data cannot fit in one dictionary: the region table of " +
             std::to_string(regions.size()) + " regions takes " + std::to_string(out->size()) +
             " bytes, at most " + std::to_string(kRegionTableFileMax);
    return false;
  }
  return true;
}

bool BuildAreaCodeSection(std::vector<uint32_t> values, const char* what, Bytes* out,
                          std::string* error) {
  std::sort(values.begin(), values.end());
  values.erase(std::unique(values.begin(), values.end()), values.end());
  if (values.size() > kAreaCodeValuesMax) {
    *error = std::string(what) + ": " + std::to_string(values.size()) + " values, at most " +
             std::to_string(kAreaCodeValuesMax);
    return false;
  }
  out->clear();
  PutU16(out, static_cast<uint32_t>(values.size()));
  for (uint32_t v : values) {
    if (v >= kAreaCodeValueLimit) {
      *error = std::string(what) + ": value " + std::to_string(v) + " is not below " +
               std::to_string(kAreaCodeValueLimit);
      return false;
    }
    PutU24(out, v);
  }
  return true;
}

bool IsText(const std::string& text, uint8_t lowest) {
  for (char c : text) {
    if (static_cast<uint8_t>(c) < lowest) return false;
  }
  return true;
}

bool TooLong(const std::string& text, uint32_t limit, const char* field, std::string* error) {
  if (text.size() <= limit) return false;
  *error = std::string("field ") + field + ": " + std::to_string(text.size()) +
           " bytes in code page 932, at most " + std::to_string(limit);
  return true;
}

}  // namespace

// Index texts are cut to the longest head of at most kIndexTextMax bytes that ends on a
// character boundary. Search keys are at most 80 bytes, so a cut text still compares with any
// key as the whole text does.
std::string DictBuilder_IndexText(const std::string& text) {
  return text.substr(0, Dict_IndexTextLength(text.data(), text.size()));
}

std::string Listing_NumberText(uint32_t number) {
  char text[24];
  int length = NumberText(number, text);
  return std::string(text, static_cast<size_t>(length));
}

int Listing_Compare(const Listing& a, const Listing& b) {
  if (a.regionCode != b.regionCode) return a.regionCode < b.regionCode ? -1 : 1;
  if (int c = CompareBytes(a.address1, b.address1)) return c;
  if (int c = CompareBytes(a.address2, b.address2)) return c;
  if (int c = CompareBytes(a.name, b.name)) return c;
  char ta[24], tb[24];
  NumberText(a.number, ta);
  NumberText(b.number, tb);
  if (int c = std::strcmp(ta, tb)) return c < 0 ? -1 : 1;
  if (a.kind != b.kind) return a.kind < b.kind ? -1 : 1;
  return 0;
}

bool Listing_Check(const Listing& e, bool correction, std::string* error) {
  if (e.kind != 1 && e.kind != 2) {
    *error = "field kind: " + std::to_string(e.kind) + " is not 1 or 2";
    return false;
  }
  if (e.regionCode > kMaxRegionCode) {
    *error = "field region_code: " + std::to_string(e.regionCode) + " is over " +
             std::to_string(kMaxRegionCode);
    return false;
  }
  if (e.number > 999999999) {
    *error = "field number: " + std::to_string(e.number) + " has more than ten digits";
    return false;
  }
  if (e.postal > 9999999) {
    *error = "field postal_code: " + std::to_string(e.postal) + " has more than seven digits";
    return false;
  }
  if (TooLong(e.name, kNameMax, "name", error)) return false;
  if (!Cp932_IsDoubleByte(e.name)) {
    *error = "field name: not made of double-byte characters";
    return false;
  }
  if (e.kind == 1 && e.name.empty()) {
    *error = "field name: empty; a kind-1 name must hold at least one character";
    return false;
  }
  if (TooLong(e.address1, kAddressMax, "address1", error)) return false;
  if (!Cp932_IsDoubleByte(e.address1)) {
    *error = "field address1: not made of double-byte characters";
    return false;
  }
  if (TooLong(e.address2, kAddressMax, "address2", error)) return false;
  if (!IsText(e.address2, 0x20)) {
    *error = "field address2: holds a byte below 0x20";
    return false;
  }
  if (TooLong(e.regionName1, kRegionName1Max, "region_name1", error)) return false;
  if (TooLong(e.regionName2, kRegionName2Max, "region_name2", error)) return false;
  if (!IsText(e.regionName1, 0x20) || !IsText(e.regionName2, 0x20)) {
    *error = std::string("field ") + (IsText(e.regionName1, 0x20) ? "region_name2" : "region_name1") +
             ": holds a byte below 0x20";
    return false;
  }
  if (correction && e.correctionVersion > kMaxCorrectionVersion) {
    *error = "field version: " + std::to_string(e.correctionVersion) + " is over " +
             std::to_string(kMaxCorrectionVersion);
    return false;
  }
  return true;
}

bool DictBuilder_Build(std::vector<Listing> entries, const DictBuildOptions& options,
                       std::vector<uint8_t>* image, DictBuildStats* stats, std::string* error) {
  *stats = DictBuildStats{};
  if (options.edition1 > kMaxEdition1 || options.edition2 > kMaxEdition2) {
    *error = "edition values must have at most 8 and 4 digits";
    return false;
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    std::string message;
    if (!Listing_Check(entries[i], options.correction, &message)) {
      *error = (entries[i].line > 0 ? LinePrefix(entries[i])
                                    : "listing " + std::to_string(i + 1) + ": ") + message;
      return false;
    }
  }
  if (!CheckRegionNames(entries, error)) return false;
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Listing& a, const Listing& b) { return Listing_Compare(a, b) < 0; });

  Bytes regionTable;
  uint32_t regionCount = 0;
  if (!BuildRegionTable(entries, &regionTable, &regionCount, error)) return false;
  if (regionCount > kEntryBlockMax) {
    *error = "data cannot fit in one dictionary: " + std::to_string(regionCount) +
             " region codes, but each needs its own entry block and a dictionary has at most " +
             std::to_string(kEntryBlockMax);
    return false;
  }

  // Entry blocks, raising the target size until they number at most 256.
  uint32_t target = std::clamp(options.blockBytes, kMinBlockBytes, kDecompressedBlockMax);
  auto codeEntries = [&](const Range& range, Bytes* out) {
    EntryCoder coder;
    for (size_t i = range.begin; i < range.end; ++i) {
      CodeEntry(entries[i], options.correction, &coder, out);
    }
  };
  std::vector<CodedBlock> entryBlocks;
  for (;;) {
    entryBlocks.clear();
    for (const Range& range : PlanEntryBlocks(entries, options.correction, target,
                                              options.maxEntriesPerBlock)) {
      if (!CompressRanges(range, codeEntries, &entryBlocks, error)) return false;
    }
    if (entryBlocks.size() <= kEntryBlockMax) break;
    if (target == kDecompressedBlockMax) {
      *error = "data cannot fit in one dictionary: it needs " + std::to_string(entryBlocks.size()) +
               " entry blocks, at most " + std::to_string(kEntryBlockMax);
      if (options.maxEntriesPerBlock != 0) {
        *error += " (with at most " + std::to_string(options.maxEntriesPerBlock) +
                  " entries per block)";
      }
      return false;
    }
    target = std::min(target * 2, kDecompressedBlockMax);
  }

  // Number items: one per entry, in ascending number, pointing at the entry's block.
  std::vector<NumberItem> items;
  items.reserve(entries.size());
  for (size_t g = 0; g < entryBlocks.size(); ++g) {
    const Range& range = entryBlocks[g].range;
    for (size_t i = range.begin; i < range.end; ++i) {
      items.push_back({entries[i].number, static_cast<uint32_t>(g)});
    }
    if (entries[range.begin].kind == 2) ++stats->blocksStartingWithKind2;
  }
  std::stable_sort(items.begin(), items.end(),
                   [](const NumberItem& a, const NumberItem& b) { return a.number < b.number; });
  for (size_t i = 0; i < items.size();) {
    size_t j = i;
    while (j < items.size() && items[j].number == items[i].number) ++j;
    if (j - i > kMaxOccurrencesPerNumber) {
      *error = "number " + Listing_NumberText(items[i].number) + " occurs in " +
               std::to_string(j - i) + " entries, at most " +
               std::to_string(kMaxOccurrencesPerNumber);
      return false;
    }
    i = j;
  }

  uint32_t numberTarget = std::clamp(options.numberBlockBytes, kMinBlockBytes / 4, kDecompressedBlockMax);
  auto codeItems = [&](const Range& range, Bytes* out) { CodeNumberItems(items, range, out); };
  std::vector<CodedBlock> numberBlocks;
  for (;;) {
    numberBlocks.clear();
    for (const Range& range :
         PlanNumberBlocks(items, numberTarget, options.maxItemsPerNumberBlock)) {
      if (!CompressRanges(range, codeItems, &numberBlocks, error)) return false;
    }
    if (numberBlocks.size() <= kMaxNumberBlocks) break;
    if (numberTarget == kDecompressedBlockMax) {
      *error = "data cannot fit in one dictionary: it needs " +
               std::to_string(numberBlocks.size()) + " number blocks, at most " +
               std::to_string(kMaxNumberBlocks);
      return false;
    }
    numberTarget = std::min(numberTarget * 2, kDecompressedBlockMax);
  }

  // Sections 0 and 1: prefix and suffix filters.
  Bytes prefixFilter(kPrefixFilterMax, 0);
  Bytes suffixFilter(kSuffixFilterMax, 0);
  for (const Listing& e : entries) {
    uint32_t prefix = NumberPrefix(e.number);
    prefixFilter[prefix / 8] |= static_cast<uint8_t>(0x80 >> (prefix % 8));
    uint32_t suffix = e.number % 100000;
    suffixFilter[suffix / 8] |= static_cast<uint8_t>(0x80 >> (suffix % 8));
  }

  // Sections 3 and 4.
  Bytes areaCodes, extendedAreaCodes;
  if (!BuildAreaCodeSection(options.areaCodes, "area codes", &areaCodes, error) ||
      !BuildAreaCodeSection(options.extendedAreaCodes, "extended area codes", &extendedAreaCodes,
                            error)) {
    return false;
  }

  // Section 5: number index and number blocks.
  Bytes numberIndex, numberData;
  for (const CodedBlock& block : numberBlocks) {
    PutU16(&numberIndex, static_cast<uint32_t>(block.compressed.size()));
    PutU32(&numberIndex, items[block.range.begin].number);
    PutU32(&numberIndex, items[block.range.end - 1].number);
    numberData.insert(numberData.end(), block.compressed.begin(), block.compressed.end());
  }
  Bytes section5;
  PutU16(&section5, static_cast<uint32_t>(numberIndex.size()));
  PutU32(&section5, static_cast<uint32_t>(numberData.size()));
  section5.insert(section5.end(), numberIndex.begin(), numberIndex.end());
  section5.insert(section5.end(), numberData.begin(), numberData.end());

  // Section 6: entry index and entry blocks.
  Bytes entryIndex, entryData;
  for (const CodedBlock& block : entryBlocks) {
    PutU16(&entryIndex, static_cast<uint32_t>(block.compressed.size()));
    PutU16(&entryIndex, entries[block.range.begin].regionCode);
    PutText(&entryIndex, DictBuilder_IndexText(entries[block.range.begin].address1));
    PutU8(&entryIndex, 0);
    PutText(&entryIndex, DictBuilder_IndexText(entries[block.range.end - 1].address1));
    PutU8(&entryIndex, 0);
    entryData.insert(entryData.end(), block.compressed.begin(), block.compressed.end());
  }
  Bytes section6;
  PutU16(&section6, static_cast<uint32_t>(entryIndex.size()));
  PutU32(&section6, static_cast<uint32_t>(entryData.size()));
  section6.insert(section6.end(), entryIndex.begin(), entryIndex.end());
  section6.insert(section6.end(), entryData.begin(), entryData.end());

  const Bytes* sections[kDictSectionCount] = {&prefixFilter, &suffixFilter, &regionTable,
                                              &areaCodes,    &extendedAreaCodes, &section5,
                                              &section6};
  image->assign(kDictHeaderSize, 0);
  PutU32BE(image->data() + kDictEdition1Offset, options.edition1);
  PutU32BE(image->data() + kDictEdition2Offset, options.edition2);
  for (int i = 0; i < kDictSectionCount; ++i) {
    PutU32BE(image->data() + kDictSectionSizesOffset + 4 * i,
             static_cast<uint32_t>(sections[i]->size()));
    image->insert(image->end(), sections[i]->begin(), sections[i]->end());
  }

  stats->entries = static_cast<uint32_t>(entries.size());
  stats->regions = regionCount;
  stats->entryBlocks = static_cast<uint32_t>(entryBlocks.size());
  stats->numberBlocks = static_cast<uint32_t>(numberBlocks.size());
  stats->entryBlockBytes = target;
  return true;
}

bool DictBuilder_WriteFile(const std::string& path, const std::vector<uint8_t>& image,
                           std::string* error) {
  const FilePiece piece{image.data(), image.size()};
  if (File_WriteReplace(path.c_str(), &piece, 1) != 0) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}
