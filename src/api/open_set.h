// The one open set of the process: the engine that every Qor_Open hands out. Its address is
// the handle, the same for every open, so a second Qor_Open without a close replaces the
// tables under the handle the host already holds.
#ifndef QOR3_API_OPEN_SET_H
#define QOR3_API_OPEN_SET_H

#include "engine/engine.h"

Engine* OpenSet_Engine();

#endif  // QOR3_API_OPEN_SET_H
