#include "net/http/ResponseDownload.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>
#include <vector>

#include "net/http/RequestErrors.h"
#include "platform/foundation/FileIO.h"
#include "platform/network/HTTPMessage.h"
#include "platform/network/NetworkErrors.h"

namespace http {

namespace {

bool fileExists(const std::string& path) {
    struct stat st{};
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

const char* const kAttributesText = "Failed to get attributes for file at path";

ns::Ref<ns::Error> moveError(const std::string& from, const std::string& to, int sysError, const char* operation) {
    return requestError(kFileManagementError, "Failed to move file from '" + from + "' to '" + to + "'",
                        net::posixError(sysError, operation));
}

// The process's umask, read without changing it (umask() sets it, for
// every thread, while it answers); 077 when it cannot be read.
mode_t currentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8) & 0777);
    return 077;
}

// The permission bits of a file that lands at `to`: those of the file it
// replaces, or what a file made there anew gets.
mode_t landingMode(const std::string& to) {
    struct stat st{};
    if (::stat(to.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 07777;
    return 0666 & ~currentUmask();
}

// A new file beside `to` for a body on its way there, named
// ".<name>.<purpose>-XXXXXX" with a part made up here and created new
// (0600, never a file or link that was there), so that two downloads to
// one destination never write one file. Its name in `path`; the open
// file, or -1 with errno set.
int createBeside(const std::string& to, const char* purpose, std::string& path) {
    const std::filesystem::path target(to);
    path = (target.parent_path() / ("." + target.filename().string() + "." + purpose + "-XXXXXX")).string();
    return ::mkostemp(path.data(), O_CLOEXEC);
}

// Copies the open file `in` (from its start) into a new file beside `to`
// (0600, flushed); its name in `staged`. False with errno set on failure;
// nothing is left behind then.
bool copyBeside(int in, const std::string& to, std::string& staged) {
    int out = createBeside(to, "landing", staged);
    if (out < 0) return false;
    auto fail = [&] {
        int err = errno;
        ::close(out);
        ::unlink(staged.c_str());
        errno = err;
        return false;
    };
    std::vector<uint8_t> buffer(1 << 16);
    for (off_t at = 0;;) {
        ssize_t n = ::pread(in, buffer.data(), buffer.size(), at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail();
        if (n == 0) break;
        if (!ns::writeAll(out, buffer.data(), static_cast<size_t>(n))) return fail();
        at += n;
    }
    if (::fsync(out) != 0) return fail();
    if (::close(out) != 0) {
        int err = errno;
        ::unlink(staged.c_str());
        errno = err;
        return false;
    }
    return true;
}

// Puts the whole staged file `staged` (beside `to`) in place of `to`.
int renameInto(const std::string& staged, const std::string& to, mode_t mode) {
    ::chmod(staged.c_str(), mode);
    if (::rename(staged.c_str(), to.c_str()) == 0) return 0;
    int err = errno;
    ::unlink(staged.c_str());
    return err;
}

// Replaces `to` with the whole file `from`: a rename, or, when `from` lies
// on another file system, a copy into `to`'s folder renamed over it (then
// `from` goes). The file at `to` is never removed first, so it stays as it
// was when this fails. Nil or the error.
ns::Ref<ns::Error> landFile(const std::string& from, const std::string& to) {
    const mode_t mode = landingMode(to);
    if (::rename(from.c_str(), to.c_str()) == 0) {
        // Private until it landed; now what the file it replaced had.
        ::chmod(to.c_str(), mode);
        return nullptr;
    }
    if (errno != EXDEV) return moveError(from, to, errno, "rename");
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return moveError(from, to, errno, "open");
    std::string staged;
    const bool copied = copyBeside(in, to, staged);
    const int copyError = errno;
    ::close(in);
    if (!copied) return moveError(from, to, copyError, "copy");
    if (int err = renameInto(staged, to, mode)) return moveError(from, to, err, "rename");
    ::unlink(from.c_str());
    return nullptr;
}

// "bytes first-last/total" or "bytes first-last/*" (total unknown).
struct ContentRange {
    uint64_t first = 0, last = 0;
    std::optional<uint64_t> total;
};

// A length or position an answer gives, as decimal digits, within a signed
// 64-bit size; nullopt for anything else.
std::optional<uint64_t> parseLength(std::string_view text) {
    auto value = net::parseDecimal(text);
    if (!value || *value > ResumeRecord::kMaxLength) return std::nullopt;
    return value;
}

std::optional<ContentRange> parseContentRange(std::string_view text) {
    constexpr std::string_view kUnit = "bytes ";
    if (text.size() < kUnit.size() || !net::equalsIgnoringCase(text.substr(0, kUnit.size()), kUnit)) return std::nullopt;
    text.remove_prefix(kUnit.size());
    const size_t dash = text.find('-'), slash = text.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash) return std::nullopt;
    auto first = parseLength(text.substr(0, dash));
    auto last = parseLength(text.substr(dash + 1, slash - dash - 1));
    if (!first || !last || *last < *first) return std::nullopt;
    ContentRange range{*first, *last, std::nullopt};
    const std::string_view total = text.substr(slash + 1);
    if (total != "*") {
        range.total = parseLength(total);
        if (!range.total || *range.total <= *last) return std::nullopt;
    }
    return range;
}

}  // namespace

ResponseDownload::~ResponseDownload() { closeFiles(); }

void ResponseDownload::copySettingsTo(ResponseDownload& other) const {
    other.destinationPath_ = destinationPath_;
    other.temporaryPath_ = temporaryPath_;
    other.allowResume_ = allowResume_;
    other.maxKept_ = maxKept_;
    other.maxInflated_ = maxInflated_;
}

void ResponseDownload::startAttempt() {
    if (destinationPath_.empty()) rawData_ = ns::MutableData::make();
    inflatedData_ = nullptr;
    announcedLength_ = 0;
    answerRecord_ = {};
    continues_ = false;
    continuable_ = true;
    startedFile_ = false;
    storedBytes_ = 0;
    partLength_.reset();
}

void ResponseDownload::beginBody(Destination where, bool compressed, RangeAnswer range) {
    compressed_ = compressed;
    decompressor_ = nullptr;
    inflateAtEnd_ = compressed && !waitToInflate_ && where == Destination::File && allowResume_ &&
                    range == RangeAnswer::Honoured && partialSize_ > 0;
    guard_.begin(where, compressed, inflatesOnArrival(), {maxKept_, maxInflated_}, announcedLength_);
}

void ResponseDownload::reserve(uint64_t announcedLength) {
    announcedLength_ = announcedLength;
    if (rawData_ && rawData_->length() == 0 && announcedLength <= maxKept_ &&
        announcedLength <= kMaxReservation)
        rawData_->reserveCapacity(static_cast<size_t>(announcedLength));
}

ns::Ref<ns::Data> ResponseDownload::inflate(const uint8_t* bytes, size_t length, ns::Ref<ns::Error>* error) {
    if (!decompressor_) {
        decompressor_ = DataDecompressor::decompressor();
        if (!decompressor_) {
            *error = DataDecompressor::inflateErrorWithCode(Z_MEM_ERROR);
            return nullptr;
        }
        decompressor_->setMaxOutputLength(guard_.inflationCap());
    }
    ns::Ref<ns::Error> err;
    ns::Ref<ns::Data> inflated = decompressor_->uncompressBytes(bytes, length, &err);
    if (err) {
        *error = err;
        return nullptr;
    }
    return inflated ? inflated : ns::Data::make(nullptr, 0);
}

bool ResponseDownload::openDownloadFile(std::string& path, int& fd, RangeAnswer range, bool isMainFile,
                                        uint64_t* droppedPartial) {
    bool append = false;
    bool fresh = false;
    if (path.empty()) {
        path = temporaryFilePath();
        fresh = true;
    } else if (allowResume_) {
        if (range == RangeAnswer::Honoured && partialSize_ > 0) {
            append = true;
        } else if (isMainFile && partialSize_) {
            // The server sent the whole body again (or another answer): the
            // file starts over.
            *droppedPartial = partialSize_;
            partialSize_ = 0;
        }
    }
    // The user's alone; a name made up here is a new file (never one that
    // someone put there meanwhile, nor a link).
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC) | (fresh ? O_EXCL : 0),
                0600);
    if (fd < 0) return false;
    if (!fresh) ::fchmod(fd, 0600);
    return true;
}

ns::Ref<ns::Error> ResponseDownload::store(const uint8_t* bytes, size_t length, const ns::Data* inflated,
                                           RangeAnswer range, uint64_t* droppedPartial) {
    *droppedPartial = 0;
    if (destinationPath_.empty()) {
        if (!rawData_) rawData_ = ns::MutableData::make();
        if (inflated) rawData_->appendData(*inflated);
        else rawData_->appendBytes(bytes, length);
        return nullptr;
    }
    if (fileFd_ < 0) {
        const bool continues =
            allowResume_ && range == RangeAnswer::Honoured && partialSize_ > 0 && !temporaryPath_.empty();
        if (!openDownloadFile(temporaryPath_, fileFd_, range, true, droppedPartial))
            return fileError(kAttributesText, temporaryPath_, errno, "open");
        startedFile_ = true;
        // Recorded before the file's first byte, so that a process killed
        // at any moment leaves a file whose record tells what it holds.
        if (allowResume_ && !continues)
            if (auto error = recordStartedBody()) return error;
    }
    if (!ns::writeAll(fileFd_, bytes, length)) return fileError(kAttributesText, temporaryPath_, errno, "write");
    storedBytes_ += length;
    if (inflated) {
        if (inflatedFileFd_ < 0 && !openDownloadFile(inflatedTemporaryPath_, inflatedFileFd_, range, false, droppedPartial))
            return fileError(kAttributesText, inflatedTemporaryPath_, errno, "open");
        if (!ns::writeAll(inflatedFileFd_, inflated->bytes(), inflated->length()))
            return fileError(kAttributesText, inflatedTemporaryPath_, errno, "write");
    }
    return nullptr;
}

ns::Ref<ns::Error> ResponseDownload::endBody(bool compressed) {
    // A body inflated as it arrived (into memory, a file or for the
    // delegate) whose gzip stream had not ended when the body did was cut
    // short: the part that inflated is not the body.
    const bool cutShort = decompressor_ && !decompressor_->reachedEnd();
    decompressor_ = nullptr;
    if (cutShort) return DataDecompressor::inflateErrorWithCode(Z_BUF_ERROR);
    if (!rawData_ || !compressed || !waitToInflate_ || !destinationPath_.empty() || rawData_->length() == 0)
        return nullptr;
    int status = Z_OK;
    if (guard_.inflationFailed(&status)) return DataDecompressor::inflateErrorWithCode(status);
    // Inflated once already, while the body arrived, when its gzip stream
    // ended with its last byte. Otherwise (nothing watched it, as it has no
    // limit; the stream was cut short; bytes followed its end) it is
    // inflated now, and a stream cut short fails here.
    inflatedData_ = guard_.takeInflatedBody();
    inflatedFromLength_ = rawData_->length();
    if (!inflatedData_) {
        ns::Ref<ns::Error> error;
        inflatedData_ = DataDecompressor::uncompressData(rawData_.get(), &error, maxKept_);
        if (error) return error;
    }
    return nullptr;
}

void ResponseDownload::abandonFiles() {
    closeFiles();
    removeTemporaryFiles();
}

void ResponseDownload::closeFiles() {
    if (fileFd_ >= 0) ::close(fileFd_);
    if (inflatedFileFd_ >= 0) ::close(inflatedFileFd_);
    fileFd_ = inflatedFileFd_ = -1;
}

ns::Ref<ns::Error> ResponseDownload::finishFile(bool compressed, bool keepForResume) {
    if (temporaryPath_.empty()) return nullptr;
    closeFiles();
    if (keepForResume) return nullptr;
    // An answer that wrote nothing and did not continue the partial file
    // brought no body: a partial file left from before is not it.
    if (!startedFile_ && !continues_) {
        removeTemporaryFiles();
        return nullptr;
    }
    // A part that announced its range holds all of it (a part ended by
    // the connection's close may stop short): else it is not landed, and
    // a resumable start stays for the next attempt.
    if (partLength_ && storedBytes_ != *partLength_) {
        auto error = requestError(kConnectionFailureErrorType,
                                  "The answer ended after " + std::to_string(storedBytes_) + " of the " +
                                      std::to_string(*partLength_) + " bytes its Content-Range announced");
        if (!allowResume_ || !continuable_) removeTemporaryFiles();
        return error;
    }
    // Landed or failed, the partial file goes, and its record after it: a
    // record outlives its file only where no file is left to continue.
    const std::string record = ResumeRecord::pathFor(temporaryPath_);
    ns::Ref<ns::Error> error;
    if (!compressed) {
        error = landFile(temporaryPath_, destinationPath_);
        if (!error) temporaryPath_.clear();
    } else if (waitToInflate_ || inflateAtEnd_) {
        // Inflate into a file of its own beside the destination, then move
        // it into place whole; it goes when either fails.
        std::string staging;
        const int out = createBeside(destinationPath_, "inflating", staging);
        if (out < 0) {
            error = fileError(kAttributesText, staging, errno, "open");
        } else {
            // Written through the file made here, never one put in place of its name.
            DataDecompressor::uncompressDataFromFileInto(temporaryPath_, out, staging, &error, maxInflated_);
            if (::close(out) != 0 && !error) error = fileError(kAttributesText, staging, errno, "close");
            if (!error) error = landFile(staging, destinationPath_);
            if (error) ::unlink(staging.c_str());
        }
    } else if (!inflatedTemporaryPath_.empty()) {
        error = landFile(inflatedTemporaryPath_, destinationPath_);
        if (!error) inflatedTemporaryPath_.clear();
    }
    // What did not land goes: a failed download leaves no copy of its body
    // behind (nor a partial file to resume from, which would only fail again).
    if (error) {
        removeTemporaryFiles();
        return error;
    }
    auto removal = removeTemporaryFile(temporaryPath_);
    auto second = removeTemporaryFile(inflatedTemporaryPath_);
    if (!removal) ::unlink(record.c_str());
    return removal ? removal : second;
}

void ResponseDownload::useCachedBody(const ns::Data* data) {
    rawData_ = ns::MutableData::make();
    inflatedData_ = nullptr;
    if (data) rawData_->appendData(*data);
}

ns::Ref<ns::Error> ResponseDownload::landCachedBody(int fd) {
    const mode_t mode = landingMode(destinationPath_);
    std::string staged;
    if (!copyBeside(fd, destinationPath_, staged)) return moveError("the download cache", destinationPath_, errno, "copy");
    if (int err = renameInto(staged, destinationPath_, mode)) return moveError("the download cache", destinationPath_, err, "rename");
    return nullptr;
}

ns::Ref<ns::Error> ResponseDownload::recordStartedBody() {
    record_ = answerRecord_;
    record_.continuable = continuable_;
    if (!record_.empty() || !record_.continuable) return record_.write(ResumeRecord::pathFor(temporaryPath_));
    removeRecord();
    return nullptr;
}

void ResponseDownload::removeRecord() {
    if (!temporaryPath_.empty()) ::unlink(ResumeRecord::pathFor(temporaryPath_).c_str());
}

void ResponseDownload::removeTemporaryFiles() {
    // The partial file first, its record after it: a file never stays
    // without the record that tells what it holds.
    const std::string record = temporaryPath_.empty() ? std::string() : ResumeRecord::pathFor(temporaryPath_);
    const bool removed = !removeTemporaryFile(temporaryPath_);
    removeTemporaryFile(inflatedTemporaryPath_);
    if (removed && !record.empty()) ::unlink(record.c_str());
}

ns::Ref<ns::Error> ResponseDownload::removeTemporaryFile(std::string& path) {
    if (path.empty()) return nullptr;
    std::string removed = std::exchange(path, std::string());
    if (!fileExists(removed) || ::unlink(removed.c_str()) == 0) return nullptr;
    return fileError("Failed to delete file at path", removed, errno, "unlink");
}

ns::Ref<ns::Error> ResponseDownload::cancel(bool bodyComplete) {
    if (destinationPath_.empty()) {
        if (!bodyComplete) {
            rawData_ = nullptr;
            inflatedData_ = nullptr;
        }
        return nullptr;
    }
    closeFiles();
    if (bodyComplete) return nullptr;
    ns::Ref<ns::Error> error;
    // Kept for a resume: only the start of a body that may be continued
    // (a partial file this attempt did not touch stays as it was).
    if (!allowResume_ || (startedFile_ && !continuable_)) {
        const std::string record = temporaryPath_.empty() ? std::string() : ResumeRecord::pathFor(temporaryPath_);
        error = removeTemporaryFile(temporaryPath_);
        if (!error && !record.empty()) ::unlink(record.c_str());
        partialSize_ = 0;
    }
    auto second = removeTemporaryFile(inflatedTemporaryPath_);
    return error ? error : second;
}

ns::Ref<ns::Error> ResponseDownload::refreshPartialSize() {
    record_ = {};
    partialSize_ = 0;
    if (!allowResume_ || destinationPath_.empty() || !fileExists(temporaryPath_)) return nullptr;
    struct stat st{};
    if (::stat(temporaryPath_.c_str(), &st) != 0) return fileError(kAttributesText, temporaryPath_, errno, "stat");
    partialSize_ = static_cast<uint64_t>(st.st_size);
    // A partial file without a record (left by hand, or by an older build)
    // is resumed with the range checks alone. One whose record cannot be
    // read, says it is never continued, or is not shorter than the body it
    // records, is not the start of a body this build can continue: the
    // body starts over (the file and its record are written anew).
    if (ResumeRecord::read(ResumeRecord::pathFor(temporaryPath_), &record_) == ResumeRecord::Found::Unreadable ||
        !record_.continuable || (record_.length && partialSize_ >= *record_.length)) {
        record_ = {};
        partialSize_ = 0;
    }
    return nullptr;
}

std::string ResponseDownload::whyLengthsCannotBeTaken(const AnswerHead& head) const {
    auto tooLarge = [](std::string_view what, std::string_view digits) {
        const auto value = net::parseDecimal(digits);
        return value && *value > ResumeRecord::kMaxLength
                   ? std::string(what) + " " + net::quotedForMessage(digits) + " is larger than a file can be"
                   : std::string();
    };
    if (head.contentLength) {
        // The first of a list of equal values, as the engine reads it.
        const std::string_view first = net::trimmed(std::string_view(*head.contentLength).substr(0, head.contentLength->find(',')));
        if (auto why = tooLarge("The Content-Length", first); !why.empty()) return why;
        uint64_t sum = 0;
        if (auto length = net::parseDecimal(first);
            length && (__builtin_add_overflow(*length, partialSize_, &sum) || sum > ResumeRecord::kMaxLength))
            return "The Content-Length " + std::to_string(*length) + " and the " + std::to_string(partialSize_) +
                   " bytes kept add up to more than a file can be";
    }
    if (head.contentRange) {
        std::string_view text(*head.contentRange);
        // Each number of "bytes first-last/total".
        for (size_t at = 0; at < text.size();) {
            const size_t start = text.find_first_of("0123456789", at);
            if (start == std::string_view::npos) break;
            const size_t end = std::min(text.find_first_not_of("0123456789", start), text.size());
            if (auto why = tooLarge("A number of the Content-Range", text.substr(start, end - start)); !why.empty())
                return why;
            at = end;
        }
    }
    return {};
}

ResponseDownload::RangeAnswer ResponseDownload::answerHead(bool rangeAsked, const AnswerHead& head) {
    const std::optional<uint64_t> length = head.contentLength ? parseLength(*head.contentLength) : std::nullopt;
    const std::optional<ContentRange> range = head.contentRange ? parseContentRange(*head.contentRange) : std::nullopt;
    const bool wholeRange = range && range->first == 0 && range->total && range->last + 1 == *range->total;
    // What a partial file started over with this answer's body records.
    answerRecord_ = {head.etag, head.lastModified, std::nullopt};
    if (head.status == 200) answerRecord_.length = length;
    else if (head.status == 206 && wholeRange) answerRecord_.length = range->total;
    // Only the resource from its start may be kept to be continued later:
    // an error answer's body, or a part the caller asked for, goes when
    // the attempt is cut.
    continues_ = false;
    continuable_ = head.status == 200 || (head.status == 206 && wholeRange);
    // A part holds as many bytes as its range names.
    partLength_.reset();
    if (head.status == 206 && range) partLength_ = range->last - range->first + 1;

    if (!rangeAsked) return RangeAnswer::NotAsked;
    // Nothing resumed (no download, no resume, or a Range the caller asked
    // for with no partial file to continue): only whether a part came.
    if (!allowResume_ || destinationPath_.empty() || partialSize_ == 0)
        return head.contentRange ? RangeAnswer::Honoured : RangeAnswer::Ignored;
    // The rest of the partial file's body cannot be had (that body changed
    // or ended): the partial file is not landed, nor the answer's body.
    if (head.status == 416) return RangeAnswer::Refused;
    if (head.status != 206) return RangeAnswer::Ignored;
    // A part runs to the body's end, and its length is what it says.
    if (!range || (range->total && range->last + 1 != *range->total) ||
        (length && *length != range->last - range->first + 1))
        return RangeAnswer::Refused;
    auto differs = [](const std::optional<std::string>& recorded, const std::optional<std::string>& sent) {
        return recorded && sent && *recorded != *sent;
    };
    // It ends where the recorded body ends (its total, when given, is that
    // body's length), and names the recorded body when it names one.
    const bool sameBody = !(record_.length && range->last + 1 != *record_.length) &&
                          !differs(record_.etag, head.etag) &&
                          !(!record_.etag && differs(record_.lastModified, head.lastModified));
    if (range->first == partialSize_ && sameBody) {
        continues_ = continuable_ = true;
        return RangeAnswer::Honoured;
    }
    if (wholeRange) return RangeAnswer::Ignored;
    return RangeAnswer::Refused;
}

void ResponseDownload::dropPartial() {
    closeFiles();
    removeTemporaryFiles();
    record_ = {};
    partialSize_ = 0;
}

ns::Ref<ns::Data> ResponseDownload::body(bool compressed) const {
    if (rawData_ && inflatedData_ && rawData_->length() == inflatedFromLength_) return inflatedData_;
    if (rawData_ && compressed && waitToInflate_) {
        ns::Ref<ns::Error> ignored;
        return DataDecompressor::uncompressData(rawData_.get(), &ignored, maxKept_);
    }
    return rawData_;
}

}  // namespace http
