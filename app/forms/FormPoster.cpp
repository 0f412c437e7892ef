#include "app/forms/FormPoster.h"

#include "app/AppLog.h"
#include "platform/foundation/PercentEncoding.h"
#include "platform/foundation/SecretMasking.h"

namespace app {

std::string FormPostRequest::encodedBody() const {
    std::string body;
    for (const auto& [k, v] : fields) {
        if (!body.empty()) body += '&';
        body += ns::percentEncodeUnreserved(k) + "=" + ns::percentEncodeUnreserved(v);
    }
    return body;
}

void RecordingFormPoster::post(std::shared_ptr<FormPostRequest> request) {
    appLog("Form post requested: POST " + ns::maskSecretsInURL(request->url) + " " +
           ns::maskSecretsInParameters(request->encodedBody()));
    requests_.push_back(std::move(request));
}

namespace {
std::shared_ptr<FormPoster>& current() {
    static std::shared_ptr<FormPoster> p = std::make_shared<RecordingFormPoster>();
    return p;
}
}  // namespace

FormPoster& formPoster() { return *current(); }

void setFormPoster(std::shared_ptr<FormPoster> poster) {
    current() = poster ? std::move(poster) : std::make_shared<RecordingFormPoster>();
}

RecordingFormPoster* recordingFormPoster() { return dynamic_cast<RecordingFormPoster*>(current().get()); }

}  // namespace app
