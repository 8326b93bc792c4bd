// Window handles, message maps and the window-procedure plumbing of the window layer.
//
// A window object finds itself from its handle through a window property; a window that is
// being created finds its object through a per-thread pointer set just before CreateWindowEx
// (the first messages, WM_GETMINMAXINFO among them, arrive before WM_NCCREATE).
#pragma once

#include <windows.h>

namespace ATL {

// A window handle and the few calls on it that the program makes.
class CWindow {
public:
  HWND m_hWnd = nullptr;

  CWindow(HWND hWnd = nullptr) : m_hWnd(hWnd) {}
  operator HWND() const { return m_hWnd; }

  BOOL IsWindow() const { return ::IsWindow(m_hWnd); }
  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
  {
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
  }
  BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
  {
    return ::PostMessageA(m_hWnd, message, wParam, lParam);
  }
  HWND GetParent() const { return ::GetParent(m_hWnd); }
  HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
  BOOL SetDlgItemText(int id, const char* text) const
  {
    return ::SetDlgItemTextA(m_hWnd, id, text);
  }
  BOOL SetWindowText(const char* text) const { return ::SetWindowTextA(m_hWnd, text); }
  BOOL ShowWindow(int command) const { return ::ShowWindow(m_hWnd, command); }
  BOOL GetClientRect(RECT* rect) const { return ::GetClientRect(m_hWnd, rect); }
  BOOL GetWindowRect(RECT* rect) const { return ::GetWindowRect(m_hWnd, rect); }
  BOOL MoveWindow(const RECT& r, BOOL repaint = TRUE) const
  {
    return ::MoveWindow(m_hWnd, r.left, r.top, r.right - r.left, r.bottom - r.top, repaint);
  }
  BOOL SetWindowPos(HWND after, const RECT& r, UINT flags) const
  {
    return ::SetWindowPos(m_hWnd, after, r.left, r.top, r.right - r.left, r.bottom - r.top, flags);
  }
  BOOL Invalidate(BOOL erase = TRUE) const { return ::InvalidateRect(m_hWnd, nullptr, erase); }
  BOOL DestroyWindow() { return ::DestroyWindow(m_hWnd); }
  DWORD GetStyle() const { return static_cast<DWORD>(::GetWindowLongA(m_hWnd, GWL_STYLE)); }
  // Adds and removes style bits; true when the style changed.
  BOOL ModifyStyle(DWORD remove, DWORD add) const
  {
    const DWORD style = GetStyle();
    const DWORD changed = (style & ~remove) | add;
    if (changed == style) {
      return FALSE;
    }
    ::SetWindowLongA(m_hWnd, GWL_STYLE, static_cast<LONG>(changed));
    return TRUE;
  }
  UINT_PTR SetTimer(UINT_PTR id, UINT milliseconds) const
  {
    return ::SetTimer(m_hWnd, id, milliseconds, nullptr);
  }
  BOOL KillTimer(UINT_PTR id) const { return ::KillTimer(m_hWnd, id); }
  // Centres over the parent (or owner) window, or over the desktop when there is none.
  BOOL CenterWindow(HWND over = nullptr) const;
};

// The one virtual operation every window of the program implements: its message map.
// It returns true when the message was handled, with the message's result in `result`.
// Map 0 is the window's main map; the program's windows serve no other map.
class CMessageMap {
public:
  virtual BOOL ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam,
                                    LRESULT& result, DWORD mapId = 0) = 0;
};

// What windows and dialogs share: the object behind the handle, and the window procedure
// that was there before subclassing.
class CWindowImplRoot : public CWindow, public CMessageMap {
public:
  virtual ~CWindowImplRoot();
  // The procedure that the layer installs for this kind of window.
  virtual WNDPROC GetWindowProc();
  // Called after the last message (WM_NCDESTROY), with the handle already detached.
  virtual void OnFinalMessage(HWND hWnd);

  CWindowImplRoot(const CWindowImplRoot&) = delete;
  CWindowImplRoot& operator=(const CWindowImplRoot&) = delete;

  // Hooks an existing window (a control of a dialog): its messages go through this object's
  // message map first, then to the procedure it had.
  BOOL SubclassWindow(HWND hWnd);
  // Gives the window its own procedure back and forgets it.
  HWND UnsubclassWindow();

  // The procedure below the message map: the subclassed control's own, or DefWindowProc.
  LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);

  // The object of a window of this layer, or null.
  static CWindowImplRoot* FromHandle(HWND hWnd);

protected:
  CWindowImplRoot() = default;

  static LRESULT CALLBACK WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

  // The object that the next window created on this thread belongs to.
  static void SetCreating(CWindowImplRoot* window);
  static CWindowImplRoot* TakeCreating();

  void Attach(HWND hWnd);
  HWND Detach();

  WNDPROC m_superWindowProc = ::DefWindowProcA;
  bool m_subclassed = false;
};

// A window class description: the layer registers it once, on the first Create.
struct CWndClassInfo {
  const char* name;
  UINT style;
  int backgroundColour; // COLOR_* index + 1, or 0 for no brush
  const char* cursor;   // IDC_*, or null
  UINT resourceId;      // icon and menu, or 0
  ATOM atom;
};

// Registers (once) and returns the class atom of `info` with the layer's window procedure.
ATOM RegisterWndClass(CWndClassInfo& info, WNDPROC proc);

// A window implemented by T: T supplies ProcessWindowMessage and may supply its own class
// through a static GetWndClassInfo().
template <class T> class CWindowImpl : public CWindowImplRoot {
public:
  static CWndClassInfo& GetWndClassInfo()
  {
    static CWndClassInfo info = {nullptr, CS_HREDRAW | CS_VREDRAW, COLOR_WINDOW + 1, IDC_ARROW, 0,
                                 0};
    return info;
  }

  HWND Create(HWND parent, const RECT& rect, const char* name, DWORD style, DWORD exStyle = 0,
              HMENU menuOrId = nullptr)
  {
    const ATOM atom = RegisterWndClass(T::GetWndClassInfo(), GetWindowProc());
    if (atom == 0) {
      return nullptr;
    }
    SetCreating(this);
    HWND hWnd = ::CreateWindowExA(exStyle, MAKEINTATOM(atom), name, style, rect.left, rect.top,
                                  rect.right - rect.left, rect.bottom - rect.top, parent, menuOrId,
                                  ::GetModuleHandleA(nullptr), nullptr);
    TakeCreating();
    return hWnd;
  }
};

// A dialog implemented by T from its dialog resource T::IDD.
class CDialogImplRoot : public CWindowImplRoot {
public:
  // The procedure that the layer installs for dialogs.
  virtual DLGPROC GetDialogProc();

  BOOL EndDialog(int result) { return ::EndDialog(m_hWnd, result); }

protected:
  static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

  HWND CreateFromResource(HWND parent, UINT id, LPARAM param);
  INT_PTR RunFromResource(HWND parent, UINT id, LPARAM param);
};

template <class T> class CDialogImpl : public CDialogImplRoot {
public:
  HWND Create(HWND parent, LPARAM param = 0) { return CreateFromResource(parent, T::IDD, param); }
  INT_PTR DoModal(HWND parent = ::GetActiveWindow(), LPARAM param = 0)
  {
    return RunFromResource(parent, T::IDD, param);
  }
};

} // namespace ATL
