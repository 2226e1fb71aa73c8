// A unique temporary directory for one test, removed with everything in it at the end.
#ifndef QOR3_TESTS_SUPPORT_TEMP_DIR_H
#define QOR3_TESTS_SUPPORT_TEMP_DIR_H

#include <string>
#include <string_view>

struct TempDir {
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The directory, ending with '/' on POSIX and '\\' on Windows (empty if it could not be
  // made; the constructor then records a test failure).
  const std::string& path() const { return path_; }
  // path() + name.
  std::string File(std::string_view name) const { return path_ + std::string(name); }
  // Writes bytes to path() + name and returns that path.
  std::string Write(std::string_view name, std::string_view bytes) const;
  bool Exists(std::string_view name) const;
  // Number of entries in the directory (files left behind count too).
  int EntryCount() const;

  std::string path_;
};

#endif  // QOR3_TESTS_SUPPORT_TEMP_DIR_H
