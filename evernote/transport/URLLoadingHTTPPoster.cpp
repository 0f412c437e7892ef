#include "evernote/transport/URLLoadingHTTPPoster.h"

#include "platform/foundation/String.h"
#include "platform/foundation/URL.h"
#include "platform/network/URLConnection.h"

namespace evernote {

HTTPPostReply URLLoadingHTTPPoster::post(const std::string& url, const std::vector<HTTPHeader>& headers,
                                         const ns::Data& body, double timeout) {
    HTTPPostReply reply;
    auto target = ns::URL::URLWithString(url);
    auto schemeText = target ? target->scheme() : nullptr;
    std::string scheme = schemeText ? schemeText->lowercaseString()->utf8() : std::string();
    if (!target || (scheme != "http" && scheme != "https")) {
        reply.error = ns::Error::withDescription(kURLLoadingPosterErrorDomain, kURLLoadingPosterBadURL,
                                                 "Not an http or https URL: " + url);
        return reply;
    }
    auto request = net::URLRequest::requestWithURL(target, net::kURLRequestReloadIgnoringLocalCacheData,
                                                   timeout > 0 ? timeout : kDefaultTimeout);
    request->setHTTPMethod("POST");
    for (const auto& h : headers) request->setValueForHTTPHeaderField(h.value, h.name);
    request->setHTTPBody(ns::Data::make(body.bytes(), body.length()));
    // Thrift replies carry no cookies worth keeping, and a service session
    // must not pick up cookies from other requests of the process.
    request->setHTTPShouldHandleCookies(false);

    ns::Ref<net::HTTPURLResponse> response;
    ns::Ref<ns::Error> error;
    ns::Ref<ns::Data> data = net::URLConnection::sendSynchronousRequest(*request, &response, &error);
    if (!data || !response) {
        reply.error = error ? error : ns::Error::withDescription(kURLLoadingPosterErrorDomain, 0, "No reply");
        return reply;
    }
    reply.status = response->statusCode();
    for (const auto& [name, value] : response->headers().fields()) reply.headers.push_back({name, value});
    reply.body = data;
    return reply;
}

}  // namespace evernote
