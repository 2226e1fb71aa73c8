// bench-qor: the qor3 side of the benchmark, searching through the five exported functions:
// number lookups (Qor_Search mode 2), name searches (mode 1), the first searches after each
// Qor_Open (engine cache empty), and Qor_Open with current catalogs and with none (each open
// then refreshes every dictionary). Linked with the static engine, whose cache counters it
// reads between queries, outside the clocks: "#cache qor3 WORKLOAD LOOKUPS HITS" per workload
// and "#cachemem qor3 RUN PEAK_BYTES BUDGET" per run.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench_common.h"
#include "engine/engine.h"
#include "qor3.h"

namespace {

const char kUsage[] =
    "usage: bench-qor numbers|names QUERIES DICT_DIR CORRECTION_DIR OUT\n"
    "       bench-qor cold QUERIES DICT_DIR CORRECTION_DIR ITERATIONS OUT\n"
    "       bench-qor open DICT_DIR CORRECTION_DIR ITERATIONS LABEL OUT\n"
    "       bench-qor threads N QUERIES DICT_DIR CORRECTION_DIR OUT\n";

volatile uint32_t g_sink;

// The cache's lookups and hits over the measured queries, by workload.
struct CacheTally {
  EngineCache* cache = nullptr;  // of the engine the handle stands for
  std::map<std::string, std::pair<uint64_t, uint64_t>> byWorkload;
  EngineCacheStats before{};

  void Start() { EngineCache_Stats(cache, &before); }
  void Add(const std::string& workload) {
    EngineCacheStats after;
    EngineCache_Stats(cache, &after);
    auto& [lookups, hits] = byWorkload[workload];
    lookups += after.lookups - before.lookups;
    hits += after.hits - before.hits;
  }
  void Write(std::FILE* out, const std::string& runName) const {
    for (const auto& [workload, counts] : byWorkload) {
      std::fprintf(out, "#cache\tqor3\t%s\t%llu\t%llu\n", workload.c_str(),
                   static_cast<unsigned long long>(counts.first),
                   static_cast<unsigned long long>(counts.second));
    }
    EngineCacheStats now;
    EngineCache_Stats(cache, &now);
    std::fprintf(out, "#cachemem\tqor3\t%s\t%llu\t%llu\n", runName.c_str(),
                 static_cast<unsigned long long>(now.peakBytes),
                 static_cast<unsigned long long>(now.budget));
  }
};

// Bench_Measure's hooks: the counters before and after each measured query.
struct CacheHooks {
  CacheTally* tally;
  const std::vector<BenchQuery>* queries;
  void Before(size_t) { tally->Start(); }
  void After(size_t i) { tally->Add((*queries)[i].workload); }
};

void SetPath(const std::string& dir, uint32_t* length, char* field) {
  std::string path = dir;
  if (!path.empty() && path.back() != '/') path += '/';
  if (path.size() >= 256) {
    std::fprintf(stderr, "bench-qor: path too long: %s\n", dir.c_str());
    std::exit(2);
  }
  std::memcpy(field, path.data(), path.size());
  *length = static_cast<uint32_t>(path.size());
}

OpenRequest MakeOpenRequest(const std::string& dictDir, const std::string& correctionDir) {
  OpenRequest request;
  std::memset(&request, 0, sizeof request);
  SetPath(dictDir, &request.directory1Length, request.directory1);
  SetPath(correctionDir, &request.correctionDirectoryLength, request.correctionDirectory);
  return request;
}

void SetText(const std::string& text, size_t capacity, uint32_t* length, char* field) {
  size_t n = text.size() < capacity ? text.size() : capacity;
  std::memcpy(field, text.data(), n);
  *length = static_cast<uint32_t>(n);
}

// One search; the answers are read as a host reads them (every text length) and released.
uint32_t Search(void* handle, const BenchQuery& q) {
  SearchRequest request;
  std::memset(&request, 0, sizeof request);
  if (q.type == 'N') {
    request.mode = 2;
    SetText(q.digits, sizeof request.key, &request.keyLength, request.key);
  } else {
    request.mode = 1;
    request.kindFilter = 3;
    request.regionCode = q.region;
    SetText(q.patternCp932, sizeof request.namePattern, &request.namePatternLength,
            request.namePattern);
    SetText(q.address1Cp932, sizeof request.address1, &request.address1Length,
            request.address1);
  }
  Qor_Search(handle, &request);
  uint32_t count = request.resultCount;
  uint32_t bytes = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const SearchResult* r = request.results[i];
    bytes += r->numberLength + r->nameLength + r->postalCodeLength + r->address1Length +
             r->address2Length + r->regionName1Length + r->regionName2Length;
    bytes += static_cast<uint8_t>(r->name[0]) + static_cast<uint8_t>(r->number[0]);
  }
  g_sink = g_sink + bytes;
  Qor_MemRelease(&request);
  return count;
}

// Reads the queries and opens the set; null (with a message) when either fails.
void* OpenWithQueries(const char* queryPath, const std::string& dictDir,
                      const std::string& correctionDir, std::vector<BenchQuery>* queries,
                      OpenResult* openResult) {
  std::string error;
  if (!Bench_ReadQueries(queryPath, queries, &error)) {
    std::fprintf(stderr, "bench-qor: %s\n", error.c_str());
    return nullptr;
  }
  OpenRequest openRequest = MakeOpenRequest(dictDir, correctionDir);
  std::memset(openResult, 0, sizeof *openResult);
  void* handle = Qor_Open(&openRequest, openResult);
  if (!handle) {
    std::fprintf(stderr, "bench-qor: Qor_Open found nothing in %s\n", dictDir.c_str());
  }
  return handle;
}

int RunSearches(const char* what, const char* queryPath, const std::string& dictDir,
                const std::string& correctionDir, const char* outPath) {
  std::vector<BenchQuery> queries;
  OpenResult openResult;
  void* handle = OpenWithQueries(queryPath, dictDir, correctionDir, &queries, &openResult);
  if (!handle) return 1;
  std::FILE* out = Bench_OpenOutput(outPath);
  char type = std::strcmp(what, "numbers") == 0 ? 'N' : 'S';
  CacheTally tally;
  tally.cache = &static_cast<Engine*>(handle)->cache;
  bool stable = Bench_Measure(out, "qor3", queries, type,
                              [&](const BenchQuery& q) { return Search(handle, q); },
                              CacheHooks{&tally, &queries});
  const std::string runName = Bench_RunName(what, queryPath);
  Bench_WritePeakRss(out, "qor3", runName);
  tally.Write(out, runName);
  std::fclose(out);
  Qor_Close(handle, &openResult);
  return stable ? 0 : 1;
}

// True when `workload` is `kind` or a prefixed form of it ("nation-number-hit"); *prefix
// gets what stands before it ("nation-", or "").
bool IsWorkload(const std::string& workload, const std::string& kind, std::string* prefix) {
  if (workload.size() < kind.size() ||
      workload.compare(workload.size() - kind.size(), kind.size(), kind) != 0) {
    return false;
  }
  *prefix = workload.substr(0, workload.size() - kind.size());
  return prefix->empty() || prefix->back() == '-';
}

// The first searches of an open set: `iterations` times, Qor_Open, then the first number
// search (the file's existing numbers in turn) and the first name search (its leading-literal
// searches of the largest region in turn), each timed, then Qor_Close. One untimed round
// first brings the files into the page cache; each open starts with the engine cache empty.
// Writes the lines "qor3 PREFIXcold-number|PREFIXcold-name INDEX COUNT NS CPU_NS", INDEX the
// query's position in the query file, PREFIX the query file's workload prefix ("nation-").
int RunCold(const char* queryPath, const std::string& dictDir, const std::string& correctionDir,
            int iterations, const char* outPath) {
  std::vector<BenchQuery> queries;
  std::string error;
  if (!Bench_ReadQueries(queryPath, &queries, &error)) {
    std::fprintf(stderr, "bench-qor: %s\n", error.c_str());
    return 1;
  }
  const char* kinds[][2] = {{"number-hit", "cold-number"}, {"name-prefix", "cold-name"}};
  std::vector<size_t> picked[2];
  std::string names[2];
  for (size_t i = 0; i < queries.size(); ++i) {
    for (int k = 0; k < 2; ++k) {
      std::string prefix;
      if (IsWorkload(queries[i].workload, kinds[k][0], &prefix)) {
        picked[k].push_back(i);
        names[k] = prefix + kinds[k][1];
      }
    }
  }
  if (picked[0].empty() || picked[1].empty()) {
    std::fprintf(stderr, "bench-qor: %s holds no number-hit or no name-prefix query\n",
                 queryPath);
    return 1;
  }
  OpenRequest request = MakeOpenRequest(dictDir, correctionDir);
  std::FILE* out = Bench_OpenOutput(outPath);
  CacheTally tally;
  for (int i = -1; i < iterations; ++i) {
    OpenResult result;
    std::memset(&result, 0, sizeof result);
    void* handle = Qor_Open(&request, &result);
    if (!handle) {
      std::fprintf(stderr, "bench-qor: Qor_Open found nothing in %s\n", dictDir.c_str());
      std::fclose(out);
      return 1;
    }
    tally.cache = &static_cast<Engine*>(handle)->cache;
    for (int k = 0; k < 2; ++k) {
      const size_t index = picked[k][static_cast<size_t>(i < 0 ? 0 : i) % picked[k].size()];
      tally.Start();
      uint64_t cpuStart = Bench_CpuNs();
      uint64_t start = Bench_NowNs();
      uint32_t count = Search(handle, queries[index]);
      uint64_t ns = Bench_NowNs() - start;
      uint64_t cpu = Bench_CpuNs() - cpuStart;
      if (i < 0) continue;  // the page cache round
      tally.Add(names[k]);
      std::fprintf(out, "qor3\t%s\t%zu\t%u\t%llu\t%llu\n", names[k].c_str(), index, count,
                   static_cast<unsigned long long>(ns), static_cast<unsigned long long>(cpu));
    }
    Qor_Close(handle, &result);
  }
  const std::string runName = Bench_RunName("cold", queryPath);
  Bench_WritePeakRss(out, "qor3", runName);
  tally.Write(out, runName);
  std::fclose(out);
  return 0;
}

// Times Qor_Open; Qor_Close is outside the clock. Without catalogs the catalog file is
// deleted before every open, so each open scans and summarises every dictionary and
// writes the catalog again.
int RunOpens(const std::string& dictDir, const std::string& correctionDir, int iterations,
             const char* label, const char* outPath) {
  OpenRequest request = MakeOpenRequest(dictDir, correctionDir);
  std::string catalog = dictDir + (dictDir.back() == '/' ? "" : "/") + "qor9999.dct";
  std::FILE* out = Bench_OpenOutput(outPath);
  const char* kinds[] = {"open-current", "open-no-catalog"};
  for (int kind = 0; kind < 2; ++kind) {
    std::string workload = std::string(kinds[kind]) + "-" + label;
    OpenResult result;
    std::memset(&result, 0, sizeof result);
    void* handle = Qor_Open(&request, &result);  // warm-up; leaves the catalog current
    if (!handle) {
      std::fprintf(stderr, "bench-qor: Qor_Open found nothing in %s\n", dictDir.c_str());
      return 1;
    }
    Qor_Close(handle, &result);
    for (int i = 0; i < iterations; ++i) {
      if (kind == 1 && unlink(catalog.c_str()) != 0) {
        std::fprintf(stderr, "bench-qor: cannot delete %s\n", catalog.c_str());
        return 1;
      }
      std::memset(&result, 0, sizeof result);
      uint64_t cpuStart = Bench_CpuNs();
      uint64_t start = Bench_NowNs();
      handle = Qor_Open(&request, &result);
      uint64_t ns = Bench_NowNs() - start;
      uint64_t cpu = Bench_CpuNs() - cpuStart;
      uint32_t regions = handle ? result.regionCount : 0;
      std::fprintf(out, "qor3\t%s\t%d\t%u\t%llu\t%llu\n", workload.c_str(), i, regions,
                   static_cast<unsigned long long>(ns), static_cast<unsigned long long>(cpu));
      if (handle) Qor_Close(handle, &result);
    }
  }
  Bench_WritePeakRss(out, "qor3", std::string("open-") + label);
  std::fclose(out);
  return 0;
}

// Queries per second with n host threads on one open set: every query once as a timed warm-up,
// then the list split into n runs of equal length, all started together, each thread going
// through its run as many times as make the warm-up last at least a second (so that starting
// the threads and a few slow queries weigh little); wall clock from the start to the last
// thread's end. Writes "#qps qor3 N WORKLOAD QPS", WORKLOAD "numbers" or
// "names", followed by ", STEM" for a query file other than queries.tsv ("numbers,
// nation-queries").
int RunThreads(int n, const char* queryPath, const std::string& dictDir,
               const std::string& correctionDir, const char* outPath) {
  std::vector<BenchQuery> queries;
  OpenResult openResult;
  void* handle = OpenWithQueries(queryPath, dictDir, correctionDir, &queries, &openResult);
  if (!handle) return 1;
  std::FILE* out = Bench_OpenOutput(outPath);
  for (char type : {'N', 'S'}) {
    std::vector<const BenchQuery*> picked;
    for (const BenchQuery& q : queries) {
      if (q.type == type) picked.push_back(&q);
    }
    if (picked.empty()) continue;
    const uint64_t warmStart = Bench_NowNs();
    for (const BenchQuery* q : picked) Search(handle, *q);
    const uint64_t warmNs = Bench_NowNs() - warmStart;
    const uint64_t kMinNs = 1000000000;
    const size_t rounds = warmNs >= kMinNs ? 1 : std::min<size_t>(1000, kMinNs / (warmNs + 1) + 1);
    const size_t share = picked.size() / static_cast<size_t>(n);
    const uint64_t start = Bench_NowNs();
    std::vector<std::thread> threads;
    for (int t = 0; t < n; ++t) {
      threads.emplace_back([&, t] {
        for (size_t r = 0; r < rounds; ++r) {
          for (size_t i = 0; i < share; ++i) {
            Search(handle, *picked[static_cast<size_t>(t) * share + i]);
          }
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
    const double seconds = static_cast<double>(Bench_NowNs() - start) / 1e9;
    const std::string workload = Bench_RunName(type == 'N' ? "numbers" : "names", queryPath);
    std::fprintf(out, "#qps\tqor3\t%d\t%s\t%.0f\n", n, workload.c_str(),
                 static_cast<double>(rounds * share * static_cast<size_t>(n)) / seconds);
  }
  std::fclose(out);
  Qor_Close(handle, &openResult);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && (std::strcmp(argv[1], "numbers") == 0 || std::strcmp(argv[1], "names") == 0)) {
    return RunSearches(argv[1], argv[2], argv[3], argv[4], argv[5]);
  }
  if (argc == 7 && std::strcmp(argv[1], "threads") == 0 && std::atoi(argv[2]) > 0) {
    return RunThreads(std::atoi(argv[2]), argv[3], argv[4], argv[5], argv[6]);
  }
  if (argc == 7 && std::strcmp(argv[1], "cold") == 0 && std::atoi(argv[5]) > 0) {
    return RunCold(argv[2], argv[3], argv[4], std::atoi(argv[5]), argv[6]);
  }
  if (argc == 7 && std::strcmp(argv[1], "open") == 0) {
    int iterations = std::atoi(argv[4]);
    if (iterations > 0) return RunOpens(argv[2], argv[3], iterations, argv[5], argv[6]);
  }
  std::fputs(kUsage, stderr);
  return 2;
}
