// Dictionary files for tests, built with the dictionary builder from UTF-8 listings.
#include "support/test_dicts.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "base/byte_order.h"
#include "common/cp932.h"
#include "dict/dict_format.h"
#include "files/file_names.h"
#include "mkdict/dict_builder.h"
#include "mkdict/tsv_input.h"

bool ConvertTestListings(const std::vector<TestListing>& listings, bool correction,
                         std::vector<Listing>* out, std::string* error) {
  out->clear();
  for (size_t i = 0; i < listings.size(); ++i) {
    const TestListing& in = listings[i];
    TsvRow row;
    row.line = static_cast<int>(i + 1);  // messages say "line N" for the N-th listing
    row.kind = std::to_string(in.kind);
    row.regionCode = std::to_string(in.regionCode);
    row.number = in.number;
    row.postalCode = in.postalCode;
    row.name = in.name;
    row.regionName1 = in.regionName1;
    row.regionName2 = in.regionName2;
    row.address1 = in.address1;
    row.address2 = in.address2;
    row.correction = in.add ? "add" : "remove";
    row.version = std::to_string(in.version);
    Listing listing;
    if (!TsvInput_ConvertRow(row, correction, &listing, error)) return false;
    out->push_back(std::move(listing));
  }
  return true;
}

bool BuildTestDict(const std::vector<TestListing>& listings, const TestDictOptions& options,
                   std::vector<uint8_t>* image, std::string* error,
                   DictBuildStats* stats) {
  DictBuildOptions build;
  build.edition1 = options.edition1;
  build.edition2 = options.edition2;
  build.correction = options.correction;
  build.maxEntriesPerBlock = options.maxEntriesPerBlock;
  build.maxItemsPerNumberBlock = options.maxItemsPerNumberBlock;
  build.blockBytes = options.blockBytes;
  const struct {
    const std::vector<std::string>& codes;
    std::vector<uint32_t>* values;
  } lists[] = {{options.areaCodes, &build.areaCodes},
               {options.extendedAreaCodes, &build.extendedAreaCodes}};
  for (const auto& list : lists) {
    std::string text;
    for (const std::string& code : list.codes) text += code + "\n";
    if (!AreaCodes_Parse(text, list.values, error)) return false;
  }
  std::vector<Listing> converted;
  if (!ConvertTestListings(listings, options.correction, &converted, error)) return false;
  DictBuildStats ignored;
  return DictBuilder_Build(std::move(converted), build, image, stats != nullptr ? stats : &ignored,
                           error);
}

std::string WriteTestDict(const std::string& directory, const std::vector<TestListing>& listings,
                          const TestDictOptions& options) {
  std::vector<uint8_t> image;
  std::string error;
  if (!BuildTestDict(listings, options, &image, &error)) {
    ADD_FAILURE() << "test dictionary not built: " << error;
    return "";
  }
  char name[kDictFileNameLength + 1];
  Dict_FileName(options.correction ? kCorrectionDictNumber : options.number, name);
  std::string path = directory + name;
  if (!DictBuilder_WriteFile(path, image, &error)) {
    ADD_FAILURE() << "test dictionary not written: " << error;
    return "";
  }
  return path;
}

std::string TestCp932(std::string_view utf8, bool fullWidth) {
  std::string out, error;
  if (!Cp932_FromUtf8(utf8, fullWidth, &out, &error)) {
    ADD_FAILURE() << "not convertible to CP932: " << error;
    return "";
  }
  return out;
}

std::string TestUtf8(std::string_view cp932) {
  std::string out;
  if (!Cp932_ToUtf8(cp932, &out)) {
    ADD_FAILURE() << "not CP932 text";
    return "";
  }
  return out;
}

uint32_t TestSectionSize(const std::vector<uint8_t>& image, int section) {
  uint32_t size = 0;
  if (image.size() >= kDictHeaderSize && section >= 0 && section < kDictSectionCount) {
    GetU32BE(image.data() + kDictSectionSizesOffset + 4 * section, &size);
  }
  return size;
}

size_t TestSectionStart(const std::vector<uint8_t>& image, int section) {
  size_t start = kDictHeaderSize;
  for (int i = 0; i < section; ++i) start += TestSectionSize(image, i);
  return start;
}

void TestSetSectionSize(std::vector<uint8_t>* image, int section, uint32_t size) {
  PutU32BE(image->data() + kDictSectionSizesOffset + 4 * section, size);
}

TestListing TestEntry(std::string number, std::string name) {
  TestListing l;
  l.number = std::move(number);
  l.name = std::move(name);
  l.regionName1 = "東京都";
  l.regionName2 = "千代田区";
  l.address1 = "丸の内";
  return l;
}

TestListing Removal(TestListing listing) {
  listing.add = false;
  return listing;
}

TestListing Versioned(TestListing listing, uint32_t version) {
  listing.version = version;
  return listing;
}

TestDictOptions DictOptions(uint32_t number, uint32_t edition1, uint32_t entriesPerBlock) {
  TestDictOptions o;
  o.number = number;
  o.edition1 = edition1;
  o.maxEntriesPerBlock = entriesPerBlock;
  return o;
}

TestDictOptions CorrectionOptions(uint32_t entriesPerBlock) {
  TestDictOptions o;
  o.correction = true;
  o.maxEntriesPerBlock = entriesPerBlock;
  return o;
}
