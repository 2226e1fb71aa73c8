// Request translation of qor-serve: routes, telephone number forms, name search parameters.
#include "request.h"

#include "common/cp932.h"

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool IsDigits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

ServeRequest Error(Route route, int status, std::string message) {
  ServeRequest request;
  request.route = route;
  request.status = status;
  request.error = std::move(message);
  return request;
}

ServeRequest NumberRoute(Route route, std::string_view text) {
  ServeRequest request;
  request.route = route;
  if (Number_Normalise(text, &request.key) == NumberForm::kBad) {
    return Error(route, 400,
                 "bad number " + Text_Excerpt(text) +
                     ": expected a telephone number such as 03-1234-5678 or +81312345678");
  }
  return request;
}

// A UTF-8 parameter as code page 932 that fits the request field of `capacity` bytes.
bool RequestText(const std::string& utf8, bool fullWidth, size_t capacity, const char* name,
                 std::string* out, std::string* error) {
  std::string message;
  if (!Cp932_FromUtf8(utf8, fullWidth, out, &message)) {
    *error = std::string(name) + " " + Text_Excerpt(utf8) + ": " + message;
    return false;
  }
  if (out->size() > capacity) {
    *error = std::string(name) + " " + Text_Excerpt(utf8) + ": " + std::to_string(out->size()) +
             " bytes in code page 932, at most " + std::to_string(capacity);
    return false;
  }
  return true;
}

ServeRequest NameRoute(const QueryParams& params) {
  ServeRequest request;
  request.route = Route::kName;
  const char* const kNames[] = {"region", "pattern", "address1", "address2", "kind", "limit"};
  const std::string* values[6] = {};
  for (const auto& [name, value] : params) {
    size_t i = 0;
    while (i < 6 && name != kNames[i]) ++i;
    if (i == 6) {
      return Error(Route::kName, 400,
                   "unknown parameter " + Text_Excerpt(name) +
                       " (region, pattern, address1, address2, kind, limit)");
    }
    if (values[i] != nullptr) {
      return Error(Route::kName, 400, std::string("parameter ") + kNames[i] + " given twice");
    }
    values[i] = &value;
  }
  const std::string* region = values[0];
  if (region == nullptr) return Error(Route::kName, 400, "region is required (/v1/regions)");
  if (!IsDigits(*region) || region->size() > 5 || std::stoul(*region) > 49999) {
    return Error(Route::kName, 400,
                 "bad region " + Text_Excerpt(*region) + ": expected a code from 0 to 49999");
  }
  request.region = static_cast<uint32_t>(std::stoul(*region));
  const std::string* pattern = values[1];
  if (pattern == nullptr) return Error(Route::kName, 400, "pattern is required");
  if (Utf8_IsBlankPattern(*pattern)) {
    return Error(Route::kName, 400,
                 "pattern " + Text_Excerpt(*pattern) +
                     " is blank: it needs a character besides the wildcards * ? and spaces");
  }
  std::string error;
  // Names and address text 1 are stored in full-width forms, so ASCII input is widened too.
  if (!RequestText(*pattern, true, 160, "pattern", &request.pattern, &error) ||
      (values[2] != nullptr &&
       !RequestText(*values[2], true, 80, "address1", &request.address1, &error)) ||
      (values[3] != nullptr &&
       !RequestText(*values[3], false, 80, "address2", &request.address2, &error))) {
    return Error(Route::kName, 400, error);
  }
  if (values[4] != nullptr) {
    if (*values[4] != "1" && *values[4] != "2" && *values[4] != "3") {
      return Error(Route::kName, 400,
                   "bad kind " + Text_Excerpt(*values[4]) +
                       ": 1 persons, 2 businesses, 3 both");
    }
    request.kind = static_cast<uint32_t>((*values[4])[0] - '0');
  }
  if (values[5] != nullptr) {
    const std::string& limit = *values[5];
    if (!IsDigits(limit) || limit.size() > 4 || std::stoul(limit) == 0 ||
        std::stoul(limit) > kMaxLimit) {
      return Error(Route::kName, 400,
                   "bad limit " + Text_Excerpt(limit) + ": expected 1 to " +
                       std::to_string(kMaxLimit));
    }
    request.limit = static_cast<uint32_t>(std::stoul(limit));
  }
  return request;
}

}  // namespace

const char* Route_Name(Route route) {
  switch (route) {
    case Route::kPage: return "page";
    case Route::kCid: return "cid";
    case Route::kNumber: return "number";
    case Route::kName: return "name";
    case Route::kRegions: return "regions";
    case Route::kHealth: return "healthz";
    case Route::kMetrics: return "metrics";
    case Route::kOther: break;
  }
  return "other";
}

NumberForm Number_Normalise(std::string_view text, std::string* digits) {
  digits->clear();
  if (text.size() >= 4 && (text[0] | 0x20) == 't' && (text[1] | 0x20) == 'e' &&
      (text[2] | 0x20) == 'l' && text[3] == ':') {
    text.remove_prefix(4);
    text = text.substr(0, text.find(';'));
  }
  bool plus = false;
  std::string all;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      all += c;
    } else if (c == '+' && all.empty() && !plus) {
      plus = true;
    } else if (c != ' ' && c != '-' && c != '.' && c != '(' && c != ')') {
      return NumberForm::kBad;
    }
    // E.164 numbers have at most 15 digits.
    if (all.size() > 15) return NumberForm::kBad;
  }
  if (all.size() < 2) return NumberForm::kBad;
  std::string national;
  if (plus || (all[0] != '0' && StartsWith(all, "81"))) {
    if (!StartsWith(all, "81")) return plus ? NumberForm::kNotHeld : NumberForm::kBad;
    // +81 3-1234-5678, or +81 (0)3-1234-5678 with the trunk prefix kept.
    national = all.size() > 2 && all[2] == '0' ? all.substr(2) : "0" + all.substr(2);
  } else if (all[0] == '0') {
    national = all;
  } else {
    return NumberForm::kBad;
  }
  if (national.size() == 9 || national.size() == 10) {
    *digits = national;
    return NumberForm::kNational;
  }
  // Mobile, IP-phone and 0800 numbers have 11 digits; dictionaries hold 9 or 10.
  return national.size() == 11 ? NumberForm::kNotHeld : NumberForm::kBad;
}

ServeRequest Request_Translate(std::string_view path, size_t targetSize, const QueryParams& params) {
  if (targetSize > kMaxTarget) {
    return Error(Route::kOther, 414,
                 "request target longer than " + std::to_string(kMaxTarget) + " bytes");
  }
  ServeRequest request;
  if (path == "/") {
    request.route = Route::kPage;
  } else if (path == "/healthz") {
    request.route = Route::kHealth;
  } else if (path == "/metrics") {
    request.route = Route::kMetrics;
  } else if (path == "/v1/regions") {
    request.route = Route::kRegions;
  } else if (path == "/v1/name") {
    return NameRoute(params);
  } else if (StartsWith(path, "/cid/")) {
    return NumberRoute(Route::kCid, path.substr(5));
  } else if (StartsWith(path, "/v1/number/")) {
    return NumberRoute(Route::kNumber, path.substr(11));
  } else {
    return Error(Route::kOther, 404, "no such resource: " + Text_Excerpt(path));
  }
  return request;
}
