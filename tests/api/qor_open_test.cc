// Qor_Open and Qor_Close end to end: catalogs created, kept, refreshed and rebuilt on disk,
// the newer copy of a dictionary chosen across two directories, path preparation, and clean
// failures (allocation failures included).
#include "qor3.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "base/file_io.h"
#include "engine/engine.h"
#include "base/mem.h"
#include "catalog/catalog_file.h"
#include "catalog/catalog_test_files.h"
#include "files/file_names.h"
#include "mkdict/dict_builder.h"
#include "support/search_session.h"

namespace {

using catalog_test::DictName;
using catalog_test::Exists;
using catalog_test::LocalTimeOf;
using catalog_test::MTime;
using catalog_test::ReadBytes;
using catalog_test::ScratchDir;
using catalog_test::SetMTime;
using catalog_test::WriteBytes;

struct Region {
  uint32_t code;
  std::string name1, name2;
};

struct Dict {
  uint32_t edition1 = 20020801;
  uint32_t edition2 = 1;
  std::vector<Region> regions;
  std::vector<uint32_t> numbers;  // one listing each, in the first region
};

// A real dictionary file made by the builder, with the given modification time.
void MakeDict(const ScratchDir& dir, uint32_t number, const Dict& d, std::time_t mtime) {
  std::vector<Listing> listings;
  for (size_t i = 0; i < d.regions.size(); ++i) {
    Listing l;
    l.regionCode = d.regions[i].code;
    l.regionName1 = d.regions[i].name1;
    l.regionName2 = d.regions[i].name2;
    l.name = "\x88\x9f";  // one double-byte character
    l.address1 = "\x88\xa2";
    l.postal = 1000001;
    l.number = 312345000 + static_cast<uint32_t>(i);
    listings.push_back(l);
    if (i == 0) {
      for (uint32_t n : d.numbers) {
        l.number = n;
        listings.push_back(l);
      }
    }
  }
  DictBuildOptions options;
  options.edition1 = d.edition1;
  options.edition2 = d.edition2;
  std::vector<uint8_t> image;
  DictBuildStats stats;
  std::string error;
  ASSERT_TRUE(DictBuilder_Build(listings, options, &image, &stats, &error)) << error;
  const std::string path = dir.File(DictName(number));
  WriteBytes(path, image);
  ASSERT_TRUE(SetMTime(path, mtime));
}

void MakeCorrection(const ScratchDir& dir) {
  Listing l;
  l.regionCode = 13101;
  l.name = "\x88\x9f";
  l.number = 312345678;
  DictBuildOptions options;
  options.correction = true;
  std::vector<uint8_t> image;
  DictBuildStats stats;
  std::string error;
  ASSERT_TRUE(DictBuilder_Build({l}, options, &image, &stats, &error)) << error;
  WriteBytes(dir.File("qor5001.dct"), image);
}

using RegionTuple = std::tuple<int32_t, std::string, std::string, int32_t>;

std::vector<RegionTuple> Regions(const OpenResult& r) {
  std::vector<RegionTuple> out;
  for (uint32_t i = 0; i < r.regionCount; ++i) {
    const RegionInfo* info = r.regions[i];
    EXPECT_EQ(info->name1Length, std::strlen(info->name1));
    EXPECT_EQ(info->name2Length, std::strlen(info->name2));
    out.emplace_back(info->regionCode, info->name1, info->name2, info->dictNumber);
  }
  return out;
}

// The dictionary table of a directory's catalog as read by the library.
std::vector<CatalogDictRow> CatalogDicts(const ScratchDir& dir, Result* answer = nullptr) {
  auto* image = static_cast<DirCatalog*>(Mem_Alloc(sizeof(DirCatalog)));
  DirCatalog_Init(image);
  const Result a = DirCatalog_Read(dir.Dir().c_str(), image);
  if (answer) *answer = a;
  std::vector<CatalogDictRow> rows;
  for (uint32_t i = 0; a == Result::kOk && i < image->dictCount; ++i) {
    CatalogDictRow row;
    DirCatalog_DictRow(image, i, &row);
    rows.push_back(row);
  }
  DirCatalog_Free(image);
  Mem_Free(image);
  return rows;
}

// The tables of the engine an open handed out (the handle is its address).
EngineState* TablesOf(void* handle) { return static_cast<Engine*>(handle)->tables; }

std::vector<std::vector<std::string>> PrefixList(void* handle) {
  std::vector<std::vector<std::string>> out;
  RowList* list = &TablesOf(handle)->prefixList;
  char* f[64];
  uint16_t n;
  if (RowList_Rewind(list) != 0) return out;
  while (RowList_Next(list, f, &n, 64) == 0) out.emplace_back(f, f + n);
  return out;
}

const std::time_t kT1 = LocalTimeOf(2002, 1, 10, 12, 30);
const std::time_t kT2 = LocalTimeOf(2002, 1, 20, 8, 15);
const std::time_t kT0 = LocalTimeOf(2001, 1, 5, 6, 0);

class QorOpenTest : public ::testing::Test {
 protected:
  QorOpenTest() {
    std::memset(&request_, 0, sizeof request_);
    std::memset(&result_, 0xA5, sizeof result_);
    std::memcpy(&untouched_, &result_, sizeof result_);
  }
  ~QorOpenTest() override { Close(); }

  static void SetPath(uint32_t* length, char* field, const std::string& path) {
    *length = static_cast<uint32_t>(path.size());
    std::memcpy(field, path.data(), path.size());
  }
  void Paths(const std::string& d1, const std::string& d2, const std::string& c) {
    std::memset(&request_, 0, sizeof request_);
    SetPath(&request_.directory1Length, request_.directory1, d1);
    SetPath(&request_.directory2Length, request_.directory2, d2);
    SetPath(&request_.correctionDirectoryLength, request_.correctionDirectory, c);
  }
  void* Open() {
    Close();
    std::memcpy(&result_, &untouched_, sizeof result_);
    handle_ = Qor_Open(&request_, &result_);
    return handle_;
  }
  void Close() {
    if (handle_) {
      EXPECT_EQ(Qor_Close(handle_, &result_), 0);
    }
    handle_ = nullptr;
  }
  bool ResultUntouched() const { return std::memcmp(&result_, &untouched_, sizeof result_) == 0; }

  ScratchDir d1_, d2_, d3_;
  OpenRequest request_;
  OpenResult result_, untouched_;
  void* handle_ = nullptr;
};

TEST_F(QorOpenTest, CreatesTheCatalogOfADirectoryWithDictionariesAndListsItsRegions) {
  MakeDict(d1_, 102, {20020801, 1, {{14101, "GH", "IJ"}}, {}}, kT1);
  MakeDict(d1_, 101, {20020825, 7, {{13102, "AB", "X"}, {13101, "AB", "CDE"}}, {313000001}}, kT2);
  Paths(d1_.Str(), "", "");
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(result_.catalog1Loaded, 1u);
  EXPECT_EQ(result_.catalog2Loaded, 0u);
  EXPECT_EQ(result_.correctionFilePresent, 0u);
  EXPECT_EQ(Regions(result_), (std::vector<RegionTuple>{{13101, "AB", "CDE", 101},
                                                        {13102, "AB", "X", 101},
                                                        {14101, "GH", "IJ", 102}}));
  const std::vector<CatalogDictRow> rows = CatalogDicts(d1_);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].number, 101u);
  EXPECT_EQ(rows[0].date, 20020120u);
  EXPECT_EQ(rows[0].time, 815u);
  EXPECT_EQ(rows[0].edition1, 20020825u);
  EXPECT_EQ(rows[0].edition2, 7u);
  EXPECT_EQ(rows[1].number, 102u);
  EXPECT_EQ(rows[1].date, 20020110u);

  const EngineState* e = TablesOf(handle_);
  EXPECT_EQ(std::string(e->directory1), d1_.Dir());
  EXPECT_EQ(std::string(e->directory2), "");
  EXPECT_EQ(e->dictDirectory[101], 1);
  EXPECT_EQ(e->dictDirectory[102], 1);
  EXPECT_EQ(e->dictDirectory[103], 0);
  EXPECT_EQ(e->regionCovered[13101], 1);
  EXPECT_EQ(e->regionCovered[13103], 0);
  EXPECT_EQ(e->regionEdition[13101], 208);  // 20020825 / 100 mod 10000
  EXPECT_EQ(e->regionEdition[14101], 208);
  EXPECT_EQ(PrefixList(handle_), (std::vector<std::vector<std::string>>{{"0312", "0101", "0102"},
                                                                 {"0313", "0101"}}));
}

TEST_F(QorOpenTest, KeepsACurrentCatalogAndATouchedFileWithTheSameEditions) {
  MakeDict(d1_, 101, {20020801, 1, {{13101, "AB", "CDE"}}, {}}, kT1);
  Paths(d1_.Str(), "", "");
  ASSERT_NE(Open(), nullptr);
  Close();
  const std::string catalog = d1_.File("qor9999.dct");
  const std::vector<uint8_t> bytes = ReadBytes(catalog);
  ASSERT_TRUE(SetMTime(catalog, kT0));

  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(MTime(catalog), kT0);

  // New time, same edition values: status unchanged, the catalog keeps the old time.
  ASSERT_TRUE(SetMTime(d1_.File("qor0101.dct"), kT2));
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(MTime(catalog), kT0);
  EXPECT_EQ(ReadBytes(catalog), bytes);
  EXPECT_EQ(Regions(result_), (std::vector<RegionTuple>{{13101, "AB", "CDE", 101}}));
}

TEST_F(QorOpenTest, ANewEditionReplacesOnlyThatDictionarysRowsAndDeletedOnesVanish) {
  MakeDict(d1_, 101, {20020801, 1, {{13101, "AB", "CDE"}}, {}}, kT1);
  MakeDict(d1_, 102, {20020801, 1, {{14101, "GH", "IJ"}, {14102, "K", "L"}}, {}}, kT1);
  MakeDict(d1_, 103, {20020801, 1, {{15101, "M", "N"}}, {}}, kT1);
  Paths(d1_.Str(), "", "");
  ASSERT_NE(Open(), nullptr);
  Close();

  MakeDict(d1_, 102, {20021001, 1, {{14103, "NEW", "ROW"}}, {}}, kT2);
  ASSERT_TRUE(std::filesystem::remove(d1_.File("qor0103.dct")));
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(Regions(result_), (std::vector<RegionTuple>{{13101, "AB", "CDE", 101},
                                                        {14103, "NEW", "ROW", 102}}));
  const std::vector<CatalogDictRow> rows = CatalogDicts(d1_);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].number, 101u);
  EXPECT_EQ(rows[0].date, 20020110u);
  EXPECT_EQ(rows[0].edition1, 20020801u);
  EXPECT_EQ(rows[1].number, 102u);
  EXPECT_EQ(rows[1].date, 20020120u);
  EXPECT_EQ(rows[1].edition1, 20021001u);
  EXPECT_EQ(TablesOf(handle_)->regionEdition[14103], 210);

  // All dictionaries gone: the catalog is deleted and nothing is left to open.
  Close();
  ASSERT_TRUE(std::filesystem::remove(d1_.File("qor0101.dct")));
  ASSERT_TRUE(std::filesystem::remove(d1_.File("qor0102.dct")));
  EXPECT_EQ(Open(), nullptr);
  EXPECT_TRUE(ResultUntouched());
  EXPECT_FALSE(Exists(d1_.File("qor9999.dct")));
}

TEST_F(QorOpenTest, NumbersOutsideTheProbeRangeAreNeverFound) {
  const Dict d{20020801, 1, {{13101, "AB", "CDE"}}, {}};
  MakeDict(d1_, 130, d, kT1);
  MakeDict(d1_, 4801, d, kT1);
  MakeDict(d1_, 100, d, kT1);
  Paths(d1_.Str(), "", "");
  EXPECT_EQ(Open(), nullptr);
  EXPECT_FALSE(Exists(d1_.File("qor9999.dct")));

  MakeDict(d1_, 4729, {20020801, 1, {{47101, "Z", "Y"}}, {}}, kT1);
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(Regions(result_), (std::vector<RegionTuple>{{47101, "Z", "Y", 4729}}));
  ASSERT_EQ(CatalogDicts(d1_).size(), 1u);
}

TEST_F(QorOpenTest, TheNewerCopyOfADictionaryWinsAcrossTheTwoDirectories) {
  std::time_t t = kT1;
  auto open = [&](uint32_t e1a, uint32_t e2a, uint32_t e1b, uint32_t e2b) {
    // Every rewrite gets a new time: an unchanged time alone keeps a catalogued row.
    t += 3600;
    MakeDict(d1_, 101, {e1a, e2a, {{13101, "ONE", "A"}}, {}}, t);
    MakeDict(d2_, 101, {e1b, e2b, {{13101, "TWO", "B"}}, {314000000}}, t);
    Paths(d1_.Str(), d2_.Str(), "");
    EXPECT_NE(Open(), nullptr);
    EXPECT_EQ(result_.catalog1Loaded, 1u);
    EXPECT_EQ(result_.catalog2Loaded, 1u);
    return Regions(result_);
  };
  // Larger edition value 1 in directory 2.
  EXPECT_EQ(open(20020801, 1, 20020901, 1), (std::vector<RegionTuple>{{13101, "TWO", "B", 101}}));
  EXPECT_EQ(TablesOf(handle_)->dictDirectory[101], 2);
  EXPECT_EQ(TablesOf(handle_)->regionEdition[13101], 209);
  EXPECT_EQ(PrefixList(handle_), (std::vector<std::vector<std::string>>{{"0312", "0101"},
                                                                 {"0314", "0101"}}));
  // Larger edition value 1 in directory 1, whatever edition value 2 says.
  EXPECT_EQ(open(20021001, 1, 20020901, 9), (std::vector<RegionTuple>{{13101, "ONE", "A", 101}}));
  EXPECT_EQ(PrefixList(handle_), (std::vector<std::vector<std::string>>{{"0312", "0101"}}));
  // Equal edition value 1: edition value 2 decides.
  EXPECT_EQ(open(20020801, 3, 20020801, 4), (std::vector<RegionTuple>{{13101, "TWO", "B", 101}}));
  // A full tie goes to directory 1.
  EXPECT_EQ(open(20020801, 4, 20020801, 4), (std::vector<RegionTuple>{{13101, "ONE", "A", 101}}));
  EXPECT_EQ(TablesOf(handle_)->dictDirectory[101], 1);
}

TEST_F(QorOpenTest, ARegionListedByTwoSelectedDictionariesComesOncePerDictionary) {
  MakeDict(d1_, 102, {20030101, 1, {{13101, "A2", "X"}}, {}}, kT1);
  MakeDict(d2_, 101, {20020801, 1, {{13101, "A1", "Y"}, {13100, "Z", "Z"}}, {}}, kT1);
  Paths(d1_.Str(), d2_.Str(), "");
  ASSERT_NE(Open(), nullptr);
  // Equal codes keep directory 1's records first.
  EXPECT_EQ(Regions(result_), (std::vector<RegionTuple>{{13100, "Z", "Z", 101},
                                                        {13101, "A2", "X", 102},
                                                        {13101, "A1", "Y", 101}}));
  EXPECT_EQ(TablesOf(handle_)->regionEdition[13101], 208);  // the later row: 0101's
}

TEST_F(QorOpenTest, OnlyDirectoryTwoOrOnlyTheCorrectionFile) {
  MakeDict(d2_, 101, {20020801, 1, {{13101, "AB", "CDE"}}, {}}, kT1);
  Paths(d1_.Str(), d2_.Str(), "");
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(result_.catalog1Loaded, 0u);
  EXPECT_EQ(result_.catalog2Loaded, 1u);
  EXPECT_EQ(Regions(result_), (std::vector<RegionTuple>{{13101, "AB", "CDE", 101}}));
  Close();

  MakeCorrection(d3_);
  Paths("", "", d3_.Str());
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(result_.catalog1Loaded, 0u);
  EXPECT_EQ(result_.catalog2Loaded, 0u);
  EXPECT_EQ(result_.correctionFilePresent, 1u);
  EXPECT_EQ(result_.regionCount, 0u);
  EXPECT_EQ(std::memcmp(&result_.regions, &untouched_.regions, sizeof result_.regions), 0);
  EXPECT_EQ(std::memcmp(&result_.regionPool, &untouched_.regionPool, sizeof result_.regionPool),
            0);
  EXPECT_EQ(TablesOf(handle_)->regionList.rowCount, 0u);
  EXPECT_EQ(TablesOf(handle_)->dictDirectory[101], 0);
  EXPECT_EQ(std::string(TablesOf(handle_)->correctionDirectory), d3_.Dir());
  Close();  // releases no pool
  EXPECT_EQ(std::memcmp(result_.hostArea, untouched_.hostArea, sizeof result_.hostArea), 0);
}

TEST_F(QorOpenTest, FailsWithTheResultUntouchedWhenNothingIsUsable) {
  Paths("", "", "");
  EXPECT_EQ(Open(), nullptr);
  EXPECT_TRUE(ResultUntouched());
  Paths(d1_.Str(), d2_.Dir() + "missing", d3_.Str());
  EXPECT_EQ(Open(), nullptr);
  EXPECT_TRUE(ResultUntouched());
  EXPECT_EQ(Qor_Open(nullptr, &result_), nullptr);
  EXPECT_EQ(Qor_Open(&request_, nullptr), nullptr);
}

TEST_F(QorOpenTest, RebuildsADamagedCatalogAndLeavesAnUnrebuildableOneUnloaded) {
  std::vector<uint8_t> garbage(300, 0xEE);
  WriteBytes(d1_.File("qor9999.dct"), garbage);
  MakeDict(d1_, 101, {20020801, 1, {{13101, "AB", "CDE"}}, {}}, kT1);
  Paths(d1_.Str(), "", "");
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(result_.catalog1Loaded, 1u);
  EXPECT_EQ(Regions(result_), (std::vector<RegionTuple>{{13101, "AB", "CDE", 101}}));
  Result answer = Result::kNotFound;
  EXPECT_EQ(CatalogDicts(d1_, &answer).size(), 1u);
  EXPECT_EQ(answer, Result::kOk);
  Close();

  // No dictionary to rebuild from: the damaged catalog stays on disk but is not used.
  WriteBytes(d2_.File("qor9999.dct"), garbage);
  MakeCorrection(d3_);
  Paths("", d2_.Str(), d3_.Str());
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(result_.catalog2Loaded, 0u);
  EXPECT_EQ(result_.regionCount, 0u);
  EXPECT_EQ(ReadBytes(d2_.File("qor9999.dct")), garbage);
}

TEST_F(QorOpenTest, ADamagedDictionaryFileContributesNothing) {
  MakeDict(d1_, 101, {20020801, 1, {{13101, "AB", "CDE"}}, {}}, kT1);
  std::vector<uint8_t> bad = ReadBytes(d1_.File("qor0101.dct"));
  bad.resize(300);  // region table cut off
  WriteBytes(d1_.File("qor0102.dct"), bad);
  Paths(d1_.Str(), "", "");
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(Regions(result_), (std::vector<RegionTuple>{{13101, "AB", "CDE", 101}}));
  EXPECT_EQ(TablesOf(handle_)->dictDirectory[102], 0);
  Close();
  // The damaged file is not catalogued, so an unchanged directory is still not rewritten.
  const std::string catalog = d1_.File("qor9999.dct");
  ASSERT_TRUE(SetMTime(catalog, kT0));
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(MTime(catalog), kT0);
}

TEST_F(QorOpenTest, ClosesPathsWithTheSeparatorByCodePage932Characters) {
  MakeCorrection(d3_);
  std::string dir1 = d1_.Dir();
  Paths(dir1, "", d3_.Str());
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(std::string(TablesOf(handle_)->directory1), dir1);  // no second separator
  EXPECT_EQ(std::string(TablesOf(handle_)->correctionDirectory), d3_.Dir());

  // A two-byte character whose second byte is 0x5C (表) does not close the path.
  const std::string odd = d1_.Str() + "\x95\x5C";
  Paths(odd, "", d3_.Str());
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(std::string(TablesOf(handle_)->directory1), odd + kPathSeparator);
}

TEST_F(QorOpenTest, RefusesPathsBeyondTheLimits) {
  MakeCorrection(d3_);
  const std::string base = d1_.Dir();
  auto path = [&](size_t length) { return base + std::string(length - base.size(), 'p'); };
  Paths(path(191), "", d3_.Str());  // 192 with its separator
  EXPECT_NE(Open(), nullptr);
  Paths(path(191) + kPathSeparator, "", d3_.Str());
  EXPECT_NE(Open(), nullptr);
  Paths(path(192), "", d3_.Str());
  EXPECT_EQ(Open(), nullptr);
  EXPECT_TRUE(ResultUntouched());
  Paths(path(192) + kPathSeparator, "", d3_.Str());
  EXPECT_EQ(Open(), nullptr);
  Paths("", path(192), d3_.Str());
  EXPECT_EQ(Open(), nullptr);
  Paths("", "", d3_.Str() + std::string(200, 'p'));
  EXPECT_EQ(Open(), nullptr);
  Paths("", "", d3_.Str());
  request_.directory1Length = 300;  // beyond the field
  EXPECT_EQ(Open(), nullptr);
  Paths(std::string("ab\0cd", 5), "", d3_.Str());  // a NUL inside the path
  EXPECT_EQ(Open(), nullptr);
  EXPECT_TRUE(ResultUntouched());
}

TEST_F(QorOpenTest, ASecondOpenWithoutCloseReleasesTheFirstEnginesLists) {
  MakeDict(d1_, 101, {20020801, 1, {{13101, "AB", "CDE"}}, {}}, kT1);
  Paths(d1_.Str(), "", "");
  const long start = Mem_LiveBlocks();
  OpenResult first;
  void* h = Qor_Open(&request_, &first);
  ASSERT_NE(h, nullptr);
  const std::string name(first.regions[0]->name1);
  OpenResult second;
  ASSERT_EQ(Qor_Open(&request_, &second), h);  // the same handle
  // The first result's records stay readable until it is closed.
  EXPECT_EQ(std::string(first.regions[0]->name1), name);
  EXPECT_EQ(Qor_Close(nullptr, &first), 0);  // its records only
  EXPECT_EQ(Qor_Close(h, &second), 0);
  EXPECT_EQ(Mem_LiveBlocks(), start);
  EXPECT_EQ(TablesOf(h), nullptr);
}

// Fails each allocation of one open in turn: every failure returns 0 with the result record
// untouched, frees everything it took, leaves the open engine as it was, and leaves each
// catalog on disk either as it was or completely rewritten.
TEST_F(QorOpenTest, EveryAllocationFailureFailsTheOpenCleanly) {
  // An open engine that the failures must not disturb.
  ScratchDir other;
  MakeDict(other, 101, {20020801, 1, {{11111, "KEEP", "ME"}}, {}}, kT1);
  Paths(other.Str(), "", "");
  void* kept = Open();
  ASSERT_NE(kept, nullptr);
  const uint32_t keptRows = TablesOf(kept)->regionList.rowCount;

  MakeDict(d1_, 101, {20020801, 1, {{13101, "AB", "CDE"}, {13102, "F", "G"}}, {313000000}}, kT1);
  MakeDict(d1_, 102, {20020801, 1, {{14101, "H", "I"}}, {}}, kT1);
  MakeDict(d2_, 101, {20020901, 1, {{13101, "NEWER", "J"}}, {}}, kT1);
  MakeCorrection(d3_);
  // Directory 2 starts with a stale catalog (it lists a dictionary that is gone).
  MakeDict(d2_, 105, {20020801, 1, {{16101, "OLD", "K"}}, {}}, kT1);
  OpenRequest request;
  std::memset(&request, 0, sizeof request);
  SetPath(&request.directory2Length, request.directory2, d2_.Str());
  OpenResult scratch;
  void* h = Qor_Open(&request, &scratch);
  ASSERT_NE(h, nullptr);
  Qor_Close(nullptr, &scratch);
  ASSERT_TRUE(std::filesystem::remove(d2_.File("qor0105.dct")));
  const std::vector<uint8_t> stale = ReadBytes(d2_.File("qor9999.dct"));
  // Reopen the kept engine (the scratch open replaced it).
  ASSERT_NE(Open(), nullptr);

  SetPath(&request.directory1Length, request.directory1, d1_.Str());
  SetPath(&request.correctionDirectoryLength, request.correctionDirectory, d3_.Str());
  auto restore = [&] {
    std::filesystem::remove(d1_.File("qor9999.dct"));
    WriteBytes(d2_.File("qor9999.dct"), stale);
  };
  restore();
  const long start = Mem_LiveBlocks();
  Mem_ResetFaults();
  OpenResult probe;
  ASSERT_EQ(Qor_Open(&request, &probe), h);
  const unsigned long allocations = Mem_AllocationCount();
  Qor_Close(nullptr, &probe);
  ASSERT_GT(allocations, 10u);
  const std::vector<uint8_t> rebuilt1 = ReadBytes(d1_.File("qor9999.dct"));
  const std::vector<uint8_t> rebuilt2 = ReadBytes(d2_.File("qor9999.dct"));
  ASSERT_NE(rebuilt2, stale);
  // The probe open replaced the kept engine; open it again.
  ASSERT_NE(Open(), nullptr);
  const long base = Mem_LiveBlocks();

  for (unsigned long k = 1; k <= allocations; ++k) {
    restore();
    OpenResult result;
    std::memset(&result, 0x5A, sizeof result);
    OpenResult before;
    std::memcpy(&before, &result, sizeof result);
    Mem_ResetFaults();
    Mem_FailFrom(k);
    void* got = Qor_Open(&request, &result);
    Mem_ResetFaults();
    ASSERT_EQ(got, nullptr) << "allocation " << k;
    EXPECT_EQ(std::memcmp(&result, &before, sizeof result), 0) << "allocation " << k;
    EXPECT_EQ(Mem_LiveBlocks(), base) << "allocation " << k;
    EXPECT_EQ(TablesOf(kept)->regionList.rowCount, keptRows) << "allocation " << k;
    const std::vector<uint8_t> c1 = ReadBytes(d1_.File("qor9999.dct"));
    EXPECT_TRUE(c1.empty() || c1 == rebuilt1) << "allocation " << k;
    const std::vector<uint8_t> c2 = ReadBytes(d2_.File("qor9999.dct"));
    EXPECT_TRUE(c2 == stale || c2 == rebuilt2) << "allocation " << k;
  }
  EXPECT_EQ(Regions(result_), (std::vector<RegionTuple>{{11111, "KEEP", "ME", 101}}));
  Close();
  EXPECT_LT(Mem_LiveBlocks(), start);
}

// ---- Files that change under a catalog, directories that cannot take one.

TEST_F(QorOpenTest, AFileReplacedWithinTheMinuteOfItsCatalogRowIsReadAgain) {
  // Both editions carry the same time, as a replacement within one minute does; the catalog
  // is written now, in that minute or the next, so its row's time cannot be trusted.
  const std::time_t now = std::time(nullptr);
  MakeDict(d1_, 101, {20020801, 1, {{13101, "AB", "CDE"}}, {}}, now);
  Paths(d1_.Str(), "", "");
  ASSERT_NE(Open(), nullptr);
  MakeDict(d1_, 101, {20020802, 1, {{13101, "AB", "CDE"}, {13102, "NEW", "X"}}, {}}, now);
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(Regions(result_), (std::vector<RegionTuple>{{13101, "AB", "CDE", 101},
                                                        {13102, "NEW", "X", 101}}));
  const std::vector<CatalogDictRow> rows = CatalogDicts(d1_);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].edition1, 20020802u);
}

TEST_F(QorOpenTest, ACatalogThatCannotBeWrittenStillLeavesTheEngineCurrent) {
  MakeDict(d1_, 101, {20020801, 1, {{13101, "AB", "CDE"}}, {}}, kT1);
  Paths(d1_.Str(), "", "");
  ASSERT_NE(Open(), nullptr);
  const std::string catalog = d1_.File("qor9999.dct");
  const std::vector<uint8_t> old = ReadBytes(catalog);
  MakeDict(d1_, 102, {20020801, 1, {{14101, "GH", "IJ"}}, {314000001}}, kT1);
  File_FailWritesFrom(1);  // a full disk
  void* h = Open();
  File_FailWritesFrom(0);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(result_.catalog1Loaded, 1u);
  EXPECT_EQ(Regions(result_), (std::vector<RegionTuple>{{13101, "AB", "CDE", 101},
                                                        {14101, "GH", "IJ", 102}}));
  EXPECT_EQ(Search(h, NumberRequest("0314000001")).size(), 1u);
  EXPECT_EQ(ReadBytes(catalog), old);  // kept whole, and brought up to date by the next open
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(CatalogDicts(d1_).size(), 2u);
}

// Sets a file's write and creation times (a temporary file counts as written at the later).
void SetFileTimes(const std::string& path, std::time_t t) {
  ASSERT_TRUE(SetMTime(path, t));
#if defined(_WIN32)
  HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ULARGE_INTEGER v;
  v.QuadPart = (static_cast<uint64_t>(t) + 11644473600ull) * 10000000ull;
  const FILETIME ft{v.LowPart, v.HighPart};
  EXPECT_TRUE(SetFileTime(h, &ft, nullptr, nullptr));
  CloseHandle(h);
#endif
}

// What a killed qor-mkdict, copy or catalog write leaves (a temporary file named for a process
// that no longer runs, unwritten for an hour) goes at the next open of its directory and at the
// next copy into it; a recent one (perhaps a copy running on another machine), another name
// and this process's own stay.
TEST_F(QorOpenTest, RemovesOldTemporaryFilesOfProcessesThatNoLongerRun) {
  MakeDict(d1_, 101, {20020801, 1, {{13101, "AB", "CDE"}}, {}}, kT1);
  const std::time_t old = std::time(nullptr) - 2 * kStaleTempAge;
  // Temp_FileName's names for a process with an id that none has.
  auto leftBehind = [&](const ScratchDir& dir, const char* name, std::time_t written) {
    const std::string path = dir.File(name) + ".2147483646.tmp";
    WriteBytes(path, {1, 2, 3});
    if (written != 0) SetFileTimes(path, written);
    return path;
  };
  const std::string gone = leftBehind(d1_, "qor0101.dct", old);
  const std::string recent = leftBehind(d1_, "qor0102.dct", 0);
  const std::string other = d1_.File("qor0101.dct.2147483646.bak");
  char own[512];
  ASSERT_EQ(Temp_FileName(d1_.File("qor0103.dct").c_str(), own, sizeof own), 0);
  for (const std::string& path : {other, std::string(own)}) {
    WriteBytes(path, {1, 2, 3});
    SetFileTimes(path, old);
  }
  Paths(d1_.Str(), "", "");
  ASSERT_NE(Open(), nullptr);
  EXPECT_FALSE(Exists(gone));
  EXPECT_TRUE(Exists(recent));
  EXPECT_TRUE(Exists(other));
  EXPECT_TRUE(Exists(own));

  const std::string goneAtCopy = leftBehind(d2_, "qor0105.dct", old);
  const std::string from = d1_.Str(), to = d2_.Str();
  const int32_t numbers[] = {101};
  EXPECT_EQ(Qor_CopyDic(from.data(), static_cast<int32_t>(from.size()), to.data(),
                        static_cast<int32_t>(to.size()), numbers, 1),
            1);
  EXPECT_FALSE(Exists(goneAtCopy));
}

// A directory under a dictionary's name (or the correction file's) is no dictionary: the open
// and the searches pass it over, on every system, and a dictionary that becomes one under an
// open engine contributes nothing.
TEST_F(QorOpenTest, ADirectoryUnderADictionarysNameIsPassedOver) {
  MakeDict(d1_, 1301, {20020801, 1, {{13101, "AB", "CDE"}}, {313000001}}, kT1);
  MakeDict(d1_, 1302, {20020801, 1, {{13102, "FG", "HI"}}, {313000002}}, kT1);
  ASSERT_TRUE(std::filesystem::create_directory(d1_.File("qor0101.dct")));
  ASSERT_TRUE(std::filesystem::create_directory(d3_.File("qor5001.dct")));
  Paths(d1_.Str(), "", d3_.Str());
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(result_.correctionFilePresent, 0u);
  EXPECT_EQ(Regions(result_), (std::vector<RegionTuple>{{13101, "AB", "CDE", 1301},
                                                        {13102, "FG", "HI", 1302}}));
  EXPECT_EQ(CatalogDicts(d1_).size(), 2u);
  EXPECT_EQ(Search(handle_, NumberRequest("0313000001")).size(), 1u);
  ASSERT_TRUE(std::filesystem::remove(d1_.File("qor1301.dct")));
  ASSERT_TRUE(std::filesystem::create_directory(d1_.File("qor1301.dct")));
  EXPECT_TRUE(FindsNothing(handle_, NumberRequest("0313000001")));
  EXPECT_TRUE(FindsNothing(handle_, NameRequest(13101, "*")));
  EXPECT_EQ(Search(handle_, NumberRequest("0313000002")).size(), 1u);
  // The next open finds the catalogued name a directory (with the catalogued time): missing,
  // so the catalog drops it.
#if !defined(_WIN32)  // Windows lists no directory as a file, whatever its time
  ASSERT_TRUE(SetMTime(d1_.File("qor1301.dct"), kT1));
#endif
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(Regions(result_), (std::vector<RegionTuple>{{13102, "FG", "HI", 1302}}));
  ASSERT_EQ(CatalogDicts(d1_).size(), 1u);
  EXPECT_EQ(CatalogDicts(d1_)[0].number, 1302u);
}

#if !defined(_WIN32)
// Opens the FIFO for writing while the test runs past 10 s, which ends a read blocked on it:
// a regression fails the test instead of hanging it.
class FifoWatchdog {
 public:
  explicit FifoWatchdog(std::string fifo) : fifo_(std::move(fifo)), thread_([this] { Run(); }) {}
  ~FifoWatchdog() {
    done_ = true;
    thread_.join();
  }
  bool Fired() const { return fired_; }

 private:
  void Run() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (std::chrono::steady_clock::now() < deadline) continue;
      const int fd = open(fifo_.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) {
        fired_ = true;
        close(fd);
      }
    }
  }
  std::string fifo_;
  std::atomic<bool> done_{false}, fired_{false};
  std::thread thread_;
};

TEST_F(QorOpenTest, AFifoUnderADictionarysNameIsPassedOverWithoutWaiting) {
  MakeDict(d1_, 1301, {20020801, 1, {{13101, "AB", "CDE"}}, {313000001}}, kT1);
  const std::string fifo = d1_.File("qor0101.dct");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  ASSERT_EQ(mkfifo(d3_.File("qor5001.dct").c_str(), 0644), 0);
  Paths(d1_.Str(), "", d3_.Str());
  FifoWatchdog watchdog(fifo), correction(d3_.File("qor5001.dct"));
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(result_.correctionFilePresent, 0u);
  EXPECT_EQ(Regions(result_), (std::vector<RegionTuple>{{13101, "AB", "CDE", 1301}}));
  EXPECT_EQ(Search(handle_, NumberRequest("0313000001")).size(), 1u);
  // A catalogued dictionary replaced by a FIFO under an open engine: the search passes it over.
  const std::string dict = d1_.File("qor1301.dct");
  ASSERT_TRUE(std::filesystem::remove(dict));
  ASSERT_EQ(mkfifo(dict.c_str(), 0644), 0);
  FifoWatchdog replaced(dict);
  EXPECT_TRUE(FindsNothing(handle_, NumberRequest("0313000001")));
  EXPECT_TRUE(FindsNothing(handle_, NameRequest(13101, "*")));
  EXPECT_FALSE(watchdog.Fired());
  EXPECT_FALSE(correction.Fired());
  EXPECT_FALSE(replaced.Fired());
}

// A catalogued dictionary the process may not read counts as missing, though it is there with
// its catalogued time; readable again, it is read back in.
TEST_F(QorOpenTest, ACataloguedFileThatCannotBeReadIsDroppedUntilItCanBe) {
  MakeDict(d1_, 101, {20020801, 1, {{13101, "AB", "CDE"}}, {}}, kT1);
  MakeDict(d1_, 102, {20020801, 1, {{14101, "GH", "IJ"}}, {}}, kT1);
  Paths(d1_.Str(), "", "");
  ASSERT_NE(Open(), nullptr);
  const std::string file = d1_.File("qor0102.dct");
  ASSERT_EQ(chmod(file.c_str(), 0), 0);
  if (access(file.c_str(), R_OK) == 0) {
    chmod(file.c_str(), 0644);
    GTEST_SKIP() << "this process reads files whatever their permissions say (root)";
  }
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(Regions(result_), (std::vector<RegionTuple>{{13101, "AB", "CDE", 101}}));
  EXPECT_EQ(CatalogDicts(d1_).size(), 1u);
  ASSERT_EQ(chmod(file.c_str(), 0644), 0);
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(Regions(result_), (std::vector<RegionTuple>{{13101, "AB", "CDE", 101},
                                                        {14101, "GH", "IJ", 102}}));
  EXPECT_EQ(CatalogDicts(d1_).size(), 2u);
}

// root writes into a directory whatever its permissions say, so a read-only mount stands for
// a read-only directory where mounting is permitted.
TEST_F(QorOpenTest, AReadOnlyDirectoryWithoutACatalogIsUsedAsItsFilesAre) {
  ScratchDir mountPoint;
  const std::string dir = mountPoint.Str();
  const bool mounted = mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=1m") == 0;
  if (!mounted && geteuid() == 0) {
    GTEST_SKIP() << "running as root where mounting is not permitted: no read-only directory";
  }
  MakeDict(mountPoint, 101, {20020801, 1, {{13101, "AB", "CDE"}}, {}}, kT1);
  const bool readOnly = mounted ? mount("tmpfs", dir.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY,
                                        "size=1m") == 0
                                : chmod(dir.c_str(), 0555) == 0;
  EXPECT_TRUE(readOnly);
  Paths(dir, "", "");
  EXPECT_NE(Open(), nullptr);
  EXPECT_EQ(result_.catalog1Loaded, 1u);
  EXPECT_EQ(Regions(result_), (std::vector<RegionTuple>{{13101, "AB", "CDE", 101}}));
  EXPECT_FALSE(Exists(mountPoint.File("qor9999.dct")));
  Close();
  if (mounted) {
    EXPECT_EQ(umount2(dir.c_str(), MNT_DETACH), 0);
  } else {
    chmod(dir.c_str(), 0755);
  }
}
#endif

}  // namespace
