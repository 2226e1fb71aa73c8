// bench-prep: turns a generated data set into what the peers search: an SQLite database and a
// tinycdb database of the listings the qor3 set answers with (corrections applied), the
// fixed-seed query file, and optionally the same listings cut into more dictionaries for the
// open benchmark. Writes its counts and build times as "key TAB value" lines.
#include <cdb.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench_common.h"
#include "bench_data.h"
#include "common/cp932.h"
#include "files/file_names.h"
#include "mkdict/tsv_input.h"

namespace {

namespace fs = std::filesystem;

const char kUsage[] =
    "usage: bench-prep --tsv DIR --dict DIR --sqlite FILE --cdb FILE --queries FILE\n"
    "                  --stats FILE [--seed N] [--number-queries N] [--name-queries N]\n"
    "                  [--workload-prefix TEXT] [--zipf-queries FILE [--zipf-draws N]]\n"
    "                  [--open-set DIR --open-dicts N [--area-codes FILE]\n"
    "                   [--extended-area-codes FILE]]\n"
    "  --tsv      the generator's TSV files: qorNNNN.tsv, qor5001.tsv (corrections)\n"
    "  --dict     the dictionaries built from them (their edition values are read)\n"
    "  --workload-prefix  put before every workload name (a second data set's queries)\n"
    "  --zipf-queries  write a skewed number workload: existing numbers of the query file\n"
    "             drawn with a Zipf distribution (s = 1.0), N draws (default: --number-queries)\n"
    "  --open-set write the listings again as N dictionaries for the open benchmark\n";

[[noreturn]] void Fail(const std::string& message) {
  std::fprintf(stderr, "bench-prep: %s\n", message.c_str());
  std::exit(1);
}

double Seconds(uint64_t startNs) { return static_cast<double>(Bench_NowNs() - startNs) / 1e9; }

std::vector<Listing> ReadTsv(const std::string& path, bool correction) {
  std::string text, error;
  std::vector<Listing> listings;
  if (!ReadWholeFile(path, &text, &error)) Fail(error);
  if (!TsvInput_Parse(text, correction, &listings, &error)) Fail(path + ": " + error);
  return listings;
}

uint32_t ReadEdition1(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  uint8_t header[8];
  bool ok = f && std::fread(header, 1, sizeof header, f) == sizeof header;
  if (f) std::fclose(f);
  if (!ok) Fail("cannot read the header of " + path);
  return (uint32_t{header[4]} << 24) | (uint32_t{header[5]} << 16) | (uint32_t{header[6]} << 8) |
         header[7];
}

std::string Utf8(const std::string& cp932) {
  std::string out;
  if (!Cp932_ToUtf8(cp932, &out)) Fail("a listing text is not code page 932");
  return out;
}

std::string PostalText(uint32_t postal) {
  char text[16];
  std::snprintf(text, sizeof text, "%03u-%04u", postal / 10000, postal % 10000);
  return text;
}

void Exec(sqlite3* db, const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    Fail(std::string(sql) + ": " + (message ? message : "error"));
  }
}

// One table as a user would make it, texts in UTF-8, the rows inserted in entry order, the
// indexes built after the load.
void BuildSqlite(const std::string& path, const std::vector<Listing>& listings) {
  fs::remove(path);
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) Fail("cannot create " + path);
  Exec(db, "PRAGMA journal_mode=OFF");
  Exec(db, "PRAGMA synchronous=OFF");
  Exec(db,
       "CREATE TABLE listing (kind INTEGER NOT NULL, region_code INTEGER NOT NULL, "
       "number TEXT NOT NULL, postal_code TEXT NOT NULL, name TEXT NOT NULL, "
       "region_name1 TEXT NOT NULL, region_name2 TEXT NOT NULL, address1 TEXT NOT NULL, "
       "address2 TEXT NOT NULL)");
  Exec(db, "BEGIN");
  sqlite3_stmt* insert = nullptr;
  if (sqlite3_prepare_v2(db, "INSERT INTO listing VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)",
                         -1, &insert, nullptr) != SQLITE_OK) {
    Fail(sqlite3_errmsg(db));
  }
  for (const Listing& l : listings) {
    std::string texts[7] = {Listing_NumberText(l.number), PostalText(l.postal), Utf8(l.name),
                            Utf8(l.regionName1),          Utf8(l.regionName2),  Utf8(l.address1),
                            Utf8(l.address2)};
    sqlite3_bind_int(insert, 1, l.kind);
    sqlite3_bind_int(insert, 2, static_cast<int>(l.regionCode));
    for (int i = 0; i < 7; ++i) {
      sqlite3_bind_text(insert, 3 + i, texts[i].data(), static_cast<int>(texts[i].size()),
                        SQLITE_TRANSIENT);
    }
    if (sqlite3_step(insert) != SQLITE_DONE) Fail(sqlite3_errmsg(db));
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  Exec(db, "COMMIT");
  Exec(db, "CREATE INDEX listing_number ON listing (number)");
  Exec(db, "CREATE INDEX listing_region_name ON listing (region_code, name)");
  if (sqlite3_close(db) != SQLITE_OK) Fail("cannot close " + path);
}

// Keyed by the number's digits; one record per listing, its nine fields in UTF-8 joined by
// tabs, so a number held by several listings has several records.
void BuildCdb(const std::string& path, const std::vector<Listing>& listings) {
  std::string tmp = path + ".tmp";
  int fd = open(tmp.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) Fail("cannot create " + tmp);
  struct cdb_make maker;
  cdb_make_start(&maker, fd);
  for (const Listing& l : listings) {
    std::string key = Listing_NumberText(l.number);
    std::string value = std::to_string(l.kind) + "\t" + std::to_string(l.regionCode) + "\t" +
                        key + "\t" + PostalText(l.postal) + "\t" + Utf8(l.name) + "\t" +
                        Utf8(l.regionName1) + "\t" + Utf8(l.regionName2) + "\t" +
                        Utf8(l.address1) + "\t" + Utf8(l.address2);
    if (cdb_make_add(&maker, key.data(), static_cast<unsigned>(key.size()), value.data(),
                     static_cast<unsigned>(value.size())) != 0) {
      Fail("cannot write " + tmp);
    }
  }
  if (cdb_make_finish(&maker) != 0 || close(fd) != 0) Fail("cannot write " + tmp);
  fs::rename(tmp, path);
}

// Dictionary numbers 101..129, 201..229, ...: the numbers a directory scan looks for.
uint32_t OpenSetNumber(uint32_t i) { return (i / 29 + 1) * 100 + i % 29 + 1; }

// The listings cut into `count` dictionaries of whole regions, consecutive region codes
// together; returns the number of dictionaries written (fewer when there are fewer regions).
uint32_t WriteOpenSet(const std::string& dir, uint32_t count, const std::vector<BenchDict>& dicts,
                      const std::string& areaCodes, const std::string& extendedAreaCodes) {
  std::map<uint32_t, std::vector<const Listing*>> byRegion;
  for (const BenchDict& d : dicts) {
    for (const Listing& l : d.listings) byRegion[l.regionCode].push_back(&l);
  }
  if (count > byRegion.size()) count = static_cast<uint32_t>(byRegion.size());
  DictBuildOptions options;
  options.edition1 = dicts.front().edition1;
  options.edition2 = 1;
  std::string text, error;
  for (auto [path, values] : {std::pair{areaCodes, &options.areaCodes},
                              std::pair{extendedAreaCodes, &options.extendedAreaCodes}}) {
    if (path.empty()) continue;
    if (!ReadWholeFile(path, &text, &error) || !AreaCodes_Parse(text, values, &error)) {
      Fail(path + ": " + error);
    }
  }
  fs::create_directories(dir);
  for (const auto& entry : fs::directory_iterator(dir)) fs::remove(entry.path());
  std::vector<std::vector<Listing>> parts(count);
  uint32_t i = 0;
  for (const auto& [code, listings] : byRegion) {
    std::vector<Listing>& part = parts[static_cast<uint64_t>(i++) * count / byRegion.size()];
    for (const Listing* l : listings) part.push_back(*l);
  }
  for (uint32_t k = 0; k < count; ++k) {
    std::vector<uint8_t> image;
    DictBuildStats stats;
    char name[kDictFileNameLength + 1];
    Dict_FileName(OpenSetNumber(k), name);
    if (!DictBuilder_Build(std::move(parts[k]), options, &image, &stats, &error) ||
        !DictBuilder_WriteFile(dir + "/" + name, image, &error)) {
      Fail(std::string(name) + ": " + error);
    }
  }
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, std::string> args;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strncmp(argv[i], "--", 2) != 0) break;
    args[argv[i] + 2] = argv[i + 1];
  }
  for (const char* required : {"tsv", "dict", "sqlite", "cdb", "queries", "stats"}) {
    if (args.count(required) == 0 || argc % 2 == 0) {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  auto number = [&](const char* key, uint64_t fallback) {
    return args.count(key) ? std::strtoull(args[key].c_str(), nullptr, 10) : fallback;
  };

  uint64_t start = Bench_NowNs();
  std::vector<BenchDict> dicts;
  std::vector<Listing> corrections;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(args["tsv"])) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    std::string name = file.filename().string();
    unsigned n = 0;
    char tail[8] = "";
    if (std::sscanf(name.c_str(), "qor%4u.%3s", &n, tail) != 2 || std::strcmp(tail, "tsv") != 0) {
      continue;
    }
    if (n == 5001) {
      corrections = ReadTsv(file.string(), true);
      continue;
    }
    BenchDict d;
    d.number = n;
    d.listings = ReadTsv(file.string(), false);
    char dictName[kDictFileNameLength + 1];
    Dict_FileName(n, dictName);
    d.edition1 = ReadEdition1(args["dict"] + "/" + dictName);
    dicts.push_back(std::move(d));
  }
  if (dicts.empty()) Fail("no qorNNNN.tsv in " + args["tsv"]);
  double readSeconds = Seconds(start);

  std::vector<Listing> listings;
  CorrectionTally tally;
  BenchData_ApplyCorrections(dicts, corrections, &listings, &tally);
  uint64_t baseCount = 0;
  for (const BenchDict& d : dicts) baseCount += d.listings.size();

  start = Bench_NowNs();
  BuildSqlite(args["sqlite"], listings);
  double sqliteSeconds = Seconds(start);
  start = Bench_NowNs();
  BuildCdb(args["cdb"], listings);
  double cdbSeconds = Seconds(start);

  QueryPlan plan;
  plan.seed = number("seed", 1);
  plan.numberQueries = static_cast<uint32_t>(number("number-queries", 10000));
  plan.nameQueries = static_cast<uint32_t>(number("name-queries", 200));
  std::vector<BenchQuery> queries;
  BenchData_MakeQueries(listings, plan, &queries);
  for (BenchQuery& q : queries) q.workload = args["workload-prefix"] + q.workload;
  std::string error;
  if (!Bench_WriteQueries(args["queries"], queries, &error)) Fail(error);
  if (args.count("zipf-queries")) {
    // Rank k is the k-th existing number of the query file (already a random draw).
    std::vector<const BenchQuery*> hits;
    for (const BenchQuery& q : queries) {
      if (q.workload == args["workload-prefix"] + "number-hit") hits.push_back(&q);
    }
    std::vector<uint32_t> ranks;
    const auto draws = static_cast<uint32_t>(number("zipf-draws", plan.numberQueries));
    BenchData_ZipfDraws(hits.size(), draws, 1.0, plan.seed, &ranks);
    std::vector<BenchQuery> skewed;
    for (uint32_t k : ranks) {
      skewed.push_back(*hits[k]);
      skewed.back().workload = args["workload-prefix"] + "number-zipf";
    }
    if (!Bench_WriteQueries(args["zipf-queries"], skewed, &error)) Fail(error);
  }

  uint32_t openDicts = 0;
  if (args.count("open-set")) {
    openDicts = WriteOpenSet(args["open-set"], static_cast<uint32_t>(number("open-dicts", 100)),
                             dicts, args["area-codes"], args["extended-area-codes"]);
  }

  std::map<uint32_t, uint32_t> perNumber, perRegion;
  uint64_t kind2 = 0;
  for (const Listing& l : listings) {
    ++perNumber[l.number];
    ++perRegion[l.regionCode];
    kind2 += l.kind == 2;
  }
  uint64_t repeated = 0;
  for (const Listing& l : listings) repeated += perNumber[l.number] > 1;
  uint32_t largest = 0, largestCount = 0;
  BenchData_LargestRegion(listings, &largest, &largestCount);
  std::string largestName;
  for (const Listing& l : listings) {
    if (l.regionCode == largest) {
      largestName = Utf8(l.regionName1) + " " + Utf8(l.regionName2);
      break;
    }
  }

  std::FILE* stats = std::fopen(args["stats"].c_str(), "wb");
  if (!stats) Fail("cannot write " + args["stats"]);
  std::fprintf(stats, "dictionaries\t%zu\n", dicts.size());
  std::fprintf(stats, "listings_in_dictionaries\t%llu\n", static_cast<unsigned long long>(baseCount));
  std::fprintf(stats, "corrections\t%zu\n", corrections.size());
  std::fprintf(stats, "listings_answered\t%zu\n", listings.size());
  std::fprintf(stats, "regions\t%zu\n", perRegion.size());
  std::fprintf(stats, "distinct_numbers\t%zu\n", perNumber.size());
  std::fprintf(stats, "listings_sharing_a_number\t%llu\n", static_cast<unsigned long long>(repeated));
  std::fprintf(stats, "kind2_listings\t%llu\n", static_cast<unsigned long long>(kind2));
  std::fprintf(stats, "largest_region\t%u\n", largest);
  std::fprintf(stats, "largest_region_name\t%s\n", largestName.c_str());
  std::fprintf(stats, "largest_region_listings\t%u\n", largestCount);
  std::fprintf(stats, "corrections_added\t%u\n", tally.additions);
  std::fprintf(stats, "corrections_removals_applied\t%u\n", tally.removals);
  std::fprintf(stats, "corrections_listings_removed\t%u\n", tally.listingsRemoved);
  std::fprintf(stats, "corrections_outdated\t%u\n", tally.outdated);
  std::fprintf(stats, "corrections_uncovered\t%u\n", tally.uncovered);
  std::fprintf(stats, "corrections_additions_present\t%u\n", tally.additionsPresent);
  std::fprintf(stats, "corrections_removals_unmatched\t%u\n", tally.removalsUnmatched);
  std::fprintf(stats, "tsv_read_seconds\t%.3f\n", readSeconds);
  std::fprintf(stats, "sqlite_build_seconds\t%.3f\n", sqliteSeconds);
  std::fprintf(stats, "cdb_build_seconds\t%.3f\n", cdbSeconds);
  std::fprintf(stats, "sqlite_version\t%s\n", sqlite3_libversion());
  std::fprintf(stats, "open_set_dictionaries\t%u\n", openDicts);
  std::fclose(stats);
  return 0;
}
