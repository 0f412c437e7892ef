#include "app/tablet/HomeViewController.h"

#include "analytics/Analytics.h"
#include "app/AppDelegate.h"
#include "app/ContentModel.h"
#include "app/tablet/MenuViewController_iPad.h"
#include "platform/ui/Application.h"
#include "platform//ui/Image.h"
#include "platform/ui/NavigationController.h"

namespace app {

// The interface file: the background and a column of deck buttons, one for
// each deck row (a row with "Children") of the deck list.
void HomeViewController::loadView() {
    ui::Rect b = ui::Screen::main()->bounds();
    auto root = ui::View::make(b);
    root->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    imgFondo_ = ui::ImageView::make(b);
    imgFondo_->setAutoresizingMask(ui::AutoresizingFlexibleAll);
    root->addSubview(imgFondo_);
    AppDelegate* d = AppDelegate::shared();
    ns::Array* decks = d ? d->ArrayDeck() : nullptr;
    double y = 200;
    for (size_t i = 0; decks && i < decks->count(); ++i) {
        ns::Dictionary* row = rowAt(decks, i);
        auto title = rowTitle(row);
        if (!row || !title || !rowChildren(row)) continue;
        auto button = ui::Button::make(ui::makeRect(b.size.width / 2 - 200, y, 400, 60), std::string(title->utf8()));
        button->setTag(static_cast<long>(i));
        button->setAutoresizingMask(ui::AutoresizingFlexibleLeftMargin | ui::AutoresizingFlexibleRightMargin);
        button->addTarget(this, &HomeViewController::ClicBotones, ui::ControlEventTouchUpInside);
        root->addSubview(button);
        buttons_.push_back(button);
        y += 80;
    }
    setView(root);
}

void HomeViewController::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    chooseBackground(interfaceOrientation());
    if (auto* nav = navigationController()) nav->setNavigationBarHidden(true);
}

void HomeViewController::ClicBotones(ns::Object* sender) {
    auto* button = dynamic_cast<ui::View*>(sender);
    long t = button ? button->tag() : 0;
    auto hub = ns::make<MenuViewController_iPad>();
    hub->setIndexButtonInicio(t);
    analytics::Analytics::logEventWithParameters(
        "HomeButtonClick", ns::Dictionary::make({{"ButtonIndex", ns::Number::numberWithLong(t)}}).get());
    if (auto* nav = navigationController()) nav->pushViewController(hub, true);
}

void HomeViewController::chooseBackground(ui::InterfaceOrientation o) {
    bool portrait = o == ui::InterfaceOrientation::Portrait || o == ui::InterfaceOrientation::PortraitUpsideDown;
    if (imgFondo_)
        imgFondo_->setImage(ui::Image::imageNamed(portrait ? "fondo_ipad_portrait.png" : "fondo_ipad_landscape.png"));
}

bool HomeViewController::shouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation o) {
    chooseBackground(o);
    return true;
}

bool HomeViewController::shouldAutorotate() {
    chooseBackground(interfaceOrientation());
    return true;
}

}  // namespace app
