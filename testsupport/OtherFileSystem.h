// A fresh folder on another file system than a given one, for tests of
// what moves between file systems (a temporary folder on tmpfs beside a
// home on disk is a common set-up).
#pragma once

#include <string>

namespace testsupport {

class FolderOnAnotherFileSystem {
public:
    // Made in /dev/shm or in the working folder, whichever lies on another
    // file system than `beside`; empty() when neither does.
    explicit FolderOnAnotherFileSystem(const std::string& beside);
    ~FolderOnAnotherFileSystem();
    FolderOnAnotherFileSystem(const FolderOnAnotherFileSystem&) = delete;
    FolderOnAnotherFileSystem& operator=(const FolderOnAnotherFileSystem&) = delete;

    bool empty() const { return path_.empty(); }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    // What a test that needs one says when there is none.
    static constexpr const char* kMissing =
        "no second file system here (tried /dev/shm and the working folder): this case needs one";

private:
    std::string path_;
};

}  // namespace testsupport
