// Loading and unloading the driver, its failures, and its error-log entry.
#include "FakeKernel.h"

#include <gtest/gtest.h>

#include <cstring>

#include "ErrorLog.h"
#include "LatencyProtocol.h"
#include "PoolObject.h"

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);

namespace {

class DriverLoad : public ::testing::Test {
protected:
  void SetUp() override { fake::Reset(); }
  void TearDown() override { fake::ExpectQuiet(); }

  NTSTATUS Load() { return DriverEntry(&driver_.object, &driver_.registryPath); }

  fake::DriverObject driver_;
};

TEST_F(DriverLoad, TheDriverCreatesItsDeviceAndLinkAndRegistersItsEntryPoints)
{
  ASSERT_EQ(Load(), STATUS_SUCCESS);
  PDEVICE_OBJECT device = fake::DeviceNamed(LATENCY_NT_DEVICE_NAME);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->DeviceType, FILE_DEVICE_LATENCY);
  EXPECT_EQ(device->Characteristics, ULONG(FILE_DEVICE_SECURE_OPEN));
  EXPECT_NE(device->Flags & DO_DIRECT_IO, 0u);
  EXPECT_EQ(fake::Device(device)->exclusive, FALSE);
  EXPECT_EQ(fake::Device(device)->extensionSize, sizeof(void*));
  EXPECT_TRUE(fake::LinkExists(LATENCY_DOS_DEVICE_NAME, LATENCY_NT_DEVICE_NAME));

  for (UCHAR major :
       {IRP_MJ_CREATE, IRP_MJ_CLOSE, IRP_MJ_CLEANUP, IRP_MJ_READ, IRP_MJ_WRITE,
        IRP_MJ_DEVICE_CONTROL, IRP_MJ_INTERNAL_DEVICE_CONTROL, IRP_MJ_SYSTEM_CONTROL}) {
    EXPECT_NE(driver_.object.MajorFunction[major], fake::InvalidDeviceRequest) << int(major);
  }
  // A legacy driver: no Plug-and-Play, no power, no AddDevice.
  EXPECT_EQ(driver_.object.MajorFunction[IRP_MJ_PNP], fake::InvalidDeviceRequest);
  EXPECT_EQ(driver_.object.MajorFunction[IRP_MJ_POWER], fake::InvalidDeviceRequest);
  EXPECT_EQ(driver_.extension.AddDevice, nullptr);
  ASSERT_NE(driver_.object.DriverUnload, nullptr);

  EXPECT_EQ(std::memcmp(&DRIVER_POOL_TAG, "KnKn", 4), 0);
  EXPECT_GT(fake::LiveBlocks(), 0);
  EXPECT_EQ(fake::LiveBlocksWithOtherTags(DRIVER_POOL_TAG), 0);

  driver_.object.DriverUnload(&driver_.object);
  fake::ExpectNothingLeft();
}

// Any local user could otherwise open the device and start, stop or reset the measurement.
TEST_F(DriverLoad, TheDeviceAdmitsTheSystemAndTheAdministratorsOnly)
{
  ASSERT_EQ(Load(), STATUS_SUCCESS);
  const fake::DeviceRecord* device = fake::Device(fake::DeviceNamed(LATENCY_NT_DEVICE_NAME));
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->securityInformation, ULONG(DACL_SECURITY_INFORMATION));
  EXPECT_EQ(fake::SecurityText(device->security, DACL_SECURITY_INFORMATION),
            "D:P(A;;GA;;;SY)(A;;GA;;;BA)");
  EXPECT_FALSE(device->linkedWhenSecured) << "the device could be opened before it was secured";
  driver_.object.DriverUnload(&driver_.object);
  fake::ExpectNothingLeft();
}

TEST_F(DriverLoad, ARequestForADeviceObjectWithoutItsObjectFindsNoDevice)
{
  ASSERT_EQ(Load(), STATUS_SUCCESS);
  PDEVICE_OBJECT orphan;
  ASSERT_EQ(IoCreateDevice(&driver_.object, sizeof(void*), nullptr, FILE_DEVICE_LATENCY, 0, FALSE,
                           &orphan),
            STATUS_SUCCESS);
  auto irp = fake::Irp::Read(4);
  EXPECT_EQ(fake::Send(orphan, *irp), STATUS_NO_SUCH_DEVICE);
  EXPECT_EQ(irp->status(), STATUS_NO_SUCH_DEVICE);
  IoDeleteDevice(orphan);
  driver_.object.DriverUnload(&driver_.object);
  fake::ExpectNothingLeft();
}

TEST_F(DriverLoad, AFailedLoadLeavesNothingBehindAndRegistersNothing)
{
  struct Case {
    const char* what;
    int failAllocation;
    NTSTATUS createDevice;
    NTSTATUS openObject;
    NTSTATUS setSecurity;
    NTSTATUS closeHandle;
    NTSTATUS createLink;
    NTSTATUS result;
  };
  const NTSTATUS ok = STATUS_SUCCESS;
  const NTSTATUS collision = STATUS_OBJECT_NAME_COLLISION;
  const NTSTATUS noMemory = STATUS_INSUFFICIENT_RESOURCES;
  const Case cases[] = {
      {"no memory for the driver", 0, ok, ok, ok, ok, ok, STATUS_UNSUCCESSFUL},
      {"no memory for the device", 1, ok, ok, ok, ok, ok, noMemory},
      {"device object", -1, collision, ok, ok, ok, ok, collision},
      {"handle to the device", -1, ok, noMemory, ok, ok, ok, noMemory},
      {"security", -1, ok, ok, STATUS_ACCESS_DENIED, ok, ok, STATUS_ACCESS_DENIED},
      {"closing the handle", -1, ok, ok, ok, STATUS_INVALID_HANDLE, ok, STATUS_INVALID_HANDLE},
      {"symbolic link", -1, ok, ok, ok, ok, collision, collision},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fake::Reset();
    fake::DriverObject driver;
    fake::kernel().failAllocation = c.failAllocation;
    fake::kernel().createDeviceResult = c.createDevice;
    fake::kernel().openObjectResult = c.openObject;
    fake::kernel().setSecurityResult = c.setSecurity;
    fake::kernel().closeResult = c.closeHandle;
    fake::kernel().createLinkResult = c.createLink;
    EXPECT_EQ(DriverEntry(&driver.object, &driver.registryPath), c.result);
    fake::ExpectNothingLeft();
    EXPECT_EQ(driver.object.MajorFunction[IRP_MJ_CREATE], fake::InvalidDeviceRequest);
    EXPECT_EQ(driver.object.DriverUnload, nullptr);
    EXPECT_EQ(fake::kernel().errorLog.size(), c.failAllocation == 0 ? 1u : 0u);
  }
}

TEST_F(DriverLoad, NoMemoryForTheDriverIsLoggedAsAnError)
{
  fake::kernel().failAllocation = 0;
  EXPECT_EQ(Load(), STATUS_UNSUCCESSFUL);
  ASSERT_EQ(fake::kernel().errorLog.size(), 1u);
  const fake::ErrorLogEntry& entry = fake::kernel().errorLog[0];
  EXPECT_EQ(entry.bytes.size(), 40u + 2 * 20 + 2);
  EXPECT_EQ(entry.packet().NumberOfStrings, 1);
  EXPECT_EQ(entry.packet().StringOffset, 40);
  EXPECT_EQ(ULONG(entry.packet().ErrorCode), 0xE0070003u);
  EXPECT_EQ(entry.packet().UniqueErrorValue, 0u);
  EXPECT_EQ(entry.packet().FinalStatus, STATUS_INSUFFICIENT_RESOURCES);
  EXPECT_EQ(entry.packet().DumpDataSize, 0);
  EXPECT_EQ(entry.text(), L"Insufficient memory.");
}

TEST_F(DriverLoad, ErrorLogEntriesKeep55CharactersAndCodeTheSeverity)
{
  const std::wstring longText(60, L'x');
  struct Case {
    ULONG severity;
    ULONG code;
  };
  for (Case c :
       {Case{0, 0x60070001}, Case{1, 0xA0070002}, Case{2, 0xE0070003}, Case{9, 0xE0070003}}) {
    SCOPED_TRACE(c.severity);
    fake::kernel().errorLog.clear();
    WriteErrorLogEntry(&driver_.object, c.severity, reinterpret_cast<PCWSTR>(longText.c_str()), 77,
                       STATUS_DEVICE_BUSY);
    ASSERT_EQ(fake::kernel().errorLog.size(), 1u);
    const fake::ErrorLogEntry& entry = fake::kernel().errorLog[0];
    EXPECT_EQ(entry.bytes.size(), 40u + 110 + 2);
    EXPECT_EQ(ULONG(entry.packet().ErrorCode), c.code);
    EXPECT_EQ(entry.packet().UniqueErrorValue, 77u);
    EXPECT_EQ(entry.packet().FinalStatus, STATUS_DEVICE_BUSY);
    EXPECT_EQ(entry.text(), std::wstring(55, L'x'));
  }
  fake::kernel().errorLog.clear();
  fake::kernel().errorLogAvailable = false;
  WriteErrorLogEntry(&driver_.object, 2, reinterpret_cast<PCWSTR>(L"lost"), 0, STATUS_SUCCESS);
  EXPECT_TRUE(fake::kernel().errorLog.empty());
}

} // namespace
