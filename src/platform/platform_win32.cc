// The operating-system layer for Windows (ANSI file API, code page 932 paths).
#include <windows.h>

#include <io.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "platform/platform.h"

namespace {

bool BuildPath(const char* dir, const char* name, char* out, size_t capacity) {
  int n = std::snprintf(out, capacity, "%s%s", dir, name);
  return n >= 0 && static_cast<size_t>(n) < capacity;
}

// "qor" + 4 digits + ".dct" (the search already matched the pattern case-insensitively).
int DictNumber(const char* name) {
  if (std::strlen(name) != 11) return -1;
  int n = 0;
  for (int i = 3; i < 7; ++i) {
    if (name[i] < '0' || name[i] > '9') return -1;
    n = n * 10 + (name[i] - '0');
  }
  return n;
}

}  // namespace

bool Platform_AnyDictionaryFile(const char* dir) {
  char pattern[MAX_PATH + 16];
  if (!BuildPath(dir, "qor????.dct", pattern, sizeof pattern)) return false;
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(pattern, &data);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  return true;
}

void Platform_ListDictionaryFiles(const char* dir, uint8_t* present) {
  char pattern[MAX_PATH + 16];
  if (!BuildPath(dir, "qor????.dct", pattern, sizeof pattern)) return;
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(pattern, &data);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    int n = DictNumber(data.cFileName);
    if (n >= 0) present[n] = 1;
  } while (FindNextFileA(h, &data));
  FindClose(h);
}

int Platform_FileTime(FILE* file, LocalTime* out) {
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  if (h == INVALID_HANDLE_VALUE) return -1;
  // With the zone's rule for the file's own date, summer time included, as localtime does;
  // FileTimeToLocalFileTime applies today's offset, which would move the time of every file
  // by an hour whenever summer time starts or ends.
  FILETIME written;
  SYSTEMTIME utc, st;
  if (!GetFileTime(h, nullptr, nullptr, &written) || !FileTimeToSystemTime(&written, &utc) ||
      !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &st)) {
    return -1;
  }
  *out = LocalTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute};
  return 0;
}

int Platform_DeleteFile(const char* path) {
  if (DeleteFileA(path)) return 0;
  DWORD e = GetLastError();
  return (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND) ? 0 : -1;
}

int Platform_ReplaceFile(const char* tmp, const char* path) {
  return MoveFileExA(tmp, path, MOVEFILE_REPLACE_EXISTING) ? 0 : -1;
}

int Platform_TempPathFor(const char* path, char* out, size_t capacity) {
  int n = std::snprintf(out, capacity, "%s.%lu.tmp", path,
                        static_cast<unsigned long>(GetCurrentProcessId()));
  return (n < 0 || static_cast<size_t>(n) >= capacity) ? -1 : 0;
}

int Platform_CopyFile(const char* src, const char* dst) {
  char tmp[MAX_PATH + 32];
  if (Platform_TempPathFor(dst, tmp, sizeof tmp) != 0) return -1;
  // CopyFileA keeps the source's last-write time on the copy. It also copies the attributes:
  // a read-only source (a file on a CD) would give a read-only copy that the next install
  // could not replace, so that attribute is cleared.
  if (!CopyFileA(src, tmp, FALSE)) {
    DeleteFileA(tmp);
    return -1;
  }
  const DWORD attributes = GetFileAttributesA(tmp);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
      !SetFileAttributesA(tmp, attributes & ~DWORD{FILE_ATTRIBUTE_READONLY})) {
    DeleteFileA(tmp);
    return -1;
  }
  if (!MoveFileExA(tmp, dst, MOVEFILE_REPLACE_EXISTING)) {
    DeleteFileA(tmp);
    return -1;
  }
  return 0;
}

struct DirWatch {
  HANDLE handles[3];
  int count;
};

DirWatch* Platform_WatchDirectories(const char* const* dirs, int count) {
  auto* watch = new (std::nothrow) DirWatch{};
  if (watch == nullptr) return nullptr;
  constexpr DWORD kFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE |
                            FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_ATTRIBUTES |
                            FILE_NOTIFY_CHANGE_CREATION;
  for (int i = 0; i < count && watch->count < 3; ++i) {
    if (dirs[i] == nullptr || dirs[i][0] == '\0') continue;
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
    const DWORD state = WaitForSingleObject(watch->handles[i], 0);
    if (state == WAIT_TIMEOUT) continue;
    changed = 1;
    if (state != WAIT_OBJECT_0 || !FindNextChangeNotification(watch->handles[i])) return 1;
  }
  return changed;
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
  BY_HANDLE_FILE_INFORMATION info;
  const BOOL ok = GetFileInformationByHandle(h, &info);
  CloseHandle(h);
  if (!ok) return -1;
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
