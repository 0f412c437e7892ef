#include "platform/foundation/Data.h"

#include <algorithm>
#include <stdexcept>

namespace ns {

std::string Data::description() const {
    static const char* hex = "0123456789abcdef";
    const uint8_t* b = bytes();
    std::string out = "<";
    for (size_t i = 0; i < length(); ++i) {
        if (i && i % 4 == 0) out.push_back(' ');
        out.push_back(hex[b[i] >> 4]);
        out.push_back(hex[b[i] & 15]);
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
    return std::hash<std::string_view>()(view().substr(0, 80)) ^ length();
}

Ref<Data> Data::subdataWithRange(size_t location, size_t length) const {
    location = std::min(location, this->length());
    length = std::min(length, this->length() - location);
    return make(bytes() + location, length);
}

size_t MutableData::checkedRoom(size_t n) const {
    if (n > ByteBuffer::kMaxSize - length()) throw std::length_error("MutableData::increaseLengthBy: more than the largest size");
    return n;
}

}  // namespace ns
