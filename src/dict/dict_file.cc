// A dictionary file as the searches read it: header, filters, region table, area code sets,
// both block indexes, and the checked load of one block.
//
// Each check that rejects file content notes it with QOR_DAMAGED() and states its rule.
#include "dict/dict_file.h"

#if defined(QOR3_HAVE_LIBDEFLATE)
#include <libdeflate.h>
#else
#include <zlib.h>
#endif

#include <algorithm>
#include <cstring>

#include "base/byte_reader.h"
#include "base/damage.h"
#include "base/file_io.h"
#include "base/mem.h"
#include "base/num_text.h"
#include "platform/platform.h"

namespace {

// L5 and L6 are u16, so a whole index is always read.
static_assert(0xFFFF <= kBlockIndexMax);
static_assert(kEntryBlockMax <= 256);

// Reads n bytes at offset of file (dict's file unless given), refusing anything that does not
// lie inside the file.
bool ReadFile(const DictFile* dict, uint64_t offset, void* buf, size_t n,
              FILE* file = nullptr) {
  if (file == nullptr) file = dict->file;
  if (file == nullptr || dict->fileSize < 0) return false;
  if (offset > static_cast<uint64_t>(dict->fileSize) ||
      n > static_cast<uint64_t>(dict->fileSize) - offset) {
    return false;
  }
  if (dict->window != nullptr && file == dict->file && offset >= dict->windowStart &&
      offset - dict->windowStart + n <= dict->windowLength) {
    if (n != 0) std::memcpy(buf, dict->window + (offset - dict->windowStart), n);
    return true;
  }
  return Platform_ReadAt(file, offset, buf, n);
}

// Bytes of block data in section 5 or 6: everything after the head and the index.
uint64_t BlockDataLength(const DictFile* dict, int section, uint16_t indexLength) {
  uint64_t size = dict->sectionSizes[section];
  uint64_t used = kSectionHeadSize + uint64_t{indexLength};
  return size > used ? size - used : 0;
}

uint16_t IndexLength(const DictFile* dict, int section) {
  return section == 5 ? dict->numberIndexLength : dict->entryIndexLength;
}

// Reads one area code section and, when the whole list is sound, sets the bit of each value in
// set.
Result ReadAreaCodeSection(DictFile* dict, int section, uint8_t* set) {
  uint32_t size = dict->sectionSizes[section];
  // A section larger than its limit, too short for its count, unreadable, with a count whose
  // values do not fit in it, or holding a value of 100000 or more adds no value at all.
  QOR_CHECK(size <= kAreaCodeSectionMax);
  QOR_CHECK(size >= 2);
  uint8_t* bytes = static_cast<uint8_t*>(Mem_Alloc(size));
  if (bytes == nullptr) {
    return Result::kOutOfMemory;
  }
  Result result = Result::kOk;
  if (!ReadFile(dict, Dict_SectionStart(dict, section), bytes, size)) {
    result = QOR_DAMAGED();
  } else {
    const AreaCodeList list = AreaCodeList_Make(bytes, size);
    // Every value is checked before any is set, so a damaged list sets none.
    if (uint64_t{list.count} * kAreaCodeValueSize > ByteReader_Left(&list.values)) {
      result = QOR_DAMAGED();
    } else {
      AreaCodeList values = list;
      for (uint32_t i = 0; i < list.count && result == Result::kOk; ++i) {
        uint32_t v = 0;
        AreaCodeList_Next(&values, &v);
        if (v >= kAreaCodeValueLimit) result = QOR_DAMAGED();
      }
      values = list;
      for (uint32_t i = 0; i < list.count && result == Result::kOk; ++i) {
        uint32_t v = 0;
        AreaCodeList_Next(&values, &v);
        set[v / 8] |= static_cast<uint8_t>(0x80 >> (v % 8));
      }
    }
  }
  Mem_Free(bytes);
  return result;
}

// Reads the head and the index of section 5 or 6 into a new buffer, and allocates
// recordBytes(index length) bytes for the records that will be parsed from it. Null, with
// nothing allocated, when it cannot (result kDamaged or kOutOfMemory).
uint8_t* ReadIndex(DictFile* dict, int section, size_t (*recordBytes)(uint16_t indexLength),
                   void** records, uint16_t* indexLength, uint32_t* dataLength, Result* result) {
  *records = nullptr;
  *result = Result::kDamaged;
  if (Dict_ReadSectionHead(dict, section, indexLength, dataLength) != Result::kOk) return nullptr;
  auto* bytes = static_cast<uint8_t*>(Mem_Alloc(*indexLength > 0 ? *indexLength : 1));
  *records = Mem_Alloc(recordBytes(*indexLength));
  if (bytes == nullptr || *records == nullptr) {
    *result = Result::kOutOfMemory;
  } else if (ReadFile(dict, Dict_SectionStart(dict, section) + kSectionHeadSize, bytes,
                      *indexLength)) {
    *result = Result::kOk;
    return bytes;
  } else {
    QOR_DAMAGED();
  }
  Mem_Free(bytes);
  Mem_Free(*records);
  *records = nullptr;
  return nullptr;
}

#if defined(QOR3_HAVE_LIBDEFLATE)
// The decompressor's memory comes from the project's allocator like every other allocation.
void* DeflateAlloc(size_t n) { return Mem_Alloc(n); }
#else
// Inflate's working memory comes from the project's allocator like every other allocation.
voidpf ZAlloc(voidpf, uInt items, uInt size) { return Mem_AllocZeroed(items, size); }
void ZFree(voidpf, voidpf address) { Mem_Free(address); }
#endif

}  // namespace

Result Dict_ParseSectionHead(const uint8_t* head, uint32_t sectionSize, uint16_t* indexLength,
                             uint32_t* dataLength) {
  *indexLength = 0;
  *dataLength = 0;
  // A section too short for its head holds no blocks.
  QOR_CHECK(sectionSize >= kSectionHeadSize);
  const uint32_t l = Dict_SectionHeadIndexLength(head);
  // An index running past the end of its section: the section holds no blocks.
  QOR_CHECK(kSectionHeadSize + uint64_t{l} <= sectionSize);
  *indexLength = static_cast<uint16_t>(l);
  *dataLength = LoadU32BE(head + 2);
  return Result::kOk;
}

Result Dict_ReadSectionHead(const DictFile* dict, int section, uint16_t* indexLength,
                            uint32_t* dataLength) {
  *indexLength = 0;
  *dataLength = 0;
  uint8_t head[kSectionHeadSize];
  // A section too short for its head, or whose head cannot be read, holds no blocks.
  QOR_CHECK(dict->sectionSizes[section] >= kSectionHeadSize);
  QOR_CHECK(ReadFile(dict, Dict_SectionStart(dict, section), head, sizeof head));
  return Dict_ParseSectionHead(head, dict->sectionSizes[section], indexLength, dataLength);
}

int Dict_NextEntryIndexRecord(ByteReader* index, EntryIndexRecord* out) {
  if (ByteReader_AtEnd(index)) return 0;
  ByteReader r = *index;
  uint32_t size = 0, region = 0;
  size_t firstLength = 0, lastLength = 0;
  // A record that runs past the index or holds a text over 83 bytes ends the walk.
  if (!ByteReader_U16(&r, &size) || !ByteReader_U16(&r, &region) ||
      !ByteReader_CString(&r, kIndexTextMax, &out->firstText, &firstLength) ||
      !ByteReader_CString(&r, kIndexTextMax, &out->lastText, &lastLength)) {
    return QOR_DAMAGED();
  }
  out->offset = 0;
  out->compressedSize = size;
  out->regionCode = static_cast<uint16_t>(region);
  *index = r;
  return 1;
}

void AreaCodeSets_Clear(AreaCodeSets* sets) { std::memset(sets, 0, sizeof *sets); }

void AreaCodeSets_Add(AreaCodeSets* dst, const AreaCodeSets* src) {
  // Word by word: the sets are 25,000 bytes and a number search adds one per dictionary.
  static_assert(sizeof(AreaCodeSets) % sizeof(uint64_t) == 0);
  auto* to = reinterpret_cast<uint8_t*>(dst);
  const auto* from = reinterpret_cast<const uint8_t*>(src);
  for (size_t i = 0; i < sizeof(AreaCodeSets); i += sizeof(uint64_t)) {
    uint64_t a, b;
    std::memcpy(&a, to + i, sizeof a);
    std::memcpy(&b, from + i, sizeof b);
    a |= b;
    std::memcpy(to + i, &a, sizeof a);
  }
}

void DictFile_Init(DictFile* dict, FILE* file) {
  // The filters and area code sets (38 KiB) are not cleared here: their read steps fill them
  // whole, and nothing reads them before (Dict_KeyMayOccur answers 0 until the filters are
  // read).
  dict->file = file;
  dict->fileSize = -1;
  dict->knownSize = -1;
  std::memset(dict->sectionSizes, 0, sizeof dict->sectionSizes);
  dict->filtersRead = 0;
  dict->regionTable = nullptr;
  dict->regionTableLength = 0;
  dict->regionCount = 0;
  dict->numberIndex = nullptr;
  dict->numberIndexCount = 0;
  dict->numberIndexLength = 0;
  dict->numberDataLength = 0;
  dict->numberIndexCut = 0;
  dict->numberCutFirst = 0;
  dict->entryIndexBytes = nullptr;
  dict->entryIndex = nullptr;
  dict->entryIndexCount = 0;
  dict->entryIndexLength = 0;
  dict->entryIndexCut = 0;
  dict->entryIndexSound = 0;
  dict->window = nullptr;
  dict->windowStart = 0;
  dict->windowLength = 0;
  dict->headerResult = dict->filtersResult = dict->regionTableResult = Result::kNotFound;
  dict->areaCodesResult = dict->numberIndexResult = dict->entryIndexResult = Result::kNotFound;
}

void DictFile_Free(DictFile* dict) {
  Mem_Free(dict->regionTable);
  Mem_Free(dict->numberIndex);
  Mem_Free(dict->entryIndexBytes);
  Mem_Free(dict->entryIndex);
  DictFile_Init(dict, nullptr);
}

uint64_t Dict_SectionStart(const DictFile* dict, int i) {
  if (i < 0) i = 0;
  if (i > kDictSectionCount) i = kDictSectionCount;
  uint64_t start = kDictHeaderSize;
  for (int k = 0; k < i; ++k) start += dict->sectionSizes[k];
  return start;
}

Result Dict_ReadHeader(DictFile* dict, uint8_t* header) {
  std::memset(header, 0, kDictHeaderSize);
  std::memset(dict->sectionSizes, 0, sizeof dict->sectionSizes);
  if (dict->file == nullptr) {
    dict->fileSize = -1;
  } else {
    dict->fileSize = dict->knownSize >= 0 ? dict->knownSize : File_Size(dict->file);
  }
  // A file shorter than its header (or of unknown size) contributes nothing: the header reads
  // as zeros and every section as empty.
  QOR_CHECK(dict->fileSize >= static_cast<int64_t>(kDictHeaderSize));
  if (!ReadFile(dict, 0, header, kDictHeaderSize)) {
    std::memset(header, 0, kDictHeaderSize);
    return QOR_DAMAGED();
  }
  // The sizes as the header states them; dropped below when the sections do not fit in the
  // file.
  Dict_HeaderSectionSizes(header, dict->sectionSizes);
  // Sections that run past the end of the file: the file contributes nothing (its sizes are
  // dropped so that any later step finds every section empty).
  if (Dict_SectionStart(dict, kDictSectionCount) > static_cast<uint64_t>(dict->fileSize)) {
    std::memset(dict->sectionSizes, 0, sizeof dict->sectionSizes);
    return QOR_DAMAGED();
  }
  return Result::kOk;
}

Result Dict_ReadFilters(DictFile* dict) {
  dict->filtersRead = 1;
  std::memset(dict->prefixFilter, 0, sizeof dict->prefixFilter);
  std::memset(dict->suffixFilter, 0, sizeof dict->suffixFilter);
  uint32_t s0 = dict->sectionSizes[0];
  uint32_t s1 = dict->sectionSizes[1];
  // Filters larger than the 1000 prefixes and 100000 suffixes: the file contributes nothing
  // to a number search (both filters stay empty, so no key may occur).
  QOR_CHECK(s0 <= kPrefixFilterMax);
  QOR_CHECK(s1 <= kSuffixFilterMax);
  if (!ReadFile(dict, Dict_SectionStart(dict, 0), dict->prefixFilter, s0) ||
      !ReadFile(dict, Dict_SectionStart(dict, 1), dict->suffixFilter, s1)) {
    std::memset(dict->prefixFilter, 0, sizeof dict->prefixFilter);
    std::memset(dict->suffixFilter, 0, sizeof dict->suffixFilter);
    return QOR_DAMAGED();
  }
  return Result::kOk;
}

int Dict_KeyMayOccur(const DictFile* dict, uint32_t key) {
  if (!dict->filtersRead) return 0;
  uint32_t prefix = NumberPrefix(key);
  // Keys with more than three prefix digits (values of 2^30 and above) occur in no file.
  if (prefix / 8 >= kPrefixFilterMax) return 0;
  uint32_t suffix = key % 100000;
  uint8_t prefixBit = static_cast<uint8_t>(0x80 >> (prefix % 8));
  uint8_t suffixBit = static_cast<uint8_t>(0x80 >> (suffix % 8));
  return (dict->prefixFilter[prefix / 8] & prefixBit) != 0 &&
         (dict->suffixFilter[suffix / 8] & suffixBit) != 0;
}

Result Dict_ReadRegionTable(DictFile* dict) {
  Mem_Free(dict->regionTable);
  dict->regionTable = nullptr;
  dict->regionCount = 0;
  dict->regionTableLength = 0;
  uint32_t s2 = dict->sectionSizes[2];
  // A region table larger than its limit, too short for its record count, or unreadable: the
  // table is empty and the file contributes nothing.
  QOR_CHECK(s2 <= kRegionTableMax);
  QOR_CHECK(s2 >= 2);
  uint8_t* table = static_cast<uint8_t*>(Mem_Alloc(s2));
  if (table == nullptr) {
    return Result::kOutOfMemory;
  }
  RegionTable records;
  // A record count whose records do not fit in the section: the name area would start past
  // the table, so no name could be found; the table is dropped.
  if (!ReadFile(dict, Dict_SectionStart(dict, 2), table, s2) ||
      RegionTable_Init(&records, table, s2) != 0) {
    Mem_Free(table);
    return QOR_DAMAGED();
  }
  dict->regionTable = table;
  dict->regionTableLength = s2;
  dict->regionCount = static_cast<uint16_t>(records.count);
  return Result::kOk;
}

Result Dict_ReadAreaCodeSets(DictFile* dict) {
  AreaCodeSets_Clear(&dict->areaCodes);
  // Section 4 is read only when section 3 is sound.
  const Result first = ReadAreaCodeSection(dict, 3, dict->areaCodes.areaCodes);
  return first != Result::kOk ? first : ReadAreaCodeSection(dict, 4, dict->areaCodes.extended);
}

Result Dict_ReadNumberIndex(DictFile* dict) {
  Mem_Free(dict->numberIndex);
  dict->numberIndex = nullptr;
  dict->numberIndexCount = 0;
  dict->numberIndexLength = 0;
  dict->numberDataLength = 0;
  dict->numberIndexCut = 1;
  dict->numberCutFirst = 0;
  uint16_t indexLength = 0;
  uint32_t dataLength = 0;
  void* records = nullptr;
  Result result = Result::kOk;
  // Every record takes 10 bytes, so the index holds at most indexLength / 10 of them.
  uint8_t* bytes = ReadIndex(
      dict, 5,
      [](uint16_t length) {
        return sizeof(NumberIndexRecord) * (length / kNumberIndexRecordSize + 1);
      },
      &records, &indexLength, &dataLength, &result);
  if (bytes == nullptr) return result;
  dict->numberIndex = static_cast<NumberIndexRecord*>(records);
  dict->numberIndexLength = indexLength;
  dict->numberDataLength = dataLength;
  dict->numberIndexCut = 0;
  const uint64_t available = BlockDataLength(dict, 5, indexLength);
  ByteReader r = ByteReader_Make(bytes, indexLength);
  uint64_t offset = 0;
  for (NumberIndexRecord record; !ByteReader_AtEnd(&r);) {
    // An index length that is not a whole number of records: the part record is cut off.
    if (Dict_NextNumberIndexRecord(&r, &record) < 0) {
      dict->numberIndexCut = 1;
      result = Result::kDamaged;
      break;
    }
    const uint32_t size = record.size, first = record.first, last = record.last;
    // A block over the compressed limit or reaching past the section's data: its size cannot
    // be trusted to place the blocks after it either, so the index stops there.
    if (size > kCompressedBlockMax || offset + size > available) {
      dict->numberIndexCut = 2;
      dict->numberCutFirst = first;
      result = Result::kDamaged;
      break;
    }
    dict->numberIndex[dict->numberIndexCount++] =
        NumberIndexRecord{static_cast<uint32_t>(offset), size, first, last};
    offset += size;
  }
  Mem_Free(bytes);
  return result;
}

Result Dict_ReadEntryIndex(DictFile* dict) {
  Mem_Free(dict->entryIndexBytes);
  Mem_Free(dict->entryIndex);
  dict->entryIndexBytes = nullptr;
  dict->entryIndex = nullptr;
  dict->entryIndexCount = 0;
  dict->entryIndexLength = 0;
  dict->entryIndexCut = 1;
  uint16_t indexLength = 0;
  uint32_t dataLength = 0;
  void* allocated = nullptr;
  Result result = Result::kOk;
  uint8_t* bytes = ReadIndex(
      dict, 6, [](uint16_t) { return sizeof(EntryIndexRecord) * kEntryBlockMax; }, &allocated,
      &indexLength, &dataLength, &result);
  if (bytes == nullptr) return result;
  auto* records = static_cast<EntryIndexRecord*>(allocated);
  dict->entryIndexBytes = bytes;
  dict->entryIndex = records;
  dict->entryIndexLength = indexLength;
  dict->entryIndexCut = 0;
  // Every record is checked once here, so that every walk of the index sees only sound ones.
  const uint64_t available = BlockDataLength(dict, 6, indexLength);
  ByteReader r = ByteReader_Make(bytes, indexLength);
  uint64_t offset = 0;
  for (;;) {
    const size_t offsetInIndex = r.pos;
    EntryIndexRecord record;
    int more = Dict_NextEntryIndexRecord(&r, &record);
    if (more == 0) break;
    if (more < 0 || record.compressedSize > kCompressedBlockMax ||
        offset + record.compressedSize > available || dict->entryIndexCount >= kEntryBlockMax) {
      if (more >= 0) QOR_DAMAGED();
      dict->entryIndexCut = 1;
      dict->entryIndexSound = static_cast<uint16_t>(offsetInIndex);
      return Result::kDamaged;
    }
    record.offset = static_cast<uint32_t>(offset);
    records[dict->entryIndexCount++] = record;
    offset += record.compressedSize;
  }
  dict->entryIndexSound = indexLength;
  return Result::kOk;
}

namespace {

// The most read ahead at once: sections 0 to 4 within their limits and a block index.
constexpr uint64_t kReadAheadMax = 512 * 1024;

// Reads [start, start + length) of the file (cut at its end) into a new window; no window when
// it is too long, cannot be read or allocated (the steps then read the file themselves).
void ReadAhead(DictFile* dict, uint64_t start, uint64_t length) {
  Mem_Free(const_cast<uint8_t*>(dict->window));
  dict->window = nullptr;
  if (start >= static_cast<uint64_t>(dict->fileSize)) return;
  length = std::min<uint64_t>(length, static_cast<uint64_t>(dict->fileSize) - start);
  if (length == 0 || length > kReadAheadMax) return;
  auto* bytes = static_cast<uint8_t*>(Mem_Alloc(static_cast<size_t>(length)));
  if (bytes == nullptr) return;
  if (!Platform_ReadAt(dict->file, start, bytes, static_cast<size_t>(length))) {
    Mem_Free(bytes);
    return;
  }
  dict->window = bytes;
  dict->windowStart = start;
  dict->windowLength = static_cast<uint32_t>(length);
}

}  // namespace

void Dict_ReadAll(DictFile* dict) {
  uint8_t header[kDictHeaderSize];
  dict->headerResult = Dict_ReadHeader(dict, header);
  // Each step reads a few small pieces: the tables of sections 0 to 4 and the head and (a
  // usual) index of section 5 lie together after the header and are read in one go, section
  // 6's head and index in another, which spares the system calls of a dozen reads.
  const uint64_t start5 = Dict_SectionStart(dict, 5);
  if (dict->headerResult == Result::kOk) {
    ReadAhead(dict, kDictHeaderSize,
              start5 - kDictHeaderSize +
                  std::min<uint64_t>(dict->sectionSizes[5], kSectionHeadSize + 4096));
  }
  dict->filtersResult = Dict_ReadFilters(dict);
  dict->regionTableResult = Dict_ReadRegionTable(dict);
  dict->areaCodesResult = Dict_ReadAreaCodeSets(dict);
  dict->numberIndexResult = Dict_ReadNumberIndex(dict);
  if (dict->headerResult == Result::kOk) {
    ReadAhead(dict, Dict_SectionStart(dict, 6),
              std::min<uint64_t>(dict->sectionSizes[6], kSectionHeadSize + 4096));
  }
  dict->entryIndexResult = Dict_ReadEntryIndex(dict);
  Mem_Free(const_cast<uint8_t*>(dict->window));
  dict->window = nullptr;
}

Result Dict_LoadBlock(const DictFile* dict, int section, uint32_t offset, uint32_t size,
                      DictBlockBuffer* buffer) {
  return Dict_LoadBlockFrom(dict, dict->file, section, offset, size, buffer);
}

Result Dict_LoadBlockFrom(const DictFile* dict, FILE* file, int section, uint32_t offset,
                          uint32_t size, DictBlockBuffer* buffer) {
  buffer->length = 0;
  const uint16_t indexLength = IndexLength(dict, section);
  // A block over the compressed limit or reaching past its section's data is not read.
  QOR_CHECK(size <= kCompressedBlockMax);
  QOR_CHECK(uint64_t{offset} + size <= BlockDataLength(dict, section, indexLength));
  const uint64_t at = Dict_SectionStart(dict, section) + kSectionHeadSize + indexLength + offset;
  QOR_CHECK(ReadFile(dict, at, buffer->compressed, size, file));
  uint32_t length = 0;
  const Result inflated =
      UncompressBuffer(buffer->compressed, size, buffer->data, kDecompressedBlockMax, &length);
  if (inflated != Result::kOk) {
    // Damaged: the block is skipped. Out of memory: what is read from here on is incomplete.
    return inflated;
  }
  buffer->length = length;
  return Result::kOk;
}

#if defined(QOR3_HAVE_LIBDEFLATE)
Result UncompressBuffer(const uint8_t* source, uint32_t sourceLength, uint8_t* destination,
                        uint32_t capacity, uint32_t* lengthOut) {
  // Set once, before the first decompressor is made (a thread-safe static initialisation).
  static const bool allocatorSet = (libdeflate_set_memory_allocator(DeflateAlloc, Mem_Free), true);
  (void)allocatorSet;
  libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
  if (decompressor == nullptr) return Result::kOutOfMemory;
  size_t consumed = 0, produced = 0;
  // Bytes after the end of the stream are ignored, as zlib's inflate ignores them.
  const libdeflate_result status =
      libdeflate_zlib_decompress_ex(decompressor, source, sourceLength, destination, capacity,
                                    &consumed, &produced);
  libdeflate_free_decompressor(decompressor);
  if (status != LIBDEFLATE_SUCCESS) {
    // Bad data, a stream cut short, output beyond the capacity: the block does not inflate
    // and is skipped.
    QOR_DAMAGED();
    return Result::kDamaged;
  }
  if (lengthOut != nullptr) *lengthOut = static_cast<uint32_t>(produced);
  return Result::kOk;
}
#else
Result UncompressBuffer(const uint8_t* source, uint32_t sourceLength, uint8_t* destination,
                        uint32_t capacity, uint32_t* lengthOut) {
  // The steps of zlib's uncompress, with inflate's memory taken from Mem_Alloc.
  z_stream stream;
  std::memset(&stream, 0, sizeof stream);
  stream.zalloc = ZAlloc;
  stream.zfree = ZFree;
  stream.next_in = const_cast<Bytef*>(source);
  stream.avail_in = sourceLength;
  stream.next_out = destination;
  stream.avail_out = capacity;
  const int init = inflateInit(&stream);
  if (init != Z_OK) return init == Z_MEM_ERROR ? Result::kOutOfMemory : Result::kDamaged;
  int status = inflate(&stream, Z_FINISH);
  uint32_t produced = static_cast<uint32_t>(stream.total_out);
  inflateEnd(&stream);
  if (status != Z_STREAM_END) {
    // Out of memory is not damage; anything else (bad data, a stream cut short, output beyond
    // the capacity) means the block does not inflate and is skipped.
    if (status == Z_MEM_ERROR) return Result::kOutOfMemory;
    QOR_DAMAGED();
    return Result::kDamaged;
  }
  if (lengthOut != nullptr) *lengthOut = produced;
  return Result::kOk;
}
#endif

int NumberItem_Next(NumberItemReader* items, uint32_t* delta, uint8_t* group) {
  if (items->pos >= items->length) return 0;
  ByteReader r = ByteReader_Make(items->data, items->length);
  r.pos = items->pos;
  uint8_t b = 0;
  ByteReader_U8(&r, &b);
  uint32_t value = b & 0x3F;
  for (int extra = b >> 6; extra > 0; --extra) {
    uint8_t more = 0;
    QOR_CHECK(ByteReader_U8(&r, &more));
    value = (value << 8) | more;
  }
  // An item cut off by the end of the block: the rest of the block gives nothing.
  QOR_CHECK(ByteReader_U8(&r, group));
  *delta = value;
  items->pos = static_cast<uint32_t>(r.pos);
  return 1;
}

int RegionTable_Init(RegionTable* table, const uint8_t* data, uint32_t length) {
  *table = RegionTable{data, length, 0};
  QOR_CHECK(length >= 2);
  const uint32_t count = LoadU16BE(data);
  QOR_CHECK(2 + uint64_t{count} * kRegionRecordSize <= length);
  table->count = count;
  return 0;
}

RegionTable Dict_RegionTable(const DictFile* dict) {
  return RegionTable{dict->regionTable, dict->regionTableLength, dict->regionCount};
}

RegionRecord RegionTable_Record(const RegionTable* table, uint32_t i) {
  const uint8_t* p = table->data + 2 + size_t{i} * kRegionRecordSize;
  return RegionRecord{LoadU16BE(p), LoadU16BE(p + 4), LoadU16BE(p + 6)};
}

bool RegionTable_Name(const RegionTable* table, uint32_t offset, size_t maxLength,
                      const char** text, size_t* length) {
  const size_t areaStart = 2 + size_t{table->count} * kRegionRecordSize;
  const size_t areaSize = table->length - areaStart;
  if (offset >= areaSize) return false;
  ByteReader r = ByteReader_Make(table->data + areaStart + offset, areaSize - offset);
  return ByteReader_CString(&r, maxLength, text, length);
}

bool Dict_OutOfMemory(const DictFile* dict) {
  for (Result step : {dict->headerResult, dict->filtersResult, dict->regionTableResult,
                      dict->areaCodesResult, dict->numberIndexResult, dict->entryIndexResult}) {
    if (step == Result::kOutOfMemory) return true;
  }
  return false;
}

void Dict_HeaderEditions(const uint8_t* header, uint32_t* edition1, uint32_t* edition2) {
  *edition1 = LoadU32BE(header + kDictEdition1Offset);
  *edition2 = LoadU32BE(header + kDictEdition2Offset);
}

void Dict_HeaderSectionSizes(const uint8_t* header, uint32_t* sizes) {
  for (int i = 0; i < kDictSectionCount; ++i) {
    sizes[i] = LoadU32BE(header + kDictSectionSizesOffset + 4 * i);
  }
}

uint32_t Dict_SectionHeadIndexLength(const uint8_t* head) { return LoadU16BE(head); }

AreaCodeList AreaCodeList_Make(const uint8_t* section, uint32_t size) {
  AreaCodeList list{ByteReader_Make(section, size), 0};
  ByteReader_U16(&list.values, &list.count);
  return list;
}

bool AreaCodeList_Next(AreaCodeList* list, uint32_t* value) {
  return ByteReader_U24(&list->values, value);
}

int Dict_NextNumberIndexRecord(ByteReader* index, NumberIndexRecord* out) {
  if (ByteReader_AtEnd(index)) return 0;
  out->offset = 0;
  if (!ByteReader_U16(index, &out->size) || !ByteReader_U32(index, &out->first) ||
      !ByteReader_U32(index, &out->last)) {
    return -1;
  }
  return 1;
}
