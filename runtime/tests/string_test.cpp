#include "TrString.h"
#include "TrStringList.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

using Tr::TString;

namespace {

const Tr::TStringRep* blockOf(const TString& s)
{
  return s.getRep();
}

long countOf(const TString& s)
{
  return s.getRep()->refCount;
}

int capacityOf(const TString& s)
{
  return s.getRep()->capacity;
}

} // namespace

TEST(TString, EmptyStringsShareTheProcessWideBlock)
{
  ASSERT_NE(blockOf(Tr::emptyStringRep), nullptr);
  const long before = countOf(Tr::emptyStringRep);
  {
    TString a;
    TString b;
    EXPECT_EQ(blockOf(a), blockOf(Tr::emptyStringRep));
    EXPECT_EQ(blockOf(b), blockOf(Tr::emptyStringRep));
    EXPECT_EQ(countOf(Tr::emptyStringRep), before + 2);
    EXPECT_EQ(capacityOf(a), 0);
    EXPECT_STREQ(a.text(), "");
  }
  EXPECT_EQ(countOf(Tr::emptyStringRep), before);
}

TEST(TString, MadeFromTextWithExactCapacity)
{
  const char noNul[3] = {'x', 'y', 'z'};
  struct Case {
    const char* text;
    int maxLength;
    int capacity;
    const char* expected;
    int expectedCapacity;
  } cases[] = {
      {"abc", INT_MAX, -1, "abc", 3}, {"abcdef", 3, -1, "abc", 3}, {noNul, 3, -1, "xyz", 3},
      {"ab", INT_MAX, 10, "ab", 10},  {"abc", 0, -1, "", 0},       {nullptr, INT_MAX, -1, "", 0},
      {nullptr, INT_MAX, 5, "", 5},   {"abc", -4, -1, "", 0},
  };
  for (const Case& c : cases) {
    const TString s(c.text, c.maxLength, c.capacity);
    EXPECT_STREQ(s.text(), c.expected) << c.expected;
    EXPECT_EQ(s.length(), static_cast<int>(std::string(c.expected).size()));
    EXPECT_EQ(capacityOf(s), c.expectedCapacity) << c.expected;
    EXPECT_EQ(countOf(s), 1);
  }
}

TEST(TString, CopiesAndAssignmentsShareOneBlock)
{
  TString a("text");
  const TString b(a);
  EXPECT_EQ(blockOf(b), blockOf(a));
  EXPECT_EQ(countOf(a), 2);

  const long emptyCount = countOf(Tr::emptyStringRep);
  TString c;
  c = a;
  EXPECT_EQ(blockOf(c), blockOf(a));
  EXPECT_EQ(countOf(a), 3);
  EXPECT_EQ(countOf(Tr::emptyStringRep), emptyCount);

  c = c;
  a.assign(a);
  EXPECT_EQ(countOf(a), 3);

  a.assign(TString("other"));
  EXPECT_STREQ(a.text(), "other");
  EXPECT_EQ(countOf(a), 1);
  EXPECT_EQ(countOf(b), 2);
  EXPECT_STREQ(b.text(), "text");
}

TEST(TString, ChangingASharedBlockLeavesTheOtherSharer)
{
  const TString a("ab");
  TString b(a);
  b += 'c';
  TString d(a);
  d += TString("xy");
  EXPECT_STREQ(a.text(), "ab");
  EXPECT_STREQ(b.text(), "abc");
  EXPECT_STREQ(d.text(), "abxy");
  EXPECT_EQ(countOf(a), 1);
  EXPECT_EQ(capacityOf(b), 3);
  EXPECT_EQ(capacityOf(d), 4);
}

TEST(TString, AppendGrowsByExactlyWhatItNeeds)
{
  TString s("ab");
  const Tr::TStringRep* full = blockOf(s);
  s += 'c';
  EXPECT_NE(blockOf(s), full);
  EXPECT_EQ(capacityOf(s), 3);

  s.reserve(10);
  const Tr::TStringRep* roomy = blockOf(s);
  s += 'd';
  s += TString("ef");
  EXPECT_EQ(blockOf(s), roomy);
  EXPECT_EQ(capacityOf(s), 10);
  EXPECT_STREQ(s.text(), "abcdef");
}

TEST(TString, AppendingAnEmptyStringKeepsTheBlockShared)
{
  const TString a("ab");
  TString b(a);
  b += TString();
  EXPECT_EQ(blockOf(b), blockOf(a));
  EXPECT_EQ(countOf(a), 2);
}

TEST(TString, AppendingAStringToItselfDoublesIt)
{
  TString s("abc");
  s += s;
  EXPECT_STREQ(s.text(), "abcabc");

  TString shared("xy");
  const TString other(shared);
  shared += shared;
  EXPECT_STREQ(shared.text(), "xyxy");
  EXPECT_STREQ(other.text(), "xy");
}

TEST(TString, AppendsMarkCachedConversionsOutOfDate)
{
  TString s("ab");
  s.reserve(8);
  auto* cache = static_cast<Tr::TStringCache*>(std::malloc(sizeof(Tr::TStringCache)));
  for (Tr::TStringCache::Entry& entry : cache->entries) {
    entry = {std::malloc(4), 7, 1};
  }
  const_cast<Tr::TStringRep*>(blockOf(s))->cache = cache;

  s += 'c';
  for (const Tr::TStringCache::Entry& entry : cache->entries) {
    EXPECT_EQ(entry.valid, 0u);
    EXPECT_EQ(entry.info, 7u);
  }
  cache->entries[0].valid = cache->entries[1].valid = 1;
  s += TString("d");
  EXPECT_EQ(cache->entries[0].valid, 0u);
  EXPECT_EQ(cache->entries[1].valid, 0u);
  EXPECT_STREQ(s.text(), "abcd");
}

TEST(TString, ReserveMakesTheBlockPrivate)
{
  const TString a("abc");
  TString b(a);
  b.reserve(1);
  EXPECT_NE(blockOf(b), blockOf(a));
  EXPECT_EQ(capacityOf(b), 3);
  EXPECT_STREQ(b.text(), "abc");
  EXPECT_EQ(countOf(a), 1);

  const Tr::TStringRep* own = blockOf(b);
  b.reserve(3);
  EXPECT_EQ(blockOf(b), own);
  b.reserve(5);
  EXPECT_EQ(capacityOf(b), 5);
  EXPECT_STREQ(b.text(), "abc");
}

TEST(TString, ClearKeepsAPrivateBlockAndLeavesSharersAlone)
{
  TString s("abc");
  const Tr::TStringRep* own = blockOf(s);
  s.clear();
  EXPECT_EQ(blockOf(s), own);
  EXPECT_EQ(capacityOf(s), 3);
  EXPECT_STREQ(s.text(), "");

  const TString a("abc");
  TString b(a);
  b.clear();
  EXPECT_STREQ(a.text(), "abc");
  EXPECT_EQ(blockOf(b), blockOf(Tr::emptyStringRep));
}

TEST(TString, ConcatenationHasExactCapacity)
{
  const TString ab("ab");
  struct Case {
    TString a;
    const char* b;
    const char* expected;
  } cases[] = {{ab, nullptr, "ab"}, {ab, "", "ab"}, {ab, "cde", "abcde"}, {TString(), "", ""}};
  for (const Case& c : cases) {
    const TString sum = c.a + c.b;
    EXPECT_STREQ(sum.text(), c.expected);
    EXPECT_EQ(capacityOf(sum), static_cast<int>(std::string(c.expected).size()));
    EXPECT_EQ(countOf(sum), 1);
  }
  EXPECT_STREQ(ab.text(), "ab");
  EXPECT_STREQ((ab + ab).text(), "abab");
}

TEST(TString, CompareIgnoreCase)
{
  struct Case {
    const char* a;
    const char* b;
    int expected;
  } cases[] = {
      {"-DEVICE", "-device", 0},
      {"abc", "abcd", -1},
      {"abcd", "abc", 1},
      {"\xE9", "a", -1},
      {"a", "\xE9", 1},
      {"", "", 0},
      {"", "a", -1},
      {"ABC", "abd", -1},
      {"b", "A", 1},
      // Folding goes to upper case: '[' lies between 'Z' and 'a'.
      {"[", "a", 1},
      // Bytes above 0x7F are not folded and compare as signed.
      {"\xE9", "\xC9", 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Tr::compareIgnoreCase(c.a, c.b), c.expected) << c.a << " / " << c.b;
  }
  EXPECT_TRUE(TString("Mixer").equalsIgnoreCase(TString("mIXER")));
  EXPECT_FALSE(TString("Mixer").equalsIgnoreCase(TString("Mixe")));
}

TEST(TString, ParseInt)
{
  struct Case {
    const char* text;
    int start;
    bool ok;
    int value;
  } cases[] = {
      {"  -42", 0, true, -42},
      {"7\t9", 0, true, 7},
      {"", 0, false, 0},
      {"   ", 0, true, 0},
      {"4294967296", 0, true, 0},
      {"2147483648", 0, true, INT_MIN},
      {"-2147483648", 0, true, INT_MIN},
      {"ab 12", 3, true, 12},
      {"ab 12", 2, true, 12},
      {"ab 12", 5, false, 0},
      {"ab 12", 9, false, 0},
      {"ab 12", -1, false, 0},
      {"-", 0, true, 0},
      {"- 5", 0, true, 0},
      {"12 abc", 0, true, 12},
      {"12\n34", 0, true, 12},
      {"\x01\x1f"
       "5",
       0, true, 5},
      {"12abc", 0, false, 0},
      {"+5", 0, false, 0},
      {"--5", 0, false, 0},
      {"0x10", 0, false, 0},
      {"5\x7f", 0, false, 0},
      {"\xB5", 0, false, 0},
  };
  for (const Case& c : cases) {
    int result = 99;
    EXPECT_EQ(TString(c.text).parseInt(c.start, result), c.ok) << c.text << " @" << c.start;
    EXPECT_EQ(result, c.ok ? c.value : 99) << c.text << " @" << c.start;
  }
}

TEST(TString, ToIntGivesMinusOneWhenNothingParses)
{
  EXPECT_EQ(TString("17").toInt(), 17);
  EXPECT_EQ(TString(" -1").toInt(), -1);
  EXPECT_EQ(TString("x").toInt(), -1);
  EXPECT_EQ(TString().toInt(), -1);
}

TEST(TString, SplitWords)
{
  struct Case {
    const char* text;
    std::vector<std::string> words;
  } cases[] = {
      {" one \"two three\" four\"\"five \"\" ", {"one", "two three", "fourfive"}},
      {"", {}},
      {" \t\r\n ", {}},
      {"a\"b", {"ab"}},
      {"a\"b c\"d", {"ab cd"}},
      {"back\\slash \xB5x\x01y", {"back\\slash", "\xB5x", "y"}},
  };
  for (const Case& c : cases) {
    Tr::TStringList list;
    list.add(TString("left over"));
    const TString text(c.text);
    text.splitWords(list);
    std::vector<std::string> words;
    for (const Tr::TStringListEntry& entry : list.items) {
      words.emplace_back(entry.text.text());
      EXPECT_EQ(entry.value, 0);
    }
    EXPECT_EQ(words, c.words) << c.text;
    EXPECT_STREQ(text.text(), c.text);
  }
}

TEST(TString, SplitWordsReservesRoomAfterTheFirstWord)
{
  Tr::TStringList list;
  TString("one two").splitWords(list);
  ASSERT_EQ(list.items.size(), 2u);
  EXPECT_EQ(capacityOf(list.items[0].text), 3);
  EXPECT_EQ(capacityOf(list.items[1].text), 20);
  EXPECT_EQ(countOf(list.items[0].text), 1);
}

TEST(TString, SplitWordsOfAnEntryOfTheSameList)
{
  Tr::TStringList list;
  list.add(TString("a b"));
  list.items[0].text.splitWords(list);
  ASSERT_EQ(list.items.size(), 2u);
  EXPECT_STREQ(list.items[0].text.text(), "a");
  EXPECT_STREQ(list.items[1].text.text(), "b");
}

// A block beyond what a 32-bit heap can give is a real exhaustion: the string reports it
// as new does and stays as it was.
TEST(TString, HeapExhaustionThrowsBadAlloc)
{
  TString s("abc");
  const TString sharer(s);
  EXPECT_THROW(s.reserve(INT_MAX), std::bad_alloc);
  EXPECT_STREQ(s.text(), "abc");
  EXPECT_EQ(blockOf(s), blockOf(sharer));
  EXPECT_EQ(countOf(s), 2);

  EXPECT_THROW(TString("x", INT_MAX, INT_MAX), std::bad_alloc);
  EXPECT_EQ(Tr::TStringRep::create(INT_MAX, "x", 1), nullptr);
}

TEST(TString, ReleasedEmptyBlockGivesLaterStringsTheirOwn)
{
  const TString sharer;
  Tr::releaseEmptyStringRep();
  EXPECT_EQ(blockOf(Tr::emptyStringRep), nullptr);
  {
    const TString later;
    EXPECT_NE(blockOf(later), blockOf(sharer));
    EXPECT_EQ(countOf(later), 1);
    EXPECT_EQ(capacityOf(later), 0);
  }
  Tr::initEmptyStringRep();
  const Tr::TStringRep* made = blockOf(Tr::emptyStringRep);
  ASSERT_NE(made, nullptr);
  Tr::initEmptyStringRep();
  EXPECT_EQ(blockOf(Tr::emptyStringRep), made);
  EXPECT_STREQ(sharer.text(), "");
  EXPECT_EQ(blockOf(TString()), made);
}
