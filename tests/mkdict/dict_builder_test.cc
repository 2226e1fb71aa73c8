// Byte-level checks of the dictionaries the builder writes: header and sections, filters,
// region table, area code sets, block and index layout and the entry and item coding. The
// blocks are taken apart here by a small decoder written from the file layout.
#include "mkdict/dict_builder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "dict/dict_format.h"
#include "dict/surname_table.h"
#include "support/test_dicts.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t U16(const Bytes& b, size_t p) { return uint32_t{b.at(p)} << 8 | b.at(p + 1); }
uint32_t U24(const Bytes& b, size_t p) { return U16(b, p) << 8 | b.at(p + 2); }
uint32_t U32(const Bytes& b, size_t p) { return U16(b, p) << 16 | U16(b, p + 2); }

struct Image {
  Bytes bytes;
  uint32_t size[7] = {};
  size_t start[8] = {};
  Bytes Section(int i) const {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(start[i]),
                 bytes.begin() + static_cast<std::ptrdiff_t>(start[i + 1]));
  }
};

Image Parse(Bytes bytes) {
  Image image;
  image.bytes = std::move(bytes);
  for (int i = 0; i < kDictSectionCount; ++i) image.size[i] = TestSectionSize(image.bytes, i);
  for (int i = 0; i <= kDictSectionCount; ++i) image.start[i] = TestSectionStart(image.bytes, i);
  return image;
}

Image Build(const std::vector<TestListing>& listings, const TestDictOptions& options = {},
            DictBuildStats* stats = nullptr) {
  Bytes bytes;
  std::string error;
  EXPECT_TRUE(BuildTestDict(listings, options, &bytes, &error, stats)) << error;
  return Parse(std::move(bytes));
}

Bytes Uncompress(const Bytes& source) {
  Bytes out(150000);
  uLongf length = out.size();
  EXPECT_EQ(uncompress(out.data(), &length, source.data(), source.size()), Z_OK);
  EXPECT_LE(source.size(), 65000u);
  out.resize(length);
  return out;
}

struct IndexRecord {
  uint32_t size = 0;
  uint32_t region = 0;
  std::string first, last;
};

std::vector<IndexRecord> EntryIndex(const Image& image, std::vector<Bytes>* blocks,
                                   std::vector<Bytes>* streams = nullptr) {
  Bytes s = image.Section(6);
  uint32_t length = U16(s, 0);
  size_t p = 6, data = 6 + length, offset = 0;
  std::vector<IndexRecord> records;
  while (p < 6 + length) {
    IndexRecord r;
    r.size = U16(s, p);
    r.region = U16(s, p + 2);
    p += 4;
    while (s.at(p) != 0) r.first.push_back(static_cast<char>(s[p++]));
    ++p;
    while (s.at(p) != 0) r.last.push_back(static_cast<char>(s[p++]));
    ++p;
    Bytes compressed(s.begin() + static_cast<std::ptrdiff_t>(data + offset),
                     s.begin() + static_cast<std::ptrdiff_t>(data + offset + r.size));
    blocks->push_back(Uncompress(compressed));
    if (streams != nullptr) streams->push_back(compressed);
    offset += r.size;
    records.push_back(r);
  }
  EXPECT_EQ(p, 6 + length);
  EXPECT_EQ(U32(s, 2), offset) << "D6";
  EXPECT_EQ(s.size(), data + offset) << "S6 = 6 + L6 + D6";
  return records;
}

struct NumberRecord {
  uint32_t first = 0, last = 0;
  std::vector<std::pair<uint32_t, uint32_t>> items;  // number, group
};

std::vector<NumberRecord> NumberIndex(const Image& image) {
  Bytes s = image.Section(5);
  uint32_t length = U16(s, 0);
  EXPECT_EQ(length % 10, 0u);
  size_t data = 6 + length, offset = 0;
  std::vector<NumberRecord> records;
  for (size_t p = 6; p < 6 + length; p += 10) {
    uint32_t size = U16(s, p);
    NumberRecord r;
    r.first = U32(s, p + 2);
    r.last = U32(s, p + 6);
    Bytes block = Uncompress(Bytes(s.begin() + static_cast<std::ptrdiff_t>(data + offset),
                                   s.begin() + static_cast<std::ptrdiff_t>(data + offset + size)));
    offset += size;
    uint32_t sum = 0;
    for (size_t q = 0; q < block.size();) {
      uint32_t length = (block[q] >> 6) + 1u;
      uint32_t delta = block[q] & 0x3Fu;
      for (uint32_t k = 1; k < length; ++k) delta = delta << 8 | block.at(q + k);
      sum += delta;
      r.items.push_back({sum, block.at(q + length)});
      q += length + 1;
    }
    records.push_back(r);
  }
  EXPECT_EQ(U32(s, 2), offset) << "D5";
  EXPECT_EQ(s.size(), data + offset) << "S5 = 6 + L5 + D5";
  return records;
}

// One entry as coded, with the decoded texts.
struct Coded {
  uint8_t flags = 0;
  bool shortNumber = false;
  int surname = -1;       // kind 1: the surname index, when coded
  int sharedChars = -1;   // kind 2: the shared count
  int sharedBytes = -1;   // address 2: the shared count (-1: same as previous)
  int kind = 0;
  uint32_t postal = 0, region = 0, number = 0;
  std::string name, address1, address2;
  uint32_t word = 0;
};

std::vector<Coded> DecodeBlock(const Bytes& b, bool correction) {
  std::vector<Coded> out;
  Coded previous;
  uint32_t high = 0;
  size_t p = 0;
  auto run = [&](std::string* text) {
    while (p < b.size() && (b[p] & 0x80)) {
      text->push_back(static_cast<char>(b[p]));
      text->push_back(static_cast<char>(b.at(p + 1)));
      p += 2;
    }
  };
  while (p < b.size()) {
    Coded c;
    c.flags = b[p++];
    EXPECT_LT(c.flags, 0x20);
    c.postal = c.flags & 0x08 ? previous.postal : (p += 3, U24(b, p - 3));
    c.region = c.flags & 0x04 ? previous.region : (p += 2, U16(b, p - 2));
    if (c.flags & 0x02) {
      c.address1 = previous.address1;
    } else {
      run(&c.address1);
    }
    if (b.at(p) & 0x40) {
      c.shortNumber = true;
      c.number = high * 10000 + (U16(b, p) & 0x3FFF);
      p += 2;
    } else {
      c.number = U32(b, p);
      high = c.number / 10000;
      p += 4;
    }
    if (c.flags & 0x10) {
      c.kind = 2;
      c.sharedChars = 0;
      if (p < b.size() && b[p] < 0x80) c.sharedChars = b[p++];
      c.name = previous.name.substr(0, 2 * static_cast<size_t>(c.sharedChars));
    } else {
      c.kind = 1;
      if (p < b.size() && b[p] < 0x80) {
        c.surname = static_cast<int>(U16(b, p));
        p += 2;
        c.name = SurnameTable_Get(static_cast<uint32_t>(c.surname));
      }
    }
    run(&c.name);
    if (c.flags & 0x01) {
      c.address2 = previous.address2;
    } else {
      c.sharedBytes = b.at(p++);
      c.address2 = previous.address2.substr(0, static_cast<size_t>(c.sharedBytes));
      while (p < b.size() && b[p] >= 0x20) c.address2.push_back(static_cast<char>(b[p++]));
    }
    if (correction) {
      c.word = U16(b, p);
      p += 2;
    }
    out.push_back(c);
    previous = c;
  }
  return out;
}

std::vector<Listing> Sorted(const std::vector<TestListing>& listings, bool correction = false) {
  std::vector<Listing> converted;
  std::string error;
  EXPECT_TRUE(ConvertTestListings(listings, correction, &converted, &error)) << error;
  std::stable_sort(converted.begin(), converted.end(),
                   [](const Listing& a, const Listing& b) { return Listing_Compare(a, b) < 0; });
  return converted;
}

// 佐藤 太郎, 鈴木 花子, 東京都, 千代田区, 中央区, 大阪府, 丸の内, 銀座
const std::string kSatoTaro = "\u4F50\u85E4 \u592A\u90CE";
const std::string kSuzukiHanako = "\u9234\u6728 \u82B1\u5B50";
const std::string kTokyo = "\u6771\u4EAC\u90FD", kChiyoda = "\u5343\u4EE3\u7530\u533A";
const std::string kChuo = "\u4E2D\u592E\u533A", kOsaka = "\u5927\u962A\u5E9C";
const std::string kMarunouchi = "\u4E38\u306E\u5185", kGinza = "\u9280\u5EA7";

TestListing Person(uint32_t region, const std::string& number, const std::string& name,
                   const std::string& address1, const std::string& address2 = "") {
  TestListing l;
  l.kind = 1;
  l.regionCode = region;
  l.number = number;
  l.name = name;
  l.address1 = address1;
  l.address2 = address2;
  l.regionName1 = region == 27100 ? kOsaka : kTokyo;
  l.regionName2 = region == 13101 ? kChiyoda : kChuo;
  return l;
}

TestListing Business(uint32_t region, const std::string& number, const std::string& name,
                     const std::string& address1, const std::string& address2 = "") {
  TestListing l = Person(region, number, name, address1, address2);
  l.kind = 2;
  return l;
}

std::set<uint32_t> SetBits(const Bytes& bits) {
  std::set<uint32_t> out;
  for (uint32_t i = 0; i < bits.size() * 8; ++i) {
    if (bits[i / 8] & (0x80 >> (i % 8))) out.insert(i);
  }
  return out;
}

TEST(DictBuilderTest, HeaderAndSectionSizesAddUpToTheFile) {
  TestDictOptions options;
  options.edition1 = 20240315;
  options.edition2 = 7;
  Image image = Build({Person(13101, "03-1234-5678", kSatoTaro, kMarunouchi)}, options);
  ASSERT_GE(image.bytes.size(), 256u);
  EXPECT_EQ(U32(image.bytes, 4), 20240315u);
  EXPECT_EQ(U32(image.bytes, 8), 7u);
  EXPECT_EQ(image.start[7], image.bytes.size());
  EXPECT_EQ(image.size[0], 125u);
  EXPECT_EQ(image.size[1], 12500u);
  for (size_t i : {0, 1, 2, 3, 12, 20, 34, 63, 255}) EXPECT_EQ(image.bytes[i], 0) << i;
}

TEST(DictBuilderTest, PrefixAndSuffixFiltersHoldExactlyTheFilesNumbers) {
  Image image = Build({Person(13101, "03-1234-5678", kSatoTaro, kMarunouchi),
                       Person(13101, "0422-33-1111", kSatoTaro, kMarunouchi),
                       Person(13101, "0126-7-1234", kSuzukiHanako, kMarunouchi),  // nine digits
                       Person(13101, "090-000-0001", kSuzukiHanako, kMarunouchi)});
  EXPECT_EQ(SetBits(image.Section(0)), (std::set<uint32_t>{312, 422, 126, 900}));
  EXPECT_EQ(SetBits(image.Section(1)), (std::set<uint32_t>{45678, 31111, 71234, 1}));
}

TEST(DictBuilderTest, RegionTableHasOneRecordPerCodeAndSharesEqualNames) {
  Image image = Build({Person(27100, "06-1111-2222", kSatoTaro, kGinza),
                       Person(13102, "03-1111-2222", kSatoTaro, kGinza),
                       Person(13101, "03-1111-3333", kSatoTaro, kGinza),
                       Person(13102, "03-1111-4444", kSatoTaro, kGinza)});
  Bytes t = image.Section(2);
  ASSERT_EQ(U16(t, 0), 3u);
  size_t strings = 2 + 8 * 3;
  auto name = [&](uint32_t offset) { return std::string(reinterpret_cast<const char*>(&t.at(strings + offset))); };
  const uint32_t codes[] = {13101, 13102, 27100};
  const std::string names1[] = {kTokyo, kTokyo, kOsaka}, names2[] = {kChiyoda, kChuo, kChuo};
  for (int i = 0; i < 3; ++i) {
    size_t r = 2 + 8 * static_cast<size_t>(i);
    EXPECT_EQ(U16(t, r), codes[i]);
    EXPECT_EQ(name(U16(t, r + 4)), TestCp932(names1[i]));
    EXPECT_EQ(name(U16(t, r + 6)), TestCp932(names2[i]));
  }
  EXPECT_EQ(U16(t, 2 + 4), U16(t, 10 + 4)) << "東京都 stored once";
  EXPECT_EQ(U16(t, 10 + 6), U16(t, 18 + 6)) << "中央区 stored once";
  size_t area = TestCp932(kTokyo + kChiyoda + kChuo + kOsaka).size() + 4;
  EXPECT_EQ(t.size(), strings + area) << "each distinct name once";
}

TEST(DictBuilderTest, AreaCodeSetsHoldTheCodesWithoutTheirLeadingZero) {
  TestDictOptions options;
  options.areaCodes = {"0422", "03", "01267", "03"};
  options.extendedAreaCodes = {"0425"};
  Image image = Build({Person(13101, "03-1234-5678", kSatoTaro, kMarunouchi)}, options);
  Bytes a = image.Section(3), e = image.Section(4);
  ASSERT_EQ(a.size(), 2u + 3 * 3);
  EXPECT_EQ(U16(a, 0), 3u);
  EXPECT_EQ(U24(a, 2), 3u);
  EXPECT_EQ(U24(a, 5), 422u);
  EXPECT_EQ(U24(a, 8), 1267u);
  ASSERT_EQ(e.size(), 2u + 3);
  EXPECT_EQ(U24(e, 2), 425u);
  EXPECT_EQ(Build({Person(13101, "03-1234-5678", kSatoTaro, kMarunouchi)}).Section(3),
            (Bytes{0, 0}));
}

// Many listings of three regions, kinds mixed, numbers repeated.
std::vector<TestListing> Mixed() {
  std::vector<TestListing> listings;
  const std::string streets[] = {kGinza, kMarunouchi, "\u4E38\u306E\u5185\u4E8C"};
  for (int i = 0; i < 40; ++i) {
    uint32_t region = i % 3 == 0 ? 13101 : (i % 3 == 1 ? 13102 : 27100);
    std::string number = "03-12" + std::to_string(10 + i % 7) + "-" + std::to_string(1000 + i);
    const std::string& street = streets[i % 3];
    std::string address2 = std::to_string(i % 4) + "-" + std::to_string(i % 5);
    if (i % 4 == 1) {
      listings.push_back(Business(region, number, "\u682A\u5F0F\u4F1A\u793E ABC", street, address2));
    } else {
      listings.push_back(Person(region, number, i % 2 ? kSatoTaro : kSuzukiHanako, street, address2));
    }
  }
  return listings;
}

TEST(DictBuilderTest, EntriesComeBackInEntryOrderFromBlocksOfOneRegionEach) {
  TestDictOptions options;
  options.maxEntriesPerBlock = 3;
  DictBuildStats stats;
  std::vector<TestListing> listings = Mixed();
  Image image = Build(listings, options, &stats);
  std::vector<Bytes> blocks;
  std::vector<IndexRecord> records = EntryIndex(image, &blocks);
  EXPECT_EQ(stats.entryBlocks, records.size());
  EXPECT_GE(records.size(), 14u);
  std::vector<Listing> expected = Sorted(listings);
  size_t next = 0;
  for (size_t k = 0; k < records.size(); ++k) {
    SCOPED_TRACE("block " + std::to_string(k));
    std::vector<Coded> entries = DecodeBlock(blocks[k], false);
    ASSERT_FALSE(entries.empty());
    ASSERT_LE(entries.size(), 3u);
    // The first entry codes everything: no same-as-previous bits, the long number form;
    // its kind only through bit 0x10 with a shared count of 0.
    EXPECT_EQ(entries[0].flags & 0x0F, 0);
    EXPECT_FALSE(entries[0].shortNumber);
    if (entries[0].kind == 2) {
      EXPECT_EQ(entries[0].sharedChars, 0);
    }
    EXPECT_EQ(records[k].first, entries.front().address1);
    EXPECT_EQ(records[k].last, entries.back().address1);
    if (k > 0) {
      EXPECT_TRUE(records[k - 1].region < records[k].region ||
                  (records[k - 1].region == records[k].region &&
                   records[k - 1].last <= records[k].first));
    }
    for (const Coded& c : entries) {
      ASSERT_LT(next, expected.size());
      const Listing& e = expected[next++];
      EXPECT_EQ(c.region, records[k].region) << "one region code per block";
      EXPECT_EQ(c.region, e.regionCode);
      EXPECT_EQ(c.kind, e.kind);
      EXPECT_EQ(c.number, e.number);
      EXPECT_EQ(c.postal, e.postal);
      EXPECT_EQ(c.name, e.name);
      EXPECT_EQ(c.address1, e.address1);
      EXPECT_EQ(c.address2, e.address2);
    }
  }
  EXPECT_EQ(next, expected.size());
}

TEST(DictBuilderTest, NumberItemsPointAtTheBlocksThatHoldTheNumbers) {
  std::vector<TestListing> listings = Mixed();
  for (int i = 0; i < 5; ++i) {  // one number in five entries, in several blocks
    listings.push_back(Person(13102, "03-9999-0000", i % 2 ? kSatoTaro : kSuzukiHanako,
                              i % 2 ? kGinza : kMarunouchi, std::to_string(i)));
  }
  TestDictOptions options;
  options.maxEntriesPerBlock = 2;
  options.maxItemsPerNumberBlock = 3;
  Image image = Build(listings, options);
  std::vector<Bytes> blocks;
  std::vector<IndexRecord> records = EntryIndex(image, &blocks);
  std::vector<std::vector<Coded>> decoded;
  for (const Bytes& b : blocks) decoded.push_back(DecodeBlock(b, false));

  std::vector<NumberRecord> numberRecords = NumberIndex(image);
  std::vector<uint32_t> all;
  size_t spanning = 0;
  for (size_t k = 0; k < numberRecords.size(); ++k) {
    const NumberRecord& r = numberRecords[k];
    ASSERT_FALSE(r.items.empty());
    ASSERT_LE(r.items.size(), 3u);
    EXPECT_EQ(r.first, r.items.front().first);
    EXPECT_EQ(r.last, r.items.back().first);
    if (r.first <= 399990000 && 399990000 <= r.last) ++spanning;
    for (auto [number, group] : r.items) {
      ASSERT_LT(group, decoded.size());
      const auto& entries = decoded[group];
      EXPECT_TRUE(std::any_of(entries.begin(), entries.end(),
                              [&](const Coded& c) { return c.number == number; }))
          << number << " not in block " << group;
      all.push_back(number);
    }
  }
  EXPECT_TRUE(std::is_sorted(all.begin(), all.end()));
  EXPECT_EQ(all.size(), listings.size()) << "one item per occurrence";
  EXPECT_EQ(std::count(all.begin(), all.end(), 399990000u), 5);
  EXPECT_GE(spanning, 2u) << "the repeated number spans number blocks";
}

TEST(DictBuilderTest, ShortNumberFormFollowsALongFormWithTheSameHighDigits) {
  std::vector<TestListing> listings;
  for (const char* number : {"03-1234-5678", "03-1234-0001", "03-1235-0000", "03-1235-9999"}) {
    listings.push_back(Person(13101, number, kSatoTaro, kMarunouchi));
  }
  std::vector<Bytes> blocks;
  EntryIndex(Build(listings), &blocks);
  ASSERT_EQ(blocks.size(), 1u);
  std::vector<Coded> entries = DecodeBlock(blocks[0], false);
  ASSERT_EQ(entries.size(), 4u);
  const uint32_t numbers[] = {312340001, 312345678, 312350000, 312359999};
  const bool shortForm[] = {false, true, false, true};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(entries[i].number, numbers[i]);
    EXPECT_EQ(entries[i].shortNumber, shortForm[i]) << i;
    if (i > 0) {
      EXPECT_EQ(entries[i].flags, 0x0F) << "all same-as-previous bits";
    }
  }
}

TEST(DictBuilderTest, PersonNamesUseTheSurnameIndexAndBusinessNamesTheSharedCount) {
  const std::string company = "\u682A\u5F0F\u4F1A\u793E";  // 株式会社
  std::vector<TestListing> listings = {
      Person(13101, "03-1111-0001", kSatoTaro, kGinza),
      Person(13101, "03-1111-0002", "\uFF38\uFF39\uFF3A", kGinza),  // ＸＹＺ: no surname
      Business(13101, "03-1111-0003", company + "ABC", kGinza, "1-2-3 Bldg"),
      Business(13101, "03-1111-0004", company + "ABD", kGinza, "1-2-3 Bldg 5F"),
      Business(13101, "03-1111-0005", kSatoTaro, kMarunouchi, "1-2-4"),
  };
  std::vector<Bytes> blocks;
  EntryIndex(Build(listings), &blocks);
  ASSERT_EQ(blocks.size(), 1u);
  std::vector<Coded> entries = DecodeBlock(blocks[0], false);
  ASSERT_EQ(entries.size(), 5u);
  // Entry order: 丸の内 sorts before 銀座; within 銀座 address 2 "" comes first, and of the two
  // persons ＸＹＺ (0x82..) before 佐藤 (0x8D..).
  int sato = SurnameTable_FindPrefix(TestCp932("\u4F50\u85E4\u3000").data(), 6);
  ASSERT_GE(sato, 0);
  EXPECT_EQ(entries[0].kind, 2);
  EXPECT_EQ(entries[0].flags, 0x10);
  EXPECT_EQ(entries[0].surname, -1) << "business names are never surname-coded";
  EXPECT_EQ(entries[0].sharedChars, 0);
  EXPECT_EQ(entries[0].name, TestCp932(kSatoTaro, true));
  EXPECT_EQ(entries[1].kind, 1);
  EXPECT_EQ(entries[1].surname, -1);
  EXPECT_EQ(entries[1].name, TestCp932("\uFF38\uFF39\uFF3A"));
  EXPECT_EQ(entries[1].sharedBytes, 0);
  EXPECT_EQ(entries[2].surname, sato);
  EXPECT_EQ(entries[2].name, TestCp932(kSatoTaro, true));
  EXPECT_EQ(entries[2].sharedBytes, -1) << "address 2 as previous";
  EXPECT_EQ(entries[3].kind, 2);
  EXPECT_EQ(entries[3].sharedChars, 0);
  EXPECT_EQ(entries[3].address2, "1-2-3 Bldg");
  EXPECT_EQ(entries[4].sharedChars, 6) << "株式会社ＡＢ";
  EXPECT_EQ(entries[4].name, TestCp932(company + "ABD", true));
  EXPECT_EQ(entries[4].sharedBytes, 10) << "1-2-3 Bldg";
  EXPECT_EQ(entries[4].address2, "1-2-3 Bldg 5F");
}

TEST(DictBuilderTest, BlocksStartAtPersonEntriesWhereTheyCan) {
  std::vector<TestListing> listings;
  for (int i = 0; i < 600; ++i) {
    std::string number = "03-" + std::to_string(2000 + i) + "-" + std::to_string(1000 + i);
    std::string address2 = std::to_string(i);
    while (address2.size() < 4) address2 = "0" + address2;
    if (i % 3 == 0) {
      listings.push_back(Person(13101, number, kSatoTaro, kGinza, address2));
    } else {
      listings.push_back(Business(13101, number, "\u682A\u5F0F\u4F1A\u793E", kGinza, address2));
    }
  }
  TestDictOptions options;
  options.blockBytes = 1024;
  DictBuildStats stats;
  std::vector<Bytes> blocks;
  EntryIndex(Build(listings, options, &stats), &blocks);
  ASSERT_GE(blocks.size(), 4u);
  EXPECT_EQ(stats.blocksStartingWithKind2, 0u);
  for (size_t k = 0; k < blocks.size(); ++k) {
    std::vector<Coded> entries = DecodeBlock(blocks[k], false);
    EXPECT_EQ(entries.front().kind, 1) << k;
    if (k + 1 < blocks.size()) {
      EXPECT_GE(blocks[k].size(), 1024u) << k;
    }
  }

  // Forced to cut at a business entry, the block starts with bit 0x10 and a count of 0.
  options.maxEntriesPerBlock = 1;
  options.blockBytes = 32768;
  listings.resize(3);
  blocks.clear();
  EntryIndex(Build(listings, options, &stats), &blocks);
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(stats.blocksStartingWithKind2, 2u);
  std::vector<Coded> second = DecodeBlock(blocks[1], false);
  EXPECT_EQ(second[0].flags, 0x10);
  EXPECT_EQ(second[0].sharedChars, 0);
  EXPECT_EQ(second[0].name, TestCp932("\u682A\u5F0F\u4F1A\u793E"));
}

TEST(DictBuilderTest, IndexTextsAreCutOnACharacterBoundary) {
  std::string longStreet;
  for (int i = 0; i < 100; ++i) longStreet += "\u6F22";  // 200 bytes
  std::vector<Bytes> blocks;
  std::vector<IndexRecord> records =
      EntryIndex(Build({Person(13101, "03-1234-5678", kSatoTaro, longStreet)}), &blocks);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].first, TestCp932(longStreet).substr(0, 82));
  EXPECT_EQ(records[0].last, records[0].first);
  EXPECT_EQ(DecodeBlock(blocks[0], false)[0].address1.size(), 200u);
}

TEST(DictBuilderTest, CorrectionWordsCarryTheKindAndTheVersion) {
  std::vector<TestListing> listings = {Person(13101, "03-1111-0001", kSatoTaro, kGinza),
                                       Person(13101, "03-1111-0002", kSatoTaro, kGinza)};
  listings[0].add = true;
  listings[0].version = 2047;
  listings[1].add = false;
  listings[1].version = 2612;  // above 2047: bit 12 and the months from January 2021
  TestDictOptions options;
  options.correction = true;
  std::vector<Bytes> blocks;
  EntryIndex(Build(listings, options), &blocks);
  ASSERT_EQ(blocks.size(), 1u);
  std::vector<Coded> entries = DecodeBlock(blocks[0], true);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].word, 0x0800u | 2047);
  EXPECT_EQ(entries[1].word, 0x1000u | 71);
  EXPECT_EQ(entries[1].number, 311110002u);
}

TEST(DictBuilderTest, AnEmptyDictionaryIsWellFormed) {
  Image image = Build({});
  EXPECT_EQ(image.start[7], image.bytes.size());
  EXPECT_EQ(image.Section(2), (Bytes{0, 0}));
  EXPECT_EQ(image.Section(5), Bytes(6, 0));
  EXPECT_EQ(image.Section(6), Bytes(6, 0));
}

TEST(DictBuilderTest, RaisesTheBlockTargetToStayWithin256Blocks) {
  std::vector<TestListing> listings;
  for (int i = 0; i < 20000; ++i) {
    listings.push_back(Person(13101, "03-" + std::to_string(1000 + i / 10) + "-" +
                                         std::to_string(1000 + i % 10 * 7),
                              kSatoTaro, kGinza, "Room " + std::to_string(i) + " Building"));
  }
  TestDictOptions options;
  options.blockBytes = 1024;
  DictBuildStats stats;
  Image image = Build(listings, options, &stats);
  EXPECT_LE(stats.entryBlocks, 256u);
  EXPECT_GT(stats.entryBlockBytes, 1024u);
  std::vector<Bytes> blocks;
  EntryIndex(image, &blocks);
  EXPECT_EQ(blocks.size(), stats.entryBlocks);
  for (const Bytes& b : blocks) EXPECT_LE(b.size(), 150000u);
}

// Blocks that deflate saves little on are stored (deflate block type 0), the others
// compressed; both are zlib streams that inflate to the coded entries.
TEST(DictBuilderTest, StoresTheBlocksCompressionSavesLittleOn) {
  uint32_t state = 12345;
  auto noise = [&state](size_t n) {
    std::string text;
    for (size_t i = 0; i < n; ++i) {
      state = state * 1103515245u + 12345u;
      text.push_back(static_cast<char>('!' + (state >> 16) % 94));
    }
    return text;
  };
  std::vector<TestListing> listings;
  for (int i = 0; i < 40; ++i) {  // region 13101: the same address over and over
    listings.push_back(Person(13101, "03-3000-" + std::to_string(1000 + i), kSatoTaro, kGinza,
                              "Room 1 Building"));
  }
  for (int i = 0; i < 40; ++i) {  // region 13102: addresses that do not repeat
    listings.push_back(Person(13102, "03-4000-" + std::to_string(1000 + i), kSatoTaro, kGinza,
                              noise(60)));
  }
  TestDictOptions options;
  options.blockBytes = 1024;
  Image image = Build(listings, options);
  std::vector<Bytes> blocks, streams;
  std::vector<IndexRecord> records = EntryIndex(image, &blocks, &streams);
  size_t stored = 0, compressed = 0;
  for (size_t k = 0; k < records.size(); ++k) {
    SCOPED_TRACE("block " + std::to_string(k));
    ASSERT_GE(streams[k].size(), 3u);
    const bool isStored = (streams[k][2] >> 1 & 3) == 0;
    if (records[k].region == 13101) {
      EXPECT_FALSE(isStored);
      EXPECT_LE(streams[k].size() * 4, blocks[k].size() * 3);
      ++compressed;
    } else {
      EXPECT_TRUE(isStored);
      EXPECT_EQ(streams[k].size(), blocks[k].size() + 11) << "header, stored head, Adler-32";
      ++stored;
    }
  }
  EXPECT_GT(stored, 0u);
  EXPECT_GT(compressed, 0u);
}

TEST(DictBuilderTest, RefusesWhatCannotFitOrBeRead) {
  std::vector<TestListing> listings;
  for (int i = 0; i < 257; ++i) listings.push_back(Person(13101, "03-1234-5678", kSatoTaro, kGinza));
  Bytes image;
  std::string error;
  EXPECT_FALSE(BuildTestDict(listings, {}, &image, &error));
  EXPECT_NE(error.find("number 0312345678 occurs in 257 entries, at most 256"), std::string::npos)
      << error;
  listings.pop_back();
  EXPECT_TRUE(BuildTestDict(listings, {}, &image, &error)) << error;

  TestDictOptions options;
  options.maxEntriesPerBlock = 1;
  listings.clear();
  for (int i = 0; i < 257; ++i) {
    listings.push_back(Person(13101, "03-1234-" + std::to_string(1000 + i), kSatoTaro, kGinza));
  }
  EXPECT_FALSE(BuildTestDict(listings, options, &image, &error));
  EXPECT_NE(error.find("data cannot fit in one dictionary: it needs 257 entry blocks"),
            std::string::npos)
      << error;

  // Listings handed to the library directly are checked too.
  Listing ascii;
  ascii.name = "ABC";
  ascii.line = 7;
  DictBuildStats stats;
  EXPECT_FALSE(DictBuilder_Build({ascii}, {}, &image, &stats, &error));
  EXPECT_EQ(error, "line 7, field name: not made of double-byte characters");
}

}  // namespace
