// What the real program shows besides its controls: the controls' tooltips.
#include "process_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>
#include <windows.h>

namespace {

class FenwickWindow : public testing::Test {
protected:
  void SetUp() override
  {
    ASSERT_TRUE(app.started());
    window = test::waitForMainWindow(app);
    ASSERT_NE(nullptr, window);
    test::waitUntilCentred(window);
  }
  void TearDown() override
  {
    if (window != nullptr) {
      PostMessageW(window, WM_CLOSE, 0, 0);
      EXPECT_EQ(0u, app.exitCode(30000));
    }
  }

  test::Process app{test::besideThisProgram(L"Fenwick.exe"), L""};
  HWND window = nullptr;
};

/** The visible tooltip windows of the process, after the time a tooltip takes to come or go
    (30 s at most). */
std::vector<HWND> tooltipsOnceSettled(DWORD processId, bool wanted)
{
  std::vector<HWND> found;
  for (int i = 0; i < 300; ++i) {
    found = test::visibleWindowsTitled("tooltip", processId);
    if (found.empty() != wanted)
      break;
    Sleep(100);
  }
  return found;
}

TEST_F(FenwickWindow, ControlsShowTheirTooltipsUnderThePointer)
{
  SetForegroundWindow(window);
  const struct {
    const char* what;
    POINT at;
    bool tip;
  } steps[] = {
      {"the button", test::kMeterButton, true},
      {"the picture", test::kDevicePicture, false},
      {"the sampling-rate box", test::kSampleRateBox, true},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.what);
    const POINT pointer = test::contentToScreen(window, step.at.x, step.at.y);
    // Two moves: the first one enters the window, the second one is a move inside it.
    test::moveMouse({pointer.x - 1, pointer.y});
    test::moveMouse(pointer);
    const std::vector<HWND> tips = tooltipsOnceSettled(app.id(), step.tip);
    if (!step.tip) {
      EXPECT_TRUE(tips.empty());
      continue;
    }
    // One tooltip window, of several lines' size, next to the pointer.
    ASSERT_EQ(1u, tips.size());
    RECT r;
    GetWindowRect(tips[0], &r);
    EXPECT_GT(r.right - r.left, 100);
    EXPECT_LE(r.right - r.left, 420);
    EXPECT_GT(r.bottom - r.top, 10);
    EXPECT_LT(std::max({r.left - pointer.x, pointer.x - r.right, 0L}), 40);
    EXPECT_LT(std::max({r.top - pointer.y, pointer.y - r.bottom, 0L}), 40);
  }
}

} // namespace
