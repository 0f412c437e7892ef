#include "app/phone/MoreViewController_iPhone.h"

#include "app/AppConfig.h"
#include "app/ContentModel.h"
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
    setViewWithTable(root);
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
    ns::Dictionary* row = rowAtIndexPath(ip);
    std::string image;
    if (rowHas(row, "colorIntro")) image = stripImageName(rowString(row, "colorIntro"));
    else if (std::string c = rowString(row, "color"); c == "black") image = "menu-silver.png";
    else if (!c.empty()) image = stripImageName(c);
    if (!image.empty()) setCellBackgroundImage(cell.get(), image);
    setMenuCellTitle(cell.get(), row);
    return cell;
}

void MoreViewController_iPhone::tableViewDidSelectRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) {
    auto keep = ns::keepAlive(this);
    t->deselectRowAtIndexPath(ip, true);
    ns::Ref<ns::Dictionary> row(rowAtIndexPath(ip));
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
    if (rowChildren(row.get())) pushSubMenu(navigationController(), row.get(), "Back");
    else pushCard(navigationController(), row.get(), "Back");
}

void MoreViewController_iPhone::sendToFacebook() { ui::Application::shared()->openURL(kMakerFacebookPage); }

}  // namespace app
