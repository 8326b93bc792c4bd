// The real tamsin.exe when things go wrong around it: every failure in its own box, read and
// answered here as a user would, in the order the program raised them; then one end, with
// the frame's exit code, and nothing of the driver left that could be removed.
#include "real_system_folder.h"
#include "tamsin_window.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tamsin_test::TamsinProcess;
using tamsin_test::waitFor;

const int IDC_EXIT = 1001;
const char serviceName[] = "tamsin_driver";

using tamsin_test::driverFile;
using tamsin_test::WithoutRedirection;

DWORD driverFileAttributes()
{
  WithoutRedirection real;
  return ::GetFileAttributesA(driverFile().c_str());
}

// Holds the driver file open, as a virus scanner or a backup would: reading and writing
// shared, deleting not.
class HeldDriverFile {
public:
  explicit HeldDriverFile(DWORD disposition)
  {
    WithoutRedirection real;
    handle_ = ::CreateFileA(driverFile().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, disposition, 0, nullptr);
    error_ = ::GetLastError();
  }
  ~HeldDriverFile() { release(); }
  bool held() const { return handle_ != INVALID_HANDLE_VALUE; }
  DWORD error() const { return error_; }
  void release()
  {
    if (held()) {
      ::CloseHandle(handle_);
      handle_ = INVALID_HANDLE_VALUE;
    }
  }

private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  DWORD error_ = 0;
};

void removeService()
{
  SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE service = ::OpenServiceA(manager, serviceName, SERVICE_ALL_ACCESS);
  if (service != nullptr) {
    SERVICE_STATUS status = {};
    ::ControlService(service, SERVICE_CONTROL_STOP, &status);
    ::DeleteService(service);
    ::CloseServiceHandle(service);
  }
  ::CloseServiceHandle(manager);
  waitFor([] { return tamsin_test::driverServiceState() == 0; }, 10000);
}

// Whatever a test leaves at the driver's place goes, before and after each test.
void removeEverything()
{
  removeService();
  WithoutRedirection real;
  ::DeleteFileA(driverFile().c_str());
  ::RemoveDirectoryA(driverFile().c_str());
}

// A service of the driver's name that an earlier run registered and never started.
void registerStoppedService()
{
  SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE service =
      ::CreateServiceA(manager, serviceName, serviceName, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                       SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, driverFile().c_str(), nullptr,
                       nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(service, nullptr) << ::GetLastError();
  ::CloseServiceHandle(service);
  ::CloseServiceHandle(manager);
}

std::string box(const std::string& text)
{
  return "[Error] " + text;
}

using Texts = std::vector<std::string>;

class TamsinFaults : public ::testing::Test {
protected:
  void SetUp() override { removeEverything(); }
  void TearDown() override { removeEverything(); }
};

// A variable of the environment that the program inherits, for the length of a test.
class EnvironmentVariable {
public:
  EnvironmentVariable(const char* name, const std::string& value) : name_(name)
  {
    ::SetEnvironmentVariableA(name, value.c_str());
  }
  ~EnvironmentVariable() { ::SetEnvironmentVariableA(name_, nullptr); }

private:
  const char* name_;
};

std::string temporaryPath(const char* name)
{
  char folder[MAX_PATH] = "";
  ::GetTempPathA(sizeof(folder), folder);
  return std::string(folder) + name;
}

TEST_F(TamsinFaults, ADirectoryInPlaceOfTheDriverFileGivesEachBoxOnceAndOneEnd)
{
  {
    WithoutRedirection real;
    ASSERT_TRUE(::CreateDirectoryA(driverFile().c_str(), nullptr)) << ::GetLastError();
  }
  // A program that runs as administrator must not append to a file that its environment
  // names, nor let its environment turn its boxes off.
  const std::string log = temporaryPath("tamsin-error-log.txt");
  ::DeleteFileA(log.c_str());
  EnvironmentVariable errorLog("TAMSIN_ERROR_LOG", log);
  TamsinProcess tamsin;
  ASSERT_TRUE(tamsin.start());
  // Each box is there, with its text, until it is answered; the next comes after it.
  EXPECT_EQ(tamsin.nextBox(), box("UninstallDrv: DeleteFile failed with error 0x00000005\n"));
  EXPECT_EQ(tamsin.nextBox(), box("LoadDriver failed, Status=0x00000005\n"));
  EXPECT_EQ(tamsin.nextBox(), box("CreateFile failed, err=0x00000002\n"));
  EXPECT_EQ(tamsin.nextBox(), box("Open failed, Status=0x00000002\n"));
  EXPECT_EQ(tamsin.nextBox(), box("Start failed, Status=0xEEE00001\n"));
  // The uninstall at exit meets the directory again: that was said already.
  DWORD exitCode = 0;
  EXPECT_EQ(tamsin.boxesUntilExit(&exitCode), Texts());
  EXPECT_EQ(exitCode, 1u) << "the frame was made and closed";
  EXPECT_EQ(tamsin_test::driverServiceState(), 0u);
  EXPECT_EQ(driverFileAttributes() & FILE_ATTRIBUTE_DIRECTORY, DWORD(FILE_ATTRIBUTE_DIRECTORY))
      << "a directory is nobody's driver file";
  EXPECT_EQ(::GetFileAttributesA(log.c_str()), INVALID_FILE_ATTRIBUTES);
  ::DeleteFileA(log.c_str());
}

TEST_F(TamsinFaults, ACloseRequestWhileAStartUpBoxIsOpenWaitsForTheBoxesAndEndsOnce)
{
  registerStoppedService();
  HeldDriverFile held(CREATE_ALWAYS);
  ASSERT_TRUE(held.held()) << held.error();

  TamsinProcess tamsin;
  ASSERT_TRUE(tamsin.start());
  HWND first = nullptr;
  ASSERT_TRUE(waitFor(
      [&] {
        const std::vector<HWND> boxes = tamsin_test::messageBoxes(tamsin.processId());
        first = boxes.empty() ? nullptr : boxes.front();
        return first != nullptr;
      },
      30000));
  // The frame is there, not yet shown, while its view starts up.
  ASSERT_TRUE(tamsin.waitForFrame());
  ::PostMessageA(tamsin.frame(), WM_CLOSE, 0, 0);
  ::PostMessageA(tamsin.frame(), WM_CLOSE, 0, 0);

  EXPECT_EQ(tamsin_test::answerBox(first),
            box("UninstallDrv: The service has not been started.\n"));
  EXPECT_EQ(tamsin.nextBox(), box("UninstallDrv: DeleteFile failed with error 0x00000020\n"));
  EXPECT_EQ(tamsin.nextBox(), box("LoadDriver failed, Status=0x00000005\n"));
  EXPECT_EQ(tamsin.nextBox(), box("CreateFile failed, err=0x00000002\n"));
  EXPECT_EQ(tamsin.nextBox(), box("Open failed, Status=0x00000002\n"));
  EXPECT_EQ(tamsin.nextBox(), box("Start failed, Status=0xEEE00001\n"));
  DWORD exitCode = 0;
  EXPECT_EQ(tamsin.boxesUntilExit(&exitCode), Texts());
  EXPECT_EQ(exitCode, 1u);
  EXPECT_EQ(tamsin_test::driverServiceState(), 0u) << "the stale service was removed";
  held.release();
  EXPECT_NE(driverFileAttributes(), INVALID_FILE_ATTRIBUTES) << "the held file had to stay";
}

TEST_F(TamsinFaults, AnExitWhileAnotherProcessHoldsTheDriverFileShowsWhyItStays)
{
  TamsinProcess tamsin;
  ASSERT_TRUE(tamsin.start());
  ASSERT_TRUE(tamsin.waitForFrame()) << tamsin.errors();
  ASSERT_TRUE(tamsin.waitForPolling()) << tamsin.errors();
  // Wine keeps the file of a loaded driver; it goes when the service has stopped.
  HeldDriverFile held(OPEN_EXISTING);
  ASSERT_TRUE(held.held()) << held.error();

  tamsin.click(IDC_EXIT);
  EXPECT_EQ(tamsin.nextBox(), box("UninstallDrv: DeleteFile failed with error 0x00000020\n"));
  DWORD exitCode = 0;
  EXPECT_EQ(tamsin.boxesUntilExit(&exitCode), Texts());
  EXPECT_EQ(exitCode, 1u);
  EXPECT_EQ(tamsin_test::driverServiceState(), 0u);
}

// The start after a crash: it measures without a box, and its exit leaves nothing.
void expectACleanRun()
{
  TamsinProcess next;
  ASSERT_TRUE(next.start());
  ASSERT_TRUE(next.waitForFrame()) << next.errors();
  ASSERT_TRUE(next.waitForPolling()) << next.errors();
  EXPECT_GE(next.micros(1009 /* IDC_PERIOD */), 900);
  EXPECT_EQ(next.errors(), "");
  next.click(IDC_EXIT);
  DWORD exitCode = 0;
  EXPECT_EQ(next.boxesUntilExit(&exitCode), Texts());
  EXPECT_EQ(exitCode, 1u);
  EXPECT_EQ(tamsin_test::driverServiceState(), 0u);
  EXPECT_EQ(driverFileAttributes(), INVALID_FILE_ATTRIBUTES);
}

TEST_F(TamsinFaults, WhenTheDriversHostIsKilledTheMeterSaysSoEndsAndTheNextStartMeasures)
{
  {
    TamsinProcess first;
    ASSERT_TRUE(first.start());
    ASSERT_TRUE(first.waitForFrame()) << first.errors();
    ASSERT_TRUE(first.waitForPolling()) << first.errors();
    ASSERT_NE(tamsin_test::killDriverHost(), 0) << "no host of the driver found in this prefix";
    // The next poll finds the device gone; at exit the driver's remains go without a word.
    EXPECT_EQ(first.nextBox(), box("GetValues failed, Status=0x00000005\n"));
    DWORD exitCode = 0;
    EXPECT_EQ(first.boxesUntilExit(&exitCode), Texts());
    EXPECT_EQ(exitCode, 1u);
  }
  EXPECT_EQ(tamsin_test::driverServiceState(), 0u);
  expectACleanRun();
}

TEST_F(TamsinFaults, AfterTheMeterAndThenTheDriversHostWereKilledTheNextStartMeasures)
{
  {
    TamsinProcess first;
    ASSERT_TRUE(first.start());
    ASSERT_TRUE(first.waitForFrame()) << first.errors();
    ASSERT_TRUE(first.waitForPolling()) << first.errors();
    first.kill();
    ASSERT_NE(tamsin_test::killDriverHost(), 0) << "no host of the driver found in this prefix";
  }
  // Left: a service that claims to run, the driver file, and the device's name.
  EXPECT_EQ(tamsin_test::driverServiceState(), DWORD(SERVICE_RUNNING));
  expectACleanRun();
}

} // namespace
