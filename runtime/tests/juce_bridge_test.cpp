#include "TrJuce.h"

#include <gtest/gtest.h>

namespace {

TEST(JuceBridge, AsciiTextGoesThereAndBackUnchanged)
{
  const juce::String original("-device 3 \"C:\\Program Files\\x\"");
  const Tr::TString text(original);
  EXPECT_STREQ("-device 3 \"C:\\Program Files\\x\"", text.text());
  EXPECT_EQ(original.length(), text.getRep()->capacity); // a block exactly as long as the text
  EXPECT_EQ(original, Tr::toJuceString(text));
}

TEST(JuceBridge, TextBeyondAsciiComesBackByteForByte)
{
  const juce::String original = juce::String::fromUTF8("48 \xc2\xb5s");
  const Tr::TString text(original);
  EXPECT_STREQ("48 \xc2\xb5s", text.text());
  EXPECT_EQ(6, text.getRep()->capacity);

  const juce::String back = Tr::toJuceString(text);
  EXPECT_NE(original, back);
  ASSERT_EQ(6, back.length());
  EXPECT_EQ(0xC2, back[3]);
  EXPECT_EQ(0xB5, back[4]);
}

TEST(JuceBridge, EmptyTextGivesAnEmptyStringOfCapacityZero)
{
  const Tr::TString text{juce::String()};
  EXPECT_STREQ("", text.text());
  EXPECT_EQ(0, text.getRep()->capacity);
  EXPECT_TRUE(Tr::toJuceString(Tr::TString()).isEmpty());
}

TEST(ComponentHelpers, CentreHorizontallyHalvesEachWidthOnItsOwn)
{
  struct Case {
    int containerWidth, y, width, height;
    juce::Rectangle<int> expected;
  };
  // The component starts at (7, 8), 51 x 20.
  const Case cases[] = {
      {101, 4, 50, 10, {25, 4, 50, 10}},
      {101, 4, -1, -1, {25, 4, 51, 20}}, // 50 - 25: current size kept, only moved
      {100, 0, 51, -1, {25, 0, 51, 20}},
      {40, 2, 60, 5, {-10, 2, 60, 5}}, // wider than its container: sticks out both sides
      {0, 0, 3, -1, {-1, 0, 3, 20}},   // -3 / 2 truncates toward zero
  };
  for (const Case& c : cases) {
    juce::Component component;
    component.setBounds(7, 8, 51, 20);
    EXPECT_EQ(&component,
              Tr::centreHorizontally(&component, c.containerWidth, c.y, c.width, c.height));
    EXPECT_EQ(c.expected, component.getBounds()) << c.containerWidth << " " << c.width;
  }
}

TEST(ComponentHelpers, CentreAtTopKeepsTheSize)
{
  juce::Component component;
  component.setBounds(7, 8, 51, 20);
  EXPECT_EQ(&component, Tr::centreAtTop(&component, 101));
  EXPECT_EQ(juce::Rectangle<int>(25, 0, 51, 20), component.getBounds());
}

TEST(ComponentHelpers, NullComponentIsLeftAlone)
{
  EXPECT_EQ(nullptr, Tr::centreHorizontally(nullptr, 100, 0, 10, 10));
  EXPECT_EQ(nullptr, Tr::centreAtTop(nullptr, 100));
}

TEST(ComponentHelpers, ComboBoxAlphaIsSetNotMultiplied)
{
  juce::ScopedJuceInitialiser_GUI gui;
  juce::ComboBox box;
  box.setColour(juce::ComboBox::backgroundColourId, juce::Colour(0xFF102030u));
  const juce::Colour text = box.findColour(juce::ComboBox::textColourId);
  const juce::Colour arrow = box.findColour(juce::ComboBox::arrowColourId);
  const juce::Colour outline = box.findColour(juce::ComboBox::outlineColourId);

  Tr::setComboBoxAlpha(&box, 0.5f);
  Tr::setComboBoxAlpha(&box, 0.5f);

  const juce::Colour background = box.findColour(juce::ComboBox::backgroundColourId);
  EXPECT_EQ(juce::Colour(0xFF102030u).withAlpha(0.5f), background);
  EXPECT_EQ(outline.withAlpha(0.5f), box.findColour(juce::ComboBox::outlineColourId));
  for (const int id : {juce::ComboBox::backgroundColourId, juce::ComboBox::outlineColourId,
                       juce::ComboBox::buttonColourId}) {
    EXPECT_TRUE(box.isColourSpecified(id));
    EXPECT_NEAR(0.5f, box.findColour(id).getFloatAlpha(), 0.003f);
  }
  EXPECT_EQ(text, box.findColour(juce::ComboBox::textColourId));
  EXPECT_EQ(arrow, box.findColour(juce::ComboBox::arrowColourId));
  EXPECT_FALSE(box.isColourSpecified(juce::ComboBox::textColourId));
}

} // namespace
