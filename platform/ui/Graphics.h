// Drawing, headless: a graphics context that records what a drawRect asks
// for, one line of text per operation, so that tests can check what a view
// would paint. Nothing is rasterised.
//
// During a display pass, each view's drawRect runs with a fresh context as
// GraphicsContext::current(); what it recorded is kept on the view
// (View::drawingOperations()).
#pragma once

#include <string>
#include <vector>

#include "platform/ui/Color.h"
#include "platform/ui/Geometry.h"

namespace ui {

class GraphicsContext {
public:
    // The context of the drawRect being run, or nil outside drawing.
    static GraphicsContext* current();

    void saveGState();
    void restoreGState();
    void setFillColor(double r, double g, double b, double a);
    void setGrayFillColor(double gray, double a);
    void setStrokeColor(double r, double g, double b, double a);
    void setLineWidth(double w);

    void beginPath();
    void moveToPoint(Point p);
    void addLineToPoint(Point p);
    // An arc about `center` from `startAngle` to `endAngle` (radians);
    // clockwise as on screen (y down).
    void addArc(Point center, double radius, double startAngle, double endAngle, bool clockwise);
    void addRect(Rect r);
    void addEllipseInRect(Rect r);
    void closePath();
    void fillPath();
    void strokePath();
    void fillRect(Rect r);
    void strokeRect(Rect r);
    void fillEllipseInRect(Rect r);
    void strokeEllipseInRect(Rect r);
    // A radial gradient between two circles; colours at the given locations.
    void drawRadialGradient(const std::vector<ns::Ref<Color>>& colors, const std::vector<double>& locations,
                            Point startCenter, double startRadius, Point endCenter, double endRadius,
                            bool drawsAfterEnd);
    void drawImageInRect(const std::string& imageName, Rect r);
    void drawText(const std::string& text, Rect r);

    // Everything recorded, in order ("fillRect {{0, 0}, {10, 10}}", ...).
    const std::vector<std::string>& operations() const { return ops_; }
    void record(std::string op) { ops_.push_back(std::move(op)); }

    // Makes this the current context for the life of the scope.
    class Scope {
    public:
        explicit Scope(GraphicsContext* c);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        GraphicsContext* previous_;
    };

private:
    std::vector<std::string> ops_;
};

}  // namespace ui
