// Qor_Search and Qor_MemRelease: the search entry point and the release of its results.
#include "api/engine_lock.h"
#include "base/block_pool.h"
#include "base/mem.h"
#include "engine/engine_state.h"
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
  const auto* engine = static_cast<const EngineState*>(handle);
  if (Engine_KeepCurrent(engine) != 0) return 0;
  std::shared_lock<std::shared_mutex> shared(Engine_Lock());
  switch (request->mode) {
    case kModeName:
      return NameSearch_Run(engine, request);
    case kModeNumber:
      return NumberSearch_Run(engine, request);
    default:
      return 0;
  }
}

extern "C" QOR3_EXPORT int QOR3_CALL Qor_MemRelease(SearchRequest* request) {
  if (request == nullptr || request->resultCount == 0) return 0;
  BlockPool_Free(request->resultPool);
  Mem_Free(request->resultPool);
  Mem_Free(request->results);
  return 0;
}
