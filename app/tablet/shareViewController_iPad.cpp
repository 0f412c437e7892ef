#include "app/tablet/shareViewController_iPad.h"

#include "app/ContentModel.h"
#include "app/MailSupport.h"
#include "platform/foundation/Format.h"
#include "platform/ui/Image.h"
#include "platform/ui/NavigationController.h"
#include "sharing/sharers/facebook/SHRFacebook.h"
#include "sharing/sharers/twitter/SHRTwitter.h"

namespace app {

void buildShareViewController_iPadInterface(shareViewController_iPad& s) {
    auto root = ui::View::make(ui::makeRect(0, 0, 540, 620));
    auto title = ui::Label::make(ui::makeRect(120, 10, 300, 40));
    title->setText(shareViewController_iPad::kTitle);
    title->setTextAlignment(ui::TextAlignment::Center);
    root->addSubview(title);
    s.btnClose_ = ui::Button::make(ui::makeRect(10, 10, 100, 40), shareViewController_iPad::kCloseTitle);
    s.btnClose_->addTarget(&s, &shareViewController_iPad::clicClose, ui::ControlEventTouchUpInside);
    s.lblCarta_ = ui::Label::make(ui::makeRect(20, 60, 500, 40));
    s.btnEmail_ = ui::Button::make(ui::makeRect(170, 140, 200, 50), shareViewController_iPad::kEmailTitle);
    s.btnEmail_->addTarget(&s, &shareViewController_iPad::clicEmail, ui::ControlEventTouchUpInside);
    s.btnFacebook_ = ui::Button::make(ui::makeRect(170, 210, 200, 50), shareViewController_iPad::kFacebookTitle);
    s.btnFacebook_->addTarget(&s, &shareViewController_iPad::clicFacebook, ui::ControlEventTouchUpInside);
    s.btnTwitter_ = ui::Button::make(ui::makeRect(170, 280, 200, 50), shareViewController_iPad::kTwitterTitle);
    s.btnTwitter_->addTarget(&s, &shareViewController_iPad::clicTwitter, ui::ControlEventTouchUpInside);
    for (auto& v : {ns::Ref<ui::View>(s.btnClose_), ns::Ref<ui::View>(s.lblCarta_), ns::Ref<ui::View>(s.btnEmail_),
                    ns::Ref<ui::View>(s.btnFacebook_), ns::Ref<ui::View>(s.btnTwitter_)})
        root->addSubview(v);
    s.setView(root);
}

void shareViewController_iPad::loadView() { buildShareViewController_iPadInterface(*this); }

void shareViewController_iPad::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    setTitle(kTitle);
    if (auto* nav = navigationController()) nav->setNavigationBarHidden(true);
    auto title = rowTitle(dicCarta_.get());
    lblCarta_->setText(title ? std::string(title->utf8()) : std::string());
}

void shareViewController_iPad::clicClose(ns::Object*) {
    if (auto* nav = navigationController()) nav->dismissViewControllerAnimated(true);
    else dismissViewControllerAnimated(true);
}

void shareViewController_iPad::clicEmail(ns::Object*) { showMail(); }

std::string shareViewController_iPad::mailSubject() {
    return "A great card from the Tarnwick Veltra Media Job Search App";
}

std::string shareViewController_iPad::mailBody(const std::string& post) {
    // The card's address written as HTML text (see the phone's share screen).
    return ns::format("Here is a card from the Tarnwick Veltra Media Job Search App that I found useful.  I thought "
                      "you might like it as well <a href=\"http://%@\">%@</a> .",
                      escapeHTML(post), escapeHTML(post));
}

void shareViewController_iPad::showMail() {
    // Left already (the E-mail touch ended after the user went elsewhere):
    // neither a composer nor the alert comes up over another screen.
    if (!isViewLoaded() || !view()->window()) return;
    if (!mail::MailComposeViewController::canSendMail()) {
        ui::AlertView::make("Sending mail", "This device is not setup to send mail.", this, "OK")->show();
        return;
    }
    presentMailComposer(this, this, mailSubject(), mailBody(rowString(dicCarta_.get(), "post")), {});
}

void shareViewController_iPad::mailComposeControllerDidFinishWithResult(mail::MailComposeViewController*,
                                                                        mail::MailComposeResult result, ns::Error*) {
    // A message that could not be written: the composer stays, with its
    // alert, for the user to correct or cancel.
    if (result == mail::MailComposeResult::Failed) return;
    // Closes the composer only: with nothing presented the call would close
    // the share screen itself.
    if (presentedViewController()) dismissViewControllerAnimated(true);
}

void shareViewController_iPad::alertViewDidDismissWithButtonIndex(ui::AlertView*, long) {
    dismissViewControllerAnimated(true);
}

std::string shareViewController_iPad::shareTitle(const std::string& post) {
    return ns::format("Great card I found in the Tarnwick Veltra Media Job Search app, check it out! %@", post);
}

ns::Ref<sharing::SHRItem> shareViewController_iPad::iconItem(const std::string& title) {
    return sharing::SHRItem::image(ui::Image::imageNamed(kIconName), ns::String::make(title));
}

ns::Ref<sharing::SHRItem> shareViewController_iPad::shareItem() const {
    return iconItem(shareTitle(rowString(dicCarta_.get(), "post")));
}

void shareViewController_iPad::clicFacebook(ns::Object*) { sharing::SHRFacebook::shareItem(shareItem()); }

void shareViewController_iPad::clicTwitter(ns::Object*) {
    sharing::SHRSharer::shareItem<sharing::SHRTwitter>(shareItem());
}

}  // namespace app
