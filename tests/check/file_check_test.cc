// The checker on dictionaries made by the builder: the rules where the two must agree, and the
// corrections of a set that can never apply.
#include "check/file_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "support/test_dicts.h"

namespace {

// An address 1 longer than an index text (83 bytes) ends its index texts before the double-byte
// character that would reach past the limit, and the checker takes the texts the same way.
TEST(FileCheck, LongAddressesEndTheirIndexTextsAtACharacter) {
  TempDir dir;
  TestListing listing = TestEntry("03-3211-0001", "山田　太郎");
  listing.address1.clear();
  for (int i = 0; i < 50; ++i) listing.address1 += "東";  // 100 bytes
  const std::string path = WriteTestDict(dir.path(), {listing}, DictOptions(101, 20240101));
  ASSERT_FALSE(path.empty());
  std::string problem;
  EXPECT_TRUE(Check_Dictionary(path, &problem)) << problem;
  DictWalk walk;
  std::string error;
  ASSERT_TRUE(Check_WalkDictionary(path, false, nullptr, &walk, &error)) << error;
  ASSERT_EQ(walk.entryBlocks.size(), 1u);
  EXPECT_EQ(walk.entryBlocks[0].first.size(), 82u);  // 41 characters
  EXPECT_EQ(walk.entryBlocks[0].last, walk.entryBlocks[0].first);
  EXPECT_EQ(walk.problems.count, 0u);
}

// Corrections lapse against the newest copy of each dictionary: the stamp of a dictionary is
// YYMM of its edition value 1, and a region takes the lowest stamp of the dictionaries listing
// it.
TEST(FileCheck, CorrectionsLapseBelowTheStampOfTheNewestCopy) {
  TempDir older, newer, corrections;
  const std::vector<TestListing> listings = {TestEntry("03-3211-0001", "山田　太郎")};
  const std::string old0101 = WriteTestDict(older.path(), listings, DictOptions(101, 20261209));
  const std::string new0101 = WriteTestDict(newer.path(), listings, DictOptions(101, 20270115));
  TestListing elsewhere = TestEntry("045-123-0003", "山田　三郎");
  elsewhere.regionCode = 14101;
  elsewhere.regionName1 = "神奈川県";
  elsewhere.regionName2 = "鶴見区";
  const std::string fixes = WriteTestDict(
      corrections.path(),
      {Versioned(TestEntry("03-3211-0002", "山田　次郎"), 2612),
       Versioned(TestEntry("03-3211-0004", "山田　四郎"), 2701), Versioned(elsewhere, 2701)},
      CorrectionOptions());
  ASSERT_FALSE(old0101.empty() || new0101.empty() || fixes.empty());

  auto lapsed = [&](const std::vector<std::string>& paths) {
    CheckSet set;
    for (const std::string& path : paths) {
      CheckedFile file;
      std::string error;
      EXPECT_TRUE(Check_File(path, &set, &file, &error)) << error;
      EXPECT_EQ(file.Problems().count, 0u) << path;
    }
    return Check_LapsedCorrections(set);
  };
  const LapsedCorrections withOld = lapsed({old0101, fixes});
  ASSERT_TRUE(withOld.judged);
  EXPECT_EQ(withOld.total, 3u);
  EXPECT_EQ(withOld.older, 0u);
  EXPECT_EQ(withOld.unlisted, 1u);
  ASSERT_EQ(withOld.regions.size(), 1u);
  EXPECT_EQ(withOld.regions[0].code, 14101u);
  EXPECT_FALSE(withOld.regions[0].listed);

  // The newer copy, in either order, raises the stamp of 13101 to 2701.
  for (const auto& paths : {std::vector<std::string>{old0101, new0101, fixes},
                            std::vector<std::string>{new0101, old0101, fixes}}) {
    const LapsedCorrections withNew = lapsed(paths);
    EXPECT_EQ(withNew.older, 1u);
    EXPECT_EQ(withNew.unlisted, 1u);
    ASSERT_EQ(withNew.regions.size(), 2u);
    const LapsedRegion& region = withNew.regions[0];
    EXPECT_EQ(region.code, 13101u);
    EXPECT_TRUE(region.listed);
    EXPECT_EQ(region.stamp, 2701u);
    EXPECT_EQ(region.count, 1u);
    EXPECT_EQ(region.lowest, 2612u);
  }

  // Without the correction file, or without a dictionary, nothing is judged.
  EXPECT_FALSE(lapsed({old0101}).judged);
  EXPECT_FALSE(lapsed({fixes}).judged);
}

}  // namespace
