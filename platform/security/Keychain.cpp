#include "platform/security/Keychain.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/crypto.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <set>
#include <unordered_set>
#include <utility>

#include "platform/foundation/Date.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/String.h"
#include "platform/security/Digest.h"

namespace sec {

// File layout (integers little-endian):
//   "DECKKC01"                      magic and version
//   u32 item count
//   per item: u32 length + service, u32 length + account, u32 length + secret,
//             i64 creation and i64 modification (milliseconds since 1970)
//   32 bytes SHA-256 of everything before it
struct Keychain::Item {
    std::string service;
    std::string account;
    std::string secret;
    int64_t created = 0;
    int64_t modified = 0;
};

struct Keychain::Store {
    std::vector<Item> items;
    ~Store() {
        for (auto& item : items)
            if (!item.secret.empty()) OPENSSL_cleanse(item.secret.data(), item.secret.size());
    }
    Item* find(std::string_view service, std::string_view account) {
        for (auto& item : items)
            if (item.service == service && item.account == account) return &item;
        return nullptr;
    }
};

namespace {

constexpr char kMagic[8] = {'D', 'E', 'C', 'K', 'K', 'C', '0', '1'};
constexpr size_t kChecksumSize = 32;

std::mutex& handlerMutex() {
    static std::mutex m;
    return m;
}
std::function<void(const std::string&)>& handlerSlot() {
    static std::function<void(const std::string&)> h;
    return h;
}

void logLine(const std::string& line) {
    std::function<void(const std::string&)> h;
    {
        std::lock_guard<std::mutex> g(handlerMutex());
        h = handlerSlot();
    }
    if (h) h(line);
    else std::fprintf(stderr, "keychain: %s\n", line.c_str());
}

std::mutex& eventsMutex() {
    static std::mutex m;
    return m;
}
std::vector<KeychainSetAsideEvent>& eventsSlot() {
    static std::vector<KeychainSetAsideEvent> events;
    return events;
}
void addEvent(KeychainSetAsideEvent::Kind kind, const std::string& original, const std::string& file) {
    std::lock_guard<std::mutex> g(eventsMutex());
    eventsSlot().push_back({kind, original, file});
}

// One mutex for every keychain in the process; the advisory file lock
// orders processes.
std::mutex& storeMutex() {
    static std::mutex m;
    return m;
}

int64_t nowMillis() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

void putU32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void putI64(std::string& out, int64_t v) {
    uint64_t u = static_cast<uint64_t>(v);
    for (int i = 0; i < 8; ++i) out += static_cast<char>((u >> (8 * i)) & 0xFF);
}
void putBytes(std::string& out, std::string_view s) {
    putU32(out, static_cast<uint32_t>(s.size()));
    out.append(s);
}

// Reads from a byte range without ever trusting a length it has not checked.
struct Reader {
    std::string_view in;
    size_t pos = 0;
    bool ok = true;
    uint64_t raw(int n) {
        if (!ok || in.size() - pos < static_cast<size_t>(n)) { ok = false; return 0; }
        uint64_t v = 0;
        for (int i = 0; i < n; ++i) v |= uint64_t(static_cast<unsigned char>(in[pos + i])) << (8 * i);
        pos += static_cast<size_t>(n);
        return v;
    }
    std::string bytes(size_t max) {
        uint64_t len = raw(4);
        if (!ok || len > max || in.size() - pos < len) { ok = false; return {}; }
        std::string s(in.substr(pos, len));
        pos += len;
        return s;
    }
};

bool validKeys(std::string_view service, std::string_view account) {
    return service.size() <= kMaxKeyLength && account.size() <= kMaxKeyLength;
}

// Holds the advisory lock on "<file>.lock" while alive.
class FileLock {
public:
    explicit FileLock(const std::string& path) {
        fd_ = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ >= 0) {
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {}
        }
    }
    ~FileLock() {
        if (fd_ >= 0) ::close(fd_);  // closing drops the lock
    }
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

std::string folderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Overwrites the regular file at `path` with zeros, to its last byte, and
// flushes it; links are not followed. False when it could not be done.
bool overwriteWithZeros(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st{};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    static const char zeros[64 * 1024] = {};
    for (off_t done = 0; ok && done < st.st_size;) {
        size_t n = static_cast<size_t>(std::min<off_t>(st.st_size - done, static_cast<off_t>(sizeof zeros)));
        ok = ns::writeAll(fd, zeros, n);
        done += static_cast<off_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

std::string timestampForFileName() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%dT%H%M%SZ", &tm);
    return buf;
}

}  // namespace

void setKeychainLogHandler(std::function<void(const std::string&)> handler) {
    std::lock_guard<std::mutex> g(handlerMutex());
    handlerSlot() = std::move(handler);
}

std::vector<KeychainSetAsideEvent> keychainSetAsideEvents() {
    std::lock_guard<std::mutex> g(eventsMutex());
    return eventsSlot();
}

void forgetKeychainSetAsideEvents() {
    std::lock_guard<std::mutex> g(eventsMutex());
    eventsSlot().clear();
}

ns::Ref<ns::Dictionary> KeychainItemAttributes::dictionary() const {
    return ns::Dictionary::make({
        {kAttrService, ns::String::make(service)},
        {kAttrAccount, ns::String::make(account)},
        {kAttrCreationDate, ns::Date::dateWithTimeIntervalSince1970(created)},
        {kAttrModificationDate, ns::Date::dateWithTimeIntervalSince1970(modified)},
    });
}

Keychain::Keychain(std::string path) : path_(std::move(path)) {}

std::string Keychain::defaultPath() {
    return ns::Paths::join(ns::Paths::join(ns::Paths::libraryDirectory(), "Keychains"), "keychain.db");
}

ns::Ref<Keychain> Keychain::defaultKeychain() {
    static std::mutex m;
    static ns::Ref<Keychain> shared;
    std::string path = defaultPath();
    std::lock_guard<std::mutex> g(m);
    if (!shared || shared->path() != path) shared = ns::make<Keychain>(path);
    return shared;
}

std::string Keychain::description() const { return ns::format("<Keychain: %s>", path_); }

int Keychain::load(Store& store) const {
    ns::Ref<ns::Error> error;
    struct stat st{};
    if (::stat(path_.c_str(), &st) != 0) {
        if (errno == ENOENT) return kStatusSuccess;  // nothing stored yet
        logLine(ns::format("cannot read %s: %s", path_, std::strerror(errno)));
        return kStatusIO;
    }
    auto bytes = ns::readFile(path_, &error, kMaxFileSize);
    bool corrupt = false;
    if (!bytes) {
        if (error && error->code() != EFBIG) {
            logLine(ns::format("cannot read %s: %@", path_, error->localizedDescription()));
            return kStatusIO;
        }
        corrupt = true;  // larger than any keychain we write
    }
    if (!corrupt) {
        std::string_view in(*bytes);
        corrupt = in.size() < sizeof kMagic + 4 + kChecksumSize ||
                  std::memcmp(in.data(), kMagic, sizeof kMagic) != 0;
        if (!corrupt) {
            std::string_view body = in.substr(0, in.size() - kChecksumSize);
            corrupt = !constantTimeEqual(sha256(body), in.substr(in.size() - kChecksumSize));
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
            corrupt = false;  // lets the fuzzer reach the item reader
#endif
            if (!corrupt) {
                Reader r{body, sizeof kMagic};
                uint64_t count = r.raw(4);
                if (count > kMaxItems) r.ok = false;
                // Duplicates are found by a set of the pairs, so that a full
                // keychain loads in linear time.
                std::unordered_set<std::string> pairs;
                for (uint64_t i = 0; r.ok && i < count; ++i) {
                    Item item;
                    item.service = r.bytes(kMaxKeyLength);
                    item.account = r.bytes(kMaxKeyLength);
                    item.secret = r.bytes(kMaxSecretLength);
                    item.created = static_cast<int64_t>(r.raw(8));
                    item.modified = static_cast<int64_t>(r.raw(8));
                    if (r.ok && !pairs.insert(std::to_string(item.service.size()) + ':' + item.service + item.account).second)
                        r.ok = false;  // duplicates
                    if (r.ok) store.items.push_back(std::move(item));
                }
                corrupt = !r.ok || r.pos != body.size();
            }
        }
        OPENSSL_cleanse(bytes->data(), bytes->size());
    }
    if (!corrupt) return kStatusSuccess;

    store.items.clear();
    std::string aside = path_ + ".corrupt-" + timestampForFileName();
    for (int n = 2; ::access(aside.c_str(), F_OK) == 0 && n < 1000; ++n)
        aside = path_ + ".corrupt-" + timestampForFileName() + "-" + std::to_string(n);
    if (::rename(path_.c_str(), aside.c_str()) != 0) {
        logLine(ns::format("%s cannot be decoded and cannot be moved aside (%s); leaving it untouched",
                           path_, std::strerror(errno)));
        return kStatusDecode;
    }
    movedAside_.push_back(aside);
    addEvent(KeychainSetAsideEvent::Kind::MovedAside, path_, aside);
    logLine(ns::format("%s could not be decoded; moved aside to %s, starting empty", path_, aside));
    return kStatusSuccess;
}

int Keychain::save(const Store& store) const {
    std::string out(kMagic, sizeof kMagic);
    putU32(out, static_cast<uint32_t>(store.items.size()));
    for (const auto& item : store.items) {
        putBytes(out, item.service);
        putBytes(out, item.account);
        putBytes(out, item.secret);
        putI64(out, item.created);
        putI64(out, item.modified);
    }
    out += sha256(out);
    if (out.size() > kMaxFileSize) {
        // A file past the limit could not be read back: it would be moved
        // aside with every item in it.
        OPENSSL_cleanse(out.data(), out.size());
        logLine(ns::format("%s would grow past %zu bytes; not written", path_, kMaxFileSize));
        return kStatusAllocate;
    }
    ns::Ref<ns::Error> error;
    bool ok = ns::writeFileAtomically(path_, out, &error, 0600);
    OPENSSL_cleanse(out.data(), out.size());
    if (!ok) {
        logLine(ns::format("cannot write %s: %@", path_, error ? error->localizedDescription() : std::string()));
        return kStatusIO;
    }
    return kStatusSuccess;
}

template <class F>
int Keychain::withStore(bool write, F&& body) const {
    std::lock_guard<std::mutex> g(storeMutex());
    std::string folder = folderOf(path_);
    if (write) {
        if (!ns::Paths::ensureDirectory(folder, 0700)) {
            logLine(ns::format("cannot create folder %s: %s", folder, std::strerror(errno)));
            return kStatusIO;
        }
        ::chmod(folder.c_str(), 0700);
    }
    std::unique_ptr<FileLock> lock;
    if (::access(folder.c_str(), F_OK) == 0) {
        lock = std::make_unique<FileLock>(path_);
        // A temporary file of a save holds a full copy of every secret. One
        // that is here while every saver is locked out was left by a killed
        // save: it goes now, not at some later write.
        ns::removeLeftoverTemporaryFiles(folder, std::string_view(path_).substr(path_.rfind('/') + 1),
                                         lock->held() ? ns::LeftoverOwners::Any : ns::LeftoverOwners::DeadProcesses);
    }
    Store store;
    int status = load(store);
    if (status != kStatusSuccess) return status;
    bool changed = false;
    status = body(store, changed);
    if (status == kStatusSuccess && write && changed) status = save(store);
    return status;
}

int Keychain::addGenericPassword(std::string_view service, std::string_view account, std::string_view secret) {
    if (!validKeys(service, account) || secret.size() > kMaxSecretLength) return kStatusParam;
    return withStore(true, [&](Store& s, bool& changed) {
        if (s.find(service, account)) return kStatusDuplicateItem;
        if (s.items.size() >= kMaxItems) return kStatusAllocate;
        int64_t now = nowMillis();
        s.items.push_back(Item{std::string(service), std::string(account), std::string(secret), now, now});
        changed = true;
        return kStatusSuccess;
    });
}

int Keychain::findGenericPassword(std::string_view service, std::string_view account, std::string* secret) const {
    if (!validKeys(service, account)) return kStatusParam;
    return withStore(false, [&](Store& s, bool&) {
        Item* item = s.find(service, account);
        if (!item) return kStatusItemNotFound;
        if (secret) *secret = item->secret;
        return kStatusSuccess;
    });
}

int Keychain::updateGenericPassword(std::string_view service, std::string_view account, std::string_view secret) {
    if (!validKeys(service, account) || secret.size() > kMaxSecretLength) return kStatusParam;
    return withStore(true, [&](Store& s, bool& changed) {
        Item* item = s.find(service, account);
        if (!item) return kStatusItemNotFound;
        OPENSSL_cleanse(item->secret.data(), item->secret.size());
        item->secret.assign(secret);
        item->modified = nowMillis();
        changed = true;
        return kStatusSuccess;
    });
}

int Keychain::setGenericPassword(std::string_view service, std::string_view account, std::string_view secret) {
    if (!validKeys(service, account) || secret.size() > kMaxSecretLength) return kStatusParam;
    return withStore(true, [&](Store& s, bool& changed) {
        int64_t now = nowMillis();
        if (Item* item = s.find(service, account)) {
            OPENSSL_cleanse(item->secret.data(), item->secret.size());
            item->secret.assign(secret);
            item->modified = now;
        } else {
            if (s.items.size() >= kMaxItems) return kStatusAllocate;
            s.items.push_back(Item{std::string(service), std::string(account), std::string(secret), now, now});
        }
        changed = true;
        return kStatusSuccess;
    });
}

int Keychain::deleteGenericPassword(std::string_view service, std::string_view account) {
    if (!validKeys(service, account)) return kStatusParam;
    return withStore(true, [&](Store& s, bool& changed) {
        for (auto it = s.items.begin(); it != s.items.end(); ++it) {
            if (it->service == service && it->account == account) {
                OPENSSL_cleanse(it->secret.data(), it->secret.size());
                s.items.erase(it);
                changed = true;
                return kStatusSuccess;
            }
        }
        return kStatusItemNotFound;
    });
}

int Keychain::setGenericPasswords(std::string_view service, const std::vector<KeychainValue>& values) {
    std::vector<KeychainChange> changes;
    changes.reserve(values.size());
    for (const auto& v : values) changes.push_back({std::string(service), v.account, v.secret});
    return setGenericPasswords(changes);
}

int Keychain::setGenericPasswords(const std::vector<KeychainChange>& changes) {
    std::set<std::pair<std::string_view, std::string_view>> pairs;
    for (const auto& c : changes) {
        if (!validKeys(c.service, c.account) || (c.secret && c.secret->size() > kMaxSecretLength) ||
            !pairs.insert({c.service, c.account}).second)
            return kStatusParam;
    }
    return withStore(true, [&](Store& s, bool& changed) {
        int64_t now = nowMillis();
        for (const auto& c : changes) {
            auto it = s.items.begin();
            while (it != s.items.end() && !(it->service == c.service && it->account == c.account)) ++it;
            if (!c.secret) {
                if (it == s.items.end()) continue;
                OPENSSL_cleanse(it->secret.data(), it->secret.size());
                s.items.erase(it);
            } else if (it != s.items.end()) {
                OPENSSL_cleanse(it->secret.data(), it->secret.size());
                it->secret.assign(*c.secret);
                it->modified = now;
            } else {
                // Refused whole: the changes made so far stay in memory only.
                if (s.items.size() >= kMaxItems) return kStatusAllocate;
                s.items.push_back(Item{c.service, c.account, *c.secret, now, now});
            }
            changed = true;
        }
        return kStatusSuccess;
    });
}

int Keychain::listGenericPasswords(std::optional<std::string_view> service,
                                   std::vector<KeychainItemAttributes>* out) const {
    if (service && service->size() > kMaxKeyLength) return kStatusParam;
    return withStore(false, [&](Store& s, bool&) {
        std::vector<KeychainItemAttributes> found;
        for (const auto& item : s.items) {
            if (service && item.service != *service) continue;
            found.push_back({item.service, item.account, item.created / 1000.0, item.modified / 1000.0});
        }
        if (found.empty()) return kStatusItemNotFound;
        if (out) *out = std::move(found);
        return kStatusSuccess;
    });
}

std::vector<std::string> Keychain::corruptFilesMovedAside() const {
    std::lock_guard<std::mutex> g(storeMutex());
    return movedAside_;
}

int Keychain::discardFilesMovedAside(std::vector<std::string>* remaining) {
    std::lock_guard<std::mutex> g(storeMutex());
    std::string folder = folderOf(path_);
    std::string prefix = path_.substr(path_.rfind('/') + 1) + ".corrupt-";
    std::vector<std::string> kept;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        if (errno == ENOENT) return kStatusSuccess;  // nothing was ever stored
        logLine(ns::format("cannot look for copies set aside in %s: %s", folder, std::strerror(errno)));
        return kStatusIO;
    }
    // No load may set a file aside meanwhile: the lock every user of the
    // file takes is held while the folder is read.
    FileLock lock(path_);
    std::vector<std::string> found;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0)
            found.push_back(folder + "/" + name);
    }
    ::closedir(dir);
    for (const std::string& file : found) {
        struct stat st{};
        if (::lstat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        bool emptied = overwriteWithZeros(file);
        int emptyError = errno;
        bool deleted = ::unlink(file.c_str()) == 0;
        int deleteError = errno;
        if (deleted) {
            movedAside_.erase(std::remove(movedAside_.begin(), movedAside_.end(), file), movedAside_.end());
            addEvent(KeychainSetAsideEvent::Kind::Deleted, path_, file);
            logLine(ns::format("deleted %s, set aside as damaged", file));
        } else if (emptied) {
            addEvent(KeychainSetAsideEvent::Kind::EmptiedNotDeleted, path_, file);
            logLine(ns::format("emptied %s, set aside as damaged, but could not delete it (%s)", file,
                               std::strerror(deleteError)));
        } else {
            logLine(ns::format("%s, set aside as damaged, could be neither emptied (%s) nor deleted (%s)", file,
                               std::strerror(emptyError), std::strerror(deleteError)));
            kept.push_back(file);
        }
    }
    if (remaining) *remaining = kept;
    return kept.empty() ? kStatusSuccess : kStatusIO;
}

}  // namespace sec
