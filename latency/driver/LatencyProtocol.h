// The latency meter's driver protocol: one device, five control requests and a read stream.
// Shared by the measuring driver and its user-mode client, so it uses nothing beyond the
// fixed-width integer types.
#pragma once

#include <stdint.h>

#define LATENCY_NT_DEVICE_NAME L"\\Device\\tamsin_static_device"
#define LATENCY_DOS_DEVICE_NAME L"\\DosDevices\\tamsin_static_device"
#define LATENCY_WIN32_DEVICE_NAME "\\\\.\\tamsin_static_device"

// Customer range; FILE_ANY_ACCESS and METHOD_BUFFERED for every code.
constexpr uint32_t FILE_DEVICE_LATENCY = 0x8177u;

constexpr uint32_t LatencyControlCode(uint32_t function)
{
  return (FILE_DEVICE_LATENCY << 16) | (0u << 14) | (function << 2) | 0u;
}

constexpr uint32_t IOCTL_LATENCY_GET_INFO = LatencyControlCode(0x801);
constexpr uint32_t IOCTL_LATENCY_START = LatencyControlCode(0x802);
constexpr uint32_t IOCTL_LATENCY_STOP = LatencyControlCode(0x803);
constexpr uint32_t IOCTL_LATENCY_GET_VALUES = LatencyControlCode(0x804);
constexpr uint32_t IOCTL_LATENCY_RESET = LatencyControlCode(0x805);

static_assert(IOCTL_LATENCY_GET_INFO == 0x81772004u, "control code layout");
static_assert(IOCTL_LATENCY_RESET == 0x81772014u, "control code layout");

// Bit 29 (customer) is set, so Windows hands these to the caller's last error unchanged.
constexpr uint32_t LATENCY_ERR_NOT_OPEN = 0xEEE00001u;
constexpr uint32_t LATENCY_ERR_CREATE_EVENT = 0xEEE00002u;
constexpr uint32_t LATENCY_ERR_OVERFLOW = 0xEEE00005u;
constexpr uint32_t LATENCY_ERR_INPUT_LENGTH = 0xEEE00011u;
constexpr uint32_t LATENCY_ERR_OUTPUT_LENGTH = 0xEEE00012u;

// IOCTL_LATENCY_GET_VALUES, in and out. All times in microseconds.
struct LatencyValues {
  uint32_t period;         // out: the timer period that START answered
  uint32_t minInterval;    // out: 0 when none was recorded since the last reset
  uint32_t maxInterval;    // out: 0 when none was recorded since the last reset
  uint32_t avgInterval;    // out: mean of the last 100 intervals, 0 until the ring has filled
  uint32_t resetAfterRead; // in: non-zero resets the statistics after the copy; left untouched
};
static_assert(sizeof(LatencyValues) == 20, "LatencyValues is a 20-byte record");

// IOCTL_LATENCY_GET_INFO's answer: the driver fills in 1, 1, 1, 1, 0, 0.
struct LatencyDriverInfo {
  uint32_t values[6];
};
static_assert(sizeof(LatencyDriverInfo) == 24, "LatencyDriverInfo is a 24-byte record");
