// The operating-system layer for POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/inotify.h>
#include <sys/ioctl.h>
#endif

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include "platform/platform.h"

namespace {

// "qor" + 4 characters + ".dct"; with digits, *number receives their value.
bool MatchesDictName(const char* name, bool caseInsensitive, int* number) {
  if (std::strlen(name) != 11) return false;
  auto eq = [&](char a, char b) {
    return caseInsensitive ? std::tolower(static_cast<unsigned char>(a)) == b : a == b;
  };
  if (!eq(name[0], 'q') || !eq(name[1], 'o') || !eq(name[2], 'r')) return false;
  if (name[7] != '.' || !eq(name[8], 'd') || !eq(name[9], 'c') || !eq(name[10], 't')) return false;
  int n = 0;
  for (int i = 3; i < 7; ++i) {
    if (name[i] < '0' || name[i] > '9') {
      n = -1;
      break;
    }
    n = n * 10 + (name[i] - '0');
  }
  *number = n;
  return true;
}

DIR* OpenDir(const char* dir) { return opendir(dir[0] ? dir : "."); }

int IdentityFromStat(const struct stat& st, FileIdentity* out) {
  out->size = static_cast<uint64_t>(st.st_size);
  out->modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  out->changed = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  out->volume = static_cast<uint64_t>(st.st_dev);
  out->index = static_cast<uint64_t>(st.st_ino);
  return 0;
}

int LocalTimeOf(time_t t, LocalTime* out) {
  std::tm tm;
  if (!localtime_r(&t, &tm)) return -1;
  *out = LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min};
  return 0;
}

// A descriptor for reading path (relative to dirFd) when it is a regular file, else -1.
// O_NONBLOCK keeps the open of a FIFO without a writer (or of a device) from waiting; the
// type is then told by fstat.
int OpenRegular(int dirFd, const char* path, struct stat* statOut = nullptr) {
  const int fd = openat(dirFd, path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  // O_NONBLOCK stays set: it keeps a FIFO or device from blocking the open, and changes
  // nothing for the regular file that is kept (sparing the system calls to clear it: a
  // search opens several files).
  struct stat own;
  struct stat& st = statOut != nullptr ? *statOut : own;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return -1;
  }
  return fd;
}

FILE* StreamOf(int fd) {
  if (fd < 0) return nullptr;
  FILE* file = fdopen(fd, "rb");
  if (!file) close(fd);
  return file;
}

}  // namespace

FILE* Platform_OpenRegularFile(const char* path, FileIdentity* identity) {
  struct stat st;
  FILE* file = StreamOf(OpenRegular(AT_FDCWD, path, &st));
  if (file != nullptr && identity != nullptr) IdentityFromStat(st, identity);
  return file;
}

bool Platform_ReadAt(FILE* file, uint64_t offset, void* buf, size_t n) {
  const int fd = fileno(file);
  auto* out = static_cast<char*>(buf);
  while (n > 0) {
    if (offset > static_cast<uint64_t>(INT64_MAX)) return false;
    const ssize_t got = pread(fd, out, n, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    out += got;
    offset += static_cast<uint64_t>(got);
    n -= static_cast<size_t>(got);
  }
  return true;
}

uint32_t Platform_KeptFileLimit() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur / 4 >= 1024) return 1024;
  return static_cast<uint32_t>(limit.rlim_cur / 4);
}

// A directory that cannot be read (one that may be entered but not listed) has no listing:
// its files are then examined and opened by path.
struct DictDirectory {
  DIR* listing;
  int fd;  // the listing's descriptor, or AT_FDCWD
  char dir[PATH_MAX];
};

namespace {

// The name to give the *at calls together with dir->fd: name itself, or the path of name
// built in buffer; null when the path does not fit.
const char* NameAt(const DictDirectory* dir, const char* name, char* buffer, size_t capacity) {
  if (dir->listing != nullptr) return name;
  const int n = std::snprintf(buffer, capacity, "%s%s", dir->dir, name);
  return n >= 0 && static_cast<size_t>(n) < capacity ? buffer : nullptr;
}

}  // namespace

DictDirectory* Platform_ListDictDirectory(const char* dir, uint8_t* present,
                                          void (*visit)(void* context, const char* name),
                                          void* context) {
  auto* listed = new (std::nothrow) DictDirectory{nullptr, AT_FDCWD, {}};
  if (listed == nullptr) return nullptr;
  const int n = std::snprintf(listed->dir, sizeof listed->dir, "%s", dir);
  if (n < 0 || static_cast<size_t>(n) >= sizeof listed->dir) listed->dir[0] = '\0';
  listed->listing = OpenDir(dir);
  if (listed->listing == nullptr) return listed;
  listed->fd = dirfd(listed->listing);
  int number;
  // Only the lower-case names the library opens count: a file it could not open is absent.
  while (dirent* e = readdir(listed->listing)) {
    if (MatchesDictName(e->d_name, false, &number) && number >= 0) {
      present[number] = 1;
    } else if (visit != nullptr && std::strcmp(e->d_name, ".") != 0 &&
               std::strcmp(e->d_name, "..") != 0) {
      visit(context, e->d_name);
    }
  }
  return listed;
}

bool Platform_ExamineDictFile(DictDirectory* dir, const char* name, LocalTime* written,
                              bool* timeKnown) {
  char buffer[PATH_MAX];
  const char* at = NameAt(dir, name, buffer, sizeof buffer);
  struct stat st;
  // Read access as an open would be granted it: by the effective ids, with ACLs.
  if (at == nullptr || fstatat(dir->fd, at, &st, 0) != 0 || !S_ISREG(st.st_mode) ||
      faccessat(dir->fd, at, R_OK, AT_EACCESS) != 0) {
    return false;
  }
  *timeKnown = LocalTimeOf(st.st_mtime, written) == 0;
  return true;
}

FILE* Platform_OpenDictFile(DictDirectory* dir, const char* name) {
  char buffer[PATH_MAX];
  const char* at = NameAt(dir, name, buffer, sizeof buffer);
  return at != nullptr ? StreamOf(OpenRegular(dir->fd, at)) : nullptr;
}

void Platform_CloseDictDirectory(DictDirectory* dir) {
  if (dir == nullptr) return;
  if (dir->listing != nullptr) closedir(dir->listing);
  delete dir;
}

void Platform_ListFiles(const char* dir, void (*visit)(void* context, const char* name),
                        void* context) {
  DIR* d = OpenDir(dir);
  if (!d) return;
  while (dirent* e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
      visit(context, e->d_name);
    }
  }
  closedir(d);
}

int Platform_FileUnwrittenFor(const char* path, int64_t* seconds) {
  struct stat st;
  if (lstat(path, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  *seconds = static_cast<int64_t>(std::time(nullptr)) - static_cast<int64_t>(st.st_mtime);
  return 0;
}

unsigned long Platform_ProcessId() { return static_cast<unsigned long>(getpid()); }

bool Platform_ProcessRuns(unsigned long pid) {
  // 0 and ids beyond pid_t would make kill address a process group: never judged gone.
  if (pid == 0 || pid > 0x7FFFFFFFu) return true;
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

int Platform_FileTime(FILE* file, LocalTime* out) {
  struct stat st;
  if (fstat(fileno(file), &st) != 0) return -1;
  return LocalTimeOf(st.st_mtime, out);
}

int Platform_DeleteFile(const char* path) {
  return (unlink(path) == 0 || errno == ENOENT) ? 0 : -1;
}

int Platform_ReplaceFile(const char* tmp, const char* path) {
  return std::rename(tmp, path) == 0 ? 0 : -1;
}

int Platform_CopyFile(const char* src, const char* dst) {
  int in = OpenRegular(AT_FDCWD, src);
  if (in < 0) return -1;
  struct stat st;
  if (fstat(in, &st) != 0) {
    close(in);
    return -1;
  }
  int out = open(dst, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) {
    close(in);
    return -1;
  }
  bool ok = true;
  char buf[65536];
  for (;;) {
    ssize_t got = read(in, buf, sizeof buf);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    for (ssize_t done = 0; done < got;) {
      ssize_t put = write(out, buf + done, static_cast<size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        ok = false;
        break;
      }
      done += put;
    }
    if (!ok) break;
  }
  close(in);
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  if (ok && futimens(out, times) != 0) ok = false;
  if (close(out) != 0) ok = false;
  return ok ? 0 : -1;
}

#if defined(__linux__)
struct DirWatch {
  int fd;
};

DirWatch* Platform_WatchDirectories(const char* const* dirs, int count) {
  const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) return nullptr;
  constexpr uint32_t kEvents = IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB | IN_MOVED_FROM |
                               IN_MOVED_TO | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF;
  for (int i = 0; i < count; ++i) {
    if (dirs[i] == nullptr || dirs[i][0] == '\0') continue;
    if (inotify_add_watch(fd, dirs[i], kEvents) < 0) {
      close(fd);
      return nullptr;
    }
  }
  auto* watch = new (std::nothrow) DirWatch{fd};
  if (watch == nullptr) close(fd);
  return watch;
}

int Platform_WatchChanged(DirWatch* watch) {
  alignas(inotify_event) char buffer[4096];
  int changed = 0;
  for (;;) {
    const ssize_t n = read(watch->fd, buffer, sizeof buffer);
    if (n <= 0) return n < 0 && errno != EAGAIN && errno != EINTR ? 1 : changed;
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      int number = -1;
      // Events on the directory itself, lost events, and dictionary files other than the
      // catalog that this library rewrites itself.
      if ((event->mask & (IN_Q_OVERFLOW | IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) != 0 ||
          (event->len > 0 && MatchesDictName(event->name, false, &number) && number != 9999)) {
        changed = 1;
      }
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
}

int Platform_WatchPending(DirWatch* watch) {
  int bytes = 0;
  return ioctl(watch->fd, FIONREAD, &bytes) != 0 || bytes > 0 ? 1 : 0;
}

void Platform_WatchClose(DirWatch* watch) {
  if (watch == nullptr) return;
  close(watch->fd);
  delete watch;
}
#else
DirWatch* Platform_WatchDirectories(const char* const*, int) { return nullptr; }
int Platform_WatchChanged(DirWatch*) { return 1; }
int Platform_WatchPending(DirWatch*) { return 1; }
void Platform_WatchClose(DirWatch*) {}
#endif

int Platform_FileIdentity(const char* path, FileIdentity* out) {
  *out = FileIdentity{};
  struct stat st;
  if (stat(path, &st) != 0) return -1;
  return IdentityFromStat(st, out);
}
