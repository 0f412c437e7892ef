// An incremental HTTP/1.1 response reader with limits.
//
// Bytes go in as they arrive (any split); the parser answers with the header
// block once it is whole and hands body bytes out, undoing chunked framing.
// It skips interim 1xx answers, knows which answers have no body (HEAD,
// 204, 304), reads Content-Length, chunked and close-delimited bodies, and
// fails with a clear reason on anything malformed, oversized or truncated.
// Nothing it reads is trusted before it is checked.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/network/HTTPMessage.h"

namespace net {

struct ResponseLimits {
    size_t maxHeaderBlockBytes = 64 * 1024;  // status line plus header lines, per answer
    size_t maxHeaderFields = 256;
    size_t maxChunkLineBytes = 1024;          // chunk-size line with its extensions
    size_t maxInterimResponses = 16;          // 1xx answers before the real one
    uint64_t maxBodyBytes = 0;                // 0: no limit
};

enum class ParseError {
    None,
    BadStatusLine,
    HeaderTooLarge,
    BadHeader,
    BadContentLength,
    BadChunk,
    Truncated,
    BodyTooLarge,
    TooManyInterim,
};
const char* describe(ParseError e);

class ResponseParser {
public:
    enum class Framing { None, Length, Chunked, UntilClose };

    explicit ResponseParser(ResponseLimits limits = {});
    const ResponseLimits& limits() const { return limits_; }

    // The method of the request this answers; "HEAD" answers carry no body.
    void setRequestMethod(std::string_view method);

    // Consumes bytes up to the end of the message, appending body bytes to
    // *body. Answers how many bytes were consumed: fewer than n only when
    // the message ended (or failed) inside the input; the rest belongs to
    // nobody and makes the connection unusable.
    size_t feed(const char* data, size_t n, std::string* body);
    // Like feed(), stopping where the final answer's header block ends (at
    // once when it has ended before), so that the caller can take the body
    // bytes after it where they lie.
    size_t feedHead(const char* data, size_t n);
    // How many body bytes the parser takes next without any framing between
    // (the rest of a Content-Length body, or a close-delimited one), so the
    // reader may receive them straight into its body buffer and report them
    // with bodyReceived(); 0 while headers or chunk framing come first.
    uint64_t plainBodyBytesWanted() const;
    // `n` (at most plainBodyBytesWanted()) body bytes were received straight
    // into the body buffer. False when they pass the body limit (failed).
    bool bodyReceived(size_t n);
    // The peer closed the connection: ends a close-delimited body; any other
    // unfinished message fails as Truncated.
    void finish();

    bool headersComplete() const { return response_ && state_ != State::StatusLine && state_ != State::Headers; }
    bool isComplete() const { return state_ == State::Done; }
    bool failed() const { return state_ == State::Failed; }
    ParseError error() const { return error_; }
    const std::string& errorText() const { return errorText_; }

    // The final response once its header block is complete; nil before.
    const ns::Ref<HTTPMessage>& response() const { return response_; }
    Framing framing() const { return framing_; }
    std::optional<uint64_t> contentLength() const { return contentLength_; }
    uint64_t bodyBytesReceived() const { return bodyBytes_; }
    // Whether the connection may carry another request after this answer:
    // HTTP/1.1 without "Connection: close", or HTTP/1.0 with keep-alive, and
    // a body whose end is known; never after 101 Switching Protocols, nor
    // after an answer framed both by Transfer-Encoding and Content-Length
    // (whose Content-Length field the parser drops).
    bool keepAlive() const;

private:
    enum class State { StatusLine, Headers, Body, ChunkSize, ChunkData, ChunkDataEnd, Trailers, Done, Failed };

    void fail(ParseError e, std::string detail = {});
    size_t consume(const char* data, size_t n, std::string* body, bool headOnly);
    // Takes one line from the input; true when it is whole, with `line`
    // viewing it without its line break (in the input, or in line_ when it
    // came in pieces; valid until line_ is cleared).
    bool takeLine(const char* data, size_t n, size_t& i, size_t limit, ParseError overflow, std::string_view& line);
    void onStatusLine(std::string_view line);
    // When the rest of the header block after `line` lies whole in the
    // input, gives it to the answer's header list at once; its fields then
    // point into that copy instead of being copied one by one.
    void adoptHeaderBlock(std::string_view line);
    void onHeaderLine(std::string_view line);
    void onHeadersDone();
    void onChunkSizeLine(std::string_view line);
    void onTrailerLine(std::string_view line);
    bool addBody(const char* p, size_t n, std::string* body);

    ResponseLimits limits_;
    State state_ = State::StatusLine;
    ParseError error_ = ParseError::None;
    std::string errorText_;
    bool headRequest_ = false;
    std::string line_;  // the start of a line split across inputs
    std::string_view input_;  // what consume() reads now
    std::string_view block_;  // the header block adopted from input_, if any
    size_t headerBytes_ = 0;
    size_t interim_ = 0;
    ns::Ref<HTTPMessage> pending_;   // the answer whose headers are being read
    ns::Ref<HTTPMessage> response_;  // the final answer
    Framing framing_ = Framing::None;
    std::optional<uint64_t> contentLength_;
    uint64_t remaining_ = 0;
    uint64_t bodyBytes_ = 0;
    // What the answer's Connection fields ask for, read with the framing.
    bool connectionClose_ = false;
    bool connectionKeepAlive_ = false;
    // Transfer-Encoding and Content-Length both came with the answer.
    bool framingConflict_ = false;
};

}  // namespace net
