// The I/O control protocol between the control panel and the Halden's kernel driver: the
// device name, the request codes, the records that pass and the client's result codes.
// Shared by the panel's driver client and by the simulated driver, in user and kernel mode.
#pragma once

#if defined(_KERNEL_MODE)
#include <ntddk.h>
#else
#include <windows.h>
#endif

#include <stddef.h>
#include <stdint.h>

// The driver's device interface; the panel opens "\\.\" followed by it.
#define OX_DEVICE_INTERFACE_NAME L"{96A5413A-9630-4c55-A94B-331AD4072B36}"
// Room for the formatted device name, in wide characters.
#define OX_DEVICE_NAME_CHARS 300

#define OX_FILE_DEVICE 0x8456u

#define OX_CONTROL_CODE(function)                                                                  \
  CTL_CODE(OX_FILE_DEVICE, function, METHOD_BUFFERED, FILE_ANY_ACCESS)

// Out: OxInterfaceVersion.
#define IOCTL_OX_GET_VERSION OX_CONTROL_CODE(0x801)
// In: one u32. Not sent by the panel.
#define IOCTL_OX_CMD_820 OX_CONTROL_CODE(0x820)
// No data. Sent before the panel closes its handle.
#define IOCTL_OX_RELEASE OX_CONTROL_CODE(0x821)
// Out: OxDeviceList.
#define IOCTL_OX_GET_DEVICE_LIST OX_CONTROL_CODE(0x830)
// Out: OxStatus.
#define IOCTL_OX_GET_STATUS OX_CONTROL_CODE(0x831)
// In: u32 rate in Hz, one of the status's sampleRates.
#define IOCTL_OX_SET_SAMPLE_RATE OX_CONTROL_CODE(0x832)
// No data.
#define IOCTL_OX_START_STREAMING OX_CONTROL_CODE(0x833)
// No data.
#define IOCTL_OX_STOP_STREAMING OX_CONTROL_CODE(0x834)
// In: u64 device ID, low 32 bits first.
#define IOCTL_OX_SELECT_DEVICE OX_CONTROL_CODE(0x835)
// In: OxBufferSizes.
#define IOCTL_OX_SET_BUFFER_SIZES OX_CONTROL_CODE(0x840)

#define OX_MAX_DEVICES 16
#define OX_MAX_SAMPLE_RATES 16
#define OX_MAX_FIREWIRE_LATENCY_INDEX 5
#define OX_MAX_ASIO_BUFFER_INDEX 2

// OxStatus::streamState. OX_STREAM_NONE is also how the panel marks its own copy invalid.
enum OxStreamState : uint32_t {
  OX_STREAM_NONE = 0,
  OX_STREAM_STOPPED = 1,
  OX_STREAM_STREAMING = 2,
  OX_STREAM_ERROR = 3,
};

// Result codes of the client besides 0 and the Win32 errors of the system calls.
const uint32_t OX_ERROR_NOT_OPEN = 50; // ERROR_NOT_SUPPORTED
const uint32_t OX_ERROR_VERSION_MISMATCH = 0xE0000014u;

// The version the panel speaks.
const uint32_t OX_INTERFACE_VERSION = 1;

#pragma pack(push, 1)

struct OxInterfaceVersion {
  uint32_t interfaceVersion;
  uint8_t reserved[20];
};

struct OxDeviceEntry {
  uint64_t deviceId; // unique per device; 0 is never a device
  uint8_t reserved[8];
};

struct OxDeviceList {
  uint64_t currentDeviceId; // the device the driver has selected
  uint32_t count;           // valid entries; 0: no device attached
  OxDeviceEntry entries[OX_MAX_DEVICES];
};

struct OxStatus {
  uint32_t streamState; // OxStreamState
  uint32_t sampleRate;  // Hz
  uint32_t sampleRateCount;
  uint32_t sampleRates[OX_MAX_SAMPLE_RATES]; // Hz, in the order the panel lists them; 0 skipped
  uint32_t firewireLatencyIndex;             // 0 to 5
  uint32_t asioBufferIndex;                  // 0 to 2
  uint32_t latencyUs;                        // reported by the driver; 0: none
  uint32_t latencyExtraUs;                   // added to latencyUs when that is not 0
  uint32_t reserved[5];
};

struct OxBufferSizes {
  uint32_t firewireLatencyIndex;
  uint32_t asioBufferIndex;
};

#pragma pack(pop)

static_assert(sizeof(OxInterfaceVersion) == 24, "OxInterfaceVersion is 24 bytes");
static_assert(sizeof(OxDeviceEntry) == 16, "OxDeviceEntry is 16 bytes");
static_assert(sizeof(OxDeviceList) == 268, "OxDeviceList is 268 bytes");
static_assert(offsetof(OxDeviceList, count) == 8, "OxDeviceList::count at 8");
static_assert(offsetof(OxDeviceList, entries) == 12, "OxDeviceList::entries at 12");
static_assert(sizeof(OxStatus) == 112, "OxStatus is 112 bytes");
static_assert(offsetof(OxStatus, sampleRates) == 12, "OxStatus::sampleRates at 12");
static_assert(offsetof(OxStatus, firewireLatencyIndex) == 76,
              "OxStatus::firewireLatencyIndex at 76");
static_assert(offsetof(OxStatus, asioBufferIndex) == 80, "OxStatus::asioBufferIndex at 80");
static_assert(offsetof(OxStatus, latencyUs) == 84, "OxStatus::latencyUs at 84");
static_assert(offsetof(OxStatus, latencyExtraUs) == 88, "OxStatus::latencyExtraUs at 88");
static_assert(offsetof(OxStatus, reserved) == 92, "OxStatus::reserved at 92");
static_assert(sizeof(OxBufferSizes) == 8, "OxBufferSizes is 8 bytes");

static_assert(IOCTL_OX_GET_VERSION == 0x84562004u, "IOCTL_OX_GET_VERSION");
static_assert(IOCTL_OX_CMD_820 == 0x84562080u, "IOCTL_OX_CMD_820");
static_assert(IOCTL_OX_RELEASE == 0x84562084u, "IOCTL_OX_RELEASE");
static_assert(IOCTL_OX_GET_DEVICE_LIST == 0x845620C0u, "IOCTL_OX_GET_DEVICE_LIST");
static_assert(IOCTL_OX_GET_STATUS == 0x845620C4u, "IOCTL_OX_GET_STATUS");
static_assert(IOCTL_OX_SET_SAMPLE_RATE == 0x845620C8u, "IOCTL_OX_SET_SAMPLE_RATE");
static_assert(IOCTL_OX_START_STREAMING == 0x845620CCu, "IOCTL_OX_START_STREAMING");
static_assert(IOCTL_OX_STOP_STREAMING == 0x845620D0u, "IOCTL_OX_STOP_STREAMING");
static_assert(IOCTL_OX_SELECT_DEVICE == 0x845620D4u, "IOCTL_OX_SELECT_DEVICE");
static_assert(IOCTL_OX_SET_BUFFER_SIZES == 0x84562100u, "IOCTL_OX_SET_BUFFER_SIZES");
