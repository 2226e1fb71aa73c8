// Sorted row index: comb sort order, missing keys, stability, kinds, and the row cursor.
#include "base/row_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

struct Table {
  RowList list;
  RowIndex index;
  Table() {
    RowList_Init(&list);
    RowIndex_Clear(&index);
  }
  ~Table() {
    RowIndex_Free(&index);
    RowList_Free(&list);
  }
  void Add(std::vector<std::string> row) {
    std::vector<const char*> f;
    for (auto& s : row) f.push_back(s.c_str());
    ASSERT_EQ(RowList_Append(&list, f.data(), static_cast<uint16_t>(f.size())), 0);
  }
  std::vector<std::string> Sorted(std::vector<KeySpec> keys) {
    EXPECT_EQ(RowIndex_Build(&list, &index, keys.data(), static_cast<uint16_t>(keys.size())), 0);
    RowIndex_Sort(&index);
    RowIndex_Rewind(&index);
    std::vector<std::string> out;
    char* f[16];
    uint16_t n;
    while (RowIndex_Next(&index, f, &n, 16) == 0) {
      std::string joined;
      for (uint16_t i = 0; i < n; ++i) joined += (i ? "," : "") + std::string(f[i]);
      out.push_back(joined);
    }
    return out;
  }
};

constexpr KeySpec Asc(uint16_t c) { return {c, 1, 1}; }
constexpr KeySpec Desc(uint16_t c) { return {c, 2, 1}; }

TEST(RowIndex, SortsByKeysInTurnWithDirections) {
  Table t;
  t.Add({"b", "0"});
  t.Add({"a", "1"});
  t.Add({"a", "2"});
  EXPECT_EQ(t.Sorted({Asc(1), Desc(2)}), (std::vector<std::string>{"a,2", "a,1", "b,0"}));
}

TEST(RowIndex, RowsLackingAKeyComeLastInEitherDirectionInAppendOrder) {
  for (uint16_t dir : {1, 2}) {
    Table t;
    t.Add({"x"});
    t.Add({"y", "5"});
    t.Add({"z"});
    t.Add({"w", "7"});
    auto out = t.Sorted({KeySpec{2, dir, 1}});
    if (dir == 1) {
      EXPECT_EQ(out, (std::vector<std::string>{"y,5", "w,7", "x", "z"}));
    } else {
      EXPECT_EQ(out, (std::vector<std::string>{"w,7", "y,5", "x", "z"}));
    }
  }
}

TEST(RowIndex, EqualRowsKeepAppendOrderForEveryListSize) {
  // Sizes around the gap rule (9 and 10 become 11) and larger random lists.
  std::mt19937 rng(7);
  for (int size : {2, 3, 11, 12, 13, 14, 15, 100, 1000}) {
    Table t;
    std::vector<std::pair<std::string, int>> expect;
    for (int i = 0; i < size; ++i) {
      std::string key = std::to_string(rng() % 5);
      t.Add({key, std::to_string(i)});
      expect.push_back({key, i});
    }
    std::stable_sort(expect.begin(), expect.end(),
                     [](auto& a, auto& b) { return a.first < b.first; });
    auto out = t.Sorted({Asc(1)});
    ASSERT_EQ(out.size(), expect.size());
    for (size_t i = 0; i < out.size(); ++i) {
      ASSERT_EQ(out[i], expect[i].first + "," + std::to_string(expect[i].second))
          << "size " << size << " position " << i;
    }
  }
}

TEST(RowIndex, TextKindVersusNumberKindAndHighBytes) {
  Table t;
  t.Add({"9"});
  t.Add({"10"});
  t.Add({"\x88\x9f"});  // a Shift-JIS lead byte sorts after ASCII
  t.Add({"A"});
  EXPECT_EQ(t.Sorted({Asc(1)}), (std::vector<std::string>{"10", "9", "A", "\x88\x9f"}));
  Table n;
  n.Add({"10"});
  n.Add({"9"});
  EXPECT_EQ(n.Sorted({KeySpec{1, 1, 2}}), (std::vector<std::string>{"9", "10"}));
}

TEST(RowIndex, TwoKeysOnOneColumnLetTheLaterWin) {
  Table t;
  t.Add({"b", "1"});
  t.Add({"a", "2"});
  // Both keys name column 1: the first key sees every row as missing it, and two missing
  // fields decide by row number without looking at later keys.
  EXPECT_EQ(t.Sorted({Desc(1), Asc(1)}), (std::vector<std::string>{"b,1", "a,2"}));
  RowIndex_Free(&t.index);
  EXPECT_EQ(t.Sorted({Asc(2), Desc(1)}), (std::vector<std::string>{"b,1", "a,2"}));
}

TEST(RowIndex, CursorPassesAndTheListCursor) {
  Table t;
  EXPECT_EQ(t.Sorted({Asc(1)}), std::vector<std::string>{});
  RowIndex_Free(&t.index);
  t.Add({"2"});
  t.Add({"1"});
  auto first = t.Sorted({Asc(1)});
  EXPECT_EQ(first, (std::vector<std::string>{"1", "2"}));
  // Building leaves the list cursor at the end until rewound.
  char* f[2];
  uint16_t n;
  EXPECT_EQ(RowList_Next(&t.list, f, &n, 2), -1);
  ASSERT_EQ(RowList_Rewind(&t.list), 0);
  ASSERT_EQ(RowList_Next(&t.list, f, &n, 2), 0);
  char* g[2];
  RowIndex_Rewind(&t.index);
  RowIndex_Next(&t.index, g, &n, 2);  // sorted first is "1", appended second
  RowIndex_Next(&t.index, g, &n, 2);  // "2", the row RowList_Next gave first
  EXPECT_EQ(g[0], f[0]) << "cursor and list hand out the same stored field";
  EXPECT_EQ(RowIndex_Next(&t.index, g, &n, 2), -1);
}

}  // namespace
