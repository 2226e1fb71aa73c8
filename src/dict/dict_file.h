// A dictionary file as the searches read it: what is parsed once per file (section sizes,
// filters, region table, area code sets, both block indexes as checked arrays), the checked
// load of one block (read and inflate), and the decoders of the region table and of the
// number blocks' items.
//
// Every byte taken from the file goes through a bounds-checked read, so a damaged file can make
// a step yield less (or nothing) but never makes it read or write outside a buffer. A read step
// answers kOk; kDamaged when it met damage (noted through QOR_DAMAGED()): a table step
// (header, filters, region table, area code sets) then leaves its table empty, an index step
// keeps the records before the first damaged one; or kOutOfMemory when it could not allocate
// its table (what was read of the file is then incomplete, and a search must not report it).
#ifndef QOR3_DICT_DICT_FILE_H
#define QOR3_DICT_DICT_FILE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "base/byte_reader.h"
#include "base/result.h"
#include "dict/dict_format.h"

// Two 100000-bit sets: the area codes (section 3) and the extended area codes (section 4).
constexpr uint32_t kAreaCodeSetBytes = kAreaCodeValueLimit / 8;
struct AreaCodeSets {
  uint8_t areaCodes[kAreaCodeSetBytes];
  uint8_t extended[kAreaCodeSetBytes];
};
void AreaCodeSets_Clear(AreaCodeSets* sets);
// Sets in dst every bit set in src.
void AreaCodeSets_Add(AreaCodeSets* dst, const AreaCodeSets* src);
inline bool AreaCodeSet_Has(const uint8_t* set, uint32_t value) {
  return value < kAreaCodeValueLimit && (set[value / 8] & (0x80u >> (value % 8))) != 0;
}

// Record k of section 5's index: number block k.
struct NumberIndexRecord {
  uint32_t offset;  // from the start of the section's block data
  uint32_t size;    // compressed
  uint32_t first;
  uint32_t last;
};

// Record k of section 6's index: entry block k (group number k).
struct EntryIndexRecord {
  uint32_t offset;  // from the start of the section's block data
  uint32_t compressedSize;
  uint16_t regionCode;
  const char* firstText;  // NUL-terminated, inside the file's copy of the index
  const char* lastText;
};

struct DictFile {
  FILE* file;  // opened "rb" by whoever reads the file; DictFile_Free does not close it
  int64_t fileSize;
  int64_t knownSize;  // the file's size where the opener knows it (else -1: it is asked)
  uint32_t sectionSizes[kDictSectionCount];
  uint8_t filtersRead;  // 1 once Dict_ReadFilters ran: the filters hold what it read
  uint8_t prefixFilter[kPrefixFilterMax];
  uint8_t suffixFilter[kSuffixFilterMax];
  uint8_t* regionTable;  // section 2 as read (heap)
  uint32_t regionTableLength;
  uint16_t regionCount;
  AreaCodeSets areaCodes;

  NumberIndexRecord* numberIndex;  // the sound records before the first damaged one (heap)
  uint32_t numberIndexCount;
  uint16_t numberIndexLength;  // L5
  uint32_t numberDataLength;   // D5
  // Where the walk of section 5's index stopped short: 0 it did not; 1 a record runs past the
  // index; 2 a record whose block does not fit, with its first number in numberCutFirst.
  uint8_t numberIndexCut;
  uint32_t numberCutFirst;

  uint8_t* entryIndexBytes;  // section 6's index as read (heap); the records point into it
  EntryIndexRecord* entryIndex;
  uint32_t entryIndexCount;
  uint16_t entryIndexLength;  // L6
  uint8_t entryIndexCut;      // 1 when the index was cut before a damaged (or 257th) record
  uint16_t entryIndexSound;   // bytes of the index before the cut

  // While Dict_ReadAll runs: file bytes read ahead in one go (windowLength bytes from file
  // offset windowStart), which the steps read from instead of the file.
  const uint8_t* window;
  uint64_t windowStart;
  uint32_t windowLength;

  // What each read step answered, once Dict_ReadAll ran them all (kNotFound before).
  Result headerResult;
  Result filtersResult;
  Result regionTableResult;
  Result areaCodesResult;
  Result numberIndexResult;
  Result entryIndexResult;
};

// A DictFile reading file (which it does not own), every table empty (the filters and area
// code sets count as unread until their steps fill them).
void DictFile_Init(DictFile* dict, FILE* file);
// Frees the tables; the record can be initialised again.
void DictFile_Free(DictFile* dict);

// The values of a 256-byte header: the two edition values, the seven section sizes.
void Dict_HeaderEditions(const uint8_t* header, uint32_t* edition1, uint32_t* edition2);
void Dict_HeaderSectionSizes(const uint8_t* header, uint32_t* sizes);

// File offset of section i (0..7; 7 is the end of section 6).
uint64_t Dict_SectionStart(const DictFile* dict, int i);
// Reads the 256-byte header into header and keeps the section sizes. kDamaged when the file is
// shorter than its header or its sections run past its end (every section then reads empty).
Result Dict_ReadHeader(DictFile* dict, uint8_t* header);
Result Dict_ReadFilters(DictFile* dict);
// 1 when the key's prefix and suffix bits are set, else 0.
int Dict_KeyMayOccur(const DictFile* dict, uint32_t key);
Result Dict_ReadRegionTable(DictFile* dict);
// Reads the values of sections 3 and 4 into the file's sets. When section 3 is damaged
// neither set gets a value; a damaged section 4 leaves the values of section 3.
Result Dict_ReadAreaCodeSets(DictFile* dict);
// The 6-byte head of section 5 or 6 (sectionSize bytes): index length and block data length.
// kOk, or kDamaged when the section is too short for its head or its index runs past the
// section (both lengths are then 0).
Result Dict_ParseSectionHead(const uint8_t* head, uint32_t sectionSize, uint16_t* indexLength,
                             uint32_t* dataLength);
// The index length a 6-byte head of section 5 or 6 claims, sound or not.
uint32_t Dict_SectionHeadIndexLength(const uint8_t* head);
// Reads and parses the head of section 5 or 6 of the file: kOk, or kDamaged when it cannot be
// read or does not parse.
Result Dict_ReadSectionHead(const DictFile* dict, int section, uint16_t* indexLength,
                            uint32_t* dataLength);
// Section 5's index as records, checked against the section: kDamaged when it was cut short.
// The cut is damage only to a walk that reaches it (Dict_SelectNumberBlocks notes it then).
Result Dict_ReadNumberIndex(DictFile* dict);
// Section 6's index as records: kDamaged when damage was met. The index is then cut before the
// first record that runs past the index, holds an over-long text, whose block is over the
// compressed limit or reaches past the section, or that would be the 257th.
Result Dict_ReadEntryIndex(DictFile* dict);

// Runs every read step above, in order, and keeps what each answered. Nothing is read after
// that but blocks, so the file need not stay open (blocks then come from Dict_LoadBlockFrom).
void Dict_ReadAll(DictFile* dict);
// Whether a step of Dict_ReadAll could not allocate its table.
bool Dict_OutOfMemory(const DictFile* dict);

// One record of section 5's index read from index: 1 with the record (its offset unset), 0
// at the end, -1 when it is cut off by the end of the index.
int Dict_NextNumberIndexRecord(ByteReader* index, NumberIndexRecord* out);

// The values of an area code section (3 or 4): a u16 count, then count u24 values.
struct AreaCodeList {
  ByteReader values;
  uint32_t count;  // as the section claims it (0 when the section is too short for it)
};
AreaCodeList AreaCodeList_Make(const uint8_t* section, uint32_t size);
// The next value: false past the end of the section.
bool AreaCodeList_Next(AreaCodeList* list, uint32_t* value);

// One record of section 6's index read from index: 1 with the record (its offset unset), 0 at
// the end, -1 when it runs past the index or holds a text over 83 bytes.
int Dict_NextEntryIndexRecord(ByteReader* index, EntryIndexRecord* out);

// The buffers one block is read and inflated into (about 210 KiB: on the heap).
struct DictBlockBuffer {
  uint8_t compressed[kCompressedBlockMax];
  uint8_t data[kDecompressedBlockMax];
  uint32_t length;  // bytes of data
};

// Reads block {offset, size} of section 5 or 6 and inflates it into buffer->data: kOk;
// kDamaged when the block lies outside its section, cannot be read or does not inflate (it is
// then skipped); kOutOfMemory when it could not be inflated for want of memory (what is read
// through the buffer is then incomplete, and a search must not report it).
Result Dict_LoadBlock(const DictFile* dict, int section, uint32_t offset, uint32_t size,
                      DictBlockBuffer* buffer);
// The same, reading from file (the file dict was read from, opened again).
Result Dict_LoadBlockFrom(const DictFile* dict, FILE* file, int section, uint32_t offset,
                          uint32_t size, DictBlockBuffer* buffer);

// Inflation of a zlib stream (libdeflate where the build has it, else zlib) from source into
// destination (capacity bytes): kOk with the length produced, kDamaged when the source does not
// inflate within the capacity, kOutOfMemory when the inflater got no memory.
Result UncompressBuffer(const uint8_t* source, uint32_t sourceLength, uint8_t* destination,
                     uint32_t capacity, uint32_t* lengthOut);

// Items of a number block: a delta of 1 to 4 bytes (the top two bits of its first byte give
// the extra bytes) and a group byte. 1 with the next item, 0 at the end of the block, -1 when
// the item is cut off by the end of the block.
struct NumberItemReader {
  const uint8_t* data;
  uint32_t length;
  uint32_t pos;
};
int NumberItem_Next(NumberItemReader* items, uint32_t* delta, uint8_t* group);

// The region table: a u16 count N, N records of 8 bytes, then the name area.
struct RegionTable {
  const uint8_t* data;
  uint32_t length;
  uint32_t count;
};
struct RegionRecord {
  uint32_t code;
  uint32_t name1Offset;  // into the name area
  uint32_t name2Offset;
};
// A table over data: -1 (and no records) when the records do not fit in it.
int RegionTable_Init(RegionTable* table, const uint8_t* data, uint32_t length);
RegionTable Dict_RegionTable(const DictFile* dict);
// Record i (< count).
RegionRecord RegionTable_Record(const RegionTable* table, uint32_t i);
// The name at offset in the name area, NUL-terminated within maxLength bytes: false when it
// is not there.
bool RegionTable_Name(const RegionTable* table, uint32_t offset, size_t maxLength,
                      const char** text, size_t* length);

#endif  // QOR3_DICT_DICT_FILE_H
