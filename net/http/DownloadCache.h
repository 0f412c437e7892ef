// A disk cache of HTTP responses: one headers file (a property list) and
// one body file per URL, in a session store emptied whenever the cache's
// folder is set, and a permanent store kept across launches.
//
// A stored response is whole or absent. The headers file records the
// length and SHA-256 digest of its body and is written last: a store writes
// the new body and headers under temporary names, then, holding the cache
// folder's lock file exclusively, puts the new body beside the old one
// (body name + ".incoming"), renames the headers file into place and then
// the new body. A reader holds the lock file shared while it reads a pair,
// takes it only when the body matches what its headers record, and keeps
// the body's file open: no file of a pair is ever written in place, so
// what it reads from that file afterwards is the body it checked. A pair
// that looks wrong is looked at again under the exclusive lock, when no
// store is between its steps: a store that ended after its headers were
// written is finished then, and a pair whose parts do not belong together
// is dropped. A file that cannot be opened for the moment (no descriptor
// left, a permission) makes the entry missing for that call, never
// dropped. Leftovers of killed stores go when the cache's folder is set.
// A folder this process can read but not write is read all the same (its
// lock file opened for reading, or, where there is none, no lock taken);
// what would change it fails, logged.
//
// The request engine talks to it through CacheDelegate; the cache reads
// what it needs of a request through CacheRequest (the engine's request
// implements it). Every operation holds the recursive access lock, so the
// network thread and other threads may use one cache at once; the lock
// file orders them with other processes (and other caches of this one) on
// the same folder.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/foundation/Data.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/URL.h"

namespace http {

// Cache policy bits (a request's own policy, or the cache's default).
enum CachePolicy : uint32_t {
    kUseDefaultCachePolicy = 0,
    kDoNotReadFromCacheCachePolicy = 1,
    kDoNotWriteToCacheCachePolicy = 2,
    kAskServerIfModifiedWhenStaleCachePolicy = 4,
    kAskServerIfModifiedCachePolicy = 8,
    kOnlyLoadIfNotCachedCachePolicy = 16,
    kDontLoadCachePolicy = 32,
    kFallbackToCacheIfLoadFailsCachePolicy = 64,
};

// Storage policy of a request: 0 for the session store, anything else for
// the permanent store.
enum CacheStoragePolicy : int {
    kCacheForSessionDurationCacheStoragePolicy = 0,
    kCachePermanentlyCacheStoragePolicy = 1,
};

// What the cache reads of a request.
class CacheRequest {
public:
    virtual ~CacheRequest() = default;
    virtual ns::Ref<ns::URL> url() const = 0;
    virtual ns::Ref<ns::Error> error() const = 0;
    virtual ns::Ref<ns::Dictionary> responseHeaders() const = 0;  // nil before the answer
    virtual int responseStatusCode() const = 0;
    virtual uint32_t cachePolicy() const = 0;
    virtual int cacheStoragePolicy() const = 0;
    virtual bool complete() const = 0;
    virtual bool isResponseCompressed() const = 0;
    // The (inflated) body held in memory; nil when it went to a file.
    virtual ns::Ref<ns::Data> responseData() const = 0;
    // Where the body was downloaded to; empty when in memory.
    virtual std::string downloadDestinationPath() const = 0;
};

// An open file that closes itself.
class OpenFile {
public:
    OpenFile() = default;
    explicit OpenFile(int fd) : fd_(fd) {}
    ~OpenFile() { reset(); }
    OpenFile(OpenFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    OpenFile& operator=(OpenFile&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    int fd() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

// A stored answer taken as one pair (CacheDelegate::takeCachedResponseForURL).
struct CachedResponse {
    ns::Ref<ns::Dictionary> headers;  // as stored, less what the cache records of the body
    uint64_t bodyLength = 0;
    // The body, when it is at most the size asked for; nil otherwise.
    ns::Ref<ns::Data> body;
    // The body's file, open at its start: the file whose bytes matched the
    // digest the headers record (never written in place).
    OpenFile bodyFile;
};

// The operations the engine uses; any object answering them may serve.
class CacheDelegate {
public:
    virtual ~CacheDelegate() = default;
    virtual uint32_t defaultCachePolicy() = 0;
    virtual void storeResponseForRequest(const CacheRequest& request, double maxAge) = 0;
    virtual void updateExpiryForRequest(const CacheRequest& request, double maxAge) = 0;
    virtual ns::Ref<ns::Date> expiryDateForRequest(const CacheRequest& request, double maxAge) = 0;
    virtual ns::Ref<ns::Dictionary> cachedResponseHeadersForURL(const ns::URL& url) = 0;
    virtual ns::Ref<ns::Data> cachedResponseDataForURL(const ns::URL& url) = 0;
    virtual std::string pathToCachedResponseDataForURL(const ns::URL& url) = 0;
    virtual std::string pathToCachedResponseHeadersForURL(const ns::URL& url) = 0;
    virtual std::string pathToStoreCachedResponseHeadersForRequest(const CacheRequest& request) = 0;
    virtual std::string pathToStoreCachedResponseDataForRequest(const CacheRequest& request) = 0;
    virtual void removeCachedDataForURL(const ns::URL& url) = 0;
    virtual void removeCachedDataForRequest(const CacheRequest& request) = 0;
    virtual bool isCachedDataCurrentForRequest(const CacheRequest& request) = 0;
    virtual bool canUseCachedDataForRequest(const CacheRequest& request) = 0;
    virtual void clearCachedResponsesForStoragePolicy(int storagePolicy) = 0;
    // The stored answer for `url` as one pair: its headers and its body,
    // read into memory when it holds at most `readUpTo` bytes; nullopt when
    // no whole pair can be taken now. This default puts it together from
    // the operations above, for a stand-in that keeps nothing in pieces.
    virtual std::optional<CachedResponse> takeCachedResponseForURL(const ns::URL& url, uint64_t readUpTo);
};

class DownloadCache : public ns::Object, public CacheDelegate {
public:
    const char* className() const override { return "DownloadCache"; }
    DownloadCache();  // init: respects cache-control headers, default policy 4
    ~DownloadCache() override;

    // The process-wide cache in the caches folder + "HTTPRequestCache".
    static ns::Ref<DownloadCache> sharedCache();
    // The extensions served as HTML ("asp", "aspx", "jsp", "php", "rb",
    // "py", "pl", "cgi").
    static const std::vector<std::string>& fileExtensionsToHandleAsHTML();
    // 32 upper-case hex digits of MD5 over the absolute URL less one
    // trailing slash; empty for an empty URL text.
    static std::string keyForURL(const ns::URL& url);
    // NO when "Cache-Control" is exactly no-cache or no-store, or "Pragma"
    // is exactly no-cache (lower-cased).
    static bool serverAllowsResponseCachingForRequest(const CacheRequest& request);
    // The engine's expiry rule: maxAge, else Cache-Control max-age, else
    // Expires (RFC 1123); nil when none.
    static ns::Ref<ns::Date> expiryDateForRequestClassRule(const CacheRequest& request, double maxAge);
    // Reads "Sun, 06 Nov 1994 08:49:37 GMT" and "06 Nov 1994 08:49 GMT";
    // nil when the text is not such a date.
    static ns::Ref<ns::Date> dateFromRFC1123String(const std::string& text);

    // Raises "FileExistsAtCachePath" or "FailedToCreateCacheDirectory".
    void setStoragePath(const std::string& path);
    std::string storagePath();
    uint32_t defaultCachePolicy() override;
    void setDefaultCachePolicy(uint32_t policy);  // 0 stores 4
    bool shouldRespectCacheControlHeaders() const { return respectCacheControl_; }
    void setShouldRespectCacheControlHeaders(bool v) { respectCacheControl_ = v; }
    std::recursive_mutex& accessLock() { return accessLock_; }
    // Receives the cache's log lines (a store that could not be written, a
    // stored pair dropped); URLs in them are masked. Standard error when
    // none is set. Process-wide.
    static void setLogHandler(std::function<void(const std::string&)> handler);

    void storeResponseForRequest(const CacheRequest& request, double maxAge) override;
    void updateExpiryForRequest(const CacheRequest& request, double maxAge) override;
    ns::Ref<ns::Date> expiryDateForRequest(const CacheRequest& request, double maxAge) override;
    ns::Ref<ns::Dictionary> cachedResponseHeadersForURL(const ns::URL& url) override;
    ns::Ref<ns::Data> cachedResponseDataForURL(const ns::URL& url) override;
    std::string pathToCachedResponseDataForURL(const ns::URL& url) override;
    std::string pathToCachedResponseHeadersForURL(const ns::URL& url) override;
    // The file in "SessionStore" if there, else in "PermanentStore" if
    // there, else empty.
    std::string pathToFile(const std::string& file);
    std::string pathToStoreCachedResponseHeadersForRequest(const CacheRequest& request) override;
    std::string pathToStoreCachedResponseDataForRequest(const CacheRequest& request) override;
    void removeCachedDataForURL(const ns::URL& url) override;
    void removeCachedDataForRequest(const CacheRequest& request) override;
    bool isCachedDataCurrentForRequest(const CacheRequest& request) override;
    bool canUseCachedDataForRequest(const CacheRequest& request) override;
    // Raises "FailedToTraverseCacheDirectory" or "FailedToRemoveCacheFile".
    void clearCachedResponsesForStoragePolicy(int storagePolicy) override;
    // One checked pair, the body read from the file its digest was checked
    // on (the session store's first, then the permanent store's).
    std::optional<CachedResponse> takeCachedResponseForURL(const ns::URL& url, uint64_t readUpTo) override;

    static constexpr const char* kSessionStore = "SessionStore";
    static constexpr const char* kPermanentStore = "PermanentStore";
    static constexpr const char* kExpiresKey = "X-HTTPRequest-Expires";
    static constexpr const char* kStatusCodeKey = "X-HTTPRequest-Response-Status-Code";
    // What the headers file records of its body (taken out of the headers
    // the cache answers): its length in bytes and its SHA-256 digest in
    // lower-case hex. A headers file without them is dropped when read.
    static constexpr const char* kBodyLengthKey = "X-HTTPRequest-Body-Length";
    static constexpr const char* kBodyDigestKey = "X-HTTPRequest-Body-SHA256";
    // A new body waits under its file name + this while its headers are written.
    static constexpr const char* kIncomingSuffix = ".incoming";
    // cachedResponseDataForURL answers nil for a body larger than this (the
    // engine reads a body up to its request's own limit instead).
    static constexpr size_t kMaxCachedBodyBytes = 256u << 20;
    // The lock file in the storage folder that orders stores and reads of
    // every process (and every cache object) using the folder.
    static constexpr const char* kLockFileName = ".lock";

private:
    // A checked pair of one store.
    struct Entry {
        std::string headersPath, bodyPath;
        ns::Ref<ns::MutableDictionary> headers;  // as stored, with the body's length and digest
    };
    // What a lookup takes of the body of the pair it finds: the open file,
    // and its bytes when there are at most readUpTo of them.
    struct BodyWanted {
        uint64_t readUpTo = 0;
        ns::Ref<ns::Data> bytes;
        OpenFile file;
    };
    // What a look at a pair found.
    enum class Found {
        Whole,        // headers and a body that matches them
        Absent,       // no headers file
        Unavailable,  // a file could not be opened or read for the moment: missing for now, kept
        Mismatched,   // read, and found not to belong together
    };
    enum class BodyCheck { Matches, DoesNotMatch, Unavailable };
    static std::string bodyFileName(const ns::URL& url);
    std::string storeFolderFor(int storagePolicy);
    // Looks at the pair of `key` in `folder` (the folder lock held). With
    // `mayMend` (the lock held exclusively) a store cut after its headers
    // were written is finished and a mismatched pair is removed; without,
    // both answer Mismatched, to be looked at again under the exclusive lock.
    Found readPair(const std::string& folder, const std::string& key, const std::string& bodyName, bool mayMend,
                   Entry& entry, BodyWanted* want);
    // Whether the file at `path` holds `length` bytes whose digest is
    // `digest`; on a match, `want` takes the open file (and the bytes).
    BodyCheck checkBody(const std::string& path, long long length, const std::string& digest, BodyWanted* want);
    // The checked pair of the URL: the session store's first, then the
    // permanent store's; none when a file of it is unavailable for now.
    std::optional<Entry> entryForURL(const ns::URL& url, BodyWanted* want = nullptr);
    // Finishes or removes what killed stores left in `folder`.
    void clearLeftovers(const std::string& folder);
    // Empties the session store; false (logged) when it cannot be emptied.
    bool emptySessionStore();
    // False while the session store holds answers of an earlier session
    // that could not be removed (a folder that cannot be written).
    bool sessionStoreServed_ = true;

    // The folder lock (the lock file, flock): shared while a pair is read,
    // exclusive while one is changed. A lock file this process may not
    // write is opened for reading (flock needs no more); where there is
    // none and none can be made, pairs are read without it (they are
    // checked anyway) and nothing is changed. Taken with accessLock_ held; nested
    // takes count (a shared take inside an exclusive one is the exclusive
    // one), a shared lock is never turned exclusive in place.
    class FolderLock;
    bool lockFolder(bool exclusive);
    void unlockFolder();
    void closeLockFile();
    int lockFd_ = -1;
    pid_t lockPid_ = 0;  // the process that opened lockFd_ (a forked child opens its own)
    int lockDepth_ = 0;
    bool lockExclusive_ = false;

    // Digests of body files already read, by path, valid while the file's
    // identity, size and change times are those recorded: a cache consulted
    // several times per request reads each body once.
    struct KnownDigest {
        dev_t device;
        ino_t inode;
        off_t size;
        long long modifiedNs, changedNs;
        std::string digest;
    };
    std::unordered_map<std::string, KnownDigest> knownDigests_;

    std::recursive_mutex accessLock_;
    std::string storagePath_;
    uint32_t defaultCachePolicy_ = kAskServerIfModifiedWhenStaleCachePolicy;
    bool respectCacheControl_ = true;
};

}  // namespace http
