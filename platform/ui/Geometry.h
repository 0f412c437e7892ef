// Plane geometry in points: Point, Size, Rect and a 2-D affine transform.
// Plain values; a Rect's origin is its top-left corner (y grows downward).
#pragma once

#include <cmath>
#include <string>

namespace ui {

struct Point {
    double x = 0, y = 0;
    bool operator==(const Point&) const = default;
};

struct Size {
    double width = 0, height = 0;
    bool operator==(const Size&) const = default;
};

struct Rect {
    Point origin;
    Size size;
    bool operator==(const Rect&) const = default;

    double x() const { return origin.x; }
    double y() const { return origin.y; }
    double width() const { return size.width; }
    double height() const { return size.height; }
    double minX() const { return origin.x; }
    double minY() const { return origin.y; }
    double maxX() const { return origin.x + size.width; }
    double maxY() const { return origin.y + size.height; }
    double midX() const { return origin.x + size.width / 2; }
    double midY() const { return origin.y + size.height / 2; }
    bool isEmpty() const { return size.width <= 0 || size.height <= 0; }
    // Half-open containment: the left/top edges are inside, right/bottom are not.
    bool contains(Point p) const {
        return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
    }
    bool intersects(const Rect& o) const {
        return !isEmpty() && !o.isEmpty() && minX() < o.maxX() && o.minX() < maxX() &&
               minY() < o.maxY() && o.minY() < maxY();
    }
};

inline Point makePoint(double x, double y) { return {x, y}; }
inline Size makeSize(double w, double h) { return {w, h}; }
inline Rect makeRect(double x, double y, double w, double h) { return {{x, y}, {w, h}}; }

inline const Rect kRectZero{};

// Affine transform [a b; c d] + (tx, ty), applied to a view about its centre.
struct Transform {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
    bool operator==(const Transform&) const = default;
    static Transform identity() { return {}; }
    static Transform scale(double sx, double sy) { return {sx, 0, 0, sy, 0, 0}; }
    static Transform translation(double x, double y) { return {1, 0, 0, 1, x, y}; }
    bool isIdentity() const { return *this == Transform{}; }
    // True when the transform collapses the view to nothing (a zero scale).
    bool isDegenerate() const { return std::fabs(a * d - b * c) < 1e-9; }
};

// Orientation of the interface (which way up the content is drawn).
// Values are fixed: they match the masks below (1 << value).
enum class InterfaceOrientation : int {
    Portrait = 1,
    PortraitUpsideDown = 2,
    LandscapeRight = 3,
    LandscapeLeft = 4,
};

// Sets of interface orientations: 1 << orientation.
enum InterfaceOrientationMask : unsigned {
    InterfaceOrientationMaskPortrait = 1u << 1,            // 2
    InterfaceOrientationMaskPortraitUpsideDown = 1u << 2,  // 4
    InterfaceOrientationMaskLandscapeRight = 1u << 3,      // 8
    InterfaceOrientationMaskLandscapeLeft = 1u << 4,       // 16
    InterfaceOrientationMaskLandscape = (1u << 3) | (1u << 4),
    InterfaceOrientationMaskAll = 30,
    InterfaceOrientationMaskAllButUpsideDown = 26,
};

inline unsigned maskFor(InterfaceOrientation o) { return 1u << static_cast<int>(o); }
inline bool isLandscape(InterfaceOrientation o) {
    return o == InterfaceOrientation::LandscapeLeft || o == InterfaceOrientation::LandscapeRight;
}
inline bool isPortrait(InterfaceOrientation o) { return !isLandscape(o); }

std::string toString(Point p);
std::string toString(Size s);
std::string toString(const Rect& r);  // "{{x, y}, {w, h}}"

}  // namespace ui
