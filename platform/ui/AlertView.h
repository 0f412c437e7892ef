// Alerts and action sheets. Shown ones are recorded (newest on top) until a
// button is pressed or code dismisses them; the shown list keeps them alive.
//
// Button indexes follow the order the buttons were added: an alert's cancel
// button is index 0 when given, other buttons follow; an action sheet lists
// destructive, then other buttons, then cancel last.
//
// A user's press (pressButtonAtIndex, what the driver does) tells the
// delegate clickedButtonAtIndex, then willDismiss, then didDismiss.
// dismissWithClickedButtonIndex (code) tells only willDismiss/didDismiss.
#pragma once

#include <string>
#include <vector>

#include "platform/foundation/Delegate.h"
#include "platform/ui/TextField.h"
#include "platform/ui/View.h"

namespace ui {

class AlertView;
class ActionSheet;

class AlertViewDelegate {
public:
    virtual ~AlertViewDelegate() = default;
    virtual void alertViewClickedButtonAtIndex(AlertView* a, long index) {}
    virtual void alertViewCancel(AlertView* a) {}
    virtual void willPresentAlertView(AlertView* a) {}
    virtual void didPresentAlertView(AlertView* a) {}
    virtual void alertViewWillDismissWithButtonIndex(AlertView* a, long index) {}
    virtual void alertViewDidDismissWithButtonIndex(AlertView* a, long index) {}
};

class ActionSheetDelegate {
public:
    virtual ~ActionSheetDelegate() = default;
    virtual void actionSheetClickedButtonAtIndex(ActionSheet* s, long index) {}
    virtual void actionSheetCancel(ActionSheet* s) {}
    virtual void willPresentActionSheet(ActionSheet* s) {}
    virtual void didPresentActionSheet(ActionSheet* s) {}
    virtual void actionSheetWillDismissWithButtonIndex(ActionSheet* s, long index) {}
    virtual void actionSheetDidDismissWithButtonIndex(ActionSheet* s, long index) {}
};

// What alerts and sheets have in common.
class Panel : public View {
public:
    const char* className() const override { return "Panel"; }
    const std::string& title() const { return title_; }
    void setTitle(std::string t) { title_ = std::move(t); }
    const std::vector<std::string>& buttonTitles() const { return buttons_; }
    long numberOfButtons() const { return static_cast<long>(buttons_.size()); }
    std::string buttonTitleAtIndex(long i) const;
    // Index of the first button with the title, or -1.
    long indexOfButtonWithTitle(const std::string& t) const;
    long cancelButtonIndex() const { return cancel_; }
    void setCancelButtonIndex(long i) { cancel_ = i; }
    bool isVisible() const;

    // Appends a button; returns its index.
    long addButtonWithTitle(std::string title);
    // A user's press of button `index` (see above). False when out of range
    // or not shown.
    bool pressButtonAtIndex(long index);
    bool pressButtonWithTitle(const std::string& title);
    void dismissWithClickedButtonIndex(long index, bool animated);

    // The shown panels, oldest first (the last one is on top).
    static std::vector<ns::Ref<Panel>> visiblePanels();
    static Panel* topPanel();
    // Forgets every shown panel without telling their delegates: what a
    // relaunch does (app::launch), and how a test clears the screen.
    static void resetShown();

protected:
    void showPanel();
    virtual void tellClicked(long index) = 0;
    virtual void tellWillPresent() = 0;
    virtual void tellDidPresent() = 0;
    virtual void tellWillDismiss(long index) = 0;
    virtual void tellDidDismiss(long index) = 0;
    void removePanel();

    std::string title_;
    std::vector<std::string> buttons_;
    long cancel_ = -1;
};

class AlertView : public Panel {
public:
    enum class Style { Default, SecureTextInput, PlainTextInput, LoginAndPasswordInput };

    // `otherButtons` follow the cancel button (index 0 when given).
    AlertView(std::string title, std::string message, AlertViewDelegate* delegate,
              std::string cancelButtonTitle, std::vector<std::string> otherButtons = {});
    const char* className() const override { return "AlertView"; }
    static ns::Ref<AlertView> make(std::string title, std::string message, AlertViewDelegate* delegate,
                                   std::string cancelButtonTitle, std::vector<std::string> others = {}) {
        return ns::make<AlertView>(std::move(title), std::move(message), delegate,
                                   std::move(cancelButtonTitle), std::move(others));
    }

    const std::string& message() const { return message_; }
    void setMessage(std::string m) { message_ = std::move(m); }
    AlertViewDelegate* delegate() const { return delegate_.get(); }
    void setDelegate(AlertViewDelegate* d) { delegate_ = d; }
    long firstOtherButtonIndex() const { return cancel_ >= 0 ? (numberOfButtons() > 1 ? 1 : -1) : (numberOfButtons() ? 0 : -1); }
    Style alertViewStyle() const { return style_; }
    // Makes the style's text fields (login: "Login" and "Password").
    void setAlertViewStyle(Style s);
    TextField* textFieldAtIndex(long i) const;

    // Puts the alert on top of the shown ones.
    void show();

private:
    void tellClicked(long index) override;
    void tellWillPresent() override;
    void tellDidPresent() override;
    void tellWillDismiss(long index) override;
    void tellDidDismiss(long index) override;
    std::string message_;
    Style style_ = Style::Default;
    std::vector<ns::Ref<TextField>> fields_;
    ns::WeakDelegate<AlertViewDelegate> delegate_;
};

class ActionSheet : public Panel {
public:
    ActionSheet(std::string title, ActionSheetDelegate* delegate, std::string cancelButtonTitle,
                std::string destructiveButtonTitle, std::vector<std::string> otherButtons = {});
    const char* className() const override { return "ActionSheet"; }
    static ns::Ref<ActionSheet> make(std::string title, ActionSheetDelegate* delegate, std::string cancel,
                                     std::string destructive, std::vector<std::string> others = {}) {
        return ns::make<ActionSheet>(std::move(title), delegate, std::move(cancel), std::move(destructive),
                                     std::move(others));
    }

    long destructiveButtonIndex() const { return destructive_; }
    ActionSheetDelegate* delegate() const { return delegate_.get(); }
    void setDelegate(ActionSheetDelegate* d) { delegate_ = d; }
    // Where it was shown from (recorded; all show the same way here).
    void showInView(View* v);
    void showFromBarButtonItem(ns::Object* item, bool animated);
    void showFromRect(Rect r, View* v, bool animated);
    View* shownInView() const { return shownIn_.lock().get(); }

private:
    void tellClicked(long index) override;
    void tellWillPresent() override;
    void tellDidPresent() override;
    void tellWillDismiss(long index) override;
    void tellDidDismiss(long index) override;
    long destructive_ = -1;
    ns::Weak<View> shownIn_;
    ns::WeakDelegate<ActionSheetDelegate> delegate_;
};

}  // namespace ui
