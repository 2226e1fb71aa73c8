// Numbers as fixed-width decimal text, and big-endian loads and stores for the file formats.
#ifndef QOR3_BASE_NUM_TEXT_H
#define QOR3_BASE_NUM_TEXT_H

#include <cstdint>

// The last `width` decimal digits of value, zero-padded (value modulo 10^width); width
// spaces for 0xFFFFFFFF. width is clamped to 0..23. Returns a shared buffer that the next
// call overwrites: copy the text at once.
const char* NumText(uint32_t value, int width);
// width spaces (clamped to 0..23) in a second shared buffer.
const char* Blanks(int width);

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
inline void GetU16BE(const uint8_t* p, uint16_t* out) {
  *out = static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline void GetU24BE(const uint8_t* p, uint32_t* out) {
  *out = (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
}
inline void GetU32BE(const uint8_t* p, uint32_t* out) {
  *out = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// Decimal value of a digit text as atoi reads it (leading digits only), as unsigned.
uint32_t DecimalValue(const char* text);

#endif  // QOR3_BASE_NUM_TEXT_H
