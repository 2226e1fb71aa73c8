// Numbers as fixed-width decimal text.
#include "base/num_text.h"

namespace {
constexpr int kMaxWidth = 23;
// One pair of buffers per thread, so that threads searching at once never share a text.
thread_local char g_numText[kMaxWidth + 1];
thread_local char g_blanks[kMaxWidth + 1];

int ClampWidth(int width) { return width < 0 ? 0 : (width > kMaxWidth ? kMaxWidth : width); }
}  // namespace

const char* Blanks(int width) {
  width = ClampWidth(width);
  for (int i = 0; i < width; ++i) g_blanks[i] = ' ';
  g_blanks[width] = '\0';
  return g_blanks;
}

const char* NumText(uint32_t value, int width) {
  width = ClampWidth(width);
  if (value == 0xFFFFFFFFu) {
    const char* blanks = Blanks(width);
    for (int i = 0; i <= width; ++i) g_numText[i] = blanks[i];
    return g_numText;
  }
  for (int i = 0; i < width; ++i) {
    g_numText[width - 1 - i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  g_numText[width] = '\0';
  return g_numText;
}

uint32_t DecimalValue(const char* text) {
  uint32_t v = 0;
  while (*text == ' ') ++text;
  for (; *text >= '0' && *text <= '9'; ++text) v = v * 10 + static_cast<uint32_t>(*text - '0');
  return v;
}
