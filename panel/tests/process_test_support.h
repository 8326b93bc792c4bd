// What the tests of the real programs share: starting a process, finding its windows, and
// driving the main window with the mouse as a user would.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <windows.h>

namespace test {

inline std::wstring besideThisProgram(const wchar_t* name)
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
      if (WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(info.hProcess, 99);
        WaitForSingleObject(info.hProcess, 30000);
      }
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

inline BOOL CALLBACK collectWindow(HWND w, LPARAM p)
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

inline std::vector<HWND> visibleWindowsTitled(const char* title, DWORD processId = 0)
{
  WindowSearch search{title, processId, {}};
  EnumWindows(&collectWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

/** The program's main window, once it is visible (30 s at most). */
inline HWND waitForMainWindow(const Process& process)
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

/** The window is shown, then centred on the work area: waits for the second step (10 s at
    most) and gives the window's rectangle. */
inline RECT waitUntilCentred(HWND window)
{
  RECT work;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  RECT r = {};
  for (int i = 0; i < 200; ++i) {
    GetWindowRect(window, &r);
    if (std::abs((work.left + work.right) / 2 - (r.left + r.right) / 2) <= 1 &&
        std::abs((work.top + work.bottom) / 2 - (r.top + r.bottom) / 2) <= 1)
      break;
    Sleep(50);
  }
  return r;
}

// JUCE draws the title bar itself: 26 pixels, and a border of 1 around a window that cannot
// be resized. The content is the settings pane (250 x 452) with a margin of 5 all round.
constexpr int kContentWidth = 260;
constexpr int kContentHeight = 462;
constexpr int kTitleBar = 26;
constexpr int kBorder = 1;

/** Where a point of the main window's content lies on the screen. */
inline POINT contentToScreen(HWND window, int x, int y)
{
  RECT r;
  GetWindowRect(window, &r);
  return {r.left + kBorder + x, r.top + kBorder + kTitleBar + y};
}

// Centres of the pane's children in the content (the pane sits at 5, 5; the device picture is
// 125 x 178 at the pane's top).
constexpr POINT kDevicePicture = {5 + 125, 5 + 89};
constexpr POINT kMeterButton = {5 + 49 + 76, 5 + 178 + 56 + 11};
constexpr POINT kSampleRateBox = {5 + 17 + 108, 5 + 178 + 127 + 11};

/** Moves the pointer as the mouse does: the window under it gets the move as input. */
inline void moveMouse(POINT screen)
{
  INPUT input = {};
  input.type = INPUT_MOUSE;
  input.mi.dx = MulDiv(screen.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
  input.mi.dy = MulDiv(screen.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
  input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  SendInput(1, &input, sizeof input);
}

inline bool mouseIsAt(POINT screen)
{
  POINT now;
  return GetCursorPos(&now) && now.x == screen.x && now.y == screen.y;
}

/** Puts the pointer back at the point when something else has moved it. Under Wine a move
    warps the X server's pointer, and each program with a window under it turns the motion and
    crossing events it gets from the X server into moves again: a program that reads them late
    (a busy machine, a window that has just appeared) moves the pointer back to where it was.
    A test that waits for what the pointer causes keeps it in place this way, as a user's hand
    does. */
inline void keepMouseAt(POINT screen)
{
  if (!mouseIsAt(screen))
    moveMouse(screen);
}

/** Before a test's window appears: the pointer in the screen's lower right corner, where no
    window of the tests lies (JUCE makes a window at the top left before it is placed), so that
    the window does not appear under it (see keepMouseAt). */
struct PointerOutOfTheWay {
  PointerOutOfTheWay()
  {
    const POINT corner = {GetSystemMetrics(SM_CXSCREEN) - 1, GetSystemMetrics(SM_CYSCREEN) - 1};
    for (int i = 0; i < 100 && !mouseIsAt(corner); ++i) {
      moveMouse(corner);
      Sleep(20);
    }
  }
};

/** Pixels between the window's rectangle and the point, across and down (0 inside it). */
inline POINT distanceToWindow(HWND window, POINT p)
{
  RECT r = {};
  GetWindowRect(window, &r);
  return {std::max({r.left - p.x, p.x - r.right, 0L}), std::max({r.top - p.y, p.y - r.bottom, 0L})};
}

/** A tooltip lies next to the pointer within this many pixels each way. */
constexpr LONG kTooltipReach = 40;

/** The pointer out of the window and back in at the point: JUCE hides the tooltip when the
    pointer leaves (awaited, 10 s at most), and shows one again where the pointer then is. */
inline void reenterAt(DWORD processId, POINT pointer)
{
  const POINT corner = {GetSystemMetrics(SM_CXSCREEN) - 1, GetSystemMetrics(SM_CYSCREEN) - 1};
  for (int i = 0; i < 100; ++i) {
    keepMouseAt(corner);
    if (mouseIsAt(corner) && visibleWindowsTitled("tooltip", processId).empty())
      break;
    Sleep(100);
  }
  moveMouse({pointer.x - 1, pointer.y});
  moveMouse(pointer);
}

/** The visible tooltip windows of the process, once the pointer held still at the point shows
    one tooltip next to it (wanted) or none (30 s at most, then what there is). Under Wine the
    program replays where the X server saw the pointer, late on a busy machine (see
    keepMouseAt): a tooltip may first come for an earlier position, and goes to the pointer's
    when the pointer is back. JUCE places a tooltip where the pointer is at the moment it shows
    it, and leaves it there while the pointer stays on the same control: one shown while a
    replay had the pointer elsewhere stays away from it, until the pointer leaves and comes
    back, as a user's hand would. */
inline std::vector<HWND> tooltipsOnceSettled(DWORD processId, bool wanted, POINT pointer)
{
  std::vector<HWND> found;
  int strayLooks = 0;
  for (int i = 0; i < 300; ++i) {
    keepMouseAt(pointer);
    found = visibleWindowsTitled("tooltip", processId);
    if (!wanted && found.empty())
      break;
    if (wanted && found.size() == 1 && mouseIsAt(pointer)) {
      const POINT d = distanceToWindow(found[0], pointer);
      if (d.x < kTooltipReach && d.y < kTooltipReach)
        break;
      if (++strayLooks == 10) {
        reenterAt(processId, pointer);
        strayLooks = 0;
      }
    } else {
      strayLooks = 0;
    }
    Sleep(100);
  }
  return found;
}

/** A click of the left button at the point. Both halves carry the position, so that the
    button goes down and up there even if the pointer was moved back in between. */
inline void clickMouse(POINT screen)
{
  INPUT inputs[2] = {};
  for (INPUT& input : inputs) {
    input.type = INPUT_MOUSE;
    input.mi.dx = MulDiv(screen.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
    input.mi.dy = MulDiv(screen.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
  }
  inputs[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_LEFTDOWN;
  inputs[1].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_LEFTUP;
  SendInput(2, inputs, sizeof inputs[0]);
}

} // namespace test
