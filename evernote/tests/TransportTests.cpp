// The Thrift HTTP transport on the shared URL loading, against loopback
// servers that the tests start.
#include <gtest/gtest.h>

#include <atomic>

#include <thrift/transport/TTransportException.h>

#include "testsupport/LoopbackServer.h"
#include "testsupport/RefusingPort.h"
#include "evernote/tests/TestSupport.h"
#include "evernote/transport/URLLoadingHTTPPoster.h"
#include "platform/network/NetworkErrors.h"
#include "evernote/transport/THTTPClient.h"

namespace evernote {
namespace {

using apache::thrift::transport::TTransportException;
using testsupport::Request;
using testsupport::Server;

std::string post(THTTPClient& client, const std::string& body) {
    client.write(reinterpret_cast<const uint8_t*>(body.data()), static_cast<uint32_t>(body.size()));
    client.flush();
    std::string reply(client.bytesRemaining(), '\0');
    if (!reply.empty()) client.readAll(reinterpret_cast<uint8_t*>(reply.data()), reply.size());
    return reply;
}

std::string flushFailure(THTTPClient& client, const std::string& body = "x") {
    try {
        post(client, body);
    } catch (const TTransportException& e) {
        return e.what();
    }
    return "(no failure)";
}

TEST(THTTPClient, PostsTheBodyWithItsHeaders) {
    Server server([](const Request& r) {
        return Server::reply(200, "echo:" + r.body);
    });
    THTTPClient client(server.url("/edam/user?x=1"));
    EXPECT_EQ(post(client, std::string("\0\1call", 6)), std::string("echo:\0\1call", 11));

    THTTPClient named(server.url("/edam/user"), "deck/2.0");
    EXPECT_EQ(post(named, "b"), "echo:b");

    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, "/edam/user?x=1");
    EXPECT_EQ(requests[0].header("Content-Type"), "application/x-thrift");
    EXPECT_EQ(requests[0].header("Accept"), "application/x-thrift");
    EXPECT_EQ(requests[0].header("User-Agent"), "Cocoa/THTTPClient");
    EXPECT_EQ(requests[0].header("Content-Length"), "6");
    EXPECT_EQ(requests[0].header("Host"), "127.0.0.1:" + std::to_string(server.port()));
    EXPECT_EQ(requests[1].header("User-Agent"), "deck/2.0");
}

TEST(THTTPClient, StatusesOtherThan200Fail) {
    std::atomic<int> status{204};
    Server server([&](const Request&) {
        return Server::reply(status, "");
    });
    THTTPClient client(server.url());
    for (int s : {204, 500, 201, 404}) {
        status = s;
        EXPECT_EQ(flushFailure(client), "Bad response from HTTP server: " + std::to_string(s));
    }
}

TEST(THTTPClient, RedirectsAreNotFollowed) {
    // A service call goes to the address it was given only: a redirect is a
    // bad reply, and the call (with its token) is not posted where it points.
    Server server([&](const Request& r) {
        if (r.target == "/shard") return Server::reply(200, "reply");
        std::string status = r.target.substr(1);
        return Server::reply(std::stoi(status), "", "Location: /shard\r\n");
    });
    for (const char* status : {"301", "302", "303", "307", "308"}) {
        THTTPClient moved(server.url(std::string("/") + status));
        EXPECT_EQ(flushFailure(moved), std::string("Bad response from HTTP server: ") + status);
    }
    auto requests = server.requests();
    EXPECT_EQ(requests.size(), 5u);
    for (const auto& r : requests) EXPECT_NE(r.target, "/shard");
}

TEST(THTTPClient, EmptyBodyLetsTheFirstReadFail) {
    Server server([](const Request&) { return Server::reply(200, ""); });
    THTTPClient client(server.url());
    client.write(reinterpret_cast<const uint8_t*>("x"), 1);
    client.flush();
    uint8_t byte;
    EXPECT_THROW(client.readAll(&byte, 1), TTransportException);
}

TEST(THTTPClient, NoReplyFailsWithTheErrorInUserInfo) {
    Server server([](const Request&) { return std::string(); });
    THTTPClient client(server.url());
    try {
        post(client, "x");
        FAIL() << "no failure";
    } catch (const HTTPTransportException& e) {
        EXPECT_STREQ(e.what(), "Could not make HTTP request");
        ASSERT_TRUE(e.userInfo());
        auto* error = e.userInfo()->objectForKeyAs<ns::Error>("error");
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain(), net::kNetworkErrorDomain);
    }

    // Nobody listening.
    testsupport::RefusingPort closed;
    THTTPClient refused(closed.url("/"));
    EXPECT_EQ(flushFailure(refused), "Could not make HTTP request");

    THTTPClient secure("https://127.0.0.1/");
    EXPECT_EQ(flushFailure(secure), "Could not make HTTP request");
}

TEST(THTTPClient, ReusedAfterAFailureSendsOnlyTheNewCall) {
    std::atomic<int> calls{0};
    Server server([&](const Request& r) -> std::optional<std::string> {
        if (calls++ == 0) return Server::reply(503, "busy");
        return Server::reply(200, "ok:" + r.body);
    });
    THTTPClient client(server.url());
    EXPECT_EQ(flushFailure(client, "first"), "Bad response from HTTP server: 503");
    EXPECT_EQ(client.bytesRemaining(), 0u);
    EXPECT_EQ(post(client, "second"), "ok:second");
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].body, "second");
}

// Answers every post with the same body, whatever the limit.
class FixedReplyPoster : public HTTPPoster {
public:
    explicit FixedReplyPoster(std::string body) : body_(std::move(body)) {}
    HTTPPostReply post(const std::string&, const std::vector<HTTPHeader>&, const ns::Data&, double,
                       uint64_t) override {
        HTTPPostReply reply;
        reply.status = 200;
        reply.body = ns::Data::make(body_);
        return reply;
    }

private:
    std::string body_;
};

TEST(THTTPClient, RepliesLongerThanTheLimitFail) {
    EXPECT_EQ(THTTPClient("http://127.0.0.1/").maxReplySize(), 64u * 1024 * 1024);
    std::atomic<bool> chunked{false};
    Server server([&](const Request&) -> std::optional<std::string> {
        if (!chunked) return Server::reply(200, std::string(1000, 'a'));
        std::string reply = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
        for (int i = 0; i < 6; ++i) reply += "1f4\r\n" + std::string(500, 'b') + "\r\n";
        return reply + "0\r\n\r\n";
    });
    // The failure; from the poster (which stopped loading) it carries the
    // poster's error.
    auto tooLong = [](THTTPClient& client, bool fromPoster = true) {
        try {
            post(client, "x");
        } catch (const HTTPTransportException& e) {
            EXPECT_EQ(e.getType(), TTransportException::CORRUPTED_DATA);
            EXPECT_EQ(e.userInfo() && e.userInfo()->objectForKeyAs<ns::Error>("error"), fromPoster);
            return std::string(e.what());
        }
        return std::string("(no failure)");
    };
    THTTPClient client(server.url());
    client.setMaxReplySize(1000);
    EXPECT_EQ(post(client, "x").size(), 1000u);
    client.setMaxReplySize(999);
    EXPECT_EQ(tooLong(client), "HTTP reply longer than 999 bytes");  // announced length
    chunked = true;
    client.setMaxReplySize(2000);
    EXPECT_EQ(tooLong(client), "HTTP reply longer than 2000 bytes");  // found while arriving
    EXPECT_EQ(client.bytesRemaining(), 0u);
    client.setMaxReplySize(0);  // no limit
    EXPECT_EQ(post(client, "x").size(), 3000u);

    client.setMaxReplySize(3000);  // a chunked body of exactly the limit
    EXPECT_EQ(post(client, "x").size(), 3000u);

    // A poster that does not stop early is held to the limit all the same.
    THTTPClient held("http://unused.invalid/", "", 0, std::make_unique<FixedReplyPoster>(std::string(10, 'c')));
    held.setMaxReplySize(9);
    EXPECT_EQ(tooLong(held, false), "HTTP reply longer than 9 bytes");
    held.setMaxReplySize(10);
    EXPECT_EQ(post(held, "x"), std::string(10, 'c'));
}

// Answers every post with the reply it was given.
class ScriptedPoster : public HTTPPoster {
public:
    explicit ScriptedPoster(HTTPPostReply reply) : reply_(std::move(reply)) {}
    HTTPPostReply post(const std::string&, const std::vector<HTTPHeader>&, const ns::Data&, double,
                       uint64_t) override {
        return reply_;
    }

private:
    HTTPPostReply reply_;
};

TEST(THTTPClient, EachPosterAnswerBecomesItsTransportFailure) {
    auto failed = [](const char* domain, long code) {
        HTTPPostReply r;
        r.error = ns::Error::withDescription(domain, code, "failed");
        return r;
    };
    HTTPPostReply notHTTP;
    notHTTP.isHTTP = false;
    notHTTP.replyType = "file";
    notHTTP.body = ns::Data::make(std::string("x"));
    HTTPPostReply status;
    status.status = 500;
    status.body = ns::Data::make(std::string("x"));
    const struct {
        const char* name;
        HTTPPostReply reply;
        TTransportException::TTransportExceptionType type;
        const char* what;
        bool carriesError;
    } rows[] = {
        {"time-out", failed(net::kNetworkErrorDomain, net::kErrorTimedOut), TTransportException::TIMED_OUT,
         "Could not make HTTP request", true},
        {"refused", failed(net::kNetworkErrorDomain, net::kErrorCannotConnectToHost), TTransportException::NOT_OPEN,
         "Could not make HTTP request", true},
        {"time-out code of another domain", failed(kURLLoadingPosterErrorDomain, net::kErrorTimedOut),
         TTransportException::NOT_OPEN, "Could not make HTTP request", true},
        {"bad URL", failed(kURLLoadingPosterErrorDomain, kURLLoadingPosterBadURL), TTransportException::NOT_OPEN,
         "Could not make HTTP request", true},
        {"announced too long", failed(kURLLoadingPosterErrorDomain, kURLLoadingPosterReplyTooLarge),
         TTransportException::CORRUPTED_DATA, "HTTP reply longer than 67108864 bytes", true},
        {"grew too long", failed(net::kNetworkErrorDomain, net::kErrorDataLengthExceedsMaximum),
         TTransportException::CORRUPTED_DATA, "HTTP reply longer than 67108864 bytes", true},
        {"too-long code of another domain", failed(net::kNetworkErrorDomain, kURLLoadingPosterReplyTooLarge),
         TTransportException::NOT_OPEN, "Could not make HTTP request", true},
        {"not HTTP", notHTTP, TTransportException::UNKNOWN, "Unexpected NSURLResponse type: file", false},
        {"status 500", status, TTransportException::UNKNOWN, "Bad response from HTTP server: 500", false},
    };
    for (const auto& row : rows) {
        THTTPClient client("http://unused.invalid/", "", 0, std::make_unique<ScriptedPoster>(row.reply));
        try {
            post(client, "x");
            ADD_FAILURE() << row.name << ": no failure";
        } catch (const HTTPTransportException& e) {
            EXPECT_EQ(e.getType(), row.type) << row.name;
            EXPECT_STREQ(e.what(), row.what) << row.name;
            auto* error = e.userInfo() ? e.userInfo()->objectForKeyAs<ns::Error>("error") : nullptr;
            EXPECT_EQ(error != nullptr, row.carriesError) << row.name;
            if (error) {
                EXPECT_EQ(error, row.reply.error.get()) << row.name;
            }
        }
        EXPECT_EQ(client.bytesRemaining(), 0u) << row.name;
    }
}

TEST(THTTPClient, ReadsOnlyWhatTheReplyHolds) {
    THTTPClient client("http://unused.invalid/", "", 0, std::make_unique<FixedReplyPoster>("abc"));
    // Before any call there is nothing to read.
    EXPECT_EQ(client.bytesRemaining(), 0u);
    uint8_t byte;
    EXPECT_THROW(client.readAll(&byte, 1), TTransportException);
    uint32_t want = 1;
    EXPECT_EQ(client.borrow(nullptr, &want), nullptr);
    size_t length = 99;
    EXPECT_EQ(client.unreadBytes(length), nullptr);
    EXPECT_EQ(length, 0u);

    // Borrowing lends the whole rest, and only when it holds what is asked.
    client.flush();
    want = 4;
    EXPECT_EQ(client.borrow(nullptr, &want), nullptr);
    want = 3;
    const uint8_t* lent = client.borrow(nullptr, &want);
    ASSERT_NE(lent, nullptr);
    EXPECT_EQ(want, 3u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(lent), 3), "abc");
    client.consume(1);
    want = 1;
    lent = client.borrow(nullptr, &want);
    ASSERT_NE(lent, nullptr);
    EXPECT_EQ(want, 2u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(lent), 2), "bc");
    try {
        client.consume(3);
        ADD_FAILURE() << "consumed past the reply";
    } catch (const TTransportException& e) {
        EXPECT_EQ(e.getType(), TTransportException::BAD_ARGS);
    }
    client.consume(2);
    EXPECT_EQ(client.bytesRemaining(), 0u);
    EXPECT_THROW(client.readAll(&byte, 1), TTransportException);
}

TEST(THTTPClient, ReplacingTheURL) {
    Server server([](const Request& r) { return Server::reply(200, r.target); });
    THTTPClient client(server.url("/a"));
    EXPECT_EQ(post(client, "x"), "/a");
    client.setURL(server.url("/shard/s1"));
    EXPECT_EQ(post(client, "x"), "/shard/s1");
    EXPECT_EQ(client.requestHeaders().size(), 3u);
}

TEST(URLLoadingHTTPPoster, ReadsFramedRepliesAndRefusesBrokenOnes) {
    std::atomic<int> mode{0};
    Server server([&](const Request&) -> std::optional<std::string> {
        switch (mode.load()) {
        case 0:  // chunked, with an extension and a trailer
            return std::string("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                               "5;ext=1\r\nhello\r\n1A\r\n abcdefghijklmnopqrstuvwxy\r\n0\r\nX-T: 1\r\n\r\n");
        case 1:  // framed by the end of the connection
            return std::string("HTTP/1.0 200 OK\r\nContent-Type: application/x-thrift\r\n\r\nuntil close");
        case 2:  // an interim reply first
            return std::string("HTTP/1.1 100 Continue\r\n\r\n") + Server::reply(200, "after");
        case 3:  // not HTTP at all
            return std::string("SSH-2.0-nope\r\n\r\n");
        case 4:  // closes before the announced length
            return std::string("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort");
        default:  // bad chunk size
            return std::string("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n");
        }
    });
    URLLoadingHTTPPoster poster;
    auto send = [&](int m) {
        mode = m;
        return poster.post(server.url(), {}, *ns::Data::make("q"), 5, 0);
    };
    auto r0 = send(0);
    ASSERT_FALSE(r0.error);
    EXPECT_EQ(r0.body->view(), "hello abcdefghijklmnopqrstuvwxy");
    auto r1 = send(1);
    ASSERT_FALSE(r1.error);
    EXPECT_EQ(r1.body->view(), "until close");
    // The reply's header fields come with it.
    bool typed = false;
    for (const auto& h : r1.headers) typed |= h.name == "Content-Type" && h.value == "application/x-thrift";
    EXPECT_TRUE(typed);
    auto r2 = send(2);
    EXPECT_EQ(r2.status, 200);
    EXPECT_EQ(r2.body->view(), "after");
    for (int broken : {3, 4, 5}) EXPECT_TRUE(send(broken).error) << broken;
    // What a caller matches: the poster's error domain and its codes, 1 for a
    // URL it cannot load and 2 for a reply announced beyond the limit.
    for (const char* url : {"ftp://example.test/", "not a url"}) {
        auto bad = poster.post(url, {}, *ns::Data::make("q"), 5, 0);
        ASSERT_TRUE(bad.error) << url;
        EXPECT_EQ(bad.error->domain(), "EvernoteHTTPErrorDomain") << url;
        EXPECT_EQ(bad.error->code(), 1) << url;
    }
    mode = 4;  // announces 100 bytes
    auto tooLong = poster.post(server.url(), {}, *ns::Data::make("q"), 5, 99);
    ASSERT_TRUE(tooLong.error);
    EXPECT_EQ(tooLong.error->domain(), "EvernoteHTTPErrorDomain");
    EXPECT_EQ(tooLong.error->code(), 2);
}

TEST(THTTPClient, TimeOutIsATimedOutTransportFailure) {
    Server server([&](const Request&) -> std::optional<std::string> { return std::nullopt; });
    THTTPClient client(server.url(), "", 0.2);
    try {
        post(client, "x");
        FAIL() << "no time-out";
    } catch (const HTTPTransportException& e) {
        EXPECT_STREQ(e.what(), "Could not make HTTP request");
        EXPECT_EQ(e.getType(), TTransportException::TIMED_OUT);
    }
}

}  // namespace
}  // namespace evernote
