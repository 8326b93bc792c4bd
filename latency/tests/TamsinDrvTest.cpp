// TamsinDrv through Wine's I/O manager to the real driver, each image in turn, and the
// driver's answers on the way back: the protocol as the meter and a reader see it.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "ReportedErrors.h"
#include "TamsinDrv.h"
#include "driver_host.h"
#include "driver_service.h"

namespace {

const char serviceName[] = "tamsin_driver";
const DWORD answerWait = 5000;
// Bounds that only guard against a hang.
const DWORD measureWait = 20000;
const DWORD processWait = 20000;
const NTSTATUS statusSuccess = 0;
const NTSTATUS statusCancelled = NTSTATUS(0xC0000120);
const NTSTATUS statusPending = NTSTATUS(0x00000103);

// A handle of its own on the device, for reads and writes.
class RawHandle {
public:
  RawHandle()
      : handle_(CreateFileA(LATENCY_WIN32_DEVICE_NAME, GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr))
  {
  }
  ~RawHandle() { close(); }
  RawHandle(const RawHandle&) = delete;
  RawHandle& operator=(const RawHandle&) = delete;

  HANDLE get() const { return handle_; }
  bool open() const { return handle_ != INVALID_HANDLE_VALUE; }
  void close()
  {
    if (open()) {
      CloseHandle(handle_);
      handle_ = INVALID_HANDLE_VALUE;
    }
  }

private:
  HANDLE handle_;
};

// One read request in flight, with its own buffer and event.
class PendingRead {
public:
  explicit PendingRead(DWORD length) : buffer_(length), overlapped_()
  {
    overlapped_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  }
  ~PendingRead() { CloseHandle(overlapped_.hEvent); }

  // Issues the read; true when it is pending. A read that fails at once leaves its error.
  bool issue(HANDLE device)
  {
    ResetEvent(overlapped_.hEvent);
    if (ReadFile(device, buffer_.data(), DWORD(buffer_.size()), nullptr, &overlapped_)) {
      error_ = 0;
      return false;
    }
    error_ = GetLastError();
    return error_ == ERROR_IO_PENDING;
  }

  // Issues reads until one stays pending: intervals that arrive while no read waits are lost,
  // and the next read fails once with the overflow error for it. On a busy machine the next
  // interval can come before the next attempt again and again, so only a hang ends the tries.
  void issuePending(HANDLE device)
  {
    const ULONGLONG deadline = GetTickCount64() + measureWait;
    for (int attempt = 0; GetTickCount64() < deadline; attempt++) {
      if (issue(device)) {
        return;
      }
      ASSERT_EQ(error_, LATENCY_ERR_OVERFLOW) << "attempt " << attempt;
    }
    FAIL() << "no read stayed pending";
  }

  bool finished(DWORD wait = answerWait) const
  {
    return WaitForSingleObject(overlapped_.hEvent, wait) == WAIT_OBJECT_0;
  }
  bool cancel(HANDLE device) { return CancelIoEx(device, &overlapped_) != FALSE; }
  // The Win32 error of the finished request, as GetOverlappedResult reports it (0: success).
  DWORD result(HANDLE device)
  {
    DWORD bytes = 0;
    return GetOverlappedResult(device, &overlapped_, &bytes, FALSE) ? 0 : GetLastError();
  }
  // The request's NT status, as the I/O manager left it in the OVERLAPPED record.
  NTSTATUS status() const { return NTSTATUS(overlapped_.Internal); }
  ULONG_PTR transferred() const { return overlapped_.InternalHigh; }
  DWORD error() const { return error_; }
  std::vector<uint32_t> intervals() const
  {
    std::vector<uint32_t> values(transferred() / sizeof(uint32_t));
    std::memcpy(values.data(), buffer_.data(), values.size() * sizeof(uint32_t));
    return values;
  }

private:
  std::vector<uint8_t> buffer_;
  OVERLAPPED overlapped_;
  DWORD error_ = 0;
};

// The other process of these tests (tamsin_device_child.exe, beside this program).
class ChildProcess {
public:
  explicit ChildProcess(const std::string& arguments)
  {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    folder.erase(folder.find_last_of('\\') + 1);
    std::string command = "\"" + folder + "tamsin_device_child.exe\" " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process)) {
      CloseHandle(process.hThread);
      process_ = process.hProcess;
    }
  }
  ~ChildProcess()
  {
    if (process_ != nullptr) {
      if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
        TerminateProcess(process_, 99);
      }
      CloseHandle(process_);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  HANDLE get() const { return process_; }
  bool started() const { return process_ != nullptr; }
  // The exit code, or STILL_ACTIVE when the process has not ended within `wait`.
  DWORD exitCode(DWORD wait)
  {
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(process_, wait) == WAIT_OBJECT_0) {
      GetExitCodeProcess(process_, &code);
    }
    return code;
  }

private:
  HANDLE process_ = nullptr;
};

// A named manual-reset event of this test run.
class NamedEvent {
public:
  explicit NamedEvent(const char* role)
      : name_(std::string("tamsin_client_tests_") + role + "_" +
              std::to_string(GetCurrentProcessId())),
        event_(CreateEventA(nullptr, TRUE, FALSE, name_.c_str()))
  {
  }
  ~NamedEvent() { CloseHandle(event_); }
  NamedEvent(const NamedEvent&) = delete;
  NamedEvent& operator=(const NamedEvent&) = delete;

  HANDLE get() const { return event_; }
  const std::string& name() const { return name_; }

private:
  std::string name_;
  HANDLE event_;
};

TEST(TamsinDrvWithoutDevice, RequestsBeforeOpenFailWithNotOpenAndShowNothing)
{
  ReportedErrors errors;
  TamsinDrv driver;
  EXPECT_EQ(driver.Ioctl(IOCTL_LATENCY_STOP, nullptr, 0, nullptr, 0), LATENCY_ERR_NOT_OPEN);
  driver.Close();
  EXPECT_EQ(driver.Ioctl(IOCTL_LATENCY_RESET, nullptr, 0, nullptr, 0), LATENCY_ERR_NOT_OPEN);
  EXPECT_TRUE(errors.texts().empty());
  EXPECT_EQ(errors.closesPosted(), 0);
}

TEST(TamsinDrvWithoutDevice, OpeningAMissingDeviceReportsCreateFileAndClosesTheFrame)
{
  test::DriverService::removeLeftover(serviceName);
  ReportedErrors errors;
  TamsinDrv driver;
  EXPECT_EQ(driver.Open(), uint32_t(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(errors.texts(), std::vector<std::string>({"CreateFile failed, err=0x00000002\n"}));
  EXPECT_EQ(errors.closesPosted(), 1);
  EXPECT_EQ(driver.Ioctl(IOCTL_LATENCY_STOP, nullptr, 0, nullptr, 0), LATENCY_ERR_NOT_OPEN);
}

// Runs `command` with its standard output and error into one pipe; the output, and the exit
// code (STILL_ACTIVE when the program had to be ended after `processWait`).
DWORD RunAndRead(std::string command, std::string* output)
{
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 1 << 16)) {
    *output = "CreatePipe failed: " + std::to_string(GetLastError());
    return STILL_ACTIVE;
  }
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  PROCESS_INFORMATION process = {};
  const bool started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &process);
  const DWORD startError = GetLastError();
  CloseHandle(writeEnd);
  if (!started) {
    CloseHandle(readEnd);
    *output = "CreateProcess failed: " + std::to_string(startError);
    return STILL_ACTIVE;
  }
  CloseHandle(process.hThread);
  DWORD code = STILL_ACTIVE;
  if (WaitForSingleObject(process.hProcess, processWait) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process.hProcess, &code);
  } else {
    TerminateProcess(process.hProcess, 99);
  }
  CloseHandle(process.hProcess);
  output->clear();
  char chunk[512];
  DWORD got = 0;
  while (ReadFile(readEnd, chunk, sizeof(chunk), &got, nullptr) && got != 0) {
    for (DWORD i = 0; i < got; i++) {
      if (chunk[i] != '\r') {
        output->push_back(chunk[i]);
      }
    }
  }
  CloseHandle(readEnd);
  return code;
}

// Wine keeps the descriptor that the driver sets on its device object, but a handle opened by
// the device's name is one to a file object of the device, which shows an empty descriptor of
// its own. So each image is loaded into a driver host of the tests' own, which reads the
// device object's descriptor through a handle to that object. The service must not run
// meanwhile: the device name is global.
TEST(TamsinDriverImages, EachImageAdmitsTheSystemAndTheAdministratorsOnlyToItsDevice)
{
  test::DriverService::removeLeftover(serviceName);
  struct Case {
    const char* what;
    const char* host;
    const char* image;
  };
  const Case cases[] = {
      {"x86", TAMSIN_DRIVER_HOST_X86, TAMSIN_DRIVER_IMAGE_X86},
      {"x64", TAMSIN_DRIVER_HOST_X64, TAMSIN_DRIVER_IMAGE_X64},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string output;
    const DWORD code = RunAndRead(std::string("\"") + c.host + "\" \"" + c.image + "\"", &output);
    EXPECT_EQ(code, 0u) << output;
    EXPECT_EQ(output, "entry 0x00000000\n"
                      "device \\Device\\tamsin_static_device\n"
                      "dacl D:P(A;;GA;;;SY)(A;;GA;;;BA)\n"
                      "unloaded\n");
    // The unload took the device's name with it (Wine keeps a name that no one removes).
    HANDLE device = CreateFileA(LATENCY_WIN32_DEVICE_NAME, 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    const DWORD error = GetLastError();
    EXPECT_EQ(device, INVALID_HANDLE_VALUE);
    if (device != INVALID_HANDLE_VALUE) {
      CloseHandle(device);
    }
    EXPECT_EQ(error, DWORD(ERROR_FILE_NOT_FOUND));
  }
}

// An image of the driver, and where Wine finds the host for it: the winedevice.exe of the
// image's architecture, which it picks from the machine type in the image's header.
struct DriverImage {
  const char* name;
  std::string (*path)(const char* fileName);
  UINT(WINAPI* hostFolder)(LPSTR folder, UINT size);
};

// For GoogleTest's account of a failed test.
void PrintTo(const DriverImage* image, std::ostream* out)
{
  *out << image->name << " image";
}

const DriverImage x86Image = {"x86", test::x86DriverPath, GetSystemWow64DirectoryA};
const DriverImage x64Image = {"x64", test::x64DriverPath, GetSystemDirectoryA};

// Every test against each image. The service is installed when a test wants another image
// than the one running, and removed after the last test of an image.
class TamsinDrvTest : public ::testing::TestWithParam<const DriverImage*> {
protected:
  static void TearDownTestSuite()
  {
    service_.reset();
    installed_ = nullptr;
  }

  void SetUp() override
  {
    if (installed_ != GetParam()) {
      service_.reset();
      installed_ = GetParam();
      service_ =
          std::make_unique<test::DriverService>(serviceName, GetParam()->path("tamsin_driver.sys"));
    }
    ASSERT_TRUE(service_->running()) << service_->error();
    ASSERT_EQ(driver_.Open(), 0u);
  }

  void TearDown() override
  {
    driver_.Close();
    EXPECT_TRUE(errors_.texts().empty()) << errors_.texts().front();
  }

  uint32_t Start(uint32_t period)
  {
    uint32_t answer = 0;
    EXPECT_EQ(driver_.Ioctl(IOCTL_LATENCY_START, &period, sizeof(period), &answer, sizeof(answer)),
              0u);
    return answer;
  }

  LatencyValues Values(uint32_t resetAfterRead)
  {
    LatencyValues values = {};
    values.resetAfterRead = resetAfterRead;
    EXPECT_EQ(
        driver_.Ioctl(IOCTL_LATENCY_GET_VALUES, &values, sizeof(values), &values, sizeof(values)),
        0u);
    return values;
  }

  // True once an interval has been recorded after the call began: the timer runs, and a read
  // queued before the call has been taken up to be filled. Resets the statistics.
  bool IntervalArrives()
  {
    Values(1);
    const ULONGLONG deadline = GetTickCount64() + measureWait;
    while (GetTickCount64() < deadline) {
      if (Values(1).maxInterval != 0) {
        return true;
      }
      Sleep(20);
    }
    return false;
  }

  static std::unique_ptr<test::DriverService> service_;
  static const DriverImage* installed_;
  ReportedErrors errors_;
  TamsinDrv driver_;
};

std::unique_ptr<test::DriverService> TamsinDrvTest::service_;
const DriverImage* TamsinDrvTest::installed_ = nullptr;

std::string ImageName(const testing::TestParamInfo<const DriverImage*>& info)
{
  return info.param->name;
}

// One instantiation per image, so that all tests of one image run before those of the other
// and each image is installed once.
INSTANTIATE_TEST_SUITE_P(X86, TamsinDrvTest, testing::Values(&x86Image), ImageName);
INSTANTIATE_TEST_SUITE_P(X64, TamsinDrvTest, testing::Values(&x64Image), ImageName);

std::string LowerCase(std::string text)
{
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return char(std::tolower(c)); });
  return text;
}

// The other tests cannot tell the images apart by their answers: an x64 image installed in
// place of the x86 one would pass them all. A host of the previous image may still be ending.
TEST_P(TamsinDrvTest, TheImageRunsInTheHostOfItsArchitecture)
{
  char folder[MAX_PATH] = "";
  ASSERT_NE(GetParam()->hostFolder(folder, MAX_PATH), 0u) << GetLastError();
  const std::vector<std::string> expected = {LowerCase(std::string(folder) + "\\winedevice.exe")};
  std::vector<std::string> hosts = test::driverHostPrograms("tamsin_driver.sys");
  const ULONGLONG deadline = GetTickCount64() + measureWait;
  while (hosts != expected && GetTickCount64() < deadline) {
    Sleep(20);
    hosts = test::driverHostPrograms("tamsin_driver.sys");
  }
  EXPECT_EQ(hosts, expected);
}

TEST_P(TamsinDrvTest, StartAnswersAPeriodAndASecondLaterTheValuesArePlausible)
{
  const uint32_t period = Start(1000);
  EXPECT_GE(period, 100u);
  EXPECT_LE(period, 1000u);
  Sleep(1100);
  LatencyValues v = Values(1);
  EXPECT_EQ(v.period, period);
  EXPECT_EQ(v.resetAfterRead, 1u);
  EXPECT_GT(v.minInterval, 0u);
  EXPECT_LE(v.minInterval, v.avgInterval);
  EXPECT_LE(v.avgInterval, v.maxInterval);
  EXPECT_GE(v.avgInterval, period / 2);
  EXPECT_LE(v.avgInterval, period * 10);
  Sleep(300);
  v = Values(0);
  EXPECT_EQ(v.resetAfterRead, 0u);
  EXPECT_GT(v.minInterval, 0u) << "still measuring after the reset";
  EXPECT_EQ(driver_.Ioctl(IOCTL_LATENCY_STOP, nullptr, 0, nullptr, 0), 0u);
}

TEST_P(TamsinDrvTest, TheInformationRequestAnswersOneOneOneOneZeroZero)
{
  LatencyDriverInfo info = {};
  EXPECT_EQ(driver_.Ioctl(IOCTL_LATENCY_GET_INFO, nullptr, 0, &info, sizeof(info)), 0u);
  const uint32_t expected[6] = {1, 1, 1, 1, 0, 0};
  EXPECT_EQ(std::memcmp(info.values, expected, sizeof(expected)), 0);
}

// The driver completes these at once, so the client hands the codes back without a message.
// The input length is checked before the output length; GET_INFO, STOP and RESET do not look
// at what they do not use.
TEST_P(TamsinDrvTest, EachRequestTakesOnlyItsLengthsAndUnknownFunctionsFailWithoutAMessage)
{
  struct Case {
    uint32_t code;
    uint32_t in;
    uint32_t out;
    uint32_t error;
  };
  const Case cases[] = {
      {IOCTL_LATENCY_GET_VALUES, 16, 20, LATENCY_ERR_INPUT_LENGTH},
      {IOCTL_LATENCY_GET_VALUES, 16, 24, LATENCY_ERR_INPUT_LENGTH},
      {IOCTL_LATENCY_GET_VALUES, 24, 24, LATENCY_ERR_INPUT_LENGTH},
      {IOCTL_LATENCY_GET_VALUES, 0, 0, LATENCY_ERR_INPUT_LENGTH},
      {IOCTL_LATENCY_GET_VALUES, 20, 24, LATENCY_ERR_OUTPUT_LENGTH},
      {IOCTL_LATENCY_GET_VALUES, 20, 16, LATENCY_ERR_OUTPUT_LENGTH},
      {IOCTL_LATENCY_GET_VALUES, 20, 0, LATENCY_ERR_OUTPUT_LENGTH},
      {IOCTL_LATENCY_GET_VALUES, 20, 20, 0},
      {IOCTL_LATENCY_START, 0, 4, LATENCY_ERR_INPUT_LENGTH},
      {IOCTL_LATENCY_START, 3, 4, LATENCY_ERR_INPUT_LENGTH},
      {IOCTL_LATENCY_START, 8, 4, LATENCY_ERR_INPUT_LENGTH},
      {IOCTL_LATENCY_START, 3, 0, LATENCY_ERR_INPUT_LENGTH},
      {IOCTL_LATENCY_START, 4, 0, LATENCY_ERR_OUTPUT_LENGTH},
      {IOCTL_LATENCY_START, 4, 8, LATENCY_ERR_OUTPUT_LENGTH},
      {IOCTL_LATENCY_GET_INFO, 0, 20, LATENCY_ERR_OUTPUT_LENGTH},
      {IOCTL_LATENCY_GET_INFO, 0, 28, LATENCY_ERR_OUTPUT_LENGTH},
      {IOCTL_LATENCY_GET_INFO, 24, 0, LATENCY_ERR_OUTPUT_LENGTH},
      {IOCTL_LATENCY_GET_INFO, 32, 24, 0},
      {IOCTL_LATENCY_STOP, 32, 32, 0},
      {IOCTL_LATENCY_RESET, 32, 32, 0},
      {LatencyControlCode(0x800), 0, 0, ERROR_INVALID_FUNCTION},
      {LatencyControlCode(0x806), 0, 0, ERROR_INVALID_FUNCTION},
      {LatencyControlCode(0x804) | 3 /* METHOD_NEITHER */, 20, 20, ERROR_INVALID_FUNCTION},
  };
  uint8_t in[32] = {}, out[32] = {};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << std::hex << c.code << std::dec << " " << c.in << "/" << c.out);
    EXPECT_EQ(driver_.Ioctl(c.code, in, c.in, c.out ? out : nullptr, c.out), c.error);
  }
  EXPECT_EQ(errors_.closesPosted(), 0);
}

TEST_P(TamsinDrvTest, AStartWithoutAnOutputBufferFailsAndStartsNothing)
{
  EXPECT_EQ(driver_.Ioctl(IOCTL_LATENCY_STOP, nullptr, 0, nullptr, 0), 0u);
  EXPECT_EQ(driver_.Ioctl(IOCTL_LATENCY_RESET, nullptr, 0, nullptr, 0), 0u);
  uint32_t period = 1000;
  EXPECT_EQ(driver_.Ioctl(IOCTL_LATENCY_START, &period, sizeof(period), nullptr, 0),
            LATENCY_ERR_OUTPUT_LENGTH);
  Sleep(400);
  LatencyValues v = Values(0);
  EXPECT_EQ(v.minInterval, 0u);
  EXPECT_EQ(v.maxInterval, 0u);
}

TEST_P(TamsinDrvTest, WritesAreNotSupported)
{
  RawHandle device;
  ASSERT_TRUE(device.open()) << GetLastError();
  OVERLAPPED overlapped = {};
  uint32_t word = 0;
  EXPECT_FALSE(WriteFile(device.get(), &word, sizeof(word), nullptr, &overlapped));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_SUPPORTED));
}

TEST_P(TamsinDrvTest, ReadsDeliverIntervalsAndRefuseBuffersOfAnOddLength)
{
  RawHandle device;
  ASSERT_TRUE(device.open()) << GetLastError();
  const uint32_t period = Start(1000);
  Sleep(300); // past the warm-up, with nothing reading: intervals are being lost

  PendingRead read(400);
  EXPECT_FALSE(read.issue(device.get()));
  EXPECT_EQ(read.error(), LATENCY_ERR_OVERFLOW);
  read.issuePending(device.get());
  ASSERT_TRUE(read.finished());
  EXPECT_EQ(read.status(), statusSuccess);
  ASSERT_EQ(read.transferred(), 400u);
  for (uint32_t interval : read.intervals()) {
    EXPECT_GT(interval, period / 2);
    EXPECT_LT(interval, 1000000u);
  }

  PendingRead odd(6);
  odd.issuePending(device.get());
  ASSERT_TRUE(odd.finished());
  EXPECT_EQ(uint32_t(odd.status()), LATENCY_ERR_OUTPUT_LENGTH);
}

// Each length that is not a whole number of intervals is refused when the next interval comes,
// with nothing written, and the read queued behind it is filled as usual.
TEST_P(TamsinDrvTest, ReadsOfOddLengthsWhileMeasuringFailAndTheStreamGoesOn)
{
  RawHandle device;
  ASSERT_TRUE(device.open()) << GetLastError();
  Start(1000);
  ASSERT_TRUE(IntervalArrives());
  for (DWORD length : {1u, 2u, 3u, 5u, 6u, 7u, 402u, 4001u}) {
    SCOPED_TRACE(length);
    PendingRead odd(length), next(8);
    ASSERT_NO_FATAL_FAILURE(odd.issuePending(device.get()));
    // The refusal costs the stream the interval that found no read behind it.
    ASSERT_NO_FATAL_FAILURE(next.issuePending(device.get()));
    ASSERT_TRUE(odd.finished(measureWait));
    EXPECT_EQ(uint32_t(odd.status()), LATENCY_ERR_OUTPUT_LENGTH);
    EXPECT_EQ(odd.transferred(), 0u);
    ASSERT_TRUE(next.finished(measureWait));
    EXPECT_EQ(next.status(), statusSuccess);
    EXPECT_EQ(next.transferred(), 8u);
  }
  EXPECT_EQ(driver_.Ioctl(IOCTL_LATENCY_STOP, nullptr, 0, nullptr, 0), 0u);
}

// What should never happen in a run of many threads, from whichever thread saw it; each
// kind once, in the order first seen.
class Faults {
public:
  void add(const std::string& what)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (std::find(faults_.begin(), faults_.end(), what) == faults_.end()) {
      faults_.push_back(what);
    }
  }
  std::vector<std::string> get()
  {
    std::lock_guard<std::mutex> lock(mutex_);
    return faults_;
  }

private:
  std::mutex mutex_;
  std::vector<std::string> faults_;
};

// Ends the program when the run has not ended within the bound: a request that the driver
// never answers would otherwise hold the test until CTest gives up on it.
class HangGuard {
public:
  explicit HangGuard(DWORD bound)
      : done_(CreateEventA(nullptr, TRUE, FALSE, nullptr)), thread_([this, bound] {
          if (WaitForSingleObject(done_, bound) != WAIT_OBJECT_0) {
            std::fprintf(stderr, "the concurrent run did not end: a request is never answered\n");
            std::fflush(stderr);
            ExitProcess(3);
          }
        })
  {
  }
  ~HangGuard()
  {
    SetEvent(done_);
    thread_.join();
    CloseHandle(done_);
  }
  HangGuard(const HangGuard&) = delete;
  HangGuard& operator=(const HangGuard&) = delete;

private:
  HANDLE done_;
  std::thread thread_;
};

const DWORD mixedReadLengths[] = {4, 8, 6, 40, 400};

// A finished read: filled to its length (true), cancelled, or refused for an odd length.
bool CheckFinishedRead(PendingRead& read, DWORD length, const char* who, Faults& faults)
{
  const NTSTATUS status = read.status();
  if (status == statusSuccess && read.transferred() == length && length % 4 == 0) {
    for (uint32_t interval : read.intervals()) {
      if (interval == 0 || interval > 10000000) {
        faults.add(std::string(who) + ": implausible interval " + std::to_string(interval));
      }
    }
    return true;
  }
  if ((status == statusCancelled && read.transferred() == 0) ||
      (uint32_t(status) == LATENCY_ERR_OUTPUT_LENGTH && length % 4 != 0)) {
    return false;
  }
  char text[96];
  std::snprintf(text, sizeof(text), "%s: read of %lu ended with %08lX after %lu bytes", who,
                static_cast<unsigned long>(length), static_cast<unsigned long>(status),
                static_cast<unsigned long>(read.transferred()));
  faults.add(text);
  return false;
}

// What the threads of a concurrent run share.
struct ConcurrentRun {
  ConcurrentRun() : go(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~ConcurrentRun() { CloseHandle(go); }
  ConcurrentRun(const ConcurrentRun&) = delete;
  ConcurrentRun& operator=(const ConcurrentRun&) = delete;

  HANDLE go;                       // every thread begins at once
  std::atomic<bool> over{false};   // the conductor is done: the others end
  std::atomic<unsigned> filled{0}; // reads filled with intervals
  Faults faults;
};

// START, STOP and RESET as fast as they are answered, and now and then the close of the
// handle (which ends the measurement when this handle started it), from a handle of its own.
void RushRun(unsigned seed, ConcurrentRun& run)
{
  std::mt19937 random(seed);
  auto driver = std::make_unique<TamsinDrv>();
  if (driver->Open() != 0) {
    run.faults.add("a controller cannot open the device");
    return;
  }
  WaitForSingleObject(run.go, INFINITE);
  const uint32_t periods[] = {500, 1000, 2000};
  for (int round = 0; round < 600; round++) {
    const unsigned choice = random() % 10;
    if (choice < 4) {
      uint32_t period = periods[random() % 3], answer = 0;
      if (driver->Ioctl(IOCTL_LATENCY_START, &period, 4, &answer, 4) != 0 || answer == 0) {
        run.faults.add("START failed or answered no period");
      }
    } else if (choice < 7) {
      if (driver->Ioctl(IOCTL_LATENCY_STOP, nullptr, 0, nullptr, 0) != 0) {
        run.faults.add("STOP failed");
      }
    } else if (choice < 9) {
      if (driver->Ioctl(IOCTL_LATENCY_RESET, nullptr, 0, nullptr, 0) != 0) {
        run.faults.add("RESET failed");
      }
    } else {
      driver = std::make_unique<TamsinDrv>();
      if (driver->Open() != 0) {
        run.faults.add("a controller cannot open the device again");
        return;
      }
    }
  }
}

// The conductor: measurements one after another, each begun by START and ended by STOP, by a
// START while it runs, or by the close of the handle that started it. Each one lasts until a
// reader has had a read filled since it began, so that every measurement feeds the stream.
void ConductRun(unsigned seed, ConcurrentRun& run)
{
  std::mt19937 random(seed);
  auto driver = std::make_unique<TamsinDrv>();
  if (driver->Open() != 0) {
    run.faults.add("the conductor cannot open the device");
    run.over = true;
    return;
  }
  const uint32_t periods[] = {500, 1000, 2000};
  for (int measurement = 0; measurement < 9; measurement++) {
    uint32_t period = periods[random() % 3], answer = 0;
    const unsigned filledBefore = run.filled;
    if (driver->Ioctl(IOCTL_LATENCY_START, &period, 4, &answer, 4) != 0 || answer == 0) {
      run.faults.add("START failed or answered no period");
      break;
    }
    const ULONGLONG deadline = GetTickCount64() + measureWait;
    while (run.filled == filledBefore && GetTickCount64() < deadline) {
      LatencyValues values = {};
      values.resetAfterRead = random() % 2;
      if (driver->Ioctl(IOCTL_LATENCY_GET_VALUES, &values, sizeof(values), &values,
                        sizeof(values)) != 0 ||
          values.period != answer) {
        run.faults.add("GET_VALUES failed or answered another period than START");
      }
      Sleep(1);
    }
    if (run.filled == filledBefore) {
      run.faults.add("no read was filled while measuring");
      break;
    }
    // Each way of ending comes in a burst: the timer's DPC and the requests meet at every
    // point of its run.
    if (measurement % 3 == 0) {
      for (int i = 0; i < 20; i++) {
        uint32_t again = periods[random() % 3];
        if (driver->Ioctl(IOCTL_LATENCY_STOP, nullptr, 0, nullptr, 0) != 0 ||
            driver->Ioctl(IOCTL_LATENCY_START, &again, 4, &answer, 4) != 0) {
          run.faults.add("STOP or START failed");
        }
      }
      if (driver->Ioctl(IOCTL_LATENCY_STOP, nullptr, 0, nullptr, 0) != 0) {
        run.faults.add("STOP failed");
      }
    } else if (measurement % 3 == 1) {
      for (int i = 0; i < 40; i++) {
        uint32_t again = periods[random() % 3];
        if (driver->Ioctl(IOCTL_LATENCY_START, &again, 4, &answer, 4) != 0) {
          run.faults.add("START while measuring failed");
        }
      }
    } else {
      driver = std::make_unique<TamsinDrv>();
      if (driver->Open() != 0) {
        run.faults.add("the conductor cannot open the device again");
        break;
      }
    }
  }
  run.over = true;
}

// RESET, GET_VALUES and GET_INFO, right and wrong, on a handle of its own.
void RequestRun(unsigned seed, ConcurrentRun& run)
{
  std::mt19937 random(seed);
  TamsinDrv driver;
  if (driver.Open() != 0) {
    run.faults.add("a requester cannot open the device");
    return;
  }
  WaitForSingleObject(run.go, INFINITE);
  while (!run.over) {
    LatencyValues values = {};
    values.resetAfterRead = random() % 2;
    const uint32_t sent = values.resetAfterRead;
    switch (random() % 5) {
    case 0:
      if (driver.Ioctl(IOCTL_LATENCY_RESET, nullptr, 0, nullptr, 0) != 0) {
        run.faults.add("RESET failed");
      }
      break;
    case 1: {
      LatencyDriverInfo info = {};
      if (driver.Ioctl(IOCTL_LATENCY_GET_INFO, nullptr, 0, &info, sizeof(info)) != 0 ||
          info.values[0] != 1) {
        run.faults.add("GET_INFO failed or answered something else");
      }
      break;
    }
    case 2:
      if (driver.Ioctl(IOCTL_LATENCY_GET_VALUES, &values, 16, &values, sizeof(values)) !=
              LATENCY_ERR_INPUT_LENGTH ||
          driver.Ioctl(IOCTL_LATENCY_GET_VALUES, &values, sizeof(values), &values, 24) !=
              LATENCY_ERR_OUTPUT_LENGTH) {
        run.faults.add("GET_VALUES of a wrong length was not refused for it");
      }
      break;
    default:
      if (driver.Ioctl(IOCTL_LATENCY_GET_VALUES, &values, sizeof(values), &values,
                       sizeof(values)) != 0 ||
          values.resetAfterRead != sent ||
          (values.minInterval != 0 && values.minInterval > values.maxInterval)) {
        run.faults.add("GET_VALUES failed or answered inconsistent values");
      }
      break;
    }
    Sleep(1);
  }
}

// Reads of mixed lengths on a handle of its own, each cancelled unless it ends within a
// while of its own. The whiles only mix the outcomes (filled, refused for an odd length,
// cancelled while queued or while being filled); none is a pass condition.
void ReadRun(unsigned seed, ConcurrentRun& run)
{
  std::mt19937 random(seed);
  RawHandle device;
  if (!device.open()) {
    run.faults.add("a reader cannot open the device");
    return;
  }
  WaitForSingleObject(run.go, INFINITE);
  const DWORD whiles[] = {0, 5, 50};
  while (!run.over) {
    const DWORD length = mixedReadLengths[random() % 5];
    PendingRead read(length);
    if (!read.issue(device.get())) {
      if (read.error() != LATENCY_ERR_OVERFLOW) {
        run.faults.add("a read was refused at once with " + std::to_string(read.error()));
      }
      continue;
    }
    if (!read.finished(whiles[random() % 3])) {
      read.cancel(device.get());
    }
    if (!read.finished(measureWait)) {
      run.faults.add("a cancelled read was never answered");
      return;
    }
    if (CheckFinishedRead(read, length, "reader", run.faults)) {
      run.filled++;
    }
  }
}

// Handles that come and go: a request on one, a read on another, and the closes that end
// that read.
void ChurnRun(unsigned seed, ConcurrentRun& run)
{
  std::mt19937 random(seed);
  WaitForSingleObject(run.go, INFINITE);
  while (!run.over) {
    TamsinDrv driver;
    LatencyValues values = {};
    if (driver.Open() != 0 || driver.Ioctl(IOCTL_LATENCY_GET_VALUES, &values, sizeof(values),
                                           &values, sizeof(values)) != 0) {
      run.faults.add("GET_VALUES on a short-lived handle failed");
      return;
    }
    RawHandle device;
    if (!device.open()) {
      run.faults.add("a short-lived reader cannot open the device");
      return;
    }
    const DWORD length = mixedReadLengths[random() % 5];
    PendingRead read(length);
    const bool pending = read.issue(device.get());
    if (!pending && read.error() != LATENCY_ERR_OVERFLOW) {
      run.faults.add("a read was refused at once with " + std::to_string(read.error()));
    }
    read.finished(random() % 5);
    device.close();
    driver.Close();
    if (pending) {
      if (!read.finished(measureWait)) {
        run.faults.add("a read was never answered after its handle was closed");
        return;
      }
      CheckFinishedRead(read, length, "short-lived reader", run.faults);
    }
  }
}

// Everything at once from several threads, each on handles of its own: every request is
// answered as the protocol says, the host survives, and a START afterwards measures. Reads,
// other requests and short-lived handles go on throughout; first two controllers rush
// through START, STOP, RESET and closes, then the conductor's measurements feed the reads.
TEST_P(TamsinDrvTest, ControlRequestsReadsAndClosesFromSeveralThreadsAtOnceLeaveAWorkingMeter)
{
  ConcurrentRun run;
  {
    HangGuard guard(4 * measureWait);
    std::thread rushing[] = {std::thread(RushRun, 1u, std::ref(run)),
                             std::thread(RushRun, 2u, std::ref(run))};
    std::thread throughout[] = {
        std::thread(RequestRun, 3u, std::ref(run)), std::thread(ReadRun, 4u, std::ref(run)),
        std::thread(ReadRun, 5u, std::ref(run)), std::thread(ChurnRun, 6u, std::ref(run))};
    SetEvent(run.go);
    for (std::thread& thread : rushing) {
      thread.join();
    }
    ConductRun(7u, run);
    for (std::thread& thread : throughout) {
      thread.join();
    }
  }
  EXPECT_EQ(run.faults.get(), std::vector<std::string>());

  const uint32_t period = Start(1000);
  EXPECT_GT(period, 0u);
  ASSERT_TRUE(IntervalArrives()) << "the START after the run measures nothing";
  EXPECT_EQ(Values(0).period, period);
  EXPECT_EQ(driver_.Ioctl(IOCTL_LATENCY_STOP, nullptr, 0, nullptr, 0), 0u);
}

// Wine sends the close as the last handle goes, and the driver ends that handle's reads there.
TEST_P(TamsinDrvTest, ClosingAHandleWithReadsPendingCancelsThemAndLeavesTheMeasurementRunning)
{
  RawHandle device;
  ASSERT_TRUE(device.open()) << GetLastError();
  Start(1000);
  Sleep(300);
  PendingRead first(40000), second(40000);
  first.issuePending(device.get());
  ASSERT_TRUE(second.issue(device.get())) << second.error();
  EXPECT_FALSE(first.finished(200));
  device.close();
  ASSERT_TRUE(first.finished());
  ASSERT_TRUE(second.finished());
  EXPECT_EQ(first.status(), statusCancelled);
  EXPECT_EQ(second.status(), statusCancelled);
  EXPECT_EQ(first.transferred(), 0u);
  EXPECT_TRUE(IntervalArrives()) << "the reader's close stopped the meter's measurement";
}

TEST_P(TamsinDrvTest, ClosingTheHandleThatStartedTheMeasurementStopsItAndEndsEveryRead)
{
  RawHandle reader;
  ASSERT_TRUE(reader.open()) << GetLastError();
  Start(1000);
  Sleep(300);
  PendingRead read(40000);
  read.issuePending(reader.get());
  driver_.Close();
  ASSERT_TRUE(read.finished());
  EXPECT_EQ(read.status(), statusCancelled);

  ASSERT_EQ(driver_.Open(), 0u);
  Values(1);
  Sleep(300);
  LatencyValues v = Values(0);
  EXPECT_EQ(v.minInterval, 0u) << "the timer still runs";
  EXPECT_EQ(v.maxInterval, 0u);
}

// Anyone may open the device and close it again, here or in another process: the meter goes
// on measuring.
TEST_P(TamsinDrvTest, AHandleThatOnlyOpensAndClosesLeavesTheMeasurementRunning)
{
  Start(1000);
  ASSERT_TRUE(IntervalArrives());
  {
    SCOPED_TRACE("a handle of this process");
    RawHandle other;
    ASSERT_TRUE(other.open()) << GetLastError();
    other.close();
    EXPECT_TRUE(IntervalArrives()) << "the measurement stopped";
  }
  {
    SCOPED_TRACE("another process");
    ChildProcess child("open-close");
    ASSERT_TRUE(child.started()) << GetLastError();
    EXPECT_EQ(child.exitCode(processWait), 0u);
    EXPECT_TRUE(IntervalArrives()) << "the measurement stopped";
  }
  EXPECT_EQ(driver_.Ioctl(IOCTL_LATENCY_STOP, nullptr, 0, nullptr, 0), 0u);
}

// 400,000 bytes take 100 s to fill: only a working cancel ends the read in time.
TEST_P(TamsinDrvTest, CancelIoEndsTheReadBeingFilledAtOnce)
{
  RawHandle device;
  ASSERT_TRUE(device.open()) << GetLastError();
  Start(1000);
  PendingRead read(400000);
  read.issuePending(device.get());
  ASSERT_TRUE(IntervalArrives()) << "the read was never taken up";
  ASSERT_TRUE(read.cancel(device.get())) << GetLastError();
  ASSERT_TRUE(read.finished(measureWait)) << "the cancelled read is still pending";
  EXPECT_EQ(read.status(), statusCancelled);
  EXPECT_EQ(read.result(device.get()), DWORD(ERROR_OPERATION_ABORTED));
  EXPECT_EQ(read.transferred(), 0u);
  EXPECT_TRUE(IntervalArrives()) << "a cancelled read stops nothing";

  PendingRead next(8);
  next.issuePending(device.get());
  ASSERT_TRUE(next.finished(measureWait));
  EXPECT_EQ(next.status(), statusSuccess) << "the stream goes on after a cancel";
  EXPECT_EQ(next.transferred(), 8u);
}

// A thread of the test that issues a read on a handle of the test and ends when told to.
struct ReadingThread {
  explicit ReadingThread(HANDLE device) : read(400000), device(device)
  {
    thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
  }
  ~ReadingThread()
  {
    end();
    CloseHandle(go);
  }
  // Tells the thread to end and waits for it; true when it has.
  bool end()
  {
    if (thread == nullptr) {
      return true;
    }
    SetEvent(go);
    const bool ended = WaitForSingleObject(thread, processWait) == WAIT_OBJECT_0;
    CloseHandle(thread);
    thread = nullptr;
    return ended;
  }

  static DWORD WINAPI Run(void* context)
  {
    auto* self = static_cast<ReadingThread*>(context);
    // Intervals that found no read make the next read fail once with the overflow error.
    const ULONGLONG deadline = GetTickCount64() + measureWait;
    while (!self->pending && GetTickCount64() < deadline) {
      self->pending = self->read.issue(self->device);
      self->error = self->read.error();
      if (self->error != LATENCY_ERR_OVERFLOW) {
        break;
      }
    }
    WaitForSingleObject(self->go, INFINITE);
    return 0;
  }

  PendingRead read;
  HANDLE device;
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = nullptr;
  bool pending = false;
  DWORD error = 0;
};

// A thread's end cancels the requests it issued (on Windows the thread waits for them), so the
// read being filled ends with it, although its handle stays open.
TEST_P(TamsinDrvTest, AThreadThatEndsWithAReadBeingFilledHasItCancelled)
{
  RawHandle device;
  ASSERT_TRUE(device.open()) << GetLastError();
  Start(1000);
  ReadingThread reader(device.get());
  ASSERT_NE(reader.thread, nullptr) << GetLastError();
  const bool takenUp = IntervalArrives();
  ASSERT_TRUE(reader.end());
  ASSERT_TRUE(reader.pending) << reader.error;
  ASSERT_TRUE(takenUp) << "the read was never taken up";
  ASSERT_TRUE(reader.read.finished(measureWait)) << "the ended thread's read is still pending";
  // Wine has the issuing thread write the request's record: when that thread is already gone
  // as the read ends, the event is set but the record still says pending.
  const NTSTATUS status = reader.read.status();
  EXPECT_TRUE(status == statusCancelled || status == statusPending) << std::hex << status;
  EXPECT_EQ(reader.read.transferred(), 0u);
  EXPECT_TRUE(IntervalArrives()) << "a thread's end stops nothing";
}

// The process's end cancels its read; the process does not wait for 100 s of intervals.
TEST_P(TamsinDrvTest, AProcessThatEndsWithAReadBeingFilledEndsAtOnce)
{
  Start(1000);
  NamedEvent ready("ready"), go("go");
  ChildProcess child("pending-read 400000 " + ready.name() + " " + go.name());
  ASSERT_TRUE(child.started()) << GetLastError();
  const HANDLE waits[] = {ready.get(), child.get()};
  ASSERT_EQ(WaitForMultipleObjects(2, waits, FALSE, processWait), WAIT_OBJECT_0)
      << "the child ended with " << child.exitCode(0);
  ASSERT_TRUE(IntervalArrives()) << "the child's read was never taken up";
  SetEvent(go.get());
  EXPECT_EQ(child.exitCode(processWait), 0u);
  EXPECT_TRUE(IntervalArrives()) << "the child's end stopped the meter's measurement";
}

} // namespace
