// Saves a link as a shared note in Google Reader. Sign-in is ClientLogin:
// e-mail and password are exchanged for name=value lines whose "Auth" value
// (with the other lines, as cookies) signs every later call; each send
// fetches a fresh edit token first. The login answer lives only as long as
// the sharer object; the e-mail and password are kept in the keychain by the
// sharer base. Main thread only.
#pragma once

#include <string>

#include "platform/foundation/ServiceEndpoints.h"
#include "sharing/core/SHRRequest.h"
#include "sharing/core/SHRSharer.h"

namespace sharing {

class SHRGoogleReader : public SHRSharer {
public:
    const char* className() const override { return "SHRGoogleReader"; }

    std::string sharerTitle() const override;
    bool canShareURL() const override { return true; }
    ns::Ref<ns::Array> authorizationFormFields() const override;
    ns::Ref<ns::String> authorizationFormCaption() const override;

    void authorizationFormValidate(SHRFormController* form) override;
    void getSession(ns::Ref<ns::String> email, ns::Ref<ns::String> password);
    void authFinished(SHRRequest* request);
    ns::Ref<ns::Array> shareFormFieldsForType(int type) override;
    void shareFormSave(SHRFormController* form) override;
    void signRequest(SHRRequest* request);
    bool send() override;
    void tokenFinished(SHRRequest* request);
    void sendWithToken(ns::Ref<ns::String> token);
    void sendFinished(SHRRequest* request);

    ns::MutableDictionary* session() const { return session_.get(); }
    void setSession(ns::Ref<ns::MutableDictionary> s) { session_ = std::move(s); }
    bool sendAfterLogin() const { return sendAfterLogin_; }
    void setSendAfterLogin(bool b) { sendAfterLogin_ = b; }

    // "Sharing-Fenwarel App-0.2.1".
    static std::string sourceString();

    // The service's addresses in the table of outside services: the login
    // and the edit go over HTTPS, the edit token is fetched over plain HTTP.
    static constexpr ns::ServiceEndpoint kService{"google-reader", "https://www.google.com"};
    static constexpr ns::ServiceEndpoint kTokenService{"google-reader-token", "http://www.google.com"};
    static std::string loginURL();
    static std::string tokenURL();
    static std::string editURL();
    static std::string cookieDomain();
    static std::string productWebSite();

private:
    ns::Ref<ns::MutableDictionary> session_;
    bool sendAfterLogin_ = false;
};

// Adds SHRGoogleReader to the sharer registry.
void registerGoogleReaderSharer();

}  // namespace sharing
