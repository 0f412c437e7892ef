// A view whose bounds origin is the scroll position over a larger content.
#pragma once

#include "platform/foundation/Delegate.h"
#include "platform/ui/View.h"

namespace ui {

class ScrollView;

struct EdgeInsets {
    double top = 0, left = 0, bottom = 0, right = 0;
    bool operator==(const EdgeInsets&) const = default;
};

class ScrollViewDelegate {
public:
    virtual ~ScrollViewDelegate() = default;
    virtual void scrollViewDidScroll(ScrollView* scrollView) {}
    virtual void scrollViewDidZoom(ScrollView* scrollView) {}
};

class ScrollView : public View {
public:
    explicit ScrollView(Rect frame = {});
    const char* className() const override { return "ScrollView"; }

    Size contentSize() const { return contentSize_; }
    void setContentSize(Size s) { contentSize_ = s; }
    // The scroll position is the bounds origin. Setting it tells the
    // delegate (scrollViewDidScroll) and asks for layout.
    Point contentOffset() const { return bounds().origin; }
    void setContentOffset(Point p, bool animated = false);
    EdgeInsets contentInset() const { return inset_; }
    void setContentInset(EdgeInsets e) { inset_ = e; }
    // Scrolls the least amount that brings `r` (content coordinates) into view.
    void scrollRectToVisible(Rect r, bool animated);

    bool isScrollEnabled() const { return scrollEnabled_; }
    void setScrollEnabled(bool b) { scrollEnabled_ = b; }
    bool isPagingEnabled() const { return paging_; }
    void setPagingEnabled(bool b) { paging_ = b; }
    bool bounces() const { return bounces_; }
    void setBounces(bool b) { bounces_ = b; }
    bool showsVerticalScrollIndicator() const { return vIndicator_; }
    void setShowsVerticalScrollIndicator(bool b) { vIndicator_ = b; }
    bool showsHorizontalScrollIndicator() const { return hIndicator_; }
    void setShowsHorizontalScrollIndicator(bool b) { hIndicator_ = b; }
    double zoomScale() const { return zoom_; }
    void setZoomScale(double z);
    double minimumZoomScale() const { return minZoom_; }
    void setMinimumZoomScale(double z) { minZoom_ = z; }
    double maximumZoomScale() const { return maxZoom_; }
    void setMaximumZoomScale(double z) { maxZoom_ = z; }

    ScrollViewDelegate* delegate() const { return delegate_.get(); }
    void setDelegate(ScrollViewDelegate* d) { delegate_ = d; }

private:
    Size contentSize_;
    EdgeInsets inset_;
    bool scrollEnabled_ = true, paging_ = false, bounces_ = true, vIndicator_ = true, hIndicator_ = true;
    double zoom_ = 1, minZoom_ = 1, maxZoom_ = 1;
    ns::WeakDelegate<ScrollViewDelegate> delegate_;
};

}  // namespace ui
