// A static text control turned into a link: underlined in the browser's link colours, with
// the hand cursor and the target as a tool tip over its text, and the target opened through
// the shell when the text is clicked.
#pragma once

#include "window.h"

#include <string>

namespace WTL {

class CHyperLink : public ATL::CWindowImpl<CHyperLink> {
public:
  CHyperLink();
  ~CHyperLink() override;

  // Takes over a static control of a dialog.
  BOOL SubclassWindow(HWND hWnd);
  // The target; the control's text stays what it shows.
  BOOL SetHyperLink(const char* target);
  const std::string& GetHyperLink() const { return m_target; }

  // Opens the target; true when the shell could start it.
  bool Navigate();

  bool IsVisited() const { return m_visited; }
  COLORREF GetLinkColour() const { return m_linkColour; }
  COLORREF GetVisitedColour() const { return m_visitedColour; }

  // A browser colour value as the settings hold it: "red,green,blue", each 0 to 255.
  static bool ParseColour(const char* text, COLORREF& colour);
  // The colour of `valueName` under the browser's settings key, or `fallback`.
  static COLORREF ReadBrowserColour(const char* valueName, COLORREF fallback);

  BOOL ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                            DWORD mapId = 0) override;

private:
  UINT DrawFlags() const;
  RECT TextRect();
  bool OverText(POINT client);
  void MakeFont();
  void MakeToolTip();
  void Paint(HDC dc);

  std::string m_target;
  COLORREF m_linkColour;
  COLORREF m_visitedColour;
  bool m_visited = false;
  bool m_pressed = false;
  HFONT m_font = nullptr;
  HWND m_toolTip = nullptr;
};

} // namespace WTL
