#pragma once

#include "TrString.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace Tr {

/** The string's bytes read as UTF-8, so that text that came from a juce::String comes back as
    the same text. Bytes that are not UTF-8 become one character each (0x00 to 0xFF). */
juce::String toJuceString(const TString& text);

/** Places the component at x = containerWidth / 2 - width / 2 (each half truncated on its own)
    and the given y. A width or height below 0 keeps the component's current one. Returns the
    component; a null one is left alone. */
juce::Component* centreHorizontally(juce::Component* component, int containerWidth, int y,
                                    int width = -1, int height = -1);

/** Centres the component horizontally at the container's top edge, keeping its size. */
juce::Component* centreAtTop(juce::Component* component, int containerWidth);

/** Gives the box's background, outline and button colours the alpha (sets it, does not scale
    it), so that what lies behind the box shows through. Text and arrow keep theirs. */
void setComboBoxAlpha(juce::ComboBox* box, float alpha);

} // namespace Tr
