#include "MessageBoxes.h"
#include "ResourcePictures.h"
#include "frame_test_support.h"
#include "icon_pixels.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <windows.h>

namespace {

class ResourcePicturesTest : public testing::Test {
protected:
  juce::ScopedJuceInitialiser_GUI gui;
};

TEST_F(ResourcePicturesTest, FileNameGivesResourceNameAndTypeInUpperCase)
{
  struct Case {
    const char* fileName;
    int width, height; // 0: no picture
  };
  const Case cases[] = {
      {"background.png", 485, 515},
      {"Background.PNG", 485, 515},
      {"BACKGROUND.png", 485, 515},
      {"pictures\\background.png", 485, 515}, // only the last part of a path counts
      {"HaldenExists.png", 125, 178},
      {"HaldenNotExists.png", 125, 178},
      {"a.b.png", 125, 178}, // the resource "A.B" of type "PNG"
      {"background", 0, 0},  // no extension: an empty type finds nothing
      {"broken.png", 0, 0},  // there, but not a picture
      {"missing.png", 0, 0},
      {"background.jpg", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fileName);
    std::unique_ptr<juce::Drawable> picture = loadDrawableByFileName(c.fileName);
    if (c.width == 0) {
      EXPECT_EQ(nullptr, picture);
      continue;
    }
    ASSERT_NE(nullptr, picture);
    EXPECT_EQ(juce::Rectangle<float>(0.0f, 0.0f, static_cast<float>(c.width),
                                     static_cast<float>(c.height)),
              picture->getDrawableBounds());
  }
}

TEST_F(ResourcePicturesTest, ImagesComeThroughTheImageCache)
{
  ResourcePicture background = loadResourceDrawable("PNG", "BACKGROUND", false);
  EXPECT_EQ(nullptr, background.drawable);
  ASSERT_NE(nullptr, background.image);
  EXPECT_EQ(485, background.image->getWidth());
  EXPECT_FALSE(background.image->hasAlphaChannel());

  ResourcePicture device = loadResourceDrawable("PNG", "HALDENEXISTS", false);
  ASSERT_NE(nullptr, device.image);
  EXPECT_TRUE(device.image->hasAlphaChannel());

  EXPECT_EQ(nullptr, loadResourceDrawable("PNG", "BROKEN", false).image);
  EXPECT_EQ(nullptr, loadResourceDrawable("PNG", "MISSING", false).image);
}

/** The picture resources exactly as the layout expects them: size and PNG colour type. */
TEST_F(ResourcePicturesTest, ShippedPicturesHaveTheirSizesAndFormats)
{
  struct Case {
    const char* name;
    unsigned width, height;
    unsigned char colourType; // 2: RGB, 6: RGBA
  };
  const Case cases[] = {
      {"BACKGROUND", 485, 515, 2},
      {"HALDENEXISTS", 125, 178, 6},
      {"HALDENNOTEXISTS", 125, 178, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HRSRC resource = FindResourceA(nullptr, c.name, "PNG");
    ASSERT_NE(nullptr, resource);
    const auto* bytes =
        static_cast<const unsigned char*>(LockResource(LoadResource(nullptr, resource)));
    ASSERT_GE(SizeofResource(nullptr, resource), 33u);
    auto be32 = [](const unsigned char* p) {
      return (unsigned(p[0]) << 24) | (unsigned(p[1]) << 16) | (unsigned(p[2]) << 8) | p[3];
    };
    EXPECT_EQ(0, memcmp(bytes, "\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(0, memcmp(bytes + 12, "IHDR", 4));
    EXPECT_EQ(c.width, be32(bytes + 16));
    EXPECT_EQ(c.height, be32(bytes + 20));
    EXPECT_EQ(8, bytes[24]); // bits per channel
    EXPECT_EQ(c.colourType, bytes[25]);
  }
}

TEST_F(ResourcePicturesTest, ErrorBoxShowsTheMessageUnchangedUnderError)
{
  test::RecordingLookAndFeel boxes;
  const juce::String message = juce::String::fromUTF8("Error: changing the sample rate failed.\n"
                                                      "Second line, 48\xc2\xb5s");
  showErrorBox(message);
  ASSERT_EQ(1u, boxes.boxes.size());
  EXPECT_EQ(juce::MessageBoxIconType::WarningIcon, boxes.boxes[0].icon);
  EXPECT_EQ(boxes.boxes[0].title, "Error");
  EXPECT_EQ(message, boxes.boxes[0].message);
  EXPECT_EQ(1, boxes.boxes[0].numButtons);
  EXPECT_EQ(boxes.boxes[0].button, "OK");
  EXPECT_EQ(nullptr, boxes.boxes[0].associatedComponent);
}

/** The icon as Windows draws it onto black, next to the image composited onto black. */
void expectDrawnAsWindowsDrawsIt(const juce::Image& image, int size)
{
  HICON icon = static_cast<HICON>(
      LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, 0));
  ASSERT_NE(nullptr, icon);
  const std::vector<uint32_t> pixels = test::pixelsOf(icon, size, 0);
  DestroyIcon(icon);
  ASSERT_EQ(static_cast<size_t>(size * size), pixels.size());
  int differing = 0;
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const uint32_t drawn = pixels[static_cast<size_t>(y * size + x)];
      const juce::Colour ours = image.getPixelAt(x, y);
      const int channels[3][2] = {
          {static_cast<int>((drawn >> 16) & 0xFF), ours.getRed()},
          {static_cast<int>((drawn >> 8) & 0xFF), ours.getGreen()},
          {static_cast<int>(drawn & 0xFF), ours.getBlue()},
      };
      for (const auto& c : channels)
        if (std::abs(c[0] - c[1] * ours.getAlpha() / 255) > 2)
          ++differing;
    }
  }
  EXPECT_EQ(0, differing);
}

TEST_F(ResourcePicturesTest, IconEntryForASizeComesAsAnImageTheRightWayUp)
{
  for (int size : {16, 32, 48, 256}) {
    SCOPED_TRACE(size);
    const juce::Image icon = loadResourceIcon(1, size);
    ASSERT_TRUE(icon.isValid());
    EXPECT_EQ(size, icon.getWidth());
    EXPECT_EQ(size, icon.getHeight());
    EXPECT_EQ(0, icon.getPixelAt(0, 0).getAlpha()); // outside the device's rounded corner
    // The status light shines green at the top right, not mirrored to the bottom or the left.
    const int x = 188 * size / 256, y = 46 * size / 256;
    const auto green = [&icon](int px, int py) {
      const juce::Colour c = icon.getPixelAt(px, py);
      return c.getAlpha() > 128 && c.getGreen() > c.getRed() + 60 &&
             c.getGreen() > c.getBlue() + 60;
    };
    EXPECT_TRUE(green(x, y));
    EXPECT_FALSE(green(x, size - 1 - y));
    EXPECT_FALSE(green(size - 1 - x, y));
    if (size < 256)
      expectDrawnAsWindowsDrawsIt(icon, size);
  }
  EXPECT_FALSE(loadResourceIcon(99, 32).isValid());
}

} // namespace
