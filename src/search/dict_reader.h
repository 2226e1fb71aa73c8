// Reading one dictionary file: the SearchContext record, the filters and block indexes that
// pick the blocks that can hold what is wanted, zlib decompression and entry decoding.
//
// Every operation checks what it reads against the file and its buffers; where the file is
// damaged it returns -1 (through QOR_DAMAGED) and the caller stops reading that file, block
// or entry. Nothing is ever read or written outside a buffer. A table step that fails
// (header, filters, region table) leaves its table empty; a selection or collection step
// that fails (number blocks, groups, entry blocks) keeps what it read safely before the
// damage, so going on with the lists it left is harmless.
#ifndef QOR3_SEARCH_DICT_READER_H
#define QOR3_SEARCH_DICT_READER_H

#include <cstdint>
#include <cstdio>

#include "base/byte_reader.h"
#include "base/row_list.h"
#include "search/dict_format.h"

struct SelectedBlock {
  uint32_t offset;  // from the start of the section's block data
  uint32_t size;    // compressed size
};

// The state of reading one dictionary file (about 255 KiB: always on the heap).
struct SearchContext {
  uint32_t keyNumber;  // number search: the number wanted
  // Name-search criteria.
  uint16_t regionCode;
  char address1Key[101];
  char address2Key[101];
  uint16_t kindFilter;
  char namePattern[201];

  FILE* file;  // opened "rb" by the driver
  int64_t fileSize;  // set by Dict_ReadHeader
  uint16_t dictNumbers[200];
  uint16_t dictCount;
  DictEntry current;
  DictEntry previous;
  RowList resultRows;  // results; in the correction context: the additions list
  RowList secondRows;  // in the correction context: the deletions list

  uint8_t prefixFilter[kPrefixFilterMax];
  uint8_t suffixFilter[kSuffixFilterMax];
  uint8_t areaCodeSet[12500];          // 100000-bit set from section 3
  uint8_t extendedAreaCodeSet[12500];  // 100000-bit set from section 4
  uint8_t scratch[kDecompressedBlockMax];
  uint32_t scratchLength;
  SelectedBlock selected[kSelectedBlockMax];
  uint16_t selectedCount;
  uint16_t numberIndexLength;  // L5
  uint32_t numberDataLength;   // D5
  uint16_t entryIndexLength;   // L6
  uint16_t entryIndexSound;    // leading bytes of the index in the scratch holding sound records
  uint8_t regionTable[kRegionTableMax];
  uint32_t regionTableLength;  // bytes of the region table held
  uint16_t regionCount;
  uint16_t groups[256];
  uint16_t groupCount;
  uint32_t sectionSizes[kDictSectionCount];
  // Set when a block could not be decompressed for want of memory: what was read from this
  // context is then incomplete, and the search must not report it.
  uint8_t outOfMemory;

  // Correction merge state (correction context only).
  uint16_t additionsActive;
  uint16_t deletionsActive;
  DictEntry pendingAddition;
  DictEntry pendingDeletion;
  DictEntry output;
  uint8_t pendingAdditionValid;
};

// A SearchContext on the heap, zeroed with its row lists empty; null when out of memory.
SearchContext* SearchContext_New();
// Frees both row lists and the record (closes nothing: the driver owns the file).
void SearchContext_Free(SearchContext* context);

// File offset of section i (0..7; 7 is the end of section 6).
uint64_t Dict_SectionStart(const SearchContext* context, int i);

// Reads the 256-byte header at the start of the file into header and keeps the section
// sizes. -1 when the file is shorter than its header or its sections run past its end.
int Dict_ReadHeader(SearchContext* context, uint8_t* header);
int Dict_ReadFilters(SearchContext* context);
// 1 when the key's prefix and suffix bits are set, else 0.
int Dict_KeyMayOccur(const SearchContext* context);
int Dict_ReadRegionTable(SearchContext* context);
void Dict_ClearAreaCodeSets(SearchContext* context);
// Adds the values of sections 3 and 4 to the two sets (bits are only ever set).
int Dict_ReadAreaCodeSets(SearchContext* context);
// Selected blocks from section 5: records with first <= key <= last, up to the first
// record whose first number exceeds the key.
int Dict_SelectNumberBlocks(SearchContext* context);
// Group numbers of every item equal to the key in the selected number blocks.
int Dict_CollectGroups(SearchContext* context);
// Selected blocks from section 6: each entry block whose position is in the group list,
// once, in index order.
int Dict_SelectEntryBlocks(SearchContext* context);

// Section 6's index: reads its 6-byte head and L6 bytes of records into the scratch and
// checks them. -1 when damage was met: the index is then cut before the first damaged
// record (or the 257th), and Dict_EntryIndex walks only the records before the cut.
int Dict_ReadEntryIndex(SearchContext* context);
struct EntryIndexRecord {
  uint32_t compressedSize;
  uint16_t regionCode;
  const char* firstText;  // NUL-terminated, inside the scratch
  const char* lastText;
};
// Walks the index records held in the scratch: 1 with the next record, 0 at the end, -1
// when a record runs past the index or holds an over-long text.
int Dict_NextEntryIndexRecord(ByteReader* index, EntryIndexRecord* out);
// A reader over the sound records of the index last read by Dict_ReadEntryIndex, for
// Dict_NextEntryIndexRecord; record k of the walk is entry block (group number) k.
ByteReader Dict_EntryIndex(const SearchContext* context);
// Appends a group number (an entry block position) to the group list: 0, or -1 when the
// list already holds 256 (the number is dropped).
int Dict_AppendGroup(SearchContext* context, uint32_t group);

void DictEntry_Reset(DictEntry* entry);
// Decodes the entry at *position of block (length bytes) against the previous entry.
// Returns 0 and advances *position; -1 at the end of the block or when the entry is damaged
// (the entry is then not taken and the rest of the block is given up).
// variant 1: dictionary; variant 2: correction file (reads the correction word).
int DictEntry_Decode(SearchContext* context, const uint8_t* block, uint32_t length,
                     uint32_t* position, int variant);
void Dict_LookupRegion(SearchContext* context);
// zlib decompression into destination (capacity bytes): 0 with the length produced, or -1
// when the source does not decompress within the capacity or zlib gets no memory (the last
// is told apart by UncompressBuffer_OutOfMemory until the next call).
int UncompressBuffer(const uint8_t* source, uint32_t sourceLength, uint8_t* destination,
                     uint32_t capacity, uint32_t* lengthOut);
bool UncompressBuffer_OutOfMemory();

// The common loop: for each selected entry block, read it into blockBuffer (at least
// kCompressedBlockMax bytes), decompress into the scratch and decode its entries, calling
// handler after each one with the decoded entry in context->current. A block that cannot
// be read or decompressed is skipped. handler returns 0 to go on, non-zero to stop.
// Returns -1 when a block was skipped or cut short by a damaged entry, else 0.
typedef int (*DictEntryHandler)(SearchContext* context, void* user);
int Dict_ReadEntryBlocks(SearchContext* context, uint8_t* blockBuffer, int variant,
                         DictEntryHandler handler, void* user);

#endif  // QOR3_SEARCH_DICT_READER_H
