// bench-qor: the qor3 side of the benchmark, through the five exported functions only:
// number lookups (Qor_Search mode 2), name searches (mode 1), and Qor_Open with current
// catalogs and with none (each open then refreshes every dictionary).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench_common.h"
#include "qor3.h"

namespace {

const char kUsage[] =
    "usage: bench-qor numbers|names QUERIES DICT_DIR CORRECTION_DIR OUT\n"
    "       bench-qor open DICT_DIR CORRECTION_DIR ITERATIONS LABEL OUT\n"
    "       bench-qor threads N QUERIES DICT_DIR CORRECTION_DIR OUT\n";

volatile uint32_t g_sink;

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
  bool stable = Bench_Measure(out, "qor3", queries, type,
                              [&](const BenchQuery& q) { return Search(handle, q); });
  Bench_WritePeakRss(out, "qor3", Bench_RunName(what, queryPath));
  std::fclose(out);
  Qor_Close(handle, &openResult);
  return stable ? 0 : 1;
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

// Queries per second with n host threads on one open set: every query once as a warm-up,
// then the list split into n runs of equal length, all started together; wall clock from the
// start to the last thread's end. Writes "#qps qor3 N WORKLOAD QPS".
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
    for (const BenchQuery* q : picked) Search(handle, *q);
    const size_t share = picked.size() / static_cast<size_t>(n);
    const uint64_t start = Bench_NowNs();
    std::vector<std::thread> threads;
    for (int t = 0; t < n; ++t) {
      threads.emplace_back([&, t] {
        for (size_t i = 0; i < share; ++i) Search(handle, *picked[static_cast<size_t>(t) * share + i]);
      });
    }
    for (std::thread& thread : threads) thread.join();
    const double seconds = static_cast<double>(Bench_NowNs() - start) / 1e9;
    std::fprintf(out, "#qps\tqor3\t%d\t%s\t%.0f\n", n, type == 'N' ? "numbers" : "names",
                 static_cast<double>(share * static_cast<size_t>(n)) / seconds);
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
  if (argc == 7 && std::strcmp(argv[1], "open") == 0) {
    int iterations = std::atoi(argv[4]);
    if (iterations > 0) return RunOpens(argv[2], argv[3], iterations, argv[5], argv[6]);
  }
  std::fputs(kUsage, stderr);
  return 2;
}
