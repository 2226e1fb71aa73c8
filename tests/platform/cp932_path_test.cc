// Directory paths are closed by code page 932 characters: a two-byte character whose second
// byte is 0x5C (表 0x95 0x5C, ソ 0x83 0x5C) does not close a path, so the files of a directory
// with such a name are read and written inside it, never beside it. The end-to-end cases are
// the real test on Windows under the Japanese ANSI code page, where the file API takes those
// bytes as one character; under other code pages and on POSIX they must pass all the same.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "files/file_names.h"
#include "platform/platform.h"
#include "qor3.h"
#include "support/temp_dir.h"
#include "support/test_dicts.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace {

const std::string kSep(1, kPathSeparator);

std::string Prepared(const std::string& path) {
  char out[kPathCapacity];
  if (Path_Prepare(path.data(), static_cast<uint32_t>(path.size()), out) != 0) return "<refused>";
  return out;
}

TEST(Cp932Path, OnlyASingleByteSeparatorClosesAPath) {
  EXPECT_EQ(Prepared(""), "");
  EXPECT_EQ(Prepared("dir"), "dir" + kSep);
  EXPECT_EQ(Prepared("dir" + kSep), "dir" + kSep);
  // 表, ソ and a lead byte of the upper range, each ending in 0x5C: one character, not closed.
  EXPECT_EQ(Prepared("d\x95\x5C"), "d\x95\x5C" + kSep);
  EXPECT_EQ(Prepared("d\x83\x5C"), "d\x83\x5C" + kSep);
  EXPECT_EQ(Prepared("d\xE0\x5C"), "d\xE0\x5C" + kSep);
  // A separator after such a character closes the path.
  EXPECT_EQ(Prepared("d\x95\x5C" + kSep), "d\x95\x5C" + kSep);
  // Characters pair up from the first byte: 0x95 0x95 is one character, then 0x5C alone.
  EXPECT_EQ(Prepared("\x95\x95\x5C" + kSep), "\x95\x95\x5C" + kSep);
#if defined(_WIN32)
  // Half-width katakana are single bytes: ｿ (0xBF) then a real backslash.
  EXPECT_EQ(Prepared("d\xBF\x5C"), "d\xBF\x5C");
  EXPECT_EQ(Prepared("\x95\x95\x5C"), "\x95\x95\x5C");
#else
  // '/' can never be the second byte of a character: after a lead byte it still closes.
  EXPECT_EQ(Prepared("d\x95/"), "d\x95/");
  EXPECT_EQ(Prepared("d\xE0/"), "d\xE0/");
#endif
  // The closing separator still counts against the length limit.
  EXPECT_EQ(Prepared(std::string(kDirPathMax - 2, 'p') + "\x95\x5C"), "<refused>");
  EXPECT_NE(Prepared(std::string(kDirPathMax - 3, 'p') + "\x95\x5C"), "<refused>");
}

bool MakeDirectory(const std::string& path) {
#if defined(_WIN32)
  return CreateDirectoryA(path.c_str(), nullptr) != 0;
#else
  return mkdir(path.c_str(), 0755) == 0;
#endif
}

bool FileExists(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f) std::fclose(f);
  return f != nullptr;
}

void SetPath(uint32_t* length, char* field, const std::string& path) {
  *length = static_cast<uint32_t>(path.size());
  std::memcpy(field, path.data(), path.size());
}

uint32_t CountNumber(void* handle, const std::string& key) {
  SearchRequest request;
  std::memset(&request, 0, sizeof request);
  request.mode = 2;
  SetPath(&request.keyLength, request.key, key);
  Qor_Search(handle, &request);
  const uint32_t count = request.resultCount;
  Qor_MemRelease(&request);
  return count;
}

class Cp932DirectoryTest : public ::testing::TestWithParam<const char*> {
 protected:
  // base + the directory name, without a closing separator.
  std::string Odd() const { return base_.path() + GetParam(); }

  TempDir base_;
};

TEST_P(Cp932DirectoryTest, OpenReadsAndCatalogsInsideTheDirectory) {
  ASSERT_TRUE(MakeDirectory(Odd()));
  ASSERT_FALSE(WriteTestDict(Odd() + kSep, {TestEntry("03-3211-0001", "山田　太郎")}).empty());

  OpenRequest request;
  std::memset(&request, 0, sizeof request);
  SetPath(&request.directory1Length, request.directory1, Odd());
  OpenResult result;
  std::memset(&result, 0, sizeof result);
  void* handle = Qor_Open(&request, &result);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(result.catalog1Loaded, 1u);
  EXPECT_EQ(result.regionCount, 1u);
  EXPECT_EQ(CountNumber(handle, "0332110001"), 1u);
  EXPECT_EQ(Qor_Close(handle, &result), 0);

  EXPECT_TRUE(FileExists(Odd() + kSep + "qor9999.dct"));
  EXPECT_EQ(base_.EntryCount(), 1) << "a file was written beside the directory";
}

TEST_P(Cp932DirectoryTest, CopyInstallsInsideTheDirectory) {
  TempDir source;
  ASSERT_FALSE(WriteTestDict(source.path(), {TestEntry("03-3211-0001", "山田　太郎")}).empty());
  ASSERT_TRUE(MakeDirectory(Odd()));

  const int32_t numbers[] = {101};
  const std::string from = source.path(), to = Odd();
  EXPECT_EQ(Qor_CopyDic(from.data(), static_cast<int32_t>(from.size()), to.data(),
                        static_cast<int32_t>(to.size()), numbers, 1),
            1);
  EXPECT_TRUE(FileExists(Odd() + kSep + "qor0101.dct"));
  EXPECT_TRUE(FileExists(Odd() + kSep + "qor9999.dct"));
  EXPECT_EQ(base_.EntryCount(), 1) << "a file was written beside the directory";
}

INSTANTIATE_TEST_SUITE_P(NamesEndingIn0x5C, Cp932DirectoryTest,
                         ::testing::Values("\x95\x5C",    // 表
                                           "\x83\x5C"));  // ソ

}  // namespace
