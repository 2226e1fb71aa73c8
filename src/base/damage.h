// The one place where "this input is damaged" is decided, so a damaged file can be traced.
//
// Every reader of file or request bytes that meets something out of bounds calls
// QOR_DAMAGED(), which records where it was noticed and yields -1, or Result::kDamaged where
// the reader answers a Result. Break on Damage_Note in a debugger to find the first check a
// damaged file trips.
#ifndef QOR3_BASE_DAMAGE_H
#define QOR3_BASE_DAMAGE_H

#include "base/result.h"

// What a damage note yields: -1 to a reader answering an int, kDamaged to one answering a
// Result.
struct DamageNoted {
  constexpr operator int() const { return -1; }
  constexpr operator Result() const { return Result::kDamaged; }
};
// Records the site (the first one since the last reset is kept). The notes are kept per
// thread.
DamageNoted Damage_Note(const char* file, int line);
// Number of damage notes since the last reset, and the first site noted.
unsigned long Damage_Count();
const char* Damage_FirstFile();
int Damage_FirstLine();
void Damage_Reset();

#define QOR_DAMAGED() Damage_Note(__FILE__, __LINE__)
// Returns -1 (or kDamaged) from the enclosing function when cond does not hold.
#define QOR_CHECK(cond)                   \
  do {                                    \
    if (!(cond)) return QOR_DAMAGED();    \
  } while (0)

#endif  // QOR3_BASE_DAMAGE_H
