// The Thrift binary protocol as the Evernote clients use it: strict read and
// strict write off (calls carry the unversioned message header: name, type
// byte, sequence id), with these rules on reading:
//   - a bool is true only when its byte is 1;
//   - a list, set or map count below 0 reads as 0;
//   - a string, binary, list, set or map whose length or count cannot fit in
//     what is left of the input fails before anything is allocated for it, and
//     lengths above the configured limits fail too;
//   - skipping goes through these same checks; nesting deeper than the
//     transport's recursion limit (64) fails;
//   - a type code that is none of the wire's (0, 2, 3, 4, 6, 8, 10 to 15)
//     fails at once, in field and container headers alike;
//   - a message type byte outside 1 to 4 reads as 1 (call): only 3 means
//     anything to a reader;
//   - message headers fail with "Bad version in readMessageBegin" and, with
//     strict read on, "Missing version in readMessageBegin, old client?".
// Every failure is a TProtocolException or TTransportException.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TBufferTransports.h>
#include <thrift/transport/TTransport.h>

namespace evernote {

class KnownLengthSource;

class BinaryProtocol : public apache::thrift::protocol::TBinaryProtocol {
public:
    static constexpr int32_t kDefaultStringLimit = 64 * 1024 * 1024;
    static constexpr int32_t kDefaultContainerLimit = 16 * 1024 * 1024;

    explicit BinaryProtocol(std::shared_ptr<apache::thrift::transport::TTransport> transport,
                            bool strictRead = false, bool strictWrite = false,
                            int32_t stringLimit = kDefaultStringLimit,
                            int32_t containerLimit = kDefaultContainerLimit);

    uint32_t readMessageBegin_virt(std::string& name, apache::thrift::protocol::TMessageType& type,
                                   int32_t& seqid) override;
    uint32_t readFieldBegin_virt(std::string& name, apache::thrift::protocol::TType& fieldType,
                                 int16_t& fieldId) override;
    uint32_t readBool_virt(bool& value) override;
    uint32_t readBool_virt(std::vector<bool>::reference value) override;
    uint32_t readString_virt(std::string& str) override;
    uint32_t readBinary_virt(std::string& str) override;
    uint32_t readListBegin_virt(apache::thrift::protocol::TType& elemType, uint32_t& size) override;
    uint32_t readSetBegin_virt(apache::thrift::protocol::TType& elemType, uint32_t& size) override;
    uint32_t readMapBegin_virt(apache::thrift::protocol::TType& keyType,
                               apache::thrift::protocol::TType& valType, uint32_t& size) override;
    uint32_t skip_virt(apache::thrift::protocol::TType type) override;

    // Called on this class directly (not through TProtocol), the base class's
    // non-virtual readers would bypass the rules above; these hide them.
    uint32_t readMessageBegin(std::string& name, apache::thrift::protocol::TMessageType& type,
                              int32_t& seqid) {
        return readMessageBegin_virt(name, type, seqid);
    }
    uint32_t readFieldBegin(std::string& name, apache::thrift::protocol::TType& fieldType,
                            int16_t& fieldId) {
        return readFieldBegin_virt(name, fieldType, fieldId);
    }
    uint32_t readBool(bool& value) { return readBool_virt(value); }
    uint32_t readBool(std::vector<bool>::reference value) { return readBool_virt(value); }
    uint32_t readString(std::string& str) { return readString_virt(str); }
    uint32_t readBinary(std::string& str) { return readBinary_virt(str); }
    uint32_t readListBegin(apache::thrift::protocol::TType& elemType, uint32_t& size) {
        return readListBegin_virt(elemType, size);
    }
    uint32_t readSetBegin(apache::thrift::protocol::TType& elemType, uint32_t& size) {
        return readSetBegin_virt(elemType, size);
    }
    uint32_t readMapBegin(apache::thrift::protocol::TType& keyType,
                          apache::thrift::protocol::TType& valType, uint32_t& size) {
        return readMapBegin_virt(keyType, valType, size);
    }
    uint32_t skip(apache::thrift::protocol::TType type) { return skip_virt(type); }

private:
    uint32_t readSizedBytes(std::string& str, int32_t size);
    uint32_t readCount(uint32_t& size);
    apache::thrift::protocol::TType typeCode(int8_t code);
    // Fails unless `bytes` more bytes can still be read.
    void requireAvailable(uint64_t bytes);

    // What the transport can say about the bytes left, found once.
    class KnownLengthSource* knownLength_ = nullptr;
    apache::thrift::transport::TMemoryBuffer* memory_ = nullptr;
};

// Transports that know how many bytes are left to read (the HTTP client
// transport once a reply body has arrived) implement this.
class KnownLengthSource {
public:
    virtual ~KnownLengthSource() = default;
    virtual uint64_t bytesRemaining() const = 0;
};

}  // namespace evernote
