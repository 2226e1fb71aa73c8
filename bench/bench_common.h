// Pieces every benchmark program shares: the query file, the clock, peak resident memory and
// the measurement lines each engine run writes (one process per engine and workload).
#ifndef QOR3_BENCH_BENCH_COMMON_H
#define QOR3_BENCH_BENCH_COMMON_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// One query of the benchmark. Texts exist in both encodings so that every engine gets the
// same question in its own form: code page 932 for qor3, UTF-8 for SQLite and tinycdb.
struct BenchQuery {
  char type = 'N';            // 'N' number lookup, 'S' name search
  std::string workload;       // "number-hit", "number-miss", "name-prefix", ...
  std::string digits;         // N: the number, digits only ("0312345678")
  uint32_t region = 0;        // S: region code
  std::string patternCp932;   // S: name pattern with full-width wildcards
  std::string patternGlob;    // S: the same pattern in UTF-8 with GLOB's '*' and '?'
  std::string address1Cp932;  // S: leading address text 1; empty: no address-1 key
  std::string address1Utf8;
};

// The query file: one query per line, tab-separated (code page 932 and UTF-8 texts hold no
// tab or line break). false with a message.
bool Bench_WriteQueries(const std::string& path, const std::vector<BenchQuery>& queries,
                        std::string* error);
bool Bench_ReadQueries(const std::string& path, std::vector<BenchQuery>* queries,
                       std::string* error);

uint64_t Bench_NowNs();
// CPU time of this process so far (user and system), ns. On a machine shared with other work
// the wall-clock time of a query includes the time the process waited for a core; its CPU
// time does not.
uint64_t Bench_CpuNs();
// Peak resident set of this process so far, KiB (getrusage ru_maxrss).
long Bench_PeakRssKiB();

// Runs every query of the given type twice: a warm-up pass that brings the files into the
// page cache and records the answer counts, then the measured pass, timed query by query.
// Writes one line per measured query, "engine TAB workload TAB index TAB count TAB ns TAB
// cpu ns", where index is the query's position in the query file, so runs of different engines
// can be joined. The CPU clock is read outside the wall-clock window, so its figure includes
// the reading of the wall clock and part of its own. A count that differs between the two passes
// is reported on stderr and makes the result false. run(query) returns the number of answers;
// hooks.Before(i) and hooks.After(i) run just outside the clocks of measured query i (the
// engine's own counters are read there).
struct BenchNoHooks {
  void Before(size_t) {}
  void After(size_t) {}
};
template <typename Run, typename Hooks = BenchNoHooks>
bool Bench_Measure(std::FILE* out, const char* engine, const std::vector<BenchQuery>& queries,
                   char type, Run run, Hooks&& hooks = Hooks()) {
  std::vector<uint32_t> warm(queries.size(), 0);
  for (size_t i = 0; i < queries.size(); ++i) {
    if (queries[i].type == type) warm[i] = run(queries[i]);
  }
  bool stable = true;
  for (size_t i = 0; i < queries.size(); ++i) {
    if (queries[i].type != type) continue;
    hooks.Before(i);
    uint64_t cpuStart = Bench_CpuNs();
    uint64_t start = Bench_NowNs();
    uint32_t count = run(queries[i]);
    uint64_t ns = Bench_NowNs() - start;
    uint64_t cpu = Bench_CpuNs() - cpuStart;
    hooks.After(i);
    if (count != warm[i]) {
      std::fprintf(stderr, "%s: query %zu answered %u, then %u\n", engine, i, warm[i], count);
      stable = false;
    }
    std::fprintf(out, "%s\t%s\t%zu\t%u\t%llu\t%llu\n", engine, queries[i].workload.c_str(), i,
                 count, static_cast<unsigned long long>(ns), static_cast<unsigned long long>(cpu));
  }
  return stable;
}

// The closing line of a run: "#rss TAB engine TAB run name TAB KiB".
void Bench_WritePeakRss(std::FILE* out, const char* engine, const std::string& runName);

// A run's name for the memory table: what it measures, and the query file's name when that
// is not the first data set's "queries.tsv" ("names", "names, big-queries").
std::string Bench_RunName(const char* what, const std::string& queryPath);

// Opens the measurement file for appending; exits the program with a message on failure.
std::FILE* Bench_OpenOutput(const char* path);

#endif  // QOR3_BENCH_BENCH_COMMON_H
