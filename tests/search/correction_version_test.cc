// Correction versions beyond 2047 end to end: a correction applies from its version on, where
// versions and edition stamps are YYMM of any year, and a correction file written while
// versions had 11 bits reads as it did.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "mkdict/tsv_input.h"
#include "dict/dict_format.h"
#include "support/search_session.h"
#include "support/test_dicts.h"

namespace {

typedef std::vector<std::string> Strings;

TestListing Listing(const std::string& name, const std::string& number, const std::string& address2,
                    uint32_t version = 0, bool add = true) {
  TestListing l;
  l.regionCode = 13101;
  l.number = number;
  l.postalCode = "100-0005";
  l.name = name;
  l.regionName1 = "東京都";
  l.regionName2 = "千代田区";
  l.address1 = "丸の内";
  l.address2 = address2;
  l.version = version;
  l.add = add;
  return l;
}

TestDictOptions Edition(uint32_t edition1) { return DictOptions(1301, edition1); }

TEST(CorrectionWord, KeepsKindAndVersionFromJanuary2021ToDecember2099) {
  for (bool add : {true, false}) {
    for (uint32_t version = 0; version <= 2047; ++version) {
      // Written as before versions went past 2047.
      ASSERT_EQ(CorrectionWord_Make(add, version), (add ? 0x0800u : 0u) | version);
      ASSERT_EQ(CorrectionWord_Version(CorrectionWord_Make(add, version)), int32_t(version));
    }
    for (uint32_t year = 21; year <= 99; ++year) {
      for (uint32_t month = 1; month <= 12; ++month) {
        const uint16_t word = CorrectionWord_Make(add, year * 100 + month);
        ASSERT_LT(word, 0x2000u);  // the first byte ends address text 2
        ASSERT_EQ((word & 0x0800) != 0, add);
        ASSERT_EQ(CorrectionWord_Version(word), int32_t(year * 100 + month));
      }
    }
  }
  // Above 2047, a version that is not a YYMM is kept as the last YYMM before it.
  for (auto [version, stored] : {std::pair{2613, 2612}, {2700, 2612}, {2048, 2012}, {9999, 9912}}) {
    EXPECT_EQ(CorrectionWord_Version(CorrectionWord_Make(false, version)), stored) << version;
  }
}

class CorrectionVersionTest : public SearchTest {};

TEST_F(CorrectionVersionTest, VersionsAbove2047ApplyFromTheEditionStampOn) {
  WriteTestDict(d1_.path(),
                {Listing("鈴木　一", "03-1234-5678", "1"), Listing("鈴木　二", "03-1234-5678", "2")},
                Edition(20261209));  // stamp 2612
  TestDictOptions corrections;
  corrections.correction = true;
  WriteTestDict(d3_.path(),
                {Listing("鈴木　一", "03-1234-5678", "1", 2611, false),  // ignored
                 Listing("鈴木　二", "03-1234-5678", "2", 2612, false),
                 Listing("鈴木　三", "03-1234-5678", "3", 2611),  // ignored
                 Listing("鈴木　四", "03-1234-5678", "4", 2612),
                 Listing("鈴木　五", "03-1234-5678", "5", 3001)},
                corrections);
  Open();
  const Strings expected = {"鈴木　一", "鈴木　四", "鈴木　五"};
  EXPECT_EQ(Names(Number("0312345678")), expected);
  EXPECT_EQ(Names(Name(13101, "鈴木*")), expected);
}

TEST_F(CorrectionVersionTest, ACorrectionFileWithElevenBitVersionsReadsAsBefore) {
  // Written by qor-mkdict before versions went past 2047 (bits 12..15 of every correction
  // word clear), from these rows of region 13101, postal 100-0005, 丸の内:
  //   remove 佐藤　一 03-1234-5678 "1" 2047; add 佐藤　二 03-1234-0001 "2" 2047;
  //   add 佐藤　三 03-1234-0002 "3" 2046; add 佐藤　四 03-1234-0003 "4" 0.
  std::string image, error;
  const std::string fixture = QOR3_TESTS_DIR "/search/data/corrections_11bit_versions.dct";
  ASSERT_TRUE(ReadWholeFile(fixture, &image, &error)) << error;
  d3_.Write("qor5001.dct", image);
  // Stamp 2047: the highest version of then applies, the one below it does not.
  WriteTestDict(d1_.path(), {Listing("佐藤　一", "03-1234-5678", "1")}, Edition(20204700));
  Open();
  EXPECT_EQ(Names(Name(13101, "佐藤*")), (Strings{"佐藤　二"}));
  EXPECT_TRUE(FindsNothing(handle_, NumberRequest("0312345678")));
  EXPECT_EQ(Names(Number("0312340001")), (Strings{"佐藤　二"}));
  EXPECT_TRUE(FindsNothing(handle_, NumberRequest("0312340002")));
}

}  // namespace
