// The main view created in this process, with the windows' resources but without the driver
// images: every step of its start-up fails in turn and is reported, and each report asks the
// frame to close.
#include "ErrorReport.h"
#include "TamsinGuiView.h"
#include "tamsin_window.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> reported;
void collectReport(const char* text)
{
  reported.push_back(text);
}

int postedCloses(HWND window)
{
  int count = 0;
  MSG msg;
  while (::PeekMessageA(&msg, window, WM_CLOSE, WM_CLOSE, PM_REMOVE)) {
    count++;
  }
  return count;
}

TEST(ViewStartup, WithoutItsDriverTheViewReportsEachFailedStepInOrderAndClosesTheFrame)
{
  ASSERT_EQ(tamsin_test::driverServiceState(), 0u) << "a driver service is left over";
  HWND frame = ::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 700, 500, nullptr, nullptr,
                                 nullptr, nullptr);
  ASSERT_NE(frame, nullptr);
  HWND* const frameBefore = g_mainFrameWnd;
  g_mainFrameWnd = &frame;
  reported.clear();
  const ErrorTextSink sinkBefore = setErrorTextSink(collectReport);

  {
    CTamsinGuiView view;
    ASSERT_NE(view.Create(frame), nullptr);
    ASSERT_EQ(reported.size(), 5u);
    // This program carries no driver image, so the installer fails first.
    EXPECT_EQ(reported[0].rfind("InstallDrvByRes: FindResource failed with error 0x", 0), 0u)
        << reported[0];
    EXPECT_EQ(reported[1], "LoadDriver failed, Status=0x00000001\n");
    EXPECT_EQ(reported[2], "CreateFile failed, err=0x00000002\n");
    EXPECT_EQ(reported[3], "Open failed, Status=0x00000002\n");
    EXPECT_EQ(reported[4], "Start failed, Status=0xEEE00001\n");
    EXPECT_EQ(postedCloses(frame), 5);

    // It went on all the same: numbers, verdict and polling are set up.
    EXPECT_TRUE(view.m_polling);
    char text[64] = "";
    ::GetDlgItemTextA(view.m_hWnd, IDC_MAXIMUM, text, sizeof(text));
    EXPECT_STREQ(text, "0 \xB5s");
    ::GetDlgItemTextA(view.m_hWnd, IDC_START_STOP, text, sizeof(text));
    EXPECT_STREQ(text, "Stop");
    EXPECT_EQ(view.m_toolTips.size(), 9u);

    // The first poll fails too, and stops the polling.
    LRESULT result = 0;
    view.ProcessWindowMessage(view.m_hWnd, WM_TIMER, IDT_POLL, 0, result);
    ASSERT_EQ(reported.size(), 6u);
    EXPECT_EQ(reported[5], "GetValues failed, Status=0xEEE00001\n");
    EXPECT_TRUE(view.m_graph.lines[0].points.empty());

    view.DestroyWindow();
    EXPECT_EQ(reported.size(), 6u) << "destroying reports nothing: " << reported.back();
  }

  setErrorTextSink(sinkBefore);
  g_mainFrameWnd = frameBefore;
  ::DestroyWindow(frame);
  EXPECT_EQ(tamsin_test::driverServiceState(), 0u);
}

} // namespace
