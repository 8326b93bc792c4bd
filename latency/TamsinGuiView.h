// The main view: installs and starts the measuring driver, reads it once a second, plots the
// current DPC latency, keeps the absolute maximum and gives the verdict; stops and removes
// the driver when it goes.
#pragma once

#include "2DPushGraph.h"
#include "TamsinDrv.h"
#include "resource.h"
#include "wtl/dialog_resize.h"
#include "wtl/window.h"

#include <cstdint>
#include <vector>

// The requested timer period of the measurement, µs.
const uint32_t START_PERIOD_US = 1000;
// An absolute maximum below this many µs leaves the machine fit for real-time streaming.
const uint32_t LATENCY_GOOD_LIMIT_US = 2000;
// The poll timer and its period.
const UINT_PTR IDT_POLL = 300;
const UINT POLL_PERIOD_MS = 1000;
// The graph's logarithmic scale: value = trunc(log2(µs / 1000 + 1.05) * GRAPH_SCALE).
const double GRAPH_SCALE = 2200.0;
const int32_t GRAPH_MAX = 10000;

class CTamsinGuiView : public ATL::CDialogImpl<CTamsinGuiView>,
                       public WTL::CDialogResize<CTamsinGuiView> {
public:
  enum { IDD = IDD_MAIN_VIEW };

  static const WTL::DlgResizeMapEntry* GetDlgResizeMap();

  // Tool-tip relay, then the dialog's keyboard handling.
  BOOL PreTranslateMessage(MSG* message);

  BOOL ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                            DWORD mapId = 0) override;

  // The arithmetic of a tick.
  static uint32_t CurrentLatency(uint32_t maxInterval, uint32_t period);
  static int32_t GraphValue(uint32_t latencyUs);
  static int32_t ClampToGraph(int32_t value, int32_t minimum, int32_t maximum);
  static const char* VerdictText(uint32_t absoluteMax);

  // Step, scale, the six threshold bands and the bar line.
  void ConfigureGraph();
  // Steps of a tick after the driver answered: the numbers, the graph, the maximum, the texts.
  void ShowValues(const LatencyValues& values);
  void UpdateValues();

  C2DPushGraph m_graph;
  std::vector<HWND> m_toolTips;
  uint32_t m_absoluteMax = 0;
  uint32_t m_current = 0;
  uint32_t m_period = 0;
  bool m_polling = false;
  // False after a poll whose record holds no interval: the driver measured nothing in that
  // second (the measurement was stopped, or its timer has not run), which is no good machine.
  bool m_lastPollMeasured = true;

private:
  LRESULT OnInitDialog();
  void OnDestroy();
  void OnTimer();
  void OnReset();
  void OnExit();
  void OnStartStop();
  void AddToolTip(HWND control, const char* text);
};

// The program's one client of the driver's device.
extern TamsinDrv g_tamsinDrv;

// Removes what an earlier run left, then installs and starts the driver image for this system.
uint32_t LoadDriver();
