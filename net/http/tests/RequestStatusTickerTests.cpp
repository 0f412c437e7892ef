// The requests' status checks, on a manual clock and without sockets: the
// requests never start, so each one's first check is also its last (a
// request that is not in progress ends its checks).
#include <gtest/gtest.h>

#include "net/http/HTTPRequest.h"
#include "net/http/RequestStatusTicker.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/URL.h"

namespace http {

// Starts a request's status checks as opening its stream does.
class HTTPRequestTestAccess {
public:
    static void startStatusChecks(HTTPRequest& r) { r.startStatusChecks(ns::Weak<HTTPRequest>(&r)); }
};

namespace {

ns::Ref<HTTPRequest> idleRequest() {
    return HTTPRequest::requestWithURL(ns::URL::URLWithString("http://127.0.0.1:1/"));
}

TEST(RequestStatusTicker, EachRequestIsCheckedOnItsOwnCadenceAcrossAChangeOfClocks) {
    auto loop = ns::RunLoop::current();
    auto clock = ns::make<ns::ManualClock>(5000.0);
    loop->setClock(clock);
    RequestStatusTicker* ticker = RequestStatusTicker::current(ns::RunLoop::kDefaultMode);
    ASSERT_TRUE(ticker);
    ASSERT_EQ(ticker->count(), 0u);
    auto a = idleRequest(), b = idleRequest();

    HTTPRequestTestAccess::startStatusChecks(*a);  // checked at 5000.25
    clock->advance(0.125);
    HTTPRequestTestAccess::startStatusChecks(*b);  // checked at 5000.375
    EXPECT_EQ(ticker->count(), 2u);
    clock->advance(0.0625);
    EXPECT_EQ(ticker->count(), 2u);
    clock->advance(0.0625);
    EXPECT_EQ(ticker->count(), 1u);  // a, at 5000.25

    // b keeps the 0.125 s it has left on the loop's next clock, which is
    // behind the first.
    auto other = ns::make<ns::ManualClock>(100.0);
    loop->setClock(other);
    other->advance(0.0625);
    EXPECT_EQ(ticker->count(), 1u);
    other->advance(0.0625);
    EXPECT_EQ(ticker->count(), 0u);

    // With nobody left the ticker rests; a new request is checked again on
    // its own cadence, and one that goes away is dropped at its check.
    HTTPRequestTestAccess::startStatusChecks(*a);
    {
        auto gone = idleRequest();
        HTTPRequestTestAccess::startStatusChecks(*gone);
    }
    EXPECT_EQ(ticker->count(), 2u);
    other->advance(0.125);
    EXPECT_EQ(ticker->count(), 2u);
    other->advance(0.125);
    EXPECT_EQ(ticker->count(), 0u);
    loop->setClock(nullptr);
}

}  // namespace
}  // namespace http
