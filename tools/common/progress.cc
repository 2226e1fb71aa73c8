// The tools' progress bar on standard error.
#include "common/progress.h"

#include <cstdio>
#include <string>

namespace {

constexpr int kBarWidth = 30;
constexpr int kLabelWidth = 16;

}  // namespace

void Progress_Draw(size_t done, size_t total, const char* label) {
  const size_t filled =
      total == 0 ? kBarWidth : (done < total ? done : total) * kBarWidth / total;
  std::fprintf(stderr, "\r[%s%s] %zu/%zu %-*s", std::string(filled, '#').c_str(),
               std::string(kBarWidth - filled, '.').c_str(), done, total, kLabelWidth, label);
  std::fflush(stderr);
}

void Progress_Clear() {
  std::fprintf(stderr, "\r%*s\r", kBarWidth + kLabelWidth + 30, "");
  std::fflush(stderr);
}
