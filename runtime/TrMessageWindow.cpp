#include "TrMessageWindow.h"

#include <new>
#include <shellapi.h>

namespace Tr {

namespace {

TMessageWindowBlock* blockOf(HWND window)
{
  return reinterpret_cast<TMessageWindowBlock*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

} // namespace

HWND createMessageWindow(const TString& name, TWndMessageListener* listener)
{
  HWND window =
      CreateWindowExA(0, "Message", name.text(), 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  if (window == nullptr)
    return nullptr;

  auto* block = new (std::nothrow) TMessageWindowBlock;
  if (block == nullptr) {
    // A window that would never reach its listener is no use to the caller.
    DestroyWindow(window);
    return nullptr;
  }
  block->previousProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC));
  block->listener = listener;
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
  DestroyWindow(window);
  delete block;
}

LRESULT CALLBACK messageWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
  TMessageWindowBlock* block = blockOf(window);
  if (block == nullptr)
    return 0;
  if (block->listener == nullptr)
    return CallWindowProcW(block->previousProc, window, message, wParam, lParam);

  if (message == WM_TR_QUEUEREADY && lParam == static_cast<LPARAM>(WM_TR_QUEUEREADY)) {
    block->listener->queueReady(window);
    return 0;
  }

  std::int32_t handled = 0;
  block->listener->handleMessage(window, message, wParam, lParam, &handled);
  if (handled != 0)
    return 0;
  return CallWindowProcW(block->previousProc, window, message, wParam, lParam);
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
