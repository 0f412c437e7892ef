// The framework's heads-up display: a 160 x 160 translucent square in the
// middle of the key window with a spinner and a message while a sharer
// works, or a large check mark and a message when it is done (then it fades
// away by itself: 0.6 s wait, 0.4 s fade). One per process.
#pragma once

#include <string>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Timer.h"
#include "platform/ui/Label.h"
#include "platform/ui/View.h"

namespace sharing {

class SHRActivityIndicator : public ui::View {
public:
    SHRActivityIndicator();
    const char* className() const override { return "SHRActivityIndicator"; }
    static SHRActivityIndicator* currentIndicator();

    void displayActivity(const std::string& message);
    void displayCompleted(const std::string& message);
    void setCenterMessage(const std::string& message);
    void setSubMessage(const std::string& message);
    void showSpinner();
    void show();
    void hideAfterDelay();
    void hide();
    void hidden();
    void persist();
    // Turns the indicator to the status bar's orientation (1 portrait:
    // identity, 2 upside down: pi, 3 landscape right: pi/2, 4 landscape
    // left: -pi/2; other values leave it); animated over 0.3 s by default.
    void setProperRotation(bool animated = true);
    static ui::Transform rotationForOrientation(int orientation, bool* known);

    ui::Label* centerMessageLabel() const { return centerMessageLabel_.get(); }
    ui::Label* subMessageLabel() const { return subMessageLabel_.get(); }
    ui::ActivityIndicatorView* spinner() const { return spinner_.get(); }
    // True while shown in a window.
    bool isShown() const { return superview() != nullptr; }

private:
    void cancelDelayedHide();
    ns::Ref<ui::Label> centerMessageLabel_, subMessageLabel_;
    ns::Ref<ui::ActivityIndicatorView> spinner_;
    ns::Ref<ns::Timer> hideTimer_;
    ns::ObserverToken orientationToken_;
};

}  // namespace sharing
