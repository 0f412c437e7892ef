// The Vkontakte sharer against the fake services: the token picked out of
// the authorise page's redirect (driven through the web view), its one-day
// life, the wall calls and their query values, the photo upload's multipart
// body, service errors and the captcha round trip.
#include <gtest/gtest.h>

#include "platform/ui/Driver.h"
#include "sharing/core/ImageCoding.h"
#include "sharing/sharers/vkontakte/SHRVkontakte.h"
#include "sharing/tests/FakeServices.h"

namespace sharing::test {
namespace {

class VkontakteTest : public FakeServicesTest {
protected:
    void SetUp() override {
        FakeServicesTest::SetUp();
        endpoints.point({SHRVkontakte::kService, SHRVkontakte::kAuthorizeService}, services.base());
        SHRVkontakte::setAppID("4711");
    }
    void TearDown() override {
        SHRVkontakte::setAppID("");
        FakeServicesTest::TearDown();
    }
    void storeToken(double age) {
        auto d = ns::UserDefaults::standardUserDefaults();
        d->setObjectForKey(ns::str("42"), kSHRVkontakteUserId);
        d->setObjectForKey(ns::str("tok1"), kSHRVkontakteAccessToken);
        d->setObjectForKey(ns::Date::dateWithTimeIntervalSinceReferenceDate(
                               ns::Date::date()->timeIntervalSinceReferenceDate() + 86400 - age),
                           kSHRVkontakteExpiryDate);
    }
    template <class T> T* top() {
        auto* nav = ns::as<ui::NavigationController>(SHR::currentHelper()->currentView());
        return nav ? ns::as<T>(nav->topViewController()) : nullptr;
    }
    // Follows a link to `address` on the authorise page.
    void redirect(SHRVkontakteOAuthView* view, const std::string& address) {
        view->vkWebView()->loadHTMLString("<a href=\"" + address + "\">Allow</a>",
                                          ns::URL::URLWithString(services.base() + "/oauth/authorize"));
        ui::Driver driver;
        driver.followLink("Allow");
    }
};

TEST_F(VkontakteTest, AuthoriseThroughTheRedirectThenPostText) {
    services.setReplies(R"({"/method/wall.post": [{"body": "{\"response\":{\"post_id\":7}}"}]})");
    NotificationRecorder rec;
    auto sharer = ns::make<SHRVkontakte>();
    sharer->setItem(SHRItem::text(ns::str("first")));
    sharer->share();
    ASSERT_TRUE(runUntil([&] { return top<SHRVkontakteOAuthView>() != nullptr; }));
    auto* view = top<SHRVkontakteOAuthView>();
    ASSERT_TRUE(view->vkWebView()->request());
    auto* url = view->vkWebView()->request()->URL();
    ASSERT_TRUE(url);
    EXPECT_EQ(url->absoluteText(), services.base() + "/oauth/authorize?client_id=4711&scope=wall,photos&redirect_uri=" +
                                       services.base() + "/blank.html&display=touch&response_type=token");
    // The redirect carries the token and the user id escaped; they are kept
    // as it gave them and reach the service as the values they stand for.
    redirect(view, services.base() + "/blank.html#access_token=t%2Bk%2F9&expires_in=86400&user_id=7%37");
    auto d = ns::UserDefaults::standardUserDefaults();
    EXPECT_EQ(ns::describe(d->stringForKey(kSHRVkontakteAccessToken).get()), "t%2Bk%2F9");
    EXPECT_EQ(ns::describe(d->stringForKey(kSHRVkontakteUserId).get()), "7%37");
    EXPECT_TRUE(ns::make<SHRVkontakte>()->isAuthorized());
    // The share resumes with the text form.
    ASSERT_TRUE(runUntil([&] { return top<SHRFormControllerLargeTextField>() != nullptr; }));
    auto* form = top<SHRFormControllerLargeTextField>();
    ASSERT_TRUE(form);
    EXPECT_EQ(form->text(), "first");
    form->setText("hello & good/bye?");
    form->save();
    ASSERT_TRUE(runUntil([&] { return !rec.names.empty() && rec.names.back() == "SHRSendDidFinish"; }));
    auto post = services.last();
    EXPECT_EQ(field(post, "method"), "GET");
    EXPECT_EQ(field(post, "path"), "/method/wall.post");
    EXPECT_EQ(pairs(post, "query"), (Pairs{{"owner_id", "77"}, {"access_token", "t+k/9"}, {"message", "hello & good/bye?"}}));
    EXPECT_NE(field(post, "rawquery").find("message=hello%20%26%20good%2Fbye%3F"), std::string::npos);
}

TEST_F(VkontakteTest, RefusalErrorsAndMissingUserId) {
    NotificationRecorder rec;
    auto sharer = ns::make<SHRVkontakte>();
    sharer->setItem(SHRItem::text(ns::str("x")));
    sharer->share();
    ASSERT_TRUE(runUntil([&] { return top<SHRVkontakteOAuthView>() != nullptr; }));
    auto* view = top<SHRVkontakteOAuthView>();
    ASSERT_TRUE(view);
    // The refusal address is not loaded; the view closes; nothing is stored.
    ui::Driver driver;
    view->vkWebView()->loadHTMLString("<a href=\"" + SHRVkontakteOAuthView::deniedAddress() + "\">Deny</a>",
                                      ns::URL::URLWithString(services.base() + "/oauth/authorize"));
    EXPECT_FALSE(driver.followLink("Deny"));
    ASSERT_TRUE(runUntil([&] { return SHR::currentHelper()->currentView() == nullptr; }));
    EXPECT_FALSE(ns::UserDefaults::standardUserDefaults()->objectForKey(kSHRVkontakteAccessToken));
    EXPECT_EQ(rec.names, (std::vector<std::string>{"SHRAuthDidFinish:false"}));

    // A redirect without a token (none, or an empty one) signs nobody in:
    // nothing is stored and nothing shared.
    auto redirected = [&](const std::string& fragment) {
        auto v = ns::make<SHRVkontakteOAuthView>();
        v->setAppID(ns::str("4711"));
        v->setDelegate(sharer);
        v->view();
        std::string address = services.base() + "/blank.html#" + fragment;
        v->vkWebView()->loadRequest(ui::URLRequest::requestWithURL(ns::URL::URLWithString(address)));
        return address;
    };
    for (const char* fragment : {"access_token=&expires_in=1&user_id=5", "user_id=5&access_token=tok5"}) {
        SCOPED_TRACE(fragment);
        rec.names.clear();
        redirected(fragment);
        EXPECT_EQ(rec.names, (std::vector<std::string>{"SHRAuthDidFinish:false"}));
        EXPECT_FALSE(ns::UserDefaults::standardUserDefaults()->objectForKey(kSHRVkontakteUserId));
        EXPECT_FALSE(ns::UserDefaults::standardUserDefaults()->objectForKey(kSHRVkontakteAccessToken));
    }

    // Without "&user_id=" the whole address is the user id.
    rec.names.clear();
    sharer->setItem(nullptr);  // nothing left to share
    std::string address = redirected("access_token=tok5&expires_in=1");
    EXPECT_EQ(rec.names, (std::vector<std::string>{"SHRAuthDidFinish:true"}));
    EXPECT_EQ(ns::describe(ns::UserDefaults::standardUserDefaults()->stringForKey(kSHRVkontakteUserId).get()), address);
    EXPECT_EQ(ns::describe(ns::UserDefaults::standardUserDefaults()->stringForKey(kSHRVkontakteAccessToken).get()),
              "tok5");
    EXPECT_TRUE(SHRVkontakte::flushAccessToken());
    EXPECT_FALSE(ns::UserDefaults::standardUserDefaults()->objectForKey(kSHRVkontakteUserId));
}

// A token the user defaults cannot save (their folder full or read-only) is
// not used: the "Login Error" alert, the login reported failed, nothing
// posted, and the login stored before kept, in this process and the next.
TEST_F(VkontakteTest, ALoginThatCannotBeSavedIsReportedAndNotUsed) {
    FullPreferences disk;
    for (auto failure : testsupport::FullDisk::kFailures) {
        SCOPED_TRACE(std::string(testsupport::FullDisk::describe(failure)) + " against " + disk.how());
        disk.restore();
        storeToken(25 * 3600);  // the login stored before, expired
        if (!disk.arrange(failure)) continue;
        ui::Panel::resetShown();
        NotificationRecorder rec;
        auto sharer = ns::make<SHRVkontakte>();
        sharer->setItem(SHRItem::text(ns::str("first")));
        sharer->share();
        ASSERT_TRUE(runUntil([&] { return top<SHRVkontakteOAuthView>() != nullptr; }));
        redirect(top<SHRVkontakteOAuthView>(), services.base() + "/blank.html#access_token=tok2&expires_in=86400&user_id=77");
        EXPECT_EQ(alerts(), std::vector<std::string>{"Login Error|Your login to Vkontakte could not be saved. Please try again."});
        EXPECT_EQ(rec.names, (std::vector<std::string>{"SHRAuthDidFinish:false"}));
        ASSERT_TRUE(runUntil([] {
            return SHR::currentHelper()->currentView() == nullptr && SHR::currentHelper()->pendingView() == nullptr;
        }, 2)) << "the share went on";
        auto d = ns::UserDefaults::standardUserDefaults();
        EXPECT_EQ(ns::describe(d->stringForKey(kSHRVkontakteAccessToken).get()), "tok1");
        EXPECT_EQ(ns::describe(d->stringForKey(kSHRVkontakteUserId).get()), "42");
        EXPECT_FALSE(ns::make<SHRVkontakte>()->isAuthorized());
        EXPECT_EQ(ns::describe(disk.reread()->stringForKey(kSHRVkontakteAccessToken).get()), "tok1");
    }
    auto log = services.log();
    for (ns::Object* o : *log) EXPECT_NE(field(ns::as<ns::Dictionary>(o), "path"), "/method/wall.post");
}

TEST_F(VkontakteTest, TokenLivesOneDay) {
    storeToken(25 * 3600);
    EXPECT_FALSE(ns::make<SHRVkontakte>()->isAuthorized());
    storeToken(23 * 3600);
    auto sharer = ns::make<SHRVkontakte>();
    EXPECT_TRUE(sharer->isAuthorized());
    EXPECT_EQ(ns::describe(sharer->accessUserId()), "42");
}

TEST_F(VkontakteTest, LinkWithoutTextAndServiceError) {
    storeToken(0);
    services.setReplies(R"({"/method/wall.post": [{"body": "{\"response\":1}"},
        {"body": "{\"error\":{\"error_code\":15,\"error_msg\":\"Access denied\"}}"}]})");
    auto sharer = ns::make<SHRVkontakte>();
    sharer->setShareDelegate(nullptr);
    sharer->isAuthorized();
    // The link is one query value: its own "?", "&" and "#" arrive with it.
    std::string link = "http://cards.test/c?id=7&deck=2#top";
    sharer->setItem(SHRItem::URL(ns::URL::URLWithString(link)));
    EXPECT_TRUE(sharer->send());
    EXPECT_EQ(pairs(services.last(), "query"),
              (Pairs{{"owner_id", "42"}, {"access_token", "tok1"}, {"message", link}, {"attachment", link}}));
    EXPECT_FALSE(sharer->send());
    ASSERT_TRUE(sharer->lastError());
    EXPECT_EQ(sharer->lastError()->domain(), "Access denied");
    EXPECT_EQ(sharer->lastError()->code(), 1);
}

TEST_F(VkontakteTest, PhotoUploadSaveAndPost) {
    storeToken(0);
    std::string upload = services.base() + "/upload";
    services.setReplies(
        R"({"/method/photos.getWallUploadServer": [{"body": "{\"response\":{\"upload_url\":\")" + upload +
        R"(\"}}"}], "/upload": [{"body": "{\"server\":123,\"photo\":\"ph1\",\"hash\":\"h9\"}"}],
        "/method/photos.saveWallPhoto": [{"body": "{\"response\":[{\"id\":\"photo1\"},{\"id\":\"photo42_5\"}]}"}],
        "/method/wall.post": [{"body": "{\"response\":{}}"}]})");
    auto image = ns::make<ui::Image>("card", ui::Size{20, 10});
    auto sharer = ns::make<SHRVkontakte>();
    sharer->setShareDelegate(nullptr);
    sharer->isAuthorized();
    sharer->setItem(SHRItem::image(image, ns::str("My card")));
    NotificationRecorder rec;
    EXPECT_TRUE(sharer->send());
    EXPECT_EQ(rec.names, (std::vector<std::string>{"SHRSendDidFinish"}));
    auto log = services.log();
    ASSERT_EQ(log->count(), 4u);
    auto* up = ns::as<ns::Dictionary>(log->objectAtIndex(1));
    ASSERT_TRUE(up);
    EXPECT_EQ(field(up, "method"), "POST");
    std::string ctype = field(up->dictionaryForKey("headers"), "content-type");
    EXPECT_EQ(ctype.rfind("multipart/form-data;  boundary=0xKhTmLbOuNdArY-", 0), 0u) << ctype;
    EXPECT_EQ(field(up->dictionaryForKey("headers"), "content-transfer-encoding"), "8bit");
    auto* mp = up->dictionaryForKey("multipart");
    ASSERT_TRUE(mp);
    EXPECT_EQ(field(mp, "closed"), "0");
    EXPECT_EQ(field(mp, "ends_delim_line"), "1");
    auto* parts = mp->arrayForKey("parts");
    ASSERT_TRUE(parts);
    ASSERT_EQ(parts->count(), 1u);
    auto* part = ns::as<ns::Dictionary>(parts->objectAtIndex(0));
    ASSERT_TRUE(part);
    EXPECT_EQ(ns::describe(part->arrayForKey("headers")),
              ns::describe(ns::Array::make({ns::str("Content-Disposition: form-data; name=\"photo\"; filename=\"photo.jpg\""),
                                            ns::str("Content-Type: image/jpg")}).get()));
    EXPECT_EQ(field(part, "md5"), md5(*imageJPEGRepresentation(image.get(), 1.0)));
    EXPECT_EQ(pairs(ns::as<ns::Dictionary>(log->objectAtIndex(2)), "query"),
              (Pairs{{"owner_id", "42"}, {"access_token", "tok1"}, {"server", "123"}, {"photo", "ph1"}, {"hash", "h9"}}));
    EXPECT_EQ(pairs(ns::as<ns::Dictionary>(log->objectAtIndex(3)), "query"),
              (Pairs{{"owner_id", "42"}, {"access_token", "tok1"}, {"message", "My card"}, {"attachment", "photo42_5"}}));
    // The wall calls and the upload go out as service requests: reloaded,
    // ignoring local cache data, with a 60 s time-out.
    auto request = SHRVkontakte::serviceRequest(ns::URL::URLWithString(upload));
    EXPECT_EQ(request->cachePolicy(), net::kURLRequestReloadIgnoringLocalCacheData);
    EXPECT_EQ(request->timeoutInterval(), 60);
}

TEST_F(VkontakteTest, CaptchaFailsTheShareThenResendsWithTheAnswer) {
    storeToken(0);
    services.setReplies(R"({"/method/wall.post": [{"body": "{\"error\":{\"error_code\":14,\"error_msg\":\"Captcha needed\",\"captcha_sid\":\"55+5 &x=1#\",\"captcha_img\":\")" +
                        services.base() + R"(/captcha.jpg\"}}"}, {"body": "{\"response\":{}}"}]})");
    auto sharer = ns::make<SHRVkontakte>();
    sharer->setShareDelegate(nullptr);
    sharer->isAuthorized();
    sharer->setItem(SHRItem::text(ns::str("t")));
    EXPECT_FALSE(sharer->send());
    ASSERT_TRUE(sharer->lastError());
    EXPECT_EQ(sharer->lastError()->domain(), "Captcha needed");
    EXPECT_TRUE(sharer->isCaptcha());
    auto d = ns::UserDefaults::standardUserDefaults();
    // The service's captcha id, with characters a query reserves, is kept as it came.
    EXPECT_EQ(ns::describe(d->stringForKey("captcha_sid").get()), "55+5 &x=1#");
    EXPECT_EQ(ns::describe(d->stringForKey("captcha_img").get()), services.base() + "/captcha.jpg");
    std::string first = ns::describe(d->stringForKey("request").get());
    EXPECT_EQ(first.rfind(services.base() + "/method/wall.post?owner_id=42&access_token=tok1&message=t", 0), 0u);
    auto* alert = sharer->captchaAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->title(), "\xD0\x92\xD0\xB2\xD0\xB5\xD0\xB4\xD0\xB8\xD1\x82\xD0\xB5 \xD0\xBA\xD0\xBE\xD0\xB4:\n\n\n\n\n");
    EXPECT_EQ(alert->message(), "\n");
    auto* field33 = dynamic_cast<ui::TextField*>(alert->viewWithTag(33));
    ASSERT_TRUE(field33);
    EXPECT_EQ(field33->frame().origin.x, 12);
    EXPECT_EQ(field33->frame().size.width, 260);
    // The captcha picture above it: 130 by 50 at 12, 45.
    ui::View* picture = nullptr;
    for (const auto& sub : alert->subviews())
        if (ns::as<ui::ImageView>(sub.get())) picture = sub.get();
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->frame().origin.x, 12);
    EXPECT_EQ(picture->frame().origin.y, 45);
    EXPECT_EQ(picture->frame().size.width, 130);
    EXPECT_EQ(picture->frame().size.height, 50);
    field33->setText("ab cd+&=#%");
    // The image request went to the stored address.
    EXPECT_EQ(field(ns::as<ns::Dictionary>(services.log()->objectAtIndex(1)), "path"), "/captcha.jpg");
    ASSERT_TRUE(alert->pressButtonWithTitle("OK"));
    EXPECT_FALSE(sharer->isCaptcha());
    auto resent = services.last();
    EXPECT_EQ(field(resent, "path"), "/method/wall.post");
    auto q = pairs(resent, "query");
    ASSERT_EQ(q.size(), 5u);
    EXPECT_EQ(q[3], (std::pair<std::string, std::string>{"captcha_sid", "55+5 &x=1#"}));
    EXPECT_EQ(q[4], (std::pair<std::string, std::string>{"captcha_key", "ab cd+&=#%"}));

    // Logout forgets every value the sharer stored, the request kept for
    // the captcha (which carries the token) included.
    sharer->logout();
    for (const char* key : {kSHRVkontakteUserId, kSHRVkontakteAccessToken, kSHRVkontakteExpiryDate, "request",
                            "captcha_sid", "captcha_img", "captcha_user"})
        EXPECT_FALSE(d->objectForKey(key)) << key;
}

}  // namespace
}  // namespace sharing::test
