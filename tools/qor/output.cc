// Table, TSV and JSON output of the qor command.
#include "qor/output.h"

#include <nlohmann/json.hpp>

#include "common/cp932.h"

namespace {

struct Range {
  char32_t first, last;
};

// Unicode 15 East Asian Width W and F, merged into ranges (the ideographic planes, CJK
// symbols, kana, Hangul, full-width forms, emoji blocks); enough for every character code
// page 932 holds and for common input.
constexpr Range kWide[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},
    {0x23F0, 0x23F0},   {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},
    {0x2648, 0x2653},   {0x267F, 0x267F},   {0x2693, 0x2693},   {0x26A1, 0x26A1},
    {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},   {0x26CE, 0x26CE},
    {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
    {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},
    {0x2728, 0x2728},   {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},
    {0x2757, 0x2757},   {0x2795, 0x2797},   {0x27B0, 0x27B0},   {0x27BF, 0x27BF},
    {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},   {0x2E80, 0x303E},
    {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
    {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},
    {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x16FE0, 0x16FE4},
    {0x17000, 0x18CFF}, {0x1AFF0, 0x1B2FF}, {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF},
    {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A}, {0x1F200, 0x1F251}, {0x1F300, 0x1F64F},
    {0x1F680, 0x1F6FF}, {0x1F7E0, 0x1F7EB}, {0x1F90C, 0x1F9FF}, {0x1FA70, 0x1FAFF},
    {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};

bool IsWide(char32_t cp) {
  for (const Range& r : kWide) {
    if (cp < r.first) return false;
    if (cp <= r.last) return true;
  }
  return false;
}

bool IsZeroWidth(char32_t cp) {
  return (cp >= 0x0300 && cp <= 0x036F) || (cp >= 0x200B && cp <= 0x200F) ||
         (cp >= 0x3099 && cp <= 0x309A) || (cp >= 0xFE00 && cp <= 0xFE0F) || cp == 0xFEFF;
}

// Tabs and line breaks would break the layout of a table or a TSV line.
std::string Flatten(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return out;
}

void WriteTable(const OutputTable& table, FILE* out) {
  const size_t n = table.columns.size();
  std::vector<int> widths(n, 0);
  for (size_t c = 0; c < n; ++c) widths[c] = DisplayWidth(table.columns[c].heading);
  for (const auto& row : table.rows) {
    for (size_t c = 0; c < n && c < row.size(); ++c) {
      widths[c] = std::max(widths[c], DisplayWidth(Flatten(row[c])));
    }
  }
  auto line = [&](const std::vector<std::string>& cells) {
    std::string text;
    for (size_t c = 0; c < n; ++c) {
      std::string cell = c < cells.size() ? Flatten(cells[c]) : "";
      text += cell;
      if (c + 1 < n) text.append(static_cast<size_t>(widths[c] - DisplayWidth(cell) + 2), ' ');
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    std::fprintf(out, "%s\n", text.c_str());
  };
  std::vector<std::string> headings, rules;
  for (size_t c = 0; c < n; ++c) {
    headings.push_back(table.columns[c].heading);
    rules.push_back(std::string(static_cast<size_t>(widths[c]), '-'));
  }
  line(headings);
  line(rules);
  for (const auto& row : table.rows) line(row);
}

void WriteTsv(const OutputTable& table, FILE* out) {
  auto line = [&](const std::vector<std::string>& cells) {
    std::string text;
    for (size_t c = 0; c < cells.size(); ++c) {
      if (c > 0) text += '\t';
      text += Flatten(cells[c]);
    }
    std::fprintf(out, "%s\n", text.c_str());
  };
  std::vector<std::string> headings;
  for (const auto& column : table.columns) headings.push_back(column.key);
  line(headings);
  for (const auto& row : table.rows) line(row);
}

std::string Text(const char* text, uint32_t length) {
  return Cp932_ToUtf8Lossy(std::string_view(text, length));
}

}  // namespace

int DisplayWidth(std::string_view utf8) {
  std::u32string points;
  std::string error;
  if (!Utf8_Decode(utf8, &points, &error)) return static_cast<int>(utf8.size());
  int width = 0;
  for (char32_t cp : points) {
    if (IsZeroWidth(cp)) continue;
    width += IsWide(cp) ? 2 : 1;
  }
  return width;
}

void Output_Write(const OutputTable& table, OutputFormat format, FILE* out) {
  switch (format) {
    case OutputFormat::kTable:
      WriteTable(table, out);
      break;
    case OutputFormat::kTsv:
      WriteTsv(table, out);
      break;
    case OutputFormat::kJson:
      std::fprintf(out, "%s\n", Output_Json(table, 2).c_str());
      break;
  }
}

std::string Output_Json(const OutputTable& table, int indent) {
  nlohmann::ordered_json array = nlohmann::ordered_json::array();
  for (const auto& row : table.rows) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (size_t c = 0; c < table.columns.size(); ++c) {
      const std::string text = c < row.size() ? row[c] : "";
      const OutputColumn& column = table.columns[c];
      if (column.numeric && !text.empty() &&
          text.find_first_not_of("0123456789") == std::string::npos) {
        object[column.key] = std::stoull(text);
      } else {
        object[column.key] = text;
      }
    }
    array.push_back(std::move(object));
  }
  // Invalid UTF-8 cannot come from the converter; replace rather than throw if it ever does.
  return array.dump(indent, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string Output_Digits(uint32_t value, int width) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*u", width, value);
  return text;
}

OutputTable Output_Results(const SearchRequest& request, uint32_t maxRows) {
  OutputTable table;
  table.columns = {{"number", "number"},
                   {"name", "name"},
                   {"kind", "kind", true},
                   {"postal", "postal_code"},
                   {"region", "region_code", true},
                   {"region name 1", "region_name1"},
                   {"region name 2", "region_name2"},
                   {"address 1", "address1"},
                   {"address 2", "address2"}};
  for (uint32_t i = 0; i < request.resultCount && i < maxRows; ++i) {
    const SearchResult& r = *request.results[i];
    table.rows.push_back({Text(r.number, r.numberLength), Text(r.name, r.nameLength),
                          std::to_string(r.entryKind), Text(r.postalCode, r.postalCodeLength),
                          Output_Digits(static_cast<uint32_t>(r.regionCode), 5),
                          Text(r.regionName1, r.regionName1Length),
                          Text(r.regionName2, r.regionName2Length),
                          Text(r.address1, r.address1Length), Text(r.address2, r.address2Length)});
  }
  return table;
}

OutputTable Output_Regions(const OpenResult& result) {
  OutputTable table;
  table.columns = {{"region", "region_code", true},
                   {"region name 1", "region_name1"},
                   {"region name 2", "region_name2"},
                   {"dictionary", "dict_number", true}};
  for (uint32_t i = 0; i < result.regionCount; ++i) {
    const RegionInfo& r = *result.regions[i];
    table.rows.push_back({Output_Digits(static_cast<uint32_t>(r.regionCode), 5),
                          Text(r.name1, r.name1Length), Text(r.name2, r.name2Length),
                          Output_Digits(static_cast<uint32_t>(r.dictNumber), 4)});
  }
  return table;
}
