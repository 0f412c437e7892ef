// What reaches the web services and what comes back, for the sharers that
// sign in with a user name and password and for every share path: the
// credentials arrive exactly as typed whatever they hold, and a reply the
// service did not accept (an error status, a body that is not the answer)
// ends in the sharer's failure path, never in "Saved!". The fake services
// read each request their own way (Python's form and Basic decoding).
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <set>

#include "platform/foundation/UserDefaults.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Driver.h"
#include "platform/ui/TweetComposeViewController.h"
#include "sharing/core/SHRRequest.h"
#include "sharing/facebook/Facebook.h"
#include "sharing/sharers/facebook/SHRFacebook.h"
#include "sharing/sharers/googlereader/SHRGoogleReader.h"
#include "sharing/sharers/instapaper/SHRInstapaper.h"
#include "sharing/sharers/linkedin/SHRLinkedIn.h"
#include "sharing/sharers/pinboard/SHRPinboard.h"
#include "sharing/sharers/readitlater/SHRReadItLater.h"
#include "sharing/sharers/tumblr/SHRTumblr.h"
#include "sharing/sharers/twitter/SHRTwitter.h"
#include "sharing/sharers/vkontakte/SHRVkontakte.h"
#include "sharing/tests/FakeServices.h"
#include "sharing/ui/SHRActivityIndicator.h"
#include "sharing/ui/SHRFormController.h"
#include "sharing/ui/SHRFormControllerLargeTextField.h"
#include "sharing/ui/SHROAuthView.h"

namespace sharing::test {
namespace {

struct PasswordLogin;

class ServiceFailuresTest : public FakeServicesTest {
protected:
    void SetUp() override {
        FakeServicesTest::SetUp();
        endpoints.point({SHRInstapaper::kService, SHRReadItLater::kService, SHRTumblr::kService,
                         SHRGoogleReader::kService, SHRGoogleReader::kTokenService, SHRPinboard::kService,
                         SHRVkontakte::kService, SHRTwitter::kService, SHRLinkedIn::kService,
                         SHRLinkedIn::kWebService, SHRLinkedIn::kShareService},
                        services.base());
        endpoints.point(Facebook::kGraphService, services.base() + "/");
        SHRFacebook::resetSharedClient();
        ui::TweetComposeViewController::reset();
        ui::TweetComposeViewController::setAvailable(false);
    }
    void TearDown() override {
        ui::TweetComposeViewController::reset();
        SHRFacebook::resetSharedClient();
        FakeServicesTest::TearDown();
    }
    static ui::ViewController* shownScreen() {
        auto* nav = ns::as<ui::NavigationController>(SHR::currentHelper()->currentView());
        return nav ? nav->topViewController() : nullptr;
    }
    SHRFormController* shownForm() { return ns::as<SHRFormController>(shownScreen()); }
    // Shares with the row's sharer (Twitter a text, the others a link), types
    // the login into its form and presses Login: the sharer, or nil (the test
    // failed) when no login form came.
    ns::Ref<SHRSharer> shareAndPressLogin(ui::Driver& driver, const PasswordLogin& row, const std::string& password);
    static bool saw(const NotificationRecorder& rec, const std::string& name) { return times(rec, name) > 0; }
    static long times(const NotificationRecorder& rec, const std::string& name) {
        return std::count(rec.names.begin(), rec.names.end(), name);
    }
    // How many requests the services have had for `path`.
    int requestsTo(const std::string& path) {
        int n = 0;
        auto log = services.log();
        for (ns::Object* o : *log)
            if (field(ns::as<ns::Dictionary>(o), "path") == path) ++n;
        return n;
    }
    // Closes whatever the sharer shows and waits until it is gone.
    bool closeShown() {
        SHR::currentHelper()->hideCurrentViewControllerAnimated(false);
        return runUntil([] { return SHR::currentHelper()->currentView() == nullptr; });
    }
};

ns::Ref<SHRItem> link() {
    return SHRItem::URL(ns::URL::URLWithString("http://cards.test/c?id=7&deck=2#top"), ns::str("A card"));
}

// -- Credentials ----------------------------------------------------------------------------------

TEST_F(ServiceFailuresTest, CredentialsArriveExactlyAsTyped) {
    // Every reserved character, a blank, a percent sign and text outside
    // ASCII. (The user name holds no ":": Basic credentials cannot carry one
    // there, and Pinboard refuses such a name at login.)
    const std::string user = "u+s=e&r?#/@%25 \xC3\xA9";
    const std::string password = "p+a=s&s?w#o/r@d:%20 \xC3\xBC\xE6\xBC\xA2";
    struct Row {
        const char* sharer;
        const char* userKey;
        std::function<ns::Ref<SHRSharer>()> make;
        std::string replies;
        // Where the credentials are read: path, user and password field
        // names of the form body ("" for the request's Basic credentials).
        std::vector<std::array<std::string, 3>> reads;
    };
    std::vector<Row> rows = {
        {"SHRInstapaper", "username", [] { return ns::Ref<SHRSharer>(ns::make<SHRInstapaper>()); },
         R"({"/api/authenticate": [{"status": 200}], "/api/add": [{"status": 201}]})",
         {{"/api/authenticate", "username", "password"}, {"/api/add", "username", "password"}}},
        {"SHRReadItLater", "username", [] { return ns::Ref<SHRSharer>(ns::make<SHRReadItLater>()); },
         R"({"/v2/auth": [{"status": 200}], "/v2/send": [{"status": 200}]})",
         {{"/v2/auth", "username", "password"}, {"/v2/send", "username", "password"}}},
        {"SHRTumblr", "email", [] { return ns::Ref<SHRSharer>(ns::make<SHRTumblr>()); },
         R"({"/api/authenticate": [{"status": 200}], "/api/write": [{"status": 201}]})",
         {{"/api/authenticate", "email", "password"}, {"/api/write", "email", "password"}}},
        {"SHRGoogleReader", "email", [] { return ns::Ref<SHRSharer>(ns::make<SHRGoogleReader>()); },
         R"({"/accounts/ClientLogin": [{"body": "SID=s1\nAuth=a1\n"}], "/reader/api/0/token": [{"body": "tok"}],
             "/reader/api/0/item/edit": [{"status": 200}]})",
         {{"/accounts/ClientLogin", "Email", "Passwd"}}},
        {"SHRPinboard", "username", [] { return ns::Ref<SHRSharer>(ns::make<SHRPinboard>()); },
         R"({"/v1/posts/get": [{"basic": "any", "body": "<posts/>"}],
             "/v1/posts/add": [{"basic": "any", "body": "<result code=\"done\" />"}]})",
         {{"/v1/posts/get", "", ""}, {"/v1/posts/add", "", ""}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.sharer);
        services.setReplies(row.replies);
        NotificationRecorder rec;
        auto sharer = row.make();
        sharer->setItem(link());
        sharer->share();
        ASSERT_TRUE(runUntil([&] { return shownForm() && shownForm()->rightButtonTitle() == "Login"; }));
        shownForm()->setValueForKey(row.userKey, user);
        shownForm()->setValueForKey("password", password);
        shownForm()->validateForm();
        // A share form may follow the login: sent as it stands.
        std::set<SHRFormController*> sent;
        ASSERT_TRUE(runUntil([&] {
            auto* form = shownForm();
            if (form && form->rightButtonTitle() != "Login" && sent.insert(form).second) form->validateForm();
            return saw(rec, SHRSendDidFinishNotification) || saw(rec, SHRSendDidFailWithErrorNotification);
        })) << ::testing::PrintToString(rec.names);
        EXPECT_TRUE(saw(rec, SHRSendDidFinishNotification)) << ::testing::PrintToString(rec.names);
        EXPECT_EQ(ns::describe(SHR::getAuthValueForKeyForSharer(row.userKey, row.sharer).get()), user);
        EXPECT_EQ(ns::describe(SHR::getAuthValueForKeyForSharer("password", row.sharer).get()), password);
        auto log = services.log();
        for (const auto& [path, userField, passwordField] : row.reads) {
            SCOPED_TRACE(path);
            const ns::Dictionary* record = nullptr;
            for (ns::Object* o : *log)
                if (auto* d = ns::as<ns::Dictionary>(o); d && field(d, "path") == path) record = d;
            ASSERT_TRUE(record) << "nothing reached " << path;
            if (userField.empty()) {
                EXPECT_EQ(ns::describe(record->objectForKey("basic")),
                          ns::describe(ns::Array::make({ns::str(user), ns::str(password)}).get()));
                continue;
            }
            std::map<std::string, std::string> form;
            for (auto& [k, v] : pairs(record, "form")) form[k] = v;
            EXPECT_EQ(form[userField], user);
            EXPECT_EQ(form[passwordField], password);
        }
        sharer->logout();
        SHR::currentHelper()->hideCurrentViewControllerAnimated(false);
        runUntil([] { return SHR::currentHelper()->currentView() == nullptr; });
    }
}

// -- Replies the service did not accept -----------------------------------------------------------

TEST_F(ServiceFailuresTest, RepliesTheServiceDidNotAcceptEndAsFailures) {
    auto defaults = ns::UserDefaults::standardUserDefaults();
    auto storeFacebookToken = [defaults] {
        defaults->setObjectForKey(ns::str("fbtok"), kSHRFacebookAccessToken);
        defaults->setObjectForKey(ns::Date::dateWithTimeIntervalSinceReferenceDate(
                                      ns::Date::date()->timeIntervalSinceReferenceDate() + 3600),
                                  kSHRFacebookExpiryDate);
    };
    auto login = [](const char* sharer, const char* userKey, const char* user, const char* password) {
        SHR::setAuthValueForKeyForSharer(ns::str(user).get(), userKey, sharer);
        SHR::setAuthValueForKeyForSharer(ns::str(password).get(), "password", sharer);
    };
    login("SHRInstapaper", "username", "me", "pw");
    login("SHRReadItLater", "username", "me", "pw");
    login("SHRTumblr", "email", "me@example.org", "pw");
    login("SHRGoogleReader", "email", "me@example.org", "pw");
    login("SHRPinboard", "username", "pinuser", "pa/ss");
    defaults->setObjectForKey(ns::str("42"), kSHRVkontakteUserId);
    defaults->setObjectForKey(ns::str("vktok"), kSHRVkontakteAccessToken);
    defaults->setObjectForKey(
        ns::Date::dateWithTimeIntervalSinceReferenceDate(ns::Date::date()->timeIntervalSinceReferenceDate() + 3600),
        kSHRVkontakteExpiryDate);

    auto text = [] { return SHRItem::text(ns::str("t")); };
    auto image = [] { return SHRItem::image(ui::Image::make("card", {8, 6}), ns::str("Card")); };
    auto facebook = [&](ns::Ref<SHRItem> item) {
        storeFacebookToken();  // a failed request ends the session
        auto s = ns::make<SHRFacebook>();
        s->setItem(std::move(item));
        s->isAuthorized();
        return ns::Ref<SHRSharer>(s);
    };
    auto with = [](ns::Ref<SHRSharer> s, ns::Ref<SHRItem> item) {
        s->setItem(std::move(item));
        s->isAuthorized();
        return s;
    };
    struct Row {
        const char* what;
        std::function<ns::Ref<SHRSharer>()> make;
        std::string replies;
        bool done;
    };
    std::vector<Row> rows = {
        {"Facebook text, 500 with an id", [&] { return facebook(text()); },
         R"({"/me/feed": [{"status": 500, "body": "{\"id\":\"1_2\"}"}]})", false},
        {"Facebook text, 200 that is not JSON", [&] { return facebook(text()); },
         R"({"/me/feed": [{"status": 200, "body": "<html>down for maintenance</html>"}]})", false},
        {"Facebook text, 200 without an id", [&] { return facebook(text()); },
         R"({"/me/feed": [{"status": 200, "body": "{}"}]})", false},
        {"Facebook text, 200 with an id", [&] { return facebook(text()); },
         R"({"/me/feed": [{"status": 200, "body": "{\"id\":\"1_2\"}"}]})", true},
        {"Facebook photo, 404", [&] { return facebook(image()); },
         R"({"/me/photos": [{"status": 404, "body": "{\"id\":\"9\"}"}]})", false},
        {"Facebook photo, 200 with an id", [&] { return facebook(image()); },
         R"({"/me/photos": [{"status": 200, "body": "{\"id\":\"9\",\"post_id\":\"1_9\"}"}]})", true},
        {"Vkontakte, 502 with a response", [&] { return with(ns::make<SHRVkontakte>(), text()); },
         R"({"/method/wall.post": [{"status": 502, "body": "{\"response\":{\"post_id\":1}}"}]})", false},
        {"Vkontakte, 200 without a response", [&] { return with(ns::make<SHRVkontakte>(), text()); },
         R"({"/method/wall.post": [{"status": 200, "body": "{}"}]})", false},
        {"Vkontakte, 200 with a response", [&] { return with(ns::make<SHRVkontakte>(), text()); },
         R"({"/method/wall.post": [{"status": 200, "body": "{\"response\":{\"post_id\":1}}"}]})", true},
        {"Pinboard, 500 saying done", [&] { return with(ns::make<SHRPinboard>(), link()); },
         R"({"/v1/posts/add": [{"basic": true, "status": 500, "body": "<result code=\"done\" />"}]})", false},
        {"Pinboard, 200 saying done", [&] { return with(ns::make<SHRPinboard>(), link()); },
         R"({"/v1/posts/add": [{"basic": true, "status": 200, "body": "<result code=\"done\" />"}]})", true},
        {"Google Reader, sign-in answered 503 with an Auth line", [&] { return with(ns::make<SHRGoogleReader>(), link()); },
         R"({"/accounts/ClientLogin": [{"status": 503, "body": "SID=s\nAuth=a\n"}],
             "/reader/api/0/token": [{"body": "tok"}], "/reader/api/0/item/edit": [{"status": 200}]})", false},
        {"Instapaper, 503", [&] { return with(ns::make<SHRInstapaper>(), link()); },
         R"({"/api/add": [{"status": 503}]})", false},
        {"Read It Later, 500", [&] { return with(ns::make<SHRReadItLater>(), link()); },
         R"({"/v2/send": [{"status": 500}]})", false},
        {"Tumblr text, 502", [&] { return with(ns::make<SHRTumblr>(), text()); },
         R"({"/api/write": [{"status": 502}]})", false},
        {"Tumblr photo, 404", [&] { return with(ns::make<SHRTumblr>(), image()); },
         R"({"/api/write": [{"status": 404}]})", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        services.setReplies(row.replies);
        NotificationRecorder rec;
        auto sharer = row.make();
        sharer->setShareDelegate(nullptr);
        ASSERT_TRUE(sharer->tryToSend() || !rec.names.empty());
        ASSERT_TRUE(runUntil([&] {
            return saw(rec, SHRSendDidFinishNotification) || saw(rec, SHRSendDidFailWithErrorNotification);
        })) << ::testing::PrintToString(rec.names);
        EXPECT_EQ(saw(rec, SHRSendDidFinishNotification), row.done) << ::testing::PrintToString(rec.names);
        EXPECT_EQ(saw(rec, SHRSendDidFailWithErrorNotification), !row.done) << ::testing::PrintToString(rec.names);
    }
}

// -- A login on its way ----------------------------------------------------------------------------

// Login pressed twice before the service answers (the second press comes
// while the first login is on its way): one login request, one alert when
// it is refused, the share sent once when it is accepted. Once the answer
// is in, Login starts a login again. Every sharer with a login form.
TEST_F(ServiceFailuresTest, LoginPressedAgainWhileALoginIsOnItsWayStartsNothing) {
    struct Row {
        const char* sharer;
        const char* userKey;
        std::function<ns::Ref<SHRSharer>()> make;
        const char* loginPath;
        const char* sharePath;
        std::string accepted;  // the login path's reply that signs in ("": none)
        std::string refused;   // and one that does not
        std::string alert;     // the alert of the refusal (its beginning)
        bool refusalReported = true;  // with authDidFinish(false)
    };
    auto twitter = [] {
        auto s = ns::make<SHRTwitter>();
        s->setConsumerKey("lkey");
        s->setSecretKey("lsecret");
        s->setXAuth(true);
        return ns::Ref<SHRSharer>(s);
    };
    std::vector<Row> rows = {
        {"SHRInstapaper", "username", [] { return ns::Ref<SHRSharer>(ns::make<SHRInstapaper>()); },
         "/api/authenticate", "/api/add", R"({"status": 200})", R"({"status": 403})",
         "Login Error|Sorry, Instapaper did not accept your credentials. Please try again."},
        {"SHRReadItLater", "username", [] { return ns::Ref<SHRSharer>(ns::make<SHRReadItLater>()); }, "/v2/auth",
         "/v2/send", R"({"status": 200})", R"({"status": 401, "headers": {"X-Error": "Wrong password"}})",
         "Login Error|Wrong password"},
        {"SHRPinboard", "username", [] { return ns::Ref<SHRSharer>(ns::make<SHRPinboard>()); }, "/v1/posts/get",
         "/v1/posts/add", R"({"basic": "any", "body": "<posts/>"})", R"({"basic": "any", "status": 500})",
         "Login Error|Sorry, Pinboard encountered an error. Please try again."},
        {"SHRTumblr", "email", [] { return ns::Ref<SHRSharer>(ns::make<SHRTumblr>()); }, "/api/authenticate",
         "/api/write", R"({"status": 200})", R"({"status": 403})", "Login Error|Invalid email or password."},
        {"SHRGoogleReader", "email", [] { return ns::Ref<SHRSharer>(ns::make<SHRGoogleReader>()); },
         "/accounts/ClientLogin", "/reader/api/0/item/edit", R"({"body": "SID=s1\nAuth=a1\n"})",
         R"({"status": 403, "body": "Error=BadAuthentication\n"})", "Login Error|Incorrect username and password"},
        {"SHRTwitter", "username", twitter, "/oauth/access_token", "/1/statuses/update.json",
         R"({"body": "oauth_token=acctok&oauth_token_secret=accsecret"})", R"({"status": 401, "body": "Invalid user"})",
         "Access Error|Invalid user"},
        // The connection breaks before the answer is whole: no login, and
        // none reported, but Login tries again.
        {"SHRTwitter", "username", twitter, "/oauth/access_token", "/1/statuses/update.json", "",
         R"({"body": "oauth_token=acctok&oauth_token_secret=accsecret", "cut": 5, "reset": true})", "Access Error|",
         false},
    };
    ui::Driver driver;
    for (const auto& row : rows) {
        for (bool accept : {true, false}) {
            if (accept && row.accepted.empty()) continue;
            SCOPED_TRACE(std::string(row.sharer) + (accept ? ", accepted" : ", refused: " + row.refused));
            const int loginsBefore = requestsTo(row.loginPath), sharesBefore = requestsTo(row.sharePath);
            // The service takes its time to answer the login: both presses
            // come while it is on its way.
            std::string reply = accept ? row.accepted : row.refused;
            reply.insert(1, R"("delay": 0.15, )");
            services.setReplies(std::string("{\"") + row.loginPath + "\": [" + reply +
                                "], \"/reader/api/0/token\": [{\"body\": \"tok\"}], \"/v1/posts/add\": " +
                                R"([{"basic": "any", "body": "<result code=\"done\" />"}]})");
            ui::Panel::resetShown();
            NotificationRecorder rec;
            auto sharer = row.make();
            sharer->setItem(row.sharer == std::string("SHRTwitter") ? SHRItem::text(ns::str("hello")) : link());
            sharer->share();
            ASSERT_TRUE(runUntil([&] { return shownForm() && shownForm()->rightButtonTitle() == "Login"; }));
            shownForm()->setValueForKey(row.userKey, row.sharer == std::string("SHRPinboard") ? "pinuser" : "me");
            shownForm()->setValueForKey("password", "pw");
            // Twice: the first login is on its way.
            ASSERT_TRUE(driver.tapBarButton("Login")) << driver.lastError();
            ASSERT_TRUE(driver.tapBarButton("Login")) << driver.lastError();
            if (accept) {
                // A share form may follow the login: sent as it stands, once.
                std::set<ui::ViewController*> sent;
                ASSERT_TRUE(runUntil([&] {
                    auto* top = shownScreen();
                    if (top && sent.insert(top).second) {
                        if (auto* form = ns::as<SHRFormController>(top); form && form->rightButtonTitle() != "Login")
                            form->validateForm();
                        else if (auto* text = ns::as<SHRFormControllerLargeTextField>(top))
                            text->save();
                    }
                    return saw(rec, SHRSendDidFinishNotification);
                })) << ::testing::PrintToString(rec.names);
            } else {
                ASSERT_TRUE(runUntil([&] { return !alerts().empty(); })) << ::testing::PrintToString(rec.names);
            }
            runUntil([] { return false; }, 0.1);  // a second answer would be in by now
            EXPECT_EQ(requestsTo(row.loginPath) - loginsBefore, 1);
            EXPECT_EQ(requestsTo(row.sharePath) - sharesBefore, accept ? 1 : 0);
            ASSERT_EQ(alerts().size(), accept ? 0u : 1u) << ::testing::PrintToString(alerts());
            if (!accept) EXPECT_EQ(alerts()[0].substr(0, row.alert.size()), row.alert);
            EXPECT_EQ(times(rec, accept ? "SHRAuthDidFinish:true" : "SHRAuthDidFinish:false"),
                      accept || row.refusalReported ? 1 : 0)
                << ::testing::PrintToString(rec.names);
            EXPECT_EQ(times(rec, SHRSendDidFinishNotification), accept ? 1 : 0);
            if (!accept) {
                // The answer is in: Login tries again.
                ASSERT_TRUE(shownForm() && shownForm()->rightButtonTitle() == "Login");
                ASSERT_TRUE(driver.pressAlertButton("Close")) << driver.lastError();
                ASSERT_TRUE(driver.tapBarButton("Login")) << driver.lastError();
                ASSERT_TRUE(runUntil([&] { return alerts().size() == 1; }));
                EXPECT_EQ(requestsTo(row.loginPath) - loginsBefore, 2);
            }
            sharer->logout();
            ASSERT_TRUE(closeShown());
        }
    }
}

// -- A login cut short, a login sent elsewhere -------------------------------------------------------

// The sharers that sign in with a password typed into the login form (by
// form or by xAuth), with what their service answers to a login it accepts.
struct PasswordLogin {
    const char* sharer;
    const char* userKey;
    std::function<ns::Ref<SHRSharer>()> make;
    const char* loginPath;
    const char* sharePath;
    std::string accepted;     // the login path's reply that signs in
    const char* storedKey;    // what an accepted login stores
    const char* alert;        // the title of the sharer's alert for a failed login
};

std::vector<PasswordLogin> passwordLogins() {
    auto twitter = [] {
        auto s = ns::make<SHRTwitter>();
        s->setConsumerKey("lkey");
        s->setSecretKey("lsecret");
        s->setXAuth(true);
        return ns::Ref<SHRSharer>(s);
    };
    return {
        {"SHRInstapaper", "username", [] { return ns::Ref<SHRSharer>(ns::make<SHRInstapaper>()); },
         "/api/authenticate", "/api/add", R"({"status": 200})", "username", "Login Error"},
        {"SHRReadItLater", "username", [] { return ns::Ref<SHRSharer>(ns::make<SHRReadItLater>()); }, "/v2/auth",
         "/v2/send", R"({"status": 200})", "username", "Login Error"},
        {"SHRPinboard", "username", [] { return ns::Ref<SHRSharer>(ns::make<SHRPinboard>()); }, "/v1/posts/get",
         "/v1/posts/add", R"({"basic": "any", "body": "<posts/>"})", "username", "Login Error"},
        {"SHRTumblr", "email", [] { return ns::Ref<SHRSharer>(ns::make<SHRTumblr>()); }, "/api/authenticate",
         "/api/write", R"({"status": 200})", "email", "Login Error"},
        {"SHRGoogleReader", "email", [] { return ns::Ref<SHRSharer>(ns::make<SHRGoogleReader>()); },
         "/accounts/ClientLogin", "/reader/api/0/item/edit", R"({"body": "SID=s1\nAuth=a1\n"})", "email",
         "Login Error"},
        {"SHRTwitter", "username", twitter, "/oauth/access_token", "/1/statuses/update.json",
         R"({"body": "oauth_token=acctok&oauth_token_secret=accsecret"})", "accessKey", "Access Error"},
    };
}

ns::Ref<SHRSharer> ServiceFailuresTest::shareAndPressLogin(ui::Driver& driver, const PasswordLogin& row,
                                                          const std::string& password) {
    const bool pinboard = row.sharer == std::string("SHRPinboard");
    auto sharer = row.make();
    sharer->setItem(row.sharer == std::string("SHRTwitter") ? SHRItem::text(ns::str("hello")) : link());
    sharer->share();
    if (!runUntil([&] { return shownForm() && shownForm()->rightButtonTitle() == "Login"; })) {
        ADD_FAILURE() << "no login form came";
        return nullptr;
    }
    shownForm()->setValueForKey(row.userKey, pinboard ? "pinuser" : "me");
    shownForm()->setValueForKey("password", password);
    if (!driver.tapBarButton("Login")) {
        ADD_FAILURE() << driver.lastError();
        return nullptr;
    }
    return sharer;
}

// A reply of the fake with one more field put first ("hold": true, ...).
std::string withField(std::string reply, const std::string& field) { return reply.insert(1, field + ", "); }

// Cancel on the login form while the login is on its way (the service holds
// its answer until the user has cancelled) ends that login: the answer,
// accepted, stores nothing, shares nothing, brings no form back, posts
// nothing after SendDidCancel and leaves alone the screen another sharer
// shows by then. Every sharer that signs in by form or by xAuth (Evernote's
// is in its own tests).
TEST_F(ServiceFailuresTest, CancelWhileALoginIsOnItsWayEndsThatLogin) {
    ui::Driver driver;
    for (const auto& row : passwordLogins()) {
        SCOPED_TRACE(row.sharer);
        const bool pinboard = row.sharer == std::string("SHRPinboard");
        const int sharesBefore = requestsTo(row.sharePath), heldBefore = services.held();
        services.setReplies(std::string("{\"") + row.loginPath + "\": [" + withField(row.accepted, R"("hold": true)") +
                            "], \"/reader/api/0/token\": [{\"body\": \"tok\"}]}");
        // Another sharer, signed in already, shows its share form once the
        // login form has gone.
        const char* otherName = pinboard ? "SHRTumblr" : "SHRPinboard";
        ASSERT_TRUE(SHR::setAuthValuesForSharer(
            {{pinboard ? "email" : "username", ns::str("other")}, {"password", ns::str("otherpw")}}, otherName));
        ui::Panel::resetShown();
        NotificationRecorder rec;
        auto sharer = shareAndPressLogin(driver, row, "pw");
        ASSERT_TRUE(sharer);
        // Asked of the fake now and then, not on every turn of the wait: a
        // synchronous call on each turn holds up Pinboard's Basic challenge.
        auto lastAsked = std::chrono::steady_clock::now();
        bool reached = false;
        ASSERT_TRUE(runUntil([&] {
            if (reached || std::chrono::steady_clock::now() - lastAsked < std::chrono::milliseconds(100)) return reached;
            lastAsked = std::chrono::steady_clock::now();
            return reached = services.held() == heldBefore + 1;
        })) << "the login reached the service";
        auto* indicator = SHRActivityIndicator::currentIndicator();
        EXPECT_TRUE(indicator->isShown()) << "the login shows its activity";
        ASSERT_TRUE(driver.tapBarButton("Cancel")) << driver.lastError();
        ASSERT_TRUE(runUntil([] { return SHR::currentHelper()->currentView() == nullptr; }));
        EXPECT_TRUE(runUntil([&] { return !indicator->isShown(); })) << "the login's activity indicator went";
        const auto afterCancel = rec.names;
        auto other = SHRSharer::shareItemWithSharer(otherName, link());
        ASSERT_TRUE(runUntil([&] { return shownForm() && shownForm()->rightButtonTitle() != "Login"; }));
        SHRFormController* otherForm = shownForm();

        // The service answers now: the login it accepts was cancelled.
        const int answeredBefore = services.answered();
        services.release();
        ASSERT_TRUE(runUntil([&] { return services.answered() == answeredBefore + 1; }));
        // Whatever the client makes of the answer happens on the next turns
        // of the main loop, and screens move on the clock: a request sent
        // after the answer came back, and a second of the clock.
        bool sentinel = false;
        auto probe = SHRRequest::make(services.URL("/sentinel"), nullptr, ns::make<ns::Object>(),
                                      [&](SHRRequest*) { sentinel = true; }, ns::str("GET"), true);
        ASSERT_TRUE(runUntil([&] { return sentinel; }));
        runUntil([] { return false; }, 0.2);

        EXPECT_FALSE(SHR::getAuthValueForKeyForSharer(row.storedKey, row.sharer)) << "nothing stored";
        EXPECT_EQ(requestsTo(row.sharePath) - sharesBefore, 0) << "nothing shared";
        EXPECT_EQ(rec.names, afterCancel) << "nothing after the cancel: " << ::testing::PrintToString(rec.names);
        ASSERT_FALSE(afterCancel.empty());
        EXPECT_EQ(afterCancel.back(), SHRSendDidCancelNotification);
        EXPECT_EQ(times(rec, "SHRAuthDidFinish:false"), 1) << ::testing::PrintToString(rec.names);
        EXPECT_TRUE(alerts().empty()) << ::testing::PrintToString(alerts());
        EXPECT_EQ(shownForm(), otherForm) << "the other sharer's form stays";
        ASSERT_TRUE(closeShown());
        other = nullptr;
        EXPECT_TRUE(SHRSharer::logoutSharer(otherName));
        EXPECT_TRUE(sharer->logout());
    }
}

// A login answered with a redirect to another origin (307, which would send
// the password again, and 302, after which another host's 200 would count as
// the service's yes) is a failed login with the sharer's alert: the other
// host receives nothing, nothing is stored and nothing shared. A redirect
// within the service's own origin is followed as before. The shares that
// carry the stored password are sent to the service's origin only too: a
// redirect elsewhere is a failed share.
TEST_F(ServiceFailuresTest, ALoginIsNeverSentToAnotherOrigin) {
    FakeServices elsewhere;
    ASSERT_GT(elsewhere.port(), 0);
    ui::Driver driver;
    const std::string password = "pw-secret";
    for (const auto& row : passwordLogins()) {
        const bool pinboard = row.sharer == std::string("SHRPinboard");
        struct Redirect {
            int status;
            bool sameOrigin;
        };
        for (Redirect redirect : {Redirect{307, false}, Redirect{302, false}, Redirect{307, true}}) {
            SCOPED_TRACE(std::string(row.sharer) + ", " + std::to_string(redirect.status) +
                         (redirect.sameOrigin ? " to the same origin" : " to another origin"));
            // A redirect within the origin drops the user part of Pinboard's
            // address, as before: the login cannot be answered there.
            const bool signsIn = redirect.sameOrigin && !pinboard;
            const std::string moved = std::string(row.loginPath) + "/moved";
            const std::string target = (redirect.sameOrigin ? services.base() : elsewhere.base()) + moved;
            services.setReplies(std::string("{\"") + row.loginPath + "\": [{\"status\": " +
                                std::to_string(redirect.status) + ", \"headers\": {\"Location\": \"" + target +
                                "\"}}], \"" + moved + "\": [" + row.accepted + "]}");
            elsewhere.setReplies("{\"" + moved + "\": [" + row.accepted + "]}");
            const int sharesBefore = requestsTo(row.sharePath);
            const size_t elsewhereBefore = elsewhere.log()->count();
            ui::Panel::resetShown();
            NotificationRecorder rec;
            auto sharer = shareAndPressLogin(driver, row, password);
            ASSERT_TRUE(sharer);
            ASSERT_TRUE(runUntil([&] {
                return !alerts().empty() || SHR::getAuthValueForKeyForSharer(row.storedKey, row.sharer);
            })) << ::testing::PrintToString(rec.names);
            auto log = elsewhere.log();
            EXPECT_EQ(log->count(), elsewhereBefore) << "the other host was reached";
            for (size_t i = elsewhereBefore; i < log->count(); ++i)
                EXPECT_EQ(ns::describe(log->objectAtIndex(i)).find(password), std::string::npos)
                    << "the password reached the other host";
            if (signsIn) {
                EXPECT_TRUE(SHR::getAuthValueForKeyForSharer(row.storedKey, row.sharer));
                EXPECT_TRUE(alerts().empty()) << ::testing::PrintToString(alerts());
            } else {
                EXPECT_FALSE(SHR::getAuthValueForKeyForSharer(row.storedKey, row.sharer)) << "nothing stored";
                EXPECT_EQ(alerts().size(), 1u) << ::testing::PrintToString(alerts());
                if (!alerts().empty() && !redirect.sameOrigin)
                    EXPECT_EQ(alerts()[0].substr(0, std::string(row.alert).size()), row.alert) << alerts()[0];
                EXPECT_EQ(times(rec, "SHRAuthDidFinish:true"), 0) << ::testing::PrintToString(rec.names);
                EXPECT_EQ(requestsTo(row.sharePath) - sharesBefore, 0) << "nothing shared";
            }
            sharer->logout();
            ASSERT_TRUE(closeShown());
        }
    }

    struct Share {
        const char* what;
        const char* sharer;
        const char* userKey;
        std::function<ns::Ref<SHRSharer>()> make;
        std::function<ns::Ref<SHRItem>()> item;
        const char* path;
        std::string accepted;
        bool sameOrigin = false;  // a redirect within the origin, followed
    };
    auto image = [] { return SHRItem::image(ui::Image::make("card", {8, 6}), ns::str("Card")); };
    std::vector<Share> shares = {
        {"Instapaper", "SHRInstapaper", "username", [] { return ns::Ref<SHRSharer>(ns::make<SHRInstapaper>()); },
         link, "/api/add", R"({"status": 201})"},
        {"Read It Later", "SHRReadItLater", "username",
         [] { return ns::Ref<SHRSharer>(ns::make<SHRReadItLater>()); }, link, "/v2/send", R"({"status": 200})"},
        {"Tumblr link", "SHRTumblr", "email", [] { return ns::Ref<SHRSharer>(ns::make<SHRTumblr>()); }, link,
         "/api/write", R"({"status": 201})"},
        {"Tumblr photo", "SHRTumblr", "email", [] { return ns::Ref<SHRSharer>(ns::make<SHRTumblr>()); }, image,
         "/api/write", R"({"status": 201})"},
        {"Tumblr photo", "SHRTumblr", "email", [] { return ns::Ref<SHRSharer>(ns::make<SHRTumblr>()); }, image,
         "/api/write", R"({"status": 201})", true},
        {"Pinboard", "SHRPinboard", "username", [] { return ns::Ref<SHRSharer>(ns::make<SHRPinboard>()); }, link,
         "/v1/posts/add", R"({"body": "<result code=\"done\" />"})"},
    };
    for (const auto& row : shares) {
        SCOPED_TRACE(std::string(row.what) + ", a share answered 307 to " +
                     (row.sameOrigin ? "the same origin" : "another origin"));
        ASSERT_TRUE(SHR::setAuthValuesForSharer({{row.userKey, ns::str("me")}, {"password", ns::str(password)}},
                                                row.sharer));
        const std::string moved = std::string(row.path) + "/moved";
        services.setReplies(std::string("{\"") + row.path + "\": [{\"status\": 307, \"headers\": {\"Location\": \"" +
                            (row.sameOrigin ? services.base() : elsewhere.base()) + moved + "\"}}], \"" + moved +
                            "\": [" + row.accepted + "]}");
        elsewhere.setReplies("{\"" + moved + "\": [" + row.accepted + "]}");
        const size_t elsewhereBefore = elsewhere.log()->count();
        NotificationRecorder rec;
        auto sharer = row.make();
        sharer->setShareDelegate(nullptr);
        sharer->setItem(row.item());
        ASSERT_TRUE(sharer->tryToSend());
        ASSERT_TRUE(runUntil([&] {
            return saw(rec, SHRSendDidFinishNotification) || saw(rec, SHRSendDidFailWithErrorNotification);
        })) << ::testing::PrintToString(rec.names);
        EXPECT_EQ(saw(rec, SHRSendDidFailWithErrorNotification), !row.sameOrigin) << ::testing::PrintToString(rec.names);
        EXPECT_EQ(saw(rec, SHRSendDidFinishNotification), row.sameOrigin) << ::testing::PrintToString(rec.names);
        EXPECT_EQ(elsewhere.log()->count(), elsewhereBefore) << "the other host was reached";
        EXPECT_TRUE(sharer->logout());
    }
}

// -- A send on its way ------------------------------------------------------------------------------

// The sharers' share forms: the share form of the sharers that have one
// (signed in here) and the large text form of the others (Foursquare's
// check-in form is in its own tests), each with the path its share goes to.
struct ShareFormRow {
    const char* what;
    std::function<ns::Ref<SHRSharer>()> make;
    std::string path;    // where the share goes
    std::string reply;   // its reply's fields, as JSON members
    std::string others;  // the replies of the other steps, as JSON members
};

std::vector<ShareFormRow> shareForms() {
    auto defaults = ns::UserDefaults::standardUserDefaults();
    auto later = [] {
        return ns::Date::dateWithTimeIntervalSinceReferenceDate(ns::Date::date()->timeIntervalSinceReferenceDate() +
                                                                3600);
    };
    // Each row signs its sharer in when it is made.
    auto signedIn = [](ns::Ref<SHRSharer> s, const char* userKey, const char* user) {
        SHR::setAuthValuesForSharer({{userKey, ns::str(user)}, {"password", ns::str("pw")}}, s->sharerId());
        s->setItem(link());
        return s;
    };
    auto text = [] { return SHRItem::text(ns::str("hello")); };
    auto oauth = [text](ns::Ref<SHROAuthSharer> s) {
        SHR::setAuthValuesForSharer({{"accessKey", ns::str("acctok")}, {"accessSecret", ns::str("accsecret")}},
                                    s->sharerId());
        s->setConsumerKey("lkey");
        s->setSecretKey("lsecret");
        s->setItem(text());
        return ns::Ref<SHRSharer>(s);
    };
    auto with = [](ns::Ref<SHRSharer> s, ns::Ref<SHRItem> item) {
        s->setItem(std::move(item));
        return s;
    };
    return {
        {"Pinboard, share form", [=] { return signedIn(ns::make<SHRPinboard>(), "username", "pinuser"); },
         "/v1/posts/add", R"("basic": "any", "body": "<result code=\"done\" />")", ""},
        {"Tumblr, share form", [=] { return signedIn(ns::make<SHRTumblr>(), "email", "me@example.org"); },
         "/api/write", R"("status": 201)", ""},
        {"Google Reader, share form", [=] { return signedIn(ns::make<SHRGoogleReader>(), "email", "me@example.org"); },
         "/reader/api/0/item/edit", R"("status": 200)",
         R"("/accounts/ClientLogin": [{"body": "SID=s1\nAuth=a1\n"}], "/reader/api/0/token": [{"body": "tok"}])"},
        {"Twitter, text form", [=] { return oauth(ns::make<SHRTwitter>()); }, "/1/statuses/update.json",
         R"("body": "{\"id\":1}")", ""},
        {"LinkedIn, text form", [=] { return oauth(ns::make<SHRLinkedIn>()); }, "/v1/people/~/shares",
         R"("status": 201)", ""},
        {"Facebook, text form",
         [=] {
             defaults->setObjectForKey(ns::str("fbtok"), kSHRFacebookAccessToken);
             defaults->setObjectForKey(later(), kSHRFacebookExpiryDate);
             return with(ns::make<SHRFacebook>(), text());
         },
         "/me/feed", R"("body": "{\"id\":\"1_2\"}")", ""},
        {"Vkontakte, text form",
         [=] {
             defaults->setObjectForKey(ns::str("42"), kSHRVkontakteUserId);
             defaults->setObjectForKey(ns::str("vktok"), kSHRVkontakteAccessToken);
             defaults->setObjectForKey(later(), kSHRVkontakteExpiryDate);
             return with(ns::make<SHRVkontakte>(), text());
         },
         "/method/wall.post", R"("body": "{\"response\":{\"post_id\":1}}")", ""},
    };
}

// Send pressed twice before the service answers (the second press comes
// while the form closes and the share is on its way): one share reaches the
// service and one end is reported. Every kind of share form: the share
// form of the sharers that have one and the large text form (Foursquare's
// check-in form, which stays up while the check-in is on its way, is in
// its own tests).
TEST_F(ServiceFailuresTest, SendPressedAgainWhileASendIsOnItsWaySendsOnce) {
    const auto rows = shareForms();
    ui::Driver driver;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const int before = requestsTo(row.path);
        services.setReplies("{\"" + row.path + R"(": [{"delay": 0.15, )" + row.reply + "}]" +
                            (row.others.empty() ? "" : ", " + row.others) + "}");
        ui::Panel::resetShown();
        NotificationRecorder rec;
        auto sharer = row.make();
        sharer->share();
        ASSERT_TRUE(runUntil([&] {
            auto* top = shownScreen();
            return ns::as<SHRFormController>(top) || ns::as<SHRFormControllerLargeTextField>(top);
        }));
        ns::Ref<ui::ViewController> form(shownScreen());
        ns::Ref<ui::BarButtonItem> button(form->navigationItem()->rightBarButtonItem());
        ASSERT_TRUE(button);
        ASSERT_TRUE(driver.tapBarButton("Send to " + sharer->sharerTitle())) << driver.lastError();
        // On a device the form closes with an animation, during which its
        // button can still be pressed; the screens here close at once, so
        // the second press goes through the button itself. It is off now.
        EXPECT_FALSE(button->isEnabled());
        EXPECT_FALSE(button->performAction());
        // A press that got through before the button went off.
        if (auto* f = ns::as<SHRFormController>(form.get())) {
            f->validateForm();  // also its text fields' return key
            f->saveForm();
        } else if (auto* t = ns::as<SHRFormControllerLargeTextField>(form.get())) {
            t->save();
            t->sendFormToDelegate();
        }
        ASSERT_TRUE(runUntil([&] {
            return saw(rec, SHRSendDidFinishNotification) || saw(rec, SHRSendDidFailWithErrorNotification);
        })) << ::testing::PrintToString(rec.names);
        runUntil([] { return false; }, 0.3);  // a second share would be answered by now
        EXPECT_EQ(requestsTo(row.path) - before, 1);
        EXPECT_EQ(times(rec, SHRSendDidFinishNotification), 1) << ::testing::PrintToString(rec.names);
        EXPECT_EQ(times(rec, SHRSendDidFailWithErrorNotification), 0) << ::testing::PrintToString(rec.names);
        EXPECT_EQ(times(rec, SHRSendDidCancelNotification), 0) << ::testing::PrintToString(rec.names);
        EXPECT_TRUE(alerts().empty()) << ::testing::PrintToString(alerts());
        ASSERT_TRUE(closeShown());
    }
}

// Cancel is final. A caller that keeps the sharer it was handed still
// holds the form's text field after Cancel: the field that had the focus
// lets it go, and neither the return key on it, nor a tap on it or on the
// form's rows, nor the form's Login / Send (its button or its operations)
// stores or sends anything; SendDidCancel stays the last notification.
// Every login form (the sharers that sign in by form or by xAuth; Evernote's
// is in its own tests) and every share form.
TEST_F(ServiceFailuresTest, NothingACancelledFormHoldsIsStoredOrSent) {
    ui::Driver driver;
    struct Case {
        std::string what;
        std::function<ns::Ref<SHRSharer>()> make;
        std::vector<std::string> paths;  // none of them may be reached after the cancel
        std::string replies;
        const char* sharer = nullptr;    // a login form: the sharer whose login must not be stored
        const char* storedKey = nullptr;
    };
    std::vector<Case> cases;
    for (const auto& row : passwordLogins()) {
        auto make = row.make;
        const bool twitter = row.sharer == std::string("SHRTwitter");
        cases.push_back({std::string(row.sharer) + ", login form",
                         [make, twitter] {
                             auto s = make();
                             s->setItem(twitter ? SHRItem::text(ns::str("hello")) : link());
                             return s;
                         },
                         {row.loginPath, row.sharePath},
                         std::string("{\"") + row.loginPath + "\": [" + row.accepted +
                             "], \"/reader/api/0/token\": [{\"body\": \"tok\"}]}",
                         row.sharer, row.storedKey});
    }
    for (const auto& row : shareForms())
        cases.push_back({row.what, row.make, {row.path},
                         "{\"" + row.path + "\": [{" + row.reply + "}]" + (row.others.empty() ? "" : ", " + row.others) + "}"});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::map<std::string, int> before;
        for (const auto& path : c.paths) before[path] = requestsTo(path);
        services.setReplies(c.replies);
        ui::Panel::resetShown();
        NotificationRecorder rec;
        auto sharer = c.make();
        sharer->share();
        ASSERT_TRUE(runUntil([&] {
            auto* top = shownScreen();
            return ns::as<SHRFormController>(top) || ns::as<SHRFormControllerLargeTextField>(top);
        }));
        ns::Ref<ui::ViewController> form(shownScreen());
        ASSERT_EQ(ns::as<SHRFormController>(form.get()) && form->navigationItem()->rightBarButtonItem()->title() == "Login",
                  c.sharer != nullptr);
        // The form shows with its first field focused; the user types into
        // it (and, on a login form, the password too) and taps Cancel.
        ASSERT_TRUE(driver.typeText("", c.sharer ? "me" : " and more")) << driver.lastError();
        if (c.sharer) ASSERT_TRUE(driver.typeText("Password", "pw")) << driver.lastError();
        ns::Ref<ui::TextField> field(dynamic_cast<ui::TextField*>(ui::Responder::currentFirstResponder()));
        ASSERT_TRUE(field);
        ns::Ref<ui::BarButtonItem> button(form->navigationItem()->rightBarButtonItem());
        ASSERT_TRUE(button);
        ASSERT_TRUE(driver.tapBarButton("Cancel")) << driver.lastError();
        ASSERT_TRUE(runUntil([] { return SHR::currentHelper()->currentView() == nullptr; }));
        const auto afterCancel = rec.names;
        ASSERT_FALSE(afterCancel.empty());
        EXPECT_EQ(afterCancel.back(), SHRSendDidCancelNotification);
        EXPECT_EQ(times(rec, SHRSendDidCancelNotification), 1) << ::testing::PrintToString(rec.names);

        EXPECT_FALSE(field->isFirstResponder()) << "the focused field was let go";
        // The screen the sharing centre shows by then stays: nothing the
        // cancelled form does closes it.
        auto other = ui::NavigationController::withRoot(ns::make<ui::ViewController>());
        SHR::currentHelper()->showViewController(other);
        ASSERT_EQ(SHR::currentHelper()->currentView(), other.get());
        EXPECT_FALSE(driver.pressReturn()) << "no field has the focus";
        EXPECT_EQ(driver.lastFailure(), ui::Driver::Failure::NotFound) << driver.lastError();
        // What a caller holding the field and the form can still do. The
        // login and share forms refuse the return key outright.
        EXPECT_EQ(field->pressReturn(), !ns::as<SHRFormController>(form.get()));
        field->touchesEnded({}, nullptr);  // a tap on the field
        EXPECT_FALSE(field->isFirstResponder()) << "the field takes the focus no more";
        field->pressReturn();
        EXPECT_FALSE(button->isEnabled());
        button->performAction();
        if (auto* f = ns::as<SHRFormController>(form.get())) {
            f->tableViewDidSelectRowAtIndexPath(f->tableView(), ui::IndexPath::forRow(0, 0));
            EXPECT_FALSE(f->tableViewWillSelectRowAtIndexPath(f->tableView(), ui::IndexPath::forRow(0, 0)));
            f->validateForm();
            f->saveForm();
            f->cancel();  // a second Cancel tells nothing more
        } else if (auto* t = ns::as<SHRFormControllerLargeTextField>(form.get())) {
            t->save();
            t->sendFormToDelegate();
            t->cancel();
        }
        // Whatever a login or share would start reaches the service before a
        // request sent after it is answered, and a share's end is told on
        // the main loop's next turns.
        bool sentinel = false;
        auto probe = SHRRequest::make(services.URL("/sentinel"), nullptr, ns::make<ns::Object>(),
                                      [&](SHRRequest*) { sentinel = true; }, ns::str("GET"), true);
        ASSERT_TRUE(runUntil([&] { return sentinel; }));
        runUntil([] { return false; }, 0.3);

        for (const auto& path : c.paths) EXPECT_EQ(requestsTo(path) - before[path], 0) << path << ": nothing sent";
        if (c.sharer)
            EXPECT_FALSE(SHR::getAuthValueForKeyForSharer(c.storedKey, c.sharer)) << "nothing stored";
        EXPECT_EQ(rec.names, afterCancel) << "nothing after the cancel: " << ::testing::PrintToString(rec.names);
        EXPECT_TRUE(alerts().empty()) << ::testing::PrintToString(alerts());
        EXPECT_EQ(SHR::currentHelper()->currentView(), other.get()) << "the screen shown by then stays";
        // A plain screen tells the sharing centre nothing when it goes.
        SHR::currentHelper()->hideCurrentViewControllerAnimated(false);
        SHR::currentHelper()->viewWasDismissed();
        ASSERT_FALSE(other->isOnScreen());
    }
}

// -- Replies that break off ----------------------------------------------------------------------

// A reply whose head says 200 but whose body then stops (the connection
// reset after the head, or closed before the announced length) is not a
// reply the service was seen to give: every sharer ends the share as
// failed, whatever the part that arrived holds (Pinboard's still says
// "done", Google's sign-in still has an "Auth" line).
TEST_F(ServiceFailuresTest, RepliesThatBreakOffEndAsFailures) {
    auto defaults = ns::UserDefaults::standardUserDefaults();
    auto login = [](const char* sharer, const char* userKey, const char* user, const char* password) {
        SHR::setAuthValueForKeyForSharer(ns::str(user).get(), userKey, sharer);
        SHR::setAuthValueForKeyForSharer(ns::str(password).get(), "password", sharer);
    };
    login("SHRInstapaper", "username", "me", "pw");
    login("SHRReadItLater", "username", "me", "pw");
    login("SHRTumblr", "email", "me@example.org", "pw");
    login("SHRGoogleReader", "email", "me@example.org", "pw");
    login("SHRPinboard", "username", "pinuser", "pa/ss");
    for (const char* sharer : {"SHRTwitter", "SHRLinkedIn"}) {
        SHR::setAuthValueForKeyForSharer(ns::str("acctok").get(), "accessKey", sharer);
        SHR::setAuthValueForKeyForSharer(ns::str("accsecret").get(), "accessSecret", sharer);
    }
    defaults->setObjectForKey(ns::str("42"), kSHRVkontakteUserId);
    defaults->setObjectForKey(ns::str("vktok"), kSHRVkontakteAccessToken);
    defaults->setObjectForKey(
        ns::Date::dateWithTimeIntervalSinceReferenceDate(ns::Date::date()->timeIntervalSinceReferenceDate() + 3600),
        kSHRVkontakteExpiryDate);

    auto text = [] { return SHRItem::text(ns::str("t")); };
    auto image = [] { return SHRItem::image(ui::Image::make("card", {8, 6}), ns::str("Card")); };
    auto with = [](ns::Ref<SHRSharer> s, ns::Ref<SHRItem> item) {
        s->setItem(std::move(item));
        s->isAuthorized();
        return s;
    };
    auto facebook = [&](ns::Ref<SHRItem> item) {
        // A failed request ends the session: a token for every share.
        defaults->setObjectForKey(ns::str("fbtok"), kSHRFacebookAccessToken);
        defaults->setObjectForKey(ns::Date::dateWithTimeIntervalSinceReferenceDate(
                                      ns::Date::date()->timeIntervalSinceReferenceDate() + 3600),
                                  kSHRFacebookExpiryDate);
        return with(ns::make<SHRFacebook>(), std::move(item));
    };
    auto twitter = [&] {
        auto item = text();
        item->setCustomValueForKey(ns::str("a tweet"), "status");
        auto s = ns::make<SHRTwitter>();
        s->setConsumerKey("lkey");
        s->setSecretKey("lsecret");
        return with(s, item);
    };
    auto linkedIn = [&] {
        auto s = ns::make<SHRLinkedIn>();
        s->setConsumerKey("lkey");
        s->setSecretKey("lsecret");
        return with(s, text());
    };
    struct Row {
        const char* what;
        std::function<ns::Ref<SHRSharer>()> make;
        std::string path;   // the reply that breaks off
        std::string reply;  // its fields, as JSON members
        int shortCut;       // body bytes sent before the short body ends
        std::string others; // the whole replies of the other steps, as JSON members
    };
    std::vector<Row> rows = {
        {"Instapaper", [&] { return with(ns::make<SHRInstapaper>(), link()); }, "/api/add",
         R"("status": 201, "body": "201 Created")", 3, ""},
        {"Read It Later", [&] { return with(ns::make<SHRReadItLater>(), link()); }, "/v2/send",
         R"("status": 200, "body": "200 OK")", 3, ""},
        {"Tumblr link", [&] { return with(ns::make<SHRTumblr>(), link()); }, "/api/write",
         R"("status": 201, "body": "Created")", 3, ""},
        {"Tumblr text", [&] { return with(ns::make<SHRTumblr>(), text()); }, "/api/write",
         R"("status": 201, "body": "Created")", 3, ""},
        {"Tumblr photo", [&] { return with(ns::make<SHRTumblr>(), image()); }, "/api/write",
         R"("status": 201, "body": "Created")", 3, ""},
        {"Google Reader post", [&] { return with(ns::make<SHRGoogleReader>(), link()); }, "/reader/api/0/item/edit",
         R"("status": 200, "body": "OK")", 1,
         R"("/accounts/ClientLogin": [{"body": "SID=s1\nAuth=a1\n"}], "/reader/api/0/token": [{"body": "tok"}])"},
        {"Google Reader edit token", [&] { return with(ns::make<SHRGoogleReader>(), link()); }, "/reader/api/0/token",
         R"("status": 200, "body": "tokentokentoken")", 5,
         R"("/accounts/ClientLogin": [{"body": "SID=s1\nAuth=a1\n"}], "/reader/api/0/item/edit": [{"body": "OK"}])"},
        {"Google Reader sign-in", [&] { return with(ns::make<SHRGoogleReader>(), link()); }, "/accounts/ClientLogin",
         R"("status": 200, "body": "SID=s1\nAuth=a1-and-the-rest\n")", 14,
         R"("/reader/api/0/token": [{"body": "tok"}], "/reader/api/0/item/edit": [{"body": "OK"}])"},
        {"Pinboard", [&] { return with(ns::make<SHRPinboard>(), link()); }, "/v1/posts/add",
         R"("basic": true, "status": 200, "body": "<result code=\"done\" />                                ")", 20, ""},
        {"Twitter", twitter, "/1/statuses/update.json", R"("status": 200, "body": "{\"id\":1}")", 3, ""},
        {"LinkedIn", linkedIn, "/v1/people/~/shares", R"("status": 201, "body": "Created")", 3, ""},
        {"Facebook text", [&] { return facebook(text()); }, "/me/feed",
         R"("status": 200, "body": "{\"id\":\"1_2\"}")", 9, ""},
        {"Facebook photo", [&] { return facebook(image()); }, "/me/photos",
         R"("status": 200, "body": "{\"id\":\"9\",\"post_id\":\"1_9\"}")", 9, ""},
        {"Vkontakte", [&] { return with(ns::make<SHRVkontakte>(), text()); }, "/method/wall.post",
         R"("status": 200, "body": "{\"response\":{\"post_id\":1}}")", 20, ""},
    };
    struct Shape {
        const char* what;
        std::function<std::string(const Row&)> fields;
        bool done;
    };
    std::vector<Shape> shapes = {
        {"whole", [](const Row&) { return std::string(); }, true},
        {"reset after the head", [](const Row&) { return std::string(R"(, "cut": 0, "reset": true)"); }, false},
        {"body shorter than its length",
         [](const Row& r) { return ns::format(R"(, "cut": %@)", std::to_string(r.shortCut)); }, false},
    };
    for (const auto& row : rows) {
        for (const auto& shape : shapes) {
            SCOPED_TRACE(std::string(row.what) + ", " + shape.what);
            services.setReplies("{\"" + row.path + "\": [{" + row.reply + shape.fields(row) + "}]" +
                                (row.others.empty() ? "" : ", " + row.others) + "}");
            NotificationRecorder rec;
            auto sharer = row.make();
            sharer->setShareDelegate(nullptr);
            ASSERT_TRUE(sharer->tryToSend() || !rec.names.empty());
            ASSERT_TRUE(runUntil([&] {
                return saw(rec, SHRSendDidFinishNotification) || saw(rec, SHRSendDidFailWithErrorNotification);
            })) << ::testing::PrintToString(rec.names);
            EXPECT_EQ(saw(rec, SHRSendDidFinishNotification), shape.done) << ::testing::PrintToString(rec.names);
            EXPECT_EQ(saw(rec, SHRSendDidFailWithErrorNotification), !shape.done)
                << ::testing::PrintToString(rec.names);
        }
    }

    // A request started again after its connection failed is judged by
    // its new reply alone.
    services.setReplies(R"({"/again": [{"body": "whole", "cut": 2}, {"body": "whole"}]})");
    std::vector<bool> outcomes;
    auto request = SHRRequest::make(ns::URL::URLWithString(services.base() + "/again"), nullptr, ns::str("caller"),
                                    [&](SHRRequest* r) { outcomes.push_back(r->success()); }, nullptr, true);
    ASSERT_TRUE(runUntil([&] { return outcomes.size() == 1; }));
    request->setDelegate(ns::str("caller"));
    request->start();
    ASSERT_TRUE(runUntil([&] { return outcomes.size() == 2; }));
    EXPECT_EQ(outcomes, (std::vector<bool>{false, true}));
    EXPECT_EQ(ns::describe(request->getResult().get()), "whole");
}

// -- Token replies that hold no token ------------------------------------------------------------

// A token endpoint that answers 200 with something other than a token (an
// error page, nothing, empty values, bytes, half a token) has not signed
// the user in: the step ends with its alert and a failed login, nothing is
// stored, the authorise page is not opened, and nothing is posted. Run
// through the web sign-in (LinkedIn: request token, then access token) and
// the password login (Twitter's xAuth: access token).
TEST_F(ServiceFailuresTest, TokenRepliesWithoutATokenFailTheLogin) {
    struct Reply {
        const char* what;
        std::string fields;  // JSON members of the token endpoint's reply
    };
    std::vector<Reply> replies = {
        {"a token", R"("body": "oauth_token=acctok&oauth_token_secret=accsecret")"},
        {"an HTML page", R"("body": "<html><body><p>Back soon: oauth_token=acctok</p></body></html>")"},
        {"an empty body", R"("body": "")"},
        {"empty values", R"("body": "oauth_token=&oauth_token_secret=&oauth_callback_confirmed=true")"},
        {"binary bytes", R"("bytes": "\u0089PNG\r\n\u001a\n\u0000\u0000\u00ff\u00fe&=")"},
        {"values that are not text", R"("body": "oauth_token=%FF%FE&oauth_token_secret=%C3")"},
        {"a key without a secret", R"("body": "oauth_token=acctok")"},
        {"a secret without a key", R"("body": "oauth_token_secret=accsecret")"},
    };
    struct Flow {
        const char* what;
        const char* sharer;
        // Starts the login and brings it to the token step whose reply is
        // `reply`; the other step answers with a token.
        std::function<ns::Ref<SHROAuthSharer>(const std::string& reply)> start;
        std::string alert;
        std::vector<std::string> failed;  // the notifications of a failed login
        const char* post;                 // where a share would be posted
    };
    auto linkedIn = [this] {
        auto s = ns::make<SHRLinkedIn>();
        s->setConsumerKey("lkey");
        s->setSecretKey("lsecret");
        s->setAuthorizeCallbackURL(ns::URL::URLWithString("http://callback.example/li"));
        s->setItem(SHRItem::text(ns::str("hello")));
        return s;
    };
    auto authoriseView = [] {
        auto* nav = ns::as<ui::NavigationController>(SHR::currentHelper()->currentView());
        return nav ? ns::as<SHROAuthView>(nav->topViewController()) : nullptr;
    };
    const std::string good = R"({"body": "oauth_token=reqtok&oauth_token_secret=reqsecret"})";
    std::vector<Flow> flows = {
        {"web sign-in, request token", "SHRLinkedIn",
         [&](const std::string& reply) {
             services.setReplies(R"({"/uas/oauth/requestToken": [)" + reply + "]}");
             auto s = linkedIn();
             s->share();
             return ns::Ref<SHROAuthSharer>(s);
         },
         "Request Error|There was a problem requesting authorization from LinkedIn", {"SHRAuthDidFinish:false"},
         "/v1/people/~/shares"},
        {"web sign-in, access token", "SHRLinkedIn",
         [&](const std::string& reply) {
             services.setReplies(R"({"/uas/oauth/requestToken": [)" + good + R"(], "/uas/oauth/accessToken": [)" +
                                 reply + "]}");
             auto s = linkedIn();
             s->share();
             if (!runUntil([&] { return authoriseView() != nullptr; })) return ns::Ref<SHROAuthSharer>(s);
             authoriseView()->webView()->loadRequest(
                 ui::URLRequest::requestWithString("http://callback.example/li?oauth_token=reqtok&oauth_verifier=v1"));
             return ns::Ref<SHROAuthSharer>(s);
         },
         "Access Error|There was a problem requesting access from LinkedIn",
         {"SHRAuthDidFinish:true", "SHRAuthDidFinish:false"}, "/v1/people/~/shares"},
        {"password login, access token", "SHRTwitter",
         [&](const std::string& reply) {
             services.setReplies(R"({"/oauth/access_token": [)" + reply + "]}");
             auto s = ns::make<SHRTwitter>();
             s->setConsumerKey("lkey");
             s->setSecretKey("lsecret");
             s->setXAuth(true);
             s->setItem(SHRItem::text(ns::str("hello")));
             s->share();
             if (!runUntil([&] { return shownForm() && shownForm()->rightButtonTitle() == "Login"; }))
                 return ns::Ref<SHROAuthSharer>(s);
             shownForm()->setValueForKey("username", "me");
             shownForm()->setValueForKey("password", "pw");
             shownForm()->validateForm();
             return ns::Ref<SHROAuthSharer>(s);
         },
         "Access Error|There was a problem requesting access from Twitter", {"SHRAuthDidFinish:false"},
         "/1/statuses/update.json"},
    };
    for (const auto& flow : flows) {
        for (const auto& reply : replies) {
            SCOPED_TRACE(std::string(flow.what) + ", " + reply.what);
            bool token = reply.what == std::string("a token");
            NotificationRecorder rec;
            auto sharer = flow.start("{" + reply.fields + "}");
            if (token) {
                // The flow goes on: to the authorise page, or to the share's
                // form with the token stored.
                ASSERT_TRUE(runUntil([&] {
                    return authoriseView() || SHR::getAuthValueForKeyForSharer("accessKey", flow.sharer);
                }));
                EXPECT_TRUE(alerts().empty()) << ::testing::PrintToString(alerts());
            } else {
                ASSERT_TRUE(runUntil([&] { return !alerts().empty(); })) << ::testing::PrintToString(rec.names);
                runUntil([] { return false; }, 0.1);  // nothing more follows
                EXPECT_EQ(alerts(), std::vector<std::string>{flow.alert});
                EXPECT_EQ(rec.names, flow.failed);
                EXPECT_FALSE(authoriseView()) << "the authorise page was opened";
                EXPECT_FALSE(SHR::getAuthValueForKeyForSharer("accessKey", flow.sharer));
                EXPECT_FALSE(SHR::getAuthValueForKeyForSharer("accessSecret", flow.sharer));
                EXPECT_FALSE(ns::make<SHRLinkedIn>()->isAuthorized());
                EXPECT_FALSE(sharer->accessToken()) << "an access token is held";
                EXPECT_EQ(sharer->pendingAction(), SHRPendingShare);
                // Twitter's login form stays for another try.
                if (flow.sharer == std::string("SHRTwitter")) {
                    EXPECT_TRUE(shownForm() && shownForm()->rightButtonTitle() == "Login");
                }
            }
            auto log = services.log();
            ASSERT_TRUE(log);
            for (ns::Object* o : *log) {
                EXPECT_NE(field(ns::as<ns::Dictionary>(o), "path"), flow.post) << "posted without a login";
            }
            sharer->logout();
            ui::Panel::resetShown();
            ASSERT_TRUE(closeShown());
        }
    }
}

}  // namespace
}  // namespace sharing::test
