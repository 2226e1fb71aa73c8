// Blocks decoded into the compact form the searches scan and the engine cache keeps.
//
// A number block becomes its items' running numbers (ascending) and group numbers, so the
// items equal to a key are found by binary search. An entry block becomes one small record per
// entry and one area of NUL-terminated texts; an address text repeated from the entry before
// is stored once. The number, postal, region and kind texts of a DictEntry are not stored:
// DecodedEntry_Materialize rebuilds them, byte for byte as the decoder writes them.
#ifndef QOR3_DICT_DECODED_BLOCK_H
#define QOR3_DICT_DECODED_BLOCK_H

#include <cstddef>
#include <cstdint>

#include "dict/dict_entry.h"
#include "dict/dict_file.h"

struct DecodedNumberBlock {
  const uint32_t* numbers;  // running sums of the deltas, saturated at 0xFFFFFFFF
  const uint8_t* groups;
  uint32_t count;
  uint8_t failed;  // the block could not be read or inflated: it gives no group number
  uint8_t cut;     // an item was cut off by the end of the block: the items before it stand
};

// The bytes DecodedNumberBlock_Build needs for an inflated number block of length bytes (an
// item takes at least two).
inline size_t DecodedNumberBlock_Bytes(uint32_t length) {
  return (size_t{length} / 2 + 1) * (sizeof(uint32_t) + 1);
}
// Decodes the items into storage (DecodedNumberBlock_Bytes bytes, aligned for uint32_t).
void DecodedNumberBlock_Build(const uint8_t* data, uint32_t length, void* storage,
                              DecodedNumberBlock* out);
// The items equal to key: [*first, *end).
void DecodedNumberBlock_Find(const DecodedNumberBlock* block, uint32_t key, uint32_t* first,
                             uint32_t* end);

// 24 bytes: a million entries with their texts fit in the cache's budget.
struct DecodedEntry {
  uint32_t number;
  uint32_t name;  // offsets into the block's texts
  uint32_t address1;
  uint32_t address2;
  uint32_t postal : 24;  // postal numbers are u24 in the format
  uint32_t kind : 8;
  uint16_t regionCode;
  // Correction file: kCorrectionAdd or kCorrectionRemove (2 bits) and the version (below
  // 10000); else 0.
  uint16_t correctionKind : 2;
  uint16_t correctionVersion : 14;
};
static_assert(sizeof(DecodedEntry) == 24);

struct DecodedEntryBlock {
  const DecodedEntry* entries;
  const char* texts;
  uint32_t count;
  uint32_t textBytes;
  uint8_t failed;   // the block could not be read or inflated: no entries
  uint8_t cut;      // a damaged entry ended the decoding: the entries before it stand
  uint8_t variant;  // kDecodeDictionary or kDecodeCorrection
};

// What a search filters entries on, pointing into a decoded block.
struct EntryView {
  uint32_t number;
  uint16_t regionCode;
  uint16_t kind;
  const char* name;
  const char* address1;
  const char* address2;
};

inline EntryView DecodedEntry_View(const DecodedEntryBlock* block, uint32_t i) {
  const DecodedEntry& e = block->entries[i];
  return EntryView{e.number, e.regionCode, static_cast<uint16_t>(e.kind), block->texts + e.name,
                   block->texts + e.address1, block->texts + e.address2};
}

// Writes entry i of block into out as the decoder decoded it. The region names are looked up
// in regions unless namesKnown says out already holds those of the entry's region code.
void DecodedEntry_Materialize(const DecodedEntryBlock* block, uint32_t i,
                              const RegionTable* regions, bool namesKnown, DictEntry* out);

// Growable arrays an entry block is decoded into; they keep their storage from block to block.
struct DecodedEntryBuilder {
  DecodedEntry* entries;
  uint32_t count;
  uint32_t capacity;
  char* texts;
  uint32_t textBytes;
  uint32_t textCapacity;
};
void DecodedEntryBuilder_Init(DecodedEntryBuilder* builder);
void DecodedEntryBuilder_Free(DecodedEntryBuilder* builder);
// Decodes every entry of an inflated block (data, length bytes) with decoder into the builder,
// which is emptied first; *out points into the builder. -1 when memory ran out (nothing may
// then be reported), else 0.
int DecodedEntryBuilder_Decode(DecodedEntryBuilder* builder, DictDecoder* decoder,
                               const RegionTable* regions, const uint8_t* data,
                               uint32_t length, int variant, DecodedEntryBlock* out);
// The same, keeping only the entries of number key (in block order): what a number search
// wants of a block it does not keep, without storing the texts of the others.
int DecodedEntryBuilder_DecodeNumber(DecodedEntryBuilder* builder, DictDecoder* decoder,
                                     const RegionTable* regions, const uint8_t* data,
                                     uint32_t length, int variant, uint32_t key,
                                     DecodedEntryBlock* out);
// Bytes a copy of block takes, and the copy made into storage (that many bytes, aligned for
// uint32_t).
size_t DecodedEntryBlock_Bytes(const DecodedEntryBlock* block);
void DecodedEntryBlock_CopyTo(const DecodedEntryBlock* block, void* storage,
                              DecodedEntryBlock* out);

#endif  // QOR3_DICT_DECODED_BLOCK_H
