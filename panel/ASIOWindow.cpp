#include "ASIOWindow.h"

#include "ASIOPanel.h"
#include "ResourcePictures.h"
#include "resource.h"

#include <windows.h>

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
  // Shared icons belong to the system, which keeps one of each size for the program's run.
  const HINSTANCE module = GetModuleHandleW(nullptr);
  const struct {
    WPARAM which;
    int widthMetric, heightMetric;
  } kinds[] = {{ICON_BIG, SM_CXICON, SM_CYICON}, {ICON_SMALL, SM_CXSMICON, SM_CYSMICON}};
  for (const auto& kind : kinds) {
    HANDLE icon = LoadImageW(module, MAKEINTRESOURCEW(IDI_PROGRAM), IMAGE_ICON,
                             GetSystemMetrics(kind.widthMetric),
                             GetSystemMetrics(kind.heightMetric), LR_SHARED);
    if (icon != nullptr)
      SendMessageW(window, WM_SETICON, kind.which, reinterpret_cast<LPARAM>(icon));
  }
}
