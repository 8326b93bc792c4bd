#include "MessageBoxes.h"

void showErrorBox(const juce::String& message)
{
  juce::AlertWindow::showMessageBox(juce::AlertWindow::WarningIcon, "Error", message,
                                    juce::String(), nullptr);
}
