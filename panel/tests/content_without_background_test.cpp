// A program without picture resources: the content base goes without its background.
#include "ASIOPanel.h"
#include "TrException.h"
#include "test_contents.h"

#include <gtest/gtest.h>

namespace {

TEST(ContentWithoutBackground, KeepsTheDefaultSizeAndPaintsNothing)
{
  juce::ScopedJuceInitialiser_GUI gui;
  std::vector<juce::String> log;
  test::RecordingContent content(log);
  content.initialise();
  EXPECT_FALSE(content.hasBackground());
  EXPECT_EQ(365, content.getPreferredWidth());
  EXPECT_EQ(255, content.getPreferredHeight());

  content.setSize(40, 30);
  const juce::Image snapshot = content.createComponentSnapshot(content.getLocalBounds());
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x)
      ASSERT_EQ(0, snapshot.getPixelAt(x, y).getAlpha()) << x << "," << y;

  content.setPreferredSize(260, 462);
  EXPECT_EQ(260, content.getPreferredWidth());
  EXPECT_EQ(462, content.getPreferredHeight());
}

} // namespace

namespace {

TEST(PanelWithoutPictures, PaneConstructionThrowsNamingTheExistsPictureAndLeavesNoPane)
{
  juce::ScopedJuceInitialiser_GUI gui;
  ASIOPanel panel;
  try {
    panel.initialise();
    ADD_FAILURE() << "no exception";
  } catch (const Tr::Exception& e) {
    EXPECT_STREQ("ERROR: unable to load device image 'HaldenExists.png'", e.what());
  }
  EXPECT_EQ(nullptr, panel.getPane());
  panel.stop(); // as the window's destructor does: nothing to stop
}

} // namespace
