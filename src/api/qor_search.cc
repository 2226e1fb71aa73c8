// Qor_Search and Qor_MemRelease: the search entry point and the release of its results.
#include "base/block_pool.h"
#include "base/mem.h"
#include "engine/engine.h"
#include "qor3.h"
#include "search/name_search.h"
#include "search/number_search.h"

namespace {

// SearchRequest::mode.
constexpr int32_t kModeName = 1;
constexpr int32_t kModeNumber = 2;

}  // namespace

extern "C" QOR3_EXPORT int QOR3_CALL Qor_Search(void* handle, SearchRequest* request) {
  if (request == nullptr) return 0;
  request->resultCount = 0;
  // A failed open gives the host a null handle; searching with it finds nothing.
  if (handle == nullptr) return 0;
  // The handle is the engine of an open (OpenSet_Engine's, or one a test opened itself).
  auto* engine = static_cast<Engine*>(handle);
  EngineShared shared(engine);
  if (Engine_KeepCurrent(engine, &shared) != 0) return 0;
  if (engine->tables == nullptr) return 0;  // closed
  if (request->mode == kModeName) NameSearch_Run(engine->tables, &engine->cache, request);
  if (request->mode == kModeNumber) NumberSearch_Run(engine->tables, &engine->cache, request);
  return 0;
}

extern "C" QOR3_EXPORT int QOR3_CALL Qor_MemRelease(SearchRequest* request) {
  if (request == nullptr || request->resultCount == 0) return 0;
  BlockPool_Free(request->resultPool);
  Mem_Free(request->resultPool);
  Mem_Free(request->results);
  return 0;
}
