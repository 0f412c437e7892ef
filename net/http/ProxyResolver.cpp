// ProxyResolver: the request's proxy settings, the system settings and proxy
// auto-configuration scripts (from a file or over HTTP).
#include "net/http/ProxyResolver.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/foundation/String.h"

namespace http {

namespace {

std::string proxyTypeName(net::ProxyEntry::Kind kind) {
    switch (kind) {
        case net::ProxyEntry::Kind::SOCKS: return "SOCKS";
        case net::ProxyEntry::Kind::HTTPS: return "HTTPS";
        default: return "HTTP";
    }
}

bool validUTF8(const std::string& s) {
    auto u = ns::utf8ToUTF16(s);
    std::string back;
    return ns::utf16ToUTF8(u, back) && back == s;
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The process's own proxy settings, read from its environment once: it
// does not change under a running process (changing it while threads run
// is not safe), and reading it cost every request a dozen lookups.
const net::SystemProxySettings& processSettings() {
    static const auto& settings = *new net::SystemProxySettings(net::SystemProxySettings::fromEnvironment());
    return settings;
}

}  // namespace

ProxyResolver::~ProxyResolver() { stopWork(); }

// ---- Settings --------------------------------------------------------------------

std::string ProxyResolver::host() const {
    std::lock_guard<std::mutex> g(lock_);
    return host_;
}
void ProxyResolver::setHost(std::string host) {
    std::lock_guard<std::mutex> g(lock_);
    host_ = std::move(host);
}
int ProxyResolver::port() const {
    std::lock_guard<std::mutex> g(lock_);
    return port_;
}
void ProxyResolver::setPort(int port) {
    std::lock_guard<std::mutex> g(lock_);
    port_ = port;
}
std::string ProxyResolver::type() const {
    std::lock_guard<std::mutex> g(lock_);
    return type_;
}
void ProxyResolver::setType(std::string type) {
    std::lock_guard<std::mutex> g(lock_);
    type_ = std::move(type);
}
ns::Ref<ns::URL> ProxyResolver::PACurl() const {
    std::lock_guard<std::mutex> g(lock_);
    return PACurl_;
}
void ProxyResolver::setPACurl(ns::Ref<ns::URL> url) {
    std::lock_guard<std::mutex> g(lock_);
    PACurl_ = std::move(url);
}
void ProxyResolver::setEnvironmentLookup(net::SystemProxySettings::EnvironmentLookup lookup) {
    std::lock_guard<std::mutex> g(lock_);
    environment_ = std::move(lookup);
}

void ProxyResolver::copySettingsTo(ProxyResolver& other) const {
    std::lock_guard<std::mutex> g(lock_);
    std::lock_guard<std::mutex> o(other.lock_);
    other.host_ = host_;
    other.port_ = port_;
    other.type_ = type_;
    other.PACurl_ = PACurl_;
    other.environment_ = environment_;
}

// ---- Resolving -------------------------------------------------------------------

ProxyResolver::Outcome ProxyResolver::resolve(const ns::URL& url, const ContextMaker& makeContext,
                                              std::function<void()> done) {
    cancel();
    ns::Ref<ns::URL> script;
    net::SystemProxySettings::EnvironmentLookup environment;
    {
        std::lock_guard<std::mutex> g(lock_);
        if (!host_.empty() || port_ != 0) return Outcome::Ready;
        script = PACurl_;
        environment = environment_;
    }
    if (!script) {
        auto proxies = (environment ? net::SystemProxySettings::fromEnvironment(environment) : processSettings())
                           .proxiesForURL(url.absoluteText());
        if (!proxies) return Outcome::Failed;
        if (proxies->empty()) return Outcome::Ready;
        const net::ProxyEntry& first = proxies->front();
        if (first.kind == net::ProxyEntry::Kind::Direct) return Outcome::Ready;
        if (first.kind != net::ProxyEntry::Kind::AutoConfigurationURL) {
            std::lock_guard<std::mutex> g(lock_);
            host_ = first.host;
            port_ = first.port;
            type_ = proxyTypeName(first.kind);
            return Outcome::Ready;
        }
        script = ns::URL::URLWithString(first.autoConfigurationURL);
        if (!script) return Outcome::Ready;
        std::lock_guard<std::mutex> g(lock_);
        PACurl_ = script;
    }

    context_ = makeContext();
    url_ = url.absoluteText();
    urlHost_ = url.host() ? std::string(url.host()->utf8()) : std::string();
    pending_ = true;
    done_ = nullptr;  // a resolution that ends before resolve() returns calls nobody
    std::string scheme = lower(script->scheme() ? std::string(script->scheme()->utf8()) : std::string());
    if (scheme == "file") {
        readLocalScript(script->path() ? std::string(script->path()->utf8()) : std::string());
    } else if ((scheme == "http" || scheme == "https") && context_.fetchScript) {
        auto owner = context_.owner;
        stopFetch_ = context_.fetchScript(script, [this, owner](std::string text) {
            auto keep = owner.lock();
            if (!keep || !pending_) return;
            stopFetch_ = nullptr;
            scriptArrived(std::move(text));
        });
    } else {
        finish();
    }
    if (!pending_) return Outcome::Ready;
    done_ = std::move(done);
    return Outcome::Pending;
}

void ProxyResolver::readLocalScript(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        finish();
        return;
    }
    script_ = nullptr;
    auto owner = context_.owner;
    source_ = ns::FdSource::make(fd_, ns::FdReadable, [this, owner](unsigned) {
        if (auto keep = owner.lock()) readSome();
    });
    context_.loop->addSource(source_, context_.mode);
    readTimer_ = ns::Timer::make(context_.timeOutSeconds, false, [this, owner](ns::Timer&) {
        auto keep = owner.lock();
        if (keep && fd_ >= 0) endLocalRead(false);
    });
    context_.loop->addTimer(readTimer_, context_.mode);
}

void ProxyResolver::readSome() {
    if (fd_ < 0) return;
    uint8_t buffer[16384];
    long n = ::read(fd_, buffer, sizeof buffer);
    if (n > 0) {
        if (!script_) script_ = ns::MutableData::make();
        script_->appendBytes(buffer, static_cast<size_t>(n));
        if (script_->length() > net::PACScript::kMaxScriptBytes) endLocalRead(false);
    } else if (n == 0) {
        endLocalRead(true);
    } else if (errno != EAGAIN && errno != EINTR) {
        endLocalRead(false);
    }
}

void ProxyResolver::endLocalRead(bool success) {
    std::string script;
    if (success && script_) {
        script.assign(reinterpret_cast<const char*>(script_->bytes()), script_->length());
        // A script that is not UTF-8 is read as Latin-1.
        if (!validUTF8(script)) {
            std::string latin;
            for (unsigned char c : script) ns::appendCodePoint(latin, c);
            script = std::move(latin);
        }
    }
    stopWork();
    scriptArrived(std::move(script));
}

// Evaluates the script for the URL, takes its first answer as the proxy and
// ends the resolution.
void ProxyResolver::scriptArrived(std::string script) {
    if (script.empty()) {
        finish();
        return;
    }
    if (context_.synchronous) {
        ns::Ref<ns::Error> err;
        auto answer = net::PACScript::evaluateSynchronously(script, url_, urlHost_, context_.timeOutSeconds, &err);
        if (!err) choose(answer);
        finish();
        return;
    }
    auto owner = context_.owner;
    evaluation_ = net::PACScript::evaluate(script, url_, urlHost_, *context_.loop, context_.mode,
                                           context_.timeOutSeconds,
                                           [this, owner](std::optional<std::string> answer, ns::Ref<ns::Error> err) {
                                               auto keep = owner.lock();
                                               if (!keep || !pending_) return;
                                               evaluation_ = nullptr;
                                               if (!err) choose(answer);
                                               finish();
                                           });
}

void ProxyResolver::choose(const std::optional<std::string>& answer) {
    if (!answer) return;
    auto entries = net::parsePACResult(*answer);
    if (entries.empty() || entries.front().kind == net::ProxyEntry::Kind::Direct ||
        entries.front().kind == net::ProxyEntry::Kind::AutoConfigurationURL)
        return;
    std::lock_guard<std::mutex> g(lock_);
    host_ = entries.front().host;
    port_ = entries.front().port;
    type_ = proxyTypeName(entries.front().kind);
}

void ProxyResolver::finish() {
    pending_ = false;
    if (auto done = std::exchange(done_, nullptr)) done();
}

void ProxyResolver::cancel() {
    stopWork();
    if (auto stop = std::exchange(stopFetch_, nullptr)) stop();
    if (evaluation_) std::exchange(evaluation_, nullptr)->cancel();
    pending_ = false;
    done_ = nullptr;
}

void ProxyResolver::stopWork() {
    if (readTimer_) std::exchange(readTimer_, nullptr)->invalidate();
    if (source_) std::exchange(source_, nullptr)->invalidate();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    script_ = nullptr;
}

void ProxyResolver::applyTo(net::HTTPReadStream& stream) {
    std::lock_guard<std::mutex> g(lock_);
    if (host_.empty() || port_ == 0) return;
    if (type_.empty()) type_ = "HTTP";
    net::ProxySettings p;
    p.type = type_ == "SOCKS"   ? net::ProxySettings::Type::SOCKS
             : type_ == "HTTPS" ? net::ProxySettings::Type::HTTPS
                                : net::ProxySettings::Type::HTTP;
    p.host = host_;
    p.port = static_cast<uint16_t>(port_);
    stream.setProxy(p);
}

}  // namespace http
