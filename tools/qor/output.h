// Output of the qor command: rows of UTF-8 text as an aligned table (full-width characters
// take two columns), as tab-separated values or as JSON.
#ifndef QOR3_TOOLS_QOR_OUTPUT_H
#define QOR3_TOOLS_QOR_OUTPUT_H

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

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

#endif  // QOR3_TOOLS_QOR_OUTPUT_H
