// A long run of the real driver under Wine with every kind of request mixed: START, STOP,
// RESET, GET_VALUES, wrong lengths, reads of every size from a second handle, some of them
// cancelled, and a third handle that comes and goes (each close ends that handle's read, never
// the measurement). It shows that the timer DPC never hangs Wine, that every request is
// answered, and, through the soak image's report at unload, that every pool block was freed.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "ReportedErrors.h"
#include "TamsinDrv.h"
#include "driver_service.h"

namespace {

const char serviceName[] = "tamsin_driver";
const DWORD soakMilliseconds = 65000;
// No request may take this long: longer means something hangs.
const DWORD hangMilliseconds = 20000;
const NTSTATUS statusCancelled = NTSTATUS(0xC0000120);

ULONGLONG Now()
{
  return GetTickCount64();
}

// Ends the process when a thread stays inside one request for too long; a hang in the
// driver would otherwise block the test until CTest gives up on it.
class Watchdog {
public:
  struct Slot {
    std::atomic<ULONGLONG> since{0};
    std::atomic<const char*> what{nullptr};
  };

  Watchdog() : thread_([this] { run(); }) {}
  ~Watchdog()
  {
    done_ = true;
    thread_.join();
  }

  // Marks `slot` busy with `what` for the life of the object.
  class Busy {
  public:
    Busy(Slot& slot, const char* what) : slot_(slot)
    {
      slot_.what = what;
      slot_.since = Now();
    }
    ~Busy() { slot_.since = 0; }

  private:
    Slot& slot_;
  };

  Slot controller, reader, churn;

private:
  void run()
  {
    while (!done_) {
      Sleep(250);
      for (Slot* slot : {&controller, &reader, &churn}) {
        const ULONGLONG since = slot->since;
        if (since != 0 && Now() - since > hangMilliseconds) {
          std::fprintf(stderr, "soak: no answer to %s for %lu ms: the driver hangs\n",
                       slot->what.load(), hangMilliseconds);
          std::fflush(stderr);
          ExitProcess(3);
        }
      }
    }
  }

  std::atomic<bool> done_{false};
  std::thread thread_;
};

// Counts by name, from every thread.
class Tally {
public:
  void add(const std::string& what, uint64_t n = 1)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    counts_[what] += n;
  }
  uint64_t get(const std::string& what)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    return counts_[what];
  }
  // Everything counted that should never happen.
  std::vector<std::string> wrong()
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> names;
    for (auto& entry : counts_) {
      if (entry.first.find("(wrong)") != std::string::npos) {
        names.push_back(entry.first);
      }
    }
    return names;
  }
  void print()
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& entry : counts_) {
      std::printf("soak: %-28s %" PRIu64 "\n", entry.first.c_str(), entry.second);
    }
  }

private:
  std::mutex mutex_;
  std::map<std::string, uint64_t> counts_;
};

HANDLE OpenDevice()
{
  return CreateFileA(LATENCY_WIN32_DEVICE_NAME, GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_OVERLAPPED, nullptr);
}

struct Read {
  std::vector<uint8_t> buffer;
  OVERLAPPED overlapped = {};
  bool pending = false;
  Read() { overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
  ~Read() { CloseHandle(overlapped.hEvent); }
};

const DWORD readLengths[] = {4, 8, 40, 400, 400, 4000, 6};

// Issues a read; a read refused at once is counted and `pending` stays false.
void Issue(HANDLE device, Read& read, std::mt19937& random, Tally& tally)
{
  read.buffer.assign(readLengths[random() % (sizeof(readLengths) / sizeof(DWORD))], 0);
  ResetEvent(read.overlapped.hEvent);
  read.pending = false;
  if (ReadFile(device, read.buffer.data(), DWORD(read.buffer.size()), nullptr, &read.overlapped)) {
    tally.add("read done at once (wrong)");
    return;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_IO_PENDING) {
    read.pending = true;
  } else if (error == LATENCY_ERR_OVERFLOW) {
    tally.add("read overflow");
  } else {
    tally.add("read refused (wrong) " + std::to_string(error));
  }
}

// Checks a finished read and counts it.
void Finish(Read& read, Tally& tally)
{
  read.pending = false;
  const NTSTATUS status = NTSTATUS(read.overlapped.Internal);
  const size_t bytes = read.overlapped.InternalHigh;
  if (status == 0) {
    if (bytes != read.buffer.size()) {
      tally.add("read short (wrong)");
      return;
    }
    const auto* values = reinterpret_cast<const uint32_t*>(read.buffer.data());
    for (size_t i = 0; i < bytes / 4; i++) {
      if (values[i] == 0 || values[i] > 10000000) {
        tally.add("interval implausible (wrong)");
      }
    }
    tally.add("read complete");
    tally.add("intervals read", bytes / 4);
  } else if (status == statusCancelled) {
    tally.add("read cancelled");
  } else if (uint32_t(status) == LATENCY_ERR_OUTPUT_LENGTH && read.buffer.size() % 4 != 0) {
    tally.add("read bad length refused");
  } else {
    char text[64];
    std::snprintf(text, sizeof(text), "read status %08lX (wrong)",
                  static_cast<unsigned long>(status));
    tally.add(text);
  }
}

// Keeps two reads in flight on a handle of its own.
void ReaderLoop(ULONGLONG deadline, Watchdog& watchdog, Tally& tally)
{
  std::mt19937 random(2);
  HANDLE device = OpenDevice();
  if (device == INVALID_HANDLE_VALUE) {
    tally.add("reader cannot open (wrong)");
    return;
  }
  Read reads[2];
  while (Now() < deadline) {
    for (Read& read : reads) {
      if (!read.pending) {
        Watchdog::Busy busy(watchdog.reader, "a read being issued");
        Issue(device, read, random, tally);
      }
    }
    HANDLE events[2];
    DWORD count = 0;
    for (Read& read : reads) {
      if (read.pending) {
        events[count++] = read.overlapped.hEvent;
      }
    }
    if (count == 0) {
      Sleep(1);
      continue;
    }
    // A queued read waits for a START at most as long as the controller stays stopped.
    Watchdog::Busy busy(watchdog.reader, "a pending read");
    if (WaitForMultipleObjects(count, events, FALSE, 500) == WAIT_TIMEOUT && random() % 4 == 0) {
      // Most often the read being filled: a cancel must end it as promptly as a queued one.
      for (Read& read : reads) {
        if (read.pending && CancelIoEx(device, &read.overlapped)) {
          tally.add("cancel requested");
          Watchdog::Busy cancelling(watchdog.reader, "a cancelled read");
          WaitForSingleObject(read.overlapped.hEvent, INFINITE);
          break;
        }
      }
    }
    for (Read& read : reads) {
      if (read.pending && WaitForSingleObject(read.overlapped.hEvent, 0) == WAIT_OBJECT_0) {
        Finish(read, tally);
      }
    }
  }
  {
    Watchdog::Busy busy(watchdog.reader, "the reader's close");
    CloseHandle(device); // cancels what is left of this handle's reads
    for (Read& read : reads) {
      if (read.pending) {
        if (WaitForSingleObject(read.overlapped.hEvent, hangMilliseconds) != WAIT_OBJECT_0) {
          tally.add("read unanswered after close (wrong)");
        } else {
          Finish(read, tally);
        }
      }
    }
  }
}

// Now and then a short-lived handle: a request, a read, and a close that ends that read.
void ChurnLoop(ULONGLONG deadline, Watchdog& watchdog, Tally& tally)
{
  std::mt19937 random(3);
  while (Now() < deadline) {
    Sleep(2000 + random() % 3000);
    Watchdog::Busy busy(watchdog.churn, "a short-lived handle");
    HANDLE device = OpenDevice();
    if (device == INVALID_HANDLE_VALUE) {
      tally.add("churn cannot open (wrong)");
      continue;
    }
    LatencyValues values = {};
    DWORD returned = 0;
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!DeviceIoControl(device, IOCTL_LATENCY_GET_VALUES, &values, sizeof(values), &values,
                         sizeof(values), &returned, &overlapped)) {
      tally.add("churn request failed (wrong)");
    }
    CloseHandle(overlapped.hEvent);
    Read read;
    Issue(device, read, random, tally);
    Sleep(random() % 50);
    CloseHandle(device);
    tally.add("handle closed while reading");
    if (read.pending) {
      if (WaitForSingleObject(read.overlapped.hEvent, hangMilliseconds) != WAIT_OBJECT_0) {
        tally.add("read unanswered after close (wrong)");
      } else {
        Finish(read, tally);
      }
    }
  }
}

void ControllerLoop(ULONGLONG deadline, Watchdog& watchdog, Tally& tally)
{
  std::mt19937 random(1);
  TamsinDrv driver;
  {
    Watchdog::Busy busy(watchdog.controller, "open");
    if (driver.Open() != 0) {
      tally.add("controller cannot open (wrong)");
      return;
    }
  }
  const uint32_t periods[] = {500, 1000, 1000, 1000, 2000};
  uint32_t answeredPeriod = 0;
  ULONGLONG stoppedSince = Now();
  bool running = false;
  while (Now() < deadline) {
    Sleep(5 + random() % 150);
    unsigned choice = random() % 100;
    // A measurement stopped for a second starts again, so that queued reads move on.
    if (!running && Now() - stoppedSince > 1000) {
      choice = 0;
    }
    uint32_t result = 0;
    Watchdog::Busy busy(watchdog.controller, "a control request");
    if (choice < 15) {
      uint32_t period = periods[random() % 5], answer = 0;
      result = driver.Ioctl(IOCTL_LATENCY_START, &period, 4, &answer, 4);
      // The period is the timer resolution granted, which need not be the one asked for.
      if (result == 0 && answer == 0) {
        tally.add("start answered no period (wrong)");
      }
      answeredPeriod = answer;
      running = true;
      tally.add("start");
    } else if (choice < 23) {
      result = driver.Ioctl(IOCTL_LATENCY_STOP, nullptr, 0, nullptr, 0);
      running = false;
      stoppedSince = Now();
      tally.add("stop");
    } else if (choice < 30) {
      result = driver.Ioctl(IOCTL_LATENCY_RESET, nullptr, 0, nullptr, 0);
      tally.add("reset");
    } else if (choice < 35) {
      LatencyDriverInfo info = {};
      result = driver.Ioctl(IOCTL_LATENCY_GET_INFO, nullptr, 0, &info, sizeof(info));
      tally.add("info");
    } else if (choice < 42) {
      LatencyValues values = {};
      const uint32_t error =
          driver.Ioctl(IOCTL_LATENCY_GET_VALUES, &values, 16, &values, sizeof(values));
      if (error != LATENCY_ERR_INPUT_LENGTH) {
        tally.add("wrong length accepted (wrong)");
      }
      tally.add("wrong length");
    } else {
      LatencyValues values = {};
      values.resetAfterRead = random() % 2;
      const uint32_t sent = values.resetAfterRead;
      result =
          driver.Ioctl(IOCTL_LATENCY_GET_VALUES, &values, sizeof(values), &values, sizeof(values));
      if (values.resetAfterRead != sent ||
          (answeredPeriod != 0 && values.period != answeredPeriod) ||
          (values.minInterval != 0 && values.minInterval > values.maxInterval)) {
        tally.add("values implausible (wrong)");
      }
      if (values.maxInterval != 0 && values.period != 0) {
        tally.add("values measured");
      }
      tally.add("get values");
    }
    if (result != 0) {
      tally.add("control failed (wrong) " + std::to_string(result));
    }
  }
  Watchdog::Busy busy(watchdog.controller, "the last STOP");
  if (driver.Ioctl(IOCTL_LATENCY_STOP, nullptr, 0, nullptr, 0) != 0) {
    tally.add("control failed (wrong)");
  }
}

// Stops the service (the driver unloads) and reads what it reported at unload.
bool StopAndReadPoolReport(DWORD* blocks)
{
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE service = OpenServiceA(manager, serviceName, SERVICE_ALL_ACCESS);
  SERVICE_STATUS status = {};
  bool stopped = service != nullptr && ControlService(service, SERVICE_CONTROL_STOP, &status);
  for (int i = 0; stopped && status.dwCurrentState != SERVICE_STOPPED && i < 500; i++) {
    Sleep(20);
    QueryServiceStatus(service, &status);
  }
  stopped = stopped && status.dwCurrentState == SERVICE_STOPPED;
  if (service != nullptr) {
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  if (!stopped) {
    return false;
  }
  DWORD size = sizeof(*blocks);
  return RegGetValueA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\tamsin_driver",
                      "PoolBlocksAtUnload", RRF_RT_REG_DWORD, nullptr, blocks,
                      &size) == ERROR_SUCCESS;
}

TEST(Soak, AMinuteOfMixedRequestsHangsNothingAnswersEverythingAndFreesThePool)
{
  test::DriverService service(serviceName, test::x64DriverPath("tamsin_driver_poolcheck.sys"));
  ASSERT_TRUE(service.running()) << service.error();
  ReportedErrors errors;
  Tally tally;
  const ULONGLONG started = Now();
  const ULONGLONG deadline = started + soakMilliseconds;
  {
    Watchdog watchdog;
    std::thread reader(ReaderLoop, deadline, std::ref(watchdog), std::ref(tally));
    std::thread churn(ChurnLoop, deadline, std::ref(watchdog), std::ref(tally));
    ControllerLoop(deadline, watchdog, tally);
    reader.join();
    churn.join();
  }
  DWORD blocks = 0xFFFFFFFF;
  const bool reported = StopAndReadPoolReport(&blocks);
  std::printf("soak: %.1f s\n", double(Now() - started) / 1000);
  tally.print();
  std::fflush(stdout);

  EXPECT_TRUE(reported) << "the driver did not unload, or wrote no report";
  EXPECT_EQ(blocks, 0u) << "pool blocks left at unload";
  EXPECT_TRUE(errors.texts().empty()) << errors.texts().front();
  EXPECT_GT(tally.get("start"), 10u);
  EXPECT_GT(tally.get("stop"), 10u);
  EXPECT_GT(tally.get("values measured"), 10u);
  EXPECT_GT(tally.get("read complete"), 100u);
  EXPECT_GT(tally.get("read cancelled"), 5u);
  EXPECT_GT(tally.get("cancel requested"), 5u);
  EXPECT_GT(tally.get("handle closed while reading"), 5u);
  EXPECT_EQ(tally.wrong(), std::vector<std::string>());
}

} // namespace
