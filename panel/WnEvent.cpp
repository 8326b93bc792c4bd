#include "WnEvent.h"

uint32_t WnEvent::create()
{
  close();
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr) {
    return GetLastError();
  }
  handle = event;
  return 0;
}
