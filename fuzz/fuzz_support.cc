// Helpers shared by the fuzz targets.
#include "fuzz_support.h"

#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "common/cp932.h"
#include "mkdict/dict_builder.h"
#include "mkdict/tsv_input.h"
#include "base/byte_order.h"
#include "dict/dict_file.h"
#include "engine/engine.h"

namespace fs = std::filesystem;

std::string Fuzz_TakeText(const uint8_t** data, size_t* size) {
  size_t n = 0;
  while (n < *size && (*data)[n] != 0) ++n;
  std::string text(reinterpret_cast<const char*>(*data), n);
  size_t step = n < *size ? n + 1 : n;
  *data += step;
  *size -= step;
  return text;
}

uint8_t Fuzz_TakeByte(const uint8_t** data, size_t* size) {
  if (*size == 0) return 0;
  const uint8_t b = **data;
  ++*data;
  --*size;
  return b;
}

uint32_t Fuzz_TakeU32(const uint8_t** data, size_t* size) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = (v << 8) | Fuzz_TakeByte(data, size);
  return v;
}

std::string Fuzz_TakeBytes(const uint8_t** data, size_t* size, size_t n) {
  if (n > *size) n = *size;
  std::string bytes(reinterpret_cast<const char*>(*data), n);
  *data += n;
  *size -= n;
  return bytes;
}

#define FUZZ_TSV_HEADER \
  "kind\tregion_code\tnumber\tpostal_code\tname\tregion_name1\tregion_name2\taddress1\taddress2"

const char kFuzzTsv0101[] =
    FUZZ_TSV_HEADER "\n"
    "1\t13101\t03-1234-5678\t100-0005\t佐藤 太郎\t東京都\t千代田区\t丸の内\t1-1-1\n"
    "1\t13101\t03-1234-5679\t100-0005\t佐藤 花子\t東京都\t千代田区\t丸の内\t1-1-2\n"
    "2\t13101\t03-1234-5678\t100-0005\t山田商店\t東京都\t千代田区\t丸の内\t1-2-3\n"
    "2\t13101\t03-3211-0001\t100-0006\t山田商事\t東京都\t千代田区\t有楽町\t2-1-1\n"
    "1\t13101\t03-3211-0002\t100-0006\t鈴木 一郎\t東京都\t千代田区\t有楽町\t2-1-2\n"
    "1\t13102\t03-3666-1234\t103-0001\t高橋 次郎\t東京都\t中央区\t日本橋\t3-3-3\n"
    "2\t13102\t03-3666-1235\t103-0001\t中央薬局\t東京都\t中央区\t日本橋\t3-3-4\n"
    "1\t13102\t0422-12-3456\t103-0002\t田中 三郎\t東京都\t中央区\t日本橋本町\t\n";

const char kFuzzTsv0102[] =
    FUZZ_TSV_HEADER "\n"
    "1\t27100\t06-6123-4567\t530-0001\t渡辺 四郎\t大阪府\t大阪市\t梅田\t1-1\n"
    "2\t27100\t06-6123-4568\t530-0001\t梅田書店\t大阪府\t大阪市\t梅田\t1-2\n"
    "1\t27100\t06-6123-4567\t530-0002\t伊藤 五郎\t大阪府\t大阪市\t曽根崎\t\n";

const char kFuzzCorrectionTsv[] =
    FUZZ_TSV_HEADER "\tcorrection\tversion\n"
    "1\t13101\t03-1234-0000\t100-0005\t佐藤 一\t東京都\t千代田区\t丸の内\t1-1-0\tadd\t2612\n"
    "1\t13101\t03-1234-5679\t100-0005\t佐藤 花子\t東京都\t千代田区\t丸の内\t1-1-2\tremove\t300\n"
    "2\t27100\t06-6123-4569\t530-0001\t梅田食堂\t大阪府\t大阪市\t梅田\t1-3\tadd\t100\n";

const char* const kFuzzSampleNumbers[] = {"03-1234-5678", "0312345679", "03-1234-0000",
                                          "0422-12-3456", "06-6123-4567", "0661234569"};
const size_t kFuzzSampleNumberCount = sizeof kFuzzSampleNumbers / sizeof kFuzzSampleNumbers[0];

std::vector<uint8_t> Fuzz_BuildDict(const char* tsv, bool correction, uint32_t edition1) {
  std::vector<Listing> listings;
  std::string error;
  DictBuildOptions options;
  options.edition1 = edition1;
  options.edition2 = 1;
  options.correction = correction;
  options.areaCodes = {3, 6, 422};
  options.extendedAreaCodes = {425};
  options.maxEntriesPerBlock = 2;
  options.maxItemsPerNumberBlock = 2;
  std::vector<uint8_t> image;
  DictBuildStats stats;
  if (!TsvInput_Parse(tsv, correction, &listings, &error) ||
      !DictBuilder_Build(std::move(listings), options, &image, &stats, &error)) {
    std::fprintf(stderr, "fuzz: sample dictionary not built: %s\n", error.c_str());
    std::abort();
  }
  return image;
}

std::string Fuzz_Cp932(const char* utf8, bool fullWidth) {
  std::string out, error;
  if (!Cp932_FromUtf8(utf8, fullWidth, &out, &error)) {
    std::fprintf(stderr, "fuzz: not convertible: %s\n", error.c_str());
    std::abort();
  }
  return out;
}

namespace {

std::vector<fs::path>& MadeDirs() {
  static std::vector<fs::path> dirs;
  return dirs;
}

void RemoveMadeDirs() {
  std::error_code ec;
  for (const fs::path& p : MadeDirs()) fs::remove_all(p, ec);
}

}  // namespace

std::string Fuzz_MakeDir(const char* name) {
  std::error_code ec;
  fs::path base = fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
  fs::path dir = base / ("qor3-fuzz-" + std::to_string(getpid()) + "-" + name);
  fs::remove_all(dir, ec);
  if (!fs::create_directories(dir, ec)) {
    std::fprintf(stderr, "fuzz: cannot create %s\n", dir.c_str());
    std::abort();
  }
  if (MadeDirs().empty()) std::atexit(RemoveMadeDirs);
  MadeDirs().push_back(dir);
  return dir.string() + "/";
}

void Fuzz_WriteFile(const std::string& path, const void* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0) {
    std::fprintf(stderr, "fuzz: cannot write %s\n", path.c_str());
    std::abort();
  }
}

void Fuzz_RemoveFile(const std::string& path) { std::remove(path.c_str()); }

std::vector<uint8_t> Fuzz_ReadFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return bytes;
  uint8_t buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
  std::fclose(f);
  return bytes;
}

void Fuzz_SetFixedTime(const std::string& path) {
  struct utimbuf times;
  times.actime = 1030278600;  // 2002-08-25 12:30 UTC
  times.modtime = 1030278600;
  utime(path.c_str(), &times);
}

namespace {

// The block index records of section 5 or 6: where each record's u16 size is (offsets into the
// index) and which records there are. False when the index does not parse.
bool IndexSizeFields(const uint8_t* index, size_t length, bool entrySection,
                     std::vector<size_t>* fields) {
  size_t pos = 0;
  while (pos < length) {
    if (!entrySection) {
      if (length - pos < kNumberIndexRecordSize) return false;
      fields->push_back(pos);
      pos += kNumberIndexRecordSize;
      continue;
    }
    ByteReader r = ByteReader_Make(index, length);
    r.pos = pos;
    EntryIndexRecord record;
    if (Dict_NextEntryIndexRecord(&r, &record) != 1) return false;
    fields->push_back(pos);
    pos = r.pos;
  }
  return true;
}

// Rewrites one block section (5 or 6) with every block passed through convert; false (and out
// untouched) when the section does not parse or a block does not convert.
template <typename Convert>
bool ConvertSection(const uint8_t* section, size_t size, bool entrySection, Convert convert,
                    std::vector<uint8_t>* out) {
  uint16_t indexLength = 0;
  uint32_t dataLength = 0;
  if (Dict_ParseSectionHead(section, static_cast<uint32_t>(size), &indexLength, &dataLength) !=
          Result::kOk ||
      size - kSectionHeadSize - indexLength < dataLength) {
    return false;
  }
  std::vector<uint8_t> index(section + 6, section + 6 + indexLength);
  std::vector<size_t> fields;
  if (!IndexSizeFields(index.data(), index.size(), entrySection, &fields)) return false;
  const uint8_t* data = section + 6 + indexLength;
  std::vector<uint8_t> blocks;
  size_t pos = 0;
  for (size_t field : fields) {
    const size_t blockSize = LoadU16BE(&index[field]);
    if (dataLength - pos < blockSize) return false;
    std::vector<uint8_t> converted;
    if (!convert(data + pos, blockSize, &converted) || converted.size() > 0xFFFF) return false;
    PutU16BE(&index[field], static_cast<uint32_t>(converted.size()));
    blocks.insert(blocks.end(), converted.begin(), converted.end());
    pos += blockSize;
  }
  // Bytes after the last block stay as they were.
  blocks.insert(blocks.end(), data + pos, data + dataLength);
  uint8_t head[kSectionHeadSize];
  PutU16BE(head, static_cast<uint32_t>(index.size()));
  PutU32BE(head + 2, static_cast<uint32_t>(blocks.size()));
  out->insert(out->end(), head, head + 6);
  out->insert(out->end(), index.begin(), index.end());
  out->insert(out->end(), blocks.begin(), blocks.end());
  // Bytes of the section after the block data, too.
  out->insert(out->end(), data + dataLength, section + size);
  return true;
}

template <typename Convert>
bool ConvertImage(const uint8_t* data, size_t size, Convert convert, bool strict,
                  std::vector<uint8_t>* out) {
  out->clear();
  if (size < kDictHeaderSize) {
    if (strict) return false;
    out->assign(data, data + size);
    return true;
  }
  out->assign(data, data + kDictHeaderSize);
  size_t pos = kDictHeaderSize;
  for (int s = 0; s < kDictSectionCount; ++s) {
    const uint32_t sectionSize = LoadU32BE(data + kDictSectionSizesOffset + 4 * s);
    const size_t available = size - pos;
    const size_t take = sectionSize < available ? sectionSize : available;
    const size_t before = out->size();
    if (s >= 5 && take == sectionSize &&
        ConvertSection(data + pos, take, s == 6, convert, out)) {
      PutU32BE(out->data() + kDictSectionSizesOffset + 4 * s,
               static_cast<uint32_t>(out->size() - before));
    } else {
      if (strict && s >= 5) return false;
      out->insert(out->end(), data + pos, data + pos + take);
    }
    pos += take;
  }
  out->insert(out->end(), data + pos, data + size);
  return true;
}

}  // namespace

bool Fuzz_ToBlockForm(const std::vector<uint8_t>& image, std::vector<uint8_t>* out) {
  auto inflate = [](const uint8_t* block, size_t n, std::vector<uint8_t>* raw) {
    uint32_t rawSize = 0;
    raw->resize(kDecompressedBlockMax);
    if (UncompressBuffer(block, static_cast<uint32_t>(n), raw->data(), kDecompressedBlockMax,
                         &rawSize) != Result::kOk) {
      return false;
    }
    raw->resize(rawSize);
    return true;
  };
  return ConvertImage(image.data(), image.size(), inflate, true, out);
}

std::vector<uint8_t> Fuzz_FromBlockForm(const uint8_t* data, size_t size) {
  auto deflate = [](const uint8_t* block, size_t n, std::vector<uint8_t>* packed) {
    uLongf packedSize = compressBound(static_cast<uLong>(n));
    packed->resize(packedSize);
    if (compress2(packed->data(), &packedSize, block, static_cast<uLong>(n), 1) != Z_OK) {
      return false;
    }
    packed->resize(packedSize);
    return true;
  };
  std::vector<uint8_t> out;
  ConvertImage(data, size, deflate, false, &out);
  return out;
}

OpenRequest Fuzz_OpenRequest(const std::string& dir1, const std::string& dir2,
                             const std::string& correction) {
  OpenRequest request;
  std::memset(&request, 0, sizeof request);
  auto set = [](const std::string& path, uint32_t* length, char* field) {
    *length = static_cast<uint32_t>(path.size() < 256 ? path.size() : 256);
    std::memcpy(field, path.data(), *length);
  };
  set(dir1, &request.directory1Length, request.directory1);
  set(dir2, &request.directory2Length, request.directory2);
  set(correction, &request.correctionDirectoryLength, request.correctionDirectory);
  return request;
}

namespace {

[[noreturn]] void Broken(const char* what) {
  std::fprintf(stderr, "fuzz: broken answer: %s\n", what);
  std::abort();
}

void CheckText(const char* text, uint32_t length, const char* what) {
  if (!text) Broken(what);
  if (std::strlen(text) != length) Broken(what);
}

void SetText(const std::string& text, uint32_t* length, char* field, size_t capacity) {
  *length = static_cast<uint32_t>(text.size() < capacity ? text.size() : capacity);
  std::memcpy(field, text.data(), *length);
}

}  // namespace

namespace {

// One search, checked as Fuzz_SearchAndCheck says; its answer as bytes (every field of every
// result in order).
std::string SearchOnce(void* handle, SearchRequest* request) {
  SearchResult** const resultsBefore = reinterpret_cast<SearchResult**>(uintptr_t{0x5A5A5A50});
  BlockPool* const poolBefore = reinterpret_cast<BlockPool*>(uintptr_t{0x5A5A5A60});
  request->results = resultsBefore;
  request->resultPool = poolBefore;
  request->resultCount = 0xFFFFFFFFu;
  if (Qor_Search(handle, request) != 0) Broken("Qor_Search did not return 0");
  const uint32_t count = request->resultCount;
  std::string answer = std::to_string(count);
  if (count == 0) {
    if (request->results != resultsBefore || request->resultPool != poolBefore) {
      Broken("pointers changed without results");
    }
    return answer;
  }
  if (!request->results || !request->resultPool) Broken("results without storage");
  for (uint32_t i = 0; i < count; ++i) {
    const SearchResult* r = request->results[i];
    if (!r) Broken("missing result record");
    CheckText(r->number, r->numberLength, "number");
    CheckText(r->postalCode, r->postalCodeLength, "postal code");
    CheckText(r->name, r->nameLength, "name");
    CheckText(r->regionName1, r->regionName1Length, "region name 1");
    CheckText(r->regionName2, r->regionName2Length, "region name 2");
    CheckText(r->address1, r->address1Length, "address 1");
    CheckText(r->address2, r->address2Length, "address 2");
    answer += '|' + std::to_string(r->entryKind) + ',' + std::to_string(r->regionCode);
    for (const char* text : {r->number, r->postalCode, r->name, r->regionName1, r->regionName2,
                             r->address1, r->address2}) {
      answer += ',';
      answer += text;
    }
  }
  Qor_MemRelease(request);
  return answer;
}

}  // namespace

uint32_t Fuzz_SearchAndCheck(void* handle, SearchRequest* request) {
  const SearchRequest original = *request;
  const std::string cold = SearchOnce(handle, request);
  SearchRequest again = original;
  if (SearchOnce(handle, &again) != cold) Broken("a warm search answered otherwise than a cold one");
#if defined(QOR3_FAULT_INJECTION)
  // And the same without the engine cache.
  EngineCache* cache = &static_cast<Engine*>(handle)->cache;
  EngineCache_SetBudget(cache, 0);
  again = original;
  const std::string direct = SearchOnce(handle, &again);
  EngineCache_SetBudget(cache, kEngineCacheBudget);
  if (direct != cold) Broken("the engine cache changed an answer");
#endif
  return static_cast<uint32_t>(std::stoul(cold.substr(0, cold.find('|'))));
}

SearchRequest Fuzz_NumberRequest(const std::string& key) {
  SearchRequest request;
  std::memset(&request, 0, sizeof request);
  request.mode = 2;
  SetText(key, &request.keyLength, request.key, sizeof request.key);
  return request;
}

SearchRequest Fuzz_NameRequest(uint32_t regionCode, uint32_t kindFilter, const std::string& pattern,
                               const std::string& address1, const std::string& address2) {
  SearchRequest request;
  std::memset(&request, 0, sizeof request);
  request.mode = 1;
  request.regionCode = regionCode;
  request.kindFilter = kindFilter;
  SetText(pattern, &request.namePatternLength, request.namePattern, sizeof request.namePattern);
  SetText(address1, &request.address1Length, request.address1, sizeof request.address1);
  SetText(address2, &request.address2Length, request.address2, sizeof request.address2);
  return request;
}

void Fuzz_CheckOpenResult(const OpenResult& result) {
  if (result.regionCount != 0 && (!result.regions || !result.regionPool)) {
    Broken("regions without storage");
  }
  for (uint32_t i = 0; i < result.regionCount; ++i) {
    const RegionInfo* info = result.regions[i];
    if (!info) Broken("missing region record");
    CheckText(info->name1, info->name1Length, "region name 1");
    CheckText(info->name2, info->name2Length, "region name 2");
  }
}

const char* Fuzz_SeedDir() { return std::getenv("QOR3_FUZZ_SEEDS"); }

void Fuzz_WriteSeed(const char* name, const std::vector<uint8_t>& bytes) {
  std::string dir = Fuzz_SeedDir();
  std::error_code ec;
  fs::create_directories(dir, ec);
  Fuzz_WriteFile(dir + "/" + name, bytes.data(), bytes.size());
}

std::vector<uint8_t> Fuzz_Join(const std::vector<uint8_t>& bytes,
                               const std::vector<std::string>& texts,
                               const std::vector<uint8_t>& body) {
  std::vector<uint8_t> out(bytes);
  for (const std::string& t : texts) {
    out.insert(out.end(), t.begin(), t.end());
    out.push_back(0);
  }
  out.insert(out.end(), body.begin(), body.end());
  return out;
}
