// Process-wide state of the request engine, shared by the files that make
// up HTTPRequest. Not part of the public interface.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "net/http/HTTPRequest.h"
#include "net/http/BandwidthThrottle.h"
#include "net/http/NetworkActivity.h"
#include "net/http/Reachability.h"
#include "net/http/RequestErrors.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/String.h"

namespace http {

template <class ReadMore>
HTTPRequest::Listeners HTTPRequest::listeners(ReadMore&& alsoRead) {
    std::lock_guard<std::mutex> g(settingsLock_);
    Listeners l{delegate_.lock(), queue_.lock()};
    alsoRead();
    return l;
}

template <class Selector, class BlockType, class... Args>
void HTTPRequest::notifyListeners(HTTPRequestDelegate::Optional event, Selector HTTPRequest::*chosen,
                                  Selector standard, BlockType HTTPRequest::*blockField, Args... args) {
    Selector sel;
    BlockType block;
    auto [del, q] = listeners([&] {
        sel = this->*chosen;
        block = this->*blockField;
    });
    if (del && (sel != standard || del->answers(event))) (del.get()->*sel)(this, args...);
    if (block) block(args...);
    auto* queueDelegate = q ? static_cast<HTTPRequestDelegate*>(q.get()) : nullptr;
    if (queueDelegate && queueDelegate->answers(event)) (queueDelegate->*standard)(this, args...);
}

template <class BlockType>
bool HTTPRequest::anyoneListens(HTTPRequestDelegate::Optional event, BlockType HTTPRequest::*blockField) const {
    if (!listenersGiven_.load(std::memory_order_acquire)) return false;
    ns::StrongDelegate<HTTPRequestQueue>::Locked q;
    {
        std::lock_guard<std::mutex> g(settingsLock_);
        if (delegate_.isSet() || static_cast<bool>(this->*blockField)) return true;
        q = queue_.lock();
    }
    // A queue is asked (on this thread) whether it takes the report at all.
    return q && static_cast<HTTPRequestDelegate*>(q.get())->answers(event);
}

namespace engine {

uint32_t nextRequestNumber();

std::recursive_mutex& sessionCookiesLock();
std::recursive_mutex& sessionCredentialsLock();
std::recursive_mutex& delegateAuthenticationLock();

// Shared errors made once.
ns::Ref<ns::Error> requestTimedOutError();
ns::Ref<ns::Error> authenticationError();
ns::Ref<ns::Error> requestCancelledError();
ns::Ref<ns::Error> unableToCreateRequestError();
ns::Ref<ns::Error> tooMuchRedirectionError();

double steadyNow();

// Small helpers.
std::string lower(std::string s);
ns::Ref<ns::String> str(const std::string& s);
std::string textOf(const ns::Object* o);  // description, "" for nil
// A text object read in place; anything else is spelled into `scratch`.
std::string_view textView(const ns::Object* o, std::string& scratch);
// Whether o's text is `name`, ignoring case (a header field name).
bool isText(const ns::Object* o, std::string_view name);
// A Content-Length value read as decimal digits (the first of a list of
// equal values); nullopt when it is not one.
std::optional<uint64_t> decimalLength(std::string_view text);
// The value of the field `name` in a header dictionary; nullopt when absent.
std::optional<std::string> headerIn(const ns::Dictionary* headers, std::string_view name);

}  // namespace engine
}  // namespace http
