#include "TrClock.h"

#include <windows.h>

#include <mmsystem.h>

namespace Tr {

volatile std::uint32_t clockEpoch = 0;

std::uint32_t getMilliseconds()
{
  if (clockEpoch == 0) {
    // Two threads may read the clock for the first time at once: the one whose epoch lands
    // first wins, and only it raises the timer resolution. A system clock that reads 0 just
    // then leaves the epoch untaken and the next reading takes it.
    const LONG first = static_cast<LONG>(timeGetTime());
    if (InterlockedCompareExchange(reinterpret_cast<volatile LONG*>(&clockEpoch), first, 0) == 0) {
      timeBeginPeriod(1);
    }
  }
  return timeGetTime() - clockEpoch;
}

void sleepMs(std::uint32_t ms)
{
  Sleep(ms);
}

} // namespace Tr
