// Helpers shared by the fuzz targets: splitting an input into parts.
#include "fuzz_support.h"

std::string Fuzz_TakeText(const uint8_t** data, size_t* size) {
  size_t n = 0;
  while (n < *size && (*data)[n] != 0) ++n;
  std::string text(reinterpret_cast<const char*>(*data), n);
  size_t step = n < *size ? n + 1 : n;
  *data += step;
  *size -= step;
  return text;
}
