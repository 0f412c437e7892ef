#include "platform/foundation/FileManager.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <vector>

#include "platform/foundation/Date.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/String.h"

namespace ns {

namespace {

bool failWith(Ref<Error>* error, int err, std::string_view what, const std::string& path) {
    if (error) *error = fileError(err, what, path);
    return false;
}

std::string parentOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool removeTree(const std::string& path, Ref<Error>* error) {
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0) return failWith(error, errno, "Cannot remove", path);
    if (S_ISDIR(st.st_mode)) {
        DIR* dir = ::opendir(path.c_str());
        if (!dir) return failWith(error, errno, "Cannot list", path);
        std::vector<std::string> names;
        while (dirent* e = ::readdir(dir)) {
            std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(std::move(n));
        }
        ::closedir(dir);
        for (auto& n : names)
            if (!removeTree(Paths::join(path, n), error)) return false;
        if (::rmdir(path.c_str()) != 0) return failWith(error, errno, "Cannot remove", path);
        return true;
    }
    if (::unlink(path.c_str()) != 0) return failWith(error, errno, "Cannot remove", path);
    return true;
}

// Copies a regular file through a temporary file beside the target, so a
// reader never sees part of it.
bool copyFile(const std::string& from, const std::string& to, mode_t mode, Ref<Error>* error) {
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return failWith(error, errno, "Cannot open", from);
    static std::atomic<unsigned> counter{0};
    std::string temp = parentOf(to) + "/.copy." + std::to_string(::getpid()) + "." +
                       std::to_string(counter.fetch_add(1)) + "." +
                       to.substr(to.find_last_of('/') + 1);
    int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode & 07777);
    if (out < 0) {
        int err = errno;
        ::close(in);
        return failWith(error, err, "Cannot create", to);
    }
    auto fail = [&](int err, const char* what, const std::string& path) {
        ::close(in);
        ::close(out);
        ::unlink(temp.c_str());
        return failWith(error, err, what, path);
    };
    std::vector<char> buf(1 << 16);
    for (;;) {
        ssize_t n = ::read(in, buf.data(), buf.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(errno, "Cannot read", from);
        }
        if (n == 0) break;
        for (ssize_t done = 0; done < n;) {
            ssize_t w = ::write(out, buf.data() + done, static_cast<size_t>(n - done));
            if (w < 0) {
                if (errno == EINTR) continue;
                return fail(errno, "Cannot write", to);
            }
            done += w;
        }
    }
    if (::fsync(out) != 0) return fail(errno, "Cannot flush", to);
    ::close(in);
    if (::close(out) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        return failWith(error, err, "Cannot close", to);
    }
    // link() refuses to replace an existing target, unlike rename().
    if (::link(temp.c_str(), to.c_str()) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        return failWith(error, err, "Cannot create", to);
    }
    ::unlink(temp.c_str());
    return true;
}

bool copyTree(const std::string& from, const std::string& to, Ref<Error>* error, int depth) {
    if (depth > 256) return failWith(error, ELOOP, "Folders nested too deeply at", from);
    struct stat st{};
    if (::lstat(from.c_str(), &st) != 0) return failWith(error, errno, "Cannot copy", from);
    if (S_ISLNK(st.st_mode)) {
        std::string target(4096, '\0');
        ssize_t n = ::readlink(from.c_str(), target.data(), target.size());
        if (n < 0) return failWith(error, errno, "Cannot read link", from);
        target.resize(static_cast<size_t>(n));
        if (::symlink(target.c_str(), to.c_str()) != 0) return failWith(error, errno, "Cannot create", to);
        return true;
    }
    if (S_ISDIR(st.st_mode)) {
        if (::mkdir(to.c_str(), st.st_mode & 07777) != 0) return failWith(error, errno, "Cannot create", to);
        DIR* dir = ::opendir(from.c_str());
        if (!dir) return failWith(error, errno, "Cannot list", from);
        std::vector<std::string> names;
        while (dirent* e = ::readdir(dir)) {
            std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(std::move(n));
        }
        ::closedir(dir);
        for (auto& n : names)
            if (!copyTree(Paths::join(from, n), Paths::join(to, n), error, depth + 1)) return false;
        return true;
    }
    if (!S_ISREG(st.st_mode)) return failWith(error, EINVAL, "Cannot copy a special file", from);
    return copyFile(from, to, st.st_mode, error);
}

}  // namespace

FileManager* FileManager::defaultManager() {
    static FileManager* shared = [] {
        auto* m = new FileManager();
        m->makeImmortal();
        return m;
    }();
    return shared;
}

bool FileManager::fileExistsAtPath(const std::string& path, bool* isDirectory) const {
    struct stat st{};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) {
        if (isDirectory) *isDirectory = false;
        return false;
    }
    if (isDirectory) *isDirectory = S_ISDIR(st.st_mode);
    return true;
}

bool FileManager::isReadableFileAtPath(const std::string& path) const {
    return !path.empty() && ::access(path.c_str(), R_OK) == 0;
}

bool FileManager::createDirectoryAtPath(const std::string& path, bool withIntermediateDirectories,
                                        Ref<Error>* error, unsigned mode) {
    if (path.empty()) return failWith(error, ENOENT, "Cannot create folder", path);
    if (!withIntermediateDirectories) {
        if (::mkdir(path.c_str(), mode) != 0) return failWith(error, errno, "Cannot create folder", path);
        return true;
    }
    struct stat st{};
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return true;
        return failWith(error, EEXIST, "A file is in the way of folder", path);
    }
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/') continue;
        std::string prefix = path.substr(0, pos);
        if (::mkdir(prefix.c_str(), mode) != 0 && errno != EEXIST)
            return failWith(error, errno, "Cannot create folder", prefix);
    }
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return failWith(error, ENOTDIR, "Cannot create folder", path);
    return true;
}

bool FileManager::createFileAtPath(const std::string& path, std::string_view contents, Ref<Error>* error) {
    return writeFileAtomically(path, contents, error);
}

std::optional<std::string> FileManager::contentsAtPath(const std::string& path) const {
    return readFile(path);
}

bool FileManager::removeItemAtPath(const std::string& path, Ref<Error>* error) {
    if (path.empty()) return failWith(error, ENOENT, "Cannot remove", path);
    return removeTree(path, error);
}

bool FileManager::moveItemAtPath(const std::string& from, const std::string& to, Ref<Error>* error) {
    struct stat st{};
    if (::lstat(from.c_str(), &st) != 0) return failWith(error, errno, "Cannot move", from);
    if (::lstat(to.c_str(), &st) == 0) return failWith(error, EEXIST, "Cannot move onto existing", to);
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    if (errno != EXDEV) return failWith(error, errno, "Cannot move", from);
    if (!copyTree(from, to, error, 0)) return false;
    return removeTree(from, error);
}

bool FileManager::copyItemAtPath(const std::string& from, const std::string& to, Ref<Error>* error) {
    struct stat st{};
    if (::lstat(to.c_str(), &st) == 0) return failWith(error, EEXIST, "Cannot copy onto existing", to);
    return copyTree(from, to, error, 0);
}

Ref<Array> FileManager::contentsOfDirectoryAtPath(const std::string& path, Ref<Error>* error) const {
    DIR* dir = ::opendir(path.c_str());
    if (!dir) {
        failWith(error, errno, "Cannot list", path);
        return nullptr;
    }
    std::vector<std::string> names;
    while (dirent* e = ::readdir(dir)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(std::move(n));
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    std::vector<Ref<Object>> items;
    items.reserve(names.size());
    for (auto& n : names) items.push_back(String::make(std::move(n)));
    return Array::make(std::move(items));
}

Ref<Dictionary> FileManager::attributesOfItemAtPath(const std::string& path, Ref<Error>* error) const {
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0) {
        failWith(error, errno, "Cannot inspect", path);
        return nullptr;
    }
    const char* type = S_ISREG(st.st_mode)   ? kFileTypeRegular
                       : S_ISDIR(st.st_mode) ? kFileTypeDirectory
                       : S_ISLNK(st.st_mode) ? kFileTypeSymbolicLink
                                             : kFileTypeUnknown;
    double modified = static_cast<double>(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec / 1e9;
    return Dictionary::make({
        {kFileSize, Number::numberWithUnsignedLongLong(static_cast<unsigned long long>(st.st_size))},
        {kFileModificationDate, Date::dateWithTimeIntervalSince1970(modified)},
        {kFileType, String::make(type)},
        {kFilePosixPermissions, Number::numberWithUnsignedLong(st.st_mode & 07777)},
    });
}

}  // namespace ns
