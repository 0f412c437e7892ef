// TLS client settings and contexts over OpenSSL.
#pragma once

#include <openssl/ssl.h>

#include <string>

#include "platform/foundation/Error.h"

namespace net {

struct TLSSettings {
    // Certificate chain and host name are checked unless this is false.
    bool validatesCertificateChain = true;
    // Name sent as SNI and checked against the certificate; empty: the host.
    std::string peerName;
    // A PEM file of extra trusted roots; empty: the process-wide extra file
    // (setAdditionalTrustedCertificatesFile) or none. The system's roots
    // are always trusted.
    std::string trustedCertificatesFile;
    // A client identity: certificate chain and private key, both PEM text.
    std::string clientCertificatePEM;
    std::string clientKeyPEM;

    std::string cacheKey() const;
};

// A PEM file of roots trusted by every TLS connection in the process, in
// addition to the system's (empty to stop).
void setAdditionalTrustedCertificatesFile(std::string path);

// An OpenSSL client context, freed with the last reference.
class TLSContext : public ns::Object {
public:
    explicit TLSContext(SSL_CTX* ctx) : ctx_(ctx) {}
    ~TLSContext() override;
    const char* className() const override { return "TLSContext"; }
    SSL_CTX* get() const { return ctx_; }

private:
    SSL_CTX* ctx_;
};

// A shared client context for the settings (made once per distinct setting).
// Nil with *error when the client identity or the trust file cannot be read.
ns::Ref<TLSContext> tlsContextFor(const TLSSettings& settings, ns::Ref<ns::Error>* error);

// OpenSSL's queued error texts for this thread, joined (and cleared).
std::string tlsErrorQueueText();

// Maps a failed handshake to a kTLSErrorDomain error, using the verify
// result for certificate problems and OpenSSL's error queue for the rest.
ns::Ref<ns::Error> tlsHandshakeError(SSL* ssl, int sslError, const std::string& host);

}  // namespace net
