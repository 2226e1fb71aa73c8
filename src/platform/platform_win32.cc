// The operating-system layer for Windows (ANSI file API, code page 932 paths).
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/platform.h"

namespace {

bool BuildPath(const char* dir, const char* name, char* out, size_t capacity) {
  int n = std::snprintf(out, capacity, "%s%s", dir, name);
  return n >= 0 && static_cast<size_t>(n) < capacity;
}

// Whether name is "qor" + 4 characters + ".dct" in any case, as the file search's pattern
// "qor????.dct" matches it.
bool IsDictName(const char* name) {
  return std::strlen(name) == 11 && _strnicmp(name, "qor", 3) == 0 &&
         _stricmp(name + 7, ".dct") == 0;
}

// The 4 digits of a dictionary file name; -1 when they are not digits.
int DictNumber(const char* name) {
  if (std::strlen(name) != 11) return -1;
  int n = 0;
  for (int i = 3; i < 7; ++i) {
    if (name[i] < '0' || name[i] > '9') return -1;
    n = n * 10 + (name[i] - '0');
  }
  return n;
}

// A handle for reading path when it is a file on disk, else INVALID_HANDLE_VALUE: a pipe,
// console or other device, or a directory, is closed again unread. Other processes may
// read, write, delete and rename over the file meanwhile, as with a POSIX descriptor, so an
// install can replace a dictionary that a search is reading.
HANDLE OpenRegular(const char* path) {
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return h;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
    CloseHandle(h);
    return INVALID_HANDLE_VALUE;
  }
  return h;
}

uint64_t Ticks(const FILETIME& t) {
  return (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime;
}

int IdentityFromHandle(HANDLE h, FileIdentity* out) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) return -1;
  auto join = [](DWORD high, DWORD low) { return (uint64_t{high} << 32) | low; };
  out->size = join(info.nFileSizeHigh, info.nFileSizeLow);
  out->modified = static_cast<int64_t>(
      join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime));
  out->changed = static_cast<int64_t>(
      join(info.ftCreationTime.dwHighDateTime, info.ftCreationTime.dwLowDateTime));
  out->volume = info.dwVolumeSerialNumber;
  out->index = join(info.nFileIndexHigh, info.nFileIndexLow);
  return 0;
}

// A file time in local time with the zone's rule for the file's own date, summer time
// included, as localtime does; FileTimeToLocalFileTime applies today's offset, which would
// move the time of every file by an hour whenever summer time starts or ends.
bool LocalTimeOf(const FILETIME& written, LocalTime* out) {
  SYSTEMTIME utc, st;
  if (!FileTimeToSystemTime(&written, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &st)) {
    return false;
  }
  *out = LocalTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute};
  return true;
}

}  // namespace

FILE* Platform_OpenRegularFile(const char* path, FileIdentity* identity) {
  HANDLE h = OpenRegular(path);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  if (identity != nullptr && IdentityFromHandle(h, identity) != 0) *identity = FileIdentity{};
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(h);
    return nullptr;
  }
  FILE* file = _fdopen(fd, "rb");
  if (!file) _close(fd);
  return file;
}

void Platform_ListFiles(const char* dir, void (*visit)(void* context, const char* name),
                        void* context) {
  char pattern[MAX_PATH + 16];
  if (!BuildPath(dir, "*", pattern, sizeof pattern)) return;
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(pattern, &data);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) visit(context, data.cFileName);
  } while (FindNextFileA(h, &data));
  FindClose(h);
}

int Platform_FileUnwrittenFor(const char* path, int64_t* seconds) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
    return -1;
  }
  FILETIME nowTime;
  GetSystemTimeAsFileTime(&nowTime);
  // A copy gives its file the source's write time, so the creation time counts too.
  uint64_t touched = Ticks(data.ftLastWriteTime);
  if (Ticks(data.ftCreationTime) > touched) touched = Ticks(data.ftCreationTime);
  const int64_t elapsed = static_cast<int64_t>(Ticks(nowTime) - touched);
  *seconds = elapsed / 10000000;  // FILETIME counts 100 ns
  return 0;
}

unsigned long Platform_ProcessId() { return GetCurrentProcessId(); }

bool Platform_ProcessRuns(unsigned long pid) {
  if (pid == GetCurrentProcessId()) return true;
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  // No such process gives ERROR_INVALID_PARAMETER; access denied means one runs.
  if (!process) return GetLastError() != ERROR_INVALID_PARAMETER;
  const bool runs = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return runs;
}

// What the listing told of each dictionary file, by number. A directory that cannot be
// listed has no listing: its files are then examined by opening them.
struct DictDirectory {
  char dir[MAX_PATH + 1];
  bool listed;
  struct Listed {
    DWORD attributes;
    bool listed;
  } files[10000];
};

DictDirectory* Platform_ListDictDirectory(const char* dir, uint8_t* present,
                                          void (*visit)(void* context, const char* name),
                                          void* context) {
  char pattern[MAX_PATH + 16];
  auto* listed = new (std::nothrow) DictDirectory{};
  if (listed == nullptr) return nullptr;
  if (std::strlen(dir) > MAX_PATH || !BuildPath(dir, "*", pattern, sizeof pattern)) {
    listed->listed = true;  // a path the system cannot take holds no file
    return listed;
  }
  std::strcpy(listed->dir, dir);
  WIN32_FIND_DATAA data;
  // Basic information (no short names) in large batches: the listing is the only call per
  // batch of files.
  HANDLE h = FindFirstFileExA(pattern, FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                              FIND_FIRST_EX_LARGE_FETCH);
  // Systems before Windows 7 know neither; they list the same files the usual way.
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_INVALID_PARAMETER) {
    h = FindFirstFileA(pattern, &data);
  }
  if (h == INVALID_HANDLE_VALUE) return listed;
  listed->listed = true;
  do {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    // Names match case-insensitively, as the file system opens them.
    const int n = IsDictName(data.cFileName) ? DictNumber(data.cFileName) : -1;
    if (n >= 0) {
      present[n] = 1;
      listed->files[n] = {data.dwFileAttributes, true};
    } else if (visit != nullptr) {
      visit(context, data.cFileName);
    }
  } while (FindNextFileA(h, &data));
  FindClose(h);
  return listed;
}

bool Platform_ExamineDictFile(DictDirectory* dir, const char* name, LocalTime* written,
                              bool* timeKnown) {
  const int n = DictNumber(name);
  char path[MAX_PATH + 16];
  if (n < 0 || (dir->listed && !dir->files[n].listed) ||
      !BuildPath(dir->dir, name, path, sizeof path)) {
    return false;
  }
  const DictDirectory::Listed& file = dir->files[n];
  if (!dir->listed || (file.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    // No listing, or a link (whose type and time are its target's): only an open tells.
    FILE* opened = Platform_OpenRegularFile(path);
    if (opened == nullptr) return false;
    *timeKnown = Platform_FileTime(opened, written) == 0;
    std::fclose(opened);
    return true;
  }
  if (file.attributes & FILE_ATTRIBUTE_DEVICE) return false;
  // Read access is granted by the file's security, which the listing does not tell. The time
  // is the handle's: a directory entry's copy of it is brought up to date only when the
  // writer's handle is closed.
  const HANDLE h = CreateFileA(path, GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  FILETIME time;
  *timeKnown = GetFileTime(h, nullptr, nullptr, &time) && LocalTimeOf(time, written);
  CloseHandle(h);
  return true;
}

FILE* Platform_OpenDictFile(DictDirectory* dir, const char* name) {
  char path[MAX_PATH + 16];
  return BuildPath(dir->dir, name, path, sizeof path) ? Platform_OpenRegularFile(path) : nullptr;
}

// A file the CRT opened cannot be renamed over or deleted while it is open.
uint32_t Platform_KeptFileLimit() { return 0; }

bool Platform_ReadAt(FILE* file, uint64_t offset, void* buf, size_t n) {
  // Through the stream: a read at an offset on the handle would move the position the
  // stream believes it has.
  if (_fseeki64(file, static_cast<__int64>(offset), SEEK_SET) != 0) return false;
  return n == 0 || std::fread(buf, 1, n, file) == n;
}
void Platform_CloseDictDirectory(DictDirectory* dir) { delete dir; }

int Platform_FileTime(FILE* file, LocalTime* out) {
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  if (h == INVALID_HANDLE_VALUE) return -1;
  FILETIME written;
  if (!GetFileTime(h, nullptr, nullptr, &written) || !LocalTimeOf(written, out)) return -1;
  return 0;
}

int Platform_DeleteFile(const char* path) {
  if (DeleteFileA(path)) return 0;
  DWORD e = GetLastError();
  return (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND) ? 0 : -1;
}

// FileRenameInfoEx, which the headers declare only when building for Windows 10 alone.
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

// Renames tmp over path (both in one directory). A plain MoveFileEx cannot replace a file
// that a reader holds open, even one that allows deletion as every reader of this library
// does; a rename with POSIX semantics can (Windows 10 1809 and later): the name then names the
// new file at once and the reader keeps reading the old one. Elsewhere (older systems, wine)
// MoveFileEx, tried again for up to a second while the file is in use: readers of this library
// hold a dictionary only for one search or open.
int Platform_ReplaceFile(const char* tmp, const char* path) {
  const char* slash = std::strrchr(path, '\\');
  const char* name = slash != nullptr ? slash + 1 : path;
  const int wideLength = MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0);
  const HANDLE h = wideLength > 0 ? CreateFileA(tmp, DELETE | SYNCHRONIZE,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE |
                                                    FILE_SHARE_DELETE,
                                                nullptr, OPEN_EXISTING, 0, nullptr)
                                  : INVALID_HANDLE_VALUE;
  if (h != INVALID_HANDLE_VALUE) {
    const size_t size = sizeof(FILE_RENAME_INFO) + sizeof(WCHAR) * static_cast<size_t>(wideLength);
    auto* info = static_cast<FILE_RENAME_INFO*>(std::calloc(1, size));
    bool renamed = false;
    if (info != nullptr) {
      // The flags share their place with ReplaceIfExists in the record.
      const DWORD flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
      std::memcpy(info, &flags, sizeof flags);
      info->FileNameLength = static_cast<DWORD>(sizeof(WCHAR) * (wideLength - 1));
      MultiByteToWideChar(CP_ACP, 0, name, -1, info->FileName, wideLength);
      renamed = SetFileInformationByHandle(h, kFileRenameInfoEx, info, static_cast<DWORD>(size));
      std::free(info);
    }
    CloseHandle(h);
    if (renamed) return 0;
  }
  for (int attempt = 0;; ++attempt) {
    if (MoveFileExA(tmp, path, MOVEFILE_REPLACE_EXISTING)) return 0;
    const DWORD error = GetLastError();
    if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || attempt == 50) {
      return -1;
    }
    Sleep(20);
  }
}

int Platform_CopyFile(const char* src, const char* dst) {
  HANDLE source = OpenRegular(src);
  if (source == INVALID_HANDLE_VALUE) return -1;
  CloseHandle(source);
  // CopyFileA keeps the source's last-write time on the copy. It also copies the attributes:
  // a read-only source (a file on a CD) would give a read-only copy that the next install
  // could not replace, so that attribute is cleared.
  if (!CopyFileA(src, dst, FALSE)) return -1;
  const DWORD attributes = GetFileAttributesA(dst);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
      !SetFileAttributesA(dst, attributes & ~DWORD{FILE_ATTRIBUTE_READONLY})) {
    return -1;
  }
  return 0;
}

// Besides the notification handle, each directory's last write time: it moves when a file
// is created, deleted or renamed there, and it is read at once, where a notification may be
// signalled only a moment after the change (wine's are; so are those of network shares).
// The write times are atomic: Platform_WatchPending reads them beside Platform_WatchChanged.
struct DirWatch {
  HANDLE handles[3];
  char dirs[3][MAX_PATH + 1];
  std::atomic<uint64_t> written[3];
  int count;
};

namespace {

// The directory's last write time, 0 when it cannot be read.
uint64_t DirWriteTime(const char* dir) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(dir, GetFileExInfoStandard, &data)) return 0;
  return Ticks(data.ftLastWriteTime);
}

}  // namespace

DirWatch* Platform_WatchDirectories(const char* const* dirs, int count) {
  auto* watch = new (std::nothrow) DirWatch{};
  if (watch == nullptr) return nullptr;
  constexpr DWORD kFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE |
                            FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_ATTRIBUTES |
                            FILE_NOTIFY_CHANGE_CREATION;
  for (int i = 0; i < count && watch->count < 3; ++i) {
    if (dirs[i] == nullptr || dirs[i][0] == '\0') continue;
    const int n = watch->count;
    if (std::strlen(dirs[i]) > MAX_PATH) {
      Platform_WatchClose(watch);
      return nullptr;
    }
    std::strcpy(watch->dirs[n], dirs[i]);
    watch->written[n] = DirWriteTime(dirs[i]);
    const HANDLE h = FindFirstChangeNotificationA(dirs[i], FALSE, kFilter);
    if (h == INVALID_HANDLE_VALUE) {
      Platform_WatchClose(watch);
      return nullptr;
    }
    watch->handles[watch->count++] = h;
  }
  return watch;
}

// Windows names no file: any change in a watched directory counts, the catalog too.
int Platform_WatchChanged(DirWatch* watch) {
  int changed = 0;
  for (int i = 0; i < watch->count; ++i) {
    const uint64_t written = DirWriteTime(watch->dirs[i]);
    if (written != watch->written[i].load()) {
      watch->written[i] = written;
      changed = 1;
    }
    const DWORD state = WaitForSingleObject(watch->handles[i], 0);
    if (state == WAIT_TIMEOUT) continue;
    changed = 1;
    if (state != WAIT_OBJECT_0 || !FindNextChangeNotification(watch->handles[i])) return 1;
  }
  return changed;
}

// A wait of no time leaves the notification signalled for Platform_WatchChanged.
int Platform_WatchPending(DirWatch* watch) {
  for (int i = 0; i < watch->count; ++i) {
    if (DirWriteTime(watch->dirs[i]) != watch->written[i].load()) return 1;
    if (WaitForSingleObject(watch->handles[i], 0) != WAIT_TIMEOUT) return 1;
  }
  return 0;
}

void Platform_WatchClose(DirWatch* watch) {
  if (watch == nullptr) return;
  for (int i = 0; i < watch->count; ++i) FindCloseChangeNotification(watch->handles[i]);
  delete watch;
}

int Platform_FileIdentity(const char* path, FileIdentity* out) {
  *out = FileIdentity{};
  const HANDLE h = CreateFileA(path, FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return -1;
  const int result = IdentityFromHandle(h, out);
  CloseHandle(h);
  if (result != 0) *out = FileIdentity{};
  return result;
}
