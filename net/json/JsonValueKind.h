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
// threads). It is direct-mapped on the address of the class's type_info: a
// known class costs one comparison whose outcome the processor predicts,
// where searching a list would branch differently for every class.
class JsonValueKindCache {
public:
    JsonValueKind kindOf(const ns::Object* o) {
        if (!o) return JsonValueKind::Other;
        const std::type_info* type = &typeid(*o);
        const size_t slot = (reinterpret_cast<uintptr_t>(type) >> 4) & (kSlots - 1);
        if (types_[slot] == type) return kinds_[slot];
        JsonValueKind kind = classifyJsonValue(o);
        types_[slot] = type;
        kinds_[slot] = kind;
        return kind;
    }

private:
    static constexpr size_t kSlots = 16;
    const std::type_info* types_[kSlots] = {};
    JsonValueKind kinds_[kSlots] = {};
};

}  // namespace json
