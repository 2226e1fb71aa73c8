// bench-cdb: the tinycdb side of the benchmark: exact number lookups in a constant database
// keyed by number, every record of a key read out.
#include <cdb.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_common.h"

namespace {

volatile uint32_t g_sink;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 || std::strcmp(argv[1], "numbers") != 0) {
    std::fputs("usage: bench-cdb numbers DATABASE QUERIES OUT\n", stderr);
    return 2;
  }
  std::vector<BenchQuery> queries;
  std::string error;
  if (!Bench_ReadQueries(argv[3], &queries, &error)) {
    std::fprintf(stderr, "bench-cdb: %s\n", error.c_str());
    return 1;
  }
  int fd = open(argv[2], O_RDONLY);
  struct cdb db;
  if (fd < 0 || cdb_init(&db, fd) != 0) {
    std::fprintf(stderr, "bench-cdb: cannot open %s\n", argv[2]);
    return 1;
  }
  std::vector<char> value;
  std::FILE* out = Bench_OpenOutput(argv[4]);
  bool stable = Bench_Measure(out, "cdb", queries, 'N', [&](const BenchQuery& q) -> uint32_t {
    struct cdb_find find;
    uint32_t count = 0, bytes = 0;
    if (cdb_findinit(&find, &db, q.digits.data(), static_cast<unsigned>(q.digits.size())) < 0) {
      return 0;
    }
    while (cdb_findnext(&find) > 0) {
      unsigned length = cdb_datalen(&db);
      value.resize(length + 1);
      if (cdb_read(&db, value.data(), length, cdb_datapos(&db)) != 0) break;
      ++count;
      bytes += length + static_cast<uint8_t>(value[0]);
    }
    g_sink = g_sink + bytes;
    return count;
  });
  Bench_WritePeakRss(out, "cdb", Bench_RunName("numbers", argv[3]));
  std::fclose(out);
  cdb_free(&db);
  close(fd);
  return stable ? 0 : 1;
}
