// The tablet share screen for a card, presented by the hub in a form sheet.
// For now it shows its title and the card's title and closes itself; the
// e-mail, Facebook and Twitter buttons come with the sharing framework.
#pragma once

#include "platform/foundation/Dictionary.h"
#include "platform/ui/Control.h"
#include "platform/ui/Label.h"
#include "platform/ui/ViewController.h"

namespace app {

class shareViewController_iPad : public ui::ViewController {
public:
    static constexpr const char* kTitle = "Share";
    static constexpr const char* kCloseTitle = "Close";

    const char* className() const override { return "shareViewController_iPad"; }

    ns::Dictionary* dicCarta() const { return dicCarta_.get(); }
    void setDicCarta(ns::Ref<ns::Dictionary> card) { dicCarta_ = std::move(card); }

    void clicCerrar(ns::Object* sender);
    void loadView() override;
    void viewDidLoad() override;

private:
    ns::Ref<ns::Dictionary> dicCarta_;
    ns::Ref<ui::Label> lblCarta_;
};

}  // namespace app
