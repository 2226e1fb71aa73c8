// Directory scan and dictionary summary: rows read from dictionary files, damaged files, and
// the status the scan gives each number.
#include "catalog/dir_scan.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "base/mem.h"
#include "base/num_text.h"
#include "catalog/catalog_test_files.h"

namespace {

using catalog_test::DictBytes;
using catalog_test::ScratchDir;
using catalog_test::TestDict;
using catalog_test::WriteBytes;
using catalog_test::WriteDict;
using Row = std::vector<std::string>;

std::vector<Row> ListRows(RowList* list) {
  std::vector<Row> out;
  char* f[8];
  uint16_t n;
  if (RowList_Rewind(list) != 0) return out;
  while (RowList_Next(list, f, &n, 8) == 0) out.emplace_back(f, f + n);
  return out;
}

struct Fresh {
  CatalogRows rows;
  Fresh() { CatalogRows_Init(&rows); }
  ~Fresh() { CatalogRows_Free(&rows); }
};

// Dict_ReadSummary on the given file bytes.
Result Summarise(const std::vector<uint8_t>& bytes, Fresh* out) {
  ScratchDir dir;
  WriteBytes(dir.File("qor0101.dct"), bytes);
  FILE* f = std::fopen(dir.File("qor0101.dct").c_str(), "rb");
  if (!f) return Result::kIoFailure;
  const Result r = Dict_ReadSummary(f, "0101", &out->rows);
  std::fclose(f);
  return r;
}

TEST(DictSummary, ReadsEditionsRegionsThroughOffsetsAndPrefixBits) {
  ScratchDir dir;
  TestDict d;
  d.edition1 = 20020801;
  d.edition2 = 12345;  // kept as its last four digits
  d.filterSize = 2;
  d.prefixes = {0, 15};  // bytes 0x80 0x01
  d.regions = {{13101, "AB", "CDE"}, {13102, "F", ""}};
  const std::time_t t = catalog_test::LocalTimeOf(2002, 1, 15, 9, 5);
  WriteDict(dir, 101, d, t);
  FILE* f = std::fopen(dir.File("qor0101.dct").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  Fresh fresh;
  ASSERT_EQ(Dict_ReadSummary(f, "0101", &fresh.rows), Result::kOk);
  std::fclose(f);
  EXPECT_EQ(ListRows(&fresh.rows.dictRows),
            (std::vector<Row>{{"0101", "20020115", "0905", "20020801", "2345"}}));
  EXPECT_EQ(ListRows(&fresh.rows.regionRows),
            (std::vector<Row>{{"0101", "13101", "AB", "CDE"}, {"0101", "13102", "F", ""}}));
  EXPECT_EQ(ListRows(&fresh.rows.prefixRows),
            (std::vector<Row>{{"0101", "0000"}, {"0101", "0015"}}));
}

TEST(DictSummary, ADamagedFileContributesNoRowAtAll) {
  TestDict d;
  d.regions = {{13101, "AB", "CDE"}, {13102, "F", "G"}};
  d.prefixes = {312};
  const std::vector<uint8_t> good = DictBytes(d);
  auto expectNothing = [](const std::vector<uint8_t>& bytes) {
    Fresh fresh;
    EXPECT_EQ(Summarise(bytes, &fresh), Result::kDamaged);
    EXPECT_EQ(fresh.rows.dictRows.rowCount, 0u);
    EXPECT_EQ(fresh.rows.regionRows.rowCount, 0u);
    EXPECT_EQ(fresh.rows.prefixRows.rowCount, 0u);
  };
  {
    Fresh fresh;
    ASSERT_EQ(Summarise(good, &fresh), Result::kOk);
    EXPECT_EQ(fresh.rows.regionRows.rowCount, 2u);
  }
  expectNothing(std::vector<uint8_t>(good.begin(), good.begin() + 200));  // short header
  expectNothing(std::vector<uint8_t>(good.begin(), good.end() - 1));      // table cut off
  auto with = [&](size_t at, uint32_t v, int bytes = 4) {
    std::vector<uint8_t> b = good;
    if (bytes == 2) {
      PutU16BE(b.data() + at, v);
    } else {
      PutU32BE(b.data() + at, v);
    }
    return b;
  };
  auto sizeOf = [](int section) { return kDictSectionSizesOffset + 4 * section; };
  expectNothing(with(sizeOf(0), 129));          // S0 over 128
  expectNothing(with(sizeOf(2), 64001));        // S2 over 64000
  expectNothing(with(sizeOf(1), 0xFFFFFF00u));  // S1 puts section 2 far past the end
  const size_t table = kDictHeaderSize + 125;
  expectNothing(with(table, 40, 2));          // N records do not fit the table
  expectNothing(with(table + 2 + 8 + 4, 200, 2));  // second record's name 1 outside
  std::vector<uint8_t> noNul = good;
  noNul.back() = 'X';                         // last name without its NUL
  expectNothing(noNul);
  TestDict longName = d;
  longName.regions[1].name1 = "123456789012";  // 12 bytes: beyond what a catalog holds
  expectNothing(DictBytes(longName));
}

// The minute of a catalog written long after every file of these tests.
const uint64_t kLongAfter = FileTime_Minutes(20300101, 0);

// Catalogued rows for Dir_Scan: [number, date, time, edition 1, edition 2].
struct Catalogued {
  CatalogRows rows;
  explicit Catalogued(const std::vector<Row>& dictRows) {
    CatalogRows_Init(&rows);
    for (const Row& r : dictRows) {
      std::vector<const char*> f;
      for (const auto& s : r) f.push_back(s.c_str());
      RowList_Append(&rows.dictRows, f.data(), static_cast<uint16_t>(f.size()));
    }
    const KeySpec key{1, 1, 1};
    RowIndex_Build(&rows.dictRows, &rows.dictIndex, &key, 1);
    RowIndex_Sort(&rows.dictIndex);
  }
  ~Catalogued() { CatalogRows_Free(&rows); }
};

TEST(DirScan, JudgesEveryFileAgainstItsCatalogRow) {
  ScratchDir dir;
  const std::time_t t1 = catalog_test::LocalTimeOf(2002, 1, 10, 12, 30);
  const std::time_t t2 = catalog_test::LocalTimeOf(2002, 1, 20, 8, 0);
  TestDict d;
  d.regions = {{13101, "AB", "CDE"}};
  WriteDict(dir, 101, d, t1);  // unchanged: same time
  WriteDict(dir, 102, d, t2);  // touched, same editions
  TestDict e2 = d;
  e2.edition2 = 2;
  WriteDict(dir, 103, e2, t2);  // new edition value 2 only
  WriteDict(dir, 104, d, t1);   // new to the catalog
  WriteDict(dir, 130, d, t1);   // outside the probe range
  WriteDict(dir, 4801, d, t1);  // outside the probe range
  TestDict bad = d;
  bad.filterSize = 200;
  WriteDict(dir, 105, bad, t1);  // new but damaged
  const Row same{"20020110", "1230", "20020801", "0001"};
  auto row = [&](const char* n) {
    Row r{n};
    r.insert(r.end(), same.begin(), same.end());
    return r;
  };
  Catalogued cat({row("0101"), row("0102"), row("0103"), row("0106")});  // 0106 is gone
  Fresh fresh;
  std::vector<uint8_t> status(kScanStatusSize, 9);
  ASSERT_EQ(Dir_Scan(dir.Dir().c_str(), &cat.rows, kLongAfter, &fresh.rows, status.data()),
            Result::kOk);
  EXPECT_EQ(status[101], kScanUnchanged);
  EXPECT_EQ(status[102], kScanUnchanged);
  EXPECT_EQ(status[103], kScanChanged);
  EXPECT_EQ(status[104], kScanChanged);
  EXPECT_EQ(status[105], kScanAbsent);
  EXPECT_EQ(status[106], kScanMissing);
  EXPECT_EQ(status[130], kScanAbsent);
  EXPECT_EQ(status[4801], kScanAbsent);
  EXPECT_EQ(status[9999], kScanAbsent);
  // Changed catalogued dictionaries first, then new ones, each ascending.
  const std::vector<Row> rows = ListRows(&fresh.rows.dictRows);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][0], "0103");
  EXPECT_EQ(rows[0][4], "0002");
  EXPECT_EQ(rows[1][0], "0104");
}

TEST(DirScan, FileTimeMinutesCountAcrossDaysMonthsAndLeapYears) {
  EXPECT_EQ(FileTime_Minutes(19700101, 0), 0u);
  EXPECT_EQ(FileTime_Minutes(19700102, 130), 1440u + 90u);
  EXPECT_EQ(FileTime_Minutes(20020101, 0) - FileTime_Minutes(20011231, 2359), 1u);
  EXPECT_EQ(FileTime_Minutes(20240301, 0) - FileTime_Minutes(20240228, 0), 2u * 1440u);
  EXPECT_EQ(FileTime_Minutes(21000301, 0) - FileTime_Minutes(21000228, 0), 1440u);
  EXPECT_EQ(FileTime_Minutes(19691231, 2359), 0u);
  EXPECT_EQ(FileTime_Minutes(20020101, 2460), 0u);
}

TEST(DirScan, ADirectoryWithoutDictionaryFilesProbesNothing) {
  ScratchDir dir;
  WriteBytes(dir.File("other.dct"), {1, 2, 3});
  WriteBytes(dir.File("qor0101.txt"), {1, 2, 3});
  Catalogued cat({});
  Fresh fresh;
  std::vector<uint8_t> status(kScanStatusSize, 9);
  ASSERT_EQ(Dir_Scan(dir.Dir().c_str(), &cat.rows, kLongAfter, &fresh.rows, status.data()),
            Result::kOk);
  for (uint32_t n = 0; n < kScanStatusSize; ++n) ASSERT_EQ(status[n], kScanAbsent) << n;
  EXPECT_EQ(fresh.rows.dictRows.rowCount, 0u);
}

TEST(CorrectionProbe, RecordsWhetherTheCorrectionFileOpens) {
  ScratchDir dir;
  CorrectionProbe probe;
  CorrectionDir_Probe(&probe, dir.Dir().c_str());
  EXPECT_EQ(probe.present, 0);
  EXPECT_EQ(std::string(probe.path), dir.Dir());
  WriteBytes(dir.File("qor5001.dct"), {0});
  CorrectionDir_Probe(&probe, dir.Dir().c_str());
  EXPECT_EQ(probe.present, 1);
  CorrectionDir_Probe(&probe, "");
  EXPECT_EQ(probe.present, 0);
}

}  // namespace
