#pragma once

// Collects the trace's lines through its hook for the length of a test.
#include "TrTrace.h"

#include <mutex>
#include <string>
#include <vector>

namespace test {

class TraceCapture {
public:
  TraceCapture()
  {
    lines().clear();
    Tr::traceHook = &collect;
  }
  ~TraceCapture()
  {
    Tr::traceHook = nullptr;
    Tr::traceErrorHook = nullptr;
    Tr::traceLogFile = nullptr;
  }
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;

  std::vector<std::string> taken()
  {
    const std::lock_guard<std::mutex> guard(mutex());
    return lines();
  }

private:
  static void collect(const char* line)
  {
    const std::lock_guard<std::mutex> guard(mutex());
    lines().push_back(line);
  }
  static std::vector<std::string>& lines()
  {
    static std::vector<std::string> all;
    return all;
  }
  static std::mutex& mutex()
  {
    static std::mutex m;
    return m;
  }
};

} // namespace test
