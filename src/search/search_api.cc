// Qor_Search and Qor_MemRelease: the search entry point and the release of its results.
#include "qor3.h"

#include "api/engine_state.h"
#include "base/block_pool.h"
#include "base/mem.h"
#include "search/name_search.h"
#include "search/number_search.h"

extern "C" QOR3_EXPORT int QOR3_CALL Qor_Search(void* handle, SearchRequest* request) {
  if (request == nullptr) return 0;
  request->resultCount = 0;
  // A failed open gives the host a null handle; searching with it finds nothing.
  if (handle == nullptr) return 0;
  auto* engine = static_cast<EngineState*>(handle);
  switch (request->mode) {
    case 1:
      return NameSearch_Run(engine, request);
    case 2:
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
