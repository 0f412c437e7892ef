// Mail from the app's screens: the platform's mail composer when the device
// can send mail (the composed message lands in the outbox of the home
// folder), otherwise the "Sending mail" alert.
#pragma once

#include <string>
#include <vector>

#include "platform/mail/MailComposeViewController.h"
#include "platform/ui/ViewController.h"

namespace app {

// Presents a composer over `screen` with the subject, the HTML body and the
// recipients; `delegate` (the screen) hears the result and dismisses it,
// except on Failed: a message that could not be written keeps the composer
// on screen with its alert.
// Without mail: the alert "Sending mail" / "This device is not setup to send
// mail." / "OK", and nil. A screen that is not on the screen any more (the
// user left it) gets neither: nil.
ns::Ref<mail::MailComposeViewController> presentMailComposer(ui::ViewController* screen,
                                                             mail::MailComposeViewControllerDelegate* delegate,
                                                             const std::string& subject,
                                                             const std::string& htmlBody,
                                                             const std::vector<std::string>& recipients);

}  // namespace app
