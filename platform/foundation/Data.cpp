#include "platform/foundation/Data.h"

#include <algorithm>

#include "platform/foundation/Exception.h"

namespace ns {

std::string Data::description() const {
    static const char* hex = "0123456789abcdef";
    std::string out = "<";
    for (size_t i = 0; i < bytes_.size(); ++i) {
        if (i && i % 4 == 0) out.push_back(' ');
        out.push_back(hex[bytes_[i] >> 4]);
        out.push_back(hex[bytes_[i] & 15]);
    }
    out.push_back('>');
    return out;
}

bool Data::isEqual(const Object& other) const {
    if (this == &other) return true;
    auto* d = dynamic_cast<const Data*>(&other);
    return d && d->bytes_ == bytes_;
}

size_t Data::hash() const {
    // Hashing a prefix keeps large blobs cheap to key.
    return std::hash<std::string_view>()(view().substr(0, 80)) ^ bytes_.size();
}

Ref<Data> Data::subdataWithRange(size_t location, size_t length) const {
    location = std::min(location, bytes_.size());
    length = std::min(length, bytes_.size() - location);
    return make(bytes_.data() + location, length);
}

void MutableData::replaceBytes(size_t location, size_t length, const void* p, size_t n) {
    if (location > bytes_.size() || length > bytes_.size() - location)
        throw Exception(kRangeException, "replaceBytes range beyond bounds");
    auto* b = static_cast<const uint8_t*>(p);
    bytes_.erase(bytes_.begin() + static_cast<long>(location), bytes_.begin() + static_cast<long>(location + length));
    bytes_.insert(bytes_.begin() + static_cast<long>(location), b, b + n);
}

}  // namespace ns
