// Result builder: turns a search's result rows into the SearchResult records the host reads,
// stored with their texts in a pool the request owns, and hyphenates numbers.
#ifndef QOR3_SEARCH_RESULT_BUILDER_H
#define QOR3_SEARCH_RESULT_BUILDER_H

#include <cstddef>

#include "qor3.h"
#include "base/row_list.h"
#include "dict/dict_file.h"

// Fields of a result row, in order.
constexpr uint16_t kResultRowFields = 9;

// Appends the entry's nine texts (kind, region code, number, postal code, name, region
// names 1 and 2, address texts 1 and 2) as one row. 0 or -1 (out of memory).
int ResultRow_Append(RowList* rows, const DictEntry* entry);

// Fills resultCount, results and resultPool from the result rows, hyphenating numbers by the
// area code sets. With no rows,
// or when any allocation fails, resultCount is 0 and results/resultPool are left as they
// were (nothing stays allocated). Returns 0, or -1 on an allocation failure.
int Result_Build(RowList* rows, const AreaCodeSets* areaCodes, SearchRequest* request);

// Writes the hyphenated form of a 9- or 10-digit number text into output (capacity bytes,
// at least 13) using the area code sets; when no split applies, the plain text.
void FormatNumber(const AreaCodeSets* areaCodes, const char* numberText, char* output,
                  size_t capacity);

#endif  // QOR3_SEARCH_RESULT_BUILDER_H
