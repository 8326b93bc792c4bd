// The About box: product name, version and release date, the maker's link and the notice.
#pragma once

#include "resource.h"
#include "wtl/hyperlink.h"
#include "wtl/window.h"

class CAboutDlg : public ATL::CDialogImpl<CAboutDlg> {
public:
  enum { IDD = IDD_ABOUTBOX };

  BOOL ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                            DWORD mapId = 0) override;

  WTL::CHyperLink m_link;

private:
  LRESULT OnInitDialog();
};
