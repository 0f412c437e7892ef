// The mail composer: a screen that shows a message being written, and
// "sends" it by writing it as an RFC 5322 file (.eml) into the outbox folder
// of the home folder (ns::Paths::homeDirectory()/Outbox), whole and
// atomically, readable by its owner only.
//
// The screen is a navigation controller whose root shows To, Cc, Subject
// (text fields the user may edit) and the body; its bar has "Cancel" and
// "Send". Send writes the message and tells the delegate Sent (or Failed
// with the error); Cancel tells Cancelled; saveDraft writes to
// Outbox/Drafts and tells Saved. The composer does not dismiss itself: the
// delegate does, as with the platform's composer.
//
// The Send button is disabled while the message has no recipient (To, Cc
// and Bcc all empty): the user adds one in To or Cc first. After Sent,
// Saved or Cancelled both buttons are disabled, so one tap on Send writes
// one message. (send(), cancel() and saveDraft() in code are not held
// back: send() without a recipient reports Failed.)
//
// A message that cannot be written (an address the writer refuses, such as
// one with characters outside ASCII; an outbox on a full or read-only disk)
// is never dropped: the composer shows an alert ("Cannot Send Mail", or
// "Cannot Save Draft", with the reason), tells the delegate Failed with an
// error carrying that reason, and stays as it was, its buttons enabled, so
// the user can correct the address and send again, or cancel. A delegate
// leaves the composer on screen on Failed.
#pragma once

#include <string>
#include <vector>

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/mail/MailMessage.h"
#include "platform/foundation/Delegate.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TextField.h"
#include "platform/ui/WebView.h"

namespace mail {

class MailComposeViewController;

enum class MailComposeResult { Cancelled = 0, Saved = 1, Sent = 2, Failed = 3 };

inline constexpr const char* kMailComposeErrorDomain = "MailComposeErrorDomain";
inline constexpr long kMailComposeErrorSaveFailed = 0;
inline constexpr long kMailComposeErrorSendFailed = 1;

class MailComposeViewControllerDelegate {
public:
    virtual ~MailComposeViewControllerDelegate() = default;
    virtual void mailComposeControllerDidFinishWithResult(MailComposeViewController* controller,
                                                          MailComposeResult result, ns::Error* error) {}
};

class MailComposeViewController : public ui::NavigationController {
public:
    MailComposeViewController();
    const char* className() const override { return "MailComposeViewController"; }
    static ns::Ref<MailComposeViewController> make() { return ns::make<MailComposeViewController>(); }

    // Whether the device has a mail account. A setting (default true): the
    // simulator and tests turn it off to see the app's "no mail" path.
    static bool canSendMail();
    static void setCanSendMail(bool b);
    // The sender written in From (default "Deck User <user@localhost>").
    static void setSenderAddress(std::string from);
    static std::string senderAddress();
    // The folder messages are written to (default home/Outbox).
    static std::string outboxDirectory();

    void setSubject(std::string s);
    void setToRecipients(std::vector<std::string> to);
    void setCcRecipients(std::vector<std::string> cc);
    void setBccRecipients(std::vector<std::string> bcc);
    void setMessageBody(std::string body, bool isHTML);
    // Adds an attachment (kept in order).
    void addAttachmentData(ns::Ref<ns::Data> data, std::string mimeType, std::string fileName);

    // The message as it stands (including what the user typed).
    MailMessage message() const;

    MailComposeViewControllerDelegate* mailComposeDelegate() const { return delegate_.get(); }
    void setMailComposeDelegate(MailComposeViewControllerDelegate* d) { delegate_ = d; }

    // What the bar buttons do. send() returns the path written (empty on
    // failure); the delegate hears the result either way.
    std::string send();
    void cancel();
    std::string saveDraft();
    // Path of the last file written.
    const std::string& lastWrittenPath() const { return lastPath_; }
    // Whether To, Cc or Bcc holds an address (as the fields stand).
    bool hasRecipient() const;
    // Whether the Send button can be pressed now.
    bool isSendEnabled() const;

private:
    class Content;
    std::string write(const std::string& folder, MailComposeResult ok, long failCode);
    void finish(MailComposeResult r, ns::Error* e);

    MailMessage draft_;
    ns::Ref<Content> content_;
    std::string lastPath_;
    bool finished_ = false;
    ns::WeakDelegate<MailComposeViewControllerDelegate> delegate_;
};

}  // namespace mail
