#include "sharing/sharers/vkontakte/SHRVkontakte.h"

#include "net/json/JSONDecoder.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/PercentEncoding.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/network/URLConnection.h"
#include "platform/security/Random.h"
#include "platform/ui/Color.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TextField.h"
#include "sharing/core/ImageCoding.h"
#include "sharing/core/SHR.h"

namespace sharing {

namespace {
constexpr double kTokenLifetime = 86400;
constexpr double kTimeout = 60;
constexpr long kCaptchaFieldTag = 33;
std::string& appIDSetting() {
    static std::string id;  // shipped unset
    return id;
}
struct Registrar {
    Registrar() { registerVkontakteSharer(); }
} registrar;

ns::Ref<ns::UserDefaults> defaults() { return ns::UserDefaults::standardUserDefaults(); }

// The body of a synchronous request; nil when nothing came back or the
// service did not accept the request (a status other than 2xx), so that an
// error page is never read as an answer.
ns::Ref<ns::Data> fetch(const net::URLRequest& request) {
    ns::Ref<net::HTTPURLResponse> response;
    ns::Ref<ns::Error> error;
    auto data = net::URLConnection::sendSynchronousRequest(request, &response, &error);
    if (!response || response->statusCode() < 200 || response->statusCode() > 299) return nullptr;
    if (!data || data->length() == 0) return nullptr;
    return data;
}

ns::Ref<ns::Object> decode(const ns::Data* data) {
    if (!data) return nullptr;
    return json::JSONDecoder::decoder()->parseJSONData(data);
}

ns::Dictionary* dict(const ns::Object* o, std::string_view key) {
    auto* d = ns::as<ns::Dictionary>(const_cast<ns::Object*>(o));
    return d ? d->dictionaryForKey(key) : nullptr;
}

// A value of a reply as text ("" when absent); numbers give their digits.
std::string text(const ns::Dictionary* d, std::string_view key) {
    ns::Object* o = d ? d->objectForKey(key) : nullptr;
    return o && !ns::as<ns::Null>(o) ? ns::describe(o) : std::string();
}
}  // namespace

void registerVkontakteSharer() {
    SHRSharer::registerSharerClass("SHRVkontakte", [] { return ns::Ref<SHRSharer>(ns::make<SHRVkontakte>()); });
}

std::string SHRVkontakte::appID() { return appIDSetting(); }
void SHRVkontakte::setAppID(std::string id) { appIDSetting() = std::move(id); }
std::string SHRVkontakte::httpBase() { return ns::ServiceEndpoints::baseURL(kAuthorizeService); }
std::string SHRVkontakte::httpsBase() { return ns::ServiceEndpoints::baseURL(kService); }

// -- Authorise view -----------------------------------------------------------------------------

SHRVkontakteOAuthView::~SHRVkontakteOAuthView() {
    if (vkWebView_) vkWebView_->setDelegate(nullptr);
}

std::string SHRVkontakteOAuthView::blankPage() { return SHRVkontakte::httpBase() + "/blank.html"; }

std::string SHRVkontakteOAuthView::deniedAddress() {
    return blankPage() + "#error=access_denied&error_reason=user_denied&error_description=User%20denied%20your%20request";
}

ns::Ref<ns::URL> SHRVkontakteOAuthView::authorizeURL(const std::string& appID) {
    return ns::URL::URLWithString(ns::format(
        "%@/oauth/authorize?client_id=%@&scope=wall,photos&redirect_uri=%@&display=touch&response_type=token",
        SHRVkontakte::httpBase(), SHRVkontakte::URLEncodedString(appID), blankPage()));
}

ns::Ref<ns::String> SHRVkontakteOAuthView::stringBetweenStringAndStringInnerString(std::string_view start,
                                                                                   std::string_view end,
                                                                                   std::string_view inner) {
    size_t a = inner.find(start);
    if (a == std::string_view::npos) return nullptr;
    a += start.size();
    size_t b = inner.find(end, a);
    if (b == std::string_view::npos) return nullptr;
    return ns::str(inner.substr(a, b - a));
}

void SHRVkontakteOAuthView::loadView() {
    ui::ViewController::loadView();
    vkWebView_ = ns::make<ui::WebView>(view()->bounds());
    vkWebView_->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    vkWebView_->setScalesPageToFit(true);
    vkWebView_->setDelegate(this);
    view()->addSubview(vkWebView_);
    if (appID_) vkWebView_->loadRequest(ui::URLRequest::requestWithURL(authorizeURL(std::string(appID_->utf8()))));
    else dismiss();
}

void SHRVkontakteOAuthView::viewDidDisappear(bool animated) {
    ui::ViewController::viewDidDisappear(animated);
    if (vkWebView_) vkWebView_->setDelegate(nullptr);
}

void SHRVkontakteOAuthView::dismiss() {
    if (dismissed_) return;
    auto keep = ns::keepAlive(this);
    close();
    // Closed without a token: the login failed (refused, an error page, no
    // application id).
    if (ns::Ref<SHRVkontakte> delegate = delegate_) delegate->authDidFinish(false);
}

void SHRVkontakteOAuthView::close() {
    dismissed_ = true;
    if (vkWebView_) vkWebView_->setDelegate(nullptr);
    SHR::currentHelper()->hideCurrentViewControllerAnimated(true);
}

bool SHRVkontakteOAuthView::webViewShouldStartLoadWithRequest(ui::WebView*, ui::URLRequest* request,
                                                              ui::WebViewNavigationType) {
    if (request && request->URL() && request->URL()->absoluteText() == deniedAddress()) {
        dismiss();
        return false;
    }
    return true;
}

void SHRVkontakteOAuthView::webViewDidFinishLoad(ui::WebView* wv) {
    if (!wv->request() || !wv->request()->URL()) return;
    auto keep = ns::keepAlive(this);
    std::string address = wv->request()->URL()->absoluteText();
    if (address.find("access_token") != std::string::npos) {
        auto token = stringBetweenStringAndStringInnerString("access_token=", "&", address);
        // Everything after the last "&user_id=" (the whole address without one).
        size_t at = address.rfind("&user_id=");
        std::string userId = at == std::string::npos ? address : address.substr(at + 9);
        // Closed first, so that the screen the resumed share shows is not
        // the one being closed.
        ns::Ref<SHRVkontakte> delegate = delegate_;
        close();
        if (delegate) delegate->authorizedWithToken(ns::str(userId), token);
    } else if (address.find("error") != std::string::npos) {
        dismiss();
    }
}

// -- Sharer ------------------------------------------------------------------------------------

SHRStoredLogin SHRVkontakte::storedLogin() const {
    return {{},
            {kSHRVkontakteUserId, kSHRVkontakteAccessToken, kSHRVkontakteExpiryDate, "request", "captcha_sid",
             "captcha_img", "captcha_user"}};
}

bool SHRVkontakte::isAuthorized() {
    auto d = defaults();
    accessUserId_ = d->stringForKey(kSHRVkontakteUserId);
    accessToken_ = d->stringForKey(kSHRVkontakteAccessToken);
    expirationDate_ = ns::Ref<ns::Date>(ns::as<ns::Date>(d->objectForKey(kSHRVkontakteExpiryDate).get()));
    return accessToken_ && expirationDate_ &&
           expirationDate_->timeIntervalSinceReferenceDate() > ns::Date::date()->timeIntervalSinceReferenceDate();
}

void SHRVkontakte::promptAuthorization() {
    auto view = ns::make<SHRVkontakteOAuthView>();
    view->setAppID(ns::str(appID()));
    view->setDelegate(ns::keepAlive(this));
    view->view();
    navigationBar()->setTintColor(ui::Color::colorWithRGBA(-1.0, -1.0, -1.0, 1.0));
    pushViewController(view, false);
    SHR::currentHelper()->showViewController(ns::keepAlive(this));
}

void SHRVkontakte::authorizedWithToken(ns::Ref<ns::String> userId, ns::Ref<ns::String> token) {
    auto keep = ns::keepAlive(this);
    if (!token || token->isEmpty()) {
        authDidFinish(false);
        return;
    }
    auto expiry = ns::Date::dateWithTimeIntervalSinceReferenceDate(ns::Date::date()->timeIntervalSinceReferenceDate() +
                                                                   kTokenLifetime);
    if (!SHR::setDefaultsValues({{kSHRVkontakteUserId, userId},
                                 {kSHRVkontakteAccessToken, token},
                                 {kSHRVkontakteExpiryDate, expiry}})) {
        loginNotSaved();
        authDidFinish(false);
        return;
    }
    authDidFinish(true);
    authComplete();
}

void SHRVkontakte::authComplete() {
    if (item()) share();
}

void SHRVkontakte::show() {
    if (item()->shareType() == SHRShareTypeText) showVkontakteForm();
    else tryToSend();
}

void SHRVkontakte::showVkontakteForm() { showItemTextForm(); }

ns::Ref<net::URLRequest> SHRVkontakte::serviceRequest(ns::Ref<ns::URL> url) {
    return net::URLRequest::requestWithURL(std::move(url), net::kURLRequestReloadIgnoringLocalCacheData, kTimeout);
}

std::string SHRVkontakte::URLEncodedString(std::string_view text) {
    return ns::addPercentEscapes(text, {}, "!*'();:@&=+$,/?%#[]");
}

namespace {
// The user id and token are kept as the redirect address gave them, escapes
// and all: decoded once here, so that escaping them again for the query
// sends the values they stand for (a malformed escape stays as it is).
std::string redirectValue(const ns::String* value) {
    if (!value) return {};
    auto decoded = ns::removePercentEncoding(value->view());
    return decoded ? *decoded : std::string(value->view());
}
}  // namespace

std::string SHRVkontakte::ownerAndToken() const {
    return ns::format("owner_id=%@&access_token=%@", URLEncodedString(redirectValue(accessUserId_.get())),
                      URLEncodedString(redirectValue(accessToken_.get())));
}

bool SHRVkontakte::send() {
    if (!validateItem()) return false;
    setQuiet(false);
    auto* item = this->item().get();
    if (item->shareType() == SHRShareTypeURL && item->URL()) return sendTextAndLink();
    if (item->shareType() == SHRShareTypeText && item->text()) return sendText();
    if (item->shareType() == SHRShareTypeImage && item->image()) return sendImageAction();
    return false;
}

bool SHRVkontakte::fail(const std::string& message) {
    sendDidFailWithError(ns::Error::make(message, 1, ns::Dictionary::make()));
    return false;
}

bool SHRVkontakte::report(const ns::Object* reply) {
    auto keep = ns::keepAlive(this);
    if (!reply) {
        // Nothing came back: the service could not be reached.
        sendDidFailWithError(SHR::error("%@", SHRLocalizedString("There was an error while sharing")));
        return false;
    }
    if (auto* error = dict(reply, "error"))
        if (ns::String* message = error->stringForKey("error_msg")) return fail(std::string(message->utf8()));
    // Done only when the service answered with its result: an object without
    // "response" (or a reply that is no object) is not a post.
    auto* answer = ns::as<ns::Dictionary>(const_cast<ns::Object*>(reply));
    if (!answer || !answer->objectForKey("response"))
        return fail(SHRLocalizedString("There was an error while sharing"));
    sendDidFinish();
    return true;
}

bool SHRVkontakte::sendText() {
    std::string address = ns::format("%@/method/wall.post?%@&message=%@", httpsBase(), ownerAndToken(),
                                     URLEncodedString(item()->text()->view()));
    return report(sendRequestWithCaptcha(address, false).get());
}

bool SHRVkontakte::sendTextAndLink() {
    // The link is one query value: escaped, so that its own "?", "&" and "#"
    // stay inside it.
    std::string link = URLEncodedString(item()->URL()->absoluteText());
    std::string message = item()->text() ? URLEncodedString(item()->text()->view()) : link;
    std::string address = ns::format("%@/method/wall.post?%@&message=%@&attachment=%@", httpsBase(), ownerAndToken(),
                                     message, link);
    return report(sendRequestWithCaptcha(address, false).get());
}

bool SHRVkontakte::sendImageAction() {
    auto keep = ns::keepAlive(this);
    // 1. Where to upload.
    auto server = sendRequestWithCaptcha(
        ns::format("%@/method/photos.getWallUploadServer?%@", httpsBase(), ownerAndToken()), false);
    if (!server || dict(server.get(), "error")) return report(server.get());
    std::string uploadURL = text(dict(server.get(), "response"), "upload_url");
    if (uploadURL.empty()) return fail(SHRLocalizedString("There was an error while sharing"));
    // 2. The photo itself.
    auto jpeg = imageJPEGRepresentation(item()->image().get(), 1.0);
    auto uploaded = sendPOSTRequestWithImageData(uploadURL, jpeg.get());
    auto* up = ns::as<ns::Dictionary>(uploaded.get());
    if (!up || text(up, "photo").empty()) return fail(SHRLocalizedString("There was an error while sharing"));
    // 3. Saved to the wall album.
    auto saved = sendRequestWithCaptcha(ns::format("%@/method/photos.saveWallPhoto?%@&server=%@&photo=%@&hash=%@",
                                                   httpsBase(), ownerAndToken(), URLEncodedString(text(up, "server")),
                                                   URLEncodedString(text(up, "photo")), URLEncodedString(text(up, "hash"))),
                                        false);
    if (!saved || dict(saved.get(), "error")) return report(saved.get());
    auto* savedDict = ns::as<ns::Dictionary>(saved.get());
    ns::Array* photos = savedDict ? savedDict->arrayForKey("response") : nullptr;
    auto* last = photos && photos->count() ? ns::as<ns::Dictionary>(photos->objectAtIndex(photos->count() - 1)) : nullptr;
    std::string photoId = text(last, "id");
    if (photoId.empty()) return fail(SHRLocalizedString("There was an error while sharing"));
    // 4. The wall post.
    std::string title = item()->title() ? URLEncodedString(item()->title()->view()) : std::string();
    auto posted = sendRequestWithCaptcha(ns::format("%@/method/wall.post?%@&message=%@&attachment=%@", httpsBase(),
                                                    ownerAndToken(), title, URLEncodedString(photoId)),
                                         false);
    return report(posted.get());
}

ns::Ref<ns::Object> SHRVkontakte::sendRequestWithCaptcha(std::string address, bool captcha) {
    auto d = defaults();
    if (captcha) {
        auto sid = d->stringForKey("captcha_sid");
        auto answer = d->stringForKey("captcha_user");
        // Both escaped: the id is the service's text, kept in the defaults.
        address += ns::format("&captcha_sid=%@&captcha_key=%@", URLEncodedString(sid ? sid->view() : std::string_view()),
                              URLEncodedString(answer ? answer->view() : std::string_view()));
    }
    auto url = ns::URL::URLWithString(address);
    if (!url) return nullptr;
    auto data = fetch(*serviceRequest(url));
    if (!data) return nullptr;
    auto reply = decode(data.get());
    auto* error = dict(reply.get(), "error");
    ns::String* message = error ? error->stringForKey("error_msg") : nullptr;
    if (message && message->isEqualToString("Captcha needed")) {
        isCaptcha_ = true;
        d->setObjectForKey(ns::str(text(error, "captcha_img")), "captcha_img");
        d->setObjectForKey(ns::str(text(error, "captcha_sid")), "captcha_sid");
        d->setObjectForKey(ns::str(address), "request");
        d->synchronize();
        getCaptcha();
    }
    return reply;
}

ns::Ref<ns::Object> SHRVkontakte::sendPOSTRequestWithImageData(const std::string& address, const ns::Data* imageData) {
    auto url = ns::URL::URLWithString(address);
    if (!url || !imageData) return nullptr;
    std::string boundary = ns::format("0xKhTmLbOuNdArY-%@", sec::uuidString());
    auto request = serviceRequest(url);
    request->setHTTPMethod("POST");
    request->addValueForHTTPHeaderField("8bit", "Content-Transfer-Encoding");
    request->setValueForHTTPHeaderField(ns::format("multipart/form-data;  boundary=%@", boundary), "Content-Type");
    auto body = ns::MutableData::make();
    body->appendString("--" + boundary + "\r\n");
    body->appendString("Content-Disposition: form-data; name=\"photo\"; filename=\"photo.jpg\"\r\n");
    body->appendString("Content-Type: image/jpg\r\n\r\n");
    body->appendData(*imageData);
    body->appendString("\r\n--" + boundary + "\r\n");
    request->setHTTPBody(body);
    return decode(fetch(*request).get());
}

void SHRVkontakte::getCaptcha() {
    auto alert = ui::AlertView::make("\xD0\x92\xD0\xB2\xD0\xB5\xD0\xB4\xD0\xB8\xD1\x82\xD0\xB5 "
                                     "\xD0\xBA\xD0\xBE\xD0\xB4:\n\n\n\n\n",
                                     "\n", this, "Cancel", {"OK"});
    auto imageView = ui::ImageView::make({{12, 45}, {130, 50}});
    auto d = defaults();
    if (auto img = d->stringForKey("captcha_img")) {
        if (auto url = ns::URL::URLWithString(img->view()))
            if (auto data = fetch(*serviceRequest(url))) imageView->setImage(imageWithData(data->view()));
    }
    alert->addSubview(imageView);
    auto field = ui::TextField::make({{12, 110}, {260, 25}});
    field->setBackgroundColor(ui::Color::white());
    field->setAutocorrectionType(ui::AutocorrectionType::No);
    field->setAutocapitalizationType(ui::AutocapitalizationType::None);
    field->setTag(kCaptchaFieldTag);
    alert->addSubview(field);
    captchaAlert_ = alert;
    alert->show();
}

void SHRVkontakte::alertViewClickedButtonAtIndex(ui::AlertView* alert, long index) {
    if (!isCaptcha_ || index != 1) return;
    auto keep = ns::keepAlive(this);
    isCaptcha_ = false;
    auto* field = alert ? dynamic_cast<ui::TextField*>(alert->viewWithTag(kCaptchaFieldTag)) : nullptr;
    auto d = defaults();
    d->setObjectForKey(ns::str(field ? field->text() : std::string()), "captcha_user");
    d->synchronize();
    auto request = d->stringForKey("request");
    if (request) sendRequestWithCaptcha(std::string(request->utf8()), true);
}

}  // namespace sharing
