// Files of a dictionary directory: the names "qorNNNN.dct", which numbers a directory scan
// takes, directory paths and their capacity, and temporary files (their names, writing a
// file through one and renaming it into place, and removing those a dead process left).
#ifndef QOR3_FILES_FILE_NAMES_H
#define QOR3_FILES_FILE_NAMES_H

#include <cstddef>
#include <cstdint>

// Path buffers: kPathCapacity bytes. A directory path (closing separator included) is at
// most kDirPathMax bytes, which leaves room for a file name and a temporary suffix.
constexpr uint32_t kPathCapacity = 256;
constexpr uint32_t kDirPathMax = 192;

// "qorNNNN.dct" for a dictionary number (its last four digits), NUL-terminated: out holds
// at least kDictFileNameLength + 1 bytes.
constexpr uint32_t kDictFileNameLength = 11;
void Dict_FileName(uint32_t number, char* out);
// Whether name is exactly "qor" + 4 digits + ".dct" (lower case); *number receives the digits.
bool Dict_ParseFileName(const char* name, uint32_t* number);

// The numbers a directory scan takes: 100*i + j, i = 1..47, j = 1..29.
constexpr uint32_t kProbeHighFirst = 1, kProbeHighLast = 47;
constexpr uint32_t kProbeLowFirst = 1, kProbeLowLast = 29;
constexpr bool InProbeRange(uint32_t n) {
  return n / 100 >= kProbeHighFirst && n / 100 <= kProbeHighLast && n % 100 >= kProbeLowFirst &&
         n % 100 <= kProbeLowLast;
}

// Copies a directory path given as length bytes (not NUL-terminated) into out (at least
// kPathCapacity bytes) and closes it with the separator unless its last code page 932
// character is one (a two-byte character ending in 0x5C, such as 表, does not close it).
// Refuses, with -1 and before reading any byte, a length that leaves no room for
// the separator within kDirPathMax, and a path with a NUL inside or longer than
// kDirPathMax once closed. Length 0 gives the empty path.
int Path_Prepare(const char* bytes, uint32_t length, char* out);
// Joins a directory path (ending with the separator, or empty) and a file name; -1 when the
// result does not fit in capacity bytes.
int Path_Join(char* out, uint32_t capacity, const char* dir, const char* name);

// out = path + ".PID.tmp" (this process's id): the temporary file beside path that is
// written and then renamed over it. 0, or -1 when it does not fit in capacity bytes.
int Temp_FileName(const char* path, char* out, size_t capacity);
// Whether name is a temporary file of a dictionary, "qorNNNN.dct.PID.tmp"; *pid receives PID.
bool Temp_ParseFileName(const char* name, unsigned long* pid);

// Bytes to write, one piece of a file.
struct FilePiece {
  const void* data;
  size_t size;
};
// Writes the pieces to path's temporary file and renames it over path, so path is never seen
// half-written and a failure leaves the old file as it was (the temporary file is deleted).
// 0, or -1 (errno tells why, where the system sets it).
int File_WriteReplace(const char* path, const FilePiece* pieces, size_t count);
// Copies src over dst the same way, keeping src's modification time. A src that is not a
// regular file is refused unread. 0 or -1.
int File_CopyReplace(const char* src, const char* dst);

// Deletes the temporary files "qorNNNN.dct.PID.tmp" of dir (empty or ending with the
// separator) whose process (of this machine) no longer runs and that nothing has written for
// kStaleTempAge seconds (the age spares a copy running on another machine that shares the
// directory). Files that cannot be deleted stay.
void Temp_RemoveStale(const char* dir);
// The same for one name of dir (a const char* path, passed as a directory listing's context):
// the visitor with which a listing of dir removes them as it goes.
void Temp_RemoveIfStale(void* dir, const char* name);
constexpr long kStaleTempAge = 3600;

#endif  // QOR3_FILES_FILE_NAMES_H
