#include "platform/network/ResponseParser.h"

#include "platform/network/URLConnection.h"

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
        EXPECT_EQ(r.response->headerField("content-type"), "text/plain");
        EXPECT_EQ(r.response->headerField("x-folded"), "one two") << step;
        EXPECT_EQ(r.response->headerField("x-empty"), "");
        EXPECT_EQ(r.response->headers().size(), 4u);
        EXPECT_TRUE(r.keepAlive);
    }
    // Bytes after the message are not consumed.
    EXPECT_EQ(parse(text).consumed, text.size() - 5);
}

// A CR, LF or NUL inside a received value becomes a space, read in place or
// line by line: the value can be sent back (a validator) and never injects
// or refuses anything. A value ending in a bare CR is trimmed.
TEST(ResponseParser, ControlCharactersInsideValuesBecomeSpaces) {
    std::string text = "HTTP/1.1 200 OK\r\nETag: \"a\rb\"\r\nLast-Modified: Sun, 06 Nov 1994 08:49:37";
    text += std::string("\0", 1);
    text += " GMT\r\nX-Folded: one\r\n  t\rwo\r\nX-End: v\r\r\nX-Plain: untouched\r\nContent-Length: 2\r\n\r\nok";
    for (size_t step : {size_t(0), size_t(1), size_t(5), size_t(33)}) {
        SCOPED_TRACE("pieces of " + std::to_string(step));
        auto r = parse(text, step);
        ASSERT_TRUE(r.complete);
        EXPECT_EQ(r.body, "ok");
        EXPECT_EQ(r.response->headerField("ETag"), "\"a b\"");
        EXPECT_EQ(r.response->headerField("Last-Modified"), "Sun, 06 Nov 1994 08:49:37  GMT");
        EXPECT_EQ(r.response->headerField("X-Folded"), "one t wo");
        EXPECT_EQ(r.response->headerField("X-End"), "v");
        EXPECT_EQ(r.response->headerField("X-Plain"), "untouched");
        EXPECT_EQ(r.response->headers().size(), 6u);
    }
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
    // counts), with a Content-Length beside them that is ignored: taken out
    // of the answer's fields, and the connection is not kept after it.
    std::string split =
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\nContent-Length: 3\r\ntransfer-encoding: chunked\r\n\r\n"
        "5;name=x\r\nhello\r\n6\r\n world\r\n0\r\n\r\n";
    for (const std::string& message : {text, split})
        for (size_t step : {size_t(0), size_t(1), size_t(4)}) {
            SCOPED_TRACE(message == split ? "with a Content-Length" : "chunks alone");
            auto r = parse(message, step);
            ASSERT_TRUE(r.complete) << step;
            EXPECT_EQ(r.body, "hello world");
            EXPECT_EQ(r.keepAlive, message == text);
            EXPECT_FALSE(r.response->headers().contains("X-Trailer"));
            EXPECT_FALSE(r.response->headers().contains("Content-Length"));
            EXPECT_EQ(r.response->headers().getAll("Transfer-Encoding").size(), message == text ? 1u : 2u);
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
    // A chunk longer than its size, ended by a bare line feed, in every
    // split: the byte past the size is refused, never read as the line end
    // or taken into the body. The right size with a bare line feed parses.
    for (size_t step : {size_t(0), size_t(1), size_t(2), size_t(5)}) {
        const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
        auto longer = parse(head + "2\r\nokX\n0\r\n\r\n", step);
        EXPECT_EQ(longer.error, ParseError::BadChunk) << "step " << step;
        EXPECT_FALSE(longer.complete) << "step " << step;
        auto exact = parse(head + "3\r\nokX\n0\r\n\r\n", step);
        EXPECT_TRUE(exact.complete) << "step " << step;
        EXPECT_EQ(exact.body, "okX") << "step " << step;
    }
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFFFF\r\n").error,
              ParseError::BadChunk);
    // The reason names the fault and quotes at most 64 bytes of the line.
    const std::string longLine = "HTTP/1.1 200x" + std::string(100, 'r');
    for (const std::string& line : {longLine, std::string("HTTP/1.1 200 OK\r\nBad Name") + std::string(100, 'n')}) {
        ResponseParser p;
        std::string body;
        const std::string text = line + "\r\n\r\n";
        p.feed(text.data(), text.size(), &body);
        ASSERT_TRUE(p.failed());
        const std::string quoted = line == longLine ? longLine.substr(0, 64) : ("Bad Name" + std::string(56, 'n'));
        EXPECT_EQ(p.errorText(), std::string(net::describe(p.error())) + ": " + quoted);
    }
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

// Each default limit at its value and one past it, whole and byte by byte.
TEST(ResponseParser, DefaultLimitsAtTheirValueAndOnePast) {
    const net::ResponseLimits limits;
    const std::string status = "HTTP/1.1 200 OK\r\n";
    // The header block counts from the status line to the blank line's end.
    const auto block = [&](size_t total) {
        return status + "X: " + std::string(total - status.size() - 7, 'a') + "\r\n\r\n";
    };
    const auto fields = [&](size_t n) {
        std::string text = status;
        for (size_t i = 0; i < n; ++i) text += "F" + std::to_string(i) + ": v\r\n";
        return text + "\r\n";
    };
    const auto interim = [&](size_t n) {
        std::string text;
        for (size_t i = 0; i < n; ++i) text += "HTTP/1.1 103 Early Hints\r\nLink: </a>\r\n\r\n";
        return text + status + "Content-Length: 0\r\n\r\n";
    };
    // The chunk-size line counts with its extensions and line break.
    const auto chunkLine = [&](size_t total) {
        return status + "Transfer-Encoding: chunked\r\n\r\n1;" + std::string(total - 4, 'e') + "\r\nx\r\n0\r\n\r\n";
    };
    struct Row { std::string name, text; ParseError error; };
    const Row rows[] = {
        {"header block at the limit", block(limits.maxHeaderBlockBytes), ParseError::None},
        {"header block past it", block(limits.maxHeaderBlockBytes + 1), ParseError::HeaderTooLarge},
        {"fields at the limit", fields(limits.maxHeaderFields), ParseError::None},
        {"fields past it", fields(limits.maxHeaderFields + 1), ParseError::HeaderTooLarge},
        {"interim answers at the limit", interim(limits.maxInterimResponses), ParseError::None},
        {"interim answers past it", interim(limits.maxInterimResponses + 1), ParseError::TooManyInterim},
        {"chunk line at the limit", chunkLine(limits.maxChunkLineBytes), ParseError::None},
        {"chunk line past it", chunkLine(limits.maxChunkLineBytes + 1), ParseError::BadChunk},
        {"15 hex digits of chunk size", status + "Transfer-Encoding: chunked\r\n\r\n000000000000001\r\nx\r\n0\r\n\r\n",
         ParseError::None},
        {"16 hex digits", status + "Transfer-Encoding: chunked\r\n\r\n0000000000000001\r\nx\r\n0\r\n\r\n", ParseError::BadChunk},
        {"19 digits of length", status + "Content-Length: 0000000000000000001\r\n\r\nx", ParseError::None},
        {"20 digits", status + "Content-Length: 00000000000000000001\r\n\r\nx", ParseError::BadContentLength},
        // No body limit by default.
        {"a large body", status + "Content-Length: 3000000\r\n\r\n" + std::string(3000000, 'b'), ParseError::None},
    };
    for (const Row& row : rows)
        for (size_t step : {size_t(0), size_t(1)}) {
            if (step == 1 && row.text.size() > 200000) continue;
            auto r = parse(row.text, step, true);
            EXPECT_EQ(r.error, row.error) << row.name << ", step " << step;
            EXPECT_EQ(r.complete, row.error == ParseError::None) << row.name << ", step " << step;
        }
}

TEST(ResponseParser, StatusLinesAndBodyLimitsAtTheEdges) {
    struct Row { const char* text; ParseError error; int code; };
    for (const Row& row : {Row{"HTTP/1.1 200\r\n\r\n", ParseError::None, 200},  // no reason phrase
                           Row{"HTTP/1.0 599 Odd\r\n\r\n", ParseError::None, 599},
                           Row{"\r\n\r\nHTTP/1.1 200 OK\r\n\r\n", ParseError::None, 200},  // blank lines first
                           Row{"HTTP/1.1 101 Switching Protocols\r\n\r\n", ParseError::None, 101},  // no body
                           Row{"HTTP/1.1 099 Low\r\n\r\n", ParseError::BadStatusLine, 0},
                           Row{"HTTP/1.1 200X\r\n\r\n", ParseError::BadStatusLine, 0},
                           Row{"HTTP/1.2 200 OK\r\n\r\n", ParseError::BadStatusLine, 0},
                           Row{"HTTP/1.1  200 OK\r\n\r\n", ParseError::BadStatusLine, 0},
                           Row{"HTTP/1.1 20\r\n\r\n", ParseError::BadStatusLine, 0},
                           Row{"HTTP/1.1 200 OK\r\n folded first\r\n\r\n", ParseError::BadHeader, 0},
                           Row{"HTTP/1.1 200 OK\r\n: no name\r\n\r\n", ParseError::BadHeader, 0},
                           Row{"HTTP/1.1 200 OK\r\nNo-Colon\r\n\r\n", ParseError::BadHeader, 0},
                           Row{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\nno colon\r\n\r\n",
                               ParseError::BadChunk, 200},
                           Row{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\nx\r\nA\r\n0123456789\r\n0\r\n\r\n",
                               ParseError::None, 200},
                           Row{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\na\r\n0123456789\r\n0\r\n\r\n",
                               ParseError::None, 200}}) {
        for (size_t step : {size_t(0), size_t(1)}) {
            auto r = parse(row.text, step, true);
            EXPECT_EQ(r.error, row.error) << row.text;
            if (row.code) {
                ASSERT_TRUE(r.response) << row.text;
                EXPECT_EQ(r.response->statusCode(), row.code) << row.text;
            }
        }
    }
    // A body limit lets exactly that many bytes through, in every framing.
    net::ResponseLimits limits;
    limits.maxBodyBytes = 5;
    for (const std::string body : {"Content-Length: 5\r\n\r\nhello", "Transfer-Encoding: chunked\r\n\r\n2\r\nhe\r\n3\r\nllo\r\n0\r\n\r\n",
                                   "Connection: close\r\n\r\nhello"}) {
        for (size_t step : {size_t(0), size_t(1)}) {
            auto r = parse("HTTP/1.1 200 OK\r\n" + body, step, true, "GET", limits);
            EXPECT_TRUE(r.complete) << body;
            EXPECT_EQ(r.body, "hello") << body;
        }
    }
    for (const std::string body : {"Content-Length: 6\r\n\r\nhello!", "Transfer-Encoding: chunked\r\n\r\n2\r\nhe\r\n4\r\nllo!\r\n0\r\n\r\n",
                                   "Connection: close\r\n\r\nhello!"}) {
        for (size_t step : {size_t(0), size_t(1)})
            EXPECT_EQ(parse("HTTP/1.1 200 OK\r\n" + body, step, true, "GET", limits).error, ParseError::BodyTooLarge) << body;
    }
}

TEST(HTTPURLResponse, LengthTypeAndCharsetFromTheFields) {
    struct Row { std::vector<std::pair<const char*, const char*>> fields; long long length; const char* type, *charset; };
    const Row rows[] = {
        {{{"Content-Length", "13"}}, 13, "", ""},
        {{{"content-length", "0"}, {"Content-Type", "Text/HTML; Charset=ISO-8859-1"}}, 0, "text/html", "iso-8859-1"},
        {{{"Content-Length", "999999999999999999"}}, 999999999999999999LL, "", ""},  // 18 digits
        {{{"Content-Length", "1000000000000000000"}}, -1, "", ""},                   // 19: not trusted
        {{{"Content-Length", "-1"}}, -1, "", ""},
        {{{"Content-Length", ""}}, -1, "", ""},
        {{{"Content-Length", "12a"}}, -1, "", ""},
        {{}, -1, "", ""},
        // A body that is inflated on the way has no announced length.
        {{{"Content-Length", "13"}, {"Content-Encoding", "gzip"}}, -1, "", ""},
        {{{"Content-Length", "13"}, {"Content-Encoding", "Identity"}}, 13, "", ""},
        {{{"Content-Length", "13"}, {"Content-Encoding", ""}}, 13, "", ""},
        {{{"Content-Type", " application/json ;charset=\"UTF-8\""}}, -1, "application/json", "utf-8"},
        {{{"Content-Type", "text/plain; charset=utf-8; format=flowed"}}, -1, "text/plain", "utf-8"},
        {{{"Content-Type", "text/plain"}}, -1, "text/plain", ""},
    };
    for (const Row& row : rows) {
        auto message = net::HTTPMessage::response(200, "HTTP/1.1 200 OK");
        std::string trace;
        for (const auto& [name, value] : row.fields) message->headers().add(name, value), trace += std::string(name) + ": " + value + "; ";
        net::HTTPURLResponse r(ns::URL::URLWithString("http://example.com/"), message);
        EXPECT_EQ(r.expectedContentLength(), row.length) << trace;
        EXPECT_EQ(r.MIMEType(), row.type) << trace;
        EXPECT_EQ(r.textEncodingName(), row.charset) << trace;
    }
}

TEST(HeaderList, CaseInsensitiveOrderedAndCombined) {
    net::HeaderList h;
    h.add("Accept", "a");
    h.add("X-One", "1");
    h.add("accept", "b");
    EXPECT_EQ(h.get("ACCEPT"), "a, b");
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
    EXPECT_EQ(ns::describe(d->keyAtIndex(0)), "Accept");
    EXPECT_EQ(ns::describe(d->keyAtIndex(1)), "X-One");
    EXPECT_EQ(ns::describe(d->objectForKey("X-One")), "1, one");
    EXPECT_EQ(ns::describe(d->objectForKey("X-Two")), "2");
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
    EXPECT_EQ(h.get("x-copy"), "c, Accept more");

    // The text behind the fields stays near what they use: a value replaced
    // a thousand times, or fields added and removed as often, leave it small
    // (field views point into it, so their spread bounds it).
    const auto spread = [](const net::HeaderList& l) {
        const char* lo = nullptr;
        const char* hi = nullptr;
        for (size_t i = 0; i < l.size(); ++i)
            for (std::string_view part : {l.field(i).first, l.field(i).second}) {
                if (!lo || part.data() < lo) lo = part.data();
                if (!hi || part.data() + part.size() > hi) hi = part.data() + part.size();
            }
        return static_cast<size_t>(hi - lo);
    };
    net::HeaderList big;
    big.add("Kept", "k");
    for (int i = 0; i < 1000; ++i) {
        big.set("Replaced", std::string(10000, static_cast<char>('a' + i % 26)));
        big.add("Gone", std::string(10000, 'g'));
        EXPECT_EQ(big.remove("gone"), 1u);
    }
    ASSERT_EQ(big.size(), 2u);
    EXPECT_EQ(big.fields()[0].second, "k");
    EXPECT_EQ(big.fields()[1].second, std::string(10000, 'a' + 999 % 26));
    EXPECT_LT(spread(big), 3 * 10000u + 1024);

    // Equal names next to each other, in any case, all go together; the
    // first place keeps the value set.
    net::HeaderList runs;
    for (const char* n : {"a", "X", "x", "X", "b", "x"}) runs.add(n, n);
    runs.set("x", "new");
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs.fields()[1].first, "X");
    EXPECT_EQ(runs.fields()[1].second, "new");
    EXPECT_EQ(runs.fields()[2].first, "b");
    for (const char* n : {"x", "X", "b"}) runs.add(n, "again");
    EXPECT_EQ(runs.remove("X"), 3u);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs.fields()[0].first, "a");
    EXPECT_EQ(runs.get("B"), "b, again");
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

    // The first and last ports there are (one past each is refused below).
    for (int port : {1, 65535}) {
        ASSERT_TRUE(net::parseHTTPTarget("http://host:" + std::to_string(port) + "/", t)) << port;
        EXPECT_EQ(t.port, port);
        EXPECT_FALSE(t.defaultPort);
    }

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
