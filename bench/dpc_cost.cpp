// How long one timer DPC spends in the measuring driver's own code: the driver's sources on a
// kernel that does next to nothing, run for a million expiries in the steady state.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "QuietKernel.h"

namespace {

const int expiries = 1000000;
const int rounds = 7;
const int64_t oneMillisecond = 10000; // counter ticks

// Median nanoseconds per DPC over `rounds` runs.
double Measure(bool reading)
{
  std::vector<double> results;
  for (int round = 0; round < rounds; round++) {
    quiet::Load();
    quiet::Start(1000);
    for (int i = 0; i < 1 + 105 + 100; i++) { // stamp, warm-up, a full ring
      quiet::Expire(oneMillisecond);
    }
    if (reading) {
      quiet::QueueRead(size_t(expiries + 1) * 4); // one read that takes every interval
    }
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < expiries; i++) {
      quiet::Expire(oneMillisecond + (i & 63));
    }
    const auto end = std::chrono::steady_clock::now();
    quiet::Unload();
    results.push_back(std::chrono::duration<double, std::nano>(end - start).count() / expiries);
  }
  std::sort(results.begin(), results.end());
  return results[rounds / 2];
}

} // namespace

int main()
{
  std::printf("DPC in the driver's code, median of %d runs of %d expiries (i686 build):\n", rounds,
              expiries);
  std::printf("  no reader (interval recorded, marked lost):   %6.1f ns\n", Measure(false));
  std::printf("  with a read waiting (interval also streamed): %6.1f ns\n", Measure(true));
  return 0;
}
