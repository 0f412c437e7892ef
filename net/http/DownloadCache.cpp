#include "net/http/DownloadCache.h"

#include <openssl/evp.h>

#include <cstdio>
#include <ctime>
#include <filesystem>

#include "platform/foundation/Exception.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"
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

[[noreturn]] void raise(const char* name, const char* format, const std::string& path) {
    std::string reason = format;
    size_t p = reason.find("%@");
    if (p != std::string::npos) reason.replace(p, 2, path);
    throw ns::Exception(name, reason);
}

}  // namespace

DownloadCache::DownloadCache() { setDefaultCachePolicy(0); }

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
    if (m < 0 || day < 1 || day > 31 || hh > 23 || mm > 59 || ss > 60 || year < 1601) return nullptr;
    std::string z = lower(zone);
    long offset = 0;
    if (z == "gmt" || z == "utc" || z == "ut" || z == "z") offset = 0;
    else if ((z[0] == '+' || z[0] == '-') && z.size() == 5 && z.find_first_not_of("0123456789", 1) == std::string::npos) {
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
    if (!storagePath_.empty()) clearCachedResponsesForStoragePolicy(kCacheForSessionDurationCacheStoragePolicy);
    storagePath_ = path;
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
    clearCachedResponsesForStoragePolicy(kCacheForSessionDurationCacheStoragePolicy);
}

std::string DownloadCache::storeFolderFor(int storagePolicy) {
    return ns::Paths::join(storagePath_, storagePolicy == kCacheForSessionDurationCacheStoragePolicy ? kSessionStore
                                                                                                      : kPermanentStore);
}

void DownloadCache::clearCachedResponsesForStoragePolicy(int storagePolicy) {
    std::lock_guard<std::recursive_mutex> g(accessLock_);
    if (storagePath_.empty()) return;
    std::string folder = storeFolderFor(storagePolicy);
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
    std::string key = keyForURL(url);
    return key.empty() ? std::string() : pathToFile(key + ".cachedheaders");
}

std::string DownloadCache::pathToCachedResponseDataForURL(const ns::URL& url) { return pathToFile(bodyFileName(url)); }

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

// ---- Reading and writing -----------------------------------------------------------

ns::Ref<ns::Dictionary> DownloadCache::cachedResponseHeadersForURL(const ns::URL& url) {
    std::lock_guard<std::recursive_mutex> g(accessLock_);
    std::string path = pathToCachedResponseHeadersForURL(url);
    if (path.empty()) return nullptr;
    return ns::dictionaryWithContentsOfFile(path);  // unreadable counts as missing
}

ns::Ref<ns::Data> DownloadCache::cachedResponseDataForURL(const ns::URL& url) {
    std::lock_guard<std::recursive_mutex> g(accessLock_);
    std::string path = pathToCachedResponseDataForURL(url);
    if (path.empty()) return nullptr;
    auto bytes = ns::readFile(path, nullptr, kMaxCachedBodyBytes);
    if (!bytes) return nullptr;
    return ns::Data::make(*bytes);
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

    auto copy = headers->mutableCopy();
    if (request.isResponseCompressed()) {
        // The body stored is the inflated one.
        for (size_t i = 0; i < copy->count(); ++i)
            if (auto* k = ns::as<ns::String>(copy->keyAtIndex(i)); k && lower(std::string(k->utf8())) == "content-encoding") {
                copy->removeObjectForKey(k->utf8());
                break;
            }
    }
    if (auto expiry = expiryDateForRequest(request, maxAge))
        copy->setObject(ns::Number::numberWithDouble(expiry->timeIntervalSince1970()), kExpiresKey);
    copy->setObject(ns::Number::numberWithInt(status == 304 ? 200 : status), kStatusCodeKey);
    // Written whole through a temporary file, so a reader never sees half
    // a headers file; errors are ignored (the cache is best effort).
    ns::PropertyList::writeToFile(*copy, headersPath, true, nullptr, ns::PropertyListFormat::XML, kFileMode);

    // A not-modified answer carries no body: the stored one stays.
    if (status == 304) return;
    if (auto data = request.responseData()) {
        ns::writeFileAtomically(dataPath, data->view(), nullptr, kFileMode);
    } else {
        std::string download = request.downloadDestinationPath();
        if (!download.empty() && download != dataPath) {
            // Copied under a temporary name (inside the owner's folder),
            // made the owner's alone, then moved into place.
            std::error_code ec;
            std::string staging = dataPath + ".copying";
            fs::remove(staging, ec);
            if (fs::copy_file(download, staging, fs::copy_options::overwrite_existing, ec)) {
                fs::permissions(staging, fs::perms::owner_read | fs::perms::owner_write, ec);
                if (!ec) fs::rename(staging, dataPath, ec);
            }
            if (ec) fs::remove(staging, ec);
        }
    }
}

void DownloadCache::updateExpiryForRequest(const CacheRequest& request, double maxAge) {
    auto url = request.url();
    if (!url) return;
    std::lock_guard<std::recursive_mutex> g(accessLock_);
    std::string path = pathToCachedResponseHeadersForURL(*url);
    if (path.empty()) return;
    auto headers = ns::mutableDictionaryWithContentsOfFile(path);
    auto expiry = expiryDateForRequest(request, maxAge);
    if (!headers || !expiry) return;
    headers->setObject(ns::Number::numberWithDouble(expiry->timeIntervalSince1970()), kExpiresKey);
    ns::PropertyList::writeToFile(*headers, path, true, nullptr, ns::PropertyListFormat::XML, kFileMode);
}

void DownloadCache::removeCachedDataForURL(const ns::URL& url) {
    std::lock_guard<std::recursive_mutex> g(accessLock_);
    std::error_code ec;
    for (const std::string& p : {pathToCachedResponseHeadersForURL(url), pathToCachedResponseDataForURL(url)})
        if (!p.empty()) fs::remove(p, ec);
}

void DownloadCache::removeCachedDataForRequest(const CacheRequest& request) {
    if (auto url = request.url()) removeCachedDataForURL(*url);
}

bool DownloadCache::isCachedDataCurrentForRequest(const CacheRequest& request) {
    std::lock_guard<std::recursive_mutex> g(accessLock_);
    auto url = request.url();
    if (storagePath_.empty() || !url) return false;
    auto cached = cachedResponseHeadersForURL(*url);
    if (!cached || pathToCachedResponseDataForURL(*url).empty()) return false;
    if (request.responseStatusCode() == 304) return true;
    auto headers = request.responseHeaders();
    if (headers && request.complete()) {
        for (const char* name : {"Etag", "Last-Modified"}) {
            if (!hasHeader(headers.get(), name) || headerValue(headers.get(), name) != headerValue(cached.get(), name))
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
    if (!cachedResponseHeadersForURL(*url) || pathToCachedResponseDataForURL(*url).empty()) return false;
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
