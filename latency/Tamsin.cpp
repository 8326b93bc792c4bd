// Tamsin's entry: the version check, the single instance, the administrator check, the frame
// and the message loop.
#include "Tamsin.h"

#include "ErrorReport.h"
#include "MainFrm.h"
#include "wtl/app_module.h"

#include <commctrl.h>
#include <objbase.h>

#include <cstdio>

namespace {

// Owned for the life of the process; the system drops it at exit.
HANDLE g_instanceMutex = nullptr;

void ShowStartupMessage(const char* text)
{
  ::MessageBoxA(nullptr, text, PRODUCT_NAME, MB_OK | MB_ICONERROR);
}

// A second start brings the running meter (or its open dialog) to the front.
void ActivateRunningInstance()
{
  HWND frame = ::FindWindowA(APP_INSTANCE_NAME, nullptr);
  if (frame == nullptr) {
    return;
  }
  HWND popup = ::GetLastActivePopup(frame);
  if (::IsIconic(frame)) {
    ::ShowWindow(frame, SW_RESTORE);
  }
  ::ShowWindow(popup, SW_SHOW);
  ::SetForegroundWindow(popup);
}

} // namespace

DWORD IsAdmin(bool& isMember)
{
  SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
  PSID administrators = nullptr;
  if (!::AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators)) {
    const DWORD error = ::GetLastError();
    reportErrorAndClose("IsAdmin: AllocateAndInitializeSid failed with error = 0x%08X\n",
                        static_cast<unsigned>(error));
    return error;
  }
  if (administrators == nullptr) {
    reportErrorAndClose("IsAdmin: unexpected NULL pointer 'AdministratorsGroup' returned by "
                        "AllocateAndInitializeSid\n");
    return ERROR_INVALID_SID;
  }
  BOOL member = FALSE;
  if (!::CheckTokenMembership(nullptr, administrators, &member)) {
    const DWORD error = ::GetLastError();
    reportErrorAndClose("IsAdmin: CheckTokenMembership failed with error = 0x%08X\n",
                        static_cast<unsigned>(error));
    ::FreeSid(administrators);
    return error;
  }
  isMember = member != FALSE;
  ::FreeSid(administrators);
  return 0;
}

int Run(int showCommand)
{
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  if (!::GetVersionExA(&version)) {
    return RUN_NOT_STARTED;
  }
  if (version.dwMajorVersion < 5 || version.dwPlatformId != VER_PLATFORM_WIN32_NT) {
    ShowStartupMessage("This program requires Windows 2000 or better.");
    return RUN_NOT_STARTED;
  }

  g_instanceMutex = ::CreateMutexA(nullptr, TRUE, APP_INSTANCE_NAME);
  if (g_instanceMutex == nullptr || ::GetLastError() == ERROR_ALREADY_EXISTS) {
    ActivateRunningInstance();
    return RUN_REFUSED;
  }

  bool isMember = false;
  const DWORD adminCheck = IsAdmin(isMember);
  if (adminCheck != 0) {
    reportErrorAndClose("Run: IsAdmin failed with error 0x%08X.\n",
                        static_cast<unsigned>(adminCheck));
    return RUN_REFUSED;
  }
  if (!isMember) {
    ShowStartupMessage("You must have administrator privileges. Please log on as an "
                       "administrator!");
    return RUN_REFUSED;
  }

  WTL::CMessageLoop loop;
  WTL::AppModule().AddMessageLoop(&loop);

  int result = RUN_NOT_STARTED;
  {
    CMainFrame frame;
    g_mainFrameWnd = &frame.m_hWnd;
    const RECT rect = {0, 0, 600, 500};
    if (frame.CreateEx(nullptr, rect) != nullptr) {
      char title[64];
      std::snprintf(title, sizeof(title), "%s V%u.%u.%u", PRODUCT_NAME, PRODUCT_VERSION_MAJOR,
                    PRODUCT_VERSION_MINOR, PRODUCT_VERSION_BUILD);
      frame.SetWindowText(title);
      frame.CenterWindow();
      frame.ShowWindow(showCommand);
      result = loop.Run();
    }
    WTL::AppModule().RemoveMessageLoop();
    // Nothing may post to a frame that is gone.
    g_mainFrameWnd = nullptr;
  }
  return result;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
  ::CoInitialize(nullptr);
  // Makes sure the window subsystem is up before any class is registered.
  ::DefWindowProcA(nullptr, 0, 0, 0);
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES | ICC_COOL_CLASSES};
  ::InitCommonControlsEx(&controls);
  WTL::AppModule().Init(instance);

  const int result = Run(showCommand);

  WTL::AppModule().Term();
  ::CoUninitialize();
  return result;
}
