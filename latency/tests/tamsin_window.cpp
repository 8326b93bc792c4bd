#include "tamsin_window.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
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
      ::GetDlgItem(window, messageBoxTextId) != nullptr && ::IsWindowVisible(window)) {
    search->boxes.push_back(window);
  }
  return TRUE;
}

std::string joined(const std::vector<std::string>& texts)
{
  std::string all;
  for (const std::string& t : texts) {
    all += t;
  }
  return all;
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

std::vector<HWND> messageBoxes(DWORD processId)
{
  BoxSearch search = {processId, {}};
  ::EnumWindows(collectBoxes, reinterpret_cast<LPARAM>(&search));
  return search.boxes;
}

std::string answerBox(HWND box)
{
  const std::string read =
      "[" + windowText(box) + "] " + windowText(::GetDlgItem(box, messageBoxTextId));
  HWND ok = ::GetDlgItem(box, IDOK);
  // A box whose modal loop was ended under it is gone before anybody answered it.
  if (ok == nullptr || !::IsWindowVisible(box)) {
    return read + " (closed by itself)";
  }
  ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
  // Hiding a window takes Wine up to a second without a window manager.
  waitFor([box] { return !::IsWindow(box) || !::IsWindowVisible(box); }, 15000);
  return read;
}

TamsinProcess::~TamsinProcess()
{
  if (processInfo_.hProcess == nullptr) {
    return;
  }
  if (running()) {
    HWND frame = frame_ != nullptr ? frame_ : ::FindWindowA(frameClass, nullptr);
    if (frame != nullptr && processOf(frame) == processId()) {
      ::PostMessageA(frame, WM_CLOSE, 0, 0);
    }
    DWORD exitCode = STILL_ACTIVE;
    const std::vector<std::string> boxes = boxesUntilExit(&exitCode, 20000);
    if (!boxes.empty()) {
      ADD_FAILURE() << "boxes at the end: " << joined(boxes);
    }
    if (exitCode == STILL_ACTIVE) {
      ADD_FAILURE() << "tamsin.exe did not end when asked to close";
      kill();
    }
  }
  ::CloseHandle(processInfo_.hThread);
  ::CloseHandle(processInfo_.hProcess);
}

bool TamsinProcess::start()
{
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

std::string TamsinProcess::nextBox(DWORD timeoutMs)
{
  HWND box = nullptr;
  if (!waitFor(
          [&] {
            const std::vector<HWND> boxes = messageBoxes(processId());
            box = boxes.empty() ? nullptr : boxes.front();
            return box != nullptr;
          },
          timeoutMs)) {
    return "";
  }
  return answerBox(box);
}

std::vector<std::string> TamsinProcess::boxesUntilExit(DWORD* exitCode, DWORD timeoutMs)
{
  std::vector<std::string> texts;
  const DWORD start = ::GetTickCount();
  *exitCode = STILL_ACTIVE;
  while (::GetTickCount() - start <= timeoutMs) {
    if (::WaitForSingleObject(processInfo_.hProcess, 20) == WAIT_OBJECT_0) {
      ::GetExitCodeProcess(processInfo_.hProcess, exitCode);
      break;
    }
    for (HWND box : messageBoxes(processId())) {
      texts.push_back(answerBox(box));
    }
  }
  return texts;
}

std::string TamsinProcess::errors()
{
  std::string texts;
  for (HWND box : messageBoxes(processId())) {
    texts += answerBox(box);
  }
  return texts;
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

namespace {

// Reads a whole file of the Unix side (drive Z:), such as one of /proc.
std::string readUnixFile(const std::string& path)
{
  std::string content;
  HANDLE file =
      ::CreateFileA(("Z:" + path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return content;
  }
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    content.append(buffer, read);
  }
  ::CloseHandle(file);
  return content;
}

bool contains(const std::string& text, const std::string& part)
{
  return text.find(part) != std::string::npos;
}

} // namespace

int killDriverHost()
{
  char prefix[MAX_PATH] = "";
  if (::GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof(prefix)) == 0) {
    return 0;
  }
  std::vector<int> hosts;
  WIN32_FIND_DATAA entry;
  HANDLE search = ::FindFirstFileA("Z:\\proc\\*", &entry);
  if (search == INVALID_HANDLE_VALUE) {
    return 0;
  }
  do {
    const int pid = std::atoi(entry.cFileName);
    if (pid <= 0) {
      continue;
    }
    const std::string dir = "/proc/" + std::to_string(pid);
    if (!contains(readUnixFile(dir + "/cmdline"), "winedevice.exe")) {
      continue;
    }
    const std::string environment = std::string(1, '\0') + readUnixFile(dir + "/environ") + '\0';
    if (!contains(environment, std::string(1, '\0') + "WINEPREFIX=" + prefix + '\0')) {
      continue; // another Wine session's
    }
    if (contains(readUnixFile(dir + "/maps"), "tamsin_driver.sys")) {
      hosts.push_back(pid);
    }
  } while (::FindNextFileA(search, &entry));
  ::FindClose(search);
  if (hosts.size() != 1) {
    return 0;
  }
  // Wine starts a Unix program as it is: kill(1) itself, not a Windows stand-in.
  std::string commandLine = "/bin/kill -KILL " + std::to_string(hosts[0]);
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back(0);
  if (!::CreateProcessA("Z:\\bin\\kill", line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
    return 0;
  }
  if (info.hProcess != nullptr) {
    ::WaitForSingleObject(info.hProcess, 10000);
    ::CloseHandle(info.hProcess);
    ::CloseHandle(info.hThread);
  }
  // Gone, or a zombie that nothing will run again.
  const std::string stat = "/proc/" + std::to_string(hosts[0]) + "/stat";
  if (!waitFor(
          [&] {
            const std::string s = readUnixFile(stat);
            const size_t close = s.rfind(')');
            return s.empty() || (close != std::string::npos && s.compare(close, 4, ") Z ") == 0);
          },
          10000)) {
    return 0;
  }
  return hosts[0];
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
