#include "app/tablet/FollouUSViewController.h"

namespace app {

void FollouUSViewController::loadView() {
    auto root = ui::View::make(ui::makeRect(0, 0, 540, 620));
    auto close = ui::Button::make(ui::makeRect(10, 10, 100, 40), kCloseTitle);
    close->addTarget(this, &FollouUSViewController::clicCerrar, ui::ControlEventTouchUpInside);
    root->addSubview(close);
    setView(root);
}

void FollouUSViewController::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    setTitle(kTitle);
}

void FollouUSViewController::clicCerrar(ns::Object*) { dismissViewControllerAnimated(true); }

}  // namespace app
