#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

/** The base of every content that a BWindow shows: a background picture, a preferred size that
    the window adopts, the life-cycle operations that the window calls in a fixed order, and a
    panel that can be grabbed: a left-button drag on the content's own area or on the main
    window's title bar and frame moves the main window; a left double-click on the title bar
    minimises it. */
class BContentBase : public juce::Component, public juce::AsyncUpdater {
public:
  /** The drag origin while no drag is under way. */
  static constexpr int kNoDragOrigin = -50000;

  BContentBase();
  ~BContentBase() override;

  void mouseDown(const juce::MouseEvent& e) override;
  void mouseDrag(const juce::MouseEvent& e) override;
  void mouseUp(const juce::MouseEvent& e) override;
  void mouseDoubleClick(const juce::MouseEvent& e) override;
  void minimisationStateChanged(bool isNowMinimised) override;
  void paint(juce::Graphics& g) override;
  void handleAsyncUpdate() override;

  /** Loads the background, takes its size as the preferred size and starts listening to the
      main window's mouse events. Overrides call it first. */
  virtual void initialise();
  /** The window opens only when this returns true. */
  virtual bool parseCommandLine(const juce::String& commandLine);
  virtual void anotherInstanceStarted(const juce::String& commandLine);
  /** About 20 ms after the window is shown. */
  virtual void start(bool startNow);
  /** May the window close now? */
  virtual bool canClose();
  /** When the window is destroyed; also after an initialise that did not finish. */
  virtual void stop();
  virtual void refresh();
  /** Minimises the main window first when the content is to start minimised. */
  virtual bool shouldShowWindow();

  void setPreferredSize(int width, int height);
  int getPreferredWidth() const noexcept { return preferredWidth; }
  int getPreferredHeight() const noexcept { return preferredHeight; }

  /** Moves the main window by the mouse's travel since the drag began. */
  void dragWindow(const juce::MouseEvent& e);

protected:
  std::unique_ptr<juce::Drawable> background;
  int preferredWidth = 365;
  int preferredHeight = 255;
  bool repaintPending = false;
  bool refreshPending = false;
  bool started = false;
  int dragStartX = kNoDragOrigin;
  int dragStartY = kNoDragOrigin;
  bool startMinimised = false;

private:
  /** The window whose mouse events this content listens to, so that it can stop again. */
  juce::Component::SafePointer<juce::Component> listenedWindow;

  JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(BContentBase)
};
