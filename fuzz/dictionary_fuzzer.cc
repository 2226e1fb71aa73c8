// Fuzzes a dictionary file as the only dictionary of a set: the open path (directory scan,
// summary, catalog write and read, engine build) and both searches over it.
//
// Input: flags, kind filter, then the texts key, name pattern, address 1 and address 2 (each
// ended by 0x00), then the file image. Flag 0x01: the image is in block form (blocks stored
// decompressed; compressed here), so mutations reach the block decoders.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "qor3.h"

namespace {

std::string g_dir;

void WriteSeeds() {
  const std::vector<uint8_t> image = Fuzz_BuildDict(kFuzzTsv0101, false, 20020801);
  std::vector<uint8_t> blockForm;
  if (!Fuzz_ToBlockForm(image, &blockForm)) __builtin_trap();
  const std::string pattern = Fuzz_Cp932("佐藤*", true);
  const std::string address = Fuzz_Cp932("丸の内", true);
  Fuzz_WriteSeed("compressed", Fuzz_Join({0, 3}, {"03-1234-5678", "*", "", ""}, image));
  Fuzz_WriteSeed("blocks", Fuzz_Join({1, 3}, {"0312345679", pattern, address, "1-1"}, blockForm));
  Fuzz_WriteSeed("blocks-kind2",
                 Fuzz_Join({1, 2}, {"0422-12-3456", "?*", "", ""}, blockForm));
  const std::vector<uint8_t> osaka = Fuzz_BuildDict(kFuzzTsv0102, false, 20020801);
  Fuzz_WriteSeed("osaka", Fuzz_Join({0, 1}, {"06-6123-4567", "*", "", ""}, osaka));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (Fuzz_SeedDir()) {
    WriteSeeds();
    std::exit(0);
  }
  g_dir = Fuzz_MakeDir("dictionary");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t flags = Fuzz_TakeByte(&data, &size);
  const uint8_t kindFilter = Fuzz_TakeByte(&data, &size);
  const std::string key = Fuzz_TakeText(&data, &size);
  const std::string pattern = Fuzz_TakeText(&data, &size);
  const std::string address1 = Fuzz_TakeText(&data, &size);
  const std::string address2 = Fuzz_TakeText(&data, &size);
  const std::string file = g_dir + "qor0101.dct";
  if (flags & 1) {
    const std::vector<uint8_t> image = Fuzz_FromBlockForm(data, size);
    Fuzz_WriteFile(file, image.data(), image.size());
  } else {
    Fuzz_WriteFile(file, data, size);
  }
  // The catalog is made afresh from the file every time.
  Fuzz_RemoveFile(g_dir + "qor9999.dct");

  const OpenRequest open = Fuzz_OpenRequest(g_dir, "", "");
  OpenResult result{};
  void* handle = Qor_Open(&open, &result);
  if (!handle) return 0;
  Fuzz_CheckOpenResult(result);
  SearchRequest number = Fuzz_NumberRequest(key);
  Fuzz_SearchAndCheck(handle, &number);
  for (uint32_t i = 0; i < result.regionCount && i < 4; ++i) {
    SearchRequest name = Fuzz_NameRequest(static_cast<uint32_t>(result.regions[i]->regionCode),
                                          kindFilter, pattern, address1, address2);
    Fuzz_SearchAndCheck(handle, &name);
  }
  Qor_Close(handle, &result);
  return 0;
}
