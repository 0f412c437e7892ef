#include "platform/network/InputStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/network/NetworkErrors.h"

namespace net {
namespace {

class DataInputStream : public InputStream {
public:
    explicit DataInputStream(ns::Ref<ns::Data> d) : data_(std::move(d)) {}
    const char* className() const override { return "DataInputStream"; }
    bool open() override {
        status_ = Status::Open;
        return true;
    }
    long read(uint8_t* buf, size_t max) override {
        if (status_ != Status::Open && status_ != Status::AtEnd) return -1;
        size_t total = data_ ? data_->length() : 0;
        size_t n = std::min(max, total - offset_);
        if (n) std::memcpy(buf, data_->bytes() + offset_, n);
        offset_ += n;
        if (offset_ == total) status_ = Status::AtEnd;
        return static_cast<long>(n);
    }
    bool hasBytesAvailable() const override { return data_ && offset_ < data_->length(); }
    void close() override { status_ = Status::Closed; }
    std::optional<uint64_t> length() const override { return data_ ? data_->length() : 0; }

private:
    ns::Ref<ns::Data> data_;
    size_t offset_ = 0;
};

class FileInputStream : public InputStream {
public:
    explicit FileInputStream(std::string path) : path_(std::move(path)) {}
    ~FileInputStream() override { close(); }
    const char* className() const override { return "FileInputStream"; }
    bool open() override {
        fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) {
            error_ = posixError(errno, "cannot open " + path_);
            status_ = Status::Error;
            return false;
        }
        struct stat st;
        if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) size_ = static_cast<uint64_t>(st.st_size);
        status_ = Status::Open;
        return true;
    }
    long read(uint8_t* buf, size_t max) override {
        if (fd_ < 0) return -1;
        while (true) {
            ssize_t n = ::read(fd_, buf, max);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                error_ = posixError(errno, "cannot read " + path_);
                status_ = Status::Error;
                return -1;
            }
            if (n == 0) status_ = Status::AtEnd;
            return static_cast<long>(n);
        }
    }
    bool hasBytesAvailable() const override { return status_ == Status::Open; }
    void close() override {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        if (status_ != Status::Error) status_ = Status::Closed;
    }
    std::optional<uint64_t> length() const override { return size_; }

private:
    std::string path_;
    int fd_ = -1;
    std::optional<uint64_t> size_;
};

}  // namespace

ns::Ref<InputStream> InputStream::inputStreamWithData(ns::Ref<ns::Data> data) {
    return ns::make<DataInputStream>(std::move(data));
}

ns::Ref<InputStream> InputStream::inputStreamWithFileAtPath(std::string path) {
    return ns::make<FileInputStream>(std::move(path));
}

}  // namespace net
