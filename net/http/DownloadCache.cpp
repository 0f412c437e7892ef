#include "net/http/DownloadCache.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <random>

#include "platform/foundation/Exception.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/SecretMasking.h"
#include "platform/foundation/String.h"

namespace fs = std::filesystem;

namespace http {
namespace {

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Header lookup without regard to case: servers write "ETag" as often as "Etag".
std::string headerValue(const ns::Dictionary* headers, const std::string& name) {
    if (!headers) return {};
    if (auto* s = headers->stringForKey(name)) return std::string(s->utf8());
    std::string want = lower(name);
    for (size_t i = 0; i < headers->count(); ++i) {
        auto* k = ns::as<ns::String>(headers->keyAtIndex(i));
        auto* v = ns::as<ns::String>(headers->valueAtIndex(i));
        if (k && v && lower(std::string(k->utf8())) == want) return std::string(v->utf8());
    }
    return {};
}

bool hasHeader(const ns::Dictionary* headers, const std::string& name) {
    if (!headers) return false;
    std::string want = lower(name);
    for (size_t i = 0; i < headers->count(); ++i)
        if (auto* k = ns::as<ns::String>(headers->keyAtIndex(i)); k && lower(std::string(k->utf8())) == want) return true;
    return false;
}

double nowSince1970() { return ns::Date::date()->timeIntervalSince1970(); }

// Cached headers hold cookies and the bodies are the user's: files are
// the owner's alone, in folders only the owner can enter.
constexpr unsigned kFileMode = 0600;
constexpr fs::perms kFolderPerms = fs::perms::owner_all;

// Makes `dir` and any missing parent, each new one with kFolderPerms.
void makeFolders(const fs::path& dir, std::error_code& ec) {
    if (dir.empty() || fs::exists(dir, ec)) return;
    makeFolders(dir.parent_path(), ec);
    if (fs::create_directory(dir, ec)) fs::permissions(dir, kFolderPerms, ec);
}

std::mutex& logMutex() {
    static auto& m = *new std::mutex;
    return m;
}

std::function<void(const std::string&)>& logHandlerSlot() {
    static auto& h = *new std::function<void(const std::string&)>;
    return h;
}

void logLine(const std::string& line) {
    std::function<void(const std::string&)> h;
    {
        std::lock_guard<std::mutex> g(logMutex());
        h = logHandlerSlot();
    }
    if (h) h(line);
    else std::fprintf(stderr, "DownloadCache: %s\n", line.c_str());
}

std::string describe(const ns::Ref<ns::Error>& error) {
    return error ? error->localizedDescription() : std::string("unknown error");
}

// SHA-256 over bytes given in pieces, as lower-case hex.
class BodyDigest {
public:
    BodyDigest() : ctx_(EVP_MD_CTX_new(), EVP_MD_CTX_free) {
        if (!ctx_ || EVP_DigestInit_ex(ctx_.get(), EVP_sha256(), nullptr) != 1) ctx_.reset();
    }
    void update(const void* bytes, size_t n) {
        if (ctx_ && EVP_DigestUpdate(ctx_.get(), bytes, n) != 1) ctx_.reset();
    }
    // Empty when the digest could not be made.
    std::string hex() {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned len = 0;
        if (!ctx_ || EVP_DigestFinal_ex(ctx_.get(), digest, &len) != 1) return {};
        static const char* const kDigits = "0123456789abcdef";
        std::string out;
        for (unsigned i = 0; i < len; ++i) {
            out += kDigits[digest[i] >> 4];
            out += kDigits[digest[i] & 15];
        }
        return out;
    }

private:
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx_;
};

// Reads `size` bytes of the open file `fd` from its start, into `keep`
// when given, feeding `digest` when given. False when it cannot be read
// whole (errno set; EIO when it ended early).
bool readOpenFile(int fd, uint64_t size, ns::MutableData* keep, BodyDigest* digest) {
    std::vector<char> scratch;
    if (!keep) scratch.resize(1 << 16);
    uint64_t got = 0;
    while (got < size) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(size - got, 1 << 20));
        char* into = keep ? reinterpret_cast<char*>(keep->roomToAppend(want)) : scratch.data();
        ssize_t n = ::pread(fd, into, keep ? want : std::min(want, scratch.size()), static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        if (keep) keep->commitAppended(static_cast<size_t>(n));
        if (digest) digest->update(into, static_cast<size_t>(n));
        got += static_cast<uint64_t>(n);
    }
    return true;
}

// A temporary name beside `path` of the form that
// ns::removeLeftoverTemporaryFiles clears once its process has ended.
std::string temporaryNameFor(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    thread_local std::mt19937_64 rng(std::random_device{}());
    char suffix[96];
    std::snprintf(suffix, sizeof suffix, ".tmp.%d.%u.%08llx", static_cast<int>(::getpid()), counter.fetch_add(1),
                  static_cast<unsigned long long>(rng() & 0xffffffffu));
    fs::path p(path);
    return (p.parent_path() / ("." + p.filename().string() + suffix)).string();
}

// Makes a new temporary file beside `path` (mode kFileMode); its name in
// `staged`. -1 with *error on failure.
int createStaged(const std::string& path, std::string& staged, ns::Ref<ns::Error>* error) {
    staged = temporaryNameFor(path);
    int fd = ::open(staged.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kFileMode);
    if (fd < 0) *error = ns::fileError(errno, "Cannot create a temporary file for", path);
    return fd;
}

// Flushes and closes a staged file; removes it on failure. False with *error then.
bool finishStaged(int fd, const std::string& staged, const std::string& path, ns::Ref<ns::Error>* error) {
    if (::fsync(fd) != 0) {
        *error = ns::fileError(errno, "Cannot flush", path);
        ::close(fd);
        ::unlink(staged.c_str());
        return false;
    }
    if (::close(fd) != 0) {
        *error = ns::fileError(errno, "Cannot write", path);
        ::unlink(staged.c_str());
        return false;
    }
    return true;
}

// Writes `bytes` to a new temporary file beside `path`, flushed; its name
// in `staged`. False with *error on failure; nothing is left behind then.
bool stageBytes(const std::string& path, std::string_view bytes, std::string& staged, ns::Ref<ns::Error>* error) {
    int fd = createStaged(path, staged, error);
    if (fd < 0) return false;
    if (!ns::writeAll(fd, bytes.data(), bytes.size())) {
        *error = ns::fileError(errno, "Cannot write", path);
        ::close(fd);
        ::unlink(staged.c_str());
        return false;
    }
    return finishStaged(fd, staged, path, error);
}

// Copies `from` to a new temporary file beside `path`, flushed, giving its
// name, length and digest. False, with *error, on failure; nothing is left
// behind then.
bool stageCopyWithDigest(const std::string& from, const std::string& path, std::string& staged, long long& length,
                         std::string& digestHex, ns::Ref<ns::Error>* error) {
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        *error = ns::fileError(errno, "Cannot open", from);
        return false;
    }
    int out = createStaged(path, staged, error);
    if (out < 0) {
        ::close(in);
        return false;
    }
    auto fail = [&](const char* what, const std::string& where) {
        *error = ns::fileError(errno, what, where);
        ::close(in);
        ::close(out);
        ::unlink(staged.c_str());
        return false;
    };
    BodyDigest digest;
    std::vector<char> buffer(1 << 16);
    length = 0;
    for (;;) {
        ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail("Cannot read", from);
        if (n == 0) break;
        if (!ns::writeAll(out, buffer.data(), static_cast<size_t>(n))) return fail("Cannot write", path);
        digest.update(buffer.data(), static_cast<size_t>(n));
        length += n;
    }
    ::close(in);
    digestHex = digest.hex();
    if (digestHex.empty()) {
        errno = EIO;
        return fail("Cannot take the digest of", path);
    }
    return finishStaged(out, staged, path, error);
}

// Makes the renames done in `folder` last (best effort).
void syncFolder(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// The last day of month `m` (0 for January) of `year`: a date past it is no
// date, where the C library would roll it over into the next month.
int daysInMonth(int year, int m) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return kDays[m] + (m == 1 && leap ? 1 : 0);
}

long long nanoseconds(const struct timespec& t) { return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec; }

[[noreturn]] void raise(const char* name, const char* format, const std::string& path) {
    std::string reason = format;
    size_t p = reason.find("%@");
    if (p != std::string::npos) reason.replace(p, 2, path);
    throw ns::Exception(name, reason);
}

}  // namespace

void OpenFile::reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

std::optional<CachedResponse> CacheDelegate::takeCachedResponseForURL(const ns::URL& url, uint64_t readUpTo) {
    auto headers = cachedResponseHeadersForURL(url);
    const std::string path = pathToCachedResponseDataForURL(url);
    if (!headers || path.empty()) return std::nullopt;
    CachedResponse taken;
    taken.headers = headers;
    taken.bodyFile.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st{};
    if (!taken.bodyFile || ::fstat(taken.bodyFile.fd(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    taken.bodyLength = static_cast<uint64_t>(st.st_size);
    if (taken.bodyLength <= readUpTo) {
        auto bytes = ns::MutableData::make(static_cast<size_t>(taken.bodyLength));
        if (!readOpenFile(taken.bodyFile.fd(), taken.bodyLength, bytes.get(), nullptr)) return std::nullopt;
        taken.body = bytes;
    }
    return taken;
}

// ---- The folder lock -------------------------------------------------------------

class DownloadCache::FolderLock {
public:
    FolderLock(DownloadCache& cache, bool exclusive) : cache_(cache), held_(cache.lockFolder(exclusive)) {}
    ~FolderLock() {
        if (held_) cache_.unlockFolder();
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool held() const { return held_; }

private:
    DownloadCache& cache_;
    bool held_;
};

bool DownloadCache::lockFolder(bool exclusive) {
    if (lockDepth_ > 0) {
        // Inside a shared lock nothing asks for the exclusive one: turning
        // it exclusive would let go of it for a moment.
        if (exclusive && !lockExclusive_) return false;
        ++lockDepth_;
        return true;
    }
    // A forked child shares its parent's open lock file, and with it the lock.
    if (lockFd_ >= 0 && lockPid_ != ::getpid()) closeLockFile();
    if (lockFd_ < 0) {
        if (storagePath_.empty()) return false;
        const std::string path = ns::Paths::join(storagePath_, kLockFileName);
        lockFd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kFileMode);
        // A folder this process may read but not write (another user's, a
        // read-only file system): flock takes either lock on a file open
        // for reading alone.
        if (lockFd_ < 0) lockFd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (lockFd_ < 0) {
            // No lock file to take (none, in a folder that cannot be
            // written): a reader reads without it, the pairs it takes being
            // checked anyway; nothing that changes the folder goes on.
            if (exclusive) return false;
            lockDepth_ = 1;
            lockExclusive_ = false;
            return true;
        }
        lockPid_ = ::getpid();
    }
    int r;
    do r = ::flock(lockFd_, exclusive ? LOCK_EX : LOCK_SH);
    while (r != 0 && errno == EINTR);
    if (r != 0) return false;
    lockDepth_ = 1;
    lockExclusive_ = exclusive;
    return true;
}

void DownloadCache::unlockFolder() {
    if (--lockDepth_ == 0 && lockFd_ >= 0) ::flock(lockFd_, LOCK_UN);
}

void DownloadCache::closeLockFile() {
    if (lockFd_ >= 0) ::close(lockFd_);
    lockFd_ = -1;
    lockDepth_ = 0;
}

DownloadCache::DownloadCache() { setDefaultCachePolicy(0); }

DownloadCache::~DownloadCache() { closeLockFile(); }

ns::Ref<DownloadCache> DownloadCache::sharedCache() {
    static std::mutex m;
    static auto& shared = *new ns::Ref<DownloadCache>;  // never destroyed: request threads use it
    std::lock_guard<std::mutex> g(m);
    if (!shared) {
        shared = ns::make<DownloadCache>();
        shared->setStoragePath(ns::Paths::join(ns::Paths::cachesDirectory(), "HTTPRequestCache"));
    }
    return shared;
}

const std::vector<std::string>& DownloadCache::fileExtensionsToHandleAsHTML() {
    static const auto& list = *new std::vector<std::string>{"asp", "aspx", "jsp", "php", "rb", "py", "pl", "cgi"};
    return list;
}

std::string DownloadCache::keyForURL(const ns::URL& url) {
    std::string text = url.absoluteText();
    if (!text.empty() && text.back() == '/') text.pop_back();
    if (text.empty()) return {};
    unsigned char digest[16];
    unsigned len = 0;
    EVP_Digest(text.data(), text.size(), digest, &len, EVP_md5(), nullptr);
    std::string key;
    char hex[3];
    for (unsigned i = 0; i < len; ++i) {
        std::snprintf(hex, sizeof hex, "%02X", digest[i]);
        key += hex;
    }
    return key;
}

std::string DownloadCache::bodyFileName(const ns::URL& url) {
    std::string key = keyForURL(url);
    if (key.empty()) return {};
    auto extRef = url.pathExtension();
    std::string ext(extRef ? extRef->utf8() : std::string());
    std::string l = lower(ext);
    for (auto& h : fileExtensionsToHandleAsHTML())
        if (l == h) ext.clear();
    if (ext.empty()) ext = "html";
    return key + "." + ext;
}

bool DownloadCache::serverAllowsResponseCachingForRequest(const CacheRequest& request) {
    auto headers = request.responseHeaders();
    std::string cc = lower(headerValue(headers.get(), "Cache-Control"));
    if (cc == "no-cache" || cc == "no-store") return false;
    if (lower(headerValue(headers.get(), "Pragma")) == "no-cache") return false;
    return true;
}

ns::Ref<ns::Date> DownloadCache::dateFromRFC1123String(const std::string& text) {
    // [Www, ]dd Mon yyyy HH:mm[:ss] ZONE
    std::string s = text;
    size_t comma = s.find(',');
    if (comma != std::string::npos) s = s.substr(comma + 1);
    char mon[4] = {0}, zone[8] = {0};
    int day = 0, year = 0, hh = 0, mm = 0, ss = 0;
    int n = 0;
    bool withSeconds = std::count(s.begin(), s.end(), ':') == 2;
    if (withSeconds) {
        if (std::sscanf(s.c_str(), " %2d %3s %4d %2d:%2d:%2d %7s%n", &day, mon, &year, &hh, &mm, &ss, zone, &n) < 7)
            return nullptr;
    } else {
        if (std::sscanf(s.c_str(), " %2d %3s %4d %2d:%2d %7s%n", &day, mon, &year, &hh, &mm, zone, &n) < 6) return nullptr;
    }
    static const char* const months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                         "jul", "aug", "sep", "oct", "nov", "dec"};
    int m = -1;
    for (int i = 0; i < 12; ++i)
        if (lower(mon) == months[i]) m = i;
    if (m < 0 || day < 1 || day > daysInMonth(year, m) || hh > 23 || mm > 59 || ss > 60 || year < 1601) return nullptr;
    std::string z = lower(zone);
    long offset = 0;
    if (z == "gmt" || z == "utc" || z == "ut" || z == "z") offset = 0;
    else if ((z[0] == '+' || z[0] == '-') && z.size() == 5 && z.find_first_not_of("0123456789", 1) == std::string::npos &&
             std::stol(z.substr(1, 2)) <= 23 && std::stol(z.substr(3, 2)) <= 59) {
        offset = (std::stol(z.substr(1, 2)) * 3600 + std::stol(z.substr(3, 2)) * 60) * (z[0] == '-' ? -1 : 1);
    } else {
        return nullptr;
    }
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = m;
    tm.tm_mday = day;
    tm.tm_hour = hh;
    tm.tm_min = mm;
    tm.tm_sec = ss;
    return ns::Date::dateWithTimeIntervalSince1970(static_cast<double>(timegm(&tm) - offset));
}

ns::Ref<ns::Date> DownloadCache::expiryDateForRequestClassRule(const CacheRequest& request, double maxAge) {
    auto headers = request.responseHeaders();
    if (maxAge == 0) {
        std::string cc = lower(headerValue(headers.get(), "Cache-Control"));
        size_t p = cc.find("max-age");
        if (p != std::string::npos) {
            p += 7;
            if (p < cc.size() && cc[p] == '=') ++p;
            size_t end = p;
            while (end < cc.size() && end - p < 12 && std::isdigit(static_cast<unsigned char>(cc[end]))) ++end;
            if (end > p) maxAge = std::stod(cc.substr(p, end - p));
        }
    }
    if (maxAge != 0) return ns::Date::dateWithTimeIntervalSince1970(nowSince1970() + maxAge);
    std::string expires = headerValue(headers.get(), "Expires");
    if (!expires.empty()) return dateFromRFC1123String(expires);
    return nullptr;
}

ns::Ref<ns::Date> DownloadCache::expiryDateForRequest(const CacheRequest& request, double maxAge) {
    return expiryDateForRequestClassRule(request, maxAge);
}

// ---- Folders ---------------------------------------------------------------------

std::string DownloadCache::storagePath() {
    std::lock_guard<std::recursive_mutex> g(accessLock_);
    return storagePath_;
}

uint32_t DownloadCache::defaultCachePolicy() {
    std::lock_guard<std::recursive_mutex> g(accessLock_);
    return defaultCachePolicy_;
}

void DownloadCache::setDefaultCachePolicy(uint32_t policy) {
    std::lock_guard<std::recursive_mutex> g(accessLock_);
    defaultCachePolicy_ = policy ? policy : kAskServerIfModifiedWhenStaleCachePolicy;
}

void DownloadCache::setStoragePath(const std::string& path) {
    std::lock_guard<std::recursive_mutex> g(accessLock_);
    if (!storagePath_.empty()) emptySessionStore();
    closeLockFile();
    storagePath_ = path;
    sessionStoreServed_ = true;
    for (const std::string& dir : {path, ns::Paths::join(path, kSessionStore), ns::Paths::join(path, kPermanentStore)}) {
        std::error_code ec;
        auto st = fs::status(dir, ec);
        if (fs::exists(st) && !fs::is_directory(st))
            raise("FileExistsAtCachePath", "Cannot create a directory for the cache at '%@', because a file already exists", dir);
        if (!fs::exists(st)) {
            makeFolders(fs::path(dir).lexically_normal(), ec);
            if (!fs::is_directory(dir, ec)) raise("FailedToCreateCacheDirectory", "Failed to create a directory for the cache at '%@'", dir);
        } else if (dir != path && (st.permissions() & fs::perms::mask) != kFolderPerms) {
            // A store left by an earlier version, open to others.
            fs::permissions(dir, kFolderPerms, ec);
        }
    }
    sessionStoreServed_ = emptySessionStore();
    clearLeftovers(storeFolderFor(kCachePermanentlyCacheStoragePolicy));
}

bool DownloadCache::emptySessionStore() {
    try {
        clearCachedResponsesForStoragePolicy(kCacheForSessionDurationCacheStoragePolicy);
        return true;
    } catch (const ns::Exception& e) {
        // A folder that cannot be written (read-only, another user's) still
        // serves its permanent store; the answers of an earlier session are
        // not this one's.
        logLine("cannot empty the session store of " + storagePath_ + ": " + e.reason() +
                "; its stored responses are not served");
        return false;
    }
}

void DownloadCache::setLogHandler(std::function<void(const std::string&)> handler) {
    std::lock_guard<std::mutex> g(logMutex());
    logHandlerSlot() = std::move(handler);
}

void DownloadCache::clearLeftovers(const std::string& folder) {
    ns::removeLeftoverTemporaryFiles(folder);
    FolderLock lock(*this, true);
    if (!lock.held()) return;  // another start settles them
    const std::string suffix = kIncomingSuffix;
    std::error_code ec;
    std::vector<std::string> incoming;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            incoming.push_back(name);
    }
    for (const std::string& name : incoming) {
        // A store killed after its headers were written is finished; any
        // other new body never became part of an entry. When the pair
        // cannot be read for now, the waiting body may be the one its
        // headers name: it stays for a later reader to settle.
        std::string bodyName = name.substr(0, name.size() - suffix.size());
        Entry entry;
        if (readPair(folder, bodyName.substr(0, bodyName.find('.')), bodyName, true, entry, nullptr) !=
            Found::Unavailable)
            fs::remove(ns::Paths::join(folder, name), ec);
    }
}

std::string DownloadCache::storeFolderFor(int storagePolicy) {
    return ns::Paths::join(storagePath_, storagePolicy == kCacheForSessionDurationCacheStoragePolicy ? kSessionStore
                                                                                                      : kPermanentStore);
}

void DownloadCache::clearCachedResponsesForStoragePolicy(int storagePolicy) {
    std::lock_guard<std::recursive_mutex> g(accessLock_);
    if (storagePath_.empty()) return;
    std::string folder = storeFolderFor(storagePolicy);
    // Cleared even when the lock cannot be had: the caller asked for it.
    FolderLock lock(*this, true);
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return;
    fs::directory_iterator it(folder, ec);
    if (ec) raise("FailedToTraverseCacheDirectory", "Listing cache directory failed at path '%@'", folder);
    std::vector<fs::path> entries;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) raise("FailedToTraverseCacheDirectory", "Listing cache directory failed at path '%@'", folder);
        entries.push_back(it->path());
    }
    for (auto& e : entries) {
        fs::remove_all(e, ec);
        if (ec) raise("FailedToRemoveCacheFile", "Failed to remove cached data at path '%@'", folder);
    }
}

std::string DownloadCache::pathToFile(const std::string& file) {
    std::lock_guard<std::recursive_mutex> g(accessLock_);
    if (storagePath_.empty() || file.empty()) return {};
    std::error_code ec;
    for (const char* store : {kSessionStore, kPermanentStore}) {
        std::string p = ns::Paths::join(ns::Paths::join(storagePath_, store), file);
        if (fs::exists(p, ec)) return p;
    }
    return {};
}

std::string DownloadCache::pathToCachedResponseHeadersForURL(const ns::URL& url) {
    std::lock_guard<std::recursive_mutex> g(accessLock_);
    auto entry = entryForURL(url);
    return entry ? entry->headersPath : std::string();
}

std::string DownloadCache::pathToCachedResponseDataForURL(const ns::URL& url) {
    std::lock_guard<std::recursive_mutex> g(accessLock_);
    auto entry = entryForURL(url);
    return entry ? entry->bodyPath : std::string();
}

std::string DownloadCache::pathToStoreCachedResponseHeadersForRequest(const CacheRequest& request) {
    std::lock_guard<std::recursive_mutex> g(accessLock_);
    auto url = request.url();
    if (storagePath_.empty() || !url) return {};
    std::string key = keyForURL(*url);
    if (key.empty()) return {};
    return ns::Paths::join(storeFolderFor(request.cacheStoragePolicy()), key + ".cachedheaders");
}

std::string DownloadCache::pathToStoreCachedResponseDataForRequest(const CacheRequest& request) {
    std::lock_guard<std::recursive_mutex> g(accessLock_);
    auto url = request.url();
    if (storagePath_.empty() || !url) return {};
    std::string name = bodyFileName(*url);
    if (name.empty()) return {};
    return ns::Paths::join(storeFolderFor(request.cacheStoragePolicy()), name);
}

// ---- Checked pairs ----------------------------------------------------------------

DownloadCache::BodyCheck DownloadCache::checkBody(const std::string& path, long long length, const std::string& digest,
                                                  BodyWanted* want) {
    OpenFile file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!file) return errno == ENOENT || errno == ENOTDIR ? BodyCheck::DoesNotMatch : BodyCheck::Unavailable;
    struct stat st{};
    if (::fstat(file.fd(), &st) != 0) return BodyCheck::Unavailable;
    if (!S_ISREG(st.st_mode) || st.st_size != length) return BodyCheck::DoesNotMatch;
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    const bool keep = want && size <= want->readUpTo;
    ns::Ref<ns::MutableData> bytes = keep ? ns::MutableData::make(static_cast<size_t>(size)) : nullptr;
    // A digest read before is trusted only to say that the body matches:
    // a file replaced within one clock tick by another of the same size
    // on a reused inode looks unchanged, so a remembered mismatch is read
    // again rather than trusted to drop the entry.
    auto known = knownDigests_.find(path);
    if (known != knownDigests_.end() && known->second.device == st.st_dev && known->second.inode == st.st_ino &&
        known->second.size == st.st_size && known->second.modifiedNs == nanoseconds(st.st_mtim) &&
        known->second.changedNs == nanoseconds(st.st_ctim) && known->second.digest == digest) {
        if (keep && !readOpenFile(file.fd(), size, bytes.get(), nullptr)) return BodyCheck::Unavailable;
    } else {
        BodyDigest d;
        if (!readOpenFile(file.fd(), size, bytes.get(), &d)) return BodyCheck::Unavailable;
        std::string actual = d.hex();
        if (actual.empty()) return BodyCheck::Unavailable;
        if (knownDigests_.size() >= 256) knownDigests_.clear();
        knownDigests_[path] = {st.st_dev, st.st_ino, st.st_size, nanoseconds(st.st_mtim), nanoseconds(st.st_ctim), actual};
        if (actual != digest) return BodyCheck::DoesNotMatch;
    }
    if (want) {
        want->bytes = bytes;
        want->file = std::move(file);
    }
    return BodyCheck::Matches;
}

DownloadCache::Found DownloadCache::readPair(const std::string& folder, const std::string& key,
                                             const std::string& bodyName, bool mayMend, Entry& entry, BodyWanted* want) {
    entry = {ns::Paths::join(folder, key + ".cachedheaders"), ns::Paths::join(folder, bodyName), nullptr};
    const std::string incoming = entry.bodyPath + kIncomingSuffix;
    ns::Ref<ns::Error> error;
    auto text = ns::readFile(entry.headersPath, &error, 1u << 20);
    if (!text) {
        const long code = error ? error->code() : 0;
        if (code == ENOENT || code == ENOTDIR) return Found::Absent;
        // Another kind of file, or one too large, is no headers file of
        // ours; anything else (no descriptor left, a permission, an I/O
        // error) may pass.
        if (code != EISDIR && code != EINVAL && code != EFBIG) return Found::Unavailable;
    } else {
        ns::PropertyListReadOptions options;
        options.mutability = ns::PropertyListMutability::MutableContainers;
        entry.headers = ns::cast<ns::MutableDictionary>(ns::PropertyList::readFromData(*text, nullptr, options));
    }
    auto* length = entry.headers ? entry.headers->numberForKey(kBodyLengthKey) : nullptr;
    auto* digest = entry.headers ? entry.headers->stringForKey(kBodyDigestKey) : nullptr;
    if (length && digest) {
        const std::string wantDigest(digest->utf8());
        switch (checkBody(entry.bodyPath, length->longLongValue(), wantDigest, want)) {
            case BodyCheck::Matches: return Found::Whole;
            case BodyCheck::Unavailable: return Found::Unavailable;
            case BodyCheck::DoesNotMatch: break;
        }
        // Cut after its headers were written: the new body waits beside the old one.
        switch (checkBody(incoming, length->longLongValue(), wantDigest, want)) {
            case BodyCheck::Unavailable: return Found::Unavailable;
            case BodyCheck::DoesNotMatch: break;
            case BodyCheck::Matches:
                if (!mayMend) {
                    if (want) *want = BodyWanted{want->readUpTo, nullptr, OpenFile()};
                    return Found::Mismatched;
                }
                if (::rename(incoming.c_str(), entry.bodyPath.c_str()) == 0) {
                    if (auto known = knownDigests_.find(incoming); known != knownDigests_.end()) {
                        knownDigests_[entry.bodyPath] = known->second;
                        knownDigests_.erase(incoming);
                    }
                    return Found::Whole;
                }
                if (want) *want = BodyWanted{want->readUpTo, nullptr, OpenFile()};
                break;
        }
    }
    if (!mayMend) return Found::Mismatched;
    logLine("dropped the stored response " + entry.headersPath + ": its headers and body do not belong together");
    std::error_code ec;
    for (const std::string& p : {entry.headersPath, entry.bodyPath, incoming}) fs::remove(p, ec);
    return Found::Mismatched;
}

std::optional<DownloadCache::Entry> DownloadCache::entryForURL(const ns::URL& url, BodyWanted* want) {
    std::lock_guard<std::recursive_mutex> g(accessLock_);
    if (storagePath_.empty()) return std::nullopt;
    std::string key = keyForURL(url);
    std::string bodyName = bodyFileName(url);
    if (key.empty() || bodyName.empty()) return std::nullopt;
    // A pair that looks wrong under the shared lock may be a store between
    // its steps: it is looked at again under the exclusive lock, where it
    // is mended or dropped.
    bool exclusive = lockDepth_ > 0 && lockExclusive_;
    for (;;) {
        FolderLock lock(*this, exclusive);
        if (!lock.held()) return std::nullopt;
        bool lookAgain = false;
        for (int policy : {kCacheForSessionDurationCacheStoragePolicy, kCachePermanentlyCacheStoragePolicy}) {
            if (policy == kCacheForSessionDurationCacheStoragePolicy && !sessionStoreServed_) continue;
            Entry entry;
            Found found = readPair(storeFolderFor(policy), key, bodyName, exclusive, entry, want);
            if (found == Found::Whole) return entry;
            if (found == Found::Unavailable) return std::nullopt;
            if (found == Found::Mismatched && !exclusive) {
                lookAgain = true;
                break;
            }
        }
        if (!lookAgain) return std::nullopt;
        exclusive = true;
    }
}

// ---- Reading and writing -----------------------------------------------------------

ns::Ref<ns::Dictionary> DownloadCache::cachedResponseHeadersForURL(const ns::URL& url) {
    std::lock_guard<std::recursive_mutex> g(accessLock_);
    auto entry = entryForURL(url);
    if (!entry) return nullptr;
    entry->headers->removeObjectForKey(kBodyLengthKey);
    entry->headers->removeObjectForKey(kBodyDigestKey);
    return entry->headers;
}

ns::Ref<ns::Data> DownloadCache::cachedResponseDataForURL(const ns::URL& url) {
    std::lock_guard<std::recursive_mutex> g(accessLock_);
    BodyWanted want;
    want.readUpTo = kMaxCachedBodyBytes;
    if (!entryForURL(url, &want)) return nullptr;
    return want.bytes;
}

std::optional<CachedResponse> DownloadCache::takeCachedResponseForURL(const ns::URL& url, uint64_t readUpTo) {
    std::lock_guard<std::recursive_mutex> g(accessLock_);
    BodyWanted want;
    want.readUpTo = readUpTo;
    auto entry = entryForURL(url, &want);
    if (!entry || !want.file) return std::nullopt;
    CachedResponse taken;
    taken.bodyLength = static_cast<uint64_t>(entry->headers->numberForKey(kBodyLengthKey)->longLongValue());
    entry->headers->removeObjectForKey(kBodyLengthKey);
    entry->headers->removeObjectForKey(kBodyDigestKey);
    taken.headers = entry->headers;
    taken.body = want.bytes;
    taken.bodyFile = std::move(want.file);
    return taken;
}

void DownloadCache::storeResponseForRequest(const CacheRequest& request, double maxAge) {
    std::lock_guard<std::recursive_mutex> g(accessLock_);
    auto headers = request.responseHeaders();
    int status = request.responseStatusCode();
    if (request.error() || !headers || (request.cachePolicy() & kDoNotWriteToCacheCachePolicy)) return;
    if (status != 200 && status != 301 && status != 302 && status != 303 && status != 307 && status != 304) return;
    if (respectCacheControl_ && !serverAllowsResponseCachingForRequest(request)) return;
    std::string headersPath = pathToStoreCachedResponseHeadersForRequest(request);
    std::string dataPath = pathToStoreCachedResponseDataForRequest(request);
    if (headersPath.empty() || dataPath.empty()) return;
    auto url = request.url();
    auto failed = [&](const std::string& what, const ns::Ref<ns::Error>& error) {
        logLine("cannot store the response for " + ns::maskSecretsInURL(url->absoluteText()) + ": " + what + ": " +
                describe(error));
    };
    auto lockError = [] { return ns::fileError(errno ? errno : ENOLCK, "Cannot lock", kLockFileName); };

    auto copy = headers->mutableCopy();
    if (request.isResponseCompressed()) {
        // The body stored is the inflated one.
        for (size_t i = 0; i < copy->count(); ++i)
            if (auto* k = ns::as<ns::String>(copy->keyAtIndex(i)); k && lower(std::string(k->utf8())) == "content-encoding") {
                copy->removeObjectForKey(k->utf8());
                break;
            }
    }
    // Names only this cache writes: a server's own are not taken for them.
    copy->removeObjectForKey(kBodyLengthKey);
    copy->removeObjectForKey(kBodyDigestKey);
    if (auto expiry = expiryDateForRequest(request, maxAge))
        copy->setObject(ns::Number::numberWithDouble(expiry->timeIntervalSince1970()), kExpiresKey);
    copy->setObject(ns::Number::numberWithInt(status == 304 ? 200 : status), kStatusCodeKey);

    ns::Ref<ns::Error> error;
    const std::string folder = storeFolderFor(request.cacheStoragePolicy());
    if (status == 304) {
        // A not-modified answer carries no body: its headers go with the
        // body stored before in this store, or are not stored.
        FolderLock lock(*this, true);
        if (!lock.held()) return failed("headers", lockError());
        Entry old;
        if (readPair(folder, keyForURL(*url), bodyFileName(*url), true, old, nullptr) != Found::Whole) return;
        for (const char* k : {kBodyLengthKey, kBodyDigestKey}) copy->setObject(ns::Ref<ns::Object>(old.headers->objectForKey(k)), k);
        if (!ns::PropertyList::writeToFile(*copy, headersPath, true, &error, ns::PropertyListFormat::XML, kFileMode))
            failed("headers", error);
        return;
    }

    // The new body and headers are written under temporary names first
    // (the slow part, without the lock). Then, under the exclusive lock,
    // the new body waits beside the old one until the headers that name it
    // are in place: a store cut at any moment leaves the old pair, or new
    // headers whose body a reader moves into place.
    const std::string incoming = dataPath + kIncomingSuffix;
    long long length = 0;
    std::string digest, stagedBody, stagedHeaders;
    if (auto data = request.responseData()) {
        BodyDigest d;
        d.update(data->bytes(), data->length());
        digest = d.hex();
        length = static_cast<long long>(data->length());
        if (digest.empty()) error = ns::fileError(EIO, "Cannot take the digest of", incoming);
        if (digest.empty() || !stageBytes(dataPath, data->view(), stagedBody, &error)) return failed("body", error);
    } else {
        std::string download = request.downloadDestinationPath();
        if (download.empty()) return;  // no body to go with the headers
        if (!stageCopyWithDigest(download, dataPath, stagedBody, length, digest, &error)) return failed("body", error);
    }
    copy->setObject(ns::Number::numberWithLongLong(length), kBodyLengthKey);
    copy->setObject(ns::String::make(digest), kBodyDigestKey);
    auto text = ns::PropertyList::dataFromPropertyList(*copy, ns::PropertyListFormat::XML, &error);
    if (!text || !stageBytes(headersPath, *text, stagedHeaders, &error)) {
        ::unlink(stagedBody.c_str());
        return failed("headers", error);
    }
    {
        FolderLock lock(*this, true);
        if (!lock.held()) {
            error = lockError();
        } else if (::rename(stagedBody.c_str(), incoming.c_str()) != 0) {
            error = ns::fileError(errno, "Cannot replace", incoming);
        } else if (::rename(stagedHeaders.c_str(), headersPath.c_str()) != 0) {
            error = ns::fileError(errno, "Cannot replace", headersPath);
            ::unlink(stagedHeaders.c_str());
            ::unlink(incoming.c_str());
            return failed("headers", error);
        } else if (::rename(incoming.c_str(), dataPath.c_str()) != 0) {
            // The headers name the body still waiting beside: a reader moves it.
            return failed("body", ns::fileError(errno, "Cannot replace", dataPath));
        } else if (struct stat st{}; ::stat(dataPath.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            // Still under the lock: once it is let go, another store may
            // put its own body here.
            if (knownDigests_.size() >= 256) knownDigests_.clear();
            knownDigests_[dataPath] = {st.st_dev, st.st_ino, st.st_size, nanoseconds(st.st_mtim), nanoseconds(st.st_ctim), digest};
        }
    }
    if (error) {
        ::unlink(stagedBody.c_str());
        ::unlink(stagedHeaders.c_str());
        return failed("body", error);
    }
    syncFolder(folder);
}

void DownloadCache::updateExpiryForRequest(const CacheRequest& request, double maxAge) {
    auto url = request.url();
    if (!url) return;
    std::lock_guard<std::recursive_mutex> g(accessLock_);
    auto expiry = expiryDateForRequest(request, maxAge);
    if (!expiry) return;
    FolderLock lock(*this, true);
    if (!lock.held()) {
        const int err = errno ? errno : ENOLCK;
        // Only an answer that is stored has an expiry to change.
        if (entryForURL(*url))
            logLine("cannot store the new expiry for " + ns::maskSecretsInURL(url->absoluteText()) + ": " +
                    describe(ns::fileError(err, "Cannot lock", kLockFileName)));
        return;
    }
    auto entry = entryForURL(*url);
    if (!entry) return;
    entry->headers->setObject(ns::Number::numberWithDouble(expiry->timeIntervalSince1970()), kExpiresKey);
    ns::Ref<ns::Error> error;
    if (!ns::PropertyList::writeToFile(*entry->headers, entry->headersPath, true, &error, ns::PropertyListFormat::XML,
                                       kFileMode))
        logLine("cannot store the new expiry for " + ns::maskSecretsInURL(url->absoluteText()) + ": " + describe(error));
}

void DownloadCache::removeCachedDataForURL(const ns::URL& url) {
    std::lock_guard<std::recursive_mutex> g(accessLock_);
    // Removed even when the lock cannot be had: the caller asked for it.
    FolderLock lock(*this, true);
    std::error_code ec;
    if (auto entry = entryForURL(url)) {
        for (const std::string& p : {entry->headersPath, entry->bodyPath, entry->bodyPath + kIncomingSuffix})
            fs::remove(p, ec);
    }
    // A body left without its headers.
    std::string body = pathToFile(bodyFileName(url));
    if (!body.empty()) fs::remove(body, ec);
}

void DownloadCache::removeCachedDataForRequest(const CacheRequest& request) {
    if (auto url = request.url()) removeCachedDataForURL(*url);
}

bool DownloadCache::isCachedDataCurrentForRequest(const CacheRequest& request) {
    std::lock_guard<std::recursive_mutex> g(accessLock_);
    auto url = request.url();
    if (storagePath_.empty() || !url) return false;
    auto entry = entryForURL(*url);
    if (!entry) return false;
    const ns::Dictionary* cached = entry->headers.get();
    if (request.responseStatusCode() == 304) return true;
    auto headers = request.responseHeaders();
    if (headers && request.complete()) {
        for (const char* name : {"Etag", "Last-Modified"}) {
            if (!hasHeader(headers.get(), name) || headerValue(headers.get(), name) != headerValue(cached, name))
                return false;
        }
    }
    if (respectCacheControl_) {
        auto* expires = cached->numberForKey(kExpiresKey);
        if (!expires || expires->doubleValue() < nowSince1970()) return false;
    }
    return true;
}

bool DownloadCache::canUseCachedDataForRequest(const CacheRequest& request) {
    uint32_t policy = request.cachePolicy();
    if (policy == 0) policy = defaultCachePolicy();
    if (policy & kDoNotReadFromCacheCachePolicy) return false;
    if (policy & kDontLoadCachePolicy) return true;
    auto url = request.url();
    if (!url) return false;
    std::lock_guard<std::recursive_mutex> g(accessLock_);
    if (!entryForURL(*url)) return false;
    if (policy & kOnlyLoadIfNotCachedCachePolicy) return true;
    if ((policy & kFallbackToCacheIfLoadFailsCachePolicy) && request.complete()) return true;
    if (policy & kAskServerIfModifiedWhenStaleCachePolicy) return isCachedDataCurrentForRequest(request);
    if (policy & kAskServerIfModifiedCachePolicy) {
        if (!request.responseHeaders()) return false;
        return isCachedDataCurrentForRequest(request);
    }
    return false;
}

}  // namespace http
