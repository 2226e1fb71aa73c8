// RowList: an append-only list of text rows packed into 512 KiB heap chunks.
//
// Each row is an ordered array of NUL-terminated fields; numbers are stored as fixed-width
// decimal text (NumText), so comparing fields as text is numeric order. Rows are stored as
// a row link followed by a row block, back to back in the chunk with no alignment, so every
// access to a stored word goes through memcpy.
#ifndef QOR3_BASE_ROW_LIST_H
#define QOR3_BASE_ROW_LIST_H

#include <cstddef>
#include <cstdint>

constexpr uint32_t kRowChunkSize = 524288;
// Room every chunk is guaranteed to have left when a row is placed.
constexpr uint32_t kRowChunkRoom = 26214;
constexpr uint32_t kRowMaxFields = 2000;
constexpr uint32_t kRowMaxText = 24576;
// Row link: next link pointer, u32 row number, row block pointer.
constexpr uint32_t kRowLinkSize = 2 * sizeof(void*) + 4;

struct RowList {
  uint8_t* firstRow;      // first row link; null while empty
  uint32_t rowCount;      // rows appended so far
  uint32_t widestRow;     // largest field count appended
  uint8_t* firstChunk;    // first storage chunk
  uint8_t* newRow;        // link placed by the append in progress
  uint8_t* lastRow;       // row appended most recently
  uint8_t* cursor;        // row RowList_Next yields next; null at the end
  uint8_t* currentChunk;  // chunk that receives the next row
  uint32_t chunkFill;     // bytes used in the current chunk, its link included
};

int RowList_Init(RowList* list);
int RowList_Free(RowList* list);
// Appends copies of fields[0..count-1]. Returns 0; -1 when a chunk cannot be allocated (the
// whole list is then freed and left empty) or when the row breaks the row limits (nothing
// is appended and the list is unchanged).
int RowList_Append(RowList* list, const char* const* fields, uint16_t count);
// Adds text as the next field of a row being assembled in the caller's arrays: fields has
// room for fieldCapacity pointers, buffer for bufferCapacity bytes. Returns 0, or -1 when
// the field does not fit (nothing changes).
int RowList_AddField(const char* text, const char** fields, uint16_t* count,
                     uint16_t fieldCapacity, char* buffer, uint16_t* used,
                     uint16_t bufferCapacity);
// Sets the cursor to the first row: 0, or -1 on an empty list (cursor unchanged).
int RowList_Rewind(RowList* list);
// Yields the cursor row: fields[i] points at stored field i for i below min(field count,
// capacity), *count receives that number; moves on. -1 at the end.
int RowList_Next(RowList* list, char** fields, uint16_t* count, uint16_t capacity);

// Stored row access, shared with the sorted row index.
uint8_t* RowLink_Next(const uint8_t* link);
uint32_t RowLink_Number(const uint8_t* link);
uint8_t* RowLink_Block(const uint8_t* link);
uint16_t RowBlock_FieldCount(const uint8_t* block);
char* RowBlock_Field(uint8_t* block, uint16_t i);
// Fills fields as RowList_Next does; returns the number delivered.
uint16_t RowBlock_Fields(uint8_t* block, char** fields, uint16_t capacity);

#endif  // QOR3_BASE_ROW_LIST_H
