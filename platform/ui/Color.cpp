#include "platform/ui/Color.h"

#include <cmath>
#include <functional>
#include <cstdio>

#include "platform/ui/Image.h"

namespace ui {

ns::Ref<Color> Color::colorWithRGBA(double r, double g, double b, double a) { return ns::make<Color>(r, g, b, a); }
ns::Ref<Color> Color::colorWithWhite(double w, double a) { return ns::make<Color>(w, w, w, a); }
ns::Ref<Color> Color::colorWithPatternImage(ns::Ref<Image> image) {
    auto c = ns::make<Color>(0, 0, 0, 1);
    c->pattern_ = std::move(image);
    return c;
}
ns::Ref<Color> Color::black() { return colorWithWhite(0, 1); }
ns::Ref<Color> Color::white() { return colorWithWhite(1, 1); }
ns::Ref<Color> Color::clear() { return colorWithWhite(0, 0); }
ns::Ref<Color> Color::lightGray() { return colorWithWhite(2.0 / 3, 1); }
ns::Ref<Color> Color::gray() { return colorWithWhite(0.5, 1); }
ns::Ref<Color> Color::darkGray() { return colorWithWhite(1.0 / 3, 1); }
ns::Ref<Color> Color::red() { return colorWithRGBA(1, 0, 0, 1); }
ns::Ref<Color> Color::blue() { return colorWithRGBA(0, 0, 1, 1); }

static bool near(double a, double b) { return std::fabs(a - b) < 1e-6; }

bool Color::isEqual(const ns::Object& other) const {
    auto* o = dynamic_cast<const Color*>(&other);
    if (!o) return false;
    if (pattern_ || o->pattern_) return pattern_ == o->pattern_;
    return near(r_, o->r_) && near(g_, o->g_) && near(b_, o->b_) && near(a_, o->a_);
}

size_t Color::hash() const {
    return pattern_ ? std::hash<const void*>()(pattern_.get()) : size_t(0x436F6C6F72);
}

std::string Color::shortName() const {
    if (pattern_) return "pattern:" + pattern_->name();
    if (near(a_, 0)) return "clear";
    std::string base;
    if (near(r_, 0) && near(g_, 0) && near(b_, 0)) base = "black";
    else if (near(r_, 1) && near(g_, 1) && near(b_, 1)) base = "white";
    else {
        char buf[16];
        auto c = [](double v) { return static_cast<int>(std::lround(std::fmin(std::fmax(v, 0.0), 1.0) * 255)); };
        std::snprintf(buf, sizeof buf, "#%02x%02x%02x", c(r_), c(g_), c(b_));
        base = buf;
    }
    if (!near(a_, 1)) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "@%.2g", a_);
        base += buf;
    }
    return base;
}

std::string Color::description() const {
    if (pattern_) return "Color(pattern " + pattern_->name() + ")";
    char buf[96];
    std::snprintf(buf, sizeof buf, "Color(%g, %g, %g, %g)", r_, g_, b_, a_);
    return buf;
}

}  // namespace ui
