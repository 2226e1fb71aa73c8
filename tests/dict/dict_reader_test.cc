// Entry block reader: entry decoding on hand-made blocks, block selection and group
// collection on hand-made files, and damaged files read without harm.
#include "search/dict_reader.h"

#include "dict/decoded_block.h"
#include "dict/dict_entry.h"
#include "dict/dict_file.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/damage.h"
#include "base/mem.h"
#include "dict/surname_table.h"
#include "support/dict_bytes.h"

namespace {

using namespace dict_bytes;

// Double-byte texts: "亜", "唖", "娃" and the ideographic space.
const std::string kA = "\x88\x9f";
const std::string kB = "\x88\xa0";
const std::string kC = "\x88\xa1";

// What the reading steps of one file work with, as a search holds them: the file's tables, a
// block selection, the block buffers, the entry decoder, and the area code sets accumulated
// over the files read (as the number search's union).
struct Reader {
  DictFile dict;
  BlockSelection selection;
  DictBlockBuffer buffer;
  DictDecoder decoder;
  AreaCodeSets accumulated;
  Bytes regionBytes;  // a region table the entry decoder tests set directly
  uint32_t keyNumber = 0;
  ~Reader() { DictFile_Free(&dict); }
};
using Context = std::unique_ptr<Reader>;

Context NewContext() {
  Context c(new Reader());
  DictFile_Init(&c->dict, nullptr);
  std::memset(&c->selection, 0, sizeof c->selection);
  std::memset(&c->buffer, 0, sizeof c->buffer);
  DictDecoder_Init(&c->decoder);
  AreaCodeSets_Clear(&c->accumulated);
  return c;
}

// The reading steps on a Reader.
::RegionTable Regions(const Reader* c) {
  if (!c->regionBytes.empty()) {
    ::RegionTable t;
    RegionTable_Init(&t, c->regionBytes.data(), static_cast<uint32_t>(c->regionBytes.size()));
    return t;
  }
  return Dict_RegionTable(&c->dict);
}
Result Dict_ReadHeader(Reader* c, uint8_t* header) { return ::Dict_ReadHeader(&c->dict, header); }
Result Dict_ReadFilters(Reader* c) { return ::Dict_ReadFilters(&c->dict); }
Result Dict_ReadRegionTable(Reader* c) { return ::Dict_ReadRegionTable(&c->dict); }
void Dict_ClearAreaCodeSets(Reader* c) { AreaCodeSets_Clear(&c->accumulated); }
Result Dict_ReadAreaCodeSets(Reader* c) {
  const Result r = ::Dict_ReadAreaCodeSets(&c->dict);
  AreaCodeSets_Add(&c->accumulated, &c->dict.areaCodes);
  return r;
}
int Dict_KeyMayOccur(const Reader* c) { return ::Dict_KeyMayOccur(&c->dict, c->keyNumber); }
// The steps that read an index read it from the file every time, as the file under test may
// have changed since the last step.
int Dict_SelectNumberBlocks(Reader* c) {
  ::Dict_ReadNumberIndex(&c->dict);
  return ::Dict_SelectNumberBlocks(&c->dict, c->keyNumber, &c->selection);
}
Result Dict_CollectGroups(Reader* c) {
  return ::Dict_CollectGroups(&c->dict, c->keyNumber, &c->buffer, &c->selection);
}
int Dict_AppendGroup(Reader* c, uint32_t group) { return ::Dict_AppendGroup(&c->selection, group); }
int Dict_SelectEntryBlocks(Reader* c) {
  Dict_ReadEntryIndex(&c->dict);
  return ::Dict_SelectEntryBlocks(&c->dict, &c->selection);
}
Result Dict_ReadEntryIndex(Reader* c) { return ::Dict_ReadEntryIndex(&c->dict); }
// The sound records of the entry index last read.
ByteReader Dict_EntryIndex(const Reader* c) {
  return ByteReader_Make(c->dict.entryIndexBytes, c->dict.entryIndexSound);
}
uint64_t Dict_SectionStart(const Reader* c, int i) { return ::Dict_SectionStart(&c->dict, i); }
int DictEntry_Decode(Reader* c, const uint8_t* block, uint32_t length, uint32_t* position,
                     int variant) {
  const ::RegionTable regions = Regions(c);
  return ::DictEntry_Decode(&c->decoder, &regions, block, length, position, variant);
}

void LoadRegionTable(Reader* c, const Bytes& table) { c->regionBytes = table; }

std::string Text(const char* s) { return std::string(s); }

// Decodes block from *position and expects damage: -1, nothing moved or changed.
void ExpectDamaged(Reader* c, const Bytes& block, uint32_t position, int variant = 1) {
  DictEntry current = *c->decoder.entry;
  unsigned long before = Damage_Count();
  uint32_t p = position;
  EXPECT_EQ(DictEntry_Decode(c, block.data(), static_cast<uint32_t>(block.size()), &p, variant),
            -1);
  EXPECT_EQ(p, position);
  EXPECT_GT(Damage_Count(), before);
  EXPECT_EQ(std::memcmp(&current, c->decoder.entry, sizeof current), 0);
}

// A first entry of a block: postal 1234567, region 1101, address 1 kA kB, number, a kind 1
// name of surname 31 and kC, address 2 "1-2-3".
Bytes FirstEntry(uint32_t number) {
  Bytes b = {0x00};
  Put24(&b, 1234567);
  Put16(&b, 1101);
  PutText(&b, kA + kB);
  Put32(&b, number);
  Put16(&b, 31);
  PutText(&b, kC);
  b.push_back(0);
  PutText(&b, "1-2-3");
  return b;
}

class DictEntryDecodeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    c_ = NewContext();
    ASSERT_TRUE(c_);
    LoadRegionTable(c_.get(), RegionTableBytes({{1100, "R0", "Zero"}, {1101, "Chiyoda", "Tokyo-to"}}));
  }
  int Decode(const Bytes& block, uint32_t* position, int variant = 1) {
    return DictEntry_Decode(c_.get(), block.data(), static_cast<uint32_t>(block.size()),
                            position, variant);
  }
  Context c_;
};

TEST_F(DictEntryDecodeTest, FirstEntryCodesEveryField) {
  Bytes block = FirstEntry(31234567);
  uint32_t p = 0;
  ASSERT_EQ(Decode(block, &p), 0);
  EXPECT_EQ(p, block.size());
  const DictEntry& e = (*c_->decoder.entry);
  EXPECT_EQ(Text(e.postalText), "123-4567");
  EXPECT_EQ(e.postal, 1234567u);
  EXPECT_EQ(Text(e.regionCodeText), "01101");
  EXPECT_EQ(e.regionCode, 1101);
  EXPECT_EQ(Text(e.regionName1), "Chiyoda");
  EXPECT_EQ(Text(e.regionName2), "Tokyo-to");
  EXPECT_EQ(Text(e.address1), kA + kB);
  EXPECT_EQ(e.number, 31234567u);
  EXPECT_EQ(Text(e.numberText), "031234567");
  EXPECT_EQ(e.numberHigh, 3123u);
  EXPECT_EQ(Text(e.name), Text(SurnameTable_Get(31)) + kC);
  EXPECT_EQ(e.kind, 1);
  EXPECT_EQ(Text(e.kindText), "1");
  EXPECT_EQ(Text(e.address2), "1-2-3");
  // The decoded entry becomes the previous entry.
  }

TEST_F(DictEntryDecodeTest, CopyFlagsShortNumberAndSharedName) {
  Bytes block = FirstEntry(312345678);
  // Same postal, region, address 1 and 2; short number with last digits 9; shared name:
  // the first character of the previous name and kA.
  block.push_back(0x1F);
  Put16(&block, 0x4000 | 9);
  block.push_back(1);
  PutText(&block, kA);
  // New postal and region, empty address 1, short number 0, kind 1 name without surname,
  // address 2 sharing three bytes with an empty tail.
  block.push_back(0x00);
  Put24(&block, 1000001);
  Put16(&block, 1100);
  Put16(&block, 0x4000 | 0);
  PutText(&block, kB + kC);
  block.push_back(3);

  uint32_t p = 0;
  ASSERT_EQ(Decode(block, &p), 0);
  std::string firstName = (*c_->decoder.entry).name;
  ASSERT_EQ(Decode(block, &p), 0);
  const DictEntry& e = (*c_->decoder.entry);
  EXPECT_EQ(e.number, 312340009u);
  EXPECT_EQ(Text(e.numberText), "0312340009");
  EXPECT_EQ(e.numberHigh, 31234u);
  EXPECT_EQ(e.lastFour, 9);
  EXPECT_EQ(Text(e.name), firstName.substr(0, 2) + kA);
  EXPECT_EQ(e.kind, 2);
  EXPECT_EQ(Text(e.kindText), "2");
  EXPECT_EQ(Text(e.postalText), "123-4567");
  EXPECT_EQ(Text(e.regionCodeText), "01101");
  EXPECT_EQ(Text(e.regionName1), "Chiyoda");
  EXPECT_EQ(Text(e.address1), kA + kB);
  EXPECT_EQ(Text(e.address2), "1-2-3");

  ASSERT_EQ(Decode(block, &p), 0);
  EXPECT_EQ(p, block.size());
  const DictEntry& f = (*c_->decoder.entry);
  EXPECT_EQ(Text(f.postalText), "100-0001");
  EXPECT_EQ(Text(f.regionCodeText), "01100");
  EXPECT_EQ(Text(f.regionName1), "R0");
  EXPECT_EQ(Text(f.regionName2), "Zero");
  EXPECT_EQ(Text(f.address1), "");
  EXPECT_EQ(f.number, 312340000u);
  EXPECT_EQ(f.lastFour, 0);
  EXPECT_EQ(Text(f.name), kB + kC);
  EXPECT_EQ(f.kind, 1);
  EXPECT_EQ(Text(f.address2), "1-2");
  // End of block: -1 and nothing changes.
  DictEntry before = (*c_->decoder.entry);
  EXPECT_EQ(Decode(block, &p), -1);
  EXPECT_EQ(p, block.size());
  EXPECT_EQ(std::memcmp(&before, &(*c_->decoder.entry), sizeof before), 0);
}

// Decoding for one number passes the other entries over without their surnames; a name that
// shares characters with such an entry still gets them, as the whole decode gives them.
TEST_F(DictEntryDecodeTest, DecodingOneNumberGivesItsEntriesAsTheWholeDecodeDoes) {
  Bytes block = FirstEntry(312345678);
  block.push_back(0x1F);  // the kind-2 name: one character of the previous name, then kA
  Put16(&block, 0x4000 | 9);
  block.push_back(1);
  PutText(&block, kA);
  const ::RegionTable regions = Regions(c_.get());
  DecodedEntryBuilder builder;
  DecodedEntryBuilder_Init(&builder);
  auto whole = std::make_unique<DictEntry>(), one = std::make_unique<DictEntry>();
  for (uint32_t key : {312340009u, 312345678u}) {
    SCOPED_TRACE(key);
    // The keyed decode first, on fresh slots: nothing left of an earlier decode stands in.
    DictDecoder_Init(&c_->decoder);
    DecodedEntryBlock all, keyed;
    ASSERT_EQ(DecodedEntryBuilder_DecodeNumber(&builder, &c_->decoder, &regions, block.data(),
                                               static_cast<uint32_t>(block.size()), 1, key,
                                               &keyed),
              0);
    ASSERT_EQ(keyed.count, 1u);
    DecodedEntry_Materialize(&keyed, 0, &regions, false, one.get());
    ASSERT_EQ(DecodedEntryBuilder_Decode(&builder, &c_->decoder, &regions, block.data(),
                                         static_cast<uint32_t>(block.size()), 1, &all),
              0);
    ASSERT_EQ(all.count, 2u);
    DecodedEntry_Materialize(&all, key == 312345678u ? 0 : 1, &regions, false, whole.get());
    EXPECT_EQ(Text(one->name), Text(whole->name));
    EXPECT_EQ(Text(one->address1), Text(whole->address1));
    EXPECT_EQ(Text(one->address2), Text(whole->address2));
    EXPECT_EQ(one->number, key);
  }
  EXPECT_EQ(Text(one->name), Text(SurnameTable_Get(31)) + kC);
  DecodedEntryBuilder_Free(&builder);
}

TEST_F(DictEntryDecodeTest, NumberTextWidthAndNameForms) {
  // A number below 100000000 is nine digits, from 100000000 on ten.
  for (uint32_t number : {99999999u, 100000000u}) {
    Bytes block = {0x00};
    Put24(&block, 0);
    Put16(&block, 1101);
    Put32(&block, number);
    block.push_back(0);  // surname index 0, no run
    block.push_back(0);
    block.push_back(0);  // address 2: k = 0, empty tail
    DictDecoder_StartBlock(&c_->decoder);
    uint32_t p = 0;
    ASSERT_EQ(Decode(block, &p), 0);
    EXPECT_EQ(Text((*c_->decoder.entry).numberText), number == 99999999u ? "099999999" : "0100000000");
    EXPECT_EQ(Text((*c_->decoder.entry).name), Text(SurnameTable_Get(0)));
    EXPECT_EQ(Text((*c_->decoder.entry).postalText), "000-0000");
  }
  // Name with no surname index: exactly its run; a name of the last surname index.
  Bytes block = {0x00};
  Put24(&block, 0);
  Put16(&block, 1101);
  Put32(&block, 5);
  PutText(&block, kC + kA);
  block.push_back(0);
  block.push_back(0x0F);  // everything but number and name as before
  Put16(&block, 0x4000 | 7);
  Put16(&block, 8191);
  DictDecoder_StartBlock(&c_->decoder);
  uint32_t p = 0;
  ASSERT_EQ(Decode(block, &p), 0);
  EXPECT_EQ(Text((*c_->decoder.entry).name), kC + kA);
  EXPECT_EQ((*c_->decoder.entry).kind, 1);
  ASSERT_EQ(Decode(block, &p), 0);
  EXPECT_EQ(Text((*c_->decoder.entry).name), Text(SurnameTable_Get(8191)));
  EXPECT_EQ((*c_->decoder.entry).number, 7u);  // 5 div 10000 is 0
  EXPECT_EQ(p, block.size());
}

TEST_F(DictEntryDecodeTest, CorrectionWordOnlyInVariant2) {
  struct Case {
    uint32_t word;
    uint16_t kind;
    const char* version;
  };
  // With bit 12 set, bits 0..10 count months from January 2021.
  for (Case k : {Case{0x0800 | 5, 1, "5"}, Case{0x07FF, 2, "2047"}, Case{0x0800, 1, "0"},
                 Case{100, 2, "100"}, Case{0x1800 | 71, 1, "2612"}, Case{0x1000, 2, "2101"},
                 Case{0x1000 | 947, 2, "9912"}}) {
    Bytes block = FirstEntry(31234567);
    Put16(&block, k.word);
    DictDecoder_StartBlock(&c_->decoder);
    uint32_t p = 0;
    ASSERT_EQ(Decode(block, &p, 2), 0);
    EXPECT_EQ(p, block.size());
    EXPECT_EQ((*c_->decoder.entry).correctionKind, k.kind);
    EXPECT_EQ(Text((*c_->decoder.entry).correctionVersionText), k.version);
  }
  // Variant 1 stops before the word: the word is then the next (damaged) entry.
  Bytes block = FirstEntry(31234567);
  Put16(&block, 0x0805);
  DictDecoder_StartBlock(&c_->decoder);
  uint32_t p = 0;
  ASSERT_EQ(Decode(block, &p, 1), 0);
  EXPECT_EQ(p, block.size() - 2);
}

// A decoded entry depends on its file's bytes alone: a region code the file's table does not
// name, or names unreadably, gets empty names, never those of an earlier lookup.
TEST_F(DictEntryDecodeTest, RegionMissingOrDamagedGetsEmptyNames) {
  // 1300's first name is longer than 10 bytes; 1400's second name offset is moved past the
  // table below.
  Bytes table = RegionTableBytes(
      {{1101, "Chiyoda", "Tokyo-to"}, {1300, "12345678901", "long"}, {1400, "Ok", "Fine"}});
  table[2 + 2 * 8 + 6] = 0x7F;
  LoadRegionTable(c_.get(), table);
  Bytes block = FirstEntry(31234567);
  uint32_t p = 0;
  ASSERT_EQ(Decode(block, &p), 0);
  EXPECT_EQ(Text((*c_->decoder.entry).regionName1), "Chiyoda");
  // 1200 is not in the table.
  for (uint32_t code : {1200u, 1300u, 1400u}) {
    SCOPED_TRACE(code);
    Bytes other = {0x00};
    Put24(&other, 1);
    Put16(&other, code);
    Put32(&other, 1);
    PutText(&other, kA);
    other.push_back(0);
    DictDecoder_StartBlock(&c_->decoder);
    uint32_t q = 0;
    ASSERT_EQ(Decode(other, &q), 0);
    EXPECT_EQ((*c_->decoder.entry).regionCode, code);
    EXPECT_EQ(Text((*c_->decoder.entry).regionName1), "");
    EXPECT_EQ(Text((*c_->decoder.entry).regionName2), "");
  }
  // Dict_LookupRegion copies the found names into the current entry.
  LoadRegionTable(c_.get(), RegionTableBytes({{1400, "Ok", "Fine"}}));
  (*c_->decoder.entry).regionCode = 1400;
  const ::RegionTable regions = Regions(c_.get());
  Dict_LookupRegion(&regions, c_->decoder.entry);
  EXPECT_EQ(Text((*c_->decoder.entry).regionName1), "Ok");
  EXPECT_EQ(Text((*c_->decoder.entry).regionName2), "Fine");
}

TEST_F(DictEntryDecodeTest, DamagedEntriesAreNotTaken) {
  Bytes good = FirstEntry(312345678);
  SCOPED_TRACE("flags");
  {
    Bytes b = {0x20};
    Append(&b, Bytes(good.begin() + 1, good.end()));
    ExpectDamaged(c_.get(), b, 0);
  }
  // The first entry of a block copies nothing.
  for (uint8_t flag : {0x01, 0x02, 0x04, 0x08, 0x10}) {
    Bytes b = good;
    b[0] = flag;
    ExpectDamaged(c_.get(), b, 0);
  }
  // Cut at every point inside the entry (the last byte of address 2 ends it anyway).
  for (size_t n = 1; n + 5 < good.size(); ++n) {
    SCOPED_TRACE(n);
    Bytes b(good.begin(), good.begin() + static_cast<long>(n));
    DictDecoder_StartBlock(&c_->decoder);
    uint32_t p = 0;
    int r = DictEntry_Decode(c_.get(), b.data(), static_cast<uint32_t>(b.size()), &p, 1);
    EXPECT_EQ(r, -1);
    EXPECT_EQ(p, 0u);
  }
  // Field by field, on top of a decoded first entry at position 0 of block.
  auto second = [&](const Bytes& entry) {
    Bytes b = good;
    Append(&b, entry);
    DictDecoder_StartBlock(&c_->decoder);
    uint32_t p = 0;
    EXPECT_EQ(DictEntry_Decode(c_.get(), b.data(), static_cast<uint32_t>(b.size()), &p, 1), 0);
    ExpectDamaged(c_.get(), b, p);
  };
  auto shortNumber = [](uint32_t word) {
    Bytes e = {0x0F};
    Put16(&e, word);
    return e;
  };
  {
    SCOPED_TRACE("last digits above 9999");
    Bytes e = shortNumber(0x4000 | 10000);
    Put16(&e, 0);
    second(e);
  }
  {
    SCOPED_TRACE("number byte 0x80 or above");
    Bytes e = {0x0F, 0x80, 0, 0, 1, 0, 0, 0};
    second(e);
  }
  {
    SCOPED_TRACE("address 1 over 200 bytes");
    Bytes e = {0x0D};
    for (int i = 0; i < 101; ++i) PutText(&e, kA);
    Put32(&e, 1);
    Put16(&e, 0);
    second(e);
  }
  {
    SCOPED_TRACE("address 1 ending in half a character");
    Bytes e = {0x0D, 0x88, 0x9F, 0x88};
    second(e);
  }
  {
    SCOPED_TRACE("name over 400 bytes");
    Bytes e = shortNumber(0x4001);
    for (int i = 0; i < 201; ++i) PutText(&e, kA);
    second(e);
  }
  {
    SCOPED_TRACE("surname index 8192");
    Bytes e = shortNumber(0x4001);
    Put16(&e, 8192);
    second(e);
  }
  {
    SCOPED_TRACE("shared count beyond the previous name");
    Bytes e = shortNumber(0x4001);
    e[0] = 0x1F;
    // The first entry's name is surname 31 (6 bytes) and kC: 4 characters.
    e.push_back(static_cast<uint8_t>((SurnameTable_Length(31) + 2) / 2 + 1));
    second(e);
  }
  {
    SCOPED_TRACE("address 2 count beyond the previous text");
    Bytes e = shortNumber(0x4001);
    e[0] = 0x0E;
    PutText(&e, kA);
    e.push_back(6);  // "1-2-3" has five bytes
    second(e);
  }
  {
    SCOPED_TRACE("address 2 over 200 bytes");
    Bytes e = shortNumber(0x4001);
    e[0] = 0x0E;
    PutText(&e, kA);
    e.push_back(5);
    PutText(&e, std::string(196, 'x'));
    second(e);
  }
  {
    SCOPED_TRACE("correction word missing or past December 2099");
    DictDecoder_StartBlock(&c_->decoder);
    ExpectDamaged(c_.get(), good, 0, 2);
    Bytes b = good;
    Put16(&b, 0x1800 | 948);
    ExpectDamaged(c_.get(), b, 0, 2);
  }
}

TEST_F(DictEntryDecodeTest, FieldsAtTheirLimitsDecode) {
  // Address 1 of 200 bytes, a run-only name of 400 bytes, address 2 of 200 bytes.
  Bytes b = {0x00};
  Put24(&b, 1);
  Put16(&b, 1101);
  for (int i = 0; i < 100; ++i) PutText(&b, kA);
  Put32(&b, 1);
  for (int i = 0; i < 200; ++i) PutText(&b, kB);
  b.push_back(0);
  PutText(&b, std::string(200, 'y'));
  uint32_t p = 0;
  ASSERT_EQ(Decode(b, &p), 0);
  EXPECT_EQ(std::strlen((*c_->decoder.entry).address1), 200u);
  EXPECT_EQ(std::strlen((*c_->decoder.entry).name), 400u);
  EXPECT_EQ(std::strlen((*c_->decoder.entry).address2), 200u);
  // A shared name keeping the largest count, 127 characters (254 bytes), and adding none.
  Bytes next = {0x1F};
  Put16(&next, 0x4002);
  next.push_back(0x7F);
  Append(&b, next);
  ASSERT_EQ(Decode(b, &p), 0);
  EXPECT_EQ(std::strlen((*c_->decoder.entry).name), 254u);
  EXPECT_EQ((*c_->decoder.entry).kind, 2);
}

// --- Files -------------------------------------------------------------------------------

bool HasBit(const uint8_t* set, uint32_t v) { return (set[v / 8] & (0x80 >> (v % 8))) != 0; }

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) std::fclose(f);
  }
};
using File = std::unique_ptr<FILE, FileCloser>;

File OpenImage(const Bytes& image) {
  File f(std::tmpfile());
  if (!f) return f;
  if (!image.empty()) std::fwrite(image.data(), 1, image.size(), f.get());
  std::rewind(f.get());
  return f;
}

// An entry of an entry block, coded in full except for what the flags copy.
Bytes Entry(uint8_t flags, uint32_t number, const std::string& nameRun, uint16_t region = 1101) {
  Bytes b = {flags};
  if ((flags & 0x08) == 0) Put24(&b, 1000001);
  if ((flags & 0x04) == 0) Put16(&b, region);
  if ((flags & 0x02) == 0) PutText(&b, kA);
  Put32(&b, number);
  PutText(&b, nameRun);
  if ((flags & 0x01) == 0) {
    b.push_back(0);
    PutText(&b, "7");
  }
  return b;
}

struct Collected {
  std::vector<uint32_t> numbers;
  size_t stopAfter = 0;  // handler asks to stop after this many entries (0: never)
};

// Dict_ReadEntryBlocks collecting the entries' numbers; *status receives its result.
std::vector<uint32_t> ReadNumbers(Reader* c, size_t stopAfter = 0, Result* status = nullptr) {
  Collected collected;
  collected.stopAfter = stopAfter;
  const Result result = Dict_ReadEntryBlocks(
      &c->dict, &c->selection, &c->buffer, &c->decoder, kDecodeDictionary,
      [](const DictEntry* e, void* user) {
        auto* out = static_cast<Collected*>(user);
        out->numbers.push_back(e->number);
        return out->numbers.size() == out->stopAfter ? 1 : 0;
      },
      &collected);
  if (status) *status = result;
  return collected.numbers;
}

// A dictionary whose number blocks meet on the key 5000: number block 0 holds 1000..5000,
// block 1 5000..9000 (5000 three times, all in entry block 1), block 2 20000..30000; block
// 3's index record is damaged and lies after a first number above every key used.
class DictFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    c_ = NewContext();
    ASSERT_TRUE(c_);
    RawDict d;
    Bytes prefix, suffix;
    // 999 and 15000 are admitted by the filters but are in no block.
    for (uint32_t v : {999u, 1000u, 5000u, 9000u, 15000u, 20000u, 30000u}) {
      SetBit(&prefix, v / 100000);
      SetBit(&suffix, v % 100000);
    }
    d.sections[0] = prefix;
    d.sections[1] = suffix;
    d.sections[2] = RegionTableBytes({{1101, "Chiyoda", "Tokyo-to"}});
    d.sections[3] = AreaCodes({3, 6, 99999});
    d.sections[4] = AreaCodes({45});
    Bytes b0, b1, b2;
    PutItem(&b0, 1000, 0);
    PutItem(&b0, 4000, 0);  // 5000 in entry block 0
    PutItem(&b1, 5000, 1);
    PutItem(&b1, 0, 1);
    PutItem(&b1, 0, 1);
    PutItem(&b1, 4000, 2);  // 9000, twice in entry block 2
    PutItem(&b1, 0, 2);
    PutItem(&b2, 20000, 3);
    PutItem(&b2, 10000, 3);
    d.sections[5] = NumberSection({{1000, 5000, Compress(b0)},
                                   {5000, 9000, Compress(b1)},
                                   {20000, 30000, Compress(b2)},
                                   {40000, 50000, {}, 65001}});
    Bytes e0 = Entry(0, 1000, kA), e1 = Entry(0, 5000, kA), e2 = Entry(0, 9000, kB),
          e3 = Entry(0, 20000, kC);
    Append(&e0, Entry(0x0F, 5000, kB));
    Append(&e1, Entry(0x0F, 5000, kB));
    Append(&e1, Entry(0x0F, 5000, kC));
    Append(&e2, Entry(0x0F, 9000, kC));
    Append(&e3, Entry(0x0F, 30000, kC));
    lastBlockSize_ = Compress(e3).size();
    d.sections[6] = EntrySection({{1101, kA, kA, Compress(e0)},
                                  {1101, kA, kA, Compress(e1)},
                                  {1101, kA, kA, Compress(e2)},
                                  {1101, kA, kA, Compress(e3)}});
    raw_ = d;
    image_ = d.Image();
  }

  // The number search's reading steps for key on an open file; the numbers of the decoded
  // entries. ok receives whether every step returned 0.
  std::vector<uint32_t> SearchFile(FILE* f, uint32_t key, bool* ok = nullptr) {
    c_->dict.file = f;
    c_->keyNumber = key;
    uint8_t header[kDictHeaderSize];
    bool good = Dict_ReadHeader(c_.get(), header) == Result::kOk;
    good = Dict_ReadFilters(c_.get()) == Result::kOk && good;
    good = Dict_ReadRegionTable(c_.get()) == Result::kOk && good;
    good = Dict_ReadAreaCodeSets(c_.get()) == Result::kOk && good;
    std::vector<uint32_t> numbers;
    if (Dict_KeyMayOccur(c_.get())) {
      good = Dict_SelectNumberBlocks(c_.get()) == 0 && good;
      good = Dict_CollectGroups(c_.get()) == Result::kOk && good;
      good = Dict_SelectEntryBlocks(c_.get()) == 0 && good;
      Result status = Result::kOk;
      numbers = ReadNumbers(c_.get(), 0, &status);
      good = status == Result::kOk && good;
    }
    c_->dict.file = nullptr;
    if (ok) *ok = good;
    return numbers;
  }
  std::vector<uint32_t> Search(const Bytes& image, uint32_t key, bool* ok = nullptr) {
    File f = OpenImage(image);
    EXPECT_TRUE(f);
    return SearchFile(f.get(), key, ok);
  }
  // Opens image and reads its header, for tests of single steps; the file stays open.
  void Open(const Bytes& image) {
    file_ = OpenImage(image);
    ASSERT_TRUE(file_);
    c_->dict.file = file_.get();
    uint8_t header[kDictHeaderSize];
    ASSERT_EQ(Dict_ReadHeader(c_.get(), header), Result::kOk);
  }

  Context c_;
  RawDict raw_;
  Bytes image_;
  size_t lastBlockSize_ = 0;
  File file_;
};

TEST_F(DictFileTest, KeyOnABlockBoundarySelectsBothBlocksAndLaterRecordsAreNotExamined) {
  unsigned long damage = Damage_Count();
  bool ok = false;
  std::vector<uint32_t> numbers = Search(image_, 5000, &ok);
  EXPECT_TRUE(ok);
  // Block 3's damaged record is never examined: no damage is noted.
  EXPECT_EQ(Damage_Count(), damage);
  // Number blocks 0 (last = key) and 1 (first = key), but not 2.
  ASSERT_EQ(c_->selection.groupCount, 4u);
  EXPECT_EQ(c_->selection.groups[0], 0);
  EXPECT_EQ(c_->selection.groups[1], 1);
  EXPECT_EQ(c_->selection.groups[2], 1);
  EXPECT_EQ(c_->selection.groups[3], 1);
  // Entry blocks 0 and 1, each once, in index order.
  ASSERT_EQ(c_->selection.selectedCount, 2u);
  EXPECT_EQ(c_->selection.selected[0].offset, 0u);
  EXPECT_EQ(c_->selection.selected[1].offset, c_->selection.selected[0].size);
  EXPECT_EQ(numbers, (std::vector<uint32_t>{1000, 5000, 5000, 5000, 5000}));
  // A handler that asks to stop ends the loop at once.
  Open(image_);
  ASSERT_EQ(Dict_SelectEntryBlocks(c_.get()), 0);
  Result status = Result::kDamaged;
  EXPECT_EQ(ReadNumbers(c_.get(), 3, &status), (std::vector<uint32_t>{1000, 5000, 5000}));
  EXPECT_EQ(status, Result::kOk);
}

TEST_F(DictFileTest, ThreeOccurrencesInOneNumberBlockGiveThreeGroupsAndOneEntryBlock) {
  Open(image_);
  c_->keyNumber = 5000;
  ASSERT_EQ(Dict_SelectNumberBlocks(c_.get()), 0);
  ASSERT_EQ(c_->selection.selectedCount, 2u);
  c_->selection.selected[0] = c_->selection.selected[1];  // number block 1 only
  c_->selection.selectedCount = 1;
  ASSERT_EQ(Dict_CollectGroups(c_.get()), Result::kOk);
  ASSERT_EQ(c_->selection.groupCount, 3u);
  EXPECT_EQ(c_->selection.groups[0], 1);
  EXPECT_EQ(c_->selection.groups[1], 1);
  EXPECT_EQ(c_->selection.groups[2], 1);
  ASSERT_EQ(Dict_SelectEntryBlocks(c_.get()), 0);
  ASSERT_EQ(c_->selection.selectedCount, 1u);
  EXPECT_EQ(ReadNumbers(c_.get()), (std::vector<uint32_t>{5000, 5000, 5000}));
  // A number repeated by deltas of 0 after another number.
  EXPECT_EQ(Search(image_, 9000), (std::vector<uint32_t>{9000, 9000}));
  EXPECT_EQ(c_->selection.groupCount, 2u);
  EXPECT_EQ(c_->selection.selectedCount, 1u);
}

TEST_F(DictFileTest, KeysOutsideTheBlocksSelectNothing) {
  bool ok = false;
  // Between two blocks and below the first, with the filters admitting both keys.
  EXPECT_TRUE(Search(image_, 15000, &ok).empty());
  EXPECT_TRUE(ok);
  EXPECT_EQ(c_->selection.selectedCount, 0u);
  EXPECT_TRUE(Search(image_, 999, &ok).empty());
  EXPECT_TRUE(ok);
  EXPECT_EQ(Search(image_, 30000), (std::vector<uint32_t>{20000, 30000}));
  // The suffix filter rejects 12000; keys of 2^30 and above have no prefix bit.
  c_->keyNumber = 12000;
  EXPECT_EQ(Dict_KeyMayOccur(c_.get()), 0);
  c_->keyNumber = 30000;
  EXPECT_EQ(Dict_KeyMayOccur(c_.get()), 1);
  c_->keyNumber = 4000030000u;
  EXPECT_EQ(Dict_KeyMayOccur(c_.get()), 0);
  // A prefix bit other than 0.
  RawDict d = raw_;
  d.sections[0] = Bytes(125, 0);
  SetBit(&d.sections[0], 312);
  Search(d.Image(), 312345678);
  EXPECT_EQ(Dict_KeyMayOccur(c_.get()), 0);  // suffix 45678 is not set
  c_->keyNumber = 312005000;
  EXPECT_EQ(Dict_KeyMayOccur(c_.get()), 1);
  c_->keyNumber = 31205000;
  EXPECT_EQ(Dict_KeyMayOccur(c_.get()), 1);
  c_->keyNumber = 311005000;
  EXPECT_EQ(Dict_KeyMayOccur(c_.get()), 0);
}

TEST_F(DictFileTest, AreaCodeSetsAccumulateUntilCleared) {
  Dict_ClearAreaCodeSets(c_.get());
  Search(image_, 5000);
  RawDict other = raw_;
  other.sections[3] = AreaCodes({4});
  other.sections[4] = AreaCodes({});
  Search(other.Image(), 5000);
  for (uint32_t v : {3u, 4u, 6u, 99999u}) EXPECT_TRUE(HasBit(c_->accumulated.areaCodes, v)) << v;
  EXPECT_FALSE(HasBit(c_->accumulated.areaCodes, 5));
  EXPECT_TRUE(HasBit(c_->accumulated.extended, 45));
  EXPECT_FALSE(HasBit(c_->accumulated.extended, 3));
  Dict_ClearAreaCodeSets(c_.get());
  EXPECT_FALSE(HasBit(c_->accumulated.areaCodes, 3));
  EXPECT_FALSE(HasBit(c_->accumulated.extended, 45));
}

TEST_F(DictFileTest, SectionStartsAndEntryIndexRecords) {
  Open(image_);
  uint64_t start = kDictHeaderSize;
  for (int i = 0; i <= kDictSectionCount; ++i) {
    EXPECT_EQ(Dict_SectionStart(c_.get(), i), start);
    if (i < kDictSectionCount) start += raw_.sections[i].size();
  }
  EXPECT_EQ(start, image_.size());
  ASSERT_EQ(Dict_ReadEntryIndex(c_.get()), Result::kOk);
  EXPECT_EQ(c_->dict.entryIndexSound, c_->dict.entryIndexLength);
  ByteReader index = Dict_EntryIndex(c_.get());
  EntryIndexRecord record;
  int n = 0;
  while (Dict_NextEntryIndexRecord(&index, &record) == 1) {
    EXPECT_EQ(record.regionCode, 1101);
    EXPECT_EQ(Text(record.firstText), kA);
    ++n;
  }
  EXPECT_EQ(n, 4);
  // The region table as read.
  ASSERT_EQ(Dict_ReadRegionTable(c_.get()), Result::kOk);
  EXPECT_EQ(c_->dict.regionCount, 1u);
}

// --- Damaged files -------------------------------------------------------------------------

TEST_F(DictFileTest, OversizedSectionsAreNotRead) {
  // Sizes beyond the reader's capacities, with the file long enough to hold them.
  for (int section = 0; section <= 4; ++section) {
    SCOPED_TRACE(section);
    static const uint32_t kTooBig[] = {126, 12501, 65003, 150001, 150001};
    RawDict d = raw_;
    d.sections[section].resize(kTooBig[section], 0);
    Dict_ClearAreaCodeSets(c_.get());
    bool ok = true;
    std::vector<uint32_t> numbers = Search(d.Image(), 5000, &ok);
    EXPECT_FALSE(ok);
    if (section <= 1) {
      EXPECT_TRUE(numbers.empty());
    }
    if (section == 2) {
      EXPECT_EQ(c_->dict.regionCount, 0u);
    }
    EXPECT_EQ(HasBit(c_->accumulated.areaCodes, 3), section != 3);
    EXPECT_EQ(HasBit(c_->accumulated.extended, 45), section != 3 && section != 4);
  }
}

TEST_F(DictFileTest, FilesTooShortForTheirHeaderContributeNothing) {
  // The header claims one byte more than the file holds.
  Bytes image = image_;
  image[kDictSectionSizesOffset + 4 * 6 + 3] += 1;
  bool ok = true;
  EXPECT_TRUE(Search(image, 5000, &ok).empty());
  EXPECT_FALSE(ok);
  for (uint32_t s : c_->dict.sectionSizes) EXPECT_EQ(s, 0u);
  EXPECT_EQ(c_->dict.regionCount, 0u);
  // A header cut short, and an empty file.
  EXPECT_TRUE(Search(Bytes(image_.begin(), image_.begin() + 255), 5000, &ok).empty());
  EXPECT_FALSE(ok);
  EXPECT_TRUE(Search(Bytes(), 5000, &ok).empty());
  EXPECT_FALSE(ok);
  // Truncated anywhere: the sizes no longer fit the file and nothing is read.
  for (size_t n = 0; n < image_.size(); ++n) {
    SCOPED_TRACE(n);
    EXPECT_TRUE(Search(Bytes(image_.begin(), image_.begin() + static_cast<long>(n)), 5000, &ok)
                    .empty());
    EXPECT_FALSE(ok);
  }
  // Cut inside section 6 with the header adjusted to the cut: the last index record now
  // points past the section, the blocks before it are still read.
  image = image_;
  image.resize(image.size() - lastBlockSize_);
  uint32_t s6 = static_cast<uint32_t>(raw_.sections[6].size() - lastBlockSize_);
  for (int i = 0; i < 4; ++i) {
    image[kDictSectionSizesOffset + 24 + i] = static_cast<uint8_t>(s6 >> (24 - 8 * i));
  }
  EXPECT_EQ(Search(image, 5000, &ok), (std::vector<uint32_t>{1000, 5000, 5000, 5000, 5000}));
  EXPECT_FALSE(ok);
  EXPECT_TRUE(Search(image, 30000).empty());
}

TEST_F(DictFileTest, DamagedTablesAreDropped) {
  {
    SCOPED_TRACE("region count past the section");
    RawDict d = raw_;
    d.sections[2][1] = 200;
    bool ok = true;
    Search(d.Image(), 5000, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(c_->dict.regionCount, 0u);
  }
  for (const Bytes& s : {AreaCodes({7, 100000}), Bytes{0x00, 0x05, 0, 0, 8}, Bytes{0x00}}) {
    SCOPED_TRACE("area code value 100000; count past the section; no count");
    RawDict d = raw_;
    d.sections[3] = s;
    Dict_ClearAreaCodeSets(c_.get());
    bool ok = true;
    Search(d.Image(), 5000, &ok);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(HasBit(c_->accumulated.areaCodes, 7));
    EXPECT_FALSE(HasBit(c_->accumulated.areaCodes, 8));
    EXPECT_FALSE(HasBit(c_->accumulated.extended, 45));  // section 4 is not read
  }
  {
    SCOPED_TRACE("section 4 damaged after a sound section 3");
    RawDict d = raw_;
    d.sections[4] = AreaCodes({100000});
    Dict_ClearAreaCodeSets(c_.get());
    Search(d.Image(), 5000);
    EXPECT_TRUE(HasBit(c_->accumulated.areaCodes, 6));
  }
  {
    SCOPED_TRACE("section 5 and 6 heads");
    for (int section : {5, 6}) {
      for (const Bytes& s : {Bytes{0x00, 0x10, 0, 0}, Bytes{0x00, 0x10, 0, 0, 0, 0, 1}}) {
        RawDict d = raw_;
        d.sections[section] = s;
        bool ok = true;
        EXPECT_TRUE(Search(d.Image(), 5000, &ok).empty());
        EXPECT_FALSE(ok);
        EXPECT_EQ(c_->selection.selectedCount, 0u);
      }
    }
  }
}

TEST_F(DictFileTest, DamagedBlocksAreSkippedAndTheOthersRead) {
  // Entry block 1 is not zlib data, and entry block 2 decompresses to more than 150000
  // bytes.
  RawDict d = raw_;
  Bytes e0 = Entry(0, 1000, kA);
  Append(&e0, Entry(0x0F, 5000, kB));
  Bytes big = Entry(0, 9000, kB);
  big.resize(150001, 0x00);
  d.sections[6] = EntrySection({{1101, kA, kA, Compress(e0)},
                                {1101, kA, kA, Bytes(40, 0x55)},
                                {1101, kA, kA, Compress(big)},
                                {1101, kA, kA, Compress(Entry(0, 20000, kC))}});
  bool ok = true;
  EXPECT_EQ(Search(d.Image(), 5000, &ok), (std::vector<uint32_t>{1000, 5000}));
  EXPECT_FALSE(ok);
  EXPECT_TRUE(Search(d.Image(), 9000, &ok).empty());
  EXPECT_FALSE(ok);
  EXPECT_EQ(Search(d.Image(), 20000, &ok), (std::vector<uint32_t>{20000}));
  EXPECT_TRUE(ok);
  // Number block 1 damaged the same way: only its group numbers are lost.
  d = raw_;
  Bytes b0;
  PutItem(&b0, 1000, 0);
  PutItem(&b0, 4000, 0);
  d.sections[5] = NumberSection({{1000, 5000, Compress(b0)}, {5000, 9000, Bytes(30, 0x11)}});
  EXPECT_EQ(Search(d.Image(), 5000, &ok), (std::vector<uint32_t>{1000, 5000}));
  EXPECT_FALSE(ok);
  // A number block item cut off at the end of its block: the items before it stand.
  Bytes cut = b0;
  cut.push_back(0xC0);
  cut.push_back(0x01);
  d.sections[5] = NumberSection({{1000, 5000, Compress(cut)}});
  EXPECT_EQ(Search(d.Image(), 5000, &ok), (std::vector<uint32_t>{1000, 5000}));
  EXPECT_FALSE(ok);
  // A damaged entry ends its block; the entries before it stand.
  d = raw_;
  Bytes e1 = Entry(0, 5000, kA);
  Append(&e1, Entry(0x0F, 5000, kC));
  e1.push_back(0x40);  // flags byte of a third entry with a stray bit
  Append(&e1, Entry(0x0F, 5000, kC));
  d.sections[6] = EntrySection({{1101, kA, kA, Compress(e0)}, {1101, kA, kA, Compress(e1)}});
  EXPECT_EQ(Search(d.Image(), 5000, &ok), (std::vector<uint32_t>{1000, 5000, 5000, 5000}));
  EXPECT_FALSE(ok);
}

TEST_F(DictFileTest, OverlongListsKeepWhatFits) {
  {
    SCOPED_TRACE("300 items of the key: 256 group numbers");
    RawDict d = raw_;
    Bytes b;
    PutItem(&b, 5000, 0);
    for (int i = 1; i < 300; ++i) PutItem(&b, 0, static_cast<uint8_t>(i % 4));
    d.sections[5] = NumberSection({{5000, 5000, Compress(b)}});
    Open(d.Image());
    c_->keyNumber = 5000;
    ASSERT_EQ(Dict_SelectNumberBlocks(c_.get()), 0);
    EXPECT_EQ(Dict_CollectGroups(c_.get()), Result::kDamaged);
    EXPECT_EQ(c_->selection.groupCount, 256u);
    EXPECT_EQ(c_->selection.groups[255], 255 % 4);
    EXPECT_EQ(Dict_AppendGroup(c_.get(), 0), -1);
    EXPECT_EQ(c_->selection.groupCount, 256u);
  }
  {
    SCOPED_TRACE("300 number blocks holding the key: 256 selected");
    RawDict d = raw_;
    Bytes b;
    PutItem(&b, 5000, 0);
    d.sections[5] = NumberSection(std::vector<NumberBlock>(300, {5000, 5000, Compress(b)}));
    Open(d.Image());
    c_->keyNumber = 5000;
    EXPECT_EQ(Dict_SelectNumberBlocks(c_.get()), -1);
    EXPECT_EQ(c_->selection.selectedCount, 256u);
  }
  {
    SCOPED_TRACE("300 entry index records: the first 256 are walked");
    RawDict d = raw_;
    d.sections[6] = EntrySection(
        std::vector<EntryBlock>(300, {1101, kA, kB, Compress(Entry(0, 1, kA))}));
    Open(d.Image());
    EXPECT_EQ(Dict_ReadEntryIndex(c_.get()), Result::kDamaged);
    ByteReader index = Dict_EntryIndex(c_.get());
    EntryIndexRecord record;
    int n = 0;
    while (Dict_NextEntryIndexRecord(&index, &record) == 1) ++n;
    EXPECT_EQ(n, 256);
    c_->selection.groupCount = 0;
    Dict_AppendGroup(c_.get(), 255);
    Dict_AppendGroup(c_.get(), 256);  // past the last addressable block
    EXPECT_EQ(Dict_SelectEntryBlocks(c_.get()), -1);
    EXPECT_EQ(c_->selection.selectedCount, 1u);
    EXPECT_EQ(ReadNumbers(c_.get()), std::vector<uint32_t>{1});
  }
  for (int which = 0; which < 2; ++which) {
    SCOPED_TRACE(which == 0 ? "an index text of 84 bytes" : "a block past the section");
    RawDict d = raw_;
    std::vector<EntryBlock> blocks = {{1101, kA, kA, Compress(Entry(0, 1, kA))},
                                      {1101, std::string(83, 'z'), kA, Compress(Entry(0, 2, kA))},
                                      {1101, kA, kA, Compress(Entry(0, 3, kA))}};
    if (which == 0) blocks[2].last = std::string(84, 'z');
    d.sections[6] = EntrySection(blocks);
    if (which == 1) d.sections[6].resize(d.sections[6].size() - 1);
    Open(d.Image());
    EXPECT_EQ(Dict_ReadEntryIndex(c_.get()), Result::kDamaged);
    ByteReader index = Dict_EntryIndex(c_.get());
    EntryIndexRecord record;
    EXPECT_EQ(Dict_NextEntryIndexRecord(&index, &record), 1);
    EXPECT_EQ(Dict_NextEntryIndexRecord(&index, &record), 1);
    EXPECT_EQ(Text(record.firstText), std::string(83, 'z'));
    EXPECT_EQ(Dict_NextEntryIndexRecord(&index, &record), 0);
  }
  {
    SCOPED_TRACE("a compressed size over 65000 stops the walk of section 5");
    RawDict d = raw_;
    Bytes b;
    PutItem(&b, 5000, 0);
    d.sections[5] = NumberSection({{1000, 2000, {}, 65001}, {5000, 5000, Compress(b)}});
    Open(d.Image());
    c_->keyNumber = 5000;
    EXPECT_EQ(Dict_SelectNumberBlocks(c_.get()), -1);
    EXPECT_EQ(c_->selection.selectedCount, 0u);
  }
  {
    SCOPED_TRACE("an index length that is not a whole number of records");
    RawDict d = raw_;
    Bytes b;
    PutItem(&b, 5000, 0);
    Bytes s = NumberSection({{5000, 5000, Compress(b)}});
    s[1] += 3;  // the index swallows 3 bytes of block data
    d.sections[5] = s;
    Open(d.Image());
    c_->keyNumber = 5000;
    EXPECT_EQ(Dict_SelectNumberBlocks(c_.get()), -1);
  }
  {
    SCOPED_TRACE("a record that runs past the index");
    ByteReader r = ByteReader_Make("\x00\x01\x04\x4d" "ab", 6);
    EntryIndexRecord record;
    EXPECT_EQ(Dict_NextEntryIndexRecord(&r, &record), -1);
    EXPECT_EQ(r.pos, 0u);
  }
}

// Every text of a decoded entry ends inside its field.
void ExpectEntryTextsBounded(const DictEntry& e) {
  EXPECT_LT(strnlen(e.regionCodeText, sizeof e.regionCodeText), sizeof e.regionCodeText);
  EXPECT_LT(strnlen(e.numberText, sizeof e.numberText), sizeof e.numberText);
  EXPECT_LT(strnlen(e.postalText, sizeof e.postalText), sizeof e.postalText);
  EXPECT_LT(strnlen(e.name, sizeof e.name), sizeof e.name);
  EXPECT_LT(strnlen(e.regionName1, sizeof e.regionName1), sizeof e.regionName1);
  EXPECT_LT(strnlen(e.regionName2, sizeof e.regionName2), sizeof e.regionName2);
  EXPECT_LT(strnlen(e.address1, sizeof e.address1), sizeof e.address1);
  EXPECT_LT(strnlen(e.address2, sizeof e.address2), sizeof e.address2);
}

TEST_F(DictFileTest, RandomBytesInEverySectionReadWithoutHarm) {
  std::mt19937 random(12345);
  uint64_t start = kDictHeaderSize;
  for (int section = -1; section < kDictSectionCount; ++section) {
    uint64_t from = section < 0 ? 0 : start;
    uint64_t size = section < 0 ? kDictHeaderSize : raw_.sections[section].size();
    for (int round = 0; round < 300; ++round) {
      SCOPED_TRACE(testing::Message() << "section " << section << " round " << round);
      Bytes image = image_;
      int changes = 1 + static_cast<int>(random() % 8);
      for (int i = 0; i < changes; ++i) {
        image[from + random() % size] = static_cast<uint8_t>(random());
      }
      File f = OpenImage(image);
      ASSERT_TRUE(f);
      for (uint32_t key : {1000u, 5000u, 9000u, 30000u}) {
        std::vector<uint32_t> numbers = SearchFile(f.get(), key);
        EXPECT_LE(c_->selection.selectedCount, kSelectedBlockMax);
        EXPECT_LE(c_->selection.groupCount, 256u);
        EXPECT_LE(c_->buffer.length, kDecompressedBlockMax);
        if (c_->dict.regionCount != 0) {
          EXPECT_LE(2u + 8u * c_->dict.regionCount, c_->dict.regionTableLength);
        }
        ExpectEntryTextsBounded((*c_->decoder.entry));
      }
    }
    if (section >= 0) start += size;
  }
}

#if defined(QOR3_FAULT_INJECTION)
// A block that inflate cannot get memory for is not taken for a damaged one: the walk stops
// with kOutOfMemory, so the search does not report the rest as the whole answer.
TEST_F(DictFileTest, ABlockThatCannotBeInflatedForWantOfMemoryStopsTheWalk) {
  File f = OpenImage(image_);
  ASSERT_TRUE(f);
  c_->dict.file = f.get();
  c_->keyNumber = 5000;
  uint8_t header[kDictHeaderSize];
  ASSERT_EQ(Dict_ReadHeader(c_.get(), header), Result::kOk);
  ASSERT_EQ(Dict_SelectNumberBlocks(c_.get()), 0);
  ASSERT_EQ(Dict_CollectGroups(c_.get()), Result::kOk);
  ASSERT_EQ(Dict_SelectEntryBlocks(c_.get()), 0);
  Mem_FailFrom(1);
  Result status = Result::kOk;
  EXPECT_TRUE(ReadNumbers(c_.get(), 0, &status).empty());
  Mem_ResetFaults();
  EXPECT_EQ(status, Result::kOutOfMemory);
  EXPECT_EQ(ReadNumbers(c_.get(), 0, &status),
            (std::vector<uint32_t>{1000, 5000, 5000, 5000, 5000}));
  EXPECT_EQ(status, Result::kOk);
  c_->dict.file = nullptr;
}
#endif

TEST(UncompressBufferTest, DecompressesWithinTheCapacityOnly) {
  Bytes raw(1000);
  for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<uint8_t>(i * 7);
  Bytes z = Compress(raw);
  Bytes out(1000);
  uint32_t length = 0;
  ASSERT_EQ(UncompressBuffer(z.data(), static_cast<uint32_t>(z.size()), out.data(), 1000,
                             &length),
            Result::kOk);
  EXPECT_EQ(length, 1000u);
  EXPECT_EQ(out, raw);
  EXPECT_EQ(UncompressBuffer(z.data(), static_cast<uint32_t>(z.size()), out.data(), 1000,
                             nullptr),
            Result::kOk);
  EXPECT_EQ(UncompressBuffer(z.data(), static_cast<uint32_t>(z.size()), out.data(), 999,
                             &length),
            Result::kDamaged);
  EXPECT_EQ(UncompressBuffer(z.data(), static_cast<uint32_t>(z.size()) - 1, out.data(), 1000,
                             &length),
            Result::kDamaged);
  EXPECT_EQ(UncompressBuffer(raw.data(), 100, out.data(), 1000, &length), Result::kDamaged);
  EXPECT_EQ(UncompressBuffer(z.data(), 0, out.data(), 1000, &length), Result::kDamaged);
}

#if defined(QOR3_FAULT_INJECTION)
TEST(UncompressBufferTest, AllocationFailureFailsCleanly) {
  Bytes raw(500, 9);
  Bytes z = Compress(raw);
  Bytes out(500);
  long live = Mem_LiveBlocks();
  for (unsigned long n = 1; n <= 3; ++n) {
    Mem_FailFrom(n);
    const Result r =
        UncompressBuffer(z.data(), static_cast<uint32_t>(z.size()), out.data(), 500, nullptr);
    Mem_ResetFaults();
    EXPECT_EQ(Mem_LiveBlocks(), live);
    if (r == Result::kOk) {
      EXPECT_EQ(out, raw);
      break;
    }
    EXPECT_EQ(r, Result::kOutOfMemory);
  }
  EXPECT_EQ(UncompressBuffer(raw.data(), 100, out.data(), 500, nullptr), Result::kDamaged)
      << "damage is not a want of memory";
  EXPECT_EQ(Mem_LiveBlocks(), live);
}
#endif

}  // namespace
