// Inspect and check of dictionary and catalog files. The walk reads a dictionary through
// the engine's checked readers and decodes every block; it records what it saw for inspect
// and every rule a file breaks for check.
#include "qor/dict_check.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "base/damage.h"
#include "base/file_io.h"
#include "base/num_text.h"
#include "catalog/catalog_file.h"
#include "catalog/catalog_refresh.h"
#include "common/console.h"
#include "common/cp932.h"
#include "common/progress.h"
#include "copy/copy_dic.h"
#include "mkdict/dict_builder.h"
#include "platform/platform.h"
#include "qor/output.h"
#include "dict/dict_entry.h"
#include "dict/dict_file.h"
#include "files/file_names.h"
#include "search/correction_merge.h"

namespace {

constexpr uint32_t kMaxReported = 50;  // problems listed per file; the rest are counted

const char* const kSectionNames[kDictSectionCount] = {
    "prefix filter",       "suffix filter", "region table", "area codes",
    "extended area codes", "number index",  "entry section"};

struct Problem {
  std::string place;
  std::string what;
};

struct RegionSeen {
  uint32_t code;
  std::string name1, name2;  // UTF-8
};

struct NumberBlock {
  uint32_t size, first, last, items;
};

struct EntryBlock {
  uint32_t size, region;
  std::string first, last;  // CP932
  uint32_t entries, decompressed;
  bool complete;  // read, decompressed and decoded to its end
};

// What the walk of one dictionary file saw.
struct DictWalk {
  bool correction = false;
  uint64_t fileSize = 0;
  uint32_t edition1 = 0, edition2 = 0;
  uint32_t sizes[kDictSectionCount] = {};
  bool headerRead = false;
  std::vector<RegionSeen> regions;
  uint32_t areaCodes = 0, extendedAreaCodes = 0;
  std::vector<NumberBlock> numberBlocks;
  std::vector<EntryBlock> entryBlocks;
  uint64_t entries = 0;
  std::vector<Problem> problems;
  uint64_t problemCount = 0;
};

void Report(DictWalk* walk, const std::string& place, const std::string& what) {
  ++walk->problemCount;
  if (walk->problems.size() < kMaxReported) walk->problems.push_back({place, what});
}

// Where the engine's reader noticed damage, for a maintainer who wants to trace it.
std::string DamageSite() {
  if (Damage_Count() == 0 || Damage_FirstFile() == nullptr) return "";
  const char* file = std::strrchr(Damage_FirstFile(), '/');
  return std::string(" [") + (file ? file + 1 : Damage_FirstFile()) + ":" +
         std::to_string(Damage_FirstLine()) + "]";
}

std::string Utf8(const std::string& cp932) { return Cp932_ToUtf8Lossy(cp932); }
std::string Utf8(const char* cp932) { return Cp932_ToUtf8Lossy(cp932); }

std::string NumberText(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, v >= 100000000 ? "%010u" : "%09u", v);
  return text;
}

std::string Code(uint32_t v, int width) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*u", width, v);
  return text;
}

bool FilterHas(const uint8_t* filter, uint32_t size, uint32_t bit) {
  return bit / 8 < size && (filter[bit / 8] & (0x80 >> (bit % 8))) != 0;
}

bool ReadSection(const DictFile* c, int section, uint64_t at, uint32_t n,
                 std::vector<uint8_t>* out) {
  out->assign(n, 0);
  uint64_t end = Dict_SectionStart(c, section + 1);
  if (at + n > end) return false;
  return n == 0 || File_ReadAt(c->file, at, out->data(), n);
}

void WalkRegions(DictFile* c, DictWalk* walk) {
  Damage_Reset();
  if (Dict_ReadRegionTable(c) != 0) {
    Report(walk, "section 2",
           "region table of " + std::to_string(c->sectionSizes[2]) +
               " bytes does not hold its records" + DamageSite());
    return;
  }
  if (c->sectionSizes[2] > kRegionTableFileMax) {
    Report(walk, "section 2",
           "region table of " + std::to_string(c->sectionSizes[2]) + " bytes, at most 64000");
  }
  const RegionTable table = Dict_RegionTable(c);
  for (uint32_t i = 0; i < table.count; ++i) {
    const ::RegionRecord record = RegionTable_Record(&table, i);
    const uint32_t code = record.code;
    const std::string place = "section 2, region record " + std::to_string(i);
    const char* t1 = nullptr;
    const char* t2 = nullptr;
    size_t l1 = 0, l2 = 0;
    bool ok1 = RegionTable_Name(&table, record.name1Offset, kRegionName1Max, &t1, &l1);
    bool ok2 = RegionTable_Name(&table, record.name2Offset, kRegionName2Max, &t2, &l2);
    if (!ok1)
      Report(walk, place,
             "region name 1 at offset " + std::to_string(record.name1Offset) +
                 " is not a text of at most 10 bytes in the string area");
    if (!ok2)
      Report(walk, place,
             "region name 2 at offset " + std::to_string(record.name2Offset) +
                 " is not a text of at most 40 bytes in the string area");
    if (code >= 50000) Report(walk, place, "region code " + std::to_string(code) + " >= 50000");
    for (const RegionSeen& other : walk->regions) {
      if (other.code == code) {
        Report(walk, place, "region code " + Code(code, 5) + " listed twice");
        break;
      }
    }
    walk->regions.push_back(
        {code, ok1 ? Utf8(std::string(t1, l1)) : "?", ok2 ? Utf8(std::string(t2, l2)) : "?"});
  }
}

void WalkAreaCodes(const DictFile* c, int section, uint32_t* count, DictWalk* walk) {
  const std::string place = "section " + std::to_string(section);
  const uint32_t size = c->sectionSizes[section];
  if (size > kAreaCodeSectionMax || size < 2) {
    Report(walk, place, std::to_string(size) + " bytes: an area code list is 2 to 150000");
    return;
  }
  std::vector<uint8_t> bytes;
  if (!ReadSection(c, section, Dict_SectionStart(c, section), size, &bytes)) {
    Report(walk, place, "cannot be read");
    return;
  }
  ByteReader r = ByteReader_Make(bytes.data(), bytes.size());
  ByteReader_U16(&r, count);
  if (2 + uint64_t{*count} * 3 != size) {
    Report(walk, place,
           std::to_string(*count) + " values do not fill its " + std::to_string(size) + " bytes");
  }
  for (uint32_t i = 0; i < *count; ++i) {
    uint32_t v = 0;
    if (!ByteReader_U24(&r, &v)) break;
    if (v >= kAreaCodeValueLimit) {
      Report(walk, place,
             "value " + std::to_string(i) + " is " + std::to_string(v) + ", at most 99999");
    }
  }
}

// Reads the head (index length, data length) and index of section 5 or 6; false when the
// section cannot hold them.
bool ReadBlockSection(const DictFile* c, int section, DictWalk* walk, uint16_t* indexLength,
                      uint32_t* dataLength, std::vector<uint8_t>* index) {
  const std::string place = "section " + std::to_string(section);
  const uint32_t size = c->sectionSizes[section];
  if (Dict_ReadSectionHead(c, section, indexLength, dataLength) != 0) {
    uint16_t claimed = 0;
    std::vector<uint8_t> head;
    if (size < kSectionHeadSize ||
        !ReadSection(c, section, Dict_SectionStart(c, section), kSectionHeadSize, &head)) {
      Report(walk, place, "too short for its 6-byte head");
    } else {
      GetU16BE(head.data(), &claimed);
      Report(walk, place,
             "index of " + std::to_string(claimed) + " bytes runs past the " +
                 std::to_string(size) + "-byte section");
    }
    return false;
  }
  const uint64_t data = size - kSectionHeadSize - *indexLength;
  if (*dataLength != data) {
    Report(walk, place,
           "block data length " + std::to_string(*dataLength) + ", the section " + "holds " +
               std::to_string(data));
  }
  return ReadSection(c, section, Dict_SectionStart(c, section) + kSectionHeadSize, *indexLength,
                     index);
}

// Reads and inflates one block of section 5 or 6 through the engine's block load; false
// (reported) when it cannot.
bool LoadBlock(const DictFile* c, int section, uint64_t offset, uint32_t size,
               DictBlockBuffer* buffer, const std::string& place, DictWalk* walk) {
  if (size > kCompressedBlockMax) {
    Report(walk, place, "compressed size " + std::to_string(size) + ", at most 65000");
    return false;
  }
  const uint16_t indexLength = section == 5 ? c->numberIndexLength : c->entryIndexLength;
  const uint64_t start = Dict_SectionStart(c, section) + kSectionHeadSize + indexLength + offset;
  if (start + size > Dict_SectionStart(c, section + 1)) {
    Report(walk, place,
           "block at " + std::to_string(offset) + " (" + std::to_string(size) +
               " bytes) runs past its section");
    return false;
  }
  Damage_Reset();
  if (Dict_LoadBlock(c, section, static_cast<uint32_t>(offset), size, buffer) != 0) {
    Report(walk, place,
           "does not decompress (damaged zlib stream, or over 150000 bytes)" +
               DamageSite());
    return false;
  }
  return true;
}

struct Occurrence {
  uint32_t number, block;
  bool operator<(const Occurrence& o) const {
    return number != o.number ? number < o.number : block < o.block;
  }
  bool operator==(const Occurrence& o) const { return number == o.number && block == o.block; }
};

void WalkNumberIndex(DictFile* c, DictBlockBuffer* block, DictWalk* walk,
                     std::vector<Occurrence>* items) {
  uint16_t indexLength = 0;
  uint32_t dataLength = 0;
  std::vector<uint8_t> index;
  if (!ReadBlockSection(c, 5, walk, &indexLength, &dataLength, &index)) return;
  c->numberIndexLength = indexLength;
  if (indexLength % kNumberIndexRecordSize != 0) {
    Report(walk, "section 5",
           "index of " + std::to_string(indexLength) +
               " bytes is not a whole number of 10-byte records");
  }
  ByteReader r = ByteReader_Make(index.data(), index.size());
  uint64_t offset = 0;
  uint32_t previousLast = 0;
  for (uint32_t k = 0; ByteReader_Left(&r) >= kNumberIndexRecordSize; ++k) {
    uint32_t size = 0, first = 0, last = 0;
    ByteReader_U16(&r, &size);
    ByteReader_U32(&r, &first);
    ByteReader_U32(&r, &last);
    const std::string place = "section 5, number block " + std::to_string(k);
    NumberBlock info{size, first, last, 0};
    if (first > last) Report(walk, place, "first number above last number");
    if (k > 0 && first < previousLast) {
      Report(walk, place,
             "first number " + NumberText(first) +
                 " below the last number of "
                 "the block before");
    }
    previousLast = last;
    if (LoadBlock(c, 5, offset, size, block, place, walk)) {
      NumberItemReader itemReader{block->data, block->length, 0};
      uint64_t sum = 0;
      for (;;) {
        const uint32_t at = itemReader.pos;
        uint32_t delta = 0;
        uint8_t group = 0;
        const int more = NumberItem_Next(&itemReader, &delta, &group);
        if (more == 0) break;
        if (more < 0) {
          Report(walk, place + ", byte " + std::to_string(at), "item cut off by the block end");
          break;
        }
        sum += delta;
        if (info.items == 0 && sum != first) {
          Report(walk, place,
                 "first item " + std::to_string(sum) + ", the index says " + NumberText(first));
        }
        if (sum > last) {
          Report(walk, place + ", byte " + std::to_string(at),
                 "item number " + std::to_string(sum) + " above the block's last number");
          break;
        }
        ++info.items;
        items->push_back({static_cast<uint32_t>(sum), group});
      }
      if (info.items > 0 && sum != last) {
        Report(walk, place,
               "last item " + NumberText(static_cast<uint32_t>(sum)) + ", the index says " +
                   NumberText(last));
      }
      if (info.items == 0) Report(walk, place, "holds no item");
    }
    offset += size;
    walk->numberBlocks.push_back(info);
  }
  if (offset != dataLength && offset <= dataLength) {
    Report(walk, "section 5",
           "blocks take " + std::to_string(offset) + " of the " + std::to_string(dataLength) +
               " bytes of block data");
  }
}

typedef std::function<void(const DictEntry&, uint32_t block)> EntryVisitor;

void WalkEntries(DictFile* c, DictBlockBuffer* block, DictDecoder* decoder, DictWalk* walk,
                 const std::vector<uint8_t>& filters, std::vector<Occurrence>* occurrences,
                 const EntryVisitor& visit) {
  uint16_t indexLength = 0;
  uint32_t dataLength = 0;
  std::vector<uint8_t> index;
  if (!ReadBlockSection(c, 6, walk, &indexLength, &dataLength, &index)) return;
  Damage_Reset();
  if (Dict_ReadEntryIndex(c) != 0) {
    Report(walk, "section 6",
           "entry index damaged at byte " + std::to_string(c->entryIndexSound) + " (" +
               "a record runs past the index, holds a text over 83 bytes, "
               "has a block past the section or is the 257th)" +
               DamageSite());
  }
  for (uint32_t k = 0; k < c->entryIndexCount; ++k) {
    const EntryIndexRecord& record = c->entryIndex[k];
    walk->entryBlocks.push_back(
        {record.compressedSize, record.regionCode, record.firstText, record.lastText, 0, 0, false});
  }
  const RegionTable regions = Dict_RegionTable(c);
  const int variant = walk->correction ? kDecodeCorrection : kDecodeDictionary;
  const uint8_t* prefix = filters.data();
  const uint8_t* suffix = filters.data() + kPrefixFilterMax;
  uint64_t offset = 0;
  std::unique_ptr<DictEntry> last(new DictEntry());
  bool haveLast = false;
  for (uint32_t k = 0; k < walk->entryBlocks.size(); ++k) {
    EntryBlock& info = walk->entryBlocks[k];
    const std::string place = "section 6, entry block " + std::to_string(k);
    if (k > 0) {
      const EntryBlock& before = walk->entryBlocks[k - 1];
      if (info.region < before.region ||
          (info.region == before.region && info.first < before.first)) {
        Report(walk, place, "index record out of order (region code, then address text 1)");
      }
    }
    if (info.first > info.last) Report(walk, place, "first address text above last");
    const uint64_t at = offset;
    offset += info.size;
    if (!LoadBlock(c, 6, at, info.size, block, place, walk)) continue;
    info.decompressed = block->length;
    DictDecoder_StartBlock(decoder);
    uint32_t position = 0;
    std::string firstText, lastText;
    while (true) {
      const uint32_t entryAt = position;
      Damage_Reset();
      if (DictEntry_Decode(decoder, &regions, block->data, block->length, &position, variant) !=
          0) {
        if (position < block->length) {
          Report(walk,
                 place + ", entry " + std::to_string(info.entries) + " at byte " +
                     std::to_string(entryAt),
                 "damaged entry; the rest of the block is lost" + DamageSite());
        }
        break;
      }
      const DictEntry& e = *decoder->entry;
      const std::string entryPlace = place + ", entry " + std::to_string(info.entries);
      if (info.entries == 0) firstText = DictBuilder_IndexText(e.address1);
      lastText = DictBuilder_IndexText(e.address1);
      if (e.regionCode != info.region) {
        Report(walk, entryPlace,
               "region code " + Code(e.regionCode, 5) + " in a block of " + Code(info.region, 5));
      }
      bool known = false;
      for (const RegionSeen& region : walk->regions) known = known || region.code == e.regionCode;
      if (!known) {
        Report(walk, entryPlace,
               "region code " + Code(e.regionCode, 5) + " missing from the region table");
      }
      if (haveLast && DictEntry_Compare(last.get(), &e) > 0) {
        Report(walk, entryPlace,
               "out of entry order (region code, address 1, address 2, "
               "name, number, kind)");
      }
      const uint32_t p = NumberPrefix(e.number), s = e.number % 100000;
      if (!FilterHas(prefix, c->sectionSizes[0], p) || !FilterHas(suffix, c->sectionSizes[1], s)) {
        Report(walk, entryPlace,
               "number " + std::string(e.numberText) + " missing from the prefix or suffix filter");
      }
      occurrences->push_back({e.number, k});
      *last = e;
      haveLast = true;
      ++info.entries;
      ++walk->entries;
      if (visit) visit(e, k);
    }
    info.complete = position >= block->length;
    if (info.entries == 0) Report(walk, place, "holds no entry");
    if (info.entries > 0 && (firstText != info.first || lastText != info.last)) {
      Report(walk, place, "index texts do not match the block's first and last address 1");
    }
  }
  if (offset != dataLength && offset <= dataLength) {
    Report(walk, "section 6",
           "blocks take " + std::to_string(offset) + " of the " + std::to_string(dataLength) +
               " bytes of block data");
  }
}

// Every entry has its item in the number index and every item names a block holding an
// entry with its number.
void CrossCheck(std::vector<Occurrence> items, std::vector<Occurrence> entries, DictWalk* walk) {
  std::sort(items.begin(), items.end());
  std::sort(entries.begin(), entries.end());
  std::vector<Occurrence> missing, stray;
  std::set_difference(entries.begin(), entries.end(), items.begin(), items.end(),
                      std::back_inserter(missing));
  std::set_difference(items.begin(), items.end(), entries.begin(), entries.end(),
                      std::back_inserter(stray));
  for (const Occurrence& o : missing) {
    Report(walk, "section 5",
           "number " + NumberText(o.number) + " of entry block " + std::to_string(o.block) +
               " has no item in the number index");
  }
  for (const Occurrence& o : stray) {
    // Items of a block that could not be read to its end were reported with the block.
    if (o.block < walk->entryBlocks.size() && !walk->entryBlocks[o.block].complete) continue;
    Report(walk, "section 5",
           "item " + NumberText(o.number) + " names entry block " + std::to_string(o.block) +
               ", which holds no such entry");
  }
}

// Every bit of the two filters stands for a number of the file (a stray bit makes a search
// read the file's indexes for nothing, and means the filter is not the file's own). Only
// checked when every entry block was read whole.
void CheckFilterBits(const std::vector<uint8_t>& filters, const std::vector<Occurrence>& entries,
                     DictWalk* walk) {
  for (const EntryBlock& block : walk->entryBlocks) {
    if (!block.complete) return;
  }
  std::vector<uint8_t> prefixes(kPrefixFilterMax * 8, 0), suffixes(kSuffixFilterMax * 8, 0);
  for (const Occurrence& o : entries) {
    const uint32_t p = NumberPrefix(o.number);
    if (p < prefixes.size()) prefixes[p] = 1;
    suffixes[o.number % 100000] = 1;
  }
  const struct {
    const uint8_t* bits;
    uint32_t size;
    const std::vector<uint8_t>* used;
    const char* place;
  } sets[] = {{filters.data(), std::min(walk->sizes[0], kPrefixFilterMax), &prefixes, "section 0"},
              {filters.data() + kPrefixFilterMax, std::min(walk->sizes[1], kSuffixFilterMax),
               &suffixes, "section 1"}};
  for (const auto& set : sets) {
    uint32_t stray = 0, first = 0;
    for (uint32_t bit = 0; bit < set.size * 8; ++bit) {
      if (FilterHas(set.bits, set.size, bit) && !(*set.used)[bit]) {
        if (stray++ == 0) first = bit;
      }
    }
    if (stray > 0) {
      Report(walk, set.place, std::to_string(stray) + " bits set that no number of the file " +
                                  "has, the first for " + std::to_string(first));
    }
  }
}

bool WalkDictionary(const std::string& path, bool correction, const EntryVisitor& visit,
                    DictWalk* walk, std::string* error) {
  FILE* file = Platform_OpenRegularFile(path.c_str());
  if (file == nullptr) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  std::unique_ptr<DictFile> dict(new DictFile());
  std::unique_ptr<DictBlockBuffer> block(new DictBlockBuffer());
  std::unique_ptr<DictDecoder> decoder(new DictDecoder());
  DictFile* c = dict.get();
  DictFile_Init(c, file);
  DictDecoder_Init(decoder.get());
  walk->correction = correction;
  walk->fileSize = static_cast<uint64_t>(std::max<int64_t>(File_Size(file), 0));
  uint8_t header[kDictHeaderSize];
  Damage_Reset();
  const int headerResult = Dict_ReadHeader(c, header);
  if (walk->fileSize >= kDictHeaderSize) {
    ByteReader r = ByteReader_Make(header, sizeof header);
    ByteReader_Skip(&r, kDictEdition1Offset);
    ByteReader_U32(&r, &walk->edition1);
    ByteReader_U32(&r, &walk->edition2);
    ByteReader_Skip(&r, kDictSectionSizesOffset - kDictEdition2Offset - 4);
    for (uint32_t& size : walk->sizes) ByteReader_U32(&r, &size);
    walk->headerRead = true;
  }
  if (headerResult != 0) {
    uint64_t end = kDictHeaderSize;
    for (uint32_t size : walk->sizes) end += size;
    Report(walk, "header",
           walk->fileSize < kDictHeaderSize
               ? "file of " + std::to_string(walk->fileSize) +
                     " bytes is shorter than its 256-byte header"
               : "sections end at byte " + std::to_string(end) + ", past the end of the file (" +
                     std::to_string(walk->fileSize) + " bytes): truncated?");
  } else {
    const uint64_t end = Dict_SectionStart(c, kDictSectionCount);
    if (end < walk->fileSize) {
      Report(walk, "header",
             std::to_string(walk->fileSize - end) + " bytes after the last section");
    }
    if (walk->edition1 > 99999999) Report(walk, "header", "edition value 1 has more than 8 digits");
    if (walk->edition2 > 9999) Report(walk, "header", "edition value 2 has more than 4 digits");
    std::vector<uint8_t> filters(kPrefixFilterMax + kSuffixFilterMax, 0);
    Damage_Reset();
    if (Dict_ReadFilters(c) != 0) {
      Report(walk, "sections 0 and 1",
             "filters of " + std::to_string(walk->sizes[0]) + " and " +
                 std::to_string(walk->sizes[1]) + " bytes (at most 125 and 12500)" + DamageSite());
    }
    std::memcpy(filters.data(), c->prefixFilter, kPrefixFilterMax);
    std::memcpy(filters.data() + kPrefixFilterMax, c->suffixFilter, kSuffixFilterMax);
    WalkRegions(c, walk);
    WalkAreaCodes(c, 3, &walk->areaCodes, walk);
    WalkAreaCodes(c, 4, &walk->extendedAreaCodes, walk);
    std::vector<Occurrence> items, entries;
    WalkNumberIndex(c, block.get(), walk, &items);
    WalkEntries(c, block.get(), decoder.get(), walk, filters, &entries, visit);
    for (const Occurrence& o : items) {
      if (o.block >= walk->entryBlocks.size()) {
        Report(walk, "section 5",
               "item " + NumberText(o.number) + " names entry block " + std::to_string(o.block) +
                   " of " + std::to_string(walk->entryBlocks.size()));
      }
    }
    CheckFilterBits(filters, entries, walk);
    CrossCheck(std::move(items), std::move(entries), walk);
  }
  DictFile_Free(c);
  std::fclose(file);
  return true;
}

// ---- Catalog files.

// A catalog image on the heap, its tables released with it.
struct CatalogImageDelete {
  void operator()(DirCatalog* image) const {
    DirCatalog_Free(image);
    delete image;
  }
};
using CatalogImage = std::unique_ptr<DirCatalog, CatalogImageDelete>;

struct CatalogWalk {
  std::vector<CatalogDictRow> dicts;
  std::vector<CatalogRegionRecord> regions;
  std::vector<std::pair<uint32_t, std::vector<uint32_t>>> prefixes;
  DictWalk problems;  // only its problem list is used
};

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::string BaseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool WalkCatalog(const std::string& path, CatalogImage* imageOut, CatalogWalk* walk,
                 std::string* error) {
  if (BaseName(path) != "qor9999.dct") {
    *error = path + ": a catalog file is read only under its name qor9999.dct";
    return false;
  }
  CatalogImage image(new DirCatalog());
  DirCatalog_Init(image.get());
  Damage_Reset();
  const Result read = DirCatalog_Read(DirectoryOf(path).c_str(), image.get());
  DictWalk* p = &walk->problems;
  if (read == Result::kNotFound) {
    *error = "cannot open " + path;
    return false;
  }
  if (read != Result::kOk) {
    Report(p, "catalog",
           "damaged: a table size does not fit the file or the image, or a "
           "table does not parse" +
               DamageSite());
  }
  for (uint32_t i = 0; i < image->dictCount; ++i) {
    CatalogDictRow row;
    if (DirCatalog_DictRow(image.get(), i, &row) != 0) {
      Report(p, "dictionary row " + std::to_string(i), "cut off");
      break;
    }
    if (!walk->dicts.empty() && row.number <= walk->dicts.back().number) {
      Report(p, "dictionary row " + std::to_string(i), "dictionary numbers not ascending");
    }
    walk->dicts.push_back(row);
  }
  auto catalogued = [&](uint32_t number) {
    for (const CatalogDictRow& row : walk->dicts) {
      if (row.number == number) return true;
    }
    return false;
  };
  for (uint32_t i = 0; i < image->regionCount; ++i) {
    CatalogRegionRecord record;
    if (DirCatalog_RegionRecord(image.get(), i, &record) != 0) {
      Report(p, "region record " + std::to_string(i), "damaged (names outside the name area)");
      break;
    }
    if (!catalogued(record.dictNumber)) {
      Report(p, "region record " + std::to_string(i),
             "dictionary " + Code(record.dictNumber, 4) + " has no dictionary row");
    }
    walk->regions.push_back(record);
  }
  PrefixCursor cursor;
  PrefixCursor_Start(&cursor, image.get());
  uint32_t prefix = 0, n = 0;
  const uint8_t* dicts = nullptr;
  while (PrefixCursor_Next(&cursor, &prefix, &dicts, &n) == 0) {
    std::vector<uint32_t> numbers;
    for (uint32_t k = 0; k < n; ++k) {
      uint32_t d = (uint32_t{dicts[2 * k]} << 8) | dicts[2 * k + 1];
      if (!catalogued(d)) {
        Report(p, "prefix group " + std::to_string(prefix),
               "dictionary " + Code(d, 4) + " has no dictionary row");
      }
      numbers.push_back(d);
    }
    if (prefix >= 1024) Report(p, "prefix group " + std::to_string(prefix), "prefix above 1023");
    walk->prefixes.push_back({prefix, numbers});
  }
  if (cursor.groupsLeft != 0) {
    Report(p, "prefix table", std::to_string(cursor.groupsLeft) + " groups cut off");
  }
  *imageOut = std::move(image);
  return true;
}

// Whether path names a regular file; otherwise error says what it is instead. A FIFO or
// device is never opened, so it cannot hold the tool up or be read from.
bool IsRegularFile(const std::string& path, std::string* error) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  if (S_ISREG(info.st_mode)) return true;
  *error = path + (S_ISDIR(info.st_mode) ? ": a directory" : ": not a regular file");
  return false;
}

bool IsCatalogFile(const std::string& path) {
  FILE* f = Platform_OpenRegularFile(path.c_str());
  if (f == nullptr) return false;
  char magic[4] = {};
  const bool ok = std::fread(magic, 1, 4, f) == 4 && std::memcmp(magic, "ABCD", 4) == 0;
  std::fclose(f);
  return ok || BaseName(path) == "qor9999.dct";
}

bool IsCorrectionFile(const std::string& path) { return BaseName(path) == "qor5001.dct"; }

void WriteProblems(const std::vector<Problem>& problems, uint64_t count, FILE* out) {
  if (count == 0) {
    std::fprintf(out, "problems: none\n");
    return;
  }
  std::fprintf(out, "problems: %llu\n", static_cast<unsigned long long>(count));
  for (const Problem& p : problems)
    std::fprintf(out, "  %s: %s\n", p.place.c_str(), p.what.c_str());
  if (count > problems.size()) {
    std::fprintf(out, "  ... and %llu more\n",
                 static_cast<unsigned long long>(count - problems.size()));
  }
}

void Indent(const OutputTable& table, FILE* out) {
  // Tables of the inspect report are written with a two-space indent.
  TextCapture memory;
  if (memory.file() == nullptr) return;
  Output_Write(table, OutputFormat::kTable, memory.file());
  const std::string all = memory.Take();
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\n', start);
    if (end == std::string::npos) end = all.size();
    std::fprintf(out, "  %s\n", all.substr(start, end - start).c_str());
    start = end + 1;
  }
}

void InspectDictionary(const std::string& path, const DictWalk& walk,
                       const std::vector<std::vector<std::string>>& entries, FILE* out) {
  std::fprintf(out, "%s: %s, %llu bytes\n", path.c_str(),
               walk.correction ? "correction file" : "dictionary file",
               static_cast<unsigned long long>(walk.fileSize));
  if (!walk.headerRead) {
    WriteProblems(walk.problems, walk.problemCount, out);
    return;
  }
  std::fprintf(out, "edition value 1: %u, edition value 2: %u\n", walk.edition1, walk.edition2);
  std::fprintf(out, "sections:\n");
  OutputTable sections;
  sections.columns = {{"section", ""}, {"what", ""}, {"offset", ""}, {"size", ""}};
  uint64_t offset = kDictHeaderSize;
  for (int i = 0; i < kDictSectionCount; ++i) {
    sections.rows.push_back({std::to_string(i), kSectionNames[i], std::to_string(offset),
                             std::to_string(walk.sizes[i])});
    offset += walk.sizes[i];
  }
  Indent(sections, out);
  std::fprintf(out, "regions: %zu\n", walk.regions.size());
  OutputTable regions;
  regions.columns = {{"region", ""}, {"region name 1", ""}, {"region name 2", ""}};
  for (const RegionSeen& r : walk.regions)
    regions.rows.push_back({Code(r.code, 5), r.name1, r.name2});
  Indent(regions, out);
  std::fprintf(out, "area codes: %u, extended area codes: %u\n", walk.areaCodes,
               walk.extendedAreaCodes);
  std::fprintf(out, "number blocks: %zu\n", walk.numberBlocks.size());
  OutputTable numbers;
  numbers.columns = {{"block", ""}, {"compressed", ""}, {"first", ""}, {"last", ""}, {"items", ""}};
  for (size_t k = 0; k < walk.numberBlocks.size(); ++k) {
    const NumberBlock& b = walk.numberBlocks[k];
    numbers.rows.push_back({std::to_string(k), std::to_string(b.size), NumberText(b.first),
                            NumberText(b.last), std::to_string(b.items)});
  }
  Indent(numbers, out);
  std::fprintf(out, "entry blocks: %zu, entries: %llu\n", walk.entryBlocks.size(),
               static_cast<unsigned long long>(walk.entries));
  OutputTable blocks;
  blocks.columns = {{"block", ""},   {"compressed", ""},      {"decompressed", ""},  {"region", ""},
                    {"entries", ""}, {"first address 1", ""}, {"last address 1", ""}};
  for (size_t k = 0; k < walk.entryBlocks.size(); ++k) {
    const EntryBlock& b = walk.entryBlocks[k];
    blocks.rows.push_back({std::to_string(k), std::to_string(b.size),
                           std::to_string(b.decompressed), Code(b.region, 5),
                           std::to_string(b.entries), Utf8(b.first), Utf8(b.last)});
  }
  Indent(blocks, out);
  if (!entries.empty()) {
    std::fprintf(out, "entries:\n");
    OutputTable table;
    table.columns = {{"block", ""},  {"number", ""}, {"kind", ""},      {"name", ""},
                     {"postal", ""}, {"region", ""}, {"address 1", ""}, {"address 2", ""}};
    if (walk.correction) table.columns.push_back({"correction", ""});
    table.rows = entries;
    Indent(table, out);
  }
  WriteProblems(walk.problems, walk.problemCount, out);
}

void InspectCatalog(const std::string& path, const CatalogWalk& walk, FILE* out) {
  std::fprintf(out, "%s: catalog file\n", path.c_str());
  std::fprintf(out, "dictionaries: %zu\n", walk.dicts.size());
  OutputTable dicts;
  dicts.columns = {{"dictionary", ""},
                   {"file date", ""},
                   {"file time", ""},
                   {"edition 1", ""},
                   {"edition 2", ""}};
  for (const CatalogDictRow& d : walk.dicts) {
    dicts.rows.push_back({Code(d.number, 4), std::to_string(d.date), Code(d.time, 4),
                          std::to_string(d.edition1), std::to_string(d.edition2)});
  }
  Indent(dicts, out);
  std::fprintf(out, "regions: %zu\n", walk.regions.size());
  OutputTable regions;
  regions.columns = {
      {"region", ""}, {"region name 1", ""}, {"region name 2", ""}, {"dictionary", ""}};
  for (const CatalogRegionRecord& r : walk.regions) {
    regions.rows.push_back({Code(r.code, 5), Utf8(r.name1), Utf8(r.name2), Code(r.dictNumber, 4)});
  }
  Indent(regions, out);
  std::fprintf(out, "prefix groups: %zu\n", walk.prefixes.size());
  OutputTable prefixes;
  prefixes.columns = {{"prefix", ""}, {"dictionaries", ""}};
  for (const auto& [prefix, numbers] : walk.prefixes) {
    std::string list;
    for (uint32_t d : numbers) list += (list.empty() ? "" : " ") + Code(d, 4);
    prefixes.rows.push_back({Code(prefix, 3), list});
  }
  Indent(prefixes, out);
  WriteProblems(walk.problems.problems, walk.problems.problemCount, out);
}

// What the check of a set gathers to tell which corrections can never apply: the newest
// copy of each dictionary with its regions, and every correction entry.
struct SetSummary {
  struct Dictionary {
    uint32_t edition1, edition2;
    std::vector<uint32_t> regions;
  };
  struct Correction {
    uint32_t region, version;
  };
  std::map<uint32_t, Dictionary> dictionaries;  // by dictionary number
  std::vector<Correction> corrections;
  bool correctionFile = false;
};

// A dictionary counts as installed when an open would scan it (qorNNNN.dct in the probe range)
// and no copy of it in another directory is newer (larger edition value 1, then 2).
void AddDictionary(const std::string& path, const DictWalk& walk, SetSummary* set) {
  const std::string name = BaseName(path);
  uint32_t number;
  if (!walk.headerRead || !Dict_ParseFileName(name.c_str(), &number) || !InProbeRange(number)) {
    return;
  }
  SetSummary::Dictionary copy{walk.edition1, walk.edition2, {}};
  for (const RegionSeen& r : walk.regions) copy.regions.push_back(r.code);
  auto [at, added] = set->dictionaries.emplace(number, copy);
  if (!added && std::pair(copy.edition1, copy.edition2) >
                    std::pair(at->second.edition1, at->second.edition2)) {
    at->second = std::move(copy);
  }
}

// The corrections of the set whose version is below the stamp of every dictionary listing
// their region, or whose region no dictionary lists, counted by region. These are findings
// about the data, not problems of a file: a correction is meant to lapse once a dictionary
// edition that holds it is installed.
void ReportLapsedCorrections(const SetSummary& set, bool quiet, FILE* out) {
  if (set.dictionaries.empty() || !set.correctionFile) return;
  std::map<uint32_t, uint32_t> lowestStamp;  // region code -> edition stamp
  for (const auto& [number, d] : set.dictionaries) {
    const uint32_t stamp = d.edition1 / 100 % 10000;  // as the engine takes it
    for (uint32_t code : d.regions) {
      auto [at, added] = lowestStamp.emplace(code, stamp);
      if (!added) at->second = std::min(at->second, stamp);
    }
  }
  struct Lapsed {
    uint32_t count = 0, lowest = 0, highest = 0;
  };
  std::map<uint32_t, Lapsed> regions;
  uint32_t older = 0, unlisted = 0;
  for (const SetSummary::Correction& c : set.corrections) {
    auto stamp = lowestStamp.find(c.region);
    if (stamp != lowestStamp.end() && c.version >= stamp->second) continue;
    (stamp == lowestStamp.end() ? unlisted : older) += 1;
    Lapsed& r = regions[c.region];
    r.lowest = r.count == 0 ? c.version : std::min(r.lowest, c.version);
    r.highest = std::max(r.highest, c.version);
    ++r.count;
  }
  const size_t total = set.corrections.size();
  if (older + unlisted == 0) {
    if (!quiet) {
      std::fprintf(out, "corrections: each of %zu can apply to these dictionaries\n", total);
    }
    return;
  }
  std::fprintf(out, "corrections that can never apply to these dictionaries: %u of %zu\n",
               older + unlisted, total);
  if (older > 0) {
    std::fprintf(out, "  %u with a version below the edition stamp of every dictionary listing "
                 "their region\n", older);
  }
  if (unlisted > 0) std::fprintf(out, "  %u of a region no dictionary lists\n", unlisted);
  uint32_t shown = 0;
  for (const auto& [code, r] : regions) {
    if (shown++ == kMaxReported) {
      std::fprintf(out, "  ... and %zu more regions\n", regions.size() - kMaxReported);
      break;
    }
    auto stamp = lowestStamp.find(code);
    const std::string versions =
        r.lowest == r.highest
            ? "version " + std::to_string(r.lowest)
            : "versions " + std::to_string(r.lowest) + " to " + std::to_string(r.highest);
    const std::string why = stamp == lowestStamp.end()
                                ? "no dictionary lists the region"
                                : "edition stamp " + std::to_string(stamp->second);
    std::fprintf(out, "  region %s: %u, %s, %s\n", Code(code, 5).c_str(), r.count,
                 versions.c_str(), why.c_str());
  }
}

// Checks one file; problems found, or -1 with error. set gathers what the correction report
// needs.
int CheckFile(const std::string& path, bool quiet, FILE* out, std::string* error,
              SetSummary* set) {
  const DictWalk* problems = nullptr;
  DictWalk dict;
  CatalogWalk catalog;
  CatalogImage image;
  if (!IsRegularFile(path, error)) return -1;
  if (IsCatalogFile(path)) {
    if (!WalkCatalog(path, &image, &catalog, error)) return -1;
    problems = &catalog.problems;
  } else {
    const bool correction = IsCorrectionFile(path);
    EntryVisitor visit;
    if (correction) {
      set->correctionFile = true;
      visit = [set](const DictEntry& e, uint32_t) {
        set->corrections.push_back({e.regionCode, DecimalValue(e.correctionVersionText)});
      };
    }
    if (!WalkDictionary(path, correction, visit, &dict, error)) return -1;
    if (!correction) AddDictionary(path, dict, set);
    problems = &dict;
  }
  if (problems->problemCount == 0) {
    if (!quiet) {
      if (problems == &dict) {
        std::fprintf(out, "%s: ok (%llu entries, %zu entry blocks, %zu number blocks)\n",
                     path.c_str(), static_cast<unsigned long long>(dict.entries),
                     dict.entryBlocks.size(), dict.numberBlocks.size());
      } else {
        std::fprintf(out, "%s: ok (catalog of %zu dictionaries)\n", path.c_str(),
                     catalog.dicts.size());
      }
    }
    return 0;
  }
  for (const Problem& p : problems->problems) {
    std::fprintf(out, "%s: %s: %s\n", path.c_str(), p.place.c_str(), p.what.c_str());
  }
  if (problems->problemCount > problems->problems.size()) {
    std::fprintf(
        out, "%s: ... and %llu more problems\n", path.c_str(),
        static_cast<unsigned long long>(problems->problemCount - problems->problems.size()));
  }
  return static_cast<int>(std::min<uint64_t>(problems->problemCount, 1u << 30));
}

}  // namespace

bool Inspect_File(const std::string& path, bool entries, FILE* out, std::string* error) {
  if (!IsRegularFile(path, error)) return false;
  if (IsCatalogFile(path)) {
    CatalogWalk walk;
    CatalogImage image;
    if (!WalkCatalog(path, &image, &walk, error)) return false;
    InspectCatalog(path, walk, out);
    return true;
  }
  DictWalk walk;
  std::vector<std::vector<std::string>> rows;
  EntryVisitor visit;
  if (entries) {
    visit = [&](const DictEntry& e, uint32_t block) {
      rows.push_back({std::to_string(block), e.numberText, e.kindText, Utf8(e.name), e.postalText,
                      std::string(e.regionCodeText), Utf8(e.address1), Utf8(e.address2)});
      if (walk.correction) {
        rows.back().push_back(std::string(e.correctionKind == 1 ? "add " : "remove ") +
                              e.correctionVersionText);
      }
    };
  }
  if (!WalkDictionary(path, IsCorrectionFile(path), visit, &walk, error)) return false;
  InspectDictionary(path, walk, rows, out);
  return true;
}

bool Check_CatalogLimits(const std::string& directory, std::string* message) {
  const std::string dir = directory.back() == '/' ? directory : directory + "/";
  if (dir.size() > kDirPathMax) return false;
  CatalogRows none, fresh, all;
  CatalogRows_Init(&none);
  CatalogRows_Init(&fresh);
  CatalogRows_Init(&all);
  std::vector<uint8_t> status(kScanStatusSize);
  PackedTable dict, prefix;
  PackedRegionTable region;
  PackedTable_Init(&dict);
  PackedTable_Init(&prefix);
  PackedRegionTable_Init(&region);
  CatalogFit fit{};
  const bool packed = Dir_Scan(dir.c_str(), &none, 0, &fresh, status.data()) == Result::kOk &&
                      Catalog_MustRewrite(status.data()) &&
                      Catalog_Merge(&none, &fresh, &all, status.data()) == Result::kOk &&
                      Catalog_PackRows(&all, Catalog_PackRegionTable, Catalog_PackPrefixTable,
                                       &dict, &region, &prefix, &fit) >= 0;
  const uint32_t regionRecords = all.regionIndex.rowCount, prefixRows = all.prefixIndex.rowCount;
  PackedTable_Free(&dict);
  PackedTable_Free(&prefix);
  PackedRegionTable_Free(&region);
  CatalogRows_Free(&all);
  CatalogRows_Free(&fresh);
  CatalogRows_Free(&none);
  if (!packed || fit.broken == kCatalogFits) return false;
  std::string limit;
  switch (fit.broken) {
    case kCatalogDictTable:
      limit = "a catalog holds at most 65535 dictionary rows";
      break;
    case kCatalogRegionTable:
      limit = "its dictionaries list " + std::to_string(regionRecords) +
              " region records; a catalog holds at most 65535, whose names must start within "
              "the first 65536 bytes of its name area";
      break;
    default:
      limit = "its dictionaries hold " + std::to_string(prefixRows) +
              " prefix numbers; a catalog holds at most 65535 prefix groups (one per "
              "dictionary and prefix number)";
      break;
  }
  *message = dir + ": catalog limit exceeded: " + limit + "; the catalog holds " +
             std::to_string(fit.kept) + " of the " + std::to_string(fit.dictionaries) +
             " dictionaries, and qor" + Code(fit.dictLimit, 4) +
             ".dct and the dictionaries numbered above it are left out and not searched";
  return true;
}

namespace {

int CheckPath(const std::string& path, bool quiet, bool progress, FILE* out, std::string* error,
              SetSummary* set) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    *error = path + " does not exist";
    return -1;
  }
  if (!S_ISDIR(info.st_mode)) return CheckFile(path, quiet, out, error, set);
  std::vector<std::string> names;
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) {
    *error = "cannot read directory " + path + ": " + std::strerror(errno);
    return -1;
  }
  uint32_t number;
  while (dirent* d = readdir(dir)) {
    if (Dict_ParseFileName(d->d_name, &number)) names.push_back(d->d_name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  if (names.empty()) {
    *error = "no qorNNNN.dct files in " + path;
    return -1;
  }
  const std::string prefix = path.back() == '/' ? path : path + "/";
  int problems = 0;
  for (size_t i = 0; i < names.size(); ++i) {
    if (progress) Progress_Draw(i, names.size(), names[i].c_str());
    // The report of a file is held back while the bar is shown, so the two never share a
    // line of the terminal.
    std::optional<TextCapture> report;
    if (progress) report.emplace();
    FILE* to = report && report->file() != nullptr ? report->file() : out;
    std::string fileError;
    int found = CheckFile(prefix + names[i], quiet, to, &fileError, set);
    if (found < 0) {
      std::fprintf(to, "%s%s: %s\n", prefix.c_str(), names[i].c_str(), fileError.c_str());
      found = 1;
    }
    if (report) {
      const std::string text = report->Take();
      if (!text.empty()) {
        Progress_Clear();
        std::fwrite(text.data(), 1, text.size(), out);
        std::fflush(out);
      }
    }
    problems += found;
  }
  if (progress) Progress_Clear();
  std::string limit;
  if (Check_CatalogLimits(path, &limit)) {
    std::fprintf(out, "%s\n", limit.c_str());
    ++problems;
  }
  return problems;
}

}  // namespace

int Check_Set(const std::vector<std::string>& paths, bool quiet, bool progress, FILE* out,
              std::string* error) {
  SetSummary set;
  int problems = 0;
  for (const std::string& path : paths) {
    const int found = CheckPath(path, quiet, progress, out, error, &set);
    if (found < 0) return -1;
    problems += found;
  }
  ReportLapsedCorrections(set, quiet, out);
  return problems;
}

bool Check_Dictionary(const std::string& path, std::string* problem) {
  DictWalk walk;
  if (!IsRegularFile(path, problem) ||
      !WalkDictionary(path, IsCorrectionFile(path), nullptr, &walk, problem)) {
    return false;
  }
  if (walk.problemCount == 0) return true;
  *problem = walk.problems.front().place + ": " + walk.problems.front().what;
  return false;
}

bool Check_CatalogLists(const std::string& dir, const std::vector<uint32_t>& numbers,
                        std::string* problem) {
  const std::string prefix = dir.empty() || dir.back() == '/' ? dir : dir + "/";
  CatalogImage image(new DirCatalog());
  DirCatalog_Init(image.get());
  const bool read = DirCatalog_Read(prefix.c_str(), image.get()) == Result::kOk;
  std::string missing;
  for (uint32_t n : numbers) {
    if (n >= kCopyMarkCount) continue;  // numbers from 5000 up are not catalogued
    uint8_t header[kDictHeaderSize];
    uint32_t edition1 = 0, edition2 = 0;
    char name[kDictFileNameLength + 1];
    Dict_FileName(n, name);
    FILE* file = Platform_OpenRegularFile((prefix + name).c_str());
    const bool headerRead = file != nullptr && File_ReadAt(file, 0, header, sizeof header);
    if (file != nullptr) std::fclose(file);
    if (headerRead) {
      GetU32BE(header + kDictEdition1Offset, &edition1);
      GetU32BE(header + kDictEdition2Offset, &edition2);
    }
    bool listed = false;
    CatalogDictRow row;
    for (uint32_t i = 0; read && headerRead && !listed && i < image->dictCount; ++i) {
      listed = DirCatalog_DictRow(image.get(), i, &row) == 0 && row.number == n &&
               row.edition1 == edition1 && row.edition2 == edition2;
    }
    if (!listed) missing += (missing.empty() ? "" : ", ") + Code(n, 4);
  }
  if (missing.empty()) return true;
  *problem = prefix + "qor9999.dct " + (read ? "does not list " : "cannot be read, so it lacks ") +
             missing;
  return false;
}
