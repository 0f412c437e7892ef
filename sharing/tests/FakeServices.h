// The fake web services of the sharer tests: a Python program on 127.0.0.1
// (sharing/tests/data/fake_sharer_services.py) that records what it
// receives, read in its own way, and answers what the test asks for.
#pragma once

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "net/json/JSONDecoder.h"
#include "platform/foundation/RunLoop.h"
#include "platform/network/URLConnection.h"
#include "sharing/tests/SharingTestSupport.h"

namespace sharing::test {

class FakeServices {
public:
    FakeServices() {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive the test
            dup2(fds[1], 1);
            close(fds[0]);
            close(fds[1]);
            std::string script = std::string(DECK_SOURCE_DIR) + "/sharing/tests/data/fake_sharer_services.py";
            execlp("python3", "python3", script.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        FILE* f = fdopen(fds[0], "r");
        char line[32] = {0};
        if (f && fgets(line, sizeof line, f)) port_ = std::atoi(line);
        if (f) fclose(f);
    }
    ~FakeServices() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    int port() const { return port_; }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::string call(const std::string& path, const std::string& body = {}) const {
        auto req = net::URLRequest::requestWithURL(ns::URL::URLWithString(base() + path));
        if (!body.empty()) {
            req->setHTTPMethod("POST");
            req->setHTTPBody(ns::Data::make(body));
        }
        ns::Ref<net::HTTPURLResponse> response;
        ns::Ref<ns::Error> error;
        auto data = net::URLConnection::sendSynchronousRequest(*req, &response, &error);
        return data ? std::string(data->view()) : std::string();
    }
    // {"path": [{"status": .., "headers": {..}, "body": ".."}, ...]}
    void setReplies(const std::string& json) const { call("/__reply", json); }
    // The records, oldest first.
    ns::Ref<ns::Array> log() const {
        std::string text = call("/__log");
        auto o = json::JSONDecoder::decoder()->objectWithUTF8StringLengthError(text.data(), text.size());
        return ns::Ref<ns::Array>(ns::as<ns::Array>(o.get()));
    }
    ns::Ref<ns::Dictionary> last() const {
        auto l = log();
        if (!l || l->count() == 0) return nullptr;
        return ns::Ref<ns::Dictionary>(ns::as<ns::Dictionary>(l->objectAtIndex(l->count() - 1)));
    }

private:
    pid_t pid_ = -1;
    int port_ = 0;
};

// [[name, value], ...] of a record as a vector of pairs.
inline std::vector<std::pair<std::string, std::string>> pairs(const ns::Dictionary* record, std::string_view key) {
    std::vector<std::pair<std::string, std::string>> out;
    auto* a = record ? record->arrayForKey(key) : nullptr;
    if (!a) return out;
    for (ns::Object* o : *a) {
        auto* p = ns::as<ns::Array>(o);
        if (p && p->count() == 2) out.emplace_back(ns::describe(p->objectAtIndex(0)), ns::describe(p->objectAtIndex(1)));
    }
    return out;
}
inline std::vector<std::pair<std::string, std::string>> pairs(const ns::Ref<ns::Dictionary>& r, std::string_view key) {
    return pairs(r.get(), key);
}

inline std::string field(const ns::Dictionary* d, std::string_view key) {
    ns::Object* o = d ? d->objectForKey(key) : nullptr;
    return o ? ns::describe(o) : std::string();
}
inline std::string field(const ns::Ref<ns::Dictionary>& d, std::string_view key) { return field(d.get(), key); }

inline bool runUntil(const std::function<bool()>& cond, double seconds = 10) {
    return ns::RunLoop::main()->runUntil(cond, seconds);
}

using Pairs = std::vector<std::pair<std::string, std::string>>;

class FakeServicesTest : public SharingTest {
protected:
    void SetUp() override {
        SharingTest::SetUp();
        ASSERT_GT(services.port(), 0) << "the fake services did not start";
    }
    FakeServices services;
};

}  // namespace sharing::test
