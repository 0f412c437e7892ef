// Sorts objects into the kinds a JSON writer treats differently. The exact
// classes met are remembered, so most objects are classified by comparing one
// class identity instead of walking the class hierarchy with casts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <typeinfo>

#include "platform/foundation/Object.h"

namespace json {

// Decimal is an ns::DecimalNumber (a number that keeps its own text).
enum class JsonValueKind : uint8_t { Other, Dictionary, Array, String, Number, Decimal, Null };

// The kind of `o` found through the class hierarchy (nil is Other). The
// order of the tests decides for a class that is more than one kind.
JsonValueKind classifyJsonValue(const ns::Object* o);

// A small memo of exact class to kind; one per writer (not shared between
// threads).
class JsonValueKindCache {
public:
    JsonValueKind kindOf(const ns::Object* o) {
        if (!o) return JsonValueKind::Other;
        const std::type_info* type = &typeid(*o);
        for (size_t i = 0; i < used_; ++i)
            if (types_[i] == type) return kinds_[i];
        JsonValueKind kind = classifyJsonValue(o);
        if (used_ < kSlots) {
            types_[used_] = type;
            kinds_[used_++] = kind;
        }
        return kind;
    }

private:
    static constexpr size_t kSlots = 12;
    const std::type_info* types_[kSlots] = {};
    JsonValueKind kinds_[kSlots] = {};
    size_t used_ = 0;
};

}  // namespace json
