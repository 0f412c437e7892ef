#include "platform/foundation/FileIO.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>
#include <signal.h>

#include <atomic>
#include <cctype>
#include <random>
#include <vector>

#include "platform/foundation/String.h"

namespace ns {

Ref<Error> fileError(int err, std::string_view what, const std::string& path) {
    std::string text(what);
    text += " ";
    text += path;
    text += ": ";
    text += std::strerror(err);
    return Error::make(kFileErrorDomain, err,
                       Dictionary::make({{kLocalizedDescriptionKey, String::make(text)},
                                         {"NSFilePath", String::make(path)}}));
}

namespace {

void setError(Ref<Error>* error, int err, std::string_view what, const std::string& path) {
    if (error) *error = fileError(err, what, path);
}

std::string folderOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// A name for the temporary file that no other writer (thread or process)
// picks at the same time: pid, a per-process counter and random bits.
std::string temporaryNameFor(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    thread_local std::mt19937_64 rng(std::random_device{}());
    char suffix[96];
    std::snprintf(suffix, sizeof suffix, ".tmp.%d.%u.%08llx", static_cast<int>(getpid()),
                  counter.fetch_add(1), static_cast<unsigned long long>(rng() & 0xffffffffu));
    auto slash = path.find_last_of('/');
    std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    return dir + "." + base + suffix;
}

}  // namespace

bool writeAll(int fd, const void* bytes, size_t length) {
    const char* p = static_cast<const char*>(bytes);
    while (length > 0) {
        ssize_t n = ::write(fd, p, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

namespace {

// Puts the complete temporary file `temp` in place of `path` and makes the
// rename durable. The new file is in place once the rename succeeded, so a
// failing folder sync is not reported as a failed write.
bool replaceWith(const std::string& temp, const std::string& path, Ref<Error>* error) {
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        setError(error, err, "Cannot replace", path);
        return false;
    }
    int dfd = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

enum class Unnamed { Written, Failed, Unsupported };

// Writes the bytes to a file without a name in the target's folder and
// names it only once it is complete and flushed, so that a process killed
// while writing leaves no copy of the bytes behind.
Unnamed writeUnnamed(const std::string& path, std::string_view bytes, Ref<Error>* error, unsigned mode) {
    int fd = ::open(folderOf(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (fd < 0) return Unnamed::Unsupported;
    auto fail = [&](const char* what) {
        int err = errno;
        ::close(fd);
        setError(error, err, what, path);
        return Unnamed::Failed;
    };
    if (!writeAll(fd, bytes)) return fail("Cannot write");
    if (::fsync(fd) != 0) return fail("Cannot flush");
    std::string temp = temporaryNameFor(path);
    std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) != 0 &&
        ::linkat(fd, "", AT_FDCWD, temp.c_str(), AT_EMPTY_PATH) != 0) {
        ::close(fd);
        return Unnamed::Unsupported;  // no way to name it here: write a named file instead
    }
    if (::close(fd) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        setError(error, err, "Cannot close", path);
        return Unnamed::Failed;
    }
    return replaceWith(temp, path, error) ? Unnamed::Written : Unnamed::Failed;
}

bool writeNamed(const std::string& path, std::string_view bytes, Ref<Error>* error, unsigned mode) {
    std::string temp = temporaryNameFor(path);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        setError(error, errno, "Cannot create a temporary file for", path);
        return false;
    }
    auto fail = [&](const char* what) {
        int err = errno;
        ::close(fd);
        ::unlink(temp.c_str());
        setError(error, err, what, path);
        return false;
    };
    if (!writeAll(fd, bytes)) return fail("Cannot write");
    if (::fsync(fd) != 0) return fail("Cannot flush");
    if (::close(fd) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        setError(error, err, "Cannot close", path);
        return false;
    }
    return replaceWith(temp, path, error);
}

// The process id in a temporary name ".<fileName>.tmp.<pid>.<n>.<random>"
// (any file name when `fileName` is empty); nullopt for other names.
std::optional<long> ownerOfTemporaryName(std::string_view name, std::string_view fileName) {
    constexpr std::string_view kMarker = ".tmp.";
    size_t marker = name.rfind(kMarker);
    if (name.size() < 2 || name[0] != '.' || marker == std::string_view::npos || marker < 2) return std::nullopt;
    if (!fileName.empty() && name.substr(1, marker - 1) != fileName) return std::nullopt;
    std::string_view rest = name.substr(marker + kMarker.size());
    size_t dot1 = rest.find('.');
    size_t dot2 = dot1 == std::string_view::npos ? dot1 : rest.find('.', dot1 + 1);
    if (dot2 == std::string_view::npos || dot1 == 0 || dot2 == dot1 + 1 || rest.size() - dot2 - 1 != 8)
        return std::nullopt;
    auto allOf = [](std::string_view s, int (*pred)(int)) {
        for (char c : s)
            if (!pred(static_cast<unsigned char>(c))) return false;
        return true;
    };
    if (!allOf(rest.substr(0, dot1), isdigit) || !allOf(rest.substr(dot1 + 1, dot2 - dot1 - 1), isdigit) ||
        !allOf(rest.substr(dot2 + 1), isxdigit) || dot1 > 9)
        return std::nullopt;
    return std::stol(std::string(rest.substr(0, dot1)));
}

bool processRuns(long pid) { return pid == getpid() || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM; }

}  // namespace

bool writeFileAtomically(const std::string& path, std::string_view bytes, Ref<Error>* error,
                         unsigned mode) {
    if (path.empty() || path.back() == '/') {
        setError(error, EINVAL, "Cannot write", path);
        return false;
    }
    switch (writeUnnamed(path, bytes, error, mode)) {
        case Unnamed::Written: return true;
        case Unnamed::Failed: return false;
        case Unnamed::Unsupported: break;
    }
    return writeNamed(path, bytes, error, mode);
}

size_t removeLeftoverTemporaryFiles(const std::string& folder, std::string_view fileName, LeftoverOwners owners) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return 0;
    std::vector<std::string> leftovers;
    while (dirent* entry = ::readdir(dir)) {
        auto owner = ownerOfTemporaryName(entry->d_name, fileName);
        if (owner && (owners == LeftoverOwners::Any || !processRuns(*owner))) leftovers.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    size_t removed = 0;
    for (const auto& name : leftovers) removed += ::unlink((folder + "/" + name).c_str()) == 0;
    return removed;
}

namespace {
// Why a file of this kind is not read: only regular files are.
bool refuseKind(const struct stat& st, const std::string& path, Ref<Error>* error) {
    if (S_ISDIR(st.st_mode)) {
        setError(error, EISDIR, "Cannot read", path);
        return true;
    }
    if (!S_ISREG(st.st_mode)) {
        setError(error, EINVAL, "Not a regular file:", path);
        return true;
    }
    return false;
}
}  // namespace

std::optional<std::string> readFile(const std::string& path, Ref<Error>* error, size_t maxBytes) {
    // Refused before it is opened: opening a named pipe waits for a writer
    // (for ever, if none comes), and opening a device may act on it.
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) {
        setError(error, errno, "Cannot open", path);
        return std::nullopt;
    }
    if (refuseKind(st, path, error)) return std::nullopt;
    // Should another kind of file take the name meanwhile, opening it
    // still does not wait, and it is refused below.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        setError(error, errno, "Cannot open", path);
        return std::nullopt;
    }
    if (::fstat(fd, &st) != 0) {
        int err = errno;
        ::close(fd);
        setError(error, err, "Cannot inspect", path);
        return std::nullopt;
    }
    if (refuseKind(st, path, error)) {
        ::close(fd);
        return std::nullopt;
    }
    if (static_cast<unsigned long long>(st.st_size) > maxBytes) {
        ::close(fd);
        setError(error, EFBIG, "File too large:", path);
        return std::nullopt;
    }
    std::string out;
    out.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    // The file may grow or shrink while we read: read what is there, bounded.
    for (;;) {
        if (got == out.size()) {
            if (out.size() >= maxBytes) {
                char probe;
                ssize_t n = ::read(fd, &probe, 1);
                if (n > 0) {
                    ::close(fd);
                    setError(error, EFBIG, "File too large:", path);
                    return std::nullopt;
                }
                if (n < 0 && errno == EINTR) continue;
                break;
            }
            out.resize(std::min(maxBytes, std::max<size_t>(out.size() * 2, 4096)));
        }
        ssize_t n = ::read(fd, out.data() + got, out.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            int err = errno;
            ::close(fd);
            setError(error, err, "Cannot read", path);
            return std::nullopt;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    out.resize(got);
    return out;
}

}  // namespace ns
