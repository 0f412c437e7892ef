// Parses arbitrary Set-Cookie values and authentication challenges.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/network/HTTPAuthentication.h"
#include "platform/network/HTTPCookie.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    static auto url = ns::URL::URLWithString("https://www.example.com/a/b");
    if (auto c = net::HTTPCookie::cookieFromSetCookie(text, *url, 1.7e9)) (void)c->matchesURL(*url);
    double t;
    net::HTTPCookie::parseCookieDate(text, &t);
    auto response = net::HTTPMessage::response(401, "HTTP/1.1 401 X");
    response->headers().add("WWW-Authenticate", text);
    if (auto a = net::HTTPAuthentication::authenticationFromResponse(*response)) {
        auto req = net::HTTPMessage::request("GET", "http://h/p");
        a->applyCredentials(*req, "u", "p");
    }
    return 0;
}
