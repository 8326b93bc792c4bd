// Private control interface of the stand-in 1394 bus driver, shared by the driver and the
// tests that script it.
#pragma once

#define SIM1394_SERVICE_NAME "sim1394bus"
#define SIM1394_CONTROL_DOS_NAME "\\\\.\\Sim1394Control"

// Number of bus devices the driver creates: a REG_DWORD of this name in its service key.
#define SIM1394_BUS_COUNT_VALUE "BusCount"
#define SIM1394_MAX_BUSES 16

#define SIM1394_FILE_DEVICE 0x8A39u

// In: a 32-bit NTSTATUS, the answer to every API request from now on (initially success).
#define IOCTL_SIM1394_SET_RESULT                                                                   \
  CTL_CODE(SIM1394_FILE_DEVICE, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS)
// Out: Sim1394Record, the last API request received.
#define IOCTL_SIM1394_GET_RECORD                                                                   \
  CTL_CODE(SIM1394_FILE_DEVICE, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS)
// Forgets the record and the request count and answers success again.
#define IOCTL_SIM1394_RESET CTL_CODE(SIM1394_FILE_DEVICE, 0x802, METHOD_BUFFERED, FILE_ANY_ACCESS)

// The bus driver's published API request code.
#define SIM1394_IOCTL_API_REQUEST 0x220400u

#define SIM1394_RECORD_BYTES 512

typedef struct Sim1394Record {
  unsigned long requestCount;                // API requests received since start or reset
  unsigned long bus;                         // bus index of the last one
  unsigned long inputLength;                 // its full input length
  unsigned long outputLength;                // its output buffer length
  unsigned char input[SIM1394_RECORD_BYTES]; // its first bytes
} Sim1394Record;
