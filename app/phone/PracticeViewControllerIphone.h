// The phone's Practice tab. For now it shows its title; the screen itself
// comes with the phone's practice and search screens.
#pragma once

#include "platform/ui/Label.h"
#include "platform/ui/ViewController.h"

namespace app {

class PracticeViewControllerIphone : public ui::ViewController {
public:
    const char* className() const override { return "PracticeViewControllerIphone"; }
    void loadView() override;
    void viewDidLoad() override;
    bool shouldAutorotate() override { return true; }
    unsigned supportedInterfaceOrientations() override { return 2; }

private:
    ns::Ref<ui::Label> titleLabel_;
};

}  // namespace app
