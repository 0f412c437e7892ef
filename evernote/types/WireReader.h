// Reads the Thrift binary protocol straight from the bytes under a protocol,
// with the rules the Evernote clients rely on:
//   - a bool is true only when its byte is 1;
//   - a list, set or map count below 0 reads as 0;
//   - a string, binary, list, set or map whose length or count cannot fit in
//     what is left of the input fails before anything is allocated for it
//     (TTransportException END_OF_FILE), and lengths above the protocol's
//     limits fail (TProtocolException SIZE_LIMIT);
//   - what decoding makes is charged to an AllocationBudget, so decoding an
//     input never takes more than a small multiple of its size;
//   - nesting deeper than 64 fails (DEPTH_LIMIT); a type code that is none of
//     the wire's (0, 2, 3, 4, 6, 8, 10 to 15) fails (INVALID_DATA).
// Over a Thrift memory buffer or an InPlaceTransport the reader works on the
// transport's memory in place and knows the whole input; over any other
// transport it pulls exactly the bytes it needs. The bytes read are handed
// back to the transport by finish(); after a failure the transport is left
// where it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

#include <thrift/protocol/TProtocol.h>

#include "evernote/types/AllocationBudget.h"
#include "evernote/types/WireEndpoint.h"
#include "platform/foundation/Array.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/String.h"

namespace evernote {

using apache::thrift::protocol::TMessageType;
using apache::thrift::protocol::TType;

// The heap an object of class T takes: its size and what the allocator adds
// to every block; an exception adds its name and message texts.
template <class T>
constexpr size_t heapCost() {
    return sizeof(T) + 16 + (std::is_base_of_v<ns::Exception, T> ? 96 : 0);
}

struct MessageHeader {
    std::string name;
    TMessageType type = apache::thrift::protocol::T_CALL;
    int32_t seqid = 0;
};

class WireReader {
public:
    static constexpr int kMaxDepth = 64;
    // Estimates of what decoded values take on the heap, for the budget.
    template <class T>
    static constexpr size_t objectCost() { return heapCost<T>(); }
    // What one element adds to a list (its slot) or a map (its entry).
    static constexpr size_t kListSlotCost = sizeof(ns::Ref<ns::Object>);
    static constexpr size_t kMapEntryCost = 6 * sizeof(ns::Ref<ns::Object>);
    // What a string's text and a byte buffer add to their objects: a text
    // (and its NUL) lives in the string's own block, which it may round up
    // by a few bytes more; a non-empty buffer is a block of its own.
    static constexpr size_t textCost(size_t n) { return n + 1 + 8; }
    static constexpr size_t bufferCost(size_t n) { return n ? n + 16 : 0; }
    // The least a string, a boxed number or a nested container costs.
    static constexpr size_t kStringCost = heapCost<ns::String>();
    static constexpr size_t kNumberCost = heapCost<ns::Number>();
    static constexpr size_t kContainerCost = 128;

    explicit WireReader(apache::thrift::protocol::TProtocol& in);
    explicit WireReader(const WireEndpoint& endpoint);
    WireReader(const WireReader&) = delete;
    WireReader& operator=(const WireReader&) = delete;
    ~WireReader();

    // Hands the bytes read over to the transport.
    void finish();
    // How many bytes have been read so far.
    size_t bytesRead() const { return done_ + static_cast<size_t>(pos_ - start_); }

    // A message header, versioned or (unless strictRead) unversioned. Fails
    // with "Bad version in readMessageBegin" and "Missing version in
    // readMessageBegin, old client?"; a type byte outside 1 to 4 reads as 1.
    MessageHeader readMessageBegin(bool strictRead);
    // A field header: its type (T_STOP at the end of a struct, with id 0).
    TType readFieldBegin(int16_t& id) {
        TType type = typeCode(readByte());
        id = type == apache::thrift::protocol::T_STOP ? 0 : readI16();
        return type;
    }
    int8_t readByte() {
        need(1);
        return static_cast<int8_t>(*pos_++);
    }
    bool readBool() { return readByte() == 1; }
    int16_t readI16() { return static_cast<int16_t>(readBigEndian<uint16_t>()); }
    int32_t readI32() { return static_cast<int32_t>(readBigEndian<uint32_t>()); }
    int64_t readI64() { return static_cast<int64_t>(readBigEndian<uint64_t>()); }
    double readDouble() {
        uint64_t bits = readBigEndian<uint64_t>();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }

    // A string; nil when its bytes are not UTF-8.
    ns::Ref<ns::String> readString();
    // A binary value, copied once from the input into its buffer.
    ns::Ref<ns::Data> readBinary();
    // The bytes of a string or binary value, valid until the next read. Not
    // charged to the budget (nothing is kept).
    std::string_view readBytes();

    // Container headers: the count, checked against the limits, the bytes
    // left (every element takes at least one byte, every map entry two) and
    // the budget (every element or entry costs at least `elementCost` or
    // `entryCost` once read; 0 when skipping).
    // Element types are only checked to be wire types, and only when the
    // count is not 0 (T_STOP is answered then).
    uint32_t readListBegin(TType& elementType, size_t elementCost);
    uint32_t readMapBegin(TType& keyType, TType& valueType, size_t entryCost);

    // A fresh record of class T, charged to the budget, read to its stop byte.
    template <class T>
    ns::Ref<T> readRecord() {
        budget_.charge(objectCost<T>());
        Nesting nesting(*this);
        ns::Ref<T> record = adoptNew(new T());
        record->T::readFrom(*this);
        return record;
    }

    // A list whose elements each readElement(*this) returns; a nil element
    // (text that is not UTF-8) fails with INVALID_DATA.
    template <class ReadElement>
    ns::Ref<ns::Array> readList(size_t elementCost, ReadElement readElement) {
        Nesting nesting(*this);
        TType elementType;
        uint32_t count = readListBegin(elementType, kListSlotCost + elementCost);
        budget_.charge(kContainerCost + count * kListSlotCost);
        auto list = ns::MutableArray::make(count);
        for (uint32_t i = 0; i < count; ++i) list->addObject(nonNil(readElement(*this)));
        return list;
    }
    // A map with string keys whose values readValue(*this) returns.
    template <class ReadValue>
    ns::Ref<ns::Dictionary> readStringMap(size_t valueCost, ReadValue readValue) {
        Nesting nesting(*this);
        TType keyType, valueType;
        uint32_t count = readMapBegin(keyType, valueType, kMapEntryCost + kStringCost + valueCost);
        budget_.charge(kContainerCost + count * kMapEntryCost);
        auto map = ns::MutableDictionary::make(count);
        for (uint32_t i = 0; i < count; ++i) {
            ns::Ref<ns::Object> key = nonNil(readString());
            map->setObjectForKey(nonNil(readValue(*this)), std::move(key));
        }
        return map;
    }

    // Boxed numbers, for container elements.
    ns::Ref<ns::Object> readBoolNumber();
    ns::Ref<ns::Object> readI16Number();
    ns::Ref<ns::Object> readI32Number();
    ns::Ref<ns::Object> readI64Number();
    ns::Ref<ns::Object> readDoubleNumber();

    // Skips a value of the given type, nested values included, through the
    // same checks as reading.
    void skip(TType type);

    const AllocationBudget& budget() const { return budget_; }

    // One level of nesting for the depth limit; a record read at the top
    // takes one too.
    class Nesting {
    public:
        explicit Nesting(WireReader& reader) : reader_(reader) {
            if (++reader_.depth_ > kMaxDepth) reader_.failDepth();
        }
        ~Nesting() { --reader_.depth_; }

    private:
        WireReader& reader_;
    };

private:
    // A new object's first reference, counted without an atomic operation:
    // no other thread can see the object yet.
    template <class T>
    static ns::Ref<T> adoptNew(T* object) {
        object->setInitialReferences(1);
        return ns::Ref<T>::adopt(object);
    }
    template <class T>
    T readBigEndian() {
        need(sizeof(T));
        T v;
        std::memcpy(&v, pos_, sizeof v);
        pos_ += sizeof v;
        if constexpr (sizeof(T) == 2) return __builtin_bswap16(v);
        else if constexpr (sizeof(T) == 4) return __builtin_bswap32(v);
        else return __builtin_bswap64(v);
    }
    void need(size_t n) {
        if (static_cast<size_t>(end_ - pos_) < n) fill(n);
    }
    // Slow path of need(): pulls from a stream, or fails at the end of a
    // whole input.
    void fill(size_t n);
    // Fails unless `n` more bytes can still be read (the whole input is
    // known), or, from a stream, makes them readable.
    void requireBytes(uint64_t n, const char* what);
    size_t readLength(int32_t limit) {
        int32_t size = readI32();
        bool fits = size >= 0 && (limit <= 0 || size <= limit) &&
                    static_cast<size_t>(size) <= static_cast<size_t>(end_ - pos_);
        if (!fits) return checkLength(size, limit);
        return static_cast<size_t>(size);
    }
    // The slow path of readLength: fails, or pulls the bytes from a stream.
    size_t checkLength(int32_t size, int32_t limit);
    std::string_view take(size_t n) {
        const char* p = reinterpret_cast<const char*>(pos_);
        pos_ += n;
        return {p, n};
    }
    uint32_t readCount(size_t minimumBytesEach, size_t costEach);
    // The wire's type codes: 0, 2, 3, 4, 6, 8, 10 to 15.
    static constexpr uint32_t kTypeCodes = 0xfd5d;
    TType typeCode(int8_t code) {
        if (static_cast<uint8_t>(code) >= 16 || !((kTypeCodes >> code) & 1)) failTypeCode();
        return static_cast<TType>(code);
    }
    [[noreturn]] static void failTypeCode();
    [[noreturn]] void failDepth();
    template <class T>
    static ns::Ref<T> nonNil(ns::Ref<T> value) {
        if (!value) failNilElement();
        return value;
    }
    [[noreturn]] static void failNilElement();

    WireEndpoint endpoint_;
    const uint8_t* start_ = nullptr;
    const uint8_t* pos_ = nullptr;
    const uint8_t* end_ = nullptr;
    // Bytes read before start_.
    size_t done_ = 0;
    // Whether [start_, end_) is the whole input, in the transport's memory.
    bool whole_ = false;
    // From a stream: the bytes pulled so far that are not yet read.
    std::unique_ptr<uint8_t[]> pulled_;
    size_t pulledCapacity_ = 0;
    int depth_ = 0;
    AllocationBudget budget_{0};
};

}  // namespace evernote
