// The tablet's first screen after the splash: a full-screen background and
// one button per deck (the button's tag is the deck's position in
// "Jobframework.plist"); a button opens the hub for that deck.
#pragma once

#include <vector>

#include "platform/ui/Control.h"
#include "platform/ui/ViewController.h"

namespace app {

class HomeViewController : public ui::ViewController {
public:
    const char* className() const override { return "HomeViewController"; }

    // Opens the hub for the deck at the sender's tag.
    void ClicBotones(ns::Object* sender);

    void loadView() override;
    void viewDidLoad() override;
    bool shouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation o) override;
    bool shouldAutorotate() override;
    unsigned supportedInterfaceOrientations() override { return 30; }

    ui::ImageView* imgFondo() const { return imgFondo_.get(); }
    const std::vector<ns::Ref<ui::Button>>& deckButtons() const { return buttons_; }

private:
    void chooseBackground(ui::InterfaceOrientation o);
    ns::Ref<ui::ImageView> imgFondo_;
    std::vector<ns::Ref<ui::Button>> buttons_;
};

}  // namespace app
