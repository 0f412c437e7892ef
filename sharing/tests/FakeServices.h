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
#include "sharing/tests/PythonFake.h"
#include "sharing/tests/SharingTestSupport.h"

namespace sharing::test {

class FakeServices : public PythonFake {
public:
    FakeServices() : PythonFake("fake_sharer_services.py") {}
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
