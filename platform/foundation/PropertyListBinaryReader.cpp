// A reader for binary property lists ("bplist00").
//
// Layout: the 8-byte magic, the objects, a table of object offsets, and a
// 32-byte trailer giving the offset size, the reference size, the object
// count, the root object and where the offset table starts. Nothing in the
// file is trusted: the trailer is checked against the file size, every
// offset and length against the object area, every reference against the
// object count; counts are checked against the bytes that could hold them
// before anything is allocated, and an object that refers back to a
// container still being read (a cycle) is refused.

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/foundation/Data.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/PropertyListInternal.h"
#include "platform/foundation/String.h"

namespace ns::plist {

namespace {

uint64_t readBE(const uint8_t* p, size_t n) {
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v = (v << 8) | p[i];
    return v;
}

class BinaryReader {
public:
    BinaryReader(std::string_view doc, const PropertyListReadOptions& o)
        : d_(reinterpret_cast<const uint8_t*>(doc.data())), size_(doc.size()), opt_(o) {}

    Ref<Object> run(Ref<Error>* error) {
        Ref<Object> root = document();
        if (!root && error) *error = error_ ? error_ : makeError(kPropertyListReadCorruptError, "unreadable");
        return root;
    }

private:
    enum : uint8_t { kUnread = 0, kReading = 1, kDone = 2 };

    Ref<Object> fail(std::string what, size_t offset, long code = kPropertyListReadCorruptError) {
        if (!error_)
            error_ = makeError(code, "binary property list, offset " + std::to_string(offset) + ": " + what);
        return nullptr;
    }

    Ref<Object> document() {
        if (size_ > opt_.maxBytes)
            return fail("document larger than " + std::to_string(opt_.maxBytes) + " bytes", 0,
                        kPropertyListReadTooLargeError);
        if (size_ < 8 + 1 + 32 || std::memcmp(d_, "bplist00", 8) != 0)
            return fail("not a binary property list", 0);
        const uint8_t* t = d_ + size_ - 32;
        offsetSize_ = t[6];
        refSize_ = t[7];
        uint64_t count = readBE(t + 8, 8);
        uint64_t top = readBE(t + 16, 8);
        uint64_t tableOffset = readBE(t + 24, 8);
        size_t trailerAt = size_ - 32;
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8)
            return fail("bad offset or reference size in trailer", trailerAt);
        if (count == 0 || top >= count) return fail("bad object count or root in trailer", trailerAt);
        // The offset table lies between the objects and the trailer.
        if (tableOffset < 9 || tableOffset > trailerAt ||
            count > (trailerAt - tableOffset) / offsetSize_)
            return fail("offset table does not fit in the file", trailerAt);
        if (count > opt_.maxObjects)
            return fail("more than " + std::to_string(opt_.maxObjects) + " objects", trailerAt,
                        kPropertyListReadTooLargeError);
        // References this wide could not name every object.
        if (refSize_ < 8 && (count - 1) >> (8 * refSize_)) return fail("reference size too small for the object count", trailerAt);
        objectsEnd_ = static_cast<size_t>(tableOffset);
        table_ = d_ + tableOffset;
        count_ = static_cast<size_t>(count);
        // Shared containers are copied when the result must be mutable, so a
        // small file could still describe a huge tree; cap what we make.
        budget_ = opt_.mutability == PropertyListMutability::Immutable
                      ? opt_.maxObjects
                      : std::min<size_t>(opt_.maxObjects, count_ * 8 + 65536);
        state_.assign(count_, kUnread);
        cache_.resize(count_);
        return object(static_cast<size_t>(top), 0);
    }

    // Offset of object `ref`, checked to lie in the object area.
    bool offsetOf(size_t ref, size_t& at) {
        uint64_t off = readBE(table_ + ref * offsetSize_, offsetSize_);
        if (off < 8 || off >= objectsEnd_) {
            fail("object " + std::to_string(ref) + " has offset outside the object area",
                 static_cast<size_t>(table_ - d_) + ref * offsetSize_);
            return false;
        }
        at = static_cast<size_t>(off);
        return true;
    }

    // Reads the length of a variable-size object: the marker's low nibble, or
    // when that is 15 an integer object that follows. `pos` moves past it.
    bool length(uint8_t marker, size_t& pos, uint64_t& n) {
        n = marker & 0x0F;
        if (n != 0x0F) return true;
        if (pos >= objectsEnd_) return fail("length runs past the object area", pos), false;
        uint8_t m = d_[pos];
        if ((m & 0xF0) != 0x10 || (m & 0x0F) > 3) return fail("malformed length", pos), false;
        size_t bytes = size_t(1) << (m & 0x0F);
        if (bytes > objectsEnd_ - pos - 1) return fail("length runs past the object area", pos), false;
        n = readBE(d_ + pos + 1, bytes);
        pos += 1 + bytes;
        return true;
    }

    // True when `n` items of `unit` bytes fit between pos and the object area's end.
    bool fits(size_t pos, uint64_t n, size_t unit) {
        if (pos > objectsEnd_ || n > (objectsEnd_ - pos) / unit) {
            fail("object extends past the object area", pos);
            return false;
        }
        return true;
    }

    bool countObject(size_t pos) {
        if (++made_ > budget_) {
            fail("more than " + std::to_string(budget_) + " values", pos, kPropertyListReadTooLargeError);
            return false;
        }
        return true;
    }

    Ref<Object> object(size_t ref, size_t depth) {
        if (state_[ref] == kDone && cache_[ref]) return cache_[ref];
        if (state_[ref] == kReading) return fail("object " + std::to_string(ref) + " contains itself", 0);
        size_t pos;
        if (!offsetOf(ref, pos)) return nullptr;
        if (!countObject(pos)) return nullptr;
        uint8_t marker = d_[pos];
        size_t start = pos++;
        bool leavesMutable = opt_.mutability == PropertyListMutability::MutableContainersAndLeaves;
        Ref<Object> result;
        switch (marker >> 4) {
            case 0x0:
                if (marker == 0x08 || marker == 0x09) {
                    result = Number::numberWithBool(marker == 0x09);
                    break;
                }
                return fail("unsupported marker 0x" + hex(marker), start);
            case 0x1: {  // integer of 1, 2, 4, 8 or 16 bytes
                size_t bytes = size_t(1) << (marker & 0x0F);
                if ((marker & 0x0F) > 4) return fail("integer wider than 16 bytes", start);
                if (!fits(pos, bytes, 1)) return nullptr;
                if (bytes == 16) {
                    uint64_t hi = readBE(d_ + pos, 8), lo = readBE(d_ + pos + 8, 8);
                    if (hi == 0) {
                        result = lo > uint64_t(INT64_MAX) ? Number::numberWithUnsignedLongLong(lo)
                                                          : Number::numberWithLongLong(static_cast<long long>(lo));
                    } else if (hi == UINT64_MAX && (lo >> 63)) {
                        result = Number::numberWithLongLong(static_cast<long long>(lo));
                    } else {
                        return fail("integer does not fit in 64 bits", start);
                    }
                } else {
                    uint64_t v = readBE(d_ + pos, bytes);
                    // 1, 2 and 4 bytes are unsigned; 8 bytes are two's complement.
                    result = Number::numberWithLongLong(static_cast<long long>(v));
                }
                break;
            }
            case 0x2: {  // real
                size_t bytes = size_t(1) << (marker & 0x0F);
                if (bytes != 4 && bytes != 8) return fail("real must have 4 or 8 bytes", start);
                if (!fits(pos, bytes, 1)) return nullptr;
                uint64_t bits = readBE(d_ + pos, bytes);
                if (bytes == 4) {
                    uint32_t b32 = static_cast<uint32_t>(bits);
                    float f;
                    std::memcpy(&f, &b32, 4);
                    result = Number::numberWithDouble(static_cast<double>(f));
                } else {
                    double v;
                    std::memcpy(&v, &bits, 8);
                    result = Number::numberWithDouble(v);
                }
                break;
            }
            case 0x3: {  // date
                if (marker != 0x33) return fail("unsupported marker 0x" + hex(marker), start);
                if (!fits(pos, 8, 1)) return nullptr;
                uint64_t bits = readBE(d_ + pos, 8);
                double v;
                std::memcpy(&v, &bits, 8);
                result = Date::dateWithTimeIntervalSinceReferenceDate(v);
                break;
            }
            case 0x4: {  // data
                uint64_t n;
                if (!length(marker, pos, n) || !fits(pos, n, 1)) return nullptr;
                if (leavesMutable) {
                    auto m = MutableData::make(static_cast<size_t>(n));
                    m->appendBytes(d_ + pos, static_cast<size_t>(n));
                    result = m;
                } else {
                    result = Data::make(d_ + pos, static_cast<size_t>(n));
                }
                break;
            }
            case 0x5: {  // ASCII string
                uint64_t n;
                if (!length(marker, pos, n) || !fits(pos, n, 1)) return nullptr;
                std::string_view s(reinterpret_cast<const char*>(d_ + pos), static_cast<size_t>(n));
                for (unsigned char c : s)
                    if (c >= 0x80) return fail("non-ASCII byte in an ASCII string", start);
                result = makeString(s, leavesMutable);
                break;
            }
            case 0x6: {  // UTF-16 big-endian string, length in code units
                uint64_t n;
                if (!length(marker, pos, n) || !fits(pos, n, 2)) return nullptr;
                std::u16string units(static_cast<size_t>(n), u'\0');
                for (size_t i = 0; i < n; ++i)
                    units[i] = static_cast<char16_t>((d_[pos + 2 * i] << 8) | d_[pos + 2 * i + 1]);
                std::string utf8;
                if (!utf16ToUTF8(units, utf8)) return fail("malformed UTF-16 string", start);
                result = makeString(utf8, leavesMutable);
                break;
            }
            case 0x8: {  // UID, as keyed archives use: {"CF$UID": n}
                size_t bytes = (marker & 0x0F) + 1u;
                if (bytes > 8) return fail("UID wider than 8 bytes", start);
                if (!fits(pos, bytes, 1)) return nullptr;
                uint64_t v = readBE(d_ + pos, bytes);
                result = Dictionary::make({{"CF$UID", Number::numberWithUnsignedLongLong(v)}});
                break;
            }
            case 0xA:    // array
            case 0xC: {  // set, read as an array
                uint64_t n;
                if (!length(marker, pos, n) || !fits(pos, n, refSize_)) return nullptr;
                result = array(ref, pos, static_cast<size_t>(n), depth);
                if (!result) return nullptr;
                break;
            }
            case 0xD: {  // dictionary: n key references, then n value references
                uint64_t n;
                if (!length(marker, pos, n) || !fits(pos, n, 2 * size_t(refSize_))) return nullptr;
                result = dict(ref, pos, static_cast<size_t>(n), depth);
                if (!result) return nullptr;
                break;
            }
            default:
                return fail("unsupported marker 0x" + hex(marker), start);
        }
        state_[ref] = kDone;
        // Containers are shared only when nobody may change them; shared
        // leaves are shared unless they are mutable too.
        bool container = (marker >> 4) == 0xA || (marker >> 4) == 0xC || (marker >> 4) == 0xD;
        bool shareable = opt_.mutability == PropertyListMutability::Immutable ||
                         (!container && !(leavesMutable && ((marker >> 4) == 0x4 || (marker >> 4) == 0x5 ||
                                                            (marker >> 4) == 0x6)));
        if (shareable) cache_[ref] = result;
        return result;
    }

    static std::string hex(uint8_t v) {
        static const char* digits = "0123456789abcdef";
        return std::string{digits[v >> 4], digits[v & 15]};
    }

    static Ref<Object> makeString(std::string_view s, bool mutableLeaf) {
        if (mutableLeaf) return MutableString::make(s);
        if (s.empty()) return String::empty();
        return String::make(s);
    }

    bool enter(size_t ref, size_t depth, size_t pos) {
        if (depth + 1 > opt_.maxDepth) {
            fail("nested deeper than " + std::to_string(opt_.maxDepth), pos, kPropertyListReadTooDeepError);
            return false;
        }
        state_[ref] = kReading;
        return true;
    }

    size_t refAt(size_t pos, size_t i) const { return static_cast<size_t>(readBE(d_ + pos + i * refSize_, refSize_)); }

    bool checkRef(size_t r, size_t pos) {
        if (r >= count_) {
            fail("reference " + std::to_string(r) + " past the object count", pos);
            return false;
        }
        return true;
    }

    Ref<Object> array(size_t ref, size_t pos, size_t n, size_t depth) {
        if (!enter(ref, depth, pos)) return nullptr;
        std::vector<Ref<Object>> items;
        items.reserve(n);  // bounded: n references fit in the object area
        for (size_t i = 0; i < n; ++i) {
            size_t r = refAt(pos, i);
            if (!checkRef(r, pos + i * refSize_)) return nullptr;
            Ref<Object> v = object(r, depth + 1);
            if (!v) return nullptr;
            items.push_back(std::move(v));
        }
        if (opt_.mutability != PropertyListMutability::Immutable) {
            auto a = MutableArray::make(n);
            for (auto& o : items) a->addObject(std::move(o));
            return a;
        }
        return Array::make(std::move(items));
    }

    Ref<Object> dict(size_t ref, size_t pos, size_t n, size_t depth) {
        if (!enter(ref, depth, pos)) return nullptr;
        std::vector<Dictionary::Entry> entries;
        entries.reserve(n);
        for (size_t i = 0; i < n; ++i) {
            size_t kr = refAt(pos, i), vr = refAt(pos, n + i);
            if (!checkRef(kr, pos + i * refSize_) || !checkRef(vr, pos + (n + i) * refSize_)) return nullptr;
            Ref<Object> k = object(kr, depth + 1);
            if (!k) return nullptr;
            if (!dynamic_cast<String*>(k.get())) return fail("dictionary key is not a string", pos + i * refSize_);
            Ref<Object> v = object(vr, depth + 1);
            if (!v) return nullptr;
            entries.emplace_back(std::move(k), std::move(v));
        }
        if (opt_.mutability != PropertyListMutability::Immutable) {
            auto d = MutableDictionary::make(n);
            for (auto& e : entries) d->setObjectForKey(std::move(e.second), std::move(e.first));
            return d;
        }
        return Dictionary::make(std::move(entries));
    }

    const uint8_t* d_;
    size_t size_;
    const PropertyListReadOptions& opt_;
    Ref<Error> error_;
    size_t offsetSize_ = 0, refSize_ = 0, count_ = 0, objectsEnd_ = 0;
    const uint8_t* table_ = nullptr;
    std::vector<uint8_t> state_;
    std::vector<Ref<Object>> cache_;
    size_t made_ = 0;
    size_t budget_ = 0;
};

}  // namespace

Ref<Object> readBinary(std::string_view bytes, const PropertyListReadOptions& options, Ref<Error>* error) {
    BinaryReader reader(bytes, options);
    return reader.run(error);
}

}  // namespace ns::plist
