// The sharers that need no web service and no login: copy to the
// pasteboard, e-mail, log out of everything, open in the browser, print,
// save to the photo album, text message. None needs the network, so
// tryToSend always sends.
#pragma once

#include "platform/mail/MailComposeViewController.h"
#include "platform/mail/MessageComposeViewController.h"
#include "sharing/core/SHRSharer.h"

namespace sharing {

// What every simple sharer shares: no login, no network.
class SHRSimpleSharer : public SHRSharer {
public:
    bool shareRequiresInternetConnection() const override { return false; }
    bool requiresAuthentication() const override { return false; }
    bool shouldAutoShare() override { return true; }
};

class SHRCopy : public SHRSimpleSharer {
public:
    const char* className() const override { return "SHRCopy"; }
    std::string sharerTitle() const override;
    bool canShareURL() const override { return true; }
    bool canShareText() const override { return true; }
    bool canShareImage() const override { return true; }
    bool send() override;
};

// Tells the sharing centre that a composer has gone once it no longer is
// on screen (the composers never dismiss themselves; the sharers hide them
// through the centre when the result comes).
void SHRComposerDidDisappear(ui::ViewController* composer);

class SHRMail : public SHRSimpleSharer, public mail::MailComposeViewControllerDelegate {
public:
    const char* className() const override { return "SHRMail"; }
    std::string sharerTitle() const override;
    bool canShareURL() const override { return true; }
    bool canShareText() const override { return true; }
    bool canShareImage() const override { return true; }
    bool canShareFile() const override { return true; }
    bool canShare() const override { return mail::MailComposeViewController::canSendMail(); }
    bool send() override;
    bool sendMail();
    void mailComposeControllerDidFinishWithResult(mail::MailComposeViewController* controller,
                                                  mail::MailComposeResult result, ns::Error* error) override;

private:
    ns::Ref<SHRMail> keepUntilResult_;
};

class SHRLogout : public SHRSimpleSharer {
public:
    const char* className() const override { return "SHRLogout"; }
    std::string sharerTitle() const override;
    bool canShareURL() const override { return true; }
    bool canShareText() const override { return true; }
    bool canShareImage() const override { return true; }
    bool canShareFile() const override { return true; }
    bool send() override;
};

class SHRSafari : public SHRSimpleSharer {
public:
    const char* className() const override { return "SHRSafari"; }
    std::string sharerTitle() const override;
    bool canShareURL() const override { return true; }
    bool send() override;
};

// Printing: this platform has no print controller, so the sharer reports
// that it cannot share and its send refuses.
class SHRPrint : public SHRSimpleSharer {
public:
    const char* className() const override { return "SHRPrint"; }
    std::string sharerTitle() const override;
    bool canShareImage() const override { return true; }
    bool shouldAutoShare() override { return false; }
    bool canShare() const override { return false; }
    bool send() override;
    bool print();
};

class SHRPhotoAlbum : public SHRSimpleSharer {
public:
    const char* className() const override { return "SHRPhotoAlbum"; }
    std::string sharerTitle() const override;
    bool canShareImage() const override { return true; }
    bool send() override;
};

class SHRTextMessage : public SHRSimpleSharer, public mail::MessageComposeViewControllerDelegate {
public:
    const char* className() const override { return "SHRTextMessage"; }
    std::string sharerTitle() const override { return "SMS"; }
    bool canShareURL() const override { return true; }
    bool canShareText() const override { return true; }
    bool canShare() const override { return mail::MessageComposeViewController::canSendText(); }
    bool send() override;
    bool sendText();
    void messageComposeViewControllerDidFinishWithResult(mail::MessageComposeViewController* controller,
                                                         mail::MessageComposeResult result) override;

private:
    ns::Ref<SHRTextMessage> keepUntilResult_;
};

}  // namespace sharing
