#include "platform/network/TLS.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <map>
#include <mutex>

#include "platform/network/NetworkErrors.h"

namespace net {
namespace {

// Never destroyed: connections still open while the process exits use them.
std::mutex gMutex;
std::string& gExtraTrust = *new std::string;
std::map<std::string, ns::Ref<TLSContext>>& gContexts = *new std::map<std::string, ns::Ref<TLSContext>>;

std::string opensslErrorText() {
    std::string out;
    while (unsigned long e = ERR_get_error()) {
        char buf[256];
        ERR_error_string_n(e, buf, sizeof buf);
        if (!out.empty()) out += "; ";
        out += buf;
    }
    return out;
}

bool loadIdentity(SSL_CTX* ctx, const TLSSettings& s, std::string* why) {
    BIO* certBio = BIO_new_mem_buf(s.clientCertificatePEM.data(), static_cast<int>(s.clientCertificatePEM.size()));
    X509* leaf = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
    if (!leaf || SSL_CTX_use_certificate(ctx, leaf) != 1) {
        if (leaf) X509_free(leaf);
        BIO_free(certBio);
        *why = "client certificate unreadable";
        return false;
    }
    X509_free(leaf);
    // The rest of the PEM text is the chain.
    while (X509* extra = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr)) {
        if (SSL_CTX_add_extra_chain_cert(ctx, extra) != 1) X509_free(extra);
    }
    ERR_clear_error();
    BIO_free(certBio);
    BIO* keyBio = BIO_new_mem_buf(s.clientKeyPEM.data(), static_cast<int>(s.clientKeyPEM.size()));
    EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
    BIO_free(keyBio);
    if (!key || SSL_CTX_use_PrivateKey(ctx, key) != 1 || SSL_CTX_check_private_key(ctx) != 1) {
        if (key) EVP_PKEY_free(key);
        *why = "client private key unreadable or does not match the certificate";
        return false;
    }
    EVP_PKEY_free(key);
    return true;
}

// The key of a context for `settings`, with the process-wide trust file
// as read under gMutex.
std::string contextKey(const TLSSettings& settings, const std::string& extraTrust) {
    std::string k = settings.validatesCertificateChain ? "v1|" : "v0|";
    k += settings.trustedCertificatesFile.empty() ? extraTrust : settings.trustedCertificatesFile;
    k += "|" + std::to_string(std::hash<std::string>()(settings.clientCertificatePEM));
    k += "|" + std::to_string(std::hash<std::string>()(settings.clientKeyPEM));
    return k;
}

}  // namespace

std::string tlsErrorQueueText() { return opensslErrorText(); }

std::string TLSSettings::cacheKey() const {
    std::string extraTrust;
    if (trustedCertificatesFile.empty()) {
        std::lock_guard<std::mutex> g(gMutex);
        extraTrust = gExtraTrust;
    }
    return contextKey(*this, extraTrust);
}

void setAdditionalTrustedCertificatesFile(std::string path) {
    std::lock_guard<std::mutex> g(gMutex);
    gExtraTrust = std::move(path);
}

TLSContext::~TLSContext() { SSL_CTX_free(ctx_); }

ns::Ref<TLSContext> tlsContextFor(const TLSSettings& settings, ns::Ref<ns::Error>* error) {
    std::lock_guard<std::mutex> g(gMutex);
    std::string key = contextKey(settings, gExtraTrust);
    if (auto it = gContexts.find(key); it != gContexts.end()) return it->second;

    SSL_CTX* raw = SSL_CTX_new(TLS_client_method());
    if (!raw) {
        if (error) *error = makeError(kTLSErrorDomain, kTLSProtocolError, "Cannot create a TLS context: " + opensslErrorText());
        return nullptr;
    }
    auto ctx = ns::make<TLSContext>(raw);
    SSL_CTX_set_min_proto_version(raw, TLS1_2_VERSION);
    // A server may not renegotiate a session: its HelloRequest is refused
    // (and the connection fails, see Connection).
    SSL_CTX_set_options(raw, SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_set_mode(raw, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    if (settings.validatesCertificateChain) {
        SSL_CTX_set_verify(raw, SSL_VERIFY_PEER, nullptr);
        SSL_CTX_set_default_verify_paths(raw);
        const std::string& extra = settings.trustedCertificatesFile.empty() ? gExtraTrust : settings.trustedCertificatesFile;
        if (!extra.empty() && SSL_CTX_load_verify_locations(raw, extra.c_str(), nullptr) != 1) {
            if (error)
                *error = makeError(kTLSErrorDomain, kTLSUnknownRootCertificate,
                                   "Cannot read trusted certificates from " + extra + ": " + opensslErrorText());
            return nullptr;
        }
    } else {
        SSL_CTX_set_verify(raw, SSL_VERIFY_NONE, nullptr);
    }
    if (!settings.clientCertificatePEM.empty()) {
        std::string why;
        if (!loadIdentity(raw, settings, &why)) {
            if (error)
                *error = makeError(kTLSErrorDomain, kTLSClientCertificateRejected, why + ": " + opensslErrorText());
            return nullptr;
        }
    }
    // A handful of settings in a process; keep the cache from growing
    // without bound if callers vary identities.
    if (gContexts.size() > 32) gContexts.clear();
    gContexts[key] = ctx;
    return ctx;
}

ns::Ref<ns::Error> tlsHandshakeError(SSL* ssl, int sslError, const std::string& host) {
    long verify = ssl ? SSL_get_verify_result(ssl) : X509_V_OK;
    std::string queue = opensslErrorText();
    if (verify != X509_V_OK) {
        long code = kTLSCertificateChainInvalid;
        switch (verify) {
            case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
            case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
            case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
            case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
                code = kTLSNoRootCertificate;
                break;
            case X509_V_ERR_CERT_HAS_EXPIRED: code = kTLSCertificateExpired; break;
            case X509_V_ERR_CERT_NOT_YET_VALID: code = kTLSCertificateNotYetValid; break;
            case X509_V_ERR_HOSTNAME_MISMATCH:
            case X509_V_ERR_IP_ADDRESS_MISMATCH: code = kTLSBadCertificate; break;
            default: break;
        }
        return makeError(kTLSErrorDomain, code,
                         "The certificate for " + host + " is not trusted: " + X509_verify_cert_error_string(verify));
    }
    if (sslError == SSL_ERROR_SYSCALL || sslError == SSL_ERROR_ZERO_RETURN)
        return makeError(kTLSErrorDomain, kTLSClosedAbort, "The server closed the connection during the TLS handshake");
    return makeError(kTLSErrorDomain, kTLSHandshakeFailed,
                     "The TLS handshake with " + host + " failed" + (queue.empty() ? "" : ": " + queue));
}

}  // namespace net
