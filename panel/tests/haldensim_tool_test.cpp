// The console tool that installs the simulated Halden driver for the control panel, scripts
// it and removes it again, run as its own process.
#include "Marlow1394oxClient.h"
#include "simhalden_fixture.h"

#include <dbt.h>

#include <gmock/gmock.h>

#include <string>

namespace {

using ::testing::HasSubstr;

struct ToolRun {
  DWORD exitCode;
  std::string output; // standard output and standard error
};

ToolRun haldensim(const std::string& arguments)
{
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE readEnd, writeEnd;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
    return {~0u, "CreatePipe failed"};
  }
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  std::string commandLine = std::string("\"") + HALDENSIM_TOOL + "\" " + arguments;
  PROCESS_INFORMATION process = {};
  const BOOL started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &process);
  CloseHandle(writeEnd);
  if (!started) {
    CloseHandle(readEnd);
    return {~0u, "CreateProcess failed with " + std::to_string(GetLastError())};
  }
  ToolRun run = {~0u, {}};
  char buffer[512];
  DWORD got;
  while (ReadFile(readEnd, buffer, sizeof(buffer), &got, nullptr) && got != 0) {
    run.output.append(buffer, got);
  }
  CloseHandle(readEnd);
  WaitForSingleObject(process.hProcess, INFINITE);
  GetExitCodeProcess(process.hProcess, &run.exitCode);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return run;
}

class HaldensimTool : public ::testing::Test {
protected:
  void SetUp() override { test::removeSimHalden(); }
  void TearDown() override
  {
    haldensim("remove");
    test::removeSimHalden();
  }

  HaldenSimState state()
  {
    SimHaldenController sim;
    HaldenSimState s = {};
    EXPECT_EQ(sim.getState(s), 0u);
    return s;
  }
};

#define EXPECT_RUNS(arguments)                                                                     \
  do {                                                                                             \
    const ToolRun r = haldensim(arguments);                                                        \
    EXPECT_EQ(r.exitCode, 0u) << (arguments) << ": " << r.output;                                  \
  } while (0)

TEST_F(HaldensimTool, InstallsTheDefaultHaldenAndLeavesItRunning)
{
  const ToolRun installed = haldensim("install");
  ASSERT_EQ(installed.exitCode, 0u) << installed.output;

  // The tool has ended; the driver runs on for the panel.
  Marlow1394oxClient client;
  ASSERT_EQ(client.open(), 0u);
  OxStatus status;
  ASSERT_EQ(client.getStatus(status), 0u);
  EXPECT_EQ(status.streamState, OX_STREAM_STREAMING);
  EXPECT_EQ(status.sampleRate, 48000u);
  client.close();

  const ToolRun shown = haldensim("state");
  EXPECT_EQ(shown.exitCode, 0u);
  EXPECT_THAT(shown.output,
              HasSubstr("status: streaming, 48000 Hz, rates 44100 48000 88200 96000"));

  EXPECT_RUNS("remove");
  SimHaldenController gone;
  EXPECT_FALSE(gone.isOpen());
}

TEST_F(HaldensimTool, ScriptsDevicesStatusAndFaults)
{
  ASSERT_EQ(haldensim("install").exitCode, 0u);

  EXPECT_RUNS("devices 0x10 0x20 current=0x20");
  HaldenSimState s = state();
  EXPECT_EQ(s.deviceList.count, 2u);
  EXPECT_EQ(s.deviceList.entries[1].deviceId, 0x20u);
  EXPECT_EQ(s.deviceList.currentDeviceId, 0x20u);
  EXPECT_EQ(s.status.streamState, OX_STREAM_STOPPED) << "the stream ends with its device";

  EXPECT_RUNS("status state=streaming rate=44100 rates=44100,48000 firewire=4 asio=1 latency=900");
  s = state();
  EXPECT_EQ(s.status.streamState, OX_STREAM_STREAMING);
  EXPECT_EQ(s.status.sampleRate, 44100u);
  EXPECT_EQ(s.status.sampleRateCount, 2u);
  EXPECT_EQ(s.status.sampleRates[1], 48000u);
  EXPECT_EQ(s.status.firewireLatencyIndex, 4u);
  EXPECT_EQ(s.status.asioBufferIndex, 1u);
  EXPECT_EQ(s.status.latencyUs, 900u);

  EXPECT_RUNS("fault status fail=0xC007001F count=2");
  EXPECT_RUNS("version 2");
  Marlow1394oxClient client;
  EXPECT_EQ(client.open(), OX_ERROR_VERSION_MISMATCH);
  EXPECT_RUNS("version 1");
  ASSERT_EQ(client.open(), 0u);
  OxStatus status;
  EXPECT_EQ(client.getStatus(status), static_cast<uint32_t>(ERROR_GEN_FAILURE));
  EXPECT_RUNS("clear-faults");
  EXPECT_EQ(client.getStatus(status), 0u);

  const ToolRun logged = haldensim("log");
  EXPECT_EQ(logged.exitCode, 0u);
  EXPECT_THAT(logged.output, HasSubstr("status   in 0, out 112, answered 0, status 0xC007001F"));

  EXPECT_RUNS("devices");
  EXPECT_EQ(state().deviceList.count, 0u);
  EXPECT_EQ(state().deviceList.currentDeviceId, 0u);
}

TEST_F(HaldensimTool, BadInputIsRefusedAndChangesNothing)
{
  ASSERT_EQ(haldensim("install").exitCode, 0u);
  const HaldenSimState before = state();
  const char* const refused[] = {
      "",
      "frobnicate",
      "status rate=fast",
      "status rate=48000 colour=blue",
      "status rates=44100,-1",
      "devices 0x10 zebra",
      "devices current=",
      "fault nosuchrequest fail=1",
      "fault status pend=soon",
      "version",
      "version 1 2",
      "devices 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17",
  };
  for (const char* arguments : refused) {
    const ToolRun r = haldensim(arguments);
    EXPECT_EQ(r.exitCode, 2u) << arguments << ": " << r.output;
    EXPECT_THAT(r.output, HasSubstr("usage: haldensim")) << arguments;
  }
  const HaldenSimState after = state();
  EXPECT_EQ(memcmp(&before.deviceList, &after.deviceList, sizeof(OxDeviceList)), 0);
  EXPECT_EQ(memcmp(&before.status, &after.status, sizeof(OxStatus)), 0);
  EXPECT_EQ(after.armedFaults, 0u);
}

TEST_F(HaldensimTool, CommandsWithoutTheDriverSaySo)
{
  const ToolRun r = haldensim("state");
  EXPECT_EQ(r.exitCode, 1u);
  EXPECT_THAT(r.output, HasSubstr("is it installed?"));
  const ToolRun missing = haldensim("install Z:\\no\\such\\simhalden.sys");
  EXPECT_EQ(missing.exitCode, 1u);
  EXPECT_THAT(missing.output, HasSubstr("no driver image"));
}

// A hidden top-level window, like the panel's device-change watcher, that counts the
// device-tree changes it is told of.
class DeviceChangeWindow {
public:
  DeviceChangeWindow()
  {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "HaldensimToolTestWindow";
    RegisterClassA(&wc);
    window_ = CreateWindowExA(0, wc.lpszClassName, "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                              nullptr, wc.hInstance, nullptr);
  }
  ~DeviceChangeWindow() { DestroyWindow(window_); }
  bool created() const { return window_ != nullptr; }

  // Pumps messages until a change arrived; false after a few seconds.
  bool waitForChange()
  {
    for (int i = 0; i < 500 && changes_ == 0; i++) {
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageA(&msg);
      }
      Sleep(10);
    }
    return changes_ != 0;
  }

private:
  static LRESULT CALLBACK proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
  {
    if (message == WM_DEVICECHANGE && wParam == DBT_DEVNODES_CHANGED) {
      changes_++;
      return TRUE;
    }
    return DefWindowProcA(window, message, wParam, lParam);
  }

  static int changes_;
  HWND window_;
};

int DeviceChangeWindow::changes_ = 0;

TEST_F(HaldensimTool, ChangedDevicesAreAnnouncedToTheWindows)
{
  ASSERT_EQ(haldensim("install").exitCode, 0u);
  DeviceChangeWindow window;
  ASSERT_TRUE(window.created());
  EXPECT_RUNS("devices 0x77");
  EXPECT_TRUE(window.waitForChange());
}

} // namespace
