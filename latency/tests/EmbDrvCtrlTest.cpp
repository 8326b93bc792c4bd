// EmbDrvCtrl installing the driver from this program's resources through Wine's service
// manager, and removing it again. The 32-bit test runs under WOW64, as Tamsin does on 64-bit
// Windows, so it installs the x64 image. Every test starts and ends with the service, its file
// and a device name that a killed host left removed, whatever happened in between.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "EmbDrvCtrl.h"
#include "NtObjectNames.h"
#include "ReportedErrors.h"
#include "TamsinDrv.h"
#include "driver_service.h"
#include "real_system_folder.h"
#include "tamsin_window.h"

namespace {

const char serviceName[] = "tamsin_driver";

using tamsin_test::driverFile;
using tamsin_test::WithoutRedirection;

bool Exists(const std::string& path)
{
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool DriverFileExists()
{
  WithoutRedirection real;
  return Exists(driverFile());
}

bool ServiceRegistered()
{
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = OpenServiceA(manager, serviceName, SERVICE_QUERY_STATUS);
  if (service != nullptr) {
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return service != nullptr;
}

// A registered service that was never started.
void RegisterStoppedService()
{
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE service = CreateServiceA(
      manager, serviceName, serviceName, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
      SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, test::x64DriverPath("tamsin_driver.sys").c_str(),
      nullptr, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(service, nullptr) << GetLastError();
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
}

// What a killed host of the driver leaves: the device's DOS name, permanent, pointing at a
// device that is gone.
using NtObjectNames::CountedString;
using NtObjectNames::ObjectAttributes;

CountedString Counted(const wchar_t* text)
{
  const USHORT bytes = static_cast<USHORT>(wcslen(text) * sizeof(wchar_t));
  return {bytes, static_cast<USHORT>(bytes + sizeof(wchar_t)), text};
}

LONG CreatePermanentLink(const wchar_t* linkName, const wchar_t* target)
{
  using Create = LONG(WINAPI*)(HANDLE*, ACCESS_MASK, const ObjectAttributes*, const CountedString*);
  using Close = LONG(WINAPI*)(HANDLE);
  HMODULE ntdll = GetModuleHandleA("ntdll");
  auto create = reinterpret_cast<Create>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "NtCreateSymbolicLinkObject")));
  auto close = reinterpret_cast<Close>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtClose")));
  const CountedString name = Counted(linkName), to = Counted(target);
  const ObjectAttributes attributes = {sizeof(attributes),
                                       nullptr,
                                       &name,
                                       NtObjectNames::objCaseInsensitive |
                                           NtObjectNames::objPermanent,
                                       nullptr,
                                       nullptr};
  HANDLE link = nullptr;
  const LONG status = create(&link, 0xF0001 /* all access */, &attributes, &to);
  if (status >= 0) {
    close(link);
  }
  return status;
}

DWORD DeviceOpenError()
{
  HANDLE device = CreateFileA("\\\\.\\tamsin_static_device", 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  if (device == INVALID_HANDLE_VALUE) {
    return GetLastError();
  }
  CloseHandle(device);
  return 0;
}

// The device's name that a killed host of an earlier run left: Wine would refuse every load
// of the driver while it is there.
void RemoveDeadDeviceName()
{
  if (DeviceOpenError() != DWORD(ERROR_PATH_NOT_FOUND)) {
    return;
  }
  using Open = LONG(WINAPI*)(HANDLE*, ACCESS_MASK, const ObjectAttributes*);
  using MakeTemporary = LONG(WINAPI*)(HANDLE);
  using Close = LONG(WINAPI*)(HANDLE);
  HMODULE ntdll = GetModuleHandleA("ntdll");
  auto open = reinterpret_cast<Open>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "NtOpenSymbolicLinkObject")));
  auto makeTemporary = reinterpret_cast<MakeTemporary>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "NtMakeTemporaryObject")));
  auto close = reinterpret_cast<Close>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtClose")));
  const CountedString name = Counted(L"\\??\\tamsin_static_device");
  const ObjectAttributes attributes = {
      sizeof(attributes), nullptr, &name, NtObjectNames::objCaseInsensitive, nullptr, nullptr};
  HANDLE link = nullptr;
  if (open(&link, DELETE, &attributes) >= 0) {
    makeTemporary(link);
    close(link);
  }
}

void RemoveEverything()
{
  test::DriverService::removeLeftover(serviceName);
  RemoveDeadDeviceName();
  WithoutRedirection real;
  DeleteFileA(driverFile().c_str());
}

class Installer : public ::testing::Test {
protected:
  void SetUp() override
  {
    RemoveEverything();
    errors_.clear();
  }
  void TearDown() override { RemoveEverything(); }

  std::vector<std::string> Texts() const { return errors_.texts(); }

  ReportedErrors errors_;
};

TEST_F(Installer, TheTestRunsUnderWow64AndTheFileGoesToTheSystemDriversFolder)
{
  bool wow64 = false;
  EXPECT_EQ(EmbDrvCtrl::IsWow64Process(&wow64), 0u);
  EXPECT_TRUE(wow64);
  char path[MAX_PATH];
  std::memset(path, 'x', sizeof(path));
  ASSERT_TRUE(EmbDrvCtrl::GetDrvPathAndName(path));
  EXPECT_EQ(std::string(path), driverFile());
  for (size_t i = driverFile().size(); i < MAX_PATH; i++) {
    ASSERT_EQ(path[i], 0) << i;
  }
  EXPECT_TRUE(Texts().empty());
}

TEST_F(Installer, APathWithoutRoomForItsPartsFailsWithItsTextAndAnEmptyBuffer)
{
  struct Case {
    size_t length;
    bool backslash;
    const char* text;
  };
  const Case cases[] = {
      {259, false, "GetDrvPathAndName: Buffer too small to append backslash.\n"},
      {258, false, "GetDrvPathAndName: Buffer too small to append driver directory.\n"},
      {251, true, "GetDrvPathAndName: Buffer too small to append driver directory.\n"},
      {250, true, "GetDrvPathAndName: Buffer too small to append driver name.\n"},
      {234, true, "GetDrvPathAndName: Buffer too small to append driver extension.\n"},
      {233, true, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.length << (c.backslash ? " with" : " without") << " backslash");
    errors_.clear();
    char buffer[MAX_PATH] = {};
    std::string directory = "C:" + std::string(c.length - 2 - (c.backslash ? 1 : 0), 'd');
    if (c.backslash) {
      directory += '\\';
    }
    ASSERT_EQ(directory.size(), c.length);
    std::memcpy(buffer, directory.data(), directory.size());
    const bool done = EmbDrvCtrl::AppendDrvPathAndName(buffer);
    if (c.text == nullptr) {
      EXPECT_TRUE(done);
      EXPECT_EQ(std::string(buffer), directory + "drivers\\tamsin_driver.sys");
      EXPECT_EQ(std::string(buffer).size(), 258u);
      EXPECT_TRUE(Texts().empty());
      continue;
    }
    EXPECT_FALSE(done);
    EXPECT_EQ(Texts(), std::vector<std::string>({c.text}));
    EXPECT_EQ(errors_.closesPosted(), 1);
    for (char ch : buffer) {
      ASSERT_EQ(ch, 0);
    }
  }
}

TEST_F(Installer, TheX64ImageFromTheResourcesRunsAndUninstallingLeavesNothing)
{
  ASSERT_EQ(EmbDrvCtrl::InstallDrvByRes(IDR_DRIVER_X64), 0u);
  EXPECT_TRUE(Texts().empty()) << Texts().front();

  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = OpenServiceA(manager, serviceName, SERVICE_QUERY_CONFIG);
  ASSERT_NE(service, nullptr);
  union {
    QUERY_SERVICE_CONFIGA config;
    char room[4096];
  } query;
  DWORD needed = 0;
  ASSERT_TRUE(QueryServiceConfigA(service, &query.config, sizeof(query), &needed));
  EXPECT_EQ(query.config.dwServiceType, DWORD(SERVICE_KERNEL_DRIVER));
  EXPECT_EQ(query.config.dwStartType, DWORD(SERVICE_DEMAND_START));
  EXPECT_EQ(query.config.dwErrorControl, DWORD(SERVICE_ERROR_IGNORE));
  EXPECT_STREQ(query.config.lpDisplayName, serviceName);
  EXPECT_EQ(std::string(query.config.lpBinaryPathName), driverFile());
  CloseServiceHandle(service);
  CloseServiceHandle(manager);

  {
    TamsinDrv driver;
    ASSERT_EQ(driver.Open(), 0u);
    LatencyDriverInfo info = {};
    EXPECT_EQ(driver.Ioctl(IOCTL_LATENCY_GET_INFO, nullptr, 0, &info, sizeof(info)), 0u);
    EXPECT_EQ(info.values[0], 1u);
  }
  EXPECT_FALSE(Exists(driverFile())) << "written past the redirection into the 32-bit folder";

  bool stillPresent = true;
  EXPECT_TRUE(EmbDrvCtrl::UninstallDrv(&stillPresent));
  EXPECT_FALSE(stillPresent);
  EXPECT_TRUE(Texts().empty()) << Texts().front();
  EXPECT_EQ(errors_.closesPosted(), 0);
  EXPECT_FALSE(ServiceRegistered());
  EXPECT_FALSE(DriverFileExists());
}

TEST_F(Installer, UninstallingOnACleanMachineShowsNothing)
{
  bool stillPresent = true;
  EXPECT_TRUE(EmbDrvCtrl::UninstallDrv(&stillPresent));
  EXPECT_FALSE(stillPresent);
  EXPECT_TRUE(EmbDrvCtrl::UninstallDrv(nullptr));
  EXPECT_TRUE(Texts().empty());
}

TEST_F(Installer, AStoppedLeftoverIsReportedAndDeleted)
{
  RegisterStoppedService();
  bool stillPresent = true;
  EXPECT_TRUE(EmbDrvCtrl::UninstallDrv(&stillPresent));
  EXPECT_FALSE(stillPresent);
  EXPECT_EQ(Texts(),
            std::vector<std::string>({"UninstallDrv: The service has not been started.\n"}));
  EXPECT_EQ(errors_.closesPosted(), 1);
  EXPECT_FALSE(ServiceRegistered());
}

// Another handle keeps a deleted service registered until it is closed.
TEST_F(Installer, AServiceStillRegisteredAfterItsDeletionIsReportedAsStillPresent)
{
  ASSERT_EQ(EmbDrvCtrl::InstallDrvByRes(IDR_DRIVER_X64), 0u);
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE held = OpenServiceA(manager, serviceName, SERVICE_QUERY_STATUS);
  ASSERT_NE(held, nullptr);
  bool stillPresent = false;
  EXPECT_TRUE(EmbDrvCtrl::UninstallDrv(&stillPresent));
  EXPECT_TRUE(stillPresent);
  EXPECT_TRUE(Texts().empty()) << Texts().front();
  CloseServiceHandle(held);
  CloseServiceHandle(manager);
  EXPECT_FALSE(ServiceRegistered());
  EXPECT_FALSE(DriverFileExists());
}

TEST_F(Installer, AServiceThatRunsAlreadyCountsAsStartedAndTheNewFileIsDeleted)
{
  // Running from the build tree, so the file written now is not the one in use.
  test::DriverService running(serviceName, test::x64DriverPath("tamsin_driver.sys"));
  ASSERT_TRUE(running.running()) << running.error();
  EXPECT_EQ(EmbDrvCtrl::InstallDrvByRes(IDR_DRIVER_X64), 0u);
  EXPECT_TRUE(Texts().empty()) << Texts().front();
  EXPECT_FALSE(DriverFileExists());
  EXPECT_TRUE(ServiceRegistered());
}

TEST_F(Installer, AMissingResourceIsReportedAndInstallsNothing)
{
  const uint32_t error = EmbDrvCtrl::InstallDrvByRes(999);
  EXPECT_EQ(error, uint32_t(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_EQ(Texts(), std::vector<std::string>(
                         {"InstallDrvByRes: FindResource failed with error 0x00000716.\n"}));
  EXPECT_EQ(errors_.closesPosted(), 1);
  EXPECT_FALSE(ServiceRegistered());
  EXPECT_FALSE(DriverFileExists());
}

// The file goes at once; the service stays registered for the next uninstall to remove.
TEST_F(Installer, AnImageThatDoesNotStartLeavesOnlyItsServiceForTheNextUninstall)
{
  const char notADriver[] = "not a driver";
  const uint32_t error = EmbDrvCtrl::InstallDrv(notADriver, sizeof(notADriver));
  EXPECT_NE(error, 0u);
  ASSERT_EQ(Texts().size(), 1u);
  char expected[80];
  std::snprintf(expected, sizeof(expected), "InstallDrv: StartService failed with error 0x%08X\n",
                unsigned(error));
  EXPECT_EQ(Texts()[0], expected);
  EXPECT_FALSE(DriverFileExists());
  EXPECT_TRUE(ServiceRegistered());

  errors_.clear();
  EXPECT_TRUE(EmbDrvCtrl::UninstallDrv(nullptr));
  EXPECT_EQ(Texts(),
            std::vector<std::string>({"UninstallDrv: The service has not been started.\n"}));
  EXPECT_FALSE(ServiceRegistered());
}

// Wine refuses to load the driver again while such a name is left.
TEST_F(Installer, ADeviceNameLeadingNowhereIsRemovedAndTheDriverLoadsAgain)
{
  ASSERT_EQ(CreatePermanentLink(L"\\??\\tamsin_static_device", L"\\Device\\tamsin_static_device"),
            0);
  ASSERT_EQ(DeviceOpenError(), DWORD(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(EmbDrvCtrl::UninstallDrv(nullptr));
  EXPECT_TRUE(Texts().empty()) << Texts().front();
  EXPECT_EQ(DeviceOpenError(), DWORD(ERROR_FILE_NOT_FOUND));

  ASSERT_EQ(EmbDrvCtrl::InstallDrvByRes(IDR_DRIVER_X64), 0u) << Texts().front();
  EXPECT_EQ(DeviceOpenError(), 0u);
  EXPECT_TRUE(EmbDrvCtrl::UninstallDrv(nullptr));
  EXPECT_TRUE(Texts().empty()) << Texts().front();
  EXPECT_EQ(DeviceOpenError(), DWORD(ERROR_FILE_NOT_FOUND)) << "the driver took its name along";
}

// How Tamsin uses it: clear what a crashed run left, install, measure, uninstall.
TEST_F(Installer, ARunAfterACrashedOneStartsClean)
{
  ASSERT_EQ(EmbDrvCtrl::InstallDrvByRes(IDR_DRIVER_X64), 0u); // the crashed run
  bool stillPresent = true;
  EXPECT_TRUE(EmbDrvCtrl::UninstallDrv(&stillPresent));
  EXPECT_FALSE(stillPresent);
  ASSERT_EQ(EmbDrvCtrl::InstallDrvByRes(IDR_DRIVER_X64), 0u);
  {
    TamsinDrv driver;
    ASSERT_EQ(driver.Open(), 0u);
    uint32_t period = 1000, answer = 0;
    EXPECT_EQ(driver.Ioctl(IOCTL_LATENCY_START, &period, 4, &answer, 4), 0u);
    EXPECT_EQ(driver.Ioctl(IOCTL_LATENCY_STOP, nullptr, 0, nullptr, 0), 0u);
  }
  EXPECT_TRUE(EmbDrvCtrl::UninstallDrv(&stillPresent));
  EXPECT_TRUE(Texts().empty()) << Texts().front();
  EXPECT_FALSE(ServiceRegistered());
  EXPECT_FALSE(DriverFileExists());
}

// The driver's host killed while the meter has the device open, as a crash would: the service
// still reads running, a stop finds no host to ask, the file and the device's name are left.
// The uninstall at the meter's end clears all of it without a message, and the next install
// measures.
TEST_F(Installer, AfterTheDriversHostDiedTheUninstallClearsUpAndTheNextInstallMeasures)
{
  ASSERT_EQ(EmbDrvCtrl::InstallDrvByRes(IDR_DRIVER_X64), 0u);
  {
    TamsinDrv meter;
    ASSERT_EQ(meter.Open(), 0u);
    uint32_t period = 1000, answer = 0;
    ASSERT_EQ(meter.Ioctl(IOCTL_LATENCY_START, &period, 4, &answer, 4), 0u);
    ASSERT_NE(tamsin_test::killDriverHost(), 0) << "no host of the driver found in this prefix";
    ASSERT_TRUE(tamsin_test::waitFor(
        [] { return DeviceOpenError() == DWORD(ERROR_PATH_NOT_FOUND); }, 20000))
        << "the device's name should be left, leading nowhere: " << DeviceOpenError();
    ASSERT_EQ(tamsin_test::driverServiceState(), DWORD(SERVICE_RUNNING));
    bool stillPresent = true;
    EXPECT_TRUE(EmbDrvCtrl::UninstallDrv(&stillPresent));
    EXPECT_FALSE(stillPresent);
  }
  EXPECT_TRUE(Texts().empty()) << Texts().front();
  EXPECT_FALSE(ServiceRegistered());
  EXPECT_FALSE(DriverFileExists());
  EXPECT_EQ(DeviceOpenError(), DWORD(ERROR_FILE_NOT_FOUND));

  ASSERT_EQ(EmbDrvCtrl::InstallDrvByRes(IDR_DRIVER_X64), 0u) << Texts().front();
  {
    TamsinDrv meter;
    ASSERT_EQ(meter.Open(), 0u);
    uint32_t period = 1000, answer = 0;
    EXPECT_EQ(meter.Ioctl(IOCTL_LATENCY_START, &period, 4, &answer, 4), 0u);
    EXPECT_EQ(meter.Ioctl(IOCTL_LATENCY_STOP, nullptr, 0, nullptr, 0), 0u);
  }
  EXPECT_TRUE(EmbDrvCtrl::UninstallDrv(nullptr));
  EXPECT_TRUE(Texts().empty()) << Texts().front();
}

} // namespace
