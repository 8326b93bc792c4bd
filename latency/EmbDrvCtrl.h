// Installs the measuring driver that the program carries in its resources as the
// demand-start kernel service "tamsin_driver" for as long as the program runs, and removes it.
// Also read by resource scripts, for the ids of the two images.
#pragma once

#define DRIVER_RESOURCE_TYPE "BINRES"
#define IDR_DRIVER_X86 101
#define IDR_DRIVER_X64 102

#ifndef RC_INVOKED

#include <windows.h>

#include <stdint.h>

// Every operation reports its own failures through reportErrorAndClose.
class EmbDrvCtrl {
public:
  EmbDrvCtrl() = default;
  virtual ~EmbDrvCtrl();

  // Installs the image held in the "BINRES" resource `resourceId` of the program.
  static uint32_t InstallDrvByRes(WORD resourceId);
  // Writes the image into the drivers folder, registers and starts the service, and removes
  // the file again once the service runs.
  static uint32_t InstallDrv(const void* image, uint32_t size);
  // Stops and deletes the service and removes the file; true when nothing failed.
  // *stillPresent (may be null) tells whether the service was still registered 50 ms later.
  static bool UninstallDrv(bool* stillPresent);

  // The driver file's path into a buffer of MAX_PATH characters; all zeros on failure.
  static bool GetDrvPathAndName(char* buffer);
  // Completes a buffer of MAX_PATH characters that holds a directory into the driver file's
  // path; all zeros on failure. GetDrvPathAndName's second half.
  static bool AppendDrvPathAndName(char* buffer);

  static uint32_t IsWow64Process(bool* isWow64);
  static uint32_t DisableWow64FsRedirection(PVOID* oldValue);
  static uint32_t RevertWow64FsRedirection(PVOID oldValue);
};

#endif
