// Posts a link, a text or a photo to the user's Tumblr blog with the user's
// e-mail address and password. Links and texts go as form posts; photos as
// a multipart upload on a URL connection of their own. 403 means bad
// credentials (sign in again); 500 a server error.
#pragma once

#include "platform/foundation/ServiceEndpoints.h"
#include "platform/network/URLConnection.h"
#include "sharing/core/SHRRequest.h"
#include "sharing/core/SHRSharer.h"

namespace sharing {

class SHRTumblr : public SHRSharer {
public:
    const char* className() const override { return "SHRTumblr"; }
    std::string sharerTitle() const override { return "Tumblr"; }
    bool canShareURL() const override { return true; }
    bool canShareText() const override { return true; }
    bool canShareImage() const override { return true; }
    bool canShare() const override { return true; }
    bool shouldAutoShare() override { return false; }
    ns::Ref<ns::Array> authorizationFormFields() const override;
    ns::Ref<ns::String> authorizationFormCaption() const override;

    void authorizationFormValidate(SHRFormController* form) override;
    void authFinished(SHRRequest* request);
    ns::Ref<ns::Array> shareFormFieldsForType(int type) override;
    bool send() override;
    void sendFinished(SHRRequest* request);
    ns::Ref<ns::Data> generateImageData();
    // Decides the photo upload's result from `response` (nil: the
    // connection failed).
    void finish();

    // The photo connection's events.
    void connectionDidReceiveResponse(net::URLConnection* c, net::HTTPURLResponse* response);
    void connectionDidReceiveData(net::URLConnection* c, const ns::Data& data);
    void connectionDidFinishLoading(net::URLConnection* c) { finish(); }
    // A connection that fails after the head (reset, body cut short) is
    // decided as one that got no answer.
    void connectionDidFailWithError(net::URLConnection* c, const ns::Error& error) {
        response_ = nullptr;
        finish();
    }

    net::HTTPURLResponse* response() const { return response_.get(); }

    static constexpr const char* kGeneratorName = "Fenwarel App";
    static constexpr const char* kBoundary = "0xKhTmLbOuNdArY";
    // The API's address in the table of outside services.
    static constexpr ns::ServiceEndpoint kService{"tumblr", "https://www.tumblr.com"};

private:
    class Receiver;
    // One decision for link, text and photo replies.
    void decide(bool success, int status);
    ns::Ref<net::HTTPURLResponse> response_;
    ns::Ref<ns::MutableData> data_;  // never created: only the status is read
    ns::Ref<net::URLConnection> connection_;
};

void registerTumblrSharer();

}  // namespace sharing
