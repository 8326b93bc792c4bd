// The control panel's client of the Halden's kernel driver: one handle on the driver's
// device, opened for overlapped I/O, and one synchronous I/O control request per operation.
#pragma once

#include "Marlow1394oxProtocol.h"
#include "WnEvent.h"

namespace juce {
class String;
}

class Marlow1394oxClient {
public:
  Marlow1394oxClient();
  virtual ~Marlow1394oxClient();

  Marlow1394oxClient(const Marlow1394oxClient&) = delete;
  Marlow1394oxClient& operator=(const Marlow1394oxClient&) = delete;

  // 0 when the driver is open and speaks our version; OX_ERROR_NOT_OPEN when already open,
  // OX_ERROR_VERSION_MISMATCH for another version, else the Win32 error of the failing call.
  uint32_t open();
  // Tells the driver goodbye and closes the handle and the event; any state.
  void close();
  bool isOpen() const;

  // How long a request may take before it is cancelled.
  static constexpr DWORD kRequestTimeoutMs = 3000;

  // Sends one request and waits for its completion; one that the driver has not completed
  // within kRequestTimeoutMs is cancelled and fails (ERROR_OPERATION_ABORTED once the driver
  // lets it go). 0, OX_ERROR_NOT_OPEN without a system call when closed, or the Win32 error.
  uint32_t deviceIoControl(uint32_t code, const void* input, uint32_t inputLength, void* output,
                           uint32_t outputLength);

  // Each zeroes its record first: bytes the driver does not write read as 0.
  uint32_t getInterfaceVersion(OxInterfaceVersion& version);
  uint32_t getDeviceList(OxDeviceList& list);
  uint32_t getStatus(OxStatus& status);

  uint32_t selectDevice(uint64_t deviceId);
  uint32_t setSampleRate(uint32_t rateHz);
  uint32_t setBufferSizes(uint32_t firewireLatencyIndex, uint32_t asioBufferIndex);
  uint32_t startStreaming();
  uint32_t stopStreaming();
  uint32_t releaseDevice();
  uint32_t sendCommand820(uint32_t value);

private:
  HANDLE device = nullptr; // never INVALID_HANDLE_VALUE
  mutable CRITICAL_SECTION lock;
  WnEvent event;
};

// Base of the FireWire latency by firewireLatencyIndex, in milliseconds.
extern const double kFirewireLatencyBaseMs[OX_MAX_FIREWIRE_LATENCY_INDEX + 1];
// Multiplier of the ASIO buffering by asioBufferIndex.
extern const int kAsioBufferFactor[OX_MAX_ASIO_BUFFER_INDEX + 1];

// The latency that the two setting indices give; -1.0 when either is out of range.
double getLatencyMs(const OxStatus& status);
// The driver's own latency when it reports one, else that of the indices; "unknown" when
// neither is known.
juce::String getLatencyText(const OxStatus& status);
// "4.0ms": one digit after the point.
juce::String formatMilliseconds(double ms);
// "44.1 KHz": the tenths digit truncated.
juce::String formatSampleRate(uint32_t rateHz);
juce::String getFirewireLatencyName(int32_t index);
juce::String getAsioBufferName(int32_t index);
