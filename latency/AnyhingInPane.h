// Child windows hosted in the panes of a multi-pane status bar: each is kept on its pane's
// rectangle, inset by one pixel, and hidden while the bar shows a single simple text.
#pragma once

#include <windows.h>

#include <cstdint>

// T is the status bar: it has m_nPanes and GetRect(part, rect).
template <class T> class CAnyhingInPaneImpl {
public:
  struct PaneWindow {
    HWND window;  // null while the slot is free
    int16_t pane; // status-bar part, -1 while free
    bool owned;   // the bar destroys an owned window itself
  };
  static const int maxPaneWindows = 15;
  // The part that AddPaneWindow hosts windows in.
  static const int16_t hostPart = 1;

  CAnyhingInPaneImpl()
  {
    for (PaneWindow& slot : m_paneWindows) {
      slot = {nullptr, -1, false};
    }
  }

  virtual ~CAnyhingInPaneImpl()
  {
    for (PaneWindow& slot : m_paneWindows) {
      if (slot.owned && ::IsWindow(slot.window)) {
        ::DestroyWindow(slot.window);
      }
    }
  }

  // Hosts `window` in part 1 (not owned), replacing the window hosted there before.
  bool AddPaneWindow(HWND window)
  {
    if (!::IsWindow(window) || !RemovePaneWindow()) {
      return false;
    }
    PaneWindow* slot = nullptr;
    for (PaneWindow& s : m_paneWindows) {
      if (s.window == nullptr) {
        slot = &s;
        break;
      }
    }
    if (slot == nullptr) {
      return false;
    }
    RECT r;
    Bar().GetRect(hostPart, &r);
    ::InflateRect(&r, -1, -1);
    ::MoveWindow(window, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
    *slot = {window, hostPart, false};
    LayoutPaneWindows();
    return true;
  }

  // Frees the slot that hosts part 1; false when the bar has fewer than two panes.
  bool RemovePaneWindow()
  {
    if (Bar().m_nPanes < 2) {
      return false;
    }
    for (PaneWindow& slot : m_paneWindows) {
      if (slot.window != nullptr && slot.pane == hostPart) {
        if (slot.owned && ::IsWindow(slot.window)) {
          ::DestroyWindow(slot.window);
        }
        ::ShowWindow(slot.window, SW_HIDE);
        slot = {nullptr, -1, false};
        break;
      }
    }
    return true;
  }

  bool LayoutPaneWindows()
  {
    for (PaneWindow& slot : m_paneWindows) {
      if (slot.window == nullptr) {
        continue;
      }
      RECT r;
      Bar().GetRect(slot.pane, &r);
      ::InflateRect(&r, -1, -1);
      ::MoveWindow(slot.window, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
      ::InvalidateRect(slot.window, nullptr, TRUE);
    }
    return true;
  }

  // SB_SIMPLE: hosted windows hide while the bar is simple and come back after it.
  LRESULT ShowPaneWindows(WPARAM simple)
  {
    for (PaneWindow& slot : m_paneWindows) {
      if (slot.window != nullptr) {
        ::ShowWindow(slot.window, simple ? SW_HIDE : SW_SHOW);
      }
    }
    return 0;
  }

  const PaneWindow& PaneWindowAt(int slot) const { return m_paneWindows[slot]; }

private:
  T& Bar() { return *static_cast<T*>(this); }

  PaneWindow m_paneWindows[maxPaneWindows];
};
