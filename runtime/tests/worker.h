#pragma once

// Plain system threads for the tests, apart from the BThread under test.
#include <windows.h>

#include <cstdint>
#include <functional>

namespace test {

/** Runs body on a thread of its own. A worker that is still running when it goes is
    terminated, so that a test whose threads hang fails instead of hanging. The time limits
    only tell a hang from a busy machine, so they are generous. */
class Worker {
public:
  explicit Worker(std::function<void()> body) : work(std::move(body))
  {
    handle = CreateThread(nullptr, 0, &Worker::entry, this, 0, nullptr);
  }
  ~Worker()
  {
    if (handle != nullptr) {
      if (!join(guardMs)) {
        TerminateThread(handle, 1);
      }
      CloseHandle(handle);
    }
  }
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  bool started() const { return handle != nullptr; }
  static constexpr std::uint32_t guardMs = 30000;

  /** True when the thread has ended within timeoutMs. */
  bool join(std::uint32_t timeoutMs = guardMs)
  {
    return WaitForSingleObject(handle, timeoutMs) == WAIT_OBJECT_0;
  }

private:
  static DWORD WINAPI entry(void* self)
  {
    static_cast<Worker*>(self)->work();
    return 0;
  }

  std::function<void()> work;
  HANDLE handle;
};

/** Polls condition every millisecond until it holds or timeoutMs have passed. */
inline bool waitUntil(const std::function<bool()>& condition,
                      std::uint32_t timeoutMs = Worker::guardMs)
{
  const DWORD start = GetTickCount();
  while (!condition()) {
    if (GetTickCount() - start > timeoutMs) {
      return condition();
    }
    Sleep(1);
  }
  return true;
}

} // namespace test
