// Private control interface of the simulated Halden driver, shared by the driver, its
// console tool and the tests that script it. README.md beside this file describes it.
#pragma once

#include "Marlow1394oxProtocol.h"

#define SIMHALDEN_SERVICE_NAME "simhalden"
#define SIMHALDEN_IMAGE_NAME "simhalden.sys"
#define SIMHALDEN_CONTROL_DOS_NAME "\\\\.\\HaldenSimControl"

#define SIMHALDEN_FILE_DEVICE 0x8A57u
#define SIMHALDEN_CONTROL_CODE(function)                                                           \
  CTL_CODE(SIMHALDEN_FILE_DEVICE, function, METHOD_BUFFERED, FILE_ANY_ACCESS)

// Back to the defaults below: faults cleared, log emptied, held requests completed.
#define IOCTL_SIMHALDEN_RESET SIMHALDEN_CONTROL_CODE(0x800)
// Out: HaldenSimState.
#define IOCTL_SIMHALDEN_GET_STATE SIMHALDEN_CONTROL_CODE(0x801)
// In: OxDeviceList, answered from now on as it stands (selections change currentDeviceId).
#define IOCTL_SIMHALDEN_SET_DEVICE_LIST SIMHALDEN_CONTROL_CODE(0x802)
// In: OxStatus, answered from now on as it stands (requests change it as the README says).
#define IOCTL_SIMHALDEN_SET_STATUS SIMHALDEN_CONTROL_CODE(0x803)
// In: OxInterfaceVersion, the answer to IOCTL_OX_GET_VERSION from now on.
#define IOCTL_SIMHALDEN_SET_VERSION SIMHALDEN_CONTROL_CODE(0x804)
// In: HaldenSimFault. Replaces the fault armed for the same request code.
#define IOCTL_SIMHALDEN_ARM_FAULT SIMHALDEN_CONTROL_CODE(0x805)
// Clears every armed fault.
#define IOCTL_SIMHALDEN_CLEAR_FAULTS SIMHALDEN_CONTROL_CODE(0x806)
// Carries out and completes every held request now. Out (optional): u32, how many.
#define IOCTL_SIMHALDEN_COMPLETE_HELD SIMHALDEN_CONTROL_CODE(0x807)
// Out: HaldenSimLog.
#define IOCTL_SIMHALDEN_GET_LOG SIMHALDEN_CONTROL_CODE(0x808)
// Empties the log.
#define IOCTL_SIMHALDEN_CLEAR_LOG SIMHALDEN_CONTROL_CODE(0x809)

// The default device: one Halden, selected and streaming at 48 kHz.
#define SIMHALDEN_DEFAULT_DEVICE_ID 0x000D6E0100A3C5F1ull
#define SIMHALDEN_DEFAULT_SAMPLE_RATE 48000u
#define SIMHALDEN_DEFAULT_FIREWIRE_LATENCY_INDEX 2u
#define SIMHALDEN_DEFAULT_ASIO_BUFFER_INDEX 0u

// HaldenSimFault::effects, which combine: a pended request is carried out when it
// completes, and then fails or answers short.
#define SIMHALDEN_FAIL 0x1u  // complete with `status` instead of carrying the request out
#define SIMHALDEN_SHORT 0x2u // answer at most `answerBytes` bytes of the record
#define SIMHALDEN_PEND 0x4u  // answer STATUS_PENDING and complete later, as `pendMs` says
// HaldenSimFault::pendMs beside a delay in milliseconds.
#define SIMHALDEN_HOLD_UNTIL_COMPLETED 0xFFFFFFFFu

#define SIMHALDEN_MAX_FAULTS 16
#define SIMHALDEN_MAX_HELD 4
#define SIMHALDEN_LOG_ENTRIES 128
#define SIMHALDEN_LOGGED_INPUT_BYTES 16

#pragma pack(push, 1)

// What the driver does with the next requests of one code.
struct HaldenSimFault {
  uint32_t ioControlCode; // an IOCTL_OX_ code
  uint32_t count;         // the next this many requests of the code; 0: every one until cleared
  uint32_t effects;       // SIMHALDEN_FAIL, _SHORT, _PEND; 0 disarms the code
  int32_t status;         // with SIMHALDEN_FAIL: the NTSTATUS; a success status answers nothing
  uint32_t answerBytes;   // with SIMHALDEN_SHORT
  uint32_t pendMs;        // with SIMHALDEN_PEND: the delay (0: as soon as the driver's worker
                          // runs), or SIMHALDEN_HOLD_UNTIL_COMPLETED
};

struct HaldenSimState {
  OxDeviceList deviceList;
  OxStatus status;
  OxInterfaceVersion version;
  uint32_t openHandles;  // handles open on the Halden device
  uint32_t heldRequests; // requests pended and not yet completed
  uint32_t requestCount; // requests received on the Halden device since start or reset
  uint32_t armedFaults;  // faults armed
};

// HaldenSimLogEntry::flags.
#define SIMHALDEN_LOG_PENDED 0x1u  // completed later, after STATUS_PENDING
#define SIMHALDEN_LOG_FAULTED 0x2u // an armed fault applied to it
#define SIMHALDEN_LOG_DONE 0x4u    // completed; status is final

struct HaldenSimLogEntry {
  uint32_t ioControlCode;
  uint32_t inputLength;
  uint32_t outputLength; // the caller's output buffer length
  uint32_t answerLength; // the bytes answered
  int32_t status;        // NTSTATUS completed with
  uint32_t flags;
  uint8_t input[SIMHALDEN_LOGGED_INPUT_BYTES]; // its first input bytes, zero-filled
};

// The requests received on the Halden device, in order of arrival.
struct HaldenSimLog {
  uint32_t total; // received since the log was emptied; entries beyond the capacity are lost
  uint32_t count; // entries below
  HaldenSimLogEntry entries[SIMHALDEN_LOG_ENTRIES];
};

#pragma pack(pop)
