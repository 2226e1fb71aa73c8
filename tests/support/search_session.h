// End-to-end search tests: a dictionary set in temporary directories opened with Qor_Open,
// requests filled as a host fills them, and searches whose results come back as UTF-8 records
// after every result text has been checked.
#ifndef QOR3_TESTS_SUPPORT_SEARCH_SESSION_H
#define QOR3_TESTS_SUPPORT_SEARCH_SESSION_H

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine.h"
#include "qor3.h"
#include "support/temp_dir.h"

// One result record, texts in UTF-8.
struct Hit {
  int kind = 0;
  int region = 0;
  std::string number, postal, name, regionName1, regionName2, address1, address2;
  bool operator==(const Hit&) const = default;
};
void PrintTo(const Hit& hit, std::ostream* out);

std::vector<std::string> Names(const std::vector<Hit>& hits);
std::vector<std::string> Numbers(const std::vector<Hit>& hits);

// An engine opened directly, with options of its own, over directories given as a host gives
// them (empty: none); its address is a handle for Qor_Search. Closed and freed with the
// pointer; null (with a test failure) when the open fails.
struct EngineCloser {
  void operator()(Engine* engine) const;
};
using OwnEngine = std::unique_ptr<Engine, EngineCloser>;
OwnEngine OpenEngine(const std::string& dir1, const std::string& dir2,
                     const std::string& corrections, const EngineOptions& options = {});
// The cache of the engine a handle stands for.
EngineCache* CacheOf(void* handle);

// A mode 2 request for the key's bytes as they stand.
SearchRequest NumberRequest(std::string_view key);
// A mode 1 request; the pattern and address text 2 are converted to CP932 as they are,
// address text 1 in the full-width form the builder stores.
SearchRequest NameRequest(uint32_t region, std::string_view pattern, uint32_t kind = 3,
                          std::string_view address1 = "", std::string_view address2 = "");
// The same with the pattern given as CP932 bytes.
SearchRequest NameRequestCp932(uint32_t region, std::string_view pattern, uint32_t kind = 3);

// Runs the request: every text of every result must be non-null, NUL-terminated and as long
// as its length field. Releases the results with Qor_MemRelease and checks that no heap block
// of the search stays allocated.
std::vector<Hit> Search(void* handle, SearchRequest request);

// Runs the request with results and resultPool set to marker values: success when the search
// finds nothing and leaves both as they were, and Qor_MemRelease then changes nothing.
::testing::AssertionResult FindsNothing(void* handle, SearchRequest request);

// Fails the k-th allocation of the search for k = 1, 2, ... until the search gets through:
// each failure must give resultCount 0, leave results and resultPool as the host set them and
// free every block; the search that gets through must find expectedCount results. Then fails
// the engine cache's allocations one at a time: the search must answer in full. Every search
// starts with the cache empty.
void ExpectEveryAllocationFailureFailsCleanly(void* handle, const SearchRequest& request,
                                              size_t expectedCount);

// Three directories (dictionaries 1 and 2, corrections) and the open set over them.
class SearchTest : public ::testing::Test {
 protected:
  ~SearchTest() override;
  // Opens d1_, d2_ and d3_ (an empty string leaves that directory out); fails the test when
  // the open fails.
  void* Open(bool withDirectory2 = true, bool withCorrections = true);
  void Close();
  std::vector<Hit> Number(std::string_view key) { return Search(handle_, NumberRequest(key)); }
  std::vector<Hit> Name(uint32_t region, std::string_view pattern, uint32_t kind = 3,
                        std::string_view address1 = "", std::string_view address2 = "") {
    return Search(handle_, NameRequest(region, pattern, kind, address1, address2));
  }

  TempDir d1_, d2_, d3_;
  void* handle_ = nullptr;
  OpenResult open_{};
};

#endif  // QOR3_TESTS_SUPPORT_SEARCH_SESSION_H
