#pragma once

#include <cstdint>

namespace Tr {

/** The multimedia clock's reading at the library clock's first use; 0 until then. Taken once,
    never reset. */
extern volatile std::uint32_t clockEpoch;

/** Milliseconds since the clock's first use, wrapping after about 49.7 days. The first use
    also raises the system timer resolution to 1 ms for the rest of the process's life, so
    that short sleeps last about what they ask for. Safe to call from any thread. */
std::uint32_t getMilliseconds();

/** Suspends the calling thread for ms milliseconds. */
void sleepMs(std::uint32_t ms);

} // namespace Tr
