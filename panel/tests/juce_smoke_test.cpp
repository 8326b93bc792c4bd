#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

TEST(JuceSmoke, ComponentSnapshotOffScreen)
{
  juce::ScopedJuceInitialiser_GUI gui;
  juce::Label label("l", "Halden");
  label.setSize(80, 20);
  auto image = label.createComponentSnapshot(label.getLocalBounds());
  EXPECT_EQ(80, image.getWidth());
}
