#include "TrStreams.h"

#include "trace_capture.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

using Tr::BFileOutputStream;
using Tr::BMemInputStream;
using Tr::BMemOutputStream;

TEST(BMemInputStream, ReadsForwardAndNeverPastTheEnd)
{
  const char bytes[] = "abcdefghij";
  struct Step {
    int count;
    int delivered;
    const char* text;
    int availableAfter;
  };
  const Step steps[] = {
      {0, 0, "", 10},     {-3, 0, "", 10}, {4, 4, "abcd", 6}, {1, 1, "e", 5},
      {9, 5, "fghij", 0}, {1, 0, "", 0},   {0, 0, "", 0},
  };
  BMemInputStream stream(bytes, 10);
  for (const Step& step : steps) {
    char got[16] = {};
    EXPECT_EQ(stream.read(got, step.count), step.delivered) << step.count;
    EXPECT_STREQ(got, step.text);
    EXPECT_EQ(stream.available(), step.availableAfter);
  }
  EXPECT_EQ(stream.getPosition(), 10);
}

TEST(BMemInputStream, ASizeBelowZeroHasNothingToRead)
{
  const char bytes[] = "ab";
  BMemInputStream stream(bytes, -5);
  char got[4] = {};
  EXPECT_EQ(stream.available(), 0);
  EXPECT_EQ(stream.read(got, 2), 0);
  EXPECT_EQ(stream.getPosition(), 0);
}

TEST(BMemInputStream, DeletesOnlyWhatItOwns)
{
  auto* owned = new unsigned char[3]{1, 2, 3};
  {
    BMemInputStream stream(owned, 3, true, "owned");
    EXPECT_STREQ(stream.getName().text(), "owned");
    unsigned char got[3];
    EXPECT_EQ(stream.read(got, 3), 3);
    EXPECT_EQ(got[2], 3);
  }
  const BMemInputStream none(nullptr, 0, true);
}

namespace {

std::string contentsOf(const BMemOutputStream& stream)
{
  const auto* data = reinterpret_cast<const char*>(stream.getData());
  return data == nullptr ? std::string()
                         : std::string(data, static_cast<size_t>(stream.getLength()));
}

} // namespace

TEST(BMemOutputStream, GrowsExactlyFirstThenByTheIncrementOrTheNeed)
{
  struct Step {
    int count;
    int capacityAfter;
    bool sameBuffer;
  };
  const Step steps[] = {
      {10, 10, false},   // first write: exactly what it needs
      {3, 26, false},    // 13 do not fit in 10: 10 + 16
      {13, 26, true},    // 26 fit
      {1, 42, false},    // 26 + 16
      {100, 127, false}, // the need is above 42 + 16
  };
  BMemOutputStream stream(16);
  std::string expected;
  char next = 'a';
  for (const Step& step : steps) {
    const std::string bytes(static_cast<size_t>(step.count), next++);
    const unsigned char* before = stream.getData();
    ASSERT_TRUE(stream.write(bytes.data(), step.count));
    expected += bytes;
    EXPECT_EQ(stream.getCapacity(), step.capacityAfter) << step.count;
    EXPECT_EQ(stream.getData() == before, step.sameBuffer) << step.count;
    EXPECT_EQ(contentsOf(stream), expected);
  }
}

// Deleted memory is unreadable in this program: bytes copied from a buffer after it was given
// up would fault, not just come out wrong.
TEST(BMemOutputStream, ItsOwnBytesCanBeWrittenIntoIt)
{
  struct Case {
    int reserve;
    int from;
    int count;
    const char* expected;
  };
  const Case cases[] = {
      {0, 0, 16, "abcdefghijklmnopabcdefghijklmnop"}, // grows from 16 to 32
      {0, 4, 8, "abcdefghijklmnopefghijkl"},          // grows by the increment
      {0, 15, 1, "abcdefghijklmnopp"},
      {64, 0, 16, "abcdefghijklmnopabcdefghijklmnop"}, // fits: no growth
  };
  for (const Case& c : cases) {
    BMemOutputStream stream(8);
    stream.reserve(c.reserve);
    ASSERT_TRUE(stream.write("abcdefghijklmnop", 16));
    ASSERT_TRUE(stream.write(stream.getData() + c.from, c.count));
    EXPECT_EQ(contentsOf(stream), c.expected) << c.from << " " << c.count;
  }
}

TEST(BMemOutputStream, WritingNothingAllocatesNothing)
{
  BMemOutputStream stream(16);
  EXPECT_TRUE(stream.write("x", 0));
  EXPECT_EQ(stream.getData(), nullptr);
  EXPECT_EQ(stream.getCapacity(), 0);
  EXPECT_EQ(stream.getLength(), 0);
}

TEST(BMemOutputStream, ReserveSizesTheBufferAheadOfTheWrites)
{
  BMemOutputStream stream(16);
  stream.reserve(0);
  stream.reserve(-4);
  EXPECT_EQ(stream.getData(), nullptr);
  stream.reserve(50);
  EXPECT_EQ(stream.getCapacity(), 50);
  const unsigned char* buffer = stream.getData();
  stream.reserve(20);
  ASSERT_TRUE(stream.write(std::string(50, 'q').data(), 50));
  EXPECT_EQ(stream.getData(), buffer);
  EXPECT_EQ(stream.getCapacity(), 50);
  stream.reserve(51);
  EXPECT_EQ(stream.getCapacity(), 66);
  EXPECT_EQ(contentsOf(stream), std::string(50, 'q'));
}

TEST(BMemOutputStream, BadCountsAreRefusedAndChangeNothing)
{
  BMemOutputStream stream(16);
  ASSERT_TRUE(stream.write("abc", 3));
  const unsigned char* buffer = stream.getData();
  EXPECT_FALSE(stream.write("abc", -1));
  EXPECT_FALSE(stream.write("abc", INT32_MAX)); // 3 + that would wrap
  EXPECT_EQ(stream.getData(), buffer);
  EXPECT_EQ(stream.getLength(), 3);
  EXPECT_EQ(stream.getCapacity(), 3);
  EXPECT_EQ(contentsOf(stream), "abc");
}

TEST(BMemOutputStream, AStepPastTheLargestCountGivesWayToTheNeed)
{
  BMemOutputStream stream(INT32_MAX);
  ASSERT_TRUE(stream.write("abc", 3));
  ASSERT_TRUE(stream.write("d", 1));
  EXPECT_EQ(stream.getCapacity(), 4);
  EXPECT_EQ(contentsOf(stream), "abcd");
}

// No 32-bit process has room for a block of about 2 GB in one piece.
TEST(BMemOutputStream, AFailedAllocationIsTracedAndLosesNothing)
{
  test::TraceCapture capture;
  BMemOutputStream stream(0x7FFFFFF0);
  ASSERT_TRUE(stream.write("abcdefghij", 10));
  EXPECT_FALSE(stream.write("k", 1)); // 10 + the increment
  stream.reserve(INT32_MAX);

  const std::vector<std::string> lines = capture.taken();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(": ERROR: Error allocating memory (2147483642 bytes)\n"),
            std::string::npos)
      << lines[0];
  EXPECT_NE(lines[1].find(": ERROR: Error allocating memory (2147483647 bytes)\n"),
            std::string::npos)
      << lines[1];
  EXPECT_EQ(stream.getCapacity(), 10);
  EXPECT_EQ(contentsOf(stream), "abcdefghij");
}

namespace {

std::string tempFile(const char* name)
{
  char folder[MAX_PATH];
  GetTempPathA(sizeof folder, folder);
  return std::string(folder) + name;
}

std::string readFile(const std::string& path)
{
  std::string contents;
  if (std::FILE* const file = std::fopen(path.c_str(), "rb")) {
    int c;
    while ((c = std::fgetc(file)) != EOF) {
      contents += static_cast<char>(c);
    }
    std::fclose(file);
  }
  return contents;
}

} // namespace

TEST(BFileOutputStream, WritesWholeItemsInBinaryAndClosesWhenItGoes)
{
  const std::string path = tempFile("tr_stream_test.bin");
  {
    BFileOutputStream stream(path.c_str());
    ASSERT_TRUE(stream.isOpen());
    EXPECT_EQ(std::string(stream.getName().text()), path);
    EXPECT_TRUE(stream.write("ab\ncd", 5));
    EXPECT_FALSE(stream.write("x", 0));
    EXPECT_FALSE(stream.write("x", -1));
    stream.reserve(100);
    EXPECT_TRUE(stream.write("\r\n", 2));
  }
  EXPECT_EQ(readFile(path), std::string("ab\ncd\r\n"));

  { // Opening again starts the file afresh.
    BFileOutputStream stream(path.c_str());
    EXPECT_TRUE(stream.write("z", 1));
  }
  EXPECT_EQ(readFile(path), "z");
  std::remove(path.c_str());
}

TEST(BFileOutputStream, WithoutAFileEveryWriteFails)
{
  BFileOutputStream stream(tempFile("no such folder\\file.bin").c_str());
  EXPECT_FALSE(stream.isOpen());
  EXPECT_FALSE(stream.write("abc", 3));
}
