#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/security/Base64.h"
#include "platform/security/Digest.h"
#include "sharing/oauth/OAuth.h"

namespace sharing {
namespace {

ns::Ref<OAMutableURLRequest> photosRequest(const char* nonce, const char* timestamp) {
    return OAMutableURLRequest::make(ns::URL::URLWithString("http://photos.example.net/photos?file=vacation.jpg&size=original"),
                                     ns::make<OAConsumer>("dpf43f3p2l4k3l03", "kd94hf93k423kf44"),
                                     ns::make<OAToken>("nnch734d00sl2jdk", "pfkkdhi9sl3r4s00"), nullptr, nullptr,
                                     nonce, timestamp);
}

// The photos example of the OAuth 1.0 protocol documents (with oauth_version).
TEST(OAuthSigning, KnownVectorForASignedGet) {
    auto r = photosRequest("kllo9940pd9333jh", "1191242096");
    EXPECT_EQ(r->_signatureBaseString(),
              "GET&http%3A%2F%2Fphotos.example.net%2Fphotos&file%3Dvacation.jpg%26oauth_"
              "consumer_key%3Ddpf43f3p2l4k3l03"
              "%26oauth_nonce%3Dkllo9940pd9333jh%26oauth_signature_method%3DHMAC-SHA1%26oauth_timestamp%3D1191242096"
              "%26oauth_token%3Dnnch734d00sl2jdk%26oauth_version%3D1.0%26size%3Doriginal");
    r->prepare();
    EXPECT_EQ(r->signature(), "tR3+Ty81lMeYAr/Fid0kMTYa/WM=");
    EXPECT_EQ(*r->valueForHTTPHeaderField("Authorization"),
              "OAuth realm=\"\", oauth_"
              "consumer_key=\"dpf43f3p2l4k3l03\", oauth_token=\"nnch734d00sl2jdk\", "
              "oauth_signature_method=\"HMAC-SHA1\", oauth_signature=\"tR3%2BTy81lMeYAr%2FFid0kMTYa%2FWM%3D\", "
              "oauth_timestamp=\"1191242096\", oauth_nonce=\"kllo9940pd9333jh\", oauth_version=\"1.0\"");
    // Prepared once: later changes do not re-sign.
    std::string first = r->signature();
    r->setHTTPMethod("POST");
    r->prepare();
    EXPECT_EQ(r->signature(), first);
}

// RFC 5849 section 1.2: the signature of its base string (that protocol
// version leaves oauth_version out, which this signer always sends, so only
// the HMAC-SHA1 and Base64 steps are compared here).
TEST(OAuthSigning, Rfc5849Example) {
    OAHMAC_SHA1SignatureProvider p;
    EXPECT_EQ(p.signClearTextWithSecret(
                  "GET&http%3A%2F%2Fphotos.example.net%2Fphotos&file%3Dvacation.jpg%26oauth_"
              "consumer_key%3Ddpf43f3p2l4k3l03"
                  "%26oauth_nonce%3DchapoH%26oauth_signature_method%3DHMAC-SHA1%26oauth_timestamp%3D137131202"
                  "%26oauth_token%3Dnnch734d00sl2jdk%26size%3Doriginal",
                  "kd94hf93k423kf44&pfkkdhi9sl3r4s00"),
              "MdpQcU8iPSUjWoN/UDMsK2sui9I=");
    OAPlaintextSignatureProvider plain;
    EXPECT_EQ(plain.signClearTextWithSecret("anything", "a&b"), "a&b");
}

TEST(OAuthSigning, NoTokenExtraParametersAndBodies) {
    auto r = OAMutableURLRequest::make(ns::URL::URLWithString("https://api.example.com/1/statuses/update.json"),
                                       ns::make<OAConsumer>("ck", "c s"), nullptr, ns::str("Realm"), nullptr, "N", "7");
    // Signed requests are never answered from a cache and wait 10 s at most.
    EXPECT_EQ(r->timeoutInterval(), 10);
    EXPECT_EQ(r->cachePolicy(), net::kURLRequestReloadIgnoringLocalCacheData);
    r->setHTTPMethod("POST");
    r->setHTTPBody(ns::Data::make("status=hello%20world&a1=x&a=y"));
    r->setOAuthParameterNameWithValue("oauth_verifier", "12345");
    r->setOAuthParameterNameWithValue("", "ignored");
    std::string base = r->_signatureBaseString();
    // Whole-text order: "a1=x" sorts before "a=y"; the blank comes back encoded once.
    EXPECT_NE(base.find("a1%3Dx%26a%3Dy%26oauth_"
                        "consumer_key"), std::string::npos) << base;
    EXPECT_NE(base.find("oauth_verifier%3D12345"), std::string::npos);
    EXPECT_NE(base.find("status%3Dhello%2520world"), std::string::npos);
    EXPECT_EQ(base.find("oauth_token"), std::string::npos);
    r->prepare();
    // The key is the encoded consumer secret and a bare "&".
    EXPECT_EQ(r->signature(), sec::base64Encode(sec::hmacSHA1("c%20s&", base)));
    std::string header = *r->valueForHTTPHeaderField("Authorization");
    EXPECT_EQ(header.find("oauth_token"), std::string::npos);
    EXPECT_EQ(header.rfind("OAuth realm=\"Realm\", oauth_"
                           "consumer_key=\"ck\", oauth_signature_method", 0), 0u) << header;
    EXPECT_NE(header.find("oauth_version=\"1.0\", oauth_verifier=\"12345\""), std::string::npos) << header;

    auto multipart = OAMutableURLRequest::make(ns::URL::URLWithString("https://api.example.com/up"),
                                               ns::make<OAConsumer>("ck", "cs"), nullptr, nullptr, nullptr, "N", "7");
    multipart->setHTTPMethod("POST");
    multipart->setValueForHTTPHeaderField("multipart/form-data; boundary=x", "Content-Type");
    multipart->setHTTPBody(ns::Data::make("status=ignored"));
    EXPECT_EQ(multipart->_signatureBaseString().find("status"), std::string::npos);
}

TEST(OAuthSigning, ParametersOfQueryAndBody) {
    auto r = OAMutableURLRequest::make(ns::URL::URLWithString("http://h/p?x=1&y=a%20b&z"), ns::make<OAConsumer>("k", "s"),
                                       nullptr, nullptr, nullptr);
    auto params = r->parameters();
    ASSERT_TRUE(params);
    ASSERT_EQ(params->count(), 3u);
    auto* y = ns::as<OARequestParameter>(params->objectAtIndex(1));
    ASSERT_TRUE(y);
    EXPECT_EQ(y->value(), "a b");
    ASSERT_TRUE(ns::as<OARequestParameter>(params->objectAtIndex(2)));
    EXPECT_EQ(ns::as<OARequestParameter>(params->objectAtIndex(2))->value(), "");
    r->setParameters(ns::Array::make({OARequestParameter::requestParameterWithName("q", "a&b")}).get());
    ASSERT_TRUE(r->URL());
    EXPECT_EQ(r->URL()->absoluteText(), "http://h/p?q=a%26b");
    r->setHTTPMethod("POST");
    r->setParameters(ns::Array::make({OARequestParameter::requestParameterWithName("status", "h\xC3\xA9")}).get());
    EXPECT_EQ(r->HTTPBody()->view(), "status=h%C3%A9");
    EXPECT_EQ(*r->valueForHTTPHeaderField("Content-Length"), "14");
    EXPECT_EQ(*r->valueForHTTPHeaderField("Content-Type"), "application/x-www-form-urlencoded");
    r->setHTTPBody(ns::Data::make("s=\xC3\xA9"));  // not ASCII: no parameters
    EXPECT_FALSE(r->parameters());

    // Where the pairs are read from, by method, and how a pair splits: at its
    // first "=", escapes decoded after the split.
    struct Case {
        const char* name;
        const char* method;
        const char* url;
        const char* body;  // nullptr: none
        std::vector<std::pair<std::string, std::string>> pairs;
    } cases[] = {
        {"GET reads the query", "GET", "http://h/p?a=1", "b=2", {{"a", "1"}}},
        {"DELETE reads the query", "DELETE", "http://h/p?a=1", "b=2", {{"a", "1"}}},
        {"POST reads the body", "POST", "http://h/p?a=1", "b=2", {{"b", "2"}}},
        {"PUT reads the body", "PUT", "http://h/p?a=1", "b=2", {{"b", "2"}}},
        {"GET without a query", "GET", "http://h/p", "b=2", {}},
        {"POST without a body", "POST", "http://h/p?a=1", nullptr, {}},
        {"POST with an empty body", "POST", "http://h/p", "", {}},
        {"a later = stays in the value", "POST", "http://h/p", "s=c2VjcmV0==&t=a=b", {{"s", "c2VjcmV0=="}, {"t", "a=b"}}},
        {"an escaped = in the name", "GET", "http://h/p?a%3Db=c%3D", nullptr, {{"a=b", "c="}}},
        {"no name, no value", "POST", "http://h/p", "=v&n=&m", {{"", "v"}, {"n", ""}, {"m", ""}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto q = OAMutableURLRequest::make(ns::URL::URLWithString(c.url), ns::make<OAConsumer>("k", "s"), nullptr,
                                           nullptr, nullptr);
        q->setHTTPMethod(c.method);
        if (c.body) q->setHTTPBody(ns::Data::make(c.body));
        auto got = q->parameters();
        if (c.pairs.empty()) {
            EXPECT_FALSE(got);
            continue;
        }
        ASSERT_TRUE(got);
        ASSERT_EQ(got->count(), c.pairs.size());
        for (size_t i = 0; i < c.pairs.size(); ++i) {
            auto* p = ns::as<OARequestParameter>(got->objectAtIndex(i));
            ASSERT_TRUE(p);
            EXPECT_EQ(p->name(), c.pairs[i].first);
            EXPECT_EQ(p->value(), c.pairs[i].second);
        }
    }
}

TEST(OAuthSigning, TokensAndBase64) {
    auto t = OAToken::initWithHTTPResponseBody("oauth_token=ab%2Bc&oauth_token_secret=s&oauth_callback_confirmed=true");
    EXPECT_EQ(ns::describe(t->key()), "ab+c");
    EXPECT_EQ(ns::describe(t->secret()), "s");
    EXPECT_FALSE(t->sessionHandle());
    // A value that is not UTF-8 is left out rather than kept as broken text.
    auto broken = OAToken::initWithHTTPResponseBody("oauth_token=a%FFb&oauth_token_secret=\xFF");
    EXPECT_FALSE(broken->key());
    EXPECT_FALSE(broken->secret());
    auto empty = OAToken::initWithHTTPResponseBody("oauth_token");
    EXPECT_EQ(ns::describe(empty->key()), "");
    // A secret in Base64 keeps its padding; a later pair of the same name wins.
    auto padded = OAToken::initWithHTTPResponseBody(
        "oauth_token=first&oauth_token_secret=c2VjcmV0==&oauth_session_handle=h%3D&oauth_token=k");
    EXPECT_EQ(ns::describe(padded->key()), "k");
    EXPECT_EQ(ns::describe(padded->secret()), "c2VjcmV0==");
    EXPECT_EQ(ns::describe(padded->sessionHandle()), "h=");
    auto none = OAToken::initWithHTTPResponseBody("");
    EXPECT_FALSE(none->key());
    EXPECT_FALSE(none->secret());

    std::string bytes(54, '\x7f');
    char out[80];
    size_t size = 73;
    EXPECT_FALSE(OABase64EncodeData(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), out, &size));
    size = sizeof out;
    ASSERT_TRUE(OABase64EncodeData(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), out, &size));
    EXPECT_EQ(size, 74u);
    EXPECT_EQ(std::string(out + 72, 2), "\r\n");
    size = 32;
    ASSERT_TRUE(OABase64EncodeData(reinterpret_cast<const uint8_t*>(bytes.data()), 20, out, &size));
    EXPECT_EQ(size, 28u);

    auto g = OAMutableURLRequest::make(ns::URL::URLWithString("http://h/"), ns::make<OAConsumer>("k", "s"), nullptr,
                                       nullptr, nullptr);
    EXPECT_EQ(g->nonce().size(), 36u);
    EXPECT_FALSE(g->timestamp().empty());
    EXPECT_EQ(OAURLEncodedString("a b!*'()~"), "a%20b%21%2A%27%28%29~");
}

}  // namespace
}  // namespace sharing
