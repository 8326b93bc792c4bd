#include "ASIOWindow.h"

#include "ASIOPanel.h"
#include "ResourcePictures.h"
#include "resource.h"

#include <windows.h>

namespace {

HANDLE loadProgramIcon(int widthMetric, int heightMetric)
{
  return LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_PROGRAM), IMAGE_ICON,
                    GetSystemMetrics(widthMetric), GetSystemMetrics(heightMetric), LR_DEFAULTCOLOR);
}

} // namespace

ASIOWindow::ASIOWindow(const juce::String& title) : BWindow(title)
{
  setBackgroundColour(juce::Colours::black);
  // JUCE draws the title bar itself, with its icon as high as the title's text.
  setIcon(loadResourceIcon(IDI_PROGRAM, 16));
  setNativeIcons();
}

ASIOWindow::~ASIOWindow() = default;

std::unique_ptr<BContentBase> ASIOWindow::createContent()
{
  return std::make_unique<ASIOPanel>();
}

void ASIOWindow::parentHierarchyChanged()
{
  BWindow::parentHierarchyChanged();
  // A new native window (JUCE makes one when the window's style changes) has no icon of its own.
  setNativeIcons();
}

void ASIOWindow::setNativeIcons()
{
  juce::ComponentPeer* peer = getPeer();
  if (peer == nullptr)
    return;
  const auto window = static_cast<HWND>(peer->getNativeHandle());
  // Loaded once and kept for the program's run, since the window may need them again for a new
  // peer up to its end. Not shared icons: the system's cache of those hands out the first size
  // loaded whatever size is asked for.
  static const HANDLE big = loadProgramIcon(SM_CXICON, SM_CYICON);
  static const HANDLE small = loadProgramIcon(SM_CXSMICON, SM_CYSMICON);
  if (big != nullptr)
    SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
  if (small != nullptr)
    SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
}
