// Name search (mode 1) end to end through the exported functions on builder-made dictionaries,
// and the two block selection rules on real files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/mem.h"
#include "search/dict_reader.h"
#include "engine/engine_cache.h"
#include "search/name_search.h"
#include "support/search_session.h"
#include "support/test_dicts.h"

namespace {

// Edition value 1 whose stamp ((edition / 100) mod 10000) is 1000.
constexpr uint32_t kEdition = 20100000;
constexpr uint32_t kStamp = 1000;
constexpr uint32_t kRegion = 13101;

TestListing Entry(std::string name, std::string address1, std::string address2 = "1-1",
                  int kind = 1, uint32_t region = kRegion, std::string number = "0312345678") {
  TestListing l;
  l.kind = kind;
  l.regionCode = region;
  l.number = std::move(number);
  l.name = std::move(name);
  l.regionName1 = "東京都";
  l.regionName2 = "区" + std::to_string(region);
  l.address1 = std::move(address1);
  l.address2 = std::move(address2);
  l.version = kStamp;
  return l;
}

TestDictOptions Dict(uint32_t number = 101, uint32_t entriesPerBlock = 0) {
  return DictOptions(number, kEdition, entriesPerBlock);
}

using Strings = std::vector<std::string>;

// Six listings of region 13101 and one of 13102. In CP932 order 丸の内 < 神田 < 大手町 and
// 佐藤 < 山田 < 山本 < 田中, so the entry order is as written.
std::vector<TestListing> Town() {
  return {Entry("山田　太郎", "丸の内", "1-1"),    Entry("山本　花子", "丸の内", "2-3"),
          Entry("ABC商事", "神田", "1-1", 2),      Entry("田中工業", "神田", "2-2", 2),
          Entry("山田商店", "大手町", "1-5", 2),   Entry("田中　一郎", "大手町", "3-1"),
          Entry("田中　次郎", "丸の内", "1-1", 1, 13102)};
}

class NameSearchTest : public SearchTest {
 protected:
  void OpenTown() {
    WriteTestDict(d1_.path(), Town(), Dict());
    Open();
  }
};

TEST_F(NameSearchTest, BlankPatternsSearchNothingAndAllocateNothing) {
  OpenTown();
  for (const char* pattern : {"", "*", "?", "＊", "？", " ", "　", "* ?＊　？**", "　 "}) {
    Mem_ResetFaults();
    EXPECT_TRUE(FindsNothing(handle_, NameRequest(kRegion, pattern))) << pattern;
    // No search context was made, so no file can have been opened.
    EXPECT_EQ(Mem_AllocationCount(), 0u) << pattern;
  }
}

TEST_F(NameSearchTest, ACharacterBetweenAsterisksFindsEveryNameHoldingIt) {
  OpenTown();
  const Strings withTa = {"山田　太郎", "田中工業", "山田商店", "田中　一郎"};
  EXPECT_EQ(Names(Name(kRegion, "*田*")), withTa);
  EXPECT_EQ(Names(Name(kRegion, "＊田＊")), withTa);
  EXPECT_EQ(Names(Name(kRegion, "*田＊")), withTa);
  EXPECT_EQ(Names(Name(kRegion, "山*")), (Strings{"山田　太郎", "山本　花子", "山田商店"}));
  EXPECT_EQ(Names(Name(kRegion, "*郎")), (Strings{"山田　太郎", "田中　一郎"}));
  EXPECT_EQ(Names(Name(kRegion, "山田商店")), (Strings{"山田商店"}));
  EXPECT_EQ(Names(Name(13102, "*田*")), (Strings{"田中　次郎"}));
  EXPECT_TRUE(FindsNothing(handle_, NameRequest(kRegion, "*森*")));
  EXPECT_TRUE(FindsNothing(handle_, NameRequest(13103, "*田*"))) << "a region of no dictionary";
}

TEST_F(NameSearchTest, SingleByteLettersMatchNoTwoByteName) {
  OpenTown();
  // The builder stores ABC商事 with full-width letters.
  EXPECT_EQ(Names(Name(kRegion, "*Ａ*")), (Strings{"ＡＢＣ商事"}));
  EXPECT_EQ(Names(Name(kRegion, "ＡＢＣ商事")), (Strings{"ＡＢＣ商事"}));
  for (const char* pattern : {"*A*", "ABC*", "A*", "*1*"}) {
    EXPECT_TRUE(FindsNothing(handle_, NameRequest(kRegion, pattern))) << pattern;
  }
}

TEST_F(NameSearchTest, QuestionMarksStandForExactlyOneCharacter) {
  OpenTown();
  EXPECT_EQ(Names(Name(kRegion, "田中??")), (Strings{"田中工業"}));
  EXPECT_EQ(Names(Name(kRegion, "田中？？")), (Strings{"田中工業"}));
  EXPECT_EQ(Names(Name(kRegion, "田中???")), (Strings{"田中　一郎"}));
  EXPECT_EQ(Names(Name(kRegion, "?田*")), (Strings{"山田　太郎", "山田商店"}));
  EXPECT_TRUE(FindsNothing(handle_, NameRequest(kRegion, "田中?")));
}

TEST_F(NameSearchTest, TheKindFilterTakesKindOneKindTwoOrBoth) {
  OpenTown();
  EXPECT_EQ(Names(Name(kRegion, "*田*", 1)), (Strings{"山田　太郎", "田中　一郎"}));
  EXPECT_EQ(Names(Name(kRegion, "*田*", 2)), (Strings{"田中工業", "山田商店"}));
  EXPECT_EQ(Names(Name(kRegion, "*田*", 3)).size(), 4u);
  for (uint32_t kind : {0u, 4u, 0xFFFFu}) {
    EXPECT_TRUE(FindsNothing(handle_, NameRequest(kRegion, "*田*", kind))) << kind;
  }
}

TEST_F(NameSearchTest, AddressPrefixesNarrowTheAnswer) {
  OpenTown();
  EXPECT_EQ(Names(Name(kRegion, "*田*", 3, "大手")), (Strings{"山田商店", "田中　一郎"}));
  EXPECT_EQ(Names(Name(kRegion, "*田*", 3, "", "1-")), (Strings{"山田　太郎", "山田商店"}));
  EXPECT_EQ(Names(Name(kRegion, "*田*", 3, "大手町", "1-")), (Strings{"山田商店"}));
  EXPECT_EQ(Names(Name(kRegion, "山*", 3, "丸の内", "2-3")), (Strings{"山本　花子"}));
  EXPECT_TRUE(FindsNothing(handle_, NameRequest(kRegion, "*田*", 3, "大手町", "2-")));
  EXPECT_TRUE(FindsNothing(handle_, NameRequest(kRegion, "*田*", 3, "丸の内一丁目")));
}

TEST_F(NameSearchTest, ResultsCarryEveryFieldOfTheEntry) {
  TestListing l = Entry("鈴木　一", "", "");
  l.postalCode = "1500001";
  l.number = "0312345678";
  l.regionName2 = "";
  TestDictOptions o = Dict();
  o.areaCodes = {"03"};
  WriteTestDict(d1_.path(), {l}, o);
  Open();
  EXPECT_EQ(Name(kRegion, "鈴木*"),
            (std::vector<Hit>{{1, 13101, "03-1234-5678", "150-0001", "鈴木　一", "東京都", "", "",
                               ""}}));
}

TEST_F(NameSearchTest, CorrectionsMergeInEntryOrderFromTheEditionStampOn) {
  WriteTestDict(d1_.path(),
                {Entry("鈴木　二", "丸の内", "2"), Entry("鈴木　四", "丸の内", "4"),
                 Entry("鈴木　六", "丸の内", "6"), Entry("佐藤　七", "丸の内", "7")},
                Dict());
  WriteTestDict(d3_.path(),
                {Entry("鈴木　一", "丸の内", "1"), Entry("鈴木　三", "丸の内", "3"),
                 Removal(Entry("鈴木　四", "丸の内", "4")),
                 Versioned(Removal(Entry("鈴木　六", "丸の内", "6")), kStamp - 1),
                 Versioned(Entry("鈴木　八", "丸の内", "8"), kStamp - 1),
                 Entry("鈴木　九", "丸の内", "9"), Versioned(Entry("鈴木　十", "丸の内", "9z"), 2047),
                 Entry("佐藤　九", "丸の内", "9y")},  // added, but not a 鈴木
                CorrectionOptions(2));
  Open();
  EXPECT_EQ(Names(Name(kRegion, "鈴木*")),
            (Strings{"鈴木　一", "鈴木　二", "鈴木　三", "鈴木　六", "鈴木　九", "鈴木　十"}));
  EXPECT_EQ(Names(Name(kRegion, "佐藤*")), (Strings{"佐藤　七", "佐藤　九"}));
}

TEST_F(NameSearchTest, CorrectionsOfAnotherRegionInASelectedBlockAreIgnored) {
  WriteTestDict(d1_.path(),
                {Entry("鈴木　一", "丸の内"), Entry("鈴木　外", "丸の内", "1-1", 1, 13100)}, Dict());
  // Block 0 holds region 13100; with an empty address key it is read as the block before
  // region 13101's first block.
  WriteTestDict(d3_.path(),
                {Entry("鈴木　他", "丸の内", "1-1", 1, 13100), Entry("鈴木　二", "丸の内", "2")},
                CorrectionOptions(1));
  Open();
  EXPECT_EQ(Names(Name(kRegion, "鈴木*")), (Strings{"鈴木　一", "鈴木　二"}));
  EXPECT_EQ(Names(Name(13100, "鈴木*")), (Strings{"鈴木　外", "鈴木　他"}));
}

TEST_F(NameSearchTest, AKeyBetweenTwoBlocksReadsOnlyTheEarlierCorrectionBlock) {
  WriteTestDict(d1_.path(), {Entry("鈴木　一", "１丁目"), Entry("鈴木　三", "３丁目")}, Dict(101, 1));
  WriteTestDict(d3_.path(),
                {Entry("鈴木　零", "１丁目"), Entry("鈴木　二", "２丁目"), Entry("鈴木　四", "３丁目")},
                CorrectionOptions(2));
  Open();
  EXPECT_EQ(Names(Name(kRegion, "鈴木*", 3, "２丁目")), (Strings{"鈴木　二"}));
  EXPECT_EQ(Names(Name(kRegion, "鈴木*", 3, "３")), (Strings{"鈴木　三", "鈴木　四"}));
  EXPECT_EQ(Names(Name(kRegion, "鈴木*")),
            (Strings{"鈴木　一", "鈴木　零", "鈴木　二", "鈴木　三", "鈴木　四"}));
}

TEST_F(NameSearchTest, OnlyTheFirstDictionaryOfARegionIsSearched) {
  WriteTestDict(d1_.path(), {Entry("鈴木　一", "丸の内")}, Dict(101));
  WriteTestDict(d1_.path(), {Entry("鈴木　二", "丸の内")}, Dict(102));
  Open();
  ASSERT_EQ(open_.regionCount, 2u);
  EXPECT_EQ(open_.regions[0]->dictNumber, 101);
  EXPECT_EQ(open_.regions[1]->dictNumber, 102);
  EXPECT_EQ(Names(Name(kRegion, "鈴木*")), (Strings{"鈴木　一"}));
}

TEST_F(NameSearchTest, LengthsBeyondTheirFieldsAreRefused) {
  OpenTown();
  SearchRequest r = NameRequest(kRegion, "*田*");
  ASSERT_EQ(Search(handle_, r).size(), 4u);
  SearchRequest bad = r;
  bad.address1Length = 81;
  EXPECT_TRUE(FindsNothing(handle_, bad));
  bad = r;
  bad.address2Length = 81;
  EXPECT_TRUE(FindsNothing(handle_, bad));
  bad = r;
  bad.namePatternLength = 161;
  EXPECT_TRUE(FindsNothing(handle_, bad));
  bad.namePatternLength = 0xFFFFFFFFu;
  EXPECT_TRUE(FindsNothing(handle_, bad));
  // At the widths themselves the texts are taken whole.
  bad = r;
  bad.address1Length = 80;
  std::memset(bad.address1, 0, sizeof bad.address1);
  bad.address2Length = 80;
  std::memset(bad.address2, 0, sizeof bad.address2);
  EXPECT_EQ(Names(Search(handle_, bad)).size(), 4u) << "NUL-filled keys stop at the NUL";
}

TEST_F(NameSearchTest, LongPatternsAreMatchedWhole) {
  std::string name120, name119, ta53, ta52;
  for (int i = 0; i < 120; ++i) name120 += "鈴";
  name119 = name120.substr(0, 119 * 3);  // UTF-8: three bytes a character
  for (int i = 0; i < 53; ++i) ta53 += "田";
  ta52 = ta53.substr(0, 52 * 3);
  WriteTestDict(d1_.path(),
                {Entry(name120, "丸の内", "1"), Entry(name119, "丸の内", "2"),
                 Entry(ta53, "丸の内", "3"), Entry(ta52, "丸の内", "4")},
                Dict());
  Open();
  // A character and 119 single-unit wildcards: 240 bytes once widened.
  EXPECT_EQ(Names(Name(kRegion, "鈴" + std::string(119, '?'))), (Strings{name120}));
  EXPECT_EQ(Names(Name(kRegion, "鈴" + std::string(118, '?'))), (Strings{name119}));
  // 53 segments in a 160-byte pattern: "*" and 53 times "田*".
  std::string segments = "*";
  for (int i = 0; i < 53; ++i) segments += "田*";
  const SearchRequest r = NameRequest(kRegion, segments);
  ASSERT_EQ(r.namePatternLength, 160u);
  EXPECT_EQ(Names(Search(handle_, r)), (Strings{ta53}));
}

TEST_F(NameSearchTest, APatternEndingInALoneLeadByteMatchesNoName) {
  OpenTown();
  const std::string ta = TestCp932("田");
  ASSERT_EQ(ta.size(), 2u);
  const std::string lead = ta.substr(0, 1);
  for (const std::string& pattern :
       {lead, "*" + lead, TestCp932("田中") + lead, std::string(159, '*') + lead}) {
    EXPECT_TRUE(FindsNothing(handle_, NameRequestCp932(kRegion, pattern))) << pattern.size();
  }
}

// The image with the first text of entry index record `record` replaced; the blocks stay,
// the index length and the section size grow with the text.
std::vector<uint8_t> WithIndexText(const std::vector<uint8_t>& image, size_t record,
                                   const std::string& text) {
  const size_t section6 = TestSectionStart(image, 6);
  const size_t indexStart = section6 + 6;
  const size_t indexLength = (size_t{image[section6]} << 8) | image[section6 + 1];
  std::vector<uint8_t> index;
  size_t pos = indexStart;
  for (size_t k = 0; pos < indexStart + indexLength; ++k) {
    index.insert(index.end(), image.begin() + pos, image.begin() + pos + 4);
    pos += 4;
    const size_t first = std::strlen(reinterpret_cast<const char*>(&image[pos]));
    const size_t last = std::strlen(reinterpret_cast<const char*>(&image[pos + first + 1]));
    if (k == record) {
      index.insert(index.end(), text.begin(), text.end());
    } else {
      index.insert(index.end(), image.begin() + pos, image.begin() + pos + first);
    }
    index.push_back(0);
    index.insert(index.end(), image.begin() + pos + first + 1,
                 image.begin() + pos + first + 1 + last + 1);
    pos += first + 1 + last + 1;
  }
  std::vector<uint8_t> out(image.begin(), image.begin() + section6);
  TestSetSectionSize(&out, 6,
                     TestSectionSize(image, 6) + static_cast<uint32_t>(index.size() - indexLength));
  out.push_back(static_cast<uint8_t>(index.size() >> 8));
  out.push_back(static_cast<uint8_t>(index.size()));
  out.insert(out.end(), image.begin() + section6 + 2, image.begin() + section6 + 6);
  out.insert(out.end(), index.begin(), index.end());
  out.insert(out.end(), image.begin() + indexStart + indexLength, image.end());
  return out;
}

TEST_F(NameSearchTest, IndexTextsOverTheirLimitAreNeverCopiedOut) {
  std::vector<uint8_t> image, correction;
  std::string error;
  ASSERT_TRUE(BuildTestDict({Entry("鈴木　一", "丸の内"), Entry("鈴木　二", "大手町")},
                            Dict(101, 1), &image, &error))
      << error;
  ASSERT_TRUE(BuildTestDict({Entry("鈴木　三", "丸の内", "3")}, CorrectionOptions(), &correction,
                            &error))
      << error;
  const std::string at83(83, '\x88'), at84(84, '\x88');
  auto write = [](const TempDir& dir, const char* name, const std::vector<uint8_t>& bytes) {
    dir.Write(name, std::string(bytes.begin(), bytes.end()));
  };
  // An 83-byte text is within the limit and a sound index (the search reads both files).
  write(d1_, "qor0101.dct", WithIndexText(image, 1, at83));
  write(d3_, "qor5001.dct", WithIndexText(correction, 0, at83));
  Open();
  EXPECT_EQ(Names(Name(kRegion, "鈴木*")), (Strings{"鈴木　一", "鈴木　三", "鈴木　二"}));
  // One byte more damages the index: that file contributes nothing.
  write(d1_, "qor0101.dct", WithIndexText(image, 1, at84));
  EXPECT_TRUE(FindsNothing(handle_, NameRequest(kRegion, "鈴木*")));
  write(d1_, "qor0101.dct", image);
  write(d3_, "qor5001.dct", WithIndexText(correction, 0, at84));
  EXPECT_EQ(Names(Name(kRegion, "鈴木*")), (Strings{"鈴木　一", "鈴木　二"}));
}

TEST_F(NameSearchTest, EveryAllocationFailureFailsTheSearchCleanly) {
  std::vector<TestListing> many;
  const std::string longAddress(150, 'x');
  for (int i = 0; i < 120; ++i) {
    many.push_back(Entry("鈴木　一", "丸の内", std::to_string(1000 + i) + longAddress));
  }
  many.push_back(Entry("鈴木　消", "大手町"));
  WriteTestDict(d1_.path(), many, Dict(101, 40));
  WriteTestDict(d3_.path(),
                {Entry("鈴木　加", "丸の内", "0"), Removal(Entry("鈴木　消", "大手町"))},
                CorrectionOptions());
  Open();
  const SearchRequest request = NameRequest(kRegion, "鈴木*");
  const std::vector<Hit> expected = Search(handle_, request);
  ASSERT_EQ(expected.size(), 121u);
  ExpectEveryAllocationFailureFailsCleanly(handle_, request, expected.size());
  EXPECT_EQ(Search(handle_, request), expected);
}

// The group lists the two selection rules make from a file's entry index.
class NameSearchSelectionTest : public ::testing::Test {
 protected:
  // Region 13100 (block 0), 13101 (blocks 1 to 4: １丁目, ２丁目, ２丁目, ４丁目) and 13102
  // (block 5), one entry a block.
  void SetUp() override {
    path_ = WriteTestDict(
        dir_.path(),
        {Entry("鈴木　一", "１丁目", "1", 1, 13100), Entry("鈴木　一", "１丁目"),
         Entry("鈴木　一", "２丁目", "1"), Entry("鈴木　二", "２丁目", "2"),
         Entry("鈴木　一", "４丁目"), Entry("鈴木　一", "１丁目", "1", 1, 13102)},
        Dict(101, 1));
  }
  std::vector<int> Groups(bool correction, uint32_t region, const std::string& key) {
    std::vector<int> out;
    FILE* file = std::fopen(path_.c_str(), "rb");
    EXPECT_NE(file, nullptr);
    auto dict = std::make_unique<DictFile>();
    DictFile_Init(dict.get(), file);
    SearchCriteria c{};
    c.regionCode = static_cast<uint16_t>(region);
    const std::string cp932 = TestCp932(key, true);
    std::memcpy(c.address1Key, cp932.c_str(), cp932.size() + 1);
    uint8_t header[kDictHeaderSize];
    EXPECT_EQ(Dict_ReadHeader(dict.get(), header), Result::kOk);
    EXPECT_EQ(Dict_ReadEntryIndex(dict.get()), Result::kOk);
    auto selection = std::make_unique<BlockSelection>();
    if (correction) {
      NameSearch_SelectCorrectionBlocks(dict.get(), &c, selection.get());
    } else {
      NameSearch_SelectBlocks(dict.get(), &c, selection.get());
    }
    for (uint16_t i = 0; i < selection->groupCount; ++i) out.push_back(selection->groups[i]);
    if (file != nullptr) std::fclose(file);
    DictFile_Free(dict.get());
    return out;
  }

  TempDir dir_;
  std::string path_;
};

using GroupList = std::vector<int>;

TEST_F(NameSearchSelectionTest, ARegionsDictionaryReadsTheBlocksWhoseRangeHoldsTheKey) {
  EXPECT_EQ(Groups(false, kRegion, ""), (GroupList{1, 2, 3, 4}));
  EXPECT_EQ(Groups(false, kRegion, "２丁目"), (GroupList{2, 3}));
  EXPECT_EQ(Groups(false, kRegion, "２"), (GroupList{2, 3})) << "heads of the key's length";
  EXPECT_EQ(Groups(false, kRegion, "３丁目"), GroupList{}) << "between two blocks";
  EXPECT_EQ(Groups(false, kRegion, "５丁目"), GroupList{});
  EXPECT_EQ(Groups(false, 13102, ""), (GroupList{5}));
  EXPECT_EQ(Groups(false, 13103, ""), GroupList{});
}

TEST_F(NameSearchSelectionTest, TheCorrectionFileReadsTheBlockWhereTheKeyWouldStart) {
  // An empty key: the block before the region's first, then every block of the region.
  EXPECT_EQ(Groups(true, kRegion, ""), (GroupList{0, 1, 2, 3, 4}));
  EXPECT_EQ(Groups(true, kRegion, "２丁目"), (GroupList{1, 2, 3}));
  EXPECT_EQ(Groups(true, kRegion, "３丁目"), (GroupList{3})) << "the earlier of the two blocks";
  EXPECT_EQ(Groups(true, kRegion, "５丁目"), (GroupList{4}));
  EXPECT_EQ(Groups(true, 13103, ""), (GroupList{5})) << "past the last record";
  EXPECT_EQ(Groups(true, 13099, ""), GroupList{}) << "before the first record";
  // Record 0 equal to the key leaves the none-chosen flag set: it comes again at the end.
  EXPECT_EQ(Groups(true, 13100, "１丁目"), (GroupList{0, 0}));
}

}  // namespace

namespace {

// The name index: keys order texts as their bytes do, and the sort keeps equal keys in entry
// order.
TEST(NameIndexTest, KeysFollowTheBytesAndTheSortIsStable) {
  std::mt19937 random(7);
  std::vector<std::string> texts;
  for (int i = 0; i < 3000; ++i) {
    std::string t;
    const int n = static_cast<int>(random() % 12);
    // Few byte values, so that many texts share their first bytes.
    for (int k = 0; k < n; ++k) {
      t += static_cast<char>(k < 4 ? 0x81 + random() % 3 : 1 + random() % 255);
    }
    texts.push_back(t);
  }
  std::vector<NameIndexRecord> records;
  for (size_t i = 0; i < texts.size(); ++i) {
    const uint64_t key = NameSearch_IndexKey(texts[i].c_str(), 8);
    records.push_back({static_cast<uint32_t>(key >> 32), static_cast<uint32_t>(key),
                       static_cast<uint16_t>(i >> 8), static_cast<uint16_t>(i & 0xFF)});
  }
  std::vector<NameIndexRecord> expected = records;
  // By the first eight bytes, NUL-padded (string comparison is of unsigned bytes).
  auto head = [&](const NameIndexRecord& r) {
    std::string h = texts[r.block << 8 | r.ordinal].substr(0, 8);
    h.resize(8, '\0');
    return h;
  };
  std::stable_sort(expected.begin(), expected.end(),
                   [&](const auto& a, const auto& b) { return head(a) < head(b); });
  ASSERT_TRUE(NameSearch_SortIndex(records.data(), static_cast<uint32_t>(records.size())));
  for (size_t i = 0; i < records.size(); ++i) {
    ASSERT_EQ(records[i].block, expected[i].block) << i;
    ASSERT_EQ(records[i].ordinal, expected[i].ordinal) << i;
  }
}

}  // namespace
