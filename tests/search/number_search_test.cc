// Number search (mode 2) end to end: dictionaries made by the builder, opened with Qor_Open and
// searched through Qor_Search / Qor_MemRelease.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/mem.h"
#include "support/search_session.h"
#include "support/test_dicts.h"

namespace {

// Edition value 1 whose stamp ((edition / 100) mod 10000) is 1000.
constexpr uint32_t kEdition = 20100000;
constexpr uint32_t kStamp = 1000;

TestListing Entry(std::string number, std::string name, std::string address1 = "丸の内",
                  std::string address2 = "1-1", int kind = 1, uint32_t region = 13101) {
  TestListing l;
  l.kind = kind;
  l.regionCode = region;
  l.number = std::move(number);
  l.name = std::move(name);
  l.regionName1 = region == 13101 ? "東京都" : "神奈川県";
  l.regionName2 = region == 13101 ? "千代田区" : "横浜市";
  l.address1 = std::move(address1);
  l.address2 = std::move(address2);
  l.version = kStamp;
  return l;
}

TestDictOptions Dict(uint32_t number, uint32_t entriesPerBlock = 0) {
  return DictOptions(number, kEdition, entriesPerBlock);
}

// Clears bit v of the bit set that is section `section` of a dictionary image.
void ClearFilterBit(std::vector<uint8_t>* image, int section, uint32_t v) {
  uint8_t& byte = (*image)[TestSectionStart(*image, section) + v / 8];
  const uint8_t bit = static_cast<uint8_t>(0x80 >> (v % 8));
  ASSERT_NE(byte & bit, 0) << "the bit was not set";
  byte = static_cast<uint8_t>(byte & ~bit);
}

std::vector<uint8_t> Image(const std::vector<TestListing>& listings, const TestDictOptions& o) {
  std::vector<uint8_t> image;
  std::string error;
  EXPECT_TRUE(BuildTestDict(listings, o, &image, &error)) << error;
  return image;
}

std::string Bytes(const std::vector<uint8_t>& image) {
  return std::string(image.begin(), image.end());
}

using NumberSearchTest = SearchTest;

TEST_F(NumberSearchTest, KeysWithAndWithoutSeparatorsSearchTheSameNumber) {
  WriteTestDict(d1_.path(), {Entry("03-1234-5678", "山田　太郎"), Entry("0312345679", "山本　花子"),
                             Entry("031234567", "田中　一郎")},
                Dict(101));
  Open();
  const std::vector<std::string> yamada = {"山田　太郎"};
  EXPECT_EQ(Names(Number("03-1234-5678")), yamada);
  EXPECT_EQ(Names(Number("0312345678")), yamada);
  EXPECT_EQ(Names(Number("-03-12-34-56-78-")), yamada);
  EXPECT_EQ(Names(Number("0312345679")), (std::vector<std::string>{"山本　花子"}));
  // 9 digits: value 31234567, prefix 31234567 div 100000 = 312, the same dictionary.
  EXPECT_EQ(Names(Number("031234567")), (std::vector<std::string>{"田中　一郎"}));
  EXPECT_EQ(Names(Number("0312-34-567")), (std::vector<std::string>{"田中　一郎"}));
  // The key fills the whole 40-byte field.
  EXPECT_EQ(Names(Number("0312345678" + std::string(30, '-'))), yamada);
}

TEST_F(NumberSearchTest, MalformedKeysAreRefused) {
  WriteTestDict(d1_.path(), {Entry("0312345678", "山田　太郎")}, Dict(101));
  Open();
  for (const char* key : {"03 1234 5678", "03-1234-567a", "0312345678 ", "03123456", "03123456789",
                          "", "-", "０３１２３４５６７８"}) {
    EXPECT_TRUE(FindsNothing(handle_, NumberRequest(key))) << key;
  }
  // A key that holds the number within the field but claims one byte more.
  SearchRequest r = NumberRequest("0312345678" + std::string(30, '-'));
  r.keyLength = 41;
  EXPECT_TRUE(FindsNothing(handle_, r));
  r.keyLength = 0xFFFFFFFFu;
  EXPECT_TRUE(FindsNothing(handle_, r));
  // 2^32 + 312345678: ten digits whose value, cut to 32 bits, would be the listed number.
  EXPECT_TRUE(FindsNothing(handle_, NumberRequest("4607312974")));
  EXPECT_TRUE(FindsNothing(handle_, NumberRequest("1073741824")));  // 2^30
}

TEST_F(NumberSearchTest, ModesOtherThanOneAndTwoAndANullHandleSearchNothing) {
  WriteTestDict(d1_.path(), {Entry("0312345678", "山田　太郎")}, Dict(101));
  Open();
  SearchRequest r = NumberRequest("0312345678");
  for (uint32_t mode : {0u, 3u, 0xFFFFFFFFu}) {
    r.mode = mode;
    EXPECT_TRUE(FindsNothing(handle_, r)) << "mode " << mode;
  }
  EXPECT_TRUE(FindsNothing(nullptr, NumberRequest("0312345678")));
  EXPECT_EQ(Qor_Search(handle_, nullptr), 0);
  EXPECT_EQ(Qor_MemRelease(nullptr), 0);
}

TEST_F(NumberSearchTest, ASearchWithoutHitsLeavesResultsAndPoolAsTheHostSetThem) {
  WriteTestDict(d1_.path(), {Entry("0312345678", "山田　太郎")}, Dict(101));
  Open();
  EXPECT_TRUE(FindsNothing(handle_, NumberRequest("0312345677")));  // same prefix
  EXPECT_TRUE(FindsNothing(handle_, NumberRequest("0612345678")));  // no dictionary
}

TEST_F(NumberSearchTest, HitsComeInDictionaryThenBlockThenEntryOrder) {
  // Dictionary 102 in directory 1, 101 in directory 2: the dictionary number decides. The
  // builder stores entries in entry order (here: by address text 2), so the input order does
  // not matter.
  WriteTestDict(d1_.path(),
                {Entry("0312345678", "佐藤　一", "丸の内", "2"),
                 Entry("0312345670", "佐藤　三", "丸の内", "0"),
                 Entry("0312345678", "佐藤　二", "丸の内", "1")},
                Dict(102, 1));
  TestDictOptions small = Dict(101, 2);
  small.maxItemsPerNumberBlock = 1;  // the key's items lie in several number blocks
  WriteTestDict(d2_.path(),
                {Entry("0312345678", "鈴木　五", "神田", "5"),
                 Entry("0312345678", "鈴木　一", "神田", "1"),
                 Entry("0312345679", "鈴木　三", "神田", "3"),
                 Entry("0312345678", "鈴木　四", "神田", "4"),
                 Entry("0312345678", "鈴木　二", "神田", "2", 2)},
                small);
  Open();
  const std::vector<Hit> hits = Number("0312345678");
  EXPECT_EQ(Names(hits), (std::vector<std::string>{"鈴木　一", "鈴木　二", "鈴木　四", "鈴木　五",
                                                   "佐藤　二", "佐藤　一"}));
  ASSERT_EQ(hits.size(), 6u);
  EXPECT_EQ(hits[1].kind, 2);
}

TEST_F(NumberSearchTest, TheFiltersRejectADictionaryThatCannotHoldTheKey) {
  const std::vector<TestListing> listings = {Entry("0312345678", "山田　太郎")};
  TestDictOptions withAreaCode = Dict(101);
  withAreaCode.areaCodes = {"03"};
  std::vector<uint8_t> suffixless = Image(listings, withAreaCode);
  ClearFilterBit(&suffixless, 1, 45678);
  d1_.Write("qor0101.dct", Bytes(suffixless));
  std::vector<uint8_t> prefixless = Image({Entry("0312345678", "山本　花子")}, Dict(102));
  d1_.Write("qor0102.dct", Bytes(prefixless));
  WriteTestDict(d1_.path(), {Entry("0312345678", "田中　一郎")}, Dict(103));
  Open();
  // The catalog lists 0101 for the prefix, but its suffix filter excludes the key. Its area
  // codes still count: the sets gather every dictionary visited.
  EXPECT_EQ(Number("0312345678"),
            (std::vector<Hit>{{1, 13101, "03-1234-5678", "100-0001", "山本　花子", "東京都",
                               "千代田区", "丸の内", "1-1"},
                              {1, 13101, "03-1234-5678", "100-0001", "田中　一郎", "東京都",
                               "千代田区", "丸の内", "1-1"}}));
  // Now the prefix filter of 0102 drops prefix 312 too (after the open, so the catalog
  // still lists it).
  ClearFilterBit(&prefixless, 0, 312);
  d1_.Write("qor0102.dct", Bytes(prefixless));
  EXPECT_EQ(Names(Number("0312345678")), (std::vector<std::string>{"田中　一郎"}));
}

TEST_F(NumberSearchTest, NumbersAreHyphenatedByTheAreaCodeSets) {
  TestDictOptions o = Dict(101);
  o.areaCodes = {"0123", "03", "035555", "04255", "061"};
  o.extendedAreaCodes = {"04255"};
  WriteTestDict(d1_.path(),
                {Entry("012345678", "一"), Entry("0312345678", "二"), Entry("0355556666", "三"),
                 Entry("0425551234", "四"), Entry("0711112222", "五")},
                o);
  Open();
  EXPECT_EQ(Numbers(Number("012345678")), (std::vector<std::string>{"0123-4-5678"}));
  EXPECT_EQ(Numbers(Number("0312345678")), (std::vector<std::string>{"03-1234-5678"}));
  EXPECT_EQ(Numbers(Number("0355556666")), (std::vector<std::string>{"035555-6666"}));
  // At one length the extended set comes first: 0425 then the digit 5.
  EXPECT_EQ(Numbers(Number("0425551234")), (std::vector<std::string>{"0425-55-1234"}));
  // No probe matches: the plain digits.
  EXPECT_EQ(Numbers(Number("0711112222")), (std::vector<std::string>{"0711112222"}));
  // The sets are read at every search: with 031234 listed too, its probe comes first.
  o.areaCodes = {"03", "031234"};
  WriteTestDict(d1_.path(), {Entry("0312345678", "二")}, o);
  EXPECT_EQ(Numbers(Number("0312345678")), (std::vector<std::string>{"031234-5678"}));
}

TEST_F(NumberSearchTest, EveryResultFieldIsFilledAndEmptyFieldsAreEmptyTexts) {
  TestListing business = Entry("0312345678", "丸の内商事", "", "", 2);
  business.postalCode = "1000005";
  business.regionCode = 13102;
  business.regionName1 = "東京都";
  business.regionName2 = "";
  TestListing person = Entry("0312345678", "山田　太郎", "丸の内", "2-7-1 ビル3F");
  person.postalCode = "100-0001";
  WriteTestDict(d1_.path(), {business, person}, Dict(101));
  Open();
  EXPECT_EQ(Number("0312345678"),
            (std::vector<Hit>{{1, 13101, "0312345678", "100-0001", "山田　太郎", "東京都",
                               "千代田区", "丸の内", "2-7-1 ビル3F"},
                              {2, 13102, "0312345678", "100-0005", "丸の内商事", "東京都", "", "",
                               ""}}));
}

// A search answers as a fresh open over the files as they are then: a correction file that
// appears in an open set applies at once.
TEST_F(NumberSearchTest, ACorrectionFileAddedToAnOpenSetAppliesAtTheNextSearch) {
  WriteTestDict(d1_.path(), {Entry("0312345678", "山田　太郎")}, Dict(101));
  Open();  // d3_ holds no correction file yet
  EXPECT_EQ(Names(Number("0312345678")), (std::vector<std::string>{"山田　太郎"}));
  WriteTestDict(d3_.path(),
                {Entry("0312345678", "追加　一"), Removal(Entry("0312345678", "山田　太郎"))},
                CorrectionOptions());
  EXPECT_EQ(Names(Number("0312345678")), (std::vector<std::string>{"追加　一"}));
  Open();
  EXPECT_EQ(Names(Number("0312345678")), (std::vector<std::string>{"追加　一"}));
}

TEST_F(NumberSearchTest, AnAdditionIsReportedWhenNoDictionaryHoldsTheKey) {
  WriteTestDict(d1_.path(), {Entry("0312345678", "山田　太郎")}, Dict(101));
  WriteTestDict(d3_.path(), {Entry("0312340000", "追加　一"), Entry("0698765432", "追加　二")},
                CorrectionOptions());
  Open();
  EXPECT_EQ(Names(Number("0312340000")), (std::vector<std::string>{"追加　一"}));
  // No dictionary at all for prefix 698.
  EXPECT_EQ(Names(Number("0698765432")), (std::vector<std::string>{"追加　二"}));
}

TEST_F(NumberSearchTest, AdditionsAreMergedInEntryOrderAndEqualOnesComeOnce) {
  WriteTestDict(d1_.path(),
                {Entry("0312345678", "山田　二", "丸の内", "2"),
                 Entry("0312345678", "山田　四", "丸の内", "4")},
                Dict(101));
  WriteTestDict(d3_.path(),
                {Entry("0312345678", "山田　一", "丸の内", "1"),
                 Entry("0312345678", "山田　三", "丸の内", "3"),
                 Entry("0312345678", "山田　四", "丸の内", "4"),  // equal to an entry
                 Entry("0312345678", "山田　五", "丸の内", "5"),
                 Entry("0312345678", "山田　六", "丸の内", "6")},
                CorrectionOptions(1));
  Open();
  EXPECT_EQ(Names(Number("0312345678")),
            (std::vector<std::string>{"山田　一", "山田　二", "山田　三", "山田　四", "山田　五",
                                      "山田　六"}));
}

TEST_F(NumberSearchTest, ADeletionRemovesEqualEntriesOfBothDictionaries) {
  const TestListing gone = Entry("0312345678", "山田　太郎", "丸の内", "1-1");
  WriteTestDict(d1_.path(), {gone, Entry("0312345678", "山田　一", "丸の内", "9")}, Dict(101));
  WriteTestDict(d2_.path(), {Entry("0312345678", "山田　二", "丸の内", "5"), gone}, Dict(102));
  // The second deletion sorts after every hit of 0101, so reading 0101 moves past the first
  // one; 0102's copy must still be removed.
  WriteTestDict(d3_.path(),
                {Removal(gone), Removal(Entry("0312345678", "山田　一", "丸の内", "9z"))},
                CorrectionOptions());
  Open();
  EXPECT_EQ(Names(Number("0312345678")), (std::vector<std::string>{"山田　一", "山田　二"}));
}

TEST_F(NumberSearchTest, AnAdditionEqualToALaterDictionarysEntryComesOnce) {
  // The addition sorts before 0101's only hit, so it is emitted while 0101 is read; 0102's
  // entry equal to it must not bring the listing a second time.
  const TestListing both = Entry("0312345678", "山田　乙", "丸の内", "1");
  WriteTestDict(d1_.path(), {Entry("0312345678", "山田　甲", "丸の内", "2")}, Dict(101));
  WriteTestDict(d2_.path(), {both, Entry("0312345678", "山田　丙", "丸の内", "3")}, Dict(102));
  WriteTestDict(d3_.path(), {both}, CorrectionOptions());
  Open();
  EXPECT_EQ(Names(Number("0312345678")),
            (std::vector<std::string>{"山田　乙", "山田　甲", "山田　丙"}));
}

TEST_F(NumberSearchTest, ACorrectionAppliesFromTheRegionsEditionStampOn) {
  WriteTestDict(d1_.path(),
                {Entry("0312345678", "残る　一", "丸の内", "1"),
                 Entry("0312345678", "消える　二", "丸の内", "2")},
                Dict(101));
  auto versioned = [](TestListing l, uint32_t version) {
    l.version = version;
    return l;
  };
  WriteTestDict(d3_.path(),
                {versioned(Removal(Entry("0312345678", "残る　一", "丸の内", "1")), kStamp - 1),
                 versioned(Removal(Entry("0312345678", "消える　二", "丸の内", "2")), kStamp),
                 versioned(Entry("0312345678", "古い　三", "丸の内", "3"), kStamp - 1),
                 versioned(Entry("0312345678", "同じ　四", "丸の内", "4"), kStamp),
                 versioned(Entry("0312345678", "新しい　五", "丸の内", "5"), 2047),
                 // Region 14101 is not listed by any dictionary.
                 versioned(Entry("0312345678", "他県　六", "", "", 1, 14101), 2047)},
                CorrectionOptions());
  Open();
  EXPECT_EQ(Names(Number("0312345678")),
            (std::vector<std::string>{"残る　一", "同じ　四", "新しい　五"}));
}

// Dictionary numbers of the probe range (hundreds 1..47, units 1..29), in order.
std::vector<uint32_t> ProbeNumbers(size_t count) {
  std::vector<uint32_t> out;
  for (uint32_t h = 1; h <= 47 && out.size() < count; ++h) {
    for (uint32_t u = 1; u <= 29 && out.size() < count; ++u) out.push_back(h * 100 + u);
  }
  return out;
}

TEST_F(NumberSearchTest, APrefixWithMoreThan200DictionariesSearchesThemAll) {
  // Positions around the 63 numbers a row once gave and the 200 the list holds, and the last.
  const std::vector<uint32_t> numbers = ProbeNumbers(203);
  std::vector<std::string> expected;
  for (size_t i = 0; i < numbers.size(); ++i) {
    const bool holds = i == 0 || i == 62 || i == 63 || i == 199 || i == 200 || i == 202;
    const std::string name = "辞書" + std::to_string(numbers[i]);
    WriteTestDict(d1_.path(), {Entry(holds ? "0312345678" : "0312340000", name)},
                  Dict(numbers[i]));
    if (holds) expected.push_back(TestUtf8(TestCp932(name, true)));  // full-width digits
  }
  Open();
  EXPECT_EQ(Names(Number("0312345678")), expected);
}

// Fails each allocation of one search in turn, until the search runs without reaching the
// failure: every failed search reports nothing, leaves results and resultPool alone and
// frees all it took.
TEST_F(NumberSearchTest, EveryAllocationFailureFailsTheSearchCleanly) {
  std::vector<TestListing> many;
  const std::string longAddress(150, 'x');
  for (int i = 0; i < 120; ++i) {
    many.push_back(Entry("0312345678", "山田　太郎", "丸の内", std::to_string(1000 + i) + longAddress));
  }
  many.push_back(Entry("0312345678", "消える　一", "大手町"));
  WriteTestDict(d1_.path(), many, Dict(101, 40));
  WriteTestDict(d2_.path(), {Entry("0312345678", "別辞書　一", "神田")}, Dict(102));
  WriteTestDict(d3_.path(),
                {Entry("0312345678", "追加　一", "丸の内", "0"),
                 Removal(Entry("0312345678", "消える　一", "大手町"))},
                CorrectionOptions());
  Open();
  const std::vector<Hit> expected = Number("0312345678");
  ASSERT_EQ(expected.size(), 122u);

  ExpectEveryAllocationFailureFailsCleanly(handle_, NumberRequest("0312345678"), expected.size());
  EXPECT_EQ(Number("0312345678"), expected);
}

}  // namespace
