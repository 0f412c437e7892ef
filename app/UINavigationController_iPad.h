// The navigation controller of both idioms. On rotation it asks every
// controller of its stack (a controller may update itself then: the tablet
// home screen swaps its background) and always agrees, for all orientations.
#pragma once

#include "platform/ui/NavigationController.h"

namespace app {

class UINavigationController_iPad : public ui::NavigationController {
public:
    UINavigationController_iPad() = default;
    explicit UINavigationController_iPad(ns::Ref<ui::ViewController> root)
        : ui::NavigationController(std::move(root)) {}
    const char* className() const override { return "UINavigationController_iPad"; }
    static ns::Ref<UINavigationController_iPad> withRoot(ns::Ref<ui::ViewController> root) {
        return ns::make<UINavigationController_iPad>(std::move(root));
    }

    bool shouldAutorotate() override;
    unsigned supportedInterfaceOrientations() override;
};

}  // namespace app
