// Catalog file: the writer's bytes and packers, its limits, and the reader's answers.
#include "catalog/catalog_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "base/file_io.h"
#include "base/mem.h"
#include "catalog/catalog_test_files.h"

namespace {

using enum Result;

using catalog_test::ReadBytes;
using catalog_test::ScratchDir;
using catalog_test::WriteBytes;

constexpr KeySpec kKeys[] = {{1, 1, 1}, {2, 1, 1}};

// Rows appended in the given order and indexed by the first two columns.
struct Rows {
  CatalogRows rows;
  Rows() { CatalogRows_Init(&rows); }
  ~Rows() { CatalogRows_Free(&rows); }
  void Add(RowList* list, std::vector<std::string> fields) {
    std::vector<const char*> f;
    for (auto& s : fields) f.push_back(s.c_str());
    ASSERT_EQ(RowList_Append(list, f.data(), static_cast<uint16_t>(f.size())), 0);
  }
  void Dict(std::vector<std::string> f) { Add(&rows.dictRows, std::move(f)); }
  void Region(std::vector<std::string> f) { Add(&rows.regionRows, std::move(f)); }
  void Prefix(std::vector<std::string> f) { Add(&rows.prefixRows, std::move(f)); }
  void Index() {
    RowIndex_Build(&rows.dictRows, &rows.dictIndex, kKeys, 1);
    RowIndex_Sort(&rows.dictIndex);
    RowIndex_Build(&rows.regionRows, &rows.regionIndex, kKeys, 2);
    RowIndex_Sort(&rows.regionIndex);
    RowIndex_Build(&rows.prefixRows, &rows.prefixIndex, kKeys, 2);
    RowIndex_Sort(&rows.prefixIndex);
  }
};

struct Image {
  DirCatalog* image = static_cast<DirCatalog*>(Mem_Alloc(sizeof(DirCatalog)));
  explicit Image(const std::string& path) {
    DirCatalog_Init(image);
    DirCatalog_Clear(image, path.c_str());
  }
  ~Image() {
    DirCatalog_Free(image);
    Mem_Free(image);
  }
};

std::vector<uint8_t> Hex(const char* text) {
  std::vector<uint8_t> out;
  for (const char* p = text; *p;) {
    if (*p == ' ' || *p == ',') {
      ++p;
      continue;
    }
    out.push_back(static_cast<uint8_t>(std::stoi(std::string(p, 2), nullptr, 16)));
    p += 2;
  }
  return out;
}

std::vector<uint8_t> ExampleCatalog() {
  std::vector<uint8_t> bytes = Hex("41 42 43 44 33 2E 30 30 00 00 01 2C 00 00 00 14 00 00 00 11 "
                                   "00 00 00 07");
  bytes.resize(256, 0);
  for (auto part : {"00 01, 00 65 01 31 7E 59 00 00 04 CE 01 31 7E 41 00 00 00 01",
                    "00 01, 33 2D 00 00 00 03 00 65, 41 42 00 43 44 45 00", "00 01, 01 38 01 00 65"}) {
    auto b = Hex(part);
    bytes.insert(bytes.end(), b.begin(), b.end());
  }
  return bytes;
}

TEST(CatalogWrite, ProducesTheOneDictionaryExampleByteForByte) {
  ScratchDir dir;
  Rows r;
  r.Dict({"0101", "20020825", "1230", "20020801", "0001"});
  r.Region({"0101", "13101", "AB", "CDE"});
  r.Prefix({"0101", "0312"});
  r.Index();
  Image img(dir.Dir());
  ASSERT_EQ(Catalog_Write(img.image, &r.rows), Result::kOk);
  const std::vector<uint8_t> bytes = ReadBytes(dir.File("qor9999.dct"));
  ASSERT_EQ(bytes.size(), 300u);
  EXPECT_EQ(bytes, ExampleCatalog());
  // The temporary file was renamed into place: the catalog is the only file.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Str()),
                          std::filesystem::directory_iterator()),
            1);

  ASSERT_EQ(DirCatalog_Read(dir.Dir().c_str(), img.image), Result::kOk);
  EXPECT_EQ(img.image->loaded, 1);
  EXPECT_EQ(img.image->dictCount, 1);
  EXPECT_EQ(img.image->dictLength, 18);
  EXPECT_EQ(img.image->regionCount, 1);
  EXPECT_EQ(img.image->regionLength, 15u);
  EXPECT_EQ(img.image->prefixCount, 1);
  CatalogRegionRecord rec;
  ASSERT_EQ(DirCatalog_RegionRecord(img.image, 0, &rec), 0);
  EXPECT_EQ(rec.code, 13101u);
  EXPECT_STREQ(rec.name1, "AB");
  EXPECT_STREQ(rec.name2, "CDE");
  EXPECT_EQ(rec.dictNumber, 101u);
}

TEST(CatalogPack, SharesNameOneOnlyBetweenConsecutiveEqualNames) {
  Rows r;
  r.Region({"0101", "00001", "", "e"});     // an empty first name 1 is stored
  r.Region({"0101", "00002", "AB", "x"});
  r.Region({"0101", "00003", "AB", "y"});   // shares AB
  r.Region({"0101", "00004", "CD", "z"});
  r.Region({"0101", "00005", "AB", "w"});   // AB after CD: stored again
  r.Index();
  PackedRegionTable table;
  PackedRegionTable_Init(&table);
  PackedRegionTable* t = &table;
  ASSERT_EQ(Catalog_PackRegionTable(&r.rows.regionIndex, t, kNoDictLimit), 0);
  EXPECT_EQ(t->count, 5);
  auto name1 = [&](int i) { return (t->records[8 * i + 2] << 8) | t->records[8 * i + 3]; };
  auto name2 = [&](int i) { return (t->records[8 * i + 4] << 8) | t->records[8 * i + 5]; };
  EXPECT_EQ(name1(0), 0);
  EXPECT_EQ(name2(0), 1);
  EXPECT_EQ(name1(1), 3);
  EXPECT_EQ(name1(2), 3);
  EXPECT_EQ(name2(2), 8);
  EXPECT_EQ(name1(3), 10);
  EXPECT_EQ(name1(4), 15);
  const std::string names(reinterpret_cast<char*>(t->names), t->nameBytes);
  EXPECT_EQ(names, std::string("\0e\0AB\0x\0y\0CD\0z\0AB\0w\0", 20));
  PackedRegionTable_Free(t);
}

TEST(CatalogPack, FormsOnePrefixGroupPerRunOfEqualPrefixNumbers) {
  Rows r;
  r.Prefix({"0101", "0003"});
  r.Prefix({"0101", "0005"});
  r.Prefix({"0102", "0003"});
  r.Index();
  PackedTable table;
  PackedTable_Init(&table);
  PackedTable* t = &table;
  ASSERT_EQ(Catalog_PackPrefixTable(&r.rows.prefixIndex, t, kNoDictLimit), 0);
  EXPECT_EQ(t->count, 3);
  EXPECT_EQ(std::vector<uint8_t>(t->data, t->data + t->used),
            Hex("00 03 01 00 65  00 05 01 00 65  00 03 01 00 66"));

  // A run longer than a count byte holds continues in a second group of the same prefix.
  Rows many;
  for (int d = 1; d <= 300; ++d) many.Prefix({catalog_test::DictName(d).substr(3, 4), "0312"});
  many.Index();
  ASSERT_EQ(Catalog_PackPrefixTable(&many.rows.prefixIndex, t, kNoDictLimit), 0);
  EXPECT_EQ(t->count, 2);
  EXPECT_EQ(t->data[2], 255);
  EXPECT_EQ(t->data[3 + 2 * 255 + 2], 45);
  PackedTable_Free(t);
}

TEST(CatalogWrite, RefusesRowsBeyondTheLimitsAndKeepsTheOldCatalog) {
  ScratchDir dir;
  Rows ok;
  ok.Dict({"0101", "20020825", "1230", "20020801", "0001"});
  ok.Index();
  Image img(dir.Dir());
  ASSERT_EQ(Catalog_Write(img.image, &ok.rows), Result::kOk);
  const std::vector<uint8_t> old = ReadBytes(dir.File("qor9999.dct"));

  Rows longName1;
  longName1.Dict({"0101", "20020825", "1230", "20020801", "0002"});
  longName1.Region({"0101", "13101", "123456789012", "x"});  // 12 bytes
  longName1.Index();
  EXPECT_EQ(Catalog_Write(img.image, &longName1.rows), Result::kDamaged);
  EXPECT_EQ(ReadBytes(dir.File("qor9999.dct")), old);

  Rows longName2;
  longName2.Dict({"0101", "20020825", "1230", "20020801", "0002"});
  longName2.Region({"0101", "13101", "12345678901", std::string(44, 'n')});
  longName2.Index();
  EXPECT_EQ(Catalog_Write(img.image, &longName2.rows), Result::kDamaged);

  // Limits themselves are accepted.
  Rows atLimit;
  atLimit.Dict({"0101", "20020825", "1230", "20020801", "0003"});
  atLimit.Region({"0101", "13101", "12345678901", std::string(43, 'n')});
  atLimit.Index();
  EXPECT_EQ(Catalog_Write(img.image, &atLimit.rows), Result::kOk);
  EXPECT_NE(ReadBytes(dir.File("qor9999.dct")), old);
}

// One group per dictionary and prefix number: 300 dictionaries of 219 prefix numbers need
// 65,700 groups, 165 more than a count holds; 299 whole dictionaries fit.
TEST(CatalogPack, PastALimitOfTheFormatKeepsTheLowestNumberedDictionariesThatFit) {
  Rows r;
  for (int d = 1; d <= 300; ++d) {
    const std::string number = catalog_test::DictName(d).substr(3, 4);
    r.Dict({number, "20020825", "1230", "20020801", "0001"});
    for (int p = 0; p < 219; ++p) r.Prefix({number, catalog_test::DictName(p).substr(3, 4)});
  }
  r.Index();
  PackedTable dict, prefix;
  PackedRegionTable region;
  PackedTable_Init(&dict);
  PackedTable_Init(&prefix);
  PackedRegionTable_Init(&region);
  CatalogFit fit;
  ASSERT_EQ(Catalog_PackRows(&r.rows, Catalog_PackRegionTable, Catalog_PackPrefixTable, &dict,
                             &region, &prefix, &fit),
            Result::kOk);
  EXPECT_EQ(fit.broken, kCatalogPrefixTable);
  EXPECT_EQ(fit.dictionaries, 300u);
  EXPECT_EQ(fit.kept, 299u);
  EXPECT_EQ(fit.dictLimit, 300u);
  EXPECT_EQ(dict.count, 299);
  EXPECT_EQ(prefix.count, 299 * 219);
  PackedTable_Free(&dict);
  PackedTable_Free(&prefix);
  PackedRegionTable_Free(&region);
}

TEST(CatalogWrite, FailedRenameRemovesTheTemporaryFile) {
  ScratchDir dir;
  // A directory in the catalog's place: the new catalog cannot be renamed over it.
  std::filesystem::create_directory(dir.File("qor9999.dct"));
  Rows r;
  r.Dict({"0101", "20020825", "1230", "20020801", "0001"});
  r.Index();
  Image img(dir.Dir());
  EXPECT_EQ(Catalog_Write(img.image, &r.rows), Result::kIoFailure);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Str()),
                          std::filesystem::directory_iterator()),
            1);
}

#if defined(QOR3_FAULT_INJECTION)
TEST(CatalogWrite, AFullDiskAtAnyWriteKeepsTheOldCatalogAndLeavesNoTemporaryFile) {
  ScratchDir dir;
  WriteBytes(dir.File("qor9999.dct"), ExampleCatalog());
  Rows r;
  r.Dict({"0101", "20020825", "1230", "20020801", "0002"});
  r.Region({"0101", "13101", "AB", "CDE"});
  r.Prefix({"0101", "0312"});
  r.Index();
  Image img(dir.Dir());
  // The catalog is written in eight pieces; the disk fills up before each of them in turn.
  for (unsigned long failAt = 1; failAt <= 8; ++failAt) {
    File_FailWritesFrom(failAt);
    EXPECT_EQ(Catalog_Write(img.image, &r.rows), Result::kIoFailure) << "write " << failAt;
    File_FailWritesFrom(0);
    EXPECT_EQ(ReadBytes(dir.File("qor9999.dct")), ExampleCatalog()) << "write " << failAt;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Str()),
                            std::filesystem::directory_iterator()),
              1)
        << "write " << failAt;
  }
  EXPECT_EQ(Catalog_Write(img.image, &r.rows), Result::kOk);
  EXPECT_NE(ReadBytes(dir.File("qor9999.dct")), ExampleCatalog());
}
#endif

TEST(CatalogWrite, NoDictionaryRowsDeletesTheCatalog) {
  ScratchDir dir;
  WriteBytes(dir.File("qor9999.dct"), ExampleCatalog());
  Rows empty;
  empty.Index();
  Image img(dir.Dir());
  EXPECT_EQ(Catalog_Write(img.image, &empty.rows), Result::kOk);
  EXPECT_FALSE(catalog_test::Exists(dir.File("qor9999.dct")));
  EXPECT_EQ(DirCatalog_Read(dir.Dir().c_str(), img.image), Result::kNotFound);
}

// The example catalog with one change applied.
template <typename F>
Result ReadModified(F change) {
  ScratchDir dir;
  std::vector<uint8_t> bytes = ExampleCatalog();
  change(bytes);
  WriteBytes(dir.File("qor9999.dct"), bytes);
  Image img(dir.Dir());
  const Result answer = DirCatalog_Read(dir.Dir().c_str(), img.image);
  if (answer != Result::kOk) {
    EXPECT_EQ(img.image->loaded, 0);
    EXPECT_EQ(img.image->dictCount, 0);
    EXPECT_EQ(img.image->regionCount, 0);
    EXPECT_EQ(img.image->prefixCount, 0);
  }
  return answer;
}

void SetU32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  PutU32BE(b.data() + at, v);
}

TEST(CatalogRead, AnswersEmptyPathMissingFileAndSoundFiles) {
  ScratchDir dir;
  Image img("");
  EXPECT_EQ(DirCatalog_Read("", img.image), Result::kNotFound);
  EXPECT_EQ(DirCatalog_Read(dir.Dir().c_str(), img.image), Result::kNotFound);
  EXPECT_EQ(img.image->loaded, 0);

  EXPECT_EQ(ReadModified([](std::vector<uint8_t>& b) { std::memcpy(b.data(), "WXYZ", 4); }), kOk);
  // No prefix groups: size3 2.
  EXPECT_EQ(ReadModified([](std::vector<uint8_t>& b) {
              b.resize(b.size() - 7);
              b.push_back(0);
              b.push_back(0);
              SetU32(b, 20, 2);
              SetU32(b, 8, 295);
            }),
            kOk);
  // Trailing bytes after the tables do not matter.
  EXPECT_EQ(ReadModified([](std::vector<uint8_t>& b) { b.push_back(7); }), kOk);
}

TEST(CatalogRead, DamagedCatalogsAnswerMinusOneAndLeaveTheImageEmpty) {
  // Truncated: the prefix table runs past the end of the file.
  EXPECT_EQ(ReadModified([](std::vector<uint8_t>& b) { b.resize(b.size() - 1); }), kDamaged);
  EXPECT_EQ(ReadModified([](std::vector<uint8_t>& b) { b.resize(100); }), kDamaged);
  // Sizes beyond the file or the format's tables, or below the count's two bytes.
  EXPECT_EQ(ReadModified([](std::vector<uint8_t>& b) { SetU32(b, 12, 10003); }), kDamaged);
  EXPECT_EQ(ReadModified([](std::vector<uint8_t>& b) { SetU32(b, 16, 100003); }), kDamaged);
  EXPECT_EQ(ReadModified([](std::vector<uint8_t>& b) { SetU32(b, 20, 20003); }), kDamaged);
  EXPECT_EQ(ReadModified([](std::vector<uint8_t>& b) { SetU32(b, 12, 1); }), kDamaged);
  EXPECT_EQ(ReadModified([](std::vector<uint8_t>& b) { SetU32(b, 16, 0xFFFFFFFFu); }), kDamaged);

  // Counts that disagree with the table lengths.
  EXPECT_EQ(ReadModified([](std::vector<uint8_t>& b) { b[257] = 2; }), kDamaged);
  EXPECT_EQ(ReadModified([](std::vector<uint8_t>& b) { b[277] = 3; }), kDamaged);
  EXPECT_EQ(ReadModified([](std::vector<uint8_t>& b) { b[294] = 2; }), kDamaged);
  EXPECT_EQ(ReadModified([](std::vector<uint8_t>& b) { b[297] = 2; }), kDamaged);
  // A region name offset outside the name area, and a name without its NUL.
  EXPECT_EQ(ReadModified([](std::vector<uint8_t>& b) { b[281] = 7; }), kDamaged);
  EXPECT_EQ(ReadModified([](std::vector<uint8_t>& b) { b[292] = 'F'; }), kDamaged);
  // A dictionary number no file name can carry.
  EXPECT_EQ(ReadModified([](std::vector<uint8_t>& b) {
              b[284] = 0x27;
              b[285] = 0x10;
            }),
            kDamaged);
}

}  // namespace
