#include "PoolObject.h"

#ifdef LATENCY_POOL_REPORT
namespace {
volatile LONG g_liveBlocks;
}

LONG LiveDriverPoolBlocks()
{
  return g_liveBlocks;
}
#endif

void* AllocateDriverPool(SIZE_T size)
{
  void* block = ExAllocatePoolWithTag(NonPagedPool, size, DRIVER_POOL_TAG);
  if (block != nullptr) {
    RtlZeroMemory(block, size);
#ifdef LATENCY_POOL_REPORT
    InterlockedIncrement(&g_liveBlocks);
#endif
  }
  return block;
}

void FreeDriverPool(void* block)
{
  if (block != nullptr) {
    ExFreePoolWithTag(block, DRIVER_POOL_TAG);
#ifdef LATENCY_POOL_REPORT
    InterlockedDecrement(&g_liveBlocks);
#endif
  }
}
