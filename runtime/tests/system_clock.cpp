#include "system_clock.h"

#include "TrClock.h"

#include <mmsystem.h>

#include <atomic>

namespace test {
namespace {

constexpr DWORD heldClockReleaseMs = 30000;

std::atomic<ClockSource> source{nullptr};
std::atomic<int> periodRequests{0};

std::atomic<DWORD> heldRaw{0};
std::atomic<DWORD> heldSince{0};
std::atomic<int> heldReadings{0};

DWORD heldSource()
{
  heldReadings++;
  if (systemClock() - heldSince.load() > heldClockReleaseMs)
    return systemClock();
  return heldRaw.load();
}

} // namespace

DWORD systemClock()
{
  using TimeGetTime = DWORD(WINAPI*)();
  static const auto real = reinterpret_cast<TimeGetTime>(
      reinterpret_cast<void*>(GetProcAddress(LoadLibraryA("winmm.dll"), "timeGetTime")));
  return real();
}

void setClockSource(ClockSource newSource)
{
  source = newSource;
}

int timerPeriodRequests()
{
  return periodRequests;
}

HeldClock::HeldClock()
{
  const std::uint32_t reading = Tr::getMilliseconds(); // takes the epoch if nobody has yet
  heldSince = systemClock();
  set(reading);
  setClockSource(&heldSource);
}

HeldClock::~HeldClock()
{
  setClockSource(nullptr);
}

std::uint32_t HeldClock::now() const
{
  return heldRaw.load() - Tr::clockEpoch;
}

void HeldClock::set(std::uint32_t libraryMs)
{
  heldRaw = Tr::clockEpoch + libraryMs;
  heldReadings = 0;
}

int HeldClock::readings() const
{
  return heldReadings;
}

bool HeldClock::waitForReadings(int n, std::uint32_t guardMs) const
{
  const DWORD start = GetTickCount();
  while (heldReadings < n) {
    if (GetTickCount() - start > guardMs)
      return heldReadings >= n;
    Sleep(1);
  }
  return true;
}

} // namespace test

// The library's calls of winmm go through these import slots; the program's own definitions
// take the place of the import library's.
namespace {

DWORD WINAPI testTimeGetTime()
{
  const test::ClockSource current = test::source;
  return current != nullptr ? current() : test::systemClock();
}

MMRESULT WINAPI testTimeBeginPeriod(UINT period)
{
  using TimeBeginPeriod = MMRESULT(WINAPI*)(UINT);
  static const auto real = reinterpret_cast<TimeBeginPeriod>(
      reinterpret_cast<void*>(GetProcAddress(LoadLibraryA("winmm.dll"), "timeBeginPeriod")));
  test::periodRequests++;
  return real(period);
}

} // namespace

extern "C" DWORD(WINAPI* const timeGetTimeSlot)() __asm__("__imp__timeGetTime@0");
DWORD(WINAPI* const timeGetTimeSlot)() = &testTimeGetTime;
extern "C" MMRESULT(WINAPI* const timeBeginPeriodSlot)(UINT) __asm__("__imp__timeBeginPeriod@4");
MMRESULT(WINAPI* const timeBeginPeriodSlot)(UINT) = &testTimeBeginPeriod;
