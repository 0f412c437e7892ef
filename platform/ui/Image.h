// Images by bundle name. The stand-in keeps the name and the pixel size read
// from the file header (PNG or JPEG); it never decodes pixels.
//
// Named images are looked up in the image folder: the one set with
// setImageFolder, else the bundle resource folder (ns::Paths). A name without an extension gets
// ".png". A missing or unreadable file gives nil, as a failed lookup does.
#pragma once

#include <string>
#include <string_view>

#include "platform/foundation/Object.h"
#include "platform/ui/Geometry.h"

namespace ui {

class Image : public ns::Object {
public:
    Image(std::string name, Size size) : name_(std::move(name)), size_(size) {}
    const char* className() const override { return "Image"; }
    std::string description() const override { return "<Image " + name_ + ">"; }

    // The image of the bundle file `name` (".png" added when the name has no
    // extension), or nil when there is no such readable PNG/JPEG file.
    static ns::Ref<Image> imageNamed(std::string_view name);
    // The image in the file at `path`; nil when it is missing or not PNG/JPEG.
    static ns::Ref<Image> imageWithContentsOfFile(const std::string& path);
    // An image that exists only in memory (tests, generated artwork).
    static ns::Ref<Image> make(std::string name, Size size) {
        return ns::make<Image>(std::move(name), size);
    }

    // Where imageNamed looks; empty means the bundle resource folder.
    static void setImageFolder(std::string folder);
    static std::string imageFolder();

    // The bundle name (or file name) the image came from.
    const std::string& name() const { return name_; }
    Size size() const { return size_; }

    // Pixel size from a PNG or JPEG header; false when the bytes are neither
    // or the header is truncated.
    static bool readImageSize(std::string_view bytes, Size& out);

private:
    std::string name_;
    Size size_;
};

}  // namespace ui
