#include "app/marketing/EmbeddedMailViewController.h"

#include "app/AppConfig.h"
#include "app/Localization.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"

namespace app {

void EmbeddedMailViewController::loadView() {
    auto root = ui::View::make(ui::Screen::main()->bounds());
    root->setBackgroundColor(ui::Color::white());
    root->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    setView(root);
}

void EmbeddedMailViewController::viewWillAppear(bool animated) {
    ui::ViewController::viewWillAppear(animated);
    // Once per screen: a screen that already embeds its composer (or had
    // one) does not build another when it appears again.
    if (!view()->subviews().empty() || embedded_) return;
    Mail m = mailContents();
    if (!mail::MailComposeViewController::canSendMail()) {
        ui::AlertView::make(m.noMailTitle, "This device is not setup to send mail.", this, "OK")->show();
        return;
    }
    embedded_ = true;
    auto composer = mail::MailComposeViewController::make();
    composer->setMailComposeDelegate(this);
    if (!m.recipients.empty()) composer->setToRecipients(m.recipients);
    composer->setSubject(m.subject);
    composer->setMessageBody(m.body, m.isHTML);
    composer->navigationBar()->setBarStyle(ui::BarStyle::Black);
    composer->view()->setFrame(view()->frame());
    mailViewController_ = composer;
    view()->addSubview(ns::Ref<ui::View>(composer->view()));
}

std::vector<ui::ViewController*> EmbeddedMailViewController::visibleChildViewControllers() const {
    if (mailViewController_ && mailViewController_->isViewLoaded() && mailViewController_->view()->superview())
        return {mailViewController_.get()};
    return {};
}

std::vector<ui::ViewController*> EmbeddedMailViewController::childViewControllers() const {
    if (mailViewController_) return {mailViewController_.get()};
    return {};
}

void EmbeddedMailViewController::mailComposeControllerDidFinishWithResult(mail::MailComposeViewController* controller,
                                                                          mail::MailComposeResult result, ns::Error*) {
    // A message that could not be written: the embedded composer stays, with
    // its alert, for the user to correct or cancel.
    if (result == mail::MailComposeResult::Failed) return;
    auto keep = ns::keepAlive(this);
    if (controller && controller->isViewLoaded()) controller->view()->removeFromSuperview();
    leave();
}

void EmbeddedMailViewController::alertViewDidDismissWithButtonIndex(ui::AlertView*, long) {
    auto keep = ns::keepAlive(this);
    leave();
}

void EmbeddedMailViewController::leave() {
    // Pops this screen only while it is the one on top of its stack.
    if (auto* nav = navigationController(); nav && nav->topViewController() == this) nav->popViewControllerAnimated(true);
}

// -- Tell-a-friend ---------------------------------------------------------------------------

void buildShareViewInterface(ShareViewController& c) {
    ui::Rect screen = ui::Screen::main()->bounds();
    auto root = ui::View::make(ui::makeRect(0, 0, screen.size.width, screen.size.height - 44));
    root->setBackgroundColor(ui::Color::white());
    root->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    c.setView(root);
}

void ShareViewController::loadView() { buildShareViewInterface(*this); }

EmbeddedMailViewController::Mail ShareViewController::mailContents() const {
    Mail m;
    m.subject = localizedString("New Tarnwick Veltra Media App!");
    std::string site = kMakerWebSiteAddress;
    m.body = localizedString("Hello!  Check out the new Tarnwick Veltra Media Job Search App.  You can download "
                             "directly from the Appstore or visit ") +
             "<a href=\"" + site + "\">" + site + "</a>" +
             localizedString(" for more information on Tarnwick and the App.");
    m.isHTML = true;
    m.noMailTitle = "Sending mail";
    return m;
}

// -- Evangelist ------------------------------------------------------------------------------

EmbeddedMailViewController::Mail AceEmailViewController::mailContents() const {
    Mail m;
    m.recipients = {kContactMailAddress};
    m.subject = "I want to be a Tarnwick Ace! (evangelist)";
    m.body = "Hello Tarnwick!  I think I would make a great rep because... (3 lines max)\n\nMy name is:\n"
             "University/Company:\nE-mail:";
    m.isHTML = false;
    m.noMailTitle = "Become a Tarnwick Ace!";
    return m;
}

}  // namespace app
