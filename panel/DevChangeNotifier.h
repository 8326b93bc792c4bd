#pragma once

#include "TrMessageWindow.h"

#include <cstdint>
#include <windows.h>

class OptionsDialogMixerPane;

/** Makes the settings pane connect again whenever the system reports a change of its devices:
    a hidden top-level window receives the broadcast WM_DEVICECHANGE and, once the devices have
    been quiet for a second, calls the pane's connect. A burst of messages (Windows sends several
    for one plug) gives one reconnect, a second after the last; the window is never blocked. */
class DevChangeNotifier : public Tr::TWndMessageListener {
public:
  static constexpr const char* kWindowName = "ASIODevChangeMsgQueue";
  static constexpr DWORD kDeviceChangeSettleMs = 1000;
  /** The message window's timer that ends the settle time. */
  static constexpr UINT_PTR kSettleTimerId = 1;

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
  /** A device change waits for its reconnect. */
  bool isSettling() const noexcept { return settling; }

private:
  HWND messageWindow = nullptr;
  bool started = false;
  bool settling = false;
  OptionsDialogMixerPane* pane; // the owner
};
