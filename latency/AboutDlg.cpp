#include "AboutDlg.h"

#include "Tamsin.h"

#include <cstdio>

namespace {

const char releaseMonth[] = "December";
const char releaseDay[] = "14";
const char releaseYear[] = "2026";

const char aboutPattern[] = PRODUCT_NAME " V%u.%u.%u\nRelease Date: %s %s, %s\n\n"
                                         "Copyright \xA9 2026 Marlow Halden";

const char usageNotice[] =
    PRODUCT_NAME " shows how late this machine runs deferred procedure calls, and so whether "
                 "it can stream audio without drop-outs. While it runs it installs a small kernel "
                 "driver, which it removes when it ends.\n"
                 "You may use and pass on this program free of charge, unchanged. It comes as "
                 "it is, without warranty of any kind.";

} // namespace

BOOL CAboutDlg::ProcessWindowMessage(HWND, UINT message, WPARAM wParam, LPARAM, LRESULT& result,
                                     DWORD mapId)
{
  if (mapId != 0) {
    return FALSE;
  }
  switch (message) {
  case WM_INITDIALOG:
    result = OnInitDialog();
    return TRUE;
  case WM_COMMAND:
    if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
      EndDialog(LOWORD(wParam));
      result = 0;
      return TRUE;
    }
    return FALSE;
  default:
    return FALSE;
  }
}

LRESULT CAboutDlg::OnInitDialog()
{
  CenterWindow(GetParent());
  SetWindowText("About " PRODUCT_NAME);
  char text[512];
  std::snprintf(text, sizeof(text), aboutPattern, PRODUCT_VERSION_MAJOR, PRODUCT_VERSION_MINOR,
                PRODUCT_VERSION_BUILD, releaseMonth, releaseDay, releaseYear);
  SetDlgItemText(IDC_ABOUT_TEXT, text);
  m_link.SubclassWindow(GetDlgItem(IDC_ABOUT_LINK));
  m_link.SetHyperLink(MAKER_URL);
  SetDlgItemText(IDC_ABOUT_NOTICE, usageNotice);
  return 1;
}
