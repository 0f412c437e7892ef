// Posts a text, a link or a photo to the user's Vkontakte wall. The access
// token comes from the service's authorise page in a web view: the page
// redirects to a blank page whose address carries the token and the user id
// (kept one day in the user defaults). Wall calls are synchronous GET
// requests with JSON replies; a "Captcha needed" reply fails the share and
// asks the user for the code, then sends the stored request again with it.
#pragma once

#include "platform/foundation/ServiceEndpoints.h"
#include "platform/network/URLConnection.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/WebView.h"
#include "sharing/core/SHRSharer.h"
#include "sharing/ui/SHRFormControllerLargeTextField.h"

namespace sharing {

inline constexpr const char* kSHRVkontakteUserId = "kSHRVkontakteUserId";
inline constexpr const char* kSHRVkontakteAccessToken = "kSHRVkontakteAccessToken";
inline constexpr const char* kSHRVkontakteExpiryDate = "kSHRVkontakteExpiryDate";

class SHRVkontakte;

// The authorise page. Picks the token and the user id out of the redirect.
class SHRVkontakteOAuthView : public ui::ViewController, public ui::WebViewDelegate {
public:
    SHRVkontakteOAuthView() = default;
    ~SHRVkontakteOAuthView() override;
    const char* className() const override { return "SHRVkontakteOAuthView"; }

    ui::WebView* vkWebView() const { return vkWebView_.get(); }
    // nil: no application id (the view closes at once).
    const ns::Ref<ns::String>& appID() const { return appID_; }
    void setAppID(ns::Ref<ns::String> a) { appID_ = std::move(a); }
    SHRVkontakte* delegate() const { return delegate_.get(); }
    void setDelegate(ns::Ref<SHRVkontakte> d) { delegate_ = std::move(d); }

    // The authorise address for `appID`.
    static ns::Ref<ns::URL> authorizeURL(const std::string& appID);
    // The redirect page, and the exact address it gets when the user refuses.
    static std::string blankPage();
    static std::string deniedAddress();
    // The text between the first `start` and the next `end` after it; nil
    // when either is missing.
    static ns::Ref<ns::String> stringBetweenStringAndStringInnerString(std::string_view start, std::string_view end,
                                                                       std::string_view inner);
    // Closes the view without a token: the delegate hears that the login
    // failed. Once only.
    void dismiss();

    void loadView() override;
    void viewDidDisappear(bool animated) override;
    bool shouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation o) override {
        return o == ui::InterfaceOrientation::Portrait;
    }
    bool webViewShouldStartLoadWithRequest(ui::WebView* wv, ui::URLRequest* request,
                                           ui::WebViewNavigationType type) override;
    void webViewDidFinishLoad(ui::WebView* wv) override;
    void webViewDidFailLoadWithError(ui::WebView* wv, ns::Error* error) override { dismiss(); }

private:
    void close();
    ns::Ref<ui::WebView> vkWebView_;
    ns::Ref<ns::String> appID_;
    ns::Ref<SHRVkontakte> delegate_;
    bool dismissed_ = false;
};

class SHRVkontakte : public SHRSharer, public ui::AlertViewDelegate {
public:
    const char* className() const override { return "SHRVkontakte"; }
    std::string sharerTitle() const override { return "Vkontakte"; }
    bool canShareText() const override { return true; }
    bool canShareImage() const override { return true; }
    bool canShareURL() const override { return true; }
    bool canShareOffline() const override { return false; }
    bool canGetUserInfo() const override { return false; }
    bool shouldAutoShare() override { return false; }

    // Logs out (see storedLogin); false when the defaults could not be saved.
    static bool flushAccessToken() { return ns::make<SHRVkontakte>()->logout(); }
    // The user id, token and expiry, and the captcha values (the request
    // kept for a captcha answer carries the token).
    SHRStoredLogin storedLogin() const override;
    bool isAuthorized() override;
    void promptAuthorization() override;
    // The authorise page's redirect gave a token and a user id (as the
    // address holds them): they are stored together with the expiry, and
    // the share goes on. A token that is missing or empty signs nobody in,
    // and one the defaults cannot save (a full disk, a read-only home) is
    // not used ("Login Error"); the login stored before stays, and the
    // login is reported failed.
    void authorizedWithToken(ns::Ref<ns::String> userId, ns::Ref<ns::String> token);
    void authComplete();
    void show() override;
    void showVkontakteForm();
    bool send() override;
    bool sendText();
    bool sendTextAndLink();
    bool sendImageAction();
    // GET `address` (with the stored captcha id and answer when `captcha`);
    // the decoded reply, nil without one.
    ns::Ref<ns::Object> sendRequestWithCaptcha(std::string address, bool captcha);
    ns::Ref<ns::Object> sendPOSTRequestWithImageData(const std::string& address, const ns::Data* imageData);
    void getCaptcha();
    void alertViewClickedButtonAtIndex(ui::AlertView* alert, long index) override;
    static std::string URLEncodedString(std::string_view text);
    // A request to the service (wall calls, the photo upload, the captcha
    // image): reloads ignoring local cache data, 60 s time-out.
    static ns::Ref<net::URLRequest> serviceRequest(ns::Ref<ns::URL> url);

    const ns::Ref<ns::String>& accessUserId() const { return accessUserId_; }
    void setAccessUserId(ns::Ref<ns::String> s) { accessUserId_ = std::move(s); }
    const ns::Ref<ns::String>& accessToken() const { return accessToken_; }
    void setAccessToken(ns::Ref<ns::String> s) { accessToken_ = std::move(s); }
    const ns::Ref<ns::Date>& expirationDate() const { return expirationDate_; }
    void setExpirationDate(ns::Ref<ns::Date> d) { expirationDate_ = std::move(d); }
    bool isCaptcha() const { return isCaptcha_; }
    // The alert of the last captcha request (nil before).
    ui::AlertView* captchaAlert() const { return captchaAlert_.get(); }

    // The configured application id: unset (empty) in this product,
    // supplied by the deployment (and by tests).
    static std::string appID();
    static void setAppID(std::string id);
    // The API host in the table of outside services, twice: the wall calls
    // go over HTTPS, the authorise page and its redirect over plain HTTP.
    static constexpr ns::ServiceEndpoint kService{"vkontakte", "https://api.vkontakte.ru"};
    static constexpr ns::ServiceEndpoint kAuthorizeService{"vkontakte-authorize", "http://api.vkontakte.ru"};
    static std::string httpBase();
    static std::string httpsBase();

private:
    // Reports a wall post's reply: the service's error message, or done.
    bool report(const ns::Object* reply);
    bool fail(const std::string& message);
    std::string ownerAndToken() const;
    ns::Ref<ns::String> accessUserId_, accessToken_;
    ns::Ref<ns::Date> expirationDate_;
    bool isCaptcha_ = false;
    ns::Ref<ui::AlertView> captchaAlert_;
};

void registerVkontakteSharer();

}  // namespace sharing
