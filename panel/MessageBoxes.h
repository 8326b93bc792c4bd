#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The panel's one error box: a modal warning box titled "Error" with the message unchanged
    and a single button. Returns when the user has closed it.

    Boxes are made by the default look and feel (juce::LookAndFeel::createAlertWindow), which
    is where tests watch them: a look and feel of their own records the texts and closes the
    box at once, so no test waits on a modal box. */
void showErrorBox(const juce::String& message);
