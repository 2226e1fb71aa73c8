// The one place where "this input is damaged" is decided, so a damaged file can be traced.
#include "base/damage.h"

namespace {
// Per thread: the damage a thread's reads meet is traced by that thread.
thread_local unsigned long g_count = 0;
thread_local const char* g_file = "";
thread_local int g_line = 0;
}  // namespace

DamageNoted Damage_Note(const char* file, int line) {
  if (g_count++ == 0) {
    g_file = file;
    g_line = line;
  }
  return DamageNoted{};
}

unsigned long Damage_Count() { return g_count; }
const char* Damage_FirstFile() { return g_file; }
int Damage_FirstLine() { return g_line; }
void Damage_Reset() {
  g_count = 0;
  g_file = "";
  g_line = 0;
}
