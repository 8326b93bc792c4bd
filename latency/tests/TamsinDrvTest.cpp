// TamsinDrv through Wine's I/O manager to the real x64 driver, and the driver's answers on the
// way back: the protocol as the meter and a reader see it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ReportedErrors.h"
#include "TamsinDrv.h"
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

class TamsinDrvTest : public ::testing::Test {
protected:
  static void SetUpTestSuite()
  {
    service_ = std::make_unique<test::DriverService>(serviceName,
                                                     test::x64DriverPath("tamsin_driver.sys"));
  }
  static void TearDownTestSuite() { service_.reset(); }

  void SetUp() override
  {
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
  ReportedErrors errors_;
  TamsinDrv driver_;
};

std::unique_ptr<test::DriverService> TamsinDrvTest::service_;

TEST_F(TamsinDrvTest, StartAnswersAPeriodAndASecondLaterTheValuesArePlausible)
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

TEST_F(TamsinDrvTest, TheInformationRequestAnswersOneOneOneOneZeroZero)
{
  LatencyDriverInfo info = {};
  EXPECT_EQ(driver_.Ioctl(IOCTL_LATENCY_GET_INFO, nullptr, 0, &info, sizeof(info)), 0u);
  const uint32_t expected[6] = {1, 1, 1, 1, 0, 0};
  EXPECT_EQ(std::memcmp(info.values, expected, sizeof(expected)), 0);
}

// The driver completes these at once, so the client hands the codes back without a message.
TEST_F(TamsinDrvTest, WrongLengthsAndUnknownFunctionsFailWithoutAMessage)
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
      {IOCTL_LATENCY_GET_VALUES, 20, 24, LATENCY_ERR_OUTPUT_LENGTH},
      {IOCTL_LATENCY_START, 0, 4, LATENCY_ERR_INPUT_LENGTH},
      {IOCTL_LATENCY_GET_INFO, 0, 20, LATENCY_ERR_OUTPUT_LENGTH},
      {LatencyControlCode(0x806), 0, 0, ERROR_INVALID_FUNCTION},
  };
  uint8_t in[32] = {}, out[32] = {};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << std::hex << c.code << std::dec << " " << c.in << "/" << c.out);
    EXPECT_EQ(driver_.Ioctl(c.code, in, c.in, c.out ? out : nullptr, c.out), c.error);
  }
  EXPECT_EQ(errors_.closesPosted(), 0);
}

TEST_F(TamsinDrvTest, AStartWithoutAnOutputBufferFailsAndStartsNothing)
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

TEST_F(TamsinDrvTest, WritesAreNotSupported)
{
  RawHandle device;
  ASSERT_TRUE(device.open()) << GetLastError();
  OVERLAPPED overlapped = {};
  uint32_t word = 0;
  EXPECT_FALSE(WriteFile(device.get(), &word, sizeof(word), nullptr, &overlapped));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_SUPPORTED));
}

TEST_F(TamsinDrvTest, ReadsDeliverIntervalsAndRefuseBuffersOfAnOddLength)
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

// Wine sends the close as the last handle goes, and the driver ends that handle's reads there.
TEST_F(TamsinDrvTest, ClosingAHandleWithReadsPendingCancelsThemAndLeavesTheMeasurementRunning)
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

TEST_F(TamsinDrvTest, ClosingTheHandleThatStartedTheMeasurementStopsItAndEndsEveryRead)
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
TEST_F(TamsinDrvTest, AHandleThatOnlyOpensAndClosesLeavesTheMeasurementRunning)
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
TEST_F(TamsinDrvTest, CancelIoEndsTheReadBeingFilledAtOnce)
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
TEST_F(TamsinDrvTest, AThreadThatEndsWithAReadBeingFilledHasItCancelled)
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
TEST_F(TamsinDrvTest, AProcessThatEndsWithAReadBeingFilledEndsAtOnce)
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
