// The lock that orders the five exported functions on the one engine of the process: searches
// share it and run in parallel; an open, a close or a copy holds it alone, so no search ever
// sees an engine half built or half freed.
#ifndef QOR3_API_ENGINE_LOCK_H
#define QOR3_API_ENGINE_LOCK_H

#include <mutex>
#include <shared_mutex>

std::shared_mutex& Engine_Lock();

#endif  // QOR3_API_ENGINE_LOCK_H
