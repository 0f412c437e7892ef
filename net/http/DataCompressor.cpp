#include "net/http/DataCompressor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "net/http/ResponseLimits.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/String.h"

namespace http {
namespace {

constexpr size_t kFileBlock = 262144;

std::string format(const char* fmt, const std::string& a, const std::string& b = {}) {
    // The texts below have at most two "%s" placeholders.
    std::string out;
    const char* args[2] = {a.c_str(), b.c_str()};
    int used = 0;
    for (const char* p = fmt; *p; ++p) {
        if (p[0] == '%' && p[1] == 's' && used < 2) {
            out += args[used++];
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

ns::Ref<ns::Error> makeError(const std::string& description, ns::Ref<ns::Error> underlying = nullptr) {
    std::vector<ns::Dictionary::Entry> entries;
    entries.emplace_back(ns::str(ns::kLocalizedDescriptionKey), ns::str(description));
    if (underlying) entries.emplace_back(ns::str(ns::kUnderlyingErrorKey), underlying);
    return ns::Error::make(kHTTPRequestErrorDomain, kCompressionError, ns::Dictionary::make(std::move(entries)));
}

ns::Ref<ns::Error> posixError(int err) {
    return ns::Error::withDescription("POSIXErrorDomain", err, std::strerror(err));
}

void store(ns::Ref<ns::Error>* out, ns::Ref<ns::Error> e) {
    if (out) *out = std::move(e);
}

// A plain file descriptor that closes itself.
struct File {
    int fd = -1;
    ~File() { if (fd >= 0) ::close(fd); }
};


ssize_t readBlock(int fd, uint8_t* p, size_t n) {
    // Fills the block unless the file ends, so that "fewer bytes than a
    // block" means "last block".
    size_t got = 0;
    while (got < n) {
        ssize_t r = ::read(fd, p + got, n - got);
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (r == 0) break;
        got += static_cast<size_t>(r);
    }
    return static_cast<ssize_t>(got);
}

// The shared file-to-file loop: `source` through `coder` into the open file
// `outFd` (named `destination` in errors), which stays open. `Coder` is
// DataCompressor or DataDecompressor.
template <class Coder, class Step>
bool transformInto(const std::string& v, Coder* coder, const std::string& source, int outFd,
                   const std::string& destination, ns::Ref<ns::Error>* error, Step step) {
    struct stat st;
    if (::stat(source.c_str(), &st) != 0) {
        store(error, makeError(format((v + " of %s failed the file does not exist").c_str(), source)));
        return false;
    }
    if (!coder) {
        store(error, makeError(v + " of data failed with code -2"));
        return false;
    }
    File in;
    in.fd = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in.fd < 0) {
        int err = errno;
        coder->closeStream();
        store(error, makeError(format((v + " of %s failed because we were unable to read from the source data file").c_str(), source),
                               posixError(err)));
        return false;
    }
    std::vector<uint8_t> block(kFileBlock);
    while (coder->streamReady()) {
        ssize_t n = readBlock(in.fd, block.data(), block.size());
        if (n < 0) {
            int err = errno;
            coder->closeStream();
            store(error, makeError(format((v + " of %s failed because we were unable to read from the source data file").c_str(), source),
                                   posixError(err)));
            return false;
        }
        ns::Ref<ns::Error> stepError;
        ns::Ref<ns::Data> produced = step(block.data(), static_cast<size_t>(n), &stepError);
        if (stepError) {
            coder->closeStream();
            store(error, stepError);
            return false;
        }
        if (produced && produced->length() > 0 && !ns::writeAll(outFd, produced->bytes(), produced->length())) {
            int err = errno;
            coder->closeStream();
            store(error, makeError(format((v + " of %s failed because we were unable to write to the destination data file at %s").c_str(),
                                          source, destination),
                                   posixError(err)));
            return false;
        }
        if (n == 0) break;
    }
    if (auto e = coder->closeStream()) {
        store(error, e);
        return false;
    }
    return true;
}

// The same into a file made (or emptied) at `destination`, closed at the end.
template <class Coder, class Step>
bool transformFile(const char* verb, Coder* coder, const std::string& source,
                   const std::string& destination, ns::Ref<ns::Error>* error, Step step) {
    std::string v(verb);
    File out;
    // The engine's own files (a compressed body, an inflated download on
    // its way to its destination): the user's alone.
    out.fd = ::open(destination.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out.fd < 0) {
        store(error, makeError(format((v + " of %s failed because we were to create a file at %s").c_str(),
                                      source, destination)));
        return false;
    }
    if (!transformInto(v, coder, source, out.fd, destination, error, step)) return false;
    const int closed = ::close(std::exchange(out.fd, -1));
    if (closed != 0) {
        store(error, makeError(format((v + " of %s failed because we were unable to write to the destination data file at %s").c_str(),
                                      source, destination),
                               posixError(errno)));
        return false;
    }
    return true;
}

}  // namespace

// ---- DataCompressor ---------------------------------------------------------

DataCompressor::DataCompressor() { std::memset(&zStream_, 0, sizeof zStream_); }

DataCompressor::~DataCompressor() {
    if (streamReady_) closeStream();
}

ns::Ref<DataCompressor> DataCompressor::compressor() {
    auto c = ns::make<DataCompressor>();
    if (c->setupStream()) return nullptr;
    return c;
}

ns::Ref<ns::Error> DataCompressor::setupStream() {
    if (streamReady_) return nullptr;
    std::memset(&zStream_, 0, sizeof zStream_);
    int status = deflateInit2(&zStream_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    if (status != Z_OK) return deflateErrorWithCode(status);
    streamReady_ = true;
    finished_ = false;
    return nullptr;
}

ns::Ref<ns::Error> DataCompressor::closeStream() {
    if (!streamReady_) return nullptr;
    streamReady_ = false;
    int status = deflateEnd(&zStream_);
    // Z_DATA_ERROR only says the stream was ended before it was finished,
    // which is how a caller abandons a body; it loses nothing.
    if (status != Z_OK && status != Z_DATA_ERROR) return deflateErrorWithCode(status);
    return nullptr;
}

ns::Ref<ns::Data> DataCompressor::compressBytes(const void* bytes, size_t length, ns::Ref<ns::Error>* error,
                                                bool shouldFinish) {
    if (length == 0) return nullptr;
    if (!streamReady_) {
        store(error, deflateErrorWithCode(Z_STREAM_ERROR));
        return nullptr;
    }
    auto out = ns::MutableData::make();
    const size_t grow = length / 2 + 16;  // zlib needs a little room even for tiny blocks
    zStream_.next_in = static_cast<Bytef*>(const_cast<void*>(bytes));
    zStream_.avail_in = static_cast<uInt>(length);
    int status = Z_OK;
    do {
        status = deflateIntoRoom(*out, grow, shouldFinish ? Z_FINISH : Z_NO_FLUSH);
    } while (status == Z_OK && zStream_.avail_out == 0);
    if (status != Z_OK && status != Z_STREAM_END) {
        store(error, deflateErrorWithCode(status));
        return nullptr;
    }
    if (status == Z_STREAM_END) finished_ = true;
    return out;
}

int DataCompressor::deflateIntoRoom(ns::MutableData& out, size_t room, int flush) {
    zStream_.next_out = out.roomToAppend(room);
    zStream_.avail_out = static_cast<uInt>(std::min<size_t>(out.capacity() - out.length(), UINT_MAX));
    const uLong before = zStream_.total_out;
    const int status = deflate(&zStream_, flush);
    out.commitAppended(zStream_.total_out - before);
    return status;
}

ns::Ref<ns::Data> DataCompressor::finishStream(ns::Ref<ns::Error>* error) {
    auto out = ns::MutableData::make();
    zStream_.next_in = nullptr;
    zStream_.avail_in = 0;
    int status;
    do {
        status = deflateIntoRoom(*out, 4096, Z_FINISH);
    } while (status == Z_OK);
    if (status != Z_STREAM_END) {
        store(error, deflateErrorWithCode(status));
        return nullptr;
    }
    finished_ = true;
    return out;
}

ns::Ref<ns::Data> DataCompressor::compressData(const ns::Data* data, ns::Ref<ns::Error>* error) {
    auto c = compressor();
    if (!c) {
        store(error, deflateErrorWithCode(Z_MEM_ERROR));
        return nullptr;
    }
    if (!data) return nullptr;
    ns::Ref<ns::Error> e;
    auto out = c->compressBytes(data->bytes(), data->length(), &e, true);
    if (e) {
        store(error, e);
        return nullptr;
    }
    if (auto closeErr = c->closeStream()) {
        store(error, closeErr);
        return nullptr;
    }
    return out;
}

bool DataCompressor::compressDataFromFile(const std::string& source, const std::string& destination,
                                          ns::Ref<ns::Error>* error) {
    auto c = compressor();
    DataCompressor* coder = c.get();
    return transformFile("Compression", coder, source, destination, error,
                         [coder](const uint8_t* p, size_t n, ns::Ref<ns::Error>* e) -> ns::Ref<ns::Data> {
                             // A source that ends on a block boundary (or is
                             // empty) still gets its gzip trailer.
                             if (n == 0) return coder->finished_ ? nullptr : coder->finishStream(e);
                             return coder->compressBytes(p, n, e, n < kFileBlock);
                         });
}

ns::Ref<ns::Error> DataCompressor::deflateErrorWithCode(int code) {
    char text[64];
    std::snprintf(text, sizeof text, "Compression of data failed with code %i", code);
    return makeError(text);
}

// ---- DataDecompressor -------------------------------------------------------

DataDecompressor::DataDecompressor() { std::memset(&zStream_, 0, sizeof zStream_); }

DataDecompressor::~DataDecompressor() {
    if (streamReady_) closeStream();
}

ns::Ref<DataDecompressor> DataDecompressor::decompressor() {
    auto d = ns::make<DataDecompressor>();
    if (d->setupStream()) return nullptr;
    return d;
}

ns::Ref<ns::Error> DataDecompressor::setupStream() {
    if (streamReady_) return nullptr;
    std::memset(&zStream_, 0, sizeof zStream_);
    int status = inflateInit2(&zStream_, 47);
    if (status != Z_OK) return inflateErrorWithCode(status);
    streamReady_ = true;
    ended_ = false;
    produced_ = 0;
    return nullptr;
}

ns::Ref<ns::Error> DataDecompressor::closeStream() {
    if (!streamReady_) return nullptr;
    streamReady_ = false;
    int status = inflateEnd(&zStream_);
    if (status != Z_OK) return inflateErrorWithCode(status);
    return nullptr;
}

ns::Ref<ns::Data> DataDecompressor::uncompressBytes(const void* bytes, size_t length, ns::Ref<ns::Error>* error) {
    if (length == 0) return nullptr;
    if (!streamReady_) {
        store(error, inflateErrorWithCode(Z_STREAM_ERROR));
        return nullptr;
    }
    auto out = ns::MutableData::make();
    // Bytes after the end of the stream (trailing garbage or padding) are
    // ignored, as a single-member reader does.
    if (ended_) return out;
    size_t room = length + length / 2 + 64;
    zStream_.next_in = static_cast<Bytef*>(const_cast<void*>(bytes));
    zStream_.avail_in = static_cast<uInt>(length);
    while (zStream_.avail_in != 0) {
        zStream_.next_out = out->roomToAppend(room);
        zStream_.avail_out = static_cast<uInt>(std::min<size_t>(out->capacity() - out->length(), UINT_MAX));
        const uLong before = zStream_.total_out;
        const int status = inflate(&zStream_, Z_NO_FLUSH);
        out->commitAppended(zStream_.total_out - before);
        room = length / 2 + 64;
        if (status == Z_STREAM_END) {
            ended_ = true;
            break;
        }
        if (status != Z_OK) {
            store(error, inflateErrorWithCode(status));
            return nullptr;
        }
        if (maxOutput_ && produced_ + out->length() > maxOutput_) {
            store(error, inflatedResponseTooLargeError(maxOutput_));
            return nullptr;
        }
    }
    produced_ += out->length();
    if (maxOutput_ && produced_ > maxOutput_) {
        store(error, inflatedResponseTooLargeError(maxOutput_));
        return nullptr;
    }
    return out;
}

ns::Ref<ns::Data> DataDecompressor::uncompressData(const ns::Data* data, ns::Ref<ns::Error>* error,
                                                   uint64_t maxOutputLength) {
    auto d = decompressor();
    if (!d) {
        store(error, inflateErrorWithCode(Z_MEM_ERROR));
        return nullptr;
    }
    d->setMaxOutputLength(maxOutputLength);
    if (!data) return nullptr;
    ns::Ref<ns::Error> e;
    auto out = d->uncompressBytes(data->bytes(), data->length(), &e);
    if (e) {
        store(error, e);
        return nullptr;
    }
    // Data that stops before the end of its stream is cut short: an error,
    // as for a file, never the part that inflated.
    if (data->length() && !d->reachedEnd()) {
        store(error, inflateErrorWithCode(Z_BUF_ERROR));
        return nullptr;
    }
    if (auto closeErr = d->closeStream()) {
        store(error, closeErr);
        return nullptr;
    }
    return out;
}

namespace {
// One block of a file being inflated; the file's end (n == 0) checks that
// the gzip stream ended too: a file that stops before it is truncated, and
// that is said instead of reporting a short result as success.
auto inflateStep(DataDecompressor* coder) {
    return [coder](const uint8_t* p, size_t n, ns::Ref<ns::Error>* e) -> ns::Ref<ns::Data> {
        if (n == 0) {
            if (!coder->reachedEnd()) *e = DataDecompressor::inflateErrorWithCode(Z_BUF_ERROR);
            return nullptr;
        }
        return coder->uncompressBytes(p, n, e);
    };
}
}  // namespace

bool DataDecompressor::uncompressDataFromFile(const std::string& source, const std::string& destination,
                                              ns::Ref<ns::Error>* error, uint64_t maxOutputLength) {
    auto d = decompressor();
    DataDecompressor* coder = d.get();
    if (coder) coder->setMaxOutputLength(maxOutputLength);
    return transformFile("Decompression", coder, source, destination, error, inflateStep(coder));
}

bool DataDecompressor::uncompressDataFromFileInto(const std::string& source, int destinationFd,
                                                  const std::string& destinationName, ns::Ref<ns::Error>* error,
                                                  uint64_t maxOutputLength) {
    auto d = decompressor();
    DataDecompressor* coder = d.get();
    if (coder) coder->setMaxOutputLength(maxOutputLength);
    return transformInto("Decompression", coder, source, destinationFd, destinationName, error, inflateStep(coder));
}

ns::Ref<ns::Error> DataDecompressor::inflateErrorWithCode(int code) {
    char text[64];
    std::snprintf(text, sizeof text, "Decompression of data failed with code %i", code);
    return makeError(text);
}

}  // namespace http
