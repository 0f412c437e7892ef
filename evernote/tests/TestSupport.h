// Shared helpers of the Evernote tests: bytes in and out of records through
// our binary protocol on memory buffers, and hex notation for golden vectors.
#pragma once

#include <memory>
#include <string>

#include <thrift/transport/TBufferTransports.h>

#include "evernote/types/BinaryProtocol.h"
#include "evernote/types/Record.h"

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

}  // namespace evernote::test
