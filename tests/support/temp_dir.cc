// A unique temporary directory for one test, removed with everything in it at the end.
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::error_code ec;
  fs::path base = fs::temp_directory_path(ec);
  if (ec) {
    ADD_FAILURE() << "no temporary directory: " << ec.message();
    return;
  }
  std::mt19937_64 random(static_cast<uint64_t>(
      std::chrono::steady_clock::now().time_since_epoch().count()) ^
      reinterpret_cast<uintptr_t>(this));
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = base / ("qor3-test-" + std::to_string(random() % 1000000000000ULL));
    if (fs::create_directory(candidate, ec) && !ec) {
      path_ = candidate.string() + static_cast<char>(fs::path::preferred_separator);
      return;
    }
  }
  ADD_FAILURE() << "cannot create a temporary directory in " << base.string();
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ec;
  fs::remove_all(fs::path(path_), ec);
}

std::string TempDir::Write(std::string_view name, std::string_view bytes) const {
  std::string file = File(name);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) ADD_FAILURE() << "cannot write " << file;
  return file;
}

bool TempDir::Exists(std::string_view name) const {
  std::error_code ec;
  return fs::exists(fs::path(File(name)), ec);
}

int TempDir::EntryCount() const {
  std::error_code ec;
  int count = 0;
  for (fs::directory_iterator it(fs::path(path_), ec), end; !ec && it != end; it.increment(ec)) {
    ++count;
  }
  return count;
}
