// The client of the measuring driver's device: opens it and sends its control requests.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "LatencyProtocol.h"

class TamsinDrv {
public:
  TamsinDrv();
  virtual ~TamsinDrv();

  TamsinDrv(const TamsinDrv&) = delete;
  TamsinDrv& operator=(const TamsinDrv&) = delete;

  // Opens "\\.\tamsin_static_device"; 0, or the error (reported when the device is missing).
  uint32_t Open();

  // Sends a control request and waits for its answer; 0, or the error. LATENCY_ERR_NOT_OPEN
  // when no device is open. Only a request that failed after pending is reported.
  uint32_t Ioctl(uint32_t code, void* input, uint32_t inputLength, void* output,
                 uint32_t outputLength);

  void Close();

private:
  HANDLE m_hDevice;
  // Shared by every request: they all come from one thread and each waits for its answer.
  OVERLAPPED m_overlapped;
};
