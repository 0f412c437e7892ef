#include <gtest/gtest.h>

#include "platform/mail/MailComposeViewController.h"
#include "platform/mail/MessageComposeViewController.h"
#include "platform/ui/Pasteboard.h"
#include "sharing/core/ImageCoding.h"
#include "sharing/sharers/simple/SimpleSharers.h"
#include "sharing/tests/SharingTestSupport.h"
#include "sharing/ui/SHRActivityIndicator.h"

namespace sharing::test {
namespace {

class SimpleSharersTest : public SharingTest {
protected:
    mail::MailComposeViewController* mailComposer() {
        return ns::as<mail::MailComposeViewController>(root->presentedViewController());
    }
};

TEST_F(SimpleSharersTest, CopyPutsTheItemOnThePasteboard) {
    NotificationRecorder rec;
    SHRSharer::shareURL<SHRCopy>(ns::URL::URLWithString("http://example.com/a%20b"));
    EXPECT_EQ(ui::Pasteboard::generalPasteboard()->string(), "http://example.com/a%20b");
    EXPECT_EQ(SHRActivityIndicator::currentIndicator()->subMessageLabel()->text(), "Copied!");
    long before = ui::Pasteboard::generalPasteboard()->changeCount();
    auto file = SHRSharer::shareFile<SHRCopy>(ns::Data::make("x"), ns::str("f"), ns::str("text/plain"), nullptr);
    EXPECT_EQ(ui::Pasteboard::generalPasteboard()->changeCount(), before);  // nothing copied
    EXPECT_TRUE(file->quiet());
    EXPECT_EQ(rec.names, (std::vector<std::string>{"SHRSendDidFinish", "SHRSendDidFinish"}));
    auto image = ui::Image::make("pic", {2, 2});
    SHRSharer::shareImage<SHRCopy>(image, nullptr);
    EXPECT_EQ(ui::Pasteboard::generalPasteboard()->image(), image);
}

TEST_F(SimpleSharersTest, MailBodySubjectAttachmentsAndResult) {
    NotificationRecorder rec;
    auto item = SHRItem::text(ns::str("Look"));
    item->setURL(ns::URL::URLWithString("http://example.com/caf%C3%A9"));
    auto sharer = SHRSharer::shareItem<SHRMail>(item);
    auto* composer = mailComposer();
    ASSERT_TRUE(composer);
    auto msg = composer->message();
    EXPECT_EQ(msg.subject, "Full Quenvari!");
    EXPECT_TRUE(msg.isHTML);
    EXPECT_EQ(msg.body, "Look<br/><br/>http://example.com/caf\xC3\xA9");
    EXPECT_EQ(item->customValueForKey("body")->utf8(), msg.body);
    composer->cancel();
    EXPECT_FALSE(root->presentedViewController());
    EXPECT_EQ(rec.names, (std::vector<std::string>{"SHRSendDidCancel"}));
    EXPECT_FALSE(SHR::currentHelper()->currentView());

    // Shared again: the stored body is reused even though the text changed.
    item->setText(ns::str("Changed"));
    SHRSharer::shareItem<SHRMail>(item);
    ASSERT_TRUE(mailComposer());
    EXPECT_EQ(mailComposer()->message().body, "Look<br/><br/>http://example.com/caf\xC3\xA9");
    mailComposer()->setToRecipients({"friend@example.com"});
    EXPECT_FALSE(mailComposer()->send().empty());
    EXPECT_EQ(rec.names.back(), "SHRSendDidFinish");
    EXPECT_FALSE(root->presentedViewController());
}

TEST_F(SimpleSharersTest, MailFileAndImageAttachments) {
    SHRSharer::shareFile<SHRMail>(ns::Data::make("a,b\n"), ns::str("data.csv"), ns::str("text/csv"), nullptr);
    ASSERT_TRUE(mailComposer());
    auto msg = mailComposer()->message();
    EXPECT_EQ(msg.body, "Attached: data.csv");
    ASSERT_EQ(msg.attachments.size(), 1u);
    EXPECT_EQ(msg.attachments[0].fileName, "data.csv");
    EXPECT_EQ(msg.attachments[0].mimeType, "text/csv");
    mailComposer()->cancel();

    auto item = SHRItem::image(ui::Image::make("card", {20, 10}), ns::str("Card"));
    item->setCustomValueForKey(ns::str("0.5"), "jpgQuality");
    SHRSharer::shareItem<SHRMail>(item);
    ASSERT_TRUE(mailComposer());
    msg = mailComposer()->message();
    ASSERT_EQ(msg.attachments.size(), 1u);
    EXPECT_EQ(msg.attachments[0].fileName, "Image.jpg");
    EXPECT_EQ(msg.attachments[0].mimeType, "image/jpeg");
    EXPECT_EQ(jpegQualityOf(msg.attachments[0].data->view()), 50);
    mailComposer()->cancel();

    SHRSharer::shareImage<SHRMail>(ui::Image::make("card", {20, 10}), nullptr);
    ASSERT_TRUE(mailComposer());
    EXPECT_EQ(jpegQualityOf(mailComposer()->message().attachments[0].data->view()), 100);
    mailComposer()->cancel();

    // Without a mail account nothing is shown; an invalid item is refused.
    mail::MailComposeViewController::setCanSendMail(false);
    EXPECT_FALSE(ns::make<SHRMail>()->canShare());
    SHRSharer::shareText<SHRMail>(ns::str("x"));
    EXPECT_FALSE(root->presentedViewController());
    mail::MailComposeViewController::setCanSendMail(true);
    auto empty = ns::make<SHRMail>();
    empty->setItem(SHRItem::text(nullptr));
    EXPECT_FALSE(empty->send());
}

TEST_F(SimpleSharersTest, TextMessageSafariAlbumLogoutAndPrint) {
    NotificationRecorder rec;
    SHRSharer::shareURL<SHRTextMessage>(ns::URL::URLWithString("http://example.com/a%20b"));
    auto* composer = ns::as<mail::MessageComposeViewController>(root->presentedViewController());
    ASSERT_TRUE(composer);
    EXPECT_EQ(composer->body(), "http://example.com/a b");
    composer->cancel();
    EXPECT_EQ(rec.names.back(), "SHRSendDidCancel");
    EXPECT_FALSE(root->presentedViewController());
    EXPECT_EQ(ns::make<SHRTextMessage>()->sharerTitle(), "SMS");

    SHRSharer::shareURL<SHRSafari>(ns::URL::URLWithString("http://example.com/x"));
    ASSERT_FALSE(ui::Application::shared()->openedURLs().empty());
    EXPECT_EQ(ui::Application::shared()->openedURLs().back(), "http://example.com/x");

    ui::clearSavedPhotosAlbumForTesting();
    SHRSharer::shareText<SHRPhotoAlbum>(ns::str("not an image"));
    EXPECT_TRUE(ui::savedPhotosAlbum().empty());
    EXPECT_EQ(SHRActivityIndicator::currentIndicator()->subMessageLabel()->text(), "Saved!");
    SHRSharer::shareImage<SHRPhotoAlbum>(ui::Image::make("p", {1, 1}), nullptr);
    EXPECT_EQ(ui::savedPhotosAlbum().size(), 1u);

    SHR::setAuthValueForKeyForSharer(ns::str("u").get(), "username", "SHRCopy");
    auto logout = ns::make<SHRLogout>();
    EXPECT_TRUE(logout->send());  // no sharer list in this bundle: nothing to log out of
    EXPECT_EQ(rec.names.back(), "SHRSendDidFinish");

    auto print = ns::make<SHRPrint>();
    EXPECT_FALSE(print->canShare());
    EXPECT_FALSE(print->shouldAutoShare());
    print->setItem(SHRItem::image(ui::Image::make("p", {1, 1})));
    EXPECT_FALSE(print->send());
    EXPECT_TRUE(SHRSharer::sharerWithClassName("SHRMail"));
    EXPECT_FALSE(SHRSharer::sharerWithClassName("SHRNothing"));
}

TEST_F(SimpleSharersTest, EveryServiceIsKnownByItsClassName) {
    for (const char* name : {"SHRCopy", "SHRMail", "SHRLogout", "SHRSafari", "SHRPrint", "SHRPhotoAlbum",
                             "SHRTextMessage", "SHRTwitter", "SHRiOS5Twitter", "SHRFacebook", "SHREvernote",
                             "SHRFoursquareV2", "SHRGoogleReader", "SHRInstapaper", "SHRLinkedIn", "SHRPinboard",
                             "SHRReadItLater", "SHRTumblr", "SHRVkontakte"}) {
        auto sharer = SHRSharer::sharerWithClassName(name);
        ASSERT_TRUE(sharer) << name;
        EXPECT_EQ(std::string(sharer->className()), name);
    }
}

}  // namespace
}  // namespace sharing::test
