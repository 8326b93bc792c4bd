// Sallow: adds and removes virtual IEEE 1394 devices through the Windows 1394 bus driver.
// Every function returns a Win32 error code (0 on success) unless said otherwise; the library
// keeps no state between calls.
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SALLOW_API_VERSION 0x00010000u

// Flags of the add and remove calls; higher bits are ignored.
#define SALLOW_FLAG_PERSISTENT 0x1u
#define SALLOW_FLAG_USE_LOCAL_HOST_EUI 0x2u

// busIndex 0 to 1023; deviceId a non-empty 8-bit text.
DWORD WINAPI SALLOW_CreateVirtual1394Device(DWORD instanceIdLow, DWORD instanceIdHigh,
                                            const char* deviceId, DWORD busIndex, DWORD flags);
DWORD WINAPI SALLOW_DeleteVirtual1394Device(DWORD instanceIdLow, DWORD instanceIdHigh,
                                            const char* deviceId, DWORD busIndex, DWORD flags);

// SALLOW_API_VERSION.
DWORD WINAPI SALLOW_GetApiVersion(void);

// The index of the first bus device that cannot be opened.
DWORD WINAPI SALLOW_GetNumberOf1394Buses(void);

#ifdef __cplusplus
}
#endif
