// The Thrift binary protocol as the Evernote clients use it: strict read and
// strict write off (calls carry the unversioned message header: name, type
// byte, sequence id). Records read and write through a WireReader and a
// WireWriter on this protocol's endpoint; the protocol's own reading
// operations (message headers, field headers, strings, container headers,
// skipping) apply the WireReader's rules too, so that code reading through
// the protocol (application exceptions, message headers) meets the same
// checks. Every failure is a TProtocolException or TTransportException.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TTransport.h>

#include "evernote/types/WireEndpoint.h"

namespace evernote {

class BinaryProtocol : public apache::thrift::protocol::TBinaryProtocol {
public:
    static constexpr int32_t kDefaultStringLimit = evernote::kDefaultStringLimit;
    static constexpr int32_t kDefaultContainerLimit = evernote::kDefaultContainerLimit;

    explicit BinaryProtocol(std::shared_ptr<apache::thrift::transport::TTransport> transport,
                            bool strictRead = false, bool strictWrite = false,
                            int32_t stringLimit = kDefaultStringLimit,
                            int32_t containerLimit = kDefaultContainerLimit);

    // The transport, its in-place access and this protocol's limits, found
    // once.
    const WireEndpoint& endpoint() const { return endpoint_; }

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
    WireEndpoint endpoint_;
};

}  // namespace evernote
