#include "command_bar.h"

#include "app_module.h"

#include <algorithm>
#include <cctype>

namespace WTL {

namespace {

const char parentProperty[] = "Halden.Wtl.CommandBar";
const int itemPaddingX = 7;
const int itemPaddingY = 3;
// Tool-bar resources have the resource type 241.
const char* const toolBarResourceType = MAKEINTRESOURCEA(241);
// The colour that tool-bar bitmaps use for their transparent pixels.
const COLORREF imageMaskColour = RGB(192, 192, 192);

thread_local CCommandBarCtrl* tracking = nullptr;
// The command bar of this thread's frame, for the keyboard hook.
thread_local CCommandBarCtrl* keyboardOwner = nullptr;

// Posted to the bar by the keyboard hook, which must not run a menu loop itself.
const UINT openPopupMessage = WM_USER + 1; // wParam: item
const UINT toggleKeyboardMessage = WM_USER + 2;

char MnemonicOf(const std::string& text)
{
  for (size_t i = 0; i + 1 < text.size(); i++) {
    if (text[i] == '&') {
      if (text[i + 1] == '&') {
        i++;
        continue;
      }
      return static_cast<char>(std::toupper(static_cast<unsigned char>(text[i + 1])));
    }
  }
  return 0;
}

} // namespace

CCommandBarCtrl::~CCommandBarCtrl()
{
  UnhookParent();
  if (m_keyboardHook != nullptr) {
    ::UnhookWindowsHookEx(m_keyboardHook);
    if (keyboardOwner == this) {
      keyboardOwner = nullptr;
    }
  }
  if (m_menu != nullptr) {
    ::DestroyMenu(m_menu);
  }
  if (m_images != nullptr) {
    ImageList_Destroy(m_images);
  }
  if (m_font != nullptr) {
    ::DeleteObject(m_font);
  }
}

ATL::CWndClassInfo& CCommandBarCtrl::GetWndClassInfo()
{
  static ATL::CWndClassInfo info = {
      "Halden.CommandBar", CS_HREDRAW | CS_VREDRAW, COLOR_BTNFACE + 1, IDC_ARROW, 0, 0};
  return info;
}

HWND CCommandBarCtrl::Create(HWND parent, DWORD style, UINT id)
{
  NONCLIENTMETRICSA metrics = {};
  metrics.cbSize = sizeof(metrics);
  if (::SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
    m_font = ::CreateFontIndirectA(&metrics.lfMenuFont);
  }
  const RECT rect = {0, 0, 100, ::GetSystemMetrics(SM_CYMENU)};
  HWND hWnd = CWindowImpl<CCommandBarCtrl>::Create(parent, rect, nullptr, style, 0,
                                                   reinterpret_cast<HMENU>(UINT_PTR(id)));
  if (hWnd != nullptr) {
    m_parent = parent;
    HookParent();
    if (keyboardOwner == nullptr) {
      m_keyboardHook =
          ::SetWindowsHookExA(WH_GETMESSAGE, KeyboardMessageProc, nullptr, ::GetCurrentThreadId());
      if (m_keyboardHook != nullptr) {
        keyboardOwner = this;
      }
    }
  }
  return hWnd;
}

BOOL CCommandBarCtrl::AttachMenu(HMENU menu)
{
  if (menu == nullptr || !::IsMenu(menu)) {
    return FALSE;
  }
  if (m_menu != nullptr && m_menu != menu) {
    ::DestroyMenu(m_menu);
  }
  m_menu = menu;
  m_items.clear();
  const int count = ::GetMenuItemCount(menu);
  for (int i = 0; i < count; i++) {
    char text[128] = "";
    MENUITEMINFOA info = {};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_SUBMENU | MIIM_STRING;
    info.dwTypeData = text;
    info.cch = sizeof(text);
    if (!::GetMenuItemInfoA(menu, i, TRUE, &info) || info.hSubMenu == nullptr) {
      continue;
    }
    Item item;
    item.text = text;
    item.popup = info.hSubMenu;
    item.rect = RECT{0, 0, 0, 0};
    item.mnemonic = MnemonicOf(item.text);
    m_items.push_back(item);
    MarkImageItems(info.hSubMenu);
  }
  Layout();
  Invalidate();
  return TRUE;
}

BOOL CCommandBarCtrl::LoadImages(UINT id)
{
  HINSTANCE resources = AppModule().GetResourceInstance();
  HRSRC found = ::FindResourceA(resources, MAKEINTRESOURCEA(id), toolBarResourceType);
  if (found == nullptr) {
    return FALSE;
  }
  HGLOBAL loaded = ::LoadResource(resources, found);
  const auto* data = static_cast<const WORD*>(::LockResource(loaded));
  const DWORD size = ::SizeofResource(resources, found);
  // version, image width, image height, item count, then the items' command ids (0: a gap)
  if (data == nullptr || size < 8 || data[0] != 1 || size < 8 + 2u * data[3]) {
    return FALSE;
  }
  m_imageSize = {data[1], data[2]};
  std::vector<UINT> commands;
  for (WORD i = 0; i < data[3]; i++) {
    if (data[4 + i] != 0) {
      commands.push_back(data[4 + i]);
    }
  }
  HBITMAP bitmap = static_cast<HBITMAP>(
      ::LoadImageA(resources, MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
  if (bitmap == nullptr) {
    return FALSE;
  }
  HIMAGELIST images = ImageList_Create(m_imageSize.cx, m_imageSize.cy, ILC_COLOR24 | ILC_MASK,
                                       static_cast<int>(commands.size()), 0);
  if (images == nullptr) {
    ::DeleteObject(bitmap);
    return FALSE;
  }
  ImageList_AddMasked(images, bitmap, imageMaskColour);
  ::DeleteObject(bitmap);
  if (m_images != nullptr) {
    ImageList_Destroy(m_images);
  }
  m_images = images;
  m_imageCommands = commands;
  for (const Item& item : m_items) {
    MarkImageItems(item.popup);
  }
  return TRUE;
}

int CCommandBarCtrl::GetImageIndex(UINT command) const
{
  if (m_images == nullptr) {
    return -1;
  }
  for (size_t i = 0; i < m_imageCommands.size(); i++) {
    if (m_imageCommands[i] == command) {
      return i < static_cast<size_t>(ImageList_GetImageCount(m_images)) ? static_cast<int>(i) : -1;
    }
  }
  return -1;
}

// Items with an image draw it through the owner (HBMMENU_CALLBACK).
void CCommandBarCtrl::MarkImageItems(HMENU popup)
{
  const int count = ::GetMenuItemCount(popup);
  for (int i = 0; i < count; i++) {
    const UINT command = ::GetMenuItemID(popup, i);
    if (command == UINT(-1) || GetImageIndex(command) < 0) {
      continue;
    }
    MENUITEMINFOA info = {};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_BITMAP;
    info.hbmpItem = HBMMENU_CALLBACK;
    ::SetMenuItemInfoA(popup, i, TRUE, &info);
  }
}

SIZE CCommandBarCtrl::GetIdealSize() const
{
  SIZE size = {0, ::GetSystemMetrics(SM_CYMENU)};
  for (const Item& item : m_items) {
    size.cx = item.rect.right;
    size.cy = std::max<LONG>(size.cy, item.rect.bottom);
  }
  return size;
}

void CCommandBarCtrl::Layout()
{
  HDC dc = ::GetDC(m_hWnd);
  HGDIOBJ oldFont = m_font != nullptr ? ::SelectObject(dc, m_font) : nullptr;
  int x = 0;
  int height = ::GetSystemMetrics(SM_CYMENU);
  for (Item& item : m_items) {
    RECT text = {0, 0, 0, 0};
    ::DrawTextA(dc, item.text.c_str(), -1, &text, DT_SINGLELINE | DT_CALCRECT);
    height = std::max<int>(height, text.bottom + 2 * itemPaddingY);
    item.rect = RECT{x, 0, x + text.right + 2 * itemPaddingX, 0};
    x = item.rect.right;
  }
  for (Item& item : m_items) {
    item.rect.bottom = height;
  }
  if (oldFont != nullptr) {
    ::SelectObject(dc, oldFont);
  }
  ::ReleaseDC(m_hWnd, dc);
}

int CCommandBarCtrl::HitTest(POINT client) const
{
  for (size_t i = 0; i < m_items.size(); i++) {
    if (::PtInRect(&m_items[i].rect, client)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

void CCommandBarCtrl::SetHot(int index)
{
  if (index != m_hot) {
    m_hot = index;
    Invalidate();
  }
}

void CCommandBarCtrl::Paint(HDC dc)
{
  HGDIOBJ oldFont = m_font != nullptr ? ::SelectObject(dc, m_font) : nullptr;
  ::SetBkMode(dc, TRANSPARENT);
  for (size_t i = 0; i < m_items.size(); i++) {
    const Item& item = m_items[i];
    RECT r = item.rect;
    const bool lit = static_cast<int>(i) == m_open || static_cast<int>(i) == m_hot;
    if (lit) {
      ::FillRect(dc, &r, ::GetSysColorBrush(COLOR_HIGHLIGHT));
    }
    ::SetTextColor(dc, ::GetSysColor(lit ? COLOR_HIGHLIGHTTEXT : COLOR_MENUTEXT));
    ::DrawTextA(dc, item.text.c_str(), -1, &r, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
  }
  if (oldFont != nullptr) {
    ::SelectObject(dc, oldFont);
  }
}

void CCommandBarCtrl::OpenPopup(int index, bool fromKeyboard)
{
  if (index < 0 || index >= GetItemCount() || tracking != nullptr) {
    return;
  }
  const bool keyboard = m_keyboardMode;
  m_next = index;
  while (m_next >= 0) {
    const int i = m_next;
    m_next = -1;
    m_open = i;
    m_hot = -1;
    Invalidate();
    ::UpdateWindow(m_hWnd);

    RECT r = m_items[i].rect;
    ::MapWindowPoints(m_hWnd, nullptr, reinterpret_cast<POINT*>(&r), 2);
    TPMPARAMS exclude = {};
    exclude.cbSize = sizeof(exclude);
    exclude.rcExclude = r;
    tracking = this;
    m_selectionHasPopup = false;
    m_filterHook =
        ::SetWindowsHookExA(WH_MSGFILTER, MenuFilterProc, nullptr, ::GetCurrentThreadId());
    if (fromKeyboard) {
      // Opened from the keyboard, the popup starts with its first item selected.
      ::PostMessageA(m_parent, WM_KEYDOWN, VK_DOWN, 0);
    }
    ::TrackPopupMenuEx(m_items[i].popup,
                       TPM_LEFTALIGN | TPM_TOPALIGN | TPM_LEFTBUTTON | TPM_VERTICAL, r.left,
                       r.bottom, m_parent, &exclude);
    if (m_filterHook != nullptr) {
      ::UnhookWindowsHookEx(m_filterHook);
      m_filterHook = nullptr;
    }
    tracking = nullptr;
    fromKeyboard = fromKeyboard || keyboard;
  }
  m_open = -1;
  if (m_keyboardMode) {
    LeaveKeyboardMode();
  }
  POINT cursor;
  ::GetCursorPos(&cursor);
  ::ScreenToClient(m_hWnd, &cursor);
  SetHot(HitTest(cursor));
  Invalidate();
}

LRESULT CALLBACK CCommandBarCtrl::MenuFilterProc(int code, WPARAM wParam, LPARAM lParam)
{
  CCommandBarCtrl* self = tracking;
  if (self == nullptr) {
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
  }
  if (code == MSGF_MENU) {
    const MSG* msg = reinterpret_cast<const MSG*>(lParam);
    int next = -1;
    if (msg->message == WM_MOUSEMOVE) {
      POINT p = msg->pt;
      ::ScreenToClient(self->m_hWnd, &p);
      const int hit = self->HitTest(p);
      if (hit >= 0 && hit != self->m_open) {
        next = hit;
      }
    } else if (msg->message == WM_KEYDOWN && self->GetItemCount() > 1) {
      const int n = self->GetItemCount();
      if (msg->wParam == VK_LEFT) {
        next = (self->m_open + n - 1) % n;
      } else if (msg->wParam == VK_RIGHT && !self->m_selectionHasPopup) {
        next = (self->m_open + 1) % n;
      }
    }
    if (next >= 0) {
      self->m_next = next;
      ::EndMenu();
      return 1;
    }
  }
  return ::CallNextHookEx(self->m_filterHook, code, wParam, lParam);
}

int CCommandBarCtrl::FindMnemonic(char key) const
{
  const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(key)));
  for (int i = 0; i < GetItemCount(); i++) {
    if (m_items[i].mnemonic != 0 && m_items[i].mnemonic == upper) {
      return i;
    }
  }
  return -1;
}

LRESULT CALLBACK CCommandBarCtrl::KeyboardMessageProc(int code, WPARAM wParam, LPARAM lParam)
{
  CCommandBarCtrl* self = keyboardOwner;
  if (self != nullptr && code == HC_ACTION && wParam == PM_REMOVE) {
    MSG& msg = *reinterpret_cast<MSG*>(lParam);
    if (self->OnFrameKey(msg)) {
      msg.message = WM_NULL; // consumed
    }
  }
  return ::CallNextHookEx(self != nullptr ? self->m_keyboardHook : nullptr, code, wParam, lParam);
}

bool CCommandBarCtrl::OnFrameKey(MSG& msg)
{
  switch (msg.message) {
  case WM_SYSKEYDOWN:
  case WM_SYSKEYUP:
  case WM_SYSCHAR:
    break;
  case WM_KEYDOWN:
    // Any other key between Alt's press and release makes it a combination.
    m_altAlone = false;
    return false;
  default:
    return false;
  }
  if (m_hWnd == nullptr || m_items.empty() || tracking != nullptr || !::IsWindowVisible(m_hWnd) ||
      !::IsWindowEnabled(m_parent) || (msg.hwnd != m_parent && !::IsChild(m_parent, msg.hwnd))) {
    m_altAlone = false;
    return false;
  }
  if (msg.message == WM_SYSKEYDOWN) {
    if (msg.wParam == VK_MENU) {
      if ((msg.lParam & (1 << 30)) == 0) { // not a repeat
        m_altAlone = true;
      }
      return false;
    }
    m_altAlone = false;
    if (msg.wParam == VK_F10 && ::GetKeyState(VK_SHIFT) >= 0) {
      ::PostMessageA(m_hWnd, toggleKeyboardMessage, 0, 0);
      return true;
    }
    return false;
  }
  if (msg.message == WM_SYSKEYUP) {
    if (msg.wParam == VK_MENU && m_altAlone) {
      m_altAlone = false;
      ::PostMessageA(m_hWnd, toggleKeyboardMessage, 0, 0);
      return true;
    }
    return false;
  }
  // WM_SYSCHAR: Alt and a character.
  const int item = FindMnemonic(static_cast<char>(msg.wParam & 0xFF));
  if (item < 0) {
    return false;
  }
  ::PostMessageA(m_hWnd, openPopupMessage, static_cast<WPARAM>(item), 0);
  return true;
}

void CCommandBarCtrl::EnterKeyboardMode()
{
  if (m_items.empty()) {
    return;
  }
  m_keyboardMode = true;
  m_focusBefore = ::GetFocus();
  ::SetFocus(m_hWnd);
  SetHot(0);
}

void CCommandBarCtrl::LeaveKeyboardMode()
{
  if (!m_keyboardMode) {
    return;
  }
  m_keyboardMode = false;
  SetHot(-1);
  HWND focus = m_focusBefore;
  m_focusBefore = nullptr;
  if (::GetFocus() == m_hWnd) {
    ::SetFocus(focus != nullptr && ::IsWindow(focus) ? focus : m_parent);
  }
}

BOOL CCommandBarCtrl::ProcessWindowMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam,
                                           LRESULT& result, DWORD mapId)
{
  if (mapId != 0) {
    return FALSE;
  }
  result = 0;
  if (message == openPopupMessage) {
    OpenPopup(static_cast<int>(wParam), true);
    return TRUE;
  }
  if (message == toggleKeyboardMessage) {
    if (m_keyboardMode) {
      LeaveKeyboardMode();
    } else {
      EnterKeyboardMode();
    }
    return TRUE;
  }
  switch (message) {
  case WM_PAINT: {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(m_hWnd, &ps);
    Paint(dc);
    ::EndPaint(m_hWnd, &ps);
    return TRUE;
  }
  case WM_MOUSEMOVE: {
    if (!m_trackingMouse) {
      TRACKMOUSEEVENT track = {sizeof(track), TME_LEAVE, m_hWnd, 0};
      m_trackingMouse = ::TrackMouseEvent(&track) != FALSE;
    }
    if (!m_keyboardMode) {
      SetHot(HitTest(POINT{short(LOWORD(lParam)), short(HIWORD(lParam))}));
    }
    return TRUE;
  }
  case WM_MOUSELEAVE:
    m_trackingMouse = false;
    if (!m_keyboardMode) {
      SetHot(-1);
    }
    return TRUE;
  case WM_LBUTTONDOWN: {
    const int hit = HitTest(POINT{short(LOWORD(lParam)), short(HIWORD(lParam))});
    if (hit >= 0) {
      OpenPopup(hit, false);
    }
    return TRUE;
  }
  case WM_KEYDOWN: {
    if (!m_keyboardMode) {
      return FALSE;
    }
    const int n = GetItemCount();
    switch (wParam) {
    case VK_LEFT:
      SetHot((m_hot + n - 1) % n);
      return TRUE;
    case VK_RIGHT:
      SetHot((m_hot + 1) % n);
      return TRUE;
    case VK_DOWN:
    case VK_UP:
    case VK_RETURN:
      OpenPopup(m_hot, true);
      return TRUE;
    case VK_ESCAPE:
      LeaveKeyboardMode();
      return TRUE;
    default:
      return FALSE;
    }
  }
  case WM_CHAR:
    if (m_keyboardMode) {
      const int found = FindMnemonic(static_cast<char>(wParam & 0xFF));
      if (found >= 0) {
        OpenPopup(found, true);
        return TRUE;
      }
      ::MessageBeep(0);
    }
    return TRUE;
  case WM_GETDLGCODE:
    result = DLGC_WANTALLKEYS;
    return TRUE;
  case WM_KILLFOCUS:
    if (m_keyboardMode && tracking == nullptr) {
      m_keyboardMode = false;
      m_focusBefore = nullptr;
      SetHot(-1);
    }
    return FALSE;
  case WM_DESTROY:
    UnhookParent();
    return FALSE;
  default:
    return FALSE;
  }
}

bool CCommandBarCtrl::HookParent()
{
  if (m_parent == nullptr || m_parentProc != nullptr) {
    return false;
  }
  ::SetPropA(m_parent, parentProperty, this);
  m_parentProc = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrA(m_parent, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ParentProc)));
  return true;
}

void CCommandBarCtrl::UnhookParent()
{
  if (m_parentProc == nullptr) {
    return;
  }
  if (::IsWindow(m_parent)) {
    // Only when nobody hooked the parent after us; otherwise ParentProc stays a pass-through.
    if (reinterpret_cast<WNDPROC>(::GetWindowLongPtrA(m_parent, GWLP_WNDPROC)) == ParentProc) {
      ::SetWindowLongPtrA(m_parent, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_parentProc));
      m_parentProc = nullptr;
    }
    ::RemovePropA(m_parent, parentProperty);
  } else {
    m_parentProc = nullptr;
  }
}

LRESULT CALLBACK CCommandBarCtrl::ParentProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
  auto* self = static_cast<CCommandBarCtrl*>(::GetPropA(hWnd, parentProperty));
  if (self == nullptr) {
    return ::DefWindowProcA(hWnd, message, wParam, lParam);
  }
  LRESULT result = 0;
  if (self->OnParentMessage(message, wParam, lParam, result)) {
    return result;
  }
  const WNDPROC next = self->m_parentProc;
  if (message == WM_NCDESTROY) {
    self->UnhookParent();
  }
  return ::CallWindowProcA(next, hWnd, message, wParam, lParam);
}

bool CCommandBarCtrl::OnParentMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
  switch (message) {
  case WM_SYSCOMMAND:
    if ((wParam & 0xFFF0) != SC_KEYMENU || lParam == ' ' || m_items.empty() ||
        !::IsWindowVisible(m_hWnd)) {
      return false;
    }
    if (lParam == 0) {
      // Alt or F10 on its own: the bar takes the keyboard, or gives it back.
      if (m_keyboardMode) {
        LeaveKeyboardMode();
      } else {
        EnterKeyboardMode();
      }
    } else {
      const int found = FindMnemonic(static_cast<char>(lParam & 0xFF));
      if (found < 0) {
        ::MessageBeep(0);
      } else {
        OpenPopup(found, true);
      }
    }
    result = 0;
    return true;
  case WM_MENUSELECT:
    m_selectionHasPopup = (HIWORD(wParam) & MF_POPUP) != 0 && HIWORD(wParam) != 0xFFFF;
    return false;
  case WM_MEASUREITEM: {
    auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
    if (wParam != 0 || measure->CtlType != ODT_MENU || GetImageIndex(measure->itemID) < 0) {
      return false;
    }
    measure->itemWidth = m_imageSize.cx;
    measure->itemHeight = m_imageSize.cy;
    result = TRUE;
    return true;
  }
  case WM_DRAWITEM: {
    auto* draw = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
    const int image = draw->CtlType == ODT_MENU ? GetImageIndex(draw->itemID) : -1;
    if (wParam != 0 || image < 0) {
      return false;
    }
    const RECT& r = draw->rcItem;
    const int x = r.left + ((r.right - r.left) - m_imageSize.cx) / 2;
    const int y = r.top + ((r.bottom - r.top) - m_imageSize.cy) / 2;
    ImageList_Draw(m_images, image, draw->hDC, x, y,
                   (draw->itemState & ODS_GRAYED) ? ILD_BLEND50 : ILD_TRANSPARENT);
    result = TRUE;
    return true;
  }
  default:
    return false;
  }
}

} // namespace WTL
