#include "TamsinGuiView.h"

#include "EmbDrvCtrl.h"
#include "ErrorReport.h"
#include "MainFrm.h"
#include "wtl/app_module.h"

#include <commctrl.h>

#include <cmath>
#include <cstdio>

namespace {

struct Threshold {
  uint32_t us;
  COLORREF colour;
  const char* label;
};
const Threshold thresholds[] = {
    {500, 0x0000FF00, "500\xB5s"},   {1000, 0x0000FFFF, "1000\xB5s"},
    {2000, 0x000000F0, "2000\xB5s"}, {4000, 0x000000F5, "4000\xB5s"},
    {8000, 0x000000FA, "8000\xB5s"}, {16000, 0x000000FF, "16000\xB5s"},
};

const char goodVerdict[] = "This machine should be able to handle real-time streaming of audio "
                           "and/or video data without drop-outs.";
const char badVerdict[] =
    "Some device drivers on this machine behave bad and will probably cause drop-outs in "
    "real-time audio and/or video streams. To isolate the misbehaving driver use Device Manager "
    "and disable/re-enable various devices, one at a time. Try network and W-LAN adapters, "
    "modems, internal sound devices, USB host controllers, etc.";

const WTL::DlgResizeMapEntry resizeMap[] = {
    {IDC_GRAPH, WTL::DLSZ_SIZE_X | WTL::DLSZ_SIZE_Y},
    {IDC_EXIT, WTL::DLSZ_MOVE_X | WTL::DLSZ_MOVE_Y},
    {IDC_START_STOP, WTL::DLSZ_MOVE_X | WTL::DLSZ_MOVE_Y},
    {IDC_RESET, WTL::DLSZ_MOVE_X | WTL::DLSZ_MOVE_Y},
    {IDC_MAXIMUM, WTL::DLSZ_MOVE_Y},
    {IDC_MAXIMUM_LABEL, WTL::DLSZ_MOVE_Y},
    {IDC_CURRENT, WTL::DLSZ_MOVE_Y},
    {IDC_CURRENT_LABEL, WTL::DLSZ_MOVE_Y},
    {IDC_PERIOD, WTL::DLSZ_MOVE_Y},
    {IDC_PERIOD_LABEL, WTL::DLSZ_MOVE_Y},
    {IDC_VERDICT, WTL::DLSZ_SIZE_X | WTL::DLSZ_MOVE_Y},
    {-1, 0},
};

} // namespace

TamsinDrv g_tamsinDrv;

const WTL::DlgResizeMapEntry* CTamsinGuiView::GetDlgResizeMap()
{
  return resizeMap;
}

uint32_t CTamsinGuiView::CurrentLatency(uint32_t maxInterval, uint32_t period)
{
  return maxInterval > period ? maxInterval - period : 0;
}

int32_t CTamsinGuiView::GraphValue(uint32_t latencyUs)
{
  const double x = static_cast<double>(latencyUs) / 1000.0 + 1.05;
  return static_cast<int32_t>(std::log(x) / std::log(2.0) * GRAPH_SCALE);
}

int32_t CTamsinGuiView::ClampToGraph(int32_t value, int32_t minimum, int32_t maximum)
{
  if (value > maximum) {
    return maximum;
  }
  if (value < minimum) {
    return minimum;
  }
  return value;
}

const char* CTamsinGuiView::VerdictText(uint32_t absoluteMax)
{
  return absoluteMax < LATENCY_GOOD_LIMIT_US ? goodVerdict : badVerdict;
}

BOOL CTamsinGuiView::PreTranslateMessage(MSG* message)
{
  for (HWND toolTip : m_toolTips) {
    if (::IsWindow(toolTip)) {
      ::SendMessageA(toolTip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(message));
    }
  }
  return ::IsDialogMessageA(m_hWnd, message);
}

BOOL CTamsinGuiView::ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam,
                                          LRESULT& result, DWORD mapId)
{
  if (mapId != 0) {
    return FALSE;
  }
  switch (message) {
  case WM_INITDIALOG:
    result = OnInitDialog();
    return TRUE;
  case WM_DESTROY:
    OnDestroy();
    result = 0;
    return TRUE;
  case WM_TIMER:
    OnTimer();
    result = 0;
    return TRUE;
  case WM_COMMAND:
    switch (LOWORD(wParam)) {
    case IDC_RESET:
      OnReset();
      result = 0;
      return TRUE;
    case IDC_EXIT:
      OnExit();
      result = 0;
      return TRUE;
    case IDC_START_STOP:
      OnStartStop();
      result = 0;
      return TRUE;
    default:
      break;
    }
    break;
  default:
    break;
  }
  return WTL::CDialogResize<CTamsinGuiView>::ProcessWindowMessage(hWnd, message, wParam, lParam,
                                                                  result, mapId);
}

void CTamsinGuiView::ConfigureGraph()
{
  m_graph.step = 15;
  m_graph.visibleCount = -1;
  m_graph.maxValue = GRAPH_MAX;
  for (const Threshold& t : thresholds) {
    m_graph.AddBand(t.colour, GraphValue(t.us), t.label);
  }
  m_graph.AddLine(0, 0x00FF00, true);
}

LRESULT CTamsinGuiView::OnInitDialog()
{
  DlgResize_Init(true, WS_CLIPCHILDREN);

  m_graph.SubclassWindow(GetDlgItem(IDC_GRAPH));
  ConfigureGraph();

  m_absoluteMax = 0;

  const uint32_t loaded = LoadDriver();
  if (loaded != 0) {
    reportErrorAndClose("LoadDriver failed, Status=0x%08X\n", loaded);
  }
  const uint32_t opened = g_tamsinDrv.Open();
  if (opened != 0) {
    reportErrorAndClose("Open failed, Status=0x%08X\n", opened);
  }
  uint32_t period = START_PERIOD_US, actualPeriod = 0;
  const uint32_t started = g_tamsinDrv.Ioctl(IOCTL_LATENCY_START, &period, sizeof(period),
                                             &actualPeriod, sizeof(actualPeriod));
  if (started != 0) {
    reportErrorAndClose("Start failed, Status=0x%08X\n", started);
  }

  UpdateValues();
  SetTimer(IDT_POLL, POLL_PERIOD_MS);
  m_polling = true;

  const struct {
    int id;
    const char* text;
  } tips[] = {
      {IDC_START_STOP, "Start/Stop latency analysis."},
      {IDC_RESET, "Reset Absolute Maximum."},
      {IDC_EXIT, "Exit this application."},
      {IDC_MAXIMUM_LABEL, "Absolute maximum of DPC latency. Click Reset to clear."},
      {IDC_MAXIMUM, "Absolute maximum of DPC latency. Click Reset to clear."},
      {IDC_CURRENT_LABEL, "DPC latency measured within the last second."},
      {IDC_CURRENT, "DPC latency measured within the last second."},
      {IDC_PERIOD_LABEL, "Period at which the test DPC is scheduled."},
      {IDC_PERIOD, "Period at which the test DPC is scheduled."},
  };
  for (const auto& tip : tips) {
    AddToolTip(GetDlgItem(tip.id), tip.text);
  }
  return TRUE;
}

void CTamsinGuiView::OnDestroy()
{
  KillTimer(IDT_POLL);
  g_tamsinDrv.Ioctl(IOCTL_LATENCY_STOP, nullptr, 0, nullptr, 0);
  g_tamsinDrv.Close();
  EmbDrvCtrl installer;
  installer.UninstallDrv(nullptr);
}

void CTamsinGuiView::OnTimer()
{
  LatencyValues values = {};
  values.resetAfterRead = 1;
  const uint32_t status =
      g_tamsinDrv.Ioctl(IOCTL_LATENCY_GET_VALUES, &values, sizeof(values), &values, sizeof(values));
  if (status != 0) {
    KillTimer(IDT_POLL);
    reportErrorAndClose("GetValues failed, Status=0x%08X\n", status);
    // The record holds nothing the driver wrote: this tick shows nothing.
    return;
  }
  ShowValues(values);
}

void CTamsinGuiView::ShowValues(const LatencyValues& values)
{
  const uint32_t current = CurrentLatency(values.maxInterval, values.period);
  m_current = current;
  m_period = values.period;
  // The driver reports a maximum of 0 when it recorded no interval since the last poll.
  m_lastPollMeasured = values.maxInterval != 0;
  const int32_t point = ClampToGraph(GraphValue(current), m_graph.minValue, m_graph.maxValue);
  m_graph.PushValue(0, point);
  m_graph.Update();
  if (m_absoluteMax < current) {
    m_absoluteMax = current;
  }
  UpdateValues();
}

void CTamsinGuiView::UpdateValues()
{
  if (m_hWnd == nullptr) {
    return;
  }
  char text[32];
  std::snprintf(text, sizeof(text), "%u \xB5s", static_cast<unsigned>(m_absoluteMax));
  SetDlgItemText(IDC_MAXIMUM, text);
  std::snprintf(text, sizeof(text), "%u \xB5s", static_cast<unsigned>(m_period));
  SetDlgItemText(IDC_PERIOD, text);
  std::snprintf(text, sizeof(text), "%u \xB5s", static_cast<unsigned>(m_current));
  SetDlgItemText(IDC_CURRENT, text);
  // A bad maximum was measured and stays until Reset; a good one says nothing once the
  // driver has stopped delivering intervals.
  const bool bad = m_absoluteMax >= LATENCY_GOOD_LIMIT_US;
  SetDlgItemText(IDC_VERDICT, bad || m_lastPollMeasured ? VerdictText(m_absoluteMax) : "");
  ::PostMessageA(GetParent(), WM_LATENCY_STATE, 0, 0);
}

void CTamsinGuiView::OnReset()
{
  m_absoluteMax = 0;
  UpdateValues();
}

void CTamsinGuiView::OnExit()
{
  ::PostMessageA(GetParent(), WM_CLOSE, 0, 0);
}

void CTamsinGuiView::OnStartStop()
{
  if (m_polling) {
    KillTimer(IDT_POLL);
    SetDlgItemText(IDC_START_STOP, "Start");
  } else {
    SetTimer(IDT_POLL, POLL_PERIOD_MS);
    SetDlgItemText(IDC_START_STOP, "Stop");
  }
  m_polling = !m_polling;
  UpdateValues();
}

void CTamsinGuiView::AddToolTip(HWND control, const char* text)
{
  HWND toolTip = ::CreateWindowExA(0, "tooltips_class32", nullptr, 0, CW_USEDEFAULT, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, control, nullptr,
                                   WTL::AppModule().GetModuleInstance(), nullptr);
  if (toolTip == nullptr) {
    return;
  }
  TOOLINFOA tool = {};
  tool.cbSize = sizeof(tool);
  tool.uFlags = TTF_IDISHWND;
  tool.hwnd = m_hWnd;
  tool.uId = reinterpret_cast<UINT_PTR>(control);
  tool.hinst = WTL::AppModule().GetResourceInstance();
  tool.lpszText = const_cast<char*>(text);
  ::SendMessageA(toolTip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
  ::SendMessageA(toolTip, TTM_ACTIVATE, TRUE, 0);
  m_toolTips.push_back(toolTip);
}

uint32_t LoadDriver()
{
  EmbDrvCtrl installer;
  bool stillPresent = false;
  if (!installer.UninstallDrv(&stillPresent) || stillPresent) {
    return 5;
  }
  bool wow64 = false;
  const bool x64 = installer.IsWow64Process(&wow64) == 0 && wow64;
  const uint32_t installed = installer.InstallDrvByRes(x64 ? IDR_DRIVER_X64 : IDR_DRIVER_X86);
  if (installed != 0) {
    std::fprintf(stderr, "InstallDrvByRes failed, err=0x%08X\n", static_cast<unsigned>(installed));
    return 1;
  }
  return 0;
}
