#include "app/phone/MoreViewController_iPhone.h"

#include "app/AppConfig.h"
#include "app/ContentModel.h"
#include "app/phone/CardViewController.h"
#include "app/phone/MenuSupport.h"
#include "app/phone/MenuViewController.h"
#include "platform/ui/Application.h"
#include "platform/ui/Image.h"
#include "platform/ui/NavigationController.h"

namespace app {

void MoreViewController_iPhone::loadView() {
    ui::Rect b = ui::Screen::main()->bounds();
    auto root = ui::View::make(b);
    root->setBackgroundColor(ui::Color::darkGray());
    auto title = ui::Label::make(ui::makeRect(10, 10, b.size.width - 20, 40));
    title->setText("More");
    root->addSubview(title);
    tableView_ = ui::TableView::make(ui::makeRect(0, 60, b.size.width, b.size.height - 60 - 49));
    tableView_->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    root->addSubview(tableView_);
    setView(root);
    tableView_->setDataSource(this);
    tableView_->setDelegate(this);
}

void MoreViewController_iPhone::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    if (auto* nav = navigationController()) nav->setNavigationBarHidden(true);
    rate_ = ns::make<RatePromptManager>();
    arrayTable_ = bundleArray(kMoreFile);
    tableView_->reloadData();
}

ns::Ref<ui::TableViewCell> MoreViewController_iPhone::tableViewCellForRowAtIndexPath(ui::TableView* t,
                                                                                    ui::IndexPath ip) {
    auto cell = menuCell(t, ip, true);
    ns::Dictionary* row = rowAt(arrayTable_.get(), static_cast<size_t>(ip.row));
    if (rowHas(row, "rightAligned")) {
        cell->setAccessoryType(ui::TableViewCellAccessoryType::None);
        cell->setSelectionStyle(ui::TableViewCellSelectionStyle::None);
        cell->textLabel()->setTextAlignment(ui::TextAlignment::Right);
    }
    if (rowHas(row, "Image")) cell->imageView()->setImage(ui::Image::imageNamed(rowString(row, "Image")));
    cell->textLabel()->setTextColor(menuTextColour(row));
    std::string image;
    if (rowHas(row, "colorIntro")) image = stripImageName(rowString(row, "colorIntro"));
    else if (std::string c = rowString(row, "color"); c == "black") image = "menu-silver.png";
    else if (!c.empty()) image = stripImageName(c);
    if (!image.empty()) {
        auto bg = ui::ImageView::make(cell->bounds());
        bg->setImage(ui::Image::imageNamed(image));
        cell->setBackgroundView(bg);
    }
    auto title = rowTitle(row);
    cell->textLabel()->setText(title ? std::string(title->lowercaseString()->utf8()) : std::string());
    cell->textLabel()->setBackgroundColor(ui::Color::clear());
    return cell;
}

double MoreViewController_iPhone::tableViewHeightForRowAtIndexPath(ui::TableView*, ui::IndexPath ip) {
    return menuRowHeight(rowAt(arrayTable_.get(), static_cast<size_t>(ip.row)));
}

void MoreViewController_iPhone::tableViewDidSelectRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) {
    auto keep = ns::keepAlive(this);
    t->deselectRowAtIndexPath(ip, true);
    ns::Ref<ns::Dictionary> row(rowAt(arrayTable_.get(), static_cast<size_t>(ip.row)));
    if (!row) return;
    std::string action = rowString(row.get(), "Action");
    if (action == "rate") { rate_->checkForRatePrompt1(); return; }
    if (action == "singUp:") { showSignUpOverlay(); return; }
    if (action == "referral:") { showReferralOverlay(); return; }
    if (auto* mail = dynamic_cast<ns::Dictionary*>(row->objectForKey("email"))) {
        EnviarMail(mail);
        return;
    }
    if (!row->objectForKey("Title")) return;
    if (action == "viewEmail:") { pushShareView(navigationController()); return; }
    if (action == "followTwitter:") { sendToTwitter(); return; }
    if (action == "followFacebook:") { sendToFacebook(); return; }
    auto* nav = navigationController();
    if (!nav) return;
    if (ns::Array* children = rowChildren(row.get())) {
        auto sub = ns::make<MenuViewController>();
        sub->setArrayTable(ns::Ref<ns::Array>(children));
        nav->pushViewController(sub, true);
        sub->view();
        sub->titleLabel()->setText(rowString(row.get(), "Title"));
        sub->imgback()->setHidden(false);
        sub->imgLogo()->setHidden(true);
        sub->btnBack()->setHidden(false);
        sub->btnBack()->setTitle(rowHas(row.get(), "back") ? rowString(row.get(), "back") : "Back");
        sub->setFilas(static_cast<long>(children->count()));
        sub->tableView()->reloadData();
        return;
    }
    auto card = ns::make<CardViewController>();
    card->setDicCarta(row);
    card->setIsRandomCard(false);
    nav->pushViewController(card, true);
    card->view();
    card->btnBack()->setTitle("Back");
    card->lblTitle()->setHidden(true);
    card->cargaHtmlWebView(rowHas(row.get(), "ActionData") ? rowString(row.get(), "ActionData")
                                                           : cardPageNameForIndex(rowString(row.get(), "index")));
    card->cambiarColorPagina(rowString(row.get(), "color"));
}

void MoreViewController_iPhone::EnviarMail(const ns::Dictionary* mail) { enviarMailDesde(this, this, mail); }

void MoreViewController_iPhone::mailComposeControllerDidFinishWithResult(mail::MailComposeViewController*, mail::MailComposeResult,
                                                         ns::Error*) {
    dismissViewControllerAnimated(true);
}
void MoreViewController_iPhone::sendToWeb() { ui::Application::shared()->openURL(kMakerWebSite); }
void MoreViewController_iPhone::sendToTwitter() { ui::Application::shared()->openURL(kMakerTwitterPage); }
void MoreViewController_iPhone::sendToFacebook() { ui::Application::shared()->openURL(kMakerFacebookPage); }

}  // namespace app
