// Dialog-resize support: controls keep their distances to the dialog's edges by the anchors
// of a resize map, and the dialog's first size can serve as its minimum tracking size.
#pragma once

#include <windows.h>

#include <vector>

namespace WTL {

enum : DWORD {
  DLSZ_SIZE_X = 0x1, // the right edge follows the dialog's right edge
  DLSZ_SIZE_Y = 0x2, // the bottom edge follows the dialog's bottom edge
  DLSZ_MOVE_X = 0x4, // the control moves with the dialog's right edge
  DLSZ_MOVE_Y = 0x8, // the control moves with the dialog's bottom edge
};

struct DlgResizeMapEntry {
  int id; // control id; -1 ends the map
  DWORD flags;
};

// T is a dialog (it has m_hWnd) and supplies `static const DlgResizeMapEntry* GetDlgResizeMap()`.
template <class T> class CDialogResize {
public:
  // The minimum tracking size: -1, -1 until DlgResize_Init has run.
  POINT m_ptMinTrackSize = {-1, -1};

  void DlgResize_Init(bool useMinTrackSize = true, DWORD forceStyle = WS_CLIPCHILDREN)
  {
    HWND dialog = static_cast<T*>(this)->m_hWnd;
    const DWORD style = static_cast<DWORD>(::GetWindowLongA(dialog, GWL_STYLE));
    if ((style & forceStyle) != forceStyle) {
      ::SetWindowLongA(dialog, GWL_STYLE, static_cast<LONG>(style | forceStyle));
    }
    RECT client;
    ::GetClientRect(dialog, &client);
    m_sizeDialog = {client.right, client.bottom};
    if (useMinTrackSize) {
      if (style & WS_CHILD) {
        m_ptMinTrackSize = {client.right, client.bottom};
      } else {
        RECT window;
        ::GetWindowRect(dialog, &window);
        m_ptMinTrackSize = {window.right - window.left, window.bottom - window.top};
      }
    }
    m_controls.clear();
    for (const DlgResizeMapEntry* e = T::GetDlgResizeMap(); e->id != -1; e++) {
      HWND control = ::GetDlgItem(dialog, e->id);
      if (control == nullptr) {
        continue;
      }
      RECT r;
      ::GetWindowRect(control, &r);
      ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
      m_controls.push_back({e->id, e->flags, r});
    }
  }

  void DlgResize_UpdateLayout(int width, int height)
  {
    if (m_controls.empty()) {
      return;
    }
    HWND dialog = static_cast<T*>(this)->m_hWnd;
    const int dx = width - m_sizeDialog.cx, dy = height - m_sizeDialog.cy;
    HDWP positions = ::BeginDeferWindowPos(static_cast<int>(m_controls.size()));
    for (const Control& c : m_controls) {
      RECT r = c.initial;
      if (c.flags & DLSZ_SIZE_X) {
        r.right += dx;
      }
      if (c.flags & DLSZ_SIZE_Y) {
        r.bottom += dy;
      }
      if (c.flags & DLSZ_MOVE_X) {
        r.left += dx;
        r.right += dx;
      }
      if (c.flags & DLSZ_MOVE_Y) {
        r.top += dy;
        r.bottom += dy;
      }
      HWND control = ::GetDlgItem(dialog, c.id);
      if (positions != nullptr) {
        positions = ::DeferWindowPos(positions, control, nullptr, r.left, r.top, r.right - r.left,
                                     r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
      }
    }
    if (positions != nullptr) {
      ::EndDeferWindowPos(positions);
    }
    ::InvalidateRect(dialog, nullptr, TRUE);
  }

  BOOL ProcessWindowMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                            DWORD mapId = 0)
  {
    if (mapId != 0) {
      return FALSE;
    }
    switch (message) {
    case WM_SIZE:
      if (wParam != SIZE_MINIMIZED) {
        DlgResize_UpdateLayout(LOWORD(lParam), HIWORD(lParam));
      }
      result = 0;
      return TRUE;
    case WM_GETMINMAXINFO:
      if (m_ptMinTrackSize.x != -1 && m_ptMinTrackSize.y != -1) {
        reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = m_ptMinTrackSize;
      }
      result = 0;
      return TRUE;
    default:
      return FALSE;
    }
  }

private:
  struct Control {
    int id;
    DWORD flags;
    RECT initial;
  };
  SIZE m_sizeDialog = {0, 0};
  std::vector<Control> m_controls;
};

} // namespace WTL
