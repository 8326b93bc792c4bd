// The program's icon on its main window, for the title bar and the task bar, read inside the
// program that made the window: under Wine another process cannot read them (WM_GETICON and a
// class's icons are not passed between processes, and another process's icons cannot be
// drawn). The test program carries Fenwick's own resources.
#include "ASIOWindow.h"
#include "icon_pixels.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>
#include <windows.h>

namespace {

/** The file's icon `id` as the system draws it at that size. */
std::vector<uint32_t> programIconPixels(int id, int size)
{
  HICON icon = static_cast<HICON>(
      LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0));
  if (icon == nullptr)
    return {};
  std::vector<uint32_t> pixels = test::pixelsOf(icon, size);
  DestroyIcon(icon);
  return pixels;
}

/** The window's own icons come in the sizes the system draws (the title bar and alt-tab the
    small one, the task bar either); the class's are what JUCE took from the program file, both
    in the large size. */
void expectProgramIcons(HWND window)
{
  const int big = GetSystemMetrics(SM_CXICON);
  const int small = GetSystemMetrics(SM_CXSMICON);
  const struct {
    const char* what;
    HICON icon;
    int id;
    int size;
  } icons[] = {
      {"WM_GETICON ICON_BIG",
       reinterpret_cast<HICON>(SendMessageW(window, WM_GETICON, ICON_BIG, 0)), IDI_PROGRAM, big},
      {"WM_GETICON ICON_SMALL",
       reinterpret_cast<HICON>(SendMessageW(window, WM_GETICON, ICON_SMALL, 0)), IDI_PROGRAM,
       small},
      {"GCLP_HICON", reinterpret_cast<HICON>(GetClassLongPtrW(window, GCLP_HICON)), IDI_PROGRAM,
       big},
      {"GCLP_HICONSM", reinterpret_cast<HICON>(GetClassLongPtrW(window, GCLP_HICONSM)),
       IDI_PROGRAM_SMALL, big},
  };
  for (const auto& i : icons) {
    SCOPED_TRACE(i.what);
    ASSERT_NE(nullptr, i.icon);
    EXPECT_EQ(i.size, test::iconEdge(i.icon));
    const std::vector<uint32_t> expected = programIconPixels(i.id, i.size);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(expected, test::pixelsOf(i.icon, i.size));
  }
}

HWND nativeWindow(juce::Component& c)
{
  juce::ComponentPeer* peer = c.getPeer();
  return peer != nullptr ? static_cast<HWND>(peer->getNativeHandle()) : nullptr;
}

class MainWindowIcon : public testing::Test {
protected:
  juce::ScopedJuceInitialiser_GUI gui;
  ASIOWindow window{"Halden ASIO"};
};

TEST_F(MainWindowIcon, NewWindowShowsTheProgramsIcon)
{
  const HWND native = nativeWindow(window);
  ASSERT_NE(nullptr, native);
  expectProgramIcons(native);
}

// JUCE replaces the native window when its style changes, and the new one starts without icons.
TEST_F(MainWindowIcon, NativeWindowMadeAnewShowsTheProgramsIconAgain)
{
  const HWND first = nativeWindow(window);
  window.setUsingNativeTitleBar(true);
  const HWND second = nativeWindow(window);
  ASSERT_NE(nullptr, second);
  ASSERT_NE(first, second);
  expectProgramIcons(second);
}

} // namespace
