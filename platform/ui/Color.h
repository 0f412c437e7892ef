// Colours by components (red, green, blue, alpha in 0...1), and fonts by name
// and size. Immutable values held by reference like every other object.
#pragma once

#include <string>

#include "platform/foundation/Object.h"
#include "platform/ui/Image.h"

namespace ui {

class Color : public ns::Object {
public:
    Color(double r, double g, double b, double a) : r_(r), g_(g), b_(b), a_(a) {}
    const char* className() const override { return "Color"; }
    std::string description() const override;  // "Color(r, g, b, a)" or the pattern image's name
    bool isEqual(const ns::Object& other) const override;
    // Equal colors hash alike: a pattern by its image, every plain color to
    // one value (their components are compared within a millionth, which no
    // finer hash could follow).
    size_t hash() const override;

    static ns::Ref<Color> colorWithRGBA(double r, double g, double b, double a);
    static ns::Ref<Color> colorWithWhite(double white, double a);
    // A colour that paints an image tile by tile; components are 0.
    static ns::Ref<Color> colorWithPatternImage(ns::Ref<Image> image);
    static ns::Ref<Color> black();
    static ns::Ref<Color> white();
    static ns::Ref<Color> clear();
    static ns::Ref<Color> lightGray();  // white 2/3
    static ns::Ref<Color> gray();       // white 1/2
    static ns::Ref<Color> darkGray();   // white 1/3
    static ns::Ref<Color> red();
    static ns::Ref<Color> blue();

    double redComponent() const { return r_; }
    double greenComponent() const { return g_; }
    double blueComponent() const { return b_; }
    double alphaComponent() const { return a_; }
    const ns::Ref<Image>& patternImage() const { return pattern_; }
    // A short name for the text screen: "black", "white", "clear", or "#rrggbb".
    std::string shortName() const;

private:
    double r_, g_, b_, a_;
    ns::Ref<Image> pattern_;
};

class Font : public ns::Object {
public:
    Font(std::string name, double size) : name_(std::move(name)), size_(size) {}
    const char* className() const override { return "Font"; }
    std::string description() const override { return name_ + " " + std::to_string(size_); }

    static ns::Ref<Font> systemFontOfSize(double size) { return ns::make<Font>("System", size); }
    static ns::Ref<Font> boldSystemFontOfSize(double size) { return ns::make<Font>("System-Bold", size); }
    static ns::Ref<Font> fontWithNameSize(std::string name, double size) {
        return ns::make<Font>(std::move(name), size);
    }
    const std::string& fontName() const { return name_; }
    double pointSize() const { return size_; }

private:
    std::string name_;
    double size_;
};

}  // namespace ui
