// Pinboard and Read It Later against the fake services: what the login and
// the save send (credentials, query and form fields in order) and how each
// reply is reported.
#include <gtest/gtest.h>

#include "net/json/JSONDecoder.h"
#include "sharing/sharers/pinboard/SHRPinboard.h"
#include "sharing/sharers/readitlater/SHRReadItLater.h"
#include "sharing/tests/FakeServices.h"
#include "sharing/ui/SHRActivityIndicator.h"
#include "sharing/ui/SHRFormController.h"

namespace sharing::test {
namespace {

class BookmarkTest : public FakeServicesTest {
protected:
    void SetUp() override {
        FakeServicesTest::SetUp();
        endpoints.point({SHRPinboard::kService, SHRReadItLater::kService}, services.base());
    }
    // The form on screen (top of the shown navigation controller).
    SHRFormController* shownForm() {
        auto* nav = ns::as<ui::NavigationController>(SHR::currentHelper()->currentView());
        return nav ? ns::as<SHRFormController>(nav->topViewController()) : nullptr;
    }
    bool waitForForm(const std::string& rightTitle) {
        return runUntil([&] { return shownForm() && shownForm()->rightButtonTitle() == rightTitle; });
    }
};

ns::Ref<SHRItem> bookmark() {
    auto item = SHRItem::URL(ns::URL::URLWithString("http://example.org/a?b=c&d=e"), ns::str("Cards & Decks"));
    item->setTags(ns::str("study cards"));
    item->setText(ns::str("note 100%"));
    return item;
}

TEST_F(BookmarkTest, PinboardLoginSaveAndShareWithCredentialsInTheURL) {
    services.setReplies(R"({"/v1/posts/get": [{"basic": true, "body": "<posts/>"}],
                            "/v1/posts/add": [{"basic": true, "body": "<result code=\"done\" />"}]})");
    NotificationRecorder rec;
    auto sharer = ns::make<SHRPinboard>();
    EXPECT_EQ(ns::describe(sharer->authorizationFormCaption()), "Create an account at http://pinboard.in");
    sharer->setItem(bookmark());
    sharer->share();
    ASSERT_TRUE(waitForForm("Login"));
    shownForm()->setValueForKey("username", "pinuser");
    shownForm()->setValueForKey("password", "pa/ss");
    shownForm()->validateForm();
    ASSERT_TRUE(runUntil([&] { return rec.names.size() >= 1; }));
    EXPECT_EQ(rec.names, (std::vector<std::string>{"SHRAuthDidFinish:true"}));
    // The share form follows by itself once the login screen is gone.
    ASSERT_TRUE(waitForForm("Send to Pinboard"));
    EXPECT_EQ(ns::describe(SHR::getAuthValueForKeyForSharer("password", "SHRPinboard")), "pa/ss");
    auto login = services.last();
    ASSERT_TRUE(login);
    EXPECT_EQ(field(login, "path"), "/v1/posts/get");
    EXPECT_EQ(ns::describe(login->objectForKey("basic")), ns::describe(ns::Array::make({ns::str("pinuser"), ns::str("pa/ss")}).get()));
    // The share form: title, tags, notes and the switch, then save with the switch on.
    auto* form = shownForm();
    ASSERT_TRUE(form);
    auto* rows = form->rowsOfSection(0);
    ASSERT_EQ(rows->count(), 4u);
    std::vector<std::string> keys;
    for (ns::Object* o : *rows) keys.push_back(static_cast<SHRFormFieldSettings*>(o)->key());
    EXPECT_EQ(keys, (std::vector<std::string>{"title", "tags", "text", "shared"}));
    form->setValueForKey("shared", "1");
    form->validateForm();
    ASSERT_TRUE(runUntil([&] { return !rec.names.empty() && rec.names.back() == "SHRSendDidFinish"; }));
    auto add = services.last();
    EXPECT_EQ(field(add, "method"), "GET");
    EXPECT_EQ(field(add, "path"), "/v1/posts/add");
    EXPECT_EQ(pairs(add, "query"), (Pairs{{"url", "http://example.org/a?b=c&d=e"},
                                          {"description", "Cards & Decks"},
                                          {"tags", "study cards"},
                                          {"extended", "note 100%"},
                                          {"shared", "yes"}}));
}

TEST_F(BookmarkTest, PinboardSlashInPasswordAndUserNameIsEscapedInTheURL) {
    std::string url = SHRPinboard::credentialURL(ns::str("me").get(), ns::str("a/b").get(), "/v1/posts/get");
    EXPECT_EQ(url, services.base().substr(0, 7) + "me:a%2Fb@" + services.base().substr(7) + "/v1/posts/get");
    // A "/" left in the user name would end the address's host part early.
    url = SHRPinboard::credentialURL(ns::str("team/me").get(), ns::str("pw").get(), "/v1/posts/get");
    EXPECT_EQ(url, services.base().substr(0, 7) + "team%2Fme:pw@" + services.base().substr(7) + "/v1/posts/get");
    // Nor may an "@" or a ":" move the host or split the password.
    url = SHRPinboard::credentialURL(ns::str("me:you").get(), ns::str("p@ss:1").get(), "/v1/posts/get");
    EXPECT_EQ(url, services.base().substr(0, 7) + "me%3Ayou:p%40ss%3A1@" + services.base().substr(7) + "/v1/posts/get");
    auto parsed = ns::URL::URLWithString(url);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(ns::describe(parsed->host().get()), "127.0.0.1");
}

// A login the service did not accept stores nothing, and the user is told.
TEST_F(BookmarkTest, PinboardRefusedLoginIsNotSaved) {
    struct Case {
        const char* what;
        const char* user;
        const char* reply;
        std::vector<std::string> names;
        std::string alert;
        size_t requests;
    };
    std::vector<Case> cases = {
        {"wrong password (401)", "pinuser", R"({"/v1/posts/get": [{"basic": true}]})",
         {"SHRSendDidFailWithError", "SHRAuthDidFinish:false"},
         "Error|Could not authenticate you. Please relogin.", 1},
        {"server error (500)", "pinuser", R"({"/v1/posts/get": [{"basic": "any", "status": 500}]})",
         {"SHRAuthDidFinish:false"}, "Login Error|Sorry, Pinboard encountered an error. Please try again.", 1},
        {"user name with a colon", "pin:user", R"({"/v1/posts/get": [{"basic": "any"}]})",
         {"SHRAuthDidFinish:false"}, "Login Error|A Pinboard user name cannot contain \":\".", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ui::Panel::resetShown();
        services.setReplies(c.reply);
        size_t before = services.log()->count();
        NotificationRecorder rec;
        auto sharer = ns::make<SHRPinboard>();
        sharer->setItem(bookmark());
        sharer->share();
        ASSERT_TRUE(waitForForm("Login"));
        shownForm()->setValueForKey("username", c.user);
        shownForm()->setValueForKey("password", "wrong");
        shownForm()->validateForm();
        ASSERT_TRUE(runUntil([&] { return !rec.names.empty() && rec.names.back() == "SHRAuthDidFinish:false"; }));
        EXPECT_FALSE(SHR::getAuthValueForKeyForSharer("password", "SHRPinboard"));
        EXPECT_FALSE(SHR::getAuthValueForKeyForSharer("username", "SHRPinboard"));
        EXPECT_EQ(rec.names, c.names);
        ASSERT_FALSE(alerts().empty());
        EXPECT_EQ(alerts()[0], c.alert);
        EXPECT_EQ(services.log()->count() - before, c.requests);
        // The "Logging In..." indicator goes with the answer.
        EXPECT_TRUE(runUntil([] { return !SHRActivityIndicator::currentIndicator()->isShown(); }));
        SHR::currentHelper()->hideCurrentViewControllerAnimated(false);
        runUntil([] { return SHR::currentHelper()->currentView() == nullptr; });
    }
}

TEST_F(BookmarkTest, PinboardReplyWithoutDoneFails) {
    services.setReplies(R"({"/v1/posts/add": [{"basic": true, "body": "<result code=\"something went wrong\" />"}]})");
    SHR::setAuthValueForKeyForSharer(ns::str("pinuser").get(), "username", "SHRPinboard");
    SHR::setAuthValueForKeyForSharer(ns::str("pa/ss").get(), "password", "SHRPinboard");
    NotificationRecorder rec;
    auto sharer = ns::make<SHRPinboard>();
    sharer->setItem(bookmark());
    ASSERT_TRUE(sharer->send());
    ASSERT_TRUE(runUntil([&] { return rec.names.size() >= 2; }));
    EXPECT_EQ(rec.names.back(), "SHRSendDidFailWithError");
    ASSERT_TRUE(sharer->lastError());
    EXPECT_EQ(sharer->lastError()->localizedDescription(), "There was an error saving to Pinboard");
}

TEST_F(BookmarkTest, ReadItLaterLoginThenAutoShare) {
    services.setReplies(R"({"/v2/auth": [{"status": 200}], "/v2/send": [{"status": 200}]})");
    NotificationRecorder rec;
    auto sharer = ns::make<SHRReadItLater>();
    EXPECT_TRUE(sharer->shouldAutoShare());
    sharer->setItem(bookmark());
    sharer->share();
    ASSERT_TRUE(waitForForm("Login"));
    shownForm()->setValueForKey("username", "reader");
    shownForm()->setValueForKey("password", "p&ss word");
    shownForm()->validateForm();
    ASSERT_TRUE(runUntil([&] { return !rec.names.empty() && rec.names.back() == "SHRSendDidFinish"; }));
    auto log = services.log();
    ASSERT_EQ(log->count(), 2u);
    auto* auth = ns::as<ns::Dictionary>(log->objectAtIndex(0));
    EXPECT_EQ(field(auth, "method"), "POST");
    EXPECT_EQ(field(auth, "path"), "/v2/auth");
    EXPECT_EQ(pairs(auth, "form"), (Pairs{{"apikey", ""}, {"username", "reader"}, {"password", "p&ss word"}}));
    auto* send = ns::as<ns::Dictionary>(log->objectAtIndex(1));
    EXPECT_EQ(field(send, "path"), "/v2/send");
    auto form = pairs(send, "form");
    ASSERT_EQ(form.size(), 5u);
    EXPECT_EQ(form[0], (std::pair<std::string, std::string>{"apikey", ""}));
    EXPECT_EQ(form[2], (std::pair<std::string, std::string>{"password", "p&ss word"}));
    EXPECT_EQ(form[3].first, "new");
    EXPECT_EQ(form[3].second, R"({"0":{"url":"http://example.org/a?b=c&d=e","title":"Cards & Decks"}})");
    EXPECT_EQ(form[4].first, "update_tags");
    EXPECT_EQ(form[4].second, R"({"0":{"url":"http://example.org/a?b=c&d=e","tags":"study cards"}})");
}

TEST_F(BookmarkTest, ReadItLaterRepliesAndEmptyTags) {
    SHR::setAuthValueForKeyForSharer(ns::str("reader").get(), "username", "SHRReadItLater");
    SHR::setAuthValueForKeyForSharer(ns::str("pw").get(), "password", "SHRReadItLater");
    services.setReplies(R"({"/v2/send": [{"status": 400, "headers": {"X-Error": "Missing url"}}, {"status": 401}]})");
    NotificationRecorder rec;
    auto sharer = ns::make<SHRReadItLater>();
    auto item = bookmark();
    item->setTags(ns::str(""));
    sharer->setItem(item);
    ASSERT_TRUE(sharer->send());
    ASSERT_TRUE(runUntil([&] { return rec.names.size() >= 2; }));
    ASSERT_TRUE(sharer->lastError());
    EXPECT_EQ(sharer->lastError()->localizedDescription(), "Missing url");
    auto form = pairs(services.last(), "form");
    ASSERT_EQ(form.size(), 4u);
    EXPECT_EQ(form[3].first, "new");
    // 401: sign in again.
    ASSERT_TRUE(sharer->send());
    ASSERT_TRUE(runUntil([&] { return rec.names.size() >= 4; }));
    EXPECT_EQ(sharer->lastError()->localizedDescription(), "Could not authenticate you. Please relogin.");
}

// The title and tags travel inside JSON in the form body: quotes, backslashes,
// control characters and non-ASCII text arrive as typed and the JSON stays valid.
TEST_F(BookmarkTest, ReadItLaterTextsArriveWholeInsideTheirJSON) {
    SHR::setAuthValueForKeyForSharer(ns::str("reader").get(), "username", "SHRReadItLater");
    SHR::setAuthValueForKeyForSharer(ns::str("pw").get(), "password", "SHRReadItLater");
    services.setReplies(R"({"/v2/send": [{"status": 200}]})");
    NotificationRecorder rec;
    const std::string title = "Say \"hi\" \\ to 50% & \xC3\xA9t\xC3\xA9\ttab\nline";
    const std::string tags = "\"quoted\", back\\slash";
    auto sharer = ns::make<SHRReadItLater>();
    auto item = bookmark();
    item->setTitle(ns::str(title));
    item->setTags(ns::str(tags));
    sharer->setItem(item);
    ASSERT_TRUE(sharer->send());
    ASSERT_TRUE(runUntil([&] { return !rec.names.empty() && rec.names.back() == "SHRSendDidFinish"; }));
    auto form = pairs(services.last().get(), "form");
    ASSERT_EQ(form.size(), 5u);
    auto decode = [](const std::string& text) {
        return json::JSONDecoder::decoder()->objectWithUTF8StringLengthError(text.data(), text.size());
    };
    auto text = [](ns::Object* o, const char* field) {
        auto* entry = ns::as<ns::Dictionary>(o) ? ns::as<ns::Dictionary>(ns::as<ns::Dictionary>(o)->objectForKey("0")) : nullptr;
        auto* value = entry ? ns::as<ns::String>(entry->objectForKey(field)) : nullptr;
        return value ? std::string(value->view()) : std::string("<missing>");
    };
    auto added = decode(form[3].second);
    ASSERT_TRUE(added) << form[3].second;
    EXPECT_EQ(text(added.get(), "title"), title);
    EXPECT_EQ(text(added.get(), "url"), "http://example.org/a?b=c&d=e");
    auto tagged = decode(form[4].second);
    ASSERT_TRUE(tagged) << form[4].second;
    EXPECT_EQ(text(tagged.get(), "tags"), tags);
}

TEST_F(BookmarkTest, ReadItLaterLoginErrorShowsTheServiceMessage) {
    services.setReplies(R"({"/v2/auth": [{"status": 401, "headers": {"X-Error": "User was not found"}}]})");
    NotificationRecorder rec;
    auto sharer = ns::make<SHRReadItLater>();
    sharer->setItem(bookmark());
    sharer->share();
    ASSERT_TRUE(waitForForm("Login"));
    shownForm()->setValueForKey("username", "nobody");
    shownForm()->validateForm();
    ASSERT_TRUE(runUntil([&] { return !rec.names.empty(); }));
    EXPECT_EQ(rec.names, (std::vector<std::string>{"SHRAuthDidFinish:false"}));
    EXPECT_EQ(alerts(), (std::vector<std::string>{"Login Error|User was not found"}));
    EXPECT_FALSE(SHR::getAuthValueForKeyForSharer("username", "SHRReadItLater"));
}

}  // namespace
}  // namespace sharing::test
