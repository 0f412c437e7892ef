#include "platform/network/HTTPReadStream.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/network/Connection.h"
#include "platform/network/NetworkErrors.h"
#include "testsupport/Certificates.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/MainLoopWait.h"
#include "testsupport/RefusingPort.h"
#include "testsupport/PeerRequirement.h"
#include "testsupport/TempDir.h"

namespace {

// Waits for another thread to set `flag`, for at most `seconds`, so that a
// server handler or a test that waits on it still ends when a fault keeps
// the flag from being set.
bool waitForFlag(const std::atomic<bool>& flag, double seconds = 30) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!flag) {
        if (std::chrono::steady_clock::now() >= giveUp) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

using net::HTTPMessage;
using net::HTTPReadStream;
using testsupport::Conn;
using testsupport::Server;

struct Outcome {
    ns::Ref<HTTPMessage> header;
    std::string body;
    ns::Ref<ns::Error> error;
    bool ended = false;
    int headerEvents = 0;
    bool reused = false;
    uint64_t serial = 0;
    uint64_t bytesWritten = 0;
    std::vector<std::string> order;
};

// Runs one stream to its end on this thread's run loop.
Outcome run(ns::Ref<HTTPReadStream> s, double timeout = testsupport::kEventWaitSeconds) {
    Outcome o;
    auto loop = ns::RunLoop::current();
    bool done = false;
    s->setClient(net::kStreamEventHasBytesAvailable | net::kStreamEventEndEncountered | net::kStreamEventErrorOccurred,
                 [&](HTTPReadStream& st, net::StreamEvent e) {
                     if (e == net::kStreamEventHasBytesAvailable) {
                         if (!o.header && st.responseHeader()) {
                             o.header = st.responseHeader();
                             o.headerEvents++;
                             o.order.push_back("header");
                         }
                         uint8_t buf[4096];
                         long n;
                         while ((n = st.read(buf, sizeof buf)) > 0) {
                             o.body.append(reinterpret_cast<char*>(buf), static_cast<size_t>(n));
                             if (o.order.back() != "data") o.order.push_back("data");
                         }
                     } else if (e == net::kStreamEventEndEncountered) {
                         o.ended = true;
                         o.order.push_back("end");
                         done = true;
                     } else {
                         o.error = st.streamError();
                         o.order.push_back("error");
                         done = true;
                     }
                 });
    s->scheduleInRunLoop(*loop);
    EXPECT_TRUE(s->open());
    loop->runUntil([&] { return done; }, timeout);
    EXPECT_TRUE(done) << "stream did not finish";
    o.reused = s->connectionWasReused();
    o.serial = s->connectionSerial();
    o.bytesWritten = s->requestBytesWritten();
    s->unscheduleFromRunLoop(*loop);
    s->setClient(0, nullptr);
    return o;
}

ns::Ref<HTTPReadStream> get(const std::string& url, bool persistent = false, int64_t id = 0) {
    auto s = HTTPReadStream::make(HTTPMessage::request("GET", url));
    s->setAttemptPersistentConnection(persistent);
    s->setStreamID(id);
    return s;
}

class HTTPReadStreamTest : public ::testing::Test {
protected:
    void SetUp() override { HTTPReadStream::closeIdleConnections(); }
    void TearDown() override { HTTPReadStream::closeIdleConnections(); }
};

TEST_F(HTTPReadStreamTest, HeaderThenBodyThenEnd) {
    std::string seenHost;
    Server server([&](Conn& c) {
        auto r = c.readRequest();
        seenHost = r->header("Host");
        c.respond(200, "hello body", "Content-Type: text/plain\r\nSet-Cookie: a=1\r\nSet-Cookie: b=2\r\n");
        c.waitForClose(testsupport::kEventWaitSeconds);
    });
    auto o = run(get(server.url("/x?y=1")));
    ASSERT_TRUE(o.ended) << (o.error ? o.error->description() : "");
    ASSERT_TRUE(o.header);
    EXPECT_EQ(o.header->statusCode(), 200);
    EXPECT_EQ(o.header->headers().getAll("set-cookie").size(), 2u);
    EXPECT_EQ(o.body, "hello body");
    EXPECT_EQ(o.headerEvents, 1);
    EXPECT_EQ(o.order.front(), "header");
    EXPECT_EQ(o.order.back(), "end");
    EXPECT_EQ(seenHost, "127.0.0.1:" + std::to_string(server.port()));
}

TEST_F(HTTPReadStreamTest, KeepAliveReuseSeenFromTheServer) {
    std::atomic<int> requests{0};
    Server server([&](Conn& c) {
        while (auto r = c.readRequest()) {
            ++requests;
            c.respond(200, "conn " + std::to_string(c.index()));
        }
    });
    auto a = run(get(server.url("/1"), true, 7));
    auto b = run(get(server.url("/2"), true, 7));
    EXPECT_EQ(a.body, "conn 1");
    EXPECT_EQ(b.body, "conn 1");
    EXPECT_FALSE(a.reused);
    EXPECT_TRUE(b.reused);
    EXPECT_EQ(a.serial, b.serial);
    // Another identity does not adopt it; no persistence opens a new one too.
    auto c = run(get(server.url("/3"), true, 8));
    EXPECT_EQ(c.body, "conn 2");
    auto d = run(get(server.url("/4"), false));
    EXPECT_EQ(d.body, "conn 3");
    EXPECT_EQ(server.connections(), 3);
    EXPECT_EQ(requests.load(), 4);
}

TEST_F(HTTPReadStreamTest, ClosingAFinishedStreamClosesItsIdleConnection) {
    Server server([&](Conn& c) {
        while (auto r = c.readRequest()) c.respond(200, "ok");
    });
    auto s = get(server.url("/"), true, 1);
    auto o = run(s);
    ASSERT_TRUE(o.ended);
    EXPECT_TRUE(s->connectionIsReusable());
    EXPECT_EQ(net::ConnectionPool::shared().idleCount(), 1u);
    s->close();
    EXPECT_EQ(net::ConnectionPool::shared().idleCount(), 0u);
    auto again = run(get(server.url("/"), true, 1));
    EXPECT_FALSE(again.reused);
    EXPECT_EQ(server.connections(), 2);
}

TEST_F(HTTPReadStreamTest, ChunkedBodyAndConnectionCloseAnswer) {
    Server server([&](Conn& c) {
        c.readRequest();
        c.write("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
                "4\r\nabcd\r\n3\r\nefg\r\n0\r\n\r\n");
        c.close();
    });
    auto s = get(server.url("/"), true);
    auto o = run(s);
    ASSERT_TRUE(o.ended);
    EXPECT_EQ(o.body, "abcdefg");
    EXPECT_FALSE(s->connectionIsReusable());
}

TEST_F(HTTPReadStreamTest, BodyFromStreamWithBytesWritten) {
    std::string received;
    Server server([&](Conn& c) {
        auto r = c.readRequest();
        received = r->body;
        c.respond(201, "stored");
    });
    std::string payload(300000, 'p');
    auto msg = HTTPMessage::request("POST", server.url("/upload"));
    auto s = HTTPReadStream::make(msg, net::InputStream::inputStreamWithData(ns::Data::make(payload)));
    auto o = run(s);
    ASSERT_TRUE(o.ended);
    ASSERT_TRUE(o.header);
    EXPECT_EQ(o.header->statusCode(), 201);
    EXPECT_EQ(received, payload);
    EXPECT_EQ(o.bytesWritten, payload.size());
}

TEST_F(HTTPReadStreamTest, HeadAnswerHasNoBodyAndKeepsTheConnection) {
    Server server([&](Conn& c) {
        while (auto r = c.readRequest()) {
            if (r->method == "HEAD") c.write("HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\n");
            else c.respond(200, "after head");
        }
    });
    auto head = HTTPReadStream::make(HTTPMessage::request("HEAD", server.url("/")));
    head->setAttemptPersistentConnection(true);
    auto o = run(head);
    ASSERT_TRUE(o.ended);
    EXPECT_EQ(o.body, "");
    auto next = run(get(server.url("/"), true));
    EXPECT_EQ(next.body, "after head");
    EXPECT_TRUE(next.reused);
}

TEST_F(HTTPReadStreamTest, DroppedIdleConnectionIsNotAdopted) {
    std::atomic<bool> closed{false};
    Server server([&](Conn& c) {
        auto r = c.readRequest();
        c.respond(200, "once");
        c.close();  // keep-alive answer, then gone
        closed = true;
    });
    auto a = run(get(server.url("/"), true));
    ASSERT_TRUE(a.ended);
    ASSERT_TRUE(waitForFlag(closed, 10));
    auto b = run(get(server.url("/"), true));
    ASSERT_TRUE(b.ended) << (b.error ? b.error->description() : "");
    EXPECT_FALSE(b.reused);
}

TEST_F(HTTPReadStreamTest, ServerClosingWithoutAnswerIsADroppedConnection) {
    Server server([&](Conn& c) {
        c.readRequest();
        c.close();
    });
    auto o = run(get(server.url("/")));
    ASSERT_TRUE(o.error);
    EXPECT_TRUE(net::isDroppedConnection(o.error.get())) << ns::describe(o.error);
    EXPECT_EQ(o.error->localizedDescription(), "The network connection was lost while waiting for the response");
}

TEST_F(HTTPReadStreamTest, ResetMidBodyIsAClearError) {
    Server server([&](Conn& c) {
        c.readRequest();
        c.write("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\npartial");
        usleep(20000);
        c.reset();
    });
    auto o = run(get(server.url("/")));
    ASSERT_TRUE(o.error);
    EXPECT_EQ(o.error->domain(), net::kNetworkErrorDomain);
    EXPECT_EQ(o.error->code(), net::kErrorNetworkConnectionLost);
    EXPECT_FALSE(o.ended);
}

TEST_F(HTTPReadStreamTest, StallAfterHeadersTimesOut) {
    Server server([&](Conn& c) {
        c.readRequest();
        c.write("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nab");
        c.waitForClose(testsupport::kEventWaitSeconds);
    });
    auto s = get(server.url("/"));
    s->setIdleTimeout(0.2);
    auto o = run(s);
    ASSERT_TRUE(o.error);
    EXPECT_EQ(o.error->code(), net::kErrorTimedOut);
    EXPECT_EQ(o.order.front(), "header");
}

TEST_F(HTTPReadStreamTest, MisbehavingServersEndInClearErrors) {
    struct Case {
        const char* name;
        std::string reply;
        long code;
        std::string says = "";  // how the description begins, where it is checked
    };
    const std::string cut = "The network connection was lost before the response was complete (";
    std::vector<Case> cases = {
        {"truncated chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nshort", net::kErrorNetworkConnectionLost, cut},
        {"bad chunk size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nxyz\r\n", net::kErrorBadServerResponse},
        {"oversized header", "HTTP/1.1 200 OK\r\nX-Big: " + std::string(100000, 'a') + "\r\n\r\n",
         net::kErrorBadServerResponse},
        {"content-length too long", "HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\nonly this", net::kErrorNetworkConnectionLost, cut},
        {"head cut short", "HTTP/1.1 200 OK\r\nContent-Le", net::kErrorNetworkConnectionLost, cut},
        {"conflicting lengths", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 7\r\n\r\nhello",
         net::kErrorBadServerResponse},
        {"not http", "SSH-2.0-OpenSSH\r\n\r\n", net::kErrorBadServerResponse},
    };
    for (auto& tc : cases) {
        Server server([&](Conn& c) {
            c.readRequest();
            c.write(tc.reply);
            c.close();
        });
        auto o = run(get(server.url("/")));
        ASSERT_TRUE(o.error) << tc.name;
        EXPECT_EQ(o.error->code(), tc.code) << tc.name << ": " << ns::describe(o.error);
        EXPECT_FALSE(o.error->localizedDescription().empty());
        EXPECT_EQ(o.error->localizedDescription().rfind(tc.says, 0), 0u) << tc.name << ": " << o.error->localizedDescription();
    }
}

TEST_F(HTTPReadStreamTest, ContentLengthShorterThanBodyLeavesConnectionUnused) {
    Server server([&](Conn& c) {
        while (auto r = c.readRequest()) c.write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nokJUNK");
    });
    auto s = get(server.url("/"), true);
    auto o = run(s);
    ASSERT_TRUE(o.ended);
    EXPECT_EQ(o.body, "ok");
    // The stray bytes make the connection unusable for the next request.
    auto next = run(get(server.url("/"), true));
    EXPECT_EQ(next.body, "ok");
    EXPECT_FALSE(next.reused);
}

TEST_F(HTTPReadStreamTest, ConnectionRefusedAndUnknownHost) {
    testsupport::RefusingPort closed;
    auto o = run(get(closed.url("/")));
    ASSERT_TRUE(o.error);
    EXPECT_EQ(o.error->code(), net::kErrorCannotConnectToHost);

    net::Resolver::setLookupFunction([](const std::string&, uint16_t, ns::Ref<ns::Error>* e) {
        *e = net::makeError(net::kNetworkErrorDomain, net::kErrorCannotFindHost, "no such host");
        return std::vector<net::SocketAddress>{};
    });
    auto u = run(get("http://no-such-host.invalid/"));
    net::Resolver::setLookupFunction(nullptr);
    ASSERT_TRUE(u.error);
    EXPECT_EQ(u.error->code(), net::kErrorCannotFindHost);

    auto bad = HTTPReadStream::make(HTTPMessage::request("GET", "ftp://example.org/"));
    EXPECT_FALSE(bad->open());
    EXPECT_EQ(bad->streamError()->code(), net::kErrorUnsupportedURL);
}

TEST_F(HTTPReadStreamTest, NameLookupGoesThroughTheResolverThread) {
    Server server([&](Conn& c) {
        c.readRequest();
        c.respond(200, "by name");
    });
    uint16_t port = server.port();
    net::Resolver::setLookupFunction([port](const std::string& host, uint16_t p, ns::Ref<ns::Error>*) {
        net::SocketAddress a;
        auto* in = reinterpret_cast<sockaddr_in*>(&a.storage);
        in->sin_family = AF_INET;
        in->sin_port = htons(p);
        in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.length = sizeof(sockaddr_in);
        return std::vector<net::SocketAddress>{a};
    });
    auto o = run(get("http://service.test:" + std::to_string(port) + "/"));
    net::Resolver::setLookupFunction(nullptr);
    ASSERT_TRUE(o.ended);
    EXPECT_EQ(o.body, "by name");
}

TEST_F(HTTPReadStreamTest, UnscheduledStreamStopsReading) {
    std::atomic<bool> release{false};
    Server server([&](Conn& c) {
        c.readRequest();
        c.write("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nfirst");
        waitForFlag(release);
        c.write("!");
        c.waitForClose(testsupport::kEventWaitSeconds);
    });
    auto loop = ns::RunLoop::current();
    auto s = get(server.url("/"));
    std::string body;
    bool ended = false;
    s->setClient(net::kStreamEventHasBytesAvailable | net::kStreamEventEndEncountered,
                 [&](HTTPReadStream& st, net::StreamEvent e) {
                     uint8_t buf[64];
                     long n;
                     while ((n = st.read(buf, sizeof buf)) > 0) body.append(reinterpret_cast<char*>(buf), n);
                     if (e == net::kStreamEventEndEncountered) ended = true;
                 });
    s->scheduleInRunLoop(*loop);
    ASSERT_TRUE(s->open());
    loop->runUntil([&] { return body == "first"; }, testsupport::kEventWaitSeconds);
    ASSERT_EQ(body, "first");
    s->unscheduleFromRunLoop(*loop);
    release = true;
    // Nothing is read while unscheduled.
    loop->runMode(ns::RunLoop::kDefaultMode, 0.1);
    EXPECT_EQ(body, "first");
    EXPECT_FALSE(ended);
    s->scheduleInRunLoop(*loop);
    loop->runUntil([&] { return ended; }, testsupport::kEventWaitSeconds);
    EXPECT_EQ(body, "first!");
    EXPECT_TRUE(ended);
}

// Body bytes that came with the head and that the reader left in its header
// event come before the ones received later.
TEST_F(HTTPReadStreamTest, BodyBytesLeftInTheHeaderEventComeFirst) {
    std::atomic<bool> release{false};
    Server server([&](Conn& c) {
        c.readRequest();
        c.write("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabcdef");
        waitForFlag(release);
        c.write("ghij");
        c.waitForClose(testsupport::kEventWaitSeconds);
    });
    auto loop = ns::RunLoop::current();
    auto s = get(server.url("/"));
    std::string body;
    bool ended = false;
    s->setClient(net::kStreamEventHasBytesAvailable | net::kStreamEventEndEncountered | net::kStreamEventErrorOccurred,
                 [&](HTTPReadStream& st, net::StreamEvent e) {
                     uint8_t buf[64];
                     if (body.empty()) {
                         // Two bytes only, then more arrive.
                         long n = st.read(buf, 2);
                         if (n > 0) body.append(reinterpret_cast<char*>(buf), static_cast<size_t>(n));
                         release = true;
                         return;
                     }
                     long n;
                     while ((n = st.read(buf, sizeof buf)) > 0) body.append(reinterpret_cast<char*>(buf), n);
                     if (e != net::kStreamEventHasBytesAvailable) ended = true;
                 });
    s->scheduleInRunLoop(*loop);
    ASSERT_TRUE(s->open());
    loop->runUntil([&] { return ended; }, testsupport::kEventWaitSeconds);
    EXPECT_EQ(body, "abcdefghij");
    EXPECT_FALSE(s->streamError());
    s->unscheduleFromRunLoop(*loop);
    s->setClient(0, nullptr);
}

// A reader that keeps the body in memory gets every byte once and in order,
// never more at a time than it asked for, also when it changes where the
// bytes go or switches to read() halfway.
TEST_F(HTTPReadStreamTest, ReadAppendingKeepsEveryByteInOrder) {
    std::string sent(3 * 1024 * 1024 + 123, '\0');
    for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>(i * 7 % 251);
    Server server([&](Conn& c) {
        c.readRequest();
        c.write("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(sent.size()) + "\r\n\r\n" + sent.substr(0, 1000));
        for (size_t at = 1000; at < sent.size(); at += 300000) c.write(sent.substr(at, 300000));
        c.waitForClose(testsupport::kEventWaitSeconds);
    });
    auto loop = ns::RunLoop::current();
    auto s = get(server.url("/"));
    auto first = ns::MutableData::make();
    auto second = ns::MutableData::make();
    std::string rest;
    bool ended = false, overMax = false;
    size_t taken = 0;
    s->setClient(net::kStreamEventHasBytesAvailable | net::kStreamEventEndEncountered | net::kStreamEventErrorOccurred,
                 [&](HTTPReadStream& st, net::StreamEvent e) {
                     while (st.hasBytesAvailable()) {
                         const size_t max = taken < 1024 * 1024 ? SIZE_MAX : 4096;
                         long n;
                         if (taken < 1024 * 1024) {
                             n = st.readAppending(first, max);
                         } else if (taken < 2 * 1024 * 1024) {
                             n = st.readAppending(second, max);
                         } else {
                             uint8_t buf[4096];
                             n = st.read(buf, max);
                             if (n > 0) rest.append(reinterpret_cast<char*>(buf), static_cast<size_t>(n));
                         }
                         if (n > 0 && static_cast<size_t>(n) > max) overMax = true;
                         if (n <= 0) break;
                         taken += static_cast<size_t>(n);
                     }
                     if (e != net::kStreamEventHasBytesAvailable) ended = true;
                 });
    s->scheduleInRunLoop(*loop);
    ASSERT_TRUE(s->open());
    loop->runUntil([&] { return ended; }, testsupport::kEventWaitSeconds);
    ASSERT_TRUE(ended);
    EXPECT_FALSE(s->streamError());
    EXPECT_FALSE(overMax);
    std::string got = std::string(first->view()) + std::string(second->view()) + rest;
    ASSERT_EQ(got.size(), sent.size());
    EXPECT_TRUE(got == sent) << "the body came back reordered or corrupted";
    EXPECT_GT(rest.size(), 512u * 1024);
    s->unscheduleFromRunLoop(*loop);
    s->setClient(0, nullptr);
}

}  // namespace

namespace tls {

class TLSStreamTest : public HTTPReadStreamTest {
protected:
    static void SetUpTestSuite() { certs_ = new testsupport::Certificates(); }
    static void TearDownTestSuite() {
        delete certs_;
        certs_ = nullptr;
    }
    void SetUp() override {
        HTTPReadStreamTest::SetUp();
        if (!certs_->ok()) DECK_PEER_MISSING("the openssl command is not available to make test certificates");
    }
    static testsupport::Certificates* certs_;
};
testsupport::Certificates* TLSStreamTest::certs_ = nullptr;

Server::Handler answer(const std::string& text) {
    return [text](Conn& c) {
        while (auto r = c.readRequest()) c.respond(200, text);
    };
}

// The process-wide trust file may change while streams make their pool
// keys on other threads; a key names the file as it was at one moment.
TEST_F(HTTPReadStreamTest, TrustFileChangedWhileKeysAreMade) {
    std::atomic<bool> stop{false};
    std::thread setter([&] {
        for (int i = 0; !stop; ++i)
            net::setAdditionalTrustedCertificatesFile(i % 2 ? "/tmp/a-long-trust-file-name.pem" : "/tmp/b.pem");
    });
    net::TLSSettings settings;
    bool onlyWhole = true;
    for (int i = 0; i < 2000; ++i) {
        const std::string key = settings.cacheKey();
        onlyWhole = onlyWhole && (key.starts_with("v1|/tmp/a-long-trust-file-name.pem|") ||
                                  key.starts_with("v1|/tmp/b.pem|") || key.starts_with("v1||"));
    }
    stop = true;
    setter.join();
    net::setAdditionalTrustedCertificatesFile("");
    EXPECT_TRUE(onlyWhole);
}

TEST_F(TLSStreamTest, SelfSignedFailsUnlessValidationIsOff) {
    Server server(answer("secret"), certs_->path("self.pem"), certs_->path("self.key"));
    auto o = run(get(server.url("/")));
    ASSERT_TRUE(o.error);
    EXPECT_TRUE(net::isTLSError(o.error.get())) << ns::describe(o.error);
    EXPECT_EQ(o.error->code(), net::kTLSNoRootCertificate);

    auto s = get(server.url("/"));
    net::TLSSettings off;
    off.validatesCertificateChain = false;
    s->setTLSSettings(off);
    auto ok = run(s);
    ASSERT_TRUE(ok.ended) << (ok.error ? ok.error->description() : "");
    EXPECT_EQ(ok.body, "secret");
}

// A one-connection TLS server on 127.0.0.1 that speaks only the given
// protocol versions (old ones too) and hands the accepted session to `serve`.
class VersionedTLSServer {
public:
    VersionedTLSServer(const testsupport::Certificates& certs, int minVersion, int maxVersion,
                       std::function<void(SSL*)> serve) {
        ctx_ = SSL_CTX_new(TLS_server_method());
        SSL_CTX_set_security_level(ctx_, 0);  // lets TLS 1.0 and 1.1 be offered at all
        SSL_CTX_set_cipher_list(ctx_, "DEFAULT:@SECLEVEL=0");
        SSL_CTX_set_min_proto_version(ctx_, minVersion);
        SSL_CTX_set_max_proto_version(ctx_, maxVersion);
        SSL_CTX_use_certificate_chain_file(ctx_, certs.path("server.pem").c_str());
        SSL_CTX_use_PrivateKey_file(ctx_, certs.path("server.key").c_str(), SSL_FILETYPE_PEM);
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd_, 1);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this, serve] {
            int c = ::accept(fd_, nullptr, nullptr);
            if (c < 0) return;
            timeval limit{5, 0};  // a client that stalls does not hold the test
            ::setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
            SSL* ssl = SSL_new(ctx_);
            SSL_set_fd(ssl, c);
            if (SSL_accept(ssl) == 1) serve(ssl);
            SSL_free(ssl);
            ::close(c);
        });
    }
    ~VersionedTLSServer() {
        ::shutdown(fd_, SHUT_RDWR);
        thread_.join();
        ::close(fd_);
        SSL_CTX_free(ctx_);
    }
    std::string url() const { return "https://127.0.0.1:" + std::to_string(port_) + "/"; }

private:
    SSL_CTX* ctx_;
    int fd_;
    uint16_t port_ = 0;
    std::thread thread_;
};

TEST_F(TLSStreamTest, OldVersionsAndRenegotiationAreRefused) {
    net::TLSSettings trust;
    trust.trustedCertificatesFile = certs_->path("ca.pem");
    for (int old : {TLS1_VERSION, TLS1_1_VERSION}) {
        VersionedTLSServer server(*certs_, old, old, [](SSL*) {});
        auto s = get(server.url());
        s->setTLSSettings(trust);
        auto o = run(s);
        ASSERT_TRUE(o.error) << old;
        EXPECT_TRUE(net::isTLSError(o.error.get())) << o.error->description();
    }
    // A server that asks to renegotiate once it has the request: the client
    // refuses and fails at once with a clear error.
    VersionedTLSServer server(*certs_, TLS1_2_VERSION, TLS1_2_VERSION, [](SSL* ssl) {
        std::string head;
        char c;
        while (head.find("\r\n\r\n") == std::string::npos && SSL_read(ssl, &c, 1) == 1) head += c;
        SSL_renegotiate(ssl);
        SSL_do_handshake(ssl);  // sends the request to renegotiate
        const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
        SSL_write(ssl, answer.data(), static_cast<int>(answer.size()));
    });
    auto s = get(server.url());
    s->setTLSSettings(trust);
    auto o = run(s);
    ASSERT_TRUE(o.error) << o.body;
    EXPECT_EQ(o.error->domain(), net::kTLSErrorDomain);
    EXPECT_EQ(o.error->code(), net::kTLSProtocolError);
    EXPECT_NE(o.error->localizedDescription().find("renegotiate"), std::string::npos) << o.error->description();
    EXPECT_FALSE(net::isDroppedConnection(o.error.get()));

    // Bytes that are no TLS record, once the session runs: a TLS error, not
    // a dropped connection worth sending the request again for.
    VersionedTLSServer garbling(*certs_, TLS1_2_VERSION, TLS1_3_VERSION, [](SSL* ssl) {
        char c;
        std::string head;
        while (head.find("\r\n\r\n") == std::string::npos && SSL_read(ssl, &c, 1) == 1) head += c;
        const std::string junk(64, '\x42');
        (void)!::write(SSL_get_fd(ssl), junk.data(), junk.size());
        // Held open until the client, having read the junk, closes its end:
        // a close of ours could otherwise reach it first.
        pollfd p{SSL_get_fd(ssl), POLLIN, 0};
        char sink[256];
        while (::poll(&p, 1, static_cast<int>(testsupport::kEventWaitSeconds * 1000)) == 1 &&
               ::read(p.fd, sink, sizeof sink) > 0) {
        }
    });
    auto g = get(garbling.url());
    g->setTLSSettings(trust);
    auto bad = run(g);
    ASSERT_TRUE(bad.error);
    EXPECT_EQ(bad.error->domain(), net::kTLSErrorDomain) << bad.error->description();
    EXPECT_FALSE(net::isDroppedConnection(bad.error.get()));
}

TEST_F(TLSStreamTest, TestCAIsTrustedWhenGivenAndNamesAreChecked) {
    Server server(answer("via ca"), certs_->path("server.pem"), certs_->path("server.key"));
    net::TLSSettings trust;
    trust.trustedCertificatesFile = certs_->path("ca.pem");
    auto s = get(server.url("/"), true);
    s->setTLSSettings(trust);
    auto o = run(s);
    ASSERT_TRUE(o.ended) << (o.error ? o.error->description() : "");
    EXPECT_EQ(o.body, "via ca");

    // A reused TLS connection carries the next request.
    auto again = get(server.url("/"), true);
    again->setTLSSettings(trust);
    auto o2 = run(again);
    EXPECT_TRUE(o2.reused);
    EXPECT_EQ(server.connections(), 1);

    // A connection made without validation is never handed to a validating
    // request, and the other way round.
    net::TLSSettings off;
    off.validatesCertificateChain = false;
    auto lax = get(server.url("/"), true);
    lax->setTLSSettings(off);
    EXPECT_FALSE(run(lax).reused);

    // The certificate names 127.0.0.1 and localhost, not another name.
    auto wrong = get(server.url("/"));
    net::TLSSettings named = trust;
    named.peerName = "other.example";
    wrong->setTLSSettings(named);
    auto bad = run(wrong);
    ASSERT_TRUE(bad.error);
    EXPECT_EQ(bad.error->code(), net::kTLSBadCertificate) << ns::describe(bad.error);
}

TEST_F(TLSStreamTest, ClientCertificateIsPresented) {
    Server server(answer("hello client"), certs_->path("server.pem"), certs_->path("server.key"), certs_->path("ca.pem"));
    net::TLSSettings trust;
    trust.trustedCertificatesFile = certs_->path("ca.pem");

    auto anonymous = get(server.url("/"));
    anonymous->setTLSSettings(trust);
    auto refused = run(anonymous);
    ASSERT_TRUE(refused.error);
    EXPECT_TRUE(net::isTLSError(refused.error.get()) || net::isDroppedConnection(refused.error.get()))
        << ns::describe(refused.error);

    net::TLSSettings id = trust;
    id.clientCertificatePEM = certs_->read("client.pem");
    id.clientKeyPEM = certs_->read("client.key");
    auto s = get(server.url("/"));
    s->setTLSSettings(id);
    auto o = run(s);
    ASSERT_TRUE(o.ended) << (o.error ? o.error->description() : "");
    EXPECT_EQ(o.body, "hello client");

    net::TLSSettings broken = id;
    broken.clientKeyPEM = certs_->read("server.key");  // does not match the certificate
    auto b = get(server.url("/"));
    b->setTLSSettings(broken);
    auto ob = run(b);
    ASSERT_TRUE(ob.error);
    EXPECT_EQ(ob.error->code(), net::kTLSClientCertificateRejected);
}

}  // namespace tls

namespace proxy {

using tls::TLSStreamTest;
using tls::answer;

TEST_F(HTTPReadStreamTest, PlainRequestThroughAnHTTPProxyUsesTheAbsoluteForm) {
    Server proxyServer(Server::eachRequest([](const testsupport::Request&) { return Server::reply(200, "via proxy"); }));
    auto s = get("http://origin.invalid:8081/path?q=1#frag");
    net::ProxySettings p;
    p.type = net::ProxySettings::Type::HTTP;
    p.host = "127.0.0.1";
    p.port = proxyServer.port();
    s->setProxy(p);
    auto o = run(s);
    ASSERT_TRUE(o.ended) << (o.error ? o.error->description() : "");
    EXPECT_EQ(o.body, "via proxy");
    const auto seen = proxyServer.requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].target, "http://origin.invalid:8081/path?q=1");
    EXPECT_EQ(seen[0].header("Host"), "origin.invalid:8081");
}

// Each byte of the proxy's answer to CONNECT is activity: an answer whose
// parts come within the time-out of each other, though not within one
// time-out of the request, still opens the tunnel. The loop runs on a
// manual clock; what the proxy sends waits for the test's word.
TEST_F(TLSStreamTest, ProxyAnswerThatTricklesInKeepsTheTunnelRequestAlive) {
    Server origin(answer("tunnelled"), certs_->path("server.pem"), certs_->path("server.key"));
    std::atomic<bool> connectSeen{false}, sendFirst{false}, sendRest{false};
    const std::string first = "HTTP/1.1 200 Connection";
    auto loop = ns::RunLoop::current();
    Server proxyServer([&](Conn& c) {
        auto r = c.readRequest();
        if (!r || r->method != "CONNECT") return;
        connectSeen = true;
        loop->wakeUp();
        if (!waitForFlag(sendFirst) || !c.write(first)) return;
        if (!waitForFlag(sendRest) || !c.write(" established\r\n\r\n")) return;
        c.relayTo(origin.port());
    });
    auto clock = ns::make<ns::ManualClock>(1000);
    loop->setClock(clock);
    struct Restore {
        ns::RunLoop& loop;
        std::atomic<bool>& a;
        std::atomic<bool>& b;
        ~Restore() {
            a = b = true;
            loop.setClock(nullptr);
        }
    } restore{*loop, sendFirst, sendRest};
    net::ProxySettings p;
    p.type = net::ProxySettings::Type::HTTP;
    p.host = "127.0.0.1";
    p.port = proxyServer.port();
    net::TLSSettings trust;
    trust.trustedCertificatesFile = certs_->path("ca.pem");
    auto s = get(origin.url("/"));
    s->setProxy(p);
    s->setTLSSettings(trust);
    s->setIdleTimeout(10);
    bool done = false;
    std::string body;
    s->setClient(net::kStreamEventHasBytesAvailable | net::kStreamEventEndEncountered | net::kStreamEventErrorOccurred,
                 [&](HTTPReadStream& st, net::StreamEvent e) {
                     uint8_t buf[256];
                     long n;
                     while ((n = st.read(buf, sizeof buf)) > 0) body.append(reinterpret_cast<char*>(buf), n);
                     if (e != net::kStreamEventHasBytesAvailable) done = true;
                 });
    s->scheduleInRunLoop(*loop);
    ASSERT_TRUE(s->open());
    ASSERT_TRUE(loop->runUntil([&] { return connectSeen.load(); }, testsupport::kEventWaitSeconds));
    clock->advance(8);  // the request went at 1000: the time-out is at 1010
    sendFirst = true;
    ASSERT_TRUE(loop->runUntil([&] { return s->responseBytesReceived() >= first.size() || done; }, testsupport::kEventWaitSeconds));
    clock->advance(4);  // 1012: ten seconds since the request, four since the first part
    EXPECT_FALSE(s->streamError()) << ns::describe(s->streamError());
    sendRest = true;
    loop->runUntil([&] { return done; }, testsupport::kEventWaitSeconds);
    ASSERT_TRUE(done);
    EXPECT_FALSE(s->streamError()) << ns::describe(s->streamError());
    EXPECT_EQ(body, "tunnelled");
    s->close();
    s->unscheduleFromRunLoop(*loop);
    s->setClient(0, nullptr);
}

TEST_F(TLSStreamTest, TunnelThroughAProxyWithProxyAuthentication) {
    Server origin(answer("tunnelled"), certs_->path("server.pem"), certs_->path("server.key"));
    std::atomic<int> refused{0}, injected{0};
    std::string connectLine;
    Server proxyServer([&](Conn& c) {
        auto r = c.readRequest();
        if (!r) return;
        if (r->method != "CONNECT") return;
        if (!r->header("X-Injected").empty()) ++injected;
        if (r->header("Proxy-Authorization") != "Basic dXNlcjpwYXNz") {
            ++refused;
            c.respond(407, "credentials please", "Proxy-Authenticate: Basic realm=\"proxy\"\r\n");
            return;
        }
        connectLine = r->target;
        c.write("HTTP/1.1 200 Connection established\r\n\r\n");
        c.relayTo(origin.port());
    });
    net::ProxySettings p;
    p.type = net::ProxySettings::Type::HTTP;
    p.host = "127.0.0.1";
    p.port = proxyServer.port();
    net::TLSSettings trust;
    trust.trustedCertificatesFile = certs_->path("ca.pem");

    // Without credentials the proxy's 407 is the answer.
    auto first = get(origin.url("/"));
    first->setProxy(p);
    first->setTLSSettings(trust);
    auto o = run(first);
    ASSERT_TRUE(o.ended) << (o.error ? o.error->description() : "");
    ASSERT_TRUE(o.header);
    EXPECT_EQ(o.header->statusCode(), 407);
    EXPECT_EQ(o.body, "credentials please");
    EXPECT_EQ(refused.load(), 1);

    // With them, the tunnel carries TLS to the origin; the credentials go
    // to the proxy only.
    auto msg = HTTPMessage::request("GET", origin.url("/"));
    msg->setHeaderField("Proxy-Authorization", "Basic dXNlcjpwYXNz");
    auto second = HTTPReadStream::make(msg);
    second->setProxy(p);
    second->setTLSSettings(trust);
    auto o2 = run(second);
    ASSERT_TRUE(o2.ended) << (o2.error ? o2.error->description() : "");
    ASSERT_TRUE(o2.header);
    EXPECT_EQ(o2.header->statusCode(), 200);
    EXPECT_EQ(o2.body, "tunnelled");
    EXPECT_EQ(connectLine, "127.0.0.1:" + std::to_string(origin.port()));

    // A value with a line break fails the stream before it connects:
    // neither sent nor left out of the CONNECT head.
    auto smuggling = HTTPMessage::request("GET", origin.url("/"));
    smuggling->setHeaderField("Proxy-Authorization", "Basic dXNlcjpwYXNz\r\nX-Injected: 1");
    auto third = HTTPReadStream::make(smuggling);
    third->setProxy(p);
    third->setTLSSettings(trust);
    EXPECT_FALSE(third->open());
    ASSERT_TRUE(third->streamError());
    EXPECT_EQ(third->streamError()->code(), net::kErrorRequestCannotBeSent);
    EXPECT_EQ(third->streamError()->localizedDescription(),
              "The request cannot be sent: the value of the header field \"Proxy-Authorization\" holds a CR, LF or "
              "NUL character");
    EXPECT_EQ(proxyServer.connections(), 2);
    EXPECT_EQ(injected.load(), 0);
    EXPECT_EQ(refused.load(), 1);
}

}  // namespace proxy

namespace socks {

// A SOCKS5 server without authentication that connects only to 127.0.0.1.
Server::Handler socksServer(std::string* askedHost, int replyCode = 0) {
    return [askedHost, replyCode](Conn& c) {
        auto greeting = c.readExact(3);
        if (greeting.size() != 3 || greeting[0] != 5) return;
        c.write(std::string("\x05\x00", 2));
        auto head = c.readExact(5);
        if (head.size() != 5 || head[3] != 3) return;
        auto rest = c.readExact(static_cast<unsigned char>(head[4]) + 2);
        *askedHost = rest.substr(0, rest.size() - 2);
        uint16_t port = static_cast<uint16_t>((static_cast<unsigned char>(rest[rest.size() - 2]) << 8) |
                                              static_cast<unsigned char>(rest.back()));
        std::string reply("\x05\x00\x00\x01\x7f\x00\x00\x01\x00\x00", 10);
        reply[1] = static_cast<char>(replyCode);
        c.write(reply);
        if (replyCode == 0) c.relayTo(port);
    };
}

TEST_F(HTTPReadStreamTest, RequestThroughASocksProxy) {
    Server origin([](Conn& c) {
        while (auto r = c.readRequest()) c.respond(200, "via socks " + r->target);
    });
    std::string asked;
    Server proxyServer(socksServer(&asked));
    auto s = get("http://localhost:" + std::to_string(origin.port()) + "/p?x=1");
    net::ProxySettings p;
    p.type = net::ProxySettings::Type::SOCKS;
    p.host = "127.0.0.1";
    p.port = proxyServer.port();
    s->setProxy(p);
    auto o = run(s);
    ASSERT_TRUE(o.ended) << (o.error ? o.error->description() : "");
    EXPECT_EQ(o.body, "via socks /p?x=1");
    EXPECT_EQ(asked, "localhost");  // the proxy resolves the name

    std::string asked2;
    Server refusing(socksServer(&asked2, 5));
    auto s2 = get("http://localhost:1/");
    p.port = refusing.port();
    s2->setProxy(p);
    auto o2 = run(s2);
    ASSERT_TRUE(o2.error);
    EXPECT_EQ(o2.error->code(), net::kErrorCannotConnectToHost);
    EXPECT_NE(o2.error->localizedDescription().find("connection refused"), std::string::npos);
}

}  // namespace socks

namespace bodies {

// A body stream that has nothing to give on every other read, as a
// bandwidth-paced upload stream does.
class PacedStream : public net::InputStream {
public:
    explicit PacedStream(std::string text) : text_(std::move(text)) {}
    bool open() override {
        status_ = Status::Open;
        return true;
    }
    long read(uint8_t* buf, size_t max) override {
        if (++calls_ % 2 == 0) return 0;  // not now
        size_t n = std::min({max, size_t(1000), text_.size() - offset_});
        std::memcpy(buf, text_.data() + offset_, n);
        offset_ += n;
        if (offset_ == text_.size()) status_ = Status::AtEnd;
        return static_cast<long>(n);
    }
    bool hasBytesAvailable() const override { return offset_ < text_.size(); }
    void close() override { status_ = Status::Closed; }
    std::optional<uint64_t> length() const override { return std::nullopt; }  // sent chunked
    int calls_ = 0;

private:
    std::string text_;
    size_t offset_ = 0;
};

TEST_F(HTTPReadStreamTest, PacedBodyStreamIsSentChunked) {
    std::string received, encoding;
    Server server([&](Conn& c) {
        auto r = c.readRequest();
        received = r->body;
        encoding = r->header("Transfer-Encoding");
        c.respond(200, "got it");
    });
    std::string payload(5500, 'q');
    auto body = ns::make<PacedStream>(payload);
    auto s = HTTPReadStream::make(HTTPMessage::request("PUT", server.url("/")), body);
    auto o = run(s);
    ASSERT_TRUE(o.ended) << (o.error ? o.error->description() : "");
    EXPECT_EQ(received, payload);
    EXPECT_EQ(encoding, "chunked");
    EXPECT_GT(body->calls_, 6);
}

TEST_F(HTTPReadStreamTest, BodyFromAFileAndAMissingFile) {
    testsupport::TempDir dir{"bodyfile"};
    std::string file = dir / "body.bin";
    std::string payload(100000, 'f');
    { std::ofstream(file, std::ios::binary) << payload; }
    Server server(Server::eachRequest([](const testsupport::Request&) { return Server::reply(200, "ok"); }));
    auto s = HTTPReadStream::make(HTTPMessage::request("POST", server.url("/")),
                                  net::InputStream::inputStreamWithFileAtPath(file));
    auto o = run(s);
    ASSERT_TRUE(o.ended);
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_TRUE(server.requests()[0].body == payload);
    EXPECT_EQ(server.requests()[0].header("Content-Length"), "100000");
    EXPECT_EQ(o.bytesWritten, payload.size());

    auto missing = HTTPReadStream::make(HTTPMessage::request("POST", server.url("/")),
                                        net::InputStream::inputStreamWithFileAtPath(dir / "missing"));
    auto m = run(missing);
    ASSERT_TRUE(m.error);
    EXPECT_EQ(m.error->code(), net::kErrorCannotOpenFile);
}

}  // namespace bodies
