// Tamsin's top-level window: the menu as a command bar in a rebar, the main view as its
// client, and a status bar with the measuring state and the maker's link.
#pragma once

#include "MPSBarWithAll.h"
#include "TamsinGuiView.h"
#include "UrlDlg.h"
#include "wtl/app_module.h"
#include "wtl/command_bar.h"
#include "wtl/frame.h"
#include "wtl/update_ui.h"

// Posted by the view after every update of its values.
const UINT WM_LATENCY_STATE = WM_USER + 100;

// The texts of the status bar's default pane.
extern const char STATUS_POLLING[];
extern const char STATUS_STOPPED[];

// The frame's size beyond its view's minimum size.
const int FRAME_EXTRA_WIDTH = 8;
const int FRAME_EXTRA_HEIGHT = 80;
// Width of the link pane, pixels.
const int URL_PANE_WIDTH = 150;

class CMainFrame : public WTL::CFrameWindowImpl<CMainFrame>,
                   public WTL::CUpdateUI<CMainFrame>,
                   public WTL::CMessageFilter,
                   public WTL::CIdleHandler {
public:
  static ATL::CWndClassInfo& GetWndClassInfo();
  static const WTL::UpdateUIMapEntry* GetUpdateUIMap();

  BOOL ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                            DWORD mapId = 0) override;
  void OnFinalMessage(HWND hWnd) override;

  BOOL PreTranslateMessage(MSG* message) override;
  BOOL OnIdle() override;

  CTamsinGuiView m_view;
  CMPSBarWithAll m_status;
  WTL::CCommandBarCtrl m_cmdBar;
  CUrlDlg m_urlPane;

private:
  // Close requests are honoured once, and only where no code that runs further would lose its
  // windows: not while the frame is still being created (the view's start-up shows its
  // failures in modal boxes, whose loops dispatch the WM_CLOSE each report posts) and not
  // while an error box is open. Such a request is kept and carried out afterwards.
  LRESULT OnClose();
  void OnDestroy();
  LRESULT OnCreate();
  LRESULT OnSize();
  LRESULT OnStatusChanged();
  LRESULT OnViewToolBar();
  LRESULT OnViewStatusBar();
  LRESULT OnAppAbout();

  bool m_created = false;
  bool m_closePending = false;
  bool m_closing = false;
};
