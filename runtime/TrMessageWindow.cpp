#include "TrMessageWindow.h"

#include <new>
#include <shellapi.h>

namespace Tr {

namespace {

TMessageWindowBlock* blockOf(HWND window)
{
  return reinterpret_cast<TMessageWindowBlock*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

// The class's own procedure, except for the window's text: under Wine the "Message" class
// answers the text messages with 0 and keeps no text, so the window would lose its name.
LRESULT callPrevious(const TMessageWindowBlock* block, HWND window, UINT message, WPARAM wParam,
                     LPARAM lParam)
{
  switch (message) {
  case WM_SETTEXT:
  case WM_GETTEXT:
  case WM_GETTEXTLENGTH:
    return DefWindowProcW(window, message, wParam, lParam);
  default:
    return CallWindowProcW(block->previousProc, window, message, wParam, lParam);
  }
}

LRESULT dispatch(TMessageWindowBlock* block, HWND window, UINT message, WPARAM wParam,
                 LPARAM lParam)
{
  if (block->listener == nullptr)
    return callPrevious(block, window, message, wParam, lParam);

  if (message == WM_TR_QUEUEREADY && lParam == static_cast<LPARAM>(WM_TR_QUEUEREADY)) {
    block->listener->queueReady(window);
    return 0;
  }

  std::int32_t handled = 0;
  block->listener->handleMessage(window, message, wParam, lParam, &handled);
  // A listener that destroyed the window leaves nobody to answer.
  if (handled != 0 || block->windowGone != 0)
    return 0;
  return callPrevious(block, window, message, wParam, lParam);
}

} // namespace

HWND createMessageWindow(const TString& name, TWndMessageListener* listener)
{
  // The desktop as parent: without one, Wine makes a window of this class the desktop's own
  // message window whenever the desktop has none just then, and that one can be neither
  // destroyed nor reached by broadcasts. With the desktop given, Windows and Wine alike make an
  // ordinary top-level window without an owner.
  HWND window = CreateWindowExA(0, "Message", name.text(), 0, 0, 0, 0, 0, GetDesktopWindow(),
                                nullptr, nullptr, nullptr);
  if (window == nullptr)
    return nullptr;

  auto* block = new (std::nothrow) TMessageWindowBlock;
  if (block == nullptr) {
    // A window that would never reach its listener is no use to the caller.
    DestroyWindow(window);
    return nullptr;
  }
  // The name that the class's procedure under Wine did not keep when the window was made.
  DefWindowProcA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.text()));
  block->previousProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC));
  block->listener = listener;
  block->activeCalls = 0;
  block->windowGone = 0;
  // The block must be in place before the procedure that looks for it.
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(block));
  SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&messageWindowProc));
  return window;
}

bool postQueueReady(HWND window)
{
  if (window == nullptr)
    return false;
  PostMessageW(window, WM_TR_QUEUEREADY, WM_TR_QUEUEREADY, WM_TR_QUEUEREADY);
  return true;
}

HWND openMessageWindow(TWndMessageListener* listener, const TString& name)
{
  HWND window = createMessageWindow(name, listener);
  if (window != nullptr)
    postQueueReady(window);
  return window;
}

void destroyMessageWindow(HWND window)
{
  if (window == nullptr)
    return;
  TMessageWindowBlock* block = blockOf(window);
  if (block != nullptr)
    block->listener = nullptr;
  // The record goes with the window's last message; a destruction that the system refuses
  // (from another thread) leaves both in place.
  DestroyWindow(window);
}

LRESULT CALLBACK messageWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
  TMessageWindowBlock* block = blockOf(window);
  if (block == nullptr)
    return 0;
  block->activeCalls++;
  const LRESULT result = dispatch(block, window, message, wParam, lParam);
  block->activeCalls--;
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    block->windowGone = 1;
  }
  // Freed by the outermost call once the window is gone: calls further out may still read it.
  if (block->windowGone != 0 && block->activeCalls == 0)
    delete block;
  return result;
}

bool TResourceBlock::load(HMODULE module, HRSRC resource)
{
  release();
  handle = LoadResource(module, resource);
  if (handle == nullptr) {
    data = nullptr;
    size = 0;
    return false;
  }
  data = LockResource(handle);
  size = SizeofResource(module, resource);
  return data != nullptr || size == 0;
}

void TResourceBlock::release()
{
  if (handle == nullptr)
    return;
  FreeResource(handle);
  handle = nullptr;
  data = nullptr;
  size = 0;
}

bool runFile(const char* path)
{
  HINSTANCE result = ShellExecuteA(GetForegroundWindow(), nullptr, path, nullptr, nullptr, SW_SHOW);
  return reinterpret_cast<std::uintptr_t>(result) > 32;
}

} // namespace Tr
