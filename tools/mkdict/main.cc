// qor-mkdict: builds a dictionary file (qorNNNN.dct) or the correction file (qor5001.dct) from
// listings in a UTF-8 TSV file.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>

#include "common/console.h"
#include "common/progress.h"
#include "mkdict/tsv_input.h"
#include "dict/dict_format.h"
#include "files/file_names.h"

#ifndef QOR3_PROJECT_VERSION
#define QOR3_PROJECT_VERSION "unknown"
#endif
#ifndef QOR3_LIBRARY_VERSION
#define QOR3_LIBRARY_VERSION "unknown"
#endif

namespace {

const char kDescription[] =
    R"(qor-mkdict: builds dictionary files from listings in UTF-8 TSV files.
  qor-mkdict [options] INPUT.tsv OUTPUT_DIR
  qor-mkdict [options] INPUT.tsv OUTPUT_FILE
  qor-mkdict --split [--jobs N] [options] INPUT.tsv OUTPUT_DIR

Builds one dictionary file from listings in a UTF-8 TSV file (- reads the listings from
standard input). With an existing directory as the output, the file is
OUTPUT_DIR/qorNNNN.dct for --number NNNN, or OUTPUT_DIR/qor5001.dct with --correction; any
other output is taken as the file to write (then --number is not given). The file is
written to a temporary file beside it and renamed when complete, so on any error nothing is
written and an existing file is left as it was.
)";

const char kFooter[] =
    R"(Input: a header row naming the columns, in any order, then one listing per line, fields
separated by tabs (no quoting); blank lines are skipped.
  kind          1 (person: the name may start with a surname and an ideographic space)
                or 2 (business)
  region_code   0..49999; one code always has the same region names
  number        9 or 10 digits with a leading zero, hyphens allowed (03-1234-5678);
                a 10-digit number must not start with 00
  postal_code   7 digits, with or without the hyphen (123-4567)
  name          at most 400 bytes in code page 932; must not be empty for kind 1
  region_name1  at most 10 bytes
  region_name2  at most 40 bytes
  address1      at most 200 bytes; may be empty
  address2      at most 200 bytes; may be empty
  correction    (correction file) add or remove
  version       (correction file) 0..9999, by convention a YYMM: the correction applies
                where the installed dictionary's edition stamp is not above it. Above
                2047 one that is not a YYMM is stored as the YYMM before it (2613 as 2612)

Text is converted to code page 932. Name and address1 must consist of double-byte
characters: ASCII letters, digits, symbols and spaces and half-width katakana become their
full-width forms (a half-width voiced mark joins its kana: ｶﾞ becomes ガ). In every field
U+301C becomes U+FF5E, U+2212 U+FF0D, U+2014 U+2015, U+2016 U+2225, U+00A2/A3/A5/A6/AC
and U+203E their full-width forms, U+00A0 a space, and combining voiced marks join their
kana. Control characters, private-use characters and characters that code page 932 cannot
write are refused. Address2 and the region names may hold ASCII and half-width katakana.

Limits: at most 256 entry blocks (each holds one region code, so at most 256 regions), a
region table of at most 64000 bytes, at most 256 entries with the same number, at most
49999 values in each area code list.

Exit status: 0 the file was written; 1 the input could not be read or was refused, or the
file could not be written (the message names the file, and for listings the line and the
field; nothing is written); 2 a usage error (an unknown or bad option, missing arguments).)";

// The area code lists installed with qor-mkdict, found from the program's own directory:
// beside it (Windows) or in ../share/qor3/ (Linux). Build trees hold them in the same places.
const char* const kAreaCodeFiles[] = {"area_codes.txt", "extended_area_codes.txt"};

// The directory of the installed lists with its closing separator, or "" when there is none.
std::string InstalledListDirectory() {
  const std::string self = Console_ProgramDirectory();
  if (self.empty()) return {};
  for (const std::string& dir : {self, self + "../share/qor3/"}) {
    struct stat info;
    if (stat((dir + kAreaCodeFiles[0]).c_str(), &info) == 0 && S_ISREG(info.st_mode)) return dir;
  }
  return {};
}

[[noreturn]] void UsageError(const std::string& message) {
  std::fprintf(stderr, "qor-mkdict: %s\nTry 'qor-mkdict --help'.\n", message.c_str());
  std::exit(2);
}

bool ParseNumber(const std::string& text, uint32_t limit, uint32_t* out) {
  if (text.empty() || text.size() > 9) return false;
  uint32_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint32_t>(c - '0');
  }
  if (v > limit) return false;
  *out = v;
  return true;
}

bool IsDate(uint32_t v) {
  uint32_t month = v / 100 % 100, day = v % 100;
  return v >= 10000000 && month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

uint32_t Today() {
  std::time_t now = std::time(nullptr);
  std::tm* local = std::localtime(&now);
  if (local == nullptr) return 0;
  return static_cast<uint32_t>((local->tm_year + 1900) * 10000 + (local->tm_mon + 1) * 100 +
                               local->tm_mday);
}

bool IsDirectory(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Builds every dictionary of split, jobs at a time, into images; then writes them all. A bar
// of dictionaries built on standard error when progress.
int RunSplit(const MkDictJob& job, const std::string& directory, unsigned jobs, bool progress) {
  const auto started = std::chrono::steady_clock::now();
  DictBuildOptions options = job.options;
  std::string text, error;
  TsvSplit split;
  if (!MkDict_ReadAreaCodes(job, &options, &error) ||
      !ReadWholeFile(job.inputPath, &text, &error)) {
    std::fprintf(stderr, "qor-mkdict: %s\n", error.c_str());
    return 1;
  }
  if (!TsvInput_Split(text, &split, &error)) {
    std::fprintf(stderr, "qor-mkdict: %s: %s\n", job.inputPath.c_str(), error.c_str());
    return 1;
  }
  const size_t total = split.dictionaries.size();
  std::vector<std::vector<uint8_t>> images(total);
  std::vector<DictBuildStats> stats(total);
  std::vector<std::string> errors(total);
  std::atomic<size_t> next{0}, done{0};
  std::atomic<bool> failed{false};
  auto work = [&]() {
    for (size_t i; !failed && (i = next++) < total;) {
      const TsvDictionary& d = split.dictionaries[i];
      std::vector<Listing> listings;
      std::string message;
      const bool built =
          TsvInput_Parse(TsvInput_DictionaryText(split, d), false, &listings, &message,
                         &d.lineNumbers) &&
          DictBuilder_Build(std::move(listings), options, &images[i], &stats[i], &message);
      if (!built) {
        errors[i] = job.inputPath + ": dictionary " + std::to_string(d.number) + ": " + message;
        failed = true;
      }
      ++done;
    }
  };
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < jobs && t < total; ++t) threads.emplace_back(work);
  while (progress && done < total && !failed) {
    Progress_Draw(done, total, "dictionaries");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  for (std::thread& t : threads) t.join();
  if (progress) Progress_Clear();
  for (size_t i = 0; i < total; ++i) {
    if (!errors[i].empty()) {
      std::fprintf(stderr, "qor-mkdict: %s\n", errors[i].c_str());
      return 1;
    }
  }
  uint64_t entries = 0;
  for (size_t i = 0; i < total; ++i) {
    char name[kDictFileNameLength + 1];
    Dict_FileName(split.dictionaries[i].number, name);
    const std::string path = directory + name;
    if (!DictBuilder_WriteFile(path, images[i], &error)) {
      std::fprintf(stderr, "qor-mkdict: %s\n", error.c_str());
      return 1;
    }
    std::printf("%s: %u entries, %u regions, %u entry blocks, %u number blocks\n", path.c_str(),
                stats[i].entries, stats[i].regions, stats[i].entryBlocks, stats[i].numberBlocks);
    entries += stats[i].entries;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("%zu dictionaries, %llu listings in %.2f s: %.0f listings/s (%u jobs)\n", total,
              static_cast<unsigned long long>(entries), seconds,
              seconds > 0 ? static_cast<double>(entries) / seconds : 0.0, jobs);
  return 0;
}

}  // namespace

void DrawProgress(int step, int steps, const char* what) {
  Progress_Draw(static_cast<size_t>(step + 1), static_cast<size_t>(steps), what);
}

void Warn(const std::string& message) {
  if (Console_IsTerminal(stderr)) Progress_Clear();
  std::fprintf(stderr, "qor-mkdict: warning: %s\n", message.c_str());
}

int MkDictMain(int argc, char** argv) {
  MkDictJob job;
  job.options.edition1 = Today();
  job.options.edition2 = 1;
  uint32_t number = 0;
  uint32_t jobs = std::thread::hardware_concurrency();
  std::string numberText, jobsText, edition1Text, edition2Text, blockBytesText, output;
  bool split = false;

  CLI::App app{kDescription};
  app.allow_windows_style_options(false);  // on Windows too, /path is a path, not an option
  app.name("qor-mkdict");  // not argv[0]: the help text and the manual page show this name
  app.footer(kFooter);
  app.get_formatter()->column_width(21);
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.set_help_flag("-h,--help", "this text");
  app.set_version_flag("--version",
                       std::string("qor-mkdict ") + QOR3_PROJECT_VERSION + " (qor3 library " +
                           QOR3_LIBRARY_VERSION + ")",
                       "the version of qor-mkdict and of the qor3 library");
  CLI::Option* numberOption =
      app.add_option("--number", numberText,
                     "dictionary number, 101..4729 with last two digits 01..29 (the numbers\n"
                     "a dictionary directory is scanned for); needed with OUTPUT_DIR")
          ->type_name("N");
  app.add_flag("--correction", job.options.correction,
               "build the correction file qor5001.dct: the input has the columns\n"
               "correction and version as well; a version that cannot be a YYMM\n"
               "draws a warning")
      ->disable_flag_override();
  CLI::Option* edition1Option = app.add_option("--edition1", edition1Text,
                 "edition value 1 (header offset 4); default: today's local date. The\n"
                 "newer copy of a dictionary is the one with the larger edition value 1,\n"
                 "then edition value 2; correction versions are compared with\n"
                 "(edition1 / 100) mod 10000 of the installed dictionary (YYMM)")
      ->type_name("YYYYMMDD");
  CLI::Option* edition2Option = app.add_option("--edition2", edition2Text,
                 "edition value 2, 0..9999 (header offset 8); default 1")
      ->type_name("N");
  CLI::Option* areaCodesOption = app.add_option("--area-codes", job.areaCodesPath,
                 "area codes, one per line with their leading zero (\"03\", \"0422\",\n"
                 "\"01267\"); blank lines and lines starting with # are skipped. They split\n"
                 "result numbers into hyphenated groups. Default: area_codes.txt and\n"
                 "extended_area_codes.txt installed with qor-mkdict (../share/qor3/ from\n"
                 "its directory; on Windows its own directory). none: no area codes and\n"
                 "no extended values but those --extended-area-codes gives (numbers\n"
                 "come back unhyphenated)")
      ->type_name("FILE");
  CLI::Option* extendedOption = app.add_option("--extended-area-codes", job.extendedAreaCodesPath,
                 "extended values, one per line: an area code followed by the first\n"
                 "digit after it (\"0425\": area code 042 when the next digit is 5).\n"
                 "Default: the installed list when --area-codes is not given, else none")
      ->type_name("FILE");
  CLI::Option* blockBytesOption = app.add_option("--block-bytes", blockBytesText,
                 "target decompressed size of an entry block, 1024..150000; default\n"
                 "1024. Raised automatically when the data needs more than 256 blocks.\n"
                 "A block that compression would shrink by less than a quarter is\n"
                 "stored uncompressed (still a zlib stream): it reads faster")
      ->type_name("N");
  app.add_flag("--split", split,
               "build every dictionary of a whole set from one TSV: its extra column\n"
               "dictionary gives each listing's dictionary number, and\n"
               "OUTPUT_DIR/qorNNNN.dct is built for each number. Every dictionary is\n"
               "checked and built before the first file is written")
      ->disable_flag_override();
  CLI::Option* jobsOption =
      app.add_option("--jobs", jobsText,
                     "with --split: dictionaries built at the same time (default: the number\n"
                     "of processors)")
          ->type_name("N");
  app.add_option("INPUT.tsv", job.inputPath, "the listings (- reads standard input)")
      ->type_name("");
  app.add_option("OUTPUT", output, "OUTPUT_DIR or OUTPUT_FILE")->type_name("");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version: to stdout
    UsageError(e.what());
  }

  // From here on the paths are as the system takes them (the ANSI code page on Windows).
  for (std::string* path :
       {&job.inputPath, &job.areaCodesPath, &job.extendedAreaCodesPath, &output}) {
    if (*path == "-") continue;  // standard input
    const std::string system = Console_SystemPath(*path);
    if (system.empty() && !path->empty()) {
      UsageError(*path + ": a path the system's code page cannot write");
    }
    *path = system;
  }

  const bool haveNumber = numberOption->count() > 0;
  if (haveNumber && (!ParseNumber(numberText, 9999, &number) || !InProbeRange(number))) {
    UsageError("--number " + numberText +
               ": not a dictionary number 101..4729 with last two digits 01..29");
  }
  if (jobsOption->count() > 0 && (!ParseNumber(jobsText, 256, &jobs) || jobs == 0)) {
    UsageError("--jobs " + jobsText + ": not a number from 1 to 256");
  }
  DictBuildOptions& options = job.options;
  if (edition1Option->count() > 0 &&
      (edition1Text.size() != 8 || !ParseNumber(edition1Text, kMaxEdition1, &options.edition1) ||
       !IsDate(options.edition1))) {
    UsageError("--edition1 " + edition1Text + ": not a date YYYYMMDD");
  }
  if (edition2Option->count() > 0 && !ParseNumber(edition2Text, kMaxEdition2, &options.edition2)) {
    UsageError("--edition2 " + edition2Text + ": not a number from 0 to 9999");
  }
  if (blockBytesOption->count() > 0 &&
      (!ParseNumber(blockBytesText, kDecompressedBlockMax, &job.options.blockBytes) ||
       job.options.blockBytes < kMinBlockBytes)) {
    UsageError("--block-bytes " + blockBytesText + ": not a number from 1024 to 150000");
  }
  if (job.inputPath.empty() || output.empty()) {
    UsageError("expected INPUT.tsv and an output directory or file");
  }
  if (job.options.edition1 == 0) UsageError("today's date is unknown: give --edition1");
  if (areaCodesOption->count() == 0) {
    const std::string dir = InstalledListDirectory();
    if (dir.empty()) {
      std::fprintf(stderr,
                   "qor-mkdict: no %s beside the program or in ../share/qor3/: give "
                   "--area-codes FILE, or --area-codes none for numbers without hyphens\n",
                   kAreaCodeFiles[0]);
      return 1;
    }
    job.areaCodesPath = dir + kAreaCodeFiles[0];
    if (extendedOption->count() == 0) job.extendedAreaCodesPath = dir + kAreaCodeFiles[1];
  }
  if (job.areaCodesPath == "none") job.areaCodesPath.clear();
  if (job.extendedAreaCodesPath == "none") job.extendedAreaCodesPath.clear();

  if (split) {
    if (haveNumber || job.options.correction) {
      UsageError("--split builds the numbers of the dictionary column: no --number or "
                 "--correction");
    }
    if (!IsDirectory(output)) {
      UsageError("--split needs an output directory; " + output + " is not one");
    }
    return RunSplit(job, output.back() == '/' ? output : output + "/", jobs == 0 ? 1 : jobs,
                    Console_IsTerminal(stderr));
  }
  if (IsDirectory(output)) {
    if (job.options.correction && haveNumber) {
      UsageError("--number and --correction exclude each other");
    }
    if (!job.options.correction && !haveNumber) {
      UsageError("an output directory needs --number (or --correction)");
    }
    char name[kDictFileNameLength + 1];
    Dict_FileName(job.options.correction ? kCorrectionDictNumber : number, name);
    job.outputPath = output;
    if (job.outputPath.back() != '/') job.outputPath += '/';
    job.outputPath += name;
  } else {
    if (haveNumber) UsageError("--number names the file in an output directory; " + output +
                               " is not a directory");
    job.outputPath = output;
  }

  DictBuildStats stats;
  std::string error;
  const bool progress = Console_IsTerminal(stderr);
  if (progress) job.progress = DrawProgress;
  job.warn = Warn;
  const bool built = MkDict_Run(job, &stats, &error);
  if (progress) Progress_Clear();
  if (!built) {
    std::fprintf(stderr, "qor-mkdict: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s: %u entries, %u regions, %u entry blocks, %u number blocks\n",
              job.outputPath.c_str(), stats.entries, stats.regions, stats.entryBlocks,
              stats.numberBlocks);
  return 0;
}

int main(int argc, char** argv) { return Console_Run(argc, argv, MkDictMain); }
