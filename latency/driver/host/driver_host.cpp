// A driver host of its own for the tests: loads one kernel image into this process on Wine's
// kernel, runs its DriverEntry, reads back what the object manager keeps for the device the
// driver created, and unloads the driver again.
//   tamsin_driver_host IMAGE
// Writes on standard output, one line each:
//   entry 0x<NTSTATUS of DriverEntry>
//   device <the device object's name>
//   dacl <the device object's access list, as SDDL>
//   unloaded
// and stops at the first step that fails, with its error on standard error and exit code 1.
//
// A handle that a program opens by the device's name is one to a file object of the device:
// under Wine, that file object has no descriptor of its own to show, so the device object's
// descriptor can only be read through a handle to the device object itself, which takes a
// caller inside the driver's host.
#include <windows.h>

#include <sddl.h>
#include <winternl.h>

#include <cstdio>
#include <string>

#include "KernelSide.h"

namespace {

int Fail(const char* step, unsigned long code)
{
  std::fprintf(stderr, "%s failed: 0x%08lX\n", step, code);
  return 1;
}

std::string Narrow(const wchar_t* text, int length)
{
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string narrow(bytes, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, &narrow[0], bytes, nullptr, nullptr);
  return narrow;
}

int DescribeDevice(HANDLE device)
{
  alignas(UNICODE_STRING) BYTE nameBuffer[1024];
  ULONG length = 0;
  NTSTATUS status =
      NtQueryObject(device, ObjectNameInformation, nameBuffer, sizeof(nameBuffer), &length);
  if (!NT_SUCCESS(status)) {
    return Fail("NtQueryObject", ULONG(status));
  }
  const auto* name = reinterpret_cast<const UNICODE_STRING*>(nameBuffer);
  std::printf("device %s\n", Narrow(name->Buffer, name->Length / sizeof(WCHAR)).c_str());

  DWORD needed = 0;
  GetKernelObjectSecurity(device, DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
  if (needed == 0) {
    return Fail("GetKernelObjectSecurity (size)", GetLastError());
  }
  std::string descriptor(needed, '\0');
  if (!GetKernelObjectSecurity(device, DACL_SECURITY_INFORMATION, &descriptor[0], needed,
                               &needed)) {
    return Fail("GetKernelObjectSecurity", GetLastError());
  }
  LPSTR text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(
          &descriptor[0], SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
    return Fail("ConvertSecurityDescriptorToStringSecurityDescriptor", GetLastError());
  }
  std::printf("dacl %s\n", text);
  LocalFree(text);
  return 0;
}

int Host(const char* imagePath)
{
  // The kernel of this process relocates a driver image that is not loaded at its base, as
  // it does in Wine's own host.
  HMODULE image = LoadLibraryExA(imagePath, nullptr, 0);
  if (image == nullptr) {
    return Fail("LoadLibraryEx", GetLastError());
  }
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const BYTE*>(image) +
                                                             dos->e_lfanew);
  void* entryPoint = reinterpret_cast<BYTE*>(image) + nt->OptionalHeader.AddressOfEntryPoint;

  const long entry = host::LoadDriver(entryPoint, L"\\Driver\\tamsin_driver");
  std::printf("entry 0x%08lX\n", static_cast<unsigned long>(entry));
  if (!NT_SUCCESS(entry)) {
    return Fail("DriverEntry", static_cast<unsigned long>(entry));
  }
  void* device = nullptr;
  const long opened = host::OpenDeviceObject(READ_CONTROL, &device);
  int result = NT_SUCCESS(opened)
                   ? DescribeDevice(device)
                   : Fail("ObOpenObjectByPointer", static_cast<unsigned long>(opened));
  if (device != nullptr) {
    CloseHandle(device);
  }
  host::UnloadDriver();
  std::printf("unloaded\n");
  std::fflush(stdout);
  return result;
}

} // namespace

int main(int argc, char** argv)
{
  if (argc != 2) {
    std::fprintf(stderr, "usage: tamsin_driver_host IMAGE\n");
    return 2;
  }
  return Host(argv[1]);
}
