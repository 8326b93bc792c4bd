#include "sallow.h"

#include <ntdd1394.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const DWORD maxBusIndex = 1023;

HANDLE Open1394Bus(DWORD busIndex)
{
  char name[80];
  std::memset(name, 0, sizeof(name));
  std::snprintf(name, sizeof(name), "%s%u", "\\\\.\\1394BUS", static_cast<unsigned>(busIndex));
  name[sizeof(name) - 1] = 0;
  return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_EXISTING, 0, nullptr);
}

// Copies at most count - 1 characters, each sign-extended to 16 bits (no code-page
// conversion), and always terminates.
void WidenString(WCHAR* to, const char* from, size_t count)
{
  size_t i = 0;
  for (; i + 1 < count && from[i] != 0; i++) {
    to[i] = static_cast<WCHAR>(static_cast<SHORT>(static_cast<signed char>(from[i])));
  }
  to[i] = 0;
}

DWORD SendVirtualDeviceRequest(ULONG requestNumber, DWORD instanceIdLow, DWORD instanceIdHigh,
                               const char* deviceId, DWORD busIndex, DWORD flags)
{
  if (busIndex > maxBusIndex) {
    return ERROR_INVALID_PARAMETER;
  }
  if (deviceId == nullptr) {
    return ERROR_INSUFFICIENT_BUFFER;
  }
  if (deviceId[0] == 0) {
    return ERROR_INVALID_DATA;
  }
  // The size of a request that does not fit a DWORD (nor a 32-bit size_t) would wrap to a
  // small buffer, which the id's copy would then run past.
  const size_t n = std::strlen(deviceId);
  if (n > (MAXDWORD - sizeof(IEEE1394_API_REQUEST) - sizeof(WCHAR)) / sizeof(WCHAR)) {
    return ERROR_INVALID_PARAMETER;
  }

  HANDLE bus = Open1394Bus(busIndex);
  if (bus == INVALID_HANDLE_VALUE) {
    return GetLastError();
  }

  const size_t size = sizeof(IEEE1394_API_REQUEST) + n * sizeof(WCHAR) + sizeof(WCHAR);
  auto* request = static_cast<IEEE1394_API_REQUEST*>(std::malloc(size));
  if (request == nullptr) {
    CloseHandle(bus);
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  std::memset(request, 0, size);
  request->RequestNumber = requestNumber;
  request->Flags = IEEE1394_REQUEST_FLAG_UNICODE | ((flags & 3) << 1);
  // Add and remove share one layout, so either member's fields are the same place.
  IEEE1394_VDEV_PNP_REQUEST& device = request->u.AddVirtualDevice;
  device.fulFlags = IEEE1394_REQUEST_FLAG_UNICODE;
  device.InstanceId.LowPart = instanceIdLow;
  device.InstanceId.HighPart = instanceIdHigh;
  WidenString(reinterpret_cast<WCHAR*>(&device.DeviceId), deviceId, n + 1);

  DWORD returned = 0;
  DWORD result = DeviceIoControl(bus, IOCTL_IEEE1394_API_REQUEST, request, static_cast<DWORD>(size),
                                 nullptr, 0, &returned, nullptr)
                     ? ERROR_SUCCESS
                     : GetLastError();
  std::free(request);
  CloseHandle(bus);
  return result;
}

DWORD Count1394Buses()
{
  for (DWORD k = 0;; k++) {
    HANDLE bus = Open1394Bus(k);
    if (bus == INVALID_HANDLE_VALUE) {
      if (GetLastError() != ERROR_SUCCESS) {
        return k;
      }
    } else {
      CloseHandle(bus);
    }
  }
}

} // namespace

extern "C" {

DWORD WINAPI SALLOW_CreateVirtual1394Device(DWORD instanceIdLow, DWORD instanceIdHigh,
                                            const char* deviceId, DWORD busIndex, DWORD flags)
{
  return SendVirtualDeviceRequest(IEEE1394_API_ADD_VIRTUAL_DEVICE, instanceIdLow, instanceIdHigh,
                                  deviceId, busIndex, flags);
}

DWORD WINAPI SALLOW_DeleteVirtual1394Device(DWORD instanceIdLow, DWORD instanceIdHigh,
                                            const char* deviceId, DWORD busIndex, DWORD flags)
{
  return SendVirtualDeviceRequest(IEEE1394_API_REMOVE_VIRTUAL_DEVICE, instanceIdLow, instanceIdHigh,
                                  deviceId, busIndex, flags);
}

DWORD WINAPI SALLOW_GetApiVersion(void)
{
  return SALLOW_API_VERSION;
}

DWORD WINAPI SALLOW_GetNumberOf1394Buses(void)
{
  return Count1394Buses();
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

} // extern "C"
