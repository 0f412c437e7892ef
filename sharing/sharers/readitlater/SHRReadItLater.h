// Saves a URL item to the user's Read It Later list with the user's name
// and password (form posts). The service's "X-Error" reply header is what
// the user is shown when something fails.
#pragma once

#include "platform/foundation/ServiceEndpoints.h"
#include "sharing/core/SHRRequest.h"
#include "sharing/core/SHRSharer.h"

namespace sharing {

class SHRReadItLater : public SHRSharer {
public:
    const char* className() const override { return "SHRReadItLater"; }
    std::string sharerTitle() const override { return "Read It Later"; }
    bool canShareURL() const override { return true; }
    bool shouldAutoShare() override { return true; }
    ns::Ref<ns::String> authorizationFormCaption() const override;

    void authorizationFormValidate(SHRFormController* form) override;
    void authFinished(SHRRequest* request);
    bool send() override;
    void sendFinished(SHRRequest* request);
    ns::Ref<ns::Array> shareFormFieldsForType(int type) override;

    // The service's API key (unset: empty).
    static std::string apiKey();
    // The API's address in the table of outside services.
    static constexpr ns::ServiceEndpoint kService{"readitlater", "http://readitlaterlist.com"};
};

// The value of a reply header, found without regard to case; "" when absent.
std::string SHRReplyHeader(const SHRRequest* request, std::string_view name);

void registerReadItLaterSharer();

}  // namespace sharing
