#include "platform/ui/Label.h"

#include <algorithm>

#include "platform/foundation/String.h"

namespace ui {

Label::Label(Rect frame) : View(frame), font_(Font::systemFontOfSize(17)), textColor_(Color::black()) {
    setUserInteractionEnabled(false);
}

Size Label::sizeThatFits(Size) const {
    double em = font_ ? font_->pointSize() : 17;
    double chars = static_cast<double>(ns::utf8ToUTF16(text_).size());
    return {chars * em * 0.5, em * 1.2};
}

ImageView::ImageView(ns::Ref<Image> image) : View(Rect{{0, 0}, image ? image->size() : Size{}}), image_(std::move(image)) {
    setUserInteractionEnabled(false);
}

Size ImageView::sizeThatFits(Size s) const { return image_ ? image_->size() : s; }

ActivityIndicatorView::ActivityIndicatorView(Style style)
    : View(makeRect(0, 0, style == Style::WhiteLarge ? 37 : 20, style == Style::WhiteLarge ? 37 : 20)), style_(style) {
    setHidden(true);
}

void ActivityIndicatorView::startAnimating() {
    animating_ = true;
    if (hidesWhenStopped_) setHidden(false);
}

void ActivityIndicatorView::stopAnimating() {
    animating_ = false;
    if (hidesWhenStopped_) setHidden(true);
}

void ActivityIndicatorView::setHidesWhenStopped(bool b) {
    hidesWhenStopped_ = b;
    if (b && !animating_) setHidden(true);
}

}  // namespace ui
