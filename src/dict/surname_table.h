// The built-in table of 8192 surnames with which kind-1 names are coded in dictionary files.
#ifndef QOR3_SEARCH_SURNAME_TABLE_H
#define QOR3_SEARCH_SURNAME_TABLE_H

#include <cstddef>
#include <cstdint>

constexpr uint32_t kSurnameCount = 8192;

// Surname `index` followed by the ideographic space, NUL-terminated CP932; null for
// index >= 8192.
const char* SurnameTable_Get(uint32_t index);
// Length in bytes of SurnameTable_Get(index) (0 for index >= 8192).
uint32_t SurnameTable_Length(uint32_t index);
// The index of the table entry that `name` (length bytes, CP932) starts with, or -1. Reads
// no byte of `name` at or past `length`.
int SurnameTable_FindPrefix(const char* name, size_t length);

// The table data, generated at build time from data/surnames.txt: the texts in ascending byte
// order, back to back, each followed by a NUL. Text i starts at kSurnameTableOffsets[i];
// kSurnameTableOffsets[kSurnameCount] is the size of the blob.
extern const char kSurnameTableText[];
extern const uint32_t kSurnameTableOffsets[kSurnameCount + 1];

#endif  // QOR3_SEARCH_SURNAME_TABLE_H
