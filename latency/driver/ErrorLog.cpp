#include "ErrorLog.h"

namespace {

const ULONG maxTextUnits = 55;
const ULONG textOffset = FIELD_OFFSET(IO_ERROR_LOG_PACKET, DumpData);
static_assert(textOffset == 40, "the text follows the entry's header");

NTSTATUS ErrorCodeFor(ULONG severity)
{
  switch (severity) {
  case 0:
    return NTSTATUS(0x60070001);
  case 1:
    return NTSTATUS(0xA0070002);
  default:
    return NTSTATUS(0xE0070003);
  }
}

} // namespace

void WriteErrorLogEntry(PVOID ioObject, ULONG severity, PCWSTR text, ULONG uniqueErrorValue,
                        NTSTATUS finalStatus)
{
  ULONG units = 0;
  while (units < maxTextUnits && text[units] != 0) {
    units++;
  }
  const ULONG textBytes = units * sizeof(WCHAR);
  // Two more bytes: the zeros there terminate the text.
  const ULONG entrySize = textOffset + textBytes + sizeof(WCHAR);
  auto* entry =
      static_cast<PIO_ERROR_LOG_PACKET>(IoAllocateErrorLogEntry(ioObject, UCHAR(entrySize)));
  if (entry == nullptr) {
    return;
  }
  RtlZeroMemory(entry, entrySize);
  entry->NumberOfStrings = 1;
  entry->StringOffset = USHORT(textOffset);
  entry->ErrorCode = ErrorCodeFor(severity);
  entry->UniqueErrorValue = uniqueErrorValue;
  entry->FinalStatus = finalStatus;
  RtlCopyMemory(reinterpret_cast<PUCHAR>(entry) + textOffset, text, textBytes);
  IoWriteErrorLogEntry(entry);
}
