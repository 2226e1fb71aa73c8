// Decoding the entries of an inflated entry block, field by field in the order of the format.
#include "dict/dict_entry.h"

#include <algorithm>
#include <cstring>

#include "base/byte_reader.h"
#include "base/damage.h"
#include "base/num_text.h"
#include "dict/surname_table.h"

namespace {

template <size_t N>
void SetText(char (&dst)[N], const char* src, size_t n) {
  if (n > N - 1) n = N - 1;
  std::memcpy(dst, src, n);
  dst[n] = '\0';
}
template <size_t N>
void SetText(char (&dst)[N], const char* src) {
  SetText(dst, src, std::strlen(src));
}

// Appends a run of double-byte characters (taken while the next byte has its top bit set) to
// text, which holds *length bytes and has room for max bytes and a NUL.
int ReadRun(ByteReader* r, char* text, uint32_t* length, uint32_t max) {
  const uint8_t* run = r->data + r->pos;
  const size_t left = ByteReader_Left(r);
  size_t n = 0;
  while (n < left && (run[n] & 0x80) != 0) {
    // A run that ends in half a character at the end of the block damages the entry.
    QOR_CHECK(n + 2 <= left);
    n += 2;
  }
  // So does a run that would make the text longer than its field.
  QOR_CHECK(*length + n <= max);
  std::memcpy(text + *length, run, n);
  *length += static_cast<uint32_t>(n);
  text[*length] = '\0';
  ByteReader_Skip(r, n);
  return 0;
}

// Decodes the entry at r into e, coded against p (of shape ps): every field the entry does not
// code takes p's value. *shape receives e's.
int DecodeInto(const DictEntry& p, const EntryShape& ps, const RegionTable* regions,
               ByteReader* r, DictEntry* e, int variant, bool numbersOnly, EntryShape* shape) {
  const bool texts = !numbersOnly;
  shape->pendingSurname = -1;
  uint8_t flags = 0;
  QOR_CHECK(ByteReader_U8(r, &flags));
  shape->flags = flags;
  // Flags use the five low bits only; a higher bit means the decoder has lost its place.
  QOR_CHECK((flags & 0xE0) == 0);
  // The first entry of a block copies no field from the (empty) previous entry; it may still
  // carry the kind-2 name bit, with a shared count of 0 (checked with the name).
  constexpr uint8_t kSameBits =
      kFlagSameAddress2 | kFlagSameAddress1 | kFlagSameRegion | kFlagSamePostal;
  QOR_CHECK(p.number != 0xFFFFFFFFu || (flags & kSameBits) == 0);

  if ((flags & kFlagSamePostal) == 0) {
    uint32_t n = 0;
    QOR_CHECK(ByteReader_U24(r, &n));
    e->postal = n;
    if (texts) {
      char text[12];
      std::memcpy(text, NumText(n / 10000, 3), 3);
      text[3] = '-';
      std::memcpy(text + 4, NumText(n % 10000, 4), 5);
      SetText(e->postalText, text);
    }
  } else {
    e->postal = p.postal;
    if (texts) SetText(e->postalText, p.postalText);
  }

  if ((flags & kFlagSameRegion) == 0) {
    uint32_t code = 0;
    QOR_CHECK(ByteReader_U16(r, &code));
    e->regionCode = static_cast<uint16_t>(code);
    if (texts) {
      SetText(e->regionCodeText, NumText(code, 5));
      Dict_LookupRegion(regions, e);
    }
  } else {
    e->regionCode = p.regionCode;
    if (texts) {
      SetText(e->regionCodeText, p.regionCodeText);
      SetText(e->regionName1, p.regionName1);
      SetText(e->regionName2, p.regionName2);
    }
  }

  if ((flags & kFlagSameAddress1) == 0) {
    uint32_t length = 0;
    if (ReadRun(r, e->address1, &length, kAddressMax) != 0) return -1;
    shape->address1Length = length;
  } else {
    std::memcpy(e->address1, p.address1, ps.address1Length + 1);
    shape->address1Length = ps.address1Length;
  }

  uint8_t first = 0;
  QOR_CHECK(ByteReader_Peek(r, &first));
  // The byte after a run is below 0x80; a number starting at 0x80 or above is damage.
  QOR_CHECK((first & 0x80) == 0);
  e->numberHigh = p.numberHigh;
  e->lastFour = p.lastFour;
  if ((first & kShortNumberBit) != 0) {
    uint32_t word = 0;
    QOR_CHECK(ByteReader_U16(r, &word));
    uint32_t digits = word & 0x3FFF;
    // Last four digits above 9999, or a short form with no long-form number before it in the
    // block, damage the entry.
    QOR_CHECK(digits <= 9999);
    QOR_CHECK(e->numberHigh != 0xFFFFFFFFu);
    e->lastFour = static_cast<uint16_t>(digits);
    e->number = e->numberHigh * 10000 + digits;
  } else {
    uint32_t number = 0;
    QOR_CHECK(ByteReader_U32(r, &number));
    e->number = number;
    e->numberHigh = number / 10000;
  }
  if (texts) SetText(e->numberText, NumText(e->number, e->number >= 100000000 ? 10 : 9));

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
    QOR_CHECK(2 * k <= ps.nameLength);
    nameLength = 2 * k;
    // The previous name's surname where it was left out, then the rest of it.
    uint32_t taken = 0;
    if (ps.pendingSurname >= 0) {
      const uint32_t surname = static_cast<uint32_t>(ps.pendingSurname);
      taken = std::min(nameLength, SurnameTable_Length(surname));
      std::memcpy(e->name, SurnameTable_Get(surname), taken);
    }
    std::memcpy(e->name + taken, p.name + taken, nameLength - taken);
    e->kind = 2;
  } else {
    if (haveNext && next < 0x80) {
      uint32_t index = 0;
      QOR_CHECK(ByteReader_U16(r, &index));
      const char* surname = SurnameTable_Get(index);
      // A surname index outside the table damages the entry.
      QOR_CHECK(surname != nullptr);
      nameLength = SurnameTable_Length(index);
      QOR_CHECK(nameLength <= kNameMax);
      // Most entries decoded for their numbers are passed over: their surnames are copied
      // only when kept or shared (DictDecoder_CompleteName, the kind-2 branch above).
      if (numbersOnly) {
        shape->pendingSurname = static_cast<int32_t>(index);
      } else {
        std::memcpy(e->name, surname, nameLength);
      }
    }
    e->kind = 1;
  }
  if (ReadRun(r, e->name, &nameLength, kNameMax) != 0) return -1;
  shape->nameLength = nameLength;
  if (texts) SetText(e->kindText, e->kind == 1 ? "1" : "2");

  if ((flags & kFlagSameAddress2) == 0) {
    uint8_t k = 0;
    QOR_CHECK(ByteReader_U8(r, &k));
    // The shared bytes must exist in the previous address text 2. (A count of 0x80 or more
    // cannot reach here: the name's run before it takes every such byte.)
    QOR_CHECK(k <= ps.address2Length);
    std::memcpy(e->address2, p.address2, k);
    // The tail: the bytes from 0x20 on up to the next one below.
    const uint8_t* tail = r->data + r->pos;
    const size_t left = ByteReader_Left(r);
    size_t n = 0;
    while (n < left && tail[n] >= 0x20) ++n;
    // A tail that would make address text 2 longer than 200 bytes damages the entry.
    QOR_CHECK(k + n <= kAddressMax);
    std::memcpy(e->address2 + k, tail, n);
    ByteReader_Skip(r, n);
    const uint32_t length = static_cast<uint32_t>(k + n);
    e->address2[length] = '\0';
    shape->address2Length = length;
  } else {
    std::memcpy(e->address2, p.address2, ps.address2Length + 1);
    shape->address2Length = ps.address2Length;
  }

  if (variant == kDecodeCorrection) {
    uint32_t word = 0;
    QOR_CHECK(ByteReader_U16(r, &word));
    CorrectionWord correction{};
    if (CorrectionWord_Decode(word, &correction) != 0) return -1;
    e->correctionKind = correction.kind;
    shape->correctionVersion = static_cast<uint16_t>(correction.version);
    char digits[5];
    int n = 0;
    do {
      digits[n++] = static_cast<char>('0' + correction.version % 10);
      correction.version /= 10;
    } while (correction.version != 0 && n < 5);
    for (int i = 0; i < n; ++i) e->correctionVersionText[i] = digits[n - 1 - i];
    e->correctionVersionText[n] = '\0';
  } else {
    e->correctionKind = p.correctionKind;
    shape->correctionVersion = ps.correctionVersion;
    if (texts) SetText(e->correctionVersionText, p.correctionVersionText);
  }
  return 0;
}

}  // namespace

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

void DictDecoder_Init(DictDecoder* decoder) {
  std::memset(decoder->slots, 0, sizeof decoder->slots);
  decoder->entry = &decoder->slots[0];
  decoder->spare = &decoder->slots[1];
  decoder->numbersOnly = false;
  DictDecoder_StartBlock(decoder);
}

void DictDecoder_CompleteName(DictDecoder* decoder) {
  const int32_t surname = decoder->shape.pendingSurname;
  if (surname < 0) return;
  std::memcpy(decoder->entry->name, SurnameTable_Get(static_cast<uint32_t>(surname)),
              SurnameTable_Length(static_cast<uint32_t>(surname)));
  decoder->shape.pendingSurname = -1;
}

void DictDecoder_StartBlock(DictDecoder* decoder) {
  DictEntry_Reset(decoder->entry);
  decoder->shape = EntryShape{};
}

int DictEntry_Decode(DictDecoder* decoder, const RegionTable* regions, const uint8_t* block,
                     uint32_t length, uint32_t* position, int variant) {
  if (*position >= length) return -1;
  ByteReader r = ByteReader_Make(block, length);
  r.pos = *position;
  EntryShape shape;
  if (DecodeInto(*decoder->entry, decoder->shape, regions, &r, decoder->spare, variant,
                 decoder->numbersOnly, &shape) != 0) {
    return -1;
  }
  decoder->shape = shape;
  DictEntry* decoded = decoder->spare;
  decoder->spare = decoder->entry;
  decoder->entry = decoded;
  *position = static_cast<uint32_t>(r.pos);
  return 0;
}

void Dict_LookupRegion(const RegionTable* regions, DictEntry* entry) {
  entry->regionName1[0] = '\0';
  entry->regionName2[0] = '\0';
  for (uint32_t i = 0; i < regions->count; ++i) {
    const RegionRecord record = RegionTable_Record(regions, i);
    if (record.code != entry->regionCode) continue;
    const char* text1 = nullptr;
    const char* text2 = nullptr;
    size_t length1 = 0, length2 = 0;
    // A matching record whose name lies outside the name area, has no NUL within it or is
    // longer than the entry's field (10 and 40 bytes) gives no names, as a missing code does.
    if (!RegionTable_Name(regions, record.name1Offset, kRegionName1Max, &text1, &length1) ||
        !RegionTable_Name(regions, record.name2Offset, kRegionName2Max, &text2, &length2)) {
      QOR_DAMAGED();
      return;
    }
    SetText(entry->regionName1, text1, length1);
    SetText(entry->regionName2, text2, length2);
    return;
  }
}

int CorrectionWord_Decode(uint32_t word, CorrectionWord* out) {
  // Bits 13 to 15 set, or a month past December 2099: no correction file holds such a word.
  const int32_t version = CorrectionWord_Version(word);
  QOR_CHECK(version >= 0);
  out->kind = (word & kCorrectionAddBit) != 0 ? kCorrectionAdd : kCorrectionRemove;
  out->version = static_cast<uint32_t>(version);
  return 0;
}
