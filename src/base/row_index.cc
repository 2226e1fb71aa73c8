// RowIndex: a sorted view of one RowList by up to ten key columns, and the row cursor that
// walks it in sorted order.
#include "base/row_index.h"

#include <cstring>

#include "base/mem.h"

void RowIndex_Clear(RowIndex* index) {
  index->keyCount = 0;
  index->rowBlocks = nullptr;
  index->order = nullptr;
  index->keyFields = nullptr;
  index->rowCount = 0;
  index->position = 0;
}

int RowIndex_Free(RowIndex* index) {
  Mem_Free(index->rowBlocks);
  Mem_Free(index->order);
  Mem_Free(index->keyFields);
  RowIndex_Clear(index);
  return 0;
}

int RowIndex_Build(RowList* list, RowIndex* index, const KeySpec* keys, uint16_t count) {
  if (count > kRowIndexMaxKeys) count = kRowIndexMaxKeys;
  std::memcpy(index->keys, keys, count * sizeof(KeySpec));
  index->keyCount = count;

  const uint32_t rows = list->rowCount;
  index->rowBlocks = static_cast<uint8_t**>(Mem_AllocZeroed(rows, sizeof(uint8_t*)));
  // The order array's second half is the merge sort's scratch space.
  index->order =
      index->rowBlocks ? static_cast<uint32_t*>(Mem_Alloc(size_t{rows} * 2 * 4)) : nullptr;
  index->keyFields = index->order ? static_cast<char**>(
                                        Mem_AllocZeroed(size_t{rows} * count, sizeof(char*)))
                                  : nullptr;
  if (!index->keyFields) {
    RowIndex_Free(index);
    return -1;
  }
  for (uint32_t p = 0; p < rows; ++p) index->order[p] = p;
  index->rowCount = rows;

  // Column -> key; when two keys name one column the later wins.
  int16_t columnKey[kRowIndexMaxColumn];
  for (int16_t& k : columnKey) k = -1;
  for (uint16_t k = 0; k < count; ++k) {
    uint16_t c = keys[k].column;
    if (c >= 1 && c <= kRowIndexMaxColumn) columnKey[c - 1] = static_cast<int16_t>(k);
  }

  uint32_t r = 0;
  for (uint8_t* link = list->firstRow; link && r < rows; link = RowLink_Next(link), ++r) {
    uint8_t* block = RowLink_Block(link);
    index->rowBlocks[r] = block;
    uint16_t n = RowBlock_FieldCount(block);
    for (uint16_t j = 0; j < n && j < kRowIndexMaxColumn; ++j) {
      int16_t k = columnKey[j];
      if (k >= 0) index->keyFields[size_t{r} * count + k] = RowBlock_Field(block, j);
    }
  }
  list->cursor = nullptr;
  return 0;
}

namespace {
int CompareText(const char* a, const char* b, uint16_t kind) {
  if (kind != 1) {
    size_t la = std::strlen(a), lb = std::strlen(b);
    if (la != lb) return la < lb ? -1 : 1;
  }
  return std::strcmp(a, b);  // strcmp compares bytes as unsigned char
}
}  // namespace

namespace {

// 1 when row a must come after row b: by the keys in turn, a row lacking a key field after one
// that has it (two rows lacking it by row number alone), then by row number. This is a total
// order, so every correct sort yields the same permutation.
int RowAfter(const RowIndex* index, uint32_t a, uint32_t b) {
  const uint16_t n = index->keyCount;
  for (uint16_t k = 0; k < n; ++k) {
    const char* fa = index->keyFields[size_t{a} * n + k];
    const char* fb = index->keyFields[size_t{b} * n + k];
    if (!fa && !fb) return b < a ? 1 : 0;
    if (!fa) return 1;
    if (!fb) return 0;
    int c = CompareText(fa, fb, index->keys[k].kind);
    if (index->keys[k].direction == 2) c = -c;
    if (c < 0) return 0;
    if (c > 0) return 1;
  }
  return b < a ? 1 : 0;
}

constexpr uint32_t kInsertionRun = 12;

// Sorts items[0..n) with scratch[0..n): insertion sort for short runs, else both halves and
// a merge, skipped when the halves are already in order (so sorted input costs n compares).
void MergeSort(const RowIndex* index, uint32_t* items, uint32_t* scratch, uint32_t n) {
  if (n <= kInsertionRun) {
    for (uint32_t i = 1; i < n; ++i) {
      const uint32_t row = items[i];
      uint32_t j = i;
      for (; j > 0 && RowAfter(index, items[j - 1], row); --j) items[j] = items[j - 1];
      items[j] = row;
    }
    return;
  }
  const uint32_t half = n / 2;
  MergeSort(index, items, scratch, half);
  MergeSort(index, items + half, scratch, n - half);
  if (!RowAfter(index, items[half - 1], items[half])) return;
  std::memcpy(scratch, items, size_t{half} * 4);
  uint32_t left = 0, right = half, out = 0;
  while (left < half && right < n) {
    items[out++] = RowAfter(index, scratch[left], items[right]) ? items[right++] : scratch[left++];
  }
  while (left < half) items[out++] = scratch[left++];
}

}  // namespace

int RowIndex_Compare(const RowIndex* index, uint32_t i, uint32_t j) {
  return RowAfter(index, index->order[i], index->order[j]);
}

void RowIndex_Swap(RowIndex* index, uint32_t i, uint32_t j) {
  uint32_t t = index->order[i];
  index->order[i] = index->order[j];
  index->order[j] = t;
}

int RowIndex_Sort(RowIndex* index) {
  const uint32_t rows = index->rowCount;
  if (rows < 2) return 0;
  MergeSort(index, index->order, index->order + rows, rows);
  return 0;
}

int RowIndex_BuildSorted(RowList* list, RowIndex* index, const KeySpec* keys, uint16_t count) {
  if (RowIndex_Build(list, index, keys, count) != 0) return -1;
  return RowIndex_Sort(index);
}

int RowIndex_Rewind(RowIndex* index) {
  index->position = 0;
  return 0;
}

int RowIndex_Next(RowIndex* index, char** fields, uint16_t* count, uint16_t capacity) {
  if (index->position >= index->rowCount) return -1;
  uint8_t* block = index->rowBlocks[index->order[index->position]];
  *count = RowBlock_Fields(block, fields, capacity);
  ++index->position;
  return 0;
}
