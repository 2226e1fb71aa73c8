// The engine: its tables, cache and change watch, the rebuild, and its locks.
#include "engine/engine.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/mem.h"
#include "catalog/catalog_refresh.h"
#include "dict/dict_format.h"
#include "engine/engine_build.h"
#include "files/file_names.h"
#include "platform/platform.h"

namespace {

// The paths whose identities stand for the set: its three directories, the correction file and
// each dictionary the engine reads. count receives how many; null when out of memory.
char (*SetPaths(const EngineState* e, uint32_t* count))[kPathCapacity + 16] {
  uint32_t dictionaries = 0;
  for (uint32_t n = 0; n < kDictNumberLimit; ++n) dictionaries += e->dictDirectory[n] != 0;
  *count = 4 + dictionaries;
  auto* paths = static_cast<char(*)[kPathCapacity + 16]>(
      Mem_AllocZeroed(*count, kPathCapacity + 16));
  if (paths == nullptr) return nullptr;
  const char* dirs[] = {e->directory1, e->directory2, e->correctionDirectory};
  for (int i = 0; i < 3; ++i) std::snprintf(paths[i], kPathCapacity + 16, "%s", dirs[i]);
  char name[kDictFileNameLength + 1];
  Dict_FileName(kCorrectionDictNumber, name);
  std::snprintf(paths[3], kPathCapacity + 16, "%s%s", e->correctionDirectory, name);
  uint32_t k = 4;
  for (uint32_t n = 0; n < kDictNumberLimit; ++n) {
    if (e->dictDirectory[n] == 0) continue;
    Dict_FileName(n, name);
    std::snprintf(paths[k++], kPathCapacity + 16, "%s%s",
                  e->dictDirectory[n] == 1 ? e->directory1 : e->directory2, name);
  }
  return paths;
}

// Identities of the set's paths into a new array; null when out of memory.
FileIdentity* SetIdentities(const EngineState* e, uint32_t* count) {
  auto* paths = SetPaths(e, count);
  if (paths == nullptr) return nullptr;
  auto* ids = static_cast<FileIdentity*>(Mem_AllocZeroed(*count, sizeof(FileIdentity)));
  for (uint32_t i = 0; ids != nullptr && i < *count; ++i) {
    // An empty directory path (none given) stands for nothing.
    if (paths[i][0] != '\0') Platform_FileIdentity(paths[i], &ids[i]);
  }
  Mem_Free(paths);
  return ids;
}

// The watch functions run with the engine's watch mutex held.
void Watch_Stop(EngineWatch* w) {
  Platform_WatchClose(w->notification);
  Mem_Free(w->identities);
  w->watching = false;
  w->notification = nullptr;
  w->stale = false;
  w->draining = false;
  w->identities = nullptr;
  w->identityCount = 0;
}

// Starts watching the set of the tables just installed. Without notifications the identities
// are taken now; when that fails the engine counts as stale, so the next search rebuilds it.
void Watch_Start(EngineWatch* w, const EngineState* e) {
  Watch_Stop(w);
  w->watching = true;
  const char* dirs[] = {e->directory1, e->directory2, e->correctionDirectory};
  w->notification = Platform_WatchDirectories(dirs, 3);
  if (w->notification == nullptr) {
    w->identities = SetIdentities(e, &w->identityCount);
    w->stale = w->identities == nullptr;
  }
}

// Whether the set changed since the last look; with identities, they are taken anew.
bool Watch_SeesChange(EngineWatch* w, const EngineState* e) {
  if (w->notification != nullptr) return Platform_WatchChanged(w->notification) != 0;
  uint32_t count = 0;
  FileIdentity* now = SetIdentities(e, &count);
  if (now == nullptr) return true;
  const bool same = w->identities != nullptr && count == w->identityCount &&
                    std::equal(now, now + count, w->identities);
  Mem_Free(w->identities);
  w->identities = now;
  w->identityCount = count;
  return !same;
}

// Builds tables for the prepared paths into a new record; null when the paths give no set or
// an allocation failed.
EngineState* BuildTables(const char* dir1, const char* dir2, const char* correction,
                         CatalogWrite write) {
  DirSet* set = static_cast<DirSet*>(Mem_Alloc(sizeof(DirSet)));
  if (!set) return nullptr;
  DirSet_Init(set);
  EngineState* built = nullptr;
  if (DirSet_Load(set, dir1, dir2, correction, write) == Result::kOk) {
    built = static_cast<EngineState*>(Mem_AllocZeroed(1, sizeof(EngineState)));
    if (built && Engine_Build(set, built) != 0) {
      Mem_Free(built);
      built = nullptr;
    }
  }
  DirSet_Free(set);
  Mem_Free(set);
  return built;
}

}  // namespace

void Engine_Init(Engine* engine, const EngineOptions& options) {
  engine->options = options;
  EngineCache_SetBudget(&engine->cache, options.cacheBudget);
}

EngineState* Engine_BuildTables(const char* dir1, const char* dir2, const char* correction) {
  return BuildTables(dir1, dir2, correction, kCatalogMayWrite);
}

void Engine_FreeTables(EngineState* tables) {
  if (tables == nullptr) return;
  RowList_Free(&tables->regionList);
  RowList_Free(&tables->prefixList);
  Mem_Free(tables);
}

void Engine_Install(Engine* engine, EngineState* tables, const EngineAlone&) {
  EngineCache_Clear(&engine->cache);
  // A search asks the watch about the tables with the watch mutex alone (Engine_KeepCurrent),
  // so they are replaced under it.
  std::lock_guard<std::mutex> guard(engine->watchMutex);
  Engine_FreeTables(engine->tables);
  engine->tables = tables;
  Watch_Start(&engine->watch, tables);
  // The cache keeps files open only where the watch tells when one is replaced (a kept file
  // would go on giving the content it had), and drops them with everything else then.
  const bool told = engine->watch.notification != nullptr && !engine->options.ignoreWatch;
  engine->cache.keptFileLimit = told ? Platform_KeptFileLimit() : 0;
}

int Engine_Open(Engine* engine, const char* dir1, const char* dir2, const char* correction) {
  EngineAlone alone(engine);
  EngineState* tables = Engine_BuildTables(dir1, dir2, correction);
  if (tables == nullptr) return -1;
  Engine_Install(engine, tables, alone);
  return 0;
}

void Engine_Close(Engine* engine) {
  EngineAlone alone(engine);
  std::lock_guard<std::mutex> guard(engine->watchMutex);
  Watch_Stop(&engine->watch);
  Engine_FreeTables(engine->tables);
  engine->tables = nullptr;
  EngineCache_Clear(&engine->cache);
}

void Engine_MarkChanged(Engine* engine) { EngineCache_MarkStale(&engine->cache); }

namespace {

// Whether the tables fit the files as they are now, told without the watch mutex (with the
// engine held shared): nothing pending on the watch, then no drain in flight and nothing
// flagged. A change a drain consumed before the pending check is flagged by the time its
// drain ends, so it shows in one of the flags read after that check. False also when it
// cannot be told this way (no notifications: the identities are compared under the mutex).
bool NothingChanged(Engine* engine) {
  const EngineWatch* w = &engine->watch;
  if (!w->watching) return true;  // closed
  if (!engine->options.ignoreWatch &&
      (w->notification == nullptr || Platform_WatchPending(w->notification) != 0)) {
    return false;
  }
  return !w->draining.load() && !w->stale.load() && !EngineCache_Stale(&engine->cache);
}

// Drains the watch and rebuilds the tables when it saw a change; the engine is not held.
int Refresh(Engine* engine) {
  EngineWatch* w = &engine->watch;
  {
    std::lock_guard<std::mutex> guard(engine->watchMutex);
    if (!w->watching) return 0;
    if (!w->stale) {
      w->draining = true;
      // A search that found a file other than the one cached counts as a change too.
      const bool changed =
          (!engine->options.ignoreWatch && Watch_SeesChange(w, engine->tables)) ||
          EngineCache_TakeStale(&engine->cache);
      if (changed) w->stale = true;
      w->draining = false;
      if (!changed) return 0;
    }
  }
  EngineAlone alone(engine);
  std::lock_guard<std::mutex> guard(engine->watchMutex);
  // Another search may have rebuilt it meanwhile, or a close ended the set.
  if (!w->watching || !w->stale) return 0;
  // Nothing the searches learnt of the files holds any longer.
  EngineCache_Clear(&engine->cache);
  // Without notifications the identities were taken before the files are read again, so a
  // change made while they are read shows at the next search.
  const EngineState* old = engine->tables;
  EngineState* built =
      BuildTables(old->directory1, old->directory2, old->correctionDirectory, kCatalogReadOnly);
  if (built == nullptr) {
    // Either no catalog and no correction file are left (a fresh open would fail: the set now
    // holds nothing), or an allocation failed (stay stale and answer nothing this time).
    return -1;
  }
  Engine_FreeTables(engine->tables);
  engine->tables = built;
  w->stale = false;
  return 0;
}

}  // namespace

int Engine_KeepCurrent(Engine* engine, EngineShared* shared) {
  if (NothingChanged(engine)) return 0;
  shared->hold.Unlock();
  const int result = Refresh(engine);
  shared->hold.Lock();
  return result;
}
