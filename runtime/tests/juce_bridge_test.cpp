#include "TrJuce.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

TEST(JuceBridge, AsciiTextGoesThereAndBackUnchanged)
{
  const juce::String original("-device 3 \"C:\\Program Files\\x\"");
  const Tr::TString text(original);
  EXPECT_STREQ("-device 3 \"C:\\Program Files\\x\"", text.text());
  EXPECT_EQ(original.length(), text.getRep()->capacity); // a block exactly as long as the text
  EXPECT_EQ(original, Tr::toJuceString(text));
}

TEST(JuceBridge, TextBeyondAsciiGoesThereAsUtf8AndComesBackUnchanged)
{
  const char* const texts[] = {
      "48 \xc2\xb5s",                            // the micro sign
      "invalid argument '\xc3\xa9'",             // e acute
      "C:\\app with space \xc3\xa9\\tamsin.exe", // a folder name
      "\xe6\x97\xa5\xe6\x9c\xac",                // three bytes a character
      "\xf0\x9f\x98\x80 beyond 16 bits",         // four bytes, a surrogate pair in UTF-16
  };
  for (const char* utf8 : texts) {
    const juce::String original = juce::String::fromUTF8(utf8);
    const Tr::TString text(original);
    EXPECT_STREQ(utf8, text.text());
    EXPECT_EQ(static_cast<int>(std::strlen(utf8)), text.getRep()->capacity);
    EXPECT_EQ(original, Tr::toJuceString(text)) << utf8;
  }
  // Characters, not bytes: the micro sign's two bytes are one character on JUCE's side.
  EXPECT_EQ(5, Tr::toJuceString(Tr::TString("48 \xc2\xb5s")).length());
}

// Bytes that are not UTF-8 (text in a code page, a sequence cut short) are kept one character
// a byte, none lost and none turned into another character.
TEST(JuceBridge, BytesThatAreNotUtf8BecomeOneCharacterEach)
{
  struct Case {
    const char* bytes;
    std::vector<juce::juce_wchar> characters;
  };
  const Case cases[] = {
      {"\xe9t\xe9", {0xE9, 't', 0xE9}},
      {"ab\xc2", {'a', 'b', 0xC2}},
      {"\xb5s", {0xB5, 's'}},
      {"\xc3\xa9\xff", {0xC3, 0xA9, 0xFF}},
  };
  for (const Case& c : cases) {
    const juce::String back = Tr::toJuceString(Tr::TString(c.bytes));
    std::vector<juce::juce_wchar> characters;
    for (int i = 0; i < back.length(); i++)
      characters.push_back(back[i]);
    EXPECT_EQ(c.characters, characters) << c.bytes;
  }
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
