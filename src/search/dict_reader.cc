// Reading one dictionary file: header, filters, region table, area code sets, block
// selection through the number and entry indexes, zlib decompression and entry decoding.
//
// Every byte taken from a file goes through a ByteReader or File_ReadAt, so a damaged file
// can make a step yield less (or nothing) but never makes it read or write outside a buffer.
// Each check that rejects file content notes it with QOR_DAMAGED() and states its rule.
#include "search/dict_reader.h"

#include <zlib.h>

#include <cstring>

#include "base/damage.h"
#include "base/file_io.h"
#include "base/mem.h"
#include "base/num_text.h"
#include "search/surname_table.h"

namespace {

// Compressed number blocks are read here (process-wide: the reader is not reentrant).
uint8_t g_numberBlock[kCompressedBlockMax];
// Whether the last UncompressBuffer failed for want of memory.
bool g_uncompressOutOfMemory;
// Names of the last successful region lookup; empty until one succeeds.
char g_regionName1[kRegionName1Max + 1];
char g_regionName2[kRegionName2Max + 1];

constexpr uint32_t kSectionHeadSize = 6;  // u16 index length, u32 data length
constexpr uint32_t kRegionRecordSize = 8;
constexpr uint32_t kAreaCodeValueSize = 3;

// L5 and L6 are u16, so the block indexes always fit in the scratch.
static_assert(0xFFFF <= kBlockIndexMax && kBlockIndexMax <= kDecompressedBlockMax);
static_assert(kAreaCodeSectionMax <= kDecompressedBlockMax);
static_assert(kEntryBlockMax <= 256 && kSelectedBlockMax <= 256);

template <size_t N>
void SetText(char (&dst)[N], const char* src) {
  size_t n = std::strlen(src);
  if (n > N - 1) n = N - 1;
  std::memcpy(dst, src, n);
  dst[n] = '\0';
}

// Reads n bytes at offset, refusing anything that does not lie inside the file.
bool ReadFile(const SearchContext* context, uint64_t offset, void* buf, size_t n) {
  if (context->file == nullptr || context->fileSize < 0) return false;
  if (offset > static_cast<uint64_t>(context->fileSize) ||
      n > static_cast<uint64_t>(context->fileSize) - offset) {
    return false;
  }
  return File_ReadAt(context->file, offset, buf, n);
}

// Reads the 6-byte head of section 5 or 6: the index length and the data length. The
// index must lie inside the section.
int ReadSectionHead(SearchContext* context, int section, uint16_t* indexLength,
                    uint32_t* dataLength) {
  *indexLength = 0;
  *dataLength = 0;
  uint8_t head[kSectionHeadSize];
  // A section too short for its head, or whose head cannot be read, holds no blocks.
  if (context->sectionSizes[section] < kSectionHeadSize) return QOR_DAMAGED();
  if (!ReadFile(context, Dict_SectionStart(context, section), head, sizeof head)) {
    return QOR_DAMAGED();
  }
  uint16_t l;
  uint32_t d;
  GetU16BE(head, &l);
  GetU32BE(head + 2, &d);
  // An index running past the end of its section: the section holds no blocks.
  if (kSectionHeadSize + uint64_t{l} > context->sectionSizes[section]) return QOR_DAMAGED();
  *indexLength = l;
  *dataLength = d;
  return 0;
}

// Bytes of block data in section 5 or 6: everything after the head and the index.
uint64_t BlockDataLength(const SearchContext* context, int section, uint16_t indexLength) {
  uint64_t size = context->sectionSizes[section];
  uint64_t used = kSectionHeadSize + uint64_t{indexLength};
  return size > used ? size - used : 0;
}

uint64_t BlockDataStart(const SearchContext* context, int section, uint16_t indexLength) {
  return Dict_SectionStart(context, section) + kSectionHeadSize + indexLength;
}

// Reads one selected block (compressed) and decompresses it into the scratch. -1 when the
// block cannot be read or does not decompress: the block is then skipped.
int LoadBlock(SearchContext* context, int section, uint16_t indexLength,
              const SelectedBlock& block, uint8_t* buffer) {
  context->scratchLength = 0;
  // A block over the compressed limit or reaching past its section's data is not read.
  if (block.size > kCompressedBlockMax) return QOR_DAMAGED();
  if (uint64_t{block.offset} + block.size > BlockDataLength(context, section, indexLength)) {
    return QOR_DAMAGED();
  }
  if (!ReadFile(context, BlockDataStart(context, section, indexLength) + block.offset, buffer,
                block.size)) {
    return QOR_DAMAGED();
  }
  uint32_t length = 0;
  if (UncompressBuffer(buffer, block.size, context->scratch, kDecompressedBlockMax, &length) !=
      0) {
    if (UncompressBuffer_OutOfMemory()) context->outOfMemory = 1;
    return -1;
  }
  context->scratchLength = length;
  return 0;
}

// The region table records are 8 bytes from offset 2; their names are in the string area
// that follows them.
void LookupRegion(const SearchContext* context, DictEntry* entry) {
  ByteReader records = ByteReader_Make(context->regionTable, context->regionTableLength);
  ByteReader_Skip(&records, 2);
  for (uint32_t i = 0; i < context->regionCount; ++i) {
    uint32_t code = 0, unused = 0, offset1 = 0, offset2 = 0;
    if (!ByteReader_U16(&records, &code) || !ByteReader_U16(&records, &unused) ||
        !ByteReader_U16(&records, &offset1) || !ByteReader_U16(&records, &offset2)) {
      break;  // cannot happen: Dict_ReadRegionTable keeps only records that fit
    }
    if (code != entry->regionCode) continue;
    size_t areaStart = 2 + size_t{context->regionCount} * kRegionRecordSize;
    ByteReader name1 = ByteReader_Make(context->regionTable + areaStart,
                                       context->regionTableLength - areaStart);
    ByteReader name2 = name1;
    const char* text1 = nullptr;
    const char* text2 = nullptr;
    size_t length1 = 0, length2 = 0;
    // A matching record whose name offset lies outside the string area, or whose name has
    // no NUL within the table or is longer than the entry's field (10 and 40 bytes), is a
    // failed lookup: the buffers keep the names of the previous successful one, as for a
    // region code missing from the table.
    if (!ByteReader_Skip(&name1, offset1) ||
        !ByteReader_CString(&name1, kRegionName1Max, &text1, &length1) ||
        !ByteReader_Skip(&name2, offset2) ||
        !ByteReader_CString(&name2, kRegionName2Max, &text2, &length2)) {
      QOR_DAMAGED();
      break;
    }
    std::memcpy(g_regionName1, text1, length1);
    g_regionName1[length1] = '\0';
    std::memcpy(g_regionName2, text2, length2);
    g_regionName2[length2] = '\0';
    break;
  }
  SetText(entry->regionName1, g_regionName1);
  SetText(entry->regionName2, g_regionName2);
}

// Appends a run of double-byte characters (taken while the next byte has its top bit set)
// to text, which holds *length bytes and has room for max bytes and a NUL.
int ReadRun(ByteReader* r, char* text, uint32_t* length, uint32_t max) {
  uint8_t b = 0;
  while (ByteReader_Peek(r, &b) && (b & 0x80) != 0) {
    const uint8_t* pair = nullptr;
    // A run that ends in half a character at the end of the block, or that would make the
    // text longer than its field, damages the entry.
    if (!ByteReader_Bytes(r, 2, &pair)) return QOR_DAMAGED();
    if (*length + 2 > max) return QOR_DAMAGED();
    text[*length] = static_cast<char>(pair[0]);
    text[*length + 1] = static_cast<char>(pair[1]);
    *length += 2;
  }
  text[*length] = '\0';
  return 0;
}

// Decodes the entry at r into e, which starts as a copy of the previous entry, so every
// field an entry does not code keeps the previous entry's value.
int DecodeInto(SearchContext* context, ByteReader* r, DictEntry* e, int variant) {
  const DictEntry& previous = context->previous;
  uint8_t flags = 0;
  if (!ByteReader_U8(r, &flags)) return QOR_DAMAGED();
  // Flags use the five low bits only; a higher bit means the decoder has lost its place.
  if ((flags & 0xE0) != 0) return QOR_DAMAGED();
  // The first entry of a block copies no field from the (empty) previous entry; it may
  // still carry the kind-2 name bit, with a shared count of 0 (checked with the name).
  constexpr uint8_t kSameBits =
      kFlagSameAddress2 | kFlagSameAddress1 | kFlagSameRegion | kFlagSamePostal;
  if (previous.number == 0xFFFFFFFFu && (flags & kSameBits) != 0) return QOR_DAMAGED();

  if ((flags & kFlagSamePostal) == 0) {
    uint32_t n = 0;
    if (!ByteReader_U24(r, &n)) return QOR_DAMAGED();
    e->postal = n;
    char text[12];
    std::memcpy(text, NumText(n / 10000, 3), 3);
    text[3] = '-';
    std::memcpy(text + 4, NumText(n % 10000, 4), 5);
    SetText(e->postalText, text);
  }

  if ((flags & kFlagSameRegion) == 0) {
    uint32_t code = 0;
    if (!ByteReader_U16(r, &code)) return QOR_DAMAGED();
    e->regionCode = static_cast<uint16_t>(code);
    SetText(e->regionCodeText, NumText(code, 5));
    LookupRegion(context, e);
  }

  if ((flags & kFlagSameAddress1) == 0) {
    uint32_t length = 0;
    if (ReadRun(r, e->address1, &length, kAddressMax) != 0) return -1;
  }

  uint8_t first = 0;
  if (!ByteReader_Peek(r, &first)) return QOR_DAMAGED();
  // The byte after a run is below 0x80; a number starting at 0x80 or above is damage.
  if ((first & 0x80) != 0) return QOR_DAMAGED();
  if ((first & kShortNumberBit) != 0) {
    uint32_t word = 0;
    if (!ByteReader_U16(r, &word)) return QOR_DAMAGED();
    uint32_t digits = word & 0x3FFF;
    // Last four digits above 9999, or a short form with no long-form number before it in
    // the block, damage the entry.
    if (digits > 9999) return QOR_DAMAGED();
    if (e->numberHigh == 0xFFFFFFFFu) return QOR_DAMAGED();
    e->lastFour = static_cast<uint16_t>(digits);
    e->number = e->numberHigh * 10000 + digits;
  } else {
    uint32_t number = 0;
    if (!ByteReader_U32(r, &number)) return QOR_DAMAGED();
    e->number = number;
    e->numberHigh = number / 10000;
  }
  SetText(e->numberText, NumText(e->number, e->number >= 100000000 ? 10 : 9));

  uint8_t next = 0;
  bool haveNext = ByteReader_Peek(r, &next);
  uint32_t nameLength = 0;
  if ((flags & kFlagSharedName) != 0) {
    uint32_t k = 0;
    if (haveNext && next < 0x80) {
      k = next;
      ByteReader_Skip(r, 1);
    }
    // The shared characters must exist in the previous name.
    if (2 * k > std::strlen(previous.name)) return QOR_DAMAGED();
    nameLength = 2 * k;
    e->kind = 2;
  } else {
    if (haveNext && next < 0x80) {
      uint32_t index = 0;
      if (!ByteReader_U16(r, &index)) return QOR_DAMAGED();
      const char* surname = SurnameTable_Get(index);
      // A surname index outside the table damages the entry.
      if (surname == nullptr) return QOR_DAMAGED();
      nameLength = SurnameTable_Length(index);
      if (nameLength > kNameMax) return QOR_DAMAGED();
      std::memcpy(e->name, surname, nameLength);
    }
    e->kind = 1;
  }
  if (ReadRun(r, e->name, &nameLength, kNameMax) != 0) return -1;
  SetText(e->kindText, e->kind == 1 ? "1" : "2");

  if ((flags & kFlagSameAddress2) == 0) {
    uint8_t k = 0;
    if (!ByteReader_U8(r, &k)) return QOR_DAMAGED();
    // The shared bytes must exist in the previous address text 2. (A count of 0x80 or
    // more cannot reach here: the name's run before it takes every such byte.)
    if (k > std::strlen(previous.address2)) return QOR_DAMAGED();
    uint32_t length = k;
    uint8_t b = 0;
    while (ByteReader_Peek(r, &b) && b >= 0x20) {
      // A tail that would make address text 2 longer than 200 bytes damages the entry.
      if (length + 1 > kAddressMax) return QOR_DAMAGED();
      e->address2[length++] = static_cast<char>(b);
      ByteReader_Skip(r, 1);
    }
    e->address2[length] = '\0';
  }

  if (variant == 2) {
    uint32_t word = 0;
    if (!ByteReader_U16(r, &word)) return QOR_DAMAGED();
    const int32_t decoded = CorrectionWord_Version(word);
    if (decoded < 0) return QOR_DAMAGED();
    e->correctionKind = (word & kCorrectionAddBit) != 0 ? 1 : 2;
    uint32_t version = static_cast<uint32_t>(decoded);
    char digits[5];
    int n = 0;
    do {
      digits[n++] = static_cast<char>('0' + version % 10);
      version /= 10;
    } while (version != 0);
    for (int i = 0; i < n; ++i) e->correctionVersionText[i] = digits[n - 1 - i];
    e->correctionVersionText[n] = '\0';
  }
  return 0;
}

// Inflate's working memory comes from the project's allocator like every other allocation.
voidpf ZAlloc(voidpf, uInt items, uInt size) {
  return Mem_AllocZeroed(items, size);
}
void ZFree(voidpf, voidpf address) { Mem_Free(address); }

}  // namespace

SearchContext* SearchContext_New() {
  auto* context = static_cast<SearchContext*>(Mem_AllocZeroed(1, sizeof(SearchContext)));
  if (context == nullptr) return nullptr;
  RowList_Init(&context->resultRows);
  RowList_Init(&context->secondRows);
  context->file = nullptr;
  return context;
}

void SearchContext_Free(SearchContext* context) {
  if (context == nullptr) return;
  RowList_Free(&context->resultRows);
  RowList_Free(&context->secondRows);
  Mem_Free(context);
}

uint64_t Dict_SectionStart(const SearchContext* context, int i) {
  if (i < 0) i = 0;
  if (i > kDictSectionCount) i = kDictSectionCount;
  uint64_t start = kDictHeaderSize;
  for (int k = 0; k < i; ++k) start += context->sectionSizes[k];
  return start;
}

int Dict_ReadHeader(SearchContext* context, uint8_t* header) {
  std::memset(header, 0, kDictHeaderSize);
  std::memset(context->sectionSizes, 0, sizeof context->sectionSizes);
  context->fileSize = context->file != nullptr ? File_Size(context->file) : -1;
  // A file shorter than its header (or of unknown size) contributes nothing: the header
  // reads as zeros and every section as empty.
  if (context->fileSize < static_cast<int64_t>(kDictHeaderSize)) return QOR_DAMAGED();
  if (!ReadFile(context, 0, header, kDictHeaderSize)) {
    std::memset(header, 0, kDictHeaderSize);
    return QOR_DAMAGED();
  }
  uint32_t sizes[kDictSectionCount];
  ByteReader r = ByteReader_Make(header, kDictHeaderSize);
  ByteReader_Skip(&r, kDictSectionSizesOffset);
  for (int i = 0; i < kDictSectionCount; ++i) ByteReader_U32(&r, &sizes[i]);
  std::memcpy(context->sectionSizes, sizes, sizeof sizes);
  // Sections that run past the end of the file: the file contributes nothing (its sizes
  // are dropped so that any later step finds every section empty).
  if (Dict_SectionStart(context, kDictSectionCount) > static_cast<uint64_t>(context->fileSize)) {
    std::memset(context->sectionSizes, 0, sizeof context->sectionSizes);
    return QOR_DAMAGED();
  }
  return 0;
}

int Dict_ReadFilters(SearchContext* context) {
  std::memset(context->prefixFilter, 0, sizeof context->prefixFilter);
  std::memset(context->suffixFilter, 0, sizeof context->suffixFilter);
  uint32_t s0 = context->sectionSizes[0];
  uint32_t s1 = context->sectionSizes[1];
  // Filters larger than the 1000 prefixes and 100000 suffixes: the file contributes
  // nothing to a number search (both filters stay empty, so no key may occur).
  if (s0 > kPrefixFilterMax || s1 > kSuffixFilterMax) return QOR_DAMAGED();
  if (!ReadFile(context, Dict_SectionStart(context, 0), context->prefixFilter, s0) ||
      !ReadFile(context, Dict_SectionStart(context, 1), context->suffixFilter, s1)) {
    std::memset(context->prefixFilter, 0, sizeof context->prefixFilter);
    std::memset(context->suffixFilter, 0, sizeof context->suffixFilter);
    return QOR_DAMAGED();
  }
  return 0;
}

int Dict_KeyMayOccur(const SearchContext* context) {
  uint32_t prefix = NumberPrefix(context->keyNumber);
  // Keys with more than three prefix digits (values of 2^30 and above) occur in no file.
  if (prefix / 8 >= kPrefixFilterMax) return 0;
  uint32_t suffix = context->keyNumber % 100000;
  uint8_t prefixBit = static_cast<uint8_t>(0x80 >> (prefix % 8));
  uint8_t suffixBit = static_cast<uint8_t>(0x80 >> (suffix % 8));
  return (context->prefixFilter[prefix / 8] & prefixBit) != 0 &&
         (context->suffixFilter[suffix / 8] & suffixBit) != 0;
}

int Dict_ReadRegionTable(SearchContext* context) {
  context->regionCount = 0;
  context->regionTableLength = 0;
  uint32_t s2 = context->sectionSizes[2];
  // A region table larger than its buffer, too short for its record count, or unreadable:
  // the table is empty and the file contributes nothing.
  if (s2 > kRegionTableMax || s2 < 2) return QOR_DAMAGED();
  if (!ReadFile(context, Dict_SectionStart(context, 2), context->regionTable, s2)) {
    return QOR_DAMAGED();
  }
  ByteReader r = ByteReader_Make(context->regionTable, s2);
  uint32_t count = 0;
  ByteReader_U16(&r, &count);
  // A record count whose records do not fit in the section: the string area would start
  // past the table, so no name could be found; the table is dropped.
  if (2 + uint64_t{count} * kRegionRecordSize > s2) return QOR_DAMAGED();
  context->regionTableLength = s2;
  context->regionCount = static_cast<uint16_t>(count);
  return 0;
}

void Dict_ClearAreaCodeSets(SearchContext* context) {
  std::memset(context->areaCodeSet, 0, sizeof context->areaCodeSet);
  std::memset(context->extendedAreaCodeSet, 0, sizeof context->extendedAreaCodeSet);
}

namespace {
// Reads one area code section into the scratch and, when the whole list is sound, sets
// the bit of each value in set.
int ReadAreaCodeSection(SearchContext* context, int section, uint8_t* set) {
  uint32_t size = context->sectionSizes[section];
  // A section larger than the scratch, too short for its count, unreadable, with a count
  // whose values do not fit in it, or holding a value of 100000 or more adds no value at
  // all to its set.
  if (size > kAreaCodeSectionMax || size < 2) return QOR_DAMAGED();
  if (!ReadFile(context, Dict_SectionStart(context, section), context->scratch, size)) {
    return QOR_DAMAGED();
  }
  ByteReader r = ByteReader_Make(context->scratch, size);
  uint32_t count = 0;
  ByteReader_U16(&r, &count);
  if (uint64_t{count} * kAreaCodeValueSize > ByteReader_Left(&r)) return QOR_DAMAGED();
  ByteReader values = r;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t v = 0;
    ByteReader_U24(&values, &v);
    if (v >= kAreaCodeValueLimit) return QOR_DAMAGED();
  }
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t v = 0;
    ByteReader_U24(&r, &v);
    set[v / 8] |= static_cast<uint8_t>(0x80 >> (v % 8));
  }
  return 0;
}
}  // namespace

int Dict_ReadAreaCodeSets(SearchContext* context) {
  // Section 3 first; when it is damaged section 4 is not read. A damaged section 4 leaves
  // the values of section 3 in place.
  if (ReadAreaCodeSection(context, 3, context->areaCodeSet) != 0) return -1;
  return ReadAreaCodeSection(context, 4, context->extendedAreaCodeSet);
}

int Dict_SelectNumberBlocks(SearchContext* context) {
  context->selectedCount = 0;
  context->numberIndexLength = 0;
  context->numberDataLength = 0;
  uint16_t indexLength = 0;
  uint32_t dataLength = 0;
  if (ReadSectionHead(context, 5, &indexLength, &dataLength) != 0) return -1;
  if (!ReadFile(context, Dict_SectionStart(context, 5) + kSectionHeadSize, context->scratch,
                indexLength)) {
    return QOR_DAMAGED();
  }
  context->numberIndexLength = indexLength;
  context->numberDataLength = dataLength;
  uint64_t available = BlockDataLength(context, 5, indexLength);
  ByteReader r = ByteReader_Make(context->scratch, indexLength);
  uint64_t offset = 0;
  while (!ByteReader_AtEnd(&r)) {
    uint32_t size = 0, first = 0, last = 0;
    // An index length that is not a whole number of records: the last part record is
    // ignored; the blocks selected before it stand.
    if (!ByteReader_U16(&r, &size) || !ByteReader_U32(&r, &first) ||
        !ByteReader_U32(&r, &last)) {
      return QOR_DAMAGED();
    }
    if (first > context->keyNumber) break;
    // A block over the compressed limit or reaching past the section's data: its size
    // cannot be trusted to place the blocks after it either, so the walk stops there; the
    // blocks selected before it stand.
    if (size > kCompressedBlockMax || offset + size > available) return QOR_DAMAGED();
    if (context->keyNumber <= last) {
      // More than 256 matching blocks: the first 256 are kept.
      if (context->selectedCount >= kSelectedBlockMax) return QOR_DAMAGED();
      SelectedBlock& block = context->selected[context->selectedCount++];
      block.offset = static_cast<uint32_t>(offset);
      block.size = size;
    }
    offset += size;
  }
  return 0;
}

int Dict_AppendGroup(SearchContext* context, uint32_t group) {
  // More than 256 group numbers: the first 256 are kept.
  if (context->groupCount >= sizeof context->groups / sizeof context->groups[0]) {
    return QOR_DAMAGED();
  }
  context->groups[context->groupCount++] = static_cast<uint16_t>(group);
  return 0;
}

int Dict_CollectGroups(SearchContext* context) {
  context->groupCount = 0;
  int result = 0;
  for (uint32_t i = 0; i < context->selectedCount; ++i) {
    // A block that cannot be read or decompressed gives no group number.
    if (LoadBlock(context, 5, context->numberIndexLength, context->selected[i],
                  g_numberBlock) != 0) {
      result = -1;
      continue;
    }
    ByteReader r = ByteReader_Make(context->scratch, context->scratchLength);
    uint64_t sum = 0;
    while (!ByteReader_AtEnd(&r)) {
      uint8_t b = 0;
      ByteReader_U8(&r, &b);
      uint32_t delta = b & 0x3F;
      bool whole = true;
      for (int extra = b >> 6; extra > 0 && whole; --extra) {
        uint8_t more = 0;
        whole = ByteReader_U8(&r, &more);
        delta = (delta << 8) | more;
      }
      uint8_t group = 0;
      // An item cut off by the end of the block: the rest of the block gives nothing; the
      // group numbers taken before it stand.
      if (!whole || !ByteReader_U8(&r, &group)) {
        result = QOR_DAMAGED();
        break;
      }
      sum += delta;
      if (sum == context->keyNumber && Dict_AppendGroup(context, group) != 0) return -1;
    }
  }
  return result;
}

int Dict_ReadEntryIndex(SearchContext* context) {
  context->entryIndexLength = 0;
  context->entryIndexSound = 0;
  uint16_t indexLength = 0;
  uint32_t dataLength = 0;
  if (ReadSectionHead(context, 6, &indexLength, &dataLength) != 0) return -1;
  if (!ReadFile(context, Dict_SectionStart(context, 6) + kSectionHeadSize, context->scratch,
                indexLength)) {
    return QOR_DAMAGED();
  }
  // Check every record once here, so that every walk of the index (block selection, the
  // name search, inspection) sees only sound records: the index is cut before the first
  // record that runs past the index or holds an over-long text, whose block is over the
  // compressed limit or reaches past the section, or that would be the 257th.
  uint64_t available = BlockDataLength(context, 6, indexLength);
  ByteReader r = ByteReader_Make(context->scratch, indexLength);
  uint64_t offset = 0;
  uint32_t records = 0;
  int result = 0;
  for (;;) {
    size_t start = r.pos;
    EntryIndexRecord record;
    int more = Dict_NextEntryIndexRecord(&r, &record);
    if (more == 0) break;
    if (more < 0 || record.compressedSize > kCompressedBlockMax ||
        offset + record.compressedSize > available || records >= kEntryBlockMax) {
      if (more >= 0) QOR_DAMAGED();
      r.pos = start;
      result = -1;
      break;
    }
    offset += record.compressedSize;
    ++records;
  }
  context->entryIndexLength = indexLength;
  context->entryIndexSound = static_cast<uint16_t>(r.pos);
  return result;
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
  out->compressedSize = size;
  out->regionCode = static_cast<uint16_t>(region);
  *index = r;
  return 1;
}

ByteReader Dict_EntryIndex(const SearchContext* context) {
  return ByteReader_Make(context->scratch, context->entryIndexSound);
}

int Dict_SelectEntryBlocks(SearchContext* context) {
  context->selectedCount = 0;
  uint8_t marked[kEntryBlockMax] = {};
  int result = 0;
  for (uint32_t i = 0; i < context->groupCount; ++i) {
    // A group number past the last addressable block selects nothing.
    if (context->groups[i] >= kEntryBlockMax) {
      result = QOR_DAMAGED();
      continue;
    }
    marked[context->groups[i]] = 1;
  }
  if (Dict_ReadEntryIndex(context) != 0) result = -1;
  ByteReader r = Dict_EntryIndex(context);
  uint32_t offset = 0;
  EntryIndexRecord record;
  for (uint32_t k = 0; Dict_NextEntryIndexRecord(&r, &record) == 1; ++k) {
    if (marked[k]) {
      SelectedBlock& block = context->selected[context->selectedCount++];
      block.offset = offset;
      block.size = record.compressedSize;
    }
    offset += record.compressedSize;
  }
  return result;
}

void DictEntry_Reset(DictEntry* entry) {
  std::memset(entry->regionCodeText, 0, sizeof entry->regionCodeText);
  std::memset(entry->kindText, 0, sizeof entry->kindText);
  std::memset(entry->numberText, 0, sizeof entry->numberText);
  std::memset(entry->postalText, 0, sizeof entry->postalText);
  std::memset(entry->name, 0, sizeof entry->name);
  std::memset(entry->regionName1, 0, sizeof entry->regionName1);
  std::memset(entry->regionName2, 0, sizeof entry->regionName2);
  std::memset(entry->address1, 0, sizeof entry->address1);
  std::memset(entry->address2, 0, sizeof entry->address2);
  entry->regionCode = 0xFFFF;
  entry->kind = 0xFFFF;
  entry->lastFour = 0xFFFF;
  entry->number = 0xFFFFFFFFu;
  entry->numberHigh = 0xFFFFFFFFu;
  entry->postal = 0xFFFFFFFFu;
}

int DictEntry_Decode(SearchContext* context, const uint8_t* block, uint32_t length,
                     uint32_t* position, int variant) {
  if (*position >= length) return -1;
  ByteReader r = ByteReader_Make(block, length);
  r.pos = *position;
  // Decoded into a copy, so that a damaged entry changes neither the current nor the
  // previous entry.
  DictEntry decoded = context->previous;
  if (DecodeInto(context, &r, &decoded, variant) != 0) return -1;
  context->current = decoded;
  context->previous = decoded;
  *position = static_cast<uint32_t>(r.pos);
  return 0;
}

bool UncompressBuffer_OutOfMemory() { return g_uncompressOutOfMemory; }

void Dict_LookupRegion(SearchContext* context) { LookupRegion(context, &context->current); }

int UncompressBuffer(const uint8_t* source, uint32_t sourceLength, uint8_t* destination,
                     uint32_t capacity, uint32_t* lengthOut) {
  // The steps of zlib's uncompress, with inflate's memory taken from Mem_Alloc.
  g_uncompressOutOfMemory = false;
  z_stream stream;
  std::memset(&stream, 0, sizeof stream);
  stream.zalloc = ZAlloc;
  stream.zfree = ZFree;
  stream.next_in = const_cast<Bytef*>(source);
  stream.avail_in = sourceLength;
  stream.next_out = destination;
  stream.avail_out = capacity;
  const int init = inflateInit(&stream);
  if (init != Z_OK) {
    g_uncompressOutOfMemory = init == Z_MEM_ERROR;
    return -1;
  }
  int status = inflate(&stream, Z_FINISH);
  uint32_t produced = static_cast<uint32_t>(stream.total_out);
  inflateEnd(&stream);
  if (status != Z_STREAM_END) {
    // Out of memory is not damage; anything else (bad data, a stream cut short, output
    // beyond the capacity) means the block does not decompress and is skipped.
    if (status == Z_MEM_ERROR) {
      g_uncompressOutOfMemory = true;
    } else {
      QOR_DAMAGED();
    }
    return -1;
  }
  if (lengthOut != nullptr) *lengthOut = produced;
  return 0;
}

int Dict_ReadEntryBlocks(SearchContext* context, uint8_t* blockBuffer, int variant,
                         DictEntryHandler handler, void* user) {
  if (blockBuffer == nullptr || handler == nullptr) return -1;
  int result = 0;
  for (uint32_t i = 0; i < context->selectedCount; ++i) {
    if (LoadBlock(context, 6, context->entryIndexLength, context->selected[i], blockBuffer) !=
        0) {
      result = -1;
      continue;
    }
    DictEntry_Reset(&context->previous);
    uint32_t position = 0;
    while (DictEntry_Decode(context, context->scratch, context->scratchLength, &position,
                            variant) == 0) {
      if (handler(context, user) != 0) return result;
    }
    // Decoding stopped before the end: that entry was damaged and the rest of the block
    // is given up; the entries handed over before it stand.
    if (position < context->scratchLength) result = -1;
  }
  return result;
}
