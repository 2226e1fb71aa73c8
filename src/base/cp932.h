// Code page 932 byte classes: which bytes start a two-byte character and which can end one.
#ifndef QOR3_BASE_CP932_H
#define QOR3_BASE_CP932_H

#include <cstdint>

// The first byte of a two-byte character.
constexpr bool IsLeadByte(uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xEF); }
// A byte that can follow a lead byte as the second byte of a character.
constexpr bool IsTrailByte(uint8_t b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }

#endif  // QOR3_BASE_CP932_H
