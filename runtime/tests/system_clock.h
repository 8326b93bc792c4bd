#pragma once

// The multimedia clock that the library reads, under the test program's control. A program that
// links system_clock.cpp answers the library's timeGetTime and timeBeginPeriod itself; until a
// test says otherwise the answers are the system's own.
#include <windows.h>

#include <cstdint>

namespace test {

using ClockSource = DWORD (*)();

/** Makes the library's clock readings come from source; null gives the system's clock again. */
void setClockSource(ClockSource source);

/** The system's own multimedia clock, whatever the library is given. */
DWORD systemClock();

/** How many times the library has asked for the 1 ms timer resolution. */
int timerPeriodRequests();

/** While it lives, the library clock reads what the test says and stands still otherwise, so a
    deadline passes exactly when the test moves the clock past it, however busy the machine is.
    A clock held for more than half a minute runs again, so that a wait that never ends fails
    instead of hanging the test. */
class HeldClock {
public:
  /** Holds the library clock at its present reading. */
  HeldClock();
  ~HeldClock();
  HeldClock(const HeldClock&) = delete;
  HeldClock& operator=(const HeldClock&) = delete;

  /** The library clock's reading while held. */
  std::uint32_t now() const;
  /** Holds the clock at this library reading and starts counting readings afresh. */
  void set(std::uint32_t libraryMs);
  /** The library's readings since the last set. */
  int readings() const;
  /** Waits until the library has read the clock n times since the last set; false when that
      does not happen within the guard. */
  bool waitForReadings(int n, std::uint32_t guardMs = 20000) const;
};

} // namespace test
