#include "evernote/types/BinaryProtocol.h"

#include <thrift/protocol/TProtocolException.h>
#include <thrift/transport/TBufferTransports.h>
#include <thrift/transport/TTransportException.h>

namespace evernote {

using namespace apache::thrift::protocol;
using apache::thrift::transport::TMemoryBuffer;
using apache::thrift::transport::TTransport;
using apache::thrift::transport::TTransportException;

namespace {
constexpr uint32_t kVersionMask = 0xffff0000u;
constexpr uint32_t kVersion1 = 0x80010000u;
TMessageType messageType(int code) {
    return code >= T_CALL && code <= T_ONEWAY ? static_cast<TMessageType>(code) : T_CALL;
}
}  // namespace

BinaryProtocol::BinaryProtocol(std::shared_ptr<TTransport> transport, bool strictRead,
                               bool strictWrite, int32_t stringLimit, int32_t containerLimit)
    : TBinaryProtocol(std::move(transport), stringLimit, containerLimit, strictRead, strictWrite),
      knownLength_(dynamic_cast<KnownLengthSource*>(trans_)),
      memory_(dynamic_cast<TMemoryBuffer*>(trans_)) {}

void BinaryProtocol::requireAvailable(uint64_t bytes) {
    if (knownLength_) {
        if (bytes > knownLength_->bytesRemaining())
            throw TTransportException(TTransportException::END_OF_FILE,
                                      "length exceeds the bytes left in the reply");
    } else if (memory_) {
        if (bytes > memory_->available_read())
            throw TTransportException(TTransportException::END_OF_FILE,
                                      "length exceeds the bytes left in the buffer");
    }
    trans_->checkReadBytesAvailable(static_cast<long>(bytes));
}

uint32_t BinaryProtocol::readSizedBytes(std::string& str, int32_t size) {
    if (size < 0) throw TProtocolException(TProtocolException::NEGATIVE_SIZE);
    if (string_limit_ > 0 && size > string_limit_)
        throw TProtocolException(TProtocolException::SIZE_LIMIT);
    requireAvailable(static_cast<uint64_t>(size));
    return readStringBody(str, size);
}

uint32_t BinaryProtocol::readMessageBegin_virt(std::string& name, TMessageType& type,
                                               int32_t& seqid) {
    uint32_t result = 0;
    int32_t sz = 0;
    result += readI32(sz);
    if (sz < 0) {
        if ((static_cast<uint32_t>(sz) & kVersionMask) != kVersion1)
            throw TProtocolException(TProtocolException::BAD_VERSION,
                                     "Bad version in readMessageBegin");
        type = messageType(static_cast<int>(static_cast<uint32_t>(sz) & 0xffu));
        result += readString_virt(name);
        result += readI32(seqid);
        return result;
    }
    if (strict_read_)
        throw TProtocolException(TProtocolException::BAD_VERSION,
                                 "Missing version in readMessageBegin, old client?");
    result += readSizedBytes(name, sz);
    int8_t t = 0;
    result += readByte(t);
    type = messageType(t);
    result += readI32(seqid);
    return result;
}

TType BinaryProtocol::typeCode(int8_t code) {
    switch (code) {
    case T_STOP: case T_BOOL: case T_BYTE: case T_DOUBLE: case T_I16: case T_I32: case T_I64:
    case T_STRING: case T_STRUCT: case T_MAP: case T_SET: case T_LIST:
        return static_cast<TType>(code);
    default:
        throw TProtocolException(TProtocolException::INVALID_DATA, "invalid TType");
    }
}

uint32_t BinaryProtocol::readFieldBegin_virt(std::string& name, TType& fieldType, int16_t& fieldId) {
    (void)name;
    int8_t type = 0;
    uint32_t n = readByte(type);
    fieldType = typeCode(type);
    if (fieldType == T_STOP) {
        fieldId = 0;
        return n;
    }
    return n + readI16(fieldId);
}

uint32_t BinaryProtocol::readBool_virt(bool& value) {
    int8_t b = 0;
    uint32_t n = readByte(b);
    value = b == 1;
    return n;
}

uint32_t BinaryProtocol::readBool_virt(std::vector<bool>::reference value) {
    bool v = false;
    uint32_t n = readBool_virt(v);
    value = v;
    return n;
}

uint32_t BinaryProtocol::readString_virt(std::string& str) {
    int32_t size = 0;
    uint32_t n = readI32(size);
    return n + readSizedBytes(str, size);
}

uint32_t BinaryProtocol::readBinary_virt(std::string& str) { return readString_virt(str); }

uint32_t BinaryProtocol::readCount(uint32_t& size) {
    int32_t count = 0;
    uint32_t n = readI32(count);
    if (count < 0) count = 0;
    if (container_limit_ && count > container_limit_)
        throw TProtocolException(TProtocolException::SIZE_LIMIT);
    // Every element takes at least one byte, whatever its type.
    requireAvailable(static_cast<uint64_t>(count));
    size = static_cast<uint32_t>(count);
    return n;
}

uint32_t BinaryProtocol::readListBegin_virt(TType& elemType, uint32_t& size) {
    int8_t e = 0;
    uint32_t n = readByte(e);
    n += readCount(size);
    // The element type only matters when there are elements to read or skip.
    elemType = size ? typeCode(e) : T_STOP;
    return n;
}

uint32_t BinaryProtocol::readSetBegin_virt(TType& elemType, uint32_t& size) {
    return readListBegin_virt(elemType, size);
}

uint32_t BinaryProtocol::readMapBegin_virt(TType& keyType, TType& valType, uint32_t& size) {
    int8_t k = 0, v = 0;
    uint32_t n = readByte(k);
    n += readByte(v);
    n += readCount(size);
    keyType = size ? typeCode(k) : T_STOP;
    valType = size ? typeCode(v) : T_STOP;
    // A pair takes at least two bytes.
    requireAvailable(static_cast<uint64_t>(size) * 2);
    return n;
}

uint32_t BinaryProtocol::skip_virt(TType type) {
    // The generic skip over the virtual interface, so that skipped strings and
    // containers pass the same length checks as read ones.
    return apache::thrift::protocol::skip(static_cast<TProtocol&>(*this), type);
}

}  // namespace evernote
