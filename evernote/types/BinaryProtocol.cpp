#include "evernote/types/BinaryProtocol.h"

#include "evernote/types/WireReader.h"

namespace evernote {

using namespace apache::thrift::protocol;
using apache::thrift::transport::TTransport;

namespace {

// Runs one read of the wire reader on the protocol's endpoint and hands the
// bytes it took back to the transport; answers their count.
template <class Read>
uint32_t readOnce(const WireEndpoint& endpoint, Read read) {
    WireReader reader(endpoint);
    read(reader);
    uint32_t used = static_cast<uint32_t>(reader.bytesRead());
    reader.finish();
    return used;
}

}  // namespace

BinaryProtocol::BinaryProtocol(std::shared_ptr<TTransport> transport, bool strictRead,
                               bool strictWrite, int32_t stringLimit, int32_t containerLimit)
    : TBinaryProtocol(std::move(transport), stringLimit, containerLimit, strictRead, strictWrite),
      endpoint_(WireEndpoint::ofTransport(trans_)) {
    endpoint_.protocol = this;
    endpoint_.stringLimit = stringLimit;
    endpoint_.containerLimit = containerLimit;
    endpoint_.ownsHeaders = true;
    endpoint_.strictWrite = strictWrite;
}

uint32_t BinaryProtocol::readMessageBegin_virt(std::string& name, TMessageType& type, int32_t& seqid) {
    return readOnce(endpoint_, [&](WireReader& r) {
        MessageHeader header = r.readMessageBegin(strict_read_);
        name = std::move(header.name);
        type = header.type;
        seqid = header.seqid;
    });
}

uint32_t BinaryProtocol::readFieldBegin_virt(std::string&, TType& fieldType, int16_t& fieldId) {
    return readOnce(endpoint_, [&](WireReader& r) { fieldType = r.readFieldBegin(fieldId); });
}

uint32_t BinaryProtocol::readBool_virt(bool& value) {
    return readOnce(endpoint_, [&](WireReader& r) { value = r.readBool(); });
}

uint32_t BinaryProtocol::readBool_virt(std::vector<bool>::reference value) {
    bool v = false;
    uint32_t n = readBool_virt(v);
    value = v;
    return n;
}

uint32_t BinaryProtocol::readString_virt(std::string& str) {
    return readOnce(endpoint_, [&](WireReader& r) { str = r.readBytes(); });
}

uint32_t BinaryProtocol::readBinary_virt(std::string& str) { return readString_virt(str); }

uint32_t BinaryProtocol::readListBegin_virt(TType& elemType, uint32_t& size) {
    return readOnce(endpoint_, [&](WireReader& r) { size = r.readListBegin(elemType, 0); });
}

uint32_t BinaryProtocol::readSetBegin_virt(TType& elemType, uint32_t& size) {
    return readListBegin_virt(elemType, size);
}

uint32_t BinaryProtocol::readMapBegin_virt(TType& keyType, TType& valType, uint32_t& size) {
    return readOnce(endpoint_, [&](WireReader& r) { size = r.readMapBegin(keyType, valType, 0); });
}

uint32_t BinaryProtocol::skip_virt(TType type) {
    return readOnce(endpoint_, [&](WireReader& r) { r.skip(type); });
}

}  // namespace evernote
