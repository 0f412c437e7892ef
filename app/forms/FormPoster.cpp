#include "app/forms/FormPoster.h"

#include "app/forms/HTTPFormPoster.h"
#include "platform/foundation/PercentEncoding.h"

namespace app {

std::string FormPostRequest::encodedBody() const {
    std::string body;
    for (const auto& [k, v] : fields) {
        if (!body.empty()) body += '&';
        body += ns::percentEncodeUnreserved(k) + "=" + ns::percentEncodeUnreserved(v);
    }
    return body;
}

namespace {
std::shared_ptr<FormPoster>& current() {
    static std::shared_ptr<FormPoster> p = std::make_shared<HTTPFormPoster>();
    return p;
}
}  // namespace

FormPoster& formPoster() { return *current(); }

void setFormPoster(std::shared_ptr<FormPoster> poster) {
    current() = poster ? std::move(poster) : std::make_shared<HTTPFormPoster>();
}

}  // namespace app
