// Static text, and the image view.
#pragma once

#include <string>

#include "platform/ui/Image.h"
#include "platform/ui/View.h"

namespace ui {

enum class TextAlignment { Left, Center, Right };
enum class LineBreakMode { WordWrap, CharacterWrap, Clip, TruncateHead, TruncateTail, TruncateMiddle };

// Text measurement with fixed metrics (no font files here): every character
// (UTF-16 unit) is 0.5 em wide and a line is 1.2 em high, em being the font's
// point size (17 for nil). Sizes are whole points, rounded up.
Size textSize(const std::string& text, const Font* font);
// The size of `text` wrapped at word boundaries (characters, for a word
// wider than the width) to `constraint.width`, and cut to the whole lines
// that fit `constraint.height`. A zero constraint dimension means unlimited.
Size textSizeConstrained(const std::string& text, const Font* font, Size constraint,
                         LineBreakMode mode = LineBreakMode::WordWrap);

class Label : public View {
public:
    explicit Label(Rect frame = {});
    const char* className() const override { return "Label"; }
    static ns::Ref<Label> make(Rect frame = {}) { return ns::make<Label>(frame); }

    const std::string& text() const { return text_; }
    void setText(std::string t) { text_ = std::move(t); setNeedsDisplay(); }
    const ns::Ref<Font>& font() const { return font_; }
    void setFont(ns::Ref<Font> f) { font_ = std::move(f); }
    const ns::Ref<Color>& textColor() const { return textColor_; }
    void setTextColor(ns::Ref<Color> c) { textColor_ = std::move(c); }
    TextAlignment textAlignment() const { return alignment_; }
    void setTextAlignment(TextAlignment a) { alignment_ = a; }
    int numberOfLines() const { return lines_; }
    void setNumberOfLines(int n) { lines_ = n; }
    LineBreakMode lineBreakMode() const { return lineBreak_; }
    void setLineBreakMode(LineBreakMode m) { lineBreak_ = m; }
    bool adjustsFontSizeToFitWidth() const { return adjusts_; }
    void setAdjustsFontSizeToFitWidth(bool b) { adjusts_ = b; }
    bool isHighlighted() const { return highlighted_; }
    void setHighlighted(bool b) { highlighted_ = b; }
    // textSize of the text in the label's font (wrapped to the label's width
    // when it has more than one line).
    Size sizeThatFits(Size s) const override;

private:
    std::string text_;
    ns::Ref<Font> font_;
    ns::Ref<Color> textColor_;
    TextAlignment alignment_ = TextAlignment::Left;
    int lines_ = 1;
    LineBreakMode lineBreak_ = LineBreakMode::TruncateTail;
    bool adjusts_ = false;
    bool highlighted_ = false;
};

class ImageView : public View {
public:
    explicit ImageView(Rect frame = {}) : View(frame) { setUserInteractionEnabled(false); }
    // A view the size of the image, at 0,0.
    explicit ImageView(ns::Ref<Image> image);
    const char* className() const override { return "ImageView"; }
    static ns::Ref<ImageView> make(Rect frame = {}) { return ns::make<ImageView>(frame); }
    static ns::Ref<ImageView> withImage(ns::Ref<Image> image) { return ns::make<ImageView>(std::move(image)); }

    const ns::Ref<Image>& image() const { return image_; }
    void setImage(ns::Ref<Image> i) { image_ = std::move(i); setNeedsDisplay(); }
    const ns::Ref<Image>& highlightedImage() const { return highlightedImage_; }
    void setHighlightedImage(ns::Ref<Image> i) { highlightedImage_ = std::move(i); }
    Size sizeThatFits(Size s) const override;

private:
    ns::Ref<Image> image_;
    ns::Ref<Image> highlightedImage_;
};

// A spinning wheel; the state is all there is.
class ActivityIndicatorView : public View {
public:
    enum class Style { WhiteLarge, White, Gray };
    explicit ActivityIndicatorView(Style style = Style::White);
    const char* className() const override { return "ActivityIndicatorView"; }

    Style style() const { return style_; }
    void setStyle(Style s) { style_ = s; }
    void startAnimating();
    void stopAnimating();
    bool isAnimating() const { return animating_; }
    // When set (the default) the view is hidden while stopped.
    bool hidesWhenStopped() const { return hidesWhenStopped_; }
    void setHidesWhenStopped(bool b);

private:
    Style style_;
    bool animating_ = false;
    bool hidesWhenStopped_ = true;
};

}  // namespace ui
