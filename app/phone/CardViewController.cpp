#include "app/phone/CardViewController.h"

#include "app/ContentModel.h"
#include "platform/ui/Application.h"
#include "platform//ui/Image.h"
#include "platform/ui/NavigationController.h"

namespace app {

void CardViewController::loadView() {
    ui::Rect b = ui::Screen::main()->bounds();
    auto root = ui::View::make(b);
    imgCuerpo_ = ui::ImageView::make(b);
    root->addSubview(imgCuerpo_);
    imgCabeza_ = ui::ImageView::make(ui::makeRect(0, 0, b.size.width, 60));
    root->addSubview(imgCabeza_);
    btnBack_ = ui::Button::make(ui::makeRect(5, 10, 100, 40), "Back");
    btnBack_->addTarget(this, &CardViewController::clicBtnBack, ui::ControlEventTouchUpInside);
    root->addSubview(btnBack_);
    lblTitle_ = ui::Label::make(ui::makeRect(110, 10, b.size.width - 120, 40));
    root->addSubview(lblTitle_);
    webView_ = SwipeableWebView_ipad::make(ui::makeRect(0, 60, b.size.width, b.size.height - 60 - 49));
    root->addSubview(webView_);
    setView(root);
}

void CardViewController::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    if (dicCarta_) {
        auto t = rowTitle(dicCarta_.get());
        lblTitle_->setText(t ? t->utf8() : std::string());
    }
}

void CardViewController::cargaHtmlWebView(const std::string& page) {
    loadCardPage(webView(), page, savedFont_ ? savedFont_ : 13);
}

void CardViewController::cambiarColorPagina(const std::string& colour) {
    view();
    imgCabeza_->setImage(ui::Image::imageNamed(headerImageName(colour)));
    imgCuerpo_->setImage(ui::Image::imageNamed(backgroundImageName(colour)));
}

void CardViewController::clicBtnBack(ns::Object*) {
    if (auto* nav = navigationController()) nav->popViewControllerAnimated(true);
}

}  // namespace app
