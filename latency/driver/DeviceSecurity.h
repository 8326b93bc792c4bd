// Who may open the measuring device: the system and the administrators, nobody else.
#pragma once

#include <ntddk.h>

// Replaces the device object's access list with D:P(A;;GA;;;SY)(A;;GA;;;BA): full access for
// LocalSystem and BUILTIN\Administrators, nothing inherited. Called while the device is still
// initialising and before its symbolic link exists, so that no open meets the default one.
NTSTATUS RestrictToSystemAndAdministrators(PDEVICE_OBJECT deviceObject);
