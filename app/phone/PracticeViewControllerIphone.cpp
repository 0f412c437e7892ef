#include "app/phone/PracticeViewControllerIphone.h"

#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"

namespace app {

void PracticeViewControllerIphone::loadView() {
    ui::Rect b = ui::Screen::main()->bounds();
    auto root = ui::View::make(b);
    titleLabel_ = ui::Label::make(ui::makeRect(10, 10, b.size.width - 20, 40));
    titleLabel_->setText("Practice");
    root->addSubview(titleLabel_);
    setView(root);
}

void PracticeViewControllerIphone::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    if (auto* nav = navigationController()) nav->setNavigationBarHidden(true);
}

}  // namespace app
