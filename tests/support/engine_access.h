// Test builds only: the process's engine state, for tests that look at its tables.
#ifndef QOR3_TESTS_SUPPORT_ENGINE_ACCESS_H
#define QOR3_TESTS_SUPPORT_ENGINE_ACCESS_H

#include "engine/engine_state.h"

EngineState* Engine_Instance();

#endif  // QOR3_TESTS_SUPPORT_ENGINE_ACCESS_H
