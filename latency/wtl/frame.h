// The top-level frame: a tool-bar slot (here a rebar), a status bar and a client window,
// laid out on every WM_SIZE, with the menu prompts shown in the status bar.
#pragma once

#include "app_module.h"
#include "window.h"

#include <commctrl.h>

namespace WTL {

// String ids of the system-menu prompts: SC_SIZE (0xF000) and every 16th command after it.
const UINT systemCommandPromptBase = 61184;
// The status bar's simple-mode part.
const WPARAM simplePart = 255;

// Frame style and extended style when Create gets 0.
const DWORD frameDefaultStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
const DWORD frameDefaultExStyle = WS_EX_APPWINDOW | WS_EX_WINDOWEDGE;

// The window class, title, menu, icon and accelerators of a frame all come from the class
// information's resource id.
template <class T> class CFrameWindowImpl : public ATL::CWindowImpl<T> {
public:
  HWND m_hWndToolBar = nullptr;
  HWND m_hWndStatusBar = nullptr;
  HWND m_hWndClient = nullptr;
  HACCEL m_hAccel = nullptr;

  HWND CreateEx(HWND parent, const RECT& rect, DWORD style = 0, DWORD exStyle = 0)
  {
    const UINT id = T::GetWndClassInfo().resourceId;
    HINSTANCE resources = AppModule().GetResourceInstance();
    char title[256] = "";
    ::LoadStringA(resources, id, title, sizeof(title));
    HMENU menu = ::LoadMenuA(resources, MAKEINTRESOURCEA(id));
    HWND hWnd = this->Create(parent, rect, title, style != 0 ? style : frameDefaultStyle,
                             exStyle != 0 ? exStyle : frameDefaultExStyle, menu);
    if (hWnd == nullptr) {
      if (menu != nullptr) {
        ::DestroyMenu(menu);
      }
      return nullptr;
    }
    m_hAccel = ::LoadAcceleratorsA(resources, MAKEINTRESOURCEA(id));
    return hWnd;
  }

  // A status bar along the bottom with the text of string `textId`.
  HWND CreateSimpleStatusBar(UINT textId, DWORD style, UINT id)
  {
    char text[256] = "";
    ::LoadStringA(AppModule().GetResourceInstance(), textId, text, sizeof(text));
    m_hWndStatusBar = ::CreateWindowExA(0, STATUSCLASSNAMEA, text, style, 0, 0, 0, 0, this->m_hWnd,
                                        reinterpret_cast<HMENU>(UINT_PTR(id)),
                                        AppModule().GetModuleInstance(), nullptr);
    return m_hWndStatusBar;
  }

  // A rebar along the top, as the frame's tool-bar window.
  HWND CreateSimpleReBar(DWORD style, UINT id)
  {
    m_hWndToolBar = ::CreateWindowExA(0, REBARCLASSNAMEA, nullptr, style, 0, 0, 100, 100,
                                      this->m_hWnd, reinterpret_cast<HMENU>(UINT_PTR(id)),
                                      AppModule().GetModuleInstance(), nullptr);
    if (m_hWndToolBar != nullptr) {
      REBARINFO info = {};
      info.cbSize = sizeof(info);
      ::SendMessageA(m_hWndToolBar, RB_SETBARINFO, 0, reinterpret_cast<LPARAM>(&info));
    }
    return m_hWndToolBar;
  }

  // Adds `child` (of the given ideal size) as a band of the rebar.
  BOOL AddSimpleReBarBand(HWND child, SIZE ideal, SIZE minimum, UINT bandStyle)
  {
    if (m_hWndToolBar == nullptr || child == nullptr) {
      return FALSE;
    }
    REBARBANDINFOA band = {};
    band.cbSize = sizeof(band);
    band.fMask = RBBIM_CHILD | RBBIM_CHILDSIZE | RBBIM_STYLE | RBBIM_SIZE | RBBIM_IDEALSIZE;
    band.fStyle = bandStyle;
    band.hwndChild = child;
    band.cxMinChild = minimum.cx;
    band.cyMinChild = minimum.cy;
    band.cx = ideal.cx;
    band.cxIdeal = ideal.cx;
    return ::SendMessageA(m_hWndToolBar, RB_INSERTBANDA, WPARAM(-1),
                          reinterpret_cast<LPARAM>(&band)) != 0;
  }

  // The bars take what they need from the client area; the client window gets the rest.
  void UpdateLayout(BOOL resizeBars = TRUE)
  {
    RECT rect;
    this->GetClientRect(&rect);
    UpdateBarsPosition(rect, resizeBars);
    if (m_hWndClient != nullptr) {
      ::SetWindowPos(m_hWndClient, nullptr, rect.left, rect.top, rect.right - rect.left,
                     rect.bottom - rect.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }

  void UpdateBarsPosition(RECT& rect, BOOL resizeBars)
  {
    if (m_hWndToolBar != nullptr && ::IsWindowVisible(m_hWndToolBar)) {
      if (resizeBars) {
        ::SendMessageA(m_hWndToolBar, WM_SIZE, 0, 0);
      }
      RECT bar;
      ::GetWindowRect(m_hWndToolBar, &bar);
      rect.top += bar.bottom - bar.top;
    }
    if (m_hWndStatusBar != nullptr && ::IsWindowVisible(m_hWndStatusBar)) {
      if (resizeBars) {
        ::SendMessageA(m_hWndStatusBar, WM_SIZE, 0, 0);
      }
      RECT bar;
      ::GetWindowRect(m_hWndStatusBar, &bar);
      rect.bottom -= bar.bottom - bar.top;
    }
  }

  // The frame's standard message map.
  BOOL ProcessWindowMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                            DWORD mapId = 0) override
  {
    if (mapId != 0) {
      return FALSE;
    }
    switch (message) {
    case WM_SIZE:
      if (wParam != SIZE_MINIMIZED) {
        static_cast<T*>(this)->UpdateLayout();
      }
      result = 0;
      return TRUE;
    case WM_ERASEBKGND:
      if (m_hWndClient != nullptr) {
        result = 1; // the client covers everything
        return TRUE;
      }
      return FALSE;
    case WM_SETFOCUS:
      if (m_hWndClient != nullptr && ::IsWindow(m_hWndClient)) {
        ::SetFocus(m_hWndClient);
      }
      result = 0;
      return TRUE;
    case WM_DESTROY:
      if ((this->GetStyle() & WS_CHILD) == 0) {
        ::PostQuitMessage(1);
      }
      return FALSE;
    case WM_MENUSELECT:
      OnMenuSelect(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HMENU>(lParam));
      result = 0;
      return TRUE;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->hwndFrom == m_hWndToolBar &&
          (header->code == RBN_HEIGHTCHANGE || header->code == RBN_AUTOSIZE)) {
        static_cast<T*>(this)->UpdateLayout(FALSE);
        result = 0;
        return TRUE;
      }
      return FALSE;
    }
    default:
      return FALSE;
    }
  }

private:
  // While a menu is open the status bar is in simple mode with the highlighted item's
  // prompt: the text of the string with the command's id, up to its first newline.
  void OnMenuSelect(UINT item, UINT flags, HMENU menu)
  {
    if (m_hWndStatusBar == nullptr) {
      return;
    }
    if (flags == 0xFFFF && menu == nullptr) {
      ::SendMessageA(m_hWndStatusBar, SB_SIMPLE, FALSE, 0);
      return;
    }
    char text[256] = "";
    if ((flags & (MF_POPUP | MF_SEPARATOR)) == 0) {
      UINT id = item;
      if (id >= 0xF000 && id < 0xF1F0) {
        id = systemCommandPromptBase + ((id - 0xF000) >> 4);
      }
      if (::LoadStringA(AppModule().GetResourceInstance(), id, text, sizeof(text)) > 0) {
        for (char* p = text; *p != 0; p++) {
          if (*p == '\n') {
            *p = 0;
            break;
          }
        }
      }
    }
    ::SendMessageA(m_hWndStatusBar, SB_SIMPLE, TRUE, 0);
    ::SendMessageA(m_hWndStatusBar, SB_SETTEXTA, simplePart | SBT_NOBORDERS,
                   reinterpret_cast<LPARAM>(text));
  }
};

} // namespace WTL
