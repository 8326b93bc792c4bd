#include "UrlDlg.h"

#include "Tamsin.h"

BOOL CUrlDlg::ProcessWindowMessage(HWND, UINT message, WPARAM, LPARAM, LRESULT& result, DWORD mapId)
{
  if (mapId == 0 && message == WM_INITDIALOG) {
    result = OnInitDialog();
    return TRUE;
  }
  return FALSE;
}

LRESULT CUrlDlg::OnInitDialog()
{
  m_link.SubclassWindow(GetDlgItem(IDC_URL_LINK));
  m_link.SetHyperLink(MAKER_URL_PANE);
  return 1;
}
