// Tests of the built-in surname table: its shape (which dictionary files depend on) and lookup.
#include "dict/surname_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#if defined(__unix__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

std::string Entry(uint32_t i) {
  return std::string(SurnameTable_Get(i), SurnameTable_Length(i));
}

bool IsLead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xEF); }
bool IsTrail(unsigned char b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }

bool LessUnsigned(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(
      a.begin(), a.end(), b.begin(), b.end(),
      [](char x, char y) { return static_cast<unsigned char>(x) < static_cast<unsigned char>(y); });
}

int IndexOf(const std::string& text) {
  for (uint32_t i = 0; i < kSurnameCount; ++i) {
    if (Entry(i) == text) return static_cast<int>(i);
  }
  return -1;
}

// "佐藤　" (Sato and the ideographic space)
const std::string kSatoEntry = "\x8d\xb2\x93\xa1\x81\x40";
// "太郎" (Taro)
const std::string kTaro = "\x91\xbe\x98\x59";

TEST(SurnameTableTest, EveryEntryIsDoubleByteSurnameAndIdeographicSpace) {
  for (uint32_t i = 0; i < kSurnameCount; ++i) {
    SCOPED_TRACE(i);
    const char* text = SurnameTable_Get(i);
    ASSERT_NE(text, nullptr);
    uint32_t length = SurnameTable_Length(i);
    EXPECT_EQ(std::strlen(text), length);
    ASSERT_TRUE(length == 4 || length == 6 || length == 8 || length == 10) << length;
    EXPECT_EQ(static_cast<unsigned char>(text[length - 2]), 0x81);
    EXPECT_EQ(static_cast<unsigned char>(text[length - 1]), 0x40);
    for (uint32_t p = 0; p + 2 < length; p += 2) {
      EXPECT_TRUE(IsLead(static_cast<unsigned char>(text[p]))) << "byte " << p;
      EXPECT_TRUE(IsTrail(static_cast<unsigned char>(text[p + 1]))) << "byte " << p + 1;
      // No ideographic space inside the surname: it would make one entry a prefix of another.
      EXPECT_FALSE(text[p] == '\x81' && text[p + 1] == '\x40') << "byte " << p;
    }
  }
}

TEST(SurnameTableTest, EntriesAreDistinctAndAscending) {
  std::set<std::string> seen;
  for (uint32_t i = 0; i < kSurnameCount; ++i) {
    seen.insert(Entry(i));
    if (i > 0) {
      EXPECT_TRUE(LessUnsigned(Entry(i - 1), Entry(i))) << i;
    }
  }
  EXPECT_EQ(seen.size(), kSurnameCount);
}

TEST(SurnameTableTest, FixedRows) {
  EXPECT_EQ(Entry(0), "\x88\x9f\x93\x73\x81\x40");    // 亜都　
  EXPECT_EQ(Entry(1), "\x88\xa2\x81\x40");            // 阿　
  EXPECT_EQ(Entry(2), "\x88\xa2\x88\xe4\x81\x40");    // 阿井　
  EXPECT_EQ(Entry(31), "\x88\xa2\x95\x94\x81\x40");   // 阿部　
  EXPECT_EQ(Entry(8191), "\xea\x8e\x93\xa1\x81\x40"); // 齊藤　
  // With the order checked above this leaves exactly 28 between 阿井 and 阿部, all of them
  // starting with 阿.
  for (uint32_t i = 3; i < 31; ++i) EXPECT_EQ(Entry(i).substr(0, 2), "\x88\xa2") << i;
}

TEST(SurnameTableTest, OutOfRangeIndex) {
  EXPECT_EQ(SurnameTable_Get(kSurnameCount), nullptr);
  EXPECT_EQ(SurnameTable_Get(0xFFFFFFFFu), nullptr);
  EXPECT_EQ(SurnameTable_Length(kSurnameCount), 0u);
  EXPECT_EQ(SurnameTable_Length(0xFFFFFFFFu), 0u);
}

TEST(SurnameTableTest, FindPrefixFindsSurnameOfFullName) {
  int sato = IndexOf(kSatoEntry);
  ASSERT_GE(sato, 0);
  // "佐藤　太郎"
  const std::string name = kSatoEntry + kTaro;
  EXPECT_EQ(SurnameTable_FindPrefix(name.data(), name.size()), sato);
  EXPECT_EQ(SurnameTable_FindPrefix(kSatoEntry.data(), kSatoEntry.size()), sato);
}

TEST(SurnameTableTest, FindPrefixFindsEveryEntryAndNoTruncatedOne) {
  for (uint32_t i = 0; i < kSurnameCount; ++i) {
    SCOPED_TRACE(i);
    const std::string entry = Entry(i);
    const std::string name = entry + kTaro;
    EXPECT_EQ(SurnameTable_FindPrefix(name.data(), name.size()), static_cast<int>(i));
    // Without the last byte of its space the surname no longer counts, whatever follows.
    EXPECT_EQ(SurnameTable_FindPrefix(name.data(), entry.size() - 1), -1);
  }
}

TEST(SurnameTableTest, FindPrefixMisses) {
  // "佐藤太郎": no ideographic space after the surname.
  const std::string noSpace = "\x8d\xb2\x93\xa1" + kTaro;
  EXPECT_EQ(SurnameTable_FindPrefix(noSpace.data(), noSpace.size()), -1);
  // "阿" and the first byte of the space: shorter than every entry.
  EXPECT_EQ(SurnameTable_FindPrefix("\x88\xa2\x81", 3), -1);
  EXPECT_EQ(SurnameTable_FindPrefix("\x88\xa2", 2), -1);
  EXPECT_EQ(SurnameTable_FindPrefix("", 0), -1);
  EXPECT_EQ(SurnameTable_FindPrefix(nullptr, 0), -1);
  // Below the first entry and above the last: "ア　" and the one-byte "A　".
  EXPECT_EQ(SurnameTable_FindPrefix("\x83\x41\x81\x40", 4), -1);
  EXPECT_EQ(SurnameTable_FindPrefix("\xfc\x40\x81\x40", 4), -1);
  EXPECT_EQ(SurnameTable_FindPrefix("A\x81\x40", 3), -1);
}

TEST(SurnameTableTest, FindPrefixStopsAtLength) {
  // "佐藤　太郎" in memory, but only "佐藤" and the first byte of the space are the name.
  const std::string name = kSatoEntry + kTaro;
  EXPECT_EQ(SurnameTable_FindPrefix(name.data(), 5), -1);
  EXPECT_EQ(SurnameTable_FindPrefix(name.data(), 4), -1);
}

#if defined(__unix__)
// The name ends right before an unreadable page, so any read past `length` faults.
TEST(SurnameTableTest, FindPrefixReadsNothingPastLengthAtPageEnd) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  void* map = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(map, MAP_FAILED);
  char* base = static_cast<char*>(map);
  ASSERT_EQ(mprotect(base + page, page, PROT_NONE), 0);
  char* end = base + page;

  const std::string name = kSatoEntry + kTaro;  // 佐藤　太郎
  std::memcpy(end - name.size(), name.data(), name.size());
  EXPECT_EQ(SurnameTable_FindPrefix(end - name.size(), name.size()), IndexOf(kSatoEntry));
  std::memcpy(end - 5, kSatoEntry.data(), 5);  // 佐藤 and half a space
  EXPECT_EQ(SurnameTable_FindPrefix(end - 5, 5), -1);
  std::memcpy(end - 3, "\x88\xa2\x81", 3);  // 阿 and half a space
  EXPECT_EQ(SurnameTable_FindPrefix(end - 3, 3), -1);
  // "齊藤" and half a space: sorts after the last entry.
  std::memcpy(end - 5, "\xea\x8e\x93\xa1\x81", 5);
  EXPECT_EQ(SurnameTable_FindPrefix(end - 5, 5), -1);

  munmap(map, 2 * page);
}
#endif

}  // namespace
