// Files that change under an open set: every search answers as a fresh Qor_Open over the files
// as they are at that moment would, whether a dictionary is installed by Qor_CopyDic, rewritten
// in place with its old modification time put back, deleted, or the correction file appears.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/search_session.h"
#include "support/test_dicts.h"

namespace {

using Strings = std::vector<std::string>;

// Renames from over an existing to in one step, as an installer does (std::rename refuses an
// existing target on Windows; std::filesystem::rename replaces it there too).
void ReplaceByRename(const std::string& from, const std::string& to) {
  std::error_code error;
  std::filesystem::rename(from, to, error);
  ASSERT_FALSE(error) << error.message();
}

TestListing Listing(const std::string& number, const std::string& name, uint32_t region = 13101,
                    uint32_t version = 0) {
  TestListing l;
  l.regionCode = region;
  l.number = number;
  l.name = name;
  l.regionName1 = "東京都";
  l.regionName2 = region == 13101 ? "千代田区" : "中央区";
  l.address1 = "丸の内";
  l.address2 = "1-1";
  l.version = version;
  return l;
}

TestDictOptions Edition(uint32_t edition1, uint32_t number = 101) {
  return DictOptions(number, edition1);
}

class ChangingFilesTest : public SearchTest {
 protected:
  Strings NumberNames(const std::string& key) { return Names(Number(key)); }
  Strings SuzukiIn(uint32_t region) { return Names(Name(region, "鈴木*")); }
  // Installs dictionary 101 from a directory of its own, as an installer does.
  void Install(const std::vector<TestListing>& listings, const TestDictOptions& options) {
    TempDir source;
    WriteTestDict(source.path(), listings, options);
    const std::string from = source.path(), to = d1_.path();
    const int32_t numbers[] = {static_cast<int32_t>(options.number)};
    ASSERT_EQ(Qor_CopyDic(from.data(), static_cast<int32_t>(from.size()), to.data(),
                          static_cast<int32_t>(to.size()), numbers, 1),
              1);
  }
};

// The edition of an installed dictionary decides which corrections apply: the open engine
// follows the install, so a correction the new edition already holds does not come twice.
TEST_F(ChangingFilesTest, AnInstallUnderAnOpenEngineAnswersAsAFreshOpen) {
  // Stamp 1001; the correction (version 1001) adds 佐藤 to number 0312345679.
  WriteTestDict(d1_.path(), {Listing("0312345678", "山田　太郎")}, Edition(20100100));
  WriteTestDict(d3_.path(), {Listing("0312345679", "佐藤　花子", 13101, 1001)}, CorrectionOptions());
  Open();
  EXPECT_EQ(NumberNames("0312345679"), (Strings{"佐藤　花子"}));
  EXPECT_TRUE(FindsNothing(handle_, NameRequest(13102, "鈴木*")));
  // Edition stamp 1002 holds 佐藤 itself and adds region 13102: the correction no longer
  // applies, and the new region is known at once.
  Install({Listing("0312345678", "山田　太郎"), Listing("0312345679", "佐藤　花子"),
           Listing("0312345680", "鈴木　一郎", 13102)},
          Edition(20100200));
  EXPECT_EQ(NumberNames("0312345679"), (Strings{"佐藤　花子"}));
  EXPECT_EQ(SuzukiIn(13102), (Strings{"鈴木　一郎"}));
  const Strings afterInstall = NumberNames("0312345679");
  Open();  // a fresh open over the same files answers the same
  EXPECT_EQ(NumberNames("0312345679"), afterInstall);
  EXPECT_EQ(SuzukiIn(13102), (Strings{"鈴木　一郎"}));
}

TEST_F(ChangingFilesTest, ARewriteInPlaceWithItsOldTimeAndADeletionAreSeen) {
  WriteTestDict(d1_.path(), {Listing("0312345678", "山田　太郎")}, Edition(20100100));
  const std::string path = d1_.path() + "qor0101.dct";
  struct stat before;
  ASSERT_EQ(stat(path.c_str(), &before), 0);
  Open();
  EXPECT_EQ(NumberNames("0312345678"), (Strings{"山田　太郎"}));
  std::vector<uint8_t> image;
  std::string error;
  ASSERT_TRUE(BuildTestDict({Listing("0312345678", "山田　次郎")}, Edition(20100100), &image,
                            &error))
      << error;
  d1_.Write("qor0101.dct", std::string(image.begin(), image.end()));
  struct utimbuf times {before.st_atime, before.st_mtime};
  ASSERT_EQ(utime(path.c_str(), &times), 0);
  EXPECT_EQ(NumberNames("0312345678"), (Strings{"山田　次郎"}));
  ASSERT_EQ(std::remove(path.c_str()), 0);
  EXPECT_TRUE(FindsNothing(handle_, NumberRequest("0312345678")));
  EXPECT_TRUE(FindsNothing(handle_, NameRequest(13101, "山田*")));
}

// Replaced by rename, as another process installs a file: dictionaries and the correction
// file, each searched (so cached) before.
TEST_F(ChangingFilesTest, FilesReplacedByRenameAreReadAsTheyAreNow) {
  WriteTestDict(d1_.path(), {Listing("0312345678", "山田　太郎")}, Edition(20100100));
  WriteTestDict(d3_.path(), {Listing("0312345679", "佐藤　花子", 13101, 1001)}, CorrectionOptions());
  Open();
  EXPECT_EQ(NumberNames("0312345678"), (Strings{"山田　太郎"}));
  EXPECT_EQ(NumberNames("0312345679"), (Strings{"佐藤　花子"}));
  EXPECT_EQ(Names(Name(13101, "山田*")), (Strings{"山田　太郎"}));
  auto replace = [](const TempDir& dir, const std::vector<TestListing>& listings,
                    const TestDictOptions& options, const char* name) {
    std::vector<uint8_t> image;
    std::string error;
    ASSERT_TRUE(BuildTestDict(listings, options, &image, &error)) << error;
    dir.Write("new.tmp", std::string(image.begin(), image.end()));
    ReplaceByRename(dir.path() + "new.tmp", dir.path() + name);
  };
  replace(d1_, {Listing("0312345678", "山田　次郎")}, Edition(20100100), "qor0101.dct");
  replace(d3_, {Listing("0312345679", "佐藤　京子", 13101, 1001)}, CorrectionOptions(), "qor5001.dct");
  EXPECT_EQ(NumberNames("0312345678"), (Strings{"山田　次郎"}));
  EXPECT_EQ(NumberNames("0312345679"), (Strings{"佐藤　京子"}));
  EXPECT_EQ(Names(Name(13101, "山田*")), (Strings{"山田　次郎"}));
}

// Where no change is told (an engine whose searches pass over its watch), a search that must
// read a block of a file the cache holds finds the file replaced, and answers from the file as
// it is now.
TEST_F(ChangingFilesTest, ASearchFindingACachedFileReplacedReadsTheNewFile) {
  WriteTestDict(d1_.path(), {Listing("0312345678", "山田　太郎")}, Edition(20100100));
  EngineOptions options;
  options.ignoreWatch = true;
  OwnEngine engine = OpenEngine(d1_.path(), "", "", options);
  ASSERT_NE(engine, nullptr);
  // The name search caches the file and its entry block, not its number block.
  EXPECT_EQ(Names(Search(engine.get(), NameRequest(13101, "山田*"))), (Strings{"山田　太郎"}));
  std::vector<uint8_t> image;
  std::string error;
  ASSERT_TRUE(BuildTestDict({Listing("0312345678", "山田　次郎")}, Edition(20100100), &image,
                            &error))
      << error;
  d1_.Write("new.tmp", std::string(image.begin(), image.end()));
  ReplaceByRename(d1_.path() + "new.tmp", d1_.path() + "qor0101.dct");
  EXPECT_EQ(Names(Search(engine.get(), NumberRequest("0312345678"))), (Strings{"山田　次郎"}));
  // That search dropped the cache: the name search reads the new file too.
  EXPECT_EQ(Names(Search(engine.get(), NameRequest(13101, "山田*"))), (Strings{"山田　次郎"}));
}

}  // namespace
