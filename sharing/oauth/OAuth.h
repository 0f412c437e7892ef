// OAuth 1.0 request signing (HMAC-SHA1 or PLAINTEXT) and the fetchers that
// send signed requests. A request is signed once, by prepare(), which sets
// its Authorization header; later changes do not re-sign it.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/Foundation.h"
#include "platform/network/URLConnection.h"

namespace sharing {

class OAConsumer : public ns::Object {
public:
    OAConsumer(std::string key, std::string secret) : key_(std::move(key)), secret_(std::move(secret)) {}
    const char* className() const override { return "OAConsumer"; }
    const std::string& key() const { return key_; }
    const std::string& secret() const { return secret_; }

private:
    std::string key_, secret_;
};

class OAToken : public ns::Object {
public:
    // Key and secret empty, no session handle.
    OAToken() : key_(ns::str("")), secret_(ns::str("")), sessionHandle_(ns::str("")) {}
    OAToken(std::string key, std::string secret) : key_(ns::str(key)), secret_(ns::str(secret)) {}
    const char* className() const override { return "OAToken"; }
    // Parses "oauth_token=..&oauth_token_secret=..&oauth_session_handle=..";
    // other names are ignored, fields not named stay nil.
    static ns::Ref<OAToken> initWithHTTPResponseBody(std::string_view body);
    // From the user defaults "OAUTH_<prefix>_<provider>_KEY" / "_SECRET"; nil unless both exist.
    static ns::Ref<OAToken> initWithUserDefaultsUsingServiceProviderName(std::string_view provider, std::string_view prefix);
    bool storeInUserDefaultsWithServiceProviderName(std::string_view provider, std::string_view prefix) const;

    const ns::Ref<ns::String>& key() const { return key_; }
    void setKey(ns::Ref<ns::String> k) { key_ = std::move(k); }
    const ns::Ref<ns::String>& secret() const { return secret_; }
    void setSecret(ns::Ref<ns::String> s) { secret_ = std::move(s); }
    const ns::Ref<ns::String>& sessionHandle() const { return sessionHandle_; }
    void setSessionHandle(ns::Ref<ns::String> s) { sessionHandle_ = std::move(s); }
    std::string keyText() const { return key_ ? std::string(key_->utf8()) : std::string(); }
    std::string secretText() const { return secret_ ? std::string(secret_->utf8()) : std::string(); }

private:
    ns::Ref<ns::String> key_, secret_, sessionHandle_;
};

// Percent-encoding of OAuth: everything but letters, digits, "-", ".", "_", "~".
std::string OAURLEncodedString(std::string_view text);

// The consumer key's parameter name, kept in one place for every signer.
inline const std::string kConsumerKeyParameter = std::string("oauth_") +
                                                 "consumer_key";
// Replaces every percent escape; the text unchanged when an escape is malformed.
std::string OAURLDecodedString(std::string_view text);
// The absolute string up to the first "?".
std::string OAURLStringWithoutQuery(const ns::URL& url);

class OARequestParameter : public ns::Object {
public:
    OARequestParameter(std::string name, std::string value) : name_(std::move(name)), value_(std::move(value)) {}
    static ns::Ref<OARequestParameter> requestParameterWithName(std::string name, std::string value) {
        return ns::make<OARequestParameter>(std::move(name), std::move(value));
    }
    const char* className() const override { return "OARequestParameter"; }
    const std::string& name() const { return name_; }
    const std::string& value() const { return value_; }
    std::string URLEncodedName() const { return OAURLEncodedString(name_); }
    std::string URLEncodedValue() const { return OAURLEncodedString(value_); }
    std::string URLEncodedNameValuePair() const { return URLEncodedName() + "=" + URLEncodedValue(); }

private:
    std::string name_, value_;
};

class OASignatureProviding {
public:
    virtual ~OASignatureProviding() = default;
    virtual std::string name() const = 0;
    virtual std::string signClearTextWithSecret(std::string_view text, std::string_view secret) const = 0;
};

class OAHMAC_SHA1SignatureProvider : public ns::Object, public OASignatureProviding {
public:
    const char* className() const override { return "OAHMAC_SHA1SignatureProvider"; }
    std::string name() const override { return "HMAC-SHA1"; }
    std::string signClearTextWithSecret(std::string_view text, std::string_view secret) const override;
};

class OAPlaintextSignatureProvider : public ns::Object, public OASignatureProviding {
public:
    const char* className() const override { return "OAPlaintextSignatureProvider"; }
    std::string name() const override { return "PLAINTEXT"; }
    std::string signClearTextWithSecret(std::string_view, std::string_view secret) const override {
        return std::string(secret);
    }
};

// Base64 with a CR LF after every 72 characters. *outSize is the room in
// `out` on entry; false (nothing written) when it is too small; otherwise the
// needed size is stored and true returned.
bool OABase64EncodeData(const uint8_t* bytes, size_t length, char* out, size_t* outSize);

// Form parameters of a request: the query for GET and DELETE, the body
// (ASCII) otherwise.
ns::Ref<ns::Array> OARequestParameters(const net::URLRequest& request);
void OASetRequestParameters(net::URLRequest& request, const ns::Array* parameters);

class OAMutableURLRequest : public net::URLRequest {
public:
    // nil token: an empty token; nil realm: ""; nil provider: HMAC-SHA1.
    // Timestamp and nonce are generated unless given.
    static ns::Ref<OAMutableURLRequest> make(ns::Ref<ns::URL> url, ns::Ref<OAConsumer> consumer,
                                             ns::Ref<OAToken> token, ns::Ref<ns::String> realm,
                                             ns::Ref<ns::Object> signatureProvider,
                                             std::string nonce = {}, std::string timestamp = {});
    const char* className() const override { return "OAMutableURLRequest"; }

    void setOAuthParameterNameWithValue(std::string_view name, std::string_view value);
    // Signs once and sets the Authorization header. Virtual so that a
    // service's request class can add OAuth fields of its own.
    virtual void prepare();
    virtual std::string _signatureBaseString() const;
    static std::string _generateTimestamp();
    static std::string _generateNonce();

    const std::string& signature() const { return signature_; }
    const std::string& nonce() const { return nonce_; }
    const std::string& timestamp() const { return timestamp_; }
    bool didPrepare() const { return didPrepare_; }
    const ns::Ref<OAConsumer>& consumer() const { return consumer_; }
    const ns::Ref<OAToken>& token() const { return token_; }
    ns::Ref<ns::Array> parameters() const { return OARequestParameters(*this); }
    void setParameters(const ns::Array* p) { OASetRequestParameters(*this, p); }

protected:
    // What make() sets; for subclasses that have their own factory.
    void setUp(ns::Ref<ns::URL> url, ns::Ref<OAConsumer> consumer, ns::Ref<OAToken> token, ns::Ref<ns::String> realm,
               ns::Ref<ns::Object> signatureProvider, std::string nonce, std::string timestamp);
    OASignatureProviding* provider() const;
    // prepare() for a request that also signs and sends `callback` as
    // "oauth_callback" (nothing when empty).
    void prepareWithCallback(std::string_view callback);
    // The OAuth fields (with the callback when not empty), the extra OAuth
    // fields and the form parameters (none for a multipart body) as sorted
    // "name=value" pairs, each side percent-encoded, joined by "&".
    std::string normalizedParameters(std::string_view callback) const;
    // "METHOD&URL&parameters", the URL without its query, each part encoded.
    std::string signatureBaseStringFor(std::string_view normalizedParameters) const;

private:
    std::vector<std::pair<std::string, std::string>> sortedExtraOAuthParameters() const;

    ns::Ref<OAConsumer> consumer_;
    ns::Ref<OAToken> token_;
    std::string realm_;
    std::string signature_;
    ns::Ref<ns::Object> signatureProvider_;
    std::string nonce_, timestamp_;
    ns::Ref<ns::MutableDictionary> extraOAuthParameters_;
    bool didPrepare_ = false;
};

class OAServiceTicket : public ns::Object {
public:
    OAServiceTicket(ns::Ref<OAMutableURLRequest> request, ns::Ref<net::HTTPURLResponse> response,
                    ns::Ref<ns::Data> data, bool didSucceed)
        : request_(std::move(request)), response_(std::move(response)), data_(std::move(data)), didSucceed_(didSucceed) {}
    const char* className() const override { return "OAServiceTicket"; }
    OAMutableURLRequest* request() const { return request_.get(); }
    net::HTTPURLResponse* response() const { return response_.get(); }
    ns::Data* data() const { return data_.get(); }
    bool didSucceed() const { return didSucceed_; }
    // The data as UTF-8; nil without data.
    ns::Ref<ns::String> body() const;

private:
    ns::Ref<OAMutableURLRequest> request_;
    ns::Ref<net::HTTPURLResponse> response_;
    ns::Ref<ns::Data> data_;
    bool didSucceed_;
};

// Sends a signed request on the URL connection and reports one ticket to
// the delegate: finish (ticket, data) or fail (ticket, error or nil).
class OAAsynchronousDataFetcher : public ns::Object {
public:
    using FinishSelector = std::function<void(OAServiceTicket*, ns::Data*)>;
    using FailSelector = std::function<void(OAServiceTicket*, ns::Error*)>;
    static ns::Ref<OAAsynchronousDataFetcher> asynchronousFetcherWithRequest(ns::Ref<OAMutableURLRequest> request,
                                                                             ns::Ref<ns::Object> delegate,
                                                                             FinishSelector didFinish,
                                                                             FailSelector didFail);
    // A fetcher that tells `owner`'s member functions while the owner lives
    // (a null one: nobody is told of that outcome), and keeps the owner until
    // it has answered when `finish` is given.
    template <class Owner>
    static ns::Ref<OAAsynchronousDataFetcher> fetcherTelling(Owner* owner, ns::Ref<OAMutableURLRequest> request,
                                                           void (Owner::*finish)(OAServiceTicket*, ns::Data*),
                                                           void (Owner::*fail)(OAServiceTicket*, ns::Error*)) {
        ns::Weak<Owner> self(owner);
        FinishSelector onFinish;
        FailSelector onFail;
        if (finish)
            onFinish = [self, finish](OAServiceTicket* t, ns::Data* d) { if (auto s = self.lock()) ((*s).*finish)(t, d); };
        if (fail)
            onFail = [self, fail](OAServiceTicket* t, ns::Error* e) { if (auto s = self.lock()) ((*s).*fail)(t, e); };
        return asynchronousFetcherWithRequest(std::move(request), finish ? ns::keepAlive(owner) : nullptr,
                                              std::move(onFinish), std::move(onFail));
    }
    const char* className() const override { return "OAAsynchronousDataFetcher"; }
    void start();
    void cancel();
    // For a request that carries a login (a password, a verifier): a
    // redirect to another origin (scheme, host and port) is not followed and
    // the fetch fails. Set before start().
    void setSameOriginOnly(bool b) { sameOriginOnly_ = b; }

private:
    class Receiver;
    friend class Receiver;
    void finished(ns::Ref<net::HTTPURLResponse> response, ns::Ref<ns::Data> data);
    void failed(ns::Ref<net::HTTPURLResponse> response, ns::Ref<ns::Error> error);
    ns::Ref<OAMutableURLRequest> request_;
    ns::Ref<ns::Object> delegate_;
    FinishSelector didFinish_;
    FailSelector didFail_;
    ns::Ref<net::URLConnection> connection_;
    bool sameOriginOnly_ = false;
};

// The synchronous form (no part of this program uses it).
class OADataFetcher : public ns::Object {
public:
    const char* className() const override { return "OADataFetcher"; }
    void fetchDataWithRequest(ns::Ref<OAMutableURLRequest> request, OAAsynchronousDataFetcher::FinishSelector didFinish,
                              OAAsynchronousDataFetcher::FailSelector didFail);
};

}  // namespace sharing
