// Remote control of a running Tamsin for bench/tamsin-cpu and tools/run: waits until it
// measures, prints what it shows, or closes it the way its Exit button does and waits until it
// has ended and removed its driver service.
//
//   tamsin_control.exe wait | values | close
//
// Exit code 0 when done, 1 (with the reason on standard error) when Tamsin did not get there.
#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <string>

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
  std::string texts;
};

BOOL CALLBACK collectBox(HWND window, LPARAM param)
{
  auto* search = reinterpret_cast<BoxSearch*>(param);
  char cls[32] = "";
  ::GetClassNameA(window, cls, sizeof(cls));
  DWORD pid = 0;
  ::GetWindowThreadProcessId(window, &pid);
  HWND textControl = ::GetDlgItem(window, messageBoxTextId);
  if (pid == search->pid && std::strcmp(cls, "#32770") == 0 && textControl != nullptr &&
      ::IsWindowVisible(window)) {
    search->texts += "\"" + windowText(window) + "\" box: " + windowText(textControl);
  }
  return TRUE;
}

// The texts of the message boxes that the process shows, empty when there are none.
std::string messageBoxes(DWORD pid)
{
  BoxSearch search = {pid, {}};
  ::EnumWindows(collectBox, reinterpret_cast<LPARAM>(&search));
  return forTerminal(search.texts);
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
  for (DWORD start = ::GetTickCount(); ::GetTickCount() - start < waitMs; ::Sleep(50)) {
    const DWORD now = tamsinProcess();
    if (now == 0 && pid != 0) {
      return failed("Tamsin ended before it measured");
    }
    pid = now != 0 ? now : pid;
    if (pid == 0) {
      continue;
    }
    const std::string boxes = messageBoxes(pid);
    if (!boxes.empty()) {
      return failed("Tamsin shows the " + boxes);
    }
    // The period reads "0 µs" until the first values of the driver arrive.
    const std::string period = text(periodId);
    if (view() != nullptr && !period.empty() && period != "0 \xB5s" && period != "\xB5s") {
      return 0;
    }
  }
  return failed(pid == 0 ? "Tamsin did not start" : "Tamsin does not measure");
}

int closeAndWaitForTheEnd()
{
  HWND f = frame();
  const DWORD pid = tamsinProcess();
  if (f == nullptr) {
    return failed("no Tamsin window to close");
  }
  ::PostMessageA(f, WM_CLOSE, 0, 0);
  HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
  const DWORD start = ::GetTickCount();
  bool ended = false;
  while (!ended && ::GetTickCount() - start < waitMs) {
    const std::string boxes = messageBoxes(pid);
    if (!boxes.empty()) {
      return failed("closing, Tamsin shows the " + boxes);
    }
    ended = process != nullptr ? ::WaitForSingleObject(process, 50) == WAIT_OBJECT_0
                               : (::Sleep(50), tamsinProcess() == 0);
  }
  if (process != nullptr) {
    ::CloseHandle(process);
  }
  if (!ended) {
    return failed("Tamsin did not end after it was closed");
  }
  if (serviceState() != 0) {
    return failed("Tamsin ended but left its driver service \"tamsin_driver\" behind");
  }
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
  std::fprintf(stderr, "usage: tamsin_control.exe wait | values | close\n");
  return 2;
}
