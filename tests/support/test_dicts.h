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

// A listing as most tests need one: a person in region 13101 (東京都 千代田区) at 丸の内; set
// other fields after. The same listing as a correction's removal, and with a version.
TestListing TestEntry(std::string number, std::string name);
TestListing Removal(TestListing listing);
TestListing Versioned(TestListing listing, uint32_t version);
// The options of dictionary number (of that edition), and of the correction file; with
// entriesPerBlock > 0 the blocks are that small.
TestDictOptions DictOptions(uint32_t number, uint32_t edition1, uint32_t entriesPerBlock = 0);
TestDictOptions CorrectionOptions(uint32_t entriesPerBlock = 0);

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

// Section i (0..6) of a dictionary image, from the header's table of sizes: its size (0 when
// the image is shorter than its header) and where it starts.
uint32_t TestSectionSize(const std::vector<uint8_t>& image, int section);
size_t TestSectionStart(const std::vector<uint8_t>& image, int section);
// Writes the size of section i into the header of an image.
void TestSetSectionSize(std::vector<uint8_t>* image, int section, uint32_t size);

// A text as the builder stores it: CP932, full-width forms when fullWidth (names, address1).
std::string TestCp932(std::string_view utf8, bool fullWidth = false);
// CP932 text back to UTF-8 ("" with a test failure when it is not CP932).
std::string TestUtf8(std::string_view cp932);

#endif  // QOR3_TESTS_SUPPORT_TEST_DICTS_H
