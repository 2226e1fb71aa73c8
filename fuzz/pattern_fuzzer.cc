// Fuzzes the pattern matcher with arbitrary text and pattern bytes, widened and not.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "search/pattern.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (Fuzz_SeedDir()) {
    const std::string name = Fuzz_Cp932("佐藤　太郎", true);
    Fuzz_WriteSeed("ascii", Fuzz_Join({}, {name, "*"}, {}));
    Fuzz_WriteSeed("full-width", Fuzz_Join({}, {name, Fuzz_Cp932("佐藤＊？郎", false)}, {}));
    Fuzz_WriteSeed("mixed", Fuzz_Join({}, {name, Fuzz_Cp932("?藤*", false)}, {}));
    std::exit(0);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text = Fuzz_TakeText(&data, &size);
  std::string pattern = Fuzz_TakeText(&data, &size);
  // Exact-size heap copies so a read past either NUL is caught.
  std::vector<char> t(text.begin(), text.end());
  t.push_back('\0');
  std::vector<char> p(pattern.begin(), pattern.end());
  p.push_back('\0');
  Pattern_IsBlank(p.data());
  Pattern_Match(t.data(), p.data());
  std::vector<char> widened(2 * pattern.size() + 1);
  if (Pattern_Widen(p.data(), widened.data(), widened.size()) >= 0) {
    Pattern_Match(t.data(), widened.data());
  }
  return 0;
}
