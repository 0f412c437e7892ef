// Talks to a real nginx started by the test: unprivileged, on free high
// ports, with a configuration in a temporary folder. Skipped when the nginx
// binary is missing.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/foundation/RunLoop.h"
#include "platform/network/Connection.h"
#include "platform/network/HTTPCookie.h"
#include "platform/network/HTTPReadStream.h"
#include "platform/network/NetworkErrors.h"
#include "platform/network/URLConnection.h"
#include "testsupport/Certificates.h"
#include "testsupport/Nginx.h"
#include "testsupport/PeerRequirement.h"

namespace {

using testsupport::Nginx;

Nginx* startNginx(const testsupport::Certificates& certs, std::string* bigText) {
    testsupport::NginxConfig config;
    config.httpDirectives =
        "  keepalive_timeout 30;\n  keepalive_requests 100;\n"
        "  gzip on; gzip_min_length 1; gzip_types text/plain;\n";
    config.locations =
        "    location = /redirect { return 302 /hello.txt; }\n"
        "    location = /cookie { add_header Set-Cookie \"peer=yes; Path=/\"; return 200 \"cookie set\\n\"; }\n"
        "    location = /echo-cookie { return 200 \"$http_cookie\"; }\n";
    config.tls = &certs;
    auto* nginx = new Nginx(config);
    if (!nginx->running()) return nginx;
    std::ofstream(nginx->root() + "/hello.txt") << "hello from nginx\n";
    for (int i = 0; i < 4000; ++i) *bigText += "line " + std::to_string(i) + " of a compressible text file\n";
    std::ofstream(nginx->root() + "/big.txt") << *bigText;
    return nginx;
}

class NginxPeer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        certs_ = new testsupport::Certificates();
        if (certs_->ok()) nginx_ = startNginx(*certs_, &bigText_);
    }
    static void TearDownTestSuite() {
        delete nginx_;
        delete certs_;
        nginx_ = nullptr;
        certs_ = nullptr;
        bigText_.clear();
    }
    void SetUp() override {
        if (!certs_->ok()) DECK_PEER_MISSING("the openssl command is missing");
        if (!nginx_->found()) DECK_PEER_MISSING("nginx is not installed (looked in /usr/sbin, /usr/local/sbin, /usr/bin)");
        ASSERT_TRUE(nginx_->running()) << "nginx did not start:\n" << nginx_->errorLog();
        net::HTTPReadStream::closeIdleConnections();
        net::HTTPCookieStorage::sharedHTTPCookieStorage().removeAllCookies();
    }
    static testsupport::Certificates* certs_;
    static Nginx* nginx_;
    static std::string bigText_;
};
testsupport::Certificates* NginxPeer::certs_ = nullptr;
Nginx* NginxPeer::nginx_ = nullptr;
std::string NginxPeer::bigText_;

ns::Ref<ns::Data> fetch(const std::string& url, ns::Ref<net::HTTPURLResponse>* response, ns::Ref<ns::Error>* error,
                        net::TLSSettings tls = {}) {
    auto req = net::URLRequest::requestWithURL(ns::URL::URLWithString(url), 0, 10);
    req->setTLSSettings(tls);
    return net::URLConnection::sendSynchronousRequest(*req, response, error);
}

TEST_F(NginxPeer, StaticFileGzipAndKeepAlive) {
    ns::Ref<net::HTTPURLResponse> resp;
    ns::Ref<ns::Error> err;
    auto data = fetch(nginx_->url("/hello.txt"), &resp, &err);
    ASSERT_TRUE(data) << err->description();
    ASSERT_TRUE(resp);
    EXPECT_EQ(resp->statusCode(), 200);
    auto big = fetch(nginx_->url("/big.txt"), &resp, &err);
    ASSERT_TRUE(big) << err->description();
    EXPECT_EQ(resp->valueForHTTPHeaderField("Content-Encoding"), "gzip");
    EXPECT_EQ(big->view(), bigText_);
    // Both answers came over one kept-alive connection.
    uint64_t before = net::ConnectionPool::shared().connectionsOpened();
    fetch(nginx_->url("/hello.txt"), &resp, &err);
    EXPECT_EQ(net::ConnectionPool::shared().connectionsOpened(), before);
}

TEST_F(NginxPeer, RedirectAndCookies) {
    ns::Ref<net::HTTPURLResponse> resp;
    ns::Ref<ns::Error> err;
    auto data = fetch(nginx_->url("/redirect"), &resp, &err);
    ASSERT_TRUE(data) << err->description();
    EXPECT_EQ(data->view(), "hello from nginx\n");
    ASSERT_TRUE(resp);
    EXPECT_EQ(resp->URL()->absoluteText(), nginx_->url("/hello.txt"));
    fetch(nginx_->url("/cookie"), &resp, &err);
    data = fetch(nginx_->url("/echo-cookie"), &resp, &err);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->view(), "peer=yes");
}

TEST_F(NginxPeer, TLSWithTheTestCA) {
    ns::Ref<net::HTTPURLResponse> resp;
    ns::Ref<ns::Error> err;
    EXPECT_FALSE(fetch(nginx_->tlsURL("/hello.txt"), &resp, &err));
    ASSERT_TRUE(err);
    EXPECT_TRUE(net::isTLSError(err.get())) << err->description();
    net::TLSSettings trust;
    trust.trustedCertificatesFile = certs_->path("ca.pem");
    auto data = fetch(nginx_->tlsURL("/hello.txt"), &resp, &err, trust);
    ASSERT_TRUE(data) << err->description();
    EXPECT_EQ(data->view(), "hello from nginx\n");
}

}  // namespace
