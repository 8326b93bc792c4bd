// Drives a real tamsin.exe from outside, as a user would, by window messages: starts it,
// finds its windows, reads their texts and ends it. Every wait has a time-out. The program's
// fatal-error texts go to a log file of its own (TAMSIN_ERROR_LOG) instead of a modal box; a
// box that it shows all the same (the start-up checks') is read and closed, never waited on.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace tamsin_test {

// Full path of a program next to the running test program.
std::string programPath(const char* fileName);

// Polls `condition` every 20 ms until it holds or `timeoutMs` passed.
bool waitFor(const std::function<bool()>& condition, DWORD timeoutMs);

// The texts of the error boxes ("Error", or "Ravelin" at start-up) that a process shows, each
// box closed after reading.
std::string takeErrorBoxes(DWORD processId);

// The meter's window text of a window, read by WM_GETTEXT.
std::string windowText(HWND window);

class TamsinProcess {
public:
  TamsinProcess() = default;
  ~TamsinProcess();
  TamsinProcess(const TamsinProcess&) = delete;
  TamsinProcess& operator=(const TamsinProcess&) = delete;

  // Starts tamsin.exe; true when the process runs.
  bool start();
  // Waits for its main frame; true when it is there.
  bool waitForFrame(DWORD timeoutMs = 30000);
  // Waits until the view shows values from at least one poll of the driver.
  bool waitForPolling(DWORD timeoutMs = 15000);

  HWND frame() const { return frame_; }
  HWND view() const;
  HWND statusBar() const;
  HWND control(int id) const { return ::GetDlgItem(view(), id); }
  std::string text(int id) const { return windowText(control(id)); }
  // A number shown as "%u µs"; -1 when the text is not of that form.
  long long micros(int id) const;
  // The text of a status-bar part (255: the simple text), read through a buffer in the
  // program's own memory.
  std::string statusText(int part) const;
  bool statusIsSimple() const;
  // The link pane hosted in the status bar.
  HWND linkPane() const;

  // Clicks a button of the view (BN_CLICKED, as the button sends it).
  void click(int id) const;

  DWORD processId() const { return processInfo_.dwProcessId; }
  HANDLE process() const { return processInfo_.hProcess; }
  bool running() const;
  // Waits for the process to end; its exit code, or STILL_ACTIVE after the time-out.
  DWORD waitForExit(DWORD timeoutMs = 20000);
  // Ends it the hard way, as a crash would.
  void kill();
  // The error texts the program wrote and the error boxes it showed so far (each closed).
  std::string errors();

private:
  PROCESS_INFORMATION processInfo_ = {};
  std::string errorLog_;
  HWND frame_ = nullptr;
};

// The state of the driver service: 0 when it is not registered, else its current state
// (SERVICE_RUNNING, SERVICE_STOPPED, ...).
DWORD driverServiceState();

} // namespace tamsin_test
