#include "evernote/types/WireReader.h"

#include <algorithm>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <thrift/Thrift.h>
#include <thrift/protocol/TProtocolException.h>
#include <thrift/transport/TTransportException.h>

namespace evernote {

using namespace apache::thrift::protocol;
using apache::thrift::transport::TTransportException;

namespace {

// Plain ASCII is checked 64 bytes at a time; from the first other byte on,
// the full check.
bool isUTF8(const char* p, size_t n) {
    size_t i = 0;
#if defined(__SSE2__)
    auto load = [p](size_t at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at)); };
    for (; i + 64 <= n; i += 64) {
        __m128i any = _mm_or_si128(_mm_or_si128(load(i), load(i + 16)), _mm_or_si128(load(i + 32), load(i + 48)));
        if (_mm_movemask_epi8(any)) break;
    }
#endif
    for (; i + 8 <= n; i += 8) {
        uint64_t word;
        std::memcpy(&word, p + i, sizeof word);
        if (word & 0x8080808080808080ull) break;
    }
    for (; i < n; ++i)
        if (static_cast<unsigned char>(p[i]) & 0x80) return ns::isValidUTF8(p + i, n - i);
    return true;
}

// The least room a stream buffer grows by, so that small reads do not each
// reallocate.
constexpr size_t kStreamChunk = 4096;

}  // namespace

WireReader::WireReader(TProtocol& in) : WireReader(WireEndpoint::of(in)) {}

WireReader::WireReader(const WireEndpoint& endpoint) : endpoint_(endpoint) {
    size_t length = 0;
    if (endpoint_.memory) {
        uint32_t available = endpoint_.memory->available_read();
        start_ = endpoint_.memory->borrow(nullptr, &available);
        length = start_ ? available : 0;
        whole_ = true;
    } else if (endpoint_.inPlace) {
        start_ = endpoint_.inPlace->unreadBytes(length);
        whole_ = true;
    }
    pos_ = start_;
    end_ = start_ + length;
    budget_ = AllocationBudget(length);
}

WireReader::~WireReader() = default;

void WireReader::finish() {
    size_t used = static_cast<size_t>(pos_ - start_);
    if (endpoint_.memory) {
        if (used) endpoint_.memory->consume(static_cast<uint32_t>(used));
    } else if (endpoint_.inPlace) {
        endpoint_.inPlace->consumeBytes(used);
    }
    done_ += used;
    start_ = pos_;
}

void WireReader::fill(size_t n) {
    size_t available = static_cast<size_t>(end_ - pos_);
    if (whole_)
        throw TTransportException(TTransportException::END_OF_FILE,
                                  "input ends " + std::to_string(n - available) + " bytes early");
    // From a stream: keep the unread bytes at the front and pull the rest, in
    // chunks that at most double what has arrived, so that memory follows
    // the bytes that really come.
    done_ += static_cast<size_t>(pos_ - start_);
    uint8_t* buffer = pulled_.get();
    if (available && pos_ != buffer) std::memmove(buffer, pos_, available);
    while (available < n) {
        if (available == pulledCapacity_) {
            size_t capacity = std::min(n, std::max(kStreamChunk, 2 * pulledCapacity_));
            auto grown = std::make_unique<uint8_t[]>(capacity);
            if (available) std::memcpy(grown.get(), pulled_.get(), available);
            pulled_ = std::move(grown);
            pulledCapacity_ = capacity;
        }
        size_t chunk = std::min(n, pulledCapacity_) - available;
        endpoint_.transport->readAll(pulled_.get() + available, static_cast<uint32_t>(chunk));
        budget_.addInput(chunk);
        available += chunk;
    }
    start_ = pos_ = pulled_.get();
    end_ = pos_ + available;
}

void WireReader::requireBytes(uint64_t n, const char* what) {
    size_t left = static_cast<size_t>(end_ - pos_);
    if (n <= left) return;
    if (whole_)
        throw TTransportException(TTransportException::END_OF_FILE,
                                  std::string(what) + " needs " + std::to_string(n) + " bytes, more than the " +
                                      std::to_string(left) + " left in the input");
    need(static_cast<size_t>(n));
}

size_t WireReader::checkLength(int32_t size, int32_t limit) {
    if (size < 0) throw TProtocolException(TProtocolException::NEGATIVE_SIZE);
    if (limit > 0 && size > limit) throw TProtocolException(TProtocolException::SIZE_LIMIT);
    requireBytes(static_cast<uint64_t>(size), "a string or binary value");
    return static_cast<size_t>(size);
}

std::string_view WireReader::readBytes() { return take(readLength(endpoint_.stringLimit)); }

ns::Ref<ns::String> WireReader::readString() {
    size_t n = readLength(endpoint_.stringLimit);
    budget_.charge(kStringCost + textCost(n));
    std::string_view text = take(n);
    if (!isUTF8(text.data(), n)) return nullptr;
    return adoptNew(ns::String::allocate(text));
}

ns::Ref<ns::Data> WireReader::readBinary() {
    size_t n = readLength(endpoint_.stringLimit);
    budget_.charge(objectCost<ns::Data>() + bufferCost(n));
    auto data = adoptNew(new ns::Data(pos_, n));
    pos_ += n;
    return data;
}

MessageHeader WireReader::readMessageBegin(bool strictRead) {
    constexpr uint32_t kVersionMask = 0xffff0000u;
    constexpr uint32_t kVersion1 = 0x80010000u;
    auto messageType = [](int code) {
        return code >= T_CALL && code <= T_ONEWAY ? static_cast<TMessageType>(code) : T_CALL;
    };
    MessageHeader header;
    int32_t first = readI32();
    if (first < 0) {
        if ((static_cast<uint32_t>(first) & kVersionMask) != kVersion1)
            throw TProtocolException(TProtocolException::BAD_VERSION, "Bad version in readMessageBegin");
        header.type = messageType(static_cast<int>(static_cast<uint32_t>(first) & 0xffu));
        header.name = readBytes();
    } else {
        if (strictRead)
            throw TProtocolException(TProtocolException::BAD_VERSION,
                                     "Missing version in readMessageBegin, old client?");
        header.name = take(checkLength(first, endpoint_.stringLimit));
        header.type = messageType(readByte());
    }
    header.seqid = readI32();
    return header;
}

void WireReader::failTypeCode() {
    throw TProtocolException(TProtocolException::INVALID_DATA, "invalid TType");
}

uint32_t WireReader::readCount(size_t minimumBytesEach, size_t costEach) {
    int32_t count = readI32();
    if (count <= 0) return 0;
    if (endpoint_.containerLimit > 0 && count > endpoint_.containerLimit)
        throw TProtocolException(TProtocolException::SIZE_LIMIT);
    requireBytes(static_cast<uint64_t>(count) * minimumBytesEach, "a list, set or map");
    budget_.require(static_cast<size_t>(count) * costEach);
    return static_cast<uint32_t>(count);
}

uint32_t WireReader::readListBegin(TType& elementType, size_t elementCost) {
    int8_t code = readByte();
    uint32_t count = readCount(1, elementCost);
    elementType = count ? typeCode(code) : T_STOP;
    return count;
}

uint32_t WireReader::readMapBegin(TType& keyType, TType& valueType, size_t entryCost) {
    int8_t keyCode = readByte();
    int8_t valueCode = readByte();
    uint32_t count = readCount(2, entryCost);
    keyType = count ? typeCode(keyCode) : T_STOP;
    valueType = count ? typeCode(valueCode) : T_STOP;
    return count;
}

ns::Ref<ns::Object> WireReader::readBoolNumber() {
    budget_.charge(kNumberCost);
    return ns::Number::numberWithBool(readBool());
}
ns::Ref<ns::Object> WireReader::readI16Number() {
    budget_.charge(kNumberCost);
    return ns::Number::numberWithShort(readI16());
}
ns::Ref<ns::Object> WireReader::readI32Number() {
    budget_.charge(kNumberCost);
    return ns::Number::numberWithInt(readI32());
}
ns::Ref<ns::Object> WireReader::readI64Number() {
    budget_.charge(kNumberCost);
    return ns::Number::numberWithLongLong(readI64());
}
ns::Ref<ns::Object> WireReader::readDoubleNumber() {
    budget_.charge(kNumberCost);
    return ns::Number::numberWithDouble(readDouble());
}

void WireReader::skip(TType type) {
    switch (type) {
    case T_BOOL: case T_BYTE: need(1); pos_ += 1; return;
    case T_I16: need(2); pos_ += 2; return;
    case T_I32: need(4); pos_ += 4; return;
    case T_I64: case T_DOUBLE: need(8); pos_ += 8; return;
    case T_STRING: readBytes(); return;
    case T_STRUCT: {
        Nesting nesting(*this);
        int16_t id;
        for (TType field; (field = readFieldBegin(id)) != T_STOP;) skip(field);
        return;
    }
    case T_MAP: {
        Nesting nesting(*this);
        TType keyType, valueType;
        for (uint32_t n = readMapBegin(keyType, valueType, 0); n > 0; --n) {
            skip(keyType);
            skip(valueType);
        }
        return;
    }
    case T_SET: case T_LIST: {
        Nesting nesting(*this);
        TType elementType;
        for (uint32_t n = readListBegin(elementType, 0); n > 0; --n) skip(elementType);
        return;
    }
    default:
        throw TProtocolException(TProtocolException::INVALID_DATA, "invalid TType");
    }
}

void WireReader::failDepth() {
    throw TProtocolException(TProtocolException::DEPTH_LIMIT);
}

void WireReader::failNilElement() {
    throw TProtocolException(TProtocolException::INVALID_DATA, "container element is not valid UTF-8 text");
}

}  // namespace evernote
