#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <vector>

namespace test {

/** One alert box as the program asked for it. */
struct RecordedBox {
  juce::MessageBoxIconType icon;
  juce::String title;
  juce::String message;
  juce::String button;
  int numButtons;
  juce::Component* associatedComponent;
};

/** Installed as the default look and feel, it records every alert box and closes it as soon
    as its modal loop runs, so that nothing waits for a user. */
class RecordingLookAndFeel : public juce::LookAndFeel_V4 {
public:
  RecordingLookAndFeel() { juce::LookAndFeel::setDefaultLookAndFeel(this); }
  ~RecordingLookAndFeel() override { juce::LookAndFeel::setDefaultLookAndFeel(nullptr); }

  juce::AlertWindow* createAlertWindow(const juce::String& title, const juce::String& message,
                                       const juce::String& button1, const juce::String& button2,
                                       const juce::String& button3, juce::MessageBoxIconType icon,
                                       int numButtons, juce::Component* associated) override
  {
    boxes.push_back({icon, title, message, button1, numButtons, associated});
    if (onBox)
      onBox(boxes.back());
    juce::AlertWindow* box = juce::LookAndFeel_V4::createAlertWindow(
        title, message, button1, button2, button3, icon, numButtons, associated);
    juce::MessageManager::callAsync([safe = juce::Component::SafePointer<juce::AlertWindow>(box)] {
      if (safe != nullptr)
        safe->exitModalState(0);
    });
    return box;
  }

  std::vector<RecordedBox> boxes;
  std::function<void(const RecordedBox&)> onBox;
};

} // namespace test
