// Fuzzes the correction file qor5001.dct beside a good dictionary set: both searches read it
// and merge its additions and removals into the dictionaries' answers.
//
// Input: flags, kind filter, u16 region code (big-endian), then the texts key and name pattern
// (each ended by 0x00), then the file image. Flag 0x01: the image is in block form.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "qor3.h"

namespace {

std::string g_correctionFile;
void* g_handle = nullptr;

void WriteSeeds() {
  const std::vector<uint8_t> image = Fuzz_BuildDict(kFuzzCorrectionTsv, true, 20020801);
  std::vector<uint8_t> blockForm;
  if (!Fuzz_ToBlockForm(image, &blockForm)) __builtin_trap();
  const uint8_t tokyo[] = {0x33, 0x2D};   // 13101
  const uint8_t osaka[] = {0x69, 0xC4};   // 27100
  Fuzz_WriteSeed("compressed",
                 Fuzz_Join({0, 3, tokyo[0], tokyo[1]}, {"03-1234-5679", "*"}, image));
  Fuzz_WriteSeed("blocks", Fuzz_Join({1, 3, tokyo[0], tokyo[1]},
                                     {"0312340000", Fuzz_Cp932("佐藤*", true)}, blockForm));
  Fuzz_WriteSeed("blocks-osaka",
                 Fuzz_Join({1, 2, osaka[0], osaka[1]}, {"06-6123-4569", "*"}, blockForm));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (Fuzz_SeedDir()) {
    WriteSeeds();
    std::exit(0);
  }
  const std::string dir = Fuzz_MakeDir("correction-dicts");
  const std::string correctionDir = Fuzz_MakeDir("correction");
  for (const auto& [name, tsv] : {std::pair{"qor0101.dct", kFuzzTsv0101},
                                  std::pair{"qor0102.dct", kFuzzTsv0102}}) {
    const std::vector<uint8_t> image = Fuzz_BuildDict(tsv, false, 20020801);
    Fuzz_WriteFile(dir + name, image.data(), image.size());
  }
  g_correctionFile = correctionDir + "qor5001.dct";
  const std::vector<uint8_t> good = Fuzz_BuildDict(kFuzzCorrectionTsv, true, 20020801);
  Fuzz_WriteFile(g_correctionFile, good.data(), good.size());
  const OpenRequest open = Fuzz_OpenRequest(dir, "", correctionDir);
  static OpenResult result;
  g_handle = Qor_Open(&open, &result);
  if (!g_handle || result.correctionFilePresent != 1) {
    std::fprintf(stderr, "fuzz: the sample set does not open\n");
    std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t flags = Fuzz_TakeByte(&data, &size);
  const uint8_t kindFilter = Fuzz_TakeByte(&data, &size);
  const uint8_t high = Fuzz_TakeByte(&data, &size);
  const uint32_t regionCode = (uint32_t{high} << 8) | Fuzz_TakeByte(&data, &size);
  const std::string key = Fuzz_TakeText(&data, &size);
  const std::string pattern = Fuzz_TakeText(&data, &size);
  if (flags & 1) {
    const std::vector<uint8_t> image = Fuzz_FromBlockForm(data, size);
    Fuzz_WriteFile(g_correctionFile, image.data(), image.size());
  } else {
    Fuzz_WriteFile(g_correctionFile, data, size);
  }
  SearchRequest number = Fuzz_NumberRequest(key);
  Fuzz_SearchAndCheck(g_handle, &number);
  SearchRequest name = Fuzz_NameRequest(regionCode, kindFilter, pattern, "", "");
  Fuzz_SearchAndCheck(g_handle, &name);
  return 0;
}
