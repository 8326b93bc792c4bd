// Drives a real tamsin.exe from outside, as a user would, by window messages: starts it,
// finds its windows, reads their texts, answers its message boxes and ends it. Every wait has
// a time-out.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace tamsin_test {

// Full path of a program next to the running test program.
std::string programPath(const char* fileName);

// Polls `condition` every 20 ms until it holds or `timeoutMs` passed.
bool waitFor(const std::function<bool()>& condition, DWORD timeoutMs);

// The meter's window text of a window, read by WM_GETTEXT.
std::string windowText(HWND window);

// The message boxes a process shows now: dialogs with the static text of a message box.
std::vector<HWND> messageBoxes(DWORD processId);

// Reads a message box as "[caption] text" and presses its OK button. A box that was gone or
// hidden before it could be answered (a modal loop that ended by itself) reads as
// "[caption] text (closed by itself)".
std::string answerBox(HWND box);

class TamsinProcess {
public:
  TamsinProcess() = default;
  // A program still running is asked to close; boxes it shows then fail the test.
  ~TamsinProcess();
  TamsinProcess(const TamsinProcess&) = delete;
  TamsinProcess& operator=(const TamsinProcess&) = delete;

  // Starts tamsin.exe; true when the process runs.
  bool start();
  // Waits for its main frame and the view in it (both exist, hidden, while the view starts
  // up); true when they are there.
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

  // Waits for the program's next message box and answers it (see answerBox); "" when none
  // came in time.
  std::string nextBox(DWORD timeoutMs = 30000);
  // Answers every box, in the order they come, until the program ends; its exit code goes to
  // *exitCode (STILL_ACTIVE when it did not end in time).
  std::vector<std::string> boxesUntilExit(DWORD* exitCode, DWORD timeoutMs = 60000);
  // The boxes open now, each answered; "" when there are none.
  std::string errors();

private:
  PROCESS_INFORMATION processInfo_ = {};
  HWND frame_ = nullptr;
};

// Kills, with the signal a crash or `kill -9` gives, the Unix process of this Wine session
// (WINEPREFIX as this program's) that hosts the meter's driver: the winedevice.exe that has
// the driver's image mapped. Returns its Unix pid, or 0 when there was none or more than one.
int killDriverHost();

// The state of the driver service: 0 when it is not registered, else its current state
// (SERVICE_RUNNING, SERVICE_STOPPED, ...).
DWORD driverServiceState();

} // namespace tamsin_test
