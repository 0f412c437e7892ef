#include "testsupport/OtherFileSystem.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace testsupport {

namespace {
dev_t deviceOf(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 ? st.st_dev : 0;
}
}  // namespace

FolderOnAnotherFileSystem::FolderOnAnotherFileSystem(const std::string& beside) {
    char cwd[4096];
    const std::string working = ::getcwd(cwd, sizeof cwd) ? cwd : "";
    for (const std::string& base : {std::string("/dev/shm"), working}) {
        if (base.empty() || deviceOf(base) == 0 || deviceOf(base) == deviceOf(beside)) continue;
        std::string name = base + "/decktest-otherfs.XXXXXX";
        if (::mkdtemp(name.data())) {
            path_ = name;
            return;
        }
    }
}

FolderOnAnotherFileSystem::~FolderOnAnotherFileSystem() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

}  // namespace testsupport
