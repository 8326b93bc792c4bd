// Stands in for the latency meter when a test presses the panel's button: writes the file that
// TAMSIN_STUB_MARKER names and ends at once.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
  wchar_t path[MAX_PATH];
  if (GetEnvironmentVariableW(L"TAMSIN_STUB_MARKER", path, MAX_PATH) == 0)
    return 1;
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return 2;
  CloseHandle(file);
  return 0;
}
