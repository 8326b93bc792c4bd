// The real programs under Wine: started as processes, seen and driven through Win32 only.
#include "process_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>
#include <windows.h>

namespace {

using test::besideThisProgram;
using test::kBorder;
using test::kContentHeight;
using test::kContentWidth;
using test::kTitleBar;
using test::Process;
using test::visibleWindowsTitled;
using test::waitForMainWindow;

class FenwickStartup : public testing::Test {
protected:
  std::wstring fenwick = besideThisProgram(L"Fenwick.exe");
};

TEST_F(FenwickStartup, MainWindowIsCentredFixedInSizeWithMinimiseAndClose)
{
  Process app(fenwick, L"");
  ASSERT_TRUE(app.started());
  HWND window = waitForMainWindow(app);
  ASSERT_NE(nullptr, window);

  const LONG style = GetWindowLongW(window, GWL_STYLE);
  EXPECT_NE(0, style & WS_MINIMIZEBOX);
  EXPECT_NE(0, style & WS_SYSMENU);
  EXPECT_EQ(0, style & WS_MAXIMIZEBOX);
  EXPECT_EQ(0, style & WS_THICKFRAME);

  RECT work;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const RECT r = test::waitUntilCentred(window);
  EXPECT_EQ(kContentWidth + 2 * kBorder, r.right - r.left);
  EXPECT_EQ(kContentHeight + kTitleBar + 2 * kBorder, r.bottom - r.top);
  EXPECT_NEAR((work.left + work.right) / 2, (r.left + r.right) / 2, 1);
  EXPECT_NEAR((work.top + work.bottom) / 2, (r.top + r.bottom) / 2, 1);

  // Closing the window ends the program normally.
  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(0u, app.exitCode(30000));
}

TEST_F(FenwickStartup, SecondStartExitsAndLeavesTheFirstAlone)
{
  Process first(fenwick, L"");
  HWND window = waitForMainWindow(first);
  ASSERT_NE(nullptr, window);

  Process second(fenwick, L"-device 1");
  ASSERT_TRUE(second.started());
  EXPECT_EQ(0u, second.exitCode(30000));

  EXPECT_TRUE(first.running());
  EXPECT_EQ(1u, visibleWindowsTitled("Halden ASIO").size());
  EXPECT_TRUE(IsWindow(window));
  EXPECT_TRUE(IsWindowVisible(window));
}

TEST(FenwickFatalError, BoxGivesTheExceptionTextAndTheProgramEndsWithoutItsWindow)
{
  wchar_t dir[MAX_PATH], file[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  GetTempFileNameW(dir, L"fnw", 0, file);
  DeleteFileW(file);

  Process app(besideThisProgram(L"fenwick_fatal_app.exe"), std::wstring(L"\"") + file + L"\"");
  ASSERT_TRUE(app.started());
  EXPECT_EQ(0u, app.exitCode(60000));

  std::string text;
  HANDLE h = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0)
    text.append(buffer, got);
  CloseHandle(h);
  DeleteFileW(file);

  EXPECT_EQ("box\n"
            "Fatal Error\n"
            "The following error occured:\n"
            "Picture \"HaldenExists.png\" is missing.\n"
            "This program will close now.\n"
            "OK\n"
            "window hidden\n"
            "stop\n",
            text);
}

} // namespace
