// Engines opened directly, side by side in one process: each answers from its own set, with
// its own cache, and closing one leaves the others (and the open set of Qor_Open) as they were.
#include "engine/engine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "qor3.h"
#include "support/search_session.h"
#include "support/test_dicts.h"

namespace {

TEST(Engine, TwoEnginesSideBySideAnswerIndependently) {
  TempDir a, b;
  WriteTestDict(a.path(), {TestEntry("0312345678", "山田　太郎")});
  WriteTestDict(b.path(),
                {TestEntry("0312345678", "鈴木　花子"), TestEntry("0312345679", "鈴木　一郎")});
  EngineOptions uncached;
  uncached.cacheBudget = 0;
  OwnEngine first = OpenEngine(a.path(), "", "", uncached);
  OwnEngine second = OpenEngine(b.path(), "", "");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  // The open set of the exported functions, over the first directory, beside them.
  OpenRequest request{};
  request.directory1Length = static_cast<uint32_t>(a.path().size());
  a.path().copy(request.directory1, a.path().size());
  OpenResult result;
  void* handle = Qor_Open(&request, &result);
  ASSERT_NE(handle, nullptr);

  EXPECT_EQ(Names(Search(first.get(), NumberRequest("0312345678"))),
            (std::vector<std::string>{"山田　太郎"}));
  EXPECT_EQ(Names(Search(second.get(), NumberRequest("0312345678"))),
            (std::vector<std::string>{"鈴木　花子"}));
  EXPECT_EQ(Names(Search(second.get(), NameRequest(13101, "鈴木*"))).size(), 2u);
  EXPECT_TRUE(Names(Search(first.get(), NameRequest(13101, "鈴木*"))).empty());
  EngineCacheStats stats;
  EngineCache_Stats(&first->cache, &stats);
  EXPECT_EQ(stats.peakBytes, 0u);  // its budget is 0
  EngineCache_Stats(&second->cache, &stats);
  EXPECT_GT(stats.peakBytes, 0u);

  first.reset();  // closed and freed
  EXPECT_EQ(Names(Search(second.get(), NumberRequest("0312345679"))),
            (std::vector<std::string>{"鈴木　一郎"}));
  EXPECT_EQ(Names(Search(handle, NumberRequest("0312345678"))),
            (std::vector<std::string>{"山田　太郎"}));
  EXPECT_EQ(Qor_Close(handle, &result), 0);
  EXPECT_EQ(Names(Search(second.get(), NumberRequest("0312345678"))),
            (std::vector<std::string>{"鈴木　花子"}));
}

#if defined(__linux__)
long OpenDescriptors() {
  long n = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++n;
  }
  return n;
}

// Where the watch tells of replacements, the cache keeps the files it read open, within its
// limit, and closes them with the engine.
TEST(Engine, KeepsFilesOpenWithinItsLimitAndClosesThemWithTheCache) {
  TempDir a;
  const char* numbers[] = {"0312345678", "0422123456", "0611112222"};
  for (uint32_t i = 0; i < 3; ++i) {
    WriteTestDict(a.path(), {TestEntry(numbers[i], "山田　太郎")}, DictOptions(101 + i, 20240101));
  }
  const long before = OpenDescriptors();
  OwnEngine engine = OpenEngine(a.path(), "", "");
  ASSERT_NE(engine, nullptr);
  ASSERT_GT(engine->cache.keptFileLimit, 0u);
  engine->cache.keptFileLimit = 2;
  const long opened = OpenDescriptors();
  for (int round = 0; round < 2; ++round) {
    for (const char* number : numbers) {
      EXPECT_EQ(Names(Search(engine.get(), NumberRequest(number))),
                (std::vector<std::string>{"山田　太郎"}));
    }
  }
  EXPECT_EQ(OpenDescriptors(), opened + 2);
  engine.reset();
  EXPECT_EQ(OpenDescriptors(), before);
}
#endif

// A kept file that no longer gives a block its tables name (rewritten in place where no change
// is told) is opened by its name: the search answers from the file as it is now.
TEST(Engine, AKeptFileThatNoLongerGivesItsBlocksIsOpenedAgainByName) {
  TempDir a;
  std::vector<TestListing> listings;
  for (int i = 0; i < 40; ++i) {
    listings.push_back(TestEntry("03123456" + std::to_string(10 + i), "山田　太郎"));
  }
  WriteTestDict(a.path(), listings, DictOptions(101, 20240101, 1));
  EngineOptions options;
  options.ignoreWatch = true;
  OwnEngine engine = OpenEngine(a.path(), "", "", options);
  ASSERT_NE(engine, nullptr);
  EXPECT_EQ(engine->cache.keptFileLimit, 0u) << "nothing tells of replacements";
  engine->cache.keptFileLimit = 4;  // as if it did
  EXPECT_EQ(Names(Search(engine.get(), NumberRequest("0312345610"))),
            (std::vector<std::string>{"山田　太郎"}));
  std::vector<uint8_t> image;
  std::string error;
  ASSERT_TRUE(BuildTestDict({TestEntry("0312345649", "鈴木　花子")}, DictOptions(101, 20240101),
                            &image, &error))
      << error;
  a.Write("qor0101.dct", std::string(image.begin(), image.end()));  // shorter, same file
  EXPECT_EQ(Names(Search(engine.get(), NumberRequest("0312345649"))),
            (std::vector<std::string>{"鈴木　花子"}));
}

}  // namespace
