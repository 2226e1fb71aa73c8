// RowList: an append-only list of text rows packed into 512 KiB heap chunks.
#include "base/row_list.h"

#include <cstring>

#include "base/mem.h"

namespace {

uint8_t* LoadPtr(const uint8_t* p) {
  uint8_t* v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
void StorePtr(uint8_t* p, const uint8_t* v) { std::memcpy(p, &v, sizeof v); }
uint16_t LoadU16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
void StoreU16(uint8_t* p, uint32_t v) {
  uint16_t w = static_cast<uint16_t>(v);
  std::memcpy(p, &w, sizeof w);
}

// Row link fields.
constexpr size_t kLinkNext = 0;
constexpr size_t kLinkNumber = sizeof(void*);
constexpr size_t kLinkBlock = sizeof(void*) + 4;
// Row block words.
constexpr size_t kBlockTextOffset = 2;
constexpr size_t kBlockFieldCount = 6;
constexpr size_t kBlockOffsets = 8;

}  // namespace

uint8_t* RowLink_Next(const uint8_t* link) { return LoadPtr(link + kLinkNext); }
uint32_t RowLink_Number(const uint8_t* link) {
  uint32_t v;
  std::memcpy(&v, link + kLinkNumber, sizeof v);
  return v;
}
uint8_t* RowLink_Block(const uint8_t* link) { return LoadPtr(link + kLinkBlock); }
uint16_t RowBlock_FieldCount(const uint8_t* block) { return LoadU16(block + kBlockFieldCount); }

char* RowBlock_Field(uint8_t* block, uint16_t i) {
  uint16_t textOffset = LoadU16(block + kBlockTextOffset);
  uint16_t fieldOffset = LoadU16(block + kBlockOffsets + 2u * i);
  return reinterpret_cast<char*>(block + textOffset + fieldOffset);
}

uint16_t RowBlock_Fields(uint8_t* block, char** fields, uint16_t capacity) {
  uint16_t n = RowBlock_FieldCount(block);
  if (n > capacity) n = capacity;
  for (uint16_t i = 0; i < n; ++i) fields[i] = RowBlock_Field(block, i);
  return n;
}

int RowList_Init(RowList* list) {
  std::memset(list, 0, sizeof *list);
  return 0;
}

int RowList_Free(RowList* list) {
  if (!list->firstChunk) return 0;
  uint8_t* chunk = list->firstChunk;
  while (chunk) {
    uint8_t* next = LoadPtr(chunk);
    Mem_Free(chunk);
    chunk = next;
  }
  return RowList_Init(list);
}

int RowList_Append(RowList* list, const char* const* fields, uint16_t count) {
  // Measure first: a row that breaks the limits is refused before anything is touched.
  if (count > kRowMaxFields) return -1;
  size_t text = 0;
  for (uint16_t i = 0; i < count; ++i) {
    text += std::strlen(fields[i]) + 1;
    if (text > kRowMaxText) return -1;
  }
  const size_t blockSize = 8 + 2u * count + text;
  if (kRowLinkSize + blockSize > kRowChunkRoom) return -1;

  if (!list->currentChunk || kRowChunkSize - list->chunkFill < kRowChunkRoom) {
    uint8_t* chunk = static_cast<uint8_t*>(Mem_Alloc(kRowChunkSize));
    if (!chunk) {
      RowList_Free(list);
      return -1;
    }
    if (list->currentChunk) {
      StorePtr(list->currentChunk, chunk);
    } else {
      list->firstChunk = chunk;
    }
    StorePtr(chunk, nullptr);
    list->currentChunk = chunk;
    list->chunkFill = sizeof(void*);
  }

  uint8_t* link = list->currentChunk + list->chunkFill;
  list->newRow = link;
  if (!list->firstRow) {
    list->firstRow = link;
  } else {
    StorePtr(list->lastRow + kLinkNext, link);
  }
  list->chunkFill += kRowLinkSize;
  uint8_t* block = list->currentChunk + list->chunkFill;
  StorePtr(link + kLinkNext, nullptr);
  std::memcpy(link + kLinkNumber, &list->rowCount, 4);
  StorePtr(link + kLinkBlock, block);

  const size_t textOffset = 8 + 2u * count;
  StoreU16(block + 0, static_cast<uint32_t>(blockSize));
  StoreU16(block + kBlockTextOffset, static_cast<uint32_t>(textOffset));
  StoreU16(block + 4, static_cast<uint32_t>(text));
  StoreU16(block + kBlockFieldCount, count);
  size_t offset = 0;
  for (uint16_t i = 0; i < count; ++i) {
    size_t len = std::strlen(fields[i]) + 1;
    StoreU16(block + kBlockOffsets + 2u * i, static_cast<uint32_t>(offset));
    std::memcpy(block + textOffset + offset, fields[i], len);
    offset += len;
  }
  list->chunkFill += static_cast<uint32_t>(blockSize);

  ++list->rowCount;
  if (count > list->widestRow) list->widestRow = count;
  list->lastRow = link;
  return 0;
}

int RowList_AddField(const char* text, const char** fields, uint16_t* count,
                     uint16_t fieldCapacity, char* buffer, uint16_t* used,
                     uint16_t bufferCapacity) {
  size_t len = std::strlen(text) + 1;
  if (*count >= fieldCapacity || *used > bufferCapacity ||
      len > static_cast<size_t>(bufferCapacity - *used)) {
    return -1;
  }
  char* dst = buffer + *used;
  std::memcpy(dst, text, len);
  fields[(*count)++] = dst;
  *used = static_cast<uint16_t>(*used + len);
  return 0;
}

int RowList_Rewind(RowList* list) {
  if (!list->firstRow) return -1;
  list->cursor = list->firstRow;
  return 0;
}

int RowList_Next(RowList* list, char** fields, uint16_t* count, uint16_t capacity) {
  if (!list->cursor) return -1;
  *count = RowBlock_Fields(RowLink_Block(list->cursor), fields, capacity);
  list->cursor = RowLink_Next(list->cursor);
  return 0;
}
