#include "app/MailSupport.h"

#include "platform/ui/AlertView.h"

namespace app {

ns::Ref<mail::MailComposeViewController> presentMailComposer(ui::ViewController* screen,
                                                             mail::MailComposeViewControllerDelegate* delegate,
                                                             const std::string& subject,
                                                             const std::string& htmlBody,
                                                             const std::vector<std::string>& recipients) {
    // A screen the user has left (popped, closed, another tab shown) opens
    // no composer: one would come up over whatever is on the screen now,
    // for a screen that can no longer close it.
    if (!screen || !screen->isViewLoaded() || !screen->view()->window()) return nullptr;
    if (!mail::MailComposeViewController::canSendMail()) {
        ui::AlertView::make("Sending mail", "This device is not setup to send mail.", nullptr, "OK")->show();
        return nullptr;
    }
    auto composer = mail::MailComposeViewController::make();
    composer->setMailComposeDelegate(delegate);
    composer->setSubject(subject);
    composer->setMessageBody(htmlBody, true);
    composer->setToRecipients(recipients);
    composer->navigationBar()->setBarStyle(ui::BarStyle::Black);
    composer->view()->setFrame(screen->view()->frame());
    screen->presentViewController(composer, true);
    return composer;
}

}  // namespace app
