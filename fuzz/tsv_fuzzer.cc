// Fuzzes qor-mkdict's input: the TSV parser and row checks, the area code list parser and the
// builder; what the builder accepts is opened and every listing's number must be found again.
//
// Input: flags, then the text. Flag 0x01: a correction file's TSV; flag 0x02: the text is an
// area code list instead; flag 0x04: small blocks.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "mkdict/dict_builder.h"
#include "mkdict/tsv_input.h"
#include "qor3.h"

namespace {

std::string g_dir;

std::vector<uint8_t> Seed(uint8_t flags, const std::string& text) {
  std::vector<uint8_t> bytes{flags};
  bytes.insert(bytes.end(), text.begin(), text.end());
  return bytes;
}

void WriteSeeds() {
  Fuzz_WriteSeed("dictionary", Seed(4, kFuzzTsv0101));
  Fuzz_WriteSeed("osaka", Seed(0, kFuzzTsv0102));
  Fuzz_WriteSeed("correction", Seed(5, kFuzzCorrectionTsv));
  Fuzz_WriteSeed("area-codes", Seed(2, "# area codes\n03\n0422\n\n01267\n"));
}

// Every listing of a dictionary the builder made is found by its number.
void CheckReadBack(const std::vector<Listing>& listings, const std::vector<uint8_t>& image) {
  Fuzz_WriteFile(g_dir + "qor0101.dct", image.data(), image.size());
  Fuzz_RemoveFile(g_dir + "qor9999.dct");
  const OpenRequest open = Fuzz_OpenRequest(g_dir, "", "");
  OpenResult result{};
  void* handle = Qor_Open(&open, &result);
  if (!handle) {
    std::fprintf(stderr, "fuzz: a built dictionary does not open\n");
    std::abort();
  }
  Fuzz_CheckOpenResult(result);
  for (size_t i = 0; i < listings.size() && i < 8; ++i) {
    SearchRequest number = Fuzz_NumberRequest(Listing_NumberText(listings[i].number));
    if (Fuzz_SearchAndCheck(handle, &number) == 0) {
      std::fprintf(stderr, "fuzz: listing %zu of a built dictionary not found\n", i);
      std::abort();
    }
  }
  Qor_Close(handle, &result);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (Fuzz_SeedDir()) {
    WriteSeeds();
    std::exit(0);
  }
  g_dir = Fuzz_MakeDir("tsv");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t flags = Fuzz_TakeByte(&data, &size);
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string error;
  if (flags & 2) {
    std::vector<uint32_t> codes;
    AreaCodes_Parse(text, &codes, &error);
    return 0;
  }
  const bool correction = flags & 1;
  std::vector<Listing> listings;
  if (!TsvInput_Parse(text, correction, &listings, &error)) return 0;
  DictBuildOptions options;
  options.edition1 = 20020801;
  options.edition2 = 1;
  options.correction = correction;
  options.areaCodes = {3, 6, 422};
  if (flags & 4) {
    options.maxEntriesPerBlock = 2;
    options.maxItemsPerNumberBlock = 2;
  }
  std::vector<uint8_t> image;
  DictBuildStats stats;
  if (!DictBuilder_Build(listings, options, &image, &stats, &error)) return 0;
  if (!correction && !listings.empty()) CheckReadBack(listings, image);
  return 0;
}
