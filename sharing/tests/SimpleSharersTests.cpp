#include <gtest/gtest.h>

#include <set>

#include "platform/mail/MailComposeViewController.h"
#include "platform/mail/MessageComposeViewController.h"
#include "platform/ui/Pasteboard.h"
#include "sharing/core/ImageCoding.h"
#include "sharing/sharers/facebook/SHRFacebook.h"
#include "sharing/sharers/simple/SimpleSharers.h"
#include "sharing/sharers/twitter/SHRTwitter.h"
#include "sharing/sharers/vkontakte/SHRVkontakte.h"
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
    EXPECT_EQ(ns::describe(item->customValueForKey("body")), msg.body);
    composer->cancel();
    EXPECT_FALSE(root->presentedViewController());
    EXPECT_EQ(rec.names, (std::vector<std::string>{"SHRSendDidCancel"}));
    EXPECT_FALSE(SHR::currentHelper()->currentView());

    // Shared again: the stored body is reused even though the text changed.
    item->setText(ns::str("Changed"));
    SHRSharer::shareItem<SHRMail>(item);
    ASSERT_TRUE(mailComposer());
    EXPECT_EQ(mailComposer()->message().body, "Look<br/><br/>http://example.com/caf\xC3\xA9");
    // An address the composer refuses: its alert, and the composer stays
    // for a correction; the share is not over.
    mailComposer()->setToRecipients({"friend at example.com"});
    EXPECT_TRUE(mailComposer()->send().empty());
    EXPECT_EQ(rec.names.back(), "SHRSendDidCancel");
    ASSERT_EQ(alerts().size(), 1u);
    EXPECT_EQ(alerts()[0].rfind("Cannot Send Mail|", 0), 0u) << alerts()[0];
    ASSERT_TRUE(mailComposer());
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

    ui::clearSavedPhotosAlbum();
    SHRSharer::shareText<SHRPhotoAlbum>(ns::str("not an image"));
    EXPECT_TRUE(ui::savedPhotosAlbum().empty());
    EXPECT_EQ(SHRActivityIndicator::currentIndicator()->subMessageLabel()->text(), "Saved!");
    SHRSharer::shareImage<SHRPhotoAlbum>(ui::Image::make("p", {1, 1}), nullptr);
    EXPECT_EQ(ui::savedPhotosAlbum().size(), 1u);

    auto print = ns::make<SHRPrint>();
    EXPECT_FALSE(print->canShare());
    EXPECT_FALSE(print->shouldAutoShare());
    print->setItem(SHRItem::image(ui::Image::make("p", {1, 1})));
    EXPECT_FALSE(print->send());
    EXPECT_TRUE(SHRSharer::sharerWithClassName("SHRMail"));
    EXPECT_FALSE(SHRSharer::sharerWithClassName("SHRNothing"));
}

// The sharer list shipped in the app's resources names every sharer this
// library has, each known by its class name.
TEST_F(SimpleSharersTest, TheShippedSharerListNamesEverySharer) {
    auto list = SHR::sharersDictionary();
    ASSERT_TRUE(list) << "resources/SHRSharers.plist is missing or unreadable";
    auto names = [&](const char* key) {
        std::set<std::string> out;
        if (ns::Array* a = list->arrayForKey(key))
            for (ns::Object* o : *a) out.insert(ns::describe(o));
        return out;
    };
    EXPECT_EQ(names("actions"), (std::set<std::string>{"SHRCopy", "SHRMail", "SHRLogout", "SHRSafari", "SHRPrint",
                                                       "SHRPhotoAlbum", "SHRTextMessage"}));
    EXPECT_EQ(names("services"),
              (std::set<std::string>{"SHRTwitter", "SHRFacebook", "SHREvernote", "SHRFoursquareV2", "SHRGoogleReader",
                                     "SHRInstapaper", "SHRLinkedIn", "SHRPinboard", "SHRReadItLater", "SHRTumblr",
                                     "SHRVkontakte"}));
    auto all = names("actions");
    all.merge(names("services"));
    all.insert("SHRiOS5Twitter");  // reached by name only through the Twitter sharer
    for (const std::string& name : all) {
        auto sharer = SHRSharer::sharerWithClassName(name);
        ASSERT_TRUE(sharer) << name;
        EXPECT_EQ(std::string(sharer->className()), name);
    }
}

// Stores a login for every service of the shipped list (in the keychain and
// in the user defaults) and tells which of them are still stored.
class StoredLogins {
public:
    void signIn() {
        for (auto& [id, key] : keychain_) SHR::setAuthValueForKeyForSharer(ns::str("secret").get(), key, id);
        auto defaults = ns::UserDefaults::standardUserDefaults();
        for (const char* key : defaultsKeys_) defaults->setObjectForKey(ns::str("secret"), key);
        auto later = ns::Date::dateWithTimeIntervalSinceReferenceDate(ns::Date::date()->timeIntervalSinceReferenceDate() +
                                                                      3600);
        defaults->setObjectForKey(later, kSHRFacebookExpiryDate);
        defaults->setObjectForKey(later, kSHRVkontakteExpiryDate);
    }
    // The sharer ids and defaults keys whose login is still stored, as read
    // in this process; with `fromDisk`, as the next process would read them.
    std::vector<std::string> stillSignedIn(bool fromDisk = false) const {
        if (fromDisk) ns::UserDefaults::resetStandardUserDefaults();
        std::vector<std::string> left;
        for (auto& [id, key] : keychain_)
            if (ns::describe(SHR::getAuthValueForKeyForSharer(key, id)) == "secret") left.push_back(id);
        auto defaults = ns::UserDefaults::standardUserDefaults();
        for (const char* key : defaultsKeys_)
            if (ns::describe(defaults->objectForKey(key)) == "secret") left.push_back(key);
        return left;
    }
    size_t count() const { return keychain_.size() + defaultsKeys_.size(); }

private:
    // Sharer id and the key of one value it keeps in the keychain.
    const std::vector<std::pair<const char*, const char*>> keychain_{
        {"SHRPinboard", "username"}, {"SHRReadItLater", "username"}, {"SHRInstapaper", "username"},
        {"SHREvernote", "username"}, {"SHRGoogleReader", "email"},  {"SHRTumblr", "email"},
        {"SHRTwitter", "accessKey"}, {"SHRLinkedIn", "accessKey"},   {"SHRFoursquareV2", "accessToken"}};
    const std::vector<const char*> defaultsKeys_{kSHRFacebookAccessToken, kSHRVkontakteAccessToken, kSHRTwitterUserInfo};
};

// Logging out of everything, directly and through the Logout sharer, reaches
// every service of the shipped list: keychain values, tokens kept in the
// user defaults and stored account information all go.
TEST_F(SimpleSharersTest, LogoutOfAllClearsEveryServiceOfTheShippedList) {
    StoredLogins logins;
    logins.signIn();
    ASSERT_EQ(logins.stillSignedIn().size(), logins.count());
    EXPECT_TRUE(SHR::logoutOfAll());
    EXPECT_EQ(logins.stillSignedIn(), std::vector<std::string>{});
    EXPECT_EQ(logins.stillSignedIn(true), std::vector<std::string>{});

    logins.signIn();
    NotificationRecorder rec;
    auto logout = SHRSharer::shareURL<SHRLogout>(ns::URL::URLWithString("http://example.com/"));
    EXPECT_EQ(logins.stillSignedIn(), std::vector<std::string>{});
    EXPECT_EQ(rec.names, (std::vector<std::string>{"SHRSendDidFinish"}));
    EXPECT_EQ(SHRActivityIndicator::currentIndicator()->subMessageLabel()->text(), "Logged Out!");
    EXPECT_TRUE(logout->quiet());
    EXPECT_TRUE(alerts().empty());
}

// A logout that cannot remove what is stored (the keychain's folder, the
// user defaults' folder or both full or read-only) removes nothing: the user
// is told, the logout is not reported done, and every login stays stored and
// readable, in this process and the next. (When the keychain could be
// changed and the user defaults not, the keychain's logins are put back.)
TEST_F(SimpleSharersTest, ALogoutThatCannotRemoveEveryLoginRemovesNone) {
    testsupport::FullDisk keychainFolder(ns::Paths::join(ns::Paths::libraryDirectory(), "Keychains"));
    FullPreferences defaultsFolder;
    struct Place {
        const char* what;
        std::vector<testsupport::FullDisk*> disks;
    };
    const std::vector<Place> places = {{"keychain", {&keychainFolder}},
                                       {"user defaults", {&defaultsFolder}},
                                       {"both", {&keychainFolder, &defaultsFolder}}};
    StoredLogins logins;
    for (const auto& place : places) {
        for (auto failure : testsupport::FullDisk::kFailures) {
            SCOPED_TRACE(std::string(place.what) + ", " + testsupport::FullDisk::describe(failure) + " against " +
                         keychainFolder.how());
            keychainFolder.restore();
            defaultsFolder.restore();
            logins.signIn();
            ASSERT_EQ(logins.stillSignedIn(true).size(), logins.count());
            bool arranged = true;
            for (auto* disk : place.disks) arranged = disk->arrange(failure) && arranged;
            if (!arranged) continue;

            EXPECT_FALSE(SHR::logoutOfAll());
            EXPECT_EQ(logins.stillSignedIn().size(), logins.count());
            EXPECT_TRUE(ns::make<SHRFacebook>()->isAuthorized());

            ui::Panel::resetShown();
            SHRActivityIndicator::currentIndicator()->setSubMessage("");
            NotificationRecorder rec;
            SHRSharer::shareURL<SHRLogout>(ns::URL::URLWithString("http://example.com/"));
            EXPECT_EQ(rec.names, (std::vector<std::string>{"SHRSendDidFailWithError"}));
            EXPECT_EQ(alerts(), (std::vector<std::string>{"Error|Your logins could not be removed. Please try again."}));
            EXPECT_NE(SHRActivityIndicator::currentIndicator()->subMessageLabel()->text(), "Logged Out!");
            EXPECT_FALSE(SHR::currentHelper()->currentView()) << "the share went on to a form";
            EXPECT_EQ(logins.stillSignedIn().size(), logins.count());
            keychainFolder.restore();
            defaultsFolder.restore();
            EXPECT_EQ(logins.stillSignedIn(true).size(), logins.count()) << "as the next process reads them";
        }
    }
    // Without a sharer list there is nothing known to log out of: that is no
    // logout done either.
    TempDir emptyBundle;
    ns::Paths::setBundleResourcePath(emptyBundle.path());
    SHR::reset();  // forgets the list read before
    EXPECT_FALSE(SHR::logoutOfAll());
    EXPECT_EQ(logins.stillSignedIn().size(), logins.count());
    ns::Paths::setBundleResourcePath("");
    SHR::reset();

    // With room again, the logout removes every login.
    ui::Panel::resetShown();
    NotificationRecorder rec;
    SHRSharer::shareURL<SHRLogout>(ns::URL::URLWithString("http://example.com/"));
    EXPECT_EQ(rec.names, (std::vector<std::string>{"SHRSendDidFinish"}));
    EXPECT_EQ(logins.stillSignedIn(true), std::vector<std::string>{});
    EXPECT_TRUE(alerts().empty());
}

}  // namespace
}  // namespace sharing::test
