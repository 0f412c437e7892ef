#include "sharing/sharers/readitlater/SHRReadItLater.h"

#include <strings.h>

#include "platform/foundation/Format.h"
#include "platform/ui/AlertView.h"
#include "sharing/core/SHR.h"
#include "sharing/ui/SHRActivityIndicator.h"
#include "sharing/ui/SHRFormController.h"

namespace sharing {

namespace {
constexpr const char* kReadItLaterSite = "Readitlaterlist.com";
constexpr const char* kReadItLaterAPIKey = "";
struct Registrar {
    Registrar() { registerReadItLaterSharer(); }
} registrar;
}  // namespace

void registerReadItLaterSharer() {
    SHRSharer::registerSharerClass("SHRReadItLater", [] { return ns::Ref<SHRSharer>(ns::make<SHRReadItLater>()); });
}

std::string SHRReplyHeader(const SHRRequest* request, std::string_view name) {
    auto* headers = request ? request->headers() : nullptr;
    if (!headers) return {};
    for (size_t i = 0; i < headers->count(); ++i) {
        std::string key = ns::describe(headers->keyAtIndex(i));
        if (key.size() == name.size() && strncasecmp(key.data(), name.data(), name.size()) == 0)
            return ns::describe(headers->valueAtIndex(i));
    }
    return {};
}

std::string SHRReadItLater::apiKey() { return kReadItLaterAPIKey; }

ns::Ref<ns::String> SHRReadItLater::authorizationFormCaption() const {
    return ns::str(SHRLocalizedString("Create a free account at %@", kReadItLaterSite));
}

void SHRReadItLater::authorizationFormValidate(SHRFormController* form) {
    if (!quiet()) SHRActivityIndicator::currentIndicator()->displayActivity(SHRLocalizedString("Logging In..."));
    auto values = form->formValues();
    std::string body = ns::format("apikey=%@&username=%@&password=%@", apiKey(),
                                  SHREncodeCredential(values->stringForKey("username")),
                                  SHREncodeCredential(values->stringForKey("password")));
    auto url = ns::URL::URLWithString(ns::ServiceEndpoints::url(kService, "/v2/auth"));
    setRequest(SHRRequest::callingWithCredentials(this, &SHRReadItLater::authFinished, url, ns::str(body), "POST"));
    setPendingForm(ns::Ref<SHRFormController>(form));
}

void SHRReadItLater::authFinished(SHRRequest* request) {
    // The service's own words when it gave any (a refusal names its
    // reason); an answer without them (no answer, a redirect elsewhere)
    // still gets a message.
    std::string message = SHRReplyHeader(request, "X-Error");
    if (message.empty()) message = SHRLocalizedString("Sorry, Read It Later encountered an error. Please try again.");
    finishFormLogin(request->success(), message);
}

bool SHRReadItLater::send() {
    if (!validateItem()) return false;
    auto* item = this->item().get();
    // The texts sit inside JSON objects in the form body: escaped as JSON first, so a
    // quote or backslash in a title or tag arrives as typed instead of ending the string.
    auto jsonText = [](const ns::String* text) { return SHRJSONEscaped(text ? text->view() : std::string_view()); };
    std::string url = SHREncodeURL(item->URL().get());
    std::string newItem = ns::format("&new={\"0\":{\"url\":\"%@\",\"title\":\"%@\"}}", url, SHREncode(jsonText(item->title().get())));
    std::string tags;
    if (item->tags() && item->tags()->length() > 0)
        tags = ns::format("&update_tags={\"0\":{\"url\":\"%@\",\"tags\":\"%@\"}}", url, SHREncode(jsonText(item->tags().get())));
    std::string body = ns::format("apikey=%@&username=%@&password=%@%@%@", apiKey(),
                                  SHREncodeCredential(getAuthValueForKey("username").get()),
                                  SHREncodeCredential(getAuthValueForKey("password").get()), newItem, tags);
    auto address = ns::URL::URLWithString(ns::ServiceEndpoints::url(kService, "/v2/send"));
    setRequest(SHRRequest::callingWithCredentials(this, &SHRReadItLater::sendFinished, address, ns::str(body), "POST"));
    sendDidStart();
    return true;
}

void SHRReadItLater::sendFinished(SHRRequest* request) {
    auto keep = ns::keepAlive(this);
    if (request->success()) sendDidFinish();
    else if (request->response() && request->response()->statusCode() == 401) sendDidFailShouldRelogin();
    else sendDidFailWithError(SHR::error("%@", SHRReplyHeader(request, "X-Error")));
}

ns::Ref<ns::Array> SHRReadItLater::shareFormFieldsForType(int type) {
    if (type != SHRShareTypeURL) return nullptr;
    auto* item = this->item().get();
    return ns::Array::make({
        SHRFormFieldSettings::label(SHRLocalizedString("Title"), "title", SHRFormFieldTypeText, item->title()),
        SHRFormFieldSettings::label(SHRLocalizedString("Tags"), "tags", SHRFormFieldTypeText, item->tags()),
    });
}

}  // namespace sharing
