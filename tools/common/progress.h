// The tools' progress bar on standard error: "[#####.....] done/total label", redrawn in place
// and cleared at the end. The caller draws it only when standard error is a terminal.
#ifndef QOR3_TOOLS_COMMON_PROGRESS_H
#define QOR3_TOOLS_COMMON_PROGRESS_H

#include <cstddef>

void Progress_Draw(size_t done, size_t total, const char* label);
void Progress_Clear();

#endif  // QOR3_TOOLS_COMMON_PROGRESS_H
