#pragma once

#include "TrString.h"

#include <cstdint>
#include <windows.h>

namespace Tr {

/** Posted once to a new message window, with both parameters equal to the message number:
    the creating thread's message loop is running. */
constexpr UINT WM_TR_QUEUEREADY = WM_USER + 1222;

/** Receives the messages of a hidden message window, on the thread that created it. */
class TWndMessageListener {
public:
  virtual ~TWndMessageListener() = default;

  /** The window's first WM_TR_QUEUEREADY has been dispatched. */
  virtual void queueReady(HWND window) { (void)window; }

  /** Every other message; a listener that sets *handled to non-zero answers 0 for it,
      otherwise the window's own procedure answers. */
  virtual void handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                             std::int32_t* handled) = 0;
};

/** What a message window keeps in its user-data slot. It lives as long as the window: it is
    freed after the window's last message (WM_NCDESTROY), or after the last call of the window
    procedure that was running then, so that a listener may destroy the window from inside
    one of its calls. */
struct TMessageWindowBlock {
  WNDPROC previousProc;
  TWndMessageListener* listener; // not owned; cleared when the window is closed
  std::int32_t activeCalls;      // calls of the window procedure running on this window
  std::int32_t windowGone;       // WM_NCDESTROY has come
};

/** An invisible top-level window of the system class "Message" (so that it receives
    broadcasts), subclassed to hand its messages to the listener. It keeps its name, for
    FindWindow in other programs. Null when the window cannot be made. */
HWND createMessageWindow(const TString& name, TWndMessageListener* listener);

/** Posts WM_TR_QUEUEREADY to the window; false only for a null window. Any thread. */
bool postQueueReady(HWND window);

/** createMessageWindow, then postQueueReady: the usual way to start a listener. */
HWND openMessageWindow(TWndMessageListener* listener, const TString& name);

/** Closes the window on its own thread. The listener is cleared first, so that the messages
    of the destruction never reach a listener that may be half destroyed. Null is ignored.
    From another thread the system refuses the destruction: the window stays, with its
    record, and answers through its class's procedure from then on. */
void destroyMessageWindow(HWND window);

LRESULT CALLBACK messageWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

/** A loaded resource of a module. All fields are zero when nothing is held. */
struct TResourceBlock {
  HGLOBAL handle = nullptr;
  const void* data = nullptr;
  std::uint32_t size = 0;

  TResourceBlock() = default;
  TResourceBlock(const TResourceBlock&) = delete;
  TResourceBlock& operator=(const TResourceBlock&) = delete;
  ~TResourceBlock() { release(); }

  /** True when the resource's bytes are at hand (an empty resource may have none). */
  bool load(HMODULE module, HRSRC resource);
  void release();
};

/** Opens the file with the program that the shell associates with it; true when the shell
    accepted it. Nothing is shown on failure. */
bool runFile(const char* path);

} // namespace Tr
