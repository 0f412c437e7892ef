// Where one request's response body goes and what it becomes: kept in
// memory (as it came, or inflated as it arrives), or written to a download
// file (resumed from a partial file when that is allowed; a gzip body
// inflated as it arrives or at the end), always under the request's size
// limits (ResponseBodyGuard).
//
// A download's temporary files are the user's alone (0600) and go when the
// download fails (but the partial file a resumable download keeps when it
// is cut). A resumable download keeps beside its partial file the record
// of the body that file starts (ResumeRecord): a resume asks for the rest
// of that body only, and takes only an answer that continues it. A finished download lands at its destination whole: renamed
// over the file there, or, when the temporary folder lies on another file
// system, copied into the destination's folder first and renamed there.
// The file it replaces stays as it was until then, and when landing fails.
//
// Owned by one request and used only on the thread the request runs on
// (the network thread, or the caller's for a synchronous request) while the
// request runs; the caller reads the results once the request has finished
// (the finish report orders that). It has no lock: a body is not read by
// the caller while it arrives (the delegate's data callback is for that).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "net/http/DataCompressor.h"
#include "net/http/ResponseBodyGuard.h"
#include "net/http/ResponseLimits.h"
#include "net/http/ResumeRecord.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"

namespace http {

class ResponseDownload {
public:
    using Destination = ResponseBodyGuard::Destination;
    // How a server met a resumed download's Range question: with the rest
    // of the body the partial file starts (appended to it), with a whole
    // body (the file starts over), or with a part that does not continue
    // the partial file (another body's, or another part: never taken).
    enum class RangeAnswer { NotAsked, Honoured, Ignored, Refused };

    // The fields of an answer's head that say which body and which part of
    // it the answer brings.
    struct AnswerHead {
        int status = 0;
        std::optional<std::string> contentRange, contentLength, etag, lastModified;
    };

    // The most room reserved up front for an announced body kept in memory.
    static constexpr uint64_t kMaxReservation = uint64_t(2) << 30;

    ResponseDownload() = default;
    ~ResponseDownload();
    ResponseDownload(const ResponseDownload&) = delete;
    ResponseDownload& operator=(const ResponseDownload&) = delete;

    // --- Settings (before the request starts) -------------------------------
    // Empty: the body is kept in memory.
    const std::string& destinationPath() const { return destinationPath_; }
    void setDestinationPath(std::string path) { destinationPath_ = std::move(path); }
    // Where a file download grows until it is complete (made up when empty).
    const std::string& temporaryPath() const { return temporaryPath_; }
    void setTemporaryPath(std::string path) { temporaryPath_ = std::move(path); }
    bool allowsResume() const { return allowResume_; }
    void setAllowsResume(bool v) { allowResume_ = v; }
    // A gzip body: inflated at the end or on demand (true), or as it arrives.
    bool waitsToInflate() const { return waitToInflate_; }
    void setWaitsToInflate(bool v) { waitToInflate_ = v; }
    uint64_t maxKept() const { return maxKept_; }
    void setMaxKept(uint64_t bytes) { maxKept_ = bytes; }
    uint64_t maxInflated() const { return maxInflated_; }
    void setMaxInflated(uint64_t bytes) { maxInflated_ = bytes; }
    // Copies the settings above (not the state) to another download.
    void copySettingsTo(ResponseDownload& other) const;

    // --- One attempt ----------------------------------------------------------
    // A new attempt: a body kept in memory starts empty.
    void startAttempt();
    // The headers of a body were read: where it goes, whether it is gzip,
    // and how the server met a resumed download's Range question. A gzip
    // download inflated on arrival that continues a partial file is
    // inflated at the end instead, from the whole raw file: its new bytes
    // continue a gzip stream whose start an earlier attempt inflated.
    void beginBody(Destination where, bool compressed, RangeAnswer range = RangeAnswer::NotAsked);
    // Room for an announced body kept in memory as it comes, and for what a
    // gzip body kept in memory inflates to, up to the limit (the length is
    // the server's word, not a promise).
    void reserve(uint64_t announcedLength);
    // Whether the body's bytes are appended to memoryBuffer() as they come
    // (kept in memory, not inflated on arrival).
    bool keepsRawInMemory() const { return rawData_ && destinationPath_.empty() && !inflatesOnArrival(); }
    bool inflatesOnArrival() const { return compressed_ && !waitToInflate_ && !inflateAtEnd_; }
    // The body kept in memory, for reading straight into it.
    ns::MutableData& memoryBuffer() { return *rawData_; }
    // Raw bytes as they are read (already appended when they were read into
    // memoryBuffer()): nil, or the error that ends the request because the
    // body crossed a limit.
    ns::Ref<ns::Error> received(const uint8_t* bytes, size_t length) { return guard_.received(bytes, length); }
    // Inflates bytes of a body inflated on arrival (an empty data for none
    // yet); nil with *error on a bad stream or a crossed limit.
    ns::Ref<ns::Data> inflate(const uint8_t* bytes, size_t length, ns::Ref<ns::Error>* error);
    // Keeps bytes that were not read into memory: into memory (inflated when
    // `inflated` is given) or into the download files. *droppedPartial is
    // set to the partial file's size when the server sent the whole body
    // again (the file starts over). Nil, or the file error.
    ns::Ref<ns::Error> store(const uint8_t* bytes, size_t length, const ns::Data* inflated, RangeAnswer range,
                             uint64_t* droppedPartial);
    // The whole body arrived (`compressed`: it came gzip). Nil, or the
    // inflation error (code 11) of a gzip body kept in memory that does
    // not inflate, or of one inflated as it arrived (anywhere) whose gzip
    // stream stopped before its end: such a body is an error, not an empty
    // or partial answer.
    ns::Ref<ns::Error> endBody(bool compressed);
    // Closes the download files and removes them, the partial file too: for
    // a body that arrived but failed (it did not inflate), which must not
    // reach the destination.
    void abandonFiles();
    // Moves a finished file download into place (inflating it first when it
    // waited to inflate); nil, or the file or inflation error. Keeps the
    // partial file when `keepForResume` (a redirect of a resumable download).
    // An attempt that wrote no byte and did not continue the partial file
    // lands nothing (a partial file left from before goes); a 206 whose
    // body is not as long as its range fails with code 1.
    ns::Ref<ns::Error> finishFile(bool compressed, bool keepForResume);
    // The body of a cached answer kept in memory.
    void useCachedBody(const ns::Data* data);
    // Lands the body of a cached answer, read from the open file `fd` (from
    // its start), at the destination: copied beside it, then renamed over
    // it. Nil, or the file error (the destination as it was).
    ns::Ref<ns::Error> landCachedBody(int fd);
    // Stops: closes the files, and, when the body did not arrive whole,
    // drops what was kept (but a resumable partial file: the start of a
    // body that may be continued, or one this attempt did not touch). Nil,
    // or the error of a temporary file that could not be removed.
    ns::Ref<ns::Error> cancel(bool bodyComplete);

    // --- Resume ---------------------------------------------------------------
    // The size of the partial file a resumed download continues (0 when
    // none); after refreshPartialSize().
    uint64_t partialSize() const { return partialSize_; }
    // Reads the partial file's size and its record when resuming is on (0
    // when there is no partial file); a record that cannot be read or says
    // the file is never continued, or a partial file as long as the body it
    // records or longer, leaves nothing to resume (the body starts over).
    // Nil or the error.
    ns::Ref<ns::Error> refreshPartialSize();
    // What a resume sends as If-Range beside its Range (empty: nothing),
    // from the partial file's record; after refreshPartialSize().
    std::string resumeValidator() const { return record_.ifRangeValue(); }
    // The head of the answer to this attempt: how it meets the Range
    // question (`rangeAsked`). A resumable download takes a part only when
    // it is a 206 whose Content-Range starts at the partial file's length
    // and runs to the body's end, whose total (when given) is the recorded
    // body's length and whose validator (when given) is the recorded one;
    // a 206 with the whole body, or any other answer, starts the file over;
    // any other 206, or a 416, is Refused. With no partial file (a Range
    // the caller asked for) only whether a part came counts. What the
    // answer says of its body is kept for the record a file started over
    // gets, and whether that file may be continued later: only a 200, a
    // 206 of the whole body, or one that continues the partial file.
    RangeAnswer answerHead(bool rangeAsked, const AnswerHead& head);
    // Why the lengths an answer gives cannot be taken (empty: they can): a
    // Content-Length or a Content-Range number larger than a signed 64-bit
    // size, or a Content-Length that, with the partial file, adds up to more.
    std::string whyLengthsCannotBeTaken(const AnswerHead& head) const;
    // Drops the partial file and its record (an answer that does not
    // continue it): the next attempt starts over.
    void dropPartial();
    // Whether the request's Range is the question this download asked (the
    // rest of its partial file), not one the caller set.
    bool askedForRest() const { return askedForRest_; }
    void setAskedForRest(bool v) { askedForRest_ = v; }

    // --- Results ----------------------------------------------------------------
    ns::Ref<ns::MutableData> rawData() const { return rawData_; }
    // The body for the caller: inflated once when it came gzip and waited to
    // inflate (`compressed`), else as kept.
    ns::Ref<ns::Data> body(bool compressed) const;

private:
    bool openDownloadFile(std::string& path, int& fd, RangeAnswer range, bool isMainFile, uint64_t* droppedPartial);
    // Writes the record of the body the partial file starts over with (or
    // removes a stale one when nothing identifies that body).
    ns::Ref<ns::Error> recordStartedBody();
    // Removes the partial file's record (it goes with that file).
    void removeRecord();
    // Removes both temporary files (a failed download).
    void removeTemporaryFiles();
    ns::Ref<ns::Error> removeTemporaryFile(std::string& path);
    void closeFiles();

    // Settings.
    std::string destinationPath_;
    bool allowResume_ = false;
    bool waitToInflate_ = true;
    uint64_t maxKept_ = kDefaultMaxResponseDataLength;
    uint64_t maxInflated_ = kDefaultMaxInflatedLength;
    uint64_t announcedLength_ = 0;  // of the body being read (0: not announced)

    // State of the body being read.
    bool compressed_ = false;
    bool inflateAtEnd_ = false;  // a resumed gzip body inflated on arrival: at the end after all
    ResponseBodyGuard guard_;
    ns::Ref<DataDecompressor> decompressor_;
    ns::Ref<ns::MutableData> rawData_;
    // A gzip body kept in memory, inflated while it arrived, and the raw
    // length it came from (body() hands it out while that holds).
    ns::Ref<ns::Data> inflatedData_;
    size_t inflatedFromLength_ = 0;
    std::string temporaryPath_, inflatedTemporaryPath_;
    int fileFd_ = -1;
    int inflatedFileFd_ = -1;
    uint64_t partialSize_ = 0;
    // The partial file's record, and that of the body this attempt's
    // answer brings (written when the file starts over with it).
    ResumeRecord record_, answerRecord_;
    // This attempt: whether its answer continues the partial file, whether
    // its body may be kept to be continued, whether it wrote the download
    // file and how many bytes, and how long a part its range names.
    bool continues_ = false;
    bool continuable_ = true;
    bool startedFile_ = false;
    uint64_t storedBytes_ = 0;
    std::optional<uint64_t> partLength_;
    bool askedForRest_ = false;
};

}  // namespace http
