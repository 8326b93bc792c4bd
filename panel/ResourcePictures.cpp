#include "ResourcePictures.h"

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
