#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

/** A picture decoded from one of the program's own resources: a drawable or an image,
    whichever was asked for. Both are empty when the resource is missing or not a picture. */
struct ResourcePicture {
  std::unique_ptr<juce::Drawable> drawable;
  std::unique_ptr<juce::Image> image;
};

/** The picture that the program carries for a file name N.E: the resource named N in upper
    case, of type E in upper case. Any folder part of the name is ignored. Null when there is
    no such resource or its bytes are not a picture; nothing is reported. */
std::unique_ptr<juce::Drawable> loadDrawableByFileName(const juce::String& fileName);

/** Loads the resource of that type and name from the program's own module and decodes it as
    a drawable (asDrawable) or through JUCE's image cache. */
ResourcePicture loadResourceDrawable(const juce::String& type, const juce::String& name,
                                     bool asDrawable);

/** The entry of the program's icon resource `id` that Windows picks for a square of `size`
    pixels, as an image of that entry's own size. 32-bit bitmap and PNG entries are read;
    anything else, or a missing icon, gives an invalid image. */
juce::Image loadResourceIcon(int id, int size);
