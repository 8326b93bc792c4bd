// The scrolling graph's rules, without a window.
#include "2DPushGraph.h"

#include <gtest/gtest.h>

namespace {

TEST(GraphRules, VisibleCountIsWidthOverStepPlusTwoOrThree)
{
  struct Case {
    int width, step, expected;
  } cases[] = {
      {300, 15, 22}, // a multiple of the step: + 2
      {301, 15, 23}, // otherwise + 3
      {314, 15, 23}, {0, 15, 2},   {14, 15, 3},
      {10, 1, 12},   {-30, 15, 1}, // nothing left for the plot: at least 1
      {-50, 15, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(C2DPushGraph::VisibleCountFor(c.width, c.step), c.expected)
        << c.width << " / " << c.step;
  }
}

TEST(GraphRules, LinesAreTrimmedToOneLessThanTheVisibleCountAndPaddedToOneLength)
{
  C2DPushGraph graph;
  graph.minValue = 3;
  graph.maxValue = 100;
  graph.visibleCount = 5;
  graph.lines[0].points = {1, 2, 3, 4, 5, 6, 7};
  graph.lines[1].points = {10, 20};
  graph.lines[2].points = {};
  graph.NormaliseLines();
  EXPECT_EQ(graph.lines[0].points, (std::vector<int32_t>{4, 5, 6, 7}));
  EXPECT_EQ(graph.lines[1].points, (std::vector<int32_t>{20, 20, 20, 20}));
  EXPECT_EQ(graph.lines[2].points, (std::vector<int32_t>{3, 3, 3, 3}));
}

TEST(GraphRules, ShortHistoriesAreKeptWhole)
{
  C2DPushGraph graph;
  graph.visibleCount = 23;
  for (int i = 0; i < 22; i++) {
    graph.PushValue(0, i);
  }
  graph.NormaliseLines();
  ASSERT_EQ(graph.lines[0].points.size(), 22u);
  graph.PushValue(0, 99);
  graph.NormaliseLines();
  ASSERT_EQ(graph.lines[0].points.size(), 22u);
  EXPECT_EQ(graph.lines[0].points.front(), 1);
  EXPECT_EQ(graph.lines[0].points.back(), 99);
}

TEST(GraphRules, NoSamplesLeaveEmptyLinesAlone)
{
  C2DPushGraph graph;
  graph.AddLine(0, 0x00FF00, true);
  graph.visibleCount = 5;
  graph.NormaliseLines();
  EXPECT_TRUE(graph.lines[0].points.empty());
}

TEST(GraphRules, AddLineKeepsAnExistingLineAndPushMakesOneWithDefaults)
{
  C2DPushGraph graph;
  graph.AddLine(0, 0x123456, true);
  graph.AddLine(0, 0x654321, false);
  EXPECT_EQ(graph.lines[0].colour, 0x123456u);
  EXPECT_TRUE(graph.lines[0].barStyle);
  graph.PushValue(7, 42);
  EXPECT_EQ(graph.lines[7].colour, 0x00FF00u);
  EXPECT_FALSE(graph.lines[7].barStyle);
  EXPECT_EQ(graph.lines[7].points, (std::vector<int32_t>{42}));
}

TEST(GraphRules, BarsTakeTheColourOfTheHighestPositiveBandTheyReach)
{
  C2DPushGraph graph;
  graph.AddBand(0x0000FF00, 1390, "500\xB5s");
  graph.AddBand(0x0000FFFF, 2278, "1000\xB5s");
  graph.AddBand(0x000000F0, 3539, "2000\xB5s");
  graph.AddBand(0x000000FF, 9001, "16000\xB5s");
  graph.AddBand(0x00ABCDEF, 0, "zero");
  graph.AddBand(0x00FEDCBA, -10, "negative");
  C2DPushGraph::PushGraphLine line;
  line.colour = 0x00112233;
  struct Case {
    int32_t value;
    COLORREF expected;
  } cases[] = {
      {-20, 0x00112233},  {0, 0x00112233},    {154, 0x00112233},  {1389, 0x00112233},
      {1390, 0x0000FF00}, {2277, 0x0000FF00}, {2278, 0x0000FFFF}, {3538, 0x0000FFFF},
      {3539, 0x000000F0}, {9000, 0x000000F0}, {9001, 0x000000FF}, {20000, 0x000000FF},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(graph.BarColour(line, c.value), c.expected) << c.value;
  }
}

TEST(GraphRules, OfBandsWithEqualValuesTheFirstColoursTheBar)
{
  C2DPushGraph graph;
  graph.AddBand(0x000000AA, 100, "a");
  graph.AddBand(0x000000BB, 100, "b");
  C2DPushGraph::PushGraphLine line;
  EXPECT_EQ(graph.BarColour(line, 150), 0x000000AAu);
}

TEST(GraphRules, BevelColoursAreFortyLighterAndDarkerAndZeroChannelsStayZero)
{
  struct Case {
    COLORREF colour, light, dark;
  } cases[] = {
      {0x0000FF00, 0x0000FF00, 0x0000D700}, // pure green
      {0x000000F0, 0x000000FF, 0x000000C8}, // capped at 255
      {0x00102030, 0x00384858, 0x00000008}, // floored at 0, except where the channel is 0
      {0x00000000, 0x00000000, 0x00000000}, {0x00FFFFFF, 0x00FFFFFF, 0x00D7D7D7},
  };
  for (const Case& c : cases) {
    COLORREF light = 1, dark = 1;
    C2DPushGraph::BevelColours(c.colour, light, dark);
    EXPECT_EQ(light, c.light) << std::hex << c.colour;
    EXPECT_EQ(dark, c.dark) << std::hex << c.colour;
  }
}

TEST(GraphRules, ValuesScaleLinearlyFromTheBottomWithoutSubtractingTheMinimum)
{
  C2DPushGraph graph;
  graph.maxValue = 10000;
  EXPECT_EQ(graph.ScaleY(0, 260), 260);
  EXPECT_EQ(graph.ScaleY(154, 260), 256);
  EXPECT_EQ(graph.ScaleY(10000, 260), 0);
  EXPECT_EQ(graph.ScaleY(20000, 260), -260);
  graph.minValue = 100;
  graph.maxValue = 200;
  EXPECT_EQ(graph.ScaleY(150, 100), -50);
}

TEST(GraphRules, TimeTicksEveryStepFromTheRightLongAndLabelledAtEveryFifth)
{
  const auto width = [](const std::string& label) { return 6 * static_cast<int>(label.size()); };
  const auto ticks = C2DPushGraph::TimeTicks(200, 50, 15, width);
  ASSERT_EQ(ticks.size(), 9u); // x = 185 ... 65; 50 is on the axis
  for (size_t i = 0; i < ticks.size(); i++) {
    const int k = static_cast<int>(i) + 1;
    EXPECT_EQ(ticks[i].k, k);
    EXPECT_EQ(ticks[i].x, 200 - 15 * k);
    EXPECT_EQ(ticks[i].length, k % 5 == 0 ? 10 : 5);
    EXPECT_EQ(ticks[i].labelled, k == 5);
  }
  EXPECT_EQ(C2DPushGraph::TimeLabel(5), "-5");
  EXPECT_EQ(C2DPushGraph::TimeLabel(10), "-10");
}

TEST(GraphRules, ALabelThatWouldStartAtTheAxisIsLeftOutButItsLongTickStays)
{
  const auto width = [](const std::string&) { return 12; };
  // k = 5 lies at x = 86: its label would start at 80, on the axis.
  const auto ticks = C2DPushGraph::TimeTicks(161, 80, 15, width);
  ASSERT_EQ(ticks.size(), 5u);
  EXPECT_EQ(ticks[4].x, 86);
  EXPECT_EQ(ticks[4].length, 10);
  EXPECT_FALSE(ticks[4].labelled);
  // One pixel further right it fits.
  EXPECT_TRUE(C2DPushGraph::TimeTicks(162, 80, 15, width)[4].labelled);
}

} // namespace
