// Qor_Open and Qor_Close: prepare the paths, refresh and load the catalogs, build the engine
// state and hand the host its region list; release it all again.
#include <cstring>

#include "api/open_set.h"
#include "base/block_pool.h"
#include "base/mem.h"
#include "base/num_text.h"
#include "files/file_names.h"
#include "qor3.h"

namespace {

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

}  // namespace

Engine* OpenSet_Engine() {
  static Engine engine;
  return &engine;
}

// Everything is built aside (the catalog images, the new tables, the region records) and
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

  // Alone from here: the refresh may rewrite catalogs that a copy also rewrites, and the tables
  // are replaced under any search.
  Engine* engine = OpenSet_Engine();
  EngineAlone alone(engine);
  EngineState* built = Engine_BuildTables(dir1, dir2, correction);
  if (!built) return nullptr;

  RegionArray array{nullptr, nullptr};
  const uint32_t regionCount = built->regionList.rowCount;
  if (regionCount != 0 && RegionArray_Build(&built->regionList, &array) != 0) {
    Engine_FreeTables(built);
    return nullptr;
  }

  result->catalog1Loaded = built->catalog1Loaded;
  result->catalog2Loaded = built->catalog2Loaded;
  result->correctionFilePresent = built->correctionFilePresent;
  result->regionCount = regionCount;
  if (regionCount != 0) {
    result->regions = array.regions;
    result->regionPool = array.pool;
  }
  // A second open without a close releases the tables of the first.
  Engine_Install(engine, built, alone);
  return engine;
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
  if (handle == OpenSet_Engine()) Engine_Close(OpenSet_Engine());
  return 0;
}
