// Fuzzes what a host hands the library: key normalisation on arbitrary text, and whole
// SearchRequest and OpenRequest records with arbitrary lengths and bytes, over a good sample set.
//
// Input: a selector byte, then the fields in the order the records hold them.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "qor3.h"
#include "search/number_search.h"

namespace {

std::string g_dir1, g_dir2, g_correctionDir;
void* g_handle = nullptr;
OpenResult g_result;
bool g_sampleOpen = false;

void OpenSample() {
  if (g_sampleOpen) return;
  const OpenRequest open = Fuzz_OpenRequest(g_dir1, g_dir2, g_correctionDir);
  g_result = OpenResult{};
  g_handle = Qor_Open(&open, &g_result);
  if (!g_handle) {
    std::fprintf(stderr, "fuzz: the sample set does not open\n");
    std::abort();
  }
  g_sampleOpen = true;
}

using Input = std::pair<const uint8_t*, size_t>;

uint8_t Byte(Input* in) { return Fuzz_TakeByte(&in->first, &in->second); }
uint32_t U32(Input* in) { return Fuzz_TakeU32(&in->first, &in->second); }
std::string Bytes(Input* in, size_t n) { return Fuzz_TakeBytes(&in->first, &in->second, n); }

// Input: capacity byte, then the text.
void FuzzKey(Input* in) {
  const size_t capacity = Byte(in) % 49;
  const std::string text = Bytes(in, in->second);
  // Exact-size buffers, so a write past the capacity or a read past the NUL is caught.
  std::vector<char> digits(capacity);
  NumberSearch_NormalizeKey(text.c_str(), digits.empty() ? nullptr : digits.data(), capacity);
}

// A text field: a form byte, a byte count (at most the field's width) and the bytes; with a
// form byte of 200 or more the stated length is a u32 of its own, whatever the bytes are.
void FillText(Input* in, uint32_t* length, char* field, size_t width) {
  const uint8_t form = Byte(in);
  const std::string bytes = Bytes(in, Byte(in) % (width + 1));
  std::memcpy(field, bytes.data(), bytes.size());
  *length = form < 200 ? static_cast<uint32_t>(bytes.size()) : U32(in);
}

// Input: mode byte (below 250: mode 1 or 2 by its low bit; else a u32 follows), u32 kind
// filter, region byte (below 240: one of the sample regions; else a u32 follows), then the
// texts address 1, address 2, name pattern and key.
void FuzzSearch(Input* in) {
  OpenSample();
  SearchRequest request;
  std::memset(&request, 0, sizeof request);
  const uint8_t mode = Byte(in);
  request.mode = mode < 250 ? 1u + (mode & 1u) : U32(in);
  request.kindFilter = U32(in);
  static const uint32_t kRegions[] = {13101, 13102, 27100};
  const uint8_t region = Byte(in);
  request.regionCode = region < 240 ? kRegions[region % 3] : U32(in);
  FillText(in, &request.address1Length, request.address1, sizeof request.address1);
  FillText(in, &request.address2Length, request.address2, sizeof request.address2);
  FillText(in, &request.namePatternLength, request.namePattern, sizeof request.namePattern);
  FillText(in, &request.keyLength, request.key, sizeof request.key);
  Fuzz_SearchAndCheck(g_handle, &request);
}

// A path field: a form byte (bit 0: start with the sample directory; 200 or more: a u32
// length follows), a byte count and bytes appended to it.
void FillPath(Input* in, const std::string& base, uint32_t* length, char* field) {
  const uint8_t form = Byte(in);
  std::string path = form & 1 ? base : "";
  // Never '/', so a path cannot lead out of the sample directories into someone else's.
  for (char c : Bytes(in, Byte(in))) path += c == '/' ? '_' : c;
  if (path.size() > 256) path.resize(256);
  std::memcpy(field, path.data(), path.size());
  *length = form < 200 ? static_cast<uint32_t>(path.size()) : U32(in);
}

void FuzzOpen(Input* in) {
  OpenRequest request;
  std::memset(&request, 0, sizeof request);
  FillPath(in, g_dir1, &request.directory1Length, request.directory1);
  FillPath(in, g_dir2, &request.directory2Length, request.directory2);
  FillPath(in, g_correctionDir, &request.correctionDirectoryLength, request.correctionDirectory);
  OpenResult result;
  std::memset(&result, 0xA5, sizeof result);
  OpenResult before;
  std::memcpy(&before, &result, sizeof result);
  void* handle = Qor_Open(&request, &result);
  if (!handle) {
    if (std::memcmp(&before, &result, sizeof result) != 0) {
      std::fprintf(stderr, "fuzz: a failed open wrote the result\n");
      std::abort();
    }
    return;
  }
  // A successful open replaced the sample engine; it is opened again when a search needs it.
  if (g_sampleOpen) Qor_Close(g_handle, &g_result);
  g_sampleOpen = false;
  Fuzz_CheckOpenResult(result);
  SearchRequest number = Fuzz_NumberRequest("03-1234-5678");
  Fuzz_SearchAndCheck(handle, &number);
  Qor_Close(handle, &result);
}

std::vector<uint8_t> Seed(std::vector<uint8_t> bytes, const std::string& tail) {
  bytes.insert(bytes.end(), tail.begin(), tail.end());
  return bytes;
}

void WriteSeeds() {
  Fuzz_WriteSeed("key", Seed({0, 40}, "03-1234-5678"));
  Fuzz_WriteSeed("number", Seed({1, 1, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 12}, "03-1234-5678"));
  Fuzz_WriteSeed("name", {1, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 1, '*', 0, 0});
  Fuzz_WriteSeed("name-long-lengths",
                 {1, 0, 0, 0, 0, 3, 2, 200, 0, 0, 0, 1, 0, 0, 0, 0, 1, '*', 250, 0, 255, 255, 255,
                  255});
  Fuzz_WriteSeed("open", {2, 1, 0, 1, 0, 1, 0});
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (Fuzz_SeedDir()) {
    WriteSeeds();
    std::exit(0);
  }
  g_dir1 = Fuzz_MakeDir("request-1");
  g_dir2 = Fuzz_MakeDir("request-2");
  g_correctionDir = Fuzz_MakeDir("request-correction");
  const std::vector<uint8_t> d1 = Fuzz_BuildDict(kFuzzTsv0101, false, 20020801);
  const std::vector<uint8_t> d2 = Fuzz_BuildDict(kFuzzTsv0102, false, 20020801);
  const std::vector<uint8_t> c = Fuzz_BuildDict(kFuzzCorrectionTsv, true, 20020801);
  Fuzz_WriteFile(g_dir1 + "qor0101.dct", d1.data(), d1.size());
  Fuzz_WriteFile(g_dir2 + "qor0102.dct", d2.data(), d2.size());
  Fuzz_WriteFile(g_correctionDir + "qor5001.dct", c.data(), c.size());
  OpenSample();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in{data, size};
  switch (Byte(&in) % 3) {
    case 0:
      FuzzKey(&in);
      break;
    case 1:
      FuzzSearch(&in);
      break;
    default:
      FuzzOpen(&in);
      break;
  }
  return 0;
}
