#include "sharing/sharers/twitter/SHRTwitter.h"

#include <algorithm>
#include <cctype>
#include <mutex>

#include "net/json/JSONDecoder.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Color.h"
#include "sharing/core/ImageCoding.h"
#include "sharing/core/SHR.h"
#include "sharing/core/SHRStorableJSON.h"
#include "sharing/ui/SHRActivityIndicator.h"
#include "sharing/ui/SHRFormController.h"

namespace sharing {

namespace {

// Compiled-in settings.
constexpr const char* kAuthorizeCallback = "http://deckapp.example";
constexpr const char* kConsumerKey = "Hq3VnTz8LwRb5KpYd2XsMa";
constexpr const char* kConsumerSecret = "rT6yUw2PzKq9LmNb4VcXs7DfGh1JkQaZe3WoIp5Ru";
constexpr size_t kMaxTweetLength = 140;
constexpr size_t kImageTextLength = 25;

std::string& followAccountSetting() {
    static std::string account;  // shipped unset
    return account;
}

ns::Ref<ns::URL> apiURL(const std::string& path) { return ns::URL::URLWithString(SHRTwitter::apiBaseURL() + path); }

// The item's URL as text with its percent escapes replaced.
std::string unescapedURL(const SHRItem& item) {
    return item.URL() ? OAURLDecodedString(item.URL()->absoluteText()) : std::string();
}

std::string textOrEmpty(const ns::String* s) { return s ? std::string(s->utf8()) : std::string(); }

// ASCII case-insensitive search.
size_t findNoCase(std::string_view hay, std::string_view needle, size_t from = 0) {
    auto it = std::search(hay.begin() + std::min(from, hay.size()), hay.end(), needle.begin(), needle.end(),
                          [](char a, char b) { return std::tolower((unsigned char)a) == std::tolower((unsigned char)b); });
    return it == hay.end() ? std::string_view::npos : static_cast<size_t>(it - hay.begin());
}

}  // namespace

// -- SHRiOS5Twitter -------------------------------------------------------------------

void SHRiOS5Twitter::share() {
    if (!SHR::currentHelper()->currentView()) {
        presentUI();
        return;
    }
    ns::Weak<SHRiOS5Twitter> self(this);
    hideFinishedToken_ = ns::NotificationCenter::defaultCenter()->addObserver(
        SHRHideCurrentViewFinishedNotification, nullptr, [self](const ns::Notification& n) {
            if (auto s = self.lock()) s->callUI(n);
        });
    keepAlive_ = ns::keepAlive(this);
}

void SHRiOS5Twitter::callUI(const ns::Notification&) {
    auto keep = ns::keepAlive(this);
    hideFinishedToken_.reset();
    presentUI();
    keepAlive_ = nullptr;
}

void SHRiOS5Twitter::presentUI() {
    const ns::Ref<SHRItem>& it = item();
    if (it->shareType() == SHRShareTypeUserInfo) return;
    auto composer = ui::TweetComposeViewController::make();
    composer->addImage(it->image());
    composer->addURL(it->URL());
    ns::Ref<ns::String> text = it->shareType() == SHRShareTypeText ? it->text() : it->title();
    // Cut to the composer's limit; never inside a surrogate pair.
    if (text && text->length() > kMaxTweetLength) text = text->substringToIndex(kMaxTweetLength);
    composer->setInitialText(textOrEmpty(text.get()));
    // The handler keeps the sharer alive until the user has chosen.
    auto self = ns::keepAlive(this);
    composer->setCompletionHandler([self](ui::TweetComposeViewController::Result result) {
        if (auto* top = self->currentTopViewController()) top->dismissViewControllerAnimated(true);
        if (result == ui::TweetComposeViewController::Result::Done) self->sendDidFinish();
        else if (result == ui::TweetComposeViewController::Result::Cancelled) self->sendDidCancel();
    });
    setCurrentTopViewController(ns::Ref<ui::ViewController>(SHR::currentHelper()->rootViewForCustomUIDisplay()));
    if (auto* top = currentTopViewController()) top->presentViewController(composer, true);
}

// -- SHRTwitter: configuration -----------------------------------------------------------

SHRTwitter::SHRTwitter() {
    setConsumerKey(kConsumerKey);
    setSecretKey(kConsumerSecret);
    setAuthorizeCallbackURL(ns::URL::URLWithString(kAuthorizeCallback));
    xAuth_ = false;
    setAuthorizeURL(apiURL("/oauth/authorize"));
    setRequestURL(apiURL("/oauth/request_token"));
    setAccessURL(apiURL("/oauth/access_token"));
}

std::string SHRTwitter::apiBaseURL() { return ns::ServiceEndpoints::baseURL(kService); }
std::string SHRTwitter::imageHostBaseURL() { return ns::ServiceEndpoints::baseURL(kImageHostService); }
std::string SHRTwitter::shortenerBaseURL() { return ns::ServiceEndpoints::baseURL(kShortenerService); }
void SHRTwitter::setFollowAccount(const std::string& account) { followAccountSetting() = account; }
std::string SHRTwitter::followAccount() { return followAccountSetting(); }
std::string SHRTwitter::shortenerLogin() { return ""; }
std::string SHRTwitter::shortenerAPIKey() { return ""; }

ns::Ref<ns::String> SHRTwitter::authorizationFormCaption() const {
    return ns::str(SHRLocalizedString("Create a free account at %@", "Twitter.com"));
}

ns::Ref<ns::Array> SHRTwitter::authorizationFormFields() const {
    std::string account = followAccount();
    if (account.empty()) return SHROAuthSharer::authorizationFormFields();
    return ns::Array::make({
        SHRFormFieldSettings::label(SHRLocalizedString("Username"), "username", SHRFormFieldTypeTextNoCorrect, nullptr),
        SHRFormFieldSettings::label(SHRLocalizedString("Password"), "password", SHRFormFieldTypePassword, nullptr),
        SHRFormFieldSettings::label(SHRLocalizedString("Follow %@", account), "followMe", SHRFormFieldTypeSwitch,
                                    ns::str("1")),
    });
}

// -- Life cycle ----------------------------------------------------------------------------

bool SHRTwitter::twitterFrameworkAvailable() const { return ui::TweetComposeViewController::isAvailable(); }

void SHRTwitter::share() {
    if (twitterFrameworkAvailable()) {
        SHRSharer::shareItem<SHRiOS5Twitter>(item());
        logout();
        return;
    }
    if (prepareItem()) SHROAuthSharer::share();
}

bool SHRTwitter::prepareItem() {
    switch (item()->shareType()) {
        case SHRShareTypeURL: return shortenURL();
        case SHRShareTypeImage: item()->setCustomValueForKey(item()->title(), "status"); return true;
        case SHRShareTypeText: item()->setCustomValueForKey(item()->text(), "status"); return true;
        default: return true;
    }
}

bool SHRTwitter::isAuthorized() {
    if (twitterFrameworkAvailable()) {
        logout();
        return false;
    }
    return restoreAccessToken();
}

void SHRTwitter::promptAuthorization() {
    if (twitterFrameworkAvailable()) return;
    if (xAuth_) authorizationFormShow();
    else SHROAuthSharer::promptAuthorization();
}

SHRStoredLogin SHRTwitter::storedLogin() const {
    SHRStoredLogin login = SHROAuthSharer::storedLogin();
    login.defaultsKeys.push_back(kSHRTwitterUserInfo);
    return login;
}

void SHRTwitter::authorizationFormValidate(SHRFormController* form) {
    setPendingForm(ns::Ref<SHRFormController>(form));
    tokenAccess();
}

void SHRTwitter::tokenAccessModifyRequest(OAMutableURLRequest* request) {
    if (!xAuth_) return;
    auto values = pendingForm() ? pendingForm()->formValues() : nullptr;
    auto value = [&](const char* key) { return values ? textOrEmpty(values->stringForKey(key)) : std::string(); };
    request->setParameters(ns::Array::make({
        OARequestParameter::requestParameterWithName("x_auth_username", value("username")),
        OARequestParameter::requestParameterWithName("x_auth_password", value("password")),
        OARequestParameter::requestParameterWithName("x_auth_mode", "client_auth"),
    }).get());
}

void SHRTwitter::tokenAccessTicketDidFinishWithData(OAServiceTicket* ticket, ns::Data* data) {
    if (xAuth_) {
        // A refused password, or a reply without a whole token: the login
        // form stays for another try.
        if (!ticket->didSucceed() || !tokenFromReply(data)) {
            auto keep = ns::keepAlive(this);
            SHRActivityIndicator::currentIndicator()->hide();
            std::string body = data ? std::string(data->view()) : std::string();
            tokenAccessTicketDidFailWithError(
                ticket, ticket->didSucceed()
                            ? SHR::error("%@", SHRLocalizedString("There was a problem requesting access from %@",
                                                                  sharerTitle())).get()
                            : SHR::errorWithDescription(body).get());
            authDidFinish(false);
            return;
        }
        if (auto* form = pendingForm()) {
            auto values = form->formValues();
            item()->setCustomValueForKey(ns::Ref<ns::String>(values->stringForKey("followMe")), "followMe");
            form->close();
        }
    }
    SHROAuthSharer::tokenAccessTicketDidFinishWithData(ticket, data);
}

void SHRTwitter::show() {
    switch (item()->shareType()) {
        case SHRShareTypeURL:
        case SHRShareTypeImage:
        case SHRShareTypeText: showTwitterForm(); break;
        case SHRShareTypeUserInfo:
            setQuiet(true);
            tryToSend();
            break;
        default: break;
    }
}

void SHRTwitter::showTwitterForm() {
    auto form = ns::make<SHRFormControllerLargeTextField>();
    form->setDelegate(this, &SHRTwitter::sendForm);
    form->view();
    form->textView()->setText(textOrEmpty(item()->customValueForKey("status")));
    form->setMaxTextLength(kMaxTweetLength);
    form->setImage(item()->image());
    form->setImageTextLength(kImageTextLength);
    form->updateCounter();
    // Components outside 0-1 are passed as they are.
    navigationBar()->setTintColor(ui::Color::colorWithRGBA(-1.0, -1.0, -1.0, 1.0));
    pushViewController(form, false);
    SHR::currentHelper()->showViewController(ns::keepAlive(this));
}

void SHRTwitter::sendForm(SHRFormControllerLargeTextField* form) {
    item()->setCustomValueForKey(ns::str(form->text()), "status");
    tryToSend();
}

bool SHRTwitter::shortenURL() {
    const ns::Ref<SHRItem>& it = item();
    if (!SHR::connected()) {
        it->setCustomValueForKey(ns::str(ns::format("%@ %@", it->title(), unescapedURL(*it))), "status");
        return true;
    }
    if (!quiet()) SHRActivityIndicator::currentIndicator()->displayActivity(SHRLocalizedString("Shortening URL..."));
    auto url = ns::URL::URLWithString(ns::format("%@/v3/shorten?login=%@&apikey=%@&longUrl=%@&format=txt",
                                                 shortenerBaseURL(), shortenerLogin(), shortenerAPIKey(),
                                                 SHREncodeURL(it->URL().get())));
    auto request = SHRRequest::calling(this, &SHRTwitter::shortenURLFinished, url, nullptr, "GET", true);
    setRequest(request);
    return false;
}

void SHRTwitter::shortenURLFinished(SHRRequest* request) {
    auto keep = ns::keepAlive(this);
    SHRActivityIndicator::currentIndicator()->hide();
    const ns::Ref<SHRItem>& it = item();
    std::string text = textOrEmpty(request ? request->getResult().get() : nullptr);
    auto isNewline = [](char c) { return c == '\n' || c == '\r'; };
    while (!text.empty() && isNewline(text.back())) text.pop_back();
    size_t start = 0;
    while (start < text.size() && isNewline(text[start])) ++start;
    text.erase(0, start);
    std::string lead = textOrEmpty(it->text() ? it->text().get() : it->title().get());
    // Only a successful reply carries a link: an error page or an empty body
    // would otherwise be posted as one.
    if (request && request->success() && !text.empty() && ns::URL::URLWithString(text)) {
        std::string link = text == "ALREADY_A_BITLY_LINK" ? unescapedURL(*it) : text;
        it->setCustomValueForKey(ns::str(ns::format("%@ %@", lead, link)), "status");
    } else {
        ui::AlertView::make(SHRLocalizedString("Shorten URL Error"), SHRLocalizedString("We could not shorten the URL."),
                            nullptr, SHRLocalizedString("Continue"))
            ->show();
        it->setCustomValueForKey(ns::str(ns::format("%@ %@", lead, unescapedURL(*it))), "status");
    }
    setRequest(nullptr);
    SHROAuthSharer::share();
}

bool SHRTwitter::validateItem() {
    if (item()->shareType() == SHRShareTypeUserInfo) return true;
    return item()->customValueForKey("status") != nullptr;
}

bool SHRTwitter::validateItemAfterUserEdit() {
    if (!validateItem()) return false;
    auto* status = item()->customValueForKey("status");
    return !status || status->length() <= kMaxTweetLength;
}

bool SHRTwitter::send() {
    if (xAuth_ && item()->customBoolForSwitchKey("followMe")) followMe();
    if (!validateItemAfterUserEdit()) return false;
    switch (item()->shareType()) {
        case SHRShareTypeImage: sendImage(); break;
        case SHRShareTypeUserInfo: sendUserInfo(); break;
        default: sendStatus(); break;
    }
    sendDidStart();
    return true;
}

// -- Requests --------------------------------------------------------------------------

void SHRTwitter::fetch(ns::Ref<OAMutableURLRequest> request,
                       void (SHRTwitter::*finish)(OAServiceTicket*, ns::Data*),
                       void (SHRTwitter::*fail)(OAServiceTicket*, ns::Error*)) {
    // The fetcher keeps itself and its delegate (this sharer) until it has
    // answered; without selectors nobody is told.
    auto fetcher = OAAsynchronousDataFetcher::fetcherTelling(this, std::move(request), finish, fail);
    fetcher->start();
}

void SHRTwitter::sendUserInfo() {
    auto request = OAMutableURLRequest::make(apiURL("/1/account/verify_credentials.json"), consumer(), accessToken(),
                                             nullptr, nullptr);
    request->setHTTPMethod("GET");
    fetch(request, &SHRTwitter::sendUserInfoDidFinishWithData, &SHRTwitter::sendUserInfoDidFailWithError);
}

void SHRTwitter::sendStatus() {
    auto request = OAMutableURLRequest::make(apiURL("/1/statuses/update.json"), consumer(), accessToken(), nullptr,
                                             nullptr);
    request->setHTTPMethod("POST");
    request->setParameters(ns::Array::make({OARequestParameter::requestParameterWithName(
                                                "status", textOrEmpty(item()->customValueForKey("status")))})
                               .get());
    fetch(request, &SHRTwitter::sendStatusTicketDidFinishWithData, &SHRTwitter::sendStatusTicketDidFailWithError);
}

void SHRTwitter::followMe() {
    item()->setCustomValueForKey(nullptr, "followMe");
    auto request = OAMutableURLRequest::make(apiURL(ns::format("/1/friendships/create/%@.json", followAccount())),
                                             consumer(), accessToken(), nullptr, nullptr);
    request->setHTTPMethod("POST");
    fetch(request, nullptr, nullptr);
}

ns::Ref<ns::Data> SHRTwitter::uploadImageData(const ui::Image* image, const JPEGEncoder& encode) {
    int tenths = 9;
    auto data = encode(image, tenths / 10.0);
    while (data && data->length() > kSHRTwitterMaxImageBytes && tenths > 1) {
        --tenths;
        data = encode(image, tenths / 10.0);
    }
    return data;
}

void SHRTwitter::sendImage() {
    bool profileUpdate = item()->customValueForKey("profile_update") != nullptr;
    auto realm = ns::str(apiBaseURL() + "/");
    auto credentials = OAMutableURLRequest::make(
        apiURL(profileUpdate ? "/1/account/update_profile_image.json" : "/1/account/verify_credentials.json"),
        consumer(), accessToken(), realm, signatureProvider());
    credentials->setHTTPMethod("GET");
    credentials->prepare();
    ns::Ref<OAMutableURLRequest> request = credentials;
    if (!profileUpdate) {
        std::string authorization = credentials->valueForHTTPHeaderField("Authorization").value_or("");
        credentials = nullptr;
        request = OAMutableURLRequest::make(ns::URL::URLWithString(imageHostBaseURL() + "/api/2/upload.xml"),
                                            consumer(), accessToken(), realm, signatureProvider());
        request->setHTTPMethod("POST");
        request->setValueForHTTPHeaderField(apiBaseURL() + "/1/account/verify_credentials.json",
                                            "X-Auth-Service-Provider");
        request->setValueForHTTPHeaderField(authorization, "X-Verify-Credentials-Authorization");
    }
    auto jpeg = uploadImageData(item()->image().get(), [](const ui::Image* i, double q) {
        return imageJPEGRepresentation(i, q);
    });
    std::string boundary = kSHRTwitterBoundary;
    request->setValueForHTTPHeaderField("multipart/form-data; boundary=" + boundary, "Content-Type");
    std::string body = "--" + boundary + "\r\n";
    body += profileUpdate ? "Content-Disposition: form-data; name=\"image\"; filename=\"upload.jpg\"\r\n"
                          : "Content-Disposition: form-data; name=\"media\"; filename=\"upload.jpg\"\r\n";
    body += "Content-Type: image/jpg\r\n\r\n";
    if (jpeg) body.append(jpeg->view());
    body += "\r\n";
    if (!profileUpdate) {
        body += "--" + boundary + "\r\n";
        body += "Content-Disposition: form-data; name=\"message\"\r\n\r\n";
        body += textOrEmpty(item()->customValueForKey("status"));
        body += "\r\n";
    }
    body += "--" + boundary + "--\r\n";
    request->setHTTPBody(ns::Data::make(body));
    sendDidStart();
    fetch(request, &SHRTwitter::sendImageTicketDidFinishWithData, &SHRTwitter::sendImageTicketDidFailWithError);
}

// -- Replies ------------------------------------------------------------------------------

void SHRTwitter::sendStatusTicketDidFinishWithData(OAServiceTicket* ticket, ns::Data* data) {
    if (ticket->didSucceed()) sendDidFinish();
    else handleUnsuccessfulTicket(data);
}

void SHRTwitter::sendStatusTicketDidFailWithError(OAServiceTicket*, ns::Error* error) {
    sendDidFailWithError(ns::Ref<ns::Error>(error));
}

void SHRTwitter::sendImageTicketDidFinishWithData(OAServiceTicket* ticket, ns::Data* data) {
    if (!ticket->didSucceed()) {
        sendDidFailWithError(nullptr);
        return;
    }
    std::string_view reply = data ? data->view() : std::string_view();
    size_t open = findNoCase(reply, "<url>");
    size_t close = open == std::string_view::npos ? open : findNoCase(reply, "</url>", open + 5);
    if (open == std::string_view::npos || close == std::string_view::npos) {
        // The image host answered without the picture's link: the tweet
        // cannot be made, and the send must still end.
        sendDidFailWithError(SHR::error("%@", SHRLocalizedString("There was an error while sharing")));
        return;
    }
    std::string link(reply.substr(open + 5, close - open - 5));
    item()->setCustomValueForKey(
        ns::str(ns::format("%@ %@", textOrEmpty(item()->customValueForKey("status")), link)), "status");
    sendStatus();
}

void SHRTwitter::sendImageTicketDidFailWithError(OAServiceTicket*, ns::Error* error) {
    sendDidFailWithError(ns::Ref<ns::Error>(error));
}

void SHRTwitter::sendUserInfoDidFinishWithData(OAServiceTicket* ticket, ns::Data* data) {
    if (!ticket->didSucceed()) {
        handleUnsuccessfulTicket(data);
        return;
    }
    ns::Ref<ns::Error> error;
    ns::Ref<ns::Object> decoded;
    if (data) decoded = json::JSONDecoder::decoder()->mutableObjectWithDataError(data, &error);
    auto* dict = ns::as<ns::MutableDictionary>(decoded.get());
    if (!dict) {
        // A reply that is not a JSON object is not account information.
        sendDidFailWithError(error ? error : SHR::errorWithDescription(SHRLocalizedString("There was an error while sharing")));
        return;
    }
    convertNSNullsToEmptyStrings(dict);
    // The defaults hold property lists only: the stored copy is made of
    // standard collections, and a null left inside a list is stored as ""
    // (otherwise the whole account information could not be kept).
    if (!SHR::setDefaultsValues({{kSHRTwitterUserInfo, SHRStorableJSONCopy(dict)}})) {
        sendDidFailWithError(SHR::errorWithDescription(SHRLocalizedString("There was an error while sharing")));
        return;
    }
    sendDidFinish();
}

void SHRTwitter::sendUserInfoDidFailWithError(OAServiceTicket*, ns::Error* error) {
    sendDidFailWithError(ns::Ref<ns::Error>(error));
}

void SHRTwitter::convertNSNullsToEmptyStrings(ns::MutableDictionary* dict) {
    if (!dict) return;
    auto keys = dict->allKeys();
    for (size_t i = 0; i < keys->count(); ++i) {
        auto* key = ns::as<ns::String>(keys->objectAtIndex(i));
        if (!key) continue;
        ns::Object* value = dict->objectForKey(key->view());
        if (ns::as<ns::Null>(value)) dict->setObject(ns::str(""), key->view());
        else if (auto* nested = ns::as<ns::MutableDictionary>(value)) convertNSNullsToEmptyStrings(nested);
    }
}

void SHRTwitter::handleUnsuccessfulTicket(ns::Data* data) {
    std::string_view reply = data ? data->view() : std::string_view();
    std::string errorText = "Unknown Error";
    constexpr std::string_view marker = "\"error\":\"";
    size_t at = reply.find(marker);
    if (at != std::string_view::npos) {
        size_t from = at + marker.size();
        size_t end = reply.find('"', from);
        errorText = std::string(reply.substr(from, end == std::string_view::npos ? std::string_view::npos : end - from));
    }
    if (errorText == "Invalid / used nonce" || errorText == "Could not authenticate with OAuth.") {
        sendDidFailShouldRelogin();
        return;
    }
    sendDidFailWithError(ns::Error::withDescription(kSHRTwitterErrorDomain, 2, errorText));
}

// -- Registration ----------------------------------------------------------------------

void registerTwitterSharers() {
    static std::once_flag once;
    std::call_once(once, [] {
        SHRSharer::registerSharerClass("SHRTwitter", [] { return ns::Ref<SHRSharer>(ns::make<SHRTwitter>()); });
        SHRSharer::registerSharerClass("SHRiOS5Twitter",
                                       [] { return ns::Ref<SHRSharer>(ns::make<SHRiOS5Twitter>()); });
    });
}

namespace {
const bool registered = (registerTwitterSharers(), true);
}

}  // namespace sharing
