// The result of an internal call that can fail in more than one way, by name: callers test it
// against these names, never against numbers. Where the damage lies is noted separately, where
// it is found (QOR_CHECK, QOR_DAMAGED).
#ifndef QOR3_BASE_RESULT_H
#define QOR3_BASE_RESULT_H

#include <cstdint>

enum class Result : uint8_t {
  kOk,
  kNotFound,     // what was asked for is not there (no file, no path given)
  kDamaged,      // the bytes break the format's rules, or could not all be read
  kOutOfMemory,  // an allocation failed
  kIoFailure,    // the system refused to open, read or write a file
};

#endif  // QOR3_BASE_RESULT_H
