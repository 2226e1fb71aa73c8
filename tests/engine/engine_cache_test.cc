// The engine cache changes no answer: thousands of random requests on the bundled sample set,
// with and without its correction file, answered byte for byte alike with the cache off (a
// number search then decodes only its key's entries), cold, warm, under a budget that holds
// the files' tables but not their entry blocks (most blocks are then decoded for one search,
// the others admitted on a second miss), and under one so small that it evicts all the time.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "qor3.h"
#include "support/search_session.h"
#include "support/test_dicts.h"

namespace {

struct Listing {
  uint32_t region;
  std::string number;  // digits
  std::vector<std::string> name, address1, address2;  // UTF-8 characters
};

std::vector<std::string> Characters(const std::string& utf8) {
  std::vector<std::string> out;
  for (size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    const size_t n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    out.push_back(utf8.substr(i, n));
    i += n;
  }
  return out;
}

std::string Join(const std::vector<std::string>& chars, size_t from, size_t to) {
  std::string s;
  for (size_t i = from; i < to && i < chars.size(); ++i) s += chars[i];
  return s;
}

// The sample set's directory: QOR3_SAMPLE_DIR from the environment (the wine run sets it to
// the native build's), else the build's own.
std::string SampleDir() {
  const char* env = std::getenv("QOR3_SAMPLE_DIR");
  std::string dir = env != nullptr ? env : QOR3_SAMPLE_DIR;
  if (!dir.empty() && dir.back() != '/' && dir.back() != '\\') dir += '/';
  return dir;
}

std::vector<Listing> ReadListings(const std::string& sample) {
  std::vector<Listing> listings;
  for (const char* file : {"qor0101", "qor1301", "qor1402", "qor2701"}) {
    std::ifstream in(sample + "tsv/" + file + ".tsv");
    std::string line;
    std::getline(in, line);  // the column names
    while (std::getline(in, line)) {
      std::vector<std::string> f;
      std::stringstream fields(line);
      for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
      if (f.size() < 9) continue;
      listings.push_back(Listing{static_cast<uint32_t>(std::stoul(f[1])), f[2],
                                 Characters(f[4]), Characters(f[7]), Characters(f[8])});
    }
  }
  return listings;
}

// Requests of every kind the searches take, drawn from the listings.
std::vector<SearchRequest> MakeRequests(const std::vector<Listing>& listings, size_t count) {
  std::mt19937 random(15);
  auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
  std::vector<SearchRequest> requests;
  while (requests.size() < count) {
    const Listing& l = listings[pick(listings.size())];
    const size_t what = pick(20);
    if (what < 8) {
      std::string key = l.number;
      if (what >= 5) {
        // Absent, most likely: the last four digits redrawn.
        for (size_t i = key.size() - 4; i < key.size(); ++i) key[i] = '0' + pick(10);
      }
      if (what == 7) key.insert(key.size() - 4, "-");
      if (what == 6 && key.size() == 10) key.erase(0, 1);  // nine digits
      requests.push_back(NumberRequest(key));
      continue;
    }
    const size_t n = l.name.size();
    std::string pattern;
    switch (pick(6)) {
      case 0:
      case 1:
        pattern = Join(l.name, 0, 1 + pick(3)) + (pick(2) ? "*" : "＊");
        break;
      case 2:
        pattern = "*" + Join(l.name, n - 1 - pick(n > 1 ? 2 : 1), n);
        break;
      case 3:
        pattern = Join(l.name, 0, 1) + "?" + (pick(2) ? "*" : "");
        break;
      case 4:
        pattern = Join(l.name, 0, n);
        break;
      default:
        pattern = "*" + Join(l.name, n / 2, n / 2 + 1) + "*";
        break;
    }
    const uint32_t kinds[] = {3, 3, 3, 1, 2, 0};
    std::string address1, address2;
    if (pick(3) == 0) address1 = Join(l.address1, 0, 1 + pick(3));
    if (pick(8) == 0) address2 = Join(l.address2, 0, 1 + pick(4));
    const uint32_t region = pick(10) == 0 ? listings[pick(listings.size())].region : l.region;
    requests.push_back(NameRequest(region, pattern, kinds[pick(6)], address1, address2));
  }
  return requests;
}

// Every answer as bytes: the fields of every result in order.
std::vector<std::string> Answers(void* handle, const std::vector<SearchRequest>& requests) {
  std::vector<std::string> answers;
  for (SearchRequest request : requests) {
    EXPECT_EQ(Qor_Search(handle, &request), 0);
    std::string a = std::to_string(request.resultCount);
    for (uint32_t i = 0; i < request.resultCount; ++i) {
      const SearchResult* r = request.results[i];
      a += '|' + std::to_string(r->entryKind) + ',' + std::to_string(r->regionCode);
      for (const auto& [text, length] :
           {std::pair{r->number, r->numberLength}, {r->postalCode, r->postalCodeLength},
            {r->name, r->nameLength}, {r->regionName1, r->regionName1Length},
            {r->regionName2, r->regionName2Length}, {r->address1, r->address1Length},
            {r->address2, r->address2Length}}) {
        a += ',' + std::string(text, length);
      }
    }
    answers.push_back(a);
    Qor_MemRelease(&request);
  }
  return answers;
}

class EngineCacheTest : public ::testing::TestWithParam<bool> {};

// Engines side by side over the same set, each with a budget of its own: off, the default,
// one that keeps what finds the entries but few of them, and one that evicts all the time.
TEST_P(EngineCacheTest, AnswersAreTheSameWithTheCacheOffColdWarmAndEvicting) {
  const std::string sample = SampleDir();
  const std::vector<Listing> listings = ReadListings(sample);
  if (listings.empty()) GTEST_SKIP() << "no sample set at " << sample;
  const bool corrections = GetParam();
  const std::string dict = sample + "dict/", fix = corrections ? sample + "corrections/" : "";
  auto open = [&](uint64_t budget) {
    EngineOptions options;
    options.cacheBudget = budget;
    return OpenEngine(dict, "", fix, options);
  };
  const OwnEngine off = open(0);
  ASSERT_NE(off, nullptr);
  ASSERT_EQ(off->tables->correctionFilePresent, corrections ? 1u : 0u);
  const std::vector<SearchRequest> requests = MakeRequests(listings, 3000);

  const std::vector<std::string> expected = Answers(off.get(), requests);
  size_t found = 0;
  for (const std::string& a : expected) found += a[0] != '0';
  EXPECT_GT(found, requests.size() / 3);  // the requests find things
  EngineCacheStats stats;
  EngineCache_Stats(&off->cache, &stats);
  EXPECT_EQ(stats.hits + stats.peakBytes, 0u);

  for (uint64_t budget : {kEngineCacheBudget, uint64_t{384} << 10, uint64_t{96} << 10}) {
    const OwnEngine engine = open(budget);
    ASSERT_NE(engine, nullptr);
    for (const char* pass : {"cold", "warm"}) {
      const std::vector<std::string> answers = Answers(engine.get(), requests);
      ASSERT_EQ(answers.size(), expected.size());
      for (size_t i = 0; i < answers.size(); ++i) {
        ASSERT_EQ(answers[i], expected[i]) << pass << " pass, budget " << budget << ", request "
                                           << i;
      }
    }
    EngineCache_Stats(&engine->cache, &stats);
    EXPECT_LE(stats.bytes, budget);
    EXPECT_EQ(stats.budget, budget);
    if (budget == kEngineCacheBudget) {
      EXPECT_GT(stats.hits, stats.lookups / 2);
      EXPECT_EQ(stats.refusals, 0u);
    } else {
      EXPECT_GT(stats.evictions, 0u);
      EXPECT_GT(stats.refusals, 0u);
    }
  }
  // Name searches alone refuse blocks to a full cache too, and answer the same.
  std::vector<SearchRequest> names;
  std::vector<std::string> nameAnswers;
  for (size_t i = 0; i < requests.size(); ++i) {
    if (requests[i].mode == 1) {  // a name search
      names.push_back(requests[i]);
      nameAnswers.push_back(expected[i]);
    }
  }
  const OwnEngine small = open(uint64_t{384} << 10);
  ASSERT_NE(small, nullptr);
  EXPECT_EQ(Answers(small.get(), names), nameAnswers);
  EngineCache_Stats(&small->cache, &stats);
  EXPECT_GT(stats.refusals, 0u);
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutCorrections, EngineCacheTest, ::testing::Bool());

}  // namespace
