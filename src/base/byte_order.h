// Big-endian loads and stores: the byte order of every file format of the project.
#ifndef QOR3_BASE_BYTE_ORDER_H
#define QOR3_BASE_BYTE_ORDER_H

#include <cstdint>

inline void PutU16BE(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void PutU24BE(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 16);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v);
}
inline void PutU32BE(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}
inline uint32_t LoadU16BE(const uint8_t* p) { return (uint32_t{p[0]} << 8) | p[1]; }
inline uint32_t LoadU24BE(const uint8_t* p) {
  return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
}
inline uint32_t LoadU32BE(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
inline void GetU16BE(const uint8_t* p, uint16_t* out) { *out = static_cast<uint16_t>(LoadU16BE(p)); }
inline void GetU32BE(const uint8_t* p, uint32_t* out) { *out = LoadU32BE(p); }

#endif  // QOR3_BASE_BYTE_ORDER_H
