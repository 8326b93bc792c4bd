#pragma once

#include "BContentBase.h"
#include "BWindow.h"
#include "TrException.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>
#include <vector>

namespace test {

/** A content that writes down every call the window makes, with the window's visibility at
    the time of start. */
class RecordingContent : public BContentBase {
public:
  explicit RecordingContent(std::vector<juce::String>& log) : log(log) {}
  ~RecordingContent() override { log.push_back("destroyed"); }

  void initialise() override
  {
    log.push_back("initialise");
    BContentBase::initialise();
    if (throwOnInitialise)
      throw Tr::Exception(Tr::TString("Picture \"HaldenExists.png\" is missing."));
  }
  bool parseCommandLine(const juce::String& commandLine) override
  {
    log.push_back("parseCommandLine " + commandLine);
    return acceptCommandLine;
  }
  void start(bool startNow) override
  {
    const bool visible = BWindow::getMainWindow()->isVisible();
    log.push_back(juce::String("start ") + (startNow ? "true" : "false") +
                  (visible ? " visible" : " hidden"));
    BContentBase::start(startNow);
  }
  bool canClose() override
  {
    log.push_back("canClose");
    return allowClose;
  }
  void stop() override { log.push_back("stop"); }
  void refresh() override { log.push_back("refresh"); }
  void paint(juce::Graphics& g) override
  {
    ++paintCount;
    BContentBase::paint(g);
  }
  bool shouldShowWindow() override
  {
    log.push_back("shouldShowWindow");
    return BContentBase::shouldShowWindow();
  }

  // The base's state, for the tests.
  using BContentBase::dragStartX;
  using BContentBase::dragStartY;
  using BContentBase::started;
  using BContentBase::startMinimised;
  bool hasBackground() const { return background != nullptr; }

  bool throwOnInitialise = false;
  bool acceptCommandLine = true;
  bool allowClose = true;
  int paintCount = 0;

private:
  std::vector<juce::String>& log;
};

/** A window whose content is a RecordingContent set up by the test. */
class RecordingWindow : public BWindow {
public:
  RecordingWindow(std::vector<juce::String>& log, std::function<void(RecordingContent&)> setUp = {})
      : BWindow("Halden ASIO"), log(log), setUp(std::move(setUp))
  {
  }

  std::unique_ptr<BContentBase> createContent() override
  {
    auto content = std::make_unique<RecordingContent>(log);
    if (setUp)
      setUp(*content);
    return content;
  }

  RecordingContent* recordingContent() const
  {
    return static_cast<RecordingContent*>(getContent());
  }

private:
  std::vector<juce::String>& log;
  std::function<void(RecordingContent&)> setUp;
};

} // namespace test
