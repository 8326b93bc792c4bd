#include "DeviceImage.h"

#include "ResourcePictures.h"
#include "TrException.h"

#include <memory>

DeviceImage::DeviceImage(const juce::String& existsFileName, const juce::String& notExistsFileName)
{
  // Both are loaded before either is looked at; the exists picture is the one named when
  // both are missing.
  std::unique_ptr<juce::Drawable> exists = loadDrawableByFileName(existsFileName);
  std::unique_ptr<juce::Drawable> notExists = loadDrawableByFileName(notExistsFileName);
  if (exists == nullptr)
    throwImageLoadError(Tr::TString(existsFileName));
  if (notExists == nullptr)
    throwImageLoadError(Tr::TString(notExistsFileName));
  existsPicture = exists.release();
  notExistsPicture = notExists.release();
  ownsPictures = 1;
  sizeToPicture();
}

DeviceImage::~DeviceImage()
{
  if (ownsPictures) {
    delete existsPicture;
    existsPicture = nullptr;
    delete notExistsPicture;
    notExistsPicture = nullptr;
  }
}

void DeviceImage::sizeToPicture()
{
  present = 0;
  active = 0;
  juce::Rectangle<float> bounds;
  if (existsPicture != nullptr)
    bounds = existsPicture->getDrawableBounds();
  setBounds(getX(), getY(), static_cast<int>(bounds.getWidth()),
            static_cast<int>(bounds.getHeight()));
}

bool DeviceImage::setState(std::int32_t newPresent, std::int32_t newActive)
{
  bool changed = false;
  if (present != newPresent) {
    present = newPresent;
    changed = true;
  }
  if (active != newActive) {
    active = newActive;
    changed = true;
  }
  if (!changed)
    return false;
  triggerAsyncUpdate();
  return true;
}

void DeviceImage::handleAsyncUpdate()
{
  repaint();
}

void DeviceImage::paint(juce::Graphics& g)
{
  const float opacity = active == 0 ? 0.5f : 1.0f;
  juce::Drawable* picture =
      (present == 0 && notExistsPicture != nullptr) ? notExistsPicture : existsPicture;
  if (picture != nullptr) {
    picture->draw(g, opacity, juce::AffineTransform());
    return;
  }
  const float w = static_cast<float>(getWidth());
  const float h = static_cast<float>(getHeight());
  g.setColour(juce::Colour(0xFFFF0000u));
  g.drawLine(0.0f, 0.0f, w, h, 1.0f);
  g.drawLine(0.0f, h, w, 0.0f, 1.0f);
  g.setColour(juce::Colour(0xFF000000u));
  g.drawRect(getLocalBounds(), 5);
  g.setColour(juce::Colour(0xFFFFFFFFu));
  g.drawRect(getLocalBounds(), 1);
}

Tr::TString makeImageLoadErrorText(const Tr::TString& fileName)
{
  return Tr::TString("ERROR: unable to load device image '") + fileName.text();
}

void DeviceImage::throwImageLoadError(const Tr::TString& fileName)
{
  throw Tr::Exception(makeImageLoadErrorText(fileName) + "'");
}
