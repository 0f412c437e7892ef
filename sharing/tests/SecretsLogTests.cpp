// No secret reaches the log: every web sharer's flow runs against one
// loopback service with recognisable passwords and tokens (typed into the
// login forms, stored in the keychain and the user defaults, and handed out
// by the service), while standard error, where every log line of the
// program goes, is captured. The test fails when any secret shows there,
// plain or percent-encoded. Each secret carries a marker made of letters
// and digits, which no encoding changes, so a partial or re-encoded copy is
// caught too.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/Date.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/PercentEncoding.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/location/LocationManager.h"
#include "platform/ui/TweetComposeViewController.h"
#include "sharing/facebook/Facebook.h"
#include "sharing/sharers/evernote/SHREvernote.h"
#include "sharing/sharers/facebook/SHRFacebook.h"
#include "sharing/sharers/foursquare/SHRFoursquareV2.h"
#include "sharing/sharers/googlereader/SHRGoogleReader.h"
#include "sharing/sharers/instapaper/SHRInstapaper.h"
#include "sharing/sharers/linkedin/SHRLinkedIn.h"
#include "sharing/sharers/pinboard/SHRPinboard.h"
#include "sharing/sharers/readitlater/SHRReadItLater.h"
#include "sharing/sharers/tumblr/SHRTumblr.h"
#include "sharing/sharers/twitter/SHRTwitter.h"
#include "sharing/sharers/vkontakte/SHRVkontakte.h"
#include "sharing/tests/SharingTestSupport.h"
#include "sharing/ui/SHRFormController.h"
#include "sharing/ui/SHRFormControllerLargeTextField.h"
#include "testsupport/LoopbackServer.h"

namespace sharing::test {
namespace {

// The secrets; each holds characters that percent-encoding changes.
const std::string kPassword = "zqPASSWORDx1 p@ss/w&rd";
const std::string kStoredToken = "zqSTOREDTOKENx2+/=";
const std::string kStoredSecret = "zqSTOREDSECRETx3 &=";
const std::string kIssuedToken = "zqISSUEDTOKENx4";
const std::string kIssuedSecret = "zqISSUEDSECRETx5";
const std::string kGoogleAuth = "zqGOOGLEAUTHx6";
const std::string kGoogleEditToken = "zqEDITTOKENx7";
const std::vector<std::string> kSecrets = {kPassword,  kStoredToken, kStoredSecret,   kIssuedToken,
                                           kIssuedSecret, kGoogleAuth, kGoogleEditToken};
const std::vector<std::string> kMarkers = {"zqPASSWORDx1", "zqSTOREDTOKENx2", "zqSTOREDSECRETx3", "zqISSUEDTOKENx4",
                                           "zqISSUEDSECRETx5", "zqGOOGLEAUTHx6", "zqEDITTOKENx7"};

// Sends everything written to standard error into a file until stopped.
class StandardErrorCapture {
public:
    explicit StandardErrorCapture(std::string path) : path_(std::move(path)) {
        std::fflush(stderr);
        saved_ = ::dup(2);
        int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(fd, 2);
        ::close(fd);
    }
    ~StandardErrorCapture() { stop(); }
    // Restores standard error; answers what was written meanwhile.
    std::string stop() {
        if (saved_ >= 0) {
            std::fflush(stderr);
            ::dup2(saved_, 2);
            ::close(saved_);
            saved_ = -1;
        }
        return ns::readFile(path_).value_or("");
    }

private:
    std::string path_;
    int saved_ = -1;
};

// One service for every sharer: answers each path what moves the flow on.
class Service {
public:
    Service()
        : server_([this](testsupport::Conn& c) {
              auto r = c.readRequest();
              if (!r) return;
              std::string path = r->target.substr(0, r->target.find('?'));
              {
                  std::lock_guard<std::mutex> g(m_);
                  paths_.push_back(path);
              }
              auto [status, body] = answer(path);
              c.respond(status, body, "Connection: close\r\n");
          }) {}
    std::string base() const { return server_.url(""); }
    size_t requests() const {
        std::lock_guard<std::mutex> g(m_);
        return paths_.size();
    }
    bool reached(const std::string& path) const {
        std::lock_guard<std::mutex> g(m_);
        return std::find(paths_.begin(), paths_.end(), path) != paths_.end();
    }

private:
    static std::pair<int, std::string> answer(const std::string& path) {
        static const std::map<std::string, std::pair<int, std::string>> replies = {
            {"/v1/posts/get", {200, "<posts/>"}},
            {"/v1/posts/add", {200, "<result code=\"done\" />"}},
            {"/api/add", {201, ""}},
            {"/api/write", {201, "1"}},
            {"/accounts/ClientLogin", {200, "SID=x\nLSID=y\nAuth=" + kGoogleAuth + "\n"}},
            {"/reader/api/0/token", {200, kGoogleEditToken}},
            {"/oauth/access_token", {200, "oauth_token=" + kIssuedToken + "&oauth_token_secret=" + kIssuedSecret}},
            {"/uas/oauth/accessToken", {200, "oauth_token=" + kIssuedToken + "&oauth_token_secret=" + kIssuedSecret}},
        };
        auto it = replies.find(path);
        return it != replies.end() ? it->second : std::pair<int, std::string>{200, "{}"};
    }
    mutable std::mutex m_;
    std::vector<std::string> paths_;
    testsupport::Server server_;
};

class SecretsLogTest : public SharingTest {
protected:
    void SetUp() override {
        SharingTest::SetUp();
        loc::LocationManager::resetDevice();
        ui::TweetComposeViewController::reset();
        ui::TweetComposeViewController::setAvailable(false);  // the OAuth sharer, not the system sheet
    }
    void TearDown() override {
        loc::LocationManager::resetDevice();
        ui::TweetComposeViewController::reset();
        SHRFacebook::resetSharedClient();
        SHREvernote::setConfiguration("", "");
        SharingTest::TearDown();
    }
    ui::ViewController* shownScreen() {
        auto* nav = ns::as<ui::NavigationController>(SHR::currentHelper()->currentView());
        return nav ? nav->topViewController() : nullptr;
    }
    // Shares `item` with `sharer` and answers every form the flow shows
    // (login values typed in, share forms sent) until the share ends, an
    // alert shows, the service has seen `lastPath`, or (bounded) the flow
    // rests for 3 seconds with nothing more to answer.
    void runFlow(const ns::Ref<SHRSharer>& sharer, const ns::Ref<SHRItem>& item, const std::string& lastPath = {}) {
        using Clock = std::chrono::steady_clock;
        NotificationRecorder rec;
        sharer->setItem(item);
        sharer->share();
        std::vector<ui::ViewController*> answered;
        auto ended = [&] {
            for (const auto& n : rec.names)
                if (n == SHRSendDidFinishNotification || n == SHRSendDidFailWithErrorNotification ||
                    n == SHRSendDidCancelNotification)
                    return true;
            return !alerts().empty() || (!lastPath.empty() && service_->reached(lastPath));
        };
        size_t seen = service_->requests();
        auto lastProgress = Clock::now();
        const auto deadline = lastProgress + std::chrono::seconds(30);
        while (!ended() && Clock::now() - lastProgress < std::chrono::seconds(3) && Clock::now() < deadline) {
            ui::ViewController* screen = shownScreen();
            if (screen && std::find(answered.begin(), answered.end(), screen) == answered.end()) {
                answered.push_back(screen);
                lastProgress = Clock::now();
                if (auto* form = ns::as<SHRFormController>(screen)) {
                    for (ns::Object* o : *form->rowsOfSection(0)) {
                        std::string key = static_cast<SHRFormFieldSettings*>(o)->key();
                        if (key == "password") form->setValueForKey(key, kPassword);
                        if (key == "username" || key == "email") form->setValueForKey(key, "deckuser");
                    }
                    form->validateForm();
                } else if (auto* large = ns::as<SHRFormControllerLargeTextField>(screen)) {
                    large->save();
                } else if (ns::as<SHRFoursquareV2VenuesForm>(screen)) {
                    // The places near the device are looked up with the token.
                    loc::LocationManager::setDevicePosition(loc::Location::make(52.52, 13.40));
                }
            } else if (service_->requests() != seen) {
                seen = service_->requests();
                lastProgress = Clock::now();
            }
            ns::RunLoop::main()->runUntil(ended, 0.02);
            clock->advance(0.05);
        }
        ui::Panel::resetShown();
        SHR::reset();
    }
    Service* service_ = nullptr;
    static void storeAuth(const char* sharerId, const char* key, const std::string& value) {
        SHR::setAuthValueForKeyForSharer(ns::str(value).get(), key, sharerId);
    }
};

TEST_F(SecretsLogTest, NoSharerFlowWritesASecretToTheLog) {
    Service service;
    service_ = &service;
    const std::string base = service.base();
    endpoints.point({SHRPinboard::kService, SHRReadItLater::kService, SHRInstapaper::kService, SHRTumblr::kService,
                     SHRGoogleReader::kService, SHRGoogleReader::kTokenService, SHRTwitter::kService,
                     SHRTwitter::kImageHostService, SHRTwitter::kShortenerService, SHRLinkedIn::kService,
                     SHRLinkedIn::kWebService, SHRLinkedIn::kShareService, SHRFoursquareV2Request::kService,
                     SHRVkontakte::kService, SHRVkontakte::kAuthorizeService},
                    base);
    endpoints.point(Facebook::kDialogService, base + "/dialog/");
    endpoints.point(Facebook::kGraphService, base + "/");
    endpoints.point(Facebook::kRestService, base + "/method/");
    endpoints.point(Facebook::kLoginSiteService, base + "/login");
    SHRFacebook::resetSharedClient();
    registerEvernoteSharer();
    endpoints.point(SHREvernote::kUserStoreService, base + "/edam/user");
    endpoints.point(SHREvernote::kNoteStoreService, base + "/edam/note/");
    SHREvernote::setConfiguration("deck-key", "deck-secret");
    auto link = [] { return SHRItem::URL(ns::URL::URLWithString("http://cards.test/c?id=7"), ns::str("A card")); };
    auto text = [] { return SHRItem::text(ns::str("A card to share")); };

    StandardErrorCapture capture(home->path() + "/stderr.log");
    // Login forms: the password is typed in, sent, stored and used again.
    runFlow(ns::make<SHRPinboard>(), link());
    runFlow(ns::make<SHRReadItLater>(), link());
    runFlow(ns::make<SHRInstapaper>(), link());
    runFlow(ns::make<SHRTumblr>(), text());
    runFlow(ns::make<SHRGoogleReader>(), link());
    runFlow(ns::make<SHREvernote>(), link());
    // Twitter's xAuth login trades the password for a token, then signs with it.
    auto twitter = ns::make<SHRTwitter>();
    twitter->setXAuth(true);
    runFlow(twitter, text());
    // Stored tokens: OAuth 1.0 access tokens, OAuth 2 tokens in queries.
    storeAuth("SHRTwitter", "accessKey", kStoredToken);
    storeAuth("SHRTwitter", "accessSecret", kStoredSecret);
    runFlow(ns::make<SHRTwitter>(), text());
    storeAuth("SHRLinkedIn", "accessKey", kStoredToken);
    storeAuth("SHRLinkedIn", "accessSecret", kStoredSecret);
    runFlow(ns::make<SHRLinkedIn>(), link());
    storeAuth("SHRFoursquareV2", "accessToken", kStoredToken);
    runFlow(ns::make<SHRFoursquareV2>(), text(), "/v2/venues/search");
    auto defaults = ns::UserDefaults::standardUserDefaults();
    auto tomorrow = ns::Date::dateWithTimeIntervalSinceReferenceDate(
        ns::Date::date()->timeIntervalSinceReferenceDate() + 86400);
    defaults->setObjectForKey(ns::str("42"), kSHRVkontakteUserId);
    defaults->setObjectForKey(ns::str(kStoredToken), kSHRVkontakteAccessToken);
    defaults->setObjectForKey(tomorrow, kSHRVkontakteExpiryDate);
    runFlow(ns::make<SHRVkontakte>(), text());
    defaults->setObjectForKey(ns::str(kStoredToken), kSHRFacebookAccessToken);
    defaults->setObjectForKey(tomorrow, kSHRFacebookExpiryDate);
    runFlow(ns::make<SHRFacebook>(), SHRItem::image(ui::Image::make("card", {30, 20}), ns::str("A card")));
    std::string log = capture.stop();

    // Every flow reached the service with its secrets.
    for (const char* path : {"/v1/posts/get", "/v1/posts/add", "/v2/auth", "/v2/send", "/api/authenticate", "/api/add",
                             "/api/write", "/accounts/ClientLogin", "/reader/api/0/item/edit", "/edam/user",
                             "/oauth/access_token", "/1/statuses/update.json", "/v1/people/~/shares",
                             "/v2/venues/search", "/method/wall.post", "/me/photos"})
        EXPECT_TRUE(service.reached(path)) << "no flow reached " << path;
    EXPECT_NE(log.find("Start SHRRequest"), std::string::npos) << "nothing was logged: the capture saw nothing";
    EXPECT_NE(log.find("OAMutableURLRequest parameters"), std::string::npos);
    for (size_t i = 0; i < kSecrets.size(); ++i) {
        const std::string& secret = kSecrets[i];
        for (const std::string& form : {secret, ns::percentEncodeUnreserved(secret), ns::addPercentEscapes(secret),
                                        SHREncode(secret), kMarkers[i]})
            EXPECT_EQ(log.find(form), std::string::npos) << "\"" << form << "\" is in the log:\n" << log;
    }
}

}  // namespace
}  // namespace sharing::test
