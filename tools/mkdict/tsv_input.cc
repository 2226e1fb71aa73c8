// Input of the dictionary builder: TSV listings and area code lists, checked field by field and
// converted to code page 932.
#include "mkdict/tsv_input.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/cp932.h"
#include "dict/dict_format.h"
#include "files/file_names.h"

namespace {

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

std::string_view TrimSpaces(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

uint32_t ValueOf(std::string_view digits) {
  uint32_t v = 0;
  for (char c : digits) v = v * 10 + static_cast<uint32_t>(c - '0');
  return v;
}


std::vector<std::string_view> Split(std::string_view line, char separator) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (;;) {
    size_t end = line.find(separator, start);
    if (end == std::string_view::npos) {
      fields.push_back(line.substr(start));
      return fields;
    }
    fields.push_back(line.substr(start, end - start));
    start = end + 1;
  }
}

// Calls visit(lineNumber, line) for every line (CR before LF removed); stops at false.
template <typename Visit>
bool ForEachLine(std::string_view text, Visit visit) {
  int number = 0;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!visit(++number, line)) return false;
  }
  return true;
}

struct Column {
  const char* name;
  std::string TsvRow::*field;
  bool correctionOnly;
};

const Column kColumns[] = {
    {"kind", &TsvRow::kind, false},
    {"region_code", &TsvRow::regionCode, false},
    {"number", &TsvRow::number, false},
    {"postal_code", &TsvRow::postalCode, false},
    {"name", &TsvRow::name, false},
    {"region_name1", &TsvRow::regionName1, false},
    {"region_name2", &TsvRow::regionName2, false},
    {"address1", &TsvRow::address1, false},
    {"address2", &TsvRow::address2, false},
    {"correction", &TsvRow::correction, true},
    {"version", &TsvRow::version, true},
};
constexpr const char* kDictionaryColumn = "dictionary";

bool ConvertText(const std::string& utf8, bool fullWidth, const char* field, std::string* out,
                 std::string* error) {
  std::string message;
  if (Cp932_FromUtf8(utf8, fullWidth, out, &message)) return true;
  *error = std::string("field ") + field + ": " + message;
  return false;
}

bool ConvertFields(const TsvRow& row, bool correction, Listing* out, std::string* error) {
  std::string_view kind = TrimSpaces(row.kind);
  if (kind != "1" && kind != "2") {
    *error = "field kind: " + Text_Excerpt(row.kind) + " is not 1 or 2";
    return false;
  }
  out->kind = kind == "1" ? 1 : 2;

  std::string_view region = TrimSpaces(row.regionCode);
  if (!AllDigits(region) || region.size() > 5 || ValueOf(region) > kMaxRegionCode) {
    *error = "field region_code: " + Text_Excerpt(row.regionCode) + " is not a number from 0 to " +
             std::to_string(kMaxRegionCode);
    return false;
  }
  out->regionCode = ValueOf(region);

  std::string digits;
  for (char c : TrimSpaces(row.number)) {
    if (c != '-') digits.push_back(c);
  }
  if (!AllDigits(digits) || (digits.size() != 9 && digits.size() != 10) || digits[0] != '0') {
    *error = "field number: " + Text_Excerpt(row.number) +
             " is not a number of 9 or 10 digits with a leading zero";
    return false;
  }
  if (digits.size() == 10 && digits[1] == '0') {
    // Its value is below 100000000, which reads back as a nine-digit number.
    *error = "field number: " + Text_Excerpt(row.number) + " is a 10-digit number starting with 00";
    return false;
  }
  out->number = ValueOf(digits);

  std::string_view postal = TrimSpaces(row.postalCode);
  std::string postalDigits(postal);
  if (postal.size() == 8 && postal[3] == '-') postalDigits.erase(3, 1);
  if (postalDigits.size() != 7 || !AllDigits(postalDigits)) {
    *error = "field postal_code: " + Text_Excerpt(row.postalCode) +
             " is not a postal code of 7 digits (NNN-NNNN or NNNNNNN)";
    return false;
  }
  out->postal = ValueOf(postalDigits);

  if (!ConvertText(row.name, true, "name", &out->name, error) ||
      !ConvertText(row.regionName1, false, "region_name1", &out->regionName1, error) ||
      !ConvertText(row.regionName2, false, "region_name2", &out->regionName2, error) ||
      !ConvertText(row.address1, true, "address1", &out->address1, error) ||
      !ConvertText(row.address2, false, "address2", &out->address2, error)) {
    return false;
  }

  if (correction) {
    std::string_view word = TrimSpaces(row.correction);
    if (word != "add" && word != "remove") {
      *error = "field correction: " + Text_Excerpt(row.correction) + " is not add or remove";
      return false;
    }
    out->correctionAdd = word == "add";
    std::string_view version = TrimSpaces(row.version);
    if (!AllDigits(version) || version.size() > 4 || ValueOf(version) > kMaxCorrectionVersion) {
      *error = "field version: " + Text_Excerpt(row.version) + " is not a number from 0 to " +
               std::to_string(kMaxCorrectionVersion);
      return false;
    }
    out->correctionVersion = ValueOf(version);
  }
  return Listing_Check(*out, correction, error);
}

}  // namespace

bool TsvInput_ConvertRow(const TsvRow& row, bool correction, Listing* out, std::string* error) {
  *out = Listing{};
  out->line = row.line;
  std::string message;
  if (ConvertFields(row, correction, out, &message)) return true;
  *error = (row.line > 0 ? "line " + std::to_string(row.line) + ", " : "") + message;
  return false;
}

bool TsvInput_Parse(std::string_view text, bool correction, std::vector<Listing>* out,
                    std::string* error, const std::vector<int>* lineNumbers) {
  out->clear();
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<const Column*> layout;  // column of each header field
  bool ok = ForEachLine(text, [&](int number, std::string_view line) {
    if (lineNumbers != nullptr && static_cast<size_t>(number) <= lineNumbers->size()) {
      number = (*lineNumbers)[static_cast<size_t>(number) - 1];
    }
    if (line.empty()) return true;
    std::vector<std::string_view> fields = Split(line, '\t');
    if (layout.empty()) {
      for (std::string_view name : fields) {
        const Column* found = nullptr;
        for (const Column& column : kColumns) {
          if (name == column.name) found = &column;
        }
        if (found == nullptr || (found->correctionOnly && !correction)) {
          *error = "line " + std::to_string(number) + ": the header names an unknown column " +
                   Text_Excerpt(name) +
                   (found != nullptr ? " (correction and version belong to a correction file)"
                                     : "");
          return false;
        }
        for (const Column* seen : layout) {
          if (seen == found) {
            *error = "line " + std::to_string(number) + ": the header names column " +
                     Text_Excerpt(name) + " twice";
            return false;
          }
        }
        layout.push_back(found);
      }
      for (const Column& column : kColumns) {
        if (column.correctionOnly && !correction) continue;
        bool present = false;
        for (const Column* seen : layout) present = present || seen == &column;
        if (!present) {
          *error = "line " + std::to_string(number) + ": the header lacks column " +
                   Text_Excerpt(column.name);
          return false;
        }
      }
      return true;
    }
    if (fields.size() != layout.size()) {
      *error = "line " + std::to_string(number) + ": " + std::to_string(fields.size()) +
               " fields, but the header names " + std::to_string(layout.size()) + " columns";
      return false;
    }
    TsvRow row;
    row.line = number;
    for (size_t i = 0; i < fields.size(); ++i) row.*(layout[i]->field) = std::string(fields[i]);
    Listing listing;
    if (!TsvInput_ConvertRow(row, correction, &listing, error)) return false;
    out->push_back(std::move(listing));
    return true;
  });
  if (ok && layout.empty()) {
    *error = "no header row";
    return false;
  }
  return ok;
}

std::string TsvInput_VersionWarning(const std::vector<Listing>& listings) {
  constexpr int kNamed = 3;
  int count = 0;
  std::string named;
  for (const Listing& l : listings) {
    const uint32_t month = l.correctionVersion % 100;
    if (month >= 1 && month <= 12) continue;
    if (count++ < kNamed) {
      const int32_t stored = CorrectionWord_Version(CorrectionWord_Make(true, l.correctionVersion));
      named += (named.empty() ? "" : ", ") +
               (l.line > 0 ? "line " + std::to_string(l.line) + ": " : std::string()) +
               std::to_string(l.correctionVersion);
      if (stored != static_cast<int32_t>(l.correctionVersion)) {
        named += " stored as " + std::to_string(stored);
      }
    }
  }
  if (count == 0) return "";
  return std::to_string(count) + (count == 1 ? " correction has" : " corrections have") +
         " a version that cannot be a YYMM (" + named + (count > kNamed ? ", ..." : "") +
         "); versions are compared with the edition stamp of the installed dictionary, the "
         "YYMM of its edition value 1";
}

bool AreaCodes_Parse(std::string_view text, std::vector<uint32_t>* out, std::string* error) {
  out->clear();
  return ForEachLine(text, [&](int number, std::string_view line) {
    line = TrimSpaces(line);
    if (line.empty() || line[0] == '#') return true;
    if (!AllDigits(line) || line.size() < 2 || line.size() > 6 || line[0] != '0' ||
        line[1] == '0') {
      *error = "line " + std::to_string(number) + ": " + Text_Excerpt(line) +
               " is not an area code: a 0, then 1 to 5 digits of which the first is not 0";
      return false;
    }
    out->push_back(ValueOf(line.substr(1)));
    return true;
  });
}

bool ReadWholeFile(const std::string& path, std::string* out, std::string* error) {
  const bool standardInput = path == "-";
  std::FILE* file = standardInput ? stdin : std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  out->clear();
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) out->append(buffer, n);
  bool failed = std::ferror(file) != 0;
  if (!standardInput) std::fclose(file);
  if (failed) {
    *error = "cannot read " + (standardInput ? std::string("standard input") : path);
    return false;
  }
  return true;
}

bool TsvInput_Split(std::string_view text, TsvSplit* out, std::string* error) {
  *out = TsvSplit{};
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  int headerLine = 0;
  std::vector<TsvDictionary> byNumber(10000);
  const bool ok = ForEachLine(text, [&](int number, std::string_view line) {
    if (line.empty()) return true;
    if (headerLine == 0) {
      headerLine = number;
      out->header = line;
      const std::vector<std::string_view> names = Split(line, '\t');
      const auto at = std::find(names.begin(), names.end(), kDictionaryColumn);
      if (at == names.end()) {
        *error = "line " + std::to_string(number) + ": the header lacks column \"" +
                 kDictionaryColumn + "\"";
        return false;
      }
      out->dictionaryColumn = static_cast<size_t>(at - names.begin());
      return true;
    }
    const std::vector<std::string_view> fields = Split(line, '\t');
    const std::string_view field =
        out->dictionaryColumn < fields.size() ? TrimSpaces(fields[out->dictionaryColumn]) : "";
    const uint32_t n = AllDigits(field) && field.size() <= 4 ? ValueOf(field) : 0;
    if (!InProbeRange(n)) {
      *error = "line " + std::to_string(number) + ", field dictionary: " + Text_Excerpt(field) +
               " is not a dictionary number 101..4729 with last two digits 01..29";
      return false;
    }
    TsvDictionary& d = byNumber[n];
    if (d.lines.empty()) d.lineNumbers.push_back(headerLine);
    d.number = n;
    d.lines.push_back(line);
    d.lineNumbers.push_back(number);
    return true;
  });
  if (ok && headerLine == 0) {
    *error = "no header row";
    return false;
  }
  for (TsvDictionary& d : byNumber) {
    if (!d.lines.empty()) out->dictionaries.push_back(std::move(d));
  }
  return ok;
}

std::string TsvInput_DictionaryText(const TsvSplit& split, const TsvDictionary& dictionary) {
  auto withoutColumn = [&split](std::string_view line, std::string* out) {
    size_t start = 0, column = 0;
    bool first = true;
    for (;;) {
      const size_t end = line.find('\t', start);
      const std::string_view field =
          line.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
      if (column++ != split.dictionaryColumn) {
        if (!first) out->push_back('\t');
        out->append(field);
        first = false;
      }
      if (end == std::string_view::npos) break;
      start = end + 1;
    }
    out->push_back('\n');
  };
  std::string text;
  withoutColumn(split.header, &text);
  for (std::string_view line : dictionary.lines) withoutColumn(line, &text);
  return text;
}

bool MkDict_ReadAreaCodes(const MkDictJob& job, DictBuildOptions* options, std::string* error) {
  std::string text, message;
  const struct {
    const std::string& path;
    std::vector<uint32_t>* values;
  } lists[] = {{job.areaCodesPath, &options->areaCodes},
               {job.extendedAreaCodesPath, &options->extendedAreaCodes}};
  for (const auto& list : lists) {
    if (list.path.empty()) continue;
    std::vector<uint32_t> values;
    if (!ReadWholeFile(list.path, &text, error)) return false;
    if (!AreaCodes_Parse(text, &values, &message)) {
      *error = list.path + ": " + message;
      return false;
    }
    list.values->insert(list.values->end(), values.begin(), values.end());
  }
  return true;
}

bool MkDict_Run(const MkDictJob& job, DictBuildStats* stats, std::string* error) {
  auto step = [&job](int n, const char* what) {
    if (job.progress != nullptr) job.progress(n, 4, what);
  };
  step(0, "reading");
  DictBuildOptions options = job.options;
  std::string text, message;
  if (!MkDict_ReadAreaCodes(job, &options, error)) return false;
  std::vector<Listing> listings;
  if (!ReadWholeFile(job.inputPath, &text, error)) return false;
  const std::string input = job.inputPath == "-" ? "standard input" : job.inputPath;
  step(1, "checking");
  if (!TsvInput_Parse(text, options.correction, &listings, &message)) {
    *error = input + ": " + message;
    return false;
  }
  if (options.correction && job.warn != nullptr) {
    message = TsvInput_VersionWarning(listings);
    if (!message.empty()) job.warn(job.inputPath + ": " + message);
  }
  std::vector<uint8_t> image;
  step(2, "building");
  if (!DictBuilder_Build(std::move(listings), options, &image, stats, &message)) {
    *error = input + ": " + message;
    return false;
  }
  step(3, "writing");
  return DictBuilder_WriteFile(job.outputPath, image, error);
}
