// The operating-system layer: dictionary directory listings, opening regular files, file
// times, delete, atomic replace, copy, directory listing and process ids. The only module that
// touches the operating system; one POSIX and one Win32 build.
#ifndef QOR3_PLATFORM_PLATFORM_H
#define QOR3_PLATFORM_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#if defined(_WIN32)
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

struct LocalTime {
  int year;  // with century
  int month;  // 1..12
  int day;
  int hour;  // 0..23
  int minute;
};

// One listing of a dictionary directory, kept to examine its dictionary files by name with
// as few system calls as the system allows: POSIX examines a file relative to the open
// directory (fstatat, faccessat: no path walk, no open); Windows takes the type from the
// listing itself (FindFirstFileEx with large fetch) and opens a file only to test read access
// and take its time.
struct DictDirectory;
// Lists dir (empty or ending with the separator) once: sets present[n] = 1 for every n in
// 0..9999 whose "qor" + 4 digits + ".dct" is there (only the names the library opens count;
// present has 10000 entries and is not cleared here), and calls visit(context, name), when
// visit is not null, for every other file name (subdirectories may be left out). A directory
// that cannot be listed marks nothing; its files are then examined and opened by path (a
// directory may let a process open the files it names but not list them). Null only when
// memory runs out.
DictDirectory* Platform_ListDictDirectory(const char* dir, uint8_t* present,
                                          void (*visit)(void* context, const char* name),
                                          void* context);
// Whether name ("qor" + 4 digits + ".dct") in the listed directory is a regular file that this
// process may read, as Platform_OpenRegularFile would open it; with *timeKnown, *written is its
// last modification time in local time (Platform_FileTime's answer for it).
bool Platform_ExamineDictFile(DictDirectory* dir, const char* name, LocalTime* written,
                              bool* timeKnown);
// Platform_OpenRegularFile of name in the listed directory.
FILE* Platform_OpenDictFile(DictDirectory* dir, const char* name);
void Platform_CloseDictDirectory(DictDirectory* dir);
// Opens path for reading ("rb") when it is a regular file. A FIFO, device or directory is
// refused without waiting on it (no writer, no carrier) and without reading from it. Null
// when the path does not name a regular file that opens.
// With identity non-null it also receives the identity of the file opened (FileIdentity,
// below), read with the same call that tells it is a regular file.
struct FileIdentity;
FILE* Platform_OpenRegularFile(const char* path, FileIdentity* identity = nullptr);
// Reads n bytes at offset of a file opened for reading, without moving its position and
// without its stream's buffer (one system call where the system reads at an offset): false
// when fewer bytes are there or the read fails.
bool Platform_ReadAt(FILE* file, uint64_t offset, void* buf, size_t n);
// How many files opened for reading a caller may keep open beside the host's own: 0 where an
// open file cannot be renamed over or deleted (Windows), else a quarter of the process's
// limit on open files, at most 1024.
uint32_t Platform_KeptFileLimit();
// Last modification time of an open file in local time: 0, or -1 when it cannot be told.
int Platform_FileTime(FILE* file, LocalTime* out);
// 0 when the file is gone afterwards (deleted, or was not there), else -1.
int Platform_DeleteFile(const char* path);
// Renames tmp over path, replacing an existing file in one step. 0 or -1.
int Platform_ReplaceFile(const char* tmp, const char* path);
// Copies src to dst (created, or overwritten) keeping src's modification time. A src that is
// not a regular file is refused unread. 0 or -1 (a failed copy may leave dst partly written).
int Platform_CopyFile(const char* src, const char* dst);
// Calls visit(context, name) for the name of each file of dir (empty or ending with the
// separator); subdirectories may be left out.
void Platform_ListFiles(const char* dir, void (*visit)(void* context, const char* name),
                        void* context);
// Seconds since the regular file path was last written (Windows: or created, as a copy keeps
// its source's write time). 0, or -1 when path is not a regular file or cannot be examined.
int Platform_FileUnwrittenFor(const char* path, int64_t* seconds);
// This process's id, and whether a process of this machine with that id runs (an id the
// system cannot address is taken as running).
unsigned long Platform_ProcessId();
bool Platform_ProcessRuns(unsigned long pid);

// Change notification on the directories of an open set (inotify on Linux, change
// notifications on Windows): one cheap call tells whether any dictionary file of them
// ("qor" + 4 digits + ".dct", the catalog qor9999.dct excepted where names are known) was
// created, written, replaced, renamed, deleted or had its times set since the last call.
struct DirWatch;
// Watches the count directories (each empty, which is skipped, or ending with the separator).
// Null when the system offers no notification for them (the caller must then check the files
// itself).
DirWatch* Platform_WatchDirectories(const char* const* dirs, int count);
// 1 when something changed since the watch was made or last asked (or events were lost), 0
// when nothing did.
int Platform_WatchChanged(DirWatch* watch);
// 1 when Platform_WatchChanged has something to look at (events queued, a notification
// signalled, or the state cannot be told), 0 when nothing happened since it last looked. It
// consumes nothing, so it may run beside Platform_WatchChanged on the same watch.
int Platform_WatchPending(DirWatch* watch);
void Platform_WatchClose(DirWatch* watch);

// What tells one file's content from another's without reading it: size, modification and
// change times to the nanosecond (Windows: creation and write times), and the file's identity
// on its volume (inode, file index). Two reads with equal identities saw the same file unless
// it was rewritten within the clock's resolution.
struct FileIdentity {
  uint64_t size;
  int64_t modified;
  int64_t changed;
  uint64_t volume;
  uint64_t index;
  bool operator==(const FileIdentity&) const = default;
};
// 0, or -1 when the path cannot be examined (missing, say): out is then zeroed.
int Platform_FileIdentity(const char* path, FileIdentity* out);

#endif  // QOR3_PLATFORM_PLATFORM_H
