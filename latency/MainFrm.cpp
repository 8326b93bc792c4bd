#include "MainFrm.h"

#include "AboutDlg.h"
#include "ErrorReport.h"
#include "Tamsin.h"

const char STATUS_POLLING[] = "Analysing DPC latency ...";
const char STATUS_STOPPED[] = "Stopped ...";

namespace {

const DWORD rebarStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | RBS_VARHEIGHT |
                         RBS_BANDBORDERS | RBS_AUTOSIZE | CCS_NODIVIDER;
const DWORD statusBarStyle =
    WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS | SBARS_SIZEGRIP;

const WTL::UpdateUIMapEntry updateUIMap[] = {
    {ID_VIEW_TOOLBAR, WTL::UPDUI_MENUPOPUP},
    {ID_VIEW_STATUS_BAR, WTL::UPDUI_MENUPOPUP},
    {WTL::updateUIMapEnd, 0},
};

} // namespace

ATL::CWndClassInfo& CMainFrame::GetWndClassInfo()
{
  static ATL::CWndClassInfo info = {APP_INSTANCE_NAME, 0, COLOR_WINDOW + 1, IDC_ARROW,
                                    IDR_MAINFRAME,     0};
  return info;
}

const WTL::UpdateUIMapEntry* CMainFrame::GetUpdateUIMap()
{
  return updateUIMap;
}

void CMainFrame::OnFinalMessage(HWND)
{
}

BOOL CMainFrame::ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam,
                                      LRESULT& result, DWORD mapId)
{
  if (mapId != 0) {
    return FALSE;
  }
  switch (message) {
  case WM_CREATE:
    result = OnCreate();
    return TRUE;
  case WM_CLOSE:
    result = OnClose();
    return TRUE;
  case WM_DESTROY:
    OnDestroy(); // and on to the standard handling, which ends the message loop
    break;
  case WM_GETMINMAXINFO: {
    auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
    info->ptMinTrackSize.x = m_view.m_ptMinTrackSize.x + FRAME_EXTRA_WIDTH;
    info->ptMinTrackSize.y = m_view.m_ptMinTrackSize.y + FRAME_EXTRA_HEIGHT;
    result = 0;
    return TRUE;
  }
  case WM_SIZE:
    if (m_hWndStatusBar != nullptr && ::IsWindow(m_hWndStatusBar)) {
      OnSize(); // and on to the standard layout
    }
    break;
  case WM_LATENCY_STATE:
    result = OnStatusChanged();
    return TRUE;
  case WM_COMMAND:
    switch (LOWORD(wParam)) {
    case ID_APP_EXIT:
      PostMessage(WM_CLOSE);
      result = 0;
      return TRUE;
    case ID_FILE_NEW:
      result = 0;
      return TRUE;
    case ID_VIEW_TOOLBAR:
      result = OnViewToolBar();
      return TRUE;
    case ID_VIEW_STATUS_BAR:
      result = OnViewStatusBar();
      return TRUE;
    case ID_APP_ABOUT:
      result = OnAppAbout();
      return TRUE;
    default:
      break;
    }
    break;
  default:
    break;
  }
  if (WTL::CUpdateUI<CMainFrame>::ProcessWindowMessage(hWnd, message, wParam, lParam, result,
                                                       mapId)) {
    return TRUE;
  }
  return WTL::CFrameWindowImpl<CMainFrame>::ProcessWindowMessage(hWnd, message, wParam, lParam,
                                                                 result, mapId);
}

LRESULT CMainFrame::OnCreate()
{
  m_cmdBar.Create(m_hWnd, WTL::commandBarPaneStyle);
  m_cmdBar.AttachMenu(::GetMenu(m_hWnd));
  m_cmdBar.LoadImages(IDR_MAINFRAME);
  ::SetMenu(m_hWnd, nullptr);

  CreateSimpleReBar(rebarStyle, ID_VIEW_TOOLBAR);
  const SIZE ideal = m_cmdBar.GetIdealSize();
  const SIZE minimum = {m_cmdBar.GetItemCount() > 0 ? ideal.cx : 0, ideal.cy};
  AddSimpleReBarBand(m_cmdBar, ideal, minimum,
                     RBBS_CHILDEDGE | (m_cmdBar.GetItemCount() > 0 ? RBBS_USECHEVRON : 0));

  CreateSimpleStatusBar(IDS_READY, statusBarStyle, ID_VIEW_STATUS_BAR);
  m_status.SubclassWindow(m_hWndStatusBar);

  const int panes[] = {0, ID_PANE_URL};
  m_status.SetPanes(panes, 2, false);
  m_status.SetPaneWidth(ID_PANE_URL, URL_PANE_WIDTH);

  if (m_urlPane.Create(m_hWndStatusBar) != nullptr) {
    m_status.AddPaneWindow(m_urlPane);
  }

  m_status.SetPaneText(0, m_view.m_polling ? STATUS_POLLING : STATUS_STOPPED);

  m_hWndClient = m_view.Create(m_hWnd);

  UISetCheck(ID_VIEW_STATUS_BAR, true);

  if (WTL::CMessageLoop* loop = WTL::AppModule().GetMessageLoop()) {
    loop->AddMessageFilter(this);
    loop->AddIdleHandler(this);
  }

  m_created = true;
  if (m_closePending) {
    PostMessage(WM_CLOSE);
  }
  return 0;
}

LRESULT CMainFrame::OnClose()
{
  if (m_closing) {
    return 0;
  }
  if (!m_created || IsErrorBoxOpen()) {
    // The report that opened the box posts another WM_CLOSE when the box is answered.
    m_closePending = true;
    return 0;
  }
  m_closing = true;
  DestroyWindow();
  return 0;
}

void CMainFrame::OnDestroy()
{
  m_closing = true;
  // The view's clean-up can still report, and a box needs a message loop that has not been
  // told to quit yet: the view goes before the quit message is posted.
  if (m_view.IsWindow()) {
    m_view.DestroyWindow();
  }
  m_hWndClient = nullptr;
}

LRESULT CMainFrame::OnSize()
{
  const int part = m_status.GetPaneIndexFromID(ID_PANE_URL);
  RECT r;
  if (part >= 0 && m_status.GetRect(part, &r) && m_urlPane.m_hWnd != nullptr) {
    m_urlPane.SetWindowPos(nullptr, r, 0);
  }
  return 0;
}

LRESULT CMainFrame::OnStatusChanged()
{
  m_status.SetPaneText(0, m_view.m_polling ? STATUS_POLLING : STATUS_STOPPED);
  return 0;
}

LRESULT CMainFrame::OnViewToolBar()
{
  const bool visible = ::IsWindowVisible(m_hWndToolBar) != FALSE;
  ::ShowWindow(m_hWndToolBar, visible ? SW_HIDE : SW_SHOWNOACTIVATE);
  UISetCheck(ID_VIEW_TOOLBAR, !visible);
  UpdateLayout();
  return 0;
}

LRESULT CMainFrame::OnViewStatusBar()
{
  const bool visible = ::IsWindowVisible(m_hWndStatusBar) != FALSE;
  ::ShowWindow(m_hWndStatusBar, visible ? SW_HIDE : SW_SHOWNOACTIVATE);
  UISetCheck(ID_VIEW_STATUS_BAR, !visible);
  UpdateLayout();
  return 0;
}

LRESULT CMainFrame::OnAppAbout()
{
  CAboutDlg about;
  about.DoModal(::GetActiveWindow());
  return 0;
}

BOOL CMainFrame::PreTranslateMessage(MSG* message)
{
  if (m_hAccel != nullptr && ::TranslateAcceleratorA(m_hWnd, m_hAccel, message)) {
    return TRUE;
  }
  return m_view.PreTranslateMessage(message);
}

BOOL CMainFrame::OnIdle()
{
  UIUpdateToolBar();
  return FALSE;
}
