// Process-wide state of the request engine, shared by the files that make
// up HTTPRequest. Not part of the public interface.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "net/http/HTTPRequest.h"
#include "net/http/Reachability.h"
#include "net/http/RequestErrors.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/String.h"

namespace http {

// A kept connection: which server it reaches, which request uses it, the
// last stream opened on it and when it expires once idle.
struct HTTPRequest::ConnectionRecord : ns::Object {
    const char* className() const override { return "HTTPConnectionRecord"; }
    int id = 0;
    std::string host;
    int port = 0;
    std::string scheme;
    uint32_t request = 0;  // requestID of the user; 0 while idle
    ns::Ref<net::HTTPReadStream> stream;
    double expires = 0;  // steady seconds
};

namespace engine {

// Guards the connection pool, the running-stream count and the indicator.
std::recursive_mutex& connectionsLock();
std::vector<ns::Ref<HTTPRequest::ConnectionRecord>>& connectionPool();
int nextConnectionNumber();  // under connectionsLock
uint32_t nextRequestNumber();
int& runningStreams();        // under connectionsLock
bool& shouldUpdateIndicator();  // under connectionsLock
bool& indicatorVisible();     // under connectionsLock

// Held while progress indicators update and finished streams are wrapped up.
std::recursive_mutex& progressLock();
std::recursive_mutex& sessionCookiesLock();
std::recursive_mutex& sessionCredentialsLock();
std::recursive_mutex& delegateAuthenticationLock();

// Bandwidth state, under bandwidthLock (never held while calling out).
struct Bandwidth {
    uint64_t maxPerSecond = 0;
    uint64_t usedInWindow = 0;
    double windowEnd = 0;  // steady seconds; 0: no window yet
    std::deque<uint64_t> samples;
    uint64_t average = 0;
    double wakeUp = 0;  // steady seconds; 0: none
    bool wwanOnly = false;
    bool onWWAN = false;
    ns::Ref<Reachability> reachability;
    ns::ObserverToken observer;
};
std::mutex& bandwidthLock();
Bandwidth& bandwidth();

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

}  // namespace engine
}  // namespace http
