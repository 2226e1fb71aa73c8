// A host session end to end through the exported functions: open, both searches, release and
// close giving every allocation back (scripts/test.sh runs these under valgrind too), and an
// open on a full disk keeping the old catalog.
#include "qor3.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "base/file_io.h"
#include "base/mem.h"
#include "catalog/catalog_test_files.h"
#include "support/temp_dir.h"
#include "support/test_dicts.h"

namespace {

OpenRequest Request(const std::string& dir1, const std::string& correction) {
  OpenRequest request;
  std::memset(&request, 0, sizeof request);
  request.directory1Length = static_cast<uint32_t>(dir1.size());
  std::memcpy(request.directory1, dir1.data(), dir1.size());
  request.correctionDirectoryLength = static_cast<uint32_t>(correction.size());
  std::memcpy(request.correctionDirectory, correction.data(), correction.size());
  return request;
}

std::vector<TestListing> Listings() {
  std::vector<TestListing> l(3);
  l[0].number = "03-1234-5678";
  l[0].name = "佐藤 太郎";
  l[0].regionName1 = "東京都";
  l[0].regionName2 = "千代田区";
  l[0].address1 = "丸の内";
  l[0].address2 = "1-1-1";
  l[1] = l[0];
  l[1].number = "03-1234-5679";
  l[1].name = "鈴木 一郎";
  l[2] = l[0];
  l[2].kind = 2;
  l[2].name = "山田商店";
  l[2].address1 = "有楽町";
  return l;
}

std::string ReadAll(const std::string& path) {
  std::string bytes;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return bytes;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
  std::fclose(f);
  return bytes;
}

TEST(Session, OpenSearchReleaseCloseGivesEverythingBack) {
#if defined(QOR3_FAULT_INJECTION)
  const long liveBefore = Mem_LiveBlocks();
#endif
  TempDir dicts, corrections;
  TestDictOptions options;
  options.edition1 = 20020801;  // edition stamp 208: corrections of version 208 and up apply
  options.areaCodes = {"03"};
  ASSERT_NE(WriteTestDict(dicts.path(), Listings(), options), "");
  TestListing added = Listings()[0];
  added.number = "03-1234-0000";
  added.name = "佐藤 一";
  added.version = 300;
  TestDictOptions correction;
  correction.correction = true;
  ASSERT_NE(WriteTestDict(corrections.path(), {added}, correction), "");

  const OpenRequest open = Request(dicts.path(), corrections.path());
  OpenResult result{};
  void* handle = Qor_Open(&open, &result);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(result.correctionFilePresent, 1u);
  ASSERT_EQ(result.regionCount, 1u);
  EXPECT_EQ(result.regions[0]->regionCode, 13101);

  SearchRequest number;
  std::memset(&number, 0, sizeof number);
  number.mode = 2;
  number.keyLength = 10;
  std::memcpy(number.key, "0312345679", 10);
  EXPECT_EQ(Qor_Search(handle, &number), 0);
  ASSERT_EQ(number.resultCount, 1u);
  EXPECT_STREQ(number.results[0]->number, "03-1234-5679");
  EXPECT_EQ(TestUtf8(number.results[0]->name), "鈴木　一郎");
  EXPECT_EQ(Qor_MemRelease(&number), 0);

  SearchRequest name;
  std::memset(&name, 0, sizeof name);
  name.mode = 1;
  name.regionCode = 13101;
  name.kindFilter = 3;
  const std::string pattern = TestCp932("佐藤*", true);
  name.namePatternLength = static_cast<uint32_t>(pattern.size());
  std::memcpy(name.namePattern, pattern.data(), pattern.size());
  EXPECT_EQ(Qor_Search(handle, &name), 0);
  std::vector<std::string> numbers;
  for (uint32_t i = 0; i < name.resultCount; ++i) numbers.push_back(name.results[i]->number);
  // The correction file's addition comes in entry order before the dictionary's listing.
  EXPECT_EQ(numbers, (std::vector<std::string>{"03-1234-0000", "03-1234-5678"}));
  EXPECT_EQ(Qor_MemRelease(&name), 0);

  EXPECT_EQ(Qor_Close(handle, &result), 0);
#if defined(QOR3_FAULT_INJECTION)
  EXPECT_EQ(Mem_LiveBlocks(), liveBefore);
#endif
}

#if defined(QOR3_FAULT_INJECTION)
TEST(Session, AnOpenOnAFullDiskKeepsTheOldCatalogWhole) {
  TempDir dicts;
  ASSERT_NE(WriteTestDict(dicts.path(), Listings()), "");
  const OpenRequest open = Request(dicts.path(), "");
  OpenResult result{};
  void* handle = Qor_Open(&open, &result);
  ASSERT_NE(handle, nullptr);
  Qor_Close(handle, &result);
  const std::string catalog = ReadAll(dicts.File("qor9999.dct"));
  ASSERT_FALSE(catalog.empty());

  // A new edition of the dictionary with another file time makes the next open rewrite the
  // catalog; the disk is full.
  TestDictOptions newer;
  newer.edition2 = 2;
  const std::string path = WriteTestDict(dicts.path(), Listings(), newer);
  ASSERT_NE(path, "");
  ASSERT_TRUE(catalog_test::SetMTime(path, std::time(nullptr) - 3600));
  File_FailWritesFrom(1);
  result = OpenResult{};
  handle = Qor_Open(&open, &result);
  File_FailWritesFrom(0);
  if (handle) Qor_Close(handle, &result);
  EXPECT_EQ(ReadAll(dicts.File("qor9999.dct")), catalog);
  EXPECT_EQ(dicts.EntryCount(), 2);  // the dictionary and the old catalog, no temporary file

  result = OpenResult{};
  handle = Qor_Open(&open, &result);
  ASSERT_NE(handle, nullptr);
  Qor_Close(handle, &result);
  EXPECT_NE(ReadAll(dicts.File("qor9999.dct")), catalog);
}
#endif

}  // namespace
