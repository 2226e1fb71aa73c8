// The modification time of a file in local time, for a winter and a summer date: each with
// the zone's rule for that date, as the C library's localtime gives it (on Windows with the
// system's zone, not a TZ variable), so a file keeps its catalogued time all year.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "catalog/catalog_test_files.h"
#include "platform/platform.h"
#include "support/temp_dir.h"

namespace {

// Local time of t by the C library.
LocalTime LibraryLocalTime(std::time_t t) {
  std::tm tm{};
#if defined(_WIN32)
  tm = *std::localtime(&t);
#else
  localtime_r(&t, &tm);
#endif
  return LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min};
}

class PlatformFileTimeTest : public ::testing::Test {
 protected:
#if defined(_WIN32)
  // The C runtime would take a TZ variable in its own format (wine passes the Unix one on);
  // without it, it uses the system's zone and rules like the file API.
  PlatformFileTimeTest() {
    const char* tz = std::getenv("TZ");
    if (tz) saved_ = std::string("TZ=") + tz;
    _putenv("TZ=");
    _tzset();
  }
  ~PlatformFileTimeTest() override {
    if (!saved_.empty()) _putenv(saved_.c_str());
    _tzset();
  }
  std::string saved_;
#endif
  TempDir dir_;
};

TEST_F(PlatformFileTimeTest, WinterAndSummerDatesEachUseTheirOwnOffset) {
  const std::string path = dir_.Write("qor0101.dct", "x");
  const std::time_t times[] = {1010665800,   // 2002-01-10 12:30 UTC
                               1026304200};  // 2002-07-10 12:30 UTC
  for (std::time_t t : times) {
    ASSERT_TRUE(catalog_test::SetMTime(path, t));
    FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    LocalTime got{};
    EXPECT_EQ(Platform_FileTime(f, &got), 0);
    std::fclose(f);
    const LocalTime want = LibraryLocalTime(t);
    EXPECT_EQ(got.year, want.year) << t;
    EXPECT_EQ(got.month, want.month) << t;
    EXPECT_EQ(got.day, want.day) << t;
    EXPECT_EQ(got.hour, want.hour) << t;
    EXPECT_EQ(got.minute, want.minute) << t;
  }
}

}  // namespace
