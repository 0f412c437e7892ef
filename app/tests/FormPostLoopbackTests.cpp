// The sign-up form posted for real: the app's form poster sends it to a
// loopback server started here (the form service's endpoint pointed at it),
// which parses the URL-encoded body on its own; the reply (JSON) comes back
// through the form's delegate. A post that fails, or that the service
// answers with an error status, leaves the form open.
#include "app/tests/AppTestSupport.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <thread>

#include "app/AppConfig.h"
#include "app/forms/HTTPFormPoster.h"
#include "app/forms/UIViewSingUp.h"
#include "testsupport/FormBody.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/RefusingPort.h"
#include "testsupport/MainLoopWait.h"

namespace app::test {

namespace {

std::string registro() {
    auto v = ns::UserDefaults::standardUserDefaults()->objectForKey("registro");
    return v ? v->description() : "<unset>";
}

UIViewSingUp* signUpOverlay() {
    auto* w = ui::Application::shared()->keyWindow();
    for (auto& v : w->rootViewController()->view()->subviews())
        if (auto* o = dynamic_cast<UIViewSingUp*>(v.get())) return o;
    return nullptr;
}

bool logged(const std::string& prefix) {
    for (auto& line : appLogLines())
        if (line.rfind(prefix, 0) == 0) return true;
    return false;
}

}  // namespace

class FormPostLoopback : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        setFormPoster(nullptr);  // the app's own poster
    }
    void pointFormsAt(const std::string& baseURL) { endpoints.point(kFormService, baseURL); }
    void fillSignUp() {
        startPhone();
        driver->advance(0.5);
        ASSERT_TRUE(signUpOverlay());
        ASSERT_TRUE(driver->typeText("Name", "Zo\u00eb \u00c5ngstr\u00f6m \u674e"));
        ASSERT_TRUE(driver->typeText("University or company", "Analytical & Co"));
        ASSERT_TRUE(driver->typeText("E-mail", "ada+news@example.org"));
    }
    // Sends the form and waits until the post has failed: the progress
    // overlay gone, the form still open, the flag unset.
    void sendAndExpectFailure(const std::string& why, double seconds = testsupport::kEventWaitSeconds) {
        SCOPED_TRACE(why);
        clearAppLog();
        ASSERT_TRUE(driver->tapButton("Send")) << driver->lastError() << screen();
        EXPECT_TRUE(screenHas("Loading...")) << screen();
        auto* form = signUpOverlay()->singController();
        ASSERT_TRUE(testsupport::waitUntil([] { return logged("Form post failed: "); }, seconds)) << screen();
        driver->advance(1.0);
        EXPECT_FALSE(ui::Application::shared()->isNetworkActivityIndicatorVisible());
        EXPECT_EQ(registro(), "<unset>");
        EXPECT_FALSE(form->hud());
        EXPECT_FALSE(screenHas("Loading...")) << screen();
        driver->advance(3.5);
        EXPECT_TRUE(signUpOverlay());
        EXPECT_FALSE(screenHas("Got it!")) << screen();
    }
    std::mutex m;
    std::vector<testsupport::Request> seen;
};

TEST_F(FormPostLoopback, SignUpIsPostedParsedAndAnswered) {
    // The answer waits until the test has looked for the progress overlay: a
    // loopback answer could otherwise arrive while the tap is being handled.
    std::condition_variable lookedForOverlay;
    bool mayAnswer = false;
    testsupport::Server server([&](testsupport::Conn& c) {
        while (auto r = c.readRequest()) {
            {
                std::unique_lock<std::mutex> g(m);
                seen.push_back(*r);
                lookedForOverlay.wait_for(g, std::chrono::duration<double>(testsupport::kEventWaitSeconds), [&] { return mayAnswer; });
            }
            if (!c.respond(200, "{\"status\":\"ok\",\"id\":17}", "Content-Type: application/json\r\n")) return;
        }
    });
    fillSignUp();
    pointFormsAt(server.url(""));
    ASSERT_TRUE(driver->tapButton("Send")) << driver->lastError();
    EXPECT_TRUE(screenHas("Loading...")) << screen();
    {
        std::lock_guard<std::mutex> g(m);
        mayAnswer = true;
    }
    lookedForOverlay.notify_all();
    ASSERT_TRUE(testsupport::waitUntil([] { return registro() == "1"; })) << screen();

    std::lock_guard<std::mutex> g(m);
    ASSERT_EQ(seen.size(), 1u);
    const auto& r = seen[0];
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.target, "/tarnwick/WS/Tarnwick.php");
    EXPECT_EQ(r.header("Content-Type"), "application/x-www-form-urlencoded; charset=utf-8");
    auto fields = testsupport::formPairs(r.body);
    std::vector<std::pair<std::string, std::string>> want{
        {"metodo", "SignUp"},         {"name", "Zo\u00eb \u00c5ngstr\u00f6m \u674e"}, {"universityCompany", "Analytical & Co"},
        {"email", "ada+news@example.org"}, {"appId", "4"},      {"systemId", "2"},
        {"version", ui::Device::current()->systemVersion()}};
    EXPECT_EQ(fields, want);
    EXPECT_NE(r.body.find("name=Zo%C3%AB%20%C3%85ngstr%C3%B6m%20%E6%9D%8E&"), std::string::npos) << r.body;

    // The reply was parsed as JSON and logged; the thank-you shows, then the
    // overlay closes after 3 s.
    bool logged = false;
    for (auto& line : appLogLines()) logged |= line.find("Form reply (200): {") != std::string::npos;
    EXPECT_TRUE(logged);
    driver->settle();
    EXPECT_TRUE(screenHas("Got it!")) << screen();
    driver->advance(3.0);
    driver->advance(0.5);
    EXPECT_FALSE(signUpOverlay());
}

TEST_F(FormPostLoopback, TextThatIsNotUTF8IsRefusedAndNeverReachesTheServiceAsNothing) {
    testsupport::Server service([](const testsupport::Request&) -> std::optional<std::string> {
        return testsupport::Server::reply(200, "{\"status\":\"ok\"}", "Content-Type: application/json\r\n");
    });
    startPhone();
    driver->advance(0.5);
    ASSERT_TRUE(signUpOverlay());
    pointFormsAt(service.url(""));
    // The name typed with a byte that is no character: refused whole, with
    // why, and the field stays empty.
    EXPECT_FALSE(driver->typeText("Name", "Ada \xff"));
    EXPECT_EQ(driver->lastError(),
              "the text is not UTF-8 (byte \\xFF at position 5 is not part of a character); nothing was typed");
    EXPECT_FALSE(driver->perform("type Name = Ada \xc3").ok);
    ASSERT_TRUE(driver->typeText("University or company", "Analytical & Co"));
    ASSERT_TRUE(driver->typeText("E-mail", "ada@example.org"));
    EXPECT_TRUE(screenHas("Name: ____")) << screen();
    // So Send asks for every field, and nothing is posted.
    ASSERT_TRUE(driver->tapButton("Send")) << driver->lastError();
    EXPECT_TRUE(screenHas("You must fill in all fields")) << screen();
    ASSERT_TRUE(driver->pressAlertButton("Accept"));
    driver->advance(1.0);
    EXPECT_EQ(service.connections(), 0);
    EXPECT_EQ(registro(), "<unset>");
    EXPECT_FALSE(screenHas("Got it!")) << screen();
    // Typed as characters, the name reaches the service exactly as typed.
    ASSERT_TRUE(driver->typeText("Name", "Ada \xc3\xa9"));
    ASSERT_TRUE(driver->tapButton("Send")) << driver->lastError();
    ASSERT_TRUE(testsupport::waitUntil([] { return registro() == "1"; })) << screen();
    auto requests = service.requests();
    ASSERT_EQ(requests.size(), 1u);
    auto fields = testsupport::formPairs(requests[0].body);
    ASSERT_GE(fields.size(), 2u);
    EXPECT_EQ(fields[1], (std::pair<std::string, std::string>{"name", "Ada \xc3\xa9"}));
}

TEST_F(FormPostLoopback, NoAnswerOrAnErrorStatusLeavesTheFormOpenForAnotherTry) {
    fillSignUp();
    // Nothing listens on the port: the connection is refused.
    testsupport::RefusingPort closed;
    pointFormsAt(closed.url());
    sendAndExpectFailure("connection refused");

    // The service answers 500 (with a reply body it means as an error).
    testsupport::Server failing([this](testsupport::Conn& c) {
        while (auto r = c.readRequest()) {
            {
                std::lock_guard<std::mutex> g(m);
                seen.push_back(*r);
            }
            if (!c.respond(500, "{\"error\":\"database down\"}", "Content-Type: application/json\r\n")) return;
        }
    });
    pointFormsAt(failing.url(""));
    sendAndExpectFailure("status 500");
    EXPECT_TRUE(logged("Form reply (500): {"));
    {
        std::lock_guard<std::mutex> g(m);
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].target, "/tarnwick/WS/Tarnwick.php");
    }

    // The connection is dropped without an answer.
    testsupport::Server dropping([](testsupport::Conn& c) { (void)c.readRequest(); });
    pointFormsAt(dropping.url(""));
    sendAndExpectFailure("connection dropped");
}

TEST_F(FormPostLoopback, AServiceThatTricklesItsAnswerFailsThePostWithinItsTimeLimit) {
    {
        auto poster = ns::make<HTTPFormPoster>();
        EXPECT_EQ(poster->timeLimitSeconds(), 60.0);
        // Any positive finite number is a limit, the smallest and the
        // largest too; what is not gives the default.
        const double inf = std::numeric_limits<double>::infinity();
        for (double odd : {0.0, -0.0, -1.0, -std::numeric_limits<double>::denorm_min(), std::nan(""), inf, -inf})
            EXPECT_EQ(ns::make<HTTPFormPoster>(odd)->timeLimitSeconds(), 60.0) << odd;
        for (double kept : {std::numeric_limits<double>::denorm_min(), 0.001, 3600.0, std::numeric_limits<double>::max()})
            EXPECT_EQ(ns::make<HTTPFormPoster>(kept)->timeLimitSeconds(), kept) << kept;
    }
    const double limit = 2.0;
    setFormPoster(ns::make<HTTPFormPoster>(limit));
    // The head of an answer, then its body a byte every 0.1 s: never quiet
    // for as long as the request's own time-out, and never done.
    std::atomic<int> trickled{0};
    testsupport::Server trickling([&](testsupport::Conn& c) {
        if (!c.readRequest()) return;
        if (!c.write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 1000\r\n\r\n")) return;
        for (int i = 0; i < 300 && c.write(" "); ++i) {
            ++trickled;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    fillSignUp();
    pointFormsAt(trickling.url(""));
    auto started = std::chrono::steady_clock::now();
    sendAndExpectFailure("a trickled answer", limit + 25);
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_GE(took, limit);
    EXPECT_GT(trickled.load(), 5);  // the answer was still coming
    EXPECT_TRUE(logged("Form post failed: ")) << appLogLines().back();
    bool toldWhy = false;
    for (auto& line : appLogLines()) toldWhy |= line.find("took longer than 2 s and was given up") != std::string::npos;
    EXPECT_TRUE(toldWhy);

    // The form is usable: sent again to a service that answers in pieces,
    // well within the limit, it is taken.
    testsupport::Server answering([](testsupport::Conn& c) {
        if (!c.readRequest()) return;
        const std::string body = "{\"status\":\"ok\"}";
        c.write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
                "\r\n\r\n");
        for (char ch : body) {
            if (!c.write(std::string(1, ch))) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    pointFormsAt(answering.url(""));
    ASSERT_TRUE(driver->tapButton("Send")) << driver->lastError() << screen();
    ASSERT_TRUE(testsupport::waitUntil([] { return registro() == "1"; })) << screen();
    driver->settle();
    EXPECT_TRUE(screenHas("Got it!")) << screen();
}

TEST_F(FormPostLoopback, APostWhoseFormIsGoneIsStillGivenUpAtItsLimit) {
    setFormPoster(ns::make<HTTPFormPoster>(0.5));
    std::mutex closedMutex;
    std::condition_variable closedChanged;
    bool closed = false;
    testsupport::Server trickling([&](testsupport::Conn& c) {
        if (!c.readRequest()) return;
        c.write("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n");
        for (int i = 0; i < 1200 && c.write(" "); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::lock_guard<std::mutex> g(closedMutex);
        closed = true;
        closedChanged.notify_all();
    });
    auto request = ns::make<FormPostRequest>();
    request->url = trickling.url("/tarnwick/WS/Tarnwick.php");
    request->fields = {{"metodo", "SignUp"}};
    formPoster().post(request);
    // The form goes away at once, and with it what it kept of the post.
    request = nullptr;
    // The post is cancelled at its limit all the same: its connection is
    // let go long before the service would stop on its own (a minute).
    std::unique_lock<std::mutex> g(closedMutex);
    EXPECT_TRUE(closedChanged.wait_for(g, std::chrono::seconds(50), [&] { return closed; }));
}

}  // namespace app::test
