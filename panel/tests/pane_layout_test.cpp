// The settings pane as it is built, the device picture and the command line, without a driver.
#include "ASIOPanel.h"
#include "DeviceImage.h"
#include "OptionsDialogMixerPane.h"
#include "TrException.h"
#include "frame_test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class PaneLayoutTest : public testing::Test {
protected:
  void runLoop(int ms) { juce::MessageManager::getInstance()->runDispatchLoopUntil(ms); }

  juce::ScopedJuceInitialiser_GUI gui;
};

juce::Rectangle<int> boundsOf(const juce::Component* c)
{
  return c->getBounds();
}

TEST_F(PaneLayoutTest, ChildrenStandWhereTheLayoutPutsThemForTheShippedPictures)
{
  OptionsDialogMixerPane pane;
  EXPECT_EQ(250, pane.getPaneWidth());
  EXPECT_EQ(452, pane.getPaneHeight());

  ASSERT_EQ(9, pane.getNumChildComponents());
  struct Row {
    const char* kind;
    juce::String name;
    juce::String text;
    juce::Rectangle<int> bounds;
  };
  // Child order: picture, status, three pairs (the rate's caption first, the others' box
  // first), button.
  const std::vector<Row> rows = {
      {"picture", "", "", {63, 0, 125, 178}},
      {"label", "status", "Error: module not available", {0, 182, 250, 48}},
      {"label", "new label", "Sampling Rate", {15, 281, 150, 24}},
      {"combo", "new combo box", "", {17, 305, 216, 23}},
      {"combo", "new combo box", "", {17, 364, 216, 23}},
      {"label", "new label", "Firewire Latency", {15, 340, 150, 24}},
      {"combo", "new combo box", "", {17, 423, 216, 23}},
      {"label", "new label", "ASIO Buffering", {15, 399, 150, 24}},
      {"button", "new button", "Ravelin", {49, 234, 152, 23}},
  };
  for (int i = 0; i < 9; ++i) {
    SCOPED_TRACE(i);
    juce::Component* c = pane.getChildComponent(i);
    const Row& row = rows[static_cast<size_t>(i)];
    EXPECT_EQ(row.bounds, boundsOf(c));
    EXPECT_TRUE(c->isVisible());
    EXPECT_EQ(row.name, c->getName());
    if (std::string(row.kind) == "label") {
      auto* label = dynamic_cast<juce::Label*>(c);
      ASSERT_NE(nullptr, label);
      EXPECT_EQ(row.text, label->getText());
      EXPECT_EQ(15.0f, label->getFont().getHeight());
      EXPECT_FALSE(label->getFont().isBold());
      EXPECT_FALSE(label->isEditableOnSingleClick());
      EXPECT_FALSE(label->isEditableOnDoubleClick());
      EXPECT_EQ(i == 1 ? juce::Justification::centred : juce::Justification::centredLeft,
                label->getJustificationType().getFlags());
      EXPECT_EQ(0xFFFFFFFFu, label->findColour(juce::Label::textColourId).getARGB());
      EXPECT_EQ(0xFF000000u, label->findColour(juce::TextEditor::textColourId).getARGB());
      EXPECT_EQ(0x00000000u, label->findColour(juce::TextEditor::backgroundColourId).getARGB());
    } else if (std::string(row.kind) == "combo") {
      auto* box = dynamic_cast<juce::ComboBox*>(c);
      ASSERT_NE(nullptr, box);
      EXPECT_EQ(1, box->getExplicitFocusOrder());
      EXPECT_FALSE(box->isTextEditable());
      EXPECT_EQ(juce::Justification::centredLeft, box->getJustificationType().getFlags());
      EXPECT_EQ(0x80u, box->findColour(juce::ComboBox::backgroundColourId).getAlpha());
      EXPECT_EQ(0x80u, box->findColour(juce::ComboBox::outlineColourId).getAlpha());
      EXPECT_EQ(0x80u, box->findColour(juce::ComboBox::buttonColourId).getAlpha());
      EXPECT_TRUE(box->isEnabled());
      EXPECT_EQ(0, box->getSelectedId());
    }
  }
  EXPECT_EQ(pane.getDeviceImage(), pane.getChildComponent(0));
  EXPECT_EQ(pane.getStatusLabel(), pane.getChildComponent(1));
  EXPECT_EQ(pane.getSampleRateCombo(), pane.getChildComponent(3));
  EXPECT_EQ(pane.getFirewireLatencyCombo(), pane.getChildComponent(4));
  EXPECT_EQ(pane.getAsioBufferCombo(), pane.getChildComponent(6));
  EXPECT_EQ(pane.getLatencyToolButton(), pane.getChildComponent(8));

  const juce::Rectangle<float> line = pane.getSeparatorPath().getBounds();
  EXPECT_EQ(juce::Rectangle<float>(15.0f, 269.0f, 220.0f, 0.0f), line);
}

TEST_F(PaneLayoutTest, BoxesButtonTooltipsAndColours)
{
  OptionsDialogMixerPane pane;
  EXPECT_EQ(
      juce::String("Select the sampling rate, higher sampling rates mean better sound but more CPU "
                   "overhead"),
      pane.getSampleRateCombo()->getTooltip());
  EXPECT_EQ(juce::String(
                "Select the latency for the soundcard, lower settings mean faster output of audio "
                "but more risk for dropouts"),
            pane.getFirewireLatencyCombo()->getTooltip());
  EXPECT_EQ(
      juce::String("Select the ASIO buffering latency, lower settings mean faster performance but "
                   "higher risk of audio dropouts"),
      pane.getAsioBufferCombo()->getTooltip());
  juce::TextButton* button = pane.getLatencyToolButton();
  EXPECT_EQ(
      juce::String("Use this tool to troubleshoot audio drop outs, read the owners manual for more "
                   "information regarding system tuning"),
      button->getTooltip());
  EXPECT_EQ(0xFF36C4D7u, button->findColour(juce::TextButton::buttonColourId).getARGB());
  EXPECT_EQ(0xFFAEE5FFu, button->findColour(juce::TextButton::buttonOnColourId).getARGB());
}

TEST_F(PaneLayoutTest, FixedBoxesHoldTheSettingNamesByIndexPlusOneAndTheRateBoxIsEmpty)
{
  OptionsDialogMixerPane pane;
  auto itemsOf = [](juce::ComboBox* box) {
    std::vector<std::string> items;
    for (int i = 0; i < box->getNumItems(); ++i)
      items.push_back(std::to_string(box->getItemId(i)) + ":" + box->getItemText(i).toStdString());
    return items;
  };
  EXPECT_THAT(itemsOf(pane.getFirewireLatencyCombo()),
              testing::ElementsAre("1:Minimum", "2:Small", "3:Standard", "4:Large", "5:ExtraLarge",
                                   "6:Maximum"));
  EXPECT_THAT(itemsOf(pane.getAsioBufferCombo()),
              testing::ElementsAre("1:Standard", "2:Large", "3:Maximum"));
  EXPECT_EQ(0, pane.getSampleRateCombo()->getNumItems());
  EXPECT_EQ(-1, pane.getDeviceIndex());
  EXPECT_EQ(nullptr, pane.getDevChangeNotifier());
  EXPECT_FALSE(pane.isClientOpen());
  EXPECT_FALSE(pane.isTimerRunning());
}

TEST_F(PaneLayoutTest, PaneStartsWithThePictureOfAReadyDevice)
{
  OptionsDialogMixerPane pane;
  EXPECT_EQ(1, pane.getDeviceImage()->isPresent());
  EXPECT_EQ(1, pane.getDeviceImage()->isActive());
}

TEST_F(PaneLayoutTest, PaintDrawsTheSeparatorInWhiteOverWhatLiesBehind)
{
  OptionsDialogMixerPane pane;
  juce::Image image(juce::Image::ARGB, 250, 452, true);
  {
    juce::Graphics g(image);
    pane.paint(g);
  }
  // A line one pixel thick along y = 269.0 covers half of rows 268 and 269.
  const juce::Colour above = image.getPixelAt(100, 268);
  const juce::Colour below = image.getPixelAt(100, 269);
  EXPECT_NEAR(255, above.getAlpha() + below.getAlpha(), 4);
  EXPECT_EQ(0xFFFFFFu, below.getARGB() & 0xFFFFFFu);
  EXPECT_EQ(0u, image.getPixelAt(10, 269).getAlpha());
  EXPECT_EQ(0u, image.getPixelAt(240, 269).getAlpha());
  EXPECT_EQ(0u, image.getPixelAt(100, 271).getAlpha());
}

// ---- The device picture ----

TEST_F(PaneLayoutTest, PictureTakesTheExistsPicturesSizeAndStartsAbsentAtHalfOpacity)
{
  DeviceImage image("HaldenExists.png", "HaldenNotExists.png");
  EXPECT_EQ(125, image.getWidth());
  EXPECT_EQ(178, image.getHeight());
  EXPECT_EQ(0, image.isPresent());
  EXPECT_EQ(0, image.isActive());
}

TEST_F(PaneLayoutTest, StateChangesAskForOneRepaintAndRepeatsForNone)
{
  DeviceImage image("HaldenExists.png", "HaldenNotExists.png");
  EXPECT_FALSE(image.isUpdatePending());
  EXPECT_FALSE(image.setState(0, 0));
  EXPECT_FALSE(image.isUpdatePending());
  EXPECT_TRUE(image.setState(1, 1));
  EXPECT_TRUE(image.isUpdatePending());
  EXPECT_TRUE(image.setState(0, 0));
  runLoop(50);
  EXPECT_FALSE(image.isUpdatePending());
  EXPECT_FALSE(image.setState(0, 0));
  EXPECT_FALSE(image.isUpdatePending());
  EXPECT_TRUE(image.setState(1, 0));
  EXPECT_EQ(1, image.isPresent());
  EXPECT_EQ(0, image.isActive());
}

/** The picture's colour at its centre in each of the four states, over black. */
TEST_F(PaneLayoutTest, FourStatesPaintTheirPictureAtTheirOpacity)
{
  DeviceImage image("HaldenExists.png", "HaldenNotExists.png");
  auto render = [&](int present, int active) {
    image.setState(present, active);
    juce::Image out(juce::Image::ARGB, image.getWidth(), image.getHeight(), true);
    juce::Graphics g(out);
    g.fillAll(juce::Colours::black);
    image.paint(g);
    return out;
  };
  // Find a pixel where the two pictures differ, in full opacity.
  const juce::Image exists = render(1, 1);
  const juce::Image notExists = render(0, 1);
  int px = -1, py = -1;
  for (int y = 0; y < exists.getHeight() && px < 0; y += 3)
    for (int x = 0; x < exists.getWidth(); x += 3)
      if (exists.getPixelAt(x, y).getBrightness() > 0.4f &&
          std::abs(exists.getPixelAt(x, y).getBrightness() -
                   notExists.getPixelAt(x, y).getBrightness()) > 0.2f) {
        px = x;
        py = y;
        break;
      }
  ASSERT_GE(px, 0) << "the two pictures look alike";
  const juce::Colour full = exists.getPixelAt(px, py);
  const juce::Colour half = render(1, 0).getPixelAt(px, py);
  EXPECT_NEAR(full.getBrightness() * 0.5f, half.getBrightness(), 0.06f);
  const juce::Colour absentHalf = render(0, 0).getPixelAt(px, py);
  EXPECT_NEAR(notExists.getPixelAt(px, py).getBrightness() * 0.5f, absentHalf.getBrightness(),
              0.06f);
}

TEST_F(PaneLayoutTest, MissingPictureThrowsWithTheFirstMissingFileName)
{
  struct Case {
    const char* exists;
    const char* notExists;
    const char* text;
  };
  const Case cases[] = {
      {"Gone.png", "HaldenNotExists.png", "ERROR: unable to load device image 'Gone.png'"},
      {"Gone.png", "Lost.png", "ERROR: unable to load device image 'Gone.png'"},
      {"HaldenExists.png", "Lost.png", "ERROR: unable to load device image 'Lost.png'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      DeviceImage image(c.exists, c.notExists);
      ADD_FAILURE() << "no exception";
    } catch (const Tr::Exception& e) {
      EXPECT_STREQ(c.text, e.what());
    }
  }
}

// ---- The main panel and its command line ----

TEST_F(PaneLayoutTest, PanelHoldsThePaneWithAMarginOfFive)
{
  ASIOPanel panel;
  panel.initialise();
  ASSERT_NE(nullptr, panel.getPane());
  EXPECT_EQ(260, panel.getPreferredWidth());
  EXPECT_EQ(462, panel.getPreferredHeight());
  EXPECT_EQ(juce::Rectangle<int>(5, 5, 250, 452), panel.getPane()->getBounds());
  EXPECT_EQ(panel.getPane(), panel.getChildComponent(panel.getNumChildComponents() - 1));
  EXPECT_TRUE(panel.getPane()->isVisible());
}

TEST_F(PaneLayoutTest, StopWithoutAPaneDoesNothing)
{
  ASIOPanel panel;
  panel.stop();
  EXPECT_EQ(nullptr, panel.getPane());
}

TEST_F(PaneLayoutTest, CommandLineGivesTheDeviceIndexAndNamesWhatItRefuses)
{
  const juce::String missing = " requires an argument with the numerical device index.";
  struct Case {
    const char* commandLine;
    int index;
    std::vector<juce::String> boxes;
  };
  const std::vector<Case> cases = {
      {"", 0, {}},
      {"something else", 0, {}},
      {"-device 2", 2, {}},
      {"/DEVICE 2", 2, {}},
      {"-Device 2", 2, {}},
      {"\"-device\" \"2\"", 2, {}},
      {"-device 007", 7, {}},
      {"-device 0", 0, {}},
      {"-device", 0, {"Error: command line parameter -device" + missing}},
      {"x /Device", 0, {"Error: command line parameter /Device" + missing}},
      {"/Device x", 0, {"Error: invalid argument 'x' for parameter /Device"}},
      {"-device -1", 0, {"Error: invalid argument '-1' for parameter -device"}},
      {"-device 3x", 0, {"Error: invalid argument '3x' for parameter -device"}},
      {"-device 1 -device 3", 3, {}},
      {"-device 2147483647", 2147483647, {}},
      {"-device -", 0, {"Error: invalid argument '-' for parameter -device"}},
      {"-device 4294967298", 0, {"Error: invalid argument '4294967298' for parameter -device"}},
      {"-device 2 -device x", 2, {"Error: invalid argument 'x' for parameter -device"}},
      // Blanks and control characters inside quotes: before the number they are skipped, the
      // first one after it ends the number.
      {"-device \" 1\"", 1, {}},
      {"-device \"\t 12\"", 12, {}},
      {"-device \"4 x\"", 4, {}},
      {"-device \"5\t\"", 5, {}},
      {"-device -0", 0, {}},
      {"-device 00000000002147483647", 2147483647, {}},
      {"-device \" \"", 0, {"Error: invalid argument ' ' for parameter -device"}},
      {"-device \"- 5\"", 0, {"Error: invalid argument '- 5' for parameter -device"}},
      {"-device \" -1\"", 0, {"Error: invalid argument ' -1' for parameter -device"}},
      {"-device \"x 1\"", 0, {"Error: invalid argument 'x 1' for parameter -device"}},
      {"-device +5", 0, {"Error: invalid argument '+5' for parameter -device"}},
      {"-device 2147483648", 0, {"Error: invalid argument '2147483648' for parameter -device"}},
      {"-device \" 4294967297 \"",
       0,
       {"Error: invalid argument ' 4294967297 ' for parameter -device"}},
      {"-device -device 4", 0, {"Error: invalid argument '-device' for parameter -device"}},
      // The command line is UTF-8 on its way through the runtime's strings.
      {"-device \xC3\xA9",
       0,
       {juce::String::fromUTF8("Error: invalid argument '\xC3\xA9' for parameter -device")}},
      {"-devices 2", 0, {}},
      {"--device 2", 0, {}},
      {"-device=2", 0, {}},
      {"-device x -device",
       0,
       {"Error: invalid argument 'x' for parameter -device",
        "Error: command line parameter -device" + missing}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.commandLine);
    test::RecordingLookAndFeel boxes;
    ASIOPanel panel;
    EXPECT_TRUE(panel.parseCommandLine(juce::String::fromUTF8(c.commandLine)));
    EXPECT_EQ(c.index, panel.getDeviceIndex());
    std::vector<juce::String> texts;
    for (const test::RecordedBox& box : boxes.boxes) {
      EXPECT_EQ(juce::String("Error"), box.title);
      texts.push_back(box.message);
    }
    EXPECT_EQ(c.boxes, texts);
  }
}

TEST_F(PaneLayoutTest, AnotherInstanceWithTheSameIndexLeavesThePaneAlone)
{
  test::RecordingLookAndFeel boxes;
  ASIOPanel panel;
  panel.initialise();
  panel.parseCommandLine("-device 1");
  panel.anotherInstanceStarted("-device 1");
  EXPECT_EQ(-1, panel.getPane()->getDeviceIndex());
  EXPECT_EQ(nullptr, panel.getPane()->getDevChangeNotifier());
  EXPECT_TRUE(boxes.boxes.empty());
}

} // namespace
