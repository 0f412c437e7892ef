// The Twitter sharer against a fake of its three services on 127.0.0.1 (a
// Python program the test starts, which verifies every OAuth signature and
// the delegated credentials of the image upload with its own code, and
// parses the multipart upload body), and the system composer variant.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Driver.h"
#include "platform/ui/TweetComposeViewController.h"
#include "sharing/core/ImageCoding.h"
#include "sharing/sharers/twitter/SHRTwitter.h"
#include "sharing/tests/SharingTestSupport.h"
#include "sharing/ui/SHRFormController.h"
#include "testsupport/PythonFake.h"

namespace sharing::test {
namespace {

class FakeTwitter : public testsupport::PythonFake {
public:
    FakeTwitter() : PythonFake("sharing/tests/data/fake_twitter.py") {}
    std::string log() const { return get("/log"); }
};

class TwitterTest : public SharingTest {
protected:
    void SetUp() override {
        SharingTest::SetUp();
        ui::TweetComposeViewController::reset();
        ui::TweetComposeViewController::setAvailable(false);
        SHRTwitter::setFollowAccount("");
    }
    void TearDown() override {
        ui::TweetComposeViewController::reset();
        SHRTwitter::setFollowAccount("");
        SharingTest::TearDown();
    }
    void startFake() {
        fakeTwitter = std::make_unique<FakeTwitter>();
        ASSERT_GT(fakeTwitter->port(), 0) << "the fake services did not start";
        endpoints.point({SHRTwitter::kService, SHRTwitter::kImageHostService, SHRTwitter::kShortenerService},
                        fakeTwitter->url(""));
    }
    void storeToken() {
        SHR::setAuthValueForKeyForSharer(ns::str("acc-tok").get(), "accessKey", "SHRTwitter");
        SHR::setAuthValueForKeyForSharer(ns::str("acc secret").get(), "accessSecret", "SHRTwitter");
    }
    // The large text form on screen inside the sharer, or nil.
    SHRFormControllerLargeTextField* visibleForm() {
        auto* nav = ns::as<ui::NavigationController>(SHR::currentHelper()->currentView());
        return nav ? ns::as<SHRFormControllerLargeTextField>(nav->topViewController()) : nullptr;
    }
    bool logHas(const std::string& text) {
        std::string log = fakeTwitter->log();
        return log.find(text) != std::string::npos;
    }
    // Whether one line of the fake's log is exactly `line`.
    bool logHasLine(const std::string& line) {
        std::string log = "\n" + fakeTwitter->log() + "\n";
        return log.find("\n" + line + "\n") != std::string::npos;
    }
    std::unique_ptr<FakeTwitter> fakeTwitter;
};

ns::Ref<SHRItem> imageItem(const std::string& title) {
    return SHRItem::image(ui::Image::make("card", ui::Size{240, 160}), ns::str(title));
}

// -- OAuth flow and status update ------------------------------------------------------------

TEST_F(TwitterTest, OAuthFlowStoresTokenThenPostsTheEditedTweet) {
    startFake();
    NotificationRecorder rec;
    auto sharer = SHRSharer::shareItem<SHRTwitter>(SHRItem::text(ns::str("hello deck")));
    EXPECT_EQ(sharer->pendingAction(), SHRPendingShare);
    ASSERT_TRUE(runUntil([&] {
        auto* nav = ns::as<ui::NavigationController>(SHR::currentHelper()->currentView());
        return nav && ns::as<SHROAuthView>(nav->topViewController());
    }));
    auto* view = ns::as<SHROAuthView>(ns::as<ui::NavigationController>(SHR::currentHelper()->currentView())->topViewController());
    ASSERT_TRUE(view->webView()->request());
    ASSERT_TRUE(view->webView()->request()->URL());
    std::string authURL = view->webView()->request()->URL()->absoluteText();
    EXPECT_EQ(authURL, fakeTwitter->url("/oauth/authorize?oauth_token=reqtok"));
    // The stand-in web view fetches nothing: the test is the browser.
    view->webView()->loadHTMLString(fakeTwitter->get("/oauth/authorize?oauth_token=reqtok"),
                                    ns::URL::URLWithString(authURL));
    ui::Driver driver(clock);
    EXPECT_FALSE(driver.followLink("Allow"));  // the callback is caught, not loaded
    ASSERT_TRUE(runUntil([&] { return visibleForm() != nullptr; })) << driver.screen();
    EXPECT_EQ(ns::describe(SHR::getAuthValueForKeyForSharer("accessKey", "SHRTwitter")), "acc-tok");
    EXPECT_EQ(ns::describe(SHR::getAuthValueForKeyForSharer("accessSecret", "SHRTwitter")), "acc secret");

    auto* form = visibleForm();
    ASSERT_TRUE(form);
    EXPECT_EQ(form->text(), "hello deck");
    ASSERT_TRUE(form->counter());
    EXPECT_EQ(form->counter()->text(), "130");
    ASSERT_TRUE(driver.typeText("", " & more")) << driver.lastError();
    EXPECT_EQ(form->counter()->text(), "123");
    ASSERT_TRUE(driver.tapBarButton("Send to Twitter")) << driver.lastError() << "\n" << driver.screen();
    ASSERT_TRUE(runUntil([&] { return !rec.names.empty() && rec.names.back() == SHRSendDidFinishNotification; }))
        << fakeTwitter->log();
    EXPECT_TRUE(logHas("status hello deck & more")) << fakeTwitter->log();
    EXPECT_FALSE(logHas("refused")) << fakeTwitter->log();
    EXPECT_TRUE(alerts().empty());
}

TEST_F(TwitterTest, StatusRepliesDecideSuccessOrTheErrorAlert) {
    startFake();
    storeToken();
    // The longest tweet: 140 characters, one of them two bytes long.
    const std::string longest = std::string(138, 'x') + " \xC3\xA9";
    struct Case {
        const char* status;
        const char* alert;  // nullptr: success
        bool relogin;
    } cases[] = {
        {"plain tweet", nullptr, false},
        {longest.c_str(), nullptr, false},
        {"again #dup", "Error|Status is a duplicate.", false},
        {"over #down", "Error|Unknown Error", false},
        {"stale #nonce", "Error|Could not authenticate you. Please relogin.", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        NotificationRecorder rec;
        auto sharer = ns::make<SHRTwitter>();
        sharer->setItem(SHRItem::text(ns::str(c.status)));
        ASSERT_TRUE(sharer->isAuthorized());
        ASSERT_TRUE(sharer->prepareItem());
        ASSERT_TRUE(sharer->send());
        ASSERT_TRUE(runUntil([&] { return rec.names.size() >= 2; }));
        if (!c.alert) {
            EXPECT_EQ(rec.names.back(), SHRSendDidFinishNotification);
            EXPECT_TRUE(alerts().empty());
            continue;
        }
        EXPECT_EQ(rec.names.back(), SHRSendDidFailWithErrorNotification);
        ASSERT_FALSE(alerts().empty());
        EXPECT_EQ(alerts()[0], c.alert);
        ASSERT_TRUE(sharer->lastError());
        if (!c.relogin) {
            EXPECT_EQ(sharer->lastError()->domain(), "Twitter");
            EXPECT_EQ(sharer->lastError()->code(), 2);
        } else {
            // Signing in again starts with a new request token.
            ASSERT_TRUE(runUntil([&] { return SHR::currentHelper()->currentView() != nullptr; }));
            SHR::currentHelper()->hideCurrentViewControllerAnimated(false);
            runUntil([&] { return SHR::currentHelper()->currentView() == nullptr; });
        }
        ui::Panel::resetShown();
    }
    // The longest tweet went out whole.
    EXPECT_TRUE(logHasLine("status " + longest)) << fakeTwitter->log();
    // Too long after the user's edit: nothing is sent.
    auto sharer = ns::make<SHRTwitter>();
    sharer->setItem(SHRItem::text(ns::str(std::string(141, 'x'))));
    sharer->prepareItem();
    EXPECT_TRUE(sharer->validateItem());
    EXPECT_FALSE(sharer->validateItemAfterUserEdit());
    EXPECT_FALSE(sharer->send());
}

TEST_F(TwitterTest, ARequestTokenThatMakesNoAuthorizeAddressEndsTheLoginWithAnAlert) {
    NotificationRecorder rec;
    auto sharer = ns::make<SHRTwitter>();
    auto ticket = ns::make<OAServiceTicket>(nullptr, nullptr, nullptr, true);
    sharer->tokenRequestTicketDidFinishWithData(ticket.get(), ns::Data::make("oauth_token=a%20b&oauth_token_secret=s").get());
    EXPECT_EQ(alerts(), (std::vector<std::string>{"Authorize Error|There was an error while authorizing"}));
    EXPECT_EQ(rec.names, (std::vector<std::string>{"SHRAuthDidFinish:false"}));
    EXPECT_FALSE(SHR::currentHelper()->currentView());
}

// -- Image upload ------------------------------------------------------------------------------

TEST_F(TwitterTest, ImageIsUploadedWithDelegatedCredentialsThenTweetedWithItsLink) {
    startFake();
    storeToken();
    NotificationRecorder rec;
    ui::Driver driver(clock);
    auto sharer = SHRSharer::shareItem<SHRTwitter>(imageItem("Great card"));
    ASSERT_TRUE(runUntil([&] { return visibleForm() != nullptr; }));
    auto* form = visibleForm();
    ASSERT_TRUE(form);
    EXPECT_EQ(form->text(), "Great card");
    ASSERT_TRUE(form->counter());
    EXPECT_EQ(form->counter()->text(), "Image + 105");  // 140 - 25 for the image - 10
    ASSERT_TRUE(driver.tapBarButton("Send to Twitter")) << driver.lastError();
    ASSERT_TRUE(runUntil([&] { return !rec.names.empty() && rec.names.back() != SHRSendDidStartNotification; }))
        << fakeTwitter->log();
    EXPECT_EQ(rec.names, (std::vector<std::string>{SHRSendDidStartNotification, SHRSendDidStartNotification,
                                                   SHRSendDidFinishNotification}))
        << fakeTwitter->log();
    std::string log = fakeTwitter->log();
    EXPECT_NE(log.find("upload provider=/1/account/verify_credentials.json message=Great card jpeg="), std::string::npos)
        << log;
    EXPECT_NE(log.find("boundary=0xKhTmLbOuNdArY"), std::string::npos) << log;
    EXPECT_TRUE(logHasLine("status Great card http://pics.example/x9")) << log;  // the link exactly
    EXPECT_EQ(log.find("refused"), std::string::npos) << log;

    // An upload answered without the picture's link ends the send as a
    // failure instead of leaving it under way.
    NotificationRecorder again;
    auto second = ns::make<SHRTwitter>();
    second->setShareDelegate(nullptr);
    second->setItem(imageItem("No link #nolink"));
    ASSERT_TRUE(second->isAuthorized());
    ASSERT_TRUE(second->prepareItem());
    ASSERT_TRUE(second->send());
    ASSERT_TRUE(runUntil([&] { return !again.names.empty() && again.names.back() != SHRSendDidStartNotification; }))
        << fakeTwitter->log();
    EXPECT_EQ(again.names.back(), SHRSendDidFailWithErrorNotification);
    EXPECT_FALSE(logHas("status No link"));
}

TEST_F(TwitterTest, ImageHostRepliesGiveTheLinkOrAFailureTheUserSees) {
    startFake();
    storeToken();
    struct Case {
        const char* reply;
        const char* status;  // nullptr: the share fails
        bool accepted = true;
    } cases[] = {
        {"<url>http://pics.example/y1</url>", "status Bare http://pics.example/y1"},  // the element alone, lower case
        {"<url>http://pics.example/never-closed", nullptr},
        {"<url>http://pics.example/refused</url>", nullptr, false},  // an error status, whatever the body
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        NotificationRecorder rec;
        auto sharer = ns::make<SHRTwitter>();
        sharer->setItem(imageItem("Bare"));
        ASSERT_TRUE(sharer->isAuthorized());
        ASSERT_TRUE(sharer->prepareItem());
        auto ticket = ns::make<OAServiceTicket>(nullptr, nullptr, nullptr, c.accepted);
        sharer->sendImageTicketDidFinishWithData(ticket.get(), ns::Data::make(c.reply).get());
        ASSERT_TRUE(runUntil([&] { return !rec.names.empty() && rec.names.back() != SHRSendDidStartNotification; }));
        if (c.status) {
            EXPECT_EQ(rec.names.back(), SHRSendDidFinishNotification);
            EXPECT_TRUE(logHasLine(c.status)) << fakeTwitter->log();
            continue;
        }
        EXPECT_EQ(rec.names, (std::vector<std::string>{SHRSendDidFailWithErrorNotification}));
        EXPECT_EQ(alerts(), (std::vector<std::string>{"Error|There was an error while sharing"}));
        EXPECT_FALSE(logHas("status Bare http://pics.example/refused"));
        ui::Panel::resetShown();
    }

    // An image host that cannot be reached ends the send as a failure.
    endpoints.point({SHRTwitter::kImageHostService}, "http://127.0.0.1:1");
    NotificationRecorder rec;
    auto sharer = ns::make<SHRTwitter>();
    sharer->setItem(imageItem("Unreachable"));
    ASSERT_TRUE(sharer->isAuthorized());
    ASSERT_TRUE(sharer->prepareItem());
    ASSERT_TRUE(sharer->send());
    ASSERT_TRUE(runUntil([&] { return !rec.names.empty() && rec.names.back() != SHRSendDidStartNotification; }));
    EXPECT_EQ(rec.names.back(), SHRSendDidFailWithErrorNotification);
    EXPECT_EQ(alerts().size(), 1u);
    EXPECT_FALSE(logHas("Unreachable"));
}

TEST(TwitterImageData, QualityStepsDownUntilTheImageFits) {
    auto image = ui::Image::make("big", ui::Size{2000, 2000});
    std::vector<int> asked;
    // 2 MB at 0.9, then 250 kB less a step.
    auto encoder = [&](size_t fitsAt) {
        return [&asked, fitsAt](const ui::Image*, double q) {
            int tenths = static_cast<int>(q * 10 + 0.5);
            asked.push_back(tenths);
            size_t size = tenths <= static_cast<int>(fitsAt) ? 600000 : 2000000;
            return ns::Data::make(std::string(size, 'j'));
        };
    };
    auto data = SHRTwitter::uploadImageData(image.get(), encoder(5));
    EXPECT_EQ(asked, (std::vector<int>{9, 8, 7, 6, 5}));
    EXPECT_EQ(data->length(), 600000u);
    asked.clear();
    data = SHRTwitter::uploadImageData(image.get(), encoder(0));  // never fits: stops at 0.1
    EXPECT_EQ(asked, (std::vector<int>{9, 8, 7, 6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(data->length(), 2000000u);
    // The limit itself: 700000 bytes fit, one more does not.
    for (size_t first : {kSHRTwitterMaxImageBytes, kSHRTwitterMaxImageBytes + 1}) {
        asked.clear();
        data = SHRTwitter::uploadImageData(image.get(), [&](const ui::Image*, double q) {
            asked.push_back(static_cast<int>(q * 10 + 0.5));
            return ns::Data::make(std::string(asked.size() == 1 ? first : 1000, 'j'));
        });
        EXPECT_EQ(asked.size(), first == kSHRTwitterMaxImageBytes ? 1u : 2u) << first;
    }
    // The real encoder writes a JPEG that our decoder reads back.
    auto jpeg = SHRTwitter::uploadImageData(image.get(), [](const ui::Image* i, double q) {
        return imageJPEGRepresentation(i, q);
    });
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(jpegQualityOf(jpeg->view()), 90);
}

// -- Account information -------------------------------------------------------------------------

TEST_F(TwitterTest, UserInfoIsStoredWithNullsOfNestedDictionariesReplaced) {
    startFake();
    storeToken();
    NotificationRecorder rec;
    auto sharer = SHRSharer::getUserInfo<SHRTwitter>();
    EXPECT_TRUE(sharer->quiet());
    ASSERT_TRUE(runUntil([&] { return rec.names.size() >= 2; }));
    EXPECT_EQ(rec.names.back(), SHRSendDidFinishNotification);
    auto info = ns::UserDefaults::standardUserDefaults()->dictionaryForKey(kSHRTwitterUserInfo);
    ASSERT_TRUE(info);
    EXPECT_EQ(ns::describe(info->objectForKey("screen_name")), "deckuser");
    EXPECT_EQ(ns::describe(info->objectForKey("url")), "");
    auto* status = ns::as<ns::Dictionary>(info->objectForKey("status"));
    ASSERT_TRUE(status);
    EXPECT_EQ(ns::describe(status->objectForKey("place")), "");
    ASSERT_TRUE(ns::as<ns::Dictionary>(status->objectForKey("geo")));
    EXPECT_EQ(ns::describe(ns::as<ns::Dictionary>(status->objectForKey("geo"))->objectForKey("coordinates")), "");
    // A null inside a list cannot be kept in the defaults: stored as "".
    auto* ids = ns::as<ns::Array>(info->objectForKey("ids"));
    ASSERT_TRUE(ids);
    EXPECT_EQ(ns::describe(ids->objectAtIndex(1)), "");
    // The converter itself does not enter arrays.
    auto dict = ns::MutableDictionary::make();
    auto list = ns::MutableArray::make();
    list->addObject(ns::Null::null());
    dict->setObject(list, "ids");
    dict->setObject(ns::Null::null(), "url");
    SHRTwitter::convertNSNullsToEmptyStrings(dict.get());
    ASSERT_TRUE(ns::as<ns::Array>(dict->objectForKey("ids")));
    EXPECT_TRUE(ns::as<ns::Null>(ns::as<ns::Array>(dict->objectForKey("ids"))->objectAtIndex(0)));
    EXPECT_EQ(ns::describe(dict->objectForKey("url")), "");

    // The stored copy keeps 64 levels below the top; a deeper value is stored
    // as "" (the reply itself may nest far deeper).
    for (int levels : {63, 64, 65, 300}) {
        SCOPED_TRACE(levels);
        std::string json = "{\"screen_name\":\"deep\",\"d\":";
        for (int i = 0; i < levels; ++i) json += "{\"d\":";
        json += "\"bottom\"";
        for (int i = 0; i < levels; ++i) json += "}";
        json += "}";
        NotificationRecorder deep;
        auto fetcher = ns::make<SHRTwitter>();
        fetcher->setQuiet(true);
        auto ticket = ns::make<OAServiceTicket>(nullptr, nullptr, nullptr, true);
        fetcher->sendUserInfoDidFinishWithData(ticket.get(), ns::Data::make(json).get());
        ASSERT_FALSE(deep.names.empty());
        EXPECT_EQ(deep.names.back(), SHRSendDidFinishNotification);
        auto stored = ns::UserDefaults::standardUserDefaults()->dictionaryForKey(kSHRTwitterUserInfo);
        ASSERT_TRUE(stored);
        EXPECT_EQ(ns::describe(stored->objectForKey("screen_name")), "deep");
        // The top is level 0; "d" of the top holds level 1, and so on.
        ns::Object* value = stored->objectForKey("d");
        int level = 1;
        while (auto* d = ns::as<ns::Dictionary>(value)) {
            value = d->objectForKey("d");
            ++level;
        }
        ASSERT_TRUE(value);
        EXPECT_EQ(level, levels <= 63 ? levels + 1 : 65);
        EXPECT_EQ(ns::describe(value), levels <= 63 ? "bottom" : "");
    }

    // Account information that cannot be stored is a failed share, and
    // what was stored before stays.
    {
        FullPreferences disk;
        ASSERT_TRUE(ns::UserDefaults::standardUserDefaults()->setObjectForKey(
            ns::Dictionary::make({{"screen_name", ns::str("before")}}), kSHRTwitterUserInfo));
        for (auto failure : testsupport::FullDisk::kFailures) {
            SCOPED_TRACE(testsupport::FullDisk::describe(failure));
            disk.restore();
            if (!disk.arrange(failure)) continue;
            NotificationRecorder full;
            auto fetcher = ns::make<SHRTwitter>();
            fetcher->setQuiet(true);
            auto ticket = ns::make<OAServiceTicket>(nullptr, nullptr, nullptr, true);
            fetcher->sendUserInfoDidFinishWithData(ticket.get(), ns::Data::make(R"({"screen_name":"after"})").get());
            EXPECT_EQ(full.names, std::vector<std::string>{SHRSendDidFailWithErrorNotification});
            auto stored = ns::UserDefaults::standardUserDefaults()->dictionaryForKey(kSHRTwitterUserInfo);
            ASSERT_TRUE(stored);
            EXPECT_EQ(ns::describe(stored->objectForKey("screen_name")), "before");
        }
        disk.reread();
    }

    // Logging out forgets the information and the token.
    ns::make<SHRTwitter>()->logout();
    EXPECT_FALSE(ns::UserDefaults::standardUserDefaults()->objectForKey(kSHRTwitterUserInfo));
    EXPECT_FALSE(SHR::getAuthValueForKeyForSharer("accessKey", "SHRTwitter"));
}

// -- Links ------------------------------------------------------------------------------------------

TEST_F(TwitterTest, LinksAreShortenedOrPostedWholeWhenThatIsNotPossible) {
    startFake();
    storeToken();
    struct Case {
        const char* url;
        bool online;
        const char* status;
        const char* alert;
    } cases[] = {
        {"http://deck.example/cards/1?a=b%20c", true, "Card http://sho.rt/x1", nullptr},
        {"http://already.example/x", true, "Card http://already.example/x", nullptr},
        {"http://broken.example/x%20y", true, "Card http://broken.example/x y", "Shorten URL Error|We could not shorten the URL."},
        {"http://offline.example/a%20b", false, "Card http://offline.example/a b", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        setOnline(c.online);
        auto sharer = SHRSharer::shareItem<SHRTwitter>(SHRItem::URL(ns::URL::URLWithString(c.url), ns::str("Card")));
        ASSERT_TRUE(runUntil([&] { return visibleForm() != nullptr; }));
        EXPECT_EQ(visibleForm()->text(), c.status);
        if (c.alert) {
            ASSERT_FALSE(alerts().empty());
            EXPECT_EQ(alerts()[0], c.alert);
        } else {
            EXPECT_TRUE(alerts().empty());
        }
        ui::Panel::resetShown();
        visibleForm()->cancel();
        ASSERT_TRUE(runUntil([&] { return SHR::currentHelper()->currentView() == nullptr; }));
    }
    std::string log = fakeTwitter->log();
    // The long URL went to the shortener encoded and came back decoded once.
    EXPECT_NE(log.find("shorten http://deck.example/cards/1?a=b%20c login= format=txt"), std::string::npos) << log;
    EXPECT_EQ(log.find("offline.example"), std::string::npos) << log;
}

// -- xAuth ----------------------------------------------------------------------------------------------

TEST_F(TwitterTest, XAuthLoginFormTradesThePasswordAndFollowsOnce) {
    startFake();
    SHRTwitter::setFollowAccount("deckapp");
    NotificationRecorder rec;
    auto sharer = ns::make<SHRTwitter>();
    EXPECT_FALSE(sharer->xAuth());  // the web page unless told otherwise
    sharer->setXAuth(true);
    sharer->setItem(SHRItem::text(ns::str("from the login form")));
    ASSERT_EQ(sharer->authorizationFormFields()->count(), 3u);
    sharer->share();
    ASSERT_TRUE(runUntil([&] {
        auto* nav = ns::as<ui::NavigationController>(SHR::currentHelper()->currentView());
        return nav && ns::as<SHRFormController>(nav->topViewController());
    }));
    auto* login = ns::as<SHRFormController>(ns::as<ui::NavigationController>(SHR::currentHelper()->currentView())->topViewController());
    ASSERT_TRUE(login);
    // A wrong password: the server's reply reaches the user.
    login->setValueForKey("username", "deckuser");
    login->setValueForKey("password", "wrong");
    login->validateForm();
    ASSERT_TRUE(runUntil([&] { return !alerts().empty(); }));
    EXPECT_EQ(alerts()[0], "Access Error|Invalid user name or password");
    ui::Panel::resetShown();
    login->setValueForKey("password", "pa ss");
    login->validateForm();
    ASSERT_TRUE(runUntil([&] { return visibleForm() != nullptr; }));
    EXPECT_EQ(ns::describe(SHR::getAuthValueForKeyForSharer("accessKey", "SHRTwitter")), "acc-tok");
    visibleForm()->save();
    ASSERT_TRUE(runUntil([&] { return !rec.names.empty() && rec.names.back() == SHRSendDidFinishNotification; }));
    // Nobody waits for the follow request's reply, so the tweet may be done
    // before the follow has reached the service.
    EXPECT_TRUE(runUntil([&] { return logHas("follow deckapp.json"); })) << fakeTwitter->log();
    std::string log = fakeTwitter->log();
    EXPECT_NE(log.find("xauth deckuser"), std::string::npos) << log;
    EXPECT_NE(log.find("status from the login form"), std::string::npos) << log;
    EXPECT_EQ(log.find("follow deckapp.json"), log.rfind("follow deckapp.json")) << log;
    EXPECT_FALSE(sharer->item()->customValueForKey("followMe"));
}

// -- The system composer -------------------------------------------------------------------------------

TEST_F(TwitterTest, SystemComposerGetsTextCutWithoutSplittingAPairImageAndURL) {
    ui::TweetComposeViewController::setAvailable(true);
    // Where the composer is there, asking whether the sharer is signed in
    // forgets the OAuth token.
    storeToken();
    EXPECT_FALSE(ns::make<SHRTwitter>()->isAuthorized());
    EXPECT_FALSE(SHR::getAuthValueForKeyForSharer("accessKey", "SHRTwitter"));
    storeToken();
    ns::UserDefaults::standardUserDefaults()->setObjectForKey(ns::Dictionary::make({{"a", ns::str("b")}}),
                                                              kSHRTwitterUserInfo);
    NotificationRecorder rec;
    // 139 letters, then a character outside the basic plane (two units) at
    // 139-140, then more: the cut at 140 would split the pair.
    std::string title = std::string(139, 'a') + "\xF0\x9F\x83\x8F" + std::string(59, 'b');
    ASSERT_EQ(ns::String::make(title)->length(), 200u);
    auto sharer = SHRSharer::shareItem<SHRTwitter>(imageItem(title));
    auto composers = ui::TweetComposeViewController::liveComposers();
    ASSERT_EQ(composers.size(), 1u);
    auto composer = composers[0];
    EXPECT_EQ(root->presentedViewController(), composer.get());
    EXPECT_EQ(composer->initialText(), std::string(139, 'a'));
    ASSERT_EQ(composer->images().size(), 1u);
    EXPECT_EQ(composer->images()[0]->name(), "card");
    EXPECT_TRUE(composer->urls().empty());
    // Using the composer forgets the OAuth token and account information.
    EXPECT_FALSE(SHR::getAuthValueForKeyForSharer("accessKey", "SHRTwitter"));
    EXPECT_FALSE(ns::UserDefaults::standardUserDefaults()->objectForKey(kSHRTwitterUserInfo));
    EXPECT_FALSE(ns::make<SHRTwitter>()->isAuthorized());
    sharer = nullptr;  // the composer's handler keeps its sharer
    ui::Driver driver(clock);
    ASSERT_TRUE(driver.tapButton("Send")) << driver.lastError() << driver.screen();
    runUntil([&] { return root->presentedViewController() == nullptr; });
    EXPECT_FALSE(root->presentedViewController());
    EXPECT_EQ(rec.names, (std::vector<std::string>{SHRSendDidFinishNotification}));

    // A text item gives its text, a URL item its title and URL; cancel.
    rec.names.clear();
    SHRSharer::shareItem<SHRTwitter>(SHRItem::text(ns::str("just text")));
    composer = ui::TweetComposeViewController::liveComposers().back();
    EXPECT_EQ(composer->initialText(), "just text");
    EXPECT_TRUE(composer->images().empty());
    ASSERT_TRUE(driver.tapButton("Cancel"));
    runUntil([&] { return root->presentedViewController() == nullptr; });
    SHRSharer::shareItem<SHRTwitter>(SHRItem::URL(ns::URL::URLWithString("http://deck.example/c"), ns::str("Linked")));
    composer = ui::TweetComposeViewController::liveComposers().back();
    EXPECT_EQ(composer->initialText(), "Linked");
    ASSERT_EQ(composer->urls().size(), 1u);
    EXPECT_EQ(composer->urls()[0]->absoluteText(), "http://deck.example/c");
    composer->finish(ui::TweetComposeViewController::Result::Done);
    runUntil([&] { return root->presentedViewController() == nullptr; });
    EXPECT_EQ(rec.names, (std::vector<std::string>{SHRSendDidCancelNotification, SHRSendDidFinishNotification}));

    // Account information has no composer.
    size_t before = ui::TweetComposeViewController::liveComposers().size();
    SHRSharer::getUserInfo<SHRTwitter>();
    EXPECT_EQ(ui::TweetComposeViewController::liveComposers().size(), before);
}

TEST_F(TwitterTest, SystemComposerWaitsForTheSharerScreenOnItsWayOut) {
    ui::TweetComposeViewController::setAvailable(true);
    // Another sharer's screen is up.
    auto other = ns::make<ui::ViewController>();
    SHR::currentHelper()->showViewController(other);
    ASSERT_TRUE(runUntil([&] { return SHR::currentHelper()->currentView() != nullptr; }));
    ns::Weak<SHRiOS5Twitter> weak;
    {
        auto sheet = SHRSharer::shareItem<SHRiOS5Twitter>(SHRItem::text(ns::str("later")));
        weak = sheet;
    }
    EXPECT_FALSE(weak.expired());  // kept alive while it waits
    EXPECT_TRUE(ui::TweetComposeViewController::liveComposers().empty());
    SHR::currentHelper()->hideCurrentViewControllerAnimated(true);
    ASSERT_TRUE(runUntil([&] { return !ui::TweetComposeViewController::liveComposers().empty(); }));
    auto composer = ui::TweetComposeViewController::liveComposers().back();
    EXPECT_EQ(composer->initialText(), "later");
    runUntil([&] { return composer->presentingViewController() != nullptr; });
    EXPECT_TRUE(composer->presentingViewController());
    composer->finish(ui::TweetComposeViewController::Result::Cancelled);
    composer = nullptr;
    runUntil([&] { return weak.expired(); });
    EXPECT_TRUE(weak.expired());
}

// -- The edit form ------------------------------------------------------------------------------------------

TEST_F(TwitterTest, EditFormCountsTheImageAndRefusesTextOverTheLimit) {
    storeToken();
    ui::Driver driver(clock);
    auto sharer = SHRSharer::shareItem<SHRTwitter>(imageItem(std::string(200, 't')));
    ASSERT_TRUE(runUntil([&] { return visibleForm() != nullptr; }));
    auto* form = visibleForm();
    ASSERT_TRUE(form);
    EXPECT_EQ(form->text().size(), 200u);  // the form starts with all of it
    ASSERT_TRUE(form->counter());
    EXPECT_EQ(form->counter()->text(), "Image  -85");
    auto& send = form->navigationItem()->rightBarButtonItem();
    EXPECT_FALSE(send->isEnabled());
    form->setText(std::string(116, 't'));
    EXPECT_EQ(form->counter()->text(), "Image  -1");
    EXPECT_FALSE(send->isEnabled());
    form->setText(std::string(115, 't'));
    EXPECT_EQ(form->counter()->text(), "Image  0");
    EXPECT_TRUE(send->isEnabled());
    form->setText(std::string(110, 't'));
    EXPECT_EQ(form->counter()->text(), "Image + 5");
    form->setText("");
    EXPECT_FALSE(send->isEnabled());
    // Cancel closes the form and reports the cancel.
    NotificationRecorder rec;
    ASSERT_TRUE(driver.tapBarButton("Cancel")) << driver.lastError();
    EXPECT_EQ(rec.names, (std::vector<std::string>{SHRSendDidCancelNotification}));
    EXPECT_TRUE(runUntil([&] { return SHR::currentHelper()->currentView() == nullptr; }));
}

TEST_F(TwitterTest, TheEditFormKeepsItsSharerUntilItHasHandedTheTweetOver) {
    // Nothing but the sharer's own screen holds the sharer, and the form's
    // buttons are pressed as code would press them: closing the screen
    // must not free the sharer before it gets the tweet or the cancel.
    startFake();
    storeToken();
    NotificationRecorder rec;
    ns::Weak<SHRTwitter> weak = SHRSharer::shareItem<SHRTwitter>(SHRItem::text(ns::str("kept alive")));
    ASSERT_TRUE(runUntil([&] { return visibleForm() != nullptr; }));
    visibleForm()->save();
    ASSERT_TRUE(runUntil([&] { return !rec.names.empty() && rec.names.back() == SHRSendDidFinishNotification; }))
        << fakeTwitter->log();
    EXPECT_TRUE(logHasLine("status kept alive")) << fakeTwitter->log();
    EXPECT_TRUE(runUntil([&] { return weak.expired(); }));  // and let go once the request is done

    rec.names.clear();
    SHRSharer::shareItem<SHRTwitter>(SHRItem::text(ns::str("never mind")));
    ASSERT_TRUE(runUntil([&] { return visibleForm() != nullptr; }));
    visibleForm()->cancel();
    EXPECT_EQ(rec.names, (std::vector<std::string>{SHRSendDidCancelNotification}));
}

}  // namespace
}  // namespace sharing::test
