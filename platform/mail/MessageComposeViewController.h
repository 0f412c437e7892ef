// The text-message composer: recipients and a body. Sending writes the
// message as a small text file ("To: a, b", a blank line, the body; UTF-8,
// CRLF) into Outbox/Messages of the home folder, whole and atomically, and
// tells the delegate Sent (or Failed). Cancel tells Cancelled. As with the
// mail composer, the delegate dismisses it.
#pragma once

#include <string>
#include <vector>

#include "platform/foundation/Delegate.h"
#include "platform/ui/NavigationController.h"

namespace mail {

class MessageComposeViewController;

enum class MessageComposeResult { Cancelled = 0, Sent = 1, Failed = 2 };

class MessageComposeViewControllerDelegate {
public:
    virtual ~MessageComposeViewControllerDelegate() = default;
    virtual void messageComposeViewControllerDidFinishWithResult(MessageComposeViewController* controller,
                                                                 MessageComposeResult result) {}
};

class MessageComposeViewController : public ui::NavigationController {
public:
    MessageComposeViewController();
    const char* className() const override { return "MessageComposeViewController"; }
    static ns::Ref<MessageComposeViewController> make() { return ns::make<MessageComposeViewController>(); }

    // Whether the device can send text messages (a setting, default true).
    static bool canSendText();
    static void setCanSendText(bool b);

    const std::vector<std::string>& recipients() const { return recipients_; }
    void setRecipients(std::vector<std::string> r);
    const std::string& body() const { return body_; }
    void setBody(std::string b);

    MessageComposeViewControllerDelegate* messageComposeDelegate() const { return delegate_.get(); }
    void setMessageComposeDelegate(MessageComposeViewControllerDelegate* d) { delegate_ = d; }

    // What "Send" and "Cancel" do. send() returns the path written, or ""
    // when the message could not be written (no recipient, a recipient
    // with control characters, a write failure).
    std::string send();
    void cancel();

private:
    class Content;
    void finish(MessageComposeResult r);
    std::vector<std::string> recipients_;
    std::string body_;
    ns::Ref<Content> content_;
    ns::WeakDelegate<MessageComposeViewControllerDelegate> delegate_;
};

}  // namespace mail
