// A cursor over a byte span that refuses to move past its end: every reader of file bytes
// goes through it, so no decoder can read outside the buffer it was given.
#ifndef QOR3_BASE_BYTE_READER_H
#define QOR3_BASE_BYTE_READER_H

#include <cstddef>
#include <cstdint>

#include "base/byte_order.h"

struct ByteReader {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

inline ByteReader ByteReader_Make(const void* data, size_t size) {
  return ByteReader{static_cast<const uint8_t*>(data), size, 0};
}
inline size_t ByteReader_Left(const ByteReader* r) { return r->size - r->pos; }
inline bool ByteReader_AtEnd(const ByteReader* r) { return r->pos >= r->size; }

// Each Get returns false, and leaves the cursor where it was, when the bytes are not there.
inline bool ByteReader_Peek(const ByteReader* r, uint8_t* out) {
  if (r->pos >= r->size) return false;
  *out = r->data[r->pos];
  return true;
}
inline bool ByteReader_U8(ByteReader* r, uint8_t* out) {
  if (r->pos >= r->size) return false;
  *out = r->data[r->pos++];
  return true;
}
inline bool ByteReader_U16(ByteReader* r, uint32_t* out) {
  if (r->size - r->pos < 2) return false;
  *out = LoadU16BE(r->data + r->pos);
  r->pos += 2;
  return true;
}
inline bool ByteReader_U24(ByteReader* r, uint32_t* out) {
  if (r->size - r->pos < 3) return false;
  *out = LoadU24BE(r->data + r->pos);
  r->pos += 3;
  return true;
}
inline bool ByteReader_U32(ByteReader* r, uint32_t* out) {
  if (r->size - r->pos < 4) return false;
  *out = LoadU32BE(r->data + r->pos);
  r->pos += 4;
  return true;
}
inline bool ByteReader_Skip(ByteReader* r, size_t n) {
  if (r->size - r->pos < n) return false;
  r->pos += n;
  return true;
}
// Points *out at the next n bytes and steps over them.
inline bool ByteReader_Bytes(ByteReader* r, size_t n, const uint8_t** out) {
  if (r->size - r->pos < n) return false;
  *out = r->data + r->pos;
  r->pos += n;
  return true;
}
// Reads a NUL-terminated text of at most maxLen bytes (NUL excluded); *out points into the
// span and *len receives its length. Fails when no NUL is found in time or in the span.
inline bool ByteReader_CString(ByteReader* r, size_t maxLen, const char** out, size_t* len) {
  size_t limit = r->size - r->pos;
  if (limit > maxLen + 1) limit = maxLen + 1;
  for (size_t i = 0; i < limit; ++i) {
    if (r->data[r->pos + i] == 0) {
      *out = reinterpret_cast<const char*>(r->data + r->pos);
      *len = i;
      r->pos += i + 1;
      return true;
    }
  }
  return false;
}

#endif  // QOR3_BASE_BYTE_READER_H
