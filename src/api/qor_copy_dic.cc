// Qor_CopyDic: checks the request and installs the dictionaries.
#include "api/open_set.h"
#include "copy/copy_dic.h"
#include "files/file_names.h"
#include "qor3.h"

// Requests beyond the limits are refused as a whole (result 0, nothing touched): a missing or
// non-positive length, a path that is longer than 192 bytes once closed or holds a NUL, and a
// positive count without numbers.
extern "C" QOR3_EXPORT int32_t QOR3_CALL Qor_CopyDic(const char* source, int32_t sourceLength,
                                                     const char* destination,
                                                     int32_t destinationLength,
                                                     const int32_t* numbers, int32_t count) {
  if (!source || !destination || sourceLength <= 0 || destinationLength <= 0) return 0;
  if (count > 0 && !numbers) return 0;
  char from[kPathCapacity], to[kPathCapacity];
  if (Path_Prepare(source, static_cast<uint32_t>(sourceLength), from) != 0 ||
      Path_Prepare(destination, static_cast<uint32_t>(destinationLength), to) != 0) {
    return 0;
  }
  // Alone, so that it never rebuilds a catalog that an open is reading or writing.
  Engine* engine = OpenSet_Engine();
  EngineAlone alone(engine);
  const int32_t installed = CopyDic_Install(from, to, numbers, count);
  // Files of the open set may have been replaced: the next search drops what was cached of
  // them (as the set's change watch would also tell).
  Engine_MarkChanged(engine);
  return installed;
}
