// What the host asks of Wine's kernel, in plain types: the program's other part cannot include
// the kernel's headers beside the Win32 ones.
#pragma once

namespace host {

// Creates a driver object named `driverName` ("\Driver\...") and runs `entryPoint`, the
// image's DriverEntry, on it. Returns the NTSTATUS that the creation and the entry gave.
long LoadDriver(void* entryPoint, const wchar_t* driverName);

// A handle of this process to the loaded driver's first device object itself (not to a file
// of it), with `access`. Returns the NTSTATUS; no device is STATUS_NO_SUCH_DEVICE.
long OpenDeviceObject(unsigned long access, void** handle);

// The driver's unload routine, then the end of its driver object.
void UnloadDriver();

} // namespace host
