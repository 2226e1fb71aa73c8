// Entry order and the merge of correction additions and deletions into a stream of entries.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dict/dict_entry.h"
#include "search/correction_merge.h"
#include "search/result_builder.h"

namespace {

template <size_t N>
void Set(char (&field)[N], const std::string& text) {
  ASSERT_LT(text.size(), N);
  std::memcpy(field, text.c_str(), text.size() + 1);
}

// An entry of region 13101 whose name tells it apart; the other fields as given.
DictEntry Make(const std::string& name, const std::string& address1 = "A",
               const std::string& address2 = "", const std::string& region = "13101",
               const std::string& number = "0312345678", const std::string& kind = "1") {
  DictEntry e;
  std::memset(&e, 0, sizeof e);
  DictEntry_Reset(&e);
  Set(e.regionCodeText, region);
  Set(e.address1, address1);
  Set(e.address2, address2);
  Set(e.name, name);
  Set(e.numberText, number);
  Set(e.kindText, kind);
  Set(e.postalText, "100-0001");
  return e;
}

TEST(DictEntryCompare, FieldsDecideInEntryOrder) {
  const DictEntry base = Make("N", "B", "B", "13101", "0312345678", "1");
  EXPECT_EQ(DictEntry_Compare(&base, &base), 0);
  // Each later field loses against an earlier one that differs the other way.
  const DictEntry lowerRegion = Make("Z", "Z", "Z", "13100", "0999999999", "2");
  const DictEntry lowerAddress1 = Make("Z", "A", "Z", "13101", "0999999999", "2");
  const DictEntry lowerAddress2 = Make("Z", "B", "A", "13101", "0999999999", "2");
  const DictEntry lowerName = Make("M", "B", "B", "13101", "0999999999", "2");
  const DictEntry lowerNumber = Make("N", "B", "B", "13101", "0312345677", "2");
  const DictEntry lowerKind = Make("N", "B", "B", "13101", "0312345678", "0");
  for (const DictEntry* lower :
       {&lowerRegion, &lowerAddress1, &lowerAddress2, &lowerName, &lowerNumber, &lowerKind}) {
    EXPECT_EQ(DictEntry_Compare(lower, &base), -1);
    EXPECT_EQ(DictEntry_Compare(&base, lower), 1);
  }
  // The postal code and region names take no part.
  DictEntry other = base;
  Set(other.postalText, "999-9999");
  Set(other.regionName1, "X");
  EXPECT_EQ(DictEntry_Compare(&other, &base), 0);
}

TEST(DictEntryCompare, BytesCompareUnsignedAndAHeadSortsFirst) {
  const DictEntry high = Make("\x88\x9f");  // a two-byte character
  const DictEntry ascii = Make("z");
  EXPECT_EQ(DictEntry_Compare(&high, &ascii), 1);
  EXPECT_EQ(DictEntry_Compare(&ascii, &high), -1);
  const DictEntry head = Make("\x88\x9f");
  const DictEntry longer = Make("\x88\x9f\x88\xa0");
  EXPECT_EQ(DictEntry_Compare(&head, &longer), -1);
  EXPECT_EQ(DictEntry_Compare(&longer, &head), 1);
  const DictEntry nineDigits = Make("N", "A", "", "13101", "031234567");
  const DictEntry tenDigits = Make("N", "A", "", "13101", "0312345670");
  EXPECT_EQ(DictEntry_Compare(&nineDigits, &tenDigits), -1);
}

// A correction context with the given additions and deletions, through which entries are
// merged as the drivers merge them.
class CorrectionMergeTest : public ::testing::Test {
 protected:
  CorrectionMergeTest() : c_(new CorrectionMerge()) {
    CorrectionMerge_Init(c_.get());
    RowList_Init(&out_);
  }
  ~CorrectionMergeTest() override {
    RowList_Free(&out_);
    CorrectionMerge_Free(c_.get());
  }
  void Lists(const std::vector<DictEntry>& additions, const std::vector<DictEntry>& deletions) {
    for (const DictEntry& e : additions) ASSERT_EQ(ResultRow_Append(&c_->additions, &e), 0);
    for (const DictEntry& e : deletions) ASSERT_EQ(ResultRow_Append(&c_->deletions, &e), 0);
    Correction_Start(c_.get());
  }
  // Offers one entry: the names emitted for it (additions first), "-" when it is dropped.
  void Offer(const DictEntry& e) {
    for (int steps = 0; steps < 100; ++steps) {
      const int r = Correction_MergeStep(&e, c_.get());
      if (r == 0) {
        ASSERT_EQ(ResultRow_Append(&out_, &c_->output), 0);
        continue;
      }
      ASSERT_TRUE(r == 1 || r == -1) << r;
      if (r == 1) {
        ASSERT_EQ(ResultRow_Append(&out_, &e), 0);
      }
      return;
    }
    FAIL() << "the merge step never settled";
  }
  // The names of the rows emitted, after Correction_Finish.
  std::vector<std::string> Finish() {
    EXPECT_EQ(Correction_Finish(c_.get(), &out_), 0);
    std::vector<std::string> names;
    char* f[kResultRowFields];
    uint16_t n;
    if (RowList_Rewind(&out_) != 0) return names;
    while (RowList_Next(&out_, f, &n, kResultRowFields) == 0) {
      EXPECT_EQ(n, kResultRowFields);
      names.push_back(f[4]);
    }
    return names;
  }

  std::unique_ptr<CorrectionMerge> c_;
  RowList out_;
};

using Names = std::vector<std::string>;

TEST_F(CorrectionMergeTest, WithoutCorrectionsEveryEntryStands) {
  Lists({}, {});
  EXPECT_EQ(c_->additionsActive, 0);
  EXPECT_EQ(c_->deletionsActive, 0);
  for (const char* name : {"A", "B", "C"}) Offer(Make(name));
  EXPECT_EQ(Finish(), (Names{"A", "B", "C"}));
}

TEST_F(CorrectionMergeTest, WithoutEntriesFinishAppendsEveryAddition) {
  Lists({Make("A1"), Make("A2"), Make("A3")}, {Make("D")});
  EXPECT_EQ(Finish(), (Names{"A1", "A2", "A3"}));
}

TEST_F(CorrectionMergeTest, AdditionsComeAtTheirPlaceInEntryOrder) {
  Lists({Make("A"), Make("C"), Make("D"), Make("F"), Make("G")}, {});
  Offer(Make("B"));
  Offer(Make("E"));
  EXPECT_EQ(Finish(), (Names{"A", "B", "C", "D", "E", "F", "G"}));
}

TEST_F(CorrectionMergeTest, AnAdditionEqualToAnEntryComesOnce) {
  Lists({Make("A"), Make("B"), Make("C")}, {});
  Offer(Make("B"));
  EXPECT_EQ(Finish(), (Names{"A", "B", "C"}));
}

TEST_F(CorrectionMergeTest, ADeletionRemovesEveryEqualEntryOffered) {
  Lists({}, {Make("B"), Make("D")});
  for (const char* name : {"A", "B", "B", "C", "D", "E"}) Offer(Make(name));
  EXPECT_EQ(Finish(), (Names{"A", "C", "E"}));
}

TEST_F(CorrectionMergeTest, AnEntryBothAddedAndDeletedDisappears) {
  Lists({Make("B"), Make("C")}, {Make("B")});
  Offer(Make("A"));
  Offer(Make("B"));
  EXPECT_EQ(Finish(), (Names{"A", "C"}));
}

TEST_F(CorrectionMergeTest, DeletionsStartAgainForTheNextRunOfEntries) {
  Lists({}, {Make("B"), Make("D")});
  Offer(Make("B"));
  Offer(Make("C"));  // moves the deletions past B
  Offer(Make("B"));  // a second dictionary's copy, read without restarting: it stays
  Correction_StartDeletions(c_.get());
  Offer(Make("B"));
  Offer(Make("D"));
  EXPECT_EQ(Finish(), (Names{"C", "B"}));
}

}  // namespace
