// qor-serve: caller-ID and listing searches of one dictionary set over HTTP, with a search
// page. It searches through the five exported functions; linked with the engine's static
// library, it also reads the open set's cache counters for /metrics. Texts are UTF-8 on the
// wire and code page 932 in the library.
#include <pthread.h>
#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <nlohmann/json.hpp>
#include <shared_mutex>
#include <string>
#include <thread>

#include "api/open_set.h"
#include "common/cp932.h"
#include "http_server.h"
#include "metrics.h"
#include "qor/output.h"
#include "qor3.h"
#include "request.h"

#ifndef QOR3_DEFAULT_DICT_DIR
#define QOR3_DEFAULT_DICT_DIR ""
#endif
#ifndef QOR3_DEFAULT_CORRECTION_DIR
#define QOR3_DEFAULT_CORRECTION_DIR ""
#endif
#ifndef QOR3_PROJECT_VERSION
#define QOR3_PROJECT_VERSION "unknown"
#endif

extern const char kSearchPage[];  // page.cc, made from page.html at build time

namespace {

using Clock = std::chrono::steady_clock;

// The dictionary set. Opened at start; while no set could be opened, a request tries again
// at most once a second, so the server can start before dictionaries are installed.
struct DictionarySet {
  OpenRequest request;
  std::shared_mutex lock;  // searches share it; opening holds it alone
  void* handle = nullptr;
  OpenResult result;
  std::string regionsJson;
  Clock::time_point lastTry;
};

DictionarySet g_set;

bool SetPath(const std::string& path, uint32_t* length, char* field, size_t capacity) {
  if (path.size() >= capacity) return false;
  *length = static_cast<uint32_t>(path.size());
  std::memcpy(field, path.data(), path.size());
  return true;
}

// Tries Qor_Open when no set is open; the caller holds g_set.lock exclusively.
void TryOpen() {
  if (g_set.handle != nullptr) return;
  g_set.lastTry = Clock::now();
  std::memset(&g_set.result, 0, sizeof g_set.result);
  g_set.handle = Qor_Open(&g_set.request, &g_set.result);
  if (g_set.handle != nullptr) g_set.regionsJson = Output_Json(Output_Regions(g_set.result), -1);
}

// Holds the set for a search; false when none is open.
bool AcquireSet(std::shared_lock<std::shared_mutex>* shared) {
  *shared = std::shared_lock<std::shared_mutex>(g_set.lock);
  if (g_set.handle != nullptr) return true;
  shared->unlock();
  {
    std::unique_lock<std::shared_mutex> exclusive(g_set.lock);
    if (Clock::now() - g_set.lastTry >= std::chrono::seconds(1)) TryOpen();
  }
  shared->lock();
  return g_set.handle != nullptr;
}

bool HasRegion(uint32_t code) {
  for (uint32_t i = 0; i < g_set.result.regionCount; ++i) {
    if (static_cast<uint32_t>(g_set.result.regions[i]->regionCode) == code) return true;
  }
  return false;
}

void Reply(HttpResponse* res, int status, std::string body, const char* type) {
  res->status = status;
  res->body = std::move(body);
  res->contentType = type;
}

void JsonError(HttpResponse* res, int status, const std::string& message) {
  nlohmann::json body = {{"error", message}};
  Reply(res, status, body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
        "application/json");
}

const char kText[] = "text/plain; charset=utf-8";

// Runs the search and answers its results; the caller holds the set.
void Search(const ServeRequest& r, HttpResponse* res) {
  SearchRequest request;
  std::memset(&request, 0, sizeof request);
  if (r.route == Route::kName) {
    request.mode = 1;
    request.kindFilter = r.kind;
    request.regionCode = r.region;
    request.namePatternLength = static_cast<uint32_t>(r.pattern.size());
    std::memcpy(request.namePattern, r.pattern.data(), r.pattern.size());
    request.address1Length = static_cast<uint32_t>(r.address1.size());
    std::memcpy(request.address1, r.address1.data(), r.address1.size());
    request.address2Length = static_cast<uint32_t>(r.address2.size());
    std::memcpy(request.address2, r.address2.data(), r.address2.size());
  } else {
    request.mode = 2;
    request.keyLength = static_cast<uint32_t>(r.key.size());
    std::memcpy(request.key, r.key.data(), r.key.size());
  }
  if (r.route != Route::kName && r.key.empty()) {
    request.resultCount = 0;  // a number no dictionary holds
  } else {
    Qor_Search(g_set.handle, &request);
  }
  const uint32_t count = request.resultCount;
  if (r.route == Route::kCid) {
    // Only the first name is converted: caller-ID is the busiest route.
    res->status = count > 0 ? 200 : 404;
    if (count > 0) {
      const SearchResult& first = *request.results[0];
      Reply(res, 200, Cp932_ToUtf8Lossy(std::string_view(first.name, first.nameLength)), kText);
    }
    Qor_MemRelease(&request);
    return;
  }
  OutputTable table = Output_Results(request, r.route == Route::kName ? r.limit : kMaxLimit);
  Qor_MemRelease(&request);
  res->headers.emplace_back("X-Result-Count", std::to_string(count));
  Reply(res, 200, Output_Json(table, -1), "application/json");
}

// Answers a GET or HEAD request; returns its route.
Route Handle(const HttpRequest& req, HttpResponse* res) {
  // The library hands the path over as a C string: a decoded NUL would cut it short.
  if (req.target.substr(0, req.target.find('?')).find("%00") != std::string_view::npos) {
    JsonError(res, 400, "bad request");
    return Route::kOther;
  }
  const ServeRequest r = Request_Translate(req.path, req.target.size(), req.params);
  if (r.status != 200) {
    if (r.route == Route::kCid) {
      Reply(res, r.status, r.error + "\n", kText);
    } else {
      JsonError(res, r.status, r.error);
    }
    return r.route;
  }
  switch (r.route) {
    case Route::kPage:
      res->headers.emplace_back("Content-Security-Policy",
                                "default-src 'none'; connect-src 'self'; style-src "
                                "'unsafe-inline'; script-src 'unsafe-inline'; img-src 'self' "
                                "data:");
      Reply(res, 200, kSearchPage, "text/html; charset=utf-8");
      return r.route;
    case Route::kMetrics: {
      EngineCacheStats cache;
      EngineCache_Stats(&OpenSet_Engine()->cache, &cache);
      std::shared_lock<std::shared_mutex> shared(g_set.lock);
      Reply(res, 200,
            Metrics_Text(g_set.handle != nullptr,
                         g_set.handle != nullptr ? g_set.result.regionCount : 0, cache),
            "text/plain; version=0.0.4; charset=utf-8");
      return r.route;
    }
    default:
      break;
  }
  std::shared_lock<std::shared_mutex> shared;
  if (!AcquireSet(&shared)) {
    if (r.route == Route::kHealth || r.route == Route::kCid) {
      Reply(res, 503, "no dictionary set\n", kText);
    } else {
      JsonError(res, 503, "no dictionary set could be opened");
    }
    return r.route;
  }
  if (r.route == Route::kHealth) {
    Reply(res, 200, "ok\n", kText);
  } else if (r.route == Route::kRegions) {
    Reply(res, 200, g_set.regionsJson, "application/json");
  } else if (r.route == Route::kName && !HasRegion(r.region)) {
    JsonError(res, 400,
              "unknown region " + Output_Digits(r.region, 5) +
                  ": the dictionary set does not cover it (/v1/regions)");
  } else {
    Search(r, res);
  }
  return r.route;
}

bool g_quiet = false;

// Every request: answered, counted in the metrics and written to the access log.
void Answer(const HttpRequest& req, HttpResponse* res) {
  const Clock::time_point start = Clock::now();
  Route route = Route::kOther;
  if (req.bodyTooLarge) {
    JsonError(res, 413, "request body too large");
  } else if (req.method != "GET" && req.method != "HEAD") {
    res->headers.emplace_back("Allow", "GET, HEAD");
    JsonError(res, 405, "only GET and HEAD are answered");
  } else {
    route = Handle(req, res);
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  Metrics_Record(route, res->status, seconds);
  if (g_quiet) return;
  std::fprintf(stderr, "%.*s %s %s %d %zu %.6f\n", static_cast<int>(req.remoteAddress.size()),
               req.remoteAddress.data(), Text_Excerpt(req.method, 16).c_str(),
               Text_Excerpt(req.target, 200).c_str(), res->status, res->body.size(), seconds);
}

const char kFooter[] = R"(
Requests: GET and HEAD only (405 otherwise); the request line and headers at most 16 KiB, a
body at most 1 KiB (413), a target at most 2,048 bytes (414); a connection idle for 5 s is
closed, one serves at most 1000 requests, and at most 1024 are open at once (more wait to be
accepted). Errors are JSON {"error": "..."} (plain text on /cid/). The access log on standard
error has a line per request: address, method, target, status, body bytes, seconds.

Exit status: 0 stopped by SIGTERM or SIGINT (the requests in progress are answered first);
2 a usage error, a directory that does not exist, or an address it cannot listen on.)";

struct Options {
  std::string dir, dir2, corrections, listen = "127.0.0.1:8080";
  // Four event loops a core: a loop answers none of its connections while one of its
  // searches runs (a name search takes milliseconds) or while the kernel has it waiting for a
  // core. On 2 cores shared with other work, 8 loops kept caller-ID p99 between 2.6 and 5.8
  // ms in six runs, 4 loops between 3.3 and 165 ms, at about the same requests a second.
  unsigned threads = 4 * std::max(1u, std::thread::hardware_concurrency());
  double requestTimeout = 10;
  bool quiet = false;
};

bool ParseListen(const std::string& text, std::string* host, int* port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  *host = text.substr(0, colon);
  if (host->size() > 2 && host->front() == '[' && host->back() == ']') {
    *host = host->substr(1, host->size() - 2);
  }
  const std::string digits = text.substr(colon + 1);
  if (digits.empty() || digits.size() > 5 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  *port = std::stoi(digits);
  return *port <= 65535;
}

bool IsDirectory(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "qor-serve: answers caller-ID, number and name searches of a qor3 dictionary set over "
      "HTTP, with a search page at /. Routes: /cid/NUMBER (the name as text), /v1/number/NUMBER, "
      "/v1/name?region=&pattern=&address1=&address2=&kind=&limit=, /v1/regions, /healthz, "
      "/metrics. SIGTERM drains the connections and exits 0."};
  app.name("qor-serve");
  Options o;
  app.add_option("--dir", o.dir,
                 "dictionary directory 1 (default: $QOR_DIR, else the bundled sample set)");
  app.add_option("--dir2", o.dir2, "dictionary directory 2 (default: none)");
  app.add_option("--corrections", o.corrections,
                 "directory holding the correction file qor5001.dct (default: the dictionary "
                 "directory given by --dir or $QOR_DIR, else the sample set's)");
  app.add_option("--listen", o.listen,
                 "ADDRESS:PORT to listen on (default 127.0.0.1:8080, loopback only; port 0 "
                 "picks a free one)");
  app.add_option("--threads", o.threads,
                 "event loops, each a thread serving its share of the connections and "
                 "running their searches (default: four times the number of cores)")
      ->check(CLI::Range(1, 256));
  app.add_option("--request-timeout", o.requestTimeout,
                 "seconds a request may take from its first byte to the answer sent (default 10); "
                 "slower clients are dropped")
      ->check(CLI::Range(0.1, 3600.0));
  app.add_flag("--quiet", o.quiet, "no access log on standard error");
  app.set_version_flag("--version", std::string("qor-serve ") + QOR3_PROJECT_VERSION);
  app.footer(kFooter);
  CLI11_PARSE(app, argc, argv);

  const char* env = std::getenv("QOR_DIR");
  const bool fromEnv = env != nullptr && *env != '\0';
  const bool dirGiven = app.count("--dir") > 0;
  if (!dirGiven) o.dir = fromEnv ? env : QOR3_DEFAULT_DICT_DIR;
  if (app.count("--corrections") == 0) {
    o.corrections = dirGiven || fromEnv ? o.dir : QOR3_DEFAULT_CORRECTION_DIR;
  }
  std::memset(&g_set.request, 0, sizeof g_set.request);
  for (const auto& [path, length, field] :
       {std::tuple{&o.dir, &g_set.request.directory1Length, g_set.request.directory1},
        std::tuple{&o.dir2, &g_set.request.directory2Length, g_set.request.directory2},
        std::tuple{&o.corrections, &g_set.request.correctionDirectoryLength,
                   g_set.request.correctionDirectory}}) {
    if (!path->empty() && !IsDirectory(*path)) {
      std::fprintf(stderr, "qor-serve: %s is not a directory\n", path->c_str());
      return 2;
    }
    if (!SetPath(*path, length, field, 192)) {
      std::fprintf(stderr, "qor-serve: %s: path longer than 191 bytes\n", path->c_str());
      return 2;
    }
  }
  std::string host;
  int port = 0;
  if (!ParseListen(o.listen, &host, &port)) {
    std::fprintf(stderr, "qor-serve: bad --listen %s: expected ADDRESS:PORT\n",
                 Text_Excerpt(o.listen).c_str());
    return 2;
  }

  // SIGTERM and SIGINT are taken by this thread with sigwait; the server's threads, started
  // after, block them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  {
    std::unique_lock<std::shared_mutex> exclusive(g_set.lock);
    TryOpen();
  }
  if (g_set.handle == nullptr) {
    std::fprintf(stderr, "qor-serve: no dictionary set in %s; answering 503 until one can be "
                 "opened\n", o.dir.c_str());
  }

  ServerLimits limits;
  limits.threads = o.threads;
  limits.requestTimeout = std::chrono::milliseconds(static_cast<long>(o.requestTimeout * 1000));
  g_quiet = o.quiet;
  HttpServer* server = HttpServer_Start(host, port, limits, Answer, &port);
  if (server == nullptr) {
    std::fprintf(stderr, "qor-serve: cannot listen on %s\n", o.listen.c_str());
    return 2;
  }
  std::fprintf(stderr, "qor-serve: listening on http://%s:%d/\n",
               host.find(':') != std::string::npos ? ("[" + host + "]").c_str() : host.c_str(),
               port);

  int signal = 0;
  sigwait(&signals, &signal);
  HttpServer_Stop(server);
  {
    std::unique_lock<std::shared_mutex> exclusive(g_set.lock);
    if (g_set.handle != nullptr) Qor_Close(g_set.handle, &g_set.result);
  }
  std::fprintf(stderr, "qor-serve: stopped\n");
  return 0;
}
