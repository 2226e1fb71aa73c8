// Qor_CopyDic end to end on builder-made dictionaries: files copied over old ones with their
// times, the destination catalog rebuilt from both catalogs (rows, order, groups), what an
// open finds afterwards, refused requests, failed copies and allocation failures; and the
// copy's packers held against the refresh's.
#include "copy/copy_dic.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "base/mem.h"
#include "catalog/catalog_file.h"
#include "catalog/catalog_refresh.h"
#include "catalog/catalog_test_files.h"
#include "files/file_names.h"
#include "platform/platform.h"
#include "qor3.h"
#include "support/temp_dir.h"
#include "support/test_dicts.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;
using catalog_test::DictName;
using catalog_test::LocalTimeOf;
using catalog_test::MTime;
using catalog_test::ReadBytes;
using catalog_test::SetMTime;
using catalog_test::WriteBytes;

const std::time_t kOld = LocalTimeOf(2002, 1, 10, 12, 30);
const std::time_t kNew = LocalTimeOf(2003, 1, 20, 8, 15);
const std::time_t kLongAgo = LocalTimeOf(2001, 1, 5, 6, 0);

struct Listed {
  uint32_t region;
  std::string regionName1;
  std::string number;  // "0312345678"
  std::string name;    // UTF-8
};

// A builder-made dictionary file with the given modification time.
void MakeDict(const TempDir& dir, uint32_t number, uint32_t edition1,
              const std::vector<Listed>& listed, std::time_t mtime) {
  std::vector<TestListing> listings;
  for (const Listed& l : listed) {
    TestListing t;
    t.regionCode = l.region;
    t.regionName1 = l.regionName1;
    t.regionName2 = "R" + std::to_string(l.region);
    t.number = l.number;
    t.name = l.name;
    t.address1 = "丸の内";
    listings.push_back(t);
  }
  TestDictOptions options;
  options.number = number;
  options.edition1 = edition1;
  const std::string path = WriteTestDict(dir.path(), listings, options);
  ASSERT_FALSE(path.empty());
  ASSERT_TRUE(SetMTime(path, mtime));
}

using DictRow = std::tuple<uint32_t, uint32_t, uint32_t, uint32_t>;  // number, date, time, ed1
using RegionRec = std::tuple<uint32_t, std::string, uint32_t>;       // code, name 1, dict
using Group = std::pair<uint32_t, std::vector<uint32_t>>;            // prefix, dicts

// A directory's catalog as the library reads it.
struct CatalogView {
  Result answer = Result::kNotFound;
  std::vector<DictRow> dicts;
  std::vector<RegionRec> regions;
  std::vector<Group> groups;
};

CatalogView ReadCatalog(const TempDir& dir) {
  CatalogView view;
  auto* image = static_cast<DirCatalog*>(Mem_Alloc(sizeof(DirCatalog)));
  DirCatalog_Init(image);
  view.answer = DirCatalog_Read(dir.path().c_str(), image);
  for (uint32_t i = 0; view.answer == Result::kOk && i < image->dictCount; ++i) {
    CatalogDictRow row;
    EXPECT_EQ(DirCatalog_DictRow(image, i, &row), 0);
    view.dicts.emplace_back(row.number, row.date, row.time, row.edition1);
  }
  for (uint32_t i = 0; view.answer == Result::kOk && i < image->regionCount; ++i) {
    CatalogRegionRecord rec;
    EXPECT_EQ(DirCatalog_RegionRecord(image, i, &rec), 0);
    view.regions.emplace_back(rec.code, rec.name1, rec.dictNumber);
  }
  PrefixCursor cursor;
  PrefixCursor_Start(&cursor, image);
  uint32_t prefix, n;
  const uint8_t* dicts;
  while (view.answer == Result::kOk && PrefixCursor_Next(&cursor, &prefix, &dicts, &n) == 0) {
    Group g{prefix, {}};
    for (uint32_t k = 0; k < n; ++k)
      g.second.push_back(uint32_t{dicts[2 * k]} << 8 | dicts[2 * k + 1]);
    view.groups.push_back(g);
  }
  DirCatalog_Free(image);
  Mem_Free(image);
  return view;
}

// Date and time of a file's modification as the catalog stores them.
std::pair<uint32_t, uint32_t> CatalogTime(std::time_t t) {
  std::tm tm{};
#if defined(_WIN32)
  localtime_s(&tm, &t);
#else
  localtime_r(&t, &tm);
#endif
  return {static_cast<uint32_t>((tm.tm_year + 1900) * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_mday),
          static_cast<uint32_t>(tm.tm_hour * 100 + tm.tm_min)};
}

DictRow RowOf(uint32_t number, std::time_t t, uint32_t edition1) {
  const auto [date, time] = CatalogTime(t);
  return {number, date, time, edition1};
}

std::string NoSeparator(const TempDir& dir) { return dir.path().substr(0, dir.path().size() - 1); }

int32_t CopyDic(const std::string& from, const std::string& to, const std::vector<int32_t>& n) {
  return Qor_CopyDic(from.data(), static_cast<int32_t>(from.size()), to.data(),
                     static_cast<int32_t>(to.size()), n.data(), static_cast<int32_t>(n.size()));
}

std::string Digits(const char* text) {
  std::string out;
  for (; *text; ++text) {
    if (*text != '-') out.push_back(*text);
  }
  return out;
}

// Opens a directory as directory 1 and answers searches through the five exports.
class OpenedSet {
 public:
  explicit OpenedSet(const std::string& dir) {
    OpenRequest request{};
    request.directory1Length = static_cast<uint32_t>(dir.size());
    std::memcpy(request.directory1, dir.data(), dir.size());
    handle_ = Qor_Open(&request, &result_);
  }
  ~OpenedSet() {
    if (handle_) Qor_Close(handle_, &result_);
  }
  bool ok() const { return handle_ != nullptr; }
  // Names of the listings carrying the number.
  std::vector<std::string> ByNumber(const std::string& number) {
    SearchRequest request{};
    request.mode = 2;
    request.keyLength = static_cast<uint32_t>(number.size());
    std::memcpy(request.key, number.data(), number.size());
    return Run(&request);
  }
  // Names (or, with numbers, the number digits) of the region's listings matching the
  // pattern.
  std::vector<std::string> ByName(uint32_t region, const std::string& patternUtf8,
                                  bool numbers = false) {
    SearchRequest request{};
    request.mode = 1;
    request.kindFilter = 3;
    request.regionCode = region;
    const std::string pattern = TestCp932(patternUtf8, true);
    request.namePatternLength = static_cast<uint32_t>(pattern.size());
    std::memcpy(request.namePattern, pattern.data(), pattern.size());
    return Run(&request, numbers);
  }

 private:
  std::vector<std::string> Run(SearchRequest* request, bool numbers = false) {
    std::vector<std::string> out;
    Qor_Search(handle_, request);
    for (uint32_t i = 0; i < request->resultCount; ++i) {
      const SearchResult* r = request->results[i];
      out.push_back(numbers ? Digits(r->number) : TestUtf8(r->name));
    }
    Qor_MemRelease(request);
    return out;
  }

  OpenResult result_{};
  void* handle_ = nullptr;
};

// The destination holds 0101 (an old edition) and 0102; the source holds a new 0101, 0103
// and 0104, and has no catalog yet.
class CopyDicTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeDict(dst_, 101, 20020801, {{13101, "OLDWARD", "0312340001", "古川一郎"}}, kOld);
    MakeDict(dst_, 102, 20020801, {{14101, "KEPT", "0452000001", "鈴木花子"}}, kOld);
    MakeDict(src_, 101, 20030101,
             {{13101, "NEWWARD", "0312340002", "山田太郎"},
              {13102, "NEWWARD", "0312340003", "山田次郎"}},
             kNew);
    MakeDict(src_, 103, 20030101, {{12101, "CHIBA", "0432000001", "佐藤三郎"}}, kNew);
    MakeDict(src_, 104, 20030101, {{11101, "NOTME", "0482000001", "高橋四郎"}}, kNew);
    // The destination's catalog as an open leaves it.
    ASSERT_TRUE(OpenedSet(dst_.path()).ok());
    ASSERT_EQ(ReadCatalog(dst_).dicts.size(), 2u);
  }

  TempDir src_, dst_;
};

TEST_F(CopyDicTest, CopiedDictionariesGetTheSourcesRowsAndTheOthersKeepTheirs) {
  EXPECT_EQ(CopyDic(src_.path(), dst_.path(), {101, 103}), 2);

  EXPECT_EQ(ReadBytes(dst_.File(DictName(101))), ReadBytes(src_.File(DictName(101))));
  EXPECT_EQ(MTime(dst_.File(DictName(101))), kNew);  // the source's time travels with it
  EXPECT_EQ(MTime(dst_.File(DictName(103))), kNew);
  EXPECT_FALSE(dst_.Exists(DictName(104)));
  EXPECT_EQ(dst_.EntryCount(), 4);                // 0101, 0102, 0103, catalog: no temporary left
  EXPECT_EQ(ReadCatalog(src_).dicts.size(), 3u);  // the source's catalog was made

  const CatalogView c = ReadCatalog(dst_);
  ASSERT_EQ(c.answer, Result::kOk);
  EXPECT_EQ(c.dicts, (std::vector<DictRow>{RowOf(101, kNew, 20030101), RowOf(102, kOld, 20020801),
                                           RowOf(103, kNew, 20030101)}));
  EXPECT_EQ(c.regions, (std::vector<RegionRec>{{12101, "CHIBA", 103},
                                               {13101, "NEWWARD", 101},
                                               {13102, "NEWWARD", 101},
                                               {14101, "KEPT", 102}}));
  EXPECT_EQ(c.groups, (std::vector<Group>{{312, {101}}, {432, {103}}, {452, {102}}}));
}

TEST_F(CopyDicTest, AnOpenAfterTheCopyKeepsTheCatalogAndFindsTheCopiedListings) {
  ASSERT_EQ(CopyDic(src_.path(), dst_.path(), {101, 103}), 2);
  const std::string catalog = dst_.File("qor9999.dct");
  const std::vector<uint8_t> bytes = ReadBytes(catalog);
  ASSERT_TRUE(SetMTime(catalog, kLongAgo));

  OpenedSet set(dst_.path());
  ASSERT_TRUE(set.ok());
  EXPECT_EQ(MTime(catalog), kLongAgo);  // not rewritten: the copied files' times match
  EXPECT_EQ(ReadBytes(catalog), bytes);

  EXPECT_EQ(set.ByNumber("0312340002"), (std::vector<std::string>{"山田太郎"}));
  EXPECT_EQ(set.ByNumber("043-200-0001"), (std::vector<std::string>{"佐藤三郎"}));
  EXPECT_EQ(set.ByNumber("0452000001"), (std::vector<std::string>{"鈴木花子"}));
  EXPECT_TRUE(set.ByNumber("0312340001").empty());  // the replaced edition's listing
  EXPECT_TRUE(set.ByNumber("0482000001").empty());  // not copied
  EXPECT_EQ(set.ByName(13101, "山田*", true), (std::vector<std::string>{"0312340002"}));
  EXPECT_EQ(set.ByName(12101, "佐藤*"), (std::vector<std::string>{"佐藤三郎"}));
  EXPECT_TRUE(set.ByName(13101, "古川*").empty());
}

TEST_F(CopyDicTest, MissingNumbersAreSkippedAndRepeatedOnesCountedButCataloguedOnce) {
  EXPECT_EQ(CopyDic(src_.path(), dst_.path(), {105, 101, 101, 4729}), 2);
  EXPECT_FALSE(dst_.Exists(DictName(105)));
  const CatalogView c = ReadCatalog(dst_);
  EXPECT_EQ(c.dicts,
            (std::vector<DictRow>{RowOf(101, kNew, 20030101), RowOf(102, kOld, 20020801)}));
  EXPECT_EQ(c.regions,
            (std::vector<RegionRec>{
                {13101, "NEWWARD", 101}, {13102, "NEWWARD", 101}, {14101, "KEPT", 102}}));
  EXPECT_EQ(c.groups, (std::vector<Group>{{312, {101}}, {452, {102}}}));
}

TEST_F(CopyDicTest, CountZeroRefreshesBothCatalogsAndRewritesTheDestinations) {
  // The refresh groups runs of one prefix number in dictionary order, so 452 comes twice;
  // the copy writes one group per prefix number.
  MakeDict(dst_, 105, 20020801,
           {{14102, "EXTRA", "0432000002", "伊藤五郎"}, {14102, "EXTRA", "0452000002", "伊藤五子"}},
           kOld);
  const std::string catalog = dst_.File("qor9999.dct");
  ASSERT_TRUE(OpenedSet(dst_.path()).ok());
  ASSERT_EQ(ReadCatalog(dst_).groups,
            (std::vector<Group>{{312, {101}}, {452, {102}}, {432, {105}}, {452, {105}}}));
  ASSERT_TRUE(SetMTime(catalog, kLongAgo));
  MakeDict(dst_, 106, 20020801, {{14103, "NEWER", "0452000003", "渡辺六郎"}}, kOld);

  EXPECT_EQ(CopyDic(src_.path(), dst_.path(), {}), 0);
  EXPECT_NE(MTime(catalog), kLongAgo);
  const CatalogView c = ReadCatalog(dst_);
  EXPECT_EQ(c.groups, (std::vector<Group>{{312, {101}}, {432, {105}}, {452, {102, 105, 106}}}));
  EXPECT_EQ(c.dicts.size(), 4u);  // 0106, new in the destination, came in by the refresh
  EXPECT_EQ(ReadCatalog(src_).dicts.size(), 3u);
  EXPECT_NE(ReadBytes(dst_.File(DictName(101))), ReadBytes(src_.File(DictName(101))));

  // A negative count is a count of 0.
  ASSERT_TRUE(SetMTime(catalog, kLongAgo));
  EXPECT_EQ(Qor_CopyDic(src_.path().data(), static_cast<int32_t>(src_.path().size()),
                        dst_.path().data(), static_cast<int32_t>(dst_.path().size()), nullptr, -3),
            0);
  EXPECT_NE(MTime(catalog), kLongAgo);
}

TEST_F(CopyDicTest, ADestinationLeftWithoutDictionariesLosesItsCatalog) {
  ASSERT_TRUE(fs::remove(dst_.File(DictName(101))));
  ASSERT_TRUE(fs::remove(dst_.File(DictName(102))));
  ASSERT_TRUE(dst_.Exists("qor9999.dct"));
  EXPECT_EQ(CopyDic(src_.path(), dst_.path(), {105}), 0);
  EXPECT_FALSE(dst_.Exists("qor9999.dct"));
  EXPECT_EQ(ReadCatalog(dst_).answer, Result::kNotFound);
}

TEST_F(CopyDicTest, PathsWithAndWithoutTheClosingSeparatorBehaveAlike) {
  TempDir other;
  ASSERT_TRUE(fs::remove(dst_.File("qor9999.dct")));  // both start without a catalog
  MakeDict(other, 101, 20020801, {{13101, "OLDWARD", "0312340001", "古川一郎"}}, kOld);
  MakeDict(other, 102, 20020801, {{14101, "KEPT", "0452000001", "鈴木花子"}}, kOld);
  EXPECT_EQ(CopyDic(src_.path(), dst_.path(), {101, 103}), 2);
  EXPECT_EQ(CopyDic(NoSeparator(src_), NoSeparator(other), {101, 103}), 2);
  EXPECT_EQ(other.EntryCount(), 4);
  const std::vector<uint8_t> catalog = ReadBytes(dst_.File("qor9999.dct"));
  ASSERT_FALSE(catalog.empty());
  EXPECT_EQ(ReadBytes(other.File("qor9999.dct")), catalog);
  EXPECT_EQ(ReadBytes(other.File(DictName(103))), ReadBytes(src_.File(DictName(103))));
}

TEST_F(CopyDicTest, RegionRecordsRunInCodeOrderWithKeptDestinationRecordsFirst) {
  // Kept 0102 and copied 0101 both list 14101: 0102's record comes first although the
  // copied dictionary's number is lower.
  MakeDict(
      src_, 101, 20030201,
      {{14101, "SRCWARD", "0452000009", "山田太郎"}, {13101, "NEWWARD", "0312340002", "山田次郎"}},
      kNew);
  ASSERT_EQ(CopyDic(src_.path(), dst_.path(), {101}), 1);
  const CatalogView c = ReadCatalog(dst_);
  EXPECT_EQ(c.regions,
            (std::vector<RegionRec>{
                {13101, "NEWWARD", 101}, {14101, "KEPT", 102}, {14101, "SRCWARD", 101}}));
  EXPECT_EQ(c.groups, (std::vector<Group>{{312, {101}}, {452, {101, 102}}}));
}

// A source catalog that cannot be made (here: a stale one that the refresh may not replace,
// as on a read-only medium) does not cost the destination the rows of a copied file.
TEST_F(CopyDicTest, ACopiedFileTheSourceCatalogDoesNotListKeepsTheRowsReadFromIt) {
  ASSERT_TRUE(OpenedSet(src_.path()).ok());
  MakeDict(src_, 107, 20030101, {{15101, "LATE", "0552000001", "中村七郎"}}, kNew);
  // The source's refresh would list 0107; a catalog it cannot replace does not.
  const std::string tmp = src_.File("qor9999.dct");
  char blocked[1200];
  ASSERT_EQ(Temp_FileName(tmp.c_str(), blocked, sizeof blocked), 0);
  ASSERT_TRUE(fs::create_directory(blocked));
  EXPECT_EQ(CopyDic(src_.path(), dst_.path(), {107}), 1);
  fs::remove(blocked);
  ASSERT_EQ(ReadCatalog(src_).dicts.size(), 3u);
  const CatalogView c = ReadCatalog(dst_);
  EXPECT_EQ(c.dicts, (std::vector<DictRow>{RowOf(101, kOld, 20020801), RowOf(102, kOld, 20020801),
                                           RowOf(107, kNew, 20030101)}));
  EXPECT_EQ(c.regions.back(), (RegionRec{15101, "LATE", 107}));
  OpenedSet set(dst_.path());
  EXPECT_EQ(set.ByNumber("0552000001"), (std::vector<std::string>{"中村七郎"}));
}

TEST_F(CopyDicTest, RequestsBeyondTheLimitsAreRefusedAsAWhole) {
  const std::string s = src_.path(), d = dst_.path();
  const std::vector<int32_t> one{103};
  const int32_t sl = static_cast<int32_t>(s.size()), dl = static_cast<int32_t>(d.size());
  EXPECT_EQ(Qor_CopyDic(s.data(), 0, d.data(), dl, one.data(), 1), 0);
  EXPECT_EQ(Qor_CopyDic(s.data(), sl, d.data(), 0, one.data(), 1), 0);
  EXPECT_EQ(Qor_CopyDic(s.data(), -5, d.data(), dl, one.data(), 1), 0);
  EXPECT_EQ(Qor_CopyDic(nullptr, sl, d.data(), dl, one.data(), 1), 0);
  EXPECT_EQ(Qor_CopyDic(s.data(), sl, nullptr, dl, one.data(), 1), 0);
  EXPECT_EQ(Qor_CopyDic(s.data(), sl, d.data(), dl, nullptr, 1), 0);
  const std::string withNul = s + std::string("\0x", 2);
  EXPECT_EQ(CopyDic(withNul, d, one), 0);
  // 193 bytes once closed; the length alone is refused before the bytes are read.
  const std::string longPath = s + std::string(193 - s.size() - 1, 'p');
  EXPECT_EQ(CopyDic(longPath, d, one), 0);
  EXPECT_EQ(CopyDic(s, d + std::string(193 - d.size(), 'p') + kPathSeparator, one), 0);
  EXPECT_EQ(Qor_CopyDic(s.data(), 100000, d.data(), dl, one.data(), 1), 0);
  // Nothing was touched: no copy, no source catalog made.
  EXPECT_FALSE(dst_.Exists(DictName(103)));
  EXPECT_FALSE(src_.Exists("qor9999.dct"));
}

TEST_F(CopyDicTest, NumbersOutsideTheCatalogRangeAndLongListsAreHandled) {
  // -1, 9999 (the catalog itself) and numbers beyond four digits are skipped: 10101 must not
  // become qor0101.dct.
  src_.Write("qor5001.dct", "corrections");
  EXPECT_EQ(CopyDic(src_.path(), dst_.path(), {-1, 9999, 10101, 5001}), 1);
  EXPECT_TRUE(dst_.Exists("qor5001.dct"));  // copied as a file, never catalogued
  EXPECT_NE(ReadBytes(dst_.File(DictName(101))), ReadBytes(src_.File(DictName(101))));
  EXPECT_EQ(ReadCatalog(dst_).dicts.size(), 2u);

  // More than 300 entries: every one is copied and counted.
  std::vector<int32_t> many(301, 103);
  EXPECT_EQ(CopyDic(src_.path(), dst_.path(), many), 301);
  EXPECT_EQ(ReadCatalog(dst_).dicts.size(), 3u);
}

// The copy is made beside the destination file and renamed over it: when the temporary
// file cannot be made, the old file stays as it was, keeps its catalog rows, and the other
// numbers are still copied.
TEST_F(CopyDicTest, AFailedCopyKeepsTheOldFileAndItsRows) {
  const std::vector<uint8_t> old = ReadBytes(dst_.File(DictName(101)));
  char blocked[1200];
  ASSERT_EQ(Temp_FileName(dst_.File(DictName(101)).c_str(), blocked, sizeof blocked), 0);
  ASSERT_TRUE(fs::create_directory(blocked));
  EXPECT_EQ(CopyDic(src_.path(), dst_.path(), {101, 103}), 1);
  fs::remove(blocked);
  EXPECT_EQ(ReadBytes(dst_.File(DictName(101))), old);
  EXPECT_EQ(MTime(dst_.File(DictName(101))), kOld);
  EXPECT_EQ(ReadCatalog(dst_).dicts,
            (std::vector<DictRow>{RowOf(101, kOld, 20020801), RowOf(102, kOld, 20020801),
                                  RowOf(103, kNew, 20030101)}));
}

// A dictionary that a reader of this library (a search of another host process) holds open
// while the copy runs is replaced all the same, and the reader reads the old bytes to the end.
// A handle without delete sharing (a plain fopen of another program) forbids the replacement
// on Windows: that file is then not copied, and the old one stays whole with no temporary left.
TEST_F(CopyDicTest, AFileHeldOpenByAReaderIsReplacedUnderIt) {
  const std::vector<uint8_t> old = ReadBytes(dst_.File(DictName(101)));
  FILE* reader = Platform_OpenRegularFile(dst_.File(DictName(101)).c_str());
  ASSERT_NE(reader, nullptr);
  std::vector<uint8_t> held(old.size() + 1);
  size_t heldSize = 0;
  std::thread search([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    heldSize = std::fread(held.data(), 1, held.size(), reader);
    std::fclose(reader);
  });
  EXPECT_EQ(CopyDic(src_.path(), dst_.path(), {101}), 1);
  search.join();
  EXPECT_EQ(ReadBytes(dst_.File(DictName(101))), ReadBytes(src_.File(DictName(101))));
  held.resize(heldSize);
  EXPECT_EQ(held, old);

  FILE* plain = std::fopen(dst_.File(DictName(103)).c_str(), "wb");
  ASSERT_NE(plain, nullptr);
  std::fputs("held", plain);
  std::fflush(plain);
  const int32_t copied = CopyDic(src_.path(), dst_.path(), {103});
  std::fclose(plain);
#if defined(_WIN32)
  EXPECT_EQ(copied, 0);
  EXPECT_EQ(ReadBytes(dst_.File(DictName(103))), (std::vector<uint8_t>{'h', 'e', 'l', 'd'}));
  EXPECT_EQ(dst_.EntryCount(), 4);  // 0101, 0102, 0103, catalog
#else
  EXPECT_EQ(copied, 1);
  EXPECT_EQ(ReadBytes(dst_.File(DictName(103))), ReadBytes(src_.File(DictName(103))));
#endif
}

TEST_F(CopyDicTest, AnUnwritableDestinationCopiesNothingAndKeepsItsFiles) {
#if defined(_WIN32)
  GTEST_SKIP() << "directory permissions do not stop writes on Windows";
#else
  const std::vector<uint8_t> old = ReadBytes(dst_.File(DictName(101)));
  const std::vector<uint8_t> catalog = ReadBytes(dst_.File("qor9999.dct"));
  ASSERT_EQ(chmod(dst_.path().c_str(), 0555), 0);
  const std::string probe = dst_.File("probe");
  FILE* f = std::fopen(probe.c_str(), "wb");
  if (f) {
    std::fclose(f);
    std::remove(probe.c_str());
    chmod(dst_.path().c_str(), 0755);
    GTEST_SKIP() << "running with rights that write into a 0555 directory";
  }
  const int32_t copied = CopyDic(src_.path(), dst_.path(), {101, 103});
  chmod(dst_.path().c_str(), 0755);
  EXPECT_EQ(copied, 0);
  EXPECT_EQ(ReadBytes(dst_.File(DictName(101))), old);
  EXPECT_FALSE(dst_.Exists(DictName(103)));
  EXPECT_EQ(ReadBytes(dst_.File("qor9999.dct")), catalog);
  EXPECT_EQ(dst_.EntryCount(), 3);
#endif
}

// A file copied from a read-only source (a CD) must not come out read-only: the next
// install could not replace it.
TEST_F(CopyDicTest, AReadOnlySourceFileCanBeInstalledTwice) {
  const std::string file = src_.File(DictName(103));
  fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  EXPECT_EQ(CopyDic(src_.path(), dst_.path(), {103}), 1);
  EXPECT_NE(fs::status(dst_.File(DictName(103))).permissions() & fs::perms::owner_write,
            fs::perms::none);
  EXPECT_EQ(CopyDic(src_.path(), dst_.path(), {103}), 1);
  fs::permissions(file, fs::perms::owner_all);
  EXPECT_EQ(ReadBytes(dst_.File(DictName(103))), ReadBytes(file));
}

// Fails each allocation of one copy in turn: the files are copied and counted all the same,
// nothing leaks, and each catalog is left either as it was, as its refresh writes it, or
// (destination) completely rebuilt.
TEST_F(CopyDicTest, EveryAllocationFailureStillCopiesAndCountsTheFiles) {
  const std::vector<uint8_t> old = ReadBytes(dst_.File(DictName(101)));
  const std::vector<uint8_t> before = ReadBytes(dst_.File("qor9999.dct"));
  auto restore = [&] {
    WriteBytes(dst_.File(DictName(101)), old);
    ASSERT_TRUE(SetMTime(dst_.File(DictName(101)), kOld));
    fs::remove(dst_.File(DictName(103)));
    WriteBytes(dst_.File("qor9999.dct"), before);
    fs::remove(src_.File("qor9999.dct"));
  };
  // The destination's catalog as its refresh alone leaves it after the copy.
  ASSERT_EQ(File_CopyReplace(src_.File(DictName(101)).c_str(), dst_.File(DictName(101)).c_str()),
            0);
  ASSERT_EQ(File_CopyReplace(src_.File(DictName(103)).c_str(), dst_.File(DictName(103)).c_str()),
            0);
  auto* image = static_cast<DirCatalog*>(Mem_Alloc(sizeof(DirCatalog)));
  DirCatalog_Init(image);
  ASSERT_EQ(DirCatalog_Load(image, dst_.path().c_str()), Result::kOk);
  DirCatalog_Free(image);
  Mem_Free(image);
  const std::vector<uint8_t> refreshed = ReadBytes(dst_.File("qor9999.dct"));

  restore();
  Mem_ResetFaults();
  const long base = Mem_LiveBlocks();
  ASSERT_EQ(CopyDic(src_.path(), dst_.path(), {101, 103}), 2);
  const unsigned long allocations = Mem_AllocationCount();
  ASSERT_GT(allocations, 5u);
  const std::vector<uint8_t> rebuilt = ReadBytes(dst_.File("qor9999.dct"));
  const std::vector<uint8_t> sourceCatalog = ReadBytes(src_.File("qor9999.dct"));
  ASSERT_NE(rebuilt, refreshed);
  ASSERT_NE(refreshed, before);

  int keptOld = 0, keptRefreshed = 0;
  for (unsigned long k = 1; k <= allocations; ++k) {
    restore();
    Mem_ResetFaults();
    Mem_FailFrom(k);
    const int32_t copied = CopyDic(src_.path(), dst_.path(), {101, 103});
    Mem_ResetFaults();
    EXPECT_EQ(copied, 2) << "allocation " << k;
    EXPECT_EQ(Mem_LiveBlocks(), base) << "allocation " << k;
    EXPECT_EQ(ReadBytes(dst_.File(DictName(103))), ReadBytes(src_.File(DictName(103))));
    const std::vector<uint8_t> c = ReadBytes(dst_.File("qor9999.dct"));
    EXPECT_TRUE(c == before || c == refreshed || c == rebuilt) << "allocation " << k;
    keptOld += c == before;
    keptRefreshed += c == refreshed;
    const std::vector<uint8_t> s = ReadBytes(src_.File("qor9999.dct"));
    EXPECT_TRUE(s.empty() || s == sourceCatalog) << "allocation " << k;
    EXPECT_EQ(dst_.EntryCount(), 4) << "allocation " << k;
  }
  EXPECT_GT(keptOld, 0);
  EXPECT_GT(keptRefreshed, 0);
}

// The copy's packers store the bytes the refresh's packers store for the same records.
TEST(CopyDicPack, RegionAndPrefixTablesMatchTheRefreshWriters) {
  struct Rec {
    const char* dict;
    const char* code;
    const char* name1;
    const char* name2;
  };
  const Rec recs[] = {{"0101", "13101", "AB", "X"},
                      {"0101", "13102", "AB", "Y"},
                      {"0102", "13103", "", "Z"},
                      {"0102", "13104", "AB", "W"}};
  RowList refreshRows, copyRows;
  RowList_Init(&refreshRows);
  RowList_Init(&copyRows);
  for (const Rec& r : recs) {
    const char* a[] = {r.dict, r.code, r.name1, r.name2};
    const char* b[] = {r.code, r.name1, r.name2, r.dict};
    ASSERT_EQ(RowList_Append(&refreshRows, a, 4), 0);
    ASSERT_EQ(RowList_Append(&copyRows, b, 4), 0);
  }
  RowIndex refreshIndex, copyIndex;
  const KeySpec none[] = {{9, 1, 1}};  // a column no row has: list order
  ASSERT_EQ(RowIndex_BuildSorted(&refreshRows, &refreshIndex, none, 1), 0);
  ASSERT_EQ(RowIndex_BuildSorted(&copyRows, &copyIndex, none, 1), 0);
  PackedRegionTable expected, got;
  PackedRegionTable_Init(&expected);
  PackedRegionTable_Init(&got);
  ASSERT_EQ(Catalog_PackRegionTable(&refreshIndex, &expected, kNoDictLimit), 0);
  ASSERT_EQ(CopyDic_PackRegionTable(&copyIndex, &got, kNoDictLimit), 0);
  EXPECT_EQ(got.count, 4);
  EXPECT_EQ(got.nameBytes, expected.nameBytes);
  EXPECT_EQ(got.nameBytes, 3u + 2 + 2 + 1 + 2 + 3 + 2);  // AB shared once, then stored again
  EXPECT_EQ(std::memcmp(got.records, expected.records, expected.recordBytes), 0);
  EXPECT_EQ(std::memcmp(got.names, expected.names, expected.nameBytes), 0);
  PackedRegionTable_Free(&got);
  PackedRegionTable_Free(&expected);
  RowIndex_Free(&refreshIndex);
  RowIndex_Free(&copyIndex);
  RowList_Free(&refreshRows);
  RowList_Free(&copyRows);

  // 300 dictionaries under one prefix: a group of 255, then one of 45, then prefix 0004.
  RowList prefixes;
  RowList_Init(&prefixes);
  for (uint32_t d = 101; d < 401; ++d) {
    const std::string number = (d < 1000 ? "0" : "") + std::to_string(d);
    const char* f[] = {"0003", number.c_str()};
    ASSERT_EQ(RowList_Append(&prefixes, f, 2), 0);
  }
  const char* last[] = {"0004", "0101"};
  ASSERT_EQ(RowList_Append(&prefixes, last, 2), 0);
  RowIndex prefixIndex;
  const KeySpec keys[] = {{1, 1, 1}, {2, 1, 1}};
  ASSERT_EQ(RowIndex_BuildSorted(&prefixes, &prefixIndex, keys, 2), 0);
  PackedTable table;
  PackedTable_Init(&table);
  ASSERT_EQ(CopyDic_PackPrefixTable(&prefixIndex, &table, kNoDictLimit), 0);
  EXPECT_EQ(table.count, 3);
  EXPECT_EQ(table.used, 3u * 3 + 301 * 2);
  EXPECT_EQ(table.data[2], 255);
  EXPECT_EQ(table.data[3 + 255 * 2 + 2], 45);
  EXPECT_EQ(table.data[2 * 3 + 300 * 2 + 1], 4);  // low byte of the third prefix
  PackedTable_Free(&table);
  RowIndex_Free(&prefixIndex);
  RowList_Free(&prefixes);
}

}  // namespace
