// The main view's arithmetic and verdict, fed with driver records but without a driver.
#include "ErrorReport.h"
#include "MainFrm.h"
#include "TamsinGuiView.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(ViewValues, CurrentLatencyIsTheMaximumIntervalBeyondThePeriod)
{
  struct Case {
    uint32_t maxInterval, period, expected;
  } cases[] = {
      {1000, 1000, 0},
      {999, 1000, 0},
      {0, 1000, 0},
      {1001, 1000, 1},
      {3000, 1000, 2000},
      {2999, 1000, 1999},
      {0xFFFFFFFF, 0, 0xFFFFFFFF},
      {976, 976, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CTamsinGuiView::CurrentLatency(c.maxInterval, c.period), c.expected)
        << c.maxInterval << " - " << c.period;
  }
}

TEST(ViewValues, TheGraphScaleIsLogarithmic)
{
  struct Case {
    uint32_t us;
    int32_t value;
  } cases[] = {
      {0, 154},     {500, 1390},  {1000, 2278},  {2000, 3539},
      {4000, 5139}, {8000, 6991}, {16000, 9001}, {22300, 9999},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CTamsinGuiView::GraphValue(c.us), c.value) << c.us;
  }
}

TEST(ViewValues, PlottedPointsAreClampedToTheGraph)
{
  EXPECT_EQ(CTamsinGuiView::ClampToGraph(CTamsinGuiView::GraphValue(22400), 0, GRAPH_MAX), 10000);
  EXPECT_EQ(CTamsinGuiView::ClampToGraph(CTamsinGuiView::GraphValue(0xFFFFFFFF), 0, GRAPH_MAX),
            10000);
  EXPECT_EQ(CTamsinGuiView::ClampToGraph(-5, 0, GRAPH_MAX), 0);
  EXPECT_EQ(CTamsinGuiView::ClampToGraph(154, 200, GRAPH_MAX), 200);
  EXPECT_EQ(CTamsinGuiView::ClampToGraph(5000, 0, GRAPH_MAX), 5000);
}

TEST(ViewValues, TheVerdictTurnsBadAtTwoMilliseconds)
{
  const std::string good = CTamsinGuiView::VerdictText(0);
  EXPECT_EQ(good.rfind("This machine should be able to handle real-time streaming", 0), 0u);
  EXPECT_EQ(CTamsinGuiView::VerdictText(1999), good);
  const std::string bad = CTamsinGuiView::VerdictText(2000);
  EXPECT_EQ(bad.rfind("Some device drivers on this machine behave bad", 0), 0u);
  EXPECT_EQ(CTamsinGuiView::VerdictText(0xFFFFFFFF), bad);
}

LatencyValues record(uint32_t period, uint32_t maxInterval)
{
  LatencyValues v;
  std::memset(&v, 0, sizeof(v));
  v.period = period;
  v.maxInterval = maxInterval;
  v.minInterval = period;
  v.resetAfterRead = 1;
  return v;
}

// The view's object on a window that holds just the controls it writes its numbers and its
// verdict into, inside a parent that stands in for the frame: what the user would read.
class ViewTicks : public ::testing::Test {
protected:
  void SetUp() override
  {
    view.ConfigureGraph();
    frame_ = ::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 600, 400, nullptr, nullptr, nullptr,
                               nullptr);
    ASSERT_NE(frame_, nullptr);
    view.m_hWnd = ::CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 600, 400, frame_, nullptr,
                                    nullptr, nullptr);
    ASSERT_NE(view.m_hWnd, nullptr);
    for (int id : {IDC_MAXIMUM, IDC_CURRENT, IDC_PERIOD, IDC_VERDICT}) {
      ASSERT_NE(::CreateWindowExA(0, id == IDC_VERDICT ? "EDIT" : "STATIC", "",
                                  WS_CHILD | (id == IDC_VERDICT ? ES_MULTILINE : 0), 0, 0, 100, 20,
                                  view.m_hWnd, reinterpret_cast<HMENU>(INT_PTR(id)), nullptr,
                                  nullptr),
                nullptr);
    }
  }
  void TearDown() override
  {
    ::DestroyWindow(frame_);
    view.m_hWnd = nullptr;
  }

  const std::vector<int32_t>& plotted() { return view.m_graph.lines[0].points; }
  std::string shown(int id) const
  {
    char text[1024] = "";
    ::GetDlgItemTextA(view.m_hWnd, id, text, sizeof(text));
    return text;
  }
  // The state messages the view posted to its parent since the last call.
  int statesPosted()
  {
    int count = 0;
    MSG message;
    while (::PeekMessageA(&message, frame_, WM_LATENCY_STATE, WM_LATENCY_STATE, PM_REMOVE)) {
      count++;
    }
    return count;
  }

  CTamsinGuiView view;
  HWND frame_ = nullptr;
};

const std::string goodVerdict = CTamsinGuiView::VerdictText(0);
const std::string badVerdict = CTamsinGuiView::VerdictText(LATENCY_GOOD_LIMIT_US);

TEST_F(ViewTicks, TheAbsoluteMaximumStaysBadUntilReset)
{
  ASSERT_NE(goodVerdict, badVerdict);
  view.ShowValues(record(1000, 2999));
  EXPECT_EQ(shown(IDC_CURRENT), "1999 \xB5s");
  EXPECT_EQ(shown(IDC_MAXIMUM), "1999 \xB5s");
  EXPECT_EQ(shown(IDC_PERIOD), "1000 \xB5s");
  EXPECT_EQ(shown(IDC_VERDICT), goodVerdict);
  EXPECT_EQ(statesPosted(), 1);

  view.ShowValues(record(1000, 3000));
  EXPECT_EQ(shown(IDC_MAXIMUM), "2000 \xB5s");
  EXPECT_EQ(shown(IDC_VERDICT), badVerdict);
  view.ShowValues(record(1000, 1200)); // a quiet second
  EXPECT_EQ(shown(IDC_CURRENT), "200 \xB5s");
  EXPECT_EQ(shown(IDC_MAXIMUM), "2000 \xB5s");
  EXPECT_EQ(shown(IDC_VERDICT), badVerdict) << "the quiet second does not make it good again";
  EXPECT_EQ(statesPosted(), 2);

  LRESULT result = -1;
  EXPECT_TRUE(view.ProcessWindowMessage(view.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_RESET, BN_CLICKED),
                                        0, result));
  EXPECT_EQ(shown(IDC_MAXIMUM), "0 \xB5s");
  EXPECT_EQ(shown(IDC_VERDICT), goodVerdict);
  EXPECT_EQ(shown(IDC_CURRENT), "200 \xB5s") << "Reset clears only the maximum";
  EXPECT_EQ(plotted().size(), 3u) << "and the graph keeps its history";
  EXPECT_EQ(statesPosted(), 1);
}

TEST_F(ViewTicks, EachTickPlotsItsLatencyOnTheLogScale)
{
  view.ShowValues(record(976, 976));    // no interval beyond the period: the bottom bar
  view.ShowValues(record(976, 1476));   // 500 µs: the first band
  view.ShowValues(record(1000, 40000)); // beyond the graph: its maximum
  EXPECT_EQ(plotted(), (std::vector<int32_t>{154, 1390, 10000}));
  EXPECT_EQ(view.m_period, 1000u);
  // The bottom bar is green like the line; 500 µs reaches the green band, 39 ms the top red.
  const C2DPushGraph::PushGraphLine& line = view.m_graph.lines[0];
  EXPECT_EQ(view.m_graph.BarColour(line, 154), COLORREF(0x0000FF00));
  EXPECT_EQ(view.m_graph.BarColour(line, 1390), COLORREF(0x0000FF00));
  EXPECT_EQ(view.m_graph.BarColour(line, 2278), COLORREF(0x0000FFFF));
  EXPECT_EQ(view.m_graph.BarColour(line, 10000), COLORREF(0x000000FF));
}

// What a poll reads from a driver whose measurement has stopped, or whose timer has not run
// for the whole second: no interval, the period of the last START.
LatencyValues nothingMeasured(uint32_t period)
{
  LatencyValues v = record(period, 0);
  v.minInterval = 0;
  return v;
}

TEST_F(ViewTicks, ASecondWithoutIntervalsNeverShowsAGoodMachine)
{
  LRESULT result = -1;
  auto reset = [&] {
    EXPECT_TRUE(view.ProcessWindowMessage(view.m_hWnd, WM_COMMAND,
                                          MAKEWPARAM(IDC_RESET, BN_CLICKED), 0, result));
  };
  view.ShowValues(record(1000, 1500));
  ASSERT_EQ(shown(IDC_VERDICT), goodVerdict);

  view.ShowValues(nothingMeasured(1000));
  EXPECT_EQ(shown(IDC_VERDICT), "");
  EXPECT_EQ(shown(IDC_MAXIMUM), "500 \xB5s") << "what was measured stays";
  reset();
  EXPECT_EQ(shown(IDC_VERDICT), "") << "a cleared maximum over nothing measured";
  view.ShowValues(nothingMeasured(0));
  EXPECT_EQ(shown(IDC_VERDICT), "");

  view.ShowValues(record(1000, 1200)); // the driver measures again
  EXPECT_EQ(shown(IDC_VERDICT), goodVerdict);

  view.ShowValues(record(1000, 3500));
  view.ShowValues(nothingMeasured(1000));
  EXPECT_EQ(shown(IDC_VERDICT), badVerdict) << "a bad maximum was measured";
  reset();
  EXPECT_EQ(shown(IDC_VERDICT), "");
}

std::string reported;
void collectReport(const char* text)
{
  reported += text;
}

TEST_F(ViewTicks, AFailedReadIsReportedAndTheTickShowsNothing)
{
  view.ShowValues(record(1000, 1500));
  reported.clear();
  const ErrorTextSink before = setErrorTextSink(collectReport);
  LRESULT result = -1;
  // The driver's device is not open here: the request fails without a message of its own.
  EXPECT_TRUE(view.ProcessWindowMessage(nullptr, WM_TIMER, IDT_POLL, 0, result));
  setErrorTextSink(before);
  EXPECT_EQ(reported, "GetValues failed, Status=0xEEE00001\n");
  EXPECT_EQ(plotted().size(), 1u);
  EXPECT_EQ(view.m_current, 500u);
  EXPECT_EQ(view.m_period, 1000u);
  EXPECT_EQ(shown(IDC_CURRENT), "500 \xB5s");
  EXPECT_EQ(statesPosted(), 1) << "only the good tick updated the display";
}

TEST_F(ViewTicks, TheGraphHasTheSixThresholdsInOrder)
{
  ASSERT_EQ(view.m_graph.bands.size(), 6u);
  const struct {
    int32_t value;
    COLORREF colour;
    const char* label;
  } expected[] = {
      {1390, 0x0000FF00, "500\xB5s"},  {2278, 0x0000FFFF, "1000\xB5s"},
      {3539, 0x000000F0, "2000\xB5s"}, {5139, 0x000000F5, "4000\xB5s"},
      {6991, 0x000000FA, "8000\xB5s"}, {9001, 0x000000FF, "16000\xB5s"},
  };
  for (size_t i = 0; i < 6; i++) {
    EXPECT_EQ(view.m_graph.bands[i].value, expected[i].value);
    EXPECT_EQ(view.m_graph.bands[i].colour, expected[i].colour);
    EXPECT_EQ(view.m_graph.bands[i].label, expected[i].label);
  }
  EXPECT_EQ(view.m_graph.step, 15);
  EXPECT_EQ(view.m_graph.maxValue, 10000);
  EXPECT_EQ(view.m_graph.minValue, 0);
  EXPECT_TRUE(view.m_graph.lines[0].barStyle);
}

} // namespace
