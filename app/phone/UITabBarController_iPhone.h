// The phone's tab bar controller. It answers the rotation questions with the
// answer of the screen shown in the selected tab's navigation controller, so
// a card page inside a tab can react to landscape.
#pragma once

#include "platform/ui/NavigationController.h"

namespace app {

class UITabBarController_iPhone : public ui::TabBarController {
public:
    const char* className() const override { return "UITabBarController_iPhone"; }
    bool shouldAutorotate() override;
    unsigned supportedInterfaceOrientations() override;

private:
    ui::ViewController* visibleScreen() const;
};

}  // namespace app
