#include "WnHandle.h"

WnHandle::~WnHandle()
{
  close();
}

void WnHandle::close()
{
  if (handle != nullptr) {
    if (!CloseHandle(handle)) {
      (void)GetLastError();
    }
    handle = nullptr;
  }
}
