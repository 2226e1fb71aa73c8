// The benchmark's data set: the listings bench-prep hands SQLite and tinycdb must be exactly
// what the engine answers once the correction file is applied, number by number and name by
// name; and the GLOB patterns, surnames and query sets it derives from them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "bench_data.h"
#include "qor3.h"
#include "support/temp_dir.h"
#include "support/test_dicts.h"

namespace {

constexpr uint32_t kEdition = 20261209;  // edition stamp 2612
constexpr uint32_t kStamp = 2612;

TestListing Entry(uint32_t region, std::string number, std::string name,
                  uint32_t version = kStamp, bool add = true) {
  TestListing l;
  l.regionCode = region;
  l.number = std::move(number);
  l.name = std::move(name);
  l.regionName1 = "東京都";
  l.regionName2 = region == 13101 ? "千代田区" : region == 13102 ? "中央区" : "港区";
  l.address1 = "丸の内";
  l.address2 = "1-1";
  l.version = version;
  l.add = add;
  return l;
}

std::vector<Listing> Converted(const std::vector<TestListing>& in, bool correction) {
  std::vector<Listing> out;
  std::string error;
  EXPECT_TRUE(ConvertTestListings(in, correction, &out, &error)) << error;
  return out;
}

void SetText(const std::string& text, uint32_t* length, char* field) {
  std::memcpy(field, text.data(), text.size());
  *length = static_cast<uint32_t>(text.size());
}

uint32_t Answers(void* handle, SearchRequest* request) {
  Qor_Search(handle, request);
  uint32_t count = request->resultCount;
  Qor_MemRelease(request);
  return count;
}

uint32_t CountNumber(void* handle, const std::string& digits) {
  SearchRequest request{};
  request.mode = 2;
  SetText(digits, &request.keyLength, request.key);
  return Answers(handle, &request);
}

uint32_t CountName(void* handle, uint32_t region, const std::string& patternCp932) {
  SearchRequest request{};
  request.mode = 1;
  request.kindFilter = 3;
  request.regionCode = region;
  SetText(patternCp932, &request.namePatternLength, request.namePattern);
  return Answers(handle, &request);
}

bool StartsWith(const std::string& text, const std::string& head) {
  return text.compare(0, head.size(), head) == 0;
}
bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(BenchCorrections, ListingsAreWhatTheEngineAnswers) {
  const TestListing shared1 = Entry(13101, "03-1111-0001", "佐藤　花子");
  const TestListing shared2 = Entry(13101, "03-1111-0001", "佐藤　次郎");
  const TestListing twice = Entry(13101, "03-1111-0002", "鈴木　一郎");
  const TestListing other = Entry(13102, "03-1111-0003", "佐藤　三郎");
  const TestListing inSecond = Entry(13103, "03-1111-0004", "高橋　花子");
  const TestListing sharedSecond = Entry(13103, "03-1111-0001", "田中　良子");
  const std::vector<TestListing> first = {shared1, shared2, twice, twice, other};
  const std::vector<TestListing> second = {inSecond, sharedSecond};
  const std::vector<TestListing> corrections = {
      Removal(twice),                              // both equal copies go
      Versioned(Removal(shared1), kStamp - 1),     // older than the installed data: ignored
      Entry(13102, "03-1111-0005", "佐藤　四郎", 2701),    // added
      other,                                       // already listed: nothing added
      Removal(Entry(13199, "03-1111-0006", "伊藤　花子")),   // region not installed
      Removal(Entry(13103, "03-1111-0009", "山田　花子")),   // matches nothing
      Entry(13103, "03-1111-0001", "山田　良子"),   // added to a shared number
  };

  TempDir dicts, fixes;
  TestDictOptions options;
  options.edition1 = kEdition;
  options.number = 1301;
  ASSERT_FALSE(WriteTestDict(dicts.path(), first, options).empty());
  options.number = 1302;
  ASSERT_FALSE(WriteTestDict(dicts.path(), second, options).empty());
  TestDictOptions correctionOptions;
  correctionOptions.correction = true;
  ASSERT_FALSE(WriteTestDict(fixes.path(), corrections, correctionOptions).empty());

  std::vector<BenchDict> benchDicts(2);
  benchDicts[0] = {1301, kEdition, Converted(first, false)};
  benchDicts[1] = {1302, kEdition, Converted(second, false)};
  const std::vector<Listing> correctionListings = Converted(corrections, true);
  std::vector<Listing> answered;
  CorrectionTally tally;
  BenchData_ApplyCorrections(benchDicts, correctionListings, &answered, &tally);
  EXPECT_EQ(tally.additions, 2u);
  EXPECT_EQ(tally.removals, 1u);
  EXPECT_EQ(tally.listingsRemoved, 2u);
  EXPECT_EQ(tally.outdated, 1u);
  EXPECT_EQ(tally.uncovered, 1u);
  EXPECT_EQ(tally.additionsPresent, 1u);
  EXPECT_EQ(tally.removalsUnmatched, 1u);
  EXPECT_EQ(answered.size(), 7u + 2u - 2u);
  EXPECT_TRUE(std::is_sorted(answered.begin(), answered.end(),
                             [](const Listing& a, const Listing& b) {
                               return Listing_Compare(a, b) < 0;
                             }));

  OpenRequest request{};
  SetText(dicts.path(), &request.directory1Length, request.directory1);
  SetText(fixes.path(), &request.correctionDirectoryLength, request.correctionDirectory);
  OpenResult result{};
  void* handle = Qor_Open(&request, &result);
  ASSERT_NE(handle, nullptr);

  std::set<uint32_t> numbers;
  for (const BenchDict& d : benchDicts) {
    for (const Listing& l : d.listings) numbers.insert(l.number);
  }
  for (const Listing& l : correctionListings) numbers.insert(l.number);
  for (uint32_t number : numbers) {
    const uint32_t expected = static_cast<uint32_t>(
        std::count_if(answered.begin(), answered.end(),
                      [&](const Listing& l) { return l.number == number; }));
    EXPECT_EQ(CountNumber(handle, Listing_NumberText(number)), expected)
        << Listing_NumberText(number);
  }
  const struct {
    std::string literal;
    bool leading;
  } patterns[] = {{TestCp932("佐藤", true), true}, {TestCp932("子", true), false},
                  {TestCp932("郎", true), false}};
  for (uint32_t region : {13101u, 13102u, 13103u}) {
    for (const auto& p : patterns) {
      const std::string wild = "\x81\x96";
      const uint32_t expected = static_cast<uint32_t>(
          std::count_if(answered.begin(), answered.end(), [&](const Listing& l) {
            return l.regionCode == region &&
                   (p.leading ? StartsWith(l.name, p.literal) : EndsWith(l.name, p.literal));
          }));
      EXPECT_EQ(CountName(handle, region, p.leading ? p.literal + wild : wild + p.literal),
                expected)
          << region << " " << TestUtf8(p.literal);
    }
  }
  Qor_Close(handle, &result);
}

TEST(BenchCorrections, HighestDictionaryNumberGivesTheStamp) {
  // Region 13101 in two dictionaries: the one numbered higher (stamp 1210) decides, so a
  // correction of version 1100 is outdated although the other dictionary's stamp is 1010.
  BenchDict low{1301, 20101001, Converted({Entry(13101, "03-1111-0001", "佐藤　花子")}, false)};
  BenchDict high{1302, 20121001, Converted({Entry(13101, "03-1111-0002", "鈴木　花子")}, false)};
  std::vector<Listing> answered;
  CorrectionTally tally;
  BenchData_ApplyCorrections({high, low},
                             Converted({Entry(13101, "03-1111-0001", "佐藤　花子", 1100, false)},
                                       true),
                             &answered, &tally);
  EXPECT_EQ(tally.outdated, 1u);
  EXPECT_EQ(answered.size(), 2u);
  EXPECT_EQ(BenchData_EditionStamp(20121001), 1210u);
  EXPECT_EQ(BenchData_EditionStamp(20020825), 208u);
}

TEST(BenchData, GlobPatternInUtf8) {
  std::string glob;
  ASSERT_TRUE(BenchData_GlobPattern(TestCp932("佐藤＊"), &glob));
  EXPECT_EQ(glob, "佐藤*");
  ASSERT_TRUE(BenchData_GlobPattern(TestCp932("＊子"), &glob));
  EXPECT_EQ(glob, "*子");
  ASSERT_TRUE(BenchData_GlobPattern(TestCp932("山？＊美＊"), &glob));
  EXPECT_EQ(glob, "山?*美*");
  ASSERT_TRUE(BenchData_GlobPattern("*\x82\xa0?", &glob));  // ASCII wildcards stay
  EXPECT_EQ(glob, "*あ?");
}

TEST(BenchData, SurnameWalksCharacters) {
  EXPECT_EQ(BenchData_Surname(TestCp932("佐藤　花子", true)), TestCp932("佐藤", true));
  EXPECT_EQ(BenchData_Surname(TestCp932("株式会社山田商店", true)), "");
  EXPECT_EQ(BenchData_Surname(""), "");
  // 0x81 0x40 straddling two characters is not the ideographic space: the trail byte of
  // 0x95 0x81 and a single byte 0x40; the real space follows.
  EXPECT_EQ(BenchData_Surname("\x95\x81\x40\x81\x40\x82\xa0"), "\x95\x81\x40");
}

TEST(BenchData, QueriesFollowTheListingsAndTheSeed) {
  std::vector<TestListing> in;
  const char* surnames[] = {"佐藤", "鈴木", "高橋"};
  const char* given[] = {"花子", "一郎", "美子"};
  for (int i = 0; i < 30; ++i) {
    char number[16];
    std::snprintf(number, sizeof number, "03-1234-%04d", i * 7);
    in.push_back(Entry(i < 20 ? 13102 : 13101, number,
                       std::string(surnames[i % 3]) + "　" + given[i / 3 % 3]));
  }
  const std::vector<Listing> listings = Converted(in, false);
  std::set<std::string> existing;
  for (const Listing& l : listings) existing.insert(Listing_NumberText(l.number));

  QueryPlan plan;
  plan.seed = 7;
  plan.numberQueries = 40;
  plan.nameQueries = 6;
  std::vector<BenchQuery> queries;
  BenchData_MakeQueries(listings, plan, &queries);
  ASSERT_EQ(queries.size(), 2u * 40 + 5u * 6);
  std::set<std::string> workloads;
  for (size_t i = 0; i < queries.size(); ++i) {
    const BenchQuery& q = queries[i];
    workloads.insert(q.workload);
    if (i < 80) {
      ASSERT_EQ(q.type, 'N');
      EXPECT_EQ(q.workload, i % 2 == 0 ? "number-hit" : "number-miss");
      EXPECT_EQ(existing.count(q.digits), i % 2 == 0 ? 1u : 0u) << q.digits;
      EXPECT_EQ(q.digits.substr(0, 6), "031234");
      continue;
    }
    ASSERT_EQ(q.type, 'S');
    if (q.workload != "name-prefix-any-region") {
      EXPECT_EQ(q.region, 13102u) << q.workload;
    }
    const bool leading = q.workload.find("prefix") != std::string::npos;
    EXPECT_EQ(leading ? q.patternGlob.back() : q.patternGlob.front(), '*') << q.patternGlob;
    EXPECT_EQ(q.address1Cp932.empty(), q.workload.find("addr1") == std::string::npos);
    std::string glob;
    ASSERT_TRUE(BenchData_GlobPattern(q.patternCp932, &glob));
    EXPECT_EQ(glob, q.patternGlob);
  }
  EXPECT_EQ(workloads.size(), 7u);

  std::vector<BenchQuery> again, other;
  BenchData_MakeQueries(listings, plan, &again);
  plan.seed = 8;
  BenchData_MakeQueries(listings, plan, &other);
  auto digits = [](const std::vector<BenchQuery>& qs) {
    std::vector<std::string> out;
    for (const BenchQuery& q : qs) out.push_back(q.digits + q.patternCp932);
    return out;
  };
  EXPECT_EQ(digits(again), digits(queries));
  EXPECT_NE(digits(other), digits(queries));
}

// Position k is drawn with probability (1 / (k + 1)) / H_n: for n = 100, H_n = 5.187, so the
// first position takes 19.3% of the draws and the second half as many.
TEST(BenchData, ZipfDrawsFavourTheFirstPositions) {
  std::vector<uint32_t> draws, again, other;
  BenchData_ZipfDraws(100, 20000, 1.0, 3, &draws);
  ASSERT_EQ(draws.size(), 20000u);
  std::vector<uint32_t> counts(100, 0);
  for (uint32_t k : draws) {
    ASSERT_LT(k, 100u);
    ++counts[k];
  }
  EXPECT_NEAR(counts[0], 20000 / 5.187, 300);
  EXPECT_NEAR(static_cast<double>(counts[0]) / counts[1], 2.0, 0.3);
  EXPECT_GT(counts[99], 0u);
  BenchData_ZipfDraws(100, 20000, 1.0, 3, &again);
  BenchData_ZipfDraws(100, 20000, 1.0, 4, &other);
  EXPECT_EQ(again, draws);
  EXPECT_NE(other, draws);
  BenchData_ZipfDraws(0, 10, 1.0, 3, &draws);
  EXPECT_TRUE(draws.empty());
}

}  // namespace
