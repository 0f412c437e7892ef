// A folder whose writes fail as they do on a full or a read-only disk, for
// the tests of what a program does when it cannot store something.
//
// Where the test may mount file systems (root with the right to mount), the
// folder becomes a small tmpfs of its own: fill() takes the rest of its
// space, so writes fail with ENOSPC, and makeReadOnly() remounts it
// read-only (EROFS). Elsewhere fill() lowers the process's file-size limit
// to nothing (writes of data fail with EFBIG; SIGXFSZ is ignored meanwhile)
// and makeReadOnly() takes the write permission from the folder, which holds
// only for a user other than root (it answers false where it cannot work).
// Files written to the tmpfs go with it when the object goes.
#pragma once

#include <sys/resource.h>

#include <string>

namespace testsupport {

class FullDisk {
public:
    // `folder` is created when missing.
    explicit FullDisk(std::string folder);
    ~FullDisk();
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;

    const std::string& folder() const { return folder_; }
    // Whether the folder is a tmpfs of its own (else the fallbacks apply).
    bool isTmpfs() const { return mounted_; }
    // From now on no data can be written in the folder, but for about
    // `leave` bytes (rounded up to whole pages on the tmpfs; with the
    // file-size limit, what one file may hold).
    void fill(size_t leave = 0);
    // From now on nothing can be created in the folder; false when this
    // cannot be arranged here (root without the right to mount).
    bool makeReadOnly();
    // Writable with room again.
    void restore();
    // "full disk (tmpfs)" or "file-size limit": what the test ran against.
    std::string how() const;

    // The ways a store fails that a table of cases goes through, in order.
    enum class Failure { Full, ReadOnly };
    static constexpr Failure kFailures[] = {Failure::Full, Failure::ReadOnly};
    // "full disk" or "read-only folder".
    static const char* describe(Failure failure);
    // Makes writes in the folder fail that way: fill() or makeReadOnly(). Where that
    // cannot be arranged here it prints a "skipped" line and answers false.
    bool arrange(Failure failure);

private:
    std::string folder_;
    bool mounted_ = false;
    bool filled_ = false;
    bool readOnly_ = false;
    bool limited_ = false;
    struct rlimit savedLimit_{};
    void (*savedHandler_)(int) = nullptr;
};

}  // namespace testsupport
