// Tamsin's status bar: panes by id, and child windows hosted in them.
#pragma once

#include "AnyhingInPane.h"
#include "wtl/status_bar.h"

class CMPSBarWithAll : public WTL::CMultiPaneStatusBarCtrlImpl<CMPSBarWithAll>,
                       public CAnyhingInPaneImpl<CMPSBarWithAll> {
public:
  BOOL ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                            DWORD mapId = 0) override;
};
