// Saves a link to Instapaper. There is no session: the user name and
// password (kept in the keychain by the sharer base) travel with every call.
// The login form checks them once against the authenticate endpoint. Main
// thread only.
#pragma once

#include <string>

#include "platform/foundation/ServiceEndpoints.h"
#include "sharing/core/SHRRequest.h"
#include "sharing/core/SHRSharer.h"

namespace sharing {

class SHRInstapaper : public SHRSharer {
public:
    const char* className() const override { return "SHRInstapaper"; }

    std::string sharerTitle() const override;
    bool canShareURL() const override { return true; }
    bool canShare() const override { return true; }
    ns::Ref<ns::String> authorizationFormCaption() const override;

    void authorizationFormValidate(SHRFormController* form) override;
    void authFinished(SHRRequest* request);
    // No share form: the base sends at once.
    ns::Ref<ns::Array> shareFormFieldsForType(int type) override { return nullptr; }
    bool send() override;
    void sendFinished(SHRRequest* request);

    // The API's address in the table of outside services, and the two
    // calls made there.
    static constexpr ns::ServiceEndpoint kService{"instapaper", "https://www.instapaper.com"};
    static std::string authenticateURL();
    static std::string addURL();
};

void registerInstapaperSharer();

}  // namespace sharing
