// qor: the command-line tool over the five exported functions of qor3 (the two searches, the
// region list, installing dictionaries) and the data maintainer's inspect and check of
// dictionary and catalog files. Input and output are UTF-8; the library works in code page
// 932.
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "check/file_check.h"
#include "common/console.h"
#include "common/cp932.h"
#include "dict/dict_format.h"
#include "files/file_names.h"
#include "qor/dict_check.h"
#include "qor/output.h"
#include "qor3.h"

#ifndef QOR3_DEFAULT_DICT_DIR
#define QOR3_DEFAULT_DICT_DIR ""
#endif
#ifndef QOR3_DEFAULT_CORRECTION_DIR
#define QOR3_DEFAULT_CORRECTION_DIR ""
#endif
#ifndef QOR3_PROJECT_VERSION
#define QOR3_PROJECT_VERSION "unknown"
#endif
#ifndef QOR3_LIBRARY_VERSION
#define QOR3_LIBRARY_VERSION "unknown"
#endif

namespace {

constexpr int kExitFound = 0;
constexpr int kExitNothing = 1;
constexpr int kExitError = 2;

// A request or usage error: the message goes to stderr and the tool exits with status 2.
struct QorError {
  std::string message;
};

[[noreturn]] void Fail(const std::string& message) { throw QorError{message}; }

std::string SystemPath(const std::string& path) {
  const std::string system = Console_SystemPath(path);
  if (system.empty() && !path.empty()) Fail(path + ": a path the system's code page cannot write");
  return system;
}

bool IsDirectory(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsReadableFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         access(path.c_str(), R_OK) == 0;
}

// The dictionary set of one command: two dictionary directories and the correction
// directory. The default is QOR_DIR for all three roles, else the bundled sample set.
struct SetOptions {
  std::string dir;
  std::string dir2;
  std::string corrections;
  bool dirGiven = false;
  bool correctionsGiven = false;
};

struct FormatOptions {
  bool json = false;
  bool tsv = false;
  uint32_t limit = 0;  // searches: at most this many results written; 0 = all
  OutputFormat Format() const {
    return json ? OutputFormat::kJson : tsv ? OutputFormat::kTsv : OutputFormat::kTable;
  }
};

void AddSetOptions(CLI::App* command, SetOptions* set) {
  command->add_option("--dir", set->dir,
                      "dictionary directory 1 (default: $QOR_DIR, else the bundled sample set)");
  command->add_option("--dir2", set->dir2, "dictionary directory 2 (default: none)");
  command->add_option("--corrections", set->corrections,
                      "directory holding the correction file qor5001.dct (default: the "
                      "dictionary directory given by $QOR_DIR, else the sample set's)");
}

void AddFormatOptions(CLI::App* command, FormatOptions* format) {
  auto* json = command->add_flag("--json", format->json, "write a JSON array");
  command->add_flag("--tsv", format->tsv, "write tab-separated values")->excludes(json);
}

void ResolveSet(CLI::App* command, SetOptions* set) {
  set->dirGiven = command->count("--dir") > 0;
  set->correctionsGiven = command->count("--corrections") > 0;
  const char* env = std::getenv("QOR_DIR");
  const bool fromEnv = env != nullptr && *env != '\0';
  if (!set->dirGiven) set->dir = fromEnv ? env : QOR3_DEFAULT_DICT_DIR;
  if (!set->correctionsGiven) {
    set->corrections = set->dirGiven || fromEnv ? set->dir : QOR3_DEFAULT_CORRECTION_DIR;
  }
}

void CheckDirectory(const std::string& path, const char* role, bool defaulted) {
  if (path.empty()) return;
  if (!IsDirectory(path)) {
    std::string message = std::string(role) + " " + path + " does not exist";
    if (defaulted) {
      message +=
          " (the bundled sample set is made by 'cmake --build build --target "
          "sample_dicts'; or give --dir or set QOR_DIR)";
    }
    Fail(message);
  }
  if (path.size() > 191) Fail(std::string(role) + " " + path + ": path longer than 191 bytes");
}

// A directory as the library takes it (checked to fit by CheckDirectory).
void SetPath(const std::string& path, uint32_t* length, char* field) {
  *length = static_cast<uint32_t>(std::min<size_t>(path.size(), 191));
  std::memcpy(field, path.data(), *length);
}

// Why Qor_Open found nothing usable: a directory with dictionaries but no catalog that it
// cannot write is told apart from one without dictionaries.
std::string OpenFailure(const SetOptions& set) {
  std::string message;
  for (const std::string* dir : {&set.dir, &set.dir2}) {
    if (dir->empty()) continue;
    int dictionaries = 0;
    for (uint32_t n = 0; n < kCatalogDictNumber; ++n) {
      if (!InProbeRange(n)) continue;
      char name[kDictFileNameLength + 1];
      Dict_FileName(n, name);
      if (IsReadableFile(*dir + "/" + name)) ++dictionaries;
    }
    if (!message.empty()) message += "; ";
    if (dictionaries > 0 && access(dir->c_str(), W_OK) != 0) {
      message += *dir + " holds " + std::to_string(dictionaries) +
                 " dictionaries but no readable catalog qor9999.dct, and the catalog cannot be "
                 "written there (read-only); 'qor install' them into a writable directory";
    } else if (dictionaries > 0) {
      message += *dir + " holds " + std::to_string(dictionaries) +
                 " dictionaries but its catalog qor9999.dct could not be read or made";
    } else {
      message += "no dictionaries (qorNNNN.dct) in " + *dir;
    }
  }
  if (message.empty()) message = "no dictionary directory given";
  if (!set.corrections.empty()) message += ", and no correction file in " + set.corrections;
  return message;
}

// An open dictionary set: Qor_Open on construction, Qor_Close on destruction.
class OpenSet {
 public:
  explicit OpenSet(const SetOptions& set) {
    CheckDirectory(set.dir, "dictionary directory", !set.dirGiven);
    CheckDirectory(set.dir2, "dictionary directory 2", false);
    CheckDirectory(set.corrections, "correction directory", !set.correctionsGiven);
    OpenRequest request;
    std::memset(&request, 0, sizeof request);
    SetPath(set.dir, &request.directory1Length, request.directory1);
    SetPath(set.dir2, &request.directory2Length, request.directory2);
    SetPath(set.corrections, &request.correctionDirectoryLength, request.correctionDirectory);
    std::memset(&result_, 0, sizeof result_);
    handle_ = Qor_Open(&request, &result_);
    if (handle_ == nullptr) Fail(OpenFailure(set));
  }
  ~OpenSet() { Qor_Close(handle_, &result_); }
  OpenSet(const OpenSet&) = delete;
  OpenSet& operator=(const OpenSet&) = delete;

  void* handle() const { return handle_; }
  const OpenResult& result() const { return result_; }
  bool HasRegion(uint32_t code) const {
    for (uint32_t i = 0; i < result_.regionCount; ++i) {
      if (static_cast<uint32_t>(result_.regions[i]->regionCode) == code) return true;
    }
    return false;
  }

 private:
  void* handle_ = nullptr;
  OpenResult result_;
};

// Runs the request and writes its results; the exit status says whether any was found.
int SearchAndWrite(const OpenSet& set, SearchRequest* request, const FormatOptions& format) {
  Qor_Search(set.handle(), request);
  OutputTable table = Output_Results(*request);
  const uint32_t count = request->resultCount;
  Qor_MemRelease(request);
  if (format.limit != 0 && count > format.limit) {
    table.rows.resize(format.limit);
    std::fprintf(stderr, "qor: %u of %u results shown (--limit)\n", format.limit, count);
  }
  if (count == 0 && format.Format() == OutputFormat::kTable) {
    std::fprintf(stderr, "qor: nothing found\n");
    return kExitNothing;
  }
  Output_Write(table, format.Format(), stdout);
  return count > 0 ? kExitFound : kExitNothing;
}

// A national number: 9 or 10 digits starting with 0, hyphens allowed.
void CheckKey(const std::string& key) {
  std::string digits;
  for (char c : key) {
    if (c >= '0' && c <= '9') {
      digits += c;
    } else if (c != '-') {
      Fail("bad number " + Text_Excerpt(key) +
           ": only digits and hyphens are allowed (03-1234-5678)");
    }
  }
  if (digits.size() != 9 && digits.size() != 10) {
    Fail("bad number " + Text_Excerpt(key) + ": " + std::to_string(digits.size()) +
         " digits, a number has 9 or 10 (03-1234-5678)");
  }
  if (digits[0] != '0') Fail("bad number " + Text_Excerpt(key) + ": a number starts with 0");
  if (key.size() > sizeof(SearchRequest::key)) {
    Fail("bad number " + Text_Excerpt(key) + ": longer than 40 characters");
  }
}

int RunNumber(const SetOptions& setOptions, const std::string& key, const FormatOptions& format) {
  CheckKey(key);
  OpenSet set(setOptions);
  SearchRequest request;
  std::memset(&request, 0, sizeof request);
  request.mode = 2;
  request.keyLength = static_cast<uint32_t>(key.size());
  std::memcpy(request.key, key.data(), key.size());
  return SearchAndWrite(set, &request, format);
}

// A UTF-8 request text in code page 932, within its field of the request.
std::string RequestText(const std::string& utf8, bool fullWidth, size_t capacity,
                        const char* what) {
  std::string cp932, error;
  if (!Cp932_FromUtf8(utf8, fullWidth, &cp932, &error)) {
    Fail(std::string(what) + " " + Text_Excerpt(utf8) + ": " + error);
  }
  if (cp932.size() > capacity) {
    Fail(std::string(what) + " " + Text_Excerpt(utf8) + ": " + std::to_string(cp932.size()) +
         " bytes in code page 932, at most " + std::to_string(capacity));
  }
  return cp932;
}

struct NameOptions {
  std::string region;
  std::string pattern;
  std::string address1;
  std::string address2;
  uint32_t kind = 3;
};

// A region code in decimal (leading zeros as qor regions shows them, never octal).
uint32_t ParseRegion(const std::string& text) {
  if (text.empty() || text.size() > 5 ||
      text.find_first_not_of("0123456789") != std::string::npos || std::stoul(text) > 49999) {
    Fail("bad region code " + Text_Excerpt(text) +
         ": expected a number from 0 to 49999 (01101, 13101)");
  }
  return static_cast<uint32_t>(std::stoul(text));
}

int RunName(const SetOptions& setOptions, const NameOptions& name, const FormatOptions& format) {
  const uint32_t region = ParseRegion(name.region);
  if (Utf8_IsBlankPattern(name.pattern)) {
    Fail("pattern " + Text_Excerpt(name.pattern) +
         " is blank: it needs at least one character besides "
         "the wildcards * ? and spaces");
  }
  SearchRequest request;
  std::memset(&request, 0, sizeof request);
  // Names and address text 1 are stored in full-width forms, so ASCII input is widened too.
  const std::string pattern =
      RequestText(name.pattern, true, sizeof request.namePattern, "pattern");
  const std::string address1 =
      RequestText(name.address1, true, sizeof request.address1, "--address1");
  const std::string address2 =
      RequestText(name.address2, false, sizeof request.address2, "--address2");
  OpenSet set(setOptions);
  if (!set.HasRegion(region)) {
    Fail("unknown region " + Output_Digits(region, 5) +
         ": the dictionary set does not cover it "
         "('qor regions' lists the regions)");
  }
  request.mode = 1;
  request.kindFilter = name.kind;
  request.regionCode = region;
  request.namePatternLength = static_cast<uint32_t>(pattern.size());
  std::memcpy(request.namePattern, pattern.data(), pattern.size());
  request.address1Length = static_cast<uint32_t>(address1.size());
  std::memcpy(request.address1, address1.data(), address1.size());
  request.address2Length = static_cast<uint32_t>(address2.size());
  std::memcpy(request.address2, address2.data(), address2.size());
  return SearchAndWrite(set, &request, format);
}

int RunRegions(const SetOptions& setOptions, const FormatOptions& format) {
  OpenSet set(setOptions);
  const OpenResult& result = set.result();
  OutputTable table = Output_Regions(result);
  Output_Write(table, format.Format(), stdout);
  // A catalog that cannot hold every dictionary leaves some out of the set: say so.
  for (const std::string* dir : {&setOptions.dir, &setOptions.dir2}) {
    std::string limit;
    if (!dir->empty() && Check_CatalogLimits(*dir, &limit)) {
      std::fprintf(stderr, "qor: warning: %s\n", limit.c_str());
    }
  }
  return result.regionCount > 0 ? kExitFound : kExitNothing;
}

struct InstallOptions {
  std::string from;
  std::string to;
  std::vector<std::string> numbers;
};

// A dictionary number that a directory scan finds (0101..4729 with last two digits 01..29),
// or 5001, the correction file.
uint32_t ParseDictNumber(const std::string& text) {
  const bool digits = !text.empty() && text.size() <= 4 &&
                      text.find_first_not_of("0123456789") == std::string::npos;
  const uint32_t n = digits ? static_cast<uint32_t>(std::stoul(text)) : 0;
  if (digits && n == kCorrectionDictNumber) return n;
  if (!digits || !InProbeRange(n)) {
    Fail("bad dictionary number " + Text_Excerpt(text) +
         ": expected 0101..4729 with last two digits "
         "01..29, or 5001 (the correction file)");
  }
  return n;
}

int RunInstall(const InstallOptions& install) {
  CheckDirectory(install.from, "source directory", false);
  CheckDirectory(install.to, "destination directory", false);
  std::vector<int32_t> numbers;
  for (const std::string& text : install.numbers) {
    const uint32_t n = ParseDictNumber(text);
    const std::string file = install.from + "/qor" + Output_Digits(n, 4) + ".dct";
    if (!IsReadableFile(file)) Fail("dictionary " + file + " does not exist");
    // A damaged file would replace a good one and take its regions away.
    std::string problem;
    if (!Check_Dictionary(file, &problem)) {
      Fail(file + " is not a readable dictionary (" + problem + "); nothing installed");
    }
    numbers.push_back(static_cast<int32_t>(n));
  }
  // The library's limit for one call.
  if (numbers.size() > 300) Fail("at most 300 dictionaries per install");
  const int32_t copied = Qor_CopyDic(install.from.data(), static_cast<int32_t>(install.from.size()),
                                     install.to.data(), static_cast<int32_t>(install.to.size()),
                                     numbers.data(), static_cast<int32_t>(numbers.size()));
  std::printf("installed %d of %zu dictionaries into %s\n", copied, numbers.size(),
              install.to.c_str());
  if (copied != static_cast<int32_t>(numbers.size())) {
    Fail(std::to_string(numbers.size() - static_cast<size_t>(std::max(copied, 0))) +
         " could not be copied into " + install.to);
  }
  // The files are in place; without a catalog that lists them the install is not done.
  std::string problem;
  if (!Check_CatalogLists(install.to, std::vector<uint32_t>(numbers.begin(), numbers.end()),
                          &problem)) {
    Fail("the catalog was not brought up to date (is the directory full or read-only?): " +
         problem);
  }
  return kExitFound;
}

// Refuses what cannot be a dictionary, catalog or correction file, saying what it is: a
// directory, a file shorter than the 256-byte header, or text (a header of little-endian
// sizes always holds zero bytes).
void CheckInspectable(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) Fail(path + " does not exist");
  if (S_ISDIR(info.st_mode)) {
    Fail(path + " is a directory; inspect takes one file ('qor check " + path +
         "' checks a directory)");
  }
  if (!S_ISREG(info.st_mode)) Fail(path + " is not a regular file");
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) Fail("cannot open " + path + ": " + std::strerror(errno));
  unsigned char head[256];
  const size_t n = std::fread(head, 1, sizeof head, file);
  std::fclose(file);
  const char* kind = "a dictionary, catalog or correction file";
  if (n >= 4 && std::memcmp(head, "ABCD", 4) == 0) return;
  if (n < sizeof head) {
    Fail(path + " is not " + kind + ": " + std::to_string(n) +
         " bytes, shorter than the 256-byte header");
  }
  if (std::memchr(head, 0, sizeof head) == nullptr) {
    Fail(path + " is not " + kind + ": it holds text (a TSV of listings? 'qor-mkdict' builds "
         "a dictionary from one)");
  }
}

// The command called name, or nullptr.
const CLI::App* FindCommand(const CLI::App& app, const std::string& name) {
  for (const CLI::App* command : app.get_subcommands(nullptr)) {
    if (command->check_name(name)) return command;
  }
  return nullptr;
}

// qor serve ARGS: runs qor-serve from the directory of this program with the same arguments.
#if defined(_WIN32)
int RunServe(int, char**) {
  std::fprintf(stderr, "qor: serve: qor-serve is built for Linux only\n");
  return kExitError;
}
#else
int RunServe(int argc, char** argv) {
  std::string path = Console_ProgramDirectory() + "qor-serve";
  std::vector<char*> args;
  args.push_back(path.data());
  for (int i = 2; i < argc; ++i) args.push_back(argv[i]);
  args.push_back(nullptr);
  execv(path.c_str(), args.data());
  std::fprintf(stderr, "qor: cannot run %s: %s\n", path.c_str(), std::strerror(errno));
  return kExitError;
}
#endif

std::string VersionText() {
  return std::string("qor ") + QOR3_PROJECT_VERSION + " (qor3 library " + QOR3_LIBRARY_VERSION +
         ")";
}

}  // namespace

int QorMain(int argc, char** argv) {
  CLI::App app{
      "qor: searches qor3 dictionary sets, installs dictionaries, inspects and checks "
      "dictionary files.\nTexts are UTF-8. Exit status: 0 something found, 1 nothing "
      "found, 2 error."};
  app.name("qor");  // not argv[0]: help texts and the manual page show the command's name
  app.allow_windows_style_options(false);  // on Windows too, /path is a path, not an option
  app.require_subcommand(1);
  app.set_version_flag("--version", VersionText(), "print the version and exit");

  SetOptions set;
  FormatOptions format;
  std::string key;
  CLI::App* number = app.add_subcommand("number", "who has this telephone number");
  number->add_option("KEY", key, "9 or 10 digits with a leading zero, hyphens allowed")->required();
  AddSetOptions(number, &set);
  AddFormatOptions(number, &format);
  number->add_option("--limit", format.limit, "write at most N results (default: all)");

  NameOptions name;
  CLI::App* nameCommand =
      app.add_subcommand("name", "which listings of a region have a name like PATTERN");
  nameCommand->add_option("--region", name.region, "region code, 0 to 49999 (qor regions)")
      ->required();
  nameCommand
      ->add_option("PATTERN", name.pattern,
                   "the name; * stands for any run of characters, ? for one character")
      ->required();
  nameCommand->add_option("--address1", name.address1, "leading text of address text 1");
  nameCommand->add_option("--address2", name.address2, "leading text of address text 2");
  nameCommand->add_option("--kind", name.kind, "1 persons, 2 businesses, 3 both (default)")
      ->check(CLI::IsMember({1u, 2u, 3u}));
  AddSetOptions(nameCommand, &set);
  AddFormatOptions(nameCommand, &format);
  nameCommand->add_option("--limit", format.limit, "write at most N results (default: all)");

  CLI::App* regions = app.add_subcommand("regions", "the regions the dictionary set covers");
  AddSetOptions(regions, &set);
  AddFormatOptions(regions, &format);

  InstallOptions install;
  CLI::App* installCommand = app.add_subcommand(
      "install",
      "copy dictionaries qorNNNN.dct into a dictionary directory and rebuild its "
      "catalog");
  installCommand->add_option("--from", install.from, "source directory")->required();
  installCommand->add_option("--to", install.to, "destination directory")->required();
  installCommand
      ->add_option("NUMBER", install.numbers,
                   "dictionary numbers (0101, 1301, ...; 5001 the correction file)")
      ->required();

  std::string inspectFile;
  bool entries = false;
  CLI::App* inspect = app.add_subcommand(
      "inspect", "what a dictionary (qorNNNN.dct, qor5001.dct) or catalog (qor9999.dct) holds");
  inspect
      ->add_option("FILE", inspectFile,
                   "the file; one named qor5001.dct is read as the correction file, one named "
                   "qor9999.dct or starting with ABCD as a catalog")
      ->required();
  inspect->add_flag("--entries", entries, "list every entry too");

  std::vector<std::string> checkPaths;
  bool quiet = false;
  CLI::App* check =
      app.add_subcommand("check",
                         "check every block, limit, offset and the entry order of dictionary and "
                         "catalog files; exit 1 when a problem is found. Given dictionaries and "
                         "the correction file, it also lists the corrections that can never "
                         "apply to them (not a problem)");
  check
      ->add_option("PATH", checkPaths,
                   "files, or directories (their qorNNNN.dct files); files are told apart as "
                   "for inspect")
      ->required();
  check->add_flag("-q,--quiet", quiet, "report problems only");

  // Run by RunServe before parsing; here for the command list and help.
  app.add_subcommand("serve",
                     "answer number and name searches over HTTP (runs qor-serve with the same "
                     "arguments; 'qor serve --help' lists its options)")
      ->allow_extras();

  std::string helpTopic;
  CLI::App* help = app.add_subcommand("help", "describe the commands, or one command");
  help->add_option("COMMAND", helpTopic, "the command to describe");

  // Commands are named in the message when missing or unknown; CLI11 would only say that a
  // subcommand is required.
  std::string commands;
  for (const CLI::App* command : std::as_const(app).get_subcommands(nullptr)) {
    commands += (commands.empty() ? "" : ", ") + command->get_name();
  }
  if (argc < 2) {
    std::fprintf(stderr, "qor: a command is required (%s); 'qor help' describes them\n",
                 commands.c_str());
    return kExitError;
  }
  const std::string first = argv[1];
  if (first == "serve") return RunServe(argc, argv);
  if (first[0] != '-' && FindCommand(app, first) == nullptr) {
    std::fprintf(stderr, "qor: unknown command '%.80s' (commands: %s)\n", argv[1], commands.c_str());
    return kExitError;
  }
  if (first[0] == '-' && first != "-h" && first != "--help" && first != "--version") {
    std::fprintf(stderr, "qor: unknown option '%s' (a command comes first: %s)\n", argv[1],
                 commands.c_str());
    return kExitError;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version: to stdout
    std::string where = "qor";
    for (const CLI::App* command : app.get_subcommands()) where += " " + command->get_name();
    std::fprintf(stderr, "qor: %s\nqor: see '%s --help'\n", e.what(), where.c_str());
    return kExitError;
  }

  try {
    // From here on the paths are as the system and the library take them (the ANSI code page
    // on Windows; $QOR_DIR comes so already).
    for (std::string* path : {&set.dir, &set.dir2, &set.corrections, &install.from, &install.to,
                              &inspectFile}) {
      *path = SystemPath(*path);
    }
    for (std::string& path : checkPaths) path = SystemPath(path);
    if (*number) {
      ResolveSet(number, &set);
      return RunNumber(set, key, format);
    }
    if (*nameCommand) {
      ResolveSet(nameCommand, &set);
      return RunName(set, name, format);
    }
    if (*regions) {
      ResolveSet(regions, &set);
      return RunRegions(set, format);
    }
    if (*installCommand) return RunInstall(install);
    if (*help) {
      if (helpTopic.empty()) {
        std::fputs(app.get_formatter()->make_help(&app, "qor", CLI::AppFormatMode::Normal).c_str(),
                   stdout);
        return kExitFound;
      }
      const CLI::App* topic = FindCommand(app, helpTopic);
      if (topic == nullptr) {
        Fail("unknown command '" + helpTopic.substr(0, 80) + "' (commands: " + commands + ")");
      }
      std::fputs(topic->help("qor").c_str(), stdout);
      return kExitFound;
    }
    if (*inspect) {
      CheckInspectable(inspectFile);
      std::string error;
      if (!Inspect_File(inspectFile, entries, stdout, &error)) Fail(error);
      return kExitFound;
    }
    if (*check) {
      std::string error;
      const int problems =
          Check_Set(checkPaths, quiet, Console_IsTerminal(stderr), stdout, &error);
      if (problems < 0) Fail(error);
      return problems == 0 ? kExitFound : kExitNothing;
    }
  } catch (const QorError& e) {
    std::fprintf(stderr, "qor: %s\n", e.message.c_str());
    return kExitError;
  }
  return kExitError;
}

int main(int argc, char** argv) { return Console_Run(argc, argv, QorMain); }
