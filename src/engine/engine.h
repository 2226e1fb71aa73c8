// The engine: one open dictionary set and all that is kept for it (the tables its catalogs
// give, the cache of what its searches read, the watch on its files) with the rebuild of its
// tables when those files change, and the locks that order the work on it.
//
// Lock order: an engine's lock, then its watch mutex, then its cache's lock. Only this module
// takes the first two (through EngineAlone and EngineShared for its callers), and only the
// cache takes the third, so no other order can arise.
//
// A search that finds nothing changed takes no mutex and writes no line another thread
// writes: it holds the engine lock shared (its own thread's reader slot), asks the watch
// whether changes are pending without consuming them, and reads the watch's flags. Only when
// something is pending (or flagged) does it take the watch mutex to drain the changes, with
// the engine lock let go (see Engine_KeepCurrent).
#ifndef QOR3_ENGINE_ENGINE_H
#define QOR3_ENGINE_ENGINE_H

#include <atomic>
#include <cstdint>
#include <mutex>

#include "base/reader_lock.h"
#include "engine/engine_cache.h"
#include "engine/engine_state.h"

struct EngineOptions {
  uint64_t cacheBudget = kEngineCacheBudget;  // bytes; 0 turns the cache off
  // Searches pass over what the change watch sees, as on a file system that reports nothing:
  // a change then shows only when a search finds a file other than the one it cached.
  bool ignoreWatch = false;
};

struct DirWatch;
struct FileIdentity;

// What tells that the files of the open set changed: a change notification on its directories,
// or, where the system offers none, the identities of its directories and files compared at
// each search.
struct EngineWatch {
  // Written with the engine alone (an open or close), so a search holding it shared may read
  // them without the watch mutex.
  bool watching = false;  // the engine is open
  DirWatch* notification = nullptr;
  // Set under the watch mutex; read by searches without it.
  std::atomic<bool> stale{false};     // a change was seen and the tables are not rebuilt yet
  // From before the watch mutex's holder consumes the pending changes until it has marked the
  // engine stale (or found no change): a search that finds nothing pending meanwhile cannot
  // tell whether the holder took a change, so it takes the mutex too.
  std::atomic<bool> draining{false};
  // Under the watch mutex.
  FileIdentity* identities = nullptr;  // without notifications: directories, then files
  uint32_t identityCount = 0;
};

struct Engine {
  EngineOptions options;
  // Searches share it; an open, a close, a copy into the set's directories and a rebuild hold
  // it alone, so no search ever sees tables half built or half freed.
  ReaderLock lock;
  std::mutex watchMutex;  // guards watch's drain; never held while waiting for lock
  EngineState* tables = nullptr;  // owned; null while closed
  EngineCache cache;
  EngineWatch watch;
};

// The engine held alone, or shared by searches, while the guard lives.
struct EngineAlone {
  explicit EngineAlone(Engine* engine) : hold(&engine->lock) {}
  ReaderAlone hold;
};
struct EngineShared {
  explicit EngineShared(Engine* engine) : hold(&engine->lock) {}
  ReaderShared hold;
};

// Sets the options of a closed engine.
void Engine_Init(Engine* engine, const EngineOptions& options);

// New tables for the prepared paths (each empty or ending with the separator), the catalogs of
// both directories refreshed and written; null when the paths give no set or an allocation
// failed. Called with the engine held alone: the refresh must not meet a copy.
EngineState* Engine_BuildTables(const char* dir1, const char* dir2, const char* correction);
void Engine_FreeTables(EngineState* tables);
// Takes over tables (with the engine held alone): the tables and cache of an earlier open go,
// and the watch starts on the new set.
void Engine_Install(Engine* engine, EngineState* tables, const EngineAlone& alone);
// Engine_BuildTables and Engine_Install in one: 0, or -1 with the engine as it was.
int Engine_Open(Engine* engine, const char* dir1, const char* dir2, const char* correction);
// Releases the tables, the cache and the watch; the engine can be opened again.
void Engine_Close(Engine* engine);

// Files of the set may have been changed where the watch does not look (a copy into its
// directories): the cache is dropped before the next search.
void Engine_MarkChanged(Engine* engine);

// Called at the start of a search, with the engine held shared (and left so): when a
// dictionary or the correction file of the open set was created, replaced, rewritten or
// deleted since the tables were built, rebuilds them in memory exactly as a fresh open over
// the files as they are now would build them, writing no catalog (letting the engine go for
// that while). 0, or -1 when the rebuild failed (the search must answer nothing rather than
// from tables that no longer fit the files).
int Engine_KeepCurrent(Engine* engine, EngineShared* shared);

#endif  // QOR3_ENGINE_ENGINE_H
