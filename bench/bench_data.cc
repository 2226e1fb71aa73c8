// The benchmark's data set: corrections applied by the engine's rules, and the query sets.
#include "bench_data.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <unordered_set>

#include "common/cp932.h"

namespace {

const char kWideAsterisk[] = "\x81\x96";

bool IsLeadByte(uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xEF); }

size_t CharLength(std::string_view text, size_t at) {
  return IsLeadByte(static_cast<uint8_t>(text[at])) && at + 1 < text.size() ? 2 : 1;
}

// splitmix64: the same sequence on every platform and standard library.
struct Rng {
  uint64_t state;
  uint64_t Next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t Below(size_t n) { return static_cast<uint32_t>(Next() % n); }
};

bool EntryLess(const Listing& a, const Listing& b) { return Listing_Compare(a, b) < 0; }

std::string LastChar(std::string_view text) {
  size_t last = 0;
  for (size_t i = 0; i < text.size(); i += CharLength(text, i)) last = i;
  return std::string(text.substr(last));
}

BenchQuery NameQuery(const char* workload, const Listing& listing, const std::string& pattern,
                     bool withAddress) {
  BenchQuery q;
  q.type = 'S';
  q.workload = workload;
  q.region = listing.regionCode;
  q.patternCp932 = pattern;
  BenchData_GlobPattern(pattern, &q.patternGlob);
  if (withAddress) {
    q.address1Cp932 = listing.address1;
    Cp932_ToUtf8(listing.address1, &q.address1Utf8);
  }
  return q;
}

}  // namespace

uint32_t BenchData_EditionStamp(uint32_t edition1) { return edition1 / 100 % 10000; }

void BenchData_ApplyCorrections(const std::vector<BenchDict>& dicts,
                                const std::vector<Listing>& corrections,
                                std::vector<Listing>* out, CorrectionTally* tally) {
  *tally = CorrectionTally{};
  std::vector<const BenchDict*> order;
  for (const BenchDict& d : dicts) order.push_back(&d);
  std::sort(order.begin(), order.end(),
            [](const BenchDict* a, const BenchDict* b) { return a->number < b->number; });
  std::map<uint32_t, uint32_t> stamp;  // region code -> edition stamp
  std::vector<Listing> base;
  for (const BenchDict* d : order) {
    for (const Listing& l : d->listings) {
      stamp[l.regionCode] = BenchData_EditionStamp(d->edition1);
      base.push_back(l);
    }
  }
  std::stable_sort(base.begin(), base.end(), EntryLess);

  std::vector<uint8_t> removed(base.size(), 0);
  std::vector<Listing> additions;
  for (const Listing& c : corrections) {
    auto found = stamp.find(c.regionCode);
    if (found == stamp.end()) {
      ++tally->uncovered;
      continue;
    }
    if (found->second > c.correctionVersion) {
      ++tally->outdated;
      continue;
    }
    auto range = std::equal_range(base.begin(), base.end(), c, EntryLess);
    if (c.correctionAdd) {
      if (range.first != range.second) {
        ++tally->additionsPresent;
      } else {
        additions.push_back(c);
        ++tally->additions;
      }
      continue;
    }
    if (range.first == range.second) {
      ++tally->removalsUnmatched;
      continue;
    }
    ++tally->removals;
    for (auto it = range.first; it != range.second; ++it) {
      size_t i = static_cast<size_t>(it - base.begin());
      if (!removed[i]) ++tally->listingsRemoved;
      removed[i] = 1;
    }
  }

  out->clear();
  out->reserve(base.size() + additions.size());
  for (size_t i = 0; i < base.size(); ++i) {
    if (!removed[i]) out->push_back(base[i]);
  }
  for (Listing& a : additions) {
    a.correctionAdd = true;
    a.correctionVersion = 0;
    out->push_back(std::move(a));
  }
  std::stable_sort(out->begin(), out->end(), EntryLess);
}

bool BenchData_GlobPattern(std::string_view cp932, std::string* out) {
  std::string utf8;
  if (!Cp932_ToUtf8(cp932, &utf8)) return false;
  out->clear();
  const std::string_view wideAsterisk = "\xEF\xBC\x8A", wideQuestion = "\xEF\xBC\x9F";
  for (size_t i = 0; i < utf8.size();) {
    std::string_view rest = std::string_view(utf8).substr(i);
    if (rest.substr(0, 3) == wideAsterisk) {
      out->push_back('*');
      i += 3;
    } else if (rest.substr(0, 3) == wideQuestion) {
      out->push_back('?');
      i += 3;
    } else {
      out->push_back(utf8[i++]);
    }
  }
  return true;
}

std::string BenchData_Surname(std::string_view name) {
  for (size_t i = 0; i < name.size(); i += CharLength(name, i)) {
    if (name.substr(i, 2) == "\x81\x40") return std::string(name.substr(0, i));
  }
  return "";
}

void BenchData_ZipfDraws(size_t n, uint32_t draws, double s, uint64_t seed,
                         std::vector<uint32_t>* out) {
  out->clear();
  if (n == 0) return;
  std::vector<double> cumulative(n);
  double total = 0;
  for (size_t k = 0; k < n; ++k) cumulative[k] = total += std::pow(static_cast<double>(k + 1), -s);
  Rng rng{seed};
  for (uint32_t i = 0; i < draws; ++i) {
    const double u = static_cast<double>(rng.Next() >> 11) * 0x1p-53 * total;
    size_t k = static_cast<size_t>(std::upper_bound(cumulative.begin(), cumulative.end(), u) -
                                   cumulative.begin());
    out->push_back(static_cast<uint32_t>(std::min(k, n - 1)));
  }
}

void BenchData_LargestRegion(const std::vector<Listing>& listings, uint32_t* region,
                             uint32_t* count) {
  std::map<uint32_t, uint32_t> counts;
  for (const Listing& l : listings) ++counts[l.regionCode];
  *region = 0;
  *count = 0;
  for (const auto& [code, n] : counts) {
    if (n > *count) {
      *region = code;
      *count = n;
    }
  }
}

void BenchData_MakeQueries(const std::vector<Listing>& listings, const QueryPlan& plan,
                           std::vector<BenchQuery>* out) {
  out->clear();
  if (listings.empty()) return;
  Rng rng{plan.seed};
  std::unordered_set<uint32_t> numbers;
  for (const Listing& l : listings) numbers.insert(l.number);
  for (uint32_t i = 0; i < plan.numberQueries; ++i) {
    BenchQuery hit;
    hit.workload = "number-hit";
    hit.digits = Listing_NumberText(listings[rng.Below(listings.size())].number);
    out->push_back(hit);
    BenchQuery miss;
    miss.workload = "number-miss";
    uint32_t v = 0;
    do {
      uint32_t from = listings[rng.Below(listings.size())].number;
      v = from - from % 10000 + rng.Below(10000);
    } while (numbers.count(v) != 0);
    miss.digits = Listing_NumberText(v);
    out->push_back(miss);
  }

  // Kind-1 listings with a surname, of the largest region and of all regions; the address
  // variants need an address text 1 that fits the request's 80 bytes.
  uint32_t largest = 0, largestCount = 0;
  BenchData_LargestRegion(listings, &largest, &largestCount);
  std::vector<const Listing*> inRegion, withAddress, anywhere;
  for (const Listing& l : listings) {
    if (l.kind != 1 || BenchData_Surname(l.name).empty()) continue;
    anywhere.push_back(&l);
    if (l.regionCode != largest) continue;
    inRegion.push_back(&l);
    if (!l.address1.empty() && l.address1.size() <= 80) withAddress.push_back(&l);
  }
  if (inRegion.empty()) return;
  if (withAddress.empty()) withAddress = inRegion;
  auto pick = [&](const std::vector<const Listing*>& from) -> const Listing& {
    return *from[rng.Below(from.size())];
  };
  auto prefix = [](const Listing& l) { return BenchData_Surname(l.name) + kWideAsterisk; };
  auto ending = [](const Listing& l) { return kWideAsterisk + LastChar(l.name); };
  for (uint32_t i = 0; i < plan.nameQueries; ++i) {
    const Listing& a = pick(inRegion);
    out->push_back(NameQuery("name-prefix", a, prefix(a), false));
    const Listing& b = pick(inRegion);
    out->push_back(NameQuery("name-contains", b, ending(b), false));
    const Listing& c = pick(withAddress);
    out->push_back(NameQuery("name-prefix-addr1", c, prefix(c), true));
    const Listing& d = pick(withAddress);
    out->push_back(NameQuery("name-contains-addr1", d, ending(d), true));
    const Listing& e = pick(anywhere);
    out->push_back(NameQuery("name-prefix-any-region", e, prefix(e), false));
  }
}
