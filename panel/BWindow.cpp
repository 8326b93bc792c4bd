#include "BWindow.h"

#include "TrException.h"

#include <windows.h>

BWindow* BWindow::mainWindow = nullptr;

BWindow::BWindow(const juce::String& title)
    : juce::DocumentWindow(title, juce::Colours::black,
                           juce::DocumentWindow::minimiseButton | juce::DocumentWindow::closeButton,
                           true)
{
  mainWindow = this;
}

BWindow::~BWindow()
{
  if (content != nullptr)
    content->stop();
  stopTimer();
  // Nothing may reach this window through the class-wide pointer once it is gone.
  if (mainWindow == this)
    mainWindow = nullptr;
}

void BWindow::initialise(const juce::String& commandLine, bool withCustomFrame,
                         bool withRoundedRegion)
{
  try {
    const juce::MessageManagerLock lock;
    const juce::String arguments(commandLine);

    customFrame = withCustomFrame;
    roundedRegion = withRoundedRegion;
    std::unique_ptr<BContentBase> made = createContent();
    content = made.get();
    setContentOwned(made.release(), false);

    content->initialise();
    content->refresh();
    setTitleBarButtonsRequired(
        juce::DocumentWindow::minimiseButton | juce::DocumentWindow::closeButton, false);
    setResizable(false, false);

    if (!content->parseCommandLine(arguments)) {
      juce::MessageManager::getInstance()->stopDispatchLoop();
      return;
    }
    setContentComponentSize(content->getPreferredWidth(), content->getPreferredHeight());

    if (customFrame) {
      setDropShadowEnabled(false);
      if (roundedRegion) {
        if (juce::ComponentPeer* peer = getPeer()) {
          HRGN region = CreateRoundRectRgn(0, 0, getWidth() + 1, getHeight(), 20, 20);
          SetWindowRgn(static_cast<HWND>(peer->getNativeHandle()), region, TRUE);
        }
      } else {
        setBackgroundColour(juce::Colours::transparentWhite);
      }
    }

    if (content->shouldShowWindow())
      setVisible(true);

    startPending = true;
    startTimer(20);
  } catch (Tr::Exception& e) {
    juce::AlertWindow::showMessageBox(juce::AlertWindow::WarningIcon, "Fatal Error",
                                      "The following error occured:\n" + juce::String(e.what()) +
                                          "\nThis program will close now.",
                                      juce::String(), nullptr);
    juce::JUCEApplication::quit();
  }
}

void BWindow::timerCallback()
{
  if (startPending) {
    startPending = false;
    if (content != nullptr) {
      content->start(true);
      content->refresh();
    }
  }
  stopTimer();
}

void BWindow::closeButtonPressed()
{
  if (content == nullptr || content->canClose())
    juce::MessageManager::getInstance()->stopDispatchLoop();
}

void BWindow::minimisationStateChanged(bool isNowMinimised)
{
  if (content != nullptr)
    content->minimisationStateChanged(isNowMinimised);
}

void BWindow::paint(juce::Graphics& g)
{
  if (customFrame && !roundedRegion) {
    g.setColour(juce::Colours::black);
    g.fillRoundedRectangle(0.0f, 0.0f, static_cast<float>(getWidth()),
                           static_cast<float>(getHeight()), 10.0f);
  } else {
    juce::DocumentWindow::paint(g);
  }
}
