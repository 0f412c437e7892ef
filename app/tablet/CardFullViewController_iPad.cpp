#include "app/tablet/CardFullViewController_iPad.h"

#include "app/AppDelegate.h"
#include "app/ContentModel.h"
#include "app/tablet/TabletNotifications.h"
#include "platform/ui/Application.h"
#include "platform/ui/Image.h"

namespace app {

void buildCardFullViewController_iPadInterface(CardFullViewController_iPad& c) {
    // Laid out for the way the interface is turned now (a card opened in
    // landscape is wider than high), 40 points in from every edge.
    ui::Rect screen = ui::Application::shared()->interfaceBounds();
    ui::Rect b = ui::makeRect(0, 0, screen.size.width - 80, screen.size.height - 80);
    auto root = ui::View::make(b);
    auto fondo = ui::ImageView::make(b);
    fondo->setAutoresizingMask(ui::AutoresizingFlexibleAll);
    root->addSubview(fondo);
    auto header = ui::ImageView::make(ui::makeRect(0, 0, b.size.width, 80));
    header->setAutoresizingMask(ui::AutoresizingFlexibleWidth);
    root->addSubview(header);
    auto close = ui::Button::make(ui::makeRect(b.size.width - 110, 20, 100, 40), CardFullViewController_iPad::kCloseTitle);
    close->setAutoresizingMask(ui::AutoresizingFlexibleLeftMargin);
    close->addTarget(&c, &CardFullViewController_iPad::clicCerrar, ui::ControlEventTouchUpInside);
    root->addSubview(close);
    auto web = ui::WebView::make(ui::makeRect(0, 80, b.size.width, b.size.height - 80));
    web->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    root->addSubview(web);
    c.setView(root);
    c.setOutlets(header, fondo, web, close);
}

void CardFullViewController_iPad::setOutlets(ns::Ref<ui::ImageView> header, ns::Ref<ui::ImageView> fondo,
                                             ns::Ref<ui::WebView> web, ns::Ref<ui::Button> close) {
    imgheader_ = std::move(header);
    imgfondo_ = std::move(fondo);
    webView_ = std::move(web);
    close_ = std::move(close);
}

void CardFullViewController_iPad::loadView() { buildCardFullViewController_iPadInterface(*this); }

void CardFullViewController_iPad::viewDidLoad() {
    if (AppDelegate* d = AppDelegate::shared()) {
        if (EventWindow* w = d->window()) {
            w->setChild(this);
            w->setBlockSuperEvent(false);
        }
    }
    savedFont_ = kFont;
    std::string index = rowString(dicCarta_.get(), "index");
    cargaHtmlWebView(!index.empty() ? cardPageNameForIndex(index) : rowString(dicCarta_.get(), "ActionData"));
    cambiarColorPagina(rowString(dicCarta_.get(), "color"));
    ui::ViewController::viewDidLoad();
}

void CardFullViewController_iPad::clicCerrar(ns::Object*) { postTablet(kClicCerrar); }

void CardFullViewController_iPad::cargaHtmlWebView(const std::string& pageName) {
    if (webView_) loadCardPage(webView_.get(), pageName, savedFont_);
}

void CardFullViewController_iPad::cambiarColorPagina(const std::string& colour) {
    if (imgheader_) imgheader_->setImage(ui::Image::imageNamed(headerImageName(colour)));
    if (imgfondo_) imgfondo_->setImage(ui::Image::imageNamed(backgroundImageName(colour)));
}

}  // namespace app
