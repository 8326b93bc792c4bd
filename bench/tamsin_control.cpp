// Remote control of a running Tamsin for bench/tamsin-cpu and tools/run: waits until it
// measures, prints what it shows, or closes it the way its Exit button does and waits until it
// has ended and removed its driver service; before a start, removes a driver service that an
// earlier end left behind.
//
//   tamsin_control.exe wait | values | close | remove-left-service
//
// Exit code 0 when done, 1 (with the reason on standard error) when Tamsin did not get there.
#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char frameClass[] = "{10E261FD-CE20-406e-8C31-BDCBC04EA51D}";
const char serviceName[] = "tamsin_driver";
const int periodId = 1009, currentId = 1004, maximumId = 1005;
// The static control that shows a message box's text.
const int messageBoxTextId = 0xFFFF;
// Generous: installing the driver on a busy machine under Wine takes seconds, not minutes.
const DWORD waitMs = 60000;

HWND frame()
{
  return ::FindWindowA(frameClass, nullptr);
}

HWND view()
{
  HWND f = frame();
  return f != nullptr ? ::FindWindowExA(f, nullptr, "#32770", nullptr) : nullptr;
}

std::string windowText(HWND window)
{
  char buffer[1024] = "";
  DWORD_PTR copied = 0;
  if (window == nullptr ||
      !::SendMessageTimeoutA(window, WM_GETTEXT, sizeof(buffer), reinterpret_cast<LPARAM>(buffer),
                             SMTO_ABORTIFHUNG, 5000, &copied)) {
    return "";
  }
  return std::string(buffer, copied < sizeof(buffer) ? copied : 0);
}

std::string text(int id)
{
  return windowText(::GetDlgItem(view(), id));
}

// The micro sign as UTF-8, for the terminal.
std::string forTerminal(std::string t)
{
  for (size_t at = t.find('\xB5'); at != std::string::npos; at = t.find('\xB5', at + 2)) {
    t.replace(at, 1, "\xC2\xB5");
  }
  for (char& c : t) {
    if (c == '\r' || c == '\n') {
      c = ' ';
    }
  }
  return t;
}

// The process id of a running tamsin.exe, 0 when there is none.
DWORD tamsinProcess()
{
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    return 0;
  }
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  DWORD found = 0;
  for (BOOL more = ::Process32First(snapshot, &entry); more && found == 0;
       more = ::Process32Next(snapshot, &entry)) {
    if (_stricmp(entry.szExeFile, "tamsin.exe") == 0) {
      found = entry.th32ProcessID;
    }
  }
  ::CloseHandle(snapshot);
  return found;
}

struct BoxSearch {
  DWORD pid;
  std::vector<HWND> boxes;
};

BOOL CALLBACK collectBox(HWND window, LPARAM param)
{
  auto* search = reinterpret_cast<BoxSearch*>(param);
  char cls[32] = "";
  ::GetClassNameA(window, cls, sizeof(cls));
  DWORD pid = 0;
  ::GetWindowThreadProcessId(window, &pid);
  if (pid == search->pid && std::strcmp(cls, "#32770") == 0 &&
      ::GetDlgItem(window, messageBoxTextId) != nullptr && ::IsWindowVisible(window)) {
    search->boxes.push_back(window);
  }
  return TRUE;
}

// The message boxes that the process shows.
std::vector<HWND> messageBoxes(DWORD pid)
{
  BoxSearch search = {pid, {}};
  ::EnumWindows(collectBox, reinterpret_cast<LPARAM>(&search));
  return search.boxes;
}

std::string boxText(HWND box)
{
  return windowText(::GetDlgItem(box, messageBoxTextId));
}

std::string describe(HWND box)
{
  return forTerminal("\"" + windowText(box) + "\" box: " + boxText(box));
}

// Presses the box's OK button and waits until it has gone (Wine takes up to a second to hide
// a window without a window manager).
void answer(HWND box)
{
  HWND ok = ::GetDlgItem(box, IDOK);
  ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
  for (DWORD start = ::GetTickCount();
       ::IsWindow(box) && ::IsWindowVisible(box) && ::GetTickCount() - start < 15000;) {
    ::Sleep(50);
  }
}

// A service of the driver's name that an earlier end left registered but stopped: the meter
// says so, removes it and installs its own.
bool isInformational(HWND box)
{
  return boxText(box) == "UninstallDrv: The service has not been started.\n";
}

// 0 when the service is not registered, else its current state.
DWORD serviceState()
{
  SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) {
    return 0;
  }
  DWORD state = 0;
  SC_HANDLE service = ::OpenServiceA(manager, serviceName, SERVICE_QUERY_STATUS);
  if (service != nullptr) {
    SERVICE_STATUS status = {};
    state = ::QueryServiceStatus(service, &status) ? status.dwCurrentState : SERVICE_STOPPED;
    ::CloseServiceHandle(service);
  }
  ::CloseServiceHandle(manager);
  return state;
}

int failed(const std::string& why)
{
  std::fprintf(stderr, "%s\n", why.c_str());
  return 1;
}

int waitUntilMeasuring()
{
  DWORD pid = 0;
  std::string answered;
  for (DWORD start = ::GetTickCount(); ::GetTickCount() - start < waitMs; ::Sleep(50)) {
    const DWORD now = tamsinProcess();
    if (now == 0 && pid != 0) {
      return failed("Tamsin ended before it measured" +
                    (answered.empty() ? std::string() : ", after its " + answered));
    }
    pid = now != 0 ? now : pid;
    if (pid == 0) {
      continue;
    }
    for (HWND box : messageBoxes(pid)) {
      if (!isInformational(box)) {
        return failed("Tamsin shows the " + describe(box));
      }
      answered = describe(box);
      answer(box);
    }
    // The period reads "0 µs" until the first values of the driver arrive.
    const std::string period = text(periodId);
    if (view() != nullptr && !period.empty() && period != "0 \xB5s" && period != "\xB5s") {
      return 0;
    }
  }
  return failed(pid == 0 ? "Tamsin did not start" : "Tamsin does not measure");
}

// Closes Tamsin as its Exit button does, also while it is still starting (a Ctrl-C can come
// then): the frame's close waits for the start-up, and the meter removes its driver only
// when it ends by itself. Boxes shown meanwhile are answered, so that it can end, and
// reported.
int closeAndWaitForTheEnd()
{
  const DWORD pid = tamsinProcess();
  if (pid == 0) {
    return failed("no Tamsin to close");
  }
  HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
  auto ended = [&] {
    return process != nullptr ? ::WaitForSingleObject(process, 50) == WAIT_OBJECT_0
                              : (::Sleep(50), tamsinProcess() == 0);
  };
  std::string shown;
  auto answerBoxes = [&] {
    for (HWND box : messageBoxes(pid)) {
      if (!isInformational(box)) {
        shown += (shown.empty() ? "" : "; ") + describe(box);
      }
      answer(box);
    }
  };
  const DWORD start = ::GetTickCount();
  bool gone = false, asked = false;
  while (!gone && ::GetTickCount() - start < waitMs) {
    answerBoxes();
    HWND f = frame();
    if (!asked && f != nullptr) {
      ::PostMessageA(f, WM_CLOSE, 0, 0);
      asked = true;
    }
    gone = ended();
  }
  if (process != nullptr) {
    ::CloseHandle(process);
  }
  if (!gone) {
    return failed(asked ? "Tamsin did not end after it was closed"
                        : "Tamsin made no window to close");
  }
  if (!shown.empty()) {
    return failed("closing, Tamsin showed the " + shown);
  }
  if (serviceState() != 0) {
    return failed("Tamsin ended but left its driver service \"tamsin_driver\" behind");
  }
  return 0;
}

// Removes a driver service that no running Tamsin owns: an earlier end (the session shut down
// under the meter, a crash) left it registered.
int removeLeftService()
{
  if (tamsinProcess() != 0 || serviceState() == 0) {
    return 0;
  }
  SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) {
    return failed("OpenSCManager failed with error " + std::to_string(::GetLastError()));
  }
  SC_HANDLE service = ::OpenServiceA(manager, serviceName, SERVICE_ALL_ACCESS);
  bool deleted = false;
  if (service != nullptr) {
    SERVICE_STATUS status = {};
    ::ControlService(service, SERVICE_CONTROL_STOP, &status);
    deleted = ::DeleteService(service) || ::GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
    ::CloseServiceHandle(service);
  }
  ::CloseServiceHandle(manager);
  for (DWORD start = ::GetTickCount(); deleted && serviceState() != 0;) {
    if (::GetTickCount() - start >= waitMs) {
      deleted = false;
    }
    ::Sleep(50);
  }
  if (!deleted) {
    return failed("the driver service \"tamsin_driver\" that an earlier run left behind could "
                  "not be removed");
  }
  std::printf("removed the driver service \"tamsin_driver\" that an earlier run left behind\n");
  return 0;
}

} // namespace

int main(int argc, char** argv)
{
  const char* command = argc > 1 ? argv[1] : "";
  if (std::strcmp(command, "wait") == 0) {
    return waitUntilMeasuring();
  }
  if (std::strcmp(command, "values") == 0) {
    std::printf("current %s, absolute maximum %s, period %s\n",
                forTerminal(text(currentId)).c_str(), forTerminal(text(maximumId)).c_str(),
                forTerminal(text(periodId)).c_str());
    return 0;
  }
  if (std::strcmp(command, "close") == 0) {
    return closeAndWaitForTheEnd();
  }
  if (std::strcmp(command, "remove-left-service") == 0) {
    return removeLeftService();
  }
  std::fprintf(stderr, "usage: tamsin_control.exe wait | values | close | remove-left-service\n");
  return 2;
}
