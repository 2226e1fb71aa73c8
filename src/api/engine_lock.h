// The one engine of the process, kept current and guarded: the lock that orders the exported
// functions on it (searches share it and run in parallel; an open, a close, a copy or a rebuild
// holds it alone, so no search ever sees an engine half built or half freed), and the check
// that rebuilds its tables when the files of its set changed.
#ifndef QOR3_API_ENGINE_LOCK_H
#define QOR3_API_ENGINE_LOCK_H

#include <mutex>
#include <shared_mutex>

#include "engine/engine_state.h"

std::shared_mutex& Engine_Lock();

// Called before a search (without the lock): when a dictionary or the correction file of the
// open set was created, replaced, rewritten or deleted since the engine was built, rebuilds the
// engine's tables in memory exactly as a fresh Qor_Open over the files as they are now would
// build them, writing no catalog. 0, or -1 when the rebuild failed (the search must answer
// nothing rather than from tables that no longer fit the files).
int Engine_KeepCurrent(const EngineState* engine);

#endif  // QOR3_API_ENGINE_LOCK_H
