// Hyphenation of result numbers with the area code sets shipped in data/, held against the
// national format libphonenumber gives for every number of data/hyphenation_expectations.tsv.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "mkdict/tsv_input.h"
#include "support/search_session.h"
#include "support/test_dicts.h"

namespace {

const std::string kDataDir = QOR3_DATA_DIR;

// The non-empty lines of a data file, without CR; a test failure when it cannot be read.
std::vector<std::string> DataLines(const char* name) {
  std::string text, error;
  if (!ReadWholeFile(kDataDir + "/" + name, &text, &error)) {
    ADD_FAILURE() << error;
    return {};
  }
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

std::string Digits(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c != '-') out.push_back(c);
  }
  return out;
}

// One dictionary holding every expected number as a listing named 山田 太郎 in one region,
// built with the shipped area code sets and opened through Qor_Open.
class ShippedAreaCodes : public SearchTest {
 protected:
  void SetUp() override {
    for (const std::string& line : DataLines("hyphenation_expectations.tsv")) {
      size_t tab = line.find('\t');
      ASSERT_NE(tab, std::string::npos) << line;
      expected_[line.substr(0, tab)] = line.substr(tab + 1);
    }
    ASSERT_GE(expected_.size(), 4000u);
    TestDictOptions options;
    options.number = 1301;
    options.areaCodes = DataLines("area_codes.txt");
    options.extendedAreaCodes = DataLines("extended_area_codes.txt");
    ASSERT_GT(options.areaCodes.size(), 300u);
    ASSERT_GT(options.extendedAreaCodes.size(), 200u);
    std::vector<TestListing> listings;
    for (const auto& [number, display] : expected_) {
      TestListing l;
      l.number = number;
      l.name = "山田　太郎";
      l.regionName1 = "東京都";
      l.regionName2 = "千代田区";
      l.address1 = "丸の内";
      listings.push_back(l);
    }
    ASSERT_FALSE(WriteTestDict(d1_.path(), listings, options).empty());
    ASSERT_NE(Open(false, false), nullptr);
  }

  std::map<std::string, std::string> expected_;  // number digits -> national format
};

TEST_F(ShippedAreaCodes, EveryNameSearchResultIsHyphenatedAsLibphonenumberDoes) {
  std::vector<std::string> numbers = Numbers(Name(13101, "山田*"));
  ASSERT_EQ(numbers.size(), expected_.size());
  int wrong = 0;
  for (const std::string& shown : numbers) {
    auto it = expected_.find(Digits(shown));
    ASSERT_NE(it, expected_.end()) << shown;
    if (shown != it->second && ++wrong <= 20) {
      ADD_FAILURE() << it->first << ": shown " << shown << ", expected " << it->second;
    }
  }
  EXPECT_EQ(wrong, 0);
}

TEST_F(ShippedAreaCodes, NumberSearchesByEitherKeyFormShowTheNationalFormat) {
  // Every 50th number, each searched in both key forms: the expected text and plain digits.
  int i = 0;
  for (const auto& [digits, display] : expected_) {
    if (i++ % 50 != 0) continue;
    for (const std::string& key : {digits, display}) {
      EXPECT_EQ(Numbers(Number(key)), std::vector<std::string>{display}) << key;
    }
  }
}

}  // namespace
