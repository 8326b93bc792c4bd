// The command bar: a menu bar drawn as a child window (so that it can sit in a rebar band)
// that opens the popups of a menu, and shows the images of a tool-bar resource beside the
// menu items that have the same command ids.
#pragma once

#include "window.h"

#include <commctrl.h>

#include <string>
#include <vector>

namespace WTL {

// Window style of a command bar in a rebar band.
const DWORD commandBarPaneStyle = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
// Control id of the command bar.
const UINT commandBarId = 0xE801;

class CCommandBarCtrl : public ATL::CWindowImpl<CCommandBarCtrl> {
public:
  CCommandBarCtrl() = default;
  ~CCommandBarCtrl() override;

  static ATL::CWndClassInfo& GetWndClassInfo();

  HWND Create(HWND parent, DWORD style = commandBarPaneStyle, UINT id = commandBarId);

  // Takes over `menu` (the command bar destroys it): one item per popup of its top level.
  BOOL AttachMenu(HMENU menu);
  HMENU GetMenu() const { return m_menu; }

  // The images of tool-bar resource `id` (with its bitmap of the same id), for the menu
  // items whose command ids the tool bar lists.
  BOOL LoadImages(UINT id);
  int GetImageCount() const { return static_cast<int>(m_imageCommands.size()); }
  // The image index of a command, or -1.
  int GetImageIndex(UINT command) const;

  // The size in which every item shows.
  SIZE GetIdealSize() const;
  int GetItemCount() const { return static_cast<int>(m_items.size()); }
  // The popup of item `index`: opens it (and follows the user from popup to popup).
  void OpenPopup(int index, bool fromKeyboard);

  BOOL ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                            DWORD mapId = 0) override;

private:
  struct Item {
    std::string text; // with its '&' mnemonic marker
    HMENU popup;
    RECT rect;
    char mnemonic; // upper case, 0 when none
  };

  void Layout();
  int HitTest(POINT client) const;
  void SetHot(int index);
  void EnterKeyboardMode();
  void LeaveKeyboardMode();
  void Paint(HDC dc);
  void MarkImageItems(HMENU popup);

  // The parent window's messages that a menu bar has to see: Alt+key, and the drawing of
  // the images in the popups (which the parent owns).
  bool HookParent();
  void UnhookParent();
  static LRESULT CALLBACK ParentProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
  bool OnParentMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
  // While a popup is open: moving to another item, or Left and Right, switch popups.
  static LRESULT CALLBACK MenuFilterProc(int code, WPARAM wParam, LPARAM lParam);
  // Alt+mnemonic, Alt alone and F10 reach the focused control, not the frame: the bar sees
  // them as they leave the thread's queue, for any window of its frame.
  static LRESULT CALLBACK KeyboardMessageProc(int code, WPARAM wParam, LPARAM lParam);
  bool OnFrameKey(MSG& msg);
  int FindMnemonic(char key) const;

  HWND m_parent = nullptr;
  WNDPROC m_parentProc = nullptr;
  HMENU m_menu = nullptr;
  std::vector<Item> m_items;
  HFONT m_font = nullptr;
  HIMAGELIST m_images = nullptr;
  SIZE m_imageSize = {16, 15};
  std::vector<UINT> m_imageCommands; // command id of each image
  int m_hot = -1;
  int m_open = -1;
  int m_next = -1;
  bool m_trackingMouse = false;
  bool m_keyboardMode = false;
  bool m_selectionHasPopup = false;
  HWND m_focusBefore = nullptr;
  HHOOK m_filterHook = nullptr;
  HHOOK m_keyboardHook = nullptr;
  bool m_altAlone = false;
};

} // namespace WTL
