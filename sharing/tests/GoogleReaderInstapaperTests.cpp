// The Google Reader and Instapaper sharers against a loopback fake of each
// service that parses the form bodies it receives and answers by its own
// rules: login, the per-send token, the posted note or link, and every
// failure message.
#include <gtest/gtest.h>

#include <mutex>

#include "platform/foundation/UserDefaults.h"
#include "sharing/sharers/googlereader/SHRGoogleReader.h"
#include "sharing/sharers/instapaper/SHRInstapaper.h"
#include "sharing/tests/SharerTestSupport.h"
#include "sharing/ui/SHRFormController.h"
#include "testsupport/FullDisk.h"

namespace sharing::test {
namespace {

// Headers of a request as name -> value (names lower-cased).
std::map<std::string, std::string> cookiesOf(const Request& r) {
    std::map<std::string, std::string> out;
    std::string c = r.header("Cookie");
    size_t start = 0;
    while (start < c.size()) {
        size_t semi = c.find(';', start);
        std::string piece = c.substr(start, semi == std::string::npos ? std::string::npos : semi - start);
        while (!piece.empty() && piece[0] == ' ') piece.erase(0, 1);
        size_t eq = piece.find('=');
        if (eq != std::string::npos) out[piece.substr(0, eq)] = piece.substr(eq + 1);
        if (semi == std::string::npos) break;
        start = semi + 1;
    }
    return out;
}

class ServiceTest : public SharingTest {
protected:
    SHRFormController* topForm(SHRSharer* s) { return ns::as<SHRFormController>(s->topViewController()); }
    bool waitFor(NotificationRecorder& rec, const std::string& name) {
        return runUntil([&] {
            for (auto& n : rec.names)
                if (n.rfind(name, 0) == 0) return true;
            return false;
        });
    }
};

// -- Google Reader ------------------------------------------------------------------------------

struct FakeReader {
    std::mutex m;
    std::string loginReply = "SID=sid1\nLSID=lsid1\nAuth=auth-xyz\nBroken=a=b\n";
    int loginStatus = 200;
    int editStatus = 200;
    Server server{[this](const Request& r) -> std::optional<std::string> {
        std::lock_guard<std::mutex> g(m);
        std::string path = pathOf(r.target);
        if (path == "/accounts/ClientLogin") {
            auto f = formFields(r.body);
            if (r.method != "POST" || f["service"] != "reader" || f["accountType"] != "GOOGLE")
                return Server::reply(400, "Error=BadRequest\n");
            if (f["Passwd"] != "s3cret & more") return Server::reply(403, "Error=BadAuthentication\n");
            return Server::reply(loginStatus, loginReply);
        }
        bool signedIn = r.header("Authorization") == "GoogleLogin auth=auth-xyz" && cookiesOf(r)["SID"] == "sid1";
        if (path == "/reader/api/0/token") {
            if (r.method != "GET" || !signedIn || formFields(queryOf(r.target)).count("ck") == 0)
                return Server::reply(401, "");
            return Server::reply(200, "tok/123");
        }
        if (path == "/reader/api/0/item/edit") {
            if (!signedIn || formFields(r.body)["T"] != "tok/123") return Server::reply(401, "");
            return Server::reply(editStatus, "OK");
        }
        return Server::reply(404, "");
    }};
    std::vector<Request> on(const std::string& path) {
        std::vector<Request> out;
        for (auto& r : server.requests())
            if (pathOf(r.target) == path) out.push_back(r);
        return out;
    }
};

class GoogleReaderTest : public ServiceTest {
protected:
    void SetUp() override {
        ServiceTest::SetUp();
        registerGoogleReaderSharer();
        endpoints.point({SHRGoogleReader::kService, SHRGoogleReader::kTokenService}, baseOf(fake.server));
    }
    ns::Ref<SHRItem> linkItem() {
        auto item = SHRItem::URL(ns::URL::URLWithString("http://example.org/a?b=c&d=e"), ns::str("Cards & more"));
        item->setText(ns::str("A note: 100%"));
        return item;
    }
    FakeReader fake;
};

TEST_F(GoogleReaderTest, LoginShareFormTokenAndPost) {
    NotificationRecorder rec;
    auto s = SHRSharer::shareItem<SHRGoogleReader>(linkItem());
    auto* login = topForm(s.get());
    ASSERT_TRUE(login);
    EXPECT_EQ(ns::describe(login->footerOfSection(0)), "Create a free account at google.com");
    login->setValueForKey("email", "ann@example.org");
    login->setValueForKey("password", "s3cret & more");
    login->validateForm();
    ASSERT_TRUE(waitFor(rec, SHRAuthDidFinishNotification));
    EXPECT_EQ(rec.names[0], std::string(SHRAuthDidFinishNotification) + ":true");

    // The login body, parsed.
    auto logins = fake.on("/accounts/ClientLogin");
    ASSERT_EQ(logins.size(), 1u);
    auto f = formFields(logins[0].body);
    EXPECT_EQ(f["Email"], "ann@example.org");
    EXPECT_EQ(f["Passwd"], "s3cret & more");
    EXPECT_EQ(f["source"], "Sharing-Fenwarel App-0.2.1");
    // Lines of exactly one "=" make the session; "Broken=a=b" does not.
    EXPECT_EQ(ns::describe(s->session()->stringForKey("Auth")), "auth-xyz");
    EXPECT_FALSE(s->session()->stringForKey("Broken"));
    EXPECT_EQ(ns::describe(SHR::getAuthValueForKeyForSharer("email", "SHRGoogleReader")), "ann@example.org");

    // The share form: note and the public switch.
    auto* form = topForm(s.get());
    ASSERT_TRUE(form && form != login);
    form->setValueForKey("share", "1");
    form->validateForm();
    ASSERT_TRUE(waitFor(rec, SHRSendDidFinishNotification));
    // A send with a session starts once, then finishes.
    EXPECT_EQ(rec.names, (std::vector<std::string>{std::string(SHRAuthDidFinishNotification) + ":true",
                                                   SHRSendDidStartNotification, SHRSendDidFinishNotification}));
    EXPECT_TRUE(ns::UserDefaults::standardUserDefaults()->boolForKey("SHRGoogleReader_isPublic"));

    auto edits = fake.on("/reader/api/0/item/edit");
    ASSERT_EQ(edits.size(), 1u);
    auto e = formFields(edits[0].body);
    EXPECT_EQ(e["T"], "tok/123");
    EXPECT_EQ(e["linkify"], "false");
    EXPECT_EQ(e["snippet"], "A note: 100%");
    EXPECT_EQ(e["srcTitle"], "Fenwarel App");
    EXPECT_EQ(e["title"], "Cards & more");
    EXPECT_EQ(e["url"], "http://example.org/a?b=c&d=e");
    EXPECT_EQ(e["share"], "true");
    EXPECT_EQ(cookiesOf(edits[0])["LSID"], "lsid1");
    EXPECT_EQ(fake.on("/reader/api/0/token").size(), 1u);
}

TEST_F(GoogleReaderTest, SendWithoutSessionSignsInFirstAndStartsOnce) {
    SHR::setAuthValueForKeyForSharer(ns::str("ann@example.org").get(), "email", "SHRGoogleReader");
    SHR::setAuthValueForKeyForSharer(ns::str("s3cret & more").get(), "password", "SHRGoogleReader");
    ns::UserDefaults::standardUserDefaults()->setBool(false, "SHRGoogleReader_isPublic");
    NotificationRecorder rec;
    auto s = ns::make<SHRGoogleReader>();
    auto item = linkItem();
    item->setCustomValueForKey(ns::str("1"), "share");  // ignored: auto-sharing reads the defaults
    s->setItem(item);
    s->setShouldAutoShare(true);
    EXPECT_TRUE(s->send());
    ASSERT_TRUE(waitFor(rec, SHRSendDidFinishNotification));
    std::vector<std::string> expected = {SHRSendDidStartNotification, std::string(SHRAuthDidFinishNotification) + ":true",
                                         SHRSendDidFinishNotification};
    EXPECT_EQ(rec.names, expected);
    ASSERT_EQ(fake.on("/reader/api/0/item/edit").size(), 1u);
    EXPECT_EQ(formFields(fake.on("/reader/api/0/item/edit")[0].body)["share"], "");
}

TEST_F(GoogleReaderTest, LoginErrorsAndSendFailures) {
    auto s = ns::make<SHRGoogleReader>();
    s->setItem(linkItem());
    NotificationRecorder rec;
    s->getSession(ns::str("ann@example.org"), ns::str("wrong"));
    ASSERT_TRUE(waitFor(rec, SHRAuthDidFinishNotification));
    EXPECT_EQ(rec.names.back(), std::string(SHRAuthDidFinishNotification) + ":false");
    ASSERT_EQ(alerts().size(), 1u);
    EXPECT_EQ(alerts()[0], "Login Error|Incorrect username and password");
    ui::Panel::resetShown();

    // Another error name is shown as it is; no error at all gets the general
    // text. Answered with status 200, each is still a failed sign-in.
    fake.loginReply = "Error=CaptchaRequired\n";
    rec.names.clear();
    s->getSession(ns::str("a"), ns::str("s3cret & more"));
    ASSERT_TRUE(waitFor(rec, SHRAuthDidFinishNotification));
    EXPECT_EQ(alerts()[0], "Login Error|CaptchaRequired");
    EXPECT_EQ(rec.names.back(), std::string(SHRAuthDidFinishNotification) + ":false");
    ui::Panel::resetShown();
    fake.loginReply = "nothing\n";
    rec.names.clear();
    s->getSession(ns::str("a"), ns::str("s3cret & more"));
    ASSERT_TRUE(waitFor(rec, SHRAuthDidFinishNotification));
    EXPECT_EQ(alerts()[0], "Login Error|There was an error logging into Google Reader");
    EXPECT_EQ(rec.names.back(), std::string(SHRAuthDidFinishNotification) + ":false");
    ui::Panel::resetShown();

    // A send whose sign-in fails ends as a failed send.
    SHR::setAuthValueForKeyForSharer(ns::str("ann@example.org").get(), "email", "SHRGoogleReader");
    SHR::setAuthValueForKeyForSharer(ns::str("wrong").get(), "password", "SHRGoogleReader");
    s->setShareDelegate(nullptr);
    rec.names.clear();
    EXPECT_TRUE(s->send());
    ASSERT_TRUE(waitFor(rec, SHRSendDidFailWithErrorNotification));
    EXPECT_EQ(rec.names, (std::vector<std::string>{SHRSendDidStartNotification,
                                                   std::string(SHRAuthDidFinishNotification) + ":false",
                                                   SHRSendDidFailWithErrorNotification}));
    ASSERT_TRUE(s->lastError());
    EXPECT_EQ(s->lastError()->localizedDescription(), "Incorrect username and password");
    EXPECT_FALSE(s->sendAfterLogin());
    EXPECT_FALSE(s->session()) << "a failed sign-in leaves no session: the next send signs in again";

    // A token refused, then a post refused.
    fake.loginReply = "SID=sid1\nAuth=auth-xyz\n";
    SHR::setAuthValueForKeyForSharer(ns::str("s3cret & more").get(), "password", "SHRGoogleReader");
    s->setSession(ns::MutableDictionary::make());
    s->session()->setObject(ns::str("other"), "Auth");
    rec.names.clear();
    s->send();
    ASSERT_TRUE(waitFor(rec, SHRSendDidFailWithErrorNotification));
    EXPECT_EQ(s->lastError()->localizedDescription(), "There was a problem authenticating your account.");
    fake.editStatus = 500;
    s->setSession(nullptr);
    rec.names.clear();
    s->send();
    ASSERT_TRUE(waitFor(rec, SHRSendDidFailWithErrorNotification));
    EXPECT_EQ(s->lastError()->localizedDescription(), "There was a problem saving your note.");
}

// The sign-in reply's lines as the service may end them, and an "Auth" that
// is there but empty: a session holds the values whole, an empty "Auth" is
// no sign-in, and a send with the session reaches the service signed.
TEST_F(GoogleReaderTest, SignInRepliesOfEveryShape) {
    struct Case {
        const char* name;
        const char* reply;
        bool signedIn;
    } cases[] = {
        {"line feeds", "SID=sid1\nAuth=auth-xyz\n", true},
        {"carriage returns and line feeds", "SID=sid1\r\nAuth=auth-xyz\r\n", true},
        {"no line end after the last", "SID=sid1\nAuth=auth-xyz", true},
        {"an empty Auth", "SID=sid1\nAuth=\n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        {
            std::lock_guard<std::mutex> g(fake.m);
            fake.loginReply = c.reply;
        }
        ui::Panel::resetShown();
        NotificationRecorder rec;
        auto s = ns::make<SHRGoogleReader>();
        s->setItem(linkItem());
        s->getSession(ns::str("ann@example.org"), ns::str("s3cret & more"));
        ASSERT_TRUE(waitFor(rec, SHRAuthDidFinishNotification));
        EXPECT_EQ(rec.names.back(), std::string(SHRAuthDidFinishNotification) + (c.signedIn ? ":true" : ":false"));
        if (!c.signedIn) {
            EXPECT_FALSE(s->session());
            EXPECT_EQ(alerts(), std::vector<std::string>{"Login Error|There was an error logging into Google Reader"});
            continue;
        }
        ASSERT_TRUE(s->session());
        EXPECT_EQ(ns::describe(s->session()->stringForKey("Auth")), "auth-xyz");
        EXPECT_EQ(ns::describe(s->session()->stringForKey("SID")), "sid1");
        size_t edits = fake.on("/reader/api/0/item/edit").size();
        rec.names.clear();
        s->setShareDelegate(nullptr);
        ASSERT_TRUE(s->send());
        ASSERT_TRUE(runUntil([&] {
            return !rec.names.empty() && (rec.names.back() == SHRSendDidFinishNotification ||
                                          rec.names.back() == SHRSendDidFailWithErrorNotification);
        }));
        EXPECT_EQ(rec.names.back(), SHRSendDidFinishNotification);
        EXPECT_EQ(fake.on("/reader/api/0/item/edit").size(), edits + 1);
    }
}

// A login the service accepts but the keychain cannot store (a full disk, a
// read-only home) is reported as failed: the "Login Error" alert, nothing
// sent, and the login stored before stays whole.
TEST_F(GoogleReaderTest, ALoginThatCannotBeSavedIsReportedAndNotUsed) {
    testsupport::FullDisk disk(ns::Paths::join(ns::Paths::libraryDirectory(), "Keychains"));
    for (auto failure : testsupport::FullDisk::kFailures) {
        SCOPED_TRACE(std::string(testsupport::FullDisk::describe(failure)) + " against " + disk.how());
        disk.restore();
        ASSERT_TRUE(SHR::setAuthValuesForSharer({{"email", ns::str("old@example.org")}, {"password", ns::str("old")}},
                                                "SHRGoogleReader"));
        if (!disk.arrange(failure)) continue;
        ui::Panel::resetShown();
        size_t loginsBefore = fake.on("/accounts/ClientLogin").size();
        NotificationRecorder rec;
        auto s = ns::make<SHRGoogleReader>();
        s->setItem(linkItem());
        s->setPendingAction(SHRPendingShare);
        s->authorizationFormShow();  // a new sign-in over the stored one
        auto* login = topForm(s.get());
        ASSERT_TRUE(login);
        login->setValueForKey("email", "ann@example.org");
        login->setValueForKey("password", "s3cret & more");
        login->validateForm();
        ASSERT_TRUE(waitFor(rec, SHRAuthDidFinishNotification));
        EXPECT_EQ(fake.on("/accounts/ClientLogin").size(), loginsBefore + 1) << "the service accepted the login";
        EXPECT_EQ(rec.names, std::vector<std::string>{std::string(SHRAuthDidFinishNotification) + ":false"});
        EXPECT_EQ(alerts(), std::vector<std::string>{
                                "Login Error|Your login to Google Reader could not be saved. Please try again."});
        EXPECT_TRUE(fake.on("/reader/api/0/token").empty());
        EXPECT_TRUE(fake.on("/reader/api/0/item/edit").empty());
        EXPECT_EQ(topForm(s.get()), login) << "no share form after a login that was not kept";
        EXPECT_EQ(ns::describe(SHR::getAuthValueForKeyForSharer("email", "SHRGoogleReader")), "old@example.org");
        EXPECT_EQ(ns::describe(SHR::getAuthValueForKeyForSharer("password", "SHRGoogleReader")), "old");
    }
}

// -- Instapaper ------------------------------------------------------------------------------------

struct FakeInstapaper {
    std::mutex m;
    int addStatus = 201;
    Server server{[this](const Request& r) -> std::optional<std::string> {
        std::lock_guard<std::mutex> g(m);
        auto f = formFields(r.body);
        bool known = f["username"] == "bo b" && f["password"] == "p&ss=1";
        if (r.target == "/api/authenticate") return Server::reply(known ? 200 : 403, known ? "200" : "403");
        if (r.target == "/api/add") {
            if (!known) return Server::reply(403, "403");
            if (f["url"].empty()) return Server::reply(400, "400");
            return Server::reply(addStatus, "");
        }
        return Server::reply(404, "");
    }};
};

class InstapaperTest : public ServiceTest {
protected:
    void SetUp() override {
        ServiceTest::SetUp();
        registerInstapaperSharer();
        endpoints.point(SHRInstapaper::kService, baseOf(fake.server));
    }
    FakeInstapaper fake;
};

TEST_F(InstapaperTest, LoginThenAddAtOnce) {
    NotificationRecorder rec;
    auto s = SHRSharer::shareURL<SHRInstapaper>(ns::URL::URLWithString("http://example.org/x?y=1&z=2"));
    auto* login = topForm(s.get());
    ASSERT_TRUE(login);
    login->setValueForKey("username", "bo b");
    login->setValueForKey("password", "wrong");
    login->validateForm();
    ASSERT_TRUE(waitFor(rec, SHRAuthDidFinishNotification));
    EXPECT_EQ(rec.names[0], std::string(SHRAuthDidFinishNotification) + ":false");
    ASSERT_EQ(alerts().size(), 1u);
    EXPECT_EQ(alerts()[0], "Login Error|Sorry, Instapaper did not accept your credentials. Please try again.");
    EXPECT_FALSE(SHR::getAuthValueForKeyForSharer("username", "SHRInstapaper"));
    ui::Panel::resetShown();

    rec.names.clear();
    login->setValueForKey("password", "p&ss=1");
    login->validateForm();
    ASSERT_TRUE(waitFor(rec, SHRSendDidFinishNotification));
    // The saved login shares at once (no share form), before the login reports.
    EXPECT_EQ(rec.names.front(), SHRSendDidStartNotification);
    EXPECT_EQ(ns::describe(SHR::getAuthValueForKeyForSharer("password", "SHRInstapaper")), "p&ss=1");
    auto requests = fake.server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[2].target, "/api/add");
    EXPECT_EQ(formFields(requests[2].body)["url"], "http://example.org/x?y=1&z=2");
}

TEST_F(InstapaperTest, ThreeFailureMessages) {
    SHR::setAuthValueForKeyForSharer(ns::str("bo b").get(), "username", "SHRInstapaper");
    SHR::setAuthValueForKeyForSharer(ns::str("p&ss=1").get(), "password", "SHRInstapaper");
    struct Case {
        int status;
        const char* message;
    } cases[] = {{500, "The service encountered an error. Please try again later."},
                 {404, "There was a problem saving to Instapaper."}};
    for (auto& c : cases) {
        fake.addStatus = c.status;
        auto s = ns::make<SHRInstapaper>();
        s->setShareDelegate(nullptr);
        s->setItem(SHRItem::URL(ns::URL::URLWithString("http://example.org/")));
        NotificationRecorder rec;
        ASSERT_TRUE(s->send());
        ASSERT_TRUE(waitFor(rec, SHRSendDidFailWithErrorNotification));
        ASSERT_TRUE(s->lastError());
        EXPECT_EQ(s->lastError()->localizedDescription(), c.message);
    }
    // 403 asks for a new login: the default delegate shows the login form.
    SHR::setAuthValueForKeyForSharer(ns::str("old").get(), "password", "SHRInstapaper");
    auto s = ns::make<SHRInstapaper>();
    s->setItem(SHRItem::URL(ns::URL::URLWithString("http://example.org/")));
    NotificationRecorder rec;
    ASSERT_TRUE(s->send());
    ASSERT_TRUE(waitFor(rec, SHRSendDidFailWithErrorNotification));
    EXPECT_EQ(s->lastError()->localizedDescription(),
              "Sorry, Instapaper did not accept your credentials. Please try again.");
    EXPECT_TRUE(topForm(s.get()));
    // An item without a URL is refused before anything is sent.
    auto empty = ns::make<SHRInstapaper>();
    empty->setItem(SHRItem::URL(nullptr));
    EXPECT_FALSE(empty->send());
}

}  // namespace
}  // namespace sharing::test
