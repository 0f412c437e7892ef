#include "sharing/sharers/instapaper/SHRInstapaper.h"

#include "platform/ui/AlertView.h"
#include "sharing/core/SHR.h"
#include "sharing/ui/SHRActivityIndicator.h"
#include "sharing/ui/SHRFormController.h"

namespace sharing {

namespace {

constexpr const char* kBadCredentials = "Sorry, Instapaper did not accept your credentials. Please try again.";

}  // namespace

std::string SHRInstapaper::authenticateURL() { return ns::ServiceEndpoints::url(kService, "/api/authenticate"); }
std::string SHRInstapaper::addURL() { return ns::ServiceEndpoints::url(kService, "/api/add"); }

std::string SHRInstapaper::sharerTitle() const { return SHRLocalizedString("Instapaper"); }

ns::Ref<ns::String> SHRInstapaper::authorizationFormCaption() const {
    return ns::str(SHRLocalizedString("Create a free account at %@", "instapaper.com"));
}

void SHRInstapaper::authorizationFormValidate(SHRFormController* form) {
    if (!quiet()) SHRActivityIndicator::currentIndicator()->displayActivity(SHRLocalizedString("Logging In..."));
    auto values = form->formValues();
    std::string body = ns::format("username=%@&password=%@", SHREncodeCredential(values->stringForKey("username")),
                                  SHREncodeCredential(values->stringForKey("password")));
    setRequest(SHRRequest::callingWithCredentials(this, &SHRInstapaper::authFinished,
                                                  ns::URL::URLWithString(authenticateURL()), ns::str(body), "POST"));
    setPendingForm(ns::Ref<SHRFormController>(form));
}

void SHRInstapaper::authFinished(SHRRequest* request) {
    int status = request->response() ? request->response()->statusCode() : 0;
    finishFormLogin(request->success(),
                    status == 403 ? SHRLocalizedString(kBadCredentials)
                                  : SHRLocalizedString("Sorry, Instapaper encountered an error. Please try again."));
}

bool SHRInstapaper::send() {
    if (!validateItem()) return false;
    auto keep = ns::keepAlive(this);
    std::string body = ns::format("url=%@&username=%@&password=%@", SHREncodeURL(item()->URL().get()),
                                  SHREncodeCredential(getAuthValueForKey("username").get()),
                                  SHREncodeCredential(getAuthValueForKey("password").get()));
    setRequest(SHRRequest::callingWithCredentials(this, &SHRInstapaper::sendFinished,
                                                  ns::URL::URLWithString(addURL()), ns::str(body), "POST"));
    sendDidStart();
    return true;
}

void SHRInstapaper::sendFinished(SHRRequest* request) {
    if (request->success()) {
        sendDidFinish();
        return;
    }
    int status = request->response() ? request->response()->statusCode() : 0;
    if (status == 403)
        sendDidFailWithErrorShouldRelogin(SHR::error("%@", SHRLocalizedString(kBadCredentials)), true);
    else if (status == 500)
        sendDidFailWithError(SHR::error("%@", SHRLocalizedString("The service encountered an error. Please try again later.")));
    else
        sendDidFailWithError(SHR::error("%@", SHRLocalizedString("There was a problem saving to Instapaper.")));
}

void registerInstapaperSharer() {
    SHRSharer::registerSharerClass("SHRInstapaper", [] { return ns::Ref<SHRSharer>(ns::make<SHRInstapaper>()); });
}

}  // namespace sharing
