#include "ResourcePictures.h"

#include <cstdint>
#include <cstring>
#include <windows.h>

namespace {

HMODULE programModule()
{
  static const HMODULE module = GetModuleHandleW(nullptr);
  return module;
}

/** The resource's bytes, from loading to release. */
class LoadedResource {
public:
  LoadedResource(HMODULE module, HRSRC resource)
      : module(module), resource(resource), handle(LoadResource(module, resource))
  {
  }
  ~LoadedResource()
  {
    if (handle != nullptr)
      FreeResource(handle);
  }
  LoadedResource(const LoadedResource&) = delete;
  LoadedResource& operator=(const LoadedResource&) = delete;

  bool isLoaded() const { return handle != nullptr; }
  const void* data() const { return LockResource(handle); }
  int size() const { return static_cast<int>(SizeofResource(module, resource)); }

private:
  HMODULE module;
  HRSRC resource;
  HGLOBAL handle;
};

} // namespace

std::unique_ptr<juce::Drawable> loadDrawableByFileName(const juce::String& fileName)
{
  // The drive only makes the path absolute, so that juce::File takes it apart.
  const juce::File file("C:\\" + fileName);
  const juce::String type = file.getFileExtension().substring(1).toUpperCase();
  const juce::String name = file.getFileNameWithoutExtension().toUpperCase();
  return std::move(loadResourceDrawable(type, name, true).drawable);
}

ResourcePicture loadResourceDrawable(const juce::String& type, const juce::String& name,
                                     bool asDrawable)
{
  ResourcePicture picture;
  HRSRC resource = FindResourceA(programModule(), name.toRawUTF8(), type.toRawUTF8());
  if (resource == nullptr)
    return picture;
  const LoadedResource bytes(programModule(), resource);
  if (!bytes.isLoaded())
    return picture;
  const void* data = bytes.data();
  const int size = bytes.size();
  if (data == nullptr && size != 0)
    return picture;

  if (asDrawable) {
    picture.drawable = juce::Drawable::createFromImageData(data, static_cast<size_t>(size));
  } else {
    const juce::Image image = juce::ImageCache::getFromMemory(data, size);
    if (image.isValid())
      picture.image = std::make_unique<juce::Image>(image);
  }
  return picture;
}

namespace {

// RT_ICON and RT_GROUP_ICON, as the wide-character calls take them.
const LPCWSTR kIconType = MAKEINTRESOURCEW(3);
const LPCWSTR kIconGroupType = MAKEINTRESOURCEW(14);

/** A 32-bit icon bitmap: its header, the colour rows bottom up (BGRA, straight alpha), then the
    mask, which an entry with an alpha channel does not need. */
juce::Image decodeIconBitmap(const void* data, int size)
{
  if (size < static_cast<int>(sizeof(BITMAPINFOHEADER)))
    return {};
  BITMAPINFOHEADER header;
  std::memcpy(&header, data, sizeof header);
  const int width = header.biWidth;
  const int height = header.biHeight / 2; // the header counts the mask's rows too
  if (header.biBitCount != 32 || header.biCompression != BI_RGB || width <= 0 || height <= 0 ||
      width > 256 || height > 256)
    return {};
  const auto pixelBytes = static_cast<int>(header.biSize) + width * height * 4;
  if (header.biSize < sizeof header || pixelBytes > size)
    return {};
  const auto* rows = static_cast<const uint8_t*>(data) + header.biSize;
  juce::Image image(juce::Image::ARGB, width, height, true);
  for (int y = 0; y < height; ++y) {
    const uint8_t* p = rows + (height - 1 - y) * width * 4;
    for (int x = 0; x < width; ++x, p += 4)
      image.setPixelAt(x, y, juce::Colour(p[2], p[1], p[0], p[3]));
  }
  return image;
}

} // namespace

juce::Image loadResourceIcon(int id, int size)
{
  HRSRC group = FindResourceW(programModule(), MAKEINTRESOURCEW(id), kIconGroupType);
  if (group == nullptr)
    return {};
  const LoadedResource directory(programModule(), group);
  if (!directory.isLoaded() || directory.data() == nullptr)
    return {};
  const int entryId = LookupIconIdFromDirectoryEx(
      static_cast<PBYTE>(const_cast<void*>(directory.data())), TRUE, size, size, LR_DEFAULTCOLOR);
  HRSRC entry =
      entryId == 0 ? nullptr : FindResourceW(programModule(), MAKEINTRESOURCEW(entryId), kIconType);
  if (entry == nullptr)
    return {};
  const LoadedResource bytes(programModule(), entry);
  const void* data = bytes.isLoaded() ? bytes.data() : nullptr;
  if (data == nullptr)
    return {};
  juce::MemoryInputStream stream(data, static_cast<size_t>(bytes.size()), false);
  if (juce::PNGImageFormat().canUnderstand(stream))
    return juce::ImageFileFormat::loadFrom(data, static_cast<size_t>(bytes.size()));
  return decodeIconBitmap(data, bytes.size());
}
