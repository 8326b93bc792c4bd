/* Linked into every test program: tells tools/gtest-run's launcher that the program reached its
 * own end.
 *
 * Where 32-bit code runs under qemu-user, the Linux process of a program can die at any point,
 * and Wine then records exit code 0 for it, the same as for a program that returned 0. Wine's
 * ExitProcess first has the server record the exit code, then shuts the loader down: static
 * destructors have run by then, and each DLL's detach is announced to the loader's DLL
 * notifications while RtlDllShutdownInProgress answers true. Only a program that got there by
 * itself sets the launcher's event. (Wine 8.0 calls no TLS callback of the program itself at
 * that point: its image is never in the loader's initialisation order.) The event is named after
 * this process's id and made by the launcher before the program starts; a program started any
 * other way finds none. */
#include <windows.h>

typedef struct {
  ULONG flags;
  const void* fullName;
  const void* baseName;
  PVOID base;
  ULONG size;
} DllNotification;
typedef VOID(CALLBACK* DllNotificationCallback)(ULONG reason, const DllNotification* data,
                                                PVOID context);
typedef LONG(NTAPI* RegisterDllNotification)(ULONG flags, DllNotificationCallback callback,
                                             PVOID context, PVOID* cookie);
typedef BOOLEAN(NTAPI* ShutdownInProgress)(void);

enum { dllUnloaded = 2 };

static ShutdownInProgress shutdownInProgress;
static LONG witnessed;

static void CALLBACK witnessDllUnload(ULONG reason, const DllNotification* data, PVOID context)
{
  (void)data;
  (void)context;
  if (reason != dllUnloaded || !shutdownInProgress() || InterlockedExchange(&witnessed, 1))
    return;
  /* The C library may already be detached here: the name is made by hand. */
  char name[48] = "halden-gtest-ended-";
  char digits[16];
  int count = 0;
  DWORD pid = GetCurrentProcessId();
  do {
    digits[count++] = (char)('0' + pid % 10);
    pid /= 10;
  } while (pid != 0);
  char* end = name + lstrlenA(name);
  while (count > 0)
    *end++ = digits[--count];
  *end = '\0';
  HANDLE ended = OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
  if (ended != NULL) {
    SetEvent(ended);
    CloseHandle(ended);
  }
}

__attribute__((constructor)) static void registerExitWitness(void)
{
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  RegisterDllNotification registerNotification =
      (RegisterDllNotification)(void (*)(void))GetProcAddress(ntdll, "LdrRegisterDllNotification");
  shutdownInProgress =
      (ShutdownInProgress)(void (*)(void))GetProcAddress(ntdll, "RtlDllShutdownInProgress");
  PVOID cookie;
  /* Without them the launcher sees no end, and the run fails rather than passes unseen. */
  if (registerNotification != NULL && shutdownInProgress != NULL)
    registerNotification(0, witnessDllUnload, NULL, &cookie);
}
