// Test builds only: the process's engine state, for tests that look at its tables, and a
// switch of its change watch.
#ifndef QOR3_TESTS_SUPPORT_ENGINE_ACCESS_H
#define QOR3_TESTS_SUPPORT_ENGINE_ACCESS_H

#include "engine/engine_state.h"

EngineState* Engine_Instance();
// Searches pass over what the set's change watch sees (true) or heed it again (false).
void Engine_IgnoreWatch(bool ignore);

#endif  // QOR3_TESTS_SUPPORT_ENGINE_ACCESS_H
