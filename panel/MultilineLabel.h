#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** A text editor under the name that the panel's multi-line texts use. */
class MultilineLabel : public juce::TextEditor {
public:
  using juce::TextEditor::TextEditor;

private:
  JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(MultilineLabel)
};
