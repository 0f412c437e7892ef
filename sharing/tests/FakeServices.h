// The fake web services of the sharer tests: a Python program on 127.0.0.1
// (sharing/tests/data/fake_sharer_services.py) that records what it
// receives, read in its own way, and answers what the test asks for.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/Foundation.h"
#include "sharing/tests/SharingTestSupport.h"
#include "testsupport/PythonFake.h"

namespace sharing::test {

using testsupport::PythonFake;

class FakeServices : public PythonFake {
public:
    FakeServices() : PythonFake("sharing/tests/data/fake_sharer_services.py") {}
    // {"path": [{"status": .., "headers": {..}, "body": ".."}, ...]}
    void setReplies(const std::string& json) const { call("/__reply", json); }
    // The records, oldest first.
    ns::Ref<ns::Array> log() const;
    ns::Ref<ns::Dictionary> last() const;
    // Replies with "hold": how many requests were held, and how many of
    // them answered since; release() lets every held one answer.
    int held() const { return count("held"); }
    int answered() const { return count("answered"); }
    void release() const { call("/__release", "go"); }

private:
    int count(const char* which) const;
};

using Pairs = std::vector<std::pair<std::string, std::string>>;

// [[name, value], ...] of a record as a vector of pairs.
Pairs pairs(const ns::Dictionary* record, std::string_view key);
inline Pairs pairs(const ns::Ref<ns::Dictionary>& r, std::string_view key) { return pairs(r.get(), key); }

std::string field(const ns::Dictionary* d, std::string_view key);
inline std::string field(const ns::Ref<ns::Dictionary>& d, std::string_view key) { return field(d.get(), key); }

class FakeServicesTest : public SharingTest {
protected:
    void SetUp() override {
        SharingTest::SetUp();
        ASSERT_GT(services.port(), 0) << "the fake services did not start";
    }
    FakeServices services;
};

}  // namespace sharing::test
