// The hub's bar of deck buttons. Each button's tag is a deck's position in
// "Jobframework.plist"; a tap shows that deck in the list and its first row
// in the card pane, and logs "MenuButtonClick".
#pragma once

#include <array>

#include "platform/ui/Control.h"
#include "platform/ui/View.h"

namespace app {

class ViewBotonera : public ui::View {
public:
    static constexpr size_t kButtonCount = 5;

    explicit ViewBotonera(ui::Rect frame) : ui::View(frame) {}
    const char* className() const override { return "ViewBotonera"; }
    // A bar with its five buttons (tags 0 to 4), titled by the decks.
    static ns::Ref<ViewBotonera> make(ui::Rect frame);

    ui::Button* btn1() const { return buttons_[0].get(); }
    ui::Button* btn2() const { return buttons_[1].get(); }
    ui::Button* btn3() const { return buttons_[2].get(); }
    ui::Button* btn4() const { return buttons_[3].get(); }
    ui::Button* btn5() const { return buttons_[4].get(); }
    ui::Button* button(size_t i) const { return i < kButtonCount ? buttons_[i].get() : nullptr; }
    void setButton(size_t i, ns::Ref<ui::Button> b) { if (i < kButtonCount) buttons_[i] = std::move(b); }

    // Deck button: the deck at the sender's tag. A tag past the end of the
    // deck list does nothing.
    void ClicBtn(ns::Object* sender);

private:
    std::array<ns::Ref<ui::Button>, kButtonCount> buttons_;
};

// The bar's interface: five buttons side by side, tagged 0 to 4 and titled
// with the deck at that position ("Deck N" where there is none).
void buildViewBotoneraInterface(ViewBotonera& bar);

}  // namespace app
