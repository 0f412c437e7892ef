// What the phone's two menu screens share: the mail composer for a row's
// "email" dictionary, the maker's outside pages, the form overlays, and the
// menu cell's look.
#pragma once

#include <string>

#include "platform/foundation/Dictionary.h"
#include "platform/mail/MailComposeViewController.h"
#include "platform/ui/TableView.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/ViewController.h"

namespace app {

// Mail from a dictionary with "para", "subject" and "mensaje" (HTML): the
// composer when the device can send mail, else the "Sending mail" alert.
void enviarMailDesde(ui::ViewController* screen, mail::MailComposeViewControllerDelegate* delegate,
                     const ns::Dictionary* mail);
// Lays the referral (or sign-up) overlay over the window's root view at
// x 0, y 60 with the root view's size.
void showReferralOverlay();
void showSignUpOverlay();
// A "viewEmail:" row: pushes the tell-a-friend screen (interface "ShareView"),
// animated, on `nav` (nothing without one).
void pushShareView(ui::NavigationController* nav);
// Text colour of a menu row: black for "silver" and "black", else white.
ns::Ref<ui::Color> menuTextColour(const ns::Dictionary* row);
// Cell set-up shared by both menus (steps that do not differ).
ns::Ref<ui::TableViewCell> menuCell(ui::TableView* t, ui::IndexPath ip, bool clearBackground);
// Row height: "tamano" when present, else 55.
double menuRowHeight(const ns::Dictionary* row);

}  // namespace app
