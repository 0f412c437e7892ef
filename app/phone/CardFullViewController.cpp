#include "app/phone/CardFullViewController.h"

#include "app/AppDelegate.h"
#include "app/ContentModel.h"
#include "platform/ui/Application.h"
#include "platform/ui/Image.h"

namespace app {

// The interface: background, a slim header with the title, and the page
// over the rest of the (landscape) screen.
void CardFullViewController::loadView() {
    ui::Rect s = ui::Screen::main()->bounds();
    ui::Rect b = ui::makeRect(0, 0, s.height(), s.width());
    auto root = ui::View::make(b);
    imgfondo_ = ui::ImageView::make(b);
    imgfondo_->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    root->addSubview(imgfondo_);
    imgheader_ = ui::ImageView::make(ui::makeRect(0, 0, b.width(), 30));
    imgheader_->setAutoresizingMask(ui::AutoresizingFlexibleWidth);
    root->addSubview(imgheader_);
    btnBack_ = ui::Button::make(ui::makeRect(5, 0, 80, 30), "");
    btnBack_->setHidden(true);
    root->addSubview(btnBack_);
    lblTitle_ = ui::Label::make(ui::makeRect(90, 0, b.width() - 180, 30));
    lblTitle_->setTextAlignment(ui::TextAlignment::Center);
    root->addSubview(lblTitle_);
    webView_ = ui::WebView::make(ui::makeRect(0, 30, b.width(), b.height() - 30));
    webView_->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    root->addSubview(webView_);
    setView(root);
}

void CardFullViewController::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    if (AppDelegate* d = AppDelegate::shared()) {
        if (EventWindow* w = d->window()) {
            w->setChild(this);
            w->setBlockSuperEvent(false);
        }
    }
    savedFont_ = 13;
    if (auto t = rowTitle(dicCarta_.get())) lblTitle_->setText(std::string(t->utf8()));
    std::string page = rowHas(dicCarta_.get(), "index") ? cardPageNameForIndex(rowString(dicCarta_.get(), "index"))
                                                        : rowString(dicCarta_.get(), "ActionData");
    if (!page.empty()) cargaHtmlWebView(page);
    cambiarColorPagina(rowString(dicCarta_.get(), "color"));
}

void CardFullViewController::cargaHtmlWebView(const std::string& page) { loadCardPage(webView(), page, savedFont_); }

void CardFullViewController::cambiarColorPagina(const std::string& colour) {
    view();
    imgheader_->setImage(ui::Image::imageNamed(headerImageName(colour)));
    imgfondo_->setImage(ui::Image::imageNamed(backgroundImageName(colour)));
}

bool CardFullViewController::shouldAutorotate() {
    ui::DeviceOrientation o = ui::Device::current()->orientation();
    if (o != ui::DeviceOrientation::LandscapeLeft && o != ui::DeviceOrientation::LandscapeRight) {
        auto keep = ns::keepAlive(this);
        dismissViewControllerAnimated(false);
    }
    return true;
}

}  // namespace app
