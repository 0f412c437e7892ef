#include "platform/ui/Label.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/foundation/String.h"

namespace ui {

Label::Label(Rect frame) : View(frame), font_(Font::systemFontOfSize(17)), textColor_(Color::black()) {
    setUserInteractionEnabled(false);
}

namespace {
double em(const Font* font) { return font ? font->pointSize() : 17; }
double units(const std::string& s) { return static_cast<double>(ns::utf8ToUTF16(s).size()); }
}  // namespace

Size textSize(const std::string& text, const Font* font) {
    double e = em(font);
    double widest = 0;
    int lines = 1;
    size_t start = 0;
    while (true) {
        size_t nl = text.find('\n', start);
        std::string line = text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
        widest = std::max(widest, units(line) * e * 0.5);
        if (nl == std::string::npos) break;
        ++lines;
        start = nl + 1;
    }
    return {std::ceil(widest), std::ceil(lines * e * 1.2)};
}

Size textSizeConstrained(const std::string& text, const Font* font, Size constraint, LineBreakMode mode) {
    double e = em(font);
    double charW = e * 0.5, lineH = e * 1.2;
    double maxW = constraint.width > 0 ? constraint.width : 1e18;
    // Lay the words out line by line.
    std::vector<double> lineWidths{0};
    auto place = [&](double w, bool spaceBefore) {
        double& cur = lineWidths.back();
        double add = (spaceBefore && cur > 0 ? charW : 0) + w;
        if (cur > 0 && cur + add > maxW) {
            lineWidths.push_back(0);
            add = w;
        }
        // A word wider than a line is broken into characters.
        while (add > maxW && maxW >= charW) {
            double fit = std::floor(maxW / charW) * charW;
            lineWidths.back() = fit;
            lineWidths.push_back(0);
            add -= fit;
        }
        lineWidths.back() += add;
    };
    size_t i = 0;
    while (i <= text.size()) {
        size_t end = text.find_first_of(" \n", i);
        if (end == std::string::npos) end = text.size();
        std::string word = text.substr(i, end - i);
        if (!word.empty()) place(units(word) * charW, true);
        if (end < text.size() && text[end] == '\n') lineWidths.push_back(0);
        i = end + 1;
    }
    (void)mode;
    size_t lines = lineWidths.size();
    if (constraint.height > 0) lines = std::min(lines, std::max<size_t>(1, size_t(constraint.height / lineH)));
    double widest = 0;
    for (size_t k = 0; k < lines; ++k) widest = std::max(widest, lineWidths[k]);
    return {std::ceil(std::min(widest, maxW)), std::ceil(double(lines) * lineH)};
}

Size Label::sizeThatFits(Size s) const {
    if (lines_ == 1) return textSize(text_, font_.get());
    Size c{s.width, 0};
    if (lines_ > 0) c.height = lines_ * (font_ ? font_->pointSize() : 17) * 1.2;
    return textSizeConstrained(text_, font_.get(), c, lineBreak_);
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
