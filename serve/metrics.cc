// Request counters and latency histograms in the Prometheus text format.
#include "metrics.h"

#include <atomic>
#include <cstdint>
#include <cstdio>

namespace {

constexpr int kStatuses[] = {200, 400, 404, 405, 413, 414, 500, 503};
constexpr int kStatusCount = sizeof kStatuses / sizeof kStatuses[0] + 1;  // + any other
constexpr double kBuckets[] = {0.0001, 0.00025, 0.0005, 0.001, 0.0025, 0.005,
                               0.01,   0.025,   0.05,   0.1,   0.25,   1.0};
constexpr int kBucketCount = sizeof kBuckets / sizeof kBuckets[0];

struct RouteCounters {
  std::atomic<uint64_t> byStatus[kStatusCount];
  std::atomic<uint64_t> buckets[kBucketCount];  // not cumulative; summed when written
  std::atomic<uint64_t> count;
  std::atomic<uint64_t> sumMicroseconds;
};

RouteCounters g_routes[kRouteCount];

int StatusIndex(int status) {
  for (int i = 0; i < kStatusCount - 1; ++i) {
    if (kStatuses[i] == status) return i;
  }
  return kStatusCount - 1;
}

void Append(std::string* out, const char* format, auto... args) {
  char line[256];
  std::snprintf(line, sizeof line, format, args...);
  *out += line;
}

}  // namespace

void Metrics_Record(Route route, int status, double seconds) {
  RouteCounters& r = g_routes[static_cast<int>(route)];
  r.byStatus[StatusIndex(status)].fetch_add(1, std::memory_order_relaxed);
  int b = 0;
  while (b < kBucketCount && seconds > kBuckets[b]) ++b;
  if (b < kBucketCount) r.buckets[b].fetch_add(1, std::memory_order_relaxed);
  r.count.fetch_add(1, std::memory_order_relaxed);
  r.sumMicroseconds.fetch_add(static_cast<uint64_t>(seconds * 1e6), std::memory_order_relaxed);
}

std::string Metrics_Text(bool setOpen, unsigned regions, const EngineCacheStats& cache) {
  std::string out;
  out += "# HELP qor_serve_requests_total Requests answered, by route and status.\n";
  out += "# TYPE qor_serve_requests_total counter\n";
  for (int route = 0; route < kRouteCount; ++route) {
    const char* name = Route_Name(static_cast<Route>(route));
    for (int s = 0; s < kStatusCount; ++s) {
      const uint64_t n = g_routes[route].byStatus[s].load(std::memory_order_relaxed);
      if (n == 0) continue;
      if (s < kStatusCount - 1) {
        Append(&out, "qor_serve_requests_total{route=\"%s\",status=\"%d\"} %llu\n", name,
               kStatuses[s], static_cast<unsigned long long>(n));
      } else {
        Append(&out, "qor_serve_requests_total{route=\"%s\",status=\"other\"} %llu\n", name,
               static_cast<unsigned long long>(n));
      }
    }
  }
  out += "# HELP qor_serve_request_duration_seconds Time from the request read to the answer "
         "written.\n";
  out += "# TYPE qor_serve_request_duration_seconds histogram\n";
  for (int route = 0; route < kRouteCount; ++route) {
    const RouteCounters& r = g_routes[route];
    const uint64_t count = r.count.load(std::memory_order_relaxed);
    if (count == 0) continue;
    const char* name = Route_Name(static_cast<Route>(route));
    uint64_t cumulative = 0;
    for (int b = 0; b < kBucketCount; ++b) {
      cumulative += r.buckets[b].load(std::memory_order_relaxed);
      Append(&out, "qor_serve_request_duration_seconds_bucket{route=\"%s\",le=\"%g\"} %llu\n",
             name, kBuckets[b], static_cast<unsigned long long>(cumulative));
    }
    Append(&out, "qor_serve_request_duration_seconds_bucket{route=\"%s\",le=\"+Inf\"} %llu\n",
           name, static_cast<unsigned long long>(count));
    Append(&out, "qor_serve_request_duration_seconds_sum{route=\"%s\"} %.6f\n", name,
           static_cast<double>(r.sumMicroseconds.load(std::memory_order_relaxed)) / 1e6);
    Append(&out, "qor_serve_request_duration_seconds_count{route=\"%s\"} %llu\n", name,
           static_cast<unsigned long long>(count));
  }
  out += "# HELP qor_serve_set_open Whether the dictionary set is open.\n";
  out += "# TYPE qor_serve_set_open gauge\n";
  Append(&out, "qor_serve_set_open %d\n", setOpen ? 1 : 0);
  out += "# HELP qor_serve_regions Regions of the open dictionary set.\n";
  out += "# TYPE qor_serve_regions gauge\n";
  Append(&out, "qor_serve_regions %u\n", regions);
  // The engine cache: what searches asked of it, what it held, and its budget.
  struct {
    const char *name, *type, *help;
    uint64_t value;
  } const counters[] = {
      {"lookups_total", "counter", "Files, blocks, name indexes and area code unions searches "
       "asked the cache for.", cache.lookups},
      {"hits_total", "counter", "Of those, found in the cache.", cache.hits},
      {"evictions_total", "counter", "Items dropped to stay within the budget.", cache.evictions},
      {"clears_total", "counter", "Times the whole cache was dropped (open, close, a change of "
       "the files).", cache.clears},
      {"bytes", "gauge", "Bytes held now.", cache.bytes},
      {"peak_bytes", "gauge", "Most bytes held at once.", cache.peakBytes},
      {"budget_bytes", "gauge", "The cache's memory budget (0: off).", cache.budget},
  };
  for (const auto& c : counters) {
    Append(&out, "# HELP qor_engine_cache_%s %s\n# TYPE qor_engine_cache_%s %s\n", c.name, c.help,
           c.name, c.type);
    Append(&out, "qor_engine_cache_%s %llu\n", c.name, static_cast<unsigned long long>(c.value));
  }
  out += "# HELP qor_engine_cache_hit_ratio Hits per lookup since the server started.\n";
  out += "# TYPE qor_engine_cache_hit_ratio gauge\n";
  Append(&out, "qor_engine_cache_hit_ratio %.6f\n",
         cache.lookups == 0 ? 0.0
                            : static_cast<double>(cache.hits) / static_cast<double>(cache.lookups));
  return out;
}
