#include "testsupport/TempDir.h"

#include <cstdlib>
#include <filesystem>

namespace testsupport {

TempDir::TempDir(const std::string& prefix) {
    std::string templ = (std::filesystem::temp_directory_path() / (prefix + ".XXXXXX")).string();
    if (!::mkdtemp(templ.data())) std::abort();
    path_ = templ;
}

TempDir::~TempDir() {
    std::error_code ec;
    // A test may have taken the owner's rights away to provoke a failure.
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

}  // namespace testsupport
