// Owner of one Win32 handle: closes it when the owner goes.
#pragma once

#include <windows.h>

class WnHandle {
public:
  WnHandle() = default;
  virtual ~WnHandle();

  WnHandle(const WnHandle&) = delete;
  WnHandle& operator=(const WnHandle&) = delete;

  HANDLE get() const { return handle; }
  bool isSet() const { return handle != nullptr; }

  // Closes the handle when one is set and leaves the object empty. A failing CloseHandle
  // cannot be mended by the caller, so its error is read and dropped.
  void close();

protected:
  HANDLE handle = nullptr;
};
