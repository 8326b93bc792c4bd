#pragma once

// The 32-bit tests run under WOW64, as Tamsin does on 64-bit Windows: they see the real system
// folder, where the meter writes its driver, only with the file-system redirection off.
#include <windows.h>

#include <string>

namespace tamsin_test {

class WithoutRedirection {
public:
  WithoutRedirection()
  {
    HMODULE kernel32 = ::GetModuleHandleA("kernel32");
    off_ = reinterpret_cast<RedirectionOff>(
        reinterpret_cast<void*>(::GetProcAddress(kernel32, "Wow64DisableWow64FsRedirection")));
    back_ = reinterpret_cast<RedirectionBack>(
        reinterpret_cast<void*>(::GetProcAddress(kernel32, "Wow64RevertWow64FsRedirection")));
    off_(&old_);
  }
  ~WithoutRedirection() { back_(old_); }
  WithoutRedirection(const WithoutRedirection&) = delete;
  WithoutRedirection& operator=(const WithoutRedirection&) = delete;

private:
  using RedirectionOff = BOOL(WINAPI*)(PVOID*);
  using RedirectionBack = BOOL(WINAPI*)(PVOID);
  RedirectionOff off_;
  RedirectionBack back_;
  PVOID old_ = nullptr;
};

/** Where the meter writes its driver (seen with the redirection off). */
inline std::string driverFile()
{
  char directory[MAX_PATH] = "";
  ::GetSystemDirectoryA(directory, MAX_PATH);
  return std::string(directory) + "\\drivers\\tamsin_driver.sys";
}

} // namespace tamsin_test
