// Writes the Thrift binary protocol straight into the memory under a
// protocol. Over a Thrift memory buffer or an InPlaceTransport the bytes go
// into the transport's output buffer in place (a string or binary value is
// copied once, from its object into the output) and become part of the output
// only at finish(): a write that fails midway (a list element of the wrong
// class) leaves the output as it was. Over any other transport the bytes
// collect in a small buffer of the writer's own and go out in chunks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include <thrift/protocol/TProtocol.h>

#include "evernote/types/WireEndpoint.h"
#include "platform/foundation/Array.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/String.h"

namespace evernote {

using apache::thrift::protocol::TMessageType;
using apache::thrift::protocol::TType;

class WireWriter {
public:
    explicit WireWriter(apache::thrift::protocol::TProtocol& out);
    explicit WireWriter(const WireEndpoint& endpoint);
    WireWriter(const WireWriter&) = delete;
    WireWriter& operator=(const WireWriter&) = delete;

    // Makes what was written part of the transport's output.
    void finish();

    // The message header in the protocol's form (name, type byte and
    // sequence id with strict write off; the versioned form with it on).
    void writeMessageBegin(std::string_view name, TMessageType type, int32_t seqid);
    void writeFieldBegin(TType type, int16_t id) {
        room(3);
        *pos_++ = static_cast<uint8_t>(type);
        putBigEndian(static_cast<uint16_t>(id));
    }
    void writeFieldStop() { writeByte(0); }
    void writeByte(int8_t v) {
        room(1);
        *pos_++ = static_cast<uint8_t>(v);
    }
    void writeBool(bool v) { writeByte(v ? 1 : 0); }
    void writeI16(int16_t v) { put(static_cast<uint16_t>(v)); }
    void writeI32(int32_t v) { put(static_cast<uint32_t>(v)); }
    void writeI64(int64_t v) { put(static_cast<uint64_t>(v)); }
    void writeDouble(double v) {
        uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        put(bits);
    }
    // A string or binary value: its byte count, then every byte (a NUL inside
    // is kept).
    void writeBytes(std::string_view bytes);
    void writeListBegin(TType elementType, uint32_t count);
    void writeMapBegin(TType keyType, TType valueType, uint32_t count);

    // A list: its header, then writeElement(*this, element) for each element
    // in order.
    template <class WriteElement>
    void writeList(TType elementType, const ns::Array& list, WriteElement writeElement) {
        writeListBegin(elementType, static_cast<uint32_t>(list.count()));
        for (ns::Object* e : list) writeElement(*this, *e);
    }
    // A map with string keys, in the dictionary's order; a key that is not a
    // string fails with INVALID_DATA naming the field.
    template <class WriteValue>
    void writeStringMap(TType valueType, const ns::Dictionary& map, const char* field,
                        WriteValue writeValue) {
        size_t n = map.count();
        writeMapBegin(apache::thrift::protocol::T_STRING, valueType, static_cast<uint32_t>(n));
        for (size_t i = 0; i < n; ++i) {
            writeBytes(stringKey(*map.keyAtIndex(i), field));
            writeValue(*this, *map.valueAtIndex(i));
        }
    }

    // Boxed numbers, for container elements: i32 is the number's value taken
    // to 32 bits.
    void writeBoolNumber(const ns::Number& n) { writeBool(n.boolValue()); }
    void writeI16Number(const ns::Number& n) { writeI16(static_cast<int16_t>(n.longLongValue())); }
    void writeI32Number(const ns::Number& n) { writeI32(static_cast<int32_t>(n.longValue())); }
    void writeI64Number(const ns::Number& n) { writeI64(static_cast<int64_t>(n.longLongValue())); }
    void writeDoubleNumber(const ns::Number& n) { writeDouble(n.doubleValue()); }

private:
    static std::string_view stringKey(ns::Object& key, const char* field);
    void room(size_t n) {
        if (static_cast<size_t>(end_ - pos_) < n) grow(n);
    }
    // Makes room for n more bytes: a bigger output buffer, or the writer's
    // own buffer sent on.
    void grow(size_t n);
    void sendBuffered();
    template <class T>
    void put(T v) {
        room(sizeof v);
        putBigEndian(v);
    }
    template <class T>
    void putBigEndian(T v) {
        if constexpr (sizeof(T) == 2) v = __builtin_bswap16(v);
        else if constexpr (sizeof(T) == 4) v = __builtin_bswap32(v);
        else v = __builtin_bswap64(v);
        std::memcpy(pos_, &v, sizeof v);
        pos_ += sizeof v;
    }

    WireEndpoint endpoint_;
    // The output buffer written in place, or nil for a stream.
    apache::thrift::transport::TMemoryBuffer* output_ = nullptr;
    uint8_t* start_ = nullptr;
    uint8_t* pos_ = nullptr;
    uint8_t* end_ = nullptr;
    uint8_t own_[512];
};

}  // namespace evernote
