// The benchmark's data set: the listings a generated dictionary set answers with once the
// correction file is applied by the engine's rules, and the fixed-seed query sets.
#ifndef QOR3_BENCH_BENCH_DATA_H
#define QOR3_BENCH_BENCH_DATA_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bench_common.h"
#include "mkdict/dict_builder.h"

// One installed dictionary: its number, edition value 1 and listings (code page 932).
struct BenchDict {
  uint32_t number = 0;
  uint32_t edition1 = 0;
  std::vector<Listing> listings;
};

// What happened to the corrections; the unusual cases are counted so that a data set that
// leans on them shows it.
struct CorrectionTally {
  uint32_t additions = 0;          // applied and added
  uint32_t removals = 0;           // applied removals that matched a listing
  uint32_t listingsRemoved = 0;    // listings they removed (one removal takes every equal one)
  uint32_t outdated = 0;           // version below the edition stamp of the region: ignored
  uint32_t uncovered = 0;          // region listed by no dictionary: ignored
  uint32_t additionsPresent = 0;   // addition equal to a listing: that listing stays, once
  uint32_t removalsUnmatched = 0;  // removal equal to no listing: no effect
};

// The edition stamp that correction versions are compared with: (edition1 / 100) mod 10000.
uint32_t BenchData_EditionStamp(uint32_t edition1);

// The listings that searches of the set answer with: every listing of the dictionaries,
// without those equal (in entry order's sense: region code, address texts, name, number, kind)
// to an applicable removal, plus the applicable additions that equal no listing. A correction
// applies when a dictionary lists its region code and the region's edition stamp is not above
// its version; when several dictionaries list one region, the one with the highest number
// gives the stamp. The result is in entry order.
void BenchData_ApplyCorrections(const std::vector<BenchDict>& dicts,
                                const std::vector<Listing>& corrections,
                                std::vector<Listing>* out, CorrectionTally* tally);

// A name pattern (code page 932, wildcards full-width or ASCII) as a GLOB pattern in UTF-8:
// "＊" and "*" become '*', "？" and "?" become '?'. false when the text is not code page 932.
bool BenchData_GlobPattern(std::string_view cp932, std::string* out);

// The leading surname of a kind-1 name: the text before its first ideographic space, or ""
// when there is none. Walks code page 932 characters, so a trail byte 0x81 followed by 0x40
// inside another character is not taken for the space.
std::string BenchData_Surname(std::string_view cp932Name);

struct QueryPlan {
  uint64_t seed = 1;
  uint32_t numberQueries = 10000;  // of each kind: existing numbers and absent numbers
  uint32_t nameQueries = 200;      // of each name workload
};

// Number lookups: existing numbers drawn from the listings, absent numbers made by changing
// the last four digits of an existing one until no listing has it, alternating. Name
// searches in the region with the most listings: leading surname ("佐藤＊") and name ending
// ("＊子"), each without and with the address-1 key of the listing they come from, and
// leading surname in regions drawn by listing count. Deterministic for a seed.
void BenchData_MakeQueries(const std::vector<Listing>& listings, const QueryPlan& plan,
                           std::vector<BenchQuery>* out);

// `draws` positions in [0, n) drawn with a Zipf distribution of exponent s (the position k
// with a probability proportional to 1 / (k + 1)^s), as caller-ID traffic repeats numbers.
// Deterministic for a seed; empty for n = 0.
void BenchData_ZipfDraws(size_t n, uint32_t draws, double s, uint64_t seed,
                         std::vector<uint32_t>* out);

// Region code with the most listings and its count (0, 0 for no listings).
void BenchData_LargestRegion(const std::vector<Listing>& listings, uint32_t* region,
                             uint32_t* count);

#endif  // QOR3_BENCH_BENCH_DATA_H
