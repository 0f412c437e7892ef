#include "sharing/sharers/simple/SimpleSharers.h"

#include "platform/foundation/PercentEncoding.h"
#include "platform/ui/Application.h"
#include "platform/ui/Pasteboard.h"
#include "sharing/core/ImageCoding.h"
#include "sharing/core/SHR.h"
#include "sharing/ui/SHRActivityIndicator.h"

namespace sharing {

namespace {
// The URL's absolute string with its percent escapes replaced.
std::string plainURL(const ns::URL& url) {
    auto plain = ns::removePercentEncoding(url.absoluteText());
    return plain ? *plain : url.absoluteText();
}
void appendPart(std::string& body, const std::string& part) {
    body = body.empty() ? part : body + "<br/><br/>" + part;
}
// The body a composer starts with: the one the item keeps under "body" when
// there is one; else the text and the plain URL (with `noteAttachment`, the
// attached file's name too), which the item then keeps.
std::string composerBody(SHRItem& it, bool noteAttachment) {
    if (ns::String* stored = it.customValueForKey("body")) return std::string(stored->utf8());
    std::string body;
    if (it.text()) body = it.text()->utf8();
    if (it.URL()) appendPart(body, plainURL(*it.URL()));
    if (noteAttachment && it.data())
        appendPart(body, SHRLocalizedString("Attached: %@", it.title() ? it.title() : it.filename()));
    it.setCustomValueForKey(ns::str(body), "body");
    return body;
}
}  // namespace

// -- Copy ------------------------------------------------------------------------------

std::string SHRCopy::sharerTitle() const { return SHRLocalizedString("Copy"); }

bool SHRCopy::send() {
    auto keep = ns::keepAlive(this);
    ui::Pasteboard* board = ui::Pasteboard::generalPasteboard();
    const auto& it = item();
    if (it->shareType() == SHRShareTypeURL && it->URL()) board->setString(it->URL()->absoluteText());
    else if (it->shareType() == SHRShareTypeText && it->text()) board->setString(std::string(it->text()->utf8()));
    else if (it->shareType() == SHRShareTypeImage && it->image()) board->setImage(it->image());
    SHRActivityIndicator::currentIndicator()->displayCompleted(SHRLocalizedString("Copied!"));
    setQuiet(true);
    sendDidFinish();
    return true;
}

// -- Composers -----------------------------------------------------------------------------

void SHRComposerDidDisappear(ui::ViewController* composer) {
    if (composer && !composer->presentingViewController() && !composer->modalViewController())
        SHR::currentHelper()->viewWasDismissed();
}

// -- Mail --------------------------------------------------------------------------------------

std::string SHRMail::sharerTitle() const { return SHRLocalizedString("Email"); }

bool SHRMail::send() {
    setQuiet(true);
    if (!validateItem()) return false;
    return sendMail();
}

bool SHRMail::sendMail() {
    if (!mail::MailComposeViewController::canSendMail()) {
        SHR::currentHelper()->hideCurrentViewController();
        return true;
    }
    auto composer = mail::MailComposeViewController::make();
    keepUntilResult_ = ns::keepAlive(this);
    composer->setMailComposeDelegate(this);
    const auto& it = item();
    std::string body = composerBody(*it, true);
    if (it->data())
        composer->addAttachmentData(it->data(), it->mimeType() ? std::string(it->mimeType()->utf8()) : "application/octet-stream",
                                    it->filename() ? std::string(it->filename()->utf8()) : "Attachment");
    if (it->image()) {
        double quality = 1.0;
        if (ns::String* q = it->customValueForKey("jpgQuality")) quality = q->doubleValue();
        if (auto jpeg = imageJPEGRepresentation(it->image().get(), quality))
            composer->addAttachmentData(jpeg, "image/jpeg", "Image.jpg");
    }
    if (it->title()) composer->setSubject(std::string(it->title()->utf8()));
    composer->setSubject(SHRLocalizedString("Full Quenvari!"));
    composer->navigationBar()->setBarStyle(ui::BarStyle::Black);
    composer->setMessageBody(body, true);
    SHR::currentHelper()->showViewController(composer);
    return true;
}

void SHRMail::mailComposeControllerDidFinishWithResult(mail::MailComposeViewController* composer,
                                                       mail::MailComposeResult result, ns::Error*) {
    // A message the composer could not write stays on screen with the
    // composer's alert, for the user to correct or cancel: the share is not
    // over yet.
    if (result == mail::MailComposeResult::Failed) return;
    ns::Ref<SHRMail> keep = std::move(keepUntilResult_);
    ns::Ref<ui::ViewController> keepComposer(composer);
    SHR::currentHelper()->hideCurrentViewControllerAnimated(true);
    SHRComposerDidDisappear(composer);
    switch (result) {
        case mail::MailComposeResult::Cancelled: sendDidCancel(); break;
        case mail::MailComposeResult::Saved:
        case mail::MailComposeResult::Sent: sendDidFinish(); break;
        case mail::MailComposeResult::Failed: break;
    }
}

// -- Logout, browser, print, album -----------------------------------------------------------------

std::string SHRLogout::sharerTitle() const { return SHRLocalizedString("Logout"); }

bool SHRLogout::send() {
    auto keep = ns::keepAlive(this);
    SHRLogoutFailure why = SHRLogoutFailure::None;
    if (!SHR::logoutOfAll(&why)) {
        // Nothing was removed (a full disk, a read-only home), or a damaged
        // copy of the keychain still holds older logins: the user is told,
        // in the default delegate's alert, and the logout is not reported
        // done.
        sendDidFailWithError(SHR::error("%@", SHR::logoutFailureText(why)));
        return true;
    }
    SHRActivityIndicator::currentIndicator()->displayCompleted(SHRLocalizedString("Logged Out!"));
    setQuiet(true);
    sendDidFinish();
    return true;
}

std::string SHRSafari::sharerTitle() const { return SHRLocalizedString("Open in Safari"); }

bool SHRSafari::send() {
    auto keep = ns::keepAlive(this);
    setQuiet(true);
    if (item()->URL()) ui::Application::shared()->openURL(item()->URL()->absoluteText());
    sendDidFinish();
    return true;
}

std::string SHRPrint::sharerTitle() const { return SHRLocalizedString("Print"); }

bool SHRPrint::send() {
    setQuiet(true);
    if (!validateItem()) return false;
    return print();
}

bool SHRPrint::print() { return false; }  // no print controller on this platform

std::string SHRPhotoAlbum::sharerTitle() const { return SHRLocalizedString("Save to Photo Album"); }

bool SHRPhotoAlbum::send() {
    auto keep = ns::keepAlive(this);
    if (item()->shareType() == SHRShareTypeImage && item()->image()) ui::imageWriteToSavedPhotosAlbum(item()->image());
    SHRActivityIndicator::currentIndicator()->displayCompleted(SHRLocalizedString("Saved!"));
    setQuiet(true);
    sendDidFinish();
    return true;
}

// -- Text message ---------------------------------------------------------------------------------------

bool SHRTextMessage::send() {
    setQuiet(true);
    if (!validateItem()) return false;
    return sendText();
}

bool SHRTextMessage::sendText() {
    auto composer = mail::MessageComposeViewController::make();
    composer->setMessageComposeDelegate(this);
    const auto& it = item();
    std::string body = composerBody(*it, false);
    composer->setBody(body);
    SHR::currentHelper()->showViewController(composer);
    keepUntilResult_ = ns::keepAlive(this);
    return true;
}

void SHRTextMessage::messageComposeViewControllerDidFinishWithResult(mail::MessageComposeViewController* composer,
                                                                     mail::MessageComposeResult result) {
    ns::Ref<SHRTextMessage> keep = std::move(keepUntilResult_);
    ns::Ref<ui::ViewController> keepComposer(composer);
    switch (result) {
        case mail::MessageComposeResult::Failed: sendDidFailWithError(nullptr); break;
        case mail::MessageComposeResult::Sent: sendDidFinish(); break;
        case mail::MessageComposeResult::Cancelled: sendDidCancel(); break;
    }
    SHR::currentHelper()->hideCurrentViewControllerAnimated(true);
    SHRComposerDidDisappear(composer);
}

}  // namespace sharing
