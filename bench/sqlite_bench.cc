// bench-sqlite: the SQLite side of the benchmark: number lookups through a prepared
// statement on the number index, name searches through GLOB on the (region_code, name) index.
#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "bench_common.h"

namespace {

const char kUsage[] = "usage: bench-sqlite numbers|names DATABASE QUERIES OUT\n";

const char kColumns[] =
    "SELECT kind, region_code, number, postal_code, name, region_name1, region_name2, "
    "address1, address2 FROM listing WHERE ";

volatile uint32_t g_sink;

sqlite3_stmt* Prepare(sqlite3* db, const std::string& where) {
  std::string sql = std::string(kColumns) + where;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &statement,
                         nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "bench-sqlite: %s: %s\n", sql.c_str(), sqlite3_errmsg(db));
    return nullptr;
  }
  return statement;
}

// Steps through every row and reads every column as a host reads the answers.
uint32_t Collect(sqlite3_stmt* statement) {
  uint32_t count = 0, bytes = 0;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    ++count;
    for (int c = 0; c < 9; ++c) {
      const unsigned char* text = sqlite3_column_text(statement, c);
      bytes += static_cast<uint32_t>(sqlite3_column_bytes(statement, c));
      if (text) bytes += text[0];
    }
  }
  sqlite3_reset(statement);
  sqlite3_clear_bindings(statement);
  g_sink = g_sink + bytes;
  return count;
}

void BindText(sqlite3_stmt* statement, int index, const std::string& text) {
  sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()),
                    SQLITE_STATIC);
}

// Binds a query's values: the number, or region code, name pattern and address-1 GLOB.
void Bind(sqlite3_stmt* statement, const BenchQuery& q, std::string* addressGlob) {
  if (q.type == 'N') {
    BindText(statement, 1, q.digits);
    return;
  }
  sqlite3_bind_int(statement, 1, static_cast<int>(q.region));
  BindText(statement, 2, q.patternGlob);
  if (!q.address1Utf8.empty()) {
    *addressGlob = q.address1Utf8 + "*";
    BindText(statement, 3, *addressGlob);
  }
}

// The plan SQLite chooses for a workload's first query with its values bound (a bound GLOB
// pattern with a literal head lets the planner use a range of the name index), written into
// the measurement file.
void WritePlan(std::FILE* out, sqlite3* db, sqlite3_stmt* statement, const BenchQuery& q) {
  std::string sql = std::string("EXPLAIN QUERY PLAN ") + sqlite3_sql(statement);
  sqlite3_stmt* plan = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &plan, nullptr) != SQLITE_OK) return;
  std::string addressGlob;
  Bind(plan, q, &addressGlob);
  std::string detail;
  while (sqlite3_step(plan) == SQLITE_ROW) {
    if (!detail.empty()) detail += "; ";
    detail += reinterpret_cast<const char*>(sqlite3_column_text(plan, 3));
  }
  sqlite3_finalize(plan);
  std::fprintf(out, "#plan\tsqlite\t%s\t%s\n", q.workload.c_str(), detail.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 || (std::strcmp(argv[1], "numbers") != 0 && std::strcmp(argv[1], "names") != 0)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const bool numbers = std::strcmp(argv[1], "numbers") == 0;
  std::vector<BenchQuery> queries;
  std::string error;
  if (!Bench_ReadQueries(argv[3], &queries, &error)) {
    std::fprintf(stderr, "bench-sqlite: %s\n", error.c_str());
    return 1;
  }
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(argv[2], &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "bench-sqlite: cannot open %s: %s\n", argv[2], sqlite3_errmsg(db));
    return 1;
  }
  sqlite3_stmt* byNumber = Prepare(db, "number = ?1");
  sqlite3_stmt* byName = Prepare(db, "region_code = ?1 AND name GLOB ?2");
  sqlite3_stmt* byNameAddress =
      Prepare(db, "region_code = ?1 AND name GLOB ?2 AND address1 GLOB ?3");
  if (!byNumber || !byName || !byNameAddress) return 1;

  std::FILE* out = Bench_OpenOutput(argv[4]);
  std::set<std::string> planned;
  for (const BenchQuery& q : queries) {
    if (q.type != (numbers ? 'N' : 'S') || !planned.insert(q.workload).second) continue;
    WritePlan(out, db, numbers ? byNumber : q.address1Utf8.empty() ? byName : byNameAddress, q);
  }
  std::string addressGlob;
  bool stable = Bench_Measure(out, "sqlite", queries, numbers ? 'N' : 'S',
                              [&](const BenchQuery& q) -> uint32_t {
    sqlite3_stmt* statement = q.type == 'N'             ? byNumber
                              : q.address1Utf8.empty() ? byName
                                                       : byNameAddress;
    Bind(statement, q, &addressGlob);
    return Collect(statement);
  });
  Bench_WritePeakRss(out, "sqlite", Bench_RunName(argv[1], argv[3]));
  std::fclose(out);
  sqlite3_finalize(byNumber);
  sqlite3_finalize(byName);
  sqlite3_finalize(byNameAddress);
  sqlite3_close(db);
  return stable ? 0 : 1;
}
