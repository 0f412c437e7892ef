#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <regex>
#include <set>

#include "platform/foundation/FileIO.h"
#include "platform/mail/MailComposeViewController.h"
#include "platform/mail/MessageComposeViewController.h"
#include "platform/ui/Pasteboard.h"
#include "sharing/core/ImageCoding.h"
#include "sharing/core/KeychainStore.h"
#include "sharing/core/SHRLogoutRecord.h"
#include "sharing/sharers/facebook/SHRFacebook.h"
#include "sharing/sharers/simple/SimpleSharers.h"
#include "sharing/sharers/twitter/SHRTwitter.h"
#include "sharing/sharers/vkontakte/SHRVkontakte.h"
#include "sharing/tests/SharingTestSupport.h"
#include "sharing/ui/SHRActivityIndicator.h"
#include "testsupport/ChildProcess.h"

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
    // The keychain's logins in one write, then the user defaults' in one.
    void signIn() {
        std::vector<KeychainStore::Change> values;
        for (auto& [id, key] : keychain_) values.push_back({std::string("SHR_AUTH_") + id, key, ns::str("secret")});
        ASSERT_TRUE(KeychainStore::setPasswordsForServices(values));
        auto later = ns::Date::dateWithTimeIntervalSinceReferenceDate(ns::Date::date()->timeIntervalSinceReferenceDate() +
                                                                      3600);
        std::vector<std::pair<std::string, ns::Ref<ns::Object>>> defaults{{kSHRFacebookExpiryDate, later},
                                                                          {kSHRVkontakteExpiryDate, later}};
        for (const char* key : defaultsKeys_) defaults.emplace_back(key, ns::str("secret"));
        ASSERT_TRUE(ns::UserDefaults::standardUserDefaults()->setObjectsForKeys(defaults));
    }
    // What the files hold, read without starting the sharing layer (which
    // would finish a logout cut short): the sharer ids and defaults keys
    // whose login is stored.
    std::vector<std::string> storedInTheFiles() const {
        std::vector<std::string> left;
        for (auto& [id, key] : keychain_)
            if (ns::describe(KeychainStore::passwordForService(ns::str(std::string("SHR_AUTH_") + id).get(),
                                                               ns::str(key).get())) == "secret")
                left.push_back(id);
        auto defaults = ns::make<ns::UserDefaults>(ns::UserDefaults::standardUserDefaults()->path());
        for (const char* key : defaultsKeys_)
            if (ns::describe(defaults->objectForKey(key)) == "secret") left.push_back(key);
        return left;
    }
    // The states a sign-in passes through: nothing, the keychain's logins,
    // all of them.
    bool signInState(const std::vector<std::string>& stored) const {
        std::vector<std::string> states{};
        for (auto& [id, key] : keychain_) states.push_back(id);
        if (stored.empty() || stored == states) return true;
        states.insert(states.end(), defaultsKeys_.begin(), defaultsKeys_.end());
        return stored == states;
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


// A logout is whole after a kill: a child process signs in and logs out of
// everything in a loop and is killed at a random moment; the next start of
// the sharing layer (here: a fresh centre and fresh user defaults, as in a
// new process that uses the sharing layer alone) finishes a logout the kill
// cut short, so the logins are all there or all gone. Only the states a
// sign-in passes through (nothing, the keychain's logins, all of them) may
// be found. A logout cut between its keychain write and its user-defaults
// write left the keychain's logins gone and Facebook's, Vkontakte's and
// Twitter's account information stored.
TEST_F(SimpleSharersTest, ALogoutCutShortByAKillIsFinishedAtTheNextStart) {
    StoredLogins logins;
    std::mt19937 rng(41);
    int cutShort = 0;
    const int rounds = 48;
    for (int round = 0; round < rounds; ++round) {
        pid_t child = testsupport::startChildAndWaitUntilReady([&](const std::function<void()>& ready) {
            for (;;) {
                logins.signIn();
                if (!SHR::logoutOfAll()) ::_exit(3);
                ready();
            }
        });
        ASSERT_GT(child, 0) << "round " << round;
        // Several rounds of the loop long, so that the kill falls at any
        // moment of one, wherever the time of a round goes on this machine.
        ::usleep(std::uniform_int_distribution<unsigned>(0, 150000)(rng));
        ASSERT_EQ(testsupport::killChild(child), "") << "round " << round;
        std::vector<std::string> left = logins.storedInTheFiles();
        if (!logins.signInState(left)) ++cutShort;
        SHR::reset();
        std::vector<std::string> afterStart = logins.stillSignedIn(true);
        EXPECT_TRUE(logins.signInState(afterStart))
            << "round " << round << ": " << testing::PrintToString(afterStart) << " stored after the start, "
            << testing::PrintToString(left) << " before it";
        if (afterStart.size() != left.size()) {
            EXPECT_EQ(afterStart, std::vector<std::string>{}) << "round " << round << ": the start only removes";
        }
        EXPECT_EQ(logins.storedInTheFiles(), afterStart) << "round " << round << ": the start saved what it did";
    }
    // The kills did cut logouts short: the test saw what it is about.
    EXPECT_GT(cutShort, 0);
    std::printf("%d of %d kills cut a logout short\n", cutShort, rounds);
}

// What a start does with the record of a logout cut short. A record it can
// read is finished: the logins it names go, then the record; while the
// keychain's or the user defaults' folder is full or read-only it stays for
// the next start. A record it cannot read is moved aside and the logins
// stay as they are.
TEST_F(SimpleSharersTest, TheRecordOfALogoutCutShortIsFinishedOrSetAside) {
    namespace fs = std::filesystem;
    StoredLogins logins;
    const std::string record = SHRLogoutRecord::path();
    SHRLogoutRecord named;
    named.keychainItems = {{"SHR_AUTH_SHRPinboard", "username"}, {"SHR_AUTH_SHRTwitter", "accessKey"}};
    named.defaultsKeys = {kSHRFacebookAccessToken};
    testsupport::FullDisk keychainFolder(ns::Paths::join(ns::Paths::libraryDirectory(), "Keychains"));
    FullPreferences defaultsFolder;
    for (auto* disk : {&keychainFolder, static_cast<testsupport::FullDisk*>(&defaultsFolder)}) {
        for (auto failure : testsupport::FullDisk::kFailures) {
            SCOPED_TRACE(disk->folder() + ", " + testsupport::FullDisk::describe(failure));
            logins.signIn();
            ASSERT_TRUE(named.write());
            if (!disk->arrange(failure)) continue;
            SHR::reset();
            EXPECT_FALSE(SHR::finishInterruptedLogout());
            EXPECT_TRUE(fs::exists(record)) << "kept for the next start";
            // A logout that fails meanwhile leaves the record as it was.
            EXPECT_FALSE(SHR::logoutOfAll());
            auto kept = SHRLogoutRecord::find();
            ASSERT_TRUE(kept);
            EXPECT_EQ(kept->keychainItems, named.keychainItems);
            EXPECT_EQ(kept->defaultsKeys, named.defaultsKeys);
            disk->restore();
            SHR::reset();
            // Finished, it also deletes the keychain's damaged copies.
            const std::string damagedCopy = keychainFolder.folder() + "/keychain.db.corrupt-20200101T000000Z";
            ASSERT_TRUE(ns::writeFileAtomically(damagedCopy, "older: secret", nullptr, 0600));
            EXPECT_TRUE(SHR::finishInterruptedLogout());
            EXPECT_FALSE(fs::exists(damagedCopy));
            EXPECT_TRUE(SHR::finishInterruptedLogout()) << "none left to finish";
            std::vector<std::string> left = logins.stillSignedIn(true);
            EXPECT_EQ(left.size(), logins.count() - 3) << testing::PrintToString(left);
            EXPECT_EQ(std::count(left.begin(), left.end(), std::string("SHRPinboard")), 0);
            EXPECT_FALSE(fs::exists(record));
        }
    }
    struct Damaged {
        const char* name;
        std::string text;
    } damaged[] = {
        {"not a property list", "damaged"},
        {"an array", "<plist version=\"1.0\"><array/></plist>"},
        {"an item without account",
         "<plist version=\"1.0\"><dict><key>keychain</key><array><dict><key>service</key><string>SHR_AUTH_SHRPinboard"
         "</string></dict></array><key>defaults</key><array/></dict></plist>"},
        {"an empty key",
         "<plist version=\"1.0\"><dict><key>keychain</key><array/><key>defaults</key><array><string></string>"
         "</array></dict></plist>"},
        {"no defaults", "<plist version=\"1.0\"><dict><key>keychain</key><array/></dict></plist>"},
    };
    for (const auto& d : damaged) {
        SCOPED_TRACE(d.name);
        logins.signIn();
        for (const auto& e : fs::directory_iterator(fs::path(record).parent_path())) fs::remove(e.path());
        ASSERT_TRUE(ns::writeFileAtomically(record, d.text));
        SHR::reset();
        EXPECT_EQ(logins.stillSignedIn(true).size(), logins.count());
        EXPECT_FALSE(fs::exists(record));
        std::vector<std::string> aside;
        for (const auto& e : fs::directory_iterator(fs::path(record).parent_path())) aside.push_back(e.path().string());
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_TRUE(std::regex_match(aside[0], std::regex(".*/SHRLogoutUnderWay\\.plist\\.corrupt-[0-9]+"))) << aside[0];
        EXPECT_EQ(ns::readFile(aside[0]).value_or(""), d.text);
    }
    // A login stored as the first thing a start does comes after the logout
    // that a kill cut short, so the finished logout does not take it away.
    for (const auto& e : fs::directory_iterator(fs::path(record).parent_path())) fs::remove(e.path());
    ASSERT_TRUE(named.write());
    SHR::reset();
    ASSERT_TRUE(SHR::setAuthValueForKeyForSharer(ns::str("newuser").get(), "username", "SHRPinboard"));
    EXPECT_FALSE(fs::exists(record));
    EXPECT_EQ(ns::describe(SHR::getAuthValueForKeyForSharer("username", "SHRPinboard")), "newuser");

    // A logout finishes an earlier one that was cut short after this start:
    // what the record names goes with what the logout removes, and the
    // record goes too.
    logins.signIn();
    SHR::reset();
    SHR::startForCurrentHome();
    ASSERT_TRUE(named.write());
    EXPECT_TRUE(SHR::logoutOfService("SHRInstapaper"));
    std::vector<std::string> left = logins.stillSignedIn(true);
    EXPECT_EQ(left.size(), logins.count() - 4) << testing::PrintToString(left);
    for (const char* gone : {"SHRPinboard", "SHRTwitter", "SHRInstapaper", kSHRFacebookAccessToken})
        EXPECT_EQ(std::count(left.begin(), left.end(), std::string(gone)), 0) << gone;
    EXPECT_FALSE(fs::exists(record));
}

// A login stored while a logout that a kill cut short cannot be finished
// (the keychain's or the user defaults' folder full or read-only) comes
// after that logout: the record loses what the login stores, so no later
// start removes it, while what the record named of the logins stored before
// it still goes once the logout can be finished. A start that could not
// finish it tries again before the next login read or write in the same
// process (a folder read-only at the start and writable later). Before,
// the record kept naming the service, and the next start removed the login
// the user had just been told was stored.
TEST_F(SimpleSharersTest, ALoginStoredWhileALogoutCutShortIsUnfinishedStaysStored) {
    namespace fs = std::filesystem;
    StoredLogins logins;
    const std::string record = SHRLogoutRecord::path();
    SHRLogoutRecord named;
    named.keychainItems = {{"SHR_AUTH_SHRPinboard", "username"},
                           {"SHR_AUTH_SHRPinboard", "password"},
                           {"SHR_AUTH_SHRTwitter", "accessKey"}};
    named.defaultsKeys = {kSHRFacebookAccessToken, kSHRVkontakteAccessToken};
    testsupport::FullDisk keychainFolder(ns::Paths::join(ns::Paths::libraryDirectory(), "Keychains"));
    FullPreferences defaultsFolder;
    testsupport::FullDisk recordFolder(fs::path(record).parent_path().string());
    // "" for none.
    auto keychainValue = [](const char* key, const char* sharer) {
        auto value = SHR::getAuthValueForKeyForSharer(key, sharer);
        return value ? ns::describe(value) : std::string();
    };
    auto defaultsValue = [](const char* key) {
        auto value = ns::UserDefaults::standardUserDefaults()->objectForKey(key);
        return value ? ns::describe(value) : std::string();
    };
    const struct {
        const char* name;
        testsupport::FullDisk* disk;
        std::string reason;
        bool keychainWritable;
    } rows[] = {
        {"keychain", &keychainFolder, "the keychain cannot be written", false},
        {"user defaults", &defaultsFolder, "the user defaults cannot be saved", true},
    };
    for (const auto& row : rows) {
        for (auto failure : testsupport::FullDisk::kFailures) {
            SCOPED_TRACE(std::string(row.name) + ", " + testsupport::FullDisk::describe(failure));
            keychainFolder.restore();
            defaultsFolder.restore();
            logins.signIn();
            ASSERT_TRUE(KeychainStore::setPasswordsForServices({{"SHR_AUTH_SHRPinboard", "password", ns::str("old")}}));
            ASSERT_TRUE(named.write());
            if (!row.disk->arrange(failure)) continue;
            testing::internal::CaptureStderr();
            SHR::reset();
            EXPECT_FALSE(SHR::finishInterruptedLogout());
            EXPECT_EQ(SHR::unfinishedLogoutReason(), row.reason);

            // The user logs in again, to a keychain login and a user-defaults
            // one; the one whose file can be written is stored.
            bool pinboard = SHR::setAuthValuesForSharer({{"username", ns::str("newuser")}}, "SHRPinboard");
            EXPECT_EQ(pinboard, row.keychainWritable);
            bool facebook = SHR::setDefaultsValues({{kSHRFacebookAccessToken, ns::str("newtoken")}});
            EXPECT_EQ(facebook, !row.keychainWritable);
            if (pinboard) {
                // The old login's password, which the record names and the
                // new login does not set, went with the old login.
                EXPECT_EQ(keychainValue("password", "SHRPinboard"), "");
            }
            // The record names the rest, as before.
            auto rest = SHRLogoutRecord::find();
            ASSERT_TRUE(rest);
            const std::vector<std::pair<std::string, std::string>> twitterOnly{{"SHR_AUTH_SHRTwitter", "accessKey"}};
            const std::vector<std::string> vkontakteOnly{kSHRVkontakteAccessToken};
            EXPECT_EQ(rest->keychainItems, pinboard ? twitterOnly : named.keychainItems);
            EXPECT_EQ(rest->defaultsKeys, facebook ? vkontakteOnly : named.defaultsKeys);
            // Nothing is no login.
            EXPECT_FALSE(SHR::setAuthValueForKeyForSharer(nullptr, "username", "SHRPinboard"));
            // The next start cannot finish the logout either; what was
            // stored stays.
            SHR::reset();
            EXPECT_FALSE(SHR::finishInterruptedLogout());
            EXPECT_EQ(keychainValue("username", "SHRPinboard"), pinboard ? "newuser" : "secret");
            EXPECT_EQ(defaultsValue(kSHRFacebookAccessToken), facebook ? "newtoken" : "secret");

            // Writable again in this process: the next login write or read
            // finishes the logout first.
            row.disk->restore();
            if (row.keychainWritable) {
                EXPECT_EQ(keychainValue("accessKey", "SHRTwitter"), "") << "the read did not finish the logout first";
            } else {
                EXPECT_TRUE(SHR::setDefaultsValues({{"SHRTestUnrelated", ns::str("x")}}));
                EXPECT_EQ(SHR::unfinishedLogoutReason(), "") << "the write did not finish the logout first";
                EXPECT_EQ(keychainValue("accessKey", "SHRTwitter"), "");
            }
            EXPECT_EQ(SHR::unfinishedLogoutReason(), "");
            EXPECT_FALSE(fs::exists(record));
            // Each start that could not finish it said so once, not each
            // later try; its end is said too.
            std::string said = testing::internal::GetCapturedStderr();
            auto lines = [&](const std::string& text) {
                size_t n = 0;
                for (size_t at = said.find(text); at != std::string::npos; at = said.find(text, at + 1)) ++n;
                return n;
            };
            EXPECT_EQ(lines("SHR: a logout cut short could not be finished (" + row.reason), 2u) << said;
            EXPECT_EQ(lines("SHR: a logout cut short was finished\n"), 1u) << said;
            ns::UserDefaults::resetStandardUserDefaults();  // as the next process reads them
            SHR::reset();
            EXPECT_EQ(keychainValue("username", "SHRPinboard"), pinboard ? "newuser" : "");
            EXPECT_EQ(keychainValue("password", "SHRPinboard"), "");
            EXPECT_EQ(defaultsValue(kSHRFacebookAccessToken), facebook ? "newtoken" : "");
            EXPECT_EQ(defaultsValue(kSHRVkontakteAccessToken), "");
            EXPECT_EQ(keychainValue("username", "SHRInstapaper"), "secret") << "not named by the record";
        }
    }

    // The record cannot be rewritten (its folder read-only): the login is
    // refused and the keychain keeps what it held, rather than store a login
    // that the next start removes.
    keychainFolder.restore();
    defaultsFolder.restore();
    logins.signIn();
    ASSERT_TRUE(named.write());
    if (recordFolder.arrange(testsupport::FullDisk::Failure::ReadOnly)) {
        SHR::reset();
        EXPECT_TRUE(SHR::finishInterruptedLogout()) << "its logins are removed";
        ASSERT_TRUE(fs::exists(record)) << "but the record could not be deleted";
        EXPECT_FALSE(SHR::setAuthValuesForSharer({{"username", ns::str("newuser")}}, "SHRPinboard"));
        EXPECT_EQ(keychainValue("username", "SHRPinboard"), "");
        EXPECT_FALSE(SHR::setDefaultsValues({{kSHRFacebookAccessToken, ns::str("newtoken")}}));
        EXPECT_EQ(defaultsValue(kSHRFacebookAccessToken), "");
        EXPECT_TRUE(SHR::setAuthValuesForSharer({{"username", ns::str("newuser")}}, "SHRInstapaper"))
            << "a login the record does not name";
        recordFolder.restore();
        EXPECT_TRUE(SHR::setAuthValuesForSharer({{"username", ns::str("newuser")}}, "SHRPinboard"));
        SHR::reset();
        EXPECT_EQ(keychainValue("username", "SHRPinboard"), "newuser");
        EXPECT_FALSE(fs::exists(record));
    }
}

// Makes a file read-only where the test may mount: a read-only bind mount
// of the file on itself, which can be neither written nor deleted.
class ReadOnlyFile {
public:
    explicit ReadOnlyFile(std::string path) : path_(std::move(path)) {
        if (::mount(path_.c_str(), path_.c_str(), nullptr, MS_BIND, nullptr) != 0) return;
        mounted_ = true;
        readOnly_ = ::mount(nullptr, path_.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
    }
    ~ReadOnlyFile() { release(); }
    bool held() const { return readOnly_; }
    void release() {
        if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
        mounted_ = readOnly_ = false;
    }

private:
    std::string path_;
    bool mounted_ = false;
    bool readOnly_ = false;
};

// A logout also takes the passwords out of the keychain's copies set aside
// as damaged (by this process or an earlier one): no file of the home holds
// a password afterwards. A copy that can be neither emptied nor deleted
// keeps them: the logout removes the current logins but says that older
// ones remain, and "Logged Out!" is not shown.
TEST_F(SimpleSharersTest, ALogoutRemovesThePasswordsOfDamagedKeychainCopies) {
    namespace fs = std::filesystem;
    StoredLogins logins;
    const std::string keychain = ns::Paths::join(ns::Paths::libraryDirectory(), "Keychains/keychain.db");
    auto filesHolding = [&](const std::string& bytes) {
        std::vector<std::string> found;
        for (const auto& e : fs::recursive_directory_iterator(home->path()))
            if (e.is_regular_file() && !e.is_symlink() &&
                ns::readFile(e.path().string()).value_or("").find(bytes) != std::string::npos)
                found.push_back(fs::relative(e.path(), home->path()).string());
        return found;
    };
    auto damageTheKeychain = [&] {
        auto bytes = ns::readFile(keychain);
        ASSERT_TRUE(bytes);
        (*bytes)[bytes->size() - 1] ^= 1;  // the checksum no longer matches
        ASSERT_TRUE(ns::writeFileAtomically(keychain, *bytes, nullptr, 0600));
        EXPECT_FALSE(SHR::getAuthValueForKeyForSharer("username", "SHRPinboard")) << "set aside, starting empty";
    };
    auto logOut = [&] {
        ui::Panel::resetShown();
        SHRActivityIndicator::currentIndicator()->setSubMessage("");
        NotificationRecorder rec;
        SHRSharer::shareURL<SHRLogout>(ns::URL::URLWithString("http://example.com/"));
        return rec.names;
    };

    // One copy set aside by this process, one left by an earlier one, a link
    // of such a name (left alone, and what it points at too).
    logins.signIn();
    damageTheKeychain();
    ASSERT_TRUE(ns::writeFileAtomically(keychain + ".corrupt-20200101T000000Z", "older: secret", nullptr, 0600));
    std::string outside = home->path() + "/outside";
    ASSERT_TRUE(ns::writeFileAtomically(outside, "not a keychain copy: secret"));
    fs::create_symlink(outside, keychain + ".corrupt-link");
    logins.signIn();
    ASSERT_EQ(filesHolding("secret").size(), 5u) << testing::PrintToString(filesHolding("secret"));
    EXPECT_EQ(logOut(), (std::vector<std::string>{"SHRSendDidFinish"}));
    EXPECT_EQ(SHRActivityIndicator::currentIndicator()->subMessageLabel()->text(), "Logged Out!");
    EXPECT_TRUE(alerts().empty());
    EXPECT_EQ(filesHolding("secret"), std::vector<std::string>{"outside"});
    EXPECT_TRUE(fs::is_symlink(keychain + ".corrupt-link"));
    EXPECT_EQ(logins.stillSignedIn(true), std::vector<std::string>{});

    // A copy that can be neither emptied nor deleted.
    logins.signIn();
    damageTheKeychain();
    std::vector<std::string> copies;
    for (const auto& e : fs::directory_iterator(fs::path(keychain).parent_path()))
        if (e.path().filename().string().find(".corrupt-2") != std::string::npos) copies.push_back(e.path().string());
    ASSERT_EQ(copies.size(), 1u);
    logins.signIn();
    ReadOnlyFile readOnly(copies[0]);
    if (!readOnly.held()) {
        std::printf("[  SKIPPED ] a copy that cannot be deleted: this test may not mount here\n");
        return;
    }
    EXPECT_EQ(logOut(), (std::vector<std::string>{"SHRSendDidFailWithError"}));
    EXPECT_NE(SHRActivityIndicator::currentIndicator()->subMessageLabel()->text(), "Logged Out!");
    EXPECT_EQ(alerts(), (std::vector<std::string>{"Error|Your logins were removed, but a damaged copy of the keychain "
                                                  "that could not be deleted still holds older ones. Please try "
                                                  "again."}));
    EXPECT_EQ(logins.stillSignedIn(true), std::vector<std::string>{}) << "the current logins are removed";
    EXPECT_FALSE(ns::make<SHRFacebook>()->isAuthorized());
    EXPECT_EQ(filesHolding("secret").size(), 2u) << testing::PrintToString(filesHolding("secret"));
    EXPECT_FALSE(SHR::logoutOfService("SHRPinboard"));
    SHRLogoutFailure why = SHRLogoutFailure::None;
    EXPECT_FALSE(SHR::logoutOfAll(&why));
    EXPECT_EQ(why, SHRLogoutFailure::DamagedCopiesStay);

    // Once it can go, the next logout is done.
    readOnly.release();
    EXPECT_EQ(logOut(), (std::vector<std::string>{"SHRSendDidFinish"}));
    EXPECT_EQ(filesHolding("secret"), std::vector<std::string>{"outside"});
}

}  // namespace
}  // namespace sharing::test
