#include "platform/network/PACScript.h"

#include <arpa/inet.h>
#include <duktape.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/foundation/FileIO.h"
#include "platform/foundation/Timer.h"
#include "platform/network/NetworkErrors.h"

namespace net {
namespace {

// The standard helper functions, written in the script language itself
// except the three that need the system (dnsResolve, myIpAddress and the
// clock, which the language already has).
const char* const kHelpers = R"JS(
function isPlainHostName(host) { return host.indexOf('.') < 0; }
function dnsDomainIs(host, domain) {
  return host.length >= domain.length && host.substring(host.length - domain.length) === domain;
}
function localHostOrDomainIs(host, hostdom) {
  return host === hostdom || hostdom.lastIndexOf(host + '.', 0) === 0;
}
function isResolvable(host) { return dnsResolve(host) !== null; }
function convertAddr(ip) {
  var p = ip.split('.');
  return ((p[0] << 24) | (p[1] << 16) | (p[2] << 8) | (p[3] << 0)) >>> 0;
}
function isInNet(host, pattern, mask) {
  var ip = /^\d+\.\d+\.\d+\.\d+$/.test(host) ? host : dnsResolve(host);
  if (ip === null) return false;
  return (convertAddr(ip) & convertAddr(mask)) === (convertAddr(pattern) & convertAddr(mask));
}
function dnsDomainLevels(host) { return host.split('.').length - 1; }
function shExpMatch(str, shexp) {
  var re = '^' + shexp.replace(/[.+^${}()|[\]\\]/g, '\\$&').replace(/\*/g, '.*').replace(/\?/g, '.') + '$';
  return new RegExp(re).test(str);
}
var __days = ['SUN','MON','TUE','WED','THU','FRI','SAT'];
function weekdayRange(a, b, gmt) {
  if (b === 'GMT') { gmt = b; b = undefined; }
  var d = new Date(); var day = gmt === 'GMT' ? d.getUTCDay() : d.getDay();
  var s = __days.indexOf(a), e = b === undefined ? s : __days.indexOf(b);
  if (s < 0 || e < 0) return false;
  return s <= e ? (day >= s && day <= e) : (day >= s || day <= e);
}
function timeRange() {
  var args = Array.prototype.slice.call(arguments); var gmt = args[args.length - 1] === 'GMT';
  if (gmt) args.pop();
  var d = new Date(); var h = gmt ? d.getUTCHours() : d.getHours();
  if (args.length === 1) return h === args[0];
  if (args.length === 2) return args[0] <= args[1] ? (h >= args[0] && h < args[1]) : (h >= args[0] || h < args[1]);
  return false;
}
function dateRange() { return false; }
)JS";

duk_ret_t nativeDnsResolve(duk_context* ctx) {
    const char* host = duk_require_string(ctx, 0);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &res) != 0 || !res) {
        duk_push_null(ctx);
        return 1;
    }
    char buf[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr, buf, sizeof buf);
    freeaddrinfo(res);
    duk_push_string(ctx, buf);
    return 1;
}

duk_ret_t nativeMyIpAddress(duk_context* ctx) {
    std::string best = "127.0.0.1";
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
        for (ifaddrs* p = list; p; p = p->ifa_next) {
            if (!p->ifa_addr || p->ifa_addr->sa_family != AF_INET) continue;
            char buf[INET_ADDRSTRLEN];
            inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(p->ifa_addr)->sin_addr, buf, sizeof buf);
            if (std::strncmp(buf, "127.", 4) != 0) {
                best = buf;
                break;
            }
        }
        freeifaddrs(list);
    }
    duk_push_string(ctx, best.c_str());
    return 1;
}

// The script's heap is capped by its allocator (a resource limit on the
// address space would also count what the parent had mapped, sanitizer
// shadow memory included).
constexpr size_t kMaxScriptHeap = 64u << 20;
size_t gHeapUsed = 0;  // the child is single-threaded

void* capAlloc(void*, duk_size_t size) {
    if (size == 0 || gHeapUsed + size > kMaxScriptHeap) return nullptr;
    auto* p = static_cast<size_t*>(std::malloc(size + sizeof(size_t) * 2));
    if (!p) return nullptr;
    p[0] = size;
    gHeapUsed += size;
    return p + 2;
}

void capFree(void*, void* ptr) {
    if (!ptr) return;
    auto* p = static_cast<size_t*>(ptr) - 2;
    gHeapUsed -= p[0];
    std::free(p);
}

void* capRealloc(void* u, void* ptr, duk_size_t size) {
    if (!ptr) return capAlloc(u, size);
    if (size == 0) {
        capFree(u, ptr);
        return nullptr;
    }
    auto* p = static_cast<size_t*>(ptr) - 2;
    size_t old = p[0];
    if (size > old && gHeapUsed + (size - old) > kMaxScriptHeap) return nullptr;
    auto* q = static_cast<size_t*>(std::realloc(p, size + sizeof(size_t) * 2));
    if (!q) return nullptr;
    gHeapUsed = gHeapUsed - old + size;
    q[0] = size;
    return q + 2;
}

// Runs in the child: evaluates and writes "R<answer>" or "E<message>".
[[noreturn]] void childMain(int out, const std::string& script, const std::string& url, const std::string& host) {
    rlimit cpu{5, 5};
    ::setrlimit(RLIMIT_CPU, &cpu);
    duk_context* ctx = duk_create_heap(capAlloc, capRealloc, capFree, nullptr, nullptr);
    if (!ctx) {
        ns::writeAll(out, "Ecannot create the script engine");
        ::_exit(1);
    }
    duk_push_global_object(ctx);
    duk_push_c_function(ctx, nativeDnsResolve, 1);
    duk_put_prop_string(ctx, -2, "dnsResolve");
    duk_push_c_function(ctx, nativeMyIpAddress, 0);
    duk_put_prop_string(ctx, -2, "myIpAddress");
    duk_pop(ctx);
    if (duk_peval_string(ctx, kHelpers) != 0) {
        ns::writeAll(out, std::string("E") + duk_safe_to_string(ctx, -1));
        ::_exit(1);
    }
    duk_pop(ctx);
    if (duk_peval_lstring(ctx, script.data(), script.size()) != 0) {
        ns::writeAll(out, std::string("E") + duk_safe_to_string(ctx, -1));
        ::_exit(1);
    }
    duk_pop(ctx);
    duk_push_global_object(ctx);
    if (!duk_get_prop_string(ctx, -1, "FindProxyForURL") || !duk_is_function(ctx, -1)) {
        ns::writeAll(out, "Ethe script defines no FindProxyForURL function");
        ::_exit(1);
    }
    duk_push_lstring(ctx, url.data(), url.size());
    duk_push_lstring(ctx, host.data(), host.size());
    if (duk_pcall(ctx, 2) != 0) {
        ns::writeAll(out, std::string("E") + duk_safe_to_string(ctx, -1));
        ::_exit(1);
    }
    std::string result = duk_is_string(ctx, -1) ? duk_get_string(ctx, -1) : "";
    if (result.size() > PACScript::kMaxResultBytes) result.resize(PACScript::kMaxResultBytes);
    ns::writeAll(out, "R" + result);
    ::_exit(0);
}

struct Evaluation : PACScript::Request {
    const char* className() const override { return "PACScriptEvaluation"; }
    pid_t pid = -1;
    int fd = -1;
    std::string output;
    ns::Ref<ns::FdSource> source;
    ns::Ref<ns::Timer> timer;
    PACScript::Callback callback;
    bool done = false;

    ~Evaluation() override { stop(); }
    void stop() {
        if (source) source->invalidate();
        source = nullptr;
        if (timer) timer->invalidate();
        timer = nullptr;
        if (fd >= 0) ::close(fd);
        fd = -1;
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            int status;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
        pid = -1;
    }
    void cancel() override {
        done = true;
        callback = nullptr;
        stop();
    }
    void finish(std::optional<std::string> result, ns::Ref<ns::Error> error) {
        if (done) return;
        done = true;
        auto cb = std::move(callback);
        auto keep = ns::keepAlive(this);
        stop();
        if (cb) cb(std::move(result), std::move(error));
    }
    void onReadable() {
        char buf[4096];
        while (true) {
            ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0) {
                output.append(buf, static_cast<size_t>(n));
                if (output.size() > PACScript::kMaxResultBytes + 1)
                    return finish(std::nullopt, makeError(kPACErrorDomain, kPACScriptError, "The PAC answer is too long"));
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
            break;  // end of output: the child is done
        }
        if (!output.empty() && output[0] == 'R') return finish(output.substr(1), nullptr);
        std::string why = output.size() > 1 ? output.substr(1) : "the script process ended without an answer";
        finish(std::nullopt, makeError(kPACErrorDomain, kPACScriptError, "PAC script failed: " + why));
    }
};

}  // namespace

ns::Ref<PACScript::Request> PACScript::evaluate(const std::string& script, const std::string& url,
                                                const std::string& host, ns::RunLoop& loop, const std::string& mode,
                                                double timeoutSeconds, Callback callback) {
    auto ev = ns::make<Evaluation>();
    ev->callback = std::move(callback);
    ns::Weak<Evaluation> weak(ev);
    auto failLater = [&](long code, const std::string& text) {
        ns::Ref<ns::Error> e = makeError(kPACErrorDomain, code, text);
        loop.performDeferred(
            [weak, e] {
                if (auto s = weak.lock()) s->finish(std::nullopt, e);
            },
            mode);
        return ev;
    };
    if (script.size() > kMaxScriptBytes) return failLater(kPACScriptTooLarge, "The PAC script is too large");
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return failLater(kPACCannotRun, "Cannot start the PAC script process");
    pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return failLater(kPACCannotRun, "Cannot start the PAC script process");
    }
    if (pid == 0) {
        ::close(fds[0]);
        childMain(fds[1], script, url, host);
    }
    ::close(fds[1]);
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    ev->pid = pid;
    ev->fd = fds[0];
    ev->source = loop.addFd(
        fds[0], ns::FdReadable,
        [weak](unsigned) {
            if (auto s = weak.lock()) s->onReadable();
        },
        mode);
    if (timeoutSeconds > 0) {
        ev->timer = ns::Timer::make(timeoutSeconds, false, [weak] {
            if (auto s = weak.lock())
                s->finish(std::nullopt, makeError(kPACErrorDomain, kPACTimedOut, "The PAC script did not answer in time"));
        });
        loop.addTimer(ev->timer, mode);
    }
    return ev;
}

std::optional<std::string> PACScript::evaluateSynchronously(const std::string& script, const std::string& url,
                                                            const std::string& host, double timeoutSeconds,
                                                            ns::Ref<ns::Error>* error) {
    static const char* const kMode = "PACScriptSynchronousMode";
    bool done = false;
    std::optional<std::string> answer;
    auto loop = ns::RunLoop::current();
    auto req = evaluate(script, url, host, *loop, kMode, timeoutSeconds,
                        [&](std::optional<std::string> r, ns::Ref<ns::Error> e) {
                            done = true;
                            answer = std::move(r);
                            if (error) *error = std::move(e);
                        });
    loop->runUntil([&] { return done; }, ns::RunLoop::kDistantFuture, kMode);
    return answer;
}

}  // namespace net
