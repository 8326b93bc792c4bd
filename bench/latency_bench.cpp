// What the meter measures, with the real driver under Wine: every second the largest
// interval (GET_VALUES with reset, as the meter reads it) and the mean of every interval of
// that second (from the read stream). One line a second:
//   second <n> period <us> max <us> mean <us> intervals <count>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "ErrorReport.h"
#include "TamsinDrv.h"
#include "driver_service.h"

namespace {

struct Sums {
  std::mutex mutex;
  uint64_t sum = 0;
  uint64_t count = 0;
  uint64_t lost = 0;
};

void ToStderr(const char* text)
{
  std::fputs(text, stderr);
}

// Two reads in flight, so that no interval finds the stream without a buffer.
void ReadEverything(std::atomic<bool>& done, Sums& sums)
{
  HANDLE device = CreateFileA(LATENCY_WIN32_DEVICE_NAME, GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
  if (device == INVALID_HANDLE_VALUE) {
    return;
  }
  struct Read {
    uint32_t values[100];
    OVERLAPPED overlapped = {};
    bool pending = false;
  } reads[2];
  for (Read& r : reads) {
    r.overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  }
  while (!done) {
    for (Read& r : reads) {
      if (!r.pending) {
        ResetEvent(r.overlapped.hEvent);
        if (!ReadFile(device, r.values, sizeof(r.values), nullptr, &r.overlapped)) {
          if (GetLastError() == ERROR_IO_PENDING) {
            r.pending = true;
          } else {
            std::lock_guard<std::mutex> lock(sums.mutex);
            sums.lost++;
          }
        }
      }
    }
    HANDLE events[2] = {reads[0].overlapped.hEvent, reads[1].overlapped.hEvent};
    WaitForMultipleObjects(2, events, FALSE, 200);
    for (Read& r : reads) {
      if (r.pending && WaitForSingleObject(r.overlapped.hEvent, 0) == WAIT_OBJECT_0) {
        r.pending = false;
        if (r.overlapped.Internal == 0) {
          std::lock_guard<std::mutex> lock(sums.mutex);
          for (uint32_t v : r.values) {
            sums.sum += v;
          }
          sums.count += 100;
        }
      }
    }
  }
  CloseHandle(device); // cancels what is still pending
  for (Read& r : reads) {
    if (r.pending) {
      WaitForSingleObject(r.overlapped.hEvent, 5000);
    }
    CloseHandle(r.overlapped.hEvent);
  }
}

} // namespace

int main(int argc, char** argv)
{
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
  setErrorTextSink(ToStderr);
  test::DriverService service("tamsin_driver", test::x64DriverPath("tamsin_driver.sys"));
  if (!service.running()) {
    std::fprintf(stderr, "the driver does not run: %s\n", service.error().c_str());
    return 1;
  }
  TamsinDrv driver;
  if (driver.Open() != 0) {
    return 1;
  }
  uint32_t period = 1000, answer = 0;
  if (driver.Ioctl(IOCTL_LATENCY_START, &period, 4, &answer, 4) != 0) {
    return 1;
  }
  Sums sums;
  std::atomic<bool> done(false);
  std::thread reader(ReadEverything, std::ref(done), std::ref(sums));

  // The first second holds the warm-up; measuring starts after it.
  LatencyValues values = {};
  values.resetAfterRead = 1;
  Sleep(1000);
  driver.Ioctl(IOCTL_LATENCY_GET_VALUES, &values, sizeof(values), &values, sizeof(values));
  {
    std::lock_guard<std::mutex> lock(sums.mutex);
    sums.sum = sums.count = 0;
  }
  std::printf("measuring period %u\n", answer);
  std::fflush(stdout);
  const ULONGLONG start = GetTickCount64();
  for (int second = 1; second <= seconds; second++) {
    const LONGLONG wait = LONGLONG(start + ULONGLONG(second) * 1000) - LONGLONG(GetTickCount64());
    if (wait > 0) {
      Sleep(DWORD(wait));
    }
    values = {};
    values.resetAfterRead = 1;
    driver.Ioctl(IOCTL_LATENCY_GET_VALUES, &values, sizeof(values), &values, sizeof(values));
    uint64_t sum, count;
    {
      std::lock_guard<std::mutex> lock(sums.mutex);
      sum = sums.sum;
      count = sums.count;
      sums.sum = sums.count = 0;
    }
    std::printf("second %d period %u max %u mean %.1f intervals %llu\n", second, values.period,
                values.maxInterval, count ? double(sum) / double(count) : 0.0,
                static_cast<unsigned long long>(count));
    std::fflush(stdout);
  }
  driver.Ioctl(IOCTL_LATENCY_STOP, nullptr, 0, nullptr, 0);
  done = true;
  reader.join();
  std::printf("done lost-reads %llu\n", static_cast<unsigned long long>(sums.lost));
  return 0;
}
