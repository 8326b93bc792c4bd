// The measuring driver's own code in user mode on a kernel that does as little as it can, so
// that timing a DPC times the driver and not its surroundings.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quiet {

void Load();
uint32_t Start(uint32_t period);
// Queues a read of `bytes` bytes, with a mapped buffer.
void QueueRead(size_t bytes);
// Lets `ticks` of the performance counter (10 MHz) pass and runs the armed timer's DPC.
void Expire(int64_t ticks);
size_t CompletedReads();
void Unload();

} // namespace quiet
