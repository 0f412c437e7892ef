// The follow-us screen, presented by the hub's share button in a form
// sheet. For now it shows its title and closes itself; its list of
// follow-us rows comes with the marketing screens.
#pragma once

#include "platform/ui/Control.h"
#include "platform/ui/ViewController.h"

namespace app {

class FollouUSViewController : public ui::ViewController {
public:
    static constexpr const char* kTitle = "Follow us";
    static constexpr const char* kCloseTitle = "Close";

    const char* className() const override { return "FollouUSViewController"; }

    void clicCerrar(ns::Object* sender);
    void loadView() override;
    void viewDidLoad() override;
};

}  // namespace app
