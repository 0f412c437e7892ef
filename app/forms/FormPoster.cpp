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
ns::Ref<FormPoster>& current() {
    static ns::Ref<FormPoster> p = ns::make<HTTPFormPoster>();
    return p;
}
}  // namespace

FormPoster& formPoster() { return *current(); }

void setFormPoster(ns::Ref<FormPoster> poster) {
    current() = poster ? std::move(poster) : ns::make<HTTPFormPoster>();
}

}  // namespace app
