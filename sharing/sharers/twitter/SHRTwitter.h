// Posting to Twitter. SHRTwitter is the sharer callers name: an OAuth 1.0
// sharer that signs its own requests (status update, tweet with an image
// through an image host, profile image, account information), shortens the
// links it posts, and lets the user edit the tweet (140 characters) first.
// When the platform has its own tweet composer, SHRTwitter hands the item to
// SHRiOS5Twitter, which fills that composer, and does nothing else.
//
// The three services it calls (API, image host, link shortener) are entries
// of the table of outside services, with compiled-in base URLs.
#pragma once

#include <functional>
#include <string>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/ServiceEndpoints.h"
#include "platform/ui/TweetComposeViewController.h"
#include "sharing/core/SHRRequest.h"
#include "sharing/oauth/SHROAuthSharer.h"
#include "sharing/ui/SHRFormControllerLargeTextField.h"

namespace sharing {

inline constexpr const char* kSHRTwitterUserInfo = "kSHRTwitterUserInfo";
inline constexpr const char* kSHRTwitterErrorDomain = "Twitter";
// The multipart boundary of the image uploads.
inline constexpr const char* kSHRTwitterBoundary = "0xKhTmLbOuNdArY";
// Upload images are re-encoded at lower quality until they fit.
inline constexpr size_t kSHRTwitterMaxImageBytes = 700000;

// The system composer variant. It presents the composer on the app's top
// controller once no other sharer screen is on the way out.
class SHRiOS5Twitter : public SHRSharer {
public:
    const char* className() const override { return "SHRiOS5Twitter"; }
    std::string sharerTitle() const override { return "Twitter"; }
    std::string sharerId() const override { return "SHRTwitter"; }
    bool canShareURL() const override { return true; }
    bool canShareText() const override { return true; }
    bool canShareImage() const override { return true; }

    // Presents at once when no sharer screen is shown; otherwise waits
    // (kept alive) for "SHRHideCurrentViewFinished".
    void share() override;
    void callUI(const ns::Notification& note);
    void presentUI();

    ui::ViewController* currentTopViewController() const { return currentTopViewController_.get(); }
    void setCurrentTopViewController(ns::Ref<ui::ViewController> c) { currentTopViewController_ = std::move(c); }

private:
    ns::Ref<ui::ViewController> currentTopViewController_;
    ns::ObserverToken hideFinishedToken_;
    ns::Ref<SHRiOS5Twitter> keepAlive_;
};

class SHRTwitter : public SHROAuthSharer {
public:
    SHRTwitter();
    const char* className() const override { return "SHRTwitter"; }

    // -- Endpoints ---------------------------------------------------------------
    // The three services in the table of outside services, and their base
    // URLs now (scheme and host, and port, without a trailing "/").
    static constexpr ns::ServiceEndpoint kService{"twitter", "https://api.twitter.com"};
    static constexpr ns::ServiceEndpoint kImageHostService{"twitter-image-host", "http://img.tweetpics.example"};
    static constexpr ns::ServiceEndpoint kShortenerService{"url-shortener", "http://api.shortlink.example"};
    static std::string apiBaseURL();
    static std::string imageHostBaseURL();
    static std::string shortenerBaseURL();
    // Configuration that ships unset (empty): the account users may follow
    // (set by the deployment, and by tests) and the link shortener's login
    // and key.
    static void setFollowAccount(const std::string& account);
    static std::string followAccount();
    static std::string shortenerLogin();
    static std::string shortenerAPIKey();

    // -- Class answers -------------------------------------------------------------
    std::string sharerTitle() const override { return "Twitter"; }
    bool canShareURL() const override { return true; }
    bool canShareText() const override { return true; }
    bool canShareImage() const override { return true; }
    bool canGetUserInfo() const override { return true; }
    bool shouldAutoShare() override { return false; }
    ns::Ref<ns::String> authorizationFormCaption() const override;
    ns::Ref<ns::Array> authorizationFormFields() const override;

    bool xAuth() const { return xAuth_; }
    void setXAuth(bool b) { xAuth_ = b; }

    // -- Life cycle -----------------------------------------------------------------
    void share() override;
    bool twitterFrameworkAvailable() const;
    bool prepareItem();
    bool isAuthorized() override;
    void promptAuthorization() override;
    // A logout forgets the stored account information with the token (and
    // the authorise page's cookies).
    SHRStoredLogin storedLogin() const override;
    void authorizationFormValidate(SHRFormController* form) override;
    void tokenAccessModifyRequest(OAMutableURLRequest* request) override;
    void tokenAccessTicketDidFinishWithData(OAServiceTicket* ticket, ns::Data* data) override;
    void show() override;
    void showTwitterForm();
    void sendForm(SHRFormControllerLargeTextField* form);
    bool shortenURL();
    void shortenURLFinished(SHRRequest* request);
    bool validateItem() override;
    bool validateItemAfterUserEdit();
    bool send() override;

    // -- Requests and replies -------------------------------------------------------------
    void sendUserInfo();
    void sendStatus();
    void sendImage();
    void followMe();
    void sendUserInfoDidFinishWithData(OAServiceTicket* ticket, ns::Data* data);
    void sendUserInfoDidFailWithError(OAServiceTicket* ticket, ns::Error* error);
    void sendStatusTicketDidFinishWithData(OAServiceTicket* ticket, ns::Data* data);
    void sendStatusTicketDidFailWithError(OAServiceTicket* ticket, ns::Error* error);
    void sendImageTicketDidFinishWithData(OAServiceTicket* ticket, ns::Data* data);
    void sendImageTicketDidFailWithError(OAServiceTicket* ticket, ns::Error* error);
    void handleUnsuccessfulTicket(ns::Data* data);
    // Replaces every null value by "" in `dict` and its nested dictionaries
    // (arrays are not entered).
    static void convertNSNullsToEmptyStrings(ns::MutableDictionary* dict);

    // The upload bytes: JPEG at quality 0.9, then 0.8, ... down to 0.1 while
    // longer than kSHRTwitterMaxImageBytes. `encode` takes the quality in
    // tenths (tests give their own).
    using JPEGEncoder = std::function<ns::Ref<ns::Data>(const ui::Image*, double quality)>;
    static ns::Ref<ns::Data> uploadImageData(const ui::Image* image, const JPEGEncoder& encode);

private:
    void fetch(ns::Ref<OAMutableURLRequest> request, void (SHRTwitter::*finish)(OAServiceTicket*, ns::Data*),
               void (SHRTwitter::*fail)(OAServiceTicket*, ns::Error*));
    bool xAuth_ = false;
    ns::Ref<OAAsynchronousDataFetcher> fetcher_;
};

// Registers SHRTwitter and SHRiOS5Twitter by name (also done at start-up).
void registerTwitterSharers();

}  // namespace sharing
