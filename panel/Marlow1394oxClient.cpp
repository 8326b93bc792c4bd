#include "Marlow1394oxClient.h"

#include <juce_core/juce_core.h>

#include <string.h>
#include <wchar.h>

namespace {

class ScopedLock {
public:
  explicit ScopedLock(CRITICAL_SECTION& section) : section(section)
  {
    EnterCriticalSection(&section);
  }
  ~ScopedLock() { LeaveCriticalSection(&section); }

  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

private:
  CRITICAL_SECTION& section;
};

} // namespace

Marlow1394oxClient::Marlow1394oxClient()
{
  InitializeCriticalSection(&lock);
}

Marlow1394oxClient::~Marlow1394oxClient()
{
  close();
  event.close();
  DeleteCriticalSection(&lock);
}

uint32_t Marlow1394oxClient::open()
{
  ScopedLock hold(lock);
  if (device != nullptr) {
    return OX_ERROR_NOT_OPEN;
  }
  if (!event.isSet()) {
    const uint32_t error = event.create();
    if (error != 0) {
      return error;
    }
  }

  wchar_t name[OX_DEVICE_NAME_CHARS];
  swprintf(name, OX_DEVICE_NAME_CHARS, L"\\\\.\\%ls", OX_DEVICE_INTERFACE_NAME);
  HANDLE file = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const uint32_t error = GetLastError();
    close();
    return error;
  }
  device = file;

  OxInterfaceVersion version;
  const uint32_t error = getInterfaceVersion(version);
  if (error != 0) {
    close();
    return error;
  }
  if (version.interfaceVersion != OX_INTERFACE_VERSION) {
    close();
    return OX_ERROR_VERSION_MISMATCH;
  }
  return 0;
}

void Marlow1394oxClient::close()
{
  ScopedLock hold(lock);
  if (device != nullptr) {
    releaseDevice();
    CloseHandle(device);
    device = nullptr;
  }
  event.close();
}

bool Marlow1394oxClient::isOpen() const
{
  ScopedLock hold(lock);
  return device != nullptr;
}

uint32_t Marlow1394oxClient::deviceIoControl(uint32_t code, const void* input, uint32_t inputLength,
                                             void* output, uint32_t outputLength)
{
  ScopedLock hold(lock);
  if (device == nullptr) {
    return OX_ERROR_NOT_OPEN;
  }
  OVERLAPPED overlapped;
  memset(&overlapped, 0, sizeof(overlapped));
  overlapped.hEvent = event.get();
  DWORD bytes = 0;
  if (DeviceIoControl(device, code, const_cast<void*>(input), inputLength, output, outputLength,
                      &bytes, &overlapped)) {
    return 0;
  }
  const uint32_t error = GetLastError();
  if (error != ERROR_IO_PENDING) {
    return error;
  }
  if (WaitForSingleObject(overlapped.hEvent, kRequestTimeoutMs) != WAIT_OBJECT_0) {
    // A driver that holds a request must not hold the window for good: the request is called
    // off and fails as cancelled. Until it has ended the driver may still write into the
    // caller's record and the OVERLAPPED, so the wait below stays.
    CancelIoEx(device, &overlapped);
  }
  if (!GetOverlappedResult(device, &overlapped, &bytes, TRUE)) {
    return GetLastError();
  }
  return 0;
}

uint32_t Marlow1394oxClient::getInterfaceVersion(OxInterfaceVersion& version)
{
  memset(&version, 0, sizeof(version));
  return deviceIoControl(IOCTL_OX_GET_VERSION, nullptr, 0, &version, sizeof(version));
}

uint32_t Marlow1394oxClient::getDeviceList(OxDeviceList& list)
{
  memset(&list, 0, sizeof(list));
  return deviceIoControl(IOCTL_OX_GET_DEVICE_LIST, nullptr, 0, &list, sizeof(list));
}

uint32_t Marlow1394oxClient::getStatus(OxStatus& status)
{
  memset(&status, 0, sizeof(status));
  return deviceIoControl(IOCTL_OX_GET_STATUS, nullptr, 0, &status, sizeof(status));
}

uint32_t Marlow1394oxClient::selectDevice(uint64_t deviceId)
{
  return deviceIoControl(IOCTL_OX_SELECT_DEVICE, &deviceId, sizeof(deviceId), nullptr, 0);
}

uint32_t Marlow1394oxClient::setSampleRate(uint32_t rateHz)
{
  return deviceIoControl(IOCTL_OX_SET_SAMPLE_RATE, &rateHz, sizeof(rateHz), nullptr, 0);
}

uint32_t Marlow1394oxClient::setBufferSizes(uint32_t firewireLatencyIndex, uint32_t asioBufferIndex)
{
  OxBufferSizes sizes = {firewireLatencyIndex, asioBufferIndex};
  return deviceIoControl(IOCTL_OX_SET_BUFFER_SIZES, &sizes, sizeof(sizes), nullptr, 0);
}

uint32_t Marlow1394oxClient::startStreaming()
{
  return deviceIoControl(IOCTL_OX_START_STREAMING, nullptr, 0, nullptr, 0);
}

uint32_t Marlow1394oxClient::stopStreaming()
{
  return deviceIoControl(IOCTL_OX_STOP_STREAMING, nullptr, 0, nullptr, 0);
}

uint32_t Marlow1394oxClient::releaseDevice()
{
  return deviceIoControl(IOCTL_OX_RELEASE, nullptr, 0, nullptr, 0);
}

uint32_t Marlow1394oxClient::sendCommand820(uint32_t value)
{
  return deviceIoControl(IOCTL_OX_CMD_820, &value, sizeof(value), nullptr, 0);
}

const double kFirewireLatencyBaseMs[OX_MAX_FIREWIRE_LATENCY_INDEX + 1] = {0.5, 1, 2, 4, 8, 16};
const int kAsioBufferFactor[OX_MAX_ASIO_BUFFER_INDEX + 1] = {2, 4, 6};

double getLatencyMs(const OxStatus& status)
{
  if (status.firewireLatencyIndex > OX_MAX_FIREWIRE_LATENCY_INDEX ||
      status.asioBufferIndex > OX_MAX_ASIO_BUFFER_INDEX) {
    return -1.0;
  }
  return kFirewireLatencyBaseMs[status.firewireLatencyIndex] *
         kAsioBufferFactor[status.asioBufferIndex];
}

juce::String getLatencyText(const OxStatus& status)
{
  double ms;
  if (status.latencyUs != 0) {
    const uint32_t us = status.latencyUs + status.latencyExtraUs;
    ms = us / 1000.0;
  } else {
    ms = getLatencyMs(status);
  }
  if (ms < 0) {
    return "unknown";
  }
  return formatMilliseconds(ms);
}

juce::String formatMilliseconds(double ms)
{
  return juce::String::formatted("%#.1fms", ms);
}

juce::String formatSampleRate(uint32_t rateHz)
{
  return juce::String::formatted("%u.%u KHz", rateHz / 1000, (rateHz % 1000) / 100);
}

juce::String getFirewireLatencyName(int32_t index)
{
  static const wchar_t* const names[] = {L"Minimum", L"Small",      L"Standard",
                                         L"Large",   L"ExtraLarge", L"Maximum"};
  if (index < 0 || index > OX_MAX_FIREWIRE_LATENCY_INDEX) {
    return L"unknown";
  }
  return names[index];
}

juce::String getAsioBufferName(int32_t index)
{
  static const wchar_t* const names[] = {L"Standard", L"Large", L"Maximum"};
  if (index < 0 || index > OX_MAX_ASIO_BUFFER_INDEX) {
    return L"unknown";
  }
  return names[index];
}
