// A disk cache of HTTP responses: one headers file (a property list) and
// one body file per URL, in a session store emptied whenever the cache's
// folder is set, and a permanent store kept across launches.
//
// The request engine talks to it through CacheDelegate; the cache reads
// what it needs of a request through CacheRequest (the engine's request
// implements it). Every operation on the folder holds the recursive access
// lock, so the network thread and other threads may use one cache at once.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
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
};

class DownloadCache : public ns::Object, public CacheDelegate {
public:
    const char* className() const override { return "DownloadCache"; }
    DownloadCache();  // init: respects cache-control headers, default policy 4

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

    static constexpr const char* kSessionStore = "SessionStore";
    static constexpr const char* kPermanentStore = "PermanentStore";
    static constexpr const char* kExpiresKey = "X-HTTPRequest-Expires";
    static constexpr const char* kStatusCodeKey = "X-HTTPRequest-Response-Status-Code";
    // Cached bodies larger than this are not read back into memory.
    static constexpr size_t kMaxCachedBodyBytes = 256u << 20;

private:
    static std::string bodyFileName(const ns::URL& url);
    std::string storeFolderFor(int storagePolicy);

    std::recursive_mutex accessLock_;
    std::string storagePath_;
    uint32_t defaultCachePolicy_ = kAskServerIfModifiedWhenStaleCachePolicy;
    bool respectCacheControl_ = true;
};

}  // namespace http
