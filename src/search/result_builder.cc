// Result builder: turns a search's result rows into the SearchResult records the host reads,
// stored with their texts in a pool the request owns, and hyphenates numbers.
#include "search/result_builder.h"

#include <cstring>

#include "base/block_pool.h"
#include "base/mem.h"
#include "base/num_text.h"

namespace {

// Copies the text into the pool and fills its length and pointer; false when out of memory.
bool PutText(BlockPool* pool, const char* text, uint32_t* length, char** copy) {
  *copy = BlockPool_PutString(pool, text);
  *length = static_cast<uint32_t>(std::strlen(text));
  return *copy != nullptr;
}

}  // namespace

int ResultRow_Append(RowList* rows, const DictEntry* e) {
  const char* fields[kResultRowFields] = {e->kindText,    e->regionCodeText, e->numberText,
                                          e->postalText,  e->name,           e->regionName1,
                                          e->regionName2, e->address1,       e->address2};
  return RowList_Append(rows, fields, kResultRowFields);
}

void FormatNumber(const AreaCodeSets* areaCodes, const char* numberText, char* output,
                  size_t capacity) {
  const size_t length = std::strlen(numberText);
  if (capacity == 0) return;
  int probes = length == 9 ? 4 : (length == 10 ? 5 : 0);
  const uint32_t v = DecimalValue(numberText);
  uint32_t d = 10000;
  for (int i = 0; i < probes; ++i, d *= 10) {
    const uint32_t q = v / d;
    size_t middle, first;
    if (AreaCodeSet_Has(areaCodes->extended, q)) {
      middle = i + 1;
      first = length - 5 - i;
    } else if (AreaCodeSet_Has(areaCodes->areaCodes, q)) {
      middle = i;
      first = length - 4 - i;
    } else {
      continue;
    }
    if (length + 3 > capacity) break;
    char* out = output;
    std::memcpy(out, numberText, first);
    out += first;
    *out++ = '-';
    if (middle != 0) {
      std::memcpy(out, numberText + first, middle);
      out += middle;
      *out++ = '-';
    }
    std::memcpy(out, numberText + first + middle, 4);
    out[4] = '\0';
    return;
  }
  // No split applies: the plain digits, never what the buffer held before.
  size_t n = length < capacity ? length : capacity - 1;
  std::memcpy(output, numberText, n);
  output[n] = '\0';
}

int Result_Build(RowList* rows, const AreaCodeSets* areaCodes, SearchRequest* request) {
  const uint32_t count = rows->rowCount;
  request->resultCount = 0;
  if (count == 0) return 0;

  auto** results = static_cast<SearchResult**>(Mem_AllocZeroed(count, sizeof(SearchResult*)));
  auto* pool = static_cast<BlockPool*>(Mem_Alloc(sizeof(BlockPool)));
  bool ok = results && pool && BlockPool_Init(pool) == 0;
  const bool poolReady = ok;

  RowList_Rewind(rows);
  char* f[kResultRowFields];
  uint16_t n;
  for (uint32_t i = 0; ok && i < count; ++i) {
    if (RowList_Next(rows, f, &n, kResultRowFields) != 0 || n != kResultRowFields) {
      ok = false;
      break;
    }
    SearchResult r{};
    r.entryKind = static_cast<int32_t>(DecimalValue(f[0]));
    r.regionCode = static_cast<int32_t>(DecimalValue(f[1]));
    char number[24];
    FormatNumber(areaCodes, f[2], number, sizeof number);
    ok = PutText(pool, number, &r.numberLength, &r.number) &&
         PutText(pool, f[3], &r.postalCodeLength, &r.postalCode) &&
         PutText(pool, f[4], &r.nameLength, &r.name) &&
         PutText(pool, f[5], &r.regionName1Length, &r.regionName1) &&
         PutText(pool, f[6], &r.regionName2Length, &r.regionName2) &&
         PutText(pool, f[7], &r.address1Length, &r.address1) &&
         PutText(pool, f[8], &r.address2Length, &r.address2);
    if (ok) {
      results[i] = static_cast<SearchResult*>(BlockPool_PutBytes(pool, &r, sizeof r));
      ok = results[i] != nullptr;
    }
  }

  if (!ok) {
    if (poolReady) BlockPool_Free(pool);
    Mem_Free(pool);
    Mem_Free(results);
    return -1;
  }
  request->results = results;
  request->resultPool = pool;
  request->resultCount = count;
  return 0;
}
