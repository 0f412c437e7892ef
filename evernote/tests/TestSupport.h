// Shared helpers of the Evernote tests: bytes in and out of records through
// our binary protocol on memory buffers, hex notation for golden vectors, and
// the pieces of a service played back on the loopback server.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <gtest/gtest.h>
#include <thrift/transport/TBufferTransports.h>

#include "evernote/types/BinaryProtocol.h"
#include "evernote/types/Coder.h"
#include "evernote/types/Record.h"
#include "testsupport/LoopbackServer.h"

namespace evernote::test {

using apache::thrift::transport::TBufferedTransport;
using apache::thrift::transport::TMemoryBuffer;

// "00 0a ff" -> bytes; blanks ignored; "'text'" inserts the ASCII text.
std::string bytes(const std::string& notation);
std::string hex(const std::string& bytes);

struct Wire {
    std::shared_ptr<TMemoryBuffer> buffer = std::make_shared<TMemoryBuffer>();
    std::shared_ptr<BinaryProtocol> protocol = std::make_shared<BinaryProtocol>(buffer);
    std::string contents() const { return buffer->getBufferAsString(); }
};

// A protocol reading the given bytes.
std::shared_ptr<BinaryProtocol> reading(const std::string& bytes);
// The same through a transport with no memory to lend (a buffered transport
// over the bytes), which hands them out a few at a time.
std::shared_ptr<BinaryProtocol> streaming(const std::string& bytes);

std::string encode(const Record& record);
// Written through a buffered transport that sends on every few bytes.
std::string encodeStreaming(const Record& record);

template <class T>
ns::Ref<T> decode(const std::string& bytes) {
    auto r = ns::make<T>();
    r->read(*reading(bytes));
    return r;
}

void fillRecord(Record& record, unsigned seed);

// Records of class T filled from the seeds seedStep, 2 * seedStep, ... up to
// `seeds` of them come back equal from a keyed archive of their own.
template <class T>
void expectArchiveRoundTrip(unsigned seeds, unsigned seedStep = 1) {
    for (unsigned seed = 1; seed <= seeds; ++seed) {
        auto record = ns::make<T>();
        fillRecord(*record, seed * seedStep);
        KeyedArchive archive;
        record->encodeWithCoder(archive);
        KeyedArchive input(archive.contents());
        auto back = ns::make<T>(static_cast<const Coder&>(input));
        ASSERT_TRUE(back->isEqual(*record)) << record->description() << "\n" << back->description();
    }
}

// The name and sequence id of the call message `call` starts with.
struct CallHeader {
    std::string name;
    int32_t seqid = 0;
};
CallHeader callHeader(const std::string& call);

// The reply a service sends when the call `header` raised a declared
// exception: the method's result record with only `exception` set, in
// field `field`.
std::string exceptionReply(const CallHeader& header, int16_t field, const Record& exception);

// Replies as a service may send them, played back by the loopback server:
// every request gets the last reply set.
class CannedReplies {
public:
    void setReply(std::string reply);
    std::string url(const std::string& path = "/") const { return server.url(path); }

    testsupport::Server server{[this](const testsupport::Request&) -> std::optional<std::string> {
        std::lock_guard<std::mutex> g(mutex_);
        return testsupport::Server::reply(200, next_);
    }};

private:
    std::mutex mutex_;
    std::string next_;
};

}  // namespace evernote::test
