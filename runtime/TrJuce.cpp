#include "TrJuce.h"

namespace Tr {

TString::TString(const juce::String& text) : TString(text.toRawUTF8())
{
}

juce::String toJuceString(const TString& text)
{
  return juce::String(text.text());
}

juce::Component* centreHorizontally(juce::Component* component, int containerWidth, int y,
                                    int width, int height)
{
  if (component == nullptr)
    return nullptr;
  if (width < 0)
    width = component->getWidth();
  if (height < 0)
    height = component->getHeight();
  component->setBounds(containerWidth / 2 - width / 2, y, width, height);
  return component;
}

juce::Component* centreAtTop(juce::Component* component, int containerWidth)
{
  if (component == nullptr)
    return nullptr;
  component->setBounds(containerWidth / 2 - component->getWidth() / 2, 0, component->getWidth(),
                       component->getHeight());
  return component;
}

void setComboBoxAlpha(juce::ComboBox* box, float alpha)
{
  for (const int id : {juce::ComboBox::backgroundColourId, juce::ComboBox::outlineColourId,
                       juce::ComboBox::buttonColourId})
    box->setColour(id, box->findColour(id, false).withAlpha(alpha));
}

} // namespace Tr
