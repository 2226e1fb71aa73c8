// Host threads calling the exported functions at once on one open set: every search answers
// exactly what the same search answers alone, and opens and copies may run beside them.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/search_session.h"
#include "support/test_dicts.h"

namespace {

constexpr uint32_t kEdition = 20100000;  // stamp 1000
const char* const kSurnames[] = {"山田", "佐藤", "鈴木", "高橋", "田中", "伊藤"};
const char* const kGiven[] = {"太郎", "花子", "一郎", "次郎"};

TestListing Listing(uint32_t i, uint32_t region) {
  TestListing l;
  l.kind = i % 5 == 0 ? 2 : 1;
  l.regionCode = region;
  l.number = "03" + std::to_string(12340000 + i * 7 % 5000);  // numbers repeat
  l.name = l.kind == 2 ? std::string(kSurnames[i % 6]) + "商店" + std::to_string(i)
                       : std::string(kSurnames[i % 6]) + "　" + kGiven[i % 4];
  l.regionName1 = "東京都";
  l.regionName2 = region == 13101 ? "千代田区" : "中央区";
  l.address1 = i % 3 == 0 ? "丸の内" : "大手町";
  l.address2 = std::to_string(i % 9 + 1) + "-1";
  l.version = 1000;
  return l;
}

// One result list as text, to compare answers whole.
std::string Answer(void* handle, SearchRequest request) {
  Qor_Search(handle, &request);
  std::string out = std::to_string(request.resultCount);
  for (uint32_t i = 0; i < request.resultCount; ++i) {
    const SearchResult* r = request.results[i];
    out += '|' + std::to_string(r->entryKind) + ',' + std::to_string(r->regionCode) + ',' +
           r->number + ',' + r->name + ',' + r->address1 + ',' + r->address2 + ',' + r->postalCode +
           ',' + r->regionName1 + ',' + r->regionName2;
  }
  Qor_MemRelease(&request);
  return out;
}

class ThreadsTest : public SearchTest {
 protected:
  void SetUp() override {
    std::vector<TestListing> b, corrections;
    for (uint32_t i = 0; i < 400; ++i) a_.push_back(Listing(i, 13101));
    for (uint32_t i = 400; i < 700; ++i) b.push_back(Listing(i, 13102));
    for (uint32_t i = 0; i < 40; i += 3) {
      TestListing l = Listing(i, 13101);
      l.add = i % 2 == 0;
      if (l.add) l.name += "新";
      corrections.push_back(l);
    }
    TestDictOptions o;
    o.edition1 = kEdition;
    o.maxEntriesPerBlock = 16;
    o.number = 101;
    options101_ = o;
    WriteTestDict(d1_.path(), a_, o);
    o.number = 102;
    WriteTestDict(d2_.path(), b, o);
    TestDictOptions c;
    c.correction = true;
    c.maxEntriesPerBlock = 8;
    WriteTestDict(d3_.path(), corrections, c);
    Open();
    // Numbers listed (multiples of 7 below 4900), and every fourth one absent.
    for (uint32_t i = 0; i < 60; ++i) {
      const uint32_t offset = i % 4 == 3 ? i * 7 + 3 : i * 21 % 4893;
      requests_.push_back(NumberRequest("03" + std::to_string(12340000 + offset)));
    }
    for (const char* surname : kSurnames) {
      requests_.push_back(NameRequest(13101, std::string(surname) + "*"));
      requests_.push_back(NameRequest(13102, std::string("*") + surname + "*", 3, "大手町"));
      requests_.push_back(NameRequest(13101, std::string(surname) + "商店*", 2));
    }
    requests_.push_back(NameRequest(13101, "*郎"));
    for (const SearchRequest& r : requests_) expected_.push_back(Answer(handle_, r));
  }

  std::vector<TestListing> a_;  // dictionary 101
  TestDictOptions options101_;
  std::vector<SearchRequest> requests_;
  std::vector<std::string> expected_;
};

TEST_F(ThreadsTest, SearchesFromFourThreadsAnswerAsSerialSearchesDo) {
  size_t found = 0;
  for (const std::string& e : expected_) found += e[0] != '0';
  ASSERT_GT(found, requests_.size() / 2) << "the requests should mostly find listings";

  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 5; ++round) {
        for (size_t k = 0; k < requests_.size(); ++k) {
          const size_t i = (k * 7 + static_cast<size_t>(t) * 13 + static_cast<size_t>(round)) %
                           requests_.size();
          if (Answer(handle_, requests_[i]) != expected_[i]) ++mismatches;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches.load(), 0);
}

// A second open and a copy run beside searches: each takes the engine alone, so every search
// sees the engine whole, before or after, and answers as alone (the files do not change).
TEST_F(ThreadsTest, OpensAndCopiesBesideSearchesLeaveTheAnswersWhole) {
  TempDir spare;
  std::atomic<bool> stop{false};
  std::atomic<int> mismatches{0};
  std::vector<std::thread> searchers;
  for (int t = 0; t < 2; ++t) {
    searchers.emplace_back([&, t] {
      for (size_t k = static_cast<size_t>(t); !stop.load(); k += 3) {
        const size_t i = k % requests_.size();
        if (Answer(handle_, requests_[i]) != expected_[i]) ++mismatches;
      }
    });
  }
  OpenRequest request{};
  const std::string dir1 = d1_.path(), dir2 = d2_.path(), dir3 = d3_.path();
  std::memcpy(request.directory1, dir1.data(), dir1.size());
  request.directory1Length = static_cast<uint32_t>(dir1.size());
  std::memcpy(request.directory2, dir2.data(), dir2.size());
  request.directory2Length = static_cast<uint32_t>(dir2.size());
  std::memcpy(request.correctionDirectory, dir3.data(), dir3.size());
  request.correctionDirectoryLength = static_cast<uint32_t>(dir3.size());
  const int32_t numbers[] = {101};
  for (int i = 0; i < 10; ++i) {
    OpenResult result{};
    ASSERT_EQ(Qor_Open(&request, &result), handle_);
    Qor_Close(nullptr, &result);  // releases the region records only
    const std::string to = spare.path();
    EXPECT_EQ(Qor_CopyDic(dir1.data(), static_cast<int32_t>(dir1.size()), to.data(),
                          static_cast<int32_t>(to.size()), numbers, 1),
              1);
  }
  stop = true;
  for (std::thread& thread : searchers) thread.join();
  EXPECT_EQ(mismatches.load(), 0);
}

// Dictionary 101 changes four times under two searching threads, by rename (as another
// process installs a file) and by Qor_CopyDic, between its first files (A) and others (B). A
// search answers as A or B whole, whichever its time allows: one that starts after a change
// finished and ends before the next begins answers that change's files, never the earlier.
TEST_F(ThreadsTest, SearchesBesideFileReplacementsAnswerTheOldOrTheNewFilesWhole) {
  std::vector<TestListing> changed = a_;
  for (size_t i = 0; i < changed.size(); i += 2) changed[i].name += "改";
  TempDir sourceA, sourceB;
  WriteTestDict(sourceA.path(), a_, options101_);
  WriteTestDict(sourceB.path(), changed, options101_);
  std::vector<std::string> expectedB;
  {
    OwnEngine b = OpenEngine(sourceB.path(), d2_.path(), d3_.path());
    ASSERT_NE(b, nullptr);
    for (const SearchRequest& r : requests_) expectedB.push_back(Answer(b.get(), r));
  }
  size_t differing = 0;
  for (size_t i = 0; i < requests_.size(); ++i) differing += expected_[i] != expectedB[i];
  ASSERT_GT(differing, requests_.size() / 3) << "most answers should tell A from B";

  // Change k (1..4) makes the files B when k is odd, A when even; begun counts the changes
  // started, done those finished.
  std::atomic<int> begun{0}, done{0};
  std::atomic<bool> stop{false};
  std::atomic<int> mixed{0}, early{0};
  std::atomic<long> completed[2] = {0, 0};
  std::vector<std::thread> searchers;
  for (int t = 0; t < 2; ++t) {
    searchers.emplace_back([&, t] {
      for (size_t k = static_cast<size_t>(t) * 5; !stop.load(); ++k) {
        const size_t i = k % requests_.size();
        const int from = done.load();
        const std::string answer = Answer(handle_, requests_[i]);
        const int to = begun.load();
        const bool isA = answer == expected_[i], isB = answer == expectedB[i];
        if (!isA && !isB) ++mixed;
        // The files the changes from..to left: A after an even count of changes, B after odd.
        const bool mayA = from % 2 == 0 || to > from, mayB = from % 2 == 1 || to > from;
        if ((isA && !isB && !mayA) || (isB && !isA && !mayB)) ++early;
        ++completed[t];
      }
    });
  }
  // Each searcher answers some searches of the files as they are before a change (or the end).
  auto letSearch = [&] {
    const long seen[2] = {completed[0].load(), completed[1].load()};
    while (completed[0].load() < seen[0] + 20 || completed[1].load() < seen[1] + 20) {
      std::this_thread::yield();
    }
  };
  const std::string to = d1_.path();
  const int32_t numbers[] = {101};
  bool changing = true;
  for (int k = 1; k <= 4 && changing; ++k) {
    letSearch();
    const std::string source = (k % 2 == 1 ? sourceB : sourceA).path();
    ++begun;
    if (k == 1 || k == 4) {
      std::error_code error;
      std::filesystem::copy_file(source + "qor0101.dct", to + "new.tmp", error);
      if (!error) std::filesystem::rename(to + "new.tmp", to + "qor0101.dct", error);
      EXPECT_FALSE(error) << error.message();
      changing = !error;
    } else {
      changing = Qor_CopyDic(source.data(), static_cast<int32_t>(source.size()), to.data(),
                             static_cast<int32_t>(to.size()), numbers, 1) == 1;
      EXPECT_TRUE(changing);
    }
    ++done;
  }
  letSearch();
  stop = true;
  for (std::thread& thread : searchers) thread.join();
  ASSERT_TRUE(changing);
  EXPECT_EQ(mixed.load(), 0);
  EXPECT_EQ(early.load(), 0);
  for (size_t i = 0; i < requests_.size(); ++i) {
    EXPECT_EQ(Answer(handle_, requests_[i]), expected_[i]);
  }
}

}  // namespace
