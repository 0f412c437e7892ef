// Bytes on the wire: connection reuse seen from the server, keep-alive
// rules, gzip responses, bodies from files, downloads to files with resume,
// progress reports and answers from the download cache.
#include "net/http/tests/RequestTestSupport.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>

#include "net/http/DataCompressor.h"
#include "net/http/DownloadCache.h"
#include "testsupport/OtherFileSystem.h"
#include "testsupport/TempDir.h"

using namespace httptest;
using http::HTTPRequest;
namespace fs = std::filesystem;

namespace {

std::string pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7 + i / 13) % 26);
    return s;
}

std::string readAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}

}  // namespace

TEST(RequestConnections, RequestsInARowReuseOneConnectionAndAPostDoesNot) {
    std::mutex m;
    std::vector<int> connOf;
    testsupport::Server server([&](testsupport::Conn& c) {
        while (auto r = c.readRequest()) {
            {
                std::lock_guard<std::mutex> g(m);
                connOf.push_back(c.index());
            }
            if (!c.respond(200, "ok")) return;
        }
    });
    auto a = HTTPRequest::requestWithURL(url(server.url("/a")));
    startSynchronous(a);
    auto b = HTTPRequest::requestWithURL(url(server.url("/b")));
    startSynchronous(b);
    ASSERT_FALSE(b->error());
    EXPECT_EQ(a->connectionID(), b->connectionID());
    EXPECT_TRUE(a->connectionCanBeReused());

    auto p = HTTPRequest::requestWithURL(url(server.url("/p")));
    p->appendPostData(*ns::Data::make("x"));
    startSynchronous(p);
    auto c = HTTPRequest::requestWithURL(url(server.url("/c")));
    c->startAsynchronous();
    ASSERT_TRUE(waitFor(c));
    std::lock_guard<std::mutex> g(m);
    ASSERT_EQ(connOf.size(), 4u);
    EXPECT_EQ(connOf[0], connOf[1]);  // a and b on one connection
    EXPECT_NE(connOf[2], connOf[0]);  // the POST on its own
    EXPECT_EQ(connOf[3], connOf[0]);  // a GET after it reuses the first again
}

TEST(RequestConnections, KeepAliveAndConnectionHeadersDecideReuse) {
    struct Case {
        std::string head;
        bool reusable;
        double timeout;
    };
    std::vector<Case> cases = {
        {"HTTP/1.1 200 OK\r\nKeep-Alive: timeout=15, max=5\r\n", false, 60},
        {"HTTP/1.1 200 OK\r\nKeep-Alive: timeout=15, max=100\r\n", true, 15},
        {"HTTP/1.1 200 OK\r\nKeep-Alive: timeout=15, max=6\r\n", true, 15},
        {"HTTP/1.1 200 OK\r\nKeep-Alive: timeout=19, max=9\r\n", true, 19},
        {"HTTP/1.1 200 OK\r\nConnection: CLOSE\r\n", false, 60},
        {"HTTP/1.1 200 OK\r\n", true, 60},
        {"HTTP/1.1 200 OK\r\nConnection: close\r\n", false, 60},
        {"HTTP/1.0 200 OK\r\n", false, 60},
        {"HTTP/1.0 200 OK\r\nConnection: keep-alive\r\n", true, 60},
    };
    for (auto& k : cases) {
        testsupport::Server server([&](testsupport::Conn& c) {
            if (c.readRequest()) c.write(k.head + "Content-Length: 2\r\n\r\nok");
        });
        auto r = HTTPRequest::requestWithURL(url(server.url("/")));
        startSynchronous(r);
        ASSERT_FALSE(r->error()) << k.head;
        EXPECT_EQ(r->connectionCanBeReused(), k.reusable) << k.head;
        EXPECT_EQ(r->persistentConnectionTimeoutSeconds(), k.timeout) << k.head;
    }
}

TEST(RequestConnections, ConnectionAfterSwitchingProtocolsIsNeverReused) {
    std::atomic<int> requestsAfterTheSwitch{0};
    testsupport::Server server([&](testsupport::Conn& c) {
        auto r = c.readRequest();
        if (!r) return;
        if (r->target == "/upgrade") {
            c.write("HTTP/1.1 101 Switching Protocols\r\nUpgrade: other\r\nConnection: Upgrade\r\n\r\n");
            // The connection now speaks the other protocol: an HTTP request
            // arriving here went to the wrong place.
            if (c.readRequest()) ++requestsAfterTheSwitch;
            return;
        }
        c.respond(200, "plain");
    });
    auto up = HTTPRequest::requestWithURL(url(server.url("/upgrade")));
    startSynchronous(up);
    ASSERT_FALSE(up->error()) << up->error()->description();
    EXPECT_EQ(up->responseStatusCode(), 101);
    EXPECT_FALSE(up->connectionCanBeReused());
    auto next = HTTPRequest::requestWithURL(url(server.url("/next")));
    next->setTimeOutSeconds(30);
    startSynchronous(next);
    ASSERT_FALSE(next->error()) << next->error()->description();
    EXPECT_EQ(text(next), "plain");
    EXPECT_EQ(server.connections(), 2);
    EXPECT_EQ(requestsAfterTheSwitch.load(), 0);
}

TEST(RequestConnections, ARequestTheServerMayHaveActedOnIsNeverSentAgain) {
    // "/half" answers its first request with half of a 1000-byte body and
    // closes, later ones whole; "/silent" closes its first request without
    // a byte, answers later ones. Either way the server took the request.
    struct Case {
        const char* method;
        const char* target;
        bool onReusedConnection;
        int timesReceived;  // by the server
        bool succeeds;
    };
    const Case cases[] = {
        {"GET", "/half", false, 2, true},      // idempotent: sent again
        {"PUT", "/half", false, 2, true},
        {"POST", "/half", false, 1, false},    // the server may have acted on it
        {"POST", "/half", true, 1, false},
        {"POST", "/silent", false, 1, false},  // a new connection the server closed
        {"POST", "/silent", true, 2, true},    // a kept one closed before any answer: safe
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.method) + " " + k.target + (k.onReusedConnection ? " reused" : " fresh"));
        std::mutex m;
        std::map<std::string, int> seen;
        testsupport::Server server([&](testsupport::Conn& c) {
            while (auto r = c.readRequest()) {
                int n;
                {
                    std::lock_guard<std::mutex> g(m);
                    n = ++seen[r->method + " " + r->target];
                }
                if (r->target == "/half" && n == 1) {
                    c.write("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(500, 'h'));
                    return;
                }
                if (r->target == "/silent" && n == 1) return;
                if (!c.respond(200, r->target == "/half" ? std::string(1000, 'w') : "answer")) return;
            }
        });
        if (k.onReusedConnection) {
            auto warm = HTTPRequest::requestWithURL(url(server.url("/warm")));
            startSynchronous(warm);
            ASSERT_FALSE(warm->error());
        }
        auto d = ns::make<RecordingDelegate>();
        auto r = HTTPRequest::requestWithURL(url(server.url(k.target)));
        r->setRequestMethod(k.method);
        if (std::string(k.method) != "GET") r->appendPostData(*ns::Data::make("sign-up form"));
        r->setShouldAttemptPersistentConnection(true);
        r->setDownloadProgressDelegate(d.get());
        startSynchronous(r);
        drainMain();
        std::lock_guard<std::mutex> g(m);
        EXPECT_EQ(seen[std::string(k.method) + " " + k.target], k.timesReceived);
        EXPECT_EQ(!r->error(), k.succeeds) << (r->error() ? r->error()->description() : "");
        if (k.succeeds) {
            // The size of the body, not of both answers.
            if (std::string(k.target) == "/half") {
                EXPECT_EQ(d->downloadSize, 1000);
            }
        } else {
            ASSERT_TRUE(r->error());
            EXPECT_EQ(r->error()->code(), 1);
        }
    }
}

TEST(RequestConnections, IdleConnectionPastItsTimeoutIsClosedByTheNextStart) {
    std::atomic<bool> firstClosed{false};
    testsupport::Server server([&](testsupport::Conn& c) {
        while (auto r = c.readRequest())
            if (!c.respond(200, "ok")) break;
        if (c.index() == 1) firstClosed = true;
    });
    auto a = HTTPRequest::requestWithURL(url(server.url("/a")));
    a->setPersistentConnectionTimeoutSeconds(0.05);
    startSynchronous(a);
    waitUntil([] { return false; }, 0.1);  // let the kept connection expire
    auto b = HTTPRequest::requestWithURL(url(server.url("/b")));
    startSynchronous(b);
    ASSERT_FALSE(b->error());
    EXPECT_EQ(server.connections(), 2);
    EXPECT_TRUE(waitUntil([&] { return firstClosed.load(); }));
    EXPECT_NE(a->connectionID(), b->connectionID());
}

TEST(RequestBodies, GzipResponsesAreInflatedAtTheEndOrOnArrival) {
    std::string plain = pattern(50000);
    ns::Ref<ns::Error> err;
    auto gz = http::DataCompressor::compressData(ns::Data::make(plain).get(), &err);
    ASSERT_TRUE(gz);
    testsupport::Server server([&](testsupport::Conn& c) {
        while (auto r = c.readRequest()) {
            const std::string whole(gz->view());
            if (r->target == "/cut-by-length") {
                // The length ends the body halfway through the gzip stream.
                if (!c.respond(200, whole.substr(0, whole.size() / 2), "Content-Encoding: gzip\r\n")) return;
                continue;
            }
            if (r->target == "/cut-by-close" || r->target == "/cut-in-header") {
                // No length: the body ends where the connection closes.
                c.write("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nConnection: close\r\n\r\n" +
                        whole.substr(0, r->target == "/cut-in-header" ? 5 : whole.size() / 2));
                return;
            }
            const std::string body = r->target == "/garbage" ? std::string("not gzip at all") : whole;
            if (!c.respond(200, body, "Content-Encoding: gzip\r\n")) return;
        }
    });
    auto a = HTTPRequest::requestWithURL(url(server.url("/")));
    startSynchronous(a);
    ASSERT_FALSE(a->error());
    EXPECT_TRUE(a->isResponseCompressed());
    EXPECT_EQ(must<ns::Data>(a->rawResponseData())->length(), gz->length());
    EXPECT_EQ(must<ns::Data>(a->responseData())->view(), plain);
    // Inflated once, as it arrived: every ask hands out the same body.
    EXPECT_EQ(a->responseData().get(), a->responseData().get());
    EXPECT_EQ(server.requests().back().header("Accept-Encoding"), "gzip");

    auto b = HTTPRequest::requestWithURL(url(server.url("/")));
    b->setShouldWaitToInflateCompressedResponses(false);
    startSynchronous(b);
    ASSERT_FALSE(b->error());
    EXPECT_EQ(must<ns::Data>(b->rawResponseData())->view(), plain);

    // A body that does not inflate, or whose gzip stream stops before its
    // end, is an error, however it is inflated and wherever it goes, never
    // an answer without data or with the part that inflated; no file of it
    // reaches the destination, and none is kept in the download cache.
    testsupport::TempDir dir;
    testsupport::TempDir cacheDir;
    auto cache = ns::make<http::DownloadCache>();
    cache->setStoragePath(cacheDir / "cache");
    const std::vector<std::pair<std::string, std::string>> broken = {
        {"/garbage", "Decompression of data failed with code -3"},
        {"/cut-by-length", "Decompression of data failed with code -5"},
        {"/cut-by-close", "Decompression of data failed with code -5"},
        {"/cut-in-header", "Decompression of data failed with code -5"},
    };
    const char* const ways[] = {"in memory, inflated at the end",  "in memory without a limit",
                                "in memory, inflated on arrival",  "into a file, inflated at the end",
                                "into a file, inflated on arrival", "to the delegate, inflated on arrival"};
    for (const auto& [path, text] : broken) {
        for (int way = 0; way < 6; ++way) {
            SCOPED_TRACE(path + " " + ways[way]);
            auto g = HTTPRequest::requestWithURL(url(server.url(path)), cache.get());
            auto d = ns::make<RecordingDelegate>();
            const std::string destination = dir.path() + "/broken" + std::to_string(way);
            if (way == 1) g->setMaxResponseDataLength(http::kUnlimitedLength);
            if (way == 2 || way == 4 || way == 5) g->setShouldWaitToInflateCompressedResponses(false);
            if (way == 3 || way == 4) {
                g->setDownloadDestinationPath(destination);
                g->setTemporaryFileDownloadPath(destination + ".download");
            }
            if (way == 5) {
                d->takeData = true;
                g->setDelegate(d.get());
            }
            startSynchronous(g);
            if (way == 5) drainMain();
            EXPECT_FALSE(fs::exists(destination));
            EXPECT_FALSE(cache->cachedResponseHeadersForURL(*g->url()));
            EXPECT_EQ(d->count("finished"), 0u);
            if (!g->error()) {
                ADD_FAILURE() << "reported success";
                continue;
            }
            EXPECT_EQ(g->error()->code(), 11);
            EXPECT_EQ(g->error()->localizedDescription(), text);
        }
    }
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(RequestBodies, BodiesPastTheirLimitsEndTheRequestWithCode12) {
    std::string zeros(2 << 20, '\0');
    ns::Ref<ns::Error> err;
    auto bomb = http::DataCompressor::compressData(ns::Data::make(zeros).get(), &err);
    ASSERT_TRUE(bomb);
    testsupport::Server server([&](testsupport::Conn& c) {
        while (auto r = c.readRequest()) {
            bool ok;
            if (r->target == "/bomb") {
                ok = c.respond(200, std::string(bomb->view()), "Content-Encoding: gzip\r\n");
            } else if (r->target == "/endless") {
                // Never ends its body (gives up after 64 MiB, or when the
                // client goes away).
                ok = c.write("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
                std::string piece(65536, 'e');
                for (int i = 0; ok && i < 1024; ++i) ok = c.write(piece);
                return;
            } else {
                ok = c.respond(200, pattern(300000));
            }
            if (!ok) return;
        }
    });
    testsupport::TempDir dir;
    auto run = [&](const std::string& path, const std::function<void(HTTPRequest&)>& setUp) {
        auto r = HTTPRequest::requestWithURL(url(server.url(path)));
        setUp(*r);
        startSynchronous(r);
        return r;
    };
    auto expectTooLarge = [](const ns::Ref<HTTPRequest>& r, const std::string& text) {
        ASSERT_TRUE(r->error()) << text;
        EXPECT_EQ(r->error()->code(), http::kResponseTooLargeErrorType) << text;
        EXPECT_EQ(r->error()->localizedDescription(), text);
        EXPECT_FALSE(r->rawResponseData());
    };
    const std::string kept = "The response body is larger than the limit of 262144 bytes";
    const std::string inflated = "The response body inflates to more than the limit of 1048576 bytes";

    // Kept in memory: the raw bytes, and what a gzip body inflates to,
    // whether it is inflated on arrival or would be on demand.
    expectTooLarge(run("/big", [](HTTPRequest& r) { r.setMaxResponseDataLength(256 << 10); }), kept);
    expectTooLarge(run("/endless", [](HTTPRequest& r) { r.setMaxResponseDataLength(256 << 10); }), kept);
    for (bool onArrival : {false, true})
        expectTooLarge(run("/bomb",
                           [&](HTTPRequest& r) {
                               r.setMaxResponseDataLength(1 << 20);
                               r.setShouldWaitToInflateCompressedResponses(!onArrival);
                           }),
                       inflated);
    // Not kept in memory: inflated for the delegate, or into a download.
    auto d = ns::make<RecordingDelegate>();
    d->takeData = true;
    expectTooLarge(run("/bomb",
                       [&](HTTPRequest& r) {
                           r.setDelegate(d.get());
                           r.setMaxInflatedLength(1 << 20);
                           r.setShouldWaitToInflateCompressedResponses(false);
                       }),
                   inflated);
    EXPECT_LE(d->data.size(), size_t(1) << 20);
    auto download = run("/bomb", [&](HTTPRequest& r) {
        r.setDownloadDestinationPath(dir / "bomb");
        r.setMaxInflatedLength(1 << 20);
    });
    expectTooLarge(download, inflated);
    EXPECT_FALSE(fs::exists(dir / "bomb"));

    // Raised or lifted, the same bodies arrive whole.
    auto raised = run("/bomb", [](HTTPRequest& r) { r.setMaxResponseDataLength(2 << 20); });
    ASSERT_FALSE(raised->error()) << raised->error()->description();
    EXPECT_EQ(must<ns::Data>(raised->responseData())->length(), zeros.size());
    // A limit of exactly the body's length keeps it; one byte less does not.
    auto exact = run("/big", [](HTTPRequest& r) { r.setMaxResponseDataLength(300000); });
    ASSERT_FALSE(exact->error()) << exact->error()->description();
    EXPECT_EQ(must<ns::Data>(exact->rawResponseData())->length(), 300000u);
    expectTooLarge(run("/big", [](HTTPRequest& r) { r.setMaxResponseDataLength(299999); }),
                   "The response body is larger than the limit of 299999 bytes");
    auto lifted = run("/big", [](HTTPRequest& r) { r.setMaxResponseDataLength(http::kUnlimitedLength); });
    ASSERT_FALSE(lifted->error());
    EXPECT_EQ(must<ns::Data>(lifted->rawResponseData())->length(), 300000u);
    auto file = run("/bomb", [&](HTTPRequest& r) {
        r.setDownloadDestinationPath(dir / "zeros");
        r.setMaxInflatedLength(2 << 20);
    });
    ASSERT_FALSE(file->error()) << file->error()->description();
    EXPECT_EQ(fs::file_size(dir / "zeros"), zeros.size());
    // What a gzip body inflates to, at the limit and one byte past it: in
    // memory (on demand and on arrival), for the delegate, into a file.
    const uint64_t whole = zeros.size();
    for (uint64_t limit : {whole, whole - 1}) {
        const bool fits = limit == whole;
        const std::string tooLarge = "The response body inflates to more than the limit of " + std::to_string(limit) + " bytes";
        for (bool onArrival : {false, true}) {
            SCOPED_TRACE(std::string("in memory, limit ") + std::to_string(limit) + (onArrival ? ", on arrival" : ""));
            auto r = run("/bomb", [&](HTTPRequest& q) {
                q.setMaxResponseDataLength(limit);
                q.setShouldWaitToInflateCompressedResponses(!onArrival);
            });
            if (!fits) {
                expectTooLarge(r, tooLarge);
                continue;
            }
            ASSERT_FALSE(r->error()) << r->error()->description();
            EXPECT_EQ(must<ns::Data>(r->responseData())->length(), whole);
        }
        SCOPED_TRACE("limit " + std::to_string(limit));
        auto taker = ns::make<RecordingDelegate>();
        taker->takeData = true;
        auto toDelegate = run("/bomb", [&](HTTPRequest& q) {
            q.setDelegate(taker.get());
            q.setMaxInflatedLength(limit);
            q.setShouldWaitToInflateCompressedResponses(false);
        });
        auto toFile = run("/bomb", [&](HTTPRequest& q) {
            q.setDownloadDestinationPath(dir / "limited");
            q.setMaxInflatedLength(limit);
        });
        if (!fits) {
            expectTooLarge(toDelegate, tooLarge);
            expectTooLarge(toFile, tooLarge);
            EXPECT_FALSE(fs::exists(dir / "limited"));
            continue;
        }
        ASSERT_FALSE(toDelegate->error()) << toDelegate->error()->description();
        EXPECT_EQ(taker->data.size(), whole);
        ASSERT_FALSE(toFile->error()) << toFile->error()->description();
        EXPECT_EQ(fs::file_size(dir / "limited"), whole);
        fs::remove(dir / "limited");
    }
}

TEST(RequestBodies, BodyFromAFileIsStreamedAndTheTemporaryFileRemoved) {
    testsupport::TempDir dir;
    std::string content = pattern(600000);  // more than two chunks of 262144
    std::ofstream(dir / "in.bin", std::ios::binary) << content;
    std::string received;
    std::mutex m;
    testsupport::Server server([&](testsupport::Conn& c) {
        if (auto r = c.readRequest()) {
            {
                std::lock_guard<std::mutex> g(m);
                received = r->body;
            }
            c.respond(200, "thanks");
        }
    });
    auto r = HTTPRequest::requestWithURL(url(server.url("/upload")));
    r->setShouldStreamPostDataFromDisk(true);
    ASSERT_TRUE(r->appendPostDataFromFile(dir / "in.bin"));
    std::string tmp = r->postBodyFilePath();
    EXPECT_TRUE(r->didCreateTemporaryPostDataFile());
    startSynchronous(r);
    ASSERT_FALSE(r->error()) << r->error()->description();
    {
        std::lock_guard<std::mutex> g(m);
        EXPECT_EQ(received.size(), content.size());
        EXPECT_TRUE(received == content);
    }
    EXPECT_EQ(r->postLength(), content.size());
    EXPECT_FALSE(fs::exists(tmp));
    EXPECT_TRUE(fs::exists(dir / "in.bin"));
    // The finished request, still held, keeps no descriptor of the body's file.
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const std::string target = fs::read_symlink(fd.path(), ec).string();
        EXPECT_EQ(target.rfind(tmp, 0), std::string::npos) << fd.path() << " -> " << target;
    }
}

TEST(RequestBodies, CompressedRequestBodyIsSentAsGzip) {
    std::string received, encoding;
    std::mutex m;
    testsupport::Server server([&](testsupport::Conn& c) {
        if (auto r = c.readRequest()) {
            {
                std::lock_guard<std::mutex> g(m);
                received = r->body;
                encoding = r->header("Content-Encoding");
            }
            c.respond(200, "ok");
        }
    });
    std::string plain = pattern(20000);
    auto r = HTTPRequest::requestWithURL(url(server.url("/")));
    r->setShouldCompressRequestBody(true);
    r->appendPostData(*ns::Data::make(plain));
    startSynchronous(r);
    ASSERT_FALSE(r->error());
    std::lock_guard<std::mutex> g(m);
    EXPECT_EQ(encoding, "gzip");
    ns::Ref<ns::Error> err;
    auto inflated = http::DataDecompressor::uncompressData(ns::Data::make(received).get(), &err);
    ASSERT_TRUE(inflated);
    EXPECT_EQ(inflated->view(), plain);
}

namespace {
// Serves /file (100000 bytes); honours "Range: bytes=N-" unless ignoreRange.
// /cut sends the headers and 5000 bytes, then resets.
class FileServer {
public:
    explicit FileServer(bool ignoreRange = false)
        : content(pattern(100000)),
          server_([this, ignoreRange](testsupport::Conn& c) {
              while (auto r = c.readRequest()) {
                  if (r->target == "/cut") {
                      c.write("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + content.substr(0, 5000));
                      c.reset();
                      return;
                  }
                  std::string range = r->header("Range");
                  bool ok;
                  if (!range.empty() && !ignoreRange) {
                      size_t from = std::stoul(range.substr(6));
                      ok = c.respond(206, content.substr(from),
                                     "Content-Range: bytes " + std::to_string(from) + "-99999/100000\r\n");
                  } else {
                      ok = c.respond(200, content);
                  }
                  if (!ok) return;
              }
          }) {}
    std::string url(const std::string& p) { return server_.url(p); }
    std::string lastRange() const { return server_.requests().back().header("Range"); }
    const std::string content;

private:
    testsupport::Server server_;
};
}  // namespace

TEST(RequestDownloads, DownloadGoesToTheDestinationThroughATemporaryFile) {
    testsupport::TempDir dir;
    FileServer s;
    auto r = HTTPRequest::requestWithURL(url(s.url("/file")));
    r->setDownloadDestinationPath(dir / "out.bin");
    startSynchronous(r);
    ASSERT_FALSE(r->error()) << r->error()->description();
    EXPECT_TRUE(readAll(dir / "out.bin") == s.content);
    EXPECT_TRUE(r->temporaryFileDownloadPath().empty());
    EXPECT_FALSE(r->rawResponseData());

    // A temporary file that cannot be made ends the request with code 8,
    // reported to the delegate, and leaves no destination file.
    auto d = ns::make<RecordingDelegate>();
    auto unwritable = HTTPRequest::requestWithURL(url(s.url("/file")));
    unwritable->setDownloadDestinationPath(dir / "never.bin");
    unwritable->setTemporaryFileDownloadPath(dir / "missing-folder/partial");
    unwritable->setDelegate(d.get());
    unwritable->startAsynchronous();
    ASSERT_TRUE(waitFor(unwritable));
    drainMain();
    ASSERT_TRUE(unwritable->error());
    EXPECT_EQ(unwritable->error()->code(), http::kFileManagementError);
    EXPECT_EQ(d->count("failed"), 1u);
    EXPECT_EQ(d->count("finished"), 0u);
    EXPECT_FALSE(fs::exists(dir / "never.bin"));
}

TEST(RequestDownloads, PartialFileIsResumedWithRange) {
    testsupport::TempDir dir;
    FileServer s;
    std::ofstream(dir / "partial", std::ios::binary) << s.content.substr(0, 30000);
    auto d = ns::make<RecordingDelegate>();
    auto r = HTTPRequest::requestWithURL(url(s.url("/file")));
    r->setDownloadDestinationPath(dir / "out.bin");
    r->setTemporaryFileDownloadPath(dir / "partial");
    r->setAllowResumeForFileDownloads(true);
    r->setDownloadProgressDelegate(d.get());
    r->startAsynchronous();
    ASSERT_TRUE(waitFor(r));
    drainMain();
    ASSERT_FALSE(r->error()) << r->error()->description();
    EXPECT_EQ(s.lastRange(), "bytes=30000-");
    EXPECT_EQ(r->partialDownloadSize(), 30000u);
    EXPECT_TRUE(readAll(dir / "out.bin") == s.content);
    EXPECT_FALSE(fs::exists(dir / "partial"));
    ASSERT_FALSE(d->progress.empty());
    EXPECT_FLOAT_EQ(d->progress.back(), 1.0f);
}

TEST(RequestDownloads, ServerIgnoringRangeRestartsTheFileAndTakesTheSizeBack) {
    testsupport::TempDir dir;
    FileServer s(/*ignoreRange=*/true);
    std::ofstream(dir / "partial", std::ios::binary) << s.content.substr(0, 30000);
    auto d = ns::make<RecordingDelegate>();
    auto r = HTTPRequest::requestWithURL(url(s.url("/file")));
    r->setDownloadDestinationPath(dir / "out.bin");
    r->setTemporaryFileDownloadPath(dir / "partial");
    r->setAllowResumeForFileDownloads(true);
    r->setDownloadProgressDelegate(d.get());
    r->startAsynchronous();
    ASSERT_TRUE(waitFor(r));
    drainMain();
    ASSERT_FALSE(r->error());
    EXPECT_TRUE(readAll(dir / "out.bin") == s.content);
    EXPECT_EQ(r->partialDownloadSize(), 0u);
    // Announced 100000 + 30000, then the 30000 taken back.
    EXPECT_EQ(d->downloadSize, 100000);
}

// A download whose temporary file lies on another file system than its
// destination (a temporary folder on tmpfs beside a home on disk) lands
// whole over the file that was there.
TEST(RequestDownloads, DownloadLandsFromATemporaryFolderOnAnotherFileSystem) {
    testsupport::TempDir dir;
    testsupport::FolderOnAnotherFileSystem other(dir.path());
    if (other.empty()) GTEST_SKIP() << testsupport::FolderOnAnotherFileSystem::kMissing;
    FileServer s;
    std::ofstream(dir / "out.bin") << "the older file";
    auto r = HTTPRequest::requestWithURL(url(s.url("/file")));
    r->setDownloadDestinationPath(dir / "out.bin");
    r->setTemporaryFileDownloadPath(other / "partial");
    startSynchronous(r);
    ASSERT_FALSE(r->error()) << r->error()->description();
    EXPECT_TRUE(readAll(dir / "out.bin") == s.content);
    EXPECT_FALSE(fs::exists(other / "partial"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

// A gzip download inflated as it arrives, cut with resume allowed, ends
// with the whole inflated file on the next attempt; a resume that cannot
// continue (its partial file is not the start of this body) drops the
// partial file, so the attempt after it starts over and succeeds.
TEST(RequestDownloads, GzipDownloadInflatedOnArrivalResumesWhole) {
    std::string plain;
    for (int i = 0; plain.size() < 200000; ++i) plain += "line " + std::to_string(i) + " of the inflated file\n";
    ns::Ref<ns::Error> error;
    auto packedData = http::DataCompressor::compressData(ns::Data::make(plain).get(), &error);
    ASSERT_TRUE(packedData);
    const std::string packed(packedData->view());
    const size_t cut = packed.size() / 2;
    // The first request and the one retry a dropped connection gets (which
    // asks for the rest, and is sent the whole body again) are cut.
    std::atomic<int> cutsLeft{2};
    testsupport::Server server([&](testsupport::Conn& c) {
        while (auto r = c.readRequest()) {
            const std::string range = r->header("Range");
            if (cutsLeft.fetch_sub(1) > 0) {
                c.write("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: " + std::to_string(packed.size()) +
                        "\r\n\r\n" + packed.substr(0, cut));
                c.reset();
                return;
            } else if (!range.empty()) {
                const size_t from = std::stoul(range.substr(6));
                if (!c.respond(206, packed.substr(from),
                               "Content-Encoding: gzip\r\nContent-Range: bytes " + std::to_string(from) + "-" +
                                   std::to_string(packed.size() - 1) + "/" + std::to_string(packed.size()) + "\r\n"))
                    return;
            } else if (!c.respond(200, packed, "Content-Encoding: gzip\r\n")) {
                return;
            }
        }
    });
    testsupport::TempDir dir;
    auto attempt = [&] {
        auto r = HTTPRequest::requestWithURL(url(server.url("/inflated.txt")));
        r->setDownloadDestinationPath(dir / "out.txt");
        r->setTemporaryFileDownloadPath(dir / "partial");
        r->setAllowResumeForFileDownloads(true);
        r->setShouldWaitToInflateCompressedResponses(false);
        startSynchronous(r);
        return r;
    };
    auto cutShort = attempt();
    ASSERT_TRUE(cutShort->error());
    EXPECT_EQ(cutShort->error()->code(), http::kConnectionFailureErrorType);
    ASSERT_EQ(fs::file_size(dir / "partial"), cut);
    auto resumed = attempt();
    ASSERT_FALSE(resumed->error()) << resumed->error()->description();
    EXPECT_TRUE(readAll(dir / "out.txt") == plain);
    EXPECT_FALSE(fs::exists(dir / "partial"));
    ASSERT_EQ(server.requestCount(), 3u);
    EXPECT_EQ(server.requests()[2].header("Range"), "bytes=" + std::to_string(cut) + "-");
    server.clearRequests();

    // A partial file that is not the start of this body: the resume fails,
    // its file goes, and the next attempt starts over.
    fs::remove(dir / "out.txt");
    std::ofstream(dir / "partial", std::ios::binary) << std::string(cut, 'x');
    auto broken = attempt();
    ASSERT_TRUE(broken->error());
    EXPECT_EQ(broken->error()->code(), http::kCompressionErrorType);
    EXPECT_FALSE(fs::exists(dir / "partial"));
    EXPECT_FALSE(fs::exists(dir / "out.txt"));
    auto again = attempt();
    ASSERT_FALSE(again->error()) << again->error()->description();
    EXPECT_TRUE(readAll(dir / "out.txt") == plain);
    ASSERT_EQ(server.requestCount(), 2u);
    EXPECT_FALSE(server.requests()[1].has("Range"));
}

// A resumed download takes only the rest of the body it started. A first
// attempt is cut after 10000 of its 20000 bytes; the resume, a new request
// as a later process would make, sends that answer's validator as If-Range
// and gets the row's answer. A part of another body (same length, another
// ETag, the server ignoring If-Range), another part, or a part of a body of
// another length fails the request with the destination as it was and the
// partial file gone, so the next attempt gets the whole body; a whole body
// (a 200, or a 206 of all of it) starts the file over.
TEST(RequestDownloads, ResumeTakesOnlyTheRestOfTheBodyItStarted) {
    const std::string older = pattern(20000);
    const std::string newer(older.rbegin(), older.rend());
    const std::string lastModified = "Tue, 01 Dec 2026 10:00:00 GMT";
    using Answer = std::function<bool(testsupport::Conn&)>;
    auto part = [](const std::string& body, size_t from, size_t to, const std::string& total,
                   const std::string& more) -> Answer {
        return [=](testsupport::Conn& c) {
            return c.respond(206, body.substr(from, to - from + 1),
                             more + "Content-Range: bytes " + std::to_string(from) + "-" + std::to_string(to) + "/" +
                                 total + "\r\n");
        };
    };
    struct Row {
        const char* name;
        std::string firstValidators;  // header lines of the cut first answer
        std::string ifRange;          // what the resume must send
        Answer resumed;               // the answer to the resume
        bool succeeds;                // else code 8, and the next attempt gets `newer` whole
        const std::string* lands;     // the destination after a success
    };
    const std::string etagA = "ETag: \"a\"\r\n", etagB = "ETag: \"b\"\r\n";
    const std::string longer = older + pattern(10000);
    const Row rows[] = {
        {"the same body resumed (ETag)", etagA, "\"a\"", part(older, 10000, 19999, "20000", etagA), true, &older},
        {"the same body resumed (Last-Modified)", "Last-Modified: " + lastModified + "\r\n", lastModified,
         part(older, 10000, 19999, "20000", "Last-Modified: " + lastModified + "\r\n"), true, &older},
        {"a weak ETag is not sent: Last-Modified is", "ETag: W/\"a\"\r\nLast-Modified: " + lastModified + "\r\n",
         lastModified, part(older, 10000, 19999, "*", "ETag: W/\"a\"\r\n"), true, &older},
        {"a changed body sent whole (200)", etagA, "\"a\"",
         [&](testsupport::Conn& c) { return c.respond(200, newer, etagB); }, true, &newer},
        {"the whole body as a 206", etagA, "\"a\"", part(older, 0, 19999, "20000", etagA), true, &older},
        {"a changed body of the same length, If-Range ignored", etagA, "\"a\"",
         part(newer, 10000, 19999, "20000", etagB), false, nullptr},
        {"a changed body, Last-Modified, If-Range ignored", "Last-Modified: " + lastModified + "\r\n", lastModified,
         part(newer, 10000, 19999, "20000", "Last-Modified: Wed, 02 Dec 2026 10:00:00 GMT\r\n"), false, nullptr},
        {"another part", etagA, "\"a\"", part(older, 5000, 19999, "20000", etagA), false, nullptr},
        {"a part that stops short", etagA, "\"a\"", part(older, 10000, 14999, "20000", etagA), false, nullptr},
        {"a part of a longer body", etagA, "\"a\"", part(longer, 10000, 29999, "30000", etagA), false, nullptr},
        {"a part of a longer body, its total unknown", etagA, "\"a\"", part(longer, 10000, 29999, "*", ""), false,
         nullptr},
        {"no rest to be had (416)", etagA, "\"a\"",
         [](testsupport::Conn& c) {
             return c.write("HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */20000\r\n"
                            "Content-Length: 0\r\n\r\n");
         },
         false, nullptr},
        {"no rest to be had (416), with a page", etagA, "\"a\"",
         [](testsupport::Conn& c) { return c.respond(416, "no such range", "Content-Range: bytes */20000\r\n"); },
         false, nullptr},
    };
    std::mutex m;
    const Row* row = nullptr;
    int cutsLeft = 0;
    testsupport::Server server([&](testsupport::Conn& c) {
        while (auto r = c.readRequest()) {
            std::unique_lock<std::mutex> g(m);
            if (cutsLeft > 0) {
                --cutsLeft;
                c.write("HTTP/1.1 200 OK\r\nContent-Length: 20000\r\n" + row->firstValidators + "\r\n" +
                        older.substr(0, 10000));
                c.reset();
                return;
            } else if (r->has("Range")) {
                Answer answer = row->resumed;
                g.unlock();
                if (!answer(c)) return;
            } else if (!c.respond(200, newer, etagB)) {
                return;
            }
        }
    });
    for (const Row& each : rows) {
        SCOPED_TRACE(each.name);
        testsupport::TempDir dir;
        std::ofstream(dir / "out.bin") << "the older file";
        {
            std::lock_guard<std::mutex> g(m);
            row = &each;
            // The first request and the retry a dropped connection gets
            // (asking for the rest, sent the whole body again).
            cutsLeft = 2;
        }
        server.clearRequests();
        auto attempt = [&] {
            auto r = HTTPRequest::requestWithURL(url(server.url("/file")));
            r->setDownloadDestinationPath(dir / "out.bin");
            r->setTemporaryFileDownloadPath(dir / "partial");
            r->setAllowResumeForFileDownloads(true);
            startSynchronous(r);
            return r;
        };
        auto cut = attempt();
        ASSERT_TRUE(cut->error());
        ASSERT_EQ(fs::file_size(dir / "partial"), 10000u);
        {
            // The engine's own retry asked for the rest of the body the
            // first answer started.
            const auto seen = server.requests();
            ASSERT_EQ(seen.size(), 2u);
            EXPECT_EQ(seen[1].header("Range"), "bytes=10000-");
            EXPECT_EQ(seen[1].header("If-Range"), each.ifRange);
        }
        auto resumed = attempt();
        const auto seen = server.requests();
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.back().header("Range"), "bytes=10000-");
        EXPECT_EQ(seen.back().header("If-Range"), each.ifRange);
        if (each.succeeds) {
            ASSERT_FALSE(resumed->error()) << resumed->error()->description();
            EXPECT_TRUE(readAll(dir / "out.bin") == *each.lands) << readAll(dir / "out.bin").size() << " bytes";
        } else {
            ASSERT_TRUE(resumed->error());
            EXPECT_EQ(resumed->error()->code(), http::kFileManagementError) << resumed->error()->description();
            // A 416 says the rest cannot be had; any other answer, that it does not continue the file.
            const bool noRest = std::string(each.name).find("416") != std::string::npos;
            EXPECT_EQ(resumed->error()->localizedDescription().find("has no rest for the resumed download") !=
                          std::string::npos,
                      noRest)
                << resumed->error()->localizedDescription();
            EXPECT_EQ(readAll(dir / "out.bin"), "the older file");
            auto again = attempt();
            ASSERT_FALSE(again->error()) << again->error()->description();
            EXPECT_FALSE(server.requests().back().has("Range"));
            EXPECT_TRUE(readAll(dir / "out.bin") == newer);
        }
        // Nothing of the download is left beside the destination.
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
    }
}

// A file download keeps nothing of a challenge the engine answers with a
// login (a server's 401 or a proxy's 407, each with a page): whether the
// login fails (no or wrong credentials: code 3) or succeeds, the
// destination and a partial file stay as they were until the attempt that
// carries the login brings the body, which then lands whole (the rest of
// the partial file's body, asked for again with its validator).
TEST(RequestDownloads, AChallengedAnswerNeverLandsAndTheLoggedInBodyLandsWhole) {
    HTTPRequest::clearSession();
    struct ClearAtEnd {
        ~ClearAtEnd() { HTTPRequest::clearSession(); }
    } clearAtEnd;
    const std::string body = pattern(20000);
    const std::string page(3000, 'p');
    const std::string login = "Basic dXNlcjpwYXNz";  // user:pass
    testsupport::Server server(testsupport::Server::eachRequest([&](const testsupport::Request& q) {
        const bool viaProxy = q.target.rfind("http://", 0) == 0;
        if (viaProxy && q.header("Proxy-Authorization") != login)
            return testsupport::Server::reply(407, page, "Proxy-Authenticate: Basic realm=\"P\"\r\n");
        if (!viaProxy && q.header("Authorization") != login)
            return testsupport::Server::reply(401, page, "WWW-Authenticate: Basic realm=\"R\"\r\n");
        if (q.header("Range") == "bytes=10000-" && q.header("If-Range") == "\"a\"")
            return testsupport::Server::reply(206, body.substr(10000),
                                              "ETag: \"a\"\r\nContent-Range: bytes 10000-19999/20000\r\n");
        return testsupport::Server::reply(200, body, "ETag: \"a\"\r\n");
    }));
    enum class Login { None, Wrong, Right };
    const struct {
        const char* name;
        bool proxy;
        Login login;
        bool resumable;  // a partial file of 10000 bytes of `body` is there
    } rows[] = {
        {"401, no credentials", false, Login::None, false},
        {"401, wrong credentials", false, Login::Wrong, false},
        {"407, no credentials", true, Login::None, false},
        {"401, no credentials, a partial file", false, Login::None, true},
        {"407, wrong credentials, a partial file", true, Login::Wrong, true},
        {"401, the right credentials", false, Login::Right, false},
        {"401, the right credentials, a partial file", false, Login::Right, true},
        {"407, the right credentials, a partial file", true, Login::Right, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        HTTPRequest::clearSession();
        testsupport::TempDir dir;
        std::ofstream(dir / "out.bin") << "the older file";
        const std::string record = "resume 1\netag \"a\"\nlength 20000\n";
        if (row.resumable) {
            std::ofstream(dir / "partial", std::ios::binary) << body.substr(0, 10000);
            std::ofstream(dir / "partial.resume", std::ios::binary) << record;
        }
        server.clearRequests();
        auto r = HTTPRequest::requestWithURL(url(row.proxy ? "http://origin.invalid/secret" : server.url("/secret")));
        if (row.proxy) {
            r->setProxyHost("127.0.0.1");
            r->setProxyPort(server.port());
        }
        r->setUseSessionPersistence(false);
        r->setDownloadDestinationPath(dir / "out.bin");
        if (row.resumable) {
            r->setTemporaryFileDownloadPath(dir / "partial");
            r->setAllowResumeForFileDownloads(true);
        }
        if (row.login != Login::None) {
            const std::string password = row.login == Login::Right ? "pass" : "wrong";
            if (row.proxy) {
                r->setProxyUsername("user");
                r->setProxyPassword(password);
            } else {
                r->setUsername("user");
                r->setPassword(password);
            }
        }
        startSynchronous(r);
        if (row.login == Login::Right) {
            ASSERT_FALSE(r->error()) << r->error()->description();
            EXPECT_TRUE(readAll(dir / "out.bin") == body) << readAll(dir / "out.bin").size() << " bytes";
            EXPECT_FALSE(fs::exists(dir / "partial"));
            EXPECT_FALSE(fs::exists(dir / "partial.resume"));
            // Challenged first, then asked again with the login.
            const auto seen = server.requests();
            ASSERT_EQ(seen.size(), 2u);
            EXPECT_FALSE(seen[0].has(row.proxy ? "Proxy-Authorization" : "Authorization"));
            EXPECT_EQ(seen[1].header("Range"), row.resumable ? "bytes=10000-" : "");
            EXPECT_EQ(seen[1].header("If-Range"), row.resumable ? "\"a\"" : "");
        } else {
            ASSERT_TRUE(r->error());
            EXPECT_EQ(r->error()->code(), 3) << r->error()->description();
            EXPECT_TRUE(readAll(dir / "out.bin") == "the older file") << readAll(dir / "out.bin").size() << " bytes";
            if (row.resumable) {
                EXPECT_TRUE(readAll(dir / "partial") == body.substr(0, 10000));
                EXPECT_EQ(readAll(dir / "partial.resume"), record);
            }
        }
        // Nothing of the challenge's page is left beside the destination.
        for (const auto& e : fs::directory_iterator(dir.path()))
            EXPECT_EQ(readAll(e.path()).find(page.substr(0, 100)), std::string::npos) << e.path();
    }
    // A body kept in memory keeps the page of a login that failed, as before.
    HTTPRequest::clearSession();
    auto inMemory = HTTPRequest::requestWithURL(url(server.url("/secret")));
    startSynchronous(inMemory);
    ASSERT_TRUE(inMemory->error());
    EXPECT_EQ(inMemory->error()->code(), 3);
    EXPECT_TRUE(text(inMemory) == page) << text(inMemory).size() << " bytes";
}

// A body cut short is kept for a resume only when it is the resource's:
// an error page broken off (and broken off again on the engine's own
// retry) leaves no partial file, so the next attempt asks for the whole
// body and lands it; a 200 broken off is resumed.
TEST(RequestDownloads, AnErrorPageCutShortIsNeverResumed) {
    const std::string body = pattern(20000);
    const std::string page(2000, 'e');
    std::mutex m;
    std::string firstHead;
    int cutsLeft = 0;
    testsupport::Server server([&](testsupport::Conn& c) {
        while (auto q = c.readRequest()) {
            std::unique_lock<std::mutex> g(m);
            if (cutsLeft > 0) {
                --cutsLeft;
                const bool isPage = firstHead.find(" 200 ") == std::string::npos;
                c.write(firstHead + "\r\n" + (isPage ? page : body).substr(0, 500));
                c.reset();
                return;
            }
            g.unlock();
            // A server that sends the rest of whatever is asked.
            const std::string range = q->header("Range");
            const size_t from = range.empty() ? 0 : std::stoul(range.substr(6));
            if (!c.respond(range.empty() ? 200 : 206, body.substr(from),
                           range.empty() ? "" : "Content-Range: bytes " + std::to_string(from) + "-19999/20000\r\n"))
                return;
        }
    });
    const struct {
        const char* name;
        std::string head;
        bool resumed;
    } rows[] = {
        {"a 503 page", "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 2000\r\n", false},
        {"a 401 page", "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"R\"\r\nContent-Length: 2000\r\n",
         false},
        {"a 404 page", "HTTP/1.1 404 Not Found\r\nContent-Length: 2000\r\n", false},
        {"the body", "HTTP/1.1 200 OK\r\nContent-Length: 20000\r\n", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        testsupport::TempDir dir;
        std::ofstream(dir / "out.bin") << "the older file";
        {
            std::lock_guard<std::mutex> g(m);
            firstHead = row.head;
            cutsLeft = 2;  // the first request and the retry a dropped connection gets
        }
        server.clearRequests();
        auto attempt = [&] {
            auto r = HTTPRequest::requestWithURL(url(server.url("/file")));
            r->setDownloadDestinationPath(dir / "out.bin");
            r->setTemporaryFileDownloadPath(dir / "partial");
            r->setAllowResumeForFileDownloads(true);
            startSynchronous(r);
            return r;
        };
        auto cut = attempt();
        ASSERT_TRUE(cut->error());
        EXPECT_EQ(cut->error()->code(), http::kConnectionFailureErrorType);
        EXPECT_EQ(readAll(dir / "out.bin"), "the older file");
        EXPECT_EQ(fs::exists(dir / "partial"), row.resumed);
        auto next = attempt();
        ASSERT_FALSE(next->error()) << next->error()->description();
        EXPECT_EQ(server.requests().back().header("Range"), row.resumed ? "bytes=500-" : "");
        EXPECT_TRUE(readAll(dir / "out.bin") == body) << readAll(dir / "out.bin").substr(0, 40);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
    }
}

// A resumable download cut short is asked again for the rest of what its
// partial file now holds; when that retry is redirected, the redirected
// request asks for the same rest (not for what the first attempt asked),
// and the file lands whole.
TEST(RequestDownloads, ARedirectAfterARetryAsksForTheRestThePartialFileNowStarts) {
    const std::string body = pattern(20000);
    std::mutex m;
    int fileRequests = 0;
    std::string etag;        // of the body served, "" for none
    bool firstIsPage = false;  // the first answer is an error page
    // Answers with the rest asked for when If-Range names this body (or is
    // absent when the body has no ETag), else with all of it; the first
    // answer to /file is cut after 500 bytes of its body, the second moves
    // /file to /moved.
    auto answer = [&](const testsupport::Request& q, size_t* from) {
        const std::string range = q.header("Range");
        std::string tag;
        {
            std::lock_guard<std::mutex> g(m);
            tag = etag;
        }
        const bool part = !range.empty() && q.header("If-Range") == tag;
        *from = part ? std::stoul(range.substr(6)) : 0;
        return std::string(part ? "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(*from) +
                                      "-19999/20000\r\n"
                                : "HTTP/1.1 200 OK\r\n") +
               (tag.empty() ? "" : "ETag: " + tag + "\r\n") + "Content-Length: " + std::to_string(body.size() - *from) + "\r\n\r\n";
    };
    testsupport::Server server([&](testsupport::Conn& c) {
        while (auto q = c.readRequest()) {
            size_t from = 0;
            const std::string head = answer(*q, &from);
            if (q->target == "/file") {
                std::unique_lock<std::mutex> g(m);
                if (fileRequests++ == 0) {
                    const bool page = firstIsPage;
                    g.unlock();
                    c.write(page ? "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 2000\r\n\r\n" + std::string(500, 'e')
                                 : head + body.substr(from, 500));
                    c.reset();
                    return;
                }
                g.unlock();
                if (!c.write("HTTP/1.1 307 Temporary Redirect\r\nLocation: /moved\r\nContent-Length: 5\r\n\r\nmoved"))
                    return;
                continue;
            }
            if (!c.write(head + body.substr(from))) return;
        }
    });
    const struct {
        const char* name;
        const char* partialRecord;  // "" for no partial file at first
        const char* askedFirst;     // the Range of the first request
        const char* rest;           // the Range of the retry and of the redirected request
        const char* etag;           // of the body served, and the If-Range of the retry and the redirect
        bool callersIfRange = false;  // the caller asks If-Range "old" himself, before any other header
        bool firstIsPage = false;     // the first answer is a 503 page: nothing is left to continue
    } rows[] = {
        {"no partial file at first", "", "", "bytes=500-", "\"a\""},
        {"a partial file of this body", "resume 1\netag \"a\"\nlength 20000\n", "bytes=10000-", "bytes=10500-",
         "\"a\""},
        {"a partial file of another body", "resume 1\netag \"old\"\nlength 20000\n", "bytes=10000-", "bytes=500-",
         "\"a\""},
        {"a partial file of another body, which has no ETag", "resume 1\netag \"old\"\nlength 20000\n",
         "bytes=10000-", "bytes=500-", ""},
        {"the caller's own If-Range, the body has no ETag", "resume 1\netag \"old\"\nlength 20000\n",
         "bytes=10000-", "bytes=500-", "", true},
        {"an error page cut short: started over", "resume 1\netag \"a\"\nlength 20000\n", "bytes=10000-", "",
         "", false, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        testsupport::TempDir dir;
        if (*row.partialRecord) {
            std::ofstream(dir / "partial", std::ios::binary) << body.substr(0, 10000);
            std::ofstream(dir / "partial.resume", std::ios::binary) << row.partialRecord;
        }
        {
            std::lock_guard<std::mutex> g(m);
            fileRequests = 0;
            etag = row.etag;
            firstIsPage = row.firstIsPage;
        }
        server.clearRequests();
        auto r = HTTPRequest::requestWithURL(url(server.url("/file")));
        if (row.callersIfRange) r->addRequestHeader("If-Range", "\"old\"");
        r->setDownloadDestinationPath(dir / "out.bin");
        r->setTemporaryFileDownloadPath(dir / "partial");
        r->setAllowResumeForFileDownloads(true);
        startSynchronous(r);
        ASSERT_FALSE(r->error()) << r->error()->description();
        EXPECT_TRUE(readAll(dir / "out.bin") == body) << readAll(dir / "out.bin").size() << " bytes";
        EXPECT_FALSE(fs::exists(dir / "partial"));
        EXPECT_FALSE(fs::exists(dir / "partial.resume"));
        const auto seen = server.requests();
        ASSERT_EQ(seen.size(), 3u);
        EXPECT_EQ(seen[0].header("Range"), row.askedFirst);
        EXPECT_EQ(seen[1].target, "/file");
        EXPECT_EQ(seen[1].header("Range"), row.rest);
        EXPECT_EQ(seen[1].header("If-Range"), row.etag);
        EXPECT_EQ(seen[2].target, "/moved");
        EXPECT_EQ(seen[2].header("Range"), row.rest);
        EXPECT_EQ(seen[2].header("If-Range"), row.etag);
    }
}

// A Range the caller sets himself, with resume allowed and no partial file
// to continue, lands the part the 206 brings.
TEST(RequestDownloads, TheCallersOwnRangeLandsItsPartWithResumeAllowed) {
    const std::string body = pattern(20000);
    testsupport::Server server(testsupport::Server::eachRequest([&](const testsupport::Request& q) {
        const std::string range = q.header("Range");
        if (range.rfind("bytes=", 0) != 0) return testsupport::Server::reply(200, body);
        const size_t dash = range.find('-');
        const size_t first = std::stoul(range.substr(6, dash - 6));
        const size_t last = dash + 1 < range.size() ? std::stoul(range.substr(dash + 1)) : body.size() - 1;
        return testsupport::Server::reply(206, body.substr(first, last - first + 1),
                                          "Content-Range: bytes " + std::to_string(first) + "-" +
                                              std::to_string(last) + "/20000\r\n");
    }));
    const struct {
        const char* range;
        size_t first, length;
    } rows[] = {{"bytes=100-", 100, 19900}, {"bytes=0-99", 0, 100}, {"bytes=0-", 0, 20000}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.range);
        testsupport::TempDir dir;
        auto r = HTTPRequest::requestWithURL(url(server.url("/file")));
        r->addRequestHeader("Range", row.range);
        r->setDownloadDestinationPath(dir / "out.bin");
        r->setTemporaryFileDownloadPath(dir / "partial");
        r->setAllowResumeForFileDownloads(true);
        startSynchronous(r);
        ASSERT_FALSE(r->error()) << r->error()->description();
        EXPECT_EQ(r->responseStatusCode(), 206);
        EXPECT_TRUE(readAll(dir / "out.bin") == body.substr(row.first, row.length));
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
    }
}

// A length above the largest signed 64-bit size, or one that with the
// kept part adds up to more, is a bad answer (code 1): its body is not
// read, no size is announced, and a partial file stays as it was.
TEST(RequestDownloads, LengthsNoFileCanHoldEndTheRequestAsABadAnswer) {
    std::mutex m;
    std::string head;
    testsupport::Server server([&](testsupport::Conn& c) {
        if (!c.readRequest()) return;
        std::unique_lock<std::mutex> g(m);
        const std::string answer = head;
        g.unlock();
        c.write(answer + "\r\nsome bytes");
        c.shutdownWrite();
        c.waitForClose(testsupport::kEventWaitSeconds);
    });
    const struct {
        const char* name;
        std::string head;
        bool toFile;
        bool partial;  // a 4000-byte partial file is there
    } rows[] = {
        {"in memory", "HTTP/1.1 200 OK\r\nContent-Length: 9223372036854775808\r\n", false, false},
        {"to a file", "HTTP/1.1 200 OK\r\nContent-Length: 9223372036854775808\r\n", true, false},
        {"with the part kept, one past", "HTTP/1.1 200 OK\r\nContent-Length: 9223372036854771808\r\n", true, true},
        {"a part's range", "HTTP/1.1 206 Partial Content\r\nContent-Length: 10\r\n"
                           "Content-Range: bytes 4000-4009/9223372036854775808\r\n", true, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        {
            std::lock_guard<std::mutex> g(m);
            head = row.head;
        }
        testsupport::TempDir dir;
        if (row.partial) std::ofstream(dir / "partial", std::ios::binary) << std::string(4000, 'k');
        std::vector<int64_t> sizes;
        auto r = HTTPRequest::requestWithURL(url(server.url("/huge")));
        if (row.toFile) {
            r->setDownloadDestinationPath(dir / "out.bin");
            r->setTemporaryFileDownloadPath(dir / "partial");
            r->setAllowResumeForFileDownloads(true);
        }
        r->setDownloadSizeIncrementedBlock([&](int64_t amount) { sizes.push_back(amount); });
        startSynchronous(r);
        drainMain();
        ASSERT_TRUE(r->error());
        EXPECT_EQ(r->error()->code(), http::kConnectionFailureErrorType);
        EXPECT_NE(r->error()->localizedDescription().find("Content-"), std::string::npos)
            << r->error()->localizedDescription();
        for (int64_t amount : sizes) EXPECT_GT(amount, -1000000) << "a size taken back that was never announced";
        EXPECT_FALSE(fs::exists(dir / "out.bin"));
        EXPECT_EQ(fs::exists(dir / "partial") ? fs::file_size(dir / "partial") : 0u, row.partial ? 4000u : 0u);
        r->setDownloadSizeIncrementedBlock(nullptr);
    }
}

// A resumable download timed out asks again for the rest of the body its
// partial file now starts, with that body's validator as If-Range: a
// server holding a changed body of the same length, which names no
// version in its answer, sends it whole, and it is never spliced to the
// first body's start. The first answer is cut by the time-out after 10000
// of its 20000 bytes (the network thread on a manual clock). Without
// resume the retry's body starts the file over.
TEST(RequestDownloads, ATimedOutResumeAsksForTheRestOfTheBodyItsPartialFileStarts) {
    const std::string older = pattern(20000);
    const std::string newer(older.rbegin(), older.rend());
    const std::string page(20000, 'e');
    using Answer = std::function<std::string(const testsupport::Request&)>;
    struct Row {
        const char* name;
        std::string firstHead;  // head of the first answer, which stalls after 10000 bytes of firstBody
        const std::string* firstBody;
        Answer retry;
        const char* range;      // what the retry asks
        const char* ifRange;
        const std::string* lands;
        bool resume = true;
        bool partialFirst = false;  // 10000 bytes of `older` (ETag "a") are there before: the first answer replaces them
        const char* callerRange = nullptr;  // a Range the caller sets
        bool fileStuck = false;  // the temporary file cannot be removed: the retry is not sent (code 8)
    };
    // A server whose body is now `newer`, which names no version, honouring If-Range.
    auto changed = [&](const testsupport::Request& q) {
        if (q.has("Range") && !q.has("If-Range"))
            return testsupport::Server::reply(206, newer.substr(10000), "Content-Range: bytes 10000-19999/20000\r\n");
        return testsupport::Server::reply(200, newer);
    };
    auto same = [&](const testsupport::Request& q) {
        if (q.header("Range") == "bytes=10000-")
            return testsupport::Server::reply(206, older.substr(10000),
                                              "ETag: \"a\"\r\nContent-Range: bytes 10000-19999/20000\r\n");
        return testsupport::Server::reply(200, older, "ETag: \"a\"\r\n");
    };
    auto whole = [&](const testsupport::Request&) { return testsupport::Server::reply(200, older); };
    // A server that honours "bytes=100-".
    const std::string fromHundred = older.substr(100);
    const std::string partHead =
        "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 100-19999/20000\r\nContent-Length: 19900\r\n";
    auto part = [&](const testsupport::Request& q) {
        if (q.header("Range") == "bytes=100-")
            return testsupport::Server::reply(206, fromHundred, "Content-Range: bytes 100-19999/20000\r\n");
        return testsupport::Server::reply(200, older);
    };
    const std::string okHead = "HTTP/1.1 200 OK\r\nContent-Length: 20000\r\n";
    const std::string etagHead = "HTTP/1.1 200 OK\r\nETag: \"a\"\r\nContent-Length: 20000\r\n";
    const std::string pageHead = "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 20000\r\n";
    const Row rows[] = {
        {"the same body, resumed", etagHead, &older, same, "bytes=10000-", "\"a\"", &older},
        {"a changed body of the same length, no version", etagHead, &older, changed, "bytes=10000-", "\"a\"", &newer},
        {"the whole body sent again", okHead, &older, whole, "bytes=10000-", "", &older},
        {"an error page timed out", pageHead, &page, same, "", "", &older},
        {"no resume: the body sent again", okHead, &older, whole, "", "", &older, false},
        // The first answer is itself the answer to a resume.
        {"an error page in place of the rest", pageHead, &page, same, "", "", &older, true, true},
        {"a body without a version in place of the rest", okHead, &newer, changed, "bytes=10000-", "", &newer, true,
         true},
        // Not a resume: the caller's part is asked for again, whole.
        {"the caller's own range", partHead, &fromHundred, part, "bytes=100-", "", &fromHundred, true, false,
         "bytes=100-"},
        {"no resume, a temporary file that cannot be removed", okHead, &older, whole, "", "", nullptr, false, false,
         nullptr, true},
    };
    std::mutex m;
    const Row* row = nullptr;
    bool firstSent = false;
    std::atomic<int> rowsDone{0};
    testsupport::Server server([&](testsupport::Conn& c) {
        while (auto q = c.readRequest()) {
            std::unique_lock<std::mutex> g(m);
            const Row* now = row;
            if (!std::exchange(firstSent, true)) {
                const int index = rowsDone.load();
                g.unlock();
                c.write(now->firstHead + "\r\n" + now->firstBody->substr(0, 10000));
                waitForRelease([&] { return rowsDone.load() > index; }, testsupport::kEventWaitSeconds);
                return;
            }
            g.unlock();
            if (!c.write(now->retry(*q))) return;
        }
    });
    struct ReleaseAtEnd {
        std::atomic<int>& done;
        ~ReleaseAtEnd() { done = 1000; }
    } releaseAtEnd{rowsDone};
    // The network thread runs, on a manual clock.
    auto warm = HTTPRequest::requestWithURL(url(server.url("/warm")));
    {
        std::lock_guard<std::mutex> g(m);
        row = &rows[0];
        firstSent = true;  // /warm is answered as a retry would be
    }
    warm->startAsynchronous();
    ASSERT_TRUE(waitFor(warm));
    drainMain();
    auto clock = ns::make<ns::ManualClock>(1000.0);
    auto network = HTTPRequest::networkRunLoop();
    network->setClock(clock);
    struct SystemClockAtEnd {
        ns::Ref<ns::RunLoop> loop;
        ~SystemClockAtEnd() { loop->setClock(nullptr); }
    } restore{network};

    for (const Row& each : rows) {
        SCOPED_TRACE(each.name);
        testsupport::TempDir dir;
        std::ofstream(dir / "out.bin") << "the older file";
        if (each.partialFirst) {
            std::ofstream(dir / "partial", std::ios::binary) << older.substr(0, 10000);
            std::ofstream(dir / "partial.resume", std::ios::binary) << "resume 1\netag \"a\"\nlength 20000\n";
        }
        {
            std::lock_guard<std::mutex> g(m);
            row = &each;
            firstSent = false;
        }
        server.clearRequests();
        int64_t received = 0;
        auto r = HTTPRequest::requestWithURL(url(server.url("/file")));
        r->setDownloadDestinationPath(dir / "out.bin");
        r->setTemporaryFileDownloadPath(dir / "partial");
        r->setAllowResumeForFileDownloads(each.resume);
        r->setTimeOutSeconds(10);
        r->setNumberOfTimesToRetryOnTimeout(1);
        r->setBytesReceivedBlock([&](int64_t amount, int64_t) { received += amount; });
        if (each.callerRange) r->addRequestHeader("Range", each.callerRange);
        auto d = ns::make<RecordingDelegate>();
        r->setDelegate(d.get());
        r->startAsynchronous();
        // The first 10000 bytes are written; a status check sees them
        // arrive (and reports them) before the clock passes the time-out.
        const std::string firstPart = each.firstBody->substr(0, 10000);
        ASSERT_TRUE(waitForRelease([&] { return readAll(dir / "partial") == firstPart; }, testsupport::kEventWaitSeconds));
        clock->advance(1);
        ASSERT_TRUE(waitUntil([&] { return received >= 10000; }));
        if (each.fileStuck) {
            // A folder that is not empty stands where the file was.
            fs::remove(dir / "partial");
            fs::create_directories(fs::path(dir / "partial") / "inside");
        }
        clock->advance(11);
        ASSERT_TRUE(waitFor(r));
        drainMain();
        ++rowsDone;
        if (each.fileStuck) {
            ASSERT_TRUE(r->error());
            EXPECT_EQ(r->error()->code(), http::kFileManagementError) << r->error()->description();
            EXPECT_EQ(readAll(dir / "out.bin"), "the older file");
            // Ended: no attempt starts after the failure. A request started
            // on the network thread after it reports after anything it did.
            auto after = HTTPRequest::requestWithURL(url(server.url("/after")));
            after->startAsynchronous();
            ASSERT_TRUE(waitFor(after));
            drainMain();
            EXPECT_EQ(d->joined(), "started,headers,failed");
            size_t asked = 0;
            for (const auto& q : server.requests()) asked += q.target == "/file";
            EXPECT_EQ(asked, 1u);
            r->setBytesReceivedBlock(nullptr);
            r->setDelegate(nullptr);
            continue;
        }
        ASSERT_FALSE(r->error()) << r->error()->description();
        EXPECT_EQ(r->retryCount(), 1);
        const auto seen = server.requests();
        ASSERT_EQ(seen.size(), 2u);
        EXPECT_EQ(seen[0].header("Range"), each.partialFirst  ? "bytes=10000-"
                                           : each.callerRange ? each.callerRange
                                                              : "");
        EXPECT_EQ(seen[1].header("Range"), each.range);
        EXPECT_EQ(seen[1].header("If-Range"), each.ifRange);
        EXPECT_TRUE(readAll(dir / "out.bin") == *each.lands) << readAll(dir / "out.bin").size() << " bytes";
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
        r->setBytesReceivedBlock(nullptr);
    }
}

// An answer that redirects is not the download's body: a redirected
// download whose next URL fails leaves the destination as it was.
TEST(RequestDownloads, AnAnswerThatRedirectsNeverLands) {
    testsupport::Server server([&](testsupport::Conn& c) {
        while (auto q = c.readRequest()) {
            if (q->target == "/moved") {
                if (!c.respond(302, std::string(3000, 'r'), "Location: /gone\r\n")) return;
            } else {
                c.write("HTTP/1.1 200 OK\r\nContent-Length: 20000\r\n\r\n" + std::string(500, 'g'));
                c.reset();
                return;
            }
        }
    });
    for (bool resume : {false, true}) {
        SCOPED_TRACE(resume ? "resume allowed" : "no resume");
        testsupport::TempDir dir;
        std::ofstream(dir / "out.bin") << "the older file";
        auto r = HTTPRequest::requestWithURL(url(server.url("/moved")));
        r->setDownloadDestinationPath(dir / "out.bin");
        r->setAllowResumeForFileDownloads(resume);
        startSynchronous(r);
        ASSERT_TRUE(r->error());
        EXPECT_EQ(r->error()->code(), http::kConnectionFailureErrorType);
        EXPECT_TRUE(readAll(dir / "out.bin") == "the older file") << readAll(dir / "out.bin").size() << " bytes";
    }
}

TEST(RequestDownloads, InterruptedDownloadKeepsItsTemporaryFileOnlyWithResume) {
    testsupport::TempDir dir;
    FileServer s;
    for (bool resume : {false, true}) {
        auto r = HTTPRequest::requestWithURL(url(s.url("/cut")));
        r->setDownloadDestinationPath(dir / "out.bin");
        r->setTemporaryFileDownloadPath(dir / (resume ? "keep" : "drop"));
        std::ofstream(dir / (resume ? "keep" : "drop")) << "";
        r->setAllowResumeForFileDownloads(resume);
        startSynchronous(r);
        ASSERT_TRUE(r->error());
        EXPECT_EQ(r->error()->code(), 1);
        if (resume) EXPECT_EQ(fs::file_size(dir / "keep"), 5000u);
        else EXPECT_FALSE(fs::exists(dir / "drop"));
        EXPECT_FALSE(fs::exists(dir / "out.bin"));
    }
}

TEST(RequestProgress, DownloadProgressAddsUpAndInaccurateProgressReportsOnceAtTheEnd) {
    FileServer s;
    auto d = ns::make<RecordingDelegate>();
    int64_t blockTotal = 0;
    auto r = HTTPRequest::requestWithURL(url(s.url("/file")));
    r->setDownloadProgressDelegate(d.get());
    r->setBytesReceivedBlock([&](int64_t amount, uint64_t) { blockTotal += amount; });
    r->startAsynchronous();
    ASSERT_TRUE(waitFor(r));
    drainMain();
    int64_t sum = 0;
    for (auto n : d->received) sum += n;
    EXPECT_EQ(sum, 100000);
    EXPECT_EQ(blockTotal, 100000);
    EXPECT_EQ(d->downloadSize, 100000);
    ASSERT_FALSE(d->progress.empty());
    EXPECT_FLOAT_EQ(d->progress.front(), 0.0f);  // reset at the start
    EXPECT_FLOAT_EQ(d->progress.back(), 1.0f);

    auto d2 = ns::make<RecordingDelegate>();
    auto r2 = HTTPRequest::requestWithURL(url(s.url("/file")));
    r2->setShowAccurateProgress(false);
    r2->setDownloadProgressDelegate(d2.get());
    r2->startAsynchronous();
    ASSERT_TRUE(waitFor(r2));
    drainMain();
    EXPECT_EQ(d2->received, (std::vector<int64_t>{1}));

    // Blocks alone (no progress delegate or queue) hear the progress too.
    int64_t received = 0, size = 0;
    auto r3 = HTTPRequest::requestWithURL(url(s.url("/file")));
    r3->setBytesReceivedBlock([&](int64_t amount, uint64_t) { received += amount; });
    r3->setDownloadSizeIncrementedBlock([&](int64_t amount) { size += amount; });
    r3->startAsynchronous();
    ASSERT_TRUE(waitFor(r3));
    drainMain();
    EXPECT_EQ(received, 100000);
    EXPECT_EQ(size, 100000);

    // A length with a leading zero is decimal, for the body and the total.
    testsupport::Server zero([](testsupport::Conn& c) {
        if (c.readRequest()) c.write("HTTP/1.1 200 OK\r\nContent-Length: 019\r\n\r\n0123456789abcdefghi");
    });
    size = 0;
    auto r4 = HTTPRequest::requestWithURL(url(zero.url("/")));
    r4->setDownloadSizeIncrementedBlock([&](int64_t amount) { size += amount; });
    startSynchronous(r4);
    drainMain();
    ASSERT_FALSE(r4->error()) << r4->error()->description();
    EXPECT_EQ(text(r4), "0123456789abcdefghi");
    EXPECT_EQ(r4->contentLength(), 19u);
    EXPECT_EQ(size, 19);

    // Chunks and a Content-Length together: the chunks frame the body and
    // the length counts nowhere (content length, download size, progress);
    // the connection is not used again.
    const std::string body = pattern(550);
    testsupport::Server both([&](testsupport::Conn& c) {
        while (auto req = c.readRequest()) {
            if (req->target != "/both") {
                if (!c.respond(200, "after")) return;
                continue;
            }
            std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 250\r\nTransfer-Encoding: chunked\r\n\r\n";
            for (size_t at = 0; at < body.size(); at += 100) {
                const std::string piece = body.substr(at, 100);
                char size[16];
                std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
                answer += size + piece + "\r\n";
            }
            if (!c.write(answer + "0\r\n\r\n")) return;
        }
    });
    auto d5 = ns::make<RecordingDelegate>();
    auto r5 = HTTPRequest::requestWithURL(url(both.url("/both")));
    r5->setDownloadProgressDelegate(d5.get());
    r5->startAsynchronous();
    ASSERT_TRUE(waitFor(r5));
    drainMain();
    ASSERT_FALSE(r5->error()) << r5->error()->description();
    EXPECT_EQ(text(r5), body);
    EXPECT_EQ(r5->contentLength(), 550u);
    EXPECT_FALSE(must<ns::Dictionary>(r5->responseHeaders())->objectForKey("Content-Length"));
    // Without a length the progress cannot be accurate: the size counts one
    // and the one byte is reported at the end, as when asked to be inaccurate.
    EXPECT_EQ(d5->downloadSize, 1);
    EXPECT_EQ(d5->received, (std::vector<int64_t>{1}));
    EXPECT_FALSE(r5->showAccurateProgress());
    ASSERT_FALSE(d5->progress.empty());
    EXPECT_LE(*std::max_element(d5->progress.begin(), d5->progress.end()), 1.0f);
    EXPECT_FLOAT_EQ(d5->progress.back(), 1.0f);
    auto after = HTTPRequest::requestWithURL(url(both.url("/after")));
    startSynchronous(after);
    ASSERT_FALSE(after->error()) << after->error()->description();
    EXPECT_EQ(text(after), "after");
    EXPECT_EQ(both.connections(), 2);

    // A challenge answered with a login: its page's length is taken back
    // when the login is sent, so the totals are those of the body alone.
    HTTPRequest::clearSession();
    const std::string secret = pattern(20000);
    testsupport::Server guarded(testsupport::Server::eachRequest([&](const testsupport::Request& q) {
        if (q.header("Authorization") != "Basic dXNlcjpwYXNz")  // user:pass
            return testsupport::Server::reply(401, std::string(3000, 'p'), "WWW-Authenticate: Basic realm=\"R\"\r\n");
        return testsupport::Server::reply(200, secret);
    }));
    const struct {
        const char* name;
        bool toFile, accurate;
    } challenged[] = {{"in memory", false, true}, {"to a file", true, true}, {"inaccurate progress", false, false}};
    for (const auto& row : challenged) {
        SCOPED_TRACE(row.name);
        const bool toFile = row.toFile;
        HTTPRequest::clearSession();
        testsupport::TempDir dir;
        guarded.clearRequests();
        auto d6 = ns::make<RecordingDelegate>();
        auto r6 = HTTPRequest::requestWithURL(url(guarded.url("/secret")));
        r6->setUsername("user");
        r6->setPassword("pass");
        if (toFile) r6->setDownloadDestinationPath(dir / "out.bin");
        r6->setShowAccurateProgress(row.accurate);
        r6->setDownloadProgressDelegate(d6.get());
        r6->startAsynchronous();
        ASSERT_TRUE(waitFor(r6));
        drainMain();
        ASSERT_FALSE(r6->error()) << r6->error()->description();
        EXPECT_EQ(guarded.requests().size(), 2u);
        EXPECT_TRUE((toFile ? readAll(dir / "out.bin") : text(r6)) == secret);
        if (!row.accurate) {
            // One unit at the end, of the body's answer.
            EXPECT_EQ(d6->received, (std::vector<int64_t>{1}));
            continue;
        }
        int64_t got = 0;
        for (auto n : d6->received) got += n;
        EXPECT_EQ(d6->downloadSize, 20000);
        EXPECT_EQ(got, 20000);
        ASSERT_FALSE(d6->progress.empty());
        EXPECT_FLOAT_EQ(d6->progress.back(), 1.0f);
    }
    HTTPRequest::clearSession();
}

TEST(RequestProgress, UploadProgressReachesTheBodyLength) {
    testsupport::Server server([](testsupport::Conn& c) {
        while (c.readRequest())
            if (!c.respond(200, "ok")) return;
    });
    struct Row {
        const char* name;
        size_t body;
        bool accurate;
        std::vector<int64_t> sent;  // empty: the sum is the body's length
    };
    const Row rows[] = {{"one byte", 1, true, {}},
                        {"50000 bytes", 50000, true, {}},
                        {"inaccurate: one step at the end", 50000, false, {1}},
                        {"no body: nothing sent, nothing reported", 0, true, {}},
                        {"no body, inaccurate", 0, false, {}}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto d = ns::make<RecordingDelegate>();
        auto r = HTTPRequest::requestWithURL(url(server.url("/")));
        if (row.body) r->appendPostData(*ns::Data::make(pattern(row.body)));
        r->setShowAccurateProgress(row.accurate);
        r->setUploadProgressDelegate(d.get());
        r->startAsynchronous();
        ASSERT_TRUE(waitFor(r));
        drainMain();
        ASSERT_FALSE(r->error()) << r->error()->description();
        EXPECT_EQ(r->totalBytesSent(), row.body);
        if (!row.sent.empty() || !row.body) {
            EXPECT_EQ(d->sent, row.sent);
        } else {
            int64_t sum = 0;
            for (auto n : d->sent) {
                EXPECT_GT(n, 0) << "a step that sent nothing reports nothing";
                sum += n;
            }
            EXPECT_EQ(static_cast<uint64_t>(sum), row.body);
        }
        if (row.body) {
            ASSERT_FALSE(d->progress.empty());
            EXPECT_FLOAT_EQ(d->progress.front(), 0.0f);  // reset at the start
            EXPECT_FLOAT_EQ(d->progress.back(), 1.0f);
        }
    }
}

TEST(RequestCache, StoredResponseIsServedWithoutConnecting) {
    testsupport::TempDir dir;
    auto cache = ns::make<http::DownloadCache>();
    cache->setStoragePath(dir / "cache");
    testsupport::Server server([](testsupport::Conn& c) {
        while (auto r = c.readRequest())
            if (!c.respond(200, "fresh", "Cache-Control: max-age=60\r\nContent-Type: text/plain\r\n")) return;
    });
    auto a = HTTPRequest::requestWithURL(url(server.url("/doc")), cache.get());
    startSynchronous(a);
    ASSERT_FALSE(a->error());
    EXPECT_FALSE(a->didUseCachedResponse());
    int before = server.connections();

    auto d = ns::make<RecordingDelegate>();
    auto b = HTTPRequest::requestWithURL(url(server.url("/doc")), cache.get());
    b->setDelegate(d.get());
    b->startAsynchronous();
    ASSERT_TRUE(waitFor(b));
    drainMain();
    ASSERT_FALSE(b->error());
    EXPECT_TRUE(b->didUseCachedResponse());
    EXPECT_EQ(b->responseStatusCode(), 200);
    EXPECT_EQ(text(b), "fresh");
    EXPECT_EQ(server.connections(), before);
    EXPECT_EQ(d->count("finished"), 1u);
}

TEST(RequestCache, NotModifiedAnswerServesTheCachedBody) {
    testsupport::TempDir dir;
    auto cache = ns::make<http::DownloadCache>();
    cache->setStoragePath(dir / "cache");
    std::atomic<int> conditional{0};
    testsupport::Server server([&](testsupport::Conn& c) {
        while (auto r = c.readRequest()) {
            bool ok;
            if (r->header("If-None-Match") == "\"v1\"") {
                ++conditional;
                ok = c.write("HTTP/1.1 304 Not Modified\r\nETag: \"v1\"\r\nCache-Control: max-age=600\r\n\r\n");
            } else {
                ok = c.respond(200, "body v1", "ETag: \"v1\"\r\nCache-Control: max-age=0\r\n");
            }
            if (!ok) return;
        }
    });
    auto a = HTTPRequest::requestWithURL(url(server.url("/etag")), cache.get());
    a->setSecondsToCache(0);
    startSynchronous(a);
    ASSERT_FALSE(a->error());
    auto b = HTTPRequest::requestWithURL(url(server.url("/etag")), cache.get(), http::kAskServerIfModifiedCachePolicy);
    startSynchronous(b);
    ASSERT_FALSE(b->error()) << b->error()->description();
    EXPECT_EQ(conditional, 1);
    EXPECT_TRUE(b->didUseCachedResponse());
    EXPECT_EQ(text(b), "body v1");
    // The not-modified answer gave the stored one a new expiry.
    auto stored = cache->cachedResponseHeadersForURL(*url(server.url("/etag")));
    ASSERT_TRUE(stored);
    EXPECT_GT(must<ns::Number>(stored->numberForKey(http::DownloadCache::kExpiresKey))->doubleValue(),
              ns::Date::date()->timeIntervalSince1970() + 500);
    // The answer without a body left the connection open for the next one.
    auto c = HTTPRequest::requestWithURL(url(server.url("/other")), cache.get());
    startSynchronous(c);
    ASSERT_FALSE(c->error());
    EXPECT_EQ(server.connections(), 1);
}

TEST(RequestConnections, DroppedPooledConnectionIsRetriedOnceOnAFreshOne) {
    for (bool secondDropToo : {false, true}) {
        testsupport::Server server([secondDropToo](testsupport::Conn& c) {
            // Says keep-alive, answers one request, then drops the connection
            // when the next one arrives; with secondDropToo, later
            // connections are dropped before any answer.
            auto r = c.readRequest();
            if (!r) return;
            if (secondDropToo && c.index() > 1) {
                c.reset();
                return;
            }
            c.respond(200, "answer " + std::to_string(c.index()));
            c.readRequest();
            c.reset();
        });
        auto a = HTTPRequest::requestWithURL(url(server.url("/")));
        startSynchronous(a);
        ASSERT_FALSE(a->error());
        auto b = HTTPRequest::requestWithURL(url(server.url("/")));
        startSynchronous(b);
        if (!secondDropToo) {
            ASSERT_FALSE(b->error()) << b->error()->description();
            EXPECT_EQ(text(b), "answer 2");
            EXPECT_EQ(b->retryCount(), 1);
        } else {
            ASSERT_TRUE(b->error());
            EXPECT_EQ(b->error()->code(), 1);
            EXPECT_EQ(server.connections(), 2);
        }
    }
}
