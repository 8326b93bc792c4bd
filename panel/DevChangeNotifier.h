#pragma once

#include "TrMessageWindow.h"

#include <cstdint>
#include <windows.h>

class OptionsDialogMixerPane;

/** Makes the settings pane connect again whenever the system reports a change of its devices:
    a hidden top-level window receives the broadcast WM_DEVICECHANGE, waits a second for the
    device to settle and calls the pane's connect. */
class DevChangeNotifier : public Tr::TWndMessageListener {
public:
  static constexpr const char* kWindowName = "ASIODevChangeMsgQueue";
  static constexpr DWORD kDeviceChangeSettleMs = 1000;

  explicit DevChangeNotifier(OptionsDialogMixerPane* pane);
  ~DevChangeNotifier() override;

  DevChangeNotifier(const DevChangeNotifier&) = delete;
  DevChangeNotifier& operator=(const DevChangeNotifier&) = delete;

  /** Makes the window once; true while it exists. */
  bool start();

  void queueReady(HWND window) override;
  void handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                     std::int32_t* handled) override;

  HWND getWindow() const noexcept { return messageWindow; }

private:
  HWND messageWindow = nullptr;
  bool started = false;
  OptionsDialogMixerPane* pane; // the owner
};
