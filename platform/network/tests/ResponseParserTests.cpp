#include "platform/network/ResponseParser.h"

#include <gtest/gtest.h>

namespace {

using net::ParseError;
using net::ResponseParser;

struct Result {
    ns::Ref<net::HTTPMessage> response;
    std::string body;
    bool complete = false;
    ParseError error = ParseError::None;
    size_t consumed = 0;
    bool keepAlive = false;
};

// Feeds `text` in pieces of `step` bytes (0: all at once), then ends the
// connection when `close` is set.
Result parse(std::string_view text, size_t step = 0, bool close = false, std::string_view method = "GET",
             net::ResponseLimits limits = {}) {
    ResponseParser p(limits);
    p.setRequestMethod(method);
    Result r;
    if (step == 0) step = text.size() ? text.size() : 1;
    for (size_t i = 0; i < text.size() && !p.isComplete() && !p.failed(); i += step) {
        size_t n = std::min(step, text.size() - i);
        r.consumed += p.feed(text.data() + i, n, &r.body);
    }
    if (close) p.finish();
    r.response = p.response();
    r.complete = p.isComplete();
    r.error = p.error();
    r.keepAlive = p.keepAlive();
    return r;
}

TEST(ResponseParser, ContentLengthBodyInAnySplit) {
    // Whole, the header block is read in place; split, line by line.
    std::string text = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nX-Folded: one\r\n  two\r\nX-Empty:\r\n"
                       "Content-Length: 11\r\n\r\nhello worldEXTRA";
    for (size_t step : {size_t(0), size_t(1), size_t(3), size_t(7), size_t(60)}) {
        auto r = parse(text, step);
        ASSERT_TRUE(r.complete) << step;
        EXPECT_EQ(r.body, "hello world");
        EXPECT_EQ(r.response->statusCode(), 200);
        EXPECT_EQ(r.response->statusLine(), "HTTP/1.1 200 OK");
        EXPECT_EQ(r.response->reasonPhrase(), "OK");
        EXPECT_EQ(*r.response->headerField("content-type"), "text/plain");
        EXPECT_EQ(*r.response->headerField("x-folded"), "one two") << step;
        EXPECT_EQ(*r.response->headerField("x-empty"), "");
        EXPECT_EQ(r.response->headers().size(), 4u);
        EXPECT_TRUE(r.keepAlive);
    }
    // Bytes after the message are not consumed.
    EXPECT_EQ(parse(text).consumed, text.size() - 5);
}

TEST(ResponseParser, RepeatedSetCookieStaysApart) {
    auto r = parse("HTTP/1.1 200 OK\r\nSet-Cookie: a=1; Path=/\r\nset-cookie: b=2\r\nContent-Length: 0\r\n\r\n");
    ASSERT_TRUE(r.complete);
    auto all = r.response->headers().getAll("Set-Cookie");
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0], "a=1; Path=/");
    EXPECT_EQ(all[1], "b=2");
}

TEST(ResponseParser, ChunkedWithExtensionsAndTrailers) {
    std::string text =
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n"
        "5;name=x\r\nhello\r\n6\r\n world\r\n0\r\nX-Trailer: yes\r\n\r\n";
    // The codings may come in several fields (the last one's last coding
    // counts), with a Content-Length beside them that is ignored.
    std::string split =
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\nContent-Length: 3\r\ntransfer-encoding: chunked\r\n\r\n"
        "5;name=x\r\nhello\r\n6\r\n world\r\n0\r\n\r\n";
    for (const std::string& message : {text, split})
        for (size_t step : {size_t(0), size_t(1), size_t(4)}) {
            auto r = parse(message, step);
            ASSERT_TRUE(r.complete) << step;
            EXPECT_EQ(r.body, "hello world");
            EXPECT_TRUE(r.keepAlive);
            EXPECT_FALSE(r.response->headers().contains("X-Trailer"));
        }
}

TEST(ResponseParser, CloseDelimitedBodyEndsAtClose) {
    auto r = parse("HTTP/1.1 200 OK\r\n\r\nall of it", 0, false);
    EXPECT_FALSE(r.complete);
    r = parse("HTTP/1.1 200 OK\r\n\r\nall of it", 2, true);
    ASSERT_TRUE(r.complete);
    EXPECT_EQ(r.body, "all of it");
    EXPECT_FALSE(r.keepAlive);
}

TEST(ResponseParser, AnswersWithoutBody) {
    auto head = parse("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n", 0, false, "HEAD");
    EXPECT_TRUE(head.complete);
    EXPECT_TRUE(head.body.empty());
    EXPECT_TRUE(head.keepAlive);
    EXPECT_TRUE(parse("HTTP/1.1 204 No Content\r\n\r\n").complete);
    EXPECT_TRUE(parse("HTTP/1.1 304 Not Modified\r\nContent-Length: 50\r\n\r\n").complete);
}

TEST(ResponseParser, InterimAnswersAreSkipped) {
    auto r = parse("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 102 Processing\r\nX: y\r\n\r\n"
                   "HTTP/1.1 201 Created\r\nContent-Length: 2\r\n\r\nok", 1);
    ASSERT_TRUE(r.complete);
    EXPECT_EQ(r.response->statusCode(), 201);
    EXPECT_FALSE(r.response->headers().contains("X"));
    EXPECT_EQ(r.body, "ok");
}

TEST(ResponseParser, KeepAliveRules) {
    EXPECT_FALSE(parse("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 0\r\n\r\n").keepAlive);
    EXPECT_FALSE(parse("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n").keepAlive);
    EXPECT_TRUE(parse("HTTP/1.0 200 OK\r\nConnection: Keep-Alive\r\nContent-Length: 0\r\n\r\n").keepAlive);
    // Every Connection field counts, and a token anywhere in its list.
    EXPECT_FALSE(parse("HTTP/1.1 200 OK\r\nConnection: Upgrade\r\nconnection: x, CLOSE\r\nContent-Length: 0\r\n\r\n").keepAlive);
    EXPECT_TRUE(parse("HTTP/1.0 200 OK\r\nConnection: te\r\nConnection: keep-alive\r\nContent-Length: 0\r\n\r\n").keepAlive);
    EXPECT_TRUE(parse("HTTP/1.1 200 OK\r\nX-Connection: close\r\nContent-Length: 0\r\n\r\n").keepAlive);
    // After switching protocols the connection carries no more HTTP.
    EXPECT_FALSE(parse("HTTP/1.1 101 Switching Protocols\r\nUpgrade: other\r\nConnection: Upgrade\r\n\r\n").keepAlive);
}

TEST(ResponseParser, MalformedInputFailsClearly) {
    EXPECT_EQ(parse("HTP/1.1 200 OK\r\n\r\n").error, ParseError::BadStatusLine);
    EXPECT_EQ(parse("HTTP/1.1 2x0 OK\r\n\r\n").error, ParseError::BadStatusLine);
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nBad Name: x\r\n\r\n").error, ParseError::BadHeader);
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n").error, ParseError::BadContentLength);
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n").error,
              ParseError::BadContentLength);
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n").error,
              ParseError::BadContentLength);
    EXPECT_TRUE(parse("HTTP/1.1 200 OK\r\nContent-Length: 2, 2\r\n\r\nok").complete);
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n").error, ParseError::BadChunk);
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nokX\r\n").error, ParseError::BadChunk);
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFFFF\r\n").error,
              ParseError::BadChunk);
}

TEST(ResponseParser, TruncationIsReported) {
    EXPECT_EQ(parse("", 0, true).error, ParseError::Truncated);
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nContent-Le", 0, true).error, ParseError::Truncated);
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nshort", 0, true).error, ParseError::Truncated);
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel", 0, true).error,
              ParseError::Truncated);
}

TEST(ResponseParser, LimitsAreEnforced) {
    net::ResponseLimits limits;
    limits.maxHeaderBlockBytes = 100;
    std::string big = "HTTP/1.1 200 OK\r\nX-Big: " + std::string(200, 'a') + "\r\n\r\n";
    EXPECT_EQ(parse(big, 0, false, "GET", limits).error, ParseError::HeaderTooLarge);
    EXPECT_EQ(parse(big, 1, false, "GET", limits).error, ParseError::HeaderTooLarge);
    // Many small lines add up against the same limit.
    std::string many = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 20; ++i) many += "A: b\r\n";
    EXPECT_EQ(parse(many, 3, false, "GET", limits).error, ParseError::HeaderTooLarge);
    limits = {};
    limits.maxBodyBytes = 4;
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", 0, false, "GET", limits).error,
              ParseError::BodyTooLarge);
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\n\r\nhello", 1, false, "GET", limits).error, ParseError::BodyTooLarge);
    std::string interim;
    for (int i = 0; i < 20; ++i) interim += "HTTP/1.1 100 Continue\r\n\r\n";
    EXPECT_EQ(parse(interim).error, ParseError::TooManyInterim);
}

TEST(HeaderList, CaseInsensitiveOrderedAndCombined) {
    net::HeaderList h;
    h.add("Accept", "a");
    h.add("X-One", "1");
    h.add("accept", "b");
    EXPECT_EQ(*h.get("ACCEPT"), "a, b");
    h.set("ACCEPT", "c");
    ASSERT_EQ(h.size(), 2u);
    EXPECT_EQ(h.fields()[0].first, "Accept");
    EXPECT_EQ(h.fields()[0].second, "c");
    EXPECT_FALSE(h.get("missing"));
    // One entry per name, under its first spelling, repeated values joined.
    h.add("X-Two", "2");
    h.add("x-one", "one");
    auto d = h.dictionary();
    ASSERT_EQ(d->count(), 3u);
    EXPECT_EQ(d->keyAtIndex(0)->description(), "Accept");
    EXPECT_EQ(d->keyAtIndex(1)->description(), "X-One");
    EXPECT_EQ(d->objectForKey("X-One")->description(), "1, one");
    EXPECT_EQ(d->objectForKey("X-Two")->description(), "2");
    EXPECT_EQ(h.remove("x-one"), 2u);
    EXPECT_EQ(h.remove("x-two"), 1u);
    EXPECT_FALSE(h.contains("X-One"));
    // A field copied from the list into itself, a value replaced many times
    // (the list keeps its text small) and a folded line continued.
    h.add("X-Copy", h.fields()[0].second);
    h.add(h.fields()[1].first, h.fields()[0].first);
    for (int i = 0; i < 200; ++i) h.set("Accept", std::string(40, static_cast<char>('a' + i % 26)));
    h.appendToLastValue("more");
    ASSERT_EQ(h.size(), 3u);
    EXPECT_EQ(h.fields()[0].first, "Accept");
    EXPECT_EQ(h.fields()[0].second, std::string(40, 'a' + 199 % 26));
    EXPECT_EQ(*h.get("x-copy"), "c, Accept more");
}

TEST(HTTPTarget, PartsOfAnAbsoluteURLAndWhatIsRefused) {
    net::HTTPTarget t;
    ASSERT_TRUE(net::parseHTTPTarget("HTTPS://User:pw@Example.COM/a/b?x=1&y=2#frag", t));
    EXPECT_EQ(t.scheme, "https");
    EXPECT_EQ(t.host, "example.com");
    EXPECT_EQ(t.port, 443);
    EXPECT_TRUE(t.defaultPort);
    EXPECT_EQ(t.path, "/a/b");
    EXPECT_EQ(t.query, "?x=1&y=2");

    ASSERT_TRUE(net::parseHTTPTarget("http://[::1]:8080?q", t));
    EXPECT_EQ(t.scheme, "http");
    EXPECT_EQ(t.host, "::1");
    EXPECT_EQ(t.port, 8080);
    EXPECT_FALSE(t.defaultPort);
    EXPECT_EQ(t.path, "/");
    EXPECT_EQ(t.query, "?q");

    ASSERT_TRUE(net::parseHTTPTarget("http://host:80", t));
    EXPECT_TRUE(t.defaultPort);
    EXPECT_EQ(t.path, "/");
    EXPECT_EQ(t.query, "");

    std::string why;
    for (const char* refused : {"example.com/a", "ftp://example.com/", "http:///path", "http://[::1/",
                                "http://[::1]x/", "http://ex ample.com/", "http://host:0/", "http://host:65536/",
                                "http://host:80a/", "http://host/a b", "http://host/?a\x7f"}) {
        why.clear();
        EXPECT_FALSE(net::parseHTTPTarget(refused, t, &why)) << refused;
        EXPECT_FALSE(why.empty()) << refused;
    }
}

}  // namespace
