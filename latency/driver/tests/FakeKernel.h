// A user-mode stand-in for the few kernel and HAL routines the measuring driver imports, so
// that the driver's own sources run unchanged in a test: a clock the test sets, timers the
// test fires, IRPs the test builds and whose completions it reads back, and a pool that counts
// its blocks. It also checks the rules a real kernel would punish: no spin lock taken twice,
// no wait at DISPATCH_LEVEL, locks always taken in one order, no IRP completed twice or with
// its cancel routine still set, and no timer re-armed the way that hangs Wine.
#pragma once

#include <ntddk.h>

#include "FakeSecurity.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace fake {

// An IRP with its stack locations and the buffers the I/O manager would supply.
class Irp {
public:
  explicit Irp(CCHAR stackCount = 1);
  ~Irp();
  Irp(const Irp&) = delete;
  Irp& operator=(const Irp&) = delete;

  // A buffered device control request: one system buffer, as long as the longer of the two.
  static std::unique_ptr<Irp> DeviceControl(ULONG code, const void* input, ULONG inputLength,
                                            ULONG outputLength);
  // A direct-I/O read of `length` bytes; `mapped` false leaves the buffer without a system
  // mapping, so the driver has to map it (see Kernel::mapResult).
  static std::unique_ptr<Irp> Read(ULONG length, bool withMdl = true, bool mapped = true);
  static std::unique_ptr<Irp> Major(UCHAR major, UCHAR minor = 0);

  PIRP get() { return irp_; }
  // The stack location that the first driver it is sent to sees.
  PIO_STACK_LOCATION next() { return reinterpret_cast<PIO_STACK_LOCATION>(irp_ + 1) + index_; }

  bool completed() const;
  NTSTATUS status() const;
  ULONG_PTR information() const;
  std::vector<uint8_t>& buffer() { return buffer_; }
  // The read buffer as intervals.
  std::vector<uint32_t> intervals() const;

private:
  std::vector<unsigned char> storage_;
  PIRP irp_;
  int index_;
  std::vector<uint8_t> buffer_;
  MDL mdl_;
};

struct ErrorLogEntry {
  std::vector<uint8_t> bytes;
  const IO_ERROR_LOG_PACKET& packet() const
  {
    return *reinterpret_cast<const IO_ERROR_LOG_PACKET*>(bytes.data());
  }
  std::wstring text() const;
};

// The kernel's state as the tests see and steer it.
struct Kernel {
  // Clock: the performance counter and its frequency.
  LONGLONG counter = 1000000;
  LONGLONG frequency = 10000000;

  // Pool: the n-th allocation from now fails (counting from 0), -1 for none.
  int failAllocation = -1;
  int allocations = 0;

  NTSTATUS createDeviceResult = STATUS_SUCCESS;
  NTSTATUS createLinkResult = STATUS_SUCCESS;
  // ObOpenObjectByPointer, ZwSetSecurityObject and ZwClose (which closes the handle all the
  // same).
  NTSTATUS openObjectResult = STATUS_SUCCESS;
  NTSTATUS setSecurityResult = STATUS_SUCCESS;
  NTSTATUS closeResult = STATUS_SUCCESS;

  // ExSetTimerResolution: the resolution granted for a request, in 100-ns units; 0 grants
  // what was asked.
  ULONG grantedResolution = 0;
  std::vector<std::pair<ULONG, BOOLEAN>> resolutionCalls;

  int flushes = 0;
  int powerIrpsStarted = 0;

  // What MmMapLockedPagesSpecifyCache answers for a buffer without a system mapping.
  bool mapResult = true;

  bool errorLogAvailable = true;
  std::vector<ErrorLogEntry> errorLog;
};

Kernel& kernel();

// Forgets everything: call at the start of every test.
void Reset();

// Sends the IRP to the device as the I/O manager does and returns the dispatch routine's
// result.
NTSTATUS Send(PDEVICE_OBJECT device, Irp& irp);

// Cancels the IRP as IoCancelIrp does. With `deferRoutine` the cancel routine is only taken
// from the IRP (as if it had started on another processor) and runs at RunDeferredCancel.
void Cancel(Irp& irp, bool deferRoutine = false);
void RunDeferredCancel();

// The timer that is armed now; fails the test unless exactly one is.
struct ArmedTimer {
  PKTIMER timer = nullptr;
  LONGLONG dueTime = 0;
  PKDPC dpc = nullptr;
};
ArmedTimer Armed();
int ArmedCount();

// Lets `intervalMicroseconds` pass since the last expiry and runs the armed timer's DPC
// at DISPATCH_LEVEL, as its expiry would.
void Expire(ULONG intervalMicroseconds);
// Moves the clock without any timer expiring (negative: backwards).
void AdvanceClock(LONGLONG microseconds);

// A driver object as the I/O manager hands it to DriverEntry: every major function refuses.
struct DriverObject {
  DRIVER_OBJECT object = {};
  DRIVER_EXTENSION extension = {};
  UNICODE_STRING registryPath = {};
  DriverObject();
};
// What every major function of a fresh driver object points at.
NTSTATUS NTAPI InvalidDeviceRequest(PDEVICE_OBJECT device, PIRP irp);

// Devices and links the driver created.
struct DeviceRecord {
  std::wstring name;
  ULONG extensionSize = 0;
  BOOLEAN exclusive = FALSE;
  // What ZwSetSecurityObject was given last for the device: a self-relative copy of the
  // descriptor, the parts it was to replace, and whether a link led to the device then.
  std::vector<uint8_t> security;
  SECURITY_INFORMATION securityInformation = 0;
  bool linkedWhenSecured = false;
};

const DeviceRecord* Device(PDEVICE_OBJECT device);
PDEVICE_OBJECT DeviceNamed(const std::wstring& name);
bool LinkExists(const std::wstring& link, const std::wstring& target);
int DeviceCount();
int LiveBlocks();
int LiveBlocksWithOtherTags(ULONG tag);

// IRPs that were dispatched and not completed.
int PendingIrps();

// A device object of another driver, below a device under test.
struct LowerDevice {
  DRIVER_OBJECT driver = {};
  DEVICE_OBJECT device = {};
  // How the lower driver answers each request.
  NTSTATUS answer = STATUS_SUCCESS;
  std::vector<std::pair<UCHAR, UCHAR>> seen;
  LowerDevice();
};

// Number of IoDetachDevice calls made for `target`.
int Detaches(PDEVICE_OBJECT target);

// Fails the current test when a lock is still held or a cancel routine still waits.
void ExpectQuiet();
// Fails the current test when pool blocks, devices, links, kernel handles, armed timers or
// uncompleted IRPs are left.
void ExpectNothingLeft();

} // namespace fake
