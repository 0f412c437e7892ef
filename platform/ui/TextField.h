// Text entry: the one-line text field and the search bar. Typing comes from
// the driver (Driver::typeText), which asks the delegate as a keyboard would.
#pragma once

#include <string>

#include "platform/foundation/String.h"
#include "platform/ui/Control.h"
#include "platform/foundation/Delegate.h"

namespace ui {

class TextField;
class SearchBar;

enum class KeyboardType { Default, ASCIICapable, NumbersAndPunctuation, URL, NumberPad, PhonePad, EmailAddress };
enum class ReturnKeyType { Default, Go, Next, Done, Search, Send };
enum class AutocorrectionType { Default, No, Yes };
enum class AutocapitalizationType { None, Words, Sentences, AllCharacters };
enum class BorderStyle { None, Line, Bezel, RoundedRect };

class TextFieldDelegate {
public:
    virtual ~TextFieldDelegate() = default;
    virtual bool textFieldShouldBeginEditing(TextField* f) { return true; }
    virtual void textFieldDidBeginEditing(TextField* f) {}
    virtual bool textFieldShouldEndEditing(TextField* f) { return true; }
    virtual void textFieldDidEndEditing(TextField* f) {}
    // `range` in UTF-16 units of the current text; `replacement` is UTF-8.
    virtual bool textFieldShouldChangeCharactersInRange(TextField* f, ns::Range range,
                                                        const std::string& replacement) {
        return true;
    }
    virtual bool textFieldShouldClear(TextField* f) { return true; }
    virtual bool textFieldShouldReturn(TextField* f) { return true; }
};

class TextField : public Control {
public:
    explicit TextField(Rect frame = {}) : Control(frame) {}
    const char* className() const override { return "TextField"; }
    static ns::Ref<TextField> make(Rect frame = {}) { return ns::make<TextField>(frame); }

    const std::string& text() const { return text_; }
    void setText(std::string t);
    const std::string& placeholder() const { return placeholder_; }
    void setPlaceholder(std::string p) { placeholder_ = std::move(p); }
    bool isSecureTextEntry() const { return secure_; }
    void setSecureTextEntry(bool b) { secure_ = b; }
    KeyboardType keyboardType() const { return keyboard_; }
    void setKeyboardType(KeyboardType k) { keyboard_ = k; }
    ReturnKeyType returnKeyType() const { return returnKey_; }
    void setReturnKeyType(ReturnKeyType r) { returnKey_ = r; }
    AutocorrectionType autocorrectionType() const { return autocorrection_; }
    void setAutocorrectionType(AutocorrectionType a) { autocorrection_ = a; }
    AutocapitalizationType autocapitalizationType() const { return autocap_; }
    void setAutocapitalizationType(AutocapitalizationType a) { autocap_ = a; }
    BorderStyle borderStyle() const { return border_; }
    void setBorderStyle(BorderStyle b) { border_ = b; }
    const ns::Ref<Font>& font() const { return font_; }
    void setFont(ns::Ref<Font> f) { font_ = std::move(f); }
    const ns::Ref<Color>& textColor() const { return textColor_; }
    void setTextColor(ns::Ref<Color> c) { textColor_ = std::move(c); }

    TextFieldDelegate* delegate() const { return delegate_.get(); }
    void setDelegate(TextFieldDelegate* d) { delegate_ = d; }

    // Focus: asks textFieldShouldBeginEditing, then tells DidBeginEditing
    // and sends EditingDidBegin. Resigning asks ShouldEndEditing likewise.
    bool canBecomeFirstResponder() const override { return isEnabled(); }
    bool becomeFirstResponder() override;
    bool resignFirstResponder() override;
    bool isEditing() const { return editing_; }

    // What a keyboard does: inserts `s` at the end when the delegate agrees
    // (textFieldShouldChangeCharactersInRange), sending EditingChanged.
    // Returns false when the delegate refused.
    bool insertText(const std::string& s);
    // Deletes the last character (never half a surrogate pair).
    bool deleteBackward();
    // The return key: textFieldShouldReturn, then EditingDidEndOnExit.
    bool pressReturn();
    // A tap focuses the field.
    void touchesEnded(const TouchSet& touches, Event* event) override;

private:
    // Typing changes the end of the text in place, so a long text costs
    // time in proportion to its length, not to its square.
    std::string text_, placeholder_;
    size_t length_ = 0;  // of text_, in UTF-16 units
    bool secure_ = false, editing_ = false;
    KeyboardType keyboard_ = KeyboardType::Default;
    ReturnKeyType returnKey_ = ReturnKeyType::Default;
    AutocorrectionType autocorrection_ = AutocorrectionType::Default;
    AutocapitalizationType autocap_ = AutocapitalizationType::Sentences;
    BorderStyle border_ = BorderStyle::None;
    ns::Ref<Font> font_;
    ns::Ref<Color> textColor_;
    ns::WeakDelegate<TextFieldDelegate> delegate_;
};

class SearchBarDelegate {
public:
    virtual ~SearchBarDelegate() = default;
    virtual bool searchBarShouldBeginEditing(SearchBar* b) { return true; }
    virtual void searchBarTextDidBeginEditing(SearchBar* b) {}
    virtual bool searchBarShouldEndEditing(SearchBar* b) { return true; }
    virtual void searchBarTextDidEndEditing(SearchBar* b) {}
    virtual void searchBarTextDidChange(SearchBar* b, const std::string& text) {}
    virtual void searchBarSearchButtonClicked(SearchBar* b) {}
    virtual void searchBarCancelButtonClicked(SearchBar* b) {}
};

class SearchBar : public View {
public:
    explicit SearchBar(Rect frame = {}) : View(frame) {}
    const char* className() const override { return "SearchBar"; }

    const std::string& text() const { return text_; }
    // Setting the text in code does not tell the delegate.
    void setText(std::string t) { text_ = std::move(t); }
    const std::string& placeholder() const { return placeholder_; }
    void setPlaceholder(std::string p) { placeholder_ = std::move(p); }
    const std::string& prompt() const { return prompt_; }
    void setPrompt(std::string p) { prompt_ = std::move(p); }
    // The bar's "Cancel" button, at its right end: a real button (a tap on
    // it tells searchBarCancelButtonClicked), shown while showsCancelButton.
    bool showsCancelButton() const { return showsCancel_; }
    void setShowsCancelButton(bool b, bool animated = false);
    Button* cancelButton() const { return cancel_.get(); }
    SearchBarDelegate* delegate() const { return delegate_.get(); }
    void setDelegate(SearchBarDelegate* d) { delegate_ = d; }

    bool canBecomeFirstResponder() const override { return true; }
    bool becomeFirstResponder() override;
    bool resignFirstResponder() override;
    bool isEditing() const { return editing_; }

    // Typing: appends `s` and tells searchBarTextDidChange with the new text.
    void insertText(const std::string& s);
    void deleteBackward();
    // Replaces the whole text as typing would (tells the delegate).
    void replaceText(const std::string& s);
    void pressSearch();  // searchBarSearchButtonClicked
    void pressCancel();  // searchBarCancelButtonClicked
    void touchesEnded(const TouchSet& touches, Event* event) override;

private:
    void textChanged();
    std::string text_, placeholder_, prompt_;
    bool showsCancel_ = false, editing_ = false;
    ns::Ref<Button> cancel_;
    ns::WeakDelegate<SearchBarDelegate> delegate_;
};

}  // namespace ui
