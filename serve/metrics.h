// Counters of qor-serve for /metrics: requests by route and status, and a latency histogram
// per route, written in the Prometheus text format. Recording is lock-free.
#ifndef QOR3_SERVE_METRICS_H
#define QOR3_SERVE_METRICS_H

#include <string>

#include "request.h"

void Metrics_Record(Route route, int status, double seconds);
// The text of /metrics; setOpen and regions describe the dictionary set.
std::string Metrics_Text(bool setOpen, unsigned regions);

#endif  // QOR3_SERVE_METRICS_H
