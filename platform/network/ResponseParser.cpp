#include "platform/network/ResponseParser.h"

#include <array>
#include <cstring>

namespace net {

const char* describe(ParseError e) {
    switch (e) {
        case ParseError::None: return "no error";
        case ParseError::BadStatusLine: return "malformed status line";
        case ParseError::HeaderTooLarge: return "response header block too large";
        case ParseError::BadHeader: return "malformed response header";
        case ParseError::BadContentLength: return "invalid Content-Length";
        case ParseError::BadChunk: return "malformed chunked body";
        case ParseError::Truncated: return "connection closed before the response was complete";
        case ParseError::BodyTooLarge: return "response body too large";
        case ParseError::TooManyInterim: return "too many interim responses";
    }
    return "unknown";
}

namespace {

// The characters of a field name (a token), one flag per byte value.
constexpr auto kTokenChars = [] {
    std::array<bool, 256> table{};
    for (int c = '0'; c <= '9'; ++c) table[c] = true;
    for (int c = 'a'; c <= 'z'; ++c) table[c] = table[c - 32] = true;
    for (char c : std::string_view("!#$%&'*+-.^_`|~")) table[static_cast<unsigned char>(c)] = true;
    return table;
}();

// A received field value with CR, LF or NUL inside, each replaced by a
// space and trimmed again (RFC 9110, 5.5); nullopt when it has none. Kept,
// they would go out again in a field made from the value (a cached
// validator sent back) and have that request refused.
std::optional<std::string> cleanedValue(std::string_view value) {
    if (value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos) return std::nullopt;
    std::string out(value);
    for (char& c : out)
        if (c == '\r' || c == '\n' || c == '\0') c = ' ';
    return std::string(trimmed(out));
}

bool hasToken(std::string_view list, std::string_view token) {
    // Comma-separated, case-insensitive.
    while (!list.empty()) {
        size_t comma = list.find(',');
        std::string_view item = trimmed(list.substr(0, comma));
        if (equalsIgnoringCase(item, token)) return true;
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
    return false;
}

}  // namespace

ResponseParser::ResponseParser(ResponseLimits limits) : limits_(limits) {}

void ResponseParser::setRequestMethod(std::string_view method) { headRequest_ = equalsIgnoringCase(method, "HEAD"); }

void ResponseParser::fail(ParseError e, std::string detail) {
    if (state_ == State::Failed) return;
    state_ = State::Failed;
    error_ = e;
    errorText_ = describe(e);
    if (!detail.empty()) errorText_ += ": " + detail;
}

bool ResponseParser::takeLine(const char* data, size_t n, size_t& i, size_t limit, ParseError overflow,
                              std::string_view& line) {
    const char* start = data + i;
    const void* nl = std::memchr(start, '\n', n - i);
    size_t take = nl ? static_cast<size_t>(static_cast<const char*>(nl) - start) + 1 : n - i;
    if (line_.size() + take > limit) {
        fail(overflow);
        i = n;
        return false;
    }
    i += take;
    if (!nl) {
        line_.append(start, take);
        return false;
    }
    // A line that lies whole in the input is read where it is; only one
    // split across inputs is put together in line_.
    if (line_.empty()) {
        line = std::string_view(start, take - 1);
    } else {
        line_.append(start, take - 1);
        line = line_;
    }
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return true;
}

size_t ResponseParser::feed(const char* data, size_t n, std::string* body) { return consume(data, n, body, false); }

size_t ResponseParser::feedHead(const char* data, size_t n) { return consume(data, n, nullptr, true); }

size_t ResponseParser::consume(const char* data, size_t n, std::string* body, bool headOnly) {
    size_t i = 0;
    std::string_view line;
    input_ = std::string_view(data, n);
    struct ForgetInput {
        ResponseParser* parser;
        ~ForgetInput() { parser->input_ = parser->block_ = {}; }
    } forget{this};
    while (i < n && state_ != State::Done && state_ != State::Failed) {
        if (headOnly && state_ != State::StatusLine && state_ != State::Headers) break;
        switch (state_) {
            case State::StatusLine:
            case State::Headers: {
                size_t before = line_.size();
                size_t start = i;
                size_t room = limits_.maxHeaderBlockBytes - std::min(headerBytes_, limits_.maxHeaderBlockBytes);
                bool whole = takeLine(data, n, i, room + before, ParseError::HeaderTooLarge, line);
                headerBytes_ += i - start;
                if (!whole) break;
                if (state_ == State::StatusLine) {
                    // Blank lines before a status line are tolerated.
                    if (!line.empty()) onStatusLine(line);
                } else {
                    onHeaderLine(line);
                }
                line_.clear();
                break;
            }
            case State::Body: {
                size_t take = n - i;
                if (framing_ == Framing::Length && remaining_ < take) take = static_cast<size_t>(remaining_);
                if (!addBody(data + i, take, body)) return n;
                i += take;
                if (framing_ == Framing::Length) {
                    remaining_ -= take;
                    if (remaining_ == 0) state_ = State::Done;
                }
                break;
            }
            case State::ChunkSize:
                if (takeLine(data, n, i, limits_.maxChunkLineBytes, ParseError::BadChunk, line)) {
                    onChunkSizeLine(line);
                    line_.clear();
                }
                break;
            case State::ChunkData: {
                size_t take = n - i;
                if (remaining_ < take) take = static_cast<size_t>(remaining_);
                if (!addBody(data + i, take, body)) return n;
                i += take;
                remaining_ -= take;
                if (remaining_ == 0) state_ = State::ChunkDataEnd;
                break;
            }
            case State::ChunkDataEnd:
                // The CRLF after a chunk's data.
                if (takeLine(data, n, i, 2, ParseError::BadChunk, line)) {
                    if (!line.empty()) fail(ParseError::BadChunk, "missing CRLF after chunk data");
                    else state_ = State::ChunkSize;
                    line_.clear();
                }
                break;
            case State::Trailers: {
                size_t start = i;
                size_t before = line_.size();
                size_t room = limits_.maxHeaderBlockBytes - std::min(headerBytes_, limits_.maxHeaderBlockBytes);
                bool whole = takeLine(data, n, i, room + before, ParseError::HeaderTooLarge, line);
                headerBytes_ += i - start;
                if (whole) {
                    onTrailerLine(line);
                    line_.clear();
                }
                break;
            }
            case State::Done:
            case State::Failed:
                break;
        }
    }
    return i;
}

uint64_t ResponseParser::plainBodyBytesWanted() const {
    if (state_ != State::Body) return 0;
    return framing_ == Framing::Length ? remaining_ : UINT64_MAX;
}

bool ResponseParser::bodyReceived(size_t n) {
    if (!addBody(nullptr, n, nullptr)) return false;
    if (framing_ == Framing::Length) {
        remaining_ -= n;
        if (remaining_ == 0) state_ = State::Done;
    }
    return true;
}

bool ResponseParser::addBody(const char* p, size_t n, std::string* body) {
    if (limits_.maxBodyBytes && bodyBytes_ + n > limits_.maxBodyBytes) {
        fail(ParseError::BodyTooLarge);
        return false;
    }
    bodyBytes_ += n;
    if (body) body->append(p, n);
    return true;
}

void ResponseParser::onStatusLine(std::string_view l) {
    // HTTP/1.x SP 3DIGIT [SP reason]
    if (l.size() < 12 || l.substr(0, 7) != "HTTP/1." || (l[7] != '0' && l[7] != '1') || l[8] != ' ')
        return fail(ParseError::BadStatusLine, std::string(l.substr(0, 64)));
    int code = 0;
    for (size_t k = 9; k < 12; ++k) {
        if (l[k] < '0' || l[k] > '9') return fail(ParseError::BadStatusLine, std::string(l.substr(0, 64)));
        code = code * 10 + (l[k] - '0');
    }
    if (code < 100 || (l.size() > 12 && l[12] != ' ')) return fail(ParseError::BadStatusLine, std::string(l.substr(0, 64)));
    pending_ = HTTPMessage::response(code, l, l.substr(0, 8));
    state_ = State::Headers;
    adoptHeaderBlock(l);
}

void ResponseParser::adoptHeaderBlock(std::string_view line) {
    // The status line read in place ends with its line break in the input;
    // the block runs from after it to the blank line's end.
    const char* end = input_.data() + input_.size();
    const char* from = line.data() + line.size();
    if (from < input_.data() || from >= end) return;
    from = static_cast<const char*>(std::memchr(from, '\n', static_cast<size_t>(end - from)));
    if (!from) return;
    ++from;
    const std::string_view rest(from, std::min(static_cast<size_t>(end - from), limits_.maxHeaderBlockBytes));
    size_t blank = rest.starts_with("\r\n") ? 0 : rest.find("\n\r\n");
    if (blank == std::string_view::npos) return;
    block_ = rest.substr(0, blank == 0 ? 2 : blank + 3);
    pending_->headers().adoptText(block_);
}

void ResponseParser::onHeaderLine(std::string_view line) {
    if (line.empty()) return onHeadersDone();
    auto& headers = pending_->headers();
    if (line[0] == ' ' || line[0] == '\t') {
        // An obsolete folded line continues the previous value.
        if (headers.empty()) return fail(ParseError::BadHeader, "continuation without a field");
        const auto cleaned = cleanedValue(trimmed(line));
        headers.appendToLastValue(cleaned ? std::string_view(*cleaned) : trimmed(line));
        return;
    }
    // The name is a token right up to the colon.
    size_t colon = 0;
    while (colon < line.size() && kTokenChars[static_cast<unsigned char>(line[colon])]) ++colon;
    if (colon == 0 || colon == line.size() || line[colon] != ':')
        return fail(ParseError::BadHeader, std::string(line.substr(0, 64)));
    std::string_view name = line.substr(0, colon);
    if (headers.size() >= limits_.maxHeaderFields) return fail(ParseError::HeaderTooLarge, "too many fields");
    const std::string_view value = trimmed(line.substr(colon + 1));
    if (const auto cleaned = cleanedValue(value)) {
        headers.add(name, *cleaned);
    } else if (!block_.empty() && line.data() >= block_.data() && line.data() + line.size() <= block_.data() + block_.size()) {
        const auto at = [&](std::string_view part) { return static_cast<size_t>(part.data() - block_.data()); };
        headers.addFromText(at(name), name.size(), at(value), value.size());
    } else {
        headers.add(name, value);
    }
}

void ResponseParser::onHeadersDone() {
    int code = pending_->statusCode();
    if (code >= 100 && code < 200 && code != 101) {
        // Interim answer: forget it and read the next one.
        if (++interim_ > limits_.maxInterimResponses) return fail(ParseError::TooManyInterim);
        pending_ = nullptr;
        headerBytes_ = 0;
        state_ = State::StatusLine;
        return;
    }
    response_ = pending_;
    pending_ = nullptr;
    response_->setHeaderComplete(true);
    // One pass over the fields for the framing and the connection: every
    // Content-Length field (or list) must say the same number; the last
    // coding of the last Transfer-Encoding field is what counts.
    std::optional<std::string_view> te;
    std::optional<uint64_t> length;
    for (const auto& [name, field] : response_->headers().fields()) {
        if (equalsIgnoringCase(name, "Transfer-Encoding")) {
            te = field;
            continue;
        }
        if (equalsIgnoringCase(name, "Connection")) {
            connectionClose_ = connectionClose_ || hasToken(field, "close");
            connectionKeepAlive_ = connectionKeepAlive_ || hasToken(field, "keep-alive");
            continue;
        }
        if (!equalsIgnoringCase(name, "Content-Length")) continue;
        std::string_view rest(field);
        while (true) {
            size_t comma = rest.find(',');
            auto v = parseDecimal(trimmed(rest.substr(0, comma)));
            if (!v || (length && *length != *v))
                return fail(ParseError::BadContentLength, std::string(field.substr(0, 64)));
            length = v;
            if (comma == std::string_view::npos) break;
            rest.remove_prefix(comma + 1);
        }
    }
    contentLength_ = length;

    if (headRequest_ || code == 204 || code == 304 || code == 101) {
        framing_ = Framing::None;
        state_ = State::Done;
        return;
    }
    if (te) {
        // Chunked must be the last coding; otherwise the body runs to the
        // close. A Content-Length beside Transfer-Encoding is ignored.
        std::string_view list = *te;
        size_t comma = list.rfind(',');
        std::string_view last = trimmed(comma == std::string_view::npos ? list : list.substr(comma + 1));
        if (equalsIgnoringCase(last, "chunked")) {
            framing_ = Framing::Chunked;
            state_ = State::ChunkSize;
        } else {
            framing_ = Framing::UntilClose;
            state_ = State::Body;
        }
        contentLength_.reset();
        if (length) {
            // Both framings at once: the chunks decide where the body ends,
            // and the length is taken out of the answer so that nobody
            // reading its fields (content length, progress, a cache) counts
            // by it. Such an answer may be an attempt to split the stream
            // into answers of its own, so the connection ends with it.
            response_->headers().remove("Content-Length");
            framingConflict_ = true;
        }
        return;
    }
    if (contentLength_) {
        if (limits_.maxBodyBytes && *contentLength_ > limits_.maxBodyBytes) return fail(ParseError::BodyTooLarge);
        framing_ = Framing::Length;
        remaining_ = *contentLength_;
        state_ = remaining_ ? State::Body : State::Done;
        return;
    }
    framing_ = Framing::UntilClose;
    state_ = State::Body;
}

void ResponseParser::onChunkSizeLine(std::string_view l) {
    size_t semi = l.find(';');
    std::string_view hex = trimmed(l.substr(0, semi));
    if (hex.empty() || hex.size() > 15) return fail(ParseError::BadChunk, "bad chunk size");
    uint64_t size = 0;
    for (char c : hex) {
        int d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') d = (c | 0x20) - 'a' + 10;
        else return fail(ParseError::BadChunk, "bad chunk size");
        size = size * 16 + static_cast<uint64_t>(d);
    }
    if (size == 0) {
        headerBytes_ = 0;
        state_ = State::Trailers;
        return;
    }
    if (limits_.maxBodyBytes && bodyBytes_ + size > limits_.maxBodyBytes) return fail(ParseError::BodyTooLarge);
    remaining_ = size;
    state_ = State::ChunkData;
}

void ResponseParser::onTrailerLine(std::string_view line) {
    // Trailer fields are read and dropped; only their size is limited.
    if (line.empty()) state_ = State::Done;
    else if (line.find(':') == std::string_view::npos) fail(ParseError::BadChunk, "malformed trailer");
}

void ResponseParser::finish() {
    if (state_ == State::Done || state_ == State::Failed) return;
    if (state_ == State::Body && framing_ == Framing::UntilClose) {
        state_ = State::Done;
        return;
    }
    if (state_ == State::StatusLine && !response_ && line_.empty() && headerBytes_ == 0 && interim_ == 0) {
        fail(ParseError::Truncated, "no response");
        return;
    }
    fail(ParseError::Truncated);
}

bool ResponseParser::keepAlive() const {
    if (!response_ || state_ == State::Failed) return false;
    if (framing_ == Framing::UntilClose) return false;
    if (connectionClose_ || framingConflict_) return false;
    // After 101 the connection speaks another protocol.
    if (response_->statusCode() == 101) return false;
    if (response_->version() == "HTTP/1.1") return true;
    return connectionKeepAlive_;
}

}  // namespace net
