// Decoding the entries of an inflated entry block. Each entry is coded against the one before
// it in the block, so the decoder keeps the last decoded entry; it decodes into a second slot
// and swaps, so a damaged entry changes neither the last entry nor anything handed out.
#ifndef QOR3_DICT_DICT_ENTRY_H
#define QOR3_DICT_DICT_ENTRY_H

#include <cstdint>

#include "dict/dict_file.h"

// Empties every text, sets region code, kind and last four digits to 0xFFFF and number,
// number div 10000 and postal number to 0xFFFFFFFF; the correction fields stay as they are.
void DictEntry_Reset(DictEntry* entry);

// How an entry was coded: its flags byte, and the lengths of its texts.
struct EntryShape {
  uint8_t flags;
  uint32_t nameLength;
  uint32_t address1Length;
  uint32_t address2Length;
  uint16_t correctionVersion;  // correction file
  // Decoding numbers only: the surname table entry the name starts with, not yet copied into
  // it (its bytes are left as they were); -1 when the name is whole.
  int32_t pendingSurname = -1;
};

struct DictDecoder {
  DictEntry slots[2];
  DictEntry* entry;  // the entry last decoded: the previous entry of the next decode
  DictEntry* spare;
  EntryShape shape;  // entry's
  // Set: the number, postal, region code and kind texts, the region names and the correction
  // version text are left as they are (whoever keeps the numbers rebuilds them).
  bool numbersOnly;
};

// Completes the name of the entry last decoded where decoding numbers only left its surname
// out: whoever keeps an entry calls it first.
void DictDecoder_CompleteName(DictDecoder* decoder);
// Points the decoder at its slots and resets the last entry, as at the start of a block.
void DictDecoder_Init(DictDecoder* decoder);
// Starts a block: the next entry is coded against an empty entry.
void DictDecoder_StartBlock(DictDecoder* decoder);

// Decodes the entry at *position of block (length bytes) against decoder->entry, looking its
// region names up in regions. Returns 0 with decoder->entry the new entry and *position past
// it; -1 at the end of the block or when the entry is damaged (nothing changes then, and the
// rest of the block is to be given up). variant: kDecodeDictionary or kDecodeCorrection (the
// correction file's entries end in the correction word).
int DictEntry_Decode(DictDecoder* decoder, const RegionTable* regions, const uint8_t* block,
                     uint32_t length, uint32_t* position, int variant);

// Region names 1 and 2 of code from the region table; empty when the table has no record for
// the code or the record's names cannot be read.
void Dict_LookupRegion(const RegionTable* regions, DictEntry* entry);

// The correction word decoded: add or remove, and the version (CorrectionWord_Version).
struct CorrectionWord {
  uint16_t kind;  // kCorrectionAdd or kCorrectionRemove
  uint32_t version;
};
// -1 when no correction file holds such a word.
int CorrectionWord_Decode(uint32_t word, CorrectionWord* out);

#endif  // QOR3_DICT_DICT_ENTRY_H
