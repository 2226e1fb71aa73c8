// Blocks decoded into their compact form, and entries rebuilt from it.
#include "dict/decoded_block.h"

#include <algorithm>
#include <cstring>

#include "base/mem.h"
#include "base/num_text.h"

namespace {

// Walks the items of a number block, storing them.
uint32_t WalkItems(const uint8_t* data, uint32_t length, uint32_t* numbers, uint8_t* groups,
                   uint8_t* cut) {
  NumberItemReader items{data, length, 0};
  uint64_t sum = 0;
  uint32_t delta = 0;
  uint8_t group = 0;
  uint32_t count = 0;
  int more;
  while ((more = NumberItem_Next(&items, &delta, &group)) == 1) {
    sum += delta;
    // Keys stay below 2^30, so a saturated sum still equals none of them.
    numbers[count] = sum > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(sum);
    groups[count] = group;
    ++count;
  }
  *cut = more < 0;
  return count;
}

// Appends text (length bytes and its NUL) to the builder's text area: its offset, or -1 when
// memory ran out.
int64_t AppendText(DecodedEntryBuilder* b, const char* text, uint32_t length) {
  const size_t n = size_t{length} + 1;
  if (!Mem_Reserve(&b->texts, &b->textCapacity, uint64_t{b->textBytes} + n)) return -1;
  std::memcpy(b->texts + b->textBytes, text, n);
  const uint32_t at = b->textBytes;
  b->textBytes += static_cast<uint32_t>(n);
  return at;
}

template <size_t N>
void CopyText(char (&dst)[N], const char* src) {
  size_t n = std::strlen(src);
  if (n > N - 1) n = N - 1;
  std::memcpy(dst, src, n);
  dst[n] = '\0';
}

// Decodes a block's entries into the builder, every one or (key >= 0) those of number key
// only (see DecodedEntryBuilder_Decode).
int DecodeEntries(DecodedEntryBuilder* b, DictDecoder* decoder, const RegionTable* regions,
                  const uint8_t* data, uint32_t length, int variant, int64_t key,
                  DecodedEntryBlock* out) {
  uint32_t position = 0;
  int64_t address1 = -1, address2 = -1;
  while (DictEntry_Decode(decoder, regions, data, length, &position, variant) == 0) {
    const DictEntry* d = decoder->entry;
    const EntryShape& shape = decoder->shape;
    if (key >= 0 && d->number != key) {
      // The next entry kept stores its own address texts.
      address1 = address2 = -1;
      continue;
    }
    if (!Mem_Reserve(&b->entries, &b->capacity, uint64_t{b->count} + 1)) return -1;
    DictDecoder_CompleteName(decoder);
    const int64_t name = AppendText(b, d->name, shape.nameLength);
    // An address text the entry repeats from the one before is stored once.
    if (address1 < 0 || (shape.flags & kFlagSameAddress1) == 0) {
      address1 = AppendText(b, d->address1, shape.address1Length);
    }
    if (address2 < 0 || (shape.flags & kFlagSameAddress2) == 0) {
      address2 = AppendText(b, d->address2, shape.address2Length);
    }
    if (name < 0 || address1 < 0 || address2 < 0) return -1;
    DecodedEntry& e = b->entries[b->count++];
    e.number = d->number;
    e.postal = d->postal & 0xFFFFFF;
    e.name = static_cast<uint32_t>(name);
    e.address1 = static_cast<uint32_t>(address1);
    e.address2 = static_cast<uint32_t>(address2);
    e.regionCode = d->regionCode;
    e.kind = static_cast<uint8_t>(d->kind);
    e.correctionKind = 0;
    e.correctionVersion = 0;
    if (variant == kDecodeCorrection) {
      e.correctionKind = static_cast<uint16_t>(d->correctionKind & 3);
      e.correctionVersion = static_cast<uint16_t>(shape.correctionVersion & 0x3FFF);
    }
  }
  *out = DecodedEntryBlock{b->entries, b->texts, b->count, b->textBytes, 0,
                           static_cast<uint8_t>(position < length),
                           static_cast<uint8_t>(variant)};
  return 0;
}

// Empties the builder and decodes the block into it (see DecodeEntries).
int DecodeBlock(DecodedEntryBuilder* b, DictDecoder* decoder, const RegionTable* regions,
                const uint8_t* data, uint32_t length, int variant, int64_t key,
                DecodedEntryBlock* out) {
  b->count = 0;
  b->textBytes = 0;
  DictDecoder_StartBlock(decoder);
  // The compact form keeps numbers: the texts made of them are rebuilt when an entry is.
  decoder->numbersOnly = true;
  const int result = DecodeEntries(b, decoder, regions, data, length, variant, key, out);
  decoder->numbersOnly = false;
  return result;
}

}  // namespace

void DecodedNumberBlock_Build(const uint8_t* data, uint32_t length, void* storage,
                              DecodedNumberBlock* out) {
  auto* numbers = static_cast<uint32_t*>(storage);
  auto* groups = reinterpret_cast<uint8_t*>(numbers + (length / 2 + 1));
  *out = DecodedNumberBlock{numbers, groups, 0, 0, 0};
  out->count = WalkItems(data, length, numbers, groups, &out->cut);
}

void DecodedNumberBlock_Find(const DecodedNumberBlock* block, uint32_t key, uint32_t* first,
                             uint32_t* end) {
  const uint32_t* begin = block->numbers;
  const auto range = std::equal_range(begin, begin + block->count, key);
  *first = static_cast<uint32_t>(range.first - begin);
  *end = static_cast<uint32_t>(range.second - begin);
}

void DecodedEntry_Materialize(const DecodedEntryBlock* block, uint32_t i,
                              const RegionTable* regions, bool namesKnown, DictEntry* out) {
  const DecodedEntry& e = block->entries[i];
  if (!namesKnown || out->regionCode != e.regionCode) {
    out->regionCode = e.regionCode;
    Dict_LookupRegion(regions, out);
  }
  std::memcpy(out->regionCodeText, NumText(e.regionCode, 5), 6);
  out->kind = e.kind;
  out->kindText[0] = e.kind == 1 ? '1' : '2';
  out->kindText[1] = '\0';
  out->number = e.number;
  out->numberHigh = e.number / 10000;
  out->lastFour = static_cast<uint16_t>(e.number % 10000);
  CopyText(out->numberText, NumText(e.number, e.number >= 100000000 ? 10 : 9));
  out->postal = e.postal;
  std::memcpy(out->postalText, NumText(e.postal / 10000, 3), 3);
  out->postalText[3] = '-';
  std::memcpy(out->postalText + 4, NumText(e.postal % 10000, 4), 5);
  CopyText(out->name, block->texts + e.name);
  CopyText(out->address1, block->texts + e.address1);
  CopyText(out->address2, block->texts + e.address2);
  if (block->variant == kDecodeCorrection) {
    out->correctionKind = e.correctionKind;
    char digits[5];
    int n = 0;
    uint32_t version = e.correctionVersion;
    do {
      digits[n++] = static_cast<char>('0' + version % 10);
      version /= 10;
    } while (version != 0 && n < 4);
    for (int k = 0; k < n; ++k) out->correctionVersionText[k] = digits[n - 1 - k];
    out->correctionVersionText[n] = '\0';
  } else {
    out->correctionKind = 0;
    out->correctionVersionText[0] = '\0';
  }
}

void DecodedEntryBuilder_Init(DecodedEntryBuilder* builder) { *builder = DecodedEntryBuilder{}; }

void DecodedEntryBuilder_Free(DecodedEntryBuilder* builder) {
  Mem_Free(builder->entries);
  Mem_Free(builder->texts);
  DecodedEntryBuilder_Init(builder);
}

int DecodedEntryBuilder_Decode(DecodedEntryBuilder* b, DictDecoder* decoder,
                               const RegionTable* regions, const uint8_t* data,
                               uint32_t length, int variant, DecodedEntryBlock* out) {
  return DecodeBlock(b, decoder, regions, data, length, variant, -1, out);
}

int DecodedEntryBuilder_DecodeNumber(DecodedEntryBuilder* b, DictDecoder* decoder,
                                     const RegionTable* regions, const uint8_t* data,
                                     uint32_t length, int variant, uint32_t key,
                                     DecodedEntryBlock* out) {
  return DecodeBlock(b, decoder, regions, data, length, variant, key, out);
}

size_t DecodedEntryBlock_Bytes(const DecodedEntryBlock* block) {
  return size_t{block->count} * sizeof(DecodedEntry) + block->textBytes;
}

void DecodedEntryBlock_CopyTo(const DecodedEntryBlock* block, void* storage,
                              DecodedEntryBlock* out) {
  auto* entries = static_cast<DecodedEntry*>(storage);
  char* texts = reinterpret_cast<char*>(entries + block->count);
  if (block->count != 0) std::memcpy(entries, block->entries, block->count * sizeof(DecodedEntry));
  if (block->textBytes != 0) std::memcpy(texts, block->texts, block->textBytes);
  *out = *block;
  out->entries = entries;
  out->texts = texts;
}
