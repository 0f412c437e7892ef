#include "app/phone/UITabBarController_iPhone.h"

namespace app {

ui::ViewController* UITabBarController_iPhone::visibleScreen() const {
    ui::ViewController* selected = selectedViewController();
    if (auto* nav = dynamic_cast<ui::NavigationController*>(selected)) return nav->visibleViewController();
    return selected;
}

bool UITabBarController_iPhone::shouldAutorotate() {
    ui::ViewController* v = visibleScreen();
    return v ? v->shouldAutorotate() : true;
}

unsigned UITabBarController_iPhone::supportedInterfaceOrientations() {
    ui::ViewController* v = visibleScreen();
    return v ? v->supportedInterfaceOrientations() : 2;
}

}  // namespace app
