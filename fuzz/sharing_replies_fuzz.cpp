// The sharing framework's readers of outside bytes: OAuth token replies,
// request parameters of a form body, the OAuth callback's query, and image
// data (PNG text chunks, JPEG comments). Each must answer without reading
// outside its input; a parsed token reply must round-trip its key through
// the OAuth encoding.
#include <cstddef>
#include <cstdint>
#include <string>

#include "sharing/core/ImageCoding.h"
#include "sharing/oauth/OAuth.h"
#include "sharing/ui/SHROAuthView.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto token = sharing::OAToken::initWithHTTPResponseBody(text);
    if (token->key()) {
        std::string key(token->key()->utf8());
        if (sharing::OAURLDecodedString(sharing::OAURLEncodedString(key)) != key) __builtin_trap();
    }
    auto request = sharing::OAMutableURLRequest::make(ns::URL::URLWithString("http://h/p"),
                                                      ns::make<sharing::OAConsumer>("k", "s"), nullptr, nullptr,
                                                      nullptr, "n", "1");
    request->setHTTPMethod("POST");
    request->setHTTPBody(ns::Data::make(text));
    (void)request->_signatureBaseString();
    if (auto url = ns::URL::URLWithString("http://cb/x?" + std::string(text))) (void)sharing::SHROAuthView::queryParameters(*url);
    (void)sharing::imageWithData(text);
    (void)sharing::jpegQualityOf(text);
    return 0;
}
