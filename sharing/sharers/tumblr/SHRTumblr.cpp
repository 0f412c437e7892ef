#include "sharing/sharers/tumblr/SHRTumblr.h"

#include "platform/foundation/Format.h"
#include "platform/network/Origin.h"
#include "platform/ui/AlertView.h"
#include "sharing/core/ImageCoding.h"
#include "sharing/core/SHR.h"
#include "sharing/ui/SHRActivityIndicator.h"
#include "sharing/ui/SHRFormController.h"

namespace sharing {

namespace {
constexpr const char* kTumblrSite = "Tumblr.com";
struct Registrar {
    Registrar() { registerTumblrSharer(); }
} registrar;
}  // namespace

void registerTumblrSharer() {
    SHRSharer::registerSharerClass("SHRTumblr", [] { return ns::Ref<SHRSharer>(ns::make<SHRTumblr>()); });
}

// Forwards the photo connection's events to the sharer, which it keeps
// until the connection is done. The upload carries the password: a redirect
// to another origin is not followed, and its answer fails the post.
class SHRTumblr::Receiver : public net::URLConnectionDelegate {
public:
    explicit Receiver(SHRTumblr* s) : sharer_(s) {}
    ns::Ref<net::URLRequest> connectionWillSendRequest(net::URLConnection& c, net::URLRequest& next,
                                                       const net::HTTPURLResponse* redirect) override {
        const auto& from = c.originalRequest() ? c.originalRequest()->URL() : nullptr;
        if (redirect && !(from && next.URL() && net::isSameOrigin(*from, *next.URL()))) return nullptr;
        return URLConnectionDelegate::connectionWillSendRequest(c, next, redirect);
    }
    void connectionDidReceiveResponse(net::URLConnection& c, const net::HTTPURLResponse& r) override {
        sharer_->connectionDidReceiveResponse(&c, const_cast<net::HTTPURLResponse*>(&r));
    }
    void connectionDidReceiveData(net::URLConnection& c, const ns::Data& d) override {
        sharer_->connectionDidReceiveData(&c, d);
    }
    void connectionDidFinishLoading(net::URLConnection& c) override { sharer_->connectionDidFinishLoading(&c); }
    void connectionDidFailWithError(net::URLConnection& c, const ns::Error& e) override {
        sharer_->connectionDidFailWithError(&c, e);
    }

private:
    ns::Ref<SHRTumblr> sharer_;
};

ns::Ref<ns::Array> SHRTumblr::authorizationFormFields() const {
    return ns::Array::make({
        SHRFormFieldSettings::label(SHRLocalizedString("Email"), "email", SHRFormFieldTypeTextNoCorrect, nullptr),
        SHRFormFieldSettings::label(SHRLocalizedString("Password"), "password", SHRFormFieldTypePassword, nullptr),
    });
}

ns::Ref<ns::String> SHRTumblr::authorizationFormCaption() const {
    return ns::str(SHRLocalizedString("Create a free account at %@", kTumblrSite));
}

void SHRTumblr::authorizationFormValidate(SHRFormController* form) {
    if (!quiet()) SHRActivityIndicator::currentIndicator()->displayActivity(SHRLocalizedString("Logging In..."));
    auto values = form->formValues();
    std::string body = ns::format("email=%@&password=%@", SHREncodeCredential(values->stringForKey("email")),
                                  SHREncodeCredential(values->stringForKey("password")));
    auto url = ns::URL::URLWithString(ns::ServiceEndpoints::url(kService, "/api/authenticate"));
    setRequest(SHRRequest::callingWithCredentials(this, &SHRTumblr::authFinished, url, ns::str(body), "POST"));
    setPendingForm(ns::Ref<SHRFormController>(form));
}

void SHRTumblr::authFinished(SHRRequest* request) {
    int status = request->response() ? request->response()->statusCode() : 0;
    finishFormLogin(request->success(),
                    status == 403 ? SHRLocalizedString("Invalid email or password.")
                                  : SHRLocalizedString("The service encountered an error. Please try again later."));
}

ns::Ref<ns::Array> SHRTumblr::shareFormFieldsForType(int type) {
    auto* item = this->item().get();
    bool photo = type == SHRShareTypeImage;
    return ns::Array::make({
        photo ? SHRFormFieldSettings::label(SHRLocalizedString("Caption"), "caption", SHRFormFieldTypeText, nullptr)
              : SHRFormFieldSettings::label(SHRLocalizedString("Title"), "title", SHRFormFieldTypeText, item->title()),
        SHRFormFieldSettings::label(SHRLocalizedString("Tag,Tag"), "tags", SHRFormFieldTypeText, item->tags()),
        SHRFormFieldSettings::label(SHRLocalizedString("Slug"), "slug", SHRFormFieldTypeText, nullptr),
        SHRFormFieldSettings::label(SHRLocalizedString("Private"), "private", SHRFormFieldTypeSwitch, ns::str("0")),
        SHRFormFieldSettings::label(SHRLocalizedString("Send to Twitter"), "twitter", SHRFormFieldTypeSwitch,
                                    ns::str("0")),
    });
}

ns::Ref<ns::Data> SHRTumblr::generateImageData() { return imageJPEGRepresentation(item()->image().get(), 0.9); }

bool SHRTumblr::send() {
    if (!validateItem()) return false;
    auto* item = this->item().get();
    auto email = getAuthValueForKey("email");
    auto password = getAuthValueForKey("password");
    auto url = ns::URL::URLWithString(ns::ServiceEndpoints::url(kService, "/api/write"));
    if (item->shareType() == SHRShareTypeURL || item->shareType() == SHRShareTypeText) {
        std::string body = ns::format("email=%@&password=%@", SHREncodeCredential(email.get()),
                                      SHREncodeCredential(password.get()));
        body += ns::format("&generator=%@", kGeneratorName);
        body += item->customBoolForSwitchKey("twitter") ? "&send-to-twitter=auto" : "&send-to-twitter=no";
        // Tags and slug are escaped like every other value: a tag such as
        // "Q&A" or "c++" would otherwise split the body or lose its "+".
        if (item->tags()) body += "&tags=" + SHREncode(item->tags().get());
        if (auto* slug = item->customValueForKey("slug")) body += "&slug=" + SHREncode(slug);
        body += item->customBoolForSwitchKey("private") ? "&private=1" : "&private=0";
        if (item->shareType() == SHRShareTypeURL) {
            body += "&type=link";
            body += "&url=" + SHREncodeURL(item->URL().get());
            if (item->title()) body += "&name=" + SHREncode(item->title().get());
        } else {
            body += "&type=regular";
            if (item->title()) body += "&title=" + SHREncode(item->title().get());
            body += "&body=" + SHREncode(item->text().get());
        }
        setRequest(SHRRequest::callingWithCredentials(this, &SHRTumblr::sendFinished, url, ns::str(body), "POST"));
        sendDidStart();
        return true;
    }
    if (item->shareType() != SHRShareTypeImage) return false;
    auto imageData = generateImageData();
    if (!imageData) return false;
    auto request = net::URLRequest::requestWithURL(url);
    request->setHTTPMethod("POST");
    request->addValueForHTTPHeaderField(ns::format("multipart/form-data; boundary=%@", kBoundary), "Content-Type");
    auto body = ns::MutableData::make();
    auto part = [&](const std::string& header, std::string_view value) {
        body->appendString(ns::format("\r\n--%@\r\n", kBoundary));
        body->appendString(header);
        body->appendString("\r\n\r\n");
        body->appendString(value);
    };
    auto text = [](const ns::String* s) { return s ? s->utf8() : std::string_view(); };
    part("Content-Disposition: form-data; name=\"email\"", text(email.get()));
    part("Content-Disposition: form-data; name=\"password\"", text(password.get()));
    part("Content-Disposition: form-data; name=\"type\"", "photo");
    part("Content-Disposition: form-data; name=\"generator\"", kGeneratorName);
    if (item->tags()) part("Content-Disposition: form-data; name=\"tags\"", item->tags()->utf8());
    if (auto* caption = item->customValueForKey("caption"))
        part("Content-Disposition: form-data; name=\"caption\"", caption->utf8());
    if (auto* slug = item->customValueForKey("slug")) part("Content-Disposition: form-data; name=\"slug\"", slug->utf8());
    part("Content-Disposition: form-data; name=\"private\"", item->customBoolForSwitchKey("private") ? "1" : "0");
    part("Content-Disposition: form-data; name=\"twitter\"", item->customBoolForSwitchKey("twitter") ? "auto" : "no");
    part("Content-Disposition: form-data; name=\"data\"; filename=\"upload.jpg\"\r\nContent-Transfer-Encoding: image/jpg",
         imageData->view());
    body->appendString(ns::format("\r\n--%@--\r\n", kBoundary));
    request->setHTTPBody(body);
    response_ = nullptr;
    connection_ = net::URLConnection::connectionWithRequest(request, ns::make<Receiver>(this));
    sendDidStart();
    if (!connection_) finish();
    return true;
}

void SHRTumblr::connectionDidReceiveResponse(net::URLConnection*, net::HTTPURLResponse* response) {
    response_ = ns::Ref<net::HTTPURLResponse>(response);
    if (data_) data_->setLength(0);
}

void SHRTumblr::connectionDidReceiveData(net::URLConnection*, const ns::Data& data) {
    if (data_) data_->appendData(data);
}

void SHRTumblr::sendFinished(SHRRequest* request) {
    decide(request->success(), request->response() ? request->response()->statusCode() : 0);
}

void SHRTumblr::finish() {
    connection_ = nullptr;
    int status = response_ ? response_->statusCode() : 0;
    decide(status == 200 || status == 201, status);
}

void SHRTumblr::decide(bool success, int status) {
    auto keep = ns::keepAlive(this);
    if (success) sendDidFinish();
    else if (status == 403)
        sendDidFailWithErrorShouldRelogin(SHR::error("%@", SHRLocalizedString("Invalid email or password.")), true);
    else if (status == 500)
        sendDidFailWithError(
            SHR::error("%@", SHRLocalizedString("The service encountered an error. Please try again later.")));
    else sendDidFailWithError(SHR::error("%@", SHRLocalizedString("There was an error sending your post to Tumblr.")));
}

}  // namespace sharing
