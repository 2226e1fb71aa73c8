// The walks of check and inspect: a dictionary through the dictionary module's checked
// readers, decoding every block; a catalog through the catalog module's. Each records what it
// saw and every rule the file breaks.
#include "check/file_check.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>

#include "base/damage.h"
#include "base/file_io.h"
#include "base/num_text.h"
#include "catalog/catalog_refresh.h"
#include "copy/copy_dic.h"
#include "dict/dict_file.h"
#include "files/file_names.h"
#include "platform/platform.h"
#include "search/correction_merge.h"

namespace {

void Report(CheckProblems* problems, const std::string& place, const std::string& what) {
  ++problems->count;
  if (problems->listed.size() < kCheckProblemsListed) problems->listed.push_back({place, what});
}

void Report(DictWalk* walk, const std::string& place, const std::string& what) {
  Report(&walk->problems, place, what);
}

// Where the engine's reader noticed damage, for a maintainer who wants to trace it.
std::string DamageSite() {
  if (Damage_Count() == 0 || Damage_FirstFile() == nullptr) return "";
  const char* file = std::strrchr(Damage_FirstFile(), '/');
  return std::string(" [") + (file ? file + 1 : Damage_FirstFile()) + ":" +
         std::to_string(Damage_FirstLine()) + "]";
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
  if (Dict_ReadRegionTable(c) != Result::kOk) {
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
    for (const CheckRegion& other : walk->regions) {
      if (other.code == code) {
        Report(walk, place, "region code " + Check_Code(code, 5) + " listed twice");
        break;
      }
    }
    walk->regions.push_back({code, ok1, ok2, ok1 ? std::string(t1, l1) : std::string(),
                             ok2 ? std::string(t2, l2) : std::string()});
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
  AreaCodeList list = AreaCodeList_Make(bytes.data(), size);
  *count = list.count;
  if (2 + uint64_t{*count} * 3 != size) {
    Report(walk, place,
           std::to_string(*count) + " values do not fill its " + std::to_string(size) + " bytes");
  }
  for (uint32_t i = 0; i < *count; ++i) {
    uint32_t v = 0;
    if (!AreaCodeList_Next(&list, &v)) break;
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
  if (Dict_ReadSectionHead(c, section, indexLength, dataLength) != Result::kOk) {
    std::vector<uint8_t> head;
    if (size < kSectionHeadSize ||
        !ReadSection(c, section, Dict_SectionStart(c, section), kSectionHeadSize, &head)) {
      Report(walk, place, "too short for its 6-byte head");
    } else {
      Report(walk, place,
             "index of " + std::to_string(Dict_SectionHeadIndexLength(head.data())) +
                 " bytes runs past the " + std::to_string(size) + "-byte section");
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
  if (Dict_LoadBlock(c, section, static_cast<uint32_t>(offset), size, buffer) != Result::kOk) {
    Report(walk, place,
           "does not decompress (damaged zlib stream, or over 150000 bytes)" + DamageSite());
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
  NumberIndexRecord record;
  for (uint32_t k = 0;
       ByteReader_Left(&r) >= kNumberIndexRecordSize && Dict_NextNumberIndexRecord(&r, &record) > 0;
       ++k) {
    const uint32_t size = record.size, first = record.first, last = record.last;
    const std::string place = "section 5, number block " + std::to_string(k);
    CheckNumberBlock info{size, first, last, 0};
    if (first > last) Report(walk, place, "first number above last number");
    if (k > 0 && first < previousLast) {
      Report(walk, place,
             "first number " + Check_NumberText(first) +
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
          Report(
              walk, place,
              "first item " + std::to_string(sum) + ", the index says " + Check_NumberText(first));
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
               "last item " + Check_NumberText(static_cast<uint32_t>(sum)) + ", the index says " +
                   Check_NumberText(last));
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

void WalkEntries(DictFile* c, DictBlockBuffer* block, DictDecoder* decoder, DictWalk* walk,
                 const std::vector<uint8_t>& filters, std::vector<Occurrence>* occurrences,
                 const CheckEntryVisitor& visit) {
  uint16_t indexLength = 0;
  uint32_t dataLength = 0;
  std::vector<uint8_t> index;
  if (!ReadBlockSection(c, 6, walk, &indexLength, &dataLength, &index)) return;
  Damage_Reset();
  if (Dict_ReadEntryIndex(c) != Result::kOk) {
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
    CheckEntryBlock& info = walk->entryBlocks[k];
    const std::string place = "section 6, entry block " + std::to_string(k);
    if (k > 0) {
      const CheckEntryBlock& before = walk->entryBlocks[k - 1];
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
      lastText.assign(e.address1, Dict_IndexTextLength(e.address1, std::strlen(e.address1)));
      if (info.entries == 0) firstText = lastText;
      if (e.regionCode != info.region) {
        Report(walk, entryPlace,
               "region code " + Check_Code(e.regionCode, 5) + " in a block of " +
                   Check_Code(info.region, 5));
      }
      bool known = false;
      for (const CheckRegion& region : walk->regions) known = known || region.code == e.regionCode;
      if (!known) {
        Report(walk, entryPlace,
               "region code " + Check_Code(e.regionCode, 5) + " missing from the region table");
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
           "number " + Check_NumberText(o.number) + " of entry block " + std::to_string(o.block) +
               " has no item in the number index");
  }
  for (const Occurrence& o : stray) {
    // Items of a block that could not be read to its end were reported with the block.
    if (o.block < walk->entryBlocks.size() && !walk->entryBlocks[o.block].complete) continue;
    Report(walk, "section 5",
           "item " + Check_NumberText(o.number) + " names entry block " + std::to_string(o.block) +
               ", which holds no such entry");
  }
}

// Every bit of the two filters stands for a number of the file (a stray bit makes a search
// read the file's indexes for nothing, and means the filter is not the file's own). Only
// checked when every entry block was read whole.
void CheckFilterBits(const std::vector<uint8_t>& filters, const std::vector<Occurrence>& entries,
                     DictWalk* walk) {
  for (const CheckEntryBlock& block : walk->entryBlocks) {
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
      Report(walk, set.place,
             std::to_string(stray) + " bits set that no number of the file " +
                 "has, the first for " + std::to_string(first));
    }
  }
}

}  // namespace

bool Check_WalkDictionary(const std::string& path, bool correction, const CheckEntryVisitor& visit,
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
  const Result headerResult = Dict_ReadHeader(c, header);
  if (walk->fileSize >= kDictHeaderSize) {
    Dict_HeaderEditions(header, &walk->edition1, &walk->edition2);
    Dict_HeaderSectionSizes(header, walk->sizes);
    walk->headerRead = true;
  }
  if (headerResult != Result::kOk) {
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
    if (Dict_ReadFilters(c) != Result::kOk) {
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
               "item " + Check_NumberText(o.number) + " names entry block " +
                   std::to_string(o.block) + " of " + std::to_string(walk->entryBlocks.size()));
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

namespace {

// A catalog image on the heap, its tables released with it.
struct CatalogImageDelete {
  void operator()(DirCatalog* image) const {
    DirCatalog_Free(image);
    delete image;
  }
};
using CatalogImage = std::unique_ptr<DirCatalog, CatalogImageDelete>;

// Where the file name of path starts: after its last separator ('/', on Windows also '\\').
size_t NameStart(const std::string& path) {
  const size_t slash = path.find_last_of(kPathSeparator == '/' ? "/" : "/\\");
  return slash == std::string::npos ? 0 : slash + 1;
}

std::string DirectoryOf(const std::string& path) {
  const size_t at = NameStart(path);
  return at == 0 ? std::string("./") : path.substr(0, at);
}

std::string BaseName(const std::string& path) { return path.substr(NameStart(path)); }

}  // namespace

bool Check_WalkCatalog(const std::string& path, CatalogWalk* walk, std::string* error) {
  if (BaseName(path) != "qor9999.dct") {
    *error = path + ": a catalog file is read only under its name qor9999.dct";
    return false;
  }
  CatalogImage image(new DirCatalog());
  DirCatalog_Init(image.get());
  Damage_Reset();
  const Result read = DirCatalog_Read(DirectoryOf(path).c_str(), image.get());
  CheckProblems* p = &walk->problems;
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
             "dictionary " + Check_Code(record.dictNumber, 4) + " has no dictionary row");
    }
    walk->regions.push_back({record.code, record.name1, record.name2, record.dictNumber});
  }
  PrefixCursor cursor;
  PrefixCursor_Start(&cursor, image.get());
  uint32_t prefix = 0, n = 0;
  const uint8_t* dicts = nullptr;
  while (PrefixCursor_Next(&cursor, &prefix, &dicts, &n) == 0) {
    std::vector<uint32_t> numbers;
    for (uint32_t k = 0; k < n; ++k) {
      const uint32_t d = PrefixGroup_Dict(dicts, k);
      if (!catalogued(d)) {
        Report(p, "prefix group " + std::to_string(prefix),
               "dictionary " + Check_Code(d, 4) + " has no dictionary row");
      }
      numbers.push_back(d);
    }
    if (prefix >= 1024) Report(p, "prefix group " + std::to_string(prefix), "prefix above 1023");
    walk->prefixes.push_back({prefix, numbers});
  }
  if (cursor.groupsLeft != 0) {
    Report(p, "prefix table", std::to_string(cursor.groupsLeft) + " groups cut off");
  }
  return true;
}

bool Check_IsCatalogFile(const std::string& path) {
  FILE* f = Platform_OpenRegularFile(path.c_str());
  if (f == nullptr) return false;
  uint8_t magic[4] = {};
  const bool ok = File_ReadAt(f, 0, magic, sizeof magic) && std::memcmp(magic, "ABCD", 4) == 0;
  std::fclose(f);
  return ok || BaseName(path) == "qor9999.dct";
}

bool Check_IsCorrectionFile(const std::string& path) { return BaseName(path) == "qor5001.dct"; }

namespace {

// A dictionary counts as installed when an open would scan it (qorNNNN.dct in the probe range)
// and no copy of it in another directory is newer (larger edition value 1, then 2).
void AddDictionary(const std::string& path, const DictWalk& walk, CheckSet* set) {
  const std::string name = BaseName(path);
  uint32_t number;
  if (!walk.headerRead || !Dict_ParseFileName(name.c_str(), &number) || !InProbeRange(number)) {
    return;
  }
  CheckSet::Dictionary copy{walk.edition1, walk.edition2, {}};
  for (const CheckRegion& r : walk.regions) copy.regions.push_back(r.code);
  auto [at, added] = set->dictionaries.emplace(number, copy);
  if (!added && std::pair(copy.edition1, copy.edition2) >
                    std::pair(at->second.edition1, at->second.edition2)) {
    at->second = std::move(copy);
  }
}

}  // namespace

bool Check_File(const std::string& path, CheckSet* set, CheckedFile* file, std::string* error) {
  file->catalog = Check_IsCatalogFile(path);
  if (file->catalog) return Check_WalkCatalog(path, &file->catalogWalk, error);
  const bool correction = Check_IsCorrectionFile(path);
  CheckEntryVisitor visit;
  if (correction) {
    set->correctionFile = true;
    visit = [set](const DictEntry& e, uint32_t) {
      set->corrections.push_back({e.regionCode, DecimalValue(e.correctionVersionText)});
    };
  }
  if (!Check_WalkDictionary(path, correction, visit, &file->dict, error)) return false;
  if (!correction) AddDictionary(path, file->dict, set);
  return true;
}

LapsedCorrections Check_LapsedCorrections(const CheckSet& set) {
  LapsedCorrections lapsed;
  if (set.dictionaries.empty() || !set.correctionFile) return lapsed;
  lapsed.judged = true;
  lapsed.total = set.corrections.size();
  std::map<uint32_t, uint32_t> lowestStamp;  // region code -> edition stamp
  for (const auto& [number, d] : set.dictionaries) {
    const uint32_t stamp = d.edition1 / 100 % 10000;  // as the engine takes it
    for (uint32_t code : d.regions) {
      auto [at, added] = lowestStamp.emplace(code, stamp);
      if (!added) at->second = std::min(at->second, stamp);
    }
  }
  std::map<uint32_t, LapsedRegion> regions;
  for (const CheckSet::Correction& c : set.corrections) {
    auto stamp = lowestStamp.find(c.region);
    if (stamp != lowestStamp.end() && c.version >= stamp->second) continue;
    (stamp == lowestStamp.end() ? lapsed.unlisted : lapsed.older) += 1;
    auto [at, added] = regions.emplace(
        c.region, LapsedRegion{c.region, 0, c.version, c.version, stamp != lowestStamp.end(),
                               stamp != lowestStamp.end() ? stamp->second : 0});
    LapsedRegion& r = at->second;
    r.lowest = std::min(r.lowest, c.version);
    r.highest = std::max(r.highest, c.version);
    ++r.count;
  }
  for (const auto& [code, r] : regions) lapsed.regions.push_back(r);
  return lapsed;
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
                                       &dict, &region, &prefix, &fit) != Result::kOutOfMemory;
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
             " dictionaries, and qor" + Check_Code(fit.dictLimit, 4) +
             ".dct and the dictionaries numbered above it are left out and not searched";
  return true;
}

bool Check_Dictionary(const std::string& path, std::string* problem) {
  DictWalk walk;
  if (!Check_WalkDictionary(path, Check_IsCorrectionFile(path), nullptr, &walk, problem)) {
    return false;
  }
  if (walk.problems.count == 0) return true;
  *problem = walk.problems.listed.front().place + ": " + walk.problems.listed.front().what;
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
    if (headerRead) Dict_HeaderEditions(header, &edition1, &edition2);
    bool listed = false;
    CatalogDictRow row;
    for (uint32_t i = 0; read && headerRead && !listed && i < image->dictCount; ++i) {
      listed = DirCatalog_DictRow(image.get(), i, &row) == 0 && row.number == n &&
               row.edition1 == edition1 && row.edition2 == edition2;
    }
    if (!listed) missing += (missing.empty() ? "" : ", ") + Check_Code(n, 4);
  }
  if (missing.empty()) return true;
  *problem = prefix + "qor9999.dct " + (read ? "does not list " : "cannot be read, so it lacks ") +
             missing;
  return false;
}

std::string Check_NumberText(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, v >= 100000000 ? "%010u" : "%09u", v);
  return text;
}

std::string Check_Code(uint32_t v, int width) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*u", width, v);
  return text;
}
