// Linked into a test program, this replaces operator new and delete for the whole program:
// every block gets pages of its own, which are decommitted when it is deleted and never handed
// out again. Reading or writing an object after its delete then faults at once (the test
// program ends with an access violation) instead of finding bytes that happen to look right.
#include "freed_memory_guard.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

constexpr SIZE_T pageBytes = 4096;
constexpr LONG regionPages = 65536; // 256 MB of address space, far more than a test needs

// The number of pages of the block that starts at each page; 0 where no block starts.
LONG blockPages[regionPages];
volatile LONG pagesTaken = 0;

char* region()
{
  static char* const reserved = static_cast<char*>(
      VirtualAlloc(nullptr, regionPages * pageBytes, MEM_RESERVE, PAGE_NOACCESS));
  return reserved;
}

bool inRegion(const void* p)
{
  const auto address = reinterpret_cast<UINT_PTR>(p);
  const auto base = reinterpret_cast<UINT_PTR>(region());
  return base != 0 && address >= base && address < base + regionPages * pageBytes;
}

void* allocate(std::size_t size)
{
  char* const base = region();
  const std::size_t wanted = size == 0 ? 1 : size;
  if (base != nullptr && wanted <= regionPages * pageBytes) {
    const auto pages = static_cast<LONG>((wanted + pageBytes - 1) / pageBytes);
    const LONG first = InterlockedExchangeAdd(&pagesTaken, pages);
    if (first + pages <= regionPages) {
      char* const block = base + static_cast<SIZE_T>(first) * pageBytes;
      if (VirtualAlloc(block, static_cast<SIZE_T>(pages) * pageBytes, MEM_COMMIT, PAGE_READWRITE) ==
          nullptr)
        return nullptr;
      blockPages[first] = pages;
      return block;
    }
  }
  // Out of guarded room (or a block larger than all of it): the heap's.
  return std::malloc(wanted);
}

void release(void* p)
{
  if (p == nullptr)
    return;
  if (!inRegion(p)) {
    std::free(p);
    return;
  }
  const auto page = static_cast<LONG>((static_cast<char*>(p) - region()) / pageBytes);
  const LONG pages = InterlockedExchange(&blockPages[page], 0);
  if (pages == 0) {
    std::fprintf(stderr, "freed memory guard: %p deleted twice or never allocated\n", p);
    std::fflush(stderr);
    std::abort();
  }
  VirtualFree(p, static_cast<SIZE_T>(pages) * pageBytes, MEM_DECOMMIT);
}

void* allocateOrThrow(std::size_t size)
{
  void* const p = allocate(size);
  if (p == nullptr)
    throw std::bad_alloc();
  return p;
}

} // namespace

bool test::isDeleted(const void* p)
{
  MEMORY_BASIC_INFORMATION page = {};
  return inRegion(p) && VirtualQuery(p, &page, sizeof page) == sizeof page &&
         page.State != MEM_COMMIT;
}

void* operator new(std::size_t size)
{
  return allocateOrThrow(size);
}

void* operator new[](std::size_t size)
{
  return allocateOrThrow(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
  return allocate(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
  return allocate(size);
}

void operator delete(void* p) noexcept
{
  release(p);
}

void operator delete[](void* p) noexcept
{
  release(p);
}

void operator delete(void* p, std::size_t) noexcept
{
  release(p);
}

void operator delete[](void* p, std::size_t) noexcept
{
  release(p);
}

void operator delete(void* p, const std::nothrow_t&) noexcept
{
  release(p);
}

void operator delete[](void* p, const std::nothrow_t&) noexcept
{
  release(p);
}
