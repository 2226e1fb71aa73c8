// Qor_Open and Qor_Close: prepare the paths, refresh and load the catalogs, build the engine
// state and hand the host its region list; release it all again.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "api/engine_lock.h"
#include "engine/engine_state.h"
#include "base/block_pool.h"
#include "base/mem.h"
#include "base/num_text.h"
#include "catalog/dir_scan.h"
#include "catalog/engine_build.h"
#include "catalog/catalog_refresh.h"
#include "dict/dict_format.h"
#include "engine/engine_cache.h"
#include "platform/platform.h"
#include "qor3.h"

namespace {

EngineState g_engine;

// What tells that the files of the open set changed: a change notification on its directories,
// or, where the system offers none, the identities of its directories and files compared at each
// search. Guarded by g_watchMutex, which is never held while waiting for Engine_Lock.
std::mutex g_watchMutex;
bool g_watching = false;    // an engine is open
bool g_stale = false;       // a change was seen and the engine is not rebuilt yet
DirWatch* g_watch = nullptr;
FileIdentity* g_identities = nullptr;  // without notifications: directories, then files
uint32_t g_identityCount = 0;

struct RegionArray {
  RegionInfo** regions;
  BlockPool* pool;
};

void RegionArray_Free(RegionArray* array) {
  if (array->pool) {
    BlockPool_Free(array->pool);
    Mem_Free(array->pool);
  }
  Mem_Free(array->regions);
  array->pool = nullptr;
  array->regions = nullptr;
}

// RegionInfo records for every row of the region list, carved from a new pool.
int RegionArray_Build(RowList* regionList, RegionArray* array) {
  const uint32_t count = regionList->rowCount;
  array->regions = static_cast<RegionInfo**>(Mem_AllocZeroed(count, sizeof(RegionInfo*)));
  array->pool = static_cast<BlockPool*>(Mem_Alloc(sizeof(BlockPool)));
  if (!array->regions || !array->pool) {
    Mem_Free(array->pool);
    array->pool = nullptr;
    RegionArray_Free(array);
    return -1;
  }
  if (BlockPool_Init(array->pool) != 0) {
    RegionArray_Free(array);
    return -1;
  }
  char* f[4];
  uint16_t n;
  uint32_t i = 0;
  RowList_Rewind(regionList);
  while (i < count && RowList_Next(regionList, f, &n, 4) == 0) {
    if (n < 4) continue;
    RegionInfo info;
    info.regionCode = static_cast<int32_t>(DecimalValue(f[0]));
    info.name1Length = static_cast<uint32_t>(std::strlen(f[1]));
    info.name1 = BlockPool_PutString(array->pool, f[1]);
    info.name2Length = static_cast<uint32_t>(std::strlen(f[2]));
    info.name2 = BlockPool_PutString(array->pool, f[2]);
    info.dictNumber = static_cast<int32_t>(DecimalValue(f[3]));
    void* copy = info.name1 && info.name2 ? BlockPool_PutBytes(array->pool, &info, sizeof info)
                                          : nullptr;
    if (!copy) {
      RegionArray_Free(array);
      return -1;
    }
    array->regions[i++] = static_cast<RegionInfo*>(copy);
  }
  return 0;
}

void FreeEngineLists(EngineState* engine) {
  RowList_Free(&engine->regionList);
  RowList_Free(&engine->prefixList);
  std::memset(engine->prefixRows, 0, sizeof engine->prefixRows);
}

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

void Watch_Stop() {
  Platform_WatchClose(g_watch);
  g_watch = nullptr;
  Mem_Free(g_identities);
  g_identities = nullptr;
  g_identityCount = 0;
  g_watching = false;
  g_stale = false;
}

// Starts watching the set of the engine just built. Without notifications the identities are
// taken now; when that fails the engine counts as stale, so the next search rebuilds it.
void Watch_Start(const EngineState* e) {
  Watch_Stop();
  g_watching = true;
  const char* dirs[] = {e->directory1, e->directory2, e->correctionDirectory};
  g_watch = Platform_WatchDirectories(dirs, 3);
  if (g_watch == nullptr) {
    g_identities = SetIdentities(e, &g_identityCount);
    g_stale = g_identities == nullptr;
  }
}

// Whether the set changed since the last look; with identities, they are taken anew.
bool Watch_SeesChange(const EngineState* e) {
  if (g_watch != nullptr) return Platform_WatchChanged(g_watch) != 0;
  uint32_t count = 0;
  FileIdentity* now = SetIdentities(e, &count);
  if (now == nullptr) return true;
  const bool same = g_identities != nullptr && count == g_identityCount &&
                    std::equal(now, now + count, g_identities);
  Mem_Free(g_identities);
  g_identities = now;
  g_identityCount = count;
  return !same;
}

// Builds an engine for the prepared paths into a new record; null when the paths give no
// set or an allocation failed.
EngineState* BuildEngine(const char* dir1, const char* dir2, const char* correction,
                         CatalogWrite write) {
  DirSet* set = static_cast<DirSet*>(Mem_Alloc(sizeof(DirSet)));
  if (!set) return nullptr;
  DirSet_Init(set);
  EngineState* built = nullptr;
  if (DirSet_Load(set, dir1, dir2, correction, write) == 0) {
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

std::shared_mutex& Engine_Lock() {
  static std::shared_mutex lock;
  return lock;
}

#if defined(QOR3_FAULT_INJECTION)
// Test builds: the engine the handle stands for, for tests that look at its tables.
EngineState* Engine_Instance() { return &g_engine; }

// Test builds: searches pass over what the change watch saw, as where a change shows only once
// a file is opened again (a file system that reports nothing).
namespace {
std::atomic<bool> g_ignoreWatch{false};
}
void Engine_IgnoreWatch(bool ignore) { g_ignoreWatch = ignore; }
#endif

// Everything is built aside (the catalog images, a scratch engine, the region records) and
// only handed over once all of it succeeded, so a failed open leaves the engine and the
// result record as they were and holds nothing.
extern "C" QOR3_EXPORT void* QOR3_CALL Qor_Open(const OpenRequest* request, OpenResult* result) {
  if (!request || !result) return nullptr;
  char dir1[kPathCapacity], dir2[kPathCapacity], correction[kPathCapacity];
  // Path_Prepare refuses a length beyond the field before reading it.
  static_assert(kDirPathMax <= sizeof(OpenRequest::directory1));
  if (Path_Prepare(request->directory1, request->directory1Length, dir1) != 0 ||
      Path_Prepare(request->directory2, request->directory2Length, dir2) != 0 ||
      Path_Prepare(request->correctionDirectory, request->correctionDirectoryLength,
                   correction) != 0) {
    return nullptr;
  }

  // Alone from here: the refresh may rewrite catalogs that a copy also rewrites, and the engine
  // is replaced under any search.
  std::unique_lock<std::shared_mutex> exclusive(Engine_Lock());
  EngineState* built = BuildEngine(dir1, dir2, correction, kCatalogMayWrite);
  if (!built) return nullptr;

  RegionArray array{nullptr, nullptr};
  const uint32_t regionCount = built->regionList.rowCount;
  if (regionCount != 0 && RegionArray_Build(&built->regionList, &array) != 0) {
    FreeEngineLists(built);
    Mem_Free(built);
    return nullptr;
  }

  // A second open without a close releases the lists of the first.
  FreeEngineLists(&g_engine);
  EngineCache_Clear();
  std::memcpy(&g_engine, built, sizeof g_engine);
  Mem_Free(built);
  {
    std::lock_guard<std::mutex> guard(g_watchMutex);
    Watch_Start(&g_engine);
  }

  result->catalog1Loaded = g_engine.catalog1Loaded;
  result->catalog2Loaded = g_engine.catalog2Loaded;
  result->correctionFilePresent = g_engine.correctionFilePresent;
  result->regionCount = regionCount;
  if (regionCount != 0) {
    result->regions = array.regions;
    result->regionPool = array.pool;
  }
  return &g_engine;
}

extern "C" QOR3_EXPORT int QOR3_CALL Qor_Close(void* handle, OpenResult* result) {
  if (result && result->regionCount != 0) {
    RegionArray array{result->regions, result->regionPool};
    RegionArray_Free(&array);
    // Cleared so that a repeated close releases nothing twice.
    result->regions = nullptr;
    result->regionPool = nullptr;
    result->regionCount = 0;
  }
  if (handle == &g_engine) {
    std::unique_lock<std::shared_mutex> exclusive(Engine_Lock());
    std::lock_guard<std::mutex> guard(g_watchMutex);
    Watch_Stop();
    FreeEngineLists(&g_engine);
    EngineCache_Clear();
  }
  return 0;
}

namespace {

bool WatchSeesChange() {
#if defined(QOR3_FAULT_INJECTION)
  if (g_ignoreWatch) return false;
#endif
  return Watch_SeesChange(&g_engine);
}

}  // namespace

int Engine_KeepCurrent(const EngineState* engine) {
  if (engine != &g_engine) return 0;
  {
    std::lock_guard<std::mutex> guard(g_watchMutex);
    if (!g_watching) return 0;
    // A search that found a file other than the one cached counts as a change too.
    if (!g_stale && !WatchSeesChange() && !EngineCache_TakeStale()) return 0;
    g_stale = true;
  }
  std::unique_lock<std::shared_mutex> exclusive(Engine_Lock());
  std::lock_guard<std::mutex> guard(g_watchMutex);
  // Another search may have rebuilt it meanwhile, or a close ended the set.
  if (!g_watching || !g_stale) return 0;
  // Nothing the searches learnt of the files holds any longer.
  EngineCache_Clear();
  // Without notifications the identities were taken before the files are read again, so a
  // change made while they are read shows at the next search.
  EngineState* built = BuildEngine(g_engine.directory1, g_engine.directory2,
                                   g_engine.correctionDirectory, kCatalogReadOnly);
  if (built == nullptr) {
    // Either no catalog and no correction file are left (a fresh open would fail: the set now
    // holds nothing), or an allocation failed (stay stale and answer nothing this time).
    return -1;
  }
  FreeEngineLists(&g_engine);
  std::memcpy(&g_engine, built, sizeof g_engine);
  Mem_Free(built);
  g_stale = false;
  return 0;
}
