#include "EmbDrvCtrl.h"

#include <cstdio>
#include <cstring>

#include "ErrorReport.h"
#include "LatencyProtocol.h"
#include "NtObjectNames.h"

namespace {

const char serviceName[] = "tamsin_driver";
// The device's DOS name as the object manager knows it.
const wchar_t deviceLinkName[] = L"\\??\\tamsin_static_device";

using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
using DisableRedirectionFunction = BOOL(WINAPI*)(PVOID*);
using RevertRedirectionFunction = BOOL(WINAPI*)(PVOID);

// Looked up at run time: Windows versions without WOW64 lack them.
template <typename Function> Function Lookup(HMODULE module, const char* name)
{
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Appends `part` when the result stays shorter than MAX_PATH - 1 characters.
bool Append(char* buffer, size_t& length, const char* part, const char* failure)
{
  const size_t partLength = std::strlen(part);
  if (length + partLength >= MAX_PATH - 1) {
    reportErrorAndClose("%s", failure);
    std::memset(buffer, 0, MAX_PATH);
    return false;
  }
  std::memcpy(buffer + length, part, partLength);
  length += partLength;
  return true;
}

using NtObjectNames::CountedString;
using NtObjectNames::objCaseInsensitive;
using NtObjectNames::ObjectAttributes;
using OpenSymbolicLinkFunction = LONG(WINAPI*)(HANDLE*, ACCESS_MASK, const ObjectAttributes*);
using MakeTemporaryFunction = LONG(WINAPI*)(HANDLE);
using CloseFunction = LONG(WINAPI*)(HANDLE);

// A driver whose host process died never ran its unload: the DOS name of its device stays,
// pointing at a device that is gone, and Wine then refuses to load the driver again. The
// name is removed when it leads nowhere; a device that answers is left alone. 0 or the
// status of the failed step.
LONG RemoveDeadDeviceLink()
{
  HANDLE device = CreateFileA(LATENCY_WIN32_DEVICE_NAME, 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  if (device != INVALID_HANDLE_VALUE) {
    CloseHandle(device);
    return 0;
  }
  if (GetLastError() != ERROR_PATH_NOT_FOUND) {
    return 0; // no name at all
  }
  HMODULE ntdll = GetModuleHandleA("ntdll");
  auto openLink = Lookup<OpenSymbolicLinkFunction>(ntdll, "NtOpenSymbolicLinkObject");
  auto makeTemporary = Lookup<MakeTemporaryFunction>(ntdll, "NtMakeTemporaryObject");
  auto close = Lookup<CloseFunction>(ntdll, "NtClose");
  if (openLink == nullptr || makeTemporary == nullptr || close == nullptr) {
    return static_cast<LONG>(ERROR_PROC_NOT_FOUND);
  }
  const USHORT bytes = static_cast<USHORT>(sizeof(deviceLinkName) - sizeof(wchar_t));
  const CountedString name = {bytes, static_cast<USHORT>(sizeof(deviceLinkName)), deviceLinkName};
  const ObjectAttributes attributes = {sizeof(attributes), nullptr, &name,
                                       objCaseInsensitive, nullptr, nullptr};
  HANDLE link = nullptr;
  LONG status = openLink(&link, DELETE, &attributes);
  if (status < 0) {
    return status;
  }
  // No longer permanent: it goes with its last handle.
  status = makeTemporary(link);
  close(link);
  return status < 0 ? status : 0;
}

} // namespace

EmbDrvCtrl::~EmbDrvCtrl() = default;

uint32_t EmbDrvCtrl::InstallDrvByRes(WORD resourceId)
{
  HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(resourceId), DRIVER_RESOURCE_TYPE);
  if (resource == nullptr) {
    const DWORD error = GetLastError();
    reportErrorAndClose("InstallDrvByRes: FindResource failed with error 0x%08X.\n",
                        unsigned(error));
    return error;
  }
  HGLOBAL loaded = LoadResource(nullptr, resource);
  if (loaded == nullptr) {
    const DWORD error = GetLastError();
    reportErrorAndClose("InstallDrvByRes: LoadResource failed with error 0x%08X.\n",
                        unsigned(error));
    return error;
  }
  const void* image = LockResource(loaded);
  if (image == nullptr) {
    reportErrorAndClose("InstallDrvByRes: LockResource failed.\n");
    return 1;
  }
  const DWORD size = SizeofResource(nullptr, resource);
  if (size == 0) {
    const DWORD error = GetLastError();
    reportErrorAndClose("InstallDrvByRes: SizeofResource failed with error 0x%08X.\n",
                        unsigned(error));
    return error;
  }
  const uint32_t result = InstallDrv(image, size);
  if (result != 0) {
    reportErrorAndClose("InstallDrvByRes: InstallDrv failed with error 0x%08X.\n",
                        unsigned(result));
    return result;
  }
  return 0;
}

uint32_t EmbDrvCtrl::InstallDrv(const void* image, uint32_t size)
{
  bool wow64 = false;
  uint32_t error = IsWow64Process(&wow64);
  if (error != 0) {
    reportErrorAndClose("InstallDrv: IsWow64Process failed with error 0x%08X\n", unsigned(error));
    return error;
  }
  PVOID redirection = nullptr;
  if (wow64) {
    error = DisableWow64FsRedirection(&redirection);
    if (error != 0) {
      reportErrorAndClose("InstallDrv: DisableWow64FsRedirection failed with error 0x%08X\n",
                          unsigned(error));
      return error;
    }
  }
  auto revert = [&] {
    if (wow64) {
      RevertWow64FsRedirection(redirection);
    }
  };

  char path[MAX_PATH];
  if (!GetDrvPathAndName(path)) {
    reportErrorAndClose("InstallDrv: GetDrvPathAndName failed.\n");
    revert();
    return 1;
  }

  FILE* file = std::fopen(path, "wb");
  if (file == nullptr) {
    reportErrorAndClose("InstallDrv: fopen failed to create '%s'.\n", path);
  } else {
    if (std::fwrite(image, 1, size, file) < size) {
      reportErrorAndClose("InstallDrv: fwrite failed.\n");
    }
    if (std::fclose(file) != 0) {
      reportErrorAndClose("InstallDrv: fclose failed.\n");
    }
  }

  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) {
    error = GetLastError();
    reportErrorAndClose("InstallDrv: OpenSCManager failed with error 0x%08X\n", unsigned(error));
    DeleteFileA(path);
    revert();
    return error;
  }

  SC_HANDLE service =
      CreateServiceA(manager, serviceName, serviceName, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                     SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, path, nullptr, nullptr, nullptr,
                     nullptr, nullptr);
  if (service == nullptr) {
    error = GetLastError();
    if (error != ERROR_SERVICE_EXISTS) {
      reportErrorAndClose("InstallDrv: CreateService failed with error 0x%08X\n", unsigned(error));
      DeleteFileA(path);
      CloseServiceHandle(manager);
      revert();
      return error;
    }
    service = OpenServiceA(manager, serviceName, SERVICE_ALL_ACCESS);
  }

  if (!StartServiceA(service, 0, nullptr)) {
    error = GetLastError();
    if (error != ERROR_SERVICE_ALREADY_RUNNING) {
      reportErrorAndClose("InstallDrv: StartService failed with error 0x%08X\n", unsigned(error));
      DeleteFileA(path);
      if (service != nullptr) {
        CloseServiceHandle(service);
      }
      CloseServiceHandle(manager);
      revert();
      return error;
    }
  }

  // The running driver no longer needs its file. Wine, unlike Windows, keeps a loaded image
  // mapped and refuses to delete it (access denied); it is left for UninstallDrv, which
  // deletes it once the service has stopped, and nothing is reported.
  if (!DeleteFileA(path)) {
    error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) {
      reportErrorAndClose("InstallDrv: File %s doesn't exist.\n", path);
    } else if (error != ERROR_ACCESS_DENIED) {
      reportErrorAndClose("InstallDrv: DeleteFile failed with error 0x%08X\n", unsigned(error));
    }
  }

  if (wow64) {
    error = RevertWow64FsRedirection(redirection);
    if (error != 0) {
      reportErrorAndClose("InstallDrv: RevertWow64FsRedirection failed with error 0x%08X\n",
                          unsigned(error));
    }
  }

  if (!CloseServiceHandle(service)) {
    reportErrorAndClose("InstallDrv: CloseServiceHandle for service failed with error 0x%08X\n",
                        unsigned(GetLastError()));
  }
  if (!CloseServiceHandle(manager)) {
    reportErrorAndClose(
        "InstallDrv: CloseServiceHandle for control manager failed with error 0x%08X\n",
        unsigned(GetLastError()));
  }
  return 0;
}

// The service goes first, then the file: Wine cannot delete the file of a loaded driver, so
// the driver must be unloaded before. On Windows the order makes no difference.
bool EmbDrvCtrl::UninstallDrv(bool* stillPresent)
{
  bool result = true;
  if (stillPresent != nullptr) {
    *stillPresent = false;
  }

  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) {
    reportErrorAndClose("UninstallDrv: OpenSCManager failed with error 0x%08X\n",
                        unsigned(GetLastError()));
    result = false;
  } else {
    SC_HANDLE service = OpenServiceA(manager, serviceName, SERVICE_ALL_ACCESS);
    if (service == nullptr) {
      const DWORD error = GetLastError();
      if (error != ERROR_SERVICE_DOES_NOT_EXIST) {
        reportErrorAndClose("UninstallDrv: OpenService failed with error 0x%08X\n",
                            unsigned(error));
        result = false;
      }
    } else {
      SERVICE_STATUS status = {};
      if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
        const DWORD error = GetLastError();
        if (error == ERROR_SERVICE_NOT_ACTIVE) {
          reportErrorAndClose("UninstallDrv: The service has not been started.\n");
        } else if (error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE) {
          // The host process that ran the driver is gone (killed, crashed), and the driver
          // with it: there is nothing left to stop. Wine's service manager only notices
          // when it tries to tell the host.
        } else {
          reportErrorAndClose("UninstallDrv: ControlService failed with error 0x%08X\n",
                              unsigned(error));
        }
      }
      bool deleted = true;
      if (!DeleteService(service)) {
        const DWORD error = GetLastError();
        if (error != 0 && error != ERROR_SERVICE_MARKED_FOR_DELETE) {
          reportErrorAndClose("UninstallDrv: DeleteService failed with error 0x%08X\n",
                              unsigned(error));
          result = false;
          deleted = false;
        }
      }
      if (deleted) {
        if (!CloseServiceHandle(service)) {
          reportErrorAndClose(
              "UninstallDrv: CloseServiceHandle for service after deletion failed with error "
              "0x%08X\n",
              unsigned(GetLastError()));
        }
        Sleep(50);
        service = OpenServiceA(manager, serviceName, SERVICE_ALL_ACCESS);
        if (service != nullptr) {
          if (stillPresent != nullptr) {
            *stillPresent = true;
          }
        } else {
          const DWORD error = GetLastError();
          if (error != ERROR_SERVICE_DOES_NOT_EXIST) {
            reportErrorAndClose("UninstallDrv: OpenService (second call) failed with error "
                                "0x%08X\n",
                                unsigned(error));
          }
        }
      }
      if (service != nullptr && !CloseServiceHandle(service)) {
        reportErrorAndClose("UninstallDrv: CloseServiceHandle for service failed with error "
                            "0x%08X\n",
                            unsigned(GetLastError()));
      }
    }
    if (!CloseServiceHandle(manager)) {
      reportErrorAndClose(
          "UninstallDrv: CloseServiceHandle for control manager failed with error 0x%08X\n",
          unsigned(GetLastError()));
    }
  }

  const LONG linkStatus = RemoveDeadDeviceLink();
  if (linkStatus != 0) {
    reportErrorAndClose("UninstallDrv: removing the device name left behind failed with status "
                        "0x%08X\n",
                        unsigned(linkStatus));
    result = false;
  }

  bool wow64 = false;
  uint32_t error = IsWow64Process(&wow64);
  if (error != 0) {
    reportErrorAndClose("UninstallDrv: IsWow64Process failed with error 0x%08X\n", unsigned(error));
    result = false;
    wow64 = false;
  }
  PVOID redirection = nullptr;
  if (wow64) {
    error = DisableWow64FsRedirection(&redirection);
    if (error != 0) {
      reportErrorAndClose("UninstallDrv: DisableWow64FsRedirection failed with error 0x%08X\n",
                          unsigned(error));
      result = false;
    }
  }
  char path[MAX_PATH];
  if (!GetDrvPathAndName(path)) {
    reportErrorAndClose("UninstallDrv: GetDrvPathAndName failed.\n");
    result = false;
  } else if (!DeleteFileA(path)) {
    error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) {
      reportErrorAndClose("UninstallDrv: DeleteFile failed with error 0x%08X\n", unsigned(error));
      result = false;
    }
  }
  if (wow64) {
    error = RevertWow64FsRedirection(redirection);
    if (error != 0) {
      reportErrorAndClose("UninstallDrv: RevertWow64FsRedirection failed with error 0x%08X\n",
                          unsigned(error));
    }
  }
  return result;
}

bool EmbDrvCtrl::GetDrvPathAndName(char* buffer)
{
  std::memset(buffer, 0, MAX_PATH);
  const UINT length = GetSystemDirectoryA(buffer, MAX_PATH);
  if (length > MAX_PATH) {
    reportErrorAndClose(
        "GetDrvPathAndName: GetSystemDirectory failed because of too small buffer.\n");
    std::memset(buffer, 0, MAX_PATH);
    return false;
  }
  if (length == 0) {
    reportErrorAndClose("GetDrvPathAndName: GetSystemDirectory failed with error 0x%08X\n",
                        unsigned(GetLastError()));
    std::memset(buffer, 0, MAX_PATH);
    return false;
  }
  return AppendDrvPathAndName(buffer);
}

bool EmbDrvCtrl::AppendDrvPathAndName(char* buffer)
{
  size_t length = strnlen(buffer, MAX_PATH - 1);
  buffer[length] = 0;
  if (length == 0 || buffer[length - 1] != '\\') {
    if (length >= MAX_PATH - 1) {
      reportErrorAndClose("GetDrvPathAndName: Buffer too small to append backslash.\n");
      std::memset(buffer, 0, MAX_PATH);
      return false;
    }
    buffer[length++] = '\\';
  }
  return Append(buffer, length, "drivers\\",
                "GetDrvPathAndName: Buffer too small to append driver directory.\n") &&
         Append(buffer, length, serviceName,
                "GetDrvPathAndName: Buffer too small to append driver name.\n") &&
         Append(buffer, length, ".sys",
                "GetDrvPathAndName: Buffer too small to append driver extension.\n");
}

uint32_t EmbDrvCtrl::IsWow64Process(bool* isWow64)
{
  *isWow64 = false;
  HMODULE kernel32 = GetModuleHandleA("kernel32");
  if (kernel32 == nullptr) {
    const DWORD error = GetLastError();
    reportErrorAndClose("IsWow64Process: GetModuleHandle failed with error 0x%08X.\n",
                        unsigned(error));
    return error;
  }
  auto isWow64Process = Lookup<IsWow64ProcessFunction>(kernel32, "IsWow64Process");
  if (isWow64Process == nullptr) {
    return 0; // a Windows without WOW64
  }
  BOOL answer = FALSE;
  if (!isWow64Process(GetCurrentProcess(), &answer)) {
    const DWORD error = GetLastError();
    reportErrorAndClose("IsWow64Process: IsWow64Process failed with error 0x%08X.\n",
                        unsigned(error));
    return error;
  }
  *isWow64 = answer != FALSE;
  return 0;
}

uint32_t EmbDrvCtrl::DisableWow64FsRedirection(PVOID* oldValue)
{
  *oldValue = nullptr;
  HMODULE kernel32 = GetModuleHandleA("kernel32");
  if (kernel32 == nullptr) {
    const DWORD error = GetLastError();
    reportErrorAndClose("DisableWow64FsRedirection: GetModuleHandle failed with error 0x%08X.\n",
                        unsigned(error));
    return error;
  }
  auto disable = Lookup<DisableRedirectionFunction>(kernel32, "Wow64DisableWow64FsRedirection");
  if (disable == nullptr) {
    const DWORD error = GetLastError();
    reportErrorAndClose("DisableWow64FsRedirection: GetProcAddress failed with error 0x%08X.\n",
                        unsigned(error));
    return error;
  }
  if (!disable(oldValue)) {
    const DWORD error = GetLastError();
    reportErrorAndClose(
        "DisableWow64FsRedirection: Wow64DisableWow64FsRedirection failed with error 0x%08X.\n",
        unsigned(error));
    return error;
  }
  return 0;
}

uint32_t EmbDrvCtrl::RevertWow64FsRedirection(PVOID oldValue)
{
  HMODULE kernel32 = GetModuleHandleA("kernel32");
  if (kernel32 == nullptr) {
    const DWORD error = GetLastError();
    reportErrorAndClose("RevertWow64FsRedirection: GetModuleHandle failed with error 0x%08X.\n",
                        unsigned(error));
    return error;
  }
  auto revert = Lookup<RevertRedirectionFunction>(kernel32, "Wow64RevertWow64FsRedirection");
  if (revert == nullptr) {
    const DWORD error = GetLastError();
    reportErrorAndClose("RevertWow64FsRedirection: GetProcAddress failed with error 0x%08X.\n",
                        unsigned(error));
    return error;
  }
  if (!revert(oldValue)) {
    const DWORD error = GetLastError();
    reportErrorAndClose(
        "RevertWow64FsRedirection: Wow64RevertWow64FsRedirection failed with error 0x%08X.\n",
        unsigned(error));
    return error;
  }
  return 0;
}
