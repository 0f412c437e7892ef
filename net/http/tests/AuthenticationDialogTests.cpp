// The credentials sheet, driven like a person would: requests against
// loopback servers that answer 401 (Basic, NTLM) or 407 through a proxy,
// the sheet typed into and its Login or Cancel pressed.
#include "net/http/tests/RequestTestSupport.h"

#include <mutex>

#include "net/http/AuthenticationDialog.h"
#include "platform/ui/Application.h"
#include "platform/ui/Driver.h"
#include "platform/ui/Window.h"

using namespace httptest;
using http::AuthenticationDialog;
using http::HTTPRequest;

namespace {

// /basic wants user:pass in realm "R", /other wants user:pass in realm "S",
// /ntlm always challenges for NTLM.
class ChallengeServer {
public:
    ChallengeServer()
        : server_([](testsupport::Conn& c) {
              while (auto r = c.readRequest()) {
                  std::string auth = r->header("Authorization");
                  bool ok;
                  if (r->target.rfind("/ntlm", 0) == 0)
                      ok = c.respond(401, "who?", "WWW-Authenticate: NTLM\r\n");
                  else if (auth == "Basic dXNlcjpwYXNz")
                      ok = c.respond(200, "ok " + r->target);
                  else if (r->target.rfind("/other", 0) == 0)
                      ok = c.respond(401, "who?", "WWW-Authenticate: Basic realm=\"S\"\r\n");
                  else
                      ok = c.respond(401, "who?", "WWW-Authenticate: Basic realm=\"R\"\r\n");
                  if (!ok) return;
              }
          }) {}
    std::string url(const std::string& p) { return server_.url(p); }

private:
    testsupport::Server server_;
};

// A proxy answering for the origin; it wants user:pass as proxy credentials.
class ChallengingProxy {
public:
    ChallengingProxy()
        : server_([](testsupport::Conn& c) {
              while (auto r = c.readRequest()) {
                  bool ok;
                  if (r->header("Proxy-Authorization") != "Basic dXNlcjpwYXNz")
                      ok = c.respond(407, "credentials please", "Proxy-Authenticate: Basic realm=\"proxy\"\r\n");
                  else
                      ok = c.respond(200, "via proxy " + r->target);
                  if (!ok) return;
              }
          }) {}
    uint16_t port() const { return server_.port(); }

private:
    testsupport::Server server_;
};

class AuthenticationDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        HTTPRequest::clearSession();
        ui::Application::shared()->reset();
        ui::Device::current()->reset();
        window = ns::make<ui::Window>(ui::Screen::main()->bounds());
        auto root = ns::make<ui::ViewController>();
        root->setTitle("Deck index");
        window->setRootViewController(root);
        window->makeKeyAndVisible();
        AuthenticationDialog::install();
    }
    void TearDown() override {
        if (HasFailure()) std::printf("Screen:\n%s\n", driver.screen().c_str());
        AuthenticationDialog::uninstall();
        // Nothing may be left waiting for a sheet by the next test.
        if (AuthenticationDialog::dialogOnScreen()) driver.tapBarButton("Cancel");
        drainMain();
        driver.settle();
        ui::Application::shared()->reset();
        ui::Device::current()->reset();
        HTTPRequest::clearSession();
    }

    ns::Ref<HTTPRequest> start(const std::string& u) {
        auto r = HTTPRequest::requestWithURL(url(u));
        r->setShouldPresentAuthenticationDialog(true);
        r->startAsynchronous();
        return r;
    }
    // Waits until a sheet for `r` is on screen.
    bool sheetFor(const ns::Ref<HTTPRequest>& r) {
        bool ok = waitUntil([&] {
            auto* d = AuthenticationDialog::dialogOnScreen();
            return d && d->request().get() == r.get() && d->isOnScreen();
        });
        driver.settle();
        return ok;
    }
    static std::string footer() {
        auto* d = must<AuthenticationDialog>(AuthenticationDialog::dialogOnScreen(), "the sheet on screen");
        long sections = d->numberOfSectionsInTableView(d->tableView());
        return d->tableViewTitleForFooterInSection(d->tableView(), sections - 1);
    }
    static std::string prompt() {
        auto* d = must<AuthenticationDialog>(AuthenticationDialog::dialogOnScreen(), "the sheet on screen");
        return must<ui::NavigationItem>(must<ui::NavigationBar>(d->navigationBar())->topItem())->prompt();
    }

    ns::Ref<ui::Window> window;
    ui::Driver driver;
};

bool contains(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }

}  // namespace

TEST_F(AuthenticationDialogTest, BasicLoginOverHttpRetriesTheRequest) {
    ChallengeServer s;
    auto r = start(s.url("/basic"));
    ASSERT_TRUE(sheetFor(r));

    std::string screen = driver.screen();
    EXPECT_TRUE(contains(screen, "Login to this secure server.")) << screen;
    EXPECT_TRUE(contains(screen, "== [Cancel] | 127.0.0.1 | [Login] ==")) << screen;
    EXPECT_TRUE(contains(screen, "-- R --")) << screen;
    auto* d = AuthenticationDialog::dialogOnScreen();
    ASSERT_TRUE(d);
    EXPECT_EQ(d->type(), AuthenticationDialog::kServerLogin);
    EXPECT_EQ(d->numberOfSectionsInTableView(d->tableView()), 1);
    EXPECT_EQ(footer(), "Password will be sent in the clear.");
    EXPECT_FALSE(driver.findTextInput("Domain"));
    ASSERT_TRUE(d->passwordField());
    EXPECT_TRUE(d->passwordField()->isSecureTextEntry());
    // The user-name field has the focus, and the keyboard pushed the form up.
    ASSERT_TRUE(d->usernameField() && d->tableView());
    EXPECT_TRUE(d->usernameField()->isEditing());
    EXPECT_EQ(d->tableView()->contentInset().bottom, 216);

    // No prompt in landscape; back in portrait it returns.
    driver.rotate(ui::DeviceOrientation::LandscapeLeft);
    EXPECT_EQ(prompt(), "");
    // The invisible presenter turned with the device (a quarter turn back
    // for the interface's landscape right) over the application frame.
    ui::View* presenter = must<ui::ViewController>(d->presentingController())->view();
    ASSERT_TRUE(presenter);
    EXPECT_NEAR(presenter->transform().b, -1, 1e-9);
    EXPECT_EQ(presenter->frame().size.width, 460);
    EXPECT_EQ(presenter->frame().size.height, 320);
    driver.rotate(ui::DeviceOrientation::Portrait);
    EXPECT_EQ(prompt(), "Login to this secure server.");

    ASSERT_TRUE(driver.typeText("User", "user")) << driver.lastError();
    ASSERT_TRUE(driver.typeText("Password", "pass")) << driver.lastError();
    ASSERT_TRUE(driver.tapBarButton("Login")) << driver.lastError();
    EXPECT_FALSE(AuthenticationDialog::dialogOnScreen());
    ASSERT_TRUE(waitFor(r));
    ASSERT_FALSE(r->error()) << r->error()->description();
    EXPECT_EQ(text(r), "ok /basic");
    EXPECT_EQ(r->username(), "user");
    EXPECT_FALSE(contains(driver.screen(), "[Login]"));
}

TEST_F(AuthenticationDialogTest, OneLoginServesEveryRequestWaitingForTheSameCredentials) {
    ChallengeServer s;
    auto first = start(s.url("/basic/1"));
    ASSERT_TRUE(sheetFor(first));
    auto second = start(s.url("/basic/2"));
    ASSERT_TRUE(waitUntil([] { return AuthenticationDialog::waitingRequests().size() == 1; }));
    // Still the first request's sheet: one at a time.
    auto* onScreen = must<AuthenticationDialog>(AuthenticationDialog::dialogOnScreen());
    EXPECT_EQ(onScreen->request().get(), first.get());
    auto matching = onScreen->requestsRequiringTheseCredentials();
    ASSERT_EQ(matching.size(), 2u);
    EXPECT_EQ(matching[0].get(), second.get());
    EXPECT_EQ(matching[1].get(), first.get());

    ASSERT_TRUE(driver.typeText("User", "user"));
    ASSERT_TRUE(driver.typeText("Password", "pass"));
    ASSERT_TRUE(driver.tapBarButton("Login"));
    ASSERT_TRUE(waitFor(first));
    ASSERT_TRUE(waitFor(second));
    EXPECT_FALSE(first->error());
    EXPECT_FALSE(second->error());
    EXPECT_EQ(text(second), "ok /basic/2");
    driver.settle();
    EXPECT_FALSE(AuthenticationDialog::dialogOnScreen());  // not asked again
    EXPECT_TRUE(AuthenticationDialog::waitingRequests().empty());
}

TEST_F(AuthenticationDialogTest, ARequestForAnotherRealmGetsItsOwnSheetAfterTheFirstAndCancelFailsIt) {
    ChallengeServer s;
    auto first = start(s.url("/basic"));
    ASSERT_TRUE(sheetFor(first));
    auto other = start(s.url("/other"));
    ASSERT_TRUE(waitUntil([] { return AuthenticationDialog::waitingRequests().size() == 1; }));
    EXPECT_EQ(must<AuthenticationDialog>(AuthenticationDialog::dialogOnScreen())->requestsRequiringTheseCredentials().size(), 1u);

    ASSERT_TRUE(driver.typeText("User", "user"));
    ASSERT_TRUE(driver.typeText("Password", "pass"));
    ASSERT_TRUE(driver.tapBarButton("Login"));
    ASSERT_TRUE(waitFor(first));
    EXPECT_FALSE(first->error());
    EXPECT_FALSE(other->isFinished());

    // The next sheet comes once the first has left the screen.
    ASSERT_TRUE(sheetFor(other));
    EXPECT_TRUE(contains(driver.screen(), "-- S --")) << driver.screen();
    EXPECT_TRUE(AuthenticationDialog::waitingRequests().empty());
    ASSERT_TRUE(driver.tapBarButton("Cancel"));
    ASSERT_TRUE(waitFor(other));
    ASSERT_TRUE(other->error());
    EXPECT_EQ(other->error()->code(), http::kAuthenticationErrorType);
    EXPECT_EQ(other->error()->localizedDescription(), "Authentication needed");
    driver.settle();
    EXPECT_FALSE(AuthenticationDialog::dialogOnScreen());
}

TEST_F(AuthenticationDialogTest, CancelFailsEveryMatchingRequest) {
    ChallengeServer s;
    auto first = start(s.url("/basic/a"));
    ASSERT_TRUE(sheetFor(first));
    auto second = start(s.url("/basic/b"));
    ASSERT_TRUE(waitUntil([] { return AuthenticationDialog::waitingRequests().size() == 1; }));
    ASSERT_TRUE(driver.tapBarButton("Cancel"));
    ASSERT_TRUE(waitFor(first));
    ASSERT_TRUE(waitFor(second));
    ASSERT_TRUE(first->error());
    ASSERT_TRUE(second->error());
    EXPECT_EQ(first->error()->code(), http::kAuthenticationErrorType);
    EXPECT_EQ(second->error()->code(), http::kAuthenticationErrorType);
    driver.settle();
    EXPECT_FALSE(AuthenticationDialog::dialogOnScreen());
}

TEST_F(AuthenticationDialogTest, NTLMAsksForTheDomainAndSetsIt) {
    ChallengeServer s;
    auto r = start(s.url("/ntlm"));
    ASSERT_TRUE(sheetFor(r));
    auto* d = AuthenticationDialog::dialogOnScreen();
    ASSERT_TRUE(d);
    EXPECT_EQ(d->numberOfSectionsInTableView(d->tableView()), 2);
    ASSERT_TRUE(driver.findTextInput("Domain"));
    EXPECT_EQ(footer(), "Password will be sent securely.");
    ASSERT_TRUE(driver.typeText("User", "user"));
    ASSERT_TRUE(driver.typeText("Password", "pass"));
    ASSERT_TRUE(driver.typeText("Domain", "CORP"));
    ASSERT_TRUE(driver.tapBarButton("Login"));
    EXPECT_EQ(r->domain(), "CORP");
    EXPECT_EQ(r->username(), "user");
    // The server never accepts: the engine either asks again (a new sheet,
    // cancelled here) or gives up.
    ASSERT_TRUE(waitUntil([&] { return r->isFinished() || AuthenticationDialog::dialogOnScreen(); }));
    if (!r->isFinished()) {
        driver.settle();
        ASSERT_TRUE(driver.tapBarButton("Cancel"));
    }
    ASSERT_TRUE(waitFor(r));
    EXPECT_TRUE(r->error());
}

TEST_F(AuthenticationDialogTest, ProxyLoginIsTitledWithTheProxyAndSetsTheProxyCredentials) {
    ChallengingProxy proxy;
    auto r = HTTPRequest::requestWithURL(url("http://origin.invalid/private"));
    r->setProxyHost("127.0.0.1");
    r->setProxyPort(proxy.port());
    r->startAsynchronous();  // proxy sheets are on by default
    ASSERT_TRUE(sheetFor(r));
    auto* d = AuthenticationDialog::dialogOnScreen();
    ASSERT_TRUE(d);
    EXPECT_EQ(d->type(), AuthenticationDialog::kProxyLogin);
    std::string screen = driver.screen();
    EXPECT_TRUE(contains(screen, "Login to this secure proxy server.")) << screen;
    EXPECT_TRUE(contains(screen, "| 127.0.0.1 |")) << screen;
    EXPECT_EQ(footer(), "Password will be sent in the clear.");
    ASSERT_TRUE(driver.typeText("User", "user"));
    ASSERT_TRUE(driver.typeText("Password", "pass"));
    ASSERT_TRUE(driver.tapBarButton("Login"));
    ASSERT_TRUE(waitFor(r));
    ASSERT_FALSE(r->error()) << r->error()->description();
    EXPECT_EQ(text(r), "via proxy http://origin.invalid/private");
    EXPECT_EQ(r->proxyUsername(), "user");
    EXPECT_EQ(r->username(), "");
}

TEST_F(AuthenticationDialogTest, WithoutAWindowTheRequestFailsInsteadOfWaitingForever) {
    ChallengeServer s;
    ui::Application::shared()->reset();  // no window to show a sheet in
    auto r = start(s.url("/basic"));
    ASSERT_TRUE(waitFor(r));
    ASSERT_TRUE(r->error());
    EXPECT_EQ(r->error()->code(), http::kAuthenticationErrorType);
    EXPECT_FALSE(AuthenticationDialog::dialogOnScreen());
}

TEST_F(AuthenticationDialogTest, RefusedCredentialsBringTheSheetBackForTheSameRequest) {
    ChallengeServer s;
    auto r = start(s.url("/basic"));
    ASSERT_TRUE(sheetFor(r));
    ns::Weak<AuthenticationDialog> firstSheet(AuthenticationDialog::dialogOnScreen());
    ASSERT_TRUE(driver.typeText("User", "user"));
    ASSERT_TRUE(driver.typeText("Password", "wrong"));
    ASSERT_TRUE(driver.tapBarButton("Login"));
    ASSERT_TRUE(waitUntil([&] {
        auto* d = AuthenticationDialog::dialogOnScreen();
        return d && d != firstSheet.lock().get() && d->isOnScreen();
    }));
    driver.settle();
    EXPECT_FALSE(r->isFinished());
    auto* again = must<AuthenticationDialog>(AuthenticationDialog::dialogOnScreen());
    EXPECT_EQ(again->request().get(), r.get());
    // A fresh form: nothing typed carries over.
    EXPECT_EQ(must<ui::TextField>(again->passwordField())->text(), "");
    ASSERT_TRUE(driver.typeText("User", "user"));
    ASSERT_TRUE(driver.typeText("Password", "pass"));
    ASSERT_TRUE(driver.tapBarButton("Login"));
    ASSERT_TRUE(waitFor(r));
    ASSERT_FALSE(r->error()) << r->error()->description();
    EXPECT_EQ(text(r), "ok /basic");
}

TEST_F(AuthenticationDialogTest, OnATabletTheSheetIsAFormSheetWithATallerHeader) {
    ui::Device::current()->setUserInterfaceIdiom(ui::UserInterfaceIdiom::Pad);
    ui::Application::shared()->reset();  // a tablet-sized window only
    window = ns::make<ui::Window>(ui::Screen::main()->bounds());
    window->setRootViewController(ns::make<ui::ViewController>());
    window->makeKeyAndVisible();
    ChallengeServer s;
    auto r = start(s.url("/basic"));
    ASSERT_TRUE(sheetFor(r));
    auto* d = AuthenticationDialog::dialogOnScreen();
    ASSERT_TRUE(d);
    EXPECT_EQ(d->modalPresentationStyle(), ui::ModalPresentationStyle::FormSheet);
    EXPECT_EQ(d->tableViewHeightForHeaderInSection(d->tableView(), 0), 54);
    EXPECT_EQ(must<ui::View>(d->view())->frame().size.width, 540);
    EXPECT_FALSE(d->didEnableRotationNotifications());
    ASSERT_TRUE(driver.tapBarButton("Cancel"));
    ASSERT_TRUE(waitFor(r));
    ASSERT_TRUE(r->error());
    EXPECT_EQ(r->error()->code(), http::kAuthenticationErrorType);
}
