// The query file, the clock and peak memory of the benchmark programs.
#include "bench_common.h"

#include <sys/resource.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <cstdlib>
#include <cstring>

namespace {

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t end = line.find('\t', start);
    fields.push_back(line.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) return fields;
    start = end + 1;
  }
}

}  // namespace

bool Bench_WriteQueries(const std::string& path, const std::vector<BenchQuery>& queries,
                        std::string* error) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  for (const BenchQuery& q : queries) {
    if (q.type == 'N') {
      std::fprintf(f, "N\t%s\t%s\n", q.workload.c_str(), q.digits.c_str());
    } else {
      std::fprintf(f, "S\t%s\t%u\t%s\t%s\t%s\t%s\n", q.workload.c_str(), q.region,
                   q.patternCp932.c_str(), q.patternGlob.c_str(), q.address1Cp932.c_str(),
                   q.address1Utf8.c_str());
    }
  }
  bool ok = std::fclose(f) == 0;
  if (!ok) *error = "cannot write " + path;
  return ok;
}

bool Bench_ReadQueries(const std::string& path, std::vector<BenchQuery>* queries,
                       std::string* error) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    *error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  queries->clear();
  std::string line;
  int c;
  int lineNumber = 0;
  bool ok = true;
  for (;;) {
    c = std::fgetc(f);
    if (c != EOF && c != '\n') {
      line.push_back(static_cast<char>(c));
      continue;
    }
    if (!line.empty()) {
      ++lineNumber;
      std::vector<std::string> fields = SplitTabs(line);
      BenchQuery q;
      if (fields[0] == "N" && fields.size() == 3) {
        q.type = 'N';
        q.workload = fields[1];
        q.digits = fields[2];
      } else if (fields[0] == "S" && fields.size() == 7) {
        q.type = 'S';
        q.workload = fields[1];
        q.region = static_cast<uint32_t>(std::strtoul(fields[2].c_str(), nullptr, 10));
        q.patternCp932 = fields[3];
        q.patternGlob = fields[4];
        q.address1Cp932 = fields[5];
        q.address1Utf8 = fields[6];
      } else {
        *error = path + ": line " + std::to_string(lineNumber) + " is not a query";
        ok = false;
        break;
      }
      queries->push_back(std::move(q));
    }
    line.clear();
    if (c == EOF) break;
  }
  std::fclose(f);
  return ok;
}

uint64_t Bench_NowNs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

uint64_t Bench_CpuNs() {
  struct timespec t;
  if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t) != 0) return 0;
  return static_cast<uint64_t>(t.tv_sec) * 1000000000u + static_cast<uint64_t>(t.tv_nsec);
}

long Bench_PeakRssKiB() {
  struct rusage usage;
  if (getrusage(RUSAGE_SELF, &usage) != 0) return -1;
  return usage.ru_maxrss;
}

void Bench_WritePeakRss(std::FILE* out, const char* engine, const std::string& runName) {
  std::fprintf(out, "#rss\t%s\t%s\t%ld\n", engine, runName.c_str(), Bench_PeakRssKiB());
}

std::string Bench_RunName(const char* what, const std::string& queryPath) {
  size_t slash = queryPath.find_last_of('/');
  std::string stem = queryPath.substr(slash == std::string::npos ? 0 : slash + 1);
  if (stem.size() > 4 && stem.compare(stem.size() - 4, 4, ".tsv") == 0) stem.resize(stem.size() - 4);
  return stem == "queries" ? std::string(what) : std::string(what) + ", " + stem;
}

std::FILE* Bench_OpenOutput(const char* path) {
  std::FILE* f = std::fopen(path, "ab");
  if (!f) {
    std::fprintf(stderr, "cannot write %s: %s\n", path, std::strerror(errno));
    std::exit(1);
  }
  return f;
}
