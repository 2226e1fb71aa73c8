// Inspect and check of dictionary and catalog files: the library's checker walks them
// (check/file_check.h); this writes what it found, with a progress bar over a directory.
#include "qor/dict_check.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "check/file_check.h"
#include "common/console.h"
#include "common/cp932.h"
#include "common/progress.h"
#include "files/file_names.h"
#include "qor/output.h"

namespace {

const char* const kSectionNames[kDictSectionCount] = {
    "prefix filter",       "suffix filter", "region table", "area codes",
    "extended area codes", "number index",  "entry section"};

std::string Utf8(const std::string& cp932) { return Cp932_ToUtf8Lossy(cp932); }
std::string Utf8(const char* cp932) { return Cp932_ToUtf8Lossy(cp932); }

// Whether path names a regular file; otherwise error says what it is instead. A FIFO or
// device is never opened, so it cannot hold the tool up or be read from.
bool IsRegularFile(const std::string& path, std::string* error) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  if (S_ISREG(info.st_mode)) return true;
  *error = path + (S_ISDIR(info.st_mode) ? ": a directory" : ": not a regular file");
  return false;
}

void WriteProblems(const CheckProblems& found, FILE* out) {
  const std::vector<CheckProblem>& problems = found.listed;
  const uint64_t count = found.count;
  if (count == 0) {
    std::fprintf(out, "problems: none\n");
    return;
  }
  std::fprintf(out, "problems: %llu\n", static_cast<unsigned long long>(count));
  for (const CheckProblem& p : problems)
    std::fprintf(out, "  %s: %s\n", p.place.c_str(), p.what.c_str());
  if (count > problems.size()) {
    std::fprintf(out, "  ... and %llu more\n",
                 static_cast<unsigned long long>(count - problems.size()));
  }
}

void Indent(const OutputTable& table, FILE* out) {
  // Tables of the inspect report are written with a two-space indent.
  TextCapture memory;
  if (memory.file() == nullptr) return;
  Output_Write(table, OutputFormat::kTable, memory.file());
  const std::string all = memory.Take();
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\n', start);
    if (end == std::string::npos) end = all.size();
    std::fprintf(out, "  %s\n", all.substr(start, end - start).c_str());
    start = end + 1;
  }
}

void InspectDictionary(const std::string& path, const DictWalk& walk,
                       const std::vector<std::vector<std::string>>& entries, FILE* out) {
  std::fprintf(out, "%s: %s, %llu bytes\n", path.c_str(),
               walk.correction ? "correction file" : "dictionary file",
               static_cast<unsigned long long>(walk.fileSize));
  if (!walk.headerRead) {
    WriteProblems(walk.problems, out);
    return;
  }
  std::fprintf(out, "edition value 1: %u, edition value 2: %u\n", walk.edition1, walk.edition2);
  std::fprintf(out, "sections:\n");
  OutputTable sections;
  sections.columns = {{"section", ""}, {"what", ""}, {"offset", ""}, {"size", ""}};
  uint64_t offset = kDictHeaderSize;
  for (int i = 0; i < kDictSectionCount; ++i) {
    sections.rows.push_back({std::to_string(i), kSectionNames[i], std::to_string(offset),
                             std::to_string(walk.sizes[i])});
    offset += walk.sizes[i];
  }
  Indent(sections, out);
  std::fprintf(out, "regions: %zu\n", walk.regions.size());
  OutputTable regions;
  regions.columns = {{"region", ""}, {"region name 1", ""}, {"region name 2", ""}};
  for (const CheckRegion& r : walk.regions) {
    regions.rows.push_back({Check_Code(r.code, 5), r.name1Read ? Utf8(r.name1) : "?",
                            r.name2Read ? Utf8(r.name2) : "?"});
  }
  Indent(regions, out);
  std::fprintf(out, "area codes: %u, extended area codes: %u\n", walk.areaCodes,
               walk.extendedAreaCodes);
  std::fprintf(out, "number blocks: %zu\n", walk.numberBlocks.size());
  OutputTable numbers;
  numbers.columns = {{"block", ""}, {"compressed", ""}, {"first", ""}, {"last", ""}, {"items", ""}};
  for (size_t k = 0; k < walk.numberBlocks.size(); ++k) {
    const CheckNumberBlock& b = walk.numberBlocks[k];
    numbers.rows.push_back({std::to_string(k), std::to_string(b.size), Check_NumberText(b.first),
                            Check_NumberText(b.last), std::to_string(b.items)});
  }
  Indent(numbers, out);
  std::fprintf(out, "entry blocks: %zu, entries: %llu\n", walk.entryBlocks.size(),
               static_cast<unsigned long long>(walk.entries));
  OutputTable blocks;
  blocks.columns = {{"block", ""},   {"compressed", ""},      {"decompressed", ""},  {"region", ""},
                    {"entries", ""}, {"first address 1", ""}, {"last address 1", ""}};
  for (size_t k = 0; k < walk.entryBlocks.size(); ++k) {
    const CheckEntryBlock& b = walk.entryBlocks[k];
    blocks.rows.push_back({std::to_string(k), std::to_string(b.size),
                           std::to_string(b.decompressed), Check_Code(b.region, 5),
                           std::to_string(b.entries), Utf8(b.first), Utf8(b.last)});
  }
  Indent(blocks, out);
  if (!entries.empty()) {
    std::fprintf(out, "entries:\n");
    OutputTable table;
    table.columns = {{"block", ""},  {"number", ""}, {"kind", ""},      {"name", ""},
                     {"postal", ""}, {"region", ""}, {"address 1", ""}, {"address 2", ""}};
    if (walk.correction) table.columns.push_back({"correction", ""});
    table.rows = entries;
    Indent(table, out);
  }
  WriteProblems(walk.problems, out);
}

void InspectCatalog(const std::string& path, const CatalogWalk& walk, FILE* out) {
  std::fprintf(out, "%s: catalog file\n", path.c_str());
  std::fprintf(out, "dictionaries: %zu\n", walk.dicts.size());
  OutputTable dicts;
  dicts.columns = {{"dictionary", ""},
                   {"file date", ""},
                   {"file time", ""},
                   {"edition 1", ""},
                   {"edition 2", ""}};
  for (const CatalogDictRow& d : walk.dicts) {
    dicts.rows.push_back({Check_Code(d.number, 4), std::to_string(d.date), Check_Code(d.time, 4),
                          std::to_string(d.edition1), std::to_string(d.edition2)});
  }
  Indent(dicts, out);
  std::fprintf(out, "regions: %zu\n", walk.regions.size());
  OutputTable regions;
  regions.columns = {
      {"region", ""}, {"region name 1", ""}, {"region name 2", ""}, {"dictionary", ""}};
  for (const CheckCatalogRegion& r : walk.regions) {
    regions.rows.push_back(
        {Check_Code(r.code, 5), Utf8(r.name1), Utf8(r.name2), Check_Code(r.dictNumber, 4)});
  }
  Indent(regions, out);
  std::fprintf(out, "prefix groups: %zu\n", walk.prefixes.size());
  OutputTable prefixes;
  prefixes.columns = {{"prefix", ""}, {"dictionaries", ""}};
  for (const auto& [prefix, numbers] : walk.prefixes) {
    std::string list;
    for (uint32_t d : numbers) list += (list.empty() ? "" : " ") + Check_Code(d, 4);
    prefixes.rows.push_back({Check_Code(prefix, 3), list});
  }
  Indent(prefixes, out);
  WriteProblems(walk.problems, out);
}

// The corrections of the set whose version is below the stamp of every dictionary listing
// their region, or whose region no dictionary lists, counted by region. These are findings
// about the data, not problems of a file: a correction is meant to lapse once a dictionary
// edition that holds it is installed.
void ReportLapsedCorrections(const CheckSet& set, bool quiet, FILE* out) {
  const LapsedCorrections lapsed = Check_LapsedCorrections(set);
  if (!lapsed.judged) return;
  const uint32_t older = lapsed.older, unlisted = lapsed.unlisted;
  const size_t total = lapsed.total;
  if (older + unlisted == 0) {
    if (!quiet) {
      std::fprintf(out, "corrections: each of %zu can apply to these dictionaries\n", total);
    }
    return;
  }
  std::fprintf(out, "corrections that can never apply to these dictionaries: %u of %zu\n",
               older + unlisted, total);
  if (older > 0) {
    std::fprintf(out,
                 "  %u with a version below the edition stamp of every dictionary listing "
                 "their region\n",
                 older);
  }
  if (unlisted > 0) std::fprintf(out, "  %u of a region no dictionary lists\n", unlisted);
  uint32_t shown = 0;
  for (const LapsedRegion& r : lapsed.regions) {
    if (shown++ == kCheckProblemsListed) {
      std::fprintf(out, "  ... and %zu more regions\n",
                   lapsed.regions.size() - kCheckProblemsListed);
      break;
    }
    const std::string versions = r.lowest == r.highest ? "version " + std::to_string(r.lowest)
                                                       : "versions " + std::to_string(r.lowest) +
                                                             " to " + std::to_string(r.highest);
    const std::string why =
        !r.listed ? "no dictionary lists the region" : "edition stamp " + std::to_string(r.stamp);
    std::fprintf(out, "  region %s: %u, %s, %s\n", Check_Code(r.code, 5).c_str(), r.count,
                 versions.c_str(), why.c_str());
  }
}

// Checks one file; problems found, or -1 with error. set gathers what the correction report
// needs.
int CheckFile(const std::string& path, bool quiet, FILE* out, std::string* error, CheckSet* set) {
  if (!IsRegularFile(path, error)) return -1;
  std::unique_ptr<CheckedFile> file(new CheckedFile());
  if (!Check_File(path, set, file.get(), error)) return -1;
  const DictWalk& dict = file->dict;
  const CheckProblems* problems = &file->Problems();
  if (problems->count == 0) {
    if (!quiet) {
      if (!file->catalog) {
        std::fprintf(out, "%s: ok (%llu entries, %zu entry blocks, %zu number blocks)\n",
                     path.c_str(), static_cast<unsigned long long>(dict.entries),
                     dict.entryBlocks.size(), dict.numberBlocks.size());
      } else {
        std::fprintf(out, "%s: ok (catalog of %zu dictionaries)\n", path.c_str(),
                     file->catalogWalk.dicts.size());
      }
    }
    return 0;
  }
  for (const CheckProblem& p : problems->listed) {
    std::fprintf(out, "%s: %s: %s\n", path.c_str(), p.place.c_str(), p.what.c_str());
  }
  if (problems->count > problems->listed.size()) {
    std::fprintf(out, "%s: ... and %llu more problems\n", path.c_str(),
                 static_cast<unsigned long long>(problems->count - problems->listed.size()));
  }
  return static_cast<int>(std::min<uint64_t>(problems->count, 1u << 30));
}

}  // namespace

bool Inspect_File(const std::string& path, bool entries, FILE* out, std::string* error) {
  if (!IsRegularFile(path, error)) return false;
  if (Check_IsCatalogFile(path)) {
    CatalogWalk walk;
    if (!Check_WalkCatalog(path, &walk, error)) return false;
    InspectCatalog(path, walk, out);
    return true;
  }
  DictWalk walk;
  std::vector<std::vector<std::string>> rows;
  CheckEntryVisitor visit;
  if (entries) {
    visit = [&](const DictEntry& e, uint32_t block) {
      rows.push_back({std::to_string(block), e.numberText, e.kindText, Utf8(e.name), e.postalText,
                      std::string(e.regionCodeText), Utf8(e.address1), Utf8(e.address2)});
      if (walk.correction) {
        rows.back().push_back(std::string(e.correctionKind == 1 ? "add " : "remove ") +
                              e.correctionVersionText);
      }
    };
  }
  if (!Check_WalkDictionary(path, Check_IsCorrectionFile(path), visit, &walk, error)) return false;
  InspectDictionary(path, walk, rows, out);
  return true;
}

namespace {

int CheckPath(const std::string& path, bool quiet, bool progress, FILE* out, std::string* error,
              CheckSet* set) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    *error = path + " does not exist";
    return -1;
  }
  if (!S_ISDIR(info.st_mode)) return CheckFile(path, quiet, out, error, set);
  std::vector<std::string> names;
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) {
    *error = "cannot read directory " + path + ": " + std::strerror(errno);
    return -1;
  }
  uint32_t number;
  while (dirent* d = readdir(dir)) {
    if (Dict_ParseFileName(d->d_name, &number)) names.push_back(d->d_name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  if (names.empty()) {
    *error = "no qorNNNN.dct files in " + path;
    return -1;
  }
  const std::string prefix = path.back() == '/' ? path : path + "/";
  int problems = 0;
  for (size_t i = 0; i < names.size(); ++i) {
    if (progress) Progress_Draw(i, names.size(), names[i].c_str());
    // The report of a file is held back while the bar is shown, so the two never share a
    // line of the terminal.
    std::optional<TextCapture> report;
    if (progress) report.emplace();
    FILE* to = report && report->file() != nullptr ? report->file() : out;
    std::string fileError;
    int found = CheckFile(prefix + names[i], quiet, to, &fileError, set);
    if (found < 0) {
      std::fprintf(to, "%s%s: %s\n", prefix.c_str(), names[i].c_str(), fileError.c_str());
      found = 1;
    }
    if (report) {
      const std::string text = report->Take();
      if (!text.empty()) {
        Progress_Clear();
        std::fwrite(text.data(), 1, text.size(), out);
        std::fflush(out);
      }
    }
    problems += found;
  }
  if (progress) Progress_Clear();
  std::string limit;
  if (Check_CatalogLimits(path, &limit)) {
    std::fprintf(out, "%s\n", limit.c_str());
    ++problems;
  }
  return problems;
}

}  // namespace

int Check_Set(const std::vector<std::string>& paths, bool quiet, bool progress, FILE* out,
              std::string* error) {
  CheckSet set;
  int problems = 0;
  for (const std::string& path : paths) {
    const int found = CheckPath(path, quiet, progress, out, error, &set);
    if (found < 0) return -1;
    problems += found;
  }
  ReportLapsedCorrections(set, quiet, out);
  return problems;
}
