#include "hyperlink.h"

#include "app_module.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace WTL {

namespace {

const char browserSettingsKey[] = "Software\\Microsoft\\Internet Explorer\\Settings";
const COLORREF defaultLinkColour = RGB(0, 0, 255);
const COLORREF defaultVisitedColour = RGB(128, 0, 128);

} // namespace

CHyperLink::CHyperLink()
    : m_linkColour(ReadBrowserColour("Anchor Color", defaultLinkColour)),
      m_visitedColour(ReadBrowserColour("Anchor Color Visited", defaultVisitedColour))
{
}

CHyperLink::~CHyperLink()
{
  if (m_toolTip != nullptr && ::IsWindow(m_toolTip)) {
    ::DestroyWindow(m_toolTip);
  }
  if (m_font != nullptr) {
    ::DeleteObject(m_font);
  }
}

bool CHyperLink::ParseColour(const char* text, COLORREF& colour)
{
  if (text == nullptr) {
    return false;
  }
  unsigned r, g, b;
  char rest;
  if (std::sscanf(text, " %u , %u , %u %c", &r, &g, &b, &rest) != 3 || r > 255 || g > 255 ||
      b > 255) {
    return false;
  }
  colour = RGB(r, g, b);
  return true;
}

COLORREF CHyperLink::ReadBrowserColour(const char* valueName, COLORREF fallback)
{
  HKEY key;
  if (::RegOpenKeyExA(HKEY_CURRENT_USER, browserSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return fallback;
  }
  char text[64] = "";
  DWORD type = 0, size = sizeof(text) - 1;
  COLORREF colour = fallback;
  if (::RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) ==
          ERROR_SUCCESS &&
      type == REG_SZ) {
    text[size < sizeof(text) ? size : sizeof(text) - 1] = 0;
    ParseColour(text, colour);
  }
  ::RegCloseKey(key);
  return colour;
}

BOOL CHyperLink::SubclassWindow(HWND hWnd)
{
  if (!CWindowImpl<CHyperLink>::SubclassWindow(hWnd)) {
    return FALSE;
  }
  ModifyStyle(0, SS_NOTIFY);
  MakeFont();
  MakeToolTip();
  Invalidate();
  return TRUE;
}

BOOL CHyperLink::SetHyperLink(const char* target)
{
  m_target = target != nullptr ? target : "";
  if (m_toolTip != nullptr) {
    TOOLINFOA tool = {};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND;
    tool.hwnd = m_hWnd;
    tool.uId = reinterpret_cast<UINT_PTR>(m_hWnd);
    tool.lpszText = const_cast<char*>(m_target.c_str());
    ::SendMessageA(m_toolTip, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
  }
  return TRUE;
}

bool CHyperLink::Navigate()
{
  if (m_target.empty()) {
    return false;
  }
  const auto started = reinterpret_cast<INT_PTR>(
      ::ShellExecuteA(nullptr, "open", m_target.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  if (started <= 32) {
    return false;
  }
  m_visited = true;
  Invalidate();
  return true;
}

void CHyperLink::MakeFont()
{
  HFONT font = reinterpret_cast<HFONT>(SendMessage(WM_GETFONT));
  if (font == nullptr) {
    font = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
  }
  LOGFONTA lf;
  if (::GetObjectA(font, sizeof(lf), &lf) != sizeof(lf)) {
    return;
  }
  lf.lfUnderline = TRUE;
  HFONT underlined = ::CreateFontIndirectA(&lf);
  if (underlined != nullptr) {
    if (m_font != nullptr) {
      ::DeleteObject(m_font);
    }
    m_font = underlined;
  }
}

void CHyperLink::MakeToolTip()
{
  if (m_toolTip != nullptr) {
    return;
  }
  m_toolTip = ::CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, TTS_ALWAYSTIP, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_hWnd, nullptr,
                                AppModule().GetModuleInstance(), nullptr);
  if (m_toolTip == nullptr) {
    return;
  }
  TOOLINFOA tool = {};
  tool.cbSize = sizeof(tool);
  tool.uFlags = TTF_IDISHWND;
  tool.hwnd = m_hWnd;
  tool.uId = reinterpret_cast<UINT_PTR>(m_hWnd);
  tool.lpszText = const_cast<char*>(m_target.c_str());
  ::SendMessageA(m_toolTip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
  ::SendMessageA(m_toolTip, TTM_ACTIVATE, TRUE, 0);
}

UINT CHyperLink::DrawFlags() const
{
  const DWORD style = GetStyle();
  UINT flags = 0;
  switch (style & SS_TYPEMASK) {
  case SS_CENTER:
    flags = DT_CENTER | DT_WORDBREAK;
    break;
  case SS_RIGHT:
    flags = DT_RIGHT | DT_WORDBREAK;
    break;
  case SS_LEFTNOWORDWRAP:
    flags = DT_LEFT | DT_EXPANDTABS;
    break;
  default:
    flags = DT_LEFT | DT_WORDBREAK;
    break;
  }
  if (style & SS_CENTERIMAGE) {
    flags = (flags & ~DT_WORDBREAK) | DT_VCENTER | DT_SINGLELINE;
  }
  if (style & SS_NOPREFIX) {
    flags |= DT_NOPREFIX;
  }
  return flags;
}

RECT CHyperLink::TextRect()
{
  RECT client;
  GetClientRect(&client);
  const int length = ::GetWindowTextLengthA(m_hWnd);
  std::vector<char> text(length + 1);
  ::GetWindowTextA(m_hWnd, text.data(), length + 1);
  HDC dc = ::GetDC(m_hWnd);
  HGDIOBJ old = m_font != nullptr ? ::SelectObject(dc, m_font) : nullptr;
  const UINT flags = DrawFlags();
  RECT r = client;
  ::DrawTextA(dc, text.data(), -1, &r,
              (flags & ~(DT_CENTER | DT_RIGHT | DT_VCENTER)) | DT_CALCRECT);
  if (old != nullptr) {
    ::SelectObject(dc, old);
  }
  ::ReleaseDC(m_hWnd, dc);
  const int w = std::min<int>(r.right - r.left, client.right);
  const int h = std::min<int>(r.bottom - r.top, client.bottom);
  int x = 0, y = 0;
  if (flags & DT_CENTER) {
    x = (client.right - w) / 2;
  } else if (flags & DT_RIGHT) {
    x = client.right - w;
  }
  if (flags & DT_VCENTER) {
    y = (client.bottom - h) / 2;
  }
  return RECT{x, y, x + w, y + h};
}

bool CHyperLink::OverText(POINT client)
{
  const RECT r = TextRect();
  return ::PtInRect(&r, client) != FALSE;
}

void CHyperLink::Paint(HDC dc)
{
  RECT client;
  GetClientRect(&client);
  auto brush = reinterpret_cast<HBRUSH>(::SendMessageA(GetParent(), WM_CTLCOLORSTATIC,
                                                       reinterpret_cast<WPARAM>(dc),
                                                       reinterpret_cast<LPARAM>(m_hWnd)));
  ::FillRect(dc, &client, brush != nullptr ? brush : ::GetSysColorBrush(COLOR_BTNFACE));
  const int length = ::GetWindowTextLengthA(m_hWnd);
  std::vector<char> text(length + 1);
  ::GetWindowTextA(m_hWnd, text.data(), length + 1);
  HGDIOBJ old = m_font != nullptr ? ::SelectObject(dc, m_font) : nullptr;
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, m_visited ? m_visitedColour : m_linkColour);
  ::DrawTextA(dc, text.data(), -1, &client, DrawFlags());
  if (old != nullptr) {
    ::SelectObject(dc, old);
  }
}

BOOL CHyperLink::ProcessWindowMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam,
                                      LRESULT& result, DWORD mapId)
{
  if (mapId != 0) {
    return FALSE;
  }
  result = 0;
  if (m_toolTip != nullptr && message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) {
    MSG msg = {m_hWnd, message, wParam, lParam, static_cast<DWORD>(::GetMessageTime()), {}};
    ::GetCursorPos(&msg.pt);
    ::SendMessageA(m_toolTip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&msg));
  }
  switch (message) {
  case WM_PAINT: {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(m_hWnd, &ps);
    Paint(dc);
    ::EndPaint(m_hWnd, &ps);
    return TRUE;
  }
  case WM_ERASEBKGND:
    result = 1; // the paint fills the background itself
    return TRUE;
  case WM_NCHITTEST:
    result = HTCLIENT;
    return TRUE;
  case WM_SETCURSOR: {
    POINT p;
    ::GetCursorPos(&p);
    ::ScreenToClient(m_hWnd, &p);
    if (OverText(p)) {
      ::SetCursor(::LoadCursorA(nullptr, IDC_HAND));
      result = TRUE;
      return TRUE;
    }
    return FALSE;
  }
  case WM_LBUTTONDOWN:
    if (OverText(POINT{short(LOWORD(lParam)), short(HIWORD(lParam))})) {
      m_pressed = true;
      ::SetCapture(m_hWnd);
    }
    return TRUE;
  case WM_LBUTTONUP:
    if (m_pressed) {
      m_pressed = false;
      ::ReleaseCapture();
      if (OverText(POINT{short(LOWORD(lParam)), short(HIWORD(lParam))})) {
        Navigate();
      }
    }
    return TRUE;
  case WM_CAPTURECHANGED:
    m_pressed = false;
    return FALSE;
  case WM_SETFONT:
    result = DefWindowProc(message, wParam, lParam);
    MakeFont();
    return TRUE;
  default:
    return FALSE;
  }
}

} // namespace WTL
