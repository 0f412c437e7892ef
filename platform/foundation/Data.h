// Byte buffers, immutable with a mutable subclass.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Object.h"

namespace ns {

class Data : public Object {
public:
    Data() = default;
    explicit Data(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    Data(const void* p, size_t n)
        : bytes_(static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n) {}

    const char* className() const override { return "Data"; }
    std::string description() const override;  // "<68656c6c 6f>"
    bool isEqual(const Object& other) const override;
    size_t hash() const override;

    static Ref<Data> make(const void* p, size_t n) { return ns::make<Data>(p, n); }
    static Ref<Data> make(std::string_view s) { return ns::make<Data>(s.data(), s.size()); }
    static Ref<Data> make(std::vector<uint8_t> v) { return ns::make<Data>(std::move(v)); }

    const uint8_t* bytes() const { return bytes_.data(); }
    size_t length() const { return bytes_.size(); }
    const std::vector<uint8_t>& vector() const { return bytes_; }
    std::string_view view() const {
        return {reinterpret_cast<const char*>(bytes_.data()), bytes_.size()};
    }
    Ref<Data> subdataWithRange(size_t location, size_t length) const;  // clamps

protected:
    std::vector<uint8_t> bytes_;
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
    void appendBytes(const void* p, size_t n) {
        auto* b = static_cast<const uint8_t*>(p);
        bytes_.insert(bytes_.end(), b, b + n);
    }
    void appendData(const Data& d) { appendBytes(d.bytes(), d.length()); }
    void appendString(std::string_view s) { appendBytes(s.data(), s.size()); }
    void setLength(size_t n) { bytes_.resize(n); }
    void replaceBytes(size_t location, size_t length, const void* p, size_t n);
    uint8_t* mutableBytes() { return bytes_.data(); }
    std::vector<uint8_t>& mutableVector() { return bytes_; }
};

}  // namespace ns
