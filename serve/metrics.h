// Counters of qor-serve for /metrics: requests by route and status, a latency histogram per
// route, and the engine cache's counters, written in the Prometheus text format. Recording is
// lock-free.
#ifndef QOR3_SERVE_METRICS_H
#define QOR3_SERVE_METRICS_H

#include <string>

#include "engine/engine_cache.h"
#include "request.h"

void Metrics_Record(Route route, int status, double seconds);
// The text of /metrics; setOpen and regions describe the dictionary set, cache is what the
// engine's cache counted since the server started.
std::string Metrics_Text(bool setOpen, unsigned regions, const EngineCacheStats& cache);

#endif  // QOR3_SERVE_METRICS_H
