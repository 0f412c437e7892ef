// Feeds arbitrary bytes to the Facebook client's parsers: the reply rules,
// the redirect and login-answer parameters, and the request URL, checking
// what must hold for any input.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/foundation/PercentEncoding.h"
#include "sharing/facebook/Facebook.h"

using namespace sharing;

static void check(bool ok) {
    if (!ok) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);

    // Reply rules: a failure never comes without an error of our domain,
    // and a result is a dictionary or an array.
    ns::Ref<ns::Error> error;
    auto result = FBRequest::parseJsonResponse(*ns::Data::make(input), &error);
    if (error) check(error->domain() == kFacebookErrDomain);
    if (result) check(ns::as<ns::Dictionary>(result.get()) || ns::as<ns::Array>(result.get()));

    // Query parameters of redirects and outside-login answers.
    auto params = Facebook::parseURLParams(input);
    for (size_t i = 0; i < params->count(); ++i) check(ns::as<ns::String>(params->valueAtIndex(i)) != nullptr);
    FBDialog::getStringFromUrl(input, "error_code=");

    // A text value survives the request URL: it decodes back to itself.
    if (ns::String::make(input)->utf8() == input) {
        auto one = ns::MutableDictionary::make();
        one->setObject(ns::String::make(input), "v");
        std::string url = FBRequest::serializeURL("https://x.test/p", one.get());
        std::string_view query = std::string_view(url).substr(std::string_view("https://x.test/p?v=").size());
        check(query.find('&') == std::string_view::npos && query.find('#') == std::string_view::npos);
        auto decoded = ns::percentDecodeBytes(query);
        check(decoded && *decoded == input);
    }
    return 0;
}
