// The tablet hub for one deck. This is the starting shape (the deck's title
// on screen); the hub with its list, card pane and buttons replaces it.
#pragma once

#include "platform/ui/Label.h"
#include "platform/ui/ViewController.h"

namespace app {

class MenuViewController_iPad : public ui::ViewController {
public:
    const char* className() const override { return "MenuViewController_iPad"; }

    // Position in "Jobframework.plist" of the deck the hub opens with.
    long indexButtonInicio() const { return indexButtonInicio_; }
    void setIndexButtonInicio(long i) { indexButtonInicio_ = i; }

    void loadView() override;
    void viewDidLoad() override;
    unsigned supportedInterfaceOrientations() override { return 30; }

private:
    long indexButtonInicio_ = 0;
    ns::Ref<ui::Label> lblTitulo_;
};

}  // namespace app
