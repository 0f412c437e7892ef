#include "platform/ui/Geometry.h"

#include <cstdio>

namespace ui {

static std::string num(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

std::string toString(Point p) { return "{" + num(p.x) + ", " + num(p.y) + "}"; }
std::string toString(Size s) { return "{" + num(s.width) + ", " + num(s.height) + "}"; }
std::string toString(const Rect& r) { return "{" + toString(r.origin) + ", " + toString(r.size) + "}"; }

}  // namespace ui
