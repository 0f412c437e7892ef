#include "testsupport/FullDisk.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>

namespace testsupport {

namespace {
constexpr const char* kFiller = ".filler";
}  // namespace

FullDisk::FullDisk(std::string folder) : folder_(std::move(folder)) {
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    mounted_ = ::mount("tmpfs", folder_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k,mode=0700") == 0;
}

FullDisk::~FullDisk() {
    restore();
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
}

void FullDisk::fill(size_t leave) {
    if (filled_) return;
    filled_ = true;
    if (mounted_) {
        int fd = ::open((folder_ + "/" + kFiller).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0) return;
        char block[4096] = {};
        while (::write(fd, block, sizeof block) > 0) {
        }
        // Whatever part of a page is left is taken too.
        while (::write(fd, block, 1) > 0) {
        }
        if (leave) {
            off_t size = ::lseek(fd, 0, SEEK_END);
            off_t give = static_cast<off_t>((leave + sizeof block - 1) / sizeof block * sizeof block);
            if (::ftruncate(fd, size > give ? size - give : 0) != 0) {
            }
        }
        ::close(fd);
        return;
    }
    ::getrlimit(RLIMIT_FSIZE, &savedLimit_);
    savedHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = savedLimit_;
    small.rlim_cur = leave;
    limited_ = ::setrlimit(RLIMIT_FSIZE, &small) == 0;
}

bool FullDisk::makeReadOnly() {
    if (readOnly_) return true;
    if (mounted_) {
        readOnly_ = ::mount(nullptr, folder_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV,
                            nullptr) == 0;
        return readOnly_;
    }
    if (::geteuid() == 0) return false;
    readOnly_ = ::chmod(folder_.c_str(), 0500) == 0;
    return readOnly_;
}

void FullDisk::restore() {
    if (readOnly_) {
        if (mounted_) ::mount(nullptr, folder_.c_str(), nullptr, MS_REMOUNT | MS_NOSUID | MS_NODEV, nullptr);
        else ::chmod(folder_.c_str(), 0700);
        readOnly_ = false;
    }
    if (filled_) {
        if (mounted_) ::unlink((folder_ + "/" + kFiller).c_str());
        if (limited_) {
            ::setrlimit(RLIMIT_FSIZE, &savedLimit_);
            std::signal(SIGXFSZ, savedHandler_);
            limited_ = false;
        }
        filled_ = false;
    }
}

const char* FullDisk::describe(Failure failure) {
    return failure == Failure::Full ? "full disk" : "read-only folder";
}

bool FullDisk::arrange(Failure failure) {
    if (failure == Failure::Full) {
        fill();
        return true;
    }
    if (makeReadOnly()) return true;
    std::printf("skipped: %s cannot be arranged here\n", describe(failure));
    return false;
}

std::string FullDisk::how() const { return mounted_ ? "full disk (tmpfs)" : "file-size limit"; }

}  // namespace testsupport
