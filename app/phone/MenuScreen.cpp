#include "app/phone/MenuScreen.h"

#include "app/AppConfig.h"
#include "app/AppDelegate.h"
#include "app/ContentModel.h"
#include "app/MailSupport.h"
#include "app/forms/UIViewSingUp.h"
#include "app/marketing/EmbeddedMailViewController.h"
#include "app/phone/CardViewController.h"
#include "app/phone/MenuViewController.h"
#include "platform/foundation/Number.h"
#include "platform/ui/Application.h"
#include "platform/ui/Image.h"

namespace app {

void MenuScreen::EnviarMail(const ns::Dictionary* mail) {
    presentMailComposer(this, this, rowString(mail, "subject"), rowString(mail, "mensaje"), {rowString(mail, "para")});
}

void MenuScreen::mailComposeControllerDidFinishWithResult(mail::MailComposeViewController*,
                                                          mail::MailComposeResult result, ns::Error*) {
    if (result == mail::MailComposeResult::Failed) return;  // the composer stays with its alert
    dismissViewControllerAnimated(true);
}

void MenuScreen::sendToWeb() { ui::Application::shared()->openURL(kMakerWebSite); }
void MenuScreen::sendToTwitter() { ui::Application::shared()->openURL(kMakerTwitterPage); }

double MenuScreen::tableViewHeightForRowAtIndexPath(ui::TableView*, ui::IndexPath ip) {
    ns::Dictionary* row = rowAtIndexPath(ip);
    if (auto* n = row ? dynamic_cast<ns::Number*>(row->objectForKey("tamano")) : nullptr)
        return static_cast<double>(n->integerValue());
    if (auto* s = row ? dynamic_cast<ns::String*>(row->objectForKey("tamano")) : nullptr)
        return static_cast<double>(s->intValue());
    return 55;
}

ns::Dictionary* MenuScreen::rowAtIndexPath(ui::IndexPath ip) const {
    return rowAt(arrayTable_.get(), static_cast<size_t>(ip.row));
}

void MenuScreen::setViewWithTable(const ns::Ref<ui::View>& root) {
    ui::Rect b = root->bounds();
    tableView_ = ui::TableView::make(ui::makeRect(0, 60, b.size.width, b.size.height - 60 - 49));
    tableView_->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    root->addSubview(tableView_);
    setView(root);
    tableView_->setDataSource(this);
    tableView_->setDelegate(this);
}

ns::Ref<ui::TableViewCell> MenuScreen::menuCell(ui::TableView* t, ui::IndexPath ip, bool clearBackground) {
    std::string identifier = "CellIdentifier_" + std::to_string(ip.row);
    auto cell = t->dequeueReusableCellWithIdentifier(identifier);
    if (!cell) {
        cell = ui::TableViewCell::make(ui::TableViewCellStyle::Default, identifier);
        cell->textLabel()->setFont(ui::Font::systemFontOfSize(16));
        cell->setAccessoryType(ui::TableViewCellAccessoryType::DisclosureIndicator);
        cell->setSelectionStyle(ui::TableViewCellSelectionStyle::Gray);
        if (clearBackground) cell->setBackgroundColor(ui::Color::clear());
    }
    ns::Dictionary* row = rowAtIndexPath(ip);
    if (rowHas(row, "rightAligned")) {
        cell->setAccessoryType(ui::TableViewCellAccessoryType::None);
        cell->setSelectionStyle(ui::TableViewCellSelectionStyle::None);
        cell->textLabel()->setTextAlignment(ui::TextAlignment::Right);
    }
    if (rowHas(row, "Image")) cell->imageView()->setImage(ui::Image::imageNamed(rowString(row, "Image")));
    std::string colour = rowString(row, "color");
    bool dark = colour == "silver" || colour == "black";
    cell->textLabel()->setTextColor(dark ? ui::Color::black() : ui::Color::white());
    return cell;
}

void MenuScreen::setMenuCellTitle(ui::TableViewCell* cell, const ns::Dictionary* row) {
    auto title = rowTitle(row);
    cell->textLabel()->setText(title ? std::string(title->lowercaseString()->utf8()) : std::string());
    cell->textLabel()->setBackgroundColor(ui::Color::clear());
}

void MenuScreen::setCellBackgroundImage(ui::TableViewCell* cell, const std::string& image) {
    auto bg = ui::ImageView::make(cell->bounds());
    bg->setImage(ui::Image::imageNamed(image));
    cell->setBackgroundView(bg);
}

void MenuScreen::pushSubMenu(ui::NavigationController* nav, ns::Dictionary* row, const std::string& defaultBack) {
    if (!nav) return;
    auto sub = ns::make<MenuViewController>();
    sub->setArrayTable(ns::Ref<ns::Array>(rowChildren(row)));
    nav->pushViewController(sub, true);
    sub->view();
    sub->titleLabel()->setText(rowString(row, "Title"));
    sub->imgback()->setHidden(false);
    sub->imgLogo()->setHidden(true);
    sub->btnBack()->setHidden(false);
    sub->btnBack()->setTitle(rowHas(row, "back") ? rowString(row, "back") : defaultBack);
    sub->setFilas(sub->arrayTable() ? static_cast<long>(sub->arrayTable()->count()) : 0);
    sub->tableView()->reloadData();
}

void MenuScreen::pushCard(ui::NavigationController* nav, ns::Dictionary* row, const std::string& back) {
    if (!nav) return;
    auto card = ns::make<CardViewController>();
    card->setDicCarta(ns::Ref<ns::Dictionary>(row));
    card->setIsRandomCard(false);
    nav->pushViewController(card, true);
    card->view();
    card->btnBack()->setTitle(back);
    card->lblTitle()->setHidden(true);
    std::string page = rowHas(row, "ActionData") ? rowString(row, "ActionData")
                                                 : cardPageNameForIndex(rowString(row, "index"));
    card->cargaHtmlWebView(page);
    card->cambiarColorPagina(rowString(row, "color"));
}

namespace {
template <class Overlay>
void showOverlay() {
    AppDelegate* d = AppDelegate::shared();
    ui::Window* w = d && d->window() ? static_cast<ui::Window*>(d->window()) : ui::Application::shared()->keyWindow();
    if (!w || !w->rootViewController()) return;
    ui::View* root = w->rootViewController()->view();
    ui::Rect b = root->bounds();
    auto overlay = ns::make<Overlay>(ui::makeRect(0, 60, b.size.width, b.size.height));
    root->addSubview(overlay);
    overlay->dibujarElementos();
}
}  // namespace

void showReferralOverlay() { showOverlay<UIViewReferral>(); }
void showSignUpOverlay() { showOverlay<UIViewSingUp>(); }

void pushShareView(ui::NavigationController* nav) {
    if (!nav) return;
    nav->pushViewController(ns::make<ShareViewController>(), true);
}

}  // namespace app
