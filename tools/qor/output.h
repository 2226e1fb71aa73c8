// Output of the qor command: rows of UTF-8 text as an aligned table (full-width characters
// take two columns), as tab-separated values or as JSON.
#ifndef QOR3_TOOLS_QOR_OUTPUT_H
#define QOR3_TOOLS_QOR_OUTPUT_H

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "qor3.h"

enum class OutputFormat { kTable, kTsv, kJson };

struct OutputColumn {
  std::string heading;   // table and TSV heading
  std::string key;       // JSON member name
  bool numeric = false;  // a JSON number rather than a string
};

struct OutputTable {
  std::vector<OutputColumn> columns;
  std::vector<std::vector<std::string>> rows;  // one text per column
};

// Terminal columns a UTF-8 text takes: two for characters of East Asian Width W or F,
// none for combining marks, one for the rest.
int DisplayWidth(std::string_view utf8);

// Table: headings, a rule, rows with the columns padded to their widest text (the last
// column is not padded). TSV: headings then rows; tabs and line breaks in texts become
// spaces. JSON: an array of objects, one per row.
void Output_Write(const OutputTable& table, OutputFormat format, FILE* out);

// The results of a search (the request after Qor_Search, before Qor_MemRelease) and the
// regions of an open set, as rows of UTF-8 texts; region codes with five digits. Of the
// results, the first maxRows.
OutputTable Output_Results(const SearchRequest& request, uint32_t maxRows = UINT32_MAX);
OutputTable Output_Regions(const OpenResult& result);

// The JSON array Output_Write writes, as text: indented by `indent` spaces, or on one line
// for -1.
std::string Output_Json(const OutputTable& table, int indent);

// value in decimal with at least `width` digits (leading zeros).
std::string Output_Digits(uint32_t value, int width);

#endif  // QOR3_TOOLS_QOR_OUTPUT_H
