// Byte buffers, immutable with a mutable subclass.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/ByteBuffer.h"
#include "platform/foundation/Object.h"

namespace ns {

class Data : public Object {
public:
    Data() = default;
    explicit Data(ByteBuffer bytes) : bytes_(std::move(bytes)) {}
    explicit Data(const std::vector<uint8_t>& bytes) : bytes_(bytes.data(), bytes.size()) {}
    Data(const void* p, size_t n) : bytes_(p, n) {}

    const char* className() const override { return "Data"; }
    std::string description() const override;  // "<68656c6c 6f>"
    bool isEqual(const Object& other) const override;
    size_t hash() const override;

    static Ref<Data> make(const void* p, size_t n) { return ns::make<Data>(p, n); }
    static Ref<Data> make(std::string_view s) { return ns::make<Data>(s.data(), s.size()); }
    static Ref<Data> make(const std::vector<uint8_t>& v) { return ns::make<Data>(v); }
    // Takes the buffer's bytes over without copying them.
    static Ref<Data> make(ByteBuffer b) { return ns::make<Data>(std::move(b)); }

    // Never null, also when empty.
    const uint8_t* bytes() const { return bytes_.data(); }
    size_t length() const { return bytes_.size(); }
    std::string_view view() const { return bytes_.view(); }
    Ref<Data> subdataWithRange(size_t location, size_t length) const;  // clamps

protected:
    ByteBuffer bytes_;
};

class MutableData : public Data {
public:
    using Data::Data;
    const char* className() const override { return "MutableData"; }
    static Ref<MutableData> make(size_t capacity = 0) {
        auto d = ns::make<MutableData>();
        d->bytes_.reserve(capacity);
        return d;
    }
    void appendBytes(const void* p, size_t n) { bytes_.append(p, n); }
    void appendData(const Data& d) { appendBytes(d.bytes(), d.length()); }
    void appendString(std::string_view s) { appendBytes(s.data(), s.size()); }
    // Both zero-fill the bytes they add.
    void setLength(size_t n) { bytes_.resize(n); }
    void increaseLengthBy(size_t n) { bytes_.resize(bytes_.size() + checkedRoom(n)); }
    void replaceBytes(size_t location, size_t length, const void* p, size_t n) {
        bytes_.replace(location, length, p, n);
    }
    uint8_t* mutableBytes() { return bytes_.data(); }

    // Appending without zero-filling first: room for at least n more bytes
    // past the end (not zero, not yet part of the data), then the count of
    // them that were written. The room pointer is stale after any other
    // change to the data; committing more than the room throws a range
    // exception; an impossible size throws std::length_error.
    uint8_t* roomToAppend(size_t n) { return bytes_.room(n); }
    void commitAppended(size_t n) { bytes_.commit(n); }
    // Bytes the data holds without growing, and room made up front.
    size_t capacity() const { return bytes_.capacity(); }
    void reserveCapacity(size_t capacity) { bytes_.reserve(capacity); }

private:
    size_t checkedRoom(size_t n) const;
};

}  // namespace ns
