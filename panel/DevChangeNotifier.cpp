#include "DevChangeNotifier.h"

#include "OptionsDialogMixerPane.h"

DevChangeNotifier::DevChangeNotifier(OptionsDialogMixerPane* owner) : pane(owner)
{
}

DevChangeNotifier::~DevChangeNotifier()
{
  if (messageWindow != nullptr) {
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

void DevChangeNotifier::handleMessage(HWND, UINT message, WPARAM, LPARAM, std::int32_t* handled)
{
  if (message != WM_DEVICECHANGE)
    return;
  // The driver needs a moment to list a device that has just arrived or gone; the whole
  // window waits with it, as every later message does in turn.
  Sleep(kDeviceChangeSettleMs);
  pane->connect();
  *handled = 1;
}
