// RowIndex: a sorted view of one RowList by up to ten key columns, and the row cursor that
// walks it in sorted order.
//
// The order is fully determined: by the keys in turn (a row lacking a key field after every
// row that has it, in either direction), then by row number, so equal rows keep the order in
// which they were appended. The sort is a merge sort: O(n log n), and O(n) on rows that are
// already in order (as catalog tables written in order are).
#ifndef QOR3_BASE_ROW_INDEX_H
#define QOR3_BASE_ROW_INDEX_H

#include <cstdint>

#include "base/row_list.h"

constexpr uint16_t kRowIndexMaxKeys = 10;
constexpr uint16_t kRowIndexMaxColumn = 800;

constexpr uint16_t kKeyAscending = 1;
constexpr uint16_t kKeyDescending = 2;
constexpr uint16_t kKeyText = 1;     // strcmp order
constexpr uint16_t kKeyDecimal = 2;  // decimal text: shorter is smaller

struct KeySpec {
  uint16_t column;     // field number from 1
  uint16_t direction;  // kKeyAscending or kKeyDescending
  uint16_t kind;       // kKeyText, or any other value: kKeyDecimal
};

// A key on text column `column` (from 1).
constexpr KeySpec TextKey(uint16_t column, uint16_t direction = kKeyAscending) {
  return KeySpec{column, direction, kKeyText};
}

struct RowIndex {
  KeySpec keys[kRowIndexMaxKeys];
  uint16_t keyCount;
  uint8_t** rowBlocks;  // by row number
  uint32_t* order;      // sorted position -> row number; then as many entries of scratch
  char** keyFields;     // row * keyCount + key -> field, or null when the row lacks it
  uint32_t rowCount;
  uint32_t position;    // the row cursor
};

void RowIndex_Clear(RowIndex* index);
int RowIndex_Free(RowIndex* index);
// Builds the index over the list for keys[0..count-1] (count clamped to 10). Returns 0, or
// -1 when an allocation fails (the index is then freed). Leaves the list's cursor at the end.
int RowIndex_Build(RowList* list, RowIndex* index, const KeySpec* keys, uint16_t count);
int RowIndex_Sort(RowIndex* index);
// RowIndex_Build, then RowIndex_Sort. 0, or -1 when the build failed.
int RowIndex_BuildSorted(RowList* list, RowIndex* index, const KeySpec* keys, uint16_t count);
// 1 when the rows at sorted positions i < j are out of order, else 0.
int RowIndex_Compare(const RowIndex* index, uint32_t i, uint32_t j);
void RowIndex_Swap(RowIndex* index, uint32_t i, uint32_t j);

int RowIndex_Rewind(RowIndex* index);
// Yields the row at the cursor as RowList_Next does; -1 past the last row.
int RowIndex_Next(RowIndex* index, char** fields, uint16_t* count, uint16_t capacity);

#endif  // QOR3_BASE_ROW_INDEX_H
