// What C++ needs from a run-time that the kernel does not have.
#include <ntddk.h>

// Only reachable through a call to a pure virtual function, which the driver never makes.
extern "C" void __cxa_pure_virtual()
{
  KeBugCheckEx(0xE2 /* MANUALLY_INITIATED_CRASH */, 0, 0, 0, 0);
}
