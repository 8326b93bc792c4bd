// The scrolling graph painted into a memory bitmap, checked where its drawing rules show.
#include "2DPushGraph.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

const int width = 400, height = 200;
// The plot above the time scale.
const int plotHeight = height - 40;

// A 32-bit top-down bitmap selected into a memory context.
class Canvas {
public:
  Canvas()
  {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    dc_ = CreateCompatibleDC(nullptr);
    bitmap_ =
        CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
    before_ = SelectObject(dc_, bitmap_);
    // Something that no drawing rule paints, to see what the graph covers.
    for (int i = 0; i < width * height; i++) {
      bits_[i] = 0x00808080;
    }
  }
  ~Canvas()
  {
    SelectObject(dc_, before_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  HDC dc() const { return dc_; }
  bool ready() const { return bits_ != nullptr; }
  // The pixel as a COLORREF (0x00BBGGRR).
  COLORREF at(int x, int y) const
  {
    GdiFlush();
    const uint32_t p = bits_[y * width + x];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
  }
  int textWidth(const char* text) const
  {
    SIZE size = {};
    GetTextExtentPoint32A(dc_, text, static_cast<int>(strlen(text)), &size);
    return size.cx;
  }

private:
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ before_ = nullptr;
  uint32_t* bits_ = nullptr;
};

// The graph as the main view sets it up.
void SetUpLikeTheView(C2DPushGraph& graph)
{
  graph.step = 15;
  graph.maxValue = 10000;
  graph.AddBand(0x0000FF00, 1390, "500\xB5s");
  graph.AddBand(0x0000FFFF, 2278, "1000\xB5s");
  graph.AddBand(0x000000F0, 3539, "2000\xB5s");
  graph.AddBand(0x000000F5, 5139, "4000\xB5s");
  graph.AddBand(0x000000FA, 6991, "8000\xB5s");
  graph.AddBand(0x000000FF, 9001, "16000\xB5s");
  graph.AddLine(0, 0x00FF00, true);
}

class GraphRender : public ::testing::Test {
protected:
  void SetUp() override
  {
    ASSERT_TRUE(canvas.ready());
    SetUpLikeTheView(graph);
    axisX = canvas.textWidth("16000\xB5s") + 6 + 6;
  }
  int y(int32_t value) const { return graph.ScaleY(value, plotHeight); }

  Canvas canvas;
  C2DPushGraph graph;
  int axisX = 0;
};

TEST_F(GraphRender, BarsAreBevelledColouredByBandAndTheNewestIsClippedAway)
{
  graph.PushValue(0, 1000); // two seconds ago: below every band, the line's green
  graph.PushValue(0, 4000); // one second ago: over the 2000 band's value
  graph.PushValue(0, 9500); // newest: drawn just right of the plot, so not seen
  graph.Render(canvas.dc(), RECT{0, 0, width, height});

  // The bar of the sample before the newest spans x 386..399 from y(4000) to the plot's bottom.
  const int top = y(4000);
  EXPECT_EQ(canvas.at(392, (top + plotHeight) / 2), COLORREF(0x000000F0));
  EXPECT_EQ(canvas.at(387, top), COLORREF(0x000000FF)) << "light top edge";
  EXPECT_EQ(canvas.at(386, top + 5), COLORREF(0x000000FF)) << "light left edge";
  EXPECT_EQ(canvas.at(399, top + 5), COLORREF(0x000000C8)) << "dark right edge";
  EXPECT_EQ(canvas.at(392, plotHeight - 1), COLORREF(0x000000C8)) << "dark bottom edge";
  EXPECT_EQ(canvas.at(392, top - 1), COLORREF(0x00000000)) << "background above it";
  // One background pixel between two bars.
  EXPECT_EQ(canvas.at(385, plotHeight - 3), COLORREF(0x00000000));
  // The older bar, in the line's colour; its dark edges are 0x00D700.
  EXPECT_EQ(canvas.at(377, plotHeight - 3), COLORREF(0x0000FF00));
  EXPECT_EQ(canvas.at(384, plotHeight - 3), COLORREF(0x0000D700));
  // Nothing of the newest sample: it would reach far above y(4000).
  EXPECT_EQ(canvas.at(392, y(8500)), COLORREF(0x00000000));
  EXPECT_EQ(canvas.at(399, y(8500)), COLORREF(0x00000000));
}

TEST_F(GraphRender, AxesBandsAndBackgroundWithoutSamples)
{
  graph.Render(canvas.dc(), RECT{0, 0, width, height});

  // Every pixel is the graph's: nothing of the canvas's grey is left.
  for (int yy = 0; yy < height; yy += 7) {
    for (int xx = 0; xx < width; xx += 7) {
      ASSERT_NE(canvas.at(xx, yy), COLORREF(0x00808080)) << xx << "," << yy;
    }
  }
  // The value axis and the time axis in white, the diagonal joining the two corners.
  EXPECT_EQ(canvas.at(axisX, 5), COLORREF(0x00FFFFFF));
  EXPECT_EQ(canvas.at(axisX, plotHeight + 20), COLORREF(0x00FFFFFF));
  EXPECT_EQ(canvas.at(axisX + 20, plotHeight), COLORREF(0x00FFFFFF));
  EXPECT_EQ(canvas.at(width - 1, plotHeight), COLORREF(0x00FFFFFF));
  // Ticks below the time axis: short at the first sample, long at the fifth.
  EXPECT_EQ(canvas.at(width - 15, plotHeight + 4), COLORREF(0x00FFFFFF));
  EXPECT_EQ(canvas.at(width - 15, plotHeight + 6), COLORREF(0x00000000));
  EXPECT_EQ(canvas.at(width - 75, plotHeight + 9), COLORREF(0x00FFFFFF));
  // Band lines across the plot, from the value axis to the right edge, in the bands' colours.
  EXPECT_EQ(canvas.at(axisX + 1, y(1390)), COLORREF(0x0000FF00));
  EXPECT_EQ(canvas.at(width - 1, y(1390)), COLORREF(0x0000FF00));
  EXPECT_EQ(canvas.at(200, y(2278)), COLORREF(0x0000FFFF));
  EXPECT_EQ(canvas.at(200, y(9001)), COLORREF(0x000000FF));
  // Left of the value axis the margin holds labels, not band lines.
  EXPECT_NE(canvas.at(axisX - 1, y(1390)), COLORREF(0x0000FF00));
  // No bars: just above the plot's bottom everything is background.
  EXPECT_EQ(canvas.at(392, plotHeight - 3), COLORREF(0x00000000));
  EXPECT_EQ(canvas.at(200, plotHeight - 3), COLORREF(0x00000000));
}

TEST_F(GraphRender, APaintTrimsTheHistoryToTheVisibleSamples)
{
  for (int i = 0; i < 100; i++) {
    graph.PushValue(0, 2000);
  }
  graph.Render(canvas.dc(), RECT{0, 0, width, height});
  const int plotWidth = width - axisX;
  EXPECT_EQ(graph.visibleCount, C2DPushGraph::VisibleCountFor(plotWidth, 15));
  EXPECT_EQ(graph.lines[0].points.size(), static_cast<size_t>(graph.visibleCount - 1));
  // The oldest bar kept is cut at the value axis, one pixel right of it.
  EXPECT_EQ(canvas.at(axisX + 1, plotHeight - 3), COLORREF(0x0000FF00));
}

} // namespace
