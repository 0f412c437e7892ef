#include "app/phone/ShareCardViewController_Iphone.h"

#include "app/ContentModel.h"
#include "app/MailSupport.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"

namespace app {

std::string ShareCardViewController_Iphone::mailSubject() {
    return "A great card from the Tarnwick Veltra Media Job Search App";
}

std::string ShareCardViewController_Iphone::mailBody(const std::string& post) {
    // The card's address comes from the deck or a saved group: written as
    // HTML text, so a quote or "<" in it cannot end the link or add markup.
    std::string shown = escapeHTML(post);
    return "Here is a card from the Tarnwick Veltra Media Job Search App that I found useful.  "
           "I thought you might like it as well <a href=\"http://" +
           shown + "\">" + shown + "</a> .";
}

// The screen's interface: a back button along the top, and the three share
// buttons below it.
void ShareCardViewController_Iphone::loadView() {
    ui::Rect b = ui::Screen::main()->bounds();
    auto root = ui::View::make(b);
    root->setBackgroundColor(ui::Color::white());
    btnBack_ = ui::Button::make(ui::makeRect(5, 10, 200, 40), "Back");
    btnBack_->addTarget(this, &ShareCardViewController_Iphone::clicClose, ui::ControlEventTouchUpInside);
    root->addSubview(btnBack_);
    double w = b.width() - 40;
    btnEmail_ = ui::Button::make(ui::makeRect(20, 90, w, 50), "E-mail");
    btnEmail_->addTarget(this, &ShareCardViewController_Iphone::clicEmail, ui::ControlEventTouchUpInside);
    root->addSubview(btnEmail_);
    btnFacebook_ = ui::Button::make(ui::makeRect(20, 150, w, 50), "Facebook");
    btnFacebook_->addTarget(this, &ShareCardViewController_Iphone::clicFacebook, ui::ControlEventTouchUpInside);
    root->addSubview(btnFacebook_);
    btnTwitter_ = ui::Button::make(ui::makeRect(20, 210, w, 50), "Twitter");
    btnTwitter_->addTarget(this, &ShareCardViewController_Iphone::clicTwitter, ui::ControlEventTouchUpInside);
    root->addSubview(btnTwitter_);
    setView(root);
}

void ShareCardViewController_Iphone::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    // "Title", else "title"; with neither the interface's title stays.
    if (auto t = rowTitle(dicCarta_.get())) btnBack_->setTitle(std::string(t->utf8()));
}

void ShareCardViewController_Iphone::clicEmail(ns::Object*) { showMail(); }

void ShareCardViewController_Iphone::clicClose(ns::Object*) {
    if (auto* nav = navigationController()) nav->popViewControllerAnimated(true);
}

void ShareCardViewController_Iphone::showMail() {
    // Left already (the E-mail touch ended after the user went elsewhere):
    // neither a composer nor the alert comes up over another screen.
    if (!isViewLoaded() || !view()->window()) return;
    if (!mail::MailComposeViewController::canSendMail()) {
        ui::AlertView::make("Sending mail", "This device is not setup to send mail.", this, "OK")->show();
        return;
    }
    presentMailComposer(this, this, mailSubject(), mailBody(rowString(dicCarta_.get(), "post")), {});
}

void ShareCardViewController_Iphone::mailComposeControllerDidFinishWithResult(mail::MailComposeViewController* c,
                                                                              mail::MailComposeResult result,
                                                                              ns::Error*) {
    if (result == mail::MailComposeResult::Failed) return;  // the composer stays with its alert
    if (c) c->dismissViewControllerAnimated(true);
}

void ShareCardViewController_Iphone::alertViewDidDismissWithButtonIndex(ui::AlertView*, long) {
    // Dismisses what this screen presented; the screen is pushed, not
    // presented, so with nothing presented it stays.
    dismissViewControllerAnimated(true);
}

}  // namespace app
