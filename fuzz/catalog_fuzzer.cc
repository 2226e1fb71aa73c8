// Fuzzes the catalog file qor9999.dct of directory 1 on the open path, beside good dictionaries
// whose file times are fixed (so a catalog that matches them is kept and its region and prefix
// tables are trusted), then searches with the engine built from it.
//
// Input: the catalog file image.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "qor3.h"

namespace {

std::string g_dir1, g_dir2, g_correctionDir;

void MakeDict(const std::string& dir, const char* name, const char* tsv, uint32_t edition1) {
  const std::vector<uint8_t> image = Fuzz_BuildDict(tsv, false, edition1);
  Fuzz_WriteFile(dir + name, image.data(), image.size());
  Fuzz_SetFixedTime(dir + name);
}

void Setup() {
  g_dir1 = Fuzz_MakeDir("catalog-1");
  g_dir2 = Fuzz_MakeDir("catalog-2");
  g_correctionDir = Fuzz_MakeDir("catalog-correction");
  MakeDict(g_dir1, "qor0101.dct", kFuzzTsv0101, 20020801);
  MakeDict(g_dir1, "qor0102.dct", kFuzzTsv0102, 20020801);
  // An older copy of 0101 in directory 2 and one only there.
  MakeDict(g_dir2, "qor0101.dct", kFuzzTsv0101, 20010801);
  MakeDict(g_dir2, "qor0103.dct", kFuzzTsv0102, 20020801);
  const std::vector<uint8_t> correction = Fuzz_BuildDict(kFuzzCorrectionTsv, true, 20020801);
  Fuzz_WriteFile(g_correctionDir + "qor5001.dct", correction.data(), correction.size());
}

void* Open(OpenResult* result) {
  const OpenRequest open = Fuzz_OpenRequest(g_dir1, g_dir2, g_correctionDir);
  return Qor_Open(&open, result);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Setup();
  // The first open writes both catalogs; directory 2's stays as it is from now on.
  OpenResult result{};
  void* handle = Open(&result);
  if (!handle) {
    std::fprintf(stderr, "fuzz: the sample set does not open\n");
    std::abort();
  }
  Qor_Close(handle, &result);
  if (Fuzz_SeedDir()) {
    Fuzz_WriteSeed("current", Fuzz_ReadFile(g_dir1 + "qor9999.dct"));
    Fuzz_WriteSeed("directory2", Fuzz_ReadFile(g_dir2 + "qor9999.dct"));
    std::exit(0);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Fuzz_WriteFile(g_dir1 + "qor9999.dct", data, size);
  OpenResult result{};
  void* handle = Open(&result);
  if (!handle) return 0;
  Fuzz_CheckOpenResult(result);
  // One number of each prefix of the sample set.
  for (const char* key : {"03-1234-5678", "0422-12-3456", "06-6123-4567"}) {
    SearchRequest number = Fuzz_NumberRequest(key);
    Fuzz_SearchAndCheck(handle, &number);
  }
  for (uint32_t i = 0; i < result.regionCount && i < 4; ++i) {
    SearchRequest name = Fuzz_NameRequest(static_cast<uint32_t>(result.regions[i]->regionCode),
                                          3, "*", "", "");
    Fuzz_SearchAndCheck(handle, &name);
  }
  Qor_Close(handle, &result);
  return 0;
}
