#include "DevChangeNotifier.h"

#include "OptionsDialogMixerPane.h"

DevChangeNotifier::DevChangeNotifier(OptionsDialogMixerPane* owner) : pane(owner)
{
}

DevChangeNotifier::~DevChangeNotifier()
{
  if (messageWindow != nullptr) {
    KillTimer(messageWindow, kSettleTimerId);
    Tr::destroyMessageWindow(messageWindow);
    messageWindow = nullptr;
  }
}

bool DevChangeNotifier::start()
{
  if (started)
    return true;
  messageWindow = Tr::openMessageWindow(this, Tr::TString(kWindowName));
  started = messageWindow != nullptr;
  return started;
}

void DevChangeNotifier::queueReady(HWND)
{
}

void DevChangeNotifier::handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM,
                                      std::int32_t* handled)
{
  if (message == WM_DEVICECHANGE) {
    // The driver needs a moment to list a device that has just arrived or gone. Each message
    // starts the settle time again, so that a burst ends in one reconnect; SetTimer on the same
    // id replaces the running timer.
    settling = SetTimer(window, kSettleTimerId, kDeviceChangeSettleMs, nullptr) != 0;
    if (!settling)
      pane->connect(); // no timer to wait with: reconnect at once rather than never
    *handled = 1;
    return;
  }
  if (message == WM_TIMER && wParam == kSettleTimerId) {
    KillTimer(window, kSettleTimerId);
    settling = false;
    pane->connect();
    *handled = 1;
  }
}
