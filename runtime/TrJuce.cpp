#include "TrJuce.h"

#include <limits>

namespace Tr {

TString::TString(const juce::String& text) : TString(text.toRawUTF8())
{
}

juce::String toJuceString(const TString& text)
{
  const char* const bytes = text.text();
  if (juce::CharPointer_UTF8::isValidString(bytes, std::numeric_limits<int>::max()))
    return juce::String::fromUTF8(bytes);
  // Read as UTF-8, a stray byte would swallow the bytes after it or turn into a control
  // character; one character a byte keeps every byte visible.
  return juce::String(bytes);
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
