// Saves a URL item as a bookmark at Pinboard with the user's name and
// password (sent as the URL's credentials). A reply of 401 means bad
// credentials: the user is asked to sign in again.
#pragma once

#include "platform/foundation/ServiceEndpoints.h"
#include "sharing/core/SHRRequest.h"
#include "sharing/core/SHRSharer.h"

namespace sharing {

class SHRPinboard : public SHRSharer {
public:
    const char* className() const override { return "SHRPinboard"; }
    std::string sharerTitle() const override { return "Pinboard"; }
    bool canShareURL() const override { return true; }
    ns::Ref<ns::String> authorizationFormCaption() const override;

    void authorizationFormValidate(SHRFormController* form) override;
    void authFinished(SHRRequest* request);
    bool handleResponse(SHRRequest* request);
    bool send() override;
    void sendFinished(SHRRequest* request);
    ns::Ref<ns::Array> shareFormFieldsForType(int type) override;

    // The API's address in the table of outside services.
    static constexpr ns::ServiceEndpoint kService{"pinboard", "https://api.pinboard.in"};
    // The API URL for `pathAndQuery` with the credentials in it.
    static std::string credentialURL(const ns::String* user, const ns::String* password, const std::string& pathAndQuery);
};

void registerPinboardSharer();

}  // namespace sharing
