/* Preloaded into Wine's processes when 32-bit x86 code runs under qemu-user (tools/setup-machine
   arranges that where the kernel runs no 32-bit code itself).

   Wine reserves its address ranges with mmap(MAP_FIXED_NOREPLACE). qemu 7.2 keeps the whole
   4 GB guest space mapped on the host for a 32-bit guest and hands that flag on, so the host
   finds every address taken: a 32-bit process of Wine fails at its start with "failed to map
   the shared user data". Without the flag the address is only a hint, which gives what the
   flag promises once a mapping that landed elsewhere is undone again.

   Built with no headers or libraries of the target (none for i386 need to be installed), so
   the few declarations it needs are its own. The 64-bit build is empty: Wine's 64-bit
   processes run natively, and LD_PRELOAD names one library per word size ($LIB). */
#if defined(__i386__)
typedef unsigned long size_t;
typedef long off_t;
typedef long long off64_t;

#define RTLD_NEXT ((void*)-1l)
#define MAP_FIXED_NOREPLACE 0x100000
#define MAP_FAILED ((void*)-1)
#define EEXIST 17

extern void* dlsym(void* handle, const char* name);
extern int munmap(void* address, size_t length);
extern int* __errno_location(void);

static void* (*next_mmap)(void*, size_t, int, int, int, off_t);
static void* (*next_mmap64)(void*, size_t, int, int, int, off64_t);

static void* as_if_noreplace(void* wanted, void* got, size_t length, int flags)
{
  if (!(flags & MAP_FIXED_NOREPLACE) || got == MAP_FAILED || got == wanted)
    return got;
  munmap(got, length);
  *__errno_location() = EEXIST;
  return MAP_FAILED;
}

void* mmap(void* address, size_t length, int protection, int flags, int fd, off_t offset)
{
  if (!next_mmap)
    next_mmap = (void* (*)(void*, size_t, int, int, int, off_t))dlsym(RTLD_NEXT, "mmap");
  return as_if_noreplace(
      address, next_mmap(address, length, protection, flags & ~MAP_FIXED_NOREPLACE, fd, offset),
      length, flags);
}

void* mmap64(void* address, size_t length, int protection, int flags, int fd, off64_t offset)
{
  if (!next_mmap64)
    next_mmap64 = (void* (*)(void*, size_t, int, int, int, off64_t))dlsym(RTLD_NEXT, "mmap64");
  return as_if_noreplace(
      address, next_mmap64(address, length, protection, flags & ~MAP_FIXED_NOREPLACE, fd, offset),
      length, flags);
}

#endif
