// Posts a comment, with a link for URL items, to the user's LinkedIn
// network. An OAuth 1.0 sharer whose access-token request also signs and
// sends the callback (oauth_callback) and the authorise page's verifier.
#pragma once

#include "platform/foundation/ServiceEndpoints.h"
#include "sharing/oauth/OAuth.h"
#include "sharing/oauth/SHROAuthSharer.h"
#include "sharing/ui/SHRFormControllerLargeTextField.h"

namespace sharing {

// An OAuth request that also signs and sends "oauth_callback" (when the
// callback is not empty).
class SHRLinkedInOAMutableURLRequest : public OAMutableURLRequest {
public:
    static ns::Ref<SHRLinkedInOAMutableURLRequest> make(ns::Ref<ns::URL> url, ns::Ref<OAConsumer> consumer,
                                                        ns::Ref<OAToken> token, ns::Ref<ns::String> realm,
                                                        ns::Ref<ns::Object> signatureProvider, std::string callback,
                                                        std::string nonce = {}, std::string timestamp = {});
    const char* className() const override { return "SHRLinkedInOAMutableURLRequest"; }
    const std::string& callback() const { return callback_; }
    void prepare() override;
    std::string _signatureBaseString() const override;

private:
    std::string callback_;
};

class SHRLinkedIn : public SHROAuthSharer {
public:
    SHRLinkedIn();
    const char* className() const override { return "SHRLinkedIn"; }
    std::string sharerTitle() const override { return "LinkedIn"; }
    bool canShareURL() const override { return true; }
    bool canShareText() const override { return true; }
    bool canShare() const override { return true; }
    bool canAutoShare() const override { return false; }

    using SHROAuthSharer::tokenAccess;
    void tokenAccess(bool refresh) override;
    void tokenAccessModifyRequest(OAMutableURLRequest* request) override;

    void show() override;
    void showSHRTextForm();
    void sendForm(SHRFormControllerLargeTextField* form);
    bool validateItem() override;
    bool send() override;
    void sendTicketDidFinishWithData(OAServiceTicket* ticket, ns::Data* data);
    void sendTicketDidFailWithError(OAServiceTicket* ticket, ns::Error* error);

    // The service's addresses in the table of outside services: the API
    // (tokens), the web pages (authorisation) and the API host again over
    // plain HTTP, where the share request goes.
    static constexpr ns::ServiceEndpoint kService{"linkedin", "https://api.linkedin.com"};
    static constexpr ns::ServiceEndpoint kWebService{"linkedin-web", "https://www.linkedin.com"};
    static constexpr ns::ServiceEndpoint kShareService{"linkedin-share", "http://api.linkedin.com"};

private:
    ns::Ref<OAAsynchronousDataFetcher> sendFetcher_;
    ns::Ref<OAAsynchronousDataFetcher> accessFetcher_;
};

void registerLinkedInSharer();

}  // namespace sharing
