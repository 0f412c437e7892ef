#include "sharing/sharers/linkedin/SHRLinkedIn.h"

#include <algorithm>
#include <vector>

#include "platform/foundation/Format.h"
#include "platform/ui/Color.h"
#include "platform/ui/NavigationController.h"
#include "sharing/core/SHR.h"
#include "sharing/ui/SHRActivityIndicator.h"

namespace sharing {

namespace {
ns::Ref<ns::URL> serviceURL(const ns::ServiceEndpoint& service, std::string_view path) {
    return ns::URL::URLWithString(ns::ServiceEndpoints::url(service, path));
}
struct Registrar {
    Registrar() { registerLinkedInSharer(); }
} registrar;
}  // namespace

void registerLinkedInSharer() {
    SHRSharer::registerSharerClass("SHRLinkedIn", [] { return ns::Ref<SHRSharer>(ns::make<SHRLinkedIn>()); });
}

// -- Request with a callback ------------------------------------------------------------

ns::Ref<SHRLinkedInOAMutableURLRequest> SHRLinkedInOAMutableURLRequest::make(
    ns::Ref<ns::URL> url, ns::Ref<OAConsumer> consumer, ns::Ref<OAToken> token, ns::Ref<ns::String> realm,
    ns::Ref<ns::Object> signatureProvider, std::string callback, std::string nonce, std::string timestamp) {
    auto r = ns::make<SHRLinkedInOAMutableURLRequest>();
    r->setUp(std::move(url), std::move(consumer), std::move(token), std::move(realm), std::move(signatureProvider),
             std::move(nonce), std::move(timestamp));
    r->callback_ = std::move(callback);
    return r;
}

namespace {
std::vector<std::pair<std::string, std::string>> sortedExtras(const ns::MutableDictionary* extras) {
    std::vector<std::pair<std::string, std::string>> items;
    if (extras)
        for (size_t i = 0; i < extras->count(); ++i)
            items.emplace_back(ns::describe(extras->keyAtIndex(i)), ns::describe(extras->valueAtIndex(i)));
    std::sort(items.begin(), items.end());
    return items;
}
}  // namespace

std::string SHRLinkedInOAMutableURLRequest::_signatureBaseString() const {
    std::vector<std::string> pairs;
    auto pair = [](std::string_view n, std::string_view v) { return OAURLEncodedString(n) + "=" + OAURLEncodedString(v); };
    if (!callback_.empty()) pairs.push_back(pair("oauth_callback", callback_));
    pairs.push_back(pair(kConsumerKeyParameter, consumer() ? consumer()->key() : std::string()));
    pairs.push_back(pair("oauth_signature_method", provider()->name()));
    pairs.push_back(pair("oauth_timestamp", timestamp()));
    pairs.push_back(pair("oauth_nonce", nonce()));
    pairs.push_back(pair("oauth_version", "1.0"));
    std::string tokenKey = token()->keyText();
    if (!tokenKey.empty()) pairs.push_back(pair("oauth_token", tokenKey));
    for (auto& [n, v] : sortedExtras(extraOAuthParameters())) pairs.push_back(pair(n, v));
    auto contentType = valueForHTTPHeaderField("Content-Type");
    if (!contentType || contentType->rfind("multipart/form-data", 0) != 0) {
        if (auto params = parameters())
            for (ns::Object* o : *params) pairs.push_back(static_cast<OARequestParameter*>(o)->URLEncodedNameValuePair());
    }
    std::sort(pairs.begin(), pairs.end());
    std::string joined;
    for (size_t i = 0; i < pairs.size(); ++i) {
        if (i) joined += '&';
        joined += pairs[i];
    }
    std::string urlText = URL() ? OAURLStringWithoutQuery(*URL()) : std::string();
    return HTTPMethod() + "&" + OAURLEncodedString(urlText) + "&" + OAURLEncodedString(joined);
}

void SHRLinkedInOAMutableURLRequest::prepare() {
    if (didPrepare()) return;
    setDidPrepare(true);
    std::string secret = OAURLEncodedString(consumer() ? consumer()->secret() : std::string()) + "&" +
                         OAURLEncodedString(token()->secretText());
    setSignature(provider()->signClearTextWithSecret(_signatureBaseString(), secret));
    std::string callbackPart = callback_.empty() ? std::string()
                                                 : "oauth_callback=\"" + OAURLEncodedString(callback_) + "\", ";
    std::string tokenKey = token()->keyText();
    std::string tokenPart = tokenKey.empty() ? std::string() : "oauth_token=\"" + OAURLEncodedString(tokenKey) + "\", ";
    std::string extra;
    for (auto& [n, v] : sortedExtras(extraOAuthParameters()))
        extra += ", " + OAURLEncodedString(n) + "=\"" + OAURLEncodedString(v) + "\"";
    std::string header = "OAuth realm=\"" + OAURLEncodedString(realm()) + "\", " + callbackPart +
                         kConsumerKeyParameter + "=\"" + OAURLEncodedString(consumer() ? consumer()->key() : std::string()) +
                         "\", " + tokenPart + "oauth_signature_method=\"" + OAURLEncodedString(provider()->name()) +
                         "\", oauth_signature=\"" + OAURLEncodedString(signature()) + "\", oauth_timestamp=\"" +
                         timestamp() + "\", oauth_nonce=\"" + nonce() + "\", oauth_version=\"1.0\"" + extra;
    setValueForHTTPHeaderField(header, "Authorization");
}

// -- Sharer --------------------------------------------------------------------------------

SHRLinkedIn::SHRLinkedIn() {
    setConsumerKey("");
    setSecretKey("");
    setAuthorizeCallbackURL(nullptr);
    setRequestURL(serviceURL(kService, "/uas/oauth/requestToken"));
    setAuthorizeURL(serviceURL(kWebService, "/uas/oauth/authorize"));
    setAccessURL(serviceURL(kService, "/uas/oauth/accessToken"));
    setSignatureProvider(ns::make<OAHMAC_SHA1SignatureProvider>());
}

void SHRLinkedIn::tokenAccess(bool refresh) {
    if (!refresh) SHRActivityIndicator::currentIndicator()->displayActivity(SHRLocalizedString("Authenticating..."));
    std::string callback = authorizeCallbackURL() ? authorizeCallbackURL()->absoluteText() : std::string();
    auto request = SHRLinkedInOAMutableURLRequest::make(accessURL(), consumer(), refresh ? accessToken() : requestToken(),
                                                        nullptr, signatureProvider(), callback);
    request->setHTTPMethod("POST");
    tokenAccessModifyRequest(request.get());
    ns::Weak<SHRLinkedIn> self(this);
    accessFetcher_ = OAAsynchronousDataFetcher::asynchronousFetcherWithRequest(
        request, ns::keepAlive(this),
        [self](OAServiceTicket* t, ns::Data* d) {
            if (auto s = self.lock()) {
                s->accessFetcher_ = nullptr;
                s->tokenAccessTicketDidFinishWithData(t, d);
            }
        },
        [self](OAServiceTicket* t, ns::Error* e) {
            if (auto s = self.lock()) {
                s->accessFetcher_ = nullptr;
                s->tokenAccessTicketDidFailWithError(t, e);
            }
        });
    accessFetcher_->start();
}

void SHRLinkedIn::tokenAccessModifyRequest(OAMutableURLRequest* request) {
    auto* vars = authorizeResponseQueryVars().get();
    ns::String* verifier = vars ? vars->stringForKey("oauth_verifier") : nullptr;
    request->setOAuthParameterNameWithValue("oauth_verifier", verifier ? verifier->view() : std::string_view());
}

void SHRLinkedIn::show() {
    auto type = item()->shareType();
    if (type == SHRShareTypeText || type == SHRShareTypeURL) showSHRTextForm();
}

void SHRLinkedIn::showSHRTextForm() {
    auto form = ns::make<SHRFormControllerLargeTextField>();
    form->setDelegate(this, &SHRLinkedIn::sendForm);
    if (item()->shareType() == SHRShareTypeURL) {
        form->setText(item()->title() ? std::string(item()->title()->utf8()) : std::string());
        form->setHasLink(true);
    } else {
        form->setText(item()->text() ? std::string(item()->text()->utf8()) : std::string());
    }
    form->setMaxTextLength(700);
    navigationBar()->setTintColor(ui::Color::colorWithRGBA(-1.0, -1.0, -1.0, 1.0));
    pushViewController(form, false);
    SHR::currentHelper()->showViewController(ns::keepAlive(this));
}

void SHRLinkedIn::sendForm(SHRFormControllerLargeTextField* form) {
    auto keep = ns::keepAlive(this);
    auto text = ns::str(form->text());
    if (item()->shareType() == SHRShareTypeURL) item()->setTitle(text);
    else item()->setText(text);
    tryToSend();
}

bool SHRLinkedIn::validateItem() {
    if (!SHROAuthSharer::validateItem()) return false;
    if (item()->shareType() == SHRShareTypeURL && !item()->title()) return false;
    return true;
}

std::string SHRLinkedIn::escapeXML(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

bool SHRLinkedIn::send() {
    if (!validateItem()) return false;
    auto type = item()->shareType();
    if (type != SHRShareTypeText && type != SHRShareTypeURL) return false;
    auto request = OAMutableURLRequest::make(serviceURL(kShareService, "/v1/people/~/shares"), consumer(),
                                             accessToken(), nullptr, signatureProvider());
    request->setHTTPMethod("POST");
    request->prepare();
    const ns::String* commentText = type == SHRShareTypeURL ? item()->title().get() : item()->text().get();
    std::string comment = escapeXML(commentText ? commentText->view() : std::string_view());
    std::string content;
    if (type == SHRShareTypeURL)
        content = ns::format("<content><submitted-url>%@</submitted-url></content>",
                             escapeXML(item()->URL()->absoluteText()));
    ns::String* code = item()->customValueForKey("visibility.code");
    std::string body = ns::format(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><share><comment>%@</comment>%@<visibility><code>%@</code>"
        "</visibility></share>",
        comment, content, code ? code->utf8() : std::string("anyone"));
    request->setHTTPBody(ns::Data::make(body));
    request->setValueForHTTPHeaderField("text/xml;charset=UTF-8", "Content-Type");
    ns::Weak<SHRLinkedIn> self(this);
    sendFetcher_ = OAAsynchronousDataFetcher::asynchronousFetcherWithRequest(
        request, ns::keepAlive(this),
        [self](OAServiceTicket* t, ns::Data* d) { if (auto s = self.lock()) s->sendTicketDidFinishWithData(t, d); },
        [self](OAServiceTicket* t, ns::Error* e) { if (auto s = self.lock()) s->sendTicketDidFailWithError(t, e); });
    sendFetcher_->start();
    sendDidStart();
    return true;
}

void SHRLinkedIn::sendTicketDidFinishWithData(OAServiceTicket* ticket, ns::Data*) {
    auto keep = ns::keepAlive(this);
    sendFetcher_ = nullptr;
    if (ticket->didSucceed()) sendDidFinish();
    else sendDidFailWithErrorShouldRelogin(SHR::error("%@", "Why it failed"), false);
}

void SHRLinkedIn::sendTicketDidFailWithError(OAServiceTicket*, ns::Error* error) {
    auto keep = ns::keepAlive(this);
    sendFetcher_ = nullptr;
    sendDidFailWithErrorShouldRelogin(error ? ns::Ref<ns::Error>(error) : SHR::error("%@", "Why it failed"), false);
}

}  // namespace sharing
