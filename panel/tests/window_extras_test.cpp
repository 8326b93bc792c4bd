// What the real program shows besides its controls: the program's icon (in the program file and
// on the title bar) and the controls' tooltips. The window's icon handles can be read only in
// the program's own process under Wine: window_icon_test.cpp.
#include "icon_pixels.h"
#include "process_test_support.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>
#include <windows.h>

namespace {

// The icon directory of a group icon resource, as the resource compiler writes it.
#pragma pack(push, 2)
struct GroupIconEntry {
  BYTE width, height, colourCount, reserved;
  WORD planes, bitCount;
  DWORD bytes;
  WORD id;
};
struct GroupIconHeader {
  WORD reserved, type, count;
};
#pragma pack(pop)

/** Fenwick.exe's resources, without running it. */
class ProgramFile {
public:
  ProgramFile()
      : module(LoadLibraryExW(test::besideThisProgram(L"Fenwick.exe").c_str(), nullptr,
                              LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE))
  {
  }
  ~ProgramFile()
  {
    if (module != nullptr)
      FreeLibrary(module);
  }
  ProgramFile(const ProgramFile&) = delete;
  ProgramFile& operator=(const ProgramFile&) = delete;

  /** (edge in pixels, bits per pixel) of each entry of the group icon. */
  std::vector<std::pair<int, int>> iconSizes(int id) const
  {
    std::vector<std::pair<int, int>> sizes;
    HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(14));
    if (group == nullptr)
      return sizes;
    const auto* data = static_cast<const BYTE*>(LockResource(LoadResource(module, group)));
    GroupIconHeader header;
    std::memcpy(&header, data, sizeof header);
    for (WORD i = 0; i < header.count; ++i) {
      GroupIconEntry entry;
      std::memcpy(&entry, data + sizeof header + i * sizeof entry, sizeof entry);
      sizes.emplace_back(entry.width == 0 ? 256 : entry.width, entry.bitCount);
    }
    return sizes;
  }

  /** The icon that Windows takes from the file for a square of that size; the caller owns it. */
  HICON loadIcon(int size) const
  {
    return static_cast<HICON>(
        LoadImageW(module, MAKEINTRESOURCEW(IDI_PROGRAM), IMAGE_ICON, size, size, 0));
  }

  HMODULE module;
};

BOOL CALLBACK keepFirstName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found)
{
  *reinterpret_cast<LPWSTR*>(found) = name;
  return FALSE;
}

using test::iconEdge;
using test::pixelsOf;

TEST(FenwickIcon, ProgramFileCarriesItsIconInTheSizesWindowsUses)
{
  ProgramFile file;
  ASSERT_NE(nullptr, file.module);
  const std::vector<std::pair<int, int>> expected = {{16, 32}, {32, 32}, {48, 32}, {256, 32}};
  EXPECT_EQ(expected, file.iconSizes(IDI_PROGRAM));
  EXPECT_EQ(expected, file.iconSizes(IDI_PROGRAM_SMALL));

  // The shell shows a program file's first group icon.
  LPWSTR first = nullptr;
  EnumResourceNamesW(file.module, MAKEINTRESOURCEW(14), &keepFirstName,
                     reinterpret_cast<LONG_PTR>(&first));
  EXPECT_TRUE(IS_INTRESOURCE(first));
  EXPECT_EQ(IDI_PROGRAM, reinterpret_cast<uintptr_t>(first));

  // The largest entry is PNG, which the system reads as well.
  HICON largest = file.loadIcon(256);
  ASSERT_NE(nullptr, largest);
  EXPECT_EQ(256, iconEdge(largest));
  DestroyIcon(largest);
}

class FenwickWindow : public testing::Test {
protected:
  void SetUp() override
  {
    ASSERT_TRUE(app.started());
    window = test::waitForMainWindow(app);
    ASSERT_NE(nullptr, window);
    test::waitUntilCentred(window);
  }
  void TearDown() override
  {
    if (window != nullptr) {
      PostMessageW(window, WM_CLOSE, 0, 0);
      EXPECT_EQ(0u, app.exitCode(30000));
    }
  }

  const test::PointerOutOfTheWay parked;
  test::Process app{test::besideThisProgram(L"Fenwick.exe"), L""};
  HWND window = nullptr;
};

/** The screen's pixels in the rectangle, as 32-bit values, rows from the top. */
std::vector<uint32_t> screenPixels(const RECT& r)
{
  const int w = r.right - r.left, h = r.bottom - r.top;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  std::vector<uint32_t> pixels;
  if (bitmap != nullptr) {
    HGDIOBJ old = SelectObject(dc, bitmap);
    if (BitBlt(dc, 0, 0, w, h, screen, r.left, r.top, SRCCOPY)) {
      GdiFlush();
      pixels.assign(static_cast<uint32_t*>(bits), static_cast<uint32_t*>(bits) + w * h);
    }
    SelectObject(dc, old);
    DeleteObject(bitmap);
  }
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  return pixels;
}

bool nearlyEqual(uint32_t a, uint32_t b)
{
  for (int shift : {0, 8, 16})
    if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > 6)
      return false;
  return true;
}

TEST_F(FenwickWindow, TitleBarShowsTheSmallIcon)
{
  SetForegroundWindow(window);
  RECT r;
  GetWindowRect(window, &r);
  const RECT titleBar = {r.left, r.top, r.right, r.top + test::kBorder + test::kTitleBar};
  const int w = titleBar.right - titleBar.left, h = titleBar.bottom - titleBar.top;

  // The icon as it looks on the title bar's own colour, taken where nothing else is drawn.
  ProgramFile file;
  HICON icon = file.loadIcon(16);
  ASSERT_NE(nullptr, icon);
  std::vector<uint32_t> shot;
  int found = 0;
  for (int attempt = 0; attempt < 100 && found == 0; ++attempt) {
    if (attempt > 0)
      Sleep(100); // until the window has painted itself
    shot = screenPixels(titleBar);
    ASSERT_EQ(static_cast<size_t>(w * h), shot.size());
    const std::vector<uint32_t> expected = pixelsOf(icon, 16, shot[3 * w + 3]);
    ASSERT_FALSE(expected.empty());
    for (int y = 0; y + 16 <= h; ++y) {
      for (int x = 0; x + 16 <= w; ++x) {
        bool same = true;
        for (int i = 0; same && i < 16 * 16; ++i)
          same = nearlyEqual(expected[i], shot[(y + i / 16) * w + x + i % 16]);
        found += same ? 1 : 0;
      }
    }
  }
  DestroyIcon(icon);
  EXPECT_EQ(1, found);
}

TEST_F(FenwickWindow, ControlsShowTheirTooltipsUnderThePointer)
{
  SetForegroundWindow(window);
  const struct {
    const char* what;
    POINT at;
    bool tip;
  } steps[] = {
      {"the button", test::kMeterButton, true},
      {"the picture", test::kDevicePicture, false},
      {"the sampling-rate box", test::kSampleRateBox, true},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.what);
    const POINT pointer = test::contentToScreen(window, step.at.x, step.at.y);
    // Two moves: the first one enters the window, the second one is a move inside it.
    test::moveMouse({pointer.x - 1, pointer.y});
    test::moveMouse(pointer);
    const std::vector<HWND> tips = test::tooltipsOnceSettled(app.id(), step.tip, pointer);
    if (!step.tip) {
      EXPECT_TRUE(tips.empty());
      continue;
    }
    // One tooltip window, of several lines' size, next to the pointer.
    ASSERT_EQ(1u, tips.size());
    RECT r;
    GetWindowRect(tips[0], &r);
    EXPECT_GT(r.right - r.left, 100);
    EXPECT_LE(r.right - r.left, 420);
    EXPECT_GT(r.bottom - r.top, 10);
    const POINT distance = test::distanceToWindow(tips[0], pointer);
    EXPECT_LT(distance.x, test::kTooltipReach);
    EXPECT_LT(distance.y, test::kTooltipReach);
  }
}

} // namespace
