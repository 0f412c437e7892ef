#include "app/HomeLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/foundation/FileIO.h"
#include "platform/foundation/Paths.h"

namespace app {

namespace {

struct HeldHome {
    std::string home;  // as resolved (no links, no "..")
    int fd = -1;
    bool unlocked = false;  // started without the lock (its warning given)
};

std::mutex& heldMutex() {
    static std::mutex m;
    return m;
}
HeldHome& held() {
    static HeldHome h;
    return h;
}

std::string resolved(const std::string& path) {
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) ? std::string(buf) : path;
}

// The process id the holder wrote into the lock file ("" when unreadable).
std::string holderOf(int fd) {
    char buf[32] = {};
    ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
    if (n <= 0) return {};
    std::string text(buf, static_cast<size_t>(n));
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text.find_first_not_of("0123456789") == std::string::npos ? text : std::string();
}

}  // namespace

std::string homeLockPath(const std::string& home) { return ns::Paths::join(home, ".app.lock"); }

bool claimHome(const std::string& home, std::string* why) {
    std::string key = resolved(home);
    std::lock_guard<std::mutex> g(heldMutex());
    HeldHome& h = held();
    if (h.home == key && (h.fd >= 0 || h.unlocked)) return true;
    std::string path = homeLockPath(home);
    // Never through a link: a link placed at the lock's path must not make
    // the app create or write a file outside the home. Never waiting on a
    // pipe placed there either.
    const int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | flags, 0600);
    int openError = errno;
    // A read-only home: an existing lock file can still be locked.
    if (fd < 0 && (openError == EROFS || openError == EACCES)) fd = ::open(path.c_str(), O_RDONLY | flags);
    std::string problem;
    struct stat st{};
    if (fd < 0)
        problem = openError == ELOOP ? path + " is a symbolic link, which is not followed" : std::strerror(openError);
    else if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        problem = path + " is not a plain file";
    if (!problem.empty()) {
        if (fd >= 0) ::close(fd);
        std::fprintf(stderr, "warning: the home folder %s cannot be locked (%s); make sure no other app process uses it\n",
                     home.c_str(), problem.c_str());
        if (h.fd >= 0) ::close(h.fd);
        h.home = key;
        h.fd = -1;
        h.unlocked = true;
        return true;
    }
    int status;
    while ((status = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {}
    if (status != 0) {
        int error = errno;
        std::string holder = error == EWOULDBLOCK ? holderOf(fd) : std::string();
        ::close(fd);
        if (why) {
            if (error == EWOULDBLOCK)
                *why = "the home folder " + home + " is in use by another app process" +
                       (holder.empty() ? std::string() : " (process " + holder + ")") +
                       "; one home folder serves one app process at a time";
            else
                *why = "the home folder " + home + " cannot be locked: " + std::strerror(error);
        }
        return false;
    }
    // Who holds it, for the message a second process gives; not into a
    // file that has another name too (a hard link from outside the home).
    std::string pid = std::to_string(::getpid()) + "\n";
    if (st.st_nlink == 1 && ::ftruncate(fd, 0) == 0) ns::writeAll(fd, pid);
    if (h.fd >= 0) ::close(h.fd);
    h.home = key;
    h.fd = fd;
    h.unlocked = false;
    return true;
}

}  // namespace app
