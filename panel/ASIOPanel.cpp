#include "ASIOPanel.h"

ASIOPanel::ASIOPanel() = default;

ASIOPanel::~ASIOPanel() = default;

void ASIOPanel::paint(juce::Graphics& g)
{
  BContentBase::paint(g);
  g.setOpacity(1.0f);
  g.setColour(juce::Colour(0x80FFFFFFu));
  g.drawRect(getLocalBounds(), 1);
}
