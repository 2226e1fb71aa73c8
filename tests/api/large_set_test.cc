// Sets of hundreds of dictionaries through the exported functions: opened, catalogued, found
// again, installed into with Qor_CopyDic; and a set past a limit of the catalog format.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/mem.h"
#include "catalog/catalog_file.h"
#include "catalog/catalog_test_files.h"
#include "qor3.h"
#include "support/search_session.h"
#include "support/temp_dir.h"
#include "support/test_dicts.h"

namespace {

using catalog_test::MTime;
using catalog_test::ReadBytes;
using catalog_test::SetMTime;

// A small dictionary numbered 100 * p + v: regions 1000 * p + 20 * v + r, one listing each,
// with numbers of their own; region names 2 of name2Length bytes.
struct SmallDict {
  uint32_t number;
  std::vector<uint32_t> regions;
  std::vector<std::string> phones;
  std::vector<TestListing> listings;
};

SmallDict Small(uint32_t p, uint32_t v, uint32_t regions, uint32_t name2Length) {
  SmallDict d;
  d.number = 100 * p + v;
  for (uint32_t r = 0; r < regions; ++r) {
    char phone[16], name2[48];
    // Prefix numbers spread over 100..999, so that most dictionaries have one of their own.
    std::snprintf(phone, sizeof phone, "0%03u%02u%04u", 100 + (p * 29 + v) % 900, r, d.number);
    std::snprintf(name2, sizeof name2, "R%04u-%02u%.*s", d.number, r,
                  static_cast<int>(name2Length - 8), "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx");
    TestListing l;
    l.regionCode = 1000 * p + 20 * v + r;
    l.number.assign(phone, 10);
    l.name = "山田　太郎";
    l.regionName1 = "P";
    l.regionName2.assign(name2, name2Length);
    l.address1 = "本町";
    d.listings.push_back(l);
    d.regions.push_back(l.regionCode);
    d.phones.push_back(l.number);
  }
  return d;
}

// Builds the dictionaries 100 * p + v, v from vFirst to vLast, into dir, in number order.
std::vector<SmallDict> WriteSet(const TempDir& dir, uint32_t vFirst, uint32_t vLast,
                                uint32_t regions = 1, uint32_t name2Length = 8) {
  std::vector<SmallDict> set;
  for (uint32_t p = 1; p <= 47; ++p) {
    for (uint32_t v = vFirst; v <= vLast; ++v) {
      SmallDict d = Small(p, v, regions, name2Length);
      TestDictOptions options;
      options.number = d.number;
      if (WriteTestDict(dir.path(), d.listings, options).empty()) return {};
      set.push_back(std::move(d));
    }
  }
  return set;
}

OpenRequest OpenOf(const std::string& dir) {
  OpenRequest r;
  std::memset(&r, 0, sizeof r);
  r.directory1Length = static_cast<uint32_t>(dir.size());
  std::memcpy(r.directory1, dir.data(), dir.size());
  return r;
}

std::set<std::pair<int32_t, int32_t>> RegionsOf(const OpenResult& result) {
  std::set<std::pair<int32_t, int32_t>> out;
  for (uint32_t i = 0; i < result.regionCount; ++i) {
    out.emplace(result.regions[i]->regionCode, result.regions[i]->dictNumber);
  }
  return out;
}

std::set<std::pair<int32_t, int32_t>> RegionsOf(const std::vector<SmallDict>& set) {
  std::set<std::pair<int32_t, int32_t>> out;
  for (const SmallDict& d : set) {
    for (uint32_t code : d.regions) out.emplace(code, d.number);
  }
  return out;
}

// The catalog's dictionary numbers and region records (code, dictionary) as the library reads
// them; -1 in the first number when the read fails.
struct CatalogContents {
  std::vector<uint32_t> dicts;
  std::set<std::pair<int32_t, int32_t>> regions;
};

CatalogContents ReadCatalog(const TempDir& dir) {
  CatalogContents c;
  DirCatalog* image = static_cast<DirCatalog*>(Mem_Alloc(sizeof(DirCatalog)));
  DirCatalog_Init(image);
  if (DirCatalog_Read(dir.path().c_str(), image) != Result::kOk) c.dicts.push_back(0xFFFFFFFF);
  for (uint32_t i = 0; i < image->dictCount; ++i) {
    CatalogDictRow row;
    EXPECT_EQ(DirCatalog_DictRow(image, i, &row), 0);
    c.dicts.push_back(row.number);
  }
  for (uint32_t i = 0; i < image->regionCount; ++i) {
    CatalogRegionRecord rec;
    EXPECT_EQ(DirCatalog_RegionRecord(image, i, &rec), 0);
    c.regions.emplace(rec.code, rec.dictNumber);
  }
  DirCatalog_Free(image);
  Mem_Free(image);
  return c;
}

std::vector<uint32_t> NumbersOf(const std::vector<SmallDict>& set, size_t count) {
  std::vector<uint32_t> out;
  for (size_t i = 0; i < count && i < set.size(); ++i) out.push_back(set[i].number);
  return out;
}

// Opens dir and checks the region list, that every number of the first found dictionaries is
// found in its region and that no number of the others is.
void OpenAndSearch(const TempDir& dir, const std::vector<SmallDict>& set, size_t found) {
  const OpenRequest request = OpenOf(dir.path());
  OpenResult result{};
  void* handle = Qor_Open(&request, &result);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(result.catalog1Loaded, 1);
  const std::vector<SmallDict> kept(set.begin(), set.begin() + static_cast<long>(found));
  EXPECT_EQ(RegionsOf(result), RegionsOf(kept));
  for (size_t i = 0; i < set.size(); ++i) {
    for (size_t r = 0; r < set[i].phones.size(); ++r) {
      const std::vector<Hit> hits = Search(handle, NumberRequest(set[i].phones[r]));
      if (i < found) {
        ASSERT_EQ(hits.size(), 1u) << set[i].phones[r];
        EXPECT_EQ(hits[0].region, static_cast<int>(set[i].regions[r]));
      } else {
        EXPECT_TRUE(hits.empty()) << set[i].phones[r];
      }
    }
  }
  Qor_Close(handle, &result);
}

// The catalog is current: an open neither rewrites nor touches it.
void ExpectOpenKeepsTheCatalog(const TempDir& dir) {
  const std::string catalog = dir.File("qor9999.dct");
  const std::vector<uint8_t> before = ReadBytes(catalog);
  const std::time_t old = catalog_test::LocalTimeOf(2001, 1, 5, 6, 0);
  ASSERT_TRUE(SetMTime(catalog, old));
  const OpenRequest request = OpenOf(dir.path());
  OpenResult result{};
  void* handle = Qor_Open(&request, &result);
  ASSERT_NE(handle, nullptr);
  Qor_Close(handle, &result);
  EXPECT_EQ(MTime(catalog), old);
  EXPECT_EQ(ReadBytes(catalog), before);
}

TEST(LargeSet, SixHundredDictionariesOpenCatalogueAndAreAllFound) {
  TempDir dir;
  const std::vector<SmallDict> set = WriteSet(dir, 1, 14);  // 658 dictionaries
  ASSERT_EQ(set.size(), 47u * 14);
  OpenAndSearch(dir, set, set.size());

  // The catalog written for the set reads back with every dictionary and region record.
  const CatalogContents catalog = ReadCatalog(dir);
  EXPECT_EQ(catalog.dicts, NumbersOf(set, set.size()));
  EXPECT_EQ(catalog.regions, RegionsOf(set));
  ExpectOpenKeepsTheCatalog(dir);
}

TEST(LargeSet, CopyDicOfThreeHundredDictionariesIntoALargeSetKeepsEveryRow) {
  TempDir source, destination;
  std::vector<SmallDict> own = WriteSet(destination, 1, 8);     // 376
  const std::vector<SmallDict> fresh = WriteSet(source, 9, 15);  // 329, of which 300 copied
  ASSERT_EQ(own.size(), 376u);
  const std::vector<uint32_t> numbers = NumbersOf(fresh, 300);
  const std::vector<int32_t> request(numbers.begin(), numbers.end());
  EXPECT_EQ(Qor_CopyDic(source.path().data(), static_cast<int32_t>(source.path().size()),
                        destination.path().data(), static_cast<int32_t>(destination.path().size()),
                        request.data(), static_cast<int32_t>(request.size())),
            300);

  std::vector<SmallDict> all = own;
  all.insert(all.end(), fresh.begin(), fresh.begin() + 300);
  std::sort(all.begin(), all.end(),
            [](const SmallDict& a, const SmallDict& b) { return a.number < b.number; });
  const CatalogContents catalog = ReadCatalog(destination);
  EXPECT_EQ(catalog.dicts, NumbersOf(all, all.size()));
  EXPECT_EQ(catalog.regions, RegionsOf(all));
  ExpectOpenKeepsTheCatalog(destination);
  OpenAndSearch(destination, all, all.size());
}

// 141 dictionaries of 16 regions whose names 2 take 41 bytes: 2,256 records need 92,498 bytes of
// names, but a name must start below offset 65,536. Name 1 ("P") is shared by all, so record
// j's name 2 starts at 2 + 41 j: records up to 1,598 fit, which is 99 whole dictionaries.
TEST(LargeSet, PastTheCatalogsNameAreaTheLowestNumberedDictionariesAreKept) {
  TempDir dir;
  const std::vector<SmallDict> set = WriteSet(dir, 1, 3, 16, 40);  // 141 dictionaries
  ASSERT_EQ(set.size(), 141u);
  constexpr size_t kKept = 99;
  OpenAndSearch(dir, set, kKept);
  const CatalogContents catalog = ReadCatalog(dir);
  EXPECT_EQ(catalog.dicts, NumbersOf(set, kKept));
  // The next open finds the files left out again, packs the same catalog and leaves it be.
  ExpectOpenKeepsTheCatalog(dir);
}

}  // namespace
