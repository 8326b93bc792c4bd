#include "TamsinDrv.h"

#include "ErrorReport.h"

TamsinDrv::TamsinDrv() : m_hDevice(nullptr), m_overlapped()
{
}

TamsinDrv::~TamsinDrv()
{
  Close();
}

uint32_t TamsinDrv::Open()
{
  Close();
  HANDLE device = CreateFileA(LATENCY_WIN32_DEVICE_NAME, GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
  if (device == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    reportErrorAndClose("CreateFile failed, err=0x%08X\n", unsigned(error));
    return error;
  }
  m_hDevice = device;
  m_overlapped.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (m_overlapped.hEvent == nullptr) {
    CloseHandle(m_hDevice);
    m_hDevice = nullptr;
    return LATENCY_ERR_CREATE_EVENT;
  }
  return 0;
}

uint32_t TamsinDrv::Ioctl(uint32_t code, void* input, uint32_t inputLength, void* output,
                          uint32_t outputLength)
{
  if (m_hDevice == nullptr) {
    return LATENCY_ERR_NOT_OPEN;
  }
  DWORD transferred = 0;
  if (DeviceIoControl(m_hDevice, code, input, inputLength, output, outputLength, &transferred,
                      &m_overlapped)) {
    return 0;
  }
  DWORD error = GetLastError();
  if (error != ERROR_IO_PENDING) {
    return error;
  }
  if (GetOverlappedResult(m_hDevice, &m_overlapped, &transferred, TRUE)) {
    return 0;
  }
  error = GetLastError();
  reportErrorAndClose("IOCTL 0x%08X failed, err=0x%08X\n", unsigned(code), unsigned(error));
  return error;
}

void TamsinDrv::Close()
{
  if (m_hDevice != nullptr) {
    CloseHandle(m_hDevice);
    m_hDevice = nullptr;
  }
  if (m_overlapped.hEvent != nullptr) {
    CloseHandle(m_overlapped.hEvent);
    m_overlapped.hEvent = nullptr;
  }
}
