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

std::string SHRLinkedInOAMutableURLRequest::_signatureBaseString() const {
    return signatureBaseStringFor(normalizedParameters(callback_));
}

void SHRLinkedInOAMutableURLRequest::prepare() { prepareWithCallback(callback_); }

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

bool SHRLinkedIn::send() {
    if (!validateItem()) return false;
    auto type = item()->shareType();
    if (type != SHRShareTypeText && type != SHRShareTypeURL) return false;
    auto request = OAMutableURLRequest::make(serviceURL(kShareService, "/v1/people/~/shares"), consumer(),
                                             accessToken(), nullptr, signatureProvider());
    request->setHTTPMethod("POST");
    request->prepare();
    const ns::String* commentText = type == SHRShareTypeURL ? item()->title().get() : item()->text().get();
    std::string comment = SHRXMLEscaped(commentText ? commentText->view() : std::string_view());
    std::string content;
    if (type == SHRShareTypeURL)
        content = ns::format("<content><submitted-url>%@</submitted-url></content>",
                             SHRXMLEscaped(item()->URL()->absoluteText()));
    ns::String* code = item()->customValueForKey("visibility.code");
    std::string body = ns::format(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><share><comment>%@</comment>%@<visibility><code>%@</code>"
        "</visibility></share>",
        comment, content, code ? code->utf8() : std::string("anyone"));
    request->setHTTPBody(ns::Data::make(body));
    request->setValueForHTTPHeaderField("text/xml;charset=UTF-8", "Content-Type");
    sendFetcher_ = OAAsynchronousDataFetcher::fetcherTelling(this, request, &SHRLinkedIn::sendTicketDidFinishWithData,
                                                             &SHRLinkedIn::sendTicketDidFailWithError);
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
