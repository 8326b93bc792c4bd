// Entries for the system's event log.
#pragma once

#include <ntddk.h>

// Severity 0 informational, 1 warning, anything else error. At most 55 characters of the
// text are kept. Without room in the log nothing is written.
void WriteErrorLogEntry(PVOID ioObject, ULONG severity, PCWSTR text, ULONG uniqueErrorValue,
                        NTSTATUS finalStatus);
