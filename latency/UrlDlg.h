// The link pane: a borderless child dialog with the maker's link, hosted in the status bar.
#pragma once

#include "resource.h"
#include "wtl/hyperlink.h"
#include "wtl/window.h"

class CUrlDlg : public ATL::CDialogImpl<CUrlDlg> {
public:
  enum { IDD = IDD_URL_PANE };

  BOOL ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                            DWORD mapId = 0) override;

  WTL::CHyperLink m_link;

private:
  LRESULT OnInitDialog();
};
