// The Facebook client and sharer. The service is a fake on 127.0.0.1 that
// records each request; the tests take the requests apart themselves
// (query and form pairs percent-decoded, multipart bodies split into their
// parts) instead of comparing texts. Logins run through the dialogs' web
// views, whose redirects the tests follow as the service would send them.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <regex>

#include "net/json/JsonParser.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/PercentEncoding.h"
#include "platform/network/HTTPCookie.h"
#include "platform/network/NetworkErrors.h"
#include "platform/ui/Driver.h"
#include "sharing/core/ImageCoding.h"
#include "sharing/facebook/Facebook.h"
#include "sharing/sharers/facebook/SHRFacebook.h"
#include "sharing/tests/SharingTestSupport.h"
#include "testsupport/LoopbackServer.h"

namespace sharing::test {
namespace {

using Pairs = std::map<std::string, std::string>;

std::string decode(const std::string& s) {
    auto d = ns::removePercentEncoding(s);
    return d ? *d : "<undecodable:" + s + ">";
}

Pairs parsePairs(const std::string& text) {
    Pairs out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t amp = text.find('&', pos);
        std::string piece = text.substr(pos, amp == std::string::npos ? std::string::npos : amp - pos);
        size_t eq = piece.find('=');
        if (eq != std::string::npos) out[decode(piece.substr(0, eq))] = decode(piece.substr(eq + 1));
        if (amp == std::string::npos) break;
        pos = amp + 1;
    }
    return out;
}

Pairs queryOf(const std::string& target) {
    size_t q = target.find('?');
    return q == std::string::npos ? Pairs{} : parsePairs(target.substr(q + 1));
}

struct Part {
    std::map<std::string, std::string> headers;  // lower-case names
    std::string content;
    // A parameter of the Content-Disposition header ("name", "filename").
    std::string disposition(const std::string& param) const {
        auto it = headers.find("content-disposition");
        if (it == headers.end()) return {};
        std::string key = param + "=\"";
        size_t at = it->second.find("; " + key);
        if (at == std::string::npos) return {};
        at += 2 + key.size();
        return it->second.substr(at, it->second.find('"', at) - at);
    }
};

// Splits a multipart body at its boundary lines ("--" + boundary). Fails
// the test on anything that is not a part with headers and content.
std::vector<Part> parseMultipart(const std::string& body, const std::string& boundary) {
    std::vector<Part> parts;
    std::string marker = "--" + boundary;
    if (body.compare(0, marker.size() + 2, marker + "\r\n") != 0) {
        ADD_FAILURE() << "body does not open with the boundary";
        return parts;
    }
    size_t pos = marker.size() + 2;
    while (pos < body.size()) {
        size_t next = body.find("\r\n" + marker, pos);
        if (next == std::string::npos) {
            ADD_FAILURE() << "part without closing boundary";
            break;
        }
        std::string raw = body.substr(pos, next - pos);
        size_t headEnd = raw.find("\r\n\r\n");
        if (headEnd == std::string::npos) {
            ADD_FAILURE() << "part without header end";
            break;
        }
        Part p;
        size_t lp = 0;
        std::string head = raw.substr(0, headEnd);
        while (lp <= head.size()) {
            size_t le = head.find("\r\n", lp);
            std::string line = head.substr(lp, le == std::string::npos ? std::string::npos : le - lp);
            size_t colon = line.find(':');
            if (colon != std::string::npos) {
                std::string name = line.substr(0, colon);
                for (auto& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                p.headers[name] = line.substr(line.find_first_not_of(' ', colon + 1));
            }
            if (le == std::string::npos) break;
            lp = le + 2;
        }
        p.content = raw.substr(headEnd + 4);
        parts.push_back(p);
        pos = next + 2 + marker.size();
        if (body.compare(pos, 2, "\r\n") == 0) pos += 2;
        else break;
    }
    return parts;
}

// The fake service: records every request and answers with the body set
// for its path (200 and "{}" when none).
class FakeFacebook {
public:
    FakeFacebook()
        : server_([this](testsupport::Conn& c) {
              while (auto r = c.readRequest()) {
                  std::string path = r->target.substr(0, r->target.find('?'));
                  std::pair<int, std::string> reply{200, "{}"};
                  {
                      std::lock_guard<std::mutex> g(mutex_);
                      requests_.push_back(*r);
                      if (auto it = replies_.find(path); it != replies_.end()) reply = it->second;
                  }
                  if (!c.respond(reply.first, reply.second, "Content-Type: text/javascript\r\n")) break;
              }
          }) {
        endpoints_.point(Facebook::kDialogService, server_.url("/dialog/"));
        endpoints_.point({Facebook::kGraphService, Facebook::kLoginSiteService}, server_.url("/"));
        endpoints_.point(Facebook::kRestService, server_.url("/method/"));
    }
    ~FakeFacebook() { server_.stop(); }
    void reply(const std::string& path, const std::string& body, int status = 200) {
        std::lock_guard<std::mutex> g(mutex_);
        replies_[path] = {status, body};
    }
    std::vector<testsupport::Request> requests() {
        std::lock_guard<std::mutex> g(mutex_);
        return requests_;
    }
    std::string url(const std::string& path) const { return server_.url(path); }

private:
    std::mutex mutex_;
    std::vector<testsupport::Request> requests_;
    EndpointOverrides endpoints_;
    std::map<std::string, std::pair<int, std::string>> replies_;
    testsupport::Server server_;
};

// Records what a request, a dialog or a session tells its delegate.
class Recorder : public ns::Object, public FBRequestDelegate, public FBDialogDelegate, public FBSessionDelegate {
public:
    bool answersLoad = true, answersFail = true;
    bool openOutside = true;
    std::vector<std::string> events;
    ns::Ref<ns::Object> result;
    ns::Ref<ns::Error> error;
    bool answers(FBRequestDelegate::Optional op) const override {
        return op == FBRequestDelegate::Optional::requestDidLoad ? answersLoad : answersFail;
    }
    void requestLoading(FBRequest*) override { events.push_back("loading"); }
    void requestDidReceiveResponse(FBRequest*, const net::HTTPURLResponse&) override { events.push_back("response"); }
    void requestDidLoadRawResponse(FBRequest*, ns::Data*) override { events.push_back("raw"); }
    void requestDidLoad(FBRequest*, ns::Object* r) override {
        events.push_back("load");
        result = ns::Ref<ns::Object>(r);
    }
    void requestDidFailWithError(FBRequest*, ns::Error* e) override {
        events.push_back("fail");
        error = ns::Ref<ns::Error>(e);
    }
    void dialogDidComplete(FBDialog*) override { events.push_back("dialogDidComplete"); }
    void dialogCompleteWithUrl(ns::URL* u) override { events.push_back("completeWithUrl:" + u->absoluteText()); }
    void dialogDidNotCompleteWithUrl(ns::URL* u) override {
        events.push_back(std::string("notCompleteWithUrl:") + (u ? u->absoluteText() : "nil"));
    }
    void dialogDidNotComplete(FBDialog*) override { events.push_back("dialogDidNotComplete"); }
    void dialogDidFailWithError(FBDialog*, ns::Error* e) override {
        events.push_back("dialogFail");
        error = ns::Ref<ns::Error>(e);
    }
    bool dialogShouldOpenURLInExternalBrowser(FBDialog*, ns::URL*) override { return openOutside; }
    void fbDidLogin() override { events.push_back("fbDidLogin"); }
    void fbDidNotLogin(bool cancelled) override { events.push_back(cancelled ? "fbDidNotLogin:cancelled" : "fbDidNotLogin"); }
    void fbDidLogout() override { events.push_back("fbDidLogout"); }
    void fbSessionInvalidated() override { events.push_back("fbSessionInvalidated"); }
    bool saw(const std::string& e) const { return std::find(events.begin(), events.end(), e) != events.end(); }
};

ns::Ref<ns::Data> bytes(std::string_view s) { return ns::Data::make(s); }

// -- Reply rules and URLs (no network) ------------------------------------------------

TEST(FBRequestParse, ReplyRules) {
    ns::Ref<ns::Error> error;
    auto r = FBRequest::parseJsonResponse(*bytes("true"), &error);
    ASSERT_TRUE(r);
    EXPECT_FALSE(error);
    ASSERT_TRUE(ns::as<ns::Dictionary>(r.get()));
    EXPECT_EQ(ns::describe(ns::as<ns::Dictionary>(r.get())->stringForKey("result")), "true");

    r = FBRequest::parseJsonResponse(*bytes("false"), &error);
    EXPECT_FALSE(r);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), "facebookErrDomain");
    EXPECT_EQ(error->code(), 10000);
    EXPECT_EQ(ns::describe(error->userInfo()->stringForKey("error_msg")), "This operation can not be completed");

    r = FBRequest::parseJsonResponse(*bytes("[1,{\"a\":2}]"), &error);
    ASSERT_TRUE(r);
    EXPECT_FALSE(error);
    ASSERT_TRUE(ns::as<ns::Array>(r.get()));
    EXPECT_EQ(ns::as<ns::Array>(r.get())->count(), 2u);

    r = FBRequest::parseJsonResponse(*bytes("{\"error\":{\"type\":\"OAuthException\",\"message\":\"m\"}}"), &error);
    EXPECT_FALSE(r);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), 10000);
    EXPECT_TRUE(error->userInfo()->dictionaryForKey("error"));

    r = FBRequest::parseJsonResponse(*bytes("{\"error_code\":190,\"error_msg\":\"expired\"}"), &error);
    EXPECT_FALSE(r);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), 190);
    EXPECT_EQ(ns::describe(error->userInfo()->stringForKey("error_msg")), "expired");

    r = FBRequest::parseJsonResponse(*bytes("{\"error_code\":\"612\"}"), &error);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), 612);

    // A result that carries an error message still fails.
    for (const char* key : {"error_msg", "error_reason"}) {
        r = FBRequest::parseJsonResponse(*bytes(std::string("{\"id\":\"1\",\"") + key + "\":\"no\"}"), &error);
        ASSERT_TRUE(r) << key;
        ASSERT_TRUE(error) << key;
        EXPECT_EQ(error->code(), 10000);
    }

    r = FBRequest::parseJsonResponse(*bytes("{\"id\":\"42\"}"), &error);
    ASSERT_TRUE(r);
    EXPECT_FALSE(error);

    // Not JSON: neither a result nor an error (the caller hands on the bytes).
    r = FBRequest::parseJsonResponse(*bytes("<html>"), &error);
    EXPECT_FALSE(r);
    EXPECT_FALSE(error);
}

// A POST body: the text pairs first, then every file (an image as PNG, bytes
// as they are), each in the order the parameters were set.
TEST(FBRequestParse, PostBodyParts) {
    auto params = ns::MutableDictionary::make();
    params->setObject(ui::Image::make("pic", {4, 3}), "picture");
    params->setObject(ns::str("h\xC3\xA9llo \xE2\x9C\x93"), "message");
    params->setObject(ns::Data::make(std::string("raw\0bytes", 9)), "source");
    params->setObject(ns::str(""), "empty");
    auto body = FBRequest::generatePostBody(params.get());
    ASSERT_TRUE(body);
    auto parts = parseMultipart(std::string(body->view()), kFBStringBoundary);
    ASSERT_EQ(parts.size(), 4u);
    EXPECT_EQ(parts[0].disposition("name"), "message");
    EXPECT_EQ(parts[0].content, "h\xC3\xA9llo \xE2\x9C\x93");
    EXPECT_EQ(parts[1].disposition("name"), "empty");
    EXPECT_EQ(parts[1].content, "");
    EXPECT_EQ(parts[2].disposition("filename"), "picture");
    EXPECT_EQ(parts[2].headers["content-type"], "image/png");
    auto image = imageWithData(parts[2].content);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->name(), "pic");
    EXPECT_EQ(image->size().width, 4);
    EXPECT_EQ(parts[3].disposition("filename"), "source");
    EXPECT_EQ(parts[3].headers["content-type"], "content/unknown");
    EXPECT_EQ(parts[3].content, std::string("raw\0bytes", 9));

    auto none = FBRequest::generatePostBody(nullptr);
    ASSERT_TRUE(none);
    EXPECT_EQ(none->view(), std::string("--") + kFBStringBoundary + "\r\n");
}

TEST(FBRequestParse, SerializedURLs) {
    auto params = ns::MutableDictionary::make();
    params->setObject(ns::str("a&b=c d/é"), "q");
    params->setObject(ui::Image::make("pic", {4, 4}), "picture");
    std::string get = FBRequest::serializeURL("https://x.test/p", params.get());
    EXPECT_EQ(get.find("picture"), std::string::npos);
    auto url = ns::URL::URLWithString(get);
    ASSERT_TRUE(url);
    Pairs q = parsePairs(std::string(url->query()->utf8()));
    EXPECT_EQ(q.size(), 1u);
    EXPECT_EQ(q["q"], "a&b=c d/é");

    // A base with a query gets "&"; an empty set still gets the separator.
    EXPECT_EQ(FBRequest::serializeURL("https://x.test/p?x=1", ns::MutableDictionary::make().get()), "https://x.test/p?x=1&");
    EXPECT_EQ(FBRequest::serializeURL("https://x.test/p", ns::MutableDictionary::make().get()), "https://x.test/p?");
    EXPECT_EQ(FBRequest::serializeURL("https://x.test/p", nullptr), "https://x.test/p?");  // no set at all
    std::string withQuery = FBRequest::serializeURL("https://x.test/p?x=1", params.get(), "POST");
    EXPECT_EQ(queryOf(withQuery)["x"], "1");
    EXPECT_EQ(queryOf(withQuery)["q"], "a&b=c d/é");
    // A file never goes into the address; a GET that has one says it cannot
    // upload it, a POST sends it in its body and says nothing.
    for (const char* method : {"GET", "POST"}) {
        testing::internal::CaptureStderr();
        std::string text = FBRequest::serializeURL("https://x.test/p", params.get(), method);
        std::string log = testing::internal::GetCapturedStderr();
        EXPECT_EQ(text.find("picture"), std::string::npos) << method;
        EXPECT_EQ(log.find("can not use GET to upload a file") != std::string::npos, std::string(method) == "GET")
            << method << ": " << log;
    }

    EXPECT_EQ(FBDialog::generateURL("https://x.test/d", nullptr), "https://x.test/d");
    EXPECT_EQ(FBDialog::getStringFromUrl("x://y?a=1&error_msg=bad%20thing&z=2", "error_msg=")->utf8(), "bad thing");
    EXPECT_FALSE(FBDialog::getStringFromUrl("x://y?a=1", "error_code="));

    auto parsed = Facebook::parseURLParams("access_token=a%2Fb&lonely&expires_in=0");
    EXPECT_EQ(ns::describe(parsed->stringForKey("access_token")), "a/b");
    EXPECT_EQ(ns::describe(parsed->stringForKey("expires_in")), "0");
    EXPECT_FALSE(parsed->objectForKey("lonely"));
}

// -- Requests against the fake --------------------------------------------------------------

class FacebookTest : public SharingTest {
protected:
    void SetUp() override {
        SharingTest::SetUp();
        SHRFacebook::resetSharedClient();
        fb = Facebook::initWithAppIdAndDelegate(ns::str("777"), nullptr);
        rec = ns::make<Recorder>();
    }
    void TearDown() override {
        fb = nullptr;
        SHRFacebook::resetSharedClient();
        SharingTest::TearDown();
    }
    void login(const char* token = "tok en") {
        fb->setAccessToken(ns::str(token));
        fb->setExpirationDate(ns::Date::dateWithTimeIntervalSinceReferenceDate(
            ns::Date::date()->timeIntervalSinceReferenceDate() + 3600));
    }
    FakeFacebook service;
    ns::Ref<Facebook> fb;
    ns::Ref<Recorder> rec;
};

TEST_F(FacebookTest, GraphPostSendsTextParamsInQueryAndImageAsMultipartPart) {
    login();
    service.reply("/me/photos", "{\"id\":\"99\",\"post_id\":\"1_2\"}");
    auto params = ns::MutableDictionary::make();
    params->setObject(ns::str("Hello & welcome"), "message");
    params->setObject(ui::Image::make("card", {20, 10}), "picture");
    params->setObject(ns::Data::make(std::string_view("\x00\x01raw", 5)), "blob");
    auto request = fb->requestWithGraphPath("me/photos", params, "POST", rec.get());
    ASSERT_TRUE(request);
    EXPECT_EQ(request->state(), kFBRequestStateLoading);
    EXPECT_EQ(fb->requestsInFlight(), 1u);
    ASSERT_TRUE(runUntil([&] { return rec->saw("load") || rec->saw("fail"); }));
    EXPECT_EQ(rec->events, (std::vector<std::string>{"loading", "response", "raw", "load"}));
    ASSERT_TRUE(ns::as<ns::Dictionary>(rec->result.get()));
    EXPECT_EQ(ns::describe(ns::as<ns::Dictionary>(rec->result.get())->stringForKey("id")), "99");
    EXPECT_EQ(request->state(), kFBRequestStateComplete);
    EXPECT_EQ(fb->requestsInFlight(), 0u);
    EXPECT_FALSE(request->loading());

    auto seen = service.requests();
    ASSERT_EQ(seen.size(), 1u);
    const auto& r = seen[0];
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.target.substr(0, r.target.find('?')), "/me/photos");
    EXPECT_EQ(r.header("User-Agent"), "FacebookConnect");
    EXPECT_EQ(r.header("Content-Type"), std::string("multipart/form-data; boundary=") + kFBStringBoundary);
    Pairs q = queryOf(r.target);
    EXPECT_EQ(q["message"], "Hello & welcome");
    EXPECT_EQ(q["format"], "json");
    EXPECT_EQ(q["sdk"], "ios");
    EXPECT_EQ(q["sdk_version"], "2");
    EXPECT_EQ(q["access_token"], "tok en");
    EXPECT_EQ(q.count("picture"), 0u);

    auto parts = parseMultipart(r.body, kFBStringBoundary);
    std::map<std::string, const Part*> byName, byFile;
    for (auto& p : parts) {
        if (!p.disposition("name").empty()) byName[p.disposition("name")] = &p;
        if (!p.disposition("filename").empty()) byFile[p.disposition("filename")] = &p;
    }
    ASSERT_TRUE(byName.count("message"));
    EXPECT_EQ(byName["message"]->content, "Hello & welcome");
    EXPECT_EQ(byName["access_token"]->content, "tok en");
    ASSERT_TRUE(byFile.count("picture"));
    EXPECT_EQ(byFile["picture"]->headers.at("content-type"), "image/png");
    auto image = imageWithData(byFile["picture"]->content);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size().width, 20);
    ASSERT_TRUE(byFile.count("blob"));
    EXPECT_EQ(byFile["blob"]->headers.at("content-type"), "content/unknown");
    EXPECT_EQ(byFile["blob"]->content, std::string("\x00\x01raw", 5));
    // Text parts come before the files.
    EXPECT_FALSE(parts.back().disposition("filename").empty());
}

TEST_F(FacebookTest, RestRequestNeedsMethodAndErrorCodeEndsTheSession) {
    EXPECT_FALSE(fb->requestWithParams(ns::MutableDictionary::make(), rec.get()));
    EXPECT_TRUE(service.requests().empty());

    login();
    fb->setSessionDelegate(rec.get());
    auto site = ns::URL::URLWithString(service.url("/"));
    auto cookie = net::HTTPCookie::make("c_user", "1", "127.0.0.1");
    ASSERT_TRUE(cookie);
    net::HTTPCookieStorage::sharedHTTPCookieStorage().setCookie(cookie);
    ASSERT_FALSE(net::HTTPCookieStorage::sharedHTTPCookieStorage().cookiesForURL(*site).empty());

    service.reply("/method/stream.publish", "{\"error_code\":190,\"error_msg\":\"Session expired\"}");
    auto params = ns::MutableDictionary::make();
    params->setObject(ns::str("stream.publish"), "method");
    params->setObject(ns::str("hi"), "message");
    auto request = fb->requestWithParams(params, rec.get());
    ASSERT_TRUE(request);
    ASSERT_TRUE(runUntil([&] { return rec->saw("fail"); }));
    EXPECT_FALSE(rec->saw("load"));
    ASSERT_TRUE(rec->error);
    EXPECT_EQ(rec->error->domain(), "facebookErrDomain");
    EXPECT_EQ(rec->error->code(), 190);
    EXPECT_EQ(request->state(), kFBRequestStateError);
    EXPECT_TRUE(rec->saw("fbSessionInvalidated"));
    EXPECT_FALSE(fb->accessToken());
    EXPECT_FALSE(fb->isSessionValid());
    EXPECT_TRUE(net::HTTPCookieStorage::sharedHTTPCookieStorage().cookiesForURL(*site).empty());

    auto seen = service.requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].method, "GET");
    Pairs q = queryOf(seen[0].target);
    EXPECT_EQ(q.count("method"), 0u);
    EXPECT_EQ(q["message"], "hi");
    EXPECT_EQ(q["access_token"], "tok en");
}

TEST_F(FacebookTest, RepliesReachTheDelegateByTheRules) {
    struct Case { const char* body; const char* event; };
    service.reply("/true", "true");
    service.reply("/false", "false");
    service.reply("/array", "[{\"id\":1}]");
    service.reply("/html", "<html>hi</html>");
    service.reply("/reason", "{\"error_reason\":\"user_denied\"}");
    service.reply("/me", "{\"error\":{\"message\":\"bad\"}}");
    // A status the service did not accept with fails whatever the body holds.
    service.reply("/gone", "<html>not found</html>", 404);
    service.reply("/busy", "{}", 503);
    service.reply("/busytrue", "true", 500);
    // The reply limit, at and one past.
    service.reply("/huge", std::string(FBRequest::kMaxReplyBytes, 'x'));
    service.reply("/huger", std::string(FBRequest::kMaxReplyBytes + 1, 'x'));
    for (auto [path, outcome] : std::vector<std::pair<std::string, std::string>>{
             {"true", "load"}, {"false", "fail"}, {"array", "load"}, {"html", "load"}, {"reason", "fail"}, {"me", "fail"},
             {"gone", "fail"}, {"busy", "fail"}, {"busytrue", "fail"}, {"huge", "load"}, {"huger", "fail"}}) {
        rec = ns::make<Recorder>();
        login();
        fb->requestWithGraphPath(path, rec.get());
        ASSERT_TRUE(runUntil([&] { return rec->saw("load") || rec->saw("fail"); })) << path;
        EXPECT_TRUE(rec->saw(outcome)) << path;
        if (path == "true") {
            auto* result = ns::as<ns::Dictionary>(rec->result.get());
            ASSERT_TRUE(result);
            EXPECT_EQ(ns::describe(result->stringForKey("result")), "true");
        }
        if (path == "array") {
            EXPECT_TRUE(ns::as<ns::Array>(rec->result.get()));
        }
        if (path == "html") {
            auto* raw = ns::as<ns::Data>(rec->result.get());
            ASSERT_TRUE(raw);
            EXPECT_EQ(raw->view(), "<html>hi</html>");
        }
        if (outcome == "fail") {
            EXPECT_FALSE(fb->isSessionValid()) << path;
        }
        if (path == "huge") {
            auto* raw = ns::as<ns::Data>(rec->result.get());
            ASSERT_TRUE(raw);
            EXPECT_EQ(raw->length(), FBRequest::kMaxReplyBytes);
        }
        if (path == "huger") {
            ASSERT_TRUE(rec->error);
            EXPECT_EQ(rec->error->localizedDescription(), "The reply is too large.");
        }
        if (path == "busy") {
            ASSERT_TRUE(rec->error);
            EXPECT_EQ(rec->error->domain(), "facebookErrDomain");
            ASSERT_TRUE(rec->error->userInfo());
            EXPECT_EQ(ns::describe(rec->error->userInfo()->objectForKey("http_status")), "503");
            EXPECT_FALSE(rec->result);
        }
    }
    // A delegate that takes neither outcome hears nothing more after the raw bytes.
    rec = ns::make<Recorder>();
    rec->answersLoad = rec->answersFail = false;
    auto request = fb->requestWithGraphPath("false", rec.get());
    ASSERT_TRUE(runUntil([&] { return request->state() == kFBRequestStateComplete; }));
    EXPECT_EQ(rec->events.back(), "raw");
}

TEST_F(FacebookTest, ConnectionFailureIsReportedAndEndsTheSession) {
    // Nothing listens on the graph base now.
    endpoints.point(Facebook::kGraphService, "http://127.0.0.1:1/");
    login();
    auto request = fb->requestWithGraphPath("me", rec.get());
    ASSERT_TRUE(runUntil([&] { return rec->saw("fail"); }));
    EXPECT_EQ(request->state(), kFBRequestStateError);
    EXPECT_NE(rec->error->domain(), "facebookErrDomain");
    EXPECT_FALSE(fb->isSessionValid());
}

// -- Login and dialogs through the web view ----------------------------------------------------

TEST_F(FacebookTest, LoginDialogSuccessStoresTokenAndExpiry) {
    fb->setSessionDelegate(rec.get());
    fb->setPermissions(ns::Array::make({ns::str("publish_stream"), ns::str("offline_access")}));
    fb->authorizeWithFBAppAuthSafariAuth(false, false);
    ui::Driver driver(clock);
    auto* dialog = fb->loginDialog();
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(dialog->isShowing());
    EXPECT_EQ(driver.visibleWebView(), dialog->webView());
    auto url = ns::URL::URLWithString(dialog->loadingURL());
    ASSERT_TRUE(url);
    EXPECT_EQ(ns::describe(url->path()), "/dialog/oauth");
    Pairs q = queryOf(dialog->loadingURL());
    EXPECT_EQ(q["client_id"], "777");
    EXPECT_EQ(q["redirect_uri"], "fbconnect://success");
    EXPECT_EQ(q["type"], "user_agent");
    EXPECT_EQ(q["display"], "touch");
    EXPECT_EQ(q["scope"], "publish_stream,offline_access");
    driver.advance(1);
    EXPECT_FALSE(dialog->spinner()->isAnimating());

    // The page's redirect after a successful login.
    double before = ns::Date::date()->timeIntervalSinceReferenceDate();
    driver.visibleWebView()->followURL(ns::URL::URLWithString("fbconnect://success#access_token=AB%2FC&expires_in=3600"),
                                       ui::WebViewNavigationType::Other);
    EXPECT_EQ(rec->events, (std::vector<std::string>{"fbDidLogin"}));
    EXPECT_EQ(ns::describe(fb->accessToken()), "AB/C");
    double in = fb->expirationDate()->timeIntervalSinceReferenceDate() - before;
    EXPECT_GE(in, 3599);
    EXPECT_LE(in, 3700);
    EXPECT_TRUE(fb->isSessionValid());
    driver.advance(0.5);
    EXPECT_FALSE(dialog->isShowing());
    EXPECT_EQ(driver.visibleWebView(), nullptr);
}

TEST_F(FacebookTest, LoginDialogCancelAndMissingExpiry) {
    fb->setSessionDelegate(rec.get());
    fb->authorizeWithFBAppAuthSafariAuth(false, false);
    ui::Driver driver(clock);
    ASSERT_TRUE(driver.tapButton("Close"));
    EXPECT_EQ(rec->events, (std::vector<std::string>{"fbDidNotLogin:cancelled"}));
    EXPECT_FALSE(fb->accessToken());
    // While it fades out, a late redirect or a second tap changes nothing.
    fb->loginDialog()->webView()->followURL(ns::URL::URLWithString("fbconnect://success#access_token=late"),
                                            ui::WebViewNavigationType::Other);
    fb->loginDialog()->cancel();
    EXPECT_EQ(rec->events, (std::vector<std::string>{"fbDidNotLogin:cancelled"}));
    EXPECT_FALSE(fb->accessToken());
    driver.advance(0.5);

    // The cancel redirect without an error code cancels as well.
    rec->events.clear();
    fb->dialog("oauth", nullptr);
    driver.visibleWebView()->followURL(ns::URL::URLWithString("fbconnect://cancel"), ui::WebViewNavigationType::Other);
    EXPECT_EQ(rec->events, (std::vector<std::string>{"fbDidNotLogin:cancelled"}));
    driver.advance(0.5);

    // A token without "expires_in" logs in without a valid session.
    rec->events.clear();
    fb->dialog("oauth", nullptr);
    driver.visibleWebView()->followURL(ns::URL::URLWithString("fbconnect://success#access_token=T"),
                                       ui::WebViewNavigationType::Other);
    EXPECT_EQ(rec->events, (std::vector<std::string>{"fbDidLogin"}));
    EXPECT_EQ(ns::describe(fb->accessToken()), "T");
    EXPECT_FALSE(fb->expirationDate());
    EXPECT_FALSE(fb->isSessionValid());
}

TEST_F(FacebookTest, DialogErrorRedirectLinksAndSuccess) {
    ui::Driver driver(clock);
    login("a%2Bb");
    auto params = ns::MutableDictionary::make();
    params->setObject(ns::str("http://x.test/?a=1&b=2"), "link");
    fb->dialog("feed", params, rec.get());
    auto* dialog = fb->fbDialog();
    ASSERT_TRUE(dialog);
    Pairs q = queryOf(dialog->loadingURL());
    EXPECT_EQ(q["link"], "http://x.test/?a=1&b=2");
    EXPECT_EQ(q["app_id"], "777");
    EXPECT_EQ(q["sdk"], "2");
    EXPECT_EQ(q["access_token"], "a+b");
    EXPECT_EQ(q["redirect_uri"], "fbconnect://success");

    // A tapped link opens outside and is not loaded here.
    auto loads = dialog->webView()->loadCount();
    EXPECT_FALSE(dialog->webView()->followURL(ns::URL::URLWithString("http://elsewhere.test/page")));
    EXPECT_EQ(ui::Application::shared()->openedURLs().back(), "http://elsewhere.test/page");
    rec->openOutside = false;
    EXPECT_FALSE(dialog->webView()->followURL(ns::URL::URLWithString("http://elsewhere.test/two")));
    EXPECT_EQ(ui::Application::shared()->openedURLs().back(), "http://elsewhere.test/page");
    EXPECT_EQ(dialog->webView()->loadCount(), loads);
    // Other navigation inside the dialog loads.
    EXPECT_TRUE(dialog->webView()->followURL(ns::URL::URLWithString(service.url("/dialog/next")),
                                             ui::WebViewNavigationType::FormSubmitted));

    // "//cancel" with an error code is an error, not a cancel.
    dialog->webView()->followURL(ns::URL::URLWithString("fbconnect://cancel?error_code=210&error_msg=Not%20allowed"),
                                 ui::WebViewNavigationType::Other);
    EXPECT_EQ(rec->events, (std::vector<std::string>{"dialogFail"}));
    EXPECT_EQ(rec->error->domain(), "facebookErrDomain");
    EXPECT_EQ(rec->error->code(), 210);
    EXPECT_EQ(ns::describe(rec->error->userInfo()->stringForKey("error_msg")), "Not allowed");
    driver.advance(0.5);
    EXPECT_FALSE(dialog->isShowing());

    rec->events.clear();
    fb->dialog("feed", rec.get());
    fb->fbDialog()->webView()->followURL(ns::URL::URLWithString("fbconnect://success?post_id=1_2"),
                                         ui::WebViewNavigationType::Other);
    EXPECT_EQ(rec->events,
              (std::vector<std::string>{"completeWithUrl:fbconnect://success?post_id=1_2", "dialogDidComplete"}));
}

TEST_F(FacebookTest, LoginPageThatFailsToLoadIsALoginError) {
    fb->setSessionDelegate(rec.get());
    fb->authorizeWithFBAppAuthSafariAuth(false, false);
    ASSERT_TRUE(fb->loginDialog());
    EXPECT_TRUE(rec->events.empty());
    // The login page does not load: the service cannot be reached.
    ui::WebView* page = fb->loginDialog()->webView();
    page->delegate()->webViewDidFailLoadWithError(
        page, ns::Error::withDescription(net::kNetworkErrorDomain, net::kErrorCannotConnectToHost, "unreachable").get());
    EXPECT_EQ(rec->events, (std::vector<std::string>{"fbDidNotLogin"}));
    ui::Driver driver(clock);
    driver.advance(0.5);
    EXPECT_FALSE(fb->loginDialog()->isShowing());
}

TEST_F(FacebookTest, DialogLayoutFollowsIdiomAndOrientation) {
    ui::Device::current()->setUserInterfaceIdiom(ui::UserInterfaceIdiom::Pad);
    fb->dialog("feed", rec.get());
    auto* dialog = fb->fbDialog();
    ui::Rect app = ui::Screen::main()->applicationFrame();
    EXPECT_NEAR(dialog->frame().size.width, std::floor(app.size.width * 0.6), 1);
    EXPECT_NEAR(dialog->frame().size.height, std::floor(app.size.height * 0.6), 1);
    EXPECT_EQ(dialog->webView()->frame().origin.x, 11);
    EXPECT_EQ(dialog->webView()->frame().size.width, dialog->frame().size.width - 22);
    EXPECT_EQ(dialog->webView()->frame().size.height, dialog->frame().size.height - 21);
    ASSERT_FALSE(dialog->webView()->evaluatedScripts().empty());
    EXPECT_EQ(dialog->webView()->evaluatedScripts().back(), "document.body.removeAttribute('orientation');");

    // While the keyboard is up the dialog does not turn.
    ns::NotificationCenter::defaultCenter()->postNotification(ui::kKeyboardWillShowNotification);
    ui::Driver driver(clock);
    driver.rotate(ui::DeviceOrientation::LandscapeLeft);
    driver.settle();
    EXPECT_EQ(dialog->orientation(), ui::InterfaceOrientation::Portrait);
    ns::NotificationCenter::defaultCenter()->postNotification(ui::kKeyboardWillHideNotification);
    driver.rotate(ui::DeviceOrientation::Portrait);
    driver.settle();
    driver.rotate(ui::DeviceOrientation::LandscapeLeft);
    driver.settle();
    driver.advance(0.5);
    ASSERT_NE(ui::Application::shared()->statusBarOrientation(), ui::InterfaceOrientation::Portrait);
    {
        EXPECT_EQ(dialog->orientation(), ui::Application::shared()->statusBarOrientation());
        EXPECT_FALSE(dialog->transform().isIdentity());
        EXPECT_EQ(dialog->webView()->evaluatedScripts().back(), "document.body.setAttribute('orientation', 90);");
    }
    dialog->cancel();
    driver.advance(0.5);
    EXPECT_FALSE(dialog->isShowing());
    // Gone from the window, it no longer listens.
    driver.rotate(ui::DeviceOrientation::Portrait);
    driver.settle();
    driver.advance(0.5);

    // On a phone turned sideways the page takes 10 more points on every side
    // while the keyboard is up, and gives them back when it goes.
    ui::Device::current()->setUserInterfaceIdiom(ui::UserInterfaceIdiom::Phone);
    driver.rotate(ui::DeviceOrientation::LandscapeLeft);
    driver.settle();
    driver.advance(0.5);
    fb->dialog("feed", rec.get());
    auto* phone = fb->fbDialog();
    ASSERT_TRUE(phone);
    ASSERT_NE(phone->orientation(), ui::InterfaceOrientation::Portrait);
    struct Row {
        const char* name;
        const char* notification;
        double inset;
    } rows[] = {{"before the keyboard", nullptr, 11},
                {"keyboard up", ui::kKeyboardWillShowNotification, 1},
                {"keyboard gone", ui::kKeyboardWillHideNotification, 11}};
    for (const auto& r : rows) {
        if (r.notification) ns::NotificationCenter::defaultCenter()->postNotification(r.notification);
        ui::Rect page = phone->webView()->frame(), whole = phone->frame();
        EXPECT_EQ(page.origin.x, r.inset) << r.name;
        EXPECT_EQ(page.origin.y, r.inset) << r.name;
        EXPECT_EQ(page.size.width, whole.size.width - 2 * r.inset) << r.name;
        EXPECT_EQ(page.size.height, whole.size.height - 21 + 2 * (11 - r.inset)) << r.name;
    }
    phone->cancel();
    driver.advance(0.5);
}

TEST_F(FacebookTest, OutsideLoginAnswers) {
    fb->setSessionDelegate(rec.get());
    fb->authorize(ns::Array::make({ns::str("publish_stream")}));
    // A multitasking device tries the Facebook app first.
    auto opened = ui::Application::shared()->openedURLs();
    ASSERT_FALSE(opened.empty());
    EXPECT_EQ(opened.back().rfind("fbauth://authorize?", 0), 0u);
    EXPECT_EQ(queryOf(opened.back())["scope"], "publish_stream");
    EXPECT_FALSE(fb->loginDialog());

    EXPECT_EQ(fb->getOwnBaseUrl(), "fb777://authorize");
    EXPECT_FALSE(fb->handleOpenURL(ns::URL::URLWithString("fb778://authorize#access_token=x").get()));
    EXPECT_TRUE(fb->handleOpenURL(ns::URL::URLWithString("fb777://authorize#access_token=x&expires_in=0").get()));
    EXPECT_EQ(rec->events.back(), "fbDidLogin");
    EXPECT_GT(fb->expirationDate()->timeIntervalSinceReferenceDate(), 1e10);  // never expires
    EXPECT_TRUE(fb->isSessionValid());

    EXPECT_TRUE(fb->handleOpenURL(ns::URL::URLWithString("fb777://authorize?access_token=y").get()));
    EXPECT_EQ(ns::describe(fb->accessToken()), "y");
    EXPECT_TRUE(fb->isSessionValid());
    // An empty token is no login: the session keeps the one it has.
    fb->handleOpenURL(ns::URL::URLWithString("fb777://authorize#access_token=&expires_in=3600").get());
    EXPECT_EQ(rec->events.back(), "fbDidNotLogin:cancelled");
    EXPECT_EQ(ns::describe(fb->accessToken()), "y");

    fb->handleOpenURL(ns::URL::URLWithString("fb777://authorize#error=access_denied&error_code=200").get());
    EXPECT_EQ(rec->events.back(), "fbDidNotLogin:cancelled");
    fb->handleOpenURL(ns::URL::URLWithString("fb777://authorize#error=other&error_code=1").get());
    EXPECT_EQ(rec->events.back(), "fbDidNotLogin");
    fb->handleOpenURL(ns::URL::URLWithString("fb777://authorize#error=whatever").get());
    EXPECT_EQ(rec->events.back(), "fbDidNotLogin:cancelled");

    // "service_disabled" falls back to the in-app dialog.
    fb->handleOpenURL(ns::URL::URLWithString("fb777://authorize#error=service_disabled").get());
    ASSERT_TRUE(fb->loginDialog());
    EXPECT_TRUE(fb->loginDialog()->isShowing());

    fb->logout();
    EXPECT_EQ(rec->events.back(), "fbDidLogout");
    EXPECT_FALSE(fb->isSessionValid());
}

// -- The sharer -----------------------------------------------------------------------------

class SHRFacebookTest : public SharingTest {
protected:
    void SetUp() override {
        SharingTest::SetUp();
        SHRFacebook::resetSharedClient();
    }
    void TearDown() override {
        SHRFacebook::resetSharedClient();
        SharingTest::TearDown();
    }
    static void storeToken(const char* token) {
        auto d = ns::UserDefaults::standardUserDefaults();
        d->setObjectForKey(ns::str(token), kSHRFacebookAccessToken);
        d->setObjectForKey(ns::Date::dateWithTimeIntervalSinceReferenceDate(
                               ns::Date::date()->timeIntervalSinceReferenceDate() + 3600),
                           kSHRFacebookExpiryDate);
    }
    FakeFacebook service;
    NotificationRecorder notes;
};

TEST_F(SHRFacebookTest, ImageShareWhileLoggedOutParksTheItemAndSendsItAfterLogin) {
    service.reply("/me/photos", "{\"id\":\"7\",\"post_id\":\"1_7\"}");
    auto shared = SHRFacebook::shareItem(SHRItem::image(ui::Image::make("card", {30, 20}), ns::str("A card")));
    EXPECT_TRUE(shared->isHeld());
    auto defaults = ns::UserDefaults::standardUserDefaults();
    auto stored = defaults->dictionaryForKey(kSHRStoredItem);
    ASSERT_TRUE(stored);
    ASSERT_TRUE(stored->stringForKey("imagePath"));
    std::string path(stored->stringForKey("imagePath")->utf8());
    EXPECT_EQ(std::filesystem::path(path).parent_path(), std::filesystem::path(ns::Paths::cachesDirectory()) / "SHRImage");
    EXPECT_TRUE(std::regex_match(std::filesystem::path(path).filename().string(), std::regex("img-[0-9]+--?[0-9]+")))
        << path;
    ASSERT_TRUE(std::filesystem::exists(path));
    EXPECT_TRUE(imageWithData(*ns::readFile(path)));
    auto opened = ui::Application::shared()->openedURLs();
    ASSERT_FALSE(opened.empty());
    EXPECT_EQ(queryOf(opened.back())["scope"], "publish_stream,offline_access");

    // The answer of the outside login; the same sharer resumes the share.
    ns::Weak<SHRFacebook> weak(shared.get());
    shared = nullptr;
    ASSERT_TRUE(weak.lock()) << "the sharer keeps itself during the login";
    std::string answer = "fb" + SHRFacebook::applicationId() + "://authorize#access_token=TOKEN&expires_in=7200";
    ASSERT_TRUE(SHRFacebook::handleOpenURL(ns::URL::URLWithString(answer).get()));
    EXPECT_EQ(ns::describe(defaults->stringForKey(kSHRFacebookAccessToken)), "TOKEN");
    EXPECT_TRUE(ns::cast<ns::Date>(defaults->objectForKey(kSHRFacebookExpiryDate)));
    EXPECT_FALSE(defaults->objectForKey(kSHRStoredItem));
    EXPECT_FALSE(std::filesystem::exists(path));

    EXPECT_TRUE(runUntil([&] {
        return std::find(notes.names.begin(), notes.names.end(), SHRSendDidFinishNotification) != notes.names.end();
    })) << ::testing::PrintToString(notes.names) << alerts().size();
    auto seen = service.requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].target.substr(0, seen[0].target.find('?')), "/me/photos");
    auto parts = parseMultipart(seen[0].body, kFBStringBoundary);
    std::map<std::string, std::string> fields;
    const Part* picture = nullptr;
    for (auto& p : parts) {
        if (!p.disposition("name").empty()) fields[p.disposition("name")] = p.content;
        if (p.disposition("filename") == "picture") picture = &p;
    }
    EXPECT_EQ(fields["caption"], "A card");
    EXPECT_EQ(fields["access_token"], "TOKEN");
    ASSERT_TRUE(picture);
    auto image = imageWithData(picture->content);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size().width, 30);
    // The "actions" field is JSON naming the app and its site.
    auto parser = ns::make<json::JsonParser>();
    auto actions = ns::cast<ns::Dictionary>(parser->objectWithString(ns::String::make(fields["actions"]).get()));
    ASSERT_TRUE(actions) << fields["actions"];
    EXPECT_EQ(ns::describe(actions->stringForKey("name")), "Get Fenwarel App");
    EXPECT_EQ(ns::describe(actions->stringForKey("link")), SHRFacebook::productWebSite());
    EXPECT_EQ(notes.names, (std::vector<std::string>{SHRSendDidStartNotification, "SHRAuthDidFinish:true",
                                                     SHRSendDidFinishNotification}));
    runUntil([&] { return !weak.lock(); }, testsupport::kEventWaitSeconds);
    EXPECT_FALSE(weak.lock()) << "the hold ends with the send";
}

TEST_F(SHRFacebookTest, TextShareGoesThroughTheFormAndPostsToTheFeed) {
    storeToken("stored");
    service.reply("/me/feed", "{\"id\":\"1_5\"}");
    auto sharer = SHRFacebook::shareItem(SHRItem::text(ns::str("Hello there")));
    ui::Driver driver(clock);
    driver.settle();
    EXPECT_TRUE(service.requests().empty()) << "a text is shown in the form first";
    auto* nav = ns::as<ui::NavigationController>(SHR::currentHelper()->currentView());
    ASSERT_TRUE(nav);
    auto* form = ns::as<SHRFormControllerLargeTextField>(nav->topViewController());
    ASSERT_TRUE(form) << "the shared large text form";
    EXPECT_EQ(form->text(), "Hello there");
    EXPECT_FALSE(form->counter()) << "no limit: no counter";
    ASSERT_TRUE(driver.clearText(""));
    ASSERT_TRUE(driver.typeText("", "Edited text"));
    ASSERT_TRUE(driver.tapBarButton("Send to Facebook")) << driver.screen();
    ASSERT_TRUE(runUntil([&] {
        return std::find(notes.names.begin(), notes.names.end(), SHRSendDidFinishNotification) != notes.names.end();
    }));
    auto seen = service.requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].method, "POST");
    EXPECT_EQ(seen[0].target.substr(0, seen[0].target.find('?')), "/me/feed");
    Pairs q = queryOf(seen[0].target);
    EXPECT_EQ(q["message"], "Edited text");
    EXPECT_EQ(q["access_token"], "stored");
}

TEST_F(SHRFacebookTest, LinkShareOpensTheFeedDialog) {
    storeToken("stored");
    auto sharer = SHRFacebook::shareItem(SHRItem::URL(ns::URL::URLWithString("http://cards.test/c/1?x=y")));
    auto* dialog = SHRFacebook::facebook()->fbDialog();
    ASSERT_TRUE(dialog);
    Pairs q = queryOf(dialog->loadingURL());
    EXPECT_EQ(q["link"], "http://cards.test/c/1?x=y");
    EXPECT_EQ(q["name"], "http://cards.test/c/1?x=y");  // no title: the URL's text
    EXPECT_EQ(q.count("message"), 0u);
    EXPECT_EQ(q["access_token"], "stored");
    EXPECT_TRUE(sharer->isHeld());
    dialog->webView()->followURL(ns::URL::URLWithString("fbconnect://success?post_id=3"),
                                 ui::WebViewNavigationType::Other);
    EXPECT_EQ(notes.names, (std::vector<std::string>{SHRSendDidFinishNotification}));
    EXPECT_FALSE(sharer->isHeld());

    // Closing the dialog cancels the share.
    auto second = SHRFacebook::shareItem(SHRItem::URL(ns::URL::URLWithString("http://cards.test/2"), ns::str("Two")));
    EXPECT_EQ(queryOf(SHRFacebook::facebook()->fbDialog()->loadingURL())["name"], "Two");
    SHRFacebook::facebook()->fbDialog()->cancel();
    EXPECT_EQ(notes.names.back(), SHRSendDidCancelNotification);
    EXPECT_FALSE(second->isHeld());
}

TEST_F(SHRFacebookTest, RejectedTokenInTheFeedDialogFlushesItAndLogsInAgain) {
    storeToken("old");
    ns::UserDefaults::standardUserDefaults()->setObjectForKey(ns::Dictionary::make({{"username", ns::str("u")}}),
                                                             kSHRFacebookUserInfo);
    auto sharer = ns::make<SHRFacebook>();
    ASSERT_TRUE(SHRSharer::sharerWithClassName("SHRFacebook"));
    sharer->setItem(SHRItem::URL(ns::URL::URLWithString("http://cards.test/9"), ns::str("Nine")));
    sharer->share();
    auto* dialog = SHRFacebook::facebook()->fbDialog();
    ASSERT_TRUE(dialog);
    size_t openedBefore = ui::Application::shared()->openedURLs().size();
    dialog->webView()->followURL(ns::URL::URLWithString("fbconnect://success?error_code=190&error_msg=expired"),
                                 ui::WebViewNavigationType::Other);
    auto defaults = ns::UserDefaults::standardUserDefaults();
    EXPECT_FALSE(defaults->objectForKey(kSHRFacebookAccessToken));
    EXPECT_FALSE(defaults->objectForKey(kSHRFacebookUserInfo));
    EXPECT_FALSE(SHRFacebook::facebook()->accessToken());
    // The login starts again (outside the app) with the item parked ...
    EXPECT_EQ(ui::Application::shared()->openedURLs().size(), openedBefore + 1);
    ASSERT_TRUE(defaults->dictionaryForKey(kSHRStoredItem));
    EXPECT_EQ(ns::describe(defaults->dictionaryForKey(kSHRStoredItem)->stringForKey("title")), "Nine");
    // ... while the dialog's send is reported finished, and the sharer waits for the login.
    EXPECT_EQ(notes.names, (std::vector<std::string>{SHRSendDidFinishNotification}));
    EXPECT_TRUE(sharer->isHeld());
}

// A refused token that cannot be removed (the user defaults' folder full or
// read-only) stays the stored login, here and at the next start: no login
// is started as if it were gone, and the share ends as failed, with the
// user told. With room again, the next share removes it and logs in again.
TEST_F(SHRFacebookTest, ARejectedTokenThatCannotBeRemovedStaysAndTheShareFails) {
    FullPreferences disk;
    const char* refused = "fbconnect://success?error_code=190&error_msg=expired";
    auto shareLink = [&] {
        auto sharer = ns::make<SHRFacebook>();
        sharer->setItem(SHRItem::URL(ns::URL::URLWithString("http://cards.test/9"), ns::str("Nine")));
        sharer->share();
        return sharer;
    };
    for (auto failure : testsupport::FullDisk::kFailures) {
        SCOPED_TRACE(std::string(testsupport::FullDisk::describe(failure)) + " against " + disk.how());
        disk.restore();
        SHRFacebook::resetSharedClient();
        storeToken("old");
        auto defaults = ns::UserDefaults::standardUserDefaults();
        defaults->setObjectForKey(ns::Dictionary::make({{"username", ns::str("u")}}), kSHRFacebookUserInfo);
        auto sharer = shareLink();
        auto* dialog = SHRFacebook::facebook()->fbDialog();
        ASSERT_TRUE(dialog);
        if (!disk.arrange(failure)) continue;
        ui::Panel::resetShown();
        notes.names.clear();
        size_t openedBefore = ui::Application::shared()->openedURLs().size();
        dialog->webView()->followURL(ns::URL::URLWithString(refused), ui::WebViewNavigationType::Other);
        EXPECT_EQ(notes.names, (std::vector<std::string>{SHRSendDidFailWithErrorNotification}));
        EXPECT_EQ(alerts(), (std::vector<std::string>{"Error|Facebook no longer accepts your login, and it could not "
                                                      "be removed. Please try again."}));
        EXPECT_EQ(ui::Application::shared()->openedURLs().size(), openedBefore) << "a login started";
        EXPECT_FALSE(sharer->isHeld());
        EXPECT_EQ(ns::describe(defaults->stringForKey(kSHRFacebookAccessToken)), "old");
        EXPECT_TRUE(defaults->objectForKey(kSHRFacebookExpiryDate));
        EXPECT_TRUE(defaults->objectForKey(kSHRFacebookUserInfo));
        auto next = disk.reread();
        EXPECT_EQ(ns::describe(next->stringForKey(kSHRFacebookAccessToken)), "old");
        EXPECT_TRUE(next->objectForKey(kSHRFacebookUserInfo));
    }
    // With room again the refused token goes and the login starts again.
    disk.restore();
    SHRFacebook::resetSharedClient();
    storeToken("old");
    auto sharer = shareLink();
    ASSERT_TRUE(SHRFacebook::facebook()->fbDialog());
    notes.names.clear();
    size_t openedBefore = ui::Application::shared()->openedURLs().size();
    SHRFacebook::facebook()->fbDialog()->webView()->followURL(ns::URL::URLWithString(refused),
                                                              ui::WebViewNavigationType::Other);
    EXPECT_EQ(ui::Application::shared()->openedURLs().size(), openedBefore + 1);
    EXPECT_EQ(notes.names, (std::vector<std::string>{SHRSendDidFinishNotification}));
    auto next = disk.reread();
    EXPECT_FALSE(next->objectForKey(kSHRFacebookAccessToken));
    EXPECT_FALSE(next->objectForKey(kSHRFacebookExpiryDate));
}

TEST_F(SHRFacebookTest, FailedRequestEndsSessionButStoredTokenComesBack) {
    storeToken("stored");
    service.reply("/me/feed", "{\"error\":{\"type\":\"OAuthException\"}}");
    auto sharer = ns::make<SHRFacebook>();
    sharer->setItem(SHRItem::text(ns::str("x")));
    ASSERT_TRUE(sharer->isAuthorized());
    sharer->setQuiet(true);
    ASSERT_TRUE(sharer->tryToSend());
    ASSERT_TRUE(runUntil([&] {
        return std::find(notes.names.begin(), notes.names.end(), SHRSendDidFailWithErrorNotification) != notes.names.end();
    }));
    ASSERT_TRUE(sharer->lastError());
    EXPECT_EQ(sharer->lastError()->domain(), "facebookErrDomain");
    EXPECT_FALSE(SHRFacebook::facebook()->isSessionValid());
    EXPECT_TRUE(sharer->isAuthorized());
    EXPECT_EQ(ns::describe(SHRFacebook::facebook()->accessToken()), "stored");
}

TEST_F(SHRFacebookTest, UserInfoIsStoredAndLogoutForgetsEverything) {
    storeToken("stored");
    service.reply("/me", "{\"id\":\"5\",\"username\":\"pat\",\"name\":\"Pat\"}");
    auto sharer = SHRSharer::getUserInfo<SHRFacebook>();
    EXPECT_TRUE(sharer->quiet());
    ASSERT_TRUE(runUntil([&] {
        return std::find(notes.names.begin(), notes.names.end(), SHRSendDidFinishNotification) != notes.names.end();
    }));
    auto defaults = ns::UserDefaults::standardUserDefaults();
    auto info = defaults->dictionaryForKey(kSHRFacebookUserInfo);
    ASSERT_TRUE(info);
    EXPECT_EQ(ns::describe(info->stringForKey("username")), "pat");
    EXPECT_EQ(service.requests().at(0).method, "GET");

    // Account information that cannot be stored is a failed share, and
    // what was stored before stays.
    {
        FullPreferences disk;
        ASSERT_TRUE(ns::UserDefaults::standardUserDefaults()->setObjectForKey(
            ns::Dictionary::make({{"username", ns::str("before")}}), kSHRFacebookUserInfo));
        for (auto failure : testsupport::FullDisk::kFailures) {
            SCOPED_TRACE(testsupport::FullDisk::describe(failure));
            disk.restore();
            storeToken("stored");
            if (!disk.arrange(failure)) continue;
            service.reply("/me", "{\"id\":\"5\",\"username\":\"after\"}");
            notes.names.clear();
            ns::Weak<SHRSharer> again(SHRSharer::getUserInfo<SHRFacebook>().get());
            auto saw = [&](const char* name) {
                return std::find(notes.names.begin(), notes.names.end(), name) != notes.names.end();
            };
            ASSERT_TRUE(runUntil([&] { return saw(SHRSendDidFailWithErrorNotification) || saw(SHRSendDidFinishNotification); }));
            EXPECT_TRUE(saw(SHRSendDidFailWithErrorNotification));
            EXPECT_FALSE(saw(SHRSendDidFinishNotification));
            EXPECT_FALSE(again.lock()) << "the request's hold ends";
            auto kept = ns::UserDefaults::standardUserDefaults()->dictionaryForKey(kSHRFacebookUserInfo);
            ASSERT_TRUE(kept);
            EXPECT_EQ(ns::describe(kept->stringForKey("username")), "before");
        }
        defaults = disk.reread();
    }

    defaults->setObjectForKey(ns::Dictionary::make({{"shareType", ns::num(2)}}), kSHRStoredItem);
    sharer->logout();
    EXPECT_FALSE(defaults->objectForKey(kSHRFacebookAccessToken));
    EXPECT_FALSE(defaults->objectForKey(kSHRFacebookExpiryDate));
    EXPECT_FALSE(defaults->objectForKey(kSHRFacebookUserInfo));
    EXPECT_FALSE(defaults->objectForKey(kSHRStoredItem));
    EXPECT_FALSE(ns::make<SHRFacebook>()->isAuthorized());
}

// A post holds its sharer until the service answers, so a caller may let go
// of it at once; only account information with a user name is kept as the
// account's, never the answer to a post. Fields the service answers as JSON
// null (an empty profile field, nested too) are kept as empty text.
TEST_F(SHRFacebookTest, EachPostHoldsItsSharerAndOnlyAccountInformationIsKept) {
    struct Case {
        const char* name;
        SHRShareType type;
        const char* path;
        const char* reply;
        bool kept;
    } cases[] = {
        {"photo", SHRShareTypeImage, "/me/photos", "{\"id\":\"7\",\"post_id\":\"1_7\"}", false},
        {"account information", SHRShareTypeUserInfo, "/me", "{\"id\":\"5\",\"username\":\"pat\"}", true},
        {"account information without a user name", SHRShareTypeUserInfo, "/me", "{\"id\":\"5\"}", false},
        {"account information holding nulls", SHRShareTypeUserInfo, "/me",
         "{\"id\":\"5\",\"username\":\"pat\",\"name\":null,\"location\":{\"id\":null},\"languages\":[null]}", true},
    };
    auto defaults = ns::UserDefaults::standardUserDefaults();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        storeToken("stored");
        defaults->removeObjectForKey(kSHRFacebookUserInfo);
        service.reply(c.path, c.reply);
        notes.names.clear();
        auto item = c.type == SHRShareTypeImage ? SHRItem::image(ui::Image::make("card", {8, 6}), ns::str("A card"))
                                                : ns::make<SHRItem>();
        item->setShareType(c.type);
        auto sharer = ns::make<SHRFacebook>();
        sharer->setItem(item);
        ASSERT_TRUE(sharer->isAuthorized());
        ASSERT_TRUE(sharer->tryToSend());
        EXPECT_TRUE(sharer->isHeld()) << "held until the answer";
        ns::Weak<SHRFacebook> weak(sharer.get());
        sharer = nullptr;
        ASSERT_TRUE(runUntil([&] {
            return std::find(notes.names.begin(), notes.names.end(), SHRSendDidFinishNotification) != notes.names.end();
        })) << ::testing::PrintToString(notes.names);
        EXPECT_TRUE(runUntil([&] { return weak.expired(); })) << "let go once answered";
        auto info = defaults->dictionaryForKey(kSHRFacebookUserInfo);
        EXPECT_EQ(info != nullptr, c.kept);
        if (info && c.kept) EXPECT_EQ(ns::describe(info->stringForKey("username")), "pat");
        if (info && info->objectForKey("name")) {
            EXPECT_EQ(ns::describe(info->objectForKey("name")), "");
            auto* location = info->dictionaryForKey("location");
            ASSERT_TRUE(location);
            EXPECT_EQ(ns::describe(location->objectForKey("id")), "");
            auto* languages = info->arrayForKey("languages");
            ASSERT_TRUE(languages && languages->count() == 1);
            EXPECT_EQ(ns::describe(languages->objectAtIndex(0)), "");
        }
    }
}

TEST_F(SHRFacebookTest, LoginOutcomesAlertOnlyOnFailure) {
    auto sharer = SHRFacebook::shareItem(SHRItem::text(ns::str("t")));
    std::string prefix = "fb" + SHRFacebook::applicationId() + "://authorize";
    SHRFacebook::handleOpenURL(ns::URL::URLWithString(prefix + "#error=access_denied&error_code=200").get());
    EXPECT_TRUE(alerts().empty());
    EXPECT_EQ(notes.names, (std::vector<std::string>{"SHRAuthDidFinish:false"}));
    EXPECT_FALSE(sharer->isHeld());
    // The parked item stays.
    EXPECT_TRUE(ns::UserDefaults::standardUserDefaults()->objectForKey(kSHRStoredItem));

    auto again = SHRFacebook::shareItem(SHRItem::text(ns::str("t")));
    SHRFacebook::handleOpenURL(ns::URL::URLWithString(prefix + "#error=server&error_code=2").get());
    EXPECT_EQ(alerts(), (std::vector<std::string>{"Authorize Error|There was an error while authorizing"}));
}

// A login the user defaults cannot save (their folder full or read-only) is
// not used: the "Login Error" alert, the login reported failed, nothing
// posted, the item left parked, and the login stored before kept, in this
// process (the client too) and the next.
TEST_F(SHRFacebookTest, ALoginThatCannotBeSavedIsReportedAndNotUsed) {
    FullPreferences disk;
    service.reply("/me/photos", "{\"id\":\"7\",\"post_id\":\"1_7\"}");
    std::string answer = "fb" + SHRFacebook::applicationId() + "://authorize#access_token=TOKEN&expires_in=7200";
    for (auto failure : testsupport::FullDisk::kFailures) {
        SCOPED_TRACE(std::string(testsupport::FullDisk::describe(failure)) + " against " + disk.how());
        disk.restore();
        SHRFacebook::resetSharedClient();
        auto defaults = ns::UserDefaults::standardUserDefaults();
        // The login stored before, expired.
        auto expired = ns::Date::dateWithTimeIntervalSinceReferenceDate(ns::Date::date()->timeIntervalSinceReferenceDate() - 60);
        defaults->setObjectForKey(ns::str("OLD"), kSHRFacebookAccessToken);
        defaults->setObjectForKey(expired, kSHRFacebookExpiryDate);
        ui::Panel::resetShown();
        notes.names.clear();
        ns::Weak<SHRFacebook> weak(SHRFacebook::shareItem(SHRItem::image(ui::Image::make("card", {30, 20}))).get());
        ASSERT_TRUE(defaults->objectForKey(kSHRStoredItem));
        if (!disk.arrange(failure)) continue;

        ASSERT_TRUE(SHRFacebook::handleOpenURL(ns::URL::URLWithString(answer).get()));
        EXPECT_EQ(alerts(), std::vector<std::string>{"Login Error|Your login to Facebook could not be saved. Please try again."});
        EXPECT_EQ(notes.names, (std::vector<std::string>{"SHRAuthDidFinish:false"}));
        EXPECT_FALSE(weak.lock()) << "the login's hold ends";
        EXPECT_EQ(ns::describe(defaults->stringForKey(kSHRFacebookAccessToken)), "OLD");
        EXPECT_EQ(ns::describe(SHRFacebook::facebook()->accessToken()), "OLD");
        EXPECT_FALSE(SHRFacebook::facebook()->isSessionValid());
        EXPECT_FALSE(ns::make<SHRFacebook>()->isAuthorized());
        EXPECT_TRUE(defaults->objectForKey(kSHRStoredItem)) << "the item stays parked";
        runUntil([] { return false; }, 0.1);
        EXPECT_TRUE(service.requests().empty()) << "posted without a login";

        EXPECT_EQ(ns::describe(disk.reread()->stringForKey(kSHRFacebookAccessToken)), "OLD");
    }
}

TEST_F(SHRFacebookTest, OfflineShareIsRefusedNotQueued) {
    storeToken("stored");
    setOnline(false);
    auto sharer = SHRFacebook::shareItem(SHRItem::image(ui::Image::make("card", {5, 5}), ns::str("t")));
    EXPECT_EQ(alerts(), (std::vector<std::string>{"Offline|You must be online in order to share with Facebook"}));
    EXPECT_FALSE(sharer->isHeld());
    auto queue = SHR::getOfflineQueueList();
    EXPECT_TRUE(!queue || queue->count() == 0);
    EXPECT_TRUE(service.requests().empty());
}

TEST_F(SHRFacebookTest, ParkedImageFileIsReadOnceAndDeleted) {
    std::string path = SHRFacebook::storedImagePath(ui::Image::make("x", {3, 4}).get());
    ASSERT_FALSE(path.empty());
    auto image = SHRFacebook::storedImage(path);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size().height, 4);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(SHRFacebook::storedImage(path));
    // Damaged bytes give no image, and the file still goes.
    ASSERT_TRUE(ns::writeFileAtomically(path, "not a png"));
    EXPECT_FALSE(SHRFacebook::storedImage(path));
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace sharing::test
