// Stands in for the latency meter when a test presses the panel's button: writes the path it was
// started as (UTF-16) into the file that TAMSIN_STUB_MARKER names and ends at once.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
  wchar_t path[MAX_PATH];
  if (GetEnvironmentVariableW(L"TAMSIN_STUB_MARKER", path, MAX_PATH) == 0)
    return 1;
  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (length == 0 || length == MAX_PATH)
    return 3;
  // Written under another name first, so that a reader never sees a half-written marker.
  wchar_t partial[MAX_PATH + 8];
  lstrcpyW(partial, path);
  lstrcatW(partial, L".part");
  HANDLE file = CreateFileW(partial, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return 2;
  DWORD written = 0;
  const BOOL wrote = WriteFile(file, self, length * sizeof(wchar_t), &written, nullptr);
  CloseHandle(file);
  if (!wrote || !MoveFileExW(partial, path, MOVEFILE_REPLACE_EXISTING))
    return 4;
  return 0;
}
