// Dictionary files for tests, built with the dictionary builder from a few listings given in
// UTF-8 (converted and checked exactly as qor-mkdict converts and checks its TSV input).
#ifndef QOR3_TESTS_SUPPORT_TEST_DICTS_H
#define QOR3_TESTS_SUPPORT_TEST_DICTS_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mkdict/dict_builder.h"

// One listing; texts in UTF-8, fields in the form of the TSV columns.
struct TestListing {
  int kind = 1;
  uint32_t regionCode = 13101;
  std::string number;                  // "03-1234-5678" or "0312345678"
  std::string postalCode = "100-0001";
  std::string name;                    // kind 1: not empty
  std::string regionName1;
  std::string regionName2;
  std::string address1;
  std::string address2;
  bool add = true;       // correction file: add or remove
  uint32_t version = 0;  // correction file: 0..9999
};

struct TestDictOptions {
  uint32_t number = 101;  // qorNNNN.dct; ignored for the correction file (5001)
  uint32_t edition1 = 20240101;
  uint32_t edition2 = 1;
  bool correction = false;
  std::vector<std::string> areaCodes;          // with the leading zero: "03", "0422"
  std::vector<std::string> extendedAreaCodes;  // "0425": area code 042, next digit 5
  uint32_t maxEntriesPerBlock = 0;      // > 0 forces small entry blocks
  uint32_t maxItemsPerNumberBlock = 0;  // > 0 forces small number blocks
  uint32_t blockBytes = 32768;
};

// The listings converted and checked as the builder takes them (not yet sorted).
bool ConvertTestListings(const std::vector<TestListing>& listings, bool correction,
                         std::vector<Listing>* out, std::string* error);

// The file image (and the builder's counts when stats is given); false with its message.
bool BuildTestDict(const std::vector<TestListing>& listings, const TestDictOptions& options,
                   std::vector<uint8_t>* image, std::string* error,
                   DictBuildStats* stats = nullptr);

// Writes directory + "qorNNNN.dct" (directory ends with its separator) and returns the path;
// on failure records a test failure with the builder's message and returns "".
std::string WriteTestDict(const std::string& directory, const std::vector<TestListing>& listings,
                          const TestDictOptions& options = {});

// A text as the builder stores it: CP932, full-width forms when fullWidth (names, address1).
std::string TestCp932(std::string_view utf8, bool fullWidth = false);
// CP932 text back to UTF-8 ("" with a test failure when it is not CP932).
std::string TestUtf8(std::string_view cp932);

#endif  // QOR3_TESTS_SUPPORT_TEST_DICTS_H
