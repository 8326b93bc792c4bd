#include "TrClock.h"
#include "TrTrace.h"

#include "trace_capture.h"
#include "worker.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace {

std::string threadIdText(DWORD id)
{
  char text[16];
  std::snprintf(text, sizeof text, "%08lX", static_cast<unsigned long>(id));
  return text;
}

// What follows "<ms>-<id>: " in a line.
std::string bodyOf(const std::string& line)
{
  const size_t colon = line.find(": ");
  return colon == std::string::npos ? std::string() : line.substr(colon + 2);
}

std::string tempPath(const char* name)
{
  char folder[MAX_PATH];
  GetTempPathA(sizeof folder, folder);
  return std::string(folder) + name;
}

// Read as text, as the log is written.
std::string readAll(const std::string& path)
{
  std::string contents;
  if (std::FILE* const file = std::fopen(path.c_str(), "r")) {
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
      contents.append(chunk, n);
    }
    std::fclose(file);
  }
  return contents;
}

} // namespace

TEST(Trace, AnErrorLineCarriesTheClockTheThreadAndThePrefix)
{
  test::TraceCapture capture;
  const std::uint32_t before = Tr::getMilliseconds();
  Tr::trace(Tr::traceErrorLevel, "x");
  const std::uint32_t after = Tr::getMilliseconds();

  const std::vector<std::string> lines = capture.taken();
  ASSERT_EQ(lines.size(), 1u);
  std::smatch parts;
  ASSERT_TRUE(std::regex_match(lines[0], parts, std::regex("(\\d+)-([0-9A-F]{8}): ERROR: x\n")))
      << lines[0];
  const unsigned long ms = std::stoul(parts[1].str());
  EXPECT_GE(ms, before);
  EXPECT_LE(ms, after);
  EXPECT_EQ(parts[2].str(), threadIdText(GetCurrentThreadId()));
}

TEST(Trace, OnlyTheErrorLevelHasAPrefix)
{
  struct Case {
    int level;
    const char* body;
  };
  const Case cases[] = {
      {0, "a=5\n"}, {1, "a=5\n"}, {2, "ERROR: a=5\n"}, {3, "a=5\n"}, {-1, "a=5\n"}, {4, "a=5\n"},
  };
  for (const Case& c : cases) {
    test::TraceCapture capture;
    Tr::trace(c.level, "%s=%d", "a", 5);
    const std::vector<std::string> lines = capture.taken();
    ASSERT_EQ(lines.size(), 1u) << c.level;
    EXPECT_TRUE(std::regex_match(lines[0], std::regex("\\d+-[0-9A-F]{8}: .*\n"))) << lines[0];
    EXPECT_EQ(bodyOf(lines[0]), c.body) << c.level;
  }
}

namespace {

std::vector<std::string> events;

void recordError(const char* format, va_list arguments)
{
  char text[100];
  std::vsnprintf(text, sizeof text, format, arguments);
  events.push_back(std::string("error hook: ") + text);
}

void recordLine(const char* line)
{
  events.push_back(std::string("line: ") + bodyOf(line));
}

} // namespace

TEST(Trace, TheErrorHookComesFirstAndOnlyForErrors)
{
  test::TraceCapture capture;
  Tr::traceHook = &recordLine;
  Tr::traceErrorHook = &recordError;
  for (int level : {0, 1, 3}) {
    events.clear();
    Tr::trace(level, "%d-%s", 42, "z");
    EXPECT_EQ(events, std::vector<std::string>{"line: 42-z\n"}) << level;
  }
  // The hook formats its own copy of the arguments; the line is formatted from the full list
  // afterwards.
  events.clear();
  Tr::trace(Tr::traceErrorLevel, "%d-%s", 42, "z");
  EXPECT_EQ(events, (std::vector<std::string>{"error hook: 42-z", "line: ERROR: 42-z\n"}));
}

TEST(Trace, AFinishedMessageIsTakenAsItStands)
{
  test::TraceCapture capture;
  Tr::traceWrite(1, "100% %s %d");
  Tr::traceWrite(2, nullptr);
  const std::vector<std::string> lines = capture.taken();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(bodyOf(lines[0]), "100% %s %d\n");
  EXPECT_EQ(bodyOf(lines[1]), "ERROR: \n");
}

TEST(Trace, ALongMessageIsCutAndTheLineKeepsItsNewline)
{
  const int lineLimit = Tr::traceLineBufferSize - 1;
  for (int size : {0, 1, 1970, 1980, 1990, 1998, 1999, 2000, 5000}) {
    const std::string message(static_cast<size_t>(size), 'a');
    for (bool formatted : {true, false}) {
      test::TraceCapture capture;
      if (formatted) {
        Tr::trace(0, "%s", message.c_str());
      } else {
        Tr::traceWrite(0, message.c_str());
      }
      const std::vector<std::string> lines = capture.taken();
      ASSERT_EQ(lines.size(), 1u);
      const std::string& line = lines[0];
      const size_t stampLength = line.find(": ") + 2;
      const size_t kept = std::min(message.size(), lineLimit - 1 - stampLength);
      EXPECT_LE(line.size(), static_cast<size_t>(lineLimit)) << size;
      EXPECT_EQ(line.substr(stampLength), message.substr(0, kept) + "\n") << size;
    }
  }
}

TEST(Trace, ALogFileGetsEachLineAtOnceBesideTheHook)
{
  const std::string path = tempPath("tr_trace_test.log");
  std::FILE* const log = std::fopen(path.c_str(), "w");
  ASSERT_NE(log, nullptr);
  {
    test::TraceCapture capture;
    Tr::traceLogFile = log;
    Tr::trace(1, "one");
    Tr::trace(Tr::traceErrorLevel, "two %d", 2);
    const std::vector<std::string> lines = capture.taken();
    ASSERT_EQ(lines.size(), 2u);
    // Read through a second stream while the log is still open: each line was flushed.
    EXPECT_EQ(readAll(path), lines[0] + lines[1]);
  }
  std::fclose(log);
  std::remove(path.c_str());
}

TEST(Trace, LinesFromSeveralThreadsStayWholeInTheLogFile)
{
  const std::string path = tempPath("tr_trace_threads.log");
  std::FILE* const log = std::fopen(path.c_str(), "w");
  ASSERT_NE(log, nullptr);
  constexpr int threadCount = 4;
  constexpr int linesEach = 200;
  std::vector<std::string> ids(threadCount);
  {
    test::TraceCapture capture;
    Tr::traceLogFile = log;
    std::vector<std::unique_ptr<test::Worker>> workers;
    for (int t = 0; t < threadCount; t++) {
      workers.push_back(std::make_unique<test::Worker>([t, &ids] {
        ids[static_cast<size_t>(t)] = threadIdText(GetCurrentThreadId());
        for (int i = 0; i < linesEach; i++) {
          Tr::trace(1, "thread %d line %d", t, i);
        }
      }));
    }
    for (auto& worker : workers) {
      ASSERT_TRUE(worker->join());
    }
  }
  std::fclose(log);

  const std::string contents = readAll(path);
  std::remove(path.c_str());
  const std::regex form("\\d+-([0-9A-F]{8}): thread (\\d) line (\\d+)");
  std::vector<int> next(threadCount, 0);
  size_t start = 0;
  int count = 0;
  for (size_t end; (end = contents.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = contents.substr(start, end - start);
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(line, parts, form)) << line;
    const int t = std::stoi(parts[2].str());
    EXPECT_EQ(parts[1].str(), ids[static_cast<size_t>(t)]);
    EXPECT_EQ(std::stoi(parts[3].str()), next[static_cast<size_t>(t)]++);
    count++;
  }
  EXPECT_EQ(start, contents.size());
  EXPECT_EQ(count, threadCount * linesEach);
}
