// Fuzzes qor-serve's request translation with arbitrary paths and query parameters, and checks
// that what it lets through fits the library's request record.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "request.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (Fuzz_SeedDir()) {
    Fuzz_WriteSeed("cid", Fuzz_Join({}, {"/cid/tel:+81-3-1234-5678"}, {}));
    Fuzz_WriteSeed("number", Fuzz_Join({}, {"/v1/number/+81 3-1234-5678"}, {}));
    Fuzz_WriteSeed("name", Fuzz_Join({}, {"/v1/name", "region", "13101", "pattern",
                                          "\xE4\xBD\x90\xE8\x97\xA4*", "address1", "1",
                                          "kind", "2", "limit", "5"}, {}));
    std::exit(0);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = Fuzz_TakeText(&data, &size);
  QueryParams params;
  while (size > 0 && params.size() < 16) {
    std::string name = Fuzz_TakeText(&data, &size);
    params.emplace_back(std::move(name), Fuzz_TakeText(&data, &size));
  }
  const ServeRequest r = Request_Translate(path, path.size(), params);
  if ((r.status == 200) != r.error.empty()) std::abort();
  if (r.status != 200 && r.status != 400 && r.status != 404 && r.status != 414) std::abort();
  if (r.status != 200) return 0;
  if (r.route == Route::kCid || r.route == Route::kNumber) {
    const size_t n = r.key.size();
    if (n != 0 && ((n != 9 && n != 10) || r.key[0] != '0' ||
                   r.key.find_first_not_of("0123456789") != std::string::npos)) {
      std::abort();
    }
  }
  if (r.route == Route::kName &&
      (r.pattern.empty() || r.pattern.size() > 160 || r.address1.size() > 80 ||
       r.address2.size() > 80 || r.region > 49999 || r.kind < 1 || r.kind > 3 || r.limit < 1 ||
       r.limit > kMaxLimit)) {
    std::abort();
  }
  return 0;
}
