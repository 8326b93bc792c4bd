#include "MPSBarWithAll.h"

BOOL CMPSBarWithAll::ProcessWindowMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam,
                                          LRESULT& result, DWORD mapId)
{
  if (mapId != 0) {
    return FALSE;
  }
  switch (message) {
  case SB_SIMPLE:
    // The control still switches its simple mode itself.
    ShowPaneWindows(wParam);
    return FALSE;
  case WM_SIZE:
    result = DefWindowProc(message, wParam, lParam);
    if (wParam != SIZE_MINIMIZED && m_nPanes > 0) {
      UpdatePanesLayout();
      LayoutPaneWindows();
    }
    return TRUE;
  default:
    return FALSE;
  }
}
