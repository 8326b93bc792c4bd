#include "window.h"

#include "app_module.h"

#include <cstdio>

namespace ATL {

namespace {

// The property that ties a window handle to its object.
const char selfProperty[] = "Halden.Wtl.Self";

thread_local CWindowImplRoot* creating = nullptr;

} // namespace

BOOL CWindow::CenterWindow(HWND over) const
{
  if (over == nullptr) {
    over = (GetStyle() & WS_CHILD) ? ::GetParent(m_hWnd) : ::GetWindow(m_hWnd, GW_OWNER);
  }
  RECT area;
  if (over != nullptr && ::IsWindowVisible(over) && !::IsIconic(over)) {
    ::GetWindowRect(over, &area);
  } else {
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
  }
  RECT own;
  ::GetWindowRect(m_hWnd, &own);
  const int w = own.right - own.left, h = own.bottom - own.top;
  int x = area.left + ((area.right - area.left) - w) / 2;
  int y = area.top + ((area.bottom - area.top) - h) / 2;
  if (GetStyle() & WS_CHILD) {
    POINT p = {x, y};
    ::ScreenToClient(::GetParent(m_hWnd), &p);
    x = p.x;
    y = p.y;
  }
  return ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

CWindowImplRoot::~CWindowImplRoot()
{
  // A window that outlives its object must not call into freed memory.
  if (m_hWnd != nullptr && ::IsWindow(m_hWnd)) {
    if (m_subclassed) {
      UnsubclassWindow();
    } else {
      ::RemovePropA(m_hWnd, selfProperty);
      ::DestroyWindow(m_hWnd);
    }
  }
}

WNDPROC CWindowImplRoot::GetWindowProc()
{
  return WindowProc;
}

void CWindowImplRoot::OnFinalMessage(HWND)
{
}

CWindowImplRoot* CWindowImplRoot::FromHandle(HWND hWnd)
{
  return static_cast<CWindowImplRoot*>(::GetPropA(hWnd, selfProperty));
}

void CWindowImplRoot::SetCreating(CWindowImplRoot* window)
{
  creating = window;
}

CWindowImplRoot* CWindowImplRoot::TakeCreating()
{
  CWindowImplRoot* window = creating;
  creating = nullptr;
  return window;
}

void CWindowImplRoot::Attach(HWND hWnd)
{
  m_hWnd = hWnd;
  ::SetPropA(hWnd, selfProperty, this);
}

HWND CWindowImplRoot::Detach()
{
  HWND hWnd = m_hWnd;
  if (hWnd != nullptr) {
    ::RemovePropA(hWnd, selfProperty);
  }
  m_hWnd = nullptr;
  return hWnd;
}

BOOL CWindowImplRoot::SubclassWindow(HWND hWnd)
{
  if (m_hWnd != nullptr || !::IsWindow(hWnd) || FromHandle(hWnd) != nullptr) {
    return FALSE;
  }
  Attach(hWnd);
  m_superWindowProc = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(GetWindowProc())));
  m_subclassed = true;
  return TRUE;
}

HWND CWindowImplRoot::UnsubclassWindow()
{
  if (!m_subclassed) {
    return nullptr;
  }
  ::SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_superWindowProc));
  m_superWindowProc = ::DefWindowProcA;
  m_subclassed = false;
  return Detach();
}

LRESULT CWindowImplRoot::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
  return ::CallWindowProcA(m_superWindowProc, m_hWnd, message, wParam, lParam);
}

LRESULT CALLBACK CWindowImplRoot::WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
  CWindowImplRoot* self = FromHandle(hWnd);
  if (self == nullptr) {
    self = TakeCreating();
    if (self == nullptr) {
      return ::DefWindowProcA(hWnd, message, wParam, lParam);
    }
    self->Attach(hWnd);
  }

  LRESULT result = 0;
  if (!self->ProcessWindowMessage(hWnd, message, wParam, lParam, result, 0)) {
    result = self->DefWindowProc(message, wParam, lParam);
  }
  if (message == WM_NCDESTROY) {
    // The object may go away in OnFinalMessage: nothing touches it afterwards.
    if (self->m_subclassed) {
      self->UnsubclassWindow();
    } else {
      self->Detach();
    }
    self->OnFinalMessage(hWnd);
  }
  return result;
}

ATOM RegisterWndClass(CWndClassInfo& info, WNDPROC proc)
{
  if (info.atom != 0) {
    return info.atom;
  }
  static char generated[32];
  const char* name = info.name;
  if (name == nullptr) {
    std::snprintf(generated, sizeof(generated), "Halden.Wtl:%p", static_cast<void*>(&info));
    name = generated;
  }
  HINSTANCE instance = WTL::AppModule().GetModuleInstance();
  HINSTANCE resources = WTL::AppModule().GetResourceInstance();
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof(wc);
  wc.style = info.style;
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hCursor = info.cursor ? ::LoadCursorA(nullptr, info.cursor) : nullptr;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(info.backgroundColour));
  wc.lpszClassName = name;
  if (info.resourceId != 0) {
    wc.hIcon = static_cast<HICON>(::LoadImageA(resources, MAKEINTRESOURCEA(info.resourceId),
                                               IMAGE_ICON, ::GetSystemMetrics(SM_CXICON),
                                               ::GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
    wc.hIconSm = static_cast<HICON>(::LoadImageA(resources, MAKEINTRESOURCEA(info.resourceId),
                                                 IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                                 ::GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  }
  info.atom = ::RegisterClassExA(&wc);
  return info.atom;
}

DLGPROC CDialogImplRoot::GetDialogProc()
{
  return DialogProc;
}

HWND CDialogImplRoot::CreateFromResource(HWND parent, UINT id, LPARAM param)
{
  SetCreating(this);
  HWND hWnd = ::CreateDialogParamA(WTL::AppModule().GetResourceInstance(), MAKEINTRESOURCEA(id),
                                   parent, GetDialogProc(), param);
  TakeCreating();
  return hWnd;
}

INT_PTR CDialogImplRoot::RunFromResource(HWND parent, UINT id, LPARAM param)
{
  SetCreating(this);
  const INT_PTR result = ::DialogBoxParamA(WTL::AppModule().GetResourceInstance(),
                                           MAKEINTRESOURCEA(id), parent, GetDialogProc(), param);
  TakeCreating();
  return result;
}

INT_PTR CALLBACK CDialogImplRoot::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
  auto* self = static_cast<CDialogImplRoot*>(FromHandle(hWnd));
  if (self == nullptr) {
    self = static_cast<CDialogImplRoot*>(TakeCreating());
    if (self == nullptr) {
      return FALSE;
    }
    self->Attach(hWnd);
  }

  LRESULT result = 0;
  const BOOL handled = self->ProcessWindowMessage(hWnd, message, wParam, lParam, result, 0);
  if (message == WM_NCDESTROY) {
    self->Detach();
    self->OnFinalMessage(hWnd);
    return handled;
  }
  if (!handled) {
    return FALSE;
  }
  switch (message) {
  // These hand their result back as the procedure's return value.
  case WM_INITDIALOG:
  case WM_COMPAREITEM:
  case WM_VKEYTOITEM:
  case WM_CHARTOITEM:
  case WM_QUERYDRAGICON:
  case WM_CTLCOLORMSGBOX:
  case WM_CTLCOLOREDIT:
  case WM_CTLCOLORLISTBOX:
  case WM_CTLCOLORBTN:
  case WM_CTLCOLORDLG:
  case WM_CTLCOLORSCROLLBAR:
  case WM_CTLCOLORSTATIC:
    return static_cast<INT_PTR>(result);
  default:
    ::SetWindowLongPtrA(hWnd, DWLP_MSGRESULT, result);
    return TRUE;
  }
}

} // namespace ATL
