#include "app/phone/MenuViewController.h"

#include "app/AppConfig.h"
#include "app/ContentModel.h"
#include "app/phone/CardViewController.h"
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
    setViewWithTable(root);
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
    ns::Dictionary* row = rowAtIndexPath(ip);
    if (rowHas(row, "colorIntro")) {
        setCellBackgroundImage(cell.get(), stripImageName(rowString(row, "colorIntro")));
    } else if (rowHas(row, "color")) {
        std::string c = rowString(row, "color");
        if (c == "Negro") cell->setBackgroundColor(ui::Color::black());
        else setCellBackgroundImage(cell.get(), stripImageName(c));
    }
    setMenuCellTitle(cell.get(), row);
    if (rowHas(row, "lleva")) {
        cell->setAccessoryType(ui::TableViewCellAccessoryType::None);
        cell->setSelectionStyle(ui::TableViewCellSelectionStyle::None);
    }
    return cell;
}

void MenuViewController::tableViewDidSelectRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) {
    auto keep = ns::keepAlive(this);
    t->deselectRowAtIndexPath(ip, true);
    ns::Ref<ns::Dictionary> row(rowAtIndexPath(ip));
    if (!row) return;
    if (rowHas(row.get(), "lleva")) return;
    std::string action = rowString(row.get(), "Action");
    if (action == "referral:") {
        showReferralOverlay();
        return;
    }
    // A deck row asking for the sign-up form opens it, as the More tab's
    // and the tablet list's rows do (not an empty card page).
    if (action == "singUp:") {
        showSignUpOverlay();
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
    if (rowChildren(row.get())) pushSubMenu(navigationController(), row.get(), titleLabel_->text());
    else pushCard(navigationController(), row.get(), titleLabel_->text());
}

void MenuViewController::clicBtnBack(ns::Object*) {
    if (auto* nav = navigationController()) nav->popViewControllerAnimated(true);
}

void MenuViewController::sendToFacebook() {
    ui::Application::shared()->openURL(std::string(kMakerFacebookPage) + "?fref=ts");
}

}  // namespace app
