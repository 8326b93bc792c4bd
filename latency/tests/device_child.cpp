// Another process on the measuring device, for the client tests.
//   device_child open-close
//     opens the device and closes it again.
//   device_child pending-read BYTES READY GO
//     opens the device, issues a read of BYTES that stays pending, sets the event named READY,
//     waits for the event named GO and ends the process with the read still pending.
// Exit code 0 when it got as far as it should; otherwise where it stopped.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "LatencyProtocol.h"

namespace {

enum Exit {
  done = 0,
  usage = 1,
  cannotOpen = 2,
  readDoneAtOnce = 3,
  readRefused = 4,
  noReadPending = 5,
  noEvent = 6,
  neverGo = 7,
};

HANDLE OpenDevice()
{
  return CreateFileA(LATENCY_WIN32_DEVICE_NAME, GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_OVERLAPPED, nullptr);
}

int OpenClose()
{
  HANDLE device = OpenDevice();
  if (device == INVALID_HANDLE_VALUE) {
    return cannotOpen;
  }
  CloseHandle(device);
  return done;
}

int EndWithReadPending(DWORD bytes, const char* ready, const char* go)
{
  HANDLE readyEvent = OpenEventA(EVENT_MODIFY_STATE, FALSE, ready);
  HANDLE goEvent = OpenEventA(SYNCHRONIZE, FALSE, go);
  if (readyEvent == nullptr || goEvent == nullptr) {
    return noEvent;
  }
  HANDLE device = OpenDevice();
  if (device == INVALID_HANDLE_VALUE) {
    return cannotOpen;
  }
  // Never freed: the read still owns it when the process ends.
  void* buffer = VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  auto* overlapped = new OVERLAPPED();
  overlapped->hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  // Intervals that found no read make the next read fail once with the overflow error; on a
  // busy machine again and again, so only a hang ends the tries.
  bool pending = false;
  const ULONGLONG deadline = GetTickCount64() + 20000;
  while (!pending && GetTickCount64() < deadline) {
    ResetEvent(overlapped->hEvent);
    if (ReadFile(device, buffer, bytes, nullptr, overlapped)) {
      return readDoneAtOnce;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) {
      pending = true;
    } else if (error != LATENCY_ERR_OVERFLOW) {
      return readRefused;
    }
  }
  if (!pending) {
    return noReadPending;
  }
  SetEvent(readyEvent);
  if (WaitForSingleObject(goEvent, 60000) != WAIT_OBJECT_0) {
    return neverGo;
  }
  ExitProcess(done);
}

} // namespace

int main(int argc, char** argv)
{
  if (argc == 2 && std::strcmp(argv[1], "open-close") == 0) {
    return OpenClose();
  }
  if (argc == 5 && std::strcmp(argv[1], "pending-read") == 0) {
    return EndWithReadPending(DWORD(std::strtoul(argv[2], nullptr, 10)), argv[3], argv[4]);
  }
  return usage;
}
