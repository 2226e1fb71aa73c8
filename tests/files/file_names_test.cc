// Temporary files: qor-mkdict writes through the temporary file that Temp_FileName names, the
// kind that the next open or copy removes once its process is gone (QorOpenTest.
// RemovesOldTemporaryFilesOfProcessesThatNoLongerRun).
#include "files/file_names.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "mkdict/dict_builder.h"
#include "platform/platform.h"
#include "support/temp_dir.h"

namespace {

std::string Contents(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

TEST(TempFiles, QorMkdictWritesThroughTheTemporaryFileThatTheCleanupKnows) {
  TempDir dir;
  const std::string path = dir.Write("qor0101.dct", "old");
  char tmp[512];
  ASSERT_EQ(Temp_FileName(path.c_str(), tmp, sizeof tmp), 0);
  unsigned long pid = 0;
  ASSERT_TRUE(Temp_ParseFileName(tmp + dir.path().size(), &pid));
  EXPECT_EQ(pid, Platform_ProcessId());

  // With a directory in the temporary file's place the write fails and the old file stays.
  ASSERT_TRUE(std::filesystem::create_directory(tmp));
  std::string error;
  EXPECT_FALSE(DictBuilder_WriteFile(path, {1, 2, 3}, &error));
  EXPECT_NE(error.find(path), std::string::npos) << error;
  EXPECT_EQ(Contents(path), "old");
  std::filesystem::remove(tmp);

  EXPECT_TRUE(DictBuilder_WriteFile(path, {1, 2, 3}, &error)) << error;
  EXPECT_EQ(Contents(path), "\x01\x02\x03");
  EXPECT_EQ(dir.EntryCount(), 1);  // renamed into place, nothing left beside it
}

}  // namespace
