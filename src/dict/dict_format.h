// The dictionary file format (qorNNNN.dct, and the correction file qor5001.dct): layout
// constants, limits, and the decoded entry record shared by the reader and the
// builder.
//
// A file is a 256-byte header and seven sections back to back: 0 prefix filter, 1 suffix
// filter, 2 region table, 3 area code set, 4 extended area code set, 5 number index and
// number blocks, 6 entry index and entry blocks. Integers are unsigned big-endian.
#ifndef QOR3_DICT_DICT_FORMAT_H
#define QOR3_DICT_DICT_FORMAT_H

#include <cstddef>
#include <cstdint>

#include "base/cp932.h"

constexpr uint32_t kDictHeaderSize = 256;
constexpr uint32_t kDictEdition1Offset = 4;
constexpr uint32_t kDictEdition2Offset = 8;
constexpr uint32_t kDictSectionSizesOffset = 35;  // S0..S6, u32 each, unaligned
constexpr int kDictSectionCount = 7;

constexpr uint32_t kSectionHeadSize = 6;  // sections 5 and 6: u16 index length, u32 data length
constexpr uint32_t kRegionRecordSize = 8;  // u16 code, u16 unused, u16 name offsets 1 and 2
constexpr uint32_t kAreaCodeValueSize = 3;

constexpr uint32_t kCorrectionDictNumber = 5001;
constexpr uint32_t kCatalogDictNumber = 9999;

// Section limits a search reads within.
constexpr uint32_t kPrefixFilterMax = 125;      // S0: prefixes 0..999
constexpr uint32_t kSuffixFilterMax = 12500;    // S1: v mod 100000
constexpr uint32_t kRegionTableMax = 65002;     // S2 as the reader holds it
constexpr uint32_t kRegionTableFileMax = 64000; // S2 as files are written and summarised
constexpr uint32_t kAreaCodeSectionMax = 150000;  // S3, S4
constexpr uint32_t kAreaCodeValueLimit = 100000;  // values of sections 3 and 4
constexpr uint32_t kBlockIndexMax = 150000;       // L5, L6 (stored as u16, so 65535)
constexpr uint32_t kCompressedBlockMax = 65000;
constexpr uint32_t kDecompressedBlockMax = 150000;
constexpr uint32_t kEntryBlockMax = 256;          // addressable entry blocks (group numbers)
constexpr uint32_t kSelectedBlockMax = 256;
constexpr uint32_t kIndexTextMax = 83;            // address texts in entry index records
constexpr uint32_t kNumberIndexRecordSize = 10;   // u16 size, u32 first, u32 last

// Entry coding: flag bits of an entry's first byte.
constexpr uint8_t kFlagSameAddress2 = 0x01;
constexpr uint8_t kFlagSameAddress1 = 0x02;
constexpr uint8_t kFlagSameRegion = 0x04;
constexpr uint8_t kFlagSamePostal = 0x08;
constexpr uint8_t kFlagSharedName = 0x10;  // kind 2 name sharing leading characters
constexpr uint8_t kShortNumberBit = 0x40;  // number coded as its last four digits

// The correction word (u16, correction file only). Bit 11 set marks an entry to add, clear
// one to remove. Bit 12 clear: the version is bits 0..10 (0..2047), as in every file written
// while versions ended at 2047. Bit 12 set: bits 0..10 count months from January 2021 and the
// version is that month as YYMM (2101..9912), the form of the edition stamps it is compared
// with. Bits 13..15 stay clear: the word's first byte must be below 0x20, which ends the text
// of address 2 before it.
constexpr uint16_t kCorrectionAddBit = 0x0800;
constexpr uint16_t kCorrectionMonthBit = 0x1000;
constexpr uint32_t kCorrectionPlainVersionMax = 2047;
constexpr uint32_t kCorrectionMonthCount = (99 - 21 + 1) * 12;  // January 2021 to December 2099

// The version a word holds, or -1 when no correction file holds such a word.
constexpr int32_t CorrectionWord_Version(uint32_t word) {
  const uint32_t low = word & 0x07FF;
  if ((word & 0xE000) != 0) return -1;
  if ((word & kCorrectionMonthBit) == 0) return static_cast<int32_t>(low);
  if (low >= kCorrectionMonthCount) return -1;
  return static_cast<int32_t>((21 + low / 12) * 100 + low % 12 + 1);
}

// The word for a version of 0..9999. A version above 2047 that is not a YYMM is stored as the
// last YYMM before it, which applies to the same editions (CorrectionWord_Version tells which).
constexpr uint16_t CorrectionWord_Make(bool add, uint32_t version) {
  const uint16_t kind = add ? kCorrectionAddBit : 0;
  if (version <= kCorrectionPlainVersionMax) return static_cast<uint16_t>(kind | version);
  if (version > 9999) version = 9999;
  uint32_t year = version / 100, month = version % 100;
  if (month == 0) {
    --year;
    month = 12;
  } else if (month > 12) {
    month = 12;
  }
  if (year * 100 + month <= kCorrectionPlainVersionMax) {
    return static_cast<uint16_t>(kind | (year * 100 + month));
  }
  return static_cast<uint16_t>(kind | kCorrectionMonthBit | ((year - 21) * 12 + month - 1));
}

// Field limits of a decoded entry (bytes, without the NUL).
constexpr uint32_t kNameMax = 400;
constexpr uint32_t kAddressMax = 200;
constexpr uint32_t kRegionName1Max = 10;
constexpr uint32_t kRegionName2Max = 40;
constexpr uint32_t kNumberMax = (1u << 30) - 1;  // long-form numbers stay below 2^30

// The decoded form of one entry.
struct DictEntry {
  char regionCodeText[6];
  uint16_t regionCode;
  char kindText[2];
  uint16_t kind;
  char numberText[21];
  uint32_t number;
  uint32_t numberHigh;  // number div 10000 of the latest long-form number in the block
  uint16_t lastFour;    // last four digits of the latest short-form number
  char postalText[11];
  uint32_t postal;
  char name[kNameMax + 1];
  char regionName1[kRegionName1Max + 1];
  char regionName2[kRegionName2Max + 1];
  char address1[kAddressMax + 1];
  char address2[kAddressMax + 1];
  uint16_t correctionKind;        // 1 add, 2 remove (correction file only)
  char correctionVersionText[5];  // decimal, no leading zeros (correction file only)
};

// Decoder variants: a dictionary, or the correction file (whose entries end in a correction word).
constexpr int kDecodeDictionary = 1;
constexpr int kDecodeCorrection = 2;

// Correction kinds of DictEntry::correctionKind.
constexpr uint16_t kCorrectionAdd = 1;
constexpr uint16_t kCorrectionRemove = 2;

// Prefix number of an entry number or key: the three digits after the leading zero.
constexpr uint32_t NumberPrefix(uint32_t v) { return v < 100000000 ? v / 100000 : v / 1000000; }

// The length of text (length bytes, code page 932) as an index record of section 6 holds it:
// at most kIndexTextMax bytes, never ending inside a double-byte character.
constexpr size_t Dict_IndexTextLength(const char* text, size_t length) {
  size_t i = 0;
  while (i < length) {
    const size_t next = i + (IsLeadByte(static_cast<uint8_t>(text[i])) ? 2 : 1);
    if (next > kIndexTextMax) break;
    i = next;
  }
  return i;
}

#endif  // QOR3_DICT_DICT_FORMAT_H
