#include "platform/ui/Graphics.h"

#include <cstdio>

namespace ui {

namespace {
thread_local GraphicsContext* currentContext = nullptr;

std::string num(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}
std::string rgba(double r, double g, double b, double a) {
    return "(" + num(r) + ", " + num(g) + ", " + num(b) + ", " + num(a) + ")";
}
}  // namespace

GraphicsContext* GraphicsContext::current() { return currentContext; }

GraphicsContext::Scope::Scope(GraphicsContext* c) : previous_(currentContext) { currentContext = c; }
GraphicsContext::Scope::~Scope() { currentContext = previous_; }

void GraphicsContext::saveGState() { record("saveGState"); }
void GraphicsContext::restoreGState() { record("restoreGState"); }
void GraphicsContext::setFillColor(double r, double g, double b, double a) { record("setFillColor " + rgba(r, g, b, a)); }
void GraphicsContext::setGrayFillColor(double gray, double a) { record("setGrayFillColor " + num(gray) + " " + num(a)); }
void GraphicsContext::setStrokeColor(double r, double g, double b, double a) { record("setStrokeColor " + rgba(r, g, b, a)); }
void GraphicsContext::setLineWidth(double w) { record("setLineWidth " + num(w)); }
void GraphicsContext::beginPath() { record("beginPath"); }
void GraphicsContext::moveToPoint(Point p) { record("moveTo " + toString(p)); }
void GraphicsContext::addLineToPoint(Point p) { record("lineTo " + toString(p)); }
void GraphicsContext::addArc(Point c, double radius, double a0, double a1, bool clockwise) {
    record("arc " + toString(c) + " r=" + num(radius) + " " + num(a0) + ".." + num(a1) + (clockwise ? " cw" : " ccw"));
}
void GraphicsContext::addRect(Rect r) { record("addRect " + toString(r)); }
void GraphicsContext::addEllipseInRect(Rect r) { record("addEllipse " + toString(r)); }
void GraphicsContext::closePath() { record("closePath"); }
void GraphicsContext::fillPath() { record("fillPath"); }
void GraphicsContext::strokePath() { record("strokePath"); }
void GraphicsContext::fillRect(Rect r) { record("fillRect " + toString(r)); }
void GraphicsContext::strokeRect(Rect r) { record("strokeRect " + toString(r)); }
void GraphicsContext::fillEllipseInRect(Rect r) { record("fillEllipse " + toString(r)); }
void GraphicsContext::strokeEllipseInRect(Rect r) { record("strokeEllipse " + toString(r)); }

void GraphicsContext::drawRadialGradient(const std::vector<ns::Ref<Color>>& colors, const std::vector<double>& locations,
                                         Point c0, double r0, Point c1, double r1, bool after) {
    std::string s = "radialGradient";
    for (size_t i = 0; i < colors.size(); ++i) {
        const Color* c = colors[i].get();
        s += " " + (c ? rgba(c->redComponent(), c->greenComponent(), c->blueComponent(), c->alphaComponent()) : "nil");
        if (i < locations.size()) s += "@" + num(locations[i]);
    }
    s += " from " + toString(c0) + " r=" + num(r0) + " to " + toString(c1) + " r=" + num(r1);
    if (after) s += " extended";
    record(s);
}

void GraphicsContext::drawImageInRect(const std::string& name, Rect r) { record("image " + name + " " + toString(r)); }
void GraphicsContext::drawText(const std::string& text, Rect r) { record("text \"" + text + "\" " + toString(r)); }

}  // namespace ui
