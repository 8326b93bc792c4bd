// A user-mode handle on the simulated Halden driver's control device, for its console tool
// and for the tests that script it. Every call returns 0 or the Win32 error.
#pragma once

#include "simhalden_control.h"

#include <string.h>

class SimHaldenController {
public:
  SimHaldenController()
  {
    control_ = CreateFileA(SIMHALDEN_CONTROL_DOS_NAME, GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    openError_ = control_ == INVALID_HANDLE_VALUE ? GetLastError() : 0;
  }
  ~SimHaldenController()
  {
    if (control_ != INVALID_HANDLE_VALUE) {
      CloseHandle(control_);
    }
  }
  SimHaldenController(const SimHaldenController&) = delete;
  SimHaldenController& operator=(const SimHaldenController&) = delete;

  bool isOpen() const { return control_ != INVALID_HANDLE_VALUE; }
  DWORD openError() const { return openError_; }

  DWORD reset() { return request(IOCTL_SIMHALDEN_RESET, nullptr, 0, nullptr, 0); }
  DWORD getState(HaldenSimState& state)
  {
    memset(&state, 0, sizeof(state));
    return request(IOCTL_SIMHALDEN_GET_STATE, nullptr, 0, &state, sizeof(state));
  }
  DWORD setDeviceList(const OxDeviceList& list)
  {
    return request(IOCTL_SIMHALDEN_SET_DEVICE_LIST, &list, sizeof(list), nullptr, 0);
  }
  DWORD setStatus(const OxStatus& status)
  {
    return request(IOCTL_SIMHALDEN_SET_STATUS, &status, sizeof(status), nullptr, 0);
  }
  DWORD setVersion(const OxInterfaceVersion& version)
  {
    return request(IOCTL_SIMHALDEN_SET_VERSION, &version, sizeof(version), nullptr, 0);
  }
  DWORD setVersion(uint32_t interfaceVersion)
  {
    OxInterfaceVersion version = {};
    version.interfaceVersion = interfaceVersion;
    return setVersion(version);
  }
  DWORD armFault(const HaldenSimFault& fault)
  {
    return request(IOCTL_SIMHALDEN_ARM_FAULT, &fault, sizeof(fault), nullptr, 0);
  }
  // The next `count` requests of `code` (0: all of them) fail with the NTSTATUS.
  DWORD failNext(uint32_t code, int32_t status, uint32_t count = 1)
  {
    HaldenSimFault fault = {code, count, SIMHALDEN_FAIL, status, 0, 0};
    return armFault(fault);
  }
  // ... answer at most `bytes` bytes.
  DWORD shortenNext(uint32_t code, uint32_t bytes, uint32_t count = 1)
  {
    HaldenSimFault fault = {code, count, SIMHALDEN_SHORT, 0, bytes, 0};
    return armFault(fault);
  }
  // ... are pended and completed after `ms`, or held until completeHeld.
  DWORD pendNext(uint32_t code, uint32_t ms, uint32_t count = 1)
  {
    HaldenSimFault fault = {code, count, SIMHALDEN_PEND, 0, 0, ms};
    return armFault(fault);
  }
  DWORD clearFaults() { return request(IOCTL_SIMHALDEN_CLEAR_FAULTS, nullptr, 0, nullptr, 0); }
  DWORD completeHeld(uint32_t* completed = nullptr)
  {
    uint32_t n = 0;
    const DWORD error = request(IOCTL_SIMHALDEN_COMPLETE_HELD, nullptr, 0, &n, sizeof(n));
    if (completed != nullptr) {
      *completed = n;
    }
    return error;
  }
  // The log is large: callers keep it off small stacks.
  DWORD getLog(HaldenSimLog& log)
  {
    memset(&log, 0, sizeof(log));
    return request(IOCTL_SIMHALDEN_GET_LOG, nullptr, 0, &log, sizeof(log));
  }
  DWORD clearLog() { return request(IOCTL_SIMHALDEN_CLEAR_LOG, nullptr, 0, nullptr, 0); }

private:
  DWORD request(DWORD code, const void* input, DWORD inputLength, void* output, DWORD outputLength)
  {
    if (control_ == INVALID_HANDLE_VALUE) {
      return openError_;
    }
    DWORD returned = 0;
    if (!DeviceIoControl(control_, code, const_cast<void*>(input), inputLength, output,
                         outputLength, &returned, nullptr)) {
      return GetLastError();
    }
    return 0;
  }

  HANDLE control_;
  DWORD openError_;
};
