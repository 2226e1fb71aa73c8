// Translation of an HTTP request's path and query into what qor-serve answers: the route, and
// for the searches the request record's inputs (code page 932 texts, region, kind, limit) or
// the status and message of the error. It holds no socket code, so tests and the fuzzer call
// it directly with any path and parameters.
#ifndef QOR3_SERVE_REQUEST_H
#define QOR3_SERVE_REQUEST_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

enum class Route { kPage, kCid, kNumber, kName, kRegions, kHealth, kMetrics, kOther };
constexpr int kRouteCount = 8;
// The route's name in the metrics.
const char* Route_Name(Route route);

// What a telephone number as PBXs send it stands for.
enum class NumberForm {
  kNational,  // 9 or 10 digits with a leading zero: a key the dictionaries can hold
  kNotHeld,   // a well-formed number no dictionary holds (11-digit mobile, another country)
  kBad,       // not a telephone number
};

// Reads 0312345678, 03-1234-5678, +81312345678, 81312345678, +81 3-1234-5678,
// tel:+81-3-1234-5678 (visual separators " -.()" and tel: parameters after ';' ignored) and
// writes the national digits for kNational.
NumberForm Number_Normalise(std::string_view text, std::string* digits);

constexpr uint32_t kDefaultLimit = 100;
constexpr uint32_t kMaxLimit = 1000;
// Longest request target (path and query) answered; longer ones get 414.
constexpr size_t kMaxTarget = 2048;

using QueryParams = std::vector<std::pair<std::string, std::string>>;

struct ServeRequest {
  Route route = Route::kOther;
  int status = 200;   // 200, or the error status: 400, 404, 414
  std::string error;  // what is wrong, for a status other than 200
  // kCid and kNumber: the national digits, empty for a number no dictionary holds.
  std::string key;
  // kName: the search's inputs, texts in code page 932.
  uint32_t region = 0;
  uint32_t kind = 3;
  uint32_t limit = kDefaultLimit;
  std::string pattern;
  std::string address1;
  std::string address2;
};

// path: the request's path, percent-decoded; targetSize: the length of the raw request target;
// params: the decoded query parameters in their order.
ServeRequest Request_Translate(std::string_view path, size_t targetSize, const QueryParams& params);

#endif  // QOR3_SERVE_REQUEST_H
