#include "app/tablet/shareViewController_iPad.h"

#include "app/ContentModel.h"

namespace app {

void shareViewController_iPad::loadView() {
    auto root = ui::View::make(ui::makeRect(0, 0, 540, 620));
    auto close = ui::Button::make(ui::makeRect(10, 10, 100, 40), kCloseTitle);
    close->addTarget(this, &shareViewController_iPad::clicCerrar, ui::ControlEventTouchUpInside);
    root->addSubview(close);
    lblCarta_ = ui::Label::make(ui::makeRect(20, 60, 500, 40));
    root->addSubview(lblCarta_);
    setView(root);
}

void shareViewController_iPad::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    setTitle(kTitle);
    auto title = rowTitle(dicCarta_.get());
    lblCarta_->setText(title ? title->utf8() : std::string());
}

void shareViewController_iPad::clicCerrar(ns::Object*) { dismissViewControllerAnimated(true); }

}  // namespace app
