// Every object of the driver lives in zero-filled non-paged pool under the driver's tag.
#pragma once

#include <ntddk.h>

// The four bytes "KnKn" as they lie in memory.
constexpr ULONG DRIVER_POOL_TAG =
    ULONG('K') | (ULONG('n') << 8) | (ULONG('K') << 16) | (ULONG('n') << 24);

void* AllocateDriverPool(SIZE_T size);
void FreeDriverPool(void* block);

#ifdef LATENCY_POOL_REPORT
// Blocks allocated and not yet freed; only the image built for the soak test counts them.
LONG LiveDriverPoolBlocks();
#endif

// Base of the driver's classes: `new` and `delete` go to the pool. A failed allocation gives
// null (the driver is built with -fcheck-new, so no constructor runs on it).
class PoolObject {
public:
  static void* operator new(size_t size) noexcept { return AllocateDriverPool(size); }
  static void operator delete(void* block) noexcept { FreeDriverPool(block); }
};
