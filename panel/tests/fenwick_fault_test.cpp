// The real Fenwick.exe against a simulated Halden that misbehaves: a request the driver never
// answers, requests that are all slow, a burst of device changes, a driver that goes away and
// comes back. Fenwick is seen through Win32 and through what reaches the driver.
#include "Marlow1394oxClient.h"
#include "simhalden_fixture.h"

#include <dbt.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>
#include <windows.h>

namespace {

constexpr int32_t kCancelled = static_cast<int32_t>(0xC0000120u); // STATUS_CANCELLED
// The longest a driver request may keep the window from its messages is the client's bound on
// one request; doubled for a busy machine. A guard against a window that never answers.
constexpr DWORD kOneRequestMs = 2 * Marlow1394oxClient::kRequestTimeoutMs;
// Closing carries on with the program's usual end: a goodbye to the driver, the window going.
constexpr DWORD kCloseGuardMs = kOneRequestMs + 20000;

std::wstring besideThisProgram(const wchar_t* name)
{
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path);
  return dir.substr(0, dir.find_last_of(L'\\') + 1) + name;
}

/** Fenwick.exe for the length of a test: closed through its window at the end, ended if it
    does not go. */
class Fenwick {
public:
  Fenwick()
  {
    const std::wstring program = besideThisProgram(L"Fenwick.exe");
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &si, &info))
      info = {};
  }
  ~Fenwick()
  {
    if (info.hProcess == nullptr)
      return;
    if (mainWindow != nullptr)
      PostMessageW(mainWindow, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(info.hProcess, 30000) == WAIT_TIMEOUT)
      TerminateProcess(info.hProcess, 99);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
  }
  Fenwick(const Fenwick&) = delete;
  Fenwick& operator=(const Fenwick&) = delete;

  /** Waits (30 s at most) for the main window; null if it never shows. */
  HWND waitForMainWindow()
  {
    for (int i = 0; i < 300 && info.hProcess != nullptr; ++i) {
      mainWindow = findWindow([](HWND w, const char*, const char* title) {
        return IsWindowVisible(w) && strcmp(title, "Halden ASIO") == 0;
      });
      if (mainWindow != nullptr || WaitForSingleObject(info.hProcess, 100) != WAIT_TIMEOUT)
        break;
    }
    return mainWindow;
  }
  /** Waits for the program to end; false if it still runs after the given time. */
  bool waitForExit(DWORD ms)
  {
    return info.hProcess != nullptr && WaitForSingleObject(info.hProcess, ms) == WAIT_OBJECT_0;
  }
  /** The hidden window that receives the broadcast device changes. */
  HWND deviceChangeWindow()
  {
    return findWindow([](HWND, const char* className, const char* title) {
      return strcmp(className, "Message") == 0 &&
             (title[0] == '\0' || strcmp(title, "ASIODevChangeMsgQueue") == 0);
    });
  }

private:
  using Match = bool (*)(HWND, const char* className, const char* title);
  struct Search {
    DWORD processId;
    Match match;
    HWND found;
  };
  static BOOL CALLBACK visit(HWND w, LPARAM p)
  {
    auto& s = *reinterpret_cast<Search*>(p);
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    char className[64] = {}, title[128] = {};
    GetClassNameA(w, className, sizeof className);
    GetWindowTextA(w, title, sizeof title);
    if (owner == s.processId && s.match(w, className, title)) {
      s.found = w;
      return FALSE;
    }
    return TRUE;
  }
  HWND findWindow(Match match)
  {
    Search search{info.dwProcessId, match, nullptr};
    EnumWindows(&visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
  }

  PROCESS_INFORMATION info = {};
  HWND mainWindow = nullptr;
};

class FenwickUnderFaults : public test::SimHaldenTest {
protected:
  /** Polls the driver's view (30 s at most) until the condition holds. */
  bool waitFor(const std::function<bool()>& condition)
  {
    for (int i = 0; i < 600; ++i) {
      if (condition())
        return true;
      Sleep(50);
    }
    return condition();
  }
  int countLogged(const std::string& name)
  {
    const auto names = loggedNames();
    return static_cast<int>(std::count(names.begin(), names.end(), name));
  }
  /** Fenwick has the driver open and polls it. */
  bool polling()
  {
    return waitFor([&] {
      if (state().openHandles != 1)
        return false;
      for (const HaldenSimLogEntry& e : log())
        if (e.ioControlCode == IOCTL_OX_GET_STATUS && e.status == 0)
          return true;
      return false;
    });
  }
  void startFenwick()
  {
    fenwick = std::make_unique<Fenwick>();
    window = fenwick->waitForMainWindow();
    ASSERT_NE(nullptr, window);
    ASSERT_TRUE(polling());
  }

  std::unique_ptr<Fenwick> fenwick;
  HWND window = nullptr;
};

TEST_F(FenwickUnderFaults, StatusRequestTheDriverNeverAnswersIsCancelledAndTheWindowAnswersAgain)
{
  startFenwick();
  ASSERT_EQ(0u, sim->clearLog());
  ASSERT_EQ(0u, sim->pendNext(IOCTL_OX_GET_STATUS, SIMHALDEN_HOLD_UNTIL_COMPLETED));
  ASSERT_TRUE(waitForHeld(1));

  // Nobody completes the request; Fenwick must let it go by itself and answer again.
  DWORD_PTR answer = 0;
  EXPECT_NE(0, SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 20000, &answer))
      << "the window did not answer";
  EXPECT_TRUE(waitForHeld(0));
  const std::vector<HaldenSimLogEntry> entries = log();
  const auto held = std::find_if(entries.begin(), entries.end(), [](const HaldenSimLogEntry& e) {
    return (e.flags & SIMHALDEN_LOG_PENDED) != 0;
  });
  ASSERT_NE(entries.end(), held);
  EXPECT_EQ(static_cast<uint32_t>(IOCTL_OX_GET_STATUS), held->ioControlCode);
  EXPECT_EQ(kCancelled, held->status);
  // The poll goes on, on the same handle.
  ASSERT_EQ(0u, sim->clearLog());
  EXPECT_TRUE(polling());
}

TEST_F(FenwickUnderFaults, SlowDriverSlowsThePollButNeverTheWindow)
{
  struct Case {
    const char* what;
    uint32_t pendMs; // of every status request
  };
  const std::vector<Case> cases = {
      {"answered after 1000 ms, longer than the period", 1000},
      {"held, each one cancelled after the client's bound", SIMHALDEN_HOLD_UNTIL_COMPLETED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(0u, sim->reset());
    startFenwick();
    ASSERT_EQ(0u, sim->clearLog());
    ASSERT_EQ(0u, sim->pendNext(IOCTL_OX_GET_STATUS, c.pendMs, 0));
    // Polls that queued up behind each other would run back to back by now.
    ASSERT_TRUE(waitFor([&] { return countLogged("GET_STATUS") >= 3; }));
    ASSERT_EQ(1u, state().armedFaults);

    DWORD_PTR answer = 0;
    EXPECT_NE(0, SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, kOneRequestMs, &answer))
        << "the window did not answer WM_NULL";
    wchar_t title[64] = {};
    EXPECT_NE(0, SendMessageTimeoutW(window, WM_GETTEXT, 64, reinterpret_cast<LPARAM>(title),
                                     SMTO_NORMAL, kOneRequestMs, &answer))
        << "the window did not answer WM_GETTEXT";
    EXPECT_STREQ(L"Halden ASIO", title);

    ASSERT_NE(0, PostMessageW(window, WM_CLOSE, 0, 0));
    EXPECT_TRUE(fenwick->waitForExit(kCloseGuardMs)) << "WM_CLOSE did not end Fenwick";
    EXPECT_EQ(1u, state().armedFaults);
    fenwick.reset();
  }
}

TEST_F(FenwickUnderFaults, BurstOfDeviceChangesGivesOneReconnect)
{
  startFenwick();
  HWND watcher = fenwick->deviceChangeWindow();
  ASSERT_NE(nullptr, watcher);
  ASSERT_EQ(0u, sim->clearLog());
  for (int i = 0; i < 5; ++i) {
    DWORD_PTR answer = 99;
    EXPECT_NE(0, SendMessageTimeoutW(watcher, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0, SMTO_NORMAL,
                                     20000, &answer));
    EXPECT_EQ(0u, answer);
  }
  // One reconnect reads the device list twice (to look the device up, and to select it). Had
  // each message its own reconnect, all five would have been made before the sends returned.
  EXPECT_TRUE(waitFor([&] { return countLogged("GET_DEVICE_LIST") >= 2; }));
  EXPECT_TRUE(polling());
  EXPECT_EQ(2, countLogged("GET_DEVICE_LIST"));
}

TEST_F(FenwickUnderFaults, DriverRemovedAndInstalledAgainIsConnectedAgain)
{
  startFenwick();
  sim.reset();
  test::removeSimHalden();
  ASSERT_EQ("", test::installSimHalden());
  sim = std::make_unique<SimHaldenController>();
  ASSERT_TRUE(sim->isOpen());
  ASSERT_EQ(0u, state().openHandles);
  // As Windows tells the windows when devices come and go (and haldensim's devices does).
  PostMessageW(HWND_BROADCAST, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
  EXPECT_TRUE(polling()) << "Fenwick does not reach the driver that came back";
}

} // namespace
