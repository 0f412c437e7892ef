#include "platform/ui/ScrollView.h"
#include "platform/foundation/Delegate.h"

#include <algorithm>

namespace ui {

ScrollView::ScrollView(Rect frame) : View(frame) {}

void ScrollView::setContentOffset(Point p, bool) {
    Rect b = bounds();
    if (b.origin == p) return;
    b.origin = p;
    setBounds(b);
    auto keep = ns::keepAlive(this);
    if (auto d = delegate_.lock()) d->scrollViewDidScroll(this);
}

void ScrollView::scrollRectToVisible(Rect r, bool animated) {
    Point o = contentOffset();
    Size s = bounds().size;
    if (r.minY() < o.y) o.y = r.minY();
    else if (r.maxY() > o.y + s.height) o.y = std::max(0.0, r.maxY() - s.height);
    if (r.minX() < o.x) o.x = r.minX();
    else if (r.maxX() > o.x + s.width) o.x = std::max(0.0, r.maxX() - s.width);
    setContentOffset(o, animated);
}

void ScrollView::setZoomScale(double z) {
    zoom_ = std::clamp(z, minZoom_, std::max(minZoom_, maxZoom_));
    if (auto d = delegate_.lock()) d->scrollViewDidZoom(this);
}

}  // namespace ui
