// The latency meter's button in the real program, installed in a folder whose name has blanks
// and a letter beyond ASCII: the meter beside it starts, as the path the program names.
#include "process_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <windows.h>

namespace {

/** Reads a file that the stub wrote: UTF-16, no terminator. Empty when it is not there. */
std::wstring readMarker(const std::wstring& path)
{
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return {};
  wchar_t buffer[MAX_PATH] = {};
  DWORD got = 0;
  ReadFile(file, buffer, sizeof buffer - sizeof(wchar_t), &got, nullptr);
  CloseHandle(file);
  return std::wstring(buffer, got / sizeof(wchar_t));
}

/** Deletes a file whose program may still be ending (10 s at most). */
void deleteWhenFree(const std::wstring& path)
{
  for (int i = 0; i < 100; ++i) {
    if (DeleteFileW(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND)
      return;
    Sleep(100);
  }
}

class MeterLaunchFromAnyFolder : public testing::Test {
protected:
  void SetUp() override
  {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder = std::wstring(temp) + L"app with space \u00E9";
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(
        CopyFileW(test::besideThisProgram(L"Fenwick.exe").c_str(), fenwick().c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(TAMSIN_STUB, meter().c_str(), FALSE));
    DeleteFileW(marker().c_str());
    SetEnvironmentVariableW(L"TAMSIN_STUB_MARKER", marker().c_str());
  }
  void TearDown() override
  {
    SetEnvironmentVariableW(L"TAMSIN_STUB_MARKER", nullptr);
    for (const std::wstring& file : {marker(), meter(), fenwick()})
      deleteWhenFree(file);
    RemoveDirectoryW(folder.c_str());
  }

  std::wstring fenwick() const { return folder + L"\\Fenwick.exe"; }
  std::wstring meter() const { return folder + L"\\tamsin.exe"; }
  std::wstring marker() const { return folder + L"\\meter-started.txt"; }

  std::wstring folder;
};

TEST_F(MeterLaunchFromAnyFolder, ButtonStartsTheMeterBesideTheProgram)
{
  const test::PointerOutOfTheWay parked;
  test::Process app(fenwick(), L"");
  ASSERT_TRUE(app.started());
  HWND window = test::waitForMainWindow(app);
  ASSERT_NE(nullptr, window);
  test::waitUntilCentred(window);

  // As a user does: over the button until its tooltip shows, then the click. Under Wine a click
  // that came right after the new window had appeared could get lost (the window had the move
  // but never the button); once the tooltip is there the program follows the pointer.
  SetForegroundWindow(window);
  const POINT button = test::contentToScreen(window, test::kMeterButton.x, test::kMeterButton.y);
  test::moveMouse(button);
  ASSERT_EQ(1u, test::tooltipsOnceSettled(app.id(), true, button).size());
  test::clickMouse(button);

  // Either the meter writes its marker, or the program says it could not start it.
  std::wstring started;
  bool errorBox = false;
  for (int i = 0; i < 300 && started.empty() && !errorBox; ++i) {
    Sleep(100);
    started = readMarker(marker());
    errorBox = !test::visibleWindowsTitled("Error", app.id()).empty();
  }
  EXPECT_FALSE(errorBox);
  EXPECT_EQ(meter(), started);

  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(0u, app.exitCode(30000));
}

} // namespace
