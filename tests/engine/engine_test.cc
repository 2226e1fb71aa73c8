// Engines opened directly, side by side in one process: each answers from its own set, with
// its own cache, and closing one leaves the others (and the open set of Qor_Open) as they were.
#include "engine/engine.h"

#include <gtest/gtest.h>

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

}  // namespace
