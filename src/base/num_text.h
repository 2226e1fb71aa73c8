// Numbers as fixed-width decimal text.
#ifndef QOR3_BASE_NUM_TEXT_H
#define QOR3_BASE_NUM_TEXT_H

#include <cstdint>

// The last `width` decimal digits of value, zero-padded (value modulo 10^width); width
// spaces for 0xFFFFFFFF. width is clamped to 0..23. Returns a buffer of the calling thread
// that its next call overwrites: copy the text at once.
const char* NumText(uint32_t value, int width);
// width spaces (clamped to 0..23) in a second buffer of the calling thread.
const char* Blanks(int width);

// Decimal value of a digit text as atoi reads it (leading digits only), as unsigned.
uint32_t DecimalValue(const char* text);

#endif  // QOR3_BASE_NUM_TEXT_H
