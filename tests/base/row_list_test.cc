// Row list: storage, reading order across chunks, limits and field assembly.
#include "base/row_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> ReadRow(RowList* list) {
  char* fields[64];
  uint16_t n = 0;
  if (RowList_Next(list, fields, &n, 64) != 0) return {"<end>"};
  return std::vector<std::string>(fields, fields + n);
}

TEST(RowList, StoresFieldsAsCopiesIncludingEmptyAndZeroFieldRows) {
  RowList list;
  RowList_Init(&list);
  EXPECT_EQ(RowList_Rewind(&list), -1);
  char* f[4];
  uint16_t n = 99;
  EXPECT_EQ(RowList_Next(&list, f, &n, 4), -1);

  std::string a = "0101", b = "";
  const char* row[] = {a.c_str(), b.c_str(), "x"};
  ASSERT_EQ(RowList_Append(&list, row, 3), 0);
  a = "changed";  // the list holds copies
  ASSERT_EQ(RowList_Append(&list, nullptr, 0), 0);
  EXPECT_EQ(list.rowCount, 2u);
  EXPECT_EQ(list.widestRow, 3u);

  ASSERT_EQ(RowList_Rewind(&list), 0);
  EXPECT_EQ(ReadRow(&list), (std::vector<std::string>{"0101", "", "x"}));
  EXPECT_EQ(ReadRow(&list), std::vector<std::string>{});
  EXPECT_EQ(ReadRow(&list), std::vector<std::string>{"<end>"});
  // Row numbers in the links follow the order of appending.
  EXPECT_EQ(RowLink_Number(list.firstRow), 0u);
  EXPECT_EQ(RowLink_Number(list.lastRow), 1u);
  // A zero-field row is an 8-byte block.
  EXPECT_EQ(RowBlock_FieldCount(RowLink_Block(list.lastRow)), 0);
  RowList_Free(&list);
  EXPECT_EQ(list.firstChunk, nullptr);
  EXPECT_EQ(list.rowCount, 0u);
}

TEST(RowList, NextDeliversNoMoreFieldsThanTheCallerHasRoomFor) {
  RowList list;
  RowList_Init(&list);
  const char* row[] = {"a", "b", "c", "d"};
  ASSERT_EQ(RowList_Append(&list, row, 4), 0);
  RowList_Rewind(&list);
  char* f[2];
  uint16_t n = 0;
  ASSERT_EQ(RowList_Next(&list, f, &n, 2), 0);
  EXPECT_EQ(n, 2);
  EXPECT_STREQ(f[1], "b");
  RowList_Free(&list);
}

TEST(RowList, TakesANewChunkWhenLessThanTheRowRoomIsLeftAndReadsAcrossIt) {
  RowList list;
  RowList_Init(&list);
  // Rows of 1000 text bytes: link + 10-byte header/offset + 1000 bytes each.
  const std::string big(999, 'q');
  const uint32_t stored = kRowLinkSize + 8 + 2 + 1000;
  const uint32_t perChunk = (kRowChunkSize - sizeof(void*) - kRowChunkRoom) / stored + 1;
  std::vector<std::string> texts;
  for (uint32_t i = 0; i < perChunk + 5; ++i) {
    std::string t = big;
    t.replace(0, 6, std::to_string(100000 + i));
    texts.push_back(t);
    const char* row[] = {texts.back().c_str()};
    ASSERT_EQ(RowList_Append(&list, row, 1), 0);
    uint8_t* chunk = list.currentChunk;
    if (i + 1 == perChunk) {
      EXPECT_EQ(chunk, list.firstChunk) << "row " << i << " still fits the first chunk";
      EXPECT_LT(kRowChunkSize - list.chunkFill, kRowChunkRoom);
    }
    if (i == perChunk) {
      EXPECT_NE(chunk, list.firstChunk) << "row " << i << " needs a new chunk";
    }
  }
  ASSERT_EQ(RowList_Rewind(&list), 0);
  for (uint32_t i = 0; i < texts.size(); ++i) ASSERT_EQ(ReadRow(&list)[0], texts[i]) << i;
  RowList_Free(&list);
  // A freed list appends like a fresh one.
  const char* row[] = {"again"};
  ASSERT_EQ(RowList_Append(&list, row, 1), 0);
  RowList_Rewind(&list);
  EXPECT_EQ(ReadRow(&list)[0], "again");
  RowList_Free(&list);
}

TEST(RowList, RefusesRowsOverTheLimitsAndKeepsTheList) {
  RowList list;
  RowList_Init(&list);
  const char* ok[] = {"keep"};
  ASSERT_EQ(RowList_Append(&list, ok, 1), 0);
  const std::string tooLong(kRowMaxText, 'x');  // with its NUL one byte over
  const char* row[] = {tooLong.c_str()};
  EXPECT_EQ(RowList_Append(&list, row, 1), -1);
  std::vector<const char*> many(kRowMaxFields + 1, "");
  EXPECT_EQ(RowList_Append(&list, many.data(), static_cast<uint16_t>(many.size())), -1);
  // Within the text limit but over the stored-size room.
  const std::string nearly(kRowMaxText - 1 - 2000, 'y');
  std::vector<const char*> wide(2000, "");
  wide[0] = nearly.c_str();
  EXPECT_EQ(RowList_Append(&list, wide.data(), 2000), -1);
  EXPECT_EQ(list.rowCount, 1u);
  RowList_Rewind(&list);
  EXPECT_EQ(ReadRow(&list)[0], "keep");
  RowList_Free(&list);
}

TEST(RowList, AddFieldAssemblesARowWithinTheCallersBuffers) {
  const char* fields[3];
  char buffer[12];
  uint16_t count = 0, used = 0;
  EXPECT_EQ(RowList_AddField("0312", fields, &count, 3, buffer, &used, sizeof buffer), 0);
  EXPECT_EQ(RowList_AddField("0101", fields, &count, 3, buffer, &used, sizeof buffer), 0);
  EXPECT_EQ(used, 10);
  EXPECT_EQ(RowList_AddField("toolong", fields, &count, 3, buffer, &used, sizeof buffer), -1);
  EXPECT_EQ(RowList_AddField("x", fields, &count, 3, buffer, &used, sizeof buffer), 0);
  EXPECT_EQ(RowList_AddField("", fields, &count, 3, buffer, &used, sizeof buffer), -1);
  EXPECT_EQ(count, 3);
  EXPECT_STREQ(fields[0], "0312");
  EXPECT_STREQ(fields[1], "0101");
  EXPECT_STREQ(fields[2], "x");
}

}  // namespace
