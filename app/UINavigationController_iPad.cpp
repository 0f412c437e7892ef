#include "app/UINavigationController_iPad.h"

namespace app {

bool UINavigationController_iPad::shouldAutorotate() {
    auto stack = viewControllers();  // a copy: a controller may change the stack
    for (auto& vc : stack) vc->shouldAutorotate();
    return true;
}

unsigned UINavigationController_iPad::supportedInterfaceOrientations() {
    auto stack = viewControllers();
    for (auto& vc : stack) vc->supportedInterfaceOrientations();
    return 30;
}

}  // namespace app
