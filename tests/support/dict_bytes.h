// Dictionary files encoded by hand, piece by piece, for tests of damaged or unusual content
// that our builder never writes: big-endian integers, the region table, area code lists, the
// number and entry sections, and a whole file from its sections.
#ifndef QOR3_TESTS_SUPPORT_DICT_BYTES_H
#define QOR3_TESTS_SUPPORT_DICT_BYTES_H

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "dict/dict_format.h"

namespace dict_bytes {

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes* b, uint32_t v) {
  b->push_back(static_cast<uint8_t>(v >> 8));
  b->push_back(static_cast<uint8_t>(v));
}
inline void Put24(Bytes* b, uint32_t v) {
  b->push_back(static_cast<uint8_t>(v >> 16));
  Put16(b, v);
}
inline void Put32(Bytes* b, uint32_t v) {
  Put16(b, v >> 16);
  Put16(b, v);
}
inline void PutText(Bytes* b, const std::string& s) { b->insert(b->end(), s.begin(), s.end()); }
inline void Append(Bytes* b, const Bytes& more) { b->insert(b->end(), more.begin(), more.end()); }

inline Bytes Compress(const Bytes& raw) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  Bytes out(size);
  if (compress(out.data(), &size, raw.data(), static_cast<uLong>(raw.size())) != Z_OK) return {};
  out.resize(size);
  return out;
}

struct Region {
  uint16_t code;
  std::string name1;
  std::string name2;
};

// Section 2: u16 N, N records, then the names, stored in reverse record order so that a reader
// must follow the offsets.
inline Bytes RegionTableBytes(const std::vector<Region>& regions) {
  const size_t n = regions.size();
  Bytes names;
  std::vector<uint32_t> offset1(n), offset2(n);
  for (size_t k = n; k-- > 0;) {
    offset2[k] = static_cast<uint32_t>(names.size());
    PutText(&names, regions[k].name2);
    names.push_back(0);
    offset1[k] = static_cast<uint32_t>(names.size());
    PutText(&names, regions[k].name1);
    names.push_back(0);
  }
  Bytes out;
  Put16(&out, static_cast<uint32_t>(n));
  for (size_t k = 0; k < n; ++k) {
    Put16(&out, regions[k].code);
    Put16(&out, 0);
    Put16(&out, offset1[k]);
    Put16(&out, offset2[k]);
  }
  Append(&out, names);
  return out;
}

// Section 3 or 4: u16 count, u24 values.
inline Bytes AreaCodes(const std::vector<uint32_t>& values) {
  Bytes s;
  Put16(&s, static_cast<uint32_t>(values.size()));
  for (uint32_t v : values) Put24(&s, v);
  return s;
}

// Sets bit v of a filter, growing it as needed.
inline void SetBit(Bytes* set, uint32_t v) {
  if (set->size() <= v / 8) set->resize(v / 8 + 1);
  (*set)[v / 8] |= static_cast<uint8_t>(0x80 >> (v % 8));
}

// A number block item: the delta from the item before and the group number.
inline void PutItem(Bytes* b, uint32_t delta, uint8_t group) {
  if (delta < (1u << 6)) {
    b->push_back(static_cast<uint8_t>(delta));
  } else if (delta < (1u << 14)) {
    Put16(b, 0x4000 | delta);
  } else if (delta < (1u << 22)) {
    Put24(b, 0x800000 | delta);
  } else {
    Put32(b, 0xC0000000u | delta);
  }
  b->push_back(group);
}

struct NumberBlock {
  uint32_t first, last;
  Bytes compressed;
  uint32_t claimedSize = 0;  // the index's size when not 0 (no data is written then)
};
// Section 5: head, index records {size, first, last}, the blocks.
inline Bytes NumberSection(const std::vector<NumberBlock>& blocks) {
  Bytes index, data;
  for (const NumberBlock& k : blocks) {
    Put16(&index, k.claimedSize != 0 ? k.claimedSize : static_cast<uint32_t>(k.compressed.size()));
    Put32(&index, k.first);
    Put32(&index, k.last);
    if (k.claimedSize == 0) Append(&data, k.compressed);
  }
  Bytes s;
  Put16(&s, static_cast<uint32_t>(index.size()));
  Put32(&s, static_cast<uint32_t>(data.size()));
  Append(&s, index);
  Append(&s, data);
  return s;
}

struct EntryBlock {
  uint16_t region;
  std::string first, last;
  Bytes compressed;
};
// Section 6: head, index records {size, region, first text, last text}, the blocks.
inline Bytes EntrySection(const std::vector<EntryBlock>& blocks) {
  Bytes index, data;
  for (const EntryBlock& k : blocks) {
    Put16(&index, static_cast<uint32_t>(k.compressed.size()));
    Put16(&index, k.region);
    PutText(&index, k.first);
    index.push_back(0);
    PutText(&index, k.last);
    index.push_back(0);
    Append(&data, k.compressed);
  }
  Bytes s;
  Put16(&s, static_cast<uint32_t>(index.size()));
  Put32(&s, static_cast<uint32_t>(data.size()));
  Append(&s, index);
  Append(&s, data);
  return s;
}

// A whole file: the 256-byte header (filled with headerFill, then the editions and the section
// sizes) and the seven sections.
struct RawDict {
  Bytes sections[kDictSectionCount];
  uint8_t headerFill = 0;
  uint32_t edition1 = 20020801;
  uint32_t edition2 = 1;
  Bytes Image() const {
    Bytes image(kDictHeaderSize, headerFill);
    PutU32BE(image.data() + kDictEdition1Offset, edition1);
    PutU32BE(image.data() + kDictEdition2Offset, edition2);
    for (int i = 0; i < kDictSectionCount; ++i) {
      PutU32BE(image.data() + kDictSectionSizesOffset + 4 * i,
               static_cast<uint32_t>(sections[i].size()));
    }
    for (const Bytes& s : sections) Append(&image, s);
    return image;
  }
};

}  // namespace dict_bytes

#endif  // QOR3_TESTS_SUPPORT_DICT_BYTES_H
