#include "TrCString.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Text that ends, without a NUL, right before a page that cannot be read.
class GuardPage {
public:
  GuardPage()
  {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    pageSize = info.dwPageSize;
    base = static_cast<char*>(
        VirtualAlloc(nullptr, 2 * pageSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    guarded = base != nullptr && VirtualProtect(base + pageSize, pageSize, PAGE_NOACCESS, &old);
  }
  ~GuardPage() { VirtualFree(base, 0, MEM_RELEASE); }

  const char* textBeforeGuard(const char* text)
  {
    const size_t n = std::strlen(text);
    char* start = base + pageSize - n;
    std::memcpy(start, text, n);
    return start;
  }

  bool guarded = false;

private:
  char* base = nullptr;
  DWORD pageSize = 0;
};

} // namespace

TEST(CString, LengthBoundedStopsAtItsMaximum)
{
  GuardPage page;
  ASSERT_TRUE(page.guarded);
  EXPECT_EQ(Tr::lengthBounded(page.textBeforeGuard("abcd"), 4), 4);
  EXPECT_EQ(Tr::lengthBounded(page.textBeforeGuard("abcdefghij"), 10), 10);

  const char* ten = "abcdefghij";
  struct Case {
    const char* text;
    int maximum;
    int expected;
  } cases[] = {{ten, 4, 4}, {ten, 20, 10}, {ten, 0, 0}, {ten, -3, -3}, {nullptr, 5, 0}, {"", 5, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(Tr::lengthBounded(c.text, c.maximum), c.expected) << c.maximum;
  }
}

TEST(CString, LengthOfNullIsZero)
{
  EXPECT_EQ(Tr::length(nullptr), 0);
  EXPECT_EQ(Tr::length(""), 0);
  EXPECT_EQ(Tr::length("abc"), 3);
}

TEST(CString, CompareTakesBytesAsUnsigned)
{
  struct Case {
    const char* a;
    const char* b;
    int expected;
  } cases[] = {{"abc", "abc", 0}, {"abc", "abd", -1}, {"abd", "abc", 1}, {"ab", "abc", -1},
               {"abc", "ab", 1},  {"\xE9", "a", 1},   {"", "", 0},       {"A", "a", -1}};
  for (const Case& c : cases) {
    EXPECT_EQ(Tr::compare(c.a, c.b), c.expected) << c.a << " / " << c.b;
    const int limited = Tr::compareLimited(c.a, c.b);
    EXPECT_EQ((limited > 0) - (limited < 0), c.expected) << c.a << " / " << c.b;
  }
}

TEST(CString, ToUpperFoldsOnlyLowerCaseLetters)
{
  EXPECT_EQ(Tr::toUpper('a'), 'A');
  EXPECT_EQ(Tr::toUpper('z'), 'Z');
  EXPECT_EQ(Tr::toUpper('A'), 'A');
  EXPECT_EQ(Tr::toUpper('['), '[');
  EXPECT_EQ(Tr::toUpper('\xE9'), '\xE9');
  EXPECT_EQ(Tr::toUpper('\xFF'), '\xFF');
}

TEST(CString, CopyBytesCopiesExactlyTheCount)
{
  char to[4] = {'w', 'x', 'y', 'z'};
  Tr::copyBytes(to, "ab", 2);
  EXPECT_EQ(std::memcmp(to, "abyz", 4), 0);
  Tr::copyBytes(to, "cd", 0);
  Tr::copyBytes(to, "cd", -1);
  EXPECT_EQ(std::memcmp(to, "abyz", 4), 0);
}
