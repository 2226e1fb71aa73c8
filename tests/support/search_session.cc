// End-to-end search tests: an opened dictionary set, requests and checked results.
#include "support/search_session.h"

#include <cstring>
#include <string>

#include "base/mem.h"
#include "engine/engine_cache.h"
#include "files/file_names.h"
#include "support/test_dicts.h"

namespace {

void SetText(uint32_t* length, char* field, size_t width, std::string_view text) {
  EXPECT_LE(text.size(), width) << "request text wider than its field";
  *length = static_cast<uint32_t>(text.size());
  std::memcpy(field, text.data(), text.size() < width ? text.size() : width);
}

// The result text after checking it against its length.
std::string Text(const char* text, uint32_t length, const char* what) {
  if (text == nullptr) {
    ADD_FAILURE() << what << " is a null pointer";
    return "";
  }
  EXPECT_EQ(std::strlen(text), length) << what << " length";
  return TestUtf8(text);
}

SearchResult** const kMarkerResults = reinterpret_cast<SearchResult**>(uintptr_t{0x5EA5C0DE});
BlockPool* const kMarkerPool = reinterpret_cast<BlockPool*>(uintptr_t{0x0B10C500});

}  // namespace

void PrintTo(const Hit& h, std::ostream* out) {
  *out << "{" << h.kind << " " << h.region << " " << h.number << " " << h.postal << " \""
       << h.name << "\" \"" << h.regionName1 << "\" \"" << h.regionName2 << "\" \""
       << h.address1 << "\" \"" << h.address2 << "\"}";
}

std::vector<std::string> Names(const std::vector<Hit>& hits) {
  std::vector<std::string> out;
  for (const Hit& h : hits) out.push_back(h.name);
  return out;
}

std::vector<std::string> Numbers(const std::vector<Hit>& hits) {
  std::vector<std::string> out;
  for (const Hit& h : hits) out.push_back(h.number);
  return out;
}

SearchRequest NumberRequest(std::string_view key) {
  SearchRequest r;
  std::memset(&r, 0, sizeof r);
  r.mode = 2;
  SetText(&r.keyLength, r.key, sizeof r.key, key);
  return r;
}

SearchRequest NameRequestCp932(uint32_t region, std::string_view pattern, uint32_t kind) {
  SearchRequest r;
  std::memset(&r, 0, sizeof r);
  r.mode = 1;
  r.regionCode = region;
  r.kindFilter = kind;
  SetText(&r.namePatternLength, r.namePattern, sizeof r.namePattern, pattern);
  return r;
}

void EngineCloser::operator()(Engine* engine) const {
  Engine_Close(engine);
  delete engine;
}

OwnEngine OpenEngine(const std::string& dir1, const std::string& dir2,
                     const std::string& corrections, const EngineOptions& options) {
  char paths[3][kPathCapacity];
  const std::string* given[] = {&dir1, &dir2, &corrections};
  for (int i = 0; i < 3; ++i) {
    if (Path_Prepare(given[i]->data(), static_cast<uint32_t>(given[i]->size()), paths[i]) != 0) {
      ADD_FAILURE() << "path refused: " << *given[i];
      return nullptr;
    }
  }
  OwnEngine engine(new Engine);
  Engine_Init(engine.get(), options);
  if (Engine_Open(engine.get(), paths[0], paths[1], paths[2]) != 0) {
    ADD_FAILURE() << "no set in " << dir1 << ", " << dir2 << ", " << corrections;
    return nullptr;
  }
  return engine;
}

EngineCache* CacheOf(void* handle) { return &static_cast<Engine*>(handle)->cache; }

SearchRequest NameRequest(uint32_t region, std::string_view pattern, uint32_t kind,
                          std::string_view address1, std::string_view address2) {
  SearchRequest r = NameRequestCp932(region, TestCp932(pattern), kind);
  SetText(&r.address1Length, r.address1, sizeof r.address1, TestCp932(address1, true));
  SetText(&r.address2Length, r.address2, sizeof r.address2, TestCp932(address2));
  return r;
}

namespace {

// Heap blocks outside the engine cache, which keeps what searches read.
long LiveBlocks(void* handle) {
  return Mem_LiveBlocks() - (handle != nullptr ? EngineCache_LiveBlocks(CacheOf(handle)) : 0);
}

// The results of a request as bytes, every field of every result in order.
std::string Answer(const SearchRequest& r) {
  std::string a;
  for (uint32_t i = 0; i < r.resultCount; ++i) {
    const SearchResult* x = r.results[i];
    a += std::to_string(x->entryKind) + ',' + std::to_string(x->regionCode);
    for (const char* text : {x->number, x->postalCode, x->name, x->regionName1, x->regionName2,
                             x->address1, x->address2}) {
      (a += ',') += text;
    }
    a += '|';
  }
  return a;
}

}  // namespace

std::vector<Hit> Search(void* handle, SearchRequest request) {
  const long live = LiveBlocks(handle);
  EXPECT_EQ(Qor_Search(handle, &request), 0);
  std::vector<Hit> hits;
  for (uint32_t i = 0; i < request.resultCount; ++i) {
    const SearchResult* r = request.results[i];
    if (r == nullptr) {
      ADD_FAILURE() << "result " << i << " is a null pointer";
      continue;
    }
    Hit h;
    h.kind = r->entryKind;
    h.region = r->regionCode;
    h.number = Text(r->number, r->numberLength, "number");
    h.postal = Text(r->postalCode, r->postalCodeLength, "postal code");
    h.name = Text(r->name, r->nameLength, "name");
    h.regionName1 = Text(r->regionName1, r->regionName1Length, "region name 1");
    h.regionName2 = Text(r->regionName2, r->regionName2Length, "region name 2");
    h.address1 = Text(r->address1, r->address1Length, "address text 1");
    h.address2 = Text(r->address2, r->address2Length, "address text 2");
    hits.push_back(h);
  }
  EXPECT_EQ(Qor_MemRelease(&request), 0);
  EXPECT_EQ(LiveBlocks(handle), live) << "blocks left allocated by the search";
  return hits;
}

::testing::AssertionResult FindsNothing(void* handle, SearchRequest request) {
  request.resultCount = 7;
  request.results = kMarkerResults;
  request.resultPool = kMarkerPool;
  const long live = LiveBlocks(handle);
  if (Qor_Search(handle, &request) != 0) return ::testing::AssertionFailure() << "return value";
  if (request.resultCount != 0) {
    const uint32_t count = request.resultCount;
    Qor_MemRelease(&request);
    return ::testing::AssertionFailure() << count << " results";
  }
  if (request.results != kMarkerResults || request.resultPool != kMarkerPool) {
    return ::testing::AssertionFailure() << "results or resultPool changed";
  }
  if (LiveBlocks(handle) != live) return ::testing::AssertionFailure() << "blocks left allocated";
  SearchRequest before = request;
  if (Qor_MemRelease(&request) != 0 || std::memcmp(&before, &request, sizeof request) != 0) {
    return ::testing::AssertionFailure() << "Qor_MemRelease changed the request";
  }
  return ::testing::AssertionSuccess();
}

SearchTest::~SearchTest() { Close(); }

void* SearchTest::Open(bool withDirectory2, bool withCorrections) {
  Close();
  OpenRequest r;
  std::memset(&r, 0, sizeof r);
  SetText(&r.directory1Length, r.directory1, sizeof r.directory1, d1_.path());
  if (withDirectory2) SetText(&r.directory2Length, r.directory2, sizeof r.directory2, d2_.path());
  if (withCorrections) {
    SetText(&r.correctionDirectoryLength, r.correctionDirectory, sizeof r.correctionDirectory,
            d3_.path());
  }
  handle_ = Qor_Open(&r, &open_);
  EXPECT_NE(handle_, nullptr) << "the dictionary set does not open";
  return handle_;
}

void SearchTest::Close() {
  if (handle_ != nullptr) Qor_Close(handle_, &open_);
  handle_ = nullptr;
}

void ExpectEveryAllocationFailureFailsCleanly(void* handle, const SearchRequest& request,
                                              size_t expectedCount) {
  // Each failure hits a search that starts with the engine cache empty, so the cache's own
  // allocations fail too.
  for (unsigned long k = 1;; ++k) {
    EngineCache_SetBudget(CacheOf(handle), kEngineCacheBudget);
    SearchRequest r = request;
    r.results = reinterpret_cast<SearchResult**>(uintptr_t{0x1234});
    r.resultPool = reinterpret_cast<BlockPool*>(uintptr_t{0x5678});
    const long live = LiveBlocks(handle);
    Mem_ResetFaults();
    Mem_FailFrom(k);
    Qor_Search(handle, &r);
    const unsigned long made = Mem_AllocationCount();
    Mem_ResetFaults();
    if (made < k) {
      EXPECT_EQ(r.resultCount, expectedCount);
      Qor_MemRelease(&r);
      EXPECT_GT(k, 10u) << "the walk reached too few allocations to mean anything";
      break;
    }
    EXPECT_EQ(r.resultCount, 0u) << "allocation " << k;
    EXPECT_EQ(r.results, reinterpret_cast<SearchResult**>(uintptr_t{0x1234})) << k;
    EXPECT_EQ(r.resultPool, reinterpret_cast<BlockPool*>(uintptr_t{0x5678})) << k;
    EXPECT_EQ(LiveBlocks(handle), live) << "allocation " << k;
  }
  // The cache failing to allocate, one allocation at a time: the search reads what the cache
  // cannot keep from the files and answers in full.
  SearchRequest reference = request;
  EngineCache_SetBudget(CacheOf(handle), 0);
  Qor_Search(handle, &reference);
  const std::string expected = Answer(reference);
  EXPECT_EQ(reference.resultCount, expectedCount);
  Qor_MemRelease(&reference);
  for (unsigned long k = 1;; ++k) {
    EngineCache_SetBudget(CacheOf(handle), kEngineCacheBudget);
    SearchRequest r = request;
    const long live = LiveBlocks(handle);
    EngineCache_FailAllocation(CacheOf(handle), k);
    Qor_Search(handle, &r);
    const unsigned long made = EngineCache_AllocationCount(CacheOf(handle));
    EngineCache_FailAllocation(CacheOf(handle), 0);
    EXPECT_EQ(Answer(r), expected) << "cache allocation " << k;
    Qor_MemRelease(&r);
    EXPECT_EQ(LiveBlocks(handle), live) << "cache allocation " << k;
    if (made < k) break;
  }
  EngineCache_SetBudget(CacheOf(handle), kEngineCacheBudget);
}
