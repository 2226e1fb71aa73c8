// Helpers shared by the fuzz targets: splitting an input into parts.
#ifndef QOR3_FUZZ_FUZZ_SUPPORT_H
#define QOR3_FUZZ_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>

// Takes bytes up to the next 0x00 (or the end) from the input and steps over the separator.
std::string Fuzz_TakeText(const uint8_t** data, size_t* size);

#endif  // QOR3_FUZZ_FUZZ_SUPPORT_H
