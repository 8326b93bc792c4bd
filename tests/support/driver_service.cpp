#include "driver_service.h"

#include <cstdio>

namespace test {
namespace {

std::string failure(const char* what)
{
  char text[128];
  std::snprintf(text, sizeof(text), "%s failed with error %lu", what, GetLastError());
  return text;
}

// Only guards against a driver that never stops or a service that never goes: on a busy
// machine an unload can take seconds, and a service deleted while it still runs stays marked
// for deletion, so that the next test could not install it again.
constexpr DWORD serviceGuardMs = 30000;

void stopAndDelete(SC_HANDLE service)
{
  SERVICE_STATUS status = {};
  if (ControlService(service, SERVICE_CONTROL_STOP, &status)) {
    const DWORD start = GetTickCount();
    while (status.dwCurrentState != SERVICE_STOPPED && GetTickCount() - start < serviceGuardMs) {
      Sleep(20);
      if (!QueryServiceStatus(service, &status)) {
        break;
      }
    }
  }
  DeleteService(service);
}

// Waits until the service manager no longer knows the name.
void waitUntilGone(SC_HANDLE manager, const std::string& name)
{
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < serviceGuardMs) {
    SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_QUERY_STATUS);
    if (service == nullptr) {
      return;
    }
    CloseServiceHandle(service);
    Sleep(20);
  }
}

} // namespace

DriverService::DriverService(std::string name, std::string imagePath, Configure configure)
    : name_(std::move(name))
{
  removeLeftover(name_);
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) {
    error_ = failure("OpenSCManager");
    return;
  }
  SC_HANDLE service =
      CreateServiceA(manager, name_.c_str(), name_.c_str(), SERVICE_ALL_ACCESS,
                     SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                     imagePath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
  if (service == nullptr) {
    error_ = failure("CreateService");
    CloseServiceHandle(manager);
    return;
  }
  installed_ = true;
  if (configure) {
    HKEY key;
    std::string path = "SYSTEM\\CurrentControlSet\\Services\\" + name_;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
      configure(key);
      RegCloseKey(key);
    }
  }
  if (!StartServiceA(service, 0, nullptr)) {
    error_ = failure("StartService");
  }
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
}

DriverService::~DriverService()
{
  remove();
}

bool DriverService::remove()
{
  if (!installed_) {
    return true;
  }
  removeLeftover(name_);
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service =
      manager ? OpenServiceA(manager, name_.c_str(), SERVICE_QUERY_STATUS) : nullptr;
  bool gone = service == nullptr;
  if (service != nullptr) {
    CloseServiceHandle(service);
  }
  if (manager != nullptr) {
    CloseServiceHandle(manager);
  }
  installed_ = !gone;
  return gone;
}

void DriverService::removeLeftover(const std::string& name)
{
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) {
    return;
  }
  SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_ALL_ACCESS);
  if (service != nullptr) {
    stopAndDelete(service);
    CloseServiceHandle(service);
    waitUntilGone(manager, name);
  }
  CloseServiceHandle(manager);
}

std::string x86DriverPath(const char* fileName)
{
  return std::string(HALDEN_X86_DRIVER_DIR) + "\\" + fileName;
}

std::string x64DriverPath(const char* fileName)
{
  return std::string(HALDEN_X64_DRIVER_DIR) + "\\" + fileName;
}

} // namespace test
