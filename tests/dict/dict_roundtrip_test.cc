// Builder and reader together: a few thousand varied listings, forced into many small blocks,
// decode back through the reader to exactly the input in entry order, and the number index
// leads every number to every block that holds it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/damage.h"
#include "dict/decoded_block.h"
#include "mkdict/dict_builder.h"
#include "search/dict_reader.h"
#include "dict/surname_table.h"
#include "support/temp_dir.h"
#include "support/test_dicts.h"

namespace {

struct Decoded {
  uint32_t region, kind, number, postal;
  std::string name, address1, address2, regionName1, regionName2;
  uint32_t correctionKind;
  std::string version;
  std::string texts;  // region code, kind, number and postal texts
  bool operator==(const Decoded&) const = default;
};

// Listings in CP932 exercising every coding the builder has: repeated numbers (also across
// blocks), runs of numbers with equal high digits (short form), table surnames, business
// names sharing long prefixes, address text 2 sharing prefixes, several regions.
std::vector<Listing> VariedListings(bool correction) {
  std::mt19937 random(20240101);
  auto pick = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
  const std::string given[] = {TestCp932("太郎"), TestCp932("花子"), TestCp932("一"),
                               TestCp932("健太郎")};
  const std::string business[] = {TestCp932("株式会社山田製作所"), TestCp932("株式会社山田商店"),
                                  TestCp932("株式会社山田"), TestCp932("さくら歯科医院"),
                                  TestCp932("有限会社ＡＢＣ")};
  const std::string towns[] = {TestCp932("丸の内"), TestCp932("丸の内二丁目"), TestCp932("銀座"),
                               TestCp932("霞が関")};
  const struct {
    uint32_t code;
    std::string name1, name2;
  } regions[] = {{13101, TestCp932("東京都"), TestCp932("千代田区")},
                 {13102, TestCp932("東京都"), TestCp932("中央区")},
                 {13103, TestCp932("東京都"), TestCp932("港区")}};
  std::vector<Listing> listings;
  std::vector<uint32_t> numbers;
  for (int i = 0; i < 3000; ++i) {
    Listing l;
    const auto& region = regions[pick(3)];
    l.regionCode = region.code;
    l.regionName1 = region.name1;
    l.regionName2 = region.name2;
    l.kind = pick(4) == 0 ? 2 : 1;
    if (!numbers.empty() && pick(8) == 0) {
      l.number = numbers[pick(static_cast<uint32_t>(numbers.size()))];
    } else if (pick(3) == 0) {
      l.number = 312340000 + pick(40);  // 03-1234-00xx: one high part, short forms
    } else {
      l.number = pick(2) ? 312000000 + pick(1000000) : 422000000 + pick(1000000);
    }
    numbers.push_back(l.number);
    l.postal = 1000000 + pick(9999);
    if (l.kind == 1) {
      // Mostly table surnames (coded by index), now and then a name outside the table.
      const uint32_t s = pick(8192);
      l.name = pick(10) == 0 ? TestCp932("ン") + given[pick(4)]
                             : std::string(SurnameTable_Get(s), SurnameTable_Length(s)) +
                                   given[pick(4)];
    } else {
      l.name = business[pick(5)];
    }
    l.address1 = towns[pick(4)];
    l.address2 = std::to_string(1 + pick(3)) + "-" + std::to_string(1 + pick(12)) +
                 (pick(5) == 0 ? "-" + std::to_string(pick(30)) : "");
    if (correction) {
      l.correctionAdd = pick(2) == 0;
      l.correctionVersion = pick(2048);
    }
    listings.push_back(l);
  }
  std::stable_sort(listings.begin(), listings.end(),
                   [](const Listing& a, const Listing& b) { return Listing_Compare(a, b) < 0; });
  return listings;
}

struct ReadBack {
  std::vector<Decoded> entries;
};

int Collect(const DictEntry* entry, void* user) {
  const DictEntry& e = *entry;
  static_cast<ReadBack*>(user)->entries.push_back(
      {e.regionCode, e.kind, e.number, e.postal, e.name, e.address1, e.address2, e.regionName1,
       e.regionName2, e.correctionKind, e.correctionVersionText,
       std::string(e.regionCodeText) + '/' + e.kindText + '/' + e.numberText + '/' +
           e.postalText});
  return 0;
}

class DictRoundTrip : public ::testing::TestWithParam<bool> {
 protected:
  // Builds the listings into a file and opens a context on it with header and region table read.
  void Open(const std::vector<Listing>& listings, bool correction) {
    DictBuildOptions options;
    options.edition1 = 20240101;
    options.edition2 = 1;
    options.correction = correction;
    options.maxEntriesPerBlock = 13;
    options.maxItemsPerNumberBlock = 17;
    std::vector<uint8_t> image;
    std::string error;
    ASSERT_TRUE(DictBuilder_Build(listings, options, &image, &stats_, &error)) << error;
    ASSERT_GT(stats_.entryBlocks, 200u);
    const std::string path = dir_.File("qor0101.dct");
    ASSERT_TRUE(DictBuilder_WriteFile(path, image, &error)) << error;
    FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    DictFile_Init(&reader_->dict, file);
    DictDecoder_Init(&reader_->decoder);
    uint8_t header[256];
    ASSERT_EQ(Dict_ReadHeader(&reader_->dict, header), Result::kOk);
    ASSERT_EQ(Dict_ReadRegionTable(&reader_->dict), Result::kOk);
  }

  void TearDown() override {
    if (reader_->dict.file != nullptr) std::fclose(reader_->dict.file);
    DictFile_Free(&reader_->dict);
  }

  ReadBack ReadSelected(int variant) {
    ReadBack back;
    if (reader_->dict.entryIndex == nullptr) Dict_ReadEntryIndex(&reader_->dict);
    EXPECT_EQ(Dict_SelectEntryBlocks(&reader_->dict, &reader_->selection), 0);
    EXPECT_EQ(Dict_ReadEntryBlocks(&reader_->dict, &reader_->selection, &reader_->buffer,
                                   &reader_->decoder, variant, Collect, &back),
              Result::kOk);
    // The same blocks in the compact form the searches read: every entry rebuilt alike.
    ReadBack compact;
    DecodedEntryBuilder builder;
    DecodedEntryBuilder_Init(&builder);
    const RegionTable regions = Dict_RegionTable(&reader_->dict);
    auto entry = std::make_unique<DictEntry>();
    for (uint32_t b = 0; b < reader_->selection.selectedCount; ++b) {
      const SelectedBlock& block = reader_->selection.selected[b];
      DecodedEntryBlock decoded;
      EXPECT_EQ(Dict_LoadBlock(&reader_->dict, 6, block.offset, block.size, &reader_->buffer),
                Result::kOk);
      EXPECT_EQ(DecodedEntryBuilder_Decode(&builder, &reader_->decoder, &regions,
                                           reader_->buffer.data, reader_->buffer.length, variant,
                                           &decoded),
                0);
      EXPECT_EQ(decoded.cut, 0);
      for (uint32_t i = 0; i < decoded.count; ++i) {
        DecodedEntry_Materialize(&decoded, i, &regions, i > 0, entry.get());
        Collect(entry.get(), &compact);
      }
    }
    DecodedEntryBuilder_Free(&builder);
    EXPECT_TRUE(compact.entries == back.entries);
    return back;
  }
  int SelectNumberBlocks(uint32_t key) {
    if (reader_->dict.numberIndex == nullptr) Dict_ReadNumberIndex(&reader_->dict);
    return Dict_SelectNumberBlocks(&reader_->dict, key, &reader_->selection);
  }
  Result CollectGroups(uint32_t key) {
    return Dict_CollectGroups(&reader_->dict, key, &reader_->buffer, &reader_->selection);
  }

  struct Reader {
    DictFile dict{};
    BlockSelection selection{};
    DictBlockBuffer buffer{};
    DictDecoder decoder{};
  };
  TempDir dir_;
  DictBuildStats stats_;
  std::unique_ptr<Reader> reader_ = std::make_unique<Reader>();
};

void ExpectSame(const Decoded& d, const Listing& l, bool correction) {
  EXPECT_EQ(d.region, l.regionCode);
  EXPECT_EQ(d.kind, static_cast<uint32_t>(l.kind));
  EXPECT_EQ(d.number, l.number);
  EXPECT_EQ(d.postal, l.postal);
  EXPECT_EQ(d.name, l.name);
  EXPECT_EQ(d.address1, l.address1);
  EXPECT_EQ(d.address2, l.address2);
  EXPECT_EQ(d.regionName1, l.regionName1);
  EXPECT_EQ(d.regionName2, l.regionName2);
  if (correction) {
    EXPECT_EQ(d.correctionKind, l.correctionAdd ? 1u : 2u);
    EXPECT_EQ(d.version, std::to_string(l.correctionVersion));
  }
}

TEST_P(DictRoundTrip, EveryBlockDecodesBackToTheListingsInEntryOrder) {
  const bool correction = GetParam();
  const std::vector<Listing> listings = VariedListings(correction);
  Open(listings, correction);
  ASSERT_LE(stats_.entryBlocks, kEntryBlockMax);
  reader_->selection.groupCount = 0;
  for (uint32_t k = 0; k < stats_.entryBlocks; ++k) {
    ASSERT_EQ(Dict_AppendGroup(&reader_->selection, k), 0);
  }
  Damage_Reset();
  ReadBack back = ReadSelected(correction ? 2 : 1);
  ASSERT_EQ(back.entries.size(), listings.size()) << Damage_FirstFile() << ":" << Damage_FirstLine();
  for (size_t i = 0; i < listings.size(); ++i) {
    SCOPED_TRACE("entry " + std::to_string(i));
    ExpectSame(back.entries[i], listings[i], correction);
    if (HasFailure()) return;
  }
}

TEST_P(DictRoundTrip, TheNumberIndexFindsEveryOccurrenceOfEveryNumber) {
  const bool correction = GetParam();
  const std::vector<Listing> listings = VariedListings(correction);
  Open(listings, correction);
  std::map<uint32_t, std::vector<const Listing*>> byNumber;
  for (const Listing& l : listings) byNumber[l.number].push_back(&l);
  size_t repeatedAcrossBlocks = 0;
  for (const auto& [number, holders] : byNumber) {
    SCOPED_TRACE("number " + std::to_string(number));
    ASSERT_EQ(SelectNumberBlocks(number), 0);
    ASSERT_EQ(CollectGroups(number), Result::kOk);
    ASSERT_EQ(reader_->selection.groupCount, holders.size()) << "one group number per occurrence";
    ReadBack back = ReadSelected(correction ? 2 : 1);
    std::vector<const Decoded*> found;
    for (const Decoded& d : back.entries) {
      if (d.number == number) found.push_back(&d);
    }
    ASSERT_EQ(found.size(), holders.size());
    for (size_t i = 0; i < holders.size(); ++i) ExpectSame(*found[i], *holders[i], correction);
    if (reader_->selection.selectedCount > 1) ++repeatedAcrossBlocks;
  }
  EXPECT_GT(repeatedAcrossBlocks, 10u) << "the data should repeat numbers across blocks";
  // A number no listing holds selects no block or finds nothing in what it selects.
  ASSERT_EQ(SelectNumberBlocks(500000000), 0);
  ASSERT_EQ(CollectGroups(500000000), Result::kOk);
  EXPECT_EQ(reader_->selection.groupCount, 0u);
}

INSTANTIATE_TEST_SUITE_P(DictionaryAndCorrectionFile, DictRoundTrip, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Correction" : "Dictionary"; });

}  // namespace
