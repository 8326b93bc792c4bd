#include "tamsin_window.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace tamsin_test {

namespace {

const char frameClass[] = "{10E261FD-CE20-406e-8C31-BDCBC04EA51D}";
const UINT statusBarId = 59393;
// The static control that shows a message box's text.
const int messageBoxTextId = 0xFFFF;

DWORD processOf(HWND window)
{
  DWORD pid = 0;
  ::GetWindowThreadProcessId(window, &pid);
  return pid;
}

struct BoxSearch {
  DWORD pid;
  std::vector<HWND> boxes;
};

BOOL CALLBACK collectBoxes(HWND window, LPARAM param)
{
  auto* search = reinterpret_cast<BoxSearch*>(param);
  char cls[32] = "";
  ::GetClassNameA(window, cls, sizeof(cls));
  if (processOf(window) == search->pid && std::strcmp(cls, "#32770") == 0 &&
      ::GetDlgItem(window, messageBoxTextId) != nullptr) {
    search->boxes.push_back(window);
  }
  return TRUE;
}

} // namespace

std::string programPath(const char* fileName)
{
  char path[MAX_PATH] = "";
  ::GetModuleFileNameA(nullptr, path, sizeof(path));
  char* slash = std::strrchr(path, '\\');
  if (slash != nullptr) {
    slash[1] = 0;
  }
  return std::string(path) + fileName;
}

bool waitFor(const std::function<bool()>& condition, DWORD timeoutMs)
{
  const DWORD start = ::GetTickCount();
  for (;;) {
    if (condition()) {
      return true;
    }
    if (::GetTickCount() - start > timeoutMs) {
      return false;
    }
    ::Sleep(20);
  }
}

std::string windowText(HWND window)
{
  char text[1024] = "";
  DWORD_PTR length = 0;
  if (window == nullptr ||
      !::SendMessageTimeoutA(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text),
                             SMTO_ABORTIFHUNG, 5000, &length)) {
    return "";
  }
  return std::string(text, length);
}

std::string takeErrorBoxes(DWORD processId)
{
  BoxSearch search = {processId, {}};
  ::EnumWindows(collectBoxes, reinterpret_cast<LPARAM>(&search));
  std::string texts;
  for (HWND box : search.boxes) {
    texts += "[" + windowText(box) + "] " + windowText(::GetDlgItem(box, messageBoxTextId));
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
  }
  return texts;
}

TamsinProcess::~TamsinProcess()
{
  if (processInfo_.hProcess != nullptr) {
    if (running()) {
      if (frame_ != nullptr) {
        ::PostMessageA(frame_, WM_CLOSE, 0, 0);
      }
      if (waitForExit(15000) == STILL_ACTIVE) {
        kill();
      }
    }
    ::CloseHandle(processInfo_.hThread);
    ::CloseHandle(processInfo_.hProcess);
  }
  if (!errorLog_.empty()) {
    ::DeleteFileA(errorLog_.c_str());
  }
}

bool TamsinProcess::start()
{
  char directory[MAX_PATH] = "", log[MAX_PATH] = "";
  ::GetTempPathA(sizeof(directory), directory);
  ::GetTempFileNameA(directory, "tam", 0, log);
  errorLog_ = log;
  // Inherited by the program.
  ::SetEnvironmentVariableA("TAMSIN_ERROR_LOG", errorLog_.c_str());
  std::string path = programPath("tamsin.exe");
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  std::vector<char> commandLine(path.begin(), path.end());
  commandLine.push_back(0);
  return ::CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &processInfo_) != FALSE;
}

bool TamsinProcess::waitForFrame(DWORD timeoutMs)
{
  return waitFor(
      [this] {
        HWND found = ::FindWindowA(frameClass, nullptr);
        if (found == nullptr || processOf(found) != processId()) {
          return false;
        }
        frame_ = found;
        return view() != nullptr;
      },
      timeoutMs);
}

bool TamsinProcess::waitForPolling(DWORD timeoutMs)
{
  return waitFor([this] { return micros(1009 /* IDC_PERIOD */) > 0; }, timeoutMs);
}

HWND TamsinProcess::view() const
{
  return frame_ != nullptr ? ::FindWindowExA(frame_, nullptr, "#32770", nullptr) : nullptr;
}

HWND TamsinProcess::statusBar() const
{
  return ::GetDlgItem(frame_, statusBarId);
}

HWND TamsinProcess::linkPane() const
{
  return ::FindWindowExA(statusBar(), nullptr, "#32770", nullptr);
}

long long TamsinProcess::micros(int id) const
{
  const std::string t = text(id);
  unsigned value = 0;
  char unit[8] = "";
  if (std::sscanf(t.c_str(), "%u %7s", &value, unit) != 2 || std::strcmp(unit, "\xB5s") != 0) {
    return -1;
  }
  return value;
}

std::string TamsinProcess::statusText(int part) const
{
  HWND bar = statusBar();
  void* remote = ::VirtualAllocEx(process(), nullptr, 1024, MEM_COMMIT, PAGE_READWRITE);
  if (bar == nullptr || remote == nullptr) {
    return "";
  }
  DWORD_PTR result = 0;
  char text[1024] = "";
  if (::SendMessageTimeoutA(bar, SB_GETTEXTA, part, reinterpret_cast<LPARAM>(remote),
                            SMTO_ABORTIFHUNG, 5000, &result)) {
    SIZE_T read = 0;
    ::ReadProcessMemory(process(), remote, text, sizeof(text) - 1, &read);
    text[LOWORD(result) < sizeof(text) ? LOWORD(result) : sizeof(text) - 1] = 0;
  }
  ::VirtualFreeEx(process(), remote, 0, MEM_RELEASE);
  return text;
}

bool TamsinProcess::statusIsSimple() const
{
  return ::SendMessageA(statusBar(), SB_ISSIMPLE, 0, 0) != 0;
}

void TamsinProcess::click(int id) const
{
  ::SendMessageA(view(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(control(id)));
}

std::string TamsinProcess::errors()
{
  std::string texts;
  if (!errorLog_.empty()) {
    HANDLE file = ::CreateFileA(errorLog_.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      char buffer[4096];
      DWORD read = 0;
      while (::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        texts.append(buffer, read);
      }
      ::CloseHandle(file);
    }
  }
  return texts + takeErrorBoxes(processId());
}

bool TamsinProcess::running() const
{
  return processInfo_.hProcess != nullptr &&
         ::WaitForSingleObject(processInfo_.hProcess, 0) == WAIT_TIMEOUT;
}

DWORD TamsinProcess::waitForExit(DWORD timeoutMs)
{
  if (::WaitForSingleObject(processInfo_.hProcess, timeoutMs) != WAIT_OBJECT_0) {
    return STILL_ACTIVE;
  }
  DWORD code = STILL_ACTIVE;
  ::GetExitCodeProcess(processInfo_.hProcess, &code);
  return code;
}

void TamsinProcess::kill()
{
  ::TerminateProcess(processInfo_.hProcess, 99);
  ::WaitForSingleObject(processInfo_.hProcess, 10000);
}

DWORD driverServiceState()
{
  SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) {
    return 0;
  }
  DWORD state = 0;
  SC_HANDLE service = ::OpenServiceA(manager, "tamsin_driver", SERVICE_QUERY_STATUS);
  if (service != nullptr) {
    SERVICE_STATUS status = {};
    state = ::QueryServiceStatus(service, &status) ? status.dwCurrentState : SERVICE_STOPPED;
    ::CloseServiceHandle(service);
  }
  ::CloseServiceHandle(manager);
  return state;
}

} // namespace tamsin_test
