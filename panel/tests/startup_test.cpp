// The real programs under Wine: started as processes, seen and driven through Win32 only.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>
#include <windows.h>

namespace {

std::wstring besideThisProgram(const wchar_t* name)
{
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path);
  return dir.substr(0, dir.find_last_of(L'\\') + 1) + name;
}

/** A process of ours, ended by the test if it is still there at the end. */
class Process {
public:
  Process(const std::wstring& program, const std::wstring& arguments)
  {
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &si, &info))
      info = {};
  }
  ~Process()
  {
    if (info.hProcess != nullptr) {
      if (WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT)
        TerminateProcess(info.hProcess, 99);
      CloseHandle(info.hProcess);
      CloseHandle(info.hThread);
    }
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool started() const { return info.hProcess != nullptr; }
  DWORD id() const { return info.dwProcessId; }
  bool running() const { return WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT; }

  /** The exit code once the process has ended within the time, else STILL_ACTIVE. */
  DWORD exitCode(DWORD timeoutMs) const
  {
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(info.hProcess, timeoutMs) == WAIT_OBJECT_0)
      GetExitCodeProcess(info.hProcess, &code);
    return code;
  }

private:
  PROCESS_INFORMATION info = {};
};

struct WindowSearch {
  const char* title;
  DWORD processId;
  std::vector<HWND> found;
};

BOOL CALLBACK collectWindow(HWND w, LPARAM p)
{
  auto& s = *reinterpret_cast<WindowSearch*>(p);
  char text[128] = {};
  GetWindowTextA(w, text, sizeof text);
  DWORD owner = 0;
  GetWindowThreadProcessId(w, &owner);
  if (IsWindowVisible(w) && strcmp(text, s.title) == 0 &&
      (s.processId == 0 || owner == s.processId))
    s.found.push_back(w);
  return TRUE;
}

std::vector<HWND> visibleWindowsTitled(const char* title, DWORD processId = 0)
{
  WindowSearch search{title, processId, {}};
  EnumWindows(&collectWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

/** The program's main window, once it is visible (30 s at most). */
HWND waitForMainWindow(const Process& process)
{
  for (int i = 0; i < 300; ++i) {
    std::vector<HWND> found = visibleWindowsTitled("Halden ASIO", process.id());
    if (!found.empty())
      return found[0];
    if (!process.running())
      return nullptr;
    Sleep(100);
  }
  return nullptr;
}

// JUCE draws the title bar itself: 26 pixels, and a border of 1 around a window that cannot
// be resized. The content is the settings pane (250 x 452) with a margin of 5 all round.
constexpr int kContentWidth = 260;
constexpr int kContentHeight = 462;
constexpr int kTitleBar = 26;
constexpr int kBorder = 1;

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

  // The window is shown, then centred: give the second step a moment.
  RECT work;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  RECT r;
  for (int i = 0; i < 100; ++i) {
    GetWindowRect(window, &r);
    if (std::abs((work.left + work.right) / 2 - (r.left + r.right) / 2) <= 1 &&
        std::abs((work.top + work.bottom) / 2 - (r.top + r.bottom) / 2) <= 1)
      break;
    Sleep(50);
  }
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
