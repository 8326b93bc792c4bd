// The real tamsin.exe with its real driver, driven from outside by window messages.
#include "LatencyProtocol.h"
#include "tamsin_window.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>

namespace {

using tamsin_test::TamsinProcess;
using tamsin_test::waitFor;
using tamsin_test::windowText;

// Control and command ids of the program (its resource script's).
const int IDC_RESET = 1000, IDC_EXIT = 1001, IDC_CURRENT = 1004, IDC_MAXIMUM = 1005,
          IDC_START_STOP = 1007, IDC_PERIOD = 1009, IDC_VERDICT = 1012;
const WPARAM ID_APP_ABOUT = 57664, ID_APP_EXIT = 57665, ID_VIEW_STATUS_BAR = 59393;

const char polling[] = "Analysing DPC latency ...";
const char stopped[] = "Stopped ...";
const char goodVerdict[] = "This machine should be able to handle real-time streaming of audio "
                           "and/or video data without drop-outs.";

class TamsinGui : public ::testing::Test {
protected:
  void SetUp() override
  {
    ASSERT_TRUE(tamsin.start());
    ASSERT_TRUE(tamsin.waitForFrame()) << tamsin.errors();
    ASSERT_TRUE(tamsin.waitForPolling()) << tamsin.errors();
  }
  void TearDown() override { EXPECT_EQ(tamsin.errors(), ""); }

  TamsinProcess tamsin;
};

TEST_F(TamsinGui, TitleAndStatusWhileMeasuring)
{
  EXPECT_EQ(windowText(tamsin.frame()), "Ravelin V1.1.0");
  EXPECT_TRUE(waitFor([&] { return tamsin.statusText(0) == polling; }, 5000))
      << tamsin.statusText(0);
  EXPECT_EQ(tamsin.text(IDC_START_STOP), "Stop");
  EXPECT_TRUE(::IsWindowVisible(tamsin.linkPane()));
  EXPECT_EQ(windowText(::GetDlgItem(tamsin.linkPane(), 1011)), "www.halden.example");
}

TEST_F(TamsinGui, ValuesAfterAFewSecondsComeFromTheDriver)
{
  ::Sleep(3000);
  // The timer's period as the driver runs it: about the 1000 µs asked for.
  const long long period = tamsin.micros(IDC_PERIOD);
  EXPECT_GE(period, 900);
  EXPECT_LE(period, 1100);
  // A latency is what the slowest interval of a second took beyond the period: here, under a
  // desktop system's scheduling, well under a second.
  const long long current = tamsin.micros(IDC_CURRENT), maximum = tamsin.micros(IDC_MAXIMUM);
  EXPECT_GE(current, 0);
  EXPECT_LT(current, 1000000);
  EXPECT_GE(maximum, current);
  EXPECT_LT(maximum, 1000000);
  const std::string verdict = tamsin.text(IDC_VERDICT);
  EXPECT_EQ(verdict == goodVerdict, maximum < 2000) << verdict;
}

TEST_F(TamsinGui, StartStopSwitchesTheButtonTheStatusAndThePolling)
{
  tamsin.click(IDC_START_STOP);
  EXPECT_EQ(tamsin.text(IDC_START_STOP), "Start");
  EXPECT_TRUE(waitFor([&] { return tamsin.statusText(0) == stopped; }, 5000))
      << tamsin.statusText(0);

  // Paused: nothing moves, however long the driver goes on measuring.
  const std::string current = tamsin.text(IDC_CURRENT), maximum = tamsin.text(IDC_MAXIMUM);
  tamsin.click(IDC_RESET);
  ::Sleep(2500);
  EXPECT_EQ(tamsin.text(IDC_CURRENT), current);
  EXPECT_EQ(tamsin.text(IDC_MAXIMUM), "0 \xB5s");

  tamsin.click(IDC_START_STOP);
  EXPECT_EQ(tamsin.text(IDC_START_STOP), "Stop");
  EXPECT_TRUE(waitFor([&] { return tamsin.statusText(0) == polling; }, 5000))
      << tamsin.statusText(0);
  // Polling again: the first poll covers the whole pause, and no timer keeps its period to
  // the microsecond for seconds on end, so a maximum comes back from the driver.
  EXPECT_TRUE(waitFor([&] { return tamsin.micros(IDC_MAXIMUM) > 0; }, 20000))
      << tamsin.text(IDC_MAXIMUM);
}

TEST_F(TamsinGui, ResetClearsOnlyTheMaximum)
{
  ASSERT_TRUE(waitFor([&] { return tamsin.micros(IDC_MAXIMUM) > 0; }, 20000))
      << "no latency measured at all";
  tamsin.click(IDC_START_STOP); // hold the values still
  const std::string current = tamsin.text(IDC_CURRENT), period = tamsin.text(IDC_PERIOD);
  tamsin.click(IDC_RESET);
  EXPECT_EQ(tamsin.text(IDC_MAXIMUM), "0 \xB5s");
  EXPECT_EQ(tamsin.text(IDC_CURRENT), current);
  EXPECT_EQ(tamsin.text(IDC_PERIOD), period);
  EXPECT_EQ(tamsin.text(IDC_VERDICT), goodVerdict);
}

// A handle on the meter's device in another process than the meter's: this test's.
class OtherHandle {
public:
  OtherHandle()
      : device_(::CreateFileA(LATENCY_WIN32_DEVICE_NAME, GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr)),
        error_(::GetLastError())
  {
  }
  ~OtherHandle()
  {
    if (open()) {
      ::CloseHandle(device_);
    }
  }
  bool open() const { return device_ != INVALID_HANDLE_VALUE; }
  DWORD error() const { return error_; }
  bool stop() const
  {
    DWORD transferred = 0;
    return ::DeviceIoControl(device_, IOCTL_LATENCY_STOP, nullptr, 0, nullptr, 0, &transferred,
                             nullptr) != FALSE;
  }

private:
  HANDLE device_;
  DWORD error_;
};

TEST_F(TamsinGui, AnotherProcessOpeningAndClosingTheDeviceLeavesTheMeasurementRunning)
{
  {
    OtherHandle other;
    ASSERT_TRUE(other.open()) << other.error();
  }
  // Every poll after the Reset still brings intervals from the driver.
  tamsin.click(IDC_RESET);
  EXPECT_TRUE(waitFor([&] { return tamsin.micros(IDC_MAXIMUM) > 0; }, 20000))
      << "the measurement stopped with the other handle";
  const long long maximum = tamsin.micros(IDC_MAXIMUM);
  const std::string verdict = tamsin.text(IDC_VERDICT);
  EXPECT_NE(verdict, "");
  EXPECT_EQ(verdict == goodVerdict, maximum < 2000) << verdict;
}

TEST_F(TamsinGui, AMeasurementStoppedByAnotherProcessIsNeverAGoodMachine)
{
  {
    OtherHandle other;
    ASSERT_TRUE(other.open()) << other.error();
    ASSERT_TRUE(other.stop()) << ::GetLastError();
  }
  // The poll after the stop may still bring the intervals before it; the ones after that find
  // none, and then a cleared maximum shows no verdict.
  EXPECT_TRUE(waitFor(
      [&] {
        if (tamsin.micros(IDC_MAXIMUM) != 0) {
          tamsin.click(IDC_RESET);
        }
        return tamsin.text(IDC_VERDICT).empty();
      },
      20000))
      << tamsin.text(IDC_VERDICT);
  tamsin.click(IDC_RESET);
  EXPECT_EQ(tamsin.text(IDC_MAXIMUM), "0 \xB5s");
  EXPECT_EQ(tamsin.text(IDC_VERDICT), "") << "a cleared maximum over nothing measured";
}

TEST_F(TamsinGui, ExitEndsTheProgramAndRemovesTheDriver)
{
  EXPECT_EQ(tamsin_test::driverServiceState(), DWORD(SERVICE_RUNNING));
  tamsin.click(IDC_EXIT);
  EXPECT_EQ(tamsin.waitForExit(), 1u);
  EXPECT_EQ(tamsin_test::driverServiceState(), 0u);
}

TEST_F(TamsinGui, FileExitEndsTheProgramToo)
{
  ::PostMessageA(tamsin.frame(), WM_COMMAND, ID_APP_EXIT, 0);
  EXPECT_EQ(tamsin.waitForExit(), 1u);
  EXPECT_EQ(tamsin_test::driverServiceState(), 0u);
}

TEST_F(TamsinGui, ASecondStartEndsWithOneAndBringsTheFirstBack)
{
  ::ShowWindow(tamsin.frame(), SW_MINIMIZE);
  ASSERT_TRUE(waitFor([&] { return ::IsIconic(tamsin.frame()) != FALSE; }, 5000));

  TamsinProcess second;
  ASSERT_TRUE(second.start());
  EXPECT_EQ(second.waitForExit(), 1u);
  EXPECT_TRUE(waitFor([&] { return !::IsIconic(tamsin.frame()); }, 5000));
  EXPECT_TRUE(waitFor([&] { return ::GetForegroundWindow() == tamsin.frame(); }, 5000));
  // The first one goes on measuring.
  EXPECT_TRUE(tamsin.running());
  EXPECT_EQ(tamsin_test::driverServiceState(), DWORD(SERVICE_RUNNING));
}

HWND findAbout(DWORD pid)
{
  HWND about = ::FindWindowA("#32770", "About Ravelin");
  DWORD owner = 0;
  ::GetWindowThreadProcessId(about, &owner);
  return owner == pid ? about : nullptr;
}

TEST_F(TamsinGui, TheAboutBoxShowsItsTextsAndClosesWithEscape)
{
  ::PostMessageA(tamsin.frame(), WM_COMMAND, ID_APP_ABOUT, 0);
  HWND about = nullptr;
  ASSERT_TRUE(waitFor([&] { return (about = findAbout(tamsin.processId())) != nullptr; }, 5000));
  const std::string text = windowText(::GetDlgItem(about, 1007));
  EXPECT_EQ(text.rfind("Ravelin V1.1.0\nRelease Date: ", 0), 0u) << text;
  EXPECT_NE(text.find("\n\n"), std::string::npos) << text;
  EXPECT_EQ(windowText(::GetDlgItem(about, 1008)), "www.halden.example");
  EXPECT_NE(windowText(::GetDlgItem(about, 1013)), "Static");
  EXPECT_FALSE(::IsWindowEnabled(tamsin.frame())) << "the About box is modal";

  // A second start brings the About box, the frame's last active pop-up, to the front.
  TamsinProcess second;
  ASSERT_TRUE(second.start());
  EXPECT_EQ(second.waitForExit(), 1u);
  EXPECT_TRUE(waitFor([&] { return ::GetForegroundWindow() == about; }, 5000));

  ::PostMessageA(about, WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_TRUE(waitFor([&] { return findAbout(tamsin.processId()) == nullptr; }, 5000));
  EXPECT_TRUE(::IsWindowEnabled(tamsin.frame()));
  EXPECT_TRUE(tamsin.running());
}

TEST_F(TamsinGui, AnOpenMenuShowsItsPromptAndHidesTheLink)
{
  HMENU anyMenu = ::GetSystemMenu(tamsin.frame(), FALSE);
  ::SendMessageA(tamsin.frame(), WM_MENUSELECT, MAKEWPARAM(ID_APP_EXIT, MF_HILITE),
                 reinterpret_cast<LPARAM>(anyMenu));
  EXPECT_TRUE(tamsin.statusIsSimple());
  EXPECT_EQ(tamsin.statusText(0), "Quit the application.");
  EXPECT_FALSE(::IsWindowVisible(tamsin.linkPane()));

  ::SendMessageA(tamsin.frame(), WM_MENUSELECT, MAKEWPARAM(SC_CLOSE, MF_HILITE | MF_SYSMENU),
                 reinterpret_cast<LPARAM>(anyMenu));
  EXPECT_EQ(tamsin.statusText(0), "Close the active window and prompts to save the documents");

  ::SendMessageA(tamsin.frame(), WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0);
  EXPECT_FALSE(tamsin.statusIsSimple());
  EXPECT_TRUE(::IsWindowVisible(tamsin.linkPane()));
  EXPECT_EQ(tamsin.statusText(0), polling);
}

// An open popup menu of the program: menus are windows of their own class.
HWND openMenu(DWORD pid)
{
  HWND menu = nullptr;
  while ((menu = ::FindWindowExA(nullptr, menu, "#32768", nullptr)) != nullptr) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(menu, &owner);
    if (owner == pid && ::IsWindowVisible(menu)) {
      return menu;
    }
  }
  return nullptr;
}

TEST_F(TamsinGui, AltAndAMnemonicOpenTheMenuAndEnterRunsItsItem)
{
  // What Alt+I sends to the control that has the focus.
  ::PostMessageA(tamsin.control(IDC_EXIT), WM_SYSCHAR, 'i', 0x20000000);
  ASSERT_TRUE(waitFor([&] { return openMenu(tamsin.processId()) != nullptr; }, 5000));
  // The menu's own messages put its prompt into the status bar and hide the link.
  EXPECT_TRUE(waitFor([&] { return tamsin.statusIsSimple(); }, 5000));
  EXPECT_TRUE(waitFor(
      [&] {
        return tamsin.statusText(0) == "Show the program's information, version and copyright";
      },
      5000))
      << tamsin.statusText(0);
  EXPECT_FALSE(::IsWindowVisible(tamsin.linkPane()));

  ::PostMessageA(tamsin.frame(), WM_KEYDOWN, VK_RETURN, 0);
  HWND about = nullptr;
  ASSERT_TRUE(waitFor([&] { return (about = findAbout(tamsin.processId())) != nullptr; }, 5000));
  EXPECT_FALSE(tamsin.statusIsSimple());
  EXPECT_TRUE(::IsWindowVisible(tamsin.linkPane()));
  ::PostMessageA(about, WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_TRUE(waitFor([&] { return findAbout(tamsin.processId()) == nullptr; }, 5000));
}

TEST_F(TamsinGui, HidingAndShowingTheStatusBarKeepsItsPanes)
{
  ::SendMessageA(tamsin.frame(), WM_COMMAND, ID_VIEW_STATUS_BAR, 0);
  EXPECT_FALSE(::IsWindowVisible(tamsin.statusBar()));
  RECT frameClient, view;
  ::GetClientRect(tamsin.frame(), &frameClient);
  ::GetWindowRect(tamsin.view(), &view);
  ::MapWindowPoints(nullptr, tamsin.frame(), reinterpret_cast<POINT*>(&view), 2);
  EXPECT_EQ(view.bottom, frameClient.bottom) << "the view takes the status bar's place";

  ::SendMessageA(tamsin.frame(), WM_COMMAND, ID_VIEW_STATUS_BAR, 0);
  EXPECT_TRUE(::IsWindowVisible(tamsin.statusBar()));
  EXPECT_EQ(::SendMessageA(tamsin.statusBar(), SB_GETPARTS, 0, 0), 2);
  EXPECT_EQ(tamsin.statusText(0), polling);
  EXPECT_TRUE(::IsWindowVisible(tamsin.linkPane()));
}

// The smallest frame: the view's first size plus 8 pixels across and 80 down. The view's
// first size is its dialog template's, measured here from the same template.
INT_PTR CALLBACK ignoreMessages(HWND, UINT, WPARAM, LPARAM)
{
  return FALSE;
}

SIZE initialViewSize()
{
  SIZE size = {0, 0};
  HMODULE exe = ::LoadLibraryExA(tamsin_test::programPath("tamsin.exe").c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE);
  HRSRC found = ::FindResourceA(exe, MAKEINTRESOURCEA(129), MAKEINTRESOURCEA(5));
  auto* dialogTemplate = static_cast<LPCDLGTEMPLATEA>(::LockResource(::LoadResource(exe, found)));
  HWND parent = ::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 800, 600, nullptr, nullptr,
                                  nullptr, nullptr);
  HWND dialog = ::CreateDialogIndirectParamA(nullptr, dialogTemplate, parent, ignoreMessages, 0);
  RECT client = {};
  ::GetClientRect(dialog, &client);
  size = {client.right, client.bottom};
  ::DestroyWindow(dialog);
  ::DestroyWindow(parent);
  ::FreeLibrary(exe);
  return size;
}

TEST_F(TamsinGui, TheFrameKeepsRoomForTheWholeView)
{
  const SIZE view = initialViewSize();
  ASSERT_GT(view.cx, 0);
  ::SetWindowPos(tamsin.frame(), nullptr, 0, 0, 20, 20, SWP_NOMOVE | SWP_NOZORDER);
  RECT frame;
  ASSERT_TRUE(waitFor(
      [&] {
        ::GetWindowRect(tamsin.frame(), &frame);
        return frame.right - frame.left != 20;
      },
      5000));
  EXPECT_EQ(frame.right - frame.left, view.cx + 8);
  EXPECT_EQ(frame.bottom - frame.top, view.cy + 80);
}

TEST(TamsinGuiRecovery, AKilledMeterLeavesItsDriverRunningAndTheNextStartCleansUp)
{
  {
    TamsinProcess first;
    ASSERT_TRUE(first.start());
    ASSERT_TRUE(first.waitForFrame());
    ASSERT_TRUE(first.waitForPolling()) << first.errors();
    first.kill();
    EXPECT_EQ(tamsin_test::driverServiceState(), DWORD(SERVICE_RUNNING));
  }
  TamsinProcess next;
  ASSERT_TRUE(next.start());
  ASSERT_TRUE(next.waitForFrame()) << next.errors();
  ASSERT_TRUE(next.waitForPolling()) << next.errors();
  ::Sleep(2000);
  EXPECT_GE(next.micros(IDC_PERIOD), 900);
  EXPECT_GE(next.micros(IDC_CURRENT), 0);
  EXPECT_EQ(next.errors(), "");
  next.click(IDC_EXIT);
  EXPECT_EQ(next.waitForExit(), 1u);
  EXPECT_EQ(tamsin_test::driverServiceState(), 0u);
}

} // namespace

namespace {

TEST(TamsinGuiStartup, AnInstanceWithoutAFrameYetMakesASecondStartEndSilently)
{
  // As if a first meter had taken the name and not yet made its frame.
  HANDLE mutex = ::CreateMutexA(nullptr, TRUE, "{10E261FD-CE20-406e-8C31-BDCBC04EA51D}");
  ASSERT_NE(mutex, nullptr);
  TamsinProcess second;
  ASSERT_TRUE(second.start());
  EXPECT_EQ(second.waitForExit(), 1u);
  EXPECT_EQ(second.errors(), "");
  EXPECT_EQ(tamsin_test::driverServiceState(), 0u) << "no driver is touched";
  ::CloseHandle(mutex);
}

} // namespace
