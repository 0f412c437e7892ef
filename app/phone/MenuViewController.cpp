#include "app/phone/MenuViewController.h"

#include "app/AppConfig.h"
#include "app/ContentModel.h"
#include "app/phone/CardViewController.h"
#include "app/phone/MenuSupport.h"
#include "platform/ui/Application.h"
#include "platform/ui/Image.h"
#include "platform/ui/NavigationController.h"

namespace app {

// The interface file: logo and title at the top, a back button over its
// image (both hidden on a tab's root menu), and the table below.
void MenuViewController::loadView() {
    ui::Rect b = ui::Screen::main()->bounds();
    auto root = ui::View::make(b);
    root->setBackgroundColor(ui::Color::darkGray());
    imgLogo_ = ui::ImageView::make(ui::makeRect(5, 8, 44, 44));
    imgLogo_->setImage(ui::Image::imageNamed("icono-iPhone@2x.png"));
    root->addSubview(imgLogo_);
    imgback_ = ui::ImageView::make(ui::makeRect(5, 12, 90, 36));
    imgback_->setImage(ui::Image::imageNamed("menu-silver.png"));
    root->addSubview(imgback_);
    btnBack_ = ui::Button::make(ui::makeRect(5, 12, 90, 36), "Back");
    btnBack_->addTarget(this, &MenuViewController::clicBtnBack, ui::ControlEventTouchUpInside);
    root->addSubview(btnBack_);
    titleLabel_ = ui::Label::make(ui::makeRect(100, 10, b.size.width - 110, 40));
    root->addSubview(titleLabel_);
    tableView_ = ui::TableView::make(ui::makeRect(0, 60, b.size.width, b.size.height - 60 - 49));
    tableView_->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    root->addSubview(tableView_);
    setView(root);
    tableView_->setDataSource(this);
    tableView_->setDelegate(this);
}

void MenuViewController::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    filas_ = arrayTable_ ? static_cast<long>(arrayTable_->count()) : 0;
    if (auto* nav = navigationController()) nav->setNavigationBarHidden(true);
    btnBack_->setHidden(true);
    imgLogo_->setHidden(false);
    imgback_->setHidden(true);
    titleLabel_->setText(NombreTi_);
    tableView_->reloadData();
}

ns::Ref<ui::TableViewCell> MenuViewController::tableViewCellForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) {
    auto cell = menuCell(t, ip, false);
    ns::Dictionary* row = rowAt(arrayTable_.get(), static_cast<size_t>(ip.row));
    if (rowHas(row, "rightAligned")) {
        cell->setAccessoryType(ui::TableViewCellAccessoryType::None);
        cell->setSelectionStyle(ui::TableViewCellSelectionStyle::None);
        cell->textLabel()->setTextAlignment(ui::TextAlignment::Right);
    }
    if (rowHas(row, "Image")) cell->imageView()->setImage(ui::Image::imageNamed(rowString(row, "Image")));
    cell->textLabel()->setTextColor(menuTextColour(row));
    if (rowHas(row, "colorIntro")) {
        auto bg = ui::ImageView::make(cell->bounds());
        bg->setImage(ui::Image::imageNamed(stripImageName(rowString(row, "colorIntro"))));
        cell->setBackgroundView(bg);
    } else if (rowHas(row, "color")) {
        std::string c = rowString(row, "color");
        if (c == "Negro") {
            cell->setBackgroundColor(ui::Color::black());
        } else {
            auto bg = ui::ImageView::make(cell->bounds());
            bg->setImage(ui::Image::imageNamed(stripImageName(c)));
            cell->setBackgroundView(bg);
        }
    }
    auto title = rowTitle(row);
    cell->textLabel()->setText(title ? std::string(title->lowercaseString()->utf8()) : std::string());
    cell->textLabel()->setBackgroundColor(ui::Color::clear());
    if (rowHas(row, "lleva")) {
        cell->setAccessoryType(ui::TableViewCellAccessoryType::None);
        cell->setSelectionStyle(ui::TableViewCellSelectionStyle::None);
    }
    return cell;
}

double MenuViewController::tableViewHeightForRowAtIndexPath(ui::TableView*, ui::IndexPath ip) {
    return menuRowHeight(rowAt(arrayTable_.get(), static_cast<size_t>(ip.row)));
}

void MenuViewController::tableViewDidSelectRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) {
    auto keep = ns::keepAlive(this);
    t->deselectRowAtIndexPath(ip, true);
    ns::Ref<ns::Dictionary> row(rowAt(arrayTable_.get(), static_cast<size_t>(ip.row)));
    if (!row) return;
    if (rowHas(row.get(), "lleva")) return;
    std::string action = rowString(row.get(), "Action");
    if (action == "referral:") {
        showReferralOverlay();
        return;
    }
    if (auto* mail = dynamic_cast<ns::Dictionary*>(row->objectForKey("email"))) {
        EnviarMail(mail);
        return;
    }
    if (!row->objectForKey("Title") && rowHas(row.get(), "rightAligned")) return;
    if (rowHas(row.get(), "Action")) {
        if (action == "viewEmail:") { pushShareView(navigationController()); return; }
        if (action == "followTwitter:") { sendToTwitter(); return; }
        if (action == "followFacebook:") { sendToFacebook(); return; }
    }
    if (rowChildren(row.get())) pushSubMenu(row.get());
    else pushCard(row.get());
}

void MenuViewController::pushSubMenu(ns::Dictionary* row) {
    auto* nav = navigationController();
    if (!nav) return;
    auto sub = ns::make<MenuViewController>();
    sub->setArrayTable(ns::Ref<ns::Array>(rowChildren(row)));
    nav->pushViewController(sub, true);
    sub->view();
    auto title = rowTitle(row);
    sub->titleLabel()->setText(rowString(row, "Title"));
    sub->imgback()->setHidden(false);
    sub->imgLogo()->setHidden(true);
    sub->btnBack()->setHidden(false);
    std::string back = rowHas(row, "back") ? rowString(row, "back") : titleLabel_->text();
    sub->btnBack()->setTitle(back);
    sub->setFilas(sub->arrayTable() ? static_cast<long>(sub->arrayTable()->count()) : 0);
    sub->tableView()->reloadData();
}

void MenuViewController::pushCard(ns::Dictionary* row) {
    auto* nav = navigationController();
    if (!nav) return;
    auto card = ns::make<CardViewController>();
    card->setDicCarta(ns::Ref<ns::Dictionary>(row));
    card->setIsRandomCard(false);
    nav->pushViewController(card, true);
    card->view();
    card->btnBack()->setTitle(titleLabel_->text());
    card->lblTitle()->setHidden(true);
    std::string page = rowHas(row, "ActionData") ? rowString(row, "ActionData")
                                                 : cardPageNameForIndex(rowString(row, "index"));
    card->cargaHtmlWebView(page);
    card->cambiarColorPagina(rowString(row, "color"));
}

void MenuViewController::clicBtnBack(ns::Object*) {
    if (auto* nav = navigationController()) nav->popViewControllerAnimated(true);
}

void MenuViewController::EnviarMail(const ns::Dictionary* mail) { enviarMailDesde(this, this, mail); }

void MenuViewController::mailComposeControllerDidFinishWithResult(mail::MailComposeViewController*, mail::MailComposeResult,
                                                         ns::Error*) {
    dismissViewControllerAnimated(true);
}

void MenuViewController::sendToWeb() { ui::Application::shared()->openURL(kMakerWebSite); }
void MenuViewController::sendToTwitter() { ui::Application::shared()->openURL(kMakerTwitterPage); }
void MenuViewController::sendToFacebook() {
    ui::Application::shared()->openURL(std::string(kMakerFacebookPage) + "?fref=ts");
}

}  // namespace app
