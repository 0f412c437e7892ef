#include "sharing/oauth/OAuth.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>
#include <utility>
#include <vector>

#include "platform/foundation/Format.h"
#include "platform/foundation/PercentEncoding.h"
#include "platform/foundation/SecretMasking.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/network/NetworkErrors.h"
#include "platform/network/Origin.h"
#include "platform/security/Base64.h"
#include "platform/security/Digest.h"
#include "platform/security/Random.h"

namespace sharing {

namespace {
std::vector<std::string_view> split(std::string_view text, char sep) {
    std::vector<std::string_view> out;
    size_t start = 0;
    while (true) {
        size_t pos = text.find(sep, start);
        if (pos == std::string_view::npos) { out.push_back(text.substr(start)); break; }
        out.push_back(text.substr(start, pos - start));
        start = pos + 1;
    }
    return out;
}

// A form pair splits at its first "=": the value keeps any later one (a
// Base64 secret ends in "="). A piece without "=" is a name with no value.
std::pair<std::string_view, std::optional<std::string_view>> nameAndValue(std::string_view piece) {
    size_t eq = piece.find('=');
    if (eq == std::string_view::npos) return {piece, std::nullopt};
    return {piece.substr(0, eq), piece.substr(eq + 1)};
}
}  // namespace

std::string OAURLEncodedString(std::string_view text) { return ns::percentEncodeUnreserved(text); }

std::string OAURLDecodedString(std::string_view text) {
    auto d = ns::removePercentEncoding(text);
    return d ? *d : std::string(text);
}

std::string OAURLStringWithoutQuery(const ns::URL& url) {
    const std::string& s = url.absoluteText();
    return s.substr(0, s.find('?'));
}

// -- Tokens ----------------------------------------------------------------------

ns::Ref<OAToken> OAToken::initWithHTTPResponseBody(std::string_view body) {
    auto t = ns::make<OAToken>();
    t->key_ = nullptr;
    t->secret_ = nullptr;
    t->sessionHandle_ = nullptr;
    for (std::string_view piece : split(body, '&')) {
        auto [name, raw] = nameAndValue(piece);
        std::string value;
        if (raw) {
            auto bytes = ns::percentDecodeBytes(*raw);
            value = bytes ? *bytes : std::string(*raw);  // malformed escapes: as it stands
        }
        // A value that is not UTF-8 text once decoded is left out.
        ns::Ref<ns::String> text = ns::String::fromBytes(value.data(), value.size());
        if (name == "oauth_token") t->key_ = text;
        else if (name == "oauth_token_secret") t->secret_ = text;
        else if (name == "oauth_session_handle") t->sessionHandle_ = text;
    }
    return t;
}

ns::Ref<OAToken> OAToken::initWithUserDefaultsUsingServiceProviderName(std::string_view provider,
                                                                      std::string_view prefix) {
    auto defaults = ns::UserDefaults::standardUserDefaults();
    auto key = defaults->stringForKey(ns::format("OAUTH_%@_%@_KEY", prefix, provider));
    auto secret = defaults->stringForKey(ns::format("OAUTH_%@_%@_SECRET", prefix, provider));
    if (!key || !secret) return nullptr;
    return ns::make<OAToken>(std::string(key->utf8()), std::string(secret->utf8()));
}

bool OAToken::storeInUserDefaultsWithServiceProviderName(std::string_view provider, std::string_view prefix) const {
    auto defaults = ns::UserDefaults::standardUserDefaults();
    defaults->setObjectForKey(key_, ns::format("OAUTH_%@_%@_KEY", prefix, provider));
    defaults->setObjectForKey(secret_, ns::format("OAUTH_%@_%@_SECRET", prefix, provider));
    defaults->synchronize();
    return false;
}

// -- Signatures --------------------------------------------------------------------

bool OABase64EncodeData(const uint8_t* bytes, size_t length, char* out, size_t* outSize) {
    if (!outSize) return false;
    size_t chars = (length + 2) / 3 * 4;
    size_t needed = chars + (chars / 72) * 2;
    if (*outSize < needed) return false;
    std::string text = sec::base64Encode(std::string_view(reinterpret_cast<const char*>(bytes), length), 72,
                                         sec::LineBreaks::AfterEveryFullLine);
    std::copy(text.begin(), text.end(), out);
    *outSize = needed;
    return true;
}

std::string OAHMAC_SHA1SignatureProvider::signClearTextWithSecret(std::string_view text, std::string_view secret) const {
    std::string digest = sec::hmacSHA1(secret, text);
    char buffer[32];
    size_t size = sizeof buffer;
    if (!OABase64EncodeData(reinterpret_cast<const uint8_t*>(digest.data()), digest.size(), buffer, &size)) return {};
    return std::string(buffer, size);
}

// -- Parameters -----------------------------------------------------------------------

ns::Ref<ns::Array> OARequestParameters(const net::URLRequest& request) {
    std::string text;
    const std::string& method = request.HTTPMethod();
    if (method == "GET" || method == "DELETE") {
        if (!request.URL()) return nullptr;
        auto q = request.URL()->query();
        if (!q) return nullptr;
        text = q->utf8();
    } else {
        if (!request.HTTPBody()) return nullptr;
        auto body = request.HTTPBody()->view();
        for (unsigned char c : body)
            if (c >= 0x80) return nullptr;
        text = std::string(body);
    }
    if (text.empty()) return nullptr;
    auto out = ns::MutableArray::make();
    for (std::string_view piece : split(text, '&')) {
        auto [name, value] = nameAndValue(piece);
        out->addObject(OARequestParameter::requestParameterWithName(OAURLDecodedString(name),
                                                                    value ? OAURLDecodedString(*value) : std::string()));
    }
    return out;
}

void OASetRequestParameters(net::URLRequest& request, const ns::Array* parameters) {
    std::string joined;
    if (parameters) {
        for (ns::Object* o : *parameters) {
            auto* p = ns::as<OARequestParameter>(o);
            if (!p) continue;
            if (!joined.empty()) joined += '&';
            joined += p->URLEncodedNameValuePair();
        }
    }
    const std::string& method = request.HTTPMethod();
    if (method == "GET" || method == "DELETE") {
        if (!request.URL()) return;
        request.setURL(ns::URL::URLWithString(OAURLStringWithoutQuery(*request.URL()) + "?" + joined));
    } else {
        request.setHTTPBody(ns::Data::make(joined));
        request.setValueForHTTPHeaderField(std::to_string(joined.size()), "Content-Length");
        request.setValueForHTTPHeaderField("application/x-www-form-urlencoded", "Content-Type");
    }
}

// -- Signed request ---------------------------------------------------------------------

ns::Ref<OAMutableURLRequest> OAMutableURLRequest::make(ns::Ref<ns::URL> url, ns::Ref<OAConsumer> consumer,
                                                       ns::Ref<OAToken> token, ns::Ref<ns::String> realm,
                                                       ns::Ref<ns::Object> signatureProvider, std::string nonce,
                                                       std::string timestamp) {
    auto r = ns::make<OAMutableURLRequest>();
    r->setUp(std::move(url), std::move(consumer), std::move(token), std::move(realm), std::move(signatureProvider),
             std::move(nonce), std::move(timestamp));
    return r;
}

void OAMutableURLRequest::setUp(ns::Ref<ns::URL> url, ns::Ref<OAConsumer> consumer, ns::Ref<OAToken> token,
                                ns::Ref<ns::String> realm, ns::Ref<ns::Object> signatureProvider, std::string nonce,
                                std::string timestamp) {
    setURL(std::move(url));
    setCachePolicy(net::kURLRequestReloadIgnoringLocalCacheData);
    setTimeoutInterval(10);
    consumer_ = std::move(consumer);
    token_ = token ? std::move(token) : ns::make<OAToken>();
    realm_ = realm ? realm->utf8() : std::string();
    if (!signatureProvider || !dynamic_cast<OASignatureProviding*>(signatureProvider.get()))
        signatureProvider = ns::make<OAHMAC_SHA1SignatureProvider>();
    signatureProvider_ = std::move(signatureProvider);
    timestamp_ = timestamp.empty() ? _generateTimestamp() : std::move(timestamp);
    nonce_ = nonce.empty() ? _generateNonce() : std::move(nonce);
}

OASignatureProviding* OAMutableURLRequest::provider() const {
    return dynamic_cast<OASignatureProviding*>(signatureProvider_.get());
}

std::string OAMutableURLRequest::_generateTimestamp() { return std::to_string(static_cast<long long>(std::time(nullptr))); }

std::string OAMutableURLRequest::_generateNonce() { return sec::uuidString(); }

void OAMutableURLRequest::setOAuthParameterNameWithValue(std::string_view name, std::string_view value) {
    if (name.empty()) return;
    if (!extraOAuthParameters_) extraOAuthParameters_ = ns::MutableDictionary::make();
    extraOAuthParameters_->setObject(ns::str(value), name);
}

std::string OAMutableURLRequest::normalizedParameters(std::string_view callback) const {
    std::vector<std::string> pairs;
    auto pair = [](std::string_view n, std::string_view v) { return OAURLEncodedString(n) + "=" + OAURLEncodedString(v); };
    if (!callback.empty()) pairs.push_back(pair("oauth_callback", callback));
    pairs.push_back(pair(kConsumerKeyParameter, consumer_ ? consumer_->key() : std::string()));
    pairs.push_back(pair("oauth_signature_method", provider()->name()));
    pairs.push_back(pair("oauth_timestamp", timestamp_));
    pairs.push_back(pair("oauth_nonce", nonce_));
    pairs.push_back(pair("oauth_version", "1.0"));
    std::string tokenKey = token_->keyText();
    if (!tokenKey.empty()) pairs.push_back(pair("oauth_token", tokenKey));
    for (auto& [n, v] : sortedExtraOAuthParameters()) pairs.push_back(pair(n, v));
    auto contentType = valueForHTTPHeaderField("Content-Type");
    if (!contentType || contentType->rfind("multipart/form-data", 0) != 0) {
        if (auto params = parameters())
            for (ns::Object* o : *params) pairs.push_back(static_cast<OARequestParameter*>(o)->URLEncodedNameValuePair());
    }
    std::sort(pairs.begin(), pairs.end());
    std::string joined;
    for (size_t i = 0; i < pairs.size(); ++i) {
        if (i) joined += '&';
        joined += pairs[i];
    }
    return joined;
}

std::string OAMutableURLRequest::signatureBaseStringFor(std::string_view normalized) const {
    std::string urlText = URL() ? OAURLStringWithoutQuery(*URL()) : std::string();
    return HTTPMethod() + "&" + OAURLEncodedString(urlText) + "&" + OAURLEncodedString(normalized);
}

std::string OAMutableURLRequest::_signatureBaseString() const {
    std::string joined = normalizedParameters({});
    // The pairs hold the token, and an xAuth login its password: masked.
    std::fprintf(stderr, "OAMutableURLRequest parameters %s\n", ns::maskSecretsInParameters(joined).c_str());
    return signatureBaseStringFor(joined);
}

std::vector<std::pair<std::string, std::string>> OAMutableURLRequest::sortedExtraOAuthParameters() const {
    std::vector<std::pair<std::string, std::string>> items;
    if (extraOAuthParameters_)
        for (size_t i = 0; i < extraOAuthParameters_->count(); ++i)
            items.emplace_back(ns::describe(extraOAuthParameters_->keyAtIndex(i)),
                               ns::describe(extraOAuthParameters_->valueAtIndex(i)));
    std::sort(items.begin(), items.end());
    return items;
}

void OAMutableURLRequest::prepare() { prepareWithCallback({}); }

void OAMutableURLRequest::prepareWithCallback(std::string_view callback) {
    if (didPrepare_) return;
    didPrepare_ = true;
    std::string secret = OAURLEncodedString(consumer_ ? consumer_->secret() : std::string()) + "&" +
                         OAURLEncodedString(token_->secretText());
    signature_ = provider()->signClearTextWithSecret(_signatureBaseString(), secret);
    std::string callbackPart = callback.empty() ? std::string()
                                                : "oauth_callback=\"" + OAURLEncodedString(callback) + "\", ";
    std::string tokenKey = token_->keyText();
    std::string tokenPart = tokenKey.empty() ? std::string() : "oauth_token=\"" + OAURLEncodedString(tokenKey) + "\", ";
    std::string extra;
    for (auto& [n, v] : sortedExtraOAuthParameters())
        extra += ", " + OAURLEncodedString(n) + "=\"" + OAURLEncodedString(v) + "\"";
    std::string header = "OAuth realm=\"" + OAURLEncodedString(realm_) + "\", " + callbackPart + kConsumerKeyParameter +
                         "=\"" + OAURLEncodedString(consumer_ ? consumer_->key() : std::string()) + "\", " + tokenPart +
                         "oauth_signature_method=\"" + OAURLEncodedString(provider()->name()) +
                         "\", oauth_signature=\"" + OAURLEncodedString(signature_) + "\", oauth_timestamp=\"" +
                         timestamp_ + "\", oauth_nonce=\"" + nonce_ + "\", oauth_version=\"1.0\"" + extra;
    setValueForHTTPHeaderField(header, "Authorization");
}

// -- Tickets and fetchers -------------------------------------------------------------------

ns::Ref<ns::String> OAServiceTicket::body() const {
    if (!data_) return nullptr;
    return ns::String::fromBytes(data_->bytes(), data_->length());
}

class OAAsynchronousDataFetcher::Receiver : public net::URLConnectionDelegate {
public:
    explicit Receiver(OAAsynchronousDataFetcher* f) : fetcher_(f) {}
    ns::Ref<net::URLRequest> connectionWillSendRequest(net::URLConnection& c, net::URLRequest& next,
                                                       const net::HTTPURLResponse* redirect) override {
        const auto& from = fetcher_->request_->URL();
        if (redirect && fetcher_->sameOriginOnly_ && !(from && next.URL() && net::isSameOrigin(*from, *next.URL()))) {
            redirectRefused_ = true;  // the redirect answer ends the fetch, as a failure
            return nullptr;
        }
        return URLConnectionDelegate::connectionWillSendRequest(c, next, redirect);
    }
    void connectionDidReceiveResponse(net::URLConnection&, const net::HTTPURLResponse& response) override {
        response_ = ns::Ref<net::HTTPURLResponse>(const_cast<net::HTTPURLResponse*>(&response));
        data_ = ns::MutableData::make();
    }
    void connectionDidReceiveData(net::URLConnection&, const ns::Data& data) override { data_->appendData(data); }
    void connectionDidFinishLoading(net::URLConnection&) override {
        if (redirectRefused_)
            fetcher_->failed(response_, net::makeError(net::kNetworkErrorDomain, net::kErrorBadServerResponse,
                                                       "The service sent the login to another address."));
        else
            fetcher_->finished(response_, data_);
    }
    void connectionDidFailWithError(net::URLConnection&, const ns::Error& error) override {
        fetcher_->failed(response_, ns::Ref<ns::Error>(const_cast<ns::Error*>(&error)));
    }

private:
    ns::Ref<OAAsynchronousDataFetcher> fetcher_;  // kept while the connection runs
    ns::Ref<net::HTTPURLResponse> response_;
    ns::Ref<ns::MutableData> data_ = ns::MutableData::make();
    bool redirectRefused_ = false;
};

ns::Ref<OAAsynchronousDataFetcher> OAAsynchronousDataFetcher::asynchronousFetcherWithRequest(
    ns::Ref<OAMutableURLRequest> request, ns::Ref<ns::Object> delegate, FinishSelector didFinish, FailSelector didFail) {
    auto f = ns::make<OAAsynchronousDataFetcher>();
    f->request_ = std::move(request);
    f->delegate_ = std::move(delegate);
    f->didFinish_ = std::move(didFinish);
    f->didFail_ = std::move(didFail);
    return f;
}

void OAAsynchronousDataFetcher::start() {
    if (!request_) return;
    request_->prepare();
    connection_ = net::URLConnection::connectionWithRequest(request_, ns::make<Receiver>(this));
    if (!connection_) failed(nullptr, nullptr);
}

void OAAsynchronousDataFetcher::cancel() {
    if (connection_) connection_->cancel();
    connection_ = nullptr;
    delegate_ = nullptr;
    didFinish_ = nullptr;
    didFail_ = nullptr;
}

void OAAsynchronousDataFetcher::finished(ns::Ref<net::HTTPURLResponse> response, ns::Ref<ns::Data> data) {
    auto keep = ns::keepAlive(this);
    bool ok = response && response->statusCode() < 400;
    auto ticket = ns::make<OAServiceTicket>(request_, response, nullptr, ok);
    auto cb = std::move(didFinish_);
    ns::Ref<ns::Object> delegate = std::move(delegate_);
    connection_ = nullptr;
    didFail_ = nullptr;
    if (cb) cb(ticket.get(), data.get());
}

void OAAsynchronousDataFetcher::failed(ns::Ref<net::HTTPURLResponse> response, ns::Ref<ns::Error> error) {
    auto keep = ns::keepAlive(this);
    auto ticket = ns::make<OAServiceTicket>(request_, response, nullptr, false);
    auto cb = std::move(didFail_);
    ns::Ref<ns::Object> delegate = std::move(delegate_);
    connection_ = nullptr;
    didFinish_ = nullptr;
    if (cb) cb(ticket.get(), error.get());
}

void OADataFetcher::fetchDataWithRequest(ns::Ref<OAMutableURLRequest> request,
                                         OAAsynchronousDataFetcher::FinishSelector didFinish,
                                         OAAsynchronousDataFetcher::FailSelector didFail) {
    request->prepare();
    ns::Ref<net::HTTPURLResponse> response;
    ns::Ref<ns::Error> error;
    auto data = net::URLConnection::sendSynchronousRequest(*request, &response, &error);
    if (response && data && !error) {
        auto ticket = ns::make<OAServiceTicket>(request, response, nullptr, response->statusCode() < 400);
        if (didFinish) didFinish(ticket.get(), data.get());
    } else {
        auto ticket = ns::make<OAServiceTicket>(request, response, nullptr, false);
        if (didFail) didFail(ticket.get(), error.get());
    }
}

}  // namespace sharing
